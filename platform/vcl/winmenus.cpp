#include "winmenus.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

struct WinMenuItem {
    UINT flags = 0;
    UINT id = 0;
    HMENU sub = nullptr;
    std::string text;
    ULONG_PTR data = 0;  // an owner-drawn item's data
};

struct WinMenu {
    std::vector<WinMenuItem> items;
    // The Qt menu that shows this menu while it is tracked.
    QPointer<QMenu> shown;
};

namespace {

std::unordered_set<HMENU>& Menus()
{
    static std::unordered_set<HMENU> menus;
    return menus;
}

struct Track {
    HWND owner = 0;
    HMENU menu = nullptr;
    QPointer<QMenu> root;
};
Track* g_track = nullptr;

bool Valid(HMENU menu) { return menu && Menus().count(menu) > 0; }

// The item an MF_BYPOSITION / MF_BYCOMMAND reference names: its menu and index.
// By command the search goes into submenus, as the system's does.
bool Locate(HMENU menu, UINT item, UINT flags, HMENU& owner, size_t& index)
{
    if (!Valid(menu))
        return false;
    if (flags & MF_BYPOSITION) {
        if (item >= menu->items.size())
            return false;
        owner = menu;
        index = item;
        return true;
    }
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const WinMenuItem& it = menu->items[i];
        if (it.sub) {
            if (Locate(it.sub, item, flags, owner, index))
                return true;
        } else if (!(it.flags & MF_SEPARATOR) && it.id == item) {
            owner = menu;
            index = i;
            return true;
        }
    }
    return false;
}

void Destroy(HMENU menu)
{
    if (!Valid(menu))
        return;
    for (WinMenuItem& it : menu->items)
        if (it.sub)
            Destroy(it.sub);
    Menus().erase(menu);
    delete menu;
}

void SendToOwner(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (g_track && g_track->owner)
        SendMessage(g_track->owner, msg, wParam, lParam);
}

// WM_MENUSELECT for an item under the pointer: the command (or, for a
// submenu, its position) and its flags.
void ItemHovered(HMENU menu, QAction* action)
{
    if (!Valid(menu) || !action)
        return;
    const int pos = action->property("winPos").toInt();
    if (pos < 0 || static_cast<size_t>(pos) >= menu->items.size())
        return;
    const WinMenuItem& it = menu->items[static_cast<size_t>(pos)];
    UINT flags = (it.flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP)) | MF_HILITE;
    if (QApplication::mouseButtons() != Qt::NoButton)
        flags |= MF_MOUSESELECT;
    SendToOwner(WM_MENUSELECT, MAKEWPARAM(it.sub ? static_cast<UINT>(pos) : it.id, flags),
        reinterpret_cast<LPARAM>(menu));
}

void Fill(HMENU menu, QMenu* q);

// An owner-drawn item's action carries this text: a mark no caption has,
// then its position, so the menu style can tell which item Qt measures or
// paints (the style sees only the option, whose text is the action's).
constexpr QChar kOwnerDrawMark(u'\x01');

const WinMenuItem* OwnerDrawnItem(HMENU menu, const QStyleOption* option, size_t& position)
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (!item || !Valid(menu) || !item->text.startsWith(kOwnerDrawMark))
        return nullptr;
    bool ok = false;
    position = item->text.mid(1).section(QLatin1Char('\t'), 0, 0).toUInt(&ok);
    if (!ok || position >= menu->items.size() || !(menu->items[position].flags & MF_OWNERDRAW))
        return nullptr;
    return &menu->items[position];
}

HMENU MenuOf(const QWidget* widget);

constexpr int kCheckMarkRoom = 12;

// The style of tracked menus: owner-drawn items take the size the owner
// measures and are painted by the owner; every other item as the
// application's style paints it.
class OwnerDrawStyle final : public QProxyStyle {
public:
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
        const QWidget* widget) const override
    {
        size_t position = 0;
        const HMENU menu = MenuOf(widget);
        if (type == CT_MenuItem) {
            if (const WinMenuItem* it = OwnerDrawnItem(menu, option, position)) {
                MEASUREITEMSTRUCT mis;
                mis.CtlType = ODT_MENU;
                mis.itemID = it->id;
                mis.itemData = it->data;
                SendToOwner(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
                // The system adds the room of a check mark to the owner's width.
                return QSize(static_cast<int>(mis.itemWidth) + kCheckMarkRoom, static_cast<int>(mis.itemHeight));
            }
        }
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override
    {
        size_t position = 0;
        const HMENU menu = MenuOf(widget);
        if (element == CE_MenuItem) {
            if (const WinMenuItem* it = OwnerDrawnItem(menu, option, position)) {
                painter->save();
                TDrawContext dc;
                dc.Painter = painter;
                DRAWITEMSTRUCT dis;
                dis.CtlType = ODT_MENU;
                dis.itemID = it->id;
                dis.itemAction = ODA_DRAWENTIRE;
                if (option->state & State_Selected)
                    dis.itemState |= ODS_SELECTED;
                if (!(option->state & State_Enabled))
                    dis.itemState |= ODS_GRAYED;
                dis.hwndItem = reinterpret_cast<HWND>(menu);
                dis.hDC = &dc;
                const QRect r = option->rect;
                dis.rcItem = TRect {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
                dis.itemData = it->data;
                painter->setClipRect(r);
                SendToOwner(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis));
                painter->restore();
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

QStyle* MenuStyle()
{
    // Lives as long as the program: every tracked menu uses it.
    static QPointer<OwnerDrawStyle> style;
    if (!style) {
        style = new OwnerDrawStyle;
        style->setParent(qApp);
    }
    return style;
}

QAction* ActionAt(QMenu* q, size_t position)
{
    for (QAction* a : q->actions())
        if (a->property("winPos").toInt() == static_cast<int>(position))
            return a;
    return nullptr;
}

// A Qt menu showing one (sub)menu. A letter that no item's mnemonic takes
// is offered to the owner (WM_MENUCHAR): it closes the menu, runs or
// selects the item at a position, or is ignored.
class WinPopup final : public QMenu {
public:
    WinPopup(HMENU menu, const QString& title, QWidget* parent) : QMenu(title, parent), m_menu(menu)
    {
        setStyle(MenuStyle());
    }
    HMENU Menu() const { return m_menu; }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (OfferToOwner(e))
            return;
        QMenu::keyPressEvent(e);
    }

private:
    bool OfferToOwner(QKeyEvent* e)
    {
        const QString text = e->text();
        if (text.size() != 1 || !text[0].isPrint() || text[0].isSpace()
            || (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
            return false;
        // A mnemonic comes back as Alt and the letter; inside a menu the
        // letter alone takes it.
        const int typed = text[0].toUpper().unicode();
        for (QAction* a : actions()) {
            if (!a->isVisible() || a->text().startsWith(kOwnerDrawMark))
                continue;
            const QKeySequence mnemonic = QKeySequence::mnemonic(a->text());
            if (!mnemonic.isEmpty() && mnemonic[0].key() == typed)
                return false;
        }
        const LRESULT answer = g_track && g_track->owner
            ? SendMessage(g_track->owner, WM_MENUCHAR, MAKEWPARAM(text[0].unicode(), MF_POPUP),
                reinterpret_cast<LPARAM>(m_menu))
            : 0;
        switch (HIWORD(static_cast<std::uintptr_t>(answer))) {
        case MNC_CLOSE:
            EndMenu();
            return true;
        case MNC_EXECUTE:
        case MNC_SELECT:
            if (QAction* a = ActionAt(this, LOWORD(static_cast<std::uintptr_t>(answer)))) {
                setActiveAction(a);
                if (HIWORD(static_cast<std::uintptr_t>(answer)) == MNC_EXECUTE) {
                    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                    QMenu::keyPressEvent(&enter);
                }
            }
            return true;
        default:
            return true;  // ignored, as the system beeps and does nothing
        }
    }

    HMENU m_menu;
};

HMENU MenuOf(const QWidget* widget)
{
    const auto* popup = dynamic_cast<const WinPopup*>(widget);
    return popup ? popup->Menu() : nullptr;
}

// Before a (sub)menu shows, its owner may change it (WM_INITMENUPOPUP);
// the Qt menu is then built again from the items.
void Prepare(HMENU menu, QMenu* q, int position)
{
    SendToOwner(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(static_cast<UINT>(position), 0));
    if (Valid(menu))
        Fill(menu, q);
}

void Fill(HMENU menu, QMenu* q)
{
    q->clear();
    menu->shown = q;
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const WinMenuItem& it = menu->items[i];
        QAction* action;
        if (it.flags & MF_SEPARATOR) {
            action = q->addSeparator();
        } else if (it.sub) {
            auto* sub = new WinPopup(it.sub, QString::fromStdString(it.text), q);
            HMENU subMenu = it.sub;
            const int pos = static_cast<int>(i);
            QObject::connect(sub, &QMenu::aboutToShow, sub, [subMenu, sub, pos] { Prepare(subMenu, sub, pos); });
            QObject::connect(sub, &QMenu::hovered, sub, [subMenu](QAction* a) { ItemHovered(subMenu, a); });
            action = q->addMenu(sub);
            Fill(subMenu, sub);
        } else {
            const QString caption = (it.flags & MF_OWNERDRAW)
                ? QString(kOwnerDrawMark) + QString::number(static_cast<qulonglong>(i))
                : QString::fromStdString(it.text);
            action = q->addAction(caption);
            action->setData(static_cast<uint>(it.id));
            if (it.flags & MF_CHECKED) {
                action->setCheckable(true);
                action->setChecked(true);
            }
        }
        action->setProperty("winPos", static_cast<int>(i));
        action->setEnabled(!(it.flags & (MF_GRAYED | MF_DISABLED)));
        if (it.flags & MF_DEFAULT) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
        }
    }
}

bool Insert(HMENU menu, size_t at, UINT flags, UINT_PTR item, const char* text)
{
    if (!Valid(menu))
        return false;
    WinMenuItem it;
    it.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR | MF_DEFAULT | MF_OWNERDRAW);
    if (flags & MF_POPUP) {
        it.sub = reinterpret_cast<HMENU>(item);
        if (!Valid(it.sub) || it.sub == menu)
            return false;
    } else if (!(flags & MF_SEPARATOR)) {
        it.id = static_cast<UINT>(item);
    }
    if (flags & MF_OWNERDRAW)
        it.data = reinterpret_cast<ULONG_PTR>(text);
    else if (text && !(flags & MF_SEPARATOR))
        it.text = text;
    menu->items.insert(menu->items.begin() + static_cast<std::ptrdiff_t>(std::min(at, menu->items.size())), it);
    return true;
}

} // namespace

HMENU CreatePopupMenu()
{
    auto* menu = new WinMenu;
    Menus().insert(menu);
    return menu;
}

BOOL DestroyMenu(HMENU menu)
{
    if (!Valid(menu))
        return FALSE;
    Destroy(menu);
    return TRUE;
}

BOOL IsMenu(HMENU menu) { return Valid(menu) ? TRUE : FALSE; }

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR item, const char* text)
{
    return Insert(menu, static_cast<size_t>(-1), flags, item, text) ? TRUE : FALSE;
}

BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR item, const char* text)
{
    if (!Valid(menu))
        return FALSE;
    size_t at = menu->items.size();
    if (position != static_cast<UINT>(-1)) {
        if (flags & MF_BYPOSITION) {
            at = position;
        } else {
            HMENU owner = nullptr;
            size_t index = 0;
            if (!Locate(menu, position, MF_BYCOMMAND, owner, index))
                return FALSE;
            menu = owner;
            at = index;
        }
    }
    return Insert(menu, at, flags & ~MF_BYPOSITION, item, text) ? TRUE : FALSE;
}

BOOL RemoveMenu(HMENU menu, UINT item, UINT flags)
{
    HMENU owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, item, flags, owner, index))
        return FALSE;
    owner->items.erase(owner->items.begin() + static_cast<std::ptrdiff_t>(index));
    return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT item, UINT flags)
{
    HMENU owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, item, flags, owner, index))
        return FALSE;
    HMENU sub = owner->items[index].sub;
    owner->items.erase(owner->items.begin() + static_cast<std::ptrdiff_t>(index));
    Destroy(sub);
    return TRUE;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags)
{
    HMENU owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, item, flags, owner, index))
        return static_cast<BOOL>(-1);
    UINT& f = owner->items[index].flags;
    const UINT previous = f & (MF_GRAYED | MF_DISABLED);
    f = (f & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
    return static_cast<BOOL>(previous);
}

int GetMenuItemCount(HMENU menu) { return Valid(menu) ? static_cast<int>(menu->items.size()) : -1; }

UINT GetMenuItemID(HMENU menu, int position)
{
    if (!Valid(menu) || position < 0 || static_cast<size_t>(position) >= menu->items.size())
        return static_cast<UINT>(-1);
    const WinMenuItem& it = menu->items[static_cast<size_t>(position)];
    if (it.sub)
        return static_cast<UINT>(-1);
    return (it.flags & MF_SEPARATOR) ? 0 : it.id;
}

HMENU GetSubMenu(HMENU menu, int position)
{
    if (!Valid(menu) || position < 0 || static_cast<size_t>(position) >= menu->items.size())
        return nullptr;
    return menu->items[static_cast<size_t>(position)].sub;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags)
{
    HMENU owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, item, flags, owner, index))
        return static_cast<UINT>(-1);
    const WinMenuItem& it = owner->items[index];
    UINT hilite = 0;
    if (owner->shown && owner->shown->activeAction()
        && owner->shown->activeAction()->property("winPos").toInt() == static_cast<int>(index))
        hilite = MF_HILITE;
    if (it.sub)
        return (it.flags & 0xFF) | hilite | MF_POPUP
            | (static_cast<UINT>(std::min<size_t>(it.sub->items.size(), 0xFF)) << 8);
    return it.flags | hilite;
}

int GetMenuStringA(HMENU menu, UINT item, char* text, int size, UINT flags)
{
    HMENU owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, item, flags, owner, index))
        return 0;
    const std::string& s = owner->items[index].text;
    if (text && size > 0) {
        const size_t n = std::min(s.size(), static_cast<size_t>(size - 1));
        std::memcpy(text, s.data(), n);
        text[n] = 0;
        return static_cast<int>(n);
    }
    return static_cast<int>(s.size());
}

BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition)
{
    if (!Valid(menu))
        return FALSE;
    HMENU owner = nullptr;
    size_t index = 0;
    const bool found = item != static_cast<UINT>(-1)
        && Locate(menu, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND, owner, index) && owner == menu;
    if (item != static_cast<UINT>(-1) && !found)
        return FALSE;
    for (WinMenuItem& it : menu->items)
        it.flags &= ~MF_DEFAULT;
    if (found)
        menu->items[index].flags |= MF_DEFAULT;
    return TRUE;
}

UINT GetMenuDefaultItem(HMENU menu, UINT byPosition, UINT flags)
{
    if (!Valid(menu))
        return static_cast<UINT>(-1);
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const WinMenuItem& it = menu->items[i];
        if (!(it.flags & MF_DEFAULT))
            continue;
        if ((it.flags & (MF_GRAYED | MF_DISABLED)) && !(flags & GMDI_USEDISABLED))
            return static_cast<UINT>(-1);
        return byPosition ? static_cast<UINT>(i) : (it.sub ? static_cast<UINT>(-1) : it.id);
    }
    return static_cast<UINT>(-1);
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const void*)
{
    if (!Valid(menu) || g_track)
        return FALSE;
    Track track;
    track.owner = owner;
    track.menu = menu;
    g_track = &track;
    auto root = std::make_unique<WinPopup>(menu, QString(), nullptr);
    track.root = root.get();
    QObject::connect(root.get(), &QMenu::hovered, root.get(), [menu](QAction* a) { ItemHovered(menu, a); });
    QMenu* raw = root.get();
    QObject::connect(raw, &QMenu::aboutToShow, raw, [menu, raw] { Prepare(menu, raw, 0); });
    Fill(menu, raw);
    QAction* chosen = raw->exec(QPoint(x, y));
    const UINT command = chosen && chosen->data().isValid() ? chosen->data().toUInt() : 0;
    // The menu has closed: the owner hears of it as the system tells it.
    SendToOwner(WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    g_track = nullptr;
    root.reset();
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(command);
    if (command && !(flags & TPM_NONOTIFY) && owner)
        PostMessage(owner, WM_COMMAND, command, 0);
    return TRUE;
}

BOOL EndMenu()
{
    if (!g_track || !g_track->root)
        return FALSE;
    // Submenus close with their root.
    g_track->root->close();
    return TRUE;
}

void GetMenuFont(TFont& font) { font.FromQFont(QApplication::font("QMenu")); }

int GetMenuLineHeight()
{
    // As the system's SM_CYMENU: the font's line with a little room.
    return QFontMetrics(QApplication::font("QMenu")).height() + 4;
}

HMENU TrackedMenu() { return g_track ? g_track->menu : nullptr; }

QMenu* MenuWidget(HMENU menu) { return Valid(menu) ? menu->shown.data() : nullptr; }
