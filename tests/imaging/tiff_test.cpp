// The TIFF codec: pages, the strip reader against libtiff's RGBA reader,
// the encoder's fields and compressions, and one hostile file per fault,
// each made here with libtiff (or patched from a fixture) and named after
// the fault.
#include "peer.h"
#include "test_util.h"

#include "imaging/vxtiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>

using namespace imgtest;

namespace {

class ProbeTif : public VxImageTIF {
public:
    VxImageAttributes& Info() { return m_info; }
};

std::vector<std::uint8_t> Bytes(VxMemFile& f)
{
    const std::int32_t size = f.Size();
    const std::uint8_t* b = f.GetBuffer(false);
    return std::vector<std::uint8_t>(b, b + (size > 0 ? size : 0));
}

// A TIFF file made by libtiff in memory: `tags` sets the fields, then each
// piece of data is written as one strip.
std::vector<std::uint8_t> WriteTiff(const std::function<void(TIFF*)>& tags,
                                    const std::vector<std::vector<std::uint8_t>>& strips)
{
    VxMemFile f;
    f.Open();
    TIFF* t = VxTiffOpenImage(&f, "w");
    EXPECT_NE(t, nullptr);
    tags(t);
    for (std::size_t i = 0; i < strips.size(); ++i)
        EXPECT_GE(TIFFWriteEncodedStrip(t, static_cast<std::uint32_t>(i), const_cast<std::uint8_t*>(strips[i].data()),
                                        static_cast<tmsize_t>(strips[i].size())),
                  0);
    TIFFClose(t);
    return Bytes(f);
}

void Basic(TIFF* t, std::uint32_t w, std::uint32_t h, std::uint16_t spp, std::uint16_t bps, std::uint16_t photometric)
{
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
}

// Runs `read` on directory `page` of a TIFF file in memory.
void WithTiff(std::vector<std::uint8_t> bytes, const std::function<void(TIFF*)>& read, tdir_t page = 0)
{
    VxMemFile f(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    TIFF* t = VxTiffOpenImage(&f, "r");
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(TIFFSetDirectory(t, page));
    read(t);
    TIFFClose(t);
}

std::uint16_t Field16(const std::vector<std::uint8_t>& bytes, ttag_t tag)
{
    std::uint16_t v = 0xFFFF;
    WithTiff(bytes, [&](TIFF* t) { TIFFGetFieldDefaulted(t, tag, &v); });
    return v;
}

std::vector<std::uint16_t> ExtraSamples(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint16_t> out;
    WithTiff(bytes, [&](TIFF* t) {
        std::uint16_t count = 0;
        std::uint16_t* values = nullptr;
        if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &count, &values))
            out.assign(values, values + count);
    });
    return out;
}

// Sets the value of a SHORT or LONG field of the first directory of a
// little-endian file.
void PatchTag(std::vector<std::uint8_t>& b, std::uint16_t tag, std::uint32_t value)
{
    ASSERT_EQ(b[0], 'I');
    const std::uint32_t ifd = VxGet16Test(b, 4) | (VxGet16Test(b, 6) << 16);
    const unsigned count = VxGet16Test(b, ifd);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        if (VxGet16Test(b, e) != tag)
            continue;
        const unsigned type = VxGet16Test(b, e + 2);
        b[e + 8] = static_cast<std::uint8_t>(value);
        b[e + 9] = static_cast<std::uint8_t>(value >> 8);
        if (type == TIFF_LONG) {
            b[e + 10] = static_cast<std::uint8_t>(value >> 16);
            b[e + 11] = static_cast<std::uint8_t>(value >> 24);
        }
        return;
    }
    FAIL() << "no tag " << tag;
}

bool IsOneOfOurTexts(const char* text)
{
    for (const char* t : {"Error encountered while opening TIFF file", "Error: page not present in TIFF file",
                          "VxImageTIF can't create image", "No space for raster buffer", "Corrupted TIFF file!",
                          "VxImageTIF can't allocate memory", "Corrupted tiled TIFF file!"})
        if (std::string(text) == t)
            return true;
    return false;
}

// ---- pages ----

TEST(TiffPages, LoadsThePageAskedForAndCountsThemAll)
{
    struct Case { int frame; const char* reference; std::uint32_t bpp; };
    for (const Case c : {Case{0, "tif_pages_0.ref.pnm", 1}, Case{1, "tif_pages_1.ref.pnm", 4},
                         Case{2, "tif_pages_2.ref.pnm", 24}}) {
        VxImage image;
        image.SetFrame(c.frame);
        ASSERT_TRUE(image.Load(FixturePath("tif_pages.tif").c_str(), VXFMT_TIF)) << image.GetLastError();
        EXPECT_EQ(image.GetFrameCount(), 3);
        EXPECT_EQ(image.GetBpp(), c.bpp);
        EXPECT_TRUE(SamePixels(image, ReadPnm(FixturePath(c.reference)))) << c.frame;
    }
}

TEST(TiffPages, MissingPageFailsAndStillCountsThePages)
{
    for (int frame : {3, 5, -1}) {
        VxImage image;
        image.SetFrame(frame);
        EXPECT_FALSE(image.Load(FixturePath("tif_pages.tif").c_str(), VXFMT_TIF));
        EXPECT_STREQ(image.GetLastError(), "Error: page not present in TIFF file");
        EXPECT_EQ(image.GetFrameCount(), 3);
        EXPECT_FALSE(image.IsValid());
    }
}

TEST(TiffPages, TypedLoadFallsBackToDetectionWithTheTiffReason)
{
    VxImage png;
    ASSERT_TRUE(png.Load(FixturePath("png_rgb.png").c_str(), VXFMT_TIF));
    EXPECT_EQ(png.GetType(), VXFMT_PNG);
    VxImage text;
    EXPECT_FALSE(text.Load(FixturePath("../tiff_test.cpp").c_str(), VXFMT_TIF));
    EXPECT_STREQ(text.GetLastError(), "Error encountered while opening TIFF file");
}

// ---- decoding ----

// 8-bit contiguous RGB in strips is read strip by strip; it must give what
// libtiff's RGBA reader gives, pixel for pixel.
TEST(TiffDecode, RgbStripsMatchTheRgbaReader)
{
    struct Case { const char* file; tdir_t page; };
    for (const Case c : {Case{"tif_rgb.tif", 0}, Case{"tif_rgb_lzw.tif", 0}, Case{"tif_rgb_packbits.tif", 0},
                         Case{"tif_rgb_deflate.tif", 0}, Case{"tif_rgb_jpeg.tif", 0}, Case{"tif_pages.tif", 2}}) {
        SCOPED_TRACE(c.file);
        const auto bytes = ReadFile(FixturePath(c.file));
        VxImage image;
        image.SetFrame(static_cast<std::int32_t>(c.page));
        ASSERT_TRUE(DecodeBytes(image, bytes, VXFMT_TIF)) << image.GetLastError();
        WithTiff(
            bytes,
            [&](TIFF* t) {
                const std::uint32_t w = image.GetWidth(), h = image.GetHeight();
                std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * h);
                ASSERT_TRUE(TIFFReadRGBAImage(t, w, h, raster.data(), 1));
                for (std::uint32_t y = 0; y < h; ++y)
                    for (std::uint32_t x = 0; x < w; ++x) {
                        const std::uint32_t v = raster[static_cast<std::size_t>(y) * w + x];
                        const RGBQUAD q = image.GetPixelColor(static_cast<int>(x), static_cast<int>(y), false);
                        ASSERT_EQ(Ref(q), RGB(TIFFGetR(v), TIFFGetG(v), TIFFGetB(v))) << x << "," << y;
                    }
            },
            c.page);
    }
}

TEST(TiffDecode, ColourMapOfBytesIsTakenAsItIsAndOfWordsScaled)
{
    for (const bool words : {false, true}) {
        const auto file = WriteTiff(
            [&](TIFF* t) {
                Basic(t, 2, 1, 1, 8, PHOTOMETRIC_PALETTE);
                std::uint16_t r[256] = {}, g[256] = {}, b[256] = {};
                r[1] = words ? 0xFFFF : 200;
                g[1] = words ? 0x8080 : 100;
                b[1] = words ? 0x0101 : 50;
                TIFFSetField(t, TIFFTAG_COLORMAP, r, g, b);
            },
            {{0, 1}});
        VxImage image;
        ASSERT_TRUE(DecodeBytes(image, file, VXFMT_TIF)) << image.GetLastError();
        EXPECT_EQ(image.GetBpp(), 8u);
        EXPECT_EQ(Ref(image.GetPixelColor(1, 0, false)), words ? RGB(255, 128, 1) : RGB(200, 100, 50));
    }
}

TEST(TiffDecode, ResolutionInCentimetresBecomesDotsPerInch)
{
    VxImage image;
    ASSERT_TRUE(image.Load(FixturePath("tif_cm.tif").c_str(), VXFMT_TIF));
    EXPECT_EQ(image.GetXDPI(), 300);  // (118.11 x 2.54 + 0.5) truncated
    EXPECT_EQ(image.GetYDPI(), 300);
}

TEST(TiffDecode, DimensionsOnlyReadStopsAfterTheHeader)
{
    ProbeTif image;
    image.Info().stopRequest = -1;
    auto bytes = ReadFile(FixturePath("tif_rgb_lzw.tif"));
    VxMemFile f(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_TRUE(image.Decode(&f));
    EXPECT_EQ(image.GetWidth(), 37u);
    EXPECT_EQ(image.GetHeight(), 21u);
    EXPECT_FALSE(image.IsValid());
    EXPECT_STREQ(image.GetLastError(), "output dimensions returned");

    // A stream that is no TIFF file has no dimensions to give.
    ProbeTif text;
    text.Info().stopRequest = -1;
    std::uint8_t junk[] = "hello, this is no picture";
    VxMemFile g(junk, sizeof junk);
    EXPECT_FALSE(text.Decode(&g));
    EXPECT_STREQ(text.GetLastError(), "Error encountered while opening TIFF file");
}

// ---- encoding ----

TEST(TiffEncode, BilevelPagesAreWrittenMinIsWhite)
{
    VxImage page;
    ASSERT_TRUE(page.Load(FixturePath("tif_bw_g4.tif").c_str(), VXFMT_TIF));
    ASSERT_EQ(page.GetBpp(), 1u);
    EXPECT_EQ(Ref(page.GetPaletteColor(0)), RGB(255, 255, 255));
    bool ok = false;
    auto bytes = EncodeBytes(page, VXFMT_TIF, &ok);
    ASSERT_TRUE(ok) << page.GetLastError();
    EXPECT_EQ(Field16(bytes, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(Field16(bytes, TIFFTAG_COMPRESSION), COMPRESSION_CCITTFAX4);
    VxImage again;
    ASSERT_TRUE(DecodeBytes(again, bytes, VXFMT_TIF));
    EXPECT_TRUE(SamePixels(again, ReadPnm(FixturePath("tif_bw_g4.ref.pnm"))));

    // Entry 0 black: the palette is swapped and the pixels inverted, so the
    // picture stays as it was.
    VxImage black(9, 2, 1, VXFMT_BMP);
    black.SetPaletteColor(0, 0, 0, 0);
    black.SetPaletteColor(1, 255, 255, 255);
    black.FillPixels(0);
    black.SetPixelIndex(3, 1, 1);
    black.SetPixelIndex(8, 0, 1);
    VxImage before(black, true, false, false);
    bytes = EncodeBytes(black, VXFMT_TIF, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Field16(bytes, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(Ref(black.GetPaletteColor(0)), RGB(255, 255, 255));
    EXPECT_EQ(black.GetPixelIndex(3, 1), 0);
    EXPECT_TRUE(SameImage(black, before));
    ASSERT_TRUE(DecodeBytes(again, bytes, VXFMT_TIF));
    EXPECT_TRUE(SameImage(again, before));
}

TEST(TiffEncode, GreyRampIsMinIsBlackAndLzwWithPredictor)
{
    VxImage grey;
    ASSERT_TRUE(grey.Load(FixturePath("tif_grey8.tif").c_str(), VXFMT_TIF));
    EXPECT_TRUE(grey.HasGreyRampPalette());
    grey.SetFormatOption(0, VXFMT_TIF);
    bool ok = false;
    const auto bytes = EncodeBytes(grey, VXFMT_TIF, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Field16(bytes, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(Field16(bytes, TIFFTAG_COMPRESSION), COMPRESSION_LZW);
    EXPECT_EQ(Field16(bytes, TIFFTAG_PREDICTOR), PREDICTOR_HORIZONTAL);
}

TEST(TiffEncode, KeepsTheCompressionThePageWasReadWith)
{
    struct Case { const char* file; std::uint16_t compression; };
    for (const Case c : {Case{"tif_rgb.tif", COMPRESSION_NONE}, Case{"tif_rgb_lzw.tif", COMPRESSION_LZW},
                         Case{"tif_rgb_packbits.tif", COMPRESSION_PACKBITS},
                         Case{"tif_rgb_deflate.tif", COMPRESSION_ADOBE_DEFLATE}}) {
        VxImage image;
        ASSERT_TRUE(image.Load(FixturePath(c.file).c_str(), VXFMT_TIF));
        bool ok = false;
        const auto bytes = EncodeBytes(image, VXFMT_TIF, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(Field16(bytes, TIFFTAG_COMPRESSION), c.compression) << c.file;
    }
    // A 24-bit image that was never a TIFF page is written as JPEG.
    VxImage rgb(13, 7, 24, VXFMT_BMP);
    Paint24(rgb);
    bool ok = false;
    const auto bytes = EncodeBytes(rgb, VXFMT_TIF, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Field16(bytes, TIFFTAG_COMPRESSION), COMPRESSION_JPEG);
}

TEST(TiffEncode, tiff_unwritable_compression)
{
    // Pages read with a compression libtiff only decodes are written with
    // their depth's default instead of failing.
    struct Depth { std::uint32_t bpp; std::uint16_t expected; };
    for (const std::uint32_t kept : std::initializer_list<std::uint32_t>{COMPRESSION_OJPEG, COMPRESSION_NEXT, COMPRESSION_THUNDERSCAN,
                                     COMPRESSION_SGILOG, COMPRESSION_SGILOG24, COMPRESSION_JBIG, 12345u}) {
        for (const Depth d : {Depth{1, COMPRESSION_CCITTFAX4}, Depth{8, COMPRESSION_LZW}, Depth{24, COMPRESSION_JPEG}}) {
            VxImage image(16, 16, d.bpp, VXFMT_TIF);
            image.FillPixels(0);
            if (d.bpp == 8)
                image.SetGreyRampPalette();
            image.SetFormatOption(kept, VXFMT_TIF);
            bool ok = false;
            const auto bytes = EncodeBytes(image, VXFMT_TIF, &ok);
            ASSERT_TRUE(ok) << kept << " at " << d.bpp << ": " << image.GetLastError();
            EXPECT_EQ(Field16(bytes, TIFFTAG_COMPRESSION), d.expected) << kept << " at " << d.bpp;
        }
    }
    // A compression that does not fit the depth (Group 4 for grey) too.
    VxImage grey(8, 8, 8, VXFMT_TIF);
    grey.SetFormatOption(COMPRESSION_CCITTFAX4, VXFMT_TIF);
    bool ok = false;
    EXPECT_EQ(Field16(EncodeBytes(grey, VXFMT_TIF, &ok), TIFFTAG_COMPRESSION), COMPRESSION_LZW);
}

TEST(TiffEncode, tiff_alpha_without_extra_samples)
{
    // RGBA and index plus alpha are marked as unassociated alpha, so that
    // the alpha comes back.
    VxImage rgba(11, 5, 24, VXFMT_BMP);
    Paint24(rgba);
    VxImage indexed(11, 5, 8, VXFMT_BMP);
    for (int i = 0; i < 256; ++i)
        indexed.SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(255 - i));
    for (VxImage* image : {&rgba, &indexed}) {
        image->CreateAlphaPlane();
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x) {
                if (image == &indexed)
                    image->SetPixelIndex(x, y, static_cast<std::uint8_t>(x * 20 + y));
                image->SetAlphaAt(x, y, static_cast<std::uint8_t>(x * 23 + y * 7));
            }
        image->SetFormatOption(COMPRESSION_LZW, VXFMT_TIF);
        bool ok = false;
        const auto bytes = EncodeBytes(*image, VXFMT_TIF, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(ExtraSamples(bytes), std::vector<std::uint16_t>{EXTRASAMPLE_UNASSALPHA});
        VxImage again;
        ASSERT_TRUE(DecodeBytes(again, bytes, VXFMT_TIF)) << again.GetLastError();
        ASSERT_TRUE(again.HasAlpha());
        EXPECT_TRUE(SameImage(again, *image, true));
    }
}

TEST(TiffEncode, AppendedPagesMakeOneNumberedFile)
{
    VxMemFile f;
    f.Open();
    {
        VxImageTIF writer;
        VxImage source(6, 4, 8, VXFMT_TIF);
        source.SetGreyRampPalette();
        for (int page = 1; page <= 3; ++page) {
            source.FillPixels(static_cast<std::uint8_t>(page * 50));
            writer.BorrowPixels(&source);
            ASSERT_TRUE(writer.Encode(&f, page < 3)) << writer.GetLastError();
        }
    }
    const auto bytes = Bytes(f);
    for (tdir_t page = 0; page < 3; ++page) {
        WithTiff(
            bytes,
            [&](TIFF* t) {
                std::uint32_t type = 0;
                std::uint16_t number = 0, count = 0;
                char* name = nullptr;
                EXPECT_TRUE(TIFFGetField(t, TIFFTAG_SUBFILETYPE, &type));
                EXPECT_EQ(type, static_cast<std::uint32_t>(FILETYPE_PAGE));
                EXPECT_TRUE(TIFFGetField(t, TIFFTAG_PAGENUMBER, &number, &count));
                EXPECT_EQ(number, page + 1);
                EXPECT_TRUE(TIFFGetField(t, TIFFTAG_PAGENAME, &name));
                EXPECT_STREQ(name, ("Page " + std::to_string(page + 1)).c_str());
            },
            page);
        VxImage image;
        image.SetFrame(static_cast<std::int32_t>(page));
        ASSERT_TRUE(DecodeBytes(image, bytes, VXFMT_TIF));
        EXPECT_EQ(image.GetFrameCount(), 3);
        EXPECT_EQ(image.GetPixelIndex(2, 2), (page + 1) * 50);
    }
}

TEST(TiffEncode, TifftopnmReadsTheSavedFiles)
{
    if (!HaveTool("tifftopnm"))
        GTEST_SKIP() << "tifftopnm is not installed";
    for (const char* file : {"tif_grey8.tif", "tif_pal4.tif", "tif_bw_g4.tif", "tif_rgb_deflate.tif"}) {
        VxImage image;
        ASSERT_TRUE(image.Load(FixturePath(file).c_str(), VXFMT_TIF));
        bool ok = false;
        Picture peer;
        ASSERT_TRUE(PeerDecode("tifftopnm", "", EncodeBytes(image, VXFMT_TIF, &ok), peer)) << file;
        ASSERT_TRUE(ok);
        EXPECT_TRUE(SamePixels(image, peer)) << file;
    }
}

// A stream whose writes fail once `limit` bytes would be passed.
class FullDisk : public VxMemFile {
public:
    explicit FullDisk(std::size_t limit) : m_limit(limit) { Open(); }
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override
    {
        if (static_cast<std::size_t>(std::max(Tell(), 0)) + size * count > m_limit)
            return 0;
        return VxMemFile::Write(buffer, size, count);
    }

private:
    std::size_t m_limit;
};

TEST(TiffEncode, tiff_full_disk_reported)
{
    // Wherever the disk fills up, pixels or the directory written when the
    // file is closed, the save fails.
    VxImage grey(40, 30, 8, VXFMT_TIF);
    grey.SetGreyRampPalette();
    grey.FillPixels(77);
    grey.SetFormatOption(COMPRESSION_NONE, VXFMT_TIF);
    bool ok = false;
    const std::size_t full = EncodeBytes(grey, VXFMT_TIF, &ok).size();
    ASSERT_TRUE(ok);
    for (std::size_t limit = 0; limit < full; limit += 7) {
        FullDisk disk(limit);
        EXPECT_FALSE(grey.Encode(&disk, VXFMT_TIF)) << limit << " of " << full;
    }
    FullDisk roomy(full);
    EXPECT_TRUE(grey.Encode(&roomy, VXFMT_TIF));
}

// ---- hostile files ----

TEST(TiffHostile, tiff_tile_width_zero)
{
    for (const std::uint16_t tag : {TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH}) {
        auto bytes = ReadFile(FixturePath("tif_grey8_tiled.tif"));
        PatchTag(bytes, tag, 0);
        VxImage image;
        EXPECT_FALSE(DecodeBytes(image, bytes, VXFMT_TIF)) << tag;
        EXPECT_TRUE(IsOneOfOurTexts(image.GetLastError())) << image.GetLastError();
    }
}

TEST(TiffHostile, tiff_rgb_below_eight_bits)
{
    // Three samples of 4 and 2 bits: nothing reads three whole bytes a
    // pixel from these rows any more.
    for (const std::uint16_t photometric : {PHOTOMETRIC_RGB, PHOTOMETRIC_MINISBLACK}) {
        for (const std::uint16_t bits : {std::uint16_t{2}, std::uint16_t{4}}) {
            const std::uint32_t w = 7, h = 3;
            const std::size_t line = (w * 3 * bits + 7) / 8;
            const auto file = WriteTiff([&](TIFF* t) { Basic(t, w, h, 3, bits, photometric); },
                                        {std::vector<std::uint8_t>(line * h, 0x5A)});
            VxImage image;
            // Refused, the reason names the layout.
            if (DecodeBytes(image, file, VXFMT_TIF))
                EXPECT_EQ(image.GetBpp(), 24u);
            else
                EXPECT_NE(std::string(image.GetLastError()).find("Bits/Sample=" + std::to_string(bits)),
                          std::string::npos)
                    << image.GetLastError();
        }
    }
}

TEST(TiffHostile, tiff_layout_the_rgba_reader_refuses)
{
    // Separated samples of inks other than CMYK: no reader here takes them,
    // so the page is refused with the reason rather than shown black as
    // damaged.
    const std::uint32_t w = 3, h = 2;
    const auto file = WriteTiff(
        [&](TIFF* t) {
            Basic(t, w, h, 4, 8, PHOTOMETRIC_SEPARATED);
            TIFFSetField(t, TIFFTAG_INKSET, INKSET_MULTIINK);
        },
        {std::vector<std::uint8_t>(w * h * 4, 0x40)});
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, file, VXFMT_TIF));
    EXPECT_FALSE(image.IsValid());
    EXPECT_NE(std::string(image.GetLastError()).find("InkSet=2"), std::string::npos) << image.GetLastError();
}

TEST(TiffHostile, tiff_sixteen_bit_samples_half_packed)
{
    // Grey and alpha of 16 bits: every sample of the row keeps its high byte.
    const std::uint32_t w = 4;
    std::vector<std::uint8_t> row;
    for (std::uint32_t x = 0; x < w; ++x) {
        const std::uint16_t grey = static_cast<std::uint16_t>(0x1000 * (x + 1) + 0x11);
        const std::uint16_t alpha = static_cast<std::uint16_t>(0xF000 - 0x2000 * x + 0x22);
        for (const std::uint16_t v : {grey, alpha}) {
            row.push_back(static_cast<std::uint8_t>(v));  // libtiff writes the machine's order
            row.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    const auto file = WriteTiff(
        [&](TIFF* t) {
            Basic(t, w, 1, 2, 16, PHOTOMETRIC_MINISBLACK);
            const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
        },
        {row});
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, file, VXFMT_TIF)) << image.GetLastError();
    ASSERT_EQ(image.GetBpp(), 8u);
    ASSERT_TRUE(image.HasAlpha());
    for (std::uint32_t x = 0; x < w; ++x) {
        EXPECT_EQ(image.GetPixelIndex(static_cast<int>(x), 0), 0x10 * (x + 1)) << x;
        EXPECT_EQ(image.GetAlphaAt(static_cast<int>(x), 0), 0xF0 - 0x20 * x) << x;
    }
}

TEST(TiffHostile, tiff_narrow_and_wide_samples_copied_unexpanded)
{
    struct Case {
        const char* name;
        std::uint16_t bits, photometric;
        std::vector<std::uint8_t> row;  // four pixels
        std::vector<COLORREF> expected;
    };
    std::uint16_t map[3][256] = {};
    const COLORREF colours[4] = {RGB(10, 20, 30), RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200)};
    for (int i = 0; i < 4; ++i) {
        map[0][i] = GetRValue(colours[i]);
        map[1][i] = GetGValue(colours[i]);
        map[2][i] = GetBValue(colours[i]);
    }
    const Case cases[] = {
        {"2-bit grey", 2, PHOTOMETRIC_MINISBLACK, {0x1B}, {RGB(0, 0, 0), RGB(85, 85, 85), RGB(170, 170, 170), RGB(255, 255, 255)}},
        {"2-bit min-is-white", 2, PHOTOMETRIC_MINISWHITE, {0x1B}, {RGB(255, 255, 255), RGB(170, 170, 170), RGB(85, 85, 85), RGB(0, 0, 0)}},
        {"1-bit palette", 1, PHOTOMETRIC_PALETTE, {0x50}, {colours[0], colours[1], colours[0], colours[1]}},
        {"2-bit palette", 2, PHOTOMETRIC_PALETTE, {0xE4}, {colours[3], colours[2], colours[1], colours[0]}},
        // 12-bit samples 0xABC 0x123 0xFFF 0x080, packed from the top bit.
        {"12-bit grey", 12, PHOTOMETRIC_MINISBLACK, {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x80},
         {RGB(0xAB, 0xAB, 0xAB), RGB(0x12, 0x12, 0x12), RGB(0xFF, 0xFF, 0xFF), RGB(0x08, 0x08, 0x08)}},
    };
    for (const Case& c : cases) {
        const auto file = WriteTiff(
            [&](TIFF* t) {
                Basic(t, 4, 1, 1, c.bits, c.photometric);
                if (c.photometric == PHOTOMETRIC_PALETTE)
                    TIFFSetField(t, TIFFTAG_COLORMAP, map[0], map[1], map[2]);
            },
            {c.row});
        VxImage image;
        ASSERT_TRUE(DecodeBytes(image, file, VXFMT_TIF)) << c.name << ": " << image.GetLastError();
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(Ref(image.GetPixelColor(x, 0, false)), c.expected[static_cast<std::size_t>(x)]) << c.name << " " << x;
    }
}

TEST(TiffHostile, tiff_buffers_past_the_limit)
{
    // A few hundred bytes asking for a 30000 x 30000 colour raster, and a
    // grey page cut into tiles of a gigabyte each: both are refused before
    // anything that size is allocated.
    const auto huge = WriteTiff(
        [](TIFF* t) {
            Basic(t, 30000, 30000, 3, 8, PHOTOMETRIC_RGB);
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        },
        {std::vector<std::uint8_t>(90000, 7)});
    auto tiles = ReadFile(FixturePath("tif_grey8_tiled.tif"));
    PatchTag(tiles, TIFFTAG_TILEWIDTH, 32768);
    PatchTag(tiles, TIFFTAG_TILELENGTH, 32768);
    struct Case { const std::vector<std::uint8_t>* file; const char* text; };
    for (const Case c : {Case{&huge, "The file is too short for a picture of 30000 x 30000 pixels"}, Case{&tiles, "VxImageTIF can't allocate memory"}}) {
        VxImage image;
        EXPECT_FALSE(DecodeBytes(image, *c.file, VXFMT_TIF));
        EXPECT_STREQ(image.GetLastError(), c.text);
    }
}

}  // namespace
