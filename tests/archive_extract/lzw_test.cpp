// The LZW decoders. compress: the fixtures of "compress -b10" to "-b16"
// (made by scripts/make-gzip-tar-fixtures.sh; their decoded sizes and
// CRC-32s come from "uncompress -c") decode through every code width and
// the CLEARs that follow a full table; crafted code streams show KwKwK,
// CLEAR, codes past the table and bad headers. ZOO method 1: crafted
// streams and a round trip through a test encoder that fills the 13-bit
// table, keeps on without clearing, then clears.
#include "archive/zadcrc.h"
#include "archive/zadlzw.h"
#include "bit_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Fixture(const std::string& name)
{
    std::ifstream f(std::string(VISTREL_TEST_DATA) + "/fixtures/" + name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Hands out the bytes at most chunk at a time, as a bounded reader does.
class StringSource : public TLzwSource {
public:
    StringSource(const std::string& data, std::size_t chunk) : m_data(data), m_chunk(chunk) {}
    std::size_t Read(std::uint8_t* buffer, std::size_t cap) override
    {
        const std::size_t n = std::min({cap, m_chunk, m_data.size() - m_pos});
        std::memcpy(buffer, m_data.data() + m_pos, n);
        m_pos += n;
        return n;
    }

private:
    const std::string& m_data;
    std::size_t m_chunk;
    std::size_t m_pos = 0;
};

// Collects what is written; refuses everything once limit bytes are held.
class StringSink : public TLzwSink {
public:
    explicit StringSink(std::size_t limit = SIZE_MAX) : m_limit(limit) {}
    bool Write(const std::uint8_t* data, std::size_t count) override
    {
        if (out.size() + count > m_limit)
            return false;
        out.append(reinterpret_cast<const char*>(data), count);
        return true;
    }
    std::string out;

private:
    std::size_t m_limit;
};

struct Result {
    TLzwResult result;
    std::string out;
};

Result Uncompress(const std::string& z, std::size_t chunk = 1 << 20)
{
    StringSource in(z, chunk);
    StringSink out;
    TLzwBuffers b;
    const TLzwResult r = DecodeCompressStream(in, out, b);
    return {r, out.out};
}

Result Unzoo(const std::string& packed)
{
    StringSource in(packed, 1 << 20);
    StringSink out;
    TZooLzwBuffers b;
    const TLzwResult r = DecodeZooLzw(in, out, b);
    return {r, out.out};
}

// A .Z stream of 9-bit codes in block mode with maxbits 12. Each CLEAR is
// followed by zero codes up to the end of its group of eight, as the
// encoder pads it.
std::string NineBitCodes(const std::vector<int>& codes)
{
    BitWriter w;
    w.PutBytes(std::string("\x1F\x9D\x8C", 3));
    int inGroup = 0;
    for (int c : codes) {
        w.Put(static_cast<std::uint32_t>(c), 9);
        inGroup = (inGroup + 1) % 8;
        if (c == 256)
            for (; inGroup != 0; inGroup = (inGroup + 1) % 8)
                w.Put(0, 9);
    }
    return w.bytes;
}

TEST(Lzw, CompressFixturesDecodeAtEveryWidth)
{
    std::istringstream expected(Fixture("lzw/expected.txt"));
    std::string name, crcHex;
    std::size_t size = 0;
    int files = 0;
    while (expected >> name >> size >> crcHex) {
        SCOPED_TRACE(name);
        ++files;
        const std::string z = Fixture("lzw/" + name);
        for (std::size_t chunk : {std::size_t(1) << 20, std::size_t(7)}) {
            const Result r = Uncompress(z, chunk);
            EXPECT_EQ(r.result, TLzwResult::Ok);
            ASSERT_EQ(r.out.size(), size);
            const std::uint32_t crc = ~Crc32_buf(r.out.data(), r.out.size(), 0xFFFFFFFFu);
            EXPECT_EQ(crc, std::stoul(crcHex, nullptr, 16));
        }
    }
    EXPECT_EQ(files, 7);
}

TEST(Lzw, CompressCodeStreams)
{
    const struct {
        const char* what;
        std::vector<int> codes;
        TLzwResult result;
        std::string out;
    } cases[] = {
        {"empty", {}, TLzwResult::Ok, ""},
        {"first code no character", {300}, TLzwResult::Corrupt, ""},
        {"KwKwK", {'a', 257}, TLzwResult::Ok, "aaa"},
        {"code past the next free one", {'a', 'b', 259}, TLzwResult::Corrupt, "ab"},
        {"strings", {'a', 'b', 257, 258, 'c'}, TLzwResult::Ok, "ababbac"},
        // After a CLEAR, 257 is defined anew: here by KwKwK, not as "ab".
        {"CLEAR restarts the table", {'a', 'b', 257, 256, 'c', 257}, TLzwResult::Ok, "ababccc"},
        {"stale code after CLEAR", {'a', 'b', 257, 258, 256, 'c', 258}, TLzwResult::Corrupt, "ababbac"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = Uncompress(NineBitCodes(c.codes));
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Lzw, WithoutBlockMode256IsAnOrdinaryCode)
{
    BitWriter w;
    w.Put('a', 9);
    w.Put(256, 9);
    StringSource in(w.bytes, 64);
    StringSink out;
    TLzwBuffers b;
    EXPECT_EQ(DecodeLzwCodes(in, out, 12, false, b), TLzwResult::Ok);
    EXPECT_EQ(out.out, "aaa");
}

TEST(Lzw, RefusesHeadersItCannotDecode)
{
    for (const char* header : {"\x1F\x9D\x91", "\x1F\x9D\x88", "\x1F\x9D\xAC", "\x1F\x9D\xCC", "\x1F\x8B\x8C", "\x1F\x9D"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(header)));
        const Result r = Uncompress(std::string(header) + "abcdef");
        EXPECT_EQ(r.result, TLzwResult::BadHeader);
        EXPECT_EQ(r.out, "");
    }
    StringSource in(std::string("abc"), 1);
    StringSink out;
    TLzwBuffers b;
    EXPECT_EQ(DecodeLzwCodes(in, out, 17, true, b), TLzwResult::BadHeader);
    EXPECT_EQ(DecodeLzwCodes(in, out, 8, true, b), TLzwResult::BadHeader);
}

TEST(Lzw, ARefusedWriteStopsTheDecode)
{
    const std::string z = Fixture("lzw/b16.Z");
    StringSource in(z, 1 << 20);
    StringSink out(100000);
    TLzwBuffers b;
    EXPECT_EQ(DecodeCompressStream(in, out, b), TLzwResult::WriteFailed);
    EXPECT_LE(out.out.size(), 100000u);
}

// ZOO method 1 codes: 9 bits until the table passes 512 entries, and so on.
std::string ZooCodes(const std::vector<int>& codes)
{
    BitWriter w;
    for (int c : codes)
        w.Put(static_cast<std::uint32_t>(c), 9);
    return w.bytes;
}

TEST(Lzw, ZooCodeStreams)
{
    std::vector<int> cycle = {256, 'a', 300, 301};
    // Literals until the next free code is 299; then 259 (whose next is the
    // undefined 300) makes 299, and the character after it defines 300 with
    // 259 as its next: 300 -> 259 -> 300 -> ...
    for (int i = 0; i < 39; ++i)
        cycle.push_back('x');
    cycle.insert(cycle.end(), {259, 'z', 300, 257});
    const struct {
        const char* what;
        std::vector<int> codes;
        TLzwResult result;
        std::string out;
    } cases[] = {
        {"strings", {256, 'a', 'b', 258, 257}, TLzwResult::Ok, "abab"},
        {"KwKwK", {256, 'a', 258, 257}, TLzwResult::Ok, "aaa"},
        {"only CLEAR and end", {256, 257}, TLzwResult::Ok, ""},
        {"no end code", {256, 'a', 'b'}, TLzwResult::Corrupt, "ab"},
        {"code after CLEAR no character", {256, 300, 257}, TLzwResult::Corrupt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = Unzoo(ZooCodes(c.codes));
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.out, c.out);
    }
    const Result r = Unzoo(ZooCodes(cycle));
    EXPECT_EQ(r.result, TLzwResult::Corrupt);
}

// A ZOO method 1 encoder: it writes each code at the width the decoder
// will read it at (the decoder defines an entry one code later than the
// encoder), keeps 13-bit codes once the table is full, and sends a CLEAR
// where asked.
std::string ZooEncode(const std::string& data, std::size_t clearAt)
{
    BitWriter w;
    std::map<std::pair<int, std::uint8_t>, int> dict;
    int width = 9, maxCode = 512, decoderFree = 258, encoderFree = 258;
    bool firstAfterClear = true;
    const auto put = [&](int code) {
        w.Put(static_cast<std::uint32_t>(code), width);
        if (firstAfterClear) {
            firstAfterClear = false;
            return;
        }
        if (decoderFree < 8192 && ++decoderFree >= maxCode && width < 13) {
            ++width;
            maxCode <<= 1;
        }
    };
    const auto clear = [&] {
        w.Put(256, width);
        width = 9;
        maxCode = 512;
        decoderFree = encoderFree = 258;
        dict.clear();
        firstAfterClear = true;
    };
    clear();
    int prefix = -1;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto c = static_cast<std::uint8_t>(data[i]);
        if (i == clearAt && prefix >= 0) {
            put(prefix);
            clear();
            prefix = -1;
        }
        if (prefix < 0) {
            prefix = c;
            continue;
        }
        const auto found = dict.find({prefix, c});
        if (found != dict.end()) {
            prefix = found->second;
            continue;
        }
        put(prefix);
        if (encoderFree < 8192)
            dict[{prefix, c}] = encoderFree++;
        prefix = c;
    }
    if (prefix >= 0)
        put(prefix);
    w.Put(257, width);
    return w.bytes;
}

TEST(Lzw, ZooRoundTripThroughAFullTable)
{
    std::mt19937 rng(11);
    std::string data;
    const char* words[] = {"zoo ", "lzw ", "table ", "code ", "clear ", "width "};
    while (data.size() < 400000) {
        data += words[rng() % 6];
        if (rng() % 3 == 0)
            data += static_cast<char>('a' + rng() % 26);
    }
    const Result r = Unzoo(ZooEncode(data, 300000));
    EXPECT_EQ(r.result, TLzwResult::Ok);
    EXPECT_TRUE(r.out == data) << "decoded " << r.out.size() << " of " << data.size() << " bytes";
}

} // namespace
