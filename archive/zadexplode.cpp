#include "archive/zadexplode.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::uint32_t kWindowSize = 32768;
constexpr int kMaxImplodeBits = 16;

// Length bases by symbol: 2.. without a literal tree, 3.. with one; symbol
// 63 takes 8 more bits. Distance bases: the symbol is the distance's high
// bits above the 6 (4 KB) or 7 (8 KB) low bits sent raw.
struct Tables {
    std::array<std::uint32_t, 64> len2{}, len3{}, dist4k{}, dist8k{};
    std::array<std::uint8_t, 64> lenExtra{}, noExtra{};
    Tables()
    {
        for (std::uint32_t s = 0; s < 64; ++s) {
            len2[s] = 2 + s;
            len3[s] = 3 + s;
            dist4k[s] = 1 + 64 * s;
            dist8k[s] = 1 + 128 * s;
        }
        lenExtra[63] = 8;
    }
};
const Tables kTables;

// A tree description: one byte holding the number of bytes that follow
// minus 1, each of them a bit length (low nibble + 1) for a run of
// consecutive symbols (high nibble + 1). The runs must fill the tree
// exactly.
TInflateResult ReadTree(TBitInput& bits, int codes, std::uint8_t* lengths)
{
    const int bytes = static_cast<int>(bits.GetBits(8)) + 1;
    int n = 0;
    for (int i = 0; i < bytes; ++i) {
        const std::uint32_t b = bits.GetBits(8);
        const int len = static_cast<int>(b & 15) + 1;
        const int run = static_cast<int>(b >> 4) + 1;
        if (bits.Overrun())
            return TInflateResult::InputExhausted;
        if (n + run > codes)
            return TInflateResult::InvalidData;
        std::memset(lengths + n, len, static_cast<size_t>(run));
        n += run;
    }
    return n == codes ? TInflateResult::Ok : TInflateResult::InvalidData;
}

// Every tree sends a length for every symbol, so only a complete code is a
// valid one.
bool Build(const std::uint8_t* lengths, int count, int literals, const std::uint32_t* bases, const std::uint8_t* extras,
           int lookupBits, THuftTable& table)
{
    return BuildHuffmanTable(lengths, count, literals, bases, extras, lookupBits, table, kMaxImplodeBits) == 0;
}

class Exploder {
public:
    Exploder(TStream32* in, TStream32*& out, const TInflateRec& rec, const TInflateProc& proc, TExplodeBuffers& b)
        : m_io(in, out, rec, proc, b.input), m_window(b.window),
          m_buffers(b)
    {
        if (m_window.size() < kWindowSize)
            m_window.resize(kWindowSize);
    }

    TInflateResult Run();

private:
    TInflateResult ReadTables();
    TInflateResult Decode();
    bool Flush()
    {
        const bool ok = m_io.output.Write(m_window.data(), m_wp);
        m_wp = 0;
        m_filled = true;
        return ok;
    }

    TDecoderIO m_io;
    std::vector<std::uint8_t>& m_window;
    TExplodeBuffers& m_buffers;
    std::uint32_t m_wp = 0;
    // False until the window is first written out: before that, the
    // positions at and after the write index hold nothing of this entry.
    bool m_filled = false;
    bool m_literalTree = false;
    int m_lowDistanceBits = 6;
};

TInflateResult Exploder::ReadTables()
{
    m_literalTree = (m_io.rec.BitFlag & 0x04) != 0;
    const bool bigDictionary = (m_io.rec.BitFlag & 0x02) != 0;
    m_lowDistanceBits = bigDictionary ? 7 : 6;
    std::array<std::uint8_t, 256> lengths{};
    if (m_literalTree) {
        const TInflateResult r = ReadTree(m_io.bits, 256, lengths.data());
        if (r != TInflateResult::Ok)
            return r;
        if (!Build(lengths.data(), 256, 256, nullptr, nullptr, 9, m_buffers.literals))
            return TInflateResult::InvalidData;
    }
    TInflateResult r = ReadTree(m_io.bits, 64, lengths.data());
    if (r != TInflateResult::Ok)
        return r;
    const auto& lenBases = m_literalTree ? kTables.len3 : kTables.len2;
    if (!Build(lengths.data(), 64, 0, lenBases.data(), kTables.lenExtra.data(), 7, m_buffers.lengths))
        return TInflateResult::InvalidData;
    r = ReadTree(m_io.bits, 64, lengths.data());
    if (r != TInflateResult::Ok)
        return r;
    const auto& distBases = bigDictionary ? kTables.dist8k : kTables.dist4k;
    const int distLookup = m_io.rec.PackedSize > 200000 ? 8 : 7;
    if (!Build(lengths.data(), 64, 0, distBases.data(), kTables.noExtra.data(), distLookup, m_buffers.distances))
        return TInflateResult::InvalidData;
    return TInflateResult::Ok;
}

TInflateResult Exploder::Decode()
{
    constexpr std::uint32_t mask = kWindowSize - 1;
    std::int64_t remaining = m_io.rec.UnpackedSize;
    while (remaining > 0) {
        if (m_io.output.Cancelled())
            return TInflateResult::Cancelled;
        if (m_io.bits.GetBits(1)) {
            std::uint8_t lit = 0;
            if (m_literalTree) {
                const THuftEntry* e = m_io.bits.Decode(m_buffers.literals, true);
                if (!e && !m_io.bits.Overrun())
                    return TInflateResult::InvalidData;
                lit = e ? static_cast<std::uint8_t>(e->value) : 0;
            } else {
                lit = static_cast<std::uint8_t>(m_io.bits.GetBits(8));
            }
            if (m_io.bits.Overrun())
                return TInflateResult::InputExhausted;
            m_window[m_wp++] = lit;
            --remaining;
            if (m_wp == kWindowSize && !Flush())
                return TInflateResult::WriteFailed;
            continue;
        }
        const std::uint32_t low = m_io.bits.GetBits(m_lowDistanceBits);
        const THuftEntry* d = m_io.bits.Decode(m_buffers.distances, true);
        const THuftEntry* l = d ? m_io.bits.Decode(m_buffers.lengths, true) : nullptr;
        if (!l && !m_io.bits.Overrun())
            return TInflateResult::InvalidData;
        const std::uint32_t length = l ? l->value + m_io.bits.GetBits(l->extra) : 0;
        if (m_io.bits.Overrun())
            return TInflateResult::InputExhausted;
        const std::uint32_t distance = low + d->value;
        // The declared size ends the entry, also in the middle of a match.
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::int64_t>(length, remaining));
        remaining -= n;
        std::uint32_t src = (m_wp - distance) & mask;
        while (n > 0) {
            const std::uint32_t chunk = std::min(n, kWindowSize - std::max(src, m_wp));
            if (!m_filled && src >= m_wp)
                std::memset(&m_window[m_wp], 0, chunk);  // before the entry's first byte
            else if (m_wp > src && m_wp - src >= chunk)
                std::memcpy(&m_window[m_wp], &m_window[src], chunk);
            else
                for (std::uint32_t i = 0; i < chunk; ++i)
                    m_window[m_wp + i] = m_window[src + i];
            m_wp += chunk;
            src = (src + chunk) & mask;
            n -= chunk;
            if (m_wp == kWindowSize && !Flush())
                return TInflateResult::WriteFailed;
        }
    }
    return TInflateResult::Ok;
}

TInflateResult Exploder::Run()
{
    TInflateResult r = ReadTables();
    if (r == TInflateResult::InvalidData || r == TInflateResult::Cancelled)
        return r;
    if (r == TInflateResult::Ok)
        r = Decode();
    // Invalid data and a cancel write nothing more; data that ended early
    // leaves what was decoded before it.
    if (r == TInflateResult::InvalidData || r == TInflateResult::Cancelled || r == TInflateResult::WriteFailed)
        return r;
    if (!m_io.output.Write(m_window.data(), m_wp))
        return TInflateResult::WriteFailed;
    return r;
}

}  // namespace

TInflateResult Explode(TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, const TInflateProc& proc,
                       TExplodeBuffers& buffers)
{
    Exploder e(inStream, outStream, rec, proc, buffers);
    return e.Run();
}
