// Device contexts, bitmaps, regions and palettes over memory surfaces.
#include "gdi/gdi_p.h"

#include "win/memadvise.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// A surface larger than this is refused like an allocation that failed.
constexpr std::uint64_t kMaxSurfaceBytes = 1ull << 31;

GdiBitmap* StockBitmap()
{
    // The 1 x 1 monochrome bitmap every new memory DC holds. It lives for the
    // whole process and DeleteObject ignores it, as for Windows' stock objects.
    static GdiBitmap* stock = [] {
        auto* b = new GdiBitmap;
        b->stock = true;
        b->monochrome = true;
        b->surface.width = 1;
        b->surface.height = 1;
        b->surface.bpp = 1;
        b->surface.stride = 4;
        b->surface.palette = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
        b->surface.bits = static_cast<std::uint8_t*>(std::calloc(1, 4));
        return b;
    }();
    return stock;
}

bool ValidBpp(int bpp) { return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32; }

GdiBitmap* NewBitmap(int width, int height, int bpp, bool topDown)
{
    if (width <= 0 || height <= 0 || !ValidBpp(bpp)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::size_t stride = GdiStride(width, bpp);
    if (stride == 0 || static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height) > kMaxSurfaceBytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    auto* bits = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    if (!bits) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A large surface is filled in one sweep (a decoded picture, a copy):
    // huge pages, and the kernel clearing them on another thread meanwhile.
    AdviseHugePages(bits, bytes);
    PopulateInBackground(bits, bytes);
    auto* b = new GdiBitmap;
    b->surface.width = width;
    b->surface.height = height;
    b->surface.bpp = bpp;
    b->surface.topDown = topDown;
    b->surface.stride = stride;
    b->surface.bits = bits;
    if (bpp <= 8)
        b->surface.palette.assign(std::size_t{1} << bpp, RGBQUAD{0, 0, 0, 0});
    return b;
}

std::vector<RECT> SubtractOne(const RECT& a, const RECT& b)
{
    RECT i;
    if (!IntersectRect(&i, &a, &b))
        return {a};
    std::vector<RECT> out;
    if (a.top < i.top)
        out.push_back({a.left, a.top, a.right, i.top});
    if (i.bottom < a.bottom)
        out.push_back({a.left, i.bottom, a.right, a.bottom});
    if (a.left < i.left)
        out.push_back({a.left, i.top, i.left, i.bottom});
    if (i.right < a.right)
        out.push_back({i.right, i.top, a.right, i.bottom});
    return out;
}

int RegionKind(const std::vector<RECT>& rects)
{
    if (rects.empty())
        return NULLREGION;
    return rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

RECT BitmapBounds(const GdiDC* dc)
{
    return RECT{0, 0, dc->bitmap->surface.width, dc->bitmap->surface.height};
}

}  // namespace

std::size_t GdiStride(int width, int bpp)
{
    if (width <= 0 || width > 0x7FFFFFF || !ValidBpp(bpp))
        return 0;
    return static_cast<std::size_t>((static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4);
}

GdiBitmap::~GdiBitmap() { std::free(surface.bits); }

BOOL SetRect(RECT* rc, int left, int top, int right, int bottom)
{
    if (!rc)
        return FALSE;
    *rc = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL IsRectEmpty(const RECT* rc) { return !rc || rc->left >= rc->right || rc->top >= rc->bottom; }

BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b)
{
    RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
           std::min(a->bottom, b->bottom)};
    if (IsRectEmpty(&r)) {
        *dst = RECT{0, 0, 0, 0};
        return FALSE;
    }
    *dst = r;
    return TRUE;
}

BOOL EqualRect(const RECT* a, const RECT* b)
{
    return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

std::vector<RECT> RectsIntersect(const std::vector<RECT>& a, const std::vector<RECT>& b)
{
    std::vector<RECT> out;
    for (const RECT& ra : a)
        for (const RECT& rb : b) {
            RECT i;
            if (IntersectRect(&i, &ra, &rb))
                out.push_back(i);
        }
    return out;
}

std::vector<RECT> RectsSubtract(const std::vector<RECT>& a, const std::vector<RECT>& b)
{
    std::vector<RECT> cur = a;
    for (const RECT& rb : b) {
        std::vector<RECT> next;
        for (const RECT& ra : cur) {
            auto pieces = SubtractOne(ra, rb);
            next.insert(next.end(), pieces.begin(), pieces.end());
        }
        cur.swap(next);
    }
    return cur;
}

std::vector<RECT> RectsUnion(const std::vector<RECT>& a, const std::vector<RECT>& b)
{
    std::vector<RECT> out = a;
    auto extra = RectsSubtract(b, a);
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

RECT RectsBox(const std::vector<RECT>& rects)
{
    if (rects.empty())
        return RECT{0, 0, 0, 0};
    RECT box = rects.front();
    for (const RECT& r : rects) {
        box.left = std::min(box.left, r.left);
        box.top = std::min(box.top, r.top);
        box.right = std::max(box.right, r.right);
        box.bottom = std::max(box.bottom, r.bottom);
    }
    return box;
}

std::vector<RECT> GdiDC::VisibleRects() const
{
    const RECT bounds{0, 0, bitmap->surface.width, bitmap->surface.height};
    if (!hasClip)
        return {bounds};
    return RectsIntersect(clip, {bounds});
}

HDC CreateCompatibleDC(HDC)
{
    auto* dc = new GdiDC;
    dc->bitmap = StockBitmap();
    dc->bitmap->selectedCount++;
    return dc;
}

BOOL DeleteDC(HDC hdc)
{
    if (!hdc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    hdc->bitmap->selectedCount--;
    delete hdc;
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ handle)
{
    GdiObject* obj = AsGdiObject(handle);
    if (!hdc || !obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    switch (obj->kind) {
    case GdiKind::Bitmap: {
        auto* bmp = static_cast<GdiBitmap*>(obj);
        // A bitmap can be selected into one memory DC at a time.
        if (bmp != hdc->bitmap && bmp->selectedCount > 0 && !bmp->stock) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        GdiBitmap* old = hdc->bitmap;
        old->selectedCount--;
        bmp->selectedCount++;
        hdc->bitmap = bmp;
        return static_cast<GdiObject*>(old);
    }
    case GdiKind::Region: {
        // Selecting a region sets the clip region and answers the region kind.
        const int kind = SelectClipRgn(hdc, static_cast<GdiRegion*>(obj));
        return reinterpret_cast<HGDIOBJ>(static_cast<std::intptr_t>(kind));
    }
    case GdiKind::Palette:
    case GdiKind::DC:
        break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

HGDIOBJ GetCurrentBitmap(HDC hdc) { return hdc ? static_cast<GdiObject*>(hdc->bitmap) : nullptr; }

BOOL DeleteObject(HGDIOBJ handle)
{
    GdiObject* obj = AsGdiObject(handle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (obj->kind) {
    case GdiKind::Bitmap: {
        auto* bmp = static_cast<GdiBitmap*>(obj);
        if (bmp->stock)
            return TRUE;
        if (bmp->selectedCount > 0)
            return FALSE;  // Windows refuses to delete a bitmap that is selected into a DC.
        delete bmp;
        break;
    }
    case GdiKind::Region:
        delete static_cast<GdiRegion*>(obj);
        break;
    case GdiKind::Palette:
        if (!static_cast<GdiPalette*>(obj)->stock)
            delete static_cast<GdiPalette*>(obj);
        break;
    case GdiKind::DC:
        // A device context goes with DeleteDC or ReleaseDC, never here.
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetObjectType(HGDIOBJ handle)
{
    const GdiObject* obj = AsGdiObject(handle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    switch (obj->kind) {
    case GdiKind::Bitmap: return OBJ_BITMAP;
    case GdiKind::Region: return OBJ_REGION;
    case GdiKind::Palette: return OBJ_PAL;
    case GdiKind::DC: return static_cast<const GdiDC*>(obj)->screen ? OBJ_DC : OBJ_MEMDC;
    }
    return 0;
}

int GetObject(HGDIOBJ handle, int size, LPVOID out)
{
    GdiObject* obj = AsGdiObject(handle);
    if (!obj || obj->kind != GdiKind::Bitmap)
        return 0;
    if (!out)
        return static_cast<int>(sizeof(BITMAP));
    if (size < static_cast<int>(sizeof(BITMAP)))
        return 0;
    const GdiSurface& s = static_cast<GdiBitmap*>(obj)->surface;
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = s.width;
    bm.bmHeight = s.height;
    bm.bmWidthBytes = static_cast<LONG>(s.stride);
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(s.bpp);
    bm.bmBits = s.bits;
    std::memcpy(out, &bm, sizeof bm);
    return static_cast<int>(sizeof bm);
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height)
{
    if (!hdc || hdc->screen)
        return NewBitmap(width, height, 32, false);
    const GdiSurface& sel = hdc->bitmap->surface;
    GdiBitmap* b = NewBitmap(width, height, sel.bpp, false);
    if (b && sel.bpp <= 8)
        b->surface.palette = sel.palette;
    if (b)
        b->monochrome = hdc->bitmap->monochrome;
    return b;
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits)
{
    if (planes != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiBitmap* b = NewBitmap(width, height, static_cast<int>(bitCount), true);
    if (!b)
        return nullptr;
    if (b->surface.bpp == 1) {
        b->surface.palette = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
        b->monochrome = true;
    }
    if (bits) {
        // Device-dependent bitmap rows are word aligned and top row first.
        const std::size_t srcStride = (static_cast<std::size_t>(width) * bitCount + 15) / 16 * 2;
        const auto* src = static_cast<const std::uint8_t*>(bits);
        for (int y = 0; y < height; ++y)
            std::memcpy(b->surface.Row(y), src + srcStride * static_cast<std::size_t>(y), srcStride);
    }
    return b;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section, DWORD)
{
    if (bits)
        *bits = nullptr;
    if (!bmi || section || usage != DIB_RGB_COLORS || bmi->bmiHeader.biSize < 40 ||
        bmi->bmiHeader.biCompression != BI_RGB || bmi->bmiHeader.biHeight == std::numeric_limits<LONG>::min()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const BITMAPINFOHEADER& h = bmi->bmiHeader;
    const bool topDown = h.biHeight < 0;
    GdiBitmap* b = NewBitmap(h.biWidth, topDown ? -h.biHeight : h.biHeight, h.biBitCount, topDown);
    if (!b)
        return nullptr;
    if (h.biBitCount <= 8) {
        const std::size_t max = std::size_t{1} << h.biBitCount;
        const std::size_t n = h.biClrUsed && h.biClrUsed < max ? h.biClrUsed : max;
        const auto* colors = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(bmi) + h.biSize);
        std::copy(colors, colors + n, b->surface.palette.begin());
    }
    if (bits)
        *bits = b->surface.bits;
    return b;
}

COLORREF GetPixel(HDC hdc, int x, int y)
{
    if (!hdc || !PtVisible(hdc, x, y))
        return CLR_INVALID;
    std::uint32_t c = 0;
    hdc->bitmap->surface.ReadSpan(x, y, 1, &c);
    return RGB(static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c));
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    if (!hdc || !PtVisible(hdc, x, y))
        return CLR_INVALID;
    const std::uint32_t c = (static_cast<std::uint32_t>(GetRValue(color)) << 16) |
                            (static_cast<std::uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
    hdc->bitmap->surface.WriteSpan(x, y, 1, &c);
    return GetPixel(hdc, x, y);
}

HRGN CreateRectRgn(int left, int top, int right, int bottom)
{
    auto* r = new GdiRegion;
    RECT rc{std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    if (!IsRectEmpty(&rc))
        r->rects.push_back(rc);
    return r;
}

HRGN CreateRectRgnIndirect(const RECT* rc)
{
    return rc ? CreateRectRgn(rc->left, rc->top, rc->right, rc->bottom) : nullptr;
}

namespace {
std::vector<RECT> Combine(const std::vector<RECT>& a, const std::vector<RECT>& b, int mode, bool* ok)
{
    *ok = true;
    switch (mode) {
    case RGN_AND:
        return RectsIntersect(a, b);
    case RGN_OR:
        return RectsUnion(a, b);
    case RGN_XOR:
        return RectsUnion(RectsSubtract(a, b), RectsSubtract(b, a));
    case RGN_DIFF:
        return RectsSubtract(a, b);
    case RGN_COPY:
        return a;
    }
    *ok = false;
    return {};
}
}  // namespace

int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode)
{
    if (!dst || !a || (mode != RGN_COPY && !b))
        return ERROR;
    bool ok = false;
    auto rects = Combine(a->rects, b ? b->rects : std::vector<RECT>{}, mode, &ok);
    if (!ok)
        return ERROR;
    dst->rects = std::move(rects);
    return RegionKind(dst->rects);
}

int GetRgnBox(HRGN rgn, RECT* rc)
{
    if (!rgn || !rc)
        return ERROR;
    *rc = RectsBox(rgn->rects);
    return RegionKind(rgn->rects);
}

BOOL PtInRegion(HRGN rgn, int x, int y)
{
    if (!rgn)
        return FALSE;
    for (const RECT& r : rgn->rects)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return TRUE;
    return FALSE;
}

int SelectClipRgn(HDC hdc, HRGN rgn) { return ExtSelectClipRgn(hdc, rgn, RGN_COPY); }

int ExtSelectClipRgn(HDC hdc, HRGN rgn, int mode)
{
    if (!hdc)
        return ERROR;
    if (!rgn) {
        // Only RGN_COPY accepts a null region: it removes the clip region.
        if (mode != RGN_COPY)
            return ERROR;
        hdc->hasClip = false;
        hdc->clip.clear();
        return SIMPLEREGION;
    }
    // Without a clip region the whole bitmap is the current region.
    const std::vector<RECT> current = hdc->hasClip ? hdc->clip : std::vector<RECT>{BitmapBounds(hdc)};
    bool ok = false;
    std::vector<RECT> next = mode == RGN_COPY ? rgn->rects : Combine(current, rgn->rects, mode, &ok);
    if (mode != RGN_COPY && !ok)
        return ERROR;
    hdc->clip = std::move(next);
    hdc->hasClip = true;
    return RegionKind(hdc->VisibleRects());
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom)
{
    GdiRegion r;
    RECT rc{left, top, right, bottom};
    if (!IsRectEmpty(&rc))
        r.rects.push_back(rc);
    return ExtSelectClipRgn(hdc, &r, RGN_AND);
}

int GetClipBox(HDC hdc, RECT* rc)
{
    if (!hdc || !rc)
        return ERROR;
    const auto rects = hdc->VisibleRects();
    *rc = RectsBox(rects);
    return RegionKind(rects);
}

int GetClipRgn(HDC hdc, HRGN rgn)
{
    if (!hdc || !rgn)
        return -1;
    if (!hdc->hasClip)
        return 0;
    rgn->rects = hdc->clip;
    return 1;
}

BOOL PtVisible(HDC hdc, int x, int y)
{
    if (!hdc)
        return FALSE;
    for (const RECT& r : hdc->VisibleRects())
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
            return TRUE;
    return FALSE;
}

HPALETTE CreatePalette(const LOGPALETTE* pal)
{
    if (!pal || pal->palNumEntries == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* p = new GdiPalette;
    p->entries.assign(pal->palPalEntry, pal->palPalEntry + pal->palNumEntries);
    return p;
}

UINT GetPaletteEntries(HPALETTE pal, UINT start, UINT count, PALETTEENTRY* entries)
{
    if (!pal)
        return 0;
    if (!entries)
        return static_cast<UINT>(pal->entries.size());
    if (start >= pal->entries.size())
        return 0;
    const UINT n = std::min<UINT>(count, static_cast<UINT>(pal->entries.size()) - start);
    std::copy(pal->entries.begin() + start, pal->entries.begin() + start + n, entries);
    return n;
}

HPALETTE SelectPalette(HDC hdc, HPALETTE pal, BOOL)
{
    if (!hdc || !pal)
        return nullptr;
    HPALETTE old = hdc->palette;
    hdc->palette = pal;
    return old ? old : pal;
}

UINT RealizePalette(HDC hdc) { return hdc ? 0 : static_cast<UINT>(-1); }

UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors)
{
    if (!hdc || !colors)
        return 0;
    const auto& pal = hdc->bitmap->surface.palette;
    if (start >= pal.size())
        return 0;
    const UINT n = std::min<UINT>(count, static_cast<UINT>(pal.size()) - start);
    std::copy(pal.begin() + start, pal.begin() + start + n, colors);
    return n;
}

UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors)
{
    if (!hdc || !colors || hdc->bitmap->stock)
        return 0;
    auto& pal = hdc->bitmap->surface.palette;
    if (start >= pal.size())
        return 0;
    const UINT n = std::min<UINT>(count, static_cast<UINT>(pal.size()) - start);
    std::copy(colors, colors + n, pal.begin() + start);
    return n;
}
