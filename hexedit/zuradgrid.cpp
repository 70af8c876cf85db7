// The hex editor control's grid: column and row layout, metrics, the layout
// properties, the cell-to-position mapping and the offset gutter's texts.
#include "hexedit/zuradhex.h"

#include "vcl/caret.h"

#include <algorithm>

// ====================================================================== layout

void TCustomZURadUvudod::SetRulerString()
{
    MakeRulerStrings(m_layout.BytesPerRow, m_layout.RulerUnit, m_layout.Unicode, m_rulerNumberBase, m_hexLowerCase,
                     m_hexRuler, m_charRuler);
}

void TCustomZURadUvudod::CalcSizes()
{
    const std::int32_t size = GetDataSize();
    m_changes.Cut(size);
    SetColCount(CalcColCount());
    SetRowCount(m_layout.RowCount(size, GetInsertMode()));
    SetFixedCols(2);
    SetFixedRows(2);
    AdjustMetrics();
}

void TCustomZURadUvudod::AdjustMetrics()
{
    Canvas().Font().Assign(Font());
    m_charWidth = std::max(1, Canvas().TextWidth("w"));
    const std::int32_t rowHeight = Canvas().TextHeight("yY") + 2;
    SetOffsetDisplayWidth();
    SetColWidths(1, 6);
    const auto widths = m_layout.ColumnWidths(m_charWidth);
    for (std::int32_t c = 2; c < static_cast<std::int32_t>(widths.size()); ++c)
        SetColWidths(c, widths[static_cast<size_t>(c)]);
    if (DefaultRowHeight() != rowHeight)
        SetDefaultRowHeight(rowHeight);
    SetRowHeights(0, m_showRuler ? rowHeight + 3 : 0);
    SetRowHeights(1, 0);
    CheckSetCaret();
}

void TCustomZURadUvudod::SetOffsetDisplayWidth()
{
    const std::int32_t rows = std::max(0, RowCount() - 3);
    const auto reference = static_cast<std::uint32_t>(static_cast<std::int64_t>(rows) * m_layout.BytesPerRow);
    std::size_t length;
    if (OnGetOffsetText && !m_inOffsetEvent) {
        std::string text;
        m_inOffsetEvent = true;
        m_isMaxOffset = true;
        m_offsetEventUsed = true;
        try {
            OnGetOffsetText(this, reference, text);
        } catch (...) {
            m_inOffsetEvent = false;
            m_isMaxOffset = false;
            throw;
        }
        m_inOffsetEvent = false;
        m_isMaxOffset = false;
        length = text.size();
    } else {
        if (m_offsetFormat.Flags & offCalcWidth)
            m_offsetFormat.CalcWidth(reference);
        length = GetOffsetString(reference).size();
    }
    m_offsetLength = static_cast<std::int32_t>(length) + 1;
    SetColWidths(0, m_gutterWidth == -1 ? m_offsetLength * m_charWidth + 21 : m_gutterWidth);
}

void TCustomZURadUvudod::SetBytesPerRow(std::int32_t value)
{
    if (value == m_layout.BytesPerRow)
        return;
    if (value < 1 || value > 256 || (m_layout.Unicode && value % 2 != 0))
        throw EZURadUvudod(zaz_text::kInvalidBytesPerLine);
    if ((m_offsetFormat.Flags & offCalcRow) && value > 255)
        throw ERangeError("Range check error");
    const std::int32_t anchor = m_selAnchor, start = m_selStart, end = m_selEnd;
    const bool field = GetIsCharFieldCol(Col());
    std::int32_t pos = GetPositionAtCursor(Col(), Row());
    const bool lowNibble = Col() != GetCursorAtPos(pos, field).X;
    m_layout.BytesPerRow = value;
    if (m_offsetFormat.Flags & offCalcRow)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(value);
    SetRulerString();
    CalcSizes();
    if (pos >= GetDataSize())
        pos = GetDataSize() - 1;
    TGridCoord cell = GetCursorAtPos(pos, field);
    if (lowNibble)
        ++cell.X;
    MoveColRow(cell.X, cell.Y, true, true);
    SetSelection(anchor, start, end);
    Invalidate();
}

void TCustomZURadUvudod::SetBytesPerColumn(std::int32_t value)
{
    if (value == m_layout.BytesPerColumn)
        return;
    if (value < 1 || value > 256 || (m_layout.Unicode && value % 2 != 0))
        throw EZURadUvudod(zaz_text::kInvalidBytesPerColumn);
    if ((m_offsetFormat.Flags & offCalcColumn) && value > 255)
        throw ERangeError("Range check error");
    m_layout.BytesPerColumn = value;
    if (m_offsetFormat.Flags & offCalcColumn)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(value);
    AdjustMetrics();
    SetRulerString();
    Invalidate();
}

void TCustomZURadUvudod::SetBytesPerUnit(std::int32_t value)
{
    if (value == m_bytesPerUnit)
        return;
    if (m_layout.Unicode && value != 2)
        throw EZURadUvudod(zaz_text::kUnicodeUnit);
    if (value != 1 && value != 2 && value != 4 && value != 8)
        throw EZURadUvudod(Format(zaz_text::kInvalidBytesPerUnit, value));
    m_bytesPerUnit = value;
    if (m_rulerBytesPerUnit == -1)
        m_layout.RulerUnit = value;
    if (m_offsetFormat.Flags & offBytesPerUnit)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(m_layout.RulerUnit);
    AdjustMetrics();
    SetRulerString();
    if (GetSelCount() % value != 0)
        SetSelection(-1, -1, -1);
    Invalidate();
}

void TCustomZURadUvudod::SetRulerBytesPerUnit(std::int32_t value)
{
    if (value == m_rulerBytesPerUnit)
        return;
    if (value != -1 && value != 1 && value != 2 && value != 4 && value != 8)
        throw EZURadUvudod(Format(zaz_text::kInvalidRulerUnit, value));
    m_rulerBytesPerUnit = value;
    m_layout.RulerUnit = value == -1 ? m_bytesPerUnit : value;
    if (m_offsetFormat.Flags & offBytesPerUnit)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(m_layout.RulerUnit);
    AdjustMetrics();
    SetRulerString();
    Invalidate();
}

void TCustomZURadUvudod::SetBytesPerBlock(std::int32_t value)
{
    if (value == m_layout.BytesPerBlock)
        return;
    m_layout.BytesPerBlock = value;
    AdjustMetrics();
}

void TCustomZURadUvudod::SetSeparateBlocksInCharField(bool value)
{
    if (value == m_layout.SeparateBlocksInCharField)
        return;
    m_layout.SeparateBlocksInCharField = value;
    // Both ways at once, so the character field never keeps stale gaps.
    if (m_layout.BytesPerBlock > 1)
        AdjustMetrics();
}

void TCustomZURadUvudod::SetShowRuler(bool value)
{
    if (value == m_showRuler && !IsLoading())
        return;
    m_showRuler = value;
    AdjustMetrics();
}

void TCustomZURadUvudod::SetRulerNumberBase(std::int32_t value)
{
    if (value < 2 || value > 16)
        value = 16;
    if (value == m_rulerNumberBase)
        return;
    m_rulerNumberBase = value;
    SetRulerString();
    if (m_showRuler)
        Invalidate();
}

void TCustomZURadUvudod::SetGutterWidth(std::int32_t value)
{
    if (value == m_gutterWidth)
        return;
    m_gutterWidth = value < 0 ? -1 : value;
    SetOffsetDisplayWidth();
    Invalidate();
}

void TCustomZURadUvudod::SetUnicodeChars(bool value)
{
    if (value == m_layout.Unicode)
        return;
    if (value) {
        if (m_layout.BytesPerRow % 2 != 0)
            throw EZURadUvudod(zaz_text::kInvalidBytesPerLine);
        if (m_layout.BytesPerColumn % 2 != 0)
            throw EZURadUvudod(zaz_text::kInvalidBytesPerColumn);
        if (GetDataSize() % 2 != 0)
            throw EZURadUvudod(zaz_text::kOddUnicode);
        m_translation = tkAsIs;
    }
    // The caret keeps its byte and field: a character column means another
    // byte once the characters change their width.
    const bool field = GetIsCharFieldCol(Col());
    const std::int32_t pos = GetPositionAtCursor(Col(), Row());
    m_layout.Unicode = value;
    SetColCount(CalcColCount());
    SetBytesPerUnit(value ? 2 : 1);
    CalcSizes();
    SetRulerString();
    const std::int32_t anchor = m_selAnchor, start = m_selStart, end = m_selEnd;
    std::int32_t target = std::clamp(pos, 0, LastCaretPos());
    CheckUnit(target);
    const TGridCoord cell = GetCursorAtPos(target, field);
    MoveColRow(cell.X, cell.Y, true, true);
    SetSelection(anchor, start, end);
    Invalidate();
}

void TCustomZURadUvudod::SetUnicodeBigEndian(bool value)
{
    if (value == m_unicodeBigEndian)
        return;
    m_unicodeBigEndian = value;
    if (m_layout.Unicode)
        Invalidate();
}

void TCustomZURadUvudod::CreateCaretGlyph()
{
    if (CaretOwner() == this)
        DestroyCaret();
    const int h = std::max(1, DefaultRowHeight() - 2);
    const int w = std::max(1, m_charWidth);
    m_caretBitmap->SetSize(w, h);
    TCanvas& c = m_caretBitmap->Canvas();
    c.Brush().SetColor(clBlack);
    c.FillRect(Rect(0, 0, w, h));
    TZAZCaretKind kind = m_caretKind;
    if (kind == ckAuto)
        kind = m_readOnlyView ? ckBottom : (m_insertMode ? ckLeft : ckFull);
    TRect mark = Rect(0, 0, w, h);
    if (kind == ckLeft)
        mark = Rect(0, 0, std::min(2, w), h);
    else if (kind == ckBottom)
        mark = Rect(0, std::max(0, h - 2), w, h);
    c.Brush().SetColor(clWhite);
    c.FillRect(mark);
    CreateCaret(this, m_caretBitmap.get(), w, h);
    ShowCaret(this);
}

void TCustomZURadUvudod::CheckSetCaret() { PlaceCaretOnCell(Col(), Row()); }

void TCustomZURadUvudod::PlaceCaretOnCell(std::int32_t col, std::int32_t row)
{
    const TRect r = CellRect(col, row);
    if (r.Left + r.Bottom == 0)
        IntSetCaretPos(-50, -50, -1);
    else
        IntSetCaretPos(r.Left, r.Top, col);
}

std::int32_t TCustomZURadUvudod::GetPosAtCursor(std::int32_t col, std::int32_t row)
{
    m_inCharField = GetIsCharFieldCol(col);
    return m_layout.PositionAt(col, row);
}

std::int32_t TCustomZURadUvudod::GetPositionAtCursor(std::int32_t col, std::int32_t row) const
{
    return m_layout.PositionAt(col, row);
}

TGridCoord TCustomZURadUvudod::GetCursorAtPos(std::int32_t pos, bool inCharField) const
{
    TGridCoord c;
    m_layout.CellAt(pos, inCharField, c.X, c.Y);
    return c;
}

std::int32_t TCustomZURadUvudod::GetOtherFieldCol(std::int32_t col)
{
    m_inCharField = GetIsCharFieldCol(col);
    return m_layout.OtherFieldCol(col);
}

void TCustomZURadUvudod::CheckUnit(std::int32_t& pos) const { pos = (pos / m_bytesPerUnit) * m_bytesPerUnit; }

void TCustomZURadUvudod::CheckSelectUnit(std::int32_t& start, std::int32_t& end) const
{
    CheckUnit(start);
    CheckUnit(end);
    const std::int32_t last = GetDataSize() - 1;
    std::int32_t& larger = end >= start ? end : start;
    larger = std::min(larger + m_bytesPerUnit - 1, last);
}

std::int32_t TCustomZURadUvudod::DisplayStart() const
{
    if (GetDataSize() == 0)
        return -1;
    return GetPositionAtCursor(2, TopRow());
}

std::int32_t TCustomZURadUvudod::DisplayEnd() const
{
    if (GetDataSize() == 0)
        return -1;
    const std::int64_t end = static_cast<std::int64_t>(DisplayStart()) +
                             static_cast<std::int64_t>(VisibleRowCount()) * m_layout.BytesPerRow - 1;
    return static_cast<std::int32_t>(std::min<std::int64_t>(GetDataSize() - 1, end));
}

std::int32_t TCustomZURadUvudod::DropPosition() const
{
    if (!m_showDragCell)
        return -1;
    std::int32_t pos = GetPositionAtCursor(m_dragCell.X, m_dragCell.Y);
    CheckUnit(pos);
    return pos;
}

// ====================================================================== offsets

void TCustomZURadUvudod::SetOffsetFormat(const std::string& text)
{
    if (text == m_offsetFormat.Format)
        return;
    // The parser changes nothing when it fails, so the previous format stays.
    m_offsetFormat.Parse(text, m_layout.BytesPerRow, m_layout.BytesPerColumn, m_layout.RulerUnit);
    SetOffsetDisplayWidth();
    Invalidate();
}

std::string TCustomZURadUvudod::GetOffsetString(std::uint32_t position)
{
    if (OnGetOffsetText && !m_inOffsetEvent) {
        std::string text;
        m_inOffsetEvent = true;
        m_isMaxOffset = false;
        try {
            OnGetOffsetText(this, position, text);
        } catch (...) {
            m_inOffsetEvent = false;
            throw;
        }
        m_inOffsetEvent = false;
        return text;
    }
    return m_offsetFormat.OffsetString(position, m_hexLowerCase);
}

std::string TCustomZURadUvudod::GetAnyOffsetString(std::uint32_t position)
{
    if (m_offsetFormat.Format.empty())
        return IntToRadix(position, 16);
    return GetOffsetString(position);
}

void TCustomZURadUvudod::UpdateGetOffsetText()
{
    SetOffsetDisplayWidth();
    Invalidate();
}

void TCustomZURadUvudod::SetHexLowerCase(bool value)
{
    if (value == m_hexLowerCase)
        return;
    m_hexLowerCase = value;
    m_digits = value ? "0123456789abcdef" : "0123456789ABCDEF";
    SetRulerString();
    Invalidate();
}
