// The image classes' GIF reader on files built here: the frame chosen,
// composition, the true-colour assembly, the extensions it keeps, and the
// damaged files it must survive (each named after the fault it shows).
#include "test_util.h"

#include "imaging/vxgif.h"
#include "win/memlimit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using namespace imgtest;

namespace {

// One image block: position, size, pixels (top row first, one index each)
// and how its data is packed.
struct Frame {
    unsigned left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> localTable;  // RGB triples; a power of two of them
    int transparent = -1;  // graphic control's transparent index
    int disposal = 0;
    int minCodeSize = 2;
    std::size_t subBlockSize = 255;
    // Codes to write instead of the pixels (each at the width the decoder
    // expects at that point).
    std::vector<int> rawCodes;
};

int TableSizeField(std::size_t entries)
{
    int s = 0;
    while ((2u << s) < entries)
        ++s;
    return s;
}

// Packs codes least significant bit first, following the decoder's code
// width: each code after the first since a clear adds a table entry.
std::vector<std::uint8_t> PackCodes(const std::vector<int>& codes, int minCodeSize)
{
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    const int clear = 1 << minCodeSize;
    int size = minCodeSize + 1;
    int next = clear + 2;
    bool afterClear = true;
    for (const int c : codes) {
        acc |= static_cast<std::uint32_t>(c) << bits;
        bits += size;
        while (bits >= 8) {
            out.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
        if (c == clear) {
            size = minCodeSize + 1;
            next = clear + 2;
            afterClear = true;
            continue;
        }
        if (afterClear) {
            afterClear = false;
            continue;
        }
        if (next < 4096)
            ++next;
        if (next >= (1 << size) && size < 12)
            ++size;
    }
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(acc));
    return out;
}

// Every pixel as a literal code, with a clear before the table fills.
std::vector<int> LiteralCodes(const std::vector<std::uint8_t>& pixels, int minCodeSize)
{
    const int clear = 1 << minCodeSize;
    std::vector<int> codes{clear};
    int sinceClear = 0;
    for (const std::uint8_t p : pixels) {
        if (++sinceClear == 4000) {
            codes.push_back(clear);
            sinceClear = 1;
        }
        codes.push_back(p);
    }
    codes.push_back(clear + 1);
    return codes;
}

void SubBlocks(Bytes& b, const std::vector<std::uint8_t>& data, std::size_t blockSize)
{
    for (std::size_t i = 0; i < data.size(); i += blockSize) {
        const std::size_t n = std::min(blockSize, data.size() - i);
        b.u8(static_cast<unsigned>(n));
        b.v.insert(b.v.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                   data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    b.u8(0);
}

void AddFrame(Bytes& b, const Frame& f)
{
    if (f.transparent >= 0 || f.disposal != 0) {
        b.u8(0x21).u8(0xF9).u8(4);
        b.u8(static_cast<unsigned>((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0))).u16(10);
        b.u8(static_cast<unsigned>(std::max(f.transparent, 0))).u8(0);
    }
    b.u8(0x2C).u16(f.left).u16(f.top).u16(f.width).u16(f.height);
    const std::size_t localEntries = f.localTable.size() / 3;
    b.u8(localEntries ? 0x80u | static_cast<unsigned>(TableSizeField(localEntries)) : 0u);
    b.raw(f.localTable);
    b.u8(static_cast<unsigned>(f.minCodeSize));
    const auto codes = f.rawCodes.empty() ? LiteralCodes(f.pixels, f.minCodeSize) : f.rawCodes;
    SubBlocks(b, PackCodes(codes, f.minCodeSize), f.subBlockSize);
}

// A GIF89a file of a screen with a global table of the given colours (none
// when empty), optional blocks before the frames, the frames and a trailer.
std::vector<std::uint8_t> MakeGif(unsigned width, unsigned height, const std::vector<std::uint8_t>& globalTable,
                                  const std::vector<Frame>& frames, const std::vector<std::uint8_t>& prefix = {},
                                  bool trailer = true)
{
    Bytes b;
    b.raw({'G', 'I', 'F', '8', '9', 'a'}).u16(width).u16(height);
    const std::size_t entries = globalTable.size() / 3;
    b.u8(entries ? 0x80u | static_cast<unsigned>(TableSizeField(entries)) : 0u).u8(0).u8(0);
    b.raw(globalTable);
    b.raw(prefix);
    for (const Frame& f : frames)
        AddFrame(b, f);
    if (trailer)
        b.u8(0x3B);
    return b.v;
}

// Red, green, blue, white.
const std::vector<std::uint8_t> kFour = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

Frame Solid(unsigned left, unsigned top, unsigned w, unsigned h, std::uint8_t index)
{
    Frame f;
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    f.pixels.assign(static_cast<std::size_t>(w) * h, index);
    return f;
}

// Index at picture position (x, y), y counted from the top.
int IndexAt(const VxImage& image, int x, int y)
{
    return image.GetPixelIndex(x, static_cast<int>(image.GetHeight()) - 1 - y);
}

std::unique_ptr<VxImageGIF> Load(const std::vector<std::uint8_t>& bytes, std::int32_t frame = 0)
{
    auto image = std::make_unique<VxImageGIF>();
    image->SetFrame(frame);
    VxMemFile f(const_cast<std::uint8_t*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    if (!image->Decode(&f))
        return nullptr;
    return image;
}

TEST(GifReader, ComposesTheChosenFrameOverTheOnesBefore)
{
    const auto bytes = MakeGif(4, 3, kFour, {Solid(0, 0, 4, 3, 0), Solid(1, 1, 2, 1, 2), Solid(0, 0, 4, 3, 1)});
    const auto image = Load(bytes, 1);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetFrameCount(), 3);
    EXPECT_EQ(image->GetWidth(), 4u);
    EXPECT_EQ(image->GetBpp(), 8u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(IndexAt(*image, x, y), (y == 1 && (x == 1 || x == 2)) ? 2 : 0) << x << "," << y;
    EXPECT_FALSE(Load(bytes, 3));
    EXPECT_FALSE(Load(bytes, -1));
}

TEST(GifReader, TransparentPixelsLeaveTheCanvasBelow)
{
    Frame top = Solid(0, 0, 3, 1, 2);
    top.pixels[1] = 3;
    top.transparent = 3;
    const auto image = Load(MakeGif(3, 1, kFour, {Solid(0, 0, 3, 1, 1), top}), 1);
    ASSERT_TRUE(image);
    EXPECT_EQ(IndexAt(*image, 0, 0), 2);
    EXPECT_EQ(IndexAt(*image, 1, 0), 1);
    EXPECT_EQ(IndexAt(*image, 2, 0), 2);
}

TEST(GifReader, DisposalToBackgroundClearsTheCanvasForTheNextFrame)
{
    Frame first = Solid(0, 0, 3, 2, 1);
    first.transparent = 3;
    first.disposal = 2;
    const auto image = Load(MakeGif(3, 2, kFour, {first, Solid(0, 0, 1, 1, 2)}), 1);
    ASSERT_TRUE(image);
    EXPECT_EQ(IndexAt(*image, 0, 0), 2);
    EXPECT_EQ(IndexAt(*image, 1, 0), 3);
    EXPECT_EQ(IndexAt(*image, 2, 1), 3);
    EXPECT_EQ(image->GetTransparentIndex(), 3);
}

TEST(GifReader, EveryFrameComposesAsImageMagickCoalescesIt)
{
    // gifsicle's animation of every disposal method against ImageMagick's
    // coalesced frames (scripts/make-image-fixtures.sh): a frame that goes
    // back to the background leaves its area transparent, one that gives
    // back the picture before it leaves that picture, the others stay.
    // Transparent pixels have no colour to compare. Around a first frame
    // without transparency, and where such a frame gives back the picture
    // before it, the screen shows its background colour.
    const struct {
        const char* name;
        int frames;
    } cases[] = {{"gif_disposal", 5}, {"gif_screen_background", 3}};
    for (const auto& c : cases) {
        for (int frame = 0; frame < c.frames; ++frame) {
            SCOPED_TRACE(std::string(c.name) + " frame " + std::to_string(frame));
            const Picture ref = ReadPnm(FixturePath(std::string(c.name) + ".coalesce" + std::to_string(frame) + ".ref.pam"));
            VxImage image;
            image.SetFrame(frame);
            ASSERT_TRUE(image.Load(FixturePath(std::string(c.name) + ".gif").c_str(), VXFMT_GIF)) << image.GetLastError();
            ASSERT_EQ(static_cast<int>(image.GetWidth()), ref.width);
            ASSERT_EQ(static_cast<int>(image.GetHeight()), ref.height);
            for (int y = 0; y < ref.height; ++y)
                for (int x = 0; x < ref.width; ++x) {
                    const int row = ref.height - 1 - y;
                    const bool clear = image.HasAlpha() ? image.GetAlphaAt(x, row) == 0
                                                        : image.IsTransparent() &&
                                                              image.GetPixelIndex(x, row) == image.GetTransparentIndex();
                    const RGBQUAD want = ref.At(x, y);
                    if (ref.hasAlpha && want.rgbReserved == 0) {
                        EXPECT_TRUE(clear) << x << "," << y << " shows through";
                        continue;
                    }
                    EXPECT_FALSE(clear) << x << "," << y;
                    EXPECT_EQ(Ref(image.GetPixelColor(x, row, false)), Ref(want)) << x << "," << y;
                }
        }
    }
}

TEST(GifReader, AFrameOutsideTheScreenIsNeitherCountedNorDecoded)
{
    const auto image = Load(MakeGif(3, 2, kFour, {Solid(0, 0, 3, 2, 1), Solid(2, 1, 2, 2, 2), Solid(0, 0, 1, 1, 0)}), 1);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetFrameCount(), 2);
    EXPECT_EQ(IndexAt(*image, 0, 0), 0);
    EXPECT_EQ(IndexAt(*image, 2, 1), 1);
}

TEST(GifReader, TilesWithoutGlobalTableAssembleIntoOneTrueColourPicture)
{
    // Four 1 x 1 tiles of a 2 x 2 screen, each with its own colour.
    std::vector<Frame> tiles;
    const std::uint8_t colours[4][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
    for (unsigned i = 0; i < 4; ++i) {
        Frame f = Solid(i % 2, i / 2, 1, 1, 0);
        f.localTable = {colours[i][0], colours[i][1], colours[i][2], 0, 0, 0};
        tiles.push_back(f);
    }
    const auto image = Load(MakeGif(2, 2, {}, tiles));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetBpp(), 24u);
    for (int i = 0; i < 4; ++i) {
        const RGBQUAD c = image->GetPixelColor(i % 2, 1 - i / 2, false);
        EXPECT_EQ(c.rgbRed, colours[i][0]) << i;
        EXPECT_EQ(c.rgbBlue, colours[i][2]) << i;
    }
}

TEST(GifReader, TilesWithoutPixelsGiveTheEmptyScreen)
{
    // Without a global table, a first frame smaller than the screen both
    // ways makes the reader assemble tiles; none of these has pixels.
    Frame empty = Solid(1, 0, 0, 1, 0);
    empty.rawCodes = {4, 5};
    empty.localTable = {10, 20, 30, 0, 0, 0};
    const auto image = Load(MakeGif(3, 2, {}, {empty, empty}), 1);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetWidth(), 3u);
    EXPECT_EQ(image->GetHeight(), 2u);
    EXPECT_EQ(image->GetBpp(), 24u);
}

TEST(GifReader, KeepsLoopCountCommentAndDelay)
{
    Bytes ext;
    ext.u8(0x21).u8(0xFF).u8(11).raw({'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'});
    ext.u8(3).u8(1).u16(5).u8(0);
    ext.u8(0x21).u8(0xFE).u8(5).raw({'h', 'e', 'l', 'l', 'o'}).u8(0);
    // An application block longer than the 11 bytes of an identifier is
    // data of no known kind, passed over.
    ext.u8(0x21).u8(0xFF).u8(12).fill(12, 'x').u8(2).u8(7).u8(7).u8(0);
    Frame f = Solid(0, 0, 2, 2, 1);
    f.transparent = 0;
    const auto image = Load(MakeGif(2, 2, kFour, {f}, ext.v));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetLoopCount(), 5);
    EXPECT_STREQ(image->GetComment(), "hello");
    EXPECT_EQ(image->GetControlDelay(), 10);
    EXPECT_EQ(IndexAt(*image, 1, 1), 1);
}

TEST(GifReader, MinimumCodeSizesOutsideTwoToNineLeaveTheFrameEmpty)
{
    for (const int size : {1, 10}) {
        Frame bad = Solid(0, 0, 2, 1, 2);
        bad.minCodeSize = size;
        bad.rawCodes = {1 << std::min(size, 8), 2, 2};
        const auto image = Load(MakeGif(2, 1, kFour, {Solid(0, 0, 2, 1, 1), bad}), 1);
        ASSERT_TRUE(image) << size;
        EXPECT_EQ(IndexAt(*image, 0, 0), 0) << size;  // the empty frame's zeros
    }
}

TEST(GifReader, DimensionsOnlyGivesTheScreenSize)
{
    struct Probe : VxImageGIF {
        VxImageAttributes& Info() { return m_info; }
    } image;
    image.Info().stopRequest = -1;
    EXPECT_TRUE(DecodeBytes(image, MakeGif(300, 200, kFour, {Solid(0, 0, 1, 1, 0)}), VXFMT_GIF));
    EXPECT_EQ(image.GetWidth(), 300u);
    EXPECT_EQ(image.GetHeight(), 200u);
    EXPECT_FALSE(image.IsValid());
}

// Damaged files, each named after the fault it shows.

TEST(GifDamage, gif_lzw_cycle_ends_the_frame_and_the_next_frame_decodes)
{
    // After a code beyond the table, the slot filled next links to itself;
    // naming it walks the loop, which must end the frame.
    Frame looped = Solid(0, 0, 4, 1, 0);
    looped.rawCodes = {4, 0, 7, 6, 7, 7, 5};
    const auto bytes = MakeGif(4, 1, kFour, {looped, Solid(0, 0, 4, 1, 2)});
    const auto start = std::chrono::steady_clock::now();
    const auto image = Load(bytes, 1);
    ASSERT_TRUE(image);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(IndexAt(*image, 3, 0), 2);
}

TEST(GifDamage, gif_one_byte_subblocks_decode_like_full_ones)
{
    // 300 literal codes of a minimum size of 8 grow to 10 bits: most codes
    // span two 1-byte sub-blocks.
    Frame f;
    f.width = 30;
    f.height = 10;
    f.minCodeSize = 8;
    for (int i = 0; i < 300; ++i)
        f.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    std::vector<std::uint8_t> grey;
    for (int i = 0; i < 256; ++i)
        grey.insert(grey.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 0});
    Frame tiny = f;
    tiny.subBlockSize = 1;
    const auto whole = Load(MakeGif(30, 10, grey, {f}));
    const auto split = Load(MakeGif(30, 10, grey, {tiny}));
    ASSERT_TRUE(whole);
    ASSERT_TRUE(split);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(IndexAt(*whole, i % 30, i / 30), (i * 7) & 255);
        EXPECT_EQ(IndexAt(*split, i % 30, i / 30), (i * 7) & 255);
    }
}

TEST(GifDamage, gif_huge_frames_fail_as_premature_end_of_data)
{
    // Descriptors may claim 64K x 64K; a few bytes of data cannot encode
    // frames that large, whatever their number.
    struct Case {
        const char* name;
        unsigned screenW, screenH;
        std::vector<Frame> frames;
    };
    Frame big = Solid(0, 0, 6000, 6000, 0);
    big.pixels.clear();
    big.rawCodes = {4, 0, 5};
    const Case cases[] = {
        {"huge frame", 6000, 6000, {big}},
        {"many huge frames", 6000, 6000, std::vector<Frame>(50, big)},
    };
    for (const Case& c : cases) {
        VxImageGIF image;
        image.SetFrame(static_cast<std::int32_t>(c.frames.size()) - 1);
        EXPECT_FALSE(DecodeBytes(image, MakeGif(c.screenW, c.screenH, kFour, c.frames), VXFMT_GIF)) << c.name;
        EXPECT_STREQ(image.GetLastError(), "The file is too short for a picture of 6000 x 6000 pixels") << c.name;
        EXPECT_FALSE(image.IsValid());
    }
}

TEST(GifDamage, gif_huge_screen_gives_the_frames_it_holds)
{
    // A screen of 65535 x 65535 around a frame of 3 x 2 (a valid file of a
    // few bytes, which other readers show as its frame): the picture is
    // the part of the screen the frames cover, never 4 GB of background.
    Frame f = Solid(7, 5, 3, 2, 2);
    f.pixels = {1, 2, 3, 3, 2, 1};
    VxImageGIF image;
    ASSERT_TRUE(DecodeBytes(image, MakeGif(65535, 65535, kFour, {f}), VXFMT_GIF)) << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 3u);
    EXPECT_EQ(image.GetHeight(), 2u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(IndexAt(image, i % 3, i / 3), f.pixels[static_cast<std::size_t>(i)]) << i;
}

TEST(GifDamage, gif_huge_screen_with_empty_frames_is_refused_as_a_claim)
{
    // Frames without pixels cover none of a 65535 x 65535 screen: there is
    // nothing to show but the header's claim, refused before 4 GB of
    // background is made.
    Frame empty = Solid(1, 0, 0, 1, 0);
    empty.rawCodes = {4, 5};
    VxImageGIF image;
    EXPECT_FALSE(DecodeBytes(image, MakeGif(65535, 65535, kFour, {empty}), VXFMT_GIF));
    EXPECT_EQ(image.GetLastError(), PictureDataMissingMessage(65535, 65535));
}

TEST(GifDamage, gif_loop_ext_eof_ends_the_reading)
{
    Bytes ext;
    ext.u8(0x21).u8(0xFF).u8(11).raw({'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}).u8(3).u8(1);
    const auto bytes = MakeGif(2, 2, kFour, {}, ext.v, false);
    VxImageGIF image;
    EXPECT_FALSE(DecodeBytes(image, bytes, VXFMT_GIF));
    EXPECT_STRNE(image.GetLastError(), "");
}

TEST(GifDamage, gif_zero_width_frame_is_passed_over)
{
    Frame empty = Solid(1, 0, 0, 2, 0);
    empty.rawCodes = {4, 1, 1, 5};
    const auto bytes = MakeGif(2, 2, kFour, {Solid(0, 0, 2, 2, 1), empty, Solid(0, 0, 1, 1, 2)});
    for (int frame = 0; frame < 3; ++frame) {
        const auto image = Load(bytes, frame);
        ASSERT_TRUE(image) << frame;
        EXPECT_EQ(image->GetFrameCount(), 3);
        EXPECT_EQ(IndexAt(*image, 1, 1), 1) << frame;
        EXPECT_EQ(IndexAt(*image, 0, 0), frame == 2 ? 2 : 1) << frame;
    }
}

TEST(GifDamage, gif_more_colours_later_keeps_every_frames_colours)
{
    // The first frame needs one bit; the second uses index 200 of a local
    // table of 256 colours.
    Frame first = Solid(0, 0, 2, 1, 1);
    first.localTable = {0, 0, 0, 255, 255, 255};
    Frame second = Solid(1, 0, 1, 1, 200);
    second.minCodeSize = 8;
    for (int i = 0; i < 256; ++i)
        second.localTable.insert(second.localTable.end(), {static_cast<std::uint8_t>(i), 1, 2});
    const auto image = Load(MakeGif(2, 1, {}, {first, second}), 1);
    ASSERT_TRUE(image);
    // Two tables cannot share one palette: the picture keeps each frame's
    // own colours at 24 bits.
    EXPECT_EQ(image->GetBpp(), 24u);
    EXPECT_EQ(Ref(image->GetPixelColor(0, 0, false)), RGB(255, 255, 255));
    EXPECT_EQ(Ref(image->GetPixelColor(1, 0, false)), RGB(200, 1, 2));
    EXPECT_FALSE(image->HasAlpha());
}

TEST(GifDamage, gif_stray_bytes_between_blocks_are_passed_over)
{
    Bytes junk;
    junk.u8(0x55).u8(0x2C).u8(0x21).u8(0);  // passed over up to the 0 byte
    const auto image = Load(MakeGif(2, 1, kFour, {Solid(0, 0, 2, 1, 2)}, junk.v));
    ASSERT_TRUE(image);
    EXPECT_EQ(IndexAt(*image, 1, 0), 2);
}

TEST(GifDispatch, DetectionFindsGifAndSavesIt)
{
    VxImage image;
    ASSERT_TRUE(DecodeBytes(image, MakeGif(2, 1, kFour, {Solid(0, 0, 2, 1, 2)}), VXFMT_UNKNOWN));
    EXPECT_EQ(image.GetType(), VXFMT_GIF);
    bool ok = false;
    const auto bytes = EncodeBytes(image, VXFMT_GIF, &ok);
    EXPECT_TRUE(ok) << image.GetLastError();
    VxImage again;
    ASSERT_TRUE(DecodeBytes(again, bytes, VXFMT_UNKNOWN));
    EXPECT_EQ(again.GetType(), VXFMT_GIF);
    EXPECT_EQ(IndexAt(again, 1, 0), 2);
}

}  // namespace
