// Internals of the GDI layer: the memory surfaces behind bitmaps, the
// rectangle lists behind regions and the state of a device context.
#pragma once

#include "gdi/wingdi.h"

#include <cstdint>
#include <vector>

enum class GdiKind { Bitmap, Region, Palette, DC };

// Every GDI object, and every device context, starts with its kind, so that
// an untyped handle can be told apart (GetObjectType). The objects are not polymorphic: a handle is the address of
// the object and of its GdiObject part alike.
struct GdiObject {
    explicit GdiObject(GdiKind k) : kind(k) {}
    GdiKind kind;
};

inline GdiObject* AsGdiObject(HGDIOBJ h) { return static_cast<GdiObject*>(h); }

// A device-independent pixel surface: 1, 4, 8, 24 or 32 bits per pixel,
// rows padded to 4 bytes, bottom row first unless topDown is set. The pixels
// either belong to the surface or, for a view over caller memory
// (SetDIBitsToDevice), to the caller.
struct GdiSurface {
    int width = 0;
    int height = 0;
    int bpp = 0;
    bool topDown = false;
    std::size_t stride = 0;
    std::vector<RGBQUAD> palette;
    std::uint8_t* bits = nullptr;

    // Address of the row with the given top-down index (0 = top row).
    std::uint8_t* Row(int y) const
    {
        const int stored = topDown ? y : height - 1 - y;
        return bits + static_cast<std::size_t>(stored) * stride;
    }

    // Pixel colours are passed as 0x00RRGGBB words (the RGBQUAD layout).
    void ReadSpan(int x, int y, int n, std::uint32_t* out) const;
    void WriteSpan(int x, int y, int n, const std::uint32_t* in);
    std::uint8_t NearestIndex(std::uint32_t color) const;
};

// Row stride of a DIB; 0 when the sizes do not fit the layer's limits.
std::size_t GdiStride(int width, int bpp);

struct GdiBitmap : GdiObject {
    GdiBitmap() : GdiObject(GdiKind::Bitmap) {}
    ~GdiBitmap();
    GdiSurface surface;
    int selectedCount = 0;
    bool stock = false;
    // A device-dependent monochrome bitmap: blitted onto colour it shows the
    // target's text colour for 0 bits and its background colour for 1 bits,
    // and colour blitted onto it gives 1 where the source matches the
    // source's background colour. A 1-bit DIB goes by its colour table.
    bool monochrome = false;
};

struct GdiRegion : GdiObject {
    GdiRegion() : GdiObject(GdiKind::Region) {}
    // Disjoint, non-empty rectangles.
    std::vector<RECT> rects;
};

struct GdiPalette : GdiObject {
    GdiPalette() : GdiObject(GdiKind::Palette) {}
    std::vector<PALETTEENTRY> entries;
    bool stock = false;  // GetStockObject's: DeleteObject leaves it alone
};

struct GdiDC : GdiObject {
    GdiDC() : GdiObject(GdiKind::DC) {}
    GdiBitmap* bitmap = nullptr;
    bool screen = false;  // the screen's DC from GetDC
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
    bool hasClip = false;
    std::vector<RECT> clip;  // disjoint, in device coordinates
    int stretchMode = BLACKONWHITE;
    GdiPalette* palette = nullptr;

    // The rectangles that may be painted: the clip region cut to the bitmap.
    std::vector<RECT> VisibleRects() const;
};

// Region arithmetic on disjoint rectangle lists.
std::vector<RECT> RectsIntersect(const std::vector<RECT>& a, const std::vector<RECT>& b);
std::vector<RECT> RectsSubtract(const std::vector<RECT>& a, const std::vector<RECT>& b);
std::vector<RECT> RectsUnion(const std::vector<RECT>& a, const std::vector<RECT>& b);
RECT RectsBox(const std::vector<RECT>& rects);
