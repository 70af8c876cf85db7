// The image object: pixel block, attributes, palette, pixel and alpha access.
#include "imaging/vximage.h"

#include "gdi/dibbitfield.h"
#include "win/memadvise.h"
#include "win/memlimit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t kHeaderSize = 40;

std::uint32_t NormaliseBpp(std::uint32_t bpp)
{
    if (bpp <= 1)
        return 1;
    if (bpp <= 4)
        return 4;
    if (bpp <= 8)
        return 8;
    return 24;
}

int Grey(const RGBQUAD& c) { return (c.rgbBlue * 117 + c.rgbGreen * 601 + c.rgbRed * 306) >> 10; }

bool SameColor(const RGBQUAD& a, const RGBQUAD& b)
{
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed &&
           a.rgbReserved == b.rgbReserved;
}

}  // namespace

VxImage::VxImage(std::uint32_t formatId) { InitDefaults(formatId); }

VxImage::VxImage(std::uint32_t width, std::uint32_t height, std::uint32_t bpp, std::uint32_t formatId)
{
    InitDefaults(formatId);
    Create(width, height, bpp, formatId);
}

VxImage::VxImage(const VxImage& source, bool copyPixels, bool copySelection, bool copyAlpha)
{
    InitDefaults(source.m_info.formatId);
    Copy(source, copyPixels, copySelection, copyAlpha);
}

VxImage::~VxImage() { Destroy(); }

void VxImage::InitDefaults(std::uint32_t formatId)
{
    m_block = nullptr;
    m_selection = nullptr;
    m_alpha = nullptr;
    std::memset(&m_header, 0, sizeof m_header);
    std::memset(&m_info, 0, sizeof m_info);
    m_info.formatId = formatId;
    m_info.jpegQuality = 90;
    m_info.alphaMax = 255;
    m_info.transparentIndex = -1;
    m_info.enabled = true;
    SetXDPI(96);
    SetYDPI(96);
}

void VxImage::SetError(const char* text)
{
    if (!text)
        text = "";
    std::strncpy(m_info.lastError, text, sizeof m_info.lastError - 1);
    m_info.lastError[sizeof m_info.lastError - 1] = '\0';
}

void VxImage::MarkDamaged()
{
    m_info.damaged = true;
    SetError(VXIMAGE_DAMAGED_TEXT);
}

bool VxImage::Destroy()
{
    if (IsBorrower())
        return false;
    std::free(m_selection);
    std::free(m_alpha);
    std::free(m_block);
    m_selection = nullptr;
    m_alpha = nullptr;
    m_block = nullptr;
    return true;
}

void* VxImage::Create(std::uint32_t width, std::uint32_t height, std::uint32_t bpp, std::uint32_t formatId)
{
    if (!Destroy())
        return nullptr;
    m_info.firstRow = nullptr;
    if (width == 0 || height == 0) {
        SetError("VxImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    bpp = NormaliseBpp(bpp);

    // The block (header, palette and the padded rows) must fit the 32-bit
    // sizes of its header and what the machine can give. Sizes are worked
    // out in 128 bits so that no header field can make them wrap.
    const std::uint64_t rowWidth = (static_cast<std::uint64_t>(bpp) * width + 31) / 32 * 4;
    const std::uint32_t colors = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    const unsigned __int128 dibSize =
        static_cast<unsigned __int128>(rowWidth) * height + kHeaderSize + colors * 4ull;
    if (dibSize > std::numeric_limits<std::uint32_t>::max() ||
        !PictureFitsInMemory(static_cast<std::uint64_t>(dibSize)) ||
        width > static_cast<std::uint32_t>(std::numeric_limits<LONG>::max()) ||
        height > static_cast<std::uint32_t>(std::numeric_limits<LONG>::max())) {
        SetError(PictureTooBigMessage(width, height).c_str());
        return nullptr;
    }

    m_header.biSize = kHeaderSize;
    m_header.biWidth = static_cast<LONG>(width);
    m_header.biHeight = static_cast<LONG>(height);
    m_header.biPlanes = 1;
    m_header.biBitCount = static_cast<WORD>(bpp);
    m_header.biCompression = BI_RGB;
    m_header.biSizeImage = static_cast<DWORD>(rowWidth * height);
    m_header.biClrUsed = colors;
    m_header.biClrImportant = 0;
    m_info.rowWidth = static_cast<std::uint32_t>(rowWidth);
    m_info.formatId = formatId;

    // Zeroed: the palette starts black and no pixel is left uninitialised.
    m_block = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(dibSize), 1));
    if (!m_block) {
        SetError(PictureTooBigMessage(width, height).c_str());
        return nullptr;
    }
    // A decoder fills the rows in one sweep; the kernel clears the fresh
    // pages meanwhile on another thread.
    AdviseHugePages(m_block, static_cast<std::size_t>(dibSize));
    PopulateInBackground(m_block, static_cast<std::size_t>(dibSize));
    std::memcpy(m_block, &m_header, kHeaderSize);
    m_info.firstRow = GetRowBits(0);
    return m_block;
}

void VxImage::Copy(const VxImage& source, bool copyPixels, bool copySelection, bool copyAlpha)
{
    // A borrower shares another image's buffers and can never get its own.
    if (IsBorrower() || &source == this)
        return;
    m_info = source.m_info;
    m_info.borrowerSource = nullptr;
    m_info.firstRow = nullptr;
    if (!Create(source.GetWidth(), source.GetHeight(), source.GetBpp(), source.m_info.formatId))
        return;
    if (copyPixels && source.m_block)
        std::memcpy(m_block, source.m_block, std::min(GetDibSize(), source.GetDibSize()));
    else
        SetPalette(source.GetPalette(), std::min<std::uint32_t>(source.GetNumColors(), 256));
    m_info.firstRow = GetRowBits(0);
    const std::size_t plane = PlaneSize();
    if (copySelection && source.m_selection) {
        m_selection = static_cast<std::uint8_t*>(std::malloc(plane));
        if (m_selection)
            std::memcpy(m_selection, source.m_selection, plane);
    }
    if (copyAlpha && source.m_alpha) {
        m_alpha = static_cast<std::uint8_t*>(std::malloc(plane));
        if (m_alpha)
            std::memcpy(m_alpha, source.m_alpha, plane);
    }
}

void VxImage::CopyAttributes(const VxImage& source)
{
    if (m_block)
        return;
    // The row pointers and the borrower link describe this object's own
    // buffers, which an image without a pixel block does not have.
    const VxImageAttributes own = m_info;
    m_info = source.m_info;
    m_info.rowWidth = own.rowWidth;
    m_info.firstRow = own.firstRow;
    m_info.borrowerSource = own.borrowerSource;
}

bool VxImage::AdoptPixels(VxImage& source)
{
    // Taking over a borrower's buffers would free memory it does not own.
    if (&source == this || source.IsBorrower())
        return false;
    if (!Destroy())
        return false;
    m_header = source.m_header;
    m_info = source.m_info;
    m_block = source.m_block;
    m_selection = source.m_selection;
    m_alpha = source.m_alpha;
    std::memset(&source.m_header, 0, sizeof source.m_header);
    std::memset(&source.m_info, 0, sizeof source.m_info);
    source.m_block = nullptr;
    source.m_selection = nullptr;
    source.m_alpha = nullptr;
    return true;
}

void VxImage::BorrowPixels(const VxImage* source)
{
    if (!source || source == this)
        return;
    // An owner lets go of its own buffers first so that they are not lost.
    if (!IsBorrower())
        Destroy();
    m_header = source->m_header;
    m_info = source->m_info;
    m_block = source->m_block;
    m_selection = source->m_selection;
    m_alpha = source->m_alpha;
    m_info.borrowerSource = const_cast<VxImage*>(source);
}

std::uint8_t* VxImage::GetRowBits(std::uint32_t row) const
{
    if (!m_block)
        return nullptr;
    std::uint32_t headerSize;
    std::memcpy(&headerSize, m_block, sizeof headerSize);
    std::uint8_t* first = m_block + headerSize + GetPaletteSize();
    if (row == 0)
        return first;
    if (row >= GetHeight())
        return nullptr;
    return first + static_cast<std::size_t>(row) * m_info.rowWidth;
}

std::uint32_t VxImage::GetDibSize() const { return GetPaletteSize() + m_header.biSize + m_header.biSizeImage; }

std::uint32_t VxImage::GetPaletteSize() const { return m_header.biClrUsed * 4; }

bool VxImage::ContainsPoint(std::int32_t x, std::int32_t y) const
{
    return x >= 0 && y >= 0 && x < m_header.biWidth && y < m_header.biHeight;
}

void VxImage::FillPixels(std::uint8_t value)
{
    if (!m_block)
        return;
    if (GetBpp() == 1)
        value = value ? 255 : 0;
    else if (GetBpp() == 4)
        value = static_cast<std::uint8_t>((value & 15) * 17);
    std::memset(m_info.firstRow, value, m_header.biSizeImage);
}

std::uint8_t* VxImage::GetPixelPointer(std::int32_t x, std::int32_t y) const
{
    if (!m_block || IsIndexed())
        return nullptr;
    return m_info.firstRow + static_cast<std::ptrdiff_t>(y) * m_info.rowWidth + static_cast<std::ptrdiff_t>(x) * 3;
}

void VxImage::SwapRedBlue(std::uint8_t* buffer, std::uint32_t length) const
{
    if (!buffer || IsIndexed())
        return;
    length = std::min(length, m_info.rowWidth);
    for (std::uint32_t i = 0; i + 3 <= length; i += 3)
        std::swap(buffer[i], buffer[i + 2]);
}

// The masks may be any bit fields: each channel is widened to 0..255 (see
// DibBitfield), so a 5-bit 31 gives 255 as in every other reader.
void VxImage::ExpandBitfields(const std::uint8_t* source, std::uint32_t redMask, std::uint32_t greenMask,
                              std::uint32_t blueMask, std::uint32_t bpp)
{
    if (!m_block || !source || GetBpp() != 24)
        return;
    const std::uint32_t width = GetWidth(), height = GetHeight();
    if (bpp == 16) {
        const DibBitfield red(redMask & 0xFFFF), green(greenMask & 0xFFFF), blue(blueMask & 0xFFFF);
        const std::size_t srcStride = static_cast<std::size_t>((width + 1) / 2) * 4;
        for (std::uint32_t y = height; y-- > 0;) {
            const std::uint8_t* src = source + srcStride * y;
            std::uint8_t* dst = m_info.firstRow + static_cast<std::size_t>(m_info.rowWidth) * y;
            for (std::uint32_t x = width; x-- > 0;) {
                const std::uint32_t w = src[2 * x] | (static_cast<std::uint32_t>(src[2 * x + 1]) << 8);
                const std::uint8_t b = blue(w), g = green(w), r = red(w);
                dst[3 * x] = b;
                dst[3 * x + 1] = g;
                dst[3 * x + 2] = r;
            }
        }
    } else if (bpp == 32) {
        const std::size_t srcStride = static_cast<std::size_t>(width) * 4;
        for (std::uint32_t y = height; y-- > 0;) {
            const std::uint8_t* src = source + srcStride * y;
            std::uint8_t* dst = m_info.firstRow + static_cast<std::size_t>(m_info.rowWidth) * y;
            for (std::uint32_t x = width; x-- > 0;) {
                const std::uint8_t b = src[4 * x], g = src[4 * x + 1], r = src[4 * x + 2];
                dst[3 * x] = b;
                dst[3 * x + 1] = g;
                dst[3 * x + 2] = r;
            }
        }
    }
}

int VxImage::CompareByGray(const RGBQUAD& a, const RGBQUAD& b) { return Grey(a) - Grey(b); }

RGBQUAD VxImage::ColorRefToRgbQuad(COLORREF color)
{
    return RGBQUAD{GetBValue(color), GetGValue(color), GetRValue(color), 0};
}

RGBQUAD* VxImage::GetPalette() const
{
    if (!m_block || m_header.biClrUsed == 0)
        return nullptr;
    return reinterpret_cast<RGBQUAD*>(m_block + kHeaderSize);
}

RGBQUAD VxImage::GetPaletteColor(std::uint8_t index) const
{
    RGBQUAD* pal = GetPalette();
    if (!pal || index >= m_header.biClrUsed)
        return RGBQUAD{0, 0, 0, 0};
    return pal[index];
}

bool VxImage::GetPaletteRgb(std::uint32_t index, std::uint8_t* red, std::uint8_t* green, std::uint8_t* blue) const
{
    RGBQUAD* pal = GetPalette();
    if (!pal || index >= m_header.biClrUsed)
        return false;
    if (red)
        *red = pal[index].rgbRed;
    if (green)
        *green = pal[index].rgbGreen;
    if (blue)
        *blue = pal[index].rgbBlue;
    return true;
}

void VxImage::SetPaletteColor(std::uint8_t index, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                              std::uint8_t alpha)
{
    SetPaletteEntry(index, RGBQUAD{blue, green, red, alpha});
}

void VxImage::SetPaletteEntry(std::uint8_t index, RGBQUAD color)
{
    RGBQUAD* pal = GetPalette();
    if (!pal || index >= m_header.biClrUsed)
        return;
    pal[index] = color;
    m_info.nearestValid = false;
}

void VxImage::SetPaletteChannels(std::uint32_t count, const std::uint8_t* red, const std::uint8_t* green,
                                 const std::uint8_t* blue)
{
    RGBQUAD* pal = GetPalette();
    if (!red || !pal)
        return;
    if (!green)
        green = red;
    if (!blue)
        blue = green;
    count = std::min(count, m_header.biClrUsed);
    for (std::uint32_t i = 0; i < count; ++i) {
        pal[i].rgbRed = red[i];
        pal[i].rgbGreen = green[i];
        pal[i].rgbBlue = blue[i];
    }
    m_info.nearestValid = false;
}

void VxImage::SetPaletteTriples(const std::uint8_t* triples, std::uint32_t count)
{
    RGBQUAD* pal = GetPalette();
    if (!triples || !pal)
        return;
    count = std::min(count, m_header.biClrUsed);
    for (std::uint32_t i = 0; i < count; ++i) {
        pal[i].rgbRed = triples[3 * i];
        pal[i].rgbGreen = triples[3 * i + 1];
        pal[i].rgbBlue = triples[3 * i + 2];
    }
    m_info.nearestValid = false;
}

void VxImage::SetPalette(const RGBQUAD* entries, std::uint32_t count)
{
    RGBQUAD* pal = GetPalette();
    if (!entries || !pal)
        return;
    const std::uint64_t bytes = std::min<std::uint64_t>(static_cast<std::uint64_t>(count) * 4, GetPaletteSize());
    std::memmove(pal, entries, static_cast<std::size_t>(bytes));
    m_info.nearestValid = false;
}

void VxImage::SetGreyRampPalette()
{
    RGBQUAD* pal = GetPalette();
    if (!pal || m_header.biClrUsed < 2)
        return;
    const std::uint32_t step = 255 / (m_header.biClrUsed - 1);
    for (std::uint32_t i = 0; i < m_header.biClrUsed; ++i) {
        const auto v = static_cast<std::uint8_t>(i * step);
        pal[i].rgbBlue = pal[i].rgbGreen = pal[i].rgbRed = v;
    }
    m_info.nearestValid = false;
}

bool VxImage::HasGreyRampPalette() const
{
    RGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (std::uint32_t i = 0; i < m_header.biClrUsed; ++i)
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    return true;
}

void VxImage::ExchangePaletteEntries(std::uint8_t index1, std::uint8_t index2)
{
    RGBQUAD* pal = GetPalette();
    if (!pal || index1 >= m_header.biClrUsed || index2 >= m_header.biClrUsed)
        return;
    std::swap(pal[index1], pal[index2]);
    m_info.nearestValid = false;
    const std::int32_t w = m_header.biWidth, h = m_header.biHeight;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint8_t i = GetPixelIndexUnchecked(x, y);
            if (i == index1)
                SetPixelIndex(x, y, index2);
            else if (i == index2)
                SetPixelIndex(x, y, index1);
        }
}

std::uint8_t VxImage::FindNearestPaletteIndex(RGBQUAD color)
{
    RGBQUAD* pal = GetPalette();
    if (!pal)
        return 0;
    if (m_info.nearestValid && SameColor(m_info.nearestColor, color))
        return m_info.nearestIndex;
    m_info.nearestColor = color;
    m_info.nearestValid = true;
    std::uint32_t count = m_header.biClrImportant ? m_header.biClrImportant : m_header.biClrUsed;
    count = std::min(count, m_header.biClrUsed);
    long best = 200000;
    std::uint32_t bestIndex = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const long db = pal[i].rgbBlue - color.rgbBlue, dg = pal[i].rgbGreen - color.rgbGreen,
                   dr = pal[i].rgbRed - color.rgbRed;
        const long d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            bestIndex = i;
            break;
        }
        if (d < best) {
            best = d;
            bestIndex = i;
        }
    }
    m_info.nearestIndex = static_cast<std::uint8_t>(bestIndex);
    return m_info.nearestIndex;
}

bool VxImage::PaletteHasAlpha() const
{
    RGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (std::uint32_t i = 0; i < m_header.biClrUsed; ++i)
        if (pal[i].rgbReserved)
            return true;
    return false;
}

std::uint8_t VxImage::GetPixelIndex(std::int32_t x, std::int32_t y) const
{
    if (!m_block || !IsIndexed())
        return 0;
    if (!ContainsPoint(x, y)) {
        if (m_info.transparentIndex != -1)
            return static_cast<std::uint8_t>(m_info.transparentIndex);
        return m_info.firstRow[0];
    }
    return GetPixelIndexUnchecked(x, y);
}

std::uint8_t VxImage::GetPixelIndexUnchecked(std::int32_t x, std::int32_t y) const
{
    const std::uint32_t bpp = GetBpp();
    const std::uint8_t* p = m_info.firstRow + static_cast<std::size_t>(y) * m_info.rowWidth +
                            (static_cast<std::size_t>(x) * bpp) / 8;
    if (bpp == 8)
        return *p;
    if (bpp == 4)
        return static_cast<std::uint8_t>((*p >> (4 * (1 - x % 2))) & 15);
    return static_cast<std::uint8_t>((*p >> (7 - x % 8)) & 1);
}

void VxImage::SetPixelIndex(std::int32_t x, std::int32_t y, std::uint8_t index)
{
    if (!m_block || !IsIndexed() || !ContainsPoint(x, y))
        return;
    const std::uint32_t bpp = GetBpp();
    std::uint8_t* p = m_info.firstRow + static_cast<std::size_t>(y) * m_info.rowWidth +
                      (static_cast<std::size_t>(x) * bpp) / 8;
    if (bpp == 8) {
        *p = index;
    } else if (bpp == 4) {
        const int shift = 4 * (1 - x % 2);
        *p = static_cast<std::uint8_t>((*p & ~(15 << shift)) | ((index & 15) << shift));
    } else {
        const int shift = 7 - x % 8;
        *p = static_cast<std::uint8_t>((*p & ~(1 << shift)) | ((index & 1) << shift));
    }
}

RGBQUAD VxImage::GetPixelColor(std::int32_t x, std::int32_t y, bool withAlpha) const
{
    RGBQUAD color = m_info.transparentColor;
    if (!m_block || !ContainsPoint(x, y)) {
        if (m_info.transparentIndex != -1)
            return GetBpp() < 24 ? GetPaletteColor(static_cast<std::uint8_t>(m_info.transparentIndex)) : color;
        if (m_block)
            return GetPixelColor(0, 0, true);
        return color;
    }
    if (IsIndexed()) {
        color = GetPaletteColor(GetPixelIndexUnchecked(x, y));
    } else {
        const std::uint8_t* p = GetPixelPointer(x, y);
        color.rgbBlue = p[0];
        color.rgbGreen = p[1];
        color.rgbRed = p[2];
    }
    if (withAlpha && m_alpha)
        color.rgbReserved = GetAlphaAtUnchecked(x, y);
    return color;
}

RGBQUAD VxImage::GetPixelColorUnchecked(std::int32_t x, std::int32_t y) const
{
    if (IsIndexed())
        return GetPaletteColor(GetPixelIndexUnchecked(x, y));
    const std::uint8_t* p = GetPixelPointer(x, y);
    return RGBQUAD{p[0], p[1], p[2], m_alpha ? GetAlphaAtUnchecked(x, y) : std::uint8_t{0}};
}

void VxImage::SetPixelColor(std::int32_t x, std::int32_t y, RGBQUAD color, bool withAlpha)
{
    if (!m_block || !ContainsPoint(x, y))
        return;
    if (IsIndexed()) {
        SetPixelIndex(x, y, FindNearestPaletteIndex(color));
        return;
    }
    std::uint8_t* p = GetPixelPointer(x, y);
    p[0] = color.rgbBlue;
    p[1] = color.rgbGreen;
    p[2] = color.rgbRed;
    if (withAlpha)
        SetAlphaAt(x, y, color.rgbReserved);
}

void VxImage::SetPixelColorRef(std::int32_t x, std::int32_t y, COLORREF color)
{
    SetPixelColor(x, y, ColorRefToRgbQuad(color), false);
}

bool VxImage::CreateAlphaPlane()
{
    if (m_alpha)
        return true;
    if (PlaneSize() == 0)
        return false;
    // The plane counts against the memory a picture may take together with
    // the pixel block.
    if (PictureFitsInMemory(GetDibSize() + static_cast<std::uint64_t>(PlaneSize())))
        m_alpha = static_cast<std::uint8_t*>(std::malloc(PlaneSize()));
    if (!m_alpha) {
        SetError(PictureTooBigMessage(GetWidth(), GetHeight()).c_str());
        return false;
    }
    std::memset(m_alpha, 255, PlaneSize());
    return true;
}

void VxImage::DeleteAlphaPlane()
{
    std::free(m_alpha);
    m_alpha = nullptr;
}

void VxImage::SetAlphaAt(std::int32_t x, std::int32_t y, std::uint8_t value)
{
    if (m_alpha && ContainsPoint(x, y))
        m_alpha[static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * GetWidth()] = value;
}

std::uint8_t VxImage::GetAlphaAt(std::int32_t x, std::int32_t y) const
{
    if (!m_alpha || !ContainsPoint(x, y))
        return 0;
    return GetAlphaAtUnchecked(x, y);
}

std::uint8_t* VxImage::GetAlphaPointer(std::int32_t x, std::int32_t y) const
{
    if (!m_alpha || !ContainsPoint(x, y))
        return nullptr;
    return m_alpha + static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * GetWidth();
}

std::uint8_t VxImage::GetAlphaAtUnchecked(std::int32_t x, std::int32_t y) const
{
    return m_alpha[static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * GetWidth()];
}

bool VxImage::FlipAlphaPlane()
{
    if (!m_alpha)
        return false;
    auto* plane = static_cast<std::uint8_t*>(std::malloc(PlaneSize()));
    if (!plane)
        return false;
    const std::size_t w = GetWidth(), h = GetHeight();
    for (std::size_t y = 0; y < h; ++y)
        std::memcpy(plane + y * w, m_alpha + (h - 1 - y) * w, w);
    std::free(m_alpha);
    m_alpha = plane;
    return true;
}

bool VxImage::MirrorAlphaPlane()
{
    if (!m_alpha)
        return false;
    auto* plane = static_cast<std::uint8_t*>(std::malloc(PlaneSize()));
    if (!plane)
        return false;
    const std::size_t w = GetWidth(), h = GetHeight();
    for (std::size_t y = 0; y < h; ++y)
        std::reverse_copy(m_alpha + y * w, m_alpha + (y + 1) * w, plane + y * w);
    std::free(m_alpha);
    m_alpha = plane;
    return true;
}

bool VxImage::DeleteSelection()
{
    std::free(m_selection);
    m_selection = nullptr;
    m_info.selectionBox = RECT{m_header.biWidth, 0, 0, m_header.biHeight};
    return true;
}

bool VxImage::SelectionHasPoint(std::int32_t x, std::int32_t y) const
{
    if (!ContainsPoint(x, y))
        return false;
    return !m_selection || m_selection[static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * GetWidth()] != 0;
}

RGBQUAD VxImage::GetTransparentColor() const
{
    if (GetBpp() < 24 && m_info.transparentIndex != -1)
        return GetPaletteColor(static_cast<std::uint8_t>(m_info.transparentIndex));
    return m_info.transparentColor;
}

void VxImage::SetTransparentColor(RGBQUAD color)
{
    color.rgbReserved = 0;
    m_info.transparentColor = color;
}

std::uint8_t VxImage::GetColorType() const
{
    if (m_alpha)
        return 4;
    return GetBpp() <= 8 ? 1 : 2;
}

void VxImage::SetXDPI(std::int32_t dpi)
{
    if (dpi <= 0)
        dpi = 96;
    m_info.xDpi = dpi;
    m_header.biXPelsPerMeter = static_cast<LONG>(std::floor(dpi * 10000.0 / 254.0 + 0.5));
}

void VxImage::SetYDPI(std::int32_t dpi)
{
    if (dpi <= 0)
        dpi = 96;
    m_info.yDpi = dpi;
    m_header.biYPelsPerMeter = static_cast<LONG>(std::floor(dpi * 10000.0 / 254.0 + 0.5));
}

std::uint32_t VxImage::GetFormatOption(std::uint32_t formatId) const
{
    if (formatId == 0)
        formatId = m_info.formatId;
    if (formatId >= VXFMT_COUNT)
        return 0;
    return m_info.codecOptions[formatId];
}

bool VxImage::SetFormatOption(std::uint32_t option, std::uint32_t formatId)
{
    if (formatId == 0)
        formatId = m_info.formatId;
    if (formatId >= VXFMT_COUNT)
        return false;
    m_info.codecOptions[formatId] = option;
    return true;
}
