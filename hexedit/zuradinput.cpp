// Keyboard and mouse input of the hex editor control: navigation keys,
// typing into the hex and character fields, presses, drags, the auto-scroll
// of a drag selection, the drop cell and the wheel.
#include "hexedit/zuradhex.h"

#include "vcl/forms.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// ====================================================================== keys

void TCustomZURadUvudod::WrongKey()
{
    if (OnInvalidKey)
        OnInvalidKey(this);
}

void TCustomZURadUvudod::KeyDown(WORD& key, TShiftState shift)
{
    TCustomGrid::KeyDown(key, shift);  // OnKeyDown
    if (shift == 0 && key != VK_SHIFT && !GetInsertMode())
        ResetSelection(true);
    const bool ctrl = (shift & ssCtrl) != 0;
    const bool inChar = GetIsCharFieldCol(Col());
    const std::int32_t visible = VisibleRowCount();
    auto moveTo = [this](std::int32_t col, std::int32_t row) {
        if (col >= 0 && col < ColCount() && row >= 0 && row < RowCount())
            MoveColRow(col, row, true, true);
    };
    auto switchField = [&] { moveTo(std::max(2, GetOtherFieldCol(Col())), Row()); };
    switch (key) {
    case VK_BACK:
        if (GetInsertMode() && !m_readOnlyView) {
            if (m_selAnchor != -1)
                DeleteSelection();
            else
                InternalErase(true);
        } else if (!ctrl) {
            StepLeft(m_selecting);
        }
        break;
    case VK_LEFT:
        if (ctrl)
            moveTo(2, Row());
        else
            StepLeft(m_selecting);
        break;
    case VK_TAB:
        if (shift == 0 || shift == ssShift)
            switchField();
        break;
    case VK_SHIFT:
        if (shift == ssShift || shift == (ssShift | ssCtrl))
            m_selecting = true;
        break;
    case VK_PRIOR:
        if (ctrl) {
            moveTo(Col(), TopRow());
        } else {
            const std::int32_t target = std::max(2, Row() - visible + 1);
            SetTopRow(std::max(2, TopRow() - visible + 1));
            moveTo(Col(), target);
        }
        break;
    case VK_NEXT:
        if (ctrl) {
            moveTo(Col(), std::min(RowCount() - 1, TopRow() + visible - 1));
        } else {
            const std::int32_t target = std::min(RowCount() - 1, Row() + visible - 1);
            SetTopRow(std::min(std::max(2, RowCount() - visible), TopRow() + visible - 1));
            moveTo(Col(), target);
        }
        break;
    case VK_END:
        if (ctrl) {
            MoveCaretTo(LastCaretPos(), inChar);
        } else {
            std::int32_t last = GetPositionAtCursor(2, Row() + 1) - 1;
            TruncMaxPosition(last);
            const TGridCoord cell = GetCursorAtPos(last, inChar);
            moveTo(inChar ? cell.X : cell.X + 1, cell.Y);
        }
        break;
    case VK_HOME:
        if (ctrl)
            MoveCaretTo(0, inChar);
        else
            moveTo(inChar ? 2 * BytesPerRow() + 3 : 2, Row());
        break;
    case VK_UP:
        if (!ctrl && Row() - 1 > 1)
            moveTo(Col(), Row() - 1);
        break;
    case VK_RIGHT:
        if (ctrl)
            moveTo(ColCount() - 1, Row());
        else
            StepRight(m_selecting);
        break;
    case VK_DOWN:
        if (!ctrl && Row() + 1 < RowCount())
            moveTo(Col(), Row() + 1);
        break;
    case VK_INSERT: SetInsertMode(!GetInsertMode()); break;
    case VK_DELETE:
        if (!m_readOnlyView) {
            const bool eraseKey = GetInsertMode() || shift == ssCtrl;
            if (m_selAnchor != -1 && eraseKey)
                DeleteSelection();
            else if (eraseKey)
                InternalErase(false);
        }
        break;
    case 'T':
        if (ctrl)
            switchField();
        break;
    default:
        if (key >= '0' && key <= '9' && ctrl) {
            if (shift & ssShift)
                SetBookmarkVals(key - '0', RawCaretPos(), inChar);
            else
                GotoBookmark(key - '0');
        }
        break;
    }
}

void TCustomZURadUvudod::StepLeft(bool selecting)
{
    const std::int32_t p = GetPosAtCursor(Col(), Row());
    const bool inChar = GetIsCharFieldCol(Col());
    const std::int32_t unit = m_bytesPerUnit;
    std::int32_t q = (selecting || (m_layout.Unicode && inChar)) ? p - unit : p - 1;
    if (inChar) {
        MoveCaretTo(std::max(q, 0), true);
    } else if (selecting) {
        CheckUnit(q);
        MoveCaretTo(std::max(q, 0), false);
    } else if (Col() != GetCursorAtPos(p, false).X) {
        MoveColRow(Col() - 1, Row(), true, true);
    } else if (p - 1 >= 0) {
        const TGridCoord cell = GetCursorAtPos(p - 1, false);
        MoveColRow(cell.X + 1, cell.Y, true, true);
    }
}

void TCustomZURadUvudod::StepRight(bool selecting)
{
    const std::int32_t p = GetPosAtCursor(Col(), Row());
    const bool inChar = GetIsCharFieldCol(Col());
    const std::int32_t size = GetDataSize();
    const std::int32_t unit = m_bytesPerUnit;
    std::int32_t q = (selecting || (m_layout.Unicode && inChar)) ? p + unit : p + 1;
    if (inChar) {
        TruncMaxPosition(q);
        MoveCaretTo(q, true);
    } else if (selecting) {
        CheckUnit(q);
        TruncMaxPosition(q);
        MoveCaretTo(q, false);
    } else if (Col() == GetCursorAtPos(p, false).X && p < size) {
        MoveColRow(Col() + 1, Row(), true, true);
    } else if (p + 1 < size || (p + 1 == size && GetInsertMode())) {
        MoveCaretTo(p + 1, false);
    }
}

void TCustomZURadUvudod::KeyPress(char& key)
{
    TCustomGrid::KeyPress(key);  // OnKeyPress, which may change the key
    const std::uint8_t k = static_cast<std::uint8_t>(key);
    // Control characters (Backspace, Tab, Enter, Escape ...) do nothing here.
    if (m_readOnlyView || m_maskedChars.test(k))
        return;
    if (RawCaretPos() >= GetDataSize() && !GetInsertMode())
        return;
    if (GetIsCharFieldCol(Col()))
        TypeChar(k);
    else
        TypeHexDigit(key);
}

void TCustomZURadUvudod::InvalidCharacter()
{
    // A character the field's code page cannot hold cannot be typed.
    if (m_readOnlyView || (RawCaretPos() >= GetDataSize() && !GetInsertMode()))
        return;
    WrongKey();
}

void TCustomZURadUvudod::TypeChar(std::uint8_t key)
{
    const std::uint8_t k = TranslateFromAnsiChar(key);
    if (m_maskedChars.test(k)) {
        WrongKey();
        return;
    }
    if (!GetInsertMode())
        ResetSelection(true);
    const std::int32_t unit = m_bytesPerUnit;
    std::uint8_t buffer[8] = {};
    if (m_layout.Unicode) {
        char16_t w = AnsiCharToUnicode(k);
        if (m_unicodeBigEndian)
            SwapWideChar(w);
        buffer[0] = static_cast<std::uint8_t>(w & 0xFF);
        buffer[1] = static_cast<std::uint8_t>(w >> 8);
    } else {
        buffer[0] = k;
    }
    const std::int32_t p = RawCaretPos();
    const std::int32_t size = GetDataSize();
    const std::uint8_t* data = m_data.Memory();
    const std::uint8_t old = (size == 0 || p >= size) ? 0 : data[p];
    const char16_t oldWide = (size == 0 || p >= size - 1) ? 0 : static_cast<char16_t>(data[p] | (data[p + 1] << 8));
    if (GetInsertMode()) {
        if (m_selAnchor == -1) {
            if (p == size)
                AppendBuffer(buffer, unit, {}, true);
            else if (p % unit != 0)
                IntChangeByte(old, buffer[0], p, Col(), Row());
            else
                InsertBuffer(buffer, unit, p, {}, false);
            m_selecting = false;
        } else {
            ReplaceSelection(buffer, unit, {}, false);
        }
    } else if (m_layout.Unicode) {
        IntChangeWideChar(oldWide, static_cast<char16_t>(buffer[0] | (buffer[1] << 8)), p, Col(), Row());
    } else {
        IntChangeByte(old, k, p, Col(), Row());
    }
    WORD right = VK_RIGHT;
    KeyDown(right, 0);
}

void TCustomZURadUvudod::TypeHexDigit(char key)
{
    static constexpr char kDigits[] = "0123456789abcdef0123456789ABCDEF";
    if (key == 0 || !std::memchr(kDigits, key, sizeof kDigits - 1)) {
        WrongKey();
        return;
    }
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
    const std::uint8_t digit = static_cast<std::uint8_t>(upper <= '9' ? upper - '0' : upper - 'A' + 10);
    if (!GetInsertMode())
        ResetSelection(true);
    const std::int32_t p = RawCaretPos();
    const std::int32_t size = GetDataSize();
    const std::uint8_t old = p < size ? m_data.Memory()[p] : 0;
    const bool highColumn = Col() - (m_swapNibbles ? 1 : 0) == GetCursorAtPos(p, false).X;
    const bool hasSelection = m_selAnchor != -1;
    const std::uint8_t value = (highColumn || hasSelection) ? static_cast<std::uint8_t>(digit * 16 + (old & 0x0F))
                                                            : static_cast<std::uint8_t>((old & 0xF0) + digit);
    const std::int32_t unit = m_bytesPerUnit;
    WORD right = VK_RIGHT;
    if (GetInsertMode() && ((Col() - 2) % (2 * unit) == 0 || hasSelection)) {
        // A new unit: the digit goes into the nibble shown first.
        std::uint8_t buffer[8] = {};
        if (hasSelection)
            buffer[0] = m_swapNibbles ? digit : static_cast<std::uint8_t>(digit << 4);
        else
            buffer[0] = m_swapNibbles ? static_cast<std::uint8_t>(value & 0x0F) : static_cast<std::uint8_t>(value & 0xF0);
        if (size == 0)
            AppendBuffer(buffer, unit, {}, false);
        else if (hasSelection)
            ReplaceSelection(buffer, unit, {}, false);
        else
            InsertBuffer(buffer, unit, p, {}, false);
        m_selecting = false;
        KeyDown(right, 0);
    } else if (p < size) {
        IntChangeByte(old, value, p, Col(), Row());
        m_selecting = false;
        KeyDown(right, 0);
    }
}

// ====================================================================== mouse

TGridCoord TCustomZURadUvudod::CheckMouseCoord(int& x, int& y)
{
    TGridCoord cell = MouseCoord(x, y);
    if (!m_insertMode || cell.X < 0 || cell.Y < 0 || cell.Y + 1 >= RowCount())
        return cell;
    const std::int32_t lastChar = ColCount() - 1;
    const std::int32_t lastHex = 2 * BytesPerRow() + 1;
    if (cell.X != lastChar && cell.X != lastHex)
        return cell;
    const TRect r = CellRect(cell.X, cell.Y);
    if (x <= r.Left + m_charWidth)
        return cell;
    // Behind the end of a row: the insert position before the next row's
    // first byte.
    const std::int32_t first = cell.X == lastChar ? 2 * BytesPerRow() + 3 : 2;
    const TRect f = CellRect(first, cell.Y);
    y += RowHeights(cell.Y);
    if (!f.IsEmpty())
        x = f.Left;
    return GridCoord(first, cell.Y + 1);
}

bool TCustomZURadUvudod::CursorOverSelection(int x, int y)
{
    const TGridCoord cell = MouseCoord(x, y);
    if (cell.X < 2 || cell.Y < 2 || cell.X == 2 * BytesPerRow() + 2)
        return false;
    const std::int32_t pos = GetPositionAtCursor(cell.X, cell.Y);
    return pos < GetDataSize() && IsSelected(pos);
}

bool TCustomZURadUvudod::GetMouseOverSelection()
{
    const TPoint p = MousePos();
    return CursorOverSelection(p.X, p.Y);
}

bool TCustomZURadUvudod::MouseOverFixed(int x, int y) const
{
    const TGridCoord cell = MouseCoord(x, y);
    return cell.X < 2 || cell.Y < 2;
}

void TCustomZURadUvudod::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    m_selecting = false;
    m_pressOnSelection = false;
    TGridCoord cell{-1, -1};
    if (button == mbLeft)
        cell = CheckMouseCoord(x, y);
    const bool overSelection = GetMouseOverSelection();
    const bool skipGrid = overSelection || MouseOverFixed(x, y);
    if (skipGrid) {
        // The control takes the focus where it may, and always when no form
        // holds it (it is a window of its own then).
        if (!IsDesigning() && (CanFocus() || !GetParentForm(this)))
            SetFocus();
    } else {
        TCustomGrid::MouseDown(button, shift, x, y);
    }
    // A press on the control that its form would focus anyway, while
    // another window is active, brings its window to the front with it.
    if (TForm* form = GetParentForm(this); form && form->ActiveControl() == this && !form->Active() && Widget())
        FocusWindow();
    if (button == mbLeft && !overSelection && cell.X > 1 && cell.Y > 1) {
        ResetSelection(true);
        // A drag from here extends the selection from the pressed byte.
        if (!(shift & ssDouble))
            m_selecting = true;
    }
    if (button == mbLeft && overSelection) {
        m_pressPoint = {x, y};
        m_pressOnSelection = true;
    }
    if (skipGrid && OnMouseDown && Focused())
        OnMouseDown(this, button, shift, x, y);
}

void TCustomZURadUvudod::MouseMove(TShiftState shift, int x, int y)
{
    if (shift == ssLeft)
        CheckMouseCoord(x, y);
    TCustomGrid::MouseMove(shift, x, y);
    if (m_pressOnSelection && (x != m_pressPoint.X || y != m_pressPoint.Y))
        m_pressOnSelection = false;
    if (shift == 0)
        SetCursor(CursorOverSelection(x, y) || MouseOverFixed(x, y) ? TCursor::crArrow : TCursor::crIBeam);
}

void TCustomZURadUvudod::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    CheckMouseCoord(x, y);
    TCustomGrid::MouseUp(button, shift, x, y);
    if (m_pressOnSelection) {
        // A click on the selection without a drag puts the caret there.
        m_pressOnSelection = false;
        ResetSelection(true);
        const TGridCoord cell = MouseCoord(x, y);
        if (cell.X >= 2 && cell.Y >= 2)
            MoveColRow(cell.X, cell.Y, true, true);
    }
    if (m_showDragCell)
        HideDragCell();
}

void TCustomZURadUvudod::CancelMode()
{
    m_selecting = false;
    TCustomGrid::CancelMode();
}

void TCustomZURadUvudod::SelectTimer()
{
    if (!GridSelecting())
        return;
    const TPoint p = MousePos();
    int x = p.X, y = p.Y;
    const TGridCoord cell = CheckMouseCoord(x, y);
    if (cell.X != -1 && cell.Y != -1)
        TCustomGrid::SelectTimer();
}

std::int32_t TCustomZURadUvudod::ShowDragCell(int x, int y)
{
    const TGridCoord hit = MouseCoord(x, y);
    const std::int32_t col = std::max(hit.X, 2);
    const std::int32_t row = std::clamp(hit.Y, 2, std::max(2, RowCount() - 1));
    const std::int32_t size = GetDataSize();
    std::int32_t drop = std::clamp(GetPositionAtCursor(col, row), 0, size);
    if (IsSelected(drop))
        drop = m_selStart;
    CheckUnit(drop);
    m_showDragCell = true;
    const std::int32_t rows = VisibleRowCount();
    if (hit.Y <= TopRow() && hit.Y >= 3)
        SetTopRow(TopRow() - 1);
    else if (hit.Y >= TopRow() + rows - 1 && hit.Y < RowCount() - 1)
        SetTopRow(TopRow() + 1);
    const std::int32_t cols = VisibleColCount();
    if (hit.X <= LeftCol() && hit.X >= 3)
        SetLeftCol(LeftCol() - 1);
    else if (hit.X >= LeftCol() + cols - 1 && hit.X < ColCount() - 1)
        SetLeftCol(LeftCol() + 1);
    const TGridCoord cell = GetCursorAtPos(drop, GetIsCharFieldCol(Col()));
    if (!(cell == m_dragCell)) {
        InvalidateCell(m_dragCell.X, m_dragCell.Y);
        m_dragCell = cell;
        InvalidateCell(cell.X, cell.Y);
    }
    return drop;
}

void TCustomZURadUvudod::HideDragCell()
{
    m_showDragCell = false;
    Invalidate();
}

// ====================================================================== wheel

bool TCustomZURadUvudod::DoMouseWheelDown(TShiftState shift, TPoint mousePos)
{
    if (shift != 0)
        return TCustomGrid::DoMouseWheelDown(shift, mousePos);
    const std::int32_t page = std::max(1, VisibleRowCount() - 1);
    SetTopRow(std::min(std::max(2, RowCount() - VisibleRowCount()), TopRow() + page));
    CheckSetCaret();
    return true;
}

bool TCustomZURadUvudod::DoMouseWheelUp(TShiftState shift, TPoint mousePos)
{
    if (shift != 0)
        return TCustomGrid::DoMouseWheelUp(shift, mousePos);
    const std::int32_t page = std::max(1, VisibleRowCount() - 1);
    SetTopRow(std::max(2, TopRow() - page));
    CheckSetCaret();
    return true;
}
