// The handle clipboard on the offscreen platform's QClipboard: ownership
// of the open clipboard, blocks and bitmaps set and read back, what other
// programs see of them and what we read of theirs.
#include "ole/winclip.h"

#include "gdi/gdiqt.h"
#include "ole/ole2.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <cstring>
#include <string>

namespace {

TApplication& App()
{
    static TApplication* app = new TApplication();
    return *app;
}

HGLOBAL Block(const std::string& bytes)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    return block;
}

std::string BytesOf(HANDLE block)
{
    const auto* p = static_cast<const char*>(GlobalLock(block));
    std::string s(p, GlobalSize(block));
    GlobalUnlock(block);
    return s;
}

// A 3 x 2 bitmap with a different colour in every pixel.
HBITMAP SmallBitmap()
{
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* p = static_cast<std::uint32_t*>(bits);
    for (std::uint32_t i = 0; i < 6; ++i)
        p[i] = 0x102030u * (i + 1);
    return b;
}

UINT GifFormat() { return RegisterClipboardFormatA("GIF Image"); }

class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void TearDown() override
    {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
        QGuiApplication::clipboard()->clear();
    }
};

TEST_F(ClipboardTest, OpenedByOneAtATimeAndOwnedAfterEmpty)
{
    // A refused handle stays the caller's.
    HGLOBAL refused = Block("x");
    EXPECT_EQ(SetClipboardData(CF_TEXT, refused), nullptr) << "not open";
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_FALSE(OpenClipboard(nullptr)) << "already open";
    EXPECT_EQ(SetClipboardData(CF_TEXT, refused), nullptr) << "open but not emptied, so not ours";
    GlobalFree(refused);
    EXPECT_TRUE(EmptyClipboard());
    EXPECT_TRUE(CloseClipboard());
    EXPECT_FALSE(CloseClipboard());
    EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr) << "closed";
}

TEST_F(ClipboardTest, GifAndBitmapReachQtAndComeBack)
{
    const std::string gif = std::string("GIF89a\x01\x00\x01\x00", 10) + std::string("\0;", 2);
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    HGLOBAL block = Block(gif);
    EXPECT_EQ(SetClipboardData(GifFormat(), block), block);
    HBITMAP bitmap = SmallBitmap();
    EXPECT_EQ(SetClipboardData(CF_BITMAP, bitmap), bitmap);
    // While still open the reader gets the very handles back.
    EXPECT_EQ(GetClipboardData(GifFormat()), block);
    EXPECT_TRUE(CloseClipboard());

    // Other programs see the GIF bytes as image/gif and the bitmap as a picture.
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->data("image/gif").toStdString(), gif);
    ASSERT_TRUE(mime->hasImage());
    const QImage shown = qvariant_cast<QImage>(mime->imageData()).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, QImageFromBitmap(bitmap));

    EXPECT_TRUE(IsClipboardFormatAvailable(GifFormat()));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_EQ(GetClipboardData(GifFormat()), block);
    EXPECT_EQ(GetClipboardData(CF_BITMAP), bitmap);
    EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
    EXPECT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, ReadsWhatAnotherProgramPut)
{
    QImage picture(4, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            picture.setPixel(x, y, qRgb(x * 60, y * 100, 7));
    auto* mime = new QMimeData;
    mime->setData("image/gif", QByteArray("GIF87a-bytes"));
    mime->setImageData(picture);
    QGuiApplication::clipboard()->setMimeData(mime);

    EXPECT_TRUE(IsClipboardFormatAvailable(GifFormat()));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE gif = GetClipboardData(GifFormat());
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(BytesOf(gif), "GIF87a-bytes");
    EXPECT_EQ(GetClipboardData(GifFormat()), gif) << "one handle per format while open";
    auto* bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(QImageFromBitmap(bitmap), picture);
    EXPECT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, AnotherProgramsDataReplacesOurs)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    SetClipboardData(GifFormat(), Block("ours"));
    ASSERT_TRUE(CloseClipboard());

    auto* mime = new QMimeData;
    mime->setText("theirs");
    QGuiApplication::clipboard()->setMimeData(mime);
    EXPECT_FALSE(IsClipboardFormatAvailable(GifFormat()));
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_EQ(GetClipboardData(GifFormat()), nullptr);
    HANDLE text = GetClipboardData(CF_TEXT);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(static_cast<const char*>(GlobalLock(text)), "theirs");
    GlobalUnlock(text);
    EXPECT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, SettingAFormatAgainFreesTheOldHandle)
{
    // Under the leak checker: the first block must not be lost.
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    SetClipboardData(GifFormat(), Block("first"));
    HGLOBAL second = Block("second");
    SetClipboardData(GifFormat(), second);
    EXPECT_EQ(GetClipboardData(GifFormat()), second);
    ASSERT_TRUE(CloseClipboard());
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("image/gif"), QByteArray("second"));
}

}  // namespace
