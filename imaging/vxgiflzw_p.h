// The byte input and the frame decoder of the image classes' GIF reader.
#pragma once

#include "imaging/vxfile.h"

#include <cstddef>
#include <cstdint>

class VxImage;

// The stream read ahead in blocks of 16 KB. The reader parses blocks and
// decodes frame data through the same buffer, and always knows the stream
// position of the next byte it hands out.
class GifInput {
public:
    explicit GifInput(VxFile* file);

    // The next byte, or -1 at the end of the stream.
    int Byte()
    {
        if (m_pos == m_len && !Fill())
            return -1;
        return m_buf[m_pos++];
    }
    // Exactly n bytes, or false.
    bool Read(void* out, std::size_t n);
    // Passes over n bytes; false when the stream ends first.
    bool Skip(std::size_t n);
    // Passes over data sub-blocks up to and including the empty one that
    // ends them; false when the stream ends first.
    bool SkipSubBlocks();

    std::int64_t Position() const { return m_base + static_cast<std::int64_t>(m_pos); }
    void SeekTo(std::int64_t position);
    // Bytes left after the position; -1 when the stream cannot tell.
    std::int64_t Remaining() const;
    // Leaves the underlying stream at Position().
    void Sync();

private:
    bool Fill();

    VxFile* m_file;
    std::int64_t m_base = 0;  // stream position of m_buf[0]
    std::int64_t m_size = -1;
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::uint8_t m_buf[16384];
};

// Where the decoded lines of one frame go: into the frame image's rows,
// top row first, or in the four passes of an interlaced frame.
class GifLineSink {
public:
    GifLineSink(VxImage& frame, bool interlaced);
    // 0, or -1 when the frame has no row left for the line.
    int Store(const std::uint8_t* line, std::uint32_t length);
    // The row the next line goes to when a line can be written there in
    // place (one byte per pixel), else null; Advance then moves on.
    std::uint8_t* DirectRow() const;
    void Advance();

private:
    VxImage& m_frame;
    bool m_interlaced;
    std::int32_t m_height;
    std::int32_t m_row = 0;  // picture row, 0 at the top
    std::int32_t m_step = 8;
    std::int32_t m_pass = 0;
};

// The LZW decoder of one frame's data. Codes of 3 to 12 bits are packed
// least significant bit first across data sub-blocks.
class GifLzwDecoder {
public:
    enum : int { kBadCodeSize = -20, kNoMemory = -10 };

    // Decodes the data that follows a frame's descriptor and colour table,
    // and leaves the input after the data's terminator. A stream that ends
    // inside the data keeps what was decoded and answers 0; so does a chain
    // of codes that loops back on itself. badCodes counts codes beyond the
    // table, after which the caller looks for the next frame.
    int Decode(GifInput& in, GifLineSink& sink, std::uint32_t lineWidth, std::int32_t& badCodes);
    // The stream ended inside the last frame's data.
    bool CutShort() const { return m_cutShort; }

private:
    void Reset(int minimumSize);
    // The next code; the end code after the empty sub-block; -1 when the
    // stream ends.
    int ReadCode(GifInput& in);

    int m_codeSize = 0;
    int m_clear = 0;
    int m_end = 0;
    int m_firstFree = 0;
    int m_topSlot = 0;
    int m_nextSlot = 0;
    std::uint32_t m_bits = 0;  // bits not yet taken, lowest first
    int m_bitCount = 0;
    int m_blockLeft = 0;  // bytes left in the current sub-block
    bool m_ended = false;  // the empty sub-block was read
    bool m_cutShort = false;
    std::uint8_t m_stack[4096];
    std::uint8_t m_suffix[4096];
    std::uint16_t m_prefix[4096];
};
