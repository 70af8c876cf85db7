// Shared helpers of the decoders: the one bounded reader every header and
// pixel read goes through, the codec failure convention and the check that
// keeps header fields from driving allocations the file cannot back.
#pragma once

#include "imaging/vxfile.h"
#include "win/memlimit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

// A codec step that fails throws its message; the codec's entry point
// catches it and stores it as the image's last error.
struct VxCodecError {
    std::string text;
};

[[noreturn]] inline void VxRaise(const char* text) { throw VxCodecError{text}; }
[[noreturn]] inline void VxRaise(const std::string& text) { throw VxCodecError{text}; }

// Reads little-endian fields from a stream and says when the bytes are not
// there instead of handing back garbage.
class VxReader {
public:
    explicit VxReader(VxFile* file) : m_file(file) {}

    VxFile* File() const { return m_file; }

    // Exactly n bytes, or false.
    bool Read(void* out, std::size_t n) { return n == 0 || m_file->Read(out, 1, n) == n; }
    // Up to n bytes; the number read.
    std::size_t ReadSome(void* out, std::size_t n) { return n == 0 ? 0 : m_file->Read(out, 1, n); }

    bool U8(std::uint8_t& v) { return Read(&v, 1); }
    bool U16(std::uint16_t& v)
    {
        std::uint8_t b[2];
        if (!Read(b, 2))
            return false;
        v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool U32(std::uint32_t& v)
    {
        std::uint8_t b[4];
        if (!Read(b, 4))
            return false;
        v = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
            (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }
    // Skips n bytes forward; false when the stream cannot move there or
    // holds fewer than n more bytes.
    bool Skip(std::uint64_t n)
    {
        const std::int64_t target = static_cast<std::int64_t>(m_file->Tell()) + static_cast<std::int64_t>(n);
        const std::int64_t left = Remaining();
        if (n > 0x7FFFFFFF || target > 0x7FFFFFFF || (left >= 0 && static_cast<std::int64_t>(n) > left))
            return false;
        return m_file->Seek(static_cast<std::int32_t>(target), 0);
    }
    // Bytes left after the position; -1 when the stream cannot tell.
    std::int64_t Remaining()
    {
        const std::int32_t size = m_file->Size();
        const std::int32_t pos = m_file->Tell();
        if (size < 0 || pos < 0)
            return -1;
        return size > pos ? size - pos : 0;
    }

private:
    VxFile* m_file;
};

// Bytes of a run-length stream, read ahead in blocks: run-length data run to
// the end of the pixel data. Consumed tells how far the decoder really got,
// so that what follows the data (a PCX palette) is found.
class VxByteSource {
public:
    explicit VxByteSource(VxFile* f) : m_file(f) {}
    // The next byte, or -1 at the end of the stream.
    int Get()
    {
        if (m_pos == m_len) {
            m_len = m_file->Read(m_buf, 1, sizeof m_buf);
            m_pos = 0;
            if (m_len == 0)
                return -1;
        }
        ++m_consumed;
        return m_buf[m_pos++];
    }
    std::uint64_t Consumed() const { return m_consumed; }
    // The bytes read ahead and not taken yet, read from the stream when none
    // are left; *data points at them. 0 at the end of the stream. Take(n)
    // then takes n of them, so a decoder can walk the block in place.
    std::size_t Peek(const std::uint8_t** data)
    {
        if (m_pos == m_len) {
            m_len = m_file->Read(m_buf, 1, sizeof m_buf);
            m_pos = 0;
        }
        *data = m_buf + m_pos;
        return m_len - m_pos;
    }
    void Take(std::size_t n)
    {
        m_pos += n;
        m_consumed += n;
    }

private:
    VxFile* m_file;
    std::uint8_t m_buf[16384];
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::uint64_t m_consumed = 0;
};

inline std::uint16_t VxGet16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t VxGet32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void VxPut16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void VxPut32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A real from a file as a 32-bit integer: truncated, NaN as 0, and values
// beyond the range clamped to it (converting them would be undefined).
inline std::int32_t VxClampToInt32(double v)
{
    if (std::isnan(v))
        return 0;
    v = std::clamp(v, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                   static_cast<double>(std::numeric_limits<std::int32_t>::max()));
    return static_cast<std::int32_t>(v);
}

// a x b, or the largest value when the product does not fit.
inline std::uint64_t VxMulSat(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? ~std::uint64_t{0} : r;
}

// Whether the bytes left in the stream can hold a picture's data:
// dataBytes decoded from at most maxExpansion bytes per byte of the file,
// maxExpansion being the best the format's coding can do (1 for rows stored
// as they are: every byte must be there). A header that claims more than
// its file can hold is refused before anything is allocated; a stream that
// cannot tell its size is taken at its word.
inline bool VxFileCanHold(VxReader& in, std::uint64_t dataBytes, std::uint64_t maxExpansion)
{
    const std::int64_t left = in.Remaining();
    if (left < 0 || maxExpansion == 0)
        return true;
    return dataBytes / maxExpansion + (dataBytes % maxExpansion != 0) <= static_cast<std::uint64_t>(left);
}

// Rows stored as they are take their bytes one for one, yet such a file is
// not refused for being cut short (a download that stopped, a copy that
// failed part way): while it holds at least half of the rows its header
// claims, it is shown as far as it goes and marked damaged. Less than that
// is a header claiming what the file cannot hold. The factor to give
// VxFileCanHold for stored rows.
inline constexpr std::uint64_t kVxStoredRowsCutShort = 2;

// The refusals every decoder shares, naming the picture's size.
[[noreturn]] inline void VxRaiseDataMissing(std::uint64_t width, std::uint64_t height)
{
    VxRaise(PictureDataMissingMessage(width, height));
}
[[noreturn]] inline void VxRaiseTooBig(std::uint64_t width, std::uint64_t height)
{
    VxRaise(PictureTooBigMessage(width, height));
}
