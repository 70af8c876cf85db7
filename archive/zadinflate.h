// The library's own decoder for deflate (RFC 1951) and its 64 KB variant
// Deflate64 (ZIP method 9). It reads packed bytes and writes decoded bytes
// only through the extracting component's read and write procedures, so
// decryption, the running CRC, the output target, progress and cancel stay
// with the extraction framework.
//
// Deflate64 differs from deflate in three table rows: a 65,536-byte window,
// length code 285 meaning 3 plus 16 extra bits (lengths 3 to 65,538), and
// distance codes 30 and 31 (32,769 and 49,153, 14 extra bits each).
#pragma once

#include "archive/zadbase.h"

#include <cstdint>
#include <vector>

// The entry an extractor hands to a decoder.
struct TInflateRec {
    WORD BitFlag = 0;                // bit 0: the packed data is encrypted
    std::uint32_t CompressMethod = 0;
    std::int64_t PackedSize = 0;     // bytes of packed data to read
    std::int64_t UnpackedSize = 0;   // bytes the entry decodes to
    std::int64_t ProgressTotal = 0;  // byte total of the run (by-archive percentage)
};

// The procedures a decoder calls, bound to the extracting component.
struct TInflateProc {
    TReadBlock ReadProc;
    TWriteBlock WriteProc;
    TProgress ProgressProc;
    std::int64_t* ProgressLeft = nullptr;  // bytes still to produce in the run
    bool* CancelFlag = nullptr;
};

// The library-wide Deflate64 switch: true selects the 64 KB window and the
// Deflate64 tables.
extern bool is64Bit;

// Outcome of one decode.
enum class TInflateResult { Ok, WriteFailed, InputExhausted, InvalidData, Cancelled };

// One Huffman table entry. Kind: literal, length or distance base with extra
// bits, end of block, link to a sub-table, or an invalid code.
struct THuftEntry {
    enum Kind : std::uint8_t { Literal, Base, EndOfBlock, Link, Invalid };
    Kind kind = Invalid;
    std::uint8_t bits = 0;   // code bits used at this level
    std::uint8_t extra = 0;  // extra bits (Base) or sub-table index bits (Link)
    std::uint32_t value = 0; // literal, base, or sub-table start (Link)
};

// A two-level decoding table: a first level of 2^rootBits entries, and the
// sub-tables that hold codes longer than rootBits.
struct THuftTable {
    std::vector<THuftEntry> entries;
    int rootBits = 0;
};

// The decoder's buffers, kept by an extractor for a whole run so that no
// entry allocates them again: the input, the window and the code tables.
struct TInflateBuffers {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> window;
    THuftTable literals, distances, codeLengths;
};

// Result of BuildHuffmanTable: 0 complete, 1 incomplete (accepted for the
// literal and distance tables), 2 invalid (over-subscribed or a length over
// 15).
int BuildHuffmanTable(const std::uint8_t* lengths, int count, int literals, const std::uint32_t* bases,
                      const std::uint8_t* extras, int lookupBits, THuftTable& table);

// Decodes the current entry of zad from inStream. True when every block
// decoded and the last write was complete. opBase is kept for the callers'
// shape (32 for inflate).
bool Inflate(TZipCommon* zad, TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, BYTE opBase,
             const TInflateProc& proc);
// The same with the outcome spelled out, in buffers the caller keeps
// (none given: the call makes its own).
TInflateResult InflateEx(TZipCommon* zad, TStream32* inStream, TStream32*& outStream, const TInflateRec& rec,
                         const TInflateProc& proc, TInflateBuffers* buffers = nullptr);
