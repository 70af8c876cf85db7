// Memory device contexts, DIB sections, clipping and the blits, pixel by pixel.
#include "gdi/gdiqt.h"
#include "gdi/wingdi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Dc {
public:
    Dc(int w, int h, int bpp = 32) : m_dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = 40;
        bmi.bmiHeader.biWidth = w;
        bmi.bmiHeader.biHeight = h;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = static_cast<WORD>(bpp);
        m_bmp = CreateDIBSection(m_dc, &bmi, DIB_RGB_COLORS, &m_bits, nullptr, 0);
        m_old = SelectObject(m_dc, m_bmp);
    }
    ~Dc()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    HDC dc() const { return m_dc; }
    HBITMAP bmp() const { return m_bmp; }
    void* bits() const { return m_bits; }
    void Paint(COLORREF (*f)(int, int), int w, int h)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                SetPixel(m_dc, x, y, f(x, y));
    }

private:
    HDC m_dc;
    HBITMAP m_bmp = nullptr;
    HGDIOBJ m_old = nullptr;
    void* m_bits = nullptr;
};

COLORREF Pattern(int x, int y) { return RGB(x * 20, y * 30, (x + y) * 5); }

TEST(GdiBitmaps, DibSectionLayoutIsBottomUpAndPadded)
{
    Dc d(3, 2, 24);
    SetPixel(d.dc(), 0, 0, RGB(1, 2, 3));  // top left: the second stored row
    SetPixel(d.dc(), 2, 1, RGB(4, 5, 6));  // bottom right: the first stored row
    const auto* bits = static_cast<const std::uint8_t*>(d.bits());
    EXPECT_EQ(bits[12], 3);  // row stride 12 (9 bytes padded to 4)
    EXPECT_EQ(bits[13], 2);
    EXPECT_EQ(bits[14], 1);
    EXPECT_EQ(bits[6], 6);
    BITMAP bm;
    ASSERT_EQ(GetObject(d.bmp(), sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidthBytes, 12);
    EXPECT_EQ(bm.bmBits, d.bits());
    EXPECT_FALSE(DeleteObject(d.bmp()));  // selected into the DC
    EXPECT_EQ(GetPixel(d.dc(), 3, 0), CLR_INVALID);
}

TEST(GdiBitmaps, PaletteSurfacesTakeTheNearestEntry)
{
    std::vector<std::uint8_t> info(40 + 4 * 4, 0);
    auto* bmi = reinterpret_cast<BITMAPINFO*>(info.data());
    bmi->bmiHeader = BITMAPINFOHEADER{40, 4, 1, 1, 4, BI_RGB, 0, 0, 0, 4, 0};
    RGBQUAD* colors = reinterpret_cast<RGBQUAD*>(info.data() + 40);
    colors[1] = RGBQUAD{0, 0, 255, 0};
    colors[2] = RGBQUAD{255, 255, 255, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    SetPixel(dc, 1, 0, RGB(250, 10, 10));
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(255, 0, 0));
    EXPECT_EQ(static_cast<std::uint8_t*>(bits)[0], 0x01);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    // A fresh memory DC holds a monochrome bitmap, so do its compatible bitmaps.
    HDC fresh = CreateCompatibleDC(nullptr);
    HBITMAP mono = CreateCompatibleBitmap(fresh, 8, 8);
    BITMAP bm;
    GetObject(mono, sizeof bm, &bm);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    DeleteObject(mono);
    DeleteDC(fresh);
}

TEST(GdiBlit, BitBltCopiesAndCombines)
{
    Dc src(4, 3), dst(6, 5);
    src.Paint(Pattern, 4, 3);
    ASSERT_TRUE(BitBlt(dst.dc(), 1, 1, 4, 3, src.dc(), 0, 0, SRCCOPY));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(GetPixel(dst.dc(), x + 1, y + 1), Pattern(x, y));
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(0, 0, 0));
    // Source pixels outside the source leave the destination alone.
    SetPixel(dst.dc(), 5, 4, RGB(9, 9, 9));
    BitBlt(dst.dc(), 3, 2, 3, 3, src.dc(), 2, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(dst.dc(), 5, 4), RGB(9, 9, 9));
    BitBlt(dst.dc(), 0, 0, 1, 1, nullptr, 0, 0, WHITENESS);
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(255, 255, 255));
    BitBlt(dst.dc(), 1, 1, 1, 1, src.dc(), 0, 0, SRCINVERT);
    EXPECT_EQ(GetPixel(dst.dc(), 1, 1), RGB(0, 0, 0));
    EXPECT_FALSE(BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 0x12345678));
    // Scrolling within one bitmap.
    BitBlt(dst.dc(), 1, 2, 4, 3, dst.dc(), 1, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(dst.dc(), 3, 4), Pattern(2, 2));  // moved down from (3, 3)
}

// A monochrome bitmap of the rows given as "1"/"0" strings, selected in
// its own DC.
class MonoDc {
public:
    explicit MonoDc(const std::vector<const char*>& rows) : m_dc(CreateCompatibleDC(nullptr))
    {
        const int w = static_cast<int>(std::string(rows[0]).size()), h = static_cast<int>(rows.size());
        std::vector<std::uint8_t> bits(static_cast<size_t>((w + 15) / 16 * 2 * h), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (rows[static_cast<size_t>(y)][x] == '1')
                    bits[static_cast<size_t>(y * ((w + 15) / 16 * 2) + x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        m_bmp = CreateBitmap(w, h, 1, 1, bits.data());
        m_old = SelectObject(m_dc, m_bmp);
    }
    ~MonoDc()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    HDC dc() const { return m_dc; }
    HBITMAP bmp() const { return m_bmp; }

private:
    HDC m_dc;
    HBITMAP m_bmp;
    HGDIOBJ m_old;
};

TEST(GdiBlit, MonochromeTakesTheTextAndBackgroundColours)
{
    MonoDc mono({"10", "01"});
    Dc colour(2, 2);
    SetTextColor(colour.dc(), RGB(200, 0, 0));
    SetBkColor(colour.dc(), RGB(0, 0, 90));
    ASSERT_TRUE(BitBlt(colour.dc(), 0, 0, 2, 2, mono.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(colour.dc(), 0, 0), RGB(0, 0, 90));
    EXPECT_EQ(GetPixel(colour.dc(), 1, 0), RGB(200, 0, 0));
    StretchBlt(colour.dc(), 0, 0, 2, 2, mono.dc(), 0, 0, 1, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(colour.dc(), 1, 1), RGB(0, 0, 90));

    // Colour onto monochrome: the source's background colour gives 1 bits.
    MonoDc target({"00", "00"});
    SetPixel(colour.dc(), 0, 1, RGB(5, 5, 5));
    BitBlt(target.dc(), 0, 0, 2, 2, colour.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(target.dc(), 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(target.dc(), 0, 1), RGB(0, 0, 0));
}

TEST(GdiBlit, MaskBltChoosesTheOperationByTheMask)
{
    Dc src(3, 2), dst(4, 3);
    src.Paint(Pattern, 3, 2);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            SetPixel(dst.dc(), x, y, RGB(1, 2, 3));
    MonoDc mask({"101", "010"});
    ASSERT_TRUE(MaskBlt(dst.dc(), 1, 1, 3, 2, src.dc(), 0, 0, mask.bmp(), 0, 0, MAKEROP4(0x00AA0029, SRCCOPY)));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(GetPixel(dst.dc(), x + 1, y + 1), (x + y) % 2 == 0 ? RGB(1, 2, 3) : Pattern(x, y)) << x << "," << y;
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(1, 2, 3));
    EXPECT_FALSE(MaskBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, src.bmp(), 0, 0, MAKEROP4(0x00AA0029, SRCCOPY)));
}

TEST(GdiBlit, StretchModes)
{
    // Two columns per destination pixel: white/black pairs.
    Dc src(4, 1), dst(2, 1);
    SetPixel(src.dc(), 0, 0, RGB(255, 255, 255));
    SetPixel(src.dc(), 1, 0, RGB(0, 0, 0));
    SetPixel(src.dc(), 2, 0, RGB(200, 100, 0));
    SetPixel(src.dc(), 3, 0, RGB(0, 100, 200));
    struct Case { int mode; COLORREF first, second; };
    for (const Case c : {Case{COLORONCOLOR, RGB(255, 255, 255), RGB(200, 100, 0)},
                         Case{BLACKONWHITE, RGB(0, 0, 0), RGB(0, 100, 0)},
                         Case{WHITEONBLACK, RGB(255, 255, 255), RGB(200, 100, 200)},
                         Case{HALFTONE, RGB(128, 128, 128), RGB(100, 100, 100)}}) {
        SetStretchBltMode(dst.dc(), c.mode);
        ASSERT_TRUE(StretchBlt(dst.dc(), 0, 0, 2, 1, src.dc(), 0, 0, 4, 1, SRCCOPY));
        EXPECT_EQ(GetPixel(dst.dc(), 0, 0), c.first) << c.mode;
        EXPECT_EQ(GetPixel(dst.dc(), 1, 0), c.second) << c.mode;
    }
    EXPECT_EQ(GetStretchBltMode(dst.dc()), HALFTONE);
    // Enlarging replicates; a negative width mirrors, the rectangle running
    // from x + width to x.
    Dc big(8, 1);
    SetStretchBltMode(big.dc(), COLORONCOLOR);
    StretchBlt(big.dc(), 0, 0, 8, 1, src.dc(), 0, 0, 4, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(big.dc(), 5, 0), RGB(200, 100, 0));
    StretchBlt(big.dc(), 4, 0, -4, 1, src.dc(), 0, 0, 4, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(big.dc(), 3, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(big.dc(), 0, 0), RGB(0, 100, 200));
}

TEST(GdiBlit, SetDIBitsToDeviceMapsTheLowerLeftCorner)
{
    // A 2 x 3 bottom-up 24-bit DIB; rows padded to 8 bytes.
    std::vector<std::uint8_t> rows(24, 0);
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 2; ++x) {
            rows[r * 8 + x * 3 + 2] = static_cast<std::uint8_t>(10 * r + x);  // red = 10 x row from bottom + x
        }
    BITMAPINFO bmi{};
    bmi.bmiHeader = BITMAPINFOHEADER{40, 2, 3, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    Dc d(4, 4);
    EXPECT_EQ(SetDIBitsToDevice(d.dc(), 1, 1, 2, 3, 0, 0, 0, 3, rows.data(), &bmi, DIB_RGB_COLORS), 3);
    EXPECT_EQ(GetRValue(GetPixel(d.dc(), 1, 1)), 20);  // top of the picture: last stored row
    EXPECT_EQ(GetRValue(GetPixel(d.dc(), 2, 3)), 1);
    // A band of scan lines: only the rows given are set.
    Dc e(2, 3);
    BitBlt(e.dc(), 0, 0, 2, 3, nullptr, 0, 0, WHITENESS);
    SetDIBitsToDevice(e.dc(), 0, 0, 2, 3, 0, 0, 1, 1, rows.data() + 8, &bmi, DIB_RGB_COLORS);
    EXPECT_EQ(GetPixel(e.dc(), 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetRValue(GetPixel(e.dc(), 1, 1)), 11);
    EXPECT_EQ(GetPixel(e.dc(), 0, 2), RGB(255, 255, 255));
    // A top-down DIB starts with the top row.
    bmi.bmiHeader.biHeight = -3;
    SetDIBitsToDevice(e.dc(), 0, 0, 2, 3, 0, 0, 0, 3, rows.data(), &bmi, DIB_RGB_COLORS);
    EXPECT_EQ(GetRValue(GetPixel(e.dc(), 0, 0)), 0);
    EXPECT_EQ(GetRValue(GetPixel(e.dc(), 1, 2)), 21);
    EXPECT_EQ(SetDIBitsToDevice(e.dc(), 0, 0, 2, 3, 0, 0, 0, 3, rows.data(), &bmi, DIB_PAL_COLORS), 0);
}

TEST(GdiClip, RegionsCombineAndClipEveryOperation)
{
    Dc d(10, 10);
    RECT box;
    EXPECT_EQ(GetClipBox(d.dc(), &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 10);
    EXPECT_EQ(IntersectClipRect(d.dc(), 2, 2, 8, 8), SIMPLEREGION);
    HRGN hole = CreateRectRgn(4, 4, 6, 6);
    EXPECT_EQ(ExtSelectClipRgn(d.dc(), hole, RGN_DIFF), COMPLEXREGION);
    BitBlt(d.dc(), 0, 0, 10, 10, nullptr, 0, 0, WHITENESS);
    SelectClipRgn(d.dc(), nullptr);
    EXPECT_EQ(GetPixel(d.dc(), 1, 1), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(d.dc(), 2, 2), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(d.dc(), 4, 5), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(d.dc(), 7, 7), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(d.dc(), 8, 8), RGB(0, 0, 0));
    HRGN a = CreateRectRgn(0, 0, 2, 2);
    SelectClipRgn(d.dc(), a);
    ExtSelectClipRgn(d.dc(), hole, RGN_OR);
    GetClipBox(d.dc(), &box);
    EXPECT_EQ(box.right, 6);
    EXPECT_FALSE(PtVisible(d.dc(), 3, 3));
    HRGN saved = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(d.dc(), saved), 1);
    EXPECT_TRUE(PtInRegion(saved, 5, 5));
    EXPECT_EQ(ExtSelectClipRgn(d.dc(), nullptr, RGN_AND), ERROR);
    for (HRGN r : {hole, a, saved})
        DeleteObject(r);
}

TEST(GdiQt, BitmapBecomesAQImage)
{
    Dc d(3, 2, 24);
    d.Paint(Pattern, 3, 2);
    const QImage img = QImageFromDC(d.dc());
    ASSERT_EQ(img.width(), 3);
    ASSERT_EQ(img.height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(img.pixel(x, y), qRgb(GetRValue(Pattern(x, y)), GetGValue(Pattern(x, y)), GetBValue(Pattern(x, y))));
    EXPECT_TRUE(QImageFromBitmap(nullptr).isNull());
}

}  // namespace

TEST(GdiObjects, TypeOfEveryKindOfHandle)
{
    HDC mem = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 2, 2);
    HRGN rgn = CreateRectRgn(0, 0, 1, 1);
    LOGPALETTE lp{0x300, 1, {{1, 2, 3, 0}}};
    HPALETTE pal = CreatePalette(&lp);

    EXPECT_EQ(GetObjectType(bmp), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(GetObjectType(rgn), static_cast<DWORD>(OBJ_REGION));
    EXPECT_EQ(GetObjectType(pal), static_cast<DWORD>(OBJ_PAL));
    EXPECT_EQ(GetObjectType(mem), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(GetObjectType(screen), static_cast<DWORD>(OBJ_DC));
    EXPECT_EQ(GetObjectType(nullptr), 0u);
    // A device context is freed by DeleteDC, not by DeleteObject.
    EXPECT_FALSE(DeleteObject(mem));
    EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
    EXPECT_GT(GetDeviceCaps(screen, BITSPIXEL), 8);

    DeleteObject(pal);
    DeleteObject(rgn);
    DeleteObject(bmp);
    ReleaseDC(nullptr, screen);
    DeleteDC(mem);
}
