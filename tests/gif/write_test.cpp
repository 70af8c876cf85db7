// Writing the object tree back: versions, table padding, comments cut into
// sub-blocks, application data and loop counts kept, the interlace bit,
// both compressions, and real files that must decode the same after a
// load and a save under netpbm's reader.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"

#include "imaging/gif/gifimage.h"
#include "test_support/pnm.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using gifbytes::Builder;
using gifbytes::Rgb;

const std::vector<Rgb> kFour = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

// Every frame's bounds and pixels, and the image's size.
void ExpectSameFrames(TGIFImage& a, TGIFImage& b)
{
    ASSERT_EQ(a.Images().Count(), b.Images().Count());
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    for (int i = 0; i < a.Images().Count(); ++i) {
        TGIFSubImage* fa = a.Images().Image(i);
        TGIFSubImage* fb = b.Images().Image(i);
        EXPECT_EQ(fa->GetBoundsRect(), fb->GetBoundsRect()) << i;
        EXPECT_EQ(fa->Pixels(), fb->Pixels()) << i;
        EXPECT_EQ(fa->GetInterlaced(), fb->GetInterlaced()) << i;
    }
}

TEST(GifWriteTree, VersionFollowsWhatTheFileNeeds)
{
    Builder b;
    b.Header(2, 2, kFour, 0, "GIF89a").Frame(0, 0, 2, 2, {0, 1, 2, 3});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    EXPECT_EQ(SaveGif(*g.image).substr(0, 6), "GIF87a") << "nothing of 89a in it";

    TGIFSubImage* frame = g.image->Images().Image(0);
    auto* comment = new TGIFCommentExtension(frame);
    comment->Text() = {std::string(300, 'x')};
    frame->Extensions().Add(comment);
    const std::string saved = SaveGif(*g.image);
    EXPECT_EQ(saved.substr(0, 6), "GIF89a");
    // The 300 characters as sub-blocks of 255 and 45.
    const std::size_t at = saved.find("\x21\xFE");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(static_cast<std::uint8_t>(saved[at + 2]), 255);
    EXPECT_EQ(static_cast<std::uint8_t>(saved[at + 3 + 255]), 45);
    EXPECT_EQ(saved[at + 4 + 255 + 45], '\0');

    LoadedGif back = LoadGif(saved);
    ASSERT_EQ(back.error, "");
    auto* read = dynamic_cast<TGIFCommentExtension*>(back.image->Images().Image(0)->Extensions().Extension(0));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Text(), (std::vector<std::string>{std::string(255, 'x'), std::string(45, 'x')}));

    TGIFImage empty;
    TMemoryStream out;
    try {
        empty.SaveToStream(out);
        ADD_FAILURE() << "no error";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Unsupported GIF version");
    }
}

TEST(GifWriteTree, TablesArePaddedToTheirSizeField)
{
    const std::vector<Rgb> five = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}};
    std::vector<Rgb> many;
    for (int i = 0; i < 256; ++i)
        many.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i / 2)});
    Builder b;
    b.Header(4, 1, five).Frame(0, 0, 4, 1, {0, 1, 4, 2});
    b.Frame(0, 0, 4, 1, {200, 3, 255, 0}, many, true);
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    // The reader gives the global table the 8 entries of its size field;
    // drop three so that 5 remain.
    TGIFColorMap& global = g.image->GetColorMap();
    while (global.Count() > 5)
        global.Delete(global.Count() - 1);
    const std::string saved = SaveGif(*g.image);
    EXPECT_EQ(static_cast<std::uint8_t>(saved[10]) & 0x87, 0x82) << "global table of 2 << 2 entries";
    EXPECT_EQ(saved.substr(13 + 15, 9), std::string(9, '\0')) << "three black entries after the five";
    // Past the first frame's descriptor, code size and sub-blocks.
    std::size_t second = 13 + 24 + 10 + 1;
    while (second < saved.size() && saved[second] != '\0')
        second += 1 + static_cast<std::uint8_t>(saved[second]);
    ++second;
    ASSERT_LT(second + 9, saved.size());
    EXPECT_EQ(saved[second], ',');
    EXPECT_EQ(static_cast<std::uint8_t>(saved[second + 9]), 0x80 | 0x40 | 7) << "local table of 256, interlaced";

    LoadedGif back = LoadGif(saved);
    ASSERT_EQ(back.error, "");
    ExpectSameFrames(*g.image, *back.image);
}

TEST(GifWriteTree, ExtensionsComeBackUnchanged)
{
    // Loop count, an unregistered application's data, a graphic control
    // record: written back byte for byte.
    Builder b;
    b.Header(2, 2, kFour);
    const std::size_t start = b.Data().size();
    b.App("NETSCAPE2.0", {3, 1, 3, 0});
    b.App("VISTRELXabc", {4, 'd', 'a', 't', 'a', 2, 0, 255});
    b.Gce(2, 35, 3);
    b.Frame(0, 0, 2, 2, {0, 1, 2, 3});
    const std::string original = b.Trailer().Str();
    LoadedGif g = LoadGif(original);
    ASSERT_EQ(g.error, "");
    const std::string saved = SaveGif(*g.image);
    const std::size_t extensionBytes = (14 + 4 + 1) + (14 + 8 + 1) + 8;
    EXPECT_EQ(saved.substr(start, extensionBytes), original.substr(start, extensionBytes));
    LoadedGif back = LoadGif(saved);
    auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(back.image->Images().Image(0)->Extensions().Extension(0));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->Loops(), 3);
}

TEST(GifWriteTree, ADamagedControlRecordIsWrittenWellFormed)
{
    // A control record claiming 51 bytes and ending in 0xFF is read as its
    // six bytes; the copy says 4 and ends in 0, so readers that trust the
    // size byte find the image right after it.
    Builder b;
    b.Header(2, 2, kFour);
    const std::size_t start = b.Data().size();
    b.Bytes({0x21, 0xF9, 0x33, 0x04, 0x0C, 0x00, 0x02, 0xFF});
    b.Frame(0, 0, 2, 2, {0, 1, 2, 3});
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    const std::string saved = SaveGif(*g.image);
    EXPECT_EQ(saved.substr(start, 9), std::string("\x21\xF9\x04\x04\x0C\x00\x02\x00\x2C", 9));
    LoadedGif back = LoadGif(saved);
    ASSERT_EQ(back.error, "");
    ExpectSameFrames(*g.image, *back.image);
}

TEST(GifWriteTree, BothCompressionsReadBack)
{
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < 64 * 40; ++i)
        pixels.push_back(static_cast<std::uint8_t>((i / 7) % 4));
    Builder b;
    b.Header(64, 40, kFour).Frame(0, 0, 64, 40, pixels).Frame(3, 2, 8, 4, std::vector<std::uint8_t>(32, 2), {}, true);
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    for (TGIFCompression c : {gcLZW, gcRLE}) {
        g.image->SetCompression(c);
        LoadedGif back = LoadGif(SaveGif(*g.image));
        ASSERT_EQ(back.error, "") << c;
        ExpectSameFrames(*g.image, *back.image);
    }
}

TEST(GifWriteTree, WriteErrorsReachTheCaller)
{
    Builder b;
    b.Header(2, 2, kFour).Frame(0, 0, 2, 2, {0, 1, 2, 3});
    LoadedGif g = LoadGif(b.Trailer().Str());
    class Full : public TMemoryStream {
    public:
        std::int64_t Write(const void* buffer, std::int64_t count) override
        {
            const std::int64_t n = std::min<std::int64_t>(count, 20 - Size());
            return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
        }
    } full;
    EXPECT_THROW(g.image->SaveToStream(full), EWriteError);
}

// Files made by gifsicle, gifbuild and pamtogif (the GIF reader's fixtures
// and the image classes'), loaded and saved: netpbm reads every frame of
// the copy as it reads the original.
TEST(GifWriteTree, RealFilesDecodeTheSameAfterASave)
{
    if (std::system("command -v giftopnm > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "netpbm is not installed";
    int files = 0;
    std::vector<std::filesystem::directory_entry> entries;
    for (const char* folder : {"fixtures", "../imaging/fixtures"})
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VISTREL_TEST_DATA) / folder))
            entries.push_back(entry);
    for (const auto& entry : entries) {
        if (entry.path().extension() != ".gif")
            continue;
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LoadedGif g = LoadGif(original);
        ASSERT_EQ(g.error, "") << entry.path();
        TempDir dir;
        dir.Write("a.gif", original);
        dir.Write("b.gif", SaveGif(*g.image));
        const std::string a = CommandOutput("giftopnm -image=all '" + dir.Path("a.gif") + "' 2>/dev/null");
        const std::string b = CommandOutput("giftopnm -image=all '" + dir.Path("b.gif") + "' 2>/dev/null");
        EXPECT_FALSE(a.empty()) << entry.path();
        EXPECT_EQ(a, b) << entry.path();
    }
    EXPECT_GT(files, 0);
}

}  // namespace

namespace {

// Form data is the GIF stream; with optimising on request the image is
// optimised first (here: the comment goes, the second frame shrinks to
// the one pixel that changes), and what shows and for how long stays.
TEST(GifWriteTree, FormDataIsTheStreamOptimisedOnRequest)
{
    struct OptimizeOnStream {
        explicit OptimizeOnStream(bool on) { GIFImageOptimizeOnStream = on; }
        ~OptimizeOnStream() { GIFImageOptimizeOnStream = false; }
    };
    const std::vector<std::uint8_t> pixels = {0, 1, 2, 3, 3, 2};
    Builder b;
    b.Header(3, 2, kFour).Comment({"made by hand"}).Gce(1, 20).Frame(0, 0, 3, 2, pixels).Gce(1, 20).Frame(0, 0, 3, 2, {0, 1, 2, 3, 3, 1});
    const std::string file = b.Trailer().Str();
    for (bool optimise : {false, true}) {
        OptimizeOnStream scope(optimise);
        LoadedGif g = LoadGif(file);
        ASSERT_EQ(g.error, "");
        TMemoryStream out;
        g.image->WriteData(out);
        std::string data(static_cast<std::size_t>(out.Size()), '\0');
        out.SetPosition(0);
        out.ReadBuffer(data.data(), out.Size());
        EXPECT_EQ(data, SaveGif(*g.image)) << "the image written is the image kept";
        EXPECT_EQ(data.find("made by hand") == std::string::npos, optimise);
        LoadedGif back = LoadGif(data);
        ASSERT_EQ(back.error, "");
        int delay = 0;
        for (int i = 0; i < back.image->Images().Count(); ++i)
            if (const TGIFGraphicControlExtension* gce = back.image->Images().Image(i)->GraphicControlExtension())
                delay += gce->GetDelay();
        EXPECT_EQ(delay, 40) << optimise;
        EXPECT_EQ(back.image->Images().Image(1)->GetBoundsRect(), optimise ? Rect(2, 1, 3, 2) : Rect(0, 0, 3, 2));
        TGIFSubImage* first = back.image->Images().Image(0);
        ASSERT_EQ(first->Width(), 3);
        for (int i = 0; i < 6; ++i) {
            const TGIFColor shown = first->GetActiveColorMap().Entry(first->GetPixel(i % 3, i / 3));
            EXPECT_EQ(shown.Red, kFour[pixels[static_cast<std::size_t>(i)]].r) << i;
            EXPECT_EQ(shown.Green, kFour[pixels[static_cast<std::size_t>(i)]].g) << i;
            EXPECT_EQ(shown.Blue, kFour[pixels[static_cast<std::size_t>(i)]].b) << i;
        }
    }
}

}  // namespace
