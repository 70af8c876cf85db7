// Decoding of one GIF frame's LZW image data into one byte per pixel. The
// decoder reads the code-size byte, the data sub-blocks and their
// terminator, and leaves the stream just after the terminator when the data
// ends with its end code.
#pragma once

#include "imaging/gif/gifcommon.h"
#include "rtl/streams.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

class TGIFLzwDecoder {
public:
    using WarningSink = std::function<void(TGIFSeverity, const std::string&)>;

    TGIFLzwDecoder(TStream& stream, WarningSink warning);

    // Fills pixels (width x height bytes, rows top first) with fill, then
    // with the decoded indices, interlaced rows in the format's pass order.
    // Data that stops early leaves the rest at fill. Raises GIFException
    // "Circular decoder table entry" on a code table whose links loop, and
    // "Invalid LZW code size" for a code size the tables cannot hold.
    void Decompress(std::span<std::uint8_t> pixels, int width, int height, bool interlaced, std::uint8_t fill);

private:
    static constexpr int kTableSize = 4096;
    static constexpr int kStackSize = 8192;
    static constexpr int kMaxCodeBits = 12;
    static constexpr int kNoData = -1;
    static constexpr int kEndOfImage = -2;

    bool Start();
    int ReadCode();
    bool RefillByte();
    int DecodeCode();
    int ResetTable();
    int SkipToTerminator();
    int NextPixel();
    void Push(int value);

    TStream& m_stream;
    WarningSink m_warning;

    int m_initialSize = 0;
    int m_codeWidth = 0;
    int m_clearCode = 0;
    int m_endCode = 0;
    int m_nextFree = 0;
    int m_codeLimit = 0;
    int m_firstChar = 0;
    int m_previous = 0;
    bool m_firstRequest = true;
    bool m_terminatorRead = false;
    bool m_ended = false;  // the end code was handled: nothing more is read

    // Bits waiting to be taken, least significant first.
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    std::uint8_t m_block[255] = {};
    int m_blockSize = 0;
    int m_blockPos = 0;

    std::int32_t m_prefix[kTableSize] = {};
    std::int32_t m_suffix[kTableSize] = {};
    std::int32_t m_stack[kStackSize] = {};
    int m_stackTop = 0;
};
