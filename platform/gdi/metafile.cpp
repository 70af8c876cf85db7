// Metafile objects and their playback into a DC's bitmap or any QPainter.
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
#include "gdi/mf_p.h"
#include "gdi/mfplayer.h"

#include "gdi/gdi_p.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t kEmfMinHeader = 88;
constexpr std::uint32_t EMR_HEADER = 1;
constexpr std::uint32_t EMR_EOF = 14;
constexpr std::size_t kWmfHeader = 18;
constexpr double kScreenPxPerMm = 96.0 / 25.4;
// The recording device a WMF is taken to come from: a 96-dpi screen.
constexpr LONG kRefWidthPx = 1024, kRefHeightPx = 768, kRefWidthMm = 271, kRefHeightMm = 203;

QPointF PixelsPerMm(const ENHMETAHEADER& h)
{
    if (h.szlMillimeters.cx > 0 && h.szlMillimeters.cy > 0 && h.szlDevice.cx > 0 && h.szlDevice.cy > 0)
        return QPointF(static_cast<double>(h.szlDevice.cx) / h.szlMillimeters.cx,
                       static_cast<double>(h.szlDevice.cy) / h.szlMillimeters.cy);
    return QPointF(kScreenPxPerMm, kScreenPxPerMm);
}

// The picture frame in recording pixels.
QRectF FramePixels(const GdiEnhMetaFile& mf)
{
    const ENHMETAHEADER& h = mf.header;
    const QPointF ppm = PixelsPerMm(h);
    const QRectF frame(QPointF(h.rclFrame.left * ppm.x() / 100.0, h.rclFrame.top * ppm.y() / 100.0),
                       QPointF(h.rclFrame.right * ppm.x() / 100.0, h.rclFrame.bottom * ppm.y() / 100.0));
    if (frame.width() > 0 && frame.height() > 0)
        return frame;
    // No frame: the bounds, whose right and bottom pixels belong to the picture.
    return QRectF(QPointF(h.rclBounds.left, h.rclBounds.top), QPointF(h.rclBounds.right + 1.0, h.rclBounds.bottom + 1.0));
}

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

// The first window extent a WMF sets, or an empty point.
QPointF FirstWindowExt(const std::vector<std::uint8_t>& b)
{
    std::size_t pos = kWmfHeader;
    while (b.size() > pos && b.size() - pos >= 6) {
        const MfRecord r(b.data() + pos, b.size() - pos);
        const std::uint64_t size = static_cast<std::uint64_t>(r.U32(0)) * 2;
        if (size < 6 || size > b.size() - pos || r.U16(4) == 0)
            break;
        if (r.U16(4) == 0x020C && size >= 10)
            return QPointF(r.I16(8), r.I16(6));
        pos += static_cast<std::size_t>(size);
    }
    return QPointF();
}

void Play(QPainter& painter, const GdiEnhMetaFile& mf, const QRectF& target, const QRect& bounds)
{
    const QRectF frame = FramePixels(mf);
    QTransform playback;
    playback.translate(target.left(), target.top());
    playback.scale(target.width() / frame.width(), target.height() / frame.height());
    playback.translate(-frame.left(), -frame.top());
    const bool wmf = mf.kind == MfKind::Wmf;
    MfCanvas canvas(painter, playback, bounds, PixelsPerMm(mf.header), wmf);
    if (wmf) {
        // The playback owns the viewport: the window spans the frame until
        // the metafile says otherwise.
        canvas.SetWindowExt(QPointF(frame.width(), frame.height()));
        canvas.SetViewportExt(QPointF(frame.width(), frame.height()));
        MfPlayWmf(mf, canvas);
    } else {
        MfPlayEmf(mf, canvas);
    }
}

}  // namespace

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
        const QPointF ext = FirstWindowExt(mf->bytes);
        if (ext.x() == 0 || ext.y() == 0) {
            delete mf;
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        widthMm = std::fabs(ext.x()) / kScreenPxPerMm;
        heightMm = std::fabs(ext.y()) / kScreenPxPerMm;
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
    const QPointF ppm = PixelsPerMm(h);
    h.rclBounds = RECT{0, 0, static_cast<LONG>(std::min(widthMm * ppm.x(), 2e9)) - 1,
                       static_cast<LONG>(std::min(heightMm * ppm.y(), 2e9)) - 1};
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

bool PlayMetafile(QPainter* painter, HENHMETAFILE mf, const QRectF& target)
{
    if (!painter || !mf || !(target.width() > 0) || !(target.height() > 0))
        return false;
    painter->save();
    Play(*painter, *mf, target, target.toAlignedRect());
    painter->restore();
    return true;
}

BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE mf, const RECT* rect)
{
    if (!hdc || !mf || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    GdiSurface& s = hdc->bitmap->surface;
    const std::vector<RECT> visible = hdc->VisibleRects();
    if (visible.empty() || rect->right == rect->left || rect->bottom == rect->top)
        return TRUE;
    const RECT box = RectsBox(visible);
    const QRect bounds(QPoint(box.left, box.top), QPoint(box.right - 1, box.bottom - 1));
    const QRectF target(QPointF(rect->left, rect->top), QPointF(rect->right, rect->bottom));

    // 32- and 24-bit surfaces are drawn in place, so that no second copy of
    // the bitmap is needed; a bottom-up one through a flip.
    const QImage::Format format = s.bpp == 32 ? QImage::Format_RGB32 : s.bpp == 24 ? QImage::Format_BGR888
                                                                                   : QImage::Format_Invalid;
    if (format != QImage::Format_Invalid) {
        QImage view(s.bits, s.width, s.height, static_cast<qsizetype>(s.stride), format);
        QPainter painter(&view);
        if (!s.topDown)
            painter.setTransform(QTransform(1, 0, 0, -1, 0, s.height));
        Play(painter, *mf, target, bounds);
        return TRUE;
    }
    // Palette surfaces: draw on a true-colour copy, then map its pixels back.
    QImage copy(s.width, s.height, QImage::Format_RGB32);
    if (copy.isNull()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    for (int y = 0; y < s.height; ++y)
        s.ReadSpan(0, y, s.width, reinterpret_cast<std::uint32_t*>(copy.scanLine(y)));
    {
        QPainter painter(&copy);
        Play(painter, *mf, target, bounds);
    }
    for (int y = 0; y < s.height; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(copy.scanLine(y));
        for (int x = 0; x < s.width; ++x)
            line[x] &= 0x00FFFFFF;
        s.WriteSpan(0, y, s.width, line);
    }
    return TRUE;
}
