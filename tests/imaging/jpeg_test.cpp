// The JPEG codec and its EXIF reader: resolution, decode options, the EXIF
// record of exiftool's files, the encoder's options and kept EXIF block,
// and one hostile block or file per fault, built here and named after it.
#include "fuzz/exif_fuzz_one.h"
#include "peer.h"
#include "test_util.h"

#include "imaging/vxjpeg.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>

using namespace imgtest;

namespace {

class ProbeJpg : public VxImageJPG {
public:
    VxImageAttributes& Info() { return m_info; }
};

bool DecodeJpg(VxImageJPG& image, std::vector<std::uint8_t> bytes)
{
    VxMemFile f(bytes.empty() ? nullptr : bytes.data(), static_cast<std::int32_t>(bytes.size()));
    if (bytes.empty())
        f.Open();
    return image.Decode(&f);
}

std::vector<std::uint8_t> EncodeJpg(VxImageJPG& image, bool* ok)
{
    VxMemFile f;
    f.Open();
    *ok = image.Encode(&f);
    const std::int32_t size = f.Size();
    const std::uint8_t* b = f.GetBuffer(false);
    return std::vector<std::uint8_t>(b, b + (size > 0 ? size : 0));
}

// Index of the first marker `code` (0xFF, code) in a file, or npos.
std::size_t FindMarker(const std::vector<std::uint8_t>& b, std::uint8_t code, std::size_t from = 0)
{
    for (std::size_t i = from; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == code)
            return i;
    return std::string::npos;
}

// An EXIF block (the contents of an APP1 segment after its length) built
// field by field, little-endian; offsets count from the byte-order mark.
struct ExifBlock {
    std::vector<std::uint8_t> b{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    ExifBlock& u16(unsigned v)
    {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    ExifBlock& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    ExifBlock& entry(unsigned tag, unsigned format, std::uint32_t count, std::uint32_t value)
    {
        return u16(tag).u16(format).u32(count).u32(value);
    }
    ExifBlock& raw(std::initializer_list<std::uint8_t> bytes)
    {
        b.insert(b.end(), bytes);
        return *this;
    }
    // The offset the next byte will have.
    std::uint32_t here() const { return static_cast<std::uint32_t>(b.size() - 6); }
};

struct ParsedBlock {
    bool ok;
    ExifInfoRecord record;
    std::string error;
};

ParsedBlock Parse(const ExifBlock& block)
{
    ExifInfoRecord record{};
    VxExifInfo reader(&record);
    const bool ok = reader.ParseExifBlock(block.b.data(), static_cast<std::uint32_t>(block.b.size()));
    return ParsedBlock{ok, record, reader.GetLastError()};
}

// ---- decoding ----

TEST(JpegDecode, ResolutionFromJfifDensity)
{
    // JFIF segment: FF E0, length, "JFIF\0", version, unit at 13, densities.
    struct Case { std::uint8_t unit; unsigned x, y; int dpiX, dpiY; };
    for (const Case c : {Case{1, 300, 150, 300, 150}, Case{2, 118, 118, 300, 300}, Case{0, 2, 1, 2, 1}}) {
        auto bytes = ReadFile(FixturePath("jpg_rgb.jpg"));
        ASSERT_EQ(std::string(bytes.begin() + 6, bytes.begin() + 10), "JFIF");
        bytes[13] = c.unit;
        bytes[14] = static_cast<std::uint8_t>(c.x >> 8);
        bytes[15] = static_cast<std::uint8_t>(c.x);
        bytes[16] = static_cast<std::uint8_t>(c.y >> 8);
        bytes[17] = static_cast<std::uint8_t>(c.y);
        VxImage image;
        ASSERT_TRUE(DecodeBytes(image, bytes, VXFMT_JPG));
        EXPECT_EQ(image.GetXDPI(), c.dpiX) << int(c.unit);
        EXPECT_EQ(image.GetYDPI(), c.dpiY) << int(c.unit);
    }
}

TEST(JpegDecode, ExifResolutionWinsOverJfif)
{
    auto bytes = ReadFile(FixturePath("jpg_exif_ii.jpg"));
    const std::size_t jfif = FindMarker(bytes, 0xE0);
    ASSERT_NE(jfif, std::string::npos);
    bytes[jfif + 11] = 1;  // 300 dots per inch in the JFIF header
    bytes[jfif + 12] = 1;
    bytes[jfif + 13] = 44;
    bytes[jfif + 14] = 1;
    bytes[jfif + 15] = 44;
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, bytes, VXFMT_JPG));
    EXPECT_EQ(image.GetXDPI(), 72);
    EXPECT_EQ(image.GetYDPI(), 72);
}

TEST(JpegDecode, CutShortInTheScanStillGivesThePicture)
{
    const auto full = ReadFile(FixturePath("jpg_rgb.jpg"));
    const std::size_t scan = FindMarker(full, 0xDA);
    ASSERT_NE(scan, std::string::npos);
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, std::vector<std::uint8_t>(full.begin(), full.begin() + (scan + full.size()) / 2),
                            VXFMT_JPG))
        << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 37u);
    EXPECT_EQ(image.GetHeight(), 21u);

    VxImage empty;
    EXPECT_FALSE(DecodeBytes(empty, {}, VXFMT_JPG));
    EXPECT_STREQ(empty.GetLastError(), "Empty input file");
}

TEST(JpegDecode, jpeg_header_larger_than_the_file)
{
    // A frame header asking for 60000 x 60000 pixels in a 2 KB file is
    // refused before libjpeg or the image allocates anything that size.
    auto bytes = ReadFile(FixturePath("jpg_rgb.jpg"));
    const std::size_t frame = FindMarker(bytes, 0xC0);
    ASSERT_NE(frame, std::string::npos);
    for (const std::size_t at : {frame + 5, frame + 7}) {
        bytes[at] = 60000 >> 8;
        bytes[at + 1] = 60000 & 0xFF;
    }
    VxImage image;
    EXPECT_FALSE(DecodeBytes(image, bytes, VXFMT_JPG));
    EXPECT_STREQ(image.GetLastError(), "The file is too short for a picture of 60000 x 60000 pixels");
}

TEST(JpegDecode, jpeg_too_many_scans)
{
    // Each scan of a progressive file costs a pass over the coefficients,
    // so thousands of scans of a few bytes keep a decoder busy for minutes.
    // 100 scans pass, more are refused: the progressive fixture with its
    // last scan repeated (a repeated refinement scan is legal enough for
    // libjpeg, which only warns).
    const auto file = ReadFile(FixturePath("jpg_progressive.jpg"));
    std::vector<std::size_t> scans;
    for (std::size_t at = FindMarker(file, 0xDA); at != std::string::npos; at = FindMarker(file, 0xDA, at + 2))
        scans.push_back(at);
    ASSERT_GE(scans.size(), 3u);
    const std::size_t end = FindMarker(file, 0xD9);
    ASSERT_NE(end, std::string::npos);
    const std::vector<std::uint8_t> last(file.begin() + static_cast<std::ptrdiff_t>(scans.back()),
                                         file.begin() + static_cast<std::ptrdiff_t>(end));
    auto withScans = [&](std::size_t count) {
        std::vector<std::uint8_t> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end));
        for (std::size_t n = scans.size(); n < count; ++n)
            out.insert(out.end(), last.begin(), last.end());
        out.insert(out.end(), {0xFF, 0xD9});
        return out;
    };
    VxImage fine;
    EXPECT_TRUE(DecodeBytes(fine, withScans(100), VXFMT_JPG)) << fine.GetLastError();
    VxImage refused;
    EXPECT_FALSE(DecodeBytes(refused, withScans(101), VXFMT_JPG));
    EXPECT_STREQ(refused.GetLastError(), "JPEG file has too many scans");
}

TEST(JpegDecode, QuantisedToTheQualityByteAsDjpegDoes)
{
    ProbeJpg image;
    image.SetFormatOption(VXJPG_QUANTIZE, VXFMT_JPG);
    image.Info().jpegQuality = 16;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_rgb.jpg")))) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), 8u);
    for (std::uint32_t y = 0; y < image.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < image.GetWidth(); ++x)
            ASSERT_LT(image.GetPixelIndex(static_cast<int>(x), static_cast<int>(y)), 16);
    EXPECT_TRUE(SamePixels(image, ReadPnm(FixturePath("jpg_rgb.q16.ref.pnm"))));
}

TEST(JpegDecode, jpeg_grey_output_swapped_as_colour)
{
    // Grey output of a colour file has rows of one byte a pixel: nothing
    // swaps three-byte groups over them any more.
    ProbeJpg image;
    image.SetFormatOption(VXJPG_DECODE_GREY, VXFMT_JPG);
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_rgb.jpg"))));
    EXPECT_EQ(image.GetBpp(), 8u);
    EXPECT_TRUE(image.HasGreyRampPalette());
    EXPECT_TRUE(SamePixels(image, ReadPnm(FixturePath("jpg_rgb.grey.ref.pnm"))));
}

TEST(JpegDecode, DimensionsOnly)
{
    ProbeJpg image;
    image.Info().stopRequest = -1;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_progressive.jpg"))));
    EXPECT_EQ(image.GetWidth(), 37u);
    EXPECT_EQ(image.GetHeight(), 21u);
    EXPECT_FALSE(image.IsValid());
}

// ---- the EXIF record ----

TEST(JpegExif, ReadsTheCameraRecordOfALittleEndianBlock)
{
    VxImageJPG image;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_exif_ii.jpg"))));
    const ExifInfoRecord& r = image.GetExifInfo();
    EXPECT_TRUE(r.isExif);
    EXPECT_STREQ(r.cameraMake, "Vistrel");
    EXPECT_STREQ(r.cameraModel, "Test Camera");
    EXPECT_STREQ(r.dateTime, "2024:01:02 03:04:05");
    EXPECT_STREQ(r.version, "0232");
    EXPECT_EQ(r.orientation, 6);
    EXPECT_EQ(r.isoEquivalent, 200);
    EXPECT_EQ(r.flashUsed, 1);
    EXPECT_FLOAT_EQ(r.exposureTime, 1.0f / 125);
    EXPECT_FLOAT_EQ(r.apertureFNumber, 5.6f);
    EXPECT_FLOAT_EQ(r.focalLength, 35.0f);
    EXPECT_FLOAT_EQ(r.xResolution, 72.0f);
    EXPECT_FLOAT_EQ(r.resolutionUnit, 1.0f);
    EXPECT_EQ(r.width, 37);
    EXPECT_EQ(r.height, 21);
    EXPECT_EQ(r.isColor, 1);
    EXPECT_EQ(r.process, 0xC0);
    // The comment segment comes after the EXIF block and replaces its user
    // comment.
    EXPECT_STREQ(r.comments, "a comment");
}

TEST(JpegExif, BigEndianBlockWithAThumbnail)
{
    VxImageJPG image;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_exif_mm.jpg"))));
    const ExifInfoRecord& r = image.GetExifInfo();
    EXPECT_TRUE(r.isExif);
    EXPECT_STREQ(r.cameraMake, "Vistrel");
    EXPECT_EQ(image.GetXDPI(), 300);
    ASSERT_NE(r.thumbnailPointer, nullptr);
    ASSERT_GT(r.thumbnailSize, 4u);
    // The thumbnail is a JPEG file of its own: 8 x 5.
    const std::vector<std::uint8_t> thumb(r.thumbnailPointer, r.thumbnailPointer + r.thumbnailSize);
    VxImage small;
    ASSERT_TRUE(DecodeBytes(small, thumb, VXFMT_JPG));
    EXPECT_EQ(small.GetWidth(), 8u);
    EXPECT_EQ(small.GetHeight(), 5u);
}

TEST(JpegExif, IsoOfTwoAndAnUndefinedOrientation)
{
    VxImageJPG image;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_exif_iso2.jpg"))));
    EXPECT_EQ(image.GetExifInfo().isoEquivalent, 400);
    EXPECT_EQ(image.GetExifInfo().orientation, 0);
    ASSERT_NE(image.GetExifReader(), nullptr);
    EXPECT_STREQ(image.GetExifReader()->GetLastError(), "Undefined rotation value");
}

TEST(JpegExif, BlockHeaderChecks)
{
    struct Case { std::vector<std::uint8_t> block; const char* error; };
    const std::vector<std::uint8_t> good = ExifBlock().u16(0).u32(0).b;
    auto with = [&](std::size_t at, std::uint8_t v) {
        auto b = good;
        b[at] = v;
        return b;
    };
    for (const Case& c : {Case{with(4, 1), "Incorrect Exif header"}, Case{with(6, 'X'), "Invalid Exif alignment marker."},
                          Case{with(8, 43), "Invalid Exif start (1)"},
                          Case{std::vector<std::uint8_t>(good.begin(), good.begin() + 12), "Invalid Exif start (1)"}}) {
        VxExifInfo reader;
        EXPECT_FALSE(reader.ParseExifBlock(c.block.data(), static_cast<std::uint32_t>(c.block.size())));
        EXPECT_STREQ(reader.GetLastError(), c.error);
    }
    VxExifInfo reader;
    EXPECT_TRUE(reader.ParseExifBlock(good.data(), static_cast<std::uint32_t>(good.size())));
}

// ---- hostile EXIF blocks ----

TEST(JpegExifHostile, exif_offset_sum_wraps)
{
    // Value offsets and byte counts whose 32-bit sum wraps to a small number.
    for (const auto& [format, count] : {std::pair{2u, 0xFFFFFFF0u}, std::pair{5u, 0x20000001u}}) {
        ExifBlock block;
        block.u16(1).entry(0x010F, format, count, 0x20).u32(0);
        block.b.resize(block.b.size() + 64, 'A');
        const ParsedBlock p = Parse(block);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, "Illegal pointer offset value in EXIF.");
    }
}

TEST(JpegExifHostile, exif_directory_link_outside)
{
    // One entry and no room for the link to the next directory.
    ExifBlock block;
    block.u16(1).entry(0x8827, 3, 1, 100);
    const ParsedBlock p = Parse(block);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "Illegally sized directory");
}

TEST(JpegExifHostile, exif_value_shorter_than_its_format)
{
    // A rational and a short with no components are not read: their value
    // field holds no value of their format.
    ExifBlock block;
    block.u16(2).entry(0x011A, 5, 0, 0x12345678).entry(0x8827, 3, 0, 0x0000FFFF).u32(0);
    const ParsedBlock p = Parse(block);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.record.xResolution, 0.0f);
    EXPECT_EQ(p.record.isoEquivalent, 0);
}

TEST(JpegExifHostile, exif_string_past_its_byte_count)
{
    // Strings without their NUL end at their byte count.
    ExifBlock block;
    block.u16(2).entry(0x010F, 2, 3, 0x44434241);
    const std::uint32_t text = block.here() + 12 + 4;
    block.entry(0x0110, 2, 6, text).u32(0).raw({'M', 'o', 'd', 'e', 'l', 'X', 'Y', 'Z', 0});
    const ParsedBlock p = Parse(block);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_STREQ(p.record.cameraMake, "ABC");
    EXPECT_STREQ(p.record.cameraModel, "ModelX");
}

TEST(JpegExifHostile, exif_directory_loop)
{
    // The first directory links to itself as its next one and as its EXIF
    // sub-directory: each directory is parsed once and the parse ends.
    ExifBlock block;
    block.u16(2).entry(0x8827, 3, 1, 100).entry(0x8769, 4, 1, 8).u32(8);
    const ParsedBlock p = Parse(block);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.record.isoEquivalent, 100);
}

TEST(JpegExifHostile, exif_nesting_without_end)
{
    // 200 directories, each the EXIF sub-directory of the one before.
    ExifBlock block;
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t next = block.here() + 2 + 24 + 4;
        block.u16(2).entry(0x9207, 3, 1, static_cast<std::uint32_t>(i)).entry(0x8769, 4, 1, next).u32(0);
    }
    block.u16(0).u32(0);
    const ParsedBlock p = Parse(block);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_LT(p.record.meteringMode, 200);
}

TEST(JpegExifHostile, exif_reals_beyond_integers)
{
    // Doubles far outside the integer range, and NaN, become bounded
    // integers and floats.
    auto dbl = [](double v) {
        std::uint8_t b[8];
        std::memcpy(b, &v, 8);
        return std::vector<std::uint8_t>(b, b + 8);
    };
    ExifBlock block;
    const std::uint32_t values = block.here() + 2 + 5 * 12 + 4;
    block.u16(5)
        .entry(0x8827, 12, 1, values)
        .entry(0x9208, 12, 1, values + 8)
        .entry(0x0112, 12, 1, values + 16)
        .entry(0x920A, 12, 1, values)
        .entry(0x9201, 12, 1, values + 8)
        .u32(0);
    for (double v : {1e300, -1e300, std::nan("")}) {
        const auto b = dbl(v);
        block.b.insert(block.b.end(), b.begin(), b.end());
    }
    const ParsedBlock p = Parse(block);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.record.isoEquivalent, INT_MAX);
    EXPECT_EQ(p.record.lightSource, INT_MIN);
    EXPECT_EQ(p.record.orientation, 0);
    EXPECT_TRUE(std::isfinite(p.record.focalLength));
}

TEST(JpegExifHostile, jpeg_frame_header_short)
{
    // A frame header segment of 5 bytes at the end of the sections: the
    // reader takes no size from it.
    const std::vector<std::uint8_t> file = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x05, 0x08, 0x00, 0x10,
                                            0xFF, 0xDA, 0x00, 0x02};
    VxExifInfo reader;
    VxMemFile f(const_cast<std::uint8_t*>(file.data()), static_cast<std::int32_t>(file.size()));
    EXPECT_TRUE(reader.ReadSections(&f, VxExifInfo::kReadExif));
    EXPECT_EQ(reader.Record().width, 0);
    EXPECT_EQ(reader.Record().height, 0);
    EXPECT_EQ(reader.SectionCount(), 2);
}

TEST(JpegExifHostile, SectionReaderLimits)
{
    // 21 sections before the scan, a length below 2 and a file cut short.
    std::vector<std::uint8_t> many = {0xFF, 0xD8};
    for (int i = 0; i < 21; ++i)
        many.insert(many.end(), {0xFF, 0xE5, 0x00, 0x02});
    struct Case { std::vector<std::uint8_t> file; const char* error; };
    for (const Case& c : {Case{many, "Too many sections in jpg file"},
                          Case{{0xFF, 0xD8, 0xFF, 0xE5, 0x00, 0x01}, "invalid marker"},
                          Case{{0xFF, 0xD8, 0xFF, 0xE5, 0x00, 0x10, 1, 2}, "Premature end of file?"}}) {
        VxExifInfo reader;
        VxMemFile f(const_cast<std::uint8_t*>(c.file.data()), static_cast<std::int32_t>(c.file.size()));
        EXPECT_FALSE(reader.ReadSections(&f, VxExifInfo::kReadExif));
        EXPECT_STREQ(reader.GetLastError(), c.error);
    }
}

// ---- encoding ----

TEST(JpegEncode, PaletteImagesMustBeGrey)
{
    VxImage colours(4, 4, 4, VXFMT_BMP);
    colours.SetPaletteColor(3, 200, 10, 10);
    bool ok = true;
    EncodeBytes(colours, VXFMT_JPG, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(colours.GetLastError(), "JPEG can save only RGB or GreyScale images");
}

TEST(JpegEncode, jpeg_grey_ramp_below_eight_bits)
{
    // A 4-bit image with the identity grey ramp is written one byte a pixel.
    VxImage grey(40, 3, 4, VXFMT_BMP);
    for (std::uint8_t i = 0; i < 16; ++i)
        grey.SetPaletteColor(i, i, i, i);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 40; ++x)
            grey.SetPixelIndex(x, y, static_cast<std::uint8_t>(x % 16));
    ASSERT_TRUE(grey.HasGreyRampPalette());
    grey.SetFormatOption(0, VXFMT_JPG);
    bool ok = false;
    const auto bytes = EncodeBytes(grey, VXFMT_JPG, &ok);
    ASSERT_TRUE(ok) << grey.GetLastError();
    VxImage back;
    ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_JPG));
    EXPECT_EQ(back.GetBpp(), 8u);
    for (int x = 0; x < 40; ++x)
        EXPECT_NEAR(back.GetPixelIndex(x, 1), x % 16, 3) << x;
}

TEST(JpegEncode, OptionsChooseTheCoding)
{
    struct Case { std::uint32_t options; std::uint8_t frameMarker; int components; };
    for (const Case c : {Case{0, 0xC0, 3}, Case{VXJPG_ARITHMETIC, 0xC9, 3}, Case{VXJPG_PROGRESSIVE, 0xC2, 3},
                         Case{VXJPG_OPTIMIZE, 0xC0, 3}, Case{VXJPG_GREY, 0xC0, 1},
                         Case{VXJPG_BASELINE | VXJPG_SMOOTHING, 0xC0, 3}}) {
        VxImage image(19, 9, 24, VXFMT_BMP);
        Paint24(image);
        image.SetFormatOption(c.options, VXFMT_JPG);
        bool ok = false;
        const auto bytes = EncodeBytes(image, VXFMT_JPG, &ok);
        ASSERT_TRUE(ok) << image.GetLastError();
        const std::size_t frame = FindMarker(bytes, c.frameMarker);
        ASSERT_NE(frame, std::string::npos) << c.options;
        EXPECT_EQ(bytes.at(frame + 9), c.components) << c.options;
        VxImage back;
        ASSERT_TRUE(DecodeBytes(back, bytes, VXFMT_JPG)) << c.options;
        EXPECT_EQ(back.GetWidth(), 19u);
    }
}

TEST(JpegEncode, DjpegReadsTheFilesAsWeDo)
{
    if (!HaveTool("djpeg"))
        GTEST_SKIP() << "djpeg is not installed";
    for (const char* file : {"jpg_rgb.jpg", "jpg_grey.jpg"}) {
        VxImage image;
        ASSERT_TRUE(image.Load(FixturePath(file).c_str(), VXFMT_JPG));
        bool ok = false;
        const auto bytes = EncodeBytes(image, VXFMT_JPG, &ok);
        ASSERT_TRUE(ok);
        VxImage ours;
        ASSERT_TRUE(DecodeBytes(ours, bytes, VXFMT_JPG));
        Picture peer;
        ASSERT_TRUE(PeerDecode("djpeg", "-pnm", bytes, peer)) << file;
        EXPECT_TRUE(SamePixels(ours, peer)) << file;
    }
}

TEST(JpegEncode, KeepsTheExifBlockOfItsDecode)
{
    VxImageJPG image;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_exif_ii.jpg"))));
    bool ok = false;
    const auto bytes = EncodeJpg(image, &ok);
    ASSERT_TRUE(ok) << image.GetLastError();
    // The EXIF block follows the start marker; no JFIF segment is added.
    ASSERT_GT(bytes.size(), 10u);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(bytes[3], 0xE1);
    EXPECT_EQ(std::string(bytes.begin() + 6, bytes.begin() + 10), "Exif");
    VxImageJPG again;
    ASSERT_TRUE(DecodeJpg(again, bytes));
    EXPECT_TRUE(again.GetExifInfo().isExif);
    EXPECT_STREQ(again.GetExifInfo().cameraMake, "Vistrel");
    EXPECT_STREQ(again.GetExifInfo().comments, "a comment");
    EXPECT_EQ(again.GetWidth(), 37u);
}

// A stream whose writes fail once `limit` bytes have been written.
class FullDisk : public VxMemFile {
public:
    explicit FullDisk(std::size_t limit) : m_limit(limit) { Open(); }
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override
    {
        if (static_cast<std::size_t>(Size()) + size * count > m_limit)
            return 0;
        return VxMemFile::Write(buffer, size, count);
    }
    bool PutC(std::uint8_t byte) override { return Write(&byte, 1, 1) == 1; }

private:
    std::size_t m_limit;
};

TEST(JpegEncode, jpeg_exif_rewrite_fails_after_the_picture)
{
    // The picture fits, the file with its EXIF block does not: the encode
    // fails instead of leaving a broken file behind a true.
    VxImageJPG image;
    ASSERT_TRUE(DecodeJpg(image, ReadFile(FixturePath("jpg_exif_ii.jpg"))));
    VxMemFile plain;
    plain.Open();
    VxImageJPG bare;
    bare.BorrowPixels(&image);
    ASSERT_TRUE(bare.Encode(&plain));
    FullDisk disk(static_cast<std::size_t>(plain.Size()) + 16);
    EXPECT_FALSE(image.Encode(&disk));
    EXPECT_STREQ(image.GetLastError(), "Output file write error --- out of disk space?");
}

// ---- the EXIF fuzz corpus, replayed ----

TEST(ExifFuzzCorpus, ReplaysWithoutFindings)
{
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::string(VISTREL_TEST_DATA) + "/../../fuzz/corpus/exif")) {
        const auto bytes = ReadFile(e.path().string());
        SCOPED_TRACE(e.path().string());
        VxFuzzExifOne(bytes.data(), bytes.size());
        ++n;
    }
    EXPECT_GE(n, 5u);
}

}  // namespace
