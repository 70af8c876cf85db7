#include "customlistview.h"
#include "listviewdelegate.h"
#include "dragstart_p.h"

#include "shell/shellicons_qt.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTableView>

// One paint of the view: the answer to the pre-paint notification and the
// item answer of the row being painted (a row's cells share it).
struct TCustomListView::Cycle {
    LRESULT prepaint = 0;
    int row = -1;
    LRESULT answer = 0;
    TFont font;
    COLORREF text = 0, textBk = 0, defaultText = 0, defaultBk = 0;
};

// Sends the pre-paint notification when the view starts a paint.
class PaintCycleFilter : public QObject {
public:
    PaintCycleFilter(TCustomListView* c, QObject* parent) : QObject(parent), control(c) {}
    bool eventFilter(QObject* viewport, QEvent* e) override
    {
        if (dragStart.Watch(*control, viewport, e))
            return true;
        if (e->type() == QEvent::Paint) {
            TCustomListView::Cycle& cycle = *control->m_cycle;
            cycle.prepaint = SendPrePaint<NMLVCUSTOMDRAW>(*control);
            cycle.row = -1;
        } else if (e->type() == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton && !dragStart.Started()) {
            // A right click is a press (which selects, as the view does) and
            // a release that started no drag, as on the desktop; the shell
            // list's menu opens with it.
            auto* view = static_cast<QAbstractItemView*>(control->ActiveView());
            const QPoint c = view->viewport()->mapTo(view, static_cast<QMouseEvent*>(e)->position().toPoint());
            NMMOUSE_PT nm;
            nm.hdr.hwndFrom = control->Handle();
            nm.hdr.code = NM_RCLICK;
            nm.pt = Point(c.x(), c.y());
            control->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
        }
        return false;
    }
    TCustomListView* control;
    DragStartDetector dragStart {LVN_BEGINDRAG, LVN_BEGINRDRAG};
};

// Paints cells after asking the control how (once per row and paint).
class CustomDrawDelegate : public ListViewDelegate {
public:
    CustomDrawDelegate(TCustomListView* c, QObject* parent) : ListViewDelegate(c, parent), control(c) {}
    int IconSize() const override
    {
        const bool large = control->ViewStyle() == TViewStyle::vsIcon;
        return (large ? control->LargeImages : control->SmallImages) ? (large ? 32 : 16) : 0;
    }
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        ListViewDelegate::initStyleOption(option, index);
        if (index.column() != 0 || index.row() >= control->Items().Count())
            return;
        const bool large = control->ViewStyle() == TViewStyle::vsIcon;
        void* images = large ? control->LargeImages : control->SmallImages;
        if (!images)
            return;
        TListItem* item = control->Items()[index.row()];
        const int image = control->ItemImageIndex(item);
        if (image < 0)
            return;
        option->icon = ShellImageListIcon(images, image, static_cast<UINT>(item->OverlayIndex() + 1));
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->decorationSize = large ? QSize(32, 32) : QSize(16, 16);
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& optionIn, const QModelIndex& index) const override
    {
        QStyleOptionViewItem option(optionIn);
        ShowDropTarget(option, index);
        // A cut item (a hidden file) is drawn dimmed, its icon and its texts.
        if (index.row() < control->Items().Count() && control->Items()[index.row()]->Cut())
            option.state &= ~QStyle::State_Enabled;
        TCustomListView::Cycle& cycle = *control->m_cycle;
        if (!(cycle.prepaint & CDRF_NOTIFYITEMDRAW) || index.row() >= control->Items().Count()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        if (cycle.row != index.row()) {
            TListItem* item = control->Items()[index.row()];
            TDrawContext dc;
            dc.Painter = painter;
            dc.Font.Assign(control->Font());
            dc.TextColor = FromQColor(option.palette.color(QPalette::Text));
            dc.BkColor = FromQColor(option.palette.color(QPalette::Base));
            NMLVCUSTOMDRAW nm;
            nm.nmcd.hdr.hwndFrom = control->Handle();
            nm.nmcd.hdr.code = NM_CUSTOMDRAW;
            nm.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
            nm.nmcd.hdc = &dc;
            const QRect r = option.rect;
            nm.nmcd.rc = Rect(0, r.top(), control->Width(), r.bottom() + 1);
            nm.nmcd.dwItemSpec = static_cast<ULONG_PTR>(index.row());
            nm.nmcd.uItemState = selected ? CDIS_SELECTED : 0;
            nm.nmcd.lItemlParam = reinterpret_cast<LPARAM>(item->Data);
            nm.clrText = dc.TextColor;
            nm.clrTextBk = dc.BkColor;
            cycle.defaultText = dc.TextColor;
            cycle.defaultBk = dc.BkColor;
            cycle.answer = control->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
            cycle.row = index.row();
            cycle.font.Assign(dc.Font);
            cycle.text = nm.clrText;
            cycle.textBk = nm.clrTextBk;
        }
        if (cycle.answer & CDRF_SKIPDEFAULT)
            return;
        QStyleOptionViewItem opt(option);
        if (cycle.answer & CDRF_NEWFONT)
            opt.font = cycle.font.ToQFont();
        // Selected rows keep the selection colours, as with the system's list.
        if (!selected) {
            if (cycle.text != cycle.defaultText) {
                opt.palette.setColor(QPalette::Text, ToQColor(cycle.text));
                opt.palette.setColor(QPalette::WindowText, ToQColor(cycle.text));
            }
            if (cycle.textBk != cycle.defaultBk)
                painter->fillRect(option.rect, ToQColor(cycle.textBk));
        }
        QStyledItemDelegate::paint(painter, opt, index);
    }
    TCustomListView* control;
};

// The report header: item formats decide between the control's own drawing
// (WM_DRAWITEM) and the header's, with its sort arrows.
class CustomDrawHeader : public QHeaderView {
public:
    CustomDrawHeader(TCustomListView* c) : QHeaderView(Qt::Horizontal), control(c)
    {
        setSectionsClickable(true);
        setHighlightSections(false);
    }
    void paintSection(QPainter* painter, const QRect& rect, int logical) const override
    {
        if (!rect.isValid())
            return;
        const int format = control->GetHeaderItemFormat(logical);
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.rect = rect;
        opt.section = logical;
        opt.position = QStyleOptionHeader::Middle;
        if (!(format & HDF_OWNERDRAW)) {
            opt.text = model() ? model()->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
            const int justify = format & HDF_JUSTIFYMASK;
            opt.textAlignment = Qt::AlignVCenter
                | (justify == HDF_RIGHT ? Qt::AlignRight : justify == HDF_CENTER ? Qt::AlignHCenter : Qt::AlignLeft);
            opt.sortIndicator = (format & HDF_SORTUP) ? QStyleOptionHeader::SortUp
                : (format & HDF_SORTDOWN) ? QStyleOptionHeader::SortDown
                                          : QStyleOptionHeader::None;
            style()->drawControl(QStyle::CE_Header, &opt, painter, this);
            return;
        }
        // The frame comes from the style; the face is the control's.
        style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);
        painter->save();
        TDrawContext dc;
        dc.Painter = painter;
        dc.Font.Assign(control->Font());
        DRAWITEMSTRUCT dis;
        dis.CtlType = ODT_HEADER;
        dis.itemID = static_cast<UINT>(logical);
        dis.hDC = &dc;
        dis.rcItem = Rect(rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1);
        control->Perform(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis));
        painter->restore();
    }
    TCustomListView* control;
};

TCustomListView::TCustomListView(TComponent* owner) : TListView(owner), m_cycle(std::make_unique<Cycle>())
{
    QTableView* table = ReportView();
    auto* header = new CustomDrawHeader(this);
    table->setHorizontalHeader(header);
    QObject::connect(header, &QHeaderView::sectionClicked, [this](int section) {
        InvalidateHeader();
        ColClick(section);
    });
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(table), static_cast<QAbstractItemView*>(IconView())}) {
        view->setItemDelegate(new CustomDrawDelegate(this, view));
        view->viewport()->installEventFilter(new PaintCycleFilter(this, view));
        view->setContextMenuPolicy(Qt::PreventContextMenu);
    }
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
}

TCustomListView::~TCustomListView() = default;

void TCustomListView::SyncFormats() const
{
    const size_t n = static_cast<size_t>(ColumnCount());
    while (m_headerFormats.size() < n) {
        const size_t i = m_headerFormats.size();
        m_headerFormats.push_back(HDF_STRING | (Column(static_cast<int>(i)).RightAligned ? HDF_RIGHT : HDF_LEFT));
    }
    m_headerFormats.resize(n);
}

void TCustomListView::ColumnsChanged()
{
    m_headerFormats.clear();
    SyncFormats();
}

int TCustomListView::GetHeaderItemFormat(int index) const
{
    SyncFormats();
    return index >= 0 && index < static_cast<int>(m_headerFormats.size()) ? m_headerFormats[static_cast<size_t>(index)]
                                                                          : 0;
}

void TCustomListView::SetHeaderItemFormat(int index, int format)
{
    SyncFormats();
    if (index < 0 || index >= static_cast<int>(m_headerFormats.size()))
        return;
    m_headerFormats[static_cast<size_t>(index)] = format;
    ReportView()->horizontalHeader()->viewport()->update();
}

TRect TCustomListView::HeaderItemRect(int index) const
{
    QHeaderView* h = ReportView()->horizontalHeader();
    if (index < 0 || index >= ColumnCount())
        return {};
    const int left = h->sectionViewportPosition(index);
    return Rect(left, 0, left + h->sectionSize(index), h->height());
}

void TCustomListView::InvalidateHeader() { ReportView()->horizontalHeader()->viewport()->update(); }

int TCustomListView::HeaderHeight() const
{
    return ViewStyle() == TViewStyle::vsReport ? ReportView()->horizontalHeader()->sizeHint().height() : 0;
}

TListItem* TCustomListView::GetItemAt(int x, int y) const
{
    auto* view = static_cast<QAbstractItemView*>(ActiveView());
    const QPoint p = view->viewport()->mapFrom(view->parentWidget(), QPoint(x, y));
    const QModelIndex index = view->indexAt(p);
    return index.isValid() && index.row() < Items().Count() ? Items()[index.row()] : nullptr;
}

TRect TCustomListView::ItemIconRect(TListItem* item) const
{
    auto* view = static_cast<QAbstractItemView*>(ActiveView());
    const int row = item ? Items().IndexOf(item) : -1;
    if (row < 0)
        return {};
    QRect r = view->visualRect(ItemModel()->index(row, 0));
    r.moveTopLeft(view->viewport()->mapTo(view->parentWidget(), r.topLeft()));
    if (ViewStyle() == TViewStyle::vsReport)
        r.setWidth(std::min(r.width(), 18));
    return Rect(r.left(), r.top(), r.right() + 1, r.bottom() + 1);
}

void TCustomListView::ScrollToTop()
{
    auto* view = static_cast<QAbstractItemView*>(ActiveView());
    view->verticalScrollBar()->setValue(0);
    view->horizontalScrollBar()->setValue(0);
}

void TCustomListView::PaintTo(TBitmap& bitmap)
{
    QWidget* w = Widget();
    if (w->width() <= 0 || w->height() <= 0)
        w->resize(std::max(w->width(), 1), std::max(w->height(), 1));
    w->ensurePolished();
    // A widget that was never shown lays itself out on the first render.
    if (!w->testAttribute(Qt::WA_WState_Created))
        w->setAttribute(Qt::WA_DontShowOnScreen, true);
    bitmap.SetSize(w->width(), w->height());
    w->render(&bitmap.Image());
}

void TCustomListView::WndProc(TMessage& message)
{
    if (message.Msg == CN_NOTIFY) {
        // No handler: every stage draws as the control would.
        message.Result = CDRF_DODEFAULT;
        return;
    }
    TListView::WndProc(message);
}
