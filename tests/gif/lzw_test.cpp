// The LZW decoder of GIF frames, on code streams built here code by code:
// where it leaves the stream, interlaced row order, the table's growth,
// codes spread over the smallest sub-blocks, long strings across rows and
// past the picture's end, and damaged tables.
#include "imaging/gif/giflzw.h"
#include "gif/gif_bytes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using gifbytes::Code;
using gifbytes::Literals;
using gifbytes::Pack;

struct Result {
    std::vector<std::uint8_t> pixels;
    std::int64_t position = 0;
    std::vector<std::string> warnings;
    std::string error;
};

Result Decode(const std::vector<std::uint8_t>& data, int w, int h, bool interlaced = false, std::uint8_t fill = 0)
{
    TMemoryStream stream;
    stream.Write(data.data(), static_cast<std::int64_t>(data.size()));
    stream.Seek(0, soBeginning);
    Result r;
    r.pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0xEE);
    TGIFLzwDecoder decoder(stream, [&](TGIFSeverity, const std::string& m) { r.warnings.push_back(m); });
    try {
        decoder.Decompress(r.pixels, w, h, interlaced, fill);
    } catch (const GIFException& e) {
        r.error = e.what();
    }
    r.position = stream.Position();
    return r;
}

// A plain LZW coder: the longest string the table holds each time, code
// widths following the decoder's table, a clear code when the table is full.
std::vector<Code> Compress(int codeSize, const std::vector<std::uint8_t>& pixels)
{
    const int clear = 1 << codeSize;
    std::map<std::pair<int, int>, int> table;
    int width = 0, limit = 0, nextFree = 0, next = 0;
    bool first = true;
    std::vector<Code> codes;
    const auto emit = [&](int code) {
        codes.push_back({code, width});
        if (code == clear) {
            table.clear();
            width = codeSize + 1;
            limit = 2 * clear;
            nextFree = next = clear + 2;
            first = true;
            return;
        }
        // The decoder adds its entry one code later than the coder.
        if (!first && nextFree < 4096 && ++nextFree >= limit && limit < 4096) {
            limit *= 2;
            ++width;
        }
        first = false;
    };
    width = codeSize + 1;
    emit(clear);
    int string = -1;
    for (std::uint8_t p : pixels) {
        if (string < 0) {
            string = p;
            continue;
        }
        const auto found = table.find({string, p});
        if (found != table.end()) {
            string = found->second;
            continue;
        }
        emit(string);
        table[{string, p}] = next++;
        string = p;
        if (next == 4096)
            emit(clear);
    }
    if (string >= 0)
        emit(string);
    emit(clear + 1);
    return codes;
}

// Which data row lands on each row of an interlaced picture.
std::vector<int> InterlacedRows(int height)
{
    std::vector<int> rows(static_cast<size_t>(height));
    int n = 0;
    for (auto [start, step] : {std::pair {0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < height; y += step)
            rows[static_cast<size_t>(y)] = n++;
    return rows;
}

TEST(GifLzw, LeavesTheStreamAfterTheTerminator)
{
    // One pixel, then the next block's introducer, which must stay unread.
    std::vector<std::uint8_t> data = Pack(2, {{4, 3}, {3, 3}, {5, 3}});
    const auto oneEnd = static_cast<std::int64_t>(data.size());
    data.push_back(0x3B);
    Result r = Decode(data, 1, 1);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.pixels, std::vector<std::uint8_t>{3});
    EXPECT_EQ(r.position, oneEnd);

    // Sub-blocks after the end code are passed over up to the terminator.
    std::vector<std::uint8_t> extra = Pack(2, {{4, 3}, {1, 3}, {5, 3}});
    extra.pop_back();
    for (std::uint8_t b : {2, 9, 9, 1, 7, 0, 0x3B})
        extra.push_back(b);
    r = Decode(extra, 1, 1);
    EXPECT_EQ(r.pixels, std::vector<std::uint8_t>{1});
    EXPECT_EQ(r.position, static_cast<std::int64_t>(extra.size()) - 1);
}

TEST(GifLzw, InterlacedRowsComeInPassOrder)
{
    const struct {
        int height;
        std::vector<std::uint8_t> rowOfData;  // which data row lands on each frame row
    } cases[] = {{5, {0, 3, 2, 4, 1}}, {3, {0, 2, 1}}, {1, {0}}, {9, {0, 5, 3, 6, 2, 7, 4, 8, 1}}};
    for (const auto& row : cases) {
        std::vector<std::uint8_t> data;
        for (int y = 0; y < row.height; ++y)
            data.insert(data.end(), 2, static_cast<std::uint8_t>(y));
        Result r = Decode(Pack(4, Literals(4, data)), 2, row.height, true);
        ASSERT_EQ(r.error, "");
        for (int y = 0; y < row.height; ++y)
            EXPECT_EQ(r.pixels[static_cast<size_t>(2 * y)], row.rowOfData[static_cast<size_t>(y)])
                << "height " << row.height << " row " << y;
    }
}

TEST(GifLzw, StringsFromTheTableAndTheCodeBeingDefined)
{
    // Size 2: clear 4, end 5. 1, 1 defines 6 = "1 1"; 6 repeats it; 8 is
    // the code being defined now: "1 1" plus its own first pixel.
    Result r = Decode(Pack(2, {{4, 3}, {1, 3}, {1, 3}, {6, 3}, {8, 4}, {5, 4}}), 8, 1);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 1, 1, 0}));
}

TEST(GifLzw, FullTableKeepsTwelveBitCodes)
{
    // 5000 literal pixels: the table fills at 4096 and codes stay 12 bits.
    std::vector<std::uint8_t> pixels(5000);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7);
    Result r = Decode(Pack(8, Literals(8, pixels)), 100, 50);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.pixels, pixels);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(GifLzw, gif_one_byte_subblocks)
{
    // Codes of 9 to 12 bits each spread over two or three 1-byte sub-blocks.
    std::vector<std::uint8_t> pixels(3000);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i ^ (i >> 3));
    for (size_t block : {1u, 2u, 3u, 255u}) {
        std::vector<std::uint8_t> data = Pack(8, Literals(8, pixels), block);
        data.push_back(0x3B);
        Result r = Decode(data, 60, 50);
        EXPECT_EQ(r.error, "") << block;
        EXPECT_EQ(r.pixels, pixels) << block;
        EXPECT_EQ(r.position, static_cast<std::int64_t>(data.size()) - 1) << block;
    }
}

TEST(GifLzw, LongStringsAcrossRowsAndThePicturesEnd)
{
    // Runs and repeats make strings of up to hundreds of pixels, copied
    // from where the picture already holds them; narrow interlaced rows cut
    // them across rows, and data longer than the picture ends mid-string.
    const struct {
        int width, height;
        bool interlaced;
        int codeSize;
        int extra;  // pixels of data past the picture
    } cases[] = {{64, 40, false, 2, 0}, {64, 40, true, 2, 0}, {3, 50, true, 2, 0}, {1000, 7, false, 8, 0},
                 {17, 17, true, 4, 0}, {31, 9, false, 2, 300}, {5, 23, true, 2, 77}};
    for (const auto& c : cases) {
        const size_t count = static_cast<size_t>(c.width) * static_cast<size_t>(c.height);
        std::vector<std::uint8_t> data(count + static_cast<size_t>(c.extra));
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>((i / 401) % 3 == 0 ? 1 : (i * i / 7) % (1u << c.codeSize));
        std::vector<std::uint8_t> packed = Pack(c.codeSize, Compress(c.codeSize, data));
        packed.push_back(0x3B);
        Result r = Decode(packed, c.width, c.height, c.interlaced, 0xEE);
        const std::string name = std::to_string(c.width) + " x " + std::to_string(c.height);
        ASSERT_EQ(r.error, "") << name;
        EXPECT_TRUE(r.warnings.empty()) << name;
        const std::vector<int> rows = c.interlaced ? InterlacedRows(c.height) : std::vector<int> {};
        std::vector<std::uint8_t> expected(count);
        for (int y = 0; y < c.height; ++y) {
            const size_t from = static_cast<size_t>(c.interlaced ? rows[static_cast<size_t>(y)] : y) * c.width;
            std::copy_n(data.begin() + static_cast<long>(from), c.width,
                        expected.begin() + static_cast<long>(static_cast<size_t>(y) * c.width));
        }
        EXPECT_EQ(r.pixels, expected) << name;
        // A picture filled exactly goes on to its end code and terminator;
        // one whose last string runs past it stops there.
        if (c.extra == 0)
            EXPECT_EQ(r.position, static_cast<std::int64_t>(packed.size()) - 1) << name;
        else
            EXPECT_LT(r.position, static_cast<std::int64_t>(packed.size()) - 1) << name;
    }
}

TEST(GifLzw, CodesUsedBeforeTheyExist)
{
    // Size 3: clear 8, end 9. 14 is past the table: "1 1", and the next
    // entry (11) links to 14, still undefined when 11 is used, which reads
    // as pixel 0 linked to pixel 0; 12 is then a plain entry again.
    Result r = Decode(Pack(3, {{8, 4}, {1, 4}, {14, 4}, {2, 4}, {11, 4}, {12, 4}, {9, 4}}), 9, 1);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t> {1, 1, 1, 2, 0, 0, 2, 2, 0}));
}

TEST(GifLzw, gif_lzw_cycle)
{
    const struct {
        const char* name;
        std::vector<Code> codes;
    } cases[] = {
        // Entry 6 links to itself.
        {"self", {{4, 3}, {6, 3}, {7, 3}, {6, 3}, {5, 3}}},
        // Entries 6 and 7 link to each other.
        {"two codes", {{4, 3}, {7, 3}, {6, 3}, {7, 3}, {7, 4}, {5, 4}}},
    };
    for (const auto& row : cases) {
        Result r = Decode(Pack(2, row.codes), 64, 64);
        EXPECT_EQ(r.error, "Circular decoder table entry") << row.name;
    }
}

TEST(GifLzw, ShortAndDamagedDataKeepsTheFill)
{
    // Transparent index 9 stays where the data stops; the warning says so.
    std::vector<std::uint8_t> data = Pack(4, Literals(4, {1, 2, 3}));
    data.resize(data.size() - 2);  // no end code, no terminator
    Result r = Decode(data, 3, 2, false, 9);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{1, 2, 3, 9, 9, 9}));

    // A sub-block longer than the rest of the stream.
    std::vector<std::uint8_t> longBlock{4, 200, 0x10, 0x12};
    r = Decode(longBlock, 2, 1);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_EQ(r.warnings[0], "Premature end of data");

    // No code size at all: all fill, no message.
    r = Decode({}, 2, 2, false, 4);
    EXPECT_EQ(r.pixels, std::vector<std::uint8_t>(4, 4));
    EXPECT_TRUE(r.warnings.empty());

    // A code size whose clear code has no room in the table.
    r = Decode({12, 1, 0, 0}, 1, 1);
    EXPECT_EQ(r.error, "Invalid LZW code size");
}

}  // namespace
