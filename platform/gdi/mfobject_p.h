// The metafile object and a bounded view of one record: what the metafile
// functions (metafile.cpp) and the player (mfplay.cpp and the record
// interpreters) share. Nothing here draws, so the object functions stand
// without the drawing toolkit.
#pragma once

#include "gdi/metafile.h"

#include <cstdint>
#include <cstring>
#include <vector>

enum class MfKind { Emf, Wmf };

struct GdiEnhMetaFile {
    MfKind kind = MfKind::Emf;
    std::vector<std::uint8_t> bytes;
    ENHMETAHEADER header{};  // the EMF's own, or one made for a WMF
    std::vector<PALETTEENTRY> palette;
};

// Little-endian fields of one record. Every read is checked against the
// record's size: a field beyond it reads as 0, and Has tells whether a
// range lies inside.
class MfRecord {
public:
    MfRecord(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t Size() const { return m_size; }
    bool Has(std::uint64_t offset, std::uint64_t length) const { return offset <= m_size && length <= m_size - offset; }
    const std::uint8_t* At(std::size_t offset) const { return m_data + offset; }
    std::uint8_t U8(std::size_t o) const { return Has(o, 1) ? m_data[o] : 0; }
    std::uint16_t U16(std::size_t o) const
    {
        return Has(o, 2) ? static_cast<std::uint16_t>(m_data[o] | (m_data[o + 1] << 8)) : 0;
    }
    std::int16_t I16(std::size_t o) const { return static_cast<std::int16_t>(U16(o)); }
    std::uint32_t U32(std::size_t o) const
    {
        return Has(o, 4) ? static_cast<std::uint32_t>(m_data[o]) | (static_cast<std::uint32_t>(m_data[o + 1]) << 8) |
                               (static_cast<std::uint32_t>(m_data[o + 2]) << 16) |
                               (static_cast<std::uint32_t>(m_data[o + 3]) << 24)
                         : 0;
    }
    std::int32_t I32(std::size_t o) const { return static_cast<std::int32_t>(U32(o)); }
    float F32(std::size_t o) const
    {
        const std::uint32_t u = U32(o);
        float f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// Recording-device pixels per millimetre, across and down.
struct MfPixelsPerMm {
    double x, y;
};
// The header's device size over its size in millimetres; a 96-dpi
// screen's when the header gives none.
MfPixelsPerMm MfDevicePixelsPerMm(const ENHMETAHEADER& h);

// Plays a metafile into a DC's bitmap: the player of mfplay.cpp, which
// PlayEnhMetaFile calls once it is installed (see gdi/mfplayer.h).
using MfDcPlayer = BOOL (*)(HDC hdc, HENHMETAFILE mf, const RECT* rect);
void MfSetDcPlayer(MfDcPlayer player);
