// Reading GIF data into the object tree: the header and its signature, the
// frames and the zero bytes between them, extensions of every kind, the
// trailer, and the hostile files that once hung, overflowed or ran out of
// memory, each named after its fault.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"

#include "imaging/gif/gifimage.h"
#include "rtl/streams.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using gifbytes::Builder;
using gifbytes::Rgb;

const std::vector<Rgb> kFour = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

Builder TwoByTwo(const std::string& signature = "GIF89a")
{
    Builder b;
    b.Header(2, 2, kFour, 0, signature).Frame(0, 0, 2, 2, {0, 1, 2, 3});
    return b;
}

TEST(GifStream, Signatures)
{
    const struct {
        std::string prefix, signature, error;
    } cases[] = {
        {"", "GIF89a", ""},
        {"", "gif89a", ""},
        {"", "GIF87a", ""},
        {"", "GIFxyz", ""},
        {"ABCD", "GIF89a", ""},
        {"AB", "GIF89a", "Invalid GIF signature"},
        {"", "PNG89a", "Invalid GIF signature"},
    };
    for (const auto& c : cases) {
        const LoadedGif g = LoadGif(c.prefix + TwoByTwo(c.signature).Trailer().Str());
        EXPECT_EQ(g.error, c.error) << c.prefix << c.signature;
        if (c.error.empty()) {
            EXPECT_EQ(g.image->Images().Count(), 1) << c.signature;
        }
    }
}

TEST(GifStream, FramesWithTheirBoundsPixelsAndTables)
{
    Builder b;
    b.Header(6, 5, kFour).Byte(0).Byte(0);
    b.Frame(0, 0, 6, 5, std::vector<std::uint8_t>(30, 1));
    b.Byte(0);
    std::vector<std::uint8_t> second;
    for (int i = 0; i < 12; ++i)
        second.push_back(static_cast<std::uint8_t>(i % 3));
    b.Frame(2, 1, 4, 3, second, {{9, 9, 9}, {8, 8, 8}, {7, 7, 7}}, true);
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    EXPECT_TRUE(g.warnings().empty());
    ASSERT_EQ(g.image->Images().Count(), 2);
    EXPECT_EQ(g.image->Width(), 6);
    EXPECT_EQ(g.image->Height(), 5);
    TGIFSubImage* f = g.image->Images().Image(1);
    EXPECT_EQ(f->GetBoundsRect(), Rect(2, 1, 6, 4));
    EXPECT_TRUE(f->GetInterlaced());
    EXPECT_EQ(f->Pixels(), second);
    EXPECT_EQ(f->ColorMap().Count(), 4);  // 3 colours are stored as 4
    EXPECT_EQ(&f->GetActiveColorMap(), &f->ColorMap());
    EXPECT_EQ(&g.image->Images().Image(0)->GetActiveColorMap(), &g.image->GetColorMap());
}

TEST(GifStream, TrailerAndStrayBlocks)
{
    const struct {
        std::string tail;
        std::vector<std::string> warnings;
    } cases[] = {
        {";", {}},
        {"", {}},
        {"X", {"Unknown GIF block type", "Invalid Image trailer"}},
    };
    for (const auto& c : cases) {
        const LoadedGif g = LoadGif(TwoByTwo().Str() + c.tail);
        EXPECT_EQ(g.error, "");
        EXPECT_EQ(g.warnings(), c.warnings) << c.tail;
        EXPECT_EQ(g.image->Images().Count(), 1);
    }
}

TEST(GifStream, ZeroSizedFrameTakesTheScreenSize)
{
    Builder b;
    b.Header(3, 2, kFour).FrameHead(0, 0, 0, 7).Bytes(gifbytes::Pack(8, gifbytes::Literals(8, {1, 1, 1, 1, 1, 1})));
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    EXPECT_EQ(g.warnings(), std::vector<std::string> {"Image exceeds Logical Screen size"});
    TGIFSubImage* f = g.image->Images().Image(0);
    EXPECT_EQ(f->Width(), 3);
    EXPECT_EQ(f->Height(), 2);
    EXPECT_EQ(f->Pixels(), std::vector<std::uint8_t>(6, 1));
}

TEST(GifStream, ExtensionsOfEveryKind)
{
    Builder b;
    b.Header(2, 2, kFour);
    b.Comment({"AB", "CD"});
    b.App("NETSCAPE2.0", {3, 1, 5, 0});
    b.App("ZZZZZZZZ1.0", {2, 7, 8, 1, 9});
    b.Gce(2, 25, 3).Gce(1, 99, -1);
    b.Frame(0, 0, 2, 2, {0, 1, 2, 3});
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    TGIFSubImage* f = g.image->Images().Image(0);
    TGIFExtensionList& list = f->Extensions();
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(dynamic_cast<TGIFCommentExtension*>(list.Extension(0))->Text(), (std::vector<std::string> {"AB", "CD"}));
    auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(list.Extension(1));
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->Loops(), 5);
    auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(list.Extension(2));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->GetIdentifier(), "ZZZZZZZZ");
    ASSERT_EQ(unknown->Blocks().size(), 2u);
    EXPECT_EQ(unknown->Blocks()[1].Data, (std::vector<std::uint8_t> {9}));
    // The first graphic control extension is the frame's; the second stays
    // in the list only.
    ASSERT_EQ(f->GraphicControlExtension(), list.Extension(3));
    EXPECT_TRUE(f->Transparent());
    EXPECT_EQ(f->GraphicControlExtension()->GetDisposal(), dmBackground);
    EXPECT_EQ(f->GraphicControlExtension()->GetDelay(), 25);
    EXPECT_EQ(f->GraphicControlExtension()->GetTransparentColorIndex(), 3);
    EXPECT_TRUE(g.image->GetIsTransparent());
    EXPECT_EQ(g.image->GetVersion(), gv89a);
}

TEST(GifStream, DisposalFieldHasThreeBits)
{
    // 4 to 7 name no method: read as none, written back as they were.
    const struct {
        int field;
        TDisposalMethod method;
    } cases[] = {{0, dmNone}, {1, dmNoDisposal}, {2, dmBackground}, {3, dmPrevious},
                 {4, dmNone}, {5, dmNone},       {6, dmNone},       {7, dmNone}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        Builder b;
        b.Header(2, 2, kFour).Gce(c.field, 5).Frame(0, 0, 2, 2, {0, 1, 2, 3});
        LoadedGif g = LoadGif(b.Trailer().Str());
        ASSERT_EQ(g.error, "");
        const TGIFGraphicControlExtension* gce = g.image->Images().Image(0)->GraphicControlExtension();
        ASSERT_NE(gce, nullptr);
        EXPECT_EQ(gce->GetDisposal(), c.method);
        EXPECT_EQ(gce->GetDisposalValue(), c.field);
        LoadedGif again = LoadGif(SaveGif(*g.image));
        ASSERT_NE(again.image->Images().Image(0)->GraphicControlExtension(), nullptr);
        EXPECT_EQ(again.image->Images().Image(0)->GraphicControlExtension()->GetDisposalValue(), c.field);
    }
}

TEST(GifStream, DamagedExtensions)
{
    const auto withExtension = [](const std::vector<std::uint8_t>& ext) {
        Builder b;
        b.Header(2, 2, kFour).Bytes(ext).Frame(0, 0, 2, 2, {0, 1, 2, 3});
        return LoadGif(b.Trailer().Str());
    };
    const struct {
        const char* name;
        std::vector<std::uint8_t> ext;
        std::string error;
    } cases[] = {
        {"unknown label", {0x21, 0x7F, 0}, "Unknown extension type"},
        {"loop count sub-block too short", {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 5, 0},
         "Invalid GIF data"},
        {"application block of 8", {0x21, 0xFF, 8, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0}, "Unsupported Application Extension block size"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withExtension(c.ext).error, c.error) << c.name;
}

TEST(GifStream, ApplicationBlockOfTenIsUnregisteredData)
{
    Builder b;
    b.Header(2, 2, kFour).App("ABCDEFGH12", {1, 7}).Frame(0, 0, 2, 2, {0, 1, 2, 3});
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 1);
    EXPECT_TRUE(dynamic_cast<TGIFUnknownAppExtension*>(g.image->Images().Image(0)->Extensions().Extension(0)));
    EXPECT_EQ(g.image->Images().Image(0)->Pixels(), (std::vector<std::uint8_t> {0, 1, 2, 3}));
}

// A block past 11 bytes once went to a data reader that has none.
TEST(GifStream, gif_app_block_over_eleven)
{
    Builder b;
    b.Header(2, 2, kFour).App("NETSCAPE2.0XY", {3, 1, 5, 0}).Frame(0, 0, 2, 2, {0, 1, 2, 3});
    const LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    auto* ext = dynamic_cast<TGIFUnknownAppExtension*>(g.image->Images().Image(0)->Extensions().Extension(0));
    ASSERT_TRUE(ext);
    EXPECT_EQ(ext->GetIdentifier(), "NETSCAPE");
    ASSERT_EQ(ext->Blocks().size(), 1u);
    EXPECT_EQ(g.image->Images().Image(0)->Pixels(), (std::vector<std::uint8_t> {0, 1, 2, 3}));
}

TEST(GifStream, ShortGraphicControlRecordWarns)
{
    Builder b;
    b.Header(2, 2, kFour).Bytes({0x21, 0xF9, 4, 1});
    const LoadedGif g = LoadGif(b.Str());
    EXPECT_EQ(g.error, "");
    EXPECT_EQ(g.warnings(), std::vector<std::string> {"Premature end of data"});
}

// The looping extension's reader once read past the end of the data for ever.
TEST(GifStream, gif_loop_ext_eof)
{
    for (const std::vector<std::uint8_t>& tail :
         {std::vector<std::uint8_t> {}, {3}, {3, 1}, {3, 1, 5, 0}, {7, 4}}) {
        Builder b;
        b.Header(2, 2, kFour).App("NETSCAPE2.0", tail, false);
        const LoadedGif g = LoadGif(b.Str());
        EXPECT_EQ(g.error, "Premature end of data") << tail.size();
        EXPECT_EQ(g.position, 0);
    }
}

TEST(GifStream, FailedLoadKeepsTheFramesReadAndRewinds)
{
    Builder b;
    b.Header(2, 2, kFour).Frame(0, 0, 2, 2, {3, 2, 1, 0}).FrameHead(0, 0, 2, 2, 0x80 | 7).Bytes({1, 2, 3});
    const LoadedGif g = LoadGif("ABCD" + b.Str(), 4);
    EXPECT_EQ(g.error, "Premature end of data");
    EXPECT_EQ(g.position, 4);
    ASSERT_EQ(g.image->Images().Count(), 1);
    EXPECT_EQ(g.image->Images().Image(0)->Pixels(), (std::vector<std::uint8_t> {3, 2, 1, 0}));
}

TEST(GifStream, AFileIsReadOnceAndLeftAfterTheImageOrWhereItWas)
{
    // A file is read into memory for the load; the file's position then
    // stands after the trailer, or back at the start when the load fails.
    TempDir dir;
    const std::string good = TwoByTwo().Trailer().Str();
    Builder bad;
    bad.Header(2, 2, kFour).FrameHead(0, 0, 2, 2, 0x80 | 7).Bytes({1, 2, 3});
    const struct {
        std::string gif, error;
        std::int64_t position;
    } cases[] = {
        {good, "", static_cast<std::int64_t>(4 + good.size())},
        {bad.Str(), "Premature end of data", 4},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Path("image.gif");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << "ABCD" << c.gif << "tail";
        TFileStream file(path, fmOpenRead);
        file.SetPosition(4);
        TGIFImage image;
        std::string error;
        try {
            image.LoadFromStream(file);
        } catch (const Exception& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(file.Position(), c.position) << c.error;
    }
    TGIFImage image;
    const std::string path = dir.Path("image.gif");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << good;
    TFileStream file(path, fmOpenRead);
    image.LoadFromStream(file);
    EXPECT_EQ(image.Images().Image(0)->Pixels(), (std::vector<std::uint8_t> {0, 1, 2, 3}));
}

// Frames are sized by two 16-bit fields and filled at once: a few bytes
// once asked for gigabytes, as often as there were frames.
TEST(GifStream, gif_huge_frames)
{
    Builder one;
    one.Header(65535, 65535, kFour).FrameHead(0, 0, 65535, 65535).Bytes({8, 2, 0x00, 0x01, 0}).Trailer();
    EXPECT_EQ(LoadGif(one.Str()).error, "Premature end of data");

    Builder many;
    many.Header(4000, 4000, kFour);
    for (int i = 0; i < 50; ++i)
        many.FrameHead(0, 0, 4000, 4000).Bytes({8, 2, 0x00, 0x01, 0});
    const LoadedGif g = LoadGif(many.Trailer().Str());
    EXPECT_EQ(g.error, "Premature end of data");
    EXPECT_LE(g.image->Images().Count(), 1);

    // Bytes of data in every frame do not buy every frame its size: each
    // frame is held to what its own data encodes, and what the frames claim
    // beyond that shares one allowance of 16 M pixels. 60 frames of
    // 2000 x 2000 with 600 bytes each (what a file of 40,000 such frames
    // does in 600 KB): a few frames, then the load fails.
    std::vector<gifbytes::Code> codes {{256, 9}, {0, 9}, {257, 9}};
    codes.resize(530, gifbytes::Code {0, 9});
    Builder padded;
    padded.Header(2000, 2000, kFour);
    for (int i = 0; i < 60; ++i)
        padded.FrameHead(0, 0, 2000, 2000).Bytes(gifbytes::Pack(8, codes));
    const LoadedGif p = LoadGif(padded.Trailer().Str());
    EXPECT_EQ(p.error, "Premature end of data");
    EXPECT_LE(p.image->Images().Count(), 7);
}

// A frame whose data can encode its pixels loads, however large: a
// 6000 x 3000 frame of one colour in the best codes LZW allows.
TEST(GifStream, LargeFrameWithEnoughDataLoads)
{
    const int w = 6000, h = 3000;
    // Strings of 1, 2, 3... pixels of index 0 until the table is full,
    // then its longest string again and again.
    const long long total = static_cast<long long>(w) * h;
    std::vector<gifbytes::Code> codes {{256, 9}, {0, 9}};
    long long covered = 1;
    int next = 258, width = 9, limit = 512;
    while (covered < total) {
        if (next < 4096) {
            codes.push_back({next, width});
            covered += next - 258 + 2;
            if (++next >= limit && limit < 4096) {
                limit *= 2;
                ++width;
            }
        } else {
            codes.push_back({4095, 12});
            covered += 4095 - 258 + 2;
        }
    }
    codes.push_back({257, width});
    Builder b;
    b.Header(w, h, kFour).FrameHead(0, 0, w, h).Bytes(gifbytes::Pack(8, codes)).Trailer();
    const LoadedGif g = LoadGif(b.Str());
    EXPECT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 1);
    EXPECT_EQ(g.image->Images().Image(0)->Pixels().size(), static_cast<size_t>(w) * h);
}

// Progress was position x 100 in 32 bits: past 21 MB a valid file failed.
TEST(GifStream, gif_progress_past_21mb)
{
    Builder b;
    b.Header(2, 2, kFour).Bytes({0x21, 0xFE});
    const std::string block(255, 'x');
    for (int i = 0; i < 23 * 1024 * 1024 / 256; ++i)
        b.Byte(255).Append(block);
    b.Byte(0).Frame(0, 0, 2, 2, {0, 1, 2, 3}).Trailer();
    TGIFImage image;
    std::vector<int> percents;
    image.OnProgress = [&](TObject*, TProgressStage stage, std::uint8_t percent, bool, const TRect&, const std::string&) {
        if (stage == psRunning)
            percents.push_back(percent);
    };
    TMemoryStream stream;
    stream.WriteBuffer(b.Data().data(), static_cast<std::int64_t>(b.Data().size()));
    stream.SetPosition(0);
    image.LoadFromStream(stream);
    EXPECT_EQ(percents, std::vector<int> {100});
}

// A 0 x 0 screen with a frame whose data is passed over.
TEST(GifStream, ZeroScreenFrameDataIsPassedOver)
{
    Builder b;
    b.Header(0, 0, kFour).FrameHead(0, 0, 0, 0).Bytes(gifbytes::Pack(8, gifbytes::Literals(8, {1, 2, 3})));
    b.Comment({"after"}).Trailer();
    const LoadedGif g = LoadGif(b.Str());
    EXPECT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 2);
    EXPECT_TRUE(g.image->Images().Image(0)->Empty());
    EXPECT_EQ(g.image->Images().Image(1)->Extensions().Count(), 1);
}

}  // namespace
