#include "hexedit/zazstream.h"

#include <cstring>

void TZAZMemoryStream::CheckBounds(std::int64_t endPos)
{
    if (endPos < 0 || endPos > Size())
        throw EZURadUvudod(zaz_text::kOutOfBounds);
}

void TZAZMemoryStream::CheckRange(std::int64_t pos, std::int64_t count)
{
    if (pos < 0 || count < 0)
        throw EZURadUvudod(zaz_text::kOutOfBounds);
    CheckBounds(pos + count);
}

void TZAZMemoryStream::Move(std::int64_t fromPos, std::int64_t toPos, std::int64_t count)
{
    if (count > 0)
        std::memmove(Memory() + toPos, Memory() + fromPos, static_cast<size_t>(count));
}

void TZAZMemoryStream::ReadBufferAt(void* buffer, std::int64_t pos, std::int64_t count)
{
    CheckRange(pos, count);
    const std::int64_t saved = Position();
    try {
        Seek(pos, soBeginning);
        ReadBuffer(buffer, count);
    } catch (...) {
        Seek(saved, soBeginning);
        throw;
    }
    Seek(saved, soBeginning);
}

void TZAZMemoryStream::WriteBufferAt(const void* buffer, std::int64_t pos, std::int64_t count)
{
    CheckRange(pos, count);
    const std::int64_t saved = Position();
    try {
        Seek(pos, soBeginning);
        WriteBuffer(buffer, count);
    } catch (...) {
        Seek(saved, soBeginning);
        throw;
    }
    Seek(saved, soBeginning);
}

std::string TZAZMemoryStream::GetAsHex(std::int64_t pos, std::int64_t count, bool swapNibbles)
{
    CheckRange(pos, count);
    std::string out(static_cast<size_t>(2 * count + 1), '\0');
    ConvertBinToHex(Memory() + pos, out.data(), static_cast<std::int32_t>(count), swapNibbles);
    out.resize(static_cast<size_t>(2 * count));
    return out;
}

void TZAZMemoryStream::TranslateFromAnsi(TZAZTranslationKind kind, std::int64_t pos, std::int64_t count)
{
    if (kind == tkAsIs)
        return;
    CheckRange(pos, count);
    if (count > 0)
        TranslateBufferFromAnsi(kind, Memory() + pos, Memory() + pos, static_cast<std::int32_t>(count));
}

void TZAZMemoryStream::TranslateToAnsi(TZAZTranslationKind kind, std::int64_t pos, std::int64_t count)
{
    if (kind == tkAsIs)
        return;
    CheckRange(pos, count);
    if (count > 0)
        TranslateBufferToAnsi(kind, Memory() + pos, Memory() + pos, static_cast<std::int32_t>(count));
}

void TZAZChangeMarks::Set(std::int64_t pos, bool value)
{
    if (pos < 0)
        return;
    if (pos >= m_size) {
        if (!value)
            return;
        m_size = pos + 1;
        m_bits.resize(static_cast<size_t>((m_size + 63) >> 6), 0);
    }
    auto& word = m_bits[static_cast<size_t>(pos >> 6)];
    const std::uint64_t bit = std::uint64_t(1) << (pos & 63);
    word = value ? (word | bit) : (word & ~bit);
}

void TZAZChangeMarks::Cut(std::int64_t size)
{
    if (size < 0)
        size = 0;
    if (size >= m_size)
        return;
    m_size = size;
    m_bits.resize(static_cast<size_t>((m_size + 63) >> 6));
    if (m_size & 63)
        m_bits.back() &= (std::uint64_t(1) << (m_size & 63)) - 1;
}
