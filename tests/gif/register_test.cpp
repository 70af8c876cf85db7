// What the GIF class sets up at start: the picture registry's class for
// ".gif" and for the "GIF Image" clipboard format, and the screen kind.
#include "gif/gif_bytes.h"
#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifregister.h"
#include "ole/ole2.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(GifRegistration, PicturesOfGifFilesAndTheClipboardFormatAreGifImages)
{
    TempDir dir;
    gifbytes::Builder b;
    b.Header(3, 2, {{0, 0, 0}, {255, 255, 255}}).Frame(0, 0, 3, 2, {0, 1, 0, 1, 0, 1}).Trailer();
    dir.Write("a.GIF", b.Str());
    TPicture picture;
    picture.LoadFromFile(dir.Path("a.GIF"));
    auto* gif = dynamic_cast<TGIFImage*>(picture.Graphic());
    ASSERT_TRUE(gif);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);

    ASSERT_NE(GIFClipboardFormat(), 0u);
    EXPECT_EQ(GIFClipboardFormat(), RegisterClipboardFormatA("GIF Image"));
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(GIFClipboardFormat()));
    EXPECT_TRUE(dynamic_cast<TGIFImage*>(TPicture::CreateForClipboardFormat(GIFClipboardFormat()).get()));
    EXPECT_NE(TPicture::GraphicFilter().find("GIF Image (*.gif)"), std::string::npos);
}

TEST(GifRegistration, TheThirtyTwoBitScreenIsNoPaletteDevice)
{
    PaletteDevice = DoAutoDither = true;
    DetectPaletteDevice();
    EXPECT_FALSE(PaletteDevice);
    EXPECT_FALSE(DoAutoDither);
    // A new image dithers only where the screen asks for it.
    TGIFImage image;
    EXPECT_FALSE(image.GetDoDither());
}

}  // namespace
