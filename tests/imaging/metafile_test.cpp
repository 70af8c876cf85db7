// The metafile reader: sizes from the placeable header or the EMF bounds,
// forced sizes, the failure texts, and one hostile file per fault of the
// header handling, built here record by record.
#include "test_util.h"

#include "gdi/mfplayer.h"
#include "imaging/vxwmf.h"
#include "test_support/metafile_builder.h"

#include <gtest/gtest.h>

using namespace imgtest;
using namespace mftest;

namespace {

// Metafiles decode by playing them; the image classes alone have no
// player (the decode benchmarks' program links none).
[[maybe_unused]] const bool kPlayer = (InstallMetafilePlayer(), true);

const RGBQUAD kRedQuad{0, 0, 255, 0};

// A red rectangle over the middle of a placeable WMF's window.
std::vector<std::uint8_t> RedWmf(int left, int top, int right, int bottom, int inch)
{
    return Wmf(left, top, right, bottom, inch)
        .Window(left, top, right - left, bottom - top)
        .Brush(Rgb(255, 0, 0))
        .NullPen()
        .Select(0)
        .Select(1)
        .Rectangle(left + (right - left) / 4, top + (bottom - top) / 4, left + 3 * (right - left) / 4,
                   top + 3 * (bottom - top) / 4)
        .Build();
}

bool SameColor(RGBQUAD a, RGBQUAD b) { return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue; }

TEST(Metafile, PlaceableSizeComesFromTheBoxAtTheScreensResolution)
{
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, RedWmf(0, 0, 1440, 720, 1440), VXFMT_WMF)) << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 96u);
    EXPECT_EQ(image.GetHeight(), 48u);
    EXPECT_EQ(image.GetBpp(), 24u);
    EXPECT_EQ(image.GetType(), VXFMT_WMF);
    // Drawn over the window colour: red in the middle, white at the corner.
    EXPECT_TRUE(SameColor(image.GetPixelColor(48, 24, false), kRedQuad));
    EXPECT_TRUE(SameColor(image.GetPixelColor(1, 1, false), RGBQUAD{255, 255, 255, 0}));
}

TEST(Metafile, ChecksumOffByOneIsNoPlaceableFile)
{
    const auto wmf = Wmf(0, 0, 1440, 720, 1440).Build(1);
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, wmf, VXFMT_WMF));
    EXPECT_STREQ(image.GetLastError(), "corrupted WMF");
    WmfPlaceableHeader header{};
    VxMemFile f(const_cast<std::uint8_t*>(wmf.data()), static_cast<std::int32_t>(wmf.size()));
    EXPECT_EQ(WmfLoadPlaceable(&f, header), nullptr);
    EXPECT_FALSE(WmfIsPlaceable(header));
}

TEST(Metafile, MetafileLargerThanTheStreamIsRefused)
{
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, Wmf(0, 0, 1440, 720, 1440).Build(0, 100000), VXFMT_WMF));
    EXPECT_STREQ(image.GetLastError(), "corrupted WMF");
}

TEST(Metafile, ForcedSizesAndTheLimitOf4000)
{
    // Natural size 96 x 50; a forced width of 8000 is cut to 4000 and the
    // height with it.
    const auto wmf = RedWmf(0, 0, 96, 50, 96);
    VxImageWMF forced;
    VxMemFile f(const_cast<std::uint8_t*>(wmf.data()), static_cast<std::int32_t>(wmf.size()));
    ASSERT_TRUE(forced.Decode(&f, 8000, 0)) << forced.GetLastError();
    EXPECT_EQ(forced.GetWidth(), 4000u);
    EXPECT_EQ(forced.GetHeight(), 25u);

    std::int64_t w = 3000, h = 9000;
    WmfShrinkSize(w, h);
    EXPECT_EQ(w, 1333);
    EXPECT_EQ(h, 4000);
}

// The placeable box gives the picture's extents; one of no size or of a
// negative size has none to scale up and is an empty picture.
TEST(Metafile, wmf_empty_bbox)
{
    struct Case {
        const char* name;
        int left, top, right, bottom, inch;
    } cases[] = {
        {"zero width", 100, 0, 100, 720, 1440},
        {"zero height", 0, 50, 1440, 50, 1440},
        {"negative width", 1440, 0, 0, 720, 1440},
        {"negative height", 0, 720, 1440, -720, 1440},
        {"less than a pixel", 0, 0, 10, 10, 2540},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VxImage image;
        EXPECT_FALSE(DecodeBytes(image, RedWmf(c.left, c.top, c.right, c.bottom, c.inch), VXFMT_WMF));
        EXPECT_STREQ(image.GetLastError(), "empty WMF");
        EXPECT_FALSE(image.IsValid());
    }
}

// A box of 65535 units at one unit per inch is 6 million pixels at 96 dpi:
// sizes are worked out in 64 bits and brought within 4000.
TEST(Metafile, wmf_huge_bbox_in_64_bits)
{
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, RedWmf(-32768, -16384, 32767, 16383, 1), VXFMT_WMF)) << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 4000u);
    EXPECT_EQ(image.GetHeight(), 1999u);
}

TEST(Metafile, EmfSizeComesFromItsBounds)
{
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, Emf(30, 20).Fill(Rgb(255, 0, 0)).Rectangle(10, 5, 20, 15).Build(), VXFMT_WMF))
        << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 30u);
    EXPECT_EQ(image.GetHeight(), 20u);
    EXPECT_TRUE(SameColor(image.GetPixelColor(12, 10, false), kRedQuad));
}

TEST(Metafile, emf_empty_bounds)
{
    for (auto size : {std::pair{0, 20}, std::pair{30, 0}}) {
        VxImage image;
        EXPECT_FALSE(DecodeBytes(image, Emf(size.first, size.second).Build(), VXFMT_WMF));
        EXPECT_STREQ(image.GetLastError(), "empty WMF");
    }
    // Bounds whose right lies left of their left.
    auto inverted = Emf(30, 20).Build();
    Set32(inverted, 16, static_cast<std::uint32_t>(-5));
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, inverted, VXFMT_WMF));
    EXPECT_STREQ(image.GetLastError(), "empty WMF");
}

// The logical palette built for an EMF's palette entries is freed with the
// other GDI objects (the leak checker watches this test).
TEST(Metafile, emf_palette_freed)
{
    VxImage image;
    EXPECT_TRUE(DecodeBytes(image, Emf(8, 8).Build({Rgb(1, 2, 3), Rgb(200, 100, 50)}), VXFMT_WMF));
}

TEST(Metafile, NothingElseIsAMetafile)
{
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, ReadFile(FixturePath("bmp24.bmp")), VXFMT_WMF));
    EXPECT_STREQ(image.GetLastError(), "corrupted WMF");
    VxImage empty;
    EXPECT_FALSE(DecodeBytes(empty, {}, VXFMT_WMF));
    EXPECT_STREQ(empty.GetLastError(), "corrupted WMF");
}

// Reads through a memory stream, counting the bytes it hands out.
class CountingFile : public VxMemFile {
public:
    using VxMemFile::VxMemFile;
    std::size_t Read(void* buffer, std::size_t size, std::size_t count) override
    {
        const std::size_t n = VxMemFile::Read(buffer, size, count);
        bytesRead += n * size;
        return n;
    }
    std::uint64_t bytesRead = 0;
};

TEST(Metafile, DetectionReadsSignaturesNotBodies)
{
    // 32 MB of text offered to every reader, as a refused typed load falls
    // back to detection: each looks at its signature and stops; none reads
    // the body of a file that is not its own (the metafile reader once
    // copied the whole rest of the file before it looked).
    std::vector<std::uint8_t> text(32u << 20);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>(i % 80 == 79 ? '\n' : 'a' + i % 26);
    CountingFile file(text.data(), static_cast<std::int32_t>(text.size()));
    VxImage image;
    EXPECT_FALSE(image.Decode(&file, VXFMT_UNKNOWN));
    EXPECT_STREQ(image.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_LT(file.bytesRead, 1u << 20);
}

TEST(Metafile, EncodingIsRefused)
{
    VxImageWMF wmf;
    EXPECT_FALSE(wmf.Encode(nullptr));
    EXPECT_STREQ(wmf.GetLastError(), "");
    VxMemFile sink;
    sink.Open();
    EXPECT_FALSE(wmf.Encode(&sink));
    EXPECT_STREQ(wmf.GetLastError(), "Save WMF not supported");
}

}  // namespace
