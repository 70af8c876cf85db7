// Encoding of one GIF frame's pixel indices as GIF image data: the LZW
// minimum code size byte, the code stream in data sub-blocks, and the block
// terminator. Two coders share the code packing: real LZW compression with a
// hashed dictionary, and a run-length coder whose stream any LZW decoder
// reads without the encoder keeping a dictionary at all.
#pragma once

#include "imaging/gif/gifcommon.h"
#include "rtl/streams.h"

#include <array>
#include <cstdint>

// A destination that only takes bytes: reading or seeking raises Exception
// "Invalid stream operation".
class TGIFStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
};

// Cuts the bytes written to it into data sub-blocks (a length byte and up
// to 255 bytes) on the destination. Whole blocks gather in a buffer of
// several and go out together, so that a file stream is written in a few
// large pieces; the pending blocks and the last, partly filled one go out
// only through Flush: a write error must reach the caller as an exception,
// which a destructor cannot pass on.
class TGIFWriter : public TGIFStream {
public:
    explicit TGIFWriter(TStream& destination) : m_destination(destination) {}

    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void PutByte(std::uint8_t value)
    {
        m_buffer[m_used++] = value;
        if (m_used == m_blockEnd)
            CloseBlock();
    }
    // Writes the pending blocks, if any. Raises EWriteError on a short write.
    void Flush();

private:
    static constexpr int kBlockBytes = 256;  // the length byte and 255 data bytes
    static constexpr int kBlocks = 32;       // blocks gathered before a write
    void CloseBlock();

    TStream& m_destination;
    std::array<std::uint8_t, kBlockBytes * kBlocks> m_buffer{};
    int m_blockStart = 0;        // where the length byte of the open block goes
    int m_used = 1;              // bytes of the buffer in use, the open block's length byte included
    int m_blockEnd = kBlockBytes;  // m_used at which the open block is full
};

// The LZW dictionary: string (prefix code x 256 + pixel) to code, in 8009
// slots of key x 4096 + code. The table is prime-sized and every probe walk
// steps by a key-dependent distance below the size, so a walk visits every
// slot and always ends.
class THashTable {
public:
    static constexpr int kSize = 8009;
    THashTable() { Clear(); }
    void Clear();
    void Insert(std::uint32_t key, int code);
    // The code of key, or -1 when the dictionary lacks it. Most lookups end
    // at their first slot, which is tried here; the rest walk on out of line.
    int Lookup(std::uint32_t key) const
    {
        const int slot = FirstSlot(key);
        const std::uint32_t entry = m_slots[static_cast<std::size_t>(slot)];
        if ((entry >> 12) == (kEmpty >> 12))
            return -1;
        if ((entry >> 12) == key)
            return static_cast<int>(entry & 0xFFF);
        return LookupAfter(key, slot);
    }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    static int FirstSlot(std::uint32_t key) { return static_cast<int>((key ^ (key >> 4)) % kSize); }
    static int Step(std::uint32_t key) { return 1 + static_cast<int>(key % (kSize - 1)); }
    int LookupAfter(std::uint32_t key, int slot) const;

    std::array<std::uint32_t, kSize> m_slots{};
};

class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;

    // Writes width x height pixel indices (rows top first; written in the
    // four interlace passes when interlace is set) as one frame's image
    // data. Every pixel must be below maxColor: another raises GIFException
    // "Color not in color table" and leaves the terminator unwritten.
    // bitsPerPixel is the code size written (1 is written as 2); more than
    // 8 bits raises GIFException "Invalid bits per pixel". Write errors of
    // the destination pass on as EWriteError.
    void Compress(TStream& stream, int bitsPerPixel, int width, int height, bool interlace,
                  const std::uint8_t* data, int maxColor);

    static int MaxCodeForBits(int bits) { return (1 << bits) - 1; }

protected:
    virtual void Output(int code) { PackCode(code); }
    virtual void EmitClearCode();
    virtual void DoCompress() = 0;

    // Codes are packed least significant bit first, m_codeWidth bits each.
    void PackCode(int code)
    {
        m_bucket = (m_bucket & ((1u << m_bitsInBucket) - 1)) | (static_cast<std::uint32_t>(code) << m_bitsInBucket);
        m_bitsInBucket += m_codeWidth;
        while (m_bitsInBucket >= 8) {
            m_writer->PutByte(static_cast<std::uint8_t>(m_bucket));
            m_bucket >>= 8;
            m_bitsInBucket -= 8;
        }
    }

    // The next pixel in writing order, or -1 after the last.
    int ReadPixel()
    {
        if (m_pixelsLeft == 0 && !NextRow())
            return -1;
        --m_pixelsLeft;
        return CheckedPixel(*m_current++);
    }

    int CheckedPixel(int pixel) const
    {
        if (pixel >= m_colorCount)
            throw GIFException(gifmsg::ColorNotInTable);
        return pixel;
    }

    // The pixels not read yet of the current row (of the whole frame when it
    // is not interlaced), taken at once as [begin, end); false after the last.
    bool TakePixels(const std::uint8_t*& begin, const std::uint8_t*& end)
    {
        if (m_pixelsLeft == 0 && !NextRow())
            return false;
        begin = m_current;
        end = m_current += m_pixelsLeft;
        m_pixelsLeft = 0;
        return true;
    }

    int m_colorCount = 0;
    int m_bitsPerPixel = 0;
    bool m_clearFlag = false;
    int m_codeWidth = 0;
    int m_initialCodeWidth = 0;
    int m_largestCode = 0;
    int m_clearCode = 0;
    int m_endCode = 0;
    int m_firstFreeCode = 0;

private:
    bool NextRow();
    void FlushBits();

    TGIFWriter* m_writer = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_interlaced = false;
    const std::uint8_t* m_data = nullptr;
    const std::uint8_t* m_current = nullptr;
    std::int64_t m_pixelsLeft = 0;
    int m_row = 0;
    int m_pass = 0;
    std::uint32_t m_bucket = 0;
    int m_bitsInBucket = 0;
};

// GIF LZW: the longest string already in the dictionary goes out as one
// code. Codes up to 4094 are assigned; reaching 4095 clears the dictionary.
class TLZWEncoder : public TGIFEncoder {
protected:
    void Output(int code) override { OutputCode(code); }
    void EmitClearCode() override;
    void DoCompress() override;
    // The coding loop; without the dictionary no string is ever found and
    // every pixel goes out as a code of its own.
    template <bool kDictionary>
    void Encode();

private:
    // The width follows the decoder's table: it grows once the next code to
    // be assigned no longer fits, and returns to the start after a clear
    // code (which itself still goes out at the old width).
    void OutputCode(int code)
    {
        PackCode(code);
        if (m_nextFreeCode > m_largestCode || m_clearFlag) [[unlikely]]
            AdjustCodeWidth();
    }
    void AdjustCodeWidth();

    int m_nextFreeCode = 0;
    THashTable m_dictionary;
};

// An uncompressed code stream: every pixel is a code of its own, the code
// width following the table a decoder builds, with a clear code whenever
// that table would fill. LZW whose dictionary never finds a string.
class TPlainEncoder : public TLZWEncoder {
protected:
    void DoCompress() override;
};

// Runs of one pixel value written with the codes a decoder's own table
// assigns after a clear code: the pixel, then codes standing for 2, 3, 4...
// pixels of it. No string is ever searched for.
class TRLEEncoder : public TGIFEncoder {
protected:
    void EmitClearCode() override;
    void DoCompress() override;

private:
    void EmitRunCode(int code);
    void FlushRun(int count);
    void FlushAfterClear(int count);
    void FlushClearOrRepeat(int count);
    void FlushWithRunTable(int count);
    void RaiseClearLimit() { m_clearLimit = m_maxRunCodes; }
    void RestoreClearLimit();

    int m_maxRunCodes = 0;
    int m_initialBump = 0;
    int m_initialClearLimit = 0;
    int m_runPixel = -1;
    int m_runTableSize = 0;
    int m_runTablePixel = -1;
    int m_codesSinceClear = 0;
    int m_clearLimit = 0;
    int m_bumpCount = 0;
};

// Codes needed to write count pixels of one value as runs of 1, 2, ... n
// pixels, starting again at 1 after every n.
int GIFTriangleCost(std::int64_t count, int n);
std::int64_t GIFIntegerSquareRoot(std::int64_t x);
