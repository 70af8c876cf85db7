// The image object, its row iterator, the byte streams and the dispatch.
#include "test_support/temp_dir.h"
#include "test_util.h"

#include "imaging/imageiter.h"
#include "imaging/vxbmp.h"

#include "win/memlimit.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace imgtest;

namespace {

// Reaches the attribute block the way a codec does.
class ProbeImage : public VxImage {
public:
    using VxImage::VxImage;
    VxImageAttributes& Info() { return m_info; }
    std::uint8_t* Alpha() { return m_alpha; }
};

TEST(VxImageCreate, RefusesBadSizesAndNormalisesDepth)
{
    VxImage img;
    EXPECT_EQ(img.Create(0, 10, 8, 1), nullptr);
    EXPECT_STREQ(img.GetLastError(), "VxImage::Create : width and height must be greater than zero");

    struct Case { std::uint32_t bpp, expected, colors; };
    for (const Case c : {Case{0, 1, 2}, Case{1, 1, 2}, Case{2, 4, 16}, Case{5, 8, 256}, Case{16, 24, 0}, Case{32, 24, 0}}) {
        ASSERT_NE(img.Create(10, 10, c.bpp, 1), nullptr);
        EXPECT_EQ(img.GetBpp(), c.expected) << c.bpp;
        EXPECT_EQ(img.GetNumColors(), c.colors) << c.bpp;
    }
    ASSERT_NE(img.Create(1, 1, 1, 3), nullptr);
    EXPECT_EQ(img.GetRowStride(), 4u);
    EXPECT_EQ(img.GetHeader().biSizeImage, 4u);
    EXPECT_EQ(img.GetDibSize(), 40u + 8u + 4u);
    EXPECT_EQ(img.GetType(), 3u);
}

TEST(VxImageCreate, EnforcesTheMemoryLimitWithoutWrapping)
{
    // Past 4 GB the header's 32-bit sizes cannot say the block, whatever
    // the machine has; products that would wrap 32 or 64 bits are refused
    // too, naming the size asked for.
    VxImage img;
    EXPECT_EQ(img.Create(65536, 65536, 24, 1), nullptr);
    EXPECT_STREQ(img.GetLastError(), "Picture of 65536 x 65536 pixels is too big for the memory of this computer");
    EXPECT_EQ(img.Create(0xFFFFFFFFu, 0xFFFFFFFFu, 24, 1), nullptr);
    EXPECT_STREQ(img.GetLastError(),
                 "Picture of 4294967295 x 4294967295 pixels is too big for the memory of this computer");
    EXPECT_EQ(img.Create(0x80000000u, 1, 1, 1), nullptr);
    EXPECT_FALSE(img.IsValid());
}

TEST(VxImageCreate, TheLimitIsWhatTheMachineCanGive)
{
    // With 256,000,000 bytes to give, the limit bounds the bytes really
    // allocated: header, palette and rows of 16000 x 15990 at 8 bits
    // (255,841,064 bytes) are taken, 16000 x 16000 (256,001,064) are not.
    {
        ScopedPictureMemoryLimit limit(256000000);
        VxImage img;
        EXPECT_EQ(img.Create(16000, 16000, 8, 1), nullptr);
        EXPECT_STREQ(img.GetLastError(), "Picture of 16000 x 16000 pixels is too big for the memory of this computer");
        ASSERT_NE(img.Create(16000, 15990, 8, 1), nullptr);
        EXPECT_EQ(img.GetDibSize(), 255841064u);
        // The alpha plane counts too: another 255,840,000 bytes would pass
        // it, and the caller hears so.
        EXPECT_FALSE(img.CreateAlphaPlane());
        EXPECT_FALSE(img.HasAlpha());
        EXPECT_STREQ(img.GetLastError(), "Picture of 16000 x 15990 pixels is too big for the memory of this computer");
        ASSERT_NE(img.Create(1000, 1000, 24, 1), nullptr);
        EXPECT_TRUE(img.CreateAlphaPlane());
        EXPECT_TRUE(img.HasAlpha());
    }
    // A machine gives a picture half its memory: a block past the old
    // fixed limit of 256,000,000 bytes is taken.
    EXPECT_GE(PictureMemoryLimit(), 512u << 20);
    VxImage img;
    ASSERT_NE(img.Create(16000, 16000, 8, 1), nullptr) << img.GetLastError();
}

TEST(VxImageCreate, LeavesNoUninitialisedPixels)
{
    // A block that reuses freed memory must still come out zeroed.
    {
        VxImage dirty(64, 64, 24, 1);
        dirty.FillPixels(0xAB);
    }
    VxImage img(64, 64, 24, 1);
    const std::uint8_t* p = img.GetRowBits(0);
    for (std::uint32_t i = 0; i < img.GetHeader().biSizeImage; ++i)
        ASSERT_EQ(p[i], 0) << i;
    for (std::uint32_t i = 0; i < 256; ++i) {
        VxImage pal(3, 3, 8, 1);
        const RGBQUAD c = pal.GetPaletteColor(static_cast<std::uint8_t>(i));
        ASSERT_EQ(c.rgbRed | c.rgbGreen | c.rgbBlue | c.rgbReserved, 0);
        break;
    }
}

TEST(VxImageAttributes, ResolutionFormatOptionAndTransparency)
{
    VxImage img(6);
    img.SetXDPI(96);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 3780);
    img.SetXDPI(72);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 2835);
    img.SetYDPI(-5);
    EXPECT_EQ(img.GetYDPI(), 96);
    EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 3780);

    EXPECT_TRUE(img.SetFormatOption(5, 0));
    EXPECT_EQ(img.GetFormatOption(6), 5u);
    EXPECT_EQ(img.GetFormatOption(16), 0u);
    EXPECT_FALSE(img.SetFormatOption(1, 16));

    img.SetTransparentColor(RGBQUAD{1, 2, 3, 4});
    EXPECT_EQ(img.GetTransparentColor().rgbReserved, 0);
}

TEST(VxImagePalette, NearestIndexCachesAndPrefersTheLowerIndex)
{
    VxImage img(4, 4, 8, 1);
    img.SetGreyRampPalette();
    EXPECT_TRUE(img.HasGreyRampPalette());
    EXPECT_EQ(img.FindNearestPaletteIndex(RGBQUAD{77, 77, 77, 0}), 77);
    // The cache answers for the same colour even after a direct change.
    img.GetPalette()[77] = RGBQUAD{0, 0, 0, 0};
    EXPECT_EQ(img.FindNearestPaletteIndex(RGBQUAD{77, 77, 77, 0}), 77);

    VxImage two(2, 2, 8, 1);
    two.SetPaletteColor(0, 10, 10, 10);
    two.SetPaletteColor(1, 20, 20, 20);
    for (int i = 2; i < 256; ++i)
        two.SetPaletteColor(static_cast<std::uint8_t>(i), 200, 200, 200);
    EXPECT_EQ(two.FindNearestPaletteIndex(RGBQUAD{15, 15, 15, 0}), 0);

    VxImage bw(2, 2, 1, 1);
    bw.SetGreyRampPalette();
    EXPECT_EQ(bw.GetPaletteColor(1).rgbRed, 255);
    EXPECT_FALSE(bw.HasGreyRampPalette());
}

TEST(VxImagePalette, SettersStayInsideThePalette)
{
    VxImage img(3, 1, 1, 1);
    const std::uint8_t red[3] = {10, 20, 30}, green[3] = {40, 50, 60};
    img.SetPaletteChannels(3, red, green, nullptr);  // blue takes green; count cut to 2
    std::uint8_t r = 0, g = 0, b = 0;
    ASSERT_TRUE(img.GetPaletteRgb(1, &r, &g, &b));
    EXPECT_EQ(r, 20);
    EXPECT_EQ(g, 50);
    EXPECT_EQ(b, 50);
    EXPECT_FALSE(img.GetPaletteRgb(2, &r, &g, &b));
    const std::uint8_t triples[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    img.SetPaletteTriples(triples, 3);
    EXPECT_EQ(img.GetPaletteColor(1).rgbBlue, 6);
    EXPECT_EQ(img.GetPaletteColor(2).rgbBlue, 0);  // no third entry
    img.SetPaletteEntry(5, RGBQUAD{1, 1, 1, 1});
    EXPECT_FALSE(img.PaletteHasAlpha());
    img.SetPaletteColor(0, 0, 0, 0, 9);
    EXPECT_TRUE(img.PaletteHasAlpha());

    // Exchanging two entries keeps every pixel's colour.
    VxImage pal(4, 2, 4, 1);
    for (int i = 0; i < 16; ++i)
        pal.SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 10), 0, 0);
    for (int x = 0; x < 4; ++x) {
        pal.SetPixelIndex(x, 0, static_cast<std::uint8_t>(x));
        pal.SetPixelIndex(x, 1, 3);
    }
    VxImage before(pal, true, false, false);
    pal.ExchangePaletteEntries(1, 3);
    EXPECT_EQ(pal.GetPixelIndex(1, 0), 3);
    EXPECT_EQ(pal.GetPixelIndex(0, 1), 1);
    EXPECT_TRUE(SameImage(pal, before));
    EXPECT_LT(VxImage::CompareByGray(RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}), 0);
}

TEST(VxImagePixels, SelectionAndRawHelpers)
{
    VxImage img(4, 3, 24, 1);
    EXPECT_TRUE(img.SelectionHasPoint(3, 2));
    EXPECT_FALSE(img.SelectionHasPoint(4, 2));
    EXPECT_TRUE(img.DeleteSelection());
    std::uint8_t buf[7] = {1, 2, 3, 4, 5, 6, 7};
    img.SwapRedBlue(buf, 7);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[5], 4);
    EXPECT_EQ(buf[6], 7);
    // 32-bit rows: the first three bytes of each pixel.
    std::vector<std::uint8_t> src(4 * 3 * 4);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<std::uint8_t>(i);
    img.ExpandBitfields(src.data(), 0, 0, 0, 32);
    EXPECT_EQ(Ref(img.GetPixelColor(1, 2, false)), RGB(38, 37, 36));
}

TEST(VxImagePixels, IndexAccessAtEveryDepth)
{
    VxImage img4(5, 3, 4, 1);
    img4.FillPixels(0);
    img4.SetPixelIndex(0, 0, 0xA);
    EXPECT_EQ(img4.GetRowBits(0)[0], 0xA0);  // x = 0 is the high nibble
    img4.SetPixelIndex(1, 0, 0x3);
    EXPECT_EQ(img4.GetRowBits(0)[0], 0xA3);

    VxImage img1(9, 2, 1, 1);
    img1.SetPixelIndex(8, 1, 1);
    EXPECT_EQ(img1.GetRowBits(1)[1], 0x80);
    EXPECT_EQ(img1.GetPixelIndex(8, 1), 1);

    // Outside: the transparent index when set, else the first pixel byte.
    VxImage img8(3, 3, 8, 1);
    img8.GetRowBits(0)[0] = 42;
    EXPECT_EQ(img8.GetPixelIndex(3, 0), 42);
    img8.SetTransparentIndex(7);
    EXPECT_EQ(img8.GetPixelIndex(3, 0), 7);
    img8.SetPixelIndex(-1, 0, 9);  // ignored
    EXPECT_EQ(img8.GetPixelIndex(0, 0), 42);
}

TEST(VxImagePixels, ColourAndAlphaAccess)
{
    VxImage img(3, 2, 24, 1);
    img.CreateAlphaPlane();
    img.SetPixelColor(1, 1, RGBQUAD{10, 20, 30, 40}, true);
    const RGBQUAD c = img.GetPixelColor(1, 1, true);
    EXPECT_EQ(c.rgbBlue, 10);
    EXPECT_EQ(c.rgbRed, 30);
    EXPECT_EQ(c.rgbReserved, 40);
    EXPECT_EQ(img.GetAlphaAt(0, 0), 255);
    EXPECT_EQ(img.GetAlphaAt(5, 5), 0);
    EXPECT_EQ(img.GetAlphaPointer(3, 0), nullptr);
    EXPECT_EQ(img.GetColorType(), 4);
    img.SetPixelColorRef(0, 0, RGB(1, 2, 3));
    EXPECT_EQ(img.GetPixelColor(0, 0, false).rgbRed, 1);
    EXPECT_EQ(img.GetPixelColor(0, 0, false).rgbBlue, 3);
}

TEST(VxImageLifeCycle, AdoptBorrowAndCopy)
{
    VxImage source(4, 4, 24, 1);
    Paint24(source);
    source.CreateAlphaPlane();

    VxImage borrower;
    borrower.BorrowPixels(&source);
    EXPECT_EQ(borrower.GetRowBits(0), source.GetRowBits(0));
    EXPECT_FALSE(borrower.Destroy());
    EXPECT_EQ(borrower.Create(2, 2, 8, 1), nullptr);

    VxImage other(2, 2, 8, 1);
    EXPECT_FALSE(borrower.AdoptPixels(other));
    EXPECT_TRUE(other.IsValid());
    // Nothing may adopt a borrower's buffers: they belong to its source.
    VxImage taker;
    EXPECT_FALSE(taker.AdoptPixels(borrower));
    EXPECT_TRUE(borrower.IsValid());

    // A copy into a borrower would free the source's buffers; it does nothing.
    borrower.Copy(other);
    EXPECT_EQ(borrower.GetRowBits(0), source.GetRowBits(0));

    {
        VxImage scoped;
        scoped.BorrowPixels(&source);
    }
    VxImage copy(source, true, true, true);
    EXPECT_TRUE(SameImage(copy, source, true));
    EXPECT_NE(copy.GetRowBits(0), source.GetRowBits(0));

    VxImage target(1, 1, 1, 5);
    EXPECT_TRUE(target.AdoptPixels(copy));
    EXPECT_FALSE(copy.IsValid());
    EXPECT_EQ(copy.GetWidth(), 0u);
    EXPECT_TRUE(SameImage(target, source, true));
}

TEST(CImageIteratorTest, WalksRowsTopDownAndClampsCopies)
{
    VxImage img(5, 3, 8, 1);
    CImageIterator it(&img);
    it.MoveToTop();
    EXPECT_EQ(it.y, 2);
    EXPECT_EQ(it.CurrentRow(), img.GetRowBits(2));

    std::vector<std::uint8_t> big(64, 0x11);
    it.WriteRow(big.data(), 64);  // clamped to the row width (8)
    EXPECT_EQ(img.GetRowBits(2)[7], 0x11);
    EXPECT_EQ(img.GetRowBits(1)[0], 0);
    it.WriteRow(big.data(), -1);
    std::vector<std::uint8_t> out(64, 0);
    it.ReadRow(out.data(), 64);  // never past the row
    EXPECT_EQ(out[7], 0x11);
    EXPECT_EQ(out[8], 0);

    it.SeekRow(3);
    it.SeekRow(-1);
    EXPECT_EQ(it.y, 2);
    EXPECT_TRUE(it.PreviousRow());
    EXPECT_TRUE(it.PreviousRow());
    EXPECT_FALSE(it.PreviousRow());
    EXPECT_EQ(it.y, -1);
    EXPECT_EQ(it.CurrentRow(), img.GetRowBits(0));

    VxImage one(4, 1, 8, 1);
    CImageIterator single(&one);
    single.MoveToTop();
    EXPECT_FALSE(single.PreviousRow());
}

TEST(VxMemFileTest, GrowthSeekAndErrorState)
{
    VxMemFile f;
    ASSERT_TRUE(f.Open());
    EXPECT_FALSE(f.Open());
    EXPECT_TRUE(f.PutC(7));
    EXPECT_EQ(f.Capacity(), 4096);
    std::vector<std::uint8_t> block(4096, 1);
    VxMemFile g;
    g.Open();
    EXPECT_EQ(g.Write(block.data(), 1, block.size()), block.size());
    EXPECT_EQ(g.Capacity(), 8192);

    EXPECT_TRUE(f.Seek(-10, 0));
    EXPECT_EQ(f.Tell(), 0);
    EXPECT_TRUE(f.Seek(100, 0));
    EXPECT_EQ(f.Error(), 1);
    EXPECT_EQ(f.GetC(), -1);
    std::uint8_t b = 9;
    EXPECT_EQ(f.Write(&b, 1, 1), 1u);
    EXPECT_EQ(f.Size(), 101);
    EXPECT_EQ(f.Error(), 0);
    // The gap the seek left reads back as zeros, not as stale heap bytes.
    f.Seek(1, 0);
    std::uint8_t gap[99];
    ASSERT_EQ(f.Read(gap, 1, sizeof gap), sizeof gap);
    for (std::uint8_t v : gap)
        EXPECT_EQ(v, 0);
    EXPECT_EQ(f.GetC(), 9);
}

TEST(VxMemFileTest, ReadsStopAtTheEnd)
{
    std::vector<std::uint8_t> data(10, 3);
    VxMemFile f(data.data(), 10);
    std::uint8_t out[16];
    EXPECT_EQ(f.Read(out, 4, 3), 2u);  // 10 bytes copied, 2 whole items
    EXPECT_EQ(f.Tell(), 10);
    EXPECT_EQ(f.Read(out, 1, 1), 0u);
    f.Seek(0, 0);
    // A size that wraps when multiplied reads nothing.
    EXPECT_EQ(f.Read(out, SIZE_MAX / 2, 4), 0u);
    // Seeking beyond what a 32-bit position holds fails and keeps the position.
    EXPECT_TRUE(f.Seek(0x7FFFFFFF, 0));
    EXPECT_FALSE(f.Seek(1, 1));
    EXPECT_EQ(f.Tell(), 0x7FFFFFFF);
    EXPECT_EQ(f.Write(out, 1, 1), 0u);
    EXPECT_TRUE(f.Eof());
}

TEST(VxMemFileTest, NeverResizesTheCallersBuffer)
{
    std::vector<std::uint8_t> data = {1, 2, 3};
    {
        VxMemFile f(data.data(), 3);
        f.Seek(0, 2);
        std::vector<std::uint8_t> more(5000, 4);
        ASSERT_EQ(f.Write(more.data(), 1, more.size()), more.size());
        EXPECT_EQ(f.Size(), 5003);
        f.Seek(0, 0);
        EXPECT_EQ(f.GetC(), 1);
    }
    EXPECT_EQ(data, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(VxIOFileTest, WrapsAStreamWithoutClosingIt)
{
    TempDir dir;
    dir.Write("a.bin", "abc");
    std::FILE* fp = std::fopen(dir.Path("a.bin").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    {
        VxIOFile f(fp);
        EXPECT_EQ(f.Size(), 3);
        EXPECT_EQ(f.GetC(), 'a');
        EXPECT_EQ(f.Tell(), 1);
    }
    EXPECT_EQ(std::fgetc(fp), 'b');  // still open
    std::fclose(fp);
    VxIOFile none;
    EXPECT_EQ(none.Size(), -1);
    EXPECT_TRUE(none.Eof());
    EXPECT_EQ(none.Error(), -1);
}

TEST(VxDispatch, LoadFallsBackToDetectionAndKeepsTheTypedReason)
{
    TempDir dir;
    const auto bmp = ReadFile(FixturePath("bmp24.bmp"));
    dir.Write("pic.dat", std::string(bmp.begin(), bmp.end()));
    dir.Write("text.txt", "hello, this is not a picture at all\n");

    VxImage img;
    ASSERT_TRUE(img.Load(dir.Path("pic.dat").c_str(), VXFMT_PCX));  // found by detection
    EXPECT_EQ(img.GetType(), VXFMT_BMP);

    VxImage bad;
    EXPECT_FALSE(bad.Load(dir.Path("text.txt").c_str(), VXFMT_PCX));
    EXPECT_STREQ(bad.GetLastError(), "Can't read PCX image");  // shorter than a PCX header
    EXPECT_FALSE(bad.Load(dir.Path("text.txt").c_str(), VXFMT_UNKNOWN));
    EXPECT_STREQ(bad.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(bad.Load(dir.Path("missing.bmp").c_str(), VXFMT_BMP));
}

TEST(VxDispatch, FormatsWithoutACodecAnswerNotSupported)
{
    const auto bmp = ReadFile(FixturePath("bmp24.bmp"));
    for (std::uint32_t id : std::initializer_list<std::uint32_t>{16u, 99u}) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(img, bmp, id)) << id;
        EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format") << id;
        VxImage src(2, 2, 24, 1);
        bool ok = true;
        EncodeBytes(src, id, &ok);
        EXPECT_FALSE(ok) << id;
        EXPECT_STREQ(src.GetLastError(), "Encode: Unknown format") << id;
    }
}

TEST(VxDispatch, EncodePreconditionsAndFailedDecodeLeavesTheImage)
{
    VxImage empty;
    bool ok = true;
    EncodeBytes(empty, VXFMT_BMP, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");
    VxImage img(3, 3, 24, 1);
    EXPECT_FALSE(img.Encode(static_cast<VxFile*>(nullptr), VXFMT_BMP));
    EXPECT_STREQ(img.GetLastError(), "null file handler");
    EncodeBytes(img, VXFMT_UNKNOWN, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");

    Paint24(img);
    VxImage before(img, true, true, true);
    EXPECT_FALSE(DecodeBytes(img, {'B', 'M', 1, 2, 3}, VXFMT_BMP));
    EXPECT_TRUE(SameImage(img, before));
    EXPECT_EQ(img.GetWidth(), 3u);
}

TEST(VxDispatch, DimensionsOnlyModeReportsTheSize)
{
    ProbeImage img;
    img.Info().stopRequest = -1;
    ASSERT_TRUE(DecodeBytes(img, ReadFile(FixturePath("bmp24.bmp")), VXFMT_BMP));
    EXPECT_EQ(img.GetWidth(), 13u);
    EXPECT_EQ(img.GetHeight(), 7u);
    EXPECT_FALSE(img.IsValid());
    EXPECT_STREQ(img.GetLastError(), "output dimensions returned");

    ProbeImage cancelled;
    cancelled.Info().stopRequest = 1;
    EXPECT_FALSE(DecodeBytes(cancelled, ReadFile(FixturePath("bmp24.bmp")), VXFMT_BMP));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}

TEST(VxDispatch, SaveAndLoadThroughFiles)
{
    TempDir dir;
    VxImage img(7, 5, 24, 1);
    Paint24(img);
    ASSERT_TRUE(img.Save(dir.Path("out.bmp").c_str(), VXFMT_BMP));
    VxImage back;
    ASSERT_TRUE(back.Load(dir.Path("out.bmp").c_str(), VXFMT_BMP));
    EXPECT_TRUE(SameImage(img, back));
    EXPECT_FALSE(img.Save(dir.Path("no/such/dir/x.bmp").c_str(), VXFMT_BMP));
    EXPECT_FALSE(img.Save(dir.Path("x.bmp").c_str(), 16));
    EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");
}

}  // namespace
