// The hex editor control's caret and selection: moving the caret between
// cells, the selection's anchor and ends, the editing modes, and keeping
// two views in step.
#include "hexedit/zuradhex.h"

#include "vcl/caret.h"

#include <algorithm>

// ====================================================================== caret and selection

void TCustomZURadUvudod::IntSetCaretPos(int x, int y, std::int32_t col)
{
    if (!HasFocus())
        return;
    if (col != -1) {
        const bool inChar = GetIsCharFieldCol(col);
        if (inChar != m_lastCaretField) {
            m_lastCaretField = inChar;
            Invalidate();
        }
    }
    SetCaretPos(x, y);
}

void TCustomZURadUvudod::MoveCaretTo(std::int32_t pos, bool inCharField)
{
    const TGridCoord c = GetCursorAtPos(pos, inCharField);
    if (c.X < ColCount() && c.Y < RowCount())
        MoveColRow(c.X, c.Y, true, true);
}

bool TCustomZURadUvudod::SelectCell(std::int32_t col, std::int32_t row)
{
    const std::int32_t B = m_layout.BytesPerRow;
    const std::int32_t size = GetDataSize();
    if (size == 0) {
        const std::int32_t firstChar = std::max(2, 2 * B + 3);
        if (row == 2 && (col == 2 || col == firstChar)) {
            m_inCharField = GetIsCharFieldCol(col);
            PlaceCaretOnCell(col, row);
            return true;
        }
        return false;
    }
    if (!CheckSelectCell(col, row))
        return false;
    if (col != Col() || row != Row()) {
        InvalidateCell(GetOtherFieldColCheck(Col()), Row());
        InvalidateCell(GetOtherFieldColCheck(col), row);
        if (m_showRuler && col != Col()) {
            InvalidateCell(GetOtherFieldColCheck(Col()), 0);
            InvalidateCell(GetOtherFieldColCheck(col), 0);
            InvalidateCell(Col(), 0);
            InvalidateCell(col, 0);
        }
        if (row != Row()) {
            InvalidateCell(0, Row());
            InvalidateCell(0, row);
        }
    }
    if (m_selecting) {
        std::int32_t n = GetPositionAtCursor(col, row);
        const std::int32_t c = GetPositionAtCursor(Col(), Row());
        if (m_extendOrigin == -1)
            m_extendOrigin = c;
        const std::int32_t u = m_bytesPerUnit;
        auto alignDown = [u](std::int32_t p) { return (p / u) * u; };
        auto resetKeepSelecting = [&](std::int32_t origin) {
            ResetSelection(true);
            m_extendOrigin = origin;
            m_selecting = true;
        };
        if (GetInsertMode()) {
            if (n < m_extendOrigin) {
                const std::int32_t o = alignDown(m_extendOrigin);
                n = alignDown(n);
                if (o == n)
                    resetKeepSelecting(n);
                else
                    NewSelection(o - u, n);
            } else if (n == m_extendOrigin) {
                resetKeepSelecting(n);
            } else {
                const std::int32_t o = alignDown(m_extendOrigin);
                n = alignDown(n);
                if (o == n)
                    resetKeepSelecting(n);
                else
                    NewSelection(o, n - u);
            }
        } else {
            NewSelection(m_extendOrigin, n);
        }
    } else {
        ResetSelection(true);
    }
    PlaceCaretOnCell(col, row);
    SelectionChanged();
    return true;
}

bool TCustomZURadUvudod::CheckSelectCell(std::int32_t col, std::int32_t row)
{
    bool ok = TCustomGrid::SelectCell(col, row);
    if (!m_selectCellGuard || !ok)
        return ok;
    m_selectCellGuard = false;
    try {
        const bool shiftDown = (GetKeyState(VK_SHIFT) & ~1) != 0;
        const bool leftDown = (GetKeyState(VK_LBUTTON) & ~1) != 0;
        if (!shiftDown && !leftDown)
            ResetSelection(true);
        const std::int32_t size = GetDataSize();
        const std::int32_t p = GetPosAtCursor(col, row);
        const bool inChar = GetIsCharFieldCol(col);
        const bool valid =
            p < size || (GetInsertMode() && p == size && (inChar || (col - 2) % 2 == 0));
        if (valid && col == 2 * m_layout.BytesPerRow + 2) {
            ok = false;
            if (leftDown)
                MoveColRow(std::max(2, col - 1), row, true, true);
        } else if (!valid) {
            ok = false;
            MoveCaretTo(GetInsertMode() ? size : size - 1, GetIsCharFieldCol(Col()));
        }
    } catch (...) {
        m_selectCellGuard = true;
        throw;
    }
    m_selectCellGuard = true;
    return ok;
}

void TCustomZURadUvudod::NewSelection(std::int32_t a, std::int32_t b)
{
    CheckSelectUnit(a, b);
    const std::int32_t oldStart = m_selStart, oldEnd = m_selEnd, oldAnchor = m_selAnchor;
    SetSelection(a, std::min(a, b), std::max(a, b));
    if (oldAnchor == -1)
        RedrawPos(m_selStart, m_selEnd);
    else {
        RedrawPos(std::min(m_selStart, oldStart), std::max(m_selStart, oldStart));
        RedrawPos(std::min(oldEnd, m_selEnd), std::max(oldEnd, m_selEnd));
    }
    SelectionChanged();
}

void TCustomZURadUvudod::Select(std::int32_t fromCol, std::int32_t fromRow, std::int32_t toCol, std::int32_t toRow)
{
    const std::int32_t from = m_selAnchor != -1 ? m_selAnchor : GetPositionAtCursor(fromCol, fromRow);
    NewSelection(from, GetPositionAtCursor(toCol, toRow));
}

void TCustomZURadUvudod::ResetSelection(bool redraw)
{
    m_selecting = false;
    const std::int32_t oldStart = m_selStart, oldEnd = m_selEnd;
    SetSelection(-1, -1, -1);
    m_extendOrigin = -1;
    if (redraw && oldStart >= 0)
        RedrawPos(oldStart, oldEnd);
}

void TCustomZURadUvudod::SetSelection(std::int32_t anchor, std::int32_t start, std::int32_t end)
{
    const std::int32_t last = GetDataSize() - 1;
    auto clamp = [last](std::int32_t v) { return std::max(-1, std::min(v, last)); };
    m_selEnd = clamp(end);
    m_selAnchor = clamp(anchor);
    m_selStart = clamp(start);
}

void TCustomZURadUvudod::RedrawPos(std::int32_t from, std::int32_t to)
{
    if (from < 0 || to < 0)
        return;
    const std::int32_t r1 = std::max(GetRow(std::min(from, to)), TopRow());
    const std::int32_t r2 = std::min(GetRow(std::max(from, to)), CalcDrawInfo().LastRow);
    if (r1 > r2)
        return;
    const TRect top = CellRect(0, r1);
    const TRect bottom = CellRect(0, r2);
    if (top.IsEmpty() || bottom.IsEmpty())
        return;
    InvalidateRect(Rect(ColWidths(0) + ColWidths(1), top.Top, ClientWidth(), bottom.Bottom));
}

void TCustomZURadUvudod::InternalGetCurSel(std::int32_t& start, std::int32_t& stop, std::int32_t& col,
                                           std::int32_t& row)
{
    CurSelRange(start, stop, col, row);
    m_changes.Cut(start);
}

void TCustomZURadUvudod::CurSelRange(std::int32_t& start, std::int32_t& stop, std::int32_t& col,
                                     std::int32_t& row) const
{
    if (m_selAnchor == -1) {
        start = GetPositionAtCursor(Col(), Row());
        stop = start + 1;
        col = Col();
        row = Row();
    } else {
        start = m_selStart;
        stop = m_selEnd + 1;
        const TGridCoord c = GetCursorAtPos(start, GetIsCharFieldCol(Col()));
        col = c.X;
        row = c.Y;
    }
}

std::int32_t TCustomZURadUvudod::GetSelStart() const { return m_selAnchor == -1 ? GetCursorPos() : m_selAnchor; }

std::int32_t TCustomZURadUvudod::GetSelEnd() const
{
    if (m_selAnchor == -1)
        return GetCursorPos();
    return m_selAnchor == m_selEnd ? m_selStart : m_selEnd;
}

void TCustomZURadUvudod::SetSelStart(std::int32_t pos)
{
    if (pos < 0 || pos >= GetDataSize())
        throw EZURadUvudod(zaz_text::kInvalidSelStart);
    ResetSelection(true);
    MoveCaretTo(pos, GetInCharField());
}

void TCustomZURadUvudod::SetSelEnd(std::int32_t pos)
{
    if (pos < -1 || pos >= GetDataSize())
        throw EZURadUvudod(zaz_text::kInvalidSelEnd);
    ResetSelection(true);
    if (pos >= 0) {
        const TGridCoord to = GetCursorAtPos(pos, GetInCharField());
        Select(Col(), Row(), to.X, to.Y);
        SelectionChanged();
    }
}

void TCustomZURadUvudod::SelectAll()
{
    const std::int32_t size = GetDataSize();
    if (size == 0)
        return;
    MoveCaretTo(GetInsertMode() ? size : size - 1, GetInCharField());
    NewSelection(0, size - 1);
}

std::int32_t TCustomZURadUvudod::GetCursorPos() const
{
    return std::clamp(GetPositionAtCursor(Col(), Row()), 0, std::max(0, GetDataSize() - 1));
}

void TCustomZURadUvudod::TruncMaxPosition(std::int32_t& pos) const
{
    const std::int32_t size = GetDataSize();
    if (pos >= size)
        pos = GetInsertMode() ? size : size - 1;
}

bool TCustomZURadUvudod::GetInCharField() const
{
    if (GetDataSize() == 0)
        return false;
    return GetIsCharFieldCol(Col());
}

void TCustomZURadUvudod::SetInCharField(bool value)
{
    if (GetDataSize() == 0 || value == GetInCharField())
        return;
    MoveColRow(GetOtherFieldCol(Col()), Row(), true, true);
}

std::int32_t TCustomZURadUvudod::GetTopLeftPosition(bool& inCharField) const
{
    inCharField = GetInCharField();
    return GetPositionAtCursor(std::max(LeftCol(), 2), TopRow());
}

void TCustomZURadUvudod::SetTopLeftPosition(std::int32_t pos, bool inCharField)
{
    const TGridCoord c = GetCursorAtPos(pos, inCharField);
    SetTopRow(c.Y);
    SetLeftCol(c.X);
}

void TCustomZURadUvudod::SetInsertMode(bool value)
{
    if (value == m_insertMode || !IsInsertModePossible())
        return;
    const std::int32_t size = GetDataSize();
    const bool onEndSlot = size > 0 && GetPositionAtCursor(Col(), Row()) >= size;
    m_insertMode = value;
    if (m_caretKind == ckAuto && HasFocus()) {
        CreateCaretGlyph();
        CheckSetCaret();
    }
    // The caret's reach changes (the end slot comes or goes): those who
    // show the caret's state hear of it with the selection's changes.
    SelectionChanged();
    if (size == 0)
        return;
    if (size % m_layout.BytesPerRow == 0) {
        if (value)
            SetRowCount(RowCount() + 1);
        else {
            if (onEndSlot)
                SetSelStart(size - 1);
            SetRowCount(RowCount() - 1);
        }
    } else if (!value && onEndSlot) {
        SetSelStart(size - 1);
    }
    m_changes.Clear();
    Invalidate();
}

void TCustomZURadUvudod::SetAllowInsertMode(bool value)
{
    if (!value && m_insertMode)
        SetInsertMode(false);
    m_allowInsertMode = value;
}

void TCustomZURadUvudod::SetFixedFileSize(bool value)
{
    if (value == m_noSizeChange)
        return;
    if (value)
        SetInsertMode(false);
    m_noSizeChange = value;
}

void TCustomZURadUvudod::SetReadOnlyView(bool value)
{
    if (value == m_readOnlyView)
        return;
    m_readOnlyView = value;
    if (m_caretKind == ckAuto && HasFocus()) {
        CreateCaretGlyph();
        CheckSetCaret();
    }
}

void TCustomZURadUvudod::SetHideSelection(bool value)
{
    if (value == m_hideSelection)
        return;
    m_hideSelection = value;
    if (!HasFocus() && GetSelCount() > 0)
        Invalidate();
}

void TCustomZURadUvudod::SetGraySelectionIfNotFocused(bool value)
{
    if (value == m_graySelection)
        return;
    m_graySelection = value;
    if (!HasFocus() && GetSelCount() > 0 && !m_hideSelection)
        Invalidate();
}

void TCustomZURadUvudod::SetShowPositionIfNotFocused(bool value)
{
    if (value == m_showPositionIfNotFocused)
        return;
    m_showPositionIfNotFocused = value;
    Invalidate();
}

void TCustomZURadUvudod::SyncView(TCustomZURadUvudod& source, std::int32_t offset)
{
    const std::int32_t size = GetDataSize();
    auto cut = [size](std::int64_t p) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(p, 0, std::max(0, size - 1)));
    };
    const bool differ = source.BytesPerRow() != BytesPerRow() || source.BytesPerColumn() != BytesPerColumn() ||
                        source.BytesPerUnit() != BytesPerUnit() || source.GetDataSize() != size || offset != 0;
    const bool sourceField = source.GetIsCharFieldCol(source.Col());
    if (differ) {
        const TRect r = source.CellRect(source.Col(), source.Row());
        if (r.Left + r.Bottom != 0) {
            MoveCaretTo(cut(static_cast<std::int64_t>(source.GetCursorPos()) + offset), sourceField);
        } else {
            const std::int32_t p = cut(
                static_cast<std::int64_t>(source.GetPositionAtCursor(std::max(source.LeftCol(), 2), source.TopRow())) +
                offset);
            const TGridCoord c = GetCursorAtPos(p, sourceField);
            SetLeftCol(c.X);
            SetTopRow(c.Y);
        }
    } else {
        SetTopRow(source.TopRow());
        SetLeftCol(source.LeftCol());
        MoveColRow(source.Col(), source.Row(), true, false);
    }
    if (source.SelAnchor() != -1)
        NewSelection(cut(static_cast<std::int64_t>(source.SelFirst()) + offset),
                     cut(static_cast<std::int64_t>(source.SelLast()) + offset));
    else if (m_selAnchor != -1)
        ResetSelection(true);
}
