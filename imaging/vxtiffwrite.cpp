// TIFF encoding: an image written as one page, top row first.
//
//   image            samples  bits  photometric
//   1 bpp            1        1     min-is-white (the palette's lighter
//                                   entry becomes 0)
//   4 or 8 bpp       1        4, 8  min-is-black for the identity grey
//                                   ramp, else palette
//   8 bpp + alpha    2        8     as above, unassociated alpha
//   24 bpp           3        8     RGB
//   24 bpp + alpha   4        8     RGB, unassociated alpha
#include "imaging/vxtiff.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr const char* kNullFile = "null file handler";
constexpr const char* kNullImage = "null image!!!";
constexpr const char* kInitFailed = "initialization fail";
constexpr const char* kSaveFailed = "Error saving TIFF file";
constexpr const char* kSaveDirectoryFailed = "Error saving TIFF directory";

struct TiffLayout {
    std::uint16_t bitsPerSample;
    std::uint16_t samples;
    std::uint16_t photometric;
};

bool AnyLayout(const TiffLayout&) { return true; }
bool Bilevel(const TiffLayout& l) { return l.bitsPerSample == 1 && l.samples == 1; }
bool EightBit(const TiffLayout& l) { return l.bitsPerSample == 8; }
bool EightBitNotPalette(const TiffLayout& l) { return l.bitsPerSample == 8 && l.photometric != PHOTOMETRIC_PALETTE; }
bool Rgb(const TiffLayout& l) { return l.photometric == PHOTOMETRIC_RGB; }

// The compressions libtiff can write, and the layouts each accepts. A page
// read with any other (old JPEG, LogLuv, NeXT, ThunderScan, JBIG ...) is
// written with its depth's default instead of failing.
struct TiffWritable {
    std::uint16_t compression;
    bool (*accepts)(const TiffLayout&);
};
constexpr TiffWritable kWritable[] = {
    {COMPRESSION_NONE, AnyLayout},        {COMPRESSION_CCITTRLE, Bilevel},     {COMPRESSION_CCITTFAX3, Bilevel},
    {COMPRESSION_CCITTFAX4, Bilevel},     {COMPRESSION_LZW, AnyLayout},        {COMPRESSION_JPEG, EightBitNotPalette},
    {COMPRESSION_ADOBE_DEFLATE, AnyLayout}, {COMPRESSION_CCITTRLEW, Bilevel}, {COMPRESSION_PACKBITS, AnyLayout},
    {COMPRESSION_PIXARLOG, EightBit},     {COMPRESSION_DEFLATE, AnyLayout},    {COMPRESSION_LERC, EightBit},
    {COMPRESSION_LZMA, AnyLayout},        {COMPRESSION_ZSTD, AnyLayout},       {COMPRESSION_WEBP, Rgb},
};

bool CanWrite(std::uint32_t compression, const TiffLayout& layout)
{
    for (const TiffWritable& w : kWritable)
        if (w.compression == compression)
            return w.accepts(layout) && TIFFIsCODECConfigured(w.compression);
    return false;
}

std::uint16_t DefaultCompression(std::uint32_t bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1: return COMPRESSION_CCITTFAX4;
    case 4:
    case 8: return COMPRESSION_LZW;
    case 24:
    case 32: return COMPRESSION_JPEG;
    default: return COMPRESSION_NONE;
    }
}

int Grey(const RGBQUAD& c) { return (c.rgbBlue * 117 + c.rgbGreen * 601 + c.rgbRed * 306) >> 10; }

}  // namespace

VxImageTIF::~VxImageTIF() { CloseHandle(true); }

void VxImageTIF::CloseHandle(bool flush)
{
    if (m_handle) {
        // Closing writes the open page's directory; after a failure there is
        // nothing worth finishing.
        if (flush)
            TIFFClose(m_handle);
        else
            TIFFCleanup(m_handle);
    }
    m_handle = nullptr;
    m_multiPage = false;
    m_pagesWritten = 0;
}

bool VxImageTIF::Encode(VxFile* stream, bool append)
{
    try {
        if (!stream)
            VxRaise(kNullFile);
        if (!m_block)
            VxRaise(kNullImage);
        if (!m_handle) {
            m_handle = VxTiffOpenImage(stream, "a");
            if (!m_handle)
                VxRaise(kInitFailed);
        }
        m_multiPage = append || m_pagesWritten > 0;
        const std::int32_t page = m_pagesWritten + 1;
        if (!WriteDirectory(m_handle, m_multiPage, page, page))
            VxRaise(kSaveFailed);
        if (append) {
            if (!TIFFWriteDirectory(m_handle))
                VxRaise(kSaveDirectoryFailed);
            m_pagesWritten = page;
            return true;
        }
        // The directory is written here rather than inside TIFFClose, which
        // could not report a write that failed.
        if (!TIFFFlush(m_handle))
            VxRaise(kSaveDirectoryFailed);
        CloseHandle(true);
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
    } catch (const std::bad_alloc&) {
        SetError(kSaveFailed);
    }
    CloseHandle(false);
    return false;
}

bool VxImageTIF::WriteDirectory(TIFF* handle, bool multiPage, std::int32_t page, std::int32_t pageCount)
{
    const std::uint32_t width = GetWidth(), height = GetHeight(), bpp = GetBpp();
    std::uint16_t samples = bpp == 24 ? 3 : 1;
    std::uint32_t bitsPerPixel = bpp;
    if (bpp == 24 && HasAlpha()) {
        samples = 4;
        bitsPerPixel = 32;
    }
    const auto bitsPerSample = static_cast<std::uint16_t>(bitsPerPixel / samples);

    std::uint16_t photometric = PHOTOMETRIC_RGB;
    if (bpp == 1) {
        // Bilevel pages are written min-is-white: the lighter entry must be
        // 0, so a palette the other way round is swapped and every pixel
        // inverted, which leaves the picture as it was.
        RGBQUAD* pal = GetPalette();
        if (pal && Grey(pal[0]) < Grey(pal[1])) {
            std::swap(pal[0], pal[1]);
            m_info.nearestValid = false;
            for (std::uint32_t i = 0; i < m_header.biSizeImage; ++i)
                m_info.firstRow[i] = static_cast<std::uint8_t>(~m_info.firstRow[i]);
        }
        photometric = PHOTOMETRIC_MINISWHITE;
    } else if (bpp == 4 || bpp == 8) {
        photometric = HasGreyRampPalette() ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
    }
    if (bpp == 8 && HasAlpha())
        samples = 2;

    TIFFSetField(handle, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(handle, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(handle, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(handle, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    TIFFSetField(handle, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(handle, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(handle, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    std::uint32_t rowsPerStrip = TIFFDefaultStripSize(handle, static_cast<std::uint32_t>(-1));
    TIFFSetField(handle, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(handle, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(handle, TIFFTAG_XRESOLUTION, static_cast<float>(GetXDPI()));
    TIFFSetField(handle, TIFFTAG_YRESOLUTION, static_cast<float>(GetYDPI()));
    if (multiPage) {
        char name[32];
        std::snprintf(name, sizeof name, "Page %d", page);
        TIFFSetField(handle, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(handle, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page), static_cast<std::uint16_t>(pageCount));
        TIFFSetField(handle, TIFFTAG_PAGENAME, name);
    } else {
        TIFFSetField(handle, TIFFTAG_SUBFILETYPE, 0);
    }
    // The alpha sample is said to be alpha, so that readers keep it.
    if (samples == 2 || samples == 4) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(handle, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (photometric == PHOTOMETRIC_PALETTE) {
        std::uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
        const RGBQUAD* pal = GetPalette();
        for (std::uint32_t i = 0; i < GetNumColors() && i < 256; ++i) {
            red[i] = static_cast<std::uint16_t>(pal[i].rgbRed * 65535u / 255u);
            green[i] = static_cast<std::uint16_t>(pal[i].rgbGreen * 65535u / 255u);
            blue[i] = static_cast<std::uint16_t>(pal[i].rgbBlue * 65535u / 255u);
        }
        TIFFSetField(handle, TIFFTAG_COLORMAP, red, green, blue);
    }

    const TiffLayout layout{bitsPerSample, samples, photometric};
    const std::uint32_t kept = GetFormatOption(VXFMT_TIF);
    const std::uint16_t compression =
        kept != 0 && CanWrite(kept, layout) ? static_cast<std::uint16_t>(kept) : DefaultCompression(bitsPerPixel);
    TIFFSetField(handle, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_LZW && bitsPerPixel >= 8)
        TIFFSetField(handle, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(handle, TIFFTAG_JPEGQUALITY, static_cast<int>(GetJpegQuality()));
        rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;
        TIFFSetField(handle, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    }

    // Each line goes through a buffer of its own: libtiff's predictor works
    // on the line in place, and the pixels are the caller's.
    const std::size_t lineBytes = (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
    const std::size_t samplesBytes = static_cast<std::size_t>(width) * samples;
    std::vector<std::uint8_t> line(std::max(lineBytes, samplesBytes) + 4);
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint32_t imageRow = height - 1 - r;
        const std::uint8_t* src = GetRowBits(imageRow);
        const auto y = static_cast<std::int32_t>(imageRow);
        std::uint8_t* out = line.data();
        if (samples == 2) {
            for (std::uint32_t x = 0; x < width; ++x) {
                out[2 * x] = src[x];
                out[2 * x + 1] = GetAlphaAtUnchecked(static_cast<std::int32_t>(x), y);
            }
        } else if (samples == 3) {
            for (std::uint32_t x = 0; x < width; ++x) {
                out[3 * x] = src[3 * x + 2];
                out[3 * x + 1] = src[3 * x + 1];
                out[3 * x + 2] = src[3 * x];
            }
        } else if (samples == 4) {
            for (std::uint32_t x = 0; x < width; ++x) {
                out[4 * x] = src[3 * x + 2];
                out[4 * x + 1] = src[3 * x + 1];
                out[4 * x + 2] = src[3 * x];
                out[4 * x + 3] = GetAlphaAtUnchecked(static_cast<std::int32_t>(x), y);
            }
        } else {
            std::memcpy(out, src, lineBytes);
        }
        if (TIFFWriteScanline(handle, out, r, 0) < 0)
            return false;
    }
    return true;
}
