// The library's own inflate and Deflate64 decoder: streams made by zlib
// decode to their input, and crafted streams (distance codes 30 and 31 in
// deflate mode, distances before the first output byte, over-subscribed
// code lengths, truncation) end as errors without reading or writing
// outside the window.
#include "../archive/zip_writer.h"
#include "bit_writer.h"
#include "decode_support.h"
#include "archive/zadinflate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

Decoded Decode(const std::string& packed, std::int64_t unpacked, bool deflate64 = false)
{
    is64Bit = deflate64;
    const Decoded d = RunDecoder(packed, unpacked, 0, [](const TInflateRec& rec, const TInflateProc& proc) {
        TStream32* out = nullptr;
        return InflateEx(nullptr, nullptr, out, rec, proc);
    });
    is64Bit = false;
    return d;
}

// Fixed-code literal (0..143: 8 bits from 0x30).
void FixedLiteral(BitWriter& w, int lit) { w.PutCode(0x30 + static_cast<std::uint32_t>(lit), 8); }

}  // namespace

TEST(Inflate, DecodesWhatZlibDeflates)
{
    std::mt19937 rng(7);
    std::string mixed;
    for (int i = 0; i < 300000; ++i)
        mixed.push_back(static_cast<char>((i % 1000 < 500) ? rng() % 4 + 'a' : rng()));
    const struct {
        std::string data;
        int level;
    } cases[] = {{"", 6}, {"a", 0}, {std::string(100000, 'z'), 9}, {mixed, 1}, {mixed, 9}, {mixed.substr(0, 70000), 0}};
    for (const auto& c : cases) {
        const Decoded d = Decode(zipwriter::Deflate(c.data, c.level), static_cast<std::int64_t>(c.data.size()));
        EXPECT_EQ(d.result, TInflateResult::Ok) << c.data.size() << " level " << c.level;
        EXPECT_TRUE(d.out == c.data) << c.data.size() << " level " << c.level;
    }
}

TEST(Inflate, StoredBlockOfLengthZeroThenMore)
{
    BitWriter w;
    w.Put(0, 1);  // not last
    w.Put(0, 2);  // stored
    w.used = 8;   // to the byte boundary
    w.bytes += std::string("\x00\x00\xFF\xFF", 4);
    w.Put(1, 1);
    w.Put(1, 2);  // fixed
    FixedLiteral(w, 'A');
    w.PutCode(0, 7);  // end of block (256)
    const Decoded d = Decode(w.bytes, 1);
    EXPECT_EQ(d.result, TInflateResult::Ok);
    EXPECT_EQ(d.out, "A");
}

TEST(Inflate, CraftedStreamsFailCleanly)
{
    // A literal, then a match whose distance code is 30 (valid only in Deflate64).
    BitWriter d30;
    d30.Put(1, 1);
    d30.Put(1, 2);
    FixedLiteral(d30, 'x');
    d30.PutCode(1, 7);   // length code 257: length 3
    d30.PutCode(30, 5);  // distance code 30
    d30.Put(0, 14);
    d30.PutCode(0, 7);

    // A match reaching before the first byte produced.
    BitWriter before;
    before.Put(1, 1);
    before.Put(1, 2);
    FixedLiteral(before, 'x');
    before.PutCode(1, 7);  // length 3
    before.PutCode(3, 5);  // distance 4, with one byte produced
    before.PutCode(0, 7);

    // Dynamic header whose code-length code is over-subscribed (three codes of length 1).
    BitWriter over;
    over.Put(1, 1);
    over.Put(2, 2);
    over.Put(0, 5);
    over.Put(0, 5);
    over.Put(0, 4);  // 4 code-length codes: 16, 17, 18, 0
    over.Put(1, 3);
    over.Put(1, 3);
    over.Put(1, 3);
    over.Put(0, 3);
    over.Put(0, 32);

    // Block type 3.
    BitWriter type3;
    type3.Put(1, 1);
    type3.Put(3, 2);
    type3.Put(0, 16);

    const struct {
        const char* what;
        std::string bytes;
        bool deflate64;
        TInflateResult expected;
    } cases[] = {
        {"distance code 30 in deflate", d30.bytes, false, TInflateResult::InvalidData},
        {"distance before the output", before.bytes, false, TInflateResult::InvalidData},
        {"distance before the output (Deflate64)", before.bytes, true, TInflateResult::InvalidData},
        {"over-subscribed code lengths", over.bytes, false, TInflateResult::InvalidData},
        {"block type 3", type3.bytes, false, TInflateResult::InvalidData},
        {"truncated", zipwriter::Deflate(std::string(5000, 'q') + "tail").substr(0, 5), false, TInflateResult::InputExhausted},
        {"empty input", std::string(), false, TInflateResult::InputExhausted},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.bytes, 100, c.deflate64);
        EXPECT_EQ(d.result, c.expected) << c.what;
    }
}

TEST(Inflate, Deflate64LongLengthAndFarDistance)
{
    // Literal 'a', then length code 285 with 16 extra bits (length 3 + 60000)
    // at distance 1, then a match at distance 32,769 (code 30).
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    FixedLiteral(w, 'a');
    w.PutCode(0xC5, 8);  // code 285 (280..287: 8 bits from 0xC0)
    w.Put(60000, 16);
    w.PutCode(0, 5);  // distance 1
    FixedLiteral(w, 'b');
    w.PutCode(1, 7);     // length 3
    w.PutCode(30, 5);    // distance 32769 + extra
    w.Put(0, 14);
    w.PutCode(0, 7);
    const Decoded d = Decode(w.bytes, 60008, true);
    ASSERT_EQ(d.result, TInflateResult::Ok);
    ASSERT_EQ(d.out.size(), 60008u);
    EXPECT_EQ(d.out.substr(0, 60004), std::string(60004, 'a'));
    EXPECT_EQ(d.out[60004], 'b');
    EXPECT_EQ(d.out.substr(60005), "aaa");

    // The same stream in deflate mode: code 285 is length 258 without extra
    // bits, so the rest of the stream no longer decodes to that output.
    const Decoded plain = Decode(w.bytes, 60008, false);
    EXPECT_NE(plain.out, d.out);
}

TEST(Inflate, BuildHuffmanTableResults)
{
    const std::uint8_t complete[] = {1, 2, 3, 3};
    const std::uint8_t incomplete[] = {1, 2, 3};
    const std::uint8_t over[] = {1, 1, 1};
    const std::uint8_t tooLong[] = {16, 1};
    THuftTable t;
    EXPECT_EQ(BuildHuffmanTable(complete, 4, 4, nullptr, nullptr, 7, t), 0);
    EXPECT_EQ(BuildHuffmanTable(incomplete, 3, 3, nullptr, nullptr, 7, t), 1);
    EXPECT_EQ(BuildHuffmanTable(over, 3, 3, nullptr, nullptr, 7, t), 2);
    EXPECT_EQ(BuildHuffmanTable(tooLong, 2, 2, nullptr, nullptr, 7, t), 2);
}
