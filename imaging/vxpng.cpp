// PNG decoding and encoding through libpng 1.6.
//
// libpng reports errors through a handler that must not return: it jumps
// back to the setjmp in RunDecode or RunEncode. Nothing with a destructor
// lives in those functions or in the callbacks; the row buffer is held by
// the job as a plain pointer and freed on every exit.
//
// Decoded images keep straight (unassociated) alpha in the alpha plane:
// grey and colour files with an alpha channel, of either depth, and those
// whose tRNS chunk names a transparent colour, become 24-bit pictures with
// an alpha plane; palette files keep their tRNS table as palette alpha.
// Nothing is composed onto a background.
#include "imaging/vxpng.h"

#include "imaging/imageiter.h"
#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace {

// The most pixel bytes one byte of a PNG file can stand for: deflate's
// best (1032 to 1), doubled for 2-bit pixels widened to 4, with headroom.
constexpr std::uint64_t kMaxExpansion = 1u << 12;

void PngWriteData(png_structp png, png_bytep data, png_size_t length)
{
    auto* file = static_cast<VxFile*>(png_get_io_ptr(png));
    if (file->Write(data, 1, length) != length)
        png_error(png, "Write Error");
}

void PngFlushData(png_structp png)
{
    auto* file = static_cast<VxFile*>(png_get_io_ptr(png));
    if (!file->Flush())
        png_error(png, "Flush Error");
}

// Copies libpng's message into the text registered as the error pointer
// (when there is one) and returns to the jump point.
void PngErrorExit(png_structp png, png_const_charp message)
{
    if (auto* text = static_cast<char*>(png_get_error_ptr(png))) {
        std::strncpy(text, message ? message : "", 255);
        text[255] = '\0';
    }
    png_longjmp(png, 1);
}

// libpng's warnings are not printed.
void PngQuiet(png_structp, png_const_charp) {}

// One row of 2-bit pixels widened in place to 4 bits a pixel. Going from
// the last pixel to the first never overwrites a value not read yet.
void WidenTwoBitRow(std::uint8_t* row, std::uint32_t width)
{
    for (std::uint32_t x = width; x-- > 0;) {
        const std::uint8_t v = (row[x / 4] >> ((3 - x % 4) * 2)) & 3;
        const int shift = (1 - static_cast<int>(x % 2)) * 4;
        row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & ~(0x0F << shift)) | (v << shift));
    }
}

}  // namespace

// One decode, fed to libpng's progressive reader as the file's bytes come:
// the header sets the picture up (OnInfo), every row goes into it as soon
// as it is decoded (OnRow), and a file that ends early leaves the rows it
// held. The buffers are plain pointers, freed on every exit.
struct VxImagePNG::DecodeJob {
    png_structp png;
    png_infop info;
    VxImagePNG* image;
    VxFile* stream;
    std::uint8_t* buffer;  // one decoded row, where it cannot go straight into the image
    std::uint8_t* input;   // bytes of the file on their way to libpng
    std::size_t inputLength;
    bool readingRows;      // the picture exists and rows are coming
    bool rowsDone;         // libpng met the end of the image data
    bool alpha;            // rows of blue, green, red and alpha
    bool widen;            // 2-bit rows, kept at 4 bits a pixel
    bool interlaced;
    std::uint32_t width, height;
    std::size_t rowBytes;

    static void OnInfo(png_structp png, png_infop info);
    static void OnRow(png_structp png, png_bytep row, png_uint_32 number, int pass);
    static void OnEnd(png_structp png, png_infop info);
};

struct VxImagePNG::EncodeJob {
    png_structp png;
    png_infop info;
    std::uint8_t* buffer;
};

bool VxImagePNG::Decode(VxFile* stream)
{
    if (!stream) {
        SetError("null file handler");
        return false;
    }
    DecodeJob job{};
    job.image = this;
    job.stream = stream;
    return RunDecode(job, stream);
}

namespace {

constexpr std::size_t kInputChunk = 1u << 16;

// The 4-bit row of 2-bit pixels back to 2 bits a pixel, so that a later
// interlace pass can be laid over it.
void NarrowFourBitRow(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width)
{
    std::memset(out, 0, (width + 3) / 4);
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint8_t v = (in[x / 2] >> ((1 - x % 2) * 4)) & 3;
        out[x / 4] = static_cast<std::uint8_t>(out[x / 4] | (v << ((3 - x % 4) * 2)));
    }
}

}  // namespace

bool VxImagePNG::RunDecode(DecodeJob& job, VxFile* stream)
{
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!job.png) {
        SetError("Failed to create PNG structure");
        return false;
    }
    job.info = png_create_info_struct(job.png);
    if (!job.info) {
        png_destroy_read_struct(&job.png, nullptr, nullptr);
        SetError("Failed to initialize PNG info structure");
        return false;
    }
    if (setjmp(png_jmpbuf(job.png))) {
        std::free(job.buffer);
        std::free(job.input);
        job.buffer = job.input = nullptr;
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        // A file broken after its rows began: the picture holds the rows
        // read, and says it is damaged.
        if (job.readingRows && m_info.stopRequest == 0 && IsValid()) {
            if (!job.rowsDone)
                MarkDamaged();
            return true;
        }
        return false;
    }
    png_set_error_fn(job.png, m_info.lastError, PngErrorExit, PngQuiet);
    png_set_progressive_read_fn(job.png, &job, DecodeJob::OnInfo, DecodeJob::OnRow, DecodeJob::OnEnd);
    job.input = static_cast<std::uint8_t*>(std::malloc(kInputChunk));
    if (!job.input)
        png_error(job.png, "Insufficient memory");
    while (!job.rowsDone) {
        job.inputLength = stream->Read(job.input, 1, kInputChunk);
        if (job.inputLength == 0)
            break;
        png_process_data(job.png, job.info, job.input, job.inputLength);
    }
    // The data ended: before the picture began it is no picture, inside
    // its rows the picture is damaged.
    if (!job.readingRows)
        png_error(job.png, "Read Error");
    if (!job.rowsDone)
        MarkDamaged();
    std::free(job.buffer);
    std::free(job.input);
    job.buffer = job.input = nullptr;
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    return true;
}

void VxImagePNG::DecodeJob::OnInfo(png_structp png, png_infop info)
{
    auto& job = *static_cast<DecodeJob*>(png_get_progressive_ptr(png));
    VxImagePNG& self = *job.image;

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    const int pixelDepth = bitDepth * png_get_channels(png, info);

    // The file's background colour is kept as the transparent colour of a
    // picture with alpha; nothing is drawn onto it.
    png_color_16p fileBackground = nullptr;
    const bool hasBackground = png_get_bKGD(png, info, &fileBackground) && fileBackground;
    const bool colourKey = colorType != PNG_COLOR_TYPE_PALETTE && png_get_valid(png, info, PNG_INFO_tRNS);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || colourKey;
    if (alpha && hasBackground) {
        const int shift = bitDepth == 16 ? 8 : 0;
        self.SetTransparentColor(RGBQUAD{static_cast<BYTE>(fileBackground->blue >> shift),
                                         static_cast<BYTE>(fileBackground->green >> shift),
                                         static_cast<BYTE>(fileBackground->red >> shift), 0});
    }
    if (bitDepth == 16)
        png_set_strip_16(png);

    const std::uint32_t bpp = alpha || pixelDepth > 16 ? 24 : pixelDepth == 16 ? 8 : static_cast<std::uint32_t>(pixelDepth);
    {
        // The file must be able to fill the picture its header asks for:
        // what it still holds, and what libpng was handed and has not
        // taken yet.
        VxReader in(job.stream);
        const std::int64_t left = in.Remaining();
        const std::uint64_t imageBpp = bpp == 2 ? 4 : bpp;
        const std::uint64_t rowWidth = (imageBpp * width + 31) / 32 * 4;
        const std::uint64_t bytes = VxMulSat(rowWidth + (alpha ? width : 0), height);
        if (left >= 0 && bytes / kMaxExpansion > static_cast<std::uint64_t>(left) + job.inputLength) {
            self.SetError(PictureDataMissingMessage(width, height));
            png_longjmp(png, 1);
        }
    }
    if (!self.Create(width, height, bpp, VXFMT_PNG) || (alpha && !self.CreateAlphaPlane()))
        png_longjmp(png, 1);

    png_uint_32 xPerUnit = 0, yPerUnit = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    png_get_pHYs(png, info, &xPerUnit, &yPerUnit, &unit);
    if (unit == PNG_RESOLUTION_UNKNOWN) {
        self.SetXDPI(static_cast<std::int32_t>(xPerUnit));
        self.SetYDPI(static_cast<std::int32_t>(yPerUnit));
    } else if (unit == PNG_RESOLUTION_METER) {
        self.SetXDPI(static_cast<std::int32_t>(std::floor(xPerUnit * 254.0 / 10000 + 0.5)));
        self.SetYDPI(static_cast<std::int32_t>(std::floor(yPerUnit * 254.0 / 10000 + 0.5)));
    }

    png_colorp filePalette = nullptr;
    int paletteCount = 0;
    if (png_get_PLTE(png, info, &filePalette, &paletteCount) && paletteCount > 0 && filePalette) {
        self.SetPaletteTriples(reinterpret_cast<const std::uint8_t*>(filePalette),
                               std::min<std::uint32_t>(static_cast<std::uint32_t>(paletteCount), self.GetNumColors()));
    } else if (bitDepth == 2) {
        for (std::uint8_t i = 0; i < 4; ++i)
            self.SetPaletteColor(i, static_cast<std::uint8_t>(85 * i), static_cast<std::uint8_t>(85 * i),
                                 static_cast<std::uint8_t>(85 * i), 0);
    } else {
        self.SetGreyRampPalette();
    }

    // The tRNS table of a palette file gives its entries their alpha. A
    // grey or colour file's tRNS is a colour key, which becomes alpha 0 in
    // the alpha plane below.
    png_bytep trans = nullptr;
    int transCount = 0;
    RGBQUAD* pal = self.GetPalette();
    if (colorType == PNG_COLOR_TYPE_PALETTE && pal && png_get_tRNS(png, info, &trans, &transCount, nullptr) &&
        transCount > 0 && trans) {
        const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(transCount), self.GetNumColors());
        for (std::uint32_t i = 0; i < n; ++i)
            pal[i].rgbReserved = trans[i];
        if (transCount == 1 && pal[0].rgbReserved == 0) {
            self.m_info.transparentIndex = 0;
        } else {
            self.m_info.paletteAlphaEnabled = true;
            for (std::uint32_t i = n; i < self.GetNumColors(); ++i)
                pal[i].rgbReserved = 255;
        }
    }

    if (alpha) {
        // Rows of blue, green, red and alpha, whatever the file's kind.
        if (!(colorType & PNG_COLOR_MASK_COLOR)) {
            png_set_expand_gray_1_2_4_to_8(png);
            png_set_gray_to_rgb(png);
        }
        if (colourKey)
            png_set_tRNS_to_alpha(png);
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        png_set_bgr(png);
    } else if (colorType & PNG_COLOR_MASK_COLOR) {
        png_set_bgr(png);
    }

    if (self.m_info.stopRequest != 0)
        png_longjmp(png, 1);

    const int passes = png_set_interlace_handling(png);
    self.SetFormatOption(passes > 1 ? 1 : 0, 0);
    png_read_update_info(png, info);
    job.width = width;
    job.height = height;
    job.alpha = alpha;
    job.widen = bitDepth == 2 && !alpha;
    job.interlaced = passes > 1;
    job.rowBytes = png_get_rowbytes(png, info);
    if (job.alpha || job.widen) {
        job.buffer = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(job.rowBytes, self.GetRowStride()) + 16));
        if (!job.buffer)
            png_error(png, "Insufficient memory");
    }
    job.readingRows = true;
}

void VxImagePNG::DecodeJob::OnRow(png_structp png, png_bytep row, png_uint_32 number, int pass)
{
    auto& job = *static_cast<DecodeJob*>(png_get_progressive_ptr(png));
    VxImagePNG& self = *job.image;
    if (self.m_info.stopRequest != 0)
        png_longjmp(png, 1);
    if (!row || number >= job.height)
        return;  // an interlace pass that leaves this row as it is
    const auto r = static_cast<std::int32_t>(job.height - 1 - number);
    std::uint8_t* target = self.GetRowBits(static_cast<std::uint32_t>(r));
    const bool merging = job.interlaced && pass > 0;
    if (job.alpha) {
        // A later pass is laid over the row as the earlier ones left it.
        std::uint8_t* b = job.buffer;
        std::uint8_t* alphaRow = self.GetAlphaPointer(0, r);
        if (merging)
            for (std::uint32_t x = 0; x < job.width; ++x) {
                std::memcpy(b + 4 * x, target + 3 * x, 3);
                b[4 * x + 3] = alphaRow[x];
            }
        else if (job.interlaced)
            std::memset(b, 0, job.rowBytes);
        if (job.interlaced)
            png_progressive_combine_row(png, b, row);
        else
            b = row;
        for (std::uint32_t x = 0; x < job.width; ++x) {
            std::memcpy(target + 3 * x, b + 4 * x, 3);
            alphaRow[x] = b[4 * x + 3];
        }
        return;
    }
    if (job.widen) {
        if (merging)
            NarrowFourBitRow(target, job.buffer, job.width);
        else if (job.interlaced)
            std::memset(job.buffer, 0, job.rowBytes);
        if (job.interlaced)
            png_progressive_combine_row(png, job.buffer, row);
        else
            std::memcpy(job.buffer, row, job.rowBytes);
        WidenTwoBitRow(job.buffer, job.width);
        std::memcpy(target, job.buffer, self.GetRowStride());
        return;
    }
    if (job.interlaced)
        png_progressive_combine_row(png, target, row);
    else
        std::memcpy(target, row, std::min<std::size_t>(job.rowBytes, self.GetRowStride()));
}

void VxImagePNG::DecodeJob::OnEnd(png_structp png, png_infop)
{
    static_cast<DecodeJob*>(png_get_progressive_ptr(png))->rowsDone = true;
}

bool VxImagePNG::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    EncodeJob job{};
    return RunEncode(job, stream);
}

bool VxImagePNG::RunEncode(EncodeJob& job, VxFile* stream)
{
    // Errors jump back here without a message of their own being kept.
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorExit, PngQuiet);
    if (!job.png) {
        SetError("Failed to create PNG structure");
        return false;
    }
    job.info = png_create_info_struct(job.png);
    if (!job.info) {
        png_destroy_write_struct(&job.png, nullptr);
        SetError("Failed to initialize PNG info structure");
        return false;
    }
    if (setjmp(png_jmpbuf(job.png))) {
        std::free(job.buffer);
        job.buffer = nullptr;
        png_destroy_write_struct(&job.png, &job.info);
        SetError("Error saving PNG file");
        return false;
    }
    png_structp png = job.png;
    png_infop info = job.info;
    png_set_write_fn(png, stream, PngWriteData, PngFlushData);

    const std::uint32_t width = GetWidth(), height = GetHeight(), bpp = GetBpp();
    const bool indexed = IsIndexed();
    // A true-colour image with a transparent colour is written with alpha:
    // pixels of that colour transparent.
    const bool keyed = !indexed && m_info.transparentIndex >= 0;
    const bool withAlpha = HasAlpha() || keyed;
    const int channels = bpp > 8 ? 3 : 1;
    const int bitDepth = static_cast<int>(bpp) / channels;
    const int interlace = GetFormatOption(VXFMT_PNG) == 1 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;

    png_color_16 background{};
    background.red = background.green = background.blue = 255;
    if (m_info.transparentIndex != -1) {
        const RGBQUAD t = GetTransparentColor();
        background.red = t.rgbRed;
        background.green = t.rgbGreen;
        background.blue = t.rgbBlue;
    }

    png_color palette[256];
    png_byte trans[256];
    int paletteCount = 0, transCount = 0;
    if (indexed) {
        const std::uint32_t colours = GetNumColors();
        if (m_info.transparentIndex >= 0 && static_cast<std::uint32_t>(m_info.transparentIndex) < colours) {
            // The transparent entry moves to index 0, the one tRNS entry.
            trans[0] = 0;
            transCount = 1;
            if (m_info.transparentIndex != 0) {
                ExchangePaletteEntries(0, static_cast<std::uint8_t>(m_info.transparentIndex));
                m_info.transparentIndex = 0;
                if (m_info.borrowerSource)
                    m_info.borrowerSource->SetTransparentIndex(0);
            }
        }
        std::uint32_t n = colours;
        if (n > 2 && static_cast<std::uint64_t>(width) * height < 65536) {
            std::uint32_t highest = 0;
            for (std::uint32_t y = 0; y < height; ++y)
                for (std::uint32_t x = 0; x < width; ++x)
                    highest = std::max<std::uint32_t>(
                        highest, GetPixelIndexUnchecked(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)));
            n = highest + 1;
        }
        const RGBQUAD* pal = GetPalette();
        if (m_info.paletteAlphaEnabled) {
            for (std::uint32_t i = 0; i < n; ++i)
                trans[i] = pal[i].rgbReserved;
            transCount = static_cast<int>(n);
        }
        for (std::uint32_t i = 0; i < n; ++i)
            palette[i] = png_color{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
        paletteCount = static_cast<int>(n);
    }

    if (withAlpha)
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
    else
        png_set_IHDR(png, info, width, height, bitDepth, indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                     interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletteCount > 0)
        png_set_PLTE(png, info, palette, paletteCount);
    // An alpha channel carries the transparency itself; tRNS is for
    // palette files only.
    if (transCount > 0 && !withAlpha)
        png_set_tRNS(png, info, trans, transCount, nullptr);
    png_set_bKGD(png, info, &background);
    png_set_pHYs(png, info, static_cast<png_uint_32>(m_header.biXPelsPerMeter),
                 static_cast<png_uint_32>(m_header.biYPelsPerMeter), PNG_RESOLUTION_METER);
    png_write_info(png, info);

    const int passes = png_set_interlace_handling(png);
    const std::size_t stride = GetRowStride();
    job.buffer = static_cast<std::uint8_t*>(std::malloc(withAlpha ? static_cast<std::size_t>(width) * 4 + 10 : stride + 10));
    if (!job.buffer)
        png_error(png, "Insufficient memory");
    const RGBQUAD key = GetTransparentColor();
    const unsigned alphaMax = m_info.alphaMax;
    for (int pass = 0; pass < passes; ++pass) {
        for (std::uint32_t y = 0; y < height; ++y) {
            const auto r = static_cast<std::int32_t>(height - 1 - y);
            if (withAlpha) {
                std::uint8_t* b = job.buffer;
                for (std::uint32_t x = 0; x < width; ++x) {
                    const RGBQUAD c = GetPixelColor(static_cast<std::int32_t>(x), r, true);
                    unsigned a = HasAlpha() ? c.rgbReserved : 255;
                    if (keyed && c.rgbRed == key.rgbRed && c.rgbGreen == key.rgbGreen && c.rgbBlue == key.rgbBlue)
                        a = 0;
                    b[4 * x] = c.rgbRed;
                    b[4 * x + 1] = c.rgbGreen;
                    b[4 * x + 2] = c.rgbBlue;
                    b[4 * x + 3] = static_cast<std::uint8_t>(a * alphaMax / 255);
                }
            } else {
                std::memcpy(job.buffer, GetRowBits(static_cast<std::uint32_t>(r)), stride);
                SwapRedBlue(job.buffer, static_cast<std::uint32_t>(stride));
            }
            png_write_row(png, job.buffer);
        }
    }
    png_write_end(png, info);
    std::free(job.buffer);
    job.buffer = nullptr;
    png_destroy_write_struct(&job.png, &job.info);
    return true;
}
