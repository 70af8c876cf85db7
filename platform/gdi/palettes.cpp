// The system palettes: the 20 static colours every palette display keeps,
// and the halftone palette built around them.
#include "gdi/gdi_p.h"

#include <array>

namespace {

constexpr std::array<PALETTEENTRY, 20> kStaticColors{{
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
}};

constexpr int kHalftoneGreys = 20;

}  // namespace

HPALETTE CreateHalftonePalette(HDC)
{
    auto* palette = new GdiPalette;
    auto& e = palette->entries;
    e.assign(kStaticColors.begin(), kStaticColors.begin() + 10);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                e.push_back({static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(b * 51), 0});
    // Greys at 255/21 steps, none of which the cube already holds.
    for (int k = 1; k <= kHalftoneGreys; ++k) {
        const auto v = static_cast<BYTE>((255 * k + 10) / 21);
        e.push_back({v, v, v, 0});
    }
    e.insert(e.end(), kStaticColors.begin() + 10, kStaticColors.end());
    return palette;
}

HGDIOBJ GetStockObject(int index)
{
    if (index != DEFAULT_PALETTE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    static GdiPalette* const defaultPalette = [] {
        auto* p = new GdiPalette;
        p->entries.assign(kStaticColors.begin(), kStaticColors.end());
        p->stock = true;
        return p;
    }();
    return static_cast<GdiObject*>(defaultPalette);
}
