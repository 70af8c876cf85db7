// Printing through the printer object: a page recorded at the printer's
// resolution, and a three-page job into a PDF file whose text pdftotext
// (poppler-utils) reads back.
#include "hex_fixture.h"
#include "test_support/canvas_recorder.h"
#include "test_support/pdf_text.h"
#include "test_support/temp_dir.h"

#include "vcl/metafile.h"
#include "vcl/printers.h"

#include <gmock/gmock.h>

#include <cmath>

namespace {

// The pixel height of a font of so many points scaled from the screen to a
// 1200 dpi printer.
int PrinterPixels(int points)
{
    TFont font;
    font.SetSize(static_cast<int>(std::lround(points * 1200 / 96.0)));
    return -font.Height();
}

// The lines of a page that hold more than blanks.
std::vector<std::string> TextLinesOf(const std::string& page)
{
    std::vector<std::string> lines;
    TStringList list;
    list.SetText(page);
    for (const std::string& line : list)
        if (line.find_first_not_of(' ') != std::string::npos)
            lines.push_back(line);
    return lines;
}

class HexPrintJobTest : public HexExTest {
protected:
    void SetUp() override
    {
        HexExTest::SetUp();
        saved = SetPrinter(new TPrinter());
        Printer()->SetOutputFileName(dir.Path("out.pdf"));
        hex->SetBytesPerColumn(1);
        hex->SetOffsetFormat("8!10:|");
        // Pages of a dozen short lines keep the tests quick: every character
        // of a page is a few drawing calls.
        hex->SetBytesPerRow(8);
        hex->PrintOptions().SetMarginBottom(220);
    }
    // The lines a page holds: the most that still fit on one page.
    std::int32_t LinesPerPage()
    {
        std::int32_t low = 1, high = 1000;
        while (low < high) {
            const std::int32_t mid = (low + high + 1) / 2;
            hex->SetDataSize(8 * mid);
            if (hex->PrintNumPages() == 1)
                low = mid;
            else
                high = mid - 1;
        }
        return low;
    }
    void TearDown() override
    {
        delete SetPrinter(saved);
        HexExTest::TearDown();
    }
    // Plays a recorded page onto a recording device of the printer's size
    // and resolution.
    std::unique_ptr<CanvasRecorder> Play(TMetafile& page)
    {
        TPrinter& p = *Printer();
        auto rec = std::make_unique<CanvasRecorder>(p.PageWidth(), p.PageHeight(), p.PixelsPerInchY());
        page.StretchDraw(rec->Canvas(), Rect(0, 0, p.PageWidth(), p.PageHeight()));
        return rec;
    }

    TempDir dir;
    TPrinter* saved = nullptr;
};

TEST_F(HexPrintJobTest, APreviewIsThePageAtThePrintersResolution)
{
    LoadBytes(Pattern(100000));
    TPrinter& printer = *Printer();
    ASSERT_EQ(printer.PixelsPerInchY(), 1200);
    const TRect margins = hex->PrinterMarginRect();
    // 20 and 15 mm at 1200 dpi, 25 mm off the right edge, 220 mm off the bottom.
    EXPECT_EQ(margins, Rect(945, 709, printer.PageWidth() - 1181, printer.PageHeight() - 10394));

    const std::unique_ptr<TMetafile> page = hex->PrintPreview(2);
    EXPECT_EQ(page->Width(), printer.PageWidth());
    EXPECT_EQ(page->Height(), printer.PageHeight());
    // A recording of drawing calls, nowhere near a bitmap of the page.
    EXPECT_LT(page->Size(), std::int64_t(16) << 20);
    const auto rec = Play(*page);
    const std::vector<std::string> lines = rec->TextLines();
    ASSERT_GT(lines.size(), 5u);
    const std::int32_t perPage = static_cast<std::int32_t>(lines.size());
    EXPECT_EQ(lines[0].substr(0, 10), Format("%08X: ", static_cast<unsigned>(perPage * 8)));
    EXPECT_EQ(hex->PrintNumPages(), (100000 / 8 + perPage - 1) / perPage);
    // The editor's font, scaled from the screen's 96 to the printer's 1200
    // pixels per inch, fits between the margins.
    const RecordedText& first = rec->Texts().front();
    EXPECT_EQ(first.Family, "Courier New");
    EXPECT_NEAR(first.At.x(), margins.Left, 1);
    EXPECT_LE(first.PixelSize, PrinterPixels(hex->Font().Size()));
    EXPECT_GT(first.PixelSize, PrinterPixels(hex->Font().Size()) * 3 / 4);

    // The print font once one is set.
    TFont font;
    font.SetName("Courier New");
    font.SetSize(6);
    hex->SetPrintFont(font);
    const auto small = Play(*hex->PrintPreview(1));
    EXPECT_EQ(small->Texts().front().PixelSize, PrinterPixels(6));
    EXPECT_GT(small->TextLines().size(), lines.size());
}

TEST_F(HexPrintJobTest, PrintNeedsAPageAndARunningJob)
{
    LoadBytes(Pattern(100));
    EXPECT_THROW(hex->Print(0), EZURadUvudod);
    EXPECT_THROW(hex->Print(1), EPrinter);
    Printer()->BeginDoc();
    EXPECT_THROW(hex->Print(2), EZURadUvudod);
    hex->Print(1);
    Printer()->EndDoc();
    EXPECT_EQ(PdfPages(dir.Path("out.pdf")).size(), 1u);
}

TEST_F(HexPrintJobTest, AThreePageJobCarriesItsHeaderAndFooterOnEveryPage)
{
    TZAZPrintOptions& options = hex->PrintOptions();
    options.SetPageHeader("Page %p of %P|%f|%<");
    options.SetPageFooter("Footer of %f");
    // The lines a page holds decide the size of a three-page file.
    const std::int32_t perPage = LinesPerPage();
    ASSERT_GT(perPage, 3);
    dir.Write("data.bin", Pattern(static_cast<size_t>(8 * (2 * perPage + 1))));
    hex->LoadFromFile(dir.Path("data.bin"));
    ASSERT_EQ(hex->PrintNumPages(), 3);

    TPrinter& printer = *Printer();
    printer.Title = "data.bin";
    printer.BeginDoc();
    for (std::int32_t page = 1; page <= 3; ++page) {
        if (page > 1)
            printer.NewPage();
        hex->Print(page);
    }
    printer.EndDoc();

    const std::vector<std::string> pages = PdfPages(dir.Path("out.pdf"));
    ASSERT_EQ(pages.size(), 3u);
    for (std::int32_t p = 1; p <= 3; ++p) {
        const std::vector<std::string> lines = TextLinesOf(pages[static_cast<size_t>(p - 1)]);
        ASSERT_GE(lines.size(), 3u) << "page " << p;
        // Header first, then the lines from this page's first offset, footer last.
        EXPECT_THAT(lines.front(), ::testing::MatchesRegex(Format("Page %d of 3 +data\\.bin +WIN *", p)));
        EXPECT_THAT(lines[1], ::testing::StartsWith(Format("%08X: ", static_cast<unsigned>((p - 1) * perPage * 8))));
        EXPECT_THAT(lines.back(), ::testing::MatchesRegex(" *Footer of data\\.bin *"));
        EXPECT_EQ(lines.size(), p < 3 ? static_cast<size_t>(perPage) + 2 : 3u) << "page " << p;
    }
}

}  // namespace
