// Every codec decodes the fixtures made by netpbm and ImageMagick (see
// scripts/make-image-fixtures.sh) to the same pixels as the reference
// decoding made by the tools, by its own id and through detection, and
// refuses or survives a truncated copy.
#include "test_util.h"

#include "imaging/vxbmp.h"
#include "win/memlimit.h"

#include <gtest/gtest.h>

using namespace imgtest;

namespace {

struct FixtureCase {
    const char* file;
    const char* reference;
    std::uint32_t formatId;
    std::uint32_t bpp;
    std::int32_t frame = 0;  // the icon entry (or page) to load
    // Largest difference of a channel from the reference (the peer rounds
    // where the decoder truncates).
    int tolerance = 0;
    // The encoder loses detail: a round trip comes back close, not equal.
    bool lossy = false;
    // Samples written as decimal text: a file cut inside its last number
    // is another file that says a smaller number.
    bool text = false;
};

const FixtureCase kFixtures[] = {
    {"bmp24.bmp", "bmp24.ref.pnm", VXFMT_BMP, 24},
    {"bmp24_v5.bmp", "bmp24_v5.ref.pnm", VXFMT_BMP, 24},
    {"bmp8.bmp", "bmp8.ref.pnm", VXFMT_BMP, 8},
    {"bmp4.bmp", "bmp4.ref.pnm", VXFMT_BMP, 4},
    {"bmp1.bmp", "bmp1.ref.pnm", VXFMT_BMP, 1},
    {"bmp8_core.bmp", "bmp8_core.ref.pnm", VXFMT_BMP, 8},
    {"bmp8_rle8.bmp", "bmp8_rle8.ref.pnm", VXFMT_BMP, 8},
    {"bmp8_v5.bmp", "bmp8_v5.ref.pnm", VXFMT_BMP, 8},
    {"bmp8_rle8_v5.bmp", "bmp8_rle8_v5.ref.pnm", VXFMT_BMP, 8},
    {"bmp4_v5.bmp", "bmp4_v5.ref.pnm", VXFMT_BMP, 4},
    {"bmp1_v5.bmp", "bmp1_v5.ref.pnm", VXFMT_BMP, 1},
    {"bmp16_565_v5.bmp", "bmp16_565_v5.ref.pnm", VXFMT_BMP, 24},
    {"bmp16_555_v5.bmp", "bmp16_555_v5.ref.pnm", VXFMT_BMP, 24},
    {"bmp32_alpha.bmp", "bmp32_alpha.ref.pam", VXFMT_BMP, 24},
    {"ico4.ico", "ico4.ref.pnm", VXFMT_ICO, 4},
    {"ico_png256.ico", "ico_png256_frame1.ref.pam", VXFMT_ICO, 24, 1},
    {"ico_png256.ico", "ico_png256_frame2.ref.pam", VXFMT_ICO, 24, 2},
    {"wbmp.wbmp", "wbmp.ref.pnm", VXFMT_WBMP, 1},
    {"wbmp_wide.wbmp", "wbmp_wide.ref.pnm", VXFMT_WBMP, 1},
    {"pcx24.pcx", "pcx24.ref.pnm", VXFMT_PCX, 24},
    {"pcx8.pcx", "pcx8.ref.pnm", VXFMT_PCX, 8},
    {"pcx4planes.pcx", "pcx4planes.ref.pnm", VXFMT_PCX, 4},
    {"pcx4packed.pcx", "pcx4packed.ref.pnm", VXFMT_PCX, 4},
    {"pcx1.pcx", "pcx1.ref.pnm", VXFMT_PCX, 1},
    {"pcx24_im.pcx", "pcx24_im.ref.pnm", VXFMT_PCX, 24},
    {"pcx8_im.pcx", "pcx8_im.ref.pnm", VXFMT_PCX, 8},
    {"pcx32_alpha.pcx", "pcx32_alpha.ref.pam", VXFMT_PCX, 24},
    {"tga24.tga", "tga24.ref.pnm", VXFMT_TGA, 24},
    {"tga24_rle.tga", "tga24_rle.ref.pnm", VXFMT_TGA, 24},
    {"tga8_cmap.tga", "tga8_cmap.ref.pnm", VXFMT_TGA, 8},
    {"tga8_cmap_rle.tga", "tga8_cmap_rle.ref.pnm", VXFMT_TGA, 8},
    {"tga8_grey_rle.tga", "tga8_grey_rle.ref.pnm", VXFMT_TGA, 8},
    {"tga32_alpha.tga", "tga32_alpha.ref.pam", VXFMT_TGA, 24},
    {"tga32_alpha_rle.tga", "tga32_alpha_rle.ref.pam", VXFMT_TGA, 24},
    {"jp2_rgb.jp2", "jp2_rgb.ref.pnm", VXFMT_JP2, 24},
    {"jp2_grey.jp2", "jp2_grey.ref.pnm", VXFMT_JP2, 8},
    {"jp2_sycc420.jp2", "jp2_sycc420.ref.pnm", VXFMT_JP2, 24},
    {"jp2_rgba.jp2", "jp2_rgba.ref.pam", VXFMT_JP2, 24, 0, 0, true},
    {"j2k_rgb.j2k", "j2k_rgb.ref.pnm", VXFMT_JPC, 24},
    {"j2k_grey12.j2k", "j2k_grey12.ref.pnm", VXFMT_JPC, 24},
    {"j2k_ycc420.j2k", "j2k_ycc420.ref.pnm", VXFMT_JPC, 24},
    {"pgx8.pgx", "pgx8.ref.pnm", VXFMT_PGX, 8},
    {"pnm_p6.ppm", "pnm_p6.ref.pnm", VXFMT_PNM, 24},
    {"pnm_p3.ppm", "pnm_p3.ref.pnm", VXFMT_PNM, 24, 0, 0, false, true},
    {"pnm_p5.pgm", "pnm_p5.ref.pnm", VXFMT_PNM, 8},
    {"pnm_p2.pgm", "pnm_p2.ref.pnm", VXFMT_PNM, 8, 0, 0, false, true},
    {"pnm_p6_16bit.ppm", "pnm_p6_16bit.ref.pnm", VXFMT_PNM, 24},
    {"pam_rgb.pam", "pam_rgb.ref.pnm", VXFMT_PNM, 24},
    {"pam_ga.pam", "pam_ga.ref.pam", VXFMT_PNM, 24},
    {"pam_rgba16.pam", "pam_rgba16.ref.pam", VXFMT_PNM, 24},
    {"ras24.ras", "ras24.ref.pnm", VXFMT_RAS, 24},
    {"ras8_cmap.ras", "ras8_cmap.ref.pnm", VXFMT_RAS, 24},
    {"ras8_cmap_rle.ras", "ras8_cmap_rle.ref.pnm", VXFMT_RAS, 24},
    {"ras8_grey_rle.ras", "ras8_grey_rle.ref.pnm", VXFMT_RAS, 8},
    {"wmf_shapes.wmf", "wmf_shapes.ref.pnm", VXFMT_WMF, 24},
    {"wmf_window.wmf", "wmf_window.ref.pnm", VXFMT_WMF, 24},
    {"emf_fig2dev.emf", "emf_fig2dev.ref.pnm", VXFMT_WMF, 24},
    {"emf_pstoedit.emf", "emf_pstoedit.ref.pnm", VXFMT_WMF, 24},
    {"tif_rgb.tif", "tif_rgb.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_lzw.tif", "tif_rgb_lzw.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_packbits.tif", "tif_rgb_packbits.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_deflate.tif", "tif_rgb_deflate.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_jpeg.tif", "tif_rgb_jpeg.ref.pnm", VXFMT_TIF, 24, 0, 0, true},
    {"tif_ycbcr_jpeg.tif", "tif_ycbcr_jpeg.ref.pnm", VXFMT_TIF, 24, 0, 0, true},
    {"tif_rgb_tiled.tif", "tif_rgb_tiled.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgba.tif", "tif_rgba.ref.pam", VXFMT_TIF, 24},
    {"tif_grey8.tif", "tif_grey8.ref.pnm", VXFMT_TIF, 8},
    {"tif_grey8_tiled.tif", "tif_grey8_tiled.ref.pnm", VXFMT_TIF, 8},
    {"tif_grey16.tif", "tif_grey16.ref.pnm", VXFMT_TIF, 8},
    {"tif_grey4.tif", "tif_grey4.ref.pnm", VXFMT_TIF, 4},
    {"tif_grey2.tif", "tif_grey2.ref.pnm", VXFMT_TIF, 8},
    {"tif_bw_g4.tif", "tif_bw_g4.ref.pnm", VXFMT_TIF, 1},
    {"tif_pal8.tif", "tif_pal8.ref.pnm", VXFMT_TIF, 8},
    {"tif_pal4.tif", "tif_pal4.ref.pnm", VXFMT_TIF, 4},
    {"tif_pal2.tif", "tif_pal2.ref.pnm", VXFMT_TIF, 8},
    {"tif_pal1.tif", "tif_pal1.ref.pnm", VXFMT_TIF, 8},
    {"tif_orient3.tif", "tif_orient3.ref.pnm", VXFMT_TIF, 8},
    {"tif_orient5.tif", "tif_orient5.ref.pnm", VXFMT_TIF, 8},
    {"tif_orient6.tif", "tif_orient6.ref.pnm", VXFMT_TIF, 8},
    {"tif_orient7.tif", "tif_orient7.ref.pnm", VXFMT_TIF, 8},
    {"tif_orient8.tif", "tif_orient8.ref.pnm", VXFMT_TIF, 8},
    {"tif_cm.tif", "tif_cm.ref.pnm", VXFMT_TIF, 8},
    // Straight alpha from associated alpha, tiles, planes and 16 bits; RGB
    // pages turned on the strip path and on the RGBA reader's; CMYK without
    // an alpha plane, of 8 and of 16 bits.
    {"tif_rgba_assoc.tif", "tif_rgba_assoc.ref.pam", VXFMT_TIF, 24},
    {"tif_rgba_tiled.tif", "tif_rgba.ref.pam", VXFMT_TIF, 24},
    {"tif_rgba_planar.tif", "tif_rgba.ref.pam", VXFMT_TIF, 24},
    {"tif_rgba16.tif", "tif_rgba16.ref.pam", VXFMT_TIF, 24},
    {"tif_rgb_orient5.tif", "tif_rgb_orient5.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_orient6.tif", "tif_rgb_orient6.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_orient7.tif", "tif_rgb_orient7.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgb_orient8.tif", "tif_rgb_orient8.ref.pnm", VXFMT_TIF, 24},
    {"tif_rgba_tiled_orient6.tif", "tif_rgba_tiled_orient6.ref.pam", VXFMT_TIF, 24},
    {"tif_cmyk.tif", "tif_cmyk.ref.pnm", VXFMT_TIF, 24},
    {"tif_cmyk16.tif", "tif_cmyk16.ref.pnm", VXFMT_TIF, 24},
    {"tif_pages.tif", "tif_pages_0.ref.pnm", VXFMT_TIF, 1},
    {"tif_pages.tif", "tif_pages_1.ref.pnm", VXFMT_TIF, 4, 1},
    {"tif_pages.tif", "tif_pages_2.ref.pnm", VXFMT_TIF, 24, 2},
    {"jpg_rgb.jpg", "jpg_rgb.ref.pnm", VXFMT_JPG, 24, 0, 0, true},
    {"jpg_grey.jpg", "jpg_grey.ref.pnm", VXFMT_JPG, 8, 0, 0, true},
    {"jpg_progressive.jpg", "jpg_progressive.ref.pnm", VXFMT_JPG, 24, 0, 0, true},
    {"jpg_cmyk.jpg", "jpg_cmyk.ref.pnm", VXFMT_JPG, 24, 0, 1, true},
    {"jpg_exif_ii.jpg", "jpg_exif_ii.ref.pnm", VXFMT_JPG, 24, 0, 0, true},
    {"jpg_exif_mm.jpg", "jpg_exif_mm.ref.pnm", VXFMT_JPG, 24, 0, 0, true},
    {"jpg_exif_iso2.jpg", "jpg_exif_iso2.ref.pnm", VXFMT_JPG, 24, 0, 0, true},
    {"png_rgb.png", "png_rgb.ref.pnm", VXFMT_PNG, 24},
    {"png_grey8.png", "png_grey8.ref.pnm", VXFMT_PNG, 8},
    {"png_grey2.png", "png_grey2.ref.pnm", VXFMT_PNG, 4},
    {"png_bw.png", "png_bw.ref.pnm", VXFMT_PNG, 1},
    {"png_pal8.png", "png_pal8.ref.pnm", VXFMT_PNG, 8},
    {"png_pal4.png", "png_pal4.ref.pnm", VXFMT_PNG, 4},
    {"png_pal2.png", "png_pal2.ref.pnm", VXFMT_PNG, 4},
    {"png_pal_trns.png", "png_pal_trns.ref.pnm", VXFMT_PNG, 4},
    {"png_grey_trns.png", "png_grey_trns.ref.pam", VXFMT_PNG, 24},
    {"png_interlaced.png", "png_interlaced.ref.pnm", VXFMT_PNG, 24},
    {"png_grey2_interlaced.png", "png_grey2_interlaced.ref.pnm", VXFMT_PNG, 4},
    {"png_rgb16.png", "png_rgb16.ref.pnm", VXFMT_PNG, 24},
    {"png_rgba.png", "png_rgba.ref.pam", VXFMT_PNG, 24},
    {"png_rgba_interlaced.png", "png_rgba_interlaced.ref.pam", VXFMT_PNG, 24},
    {"png_ga16.png", "png_ga16.ref.pam", VXFMT_PNG, 24},
    {"png_phys.png", "png_phys.ref.pnm", VXFMT_PNG, 24},
    {"png_ga8.png", "png_ga8.ref.pam", VXFMT_PNG, 24},
    {"png_rgba16.png", "png_rgba16.ref.pam", VXFMT_PNG, 24},
    {"png_rgb_trns.png", "png_rgb_trns.ref.pam", VXFMT_PNG, 24},
    {"gif_still91.gif", "gif_still91.ref.pnm", VXFMT_GIF, 8},
    {"gif_still16.gif", "gif_still16.ref.pnm", VXFMT_GIF, 4},
    {"gif_still2.gif", "gif_still2.ref.pnm", VXFMT_GIF, 1},
    {"gif_interlaced_h1.gif", "gif_interlaced_h1.ref.pnm", VXFMT_GIF, 4},
    {"gif_interlaced_h2.gif", "gif_interlaced_h2.ref.pnm", VXFMT_GIF, 8},
    {"gif_interlaced_h3.gif", "gif_interlaced_h3.ref.pnm", VXFMT_GIF, 8},
    {"gif_interlaced_h4.gif", "gif_interlaced_h4.ref.pnm", VXFMT_GIF, 8},
    {"gif_interlaced_h10.gif", "gif_interlaced_h10.ref.pnm", VXFMT_GIF, 8},
    // The second frame composed over the first; an animation is composed at
    // 8 bits.
    {"gif_anim3.gif", "gif_anim3_frame1.ref.pnm", VXFMT_GIF, 8, 1},
};

// Same size, and the brightness of the pixels differs by at most meanError
// on average. A lossy coder keeps brightness at full resolution while it
// may average colour over neighbouring pixels, so only brightness is held
// to a tight bound.
::testing::AssertionResult CloseImage(const VxImage& a, const VxImage& b, double meanError)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return ::testing::AssertionFailure() << "sizes differ";
    auto luma = [](const RGBQUAD& c) { return 0.299 * c.rgbRed + 0.587 * c.rgbGreen + 0.114 * c.rgbBlue; };
    double sum = 0;
    for (std::uint32_t y = 0; y < a.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < a.GetWidth(); ++x)
            sum += std::abs(luma(a.GetPixelColor(static_cast<int>(x), static_cast<int>(y), false)) -
                            luma(b.GetPixelColor(static_cast<int>(x), static_cast<int>(y), false)));
    const double mean = sum / (static_cast<double>(a.GetWidth()) * a.GetHeight());
    if (mean > meanError)
        return ::testing::AssertionFailure() << "mean brightness error " << mean;
    return ::testing::AssertionSuccess();
}

class CodecFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(CodecFixture, DecodesLikeTheReferenceByIdAndByPath)
{
    const FixtureCase& c = GetParam();
    const Picture ref = ReadPnm(FixturePath(c.reference));
    VxImage image;
    image.SetFrame(c.frame);
    ASSERT_TRUE(image.Load(FixturePath(c.file).c_str(), c.formatId)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), c.formatId);
    EXPECT_EQ(image.GetBpp(), c.bpp);
    // Metafiles are drawn: another renderer's pixels agree but for edges.
    EXPECT_TRUE(c.formatId == VXFMT_WMF ? RenderedLike(image, ref) : SamePixels(image, ref, c.tolerance));
}

TEST_P(CodecFixture, RoundTripsThroughItsOwnEncoder)
{
    const FixtureCase& c = GetParam();
    VxImage image;
    image.SetFrame(c.frame);
    ASSERT_TRUE(DecodeBytes(image, ReadFile(FixturePath(c.file)), c.formatId));
    if (c.formatId == VXFMT_WMF) {
        // Metafiles are read only.
        bool written = true;
        EncodeBytes(image, c.formatId, &written);
        EXPECT_FALSE(written);
        EXPECT_STREQ(image.GetLastError(), "Save WMF not supported");
        return;
    }
    bool ok = false;
    const auto bytes = EncodeBytes(image, c.formatId, &ok);
    ASSERT_TRUE(ok) << image.GetLastError();
    VxImage again;
    ASSERT_TRUE(DecodeBytes(again, bytes, c.formatId)) << again.GetLastError();
    EXPECT_EQ(again.GetBpp(), image.GetBpp());
    if (c.lossy)
        EXPECT_TRUE(CloseImage(image, again, 3.0));
    else
        EXPECT_TRUE(SameImage(image, again));
}

TEST_P(CodecFixture, ACutFileIsRefusedOrShownDamaged)
{
    // One rule for every format: cut anywhere, a file is refused with a
    // message, or shows what it holds and says it is damaged, or (cut only
    // after its picture) gives the whole picture. Never a picture with a
    // part missing that passes for whole. Files are cut after every byte of
    // their first 4 KB (the headers) and, past that, after every few bytes,
    // a stride that grows with the file, so that a large fixture stays a
    // quick test; the sanitizers watch the reads.
    const FixtureCase& c = GetParam();
    const auto full = ReadFile(FixturePath(c.file));
    VxImage whole;
    whole.SetFrame(c.frame);
    ASSERT_TRUE(DecodeBytes(whole, full, c.formatId)) << whole.GetLastError();
    ASSERT_FALSE(whole.IsDamaged());
    constexpr std::size_t kEveryByte = 4096;
    const std::size_t stride = full.size() <= kEveryByte ? 1 : (full.size() + kEveryByte - 1) / kEveryByte + 1;
    std::size_t lastNumber = full.size();
    while (c.text && lastNumber > 0 && !std::isdigit(full[lastNumber - 1]))
        --lastNumber;
    while (c.text && lastNumber > 0 && std::isdigit(full[lastNumber - 1]))
        --lastNumber;
    for (std::size_t n = 0; n < full.size(); n += n < kEveryByte ? 1 : stride) {
        if (c.text && n > lastNumber)
            continue;
        VxImage image;
        image.SetFrame(c.frame);
        // The stream ends after n bytes of the file, read in place: a memory
        // stream never hands out a byte past its size.
        VxMemFile cut(const_cast<std::uint8_t*>(full.data()), static_cast<std::int32_t>(n));
        if (!image.Decode(&cut, c.formatId)) {
            EXPECT_FALSE(image.IsValid()) << n;
            EXPECT_STRNE(image.GetLastError(), "") << n;
        } else if (image.IsDamaged()) {
            EXPECT_TRUE(image.IsValid()) << n;
            EXPECT_STREQ(image.GetLastError(), VXIMAGE_DAMAGED_TEXT) << n;
        } else {
            EXPECT_TRUE(SameImage(image, whole, true)) << "cut after " << n << " of " << full.size()
                                                 << " bytes, and not called damaged";
        }
    }
}

TEST_P(CodecFixture, APictureTheMemoryCannotHoldIsRefusedInOneWay)
{
    // Every format says the same when the machine cannot give a picture
    // its pixels, or its alpha plane once the pixels were given: the decode
    // fails, with the picture's size, and leaves no picture.
    const FixtureCase& c = GetParam();
    const auto bytes = ReadFile(FixturePath(c.file));
    VxImage whole;
    whole.SetFrame(c.frame);
    ASSERT_TRUE(DecodeBytes(whole, bytes, c.formatId)) << whole.GetLastError();
    const std::string message = "Picture of " + std::to_string(whole.GetWidth()) + " x " +
                                std::to_string(whole.GetHeight()) + " pixels is too big for the memory of this computer";
    std::vector<std::uint64_t> limits = {whole.GetDibSize() - 1};
    if (whole.HasAlpha())
        limits.push_back(whole.GetDibSize() + std::uint64_t{whole.GetWidth()} * whole.GetHeight() - 1);
    for (const std::uint64_t limit : limits) {
        ScopedPictureMemoryLimit scoped(limit);
        VxImage image;
        image.SetFrame(c.frame);
        EXPECT_FALSE(DecodeBytes(image, bytes, c.formatId)) << limit;
        EXPECT_EQ(image.GetLastError(), message) << limit;
        EXPECT_FALSE(image.IsValid()) << limit;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CodecFixture, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             if (info.param.frame != 0)
                                 name += "_frame" + std::to_string(info.param.frame);
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(CodecDetection, FindsEveryFixtureWithoutAnId)
{
    for (const FixtureCase& c : kFixtures) {
        // WBMP has no signature: detection reaches it only after every other
        // format refused, which the fixtures' first bytes may not give.
        if (c.formatId == VXFMT_WBMP)
            continue;
        VxImage image;
        image.SetFrame(c.frame);
        ASSERT_TRUE(image.Load(FixturePath(c.file).c_str(), VXFMT_UNKNOWN)) << c.file;
        // The JPEG 2000 family decoder gives its image the id it was called
        // with, which is 0 during detection.
        const std::uint32_t detected = c.formatId >= VXFMT_JP2 ? VXFMT_UNKNOWN : c.formatId;
        EXPECT_EQ(image.GetType(), detected) << c.file;
        const Picture ref = ReadPnm(FixturePath(c.reference));
        EXPECT_TRUE(c.formatId == VXFMT_WMF ? RenderedLike(image, ref) : SamePixels(image, ref, c.tolerance)) << c.file;
    }
}

TEST(CodecCutShort, StoredRowsShowWhatTheFileHoldsOrAreRefused)
{
    // Formats whose rows are stored as they are: a file cut short (two of
    // its seven rows gone, and an icon's mask) shows the rows it holds as
    // the whole file does, the others black, and says it is damaged; a
    // file holding less than half of its rows (two of seven) is a header
    // that claims what the file cannot hold, refused before anything is
    // allocated.
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint32_t formatId;
        std::uint32_t rowAlign;  // rows padded to this many bytes
        std::size_t trailer;     // bytes after the rows (an icon's mask)
    };
    const std::size_t iconMask = 4 * 7;
    // A cursor is an icon directory of type 2 whose entries keep the hot
    // spot where an icon keeps its planes and bit count.
    std::vector<std::uint8_t> cursor = ReadFile(FixturePath("ico4.ico"));
    cursor[2] = 2;
    cursor[6 + 4] = 3;
    cursor[6 + 6] = 2;
    const Case cases[] = {
        {"bmp24.bmp", ReadFile(FixturePath("bmp24.bmp")), VXFMT_BMP, 4, 0},
        {"bmp8.bmp", ReadFile(FixturePath("bmp8.bmp")), VXFMT_BMP, 4, 0},
        {"bmp4.bmp", ReadFile(FixturePath("bmp4.bmp")), VXFMT_BMP, 4, 0},
        {"ico4.ico", ReadFile(FixturePath("ico4.ico")), VXFMT_ICO, 4, iconMask},
        {"cursor of ico4.ico", cursor, VXFMT_ICO, 4, iconMask},
        {"wbmp.wbmp", ReadFile(FixturePath("wbmp.wbmp")), VXFMT_WBMP, 1, 0},
        {"tga24.tga", ReadFile(FixturePath("tga24.tga")), VXFMT_TGA, 1, 0},
        {"tga8_cmap.tga", ReadFile(FixturePath("tga8_cmap.tga")), VXFMT_TGA, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VxImage whole;
        ASSERT_TRUE(DecodeBytes(whole, c.bytes, c.formatId)) << whole.GetLastError();
        ASSERT_FALSE(whole.IsDamaged());
        ASSERT_EQ(whole.GetHeight(), 7u);
        const std::size_t fileRow = (whole.GetWidth() * whole.GetBpp() + 8 * c.rowAlign - 1) / (8 * c.rowAlign) * c.rowAlign;
        const std::size_t rowsEnd = c.bytes.size() - c.trailer;

        std::vector<std::uint8_t> cut(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(rowsEnd - 2 * fileRow));
        VxImage shown;
        ASSERT_TRUE(DecodeBytes(shown, cut, c.formatId)) << shown.GetLastError();
        EXPECT_TRUE(shown.IsDamaged());
        EXPECT_STREQ(shown.GetLastError(), VXIMAGE_DAMAGED_TEXT);
        ASSERT_EQ(shown.GetWidth(), whole.GetWidth());
        ASSERT_EQ(shown.GetHeight(), whole.GetHeight());
        ASSERT_EQ(shown.GetBpp(), whole.GetBpp());
        int read = 0, missing = 0;
        const std::size_t used = (whole.GetWidth() * whole.GetBpp() + 7) / 8;
        for (std::uint32_t y = 0; y < whole.GetHeight(); ++y) {
            const std::uint8_t* a = shown.GetRowBits(y);
            const std::uint8_t* b = whole.GetRowBits(y);
            const bool same = std::equal(a, a + used, b);
            const bool black = std::all_of(a, a + used, [](std::uint8_t v) { return v == 0; });
            EXPECT_TRUE(same || black) << "row " << y << " is neither the file's nor black";
            read += same && !black;
            missing += !same;
        }
        EXPECT_EQ(missing, 2);
        EXPECT_EQ(read, 5);

        cut.resize(rowsEnd - 5 * fileRow);
        VxImage refused;
        EXPECT_FALSE(DecodeBytes(refused, cut, c.formatId));
        EXPECT_FALSE(refused.IsValid());
        EXPECT_EQ(std::string(refused.GetLastError()), "The file is too short for a picture of " +
                                                           std::to_string(whole.GetWidth()) + " x 7 pixels");
    }
}

TEST(CodecDetection, IconFramesSelectTheDirectoryEntry)
{
    VxImage image;
    image.SetFrame(2);
    ASSERT_TRUE(image.Load(FixturePath("ico3.ico").c_str(), VXFMT_ICO)) << image.GetLastError();
    EXPECT_EQ(image.GetFrameCount(), 3);
    EXPECT_EQ(image.GetWidth(), 13u);
    EXPECT_TRUE(SamePixels(image, ReadPnm(FixturePath("ico3_frame2.ref.pnm"))));

    VxImage missing;
    missing.SetFrame(3);
    VxMemFile f;
    auto bytes = ReadFile(FixturePath("ico3.ico"));
    VxMemFile mf(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_FALSE(missing.Decode(&mf, VXFMT_ICO));
    EXPECT_EQ(missing.GetFrameCount(), 3);
    EXPECT_FALSE(missing.IsValid());
}

}  // namespace
