// The image pane on a shown main window: every kind of picture through the
// preview, the layout and zoom steps, TIFF pages, rotation and mirrors, the
// saves through the shared dialog, the page splitter and the wallpaper.
#include "app_fixture.h"

#include "app/preview.h"
#include "app/tools/imagefunc.h"
#include "gif/gif_bytes.h"
#include "kernel/registry.h"
#include "rtl/clock.h"
#include "rtl/threads.h"
#include "test_support/pnm.h"
#include "vcl/extctrls.h"
#include "vcl/graphics.h"
#include "vcl/menus.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <cstdlib>
#include <filesystem>

#include <sys/resource.h>

namespace {

std::string ImagingFixture(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/../imaging/fixtures/" + name;
}

std::string PaneFixture(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/fixtures/images/" + name;
}

std::uint32_t PixelOf(const TBitmap& bitmap, int x, int y) { return bitmap.Image().pixel(x, y) & 0xFFFFFFu; }

bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (PixelOf(a, x, y) != PixelOf(b, x, y))
                return false;
    return true;
}

bool SamePicture(const TBitmap& a, const PnmPicture& ref)
{
    if (a.Width() != ref.width || a.Height() != ref.height)
        return false;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x)
            if (PixelOf(a, x, y) != ref.At(x, y))
                return false;
    return true;
}

// Files may grow to `bytes` only while the object lives: a write past it
// fails, whoever runs the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = m_old;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    struct rlimit m_old {};
    void (*m_handler)(int) = nullptr;
};

class ImagePaneTest : public AppTest {
protected:
    ImagePaneTest()
    {
        WriteDefaults();
        ShowMainWindow();
        form->SetBounds(0, 0, 1200, 900);
        QCoreApplication::processEvents();
    }

    void View(const std::string& path)
    {
        form->CurrentFile = path;
        form->ViewCurrentFile();
        QCoreApplication::processEvents();
    }
    std::string Panel(int i) const { return form->StatusBar1->Panel(i).Text; }
    TBitmap& Shown() const { return *form->img->Picture().Bitmap(); }

    // A picture of the size written as a BMP into the test folder.
    std::string WriteBmp(const std::string& name, int width, int height, TPixelFormat format = pf24bit)
    {
        TBitmap bitmap;
        bitmap.SetPixelFormat(format);
        bitmap.SetSize(width, height);
        // Bytes of a pattern: colours at 24 bits, palette indices at 8.
        const int bytes = format == pf24bit ? 3 : 1;
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < width * bytes; ++x)
                row[x] = static_cast<std::uint8_t>(x * 7 + y * 13);
        }
        const std::string path = dir.Path(name);
        bitmap.SaveToFile(path);
        return path;
    }
};

} // namespace

TEST_F(ImagePaneTest, ShowsEveryKindWithItsSizeAndDepth)
{
    struct Case {
        const char* file;
        int kind;
        const char* label;
        const char* reference;  // "" where no netpbm reference is kept
    };
    const Case cases[] = {
        {"bmp1.bmp", 3, "1bit", "bmp1.ref.pnm"},
        {"bmp4.bmp", 3, "4bit", "bmp4.ref.pnm"},
        {"bmp8.bmp", 3, "8bit", "bmp8.ref.pnm"},
        {"bmp24.bmp", 3, "24bit", "bmp24.ref.pnm"},
        {"bmp16_555_v5.bmp", 3, "15bit", "bmp16_555_v5.ref.pnm"},
        {"bmp16_565_v5.bmp", 3, "16bit", "bmp16_565_v5.ref.pnm"},
        {"bmp32_alpha.bmp", 3, "32bit", ""},
        {"jpg_rgb.jpg", 2, "24bit", "jpg_rgb.ref.pnm"},
        {"ico4.ico", 5, "", "ico4.ref.pnm"},
        {"emf_fig2dev.emf", 6, "", ""},
        {"tif_rgb.tif", 8, "", "tif_rgb.ref.pnm"},
        {"png_rgb.png", 9, "", "png_rgb.ref.pnm"},
        {"tga24.tga", 9, "", "tga24.ref.pnm"},
        {"pcx24.pcx", 9, "", "pcx24.ref.pnm"},
        {"wbmp.wbmp", 9, "", "wbmp.ref.pnm"},
        {"jp2_rgb.jp2", 9, "", "jp2_rgb.ref.pnm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        View(ImagingFixture(c.file));
        EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
        EXPECT_EQ(form->ImageKind, c.kind);
        EXPECT_EQ(Panel(0), ImagingFixture(c.file));
        EXPECT_EQ(Panel(3), c.label);
        EXPECT_EQ(Panel(4), std::to_string(Shown().Width()) + "x" + std::to_string(Shown().Height()));
        EXPECT_EQ(Panel(5), "100%");
        EXPECT_EQ(form->ToolButton35->Visible(), c.kind == 8);
        if (*c.reference) {
            EXPECT_TRUE(SamePicture(Shown(), ReadPnmFile(ImagingFixture(c.reference))));
        }
    }
}

TEST_F(ImagePaneTest, NetpbmNamesShowAsPictures)
{
    // A raw colour picture of a reference, and small grey and bitmap ones
    // written here (a bitmap's 1 is black).
    const std::string ppm = dir.Path("photo.ppm");
    std::filesystem::copy_file(ImagingFixture("png_rgb.ref.pnm"), ppm);
    View(ppm);
    EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
    EXPECT_TRUE(SamePicture(Shown(), ReadPnmFile(ImagingFixture("png_rgb.ref.pnm"))));
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::uint32_t> pixels;
    };
    const Case cases[] = {
        {"grey.pgm", std::string("P5\n2 2\n255\n\x00\xFF\x80\x40", 15),
            {0x000000, 0xFFFFFF, 0x808080, 0x404040}},
        {"plain.pgm", "P2 2 2 255 0 255 128 64\n", {0x000000, 0xFFFFFF, 0x808080, 0x404040}},
        {"mask.pbm", "P4\n4 1\n\xA0", {0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF}},
        {"colours.pam", std::string("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n\xFF\x00\x00\x00\x80\xFF", 65),
            {0xFF0000, 0x0080FF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write(c.name, c.bytes);
        View(dir.Path(c.name));
        EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
        ASSERT_EQ(Shown().Width() * Shown().Height(), static_cast<int>(c.pixels.size()));
        for (size_t i = 0; i < c.pixels.size(); ++i)
            EXPECT_EQ(PixelOf(Shown(), static_cast<int>(i) % Shown().Width(), static_cast<int>(i) / Shown().Width()),
                c.pixels[i])
                << i;
    }
}

TEST_F(ImagePaneTest, AFailedLoadLeavesNoPictureOfAnotherFileOnShow)
{
    View(ImagingFixture("bmp24.bmp"));
    dir.Write("broken.png", "\x89PNG\r\n\x1a\n not really");
    dir.Write("cut.bmp", "BM\x10\0\0\0");
    // A GIF cut short after its signature.
    dir.Write("anim.gif", "GIF89a");
    for (const char* name : {"broken.png", "cut.bmp", "anim.gif"}) {
        SCOPED_TRACE(name);
        View(dir.Path(name));
        EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
        EXPECT_EQ(Panel(0), kFailedToOpenMessage);
    }
}

TEST_F(ImagePaneTest, AFourColourJpegShowsAsImageMagickShowsIt)
{
    // ImageMagick's CMYK file (stored as YCCK): once "Failed to open this
    // file!", it shows as ImageMagick renders it, within its rounding.
    View(ImagingFixture("jpg_cmyk.jpg"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
    EXPECT_EQ(form->ImageKind, 2);
    const PnmPicture ref = ReadPnmFile(ImagingFixture("jpg_cmyk.im.ref.pnm"));
    ASSERT_EQ(Shown().Width(), ref.width);
    ASSERT_EQ(Shown().Height(), ref.height);
    int worst = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x)
            for (int shift = 0; shift < 24; shift += 8)
                worst = std::max(worst, std::abs(static_cast<int>((PixelOf(Shown(), x, y) >> shift) & 0xFF) -
                                                 static_cast<int>((ref.At(x, y) >> shift) & 0xFF)));
    EXPECT_LE(worst, 1);
}

TEST_F(ImagePaneTest, AFileCutShortShowsWhatItHoldsAndTheStatusBarSaysSo)
{
    // Each file cut at two thirds: shown (the rows it holds, the rest
    // black), its size in panel 4, and panel 0 says it is damaged.
    struct Case {
        const char* file;
        const char* cutName;
        int kind;
    };
    for (const Case c : {Case {"jpg_rgb.jpg", "cut.jpg", 2}, Case {"png_rgb.png", "cut.png", 9},
             Case {"tga24_rle.tga", "cut.tga", 9}, Case {"bmp8_rle8.bmp", "cut.bmp", 3}}) {
        SCOPED_TRACE(c.file);
        std::ifstream in(ImagingFixture(c.file), std::ios::binary);
        const std::string whole {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        dir.Write(c.cutName, whole.substr(0, whole.size() * 2 / 3));
        View(dir.Path(c.cutName));
        EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
        EXPECT_EQ(form->ImageKind, c.kind);
        EXPECT_EQ(Panel(0), dir.Path(c.cutName) + ": The file is damaged: only part of the picture could be read");
        EXPECT_EQ(Panel(4), std::to_string(Shown().Width()) + "x" + std::to_string(Shown().Height()));
        // The whole file says nothing of the kind.
        View(ImagingFixture(c.file));
        EXPECT_EQ(Panel(0), ImagingFixture(c.file));
    }
}

TEST_F(ImagePaneTest, AnAnimatedGifPlaysAndStopsWhenAnotherFileIsChosen)
{
    // Two 2 x 2 frames, red then green, 10 units (120 ms) each, looping.
    ManualClock& clock = UseManualClock();
    gifbytes::Builder gif;
    gif.Header(2, 2, {{255, 0, 0}, {0, 255, 0}}).App("NETSCAPE2.0", {3, 1, 0, 0});
    gif.Gce(0, 10).Frame(0, 0, 2, 2, {0, 0, 0, 0}).Gce(0, 10).Frame(0, 0, 2, 2, {1, 1, 1, 1}).Trailer();
    dir.Write("anim.gif", gif.Str());
    View(dir.Path("anim.gif"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
    EXPECT_EQ(form->ImageKind, 1);
    // What the pane shows, as the image control paints it.
    auto shown = [this] {
        TBitmap painted;
        form->img->PaintArea(painted, Rect(0, 0, form->img->Width(), form->img->Height()));
        const TRect d = form->img->DestRect();
        return PixelOf(painted, d.Left + d.Width() / 2, d.Top + d.Height() / 2);
    };
    EXPECT_EQ(shown(), 0xFF0000u) << "the first frame";
    // The frame's delay passes: the painter draws the second frame, and
    // the pane repaints with it.
    ASSERT_TRUE(AwaitClockSleepers(1)) << "the animation waits for its next frame";
    clock.Advance(120);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (shown() != 0x00FF00u && std::chrono::steady_clock::now() < giveUp) {
        CheckSynchronize();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_EQ(shown(), 0x00FF00u) << "the second frame after its delay";
    // Another file chosen: the animation ends with its image; nothing waits
    // to draw a next frame.
    ASSERT_TRUE(AwaitClockSleepers(1));
    View(ImagingFixture("bmp24.bmp"));
    EXPECT_EQ(form->ImageKind, 3);
    EXPECT_FALSE(AwaitClockSleepers(1, 200)) << "the animation still runs";
}

TEST_F(ImagePaneTest, FitsOrCentresAndZoomsInTheTableSteps)
{
    const int boxW = form->sboximg->Width(), boxH = form->sboximg->Height();
    ASSERT_GT(boxW, 100);
    // Best fit: a small picture at its size; a large one by the smaller ratio.
    View(WriteBmp("small.bmp", boxW / 4, boxH / 6));
    EXPECT_EQ(form->ZoomFactor, 1.0f);
    EXPECT_EQ(Panel(5), "100%");
    View(WriteBmp("wide.bmp", boxW * 5 / 2, boxH));
    const float expected = std::min(static_cast<float>(boxW) / (boxW * 5 / 2), 1.0f);
    EXPECT_EQ(form->ZoomFactor, expected);
    EXPECT_EQ(Panel(5), std::to_string(static_cast<int>(static_cast<double>(expected) * 100)) + "%");

    struct Step {
        float from;
        int direction;
        int index;  // -1: no step
        const char* panel;
    };
    const Step steps[] = {
        {0.4f, 1, 7, "50%"}, {1.0f, 0, 8, "69%"}, {50.0f, 1, -1, nullptr}, {0.01f, 0, -1, nullptr},
        {0.03f, 0, 0, "1%"}, {1.1f, 1, 10, "120%"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.from);
        form->ZoomIndex = -1;
        form->ZoomFactor = s.from;
        form->SetStatusPanel(5, "before");
        form->ZoomImage(s.direction);
        EXPECT_EQ(form->ZoomIndex, s.index);
        EXPECT_EQ(Panel(5), s.panel ? s.panel : "before");
    }
    // At the ends of the table the index stays.
    form->ZoomIndex = 19;
    form->ZoomImage(1);
    EXPECT_EQ(form->ZoomIndex, 19);
    EXPECT_EQ(form->ZoomFactor, 50.0f);
    EXPECT_EQ(form->img->Width(), static_cast<int>(form->ImageWidth * 50.0));
    EXPECT_EQ(form->img->Cursor(), TCursor::crHandPoint);
    EXPECT_FALSE(form->sboximg->AutoScroll());

    // Actual size: one pixel wider than the pane still starts at 0 (-1 / 2
    // truncates), two pixels wider overflow and take the hand cursor.
    form->ActualSize1->Click();
    EXPECT_TRUE(form->ActualSize1->Checked());
    EXPECT_FALSE(form->AutoBestfit1->Checked());
    View(WriteBmp("one.bmp", boxW + 1, 10));
    EXPECT_EQ(form->img->Left(), 0);
    EXPECT_EQ(form->img->Cursor(), TCursor::crDefault);
    View(WriteBmp("two.bmp", boxW + 2, 10));
    EXPECT_EQ(form->img->Left(), -1);
    EXPECT_EQ(form->img->Cursor(), TCursor::crHandPoint);
    // Dragging moves the overflowing picture, kept inside the box.
    form->img->SetBounds(0, 0, boxW * 2, boxH * 2);
    form->imgMouseDown(nullptr, mbLeft, ssLeft, 50, 50);
    form->imgMouseMove(nullptr, ssLeft, 20, 30);
    EXPECT_EQ(form->img->Left(), -30);
    EXPECT_EQ(form->img->Top(), -20);
    form->imgMouseMove(nullptr, 0, 0, 0);
    EXPECT_EQ(form->img->Left(), -30);
}

TEST_F(ImagePaneTest, TiffPagesStepFromTheFirstToTheLast)
{
    View(PaneFixture("five_pages.tif"));
    EXPECT_EQ(form->EditPage->Text(), "1 / 5");
    EXPECT_TRUE(form->EditPage->Visible());
    form->ToolButton36Click(nullptr);
    EXPECT_EQ(form->EditPage->Text(), "1 / 5");
    for (int page = 2; page <= 5; ++page) {
        form->ToolButton35Click(nullptr);
        EXPECT_EQ(form->EditPage->Text(), std::to_string(page) + " / 5");
        EXPECT_EQ(Panel(4), std::to_string(7 + page) + "x" + std::to_string(5 + page));
    }
    form->ToolButton35Click(nullptr);
    EXPECT_EQ(form->EditPage->Text(), "5 / 5");
    EXPECT_EQ(PixelOf(Shown(), 0, 0), 0xFFFFFFu);  // the fifth page is white
    View(ImagingFixture("bmp24.bmp"));
    EXPECT_FALSE(form->EditPage->Visible());
}

TEST_F(ImagePaneTest, RotationsAndMirrorsMoveThePixels)
{
    View(ImagingFixture("bmp24.bmp"));
    TBitmap original;
    original.Assign(Shown());
    const int w = original.Width(), h = original.Height();
    const std::string across = std::to_string(w) + "x" + std::to_string(h);
    const std::string turned = std::to_string(h) + "x" + std::to_string(w);
    EXPECT_EQ(Panel(4), across);
    form->rorateClick(nullptr);
    EXPECT_EQ(Shown().Width(), h);
    EXPECT_EQ(form->ImageWidth, h);
    EXPECT_EQ(Panel(4), turned);
    EXPECT_EQ(PixelOf(Shown(), h - 1, 0), PixelOf(original, 0, 0));
    form->rotateleftClick(nullptr);
    EXPECT_TRUE(SamePixels(Shown(), original));
    EXPECT_EQ(form->ImageWidth, w);
    EXPECT_EQ(Panel(4), across);

    form->leftrightmirrorClick(nullptr);
    EXPECT_EQ(PixelOf(Shown(), 0, 0), PixelOf(original, w - 1, 0));
    form->updownmirrorClick(nullptr);
    EXPECT_EQ(PixelOf(Shown(), 0, 0), PixelOf(original, w - 1, h - 1));
    form->updownmirrorClick(nullptr);
    form->leftrightmirrorClick(nullptr);
    EXPECT_TRUE(SamePixels(Shown(), original));
    EXPECT_EQ(Panel(4), across);

    // A 4-bit picture turns through its indices and keeps its colours.
    View(ImagingFixture("bmp4.bmp"));
    original.Assign(Shown());
    form->rotateleftClick(nullptr);
    EXPECT_EQ(Panel(4), std::to_string(original.Height()) + "x" + std::to_string(original.Width()));
    EXPECT_EQ(Shown().PixelFormat(), pf4bit);
    EXPECT_EQ(PixelOf(Shown(), 0, 0), PixelOf(original, original.Width() - 1, 0));
    form->rorateClick(nullptr);
    EXPECT_TRUE(SamePixels(Shown(), original));
}

TEST_F(ImagePaneTest, TheEightBitFastRotationPlacesPixelsAndKeepsThePalette)
{
    View(WriteBmp("p8.bmp", 200, 100, pf8bit));
    ASSERT_EQ(Shown().PixelFormat(), pf8bit);
    TBitmap original;
    original.Assign(Shown());
    form->RotateImageFast(3, 2);
    EXPECT_EQ(Shown().Width(), 100);
    EXPECT_EQ(Shown().Height(), 200);
    EXPECT_EQ(Shown().ScanLine(0)[99], original.ScanLine(0)[0]);
    EXPECT_EQ(PixelOf(Shown(), 99, 0), PixelOf(original, 0, 0));
    form->RotateImageFast(3, 1);
    form->RotateImageFast(3, 1);
    EXPECT_EQ(Shown().ScanLine(0)[0], original.ScanLine(0)[199]);
    EXPECT_EQ(PixelOf(Shown(), 0, 0), PixelOf(original, 199, 0));
}

TEST_F(ImagePaneTest, AStillGifShowsThePaneThroughItsTransparencyAndTakesNoRotationMirrorOrSave)
{
    // A 4 x 2 GIF whose index 0 is transparent: its left half.
    gifbytes::Builder gif;
    gif.Header(4, 2, {{0, 0, 0}, {255, 0, 0}}).Gce(0, 0, 0).Frame(0, 0, 4, 2, {0, 0, 1, 1, 0, 0, 1, 1}).Trailer();
    dir.Write("still.gif", gif.Str());
    View(dir.Path("still.gif"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
    EXPECT_EQ(form->ImageKind, 1);
    EXPECT_EQ(Panel(4), "4x2");
    EXPECT_EQ(Panel(3), "");
    ASSERT_TRUE(form->img->Picture().Graphic());
    EXPECT_EQ(form->img->Picture().Graphic()->Width(), 4);

    TBitmap painted;
    const TRect d = form->img->DestRect();
    form->img->PaintArea(painted, Rect(0, 0, form->img->Width(), form->img->Height()));
    const std::uint32_t background = ColorToRGB(form->img->Parent()->Color());
    const auto bgr = [](std::uint32_t c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); };
    EXPECT_EQ(PixelOf(painted, d.Left, d.Top), bgr(background));
    EXPECT_EQ(PixelOf(painted, d.Left + d.Width() - 1, d.Top), 0xFF0000u);

    for (TControl* c : {static_cast<TControl*>(form->rorate), static_cast<TControl*>(form->rotateleft),
             static_cast<TControl*>(form->leftrightmirror), static_cast<TControl*>(form->updownmirror)})
        EXPECT_FALSE(c->Enabled());
    EXPECT_FALSE(form->SaveasaJPEG1->Enabled());
    EXPECT_FALSE(form->SaveasaBMP1->Enabled());
    EXPECT_FALSE(form->SetWallPaper1->Enabled());
    View(ImagingFixture("bmp24.bmp"));
    EXPECT_TRUE(form->rorate->Enabled());
    EXPECT_TRUE(form->SaveasaBMP1->Enabled());
}

// A GIF with no colour table at all loads but cannot render its frame.
TEST_F(ImagePaneTest, AGifWithoutColourTablesPaintsThePaneOnly)
{
    gifbytes::Builder gif;
    gif.Header(2, 2).Frame(0, 0, 2, 2, {0, 1, 1, 0}).Trailer();
    dir.Write("bare.gif", gif.Str());
    View(dir.Path("bare.gif"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelImg");
    TBitmap painted;
    form->img->PaintArea(painted, Rect(0, 0, form->img->Width(), form->img->Height()));
    const TRect d = form->img->DestRect();
    const std::uint32_t background = ColorToRGB(form->img->Parent()->Color());
    EXPECT_EQ(PixelOf(painted, d.Left, d.Top), ((background & 0xFF) << 16) | (background & 0xFF00) | ((background >> 16) & 0xFF));
    form->img->Repaint();
    QCoreApplication::processEvents();
}

TEST_F(ImagePaneTest, SavesAsJpegAndBmpWholeOrNotAtAll)
{
    View(ImagingFixture("bmp24.bmp"));
    prompts->PushText(dir.Path("copy"));
    form->SaveasaJPEG1Click(nullptr);
    EXPECT_EQ(prompts->asked.back().caption, "Save as a JPEG");
    EXPECT_EQ(prompts->asked.back().text, "JPEG images(*.jpg,*.jpeg)|*.jpg;*.jpeg");
    const PnmPicture jpeg = ReadPnmBytes(CommandOutput("djpeg -pnm '" + dir.Path("copy.jpg") + "'"));
    EXPECT_EQ(jpeg.width, Shown().Width());
    EXPECT_EQ(jpeg.height, Shown().Height());

    prompts->PushText(dir.Path("copy"));
    form->SaveasaBMP1Click(nullptr);
    EXPECT_EQ(prompts->asked.back().caption, "Save as a BMP");
    EXPECT_TRUE(SamePicture(Shown(), ReadPnmBytes(CommandOutput("bmptopnm '" + dir.Path("copy.bmp") + "' 2>/dev/null"))));

    // A save that fails part-way leaves the file it would have replaced.
    dir.Write("keep.jpg", "old");
    dir.Write("keep.bmp", "old");
    View(WriteBmp("big.bmp", 300, 300));
    {
        FileSizeLimit limit(200);
        prompts->PushText(dir.Path("keep.jpg"));
        EXPECT_THROW(form->SaveasaJPEG1Click(nullptr), Exception);
        prompts->PushText(dir.Path("keep.bmp"));
        EXPECT_THROW(form->SaveasaBMP1Click(nullptr), Exception);
    }
    EXPECT_EQ(dir.Read("keep.jpg"), "old");
    EXPECT_EQ(dir.Read("keep.bmp"), "old");
}

TEST_F(ImagePaneTest, SplitsATiffIntoOneFileAPage)
{
    TempDir out;
    View(ImagingFixture("tif_pages.tif"));
    prompts->PushText(out.Root());
    form->ToolButton39Click(nullptr);
    EXPECT_EQ(prompts->asked.front().caption, "Select a directory to save the files:");
    EXPECT_EQ(prompts->asked.back().text, "3 files saved!");
    EXPECT_EQ(out.Names(), (std::vector<std::string> {"tif_pages_page_1.tif", "tif_pages_page_2.tif",
                               "tif_pages_page_3.tif"}));
    for (int p = 0; p < 3; ++p) {
        const std::string info = CommandOutput("tiffinfo '" + out.Path("tif_pages_page_" + std::to_string(p + 1) + ".tif") + "' 2>&1");
        EXPECT_NE(info.find("Compression Scheme:"), std::string::npos) << info;
        const PnmPicture ref = ReadPnmFile(ImagingFixture("tif_pages_" + std::to_string(p) + ".ref.pnm"));
        EXPECT_NE(info.find("Image Width: " + std::to_string(ref.width) + " "), std::string::npos) << info;
    }
    prompts->asked.clear();

    // A damaged second page ends the walk after the first.
    TempDir damaged;
    prompts->PushText(damaged.Root());
    SaveTiffPages(PaneFixture("damaged_page2.tif"), 3);
    EXPECT_EQ(prompts->asked.back().text, "1 files saved!");
    EXPECT_EQ(damaged.Names(), std::vector<std::string> {"damaged_page2_page_1.tif"});

    // Pages that cannot be written are not counted and leave nothing.
    TempDir full;
    prompts->PushText(full.Root());
    {
        FileSizeLimit limit(50);
        SaveTiffPages(ImagingFixture("tif_pages.tif"), 3);
    }
    EXPECT_EQ(prompts->asked.back().text, "0 files saved!");
    EXPECT_TRUE(full.Names().empty());

    // A cancelled folder dialog does nothing.
    prompts->PushCancel();
    const std::size_t asked = prompts->asked.size();
    SaveTiffPages(ImagingFixture("tif_pages.tif"), 3);
    EXPECT_EQ(prompts->asked.size(), asked + 1);
}

namespace {

// The environment of one wallpaper test: the XDG folders in the test
// folder, gsettings writing a key file there, PATH as given.
class WallpaperEnvironment {
public:
    WallpaperEnvironment(const TempDir& dir, const std::string& path)
    {
        Set("XDG_CONFIG_HOME", dir.Path("config"));
        Set("XDG_DATA_HOME", dir.Path("data with a long name/" + std::string(120, 'd') + "/" + std::string(120, 'e')));
        Set("GSETTINGS_BACKEND", "keyfile");
        Set("PATH", path);
    }
    ~WallpaperEnvironment()
    {
        for (auto& [name, old] : m_saved)
            if (old.first)
                ::setenv(name.c_str(), old.second.c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }

private:
    void Set(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, std::make_pair(old != nullptr, old ? std::string(old) : std::string()));
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> m_saved;
};

std::string Gsettings(const std::string& key)
{
    std::string v = CommandOutput("gsettings get org.gnome.desktop.background " + key + " 2>/dev/null");
    while (!v.empty() && v.back() == '\n')
        v.pop_back();
    return v;
}

} // namespace

TEST_F(ImagePaneTest, SetsTheWallpaperInEachStyle)
{
    if (CommandOutput("command -v gsettings").empty()
        || CommandOutput("gsettings list-keys org.gnome.desktop.background 2>/dev/null").empty())
        GTEST_SKIP() << "gsettings or the desktop background's schema is not installed";
    View(ImagingFixture("bmp24.bmp"));
    WallpaperEnvironment env(dir, std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    struct Case {
        TMenuItem* item;
        const char* options;
        const char* tile;
        const char* style;
    };
    const Case cases[] = {
        {form->Centered1, "'centered'", "0", "0"},
        {form->Streched1, "'stretched'", "0", "2"},
        {form->Tiled1, "'wallpaper'", "1", "0"},
    };
    // The data folder's path is longer than 255 characters: it is kept whole.
    const std::string bitmap = std::string(std::getenv("XDG_DATA_HOME")) + "/vistrel/" + kWallpaperFileName;
    ASSERT_GT(bitmap.size(), 255u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        c.item->Click();
        EXPECT_EQ(Gsettings("picture-options"), c.options);
        EXPECT_EQ(Gsettings("picture-uri").substr(0, 8), "'file://");
        EXPECT_NE(Gsettings("picture-uri-dark").find(kWallpaperFileName), std::string::npos);
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", false));
        EXPECT_EQ(reg.ReadString("WallPaper"), bitmap);
        EXPECT_EQ(reg.ReadString("TileWallPaper"), c.tile);
        EXPECT_EQ(reg.ReadString("WallPaperStyle"), c.style);
    }
    TBitmap written;
    written.LoadFromFile(bitmap);
    EXPECT_TRUE(SamePixels(written, Shown()));
}

TEST_F(ImagePaneTest, WithoutGsettingsOnlyTheBitmapAndTheValuesAreWritten)
{
    View(ImagingFixture("bmp24.bmp"));
    WallpaperEnvironment env(dir, dir.Path("no-programs"));
    // A picture holding another kind of graphic gives it up for an empty bitmap.
    auto icon = std::make_unique<TIcon>();
    icon->LoadFromFile(ImagingFixture("ico4.ico"));
    form->img->Picture().SetGraphic(std::move(icon));
    form->Centered1->Click();
    const std::string bitmap = std::string(std::getenv("XDG_DATA_HOME")) + "/vistrel/" + kWallpaperFileName;
    EXPECT_TRUE(std::filesystem::exists(bitmap));
    EXPECT_NE(dynamic_cast<TBitmap*>(form->img->Picture().Graphic()), nullptr);
    EXPECT_TRUE(form->img->Picture().Bitmap()->Empty());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", false));
    EXPECT_EQ(reg.ReadString("WallPaper"), bitmap);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("config/glib-2.0")));
}

TEST(PngDibLoader, ReadsEveryColourTypeIntoAPackedDib)
{
    struct Case {
        const char* file;
        int bits;
        std::uint32_t entries;
    };
    const Case cases[] = {
        {"png_rgb.png", 24, 0}, {"png_rgba.png", 24, 0}, {"png_grey8.png", 8, 256}, {"png_bw.png", 1, 2},
        {"png_pal4.png", 4, 16}, {"png_grey2_interlaced.png", 8, 4}, {"png_rgb16.png", 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TPngDibRecord record;
        record.Path = ImagingFixture(c.file);
        ASSERT_EQ(LoadPngDib(record), 0);
        EXPECT_EQ(record.Block[14], c.bits);
        EXPECT_EQ(record.PaletteEntries, c.entries);
        EXPECT_EQ(record.BitsOffset, 40u + 4u * c.entries);
        TBitmap bitmap;
        bitmap.LoadFromDib(record.Block, static_cast<std::size_t>(record.BlockSize));
        FreePngDib(record);
        if (std::string(c.file) == "png_rgb.png") {
            EXPECT_TRUE(SamePicture(bitmap, ReadPnmFile(ImagingFixture("png_rgb.ref.pnm"))));
        }
    }
    TPngDibRecord wrong;
    wrong.HeaderSize = 12;
    EXPECT_EQ(LoadPngDib(wrong), 2);
    TPngDibRecord missing;
    missing.Path = "/nonexistent.png";
    EXPECT_EQ(LoadPngDib(missing), 8);
    TPngDibRecord notPng;
    notPng.Path = ImagingFixture("bmp24.bmp");
    EXPECT_EQ(LoadPngDib(notPng), 5);
    EXPECT_EQ(notPng.Block, nullptr);
}
