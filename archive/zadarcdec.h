// The decoders of ARC entries, methods 2 to 9: stored bytes, the 0x90
// repeat expansion, the squeeze (Huffman tree) decoder, the 12-bit crunch
// of methods 5 to 7 with its hashed string table (old and new hash), and
// the growing-width LZW of methods 8 and 9 (the compress algorithm).
//
// A decoder reads the entry's packed bytes through its source callback
// (which answers 0 at their end) and writes the expanded bytes in blocks of
// at most 32,767 through its sink, which may refuse (false) to stop it. Its
// tables belong to the object, so each entry starts from nothing.
#pragma once

#include "archive/zadlzw.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

enum class TArcDecodeResult {
    Done,           // the data ended (or the decoder reached its end code)
    Stopped,        // the sink refused more output
    BadTree,        // a squeeze tree with too many nodes or a child out of range (25152)
    StackOverflow,  // a string longer than the decode stack (25305); for
    BadBits,        // a method-8 entry not made with 12-bit codes (25134)
    // methods 8 and 9: a code the table cannot give, or a string longer
    // than the decode stack, as well as a chain that turns round
    Unsupported,    // a method the decoder does not know (25326)
};

class TArcDecoder {
public:
    using Source = std::function<std::int32_t(std::uint8_t* buf, std::int32_t count)>;
    using Sink = std::function<bool(const std::uint8_t* buf, std::int32_t count)>;

    TArcDecoder(Source source, Sink sink);
    ~TArcDecoder();
    TArcDecoder(const TArcDecoder&) = delete;
    TArcDecoder& operator=(const TArcDecoder&) = delete;

    // Whether Decode handles the method (2 to 9).
    static bool Handles(int method);
    // Decodes one entry of the method; the last block is written before it returns.
    TArcDecodeResult Decode(int method);

    static constexpr std::int32_t kBlock = 32767;

private:
    // Byte input: -1 once the packed bytes are used up.
    int GetByte();
    void Put(std::uint8_t c);
    void PutRepeat(std::uint8_t c);
    bool Flush();
    TArcDecodeResult Unsqueeze();
    TArcDecodeResult Uncrunch(bool newHash, bool repeat);
    TArcDecodeResult Unlzw(int maxBits, bool repeat);

    Source m_source;
    Sink m_sink;
    std::vector<std::uint8_t> m_in;
    std::int32_t m_inPos = 0;
    std::int32_t m_inLen = 0;
    bool m_inEnded = false;
    std::vector<std::uint8_t> m_out;
    bool m_stopped = false;
    // Repeat expansion: after a marker, and the byte to repeat.
    bool m_inRepeat = false;
    std::uint8_t m_last = 0;
    struct CrunchTable;
    std::unique_ptr<CrunchTable> m_crunch;
    std::unique_ptr<TLzwBuffers> m_lzw;
};
