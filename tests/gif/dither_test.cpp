// Colour lookups and the dithering engines: the lookups' exact edges, the
// fast lookup's cache, serpentine rows, and every engine keeping a flat
// palette colour flat and a grey between two colours at its mean.
#include "imaging/gif/gifdither.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

TEST(GifLookup, WebLevelsStartAtAnOffsetOfThree)
{
    TNetscapeColorLookup web;
    const struct {
        int value, level;
    } cases[] = {{0, 0}, {47, 0}, {48, 1}, {98, 1}, {99, 2}, {149, 2}, {150, 3}, {200, 3}, {201, 4}, {251, 4}, {252, 5}, {255, 5}};
    for (const auto& c : cases) {
        int r, g, b;
        EXPECT_EQ(web.Lookup(c.value, 0, 0, r, g, b), c.level * 36) << c.value;
        EXPECT_EQ(r, c.level * 51) << c.value;
        EXPECT_EQ(web.Lookup(0, 0, c.value, r, g, b), c.level) << c.value;
    }
    int r, g, b;
    EXPECT_EQ(web.Lookup(255, 255, 255, r, g, b), 215);
    EXPECT_EQ(web.Colors(), 216);
}

TEST(GifLookup, GreyAndMonochrome)
{
    TGrayScaleLookup grey;
    TMonochromeLookup mono;
    int r, g, b;
    EXPECT_EQ(grey.Lookup(255, 255, 255, r, g, b), 255);
    EXPECT_EQ(grey.Lookup(100, 0, 0, r, g, b), 30);
    EXPECT_EQ(g, 30);
    EXPECT_EQ(mono.Lookup(127, 127, 127, r, g, b), 0);  // 32258 is below 32513
    EXPECT_EQ(mono.Lookup(128, 128, 128, r, g, b), 1);
    EXPECT_EQ(b, 255);
}

HPALETTE Palette(const std::vector<PALETTEENTRY>& entries)
{
    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
    auto* pal = reinterpret_cast<LOGPALETTE*>(storage.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = static_cast<WORD>(entries.size());
    std::copy(entries.begin(), entries.end(), pal->palPalEntry);
    return CreatePalette(pal);
}

TEST(GifLookup, FastLookupAnswersAKeyWithItsFirstColour)
{
    HPALETTE pal = Palette({{0, 0, 0, 0}, {255, 0, 0, 0}, {250, 0, 0, 0}, {96, 100, 100, 0}, {112, 100, 100, 0}});
    TFastColorLookup fast(pal);
    EXPECT_EQ(fast.Colors(), 5);
    int r, g, b;
    // Entries 1 and 2 share a key: the first wins, even for entry 2's colour.
    EXPECT_EQ(fast.Lookup(250, 0, 0, r, g, b), 1);
    EXPECT_EQ(r, 255);
    // A colour of a new key is searched once; later ones of the key reuse it.
    EXPECT_EQ(fast.Lookup(105, 100, 100, r, g, b), 4);
    // 104 is as near entry 3 as entry 4, and a search alone takes the
    // first; the key's answer stands.
    EXPECT_EQ(fast.Lookup(104, 101, 101, r, g, b), 4);
    EXPECT_EQ(r, 112);
    DeleteObject(pal);
}

using Factory = std::function<std::unique_ptr<TDitherEngine>(int, TColorLookup&)>;

template <class T>
Factory Make()
{
    return [](int w, TColorLookup& l) { return std::unique_ptr<TDitherEngine>(std::make_unique<T>(w, l)); };
}

const struct {
    const char* name;
    Factory make;
    bool diffuses;
} kEngines[] = {
    {"nearest", Make<TDitherEngine>(), false},
    {"Floyd-Steinberg", Make<TFloydSteinbergDitherer>(), true},
    {"Stucki", Make<TStuckiDitherer>(), true},
    {"Sierra", Make<TSierraDitherer>(), true},
    {"Jarvis-Judice-Ninke", Make<TJaJuNiDitherer>(), true},
    {"Stevenson-Arce", Make<TSteveArcheDitherer>(), true},
    {"Burkes", Make<TBurkesDitherer>(), true},
};

// Runs a flat picture of one colour through an engine in the calling
// order of a caller; answers the indices row by row.
std::vector<std::vector<int>> Dither(TDitherEngine& engine, int width, int height, int red, int green, int blue)
{
    std::vector<std::vector<int>> rows(static_cast<size_t>(height), std::vector<int>(static_cast<size_t>(width), -1));
    for (int y = 0; y < height; ++y) {
        for (int x = engine.Column(); x >= 0 && x < width; x = engine.Column()) {
            int r, g, b;
            rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = engine.DitherPixel(red, green, blue, r, g, b);
        }
        engine.AdvanceLine();
    }
    return rows;
}

TEST(GifDither, AFlatPaletteColourStaysFlat)
{
    for (const auto& e : kEngines) {
        TNetscapeColorLookup web;
        auto engine = e.make(7, web);
        for (const auto& row : Dither(*engine, 7, 5, 51, 102, 153))
            for (int index : row)
                EXPECT_EQ(index, 1 * 36 + 2 * 6 + 3) << e.name;
    }
}

TEST(GifDither, AGreyBetweenBlackAndWhiteKeepsItsMean)
{
    for (const auto& e : kEngines) {
        TMonochromeLookup mono;
        auto engine = e.make(40, mono);
        int white = 0;
        for (const auto& row : Dither(*engine, 40, 40, 102, 102, 102))
            for (int index : row)
                white += index;
        if (e.diffuses)
            EXPECT_NEAR(white / 1600.0, 0.4, 0.03) << e.name;
        else
            EXPECT_EQ(white, 0) << e.name;
    }
}

TEST(GifDither, RowsAlternateDirection)
{
    TMonochromeLookup mono;
    TFloydSteinbergDitherer engine(5, mono);
    EXPECT_EQ(engine.Column(), 0);
    EXPECT_EQ(engine.Direction(), 1);
    int r, g, b;
    for (int i = 0; i < 5; ++i)
        engine.DitherPixel(0, 0, 0, r, g, b);
    engine.AdvanceLine();
    EXPECT_EQ(engine.Column(), 4);
    EXPECT_EQ(engine.Direction(), -1);
    engine.AdvanceColumn();
    EXPECT_EQ(engine.Column(), 3);
}

}  // namespace
