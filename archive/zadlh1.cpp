#include "zadlh1.h"

#include "archive/zadlzhbits.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int N = 4096;              // ring dictionary
constexpr int F = 60;                // longest match
constexpr int THRESHOLD = 2;         // matches are longer than this
constexpr int N_CHAR = 256 - THRESHOLD + F;  // 314 symbols
constexpr int T = 2 * N_CHAR - 1;    // tree nodes
constexpr int R = T - 1;             // root
constexpr std::uint16_t MAX_FREQ = 0x8000;
constexpr int kStart = N - F;        // first write position
constexpr std::int32_t kOutBlock = 32768;

// The prefix code of a position's upper 6 bits: how many values take each
// code length from 3 to 8; codes are assigned in ascending order.
struct PositionCode {
    std::array<std::uint8_t, 64> code{};   // left-aligned in 8 bits
    std::array<std::uint8_t, 64> len{};
    std::array<std::uint8_t, 256> upper{};  // by the next 8 bits: the value
    std::array<std::uint8_t, 256> total{};  // and its code length

    PositionCode()
    {
        static constexpr int kPerLength[] = {1, 3, 8, 12, 24, 16};
        int v = 0;
        unsigned c = 0;
        for (int l = 3; l <= 8; ++l) {
            for (int k = 0; k < kPerLength[l - 3]; ++k, ++v, ++c) {
                code[static_cast<size_t>(v)] = static_cast<std::uint8_t>(c << (8 - l));
                len[static_cast<size_t>(v)] = static_cast<std::uint8_t>(l);
                for (unsigned i = 0; i < (1u << (8 - l)); ++i) {
                    upper[(c << (8 - l)) | i] = static_cast<std::uint8_t>(v);
                    total[(c << (8 - l)) | i] = static_cast<std::uint8_t>(l);
                }
            }
            c <<= 1;
        }
    }
};

const PositionCode& Positions()
{
    static const PositionCode p;
    return p;
}

// The adaptive Huffman tree: leaves store symbol + T in son; prnt holds the
// parents of nodes and, at T + symbol, each symbol's leaf. Nodes stay
// sorted by frequency, so a node whose count passes its right neighbour's
// swaps with the last node of a smaller count.
struct AdaptiveTree {
    std::array<std::uint16_t, T + 1> freq{};
    std::array<std::int16_t, T> son{};
    std::array<std::int16_t, T + N_CHAR> prnt{};

    AdaptiveTree()
    {
        for (int i = 0; i < N_CHAR; ++i) {
            freq[static_cast<size_t>(i)] = 1;
            son[static_cast<size_t>(i)] = static_cast<std::int16_t>(i + T);
            prnt[static_cast<size_t>(i + T)] = static_cast<std::int16_t>(i);
        }
        for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
            freq[static_cast<size_t>(j)] = static_cast<std::uint16_t>(freq[static_cast<size_t>(i)] + freq[static_cast<size_t>(i + 1)]);
            son[static_cast<size_t>(j)] = static_cast<std::int16_t>(i);
            prnt[static_cast<size_t>(i)] = prnt[static_cast<size_t>(i + 1)] = static_cast<std::int16_t>(j);
        }
        freq[T] = 0xFFFF;  // a sentinel larger than every count
        prnt[R] = 0;
    }

    // Halves the counts: the leaves move to the front in node order, then
    // the internal nodes are rebuilt pairwise, each inserted after the
    // nodes of equal count.
    void Reconstruct()
    {
        int j = 0;
        for (int i = 0; i < T; ++i) {
            if (son[static_cast<size_t>(i)] >= T) {
                freq[static_cast<size_t>(j)] = static_cast<std::uint16_t>((freq[static_cast<size_t>(i)] + 1) / 2);
                son[static_cast<size_t>(j)] = son[static_cast<size_t>(i)];
                ++j;
            }
        }
        for (int i = 0, jj = N_CHAR; jj < T; i += 2, ++jj) {
            const std::uint16_t f = static_cast<std::uint16_t>(freq[static_cast<size_t>(i)] + freq[static_cast<size_t>(i + 1)]);
            int k = jj - 1;
            while (f < freq[static_cast<size_t>(k)])
                --k;
            ++k;
            std::memmove(&freq[static_cast<size_t>(k + 1)], &freq[static_cast<size_t>(k)], sizeof(freq[0]) * static_cast<size_t>(jj - k));
            freq[static_cast<size_t>(k)] = f;
            std::memmove(&son[static_cast<size_t>(k + 1)], &son[static_cast<size_t>(k)], sizeof(son[0]) * static_cast<size_t>(jj - k));
            son[static_cast<size_t>(k)] = static_cast<std::int16_t>(i);
        }
        for (int i = 0; i < T; ++i) {
            const int k = son[static_cast<size_t>(i)];
            if (k >= T)
                prnt[static_cast<size_t>(k)] = static_cast<std::int16_t>(i);
            else
                prnt[static_cast<size_t>(k)] = prnt[static_cast<size_t>(k + 1)] = static_cast<std::int16_t>(i);
        }
    }

    void Update(int sym)
    {
        if (freq[R] == MAX_FREQ)
            Reconstruct();
        int c = prnt[static_cast<size_t>(sym + T)];
        do {
            const std::uint16_t k = ++freq[static_cast<size_t>(c)];
            int l = c + 1;
            if (k > freq[static_cast<size_t>(l)]) {
                while (k > freq[static_cast<size_t>(++l)]) {
                }
                --l;
                freq[static_cast<size_t>(c)] = freq[static_cast<size_t>(l)];
                freq[static_cast<size_t>(l)] = k;
                const int i = son[static_cast<size_t>(c)];
                prnt[static_cast<size_t>(i)] = static_cast<std::int16_t>(l);
                if (i < T)
                    prnt[static_cast<size_t>(i + 1)] = static_cast<std::int16_t>(l);
                const int j = son[static_cast<size_t>(l)];
                son[static_cast<size_t>(l)] = static_cast<std::int16_t>(i);
                prnt[static_cast<size_t>(j)] = static_cast<std::int16_t>(c);
                if (j < T)
                    prnt[static_cast<size_t>(j + 1)] = static_cast<std::int16_t>(c);
                son[static_cast<size_t>(c)] = static_cast<std::int16_t>(j);
                c = l;
            }
            c = prnt[static_cast<size_t>(c)];
        } while (c != 0);
    }
};

// Byte output in blocks, for the decoder's and the packer's sinks.
class BlockOutput {
public:
    explicit BlockOutput(const TLzhSink& sink) : m_sink(sink) { m_buf.reserve(kOutBlock); }
    void Put(std::uint8_t b)
    {
        m_buf.push_back(b);
        if (m_buf.size() == static_cast<size_t>(kOutBlock))
            Flush();
    }
    bool Flush()
    {
        if (!m_buf.empty() && !m_failed && !m_sink(m_buf.data(), static_cast<std::int32_t>(m_buf.size())))
            m_failed = true;
        m_buf.clear();
        return !m_failed;
    }
    bool Failed() const { return m_failed; }

private:
    const TLzhSink& m_sink;
    std::vector<std::uint8_t> m_buf;
    bool m_failed = false;
};

// ---- the packer

class Packer {
public:
    Packer(const TLzhSource& source, const TLzhSink& sink) : m_source(source), m_out(sink)
    {
        m_in.resize(kOutBlock);
        std::fill(m_text.begin(), m_text.end(), ' ');
        m_lson.fill(NIL);
        m_rson.fill(NIL);
        m_dad.fill(NIL);
    }

    TLzhResult Run()
    {
        int s = 0;
        int r = kStart;
        int len = 0;
        int c;
        while (len < F && (c = NextByte()) >= 0)
            m_text[static_cast<size_t>(r + len++)] = static_cast<std::uint8_t>(c);
        if (len == 0)
            return TLzhResult::Ok;
        for (int i = 1; i <= F; ++i)
            InsertNode(r - i);
        InsertNode(r);
        do {
            if (m_matchLength > len)
                m_matchLength = len;
            if (m_matchLength <= THRESHOLD) {
                m_matchLength = 1;
                PutSymbol(m_text[static_cast<size_t>(r)]);
            } else {
                PutSymbol(255 - THRESHOLD + m_matchLength);
                PutPosition(m_matchPosition);
            }
            const int last = m_matchLength;
            int i = 0;
            for (; i < last && (c = NextByte()) >= 0; ++i) {
                DeleteNode(s);
                m_text[static_cast<size_t>(s)] = static_cast<std::uint8_t>(c);
                if (s < F - 1)
                    m_text[static_cast<size_t>(s + N)] = static_cast<std::uint8_t>(c);
                s = (s + 1) & (N - 1);
                r = (r + 1) & (N - 1);
                InsertNode(r);
            }
            for (; i < last; ++i) {
                DeleteNode(s);
                s = (s + 1) & (N - 1);
                r = (r + 1) & (N - 1);
                if (--len)
                    InsertNode(r);
            }
        } while (len > 0);
        if (m_bitCount > 0)
            m_out.Put(static_cast<std::uint8_t>(m_bits >> 8));
        return m_out.Flush() ? TLzhResult::Ok : TLzhResult::Stopped;
    }

private:
    static constexpr int NIL = N;

    int NextByte()
    {
        if (m_inPos == m_inLen) {
            if (m_inEnded)
                return -1;
            const std::int32_t got = m_source(m_in.data(), kOutBlock);
            m_inPos = 0;
            m_inLen = got > 0 ? got : 0;
            if (m_inLen == 0) {
                m_inEnded = true;
                return -1;
            }
        }
        return m_in[static_cast<size_t>(m_inPos++)];
    }

    void PutBit(int bit)
    {
        m_bits |= static_cast<std::uint32_t>(bit) << (15 - m_bitCount);
        if (++m_bitCount == 8) {
            m_out.Put(static_cast<std::uint8_t>(m_bits >> 8));
            m_bits = 0;
            m_bitCount = 0;
        }
    }

    // A symbol's code is its path from the root: the parity of each node
    // from its leaf up names the branch into it (left children stand at
    // even positions). It is sent root first, however deep the tree grew.
    void PutSymbol(int sym)
    {
        int depth = 0;
        int k = m_tree.prnt[static_cast<size_t>(sym + T)];
        do {
            m_path[static_cast<size_t>(depth++)] = static_cast<std::uint8_t>(k & 1);
            k = m_tree.prnt[static_cast<size_t>(k)];
        } while (k != R);
        for (int i = depth - 1; i >= 0; --i)
            PutBit(m_path[static_cast<size_t>(i)]);
        m_tree.Update(sym);
    }

    void PutPosition(int position)
    {
        const PositionCode& pc = Positions();
        const int upper = position >> 6;
        const int l = pc.len[static_cast<size_t>(upper)];
        for (int i = 0; i < l; ++i)
            PutBit((pc.code[static_cast<size_t>(upper)] >> (7 - i)) & 1);
        for (int i = 5; i >= 0; --i)
            PutBit((position >> i) & 1);
    }

    void InsertNode(int r)
    {
        int cmp = 1;
        const std::uint8_t* key = &m_text[static_cast<size_t>(r)];
        int p = N + 1 + key[0];
        m_rson[static_cast<size_t>(r)] = m_lson[static_cast<size_t>(r)] = NIL;
        m_matchLength = 0;
        for (;;) {
            if (cmp >= 0) {
                if (m_rson[static_cast<size_t>(p)] != NIL) {
                    p = m_rson[static_cast<size_t>(p)];
                } else {
                    m_rson[static_cast<size_t>(p)] = r;
                    m_dad[static_cast<size_t>(r)] = p;
                    return;
                }
            } else {
                if (m_lson[static_cast<size_t>(p)] != NIL) {
                    p = m_lson[static_cast<size_t>(p)];
                } else {
                    m_lson[static_cast<size_t>(p)] = r;
                    m_dad[static_cast<size_t>(r)] = p;
                    return;
                }
            }
            int i = 1;
            for (; i < F; ++i) {
                cmp = key[i] - m_text[static_cast<size_t>(p + i)];
                if (cmp != 0)
                    break;
            }
            if (i > THRESHOLD) {
                const int position = ((r - p) & (N - 1)) - 1;
                if (i > m_matchLength) {
                    m_matchPosition = position;
                    m_matchLength = i;
                    if (m_matchLength >= F)
                        break;
                } else if (i == m_matchLength && position < m_matchPosition) {
                    m_matchPosition = position;
                }
            }
        }
        // A full-length match: r takes p's place in the tree.
        m_dad[static_cast<size_t>(r)] = m_dad[static_cast<size_t>(p)];
        m_lson[static_cast<size_t>(r)] = m_lson[static_cast<size_t>(p)];
        m_rson[static_cast<size_t>(r)] = m_rson[static_cast<size_t>(p)];
        m_dad[static_cast<size_t>(m_lson[static_cast<size_t>(p)])] = r;
        m_dad[static_cast<size_t>(m_rson[static_cast<size_t>(p)])] = r;
        if (m_rson[static_cast<size_t>(m_dad[static_cast<size_t>(p)])] == p)
            m_rson[static_cast<size_t>(m_dad[static_cast<size_t>(p)])] = r;
        else
            m_lson[static_cast<size_t>(m_dad[static_cast<size_t>(p)])] = r;
        m_dad[static_cast<size_t>(p)] = NIL;
    }

    void DeleteNode(int p)
    {
        if (m_dad[static_cast<size_t>(p)] == NIL)
            return;
        int q;
        if (m_rson[static_cast<size_t>(p)] == NIL) {
            q = m_lson[static_cast<size_t>(p)];
        } else if (m_lson[static_cast<size_t>(p)] == NIL) {
            q = m_rson[static_cast<size_t>(p)];
        } else {
            q = m_lson[static_cast<size_t>(p)];
            if (m_rson[static_cast<size_t>(q)] != NIL) {
                do {
                    q = m_rson[static_cast<size_t>(q)];
                } while (m_rson[static_cast<size_t>(q)] != NIL);
                m_rson[static_cast<size_t>(m_dad[static_cast<size_t>(q)])] = m_lson[static_cast<size_t>(q)];
                m_dad[static_cast<size_t>(m_lson[static_cast<size_t>(q)])] = m_dad[static_cast<size_t>(q)];
                m_lson[static_cast<size_t>(q)] = m_lson[static_cast<size_t>(p)];
                m_dad[static_cast<size_t>(m_lson[static_cast<size_t>(p)])] = q;
            }
            m_rson[static_cast<size_t>(q)] = m_rson[static_cast<size_t>(p)];
            m_dad[static_cast<size_t>(m_rson[static_cast<size_t>(p)])] = q;
        }
        m_dad[static_cast<size_t>(q)] = m_dad[static_cast<size_t>(p)];
        if (m_rson[static_cast<size_t>(m_dad[static_cast<size_t>(p)])] == p)
            m_rson[static_cast<size_t>(m_dad[static_cast<size_t>(p)])] = q;
        else
            m_lson[static_cast<size_t>(m_dad[static_cast<size_t>(p)])] = q;
        m_dad[static_cast<size_t>(p)] = NIL;
    }

    const TLzhSource& m_source;
    BlockOutput m_out;
    std::vector<std::uint8_t> m_in;
    std::int32_t m_inPos = 0;
    std::int32_t m_inLen = 0;
    bool m_inEnded = false;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    AdaptiveTree m_tree;
    std::array<std::uint8_t, T> m_path{};
    // The ring and, after it, a copy of its first F - 1 bytes so that a
    // comparison near the end need not wrap.
    std::array<std::uint8_t, N + F - 1> m_text{};
    // Tree children and parents; lson/rson hold 256 extra roots, one per first byte.
    std::array<int, N + 1> m_lson{};
    std::array<int, N + 257> m_rson{};
    std::array<int, N + 1> m_dad{};
    int m_matchLength = 0;
    int m_matchPosition = 0;
};

}  // namespace

TLzhResult Lh1Decode(std::int64_t unpackedSize, const TLzhSource& source, const TLzhSink& sink)
{
    const PositionCode& pc = Positions();
    auto tree = std::make_unique<AdaptiveTree>();
    std::array<std::uint8_t, N> text;
    text.fill(' ');
    TLzhBitInput in(source);
    BlockOutput out(sink);
    int r = kStart;
    std::int64_t produced = 0;
    while (produced < unpackedSize) {
        int c = tree->son[R];
        while (c < T)
            c = tree->son[static_cast<size_t>(c + static_cast<int>(in.Get(1)))];
        c -= T;
        tree->Update(c);
        if (c < 256) {
            out.Put(static_cast<std::uint8_t>(c));
            text[static_cast<size_t>(r)] = static_cast<std::uint8_t>(c);
            r = (r + 1) & (N - 1);
            ++produced;
        } else {
            std::uint32_t index = in.Get(8);
            const int upper = pc.upper[index];
            for (int k = pc.total[index] - 2; k > 0; --k)
                index = (index << 1) | in.Get(1);
            const int position = (upper << 6) | static_cast<int>(index & 0x3F);
            const std::int64_t length = std::min<std::int64_t>(c - 253, unpackedSize - produced);
            const int from = (r - position - 1) & (N - 1);
            for (int k = 0; k < length; ++k) {
                const std::uint8_t b = text[static_cast<size_t>((from + k) & (N - 1))];
                out.Put(b);
                text[static_cast<size_t>(r)] = b;
                r = (r + 1) & (N - 1);
            }
            produced += length;
        }
        if (in.Overrun()) {
            out.Flush();
            return TLzhResult::Truncated;
        }
        if (out.Failed())
            return TLzhResult::Stopped;
    }
    return out.Flush() ? TLzhResult::Ok : TLzhResult::Stopped;
}

TLzhResult LzhPack(const TLzhSource& source, const TLzhSink& sink)
{
    auto packer = std::make_unique<Packer>(source, sink);
    return packer->Run();
}
