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
// maxBits). Deflate's codes are at most 15 bits long, implode's 16.
int BuildHuffmanTable(const std::uint8_t* lengths, int count, int literals, const std::uint32_t* bases,
                      const std::uint8_t* extras, int lookupBits, THuftTable& table, int maxBits = 15);

// The bounded input of the library's own decoders. Packed bytes come only
// through the component's read procedure (decryption and all), never more
// than the entry's packed size; past the end the reader feeds zero bytes and
// Overrun() tells that a bit beyond the real input has been consumed, so a
// decoder checks once per symbol instead of once per byte. Bits are taken
// least significant first.
class TBitInput {
public:
    TBitInput(TStream32* in, const TInflateRec& rec, const TInflateProc& proc, std::vector<std::uint8_t>& buffer);

    std::uint8_t NextByte()
    {
        if (m_pos >= m_len && !Refill()) {
            ++m_padBytes;
            return 0;
        }
        return m_buffer[static_cast<size_t>(m_pos++)];
    }
    void NeedBits(int n)
    {
        while (m_bitCount < n) {
            m_bitBuf |= static_cast<std::uint64_t>(NextByte()) << m_bitCount;
            m_bitCount += 8;
        }
    }
    std::uint32_t PeekBits(int n) const { return static_cast<std::uint32_t>(m_bitBuf & ((1ull << n) - 1)); }
    void DumpBits(int n)
    {
        m_bitBuf >>= n;
        m_bitCount -= n;
    }
    std::uint32_t GetBits(int n)
    {
        if (n == 0)
            return 0;
        NeedBits(n);
        const std::uint32_t v = PeekBits(n);
        DumpBits(n);
        return v;
    }
    void AlignToByte() { DumpBits(m_bitCount & 7); }
    // True once a bit beyond the real input has been consumed: the padding
    // bytes fed at the end are the newest bits of the buffer.
    bool Overrun() const { return m_bitCount < m_padBytes * 8; }
    // Decodes one symbol of a table built by BuildHuffmanTable; null when
    // the code is invalid. Implode sends its codes inverted: the bits are
    // complemented before they index the table.
    const THuftEntry* Decode(const THuftTable& t, bool inverted = false)
    {
        if (t.rootBits == 0 || t.entries.empty())
            return nullptr;
        NeedBits(t.rootBits);
        const std::uint32_t flipRoot = inverted ? (1u << t.rootBits) - 1 : 0;
        const THuftEntry* e = &t.entries[PeekBits(t.rootBits) ^ flipRoot];
        if (e->kind == THuftEntry::Link) {
            DumpBits(t.rootBits);
            NeedBits(e->extra);
            const std::uint32_t flipSub = inverted ? (1u << e->extra) - 1 : 0;
            const size_t idx = e->value + (PeekBits(e->extra) ^ flipSub);
            if (idx >= t.entries.size())
                return nullptr;
            e = &t.entries[idx];
            if (e->kind == THuftEntry::Link || e->kind == THuftEntry::Invalid || e->bits <= t.rootBits)
                return nullptr;
            DumpBits(e->bits - t.rootBits);
        } else {
            DumpBits(e->bits);
        }
        if (e->kind == THuftEntry::Invalid)
            return nullptr;
        return e;
    }

private:
    bool Refill();

    TStream32* m_in;
    const TInflateRec& m_rec;
    const TInflateProc& m_proc;
    std::vector<std::uint8_t>& m_buffer;
    std::int32_t m_pos = 0;
    std::int32_t m_len = 0;
    std::int64_t m_totalRead = 0;
    bool m_eof = false;
    int m_padBytes = 0;
    std::uint64_t m_bitBuf = 0;
    int m_bitCount = 0;
};

// The output side of the library's own decoders: decoded bytes go through
// the component's write procedure (the CRC, the target, the declared-size
// limit), and every write reports progress by file and by archive.
class TDecodedOutput {
public:
    TDecodedOutput(TStream32*& out, const TInflateRec& rec, const TInflateProc& proc)
        : m_out(out), m_rec(rec), m_proc(proc), m_remaining(rec.UnpackedSize)
    {
    }
    // True when all n bytes were written.
    bool Write(std::uint8_t* data, std::uint32_t n);
    bool Cancelled() const { return m_proc.CancelFlag && *m_proc.CancelFlag; }
    // Bytes of the entry not written yet.
    std::int64_t Remaining() const { return m_remaining; }

private:
    TStream32*& m_out;
    const TInflateRec& m_rec;
    const TInflateProc& m_proc;
    std::int64_t m_remaining;
};

// What each of the library's own decoders works through: the entry's record
// and procedures (held here, since the input and output refer to them), the
// bounded bit input and the decoded output.
struct TDecoderIO {
    TDecoderIO(TStream32* in, TStream32*& out, const TInflateRec& r, const TInflateProc& p, std::vector<std::uint8_t>& input)
        : rec(r), proc(p), bits(in, rec, proc, input), output(out, rec, proc)
    {
    }
    TInflateRec rec;
    TInflateProc proc;
    TBitInput bits;
    TDecodedOutput output;
};

// Decodes the current entry of zad from inStream: one deflate stream (a
// gzip file's members are TUnGZip's, archive/zadgzip.h). True when every
// block decoded and the last write was complete. zad and opBase are kept
// for the callers' shape (32 for inflate).
bool Inflate(TZipCommon* zad, TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, BYTE opBase,
             const TInflateProc& proc);
// The same with the outcome spelled out, in buffers the caller keeps
// (none given: the call makes its own).
TInflateResult InflateEx(TZipCommon* zad, TStream32* inStream, TStream32*& outStream, const TInflateRec& rec,
                         const TInflateProc& proc, TInflateBuffers* buffers = nullptr);
