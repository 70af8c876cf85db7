// Pixel spans of the memory surfaces and the blit functions built on them.
//
// Blits work row by row: a span of source pixels is read as 0x00RRGGBB
// words, combined with the destination by the raster operation and written
// back, inside each rectangle of the destination's clip region.
#include "gdi/gdi_p.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

inline std::uint32_t Pack(const RGBQUAD& q)
{
    return (static_cast<std::uint32_t>(q.rgbRed) << 16) | (static_cast<std::uint32_t>(q.rgbGreen) << 8) | q.rgbBlue;
}

bool NeedsSource(DWORD rop) { return rop != BLACKNESS && rop != WHITENESS && rop != DSTINVERT; }
bool NeedsDest(DWORD rop) { return rop == SRCPAINT || rop == SRCAND || rop == SRCINVERT || rop == DSTINVERT; }
bool KnownRop(DWORD rop)
{
    switch (rop) {
    case SRCCOPY: case SRCPAINT: case SRCAND: case SRCINVERT:
    case NOTSRCCOPY: case DSTINVERT: case BLACKNESS: case WHITENESS:
        return true;
    }
    return false;
}

void ApplyRop(DWORD rop, const std::uint32_t* src, std::uint32_t* dst, int n)
{
    constexpr std::uint32_t kMask = 0x00FFFFFF;
    switch (rop) {
    case SRCCOPY: std::memcpy(dst, src, sizeof(std::uint32_t) * static_cast<std::size_t>(n)); break;
    case SRCPAINT: for (int i = 0; i < n; ++i) dst[i] |= src[i]; break;
    case SRCAND: for (int i = 0; i < n; ++i) dst[i] &= src[i]; break;
    case SRCINVERT: for (int i = 0; i < n; ++i) dst[i] ^= src[i]; break;
    case NOTSRCCOPY: for (int i = 0; i < n; ++i) dst[i] = ~src[i] & kMask; break;
    case DSTINVERT: for (int i = 0; i < n; ++i) dst[i] = ~dst[i] & kMask; break;
    case BLACKNESS: std::fill(dst, dst + n, 0u); break;
    case WHITENESS: std::fill(dst, dst + n, kMask); break;
    }
}

// COLORREF (0x00BBGGRR) as a span pixel (0x00RRGGBB).
std::uint32_t SpanColor(COLORREF c)
{
    return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
           GetBValue(c);
}

}  // namespace

// Source pixels as the destination takes them when one side is a
// monochrome bitmap and the other is colour.
static void ConvertDepth(HDC dst, HDC src, std::uint32_t* span, int n)
{
    const bool srcMono = src->bitmap->monochrome, dstMono = dst->bitmap->monochrome;
    if (srcMono == dstMono)
        return;
    if (srcMono) {
        const std::uint32_t zero = SpanColor(dst->textColor), one = SpanColor(dst->bkColor);
        for (int i = 0; i < n; ++i)
            span[i] = span[i] ? one : zero;
    } else {
        const std::uint32_t background = SpanColor(src->bkColor);
        for (int i = 0; i < n; ++i)
            span[i] = (span[i] & 0x00FFFFFF) == background ? 0x00FFFFFFu : 0u;
    }
}

std::uint8_t GdiSurface::NearestIndex(std::uint32_t color) const
{
    int best = 0;
    long bestDist = std::numeric_limits<long>::max();
    const int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const long dr = palette[i].rgbRed - r, dg = palette[i].rgbGreen - g, db = palette[i].rgbBlue - b;
        const long d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = static_cast<int>(i);
            if (d == 0)
                break;
        }
    }
    return static_cast<std::uint8_t>(best);
}

void GdiSurface::ReadSpan(int x, int y, int n, std::uint32_t* out) const
{
    const std::uint8_t* row = Row(y);
    auto color = [this](unsigned index) { return index < palette.size() ? Pack(palette[index]) : 0u; };
    switch (bpp) {
    case 32: {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
        for (int i = 0; i < n; ++i, p += 4)
            out[i] = (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[0];
        break;
    }
    case 24: {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        for (int i = 0; i < n; ++i, p += 3)
            out[i] = (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[0];
        break;
    }
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = color(row[x + i]);
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            const int px = x + i;
            out[i] = color((row[px >> 1] >> ((px & 1) ? 0 : 4)) & 0x0F);
        }
        break;
    case 1:
        for (int i = 0; i < n; ++i) {
            const int px = x + i;
            out[i] = color((row[px >> 3] >> (7 - (px & 7))) & 1);
        }
        break;
    }
}

void GdiSurface::WriteSpan(int x, int y, int n, const std::uint32_t* in)
{
    std::uint8_t* row = Row(y);
    switch (bpp) {
    case 32: {
        std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
        for (int i = 0; i < n; ++i, p += 4) {
            p[0] = static_cast<std::uint8_t>(in[i]);
            p[1] = static_cast<std::uint8_t>(in[i] >> 8);
            p[2] = static_cast<std::uint8_t>(in[i] >> 16);
            p[3] = 0;
        }
        break;
    }
    case 24: {
        std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        for (int i = 0; i < n; ++i, p += 3) {
            p[0] = static_cast<std::uint8_t>(in[i]);
            p[1] = static_cast<std::uint8_t>(in[i] >> 8);
            p[2] = static_cast<std::uint8_t>(in[i] >> 16);
        }
        break;
    }
    default: {
        // Palette surfaces take the nearest entry; runs of one colour reuse it.
        std::uint32_t last = 0xFFFFFFFFu;
        std::uint8_t index = 0;
        for (int i = 0; i < n; ++i) {
            if (in[i] != last) {
                last = in[i];
                index = NearestIndex(in[i] & 0x00FFFFFF);
            }
            const int px = x + i;
            if (bpp == 8) {
                row[px] = index;
            } else if (bpp == 4) {
                const int shift = (px & 1) ? 0 : 4;
                row[px >> 1] = static_cast<std::uint8_t>((row[px >> 1] & ~(0x0F << shift)) | ((index & 0x0F) << shift));
            } else {
                const int shift = 7 - (px & 7);
                row[px >> 3] = static_cast<std::uint8_t>((row[px >> 3] & ~(1 << shift)) | ((index & 1) << shift));
            }
        }
        break;
    }
    }
}

namespace {

// A plain copy between surfaces whose pixels mean the same bytes (one depth
// of whole bytes, one colour table) moves the bytes themselves.
bool SameBytes(DWORD rop, const GdiSurface* ss, const GdiSurface& ds)
{
    return rop == SRCCOPY && ss && ss->bpp == ds.bpp && ds.bpp >= 8 && ss->bpp >= 8
        && (ds.bpp > 8 || std::equal(ss->palette.begin(), ss->palette.end(), ds.palette.begin(), ds.palette.end(),
               [](const RGBQUAD& a, const RGBQUAD& b) { return std::memcmp(&a, &b, sizeof a) == 0; }));
}

}  // namespace

BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop)
{
    if (!dst || !KnownRop(rop) || (NeedsSource(rop) && !src)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (cx <= 0 || cy <= 0)
        return TRUE;
    RECT target{x, y, x + cx, y + cy};
    GdiSurface& ds = dst->bitmap->surface;
    const GdiSurface* ss = NeedsSource(rop) ? &src->bitmap->surface : nullptr;
    if (ss) {
        // Pixels whose source lies outside the source bitmap are left alone.
        RECT srcInDst{x - x1, y - y1, x - x1 + ss->width, y - y1 + ss->height};
        if (!IntersectRect(&target, &target, &srcInDst))
            return TRUE;
    }
    const bool sameSurface = ss == &ds;
    std::vector<std::uint32_t> sbuf(static_cast<std::size_t>(cx)), dbuf(static_cast<std::size_t>(cx));
    for (const RECT& vis : dst->VisibleRects()) {
        RECT r;
        if (!IntersectRect(&r, &vis, &target))
            continue;
        const int n = r.right - r.left;
        // Copying within one bitmap downwards walks the rows from the bottom
        // so that no source row is overwritten before it is read.
        const bool upward = sameSurface && y > y1;
        if (SameBytes(rop, ss, ds)) {
            const std::size_t bytes = static_cast<std::size_t>(n) * static_cast<std::size_t>(ds.bpp / 8);
            for (int k = 0; k < r.bottom - r.top; ++k) {
                const int row = upward ? r.bottom - 1 - k : r.top + k;
                std::memmove(ds.Row(row) + static_cast<std::size_t>(r.left) * static_cast<std::size_t>(ds.bpp / 8),
                    ss->Row(row - y + y1) + static_cast<std::size_t>(r.left - x + x1) * static_cast<std::size_t>(ds.bpp / 8),
                    bytes);
            }
            continue;
        }
        for (int k = 0; k < r.bottom - r.top; ++k) {
            const int row = upward ? r.bottom - 1 - k : r.top + k;
            if (ss) {
                ss->ReadSpan(r.left - x + x1, row - y + y1, n, sbuf.data());
                ConvertDepth(dst, src, sbuf.data(), n);
            }
            if (NeedsDest(rop))
                ds.ReadSpan(r.left, row, n, dbuf.data());
            ApplyRop(rop, sbuf.data(), dbuf.data(), n);
            ds.WriteSpan(r.left, row, n, dbuf.data());
        }
    }
    return TRUE;
}

namespace {

// The raster operation of one byte of a MAKEROP4 code; 0 for none known.
DWORD RopOfCode(DWORD code)
{
    constexpr DWORD kRops[] = {SRCCOPY, SRCPAINT, SRCAND, SRCINVERT, NOTSRCCOPY, DSTINVERT, BLACKNESS, WHITENESS};
    for (DWORD rop : kRops)
        if ((rop >> 16) == code)
            return rop;
    return 0;
}

constexpr DWORD kKeepDest = 0xAA;

void ApplyRopCode(DWORD code, const std::uint32_t* src, std::uint32_t* dst, int n)
{
    if (code != kKeepDest)
        ApplyRop(RopOfCode(code), src, dst, n);
}

}  // namespace

BOOL MaskBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, HBITMAP mask, int xMask, int yMask,
             DWORD rop4)
{
    const DWORD fore = (rop4 >> 16) & 0xFF, back = (rop4 >> 24) & 0xFF;
    const auto known = [](DWORD code) { return code == kKeepDest || RopOfCode(code) != 0; };
    if (!mask)
        return BitBlt(dst, x, y, cx, cy, src, x1, y1, fore == kKeepDest ? 0 : RopOfCode(fore));
    if (!dst || !src || !known(fore) || !known(back) || mask->surface.bpp != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (cx <= 0 || cy <= 0)
        return TRUE;
    const GdiSurface& ss = src->bitmap->surface;
    const GdiSurface& ms = mask->surface;
    GdiSurface& ds = dst->bitmap->surface;
    RECT target{x, y, x + cx, y + cy};
    RECT srcInDst{x - x1, y - y1, x - x1 + ss.width, y - y1 + ss.height};
    if (!IntersectRect(&target, &target, &srcInDst))
        return TRUE;
    std::vector<std::uint32_t> sbuf(static_cast<std::size_t>(cx)), fbuf(sbuf.size()), bbuf(sbuf.size()),
        mbuf(sbuf.size());
    for (const RECT& vis : dst->VisibleRects()) {
        RECT r;
        if (!IntersectRect(&r, &vis, &target))
            continue;
        const int n = r.right - r.left;
        for (int row = r.top; row < r.bottom; ++row) {
            ss.ReadSpan(r.left - x + x1, row - y + y1, n, sbuf.data());
            ConvertDepth(dst, src, sbuf.data(), n);
            ds.ReadSpan(r.left, row, n, fbuf.data());
            std::copy(fbuf.begin(), fbuf.begin() + n, bbuf.begin());
            ApplyRopCode(fore, sbuf.data(), fbuf.data(), n);
            ApplyRopCode(back, sbuf.data(), bbuf.data(), n);
            // Mask pixels outside the mask bitmap count as 0.
            const int my = row - y + yMask;
            std::fill(mbuf.begin(), mbuf.begin() + n, 0u);
            const int mx0 = r.left - x + xMask;
            const int lo = std::max(0, -mx0), hi = std::min(n, ms.width - mx0);
            if (my >= 0 && my < ms.height && hi > lo)
                ms.ReadSpan(mx0 + lo, my, hi - lo, mbuf.data() + lo);
            for (int i = 0; i < n; ++i)
                if (!mbuf[static_cast<std::size_t>(i)])
                    fbuf[static_cast<std::size_t>(i)] = bbuf[static_cast<std::size_t>(i)];
            ds.WriteSpan(r.left, row, n, fbuf.data());
        }
    }
    return TRUE;
}

int SetStretchBltMode(HDC hdc, int mode)
{
    if (!hdc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    const int old = hdc->stretchMode;
    hdc->stretchMode = mode;
    return old;
}

int GetStretchBltMode(HDC hdc) { return hdc ? hdc->stretchMode : 0; }

// StretchBlt maps destination pixel i of a span of wd pixels to the source
// pixels floor(i * ws / wd) up to floor((i + 1) * ws / wd) - 1 (at least
// one). COLORONCOLOR takes the first of them, BLACKONWHITE ANDs them,
// WHITEONBLACK ORs them and HALFTONE averages them, in both directions.
// A negative width or height on one side mirrors the picture.
BOOL StretchBlt(HDC dst, int xDst, int yDst, int wDst, int hDst, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                DWORD rop)
{
    if (!dst || !KnownRop(rop) || (NeedsSource(rop) && !src)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!NeedsSource(rop))
        return BitBlt(dst, std::min(xDst, xDst + wDst), std::min(yDst, yDst + hDst), std::abs(wDst), std::abs(hDst),
                      nullptr, 0, 0, rop);
    if (wDst == 0 || hDst == 0 || wSrc == 0 || hSrc == 0)
        return TRUE;
    // Every destination pixel of an unscaled, unmirrored copy has exactly
    // one source pixel, whatever the stretch mode.
    if (wDst == wSrc && hDst == hSrc && wDst > 0 && hDst > 0)
        return BitBlt(dst, xDst, yDst, wDst, hDst, src, xSrc, ySrc, rop);
    bool mirrorX = false, mirrorY = false;
    auto normalise = [](int& pos, int& size, bool& mirror) {
        if (size < 0) {
            pos += size;
            size = -size;
            mirror = !mirror;
        }
    };
    normalise(xDst, wDst, mirrorX);
    normalise(yDst, hDst, mirrorY);
    normalise(xSrc, wSrc, mirrorX);
    normalise(ySrc, hSrc, mirrorY);

    const GdiSurface& ss = src->bitmap->surface;
    GdiSurface& ds = dst->bitmap->surface;
    const int mode = dst->stretchMode;
    auto box = [](long long i, long long ws, long long wd, int& first, int& count) {
        const long long a = i * ws / wd;
        long long b = (i + 1) * ws / wd;
        if (b <= a)
            b = a + 1;
        first = static_cast<int>(a);
        count = static_cast<int>(b - a);
    };
    // Source columns of every destination column (relative to xSrc).
    std::vector<int> colFirst(static_cast<std::size_t>(wDst)), colCount(static_cast<std::size_t>(wDst));
    for (int i = 0; i < wDst; ++i) {
        box(i, wSrc, wDst, colFirst[static_cast<std::size_t>(i)], colCount[static_cast<std::size_t>(i)]);
    }
    std::vector<std::uint32_t> srow(static_cast<std::size_t>(ss.width));
    std::vector<std::uint32_t> acc, out(static_cast<std::size_t>(wDst)), dbuf(static_cast<std::size_t>(wDst));
    std::vector<std::uint64_t> sum[3];
    std::vector<int> weight;
    const RECT target{xDst, yDst, xDst + wDst, yDst + hDst};
    std::vector<unsigned char> valid(static_cast<std::size_t>(wDst));

    for (const RECT& vis : dst->VisibleRects()) {
        RECT r;
        if (!IntersectRect(&r, &vis, &target))
            continue;
        for (int row = r.top; row < r.bottom; ++row) {
            int rFirst = 0, rCount = 0;
            box(row - yDst, hSrc, hDst, rFirst, rCount);
            if (mode == COLORONCOLOR)
                rCount = 1;
            const int n = r.right - r.left;
            const int c0 = r.left - xDst;
            for (int k = 0; k < 3; ++k)
                sum[k].assign(static_cast<std::size_t>(n), 0);
            weight.assign(static_cast<std::size_t>(n), 0);
            acc.assign(static_cast<std::size_t>(n), mode == BLACKONWHITE ? 0x00FFFFFFu : 0u);
            std::fill(valid.begin(), valid.end(), 0);
            for (int sr = 0; sr < rCount; ++sr) {
                const int sy = ySrc + (mirrorY ? hSrc - 1 - (rFirst + sr) : rFirst + sr);
                if (sy < 0 || sy >= ss.height)
                    continue;
                ss.ReadSpan(0, sy, ss.width, srow.data());
                ConvertDepth(dst, src, srow.data(), ss.width);
                for (int i = 0; i < n; ++i) {
                    const auto ci = static_cast<std::size_t>(c0 + i);
                    const int cnt = mode == COLORONCOLOR ? 1 : colCount[ci];
                    for (int sc = 0; sc < cnt; ++sc) {
                        const int sx = xSrc + (mirrorX ? wSrc - 1 - (colFirst[ci] + sc) : colFirst[ci] + sc);
                        if (sx < 0 || sx >= ss.width)
                            continue;
                        const std::uint32_t p = srow[static_cast<std::size_t>(sx)];
                        valid[static_cast<std::size_t>(i)] = 1;
                        switch (mode) {
                        case BLACKONWHITE: acc[static_cast<std::size_t>(i)] &= p; break;
                        case WHITEONBLACK: acc[static_cast<std::size_t>(i)] |= p; break;
                        case COLORONCOLOR: acc[static_cast<std::size_t>(i)] = p; break;
                        default:
                            sum[0][static_cast<std::size_t>(i)] += p & 0xFF;
                            sum[1][static_cast<std::size_t>(i)] += (p >> 8) & 0xFF;
                            sum[2][static_cast<std::size_t>(i)] += (p >> 16) & 0xFF;
                            weight[static_cast<std::size_t>(i)]++;
                        }
                    }
                }
            }
            if (mode == HALFTONE)
                for (int i = 0; i < n; ++i) {
                    const auto k = static_cast<std::size_t>(i);
                    const std::uint64_t w = weight[k] ? static_cast<std::uint64_t>(weight[k]) : 1;
                    acc[k] = static_cast<std::uint32_t>(((sum[2][k] + w / 2) / w) << 16 | ((sum[1][k] + w / 2) / w) << 8 |
                                                        ((sum[0][k] + w / 2) / w));
                }
            ds.ReadSpan(r.left, row, n, dbuf.data());
            std::copy(dbuf.begin(), dbuf.begin() + n, out.begin());
            ApplyRop(rop, acc.data(), out.data(), n);
            // Destination pixels whose source lies outside the source bitmap keep their value.
            for (int i = 0; i < n; ++i)
                if (!valid[static_cast<std::size_t>(i)])
                    out[static_cast<std::size_t>(i)] = dbuf[static_cast<std::size_t>(i)];
            ds.WriteSpan(r.left, row, n, out.data());
        }
    }
    return TRUE;
}

// The DIB's source rectangle starts at (xSrc, ySrc), its lower-left corner
// for a bottom-up DIB and its upper-left corner for a top-down one; the
// caller supplies the scan lines startScan to startScan + cLines - 1.
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT startScan,
                      UINT cLines, const void* bits, const BITMAPINFO* bmi, UINT colorUse)
{
    if (!hdc || !bits || !bmi || colorUse != DIB_RGB_COLORS || bmi->bmiHeader.biSize < 40 ||
        bmi->bmiHeader.biCompression != BI_RGB || bmi->bmiHeader.biWidth <= 0 || bmi->bmiHeader.biHeight == 0 ||
        bmi->bmiHeader.biHeight == std::numeric_limits<LONG>::min() || w > 0x7FFFFFFF || h > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const BITMAPINFOHEADER& hd = bmi->bmiHeader;
    const int bpp = hd.biBitCount;
    const std::size_t stride = GdiStride(hd.biWidth, bpp);
    if (stride == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool topDown = hd.biHeight < 0;
    const long long dibHeight = topDown ? -static_cast<long long>(hd.biHeight) : hd.biHeight;
    if (cLines == 0 || startScan >= dibHeight)
        return 0;
    const UINT lines = static_cast<UINT>(std::min<long long>(cLines, dibHeight - startScan));

    // A view over the caller's scan lines; it never owns them.
    GdiSurface view;
    view.width = hd.biWidth;
    view.height = static_cast<int>(lines);
    view.bpp = bpp;
    view.topDown = topDown;
    view.stride = stride;
    view.bits = const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(bits));
    if (bpp <= 8) {
        const std::size_t max = std::size_t{1} << bpp;
        const std::size_t n = hd.biClrUsed && hd.biClrUsed < max ? hd.biClrUsed : max;
        const auto* colors = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(bmi) + hd.biSize);
        view.palette.assign(colors, colors + n);
    }

    GdiSurface& ds = hdc->bitmap->surface;
    const RECT target{xDest, yDest, static_cast<LONG>(xDest + static_cast<long long>(w)),
                      static_cast<LONG>(yDest + static_cast<long long>(h))};
    std::vector<std::uint32_t> buf;
    for (const RECT& vis : hdc->VisibleRects()) {
        RECT r;
        if (!IntersectRect(&r, &vis, &target))
            continue;
        // Columns that exist in the DIB.
        const long long sx0 = static_cast<long long>(xSrc) + (r.left - xDest);
        const long long lo = std::max<long long>(0, -sx0);
        const long long hi = std::min<long long>(r.right - r.left, hd.biWidth - sx0);
        if (hi <= lo)
            continue;
        buf.resize(static_cast<std::size_t>(hi - lo));
        for (int row = r.top; row < r.bottom; ++row) {
            const long long dy = row - yDest;
            // Row of the whole DIB, counted from its first stored line.
            const long long dibRow = topDown ? ySrc + dy : ySrc + (static_cast<long long>(h) - 1 - dy);
            const long long band = dibRow - startScan;
            if (band < 0 || band >= lines)
                continue;
            const int viewRow = topDown ? static_cast<int>(band) : static_cast<int>(lines - 1 - band);
            view.ReadSpan(static_cast<int>(sx0 + lo), viewRow, static_cast<int>(hi - lo), buf.data());
            ds.WriteSpan(static_cast<int>(r.left + lo), row, static_cast<int>(hi - lo), buf.data());
        }
    }
    view.bits = nullptr;
    return static_cast<int>(lines);
}
