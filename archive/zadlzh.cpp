#include "zadlzh.h"

#include "archive/zadlzhbits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr int NC = 510;        // literal/length symbols: 256 literals, lengths 3 to 256
constexpr int NT = 19;         // pre-table symbols
constexpr int NPMAX = 17;      // position symbols at 16 dictionary bits
constexpr int TBIT = 5;        // width of the pre-table count
constexpr int CBIT = 9;        // width of the literal/length count
constexpr int kCTableBits = 12;
constexpr int kPTableBits = 8;
constexpr int kMaxCodeLen = 16;
constexpr int kMatchBase = 253;  // symbol - 253 is the match length

// The window is 64 KB whatever the method: it holds every distance sixteen
// dictionary bits can name, and 2^DicBits for each caller.
constexpr std::int32_t kWindow = 1 << 16;
constexpr std::int32_t kFastWindow = 1 << 15;

// A canonical-code lookup: codes up to tableBits long are direct entries,
// longer ones walk a binary tree whose nodes are numbered from nchar up.
struct HuffTable {
    std::vector<std::uint16_t> direct;
    std::array<std::uint16_t, 2 * NC> left{};
    std::array<std::uint16_t, 2 * NC> right{};
    std::array<std::uint8_t, NC> len{};
    int nchar = 0;
    int bits = 0;

    explicit HuffTable(int tableBits) : direct(static_cast<size_t>(1) << tableBits), bits(tableBits) {}

    // A table whose only symbol is sym, taking no bits.
    void Single(int symbols, int sym)
    {
        nchar = symbols;
        std::fill(len.begin(), len.begin() + symbols, 0);
        std::fill(direct.begin(), direct.end(), static_cast<std::uint16_t>(sym));
    }

    // Builds the lookup from len[0..symbols). False unless the lengths are
    // at most 16 and fill the code space exactly.
    bool Build(int symbols)
    {
        nchar = symbols;
        std::array<std::uint32_t, kMaxCodeLen + 2> count{}, start{}, weight{};
        for (int i = 0; i < symbols; ++i) {
            if (len[static_cast<size_t>(i)] > kMaxCodeLen)
                return false;
            ++count[len[static_cast<size_t>(i)]];
        }
        start[1] = 0;
        for (int i = 1; i <= kMaxCodeLen; ++i)
            start[static_cast<size_t>(i + 1)] = start[static_cast<size_t>(i)] + (count[static_cast<size_t>(i)] << (kMaxCodeLen - i));
        if (start[kMaxCodeLen + 1] != (1u << kMaxCodeLen))
            return false;
        const int jut = kMaxCodeLen - bits;
        for (int i = 1; i <= bits; ++i) {
            start[static_cast<size_t>(i)] >>= jut;
            weight[static_cast<size_t>(i)] = 1u << (bits - i);
        }
        for (int i = bits + 1; i <= kMaxCodeLen; ++i)
            weight[static_cast<size_t>(i)] = 1u << (kMaxCodeLen - i);
        // Direct entries past the short codes belong to long codes or none.
        const std::uint32_t shortEnd = start[static_cast<size_t>(bits + 1)] >> jut;
        std::fill(direct.begin() + shortEnd, direct.end(), 0);
        std::uint32_t avail = static_cast<std::uint32_t>(symbols);
        const std::uint32_t mask = 1u << (kMaxCodeLen - 1 - bits);
        for (int ch = 0; ch < symbols; ++ch) {
            const int l = len[static_cast<size_t>(ch)];
            if (l == 0)
                continue;
            const std::uint32_t next = start[static_cast<size_t>(l)] + weight[static_cast<size_t>(l)];
            if (l <= bits) {
                std::fill(direct.begin() + start[static_cast<size_t>(l)], direct.begin() + next, static_cast<std::uint16_t>(ch));
            } else {
                std::uint32_t k = start[static_cast<size_t>(l)];
                std::uint16_t* p = &direct[k >> jut];
                for (int i = l - bits; i > 0; --i) {
                    if (*p == 0) {
                        // A complete code never needs more than 2 * nchar - 1 nodes.
                        if (avail >= left.size())
                            return false;
                        left[avail] = right[avail] = 0;
                        *p = static_cast<std::uint16_t>(avail++);
                    }
                    p = (k & mask) ? &right[*p] : &left[*p];
                    k <<= 1;
                }
                *p = static_cast<std::uint16_t>(ch);
            }
            start[static_cast<size_t>(l)] = next;
        }
        return true;
    }

    // The next symbol; peek holds the next 16 bits.
    int Lookup(std::uint32_t peek) const
    {
        int c = direct[peek >> (kMaxCodeLen - bits)];
        std::uint32_t m = 1u << (kMaxCodeLen - 1 - bits);
        while (c >= nchar) {
            c = (peek & m) ? right[static_cast<size_t>(c)] : left[static_cast<size_t>(c)];
            m >>= 1;
        }
        return c;
    }
};

}  // namespace

struct TLzhDecoder::State {
    HuffTable pt{kPTableBits};  // pre-table, then the position table
    HuffTable c{kCTableBits};
    std::vector<std::uint8_t> window = std::vector<std::uint8_t>(kWindow);
};

namespace {

// One entry's decode over the shared tables.
class StaticDecode {
public:
    StaticDecode(HuffTable& pt, HuffTable& c, std::uint8_t* window, const TLzhParams& params, TLzhBitInput& in)
        : m_pt(pt), m_c(c), m_window(window), m_np(params.DicBits + 1), m_pbits(params.PBits), m_in(in)
    {
    }

    // Reads the pre-table (special index 3) or the position table.
    bool ReadPtLen(int nn, int nbit, int special)
    {
        const int n = static_cast<int>(m_in.Get(nbit));
        if (n == 0) {
            const int c = static_cast<int>(m_in.Get(nbit));
            if (c >= nn)
                return false;
            m_pt.Single(nn, c);
            return true;
        }
        if (n > nn)
            return false;
        int i = 0;
        while (i < n) {
            const std::uint32_t peek = m_in.Peek(16);
            int c = static_cast<int>(peek >> 13);
            if (c == 7) {
                // Lengths of 7 and more: each further 1 bit adds one.
                for (std::uint32_t m = 1u << 12; m != 0 && (peek & m); m >>= 1)
                    ++c;
            }
            if (c > kMaxCodeLen)
                return false;
            m_in.Drop(c < 7 ? 3 : c - 3);
            m_pt.len[static_cast<size_t>(i++)] = static_cast<std::uint8_t>(c);
            if (i == special) {
                const int zeros = static_cast<int>(m_in.Get(2));
                if (i + zeros > nn)
                    return false;
                for (int z = 0; z < zeros; ++z)
                    m_pt.len[static_cast<size_t>(i++)] = 0;
            }
        }
        std::fill(m_pt.len.begin() + i, m_pt.len.begin() + nn, 0);
        return m_pt.Build(nn);
    }

    bool ReadCLen()
    {
        const int n = static_cast<int>(m_in.Get(CBIT));
        if (n == 0) {
            const int c = static_cast<int>(m_in.Get(CBIT));
            if (c >= NC)
                return false;
            m_c.Single(NC, c);
            return true;
        }
        if (n > NC)
            return false;
        int i = 0;
        while (i < n) {
            int c = m_pt.Lookup(m_in.Peek(16));
            m_in.Drop(m_pt.len[static_cast<size_t>(c)]);
            if (c <= 2) {
                const int zeros = c == 0 ? 1 : c == 1 ? static_cast<int>(m_in.Get(4)) + 3 : static_cast<int>(m_in.Get(CBIT)) + 20;
                if (i + zeros > NC)
                    return false;
                std::fill(m_c.len.begin() + i, m_c.len.begin() + i + zeros, 0);
                i += zeros;
            } else {
                m_c.len[static_cast<size_t>(i++)] = static_cast<std::uint8_t>(c - 2);
            }
            if (m_in.Overrun())
                return false;
        }
        std::fill(m_c.len.begin() + i, m_c.len.end(), 0);
        return m_c.Build(NC);
    }

    // Starts a block: its symbol count and three tables.
    TLzhResult StartBlock()
    {
        m_blockLeft = m_in.Get(16);
        if (m_in.Overrun())
            return TLzhResult::Truncated;
        if (m_blockLeft == 0)
            return TLzhResult::BadData;
        if (!ReadPtLen(NT, TBIT, 3) || !ReadCLen() || !ReadPtLen(m_np, m_pbits, -1))
            return m_in.Overrun() ? TLzhResult::Truncated : TLzhResult::BadData;
        return m_in.Overrun() ? TLzhResult::Truncated : TLzhResult::Ok;
    }

    TLzhResult Run(std::int64_t total, const TLzhSink& sink)
    {
        std::int64_t produced = 0;
        std::int32_t pos = 0;     // write index in the window
        std::int32_t flushed = 0; // start of what the sink has not had
        auto flush = [&]() {
            const bool ok = pos == flushed || sink(m_window + flushed, pos - flushed);
            flushed = pos;
            return ok;
        };
        while (produced < total) {
            if (m_blockLeft == 0) {
                const TLzhResult r = StartBlock();
                if (r != TLzhResult::Ok) {
                    flush();
                    return r;
                }
            }
            --m_blockLeft;
            const int sym = m_c.Lookup(m_in.Peek(16));
            m_in.Drop(m_c.len[static_cast<size_t>(sym)]);
            if (sym < 256) {
                m_window[pos++] = static_cast<std::uint8_t>(sym);
                ++produced;
            } else {
                int p = m_pt.Lookup(m_in.Peek(16));
                m_in.Drop(m_pt.len[static_cast<size_t>(p)]);
                if (p != 0)
                    p = (1 << (p - 1)) + static_cast<int>(m_in.Get(p - 1));
                const std::int32_t length = static_cast<std::int32_t>(std::min<std::int64_t>(sym - kMatchBase, total - produced));
                // A distance reaching before the entry's first byte names
                // nothing the window holds.
                if (p >= produced) {
                    flush();
                    return m_in.Overrun() ? TLzhResult::Truncated : TLzhResult::BadData;
                }
                std::int32_t from = (pos - p - 1) & (kWindow - 1);
                produced += length;
                if (from < pos && pos + length <= kWindow) {
                    // Byte by byte: an overlapping copy repeats the bytes.
                    std::uint8_t* d = m_window + pos;
                    const std::uint8_t* s = m_window + from;
                    for (std::int32_t k = 0; k < length; ++k)
                        d[k] = s[k];
                    pos += length;
                } else {
                    for (std::int32_t k = 0; k < length; ++k) {
                        m_window[pos++] = m_window[from];
                        from = (from + 1) & (kWindow - 1);
                        if (pos == kWindow) {
                            if (!flush())
                                return TLzhResult::Stopped;
                            pos = flushed = 0;
                        }
                    }
                }
            }
            if (m_in.Overrun()) {
                flush();
                return TLzhResult::Truncated;
            }
            if (pos == kWindow) {
                if (!flush())
                    return TLzhResult::Stopped;
                pos = flushed = 0;
            }
        }
        return flush() ? TLzhResult::Ok : TLzhResult::Stopped;
    }

private:
    HuffTable& m_pt;
    HuffTable& m_c;
    std::uint8_t* m_window;
    int m_np;
    int m_pbits;
    TLzhBitInput& m_in;
    std::uint32_t m_blockLeft = 0;
};

// A unary prefix of up to maxOnes 1 bits, each adding the next power of two
// from 2^firstWidth, followed by a field as wide as the prefix made it.
std::int32_t ReadFastCode(TLzhBitInput& in, int firstWidth, int maxOnes)
{
    std::int32_t sum = 0;
    int width = firstWidth;
    for (int i = 0; i < maxOnes && in.Get(1); ++i) {
        sum += 1 << width;
        ++width;
    }
    return sum + static_cast<std::int32_t>(in.Get(width));
}

}  // namespace

TLzhDecoder::TLzhDecoder() : m_state(std::make_unique<State>()) {}

TLzhDecoder::~TLzhDecoder() = default;

TLzhResult TLzhDecoder::Decode(const TLzhParams& params, std::int64_t unpackedSize, const TLzhSource& source,
                               const TLzhSink& sink)
{
    if (params.DicBits < 10 || params.DicBits + 1 > NPMAX || params.PBits < 4 || params.PBits > 5)
        return TLzhResult::BadData;
    TLzhBitInput in(source);
    std::fill(m_state->window.begin(), m_state->window.end(), 0);
    StaticDecode decode(m_state->pt, m_state->c, m_state->window.data(), params, in);
    return decode.Run(unpackedSize, sink);
}

TLzhResult TLzhDecoder::DecodeFast(std::int64_t unpackedSize, const TLzhSource& source, const TLzhSink& sink)
{
    TLzhBitInput in(source);
    std::uint8_t* w = m_state->window.data();
    std::fill(w, w + kFastWindow, 0);
    std::int64_t produced = 0;
    std::int32_t pos = 0;
    auto flush = [&]() {
        const bool ok = pos == 0 || sink(w, pos);
        pos = 0;
        return ok;
    };
    while (produced < unpackedSize) {
        // Length code 0 is a literal; others are a match of code + 2 bytes.
        const std::int32_t code = ReadFastCode(in, 0, 7);
        if (code == 0) {
            w[pos++] = static_cast<std::uint8_t>(in.Get(8));
            ++produced;
        } else {
            const std::int32_t dist = ReadFastCode(in, 9, 4);
            if (dist >= produced) {
                flush();
                return in.Overrun() ? TLzhResult::Truncated : TLzhResult::BadData;
            }
            const std::int32_t length = static_cast<std::int32_t>(std::min<std::int64_t>(code + 2, unpackedSize - produced));
            std::int32_t from = (pos - dist - 1) & (kFastWindow - 1);
            produced += length;
            for (std::int32_t k = 0; k < length; ++k) {
                w[pos++] = w[from];
                from = (from + 1) & (kFastWindow - 1);
                if (pos == kFastWindow && !flush())
                    return TLzhResult::Stopped;
            }
        }
        if (in.Overrun()) {
            flush();
            return TLzhResult::Truncated;
        }
        if (pos == kFastWindow && !flush())
            return TLzhResult::Stopped;
    }
    return flush() ? TLzhResult::Ok : TLzhResult::Stopped;
}
