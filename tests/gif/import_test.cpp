// Frames made from other pictures: palette bitmaps taken as they are, true
// colour by the image's reduction, transparency from icons, metafiles and
// transparent bitmaps, copies of frames; cropping and merging frames; and
// the files written afterwards, read back by our reader and netpbm's.
#include "gif/gif_bytes.h"
#include "gif/gif_load.h"

#include "imaging/gif/gifimage.h"
#include "test_support/pnm.h"
#include "test_support/temp_dir.h"
#include "vcl/metafile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using gifbytes::Builder;
using gifbytes::Rgb;

// A palette bitmap of the given depth; pixel(x, y) gives its index.
std::unique_ptr<TBitmap> PaletteBitmap(TPixelFormat format, int w, int h, const std::vector<TColor>& colors,
                                       const std::function<int(int, int)>& pixel)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(w, h);
    std::vector<std::uint32_t> quads;
    for (TColor c : colors)
        quads.push_back(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
    b->SetColors(0, static_cast<int>(quads.size()), quads.data());
    const int bits = format == pf1bit ? 1 : format == pf4bit ? 4 : 8;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->ScanLine(y);
        std::memset(row, 0, static_cast<std::size_t>((w * bits + 7) / 8));
        for (int x = 0; x < w; ++x) {
            const int v = pixel(x, y);
            const int bit = x * bits;
            row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bits - bit % 8));
        }
    }
    return b;
}

// A true-colour bitmap (24 or 32 bits) of colour(x, y), given as 0x00BBGGRR.
std::unique_ptr<TBitmap> TrueColorBitmap(int w, int h, const std::function<TColor(int, int)>& colour,
                                         TPixelFormat format = pf24bit)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(w, h);
    const int step = format == pf24bit ? 3 : 4;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const TColor c = colour(x, y);
            row[x * step] = static_cast<std::uint8_t>(c >> 16);
            row[x * step + 1] = static_cast<std::uint8_t>(c >> 8);
            row[x * step + 2] = static_cast<std::uint8_t>(c);
        }
    }
    return b;
}

// A new frame appended to the image.
TGIFSubImage* NewFrame(TGIFImage& image)
{
    auto* frame = new TGIFSubImage(&image);
    image.Images().Add(frame);
    return frame;
}

// The colour the frame shows at a pixel, from its active table.
TColor ShownColor(TGIFSubImage& frame, int x, int y)
{
    return TGIFColorMap::RGB2Color(frame.GetActiveColorMap().Entry(frame.GetPixel(x, y)));
}

bool IsTransparentAt(TGIFSubImage& frame, int x, int y)
{
    return frame.Transparent() && frame.GraphicControlExtension() &&
           frame.GetPixel(x, y) == frame.GraphicControlExtension()->GetTransparentColorIndex();
}

// A 16-colour palette of distinct colours.
std::vector<TColor> Sixteen()
{
    std::vector<TColor> colors;
    for (int i = 0; i < 16; ++i)
        colors.push_back(RGB(i * 16, 255 - i * 8, (i * 53) & 0xFF));
    return colors;
}

// Palette bitmaps keep their indices and colours whatever the depth: the
// bits of a byte from the highest down, past byte boundaries.
TEST(GifImport, PaletteBitmapsKeepTheirIndicesAndColours)
{
    const std::vector<TColor> colors = Sixteen();
    struct Case {
        TPixelFormat format;
        int width;
        int levels;
    };
    for (const Case& c : {Case {pf1bit, 11, 2}, Case {pf4bit, 5, 16}, Case {pf8bit, 7, 16}}) {
        TGIFImage image;
        TGIFSubImage* frame = NewFrame(image);
        const auto pixel = [&](int x, int y) { return (x * 3 + y * 5) % c.levels; };
        const auto source = PaletteBitmap(c.format, c.width, 3, colors, pixel);
        frame->Assign(source.get());
        ASSERT_EQ(frame->Width(), c.width) << c.format;
        ASSERT_EQ(frame->Height(), 3);
        EXPECT_EQ(image.Width(), c.width) << "the frame sizes an empty image";
        ASSERT_GE(frame->ColorMap().Count(), c.levels);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < c.width; ++x) {
                ASSERT_EQ(frame->GetPixel(x, y), pixel(x, y)) << c.format << " " << x << "," << y;
                EXPECT_EQ(ShownColor(*frame, x, y), colors[static_cast<std::size_t>(pixel(x, y))]);
            }
        EXPECT_FALSE(frame->Transparent());
        EXPECT_EQ(source->PixelFormat(), c.format);
    }
}

// True colour with rmNone: one entry per colour in the order the rows show
// them from the top, red and blue in place; a 257th colour is refused and
// leaves the frame empty. The caller's 32-bit picture stays 32 bits.
TEST(GifImport, TrueColourWithoutReductionTakesColoursInOrderOfAppearance)
{
    TGIFImage image;
    image.SetColorReduction(rmNone);
    TGIFSubImage* frame = NewFrame(image);
    // 200 colours; each row repeats colours of the row above as well.
    const auto colour = [](int x, int y) {
        const int n = (y * 20 + x) % 200;
        return RGB(n, 255 - n, n / 2);
    };
    const auto source = TrueColorBitmap(20, 12, colour, pf32bit);
    frame->Assign(source.get());
    EXPECT_EQ(source->PixelFormat(), pf32bit);
    ASSERT_EQ(frame->ColorMap().Count(), 200);
    for (int n = 0; n < 200; ++n)
        EXPECT_EQ(TGIFColorMap::RGB2Color(frame->ColorMap().Entry(n)), RGB(n, 255 - n, n / 2)) << n;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(frame->GetPixel(x, y), (y * 20 + x) % 200);

    const auto many = TrueColorBitmap(30, 10, [](int x, int y) { return RGB(x, y, 7); });
    EXPECT_EQ(ErrorOf([&] { frame->Assign(many.get()); }), "Color table overflow");
    EXPECT_TRUE(frame->Empty());
    EXPECT_EQ(frame->ColorMap().Count(), 0);
}

// Deeper pictures go through the image's reduction: monochrome gives black
// and white, the web palette colours of its cube; rmPalette has no palette
// to map onto here and says so instead of making a blank frame.
TEST(GifImport, DeepPicturesAreReducedByTheImagesMethod)
{
    const auto source = TrueColorBitmap(8, 4, [](int x, int) { return x < 4 ? RGB(20, 30, 10) : RGB(240, 230, 250); });
    {
        TGIFImage image;
        image.SetColorReduction(rmMonochrome);
        image.SetDitherMode(dmNearest);
        TGIFSubImage* frame = NewFrame(image);
        frame->Assign(source.get());
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(ShownColor(*frame, x, 2), x < 4 ? RGB(0, 0, 0) : RGB(255, 255, 255)) << x;
    }
    {
        TGIFImage image;  // the default: the web palette
        TGIFSubImage* frame = NewFrame(image);
        const auto cube = TrueColorBitmap(2, 1, [](int x, int) { return x ? RGB(255, 204, 153) : RGB(0, 51, 102); });
        frame->Assign(cube.get());
        EXPECT_EQ(ShownColor(*frame, 0, 0), RGB(0, 51, 102));
        EXPECT_EQ(ShownColor(*frame, 1, 0), RGB(255, 204, 153));
    }
    {
        TGIFImage image;
        image.SetColorReduction(rmPalette);
        TGIFSubImage* frame = NewFrame(image);
        EXPECT_EQ(ErrorOf([&] { frame->Assign(source.get()); }), "Invalid reduction method");
        EXPECT_TRUE(frame->Empty());
    }
}

// The conversion reports "Converting..." from start to end, every 32 rows.
TEST(GifImport, ConversionReportsItsProgress)
{
    TGIFImage image;
    TGIFSubImage* frame = NewFrame(image);
    std::vector<std::pair<TProgressStage, int>> seen;
    image.OnProgress = [&](TObject* sender, TProgressStage stage, std::uint8_t percent, bool, const TRect&,
                           const std::string& m) {
        if (m == "Converting...") {
            EXPECT_EQ(sender, frame);
            seen.emplace_back(stage, percent);
        }
    };
    frame->Assign(PaletteBitmap(pf8bit, 3, 70, Sixteen(), [](int, int) { return 1; }).get());
    const std::vector<std::pair<TProgressStage, int>> expected = {
        {psStarting, 0}, {psRunning, 0}, {psRunning, 45}, {psRunning, 91}, {psEnding, 100}};
    EXPECT_EQ(seen, expected);
}

// A small icon file: 4 x 4 at 24 bits, the AND mask set on the left column
// and the bottom-right pixel.
std::string IconFile()
{
    std::string f;
    const auto put16 = [&](int v) { f += static_cast<char>(v & 0xFF); f += static_cast<char>((v >> 8) & 0xFF); };
    const auto put32 = [&](std::uint32_t v) { put16(static_cast<int>(v & 0xFFFF)); put16(static_cast<int>(v >> 16)); };
    const int xorBytes = 12 * 4, andBytes = 4 * 4;
    put16(0); put16(1); put16(1);
    f += '\4'; f += '\4'; f += '\0'; f += '\0';
    put16(1); put16(24); put32(40 + xorBytes + andBytes); put32(22);
    put32(40); put32(4); put32(8); put16(1); put16(24); put32(0); put32(0); put32(0); put32(0); put32(0); put32(0);
    for (int row = 3; row >= 0; --row)  // bottom-up
        for (int x = 0; x < 4; ++x) {
            const bool clear = x == 0 || (x == 3 && row == 3);
            f += static_cast<char>(clear ? 0 : 40 * x);  // blue
            f += static_cast<char>(clear ? 0 : 60 * row);
            f += static_cast<char>(clear ? 0 : 200);
        }
    for (int row = 3; row >= 0; --row) {
        const std::uint8_t bits = static_cast<std::uint8_t>(0x80 | (row == 3 ? 0x10 : 0));
        f += static_cast<char>(bits);
        f += std::string(3, '\0');
    }
    return f;
}

void LoadIcon(TIcon& icon)
{
    TMemoryStream s;
    const std::string bytes = IconFile();
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    s.SetPosition(0);
    icon.LoadFromStream(s);
}

bool IconClear(int x, int y) { return x == 0 || (x == 3 && y == 3); }

// What icons and metafiles leave uncovered, and a transparent bitmap's
// colour of its bottom-left pixel, become the frame's transparent pixels
// through one new black entry and a graphic control extension.
TEST(GifImport, MasksOfIconsMetafilesAndTransparentBitmapsBecomeTransparency)
{
    TIcon icon;
    LoadIcon(icon);
    TMetafile metafile;
    metafile.SetWidth(12);
    metafile.SetHeight(8);
    {
        TMetafileCanvas canvas(metafile);
        canvas.Brush().SetColor(RGB(200, 0, 0));
        canvas.FillRect(Rect(3, 2, 9, 6));
    }
    auto bitmap = TrueColorBitmap(6, 5, [](int x, int y) { return x + y < 4 ? RGB(9, 9, 9) : RGB(0, 0, 250); });
    bitmap->SetTransparent(true);

    struct Case {
        const char* name;
        TGraphic* graphic;
        std::function<bool(int, int)> clear;
    };
    const Case cases[] = {
        {"icon", &icon, IconClear},
        {"metafile", &metafile, [](int x, int y) { return !(x >= 3 && x < 9 && y >= 2 && y < 6); }},
        // The bottom-left pixel is blue: the blue pixels are the clear ones.
        {"bitmap", bitmap.get(), [](int x, int y) { return x + y >= 4; }},
    };
    for (const Case& c : cases) {
        TGIFImage image;
        image.SetColorReduction(rmNone);
        TGIFSubImage* frame = NewFrame(image);
        frame->Assign(c.graphic);
        ASSERT_EQ(frame->Width(), c.graphic->Width()) << c.name;
        ASSERT_TRUE(frame->Transparent()) << c.name;
        TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
        ASSERT_NE(gce, nullptr) << c.name;
        EXPECT_EQ(frame->Extensions().Count(), 1);
        EXPECT_EQ(TGIFColorMap::RGB2Color(frame->ColorMap().Entry(gce->GetTransparentColorIndex())), RGB(0, 0, 0));
        for (int y = 0; y < frame->Height(); ++y)
            for (int x = 0; x < frame->Width(); ++x)
                EXPECT_EQ(IsTransparentAt(*frame, x, y), c.clear(x, y)) << c.name << " " << x << "," << y;
        EXPECT_TRUE(frame->HasMask()) << c.name;
    }
    // What shows of the icon keeps its colours.
    TGIFImage image;
    image.SetColorReduction(rmNone);
    TGIFSubImage* frame = NewFrame(image);
    frame->Assign(&icon);
    EXPECT_EQ(ShownColor(*frame, 2, 1), RGB(200, 60, 80));
}

// A full table of 256 colours still takes a mask when some colour shows
// only where the picture is clear: that entry becomes the transparent one.
TEST(GifImport, AFullTableGivesTheEntryOnlyClearPixelsUse)
{
    std::vector<TColor> colors;
    for (int i = 0; i < 256; ++i)
        colors.push_back(RGB(i, 255 - i, i / 3));
    // Every index once; the bottom-left pixel's index 200 is nowhere else.
    auto bitmap = PaletteBitmap(pf8bit, 16, 16, colors, [](int x, int y) {
        const int n = y * 16 + x;
        return n == 240 ? 200 : n == 200 ? 240 : n;
    });
    bitmap->SetTransparent(true);
    TGIFImage image;
    TGIFSubImage* frame = NewFrame(image);
    frame->Assign(bitmap.get());
    ASSERT_TRUE(frame->Transparent());
    EXPECT_EQ(frame->ColorMap().Count(), 256);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(IsTransparentAt(*frame, x, y), x == 0 && y == 15) << x << "," << y;
            if (!(x == 0 && y == 15)) {
                EXPECT_EQ(ShownColor(*frame, x, y), colors[static_cast<std::size_t>(y * 16 + x == 200 ? 240 : y * 16 + x)]);
            }
        }
}

// A copy of a frame has its own extensions (the control extension among
// them), pixels, table and place; pictures give their graphic; a frame
// gives its bitmap; anything else is refused.
TEST(GifImport, FramesCopyWithTheirOwnExtensions)
{
    const std::vector<Rgb> local = {{1, 2, 3}, {40, 50, 60}, {70, 80, 90}, {200, 210, 220}};
    Builder b;
    b.Header(6, 5).Comment({"hello"}).Gce(2, 30, 1).Frame(2, 1, 3, 2, {0, 1, 2, 3, 1, 1}, local, true);
    b.Comment({"the end"});  // a frame of an extension only
    LoadedGif g = LoadGif(b.Trailer().Str());
    ASSERT_EQ(g.error, "");
    ASSERT_EQ(g.image->Images().Count(), 2);
    TGIFSubImage* source = g.image->Images().Image(0);

    TGIFImage other;
    TGIFSubImage* tail = NewFrame(other);
    tail->Assign(g.image->Images().Image(1));
    EXPECT_TRUE(tail->Empty());
    ASSERT_EQ(tail->Extensions().Count(), 1) << "the comment is kept";
    auto* comment = dynamic_cast<TGIFCommentExtension*>(tail->Extensions().Extension(0));
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->Text(), std::vector<std::string> {"the end"});

    TGIFImage target;
    TGIFSubImage* copy = NewFrame(target);
    copy->Assign(source);
    EXPECT_EQ(copy->GetBoundsRect(), source->GetBoundsRect());
    EXPECT_EQ(target.Width(), 5) << "the image grows to hold the copy";
    EXPECT_EQ(copy->Pixels(), source->Pixels());
    EXPECT_TRUE(copy->GetInterlaced());
    ASSERT_EQ(copy->ColorMap().Count(), 4);
    EXPECT_EQ(copy->ColorMap().Entry(3), source->ColorMap().Entry(3));
    ASSERT_EQ(copy->Extensions().Count(), 2);
    EXPECT_NE(copy->Extensions().Extension(0), source->Extensions().Extension(0));
    ASSERT_NE(copy->GraphicControlExtension(), nullptr);
    EXPECT_EQ(copy->GraphicControlExtension()->Frame(), copy);
    EXPECT_EQ(copy->GraphicControlExtension()->GetDelay(), 30);
    EXPECT_TRUE(copy->Transparent());
    g.image.reset();
    EXPECT_EQ(copy->GraphicControlExtension()->GetTransparentColorIndex(), 1) << "nothing shared with the source";

    TPicture picture;
    picture.SetGraphic(PaletteBitmap(pf8bit, 2, 2, Sixteen(), [](int x, int) { return x + 4; }));
    copy->Assign(&picture);
    EXPECT_EQ(copy->Width(), 2);
    EXPECT_EQ(ShownColor(*copy, 1, 0), Sixteen()[5]);
    EXPECT_FALSE(copy->Transparent());

    const auto replacement = PaletteBitmap(pf8bit, 3, 1, Sixteen(), [](int x, int) { return x; });
    copy->SetBitmap(replacement.get());
    EXPECT_EQ(copy->Width(), 3);
    EXPECT_EQ(ShownColor(*copy, 2, 0), Sixteen()[2]);
    copy->Assign(&picture);

    // A GIF image gives the picture it shows: a frame within its screen
    // comes with the screen around it.
    Builder small;
    small.Header(3, 2, {{0, 0, 0}, {255, 0, 0}}).Frame(1, 0, 2, 2, {1, 1, 1, 1});
    LoadedGif shown = LoadGif(small.Trailer().Str());
    ASSERT_EQ(shown.error, "");
    TGIFImage gifTarget;
    gifTarget.SetColorReduction(rmNone);
    TGIFSubImage* whole = NewFrame(gifTarget);
    whole->Assign(shown.image.get());
    ASSERT_EQ(whole->Width(), 3);
    EXPECT_EQ(ShownColor(*whole, 2, 1), RGB(255, 0, 0));

    TBitmap out;
    copy->AssignTo(out);
    ASSERT_EQ(out.Width(), 2);
    EXPECT_EQ(static_cast<TColor>(GetPixel(out.Canvas().Handle(), 1, 1)), Sixteen()[5]);

    TGIFHeader header(&target);
    EXPECT_THROW(copy->Assign(&header), EConvertError);
    copy->Assign(static_cast<TGraphic*>(nullptr));
    EXPECT_TRUE(copy->Empty());
}

// Files written after an import decode to the pictures imported, in our
// reader and in netpbm's; clear pixels decode to the transparent entry.
TEST(GifImport, ImportedFramesReadBackTheSame)
{
    const bool netpbm = std::system("command -v giftopnm > /dev/null 2>&1") == 0;
    TIcon icon;
    LoadIcon(icon);
    const auto sixteen = [](int x, int y) { return (x * 7 + y) % 16; };
    const auto truecolour = [](int x, int y) { return RGB(x * 9, y * 20, (x * y) & 0xFF); };
    auto pal1 = PaletteBitmap(pf1bit, 13, 9, {RGB(0, 0, 0), RGB(255, 255, 255)}, [](int x, int y) { return (x ^ y) & 1; });
    auto pal4 = PaletteBitmap(pf4bit, 9, 7, Sixteen(), sixteen);
    auto deep = TrueColorBitmap(17, 11, truecolour);
    struct Case {
        const char* name;
        TGraphic* graphic;
        std::function<TColor(int, int)> expected;  // clNone where clear
    };
    const Case cases[] = {
        {"1 bit", pal1.get(), [](int x, int y) { return (x ^ y) & 1 ? RGB(255, 255, 255) : RGB(0, 0, 0); }},
        {"4 bits", pal4.get(), [&](int x, int y) { return Sixteen()[static_cast<std::size_t>(sixteen(x, y))]; }},
        {"true colour", deep.get(), truecolour},
        {"icon", &icon, [](int x, int y) {
             return IconClear(x, y) ? clNone : RGB(200, 60 * y, 40 * x);
         }},
    };
    for (const Case& c : cases) {
        TGIFImage image;
        image.SetColorReduction(rmNone);
        NewFrame(image)->Assign(c.graphic);
        const std::string saved = SaveGif(image);
        LoadedGif back = LoadGif(saved);
        ASSERT_EQ(back.error, "") << c.name;
        TGIFSubImage* frame = back.image->Images().Image(0);
        const int w = c.graphic->Width(), h = c.graphic->Height();
        ASSERT_EQ(frame->Width(), w);
        PnmPicture peer;
        if (netpbm) {
            TempDir dir;
            dir.Write("a.gif", saved);
            peer = ReadPnmBytes(CommandOutput("giftopnm -image=all '" + dir.Path("a.gif") + "' 2>/dev/null"));
            ASSERT_EQ(peer.width, w) << c.name;
            ASSERT_EQ(peer.height, h) << c.name;
            if (std::system("command -v gifsicle > /dev/null 2>&1") == 0) {
                const std::string info = CommandOutput("gifsicle --info '" + dir.Path("a.gif") + "' 2>&1");
                EXPECT_NE(info.find("1 image"), std::string::npos) << c.name << info;
                EXPECT_EQ(info.find("gifsicle:"), std::string::npos) << c.name << info;
            }
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TColor want = c.expected(x, y);
                EXPECT_EQ(IsTransparentAt(*frame, x, y), want == clNone) << c.name << " " << x << "," << y;
                const TColor shown = want == clNone ? RGB(0, 0, 0) : want;
                EXPECT_EQ(ShownColor(*frame, x, y), shown) << c.name << " " << x << "," << y;
                if (netpbm) {
                    const std::uint32_t rgb = (GetRValue(shown) << 16) | (GetGValue(shown) << 8) | GetBValue(shown);
                    EXPECT_EQ(peer.At(x, y), rgb) << c.name << " giftopnm " << x << "," << y;
                }
            }
    }
}

// Crop: the frame shrinks to the rectangle of its opaque pixels and moves
// by as much; an all-clear frame empties; the image keeps its size.
TEST(GifCrop, CutsTransparentBordersAway)
{
    struct Case {
        std::vector<std::pair<int, int>> opaque;
        TRect bounds;  // after the crop; empty: the frame is emptied
    };
    const Case cases[] = {
        {{{3, 4}}, Rect(5 + 3, 2 + 4, 5 + 4, 2 + 5)},
        {{{1, 0}, {4, 5}, {2, 2}}, Rect(5 + 1, 2 + 0, 5 + 5, 2 + 6)},
        {{{0, 0}, {5, 6}}, Rect(5, 2, 11, 9)},
        {{}, Rect(0, 0, 0, 0)},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> pixels(6 * 7, 2);
        for (auto [x, y] : c.opaque)
            pixels[static_cast<std::size_t>(y * 6 + x)] = static_cast<std::uint8_t>(1 + 2 * (x % 2));
        Builder b;
        b.Header(20, 15, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}}).Gce(0, 0, 2).Frame(5, 2, 6, 7, pixels);
        LoadedGif g = LoadGif(b.Trailer().Str());
        ASSERT_EQ(g.error, "");
        TGIFSubImage* frame = g.image->Images().Image(0);
        frame->Crop();
        EXPECT_EQ(g.image->Width(), 20);
        EXPECT_EQ(g.image->Height(), 15);
        if (c.opaque.empty()) {
            EXPECT_TRUE(frame->Empty());
            continue;
        }
        ASSERT_EQ(frame->GetBoundsRect(), c.bounds);
        for (auto [x, y] : c.opaque)
            EXPECT_EQ(frame->GetPixel(5 + x - frame->Left(), 2 + y - frame->Top()),
                      pixels[static_cast<std::size_t>(y * 6 + x)]);
        EXPECT_EQ(frame->GetBitmap()->Width(), c.bounds.Width());
    }
    // Nothing for an opaque frame.
    Builder b;
    b.Header(4, 4, {{0, 0, 0}, {255, 0, 0}}).Frame(0, 0, 4, 4, std::vector<std::uint8_t>(16, 0));
    LoadedGif g = LoadGif(b.Trailer().Str());
    g.image->Images().Image(0)->Crop();
    EXPECT_EQ(g.image->Images().Image(0)->Width(), 4);
}

const std::vector<Rgb> kPalette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}, {50, 50, 50}, {60, 60, 60}, {70, 70, 70}};

// The transparent pixels after a merge of frame 1 over frame 0, as a
// string of 'T' and '.' over frame 1's rectangle.
std::string MergedPixels(TGIFImage& image)
{
    TGIFSubImage* frame = image.Images().Image(1);
    frame->Merge(image.Images().Image(0));
    std::string s;
    for (int y = 0; y < frame->Height(); ++y)
        for (int x = 0; x < frame->Width(); ++x)
            s += IsTransparentAt(*frame, x, y) ? 'T' : '.';
    return s;
}

// Merge: pixels that show what the previous frame shows beneath them turn
// transparent, compared by colour across tables; nothing when the previous
// frame is cleared away or where it is itself clear.
TEST(GifMerge, PixelsThatRepeatThePreviousFrameTurnTransparent)
{
    const std::vector<std::uint8_t> base = {1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2};
    {
        Builder b;  // the same frame again
        b.Header(4, 3, kPalette).Frame(0, 0, 4, 3, base).Frame(0, 0, 4, 3, base);
        LoadedGif g = LoadGif(b.Trailer().Str());
        EXPECT_EQ(MergedPixels(*g.image), std::string(12, 'T'));
        TGIFSubImage* frame = g.image->Images().Image(1);
        ASSERT_NE(frame->GraphicControlExtension(), nullptr);
        EXPECT_TRUE(frame->GraphicControlExtension()->GetTransparent());
        EXPECT_EQ(g.image->GetColorMap().Count(), 9) << "one black entry added to the global table";
        EXPECT_EQ(frame->GraphicControlExtension()->GetTransparentColorIndex(), 8);
        EXPECT_EQ(g.image->GetVersion(), gv89a);
    }
    {
        // A 2 x 2 frame at (1, 1) with its own table: equal colours match.
        const std::vector<Rgb> local = {{255, 0, 0}, {0, 255, 0}, {7, 7, 7}, {1, 1, 1}};
        Builder b;
        b.Header(4, 3, kPalette).Frame(0, 0, 4, 3, base).Frame(1, 1, 2, 2, {0, 1, 3, 0}, local);
        LoadedGif g = LoadGif(b.Trailer().Str());
        // Beneath: (1,1) red, (2,1) green, (1,2) black, (2,2) red.
        EXPECT_EQ(MergedPixels(*g.image), "TT.T");
        EXPECT_EQ(g.image->Images().Image(1)->ColorMap().Count(), 5) << "the black entry goes to its own table";
        EXPECT_EQ(g.image->GetColorMap().Count(), 8);
    }
    {
        // The previous frame's clear pixels (index 4) show something else.
        Builder b;
        b.Header(4, 3, kPalette).Gce(1, 0, 4).Frame(0, 0, 4, 3, base).Frame(0, 0, 4, 3, base);
        LoadedGif g = LoadGif(b.Trailer().Str());
        EXPECT_EQ(MergedPixels(*g.image), "TTT.TTTT.TTT");
    }
    for (int disposal : {2, 3}) {
        Builder b;
        b.Header(4, 3, kPalette).Gce(disposal, 0).Frame(0, 0, 4, 3, base).Frame(0, 0, 4, 3, base);
        LoadedGif g = LoadGif(b.Trailer().Str());
        EXPECT_EQ(MergedPixels(*g.image), std::string(12, '.')) << disposal;
    }
    {
        // Already transparent: its clear index stays, matches join it.
        Builder b;
        b.Header(4, 3, kPalette).Frame(0, 0, 4, 3, base).Gce(1, 7, 0).Frame(0, 0, 4, 3, {1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 2, 2});
        LoadedGif g = LoadGif(b.Trailer().Str());
        EXPECT_EQ(MergedPixels(*g.image), "T...TTTT...T");
        EXPECT_EQ(g.image->GetColorMap().Count(), 8);
        EXPECT_EQ(g.image->Images().Image(1)->GraphicControlExtension()->GetDelay(), 7);
    }
}

// Another frame's transparent index of the global table is shared only
// when this frame shows no pixel of it: otherwise a colour this frame
// draws would vanish.
TEST(GifMerge, ASharedTransparentIndexNeverHidesAColourInUse)
{
    struct Case {
        std::vector<std::uint8_t> second;
        const char* merged;
        int index;  // the second frame's transparent index
        int colors;  // of the global table afterwards
    };
    const Case cases[] = {
        {{1, 0, 0, 0}, "T...", 8, 9},  // shows index 0: a new entry
        {{1, 2, 2, 2}, "TT..", 0, 8},  // never shows it: shared
    };
    for (const Case& c : cases) {
        Builder b;
        b.Header(4, 1, kPalette)
            .Frame(0, 0, 4, 1, {1, 2, 3, 4})
            .Frame(0, 0, 4, 1, c.second)
            .Gce(1, 0, 0).Frame(0, 0, 1, 1, {0});
        LoadedGif g = LoadGif(b.Trailer().Str());
        ASSERT_EQ(g.error, "");
        EXPECT_EQ(MergedPixels(*g.image), c.merged);
        EXPECT_EQ(g.image->Images().Image(1)->GraphicControlExtension()->GetTransparentColorIndex(), c.index);
        EXPECT_EQ(g.image->GetColorMap().Count(), c.colors);
    }
}

}  // namespace

