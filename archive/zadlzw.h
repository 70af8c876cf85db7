// The LZW decoders: Unix compress (.Z files, and the raw code streams of
// ARC's crunched and squashed methods, which are the same algorithm) and
// ZOO's method 1. They read and write through small byte interfaces, so a
// container brings its own input (bounded by its packed size) and output
// (CRC, target, progress).
//
// compress: codes of 9 to maxbits bits, least significant bit first; code
// 256 is CLEAR in block mode and the first free code is 257 (256 without
// block mode). Codes are written in groups of eight of one width, so when
// the width grows or a CLEAR comes, the rest of the group (of the old
// width) is padding and is skipped. A code equal to the next free code is
// the string of the code before it plus its own first character (KwKwK).
//
// ZOO method 1: codes of 9 to 13 bits with no group padding; 256 is CLEAR,
// 257 the end code and 258 the first free code.
//
// Both are bounded whatever the codes: no code indexes past its table, and
// no string is longer than the decoder's stack. Stale table entries left by
// a CLEAR can chain into cycles; such a chain is refused as corrupt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where packed bytes come from. Read returns up to cap bytes; 0 means the
// data has ended.
class TLzwSource {
public:
    virtual ~TLzwSource() = default;
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t cap) = 0;
};

// Where decoded bytes go. Write returns false when the bytes could not all
// be taken; the decode then stops.
class TLzwSink {
public:
    virtual ~TLzwSink() = default;
    virtual bool Write(const std::uint8_t* data, std::size_t count) = 0;
};

enum class TLzwResult {
    Ok,          // the data ended normally (compress: end of input; ZOO: the end code)
    BadHeader,   // no .Z magic, reserved flag bits set, or maxbits outside 9..16
    Corrupt,     // a code the table cannot give, a chain past the stack, a missing end code
    WriteFailed,
};

// The compress decoder's tables and buffers, kept by an extractor for a run.
struct TLzwBuffers {
    std::vector<std::uint16_t> prefix;
    std::vector<std::uint8_t> suffix;
    std::vector<std::uint32_t> length;  // bytes in each code's string
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
};

// The lowest and highest code width a compress stream may name.
inline constexpr int kLzwMinBits = 9;
inline constexpr int kLzwMaxBits = 16;

// Decodes a raw compress code stream (no header) of codes up to maxBits
// wide; blockMode makes 256 the CLEAR code. Ok when the input ended after
// whole codes.
TLzwResult DecodeLzwCodes(TLzwSource& in, TLzwSink& out, int maxBits, bool blockMode, TLzwBuffers& buffers);

// Decodes a .Z stream: the magic 1F 9D, the flags byte (maxbits in bits
// 0-4, block mode in bit 7, bits 5 and 6 reserved), then the codes.
TLzwResult DecodeCompressStream(TLzwSource& in, TLzwSink& out, TLzwBuffers& buffers);

// ZOO method 1's tables and buffers.
struct TZooLzwBuffers {
    std::vector<std::uint16_t> next;
    std::vector<std::uint8_t> character;
    std::vector<std::uint8_t> stack;
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
};

// Decodes a ZOO method 1 stream up to its end code. Input that ends before
// the end code is Corrupt, as is a code after CLEAR that is neither a
// character nor the end code.
TLzwResult DecodeZooLzw(TLzwSource& in, TLzwSink& out, TZooLzwBuffers& buffers);
