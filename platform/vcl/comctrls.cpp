#include "comctrls.h"

#include "listviewdelegate.h"
#include "scrollstep_p.h"
#include "menus.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <functional>

// ---- Tool bars -------------------------------------------------------------

namespace {
class ToolBarWidget : public QFrame {
public:
    ToolBarWidget()
    {
        layout = new QHBoxLayout(this);
        layout->setContentsMargins(2, 1, 2, 1);
        layout->setSpacing(1);
        layout->addStretch(1);
    }
    QHBoxLayout* layout;
};

// A tool button that lets its owner attach the drop-down menu before Qt
// decides what a press does: Qt opens the menu of a press on the arrow only
// when the button already has one.
class ToolButtonWidget : public QToolButton {
public:
    std::function<void()> beforePress;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (beforePress)
            beforePress();
        QToolButton::mousePressEvent(event);
    }
};
}

TToolBar::TToolBar(TComponent* owner) : TWinControl(owner)
{
    SetWidget(new ToolBarWidget());
    SetAlign(alTop);
    SetBounds(0, 0, 200, 29);
}

void TToolBar::ControlInserted(TControl* control)
{
    auto* bar = static_cast<ToolBarWidget*>(Widget());
    // A box on a tool bar keeps the width it was given.
    if (!dynamic_cast<TToolButton*>(control))
        control->Widget()->setFixedWidth(control->Width());
    bar->layout->insertWidget(bar->layout->count() - 1, control->Widget());
}

TToolButton::TToolButton(TComponent* owner) : TControl(owner)
{
    auto* b = new ToolButtonWidget();
    b->beforePress = [this] { AttachDropdownMenu(); };
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    SetWidget(b);
    m_widgetClicks = true;
    QObject::connect(b, &QToolButton::clicked, [this](bool) { Click(); });
}

QToolButton* TToolButton::Button() const { return static_cast<QToolButton*>(Widget()); }

void TToolButton::SetStyle(TToolButtonStyle style)
{
    m_style = style;
    QToolButton* b = Button();
    const bool separator = style == TToolButtonStyle::tbsSeparator || style == TToolButtonStyle::tbsDivider;
    b->setCheckable(style == TToolButtonStyle::tbsCheck);
    b->setPopupMode(style == TToolButtonStyle::tbsDropDown ? QToolButton::MenuButtonPopup : QToolButton::DelayedPopup);
    if (separator) {
        b->setEnabled(false);
        b->setFixedWidth(8);
        b->setText("|");
    }
}

bool TToolButton::Down() const { return m_down; }

void TToolButton::SetDown(bool down)
{
    m_down = down;
    Button()->setCheckable(true);
    Button()->setChecked(down);
    // Grouped check buttons behave as radio buttons.
    if (down && Grouped && Parent())
        for (int i = 0; i < Parent()->ControlCount(); ++i)
            if (auto* other = dynamic_cast<TToolButton*>(Parent()->Controls(i)))
                if (other != this && other->Grouped && other->m_down)
                    other->SetDown(false);
}

void TToolButton::Click()
{
    if (m_style == TToolButtonStyle::tbsCheck)
        SetDown(Grouped ? true : !m_down);
    else if (Button()->isCheckable())
        Button()->setChecked(m_down);
    AttachDropdownMenu();
    if (OnClick)
        OnClick(this);
}

void TToolButton::AttachDropdownMenu()
{
    if (m_style != TToolButtonStyle::tbsDropDown)
        return;
    QMenu* menu = DropdownMenu ? DropdownMenu->Menu() : nullptr;
    if (Button()->menu() != menu)
        Button()->setMenu(menu);
}

void TToolButton::CaptionChanged()
{
    if (m_style != TToolButtonStyle::tbsSeparator && m_style != TToolButtonStyle::tbsDivider)
        Button()->setText(QString::fromStdString(Caption()));
}

// ---- Status bar ------------------------------------------------------------

namespace {
class StatusBarWidget : public QWidget {
public:
    explicit StatusBarWidget(TStatusBar* b) : bar(b) {}
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), ToQColor(clBtnFace));
        p.setPen(ToQColor(clBtnText));
        if (bar->SimplePanel) {
            p.drawText(rect().adjusted(4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                QString::fromStdString(bar->SimpleText));
            return;
        }
        int x = 0;
        for (int i = 0; i < bar->PanelCount(); ++i) {
            const TStatusPanel& panel = bar->Panel(i);
            // The last panel takes the rest of the bar.
            const int w = i + 1 == bar->PanelCount() ? std::max(panel.Width, width() - x) : panel.Width;
            const QRect r(x, 1, w - 2, height() - 2);
            p.setPen(ToQColor(clBtnShadow));
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setPen(ToQColor(clBtnText));
            p.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                QString::fromStdString(panel.Text));
            x += w;
        }
    }
    TStatusBar* bar;
};
}

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner)
{
    SetWidget(new StatusBarWidget(this));
    SetAlign(alBottom);
    SetBounds(0, 0, 200, 19);
}

void TStatusBar::SetPanelCount(int count)
{
    m_panels.resize(static_cast<size_t>(std::max(0, count)));
    Repaint();
}

void TStatusBar::SetPanelText(int index, const std::string& text)
{
    m_panels.at(static_cast<size_t>(index)).Text = text;
    Repaint();
}

void TStatusBar::SetPanelWidth(int index, int width)
{
    m_panels.at(static_cast<size_t>(index)).Width = width;
    Repaint();
}

void TStatusBar::Repaint() { Widget()->update(); }

// ---- Page control ----------------------------------------------------------

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner) { SetWidget(new QWidget()); }

void TTabSheet::SetPageControl(TPageControl* pageControl)
{
    if (pageControl == m_pageControl)
        return;
    if (m_pageControl)
        m_pageControl->RemovePage(this);
    m_pageControl = pageControl;
    if (pageControl)
        pageControl->AddPage(this);
}

int TTabSheet::PageIndex() const
{
    if (!m_pageControl)
        return -1;
    const auto& pages = m_pageControl->m_pages;
    return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TTabSheet::CaptionChanged()
{
    if (m_pageControl)
        m_pageControl->RenamePage(this);
}

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner)
{
    auto* tabs = new QTabWidget();
    SetWidget(tabs);
    QObject::connect(tabs, &QTabWidget::currentChanged, [this](int) {
        if (!m_silent && OnChange)
            OnChange(this);
    });
}

QTabWidget* TPageControl::Tabs() const { return static_cast<QTabWidget*>(Widget()); }

void TPageControl::AddPage(TTabSheet* page)
{
    m_silent = true;
    m_pages.push_back(page);
    // The tab widget shows the current page and hides the others itself.
    Tabs()->addTab(page->Widget(), QString::fromStdString(page->Caption()));
    m_silent = false;
}

void TPageControl::RemovePage(TTabSheet* page)
{
    m_silent = true;
    Tabs()->removeTab(Tabs()->indexOf(page->Widget()));
    m_pages.erase(std::remove(m_pages.begin(), m_pages.end(), page), m_pages.end());
    m_silent = false;
}

void TPageControl::RenamePage(TTabSheet* page)
{
    Tabs()->setTabText(Tabs()->indexOf(page->Widget()), QString::fromStdString(page->Caption()));
}

TTabSheet* TPageControl::ActivePage() const
{
    const int i = ActivePageIndex();
    return i >= 0 ? m_pages[static_cast<size_t>(i)] : nullptr;
}

int TPageControl::ActivePageIndex() const
{
    QWidget* current = Tabs()->currentWidget();
    for (size_t i = 0; i < m_pages.size(); ++i)
        if (m_pages[i]->Widget() == current)
            return static_cast<int>(i);
    return -1;
}

void TPageControl::SetActivePage(TTabSheet* page)
{
    // A program's own page change does not fire OnChange, as with the system's control.
    m_silent = true;
    if (page)
        Tabs()->setCurrentWidget(page->Widget());
    m_silent = false;
}

// ---- List view -------------------------------------------------------------

class ListViewModel : public QAbstractTableModel {
public:
    explicit ListViewModel(TListView* v) : view(v) {}
    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() || !view ? 0 : view->m_items.Count();
    }
    int columnCount(const QModelIndex& parent) const override
    {
        return parent.isValid() || !view ? 0 : std::max(1, view->ColumnCount());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!view || !index.isValid() || index.row() >= view->m_items.Count())
            return {};
        TListItem* item = view->m_items[index.row()];
        if (role == Qt::DisplayRole)
            return QString::fromStdString(view->ItemText(item, index.column()));
        if (role == Qt::TextAlignmentRole && index.column() < view->ColumnCount()
            && view->Column(index.column()).RightAligned)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (view && o == Qt::Horizontal && role == Qt::DisplayRole && section < view->ColumnCount())
            return QString::fromStdString(view->Column(section).Caption);
        return {};
    }
    void Reset()
    {
        beginResetModel();
        endResetModel();
    }
    // The list is going: its views, which outlive it a little (a shown
    // window is closed and laid out once more while it is destroyed), see
    // no rows and no columns.
    void Detach()
    {
        beginResetModel();
        view = nullptr;
        endResetModel();
    }
    void RowChanged(int row) { emit dataChanged(index(row, 0), index(row, columnCount({}) - 1)); }
    TListView* view;
};

namespace {
// The report view moves through rows as the system's list does: Home and End
// go to the first and the last row (Qt's table keeps them for the first and
// last cell of the current row, which with whole-row selection moves nothing).
class ReportTable : public QTableView {
protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        if (action == MoveHome || action == MoveEnd)
            modifiers |= Qt::ControlModifier;
        return QTableView::moveCursor(action, modifiers);
    }
};
}

// The view of the icon, small-icon and list styles; it hands out the item
// options it paints with, so the list view can measure its items as drawn.
class ItemListView : public QListView {
public:
    QStyleOptionViewItem ItemOption() const
    {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        return option;
    }
};

namespace {
// A name wider than this many average characters ends in an ellipsis: the
// list view's columns stop growing there, the small-icon view's cells (which
// share one width, so that several fit side by side) sooner.
constexpr int kLongestNameChars = 40;
constexpr int kLongestSmallIconNameChars = 24;
// Room between the columns of the list view.
constexpr int kListColumnGap = 12;
}

QSize ListViewDelegate::LineItemSize(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    item.text = index.data(Qt::DisplayRole).toString();
    item.features |= QStyleOptionViewItem::HasDisplay;
    item.decorationPosition = QStyleOptionViewItem::Left;
    if (const int icon = IconSize(); icon > 0) {
        item.features |= QStyleOptionViewItem::HasDecoration;
        item.decorationSize = QSize(icon, icon);
    }
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    return style->sizeFromContents(QStyle::CT_ItemViewItem, &item, QSize(), option.widget);
}

void ListViewDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    ShowDropTarget(*option, index);
    if (m_view->ViewStyle() == TViewStyle::vsIcon)
        option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
}

void ListViewDelegate::ShowDropTarget(QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const TListItem* drop = m_view->DropTarget();
    if (!drop)
        return;
    if (index.row() < m_view->Items().Count() && m_view->Items()[index.row()] == drop)
        option.state |= QStyle::State_Selected;
    else
        option.state &= ~QStyle::State_Selected;
}

QSize ListViewDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* list = qobject_cast<const QListView*>(option.widget);
    if (!list)
        return QStyledItemDelegate::sizeHint(option, index);
    switch (m_view->ViewStyle()) {
    case TViewStyle::vsIcon:
    case TViewStyle::vsSmallIcon:
        if (list->gridSize().isValid())
            return list->gridSize();
        break;
    case TViewStyle::vsList: {
        QSize size = LineItemSize(option, index);
        size.setWidth(std::min(size.width(), kLongestNameChars * list->fontMetrics().averageCharWidth()) + kListColumnGap);
        return size;
    }
    case TViewStyle::vsReport: break;
    }
    return QStyledItemDelegate::sizeHint(option, index);
}

struct TListView::Views {
    QStackedWidget* stack;
    QTableView* table;
    ItemListView* list;
    ListViewModel* model;
    QItemSelectionModel* selection;
};

TListItem::Texts& TListItem::OwnTexts()
{
    if (!m_texts)
        m_texts = std::make_unique<Texts>();
    return *m_texts;
}

const std::string& TListItem::Caption() const
{
    static const std::string none;
    return m_texts ? m_texts->caption : none;
}

const TStringList& TListItem::SubItems() const
{
    static const TStringList none;
    return m_texts ? m_texts->subItems : none;
}

void TListItem::SetCaption(std::string caption)
{
    if (caption.empty() && !m_texts) {
        m_owner->ItemChanged(this);
        return;
    }
    OwnTexts().caption = std::move(caption);
    m_owner->ItemChanged(this);
}

TStringList& TListItem::SubItemsForUpdate()
{
    m_owner->ItemChanged(this);
    return OwnTexts().subItems;
}

void TListItem::SetImageIndex(int index)
{
    m_imageIndex = index;
    m_owner->ItemChanged(this);
}

void TListItem::SetOverlayIndex(int index)
{
    index = std::clamp(index, -1, 14);
    if (index == m_overlayIndex)
        return;
    m_overlayIndex = static_cast<signed char>(index);
    m_owner->ItemChanged(this);
}

void TListItem::SetCut(bool cut)
{
    if (cut == m_cut)
        return;
    m_cut = cut;
    m_owner->ItemChanged(this);
}

void TListItem::SetSelected(bool selected)
{
    if (selected == m_selected)
        return;
    std::vector<TListItem*> deselected;
    if (selected && !m_owner->MultiSelect())
        for (auto& other : m_owner->m_items.m_items)
            if (other->m_selected) {
                other->m_selected = false;
                deselected.push_back(other.get());
            }
    m_selected = selected;
    m_owner->SyncSelectionToView();
    if (selected)
        m_owner->ReportSelectionChanges(deselected, {this});
    else
        m_owner->ReportSelectionChanges({this}, {});
}

int TListItem::Index() const { return m_owner->m_items.IndexOf(this); }

TListItem* TListItems::operator[](int index) const
{
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return m_items[static_cast<size_t>(index)].get();
}

TListItem* TListItems::Add() { return Insert(Count()); }

TListItem* TListItems::Insert(int index)
{
    if (index < 0 || index > Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    auto* raw = new TListItem(m_owner);
    m_items.insert(m_items.begin() + index, std::unique_ptr<TListItem>(raw));
    m_owner->ItemsChanged();
    return raw;
}

void TListItems::Delete(int index)
{
    m_owner->ItemLeaving((*this)[index]);
    m_owner->Delete((*this)[index]);
    m_items.erase(m_items.begin() + index);
    m_owner->ItemsChanged();
}

void TListItems::DeleteIf(const std::function<bool(TListItem*)>& predicate)
{
    std::vector<std::unique_ptr<TListItem>> kept;
    kept.reserve(m_items.size());
    for (auto& item : m_items) {
        if (predicate(item.get())) {
            m_owner->ItemLeaving(item.get());
            m_owner->Delete(item.get());
        }
        else
            kept.push_back(std::move(item));
    }
    m_items.swap(kept);
    m_owner->ItemsChanged();
}

void TListItems::Clear()
{
    for (auto& item : m_items) {
        m_owner->ItemLeaving(item.get());
        m_owner->Delete(item.get());
    }
    m_items.clear();
    m_owner->ItemsChanged();
}

void TListItems::CustomSort(const std::function<int(TListItem*, TListItem*)>& compare)
{
    std::stable_sort(m_items.begin(), m_items.end(),
        [&compare](const auto& a, const auto& b) { return compare(a.get(), b.get()) < 0; });
    m_owner->ItemsChanged(true);
}

void TListItems::CustomSortAfter(int sorted, const std::function<int(TListItem*, TListItem*)>& compare)
{
    sorted = std::clamp(sorted, 0, Count());
    if (sorted == Count())
        return;
    const auto less = [&compare](const auto& a, const auto& b) { return compare(a.get(), b.get()) < 0; };
    const auto middle = m_items.begin() + sorted;
    std::stable_sort(middle, m_items.end(), less);
    std::inplace_merge(m_items.begin(), middle, m_items.end(), less);
    m_owner->ItemsChanged(true);
}

void TListItems::Arrange(const std::vector<std::size_t>& order)
{
    // An order that names a row twice or leaves one out changes nothing.
    std::vector<bool> named(m_items.size(), false);
    bool whole = order.size() == m_items.size();
    for (std::size_t k = 0; whole && k < order.size(); ++k) {
        whole = order[k] < named.size() && !named[order[k]];
        if (whole)
            named[order[k]] = true;
    }
    if (!whole)
        throw EListError("List order does not name every row once");
    std::vector<std::unique_ptr<TListItem>> arranged;
    arranged.reserve(m_items.size());
    for (std::size_t k : order)
        arranged.push_back(std::move(m_items[k]));
    m_items.swap(arranged);
    m_owner->ItemsChanged(true);
}

void TListItems::BeginUpdate() { ++m_owner->m_updateLevel; }

void TListItems::EndUpdate()
{
    if (m_owner->m_updateLevel > 0 && --m_owner->m_updateLevel == 0)
        m_owner->ItemsChanged();
}

void TListItems::Exchange(int a, int b)
{
    (void)(*this)[a];
    (void)(*this)[b];
    std::swap(m_items[static_cast<size_t>(a)], m_items[static_cast<size_t>(b)]);
    m_owner->ItemsChanged(true);
}

int TListItems::IndexOf(const TListItem* item) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == item)
            return static_cast<int>(i);
    return -1;
}

TListView::TListView(TComponent* owner) : TWinControl(owner), m_items(this), m_views(std::make_unique<Views>())
{
    Views& v = *m_views;
    v.stack = new QStackedWidget();
    v.model = new ListViewModel(this);
    v.model->setParent(v.stack);
    v.table = new ReportTable();
    v.list = new ItemListView();
    v.list->setItemDelegate(new ListViewDelegate(this, v.list));
    v.table->setModel(v.model);
    v.list->setModel(v.model);
    v.selection = new QItemSelectionModel(v.model, v.stack);
    v.table->setSelectionModel(v.selection);
    v.list->setSelectionModel(v.selection);
    v.table->verticalHeader()->hide();
    v.table->verticalHeader()->setDefaultSectionSize(18);
    v.table->setSelectionBehavior(QAbstractItemView::SelectRows);
    v.table->setShowGrid(false);
    v.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v.table->horizontalHeader()->setHighlightSections(false);
    v.list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v.stack->addWidget(v.table);
    v.stack->addWidget(v.list);
    SetWidget(v.stack);
    SetMultiSelect(false);
    QObject::connect(v.selection, &QItemSelectionModel::selectionChanged,
        [this](const QItemSelection&, const QItemSelection&) { SelectionFromView(); });
    QObject::connect(v.selection, &QItemSelectionModel::currentChanged, [this](const QModelIndex& current, const QModelIndex&) {
        if (!m_syncing)
            m_focused = current.isValid() && current.row() < m_items.Count() ? m_items[current.row()] : nullptr;
    });
    QObject::connect(v.table->horizontalHeader(), &QHeaderView::sectionClicked, [this](int section) { ColClick(section); });
    auto dbl = [this](const QModelIndex&) { DblClick(); };
    QObject::connect(v.table, &QAbstractItemView::doubleClicked, dbl);
    QObject::connect(v.list, &QAbstractItemView::doubleClicked, dbl);
    SetViewStyle(TViewStyle::vsIcon);
}

TListView::~TListView() { m_views->model->Detach(); }

QWidget* TListView::ActiveView() const { return m_views->stack->currentWidget(); }

void TListView::AddColumn(const std::string& caption, int width, bool rightAligned)
{
    m_columns.push_back({caption, width, rightAligned});
    m_views->model->Reset();
    for (int i = 0; i < ColumnCount(); ++i)
        m_views->table->setColumnWidth(i, m_columns[static_cast<size_t>(i)].Width);
    SyncSelectionToView();
    ColumnsChanged();
}

int TListView::DesignedColumnWidth(const std::string& caption, int designWidth, const std::string& usualText) const
{
    const QFontMetrics text(m_views->table->font());
    const QFontMetrics header(m_views->table->horizontalHeader()->font());
    const int scaled = (designWidth * text.averageCharWidth() + kDesignCharWidth / 2) / kDesignCharWidth;
    // The cell's margins, and in the header room for the sort mark.
    const int cellMargin = 2 * text.averageCharWidth() + 4;
    const int headerMargin = cellMargin + header.height();
    return std::max({designWidth, scaled, text.horizontalAdvance(QString::fromStdString(usualText)) + cellMargin,
        header.horizontalAdvance(QString::fromStdString(caption)) + headerMargin});
}

void TListView::AddDesignedColumn(const std::string& caption, int designWidth, const std::string& usualText,
    bool rightAligned)
{
    AddColumn(caption, DesignedColumnWidth(caption, designWidth, usualText), rightAligned);
}

void TListView::ClearColumns()
{
    m_columns.clear();
    m_views->model->Reset();
    SyncSelectionToView();
    ColumnsChanged();
}

int TListView::ColumnWidth(int index) const
{
    if (index < 0 || index >= ColumnCount())
        return 0;
    const int shown = m_views->table->columnWidth(index);
    return shown > 0 ? shown : m_columns[static_cast<size_t>(index)].Width;
}

void TListView::SetColumnWidth(int index, int width)
{
    if (index < 0 || index >= ColumnCount())
        return;
    m_columns[static_cast<size_t>(index)].Width = width;
    m_views->table->setColumnWidth(index, width);
}

std::string TListView::ItemText(TListItem* item, int column)
{
    if (column == 0)
        return item->Caption();
    const int sub = column - 1;
    return sub < item->SubItems().Count() ? item->SubItems()[sub] : std::string();
}

void TListView::ColClick(int column)
{
    if (OnColumnClick)
        OnColumnClick(this, column);
}

QTableView* TListView::ReportView() const { return m_views->table; }
QListView* TListView::IconView() const { return m_views->list; }
QAbstractItemModel* TListView::ItemModel() const { return m_views->model; }

void TListView::SelectAll()
{
    if (!m_multiSelect)
        return;
    TListItem* first = nullptr;
    for (auto& item : m_items.m_items)
        if (!item->m_selected) {
            item->m_selected = true;
            if (!first)
                first = item.get();
        }
    SyncSelectionToView();
    // One report for the whole change, naming the first row it selected, so
    // selecting thousands of rows does not run a handler thousands of times.
    if (first)
        ReportSelectionChanges({}, {first});
}

void TListView::SetItemFocused(TListItem* item)
{
    const int row = item ? m_items.IndexOf(item) : -1;
    m_focused = row >= 0 ? item : nullptr;
    m_syncing = true;
    m_views->selection->setCurrentIndex(row >= 0 ? m_views->model->index(row, 0) : QModelIndex(),
        QItemSelectionModel::NoUpdate);
    m_syncing = false;
}

void TListView::SetViewStyle(TViewStyle style)
{
    m_viewStyle = style;
    Views& v = *m_views;
    if (style == TViewStyle::vsReport) {
        v.stack->setCurrentWidget(v.table);
        // Focus given to the list goes to the view that takes its keys.
        v.stack->setFocusProxy(v.table);
        return;
    }
    // Every layout property is set for each style: Qt keeps a property set
    // once across view modes, so a grid or flow of one style would otherwise
    // stay in the next.
    QListView* list = v.list;
    list->setViewMode(style == TViewStyle::vsIcon ? QListView::IconMode : QListView::ListMode);
    list->setMovement(QListView::Static);
    // Items are laid out again when the view's size changes: the list style
    // fills columns as high as the view, the icon styles rows as wide.
    list->setResizeMode(QListView::Adjust);
    list->setWrapping(true);
    list->setFlow(style == TViewStyle::vsList ? QListView::TopToBottom : QListView::LeftToRight);
    list->setWordWrap(style == TViewStyle::vsIcon);
    list->setTextElideMode(Qt::ElideRight);
    list->setSpacing(0);
    list->setUniformItemSizes(false);
    UpdateGrid();
    v.stack->setCurrentWidget(list);
    v.stack->setFocusProxy(list);
}

// The icon style's cells hold a large icon and two lines of its name; the
// small-icon style's cells are as wide as the widest name (up to a limit);
// the list style has no grid, each column being as wide as its widest name.
// A changed row (changedRow 0 or more) can only widen the small-icon cells.
void TListView::UpdateGrid(int changedRow)
{
    ItemListView* list = m_views->list;
    const QFontMetrics fm = list->fontMetrics();
    QSize grid;
    if (m_viewStyle == TViewStyle::vsIcon) {
        grid = QSize(std::max(76, 16 * fm.averageCharWidth()), 32 + 2 * fm.lineSpacing() + 14);
    } else if (m_viewStyle == TViewStyle::vsSmallIcon) {
        auto* delegate = static_cast<ListViewDelegate*>(list->itemDelegate());
        const QStyleOptionViewItem option = list->ItemOption();
        auto width = [&](int row) { return delegate->LineItemSize(option, m_views->model->index(row, 0)).width() + 8; };
        const int limit = kLongestSmallIconNameChars * fm.averageCharWidth() + 32;
        int widest = 48;
        if (changedRow >= 0)
            widest = std::max(list->gridSize().width(), width(changedRow));
        else
            for (int row = 0; row < m_items.Count(); ++row)
                widest = std::max(widest, width(row));
        grid = QSize(std::min(widest, limit), std::max(18, fm.lineSpacing() + 4));
    }
    if (list->gridSize() != grid)
        list->setGridSize(grid);
}

void TListView::FontChanged()
{
    TWinControl::FontChanged();
    if (m_viewStyle != TViewStyle::vsReport)
        UpdateGrid();
}

void SetSelectionHiddenWithoutFocus(QAbstractItemView* view, bool hide)
{
    QPalette pal = view->palette();
    const QColor highlight = hide ? pal.color(QPalette::Active, QPalette::Base) : pal.color(QPalette::Active, QPalette::Highlight);
    const QColor text = hide ? pal.color(QPalette::Active, QPalette::Text) : pal.color(QPalette::Active, QPalette::HighlightedText);
    pal.setColor(QPalette::Inactive, QPalette::Highlight, highlight);
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, text);
    view->setPalette(pal);
}

void TListView::SetRowSelect(bool on)
{
    m_rowSelect = on;
    m_views->table->setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void TListView::SetHideSelection(bool on)
{
    m_hideSelection = on;
    SetSelectionHiddenWithoutFocus(m_views->table, on);
    SetSelectionHiddenWithoutFocus(m_views->list, on);
}

void TListView::SetGridLines(bool on)
{
    m_gridLines = on;
    m_views->table->setShowGrid(on);
}

void TListView::SetMultiSelect(bool on)
{
    m_multiSelect = on;
    const auto mode = on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    m_views->table->setSelectionMode(mode);
    m_views->list->setSelectionMode(mode);
}

TListItem* TListView::Selected() const
{
    for (const auto& item : m_items.m_items)
        if (item->m_selected)
            return item.get();
    return nullptr;
}

int TListView::SelCount() const
{
    return static_cast<int>(std::count_if(m_items.m_items.begin(), m_items.m_items.end(),
        [](const auto& item) { return item->m_selected; }));
}

void TListView::ClearSelection()
{
    std::vector<TListItem*> deselected;
    for (auto& item : m_items.m_items)
        if (item->m_selected) {
            item->m_selected = false;
            deselected.push_back(item.get());
        }
    SyncSelectionToView();
    ReportSelectionChanges(deselected, {});
}

TListItem* TListView::ItemFocused() const
{
    const QModelIndex current = m_views->selection->currentIndex();
    return current.isValid() && current.row() < m_items.Count() ? m_items[current.row()] : nullptr;
}

void TListView::ItemsChanged(bool reordered)
{
    if (m_updateLevel > 0)
        return;
    m_syncing = true;
    m_views->model->Reset();
    m_syncing = false;
    // The same names in another order need no other cells.
    if (m_viewStyle == TViewStyle::vsSmallIcon && !reordered)
        UpdateGrid();
    SyncSelectionToView();
    if (m_focused)
        SetItemFocused(m_focused);
}

void TListView::ItemLeaving(TListItem* item)
{
    if (item == m_focused)
        m_focused = nullptr;
    if (item == m_dropTarget)
        m_dropTarget = nullptr;
}

bool TListView::ScrollByLine(int horizontal, int vertical)
{
    return ScrollAreaByLine(qobject_cast<QAbstractScrollArea*>(ActiveView()), horizontal, vertical);
}

void TListView::SetDropTarget(TListItem* item)
{
    if (item == m_dropTarget)
        return;
    m_dropTarget = item;
    if (QWidget* view = ActiveView())
        if (auto* items = qobject_cast<QAbstractItemView*>(view))
            items->viewport()->update();
}

void TListView::ItemChanged(const TListItem* item)
{
    if (m_updateLevel > 0)
        return;
    const int row = m_items.IndexOf(item);
    if (row >= 0) {
        m_views->model->RowChanged(row);
        if (m_viewStyle == TViewStyle::vsSmallIcon)
            UpdateGrid(row);
    }
}

void TListView::SyncSelectionToView()
{
    if (m_updateLevel > 0)
        return;
    m_syncing = true;
    QItemSelection sel;
    for (int i = 0; i < m_items.Count(); ++i)
        if (m_items.m_items[static_cast<size_t>(i)]->m_selected)
            sel.select(m_views->model->index(i, 0), m_views->model->index(i, m_views->model->columnCount({}) - 1));
    m_views->selection->select(sel, QItemSelectionModel::ClearAndSelect);
    m_syncing = false;
}

void TListView::SelectionFromView()
{
    if (m_syncing)
        return;
    std::vector<bool> now(static_cast<size_t>(m_items.Count()), false);
    for (const QModelIndex& index : m_views->selection->selectedRows())
        if (index.row() < m_items.Count())
            now[static_cast<size_t>(index.row())] = true;
    // Deselections are reported before selections, one event per row.
    std::vector<TListItem*> deselected, selected;
    for (int i = 0; i < m_items.Count(); ++i) {
        TListItem* item = m_items.m_items[static_cast<size_t>(i)].get();
        if (item->m_selected != now[static_cast<size_t>(i)]) {
            item->m_selected = now[static_cast<size_t>(i)];
            (item->m_selected ? selected : deselected).push_back(item);
        }
    }
    ReportSelectionChanges(deselected, selected);
}

void TListView::ReportSelectionChanges(const std::vector<TListItem*>& deselected, const std::vector<TListItem*>& selected)
{
    if (!OnSelectItem || IsDestroying())
        return;
    for (TListItem* item : deselected)
        OnSelectItem(this, item, false);
    for (TListItem* item : selected)
        OnSelectItem(this, item, true);
}

// ---- Tree nodes ------------------------------------------------------------

void TTreeNode::SetText(const std::string& text)
{
    m_text = text;
    if (m_item)
        m_item->setText(0, QString::fromStdString(text));
}

int TTreeNode::Index() const
{
    const auto* list = m_siblings ? m_siblings : m_parent ? &m_parent->m_children : nullptr;
    if (!list)
        return -1;
    for (size_t i = 0; i < list->size(); ++i)
        if ((*list)[i].get() == this)
            return static_cast<int>(i);
    return -1;
}

TTreeNode* TTreeNode::GetNextSibling() const
{
    const auto* list = m_siblings ? m_siblings : m_parent ? &m_parent->m_children : nullptr;
    const int i = Index();
    return list && i >= 0 && i + 1 < static_cast<int>(list->size()) ? (*list)[static_cast<size_t>(i + 1)].get() : nullptr;
}

TTreeNode* TTreeNode::GetPrevSibling() const
{
    const auto* list = m_siblings ? m_siblings : m_parent ? &m_parent->m_children : nullptr;
    const int i = Index();
    return list && i > 0 ? (*list)[static_cast<size_t>(i - 1)].get() : nullptr;
}

bool TTreeNode::HasAsParent(const TTreeNode* other) const
{
    for (const TTreeNode* n = this; n; n = n->m_parent)
        if (n == other)
            return true;
    return false;
}

// ---- Progress bar ----------------------------------------------------------

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner)
{
    auto* p = new QProgressBar();
    p->setRange(0, 100);
    SetWidget(p);
}

int TProgressBar::Position() const { return static_cast<QProgressBar*>(Widget())->value(); }

void TProgressBar::SetPosition(int position) { static_cast<QProgressBar*>(Widget())->setValue(position); }

void TProgressBar::SetRange(int min, int max) { static_cast<QProgressBar*>(Widget())->setRange(min, max); }
