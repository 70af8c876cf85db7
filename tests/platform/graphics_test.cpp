// The class library's graphics: bitmaps as DIB sections read from every BMP
// depth and compression, icons, metafiles, JPEG, the picture's registry and
// the image control, against the pictures other readers make of the same
// files.
#include "fuzz/vcl_graphics_fuzz_one.h"
#include "test_support/fuzz_corpus.h"
#include "test_support/metafile_builder.h"
#include "test_support/pnm.h"
#include "test_support/temp_dir.h"

#include "gdi/metafile.h"
#include "gdi/wingdi.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/graphics.h"
#include "vcl/jpeg.h"
#include "vcl/metafile.h"
#include "rtl/streams.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string ImagingFixture(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/../imaging/fixtures/" + name;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The pixels of a bitmap as 0x00RRGGBB, top row first.
std::uint32_t PixelOf(const TBitmap& bitmap, int x, int y)
{
    return bitmap.Image().pixel(x, y) & 0xFFFFFFu;
}

// Every pixel of the bitmap equals the reference picture's.
::testing::AssertionResult SamePicture(const TBitmap& bitmap, const PnmPicture& ref, int tolerance = 0)
{
    if (bitmap.Width() != ref.width || bitmap.Height() != ref.height)
        return ::testing::AssertionFailure() << "size " << bitmap.Width() << "x" << bitmap.Height() << ", expected "
                                             << ref.width << "x" << ref.height;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const std::uint32_t a = PixelOf(bitmap, x, y), b = ref.At(x, y);
            for (int shift = 0; shift < 24; shift += 8)
                if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex << a
                                                         << ", expected " << b;
        }
    return ::testing::AssertionSuccess();
}

std::string Bytes(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) { mftest::Put16(v, x); }
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) { mftest::Put32(v, x); }

// A BMP file of an info header, a colour table and pixel bytes as given.
std::vector<std::uint8_t> BmpFile(int width, int height, int bits, std::uint32_t compression,
    const std::vector<std::uint32_t>& colours, const std::vector<std::uint8_t>& pixels)
{
    std::vector<std::uint8_t> v;
    const std::uint32_t offBits = 14 + 40 + static_cast<std::uint32_t>(colours.size()) * 4;
    Put16(v, 0x4D42);
    Put32(v, offBits + static_cast<std::uint32_t>(pixels.size()));
    Put32(v, 0);
    Put32(v, offBits);
    Put32(v, 40);
    Put32(v, static_cast<std::uint32_t>(width));
    Put32(v, static_cast<std::uint32_t>(height));
    Put16(v, 1);
    Put16(v, static_cast<std::uint32_t>(bits));
    Put32(v, compression);
    Put32(v, static_cast<std::uint32_t>(pixels.size()));
    Put32(v, 0);
    Put32(v, 0);
    Put32(v, static_cast<std::uint32_t>(colours.size()));
    Put32(v, 0);
    for (std::uint32_t c : colours)
        Put32(v, c);
    v.insert(v.end(), pixels.begin(), pixels.end());
    return v;
}

void LoadBytes(TGraphic& graphic, const std::string& bytes)
{
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    graphic.LoadFromStream(stream);
}

} // namespace

TEST(GraphicBitmap, ReadsEveryDepthAndCompressionAsTheReferenceReadersDo)
{
    struct Case {
        const char* file;
        TPixelFormat format;
    };
    const Case cases[] = {
        {"bmp1", pf1bit}, {"bmp4", pf4bit}, {"bmp8", pf8bit}, {"bmp24", pf24bit}, {"bmp8_core", pf8bit},
        {"bmp8_rle8", pf8bit}, {"bmp1_v5", pf1bit}, {"bmp4_v5", pf4bit}, {"bmp8_v5", pf8bit},
        {"bmp8_rle8_v5", pf8bit}, {"bmp24_v5", pf24bit}, {"bmp16_555_v5", pf15bit}, {"bmp16_565_v5", pf16bit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TBitmap bitmap;
        bitmap.LoadFromFile(ImagingFixture(std::string(c.file) + ".bmp"));
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_TRUE(SamePicture(bitmap, ReadPnmFile(ImagingFixture(std::string(c.file) + ".ref.pnm"))));
    }
}

TEST(GraphicBitmap, ExpandsRunLengthDataWithDeltasAndAbsoluteRuns)
{
    const std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    // RLE4, 5 x 2 (bottom row first): a run of 3 alternating 1 and 2, an
    // absolute run 3 0 1, end of line; then a delta of 2 and a run of 3 of
    // index 2; end of bitmap.
    const std::vector<std::uint8_t> rle4 = {3, 0x12, 0, 3, 0x30, 0x10, 0, 0, 0, 2, 2, 0, 3, 0x22, 0, 1};
    TBitmap four;
    LoadBytes(four, Bytes(BmpFile(5, 2, 4, BI_RLE4, palette, rle4)));
    EXPECT_EQ(four.PixelFormat(), pf4bit);
    // Colour table entries are RGBQUADs: as words, 0x00RRGGBB.
    const std::uint32_t bottom4[] = {0xFF0000, 0x00FF00, 0xFF0000, 0x0000FF, 0x000000};
    const std::uint32_t top4[] = {0x000000, 0x000000, 0x00FF00, 0x00FF00, 0x00FF00};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(PixelOf(four, x, 1), bottom4[x]) << x;
        EXPECT_EQ(PixelOf(four, x, 0), top4[x]) << x;
    }
    // RLE8, 4 x 2: the bottom row a run of 4 of index 1; the top row left
    // unreached (index 0) past the end of the data.
    const std::vector<std::uint8_t> rle8 = {4, 1, 0, 0};
    TBitmap eight;
    LoadBytes(eight, Bytes(BmpFile(4, 2, 8, BI_RLE8, palette, rle8)));
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(PixelOf(eight, x, 1), 0xFF0000u);
        EXPECT_EQ(PixelOf(eight, x, 0), 0u);
    }
}

TEST(GraphicBitmap, RefusesDamagedAndOversizedFilesAndKeepsWhatItHad)
{
    TBitmap bitmap(3, 2);
    const std::vector<std::uint8_t> good = BmpFile(1, 1, 24, BI_RGB, {}, {1, 2, 3, 0});
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"not a BMP", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"cut inside the header", std::vector<std::uint8_t>(good.begin(), good.begin() + 30)},
        {"60000 x 60000 at 24 bits", BmpFile(60000, 60000, 24, BI_RGB, {}, {0, 0, 0, 0})},
        {"unknown bit count", BmpFile(2, 2, 7, BI_RGB, {}, std::vector<std::uint8_t>(8))},
        {"run-length coding of 24 bits", BmpFile(2, 2, 24, BI_RLE8, {}, std::vector<std::uint8_t>(16))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(LoadBytes(bitmap, Bytes(c.bytes)), EInvalidGraphic);
        EXPECT_EQ(bitmap.Width(), 3);
        EXPECT_EQ(bitmap.Height(), 2);
    }
}

TEST(GraphicBitmap, AFileCutShortShowsItsRowsAndAClaimItCannotHoldIsRefused)
{
    // bmp24.bmp: 13 x 7 at 24 bits, rows of 40 bytes stored bottom row
    // first, the last byte of the file ending the top row.
    const std::string whole = ReadFileBytes(ImagingFixture("bmp24.bmp"));
    TBitmap full;
    LoadBytes(full, whole);
    ASSERT_FALSE(full.Damaged());
    ASSERT_EQ(full.Height(), 7);
    const std::size_t row = 40;
    // Two rows gone: the five it holds are shown as the whole file shows
    // them, the top two black, and the bitmap says it is damaged.
    TBitmap cut;
    LoadBytes(cut, whole.substr(0, whole.size() - 2 * row));
    EXPECT_TRUE(cut.Damaged());
    ASSERT_EQ(cut.Width(), full.Width());
    ASSERT_EQ(cut.Height(), full.Height());
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(PixelOf(cut, x, y), y < 2 ? 0u : PixelOf(full, x, y)) << x << "," << y;
    // Less than half of the rows, or a few bytes claiming gigabytes: the
    // file cannot hold what its header claims, and nothing is allocated
    // for it.
    struct Case {
        const char* what;
        std::string bytes;
        const char* error;
    };
    const Case cases[] = {
        {"two rows of seven", whole.substr(0, whole.size() - 5 * row),
         "The file is too short for a picture of 13 x 7 pixels"},
        {"65535 x 65535 at 8 bits in 200 bytes", Bytes(BmpFile(65535, 65535, 8, BI_RGB, {}, std::vector<std::uint8_t>(146))),
         "The file is too short for a picture of 65535 x 65535 pixels"},
        {"65535 x 65535 run-length coded in 200 bytes",
         Bytes(BmpFile(65535, 65535, 8, BI_RLE8, {}, std::vector<std::uint8_t>(146))),
         "The file is too short for a picture of 65535 x 65535 pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap(3, 2);
        try {
            LoadBytes(bitmap, c.bytes);
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
        EXPECT_EQ(bitmap.Width(), 3);
    }
}

TEST(GraphicBitmap, SavesFilesThatBmptopnmReadsBack)
{
    TempDir dir;
    for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
        SCOPED_TRACE(static_cast<int>(format));
        TBitmap source;
        source.LoadFromFile(ImagingFixture("bmp8.bmp"));
        source.SetPixelFormat(format);
        const std::string path = dir.Path("out.bmp");
        source.SaveToFile(path);
        EXPECT_TRUE(SamePicture(source, ReadPnmBytes(CommandOutput("bmptopnm '" + path + "' 2>/dev/null"))));
    }
}

TEST(GraphicBitmap, AFailedSaveLeavesTheFileItWouldReplace)
{
    TempDir dir;
    dir.Write("sub/keep.bmp", "old contents");
    TBitmap bitmap(40, 40);
    // Files may grow to 100 bytes only: the write of the new file fails
    // part-way, whoever runs the test.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(bitmap.SaveToFile(dir.Path("sub/keep.bmp")), EFCreateError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(dir.Read("sub/keep.bmp"), "old contents");
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"sub"});
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Path("sub"))->path().filename(), "keep.bmp");
}

TEST(GraphicJpeg, DecodesAsDjpegAndEncodesBaselineAtQuality90)
{
    TJPEGImage jpeg;
    jpeg.LoadFromFile(ImagingFixture("jpg_rgb.jpg"));
    EXPECT_TRUE(SamePicture(jpeg.Bitmap(), ReadPnmFile(ImagingFixture("jpg_rgb.ref.pnm"))));

    TempDir dir;
    TJPEGImage out;
    TBitmap source;
    source.LoadFromFile(ImagingFixture("bmp24.bmp"));
    out.Assign(source);
    out.SaveToFile(dir.Path("out.jpg"));
    const std::string file = dir.Read("out.jpg");
    // Baseline (SOF0, no SOF2), and the luminance table of quality 90: the
    // standard table's 16 scaled to 3.
    EXPECT_NE(file.find("\xFF\xC0"), std::string::npos);
    EXPECT_EQ(file.find("\xFF\xC2"), std::string::npos);
    const std::size_t dqt = file.find("\xFF\xDB");
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(file[dqt + 5]), 3);
    // djpeg reads the file, as the class reads it back.
    TJPEGImage back;
    back.LoadFromFile(dir.Path("out.jpg"));
    EXPECT_TRUE(SamePicture(back.Bitmap(), ReadPnmBytes(CommandOutput("djpeg -pnm '" + dir.Path("out.jpg") + "'"))));
    EXPECT_EQ(back.Width(), source.Width());

    EXPECT_THROW(LoadBytes(out, "\xFF\xD8\xFF\xE0 not really"), EInvalidGraphic);
}

TEST(GraphicJpeg, FourColourFilesShowAsImageMagickShowsThem)
{
    // ImageMagick's CMYK file (stored as YCCK, with Adobe's inverted
    // values): libjpeg gives it no blue, green and red rows, the graphic
    // converts it. ImageMagick rounds where the conversion truncates.
    TJPEGImage jpeg;
    jpeg.LoadFromFile(ImagingFixture("jpg_cmyk.jpg"));
    EXPECT_FALSE(jpeg.Damaged());
    EXPECT_TRUE(SamePicture(jpeg.Bitmap(), ReadPnmFile(ImagingFixture("jpg_cmyk.im.ref.pnm")), 1));
}

TEST(GraphicJpeg, AFileCutShortShowsWhatItHoldsAndSaysSo)
{
    const std::string whole = ReadFileBytes(ImagingFixture("jpg_rgb.jpg"));
    TJPEGImage full;
    LoadBytes(full, whole);
    EXPECT_FALSE(full.Damaged());
    TJPEGImage cut;
    LoadBytes(cut, whole.substr(0, whole.size() * 2 / 3));
    EXPECT_TRUE(cut.Damaged());
    EXPECT_EQ(cut.Width(), full.Width());
    EXPECT_EQ(PixelOf(cut.Bitmap(), 0, 0), PixelOf(full.Bitmap(), 0, 0)) << "the top rows were read";
}

TEST(GraphicJpeg, TooManyScansAreRefused)
{
    // A progressive file of thousands of scans of a few bytes each keeps
    // a decoder busy for minutes; past 100 scans it is refused. The file:
    // the progressive fixture with its scans repeated (every scan after the
    // first DC one is a refinement or AC scan, which may be repeated).
    const std::string file = ReadFileBytes(ImagingFixture("jpg_progressive.jpg"));
    std::vector<std::size_t> scans;
    for (std::size_t i = file.find("\xFF\xDA"); i != std::string::npos; i = file.find("\xFF\xDA", i + 2))
        scans.push_back(i);
    ASSERT_GE(scans.size(), 3u);
    const std::size_t end = file.rfind("\xFF\xD9");
    // The last scan (with its tables) repeated until there are 150.
    const std::string last = file.substr(scans.back(), end - scans.back());
    std::string many = file.substr(0, end);
    while (many.size() < file.size() + last.size() * (150 - scans.size()))
        many += last;
    many += "\xFF\xD9";
    TJPEGImage jpeg;
    try {
        LoadBytes(jpeg, many);
        ADD_FAILURE() << "150 scans were decoded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "JPEG error: JPEG file has too many scans");
    }
}

TEST(GraphicIcon, TakesTheEntryNearest32AndDrawsItThroughItsMask)
{
    struct Case {
        const char* file;
        const char* reference;
    };
    for (const Case& c : {Case {"ico4.ico", "ico4.ref.pnm"}, Case {"ico3.ico", "ico3_frame1.ref.pnm"}}) {
        SCOPED_TRACE(c.file);
        TIcon icon;
        icon.LoadFromFile(ImagingFixture(c.file));
        const PnmPicture ref = ReadPnmFile(ImagingFixture(c.reference));
        EXPECT_EQ(icon.Width(), ref.width);
        TBitmap drawn(icon.Width(), icon.Height());
        drawn.Canvas().Draw(0, 0, &icon);
        EXPECT_TRUE(SamePicture(drawn, ref));
    }
}

TEST(GraphicIcon, ItsMaskKeepsTheBackgroundWhereTheIconIsClear)
{
    // A 2 x 2 icon at 24 bits: colours red, green (top), blue, white
    // (bottom); the AND mask clears the top-left pixel.
    std::vector<std::uint8_t> v;
    Put16(v, 0);
    Put16(v, 1);
    Put16(v, 1);
    v.insert(v.end(), {2, 2, 0, 0});
    Put16(v, 1);
    Put16(v, 24);
    const std::uint32_t size = 40 + 2 * 8 + 2 * 4;
    Put32(v, size);
    Put32(v, 22);
    Put32(v, 40);
    Put32(v, 2);
    Put32(v, 4);
    Put16(v, 1);
    Put16(v, 24);
    for (int i = 0; i < 6; ++i)
        Put32(v, 0);
    // Colour rows, bottom first: blue, white; then red, green. The masked
    // pixel's colour is black, as icon writers store it.
    v.insert(v.end(), {255, 0, 0, 255, 255, 255, 0, 0});
    v.insert(v.end(), {0, 0, 0, 0, 255, 0, 0, 0});
    // Mask rows, bottom first: all shown; top row: the left pixel clear.
    v.insert(v.end(), {0x00, 0, 0, 0, 0x80, 0, 0, 0});
    TIcon icon;
    LoadBytes(icon, Bytes(v));
    TBitmap target(2, 2);
    target.Canvas().Brush().SetColor(clRed);
    target.Canvas().FillRect(Rect(0, 0, 2, 2));
    target.Canvas().Draw(0, 0, &icon);
    EXPECT_EQ(PixelOf(target, 0, 0), 0xFF0000u);  // the background shows
    EXPECT_EQ(PixelOf(target, 1, 0), 0x00FF00u);
    EXPECT_EQ(PixelOf(target, 0, 1), 0x0000FFu);
    EXPECT_EQ(PixelOf(target, 1, 1), 0xFFFFFFu);
}

TEST(GraphicMetafile, SizesComeFromTheHeaderAt96Dpi)
{
    // A placeable WMF of 1440 x 720 units at 1440 units an inch: one inch
    // by half an inch.
    mftest::Wmf wmf(0, 0, 1440, 720, 1440);
    wmf.Window(0, 0, 1440, 720).Brush(mftest::Rgb(0, 0, 255)).Select(0).NullPen().Select(1).Rectangle(0, 0, 1440, 720);
    TMetafile placeable;
    LoadBytes(placeable, Bytes(wmf.Build()));
    EXPECT_EQ(placeable.Width(), 96);
    EXPECT_EQ(placeable.Height(), 48);
    EXPECT_FALSE(placeable.Enhanced());
    TBitmap drawn(96, 48);
    drawn.Canvas().Draw(0, 0, &placeable);
    EXPECT_EQ(PixelOf(drawn, 48, 24), 0x0000FFu);

    TMetafile emf;
    emf.LoadFromFile(ImagingFixture("emf_fig2dev.emf"));
    ENHMETAHEADER header {};
    std::ifstream in(ImagingFixture("emf_fig2dev.emf"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::memcpy(&header, bytes.data(), sizeof header);
    EXPECT_TRUE(emf.Enhanced());
    EXPECT_EQ(emf.Width(), (header.rclFrame.right - header.rclFrame.left) * 96 / 2540);
    EXPECT_EQ(emf.Height(), (header.rclFrame.bottom - header.rclFrame.top) * 96 / 2540);

    // A bad checksum, and bytes that are no metafile, leave it as it was.
    EXPECT_THROW(LoadBytes(emf, Bytes(wmf.Build(1))), EInvalidGraphic);
    EXPECT_THROW(LoadBytes(emf, std::string(200, 'x')), EInvalidGraphic);
    EXPECT_TRUE(emf.Enhanced());
}

TEST(GraphicPicture, FindsItsClassByExtensionAndGivesUpOtherGraphicsForABitmap)
{
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TObject*) { ++changes; };
    picture.LoadFromFile(ImagingFixture("ico4.ico"));
    EXPECT_NE(dynamic_cast<TIcon*>(picture.Graphic()), nullptr);
    EXPECT_GT(changes, 0);
    try {
        picture.LoadFromFile("/nonexistent/anim.gif");
        FAIL() << "no class is registered for .gif";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Unknown picture file extension (.gif)");
    }
    EXPECT_NE(dynamic_cast<TIcon*>(picture.Graphic()), nullptr);

    // A class registered later is found by its extension, any case.
    struct Counted : TBitmap {};
    TPicture::RegisterFileFormat("GIF", "Test", [] { return std::unique_ptr<TGraphic>(std::make_unique<Counted>()); });
    EXPECT_THROW(picture.LoadFromFile("/nonexistent/x.gif"), EFOpenError);
    TPicture::UnregisterFileFormat("gif");
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(2));
    EXPECT_FALSE(TPicture::SupportsClipboardFormat(0xC123));

    TBitmap* bitmap = picture.Bitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_TRUE(bitmap->Empty());
    EXPECT_EQ(picture.Graphic(), bitmap);
}

TEST(GraphicImage, PlacesThePictureByItsLayoutSettings)
{
    if (!Application)
        new TApplication();
    TImage image(nullptr);
    image.SetBounds(0, 0, 400, 300);
    auto bitmap = std::make_unique<TBitmap>(1000, 500);
    image.Picture().SetGraphic(std::move(bitmap));
    struct Case {
        bool stretch, proportional, center;
        TRect expected;
    };
    const Case cases[] = {
        {false, false, false, Rect(0, 0, 1000, 500)},
        {false, true, true, Rect(0, 50, 400, 250)},   // shrunk with its proportions, centred
        {true, false, false, Rect(0, 0, 400, 300)},
        {true, true, false, Rect(0, 0, 400, 200)},
    };
    for (const Case& c : cases) {
        image.SetStretch(c.stretch);
        image.SetProportional(c.proportional);
        image.SetCenter(c.center);
        EXPECT_EQ(image.DestRect(), c.expected);
    }
    // A small picture is never enlarged by proportional alone.
    image.Picture().SetGraphic(std::make_unique<TBitmap>(100, 50));
    image.SetStretch(false);
    image.SetProportional(true);
    image.SetCenter(true);
    EXPECT_EQ(image.DestRect(), Rect(150, 125, 250, 175));
    // Auto-size follows the picture while the control is not aligned.
    image.SetAutoSize(true);
    image.Picture().SetGraphic(std::make_unique<TBitmap>(30, 20));
    EXPECT_EQ(image.Width(), 30);
    EXPECT_EQ(image.Height(), 20);
}

TEST(GraphicImage, PaintsThroughABackBufferAndFollowsItsBitmap)
{
    if (!Application)
        new TApplication();
    TImage image(nullptr);
    image.SetBounds(0, 0, 4, 4);
    TBitmap* bitmap = image.Picture().Bitmap();
    bitmap->SetSize(4, 4);
    bitmap->Canvas().Brush().SetColor(clBlue);
    bitmap->Canvas().FillRect(Rect(0, 0, 4, 4));
    TBitmap shown;
    image.PaintArea(shown, Rect(1, 1, 3, 3));
    EXPECT_EQ(shown.Width(), 2);
    EXPECT_EQ(PixelOf(shown, 0, 0), 0x0000FFu);
    bitmap->Canvas().SetPixel(2, 2, clLime);
    image.PaintArea(shown, Rect(1, 1, 3, 3));
    EXPECT_EQ(PixelOf(shown, 1, 1), 0x00FF00u);
}

TEST(GraphicCanvas, CopyRectStretchesBetweenDeviceContextsWithItsCopyMode)
{
    TBitmap source(2, 1);
    source.Canvas().SetPixel(0, 0, clRed);
    source.Canvas().SetPixel(1, 0, clBlue);
    TBitmap target(4, 2);
    target.Canvas().CopyRect(Rect(0, 0, 4, 2), source.Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(PixelOf(target, 1, 1), 0xFF0000u);
    EXPECT_EQ(PixelOf(target, 2, 0), 0x0000FFu);
    target.Canvas().CopyMode = SRCINVERT;
    target.Canvas().CopyRect(Rect(0, 0, 4, 2), source.Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(PixelOf(target, 3, 1), 0u);
}

TEST(GraphicFuzzCorpus, EveryInputLoadsOrIsRefused)
{
    if (!Application)
        new TApplication();
    EXPECT_GT(ReplayFuzzCorpus("vcl_graphics", [](const std::string& input) {
        VclGraphicsFuzzOne(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }), 0);
}
