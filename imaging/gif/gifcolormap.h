// A GIF colour table of up to 256 RGB entries. The table tells its owner of
// every change (Changed), so that palettes and bitmaps built from it can be
// dropped; it can also sort itself by use and drop the colours no pixel uses,
// renumbering the pixels of the frames that draw with it.
#pragma once

#include "imaging/gif/gifcommon.h"
#include "gdi/wingdi.h"
#include "rtl/classes.h"

#include <array>
#include <cstdint>
#include <vector>

struct TGIFColor {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    bool operator==(const TGIFColor&) const = default;
};

// One histogram slot: how many pixels use a colour, and which colour.
struct TUsageCount {
    std::uint32_t Count = 0;
    std::uint32_t Index = 0;
};
using TColorHistogram = std::array<TUsageCount, 256>;
using TColorMapping = std::array<std::uint8_t, 256>;

class TGIFColorMap : public TPersistent {
public:
    static constexpr int kMaxColors = 256;

    TGIFColorMap() = default;
    TGIFColorMap(const TGIFColorMap&) = delete;
    TGIFColorMap& operator=(const TGIFColorMap&) = delete;

    static TGIFColor Color2RGB(COLORREF color);
    static COLORREF RGB2Color(TGIFColor color);

    int Count() const { return m_count; }
    int Capacity() const { return static_cast<int>(m_entries.size()); }
    bool Optimized() const { return m_optimized; }
    void SetOptimized(bool on) { m_optimized = on; }
    // 0 for an empty table, else the fewest bits (at least 1) that number
    // every entry.
    int BitsPerPixel() const;

    void Clear();
    // Grows only: 16 up to 16 entries, else a multiple of 32, at most 256.
    void SetCapacity(int capacity);

    // An index outside the table warns "Invalid color index" and reads
    // entry 0; an empty table raises "Color table is empty".
    COLORREF GetColor(int index);
    // Raises "Invalid color index" outside the table.
    void SetColor(int index, COLORREF color);
    // Raises "Color table overflow" on a 257th colour.
    int Add(COLORREF color);
    int AddUnique(COLORREF color);
    void Delete(int index);
    // A sorted table answers the first equal entry, an unsorted one the
    // last; -1 when the colour is absent.
    int IndexOf(COLORREF color) const;
    const TGIFColor& Entry(int index) const { return m_entries.at(static_cast<size_t>(index)); }

    void ImportPalette(HPALETTE palette);
    // Takes the first count of the entries at map, which may be this
    // table's own storage; a count past 256 is cut to 256.
    void ImportColorMap(const TGIFColor* map, int count);
    void ImportColorTable(const RGBQUAD* table, int count);
    void ImportDIBColors(HDC dc);
    // A new palette of the entries, owned by the caller; null when empty.
    HPALETTE ExportPalette() const;

    void Assign(const TPersistent* source) override;
    std::string ClassName() const override { return "TGIFColorMap"; }

    // Sorts by use (BuildHistogram), most used first, renumbers the pixels
    // (MapImages) and drops the colours nobody uses. False when the table
    // has fewer than two entries and was left alone.
    bool DoOptimize();

    // What a table must learn from its owner. A kind of table tells its
    // owner of the change in its own destructor: the base's cannot reach
    // these any more.
    virtual void Warning(TGIFSeverity severity, const std::string& message) = 0;
    virtual void BuildHistogram(TColorHistogram& histogram) = 0;
    virtual void MapImages(const TColorMapping& map) = 0;
    virtual bool Optimize() = 0;
    virtual void Changed() = 0;

private:
    void CheckIndex(int index) const;
    void TakeEntries(std::vector<TGIFColor> colors);

    std::vector<TGIFColor> m_entries;  // the capacity; the first m_count are in use
    int m_count = 0;
    bool m_optimized = false;
};
