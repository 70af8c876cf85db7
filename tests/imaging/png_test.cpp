// The PNG codec: what a decode makes of grey depths, palettes with tRNS,
// interlacing, alpha and pHYs; what the encoder writes, read back by
// pngtopam; and the grey tRNS file that once read a table libpng 1.6 does
// not give.
#include "peer.h"
#include "test_util.h"

#include "imaging/vxpng.h"

#include <gtest/gtest.h>

using namespace imgtest;

namespace {

class ProbePng : public VxImagePNG {
public:
    VxImageAttributes& Info() { return m_info; }
};

TEST(PngDecode, TwoBitGreyBecomesFourBitsWithItsFourGreys)
{
    VxImage image;
    ASSERT_TRUE(image.Load(FixturePath("png_grey2.png").c_str(), VXFMT_PNG));
    EXPECT_EQ(image.GetBpp(), 4u);
    for (std::uint8_t i = 0; i < 4; ++i)
        EXPECT_EQ(Ref(image.GetPaletteColor(i)), RGB(85 * i, 85 * i, 85 * i)) << int(i);
}

TEST(PngDecode, InterlacingIsKeptAsTheCodecOption)
{
    for (const auto& [file, option] : {std::pair{"png_interlaced.png", 1u}, std::pair{"png_grey2_interlaced.png", 1u},
                                       std::pair{"png_rgb.png", 0u}}) {
        VxImage image;
        image.SetFormatOption(7, VXFMT_PNG);
        ASSERT_TRUE(image.Load(FixturePath(file).c_str(), VXFMT_PNG));
        EXPECT_EQ(image.GetFormatOption(VXFMT_PNG), option) << file;
    }
}

TEST(PngDecode, ResolutionFromPhys)
{
    VxImage withPhys;
    ASSERT_TRUE(withPhys.Load(FixturePath("png_phys.png").c_str(), VXFMT_PNG));
    EXPECT_EQ(withPhys.GetXDPI(), 72);
    EXPECT_EQ(withPhys.GetYDPI(), 72);
    VxImage without;
    ASSERT_TRUE(without.Load(FixturePath("png_rgb.png").c_str(), VXFMT_PNG));
    EXPECT_EQ(without.GetXDPI(), 96);
    // The encoder writes 96 dpi as 3780 pixels per metre, read back as 96.
    bool ok = false;
    VxImage again;
    ASSERT_TRUE(DecodeBytes(again, EncodeBytes(without, VXFMT_PNG, &ok), VXFMT_PNG));
    EXPECT_EQ(again.GetXDPI(), 96);
}

TEST(PngDecode, ReadErrorInTheMiddle)
{
    // Cut in the middle of its rows: the rows read are shown, the rest
    // black, and the caller hears the file is damaged.
    const auto full = ReadFile(FixturePath("png_rgb.png"));
    VxImage whole;
    ASSERT_TRUE(DecodeBytes(whole, full, VXFMT_PNG));
    EXPECT_FALSE(whole.IsDamaged());
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, std::vector<std::uint8_t>(full.begin(), full.begin() + full.size() / 2), VXFMT_PNG));
    EXPECT_TRUE(image.IsDamaged());
    EXPECT_STREQ(image.GetLastError(), VXIMAGE_DAMAGED_TEXT);
    const int h = static_cast<int>(image.GetHeight());
    int same = 0;  // rows from the top as the whole file gives them
    while (same < h && std::memcmp(image.GetRowBits(static_cast<std::uint32_t>(h - 1 - same)),
                                   whole.GetRowBits(static_cast<std::uint32_t>(h - 1 - same)), image.GetRowStride()) == 0)
        ++same;
    EXPECT_GT(same, 0);
    EXPECT_LT(same, h);
    const std::vector<std::uint8_t> black(image.GetRowStride() - 1, 0);  // the last row's pad byte aside
    EXPECT_EQ(std::memcmp(image.GetRowBits(0), black.data(), black.size()), 0) << "the bottom row was never read";
}

TEST(PngDecode, StopRequestStopsBeforeTheRows)
{
    for (const std::int32_t stop : {-1, 1}) {
        ProbePng image;
        image.Info().stopRequest = stop;
        auto bytes = ReadFile(FixturePath("png_rgb.png"));
        VxMemFile f(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        EXPECT_FALSE(image.Decode(&f)) << stop;
    }
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t c = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

TEST(PngDecode, png_header_larger_than_the_file)
{
    // IHDR (with a correct CRC) asking for 30000 x 30000 pixels of a small
    // file: refused before the image is allocated.
    auto bytes = ReadFile(FixturePath("png_rgb.png"));
    ASSERT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
    for (const std::size_t at : {16u, 20u}) {
        bytes[at] = 0;
        bytes[at + 1] = 0;
        bytes[at + 2] = 30000 >> 8;
        bytes[at + 3] = 30000 & 0xFF;
    }
    const std::uint32_t crc = Crc32(bytes.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        bytes[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, bytes, VXFMT_PNG));
    EXPECT_STREQ(image.GetLastError(), "The file is too short for a picture of 30000 x 30000 pixels");
}

TEST(PngDecode, png_grey_colour_key_without_palette)
{
    // A grey file's tRNS is a colour key: the pixels of that grey get alpha
    // 0 in the alpha plane, the others 255; nothing is composed.
    VxImage image;
    ASSERT_TRUE(image.Load(FixturePath("png_grey_trns.png").c_str(), VXFMT_PNG)) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 24u);
    ASSERT_TRUE(image.HasAlpha());
    EXPECT_EQ(image.GetTransparentIndex(), -1);
    EXPECT_FALSE(image.PaletteHasAlpha());
    EXPECT_TRUE(SamePixels(image, ReadPnm(FixturePath("png_grey_trns.ref.pam"))));
    const RGBQUAD key = image.GetPixelColor(0, static_cast<int>(image.GetHeight()) - 1, false);
    int keyed = 0;
    for (int y = 0; y < static_cast<int>(image.GetHeight()); ++y)
        for (int x = 0; x < static_cast<int>(image.GetWidth()); ++x) {
            const RGBQUAD c = image.GetPixelColor(x, y, false);
            const bool isKey = c.rgbRed == key.rgbRed && c.rgbGreen == key.rgbGreen && c.rgbBlue == key.rgbBlue;
            keyed += isKey;
            EXPECT_EQ(image.GetAlphaAt(x, y), isKey ? 0 : 255) << x << "," << y;
        }
    EXPECT_GT(keyed, 0);
}

// ---- palettes with tRNS, through the encoder and back ----

// A 12 x 5 picture of 60 distinct palette entries.
void Palette8(VxImage& image, int transparentIndex)
{
    image.Create(12, 5, 8, VXFMT_BMP);
    for (int i = 0; i < 256; ++i)
        image.SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(3 * i),
                              static_cast<std::uint8_t>(255 - i));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 12; ++x)
            image.SetPixelIndex(x, y, static_cast<std::uint8_t>(x + 12 * y));
    image.SetTransparentIndex(transparentIndex);
}

TEST(PngPalette, OneTransparentEntryMovesToIndexZero)
{
    VxImage image;
    Palette8(image, 5);
    const RGBQUAD transparent = image.GetPaletteColor(5);
    bool ok = false;
    const auto bytes = EncodeBytes(image, VXFMT_PNG, &ok);
    ASSERT_TRUE(ok) << image.GetLastError();
    // The source image saw the entries exchanged with their pixels.
    EXPECT_EQ(image.GetTransparentIndex(), 0);
    EXPECT_EQ(Ref(image.GetPaletteColor(0)), Ref(transparent));
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_PNG));
    EXPECT_EQ(back.GetTransparentIndex(), 0);
    EXPECT_FALSE(back.PaletteHasAlpha());
    EXPECT_TRUE(SameImage(back, image));
    if (HaveTool("pngtopam")) {
        Picture alpha;
        ASSERT_TRUE(PeerDecode("pngtopam", "-alpha", bytes, alpha));
        EXPECT_EQ(alpha.At(5, 4).rgbRed, 0);  // the bottom row's sixth pixel had index 5
        EXPECT_EQ(alpha.At(6, 4).rgbRed, 255);
    }
}

TEST(PngPalette, SeveralEntriesBecomePaletteAlpha)
{
    ProbePng image;
    Palette8(image, -1);
    image.Info().paletteAlphaEnabled = true;
    for (int i = 0; i < 256; ++i) {
        RGBQUAD c = image.GetPaletteColor(static_cast<std::uint8_t>(i));
        c.rgbReserved = static_cast<std::uint8_t>(i * 4);
        image.SetPaletteEntry(static_cast<std::uint8_t>(i), c);
    }
    bool ok = false;
    const auto bytes = EncodeBytes(image, VXFMT_PNG, &ok);
    ASSERT_TRUE(ok);
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_PNG));
    EXPECT_TRUE(back.PaletteHasAlpha());
    EXPECT_EQ(back.GetTransparentIndex(), -1);
    // Only the 60 entries in use are written; the rest come back opaque.
    EXPECT_EQ(back.GetPaletteColor(10).rgbReserved, 40);
    EXPECT_EQ(back.GetPaletteColor(59).rgbReserved, 236);
    EXPECT_EQ(back.GetPaletteColor(60).rgbReserved, 255);
    EXPECT_TRUE(SameImage(back, image));
}

// ---- encoding ----

TEST(PngEncode, TransparentColourAndAlphaMaximum)
{
    ProbePng image;
    image.Create(6, 2, 24, VXFMT_PNG);
    Paint24(image);
    const RGBQUAD key = image.GetPixelColor(2, 1, false);
    image.SetTransparentIndex(0);
    image.SetTransparentColor(key);
    image.Info().alphaMax = 128;
    bool ok = false;
    const auto bytes = EncodeBytes(image, VXFMT_PNG, &ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(image.HasAlpha());  // nothing was added to the image itself
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_PNG));
    ASSERT_TRUE(back.HasAlpha());
    EXPECT_EQ(back.GetAlphaAt(2, 1), 0);
    EXPECT_EQ(back.GetAlphaAt(3, 1), 128);
    EXPECT_TRUE(SameImage(back, image));
}

TEST(PngEncode, PngtopamReadsTheSavedFiles)
{
    if (!HaveTool("pngtopam"))
        GTEST_SKIP() << "pngtopam is not installed";
    struct Case { const char* file; const char* options; };
    for (const Case c : {Case{"png_rgb.png", ""}, Case{"png_pal8.png", ""}, Case{"png_grey2.png", ""},
                         Case{"png_bw.png", ""}, Case{"png_interlaced.png", ""}, Case{"png_rgba.png", "-alphapam"},
                         Case{"png_ga16.png", "-alphapam"}}) {
        VxImage image;
        ASSERT_TRUE(image.Load(FixturePath(c.file).c_str(), VXFMT_PNG));
        bool ok = false;
        Picture peer;
        ASSERT_TRUE(PeerDecode("pngtopam", c.options, EncodeBytes(image, VXFMT_PNG, &ok), peer)) << c.file;
        ASSERT_TRUE(ok);
        EXPECT_TRUE(SamePixels(image, peer)) << c.file;
    }
}

}  // namespace
