// Small encoders that write the streams the LZH decoders read: static
// Huffman blocks with fixed, simple code lengths, and ARJ method 4. They
// take a list of tokens (literals and matches) so that a test can place
// exactly the match it needs; Tokenize finds greedy matches in a text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// Writes bits most significant first.
struct MsbBitWriter {
    std::string bytes;
    int used = 8;
    void Put(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            if (used == 8) {
                bytes.push_back('\0');
                used = 0;
            }
            if ((value >> i) & 1)
                bytes.back() = static_cast<char>(bytes.back() | (0x80 >> used));
            ++used;
        }
    }
};

// A literal (length 0) or a match of length bytes starting distance + 1
// bytes back.
struct LzToken {
    int length = 0;
    int value = 0;  // the literal, or the distance
};

inline std::vector<LzToken> Literals(const std::string& s)
{
    std::vector<LzToken> t;
    for (unsigned char c : s)
        t.push_back({0, c});
    return t;
}

// Greedy matches of minLen to maxLen bytes no further back than maxDistance.
inline std::vector<LzToken> Tokenize(const std::string& s, int minLen, int maxLen, int maxDistance)
{
    std::vector<LzToken> t;
    size_t i = 0;
    while (i < s.size()) {
        int bestLen = 0, bestDist = 0;
        const size_t from = i > static_cast<size_t>(maxDistance) ? i - static_cast<size_t>(maxDistance) : 0;
        for (size_t j = i; j-- > from && bestLen < maxLen;) {
            int l = 0;
            while (l < maxLen && i + static_cast<size_t>(l) < s.size() && s[j + static_cast<size_t>(l)] == s[i + static_cast<size_t>(l)])
                ++l;
            if (l > bestLen) {
                bestLen = l;
                bestDist = static_cast<int>(i - j - 1);
            }
        }
        if (bestLen >= minLen) {
            t.push_back({bestLen, bestDist});
            i += static_cast<size_t>(bestLen);
        } else {
            t.push_back({0, static_cast<unsigned char>(s[i])});
            ++i;
        }
    }
    return t;
}

// Canonical codes for lengths, in the order the decoder assigns them:
// by length, then by symbol.
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lens)
{
    std::vector<std::uint32_t> codes(lens.size());
    std::uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
        for (size_t s = 0; s < lens.size(); ++s)
            if (lens[s] == l)
                codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

// Lengths of a complete code over n symbols: the first 2^w - n take w - 1
// bits, the rest w bits (w the smallest with 2^w >= n).
inline std::vector<int> FlatLengths(int n)
{
    int w = 0;
    while ((1 << w) < n)
        ++w;
    std::vector<int> lens(static_cast<size_t>(n), w);
    for (int i = 0; i < (1 << w) - n; ++i)
        lens[static_cast<size_t>(i)] = w - 1;
    return lens;
}

// Writes a pre-table or position table of small lengths (below 7).
inline void PutPtLengths(MsbBitWriter& w, const std::vector<int>& lens, int nbit, int special)
{
    w.Put(static_cast<std::uint32_t>(lens.size()), nbit);
    for (size_t i = 0; i < lens.size(); ++i) {
        w.Put(static_cast<std::uint32_t>(lens[i]), 3);
        if (static_cast<int>(i) + 1 == special)
            w.Put(0, 2);
    }
}

// One static Huffman block holding the tokens (at most 65,535).
inline void PutStaticBlock(MsbBitWriter& w, const std::vector<LzToken>& tokens, int dicBits, int pbits)
{
    const int np = dicBits + 1;
    const std::vector<int> ptLens = FlatLengths(19);
    const std::vector<int> cLens = FlatLengths(510);
    const std::vector<int> pLens = FlatLengths(np);
    const auto ptCodes = CanonicalCodes(ptLens), cCodes = CanonicalCodes(cLens), pCodes = CanonicalCodes(pLens);
    w.Put(static_cast<std::uint32_t>(tokens.size()), 16);
    PutPtLengths(w, ptLens, 5, 3);
    w.Put(510, 9);
    for (int l : cLens)
        w.Put(ptCodes[static_cast<size_t>(l + 2)], ptLens[static_cast<size_t>(l + 2)]);
    PutPtLengths(w, pLens, pbits, -1);
    for (const LzToken& t : tokens) {
        const int sym = t.length == 0 ? t.value : t.length + 253;
        w.Put(cCodes[static_cast<size_t>(sym)], cLens[static_cast<size_t>(sym)]);
        if (t.length == 0)
            continue;
        int j = 0;
        while ((t.value >> j) != 0)
            ++j;
        w.Put(pCodes[static_cast<size_t>(j)], pLens[static_cast<size_t>(j)]);
        if (j > 1)
            w.Put(static_cast<std::uint32_t>(t.value) & ((1u << (j - 1)) - 1), j - 1);
    }
}

// A whole static Huffman stream, in blocks of blockTokens tokens.
inline std::string StaticStream(const std::vector<LzToken>& tokens, int dicBits, int pbits, size_t blockTokens = 65535)
{
    MsbBitWriter w;
    for (size_t i = 0; i < tokens.size(); i += blockTokens) {
        const size_t end = std::min(tokens.size(), i + blockTokens);
        PutStaticBlock(w, std::vector<LzToken>(tokens.begin() + static_cast<long>(i), tokens.begin() + static_cast<long>(end)),
                       dicBits, pbits);
    }
    return w.bytes;
}

// A unary prefix (up to maxOnes ones, each adding 2^width and widening the
// field) and the field.
inline void PutFastCode(MsbBitWriter& w, int value, int width, int maxOnes)
{
    int ones = 0;
    while (ones < maxOnes && value >= (1 << width)) {
        value -= 1 << width;
        ++width;
        ++ones;
    }
    w.Put((1u << ones) - 1, ones);
    if (ones < maxOnes)
        w.Put(0, 1);
    w.Put(static_cast<std::uint32_t>(value), width);
}

// An ARJ method 4 stream of the tokens (matches of 3 or more bytes).
inline std::string FastStream(const std::vector<LzToken>& tokens)
{
    MsbBitWriter w;
    for (const LzToken& t : tokens) {
        if (t.length == 0) {
            w.Put(0, 1);
            w.Put(static_cast<std::uint32_t>(t.value), 8);
        } else {
            PutFastCode(w, t.length - 2, 0, 7);
            PutFastCode(w, t.value, 9, 4);
        }
    }
    return w.bytes;
}
