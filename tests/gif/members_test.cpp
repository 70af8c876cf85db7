// Members of the GIF graphic class that the rest of the program does not
// call: the screen's aspect byte, equality, loading from a resource, the
// plain text extension's fields, an item saved to a file, and the GDI
// helpers of the frame drawing (a failed GDI call, and a bitmap's
// device-independent copy at 1, 4, 8 or 24 bits).
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"
#include "imaging/gif/gifdib.h"
#include "imaging/gif/gifextensions.h"
#include "test_support/temp_dir.h"
#include "win/wintypes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using gifbytes::Builder;
using gifbytes::Rgb;

const std::vector<Rgb> kFour = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

std::string TwoFrames()
{
    Builder b;
    b.Header(2, 2, kFour).Frame(0, 0, 2, 2, {0, 1, 2, 3}).Frame(1, 1, 1, 1, {2});
    return b.Trailer().Str();
}

TEST(GifMembers, TheAspectByteIsStoredAndWrittenAsGiven)
{
    LoadedGif g = LoadGif(TwoFrames());
    ASSERT_EQ(g.error, "");
    EXPECT_EQ(g.image->GetAspectRatio(), 0);
    g.image->SetAspectRatio(49);
    EXPECT_EQ(g.image->GetAspectRatio(), 49);
    const std::string saved = SaveGif(*g.image);
    EXPECT_EQ(static_cast<unsigned char>(saved[12]), 49) << "the logical screen descriptor's last byte";
    EXPECT_EQ(LoadGif(saved).image->GetAspectRatio(), 49);
}

TEST(GifMembers, AnImageEqualsOnlyItselfWhereOtherGraphicsCompareTheirBytes)
{
    LoadedGif a = LoadGif(TwoFrames());
    LoadedGif b = LoadGif(TwoFrames());
    EXPECT_TRUE(a.image->Equals(a.image.get()));
    EXPECT_FALSE(a.image->Equals(b.image.get())) << "the same bytes, another image";
    TBitmap one(3, 2), same(3, 2), other(3, 2);
    other.Canvas().SetPixel(1, 1, RGB(255, 0, 0));
    EXPECT_TRUE(one.Equals(&same));
    EXPECT_FALSE(one.Equals(&other));
    EXPECT_FALSE(one.Equals(a.image.get()));
}

TEST(GifMembers, LoadsFromAResourceOfTheModule)
{
    static const std::string bytes = TwoFrames();
    RegisterResource(MainInstance(), "Spinner", RT_RCDATA, bytes.data(), bytes.size());
    TGIFImage image;
    image.LoadFromResourceName(MainInstance(), "SPINNER");
    EXPECT_EQ(image.Images().Count(), 2);
    EXPECT_EQ(image.Width(), 2);
    for (const char* name : {"Nothing", ""}) {
        SCOPED_TRACE(name);
        TGIFImage none;
        EXPECT_EQ(ErrorOf([&] { none.LoadFromResourceName(MainInstance(), name); }),
                  std::string("Resource ") + name + " not found");
    }
    // The same name of another module, or of another type, is another
    // resource.
    static char otherModule;
    EXPECT_THROW(image.LoadFromResourceName(&otherModule, "Spinner"), EResNotFound);
    RegisterResource(MainInstance(), "Bitmap", 2, bytes.data(), bytes.size());
    EXPECT_THROW(image.LoadFromResourceName(MainInstance(), "Bitmap"), EResNotFound);
}

TEST(GifMembers, PlainTextFieldsAreSetByIndexAndWritten)
{
    Builder b;
    b.Header(4, 2, kFour).Frame(0, 0, 4, 2, {0, 1, 2, 3, 3, 2, 1, 0});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    TGIFSubImage* frame = g.image->Images().Image(0);
    auto* text = new TGIFTextExtension(frame);
    frame->Extensions().Add(text);
    text->Text() = {"Hi"};
    struct Field {
        void (TGIFTextExtension::*set)(int, int);
        int (TGIFTextExtension::*get)(int) const;
        int index, value;
    };
    const Field fields[] = {
        {&TGIFTextExtension::SetBounds, &TGIFTextExtension::GetBounds, 1, 300},
        {&TGIFTextExtension::SetBounds, &TGIFTextExtension::GetBounds, 2, 2},
        {&TGIFTextExtension::SetBounds, &TGIFTextExtension::GetBounds, 3, 40},
        {&TGIFTextExtension::SetBounds, &TGIFTextExtension::GetBounds, 4, 9},
        {&TGIFTextExtension::SetCharWidthHeight, &TGIFTextExtension::GetCharWidthHeight, 1, 8},
        {&TGIFTextExtension::SetCharWidthHeight, &TGIFTextExtension::GetCharWidthHeight, 2, 12},
        {&TGIFTextExtension::SetColorIndex, &TGIFTextExtension::GetColorIndex, 1, 3},
        {&TGIFTextExtension::SetColorIndex, &TGIFTextExtension::GetColorIndex, 2, 1},
    };
    for (const Field& f : fields)
        (text->*f.set)(f.index, f.value);
    // Indices the record has no field for write nothing and read 0.
    text->SetBounds(5, 77);
    text->SetCharWidthHeight(0, 77);
    text->SetColorIndex(3, 77);
    EXPECT_EQ(text->GetBounds(5), 0);
    // The colours go through the frame's table: one it has is found there,
    // a new one is added to it.
    const int before = g.image->GetColorMap().Count();
    text->SetForegroundColor(RGB(0, 255, 0));
    EXPECT_EQ(text->GetColorIndex(1), 2);
    text->SetBackgroundColor(RGB(9, 8, 7));
    EXPECT_EQ(text->GetColorIndex(2), before);
    EXPECT_EQ(text->GetBackgroundColor(), RGB(9, 8, 7));

    LoadedGif again = LoadGif(SaveGif(*g.image));
    ASSERT_EQ(again.error, "");
    TGIFSubImage* read = again.image->Images().Image(0);
    auto* back = dynamic_cast<TGIFTextExtension*>(read->Extensions().Extension(read->Extensions().Count() - 1));
    ASSERT_NE(back, nullptr);
    for (const Field& f : fields)
        if (f.set != &TGIFTextExtension::SetColorIndex) {
            EXPECT_EQ((back->*f.get)(f.index), f.value) << f.index;
        }
    EXPECT_EQ(back->GetColorIndex(1), 2);
    EXPECT_EQ(back->GetForegroundColor(), RGB(0, 255, 0));
    EXPECT_EQ(back->GetBackgroundColor(), RGB(9, 8, 7));
    EXPECT_EQ(back->Text(), (std::vector<std::string> {"Hi"}));
}

TEST(GifMembers, AnItemSavesItselfToAFileWhole)
{
    LoadedGif g = LoadGif(TwoFrames());
    TGIFSubImage* frame = g.image->Images().Image(0);
    TMemoryStream expected;
    frame->SaveToStream(expected);
    TempDir dir;
    dir.Write("frame.bin", "older and longer contents than the frame");
    frame->SaveToFile(dir.Path("frame.bin"));
    EXPECT_EQ(dir.Read("frame.bin"),
              std::string(reinterpret_cast<const char*>(expected.Memory()), static_cast<std::size_t>(expected.Size())));
    // A file that cannot be made is an error; nothing is left behind.
    EXPECT_THROW(frame->SaveToFile(dir.Path("missing/frame.bin")), Exception);
}

TEST(GifMembers, AFailedGdiCallRaisesWithTheSystemsText)
{
    EXPECT_EQ(CheckGdiResult(42), 42);
    int out = 7;
    EXPECT_EQ(CheckGdiResult(&out), &out);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ErrorOf([] { CheckGdiResult<HDC>(nullptr); }), SysErrorMessage(ERROR_NOT_ENOUGH_MEMORY));
    SetLastError(0);
    try {
        CheckGdiResult(0);
        ADD_FAILURE() << "0 passed";
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Out of system resources");
    }
}

TEST(GifMembers, ABitmapsDeviceIndependentCopyInEachFormat)
{
    // 3 x 2 at 24 bits: red, green, blue over white, black, grey 200.
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(3, 2);
    const TColor colours[2][3] = {{RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)},
                                  {RGB(255, 255, 255), RGB(0, 0, 0), RGB(200, 200, 200)}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            bitmap.Canvas().SetPixel(x, y, colours[y][x]);
    struct Case {
        TPixelFormat format;
        int headerSize, imageSize;
    };
    for (const Case c : {Case {pf1bit, 48, 8}, Case {pf4bit, 104, 8}, Case {pf8bit, 1064, 8}, Case {pf24bit, 40, 24}}) {
        SCOPED_TRACE(c.format);
        int header = 0, image = 0;
        InternalGetDIBSizes(bitmap.Handle(), header, image, c.format);
        EXPECT_EQ(header, c.headerSize);
        EXPECT_EQ(image, c.imageSize);
        std::vector<std::uint8_t> info(static_cast<std::size_t>(header)), bits(static_cast<std::size_t>(image));
        ASSERT_TRUE(InternalGetDIB(bitmap.Handle(), nullptr, info.data(), bits.data(), c.format));
        const auto* bmi = reinterpret_cast<const BITMAPINFO*>(info.data());
        EXPECT_EQ(bmi->bmiHeader.biWidth, 3);
        EXPECT_EQ(bmi->bmiHeader.biHeight, 2);
        const int bpp = bmi->bmiHeader.biBitCount;
        const std::size_t stride = static_cast<std::size_t>(image) / 2;
        // Each pixel's colour, read back through the copy's own table; rows
        // are stored bottom first.
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const std::uint8_t* row = bits.data() + stride * static_cast<std::size_t>(1 - y);
                COLORREF got;
                if (bpp == 24) {
                    got = RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                } else {
                    const int bit = x * bpp;
                    const int index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
                    const RGBQUAD q = bmi->bmiColors[index];
                    got = RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
                }
                // At 1 bit each colour becomes the nearer of black and
                // white; the default tables have all but grey 200, which
                // goes to their light grey.
                static const COLORREF oneBit[2][3] = {{RGB(0, 0, 0), RGB(0, 0, 0), RGB(0, 0, 0)},
                                                      {RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 255, 255)}};
                COLORREF want = bpp == 1 ? oneBit[y][x] : colours[y][x];
                if (bpp != 1 && bpp != 24 && want == RGB(200, 200, 200))
                    want = RGB(192, 192, 192);
                EXPECT_EQ(got, want) << x << "," << y;
            }
    }
    int header = 0, image = 0;
    EXPECT_EQ(ErrorOf([&] { InternalGetDIBSizes(bitmap.Handle(), header, image, pf32bit); }), "Unsupported PixelFormat");
    EXPECT_EQ(ErrorOf([&] { InternalGetDIBSizes(nullptr, header, image, pf24bit); }), "Bitmap image is not valid");
}

}  // namespace
