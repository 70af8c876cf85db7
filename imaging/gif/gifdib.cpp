#include "imaging/gif/gifdib.h"

#include "imaging/gif/gifframe.h"
#include "win/memadvise.h"
#include "win/memlimit.h"

#include <limits>

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
