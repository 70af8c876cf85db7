// Optimising a GIF image as a whole: every pass leaves the animation that
// ImageMagick composes from the saved file (pictures, how long each shows,
// the loop count) as it was; the passes' own effects on frames; packing.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"
#include "test_support/temp_dir.h"

#include "imaging/gif/gifimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using gifbytes::Builder;

std::string FixtureBytes(const std::string& name)
{
    std::ifstream in(std::string(VISTREL_TEST_DATA) + "/fixtures/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Run(const std::string& command) { return std::system((command + " 2> /dev/null").c_str()) == 0; }

// What a viewer shows: each composed picture (transparent pixels all
// alike) with the time it stays, and a picture shown twice in a row
// counted once for both times. A picture shown for no time is left out,
// unless no picture has a time.
struct Shown {
    std::string rgba;
    int delay;
    bool operator==(const Shown&) const = default;
};

struct Animation {
    std::vector<Shown> shown;
    std::string loop;  // gifsicle's words for the loop extension
};

void PrintTo(const Shown& s, std::ostream* os) { *os << "picture of " << s.rgba.size() << " bytes for " << s.delay; }

Animation Composed(const std::string& gif)
{
    TempDir dir;
    dir.Write("a.gif", gif);
    const std::string in = "'" + dir.Path("a.gif") + "'";
    Animation a;
    if (!Run("convert " + in + " -coalesce -depth 8 rgba:'" + dir.Path("frames.rgba") + "'") ||
        !Run("convert " + in + " -coalesce -format '%T %w %h\\n' info: > '" + dir.Path("delays") + "'") ||
        !Run("gifsicle --info " + in + " | grep -o 'loop [a-z0-9 ]*' > '" + dir.Path("loop") + "' || true")) {
        ADD_FAILURE() << "ImageMagick or gifsicle could not read the file";
        return a;
    }
    std::string rgba = dir.Read("frames.rgba");
    a.loop = dir.Read("loop");
    std::istringstream delays(dir.Read("delays"));
    int delay = 0, width = 0, height = 0;
    std::size_t at = 0;
    std::vector<Shown> all;
    while (delays >> delay >> width >> height) {
        const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
        if (at + size > rgba.size()) {
            ADD_FAILURE() << "fewer composed pictures than frames";
            break;
        }
        std::string picture = rgba.substr(at, size);
        at += size;
        for (std::size_t p = 0; p < picture.size(); p += 4)
            if (picture[p + 3] == 0)
                picture.replace(p, 3, 3, '\0');
        all.push_back({picture, delay});
    }
    // An animation that gives no times at all shows every picture.
    const bool timed = std::any_of(all.begin(), all.end(), [](const Shown& s) { return s.delay > 0; });
    for (const Shown& s : all) {
        if (timed && s.delay == 0)
            continue;
        if (!a.shown.empty() && a.shown.back().rgba == s.rgba)
            a.shown.back().delay += s.delay;
        else
            a.shown.push_back(s);
    }
    return a;
}

struct OptimizeCase {
    const char* name;
    TGIFOptimizeOptions options;
};

const OptimizeCase kPasses[] = {
    {"crop", ooCrop},
    {"merge", ooMerge},
    {"cleanup", ooCleanup},
    {"colormap", ooColorMap},
    {"every pass", ooCrop | ooMerge | ooCleanup | ooColorMap | ooReduceColors},
    {"merge then crop", ooMerge | ooCrop},
};

TEST(GifImageOptimize, EveryPassKeepsTheComposedAnimation)
{
    for (const char* fixture : {"opt_cleanup.gif", "opt_crop.gif", "opt_merge.gif", "anim_background.gif",
                                "anim_previous.gif", "extensions.gif", "painter_disposal.gif"}) {
        const std::string original = FixtureBytes(fixture);
        const Animation before = Composed(original);
        ASSERT_FALSE(before.shown.empty()) << fixture;
        for (const OptimizeCase& c : kPasses) {
            SCOPED_TRACE(std::string(fixture) + ", " + c.name);
            LoadedGif g = LoadGif(original);
            ASSERT_EQ(g.error, "");
            g.image->Optimize(c.options);
            const Animation after = Composed(SaveGif(*g.image));
            EXPECT_EQ(after.shown, before.shown);
            EXPECT_EQ(after.loop, before.loop);
        }
    }
}

TGIFSubImage& FrameOf(TGIFImage& image, int i) { return *image.Images().Image(i); }

TDisposalMethod Disposal(TGIFImage& image, int i)
{
    const TGIFGraphicControlExtension* gce = FrameOf(image, i).GraphicControlExtension();
    return gce ? gce->GetDisposal() : dmNone;
}

TEST(GifImageOptimize, CleanupDropsAClearingOnlyWhereTheNextFramePaintsOverIt)
{
    LoadedGif g = LoadGif(FixtureBytes("opt_cleanup.gif"));
    ASSERT_EQ(g.error, "");
    g.image->Optimize(ooCleanup);
    ASSERT_EQ(g.image->Images().Count(), 8);
    // Frame 1 clears a 6 x 6 area; the 2 x 2 frame after it lies within it
    // and leaves the rest cleared.
    EXPECT_EQ(Disposal(*g.image, 1), dmBackground);
    // Frame 3 (2 x 2) lies within the opaque 4 x 4 frame after it.
    EXPECT_EQ(Disposal(*g.image, 3), dmNone);
    // Frame 5 is covered too, but the frame after it restores the cleared
    // picture.
    EXPECT_EQ(Disposal(*g.image, 5), dmBackground);
    // The comment goes, the loop extension stays on the first frame only.
    for (int i = 0; i < g.image->Images().Count(); ++i)
        for (int k = 0; k < FrameOf(*g.image, i).Extensions().Count(); ++k) {
            const TGIFExtension* e = FrameOf(*g.image, i).Extensions().Extension(k);
            EXPECT_EQ(dynamic_cast<const TGIFCommentExtension*>(e), nullptr);
            if (dynamic_cast<const TGIFAppExtNSLoop*>(e)) {
                EXPECT_EQ(i, 0);
            }
        }
}

int Delay(TGIFImage& image, int i)
{
    const TGIFGraphicControlExtension* gce = FrameOf(image, i).GraphicControlExtension();
    return gce ? gce->GetDelay() : 0;
}

const TGIFAppExtNSLoop* LoopOf(TGIFSubImage& frame)
{
    for (int k = 0; k < frame.Extensions().Count(); ++k)
        if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(frame.Extensions().Extension(k)))
            return loop;
    return nullptr;
}

TEST(GifImageOptimize, CropKeepsTheDelaysClearingsAndLoopOfEmptiedFrames)
{
    // 0: all transparent, no time, loop extension; 1: opaque blue 10;
    // 2: all transparent 20; 3: red 2 x 2 in a transparent 6 x 6 at (1, 1);
    // 4: all transparent 4 x 4 clearing to the background; 5: green in a
    // transparent 8 x 8 clearing to the background; 6: yellow 2 x 2.
    LoadedGif g = LoadGif(FixtureBytes("opt_crop.gif"));
    ASSERT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 7);
    g.image->Optimize(ooCrop);
    TGIFImage& image = *g.image;
    ASSERT_EQ(image.Images().Count(), 5) << "frames 0 and 2 go";
    ASSERT_NE(LoopOf(FrameOf(image, 0)), nullptr) << "the loop extension moves to the new first frame";
    EXPECT_EQ(LoopOf(FrameOf(image, 0))->Loops(), 2);
    EXPECT_EQ(Delay(image, 0), 30) << "blue takes the time of the emptied frame after it";
    EXPECT_EQ(FrameOf(image, 1).GetBoundsRect(), Rect(3, 3, 5, 5)) << "cropped to the red square";
    EXPECT_EQ(FrameOf(image, 2).GetBoundsRect(), Rect(2, 2, 6, 6)) << "kept whole: it clears";
    EXPECT_EQ(FrameOf(image, 3).GetBoundsRect(), Rect(0, 0, 8, 8)) << "not cropped: it clears all of it";
}

TEST(GifImageOptimize, CropAddsTheDelayToAPreviousFrameWithoutControlExtension)
{
    Builder b;
    b.Header(2, 1, {{10, 20, 30}, {200, 0, 0}});
    b.Frame(0, 0, 2, 1, {1, 1});
    b.Gce(dmNone, 25, 0).Frame(0, 0, 2, 1, {0, 0});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    g.image->Optimize(ooCrop);
    ASSERT_EQ(g.image->Images().Count(), 1);
    EXPECT_EQ(Delay(*g.image, 0), 25);
}

TEST(GifImageOptimize, CropLeavesTheScreenAloneForAFrameReachingPastIt)
{
    // A damaged file: the transparent frame reaches past the 4-pixel screen.
    Builder b;
    b.Header(4, 2, {{0, 0, 0}, {255, 0, 0}});
    b.Gce(dmNone, 5, 0).Frame(2, 0, 6, 2, {0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    EXPECT_EQ(ErrorOf([&] { g.image->Optimize(ooCrop); }), "");
    EXPECT_EQ(FrameOf(*g.image, 0).GetBoundsRect(), Rect(4, 0, 6, 2));
    EXPECT_EQ(g.image->Width(), 4);
}

TEST(GifImageOptimize, MergeMakesTransparentWhatThePreviousFrameShows)
{
    // A frame identical to the opaque frame before it turns transparent
    // throughout and gets a control extension saying so.
    Builder b;
    b.Header(3, 1, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    b.Frame(0, 0, 3, 1, {0, 1, 2});
    b.Frame(0, 0, 3, 1, {0, 1, 2});
    // Frame 2 shows the same colours by a table of its own, except blue.
    b.Frame(0, 0, 3, 1, {2, 1, 0}, {{1, 1, 1}, {0, 255, 0}, {255, 0, 0}, {0, 0, 254}});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    g.image->Optimize(ooMerge);
    TGIFSubImage& second = FrameOf(*g.image, 1);
    ASSERT_TRUE(second.Transparent());
    const int t = second.GraphicControlExtension()->GetTransparentColorIndex();
    EXPECT_EQ(second.Pixels(), (std::vector<std::uint8_t>(3, static_cast<std::uint8_t>(t))));
    EXPECT_GE(t, 3) << "a new entry: the transparent index draws none of the frame's colours";
    TGIFSubImage& third = FrameOf(*g.image, 2);
    ASSERT_TRUE(third.Transparent());
    const auto t3 = static_cast<std::uint8_t>(third.GraphicControlExtension()->GetTransparentColorIndex());
    EXPECT_EQ(third.Pixels(), (std::vector<std::uint8_t>{t3, t3, 0})) << "equal colours across tables";
}

TEST(GifImageOptimize, MergeTakesAnotherFramesTransparentIndexOnlyWhenThisFrameDrawsNoneOfIt)
{
    // Frame 2 uses global index 3 as transparent; frame 1 draws with index 3
    // itself, so taking it would hide that pixel.
    Builder b;
    b.Header(2, 1, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}});
    b.Frame(0, 0, 2, 1, {0, 1});
    b.Frame(0, 0, 2, 1, {0, 3});
    b.Gce(dmNone, 0, 3).Frame(0, 0, 2, 1, {3, 2});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    const Animation before = Composed(SaveGif(*g.image));
    g.image->Optimize(ooMerge);
    TGIFSubImage& second = FrameOf(*g.image, 1);
    ASSERT_TRUE(second.Transparent());
    EXPECT_NE(second.GraphicControlExtension()->GetTransparentColorIndex(), 3);
    EXPECT_EQ(second.Pixels()[1], 3);
    EXPECT_EQ(Composed(SaveGif(*g.image)).shown, before.shown);
}

TEST(GifImageOptimize, CleanupDropsUnusedTransparencyAndNeedlessItems)
{
    Builder b;
    b.Header(2, 1, {{255, 0, 0}, {0, 255, 0}});
    b.Comment({"note"}).Gce(dmNone, 0, 1).Frame(0, 0, 2, 1, {0, 0});
    b.Comment({"trailing"});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 2);
    g.image->Optimize(ooCleanup);
    ASSERT_EQ(g.image->Images().Count(), 1) << "the frame left with nothing goes";
    EXPECT_EQ(FrameOf(*g.image, 0).Extensions().Count(), 0)
        << "no comment; the control extension says nothing once its unused transparency is gone";
    EXPECT_FALSE(FrameOf(*g.image, 0).Transparent());
}

TEST(GifImageOptimize, EmptyImageAndReductionToAPalette)
{
    TGIFImage empty;
    int reports = 0;
    empty.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool, const TRect&, const std::string&) { ++reports; };
    empty.Optimize(ooReduceColors, rmPalette);
    EXPECT_EQ(reports, 0);

    LoadedGif g = LoadGif(FixtureBytes("opt_merge.gif"));
    ASSERT_EQ(g.error, "");
    const std::string before = SaveGif(*g.image);
    EXPECT_EQ(ErrorOf([&] { g.image->Optimize(ooReduceColors | ooMerge, rmPalette); }), gifmsg::InvalidReduction);
    EXPECT_EQ(SaveGif(*g.image), before) << "refused before anything changed";
    EXPECT_EQ(ErrorOf([&] { g.image->Optimize(ooReduceColors | ooCleanup, rmPalette); }), "");
}

TEST(GifImageOptimize, ProgressRunsFromStartToEnd)
{
    LoadedGif g = LoadGif(FixtureBytes("opt_crop.gif"));
    ASSERT_EQ(g.error, "");
    std::vector<std::pair<TProgressStage, int>> seen;
    g.image->OnProgress = [&](TObject*, TProgressStage stage, std::uint8_t percent, bool, const TRect&,
                              const std::string& message) {
        EXPECT_EQ(message, gifmsg::Optimizing);
        seen.emplace_back(stage, percent);
    };
    g.image->Optimize(ooCrop | ooMerge | ooCleanup | ooColorMap);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), std::make_pair(psStarting, 0));
    EXPECT_EQ(seen.back(), std::make_pair(psEnding, 100));
    for (std::size_t i = 2; i + 1 < seen.size(); ++i)
        EXPECT_GE(seen[i].second, seen[i - 1].second);
}

TEST(GifImageOptimize, PackMovesASingleFramesTableIntoTheHeader)
{
    Builder b;
    b.Header(2, 1);
    b.Frame(0, 0, 2, 1, {0, 1}, {{1, 2, 3}, {4, 5, 6}});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    ASSERT_NE(g.image->GetBitmap(), nullptr);
    g.image->Pack();
    EXPECT_EQ(g.image->GetColorMap().Count(), 2);
    EXPECT_EQ(g.image->GetColorMap().Entry(1), (TGIFColor{4, 5, 6}));
    EXPECT_EQ(FrameOf(*g.image, 0).ColorMap().Count(), 0);
    EXPECT_FALSE(FrameOf(*g.image, 0).GetHasBitmap());

    // Two frames, or a global table already there: the tables stay.
    Builder two;
    two.Header(2, 1);
    two.Frame(0, 0, 2, 1, {0, 1}, {{1, 2, 3}, {4, 5, 6}});
    two.Frame(0, 0, 2, 1, {0, 1}, {{1, 2, 3}, {4, 5, 6}});
    LoadedGif h = LoadGif(two.Trailer().Str());
    h.image->Pack();
    EXPECT_EQ(h.image->GetColorMap().Count(), 0);
    EXPECT_EQ(FrameOf(*h.image, 0).ColorMap().Count(), 2);
}

TEST(GifImagePack, ChangingTheDrawOptionsDropsTheFramesBitmaps)
{
    // Dithering decides how a frame's bitmap is built: a bitmap built
    // dithered must not outlive the option.
    Builder b;
    b.Header(2, 1);
    b.Frame(0, 0, 2, 1, {0, 1}, {{1, 2, 3}, {4, 5, 6}});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    g.image->SetDrawOptions(goDither);
    ASSERT_NE(FrameOf(*g.image, 0).GetBitmap(), nullptr);
    g.image->SetDrawOptions(0);
    EXPECT_FALSE(FrameOf(*g.image, 0).GetHasBitmap());
}

}  // namespace
