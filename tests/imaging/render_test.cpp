// Drawing into memory device contexts, the geometric operations and sampling.
#include "test_util.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace imgtest;

namespace {

// A memory DC with a 32-bit bitmap filled with one colour.
class Canvas {
public:
    Canvas(int w, int h, COLORREF fill) : m_w(w), m_h(h)
    {
        m_dc = CreateCompatibleDC(nullptr);
        m_bmp = CreateCompatibleBitmap(nullptr, w, h);
        m_old = SelectObject(m_dc, m_bmp);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                SetPixel(m_dc, x, y, fill);
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    HDC dc() const { return m_dc; }
    COLORREF at(int x, int y) const { return GetPixel(m_dc, x, y); }

private:
    int m_w, m_h;
    HDC m_dc;
    HBITMAP m_bmp;
    HGDIOBJ m_old;
};

TEST(Draw, UnscaledCopyPutsTheTopRowFirst)
{
    VxImage img(7, 5, 24, 1);
    Paint24(img);
    Canvas c(7, 5, RGB(1, 1, 1));
    EXPECT_EQ(img.Draw(c.dc()), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(c.at(x, y), Ref(img.GetPixelColor(x, 4 - y, false))) << x << "," << y;

    VxImage pal(7, 5, 4, 1);
    for (int i = 0; i < 16; ++i)
        pal.SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 16), 3, 200);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            pal.SetPixelIndex(x, y, static_cast<std::uint8_t>((x + y) % 16));
    pal.Draw(c.dc(), 0, 0, -1, -1);
    EXPECT_EQ(c.at(3, 0), RGB(((3 + 4) % 16) * 16, 3, 200));
}

TEST(Draw, HalfSizeNearestTakesEverySecondPixel)
{
    VxImage img(8, 6, 24, 1);
    Paint24(img);
    Canvas c(4, 3, 0);
    ASSERT_EQ(img.Draw(c.dc(), 0, 0, 4, 3), 1);
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 4; ++dx)
            EXPECT_EQ(c.at(dx, dy), Ref(img.GetPixelColor(2 * dx, 6 - 2 - 2 * dy, false))) << dx << "," << dy;
}

TEST(Draw, NothingToDraw)
{
    VxImage empty;
    Canvas c(2, 2, 0);
    EXPECT_EQ(empty.Draw(c.dc()), 0);
    VxImage img(2, 2, 24, 1);
    EXPECT_EQ(img.Draw(nullptr), 0);
    EXPECT_EQ(img.Draw(c.dc(), 0, 0, 0, 5), 0);
}

TEST(Draw, ColourKeyShowsTheBackground)
{
    VxImage img(4, 4, 24, 1);
    Paint24(img);
    const RGBQUAD key{9, 8, 7, 0};
    img.SetPixelColor(1, 1, key);
    img.SetPixelColor(2, 3, key);
    img.SetTransparentColor(key);
    img.SetTransparentIndex(0);
    Canvas c(4, 4, RGB(50, 60, 70));
    img.Draw(c.dc());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const RGBQUAD p = img.GetPixelColor(x, 3 - y, false);
            const bool keyed = p.rgbBlue == 9 && p.rgbGreen == 8 && p.rgbRed == 7;
            EXPECT_EQ(c.at(x, y), keyed ? RGB(50, 60, 70) : Ref(p)) << x << "," << y;
        }

    VxImage pal(3, 1, 8, 1);
    pal.SetPaletteColor(0, 255, 0, 0);
    pal.SetPaletteColor(5, 0, 0, 255);
    pal.SetPixelIndex(0, 0, 5);
    pal.SetPixelIndex(1, 0, 0);
    pal.SetPixelIndex(2, 0, 5);
    pal.SetTransparentIndex(5);
    Canvas d(3, 1, RGB(1, 2, 3));
    pal.Draw(d.dc());
    EXPECT_EQ(d.at(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(d.at(1, 0), RGB(255, 0, 0));
    EXPECT_EQ(d.at(2, 0), RGB(1, 2, 3));
}

TEST(Draw, AlphaBlendsWithTheBackground)
{
    VxImage img(3, 1, 24, 1);
    img.CreateAlphaPlane();
    for (int x = 0; x < 3; ++x)
        img.SetPixelColor(x, 0, RGBQUAD{0, 0, 0, 0});
    img.SetAlphaAt(0, 0, 128);
    img.SetAlphaAt(1, 0, 0);
    img.SetAlphaAt(2, 0, 255);
    Canvas c(3, 1, RGB(255, 255, 255));
    img.Draw(c.dc());
    EXPECT_EQ(c.at(0, 0), RGB(126, 126, 126));  // (255 x 127 + 0) >> 8
    EXPECT_EQ(c.at(1, 0), RGB(255, 255, 255));
    EXPECT_EQ(c.at(2, 0), RGB(0, 0, 0));
}

TEST(Draw, AlphaMaximumScalesEveryAlpha)
{
    class Half : public VxImage {
    public:
        Half() : VxImage(2, 1, 24, 1) { m_info.alphaMax = 127; }
    } img;
    img.CreateAlphaPlane();
    img.SetPixelColor(0, 0, RGBQUAD{0, 0, 0, 0});
    img.SetPixelColor(1, 0, RGBQUAD{0, 0, 0, 0});
    Canvas c(2, 1, RGB(255, 255, 255));
    img.Draw(c.dc());
    // a = (255 x 128) >> 8 = 127, then (255 x 128) >> 8 = 127 per byte.
    EXPECT_EQ(c.at(0, 0), RGB(127, 127, 127));
}

TEST(Draw, PaletteAlphaScalesTheSample)
{
    class PaletteAlpha : public VxImage {
    public:
        PaletteAlpha() : VxImage(2, 1, 8, 1) { m_info.paletteAlphaEnabled = true; }
    } img;
    img.SetPaletteColor(0, 0, 0, 0, 255);
    img.SetPaletteColor(1, 0, 0, 0, 127);
    img.SetPixelIndex(1, 0, 1);
    Canvas c(2, 1, RGB(255, 255, 255));
    img.Draw(c.dc());
    EXPECT_EQ(c.at(0, 0), RGB(0, 0, 0));
    // a = (255 x 256 >> 8) x (127 + 1) >> 8 = 127; white keeps (255 x 128) >> 8.
    EXPECT_EQ(c.at(1, 0), RGB(127, 127, 127));
}

TEST(Draw, ClipRectangleLimitsThePaintAndTheRegionComesBack)
{
    VxImage img(6, 6, 24, 1);
    Paint24(img);
    Canvas c(6, 6, RGB(5, 5, 5));
    // A clip region of two rectangles, which a bounding box would not restore.
    HRGN a = CreateRectRgn(0, 0, 3, 3);
    HRGN b = CreateRectRgn(3, 3, 6, 6);
    CombineRgn(a, a, b, RGN_OR);
    SelectClipRgn(c.dc(), a);
    RECT before;
    GetClipBox(c.dc(), &before);

    const RECT clip{1, 1, 4, 4};
    img.Draw(c.dc(), 0, 0, -1, -1, &clip, false);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inRect = x >= 1 && x < 4 && y >= 1 && y < 4;
            const bool inRegion = (x < 3 && y < 3) || (x >= 3 && y >= 3);
            SelectClipRgn(c.dc(), nullptr);
            const COLORREF got = c.at(x, y);
            SelectClipRgn(c.dc(), a);
            EXPECT_EQ(got, inRect && inRegion ? Ref(img.GetPixelColor(x, 5 - y, false)) : RGB(5, 5, 5))
                << x << "," << y;
        }
    RECT after;
    GetClipBox(c.dc(), &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_FALSE(PtVisible(c.dc(), 4, 1));  // still two rectangles, not their box
    DeleteObject(a);
    DeleteObject(b);
}

TEST(Draw, SmoothScalingInterpolates)
{
    VxImage flat(10, 10, 24, 1);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            flat.SetPixelColor(x, y, RGBQUAD{40, 80, 120, 0});
    Canvas c(23, 17, 0);
    flat.Draw(c.dc(), 0, 0, 23, 17, nullptr, true);
    // Inside, the fixed-point weights sum to one exactly; at the edges the
    // floating weights may lose one unit to truncation.
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) {
            ASSERT_NEAR(GetRValue(c.at(x, y)), 120, 1);
            ASSERT_NEAR(GetGValue(c.at(x, y)), 80, 1);
            ASSERT_NEAR(GetBValue(c.at(x, y)), 40, 1);
        }
    EXPECT_EQ(c.at(11, 8), RGB(120, 80, 40));

    // Two columns, black and white, stretched: smoothing makes greys.
    VxImage two(2, 1, 24, 1);
    two.SetPixelColor(1, 0, RGBQUAD{255, 255, 255, 0});
    Canvas d(8, 1, 0);
    two.Draw(d.dc(), 0, 0, 8, 1, nullptr, true);
    bool grey = false;
    for (int x = 0; x < 8; ++x)
        grey |= GetRValue(d.at(x, 0)) > 0 && GetRValue(d.at(x, 0)) < 255;
    EXPECT_TRUE(grey);
}

// Fills an image of any depth with a pattern of indices or colours, and an alpha plane.
void Pattern(VxImage& img)
{
    const int w = static_cast<int>(img.GetWidth()), h = static_cast<int>(img.GetHeight());
    if (img.IsIndexed()) {
        for (std::uint32_t i = 0; i < img.GetNumColors(); ++i)
            img.SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i),
                                static_cast<std::uint8_t>(255 - i));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.SetPixelIndex(x, y, static_cast<std::uint8_t>((x * 5 + y * 3 + x * y) % img.GetNumColors()));
    } else {
        Paint24(img);
    }
    img.CreateAlphaPlane();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetAlphaAt(x, y, static_cast<std::uint8_t>(x * 31 + y * 11));
}

TEST(Geometry, RotateLeftThenRightIsTheIdentityAtEveryDepth)
{
    for (std::uint32_t bpp : {1u, 4u, 8u, 24u}) {
        for (auto [w, h] : {std::pair{13u, 7u}, std::pair{10u, 3u}, std::pair{1u, 9u}, std::pair{70u, 67u}}) {
            VxImage img(w, h, bpp, 1);
            Pattern(img);
            VxImage original(img, true, false, true);
            ASSERT_TRUE(img.RotateLeft());
            EXPECT_EQ(img.GetWidth(), h);
            EXPECT_EQ(img.GetHeight(), w);
            // new(x, y) = old(y, W - 1 - x), W the new width.
            const int W = static_cast<int>(h);
            for (int y = 0; y < static_cast<int>(w); y += 3)
                for (int x = 0; x < W; x += 2)
                    ASSERT_EQ(Ref(img.GetPixelColor(x, y, true)), Ref(original.GetPixelColor(y, W - 1 - x, true)));
            ASSERT_TRUE(img.RotateRight());
            EXPECT_TRUE(SameImage(img, original, true)) << bpp << " " << w << "x" << h;
        }
    }
}

TEST(Geometry, RotateIntoADestinationLeavesTheSource)
{
    VxImage img(10, 3, 24, 1);
    Paint24(img);
    VxImage dest;
    ASSERT_TRUE(img.RotateRight(&dest));
    EXPECT_EQ(dest.GetWidth(), 3u);
    EXPECT_EQ(dest.GetHeight(), 10u);
    EXPECT_EQ(img.GetWidth(), 10u);
    // Right: new(x, y) = old(H - 1 - y, x).
    EXPECT_EQ(Ref(dest.GetPixelColor(2, 0, false)), Ref(img.GetPixelColor(9, 2, false)));
    VxImage empty;
    EXPECT_FALSE(empty.RotateLeft());
}

TEST(Geometry, FlipAndMirrorAtEveryDepth)
{
    for (std::uint32_t bpp : {1u, 4u, 8u, 24u}) {
        VxImage img(11, 5, bpp, 1);
        Pattern(img);
        VxImage original(img, true, false, true);
        ASSERT_TRUE(img.Flip());
        ASSERT_TRUE(img.Mirror());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x) {
                const RGBQUAD a = img.GetPixelColor(x, y, true), b = original.GetPixelColor(10 - x, 4 - y, true);
                ASSERT_EQ(std::memcmp(&a, &b, 3), 0) << bpp;
                ASSERT_EQ(a.rgbReserved, b.rgbReserved);
            }
    }
}

TEST(Geometry, NegativeInvertsColoursPalettesOrGreyIndices)
{
    VxImage rgb(3, 2, 24, 1);
    rgb.SetPixelColor(0, 0, RGBQUAD{0, 100, 255, 0});
    rgb.SetTransparentColor(RGBQUAD{1, 2, 3, 0});
    ASSERT_TRUE(rgb.Negative());
    EXPECT_EQ(Ref(rgb.GetPixelColor(0, 0, false)), RGB(0, 155, 255));
    EXPECT_EQ(rgb.GetTransparentColor().rgbBlue, 254);

    VxImage pal(2, 1, 1, 1);
    pal.SetPaletteColor(0, 10, 20, 30);
    pal.SetPaletteColor(1, 200, 200, 200);
    pal.Negative();
    EXPECT_EQ(pal.GetPaletteColor(0).rgbRed, 245);

    VxImage grey(2, 1, 8, 1);
    grey.SetGreyRampPalette();
    grey.SetPixelIndex(0, 0, 10);
    grey.Negative();
    EXPECT_EQ(grey.GetPixelIndex(0, 0), 245);
    EXPECT_EQ(grey.GetPixelIndex(1, 0), 255);
}

TEST(Sampling, EdgesKernelsAndModes)
{
    VxImage img(4, 3, 24, 1);
    Paint24(img);
    const RGBQUAD p = img.SampleInterpolated(2, 1, 2, 1);
    EXPECT_EQ(Ref(p), Ref(img.GetPixelColor(2, 1, false)));
    EXPECT_EQ(Ref(img.SampleInterpolated(-3.5f, 1, 2, 5)), Ref(img.GetPixelColor(0, 1, false)));
    const RGBQUAD far = img.SampleInterpolated(-100, -100, 2, 1, nullptr);
    EXPECT_EQ(far.rgbRed, 255);
    EXPECT_EQ(far.rgbReserved, 0);
    const RGBQUAD fill{1, 2, 3, 4};
    EXPECT_EQ(img.SampleInterpolated(50, 50, 3, 1, &fill).rgbBlue, 1);
    // Box: the pixel whose cell holds the point.
    EXPECT_EQ(Ref(img.SampleInterpolated(1.3f, 1.6f, 7, 5)), Ref(img.GetPixelColor(1, 2, false)));
    // Nearest rounds.
    EXPECT_EQ(Ref(img.SampleInterpolated(2.6f, 0.4f, 1, 5)), Ref(img.GetPixelColor(3, 0, false)));
    // Half way between two pixels, bilinear gives their mean (fixed point).
    const RGBQUAD a = img.GetPixelColor(1, 1, false), b = img.GetPixelColor(2, 1, false);
    EXPECT_NEAR(img.SampleInterpolated(1.5f, 1, 2, 5).rgbBlue, (a.rgbBlue + b.rgbBlue) / 2, 1);
    // Kernels whose weights sum to one keep a flat picture flat.
    VxImage flat(8, 8, 24, 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            flat.SetPixelColor(x, y, RGBQUAD{100, 150, 200, 0});
    for (std::uint8_t method : {3, 5, 8, 14, 16}) {
        const RGBQUAD s = flat.SampleInterpolated(3.3f, 4.7f, method, 5);
        EXPECT_NEAR(s.rgbBlue, 100, 1) << int(method);
        EXPECT_NEAR(s.rgbRed, 200, 1) << int(method);
    }
    // Every method survives points far outside and non-numbers.
    for (int method = 0; method <= 17; ++method)
        for (std::uint8_t mode = 0; mode <= 7; ++mode) {
            img.SampleInterpolated(-1e30f, 1e30f, static_cast<std::uint8_t>(method), mode);
            img.SampleInterpolated(std::nanf(""), 2, static_cast<std::uint8_t>(method), mode);
            img.SampleInterpolated(3.9f, -0.9f, static_cast<std::uint8_t>(method), mode);
        }
}

TEST(Sampling, FoldCoordinates)
{
    VxImage img(5, 4, 8, 1);
    struct Case { int x, y; std::uint8_t mode; int ex, ey; };
    for (const Case c : {Case{-1, 6, 4, 4, 2}, Case{-7, -9, 5, 0, 0}, Case{9, 2, 5, 4, 2}, Case{-2, 5, 6, 2, 2},
                         Case{7, -1, 6, 2, 1}, Case{7, 7, 1, 7, 7}, Case{2, 2, 4, 2, 2}}) {
        int x = c.x, y = c.y;
        img.FoldCoordinates(x, y, c.mode);
        EXPECT_EQ(x, c.ex) << c.x << "," << c.y << " mode " << int(c.mode);
        EXPECT_EQ(y, c.ey) << c.x << "," << c.y << " mode " << int(c.mode);
    }
    img.SetTransparentIndex(3);
    img.SetPaletteColor(3, 9, 9, 9);
    EXPECT_EQ(img.GetColorBeyondEdge(-1, 0, 2).rgbRed, 9);
}

}  // namespace
