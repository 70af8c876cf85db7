// The octree quantizer and the palettes colour reduction maps onto: tree
// order, merging into averages, the static colours around quantized ones,
// the fixed palettes, and the refused colour counts.
#include "imaging/gif/gifquantize.h"

#include "vcl/graphics.h"

#include <gtest/gtest.h>

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
