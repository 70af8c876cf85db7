// The shrink, reduce and explode decoders on their own: what the test
// encoders make decodes to its input (the fixtures show that unzip and 7z
// read the same streams), and crafted streams show each rule the decoders
// keep: shrink's code widths, partial clears and chain bound; reduce's
// follower sets, ring and ending by size; explode's trees and window.
#include "archive/zadexplode.h"
#include "archive/zadreduce.h"
#include "archive/zadshrink.h"
#include "bit_writer.h"
#include "decode_support.h"
#include "legacy_encoders.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace {

struct Faulted : Decoded {
    int fault = 0;
};

Faulted Unshrunk(const std::string& packed, std::int64_t unpacked)
{
    Faulted f;
    static_cast<Decoded&>(f) = RunDecoder(packed, unpacked, 0, [&](const TInflateRec& rec, const TInflateProc& proc) {
        TShrinkBuffers b;
        TStream32* out = nullptr;
        return Unshrink(nullptr, out, rec, proc, b, f.fault);
    });
    return f;
}

Faulted Unreduced(const std::string& packed, std::int64_t unpacked, int factor)
{
    Faulted f;
    static_cast<Decoded&>(f) = RunDecoder(packed, unpacked, 0, [&](const TInflateRec& rec, const TInflateProc& proc) {
        TReduceBuffers b;
        TStream32* out = nullptr;
        return Unreduce(nullptr, out, rec, proc, factor, b, f.fault);
    });
    return f;
}

Decoded Exploded(const std::string& packed, std::int64_t unpacked, WORD flags)
{
    return RunDecoder(packed, unpacked, flags, [](const TInflateRec& rec, const TInflateProc& proc) {
        TExplodeBuffers b;
        TStream32* out = nullptr;
        return Explode(nullptr, out, rec, proc, b);
    });
}

std::string Noise(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

// Shrink codes in the width the decoder expects at each point.
std::string Codes(std::initializer_list<std::pair<int, int>> codeAndWidth)
{
    BitWriter w;
    for (const auto& [code, width] : codeAndWidth)
        w.Put(static_cast<std::uint32_t>(code), width);
    return w.bytes;
}

// Reduce's follower sets, from byte 255 down to 0; sets[b] for byte b.
void PutFollowerSets(BitWriter& w, const std::map<int, std::string>& sets)
{
    for (int b = 255; b >= 0; --b) {
        const auto it = sets.find(b);
        const std::string s = it == sets.end() ? std::string() : it->second;
        w.Put(static_cast<std::uint32_t>(s.size()), 6);
        w.PutBytes(s);
    }
}

}  // namespace

TEST(LegacyDecoders, DecodeWhatTheEncodersMake)
{
    const std::vector<std::string> inputs = {std::string("a"), std::string("abababababababab"),
                                             legacyzip::SampleText(25000, 11), Noise(12000, 12),
                                             std::string(3000, '\x90') + "tail"};
    for (const std::string& in : inputs) {
        SCOPED_TRACE(in.size());
        const auto n = static_cast<std::int64_t>(in.size());
        const Faulted s = Unshrunk(legacyzip::Shrink(in), n);
        EXPECT_EQ(s.result, TInflateResult::Ok);
        EXPECT_TRUE(s.out == in);
        for (int factor = 1; factor <= 4; ++factor) {
            const Faulted r = Unreduced(legacyzip::Reduce(in, factor), n, factor);
            EXPECT_EQ(r.result, TInflateResult::Ok) << "factor " << factor;
            EXPECT_TRUE(r.out == in) << "factor " << factor;
        }
        for (const bool literalTree : {true, false}) {
            for (const bool dict8k : {true, false}) {
                const WORD flags = static_cast<WORD>(legacyzip::ImplodeFlags(literalTree, dict8k));
                const Decoded e = Exploded(legacyzip::Implode(in, literalTree, dict8k), n, flags);
                EXPECT_EQ(e.result, TInflateResult::Ok) << "flags " << flags;
                EXPECT_TRUE(e.out == in) << "flags " << flags;
            }
        }
    }
}

TEST(LegacyDecoders, ShrinkCodeWidthsAndClears)
{
    // KwKwK: code 257 arrives before it is defined: the last string plus
    // its own first character.
    EXPECT_EQ(Unshrunk(Codes({{'a', 9}, {257, 9}}), 3).out, "aaa");
    // After a partial clear the freed leaves are reused lowest first: 257
    // ("ab") and 258 ("bc") are freed, "cd" becomes 257 and "dc" 258.
    const Faulted cleared = Unshrunk(Codes({{'a', 9}, {'b', 9}, {'c', 9}, {256, 9}, {2, 9}, {'d', 9}, {257, 9}, {258, 9}}), 8);
    EXPECT_EQ(cleared.result, TInflateResult::Ok);
    EXPECT_EQ(cleared.out, "abcdcddc");
    // 256, 1 widens the codes; past 13 bits it is a bad block.
    EXPECT_EQ(Unshrunk(Codes({{'a', 9}, {256, 9}, {1, 9}, {'b', 10}}), 2).out, "ab");
    std::initializer_list<std::pair<int, int>> widenTooFar = {{'a', 9},   {256, 9},  {1, 9},   {256, 10}, {1, 10},
                                                              {256, 11}, {1, 11},  {256, 12}, {1, 12},   {256, 13},
                                                              {1, 13},   {'b', 14}};
    const Faulted wide = Unshrunk(Codes(widenTooFar), 2);
    EXPECT_EQ(wide.result, TInflateResult::InvalidData);
    EXPECT_EQ(wide.fault, 25116);
    // An unknown control code, a first code that is no character.
    EXPECT_EQ(Unshrunk(Codes({{'a', 9}, {256, 9}, {3, 9}}), 1).fault, 25116);
    EXPECT_EQ(Unshrunk(Codes({{300, 9}}), 1).fault, 25116);
    // Empty data: only an empty entry is whole.
    EXPECT_EQ(Unshrunk("", 0).result, TInflateResult::Ok);
    EXPECT_EQ(Unshrunk("", 5).fault, 25116);
}

TEST(LegacyDecoders, ShrinkChainsStayBounded)
{
    // 258 sent while 257 is the next free code: it decodes as "aa" and
    // stays free, then "b" defines 258 with the free 258 as its parent: a
    // code whose chain is itself. Decoding it stops at the stack's size.
    const Faulted loop = Unshrunk(Codes({{'a', 9}, {258, 9}, {'b', 9}, {258, 9}}), 100000);
    EXPECT_EQ(loop.result, TInflateResult::InvalidData);
    EXPECT_EQ(loop.fault, 25305);
    // A string built on a code that a clear freed is a bad block: 258
    // ("bc") is the last code when the clear frees it, and "d" defines
    // 257 on it.
    const Faulted freed = Unshrunk(Codes({{'a', 9}, {'b', 9}, {'c', 9}, {258, 9}, {256, 9}, {2, 9}, {'d', 9}, {257, 9}}), 100);
    EXPECT_EQ(freed.result, TInflateResult::InvalidData);
    EXPECT_EQ(freed.fault, 25116);
}

TEST(LegacyDecoders, ReduceFollowerSetsRingAndEnd)
{
    // A follower count of 63 has no room in a 32-byte set.
    BitWriter big;
    big.Put(63, 6);
    EXPECT_EQ(Unreduced(big.bytes + std::string(300, '\0'), 10, 1).fault, 25116);
    // An index past the set: byte 0 follows itself, index 1 of a one-byte set.
    BitWriter past;
    PutFollowerSets(past, {{0, std::string(1, 'x')}, {'x', std::string(3, 'y')}});
    past.Put(0, 1);
    past.Put(0, 1);  // 'x'
    past.Put(0, 1);
    past.Put(3, 2);  // index 3 of three
    EXPECT_EQ(Unreduced(past.bytes, 10, 1).fault, 25116);

    // Byte 'a' follows 'a' at 2 bits a symbol, so the last packed byte
    // holds up to four of them: all are decoded, and the padding bits
    // after them (which read as more 'a's) are not.
    for (int count : {5, 6, 7, 8, 9}) {
        BitWriter w;
        PutFollowerSets(w, {{'a', "a"}});
        w.Put('a', 8);
        for (int i = 1; i < count; ++i) {
            w.Put(0, 1);
            w.Put(0, 1);
        }
        const Faulted f = Unreduced(w.bytes, count, 2);
        EXPECT_EQ(f.result, TInflateResult::Ok) << count;
        EXPECT_EQ(f.out, std::string(static_cast<size_t>(count), 'a')) << count;
    }

    // Reduce-4: a low nibble of 15 takes the next byte as more length (15 +
    // 2 + 3 = 20 bytes), and a distance before the entry's start copies
    // zeros; 0x90 0 is the marker byte itself.
    BitWriter r4;
    PutFollowerSets(r4, {});
    for (int b : {int{'x'}, 0x90, 0x0F, 2, 0, 0x90, 0x00, 0x90, 0xF0, 0xFF})
        r4.Put(static_cast<std::uint32_t>(b), 8);
    const Faulted f4 = Unreduced(r4.bytes, 1 + 20 + 1 + 3, 4);
    EXPECT_EQ(f4.result, TInflateResult::Ok);
    EXPECT_EQ(f4.out, std::string(21, 'x') + "\x90" + std::string(3, '\0'));

    // Data that ends before the declared size: what came is kept.
    const std::string text = legacyzip::SampleText(5000, 3);
    const std::string packed = legacyzip::Reduce(text, 3);
    const Faulted cut = Unreduced(packed.substr(0, packed.size() / 2), static_cast<std::int64_t>(text.size()), 3);
    EXPECT_EQ(cut.result, TInflateResult::InputExhausted);
    EXPECT_LT(cut.out.size(), text.size());
    EXPECT_EQ(cut.out, text.substr(0, cut.out.size()));
}

TEST(LegacyDecoders, ExplodeTreesAndWindow)
{
    // Runs that sum to 63 or 65 codes for a 64-code tree, and a complete
    // count whose code is incomplete (64 codes of 7 bits), are refused.
    const std::string runs63 = std::string("\x03", 1) + "\xF5\xF5\xF5\xE5";
    const std::string runs65 = std::string("\x04", 1) + "\xF5\xF5\xF5\xF5\x05";
    const std::string incomplete = std::string("\x03", 1) + "\xF6\xF6\xF6\xF6";
    const std::string flat = std::string("\x03", 1) + "\xF5\xF5\xF5\xF5";
    for (const std::string& bad : {runs63, runs65, incomplete}) {
        EXPECT_EQ(Exploded(bad + flat + std::string(8, '\0'), 4, 0).result, TInflateResult::InvalidData);
        EXPECT_EQ(Exploded(flat + bad + std::string(8, '\0'), 4, 0).result, TInflateResult::InvalidData);
    }

    // With flat 6-bit length and distance trees and raw literals (4 KB
    // dictionary, minimum match 2): a literal, then a match of distance 5
    // and length 5 that starts before the first byte: four zeros, then
    // the literal again.
    auto match = [](BitWriter& w, int distance, int lengthSymbol) {
        w.Put(0, 1);
        w.Put(static_cast<std::uint32_t>((distance - 1) & 63), 6);
        w.PutCode(~static_cast<std::uint32_t>((distance - 1) >> 6) & 63, 6);
        w.PutCode(~static_cast<std::uint32_t>(lengthSymbol) & 63, 6);
    };
    BitWriter w;
    w.PutBytes(flat + flat);
    w.Put(1, 1);
    w.Put('q', 8);
    match(w, 5, 3);  // length 2 + 3 = 5: 4 before the start, then 'q'
    const Decoded before = Exploded(w.bytes, 6, 0);
    EXPECT_EQ(before.result, TInflateResult::Ok);
    EXPECT_EQ(before.out, std::string("q") + std::string(4, '\0') + "q");

    // A match that passes the declared size is cut there; input beyond
    // what the size needs is not read.
    BitWriter over;
    over.PutBytes(flat + flat);
    over.Put(1, 1);
    over.Put('r', 8);
    match(over, 1, 40);  // 42 bytes asked, 9 fit
    const Decoded cut = Exploded(over.bytes + std::string(100, '\xFF'), 10, 0);
    EXPECT_EQ(cut.result, TInflateResult::Ok);
    EXPECT_EQ(cut.out, std::string(10, 'r'));

    // Truncated mid-stream: what was decoded is written, the result says why.
    const std::string text = legacyzip::SampleText(40000, 4);
    const std::string packed = legacyzip::Implode(text, true, true);
    const Decoded half = Exploded(packed.substr(0, packed.size() / 2), 40000, 6);
    EXPECT_EQ(half.result, TInflateResult::InputExhausted);
    EXPECT_GT(half.out.size(), 0u);
    EXPECT_EQ(half.out, text.substr(0, half.out.size()));
}

TEST(LegacyDecoders, ExplodeLookupWidthDoesNotChangeTheOutput)
{
    // Above 200,000 packed bytes the distance table is looked up with 8
    // bits instead of 7; the same stream decodes the same either way.
    const std::string text = legacyzip::SampleText(30000, 5) + Noise(3000, 5);
    const std::string packed = legacyzip::Implode(text, true, true);
    const Decoded small = Exploded(packed, static_cast<std::int64_t>(text.size()), 6);
    const Decoded large = Exploded(packed + std::string(250000, '\0'), static_cast<std::int64_t>(text.size()), 6);
    EXPECT_EQ(small.result, TInflateResult::Ok);
    EXPECT_EQ(large.result, TInflateResult::Ok);
    EXPECT_TRUE(small.out == text);
    EXPECT_TRUE(large.out == text);
}
