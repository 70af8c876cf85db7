#include "imaging/gif/giflzw.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kCircular = "Circular decoder table entry";
// A string copied from earlier in the picture is moved 16 bytes at a time:
// it may write up to 15 bytes past its end, which later strings overwrite.
constexpr std::size_t kCopySlack = 15;

// The stretches of a frame's pixels in the order the data fills them: the
// whole picture at once, or for an interlaced frame one row at a time in
// the format's four passes.
class PixelRuns {
public:
    PixelRuns(std::uint8_t* pixels, int width, int height, bool interlaced)
        : m_pixels(pixels), m_width(static_cast<std::size_t>(width)), m_height(height), m_interlaced(interlaced)
    {
    }

    // The next stretch in [out, end); false (and both null) when the
    // picture is full.
    bool Next(std::uint8_t*& out, std::uint8_t*& end)
    {
        out = end = nullptr;
        if (!m_interlaced) {
            if (m_row != 0)
                return false;
            m_row = m_height;
            out = m_pixels;
            end = m_pixels + m_width * static_cast<std::size_t>(m_height);
            return true;
        }
        while (m_pass < 4 && m_row >= m_height) {
            ++m_pass;
            m_row = m_pass < 4 ? kPasses[m_pass].start : m_height;
        }
        if (m_pass >= 4)
            return false;
        out = m_pixels + m_width * static_cast<std::size_t>(m_row);
        end = out + m_width;
        m_row += kPasses[m_pass].step;
        return true;
    }

    // Fills the rest of the current stretch and every later one.
    void FillRest(std::uint8_t* out, std::uint8_t* end, std::uint8_t fill)
    {
        while (out) {
            std::fill(out, end, fill);
            Next(out, end);
        }
    }

private:
    struct Pass {
        int start;
        int step;
    };
    static constexpr Pass kPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

    std::uint8_t* m_pixels;
    std::size_t m_width;
    int m_height;
    bool m_interlaced;
    int m_pass = 0;
    int m_row = 0;
};

void CopyAhead(std::uint8_t* out, const std::uint8_t* from, int length)
{
    // Every byte the string needs lies before out, so the 16-byte pieces
    // never read what they have just written.
    for (int done = 0; done < length; done += 16) {
        std::uint8_t piece[16];
        std::memcpy(piece, from + done, 16);
        std::memcpy(out + done, piece, 16);
    }
}

}  // namespace

TGIFLzwDecoder::TGIFLzwDecoder(TStream& stream, WarningSink warning)
    : m_stream(stream), m_warning(std::move(warning))
{
}

bool TGIFLzwDecoder::Start()
{
    std::uint8_t size = 0;
    if (m_stream.Read(&size, 1) != 1)
        return false;
    // A clear code of 2^12 or more leaves no room for the table's own codes.
    if (size >= kMaxCodeBits)
        throw GIFException("Invalid LZW code size");
    m_initialSize = size;
    m_clearCode = 1 << size;
    m_endCode = m_clearCode + 1;
    m_codeWidth = size + 1;
    m_codeLimit = 2 * m_clearCode;
    m_nextFree = m_clearCode + 2;
    m_firstRequest = true;
    m_terminatorRead = false;
    m_ended = false;
    m_bits = 0;
    m_bitCount = 0;
    m_blockSize = m_blockPos = 0;
    m_stackTop = 0;
    m_previousAt = kNowhere;
    // The clear and end codes have no string: followed as links they end
    // at pixel 0.
    for (int code = m_clearCode; code < m_clearCode + 2; ++code) {
        m_prefix[code] = 0;
        m_suffix[code] = 0;
        m_length[code] = 0;
    }
    return true;
}

// Reads the next sub-block when the current one is used up. False at the
// terminator or at the end of the stream.
bool TGIFLzwDecoder::NextBlock()
{
    while (m_blockPos >= m_blockSize) {
        if (m_terminatorRead)
            return false;
        std::uint8_t length = 0;
        if (m_stream.Read(&length, 1) != 1) {
            m_terminatorRead = true;
            return false;
        }
        if (length == 0) {
            m_terminatorRead = true;
            return false;
        }
        std::int64_t count = length;
        const std::int64_t left = m_stream.Size() - m_stream.Position();
        if (left < count) {
            m_warning(TGIFSeverity::Warning, "Premature end of data");
            count = left < 0 ? 0 : left;
        }
        if (m_stream.Read(m_block, count) != count)
            throw GIFException("Premature end of data");
        m_blockSize = static_cast<int>(count);
        m_blockPos = 0;
    }
    return true;
}

// Brings bits enough for one code into the store: as many of the current
// sub-block's bytes as fit, the next sub-block only when this one is used
// up, so the stream is read no further than the codes taken need.
bool TGIFLzwDecoder::Refill()
{
    while (m_bitCount < m_codeWidth) {
        if (m_blockPos < m_blockSize) {
            do {
                m_bits |= static_cast<std::uint64_t>(m_block[m_blockPos++]) << m_bitCount;
                m_bitCount += 8;
            } while (m_bitCount <= 56 && m_blockPos < m_blockSize);
        } else if (!NextBlock()) {
            if (m_bitCount == 0)
                m_warning(TGIFSeverity::Warning, "Decoder bit buffer under-run");
            // A code cut short by the terminator is no code.
            m_bitCount = 0;
            m_bits = 0;
            return false;
        }
    }
    return true;
}

inline int TGIFLzwDecoder::ReadCode()
{
    if (m_firstRequest) {
        m_firstRequest = false;
        return m_clearCode;
    }
    // A code may span any number of sub-blocks, even ones of a single byte.
    if (m_bitCount < m_codeWidth && !Refill())
        return kNoData;
    const int code = static_cast<int>(m_bits & ((1u << m_codeWidth) - 1));
    m_bits >>= m_codeWidth;
    m_bitCount -= m_codeWidth;
    return code;
}

void TGIFLzwDecoder::Push(std::uint8_t value)
{
    // Only links that loop through several codes can fill the stack: a
    // real string is at most the table's length.
    if (m_stackTop >= kStackSize)
        throw GIFException(kCircular);
    m_stack[m_stackTop++] = value;
}

// After the end code: the rest of the sub-blocks up to the terminator are
// passed over, so the stream is left just after the frame's data.
int TGIFLzwDecoder::SkipToTerminator()
{
    if (!m_terminatorRead) {
        for (;;) {
            std::uint8_t length = 0;
            if (m_stream.Read(&length, 1) != 1 || length == 0)
                break;
            const std::int64_t left = m_stream.Size() - m_stream.Position();
            m_stream.Seek(length < left ? length : left, soCurrent);
        }
        m_terminatorRead = true;
    }
    m_blockPos = m_blockSize;
    m_bitCount = 0;
    m_ended = true;
    return kEndOfImage;
}

void TGIFLzwDecoder::Define(int incoming, const std::uint8_t* at)
{
    const std::uint32_t here = m_picture && at != m_string ? static_cast<std::uint32_t>(at - m_picture) : kNowhere;
    if (m_nextFree < kTableSize) {
        const int code = m_nextFree;
        const int prefix = m_previous;
        m_prefix[code] = static_cast<std::uint16_t>(prefix);
        m_suffix[code] = m_firstChar;
        const int prefixLength = prefix < m_clearCode ? 1 : prefix < code ? m_length[prefix] : 0;
        m_length[code] = static_cast<std::uint16_t>(prefixLength == 0 ? 0 : prefixLength + 1);
        // The new string is the previous one and this one's first pixel,
        // so it lies in the picture where the previous one was written
        // when this one follows it there.
        m_at[code] = prefixLength != 0 && here != kNowhere && m_previousAt != kNowhere &&
                             m_previousAt + static_cast<std::uint32_t>(prefixLength) == here
                         ? m_previousAt
                         : kNowhere;
        ++m_nextFree;
        if (m_nextFree >= m_codeLimit && m_codeLimit < kTableSize) {
            m_codeLimit *= 2;
            ++m_codeWidth;
        }
    }
    m_previous = incoming;
    m_previousAt = here;
}

// After a clear code: an empty table, and the first code's pixel as it is.
int TGIFLzwDecoder::StartTable(std::uint8_t* out, std::size_t room)
{
    m_codeWidth = m_initialSize + 1;
    m_codeLimit = 2 * m_clearCode;
    m_nextFree = m_clearCode + 2;
    m_stackTop = 0;
    int code;
    do
        code = ReadCode();
    while (code == m_clearCode);
    if (code < 0)
        return code;
    if (code == m_endCode)
        return SkipToTerminator();
    // A code not yet in the table still gives its low byte as the pixel.
    m_firstChar = static_cast<std::uint8_t>(code);
    std::uint8_t* to = room >= 1 ? out : m_string;
    to[0] = m_firstChar;
    m_previous = code;
    m_previousAt = m_picture && to == out ? static_cast<std::uint32_t>(to - m_picture) : kNowhere;
    return 1;
}

int TGIFLzwDecoder::DecodeString(std::uint8_t* out, std::size_t room)
{
    if (m_ended)
        return kEndOfImage;
    const int code = ReadCode();
    if (code < 0)
        return code;
    if (code == m_clearCode)
        return StartTable(out, room);
    if (code == m_endCode)
        return SkipToTerminator();

    // A code past the table names the string being defined by this very
    // code: the previous one plus its own first pixel.
    const int extra = code >= m_nextFree ? 1 : 0;
    const int base = extra ? m_previous : code;
    int baseLength;
    if (base < m_clearCode)
        baseLength = 1;
    else if (base < m_nextFree && m_length[base] != 0)
        baseLength = m_length[base];
    else
        return DecodeLooseString(code, out, room);
    const int length = baseLength + extra;
    std::uint8_t* to = static_cast<std::size_t>(length) <= room ? out : m_string;
    if (base < m_clearCode) {
        to[0] = static_cast<std::uint8_t>(base);
    } else if (to == out && m_at[base] != kNowhere && static_cast<std::size_t>(length) + kCopySlack <= room) {
        CopyAhead(to, m_picture + m_at[base], baseLength);
    } else {
        std::uint8_t* p = to + baseLength - 1;
        int c = base;
        while (c >= m_clearCode) {
            *p-- = m_suffix[c];
            c = m_prefix[c];
        }
        *p = static_cast<std::uint8_t>(c);
    }
    if (extra)
        to[baseLength] = m_firstChar;
    m_firstChar = to[0];
    Define(code, to);
    return length;
}

// A string whose links reach codes the table did not hold when they were
// used: followed link by link as the table stands now, where a code past
// the table reads as pixel 0 linked to pixel 0, and links that loop raise.
int TGIFLzwDecoder::DecodeLooseString(int incoming, std::uint8_t* out, std::size_t room)
{
    m_stackTop = 0;
    int code = incoming;
    if (code >= m_nextFree) {
        Push(m_firstChar);
        code = m_previous;
    }
    while (code >= m_clearCode) {
        const bool defined = code < m_nextFree;
        Push(defined ? m_suffix[code] : 0);
        const int prefix = defined ? m_prefix[code] : 0;
        if (prefix == code)
            throw GIFException(kCircular);
        code = prefix;
    }
    m_firstChar = static_cast<std::uint8_t>(code);
    Push(m_firstChar);
    const int length = m_stackTop;
    std::uint8_t* to = static_cast<std::size_t>(length) <= room ? out : m_string;
    for (int i = 0; i < length; ++i)
        to[i] = m_stack[length - 1 - i];
    m_stackTop = 0;
    Define(incoming, to);
    return length;
}

void TGIFLzwDecoder::Decompress(std::span<std::uint8_t> pixels, int width, int height, bool interlaced,
                                std::uint8_t fill)
{
    if (width <= 0 || height <= 0 || pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) {
        std::fill(pixels.begin(), pixels.end(), fill);
        return;
    }
    PixelRuns runs(pixels.data(), width, height, interlaced);
    std::uint8_t* out = nullptr;
    std::uint8_t* end = nullptr;
    runs.Next(out, end);
    bool started = false;
    try {
        started = Start();
    } catch (const GIFException&) {
        runs.FillRest(out, end, fill);
        throw;
    }
    if (!started) {
        runs.FillRest(out, end, fill);
        return;
    }
    m_picture = interlaced ? nullptr : pixels.data();

    // Pixels of the last string that did not fit the picture.
    int leftOver = 0;
    try {
        while (out) {
            const std::size_t room = static_cast<std::size_t>(end - out);
            const int length = DecodeString(out, room);
            if (length < 0)
                break;
            if (static_cast<std::size_t>(length) <= room) {
                out += length;
                if (out == end)
                    runs.Next(out, end);
                continue;
            }
            const std::uint8_t* from = m_string;
            leftOver = length;
            while (leftOver > 0 && out) {
                const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(leftOver), end - out));
                std::memcpy(out, from, static_cast<std::size_t>(n));
                from += n;
                out += n;
                leftOver -= n;
                if (out == end)
                    runs.Next(out, end);
            }
        }
    } catch (const GIFException&) {
        runs.FillRest(out, end, fill);
        // The one further request still runs, so a failed frame leaves the
        // stream where a finished one would; after a loop it only takes a
        // pixel of the loop's string.
        if (m_stackTop == 0) {
            try {
                DecodeString(nullptr, 0);
            } catch (const GIFException&) {
            }
        }
        throw;
    }
    runs.FillRest(out, end, fill);
    // An image that ended exactly reads its end code here, which passes
    // over the rest of the data up to the terminator; one whose last string
    // ran past its end has pixels of it still waiting instead.
    if (leftOver == 0)
        DecodeString(nullptr, 0);
}
