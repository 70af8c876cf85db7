// GIF reader of the image classes.
//
// Logical screen descriptor (13 bytes, little-endian):
//
//   0  6  Signature and version   "GIF87a" or "GIF89a"; "GIF8" is checked
//   6  2  ScreenWidth
//   8  2  ScreenHeight
//  10  1  Flags                   bit 7 global colour table, bits 0-2 its size
//  11  1  BackgroundIndex
//  12  1  AspectRatio
//
// Then blocks, each introduced by one byte: 0x21 an extension (a label, then
// data sub-blocks: a size byte and that many bytes, up to an empty one),
// 0x2C an image, 0x3B the trailer. An image is a 9-byte descriptor,
//
//   0  2  Left     2  2  Top     4  2  Width     6  2  Height
//   8  1  Flags    bit 7 local colour table, bit 6 interlaced, bits 0-2 size
//
// its local colour table, the LZW minimum code size and the data
// sub-blocks. A colour table of size s holds 2^(s+1) red, green, blue
// triples.
#include "imaging/vxgif.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxgiflzw_p.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t ScreenWidth = 6;
constexpr std::size_t ScreenHeight = 8;
constexpr std::size_t ScreenFlags = 10;
constexpr std::size_t BackgroundIndex = 11;
constexpr std::size_t kScreenSize = 13;

constexpr std::size_t Left = 0;
constexpr std::size_t Top = 2;
constexpr std::size_t Width = 4;
constexpr std::size_t Height = 6;
constexpr std::size_t ImageFlags = 8;
constexpr std::size_t kDescriptorSize = 9;

constexpr int kExtension = 0x21;
constexpr int kImage = 0x2C;
constexpr int kTrailer = 0x3B;

constexpr int kGraphicControl = 0xF9;
constexpr int kComment = 0xFE;
constexpr int kApplication = 0xFF;

// At best an LZW code of 12 bits stands for a string of 4096 pixels, so a
// byte of frame data gives at most this many pixels.
constexpr std::uint64_t kLzwPixelsPerByte = 4096 * 8 / 12 + 1;

constexpr const char* kPrematureEnd = "Premature end of data";

struct ColorTable {
    std::uint8_t rgb[256 * 3] = {};
    std::uint32_t count = 0;

    bool Read(GifInput& in, std::uint8_t sizeField)
    {
        count = 2u << (sizeField & 7);
        return in.Read(rgb, count * 3);
    }
};

struct Descriptor {
    std::uint32_t left, top, width, height;
    bool localTable, interlaced;
    std::uint8_t tableSize;

    explicit Descriptor(const std::uint8_t* d)
        : left(VxGet16(d + Left)), top(VxGet16(d + Top)), width(VxGet16(d + Width)), height(VxGet16(d + Height)),
          localTable(d[ImageFlags] & 0x80), interlaced(d[ImageFlags] & 0x40),
          tableSize(static_cast<std::uint8_t>(d[ImageFlags] & 7))
    {
    }
    bool Inside(std::uint32_t screenWidth, std::uint32_t screenHeight) const
    {
        return left + width <= screenWidth && top + height <= screenHeight;
    }
};

// Whether the rest of the stream could code a picture of this many pixels:
// a header may claim any size, and nothing is allocated for a claim the
// data cannot back.
bool StreamCanBack(const GifInput& in, std::uint64_t pixels)
{
    const std::int64_t left = in.Remaining();
    return left < 0 || pixels / kLzwPixelsPerByte <= static_cast<std::uint64_t>(left);
}

// Between blocks a byte other than an introducer is passed over together
// with everything up to the next 0 byte.
class BlockScanner {
public:
    // The introducer to act on, or -1 at the end of the stream.
    int Next(GifInput& in)
    {
        for (;;) {
            const int b = in.Byte();
            if (b < 0)
                return -1;
            if (!m_recognise && b != 0)
                continue;
            if (b == kExtension || b == kImage || b == kTrailer)
                return b;
            m_recognise = b == 0;
        }
    }

private:
    bool m_recognise = true;
};

// A rectangle of the canvas, in pixels from its top-left corner.
struct CanvasArea {
    std::uint32_t left = 0, top = 0, width = 0, height = 0;
};

// Frame f's pixels written onto the canvas at (left, top) of the picture,
// but for those of the transparent index.
void MixFrame(VxImage& canvas, const VxImage& frame, const CanvasArea& d, std::int32_t transparent)
{
    const auto cw = static_cast<std::int64_t>(canvas.GetWidth());
    const auto ch = static_cast<std::int64_t>(canvas.GetHeight());
    const std::int64_t x1 = std::min<std::int64_t>(cw, d.left + d.width);
    const std::int64_t y0 = std::max<std::int64_t>(ch - d.top - d.height, 0);
    const std::int64_t y1 = ch - d.top;
    const std::int64_t frameY0 = ch - d.top - d.height;  // canvas row of frame row 0
    const bool bytes = canvas.GetBpp() == 8 && frame.GetBpp() == 8;
    for (std::int64_t y = y0; y < y1; ++y) {
        const auto fy = static_cast<std::int32_t>(y - frameY0);
        if (bytes) {
            const std::uint8_t* src = frame.GetRowBits(static_cast<std::uint32_t>(fy));
            std::uint8_t* dst = canvas.GetRowBits(static_cast<std::uint32_t>(y)) + d.left;
            const std::int64_t n = x1 - d.left;
            if (transparent < 0) {
                std::memcpy(dst, src, static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
            } else {
                for (std::int64_t x = 0; x < n; ++x)
                    if (src[x] != transparent)
                        dst[x] = src[x];
            }
            continue;
        }
        for (std::int64_t x = d.left; x < x1; ++x) {
            const std::uint8_t index = frame.GetPixelIndex(static_cast<std::int32_t>(x - d.left), fy);
            if (index != transparent)
                canvas.SetPixelIndex(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), index);
        }
    }
}

}  // namespace

// Pictures up to this many pixels get the whole logical screen as their
// canvas, whatever the data holds: what no frame covers costs nothing to
// code. A larger screen must be backed by the data, or the canvas is cut to
// the rectangle the frames cover (as other readers give a file whose
// screen is far larger than its frames).
constexpr std::uint64_t kWholeScreenPixels = 16u << 20;

// One pass of the reader over a stream: the screen, the tables and the
// composition state that live for one call of Decode.
class GifDecodeRun {
public:
    GifDecodeRun(VxImageGIF& image, VxFile* stream) : m_image(image), m_in(stream) {}
    ~GifDecodeRun() { m_in.Sync(); }

    bool Run();

private:
    bool ReadExtension();
    // Frames inside the screen, and the rectangle they cover.
    std::int32_t CountFrames();
    void PlaceCanvas();
    // Reads one image block; false ends the reading.
    bool ReadImage(const Descriptor& d);
    void MakeCanvas(std::uint32_t bpp, const ColorTable* table);
    // The previous frame's disposal: its area cleared, or given back.
    void Dispose();
    void SaveArea(const CanvasArea& area);
    bool SamePalette(const VxImage& frame, std::uint32_t colors) const;
    // The 8-bit canvas as 24 bits with alpha, once a frame brings colours
    // of its own: indices of different tables cannot share one palette.
    void PromoteCanvas();
    void Mix(const VxImage& frame, const CanvasArea& area, std::int32_t transparent);
    void FillArea(const CanvasArea& area);
    void Assemble(VxImage& frame, const Descriptor& d);
    void Finish();
    // The 24-bit screen the frames are assembled on, made at the first need.
    VxImageGIF& TrueColorImage();
    CanvasArea AreaOf(const Descriptor& d) const
    {
        return CanvasArea{d.left - m_originX, d.top - m_originY, d.width, d.height};
    }

    VxImageGIF& m_image;
    GifInput m_in;
    std::uint32_t m_screenWidth = 0;
    std::uint32_t m_screenHeight = 0;
    std::uint8_t m_background = 0;
    ColorTable m_global;
    bool m_hasGlobal = false;
    std::int32_t m_trueColor = 0;
    std::int32_t m_frameIndex = 0;
    std::int32_t m_framesFound = 0;
    std::int32_t m_frameTransparent = -1;  // the graphic control's, for the next image
    std::int32_t m_frameDisposal = 0;      // likewise
    std::int32_t m_firstTransparent = -1;
    bool m_decoded = false;
    bool m_cutShort = false;
    // The canvas: the screen, or the frames' rectangle of it (PlaceCanvas).
    std::uint32_t m_originX = 0, m_originY = 0, m_canvasWidth = 0, m_canvasHeight = 0;
    std::uint32_t m_boundsLeft = 0, m_boundsTop = 0, m_boundsRight = 0, m_boundsBottom = 0;
    std::unique_ptr<VxImageGIF> m_canvas;
    // The previous frame's area and disposal, and what lay under a frame
    // that restores it (its rows, top first, and their alpha).
    CanvasArea m_previousArea;
    std::int32_t m_previousDisposal = 0;
    CanvasArea m_savedArea;
    std::vector<std::uint8_t> m_saved;
    std::vector<std::uint8_t> m_savedAlpha;
    std::unique_ptr<VxImageGIF> m_trueColorImage;
    std::int32_t m_lastTransparent = -1;
    RGBQUAD m_trueColorTransparent{};
};

bool GifDecodeRun::Run()
{
    VxImageAttributes& info = m_image.m_info;
    std::uint8_t screen[kScreenSize];
    if (!m_in.Read(screen, sizeof screen) || std::memcmp(screen, "GIF8", 4) != 0)
        VxRaise("Not a GIF file");
    m_screenWidth = VxGet16(screen + ScreenWidth);
    m_screenHeight = VxGet16(screen + ScreenHeight);
    m_background = screen[BackgroundIndex];
    if (info.stopRequest == -1) {
        m_image.m_header.biWidth = static_cast<LONG>(m_screenWidth);
        m_image.m_header.biHeight = static_cast<LONG>(m_screenHeight);
        VxRaise("output dimensions returned");
    }
    m_hasGlobal = screen[ScreenFlags] & 0x80;
    if (m_hasGlobal && !m_global.Read(m_in, screen[ScreenFlags]))
        VxRaise(kPrematureEnd);
    m_trueColor = m_hasGlobal ? 0 : 1;

    m_framesFound = CountFrames();
    info.framesFound = m_framesFound;
    if (info.frameToLoad < 0 || info.frameToLoad >= m_framesFound)
        VxRaise(m_framesFound == 0 ? "No image in the GIF file" : "GIF frame out of range");
    if (m_framesFound == 1)
        m_trueColor = 0;
    PlaceCanvas();

    BlockScanner scanner;
    for (bool going = true; going;) {
        const int b = scanner.Next(m_in);
        if (info.stopRequest > 0)
            VxRaise("Cancelled");
        switch (b) {
        case kExtension:
            going = ReadExtension();
            break;
        case kImage: {
            std::uint8_t d[kDescriptorSize];
            if (!m_in.Read(d, sizeof d))
                going = false;
            else
                going = ReadImage(Descriptor(d));
            break;
        }
        default:
            going = false;
            break;
        }
    }
    if (!m_decoded)
        VxRaise(kPrematureEnd);
    Finish();
    return true;
}

bool GifDecodeRun::ReadExtension()
{
    VxImageGIF& g = m_image;
    const int label = m_in.Byte();
    int size = m_in.Byte();
    if (label < 0 || size < 0)
        return false;
    // The first sub-block of the extensions known here is read as its
    // layout says; whatever it holds beyond that, and the sub-blocks after
    // it, are passed over.
    std::uint8_t block[255];
    if (!m_in.Read(block, static_cast<std::size_t>(size)))
        return false;
    if (label == kGraphicControl && size == 4) {
        g.m_control.flags = block[0];
        g.m_control.delay = VxGet16(block + 1);
        g.m_control.transparentIndex = block[3];
        m_frameTransparent = (block[0] & 1) ? block[3] : -1;
        g.m_info.frameDelay = g.m_control.delay;
        g.m_disposal = (block[0] >> 2) & 7;
        m_frameDisposal = g.m_disposal;
    } else if (label == kComment) {
        std::memcpy(g.m_comment, block, static_cast<std::size_t>(size));
        g.m_comment[size] = '\0';
    } else if (label == kApplication && size == 11) {
        // The identifier is not compared: every looping block in use
        // ("NETSCAPE2.0", "ANIMEXTS1.0") holds its count the same way.
        size = m_in.Byte();
        if (size < 0 || !m_in.Read(block, static_cast<std::size_t>(size)))
            return false;
        if (size > 2)
            g.m_loopCount = VxGet16(block + 1);
    }
    return size == 0 || m_in.SkipSubBlocks();
}

std::int32_t GifDecodeRun::CountFrames()
{
    // Frames are counted by passing over their data, never decoding it: the
    // count costs no memory whatever sizes the descriptors claim.
    const std::int64_t start = m_in.Position();
    std::int32_t count = 0;
    BlockScanner scanner;
    for (bool going = true; going;) {
        switch (scanner.Next(m_in)) {
        case kExtension:
            going = m_in.Byte() >= 0 && m_in.SkipSubBlocks();
            break;
        case kImage: {
            std::uint8_t raw[kDescriptorSize];
            if (!m_in.Read(raw, sizeof raw)) {
                going = false;
                break;
            }
            const Descriptor d(raw);
            if (d.Inside(m_screenWidth, m_screenHeight) && d.width > 0 && d.height > 0) {
                if (count == 0 || d.left < m_boundsLeft)
                    m_boundsLeft = count == 0 ? d.left : std::min(m_boundsLeft, d.left);
                if (count == 0 || d.top < m_boundsTop)
                    m_boundsTop = count == 0 ? d.top : std::min(m_boundsTop, d.top);
                m_boundsRight = std::max(count == 0 ? 0 : m_boundsRight, d.left + d.width);
                m_boundsBottom = std::max(count == 0 ? 0 : m_boundsBottom, d.top + d.height);
            }
            if (d.Inside(m_screenWidth, m_screenHeight))
                ++count;
            going = (!d.localTable || m_in.Skip((2u << d.tableSize) * 3)) && m_in.Byte() >= 0 && m_in.SkipSubBlocks();
            break;
        }
        default:
            going = false;
            break;
        }
    }
    m_in.SeekTo(start);
    return count;
}

void GifDecodeRun::PlaceCanvas()
{
    m_canvasWidth = m_screenWidth;
    m_canvasHeight = m_screenHeight;
    const std::uint64_t screen = std::uint64_t{m_screenWidth} * m_screenHeight;
    if (screen <= kWholeScreenPixels || StreamCanBack(m_in, screen))
        return;
    // A screen the data could never fill, with frames that cover none of
    // it, has nothing to show but a claim.
    if (m_boundsRight <= m_boundsLeft || m_boundsBottom <= m_boundsTop)
        VxRaiseDataMissing(m_screenWidth, m_screenHeight);
    m_originX = m_boundsLeft;
    m_originY = m_boundsTop;
    m_canvasWidth = m_boundsRight - m_boundsLeft;
    m_canvasHeight = m_boundsBottom - m_boundsTop;
    // What the frames cover is coded: the data must be able to hold it.
    const std::uint64_t covered = std::uint64_t{m_canvasWidth} * m_canvasHeight;
    if (covered > kWholeScreenPixels && !StreamCanBack(m_in, covered))
        VxRaiseDataMissing(m_canvasWidth, m_canvasHeight);
}

bool GifDecodeRun::ReadImage(const Descriptor& d)
{
    VxImageAttributes& info = m_image.m_info;
    ColorTable local;
    if (d.localTable && !local.Read(m_in, d.tableSize))
        return false;
    // An image that does not fit the screen is no frame: its data is passed
    // over.
    if (!d.Inside(m_screenWidth, m_screenHeight)) {
        m_frameTransparent = -1;
        m_frameDisposal = 0;
        return m_in.Byte() >= 0 && m_in.SkipSubBlocks();
    }

    if (m_frameIndex == 0 && d.width != m_screenWidth && d.height != m_screenHeight)
        ++m_trueColor;
    const ColorTable* table = d.localTable ? &local : m_hasGlobal ? &m_global : nullptr;
    const std::uint32_t colors = table ? table->count : 0;
    const std::uint32_t bpp = colors <= 2 ? 1 : colors <= 16 ? 4 : 8;
    const CanvasArea area = AreaOf(d);

    // The first frame of a file often covers the canvas at the canvas's
    // depth: it is decoded straight into the canvas, which is what mixing
    // it would give (its transparent pixels hold the index the canvas is
    // filled with).
    bool intoCanvas = false;
    if (m_trueColor < 2) {
        if (!m_canvas) {
            // Frames after the first may use more colours than it does, so
            // the canvas of an animation holds 8 bits whatever the first
            // frame needs.
            const std::uint32_t canvasBpp = m_framesFound > 1 ? 8 : bpp;
            MakeCanvas(canvasBpp, table);
            // A frame that gives the canvas back afterwards needs what it
            // covers kept first.
            intoCanvas = area.left == 0 && area.top == 0 && d.width == m_canvasWidth && d.height == m_canvasHeight &&
                         canvasBpp == bpp && m_frameDisposal != 3;
        } else {
            Dispose();
        }
    }

    VxImage frame;
    VxImage& target = intoCanvas ? static_cast<VxImage&>(*m_canvas) : frame;
    const std::uint64_t pixels = std::uint64_t{d.width} * d.height;
    if (pixels == 0) {
        // Nothing to decode into: the frame's data is passed over and it
        // leaves the canvas as it was.
        if (m_in.Byte() < 0 || !m_in.SkipSubBlocks())
            return false;
    } else {
        if (!StreamCanBack(m_in, pixels))
            VxRaiseDataMissing(d.width, d.height);
        if (!intoCanvas && !frame.Create(d.width, d.height, bpp, VXFMT_GIF))
            VxRaise(frame.GetLastError());
        if (table) {
            RGBQUAD pal[256] = {};
            for (std::uint32_t i = 0; i < 256; ++i) {
                const bool inTable = i < table->count;
                pal[i].rgbRed = inTable ? table->rgb[3 * i] : 255;
                pal[i].rgbGreen = inTable ? table->rgb[3 * i + 1] : 255;
                pal[i].rgbBlue = inTable ? table->rgb[3 * i + 2] : 255;
            }
            target.SetPalette(pal, m_frameTransparent >= 0 ? 256 : table->count);
        }
        const std::int64_t dataStart = m_in.Position();
        GifLineSink sink(target, d.interlaced);
        GifLzwDecoder lzw;
        std::int32_t badCodes = 0;
        lzw.Decode(m_in, sink, d.width, badCodes);
        m_cutShort = m_cutShort || lzw.CutShort();
        if (info.stopRequest != 0)
            VxRaise("Cancelled");
        if (badCodes > 0)
            m_in.SeekTo(dataStart);  // the scanner then looks for the next image
    }

    if (m_trueColor < 2) {
        if (pixels > 0 && !intoCanvas) {
            if (m_canvas->GetBpp() == 8 && !SamePalette(frame, colors)) {
                // The first frame to reach the canvas gives it its colours.
                if (m_frameIndex == 0)
                    m_canvas->SetPalette(frame.GetPalette(), frame.GetNumColors());
                else
                    PromoteCanvas();
            }
            if (m_frameDisposal == 3)
                SaveArea(area);
            Mix(frame, area, m_frameTransparent);
        } else if (m_frameDisposal == 3) {
            SaveArea(area);
        }
    } else {
        info.frameToLoad = m_framesFound - 1;
        if (pixels > 0)
            Assemble(frame, d);
    }
    // Only 2 (to the background) and 3 (to the picture before) ask for
    // anything; 0, 1 and the values no method has leave the frame.
    m_previousDisposal = m_frameDisposal;
    m_previousArea = area;
    const bool last = m_frameIndex >= info.frameToLoad;
    m_decoded = m_decoded || last;
    ++m_frameIndex;
    m_frameTransparent = -1;
    m_frameDisposal = 0;
    return !last;
}

void GifDecodeRun::MakeCanvas(std::uint32_t bpp, const ColorTable* table)
{
    m_canvas = std::make_unique<VxImageGIF>();
    m_canvas->CopyAttributes(m_image);
    if (!m_canvas->Create(m_canvasWidth, m_canvasHeight, bpp, VXFMT_GIF))
        VxRaise(m_canvas->GetLastError());
    // The screen before the first frame, where the frame leaves it or gives
    // it back: transparent when the first frame has a transparent colour,
    // otherwise the screen's background colour, as other readers compose
    // it (its index holds that colour when the frame draws with the global
    // table).
    std::uint8_t fill = m_image.m_control.transparentIndex;
    if (m_frameTransparent < 0 && table == &m_global && m_background < m_global.count)
        fill = m_background;
    if (fill != 0)  // a new image is all zeros
        m_canvas->FillPixels(fill);
    m_firstTransparent = m_frameTransparent;
}

void GifDecodeRun::Dispose()
{
    if (m_previousDisposal == 2) {
        FillArea(m_previousArea);
    } else if (m_previousDisposal == 3 && m_savedArea.width > 0 && m_savedArea.height > 0) {
        const CanvasArea& a = m_savedArea;
        const std::size_t rowBytes = m_canvas->GetBpp() == 24 ? std::size_t{a.width} * 3 : a.width;
        const std::size_t pixelBytes = m_canvas->GetBpp() == 24 ? 3 : 1;
        for (std::uint32_t y = 0; y < a.height; ++y) {
            const std::uint32_t row = m_canvasHeight - 1 - (a.top + y);
            std::memcpy(m_canvas->GetRowBits(row) + a.left * pixelBytes, m_saved.data() + y * rowBytes, rowBytes);
            if (std::uint8_t* alpha = m_canvas->GetAlphaPointer(static_cast<std::int32_t>(a.left),
                                                               static_cast<std::int32_t>(row));
                alpha && !m_savedAlpha.empty())
                std::memcpy(alpha, m_savedAlpha.data() + std::size_t{y} * a.width, a.width);
        }
    }
    m_savedArea = CanvasArea{};
}

void GifDecodeRun::SaveArea(const CanvasArea& a)
{
    // Only an animation's canvas (8 or 24 bits) has a next frame to give
    // the area back to.
    if (m_canvas->GetBpp() < 8)
        return;
    m_savedArea = a;
    const std::size_t pixelBytes = m_canvas->GetBpp() == 24 ? 3 : 1;
    const std::size_t rowBytes = std::size_t{a.width} * pixelBytes;
    m_saved.resize(rowBytes * a.height);
    m_savedAlpha.assign(m_canvas->HasAlpha() ? std::size_t{a.width} * a.height : 0, 0);
    for (std::uint32_t y = 0; y < a.height; ++y) {
        const std::uint32_t row = m_canvasHeight - 1 - (a.top + y);
        std::memcpy(m_saved.data() + y * rowBytes, m_canvas->GetRowBits(row) + a.left * pixelBytes, rowBytes);
        if (const std::uint8_t* alpha =
                m_canvas->GetAlphaPointer(static_cast<std::int32_t>(a.left), static_cast<std::int32_t>(row)))
            std::memcpy(m_savedAlpha.data() + std::size_t{y} * a.width, alpha, a.width);
    }
}

// The area goes back to the background, which shows through: to the first
// frame's transparent index, or, on a canvas without one, to alpha 0 (the
// canvas then holds 24 bits and alpha), as other readers give it.
void GifDecodeRun::FillArea(const CanvasArea& a)
{
    if (a.width == 0 || a.height == 0)
        return;
    if (m_firstTransparent < 0 && m_canvas->GetBpp() == 8)
        PromoteCanvas();
    const bool transparent = m_firstTransparent >= 0 || m_canvas->GetBpp() == 24;
    const std::uint8_t index = static_cast<std::uint8_t>(transparent ? m_firstTransparent : m_background);
    const bool deep = m_canvas->GetBpp() == 24;
    const std::uint8_t* bg = m_hasGlobal && m_background < m_global.count ? m_global.rgb + 3 * m_background : nullptr;
    for (std::uint32_t y = 0; y < a.height; ++y) {
        const auto row = static_cast<std::int32_t>(m_canvasHeight - 1 - (a.top + y));
        std::uint8_t* bits = m_canvas->GetRowBits(static_cast<std::uint32_t>(row));
        if (!deep) {
            for (std::uint32_t x = 0; x < a.width; ++x)
                m_canvas->SetPixelIndex(static_cast<std::int32_t>(a.left + x), row, index);
            continue;
        }
        for (std::uint32_t x = 0; x < a.width; ++x) {
            std::uint8_t* p = bits + 3 * (a.left + x);
            p[0] = bg ? bg[2] : 0;
            p[1] = bg ? bg[1] : 0;
            p[2] = bg ? bg[0] : 0;
        }
        if (std::uint8_t* alpha = m_canvas->GetAlphaPointer(static_cast<std::int32_t>(a.left), row))
            std::memset(alpha, transparent ? 0 : 255, a.width);
    }
}

bool GifDecodeRun::SamePalette(const VxImage& frame, std::uint32_t colors) const
{
    const RGBQUAD* a = m_canvas->GetPalette();
    const RGBQUAD* b = frame.GetPalette();
    if (!a || !b)
        return false;
    const std::uint32_t n = std::min({colors, m_canvas->GetNumColors(), frame.GetNumColors()});
    for (std::uint32_t i = 0; i < n; ++i)
        if (a[i].rgbRed != b[i].rgbRed || a[i].rgbGreen != b[i].rgbGreen || a[i].rgbBlue != b[i].rgbBlue)
            return false;
    return n == colors;
}

void GifDecodeRun::PromoteCanvas()
{
    auto deep = std::make_unique<VxImageGIF>();
    deep->CopyAttributes(m_image);
    if (!deep->Create(m_canvasWidth, m_canvasHeight, 24, VXFMT_GIF) || !deep->CreateAlphaPlane())
        VxRaise(deep->GetLastError());
    for (std::uint32_t row = 0; row < m_canvasHeight; ++row) {
        const std::uint8_t* src = m_canvas->GetRowBits(row);
        std::uint8_t* dst = deep->GetRowBits(row);
        std::uint8_t* alpha = deep->GetAlphaPointer(0, static_cast<std::int32_t>(row));
        for (std::uint32_t x = 0; x < m_canvasWidth; ++x) {
            const RGBQUAD c = m_canvas->GetPaletteColor(src[x]);
            dst[3 * x] = c.rgbBlue;
            dst[3 * x + 1] = c.rgbGreen;
            dst[3 * x + 2] = c.rgbRed;
            alpha[x] = static_cast<std::int32_t>(src[x]) == m_firstTransparent ? 0 : 255;
        }
    }
    m_canvas = std::move(deep);
}

void GifDecodeRun::Mix(const VxImage& frame, const CanvasArea& area, std::int32_t transparent)
{
    if (m_canvas->GetBpp() != 24) {
        MixFrame(*m_canvas, frame, area, transparent);
        return;
    }
    for (std::uint32_t y = 0; y < area.height; ++y) {
        const auto row = static_cast<std::int32_t>(m_canvasHeight - 1 - (area.top + y));
        const auto fy = static_cast<std::int32_t>(area.height - 1 - y);
        std::uint8_t* bits = m_canvas->GetRowBits(static_cast<std::uint32_t>(row));
        std::uint8_t* alpha = m_canvas->GetAlphaPointer(static_cast<std::int32_t>(area.left), row);
        for (std::uint32_t x = 0; x < area.width; ++x) {
            const std::uint8_t index = frame.GetPixelIndex(static_cast<std::int32_t>(x), fy);
            if (index == transparent)
                continue;
            const RGBQUAD c = frame.GetPaletteColor(index);
            std::uint8_t* p = bits + 3 * (area.left + x);
            p[0] = c.rgbBlue;
            p[1] = c.rgbGreen;
            p[2] = c.rgbRed;
            alpha[x] = 255;
        }
    }
}

VxImageGIF& GifDecodeRun::TrueColorImage()
{
    if (!m_trueColorImage) {
        m_trueColorImage = std::make_unique<VxImageGIF>();
        if (!m_trueColorImage->Create(m_canvasWidth, m_canvasHeight, 24, VXFMT_GIF))
            VxRaise(m_trueColorImage->GetLastError());
    }
    return *m_trueColorImage;
}

void GifDecodeRun::Assemble(VxImage& frame, const Descriptor& d)
{
    TrueColorImage();
    // Rows count from the bottom in both images.
    const CanvasArea area = AreaOf(d);
    const auto fh = static_cast<std::int32_t>(d.height);
    const auto base = static_cast<std::int32_t>(m_canvasHeight - area.top) - fh;
    for (std::int32_t y = 0; y < fh; ++y)
        for (std::int32_t x = 0; x < static_cast<std::int32_t>(d.width); ++x)
            m_trueColorImage->SetPixelColor(static_cast<std::int32_t>(area.left) + x, base + y,
                                            frame.GetPixelColor(x, y, false));
    m_lastTransparent = m_frameTransparent;
    if (m_lastTransparent >= 0)
        m_trueColorTransparent = frame.GetPaletteColor(static_cast<std::uint8_t>(m_lastTransparent));
}

void GifDecodeRun::Finish()
{
    // Assembled frames that all lacked pixels leave the screen as it was made.
    VxImageGIF& result = m_canvas && !m_trueColorImage ? *m_canvas : TrueColorImage();
    // The picture takes the reader's attributes (frame count, delay); the
    // row layout is the picture's own.
    const VxImageAttributes own = result.m_info;
    result.m_info = m_image.m_info;
    result.m_info.rowWidth = own.rowWidth;
    result.m_info.firstRow = own.firstRow;
    result.m_info.borrowerSource = nullptr;
    result.m_info.nearestValid = false;
    result.m_info.formatId = VXFMT_GIF;
    result.m_info.transparentIndex = m_firstTransparent;
    if (m_trueColorImage && m_lastTransparent >= 0) {
        result.m_info.transparentColor = m_trueColorTransparent;
        result.m_info.transparentIndex = 0;
    }
    if (!m_trueColorImage && result.GetBpp() == 24) {
        // A promoted canvas keeps its transparency in the alpha plane, and
        // drops the plane when nothing is transparent.
        result.m_info.transparentIndex = -1;
        bool opaque = true;
        for (std::uint32_t row = 0; row < result.GetHeight() && opaque; ++row) {
            const std::uint8_t* alpha = result.GetAlphaPointer(0, static_cast<std::int32_t>(row));
            opaque = std::all_of(alpha, alpha + result.GetWidth(), [](std::uint8_t a) { return a == 255; });
        }
        if (opaque)
            result.DeleteAlphaPlane();
    }
    m_image.AdoptPixels(result);
    if (m_cutShort)
        m_image.MarkDamaged();
}

bool VxImageGIF::Decode(VxFile* stream)
{
    if (!stream)
        return false;
    try {
        GifDecodeRun run(*this, stream);
        return run.Run();
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return m_info.stopRequest == -1;
    } catch (const std::bad_alloc&) {
        SetError("Out of memory");
        return false;
    }
}
