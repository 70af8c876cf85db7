// TIFF decoding: one page of a TIFF file into an image.
//
// Colour pages (RGB, YCbCr, CMYK, LogL/LogLuv, and anything else whose
// samples do not fit the paths below) go through libtiff's RGBA reader,
// except 8-bit contiguous RGB in strips, which is read strip by strip
// (pixel for pixel what the RGBA reader gives, without its 32-bit raster).
// Grey, palette, grey or palette with alpha, and CIELab pages are read band
// by band (a strip, or a row of tiles) and converted here:
//
//   samples  image                       conversion
//   1        1 or 4 bpp when the file    the rows as stored
//            has that depth, else 8 bpp  one byte per sample (below)
//   2        as for 1, plus alpha        index and alpha per pixel
//   3 or 4   24 bpp (plus alpha)         CIELab to sRGB
//
// Samples narrower than 8 bits become bytes (grey scaled to 0..255 when the
// image is 8 bpp, palette indices kept); wider ones keep their top 8 bits.
#include "imaging/vxtiff.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr const char* kOpenFailed = "Error encountered while opening TIFF file";
constexpr const char* kNoPage = "Error: page not present in TIFF file";
constexpr const char* kDimensionsOnly = "output dimensions returned";
constexpr const char* kCancelled = "Cancelled";
constexpr const char* kNoRaster = "No space for raster buffer";
constexpr const char* kCorrupt = "Corrupted TIFF file!";
constexpr const char* kNoMemory = "VxImageTIF can't allocate memory";
constexpr const char* kCorruptTiled = "Corrupted tiled TIFF file!";

// The fields of a page that steer its decoding, with the values used when a
// tag is absent.
struct TiffPage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 1;
    std::uint16_t bits = 1;
    std::uint32_t rowsPerStrip = 0xFFFFFFFF;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t extraCount = 0;
    std::uint16_t firstExtra = EXTRASAMPLE_UNSPECIFIED;
    std::uint16_t inks = 4;  // colour samples of a separated (CMYK) page
};

TiffPage ReadPage(TIFF* tif)
{
    TiffPage p;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &p.rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &p.orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &p.sampleFormat);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &p.compression);
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &p.extraCount, &extra) && p.extraCount > 0 && extra)
        p.firstExtra = extra[0];
    else
        p.extraCount = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_NUMBEROFINKS, &p.inks);
    return p;
}

// Samples of a pixel that carry its colour; any beyond them carry alpha
// (the first extra sample), as libtiff's RGBA reader takes them.
std::uint32_t ColourSamples(const TiffPage& p)
{
    switch (p.photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
    case PHOTOMETRIC_LOGLUV:
        return 3;
    case PHOTOMETRIC_SEPARATED:
        return std::max<std::uint16_t>(p.inks, 1);
    default:
        return 1;
    }
}

bool HasAlphaSample(const TiffPage& p) { return p.samples > ColourSamples(p); }

// Colours stored multiplied by their alpha (associated alpha): the image
// keeps them straight, as every other reader gives them, and divides down
// as they do, so that the same file gives the same pixels everywhere.
void Unpremultiply(std::uint8_t* bgr, const std::uint8_t* alpha, std::uint32_t width)
{
    for (std::uint32_t x = 0; x < width; ++x, bgr += 3) {
        const unsigned a = alpha[x];
        if (a == 255)
            continue;
        for (int c = 0; c < 3; ++c)
            bgr[c] = static_cast<std::uint8_t>(a == 0 ? 0 : std::min(255u, bgr[c] * 255u / a));
    }
}

// The most pixel bytes one byte of the file can stand for under each
// compression, with room for the 32-bit raster of a narrow colour page.
struct TiffExpansion {
    std::uint16_t compression;
    std::uint64_t maxExpansion;
};
constexpr TiffExpansion kExpansion[] = {
    {COMPRESSION_NONE, 64},           {COMPRESSION_PACKBITS, 256},      {COMPRESSION_CCITTRLE, 1u << 16},
    {COMPRESSION_CCITTFAX3, 1u << 16}, {COMPRESSION_CCITTFAX4, 1u << 16}, {COMPRESSION_CCITTRLEW, 1u << 16},
    {COMPRESSION_JBIG, 1u << 16},
};
constexpr std::uint64_t kOtherExpansion = 1u << 13;  // LZW, Deflate, JPEG and the rest

std::uint64_t MaxExpansion(std::uint16_t compression)
{
    for (const TiffExpansion& e : kExpansion)
        if (e.compression == compression)
            return e.maxExpansion;
    return kOtherExpansion;
}

struct TiffFree {
    void operator()(std::uint8_t* p) const { _TIFFfree(p); }
};
using TiffBuffer = std::unique_ptr<std::uint8_t[], TiffFree>;

bool IsGrey(std::uint16_t photometric)
{
    return photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
}

// Pages libtiff's RGBA reader converts. Besides the colour models it knows,
// this takes every page the band reader cannot walk safely: three or more
// samples of a width other than 8 or 16 bits, and separate planes.
bool ReadsAsRgba(const TiffPage& p)
{
    switch (p.photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_LOGL:
    case PHOTOMETRIC_LOGLUV:
        return true;
    default:
        break;
    }
    if (p.samples >= 3 && p.bits != 8 && p.bits != 16)
        return true;
    return p.samples > 1 && p.planar == PLANARCONFIG_SEPARATE;
}

// 8-bit contiguous RGB (with unassociated or associated alpha) in strips:
// read directly, rows as stored. The RGBA reader gives the same pixels.
bool ReadsAsRgbStrips(TIFF* tif, const TiffPage& p)
{
    if (p.photometric != PHOTOMETRIC_RGB || p.bits != 8 || p.planar != PLANARCONFIG_CONTIG ||
        p.sampleFormat != SAMPLEFORMAT_UINT || TIFFIsTiled(tif))
        return false;
    if (p.samples == 3)
        return p.extraCount == 0;
    return p.samples == 4 && p.extraCount == 1 &&
           (p.firstExtra == EXTRASAMPLE_ASSOCALPHA || p.firstExtra == EXTRASAMPLE_UNASSALPHA);
}

// 16-bit contiguous CMYK in strips, which libtiff's RGBA reader cannot
// take: read directly.
bool ReadsAsCmyk16Strips(TIFF* tif, const TiffPage& p)
{
    return p.photometric == PHOTOMETRIC_SEPARATED && p.inks == 4 && p.samples >= 4 && p.bits == 16 &&
           p.planar == PLANARCONFIG_CONTIG && p.sampleFormat == SAMPLEFORMAT_UINT && !TIFFIsTiled(tif);
}

// A 16-bit sample to 8 bits, as ImageMagick narrows it.
std::uint8_t Narrow16(std::uint32_t v) { return static_cast<std::uint8_t>(v / 257u); }

// One colour of a CMYK pixel of 16-bit samples: the ink's share of white
// under the black, as ImageMagick works it out at 16 bits, then narrowed.
std::uint8_t CmykChannel16(std::uint32_t ink, std::uint32_t black)
{
    return Narrow16(((65535u - ink) * (65535u - black) + 32767u) / 65535u);
}

std::uint32_t ImageBpp(const TiffPage& p, bool rgba)
{
    if (rgba || p.samples >= 3)
        return 24;
    if (IsGrey(p.photometric))
        return p.bits == 1 ? 1 : p.bits == 4 ? 4 : 8;
    return p.bits == 4 ? 4 : 8;
}

// Decodes one page into an image that it creates.
class TiffPageReader {
public:
    TiffPageReader(VxImage& image, VxImageAttributes& info, TIFF* tif, VxFile* stream, std::int32_t start,
                   const TiffPage& page)
        : m_image(image), m_info(info), m_tif(tif), m_stream(stream), m_start(start), m_page(page)
    {
    }

    void Run()
    {
        const TiffPage& p = m_page;
        if (p.bits == 0 || p.bits > 64)
            VxRaise(kCorrupt);
        ReadPlacement();
        m_info.transparentIndex = -1;
        m_rgba = ReadsAsRgba(p);
        m_bpp = ImageBpp(p, m_rgba);
        CheckStop();
        const std::uint64_t rowWidth = (static_cast<std::uint64_t>(m_bpp) * p.width + 31) / 32 * 4;
        if (!FileCanHold(VxMulSat(rowWidth, p.height)))
            VxRaiseDataMissing(p.width, p.height);
        if (!m_image.Create(p.width, p.height, m_bpp, VXFMT_TIF) ||
            (HasAlphaSample(p) && !m_image.CreateAlphaPlane())) {
            if (p.width == 0 || p.height == 0)
                VxRaise(m_image.GetLastError());
            RaiseTooBig();
        }
        m_image.SetFormatOption(p.compression, VXFMT_TIF);
        if (m_rgba) {
            if (ReadsAsRgbStrips(m_tif, p))
                ReadRgbStrips();
            else if (ReadsAsCmyk16Strips(m_tif, p))
                ReadCmyk16Strips();
            else
                ReadRgbaRaster();
        } else {
            BuildPalette();
            ReadBands();
        }
        ApplyOrientation();
        if (m_cutShort)
            m_image.MarkDamaged();
    }

private:
    void CheckStop() const
    {
        if (m_info.stopRequest != 0)
            VxRaise(kCancelled);
    }

    // Whether the file holds enough bytes to fill a buffer of this size.
    bool FileCanHold(std::uint64_t bytes)
    {
        if (!m_stream->Seek(m_start, 0))
            return false;
        VxReader in(m_stream);
        return VxFileCanHold(in, bytes, MaxExpansion(m_page.compression));
    }

    // A working buffer: within what a picture may take, and backed by data.
    TiffBuffer Allocate(std::uint64_t bytes, const char* failure)
    {
        if (bytes == 0 || !FileCanHold(bytes))
            VxRaise(failure);
        if (!PictureFitsInMemory(bytes))
            RaiseTooBig();
        TiffBuffer b(static_cast<std::uint8_t*>(_TIFFmalloc(static_cast<tmsize_t>(bytes))));
        if (!b)
            RaiseTooBig();
        return b;
    }

    // A page the memory cannot hold is named by the size it shows at, turned
    // as its orientation says.
    [[noreturn]] void RaiseTooBig() const
    {
        const bool turned = m_page.orientation >= ORIENTATION_LEFTTOP && m_page.orientation <= ORIENTATION_LEFTBOT;
        VxRaiseTooBig(turned ? m_page.height : m_page.width, turned ? m_page.width : m_page.height);
    }

    // Resolution and position of the page.
    void ReadPlacement()
    {
        std::uint16_t unit = RESUNIT_INCH;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_RESOLUTIONUNIT, &unit);
        auto dpi = [unit](float value) {
            double v = value;
            if (unit == RESUNIT_CENTIMETER)
                v = v * 2.54 + 0.5;
            return VxClampToInt32(v);
        };
        float value = 0;
        if (TIFFGetField(m_tif, TIFFTAG_XRESOLUTION, &value))
            m_image.SetXDPI(dpi(value));
        if (TIFFGetField(m_tif, TIFFTAG_YRESOLUTION, &value))
            m_image.SetYDPI(dpi(value));
        if (TIFFGetField(m_tif, TIFFTAG_XPOSITION, &value))
            m_info.xOffset = VxClampToInt32(value);
        if (TIFFGetField(m_tif, TIFFTAG_YPOSITION, &value))
            m_info.yOffset = VxClampToInt32(value);
    }

    // Colour pages of any kind through libtiff's RGBA reader. It is told the
    // page is stored top row first and its alpha associated, so that it
    // neither turns nor premultiplies: the orientation is applied as for
    // every page, and alpha kept straight.
    void ReadRgbaRaster()
    {
        const std::uint32_t w = m_page.width, h = m_page.height;
        TiffBuffer raster = Allocate(VxMulSat(VxMulSat(w, h), 4), kNoRaster);
        auto* px = reinterpret_cast<std::uint32_t*>(raster.get());
        TIFFSetField(m_tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        const bool associated = m_page.extraCount > 0 && m_page.firstExtra == EXTRASAMPLE_ASSOCALPHA;
        if (m_page.extraCount > 0 && m_page.firstExtra == EXTRASAMPLE_UNASSALPHA) {
            std::uint16_t* extra = nullptr;
            std::uint16_t count = 0;
            TIFFGetField(m_tif, TIFFTAG_EXTRASAMPLES, &count, &extra);
            std::vector<std::uint16_t> asRead(extra, extra + count);
            asRead[0] = EXTRASAMPLE_ASSOCALPHA;
            TIFFSetField(m_tif, TIFFTAG_EXTRASAMPLES, count, asRead.data());
        }
        // A layout the reader cannot take at all is refused with its reason,
        // not shown as a black page.
        char reason[1024] = {};
        if (!TIFFRGBAImageOK(m_tif, reason))
            VxRaise(reason[0] ? reason : kCorrupt);
        // Past a broken strip or tile the reader goes on; what it could not
        // read stays black, and the page counts as damaged.
        if (!TIFFReadRGBAImage(m_tif, w, h, px, 0))
            m_cutShort = true;
        // The raster's first row is the bottom one, like the image's.
        for (std::uint32_t r = 0; r < h; ++r) {
            CheckStop();
            std::uint8_t* row = m_image.GetRowBits(r);
            std::uint8_t* alpha = m_image.GetAlphaPointer(0, static_cast<std::int32_t>(r));
            const std::uint32_t* src = px + static_cast<std::size_t>(r) * w;
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::uint32_t v = src[x];
                row[3 * x] = static_cast<std::uint8_t>(TIFFGetB(v));
                row[3 * x + 1] = static_cast<std::uint8_t>(TIFFGetG(v));
                row[3 * x + 2] = static_cast<std::uint8_t>(TIFFGetR(v));
                if (alpha)
                    alpha[x] = static_cast<std::uint8_t>(TIFFGetA(v));
            }
            if (alpha && associated)
                Unpremultiply(row, alpha, w);
        }
    }

    // Reads the page strip by strip, each row `line` bytes, and hands every
    // row to fn with the picture row it goes to (rows count from the
    // bottom); a strip that cannot be read leaves it and those below black.
    template <typename RowFn> void ForEachStripRow(std::uint64_t line, RowFn&& fn)
    {
        const std::uint32_t h = m_page.height;
        const std::uint32_t rows = std::clamp<std::uint32_t>(m_page.rowsPerStrip, 1, h);
        TiffBuffer strip = Allocate(VxMulSat(line, rows), kNoMemory);
        for (std::uint32_t ys = 0; ys < h; ys += rows) {
            CheckStop();
            const std::uint32_t nrow = std::min(rows, h - ys);
            const auto want = static_cast<tmsize_t>(line * nrow);
            if (TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, ys, 0), strip.get(), want) != want) {
                m_cutShort = true;
                return;
            }
            for (std::uint32_t y = 0; y < nrow; ++y)
                fn(h - 1 - (ys + y), strip.get() + line * y);
        }
    }

    void ReadRgbStrips()
    {
        const std::uint32_t w = m_page.width;
        const std::uint32_t spp = m_page.samples;
        const bool associated = spp == 4 && m_page.firstExtra == EXTRASAMPLE_ASSOCALPHA;
        ForEachStripRow(std::uint64_t{w} * spp, [&](std::uint32_t imageRow, const std::uint8_t* src) {
            std::uint8_t* dst = m_image.GetRowBits(imageRow);
            if (spp == 3) {
                for (std::uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                }
                return;
            }
            std::uint8_t* alpha = m_image.GetAlphaPointer(0, static_cast<std::int32_t>(imageRow));
            for (std::uint32_t x = 0; x < w; ++x, src += 4, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                if (alpha)
                    alpha[x] = src[3];
            }
            if (alpha && associated)
                Unpremultiply(m_image.GetRowBits(imageRow), alpha, w);
        });
    }

    void ReadCmyk16Strips()
    {
        const std::uint32_t w = m_page.width;
        const std::uint32_t spp = m_page.samples;
        ForEachStripRow(std::uint64_t{w} * spp * 2, [&](std::uint32_t imageRow, const std::uint8_t* bytes) {
            // libtiff hands the samples over in the machine's byte order.
            const auto* src = reinterpret_cast<const std::uint16_t*>(bytes);
            std::uint8_t* dst = m_image.GetRowBits(imageRow);
            std::uint8_t* alpha = m_image.GetAlphaPointer(0, static_cast<std::int32_t>(imageRow));
            for (std::uint32_t x = 0; x < w; ++x, src += spp, dst += 3) {
                dst[0] = CmykChannel16(src[2], src[3]);
                dst[1] = CmykChannel16(src[1], src[3]);
                dst[2] = CmykChannel16(src[0], src[3]);
                if (alpha)
                    alpha[x] = Narrow16(src[4]);
            }
        });
    }

    void BuildPalette()
    {
        const std::uint32_t n = m_image.GetNumColors();
        if (n == 0)
            return;
        RGBQUAD table[256] = {};
        const std::uint16_t photometric = m_page.photometric;
        if (IsGrey(photometric) && m_page.bits == 1) {
            table[photometric == PHOTOMETRIC_MINISBLACK ? 1 : 0] = RGBQUAD{255, 255, 255, 0};
        } else if (IsGrey(photometric)) {
            const std::uint32_t step = 255 / (n - 1);
            for (std::uint32_t i = 0; i < n; ++i) {
                const auto v = static_cast<std::uint8_t>(photometric == PHOTOMETRIC_MINISBLACK ? step * i
                                                                                                : 255 - step * i);
                table[i] = RGBQUAD{v, v, v, 0};
            }
        } else if (photometric == PHOTOMETRIC_PALETTE) {
            std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            if (TIFFGetField(m_tif, TIFFTAG_COLORMAP, &red, &green, &blue) && red && green && blue) {
                // libtiff holds 2^bits entries per channel; a map wider than
                // 8 bits is only looked at as far as the image can use it.
                const std::uint32_t count = m_page.bits <= 8 ? 1u << m_page.bits : 256;
                bool wide = false;
                for (std::uint32_t i = 0; i < count && !wide; ++i)
                    wide = red[i] > 255 || green[i] > 255 || blue[i] > 255;
                auto channel = [wide](std::uint16_t v) {
                    return static_cast<std::uint8_t>(wide ? v * 255u / 65535u : v & 0xFF);
                };
                for (std::uint32_t i = 0; i < std::min<std::uint32_t>(count, 256); ++i)
                    table[i] = RGBQUAD{channel(blue[i]), channel(green[i]), channel(red[i]), 0};
            } else {
                // The colour map could not be read (it often lies after the
                // pixels, where a cut file ends): the indices show as greys
                // of a damaged picture.
                m_cutShort = true;
                m_image.SetGreyRampPalette();
                return;
            }
        }
        m_image.SetPalette(table, n);
    }

    void ReadBands()
    {
        const TiffPage& p = m_page;
        const std::uint32_t w = p.width, h = p.height;
        const std::uint64_t line = (static_cast<std::uint64_t>(p.bits) * w * p.samples + 7) / 8;
        const bool tiled = TIFFIsTiled(m_tif);
        std::uint32_t rows = 0, tileWidth = 0;
        std::uint64_t tileRow = 0;
        TiffBuffer tile;
        if (tiled) {
            std::uint32_t tileLength = 0;
            TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &tileWidth);
            TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &tileLength);
            // A tile of no size never advances; one that ends inside a byte
            // cannot be laid beside the next by whole bytes.
            tileRow = static_cast<std::uint64_t>(TIFFTileRowSize64(m_tif));
            const std::uint64_t scanline = static_cast<std::uint64_t>(TIFFScanlineSize64(m_tif));
            if (tileWidth == 0 || tileLength == 0 || tileRow == 0 || scanline != line ||
                (static_cast<std::uint64_t>(tileWidth) * p.samples * p.bits) % 8 != 0)
                VxRaise(kCorruptTiled);
            rows = tileLength;
            tile = Allocate(static_cast<std::uint64_t>(TIFFTileSize64(m_tif)), kNoMemory);
            if (static_cast<std::uint64_t>(TIFFTileSize64(m_tif)) < tileRow * std::min(rows, h))
                VxRaise(kCorruptTiled);
        } else {
            rows = std::clamp<std::uint32_t>(p.rowsPerStrip, 1, h);
        }
        const std::uint32_t bandRows = std::min(rows, h);
        TiffBuffer band = Allocate(VxMulSat(line, bandRows), kNoMemory);
        TiffBuffer unpacked;
        if (!(p.samples == 1 && (p.bits == 8 || p.bits == m_bpp)))
            unpacked = Allocate(VxMulSat(w, p.samples), kNoMemory);

        for (std::uint32_t ys = 0; ys < h; ys += rows) {
            CheckStop();
            const std::uint32_t nrow = std::min(rows, h - ys);
            if (tiled) {
                std::uint64_t colb = 0;
                for (std::uint32_t col = 0; col < w && colb < line; col += tileWidth, colb += tileRow) {
                    if (TIFFReadTile(m_tif, tile.get(), col, ys, 0, 0) < 0) {
                        // A tile cut off or broken: it stays black.
                        m_cutShort = true;
                        std::memset(tile.get(), 0, static_cast<std::size_t>(TIFFTileSize64(m_tif)));
                    }
                    // The last tile of a row may reach past the image edge:
                    // only what lies inside is kept.
                    const auto columns = static_cast<std::uint32_t>(std::min(tileRow, line - colb));
                    CopyTileToRows(band.get() + colb, tile.get(), nrow, columns,
                                   static_cast<std::uint32_t>(line - columns), static_cast<std::uint32_t>(tileRow - columns));
                }
            } else {
                const auto want = static_cast<tmsize_t>(line * nrow);
                const tmsize_t got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, ys, 0), band.get(), want);
                if (got < want) {
                    // A strip cut off or broken: what is missing stays black.
                    m_cutShort = true;
                    const tmsize_t kept = std::max<tmsize_t>(got, 0);
                    std::memset(band.get() + kept, 0, static_cast<std::size_t>(want - kept));
                }
            }
            for (std::uint32_t y = 0; y < nrow; ++y)
                StoreRow(band.get() + line * y, line, h - 1 - (ys + y), unpacked.get());
        }
    }

    static void CopyTileToRows(std::uint8_t* out, const std::uint8_t* in, std::uint32_t rows, std::uint32_t columns,
                               std::uint32_t outSkew, std::uint32_t inSkew)
    {
        VxImageTIF::CopyTileToRows(out, in, rows, columns, outSkew, inSkew);
    }

    // One byte per sample: see the top of the file.
    void Unpack(const std::uint8_t* src, std::uint8_t* out) const
    {
        const std::uint32_t bits = m_page.bits;
        const std::uint32_t spp = m_page.samples;
        const std::size_t n = static_cast<std::size_t>(m_page.width) * spp;
        if (bits == 8) {
            std::memcpy(out, src, n);
            return;
        }
        // libtiff hands whole-byte samples over in the machine's byte order.
        if (bits == 16 || bits == 24 || bits == 32 || bits == 64) {
            const std::size_t size = bits / 8;
            const std::size_t top = std::endian::native == std::endian::little ? size - 1 : 0;
            for (std::size_t i = 0; i < n; ++i)
                out[i] = src[i * size + top];
            return;
        }
        auto bitsAt = [src](std::uint64_t offset, std::uint32_t count) {
            std::uint32_t v = 0;
            for (std::uint32_t k = 0; k < count; ++k, ++offset)
                v = (v << 1) | ((src[offset / 8] >> (7 - offset % 8)) & 1u);
            return v;
        };
        if (bits > 8) {
            for (std::size_t i = 0; i < n; ++i)
                out[i] = static_cast<std::uint8_t>(bitsAt(static_cast<std::uint64_t>(i) * bits, 8));
            return;
        }
        const std::uint32_t max = (1u << bits) - 1;
        const bool scaleColour = IsGrey(m_page.photometric) && m_bpp == 8;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t v = bitsAt(static_cast<std::uint64_t>(i) * bits, bits);
            const bool alpha = i % spp != 0;
            out[i] = static_cast<std::uint8_t>(alpha || scaleColour ? v * 255 / max : v);
        }
    }

    void StoreRow(const std::uint8_t* src, std::uint64_t line, std::uint32_t imageRow, std::uint8_t* unpacked)
    {
        const std::uint32_t w = m_page.width;
        std::uint8_t* row = m_image.GetRowBits(imageRow);
        const auto y = static_cast<std::int32_t>(imageRow);
        if (m_page.samples == 1 && (m_page.bits == 8 || m_page.bits == m_bpp)) {
            std::memcpy(row, src, static_cast<std::size_t>(std::min<std::uint64_t>(line, m_image.GetRowStride())));
            return;
        }
        Unpack(src, unpacked);
        if (m_page.samples == 1) {
            std::memcpy(row, unpacked, w);
        } else if (m_page.samples == 2) {
            for (std::uint32_t x = 0; x < w; ++x) {
                m_image.SetPixelIndex(static_cast<std::int32_t>(x), y, unpacked[2 * x]);
                m_image.SetAlphaAt(static_cast<std::int32_t>(x), y, unpacked[2 * x + 1]);
            }
        } else {
            const std::uint32_t spp = m_page.samples;
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::uint8_t* s = unpacked + static_cast<std::size_t>(x) * spp;
                RGBQUAD c = LabToRgb(s[0], static_cast<std::int8_t>(s[1]), static_cast<std::int8_t>(s[2]));
                m_image.SetPixelColor(static_cast<std::int32_t>(x), y, c, false);
                if (spp >= 4)
                    m_image.SetAlphaAt(static_cast<std::int32_t>(x), y, s[3]);
            }
        }
    }

    // CIE L*a*b* (D65) to sRGB.
    static RGBQUAD LabToRgb(std::uint8_t l, std::int8_t a, std::int8_t b)
    {
        const double p = (l / 2.55 + 16) / 116;
        const double x = std::pow(p + a * 0.002, 3) * 0.95047;
        const double yv = std::pow(p, 3);
        const double z = std::pow(p - b * 0.005, 3) * 1.0883;
        auto byte = [](double c) {
            c = c > 0.00304 ? 1.055 * std::pow(c, 0.41667) - 0.055 : 12.92 * c;
            return static_cast<std::uint8_t>(std::clamp(c * 255, 0.0, 255.0));
        };
        const double r = 3.240479 * x - 1.537150 * yv - 0.498535 * z;
        const double g = -0.969256 * x + 1.875992 * yv + 0.041556 * z;
        const double bl = 0.055648 * x - 0.204043 * yv + 1.057311 * z;
        return RGBQUAD{byte(bl), byte(g), byte(r), 0};
    }

    // Orientation 6 has the first row on the right and the first column on
    // top: the stored picture is turned a quarter clockwise to stand
    // upright; 8 is the opposite turn; 5 and 7 are their mirror images.
    // A page the memory cannot hold turned is refused, not shown unturned.
    void ApplyOrientation()
    {
        bool ok = true;
        switch (m_page.orientation) {
        case ORIENTATION_TOPRIGHT: ok = m_image.Mirror(); break;
        case ORIENTATION_BOTRIGHT: ok = m_image.Flip() && m_image.Mirror(); break;
        case ORIENTATION_BOTLEFT: ok = m_image.Flip(); break;
        case ORIENTATION_LEFTTOP: ok = m_image.RotateRight() && m_image.Mirror(); break;
        case ORIENTATION_RIGHTTOP: ok = m_image.RotateRight(); break;
        case ORIENTATION_RIGHTBOT: ok = m_image.RotateLeft() && m_image.Mirror(); break;
        case ORIENTATION_LEFTBOT: ok = m_image.RotateLeft(); break;
        default: break;
        }
        if (!ok)
            VxRaise(m_image.GetLastError());
    }

    VxImage& m_image;
    VxImageAttributes& m_info;
    TIFF* m_tif;
    VxFile* m_stream;
    std::int32_t m_start;
    TiffPage m_page;
    bool m_rgba = false;
    std::uint32_t m_bpp = 0;
    bool m_cutShort = false;
};

}  // namespace

void VxImageTIF::CopyTileToRows(std::uint8_t* out, const std::uint8_t* in, std::uint32_t rows, std::uint32_t columns,
                                std::uint32_t outSkew, std::uint32_t inSkew)
{
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::memcpy(out, in, columns);
        out += static_cast<std::size_t>(columns) + outSkew;
        in += static_cast<std::size_t>(columns) + inSkew;
    }
}

bool VxImageTIF::Decode(VxFile* stream)
{
    TIFF* tif = nullptr;
    bool dimensionsKnown = false;
    int troubles = 0;  // libtiff met data it could not read
    try {
        if (!stream)
            VxRaise(kOpenFailed);
        const std::int32_t start = stream->Tell();
        tif = VxTiffOpenImage(stream, "r", &troubles);
        if (!tif)
            VxRaise(kOpenFailed);
        m_info.framesFound = static_cast<std::int32_t>(
            std::min<tdir_t>(TIFFNumberOfDirectories(tif), std::numeric_limits<std::int32_t>::max()));
        if (m_info.frameToLoad < 0 || !TIFFSetDirectory(tif, static_cast<tdir_t>(m_info.frameToLoad)))
            VxRaise(kNoPage);
        const TiffPage page = ReadPage(tif);
        if (m_info.stopRequest == -1) {
            m_header.biWidth = static_cast<LONG>(page.width);
            m_header.biHeight = static_cast<LONG>(page.height);
            dimensionsKnown = true;
            VxRaise(kDimensionsOnly);
        }
        TiffPageReader(*this, m_info, tif, stream, start, page).Run();
        TIFFClose(tif);
        if (troubles > 0)
            MarkDamaged();
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
    } catch (const std::bad_alloc&) {
        SetError(kNoMemory);
    }
    if (tif)
        TIFFClose(tif);
    // A dimensions-only read succeeds once it has the dimensions; a file it
    // could not even open stays a failure.
    return dimensionsKnown;
}
