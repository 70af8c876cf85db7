// Deflate and inflate as library streams over zlib. TDecompressStream
// inflates what it reads from an underlying stream (raw deflate with window
// bits -15 for ZIP), decrypting its input by the entry's encryption method;
// TCompressStream deflates what is written to it into an underlying stream.
// zlib itself has neither 64-bit totals, nor a running CRC of the deflated
// bytes, nor a cancel byte: this wrapper keeps them.
#pragma once

#include "archive/zadstreams.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

enum TDeflateType { dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX };
// The zlib level of a type: super fast stores (0), fast 1, normal zlib's
// default (6), maximum 9.
int DeflateLevelOf(TDeflateType t);

constexpr std::int32_t kZadTransferSize = 131070;

// The wrapper's view of the zlib stream record with the additions the
// library expects of it.
struct zad_stream_state;

class TCustomStream : public TStream32 {
public:
    ~TCustomStream() override;
    std::uint64_t TotalIn() const { return m_totalIn; }
    std::uint64_t TotalOut() const { return m_totalOut; }
    void ResetTotalOut() { m_totalOut = 0; }

protected:
    explicit TCustomStream(TStream32* stream, TEncryptionMethod method);
    // Moves the underlying stream back where this stream left it when
    // someone else moved it.
    void SyncPosition();

    TStream32* m_stream;
    TEncryptionMethod m_method;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_streamPos = 0;
    std::unique_ptr<zad_stream_state> m_z;
    std::uint64_t m_totalIn = 0;
    std::uint64_t m_totalOut = 0;
};

class TDecompressStream : public TCustomStream {
public:
    TDecompressStream(TStream32* source, TEncryptionMethod method, std::int8_t windowBits);
    ~TDecompressStream() override;

    // Inflates into buffer until count bytes are produced, the deflate data
    // ends, or an error occurs; reads the source in pieces of at most
    // inputChunk bytes. Returns count (also when the data ended early: the
    // bytes produced are TotalOut's growth) or a negative zlib code
    // (Z_BUF_ERROR -5 when the source is exhausted first).
    std::int32_t Read(void* buffer, std::int32_t inputChunk, std::int32_t count);
    std::int64_t Read(void* buffer, std::int64_t count) override
    {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, 0x7FFFFFFF));
        return Read(buffer, n, n);
    }
    std::int64_t Write(const void*, std::int64_t) override { return -1; }
    std::int32_t Seek32(std::int32_t offset, WORD origin) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    bool StreamEnd() const { return m_streamEnd; }
    // Bytes left in the input buffer (read from the source, not inflated).
    std::uint32_t AvailIn() const;
    std::uint32_t AvailOut() const;
    // Gives the stream a new source positioned at 0 with its input emptied
    // (an entry continued on the next volume).
    void SetSource(TStream32* source);
    // Starts a new deflate stream at the source's current position (the
    // next entry), keeping the buffers and zlib's state of the last one.
    void Restart(TStream32* source, TEncryptionMethod method, std::int64_t inputLimit);
    bool* CancelRef = nullptr;
    // At most this many bytes are read from the source in all (-1: no
    // limit), so that what follows the deflate data is never taken in.
    std::int64_t InputLimit = -1;
    std::int64_t SourceBytesRead() const { return m_sourceRead; }

private:
    void doInflateReset();
    std::int64_t m_sourceRead = 0;
    bool m_streamEnd = false;
    bool m_ok = false;
};

class TCompressStream : public TCustomStream {
public:
    TCompressStream(TStream32* dest, TDeflateType type, std::int8_t windowBits);
    ~TCompressStream() override;
    std::int64_t Read(void*, std::int64_t) override { return -1; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int32_t Seek32(std::int32_t offset, WORD origin) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    // CRC-32 register of the bytes taken in, without the final complement.
    std::uint32_t GetCrcValue() const { return m_crc; }
    int GetCompressionRate() const;

    bool Cancel = false;
    bool* CancelRef = &Cancel;
    std::int64_t* ProgressCount = nullptr;
    BYTE EncryptMethod = 0;  // 1-3 AES, 4 traditional cipher

private:
    void doCompStream();
    void doCompEnd();
    void FlushBuffer(std::uint32_t n);
    std::uint32_t m_crc = CRC_MASK;
    bool m_ok = false;
};
