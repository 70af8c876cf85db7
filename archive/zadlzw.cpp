#include "archive/zadlzw.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kInputSize = 64 * 1024;
constexpr std::size_t kOutputFlush = 64 * 1024;

// Codes are taken least significant bit first. Bits are gathered from
// whole bytes of the source; a code is only given when all its bits are
// real input, so the zero bits that pad the last byte never make a code.
class TLzwBitReader {
public:
    TLzwBitReader(TLzwSource& source, std::vector<std::uint8_t>& buffer) : m_source(source), m_buffer(buffer)
    {
        m_buffer.resize(kInputSize);
    }

    // Takes the next n bits (n up to 16); false when the input ends first.
    bool Take(int n, std::uint32_t& value)
    {
        if (m_count < n && !Fill(n))
            return false;
        value = static_cast<std::uint32_t>(m_bits) & ((1u << n) - 1);
        m_bits >>= n;
        m_count -= n;
        return true;
    }

    // Passes over n bits; false when the input ends first.
    bool Skip(int n)
    {
        while (n > 0) {
            const int step = std::min(n, 16);
            std::uint32_t unused;
            if (!Take(step, unused))
                return false;
            n -= step;
        }
        return true;
    }

private:
    bool Fill(int n)
    {
        while (m_count < n) {
            if (m_pos == m_len) {
                m_len = m_source.Read(m_buffer.data(), m_buffer.size());
                m_pos = 0;
                if (m_len == 0)
                    return false;
            }
            // Whole bytes while the 64-bit buffer has room for them.
            while (m_count <= 56 && m_pos < m_len) {
                m_bits |= static_cast<std::uint64_t>(m_buffer[m_pos++]) << m_count;
                m_count += 8;
            }
        }
        return true;
    }

    TLzwSource& m_source;
    std::vector<std::uint8_t>& m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

// Collects decoded bytes and hands them to the sink in large pieces. Room
// is reserved behind the flush mark for the longest string a table can hold,
// so a string is always written whole into the buffer.
class TLzwOutput {
public:
    TLzwOutput(TLzwSink& sink, std::vector<std::uint8_t>& buffer, std::size_t longest) : m_sink(sink), m_buffer(buffer)
    {
        m_buffer.resize(kOutputFlush + longest);
    }
    // Space for a string of n bytes (n at most the longest string), flushing
    // first when the buffer is past its mark.
    std::uint8_t* Reserve(std::size_t n, bool& ok)
    {
        ok = true;
        if (m_fill + n > m_buffer.size())
            ok = Flush();
        return m_buffer.data() + m_fill;
    }
    void Commit(std::size_t n)
    {
        m_fill += n;
    }
    bool Flush()
    {
        if (m_fill == 0)
            return true;
        const bool ok = m_sink.Write(m_buffer.data(), m_fill);
        m_fill = 0;
        return ok;
    }

private:
    TLzwSink& m_sink;
    std::vector<std::uint8_t>& m_buffer;
    std::size_t m_fill = 0;
};

// compress's table: 2^16 codes; the longest string is one byte per code
// the table can define, plus one for the KwKwK case.
constexpr std::uint32_t kCompressCodes = 1u << kLzwMaxBits;
constexpr std::uint32_t kCompressClear = 256;
constexpr std::size_t kCompressLongest = kCompressCodes + 1;

// Passes over the rest of the group of eight codes that the last code
// belongs to: the encoder pads a group when the width changes.
bool SkipGroupPadding(TLzwBitReader& bits, int& codesInGroup, int width)
{
    const int padding = codesInGroup == 0 ? 0 : (8 - codesInGroup) * width;
    codesInGroup = 0;
    return bits.Skip(padding);
}

} // namespace

TLzwResult DecodeLzwCodes(TLzwSource& in, TLzwSink& out, int maxBits, bool blockMode, TLzwBuffers& b)
{
    if (maxBits < kLzwMinBits || maxBits > kLzwMaxBits)
        return TLzwResult::BadHeader;
    b.prefix.resize(kCompressCodes);
    b.suffix.resize(kCompressCodes);
    b.length.resize(kCompressCodes);
    for (std::uint32_t c = 0; c < 256; ++c) {
        b.prefix[c] = 0;
        b.suffix[c] = static_cast<std::uint8_t>(c);
        b.length[c] = 1;
    }
    TLzwBitReader bits(in, b.input);
    TLzwOutput output(out, b.output, kCompressLongest);

    const std::uint32_t maxMaxCode = 1u << maxBits;
    int width = kLzwMinBits;
    // The width grows when the next free code passes maxCode; once it has
    // reached maxBits, maxCode is the table's size and the table simply stops
    // growing. With maxbits 9 the codes still widen to 10 bits when the
    // 9-bit table is full, as the classic encoder writes them.
    std::uint32_t maxCode = (1u << width) - 1;
    std::uint32_t freeEnt = blockMode ? 257 : 256;
    int codesInGroup = 0;
    std::int64_t oldCode = -1;
    std::uint8_t finChar = 0;

    for (;;) {
        if (freeEnt > maxCode) {
            if (!SkipGroupPadding(bits, codesInGroup, width))
                break;
            ++width;
            maxCode = width == maxBits ? maxMaxCode : (1u << width) - 1;
        }
        std::uint32_t code;
        if (!bits.Take(width, code))
            break;
        codesInGroup = (codesInGroup + 1) & 7;

        if (oldCode < 0) {
            if (code >= 256)
                return output.Flush() ? TLzwResult::Corrupt : TLzwResult::WriteFailed;
            bool ok;
            *output.Reserve(1, ok) = static_cast<std::uint8_t>(code);
            if (!ok)
                return TLzwResult::WriteFailed;
            output.Commit(1);
            oldCode = code;
            finChar = static_cast<std::uint8_t>(code);
            continue;
        }
        if (code == kCompressClear && blockMode) {
            // The table restarts; entries above 256 stay as they were until
            // they are defined again, but no code may name them before then.
            freeEnt = 256;
            if (!SkipGroupPadding(bits, codesInGroup, width))
                break;
            width = kLzwMinBits;
            maxCode = (1u << width) - 1;
            continue;
        }
        if (code > freeEnt)
            return output.Flush() ? TLzwResult::Corrupt : TLzwResult::WriteFailed;

        // The string is written from its last byte back to its first, along
        // the prefix chain; its length is known from the table. Every code a
        // chain passes was defined since the last CLEAR (codes above the next
        // free one are refused) and names a code read before it, so the chain
        // ends on a character after exactly its length, and no string is
        // longer than one byte per code plus the KwKwK byte.
        const bool kwkwk = code == freeEnt;
        const std::uint32_t walk = kwkwk ? static_cast<std::uint32_t>(oldCode) : code;
        const std::uint32_t len = b.length[walk];
        const std::size_t total = len + (kwkwk ? 1 : 0);
        bool ok;
        std::uint8_t* dst = output.Reserve(total, ok);
        if (!ok)
            return TLzwResult::WriteFailed;
        if (kwkwk)
            dst[len] = finChar;
        std::uint32_t c = walk;
        for (std::uint32_t i = len - 1; i > 0; --i) {
            dst[i] = b.suffix[c];
            c = b.prefix[c];
        }
        dst[0] = b.suffix[c];
        finChar = dst[0];
        output.Commit(total);

        if (freeEnt < maxMaxCode) {
            b.prefix[freeEnt] = static_cast<std::uint16_t>(oldCode);
            b.suffix[freeEnt] = finChar;
            b.length[freeEnt] = b.length[oldCode] + 1;
            ++freeEnt;
        }
        oldCode = code;
    }
    return output.Flush() ? TLzwResult::Ok : TLzwResult::WriteFailed;
}

TLzwResult DecodeCompressStream(TLzwSource& in, TLzwSink& out, TLzwBuffers& b)
{
    // The header is read whole before the codes: a source may return fewer
    // bytes than asked, so it is gathered byte by byte.
    std::uint8_t header[3];
    std::size_t got = 0;
    while (got < sizeof header) {
        const std::size_t n = in.Read(header + got, sizeof header - got);
        if (n == 0)
            return TLzwResult::BadHeader;
        got += n;
    }
    if (header[0] != 0x1F || header[1] != 0x9D || (header[2] & 0x60) != 0)
        return TLzwResult::BadHeader;
    return DecodeLzwCodes(in, out, header[2] & 0x1F, (header[2] & 0x80) != 0, b);
}

namespace {

constexpr std::uint32_t kZooCodes = 8192;
constexpr std::uint32_t kZooClear = 256;
constexpr std::uint32_t kZooEnd = 257;
constexpr std::uint32_t kZooFirstFree = 258;
constexpr int kZooMaxBits = 13;
// A chain through the table visits each code at most once unless the table
// holds a cycle, so it is at most one byte per code and the KwKwK byte.
constexpr std::size_t kZooStack = kZooCodes + 2;

} // namespace

TLzwResult DecodeZooLzw(TLzwSource& in, TLzwSink& out, TZooLzwBuffers& b)
{
    b.next.assign(kZooCodes, 0);
    b.character.assign(kZooCodes, 0);
    b.stack.resize(kZooStack);
    TLzwBitReader bits(in, b.input);
    TLzwOutput output(out, b.output, kZooStack);

    int width = kLzwMinBits;
    std::uint32_t maxCode = 1u << width;
    std::uint32_t freeCode = kZooFirstFree;
    std::uint32_t oldCode = 0;
    std::uint8_t finChar = 0;
    const auto fail = [&] { return output.Flush() ? TLzwResult::Corrupt : TLzwResult::WriteFailed; };

    for (;;) {
        std::uint32_t code;
        if (!bits.Take(width, code))
            return fail(); // the end code never came
        if (code == kZooEnd)
            break;
        if (code == kZooClear) {
            width = kLzwMinBits;
            maxCode = 1u << width;
            freeCode = kZooFirstFree;
            // The code after a CLEAR is a character, or the end code of an
            // empty stream.
            if (!bits.Take(width, code))
                return fail();
            if (code == kZooEnd)
                break;
            if (code >= 256)
                return fail();
            bool ok;
            *output.Reserve(1, ok) = static_cast<std::uint8_t>(code);
            if (!ok)
                return TLzwResult::WriteFailed;
            output.Commit(1);
            oldCode = code;
            finChar = static_cast<std::uint8_t>(code);
            continue;
        }
        const std::uint32_t inCode = code;
        std::size_t sp = kZooStack;
        if (code >= freeCode) {
            b.stack[--sp] = finChar;
            code = oldCode;
        }
        while (code > 255) {
            if (sp == 1)
                return fail(); // a cycle through stale entries
            b.stack[--sp] = b.character[code];
            code = b.next[code];
        }
        finChar = static_cast<std::uint8_t>(code);
        b.stack[--sp] = finChar;
        const std::size_t n = kZooStack - sp;
        bool ok;
        std::uint8_t* dst = output.Reserve(n, ok);
        if (!ok)
            return TLzwResult::WriteFailed;
        std::memcpy(dst, b.stack.data() + sp, n);
        output.Commit(n);

        // A full table keeps its 13-bit codes until a CLEAR.
        if (freeCode < kZooCodes) {
            b.next[freeCode] = static_cast<std::uint16_t>(oldCode);
            b.character[freeCode] = finChar;
            ++freeCode;
            if (freeCode >= maxCode && width < kZooMaxBits) {
                ++width;
                maxCode <<= 1;
            }
        }
        oldCode = inCode;
    }
    return output.Flush() ? TLzwResult::Ok : TLzwResult::WriteFailed;
}
