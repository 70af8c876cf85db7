// Printing of the extended hex editor: pages rendered onto a canvas, a page
// recorded at the printer's resolution, and that recording stretched onto
// the printer's page.
#include "hexedit/zuradhexex.h"

#include "vcl/metafile.h"
#include "vcl/printers.h"

#include <cmath>

TFont TZURadUvudodEx::CopyOfFont()
{
    TFont copy;
    copy.Assign(Font());
    return copy;
}

void TZURadUvudodEx::SetPrintFont(const TFont& value)
{
    m_printFont.Assign(value);
    m_useEditorFontForPrinting = false;
}

std::int32_t TZURadUvudodEx::PrintToCanvas(TCanvas& canvas, std::int32_t page, const TRect& rect)
{
    if (page < 0)
        throw EZURadUvudod(zaz_text::kInvalidPageIndex);
    WaitCursor();
    struct Hourglass {
        TZURadUvudodEx& control;
        ~Hourglass() { control.OldCursor(); }
    } hourglass{*this};
    TZAZPrintFlags flags = m_printOptions.Flags();
    if (SelAnchor() == -1)
        flags &= ~PrintFlag(pfSelectionOnly);
    TZAZCanvasPrinter printer(*this, m_printOptions.PageHeader(), m_printOptions.PageFooter(), rect, flags, canvas);
    // A rectangle that holds not one line has no page layout at all.
    if (GetDataSize() > 0 && printer.LinesPerPage() == 0)
        throw EZURadUvudod(zaz_text::kPrintingFailed);
    if (page > printer.PageCount())
        throw EZURadUvudod(zaz_text::kInvalidPageIndex);
    if (page > 0 && printer.PrintPage(page) < 1)
        throw EZURadUvudod(zaz_text::kPrintingFailed);
    return printer.PageCount();
}

std::unique_ptr<TMetafile> TZURadUvudodEx::PrintPreview(std::int32_t page)
{
    TPrinter& printer = *Printer();
    const int width = printer.PageWidth(), height = printer.PageHeight();
    auto metafile = std::make_unique<TMetafile>();
    metafile->SetWidth(width);
    metafile->SetHeight(height);
    TMetafileCanvas canvas(*metafile);
    canvas.Font().Assign(m_useEditorFontForPrinting ? Font() : m_printFont);
    canvas.SetWindowExt(width, height);
    canvas.SetViewportExt(width, height);
    // The canvas measures fonts for the screen; the page has the printer's
    // pixels, so the size grows by their ratio.
    canvas.Font().SetSize(static_cast<int>(
        std::lround(static_cast<double>(canvas.Font().Size()) * printer.PixelsPerInchY() / kScreenPixelsPerInch)));
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    canvas.Brush().SetColor(clWhite);
    canvas.FillRect(Rect(0, 0, width, height));
    m_pageCount = PrintToCanvas(canvas, page, PrinterMarginRect());
    return metafile;
}

void TZURadUvudodEx::Print(std::int32_t page)
{
    if (page < 1)
        throw EZURadUvudod(zaz_text::kInvalidPageIndex);
    TPrinter& printer = *Printer();
    printer.CheckPrinting();
    const std::unique_ptr<TMetafile> metafile = PrintPreview(page);
    metafile->StretchDraw(printer.Canvas(), Rect(0, 0, printer.PageWidth(), printer.PageHeight()));
}

std::int32_t TZURadUvudodEx::PrintNumPages()
{
    PrintPreview(0);
    return m_pageCount;
}

TRect TZURadUvudodEx::PrinterMarginRect() const
{
    const TPrinter& printer = *Printer();
    const double x = printer.PixelsPerInchX(), y = printer.PixelsPerInchY();
    // Rounded to the nearest pixel, halves to even (the default rounding).
    auto round = [](double v) { return static_cast<int>(std::nearbyint(v)); };
    return Rect(round(m_printOptions.MarginLeft() / 25.4 * x), round(m_printOptions.MarginTop() / 25.4 * y),
                round(printer.PageWidth() - x * m_printOptions.MarginRight() / 25.4),
                round(printer.PageHeight() - y * m_printOptions.MarginBottom() / 25.4));
}
