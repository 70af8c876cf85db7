// Decoding of one GIF frame's LZW image data into one byte per pixel. The
// decoder reads the code-size byte, the data sub-blocks and their
// terminator, and leaves the stream just after the terminator when the data
// ends with its end code.
#pragma once

#include "imaging/gif/gifcommon.h"
#include "rtl/streams.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

class TGIFLzwDecoder {
public:
    using WarningSink = std::function<void(TGIFSeverity, const std::string&)>;

    TGIFLzwDecoder(TStream& stream, WarningSink warning);

    // Fills pixels (width x height bytes, rows top first) with the decoded
    // indices, interlaced rows in the format's pass order; the pixels the
    // data does not reach, because it stops early or is damaged, get fill.
    // Raises GIFException "Circular decoder table entry" on a code table
    // whose links loop, and "Invalid LZW code size" for a code size the
    // tables cannot hold.
    void Decompress(std::span<std::uint8_t> pixels, int width, int height, bool interlaced, std::uint8_t fill);

private:
    static constexpr int kTableSize = 4096;
    static constexpr int kStackSize = 8192;
    static constexpr int kMaxCodeBits = 12;
    static constexpr int kNoData = -1;
    static constexpr int kEndOfImage = -2;
    static constexpr std::uint32_t kNowhere = 0xFFFFFFFFu;

    bool Start();
    int ReadCode();
    bool Refill();
    bool NextBlock();
    int SkipToTerminator();
    // The next code's string: its length, or kNoData / kEndOfImage. The
    // string goes to out when it fits in room, else to m_string.
    int DecodeString(std::uint8_t* out, std::size_t room);
    int StartTable(std::uint8_t* out, std::size_t room);
    int DecodeLooseString(int incoming, std::uint8_t* out, std::size_t room);
    void Push(std::uint8_t value);
    // Adds the previous string plus the first pixel of the one just
    // decoded (written at at: in the picture or m_string) to the table,
    // and makes that string the previous one.
    void Define(int incoming, const std::uint8_t* at);

    TStream& m_stream;
    WarningSink m_warning;

    int m_initialSize = 0;
    int m_codeWidth = 0;
    int m_clearCode = 0;
    int m_endCode = 0;
    int m_nextFree = 0;
    int m_codeLimit = 0;
    std::uint8_t m_firstChar = 0;
    int m_previous = 0;
    bool m_firstRequest = true;
    bool m_terminatorRead = false;
    bool m_ended = false;  // the end code was handled: nothing more is read

    // Bits waiting to be taken, least significant first.
    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
    std::uint8_t m_block[255] = {};
    int m_blockSize = 0;
    int m_blockPos = 0;

    // The picture when its rows follow one another in the data's order
    // (not interlaced), else null, and where in it the previous string was
    // written (kNowhere when it was not).
    std::uint8_t* m_picture = nullptr;
    std::uint32_t m_previousAt = kNowhere;

    // A code's string is its prefix code's string plus its suffix. A code
    // whose links all lead down to lower codes has its length here (a
    // single pixel's code counts 1) and, when it was seen whole in the
    // picture, where; the others (0 length) come from damaged data that
    // named codes before they existed and are followed link by link.
    std::uint16_t m_prefix[kTableSize] = {};
    std::uint8_t m_suffix[kTableSize] = {};
    std::uint16_t m_length[kTableSize] = {};
    std::uint32_t m_at[kTableSize] = {};

    std::uint8_t m_stack[kStackSize] = {};
    int m_stackTop = 0;
    // A string that did not fit where it was asked for.
    std::uint8_t m_string[kStackSize] = {};
};
