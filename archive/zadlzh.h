// The LZ77 decoders of the LZH family, shared by the ARJ, BH, LHA and ZOO
// extractors, and the MSB-first bit input they read through.
//
// Static Huffman blocks (ARJ methods 1 to 3, BH methods 1 and 3, LHA lh4 to
// lh7, ZOO method 2): each block starts with a 16-bit symbol count and three
// code-length tables (a pre-table that codes the literal/length lengths, the
// 510-symbol literal/length table, and the position table of DicBits + 1
// codes); literals are 0-255, symbol s > 255 is a match of s - 253 bytes.
// The callers differ only in the dictionary bits and the width of the
// position-table count:
//
//   ARJ 1-3: 16 bits, 5     lh4: 12, 4     lh6: 15, 5     BH 1: 13, 4
//   ZOO 2:   13 bits, 4     lh5: 13, 4     lh7: 16, 5     BH 3: 15, 5
//
// ARJ method 4 ("fastest") codes lengths and distances with unary-prefixed
// fields on the same bit input, over a 32 KB window.
//
// Every decoder reads the entry's packed bytes through a source that answers
// 0 at their end and writes through a sink that may refuse more. Each call
// produces at most the declared unpacked size; a decoder never reads a bit
// past the packed bytes: when the data end before the output does, the call
// fails as Truncated instead of inventing bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Reads up to count packed bytes into buf; 0 once the entry's bytes are used up.
using TLzhSource = std::function<std::int32_t(std::uint8_t* buf, std::int32_t count)>;
// Takes count decoded bytes; false stops the decode.
using TLzhSink = std::function<bool(const std::uint8_t* buf, std::int32_t count)>;

enum class TLzhResult {
    Ok,         // the declared unpacked size was produced
    BadData,    // a table or code the format cannot hold (bad lengths, an incomplete code, a zero block count)
    Truncated,  // the packed bytes ended before the output did
    Stopped,    // the sink refused more
};

// Dictionary bits and position-count width of a static Huffman method.
struct TLzhParams {
    int DicBits = 13;  // 10 to 16
    int PBits = 4;     // 4 or 5
};

// The static Huffman decoder, with its tables and window; one object may
// decode many entries, one at a time.
class TLzhDecoder {
public:
    TLzhDecoder();
    ~TLzhDecoder();
    TLzhDecoder(const TLzhDecoder&) = delete;
    TLzhDecoder& operator=(const TLzhDecoder&) = delete;

    // Decodes one entry of unpackedSize bytes.
    TLzhResult Decode(const TLzhParams& params, std::int64_t unpackedSize, const TLzhSource& source,
                      const TLzhSink& sink);
    // Decodes one ARJ method 4 entry of unpackedSize bytes.
    TLzhResult DecodeFast(std::int64_t unpackedSize, const TLzhSource& source, const TLzhSink& sink);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
