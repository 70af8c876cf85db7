#include "imaging/gif/giflzw.h"

#include <algorithm>

namespace {

constexpr const char* kCircular = "Circular decoder table entry";

// The rows of an interlaced frame come in four passes.
struct InterlacePass {
    int start;
    int step;
};
constexpr InterlacePass kPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

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
    return true;
}

// Brings one more byte of the data into the bit store, reading the next
// sub-block when the current one is used up. False at the terminator or
// at the end of the stream.
bool TGIFLzwDecoder::RefillByte()
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
    m_bits |= static_cast<std::uint32_t>(m_block[m_blockPos++]) << m_bitCount;
    m_bitCount += 8;
    return true;
}

int TGIFLzwDecoder::ReadCode()
{
    if (m_firstRequest) {
        m_firstRequest = false;
        return m_clearCode;
    }
    // A code may span any number of sub-blocks, even ones of a single byte.
    while (m_bitCount < m_codeWidth) {
        if (!RefillByte()) {
            if (m_bitCount == 0)
                m_warning(TGIFSeverity::Warning, "Decoder bit buffer under-run");
            // A code cut short by the terminator is no code.
            m_bitCount = 0;
            m_bits = 0;
            return kNoData;
        }
    }
    const int code = static_cast<int>(m_bits & ((1u << m_codeWidth) - 1));
    m_bits >>= m_codeWidth;
    m_bitCount -= m_codeWidth;
    return code;
}

void TGIFLzwDecoder::Push(int value)
{
    // Only links that loop through several codes can fill the stack: a
    // real string is at most the table's length.
    if (m_stackTop >= kStackSize)
        throw GIFException(kCircular);
    m_stack[m_stackTop++] = value;
}

int TGIFLzwDecoder::ResetTable()
{
    for (int code = 0; code < kTableSize; ++code) {
        m_prefix[code] = 0;
        m_suffix[code] = code < m_clearCode ? code : 0;
    }
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
    m_firstChar = code;
    m_previous = code;
    return code;
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

int TGIFLzwDecoder::DecodeCode()
{
    if (m_ended)
        return kEndOfImage;
    int code = ReadCode();
    if (code < 0)
        return code;
    if (code == m_clearCode)
        return ResetTable();
    if (code == m_endCode)
        return SkipToTerminator();

    const int incoming = code;
    if (code >= m_nextFree) {
        // The string being defined by this very code: the previous one plus
        // its own first pixel.
        Push(m_firstChar);
        code = m_previous;
    }
    while (code >= m_clearCode) {
        Push(m_suffix[code]);
        if (m_prefix[code] == code)
            throw GIFException(kCircular);
        code = m_prefix[code];
    }
    m_firstChar = m_suffix[code];
    Push(m_firstChar);

    if (m_nextFree < kTableSize) {
        m_prefix[m_nextFree] = m_previous;
        m_suffix[m_nextFree] = m_firstChar;
        ++m_nextFree;
        if (m_nextFree >= m_codeLimit && m_codeLimit < kTableSize) {
            m_codeLimit *= 2;
            ++m_codeWidth;
        }
    }
    m_previous = incoming;
    return m_stack[--m_stackTop];
}

int TGIFLzwDecoder::NextPixel()
{
    if (m_stackTop > 0)
        return m_stack[--m_stackTop];
    return DecodeCode();
}

void TGIFLzwDecoder::Decompress(std::span<std::uint8_t> pixels, int width, int height, bool interlaced,
                                std::uint8_t fill)
{
    std::fill(pixels.begin(), pixels.end(), fill);
    if (width <= 0 || height <= 0 || pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height))
        return;
    if (!Start())
        return;

    const auto fillRow = [&](int row) {
        std::uint8_t* out = pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const int pixel = NextPixel();
            if (pixel < 0)
                return false;
            out[x] = static_cast<std::uint8_t>(pixel);
        }
        return true;
    };

    try {
        bool more = true;
        if (!interlaced) {
            for (int row = 0; more && row < height; ++row)
                more = fillRow(row);
        } else {
            for (const InterlacePass& pass : kPasses)
                for (int row = pass.start; more && row < height; row += pass.step)
                    more = fillRow(row);
        }
    } catch (const GIFException&) {
        // The one further request still runs, so a failed frame leaves the
        // stream where a finished one would.
        try {
            NextPixel();
        } catch (const GIFException&) {
        }
        throw;
    }
    // An image that ended exactly reads its end code here, which passes
    // over the rest of the data up to the terminator.
    NextPixel();
}
