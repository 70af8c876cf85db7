// Targa codec.
//
// Header (18 bytes, little-endian, packed):
//
//   0  1  IDLength          8  2  XOrigin
//   1  1  ColorMapType     10  2  YOrigin
//   2  1  ImageType        12  2  Width
//   3  2  CMapStart        14  2  Height
//   5  2  CMapLength       16  1  PixelDepth (8, 15, 16, 24, 32)
//   7  1  CMapDepth        17  1  ImageDescriptor (bit 4 right-to-left,
//                                                  bit 5 top-to-bottom)
//
// Image types 1 colour-mapped, 2 true colour, 3 grey; 9, 10 and 11 the same
// run-length coded. A packet header with the top bit set repeats the next
// pixel (header & 0x7F) + 1 times; otherwise (header + 1) pixels follow.
// 15- and 16-bit values are 5-5-5 with blue in the low bits; the top bit
// of a 16-bit value is not used.
#include "imaging/vxtga.h"

#include "gdi/dibbitfield.h"
#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t IDLength = 0;
constexpr std::size_t ColorMapType = 1;
constexpr std::size_t ImageType = 2;
constexpr std::size_t CMapStart = 3;
constexpr std::size_t CMapLength = 5;
constexpr std::size_t CMapDepth = 7;
constexpr std::size_t XOrigin = 8;
constexpr std::size_t YOrigin = 10;
constexpr std::size_t Width = 12;
constexpr std::size_t Height = 14;
constexpr std::size_t PixelDepth = 16;
constexpr std::size_t ImageDescriptor = 17;
constexpr std::size_t kHeaderSize = 18;
constexpr std::uint8_t kNoPacket = 255;

// 5-5-5 pixels and colour-map entries, each channel widened to 0..255.
RGBQUAD From555(std::uint16_t v)
{
    static const DibBitfield red(0x7C00), green(0x03E0), blue(0x001F);
    return RGBQUAD{blue(v), green(v), red(v), 0};
}

bool Depth(std::uint8_t d) { return d == 8 || d == 15 || d == 16 || d == 24 || d == 32; }

std::uint32_t FileBytes(std::uint8_t depth) { return (depth + 7u) / 8u; }

}  // namespace

bool VxImageTGA::TgaReadRawLine(std::uint8_t* row, const TgaHeader& header, VxFile* stream, std::int32_t count,
                                std::int32_t fileRow, std::int32_t firstColumn)
{
    if (count <= 0)
        return true;
    const auto n = static_cast<std::size_t>(count);
    switch (header.pixelDepth) {
    case 8:
        return stream->Read(row, 1, n) == n;
    case 24:
        return stream->Read(row, 3, n) == n;
    case 15:
    case 16:
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t b[2];
            if (stream->Read(b, 1, 2) != 2)
                return false;
            const RGBQUAD c = From555(VxGet16(b));
            row[3 * i] = c.rgbBlue;
            row[3 * i + 1] = c.rgbGreen;
            row[3 * i + 2] = c.rgbRed;
        }
        return true;
    case 32:
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t b[4];
            if (stream->Read(b, 1, 4) != 4)
                return false;
            std::memcpy(row + 3 * i, b, 3);
            SetAlphaAt(firstColumn + static_cast<std::int32_t>(i), fileRow, b[3]);
        }
        return true;
    }
    return true;
}

std::uint8_t VxImageTGA::TgaReadRleLine(std::uint8_t* row, const TgaHeader& header, VxFile* stream,
                                        std::int32_t width, std::int32_t fileRow, std::uint8_t carried, bool& whole)
{
    const std::int32_t pixelBytes = header.pixelDepth == 8 ? 1 : 3;
    std::uint8_t next = kNoPacket;
    std::int32_t x = 0;
    while (x < width) {
        int packet;
        if (carried != kNoPacket) {
            packet = carried;
            carried = kNoPacket;
        } else {
            packet = stream->GetC();
            if (packet < 0) {
                whole = false;
                break;
            }
        }
        std::int32_t n = (packet & 0x7F) + 1;
        if (n > width - x) {
            // The packet runs on into the next row; that row starts with
            // what is left of it.
            next = static_cast<std::uint8_t>((packet & 0x80) | (n - (width - x) - 1));
            n = width - x;
        }
        std::uint8_t* dst = row + static_cast<std::size_t>(x) * pixelBytes;
        if (packet & 0x80) {
            const std::int32_t valuePos = stream->Tell();
            std::uint8_t value[4];
            if (stream->Read(value, 1, FileBytes(header.pixelDepth)) != FileBytes(header.pixelDepth)) {
                whole = false;
                break;
            }
            std::uint8_t px[3];
            switch (header.pixelDepth) {
            case 8: px[0] = value[0]; break;
            case 15:
            case 16: {
                const RGBQUAD c = From555(VxGet16(value));
                px[0] = c.rgbBlue;
                px[1] = c.rgbGreen;
                px[2] = c.rgbRed;
                break;
            }
            default: std::memcpy(px, value, 3); break;
            }
            for (std::int32_t i = 0; i < n; ++i) {
                std::memcpy(dst + static_cast<std::size_t>(i) * pixelBytes, px, static_cast<std::size_t>(pixelBytes));
                if (header.pixelDepth == 32)
                    SetAlphaAt(x + i, fileRow, value[3]);
            }
            if (next != kNoPacket)
                stream->Seek(valuePos, 0);
        } else if (!TgaReadRawLine(dst, header, stream, n, fileRow, x)) {
            whole = false;
            break;
        }
        x += n;
    }
    return next;
}

bool VxImageTGA::Decode(VxFile* stream)
{
    if (!stream)
        return false;
    try {
        VxReader in(stream);
        std::uint8_t h[kHeaderSize];
        if (!in.Read(h, sizeof h))
            VxRaise("Not a TGA");
        TgaHeader th{h[IDLength], h[ColorMapType], h[ImageType], VxGet16(h + CMapStart), VxGet16(h + CMapLength),
                     h[CMapDepth], VxGet16(h + XOrigin), VxGet16(h + YOrigin), VxGet16(h + Width),
                     VxGet16(h + Height), h[PixelDepth], h[ImageDescriptor]};
        const bool rle = th.imageType >= 9 && th.imageType <= 11;
        if (!(th.imageType >= 1 && th.imageType <= 3) && !rle)
            VxRaise("Unknown TGA image type");
        if (th.width == 0 || th.height == 0 || th.pixelDepth == 0 || th.colorMapLength > 256 || !Depth(th.pixelDepth))
            VxRaise("bad TGA header");
        // The colour map is read with the entry size the header gives, so
        // that the pixels after it are found where they are.
        const bool hasMap = th.colorMapType == 1 && th.colorMapLength > 0;
        if (hasMap && th.colorMapEntrySize != 15 && th.colorMapEntrySize != 16 && th.colorMapEntrySize != 24 &&
            th.colorMapEntrySize != 32)
            VxRaise("bad TGA header");
        if (!in.Skip(th.idLength))
            VxRaise("corrupted TGA");
        // The colour map and the pixels must be in the file: stored as they
        // are (at least half of them: a file cut short shows what it has),
        // or run-length coded, at best a packet of 128 pixels in one byte
        // and one pixel value.
        const std::uint64_t pixels = static_cast<std::uint64_t>(th.width) * th.height;
        const std::uint64_t pixelBytes = FileBytes(th.pixelDepth);
        const std::uint64_t mapBytes = hasMap ? std::uint64_t{th.colorMapLength} * FileBytes(th.colorMapEntrySize) : 0;
        const std::uint64_t leastData = rle ? (pixels + 127) / 128 * (1 + pixelBytes)
                                            : (pixels * pixelBytes + kVxStoredRowsCutShort - 1) / kVxStoredRowsCutShort;
        if (!VxFileCanHold(in, mapBytes + leastData, 1))
            VxRaiseDataMissing(th.width, th.height);
        if (!Create(th.width, th.height, th.pixelDepth, VXFMT_TGA))
            VxRaise(GetLastError());
        if (th.pixelDepth == 32 && !CreateAlphaPlane())
            VxRaise(GetLastError());
        if (m_info.stopRequest != 0)
            VxRaise("Cancelled");

        if (hasMap) {
            const std::uint32_t entryBytes = FileBytes(th.colorMapEntrySize);
            for (std::uint32_t i = 0; i < th.colorMapLength; ++i) {
                std::uint8_t e[4];
                if (!in.Read(e, entryBytes))
                    VxRaise("corrupted TGA");
                const RGBQUAD c = entryBytes == 2 ? From555(VxGet16(e)) : RGBQUAD{e[0], e[1], e[2], 0};
                if (i < 256)
                    SetPaletteEntry(static_cast<std::uint8_t>(i), c);
            }
        }
        if (th.imageType == 3 || th.imageType == 11)
            SetGreyRampPalette();

        const bool topDown = (th.descriptor & 0x20) != 0;
        const std::int32_t width = th.width, height = th.height;
        std::uint8_t carried = kNoPacket;
        bool whole = true;
        for (std::int32_t y = 0; y < height && whole; ++y) {
            if (m_info.stopRequest != 0)
                VxRaise("Cancelled");
            std::uint8_t* row = GetRowBits(static_cast<std::uint32_t>(topDown ? height - 1 - y : y));
            if (rle)
                carried = TgaReadRleLine(row, th, stream, width, y, carried, whole);
            else
                whole = TgaReadRawLine(row, th, stream, width, y, 0);
        }
        if (!whole)
            MarkDamaged();  // the rows not reached stay black
        if (th.descriptor & 0x10)
            Mirror();
        if (topDown && th.pixelDepth == 32)
            FlipAlphaPlane();
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    }
}

bool VxImageTGA::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    if (GetBpp() < 8) {
        SetError("Bit depth must be 8 or 24");
        return false;
    }
    const std::uint32_t width = GetWidth(), height = GetHeight();
    if (width > 0xFFFF || height > 0xFFFF) {
        SetError("Can't write TGA");
        return false;
    }
    const bool eight = GetBpp() == 8;
    const bool alpha = HasAlpha() && !eight;
    std::uint8_t h[kHeaderSize] = {};
    h[ColorMapType] = IsIndexed() ? 1 : 0;
    h[ImageType] = eight ? 1 : 2;
    if (eight) {
        VxPut16(h + CMapLength, 256);
        h[CMapDepth] = 24;
    }
    VxPut16(h + Width, width);
    VxPut16(h + Height, height);
    h[PixelDepth] = static_cast<std::uint8_t>(alpha ? 32 : GetBpp());
    bool ok = stream->Write(h, 1, sizeof h) == sizeof h;
    if (ok && eight) {
        std::uint8_t map[256 * 3];
        for (std::uint32_t i = 0; i < 256; ++i) {
            const RGBQUAD c = GetPaletteColor(static_cast<std::uint8_t>(i));
            map[3 * i] = c.rgbBlue;
            map[3 * i + 1] = c.rgbGreen;
            map[3 * i + 2] = c.rgbRed;
        }
        ok = stream->Write(map, 1, sizeof map) == sizeof map;
    }
    std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 4);
    for (std::uint32_t y = 0; ok && y < height; ++y) {
        if (alpha) {
            for (std::uint32_t x = 0; x < width; ++x) {
                const RGBQUAD c = GetPixelColor(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), true);
                line[4 * x] = c.rgbBlue;
                line[4 * x + 1] = c.rgbGreen;
                line[4 * x + 2] = c.rgbRed;
                line[4 * x + 3] = static_cast<std::uint8_t>(c.rgbReserved * GetAlphaMax() / 255);
            }
            ok = stream->Write(line.data(), 1, static_cast<std::size_t>(width) * 4) == static_cast<std::size_t>(width) * 4;
        } else {
            const std::size_t n = static_cast<std::size_t>(width) * (GetBpp() / 8);
            ok = stream->Write(GetRowBits(y), 1, n) == n;
        }
    }
    if (!ok)
        SetError("Can't write TGA");
    return ok;
}
