// Palettes for the GIF graphic class: an octree colour quantizer that finds
// the colours a 24-bit picture is best drawn with, and the fixed palettes
// (greys, black and white, the system's greys and halftone colours) that
// colour reduction can map a picture onto.
#pragma once

#include "imaging/gif/gifcommon.h"
#include "gdi/wingdi.h"

#include <cstdint>
#include <memory>
#include <vector>

class TBitmap;

// One node of the colour octree. A leaf sums the colours of its pixels;
// an inner node has up to eight children, one per combination of the next
// bit of red, green and blue.
struct TOctreeNode {
    bool Leaf = false;
    std::int64_t PixelCount = 0;  // 64-bit sums: a 4000 x 3000 picture overflows 32 bits
    std::int64_t RedSum = 0;
    std::int64_t GreenSum = 0;
    std::int64_t BlueSum = 0;
    TOctreeNode* Next = nullptr;  // the next reducible node of the same level
    std::unique_ptr<TOctreeNode> Children[8];
};

class TColorQuantizer {
public:
    // colorLimit colours at most (1 to 256; another raises GIFException
    // "Invalid color count"); colorBits is the level of the leaves (1 to 8).
    TColorQuantizer(int colorLimit, int colorBits);
    ~TColorQuantizer();
    TColorQuantizer(const TColorQuantizer&) = delete;
    TColorQuantizer& operator=(const TColorQuantizer&) = delete;

    // Adds one row of 24-bit pixels (blue, green, red), keeping the leaves
    // at or below the limit as it goes.
    void AddRow(const std::uint8_t* bgr, int width);
    // Adds every row of a bitmap, read as 24 bits per pixel.
    void AddBitmap(TBitmap& bitmap);
    // The colours found, in tree order, as (blue, green, red, 0).
    std::vector<RGBQUAD> ColorTable() const;
    int LeafCount() const { return m_leafCount; }

private:
    void InsertColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    TOctreeNode* CreateNode(int level);
    void MergeDeepestNode();

    std::unique_ptr<TOctreeNode> m_root;
    int m_leafCount = 0;
    TOctreeNode* m_reducible[8] = {};
    int m_colorLimit;
    int m_colorBits;
};

// A palette (version 0x300) of colors entries built by the quantizer over
// the bitmap. With windows, the palette has 256 entries: the first and last
// ten static colours at both ends and 236 quantized colours from entry 10.
// Entries the quantizer did not fill are black. The caller owns the palette.
HPALETTE CreateOptimizedPaletteForBitmap(TBitmap& bitmap, int colors, int colorBits, bool windows);
// The same over all the bitmaps together; GIFException "Invalid bitmap
// list" for none.
HPALETTE CreateOptimizedPaletteFromManyBitmaps(const std::vector<TBitmap*>& bitmaps, int colors, int colorBits,
                                               bool windows);

// A new 8-bit bitmap of the picture, its colours chosen by the reduction
// method and placed by the dither mode; rmNone gives a 24-bit copy. The
// reduction bits (1 to 8, else GIFException "Invalid color count") size the
// palette of rmQuantize, palette is the one of rmPalette. The source is
// switched to 24 bits per pixel on the way. A method or dither mode outside
// its set, or a palette without colours, gives a bitmap without pixels.
std::unique_ptr<TBitmap> ReduceColors(TBitmap& bitmap, TColorReduction reduction, TDitherMode dither,
                                      int reductionBits, HPALETTE palette);

// The fixed palettes; every entry carries the no-collapse flag.
HPALETTE CreateGrayScalePalette();       // 256 greys, entry i = (i, i, i)
HPALETTE CreateMonochromePalette();      // black, white
HPALETTE CreateWindowsGrayPalette();     // 0, 128, 192, 255
HPALETTE CreateWindowsHalftonePalette(); // the GDI's halftone palette of the screen
