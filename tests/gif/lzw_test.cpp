// The LZW decoder of GIF frames, on code streams built here code by code:
// where it leaves the stream, interlaced row order, the table's growth,
// codes spread over the smallest sub-blocks, and damaged tables.
#include "imaging/gif/giflzw.h"
#include "gif/gif_bytes.h"

#include <gtest/gtest.h>

#include <string>
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
