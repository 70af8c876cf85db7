// The LZH decoders on their own: hand-built static Huffman blocks for every
// caller's parameters, ARJ method 4 streams, lh1 through its own packer, and
// hostile tables, distances and truncations.
#include "archive/zadlh1.h"
#include "archive/zadlzh.h"
#include "arc_arj/lzh_encoders.h"
#include "fuzz/lzh_decode_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Runs a decoder over bytes; out receives what the sink took.
struct Decoded {
    std::string out;
    TLzhResult result = TLzhResult::Ok;
    std::int64_t read = 0;  // packed bytes the decoder asked for and got
};

TLzhSource SourceOf(const std::string& packed, std::int64_t& read, std::int32_t piece = 1 << 20)
{
    return [&packed, &read, piece](std::uint8_t* buf, std::int32_t count) -> std::int32_t {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>({count, piece, static_cast<std::int64_t>(packed.size()) - read}));
        std::copy_n(packed.data() + read, n, buf);
        read += n;
        return n;
    };
}

TLzhSink SinkOf(std::string& out)
{
    return [&out](const std::uint8_t* buf, std::int32_t count) {
        out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(count));
        return true;
    };
}

Decoded DecodeStatic(const std::string& packed, std::int64_t size, TLzhParams params)
{
    Decoded r;
    TLzhDecoder d;
    r.result = d.Decode(params, size, SourceOf(packed, r.read), SinkOf(r.out));
    return r;
}

Decoded DecodeFast(const std::string& packed, std::int64_t size)
{
    Decoded r;
    TLzhDecoder d;
    r.result = d.DecodeFast(size, SourceOf(packed, r.read), SinkOf(r.out));
    return r;
}

Decoded DecodeLh1(const std::string& packed, std::int64_t size, std::int32_t piece = 1 << 20)
{
    Decoded r;
    r.result = Lh1Decode(size, SourceOf(packed, r.read, piece), SinkOf(r.out));
    return r;
}

std::string Pack(const std::string& text)
{
    std::string packed;
    std::int64_t read = 0;
    EXPECT_EQ(LzhPack(SourceOf(text, read, 1000), SinkOf(packed)), TLzhResult::Ok);
    return packed;
}

std::string Text(size_t size, unsigned seed, int alphabet = 26)
{
    std::mt19937 rng(seed);
    std::string words[64];
    for (auto& w : words) {
        const int len = 2 + static_cast<int>(rng() % 8);
        for (int i = 0; i < len; ++i)
            w.push_back(static_cast<char>('a' + rng() % static_cast<unsigned>(alphabet)));
    }
    std::string s;
    while (s.size() < size)
        s += words[rng() % 64] + (rng() % 9 == 0 ? "\n" : " ");
    s.resize(size);
    return s;
}

std::string Noise(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

}  // namespace

// ---- static Huffman blocks

TEST(LzhStatic, DecodesBlocksForEveryCallersParameters)
{
    struct Case {
        const char* caller;
        TLzhParams params;
    };
    const Case cases[] = {{"lh4", {12, 4}}, {"lh5, ZOO 2, BH 1", {13, 4}}, {"lh6, BH 3", {15, 5}}, {"lh7, ARJ 1-3", {16, 5}}};
    const std::string text = Text(50000, 1) + Noise(3000, 2) + Text(20000, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caller);
        const int maxDistance = (1 << c.params.DicBits) - 1;
        const auto tokens = Tokenize(text, 3, 256, std::min(maxDistance, 3000));
        // Small blocks, so that tables are rebuilt many times.
        const std::string packed = StaticStream(tokens, c.params.DicBits, c.params.PBits, 5000);
        const Decoded r = DecodeStatic(packed, static_cast<std::int64_t>(text.size()), c.params);
        EXPECT_EQ(r.result, TLzhResult::Ok);
        EXPECT_TRUE(r.out == text);
    }
}

TEST(LzhStatic, FarMatchesAndWindowWrap)
{
    // Distances up to the dictionary's reach (BH method 3's 15 bits, ARJ's
    // 16), matches overlapping themselves, and matches across the 64 KB
    // window's end.
    const std::string head = Noise(40000, 7);
    std::string text = head + Noise(100, 8);
    std::vector<LzToken> tokens = Literals(text);
    const auto copy = [&](int length, int distance) {
        tokens.push_back({length, distance});
        for (int k = 0; k < length; ++k)
            text.push_back(text[text.size() - static_cast<size_t>(distance) - 1]);
    };
    copy(256, 32767);   // 15 dictionary bits' farthest
    copy(200, 0);       // a run of one byte
    for (int i = 0; i < 200; ++i)
        copy(250, 30000);  // crosses 65,536 and wraps
    for (const TLzhParams p : {TLzhParams{15, 5}, TLzhParams{16, 5}}) {
        const Decoded r = DecodeStatic(StaticStream(tokens, p.DicBits, p.PBits), static_cast<std::int64_t>(text.size()), p);
        EXPECT_EQ(r.result, TLzhResult::Ok);
        EXPECT_TRUE(r.out == text);
    }
}

TEST(LzhStatic, SingleSymbolTablesTakeNoBits)
{
    // Pre-table and position table of one symbol (count 0), literal table
    // of one symbol: every symbol of the block is that literal, for no bits.
    MsbBitWriter w;
    w.Put(9, 16);  // nine symbols
    w.Put(0, 5);
    w.Put(4, 5);   // pre-table: only symbol 4
    w.Put(0, 9);
    w.Put('x', 9); // literal table: only 'x'
    w.Put(0, 4);
    w.Put(0, 4);   // position table: only 0
    w.Put(0, 8);   // the stream's last byte
    const Decoded r = DecodeStatic(w.bytes, 9, {13, 4});
    EXPECT_EQ(r.result, TLzhResult::Ok);
    EXPECT_EQ(r.out, "xxxxxxxxx");
}

TEST(LzhStatic, RefusesHostileBlocks)
{
    const auto block = [](auto tables) {
        MsbBitWriter w;
        w.Put(100, 16);
        tables(w);
        w.Put(0, 32);
        return w.bytes;
    };
    const std::vector<int> ptLens = FlatLengths(19);
    struct Case {
        const char* fault;
        std::string packed;
        TLzhResult expected;
    };
    const Case cases[] = {
        {"zero block count", std::string(8, '\0'), TLzhResult::BadData},
        {"pre-table count beyond 19", block([](MsbBitWriter& w) { w.Put(20, 5); }), TLzhResult::BadData},
        {"pre-table single symbol outside it", block([](MsbBitWriter& w) { w.Put(0, 5); w.Put(19, 5); }), TLzhResult::BadData},
        {"pre-table code length 20",
         block([](MsbBitWriter& w) {
             w.Put(3, 5);
             w.Put(7, 3);
             w.Put(0x1FFF, 13);  // a run of 1 bits to the end of the peek
         }),
         TLzhResult::BadData},
        {"pre-table that does not fill its code space",
         block([](MsbBitWriter& w) {
             w.Put(2, 5);
             w.Put(2, 3);
             w.Put(2, 3);
         }),
         TLzhResult::BadData},
        {"literal table count beyond 510",
         block([&](MsbBitWriter& w) {
             PutPtLengths(w, ptLens, 5, 3);
             w.Put(511, 9);
         }),
         TLzhResult::BadData},
        {"literal table single symbol outside it",
         block([&](MsbBitWriter& w) {
             PutPtLengths(w, ptLens, 5, 3);
             w.Put(0, 9);
             w.Put(510, 9);
         }),
         TLzhResult::BadData},
        {"literal table zero run past 510",
         block([&](MsbBitWriter& w) {
             PutPtLengths(w, ptLens, 5, 3);
             w.Put(510, 9);
             const auto codes = CanonicalCodes(ptLens);
             w.Put(codes[2], ptLens[2]);
             w.Put(511, 9);  // 531 zero lengths
         }),
         TLzhResult::BadData},
        {"position table single symbol outside it",
         block([&](MsbBitWriter& w) {
             PutPtLengths(w, ptLens, 5, 3);
             w.Put(0, 9);
             w.Put('a', 9);
             w.Put(0, 4);
             w.Put(14, 4);
         }),
         TLzhResult::BadData},
        {"position table count beyond its symbols",
         block([&](MsbBitWriter& w) {
             PutPtLengths(w, ptLens, 5, 3);
             w.Put(0, 9);
             w.Put('a', 9);
             w.Put(15, 4);
         }),
         TLzhResult::BadData},
        {"distance before the first byte", StaticStream({{0, 'a'}, {5, 3}}, 13, 4), TLzhResult::BadData},
        {"data cut inside the tables", StaticStream(Literals("abc"), 13, 4).substr(0, 40), TLzhResult::Truncated},
        {"data cut before the last symbols", StaticStream(Literals(Noise(500, 3)), 13, 4).substr(0, 400),
         TLzhResult::Truncated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const Decoded r = DecodeStatic(c.packed, 500, {13, 4});
        EXPECT_EQ(r.result, c.expected);
        EXPECT_LE(r.out.size(), 500u);
    }
}

TEST(LzhStatic, OutputStopsAtTheDeclaredSizeAndWhenTheSinkRefuses)
{
    const std::string text = Text(100000, 4);
    const std::string packed = StaticStream(Tokenize(text, 3, 256, 4000), 13, 4);
    // A declared size shorter than the data: exactly that many bytes.
    Decoded r = DecodeStatic(packed, 70001, {13, 4});
    EXPECT_EQ(r.result, TLzhResult::Ok);
    EXPECT_TRUE(r.out == text.substr(0, 70001));
    // A refusing sink ends the decode.
    TLzhDecoder d;
    std::int64_t read = 0;
    int calls = 0;
    EXPECT_EQ(d.Decode({13, 4}, 100000, SourceOf(packed, read), [&](const std::uint8_t*, std::int32_t) { return ++calls < 1; }),
              TLzhResult::Stopped);
    EXPECT_EQ(calls, 1);
}

// ---- ARJ method 4

TEST(LzhFast, DecodesLiteralsMatchesAndTheWidestCodes)
{
    std::string text = Noise(20000, 9);
    std::vector<LzToken> tokens = Literals(text);
    const auto copy = [&](int length, int distance) {
        tokens.push_back({length, distance});
        for (int k = 0; k < length; ++k)
            text.push_back(text[text.size() - static_cast<size_t>(distance) - 1]);
    };
    copy(256, 15871);  // seven length ones and four distance ones: both widest fields full
    copy(3, 0);
    copy(129, 511);
    copy(130, 512);
    for (int i = 0; i < 300; ++i)
        copy(200, 15000);  // wraps the 32 KB window
    const Decoded r = DecodeFast(FastStream(tokens), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(r.result, TLzhResult::Ok);
    EXPECT_TRUE(r.out == text);

    const std::string prose = Text(30000, 5);
    const Decoded p = DecodeFast(FastStream(Tokenize(prose, 3, 256, 4000)), static_cast<std::int64_t>(prose.size()));
    EXPECT_EQ(p.result, TLzhResult::Ok);
    EXPECT_TRUE(p.out == prose);
}

TEST(LzhFast, RefusesDistancesBeforeTheStartAndCutData)
{
    EXPECT_EQ(DecodeFast(FastStream({{0, 'a'}, {4, 1}}), 100).result, TLzhResult::BadData);
    const std::string packed = FastStream(Literals(Noise(300, 1)));
    const Decoded r = DecodeFast(packed.substr(0, 200), 300);
    EXPECT_EQ(r.result, TLzhResult::Truncated);
    EXPECT_LT(r.out.size(), 300u);
}

// ---- lh1

TEST(Lh1, PackerRoundTrips)
{
    struct Case {
        const char* what;
        std::string text;
    };
    std::string tree;
    // Enough of one symbol to reach the root count of 0x8000 several times.
    for (int i = 0; i < 200000; ++i)
        tree.push_back(static_cast<char>(i % 97 == 0 ? 'q' : 'a' + (i * 7) % 3));
    const Case cases[] = {
        {"one byte", "z"},
        {"a run of 4,097 bytes", std::string(4097, 'r')},
        {"text", Text(300000, 6)},
        {"noise", Noise(70000, 7)},
        {"tree rebuilds", tree},
        {"spaces the dictionary starts with", std::string(100, ' ') + "x" + std::string(70, ' ')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string packed = Pack(c.text);
        const Decoded r = DecodeLh1(packed, static_cast<std::int64_t>(c.text.size()), 777);
        EXPECT_EQ(r.result, TLzhResult::Ok);
        EXPECT_TRUE(r.out == c.text);
        EXPECT_EQ(r.read, static_cast<std::int64_t>(packed.size()));
    }
    EXPECT_LT(Pack(std::string(4097, 'r')).size(), 200u);
    EXPECT_LT(Pack(Text(300000, 6)).size(), 300000u / 2);
}

TEST(Lh1, EmptyInputPacksToNothing) { EXPECT_EQ(Pack(""), ""); }

TEST(Lh1, FirstMatchCopiesTheDictionarysSpaces)
{
    // The packer finds the leading spaces already in the primed dictionary.
    const std::string text = std::string(60, ' ') + "end";
    const std::string packed = Pack(text);
    EXPECT_LT(packed.size(), 10u);
    EXPECT_EQ(DecodeLh1(packed, static_cast<std::int64_t>(text.size())).out, text);
}

TEST(Lh1, FailsInsteadOfInventingOutput)
{
    const std::string text = Text(50000, 8);
    const std::string packed = Pack(text);
    // A declared size beyond the data, and data cut short: the decoder stops
    // once it has used the packed bytes, with what they held.
    for (const auto& [packedPart, size] :
         {std::pair{packed, std::int64_t{1} << 40}, std::pair{packed.substr(0, packed.size() / 2), std::int64_t{50000}}}) {
        const Decoded r = DecodeLh1(packedPart, size);
        EXPECT_EQ(r.result, TLzhResult::Truncated);
        EXPECT_LE(r.out.size(), text.size() + 60);
        EXPECT_EQ(r.read, static_cast<std::int64_t>(packedPart.size()));
    }
    EXPECT_EQ(DecodeLh1("", 10).result, TLzhResult::Truncated);
}

// ---- the fuzz corpus

TEST(LzhFuzz, ReplaysTheCorpus)
{
    const int ran = ReplayFuzzCorpus("lzh_decode", [](const std::string& b) {
        LzhDecodeOne(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    });
    EXPECT_GE(ran, 11);
}
