// The hex editor's byte store: one contiguous block with bounds-checked
// block operations, and the change marks kept beside it.
#pragma once

#include "hexedit/zazconv.h"
#include "rtl/streams.h"

#include <cstdint>
#include <string>
#include <vector>

class TZAZMemoryStream : public TMemoryStream {
public:
    // Raises EZURadUvudod "Data position/length out of data bounds" when
    // endPos lies beyond the data. A negative end is refused as well: it can
    // only come from a negative count or an overflowed sum.
    void CheckBounds(std::int64_t endPos);
    // Also refuses a negative position or count.
    void CheckRange(std::int64_t pos, std::int64_t count);

    std::uint8_t* PointerAt(std::int64_t pos) { return Memory() + pos; }
    // Copies count bytes inside the block; overlapping ranges are fine.
    void Move(std::int64_t fromPos, std::int64_t toPos, std::int64_t count);
    void ReadBufferAt(void* buffer, std::int64_t pos, std::int64_t count);
    void WriteBufferAt(const void* buffer, std::int64_t pos, std::int64_t count);
    std::string GetAsHex(std::int64_t pos, std::int64_t count, bool swapNibbles);
    void TranslateFromAnsi(TZAZTranslationKind kind, std::int64_t pos, std::int64_t count);
    void TranslateToAnsi(TZAZTranslationKind kind, std::int64_t pos, std::int64_t count);
};

// One bit per byte position: which bytes were changed in overwrite mode.
class TZAZChangeMarks {
public:
    bool Get(std::int64_t pos) const
    {
        return pos >= 0 && pos < Size() && (m_bits[static_cast<size_t>(pos >> 6)] >> (pos & 63) & 1);
    }
    // Writes the bit; growing the array when a set bit lies past its end.
    void Set(std::int64_t pos, bool value);
    std::int64_t Size() const { return m_size; }
    // Cuts the array down to size bits (never grows it).
    void Cut(std::int64_t size);
    void Clear() { m_bits.clear(); m_size = 0; }

private:
    std::vector<std::uint64_t> m_bits;
    std::int64_t m_size = 0;
};
