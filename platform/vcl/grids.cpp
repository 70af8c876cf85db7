#include "grids.h"

#include "caret.h"

#include "rtl/unicode.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>

namespace {

std::function<short(int)>& KeyStateOverride()
{
    static std::function<short(int)> answer;
    return answer;
}

// The modifiers and buttons of the input events being handled, innermost
// last: what GetKeyState answers while a handler runs.
struct InputState {
    int modifiers;
    int buttons;
};
std::vector<InputState>& InputStates()
{
    static std::vector<InputState> states;
    return states;
}
class ScopedInputState {
public:
    ScopedInputState(int modifiers, int buttons) { InputStates().push_back({modifiers, buttons}); }
    ~ScopedInputState() { InputStates().pop_back(); }
    ScopedInputState(const ScopedInputState&) = delete;
    ScopedInputState& operator=(const ScopedInputState&) = delete;
};

constexpr int kScrollBarExtent = 16;
constexpr unsigned kSelectTimerMs = 60;
constexpr int kWheelNotch = 120;

int QtModifiersOf(TShiftState shift)
{
    int m = 0;
    if (shift & ssShift)
        m |= Qt::ShiftModifier;
    if (shift & ssCtrl)
        m |= Qt::ControlModifier;
    if (shift & ssAlt)
        m |= Qt::AltModifier;
    return m;
}

}  // namespace

TGridKey TranslateGridKey(int qtKey, int qtModifiers, std::uint32_t nativeScanCode)
{
    TGridKey k;
    k.Key = VirtualKeyFromQtKey(qtKey);
    k.Shift = ShiftStateFromQt(qtModifiers, 0);
    if (qtKey == Qt::Key_Shift)
        k.Shift |= ssShift;
    else if (qtKey == Qt::Key_Control)
        k.Shift |= ssCtrl;
    else if (qtKey == Qt::Key_Alt)
        k.Shift |= ssAlt;
    // X11 and Wayland key codes 10 to 19 are the keys of the digit row, 1 to
    // 9 and 0, on every layout: Windows names them VK_1 .. VK_0 whatever
    // they type.
    if (nativeScanCode >= 10 && nativeScanCode <= 19 && !(qtModifiers & Qt::KeypadModifier)) {
        k.Key = static_cast<WORD>('0' + (nativeScanCode - 9) % 10);
        return k;
    }
    // Without a key code (tests, other platforms) the shifted digits of a
    // US layout stand for their keys.
    if ((k.Shift & ssShift) && !(qtModifiers & Qt::KeypadModifier)) {
        static constexpr int kShiftedDigits[10] = {Qt::Key_ParenRight, Qt::Key_Exclam,     Qt::Key_At,
                                                   Qt::Key_NumberSign, Qt::Key_Dollar,     Qt::Key_Percent,
                                                   Qt::Key_AsciiCircum, Qt::Key_Ampersand, Qt::Key_Asterisk,
                                                   Qt::Key_ParenLeft};
        for (int d = 0; d < 10; ++d)
            if (kShiftedDigits[d] == qtKey)
                k.Key = static_cast<WORD>('0' + d);
    }
    return k;
}

bool CharToCp1252(char32_t ch, std::uint8_t& byte)
{
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
        byte = static_cast<std::uint8_t>(ch);
        return true;
    }
    for (int i = 0; i < 32; ++i)
        if (kCp1252Ctrl[i] != 0 && kCp1252Ctrl[i] == ch) {
            byte = static_cast<std::uint8_t>(0x80 + i);
            return true;
        }
    return false;
}

short GetKeyState(int vk)
{
    if (KeyStateOverride())
        return KeyStateOverride()(vk);
    const short down = static_cast<short>(0x8000);
    Qt::KeyboardModifiers mods;
    Qt::MouseButtons buttons;
    if (!InputStates().empty()) {
        mods = Qt::KeyboardModifiers(InputStates().back().modifiers);
        buttons = Qt::MouseButtons(InputStates().back().buttons);
    } else {
        mods = QGuiApplication::queryKeyboardModifiers();
        buttons = QGuiApplication::mouseButtons();
    }
    switch (vk) {
    case VK_SHIFT: return (mods & Qt::ShiftModifier) ? down : 0;
    case VK_CONTROL: return (mods & Qt::ControlModifier) ? down : 0;
    case VK_MENU: return (mods & Qt::AltModifier) ? down : 0;
    case VK_LBUTTON: return (buttons & Qt::LeftButton) ? down : 0;
    case VK_RBUTTON: return (buttons & Qt::RightButton) ? down : 0;
    default: return 0;
    }
}

void SetKeyStateOverride(std::function<short(int)> answer) { KeyStateOverride() = std::move(answer); }

TCustomGrid::TCustomGrid(TComponent* owner) : TCustomControl(owner)
{
    m_colWidths.assign(static_cast<size_t>(m_colCount), m_defaultColWidth);
    QWidget* w = Widget();
    m_vscroll = new QScrollBar(Qt::Vertical, w);
    m_hscroll = new QScrollBar(Qt::Horizontal, w);
    m_vscroll->setFocusPolicy(Qt::NoFocus);
    m_hscroll->setFocusPolicy(Qt::NoFocus);
    m_vscroll->hide();
    m_hscroll->hide();
    QObject::connect(m_vscroll, &QScrollBar::valueChanged, [this](int v) { OnScrollBar(true, v); });
    QObject::connect(m_hscroll, &QScrollBar::valueChanged, [this](int v) { OnScrollBar(false, v); });
    SetColor(clWindow);
}

TCustomGrid::~TCustomGrid()
{
    StopSelectTimer();
    if (CaretOwner() == this)
        DestroyCaret();
}

// ------------------------------------------------------------- dimensions

void TCustomGrid::SetColCount(std::int32_t count)
{
    count = std::max(count, 1);
    if (count == m_colCount)
        return;
    m_colCount = count;
    m_colWidths.resize(static_cast<size_t>(count), m_defaultColWidth);
    m_fixedCols = std::min(m_fixedCols, count);
    m_col = std::clamp(m_col, m_fixedCols, std::max(m_fixedCols, count - 1));
    ClampTopLeft();
    UpdateScrollBars();
    Invalidate();
}

void TCustomGrid::SetRowCount(std::int32_t count)
{
    count = std::max(count, 1);
    if (count == m_rowCount)
        return;
    m_rowCount = count;
    m_rowHeights.erase(m_rowHeights.lower_bound(count), m_rowHeights.end());
    m_row = std::clamp(m_row, m_fixedRows, std::max(m_fixedRows, count - 1));
    ClampTopLeft();
    UpdateScrollBars();
    Invalidate();
}

void TCustomGrid::SetFixedCols(std::int32_t count)
{
    count = std::clamp(count, 0, m_colCount);
    if (count == m_fixedCols)
        return;
    m_fixedCols = count;
    m_col = std::max(m_col, count);
    ClampTopLeft();
    UpdateScrollBars();
    Invalidate();
}

void TCustomGrid::SetFixedRows(std::int32_t count)
{
    count = std::clamp(count, 0, m_rowCount);
    if (count == m_fixedRows)
        return;
    m_fixedRows = count;
    m_row = std::max(m_row, count);
    ClampTopLeft();
    UpdateScrollBars();
    Invalidate();
}

void TCustomGrid::SetDefaultColWidth(std::int32_t width)
{
    m_defaultColWidth = width;
    std::fill(m_colWidths.begin(), m_colWidths.end(), width);
    ColWidthsChanged();
    UpdateScrollBars();
    Invalidate();
}

void TCustomGrid::SetDefaultRowHeight(std::int32_t height)
{
    m_defaultRowHeight = height;
    m_rowHeights.clear();
    RowHeightsChanged();
    UpdateScrollBars();
    Invalidate();
}

std::int32_t TCustomGrid::ColWidths(std::int32_t col) const
{
    return col >= 0 && col < m_colCount ? m_colWidths[static_cast<size_t>(col)] : m_defaultColWidth;
}

void TCustomGrid::SetColWidths(std::int32_t col, std::int32_t width)
{
    if (col < 0 || col >= m_colCount || m_colWidths[static_cast<size_t>(col)] == width)
        return;
    m_colWidths[static_cast<size_t>(col)] = width;
    ColWidthsChanged();
    UpdateScrollBars();
    Invalidate();
}

std::int32_t TCustomGrid::RowHeights(std::int32_t row) const
{
    const auto it = m_rowHeights.find(row);
    return it == m_rowHeights.end() ? m_defaultRowHeight : it->second;
}

void TCustomGrid::SetRowHeights(std::int32_t row, std::int32_t height)
{
    if (row < 0 || row >= m_rowCount || RowHeights(row) == height)
        return;
    if (height == m_defaultRowHeight)
        m_rowHeights.erase(row);
    else
        m_rowHeights[row] = height;
    RowHeightsChanged();
    UpdateScrollBars();
    Invalidate();
}

void TCustomGrid::SetOptions(TGridOptions options)
{
    if (options == m_options)
        return;
    m_options = options;
    Invalidate();
}

void TCustomGrid::SetBorderStyle(TBorderStyle style)
{
    m_borderStyle = style;
    Invalidate();
}

int TCustomGrid::ClientWidth() const
{
    return std::max(0, Width() - (m_vscroll->isVisibleTo(Widget()) ? m_vscroll->width() : 0));
}

int TCustomGrid::ClientHeight() const
{
    return std::max(0, Height() - (m_hscroll->isVisibleTo(Widget()) ? m_hscroll->height() : 0));
}

// ------------------------------------------------------------- geometry

namespace {

// Extent of cells [from, to) of a dimension.
template <typename Size>
long long Span(std::int32_t from, std::int32_t to, Size size)
{
    long long total = 0;
    for (std::int32_t i = from; i < to; ++i)
        total += size(i);
    return total;
}

}  // namespace

TRect TCustomGrid::CellRect(std::int32_t col, std::int32_t row) const
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        return {};
    const int cw = ClientWidth(), ch = ClientHeight();
    auto colWidth = [this](std::int32_t c) { return ColWidths(c); };
    auto rowHeight = [this](std::int32_t r) { return RowHeights(r); };
    const long long fixedW = Span(0, m_fixedCols, colWidth);
    const long long fixedH = Span(0, m_fixedRows, rowHeight);

    long long x;
    if (col < m_fixedCols)
        x = Span(0, col, colWidth);
    else if (col >= m_leftCol) {
        x = fixedW;
        for (std::int32_t c = m_leftCol; c < col && x < cw; ++c)
            x += ColWidths(c);
    } else
        return {};
    long long y;
    if (row < m_fixedRows)
        y = Span(0, row, rowHeight);
    else if (row >= m_topRow) {
        y = fixedH;
        // Only rows on screen are walked, whatever the row count.
        for (std::int32_t r = m_topRow; r < row && y < ch; ++r)
            y += RowHeights(r);
    } else
        return {};
    if (x >= cw || y >= ch)
        return {};
    const long long right = std::min<long long>(x + ColWidths(col), cw);
    const long long bottom = std::min<long long>(y + RowHeights(row), ch);
    return Rect(static_cast<int>(x), static_cast<int>(y), static_cast<int>(right), static_cast<int>(bottom));
}

TGridCoord TCustomGrid::MouseCoord(int x, int y) const
{
    const int cw = ClientWidth(), ch = ClientHeight();
    if (x < 0 || y < 0 || x >= cw || y >= ch)
        return {-1, -1};
    std::int32_t col = -1, row = -1;
    long long pos = 0;
    for (std::int32_t c = 0; c < m_fixedCols && col < 0; ++c) {
        if (x < pos + ColWidths(c))
            col = c;
        pos += ColWidths(c);
    }
    for (std::int32_t c = m_leftCol; col < 0 && c < m_colCount && pos <= x; ++c) {
        if (x < pos + ColWidths(c))
            col = c;
        pos += ColWidths(c);
    }
    pos = 0;
    for (std::int32_t r = 0; r < m_fixedRows && row < 0; ++r) {
        if (y < pos + RowHeights(r))
            row = r;
        pos += RowHeights(r);
    }
    for (std::int32_t r = m_topRow; row < 0 && r < m_rowCount && pos <= y; ++r) {
        if (y < pos + RowHeights(r))
            row = r;
        pos += RowHeights(r);
    }
    if (col < 0 || row < 0)
        return {-1, -1};
    return {col, row};
}

TCustomGrid::TGridDrawInfo TCustomGrid::CalcDrawInfo() const
{
    TGridDrawInfo info;
    const int cw = ClientWidth(), ch = ClientHeight();
    long long x = Span(0, m_fixedCols, [this](std::int32_t c) { return ColWidths(c); });
    info.FirstCol = m_leftCol;
    info.LastCol = m_leftCol - 1;
    for (std::int32_t c = m_leftCol; c < m_colCount && x < cw; ++c) {
        x += ColWidths(c);
        info.LastCol = c;
    }
    long long y = Span(0, m_fixedRows, [this](std::int32_t r) { return RowHeights(r); });
    info.FirstRow = m_topRow;
    info.LastRow = m_topRow - 1;
    for (std::int32_t r = m_topRow; r < m_rowCount && y < ch; ++r) {
        y += RowHeights(r);
        info.LastRow = r;
    }
    info.GridWidth = static_cast<int>(std::min<long long>(x, cw));
    info.GridHeight = static_cast<int>(std::min<long long>(y, ch));
    return info;
}

std::int32_t TCustomGrid::VisibleRowCount() const
{
    const int ch = ClientHeight();
    long long y = Span(0, m_fixedRows, [this](std::int32_t r) { return RowHeights(r); });
    std::int32_t n = 0;
    for (std::int32_t r = m_topRow; r < m_rowCount; ++r) {
        y += RowHeights(r);
        if (y > ch)
            break;
        ++n;
    }
    return n;
}

std::int32_t TCustomGrid::VisibleColCount() const
{
    const int cw = ClientWidth();
    long long x = Span(0, m_fixedCols, [this](std::int32_t c) { return ColWidths(c); });
    std::int32_t n = 0;
    for (std::int32_t c = m_leftCol; c < m_colCount; ++c) {
        x += ColWidths(c);
        if (x > cw)
            break;
        ++n;
    }
    return n;
}

std::int32_t TCustomGrid::MaxTopRow() const
{
    // The top row that shows the last row whole at the bottom.
    const long long room = ClientHeight() - Span(0, m_fixedRows, [this](std::int32_t r) { return RowHeights(r); });
    long long used = 0;
    std::int32_t top = m_rowCount;
    // Rows of no height would let the walk cover every row; it stops after
    // as many rows as the screen has pixels.
    for (long long steps = 0; top > m_fixedRows && used + RowHeights(top - 1) <= room && steps <= room + 64; ++steps) {
        used += RowHeights(top - 1);
        --top;
    }
    return std::clamp(top == m_rowCount ? m_rowCount - 1 : top, m_fixedRows, std::max(m_fixedRows, m_rowCount - 1));
}

std::int32_t TCustomGrid::MaxLeftCol() const
{
    const long long room = ClientWidth() - Span(0, m_fixedCols, [this](std::int32_t c) { return ColWidths(c); });
    long long used = 0;
    std::int32_t left = m_colCount;
    while (left > m_fixedCols && used + ColWidths(left - 1) <= room) {
        used += ColWidths(left - 1);
        --left;
    }
    return std::clamp(left == m_colCount ? m_colCount - 1 : left, m_fixedCols, std::max(m_fixedCols, m_colCount - 1));
}

// ------------------------------------------------------------- scrolling

void TCustomGrid::SetTopRow(std::int32_t row)
{
    row = std::clamp(row, m_fixedRows, MaxTopRow());
    if (row == m_topRow)
        return;
    m_topRow = row;
    UpdateScrollBars();
    Invalidate();
    TopLeftChanged();
}

void TCustomGrid::SetLeftCol(std::int32_t col)
{
    col = std::clamp(col, m_fixedCols, MaxLeftCol());
    if (col == m_leftCol)
        return;
    m_leftCol = col;
    UpdateScrollBars();
    Invalidate();
    TopLeftChanged();
}

void TCustomGrid::ClampTopLeft()
{
    const std::int32_t top = std::clamp(m_topRow, m_fixedRows, MaxTopRow());
    const std::int32_t left = std::clamp(m_leftCol, m_fixedCols, MaxLeftCol());
    if (top != m_topRow || left != m_leftCol) {
        m_topRow = top;
        m_leftCol = left;
        Invalidate();
        TopLeftChanged();
    }
}

void TCustomGrid::ScrollIntoView(std::int32_t col, std::int32_t row)
{
    std::int32_t top = m_topRow;
    if (row >= m_fixedRows) {
        if (row < m_topRow)
            top = row;
        else {
            const long long room =
                ClientHeight() - Span(0, m_fixedRows, [this](std::int32_t r) { return RowHeights(r); });
            long long used = RowHeights(row);
            std::int32_t first = row;
            // Walk back from the target only as far as the screen reaches.
            for (long long steps = 0; first > m_fixedRows && used + RowHeights(first - 1) <= room && steps <= room + 64;
                 ++steps)
                used += RowHeights(--first);
            if (m_topRow < first)
                top = first;
        }
    }
    std::int32_t left = m_leftCol;
    if (col >= m_fixedCols) {
        if (col < m_leftCol)
            left = col;
        else {
            const long long room =
                ClientWidth() - Span(0, m_fixedCols, [this](std::int32_t c) { return ColWidths(c); });
            long long used = ColWidths(col);
            std::int32_t first = col;
            while (first > m_fixedCols && used + ColWidths(first - 1) <= room)
                used += ColWidths(--first);
            if (m_leftCol < first)
                left = first;
        }
    }
    top = std::clamp(top, m_fixedRows, std::max(m_fixedRows, m_rowCount - 1));
    left = std::clamp(left, m_fixedCols, std::max(m_fixedCols, m_colCount - 1));
    if (top != m_topRow || left != m_leftCol) {
        m_topRow = top;
        m_leftCol = left;
        UpdateScrollBars();
        Invalidate();
        TopLeftChanged();
    }
}

void TCustomGrid::UpdateScrollBars()
{
    if (m_updatingScrollBars)
        return;
    m_updatingScrollBars = true;
    QWidget* w = Widget();
    // Twice: showing one bar narrows the room for the other.
    for (int pass = 0; pass < 2; ++pass) {
        const bool needV = MaxTopRow() > m_fixedRows || m_topRow > m_fixedRows;
        const bool needH = MaxLeftCol() > m_fixedCols || m_leftCol > m_fixedCols;
        m_vscroll->setVisible(needV);
        m_hscroll->setVisible(needH);
        m_vscroll->setGeometry(w->width() - kScrollBarExtent, 0, kScrollBarExtent,
                               w->height() - (needH ? kScrollBarExtent : 0));
        m_hscroll->setGeometry(0, w->height() - kScrollBarExtent, w->width() - (needV ? kScrollBarExtent : 0),
                               kScrollBarExtent);
    }
    m_vscroll->setRange(m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    m_vscroll->setPageStep(std::max(1, VisibleRowCount()));
    m_vscroll->setValue(m_topRow);
    m_hscroll->setRange(m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    m_hscroll->setPageStep(std::max(1, VisibleColCount()));
    m_hscroll->setValue(m_leftCol);
    m_updatingScrollBars = false;
}

void TCustomGrid::OnScrollBar(bool vertical, int value)
{
    if (m_updatingScrollBars)
        return;
    if (vertical)
        SetTopRow(value);
    else
        SetLeftCol(value);
    Scrolled(vertical);
}

// ------------------------------------------------------------- current cell

bool TCustomGrid::SelectCell(std::int32_t col, std::int32_t row)
{
    bool canSelect = true;
    if (OnSelectCell)
        OnSelectCell(this, col, row, canSelect);
    return canSelect;
}

void TCustomGrid::MoveColRow(std::int32_t col, std::int32_t row, bool /*moveAnchor*/, bool show)
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        throw EInvalidOperation("Grid index out of range");
    if (!SelectCell(col, row))
        return;
    const std::int32_t oldCol = m_col, oldRow = m_row;
    m_col = col;
    m_row = row;
    if (oldCol != col || oldRow != row) {
        InvalidateCell(oldCol, oldRow);
        InvalidateCell(col, row);
    }
    if (show)
        ScrollIntoView(col, row);
}

// ------------------------------------------------------------- painting

void TCustomGrid::InvalidateRect(const TRect& r)
{
    if (!r.IsEmpty() && Widget())
        Widget()->update(r.Left, r.Top, r.Width(), r.Height());
}

void TCustomGrid::InvalidateCell(std::int32_t col, std::int32_t row) { InvalidateRect(CellRect(col, row)); }

void TCustomGrid::InvalidateRow(std::int32_t row)
{
    const TRect first = CellRect(0, row);
    if (!first.IsEmpty())
        InvalidateRect(Rect(0, first.Top, ClientWidth(), first.Bottom));
}

void TCustomGrid::InvalidateCol(std::int32_t col)
{
    TRect r = CellRect(col, 0);
    if (r.IsEmpty())
        r = CellRect(col, m_topRow);
    if (!r.IsEmpty())
        InvalidateRect(Rect(r.Left, 0, r.Right, ClientHeight()));
}

void TCustomGrid::DrawCell(std::int32_t, std::int32_t, const TRect& rect)
{
    Canvas().Brush().SetColor(Color());
    Canvas().FillRect(rect);
}

void TCustomGrid::Paint()
{
    TCanvas& canvas = Canvas();
    canvas.Brush().SetColor(Color());
    canvas.FillRect(Rect(0, 0, ClientWidth(), ClientHeight()));
    const TGridDrawInfo info = CalcDrawInfo();
    auto paintRows = [&](std::int32_t r0, std::int32_t r1) {
        for (std::int32_t r = r0; r <= r1; ++r) {
            for (std::int32_t c = 0; c < m_fixedCols; ++c)
                DrawCell(c, r, CellRect(c, r));
            for (std::int32_t c = info.FirstCol; c <= info.LastCol; ++c)
                DrawCell(c, r, CellRect(c, r));
        }
    };
    paintRows(0, m_fixedRows - 1);
    paintRows(info.FirstRow, info.LastRow);
    if (OnPaint)
        OnPaint(this);
}

void TCustomGrid::Resize()
{
    UpdateScrollBars();
    ClampTopLeft();
    TCustomControl::Resize();
}

bool TCustomGrid::HandleEvent(QEvent* e)
{
    switch (e->type()) {
    case QEvent::FocusIn: {
        const bool r = TCustomControl::HandleEvent(e);
        FocusChanged(true);
        return r;
    }
    case QEvent::FocusOut: {
        const bool r = TCustomControl::HandleEvent(e);
        FocusChanged(false);
        return r;
    }
    case QEvent::Show:
        if (!m_windowCreated) {
            m_windowCreated = true;
            CreateWnd();
        }
        return TCustomControl::HandleEvent(e);
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(e);
        const QPoint p = wheel->position().toPoint();
        m_mousePos = {p.x(), p.y()};
        int delta = wheel->angleDelta().y();
        if (delta == 0)
            delta = wheel->angleDelta().x();
        // Fine-grained wheels report parts of a notch: they add up to one.
        m_wheelRemainder += delta;
        ScopedInputState state(static_cast<int>(wheel->modifiers()), static_cast<int>(wheel->buttons()));
        const TShiftState shift = ShiftStateFromQt(wheel->modifiers(), wheel->buttons());
        for (; m_wheelRemainder >= kWheelNotch; m_wheelRemainder -= kWheelNotch)
            DoMouseWheelUp(shift, m_mousePos);
        for (; m_wheelRemainder <= -kWheelNotch; m_wheelRemainder += kWheelNotch)
            DoMouseWheelDown(shift, m_mousePos);
        return true;
    }
    case QEvent::KeyPress:
        return HandleKeyPress(e);
    case QEvent::KeyRelease: {
        auto* k = static_cast<QKeyEvent*>(e);
        ScopedInputState state(static_cast<int>(k->modifiers()), m_mouseButtons);
        return TCustomControl::HandleEvent(e);
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint p = m->position().toPoint();
        m_mousePos = {p.x(), p.y()};
        m_mouseButtons = static_cast<int>(m->buttons());
        m_mouseModifiers = static_cast<int>(m->modifiers());
        ScopedInputState state(m_mouseModifiers, m_mouseButtons);
        if (e->type() != QEvent::MouseButtonDblClick)
            return TCustomControl::HandleEvent(e);
        // The second press of a double click: the double click first, then
        // the press marked as double, as Windows delivers them.
        DblClick();
        const TMouseButton button =
            m->button() == Qt::RightButton ? mbRight : m->button() == Qt::MiddleButton ? mbMiddle : mbLeft;
        MouseDown(button, ShiftStateFromQt(m->modifiers(), m->buttons()) | ssDouble, p.x(), p.y());
        return false;
    }
    default:
        return TCustomControl::HandleEvent(e);
    }
}

bool TCustomGrid::HandleKeyPress(QEvent* e)
{
    auto* k = static_cast<QKeyEvent*>(e);
    const TGridKey translated = TranslateGridKey(k->key(), k->modifiers(), k->nativeScanCode());
    ScopedInputState state(static_cast<int>(k->modifiers()) | QtModifiersOf(translated.Shift), m_mouseButtons);
    const std::uint32_t code = GetDialogCode();
    // Keys a dialog would take for itself unless the control asks for them:
    // Tab moves the focus, Return and Escape go to the form's buttons.
    const bool tab = translated.Key == VK_TAB;
    if (tab && !(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)))
        return false;
    WORD key = translated.Key;
    if (key)
        KeyDown(key, translated.Shift);
    if ((translated.Key == VK_RETURN || translated.Key == VK_ESCAPE) && !(code & DLGC_WANTALLKEYS))
        return false;
    // Ctrl or Alt alone make no character (both together are AltGr).
    const bool ctrl = k->modifiers() & Qt::ControlModifier;
    const bool alt = k->modifiers() & Qt::AltModifier;
    const std::u32string text = k->text().toStdU32String();
    if (text.size() == 1 && ctrl == alt) {
        std::uint8_t byte = 0;
        if (CharToCp1252(text[0], byte)) {
            char c = static_cast<char>(byte);
            KeyPress(c);
        } else {
            InvalidCharacter();
        }
    }
    return true;
}

void TCustomGrid::StopSelectTimer()
{
    if (m_selectTimer) {
        m_selectTimer->SetEnabled(false);
        m_selectTimer.reset();
    }
}

void TCustomGrid::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (CanFocus())
        SetFocus();
    if (button == mbLeft) {
        const TGridCoord cell = MouseCoord(x, y);
        if (cell.X >= m_fixedCols && cell.Y >= m_fixedRows) {
            m_gridState = GridState::Selecting;
            if (!m_selectTimer) {
                // Made now so that it runs on the clock in force now.
                m_selectTimer = std::make_unique<TTimer>(nullptr);
                m_selectTimer->SetInterval(kSelectTimerMs);
                m_selectTimer->OnTimer = [this](TObject*) {
                    ScopedInputState state(m_mouseModifiers, m_mouseButtons);
                    SelectTimer();
                };
            }
            MoveColRow(cell.X, cell.Y, true, true);
        }
    }
    TCustomControl::MouseDown(button, shift, x, y);
}

void TCustomGrid::MouseMove(TShiftState shift, int x, int y)
{
    if (m_gridState == GridState::Selecting) {
        const TGridCoord cell = MouseCoord(x, y);
        if (cell.X >= m_fixedCols && cell.Y >= m_fixedRows && (cell.X != m_col || cell.Y != m_row))
            MoveColRow(cell.X, cell.Y, false, false);
    }
    TCustomControl::MouseMove(shift, x, y);
}

void TCustomGrid::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (m_gridState == GridState::Selecting) {
        const TGridCoord cell = MouseCoord(x, y);
        if (cell.X >= m_fixedCols && cell.Y >= m_fixedRows && (cell.X != m_col || cell.Y != m_row))
            MoveColRow(cell.X, cell.Y, false, false);
        m_gridState = GridState::Normal;
        StopSelectTimer();
    }
    TCustomControl::MouseUp(button, shift, x, y);
}

void TCustomGrid::CancelMode()
{
    if (m_gridState == GridState::Selecting) {
        m_gridState = GridState::Normal;
        StopSelectTimer();
    }
}

void TCustomGrid::SelectTimer()
{
    if (m_gridState != GridState::Selecting)
        return;
    const TPoint p = m_mousePos;
    const long long fixedW = Span(0, m_fixedCols, [this](std::int32_t c) { return ColWidths(c); });
    const long long fixedH = Span(0, m_fixedRows, [this](std::int32_t r) { return RowHeights(r); });
    // The far edges of the cells shown whole.
    long long fullRight = fixedW;
    for (std::int32_t c = m_leftCol; c < m_colCount && fullRight + ColWidths(c) <= ClientWidth(); ++c)
        fullRight += ColWidths(c);
    long long fullBottom = fixedH;
    for (std::int32_t r = m_topRow; r < m_rowCount && fullBottom + RowHeights(r) <= ClientHeight(); ++r)
        fullBottom += RowHeights(r);
    std::int32_t col = m_col, row = m_row;
    if (p.X < fixedW && col > m_fixedCols)
        --col;
    else if (p.X > fullRight && col < m_colCount - 1)
        ++col;
    if (p.Y < fixedH && row > m_fixedRows)
        --row;
    else if (p.Y > fullBottom && row < m_rowCount - 1)
        ++row;
    if (col != m_col || row != m_row)
        MoveColRow(col, row, true, true);
}

bool TCustomGrid::DoMouseWheelDown(TShiftState, TPoint)
{
    if (m_row < m_rowCount - 1)
        SetRow(m_row + 1);
    return true;
}

bool TCustomGrid::DoMouseWheelUp(TShiftState, TPoint)
{
    if (m_row > m_fixedRows)
        SetRow(m_row - 1);
    return true;
}
