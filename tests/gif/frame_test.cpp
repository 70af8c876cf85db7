// Frames as pictures: their bitmaps and masks, drawing scaled, stretched,
// tiled and through the mask, bounds and pixel access, and the image's own
// size, palette and options.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"
#include "imaging/gif/gifdib.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

using gifbytes::Builder;
using gifbytes::Rgb;

const std::vector<Rgb> kFour = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
constexpr TColor kBack = RGB(10, 200, 30);

// The colour of a pixel of a bitmap as 0x00BBGGRR.
TColor PixelOf(TBitmap& bitmap, int x, int y) { return static_cast<TColor>(GetPixel(bitmap.Canvas().Handle(), x, y)); }

TColor ColorOf(const Rgb& c) { return RGB(c.r, c.g, c.b); }

// A 32-bit canvas filled with kBack.
std::unique_ptr<TBitmap> Canvas(int w, int h)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf32bit);
    b->SetSize(w, h);
    b->Canvas().Brush().SetColor(kBack);
    b->Canvas().FillRect(Rect(0, 0, w, h));
    return b;
}

// Palette screens dither; tests of them set the screen kind for their scope.
struct PaletteScreen {
    explicit PaletteScreen(bool on) { PaletteDevice = DoAutoDither = on; }
    ~PaletteScreen() { PaletteDevice = DoAutoDither = false; }
};

TEST(GifFrame, EveryFrameBitmapShowsItsPixelsInItsTable)
{
    const std::vector<Rgb> local = {{1, 2, 3}, {40, 50, 60}, {70, 80, 90}, {200, 210, 220}};
    Builder b;
    b.Header(4, 3, kFour);
    b.Frame(0, 0, 4, 3, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2});
    b.Gce(1, 10).Frame(1, 1, 3, 2, {3, 0, 1, 2, 2, 3}, local, true);
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    for (int i = 0; i < 2; ++i) {
        TGIFSubImage* f = g.image->Images().Image(i);
        const std::vector<Rgb>& table = i == 0 ? kFour : local;
        TBitmap* bitmap = f->GetBitmap();
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->PixelFormat(), pf8bit);
        ASSERT_EQ(bitmap->Width(), f->Width());
        ASSERT_EQ(bitmap->Height(), f->Height());
        for (int y = 0; y < f->Height(); ++y)
            for (int x = 0; x < f->Width(); ++x)
                EXPECT_EQ(PixelOf(*bitmap, x, y), ColorOf(table[f->GetPixel(x, y)])) << i << ": " << x << "," << y;
        EXPECT_EQ(f->GetBitmap(), bitmap);  // kept
    }
}

TEST(GifFrame, MaskMarksTheTransparentIndexOnly)
{
    Builder b;
    b.Header(3, 2, kFour).Gce(0, 0, 2).Frame(0, 0, 3, 2, {2, 1, 2, 0, 2, 3});
    b.Gce(0, 0, 3).Frame(0, 0, 3, 2, {0, 1, 1, 0, 1, 1});  // index 3 unused
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    TGIFSubImage* f = g.image->Images().Image(0);
    ASSERT_TRUE(f->HasMask());
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, f->Mask());
    const bool expected[2][3] = {{true, false, true}, {false, true, false}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(GetPixel(dc, x, y) == RGB(255, 255, 255), expected[y][x]) << x << "," << y;
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_FALSE(g.image->Images().Image(1)->HasMask());
}

TEST(GifFrame, TransparentPixelsShowTheCanvasUnscaledAndStretched)
{
    Builder b;
    b.Header(2, 2, kFour).Gce(0, 0, 0).Frame(0, 0, 2, 2, {0, 1, 3, 0});
    const LoadedGif g = LoadGif(b.Trailer().Str());
    TGIFSubImage* f = g.image->Images().Image(0);
    for (int scale : {1, 3}) {
        auto canvas = Canvas(2 * scale, 2 * scale);
        f->Draw(canvas->Canvas(), Rect(0, 0, 2 * scale, 2 * scale), true, false);
        for (int y = 0; y < 2 * scale; ++y)
            for (int x = 0; x < 2 * scale; ++x) {
                const int index = f->GetPixel(x / scale, y / scale);
                EXPECT_EQ(PixelOf(*canvas, x, y), index == 0 ? kBack : ColorOf(kFour[index])) << scale << ": " << x << "," << y;
            }
    }
    // Without transparency the index's own colour shows.
    auto opaque = Canvas(2, 2);
    f->Draw(opaque->Canvas(), Rect(0, 0, 2, 2), false, false);
    EXPECT_EQ(PixelOf(*opaque, 0, 0), clBlack);
}

TEST(GifFrame, PlacedByScalingTheScreenIntoTheRectangle)
{
    TGIFImage image;
    auto* frame = new TGIFSubImage(&image);
    image.Images().Add(frame);
    image.SetWidth(100);
    image.SetHeight(50);
    frame->DoSetBounds(10, 5, 20, 10);
    EXPECT_EQ(frame->ScaleRect(Rect(0, 0, 200, 100)), Rect(20, 10, 60, 30));
}

TEST(GifFrame, TilesStepByTheScreenSize)
{
    Builder b;
    b.Header(10, 10, kFour).Frame(2, 3, 2, 2, {1, 1, 1, 1});
    LoadedGif g = LoadGif(b.Trailer().Str());
    g.image->SetDrawOptions(static_cast<TGIFDrawOptions>(g.image->DrawOptions() | goTile));
    auto canvas = Canvas(25, 15);
    g.image->Draw(canvas->Canvas(), Rect(0, 0, 25, 15));
    std::vector<TPoint> red;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 25; ++x)
            if (PixelOf(*canvas, x, y) == clRed && (x == 0 || PixelOf(*canvas, x - 1, y) != clRed) &&
                (y == 0 || PixelOf(*canvas, x, y - 1) != clRed))
                red.push_back(Point(x, y));
    EXPECT_EQ(red.size(), 6u);
    for (TPoint p : {Point(2, 3), Point(12, 3), Point(22, 3), Point(2, 13), Point(12, 13), Point(22, 13)})
        EXPECT_NE(std::find(red.begin(), red.end(), p), red.end()) << p.X << "," << p.Y;
}

// A 0 x 0 screen keeps frames as read; tiling stepped by 0 for ever.
TEST(GifFrame, gif_zero_screen_tile)
{
    Builder b;
    b.Header(0, 0, kFour).Gce(0, 0, 0).Frame(0, 0, 2, 2, {0, 1, 2, 3}).Frame(1, 1, 2, 2, {1, 1, 1, 1});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 2);
    EXPECT_EQ(g.image->Width(), 0);
    auto canvas = Canvas(8, 8);
    for (int i = 0; i < 2; ++i)
        for (bool transparent : {false, true})
            g.image->Images().Image(i)->Draw(canvas->Canvas(), Rect(0, 0, 8, 8), transparent, true);
    g.image->SetDrawOptions(static_cast<TGIFDrawOptions>(g.image->DrawOptions() | goTile));
    g.image->Draw(canvas->Canvas(), Rect(0, 0, 8, 8));
    EXPECT_EQ(PixelOf(*canvas, 4, 4), kBack);
}

TEST(GifFrame, DitheredOnAPaletteScreen)
{
    PaletteScreen screen(true);
    Builder b;
    b.Header(4, 1, {{0, 0, 0}, {255, 255, 255}, {51, 102, 153}}).Gce(0, 0, 0).Frame(0, 0, 4, 1, {1, 2, 0, 2});
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_TRUE(g.image->GetDoDither());
    TBitmap* bitmap = g.image->Images().Image(0)->GetBitmap();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelOf(*bitmap, 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(PixelOf(*bitmap, 1, 0), RGB(51, 102, 153));
    EXPECT_EQ(PixelOf(*bitmap, 3, 0), RGB(51, 102, 153));
    // The transparent pixel holds the web entry after its colour's.
    EXPECT_EQ(bitmap->ScanLine(0)[2], 1);
    std::uint32_t colors[216];
    bitmap->GetColors(0, 216, colors);
    EXPECT_EQ(colors[215], 0x00FFFFFFu);
    EXPECT_EQ(colors[1], 0x00000033u);
    EXPECT_TRUE(g.image->Images().Image(0)->HasMask());
}

// A pixel past its table once read memory behind it in the dithered bitmap.
TEST(GifFrame, gif_pixel_past_table)
{
    Builder b;
    b.Header(3, 1).Frame(0, 0, 3, 1, {1, 200, 0}, {{255, 0, 0}, {0, 0, 255}});
    for (bool dither : {false, true}) {
        PaletteScreen screen(dither);
        const LoadedGif g = LoadGif(Builder(b).Trailer().Str());
        TBitmap* bitmap = g.image->Images().Image(0)->GetBitmap();
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(PixelOf(*bitmap, 1, 0), dither ? clRed : clBlack) << dither;
    }
}

TEST(GifFrame, BoundsPixelsAndTheirErrors)
{
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnGIFWarning = [&](TObject*, TGIFSeverity, const std::string& m) { warnings.push_back(m); };
    auto* f = new TGIFSubImage(&image);
    image.Images().Add(f);
    f->DoSetBounds(0, 0, 30, 20);
    EXPECT_EQ(image.Width(), 30);
    EXPECT_EQ(image.Height(), 20);
    EXPECT_TRUE(warnings.empty());
    f->SetBounds(TGIFSubImage::bWidth, 40);
    EXPECT_EQ(image.Width(), 40);
    EXPECT_EQ(warnings, (std::vector<std::string> {"Image width too small for contained frames", "Image exceeds Logical Screen size"}));
    EXPECT_EQ(f->Pixels(), std::vector<std::uint8_t>(800, 0));
    EXPECT_EQ(ErrorOf([&] { f->GetPixel(40, 0); }), "Invalid pixel coordinates");
    EXPECT_EQ(ErrorOf([&] { f->GetScanline(-1); }), "Invalid pixel coordinates");
    f->SetBoundsRect(f->GetBoundsRect());
    EXPECT_EQ(f->Width(), 41);
    EXPECT_EQ(f->Height(), 21);
    EXPECT_EQ(ErrorOf([&] { image.SetWidth(20); }), "Image width too small for contained frames");
    EXPECT_EQ(image.Width(), 41);
    EXPECT_EQ(ErrorOf([&] { image.SetHeight(3); }), "Image height too small for contained frames");
}

TEST(GifImage, OptionsAndPalette)
{
    TGIFImage image;
    EXPECT_EQ(ErrorOf([&] { image.SetReductionBits(2); }), "Invalid Bits Per Pixel value");
    EXPECT_EQ(ErrorOf([&] { image.SetReductionBits(9); }), "Invalid Bits Per Pixel value");
    image.SetReductionBits(3);
    image.SetReductionBits(8);
    EXPECT_EQ(image.ReductionBits(), 8);
    image.SetAnimationSpeed(-5);
    EXPECT_EQ(image.AnimationSpeed(), 0);
    image.SetAnimationSpeed(5000);
    EXPECT_EQ(image.AnimationSpeed(), 1000);
    EXPECT_EQ(image.GetPalette(), nullptr);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.GetVersion(), gvUnknown);
    PaletteScreen screen(true);
    HPALETTE web = image.GetPalette();
    ASSERT_TRUE(web);
    PALETTEENTRY entries[256];
    EXPECT_EQ(GetPaletteEntries(web, 0, 256, entries), 216u);
    EXPECT_EQ(entries[215].peRed, 255);
}

TEST(GifImage, SingleFrameDrawsWithItsTransparencyAndBitmapIsTheFrame)
{
    Builder b;
    b.Header(2, 1, kFour).Gce(0, 0, 3).Frame(0, 0, 2, 1, {3, 1});
    LoadedGif g = LoadGif(b.Trailer().Str());
    auto canvas = Canvas(2, 1);
    g.image->Draw(canvas->Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(PixelOf(*canvas, 0, 0), kBack);
    EXPECT_EQ(PixelOf(*canvas, 1, 0), clRed);
    TBitmap* bitmap = g.image->GetBitmap();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelOf(*bitmap, 0, 0), clBlue);
    EXPECT_EQ(PixelOf(*bitmap, 1, 0), clRed);
}

TEST(GifImage, DrawCalledWhileDrawingReturnsAtOnce)
{
    Builder b;
    b.Header(2, 1, kFour).Frame(0, 0, 2, 1, {1, 2});
    LoadedGif g = LoadGif(b.Trailer().Str());
    auto outer = Canvas(2, 1), inner = Canvas(2, 1);
    int nested = 0;
    g.image->OnProgress = [&](TObject*, TProgressStage stage, std::uint8_t, bool, const TRect&, const std::string& m) {
        if (stage == psStarting && m == "Rendering...") {
            ++nested;
            g.image->Draw(inner->Canvas(), Rect(0, 0, 2, 1));
        }
    };
    g.image->Draw(outer->Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(PixelOf(*inner, 0, 0), kBack);
    EXPECT_EQ(PixelOf(*outer, 0, 0), clRed);
}

TEST(GifImage, BitmapOfASmallerFirstFrameIsItPlacedOnTheScreen)
{
    Builder b;
    b.Header(4, 2, kFour, 0).Frame(2, 0, 2, 2, {3, 3, 3, 3}).Frame(0, 0, 1, 1, {1});
    LoadedGif g = LoadGif(b.Trailer().Str());
    TBitmap* bitmap = g.image->GetBitmap();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->Width(), 4);
    EXPECT_EQ(PixelOf(*bitmap, 3, 1), clBlue);
    EXPECT_EQ(PixelOf(*bitmap, 0, 0), clWhite);  // a new bitmap's own white
    EXPECT_EQ(g.image->GetBitmap(), bitmap);
    g.image->SetWidth(5);
    EXPECT_NE(g.image->GetBitmap(), nullptr);
    EXPECT_EQ(g.image->GetBitmap()->Width(), 5);
}

TEST(GifImage, BackgroundIndexOutsideTheTableWarnsAndTakesZero)
{
    Builder b;
    b.Header(2, 1, kFour, 2).Frame(0, 0, 2, 1, {1, 2});
    LoadedGif g = LoadGif(b.Trailer().Str());
    EXPECT_EQ(g.image->GetBackgroundColor(), RGB(0, 255, 0));
    g.image->SetBackgroundColorIndex(9);
    EXPECT_EQ(g.image->GetBackgroundColorIndex(), 0);
    EXPECT_EQ(g.warnings(), std::vector<std::string> {"Invalid color index"});
}

TEST(GifDib, WriterLayoutAndErrors)
{
    TBitmap bitmap;
    EXPECT_EQ(ErrorOf([&] { TDIBWriter w(bitmap, pf4bit, 2, 2, nullptr); }), "Unsupported PixelFormat");
    EXPECT_EQ(ErrorOf([&] { TDIBWriter w(bitmap, pf8bit, 0, 2, nullptr); }), "Invalid image dimensions");

    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + 16 * sizeof(PALETTEENTRY));
    auto* pal = reinterpret_cast<LOGPALETTE*>(storage.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = 16;
    for (int i = 0; i < 16; ++i)
        pal->palPalEntry[i] = {static_cast<BYTE>(i * 16 + 1), 2, 3, 0};
    HPALETTE palette = CreatePalette(pal);
    {
        TDIBWriter w(bitmap, pf8bit, 3, 2, palette);
        w.GetScanline(0)[0] = 5;
        w.GetScanline(1)[2] = 7;
        EXPECT_EQ(ErrorOf([&] { w.GetScanline(2); }), "Scan line index out of range");
        // Top-down as the bitmap keeps them, three pixels padded to four.
        EXPECT_EQ(w.GetScanline(1) - w.GetScanline(0), 4);
        w.Store();
    }
    ASSERT_EQ(bitmap.ColorCount(), 256);
    std::uint32_t colors[256];
    bitmap.GetColors(0, 256, colors);
    EXPECT_EQ(colors[1], 0x00110203u);
    for (int i = 16; i < 256; ++i)
        EXPECT_EQ(colors[i], 0u) << i;
    EXPECT_EQ(bitmap.ScanLine(0)[0], 5);
    EXPECT_EQ(bitmap.ScanLine(1)[2], 7);
    {
        // A picture never stored is dropped and the bitmap keeps its own.
        TDIBWriter w(bitmap, pf8bit, 5, 5, palette);
        w.GetScanline(0)[0] = 9;
    }
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.ScanLine(0)[0], 5);
    DeleteObject(palette);
}

// Row sizes of a 65,535-pixel-square frame once overflowed 32 bits.
TEST(GifDib, gif_dib_rowbytes_64bit)
{
    EXPECT_EQ(RowBytes(65535, 24, 32), 196608u);
    EXPECT_EQ(RowBytes(65535, 8, 32), 65536u);
    EXPECT_EQ(RowBytes(1, 1, 16), 2u);
    EXPECT_EQ(RowBytes(0xFFFFFFFFull, 32, 32), 0x3FFFFFFFCull);
    TBitmap bitmap;
    TDIBWriter w(bitmap, pf24bit, 65535, 65535, nullptr);
    EXPECT_EQ(ErrorOf([&] { w.GetScanline(0); }), "Failed to allocate memory for GIF DIB");
}

}  // namespace
