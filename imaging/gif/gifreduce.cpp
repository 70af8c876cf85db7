// Colour reduction: a palette chosen by the method, a lookup into it, and a
// dithering engine walking the picture row by row.
#include "imaging/gif/gifdib.h"
#include "imaging/gif/gifdither.h"
#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifquantize.h"

namespace {

// Pictures above this many pixels start their result as a 1-bit bitmap, so
// that the empty result does not hold a full-colour picture meanwhile.
constexpr std::int64_t kLargePicture = 500000;

struct PaletteDeleter {
    void operator()(GdiPalette* palette) const { DeleteObject(palette); }
};
using OwnedPalette = std::unique_ptr<GdiPalette, PaletteDeleter>;

// A palette of the caller's own with the entries of another.
HPALETTE CopyPalette(HPALETTE source)
{
    const UINT count = source ? GetPaletteEntries(source, 0, 0, nullptr) : 0;
    if (count == 0)
        return nullptr;
    std::vector<std::uint8_t> memory(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    auto* logical = reinterpret_cast<LOGPALETTE*>(memory.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(count);
    GetPaletteEntries(source, 0, count, logical->palPalEntry);
    return CreatePalette(logical);
}

HPALETTE PaletteFor(TColorReduction reduction, TBitmap& bitmap, int reductionBits, HPALETTE given)
{
    switch (reduction) {
    case rmWindows20: return CopyPalette(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
    case rmWindows256: return CreateWindowsHalftonePalette();
    case rmWindowsGray: return CreateWindowsGrayPalette();
    case rmMonochrome: return CreateMonochromePalette();
    case rmGrayScale: return CreateGrayScalePalette();
    case rmNetscape: return WebPalette();
    case rmQuantize:
        if (reductionBits < 1 || reductionBits > 8)
            throw GIFException("Invalid color count");
        return CreateOptimizedPaletteForBitmap(bitmap, 1 << reductionBits, 8, false);
    case rmQuantizeWindows: return CreateOptimizedPaletteForBitmap(bitmap, 256, 8, true);
    case rmPalette: return CopyPalette(given);
    case rmNone: break;
    }
    return nullptr;
}

std::unique_ptr<TColorLookup> LookupFor(TColorReduction reduction, HPALETTE palette)
{
    switch (reduction) {
    case rmMonochrome: return std::make_unique<TMonochromeLookup>();
    case rmGrayScale: return std::make_unique<TGrayScaleLookup>();
    case rmNetscape: return std::make_unique<TNetscapeColorLookup>();
    default: return std::make_unique<TFastColorLookup>(palette);
    }
}

std::unique_ptr<TDitherEngine> EngineFor(TDitherMode mode, int width, TColorLookup& lookup)
{
    switch (mode) {
    case dmNearest: return std::make_unique<TDitherEngine>(width, lookup);
    case dmFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case dmStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
    case dmSierra: return std::make_unique<TSierraDitherer>(width, lookup);
    case dmJaJuNI: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case dmSteveArche: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case dmBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<TBitmap> ReduceColors(TBitmap& bitmap, TColorReduction reduction, TDitherMode dither,
                                      int reductionBits, HPALETTE palette)
{
    auto result = std::make_unique<TBitmap>();
    if (reduction == rmNone) {
        result->Assign(bitmap);
        result->SetPixelFormat(pf24bit);
        return result;
    }
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (static_cast<std::int64_t>(width) * height > kLargePicture)
        result->SetPixelFormat(pf1bit);

    TDIBReader reader(bitmap, pf24bit);
    const OwnedPalette used(PaletteFor(reduction, bitmap, reductionBits, palette));
    if (!used)
        return result;
    const auto lookup = LookupFor(reduction, used.get());
    if (lookup->Colors() == 0)
        return result;
    const auto engine = EngineFor(dither, width, *lookup);
    if (!engine)
        return result;

    TDIBWriter writer(*result, pf8bit, width, height, used.get());
    int r = 0, g = 0, b = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = reader.GetScanline(y);
        std::uint8_t* target = writer.GetScanline(y);
        for (int x = engine->Column(); x >= 0 && x < width; x = engine->Column()) {
            const std::uint8_t* p = source + static_cast<std::size_t>(x) * 3;
            target[x] = engine->DitherPixel(p[2], p[1], p[0], r, g, b);
        }
        engine->AdvanceLine();
    }
    writer.Store();
    return result;
}
