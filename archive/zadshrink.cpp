#include "archive/zadshrink.h"

#include "archive/zadconsts.h"

#include <algorithm>

namespace {

constexpr int kCodes = 8192;
constexpr int kFirstFree = 257;
constexpr int kControl = 256;
constexpr int kMaxCodeSize = 13;
constexpr size_t kOutputSize = 32768;

class Unshrinker {
public:
    Unshrinker(TStream32* in, TStream32*& out, const TInflateRec& rec, const TInflateProc& proc, TShrinkBuffers& b)
        : m_io(in, out, rec, proc, b.input), m_b(b)
    {
        m_b.parent.assign(kCodes, -1);
        m_b.value.resize(kCodes);
        for (int c = 0; c < 256; ++c) {
            m_b.parent[static_cast<size_t>(c)] = 0;  // a literal: never walked
            m_b.value[static_cast<size_t>(c)] = static_cast<std::uint8_t>(c);
        }
        m_b.stack.resize(kCodes);
        m_b.output.resize(kOutputSize);
    }

    TInflateResult Run(int& fault);

private:
    // Frees every code above 256 that no code extends; the free codes are
    // then handed out again from the lowest.
    void PartialClear()
    {
        std::vector<bool> extended(kCodes, false);
        for (int c = kFirstFree; c < kCodes; ++c)
            if (m_b.parent[static_cast<size_t>(c)] >= kFirstFree)
                extended[static_cast<size_t>(m_b.parent[static_cast<size_t>(c)])] = true;
        for (int c = kFirstFree; c < kCodes; ++c)
            if (!extended[static_cast<size_t>(c)])
                m_b.parent[static_cast<size_t>(c)] = -1;
        m_nextFree = kFirstFree;
    }

    bool Put(std::uint8_t b)
    {
        m_b.output[m_used++] = b;
        return m_used < kOutputSize || Flush();
    }
    bool Flush()
    {
        const bool ok = m_io.output.Write(m_b.output.data(), static_cast<std::uint32_t>(m_used));
        m_used = 0;
        return ok;
    }

    TDecoderIO m_io;
    TShrinkBuffers& m_b;
    size_t m_used = 0;
    int m_nextFree = kFirstFree;
};

TInflateResult Unshrinker::Run(int& fault)
{
    auto bad = [&fault](int id) {
        fault = id;
        return TInflateResult::InvalidData;
    };
    int codeSize = 9;
    const int first = static_cast<int>(m_io.bits.GetBits(codeSize));
    if (m_io.bits.Overrun())
        return m_io.rec.UnpackedSize == 0 ? TInflateResult::Ok : bad(E_BADBLOCK);
    if (first > 255)
        return bad(E_BADBLOCK);
    if (!Put(static_cast<std::uint8_t>(first)))
        return TInflateResult::WriteFailed;
    int last = first;
    std::uint8_t lastChar = static_cast<std::uint8_t>(first);
    std::int16_t* parent = m_b.parent.data();
    std::uint8_t* value = m_b.value.data();
    std::uint8_t* stack = m_b.stack.data();
    for (;;) {
        if (m_io.output.Cancelled())
            return TInflateResult::Cancelled;
        const int code = static_cast<int>(m_io.bits.GetBits(codeSize));
        if (m_io.bits.Overrun())
            break;
        if (code == kControl) {
            const int op = static_cast<int>(m_io.bits.GetBits(codeSize));
            if (m_io.bits.Overrun())
                break;
            if (op == 1 && codeSize < kMaxCodeSize)
                ++codeSize;
            else if (op == 2)
                PartialClear();
            else
                return bad(E_BADBLOCK);
            continue;
        }
        // The string of the code, last character first.
        int sp = 0;
        int cur = code;
        if (code > kControl && parent[code] < 0) {
            stack[sp++] = lastChar;
            cur = last;
        }
        while (cur > 255) {
            if (parent[cur] < 0)
                return bad(E_BADBLOCK);  // a string through a freed code
            if (sp >= kCodes - 1) {
                Flush();
                return bad(E_STACKOVERFLOW);
            }
            stack[sp++] = value[cur];
            cur = parent[cur];
        }
        const auto firstChar = static_cast<std::uint8_t>(cur);
        if (m_used + static_cast<size_t>(sp) + 1 <= kOutputSize) {
            std::uint8_t* o = &m_b.output[m_used];
            *o++ = firstChar;
            for (int i = sp - 1; i >= 0; --i)
                *o++ = stack[i];
            m_used += static_cast<size_t>(sp) + 1;
        } else {
            bool ok = Put(firstChar);
            for (int i = sp - 1; i >= 0 && ok; --i)
                ok = Put(stack[i]);
            if (!ok)
                return TInflateResult::WriteFailed;
        }
        // The code before this one, plus this string's first character.
        while (m_nextFree < kCodes && parent[m_nextFree] >= 0)
            ++m_nextFree;
        if (m_nextFree < kCodes) {
            parent[m_nextFree] = static_cast<std::int16_t>(last);
            value[m_nextFree] = firstChar;
            ++m_nextFree;
        }
        last = code;
        lastChar = firstChar;
    }
    return Flush() ? TInflateResult::Ok : TInflateResult::WriteFailed;
}

}  // namespace

TInflateResult Unshrink(TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, const TInflateProc& proc,
                        TShrinkBuffers& buffers, int& fault)
{
    fault = 0;
    Unshrinker u(inStream, outStream, rec, proc, buffers);
    return u.Run(fault);
}
