#include "combobox.h"

#include "forms.h"
#include "winmenus.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

namespace {

constexpr WORD kVkF4 = VK_F1 + 3;

TRect RectOf(const QRect& r) { return Rect(r.left(), r.top(), r.right() + 1, r.bottom() + 1); }

// Sends one CN_DRAWITEM to the control, painting through the painter.
void SendDrawItem(TCustomComboBox& control, QPainter& painter, int index, UINT state, const QRect& rect)
{
    TDrawContext dc;
    dc.Painter = &painter;
    dc.Font.Assign(control.Font());
    DRAWITEMSTRUCT item;
    item.CtlType = ODT_COMBOBOX;
    item.itemID = static_cast<UINT>(index);
    item.itemState = state;
    item.hwndItem = control.Handle();
    item.hDC = &dc;
    item.rcItem = RectOf(rect);
    item.itemData = reinterpret_cast<ULONG_PTR>(index >= 0 ? control.ItemObject(index) : nullptr);
    painter.save();
    RunEventHandler([&] { control.Perform(CN_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item)); });
    painter.restore();
}

// The list's rows: owner-drawn ones go to the control, at its item height.
class TComboItemDelegate : public QStyledItemDelegate {
public:
    TComboItemDelegate(TCustomComboBox* control, QObject* parent) : QStyledItemDelegate(parent), m_control(control) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (!m_control->OwnerDrawn()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const UINT state = ((option.state & QStyle::State_Selected) ? ODS_SELECTED : 0)
            | ((option.state & QStyle::State_HasFocus) ? ODS_FOCUS : 0);
        SendDrawItem(*m_control, *painter, index.row(), state, option.rect);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return m_control->OwnerDrawn() ? QSize(size.width(), std::max(0, m_control->ItemHeight())) : size;
    }

private:
    TCustomComboBox* m_control;
};

} // namespace

// The widget: tells the control when the list opens and how it closed, and
// lets an owner-drawn control paint its face.
class TComboWidget : public QComboBox {
public:
    explicit TComboWidget(TCustomComboBox* control) : m_control(control)
    {
        setItemDelegate(new TComboItemDelegate(control, this));
        // Installed after the list's own filters, so it sees their events first.
        view()->installEventFilter(this);
        view()->viewport()->installEventFilter(this);
        view()->parentWidget()->installEventFilter(this);
    }

    void showPopup() override
    {
        Notify(CBN_DROPDOWN);
        setMaxVisibleItems(std::max(1, m_control->DropDownCount()));
        QComboBox::showPopup();
        m_open = view()->parentWidget()->isVisible();
        m_choosing = false;
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (!m_control->OwnerDrawn()) {
            QComboBox::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.currentText.clear();
        option.currentIcon = QIcon();
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        const UINT state = ODS_COMBOBOXEDIT | (hasFocus() ? ODS_SELECTED | ODS_FOCUS : 0);
        SendDrawItem(*m_control, painter, currentIndex(), state, field);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            m_choosing = false;
            break;
        // The list closes inside the handling of the event that chose an
        // item: a release over an item, Return or Enter (which the list
        // takes as a shortcut).
        case QEvent::MouseButtonRelease:
            m_choosing = true;
            break;
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            m_choosing = key == Qt::Key_Return || key == Qt::Key_Enter;
            break;
        }
        case QEvent::Hide:
            if (watched == view()->parentWidget() && m_open)
                Closed();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void Notify(UINT code)
    {
        RunEventHandler([&] { m_control->Perform(CN_COMMAND, MAKEWPARAM(0, code), 0); });
    }

    // The end of the selection and the close-up are told once the list has
    // finished its own work (the chosen item is current by then), so that
    // their handlers may change the items.
    void Closed()
    {
        m_open = false;
        const UINT end = m_choosing ? CBN_SELENDOK : CBN_SELENDCANCEL;
        m_choosing = false;
        QTimer::singleShot(0, this, [this, end] {
            Notify(end);
            Notify(CBN_CLOSEUP);
        });
    }

    TCustomComboBox* m_control;
    bool m_open = false;
    bool m_choosing = false;
};

TCustomComboBox::TCustomComboBox(TComponent* owner) : TWinControl(owner)
{
    auto* box = new TComboWidget(this);
    SetWidget(box);
    SetColor(clWindow);
    QObject::connect(box, QOverload<int>::of(&QComboBox::activated), [this](int) {
        RunEventHandler([this] { Perform(CN_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), 0); });
    });
}

TCustomComboBox::~TCustomComboBox() = default;

static QComboBox* Box(const TCustomComboBox* c) { return static_cast<QComboBox*>(c->Widget()); }

void TCustomComboBox::SetStyle(TComboBoxStyle style)
{
    if (style == m_style)
        return;
    m_style = style;
    FitHeight();
}

void TCustomComboBox::FitHeight()
{
    Box(this)->view()->doItemsLayout();
    // An owner-drawn face is as high as an item and the frame around it.
    if (OwnerDrawn())
        SetHeight(std::max(0, ItemHeight()) + 6);
    Invalidate();
}

int TCustomComboBox::ItemCount() const { return Box(this)->count(); }

std::string TCustomComboBox::ItemText(int index) const { return Box(this)->itemText(index).toStdString(); }

void* TCustomComboBox::ItemObject(int index) const
{
    return reinterpret_cast<void*>(Box(this)->itemData(index, Qt::UserRole).value<quintptr>());
}

int TCustomComboBox::AddItem(const std::string& text, void* object)
{
    QComboBox* box = Box(this);
    const int keep = box->currentIndex();
    box->addItem(QString::fromStdString(text), QVariant::fromValue(reinterpret_cast<quintptr>(object)));
    box->setCurrentIndex(keep);
    return box->count() - 1;
}

// Tells the window procedure that an item with an object goes.
void TCustomComboBox::AnnounceDeletion(int index)
{
    void* object = ItemObject(index);
    if (!object)
        return;
    DELETEITEMSTRUCT item;
    item.itemID = static_cast<UINT>(index);
    item.hwndItem = Handle();
    item.itemData = reinterpret_cast<ULONG_PTR>(object);
    Perform(WM_DELETEITEM, 0, reinterpret_cast<LPARAM>(&item));
}

void TCustomComboBox::RemoveItem(int index)
{
    QComboBox* box = Box(this);
    if (index < 0 || index >= box->count())
        return;
    AnnounceDeletion(index);
    box->removeItem(index);
}

void TCustomComboBox::ClearItems()
{
    QComboBox* box = Box(this);
    for (int i = 0; i < box->count(); ++i)
        AnnounceDeletion(i);
    box->clear();
}

void TCustomComboBox::BeginUpdate() { Box(this)->setUpdatesEnabled(false); }

void TCustomComboBox::EndUpdate() { Box(this)->setUpdatesEnabled(true); }

int TCustomComboBox::ItemIndex() const { return Box(this)->currentIndex(); }

void TCustomComboBox::SetItemIndex(int index)
{
    QComboBox* box = Box(this);
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

void TCustomComboBox::SetItemHeight(int height)
{
    if (height < 0 || height == m_itemHeight)
        return;
    m_itemHeight = height;
    if (OwnerDrawn())
        FitHeight();
}

void TCustomComboBox::SetDropDownCount(int count) { m_dropDownCount = count; }

bool TCustomComboBox::DroppedDown() const { return Box(this)->view()->parentWidget()->isVisible(); }

void TCustomComboBox::SetDroppedDown(bool down)
{
    if (down == DroppedDown())
        return;
    if (down)
        Box(this)->showPopup();
    else
        Box(this)->hidePopup();
}

void TCustomComboBox::WndProc(TMessage& message)
{
    switch (message.Msg) {
    case CN_COMMAND:
        switch (HIWORD(message.WParam)) {
        case CBN_DROPDOWN:
            DropDown();
            return;
        case CBN_SELCHANGE:
            Change();
            return;
        default:
            return;
        }
    case CN_DRAWITEM:
        CNDrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(message.LParam));
        message.Result = 1;
        return;
    case CB_SETEXTENDEDUI:
        m_extendedUI = message.WParam != 0;
        return;
    case CB_GETEXTENDEDUI:
        message.Result = m_extendedUI ? 1 : 0;
        return;
    default:
        TWinControl::WndProc(message);
    }
}

void TCustomComboBox::CNDrawItem(DRAWITEMSTRUCT& item)
{
    m_canvas.SetPainter(item.hDC ? item.hDC->Painter : nullptr);
    struct Unbind {
        TCanvas& canvas;
        ~Unbind() { canvas.SetPainter(nullptr); }
    } unbind {m_canvas};
    m_canvas.Font().Assign(Font());
    m_canvas.Brush().SetColor(Color());
    m_canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    const int index = static_cast<int>(item.itemID);
    if (index >= 0 && (item.itemState & ODS_SELECTED)) {
        m_canvas.Brush().SetColor(clHighlight);
        m_canvas.Font().SetColor(clHighlightText);
    }
    if (index >= 0)
        DrawItem(index, item.rcItem, item.itemState);
    else
        m_canvas.FillRect(item.rcItem);
}

void TCustomComboBox::DrawItem(int index, const TRect& rect, UINT state)
{
    if (OnDrawItem) {
        OnDrawItem(this, index, rect, state);
        return;
    }
    m_canvas.FillRect(rect);
    m_canvas.TextOut(rect.Left + 2, rect.Top, ItemText(index));
}

void TCustomComboBox::DropDown()
{
    if (OnDropDown)
        OnDropDown(this);
}

void TCustomComboBox::Change()
{
    if (OnChange)
        OnChange(this);
}

void TCustomComboBox::KeyDown(WORD& key, TShiftState shift)
{
    TWinControl::KeyDown(key, shift);
    if (!m_extendedUI || key == 0)
        return;
    // The extended interface: F4 opens nothing, Down opens the list.
    if (key == kVkF4) {
        key = 0;
    } else if (key == VK_DOWN && !(shift & ssAlt)) {
        SetDroppedDown(true);
        key = 0;
    }
}
