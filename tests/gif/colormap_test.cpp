// The GIF colour table: growth, lookups, imports, and sorting by use with
// the renumbering of the pixels that draw with it.
#include "imaging/gif/gifcolormap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A table owned by one frame of the given pixels.
class FrameTable : public TGIFColorMap {
public:
    std::vector<std::uint8_t> pixels;
    std::vector<std::string> warnings;
    int changes = 0;

    void Warning(TGIFSeverity, const std::string& message) override { warnings.push_back(message); }
    void BuildHistogram(TColorHistogram& histogram) override
    {
        for (int i = 0; i < Count(); ++i)
            histogram[static_cast<size_t>(i)] = {0, static_cast<std::uint32_t>(i)};
        for (std::uint8_t p : pixels)
            if (p < Count())
                histogram[p].Count++;
    }
    void MapImages(const TColorMapping& map) override
    {
        for (std::uint8_t& p : pixels)
            p = map[p];
    }
    bool Optimize() override { return DoOptimize(); }
    void Changed() override { ++changes; }
};

constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
                   kGrey = RGB(9, 9, 9);

template <class F>
std::string GifError(F&& f)
{
    try {
        f();
    } catch (const GIFException& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(GifColorMap, BitsPerPixelForEveryCount)
{
    const struct {
        int count, bits;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {8, 3}, {9, 4}, {128, 7}, {129, 8}, {256, 8}};
    for (const auto& row : cases) {
        FrameTable t;
        for (int i = 0; i < row.count; ++i)
            t.Add(RGB(i, 0, 0));
        EXPECT_EQ(t.BitsPerPixel(), row.bits) << row.count;
    }
}

TEST(GifColorMap, CapacityGrowsInSteps)
{
    FrameTable t;
    t.Add(kRed);
    EXPECT_EQ(t.Capacity(), 16);
    for (int i = 1; i < 17; ++i)
        t.Add(RGB(i, 1, 1));
    EXPECT_EQ(t.Capacity(), 32);
    t.SetCapacity(20);  // never shrinks
    EXPECT_EQ(t.Capacity(), 32);
    t.SetCapacity(65);
    EXPECT_EQ(t.Capacity(), 96);
    t.SetCapacity(1000);
    EXPECT_EQ(t.Capacity(), 256);
    for (int i = t.Count(); i < 256; ++i)
        t.Add(RGB(i, 2, 2));
    EXPECT_EQ(GifError([&] { t.Add(kRed); }), "Color table overflow");
    EXPECT_EQ(t.Count(), 256);
}

TEST(GifColorMap, LookupsAndEditsAndTheirErrors)
{
    FrameTable t;
    EXPECT_EQ(GifError([&] { t.GetColor(0); }), "Color table is empty");
    for (COLORREF c : {kRed, kGreen, kGrey, kBlue, kRed, kGrey})
        t.Add(c);
    EXPECT_EQ(t.IndexOf(kGrey), 5);  // unsorted: the last one
    t.SetOptimized(true);
    EXPECT_EQ(t.IndexOf(kGrey), 2);  // sorted: the first one
    EXPECT_EQ(t.IndexOf(RGB(1, 2, 3)), -1);
    EXPECT_EQ(t.AddUnique(kBlue), 3);

    EXPECT_EQ(t.GetColor(300), kRed);  // entry 0, with a warning
    ASSERT_EQ(t.warnings.size(), 1u);
    EXPECT_EQ(t.warnings[0], "Invalid color index");

    const int before = t.changes;
    t.SetColor(1, kBlue);
    EXPECT_TRUE(t.Optimized()) << "setting a colour keeps the order flag";
    EXPECT_EQ(t.GetColor(1), kBlue);
    t.Delete(0);
    EXPECT_FALSE(t.Optimized());
    EXPECT_EQ(t.GetColor(0), kBlue);
    EXPECT_EQ(t.changes, before + 2);

    for (int bad : {-1, 5, 99}) {
        EXPECT_EQ(GifError([&] { t.Delete(bad); }), "Invalid color index") << bad;
        EXPECT_EQ(GifError([&] { t.SetColor(bad, kRed); }), "Invalid color index") << bad;
    }
    FrameTable one;
    one.Add(kRed);
    one.Delete(0);
    EXPECT_EQ(one.Count(), 0);
    EXPECT_EQ(GifError([&] { one.Delete(-1); }), "Invalid color index");
}

TEST(GifColorMap, ImportsTakeOnlyTheirCount)
{
    FrameTable t;
    for (COLORREF c : {kRed, kGreen, kBlue})
        t.Add(c);
    // From its own storage, which holds just 16 entries.
    t.ImportColorMap(&t.Entry(1), 2);
    ASSERT_EQ(t.Count(), 2);
    EXPECT_EQ(t.GetColor(0), kGreen);
    EXPECT_EQ(t.GetColor(1), kBlue);
    t.ImportColorMap(nullptr, 0);
    EXPECT_EQ(t.Count(), 0);

    const RGBQUAD quads[] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    t.ImportColorTable(quads, 2);
    EXPECT_EQ(t.GetColor(1), RGB(6, 5, 4));

    HPALETTE pal = t.ExportPalette();
    ASSERT_NE(pal, nullptr);
    FrameTable copy;
    copy.ImportPalette(pal);
    DeleteObject(pal);
    EXPECT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.GetColor(0), RGB(3, 2, 1));
    FrameTable empty;
    EXPECT_EQ(empty.ExportPalette(), nullptr);

    FrameTable assigned;
    t.SetOptimized(true);
    assigned.Assign(&t);
    EXPECT_EQ(assigned.Count(), 2);
    EXPECT_EQ(assigned.Capacity(), t.Capacity());
    EXPECT_TRUE(assigned.Optimized());
    EXPECT_EQ(assigned.GetColor(1), RGB(6, 5, 4));
}

TEST(GifColorMap, SortingByUseRenumbersPixelsAndDropsUnused)
{
    FrameTable t;
    for (COLORREF c : {kRed, kGreen, kBlue, kGrey})
        t.Add(c);
    // Uses 5, 0, 9, 0, and one pixel outside the table.
    t.pixels = {0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 200};
    EXPECT_TRUE(t.Optimize());
    EXPECT_TRUE(t.Optimized());
    ASSERT_EQ(t.Count(), 2);
    EXPECT_EQ(t.GetColor(0), kBlue);
    EXPECT_EQ(t.GetColor(1), kRed);
    const std::vector<std::uint8_t> renumbered{1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200};
    EXPECT_EQ(t.pixels, renumbered);

    // Already in order: only the flag changes.
    FrameTable sorted;
    sorted.Add(kRed);
    sorted.Add(kGreen);
    sorted.pixels = {0, 0, 1};
    const int changes = sorted.changes;
    EXPECT_TRUE(sorted.Optimize());
    EXPECT_EQ(sorted.changes, changes);
    EXPECT_EQ(sorted.GetColor(0), kRed);

    FrameTable single;
    single.Add(kRed);
    EXPECT_FALSE(single.Optimize());
    EXPECT_FALSE(single.Optimized());
}

}  // namespace
