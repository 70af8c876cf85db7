#include "menus.h"

#include "forms.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

#include <algorithm>

TShortCut ShortCut(const std::string& text)
{
    const QKeySequence seq(QString::fromStdString(text));
    return seq.isEmpty() ? 0 : seq[0].toCombined();
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner)
{
    m_action = new QAction();
    QObject::connect(m_action, &QAction::triggered, [this](bool) { RunEventHandler([this] { Click(); }); });
}

TMenuItem::~TMenuItem()
{
    // Children may be owned by another component (the form); they stay alive
    // but leave this item.
    for (TMenuItem* child : m_items)
        child->m_parentItem = nullptr;
    if (m_parentItem) {
        auto& siblings = m_parentItem->m_items;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        m_parentItem->RebuildChildren();
    }
    delete m_subMenu;
    delete m_action;
}

void TMenuItem::SetCaption(const std::string& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    Changed();
}

void TMenuItem::SetChecked(bool checked)
{
    if (checked == m_checked)
        return;
    m_checked = checked;
    // Checking a radio item unchecks the others of its group.
    if (checked && m_radio && m_parentItem)
        for (TMenuItem* sib : m_parentItem->m_items)
            if (sib != this && sib->m_radio && sib->GroupIndex == GroupIndex && sib->m_checked) {
                sib->m_checked = false;
                sib->SyncAction();
            }
    SyncAction();
}

void TMenuItem::SetRadioItem(bool radio)
{
    m_radio = radio;
    SyncAction();
}

void TMenuItem::SetEnabled(bool enabled)
{
    m_enabled = enabled;
    SyncAction();
}

void TMenuItem::SetVisible(bool visible)
{
    m_visible = visible;
    SyncAction();
}

void TMenuItem::SetShortCut(TShortCut key)
{
    m_shortCut = key;
    SyncAction();
}

TMenuItem* TMenuItem::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EMenuError(Format("Menu index out of range (%d)", index));
    return m_items[static_cast<size_t>(index)];
}

int TMenuItem::MenuIndex() const
{
    if (!m_parentItem)
        return -1;
    const auto& s = m_parentItem->m_items;
    return static_cast<int>(std::find(s.begin(), s.end(), this) - s.begin());
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Insert(int index, TMenuItem* item)
{
    if (index < 0 || index > Count())
        throw EMenuError(Format("Menu index out of range (%d)", index));
    if (item->m_parentItem)
        item->m_parentItem->Remove(item);
    item->m_parentItem = this;
    m_items.insert(m_items.begin() + index, item);
    RebuildChildren();
}

void TMenuItem::Delete(int index)
{
    TMenuItem* item = Items(index);
    m_items.erase(m_items.begin() + index);
    item->m_parentItem = nullptr;
    delete item;
    RebuildChildren();
}

void TMenuItem::Remove(TMenuItem* item)
{
    const auto it = std::find(m_items.begin(), m_items.end(), item);
    if (it == m_items.end())
        return;
    m_items.erase(it);
    item->m_parentItem = nullptr;
    RebuildChildren();
}

void TMenuItem::Clear()
{
    while (!m_items.empty())
        Delete(Count() - 1);
}

TMenuItem* TMenuItem::Find(const std::string& caption) const
{
    auto plain = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '&'), s.end());
        return s;
    };
    for (TMenuItem* item : m_items)
        if (SameText(plain(item->Caption()), plain(caption)))
            return item;
    return nullptr;
}

void TMenuItem::Click()
{
    if (AutoCheck)
        SetChecked(!m_checked || m_radio);
    if (OnClick)
        OnClick(this);
}

QMenu* TMenuItem::SubMenu()
{
    if (!m_subMenu)
        m_subMenu = new QMenu();
    return m_subMenu;
}

void TMenuItem::AttachToMenuBar(QMenuBar* bar)
{
    m_bar = bar;
    RebuildChildren();
}

void TMenuItem::AttachToMenu(QMenu* menu)
{
    m_rootMenu = menu;
    RebuildChildren();
}

void TMenuItem::Changed()
{
    SyncAction();
    if (m_parentItem)
        m_parentItem->RebuildChildren();
}

void TMenuItem::SyncAction()
{
    // A separator with a text is a section heading to Qt's styles, which
    // would show the "-": the line has none.
    m_action->setText(IsLine() ? QString() : QString::fromStdString(m_caption));
    m_action->setSeparator(IsLine());
    m_action->setCheckable(m_checked || m_radio || AutoCheck);
    m_action->setChecked(m_checked);
    m_action->setEnabled(m_enabled);
    m_action->setVisible(m_visible);
    m_action->setShortcut(m_shortCut ? QKeySequence(m_shortCut) : QKeySequence());
    if (!m_items.empty())
        m_action->setMenu(SubMenu());
}

void TMenuItem::RebuildChildren()
{
    QWidget* target = m_bar ? static_cast<QWidget*>(m_bar) : m_rootMenu ? static_cast<QWidget*>(m_rootMenu) : nullptr;
    if (!target) {
        if (m_items.empty() && !m_subMenu)
            return;
        target = SubMenu();
    }
    for (QAction* a : target->actions())
        target->removeAction(a);
    for (TMenuItem* item : m_items) {
        item->SyncAction();
        target->addAction(item->m_action);
    }
    if (!m_bar && !m_rootMenu)
        SyncAction();
}

TMenu::TMenu(TComponent* owner) : TComponent(owner), m_items(new TMenuItem(nullptr)) {}

TMenu::~TMenu() { delete m_items; }

TMainMenu::TMainMenu(TComponent* owner) : TMenu(owner), m_bar(new QMenuBar())
{
    m_items->AttachToMenuBar(m_bar);
}

TMainMenu::~TMainMenu()
{
    QPointer<QMenuBar> guard(m_bar);
    delete m_items;
    m_items = nullptr;
    delete guard.data();
}

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner), m_menu(new QMenu())
{
    m_items->AttachToMenu(m_menu);
}

TPopupMenu::~TPopupMenu()
{
    delete m_items;
    m_items = nullptr;
    delete m_menu;
}

void TPopupMenu::Popup(int screenX, int screenY)
{
    if (OnPopup)
        OnPopup(this);
    m_menu->popup(QPoint(screenX, screenY));
}

TMenuItem* NewItem(TComponent* owner, const std::string& caption, TNotifyEvent onClick, const std::string& name)
{
    auto* item = new TMenuItem(owner);
    item->SetCaption(caption);
    item->OnClick = std::move(onClick);
    item->SetName(name);
    return item;
}
