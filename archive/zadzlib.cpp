#include "archive/zadzlib.h"

#include "archive/zadaes.h"
#include "archive/zadcrypt.h"
#include "archive/zadgbls.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

struct zad_stream_state {
    z_stream z{};
};

namespace {

void DecryptBlock(TEncryptionMethod method, void* buf, std::int32_t n)
{
    if (n <= 0)
        return;
    switch (method) {
    case emAES2_128:
    case emAES2_192:
    case emAES2_256: zadDecryptBuf(buf, n); break;
    case emZIP_v2: zadDecodeBuf(false, buf, static_cast<std::size_t>(n)); break;
    default: break;
    }
}

}  // namespace

TCustomStream::TCustomStream(TStream32* stream, TEncryptionMethod method)
    : m_stream(stream), m_method(method), m_buffer(kZadTransferSize), m_z(std::make_unique<zad_stream_state>())
{
    m_streamPos = m_stream ? m_stream->Position() : 0;
}

TCustomStream::~TCustomStream() = default;

void TCustomStream::SyncPosition()
{
    if (m_stream && m_stream->Position() != m_streamPos)
        m_stream->Seek(m_streamPos, soBeginning);
}

// ---- TDecompressStream ------------------------------------------------------------------

TDecompressStream::TDecompressStream(TStream32* source, TEncryptionMethod method, std::int8_t windowBits)
    : TCustomStream(source, method)
{
    m_z->z.next_in = m_buffer.data();
    m_z->z.avail_in = 0;
    m_ok = inflateInit2(&m_z->z, windowBits) == Z_OK;
}

TDecompressStream::~TDecompressStream()
{
    // Leave the source right after the deflate data consumed.
    if (m_stream && m_z->z.avail_in > 0) {
        SyncPosition();
        m_stream->Seek(-static_cast<std::int64_t>(m_z->z.avail_in), soCurrent);
    }
    if (m_ok)
        inflateEnd(&m_z->z);
}

std::uint32_t TDecompressStream::AvailIn() const { return m_z->z.avail_in; }
std::uint32_t TDecompressStream::AvailOut() const { return m_z->z.avail_out; }

void TDecompressStream::SetSource(TStream32* source)
{
    m_stream = source;
    m_z->z.avail_in = 0;
    m_z->z.next_in = m_buffer.data();
    if (m_stream)
        m_stream->Seek(std::int64_t{0}, soBeginning);
    m_streamPos = 0;
    m_sourceRead = 0;
}

std::int32_t TDecompressStream::Read(void* buffer, std::int32_t inputChunk, std::int32_t count)
{
    if (!m_ok)
        return Z_STREAM_ERROR;
    if (count <= 0)
        return 0;
    inputChunk = std::clamp(inputChunk, 0, kZadTransferSize);
    z_stream& z = m_z->z;
    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(count);
    while (z.avail_out > 0) {
        if (z.avail_in == 0) {
            std::int32_t n = 0;
            std::int64_t want = inputChunk;
            if (InputLimit >= 0)
                want = std::min<std::int64_t>(want, InputLimit - m_sourceRead);
            if (m_stream && want > 0) {
                SyncPosition();
                n = static_cast<std::int32_t>(m_stream->Read(m_buffer.data(), want));
                if (n < 0)
                    n = 0;
                m_sourceRead += n;
                m_streamPos = m_stream->Position();
            }
            z.next_in = m_buffer.data();
            z.avail_in = static_cast<uInt>(n);
            if (n > 0) {
                DecryptBlock(m_method, m_buffer.data(), n);
                TStream32::Progress(this);
            }
        }
        const uLong outBefore = z.total_out;
        const uLong inBefore = z.total_in;
        const int r = inflate(&z, Z_NO_FLUSH);
        m_totalOut += z.total_out - outBefore;
        m_totalIn += z.total_in - inBefore;
        if (r == Z_STREAM_END) {
            m_streamEnd = true;
            break;
        }
        if (r < 0)
            return r;
    }
    return count;
}

void TDecompressStream::Restart(TStream32* source, TEncryptionMethod method, std::int64_t inputLimit)
{
    doInflateReset();
    m_stream = source;
    m_method = method;
    m_streamPos = source ? source->Position() : 0;
    InputLimit = inputLimit;
}

void TDecompressStream::doInflateReset()
{
    inflateReset(&m_z->z);
    m_z->z.avail_in = 0;
    m_z->z.next_in = m_buffer.data();
    m_streamEnd = false;
    m_sourceRead = 0;
    m_totalIn = 0;
    m_totalOut = 0;
}

std::int32_t TDecompressStream::Seek32(std::int32_t offset, WORD origin)
{
    const TSeekOrigin o = origin == 0 ? soBeginning : origin == 1 ? soCurrent : soEnd;
    return static_cast<std::int32_t>(Seek(static_cast<std::int64_t>(offset), o));
}

std::int64_t TDecompressStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t forward = -1;
    if (origin == soBeginning && offset == 0) {
        doInflateReset();
        if (m_stream)
            m_stream->Seek(std::int64_t{0}, soBeginning);
        m_streamPos = 0;
    } else if (origin == soCurrent && offset >= 0) {
        forward = offset;
    } else if (origin == soBeginning && offset > static_cast<std::int64_t>(m_totalOut)) {
        forward = offset - static_cast<std::int64_t>(m_totalOut);
    }
    if (forward > 0) {
        std::vector<std::uint8_t> scratch(4096);
        while (forward > 0 && !m_streamEnd) {
            const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(forward, 4096));
            const std::uint64_t before = m_totalOut;
            if (Read(scratch.data(), kZadTransferSize, n) < 0)
                break;
            const auto got = static_cast<std::int64_t>(m_totalOut - before);
            if (got == 0)
                break;
            forward -= got;
        }
    }
    return static_cast<std::int64_t>(m_totalOut);
}

// ---- TCompressStream ------------------------------------------------------------------------

int DeflateLevelOf(TDeflateType t)
{
    switch (t) {
    case dtDeflateS: return 0;
    case dtDeflateF: return 1;
    case dtDeflateN: return Z_DEFAULT_COMPRESSION;
    case dtDeflateX: return 9;
    }
    return Z_DEFAULT_COMPRESSION;
}

TCompressStream::TCompressStream(TStream32* dest, TDeflateType type, std::int8_t windowBits)
    : TCustomStream(dest, emNone)
{
    m_z->z.next_out = m_buffer.data();
    m_z->z.avail_out = kZadTransferSize;
    m_ok = deflateInit2(&m_z->z, DeflateLevelOf(type), Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

TCompressStream::~TCompressStream()
{
    m_z->z.next_in = nullptr;
    m_z->z.avail_in = 0;
    doCompEnd();
}

void TCompressStream::FlushBuffer(std::uint32_t n)
{
    if (n == 0)
        return;
    switch (EncryptMethod) {
    case 1:
    case 2:
    case 3: zadEncryptBuf(m_buffer.data(), static_cast<std::int32_t>(n)); break;
    case 4: zadEncodeBuf(false, m_buffer.data(), n); break;
    default: break;
    }
    if (m_stream) {
        SyncPosition();
        m_stream->Write(m_buffer.data(), static_cast<std::int32_t>(n));
        m_streamPos = m_stream->Position();
    }
    m_z->z.next_out = m_buffer.data();
    m_z->z.avail_out = kZadTransferSize;
}

std::int64_t TCompressStream::Write(const void* buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    if (count > 0x7FFFFFFF)
        count = 0x7FFFFFFF;
    m_crc = ~static_cast<std::uint32_t>(crc32(~m_crc & 0xFFFFFFFFu, static_cast<const Bytef*>(buffer), static_cast<uInt>(count)));
    m_z->z.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
    m_z->z.avail_in = static_cast<uInt>(count);
    doCompStream();
    return count;
}

void TCompressStream::doCompStream()
{
    z_stream& z = m_z->z;
    while (m_ok && z.avail_in > 0) {
        if (CancelRef && *CancelRef)
            return;
        if (ProgressCount)
            *ProgressCount -= z.avail_in;
        const uLong inBefore = z.total_in, outBefore = z.total_out;
        deflate(&z, Z_NO_FLUSH);
        m_totalIn += z.total_in - inBefore;
        m_totalOut += z.total_out - outBefore;
        if (z.avail_out == 0) {
            if (ProgressCount)
                *ProgressCount += z.avail_in;
            FlushBuffer(kZadTransferSize);
        }
        TStream32::Progress(this);
    }
}

void TCompressStream::doCompEnd()
{
    if (!m_ok)
        return;
    z_stream& z = m_z->z;
    for (;;) {
        const uLong inBefore = z.total_in, outBefore = z.total_out;
        const int r = deflate(&z, Z_FINISH);
        m_totalIn += z.total_in - inBefore;
        m_totalOut += z.total_out - outBefore;
        if (r == Z_STREAM_END || z.avail_out != 0 || (CancelRef && *CancelRef) || (r != Z_OK && r != Z_BUF_ERROR))
            break;
        FlushBuffer(kZadTransferSize);
    }
    FlushBuffer(kZadTransferSize - z.avail_out);
    deflateEnd(&z);
    m_ok = false;
}

std::int32_t TCompressStream::Seek32(std::int32_t offset, WORD origin)
{
    return (offset == 0 && origin == 1) ? static_cast<std::int32_t>(m_totalIn) : -1;
}

std::int64_t TCompressStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    return (offset == 0 && origin == soCurrent) ? static_cast<std::int64_t>(m_totalIn) : -1;
}

int TCompressStream::GetCompressionRate() const
{
    return CalcRatio(static_cast<std::int64_t>(m_totalIn), static_cast<std::int64_t>(m_totalOut));
}
