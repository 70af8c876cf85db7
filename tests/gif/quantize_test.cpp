// The octree quantizer and the palettes colour reduction maps onto: tree
// order, merging into averages, the static colours around quantized ones,
// the fixed palettes, and the refused colour counts.
#include "imaging/gif/gifquantize.h"

#include "vcl/graphics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Rgb = std::tuple<int, int, int>;

std::vector<Rgb> Entries(HPALETTE palette)
{
    std::vector<PALETTEENTRY> e(GetPaletteEntries(palette, 0, 0, nullptr));
    GetPaletteEntries(palette, 0, static_cast<UINT>(e.size()), e.data());
    std::vector<Rgb> out;
    for (const auto& p : e)
        out.emplace_back(p.peRed, p.peGreen, p.peBlue);
    return out;
}

std::vector<Rgb> Quantize(const std::vector<Rgb>& pixels, int limit)
{
    std::vector<std::uint8_t> row;
    for (const auto& [r, g, b] : pixels) {
        row.push_back(static_cast<std::uint8_t>(b));
        row.push_back(static_cast<std::uint8_t>(g));
        row.push_back(static_cast<std::uint8_t>(r));
    }
    TColorQuantizer q(limit, 8);
    q.AddRow(row.data(), static_cast<int>(pixels.size()));
    std::vector<Rgb> out;
    for (const RGBQUAD& c : q.ColorTable())
        out.emplace_back(c.rgbRed, c.rgbGreen, c.rgbBlue);
    return out;
}

// A 24-bit bitmap whose pixels are the colours, in a row.
std::unique_ptr<TBitmap> Strip(const std::vector<Rgb>& colors)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(static_cast<int>(colors.size()), 1);
    std::uint8_t* row = bitmap->ScanLine(0);
    for (const auto& [r, g, b] : colors) {
        *row++ = static_cast<std::uint8_t>(b);
        *row++ = static_cast<std::uint8_t>(g);
        *row++ = static_cast<std::uint8_t>(r);
    }
    return bitmap;
}

TEST(GifQuantizer, OneEntryPerColorInTreeOrder)
{
    // Below the limit every colour keeps a leaf of its own; the walk takes
    // the children by the bits of red, green and blue from the top bit.
    const std::vector<Rgb> pixels{{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {10, 10, 10}, {0, 0, 255}, {10, 10, 11}};
    EXPECT_EQ(Quantize(pixels, 256),
              (std::vector<Rgb>{{10, 10, 10}, {10, 10, 11}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}}));
}

TEST(GifQuantizer, MergesIntoAverages)
{
    struct Case {
        std::vector<Rgb> pixels;
        int limit;
        std::vector<Rgb> expected;
    } cases[] = {
        // Three black and one white pixel in one leaf: their average.
        {{{0, 0, 0}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}}, 1, {{63, 63, 63}}},
        // Two near reds fold before the far blue does.
        {{{200, 0, 0}, {202, 0, 0}, {0, 0, 200}}, 2, {{0, 0, 200}, {201, 0, 0}}},
        // Exactly at the limit nothing merges.
        {{{1, 2, 3}, {4, 5, 6}}, 2, {{1, 2, 3}, {4, 5, 6}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Quantize(c.pixels, c.limit), c.expected) << c.limit;

    // A large picture never holds more leaves than the limit.
    std::vector<Rgb> ramp;
    for (int i = 0; i < 4096; ++i)
        ramp.emplace_back(i & 255, (i * 7) & 255, (i >> 4) & 255);
    EXPECT_LE(Quantize(ramp, 16).size(), 16u);
    EXPECT_GE(Quantize(ramp, 16).size(), 2u);
}

TEST(GifQuantizer, RefusesColorCounts)
{
    for (int limit : {0, -1, 257})
        EXPECT_THROW(TColorQuantizer(limit, 8), GIFException) << limit;
    auto bitmap = Strip({{1, 2, 3}});
    EXPECT_THROW(CreateOptimizedPaletteForBitmap(*bitmap, 0, 8, false), GIFException);
    try {
        CreateOptimizedPaletteFromManyBitmaps({}, 16, 8, false);
        ADD_FAILURE() << "no error";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Invalid bitmap list");
    }
}

TEST(GifQuantizer, PalettesForBitmaps)
{
    auto a = Strip({{10, 20, 30}, {200, 0, 0}});
    auto b = Strip({{0, 0, 250}, {10, 20, 30}});

    HPALETTE plain = CreateOptimizedPaletteForBitmap(*a, 4, 8, false);
    EXPECT_EQ(Entries(plain), (std::vector<Rgb>{{10, 20, 30}, {200, 0, 0}, {0, 0, 0}, {0, 0, 0}}));
    DeleteObject(plain);

    HPALETTE many = CreateOptimizedPaletteFromManyBitmaps({a.get(), b.get()}, 3, 8, false);
    EXPECT_EQ(Entries(many), (std::vector<Rgb>{{10, 20, 30}, {0, 0, 250}, {200, 0, 0}}));
    DeleteObject(many);

    // With the static colours: ten of them, the bitmap's, then the last ten
    // at 246 to 255, whatever count was asked for.
    HPALETTE windows = CreateOptimizedPaletteForBitmap(*a, 16, 8, true);
    const auto entries = Entries(windows);
    ASSERT_EQ(entries.size(), 256u);
    const auto statics = Entries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
    ASSERT_EQ(statics.size(), 20u);
    EXPECT_TRUE(std::equal(statics.begin(), statics.begin() + 10, entries.begin()));
    EXPECT_TRUE(std::equal(statics.begin() + 10, statics.end(), entries.begin() + 246));
    EXPECT_EQ(entries[10], Rgb(10, 20, 30));
    EXPECT_EQ(entries[11], Rgb(200, 0, 0));
    DeleteObject(windows);

    // A palette bitmap is read through a 24-bit copy and left as it was.
    TBitmap indexed;
    indexed.Assign(*a);
    indexed.SetPixelFormat(pf8bit);
    HPALETTE fromIndexed = CreateOptimizedPaletteForBitmap(indexed, 256, 8, false);
    EXPECT_EQ(indexed.PixelFormat(), pf8bit);
    EXPECT_EQ(Entries(fromIndexed).size(), 256u);
    DeleteObject(fromIndexed);
}

TEST(GifPalettes, FixedPalettes)
{
    struct Case {
        const char* name;
        HPALETTE (*make)();
        std::vector<int> greys;
    } cases[] = {
        {"monochrome", &CreateMonochromePalette, {0, 255}},
        {"windows gray", &CreateWindowsGrayPalette, {0, 128, 192, 255}},
    };
    for (const Case& c : cases) {
        HPALETTE p = c.make();
        std::vector<PALETTEENTRY> e(GetPaletteEntries(p, 0, 0, nullptr));
        GetPaletteEntries(p, 0, static_cast<UINT>(e.size()), e.data());
        ASSERT_EQ(e.size(), c.greys.size()) << c.name;
        for (size_t i = 0; i < e.size(); ++i) {
            EXPECT_EQ(Rgb(e[i].peRed, e[i].peGreen, e[i].peBlue), Rgb(c.greys[i], c.greys[i], c.greys[i])) << c.name;
            EXPECT_EQ(e[i].peFlags, PC_NOCOLLAPSE) << c.name;
        }
        DeleteObject(p);
    }
    HPALETTE grey = CreateGrayScalePalette();
    const auto g = Entries(grey);
    ASSERT_EQ(g.size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(g[static_cast<size_t>(i)], Rgb(i, i, i));
    DeleteObject(grey);
}

TEST(GifPalettes, HalftoneAndDefaultPalettes)
{
    HPALETTE halftone = CreateWindowsHalftonePalette();
    const auto h = Entries(halftone);
    DeleteObject(halftone);
    ASSERT_EQ(h.size(), 256u);
    const auto statics = Entries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
    EXPECT_EQ(statics.front(), Rgb(0, 0, 0));
    EXPECT_EQ(statics.back(), Rgb(255, 255, 255));
    EXPECT_TRUE(std::equal(statics.begin(), statics.begin() + 10, h.begin()));
    EXPECT_TRUE(std::equal(statics.begin() + 10, statics.end(), h.begin() + 246));
    // Every colour of the cube in steps of 51, and twenty more greys.
    std::set<Rgb> all(h.begin(), h.end());
    for (int r = 0; r <= 255; r += 51)
        for (int g = 0; g <= 255; g += 51)
            for (int b = 0; b <= 255; b += 51)
                EXPECT_TRUE(all.count({r, g, b})) << r << "," << g << "," << b;
    std::set<int> greys;
    for (size_t i = 226; i < 246; ++i) {
        const auto [r, g, b] = h[i];
        EXPECT_TRUE(r == g && g == b);
        EXPECT_NE(r % 51, 0);
        greys.insert(r);
    }
    EXPECT_EQ(greys.size(), 20u);

    // The stock palette survives DeleteObject and is the same handle each time.
    HGDIOBJ stock = GetStockObject(DEFAULT_PALETTE);
    EXPECT_TRUE(DeleteObject(stock));
    EXPECT_EQ(GetStockObject(DEFAULT_PALETTE), stock);
    EXPECT_EQ(GetObjectType(stock), static_cast<DWORD>(OBJ_PAL));
    EXPECT_EQ(GetPaletteEntries(static_cast<HPALETTE>(stock), 0, 0, nullptr), 20u);
    EXPECT_EQ(GetStockObject(12345), nullptr);
}

}  // namespace

namespace {

// A w x h 24-bit picture of colour(x, y).
template <class F>
std::unique_ptr<TBitmap> Picture24(int w, int h, F colour)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bitmap->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const auto [r, g, b] = colour(x, y);
            row[x * 3] = static_cast<std::uint8_t>(b);
            row[x * 3 + 1] = static_cast<std::uint8_t>(g);
            row[x * 3 + 2] = static_cast<std::uint8_t>(r);
        }
    }
    return bitmap;
}

Rgb ColorAt(TBitmap& bitmap, int x, int y)
{
    if (bitmap.PixelFormat() == pf24bit) {
        const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
        return {p[2], p[1], p[0]};
    }
    std::uint32_t quad = 0;
    bitmap.GetColors(bitmap.ScanLine(y)[x], 1, &quad);
    return {static_cast<int>((quad >> 16) & 0xFF), static_cast<int>((quad >> 8) & 0xFF), static_cast<int>(quad & 0xFF)};
}

TEST(GifReduceColors, EveryMethodKeepsColorsItsPaletteHolds)
{
    // Black, white and pure red are in every palette but the grey ones;
    // with no dithering each pixel keeps its colour exactly.
    LOGPALETTE* given = static_cast<LOGPALETTE*>(std::malloc(sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY)));
    given->palVersion = 0x300;
    given->palNumEntries = 3;
    PALETTEENTRY* e = given->palPalEntry;
    e[0] = {255, 0, 0, 0};
    e[1] = {0, 0, 0, 0};
    e[2] = {255, 255, 255, 0};
    HPALETTE palette = CreatePalette(given);
    std::free(given);

    struct Case {
        TColorReduction method;
        bool hasRed;
    } cases[] = {
        {rmWindows20, true},  {rmWindows256, true}, {rmWindowsGray, false},     {rmMonochrome, false}, {rmGrayScale, false},
        {rmNetscape, true},   {rmQuantize, true},   {rmQuantizeWindows, true}, {rmPalette, true},
    };
    for (const Case& c : cases) {
        auto source = Picture24(9, 5, [&](int x, int y) {
            const int k = (x + y) % 3;
            return k == 0 ? Rgb{0, 0, 0} : k == 1 ? Rgb{255, 255, 255} : c.hasRed ? Rgb{255, 0, 0} : Rgb{0, 0, 0};
        });
        auto result = ReduceColors(*source, c.method, dmNearest, 3, palette);
        ASSERT_EQ(result->PixelFormat(), pf8bit) << c.method;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(ColorAt(*result, x, y), ColorAt(*source, x, y)) << c.method << " at " << x << "," << y;
    }
    DeleteObject(palette);
}

TEST(GifReduceColors, NoneCopiesAndBadArgumentsGiveNoPixels)
{
    auto source = Picture24(4, 3, [](int x, int y) { return Rgb{x * 50, y * 70, 9}; });
    auto copy = ReduceColors(*source, rmNone, dmNearest, 8, nullptr);
    ASSERT_EQ(copy->PixelFormat(), pf24bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(ColorAt(*copy, x, y), ColorAt(*source, x, y));

    EXPECT_TRUE(ReduceColors(*source, rmPalette, dmNearest, 8, nullptr)->Empty()) << "no palette";
    EXPECT_TRUE(ReduceColors(*source, static_cast<TColorReduction>(42), dmNearest, 8, nullptr)->Empty());
    EXPECT_TRUE(ReduceColors(*source, rmMonochrome, static_cast<TDitherMode>(42), 8, nullptr)->Empty());
    for (int bits : {0, 9, -1})
        EXPECT_THROW(ReduceColors(*source, rmQuantize, dmNearest, bits, nullptr), GIFException) << bits;
    // The source was read as 24 bits and is now in that format.
    TBitmap indexed;
    indexed.Assign(*source);
    indexed.SetPixelFormat(pf8bit);
    auto reduced = ReduceColors(indexed, rmGrayScale, dmNearest, 8, nullptr);
    EXPECT_EQ(indexed.PixelFormat(), pf24bit);
    EXPECT_EQ(reduced->PixelFormat(), pf8bit);
}

TEST(GifReduceColors, DitheringSpreadsTheError)
{
    // A quarter grey in black and white: the nearest colour is black
    // everywhere, every diffusion matrix turns about a quarter of the
    // pixels white instead, and spreads them over the rows.
    const TDitherMode modes[] = {dmFloydSteinberg, dmStucki, dmSierra, dmJaJuNI, dmSteveArche, dmBurkes};
    auto whiteShare = [](TBitmap& b, int& rowsWithWhite) {
        int white = 0;
        rowsWithWhite = 0;
        for (int y = 0; y < b.Height(); ++y) {
            int inRow = 0;
            for (int x = 0; x < b.Width(); ++x)
                inRow += ColorAt(b, x, y) == Rgb{255, 255, 255};
            white += inRow;
            rowsWithWhite += inRow > 0;
        }
        return static_cast<double>(white) / (b.Width() * b.Height());
    };
    int rows = 0;
    auto flat = Picture24(40, 40, [](int, int) { return Rgb{64, 64, 64}; });
    EXPECT_EQ(whiteShare(*ReduceColors(*flat, rmMonochrome, dmNearest, 8, nullptr), rows), 0.0);
    for (TDitherMode mode : modes) {
        auto source = Picture24(40, 40, [](int, int) { return Rgb{64, 64, 64}; });
        auto result = ReduceColors(*source, rmMonochrome, mode, 8, nullptr);
        EXPECT_NEAR(whiteShare(*result, rows), 64.0 / 255.0, 0.03) << mode;
        EXPECT_GE(rows, 20) << mode;
    }
}

}  // namespace
