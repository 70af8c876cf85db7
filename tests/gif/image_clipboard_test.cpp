// GIF images through the clipboard: copied and pasted back in this
// program, seen by other programs as image/gif and a picture, pasted from
// another program's image/gif, and other formats refused.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"

#include "imaging/gif/gifimage.h"
#include "ole/ole2.h"
#include "ole/winclip.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

namespace {

using gifbytes::Builder;

TApplication& App()
{
    static TApplication* app = new TApplication();
    return *app;
}

std::string TwoFrames()
{
    Builder b;
    b.Header(3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}});
    b.App("NETSCAPE2.0", {3, 1, 0, 0});
    b.Gce(dmNone, 10).Frame(0, 0, 3, 2, {0, 1, 2, 2, 1, 0});
    b.Gce(dmBackground, 20, 3).Frame(1, 0, 2, 2, {3, 1, 1, 3});
    return b.Trailer().Str();
}

UINT GifFormat() { return RegisterClipboardFormatA("GIF Image"); }

class GifClipboard : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void TearDown() override { QGuiApplication::clipboard()->clear(); }

    // What a program of the class library does to copy a graphic.
    void Copy(TGIFImage& image, std::uint32_t& format, HANDLE& data, HPALETTE& palette)
    {
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        image.SaveToClipboardFormat(format, data, palette);
        if (data)
            SetClipboardData(format, data);
        if (palette)
            SetClipboardData(CF_PALETTE, palette);
        CloseClipboard();
    }

    std::string PasteError(TGIFImage& image, UINT format)
    {
        EXPECT_TRUE(OpenClipboard(nullptr));
        const std::string error = ErrorOf([&] { image.LoadFromClipboardFormat(format, nullptr, nullptr); });
        CloseClipboard();
        return error;
    }
};

TEST_F(GifClipboard, CopyThenPasteGivesTheSameFrames)
{
    LoadedGif g = LoadGif(TwoFrames());
    ASSERT_EQ(g.error, "");
    std::uint32_t format = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    Copy(*g.image, format, data, palette);
    EXPECT_EQ(format, CF_BITMAP) << "the picture for programs that know no GIF";

    TGIFImage pasted;
    EXPECT_EQ(PasteError(pasted, GifFormat()), "");
    EXPECT_EQ(SaveGif(pasted), SaveGif(*g.image));

    // Other programs see the file as image/gif and the picture as an image.
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    const QByteArray bytes = mime->data("image/gif");
    EXPECT_EQ(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), SaveGif(*g.image));
    ASSERT_TRUE(mime->hasImage());
    const QImage picture = qvariant_cast<QImage>(mime->imageData());
    EXPECT_EQ(picture.size(), QSize(3, 2));
    EXPECT_EQ(picture.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(GifClipboard, PastesAnotherProgramsGif)
{
    auto* mime = new QMimeData;
    const std::string file = TwoFrames();
    mime->setData("image/gif", QByteArray(file.data(), static_cast<int>(file.size())));
    QGuiApplication::clipboard()->setMimeData(mime);

    TGIFImage pasted;
    EXPECT_EQ(PasteError(pasted, GifFormat()), "");
    EXPECT_EQ(pasted.Images().Count(), 2);
    EXPECT_EQ(SaveGif(pasted), SaveGif(*LoadGif(file).image));
}

TEST_F(GifClipboard, PastesAPictureAsOneFrame)
{
    QImage picture(3, 2, QImage::Format_RGB32);
    const QRgb colors[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0xFF0000, 0x0000FF};
    for (int i = 0; i < 6; ++i)
        picture.setPixel(i % 3, i / 3, colors[i] | 0xFF000000u);
    QGuiApplication::clipboard()->setImage(picture);

    TGIFImage pasted;
    EXPECT_EQ(PasteError(pasted, CF_BITMAP), "");
    ASSERT_EQ(pasted.Images().Count(), 1);
    TBitmap shown;
    pasted.AssignTo(&shown);
    ASSERT_EQ(shown.Width(), 3);
    ASSERT_EQ(shown.Height(), 2);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(shown.Image().pixel(i % 3, i / 3) & 0xFFFFFF, colors[i]) << i;
}

TEST_F(GifClipboard, OtherFormatsAreRefused)
{
    auto* mime = new QMimeData;
    mime->setText("not a picture");
    QGuiApplication::clipboard()->setMimeData(mime);
    TGIFImage image;
    for (UINT format : {static_cast<UINT>(CF_TEXT), static_cast<UINT>(CF_DIB), GifFormat()})
        EXPECT_EQ(PasteError(image, format), gifmsg::UnknownClipboardFormat) << format;
    EXPECT_TRUE(image.Empty());
}

TEST_F(GifClipboard, AnEmptyImageCopiesNothing)
{
    TGIFImage empty;
    std::uint32_t format = 77;
    HANDLE data = reinterpret_cast<HANDLE>(0x1234);
    HPALETTE palette = nullptr;
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    empty.SaveToClipboardFormat(format, data, palette);
    EXPECT_FALSE(IsClipboardFormatAvailable(GifFormat()));
    CloseClipboard();
    EXPECT_EQ(format, 77u);
    EXPECT_EQ(data, reinterpret_cast<HANDLE>(0x1234));
}

TEST_F(GifClipboard, AClipboardNotOpenRefusesTheGif)
{
    LoadedGif g = LoadGif(TwoFrames());
    std::uint32_t format = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    EXPECT_EQ(ErrorOf([&] { g.image->SaveToClipboardFormat(format, data, palette); }), gifmsg::ClipboardFailed);
    EXPECT_EQ(data, nullptr) << "the picture made for the clipboard is freed";
}

}  // namespace
