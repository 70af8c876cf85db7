// Hand-made files: the layouts the tools do not write, and hostile files
// for every fault a decoder must not have (each named after the fault).
#include "test_util.h"

#include "imaging/vxformats_p.h"

#include "win/memlimit.h"

#include <gtest/gtest.h>

using namespace imgtest;

namespace {

// A BMP file: file header, 40-byte info header, palette, pixel bytes.
std::vector<std::uint8_t> Bmp(std::int32_t w, std::int32_t h, unsigned bpp, unsigned compression,
                              const std::vector<std::uint8_t>& palette, const std::vector<std::uint8_t>& pixels,
                              std::uint32_t clrUsed = 0, const std::vector<std::uint8_t>& masks = {})
{
    const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(masks.size() + palette.size());
    Bytes b;
    b.u8('B').u8('M').u32(offset + static_cast<std::uint32_t>(pixels.size())).u16(0).u16(0).u32(offset);
    b.u32(40).u32(static_cast<std::uint32_t>(w)).u32(static_cast<std::uint32_t>(h)).u16(1).u16(bpp).u32(compression);
    b.u32(0).u32(2835).u32(2835).u32(clrUsed).u32(0);
    b.raw(masks).raw(palette).raw(pixels);
    return b.v;
}

std::vector<std::uint8_t> GreyPalette(int n)
{
    std::vector<std::uint8_t> p;
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
        p.insert(p.end(), {v, v, v, 0});
    }
    return p;
}

// ---- BMP ----

TEST(BmpDecode, BareInfoHeaderAndTopDownRows)
{
    // 3 x 2, 24-bit; the file's first row is the bottom one.
    const std::vector<std::uint8_t> rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,
                                            10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
    const auto file = Bmp(3, 2, 24, 0, {}, rows);
    VxImage normal;
    ASSERT_TRUE(DecodeBytes(normal, file, VXFMT_BMP));
    EXPECT_EQ(Ref(normal.GetPixelColor(0, 0, false)), RGB(3, 2, 1));

    // The same without the 14-byte file header.
    VxImage bare;
    ASSERT_TRUE(DecodeBytes(bare, std::vector<std::uint8_t>(file.begin() + 14, file.end()), VXFMT_BMP));
    EXPECT_TRUE(SameImage(bare, normal));

    // Negative height: rows stored top first, decoded upright.
    std::vector<std::uint8_t> flipped(rows.begin() + 12, rows.end());
    flipped.insert(flipped.end(), rows.begin(), rows.begin() + 12);
    VxImage topDown;
    ASSERT_TRUE(DecodeBytes(topDown, Bmp(3, -2, 24, 0, {}, flipped), VXFMT_BMP));
    EXPECT_TRUE(SameImage(topDown, normal));
}

TEST(BmpDecode, SixteenBitLayouts)
{
    // One row of two pixels: 5-5-5 without masks, and 5-6-5 with masks.
    // Full channels give 255, not 248 or 252; 16 of 31 gives 132.
    VxImage a;
    ASSERT_TRUE(DecodeBytes(a, Bmp(2, 1, 16, 0, {}, {0x1F, 0x7C, 0x00, 0x02}), VXFMT_BMP));
    EXPECT_EQ(Ref(a.GetPixelColor(0, 0, false)), RGB(255, 0, 255));  // 0x7C1F: red and blue full
    EXPECT_EQ(Ref(a.GetPixelColor(1, 0, false)), RGB(0, 132, 0));    // 0x0200: green 16

    Bytes masks;
    masks.u32(0xF800).u32(0x07E0).u32(0x001F);
    VxImage b;
    ASSERT_TRUE(DecodeBytes(b, Bmp(2, 1, 16, 3, {}, {0xE0, 0x07, 0x00, 0xF8}, 0, masks.v), VXFMT_BMP));
    EXPECT_EQ(Ref(b.GetPixelColor(0, 0, false)), RGB(0, 255, 0));
    EXPECT_EQ(Ref(b.GetPixelColor(1, 0, false)), RGB(255, 0, 0));
}

TEST(BmpDecode, bmp_bitfields_negative_shift)
{
    // Twelve red bits and masks out of the usual order would need negative
    // shift counts; wide channels keep their top 8 bits, narrow ones repeat
    // their bits.
    Bytes masks;
    masks.u32(0x0FFF).u32(0x3000).u32(0xC000);
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Bmp(1, 1, 16, 3, {}, {0xBC, 0x6A, 0, 0}, 0, masks.v), VXFMT_BMP));
    const RGBQUAD c = img.GetPixelColor(0, 0, false);
    EXPECT_EQ(c.rgbRed, 0xAB);    // 0xABC of 12 bits
    EXPECT_EQ(c.rgbGreen, 0xAA);  // binary 10 of 2 bits
    EXPECT_EQ(c.rgbBlue, 0x55);   // binary 01 of 2 bits
    VxImage zero;
    Bytes none;
    none.u32(0).u32(0).u32(0);
    ASSERT_TRUE(DecodeBytes(zero, Bmp(1, 1, 16, 3, {}, {0xFF, 0xFF, 0, 0}, 0, none.v), VXFMT_BMP));
    EXPECT_EQ(Ref(zero.GetPixelColor(0, 0, false)), RGB(0, 0, 0));
}

TEST(BmpDecode, ThirtyTwoBitRowsAndAShortFile)
{
    // 2 x 2 at 32 bits.
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Bmp(2, 2, 32, 0, {}, {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99}),
                            VXFMT_BMP));
    EXPECT_EQ(img.GetBpp(), 24u);
    EXPECT_EQ(Ref(img.GetPixelColor(1, 0, false)), RGB(6, 5, 4));
    EXPECT_EQ(Ref(img.GetPixelColor(1, 1, false)), RGB(12, 11, 10));
    EXPECT_FALSE(img.IsDamaged());
    // The second (top) row missing: the file was cut short, and shows the
    // row it has, the other black, marked damaged.
    VxImage cut;
    ASSERT_TRUE(DecodeBytes(cut, Bmp(2, 2, 32, 0, {}, {1, 2, 3, 99, 4, 5, 6, 99}), VXFMT_BMP));
    EXPECT_TRUE(cut.IsDamaged());
    EXPECT_STREQ(cut.GetLastError(), VXIMAGE_DAMAGED_TEXT);
    EXPECT_EQ(Ref(cut.GetPixelColor(1, 0, false)), RGB(6, 5, 4));
    EXPECT_EQ(Ref(cut.GetPixelColor(1, 1, false)), RGB(0, 0, 0));
    // One row of four is less than half of what the header claims: not a
    // file cut short but a claim the file cannot hold.
    VxImage claim;
    EXPECT_FALSE(DecodeBytes(claim, Bmp(2, 4, 32, 0, {}, {1, 2, 3, 99, 4, 5, 6, 99}), VXFMT_BMP));
    EXPECT_STREQ(claim.GetLastError(), "The file is too short for a picture of 2 x 4 pixels");
}

TEST(BmpDecode, bmp32_size_wraps)
{
    // 65536 x 16385 x 4 bytes wraps 32 bits to a few bytes; the decoder
    // neither trusts the wrapped size nor allocates gigabytes for a file
    // that holds 60 bytes.
    VxImage img;
    EXPECT_FALSE(DecodeBytes(img, Bmp(65536, 16385, 32, 0, {}, {1, 2, 3, 4}), VXFMT_BMP));
    EXPECT_STREQ(img.GetLastError(), "The file is too short for a picture of 65536 x 16385 pixels");
    VxImage huge;
    EXPECT_FALSE(DecodeBytes(huge, Bmp(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, {}, {}), VXFMT_BMP));
    VxImage minHeight;
    EXPECT_FALSE(DecodeBytes(minHeight, Bmp(1, static_cast<std::int32_t>(0x80000000u), 8, 0, {}, {}), VXFMT_BMP));
}

TEST(BmpDecode, bmp_palette_longer_than_image_palette)
{
    // A 1-bit file that claims 300 palette entries: two are stored, the
    // rest are skipped, nothing is written past the palette.
    std::vector<std::uint8_t> pal = GreyPalette(256);
    pal.resize(300 * 4, 0x77);
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Bmp(8, 1, 1, 0, pal, {0x80, 0, 0, 0}, 300), VXFMT_BMP));
    EXPECT_EQ(img.GetNumColors(), 2u);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 1);  // the file's entry 1 of its 256-step grey
}

TEST(BmpDecode, CoreHeaderMatchesTheFullHeader)
{
    // 2 x 1 at 8 bits with a 12-byte header and 3-byte palette entries,
    // shorter than 54 bytes altogether.
    Bytes b;
    b.u8('B').u8('M').u32(0).u16(0).u16(0).u32(14 + 12 + 6);
    b.u32(12).u16(2).u16(1).u16(1).u16(1);
    b.raw({10, 20, 30, 40, 50, 60});
    b.raw({0x40, 0, 0, 0});
    VxImage core;
    ASSERT_TRUE(DecodeBytes(core, b.v, VXFMT_BMP)) << core.GetLastError();
    EXPECT_EQ(core.GetBpp(), 1u);
    EXPECT_EQ(Ref(core.GetPixelColor(0, 0, false)), RGB(30, 20, 10));
    EXPECT_EQ(Ref(core.GetPixelColor(1, 0, false)), RGB(60, 50, 40));
}

TEST(BmpDecode, Rle8RunsDeltasAndEnds)
{
    // 4 x 3: run of 2 x 5, absolute 3 bytes (odd: a pad), EOL, delta (1, 1), run, end.
    const std::vector<std::uint8_t> rle = {2, 5, 0, 3, 7, 8, 9, 0, 0, 0, 0, 2, 1, 1, 1, 6, 0, 1};
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Bmp(4, 3, 8, 1, GreyPalette(256), rle, 256), VXFMT_BMP));
    const int expect[3][4] = {{5, 5, 7, 8}, {0, 0, 0, 0}, {0, 6, 0, 0}};
    // Row 0 holds 5 5 7 8 and the 9 lands in the padding of the row.
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(img.GetPixelIndex(x, y), expect[y][x]) << x << "," << y;
}

TEST(BmpDecode, bmp_rle8_overflow)
{
    // A run that passes the row end stops the decoding, with success.
    VxImage run;
    ASSERT_TRUE(DecodeBytes(run, Bmp(4, 2, 8, 1, GreyPalette(256), {200, 3, 1, 4}, 256), VXFMT_BMP));
    EXPECT_EQ(run.GetPixelIndex(3, 0), 3);
    EXPECT_EQ(run.GetPixelIndex(0, 1), 0);

    // End-of-line and delta codes that leave the image: nothing is stored
    // outside it (the sanitizers check), what is inside is kept.
    std::vector<std::uint8_t> rle = {1, 9};
    for (int i = 0; i < 10; ++i)
        rle.insert(rle.end(), {0, 0});                  // end of line past the last row
    rle.insert(rle.end(), {2, 7, 0, 5, 1, 2, 3, 4, 5, 0});  // run and absolute run out there
    rle.insert(rle.end(), {0, 2, 255, 255, 3, 3, 0, 200, 0, 0});
    rle.resize(rle.size() + 200, 0x55);
    VxImage out;
    ASSERT_TRUE(DecodeBytes(out, Bmp(4, 2, 8, 1, GreyPalette(256), rle, 256), VXFMT_BMP));
    EXPECT_EQ(out.GetPixelIndex(0, 0), 9);
    EXPECT_EQ(out.GetPixelIndex(1, 0), 0);
}

TEST(BmpDecode, bmp_rle4_overflow)
{
    // 5 x 2 at 4 bits: run of 3 pixels (nibbles 1, 2, 1), absolute 3 pixels
    // (a, b, c: 2 bytes, even, no pad), EOL, then deltas and runs far out.
    std::vector<std::uint8_t> rle = {3, 0x12, 0, 3, 0xAB, 0xC0, 0, 0, 2, 0x34};
    rle.insert(rle.end(), {0, 2, 250, 0, 9, 0x77, 0, 2, 0, 250, 4, 0x66, 0, 0, 0, 0, 0, 0, 200, 0x11, 0, 1});
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Bmp(5, 2, 4, 2, GreyPalette(16), rle, 16), VXFMT_BMP));
    const int row0[5] = {1, 2, 1, 0xA, 0xB};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(img.GetPixelIndex(x, 0), row0[x]) << x;
    EXPECT_EQ(img.GetPixelIndex(0, 1), 3);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 4);
}

TEST(BmpDecode, UnsupportedCompressions)
{
    VxImage a;
    EXPECT_FALSE(DecodeBytes(a, Bmp(1, 1, 24, 1, {}, {0, 0, 0, 0}), VXFMT_BMP));
    EXPECT_STREQ(a.GetLastError(), "unknown compression");
    VxImage b;
    EXPECT_FALSE(DecodeBytes(b, Bmp(1, 1, 8, 4, GreyPalette(256), {0, 0, 0, 0}, 256), VXFMT_BMP));
    EXPECT_STREQ(b.GetLastError(), "compression type not supported");
    VxImage c;
    EXPECT_FALSE(DecodeBytes(c, {'B', 'M', 0}, VXFMT_BMP));
    EXPECT_STREQ(c.GetLastError(), "Not a BMP");
    VxImage d;
    auto file = Bmp(1, 1, 24, 0, {}, {0, 0, 0, 0});
    file[14] = 30;  // header size 30
    EXPECT_FALSE(DecodeBytes(d, file, VXFMT_BMP));
    EXPECT_STREQ(d.GetLastError(), "Error reading BMP info");
}

// The same file with its info header cut to a shorter Windows header (the
// fields past the new size dropped), pixel offset and size adjusted; with
// masksAfter, masks that the shorter header lost follow it instead.
std::vector<std::uint8_t> WithHeaderSize(const std::vector<std::uint8_t>& file, std::uint32_t size,
                                         const std::vector<std::uint8_t>& masksAfter = {})
{
    const std::uint32_t old = VxGet32Test(file, 14);
    std::vector<std::uint8_t> out(file.begin(), file.begin() + 14 + size);
    out.insert(out.end(), masksAfter.begin(), masksAfter.end());
    out.insert(out.end(), file.begin() + 14 + old, file.end());
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::uint32_t shift = old - size - static_cast<std::uint32_t>(masksAfter.size());
    put32(2, static_cast<std::uint32_t>(out.size()));
    put32(10, VxGet32Test(file, 10) - shift);
    put32(14, size);
    return out;
}

TEST(BmpDecode, EveryWindowsHeaderSizeReadsLikeTheFortyByteOne)
{
    // ImageMagick's 124-byte files with a palette count, run-length data and
    // bit fields, cut to the 108-, 56- and 52-byte headers: the masks stay in
    // the header down to 52 bytes; at 40 they follow it.
    for (const char* name : {"bmp8_v5", "bmp8_rle8_v5", "bmp4_v5", "bmp16_565_v5", "bmp32_alpha"}) {
        const auto file = ReadFile(FixturePath(std::string(name) + ".bmp"));
        Picture ref = ReadPnm(FixturePath(std::string(name) + (name == std::string("bmp32_alpha") ? ".ref.pam" : ".ref.pnm")));
        for (std::uint32_t size : {124u, 108u, 56u, 52u}) {
            if (size < 56 && ref.hasAlpha)
                ref.hasAlpha = false;  // the alpha mask is gone, so is the alpha
            VxImage img;
            ASSERT_TRUE(DecodeBytes(img, WithHeaderSize(file, size), VXFMT_BMP)) << name << " " << size << ": "
                                                                               << img.GetLastError();
            EXPECT_TRUE(SamePixels(img, ref)) << name << " " << size;
            EXPECT_EQ(img.HasAlpha(), ref.hasAlpha) << name << " " << size;
        }
        if (VxGet32Test(file, 30) == 3) {
            const std::vector<std::uint8_t> masks(file.begin() + 54, file.begin() + 66);
            VxImage img;
            ASSERT_TRUE(DecodeBytes(img, WithHeaderSize(file, 40, masks), VXFMT_BMP)) << name;
            EXPECT_TRUE(SamePixels(img, ref)) << name << " 40";
        }
    }
}

TEST(BmpDecode, ThirtyTwoBitMasksAndAlpha)
{
    // 56-byte header, red in the low byte and alpha in the top one (the
    // order of RGBA buffers): every channel comes from its own mask.
    Bytes b;
    b.u8('B').u8('M').u32(14 + 56 + 8).u16(0).u16(0).u32(14 + 56);
    b.u32(56).u32(2).u32(1).u16(1).u16(32).u32(3).u32(8).u32(0).u32(0).u32(0).u32(0);
    b.u32(0x000000FF).u32(0x0000FF00).u32(0x00FF0000).u32(0xFF000000);
    b.raw({10, 20, 30, 7, 200, 100, 50, 244});
    VxImage rgba;
    ASSERT_TRUE(DecodeBytes(rgba, b.v, VXFMT_BMP)) << rgba.GetLastError();
    EXPECT_EQ(Ref(rgba.GetPixelColor(0, 0, false)), RGB(10, 20, 30));
    EXPECT_EQ(Ref(rgba.GetPixelColor(1, 0, false)), RGB(200, 100, 50));
    ASSERT_TRUE(rgba.HasAlpha());
    EXPECT_EQ(rgba.GetAlphaAt(0, 0), 7);
    EXPECT_EQ(rgba.GetAlphaAt(1, 0), 244);

    // 10-10-10 masks after a 40-byte header keep each channel's top 8 bits;
    // without an alpha mask there is no alpha.
    Bytes masks;
    masks.u32(0x3FF00000).u32(0x000FFC00).u32(0x000003FF);
    const std::uint32_t word = (0x2AAu << 20) | (0x155u << 10) | 0x3FFu;
    Bytes px;
    px.u32(word);
    VxImage deep;
    ASSERT_TRUE(DecodeBytes(deep, Bmp(1, 1, 32, 3, {}, px.v, 0, masks.v), VXFMT_BMP));
    EXPECT_EQ(Ref(deep.GetPixelColor(0, 0, false)), RGB(0xAA, 0x55, 0xFF));
    EXPECT_FALSE(deep.HasAlpha());

    // Uncompressed 32 bits: blue, green, red, and a fourth byte that is no alpha.
    VxImage plain;
    ASSERT_TRUE(DecodeBytes(plain, Bmp(1, 1, 32, 0, {}, {1, 2, 3, 4}), VXFMT_BMP));
    EXPECT_EQ(Ref(plain.GetPixelColor(0, 0, false)), RGB(3, 2, 1));
    EXPECT_FALSE(plain.HasAlpha());
}

TEST(BmpDecode, bmp_bogus_headers)
{
    // Bit counts the format does not have decode as nothing at all: they are
    // refused, not shown as a blank picture.
    for (unsigned bits : {0u, 2u, 3u, 7u, 64u, 65535u}) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, Bmp(2, 2, bits, 0, GreyPalette(4), std::vector<std::uint8_t>(64, 1)), VXFMT_BMP))
            << bits;
        EXPECT_STREQ(img.GetLastError(), "Error reading BMP info") << bits;
        EXPECT_FALSE(img.IsValid());
    }
    // Pixel data said to start past the end of the file.
    auto far = Bmp(1, 1, 24, 0, {}, {1, 2, 3, 0});
    for (std::uint32_t offset : {0xFFFFFFFFu, static_cast<std::uint32_t>(far.size()) + 1}) {
        for (int i = 0; i < 4; ++i)
            far[10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, far, VXFMT_BMP)) << offset;
        EXPECT_STREQ(img.GetLastError(), "Error reading BMP info");
    }
    // An OS/2 2.x header (64 bytes) reads whole, and a file that ends
    // inside it is refused.
    Bytes os2;
    os2.u8('B').u8('M').u32(14 + 64 + 8).u16(0).u16(0).u32(14 + 64);
    os2.u32(64).u32(2).u32(1).u16(1).u16(24).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).fill(24, 0xEE);
    os2.raw({1, 2, 3, 4, 5, 6, 0, 0});
    VxImage whole;
    ASSERT_TRUE(DecodeBytes(whole, os2.v, VXFMT_BMP)) << whole.GetLastError();
    EXPECT_EQ(Ref(whole.GetPixelColor(1, 0, false)), RGB(6, 5, 4));
    for (std::size_t cut : {14u + 40u, 14u + 50u, 14u + 63u}) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, std::vector<std::uint8_t>(os2.v.begin(), os2.v.begin() + cut), VXFMT_BMP));
        EXPECT_STREQ(img.GetLastError(), "Error reading BMP info") << cut;
    }
}

TEST(BmpDecode, bmp_rle8_claims_more_than_memory)
{
    // 9 MB of runs that claim 32768 x 32768 pixels (1 GB): more than the
    // machine gives a picture (here held to 256 MB), refused before
    // anything of that size is allocated.
    std::vector<std::uint8_t> runs(9u << 20, 255);
    for (std::size_t i = 1; i < runs.size(); i += 2)
        runs[i] = 7;
    {
        ScopedPictureMemoryLimit limit(256000000);
        VxImage big;
        EXPECT_FALSE(DecodeBytes(big, Bmp(32768, 32768, 8, 1, GreyPalette(256), runs, 256), VXFMT_BMP));
        EXPECT_STREQ(big.GetLastError(), "Picture of 32768 x 32768 pixels is too big for the memory of this computer");
        EXPECT_FALSE(big.IsValid());
    }
    // More than the best run-length coding could fill from the bytes there
    // are.
    runs.resize(100000);
    VxImage unfillable;
    EXPECT_FALSE(DecodeBytes(unfillable, Bmp(15000, 15000, 8, 1, GreyPalette(256), runs, 256), VXFMT_BMP));
    EXPECT_STREQ(unfillable.GetLastError(), "The file is too short for a picture of 15000 x 15000 pixels");
}

// ---- Icons ----

// An icon of one image; sizes of 256 go into the directory as 0.
std::vector<std::uint8_t> Icon(unsigned w, unsigned h, unsigned bpp, const std::vector<std::uint8_t>& palette,
                               const std::vector<std::uint8_t>& pixels, const std::vector<std::uint8_t>& mask)
{
    Bytes b;
    b.u16(0).u16(1).u16(1);
    b.u8(w & 0xFF).u8(h & 0xFF).u8(0).u8(0).u16(1).u16(bpp).u32(0).u32(22);
    b.u32(40).u32(w).u32(h * 2u).u16(1).u16(bpp).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
    b.raw(palette).raw(pixels).raw(mask);
    return b.v;
}

TEST(IconDecode, MaskedPalettePixelsTakeTheLowestUnusedIndex)
{
    // 2 x 2 at 8 bits using indices 0, 1 and 3; the mask marks (1, 0).
    std::vector<std::uint8_t> pixels = {0, 1, 0, 0, 3, 0, 0, 0};
    std::vector<std::uint8_t> mask = {0x40, 0, 0, 0, 0, 0, 0, 0};
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Icon(2, 2, 8, GreyPalette(256), pixels, mask), VXFMT_ICO));
    EXPECT_EQ(img.GetTransparentIndex(), 2);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 3);
    EXPECT_FALSE(img.HasAlpha());
}

TEST(IconDecode, MaskedTrueColourPixelsOfOneColourBecomeTheKey)
{
    // 2 x 1 at 24 bits; the masked pixel's colour becomes the transparent colour.
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Icon(2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0}, {0x80, 0, 0, 0}), VXFMT_ICO));
    EXPECT_EQ(img.GetTransparentIndex(), 0);
    EXPECT_EQ(Ref(img.GetTransparentColor()), RGB(3, 2, 1));
    EXPECT_FALSE(img.HasAlpha());
}

TEST(IconDecode, ico32_alpha_wins_over_the_mask)
{
    // Partial alpha (7 and 244) under set mask bits, as ImageMagick writes
    // it: the alpha channel is kept, not cleared by the mask.
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Icon(2, 1, 32, {}, {10, 20, 30, 7, 40, 50, 60, 244}, {0xC0, 0, 0, 0}), VXFMT_ICO));
    EXPECT_EQ(Ref(img.GetPixelColor(0, 0, false)), RGB(30, 20, 10));
    EXPECT_EQ(img.GetAlphaAt(0, 0), 7);
    EXPECT_EQ(img.GetAlphaAt(1, 0), 244);

    // Fourth bytes all 0: an image of the older kind, transparent where the
    // mask says and opaque elsewhere.
    VxImage old;
    ASSERT_TRUE(DecodeBytes(old, Icon(2, 1, 32, {}, {10, 20, 30, 0, 40, 50, 60, 0}, {0x40, 0, 0, 0}), VXFMT_ICO));
    ASSERT_TRUE(old.HasAlpha());
    EXPECT_EQ(old.GetAlphaAt(0, 0), 255);
    EXPECT_EQ(old.GetAlphaAt(1, 0), 0);
}

TEST(IconDecode, SizeByteZeroMeans256Pixels)
{
    // A 256 x 2 image at 24 bits; its directory holds 0 and 2.
    std::vector<std::uint8_t> pixels(256 * 3 * 2, 0);
    pixels[255 * 3 + 2] = 99;               // bottom row, last pixel: red 99
    pixels[256 * 3 + 0] = 77;               // top row, first pixel: blue 77
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, Icon(256, 2, 24, {}, pixels, std::vector<std::uint8_t>(64, 0)), VXFMT_ICO))
        << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 256u);
    EXPECT_EQ(img.GetHeight(), 2u);
    EXPECT_EQ(Ref(img.GetPixelColor(255, 0, false)), RGB(99, 0, 0));
    EXPECT_EQ(Ref(img.GetPixelColor(0, 1, false)), RGB(0, 0, 77));
}

TEST(IconDecode, ico_png_entry)
{
    // ImageMagick's 256-pixel entry is a PNG file. It goes to the PNG codec
    // of the format table; without one it is refused with a message, never
    // read as a bitmap.
    const auto file = ReadFile(FixturePath("ico_png256.ico"));
    VxImage img;
    const bool ok = DecodeBytes(img, file, VXFMT_ICO);
    EXPECT_EQ(img.GetFrameCount(), 3);
    if (!VxFormatRow(VXFMT_PNG)->create) {
        EXPECT_FALSE(ok);
        EXPECT_FALSE(img.IsValid());
        EXPECT_STREQ(img.GetLastError(), "PNG-compressed icon needs the PNG codec");
        return;
    }
    // With a PNG codec: the pixels the PNG codec gives for the entry's bytes.
    ASSERT_TRUE(ok) << img.GetLastError();
    EXPECT_EQ(img.GetType(), VXFMT_ICO);
    EXPECT_EQ(img.GetWidth(), 256u);
    const std::uint32_t size = VxGet32Test(file, 6 + 8), offset = VxGet32Test(file, 6 + 12);
    VxImage png;
    ASSERT_TRUE(DecodeBytes(png, std::vector<std::uint8_t>(file.begin() + offset, file.begin() + offset + size), VXFMT_PNG));
    EXPECT_TRUE(SameImage(img, png, true));
}

TEST(IconDecode, RefusalsSayWhy)
{
    struct Case { std::vector<std::uint8_t> bytes; std::int32_t frame; const char* error; };
    auto edit = [](std::vector<std::uint8_t> b, std::size_t at, std::uint8_t v) {
        b[at] = v;
        return b;
    };
    const auto good = Icon(1, 1, 24, {}, {0, 0, 0, 0}, {0, 0, 0, 0});
    const Case cases[] = {
        {{0, 0, 1}, 0, "Not an icon"},
        {edit(good, 2, 3), 0, "Not an icon"},                      // type 3
        {edit(edit(good, 4, 0xFF), 5, 0xFF), 0, "Corrupted icon"},  // 65535 entries in a 70-byte file
        {good, 1, "Icon frame not found"},
        {edit(good, 6 + 12, 200), 0, "Corrupted icon"},  // image offset past the end
        // Bit counts an icon image cannot have are not read raw.
        {edit(good, 22 + 14, 0), 0, "Unsupported icon bit count"},
        {edit(good, 22 + 14, 2), 0, "Unsupported icon bit count"},
        {edit(good, 22 + 14, 16), 0, "Unsupported icon bit count"},
        {edit(good, 22 + 14, 64), 0, "Unsupported icon bit count"},
    };
    for (const Case& c : cases) {
        VxImage img;
        img.SetFrame(c.frame);
        EXPECT_FALSE(DecodeBytes(img, c.bytes, VXFMT_ICO)) << c.error;
        EXPECT_STREQ(img.GetLastError(), c.error);
        EXPECT_FALSE(img.IsValid());
    }
}

TEST(IconEncode, RoundTripAndLimits)
{
    VxImage img(5, 3, 24, 1);
    Paint24(img);
    img.CreateAlphaPlane();
    img.SetAlphaAt(2, 1, 0);
    bool ok = false;
    const auto bytes = EncodeBytes(img, VXFMT_ICO, &ok);
    ASSERT_TRUE(ok);
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_ICO));
    EXPECT_TRUE(SameImage(img, back));
    EXPECT_EQ(back.GetAlphaAt(2, 1), 0);
    EXPECT_EQ(back.GetAlphaAt(1, 1), 255);

    VxImage big(256, 256, 8, 1);
    EncodeBytes(big, VXFMT_ICO, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(big.GetLastError(), "Can't save this image as icon");
}

// ---- WBMP ----

TEST(Wbmp, SizesOf128AndMoreAreMultiByteIntegers)
{
    VxImage img(300, 2, 1, 1);
    img.SetGreyRampPalette();
    img.SetPixelIndex(299, 1, 1);
    img.SetPixelIndex(128, 0, 1);
    bool ok = false;
    const auto bytes = EncodeBytes(img, VXFMT_WBMP, &ok);
    ASSERT_TRUE(ok) << img.GetLastError();
    ASSERT_GE(bytes.size(), 5u);
    EXPECT_EQ(bytes[2], 0x82);  // 300 = 2 x 128 + 44
    EXPECT_EQ(bytes[3], 44);
    EXPECT_EQ(bytes[4], 2);
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_WBMP));
    EXPECT_EQ(back.GetWidth(), 300u);
    EXPECT_TRUE(SameImage(img, back));

    VxImage deep(2, 2, 8, 1);
    EncodeBytes(deep, VXFMT_WBMP, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(deep.GetLastError(), "Can't save this image as WBMP");
}

TEST(Wbmp, wbmp_bad_headers)
{
    struct Case { std::vector<std::uint8_t> bytes; const char* error; };
    const Case cases[] = {
        {{0, 0, 5}, "Not a WBMP"},
        {{1, 0, 1, 1, 0}, "Unsupported WBMP type"},
        {{0, 0, 0, 1}, "Corrupted WBMP"},
        {{0, 0, 0x81, 0x80, 0x80, 0x80, 0x80, 0x01, 1, 0}, "Corrupted WBMP"},  // more than 32 bits
        {{0, 0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F},
         "The file is too short for a picture of 4294967295 x 4294967295 pixels"},
        // Six bytes that claim 11000 x 11000 pixels (15 MB of rows), as a
        // file seen in the wild did: refused, never shown black.
        {{0, 0, 0xD5, 0x78, 0xD5, 0x78}, "The file is too short for a picture of 11000 x 11000 pixels"},
        // One row of a 9 x 4 picture: the rows are stored as they are, and
        // a file with less than half of them claims what it cannot hold.
        {{0, 0, 9, 4, 0xFF, 0x80}, "The file is too short for a picture of 9 x 4 pixels"},
    };
    for (const Case& c : cases) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, c.bytes, VXFMT_WBMP));
        EXPECT_STREQ(img.GetLastError(), c.error);
    }
}

// ---- PCX ----

std::vector<std::uint8_t> PcxHeader(unsigned bits, unsigned planes, unsigned w, unsigned h, unsigned bpl)
{
    Bytes b;
    b.u8(10).u8(5).u8(1).u8(bits).u16(0).u16(0).u16(w - 1).u16(h - 1).u16(72).u16(72);
    b.fill(48, 0).u8(0).u8(planes).u16(bpl).u16(1).u16(0).u16(0).fill(54, 0);
    return b.v;
}

TEST(PcxDecode, FourPlaneTrueColourGetsAlpha)
{
    // 1 x 1, four planes of 8 bits, bytes per line 2 (even).
    auto file = PcxHeader(8, 4, 1, 1, 2);
    file.insert(file.end(), {10, 0, 20, 0, 30, 0, 40, 0});
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, file, VXFMT_PCX)) << img.GetLastError();
    EXPECT_EQ(Ref(img.GetPixelColor(0, 0, false)), RGB(10, 20, 30));
    EXPECT_EQ(img.GetAlphaAt(0, 0), 40);
}

TEST(PcxDecode, pcx_bytes_per_line_too_short)
{
    // 100 pixels wide but 1 byte a line: the rows would be read past the data.
    auto file = PcxHeader(8, 1, 100, 2, 1);
    file.insert(file.end(), {1, 2, 12});
    file.resize(file.size() + 768, 0);
    VxImage img;
    EXPECT_FALSE(DecodeBytes(img, file, VXFMT_PCX));
    EXPECT_STREQ(img.GetLastError(), "corrupted PCX");
    auto planar = PcxHeader(1, 4, 17, 1, 2);
    planar.resize(planar.size() + 8, 0);
    VxImage p;
    EXPECT_FALSE(DecodeBytes(p, planar, VXFMT_PCX));
    EXPECT_STREQ(p.GetLastError(), "corrupted PCX");
    auto zero = PcxHeader(8, 0, 4, 1, 4);
    VxImage z;
    EXPECT_FALSE(DecodeBytes(z, zero, VXFMT_PCX));
}

TEST(PcxDecode, HeaderAndDataErrors)
{
    struct Case { std::vector<std::uint8_t> bytes; const char* error; };
    auto withData = [](std::vector<std::uint8_t> h, std::vector<std::uint8_t> d) {
        h.insert(h.end(), d.begin(), d.end());
        return h;
    };
    auto notPcx = PcxHeader(8, 1, 2, 1, 2);
    notPcx[0] = 11;
    auto encoding = PcxHeader(8, 1, 2, 1, 2);
    encoding[2] = 0;
    const Case cases[] = {
        {{10, 5, 1}, "Can't read PCX image"},
        {notPcx, "Error: Not a PCX file"},
        {encoding, "PCX file has unknown encoding scheme"},
        {PcxHeader(1, 5, 8, 1, 2), "Can't handle image with more than 4 planes"},
        {withData(PcxHeader(8, 1, 2, 1, 2), {0xC5, 7}), "repeat count spans end of image"},
        {withData(PcxHeader(8, 1, 2, 1, 2), {1}), "The file is too short for a picture of 2 x 1 pixels"},
        {withData(PcxHeader(8, 1, 2, 1, 2), {1, 2, 11}), "bad color map signature"},
        {withData(PcxHeader(8, 2, 2, 1, 2), {1, 2, 3, 4}), "Can't handle more than 1 bit per pixel"},
    };
    for (const Case& c : cases) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, c.bytes, VXFMT_PCX)) << c.error;
        EXPECT_STREQ(img.GetLastError(), c.error);
    }
}

TEST(PcxDecode, RunsGoOnAcrossPlanesAndLines)
{
    // 3 x 2 at 24 bits, 4 bytes a plane line: one run of 20 and one of 4
    // cover both lines, crossing plane and line ends; the pixels come out as
    // from the same bytes written out one by one.
    auto runs = PcxHeader(8, 3, 3, 2, 4);
    runs.insert(runs.end(), {0xC0 | 20, 9, 0xC4, 200});
    auto plain = PcxHeader(8, 3, 3, 2, 4);
    for (int i = 0; i < 24; ++i)
        plain.insert(plain.end(), {0xC1, static_cast<std::uint8_t>(i < 20 ? 9 : 200)});
    VxImage a, b;
    ASSERT_TRUE(DecodeBytes(a, runs, VXFMT_PCX)) << a.GetLastError();
    ASSERT_TRUE(DecodeBytes(b, plain, VXFMT_PCX)) << b.GetLastError();
    EXPECT_TRUE(SameImage(a, b));
    EXPECT_EQ(Ref(a.GetPixelColor(0, 1, false)), RGB(9, 9, 9));     // top line
    EXPECT_EQ(Ref(a.GetPixelColor(0, 0, false)), RGB(9, 9, 200));   // bottom line: blue from the last run

    // A picture the data could not fill even at the longest runs is refused
    // before the picture is made.
    auto huge = PcxHeader(8, 3, 8000, 6000, 8000);
    huge.insert(huge.end(), 100000, 0xFF);
    VxImage c;
    EXPECT_FALSE(DecodeBytes(c, huge, VXFMT_PCX));
    EXPECT_STREQ(c.GetLastError(), "The file is too short for a picture of 8000 x 6000 pixels");
}

TEST(PcxEncode, OddWidthLinesCarryAPadByte)
{
    VxImage img(3, 1, 8, 1);
    img.SetGreyRampPalette();
    img.SetPixelIndex(0, 0, 1);
    img.SetPixelIndex(1, 0, 2);
    img.SetPixelIndex(2, 0, 200);
    bool ok = false;
    const auto bytes = EncodeBytes(img, VXFMT_PCX, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(VxGet16Test(bytes, 66), 4u);
    // 1, 2, 200 (coded as a run of one), pad 0, marker 12, palette.
    const std::vector<std::uint8_t> data(bytes.begin() + 128, bytes.begin() + 128 + 5);
    EXPECT_EQ(data, (std::vector<std::uint8_t>{1, 2, 0xC1, 200, 0}));
    EXPECT_EQ(bytes[128 + 5], 12);
    EXPECT_EQ(bytes.size(), 128u + 5 + 1 + 768);
}

TEST(PcxEncode, RoundTripsEveryDepthWithAlpha)
{
    for (std::uint32_t bpp : {1u, 4u, 8u, 24u}) {
        VxImage img(9, 4, bpp, 1);
        if (bpp == 24) {
            Paint24(img);
            img.CreateAlphaPlane();
            img.SetAlphaAt(3, 2, 17);
        } else {
            for (std::uint32_t i = 0; i < img.GetNumColors(); ++i)
                img.SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 3),
                                    static_cast<std::uint8_t>(i * 5), static_cast<std::uint8_t>(255 - i));
            if (bpp == 1)
                img.SetGreyRampPalette();
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 9; ++x)
                    img.SetPixelIndex(x, y, static_cast<std::uint8_t>((x * 7 + y) % img.GetNumColors()));
        }
        bool ok = false;
        const auto bytes = EncodeBytes(img, VXFMT_PCX, &ok);
        ASSERT_TRUE(ok) << bpp;
        VxImage back;
        ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_PCX)) << back.GetLastError();
        EXPECT_TRUE(SameImage(img, back, bpp == 24)) << bpp;
    }
}

// ---- Targa ----

std::vector<std::uint8_t> TgaHeaderBytes(unsigned type, unsigned w, unsigned h, unsigned depth, unsigned descriptor,
                                         unsigned mapType = 0, unsigned mapLength = 0, unsigned mapDepth = 0)
{
    Bytes b;
    b.u8(0).u8(mapType).u8(type).u16(0).u16(mapLength).u8(mapDepth).u16(0).u16(0).u16(w).u16(h).u8(depth).u8(descriptor);
    return b.v;
}

TEST(TgaDecode, tga_colormap_entry_size)
{
    // Colour map of two 16-bit entries: the pixels follow four bytes later,
    // not six.
    auto file = TgaHeaderBytes(1, 2, 1, 8, 0, 1, 2, 16);
    file.insert(file.end(), {0x1F, 0x00, 0x00, 0x7C});  // blue, red
    file.insert(file.end(), {1, 0});
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, file, VXFMT_TGA)) << img.GetLastError();
    EXPECT_EQ(Ref(img.GetPixelColor(0, 0, false)), RGB(255, 0, 0));
    EXPECT_EQ(Ref(img.GetPixelColor(1, 0, false)), RGB(0, 0, 255));

    // 32-bit entries, and a colour map in front of true-colour pixels.
    auto rgb = TgaHeaderBytes(2, 1, 1, 24, 0, 1, 1, 32);
    rgb.insert(rgb.end(), {9, 9, 9, 9, 1, 2, 3});
    VxImage t;
    ASSERT_TRUE(DecodeBytes(t, rgb, VXFMT_TGA));
    EXPECT_EQ(Ref(t.GetPixelColor(0, 0, false)), RGB(3, 2, 1));

    auto bad = TgaHeaderBytes(1, 1, 1, 8, 0, 1, 1, 7);
    bad.insert(bad.end(), {0, 0});
    VxImage b;
    EXPECT_FALSE(DecodeBytes(b, bad, VXFMT_TGA));
    EXPECT_STREQ(b.GetLastError(), "bad TGA header");
}

TEST(TgaDecode, SixteenBitOrientationAndSpanningPackets)
{
    // 2 x 2 at 16 bits, top row first (bit 5) and right to left (bit 4).
    auto file = TgaHeaderBytes(2, 2, 2, 16, 0x30);
    file.insert(file.end(), {0xFF, 0x7F, 0, 0, 0x1F, 0, 0x00, 0x7C});
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, file, VXFMT_TGA));
    // Five-bit channels are widened to 0..255: 31 is 255, as in every peer.
    EXPECT_EQ(Ref(img.GetPixelColor(1, 1, false)), RGB(255, 255, 255));  // 0x7FFF, top left of the file = top right
    EXPECT_EQ(Ref(img.GetPixelColor(0, 1, false)), RGB(0, 0, 0));
    EXPECT_EQ(Ref(img.GetPixelColor(1, 0, false)), RGB(0, 0, 255));
    EXPECT_EQ(Ref(img.GetPixelColor(0, 0, false)), RGB(255, 0, 0));

    // A repeat packet of 5 over rows of 3, then a literal packet spanning too.
    auto plain = TgaHeaderBytes(3, 3, 3, 8, 0);
    plain.insert(plain.end(), {7, 7, 7, 7, 7, 1, 2, 3, 4});
    auto rle = TgaHeaderBytes(11, 3, 3, 8, 0);
    rle.insert(rle.end(), {0x84, 7, 0x03, 1, 2, 3, 4});
    VxImage a, b;
    ASSERT_TRUE(DecodeBytes(a, plain, VXFMT_TGA));
    ASSERT_TRUE(DecodeBytes(b, rle, VXFMT_TGA));
    EXPECT_TRUE(SameImage(a, b));
    EXPECT_EQ(b.GetPixelIndex(2, 2), 4);
}

TEST(TgaDecode, ThirtyTwoBitTopDownAlpha)
{
    auto file = TgaHeaderBytes(10, 1, 2, 32, 0x20);
    file.insert(file.end(), {0x81, 1, 2, 3, 50});  // both rows the same colour, alpha 50
    VxImage img;
    ASSERT_TRUE(DecodeBytes(img, file, VXFMT_TGA));
    EXPECT_EQ(img.GetAlphaAt(0, 0), 50);
    EXPECT_EQ(img.GetAlphaAt(0, 1), 50);
}

TEST(TgaDecode, HeaderErrors)
{
    struct Case { std::vector<std::uint8_t> bytes; const char* error; };
    const Case cases[] = {
        {{0, 0, 2}, "Not a TGA"},
        {TgaHeaderBytes(4, 1, 1, 8, 0), "Unknown TGA image type"},
        {TgaHeaderBytes(2, 0, 1, 24, 0), "bad TGA header"},
        {TgaHeaderBytes(2, 1, 1, 12, 0), "bad TGA header"},
        {TgaHeaderBytes(1, 1, 1, 8, 0, 1, 300, 24), "bad TGA header"},
        {TgaHeaderBytes(2, 2, 2, 24, 0), "The file is too short for a picture of 2 x 2 pixels"},
        {TgaHeaderBytes(10, 65535, 65535, 32, 0), "The file is too short for a picture of 65535 x 65535 pixels"},
    };
    for (const Case& c : cases) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, c.bytes, VXFMT_TGA)) << c.error;
        EXPECT_STREQ(img.GetLastError(), c.error);
    }
}

TEST(TgaDecode, tga_full_runs_claim_more_than_memory)
{
    // Repeat packets of 128 pixels that claim 20000 x 16000 at 24 bits
    // (960 MB), and 5000 x 4000 (60 MB): more than the bytes there are
    // could fill, refused before allocating.
    auto file = TgaHeaderBytes(10, 20000, 16000, 24, 0);
    for (int i = 0; i < 16384; ++i)
        file.insert(file.end(), {0xFF, 1, 2, 3});
    VxImage big;
    EXPECT_FALSE(DecodeBytes(big, file, VXFMT_TGA));
    EXPECT_STREQ(big.GetLastError(), "The file is too short for a picture of 20000 x 16000 pixels");
    EXPECT_FALSE(big.IsValid());
    file[12] = 5000 & 0xFF;
    file[13] = 5000 >> 8;
    file[14] = 4000 & 0xFF;
    file[15] = 4000 >> 8;
    VxImage unfillable;
    EXPECT_FALSE(DecodeBytes(unfillable, file, VXFMT_TGA));
    EXPECT_STREQ(unfillable.GetLastError(), "The file is too short for a picture of 5000 x 4000 pixels");
}

TEST(TgaEncode, RoundTripsAndRefusesLowDepths)
{
    VxImage img(5, 3, 24, 1);
    Paint24(img);
    img.CreateAlphaPlane();
    img.SetAlphaAt(4, 2, 9);
    bool ok = false;
    auto bytes = EncodeBytes(img, VXFMT_TGA, &ok);
    ASSERT_TRUE(ok);
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_TGA));
    EXPECT_TRUE(SameImage(img, back, true));

    VxImage four(3, 3, 4, 1);
    EncodeBytes(four, VXFMT_TGA, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(four.GetLastError(), "Bit depth must be 8 or 24");
}

}  // namespace
