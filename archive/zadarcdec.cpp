#include "zadarcdec.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint8_t kRepeatMarker = 0x90;
constexpr std::uint16_t kNoPred = 0xFFFF;
constexpr int kTableSize = 4096;
constexpr int kStackSize = 4096;

// The compress decoder's byte interfaces over callables.
struct FnSource : TLzwSource {
    std::function<std::size_t(std::uint8_t*, std::size_t)> read;
    std::size_t Read(std::uint8_t* buffer, std::size_t cap) override { return read(buffer, cap); }
};

struct FnSink : TLzwSink {
    std::function<bool(const std::uint8_t*, std::size_t)> write;
    bool Write(const std::uint8_t* data, std::size_t count) override { return write(data, count); }
};

}  // namespace

// The string table of methods 5 to 7: code numbers are slot numbers, and a
// string is placed by hashing its predecessor and last byte.
struct TArcDecoder::CrunchTable {
    struct Entry {
        bool used = false;
        std::uint16_t next = 0;
        std::uint16_t pred = 0;
        std::uint8_t foll = 0;
    };
    std::array<Entry, kTableSize> slots{};
    bool newHash = false;

    // The first slot tried for a string: the middle twelve bits of the
    // square for the old hash, a multiplicative hash for the new one.
    int Home(std::uint16_t pred, std::uint8_t foll) const
    {
        const std::uint32_t sum = static_cast<std::uint16_t>(pred + foll);
        if (newHash)
            return static_cast<int>((sum * 15073u) & 0xFFF);
        const std::uint32_t v = (sum | 0x800) & 0xFFFF;
        return static_cast<int>(((v * v) >> 6) & 0xFFF);
    }

    // Places a string: at its home slot, or, when that is taken, in the
    // first free slot from 101 past the end of the home slot's chain,
    // linked to that end.
    void Insert(std::uint16_t pred, std::uint8_t foll)
    {
        int slot = Home(pred, foll);
        if (slots[static_cast<size_t>(slot)].used) {
            // A chain visits each slot once at most; the bound keeps a
            // damaged chain from turning round for ever.
            for (int steps = 0; slots[static_cast<size_t>(slot)].next != 0 && steps < kTableSize; ++steps)
                slot = slots[static_cast<size_t>(slot)].next;
            int probe = (slot + 101) & 0xFFF;
            int tried = 0;
            while (slots[static_cast<size_t>(probe)].used) {
                if (++tried == kTableSize)
                    return;  // full: nothing more is learnt
                probe = (probe + 1) & 0xFFF;
            }
            slots[static_cast<size_t>(slot)].next = static_cast<std::uint16_t>(probe);
            slot = probe;
        }
        slots[static_cast<size_t>(slot)] = Entry{true, 0, pred, foll};
    }

    void Reset(bool useNewHash)
    {
        slots.fill(Entry{});
        newHash = useNewHash;
        for (int c = 0; c < 256; ++c)
            Insert(kNoPred, static_cast<std::uint8_t>(c));
    }
};

TArcDecoder::TArcDecoder(Source source, Sink sink) : m_source(std::move(source)), m_sink(std::move(sink))
{
    m_in.resize(kBlock);
    m_out.reserve(kBlock);
}

TArcDecoder::~TArcDecoder() = default;

bool TArcDecoder::Handles(int method) { return method >= 2 && method <= 9; }

int TArcDecoder::GetByte()
{
    if (m_inPos >= m_inLen) {
        if (m_inEnded)
            return -1;
        m_inLen = std::max<std::int32_t>(m_source(m_in.data(), kBlock), 0);
        m_inPos = 0;
        if (m_inLen == 0) {
            m_inEnded = true;
            return -1;
        }
    }
    return m_in[static_cast<size_t>(m_inPos++)];
}

bool TArcDecoder::Flush()
{
    if (!m_out.empty() && !m_stopped && !m_sink(m_out.data(), static_cast<std::int32_t>(m_out.size())))
        m_stopped = true;
    m_out.clear();
    return !m_stopped;
}

void TArcDecoder::Put(std::uint8_t c)
{
    m_out.push_back(c);
    if (m_out.size() >= static_cast<size_t>(kBlock))
        Flush();
}

void TArcDecoder::PutRepeat(std::uint8_t c)
{
    if (!m_inRepeat) {
        if (c == kRepeatMarker) {
            m_inRepeat = true;
        } else {
            m_last = c;
            Put(c);
        }
        return;
    }
    m_inRepeat = false;
    if (c == 0) {
        Put(kRepeatMarker);
        return;
    }
    for (int i = 1; i < c && !m_stopped; ++i)
        Put(m_last);
}

TArcDecodeResult TArcDecoder::Decode(int method)
{
    m_inPos = m_inLen = 0;
    m_inEnded = false;
    m_stopped = false;
    m_inRepeat = false;
    m_last = 0;
    m_out.clear();
    TArcDecodeResult r = TArcDecodeResult::Done;
    switch (method) {
    case 2:
    case 3:
        for (int c; !m_stopped && (c = GetByte()) >= 0;) {
            if (method == 2)
                Put(static_cast<std::uint8_t>(c));
            else
                PutRepeat(static_cast<std::uint8_t>(c));
        }
        break;
    case 4: r = Unsqueeze(); break;
    case 5: r = Uncrunch(false, false); break;
    case 6: r = Uncrunch(false, true); break;
    case 7: r = Uncrunch(true, true); break;
    case 8: r = Unlzw(12, true); break;
    case 9: r = Unlzw(13, false); break;
    default: return TArcDecodeResult::Unsupported;
    }
    Flush();
    if (r == TArcDecodeResult::Done && m_stopped)
        r = TArcDecodeResult::Stopped;
    return r;
}

TArcDecodeResult TArcDecoder::Unsqueeze()
{
    const int lo = GetByte();
    const int hi = GetByte();
    if (lo < 0 || hi < 0)
        return TArcDecodeResult::Done;
    const auto count = static_cast<std::int16_t>(lo | (hi << 8));
    if (count < 0 || count > 256)
        return TArcDecodeResult::BadTree;
    constexpr int kEnd = -257;
    std::array<std::array<std::int16_t, 2>, 256> nodes{};
    nodes[0] = {kEnd, kEnd};
    for (int n = 0; n < count; ++n) {
        for (int side = 0; side < 2; ++side) {
            const int a = GetByte();
            const int b = GetByte();
            if (a < 0 || b < 0)
                return TArcDecodeResult::Done;
            nodes[static_cast<size_t>(n)][static_cast<size_t>(side)] = static_cast<std::int16_t>(a | (b << 8));
        }
    }
    // A child that names a node the tree does not have would walk outside
    // it (or round in it for ever, when it points back).
    const int nodeCount = std::max<int>(count, 1);
    int bits = 0;
    int byte = 0;
    while (!m_stopped) {
        int node = 0;
        do {
            if (bits == 0) {
                byte = GetByte();
                if (byte < 0)
                    return TArcDecodeResult::Done;
                bits = 8;
            }
            node = nodes[static_cast<size_t>(node)][static_cast<size_t>(byte & 1)];
            byte >>= 1;
            --bits;
            if (node >= nodeCount)
                return TArcDecodeResult::BadTree;
        } while (node >= 0);
        if (node == kEnd)
            return TArcDecodeResult::Done;
        const int value = -(node + 1);
        if (value > 255)
            return TArcDecodeResult::BadTree;
        PutRepeat(static_cast<std::uint8_t>(value));
    }
    return TArcDecodeResult::Done;
}

TArcDecodeResult TArcDecoder::Uncrunch(bool newHash, bool repeat)
{
    if (!m_crunch)
        m_crunch = std::make_unique<CrunchTable>();
    CrunchTable& t = *m_crunch;
    t.Reset(newHash);
    int codesLeft = kTableSize - 256;
    // Codes come in pairs from three bytes.
    int pending = -1;
    auto nextCode = [&]() -> int {
        if (pending >= 0) {
            const int c = pending;
            pending = -1;
            return c;
        }
        const int a = GetByte();
        const int b = GetByte();
        if (a < 0 || b < 0)
            return -1;
        const int c = GetByte();
        if (c >= 0)
            pending = ((b & 0x0F) << 8) | c;
        return (a << 4) | (b >> 4);
    };
    auto out = [&](std::uint8_t c) {
        if (repeat)
            PutRepeat(c);
        else
            Put(c);
    };
    std::array<std::uint8_t, kStackSize> stack{};
    int oldCode = nextCode();
    if (oldCode < 0)
        return TArcDecodeResult::Done;
    std::uint8_t finChar = t.slots[static_cast<size_t>(oldCode)].foll;
    out(finChar);
    while (!m_stopped) {
        const int inCode = nextCode();
        if (inCode < 0)
            break;
        int code = inCode;
        int sp = 0;
        if (!t.slots[static_cast<size_t>(code)].used) {
            // The string being defined: the previous one and its first byte.
            stack[static_cast<size_t>(sp++)] = finChar;
            code = oldCode;
        }
        while (t.slots[static_cast<size_t>(code)].pred != kNoPred) {
            if (sp >= kStackSize)
                return TArcDecodeResult::StackOverflow;
            stack[static_cast<size_t>(sp++)] = t.slots[static_cast<size_t>(code)].foll;
            code = t.slots[static_cast<size_t>(code)].pred & 0xFFF;
        }
        if (sp >= kStackSize)
            return TArcDecodeResult::StackOverflow;
        finChar = t.slots[static_cast<size_t>(code)].foll;
        stack[static_cast<size_t>(sp++)] = finChar;
        while (sp > 0)
            out(stack[static_cast<size_t>(--sp)]);
        if (codesLeft > 0) {
            t.Insert(static_cast<std::uint16_t>(oldCode), finChar);
            --codesLeft;
        }
        oldCode = inCode;
    }
    return TArcDecodeResult::Done;
}

TArcDecodeResult TArcDecoder::Unlzw(int maxBits, bool repeat)
{
    // Crunched entries name their code width first; only 12 is written.
    if (maxBits == 12 && GetByte() != 12)
        return TArcDecodeResult::BadBits;
    if (!m_lzw)
        m_lzw = std::make_unique<TLzwBuffers>();
    FnSource source;
    source.read = [this](std::uint8_t* buffer, std::size_t cap) -> std::size_t {
        if (m_inPos < m_inLen) {
            const auto n = std::min<std::size_t>(cap, static_cast<std::size_t>(m_inLen - m_inPos));
            std::copy_n(m_in.data() + m_inPos, n, buffer);
            m_inPos += static_cast<std::int32_t>(n);
            return n;
        }
        if (m_inEnded)
            return 0;
        const std::int32_t got = m_source(buffer, static_cast<std::int32_t>(std::min<std::size_t>(cap, kBlock)));
        if (got <= 0) {
            m_inEnded = true;
            return 0;
        }
        return static_cast<std::size_t>(got);
    };
    FnSink sink;
    sink.write = [this, repeat](const std::uint8_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count && !m_stopped; ++i) {
            if (repeat)
                PutRepeat(data[i]);
            else
                Put(data[i]);
        }
        return !m_stopped;
    };
    switch (DecodeLzwCodes(source, sink, maxBits, true, *m_lzw)) {
    case TLzwResult::Ok: return TArcDecodeResult::Done;
    case TLzwResult::WriteFailed: return TArcDecodeResult::Stopped;
    default: return TArcDecodeResult::StackOverflow;
    }
}
