#include "imaging/gif/gifcolormap.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kInvalidIndex = "Invalid color index";

}  // namespace

TGIFColor TGIFColorMap::Color2RGB(COLORREF color)
{
    return {static_cast<std::uint8_t>(color & 0xFF), static_cast<std::uint8_t>((color >> 8) & 0xFF),
            static_cast<std::uint8_t>((color >> 16) & 0xFF)};
}

COLORREF TGIFColorMap::RGB2Color(TGIFColor color)
{
    return static_cast<COLORREF>(color.Red) | (static_cast<COLORREF>(color.Green) << 8) |
           (static_cast<COLORREF>(color.Blue) << 16);
}

int TGIFColorMap::BitsPerPixel() const
{
    if (m_count == 0)
        return 0;
    int bits = 1;
    while ((1 << bits) < m_count)
        ++bits;
    return bits;
}

void TGIFColorMap::Clear()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_count = 0;
    m_optimized = false;
}

void TGIFColorMap::SetCapacity(int capacity)
{
    if (capacity < Capacity())
        return;
    const int rounded = capacity <= 16 ? 16 : std::min(kMaxColors, (capacity + 31) / 32 * 32);
    m_entries.resize(static_cast<size_t>(rounded));
}

void TGIFColorMap::CheckIndex(int index) const
{
    if (index < 0 || index >= m_count)
        throw GIFException(kInvalidIndex);
}

COLORREF TGIFColorMap::GetColor(int index)
{
    if (index < 0 || index >= m_count) {
        if (m_count == 0)
            throw GIFException("Color table is empty");
        Warning(TGIFSeverity::Warning, kInvalidIndex);
        index = 0;
    }
    return RGB2Color(m_entries[static_cast<size_t>(index)]);
}

void TGIFColorMap::SetColor(int index, COLORREF color)
{
    CheckIndex(index);
    m_entries[static_cast<size_t>(index)] = Color2RGB(color);
    Changed();
}

int TGIFColorMap::Add(COLORREF color)
{
    if (m_count >= kMaxColors)
        throw GIFException("Color table overflow");
    if (m_count >= Capacity())
        SetCapacity(m_count + 1);
    m_entries[static_cast<size_t>(m_count)] = Color2RGB(color);
    ++m_count;
    m_optimized = false;
    Changed();
    return m_count - 1;
}

int TGIFColorMap::AddUnique(COLORREF color)
{
    const int index = IndexOf(color);
    return index >= 0 ? index : Add(color);
}

void TGIFColorMap::Delete(int index)
{
    CheckIndex(index);
    std::copy(m_entries.begin() + index + 1, m_entries.begin() + m_count, m_entries.begin() + index);
    --m_count;
    m_optimized = false;
    Changed();
}

int TGIFColorMap::IndexOf(COLORREF color) const
{
    const TGIFColor wanted = Color2RGB(color);
    if (m_optimized) {
        // Sorted by use: the first match is the most used one.
        for (int i = 0; i < m_count; ++i)
            if (m_entries[static_cast<size_t>(i)] == wanted)
                return i;
        return -1;
    }
    for (int i = m_count - 1; i >= 0; --i)
        if (m_entries[static_cast<size_t>(i)] == wanted)
            return i;
    return -1;
}

void TGIFColorMap::TakeEntries(std::vector<TGIFColor> colors)
{
    Clear();
    if (colors.empty())
        return;
    const int count = static_cast<int>(colors.size());
    SetCapacity(count);
    std::copy(colors.begin(), colors.end(), m_entries.begin());
    m_count = count;
    Changed();
}

void TGIFColorMap::ImportPalette(HPALETTE palette)
{
    PALETTEENTRY entries[kMaxColors];
    const UINT got = palette ? GetPaletteEntries(palette, 0, kMaxColors, entries) : 0;
    std::vector<TGIFColor> colors;
    for (UINT i = 0; i < got; ++i)
        colors.push_back({entries[i].peRed, entries[i].peGreen, entries[i].peBlue});
    TakeEntries(std::move(colors));
}

void TGIFColorMap::ImportColorMap(const TGIFColor* map, int count)
{
    // The copy comes first: map may point into this table's own entries.
    count = std::clamp(count, 0, kMaxColors);
    std::vector<TGIFColor> colors(map, map + count);
    TakeEntries(std::move(colors));
}

void TGIFColorMap::ImportColorTable(const RGBQUAD* table, int count)
{
    count = std::clamp(count, 0, kMaxColors);
    std::vector<TGIFColor> colors;
    for (int i = 0; i < count; ++i)
        colors.push_back({table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue});
    TakeEntries(std::move(colors));
}

void TGIFColorMap::ImportDIBColors(HDC dc)
{
    RGBQUAD table[kMaxColors];
    const UINT got = GetDIBColorTable(dc, 0, kMaxColors, table);
    ImportColorTable(table, static_cast<int>(got));
    Changed();
}

HPALETTE TGIFColorMap::ExportPalette() const
{
    if (m_count == 0)
        return nullptr;
    // LOGPALETTE ends in a one-entry array: room for the rest follows it.
    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(m_count));
    auto* pal = reinterpret_cast<LOGPALETTE*>(storage.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = static_cast<WORD>(m_count);
    for (int i = 0; i < m_count; ++i) {
        const TGIFColor& c = m_entries[static_cast<size_t>(i)];
        pal->palPalEntry[i] = {c.Red, c.Green, c.Blue, PC_NOCOLLAPSE};
    }
    return CreatePalette(pal);
}

void TGIFColorMap::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TGIFColorMap*>(source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    Clear();
    m_entries.assign(other->m_entries.size(), TGIFColor{});
    std::copy(other->m_entries.begin(), other->m_entries.begin() + other->m_count, m_entries.begin());
    m_count = other->m_count;
    m_optimized = other->m_optimized;
    Changed();
}

bool TGIFColorMap::DoOptimize()
{
    if (m_count < 2)
        return false;
    m_optimized = true;

    TColorHistogram histogram{};
    BuildHistogram(histogram);
    // Most used first; equal uses keep their order, so a sort is repeatable.
    std::stable_sort(histogram.begin(), histogram.begin() + m_count,
                     [](const TUsageCount& a, const TUsageCount& b) { return a.Count > b.Count; });

    bool inOrder = true;
    for (int k = 0; k < m_count; ++k)
        inOrder = inOrder && histogram[static_cast<size_t>(k)].Index == static_cast<std::uint32_t>(k);
    if (inOrder)
        return true;

    // Pixels past the table keep their own index rather than an undefined one.
    TColorMapping map;
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<std::uint8_t>(i);
    for (int k = 0; k < m_count; ++k)
        map[histogram[static_cast<size_t>(k)].Index & 0xFF] = static_cast<std::uint8_t>(k);
    MapImages(map);

    std::vector<TGIFColor> sorted(m_entries.size());
    for (int k = 0; k < m_count; ++k)
        sorted[map[static_cast<size_t>(k)]] = m_entries[static_cast<size_t>(k)];
    m_entries = std::move(sorted);
    for (int k = 0; k < m_count; ++k)
        if (histogram[static_cast<size_t>(k)].Count == 0) {
            m_count = k;
            break;
        }
    Changed();
    return true;
}
