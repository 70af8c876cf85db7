// GIF files written by gifsicle, pamtogif and gifbuild (made by
// scripts/make-gif-fixtures.sh): every frame's bitmap against the frame
// giftopnm -image=all read, and the extensions the tools wrote.
#include "gif/gif_load.h"
#include "test_support/fuzz_corpus.h"
#include "test_support/pnm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::string Fixture(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

LoadedGif LoadFixture(const std::string& name) { return LoadGif(Slurp(Fixture(name))); }

TEST(GifFixtures, EveryFrameBitmapMatchesGiftopnm)
{
    const struct {
        const char* name;
        int frames;
    } cases[] = {{"still_transparent", 1}, {"still_interlaced", 1}, {"anim_none", 3},
                 {"anim_background", 3}, {"anim_previous", 3},  {"extensions", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LoadedGif g = LoadFixture(std::string(c.name) + ".gif");
        ASSERT_EQ(g.error, "");
        EXPECT_TRUE(g.warnings().empty());
        ASSERT_EQ(g.image->Images().Count(), c.frames);
        for (int i = 0; i < c.frames; ++i) {
            const PnmPicture ref = ReadPnmFile(Fixture(std::string(c.name) + ".frame" + std::to_string(i) + ".ppm"));
            TBitmap* bitmap = g.image->Images().Image(i)->GetBitmap();
            ASSERT_TRUE(bitmap);
            ASSERT_EQ(bitmap->Width(), ref.width) << i;
            ASSERT_EQ(bitmap->Height(), ref.height) << i;
            int wrong = 0;
            for (int y = 0; y < ref.height; ++y)
                for (int x = 0; x < ref.width; ++x) {
                    const COLORREF c = GetPixel(bitmap->Canvas().Handle(), x, y);
                    const std::uint32_t rgb = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
                    wrong += rgb != ref.At(x, y);
                }
            EXPECT_EQ(wrong, 0) << "frame " << i;
        }
    }
}

TEST(GifFixtures, ExtensionsTheToolsWrote)
{
    const LoadedGif none = LoadFixture("anim_none.gif");
    const LoadedGif background = LoadFixture("anim_background.gif");
    const LoadedGif previous = LoadFixture("anim_previous.gif");
    const auto loops = [](const LoadedGif& g) {
        TGIFExtensionList& list = g.image->Images().Image(0)->Extensions();
        for (int i = 0; i < list.Count(); ++i)
            if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(list.Extension(i)))
                return loop->Loops();
        return -1;
    };
    EXPECT_EQ(loops(none), 0);
    EXPECT_EQ(loops(background), 3);
    EXPECT_EQ(loops(previous), -1);
    const struct {
        const LoadedGif* g;
        TDisposalMethod disposal;
        int delay;
        bool transparent;
    } cases[] = {{&none, dmNone, 10, false}, {&background, dmBackground, 5, false}, {&previous, dmPrevious, 0, true}};
    for (const auto& c : cases)
        for (int i = 0; i < 3; ++i) {
            TGIFSubImage* f = c.g->image->Images().Image(i);
            ASSERT_TRUE(f->GraphicControlExtension()) << i;
            EXPECT_EQ(f->GraphicControlExtension()->GetDisposal(), c.disposal) << i;
            EXPECT_EQ(f->GraphicControlExtension()->GetDelay(), c.delay) << i;
            EXPECT_EQ(f->Transparent(), c.transparent && i > 0) << i;
        }
    EXPECT_TRUE(previous.image->Images().Image(1)->GetInterlaced());
    EXPECT_FALSE(none.image->Images().Image(1)->GetInterlaced());
    EXPECT_EQ(previous.image->Images().Image(1)->GetBoundsRect(), Rect(3, 2, 8, 6));

    const LoadedGif ext = LoadFixture("extensions.gif");
    TGIFExtensionList& list = ext.image->Images().Image(0)->Extensions();
    ASSERT_EQ(list.Count(), 2);
    auto* text = dynamic_cast<TGIFTextExtension*>(list.Extension(0));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Text(), std::vector<std::string> {"Hi"});
    EXPECT_EQ(text->GetBounds(3), 4);
    EXPECT_EQ(text->GetBounds(4), 2);
    EXPECT_EQ(text->GetColorIndex(1), 1);
    EXPECT_EQ(text->GetForegroundColor(), RGB(0, 0, 255));
    auto* app = dynamic_cast<TGIFUnknownAppExtension*>(list.Extension(1));
    ASSERT_TRUE(app);
    EXPECT_EQ(app->GetIdentifier(), "VISTRELX");
    EXPECT_EQ(app->GetAuthentication(), "1.0");
    ASSERT_EQ(app->Blocks().size(), 1u);
    TGIFSubImage* second = ext.image->Images().Image(1);
    EXPECT_EQ(second->ColorMap().Count(), 4);
    EXPECT_TRUE(second->GetInterlaced());
}

TEST(GifFixtures, TheStillTransparentGifMasksItsWhite)
{
    const LoadedGif g = LoadFixture("still_transparent.gif");
    TGIFSubImage* f = g.image->Images().Image(0);
    ASSERT_TRUE(f->Transparent());
    EXPECT_EQ(f->GraphicControlExtension()->GetTransparentColor(), RGB(255, 255, 255));
    EXPECT_TRUE(f->HasMask());
}

}  // namespace
