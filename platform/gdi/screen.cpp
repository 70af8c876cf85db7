// The screen's DC and device facts, background colour and opaque fills,
// and reading a bitmap's rows back as a DIB.
#include "gdi/gdi_p.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The screen this layer stands for: 32 bits per pixel at 96 dots per inch.
constexpr int kScreenBpp = 32;
constexpr int kScreenDpi = 96;

}  // namespace

HDC GetDC(HANDLE window)
{
    if (window) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    dc->screen = true;
    return dc;
}

int ReleaseDC(HANDLE, HDC hdc)
{
    if (!hdc || !hdc->screen)
        return 0;
    DeleteDC(hdc);
    return 1;
}

int GetDeviceCaps(HDC hdc, int index)
{
    if (!hdc)
        return 0;
    switch (index) {
    case BITSPIXEL: return hdc->screen ? kScreenBpp : hdc->bitmap->surface.bpp;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return kScreenDpi;
    }
    return 0;
}

DWORD GetSysColor(int index)
{
    switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    }
    return 0;
}

COLORREF SetBkColor(HDC hdc, COLORREF color)
{
    if (!hdc)
        return CLR_INVALID;
    const COLORREF old = hdc->bkColor;
    hdc->bkColor = color & 0x00FFFFFF;
    return old;
}

COLORREF GetBkColor(HDC hdc) { return hdc ? hdc->bkColor : CLR_INVALID; }

COLORREF SetTextColor(HDC hdc, COLORREF color)
{
    if (!hdc)
        return CLR_INVALID;
    const COLORREF old = hdc->textColor;
    hdc->textColor = color & 0x00FFFFFF;
    return old;
}

COLORREF GetTextColor(HDC hdc) { return hdc ? hdc->textColor : CLR_INVALID; }

BOOL ExtTextOutA(HDC hdc, int, int, UINT options, const RECT* rect, const char*, UINT count, const INT*)
{
    if (!hdc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (count > 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!(options & ETO_OPAQUE) || !rect)
        return TRUE;
    GdiSurface& s = hdc->bitmap->surface;
    const std::uint32_t packed = (static_cast<std::uint32_t>(GetRValue(hdc->bkColor)) << 16) |
                                 (static_cast<std::uint32_t>(GetGValue(hdc->bkColor)) << 8) | GetBValue(hdc->bkColor);
    for (const RECT& visible : hdc->VisibleRects()) {
        RECT r;
        if (!IntersectRect(&r, &visible, rect))
            continue;
        std::vector<std::uint32_t> span(static_cast<std::size_t>(r.right - r.left), packed);
        for (int y = r.top; y < r.bottom; ++y)
            s.WriteSpan(r.left, y, r.right - r.left, span.data());
    }
    return TRUE;
}

int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* bmi, UINT usage)
{
    if (!hdc || !bitmap || !bmi || usage != DIB_RGB_COLORS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const GdiSurface& s = bitmap->surface;
    BITMAPINFOHEADER& h = bmi->bmiHeader;
    if (!bits) {
        // Describe the bitmap in its own format.
        h.biSize = sizeof(BITMAPINFOHEADER);
        h.biWidth = s.width;
        h.biHeight = s.height;
        h.biPlanes = 1;
        h.biBitCount = static_cast<WORD>(s.bpp);
        h.biCompression = BI_RGB;
        h.biSizeImage = static_cast<DWORD>(s.stride * static_cast<std::size_t>(s.height));
        return s.height;
    }
    const int bpp = h.biBitCount;
    const bool same = bpp == s.bpp && bpp <= 8;
    const bool mapped = !same && (bpp == 1 || bpp == 4 || bpp == 8);
    if (h.biWidth != s.width || (bpp != 24 && bpp != 32 && !same && !mapped) || h.biCompression != BI_RGB) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Palette rows from other pixels: each pixel takes the nearest colour of
    // the table the call answers, the DC's selected palette, or else the
    // system's default colours (black and white at 1 bit, the 16 colours of
    // the VGA at 4, the 20 static colours at 8).
    std::vector<RGBQUAD> table;
    if (mapped) {
        std::vector<PALETTEENTRY> colours;
        if (hdc->palette && !hdc->palette->stock)
            colours = hdc->palette->entries;
        else
            colours = static_cast<GdiPalette*>(static_cast<GdiObject*>(GetStockObject(DEFAULT_PALETTE)))->entries;
        const std::size_t size = std::size_t{1} << bpp;
        if (bpp == 1)
            colours = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        else if (bpp == 4 && colours.size() == 20)
            colours.erase(colours.begin() + 8, colours.begin() + 12);  // the VGA's 16
        colours.resize(std::min(colours.size(), size));
        for (const PALETTEENTRY& e : colours)
            table.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
        table.resize(size, RGBQUAD{0, 0, 0, 0});
        for (std::size_t i = 0; i < size; ++i)
            bmi->bmiColors[i] = table[i];
    }
    auto nearest = [&table](std::uint32_t c) {
        const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
        int best = 0, bestDistance = 1 << 30;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const int dr = r - table[i].rgbRed, dg = g - table[i].rgbGreen, db = b - table[i].rgbBlue;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<int>(i);
            }
        }
        return best;
    };
    const bool topDown = h.biHeight < 0;
    const int height = s.height;
    if (start >= static_cast<UINT>(height))
        return 0;
    const int count = static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(height) - start));
    const std::size_t stride = GdiStride(s.width, bpp);
    if (same)
        for (std::size_t i = 0; i < s.palette.size(); ++i)
            bmi->bmiColors[i] = s.palette[i];
    std::vector<std::uint32_t> span(static_cast<std::size_t>(s.width));
    auto* out = static_cast<std::uint8_t*>(bits);
    for (int i = 0; i < count; ++i) {
        // Scan line start + i, counted from the bottom unless the DIB is top-down.
        const int line = static_cast<int>(start) + i;
        const int y = topDown ? line : height - 1 - line;
        std::uint8_t* row = out + static_cast<std::size_t>(i) * stride;
        if (same) {
            std::memcpy(row, s.Row(y), std::min(stride, s.stride));
            continue;
        }
        s.ReadSpan(0, y, s.width, span.data());
        if (mapped) {
            std::memset(row, 0, stride);
            for (int x = 0; x < s.width; ++x) {
                const int index = nearest(span[static_cast<std::size_t>(x)]);
                const int bit = x * bpp;
                row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | (index << (8 - bpp - bit % 8)));
            }
            continue;
        }
        for (int x = 0; x < s.width; ++x) {
            const std::uint32_t c = span[static_cast<std::size_t>(x)];
            std::uint8_t* p = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(bpp / 8);
            p[0] = static_cast<std::uint8_t>(c);
            p[1] = static_cast<std::uint8_t>(c >> 8);
            p[2] = static_cast<std::uint8_t>(c >> 16);
            if (bpp == 32)
                p[3] = 0;
        }
    }
    return count;
}
