// PNG decoding and encoding through libpng 1.6.
//
// libpng reports errors through a handler that must not return: it jumps
// back to the setjmp in RunDecode or RunEncode. Nothing with a destructor
// lives in those functions or in the callbacks; the row buffer is held by
// the job as a plain pointer and freed on every exit.
//
// Decoded images keep straight (unassociated) alpha in the alpha plane.
// Files without an alpha channel have their transparency shown against a
// background (the file's bKGD, else grey 192) by libpng; palette files
// also keep their tRNS table as palette alpha.
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

void PngReadData(png_structp png, png_bytep data, png_size_t length)
{
    auto* file = static_cast<VxFile*>(png_get_io_ptr(png));
    if (file->Read(data, 1, length) != length)
        png_error(png, "Read Error");
}

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

struct VxImagePNG::DecodeJob {
    png_structp png;
    png_infop info;
    std::uint8_t* buffer;
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
    return RunDecode(job, stream);
}

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
        job.buffer = nullptr;
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        return false;
    }
    png_structp png = job.png;
    png_infop info = job.info;
    png_set_read_fn(png, stream, PngReadData);
    png_set_error_fn(png, m_info.lastError, PngErrorExit, PngQuiet);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    const int pixelDepth = bitDepth * png_get_channels(png, info);

    png_color_16p fileBackground = nullptr;
    const bool hasBackground = png_get_bKGD(png, info, &fileBackground) && fileBackground;
    if (pixelDepth != 32) {
        if (hasBackground) {
            png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
        } else {
            png_color_16 grey{};
            grey.red = grey.green = grey.blue = 192;
            png_set_background(png, &grey, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
        }
    } else if (hasBackground) {
        SetTransparentColor(RGBQUAD{static_cast<BYTE>(fileBackground->blue & 0xFF),
                                    static_cast<BYTE>(fileBackground->green & 0xFF),
                                    static_cast<BYTE>(fileBackground->red & 0xFF), 0});
    }
    if (bitDepth == 16)
        png_set_strip_16(png);

    const std::uint32_t bpp = pixelDepth > 16 ? 24 : pixelDepth == 16 ? 8 : static_cast<std::uint32_t>(pixelDepth);
    const bool alpha = colorType == PNG_COLOR_TYPE_RGB_ALPHA || (colorType == PNG_COLOR_TYPE_GRAY_ALPHA && pixelDepth == 32);
    {
        // The file must be able to fill the picture its header asks for.
        VxReader in(stream);
        const std::uint64_t imageBpp = bpp == 2 ? 4 : bpp;
        const std::uint64_t rowWidth = (imageBpp * width + 31) / 32 * 4;
        const std::uint64_t bytes = VxMulSat(rowWidth + (alpha ? width : 0), height);
        if (!VxFileCanHold(in, bytes, kMaxExpansion))
            png_error(png, "Image larger than the file can hold");
    }
    if (!Create(width, height, bpp, VXFMT_PNG)) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
        return false;
    }

    png_uint_32 xPerUnit = 0, yPerUnit = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    png_get_pHYs(png, info, &xPerUnit, &yPerUnit, &unit);
    if (unit == PNG_RESOLUTION_UNKNOWN) {
        SetXDPI(static_cast<std::int32_t>(xPerUnit));
        SetYDPI(static_cast<std::int32_t>(yPerUnit));
    } else if (unit == PNG_RESOLUTION_METER) {
        SetXDPI(static_cast<std::int32_t>(std::floor(xPerUnit * 254.0 / 10000 + 0.5)));
        SetYDPI(static_cast<std::int32_t>(std::floor(yPerUnit * 254.0 / 10000 + 0.5)));
    }

    png_colorp filePalette = nullptr;
    int paletteCount = 0;
    if (png_get_PLTE(png, info, &filePalette, &paletteCount) && paletteCount > 0 && filePalette) {
        SetPaletteTriples(reinterpret_cast<const std::uint8_t*>(filePalette),
                          std::min<std::uint32_t>(static_cast<std::uint32_t>(paletteCount), GetNumColors()));
    } else if (bitDepth == 2) {
        for (std::uint8_t i = 0; i < 4; ++i)
            SetPaletteColor(i, static_cast<std::uint8_t>(85 * i), static_cast<std::uint8_t>(85 * i),
                            static_cast<std::uint8_t>(85 * i), 0);
    } else {
        SetGreyRampPalette();
    }

    // The tRNS table of a palette file gives its entries their alpha. A
    // grey or colour file's tRNS is a colour key, which the background
    // above already shows.
    png_bytep trans = nullptr;
    int transCount = 0;
    RGBQUAD* pal = GetPalette();
    if (colorType == PNG_COLOR_TYPE_PALETTE && pal &&
        png_get_tRNS(png, info, &trans, &transCount, nullptr) && transCount > 0 && trans) {
        const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(transCount), GetNumColors());
        for (std::uint32_t i = 0; i < n; ++i)
            pal[i].rgbReserved = trans[i];
        if (transCount == 1 && pal[0].rgbReserved == 0) {
            m_info.transparentIndex = 0;
        } else {
            m_info.paletteAlphaEnabled = true;
            for (std::uint32_t i = n; i < GetNumColors(); ++i)
                pal[i].rgbReserved = 255;
        }
    }

    if (alpha) {
        if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
            png_set_gray_to_rgb(png);
            png_set_expand(png);
        }
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        CreateAlphaPlane();
    }
    if (colorType & PNG_COLOR_MASK_COLOR)
        png_set_bgr(png);

    if (m_info.stopRequest != 0)
        png_longjmp(png, 1);

    const int passes = png_set_interlace_handling(png);
    SetFormatOption(passes > 1 ? 1 : 0, 0);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const std::size_t stride = GetRowStride();
    const std::size_t fileRow = static_cast<std::size_t>(width) * static_cast<std::size_t>((pixelDepth + 7) / 8) + 10;
    job.buffer = static_cast<std::uint8_t*>(std::malloc(std::max({fileRow, rowBytes, stride + 10})));
    if (!job.buffer)
        png_error(png, "Insufficient memory");

    const bool widen = bitDepth == 2;
    // Plain rows that fit the image row are decoded straight into it.
    const bool direct = !alpha && passes == 1 && !widen && rowBytes <= stride;
    CImageIterator it(this);
    for (int pass = 0; pass < passes; ++pass) {
        it.MoveToTop();
        const bool merging = passes > 1 && pass > 0;
        for (std::uint32_t y = 0; y < height; ++y) {
            if (m_info.stopRequest != 0)
                png_longjmp(png, 1);
            if (direct) {
                png_read_row(png, it.CurrentRow(), nullptr);
                it.PreviousRow();
                continue;
            }
            if (!alpha) {
                // libpng merges a later pass into the row it is given.
                if (merging)
                    it.ReadRow(job.buffer, static_cast<std::int32_t>(stride));
                png_read_row(png, job.buffer, nullptr);
                if (widen && pass == passes - 1)
                    WidenTwoBitRow(job.buffer, width);
                it.WriteRow(job.buffer, static_cast<std::int32_t>(stride));
                it.PreviousRow();
                continue;
            }
            const auto r = static_cast<std::int32_t>(height - 1 - y);
            std::uint8_t* row = GetRowBits(static_cast<std::uint32_t>(r));
            std::uint8_t* alphaRow = GetAlphaPointer(0, r);
            std::uint8_t* b = job.buffer;
            if (merging)
                for (std::uint32_t x = 0; x < width; ++x) {
                    std::memcpy(b + 4 * x, row + 3 * x, 3);
                    b[4 * x + 3] = alphaRow ? alphaRow[x] : 255;
                }
            png_read_row(png, b, nullptr);
            for (std::uint32_t x = 0; x < width; ++x) {
                std::memcpy(row + 3 * x, b + 4 * x, 3);
                if (alphaRow)
                    alphaRow[x] = b[4 * x + 3];
            }
        }
    }
    std::free(job.buffer);
    job.buffer = nullptr;
    png_read_end(png, info);
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    return true;
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
