// Printing of the hex editor: the print options the control keeps, and the
// page renderer that draws pages looking like the control (offsets, the
// hexadecimal and the character field, the ruler) with a header and a
// footer line onto any canvas: a printer's page, a metafile, a bitmap.
#pragma once

#include "vcl/graphics.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TCustomZURadUvudod;

// In bit order; a set of them is a TZAZPrintFlags bit mask.
enum TZAZPrintFlag {
    pfSelectionOnly,       // print only the selection
    pfSelectionBold,       // emphasise selected bytes and the caret's row and column
    pfMonochrome,          // black on white
    pfUseBackgroundColor,  // paint cell backgrounds in the control's colours
    pfCurrentViewOnly,     // print only the bytes visible in the control
    pfIncludeRuler,        // print the ruler when the control shows one
};
using TZAZPrintFlags = unsigned;
constexpr TZAZPrintFlags PrintFlag(TZAZPrintFlag flag) { return 1u << flag; }
inline constexpr const char* kZAZPrintFlagNames[] = {"pfSelectionOnly", "pfSelectionBold", "pfMonochrome",
                                                     "pfUseBackgroundColor", "pfCurrentViewOnly", "pfIncludeRuler"};

// Margins in millimetres: left, top, right, bottom.
inline constexpr std::array<std::int32_t, 4> ZAZ_DEF_PRINT_MARGINS = {20, 15, 25, 25};

class TZAZPrintOptions : public TObject {
public:
    std::int32_t MarginLeft() const { return m_margins[0]; }
    std::int32_t MarginTop() const { return m_margins[1]; }
    std::int32_t MarginRight() const { return m_margins[2]; }
    std::int32_t MarginBottom() const { return m_margins[3]; }
    void SetMarginLeft(std::int32_t value) { m_margins[0] = value; }
    void SetMarginTop(std::int32_t value) { m_margins[1] = value; }
    void SetMarginRight(std::int32_t value) { m_margins[2] = value; }
    void SetMarginBottom(std::int32_t value) { m_margins[3] = value; }
    // 1 left, 2 top, 3 right, any other index bottom.
    std::int32_t Margin(int index) const;
    void SetMargin(int index, std::int32_t value);

    // Templates of the header (index 0) and the footer line (index 1);
    // another index raises ERangeError.
    const std::string& PageHeader() const { return m_headers[0]; }
    const std::string& PageFooter() const { return m_headers[1]; }
    void SetPageHeader(const std::string& text) { m_headers[0] = text; }
    void SetPageFooter(const std::string& text) { m_headers[1] = text; }
    const std::string& Header(int index) const;
    void SetHeader(int index, const std::string& text);

    TZAZPrintFlags Flags() const { return m_flags; }
    void SetFlags(TZAZPrintFlags flags) { m_flags = flags; }

    // Copies margins, templates and flags of other print options; anything
    // else raises EConvertError.
    void Assign(const TObject& source);

private:
    std::array<std::int32_t, 4> m_margins = ZAZ_DEF_PRINT_MARGINS;
    std::array<std::string, 2> m_headers;
    TZAZPrintFlags m_flags = PrintFlag(pfSelectionBold) | PrintFlag(pfMonochrome);
};

struct TCellAttributes {
    TColor Color = clBlack;
    TColor Background = clWhite;
    bool Emphasis = false;
    bool operator==(const TCellAttributes&) const = default;
};

// One printed line: its characters and their attributes, one each.
struct TTextWithAttr {
    std::u16string Text;
    std::vector<TCellAttributes> Attributes;
    void Add(char16_t c, const TCellAttributes& attributes);
    // A separating blank that takes the attributes of the character before it.
    void AddSeparator();
};

// Renders the pages of one editor for one call: the layout (lines per page,
// page count) is worked out when it is made.
class TZAZCanvasPrinter {
public:
    TZAZCanvasPrinter(TCustomZURadUvudod& editor, const std::string& header, const std::string& footer,
                      const TRect& rect, TZAZPrintFlags flags, TCanvas& canvas);

    std::int32_t PageCount() const { return m_pageCount; }
    std::int32_t LinesPerPage() const { return m_linesPerPage; }
    // Draws page (from 1); the number of lines drawn, -1 when there was
    // nothing to print.
    std::int32_t PrintPage(std::int32_t page) { return RenderPage(page, false); }
    // The template with its placeholders replaced for a page number.
    std::string ExpandTemplate(const std::string& text, std::int32_t page) const;

private:
    struct Range {
        std::int32_t First = 0;
        std::int32_t Last = -1;
    };
    std::int32_t RenderPage(std::int32_t page, bool measuring);
    Range PrintRange(TZAZPrintFlags flags) const;
    bool Flag(TZAZPrintFlag flag) const { return (m_flags & PrintFlag(flag)) != 0; }
    // Background colours on and monochrome off: cells in the control's colours.
    bool Coloured() const { return Flag(pfUseBackgroundColor) && !Flag(pfMonochrome); }
    TTextWithAttr BuildLine(std::int32_t start) const;
    TTextWithAttr BuildRuler() const;
    // Attributes of offset and ruler characters; highlight: the caret's row
    // (or column, on the ruler).
    TCellAttributes MarginAttributes(bool highlight, bool last) const;
    void DrawLine(const TTextWithAttr& line, std::int32_t top, bool ruler);
    void DrawHeaderLine(const std::string& text, std::int32_t y);

    TCustomZURadUvudod& m_editor;
    std::string m_headerTemplate, m_footerTemplate;
    std::string m_header, m_footer;
    TRect m_rect;
    TZAZPrintFlags m_flags;
    TCanvas& m_canvas;
    std::int32_t m_linesPerPage = 0;
    std::int32_t m_pageCount = 0;
    // Of the page being rendered.
    Range m_range;
    std::int32_t m_offsetWidth = 0;
    std::int32_t m_lineHeight = 0;
};
