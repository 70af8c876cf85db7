// GIF writer of the image classes.
//
// The file is "GIF89a", the logical screen descriptor (the layout is drawn
// in vxgif.cpp) with the palette as the global colour table, a graphic
// control extension, a comment extension, one image and the trailer. An
// image of more than 8 bits per pixel has no global table: it is cut into
// cells of 17 x 15 pixels, each a frame of its own whose local table holds
// the exact colour of every pixel at index 1 + x + 17 y, index 0 being left
// for the transparent colour. The code streams come from the GIF frame
// encoders the graphic class writes with.
#include "imaging/vxgif.h"

#include "imaging/gif/gifencoder.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t kLargestSide = 65535;  // sizes are 16-bit fields
constexpr int kCellWidth = 17;
constexpr int kCellHeight = 15;  // 255 pixels: one palette entry each, 0 left free

constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControl = 0xF9;
constexpr std::uint8_t kComment = 0xFE;
constexpr std::uint8_t kLocalTable = 0x80;
constexpr std::uint8_t kNoGlobalTable = 0x11;  // 2-bit colour resolution, no table

constexpr const char* kWriteError = "Write Error in GIF file";

// The frame encoders write to a class library stream; this one passes the
// bytes on to the image classes' stream, and a short write raises.
class VxFileOutput : public TStream {
public:
    explicit VxFileOutput(VxFile* file) : m_file(file) {}
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override
    {
        return static_cast<std::int64_t>(m_file->Write(buffer, 1, static_cast<std::size_t>(count)));
    }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return m_file->Tell(); }

private:
    VxFile* m_file;
};

struct Rgb {
    std::uint8_t r, g, b;
};

}  // namespace

// One run of the writer over an image.
class GifEncodeRun {
public:
    GifEncodeRun(VxImageGIF& image, VxFile* file) : m_image(image), m_out(file) {}

    void Run()
    {
        if (m_image.GetBpp() > 8) {
            EncodeTrueColor();
            return;
        }
        const int bpp = static_cast<int>(m_image.GetBpp());
        WriteHeader(Palette(bpp));
        WriteControlExtension(m_image.IsTransparent(), m_image.m_disposal, m_image.m_info.frameDelay,
                              m_image.GetTransparentIndex());
        WriteComment();
        WriteImage(m_image.m_info.xOffset, m_image.m_info.yOffset, m_image.GetWidth(), m_image.GetHeight(), bpp,
                   nullptr, Indices());
        Put(kTrailer);
    }

private:
    void Put(std::uint8_t b) { m_out.WriteBuffer(&b, 1); }
    void Put(const void* bytes, std::size_t n) { m_out.WriteBuffer(bytes, static_cast<std::int64_t>(n)); }
    void PutWord(std::uint32_t v)
    {
        const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
        Put(b, 2);
    }
    void PutTable(const std::vector<Rgb>& table) { Put(table.data(), table.size() * sizeof(Rgb)); }

    // The palette as a colour table of exactly 2^bpp entries (a shorter
    // palette is padded with black, so the table matches its size field).
    std::vector<Rgb> Palette(int bpp) const
    {
        std::vector<Rgb> table(std::size_t{1} << bpp, Rgb{0, 0, 0});
        const std::uint32_t n = std::min<std::uint32_t>(m_image.GetNumColors(), static_cast<std::uint32_t>(table.size()));
        for (std::uint32_t i = 0; i < n; ++i) {
            const RGBQUAD c = m_image.GetPaletteColor(static_cast<std::uint8_t>(i));
            table[i] = {c.rgbRed, c.rgbGreen, c.rgbBlue};
        }
        return table;
    }

    void WriteHeader(const std::vector<Rgb>& globalTable)
    {
        Put("GIF89a", 6);
        PutWord(m_image.GetWidth());
        PutWord(m_image.GetHeight());
        if (globalTable.empty()) {
            Put(kNoGlobalTable);
        } else {
            const int bits = std::countr_zero(globalTable.size());
            Put(static_cast<std::uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));
        }
        Put(0);  // background colour index
        Put(0);  // aspect ratio
        PutTable(globalTable);
    }

    void WriteControlExtension(bool transparent, std::int32_t disposal, std::uint32_t delay, std::int32_t index)
    {
        const std::uint8_t flags = transparent ? static_cast<std::uint8_t>(((disposal & 7) << 2) | 1) : 0;
        const std::uint8_t block[] = {kExtension, kGraphicControl, 4, flags, static_cast<std::uint8_t>(delay),
                                      static_cast<std::uint8_t>(delay >> 8), static_cast<std::uint8_t>(index), 0};
        Put(block, sizeof block);
    }

    void WriteComment()
    {
        const std::size_t length = strnlen(m_image.m_comment, 255);
        if (length == 0)
            return;
        const std::uint8_t head[] = {kExtension, kComment, static_cast<std::uint8_t>(length)};
        Put(head, sizeof head);
        Put(m_image.m_comment, length);
        Put(0);
    }

    // The image's indices, top row first.
    std::vector<std::uint8_t> Indices() const
    {
        const std::uint32_t w = m_image.GetWidth(), h = m_image.GetHeight();
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h);
        for (std::uint32_t row = 0; row < h; ++row) {
            std::uint8_t* out = pixels.data() + static_cast<std::size_t>(row) * w;
            const auto y = static_cast<std::int32_t>(h - 1 - row);
            if (m_image.GetBpp() == 8)
                std::memcpy(out, m_image.GetRowBits(static_cast<std::uint32_t>(y)), w);
            else
                for (std::uint32_t x = 0; x < w; ++x)
                    out[x] = m_image.GetPixelIndexUnchecked(static_cast<std::int32_t>(x), y);
        }
        return pixels;
    }

    void WriteImage(std::int32_t left, std::int32_t top, std::uint32_t w, std::uint32_t h, int bpp,
                    const std::vector<Rgb>* localTable, const std::vector<std::uint8_t>& pixels)
    {
        Put(kImage);
        PutWord(static_cast<std::uint32_t>(left));
        PutWord(static_cast<std::uint32_t>(top));
        PutWord(w);
        PutWord(h);
        Put(localTable ? static_cast<std::uint8_t>(kLocalTable | (bpp - 1)) : 0);
        if (localTable)
            PutTable(*localTable);
        Encoder().Compress(m_out, bpp, static_cast<int>(w), static_cast<int>(h), false, pixels.data(), 1 << bpp);
    }

    TGIFEncoder& Encoder()
    {
        switch (m_image.GetFormatOption(VXFMT_GIF)) {
        case 1: return m_plain;
        case 2: return m_runLength;
        default: return m_lzw;
        }
    }

    // Cells of 17 x 15 pixels from the top-left, row of cells by row of
    // cells, the last ones narrower or lower.
    void EncodeTrueColor()
    {
        WriteHeader({});
        WriteComment();
        const std::uint32_t w = m_image.GetWidth(), h = m_image.GetHeight();
        const bool transparent = m_image.IsTransparent();
        const RGBQUAD clear = m_image.GetTransparentColor();
        std::vector<Rgb> table(256, Rgb{0, 0, 0});
        std::vector<std::uint8_t> pixels;
        for (std::uint32_t top = 0; top < h; top += kCellHeight)
            for (std::uint32_t left = 0; left < w; left += kCellWidth) {
                const std::uint32_t cw = std::min<std::uint32_t>(kCellWidth, w - left);
                const std::uint32_t ch = std::min<std::uint32_t>(kCellHeight, h - top);
                table[0] = transparent ? Rgb{clear.rgbRed, clear.rgbGreen, clear.rgbBlue} : Rgb{0, 0, 0};
                pixels.assign(static_cast<std::size_t>(cw) * ch, 0);
                for (std::uint32_t j = 0; j < ch; ++j)
                    for (std::uint32_t k = 0; k < cw; ++k) {
                        const RGBQUAD c = m_image.GetPixelColorUnchecked(static_cast<std::int32_t>(left + k),
                                                                         static_cast<std::int32_t>(h - 1 - (top + j)));
                        const std::size_t entry = 1 + k + kCellWidth * j;
                        table[entry] = {c.rgbRed, c.rgbGreen, c.rgbBlue};
                        const bool isClear = transparent && c.rgbRed == clear.rgbRed &&
                                             c.rgbGreen == clear.rgbGreen && c.rgbBlue == clear.rgbBlue;
                        pixels[j * cw + k] = isClear ? 0 : static_cast<std::uint8_t>(entry);
                    }
                WriteControlExtension(transparent, 0, 0, 0);
                WriteImage(static_cast<std::int32_t>(left), static_cast<std::int32_t>(top), cw, ch, 8, &table, pixels);
            }
        Put(kTrailer);
    }

    VxImageGIF& m_image;
    VxFileOutput m_out;
    TLZWEncoder m_lzw;
    TPlainEncoder m_plain;
    TRLEEncoder m_runLength;
};

void VxImageGIF::SetComment(const char* text)
{
    std::strncpy(m_comment, text ? text : "", sizeof m_comment - 1);
    m_comment[sizeof m_comment - 1] = '\0';
}

bool VxImageGIF::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    if (GetWidth() > kLargestSide || GetHeight() > kLargestSide) {
        SetError("Image too large for GIF");
        return false;
    }
    try {
        GifEncodeRun(*this, stream).Run();
    } catch (const EWriteError&) {
        SetError(kWriteError);
        return false;
    } catch (const GIFException& e) {
        SetError(e.what());
        return false;
    }
    if (!stream->Flush() || stream->Error()) {
        SetError(kWriteError);
        return false;
    }
    return true;
}
