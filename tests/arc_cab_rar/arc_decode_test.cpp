// The ARC decoders on hand-made data: the repeat expansion, the squeeze
// tree and its bounds, and the end of the packed bytes.
#include "archive/zadarcdec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Decoded {
    TArcDecodeResult result;
    std::string out;
};

Decoded Decode(int method, const std::string& packed, std::int32_t readSize = 7)
{
    size_t at = 0;
    Decoded d{TArcDecodeResult::Done, {}};
    TArcDecoder decoder(
        [&](std::uint8_t* buf, std::int32_t count) {
            // Small reads: the decoder must not care how its input comes.
            const auto n = static_cast<std::int32_t>(std::min<size_t>({static_cast<size_t>(count), static_cast<size_t>(readSize), packed.size() - at}));
            std::copy_n(packed.data() + at, n, reinterpret_cast<char*>(buf));
            at += static_cast<size_t>(n);
            return n;
        },
        [&](const std::uint8_t* buf, std::int32_t count) {
            d.out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(count));
            return true;
        });
    d.result = decoder.Decode(method);
    return d;
}

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int c : b)
        s += static_cast<char>(c);
    return s;
}

std::string Tree(std::initializer_list<std::pair<int, int>> nodes)
{
    std::string s = Bytes({static_cast<int>(nodes.size()) & 0xFF, static_cast<int>(nodes.size()) >> 8});
    for (auto [l, r] : nodes)
        s += Bytes({l & 0xFF, (l >> 8) & 0xFF, r & 0xFF, (r >> 8) & 0xFF});
    return s;
}

TEST(ArcDecode, RepeatExpansion)
{
    const struct {
        int method;
        std::string in, out;
    } cases[] = {
        {3, Bytes({0x41, 0x90, 0x05}), std::string(5, 'A')},
        {3, Bytes({0x90, 0x00}), Bytes({0x90})},
        {3, Bytes({0x42, 0x90, 0x01, 0x43}), "BC"},
        {2, Bytes({0x41, 0x90, 0x05}), Bytes({0x41, 0x90, 0x05})},
        // A marker at the very end expands to nothing.
        {3, Bytes({0x44, 0x90}), "D"},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.method, c.in);
        EXPECT_EQ(d.result, TArcDecodeResult::Done);
        EXPECT_EQ(d.out, c.out);
    }
}

TEST(ArcDecode, SqueezeTrees)
{
    // Node 0: bit 0 -> 'a', bit 1 -> node 1; node 1: bit 0 -> 'b', bit 1 -> end.
    const std::string tree = Tree({{-('a' + 1), 1}, {-('b' + 1), -257}});
    // a, b, a, end: bits 0, 10, 0, 11 -> 0b11'0'01'0 read from the low bit.
    const Decoded ok = Decode(4, tree + Bytes({0b00110010}));
    EXPECT_EQ(ok.result, TArcDecodeResult::Done);
    EXPECT_EQ(ok.out, "aba");
    // No nodes: node 0 leads to the end at once.
    EXPECT_EQ(Decode(4, Tree({}) + "xyz").out, "");
    // Too many nodes, and a child naming a node the tree does not have.
    EXPECT_EQ(Decode(4, Bytes({0x01, 0x01})).result, TArcDecodeResult::BadTree);
    EXPECT_EQ(Decode(4, Tree({{1, 5}, {-1, -1}}) + Bytes({0xFF})).result, TArcDecodeResult::BadTree);
    // A child pointing back at its own node never reaches a leaf: each
    // step takes a bit, so the walk ends with the data.
    const Decoded loop = Decode(4, Tree({{0, 0}}) + std::string(1000, '\0'));
    EXPECT_EQ(loop.result, TArcDecodeResult::Done);
    EXPECT_EQ(loop.out, "");
}

TEST(ArcDecode, DataThatEndsEarlyEndsTheEntry)
{
    EXPECT_EQ(Decode(4, Bytes({0x02})).result, TArcDecodeResult::Done);
    EXPECT_EQ(Decode(5, Bytes({0x41})).out, "");
    EXPECT_EQ(Decode(42, "x").result, TArcDecodeResult::Unsupported);
}

TEST(ArcDecode, CrunchedEntriesNameTheirCodeWidth)
{
    // Method 8 starts with its code width, which must be 12.
    const Decoded bad = Decode(8, Bytes({13, 0x41, 0x00}));
    EXPECT_EQ(bad.result, TArcDecodeResult::BadBits);
    EXPECT_EQ(bad.out, "");
    // A first code beyond the single bytes cannot be decoded.
    EXPECT_EQ(Decode(9, Bytes({0xFF, 0xFF, 0xFF})).result, TArcDecodeResult::StackOverflow);
}

TEST(ArcDecode, SinkRefusalStops)
{
    int calls = 0;
    std::string big(200000, '\x90');
    for (size_t i = 0; i < big.size(); i += 2)
        big[i] = 'x', big[i + 1] = '\x90';
    size_t at = 0;
    TArcDecoder d(
        [&](std::uint8_t* buf, std::int32_t count) {
            const auto n = static_cast<std::int32_t>(std::min<size_t>(static_cast<size_t>(count), big.size() - at));
            std::copy_n(big.data() + at, n, reinterpret_cast<char*>(buf));
            at += static_cast<size_t>(n);
            return n;
        },
        [&](const std::uint8_t*, std::int32_t) { return ++calls < 2; });
    EXPECT_EQ(d.Decode(3), TArcDecodeResult::Stopped);
    EXPECT_EQ(calls, 2);
}

}  // namespace
