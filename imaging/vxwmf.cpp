// Metafile reader.
//
// Placeable metafile header (22 bytes, little-endian):
//
//    0  4  key        0x9AC6CDD7
//    4  2  handle     0 in files
//    6  8  bounding box left, top, right, bottom (signed, metafile units)
//   14  2  inch       metafile units per inch
//   16  4  reserved
//   20  2  checksum   exclusive or of the ten words at offsets 0 to 18
//
// The Windows metafile follows: an 18-byte header whose 32-bit word at
// offset 6 is the metafile's size in 16-bit words, then its records.
// Sizes here are computed in 64 bits: a box of 32767 units at one unit per
// inch is already more pixels than 32 bits hold once scaled.
#include "imaging/vxwmf.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kWmfHeaderSize = 18;
constexpr std::size_t WMF_mtSize = 6;
// The EMF header record's fields that say what the file is.
constexpr std::size_t EMR_iType = 0;
constexpr std::size_t EMR_nSize = 4;
constexpr std::size_t EMF_dSignature = 40;
constexpr std::size_t EMF_nBytes = 48;
constexpr std::size_t EMF_HeaderSize = 88;
constexpr std::int64_t kMaxSide = 4000;
// Picture extents are raised by tens until both reach this (the extents of
// an anisotropic picture only give its proportions).
constexpr std::int64_t kMinExtent = 6554;

WmfPlaceableHeader ParsePlaceable(const std::uint8_t* b)
{
    WmfPlaceableHeader h;
    h.key = VxGet32(b);
    h.handle = VxGet16(b + 4);
    h.left = static_cast<std::int16_t>(VxGet16(b + 6));
    h.top = static_cast<std::int16_t>(VxGet16(b + 8));
    h.right = static_cast<std::int16_t>(VxGet16(b + 10));
    h.bottom = static_cast<std::int16_t>(VxGet16(b + 12));
    h.inch = VxGet16(b + 14);
    h.reserved = VxGet32(b + 16);
    h.checksum = VxGet16(b + 20);
    return h;
}

// Owns the GDI objects of one decode and frees them on every path.
struct GdiObjects {
    HDC screen = nullptr;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    HENHMETAFILE metafile = nullptr;
    ~GdiObjects()
    {
        if (metafile)
            DeleteEnhMetaFile(metafile);
        if (dc)
            DeleteDC(dc);
        if (bitmap)
            DeleteObject(bitmap);
        if (palette)
            DeleteObject(palette);
        if (screen)
            ReleaseDC(nullptr, screen);
    }
};

}  // namespace

bool WmfIsPlaceable(const WmfPlaceableHeader& h)
{
    if (h.key != kPlaceableKey)
        return false;
    const std::uint16_t words[10] = {static_cast<std::uint16_t>(h.key & 0xFFFF),
                                     static_cast<std::uint16_t>(h.key >> 16),
                                     h.handle,
                                     static_cast<std::uint16_t>(h.left),
                                     static_cast<std::uint16_t>(h.top),
                                     static_cast<std::uint16_t>(h.right),
                                     static_cast<std::uint16_t>(h.bottom),
                                     h.inch,
                                     static_cast<std::uint16_t>(h.reserved & 0xFFFF),
                                     static_cast<std::uint16_t>(h.reserved >> 16)};
    std::uint16_t sum = 0;
    for (std::uint16_t w : words)
        sum ^= w;
    return sum == h.checksum && h.inch >= 1 && h.inch <= 2540;
}

HENHMETAFILE WmfLoadPlaceable(VxFile* stream, WmfPlaceableHeader& header)
{
    VxReader in(stream);
    const std::int64_t streamSize = stream->Size();
    const std::int32_t start = stream->Tell();
    std::uint8_t raw[kPlaceableSize];
    if (!in.Read(raw, sizeof raw))
        return nullptr;
    header = ParsePlaceable(raw);
    if (!WmfIsPlaceable(header))
        return nullptr;
    std::uint8_t wmf[kWmfHeaderSize];
    if (!in.Read(wmf, sizeof wmf))
        return nullptr;
    const std::uint16_t type = VxGet16(wmf);
    if (type != 1 && type != 2)
        return nullptr;
    const std::uint64_t n = static_cast<std::uint64_t>(VxGet32(wmf + WMF_mtSize)) * 2;
    if (n < kWmfHeaderSize || streamSize < 0 || n > static_cast<std::uint64_t>(streamSize))
        return nullptr;
    std::vector<std::uint8_t> data;
    data.resize(static_cast<std::size_t>(n));
    if (!stream->Seek(start + static_cast<std::int32_t>(kPlaceableSize), 0) || !in.Read(data.data(), data.size()))
        return nullptr;

    HDC screen = GetDC(nullptr);
    const std::int64_t dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    const std::int64_t dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    std::int64_t xExt = (static_cast<std::int64_t>(header.right) - header.left) * dpiX / header.inch;
    std::int64_t yExt = (static_cast<std::int64_t>(header.bottom) - header.top) * dpiY / header.inch;
    // A box of no size has no extent to scale up (the caller calls it
    // empty); the loop below ends only for positive extents.
    HENHMETAFILE mf = nullptr;
    if (xExt > 0 && yExt > 0 && xExt <= 0x7FFFFFFF && yExt <= 0x7FFFFFFF) {
        while (xExt < kMinExtent && yExt < kMinExtent) {  // at most four rounds
            xExt *= 10;
            yExt *= 10;
        }
        METAFILEPICT picture{MM_ANISOTROPIC, static_cast<LONG>(xExt), static_cast<LONG>(yExt), nullptr};
        mf = SetWinMetaFileBits(static_cast<UINT>(n), data.data(), screen, &picture);
        if (!mf) {
            picture.mm = MM_TEXT;
            mf = SetWinMetaFileBits(static_cast<UINT>(n), data.data(), screen, &picture);
        }
    }
    ReleaseDC(nullptr, screen);
    return mf;
}

HENHMETAFILE EmfLoad(VxFile* stream, ENHMETAHEADER& header)
{
    // The header record is read and checked first: its type, signature and
    // the metafile's size, which the rest of the stream must hold. Only
    // then is that much read (format detection offers this reader files
    // of any kind and size).
    VxReader in(stream);
    const std::int32_t pos = stream->Tell();
    std::uint8_t head[EMF_HeaderSize];
    if (pos < 0 || !in.Read(head, sizeof head))
        return nullptr;
    const std::uint32_t type = VxGet32(head + EMR_iType);
    const std::uint32_t headerSize = VxGet32(head + EMR_nSize);
    const std::uint32_t total = VxGet32(head + EMF_nBytes);
    const std::int64_t size = stream->Size();
    if (type != 1 || VxGet32(head + EMF_dSignature) != ENHMETA_SIGNATURE || headerSize < sizeof head ||
        total < headerSize || size < 0 || total > static_cast<std::uint64_t>(size - pos))
        return nullptr;
    std::vector<std::uint8_t> data(total);
    std::memcpy(data.data(), head, sizeof head);
    if (!in.Read(data.data() + sizeof head, total - sizeof head))
        return nullptr;
    HENHMETAFILE mf = SetEnhMetaFileBits(static_cast<UINT>(data.size()), data.data());
    if (mf && GetEnhMetaFileHeader(mf, sizeof header, &header) == 0) {
        DeleteEnhMetaFile(mf);
        return nullptr;
    }
    return mf;
}

void WmfShrinkSize(std::int64_t& width, std::int64_t& height)
{
    if (width > kMaxSide) {
        height = height * kMaxSide / width;
        width = kMaxSide;
    }
    if (height > kMaxSide) {
        width = width * kMaxSide / height;
        height = kMaxSide;
    }
}

bool VxImageWMF::Decode(VxFile* stream, std::int64_t forcedWidth, std::int64_t forcedHeight)
{
    if (!stream)
        return false;
    const std::int32_t start = stream->Tell();
    GdiObjects gdi;
    std::int64_t w = 0, h = 0;
    WmfPlaceableHeader placeable{};
    gdi.metafile = WmfLoadPlaceable(stream, placeable);
    const bool isPlaceable = WmfIsPlaceable(placeable);
    if (isPlaceable) {
        HDC screen = GetDC(nullptr);
        w = (static_cast<std::int64_t>(placeable.right) - placeable.left) * GetDeviceCaps(screen, LOGPIXELSX) /
            placeable.inch;
        h = (static_cast<std::int64_t>(placeable.bottom) - placeable.top) * GetDeviceCaps(screen, LOGPIXELSY) /
            placeable.inch;
        ReleaseDC(nullptr, screen);
    }
    if (!gdi.metafile) {
        // A placeable header whose box comes to no pixels is an empty
        // picture, not a reason to try the data as an EMF.
        if (isPlaceable && (w <= 0 || h <= 0)) {
            SetError("empty WMF");
            return false;
        }
        stream->Seek(start, 0);
        ENHMETAHEADER header{};
        gdi.metafile = EmfLoad(stream, header);
        if (!gdi.metafile) {
            SetError("corrupted WMF");
            return false;
        }
        w = static_cast<std::int64_t>(header.rclBounds.right) - header.rclBounds.left;
        h = static_cast<std::int64_t>(header.rclBounds.bottom) - header.rclBounds.top;
    }
    if (m_info.stopRequest != 0) {
        SetError("Cancelled");
        return false;
    }
    // A negative size is as empty as a zero one.
    if (w <= 0 || h <= 0) {
        SetError("empty WMF");
        return false;
    }
    if (forcedWidth > 0)
        w = forcedWidth;
    if (forcedHeight > 0)
        h = forcedHeight;
    WmfShrinkSize(w, h);
    if (w <= 0 || h <= 0) {
        SetError("empty WMF");
        return false;
    }

    gdi.screen = GetDC(nullptr);
    gdi.bitmap = CreateCompatibleBitmap(gdi.screen, static_cast<int>(w), static_cast<int>(h));
    gdi.dc = CreateCompatibleDC(gdi.screen);
    if (!gdi.bitmap || !gdi.dc)
        return false;
    const int bpp = GetDeviceCaps(gdi.screen, BITSPIXEL);
    HGDIOBJ old = SelectObject(gdi.dc, gdi.bitmap);
    const RECT rect{0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
    const COLORREF oldBk = SetBkColor(gdi.dc, GetSysColor(COLOR_WINDOW));
    ExtTextOutA(gdi.dc, 0, 0, ETO_OPAQUE, &rect, "", 0, nullptr);
    SetBkColor(gdi.dc, oldBk);

    const UINT entries = GetEnhMetaFilePaletteEntries(gdi.metafile, 0, nullptr);
    if (entries > 0) {
        auto* pal = static_cast<LOGPALETTE*>(
            std::calloc(1, sizeof(LOGPALETTE) + static_cast<std::size_t>(entries) * sizeof(PALETTEENTRY)));
        if (!pal) {
            SelectObject(gdi.dc, old);
            SetError("Cancelled");
            return false;
        }
        pal->palVersion = 0x300;
        pal->palNumEntries = static_cast<WORD>(std::min<UINT>(entries, 0xFFFF));
        GetEnhMetaFilePaletteEntries(gdi.metafile, pal->palNumEntries, pal->palPalEntry);
        gdi.palette = CreatePalette(pal);
        std::free(pal);
        SelectPalette(gdi.dc, gdi.palette, FALSE);
        RealizePalette(gdi.dc);
    }

    const BOOL played = PlayEnhMetaFile(gdi.dc, gdi.metafile, &rect);
    SelectObject(gdi.dc, old);
    if (!played) {
        // A program without the metafile player (one that only decodes
        // raster pictures) has nothing to draw with.
        SetError(::GetLastError() == ERROR_NOT_SUPPORTED ? "No metafile player in this program" : "corrupted WMF");
        return false;
    }
    DeleteEnhMetaFile(gdi.metafile);
    gdi.metafile = nullptr;

    if (m_info.stopRequest != 0) {
        SetError("Cancelled");
        return false;
    }
    if (!Create(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(bpp),
                VXFMT_WMF))
        return false;
    BITMAPINFO* info = reinterpret_cast<BITMAPINFO*>(m_block);
    return GetDIBits(gdi.dc, gdi.bitmap, 0, static_cast<UINT>(h), GetRowBits(0), info, DIB_RGB_COLORS) > 0;
}

bool VxImageWMF::Encode(VxFile* stream)
{
    if (stream)
        SetError("Save WMF not supported");
    return false;
}
