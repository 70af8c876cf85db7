#include "archive/zadreduce.h"

#include "archive/zadconsts.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kMarker = 0x90;
constexpr std::uint32_t kRingSize = 4096;
constexpr size_t kOutputSize = 32768;
constexpr int kMaxFollowers = 32;

// Bits of an index into a follower set of n entries.
constexpr std::array<std::uint8_t, kMaxFollowers + 1> kIndexBits = {0, 1, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4,
                                                                    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};

class Unreducer {
public:
    Unreducer(TStream32* in, TStream32*& out, const TInflateRec& rec, const TInflateProc& proc, int factor,
              TReduceBuffers& b)
        : m_io(in, out, rec, proc, b.input), m_b(b),
          m_lengthMask(0xFFu >> factor), m_distanceShift(8 - factor), m_left(rec.UnpackedSize)
    {
        m_b.ring.assign(kRingSize, 0);
        m_b.output.resize(kOutputSize);
    }

    TInflateResult Run(int& fault);

private:
    // One byte out: into the ring and the output, never past the declared size.
    bool Put(std::uint8_t c)
    {
        m_b.ring[m_ringPos] = c;
        m_ringPos = (m_ringPos + 1) & (kRingSize - 1);
        m_b.output[m_used++] = c;
        --m_left;
        return m_used < kOutputSize || Flush();
    }
    bool Flush()
    {
        const bool ok = m_io.output.Write(m_b.output.data(), static_cast<std::uint32_t>(m_used));
        m_used = 0;
        return ok;
    }
    bool Expand(std::uint8_t c);

    TDecoderIO m_io;
    TReduceBuffers& m_b;
    const std::uint32_t m_lengthMask;
    const int m_distanceShift;
    std::int64_t m_left;
    size_t m_used = 0;
    std::uint32_t m_ringPos = 0;
    int m_state = 0;
    std::uint32_t m_v = 0;
    std::uint32_t m_length = 0;
};

bool Unreducer::Expand(std::uint8_t c)
{
    switch (m_state) {
    case 0:
        if (c == kMarker) {
            m_state = 1;
            return true;
        }
        return Put(c);
    case 1:
        if (c == 0) {
            m_state = 0;
            return Put(kMarker);
        }
        m_v = c;
        m_length = c & m_lengthMask;
        m_state = m_length == m_lengthMask ? 2 : 3;
        return true;
    case 2:
        m_length += c;
        m_state = 3;
        return true;
    default: {
        m_state = 0;
        // At most 4,096 back: the ring's positions never written hold zeros.
        const std::uint32_t distance = ((m_v >> m_distanceShift) << 8) + c + 1;
        std::uint32_t from = (m_ringPos - distance) & (kRingSize - 1);
        const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(m_length + 3, m_left));
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!Put(m_b.ring[from]))
                return false;
            from = (from + 1) & (kRingSize - 1);
        }
        return true;
    }
    }
}

TInflateResult Unreducer::Run(int& fault)
{
    // The follower sets, from byte 255 down to byte 0.
    for (int ch = 255; ch >= 0; --ch) {
        const auto n = static_cast<int>(m_io.bits.GetBits(6));
        if (m_io.bits.Overrun())
            return TInflateResult::InputExhausted;
        if (n > kMaxFollowers) {
            fault = E_BADBLOCK;
            return TInflateResult::InvalidData;
        }
        auto& set = m_b.followers[static_cast<size_t>(ch)];
        for (int i = 0; i < n; ++i)
            set[static_cast<size_t>(i)] = static_cast<std::uint8_t>(m_io.bits.GetBits(8));
        m_b.counts[static_cast<size_t>(ch)] = static_cast<std::uint8_t>(n);
    }
    TInflateResult result = TInflateResult::Ok;
    std::uint8_t last = 0;
    while (m_left > 0) {
        if (m_io.output.Cancelled())
            return TInflateResult::Cancelled;
        const int n = m_b.counts[last];
        std::uint8_t c = 0;
        if (n == 0 || m_io.bits.GetBits(1)) {
            c = static_cast<std::uint8_t>(m_io.bits.GetBits(8));
        } else {
            const std::uint32_t i = m_io.bits.GetBits(kIndexBits[static_cast<size_t>(n)]);
            if (i >= static_cast<std::uint32_t>(n) && !m_io.bits.Overrun()) {
                fault = E_BADBLOCK;
                return TInflateResult::InvalidData;
            }
            c = m_b.followers[last][std::min<std::uint32_t>(i, kMaxFollowers - 1)];
        }
        if (m_io.bits.Overrun()) {
            result = TInflateResult::InputExhausted;
            break;
        }
        last = c;
        if (!Expand(c))
            return TInflateResult::WriteFailed;
    }
    return Flush() ? result : TInflateResult::WriteFailed;
}

}  // namespace

TInflateResult Unreduce(TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, const TInflateProc& proc,
                        int factor, TReduceBuffers& buffers, int& fault)
{
    fault = 0;
    if (factor < 1 || factor > 4)
        return TInflateResult::InvalidData;
    Unreducer u(inStream, outStream, rec, proc, factor, buffers);
    return u.Run(fault);
}
