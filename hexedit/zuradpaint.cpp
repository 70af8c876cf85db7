// The hex editor control's painting: the colours, the bookmark icons and the
// ruler, gutter and data cells.
#include "hexedit/zuradhex.h"

#include "vcl/caret.h"

#include <algorithm>
#include <cstring>

namespace {

std::string Utf8(const std::u16string& text)
{
    std::string out;
    for (char16_t ch : text) {
        std::uint32_t c = ch;
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;  // a lone half of a pair shows as the replacement mark
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Digits 0-9 of the built-in bookmark icons, 3 x 5 pixels, top row first,
// bit 2 the left column.
constexpr std::uint8_t kDigitGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr TColor kIconTransparent = clFuchsia;
constexpr TColor kIconLightGray = RGB(212, 208, 200);

}  // namespace

// ====================================================================== TZAZColors

void TZAZColors::Assign(const TObject& source)
{
    const auto* other = dynamic_cast<const TZAZColors*>(&source);
    if (!other)
        return;
    SetBackground(other->Background());
    SetChangedBackground(other->ChangedBackground());
    SetChangedText(other->ChangedText());
    SetCursorFrame(other->CursorFrame());
    SetNonFocusCursorFrame(other->NonFocusCursorFrame());
    SetOffset(other->Offset());
    SetOddColumn(other->OddColumn());
    SetEvenColumn(other->EvenColumn());
    SetCurrentOffsetBackground(other->CurrentOffsetBackground());
    SetOffsetBackGround(other->OffsetBackGround());
    SetCurrentOffset(other->CurrentOffset());
    SetGrid(other->Grid());
    SetActiveFieldBackground(other->ActiveFieldBackground());
}

void TZAZColors::Changed(const char* name)
{
    if (m_parent)
        m_parent->ColorsChanged(name);
}

// ====================================================================== painting properties

void TCustomZURadUvudod::ColorsChanged(const char* name)
{
    if (std::strcmp(name, "Background") == 0)
        SetColor(m_colors->Background());
    Invalidate();
}

void TCustomZURadUvudod::SetRepaintFlag(bool& flag, bool value)
{
    if (flag == value)
        return;
    flag = value;
    Invalidate();
}

void TCustomZURadUvudod::SetCaretKind(TZAZCaretKind kind)
{
    if (kind == m_caretKind)
        return;
    m_caretKind = kind;
    if (HasFocus()) {
        CreateCaretGlyph();
        SetCaretPos(-50, -50);
        Invalidate();
    }
}

void TCustomZURadUvudod::BuildBookmarkImages()
{
    if (!m_customBookmarkBitmap) {
        m_bookmarkBitmap->SetSize(200, 10);
        TCanvas& c = m_bookmarkBitmap->Canvas();
        for (int icon = 0; icon < 20; ++icon) {
            const int x0 = icon * 10;
            const bool hexField = icon < 10;
            c.Brush().SetColor(kIconTransparent);
            c.FillRect(Rect(x0, 0, x0 + 10, 10));
            c.Brush().SetColor(clBlack);
            c.FillRect(Rect(x0 + 1, 0, x0 + 9, 1));
            c.FillRect(Rect(x0 + 1, 9, x0 + 9, 10));
            c.FillRect(Rect(x0, 1, x0 + 1, 9));
            c.FillRect(Rect(x0 + 9, 1, x0 + 10, 9));
            c.Brush().SetColor(hexField ? clYellow : kIconLightGray);
            c.FillRect(Rect(x0 + 1, 1, x0 + 5, 9));
            c.Brush().SetColor(hexField ? kIconLightGray : clYellow);
            c.FillRect(Rect(x0 + 5, 1, x0 + 9, 9));
            const auto& glyph = kDigitGlyphs[icon % 10];
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 3; ++x)
                    if (glyph[y] & (4 >> x))
                        c.SetPixel(x0 + 4 + x, 2 + y, clBlack);
        }
    }
    if (m_constructed)
        for (std::int32_t r = TopRow(); r <= CalcDrawInfo().LastRow; ++r)
            InvalidateCell(0, r);
}

void TCustomZURadUvudod::SetBookmarkBitmap(const TBitmap* bitmap)
{
    if (!bitmap) {
        m_customBookmarkBitmap = false;
        BuildBookmarkImages();
        return;
    }
    if (bitmap->Width() != 200 || bitmap->Height() != 10)
        throw EZURadUvudod(zaz_text::kInvalidBookmarkBitmap);
    auto copy = std::make_unique<TBitmap>(200, 10);
    TBitmap& source = const_cast<TBitmap&>(*bitmap);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 200; ++x)
            copy->Canvas().SetPixel(x, y, source.Canvas().Pixel(x, y));
    m_bookmarkBitmap = std::move(copy);
    m_customBookmarkBitmap = true;
    BuildBookmarkImages();
}

// ====================================================================== painting

bool TCustomZURadUvudod::HasFocus() const { return Focused(); }

void TCustomZURadUvudod::FocusRect(TCanvas& canvas, const TRect& r)
{
    // A dotted frame, as the system draws a focus rectangle.
    for (int x = r.Left; x < r.Right; x += 2) {
        canvas.SetPixel(x, r.Top, clBlack);
        canvas.SetPixel(x, r.Bottom - 1, clBlack);
    }
    for (int y = r.Top; y < r.Bottom; y += 2) {
        canvas.SetPixel(r.Left, y, clBlack);
        canvas.SetPixel(r.Right - 1, y, clBlack);
    }
}

void TCustomZURadUvudod::DrawCellText(TCanvas& canvas, std::int32_t col, std::int32_t row, const TRect& cell,
                                      std::u16string text, TColor fill, TColor textColor, TColor textBack)
{
    const TRect textRect = Rect(cell.Left, cell.Top, std::min(cell.Right, cell.Left + m_charWidth), cell.Bottom);
    bool defaultDraw = true;
    if (OnDrawCell)
        OnDrawCell(this, canvas, col, row, text, col == 0 ? cell : textRect, defaultDraw);
    if (!defaultDraw)
        return;
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    canvas.Brush().SetColor(fill);
    canvas.FillRect(cell);
    if (text.empty())
        return;
    const std::string utf8 = Utf8(text);
    canvas.Font().SetColor(textColor);
    canvas.Brush().SetColor(textBack);
    if (col == 0) {
        const int x = cell.Right - 4 - canvas.TextWidth(utf8);
        canvas.TextRect(cell, x, cell.Top + 1, utf8);
    } else {
        canvas.TextRect(textRect, textRect.Left, cell.Top + 1, utf8);
    }
}

void TCustomZURadUvudod::PaintRulerCell(TCanvas& canvas, std::int32_t col, const TRect& rect)
{
    const std::int32_t B = m_layout.BytesPerRow;
    std::u16string text;
    if (col >= 2 && col <= 2 * B + 1) {
        const size_t i = static_cast<size_t>(col - 2);
        if (i < m_hexRuler.size())
            text.push_back(static_cast<char16_t>(m_hexRuler[i]));
    } else if (col == 2 * B + 2) {
        text = u"  ";
    } else {
        const size_t i = static_cast<size_t>(col - 2 * B - 3);
        if (i < m_charRuler.size())
            text.push_back(static_cast<char16_t>(m_charRuler[i]));
    }
    const bool current = col == Col();
    DrawCellText(canvas, col, 0, rect, text, m_colors->OffsetBackGround(),
                 current ? m_colors->CurrentOffset() : m_colors->Offset(),
                 current ? m_colors->CurrentOffsetBackground() : m_colors->OffsetBackGround());
}

void TCustomZURadUvudod::PaintGutterCell(TCanvas& canvas, std::int32_t row, const TRect& rect)
{
    const std::int64_t first = static_cast<std::int64_t>(row - 2) * m_layout.BytesPerRow;
    std::string offset = GetOffsetString(static_cast<std::uint32_t>(first));
    std::u16string text(offset.begin(), offset.end());
    const bool current = row == Row();
    const TColor back = current ? m_colors->CurrentOffsetBackground() : m_colors->OffsetBackGround();
    DrawCellText(canvas, 0, row, rect, text, back, current ? m_colors->CurrentOffset() : m_colors->Offset(), back);
    TBitmap& icons = *m_bookmarkBitmap;
    TColor transparent = clNone;
    for (int i = 0; i < 10; ++i) {
        const TZAZBookmark& b = m_bookmarks[static_cast<size_t>(i)];
        if (b.mPosition < first || b.mPosition >= first + m_layout.BytesPerRow)
            continue;
        if (transparent == clNone)
            transparent = icons.Canvas().Pixel(0, 0);
        const int icon = i + (b.mInCharField ? 10 : 0);
        const int x0 = rect.Left + 3;
        const int y0 = rect.Top + (rect.Height() - 10) / 2;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const TColor p = icons.Canvas().Pixel(icon * 10 + x, y);
                if (p != transparent)
                    canvas.SetPixel(x0 + x, y0 + y, p);
            }
    }
}

void TCustomZURadUvudod::PaintDataCell(TCanvas& canvas, std::int32_t col, std::int32_t row, const TRect& rect)
{
    const std::int32_t B = m_layout.BytesPerRow;
    const std::int32_t size = GetDataSize();
    const std::int32_t pos = GetPositionAtCursor(col, row);
    const bool isChar = GetIsCharFieldCol(col);
    const bool separator = col == 2 * B + 2;
    const bool lastHex = col == 2 * B + 1;
    const bool lastChar = col == ColCount() - 1;
    const bool focused = HasFocus();
    m_paintPosition = pos;
    m_paintSelected = false;

    if (!separator && pos < size) {
        const bool active = isChar == m_lastCaretField;
        TColor fill = (active && !lastHex && !lastChar) ? m_colors->ActiveFieldBackground() : m_colors->Background();
        const std::uint8_t* data = m_data.Memory();
        std::u16string text;
        if (!isChar) {
            const std::uint8_t b = data[pos];
            const bool high = ((col - 2) % 2 == 0) != m_swapNibbles;
            text.push_back(static_cast<char16_t>(m_digits[high ? b >> 4 : b & 0xF]));
        } else if (!m_layout.Unicode) {
            text.push_back(AnsiCharToUnicode(TranslateToAnsiChar(data[pos])));
        } else {
            const std::uint8_t lo = data[pos];
            const std::uint8_t hi = pos + 1 < size ? data[pos + 1] : 0;
            char16_t ch = static_cast<char16_t>(lo | (hi << 8));
            if (m_unicodeBigEndian)
                SwapWideChar(ch);
            if (ch < 256 && m_maskedChars.test(ch))
                ch = static_cast<char16_t>(static_cast<std::uint8_t>(m_maskChar));
            if (ch != 0)
                text.push_back(ch);
        }
        const bool changed = HasChanged(pos) || (m_layout.Unicode && isChar && HasChanged(pos + 1));
        TColor textColor, textBack;
        if (changed) {
            textColor = m_colors->ChangedText();
            textBack = m_colors->ChangedBackground();
        } else {
            textBack = active ? m_colors->ActiveFieldBackground() : m_colors->Background();
            if (!isChar)
                textColor = ((col - 2) / (2 * m_layout.BytesPerColumn)) % 2 == 0 ? m_colors->OddColumn()
                                                                                : m_colors->EvenColumn();
            else
                textColor = Font().Color();
        }
        if (IsSelected(pos) && !(m_hideSelection && !focused)) {
            m_paintSelected = true;
            textBack = InvertColor(textBack);
            textColor = InvertColor(textColor);
            if (!lastHex && !lastChar && pos != m_selEnd)
                fill = InvertColor(fill);
            if (m_graySelection && !focused) {
                textBack = FadeToGray(textBack);
                textColor = FadeToGray(textColor);
            }
        }
        DrawCellText(canvas, col, row, rect, text, fill, textColor, textBack);
        if (m_showDragCell && m_dragCell == GridCoord(col, row)) {
            canvas.Pen().SetStyle(TPenStyle::psSolid);
            canvas.Pen().SetColor(textColor);
            canvas.Pen().SetWidth(2);
            canvas.MoveTo(rect.Left + 1, rect.Top + 1);
            canvas.LineTo(rect.Left + 1, rect.Bottom - 1);
            canvas.Pen().SetWidth(1);
        }
    }

    // Cursor frames.
    const TRect frame = Rect(rect.Left, rect.Top, rect.Left + m_charWidth, rect.Bottom - 1);
    const bool onCaretRow = row == Row();
    if (focused) {
        if (onCaretRow && col == GetOtherFieldColCheck(Col())) {
            if (m_focusFrame)
                FocusRect(canvas, frame);
            else {
                canvas.Brush().SetColor(m_colors->CursorFrame());
                canvas.FrameRect(frame);
            }
        }
    } else if (m_showPositionIfNotFocused && onCaretRow && col == Col()) {
        if (m_focusFrame)
            FocusRect(canvas, frame);
        else {
            canvas.Brush().SetColor(m_colors->NonFocusCursorFrame());
            canvas.FrameRect(frame);
        }
    }

    // Grid lines.
    if (m_drawGridLines) {
        canvas.Brush().SetColor(m_colors->Grid());
        if (lastChar)
            canvas.FillRect(Rect(rect.Right - 1, rect.Top, rect.Right, rect.Bottom));
        canvas.FillRect(Rect(rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom));
        if (separator)
            canvas.FillRect(Rect(rect.Left, rect.Top, rect.Left + 1, rect.Bottom));
    }
}

void TCustomZURadUvudod::Paint()
{
    TCanvas& canvas = Canvas();
    canvas.Font().Assign(Font());
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    const TGridDrawInfo info = CalcDrawInfo();
    const int cw = ClientWidth(), ch = ClientHeight();
    const std::int32_t lastCharCol = ColCount() - 1;
    const std::int32_t lastDataRow = std::min(info.LastRow, RowCount() - 1);
    const int gutter = ColWidths(0);
    const int rulerBottom = RowHeights(0) + RowHeights(1);

    // Whatever no cell covers shows the control's colour.
    canvas.Brush().SetColor(Color());
    canvas.FillRect(Rect(0, 0, cw, ch));

    if (m_showRuler) {
        m_paintPosition = -1;
        for (std::int32_t r = 0; r <= 1; ++r) {
            for (std::int32_t c = 0; c <= 1; ++c) {
                const TRect rect = CellRect(c, r);
                if (!rect.IsEmpty())
                    DrawCellText(canvas, c, r, rect, u"", m_colors->OffsetBackGround(), m_colors->Offset(),
                                 m_colors->OffsetBackGround());
            }
            for (std::int32_t c = info.FirstCol; c <= std::min(info.LastCol, lastCharCol); ++c) {
                const TRect rect = CellRect(c, r);
                if (!rect.IsEmpty())
                    PaintRulerCell(canvas, c, rect);
            }
        }
    }
    for (std::int32_t r = info.FirstRow; r <= lastDataRow; ++r) {
        m_paintPosition = -1;
        const TRect rect = CellRect(0, r);
        if (!rect.IsEmpty())
            PaintGutterCell(canvas, r, rect);
        if (m_drawGridLines) {
            const TRect spacer = CellRect(1, r);
            if (!spacer.IsEmpty()) {
                canvas.Brush().SetColor(m_colors->Grid());
                canvas.FillRect(Rect(spacer.Left, spacer.Bottom - 1, spacer.Right, spacer.Bottom));
            }
        }
    }
    for (std::int32_t r = info.FirstRow; r <= lastDataRow; ++r)
        for (std::int32_t c = info.FirstCol; c <= std::min(info.LastCol, lastCharCol); ++c) {
            const TRect rect = CellRect(c, r);
            if (!rect.IsEmpty())
                PaintDataCell(canvas, c, r, rect);
        }
    m_paintPosition = -1;
    m_paintSelected = false;

    // Right of the last column and below the last row.
    const int right = info.GridWidth, bottom = info.GridHeight;
    canvas.Brush().SetColor(Color());
    canvas.FillRect(Rect(right, 0, cw, ch));
    canvas.FillRect(Rect(0, bottom, right, ch));
    canvas.Brush().SetColor(m_colors->OffsetBackGround());
    canvas.FillRect(Rect(right, 0, cw, std::min(rulerBottom, ch)));
    canvas.FillRect(Rect(0, bottom, std::min(gutter, right), ch));

    canvas.Pen().SetStyle(TPenStyle::psSolid);
    canvas.Pen().SetWidth(1);
    if (gutter > 0) {
        if (m_drawGutter3D) {
            canvas.Brush().SetColor(clBtnShadow);
            canvas.FillRect(Rect(gutter, rulerBottom, gutter + 1, ch));
            canvas.Brush().SetColor(clBtnHighlight);
            canvas.FillRect(Rect(gutter - 1, rulerBottom, gutter, ch));
        } else if (m_drawGridLines) {
            canvas.Brush().SetColor(m_colors->Grid());
            canvas.FillRect(Rect(gutter - 1, rulerBottom, gutter, ch));
        }
    }
    if (m_showRuler) {
        const int rh = RowHeights(0);
        if (m_drawGutter3D) {
            canvas.Brush().SetColor(clBtnShadow);
            canvas.FillRect(Rect(std::max(0, gutter - 1), rh - 1, cw, rh));
            canvas.Brush().SetColor(clBtnHighlight);
            canvas.FillRect(Rect(std::max(0, gutter - 1), rh - 2, cw, rh - 1));
        } else if (m_drawGridLines) {
            canvas.Brush().SetColor(m_colors->Grid());
            canvas.FillRect(Rect(std::max(0, gutter - 1), rh - 1, cw, rh));
        }
    }
}
