#include "archive/zadinflate.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"

#include <algorithm>
#include <array>
#include <cstring>

bool is64Bit = false;

namespace {

constexpr int kInputSize = 32768;
// The longest code any table holds (implode; deflate stops at 15).
constexpr int kMaxCodeBits = 16;

// Length codes 257..287 (index code - 257). Code 285 is 258 in deflate and
// 3 + 16 extra bits in Deflate64; 286 and 287 never occur.
constexpr std::array<std::uint32_t, 31> kLenBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                                    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr std::array<std::uint8_t, 31> kLenExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                                    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0};
constexpr std::array<std::uint32_t, 31> kLenBase64 = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                                      35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,   0,  0};
constexpr std::array<std::uint8_t, 31> kLenExtra64 = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 0, 0};
// Distance codes 0..31; 30 and 31 exist only in Deflate64.
constexpr std::array<std::uint32_t, 32> kDistBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                                     49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                                     2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::array<std::uint8_t, 32> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2, 3,  3,  4,  4,  5,  5,  6,  6,
                                                     7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// An extra-bit count of 0xFF marks a code with no meaning (table entry Invalid).
constexpr std::uint8_t kNoCode = 0xFF;

constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

std::uint32_t ReverseBits(std::uint32_t code, int len)
{
    std::uint32_t r = 0;
    for (int i = 0; i < len; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// Decoder state of one call: the bounded bit input, the output window
// with its flush. Every use of a window index is masked to the window.
class Inflater {
public:
    Inflater(TStream32* in, TStream32*& out, const TInflateRec& rec, const TInflateProc& proc, TInflateBuffers& buffers)
        : m_io(in, out, rec, proc, buffers.input),
          m_window(buffers.window), m_buffers(buffers)
    {
        m_windowSize = is64Bit ? 65536u : 32768u;
        // Kept buffers keep their size; a distance never reaches a byte
        // not written in this entry, so old contents do not matter.
        if (m_window.size() < m_windowSize)
            m_window.resize(m_windowSize);
    }

    TInflateResult Run();

private:
    bool Cancelled() const { return m_io.output.Cancelled(); }
    std::uint32_t GetBits(int n) { return m_io.bits.GetBits(n); }
    bool Overrun() const { return m_io.bits.Overrun(); }
    const THuftEntry* Decode(const THuftTable& t) { return m_io.bits.Decode(t); }

    bool Flush(std::uint32_t n)
    {
        if (n == 0)
            return true;
        return m_io.output.Write(m_window.data(), n);
    }

    bool PutByte(std::uint8_t b)
    {
        m_window[m_wp++] = b;
        ++m_produced;
        if (m_wp == m_windowSize) {
            if (!Flush(m_wp))
                return false;
            m_wp = 0;
        }
        return true;
    }

    TInflateResult Block(bool& last);
    TInflateResult Stored();
    TInflateResult Codes(const THuftTable& lit, const THuftTable& dist);
    TInflateResult Fixed();
    TInflateResult Dynamic();

    TDecoderIO m_io;

    std::vector<std::uint8_t>& m_window;
    TInflateBuffers& m_buffers;
    std::uint32_t m_windowSize = 32768;
    std::uint32_t m_wp = 0;
    // Bytes produced in this member: no distance may reach before them.
    std::int64_t m_produced = 0;
};

TInflateResult Inflater::Stored()
{
    m_io.bits.AlignToByte();
    const std::uint32_t len = GetBits(16);
    const std::uint32_t nlen = GetBits(16);
    if (Overrun())
        return TInflateResult::InputExhausted;
    if (len != (~nlen & 0xFFFFu))
        return TInflateResult::InvalidData;
    for (std::uint32_t i = 0; i < len; ++i) {
        if (Cancelled())
            return TInflateResult::Cancelled;
        const auto b = static_cast<std::uint8_t>(GetBits(8));
        if (Overrun())
            return TInflateResult::InputExhausted;
        if (!PutByte(b))
            return TInflateResult::WriteFailed;
    }
    return TInflateResult::Ok;
}

TInflateResult Inflater::Codes(const THuftTable& lit, const THuftTable& dist)
{
    const std::uint32_t mask = m_windowSize - 1;
    while (!Cancelled()) {
        const THuftEntry* e = Decode(lit);
        if (Overrun())
            return TInflateResult::InputExhausted;
        if (!e)
            return TInflateResult::InvalidData;
        if (e->kind == THuftEntry::Literal) {
            if (!PutByte(static_cast<std::uint8_t>(e->value)))
                return TInflateResult::WriteFailed;
            continue;
        }
        if (e->kind == THuftEntry::EndOfBlock)
            return TInflateResult::Ok;
        std::uint32_t len = e->value + GetBits(e->extra);
        const THuftEntry* d = Decode(dist);
        if (Overrun())
            return TInflateResult::InputExhausted;
        if (!d || d->kind != THuftEntry::Base)
            return TInflateResult::InvalidData;
        const std::uint32_t distance = d->value + GetBits(d->extra);
        if (Overrun())
            return TInflateResult::InputExhausted;
        // A distance may reach no further back than the bytes produced and
        // the window's size.
        if (distance > m_windowSize || static_cast<std::int64_t>(distance) > m_produced)
            return TInflateResult::InvalidData;
        std::uint32_t src = (m_wp - distance) & mask;
        while (len > 0) {
            if (Cancelled())
                return TInflateResult::Cancelled;
            const std::uint32_t chunk = std::min(len, m_windowSize - std::max(src, m_wp));
            if (m_wp > src && m_wp - src >= chunk) {
                std::memcpy(&m_window[m_wp], &m_window[src], chunk);
            } else {
                for (std::uint32_t i = 0; i < chunk; ++i)
                    m_window[m_wp + i] = m_window[src + i];
            }
            m_wp += chunk;
            src = (src + chunk) & mask;
            m_produced += chunk;
            len -= chunk;
            if (m_wp == m_windowSize) {
                if (!Flush(m_wp))
                    return TInflateResult::WriteFailed;
                m_wp = 0;
            }
        }
    }
    return TInflateResult::Cancelled;
}

const std::uint32_t* LenBases() { return is64Bit ? kLenBase64.data() : kLenBase.data(); }
const std::uint8_t* LenExtras() { return is64Bit ? kLenExtra64.data() : kLenExtra.data(); }

// Length codes 286, 287 and (in deflate) distance codes 30, 31 have no meaning.
std::array<std::uint8_t, 31> LenExtrasChecked()
{
    std::array<std::uint8_t, 31> e{};
    std::memcpy(e.data(), LenExtras(), e.size());
    e[29] = kNoCode;
    e[30] = kNoCode;
    return e;
}
std::array<std::uint8_t, 32> DistExtrasChecked()
{
    std::array<std::uint8_t, 32> e = kDistExtra;
    if (!is64Bit) {
        e[30] = kNoCode;
        e[31] = kNoCode;
    }
    return e;
}

TInflateResult Inflater::Fixed()
{
    std::array<std::uint8_t, 288> l{};
    std::fill(l.begin(), l.begin() + 144, 8);
    std::fill(l.begin() + 144, l.begin() + 256, 9);
    std::fill(l.begin() + 256, l.begin() + 280, 7);
    std::fill(l.begin() + 280, l.end(), 8);
    const auto lenExtras = LenExtrasChecked();
    THuftTable& lit = m_buffers.literals;
    if (BuildHuffmanTable(l.data(), 288, 257, LenBases(), lenExtras.data(), 7, lit) > 1)
        return TInflateResult::InvalidData;
    // The fixed distance code has 32 codes of 5 bits; 30 and 31 mean
    // something only in Deflate64.
    std::array<std::uint8_t, 32> d{};
    d.fill(5);
    const auto distExtras = DistExtrasChecked();
    THuftTable& dist = m_buffers.distances;
    if (BuildHuffmanTable(d.data(), 32, 0, kDistBase.data(), distExtras.data(), 5, dist) > 1)
        return TInflateResult::InvalidData;
    return Codes(lit, dist);
}

TInflateResult Inflater::Dynamic()
{
    const int nlit = static_cast<int>(GetBits(5)) + 257;
    const int ndist = static_cast<int>(GetBits(5)) + 1;
    const int nclen = static_cast<int>(GetBits(4)) + 4;
    if (Overrun())
        return TInflateResult::InputExhausted;
    if (nlit > 288 || ndist > 32)
        return TInflateResult::InvalidData;
    std::array<std::uint8_t, 19> cl{};
    for (int i = 0; i < nclen; ++i)
        cl[kCodeLengthOrder[static_cast<size_t>(i)]] = static_cast<std::uint8_t>(GetBits(3));
    if (Overrun())
        return TInflateResult::InputExhausted;
    THuftTable& clTable = m_buffers.codeLengths;
    if (BuildHuffmanTable(cl.data(), 19, 19, nullptr, nullptr, 7, clTable) != 0)
        return TInflateResult::InvalidData;

    std::array<std::uint8_t, 288 + 32> lengths{};
    const int total = nlit + ndist;
    int i = 0;
    std::uint8_t lastLen = 0;
    while (i < total) {
        const THuftEntry* e = Decode(clTable);
        if (Overrun())
            return TInflateResult::InputExhausted;
        if (!e)
            return TInflateResult::InvalidData;
        const std::uint32_t sym = e->value;
        int repeat = 0;
        std::uint8_t value = 0;
        if (sym < 16) {
            lengths[static_cast<size_t>(i++)] = lastLen = static_cast<std::uint8_t>(sym);
            continue;
        }
        if (sym == 16) {
            if (i == 0)
                return TInflateResult::InvalidData;
            repeat = 3 + static_cast<int>(GetBits(2));
            value = lastLen;
        } else if (sym == 17) {
            repeat = 3 + static_cast<int>(GetBits(3));
            lastLen = 0;
        } else {
            repeat = 11 + static_cast<int>(GetBits(7));
            lastLen = 0;
        }
        if (i + repeat > total)
            return TInflateResult::InvalidData;
        while (repeat-- > 0)
            lengths[static_cast<size_t>(i++)] = value;
    }
    if (Overrun())
        return TInflateResult::InputExhausted;
    // A block without an end-of-block code could never end.
    if (lengths[256] == 0)
        return TInflateResult::InvalidData;
    const auto lenExtras = LenExtrasChecked();
    THuftTable& lit = m_buffers.literals;
    if (BuildHuffmanTable(lengths.data(), nlit, 257, LenBases(), lenExtras.data(), 9, lit) > 1)
        return TInflateResult::InvalidData;
    const auto distExtras = DistExtrasChecked();
    THuftTable& dist = m_buffers.distances;
    if (BuildHuffmanTable(lengths.data() + nlit, ndist, 0, kDistBase.data(), distExtras.data(), 6, dist) > 1)
        return TInflateResult::InvalidData;
    return Codes(lit, dist);
}

TInflateResult Inflater::Block(bool& last)
{
    last = GetBits(1) != 0;
    const std::uint32_t type = GetBits(2);
    if (Overrun())
        return TInflateResult::InputExhausted;
    switch (type) {
    case 0: return Stored();
    case 1: return Fixed();
    case 2: return Dynamic();
    default: return TInflateResult::InvalidData;
    }
}

TInflateResult Inflater::Run()
{
    m_wp = 0;
    m_produced = 0;
    if (!is64Bit)
        Crc32Val = CRC_MASK;
    bool last = false;
    do {
        const TInflateResult code = Block(last);
        if (Cancelled())
            break;
        if (code != TInflateResult::Ok)
            return code;
    } while (!last);
    return Flush(m_wp) ? TInflateResult::Ok : TInflateResult::WriteFailed;
}

}  // namespace

TBitInput::TBitInput(TStream32* in, const TInflateRec& rec, const TInflateProc& proc, std::vector<std::uint8_t>& buffer)
    : m_in(in), m_rec(rec), m_proc(proc), m_buffer(buffer)
{
    if (m_buffer.size() < static_cast<size_t>(kInputSize))
        m_buffer.resize(kInputSize);
}

bool TBitInput::Refill()
{
    m_pos = 0;
    m_len = 0;
    if (m_eof)
        return false;
    const std::int64_t left = m_rec.PackedSize - m_totalRead;
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(kInputSize, std::max<std::int64_t>(left, 0)));
    std::int32_t got = 0;
    if (want > 0 && m_proc.ReadProc)
        got = m_proc.ReadProc(m_in, nullptr, m_buffer.data(), (m_rec.BitFlag & 1) != 0, 0, want, dtData);
    if (got <= 0) {
        m_eof = true;
        return false;
    }
    m_totalRead += got;
    m_len = std::min(got, want);
    return true;
}

bool TDecodedOutput::Write(std::uint8_t* data, std::uint32_t n)
{
    if (n == 0)
        return true;
    const std::int32_t written =
        m_proc.WriteProc ? m_proc.WriteProc(m_out, data, false, 32, static_cast<std::int32_t>(n), dtData) : 0;
    const std::int64_t w = std::max<std::int32_t>(written, 0);
    if (m_proc.ProgressLeft)
        *m_proc.ProgressLeft -= w;
    m_remaining -= w;
    if (m_proc.ProgressProc) {
        try {
            const BYTE byFile = CalcProgress64(m_rec.UnpackedSize - m_remaining, m_rec.UnpackedSize);
            const std::int64_t left = m_proc.ProgressLeft ? *m_proc.ProgressLeft : 0;
            const BYTE byArc = CalcProgress64(m_rec.ProgressTotal - left, m_rec.ProgressTotal);
            m_proc.ProgressProc(byFile, byArc);
        } catch (...) {
            // A progress handler never ends the decode.
        }
    }
    return written == static_cast<std::int32_t>(n);
}

int BuildHuffmanTable(const std::uint8_t* lengths, int count, int literals, const std::uint32_t* bases,
                      const std::uint8_t* extras, int lookupBits, THuftTable& table, int maxBits)
{
    table.entries.clear();
    table.rootBits = 0;
    maxBits = std::clamp(maxBits, 1, kMaxCodeBits);
    std::array<int, kMaxCodeBits + 1> bl{};
    for (int i = 0; i < count; ++i) {
        if (lengths[i] > maxBits)
            return 2;
        ++bl[lengths[i]];
    }
    if (bl[0] == count)
        return 0;  // no codes: every lookup is invalid
    int minLen = 1;
    while (bl[minLen] == 0)
        ++minLen;
    int maxLen = maxBits;
    while (bl[maxLen] == 0)
        --maxLen;
    // Over-subscribed or incomplete?
    int left = 1;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        left <<= 1;
        left -= bl[len];
        if (left < 0)
            return 2;
    }
    const int root = std::clamp(lookupBits, minLen, maxLen);
    table.rootBits = root;
    table.entries.assign(static_cast<size_t>(1) << root, THuftEntry{});

    // Canonical codes: first code of each length.
    std::array<std::uint32_t, kMaxCodeBits + 2> next{};
    std::uint32_t code = 0;
    bl[0] = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        code = (code + static_cast<std::uint32_t>(bl[len - 1])) << 1;
        next[static_cast<size_t>(len)] = code;
    }
    const int subBits = maxLen - root;
    for (int sym = 0; sym < count; ++sym) {
        const int len = lengths[sym];
        if (len == 0)
            continue;
        const std::uint32_t rev = ReverseBits(next[static_cast<size_t>(len)]++, len);
        THuftEntry e;
        e.bits = static_cast<std::uint8_t>(len);
        if (sym < literals) {
            e.kind = (sym == 256 && literals > 256) ? THuftEntry::EndOfBlock : THuftEntry::Literal;
            e.value = static_cast<std::uint32_t>(sym);
        } else if (extras && extras[sym - literals] != kNoCode) {
            e.kind = THuftEntry::Base;
            e.value = bases[sym - literals];
            e.extra = extras[sym - literals];
        } else {
            e.kind = THuftEntry::Invalid;
        }
        if (len <= root) {
            for (std::uint32_t k = rev; k < (1u << root); k += (1u << len))
                table.entries[k] = e;
            continue;
        }
        // A long code: its first root bits pick a sub-table of subBits.
        const std::uint32_t prefix = rev & ((1u << root) - 1);
        THuftEntry& link = table.entries[prefix];
        if (link.kind != THuftEntry::Link) {
            link.kind = THuftEntry::Link;
            link.bits = static_cast<std::uint8_t>(root);
            link.extra = static_cast<std::uint8_t>(subBits);
            link.value = static_cast<std::uint32_t>(table.entries.size());
            table.entries.resize(table.entries.size() + (static_cast<size_t>(1) << subBits), THuftEntry{});
        }
        const std::uint32_t start = table.entries[prefix].value;
        const std::uint32_t rest = rev >> root;
        for (std::uint32_t k = rest; k < (1u << subBits); k += (1u << (len - root)))
            table.entries[start + k] = e;
    }
    return left > 0 ? 1 : 0;
}

TInflateResult InflateEx(TZipCommon* /*zad*/, TStream32* inStream, TStream32*& outStream, const TInflateRec& rec,
                         const TInflateProc& proc, TInflateBuffers* buffers)
{
    TInflateBuffers own;
    Inflater inf(inStream, outStream, rec, proc, buffers ? *buffers : own);
    return inf.Run();
}

bool Inflate(TZipCommon* zad, TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, BYTE /*opBase*/,
             const TInflateProc& proc)
{
    return InflateEx(zad, inStream, outStream, rec, proc) == TInflateResult::Ok;
}
