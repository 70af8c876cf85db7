#include "treeview.h"
#include "dragstart_p.h"

#include "scrollstep_p.h"
#include "shell/shellicons_qt.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <algorithm>

struct TCustomTreeView::Paint {
    LRESULT prepaint = 0;
};

// Announces clicks before the view acts on them and starts each paint with
// the pre-paint notification.
class TreeViewportFilter : public QObject {
public:
    explicit TreeViewportFilter(TCustomTreeView* c) : control(c) {}
    bool eventFilter(QObject* viewport, QEvent* e) override
    {
        if (dragStart.Watch(*control, viewport, e))
            return true;
        switch (e->type()) {
        case QEvent::Paint: {
            control->m_paint->prepaint = SendPrePaint<NMTVCUSTOMDRAW>(*control);
            return false;
        }
        case QEvent::Resize:
            KeepSelectedInView(static_cast<QResizeEvent*>(e)->oldSize());
            return false;
        case QEvent::MouseButtonPress: {
            auto* m = static_cast<QMouseEvent*>(e);
            const QPoint p = m->position().toPoint();
            const QPoint c = control->TreeWidget()->viewport()->mapTo(control->TreeWidget(), p);
            if (m->button() == Qt::LeftButton)
                Notify(NM_CLICK, c);
            control->MouseDown(m->button() == Qt::LeftButton ? mbLeft : m->button() == Qt::RightButton ? mbRight : mbMiddle,
                ShiftStateFromQt(m->modifiers(), m->buttons()), p.x(), p.y());
            // The right button selects nothing when pressed: it may start a
            // drag of the node under it, and its click comes with the release.
            return m->button() == Qt::RightButton;
        }
        case QEvent::MouseButtonRelease: {
            auto* m = static_cast<QMouseEvent*>(e);
            const QPoint c = control->TreeWidget()->viewport()->mapTo(control->TreeWidget(), m->position().toPoint());
            // A right click is a press and release that started no drag, as
            // on the desktop: it selects the node with RightClickSelect and
            // is announced (the shell tree's menu opens then).
            if (m->button() == Qt::RightButton && !dragStart.Started()) {
                if (control->RightClickSelect)
                    if (TTreeNode* node = control->GetNodeAt(c.x(), c.y()))
                        control->SetSelected(node);
                Notify(NM_RCLICK, c);
            }
            control->MouseUp(m->button() == Qt::LeftButton ? mbLeft : m->button() == Qt::RightButton ? mbRight : mbMiddle,
                ShiftStateFromQt(m->modifiers(), m->buttons()), c.x(), c.y());
            return m->button() == Qt::RightButton;
        }
        case QEvent::MouseButtonDblClick:
            control->DblClick();
            return false;
        default:
            return false;
        }
    }
    void Notify(UINT code, QPoint client)
    {
        NMMOUSE_PT nm;
        nm.hdr.hwndFrom = control->Handle();
        nm.hdr.code = code;
        nm.pt = Point(client.x(), client.y());
        control->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
    }
    // A window that gets its final size after the selected node was scrolled
    // into view (the window manager's frame, a scroll bar that appears) would
    // leave that node cut at the bottom edge: a node that was wholly in view
    // before the viewport shrank is brought back into view once the view has
    // laid itself out for the new size.
    void KeepSelectedInView(const QSize& oldSize)
    {
        QTreeWidget* tree = control->TreeWidget();
        QTreeWidgetItem* current = tree->currentItem();
        if (!current || !oldSize.isValid())
            return;
        const QRect r = tree->visualItemRect(current);
        if (r.isEmpty() || r.top() < 0 || r.bottom() >= oldSize.height())
            return;
        QTimer::singleShot(0, tree, [tree, current] {
            if (tree->currentItem() != current)
                return;
            const QRect now = tree->visualItemRect(current);
            if (!now.isEmpty() && (now.top() < 0 || now.bottom() >= tree->viewport()->height()))
                tree->scrollToItem(current);
        });
    }
    TCustomTreeView* control;
    DragStartDetector dragStart {TVN_BEGINDRAG, TVN_BEGINRDRAG};
};

// Paints nodes after asking the control how.
class TreeDrawDelegate : public QStyledItemDelegate {
public:
    TreeDrawDelegate(TCustomTreeView* c, QObject* parent) : QStyledItemDelegate(parent), control(c) {}
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        TTreeNode* node = TCustomTreeView::NodeOf(control->TreeWidget()->itemFromIndex(index));
        ShowDropTarget(*option, node);
        if (!node || !control->Images)
            return;
        const bool selected = option->state & QStyle::State_Selected;
        const int image = selected ? node->SelectedIndex : node->ImageIndex;
        if (image < 0)
            return;
        option->icon = ShellImageListIcon(control->Images, image, static_cast<UINT>(node->OverlayIndex + 1));
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->decorationSize = QSize(16, 16);
    }
    // While a drag shows a node as its target, that node looks selected and
    // the selected one does not.
    void ShowDropTarget(QStyleOptionViewItem& option, TTreeNode* node) const
    {
        if (!control->m_dropTarget)
            return;
        if (node == control->m_dropTarget)
            option.state |= QStyle::State_Selected;
        else
            option.state &= ~QStyle::State_Selected;
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& optionIn, const QModelIndex& index) const override
    {
        TTreeNode* node = index.isValid() ? TCustomTreeView::NodeOf(control->TreeWidget()->itemFromIndex(index)) : nullptr;
        QStyleOptionViewItem option(optionIn);
        ShowDropTarget(option, node);
        if (node) {
            // Images are asked for when a node is first drawn.
            control->GetImageIndex(node);
            control->GetSelectedIndex(node);
        }
        QStyleOptionViewItem opt(option);
        if (node && node->Cut)
            opt.state &= ~QStyle::State_Enabled;
        if (!node || !(control->m_paint->prepaint & CDRF_NOTIFYITEMDRAW)) {
            QStyledItemDelegate::paint(painter, opt, index);
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        TDrawContext dc;
        dc.Painter = painter;
        dc.Font.Assign(control->Font());
        dc.TextColor = FromQColor(option.palette.color(QPalette::Text));
        dc.BkColor = FromQColor(option.palette.color(QPalette::Base));
        NMTVCUSTOMDRAW nm;
        nm.nmcd.hdr.hwndFrom = control->Handle();
        nm.nmcd.hdr.code = NM_CUSTOMDRAW;
        nm.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        nm.nmcd.hdc = &dc;
        const QRect r = option.rect;
        nm.nmcd.rc = Rect(r.left(), r.top(), r.right() + 1, r.bottom() + 1);
        nm.nmcd.dwItemSpec = reinterpret_cast<ULONG_PTR>(node);
        nm.nmcd.uItemState = selected ? CDIS_SELECTED : 0;
        nm.nmcd.lItemlParam = reinterpret_cast<LPARAM>(node->Data);
        nm.clrText = dc.TextColor;
        nm.clrTextBk = dc.BkColor;
        nm.iLevel = node->Level();
        const COLORREF defaultText = nm.clrText, defaultBk = nm.clrTextBk;
        const LRESULT answer = control->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
        if (answer & CDRF_SKIPDEFAULT)
            return;
        if (answer & CDRF_NEWFONT)
            opt.font = dc.Font.ToQFont();
        if (!selected) {
            if (nm.clrText != defaultText) {
                opt.palette.setColor(QPalette::Text, ToQColor(nm.clrText));
                opt.palette.setColor(QPalette::WindowText, ToQColor(nm.clrText));
            }
            if (nm.clrTextBk != defaultBk)
                painter->fillRect(option.rect, ToQColor(nm.clrTextBk));
        }
        QStyledItemDelegate::paint(painter, opt, index);
        if (answer & CDRF_NOTIFYPOSTPAINT) {
            nm.nmcd.dwDrawStage = CDDS_ITEMPOSTPAINT;
            control->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
        }
    }
    TCustomTreeView* control;
};

TCustomTreeView::TCustomTreeView(TComponent* owner) : TWinControl(owner), m_paint(std::make_unique<Paint>())
{
    auto* tree = new QTreeWidget();
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setItemDelegate(new TreeDrawDelegate(this, tree));
    tree->setUniformRowHeights(true);
    tree->setExpandsOnDoubleClick(true);
    tree->setContextMenuPolicy(Qt::PreventContextMenu);
    SetWidget(tree);
    m_viewportFilter = std::make_unique<TreeViewportFilter>(this);
    tree->viewport()->installEventFilter(m_viewportFilter.get());
    QObject::connect(tree, &QTreeWidget::currentItemChanged,
        [this](QTreeWidgetItem* current, QTreeWidgetItem*) { CurrentChanged(current); });
    QObject::connect(tree, &QTreeWidget::itemExpanded, [this](QTreeWidgetItem* item) { ItemExpanded(item); });
}

TCustomTreeView::~TCustomTreeView()
{
    m_destroying = true;
    if (QTreeWidget* tree = TreeWidget()) {
        tree->viewport()->removeEventFilter(m_viewportFilter.get());
        tree->blockSignals(true);
    }
}

QTreeWidget* TCustomTreeView::TreeWidget() const { return static_cast<QTreeWidget*>(Widget()); }

void TCustomTreeView::SetHideSelection(bool on)
{
    m_hideSelection = on;
    SetSelectionHiddenWithoutFocus(TreeWidget(), on);
}

TTreeNode* TCustomTreeView::NodeOf(QTreeWidgetItem* item)
{
    return item ? static_cast<TTreeNode*>(item->data(0, Qt::UserRole).value<void*>()) : nullptr;
}

TTreeNode* TCustomTreeView::AddChild(TTreeNode* parent, const std::string& text)
{
    auto node = std::make_unique<TTreeNode>();
    TTreeNode* raw = node.get();
    raw->m_parent = parent;
    raw->m_tree = this;
    raw->m_text = text;
    raw->m_item = parent ? new QTreeWidgetItem(parent->m_item) : new QTreeWidgetItem(TreeWidget());
    raw->m_item->setText(0, QString::fromStdString(text));
    raw->m_item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(raw)));
    raw->m_item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    auto& list = parent ? parent->m_children : m_roots;
    raw->m_siblings = &list;
    list.push_back(std::move(node));
    return raw;
}

int TCustomTreeView::NodeCount() const
{
    int n = 0;
    std::function<void(const std::vector<std::unique_ptr<TTreeNode>>&)> walk = [&](const auto& list) {
        for (const auto& c : list) {
            ++n;
            walk(c->m_children);
        }
    };
    walk(m_roots);
    return n;
}

void TCustomTreeView::DeleteChildren(TTreeNode* node)
{
    while (!node->m_children.empty())
        DeleteNode(node->m_children.back().get());
}

void TCustomTreeView::SetDropTarget(TTreeNode* node)
{
    if (node == m_dropTarget)
        return;
    m_dropTarget = node;
    TreeWidget()->viewport()->update();
}

bool TCustomTreeView::ScrollByLine(int horizontal, int vertical)
{
    return ScrollAreaByLine(TreeWidget(), horizontal, vertical);
}

void TCustomTreeView::Detach(TTreeNode* node)
{
    if (m_dropTarget && m_dropTarget->HasAsParent(node))
        m_dropTarget = nullptr;
    // The selection leaves a deleted node the way the system's tree moves it:
    // to the next sibling, else the previous one, else the parent.
    if (m_selected && m_selected->HasAsParent(node)) {
        TTreeNode* next = node->GetNextSibling();
        if (!next)
            next = node->GetPrevSibling();
        if (!next)
            next = node->Parent();
        m_selected = nullptr;
        if (!m_destroying)
            SetSelected(next);
    }
}

void TCustomTreeView::DeleteNode(TTreeNode* node)
{
    if (!node)
        return;
    if (m_kept.top && m_kept.top->HasAsParent(node))
        m_kept.top = nullptr;
    Detach(node);
    DeleteChildren(node);
    Delete(node);
    auto& list = *node->m_siblings;
    const bool wasCurrentBlocked = TreeWidget()->signalsBlocked();
    TreeWidget()->blockSignals(true);
    delete node->m_item;
    TreeWidget()->blockSignals(wasCurrentBlocked);
    list.erase(std::find_if(list.begin(), list.end(), [node](const auto& p) { return p.get() == node; }));
}

void TCustomTreeView::ClearNodes()
{
    SetSelected(nullptr);
    while (!m_roots.empty())
        DeleteNode(m_roots.back().get());
}

void TCustomTreeView::BeginUpdate()
{
    if (m_updateLevel++ == 0)
        TreeWidget()->setUpdatesEnabled(false);
}

void TCustomTreeView::EndUpdate()
{
    if (m_updateLevel > 0 && --m_updateLevel == 0)
        TreeWidget()->setUpdatesEnabled(true);
}

void TCustomTreeView::SetSelected(TTreeNode* node)
{
    if (node == m_selected)
        return;
    TreeWidget()->setCurrentItem(node ? node->m_item : nullptr);
    // Qt keeps no current item for nullptr only when the tree allows it.
    if (!node && m_selected)
        CurrentChanged(nullptr);
}

void TCustomTreeView::CurrentChanged(QTreeWidgetItem* current)
{
    TTreeNode* node = NodeOf(current);
    if (node == m_selected || m_destroying)
        return;
    m_selected = node;
    if (node)
        node->m_item->setSelected(true);
    else
        TreeWidget()->clearSelection();
    if (!m_silentSelect)
        Change(node);
}

void TCustomTreeView::SetHasChildren(TTreeNode* node, bool hasChildren)
{
    if (!node)
        return;
    node->m_hasChildren = hasChildren;
    node->m_item->setChildIndicatorPolicy(
        hasChildren ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool TCustomTreeView::Expanded(const TTreeNode* node) const { return node && node->m_item->isExpanded(); }

void TCustomTreeView::Expand(TTreeNode* node, bool recursive)
{
    if (!node)
        return;
    if (!node->m_item->isExpanded()) {
        if (!CanExpand(node))
            return;
        m_expanding = true;
        node->m_item->setExpanded(true);
        m_expanding = false;
        Expanded_(node);
    }
    if (recursive)
        for (int i = 0; i < node->Count(); ++i)
            Expand(node->Item(i), true);
}

void TCustomTreeView::ItemExpanded(QTreeWidgetItem* item)
{
    if (m_expanding)
        return;
    TTreeNode* node = NodeOf(item);
    if (!node)
        return;
    // The user opened the node: it stays open only when CanExpand allows it.
    bool allowed = false;
    try {
        allowed = CanExpand(node);
    } catch (...) {
        m_expanding = true;
        item->setExpanded(false);
        m_expanding = false;
        throw;
    }
    if (!allowed) {
        m_expanding = true;
        item->setExpanded(false);
        m_expanding = false;
        return;
    }
    Expanded_(node);
}

void TCustomTreeView::Collapse(TTreeNode* node)
{
    if (node)
        node->m_item->setExpanded(false);
}

void TCustomTreeView::SortChildren(TTreeNode* parent, const std::function<int(TTreeNode*, TTreeNode*)>& compare,
    bool recursive)
{
    auto& list = parent ? parent->m_children : m_roots;
    std::vector<TTreeNode*> before;
    before.reserve(list.size());
    for (auto& child : list)
        before.push_back(child.get());
    std::stable_sort(list.begin(), list.end(),
        [&compare](const auto& a, const auto& b) { return compare(a.get(), b.get()) < 0; });
    bool moved = false;
    for (size_t i = 0; i < list.size() && !moved; ++i)
        moved = list[i].get() != before[i];
    if (moved)
        ReorderItems(parent);
    if (recursive)
        for (auto& child : list)
            SortChildren(child.get(), compare, true);
}

void TCustomTreeView::ReorderItems(TTreeNode* parent)
{
    auto& list = parent ? parent->m_children : m_roots;
    QTreeWidget* tree = TreeWidget();
    const bool blocked = tree->signalsBlocked();
    tree->blockSignals(true);
    // Taking items out of the view forgets which of them were open and which
    // was current: note both first and give them back afterwards.
    std::vector<TTreeNode*> open;
    std::function<void(TTreeNode*)> noteOpen = [&](TTreeNode* n) {
        if (n->m_item->isExpanded())
            open.push_back(n);
        for (auto& c : n->m_children)
            noteOpen(c.get());
    };
    for (auto& child : list)
        noteOpen(child.get());
    QTreeWidgetItem* current = tree->currentItem();
    if (parent) {
        const QList<QTreeWidgetItem*> taken = parent->m_item->takeChildren();
        (void)taken;
        for (auto& child : list)
            parent->m_item->addChild(child->m_item);
    } else {
        while (tree->topLevelItemCount() > 0)
            tree->takeTopLevelItem(0);
        for (auto& root : list)
            tree->addTopLevelItem(root->m_item);
    }
    for (TTreeNode* n : open)
        n->m_item->setExpanded(true);
    if (current && tree->currentItem() != current)
        tree->setCurrentItem(current);
    tree->blockSignals(blocked);
}

void TCustomTreeView::KeepScrollPosition()
{
    QTreeWidget* tree = TreeWidget();
    QTreeWidgetItem* top = tree->itemAt(0, 0);
    m_kept.top = NodeOf(top);
    m_kept.topY = top ? tree->visualItemRect(top).top() : 0;
    m_kept.vertical = tree->verticalScrollBar()->value();
    m_kept.horizontal = tree->horizontalScrollBar()->value();
}

void TCustomTreeView::RestoreScrollPosition()
{
    QTreeWidget* tree = TreeWidget();
    QScrollBar* vbar = tree->verticalScrollBar();
    // The node of the first row goes back to it; when it has gone, the
    // scroll bar goes back to its old value.
    const QRect r = m_kept.top ? tree->visualItemRect(m_kept.top->m_item) : QRect();
    if (r.height() > 0) {
        const int delta = r.top() - m_kept.topY;
        const bool perItem = tree->verticalScrollMode() == QAbstractItemView::ScrollPerItem;
        vbar->setValue(vbar->value() + (perItem ? delta / r.height() : delta));
    } else {
        vbar->setValue(m_kept.vertical);
    }
    tree->horizontalScrollBar()->setValue(m_kept.horizontal);
    m_kept = {};
}

void TCustomTreeView::MakeVisible(TTreeNode* node)
{
    if (node)
        TreeWidget()->scrollToItem(node->m_item);
}

TRect TCustomTreeView::NodeRect(const TTreeNode* node, bool textOnly) const
{
    if (!node)
        return {};
    QTreeWidget* tree = TreeWidget();
    QRect r = tree->visualItemRect(node->m_item);
    if (!textOnly) {
        r.setLeft(0);
        r.setRight(tree->viewport()->width() - 1);
    }
    r.moveTopLeft(tree->viewport()->mapTo(tree, r.topLeft()));
    return Rect(r.left(), r.top(), r.right() + 1, r.bottom() + 1);
}

TTreeNode* TCustomTreeView::GetNodeAt(int x, int y) const
{
    QTreeWidget* tree = TreeWidget();
    return NodeOf(tree->itemAt(tree->viewport()->mapFrom(tree, QPoint(x, y))));
}

void TCustomTreeView::InvalidateNode(TTreeNode* node)
{
    if (!node)
        return;
    QTreeWidget* tree = TreeWidget();
    tree->viewport()->update(tree->visualItemRect(node->m_item));
}

void TCustomTreeView::SetShowRoot(bool on)
{
    m_showRoot = on;
    TreeWidget()->setRootIsDecorated(on);
}

void TCustomTreeView::PaintTo(TBitmap& bitmap)
{
    QWidget* w = Widget();
    bitmap.SetSize(std::max(1, w->width()), std::max(1, w->height()));
    w->render(&bitmap.Image());
}

bool TCustomTreeView::CanExpand(TTreeNode* node)
{
    bool allow = true;
    if (OnExpanding)
        OnExpanding(this, node, allow);
    return allow;
}

void TCustomTreeView::Expanded_(TTreeNode* node)
{
    if (OnExpanded)
        OnExpanded(this, node);
}

void TCustomTreeView::Change(TTreeNode* node)
{
    if (OnChange)
        OnChange(this, node);
}

void TCustomTreeView::Delete(TTreeNode* node)
{
    if (OnDeletion)
        OnDeletion(this, node);
}

void TCustomTreeView::GetImageIndex(TTreeNode* node)
{
    if (OnGetImageIndex)
        OnGetImageIndex(this, node);
}

void TCustomTreeView::GetSelectedIndex(TTreeNode* node)
{
    if (OnGetSelectedIndex)
        OnGetSelectedIndex(this, node);
}

void TCustomTreeView::WndProc(TMessage& message)
{
    if (message.Msg == CN_NOTIFY) {
        const auto* hdr = reinterpret_cast<const NMHDR*>(message.LParam);
        message.Result = 0;
        if (hdr && hdr->code == NM_CLICK)
            Click();
        return;
    }
    TWinControl::WndProc(message);
}

bool TCustomTreeView::HandleEvent(QEvent* event)
{
    // Clicks come through the viewport (announced as NM_CLICK there).
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return false;
    default:
        return TWinControl::HandleEvent(event);
    }
}
