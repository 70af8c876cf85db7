// Encoders for the ZIP methods no Debian tool writes any more, written from
// PKWARE's format descriptions: shrink (method 1), reduce (2 to 5) and
// implode (6). The fixture script, the tests and the zip_legacy benchmark
// make their archives with them; unzip and 7z check the shrunk and imploded
// ones (neither reads reduce).
//
// Each encoder keeps the decoder's state beside its own so that the codes
// it sends mean to any decoder what they mean to it:
//   - shrink defines a string at the moment the decoder will (one code
//     late), in the lowest free code; when the table is full it sends a
//     partial clear right after the next code, which is never a leaf, so
//     no string is ever defined on a freed code (the decoders of unzip and
//     7z then agree: see Shrink);
//   - reduce never sends the marker byte 0x90 followed by 0 as a match (it
//     means a literal 0x90), so a match of 3 within 256 bytes goes as
//     literals;
//   - implode sends every tree complete (each symbol has a length of 1 to
//     16) and each code bit-inverted, most significant bit first.
#pragma once

#include "bit_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace legacyzip {

// ---- shrink ---------------------------------------------------------------------

inline std::string Shrink(const std::string& data)
{
    constexpr int kCodes = 8192;
    if (data.empty())
        return {};
    BitWriter w;
    std::vector<int> parent(kCodes, -1);  // -1: free
    std::vector<std::uint8_t> value(kCodes);
    std::vector<int> kids(kCodes, 0);     // live codes whose parent this is
    // The strings that may be sent: parent code * 256 + next byte.
    std::vector<std::int16_t> child(static_cast<size_t>(kCodes) * 256, -1);
    for (int c = 0; c < 256; ++c)
        parent[static_cast<size_t>(c)] = 0;
    int codeSize = 9;
    int nextFree = 257;
    auto send = [&](int code) {
        while (code >= (1 << codeSize)) {
            w.Put(256, codeSize);
            w.Put(1, codeSize);
            ++codeSize;
        }
        w.Put(static_cast<std::uint32_t>(code), codeSize);
    };
    auto lowestFree = [&] {
        while (nextFree < kCodes && parent[static_cast<size_t>(nextFree)] >= 0)
            ++nextFree;
        return nextFree;
    };
    auto partialClear = [&] {
        std::vector<int> leaves;
        for (int c = 257; c < kCodes; ++c)
            if (parent[static_cast<size_t>(c)] >= 0 && kids[static_cast<size_t>(c)] == 0)
                leaves.push_back(c);
        for (int c : leaves) {
            const int p = parent[static_cast<size_t>(c)];
            std::int16_t& slot = child[static_cast<size_t>(p) * 256 + value[static_cast<size_t>(c)]];
            if (slot == c)
                slot = -1;
            if (p >= 257)
                --kids[static_cast<size_t>(p)];
            parent[static_cast<size_t>(c)] = -1;
        }
        nextFree = 257;
    };
    int current = static_cast<std::uint8_t>(data[0]);
    for (size_t i = 1; i < data.size(); ++i) {
        const auto c = static_cast<std::uint8_t>(data[i]);
        const int k = child[static_cast<size_t>(current) * 256 + c];
        if (k >= 0) {
            current = k;
            continue;
        }
        // With the table full, the code sent next is followed by a partial
        // clear. A leaf sent there would be freed before the string after it
        // is defined on it, and unzip's partial clear (which looks only at
        // the codes up to the last it handed out) would part from the
        // format's from then on: the leaf's parent and last byte go instead.
        int sent = current;
        std::uint8_t next = c;
        const bool full = lowestFree() >= kCodes;
        if (full && current >= 257 && kids[static_cast<size_t>(current)] == 0) {
            sent = parent[static_cast<size_t>(current)];
            next = value[static_cast<size_t>(current)];
            --i;
        }
        send(sent);
        if (full) {
            w.Put(256, codeSize);
            w.Put(2, codeSize);
            partialClear();
            lowestFree();
        }
        if (nextFree < kCodes) {
            parent[static_cast<size_t>(nextFree)] = sent;
            value[static_cast<size_t>(nextFree)] = next;
            if (sent >= 257)
                ++kids[static_cast<size_t>(sent)];
            child[static_cast<size_t>(sent) * 256 + next] = static_cast<std::int16_t>(nextFree);
            ++nextFree;
        }
        current = next;
    }
    send(current);
    return w.bytes;
}

// ---- matches --------------------------------------------------------------------

// The longest earlier match at a position, found through hash chains over
// its first two or three bytes (a few dozen candidates at most).
class MatchFinder {
public:
    MatchFinder(const std::string& data, int hashBytes, int maxDistance, int maxLength)
        : m_data(data), m_hashBytes(hashBytes), m_maxDistance(maxDistance), m_maxLength(maxLength), m_head(1 << 16, -1),
          m_prev(data.size(), -1)
    {
    }
    // Notes position p as the start of a possible match.
    void Insert(size_t p)
    {
        if (p + static_cast<size_t>(m_hashBytes) <= m_data.size()) {
            const int h = Hash(p);
            m_prev[p] = m_head[static_cast<size_t>(h)];
            m_head[static_cast<size_t>(h)] = static_cast<int>(p);
        }
    }
    // The length and distance of the longest match at i (0, 0: none).
    std::pair<int, int> Longest(size_t i) const
    {
        int bestLength = 0, bestDistance = 0;
        if (i + static_cast<size_t>(m_hashBytes) > m_data.size())
            return {0, 0};
        int tries = 48;
        for (int cand = m_head[static_cast<size_t>(Hash(i))]; cand >= 0 && static_cast<int>(i) - cand <= m_maxDistance && tries-- > 0;
             cand = m_prev[static_cast<size_t>(cand)]) {
            int l = 0;
            while (l < m_maxLength && i + static_cast<size_t>(l) < m_data.size() &&
                   m_data[static_cast<size_t>(cand + l)] == m_data[i + static_cast<size_t>(l)])
                ++l;
            if (l > bestLength) {
                bestLength = l;
                bestDistance = static_cast<int>(i) - cand;
            }
        }
        return {bestLength, bestDistance};
    }

private:
    int Hash(size_t i) const
    {
        auto at = [this](size_t k) { return static_cast<std::uint8_t>(m_data[k]); };
        return m_hashBytes == 2 ? (at(i) << 8) | at(i + 1) : ((at(i) << 8) ^ (at(i + 1) << 4) ^ at(i + 2)) & 0xFFFF;
    }
    const std::string& m_data;
    int m_hashBytes, m_maxDistance, m_maxLength;
    std::vector<int> m_head, m_prev;
};

// ---- reduce ---------------------------------------------------------------------

// Bits of an index into a follower set of n entries (n - 1 written in
// binary, at least one bit).
inline int FollowerIndexBits(int n)
{
    int bits = 1;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

inline std::string Reduce(const std::string& data, int factor)
{
    const int lengthMask = 0xFF >> factor;
    const int maxDistance = 256 << factor;
    const int maxLength = lengthMask + 255 + 3;
    const size_t n = data.size();

    // The repeat coder's byte stream.
    std::string mid;
    MatchFinder finder(data, 3, maxDistance, maxLength);
    for (size_t i = 0; i < n;) {
        const auto [bestLength, bestDistance] = finder.Longest(i);
        const int extra = bestLength - 3;
        const int high = (bestDistance - 1) >> 8;
        if (bestLength >= 3 && (extra > 0 || high > 0)) {
            mid += static_cast<char>(0x90);
            mid += static_cast<char>((high << (8 - factor)) | std::min(extra, lengthMask));
            if (extra >= lengthMask)
                mid += static_cast<char>(extra - lengthMask);
            mid += static_cast<char>((bestDistance - 1) & 0xFF);
            for (int k = 0; k < bestLength; ++k)
                finder.Insert(i + static_cast<size_t>(k));
            i += static_cast<size_t>(bestLength);
        } else {
            mid += data[i];
            if (static_cast<std::uint8_t>(data[i]) == 0x90)
                mid += '\0';
            finder.Insert(i);
            ++i;
        }
    }

    // Follower sets: the up to 32 most frequent bytes after each byte.
    std::vector<std::array<int, 256>> freq(256);
    for (auto& f : freq)
        f.fill(0);
    std::uint8_t last = 0;
    for (char ch : mid) {
        ++freq[last][static_cast<std::uint8_t>(ch)];
        last = static_cast<std::uint8_t>(ch);
    }
    std::vector<std::vector<int>> sets(256);
    std::vector<std::array<int, 256>> index(256);
    for (int j = 0; j < 256; ++j) {
        std::vector<int> order;
        for (int c = 0; c < 256; ++c)
            if (freq[static_cast<size_t>(j)][static_cast<size_t>(c)] > 0)
                order.push_back(c);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return freq[static_cast<size_t>(j)][static_cast<size_t>(a)] > freq[static_cast<size_t>(j)][static_cast<size_t>(b)]; });
        if (order.size() > 32)
            order.resize(32);
        sets[static_cast<size_t>(j)] = order;
        index[static_cast<size_t>(j)].fill(-1);
        for (size_t k = 0; k < order.size(); ++k)
            index[static_cast<size_t>(j)][static_cast<size_t>(order[k])] = static_cast<int>(k);
    }
    BitWriter w;
    for (int j = 255; j >= 0; --j) {
        w.Put(static_cast<std::uint32_t>(sets[static_cast<size_t>(j)].size()), 6);
        for (int c : sets[static_cast<size_t>(j)])
            w.Put(static_cast<std::uint32_t>(c), 8);
    }
    last = 0;
    for (char ch : mid) {
        const auto c = static_cast<std::uint8_t>(ch);
        const auto& set = sets[last];
        if (set.empty()) {
            w.Put(c, 8);
        } else if (index[last][c] >= 0) {
            w.Put(0, 1);
            w.Put(static_cast<std::uint32_t>(index[last][c]), FollowerIndexBits(static_cast<int>(set.size())));
        } else {
            w.Put(1, 1);
            w.Put(c, 8);
        }
        last = c;
    }
    return w.bytes;
}

// ---- implode --------------------------------------------------------------------

// Huffman code lengths of at most maxBits for every symbol (each counted at
// least once, so every symbol has a code and the code is complete).
inline std::vector<int> CodeLengths(std::vector<std::uint64_t> freq, int maxBits)
{
    for (auto& f : freq)
        f += 1;
    for (;;) {
        const size_t n = freq.size();
        std::vector<int> up(2 * n, -1);
        using Item = std::pair<std::uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<>> q;
        for (size_t i = 0; i < n; ++i)
            q.emplace(freq[i], static_cast<int>(i));
        int next = static_cast<int>(n);
        while (q.size() > 1) {
            const Item a = q.top();
            q.pop();
            const Item b = q.top();
            q.pop();
            up[static_cast<size_t>(a.second)] = next;
            up[static_cast<size_t>(b.second)] = next;
            q.emplace(a.first + b.first, next++);
        }
        std::vector<int> lengths(n);
        int longest = 0;
        for (size_t i = 0; i < n; ++i) {
            int d = 0;
            for (int k = static_cast<int>(i); up[static_cast<size_t>(k)] >= 0; k = up[static_cast<size_t>(k)])
                ++d;
            lengths[i] = d;
            longest = std::max(longest, d);
        }
        if (longest <= maxBits)
            return lengths;
        for (auto& f : freq)
            f = (f >> 1) + 1;
    }
}

// Canonical codes: shorter codes first, by symbol within a length.
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths)
{
    std::array<std::uint32_t, 18> count{}, next{};
    for (int l : lengths)
        ++count[static_cast<size_t>(l)];
    count[0] = 0;
    std::uint32_t code = 0;
    for (size_t l = 1; l < next.size(); ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    std::vector<std::uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        codes[s] = next[static_cast<size_t>(lengths[s])]++;
    return codes;
}

// A tree as implode sends it: a byte with the number of bytes that follow
// minus 1, then runs of up to 16 symbols of one length, each as a byte
// (run - 1) * 16 + (length - 1).
inline std::string DescribeTree(const std::vector<int>& lengths)
{
    std::string runs;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 1;
        while (run < 16 && i + run < lengths.size() && lengths[i + run] == lengths[i])
            ++run;
        runs += static_cast<char>(((run - 1) << 4) | static_cast<size_t>(lengths[i] - 1));
        i += run;
    }
    return static_cast<char>(runs.size() - 1) + runs;
}

// Flags of an imploded entry: bit 1 the 8 KB dictionary, bit 2 a literal tree.
inline unsigned ImplodeFlags(bool literalTree, bool dict8k) { return (dict8k ? 2u : 0u) | (literalTree ? 4u : 0u); }

inline std::string Implode(const std::string& data, bool literalTree, bool dict8k)
{
    const int minMatch = literalTree ? 3 : 2;
    const int lowBits = dict8k ? 7 : 6;
    const int maxDistance = dict8k ? 8192 : 4096;
    const int maxLength = minMatch + 63 + 255;
    const size_t n = data.size();
    struct Token {
        int length;  // 0: a literal
        int distance;
        std::uint8_t literal;
    };
    std::vector<Token> tokens;
    MatchFinder finder(data, 2, maxDistance, maxLength);
    for (size_t i = 0; i < n;) {
        const auto [bestLength, bestDistance] = finder.Longest(i);
        if (bestLength >= minMatch) {
            tokens.push_back({bestLength, bestDistance, 0});
            for (int k = 0; k < bestLength; ++k)
                finder.Insert(i + static_cast<size_t>(k));
            i += static_cast<size_t>(bestLength);
        } else {
            tokens.push_back({0, 0, static_cast<std::uint8_t>(data[i])});
            finder.Insert(i);
            ++i;
        }
    }
    std::vector<std::uint64_t> litFreq(256), lenFreq(64), distFreq(64);
    for (const Token& t : tokens) {
        if (t.length == 0) {
            ++litFreq[t.literal];
        } else {
            ++lenFreq[static_cast<size_t>(std::min(t.length - minMatch, 63))];
            ++distFreq[static_cast<size_t>((t.distance - 1) >> lowBits)];
        }
    }
    const std::vector<int> litLen = CodeLengths(litFreq, 16), lenLen = CodeLengths(lenFreq, 16),
                           distLen = CodeLengths(distFreq, 16);
    const auto litCode = CanonicalCodes(litLen), lenCode = CanonicalCodes(lenLen), distCode = CanonicalCodes(distLen);
    auto sendSymbol = [](BitWriter& w, const std::vector<std::uint32_t>& codes, const std::vector<int>& lengths, size_t s) {
        const int l = lengths[s];
        w.PutCode(~codes[s] & ((1u << l) - 1), l);
    };
    BitWriter w;
    if (literalTree)
        w.PutBytes(DescribeTree(litLen));
    w.PutBytes(DescribeTree(lenLen));
    w.PutBytes(DescribeTree(distLen));
    for (const Token& t : tokens) {
        if (t.length == 0) {
            w.Put(1, 1);
            if (literalTree)
                sendSymbol(w, litCode, litLen, t.literal);
            else
                w.Put(t.literal, 8);
            continue;
        }
        w.Put(0, 1);
        const int d = t.distance - 1;
        w.Put(static_cast<std::uint32_t>(d & ((1 << lowBits) - 1)), lowBits);
        sendSymbol(w, distCode, distLen, static_cast<size_t>(d >> lowBits));
        const int l = t.length - minMatch;
        sendSymbol(w, lenCode, lenLen, static_cast<size_t>(std::min(l, 63)));
        if (l >= 63)
            w.Put(static_cast<std::uint32_t>(l - 63), 8);
    }
    return w.bytes;
}

// ---- sample data ----------------------------------------------------------------

// Text of words and numbers with long repeats and some noise: every coder
// finds literals, short and long matches, near and far.
inline std::string SampleText(size_t size, unsigned seed)
{
    static const char* const words[] = {"archive", "shrunk", "reduced", "imploded", "entry", "header", "window",
                                        "folder", "viewer", "method", "dictionary", "follower", "literal", "length"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        const unsigned r = rng() % 16;
        if (r < 10) {
            s += words[rng() % 14];
            s += (rng() % 9 == 0) ? '\n' : ' ';
        } else if (r < 13) {
            s += std::to_string(rng() % 100000) + ' ';
        } else if (r < 15 && s.size() > 600) {
            const size_t from = s.size() - 1 - rng() % std::min<size_t>(s.size() - 1, 8000);
            s += s.substr(from, 20 + rng() % 300);
        } else {
            s += static_cast<char>(rng() % 256);  // the marker byte 0x90 among them
        }
    }
    s.resize(size);
    return s;
}

}  // namespace legacyzip
