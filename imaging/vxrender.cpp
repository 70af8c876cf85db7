// Drawing an image into a device context, and the geometric operations.
#include "imaging/vximage.h"
#include "win/memlimit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// A 24-bit bottom-up DIB section selected into a memory DC, released on scope exit.
class Section {
public:
    Section(HDC compatible, int width, int height)
    {
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = width;
        bmi.bmiHeader.biHeight = height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 24;
        bmi.bmiHeader.biCompression = BI_RGB;
        m_info = bmi;
        m_dc = CreateCompatibleDC(compatible);
        if (!m_dc)
            return;
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!m_bitmap)
            return;
        m_old = SelectObject(m_dc, m_bitmap);
        m_bits = static_cast<std::uint8_t*>(bits);
        m_stride = (static_cast<std::size_t>(width) * 24 + 31) / 32 * 4;
    }
    ~Section()
    {
        if (m_old)
            SelectObject(m_dc, m_old);
        if (m_bitmap)
            DeleteObject(m_bitmap);
        if (m_dc)
            DeleteDC(m_dc);
    }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    bool Valid() const { return m_bits != nullptr; }
    HDC Dc() const { return m_dc; }
    std::uint8_t* Row(int r) const { return m_bits + m_stride * static_cast<std::size_t>(r); }
    const BITMAPINFO* Info() const { return &m_info; }
    const std::uint8_t* Bits() const { return m_bits; }

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    std::uint8_t* m_bits = nullptr;
    std::size_t m_stride = 0;
    BITMAPINFO m_info{};
};

// Puts a DC's clip region back as it was, whatever the drawing did to it.
class ClipKeeper {
public:
    explicit ClipKeeper(HDC dc) : m_dc(dc), m_saved(CreateRectRgn(0, 0, 0, 0))
    {
        m_had = GetClipRgn(dc, m_saved) == 1;
    }
    ~ClipKeeper()
    {
        SelectClipRgn(m_dc, m_had ? m_saved : nullptr);
        DeleteObject(m_saved);
    }
    ClipKeeper(const ClipKeeper&) = delete;
    ClipKeeper& operator=(const ClipKeeper&) = delete;

private:
    HDC m_dc;
    HRGN m_saved;
    bool m_had = false;
};

}  // namespace

std::int32_t VxImage::Draw(HDC dc, std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy,
                           const RECT* clip, bool smooth)
{
    if (!m_block || !dc || cx == 0 || cy == 0 || !m_info.enabled)
        return 0;
    const std::int32_t width = m_header.biWidth, height = m_header.biHeight;
    if (cx < 0)
        cx = width;
    if (cy < 0)
        cy = height;
    const bool transparent = m_info.transparentIndex != -1;
    const bool alpha = m_alpha != nullptr;

    // A clip rectangle narrows the DC's clip region for this call only; the
    // region is put back exactly as it was, not just its bounding box.
    std::unique_ptr<ClipKeeper> keeper;
    if (clip) {
        keeper = std::make_unique<ClipKeeper>(dc);
        HRGN r = CreateRectRgnIndirect(clip);
        ExtSelectClipRgn(dc, r, RGN_AND);
        DeleteObject(r);
    }

    RECT box;
    GetClipBox(dc, &box);
    const std::int64_t x2 = static_cast<std::int64_t>(x) + cx, y2 = static_cast<std::int64_t>(y) + cy;
    const std::int32_t top = std::min<std::int64_t>(box.bottom, std::max<std::int64_t>(box.top, y));
    const std::int32_t left = std::min<std::int64_t>(box.right, std::max<std::int64_t>(box.left, x));
    const std::int32_t right = std::max<std::int64_t>(box.left, std::min<std::int64_t>(box.right, x2));
    const std::int32_t bottom = std::max<std::int64_t>(box.top, std::min<std::int64_t>(box.bottom, y2));
    const std::int32_t destW = right - left, destH = bottom - top;
    const bool unscaled = cx == width && cy == height;
    const bool opaque = !transparent && !alpha && !m_info.paletteAlphaEnabled;

    if (opaque && unscaled) {
        SetStretchBltMode(dc, COLORONCOLOR);
        SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(cx), static_cast<DWORD>(cy), 0, 0, 0,
                          static_cast<UINT>(cy), m_info.firstRow, reinterpret_cast<const BITMAPINFO*>(m_block),
                          DIB_RGB_COLORS);
        return 1;
    }
    if (destW <= 0 || destH <= 0)
        return 1;

    Section section(dc, destW, destH);
    if (!section.Valid())
        return 1;
    if (!opaque)
        BitBlt(section.Dc(), 0, 0, destW, destH, dc, left, top, SRCCOPY);

    const float sx = static_cast<float>(width) / static_cast<float>(cx);
    const float sy = static_cast<float>(height) / static_cast<float>(cy);
    const bool indexed = IsIndexed();
    const RGBQUAD* palette = GetPalette();
    const RGBQUAD transColor = GetTransparentColor();
    const bool useSmooth = smooth && !unscaled;
    const unsigned alphaMax = m_info.alphaMax;

    // Source columns of the destination columns, worked out once.
    std::vector<std::int32_t> srcX(static_cast<std::size_t>(destW));
    std::vector<float> srcFx(static_cast<std::size_t>(destW));
    for (std::int32_t c = 0; c < destW; ++c) {
        if (unscaled) {
            srcX[static_cast<std::size_t>(c)] = left - x + c;
            srcFx[static_cast<std::size_t>(c)] = static_cast<float>(left - x + c);
        } else {
            const float fx = static_cast<float>(c + left - x) * sx;
            srcFx[static_cast<std::size_t>(c)] = fx;
            srcX[static_cast<std::size_t>(c)] =
                std::clamp(static_cast<std::int32_t>(std::floor(fx)), 0, width - 1);
        }
    }

    for (std::int32_t r = 0; r < destH; ++r) {
        std::int32_t sy0;
        float fy;
        if (unscaled) {
            sy0 = height - bottom + y + r;
            fy = static_cast<float>(sy0);
        } else {
            fy = static_cast<float>(height) - static_cast<float>(bottom - r - y) * sy;
            sy0 = std::clamp(static_cast<std::int32_t>(std::floor(fy)), 0, height - 1);
        }
        std::uint8_t* dst = section.Row(r);
        const std::uint8_t* srow = m_info.firstRow + static_cast<std::size_t>(sy0) * m_info.rowWidth;
        const std::uint8_t* arow = alpha ? m_alpha + static_cast<std::size_t>(sy0) * width : nullptr;
        for (std::int32_t c = 0; c < destW; ++c, dst += 3) {
            const std::int32_t sx0 = srcX[static_cast<std::size_t>(c)];
            RGBQUAD color;
            std::uint8_t index = 0;
            if (indexed) {
                index = GetPixelIndexUnchecked(sx0, sy0);
            }
            if (useSmooth) {
                color = SampleInterpolated(srcFx[static_cast<std::size_t>(c)] - 0.5f, fy - 0.5f, 2, 5, nullptr);
            } else if (indexed) {
                color = palette[index];
            } else {
                const std::uint8_t* p = srow + static_cast<std::size_t>(sx0) * 3;
                color = RGBQUAD{p[0], p[1], p[2], 0};
            }
            if (opaque) {
                dst[0] = color.rgbBlue;
                dst[1] = color.rgbGreen;
                dst[2] = color.rgbRed;
                continue;
            }
            unsigned a = arow ? arow[sx0] : 255;
            a = (a * (alphaMax + 1)) >> 8;
            if (indexed && m_info.paletteAlphaEnabled)
                a = (a * (static_cast<unsigned>(color.rgbReserved) + 1)) >> 8;
            if (transparent) {
                const bool match = indexed ? index == static_cast<std::uint32_t>(m_info.transparentIndex)
                                           : std::memcmp(&color, &transColor, sizeof color) == 0;
                if (match)
                    continue;
            }
            if (a == 0)
                continue;
            if (a >= 255) {
                dst[0] = color.rgbBlue;
                dst[1] = color.rgbGreen;
                dst[2] = color.rgbRed;
            } else {
                dst[0] = static_cast<std::uint8_t>((dst[0] * (255 - a) + color.rgbBlue * a) >> 8);
                dst[1] = static_cast<std::uint8_t>((dst[1] * (255 - a) + color.rgbGreen * a) >> 8);
                dst[2] = static_cast<std::uint8_t>((dst[2] * (255 - a) + color.rgbRed * a) >> 8);
            }
        }
    }
    SetDIBitsToDevice(dc, left, top, static_cast<DWORD>(destW), static_cast<DWORD>(destH), 0, 0, 0,
                      static_cast<UINT>(destH), section.Bits(), section.Info(), DIB_RGB_COLORS);
    return 1;
}

bool VxImage::Flip()
{
    if (!m_block)
        return false;
    auto tmp = std::make_unique<VxImage>(*this, false, false, true);
    if (!KeptWhole(*tmp))
        return false;
    const std::uint32_t h = GetHeight();
    for (std::uint32_t i = 0; i < h; ++i)
        std::memcpy(tmp->GetRowBits(i), GetRowBits(h - 1 - i), m_info.rowWidth);
    if (tmp->HasAlpha() && !tmp->FlipAlphaPlane()) {
        SetError(PictureTooBigMessage(GetWidth(), GetHeight()));
        return false;
    }
    return AdoptPixels(*tmp);
}

bool VxImage::Mirror()
{
    if (!m_block)
        return false;
    auto tmp = std::make_unique<VxImage>(*this, false, false, true);
    if (!KeptWhole(*tmp))
        return false;
    const std::int32_t w = m_header.biWidth, h = m_header.biHeight;
    for (std::int32_t i = 0; i < h; ++i) {
        const std::uint8_t* src = GetRowBits(static_cast<std::uint32_t>(i));
        std::uint8_t* dst = tmp->GetRowBits(static_cast<std::uint32_t>(i));
        switch (GetBpp()) {
        case 8:
            std::reverse_copy(src, src + w, dst);
            break;
        case 24:
            for (std::int32_t j = 0; j < w; ++j)
                std::memcpy(dst + 3 * j, src + 3 * (w - 1 - j), 3);
            break;
        default:
            for (std::int32_t j = 0; j < w; ++j)
                tmp->SetPixelIndex(j, i, GetPixelIndex(w - 1 - j, i));
        }
    }
    if (tmp->HasAlpha() && !tmp->MirrorAlphaPlane()) {
        SetError(PictureTooBigMessage(GetWidth(), GetHeight()));
        return false;
    }
    return AdoptPixels(*tmp);
}

namespace {

// Rotation by a quarter turn. Left: new(x, y) = old(y, W - 1 - x); right:
// new(x, y) = old(H - 1 - y, x), W and H being the new width and height. The
// new image is walked in 64 x 64 blocks so that both images stay in cache.
// A turned picture the memory cannot hold leaves the image as it was and
// the reason in error.
bool Rotate(VxImage& self, VxImage* destination, bool left, std::string& error)
{
    if (!self.IsValid())
        return false;
    const std::int32_t W = static_cast<std::int32_t>(self.GetHeight());
    const std::int32_t H = static_cast<std::int32_t>(self.GetWidth());
    auto tmp = std::make_unique<VxImage>();
    tmp->CopyAttributes(self);
    if (!tmp->Create(static_cast<std::uint32_t>(W), static_cast<std::uint32_t>(H), self.GetBpp(), self.GetType()) ||
        (self.HasAlpha() && !tmp->CreateAlphaPlane())) {
        error = tmp->GetLastError();
        return false;
    }
    tmp->SetPalette(self.GetPalette(), std::min<std::uint32_t>(self.GetNumColors(), 256));
    const bool rgb = self.GetBpp() == 24;
    const bool mono = self.GetBpp() == 1;
    if (mono) {
        // A source byte at a time: zero bytes cost nothing, and each set bit
        // sets one destination bit (the new image starts cleared). Bits in
        // the padding of a row lie beyond the width and are dropped.
        const std::int32_t oldW = H, oldH = W;
        const std::uint32_t stride = self.GetRowStride(), newStride = tmp->GetRowStride();
        std::uint8_t* dst = tmp->GetRowBits(0);
        for (std::int32_t oy = 0; oy < oldH; ++oy) {
            const std::uint8_t* row = self.GetRowBits(static_cast<std::uint32_t>(oy));
            for (std::uint32_t b = 0; b < stride; ++b) {
                if (!row[b])
                    continue;
                for (int z = 0; z < 8; ++z) {
                    const std::int32_t ox = static_cast<std::int32_t>(8 * b) + z;
                    if (!(row[b] & (0x80 >> z)) || ox >= oldW)
                        continue;
                    const std::int32_t nx = left ? W - 1 - oy : oy;
                    const std::int32_t ny = left ? ox : H - 1 - ox;
                    dst[static_cast<std::size_t>(ny) * newStride + static_cast<std::size_t>(nx) / 8] |=
                        static_cast<std::uint8_t>(0x80 >> (nx % 8));
                }
            }
        }
    }
    constexpr std::int32_t kBlock = 64;
    for (std::int32_t bx = 0; bx < W && (!mono || self.HasAlpha()); bx += kBlock) {
        for (std::int32_t by = 0; by < H; by += kBlock) {
            const std::int32_t ex = std::min(W, bx + kBlock), ey = std::min(H, by + kBlock);
            for (std::int32_t ny = by; ny < ey; ++ny) {
                for (std::int32_t nx = bx; nx < ex; ++nx) {
                    const std::int32_t ox = left ? ny : H - 1 - ny;
                    const std::int32_t oy = left ? W - 1 - nx : nx;
                    if (rgb)
                        std::memcpy(tmp->GetPixelPointer(nx, ny), self.GetPixelPointer(ox, oy), 3);
                    else if (!mono)
                        tmp->SetPixelIndex(nx, ny, self.GetPixelIndexUnchecked(ox, oy));
                    if (self.HasAlpha())
                        tmp->SetAlphaAt(nx, ny, self.GetAlphaAtUnchecked(ox, oy));
                }
            }
        }
    }
    return (destination ? destination : &self)->AdoptPixels(*tmp);
}

}  // namespace

bool VxImage::RotateLeft(VxImage* destination)
{
    std::string error;
    if (Rotate(*this, destination, true, error))
        return true;
    if (!error.empty())
        SetError(error);
    return false;
}

bool VxImage::RotateRight(VxImage* destination)
{
    std::string error;
    if (Rotate(*this, destination, false, error))
        return true;
    if (!error.empty())
        SetError(error);
    return false;
}

bool VxImage::KeptWhole(const VxImage& copy)
{
    if (!copy.IsValid()) {
        SetError(copy.GetLastError());
        return false;
    }
    if (HasAlpha() && !copy.HasAlpha()) {
        SetError(PictureTooBigMessage(GetWidth(), GetHeight()));
        return false;
    }
    return true;
}

bool VxImage::Negative()
{
    if (!m_block)
        return false;
    const RECT& box = m_info.selectionBox;
    if (GetBpp() == 24) {
        if (!m_selection) {
            for (std::uint32_t i = 0; i < m_header.biSizeImage; ++i)
                m_info.firstRow[i] = static_cast<std::uint8_t>(~m_info.firstRow[i]);
        } else {
            for (std::int32_t yy = box.bottom; yy < box.top; ++yy)
                for (std::int32_t xx = box.left; xx < box.right; ++xx)
                    if (SelectionHasPoint(xx, yy)) {
                        RGBQUAD c = GetPixelColor(xx, yy, false);
                        c.rgbBlue = static_cast<std::uint8_t>(~c.rgbBlue);
                        c.rgbGreen = static_cast<std::uint8_t>(~c.rgbGreen);
                        c.rgbRed = static_cast<std::uint8_t>(~c.rgbRed);
                        SetPixelColor(xx, yy, c, false);
                    }
        }
        m_info.transparentColor.rgbBlue = static_cast<std::uint8_t>(~m_info.transparentColor.rgbBlue);
        m_info.transparentColor.rgbGreen = static_cast<std::uint8_t>(~m_info.transparentColor.rgbGreen);
        m_info.transparentColor.rgbRed = static_cast<std::uint8_t>(~m_info.transparentColor.rgbRed);
    } else if (!HasGreyRampPalette()) {
        RGBQUAD* pal = GetPalette();
        for (std::uint32_t i = 0; pal && i < m_header.biClrUsed; ++i) {
            pal[i].rgbBlue = static_cast<std::uint8_t>(~pal[i].rgbBlue);
            pal[i].rgbGreen = static_cast<std::uint8_t>(~pal[i].rgbGreen);
            pal[i].rgbRed = static_cast<std::uint8_t>(~pal[i].rgbRed);
        }
        m_info.nearestValid = false;
    } else {
        const bool sel = m_selection != nullptr;
        const std::int32_t x0 = sel ? box.left : 0, x1 = sel ? box.right : m_header.biWidth;
        const std::int32_t y0 = sel ? box.bottom : 0, y1 = sel ? box.top : m_header.biHeight;
        for (std::int32_t yy = y0; yy < y1; ++yy)
            for (std::int32_t xx = x0; xx < x1; ++xx)
                if (SelectionHasPoint(xx, yy))
                    SetPixelIndex(xx, yy, static_cast<std::uint8_t>(~GetPixelIndex(xx, yy)));
    }
    return true;
}
