// Metafile objects: made from EMF and WMF bytes, their headers, palettes
// and bytes. Playing them is the player's (mfplay.cpp), installed by the
// drawing part of the layer.
//
// EMF header (the first record, 88 bytes and up; offsets from its start):
//
//    0  iType         1
//    4  nSize         bytes of the header record
//    8  rclBounds     16, recording device pixels, inclusive
//   24  rclFrame      16, 0.01 mm
//   40  dSignature    " EMF"
//   44  nVersion, nBytes, nRecords, nHandles and sReserved, nDescription,
//       offDescription
//   68  nPalEntries
//   72  szlDevice     recording device pixels
//   80  szlMillimeters
//
// Windows metafile header (18 bytes): type (1 memory, 2 disk), header size
// in words (9), version, size in words (32 bits), object count, largest
// record, parameter count.
#include "gdi/mfobject_p.h"

#include "win/wintypes.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr std::size_t kEmfMinHeader = 88;
constexpr std::uint32_t EMR_HEADER = 1;
constexpr std::uint32_t EMR_EOF = 14;
constexpr std::size_t kWmfHeader = 18;
constexpr double kScreenPxPerMm = 96.0 / 25.4;
// The recording device a WMF is taken to come from: a 96-dpi screen.
constexpr LONG kRefWidthPx = 1024, kRefHeightPx = 768, kRefWidthMm = 271, kRefHeightMm = 203;

MfDcPlayer g_dcPlayer = nullptr;

// The EMF's palette, from its EMR_EOF record: count, offset, entries.
std::vector<PALETTEENTRY> EmfPalette(const std::vector<std::uint8_t>& b)
{
    std::size_t pos = 0;
    while (b.size() - pos >= 8) {
        const MfRecord r(b.data() + pos, b.size() - pos);
        const std::uint32_t size = r.U32(4);
        if (size < 8 || size % 4 != 0 || size > b.size() - pos)
            break;
        if (r.U32(0) == EMR_EOF) {
            const MfRecord eof(b.data() + pos, size);
            const std::uint32_t count = eof.U32(8), offset = eof.U32(12);
            if (count == 0 || !eof.Has(offset, static_cast<std::uint64_t>(count) * 4))
                break;
            std::vector<PALETTEENTRY> entries(count);
            std::memcpy(entries.data(), eof.At(offset), static_cast<std::size_t>(count) * 4);
            return entries;
        }
        pos += size;
    }
    return {};
}

// The first window extent a WMF sets (across, down), or (0, 0).
std::pair<int, int> FirstWindowExt(const std::vector<std::uint8_t>& b)
{
    std::size_t pos = kWmfHeader;
    while (b.size() > pos && b.size() - pos >= 6) {
        const MfRecord r(b.data() + pos, b.size() - pos);
        const std::uint64_t size = static_cast<std::uint64_t>(r.U32(0)) * 2;
        if (size < 6 || size > b.size() - pos || r.U16(4) == 0)
            break;
        if (r.U16(4) == 0x020C && size >= 10)
            return {r.I16(8), r.I16(6)};
        pos += static_cast<std::size_t>(size);
    }
    return {0, 0};
}

}  // namespace

MfPixelsPerMm MfDevicePixelsPerMm(const ENHMETAHEADER& h)
{
    if (h.szlMillimeters.cx > 0 && h.szlMillimeters.cy > 0 && h.szlDevice.cx > 0 && h.szlDevice.cy > 0)
        return {static_cast<double>(h.szlDevice.cx) / h.szlMillimeters.cx,
                static_cast<double>(h.szlDevice.cy) / h.szlMillimeters.cy};
    return {kScreenPxPerMm, kScreenPxPerMm};
}

void MfSetDcPlayer(MfDcPlayer player) { g_dcPlayer = player; }

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data)
{
    if (!data || size < kEmfMinHeader) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const MfRecord r(data, size);
    const std::uint32_t headerSize = r.U32(4);
    const std::uint32_t total = r.U32(48);  // nBytes: the whole metafile
    // A metafile cut short of the size its header gives is refused whole.
    if (r.U32(0) != EMR_HEADER || headerSize < kEmfMinHeader || headerSize > size || headerSize % 4 != 0 ||
        r.U32(40) != ENHMETA_SIGNATURE || total < headerSize || total > size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* mf = new GdiEnhMetaFile;
    mf->kind = MfKind::Emf;
    mf->bytes.assign(data, data + total);
    std::memcpy(&mf->header, data, std::min<std::size_t>(headerSize, sizeof(ENHMETAHEADER)));
    mf->header.nSize = std::min<DWORD>(headerSize, sizeof(ENHMETAHEADER));
    mf->palette = EmfPalette(mf->bytes);
    mf->header.nPalEntries = static_cast<DWORD>(mf->palette.size());
    return mf;
}

HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC, const METAFILEPICT* picture)
{
    if (!data || !picture || size < kWmfHeader) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const MfRecord r(data, size);
    if ((r.U16(0) != 1 && r.U16(0) != 2) || r.U16(2) != kWmfHeader / 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* mf = new GdiEnhMetaFile;
    mf->kind = MfKind::Wmf;
    mf->bytes.assign(data, data + size);
    // The frame: the picture's extents in 0.01 mm when it scales, else the
    // metafile's own window in pixels.
    double widthMm, heightMm;
    if ((picture->mm == MM_ANISOTROPIC || picture->mm == MM_ISOTROPIC) && picture->xExt > 0 && picture->yExt > 0) {
        widthMm = picture->xExt / 100.0;
        heightMm = picture->yExt / 100.0;
    } else {
        const auto [extX, extY] = FirstWindowExt(mf->bytes);
        if (extX == 0 || extY == 0) {
            delete mf;
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        widthMm = std::abs(extX) / kScreenPxPerMm;
        heightMm = std::abs(extY) / kScreenPxPerMm;
    }
    ENHMETAHEADER& h = mf->header;
    h.iType = EMR_HEADER;
    h.nSize = sizeof(ENHMETAHEADER);
    h.dSignature = ENHMETA_SIGNATURE;
    h.nVersion = 0x10000;
    h.nBytes = size;
    h.szlDevice = SIZEL{kRefWidthPx, kRefHeightPx};
    h.szlMillimeters = SIZEL{kRefWidthMm, kRefHeightMm};
    h.rclFrame = RECT{0, 0, static_cast<LONG>(std::lround(std::min(widthMm * 100, 2e9))),
                      static_cast<LONG>(std::lround(std::min(heightMm * 100, 2e9)))};
    const MfPixelsPerMm ppm = MfDevicePixelsPerMm(h);
    h.rclBounds = RECT{0, 0, static_cast<LONG>(std::min(widthMm * ppm.x, 2e9)) - 1,
                       static_cast<LONG>(std::min(heightMm * ppm.y, 2e9)) - 1};
    return mf;
}

UINT GetEnhMetaFileHeader(HENHMETAFILE mf, UINT size, ENHMETAHEADER* header)
{
    if (!mf)
        return 0;
    const UINT own = mf->header.nSize;
    if (!header)
        return own;
    const UINT n = std::min(size, own);
    std::memset(header, 0, std::min<std::size_t>(size, sizeof(ENHMETAHEADER)));
    std::memcpy(header, &mf->header, n);
    return n;
}

UINT GetEnhMetaFilePaletteEntries(HENHMETAFILE mf, UINT count, PALETTEENTRY* entries)
{
    if (!mf)
        return 0;
    if (!entries)
        return static_cast<UINT>(mf->palette.size());
    const UINT n = std::min<UINT>(count, static_cast<UINT>(mf->palette.size()));
    std::copy(mf->palette.begin(), mf->palette.begin() + n, entries);
    return n;
}

BOOL DeleteEnhMetaFile(HENHMETAFILE mf)
{
    if (!mf)
        return FALSE;
    delete mf;
    return TRUE;
}

namespace {

// The Get...Bits answer: with null data the number of bytes, else the
// number copied, 0 when they do not fit.
UINT CopyBits(const std::vector<std::uint8_t>& bytes, UINT size, void* data)
{
    const auto n = static_cast<UINT>(bytes.size());
    if (!data)
        return n;
    if (size < n)
        return 0;
    std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(data));
    return n;
}

} // namespace

UINT GetEnhMetaFileBits(HENHMETAFILE mf, UINT size, BYTE* data)
{
    return mf && mf->kind == MfKind::Emf ? CopyBits(mf->bytes, size, data) : 0;
}

HENHMETAFILE CopyEnhMetaFileA(HENHMETAFILE mf, const char* fileName)
{
    if (!mf || fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return new GdiEnhMetaFile(*mf);
}

struct GdiMetaFile {
    std::vector<std::uint8_t> bytes;
};

HMETAFILE SetMetaFileBitsEx(UINT size, const BYTE* data)
{
    if (!data || size < kWmfHeader) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return new GdiMetaFile{std::vector<std::uint8_t>(data, data + size)};
}

UINT GetMetaFileBitsEx(HMETAFILE mf, UINT size, void* data) { return mf ? CopyBits(mf->bytes, size, data) : 0; }

BOOL DeleteMetaFile(HMETAFILE mf)
{
    if (!mf)
        return FALSE;
    delete mf;
    return TRUE;
}

BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE mf, const RECT* rect)
{
    // The player draws through the toolkit's painter; a program that does
    // not link it has no player, and says so.
    if (!g_dcPlayer) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return g_dcPlayer(hdc, mf, rect);
}
