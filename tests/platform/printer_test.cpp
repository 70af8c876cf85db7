// The class library's printer object (jobs into PDF files, read back with
// pdftotext) and its metafile: a recording of canvas calls that plays at any
// size and on devices of any resolution.
#include "test_support/canvas_recorder.h"
#include "test_support/error_of.h"
#include "test_support/pdf_text.h"
#include "test_support/temp_dir.h"
#include "vcl/forms.h"
#include "vcl/metafile.h"
#include "vcl/printers.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

struct PrinterTest : ::testing::Test {
    PrinterTest()
    {
        if (!Application)
            new TApplication();
    }
    TempDir dir;
};

TEST_F(PrinterTest, AJobIntoAPdfFileHasItsPagesAndTheirText)
{
    TPrinter printer;
    printer.SetOutputFileName(dir.Path("job.pdf"));
    // A PDF file is a 1200 dpi device whose printable area is the sheet.
    EXPECT_EQ(printer.PixelsPerInchX(), 1200);
    EXPECT_EQ(printer.PixelsPerInchY(), 1200);
    EXPECT_EQ(printer.PageWidth(), printer.PhysicalWidth());
    EXPECT_EQ(printer.PhysicalOffsetX(), 0);
    // A4 or letter, whichever the locale prefers.
    EXPECT_NEAR(printer.PageWidth() / 1200.0, 8.4, 0.15);
    EXPECT_NEAR(printer.PageHeight() / 1200.0, 11.35, 0.35);

    EXPECT_FALSE(printer.Printing());
    EXPECT_EQ(ErrorOf([&] { printer.NewPage(); }), "Printer is not currently printing");
    EXPECT_EQ(ErrorOf([&] { printer.EndDoc(); }), "Printer is not currently printing");
    printer.Title = "two pages";
    printer.BeginDoc();
    EXPECT_TRUE(printer.Printing());
    EXPECT_EQ(printer.PageNumber(), 1);
    EXPECT_EQ(ErrorOf([&] { printer.BeginDoc(); }), "Printing in progress");
    EXPECT_EQ(ErrorOf([&] { printer.SetOutputFileName(dir.Path("other.pdf")); }), "Printing in progress");
    TCanvas& canvas = printer.Canvas();
    // Fonts measure in the printer's pixels: 100 points at 96 per inch.
    canvas.Font().SetName("Courier New");
    canvas.Font().SetSize(100);
    canvas.TextOut(1200, 1200, "first page");
    printer.NewPage();
    EXPECT_EQ(printer.PageNumber(), 2);
    canvas.TextOut(1200, 1200, "second page");
    printer.EndDoc();
    EXPECT_FALSE(printer.Printing());

    const std::string text = PdfText(dir.Path("job.pdf"));
    EXPECT_EQ(text.find("first page"), text.find_first_not_of(" \n"));
    const size_t pageBreak = text.find('\f');
    ASSERT_NE(pageBreak, std::string::npos);
    EXPECT_GT(text.find("second page"), pageBreak);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 2);
}

TEST_F(PrinterTest, AnAbortedJobAndAFileThatCannotBeMade)
{
    TPrinter printer;
    printer.SetOutputFileName(dir.Path("no such folder/job.pdf"));
    EXPECT_THROW(printer.BeginDoc(), EPrinter);
    EXPECT_FALSE(printer.Printing());

    printer.SetOutputFileName(dir.Path("aborted.pdf"));
    printer.BeginDoc();
    printer.Canvas().TextOut(100, 100, "dropped");
    printer.Abort();
    EXPECT_FALSE(printer.Printing());
    EXPECT_TRUE(printer.Aborted());
}

TEST_F(PrinterTest, WithoutAnOutputFileAJobNeedsASystemPrinter)
{
    TPrinter printer;
    if (!printer.Printers().empty())
        GTEST_SKIP() << "this machine has printers";
    EXPECT_EQ(ErrorOf([&] { printer.BeginDoc(); }), "There is no default printer currently selected");
    EXPECT_EQ(ErrorOf([&] { printer.SetPrinterIndex(0); }), "Printer selected is not valid");
    EXPECT_FALSE(printer.Printing());
}

TEST_F(PrinterTest, TheProcessWidePrinterCanBeReplaced)
{
    TPrinter* mine = new TPrinter();
    TPrinter* previous = SetPrinter(mine);
    EXPECT_EQ(Printer(), mine);
    EXPECT_EQ(SetPrinter(previous), mine);
    delete mine;
    EXPECT_NE(Printer(), nullptr);
}

// ====================================================================== metafile

TEST_F(PrinterTest, AMetafileStretchesItsFrameOverTheTarget)
{
    TMetafile metafile;
    metafile.SetWidth(100);
    metafile.SetHeight(50);
    EXPECT_TRUE(metafile.Empty());
    {
        TMetafileCanvas canvas(metafile);
        canvas.Brush().SetColor(clRed);
        canvas.FillRect(Rect(10, 10, 20, 20));
    }
    EXPECT_FALSE(metafile.Empty());
    TBitmap bitmap(400, 200);
    metafile.StretchDraw(bitmap.Canvas(), Rect(0, 0, 200, 100));
    const QImage& image = bitmap.Image();
    // Twice the size: the square covers 20 to 40.
    EXPECT_EQ(image.pixelColor(19, 30), Qt::white);
    EXPECT_EQ(image.pixelColor(20, 20), Qt::red);
    EXPECT_EQ(image.pixelColor(39, 39), Qt::red);
    EXPECT_EQ(image.pixelColor(40, 30), Qt::white);
}

TEST_F(PrinterTest, AMetafilePlaysAtItsFrameOnADeviceOfAnyResolution)
{
    TMetafile metafile;
    metafile.SetWidth(10000);
    metafile.SetHeight(10000);
    {
        TMetafileCanvas canvas(metafile);
        canvas.Brush().SetColor(clBlue);
        canvas.FillRect(Rect(1000, 2000, 3000, 2500));
        canvas.Font().SetName("Courier New");
        canvas.Font().SetSize(120);
        canvas.Brush().SetStyle(TBrushStyle::bsClear);
        canvas.TextOut(1000, 4000, "text");
    }
    // A 1200 dpi device, as a printer's page is: the frame's pixels are its pixels.
    CanvasRecorder page(10000, 10000, 1200);
    metafile.StretchDraw(page.Canvas(), Rect(0, 0, 10000, 10000));
    ASSERT_EQ(page.Fills().size(), 1u);
    EXPECT_EQ(page.Fills()[0].Rect, QRectF(1000, 2000, 2000, 500));
    EXPECT_EQ(page.Fills()[0].Color, clBlue);
    ASSERT_EQ(page.Texts().size(), 1u);
    EXPECT_EQ(page.Texts()[0].Text, "text");
    EXPECT_NEAR(page.Texts()[0].At.x(), 1000, 1);
    EXPECT_EQ(page.Texts()[0].PixelSize, 160);
}

TEST_F(PrinterTest, AnisotropicMappingScalesTheRecording)
{
    TMetafile metafile;
    metafile.SetWidth(200);
    metafile.SetHeight(200);
    {
        TMetafileCanvas canvas(metafile);
        canvas.SetWindowExt(100, 50);
        canvas.SetViewportExt(200, 200);
        canvas.Brush().SetColor(clLime);
        canvas.FillRect(Rect(10, 10, 20, 20));
    }
    CanvasRecorder target(200, 200);
    metafile.StretchDraw(target.Canvas(), Rect(0, 0, 200, 200));
    ASSERT_EQ(target.Fills().size(), 1u);
    EXPECT_EQ(target.Fills()[0].Rect, QRectF(20, 40, 20, 40));
}

}  // namespace
