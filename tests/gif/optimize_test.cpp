// The colour-map optimizer: tables merged into one global table of the
// colours in use, the most used kept when there are too many, the others
// drawn with the nearest kept colour, and transparency kept or dropped by
// whether a pixel uses it.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"

#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifoptimize.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using gifbytes::Builder;
using gifbytes::Rgb;

// The colour every pixel of every frame shows, frame after frame.
std::vector<TGIFColor> Shown(TGIFImage& image)
{
    std::vector<TGIFColor> out;
    for (int i = 0; i < image.Images().Count(); ++i) {
        TGIFSubImage* f = image.Images().Image(i);
        TGIFColorMap& map = f->GetActiveColorMap();
        for (std::uint8_t p : f->Pixels())
            out.push_back(p < map.Count() ? map.Entry(p) : TGIFColor{1, 2, 3});
    }
    return out;
}

TEST(GifOptimizer, SharedColorsBecomeOneGlobalEntry)
{
    // Red is index 0 of one local table and index 2 of the other.
    Builder b;
    b.Header(3, 1);
    b.Frame(0, 0, 3, 1, {0, 1, 0}, {{255, 0, 0}, {0, 0, 255}});
    b.Frame(0, 0, 3, 1, {2, 2, 0}, {{0, 255, 0}, {9, 9, 9}, {255, 0, 0}, {1, 1, 1}});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    const auto before = Shown(*g.image);
    TColorMapOptimizer(*g.image).Run();
    EXPECT_EQ(Shown(*g.image), before);
    TGIFColorMap& global = g.image->GetColorMap();
    ASSERT_EQ(global.Count(), 3) << "red, blue and green; the unused colours are gone";
    EXPECT_EQ(global.Entry(0), (TGIFColor{255, 0, 0})) << "the most used first";
    EXPECT_TRUE(global.Optimized());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(g.image->Images().Image(i)->ColorMap().Count(), 0);
}

Rgb Color(int r, int g, int b)
{
    return {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)};
}

int Distance(const TGIFColor& a, const TGIFColor& b)
{
    return std::abs(a.Red - b.Red) + std::abs(a.Green - b.Green) + std::abs(a.Blue - b.Blue);
}

TEST(GifOptimizer, TooManyColorsKeepTheMostUsedAndMapTheRestToTheNearest)
{
    // 300 colours in two frames of 256-entry tables; the 44 used once are
    // not kept. Among those, pure red must go to the kept (200, 50, 0) and
    // never to a kept pure green, which a sum of signed differences rates
    // as equal to red.
    std::vector<Rgb> first, second;
    std::vector<std::uint8_t> a, c;
    for (int i = 0; i < 256; ++i) {
        first.push_back(Color(i, (i * 7) % 256, 128));
        for (int k = 0; k < 3; ++k)
            a.push_back(static_cast<std::uint8_t>(i));
    }
    first[0] = {0, 255, 0};
    first[1] = {200, 50, 0};
    for (int i = 0; i < 44; ++i) {
        second.push_back(Color(i * 5 + 1, 3, 250 - i));
        c.push_back(static_cast<std::uint8_t>(i));
    }
    second[0] = {255, 0, 0};
    second.resize(256, Rgb{7, 7, 7});
    Builder b;
    b.Header(768, 1).Frame(0, 0, 768, 1, a, first).Frame(0, 0, 44, 1, c, second);
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    const auto before = Shown(*g.image);
    TColorMapOptimizer(*g.image).Run();
    TGIFColorMap& global = g.image->GetColorMap();
    ASSERT_EQ(global.Count(), 256);
    const auto after = Shown(*g.image);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < 768; ++i)
        ASSERT_EQ(after[i], before[i]) << "kept colours stay, pixel " << i;
    for (std::size_t i = 768; i < after.size(); ++i) {
        int best = 1000;
        for (int k = 0; k < global.Count(); ++k)
            best = std::min(best, Distance(before[i], global.Entry(k)));
        EXPECT_EQ(Distance(before[i], after[i]), best) << "pixel " << i;
    }
    EXPECT_EQ(after[768], (TGIFColor{200, 50, 0})) << "red drawn with the nearest kept colour";
}

TEST(GifOptimizer, TransparencyKeptWhenUsedDroppedWhenNot)
{
    Builder b;
    b.Header(4, 1, {{0, 0, 0}, {255, 255, 255}, {10, 20, 30}, {40, 50, 60}});
    b.Gce(0, 0, 3).Frame(0, 0, 4, 1, {0, 3, 1, 3});  // index 3 used
    b.Gce(0, 0, 2).Frame(0, 0, 4, 1, {0, 1, 1, 0});  // index 2 unused
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    TColorMapOptimizer(*g.image).Run();
    TGIFColorMap& global = g.image->GetColorMap();
    ASSERT_EQ(global.Count(), 3) << "black, white and the transparent entry";
    TGIFSubImage* used = g.image->Images().Image(0);
    TGIFSubImage* unused = g.image->Images().Image(1);
    ASSERT_TRUE(used->Transparent());
    EXPECT_EQ(used->GraphicControlExtension()->GetTransparentColorIndex(), 2);
    EXPECT_EQ(used->Pixels()[1], 2);
    EXPECT_EQ(used->Pixels()[3], 2);
    EXPECT_FALSE(unused->GraphicControlExtension()->GetTransparent());
    EXPECT_EQ(unused->GraphicControlExtension()->GetTransparentColorIndex(), 0);
    EXPECT_EQ(global.Entry(used->Pixels()[0]), (TGIFColor{0, 0, 0}));
    EXPECT_EQ(global.Entry(used->Pixels()[2]), (TGIFColor{255, 255, 255}));
}

}  // namespace
