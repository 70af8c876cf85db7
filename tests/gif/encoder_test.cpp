// The GIF frame encoders: LZW and run-length streams decoded again by our
// own LZW decoder and by giflib's and netpbm's readers, the sub-block and
// code-size layout, the dictionary's probing, and the errors.
#include "imaging/gif/gifencoder.h"
#include "imaging/gif/giflzw.h"

#include "test_support/pnm.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Coder { Lzw, Rle, Plain };

std::vector<std::uint8_t> Encode(Coder coder, int bits, int w, int h, const std::vector<std::uint8_t>& pixels,
                                 bool interlaced = false, int maxColor = -1)
{
    TMemoryStream out;
    TLZWEncoder lzw;
    TRLEEncoder rle;
    TPlainEncoder plain;
    TGIFEncoder& encoder = coder == Coder::Lzw ? static_cast<TGIFEncoder&>(lzw)
                           : coder == Coder::Rle ? static_cast<TGIFEncoder&>(rle)
                                                 : plain;
    encoder.Compress(out, bits, w, h, interlaced, pixels.empty() ? nullptr : pixels.data(),
                     maxColor < 0 ? 1 << bits : maxColor);
    std::vector<std::uint8_t> bytes(static_cast<size_t>(out.Size()));
    out.Seek(0, soBeginning);
    out.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return bytes;
}

std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& data, int w, int h, bool interlaced,
                                 std::int64_t* endPosition = nullptr)
{
    TMemoryStream in;
    in.Write(data.data(), static_cast<std::int64_t>(data.size()));
    in.Seek(0, soBeginning);
    std::vector<std::uint8_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
    std::vector<std::string> warnings;
    TGIFLzwDecoder decoder(in, [&](TGIFSeverity, const std::string& m) { warnings.push_back(m); });
    decoder.Decompress(pixels, w, h, interlaced, 0xEE);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    if (endPosition)
        *endPosition = in.Position();
    return pixels;
}

// Pictures that stress different paths of the coders: noise fills the LZW
// dictionary (and, at 8 bits, passes code 4095 many times); long and
// growing runs exercise the run-length coder's run table.
std::vector<std::uint8_t> Noise(int bits, size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> p(n);
    for (auto& v : p)
        v = static_cast<std::uint8_t>(rng() % (1u << bits));
    return p;
}

std::vector<std::uint8_t> Runs(int bits, size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> p;
    while (p.size() < n) {
        const auto value = static_cast<std::uint8_t>(rng() % (1u << bits));
        const size_t length = 1 + rng() % (rng() % 4 == 0 ? 3000 : 40);
        p.insert(p.end(), std::min(length, n - p.size()), value);
    }
    return p;
}

// A whole one-frame GIF87a file around the image data, with a grey ramp
// table of 2^bits entries, for the peer readers.
std::vector<std::uint8_t> WrapFile(int bits, int w, int h, bool interlaced, const std::vector<std::uint8_t>& data)
{
    const int colors = 1 << bits;
    auto word = [](std::vector<std::uint8_t>& v, int x) {
        v.push_back(static_cast<std::uint8_t>(x));
        v.push_back(static_cast<std::uint8_t>(x >> 8));
    };
    std::vector<std::uint8_t> f{'G', 'I', 'F', '8', '7', 'a'};
    word(f, w);
    word(f, h);
    f.push_back(static_cast<std::uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));
    f.push_back(0);
    f.push_back(0);
    for (int i = 0; i < colors; ++i)
        for (int c = 0; c < 3; ++c)
            f.push_back(static_cast<std::uint8_t>(i * 255 / (colors - 1)));
    f.push_back(0x2C);
    word(f, 0);
    word(f, 0);
    word(f, w);
    word(f, h);
    f.push_back(interlaced ? 0x40 : 0);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0x3B);
    return f;
}

struct Shape {
    int bits;
    int width;
    int height;
    bool interlaced;
};

TEST(GifEncoders, RoundTripThroughTheDecoder)
{
    const Shape shapes[] = {{1, 7, 1, false}, {1, 9, 2, true},  {2, 5, 3, true},   {3, 13, 4, true},
                            {4, 31, 5, true}, {5, 64, 9, true}, {6, 17, 4, false}, {7, 100, 37, true},
                            {8, 300, 200, false}, {8, 211, 97, true}};
    for (Coder coder : {Coder::Lzw, Coder::Rle, Coder::Plain})
        for (const Shape& s : shapes)
            for (int kind = 0; kind < 2; ++kind) {
                const size_t n = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
                const auto pixels = kind == 0 ? Noise(s.bits, n, static_cast<unsigned>(n)) : Runs(s.bits, n, s.bits);
                const auto data = Encode(coder, s.bits, s.width, s.height, pixels, s.interlaced);
                std::int64_t end = 0;
                EXPECT_EQ(Decode(data, s.width, s.height, s.interlaced, &end), pixels)
                    << "coder " << static_cast<int>(coder) << " bits " << s.bits << " " << s.width << "x" << s.height
                    << (kind == 0 ? " noise" : " runs");
                EXPECT_EQ(end, static_cast<std::int64_t>(data.size())) << "the decoder stops at the terminator";
            }
}

TEST(GifEncoders, LongRunsOfOneValue)
{
    // One value for a whole large frame: the run-length coder must pass
    // several forced clears and reuse its run table across them.
    for (int bits : {1, 4, 8})
        for (Coder coder : {Coder::Lzw, Coder::Rle}) {
            const std::vector<std::uint8_t> pixels(2000 * 1500, static_cast<std::uint8_t>((1 << bits) - 1));
            const auto data = Encode(coder, bits, 2000, 1500, pixels);
            EXPECT_EQ(Decode(data, 2000, 1500, false), pixels) << bits;
            // Both coders shrink a uniform picture to a small fraction.
            EXPECT_LT(data.size(), pixels.size() / 20) << bits << " coder " << static_cast<int>(coder);
        }
}

TEST(GifEncoders, CodeSizeAndEmptyFrames)
{
    // Bits 1 is written as code size 2; a frame without pixels is the code
    // size, one sub-block with only the end code, and the terminator.
    struct Case {
        int bits, w, h;
        bool data;
        std::vector<std::uint8_t> expected;
    } cases[] = {
        {1, 0, 0, false, {2, 1, 5, 0}},      // end code 5 in 3 bits
        {1, 4, 0, true, {2, 1, 5, 0}},       // no rows
        {8, 0, 3, true, {8, 2, 1, 1, 0}},    // end code 257 in 9 bits
        {8, 3, 3, false, {8, 2, 1, 1, 0}},   // no pixel data
        {3, 0, 0, false, {3, 1, 9, 0}},      // end code 9 in 4 bits
    };
    for (Coder coder : {Coder::Lzw, Coder::Rle, Coder::Plain})
        for (const Case& c : cases) {
            const std::vector<std::uint8_t> pixels(c.data ? 9 : 0, 0);
            EXPECT_EQ(Encode(coder, c.bits, c.w, c.h, pixels), c.expected) << c.bits << " " << c.w << "x" << c.h;
        }
    // A single 1-bit pixel: clear (4), the pixel, end (5), three bits each.
    EXPECT_EQ(Encode(Coder::Lzw, 1, 1, 1, {1}), (std::vector<std::uint8_t>{2, 2, 0x4C, 0x01, 0}));
    // The run-length coder writes a run of one pixel as the pixel itself.
    EXPECT_EQ(Encode(Coder::Rle, 1, 1, 1, {1}), (std::vector<std::uint8_t>{2, 2, 0x4C, 0x01, 0}));
}

// Splits image data into its sub-block lengths.
std::vector<int> BlockLengths(const std::vector<std::uint8_t>& data)
{
    std::vector<int> lengths;
    size_t pos = 1;
    while (pos < data.size()) {
        lengths.push_back(data[pos]);
        if (data[pos] == 0)
            break;
        pos += 1 + data[pos];
    }
    return lengths;
}

TEST(GifEncoders, PlainStreamHasOneCodePerPixel)
{
    // One value throughout, which LZW would shrink: the plain stream still
    // spends a code on every pixel, passing the table's clear points
    // (30000 codes at 4 bits pass 4096 several times).
    const std::vector<std::uint8_t> pixels(30000, 3);
    const auto data = Encode(Coder::Plain, 4, 30000, 1, pixels);
    EXPECT_EQ(Decode(data, 30000, 1, false), pixels);
    const size_t codeBytes = data.size() - 1 - BlockLengths(data).size();
    EXPECT_GT(codeBytes * 8, 30000u * 5) << "at least 5 bits a pixel";
    EXPECT_LT(codeBytes * 8, 30000u * 12 + 200);
}

TEST(GifEncoders, SubBlocksOf255Bytes)
{
    // At 8 bits every code of a 9-bit stream of literals... find the pixel
    // counts whose streams take exactly 255 and 256 bytes, and check the
    // block layout: one full block then the terminator; a full block, a
    // one-byte block, the terminator.
    std::map<size_t, std::vector<int>> layouts;
    for (int n = 200; n < 240 && layouts.size() < 2; ++n) {
        std::vector<std::uint8_t> pixels(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            pixels[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);  // no repeated pair: all literals
        const auto data = Encode(Coder::Lzw, 8, n, 1, pixels);
        const size_t codeBytes = data.size() - 1 - static_cast<size_t>(BlockLengths(data).size());
        if (codeBytes == 255 || codeBytes == 256) {
            layouts[codeBytes] = BlockLengths(data);
            EXPECT_EQ(Decode(data, n, 1, false), pixels);
        }
    }
    EXPECT_EQ(layouts[255], (std::vector<int>{255, 0}));
    EXPECT_EQ(layouts[256], (std::vector<int>{255, 1, 0}));
}

TEST(GifEncoders, ClearsWhenCode4095WouldBeAssigned)
{
    // Noise at 8 bits assigns a code for nearly every pixel: the dictionary
    // fills after 4094 - 257 = 3837 new strings, a clear code (256) goes out
    // at 12 bits and the width returns to 9. Decode the codes by hand to
    // find the first clear after the start.
    const auto pixels = Noise(8, 6000, 7);
    const auto data = Encode(Coder::Lzw, 8, 6000, 1, pixels);
    std::vector<std::uint8_t> codes;
    for (size_t pos = 1; data[pos] != 0; pos += 1 + data[pos])
        codes.insert(codes.end(), data.begin() + static_cast<long>(pos) + 1,
                     data.begin() + static_cast<long>(pos) + 1 + data[pos]);
    std::uint64_t bits = 0;
    int held = 0, width = 9, read = 0, free = 258;
    size_t at = 0;
    int clearIndex = -1, widthAtClear = 0;
    for (;;) {
        while (held < width && at < codes.size()) {
            bits |= static_cast<std::uint64_t>(codes[at++]) << held;
            held += 8;
        }
        const int code = static_cast<int>(bits & ((1u << width) - 1));
        bits >>= width;
        held -= width;
        ++read;
        if (code == 256 && read > 1) {
            clearIndex = read;
            widthAtClear = width;
            break;
        }
        if (read > 2 && free < 4096)
            ++free;
        if (free == (1 << width) && width < 12)
            ++width;
    }
    EXPECT_EQ(widthAtClear, 12);
    EXPECT_EQ(free, 4095) << "the decoder's table holds codes up to 4094 at the clear";
    EXPECT_GT(clearIndex, 3800);
    EXPECT_EQ(Decode(data, 6000, 1, false), pixels);
}

TEST(GifEncoders, PixelOutsideTheColorTable)
{
    // Refused, and the block terminator is not written.
    for (Coder coder : {Coder::Lzw, Coder::Rle}) {
        TMemoryStream out;
        TLZWEncoder lzw;
        TRLEEncoder rle;
        TGIFEncoder& encoder = coder == Coder::Lzw ? static_cast<TGIFEncoder&>(lzw) : rle;
        const std::vector<std::uint8_t> pixels{0, 1, 2, 5, 1};
        try {
            encoder.Compress(out, 3, 5, 1, false, pixels.data(), 5);
            ADD_FAILURE() << "no error";
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), "Color not in color table");
        }
        std::vector<std::uint8_t> bytes(static_cast<size_t>(out.Size()));
        out.Seek(0, soBeginning);
        out.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        EXPECT_EQ(bytes, std::vector<std::uint8_t>{3}) << "only the code size byte";
    }
}

// A destination that takes only so many bytes.
class ShortStream : public TMemoryStream {
public:
    explicit ShortStream(std::int64_t room) : m_room(room) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override
    {
        const std::int64_t n = std::min(count, m_room);
        m_room -= n;
        return TMemoryStream::Write(buffer, n);
    }

private:
    std::int64_t m_room;
};

TEST(GifEncoders, WriteErrorsReachTheCaller)
{
    // A full disk while the last partial sub-block goes out, and while a
    // full one does: both raise from Compress.
    const auto pixels = Noise(8, 1000, 3);
    for (std::int64_t room : {1, 100, 300})
        for (Coder coder : {Coder::Lzw, Coder::Rle}) {
            ShortStream out(room);
            TLZWEncoder lzw;
            TRLEEncoder rle;
            TGIFEncoder& encoder = coder == Coder::Lzw ? static_cast<TGIFEncoder&>(lzw) : rle;
            EXPECT_THROW(encoder.Compress(out, 8, 1000, 1, false, pixels.data(), 256), EWriteError) << room;
        }
}

TEST(GifEncoders, WriterRefusesReadingAndSeeking)
{
    TMemoryStream out;
    TGIFWriter writer(out);
    char c = 0;
    EXPECT_THROW(writer.Read(&c, 1), Exception);
    EXPECT_THROW(writer.Seek(0, soBeginning), Exception);
    EXPECT_EQ(writer.Write("abc", 3), 3);
    EXPECT_EQ(out.Size(), 0) << "nothing before the block is full or flushed";
    writer.Flush();
    EXPECT_EQ(out.Size(), 4);
    writer.Flush();
    EXPECT_EQ(out.Size(), 4) << "an empty block is never written";
}

TEST(GifEncoders, WriterGathersBlocksAndCutsThemAt255)
{
    // The writer holds many blocks before it writes: lengths around whole
    // multiples of its buffer still come out as 255-byte blocks and one
    // shorter block, with the bytes in order.
    for (std::int64_t n : {1, 254, 255, 256, 255 * 31 + 200, 255 * 32 - 1, 255 * 32, 255 * 32 + 1, 255 * 64,
                           255 * 64 + 7, 255 * 100 + 3}) {
        std::vector<std::uint8_t> bytes(static_cast<size_t>(n));
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 255);
        TMemoryStream out;
        TGIFWriter writer(out);
        writer.Write(bytes.data(), n);
        writer.Flush();
        std::vector<std::uint8_t> data(static_cast<size_t>(out.Size()));
        out.Seek(0, soBeginning);
        out.Read(data.data(), out.Size());
        std::vector<std::uint8_t> joined;
        size_t pos = 0;
        while (pos < data.size()) {
            const size_t length = data[pos];
            ASSERT_TRUE(length == 255 || pos + 1 + length == data.size()) << n << ": a short block before the end";
            ASSERT_LE(pos + 1 + length, data.size()) << n;
            joined.insert(joined.end(), data.begin() + static_cast<long>(pos) + 1,
                          data.begin() + static_cast<long>(pos + 1 + length));
            pos += 1 + length;
        }
        EXPECT_EQ(joined, bytes) << n;
        EXPECT_EQ(data.size(), bytes.size() + (bytes.size() + 254) / 255) << n;
    }
}

TEST(GifEncoders, DictionaryProbeVisitsEverySlot)
{
    // Far more entries than a frame's dictionary ever holds: every insert
    // finds a free slot and every lookup ends, present or absent. A probe
    // that doubles the slot modulo the size reaches only half the slots.
    THashTable table;
    std::vector<std::uint32_t> keys;
    for (std::uint32_t k = 0; keys.size() < THashTable::kSize - 1; k += 8009)
        keys.push_back(k % (1u << 20));
    for (size_t i = 0; i < keys.size(); ++i)
        table.Insert(keys[i], static_cast<int>(i % 4096));
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(table.Lookup(keys[i]), static_cast<int>(i % 4096)) << i;
    EXPECT_EQ(table.Lookup(1), -1);
    table.Clear();
    EXPECT_EQ(table.Lookup(keys[0]), -1);
}

TEST(GifEncoders, TriangleCost)
{
    struct Case {
        std::int64_t count;
        int n;
        int cost;
    } cases[] = {
        {0, 10, 0}, {1, 10, 1}, {2, 10, 2}, {3, 10, 2}, {4, 10, 3}, {6, 10, 3}, {7, 10, 4},
        {55, 10, 10}, {56, 10, 11}, {110, 10, 20}, {111, 10, 21},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GIFTriangleCost(c.count, c.n), c.cost) << c.count << " " << c.n;
    for (std::int64_t x : {0, 1, 2, 3, 4, 15, 16, 17, 99, 100, 1 << 20, (1 << 20) + 1, 2147395600})
        EXPECT_EQ(GIFIntegerSquareRoot(x), static_cast<std::int64_t>(std::sqrt(static_cast<double>(x)))) << x;
}

// giflib and netpbm read our streams with the same pixels.
TEST(GifEncoders, PeerReadersAgree)
{
    if (std::system("command -v giftopnm > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "netpbm is not installed";
    const Shape shapes[] = {{1, 33, 3, false}, {2, 50, 4, true}, {4, 97, 61, true}, {8, 400, 300, false},
                            {8, 123, 77, true}};
    for (Coder coder : {Coder::Lzw, Coder::Rle})
        for (const Shape& s : shapes) {
            const size_t n = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
            const auto pixels = Runs(s.bits, n, static_cast<unsigned>(n));
            const auto file = WrapFile(s.bits, s.width, s.height, s.interlaced,
                                       Encode(coder, s.bits, s.width, s.height, pixels, s.interlaced));
            TempDir dir;
            dir.Write("a.gif", std::string(file.begin(), file.end()));
            const PnmPicture picture = ReadPnmBytes(CommandOutput("giftopnm '" + dir.Path("a.gif") + "' 2>&1"));
            ASSERT_EQ(picture.width, s.width);
            ASSERT_EQ(picture.height, s.height);
            const int colors = 1 << s.bits;
            size_t wrong = 0;
            for (size_t i = 0; i < n; ++i) {
                const std::uint32_t v = static_cast<std::uint32_t>(pixels[i] * 255 / (colors - 1));
                wrong += picture.pixels[i] != ((v << 16) | (v << 8) | v);
            }
            EXPECT_EQ(wrong, 0u) << "coder " << static_cast<int>(coder) << " bits " << s.bits;
            if (std::system("command -v gifsicle > /dev/null 2>&1") == 0) {
                EXPECT_EQ(std::system(("gifsicle --info '" + dir.Path("a.gif") + "' > /dev/null 2>&1").c_str()), 0);
            }
        }
}

}  // namespace
