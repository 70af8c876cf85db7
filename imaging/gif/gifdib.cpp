#include "imaging/gif/gifdib.h"

#include "imaging/gif/gifframe.h"
#include "win/memadvise.h"
#include "win/memlimit.h"
#include "win/wintypes.h"

#include <limits>
#include <string>

std::uint64_t RowBytes(std::uint64_t width, int bitsPerPixel, int alignment)
{
    // Sizes are 64-bit: a 65,535-pixel-square frame is past 32 bits.
    const std::uint64_t a = static_cast<std::uint64_t>(alignment);
    if (bitsPerPixel <= 0 || alignment <= 0 || width > (std::numeric_limits<std::uint64_t>::max() - a) / 64)
        GIFError(gifmsg::BadDimension);
    return ((width * static_cast<std::uint64_t>(bitsPerPixel) + a - 1) / a * a) / 8;
}

TPixelFormat GetBitmapPixelFormat(const TBitmap& bitmap) { return bitmap.PixelFormat(); }

void SetBitmapPixelFormat(TBitmap& bitmap, TPixelFormat format) { bitmap.SetPixelFormat(format); }

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat format) : m_bitmap(bitmap)
{
    SetBitmapPixelFormat(bitmap, format);
}

TDIBWriter::TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, HPALETTE palette)
    : m_bitmap(bitmap), m_bitCount(format == pf8bit ? 8 : 24), m_width(width), m_height(height), m_palette(palette)
{
    if (format != pf8bit && format != pf24bit)
        GIFError(gifmsg::InvalidPixelFormat);
    if (width <= 0 || height <= 0)
        GIFError(gifmsg::BadDimension);
}

TDIBWriter::~TDIBWriter()
{
    if (m_section)
        DeleteObject(m_section);
}

void TDIBWriter::EnsureDIB()
{
    if (m_section)
        return;
    m_rowBytes = RowBytes(static_cast<std::uint64_t>(m_width), m_bitCount, 32);
    const std::uint64_t pixelBytes = m_rowBytes * static_cast<std::uint64_t>(m_height);
    // A picture the bitmap could not take is refused before it is built.
    if (!PictureFitsInMemory(pixelBytes))
        throw EOutOfMemory(gifmsg::OutOfMemDIB);
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info {};
    BITMAPINFOHEADER& h = info.header;
    h.biSize = sizeof h;
    h.biWidth = m_width;
    h.biHeight = -m_height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(m_bitCount);
    h.biCompression = BI_RGB;
    if (m_bitCount == 8) {
        // The palette's entries, the rest of the 256 black.
        PALETTEENTRY entries[256];
        const UINT n = m_palette ? GetPaletteEntries(m_palette, 0, 256, entries) : 0;
        for (UINT i = 0; i < n; ++i)
            info.colors[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
        h.biClrUsed = 256;
        h.biClrImportant = n;
    }
    void* bits = nullptr;
    m_section = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!m_section)
        throw EOutOfMemory(gifmsg::OutOfMemDIB);
    m_bits = static_cast<std::uint8_t*>(bits);
    // Every row is written: its pages are faulted in at once.
    PopulatePages(m_bits, static_cast<std::size_t>(pixelBytes));
}

std::uint8_t* TDIBWriter::GetScanline(int row)
{
    EnsureDIB();
    if (row < 0 || row >= m_height)
        throw EInvalidGraphicOperation("Scan line index out of range");
    return m_bits + static_cast<std::uint64_t>(row) * m_rowBytes;
}

void TDIBWriter::Store()
{
    if (!m_section)
        return;
    m_bitmap.TakeHandle(m_section, m_bitCount == 8 ? pf8bit : pf24bit);
    m_section = nullptr;
    m_bits = nullptr;
}

void RaiseGdiFailure()
{
    const DWORD code = GetLastError();
    std::string text = code != 0 ? SysErrorMessage(code) : std::string();
    if (text.size() > 256)
        text.resize(256);
    throw EOutOfResources(text.empty() ? "Out of system resources" : text);
}

namespace {

// The 40-byte header of a bitmap's copy in the format: the handle's own
// size, no compression, rows padded to 32 bits.
BITMAPINFOHEADER DIBHeaderOf(HBITMAP bitmap, TPixelFormat format)
{
    BITMAP bm {};
    if (!bitmap || GetObject(bitmap, sizeof bm, &bm) == 0)
        GIFError(gifmsg::InvalidBitmap);
    BITMAPINFOHEADER h {};
    h.biSize = sizeof h;
    h.biWidth = bm.bmWidth;
    h.biHeight = bm.bmHeight;
    switch (format) {
    case pf1bit: h.biBitCount = 1; break;
    case pf4bit: h.biBitCount = 4; break;
    case pf8bit: h.biBitCount = 8; break;
    case pf24bit: h.biBitCount = 24; break;
    default: GIFError(gifmsg::InvalidPixelFormat);
    }
    h.biPlanes = 1;
    h.biCompression = BI_RGB;
    const std::uint64_t rows = static_cast<std::uint64_t>(h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight);
    const std::uint64_t image = RowBytes(static_cast<std::uint64_t>(h.biWidth), h.biBitCount, 32) * rows;
    if (image > 0x7FFFFFFF)
        GIFError(gifmsg::BadDimension);
    h.biSizeImage = static_cast<DWORD>(image);
    return h;
}

}  // namespace

void InternalGetDIBSizes(HBITMAP bitmap, int& headerSize, int& imageSize, TPixelFormat format)
{
    const BITMAPINFOHEADER h = DIBHeaderOf(bitmap, format);
    headerSize = static_cast<int>(sizeof h) + (h.biBitCount <= 8 ? 4 * (1 << h.biBitCount) : 0);
    imageSize = static_cast<int>(h.biSizeImage);
}

bool InternalGetDIB(HBITMAP bitmap, HPALETTE palette, void* bitmapInfo, void* bits, TPixelFormat format)
{
    auto* info = static_cast<BITMAPINFO*>(bitmapInfo);
    info->bmiHeader = DIBHeaderOf(bitmap, format);
    HDC dc = CheckGdiResult(CreateCompatibleDC(nullptr));
    HPALETTE old = palette ? SelectPalette(dc, palette, FALSE) : nullptr;
    if (palette)
        RealizePalette(dc);
    const LONG rows = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
    const bool ok = GetDIBits(dc, bitmap, 0, static_cast<UINT>(rows), bits, info, DIB_RGB_COLORS) != 0;
    if (old)
        SelectPalette(dc, old, FALSE);
    DeleteDC(dc);
    return ok;
}
