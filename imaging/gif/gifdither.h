// Colour lookups that map an RGB colour to a palette index, and the
// dithering engines that walk a picture in serpentine order spreading each
// pixel's quantisation error over the neighbours it has not reached yet.
#pragma once

#include "gdi/wingdi.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TColorLookup {
public:
    explicit TColorLookup(int colors) : m_colors(colors) {}
    virtual ~TColorLookup() = default;
    int Colors() const { return m_colors; }
    // The index for the colour, and the colour of that entry in r, g, b.
    virtual std::uint8_t Lookup(int red, int green, int blue, int& r, int& g, int& b) = 0;

protected:
    void SetColors(int colors) { m_colors = colors; }

private:
    int m_colors;
};

// The 6 x 6 x 6 web palette; a channel's level is (value + 3) / 51.
class TNetscapeColorLookup : public TColorLookup {
public:
    TNetscapeColorLookup() : TColorLookup(216) {}
    std::uint8_t Lookup(int red, int green, int blue, int& r, int& g, int& b) override;
};

class TGrayScaleLookup : public TColorLookup {
public:
    TGrayScaleLookup() : TColorLookup(256) {}
    std::uint8_t Lookup(int red, int green, int blue, int& r, int& g, int& b) override;
};

class TMonochromeLookup : public TColorLookup {
public:
    TMonochromeLookup() : TColorLookup(2) {}
    std::uint8_t Lookup(int red, int green, int blue, int& r, int& g, int& b) override;
};

// The nearest entry of a palette, remembered per 15-bit colour key: every
// colour of a key answers what the first colour of that key looked up got.
class TFastColorLookup : public TColorLookup {
public:
    explicit TFastColorLookup(HPALETTE palette);
    std::uint8_t Lookup(int red, int green, int blue, int& r, int& g, int& b) override;

private:
    static int Key(int red, int green, int blue) { return (red >> 3) | ((green >> 3) << 5) | ((blue >> 3) << 10); }
    static constexpr std::uint16_t kEmpty = 0xFFFF;
    std::vector<PALETTEENTRY> m_entries;
    std::vector<std::uint16_t> m_cache;
};

// The nearest colour for every pixel, no diffusion. A caller walks a row
// from Column() while it lies in 0..width-1; DitherPixel moves the column
// on, AdvanceLine turns to the next row in the other direction.
class TDitherEngine {
public:
    TDitherEngine(int width, TColorLookup& lookup) : m_width(width), m_lookup(lookup) {}
    virtual ~TDitherEngine() = default;
    int Column() const { return m_column; }
    int Direction() const { return m_direction; }
    virtual std::uint8_t DitherPixel(int red, int green, int blue, int& r, int& g, int& b);
    virtual void AdvanceLine();
    // Passes over a pixel; its error share is neither taken nor given.
    void AdvanceColumn() { m_column += m_direction; }

protected:
    int m_direction = 1;
    int m_column = 0;
    int m_width;
    TColorLookup& m_lookup;
};

class TFloydSteinbergDitherer : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int width, TColorLookup& lookup);
    std::uint8_t DitherPixel(int red, int green, int blue, int& r, int& g, int& b) override;
    void AdvanceLine() override;

private:
    struct Channel {
        std::vector<int> below;  // entry c + 1 for column c
        int cur = 0, next = 0, behind = 0;
    };
    Channel m_channels[3];
};

// One weight of an error-diffusion matrix: the row below the current one
// (0 = this row) and the offset in the scan direction.
struct TDitherWeight {
    int row;
    int offset;
    int weight;
};

// Diffusion over a matrix reaching a few rows down and a few columns to
// each side: Stucki, Sierra, Jarvis-Judice-Ninke, Stevenson-Arce, Burkes.
class TMatrixDitherer : public TDitherEngine {
public:
    TMatrixDitherer(int width, TColorLookup& lookup, std::vector<TDitherWeight> matrix, int divisor);
    std::uint8_t DitherPixel(int red, int green, int blue, int& r, int& g, int& b) override;
    void AdvanceLine() override;

private:
    std::vector<TDitherWeight> m_matrix;
    int m_divisor;
    int m_margin;
    int m_rows;
    // Per channel, per row: the error sums, column c at entry c + margin.
    std::vector<std::vector<int>> m_errors[3];
};

class TStuckiDitherer : public TMatrixDitherer {
public:
    TStuckiDitherer(int width, TColorLookup& lookup);
};
class TSierraDitherer : public TMatrixDitherer {
public:
    TSierraDitherer(int width, TColorLookup& lookup);
};
class TJaJuNiDitherer : public TMatrixDitherer {
public:
    TJaJuNiDitherer(int width, TColorLookup& lookup);
};
class TSteveArcheDitherer : public TMatrixDitherer {
public:
    TSteveArcheDitherer(int width, TColorLookup& lookup);
};
class TBurkesDitherer : public TMatrixDitherer {
public:
    TBurkesDitherer(int width, TColorLookup& lookup);
};
