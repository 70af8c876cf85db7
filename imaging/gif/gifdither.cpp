#include "imaging/gif/gifdither.h"

#include <algorithm>
#include <cstdlib>

std::uint8_t TNetscapeColorLookup::Lookup(int red, int green, int blue, int& r, int& g, int& b)
{
    // An offset of 3, not rounding to the nearest level: 48 is already
    // level 1 and 47 still level 0.
    const int lr = (red + 3) / 51, lg = (green + 3) / 51, lb = (blue + 3) / 51;
    r = lr * 51;
    g = lg * 51;
    b = lb * 51;
    return static_cast<std::uint8_t>(lr * 36 + lg * 6 + lb);
}

std::uint8_t TGrayScaleLookup::Lookup(int red, int green, int blue, int& r, int& g, int& b)
{
    const int grey = (red * 77 + green * 150 + blue * 29) >> 8;
    r = g = b = grey;
    return static_cast<std::uint8_t>(grey);
}

std::uint8_t TMonochromeLookup::Lookup(int red, int green, int blue, int& r, int& g, int& b)
{
    const bool white = red * 77 + green * 150 + blue * 29 >= 32513;
    r = g = b = white ? 255 : 0;
    return white ? 1 : 0;
}

TFastColorLookup::TFastColorLookup(HPALETTE palette) : TColorLookup(0), m_cache(32768, kEmpty)
{
    PALETTEENTRY entries[256];
    const UINT n = palette ? GetPaletteEntries(palette, 0, 256, entries) : 0;
    m_entries.assign(entries, entries + n);
    SetColors(static_cast<int>(n));
    for (UINT i = 0; i < n; ++i) {
        std::uint16_t& slot = m_cache[static_cast<std::size_t>(Key(entries[i].peRed, entries[i].peGreen, entries[i].peBlue))];
        if (slot == kEmpty)
            slot = static_cast<std::uint16_t>(i);
    }
}

std::uint8_t TFastColorLookup::Lookup(int red, int green, int blue, int& r, int& g, int& b)
{
    r = g = b = 0;
    if (m_entries.empty())
        return 0;
    std::uint16_t& slot = m_cache[static_cast<std::size_t>(Key(red & 0xFF, green & 0xFF, blue & 0xFF))];
    if (slot == kEmpty) {
        int best = 196608;
        std::uint16_t chosen = 0;
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            const PALETTEENTRY& e = m_entries[i];
            const int d = std::abs(red - e.peRed) + std::abs(green - e.peGreen) + std::abs(blue - e.peBlue);
            if (d < best) {
                best = d;
                chosen = static_cast<std::uint16_t>(i);
            }
        }
        slot = chosen;
    }
    const PALETTEENTRY& e = m_entries[slot];
    r = e.peRed;
    g = e.peGreen;
    b = e.peBlue;
    return static_cast<std::uint8_t>(slot);
}

std::uint8_t TDitherEngine::DitherPixel(int red, int green, int blue, int& r, int& g, int& b)
{
    const std::uint8_t index = m_lookup.Lookup(red, green, blue, r, g, b);
    m_column += m_direction;
    return index;
}

void TDitherEngine::AdvanceLine()
{
    m_direction = -m_direction;
    m_column = m_direction == 1 ? 0 : m_width - 1;
}

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup) : TDitherEngine(width, lookup)
{
    for (Channel& c : m_channels)
        c.below.assign(static_cast<std::size_t>(width) + 2, 0);
}

std::uint8_t TFloydSteinbergDitherer::DitherPixel(int red, int green, int blue, int& r, int& g, int& b)
{
    const std::size_t here = static_cast<std::size_t>(m_column + 1);
    const std::size_t behind = static_cast<std::size_t>(m_column + 1 - m_direction);
    int value[3] = {red, green, blue};
    for (int k = 0; k < 3; ++k) {
        const Channel& c = m_channels[k];
        value[k] = std::clamp(value[k] + (c.cur + c.below[here] + 8) / 16, 0, 255);
    }
    const std::uint8_t index = m_lookup.Lookup(value[0], value[1], value[2], r, g, b);
    const int chosen[3] = {r, g, b};
    for (int k = 0; k < 3; ++k) {
        Channel& c = m_channels[k];
        const int e = value[k] - chosen[k];
        // 7/16 to the next pixel, 3/16 below behind, 5/16 below, 1/16 below ahead.
        c.below[behind] = c.behind + 3 * e;
        c.behind = c.next + 5 * e;
        c.next = e;
        c.cur = 7 * e;
    }
    m_column += m_direction;
    return index;
}

void TFloydSteinbergDitherer::AdvanceLine()
{
    const std::size_t last = static_cast<std::size_t>(m_column + 1 - m_direction);
    for (Channel& c : m_channels) {
        c.below[last] = c.behind;
        c.cur = c.next = c.behind = 0;
    }
    TDitherEngine::AdvanceLine();
}

TMatrixDitherer::TMatrixDitherer(int width, TColorLookup& lookup, std::vector<TDitherWeight> matrix, int divisor)
    : TDitherEngine(width, lookup), m_matrix(std::move(matrix)), m_divisor(divisor), m_margin(0), m_rows(0)
{
    for (const TDitherWeight& w : m_matrix) {
        m_margin = std::max(m_margin, std::abs(w.offset));
        m_rows = std::max(m_rows, w.row + 1);
    }
    for (auto& rows : m_errors)
        rows.assign(static_cast<std::size_t>(m_rows), std::vector<int>(static_cast<std::size_t>(width + 2 * m_margin), 0));
}

std::uint8_t TMatrixDitherer::DitherPixel(int red, int green, int blue, int& r, int& g, int& b)
{
    const int at = m_column + m_margin;
    int value[3] = {red, green, blue};
    for (int k = 0; k < 3; ++k)
        value[k] = std::clamp(value[k] + (m_errors[k][0][static_cast<std::size_t>(at)] + m_divisor / 2) / m_divisor, 0, 255);
    const std::uint8_t index = m_lookup.Lookup(value[0], value[1], value[2], r, g, b);
    const int chosen[3] = {r, g, b};
    for (int k = 0; k < 3; ++k) {
        const int e = value[k] - chosen[k];
        if (e == 0)
            continue;
        for (const TDitherWeight& w : m_matrix)
            m_errors[k][static_cast<std::size_t>(w.row)][static_cast<std::size_t>(at + w.offset * m_direction)] += e * w.weight;
    }
    m_column += m_direction;
    return index;
}

void TMatrixDitherer::AdvanceLine()
{
    for (auto& rows : m_errors) {
        std::fill(rows.front().begin(), rows.front().end(), 0);
        std::rotate(rows.begin(), rows.begin() + 1, rows.end());
    }
    TDitherEngine::AdvanceLine();
}

TStuckiDitherer::TStuckiDitherer(int width, TColorLookup& lookup)
    : TMatrixDitherer(width, lookup,
                      {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                       {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}},
                      42)
{
}

TSierraDitherer::TSierraDitherer(int width, TColorLookup& lookup)
    : TMatrixDitherer(width, lookup,
                      {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                       {2, -1, 2}, {2, 0, 3}, {2, 1, 2}},
                      32)
{
}

TJaJuNiDitherer::TJaJuNiDitherer(int width, TColorLookup& lookup)
    : TMatrixDitherer(width, lookup,
                      {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                       {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}},
                      48)
{
}

TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup)
    : TMatrixDitherer(width, lookup,
                      {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26},
                       {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}},
                      200)
{
}

TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup)
    : TMatrixDitherer(width, lookup,
                      {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}, 32)
{
}
