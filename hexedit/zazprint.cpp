#include "hexedit/zazprint.h"

#include "hexedit/zuradhex.h"
#include "rtl/unicode.h"

#include <algorithm>

namespace {

std::string Utf8(char16_t c) { return Utf16ToUtf8(std::u16string_view(&c, 1)); }

// Splits at the first '|': the text before it, and the rest after it
// (empty when there is none).
std::pair<std::string, std::string> SplitAtBar(const std::string& text)
{
    const size_t bar = text.find('|');
    if (bar == std::string::npos)
        return {text, {}};
    return {text.substr(0, bar), text.substr(bar + 1)};
}

}  // namespace

// ====================================================================== TZAZPrintOptions

std::int32_t TZAZPrintOptions::Margin(int index) const
{
    return m_margins[static_cast<size_t>(index >= 1 && index <= 3 ? index - 1 : 3)];
}

void TZAZPrintOptions::SetMargin(int index, std::int32_t value)
{
    m_margins[static_cast<size_t>(index >= 1 && index <= 3 ? index - 1 : 3)] = value;
}

const std::string& TZAZPrintOptions::Header(int index) const
{
    if (index < 0 || index > 1)
        throw ERangeError("Range check error");
    return m_headers[static_cast<size_t>(index)];
}

void TZAZPrintOptions::SetHeader(int index, const std::string& text)
{
    if (index < 0 || index > 1)
        throw ERangeError("Range check error");
    m_headers[static_cast<size_t>(index)] = text;
}

void TZAZPrintOptions::Assign(const TObject& source)
{
    const auto* other = dynamic_cast<const TZAZPrintOptions*>(&source);
    if (!other)
        throw EConvertError("Cannot assign to a TZAZPrintOptions");
    m_margins = other->m_margins;
    m_headers = other->m_headers;
    m_flags = other->m_flags;
}

// ====================================================================== TTextWithAttr

void TTextWithAttr::Add(char16_t c, const TCellAttributes& attributes)
{
    Text.push_back(c);
    Attributes.push_back(attributes);
}

void TTextWithAttr::AddSeparator()
{
    Add(u' ', Attributes.empty() ? TCellAttributes{} : Attributes.back());
}

// ====================================================================== TZAZCanvasPrinter

TZAZCanvasPrinter::TZAZCanvasPrinter(TCustomZURadUvudod& editor, const std::string& header,
                                     const std::string& footer, const TRect& rect, TZAZPrintFlags flags,
                                     TCanvas& canvas)
    : m_editor(editor), m_headerTemplate(header), m_footerTemplate(footer), m_rect(rect), m_flags(flags),
      m_canvas(canvas)
{
    // The lines a page holds do not depend on what is printed: measure them
    // on the whole data (or view).
    m_flags = flags & ~PrintFlag(pfSelectionOnly);
    m_linesPerPage = RenderPage(1, true);
    m_flags = flags;
    std::int64_t bytes = 0;
    if (Flag(pfSelectionOnly))
        bytes = static_cast<std::int64_t>(editor.SelLast()) - editor.SelFirst() + 1;
    else if (Flag(pfCurrentViewOnly))
        bytes = static_cast<std::int64_t>(editor.DisplayEnd()) - editor.DisplayStart() + 1;
    else
        bytes = editor.GetDataSize();
    if (m_linesPerPage < 1 || bytes <= 0 || editor.GetDataSize() == 0)
        return;
    const std::int64_t perRow = editor.BytesPerRow();
    const std::int64_t lines = (bytes + perRow - 1) / perRow;
    m_pageCount = static_cast<std::int32_t>((lines + m_linesPerPage - 1) / m_linesPerPage);
}

std::string TZAZCanvasPrinter::ExpandTemplate(const std::string& text, std::int32_t page) const
{
    const bool unicode = m_editor.UnicodeChars();
    const size_t kind = static_cast<size_t>(m_editor.Translation());
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case '<':
            out += unicode ? (m_editor.UnicodeBigEndian() ? "UCBE" : "UCLE") : ZAZTranslationDescShort[kind];
            break;
        case '>':
            out += unicode ? (m_editor.UnicodeBigEndian() ? "Unicode Big Endian" : "Unicode Little Endian")
                           : ZAZTranslationDesc[kind];
            break;
        case 'F': out += m_editor.FileName(); break;
        case 'f': out += ExtractFileName(m_editor.FileName()); break;
        case 'P': out += IntToStr(m_pageCount); break;
        case 'p': out += IntToStr(page); break;
        case 'd': out += DateToStr(Now()); break;
        case 't': out += TimeToStr(Now()); break;
        default:
            out.push_back('%');
            out.push_back(c);
        }
    }
    return out;
}

TZAZCanvasPrinter::Range TZAZCanvasPrinter::PrintRange(TZAZPrintFlags flags) const
{
    if ((flags & PrintFlag(pfSelectionOnly)) && m_editor.SelAnchor() != -1)
        return {m_editor.SelFirst(), m_editor.SelLast()};
    if (flags & PrintFlag(pfCurrentViewOnly))
        return {m_editor.DisplayStart(), m_editor.DisplayEnd()};
    return {0, m_editor.GetDataSize() - 1};
}

std::int32_t TZAZCanvasPrinter::RenderPage(std::int32_t page, bool measuring)
{
    m_header = ExpandTemplate(m_headerTemplate, page);
    m_footer = ExpandTemplate(m_footerTemplate, page);
    if (m_editor.GetDataSize() == 0 || (!measuring && m_linesPerPage <= 0))
        return -1;
    m_range = PrintRange(m_flags);
    const std::int32_t perRow = m_editor.BytesPerRow();
    std::int64_t start = m_range.First;
    if (!measuring)
        start += static_cast<std::int64_t>(m_linesPerPage) * perRow * (page - 1);
    if (m_range.First < 0 || start > m_range.Last)
        return -1;
    m_offsetWidth = static_cast<std::int32_t>(
        m_editor.GetOffsetString(static_cast<std::uint32_t>(m_editor.GetDataSize())).size());

    TTextWithAttr line = BuildLine(static_cast<std::int32_t>(start));
    TFont savedFont;
    savedFont.Assign(m_canvas.Font());
    const bool mono = Flag(pfMonochrome);
    m_canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    m_canvas.Brush().SetColor(mono || !Flag(pfUseBackgroundColor) ? clWhite : m_editor.Colors().Background());
    m_canvas.Font().SetColor(mono ? clBlack : m_editor.Font().Color());
    if (!measuring)
        m_canvas.FillRect(m_rect);
    const std::string firstText = Utf16ToUtf8(line.Text);
    while (m_rect.Width() < m_canvas.TextWidth(firstText) && m_canvas.Font().Size() > 1)
        m_canvas.Font().SetSize(m_canvas.Font().Size() - 1);
    m_lineHeight = m_canvas.TextHeight(firstText);

    std::int32_t top = m_rect.Top, bottom = m_rect.Bottom;
    if (!m_header.empty()) {
        if (!measuring) {
            DrawHeaderLine(m_header, top);
            m_canvas.MoveTo(m_rect.Left, top + m_lineHeight);
            m_canvas.LineTo(m_rect.Right, top + m_lineHeight);
        }
        top += 2 * m_lineHeight;
    }
    if (!m_footer.empty())
        bottom -= m_lineHeight;
    if (Flag(pfIncludeRuler) && m_editor.ShowRuler()) {
        if (!measuring)
            DrawLine(BuildRuler(), top, true);
        top += Coloured() ? m_lineHeight : (3 * m_lineHeight) / 2;
    }
    std::int32_t lines = 0;
    std::int64_t pos = start;
    while (top + m_lineHeight <= bottom) {
        if (!measuring)
            DrawLine(line, top, false);
        ++lines;
        pos += perRow;
        if (pos > m_range.Last)
            break;
        line = BuildLine(static_cast<std::int32_t>(pos));
        top += m_lineHeight;
    }
    if (!m_footer.empty() && !measuring) {
        const std::int32_t y = m_rect.Bottom - m_lineHeight;
        DrawHeaderLine(m_footer, y);
        m_canvas.MoveTo(m_rect.Left, y);
        m_canvas.LineTo(m_rect.Right, y);
    }
    m_canvas.Font().Assign(savedFont);
    return lines;
}

TCellAttributes TZAZCanvasPrinter::MarginAttributes(bool highlight, bool last) const
{
    const TZAZColors& colors = m_editor.Colors();
    const bool background = Flag(pfUseBackgroundColor);
    if (last || !background)
        return {m_editor.Font().Color(), colors.Background(), highlight && !(last && background)};
    if (highlight)
        return {colors.CurrentOffset(), colors.CurrentOffsetBackground(), Flag(pfMonochrome)};
    return {colors.Offset(), colors.OffsetBackGround(), false};
}

TTextWithAttr TZAZCanvasPrinter::BuildLine(std::int32_t start) const
{
    TCustomZURadUvudod& ed = m_editor;
    const TZAZColors& colors = ed.Colors();
    const std::int32_t perRow = ed.BytesPerRow();
    const std::int32_t perColumn = ed.BytesPerColumn();
    const std::int32_t perBlock = ed.BytesPerBlock();
    const std::int32_t unit = ed.RulerBytesPerUnit() == -1 ? ed.BytesPerUnit() : ed.RulerBytesPerUnit();
    const bool separateBlocks = perBlock > 1 && ed.SeparateBlocksInCharField();
    const std::int64_t last = m_range.Last;
    const std::uint8_t* data = ed.GetFastPointer();
    const std::int64_t caret = ed.GetCursorPos();
    const bool caretRow = caret >= start && caret < static_cast<std::int64_t>(start) + perRow;
    const bool inChar = ed.GetInCharField();
    const TColor fontColor = ed.Font().Color();
    auto selected = [&](std::int64_t pos) { return pos <= last && ed.IsSelected(static_cast<std::int32_t>(pos)); };
    auto changed = [&](std::int64_t pos) { return pos <= last && ed.HasChanged(static_cast<std::int32_t>(pos)); };
    TTextWithAttr line;

    // Offset, padded to the width of the largest one.
    std::string offset = ed.GetOffsetString(static_cast<std::uint32_t>(start));
    if (!offset.empty()) {
        if (static_cast<std::int32_t>(offset.size()) < m_offsetWidth)
            offset.insert(0, static_cast<size_t>(m_offsetWidth) - offset.size(), ' ');
        if (!Coloured())
            offset.push_back(':');
        offset.push_back(' ');
        for (size_t k = 0; k < offset.size(); ++k)
            line.Add(static_cast<unsigned char>(offset[k]), MarginAttributes(caretRow, k + 1 == offset.size()));
    }

    // Hexadecimal field.
    const char* digits = ed.HexLowerCase() ? "0123456789abcdef" : "0123456789ABCDEF";
    const TColor fieldBack = inChar ? colors.Background() : colors.ActiveFieldBackground();
    bool oddColumn = true;
    for (std::int32_t i = 1; i <= perRow; ++i) {
        const std::int64_t pos = static_cast<std::int64_t>(start) + i - 1;
        TCellAttributes a{oddColumn ? colors.OddColumn() : colors.EvenColumn(), fieldBack, selected(pos)};
        if (changed(pos))
            a.Color = colors.ChangedText(), a.Background = colors.ChangedBackground();
        char16_t high = u' ', low = u' ';
        if (pos <= last) {
            const std::uint8_t b = data[pos];
            high = static_cast<char16_t>(digits[b >> 4]);
            low = static_cast<char16_t>(digits[b & 0xF]);
            if (ed.SwapNibbles())
                std::swap(high, low);
        }
        line.Add(high, a);
        line.Add(low, a);
        if (i < perRow) {
            if (perBlock > 1 && i % perBlock == 0)
                line.AddSeparator();
            if (i % perColumn == 0) {
                line.AddSeparator();
                oddColumn = !oddColumn;
            }
        }
    }
    const TCellAttributes plain{fontColor, colors.Background(), false};
    line.Add(u' ', plain);
    line.Add(u' ', plain);

    // Character field.
    const TColor charBack = inChar ? colors.ActiveFieldBackground() : colors.Background();
    if (!ed.UnicodeChars()) {
        for (std::int32_t i = 1; i <= perRow; ++i) {
            const std::int64_t pos = static_cast<std::int64_t>(start) + i - 1;
            TCellAttributes a{fontColor, charBack, selected(pos)};
            if (changed(pos))
                a.Color = colors.ChangedText(), a.Background = colors.ChangedBackground();
            line.Add(pos <= last ? AnsiCharToUnicode(ed.TranslateToAnsiChar(data[pos])) : u' ', a);
            if (i < perRow) {
                if (separateBlocks && i % perBlock == 0)
                    line.AddSeparator();
                if (unit != 1 && i % unit == 0)
                    line.AddSeparator();
            }
        }
    } else {
        const std::int32_t chars = perRow / 2;
        for (std::int32_t k = 0; k < chars; ++k) {
            const std::int64_t pos = static_cast<std::int64_t>(start) + 2 * k;
            TCellAttributes a{fontColor, charBack, selected(pos)};
            if (changed(pos) || changed(pos + 1))
                a.Color = colors.ChangedText(), a.Background = colors.ChangedBackground();
            // Both bytes of the character must lie in the printed range: a
            // lone first byte at its end prints as a blank.
            char16_t ch = u' ';
            if (pos + 1 <= last) {
                ch = static_cast<char16_t>(data[pos] | (data[pos + 1] << 8));
                if (ed.UnicodeBigEndian())
                    SwapWideChar(ch);
                if (ch < 256 && ed.MaskedChars().test(ch))
                    ch = static_cast<char16_t>(static_cast<std::uint8_t>(ed.MaskChar()));
                if (ch == 0)
                    ch = u' ';
            }
            line.Add(ch, a);
            if (k + 1 < chars) {
                if (separateBlocks && (k + 1) % (perBlock / 2) == 0)
                    line.AddSeparator();
                if (unit != 2 && (2 * k) % unit == 0)
                    line.AddSeparator();
            }
        }
    }
    return line;
}

TTextWithAttr TZAZCanvasPrinter::BuildRuler() const
{
    TCustomZURadUvudod& ed = m_editor;
    const std::int32_t perRow = ed.BytesPerRow();
    const std::int32_t perColumn = ed.BytesPerColumn();
    const std::int32_t perBlock = ed.BytesPerBlock();
    const std::int32_t unit = ed.RulerBytesPerUnit() == -1 ? ed.BytesPerUnit() : ed.RulerBytesPerUnit();
    const bool separateBlocks = perBlock > 1 && ed.SeparateBlocksInCharField();
    const bool unicode = ed.UnicodeChars();
    const TCellAttributes blank = MarginAttributes(false, false);
    TTextWithAttr line;

    const std::int32_t lead = m_offsetWidth + (Coloured() ? 0 : 1) + 1;
    for (std::int32_t k = 0; k < lead; ++k)
        line.Add(u' ', blank);
    const std::string& hexRuler = ed.HexRulerText();
    const std::int32_t hexCount = static_cast<std::int32_t>(hexRuler.size());
    for (std::int32_t i = 1; i <= hexCount; ++i) {
        line.Add(static_cast<unsigned char>(hexRuler[static_cast<size_t>(i - 1)]),
                 MarginAttributes(i == ed.Col() - 1, false));
        if (i < hexCount) {
            if (perBlock > 1 && i % (2 * perBlock) == 0)
                line.Add(u' ', blank);
            if (i % (2 * perColumn) == 0)
                line.Add(u' ', blank);
        }
    }
    line.Add(u' ', blank);
    line.Add(u' ', blank);
    const std::string& charRuler = ed.CharRulerText();
    const std::int32_t charCount = static_cast<std::int32_t>(charRuler.size());
    for (std::int32_t i = 1; i <= charCount; ++i) {
        line.Add(static_cast<unsigned char>(charRuler[static_cast<size_t>(i - 1)]),
                 MarginAttributes(i == ed.Col() - 2 * perRow - 2, i == charCount));
        if (i < charCount) {
            if (!unicode) {
                if (separateBlocks && i % perBlock == 0)
                    line.Add(u' ', blank);
                if (unit != 1 && i % unit == 0)
                    line.Add(u' ', blank);
            } else {
                if (separateBlocks && i % (perBlock / 2) == 0)
                    line.Add(u' ', blank);
                if (unit != 2 && (2 * (i - 1)) % unit == 0)
                    line.Add(u' ', blank);
            }
        }
    }
    return line;
}

void TZAZCanvasPrinter::DrawLine(const TTextWithAttr& line, std::int32_t top, bool ruler)
{
    TFont& font = m_canvas.Font();
    TBrush& brush = m_canvas.Brush();
    const TColor savedColor = font.Color();
    const TColor savedBrush = brush.Color();
    const TFontStyles savedStyle = font.Style();
    const bool mono = Flag(pfMonochrome);
    const bool background = Flag(pfUseBackgroundColor);
    const bool emphasise = Flag(pfSelectionBold) && !Flag(pfSelectionOnly);
    const bool underline = ruler && !Coloured();
    const std::int32_t height = underline ? (3 * m_lineHeight) / 2 : m_lineHeight;
    // A cell is as wide as a "w" in the style it is drawn in.
    std::int32_t cellWidth[2] = {-1, -1};
    std::int32_t x = m_rect.Left;
    for (size_t k = 0; k < line.Text.size(); ++k) {
        const TCellAttributes& a = line.Attributes[k];
        if (!mono) {
            font.SetColor(a.Color);
            if (background)
                brush.SetColor(a.Background);
            else if (ColorToRGB(a.Color) == 0xFFFFFF)
                font.SetColor(clBlack);
        }
        if (emphasise) {
            if (Coloured()) {
                font.SetStyle(savedStyle & ~fsBold);
                if (a.Emphasis) {
                    font.SetColor(InvertColor(font.Color()));
                    brush.SetColor(InvertColor(brush.Color()));
                }
            } else {
                font.SetStyle(a.Emphasis ? (savedStyle | fsBold) : (savedStyle & ~fsBold));
            }
        }
        std::int32_t& width = cellWidth[(font.Style() & fsBold) ? 1 : 0];
        if (width < 0)
            width = m_canvas.TextWidth("w");
        const TRect cell = Rect(x, top, x + width, top + height);
        m_canvas.TextRect(cell, x, top, Utf8(line.Text[k]));
        if (underline) {
            m_canvas.MoveTo(cell.Left, top + m_lineHeight + 1);
            m_canvas.LineTo(cell.Right + 1, top + m_lineHeight + 1);
        }
        x = cell.Right;
    }
    font.SetColor(savedColor);
    brush.SetColor(savedBrush);
    font.SetStyle(savedStyle);
}

void TZAZCanvasPrinter::DrawHeaderLine(const std::string& text, std::int32_t y)
{
    const auto [left, rest] = SplitAtBar(text);
    const auto [centre, right] = SplitAtBar(rest);
    TBrush& brush = m_canvas.Brush();
    const TBrushStyle savedStyle = brush.Style();
    const TColor savedColor = brush.Color();
    brush.SetStyle(TBrushStyle::bsClear);
    if (!left.empty())
        m_canvas.TextOut(m_rect.Left, y, left);
    if (!centre.empty())
        m_canvas.TextOut(m_rect.Left + m_rect.Width() / 2 - m_canvas.TextWidth(centre) / 2, y, centre);
    if (!right.empty())
        m_canvas.TextOut(m_rect.Right - m_canvas.TextWidth(right), y, right);
    brush.SetColor(savedColor);
    brush.SetStyle(savedStyle);
}
