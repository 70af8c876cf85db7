// The metafile player: records drawn pixel by pixel on a 32-bit memory
// DC, the GDI rules it keeps (right and bottom edges left out, mapping,
// clipping, save and restore), and records that break their framing.
#include "fuzz/metafile_fuzz_one.h"
#include "gdi/metafile.h"
#include "gdi/mfplayer.h"
#include "test_support/metafile_builder.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace mftest;

namespace {

// Text needs a GUI application; the suite runs on Qt's offscreen platform.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) {
            if (!std::getenv("QT_QPA_PLATFORM"))
                setenv("QT_QPA_PLATFORM", "offscreen", 1);
            static int argc = 1;
            static char name[] = "gdi_tests";
            static char* argv[] = {name, nullptr};
            m_app = new QGuiApplication(argc, argv);
        }
    }
    void TearDown() override { delete m_app; }

private:
    QGuiApplication* m_app = nullptr;
};
const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// A white 32-bit bitmap the metafile is played into at its own size.
class Canvas {
public:
    Canvas(int w, int h, int bpp = 32) : m_w(w), m_h(h), m_dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO* bmi = reinterpret_cast<BITMAPINFO*>(m_info);
        bmi->bmiHeader.biSize = 40;
        bmi->bmiHeader.biWidth = w;
        bmi->bmiHeader.biHeight = h;
        bmi->bmiHeader.biPlanes = 1;
        bmi->bmiHeader.biBitCount = static_cast<WORD>(bpp);
        if (bpp == 8)
            for (int i = 0; i < 256; ++i)
                bmi->bmiColors[i] = RGBQUAD{static_cast<BYTE>(i & 0xE0 ? 255 : 0), 0,
                                            static_cast<BYTE>(i & 1 ? 255 : 0), 0};
        void* bits = nullptr;
        m_bmp = CreateDIBSection(m_dc, bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_old = SelectObject(m_dc, m_bmp);
        const RECT all{0, 0, w, h};
        SetBkColor(m_dc, kWhite);
        ExtTextOutA(m_dc, 0, 0, ETO_OPAQUE, &all, "", 0, nullptr);
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    bool Play(const std::vector<std::uint8_t>& emf)
    {
        return PlayObject(SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data()));
    }
    // A placeable WMF's metafile (after its 22-byte placeable header) with
    // an anisotropic picture of the given extents.
    bool PlayWmf(const std::vector<std::uint8_t>& placeable, LONG xExt, LONG yExt)
    {
        const METAFILEPICT picture{MM_ANISOTROPIC, xExt, yExt, nullptr};
        return PlayObject(
            SetWinMetaFileBits(static_cast<UINT>(placeable.size() - 22), placeable.data() + 22, nullptr, &picture));
    }
    COLORREF At(int x, int y) const { return GetPixel(m_dc, x, y); }
    int Count(COLORREF c) const
    {
        int n = 0;
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x)
                n += At(x, y) == c;
        return n;
    }
    HDC dc() const { return m_dc; }

private:
    bool PlayObject(HENHMETAFILE mf)
    {
        if (!mf)
            return false;
        const RECT r{0, 0, m_w, m_h};
        const BOOL ok = PlayEnhMetaFile(m_dc, mf, &r);
        DeleteEnhMetaFile(mf);
        return ok != FALSE;
    }

    int m_w, m_h;
    HDC m_dc;
    HBITMAP m_bmp = nullptr;
    HGDIOBJ m_old = nullptr;
    alignas(4) unsigned char m_info[sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)] = {};
};

std::uint32_t U(int v) { return static_cast<std::uint32_t>(v); }

TEST(MetafilePlayer, RectangleLeavesOutItsRightAndBottomEdge)
{
    Canvas c(20, 20);
    ASSERT_TRUE(c.Play(Emf(20, 20).Pen(1, kBlack).Select(1).Brush(2, kRed).Select(2).Rectangle(2, 3, 10, 8).Build()));
    EXPECT_EQ(c.At(2, 3), kBlack);
    EXPECT_EQ(c.At(9, 7), kBlack);
    EXPECT_EQ(c.At(10, 5), kWhite);
    EXPECT_EQ(c.At(5, 8), kWhite);
    EXPECT_EQ(c.At(5, 5), kRed);

    // Without a pen the fill is one pixel smaller each way, as in GDI.
    Canvas f(20, 20);
    ASSERT_TRUE(f.Play(Emf(20, 20).Fill(kRed).Rectangle(2, 3, 10, 8).Build()));
    EXPECT_EQ(f.Count(kRed), 7 * 4);
    EXPECT_EQ(f.At(2, 3), kRed);
    EXPECT_EQ(f.At(8, 6), kRed);
    EXPECT_EQ(f.At(9, 6), kWhite);
}

TEST(MetafilePlayer, EllipseFillsInsideItsBox)
{
    Canvas c(21, 21);
    ASSERT_TRUE(c.Play(Emf(21, 21).Fill(kBlue).Ellipse(0, 0, 21, 21).Build()));
    EXPECT_EQ(c.At(10, 10), kBlue);
    EXPECT_EQ(c.At(10, 1), kBlue);
    EXPECT_EQ(c.At(0, 0), kWhite);
    EXPECT_EQ(c.At(19, 19), kWhite);
}

// Logical coordinates pass the world transform, then window to viewport.
TEST(MetafilePlayer, WorldTransformAndMappingModes)
{
    const float two = 2.0f;
    std::uint32_t twoBits;
    std::memcpy(&twoBits, &two, 4);
    struct Case {
        const char* name;
        Emf emf;
        int l, t, r, b;        // the rectangle, logical
        int x0, y0, x1, y1;    // the first and last filled device pixels
    } cases[] = {
        {"world scale 2", Emf(30, 30).Rec(35, {twoBits, 0, 0, twoBits, 0, 0}), 1, 1, 6, 6, 2, 2, 10, 10},
        {"anisotropic 100 to 20", Emf(30, 30).Rec(17, {8}).Rec(9, {100, 100}).Rec(11, {20, 20}), 10, 10, 60, 60, 2, 2, 10, 10},
        {"window origin", Emf(30, 30).Rec(10, {U(-4), U(-6)}), 1, 1, 6, 6, 5, 7, 8, 10},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.name);
        Canvas c(30, 30);
        ASSERT_TRUE(c.Play(k.emf.Fill(kRed).Rectangle(k.l, k.t, k.r, k.b).Build()));
        EXPECT_EQ(c.At(k.x0, k.y0), kRed);
        EXPECT_EQ(c.At(k.x1, k.y1), kRed);
        EXPECT_EQ(c.At(k.x0 - 1, k.y0), kWhite);
        EXPECT_EQ(c.At(k.x1 + 1, k.y1), kWhite);
        EXPECT_EQ(c.At(k.x1, k.y1 + 1), kWhite);
    }
}

TEST(MetafilePlayer, ClippingLimitsLaterDrawing)
{
    Canvas c(20, 20);
    ASSERT_TRUE(c.Play(Emf(20, 20).Rec(30, {5, 5, 10, 10}).Fill(kRed).Rectangle(0, 0, 21, 21).Build()));
    EXPECT_EQ(c.Count(kRed), 25);
    EXPECT_EQ(c.At(5, 5), kRed);
    EXPECT_EQ(c.At(9, 9), kRed);

    // A region selected with RGN_COPY, in recording pixels: two rectangles.
    std::vector<std::uint8_t> region;
    for (std::uint32_t v : {32u, 1u, 2u, 32u, 0u, 0u, 20u, 20u, 0u, 0u, 2u, 2u, 18u, 18u, 20u, 20u})
        Put32(region, v);
    std::vector<std::uint8_t> body;
    Put32(body, static_cast<std::uint32_t>(region.size()));
    Put32(body, 5);  // RGN_COPY
    body.insert(body.end(), region.begin(), region.end());
    Canvas r(20, 20);
    ASSERT_TRUE(r.Play(Emf(20, 20).Raw(75, body).Fill(kBlue).Rectangle(0, 0, 21, 21).Build()));
    EXPECT_EQ(r.Count(kBlue), 8);
    EXPECT_EQ(r.At(1, 1), kBlue);
    EXPECT_EQ(r.At(19, 19), kBlue);
}

TEST(MetafilePlayer, RestoreBringsBackTheSavedState)
{
    Canvas c(20, 10);
    Emf emf(20, 10);
    emf.Fill(kRed).Rec(33, {}).Brush(3, kBlue).Select(3).Rec(30, {0, 0, 5, 5}).Rec(34, {U(-1)});
    emf.Rectangle(0, 0, 11, 11);
    ASSERT_TRUE(c.Play(emf.Build()));
    // Red brush again, and no clip.
    EXPECT_EQ(c.At(9, 9), kRed);
    EXPECT_EQ(c.Count(kBlue), 0);
}

TEST(MetafilePlayer, XorPenTwiceLeavesTheBackground)
{
    Canvas c(10, 10);
    Emf emf(10, 10);
    emf.Rec(20, {7}).Fill(kRed).Rectangle(0, 0, 6, 6).Rectangle(0, 0, 6, 6);
    ASSERT_TRUE(c.Play(emf.Build()));
    EXPECT_EQ(c.Count(kWhite), 100);
}

TEST(MetafilePlayer, PathsFillAndClip)
{
    // BEGINPATH, a triangle as POLYGON16, ENDPATH, FILLPATH.
    std::vector<std::uint8_t> tri;
    for (std::uint32_t v : {0u, 0u, 0u, 0u, 3u})
        Put32(tri, v);
    for (int v : {0, 0, 20, 0, 0, 20})
        Put16(tri, static_cast<std::uint32_t>(v));
    Canvas c(20, 20);
    ASSERT_TRUE(c.Play(Emf(20, 20).Fill(kRed).Rec(59, {}).Raw(86, tri).Rec(60, {}).Rec(62, {}).Build()));
    EXPECT_EQ(c.At(2, 2), kRed);
    EXPECT_EQ(c.At(17, 17), kWhite);

    // The same path as the clip (RGN_COPY) of a full fill.
    Canvas k(20, 20);
    ASSERT_TRUE(k.Play(Emf(20, 20).Rec(59, {}).Raw(86, tri).Rec(60, {}).Rec(67, {5}).Fill(kBlue).Rectangle(0, 0, 21, 21).Build()));
    EXPECT_EQ(k.At(2, 2), kBlue);
    EXPECT_EQ(k.At(17, 17), kWhite);
}

// STRETCHDIBITS of a bottom-up 2 x 2 DIB to 10 x 10 pixels: nearest pixels.
std::vector<std::uint8_t> StretchDib(int x, int y, int w, int h, std::uint32_t rop = 0x00CC0020)
{
    std::vector<std::uint8_t> bmi;
    for (std::uint32_t v : {40u, 2u, 2u})
        Put32(bmi, v);
    Put16(bmi, 1);
    Put16(bmi, 24);
    for (int i = 0; i < 6; ++i)
        Put32(bmi, 0);
    // Bottom row: blue, green; top row: red, white. Rows of 8 bytes.
    const std::vector<std::uint8_t> bits = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
    std::vector<std::uint8_t> body;
    for (int v : {0, 0, 0, 0, x, y, 0, 0, 2, 2})
        Put32(body, static_cast<std::uint32_t>(v));
    const std::uint32_t offBmi = 8 + 72, offBits = offBmi + static_cast<std::uint32_t>(bmi.size());
    for (std::uint32_t v : {offBmi, static_cast<std::uint32_t>(bmi.size()), offBits, static_cast<std::uint32_t>(bits.size()),
                            0u, rop, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)})
        Put32(body, v);
    body.insert(body.end(), bmi.begin(), bmi.end());
    body.insert(body.end(), bits.begin(), bits.end());
    return body;
}

TEST(MetafilePlayer, StretchedBitmapsTakeTheNearestPixels)
{
    Canvas c(20, 20);
    ASSERT_TRUE(c.Play(Emf(20, 20).Raw(81, StretchDib(5, 5, 10, 10)).Build()));
    EXPECT_EQ(c.At(5, 5), kRed);
    EXPECT_EQ(c.At(14, 5), kWhite);
    EXPECT_EQ(c.At(5, 14), kBlue);
    EXPECT_EQ(c.At(14, 14), RGB(0, 255, 0));
    EXPECT_EQ(c.At(4, 4), kWhite);
    EXPECT_EQ(c.At(15, 15), kWhite);
    // A negative width mirrors.
    Canvas m(20, 20);
    ASSERT_TRUE(m.Play(Emf(20, 20).Raw(81, StretchDib(15, 5, -10, 10)).Build()));
    EXPECT_EQ(m.At(6, 6), kWhite);
    EXPECT_EQ(m.At(13, 6), kRed);
}

TEST(MetafilePlayer, TextIsDrawnInTheTextColourNearItsReference)
{
    // EXTTEXTOUTW "HH" at (4, 4), top-aligned, with a 12-pixel Liberation Sans.
    std::vector<std::uint8_t> font;
    for (std::uint32_t v : {7u, static_cast<std::uint32_t>(-12), 0u, 0u, 0u, 700u})
        Put32(font, v);
    for (int i = 0; i < 8; ++i)
        font.push_back(0);
    const std::u16string face = u"Liberation Sans";
    for (int i = 0; i < 32; ++i)
        Put16(font, i < static_cast<int>(face.size()) ? face[static_cast<std::size_t>(i)] : 0);
    std::vector<std::uint8_t> text;
    for (std::uint32_t v : {0u, 0u, 0u, 0u, 1u, 0u, 0u, 4u, 4u, 2u, 76u, 0u, 0u, 0u, 0u, 0u, 0u})
        Put32(text, v);
    Put16(text, 'H');
    Put16(text, 'H');
    Canvas c(40, 24);
    Emf emf(40, 24);
    emf.Raw(82, font).Select(7).Rec(24, {kBlue}).Rec(18, {1}).Raw(84, text);
    ASSERT_TRUE(c.Play(emf.Build()));
    int inside = 0, outside = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            if (c.At(x, y) == kBlue)
                ++(x >= 4 && x < 30 && y >= 4 && y < 20 ? inside : outside);
    EXPECT_GT(inside, 20);
    EXPECT_EQ(outside, 0);
}

TEST(MetafilePlayer, UnknownRecordsAndEmfPlusCommentsAreSkipped)
{
    std::vector<std::uint8_t> comment;
    Put32(comment, 16);
    for (char ch : std::string("EMF+"))
        comment.push_back(static_cast<std::uint8_t>(ch));
    for (std::uint32_t v : {0x4001u, 0xFFFFFFFFu, 0x12345678u})
        Put32(comment, v);
    Canvas c(10, 10);
    ASSERT_TRUE(c.Play(Emf(10, 10).Raw(70, comment).Rec(200, {1, 2, 3}).Fill(kRed).Rectangle(0, 0, 11, 11).Build()));
    EXPECT_EQ(c.Count(kRed), 100);
}

// Records that break their framing end the play; fields that reach beyond
// their record make that record do nothing. The sanitizers watch the reads.
TEST(MetafilePlayer, HostileRecords)
{
    auto emf = [] { return Emf(10, 10); };
    std::vector<std::uint8_t> shortRecord, pastEnd, unaligned;
    Put32(shortRecord, 43);
    Put32(shortRecord, 4);
    Put32(pastEnd, 43);
    Put32(pastEnd, 4000);
    Put32(unaligned, 43);
    Put32(unaligned, 10);
    Put16(unaligned, 0);
    struct Case {
        const char* name;
        Emf emf;
        bool laterDraws;  // a red fill after the hostile record
    } cases[] = {
        {"emf_record_shorter_than_its_header", emf().Bytes(shortRecord), false},
        {"emf_record_past_the_data", emf().Bytes(pastEnd), false},
        {"emf_record_size_not_a_multiple_of_four", emf().Bytes(unaligned), false},
        {"emf_polyline_count_overflows_32_bits", emf().Rec(4, {0, 0, 0, 0, 0x20000001u, 1, 1}), true},
        {"emf_polypolygon_counts_beyond_total", emf().Rec(8, {0, 0, 0, 0, 2, 2, 5, 5, 0, 0, 5, 5}), true},
        {"emf_handle_index_huge", emf().Pen(0xFFFFFFF0u, kBlue).Select(0xFFFFFFF0u).Select(0x7FFFFFFF), true},
        {"emf_text_offset_beyond_record",
         emf().Rec(84, {0, 0, 0, 0, 1, 0, 0, 1, 1, 50, 0xFFFFFF00u, 0, 0, 0, 0, 0, 0xFFFFFFF0u}), true},
        {"emf_text_count_huge", emf().Rec(84, {0, 0, 0, 0, 1, 0, 0, 1, 1, 0x7FFFFFFF, 76, 0, 0, 0, 0, 0, 0}), true},
        {"emf_bitmap_offsets_beyond_record",
         emf().Rec(81, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0xFFFFFFF0u, 40, 80, 0x7FFFFFFF, 0, 0x00CC0020, 5, 5}), true},
        {"emf_region_count_beyond_data", emf().Rec(75, {48, 5, 32, 1, 0x10000000u, 0, 0, 0, 9, 9}), true},
        {"emf_world_transform_singular", emf().Rec(35, {0, 0, 0, 0, 0, 0}), true},
        {"emf_restore_without_save", emf().Rec(34, {U(-5)}).Rec(34, {7}), true},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.name);
        Canvas c(10, 10);
        ASSERT_TRUE(c.Play(k.emf.Fill(kRed).Rectangle(0, 0, 11, 11).Build()));
        EXPECT_EQ(c.Count(kRed), k.laterDraws ? 100 : 0);
    }
}

TEST(MetafilePlayer, DibHeaderClaimingMoreThanItsBitsIsNotDrawn)
{
    std::vector<std::uint8_t> body = StretchDib(0, 0, 10, 10);
    // The DIB's width (at offBmi + 4) becomes 30000: its 16 bytes of bits
    // cannot hold such rows.
    Set32(body, 72 + 4, 30000);
    Canvas c(10, 10);
    ASSERT_TRUE(c.Play(Emf(10, 10).Raw(81, body).Build()));
    EXPECT_EQ(c.Count(kWhite), 100);
}

TEST(MetafilePlayer, WindowsMetafileMapsItsWindowOntoTheTarget)
{
    // 1000 x 500 units drawn into 40 x 20 pixels: 25 units a pixel.
    const auto bytes = Wmf(0, 0, 1000, 500, 1000)
                           .Window(0, 0, 1000, 500)
                           .Brush(Rgb(255, 0, 0))
                           .NullPen()
                           .Select(0)
                           .Select(1)
                           .Rectangle(250, 125, 775, 400)
                           .Build();
    Canvas c(40, 20);
    ASSERT_TRUE(c.PlayWmf(bytes, 2000, 1000));
    EXPECT_EQ(c.At(10, 5), kRed);
    EXPECT_EQ(c.At(29, 14), kRed);
    EXPECT_EQ(c.At(9, 5), kWhite);
    EXPECT_EQ(c.At(31, 14), kWhite);
}

TEST(MetafilePlayer, HostileWindowsRecords)
{
    auto wmf = [] { return Wmf(0, 0, 100, 100, 100).Window(0, 0, 10, 10); };
    std::vector<std::uint8_t> zeroSize(6, 0), pastEnd;
    zeroSize[4] = 0x1B;
    zeroSize[5] = 0x04;
    Put32(pastEnd, 5000);
    Put16(pastEnd, 0x041B);
    struct Case {
        const char* name;
        Wmf wmf;
        bool laterDraws;
    } cases[] = {
        {"wmf_record_size_zero", wmf().Bytes(zeroSize), false},
        {"wmf_record_past_the_data", wmf().Bytes(pastEnd), false},
        {"wmf_select_object_out_of_range", wmf().Select(60000).Rec(0x01F0, {65535}), true},
        {"wmf_polygon_count_beyond_record", wmf().Rec(0x0324, {30000, 0, 0, 5, 5}), true},
        {"wmf_polypolygon_counts_beyond_record", wmf().Rec(0x0538, {2, 3, 30000, 0, 0, 1, 1, 2, 2}), true},
        {"wmf_textout_length_beyond_record", wmf().Rec(0x0521, {200, 0x4141, 0, 0}), true},
        {"wmf_exttextout_count_beyond_record", wmf().Rec(0x0A32, {0, 0, 500, 0, 0x4141}), true},
        {"wmf_stretchdib_without_room_for_its_header", wmf().Rec(0x0F43, {0x20, 0xCC, 0, 1, 1, 0, 0, 5, 5, 0, 0, 40}), true},
        {"wmf_region_scans_beyond_record",
         wmf().Rec(0x06FF, {0, 6, 0, 0, 0, 500, 0, 0, 0, 10, 10, 100, 0, 10}).Rec(0x01F0, {0}), true},
        {"wmf_restore_without_save", wmf().Rec(0x0127, {-3}), true},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.name);
        const auto bytes =
            k.wmf.Brush(Rgb(255, 0, 0)).NullPen().Rec(0x012D, {0}).Rec(0x012D, {1}).Rectangle(0, 0, 11, 11).Build();
        Canvas c(10, 10);
        ASSERT_TRUE(c.PlayWmf(bytes, 1000, 1000));
        if (k.laterDraws)
            EXPECT_GT(c.Count(kRed), 0);
        else
            EXPECT_EQ(c.Count(kRed), 0);
    }
}

TEST(MetafilePlayer, HeadersThatAreNoMetafileAreRefused)
{
    auto emf = Emf(10, 10).Build();
    HENHMETAFILE control = SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data());
    EXPECT_NE(control, nullptr);
    DeleteEnhMetaFile(control);
    auto badSignature = emf;
    badSignature[40] ^= 1;
    EXPECT_EQ(SetEnhMetaFileBits(static_cast<UINT>(badSignature.size()), badSignature.data()), nullptr);
    // Cut short of the size its header gives.
    EXPECT_EQ(SetEnhMetaFileBits(static_cast<UINT>(emf.size() - 4), emf.data()), nullptr);
    const std::vector<std::uint8_t> notWmf(30, 7);
    METAFILEPICT picture{MM_ANISOTROPIC, 100, 100, nullptr};
    EXPECT_EQ(SetWinMetaFileBits(static_cast<UINT>(notWmf.size()), notWmf.data(), nullptr, &picture), nullptr);
}

TEST(MetafilePlayer, HeaderAndPaletteReadBack)
{
    const auto bytes = Emf(30, 20).Build({Rgb(1, 2, 3), Rgb(4, 5, 6)});
    HENHMETAFILE mf = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
    ASSERT_NE(mf, nullptr);
    ENHMETAHEADER h{};
    EXPECT_EQ(GetEnhMetaFileHeader(mf, sizeof h, &h), 108u);
    EXPECT_EQ(h.rclBounds.right, 30);
    EXPECT_EQ(h.rclBounds.bottom, 20);
    EXPECT_EQ(GetEnhMetaFilePaletteEntries(mf, 0, nullptr), 2u);
    PALETTEENTRY entries[2] = {};
    EXPECT_EQ(GetEnhMetaFilePaletteEntries(mf, 2, entries), 2u);
    EXPECT_EQ(entries[1].peRed, 4);
    EXPECT_EQ(entries[1].peBlue, 6);
    DeleteEnhMetaFile(mf);
}

// The same player on any painter: an image view draws through it.
TEST(MetafilePlayer, PaintsOnAQPainterAsOnADc)
{
    const auto bytes = Emf(20, 10).Fill(kRed).Rectangle(5, 2, 16, 9).Build();
    HENHMETAFILE mf = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        EXPECT_TRUE(PlayMetafile(&painter, mf, QRectF(0, 0, 40, 20)));
    }
    EXPECT_FALSE(PlayMetafile(nullptr, mf, QRectF(0, 0, 40, 20)));
    DeleteEnhMetaFile(mf);
    // Twice the size: device (10, 4) to (32, 18), less the right and
    // bottom pixel and the pixel a missing pen leaves.
    EXPECT_EQ(image.pixel(10, 4), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(30, 16), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(9, 4), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(31, 16), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(30, 17), qRgb(255, 255, 255));
}

TEST(MetafilePlayer, PaletteBitmapsTakeTheNearestEntry)
{
    Canvas c(10, 10, 8);
    ASSERT_TRUE(c.Play(Emf(10, 10).Fill(RGB(250, 0, 0)).Rectangle(0, 0, 11, 11).Build()));
    EXPECT_EQ(c.At(5, 5), kRed);
}

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(std::string(VISTREL_TEST_DATA) + "/../../fuzz/corpus/metafile"))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MetafileFuzzCorpus, ReplaysWithoutFindings)
{
    const auto files = CorpusFiles();
    ASSERT_GE(files.size(), 4u);
    for (const auto& f : files) {
        SCOPED_TRACE(f);
        const auto bytes = ReadBytes(f);
        MfFuzzPlayOne(bytes.data(), bytes.size());
    }
}

// The seed metafiles of the corpus (the named ones) mutated many ways;
// each input is written to disk first, so a crash leaves it behind for
// fuzz_metafile to replay.
TEST(MetafileFuzzCorpus, MutatedInputsNeverCrash)
{
    const std::string current = ::testing::TempDir() + "metafile_mutation_current.bin";
    std::mt19937 rng(20261211);
    for (const auto& f : CorpusFiles()) {
        if (f.size() < 4 || (f.compare(f.size() - 4, 4, ".emf") != 0 && f.compare(f.size() - 4, 4, ".wmf") != 0))
            continue;
        const auto original = ReadBytes(f);
        for (int round = 0; round < 40; ++round) {
            auto bytes = original;
            for (int e = 0, edits = 1 + static_cast<int>(rng() % 6); e < edits && !bytes.empty(); ++e) {
                const std::size_t at = rng() % bytes.size();
                switch (rng() % 3) {
                case 0: bytes[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
                case 1: bytes[at] = static_cast<std::uint8_t>(rng()); break;
                case 2: bytes[at] = (rng() % 2) ? 0xFF : 0x00; break;
                }
            }
            if (std::FILE* out = std::fopen(current.c_str(), "wb")) {
                std::fwrite(bytes.data(), 1, bytes.size(), out);
                std::fclose(out);
            }
            MfFuzzPlayOne(bytes.data(), bytes.size());
        }
    }
    std::remove(current.c_str());
}

}  // namespace
