// PCX codec.
//
// Header (128 bytes, little-endian):
//
//   0  1  Manufacturer   10
//   1  1  Version        5 when written
//   2  1  Encoding       1 (run-length)
//   3  1  BitsPerPixel   per plane
//   4  8  Xmin, Ymin, Xmax, Ymax (2 bytes each)
//  12  4  HDpi, VDpi
//  16 48  Colormap       16 entries of red, green, blue
//  64  1  Reserved
//  65  1  NPlanes
//  66  2  BytesPerLine   of one plane
//  68  2  PaletteInfo
//  70  4  HscreenSize, VscreenSize
//  74 54  Filler
//
// The image data is one run-length stream for the whole picture: each line
// holds its planes one after the other, BytesPerLine bytes each. A byte of
// 192 or more is a count (its low 6 bits) for the byte that follows; any
// other byte stands for itself. A 256-colour file ends with the byte 12 and
// 256 red, green, blue triples.
#include "imaging/vxpcx.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr std::size_t Manufacturer = 0;
constexpr std::size_t Version = 1;
constexpr std::size_t Encoding = 2;
constexpr std::size_t BitsPerPixel = 3;
constexpr std::size_t Xmin = 4;
constexpr std::size_t Ymin = 6;
constexpr std::size_t Xmax = 8;
constexpr std::size_t Ymax = 10;
constexpr std::size_t HDpi = 12;
constexpr std::size_t VDpi = 14;
constexpr std::size_t Colormap = 16;
constexpr std::size_t NPlanes = 65;
constexpr std::size_t BytesPerLine = 66;
constexpr std::size_t PaletteInfo = 68;
constexpr std::size_t kHeaderSize = 128;

void EmitRun(VxFile* out, std::int32_t value, std::int32_t count)
{
    if (count != 1 || value >= 192)
        out->PutC(static_cast<std::uint8_t>(0xC0 | count));
    out->PutC(static_cast<std::uint8_t>(value));
}

// The run-length stream of the picture, decoded one file line (all its
// planes) at a time. A run may go on from one line into the next: what is
// left of it is carried into the next line. A run longer than the rest of
// the picture is an error. A stream that ends before the picture leaves the
// rest of the line 0, and Line answers false.
class PcxRuns {
public:
    PcxRuns(VxFile* stream, std::uint64_t pictureBytes) : m_source(stream), m_left(pictureBytes) {}

    bool Line(std::uint8_t* out, std::size_t n)
    {
        std::size_t pos = std::min(m_carried, n);
        std::memset(out, m_carriedValue, pos);
        m_carried -= pos;
        while (pos < n) {
            // Codes are taken in place from the block read ahead while both
            // bytes of a run are in it; a run split across two blocks, and
            // the end of the stream, go a byte at a time.
            const std::uint8_t* block;
            const std::size_t available = m_source.Peek(&block);
            std::size_t i = 0;
            while (pos < n && i + 1 < available) {
                const std::uint8_t c = block[i];
                if (c < 192) {
                    out[pos++] = c;
                    ++i;
                    continue;
                }
                Run(out, n, pos, c, block[i + 1]);
                i += 2;
            }
            m_source.Take(i);
            if (pos == n || i > 0)
                continue;
            const int c = m_source.Get();
            const int value = c >= 192 ? m_source.Get() : 0;
            if (c < 0 || value < 0) {
                std::memset(out + pos, 0, n - pos);
                return false;
            }
            if (c < 192) {
                out[pos++] = static_cast<std::uint8_t>(c);
                continue;
            }
            Run(out, n, pos, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(value));
        }
        m_left -= n;
        return true;
    }
    // Bytes of the stream the lines took.
    std::uint64_t Consumed() const { return m_source.Consumed(); }

private:
    // A count byte (192 or more) and its value: as much of the run as the
    // line holds, the rest carried.
    void Run(std::uint8_t* out, std::size_t n, std::size_t& pos, std::uint8_t code, std::uint8_t value)
    {
        const std::size_t count = code & 0x3Fu;
        if (count > m_left - pos)
            VxRaise("repeat count spans end of image");
        const std::size_t here = std::min(count, n - pos);
        std::memset(out + pos, value, here);
        pos += here;
        m_carried = count - here;
        m_carriedValue = value;
    }

    VxByteSource m_source;
    std::uint64_t m_left;  // bytes of the picture not decoded yet
    std::size_t m_carried = 0;
    std::uint8_t m_carriedValue = 0;
};

}  // namespace

void PcxMergePlanes(std::uint8_t* indices, const std::uint8_t* line, std::int32_t bytesPerLine, std::int32_t planes,
                    std::int32_t bitsPerPixel)
{
    if (planes > 4)
        VxRaise("Can't handle more than 4 planes");
    if (bitsPerPixel != 1)
        VxRaise("Can't handle more than 1 bit per pixel");
    std::memset(indices, 0, static_cast<std::size_t>(bytesPerLine) * 8);
    for (std::int32_t i = 0; i < planes; ++i) {
        const std::uint8_t* plane = line + static_cast<std::size_t>(i) * bytesPerLine;
        for (std::int32_t j = 0; j < bytesPerLine; ++j)
            for (int k = 0; k < 8; ++k)
                if (plane[j] & (0x80 >> k))
                    indices[j * 8 + k] |= static_cast<std::uint8_t>(1 << i);
    }
}

void PcxSplitPackedPixels(std::uint8_t* indices, const std::uint8_t* line, std::int32_t bytesPerLine,
                          std::int32_t planes, std::int32_t bitsPerPixel)
{
    if (planes != 1)
        VxRaise("Can't handle packed pixels with more than 1 plane.");
    if (bitsPerPixel != 1 && bitsPerPixel != 2 && bitsPerPixel != 4) {
        std::memcpy(indices, line, static_cast<std::size_t>(bytesPerLine));
        return;
    }
    const int perByte = 8 / bitsPerPixel;
    const int mask = (1 << bitsPerPixel) - 1;
    for (std::int32_t j = 0; j < bytesPerLine; ++j)
        for (int k = 0; k < perByte; ++k)
            *indices++ = static_cast<std::uint8_t>((line[j] >> (8 - bitsPerPixel * (k + 1))) & mask);
}

void PcxSplitPlanes(const std::uint8_t* indices, std::int32_t count, std::uint8_t* planeLine, std::int32_t plane)
{
    std::memset(planeLine, 0, static_cast<std::size_t>(count + 7) / 8);
    for (std::int32_t i = 0; i < count; ++i)
        if ((indices[i] >> plane) & 1)
            planeLine[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
}

void PcxJoinPackedPixels(std::int32_t value, std::int32_t* last, std::int32_t* runCount, VxFile* out)
{
    if (value != *last && *runCount > 0) {
        EmitRun(out, *last, *runCount);
        *runCount = 0;
    }
    if (*runCount == 63) {
        out->PutC(0xFF);
        out->PutC(static_cast<std::uint8_t>(*last));
        *runCount = 0;
    }
    if (value == -2)
        out->PutC(0);
    *last = value;
    ++*runCount;
}

void PcxEncodeLine(const std::uint8_t* line, std::int32_t length, VxFile* out)
{
    std::int32_t i = 0;
    while (i < length) {
        std::int32_t n = 1;
        while (i + n < length && n < 63 && line[i + n] == line[i])
            ++n;
        EmitRun(out, line[i], n);
        i += n;
    }
}

bool VxImagePCX::Decode(VxFile* stream)
{
    if (!stream)
        return false;
    try {
        VxReader in(stream);
        std::uint8_t h[kHeaderSize];
        if (!in.Read(h, sizeof h))
            VxRaise("Can't read PCX image");
        if (h[Manufacturer] != 10)
            VxRaise("Error: Not a PCX file");
        if (h[Encoding] != 1)
            VxRaise("PCX file has unknown encoding scheme");
        m_info.xDpi = VxGet16(h + HDpi);
        m_info.yDpi = VxGet16(h + VDpi);
        const std::int32_t planes = h[NPlanes];
        const std::int32_t bits = h[BitsPerPixel];
        if (planes > 4)
            VxRaise("Can't handle image with more than 4 planes");
        const std::int32_t width = static_cast<std::int32_t>(VxGet16(h + Xmax)) - VxGet16(h + Xmin) + 1;
        const std::int32_t height = static_cast<std::int32_t>(VxGet16(h + Ymax)) - VxGet16(h + Ymin) + 1;
        const std::int32_t bpl = VxGet16(h + BytesPerLine);
        // A line of one plane must hold the whole width, or the pixel loops
        // below would read past it.
        if (planes == 0 || (bits != 1 && bits != 2 && bits != 4 && bits != 8) ||
            (width > 0 && static_cast<std::int64_t>(bpl) * 8 < static_cast<std::int64_t>(width) * bits))
            VxRaise("corrupted PCX");

        std::uint32_t bpp = static_cast<std::uint32_t>(bits);
        if (bits == 8 && planes >= 3)
            bpp = 24;
        else if (bits == 1 && planes > 1)
            bpp = 4;  // up to four planes of one bit: 16 colours
        const std::size_t lineBytes = static_cast<std::size_t>(bpl) * static_cast<std::size_t>(planes);
        const std::uint64_t total = static_cast<std::uint64_t>(lineBytes) * static_cast<std::uint64_t>(std::max(height, 0));
        // At best two bytes of the file give a run of 63 bytes of lines.
        if (width > 0 && height > 0 && !VxFileCanHold(in, (total + 62) / 63 * 2, 1))
            VxRaiseDataMissing(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
        if (!Create(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), bpp, VXFMT_PCX))
            return false;
        if (bits == 8 && planes == 4 && !CreateAlphaPlane())
            VxRaise(GetLastError());
        if (m_info.stopRequest != 0)
            VxRaise("Cancelled");

        // Line by line straight into the picture: only one file line is
        // kept besides it.
        std::vector<std::uint8_t> line(lineBytes);
        std::vector<std::uint8_t> indices(static_cast<std::size_t>(bpl) * 8 + 8);
        // One plane whose pixels are packed as the image keeps them is
        // copied as it stands.
        const bool asStored = planes == 1 && static_cast<std::uint32_t>(bits) == GetBpp();
        const std::size_t storedBytes = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 7) / 8;
        const std::int32_t dataStart = stream->Tell();
        PcxRuns runs(stream, total);
        bool whole = true;
        for (std::int32_t y = 0; y < height && whole; ++y) {
            if (m_info.stopRequest != 0)
                VxRaise("Cancelled");
            whole = runs.Line(line.data(), line.size());
            const std::int32_t row = height - 1 - y;
            std::uint8_t* dst = GetRowBits(static_cast<std::uint32_t>(row));
            if (bpp == 24) {
                const std::uint8_t* red = line.data();
                const std::uint8_t* green = red + bpl;
                const std::uint8_t* blue = green + bpl;
                for (std::int32_t x = 0; x < width; ++x) {
                    dst[3 * x] = blue[x];
                    dst[3 * x + 1] = green[x];
                    dst[3 * x + 2] = red[x];
                }
                if (planes == 4)
                    std::memcpy(GetAlphaPointer(0, row), blue + bpl, static_cast<std::size_t>(width));
                continue;
            }
            if (asStored) {
                std::memcpy(dst, line.data(), storedBytes);
                continue;
            }
            if (planes == 1)
                PcxSplitPackedPixels(indices.data(), line.data(), bpl, planes, bits);
            else
                PcxMergePlanes(indices.data(), line.data(), bpl, planes, bits);
            for (std::int32_t x = 0; x < width; ++x)
                SetPixelIndex(x, row, indices[static_cast<std::size_t>(x)]);
        }
        // The 256-colour palette follows the data.
        stream->Seek(static_cast<std::int32_t>(std::min<std::uint64_t>(
                         static_cast<std::uint64_t>(dataStart) + runs.Consumed(), 0x7FFFFFFF)),
                     0);
        if (IsIndexed()) {
            std::uint8_t map[256 * 3] = {};
            std::memcpy(map, h + Colormap, 48);
            if (bits == 8 && planes == 1 && !whole) {
                // Cut short before its palette: the indices are shown as greys.
                for (std::uint32_t i = 0; i < 256; ++i)
                    std::memset(map + 3 * i, static_cast<int>(i), 3);
            } else if (bits == 8 && planes == 1) {
                std::uint8_t marker;
                if (!in.U8(marker) || marker != 12)
                    VxRaise("bad color map signature");
                if (in.ReadSome(map, sizeof map) < sizeof map)
                    whole = false;
            } else if (bits == 1 && planes == 1) {
                std::memset(map, 0, 3);
                std::memset(map + 3, 255, 3);
            }
            const std::uint32_t n = std::min<std::uint32_t>(GetNumColors(), 256);
            for (std::uint32_t i = 0; i < n; ++i)
                SetPaletteColor(static_cast<std::uint8_t>(i), map[3 * i], map[3 * i + 1], map[3 * i + 2], 0);
        }
        if (!whole)
            MarkDamaged();
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool VxImagePCX::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    try {
        const std::int32_t width = static_cast<std::int32_t>(GetWidth()), height = static_cast<std::int32_t>(GetHeight());
        if (width > 0x10000 || height > 0x10000) {
            SetError("cannot write PCX header");
            return false;
        }
        std::uint8_t h[kHeaderSize] = {};
        h[Manufacturer] = 10;
        h[Version] = 5;
        h[Encoding] = 1;
        VxPut16(h + Xmax, static_cast<std::uint32_t>(width - 1));
        VxPut16(h + Ymax, static_cast<std::uint32_t>(height - 1));
        VxPut16(h + HDpi, static_cast<std::uint32_t>(GetXDPI()));
        VxPut16(h + VDpi, static_cast<std::uint32_t>(GetYDPI()));
        VxPut16(h + PaletteInfo, IsIndexed() ? 0 : 1);
        std::int32_t bits, planes, bpl;
        if (GetBpp() >= 8) {
            bits = 8;
            planes = IsIndexed() ? 1 : HasAlpha() ? 4 : 3;
            bpl = width;
        } else {
            bits = 1;
            planes = GetNumColors() == 16 ? 4 : 1;
            bpl = (width + 7) / 8;
        }
        bpl += bpl & 1;
        h[BitsPerPixel] = static_cast<std::uint8_t>(bits);
        h[NPlanes] = static_cast<std::uint8_t>(planes);
        VxPut16(h + BytesPerLine, static_cast<std::uint32_t>(bpl));
        if (bits == 1 && planes == 1) {
            std::memset(h + Colormap + 3, 255, 3);
        } else if (bits == 1 && planes == 4) {
            for (std::uint8_t i = 0; i < 16; ++i) {
                const RGBQUAD c = GetPaletteColor(i);
                h[Colormap + 3 * i] = c.rgbRed;
                h[Colormap + 3 * i + 1] = c.rgbGreen;
                h[Colormap + 3 * i + 2] = c.rgbBlue;
            }
        }
        if (stream->Write(h, 1, sizeof h) != sizeof h)
            VxRaise("cannot write PCX header");

        VxMemFile data;
        data.Open();
        const std::int32_t eol = width % 2 ? -2 : -1;
        std::int32_t last = -1, count = 0;
        if (GetBpp() == 24) {
            for (std::int32_t y = height - 1; y >= 0; --y)
                for (std::int32_t p = 0; p < planes; ++p) {
                    last = -1;
                    count = 0;
                    for (std::int32_t x = 0; x < width; ++x) {
                        const RGBQUAD c = GetPixelColor(x, y, true);
                        const std::uint8_t v = p == 0 ? c.rgbRed : p == 1 ? c.rgbGreen : p == 2 ? c.rgbBlue : c.rgbReserved;
                        PcxJoinPackedPixels(v, &last, &count, &data);
                    }
                    PcxJoinPackedPixels(eol, &last, &count, &data);
                }
        } else if (GetBpp() == 8) {
            for (std::int32_t y = height - 1; y >= 0; --y) {
                last = -1;
                count = 0;
                for (std::int32_t x = 0; x < width; ++x)
                    PcxJoinPackedPixels(GetPixelIndexUnchecked(x, y), &last, &count, &data);
                PcxJoinPackedPixels(eol, &last, &count, &data);
            }
            data.PutC(12);
            for (std::uint32_t i = 0; i < 256; ++i) {
                const RGBQUAD c = GetPaletteColor(static_cast<std::uint8_t>(i));
                data.PutC(c.rgbRed);
                data.PutC(c.rgbGreen);
                data.PutC(c.rgbBlue);
            }
        } else {
            const bool invert = GetBpp() == 1 && CompareByGray(GetPaletteColor(0), GetPaletteColor(1)) > 0;
            std::vector<std::uint8_t> indices(static_cast<std::size_t>(width));
            std::vector<std::uint8_t> planeLine(static_cast<std::size_t>(bpl), 0);
            for (std::int32_t y = height - 1; y >= 0; --y) {
                for (std::int32_t x = 0; x < width; ++x) {
                    const std::uint8_t i = GetPixelIndexUnchecked(x, y);
                    indices[static_cast<std::size_t>(x)] = invert ? static_cast<std::uint8_t>(1 - i) : i;
                }
                for (std::int32_t p = 0; p < planes; ++p) {
                    std::fill(planeLine.begin(), planeLine.end(), 0);
                    PcxSplitPlanes(indices.data(), width, planeLine.data(), p);
                    PcxEncodeLine(planeLine.data(), bpl, &data);
                }
            }
        }
        const std::int32_t size = data.Size();
        if (size > 0 && stream->Write(data.GetBuffer(false), 1, static_cast<std::size_t>(size)) !=
                            static_cast<std::size_t>(size)) {
            SetError("Can't write PCX");
            return false;
        }
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    }
}
