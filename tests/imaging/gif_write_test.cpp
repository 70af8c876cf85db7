// The image classes' GIF writer: every code stream option and depth read
// back by our reader, giflib's and netpbm's, the layout of what it writes
// (code size, control extension, comment, the true-colour mosaic), and the
// files it refuses to write.
#include "peer.h"
#include "test_support/pnm.h"
#include "test_util.h"

#include "imaging/vxgif.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace imgtest;

namespace {

// An indexed image with a palette of distinct colours and pixels in runs
// and noise, so that every coder path runs.
std::unique_ptr<VxImage> Indexed(std::uint32_t w, std::uint32_t h, std::uint32_t bpp, unsigned seed = 1)
{
    auto image = std::make_unique<VxImage>(w, h, bpp, VXFMT_UNKNOWN);
    const std::uint32_t colors = 1u << bpp;
    for (std::uint32_t i = 0; i < colors; ++i)
        image->SetPaletteColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 37),
                               static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 11 + 3));
    std::mt19937 rng(seed);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t v = (y % 3 == 0) ? (x / 9) % colors : rng() % colors;
            image->SetPixelIndex(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::uint8_t>(v));
        }
    return image;
}

std::unique_ptr<VxImage> TrueColor(std::uint32_t w, std::uint32_t h)
{
    auto image = std::make_unique<VxImage>(w, h, 24, VXFMT_UNKNOWN);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            image->SetPixelColor(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                 RGBQUAD{static_cast<BYTE>(x * 6), static_cast<BYTE>(y * 12), static_cast<BYTE>(x ^ y), 0});
    return image;
}

std::vector<std::uint8_t> Save(VxImage& image, std::uint32_t option)
{
    image.SetFormatOption(option, VXFMT_GIF);
    VxMemFile file;
    file.Open();
    EXPECT_TRUE(image.Encode(&file, VXFMT_GIF)) << image.GetLastError();
    const std::int32_t size = file.Size();
    std::uint8_t* bytes = file.GetBuffer(false);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

// The picture an image shows, top row first.
Picture PictureOf(const VxImage& image)
{
    Picture p;
    p.width = static_cast<int>(image.GetWidth());
    p.height = static_cast<int>(image.GetHeight());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.pixels.push_back(image.GetPixelColor(x, p.height - 1 - y, false));
    return p;
}

::testing::AssertionResult ReadsBack(const std::vector<std::uint8_t>& file, const VxImage& original)
{
    VxMemFile in(const_cast<std::uint8_t*>(file.data()), static_cast<std::int32_t>(file.size()));
    VxImage back;
    if (!back.Decode(&in, VXFMT_GIF))
        return ::testing::AssertionFailure() << "our reader: " << back.GetLastError();
    return SamePixels(back, PictureOf(original));
}

struct Shape {
    std::uint32_t width, height, bpp;
};

TEST(GifWrite, EveryOptionAndDepthReadsBack)
{
    const Shape shapes[] = {{1, 1, 1}, {7, 2, 1}, {33, 3, 4}, {20, 4, 8}, {300, 200, 8}, {129, 65, 4}, {5000, 3, 8}};
    for (std::uint32_t option : {0u, 1u, 2u})
        for (const Shape& s : shapes) {
            auto image = Indexed(s.width, s.height, s.bpp, s.width);
            const auto file = Save(*image, option);
            EXPECT_TRUE(ReadsBack(file, *image)) << "option " << option << " " << s.width << "x" << s.height << "x"
                                                 << s.bpp;
            if (HaveTool("giftopnm")) {
                Picture peer;
                ASSERT_TRUE(PeerDecode("giftopnm", "", file, peer)) << "option " << option;
                EXPECT_TRUE(SamePixels(*image, peer)) << "giftopnm, option " << option << " " << s.width << "x"
                                                      << s.height;
            }
        }
}

TEST(GifWrite, HeaderCodeSizeAndControlExtension)
{
    // A 2-colour image: global table of 2 entries, code size 2.
    auto image = Indexed(4, 2, 1);
    const auto file = Save(*image, 0);
    ASSERT_GT(file.size(), 40u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
    EXPECT_EQ(file[6] | (file[7] << 8), 4);
    EXPECT_EQ(file[8] | (file[9] << 8), 2);
    EXPECT_EQ(file[10], 0x80);
    const std::size_t control = 13 + 2 * 3;
    EXPECT_EQ(file[control], 0x21);
    EXPECT_EQ(file[control + 1], 0xF9);
    EXPECT_EQ(file[control + 3] & 1, 0) << "no transparency";
    EXPECT_EQ(file[control + 6], 255) << "no transparent index writes 255";
    const std::size_t descriptor = control + 8;
    EXPECT_EQ(file[descriptor], 0x2C);
    EXPECT_EQ(file[descriptor + 9], 0) << "no local table";
    EXPECT_EQ(file[descriptor + 10], 2) << "code size";
    EXPECT_EQ(file.back(), 0x3B);

    // A transparent index of 5 and a delay.
    auto eight = Indexed(3, 3, 8);
    eight->SetTransparentIndex(5);
    const auto transparent = Save(*eight, 0);
    const std::size_t c8 = 13 + 256 * 3;
    EXPECT_EQ(transparent[10], 0xF7);
    EXPECT_EQ(transparent[c8 + 3] & 1, 1);
    EXPECT_EQ(transparent[c8 + 6], 5);
}

TEST(GifWrite, CommentIsWrittenAndCut)
{
    VxImageGIF image;
    image.Create(2, 2, 8, VXFMT_GIF);
    const std::string comment(300, 'c');
    image.SetComment(comment.c_str());
    VxMemFile file;
    file.Open();
    ASSERT_TRUE(image.Encode(&file));
    const std::uint8_t* bytes = file.GetBuffer(false);
    const std::size_t at = 13 + 256 * 3 + 8;
    EXPECT_EQ(bytes[at], 0x21);
    EXPECT_EQ(bytes[at + 1], 0xFE);
    EXPECT_EQ(bytes[at + 2], 255);
    EXPECT_EQ(bytes[at + 3 + 255], 0);
    VxMemFile in(file.GetBuffer(false), file.Size());
    VxImageGIF back;
    ASSERT_TRUE(back.Decode(&in));
    EXPECT_EQ(std::string(back.GetComment()), std::string(255, 'c'));
}

TEST(GifWrite, TrueColorAsMosaicOfExactFrames)
{
    // 40 x 20: cells 17, 17 and 6 wide, 15 and 5 high, each a frame with a
    // 256-entry local table; read back colour for colour.
    auto image = TrueColor(40, 20);
    for (std::uint32_t option : {0u, 2u}) {
        const auto file = Save(*image, option);
        EXPECT_EQ(file[10], 0x11) << "no global table";
        EXPECT_TRUE(ReadsBack(file, *image)) << option;
        if (HaveTool("gifsicle")) {
            TempDir dir;
            dir.Write("m.gif", std::string(file.begin(), file.end()));
            const std::string info = CommandOutput("gifsicle --info '" + dir.Path("m.gif") + "' 2>&1");
            EXPECT_NE(info.find("6 images"), std::string::npos) << info;
            for (const char* cell : {"#0 17x15\n", "#1 17x15 at 17,0", "#2 6x15 at 34,0", "#3 17x5 at 0,15",
                                     "#4 17x5 at 17,15", "#5 6x5 at 34,15"})
                EXPECT_NE(info.find(cell), std::string::npos) << cell << "\n" << info;
            std::size_t tables = 0;
            for (std::size_t at = info.find("local color table [256]"); at != std::string::npos;
                 at = info.find("local color table [256]", at + 1))
                ++tables;
            EXPECT_EQ(tables, 6u);
            EXPECT_EQ(info.find("global color table"), std::string::npos) << info;
        }
        if (HaveTool("convert")) {
            Picture peer;
            ASSERT_TRUE(PeerDecode("sh -c 'convert \"$0\" -flatten ppm:-'", "", file, peer));
            EXPECT_TRUE(SamePixels(*image, peer)) << "ImageMagick, option " << option;
        }
    }
}

// A stream that takes only so many bytes.
class FullDisk : public VxMemFile {
public:
    explicit FullDisk(std::size_t room) : m_room(room) { Open(); }
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override
    {
        const std::size_t n = std::min(size * count, m_room);
        m_room -= n;
        return VxMemFile::Write(buffer, 1, n) / std::max<std::size_t>(size, 1);
    }

private:
    std::size_t m_room;
};

TEST(GifWrite, RefusesWhatItCannotWrite)
{
    // A write error anywhere, with every coder: false and the message.
    auto image = Indexed(200, 100, 8);
    for (std::uint32_t option : {0u, 1u, 2u})
        for (std::size_t room : {3u, 100u, 900u, 2000u}) {
            image->SetFormatOption(option, VXFMT_GIF);
            FullDisk disk(room);
            EXPECT_FALSE(image->Encode(&disk, VXFMT_GIF)) << option << " " << room;
            EXPECT_STREQ(image->GetLastError(), "Write Error in GIF file");
        }
    // Sides past 16 bits would be cut: refused before anything is written.
    for (auto [w, h] : {std::pair{65536u, 1u}, std::pair{1u, 65536u}}) {
        VxImage wide(w, h, 8, VXFMT_UNKNOWN);
        VxMemFile file;
        file.Open();
        EXPECT_FALSE(wide.Encode(&file, VXFMT_GIF));
        EXPECT_EQ(file.Size(), 0);
    }
    VxImage wide(65535, 1, 1, VXFMT_UNKNOWN);
    VxMemFile file;
    file.Open();
    EXPECT_TRUE(wide.Encode(&file, VXFMT_GIF)) << "65,535 fits";
}

}  // namespace
