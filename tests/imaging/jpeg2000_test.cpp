// The JPEG 2000 family codec: what the shared fixture table does not show
// (1-bit and scaled pictures, components as frames, the encoder's rules),
// the library layer's stream handling, and one hostile file per fault.
// Fixtures come from scripts/make-image-fixtures.sh (opj_compress,
// opj_decompress, netpbm's PNM tools, pnmtorast and rasttopnm).
#include "test_util.h"

#include "imaging/vxjp2.h"
#include "jpeg2000/jasper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

using namespace imgtest;

namespace {

struct PictureCase {
    const char* file;
    const char* reference;
    std::uint32_t formatId;
    std::uint32_t bpp;
    int tolerance;  // largest difference of a channel from the reference
};

// Pictures the encoder cannot write back (1-bit black and white has no
// grey-ramp palette; 12-bit grey arrives as RGB, which PGX cannot hold) and
// maxvals whose two scalings may round one step apart from netpbm's one.
const PictureCase kPictures[] = {
    {"pnm_p4.pbm", "pnm_p4.ref.pnm", VXFMT_PNM, 1, 0},
    {"pnm_p1.pbm", "pnm_p1.ref.pnm", VXFMT_PNM, 1, 0},
    {"pnm_p5_maxval100.pgm", "pnm_p5_maxval100.ref.pnm", VXFMT_PNM, 24, 1},
    {"ras1.ras", "ras1.ref.pnm", VXFMT_RAS, 1, 0},
    {"ras1_rle.ras", "ras1_rle.ref.pnm", VXFMT_RAS, 1, 0},
    {"pgx12.pgx", "pgx12.ref.pnm", VXFMT_PGX, 24, 0},
};

::testing::AssertionResult NearPixels(const VxImage& image, const Picture& pic, int tolerance)
{
    if (static_cast<int>(image.GetWidth()) != pic.width || static_cast<int>(image.GetHeight()) != pic.height)
        return ::testing::AssertionFailure() << "size differs";
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            const RGBQUAD a = image.GetPixelColor(x, pic.height - 1 - y, false);
            const RGBQUAD b = pic.At(x, y);
            if (std::abs(a.rgbRed - b.rgbRed) > tolerance || std::abs(a.rgbGreen - b.rgbGreen) > tolerance ||
                std::abs(a.rgbBlue - b.rgbBlue) > tolerance)
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << int(a.rgbRed)
                                                     << " expected " << int(b.rgbRed);
        }
    return ::testing::AssertionSuccess();
}

TEST(Jpeg2000Family, DecodesPicturesTheEncoderCannotWrite)
{
    for (const PictureCase& c : kPictures) {
        SCOPED_TRACE(c.file);
        VxImage image;
        ASSERT_TRUE(image.Load(FixturePath(c.file).c_str(), c.formatId)) << image.GetLastError();
        EXPECT_EQ(image.GetBpp(), c.bpp);
        EXPECT_EQ(image.GetType(), c.formatId);
        EXPECT_TRUE(NearPixels(image, ReadPnm(FixturePath(c.reference)), c.tolerance));
    }
}

TEST(Jpeg2000Family, GreyFileIsOneFrameOfEightBits)
{
    VxImage image;
    ASSERT_TRUE(image.Load(FixturePath("pnm_p5.pgm").c_str(), VXFMT_PNM));
    EXPECT_EQ(image.GetBpp(), 8u);
    EXPECT_EQ(image.GetFrameCount(), 1);
    EXPECT_TRUE(image.HasGreyRampPalette());
}

TEST(Jpeg2000Family, FindsTheFormatFromTheDataWhateverTheId)
{
    VxImage image;
    ASSERT_TRUE(image.Load(FixturePath("pnm_p6.ppm").c_str(), VXFMT_JP2)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), VXFMT_JP2);
    EXPECT_TRUE(SamePixels(image, ReadPnm(FixturePath("pnm_p6.ref.pnm"))));
}

// Frames are the components of an image that is not three equal ones. In
// this code stream the first component is subsampled two ways, so the
// second is wider than the first: each row is read into a row as wide as
// its own component.
TEST(Jpeg2000Family, jpc_component_wider_than_first)
{
    const auto bytes = ReadFile(FixturePath("j2k_two_cmpts.j2k"));
    VxImage second;
    second.SetFrame(1);
    ASSERT_TRUE(DecodeBytes(second, bytes, VXFMT_JPC)) << second.GetLastError();
    EXPECT_EQ(second.GetFrameCount(), 2);
    EXPECT_EQ(second.GetBpp(), 8u);
    EXPECT_TRUE(SamePixels(second, ReadPnm(FixturePath("j2k_two_cmpts_frame1.ref.pnm"))));

    // The subsampled first component arrives at the image's full size.
    VxImage first;
    ASSERT_TRUE(DecodeBytes(first, bytes, VXFMT_JPC));
    EXPECT_EQ(first.GetWidth(), 37u);
    EXPECT_EQ(first.GetHeight(), 23u);

    VxImage beyond;
    beyond.SetFrame(2);
    EXPECT_FALSE(DecodeBytes(beyond, bytes, VXFMT_JPC));
    EXPECT_STREQ(beyond.GetLastError(), "wrong frame!");
    EXPECT_FALSE(beyond.IsValid());
}

TEST(Jpeg2000Family, EncoderRefusesWhatItsFormatsCannotHold)
{
    VxImage colours(4, 4, 4, VXFMT_BMP);
    colours.SetPaletteColor(1, 200, 10, 10);
    colours.FillPixels(1);
    bool ok = true;
    EncodeBytes(colours, VXFMT_JP2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(colours.GetLastError(), "JasPer can save only RGB or GrayScale images");

    VxImage rgb(4, 4, 24, VXFMT_BMP);
    Paint24(rgb);
    EncodeBytes(rgb, VXFMT_PGX, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(rgb.GetLastError(), "PGX can save only GrayScale images");

    VxImage empty;
    EncodeBytes(empty, VXFMT_PNM, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");
}

TEST(Jpeg2000Family, EveryFormatWritesGreyAndColourThatReadsBack)
{
    VxImage grey(19, 11, 8, VXFMT_BMP);
    grey.SetGreyRampPalette();
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 19; ++x)
            grey.SetPixelIndex(x, y, static_cast<std::uint8_t>(x * 9 + y * 4));
    // Smooth colours: at the default rate (quality 90) the JPEG 2000 coding
    // of this picture fits losslessly.
    VxImage rgb(19, 11, 24, VXFMT_BMP);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 19; ++x)
            rgb.SetPixelColor(x, y, RGBQUAD{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 9 + x),
                                            static_cast<std::uint8_t>(200 - y * 5), 0});
    for (std::uint32_t id = VXFMT_JP2; id <= VXFMT_RAS; ++id)
        for (VxImage* source : {&grey, &rgb}) {
            if (id == VXFMT_PGX && source == &rgb)
                continue;
            SCOPED_TRACE(testing::Message() << "id " << id << (source == &grey ? " grey" : " rgb"));
            bool ok = false;
            const auto bytes = EncodeBytes(*source, id, &ok);
            ASSERT_TRUE(ok) << source->GetLastError();
            VxImage back;
            ASSERT_TRUE(DecodeBytes(back, bytes, id)) << back.GetLastError();
            EXPECT_EQ(back.GetBpp(), source->GetBpp());
            EXPECT_TRUE(SameImage(back, *source));
        }
}

// The JPEG quality is the encoder's rate: quality q keeps q percent of the
// raw size, and 100 loses nothing.
TEST(Jpeg2000Family, QualityIsTheCompressedFractionOfTheRawSize)
{
    VxImage noise(64, 64, 24, VXFMT_BMP);
    std::srand(7);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            noise.SetPixelColor(x, y, RGBQUAD{static_cast<std::uint8_t>(std::rand()), static_cast<std::uint8_t>(std::rand()),
                                              static_cast<std::uint8_t>(std::rand()), 0});
    const std::size_t raw = 64 * 64 * 3;
    bool ok = false;
    const auto at90 = EncodeBytes(noise, VXFMT_JPC, &ok);
    ASSERT_TRUE(ok);
    // The rate counts the coded data; the main header comes on top.
    EXPECT_LE(at90.size(), raw * 90 / 100 + 64);
    EXPECT_GT(at90.size(), raw * 70 / 100);
    VxImage lossy;
    ASSERT_TRUE(DecodeBytes(lossy, at90, VXFMT_JPC));
    EXPECT_FALSE(SameImage(lossy, noise));
}

TEST(Jpeg2000Family, StreamAdapterLeavesTheCallersStreamOpen)
{
    std::FILE* f = std::fopen(FixturePath("ras24.ras").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    VxImage image;
    EXPECT_TRUE(image.Decode(f, VXFMT_RAS));
    // Still open and usable: the adapter's close did not close it.
    EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(f), 0x59);
    std::fclose(f);

    auto bytes = ReadFile(FixturePath("pnm_p5.pgm"));
    VxMemFile mem(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    jas_stream_t* stream = jas_stream_fdopen(0, "rb");
    ASSERT_NE(stream, nullptr);
    jas_stream_ops_t ops{};
    EXPECT_EQ(JasStreamAttachVxFile(&ops, &mem, stream), &ops);
    EXPECT_EQ(JasCxStreamSeek(&mem, 3, SEEK_SET), 3);
    EXPECT_EQ(JasCxStreamSeek(&mem, 2, SEEK_CUR), 5);
    EXPECT_EQ(JasCxStreamClose(&mem), 1);
    EXPECT_EQ(jas_stream_close(stream), 0);
    EXPECT_EQ(mem.Tell(), 5);
}

// Descriptor 0 only names the library's stream; no byte of it is read.
TEST(Jpeg2000Family, StandardInputIsNeverRead)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved = dup(0);
    ASSERT_EQ(dup2(fds[0], 0), 0);
    ASSERT_EQ(write(fds[1], "X", 1), 1);
    VxImage image;
    EXPECT_TRUE(image.Load(FixturePath("jp2_rgb.jp2").c_str(), VXFMT_JP2));
    bool ok = false;
    EncodeBytes(image, VXFMT_PNM, &ok);
    EXPECT_TRUE(ok);
    char c = 0;
    EXPECT_EQ(read(0, &c, 1), 1);
    EXPECT_EQ(c, 'X');
    dup2(saved, 0);
    close(saved);
    close(fds[0]);
    close(fds[1]);
}

// Nothing global: decodes and encodes may run side by side.
TEST(Jpeg2000Family, DecodesOnSeveralThreadsAtOnce)
{
    const auto bytes = ReadFile(FixturePath("jp2_rgb.jp2"));
    const Picture ref = ReadPnm(FixturePath("jp2_rgb.ref.pnm"));
    bool ok[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            bool all = true;
            for (int i = 0; i < 5; ++i) {
                VxImage image;
                all = all && DecodeBytes(image, bytes, VXFMT_JP2) && SamePixels(image, ref);
                bool written = false;
                EncodeBytes(image, VXFMT_JPC, &written);
                all = all && written;
            }
            ok[t] = all;
        });
    for (auto& t : threads)
        t.join();
    for (bool b : ok)
        EXPECT_TRUE(b);
}

// A code stream main header: SOC, then SIZ with one size for every component.
std::vector<std::uint8_t> CodeStreamHeader(std::uint32_t width, std::uint32_t height, std::uint32_t tile,
                                           unsigned components)
{
    std::vector<std::uint8_t> v;
    auto be16 = [&](unsigned x) {
        v.push_back(static_cast<std::uint8_t>(x >> 8));
        v.push_back(static_cast<std::uint8_t>(x));
    };
    auto be32 = [&](std::uint32_t x) {
        be16(x >> 16);
        be16(x & 0xFFFF);
    };
    be16(0xFF4F);
    be16(0xFF51);
    be16(38 + 3 * components);
    be16(0);
    be32(width);
    be32(height);
    be32(0);
    be32(0);
    be32(tile);
    be32(tile);
    be32(0);
    be32(0);
    be16(components);
    for (unsigned c = 0; c < components; ++c) {
        v.push_back(7);
        v.push_back(1);
        v.push_back(1);
    }
    be16(0xFFD9);
    return v;
}

// Hostile headers are refused from their size marker alone, before the
// decoder allocates for them; the same header at a sane size is read on.
TEST(Jpeg2000Family, jpc_header_sizes_checked_before_decoding)
{
    struct Case {
        const char* name;
        std::uint32_t width, height, tile;
        unsigned components;
    } cases[] = {
        {"jpc_huge_size", 60000, 60000, 60000, 3},
        {"jpc_too_many_components", 8, 8, 8, 65},
        {"jpc_tile_count_overflow", 50000, 50000, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VxImage image;
        EXPECT_FALSE(DecodeBytes(image, CodeStreamHeader(c.width, c.height, c.tile, c.components), VXFMT_JPC));
        EXPECT_STREQ(image.GetLastError(), "error: cannot load image data");
    }
    // A JP2 file whose image header promises more than its code stream may.
    Bytes jp2;
    jp2.raw({0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A});
    jp2.raw({0, 0, 0, 30, 'j', 'p', '2', 'h', 0, 0, 0, 22, 'i', 'h', 'd', 'r', 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 7, 7, 0, 0});
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, jp2.v, VXFMT_JP2));
    EXPECT_STREQ(image.GetLastError(), "error: cannot load image data");
}

TEST(Jpeg2000Family, pnm_huge_dimensions_refused_before_allocation)
{
    const char* headers[] = {"P6\n1048576 1048576\n255\n", "P5\n100000 100000\n255\n", "P4\n2000000 1\n",
                             "P2\n3 3\n0\n"};
    for (const char* h : headers) {
        SCOPED_TRACE(h);
        std::vector<std::uint8_t> bytes(h, h + std::strlen(h));
        bytes.resize(bytes.size() + 64, 0x55);
        VxImage image;
        EXPECT_FALSE(DecodeBytes(image, bytes, VXFMT_PNM));
        EXPECT_FALSE(image.IsValid());
    }
}

// A run of the byte-encoded type may reach beyond the last row; the rows
// take what they need and the rest is dropped.
TEST(Jpeg2000Family, ras_run_beyond_the_picture)
{
    Bytes ras;
    for (std::uint32_t w : {0x59A66A95u, 4u, 2u, 8u, 0u, 2u, 0u, 0u})
        ras.u8(w >> 24).u8((w >> 16) & 0xFF).u8((w >> 8) & 0xFF).u8(w & 0xFF);
    ras.u8(0x80).u8(0xFF).u8(0x40);  // 256 bytes of 0x40 for 8 pixels
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, ras.v, VXFMT_RAS)) << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 4u);
    EXPECT_EQ(image.GetPixelIndex(3, 1), 0x40);
}

}  // namespace
