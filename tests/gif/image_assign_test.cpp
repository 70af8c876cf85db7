// Copying whole GIF images, giving their picture to a bitmap and
// appending frames.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"

#include "imaging/gif/gifimage.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

using gifbytes::Builder;

// Two frames with a loop extension, a comment and transparency, and a
// trailing frame of a comment only.
std::string Animation()
{
    Builder b;
    b.Header(3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}, 2);
    b.App("NETSCAPE2.0", {3, 1, 4, 0});
    b.Comment({"first"}).Gce(dmBackground, 7).Frame(0, 0, 3, 2, {0, 1, 2, 2, 1, 0});
    b.Gce(dmNone, 9, 3).Frame(1, 1, 2, 1, {3, 1}, {{9, 9, 9}, {0, 0, 0}, {1, 1, 1}, {7, 7, 7}});
    b.Comment({"the end"});
    return b.Trailer().Str();
}

TEST(GifImageAssign, CopiesAnotherImageWhole)
{
    LoadedGif source = LoadGif(Animation());
    ASSERT_EQ(source.error, "");
    ASSERT_EQ(source.image->Images().Count(), 3);
    TGIFImage& from = *source.image;
    from.SetDrawOptions(goAnimate | goTile);
    from.SetDrawBackgroundColor(clLime);
    from.SetReductionBits(5);
    int painted = 0;
    from.OnPaintStart = [&](TObject*) { ++painted; };
    std::vector<std::string> copying;
    from.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool, const TRect&, const std::string& message) {
        copying.push_back(message);
    };

    TGIFImage copy;
    bool ownHandlerCalled = false;
    copy.OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool, const TRect&, const std::string&) {
        ownHandlerCalled = true;
    };
    copy.OnGIFWarning = [&](TObject*, TGIFSeverity, const std::string&) { ownHandlerCalled = true; };
    copy.Assign(&from);

    EXPECT_EQ(SaveGif(copy), SaveGif(from)) << "header, tables, frames and every extension";
    EXPECT_EQ(copy.Images().Count(), 3) << "the comment-only frame too";
    EXPECT_EQ(copy.DrawOptions(), from.DrawOptions());
    EXPECT_EQ(copy.DrawBackgroundColor(), clLime);
    EXPECT_EQ(copy.ReductionBits(), 5);
    EXPECT_EQ(copy.GetBackgroundColorIndex(), 2);
    ASSERT_TRUE(copy.OnPaintStart);
    copy.OnPaintStart(&copy);
    EXPECT_EQ(painted, 1);
    EXPECT_FALSE(ownHandlerCalled);
    EXPECT_FALSE(copy.OnProgress) << "no progress handler afterwards";
    EXPECT_FALSE(copy.OnGIFWarning) << "no warning handler afterwards";
    ASSERT_FALSE(copying.empty()) << "the copy reported to the source's handler";
    EXPECT_EQ(copying.front(), gifmsg::Copying);

    // The copy is a copy: changing it leaves the source alone.
    copy.Images().Image(0)->GetScanline(0)[0] = 3;
    EXPECT_EQ(from.Images().Image(0)->GetPixel(0, 0), 0);
    ASSERT_NE(copy.Images().Image(1)->GraphicControlExtension(), nullptr);
    EXPECT_TRUE(copy.Images().Image(1)->Transparent());
}

TEST(GifImageAssign, FramesReachingPastTheScreenAreCopiedAsTheyAre)
{
    // A damaged file's frames: one past the 4-pixel screen, one past what
    // a screen's 16 bits can hold, and one inside after them.
    Builder b;
    b.Header(4, 2, {{255, 0, 0}, {0, 255, 0}});
    b.Frame(2, 0, 6, 1, {0, 1, 0, 1, 0, 1});
    b.Frame(65530, 0, 10, 1, std::vector<std::uint8_t>(10, 1));
    b.Frame(0, 0, 2, 2, {1, 1, 0, 0});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 3);
    TGIFImage copy;
    EXPECT_EQ(ErrorOf([&] { copy.Assign(g.image.get()); }), "");
    EXPECT_EQ(copy.Width(), 4) << "the source's screen";
    EXPECT_EQ(SaveGif(copy), SaveGif(*g.image));
}

// Frames without pixels, found by fuzz_gif_roundtrip (both files are in
// its corpus): the copy has every field of every frame, not only of the
// frames with pixels.
TEST(GifImageAssign, FramesWithoutPixelsAreCopiedWhole)
{
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        // A frame of no size placed off the origin, with a local colour
        // table.
        {"empty frame with a local table",
         std::string("GIF89;\0\0\0\xF9\0\0\0,\x08\x08\0\0\0\0\0\xB2\xA8\x38\x39\0\0\xAF\0", 29)},
        // The screen's only block is a graphic control extension cut after
        // two bytes, whose flags say "transparent": the frame never became
        // transparent, and its copy must not either.
        {"cut graphic control extension", std::string("GIF89a\x04\x39\0\x04\x39\x04\x39!\xF9\x39\x39", 17)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedGif g = LoadGif(c.bytes);
        TGIFImage& from = *g.image;
        ASSERT_GT(from.Images().Count(), 0) << g.error;
        TGIFImage copy;
        copy.Assign(&from);
        ASSERT_EQ(copy.Images().Count(), from.Images().Count());
        EXPECT_EQ(copy.Width(), from.Width());
        EXPECT_EQ(copy.Height(), from.Height());
        for (int i = 0; i < from.Images().Count(); ++i) {
            TGIFSubImage* a = from.Images().Image(i);
            TGIFSubImage* b = copy.Images().Image(i);
            EXPECT_EQ(b->Left(), a->Left());
            EXPECT_EQ(b->Top(), a->Top());
            EXPECT_EQ(b->Width(), a->Width());
            EXPECT_EQ(b->Height(), a->Height());
            EXPECT_EQ(b->Descriptor().PackedFields, a->Descriptor().PackedFields);
            EXPECT_EQ(b->Transparent(), a->Transparent());
            EXPECT_EQ(b->Pixels(), a->Pixels());
            EXPECT_EQ(b->Extensions().Count(), a->Extensions().Count());
            EXPECT_EQ(b->ColorMap().Count(), a->ColorMap().Count());
            for (int k = 0; k < std::min(a->ColorMap().Count(), b->ColorMap().Count()); ++k)
                EXPECT_EQ(b->ColorMap().GetColor(k), a->ColorMap().GetColor(k)) << "entry " << k;
        }
        // And the copy writes what its source writes.
        EXPECT_EQ(SaveGif(copy), SaveGif(from));
    }
}

TEST(GifImageAssign, ItselfNothingAndOtherObjects)
{
    LoadedGif g = LoadGif(Animation());
    const std::string before = SaveGif(*g.image);
    g.image->Assign(g.image.get());
    EXPECT_EQ(SaveGif(*g.image), before);

    TStringList strings;
    EXPECT_EQ(ErrorOf([&] { g.image->Assign(&strings); }), "Cannot assign a TStringList to a TGIFImage");

    LoadedGif h = LoadGif(Animation());
    h.image->Assign(nullptr);
    EXPECT_TRUE(h.image->Empty());
    EXPECT_EQ(h.image->Width(), 0);
}

TEST(GifImageAssign, AssignToABitmapGivesTheRenderedImage)
{
    Builder b;
    b.Header(3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}});
    b.Frame(0, 0, 3, 2, {0, 1, 2, 3, 3, 0});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    TBitmap bitmap;
    g.image->AssignTo(&bitmap);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    const QImage& image = bitmap.Image();
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(image.pixel(2, 0) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(image.pixel(0, 1) & 0xFFFFFF, 0xFFFFFFu);

    TIcon icon;
    EXPECT_EQ(ErrorOf([&] { g.image->AssignTo(&icon); }), "Cannot assign a TGIFImage to a TIcon");
}

TEST(GifImageAssign, AddTakesItsOwnFramesAndCopiesOthers)
{
    LoadedGif g = LoadGif(Animation());
    TGIFImage& image = *g.image;
    ASSERT_NE(image.GetBitmap(), nullptr);
    int changes = 0;
    image.OnChange = [&](TObject*) { ++changes; };

    auto* own = new TGIFSubImage(&image);
    own->Assign(image.Images().Image(0));
    EXPECT_EQ(image.Add(own), 3);
    EXPECT_EQ(image.Images().Image(3), own) << "a new frame of the image is taken as it is";
    EXPECT_GT(changes, 0);

    // A frame already in the list, or another image's, goes in as a copy.
    EXPECT_EQ(image.Add(image.Images().Image(1)), 4);
    EXPECT_NE(image.Images().Image(4), image.Images().Image(1));
    EXPECT_EQ(image.Images().Image(4)->Pixels(), image.Images().Image(1)->Pixels());
    LoadedGif other = LoadGif(Animation());
    EXPECT_EQ(image.Add(other.image->Images().Image(0)), 5);
    EXPECT_EQ(other.image->Images().Count(), 3);
    EXPECT_EQ(image.Images().Image(5)->Image(), &image);

    TStringList strings;
    EXPECT_EQ(ErrorOf([&] { image.Add(&strings); }), gifmsg::NotSupported);
    EXPECT_EQ(image.Images().Count(), 6);
    image.OnChange = nullptr;
}

// A 3 x 2 true-colour bitmap of four colours.
std::unique_ptr<TBitmap> SmallBitmap()
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(3, 2);
    const TColor colors[6] = {clRed, clLime, clBlue, clWhite, clRed, clBlue};
    for (int i = 0; i < 6; ++i)
        bitmap->Canvas().SetPixel(i % 3, i / 3, colors[i]);
    return bitmap;
}

std::vector<QRgb> PixelsOf(TBitmap& bitmap)
{
    std::vector<QRgb> out;
    const QImage& image = bitmap.Image();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            out.push_back(image.pixel(x, y) & 0xFFFFFF);
    return out;
}

TEST(GifImageAssign, GraphicsBecomeFrames)
{
    const std::unique_ptr<TBitmap> bitmap = SmallBitmap();
    LoadedGif g = LoadGif(Animation());
    TGIFImage& image = *g.image;
    image.Assign(bitmap.get());
    ASSERT_EQ(image.Images().Count(), 1) << "the frames before are gone";
    EXPECT_EQ(image.Width(), 3);
    EXPECT_EQ(image.Height(), 2);
    TBitmap back;
    image.AssignTo(&back);
    EXPECT_EQ(PixelsOf(back), PixelsOf(*bitmap));

    // Added, a graphic becomes one more frame; the picture drawn before
    // is dropped, and the image says it changed.
    ASSERT_NE(image.GetBitmap(), nullptr);
    int changes = 0;
    image.OnChange = [&](TObject*) { ++changes; };
    EXPECT_EQ(image.Add(bitmap.get()), 1);
    EXPECT_GT(changes, 0);
    ASSERT_EQ(image.Images().Count(), 2);
    EXPECT_EQ(image.Images().Image(1)->Pixels(), image.Images().Image(0)->Pixels());
    image.OnChange = nullptr;
    EXPECT_EQ(PixelsOf(*bitmap), (std::vector<QRgb>{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0xFF0000, 0x0000FF}))
        << "the source is left as it was";
}

}  // namespace
