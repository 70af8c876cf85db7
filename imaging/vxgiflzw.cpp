#include "imaging/vxgiflzw_p.h"

#include "imaging/vximage.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

GifInput::GifInput(VxFile* file) : m_file(file)
{
    m_base = std::max<std::int32_t>(file->Tell(), 0);
    m_size = file->Size();
}

bool GifInput::Fill()
{
    m_base += static_cast<std::int64_t>(m_len);
    m_pos = 0;
    m_len = m_file->Read(m_buf, 1, sizeof m_buf);
    return m_len > 0;
}

bool GifInput::Read(void* out, std::size_t n)
{
    auto* dst = static_cast<std::uint8_t*>(out);
    while (n > 0) {
        if (m_pos == m_len && !Fill())
            return false;
        const std::size_t take = std::min(n, m_len - m_pos);
        std::memcpy(dst, m_buf + m_pos, take);
        m_pos += take;
        dst += take;
        n -= take;
    }
    return true;
}

bool GifInput::Skip(std::size_t n)
{
    while (n > 0) {
        if (m_pos == m_len && !Fill())
            return false;
        const std::size_t take = std::min(n, m_len - m_pos);
        m_pos += take;
        n -= take;
    }
    return true;
}

bool GifInput::SkipSubBlocks()
{
    for (;;) {
        const int size = Byte();
        if (size < 0)
            return false;
        if (size == 0)
            return true;
        if (!Skip(static_cast<std::size_t>(size)))
            return false;
    }
}

void GifInput::SeekTo(std::int64_t position)
{
    m_file->Seek(static_cast<std::int32_t>(position), 0);
    m_base = position;
    m_pos = 0;
    m_len = 0;
}

std::int64_t GifInput::Remaining() const
{
    if (m_size < 0)
        return -1;
    return std::max<std::int64_t>(m_size - Position(), 0);
}

void GifInput::Sync() { m_file->Seek(static_cast<std::int32_t>(Position()), 0); }

GifLineSink::GifLineSink(VxImage& frame, bool interlaced)
    : m_frame(frame), m_interlaced(interlaced), m_height(static_cast<std::int32_t>(frame.GetHeight()))
{
}

int GifLineSink::Store(const std::uint8_t* line, std::uint32_t length)
{
    if (m_row >= m_height)
        return -1;
    std::uint8_t* row = m_frame.GetRowBits(static_cast<std::uint32_t>(m_height - 1 - m_row));
    length = std::min(length, m_frame.GetWidth());
    // The frame holds as few bits per pixel as its colour table needs; a
    // line of one index per byte is packed, first pixel in the high bits.
    switch (m_frame.GetBpp()) {
    case 8:
        std::memcpy(row, line, length);
        break;
    case 4:
        for (std::uint32_t x = 0; x < length; ++x) {
            const int shift = (x & 1) ? 0 : 4;
            row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & ~(15 << shift)) | ((line[x] & 15) << shift));
        }
        break;
    default:
        for (std::uint32_t x = 0; x < length; ++x) {
            const int shift = 7 - static_cast<int>(x & 7);
            row[x / 8] = static_cast<std::uint8_t>((row[x / 8] & ~(1 << shift)) | ((line[x] & 1) << shift));
        }
        break;
    }
    Advance();
    return 0;
}

std::uint8_t* GifLineSink::DirectRow() const
{
    if (m_frame.GetBpp() != 8 || m_row >= m_height)
        return nullptr;
    return m_frame.GetRowBits(static_cast<std::uint32_t>(m_height - 1 - m_row));
}

void GifLineSink::Advance()
{
    if (!m_interlaced) {
        ++m_row;
        return;
    }
    // Interlaced frames come in four passes: every 8th row from row 0, every
    // 8th from row 4, every 4th from row 2, every 2nd from row 1. A pass
    // whose first row lies below the frame is passed over.
    m_row += m_step;
    while (m_row >= m_height && m_pass < 3) {
        ++m_pass;
        if (m_pass > 1)
            m_step /= 2;
        m_row = m_step / 2;
    }
}

void GifLzwDecoder::Reset(int minimumSize)
{
    m_codeSize = minimumSize + 1;
    m_topSlot = 1 << m_codeSize;
    m_clear = 1 << minimumSize;
    m_end = m_clear + 1;
    m_firstFree = m_nextSlot = m_clear + 2;
    m_bits = 0;
    m_bitCount = 0;
    m_blockLeft = 0;
    m_ended = false;
    std::memset(m_stack, 0, sizeof m_stack);
    std::memset(m_suffix, 0, sizeof m_suffix);
    std::memset(m_prefix, 0, sizeof m_prefix);
}

int GifLzwDecoder::ReadCode(GifInput& in)
{
    // A code may span several sub-blocks, down to sub-blocks of one byte:
    // bytes are taken until the code's bits are all there.
    while (m_bitCount < m_codeSize) {
        if (m_blockLeft == 0) {
            if (m_ended)
                return m_end;
            const int size = in.Byte();
            if (size < 0)
                return -1;
            if (size == 0) {
                m_ended = true;
                return m_end;
            }
            m_blockLeft = size;
        }
        const int b = in.Byte();
        if (b < 0)
            return -1;
        --m_blockLeft;
        m_bits |= static_cast<std::uint32_t>(b) << m_bitCount;
        m_bitCount += 8;
    }
    const int code = static_cast<int>(m_bits & ((1u << m_codeSize) - 1));
    m_bits >>= m_codeSize;
    m_bitCount -= m_codeSize;
    return code;
}

int GifLzwDecoder::Decode(GifInput& in, GifLineSink& sink, std::uint32_t lineWidth, std::int32_t& badCodes)
{
    badCodes = 0;
    m_cutShort = false;
    const int minimumSize = in.Byte();
    if (minimumSize < 0) {
        m_cutShort = true;
        return -1;
    }
    m_ended = false;
    m_blockLeft = 0;
    // Whatever ends the decoding, the input moves on to the data's
    // terminator, so that the blocks after the frame are found.
    auto finish = [&](int result) {
        if (!m_ended && in.Skip(static_cast<std::size_t>(m_blockLeft)))
            in.SkipSubBlocks();
        return result;
    };
    if (minimumSize < 2 || minimumSize > 9)
        return finish(kBadCodeSize);
    Reset(minimumSize);
    std::unique_ptr<std::uint8_t[]> line(new (std::nothrow) std::uint8_t[lineWidth + 1]);
    if (!line)
        return finish(kNoMemory);

    std::uint32_t fill = 0;
    // Lines of one byte per pixel are written straight into their row; the
    // line buffer serves packed rows and lines beyond the frame.
    std::uint8_t* out = sink.DirectRow();
    if (!out)
        out = line.get();
    // A string is walked from its last character to its first, so the stack
    // is filled from its end: the string then lies in order at
    // m_stack + kStack - count and goes to the lines in whole pieces.
    constexpr int kStack = static_cast<int>(sizeof m_stack);
    auto emit = [&](int count) -> int {
        const std::uint8_t* p = m_stack + kStack - count;
        while (count > 0) {
            const std::uint32_t take = std::min<std::uint32_t>(static_cast<std::uint32_t>(count), lineWidth - fill);
            std::memcpy(out + fill, p, take);
            p += take;
            fill += take;
            count -= static_cast<int>(take);
            if (fill == lineWidth) {
                fill = 0;
                if (out == line.get()) {
                    if (const int error = sink.Store(out, lineWidth))
                        return error;
                } else {
                    sink.Advance();
                }
                out = sink.DirectRow();
                if (!out)
                    out = line.get();
            }
        }
        return 0;
    };

    int oldCode = 0;
    int firstChar = 0;
    for (;;) {
        int c = ReadCode(in);
        if (c < 0) {
            m_cutShort = true;
            return 0;
        }
        if (c == m_end)
            break;
        if (c == m_clear) {
            m_codeSize = minimumSize + 1;
            m_nextSlot = m_firstFree;
            m_topSlot = 1 << m_codeSize;
            do
                c = ReadCode(in);
            while (c == m_clear);
            if (c < 0) {
                m_cutShort = true;
                return 0;
            }
            if (c == m_end)
                break;
            if (c >= m_nextSlot)
                c = 0;
            oldCode = firstChar = c;
            m_stack[kStack - 1] = static_cast<std::uint8_t>(c);
            if (const int error = emit(1))
                return finish(error);
            continue;
        }
        int code = c;
        int sp = kStack;  // the stack grows down from its end
        if (code >= m_nextSlot) {
            if (code > m_nextSlot)
                ++badCodes;
            code = oldCode;
            m_stack[--sp] = static_cast<std::uint8_t>(firstChar);
        }
        // Prefix links of a damaged stream may loop: a chain longer than
        // the stack ends the frame with what was decoded.
        while (code >= m_firstFree) {
            if (sp <= 1)
                return finish(0);
            m_stack[--sp] = m_suffix[code];
            code = m_prefix[code];
        }
        m_stack[--sp] = static_cast<std::uint8_t>(code);
        if (m_nextSlot < m_topSlot) {
            firstChar = code;
            m_suffix[m_nextSlot] = static_cast<std::uint8_t>(code);
            m_prefix[m_nextSlot] = static_cast<std::uint16_t>(oldCode);
            ++m_nextSlot;
            oldCode = c;
        }
        if (m_nextSlot >= m_topSlot && m_codeSize < 12) {
            m_topSlot <<= 1;
            ++m_codeSize;
        }
        if (const int error = emit(kStack - sp))
            return finish(error);
    }
    int result = 0;
    if (fill > 0 && out == line.get())
        result = sink.Store(out, fill);
    return finish(result);
}
