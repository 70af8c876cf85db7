#include "imaging/vxfile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
constexpr std::int64_t kMaxStream = std::numeric_limits<std::int32_t>::max();
}

// ---- VxIOFile ----

VxIOFile::VxIOFile(std::FILE* stream) : m_stream(stream), m_close(stream == nullptr) {}

VxIOFile::~VxIOFile() { VxIOFile::Close(); }

bool VxIOFile::Close()
{
    if (m_stream && m_close) {
        const bool ok = std::fclose(m_stream) == 0;
        m_stream = nullptr;
        return ok;
    }
    return true;
}

std::size_t VxIOFile::Read(void* buffer, std::size_t size, std::size_t count)
{
    return m_stream && buffer ? std::fread(buffer, size, count, m_stream) : 0;
}

std::size_t VxIOFile::Write(const void* buffer, std::size_t size, std::size_t count)
{
    return m_stream && buffer ? std::fwrite(buffer, size, count, m_stream) : 0;
}

bool VxIOFile::Seek(std::int32_t offset, std::int32_t origin)
{
    return m_stream && std::fseek(m_stream, offset, origin) == 0;
}

std::int32_t VxIOFile::Tell()
{
    if (!m_stream)
        return 0;
    const long pos = std::ftell(m_stream);
    return pos > kMaxStream ? -1 : static_cast<std::int32_t>(pos);
}

std::int32_t VxIOFile::Size()
{
    if (!m_stream)
        return -1;
    const long pos = std::ftell(m_stream);
    if (pos < 0 || std::fseek(m_stream, 0, SEEK_END) != 0)
        return -1;
    const long size = std::ftell(m_stream);
    std::fseek(m_stream, pos, SEEK_SET);
    return size < 0 || size > kMaxStream ? -1 : static_cast<std::int32_t>(size);
}

bool VxIOFile::Flush() { return m_stream && std::fflush(m_stream) == 0; }

bool VxIOFile::Eof() { return !m_stream || std::feof(m_stream) != 0; }

std::int32_t VxIOFile::Error() { return m_stream ? std::ferror(m_stream) : -1; }

bool VxIOFile::PutC(std::uint8_t byte) { return m_stream && std::fputc(byte, m_stream) == byte; }

std::int32_t VxIOFile::GetC()
{
    if (!m_stream)
        return -1;
    const int c = std::fgetc(m_stream);
    return c == EOF ? -1 : c;
}

// ---- VxMemFile ----

VxMemFile::VxMemFile(std::uint8_t* buffer, std::int32_t size)
    : m_buffer(buffer),
      m_size(buffer ? std::max(size, 0) : 0),
      m_freeOnClose(buffer == nullptr),
      m_position(0),
      m_capacity(buffer ? std::max(size, 0) : 0),
      m_foreign(buffer != nullptr)
{
}

VxMemFile::~VxMemFile() { VxMemFile::Close(); }

bool VxMemFile::Open()
{
    if (m_buffer)
        return false;
    m_size = 0;
    m_position = 0;
    m_capacity = 0;
    m_buffer = static_cast<std::uint8_t*>(std::malloc(1));
    m_freeOnClose = true;
    m_foreign = false;
    return m_buffer != nullptr;
}

std::uint8_t* VxMemFile::GetBuffer(bool detach)
{
    m_freeOnClose = !detach;
    return m_buffer;
}

bool VxMemFile::Close()
{
    if (m_buffer && m_freeOnClose && !m_foreign) {
        std::free(m_buffer);
        m_buffer = nullptr;
        m_size = 0;
    }
    return true;
}

std::size_t VxMemFile::Read(void* buffer, std::size_t size, std::size_t count)
{
    std::size_t n = 0;
    if (!buffer || !m_buffer || m_position >= m_size || __builtin_mul_overflow(size, count, &n) || n == 0)
        return 0;
    n = std::min<std::size_t>(n, static_cast<std::size_t>(m_size - m_position));
    std::memcpy(buffer, m_buffer + m_position, n);
    m_position += static_cast<std::int32_t>(n);
    return n / size;
}

// Makes room for the bytes up to end, and zeroes the gap a seek past the end left.
bool VxMemFile::Reserve(std::uint64_t end)
{
    if (end > static_cast<std::uint64_t>(kMaxStream) || !Grow(end))
        return false;
    if (m_position > m_size)
        std::memset(m_buffer + m_size, 0, static_cast<std::size_t>(m_position - m_size));
    return true;
}

std::size_t VxMemFile::Write(const void* buffer, std::size_t size, std::size_t count)
{
    std::size_t n = 0;
    if (!m_buffer || !buffer || __builtin_mul_overflow(size, count, &n) || n == 0)
        return 0;
    if (!Reserve(static_cast<std::uint64_t>(m_position) + n))
        return 0;
    std::memcpy(m_buffer + m_position, buffer, n);
    m_position += static_cast<std::int32_t>(n);
    m_size = std::max(m_size, m_position);
    return count;
}

bool VxMemFile::Seek(std::int32_t offset, std::int32_t origin)
{
    if (!m_buffer)
        return false;
    std::int64_t pos;
    switch (origin) {
    case 0: pos = offset; break;
    case 1: pos = static_cast<std::int64_t>(m_position) + offset; break;
    case 2: pos = static_cast<std::int64_t>(m_size) + offset; break;
    default: return false;
    }
    if (pos > kMaxStream)
        return false;
    m_position = static_cast<std::int32_t>(std::max<std::int64_t>(pos, 0));
    return true;
}

std::int32_t VxMemFile::Tell() { return m_buffer ? m_position : -1; }

std::int32_t VxMemFile::Size() { return m_buffer ? m_size : -1; }

bool VxMemFile::Flush() { return m_buffer != nullptr; }

bool VxMemFile::Eof() { return !m_buffer || m_position >= m_size; }

std::int32_t VxMemFile::Error()
{
    if (!m_buffer)
        return -1;
    return m_position > m_size ? 1 : 0;
}

bool VxMemFile::PutC(std::uint8_t byte)
{
    if (!m_buffer || !Reserve(static_cast<std::uint64_t>(m_position) + 1))
        return false;
    m_buffer[m_position++] = byte;
    m_size = std::max(m_size, m_position);
    return true;
}

std::int32_t VxMemFile::GetC()
{
    if (Eof())
        return -1;
    return m_buffer[m_position++];
}

bool VxMemFile::Grow(std::uint64_t needed)
{
    if (needed <= static_cast<std::uint64_t>(m_capacity))
        return true;
    const std::uint64_t capacity = std::min<std::uint64_t>(((needed >> 12) + 1) << 12, kMaxStream);
    std::uint8_t* grown;
    if (m_foreign) {
        // The caller's buffer is never resized or freed: copy it instead.
        grown = static_cast<std::uint8_t*>(std::malloc(capacity));
        if (grown && m_buffer)
            std::memcpy(grown, m_buffer, static_cast<std::size_t>(m_size));
    } else {
        grown = static_cast<std::uint8_t*>(std::realloc(m_buffer, capacity));
    }
    if (!grown)
        return false;  // the old buffer stays valid and nothing is written
    m_buffer = grown;
    m_foreign = false;
    m_freeOnClose = true;
    m_capacity = static_cast<std::int32_t>(capacity);
    return true;
}
