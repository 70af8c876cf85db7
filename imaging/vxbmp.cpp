// BMP codec.
//
// File header (14 bytes, little-endian):
//
//   0  2  bfType       "BM"
//   2  4  bfSize       file size
//   6  2  bfReserved1  0
//   8  2  bfReserved2  0
//  10  4  bfOffBits    offset of the pixel data from the file header
//
// Info header (40 bytes): biSize, biWidth, biHeight (negative: top row
// first), biPlanes, biBitCount, biCompression (0 none, 1 RLE8, 2 RLE4,
// 3 bit fields), biSizeImage, biXPelsPerMeter, biYPelsPerMeter, biClrUsed,
// biClrImportant. With bit fields the red, green and blue masks follow it.
// The Windows headers of 52, 56, 108 and 124 bytes keep those masks, and an
// alpha mask, inside the header at 40 to 55. The OS/2 2.x header has 64
// bytes. The older 12-byte core header holds biSize and 16-bit width,
// height, planes and bit count, and 3-byte palette entries.
#include "imaging/vxbmp.h"

#include "gdi/dibbitfield.h"
#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include "gdi/dibrle.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t bfType = 0;
constexpr std::size_t bfSize = 2;
constexpr std::size_t bfOffBits = 10;
constexpr std::uint16_t kSignature = 0x4D42;

// Bytes of a padded row; the operands are a 16-bit count and a width below
// 2^31, so the product fits.
std::uint64_t DibStride(std::uint64_t bits, std::uint64_t width) { return (bits * width + 31) / 32 * 4; }

// Info header fields, at their offsets from the start of the header.
constexpr std::size_t BIH_biSize = 0;
constexpr std::size_t BIH_biWidth = 4;
constexpr std::size_t BIH_biHeight = 8;
constexpr std::size_t BIH_biPlanes = 12;
constexpr std::size_t BIH_biBitCount = 14;
constexpr std::size_t BIH_biCompression = 16;
constexpr std::size_t BIH_biSizeImage = 20;
constexpr std::size_t BIH_biXPelsPerMeter = 24;
constexpr std::size_t BIH_biYPelsPerMeter = 28;
constexpr std::size_t BIH_biClrUsed = 32;
constexpr std::size_t BIH_biClrImportant = 36;
// The Windows headers after the 40-byte one (52, 56, 108 and 124 bytes)
// add the bit-field masks; the colour-space fields after them are not used.
constexpr std::size_t BIH_bV4RedMask = 40;
constexpr std::size_t BIH_bV4AlphaMask = 52;

constexpr std::uint32_t kCoreHeaderSize = 12;   // OS/2 1.x
constexpr std::uint32_t kInfoHeaderSize = 40;   // Windows 3
constexpr std::uint32_t kOs2HeaderSize = 64;    // OS/2 2.x: its extra fields are skipped
constexpr std::uint32_t kRgbMasksEnd = 52;      // headers this long carry red, green and blue masks
constexpr std::uint32_t kAlphaMaskEnd = 56;     // and this long the alpha mask
constexpr std::uint32_t kLongestHeaderRead = 124;

// An info header as read, with the bit-field masks (red, green, blue,
// alpha) when the header itself holds them.
struct BmpInfo {
    BITMAPINFOHEADER header{};
    std::uint32_t masks[4] = {0, 0, 0, 0};
    bool headerMasks = false;
};

bool KnownBitCount(std::uint16_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Reads and checks the info header; the whole header must be in the stream,
// which is left right after it.
bool ReadInfo(VxReader& in, BmpInfo& info)
{
    std::uint8_t b[kLongestHeaderRead] = {};
    // The size comes first and says how much follows, so that a small file
    // with a 12-byte core header is not refused for being under 40 bytes.
    if (!in.Read(b, 4))
        return false;
    const std::uint32_t size = VxGet32(b + BIH_biSize);
    BITMAPINFOHEADER& h = info.header;
    h = BITMAPINFOHEADER{};
    h.biSize = size;
    if (size == kCoreHeaderSize) {
        if (!in.Read(b + 4, 8))
            return false;
        h.biWidth = VxGet16(b + 4);
        h.biHeight = VxGet16(b + 6);
        h.biPlanes = VxGet16(b + 8);
        h.biBitCount = VxGet16(b + 10);
    } else if (size >= kInfoHeaderSize) {
        const std::uint32_t kept = std::min(size, kLongestHeaderRead);
        if (!in.Read(b + 4, kept - 4) || !in.Skip(size - kept))
            return false;
        h.biWidth = static_cast<LONG>(VxGet32(b + BIH_biWidth));
        h.biHeight = static_cast<LONG>(VxGet32(b + BIH_biHeight));
        h.biPlanes = VxGet16(b + BIH_biPlanes);
        h.biBitCount = VxGet16(b + BIH_biBitCount);
        h.biCompression = VxGet32(b + BIH_biCompression);
        h.biSizeImage = VxGet32(b + BIH_biSizeImage);
        h.biXPelsPerMeter = static_cast<LONG>(VxGet32(b + BIH_biXPelsPerMeter));
        h.biYPelsPerMeter = static_cast<LONG>(VxGet32(b + BIH_biYPelsPerMeter));
        h.biClrUsed = VxGet32(b + BIH_biClrUsed);
        h.biClrImportant = VxGet32(b + BIH_biClrImportant);
        if (size != kOs2HeaderSize && size >= kRgbMasksEnd) {
            info.headerMasks = true;
            for (std::size_t i = 0; i < 3; ++i)
                info.masks[i] = VxGet32(b + BIH_bV4RedMask + 4 * i);
            if (size >= kAlphaMaskEnd)
                info.masks[3] = VxGet32(b + BIH_bV4AlphaMask);
        }
    } else {
        return false;
    }
    // A bit count the format does not have would decode as nothing at all.
    if (!KnownBitCount(h.biBitCount))
        return false;
    if (h.biSizeImage == 0 && h.biWidth > 0) {
        // Kept to 32 bits like the field; the decoder sizes its reads from
        // the image it creates, never from this value.
        const std::uint64_t height = static_cast<std::uint64_t>(h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight)
                                                                                 : h.biHeight);
        h.biSizeImage = static_cast<DWORD>(VxMulSat(DibStride(h.biBitCount, static_cast<std::uint64_t>(h.biWidth)), height));
    }
    if (h.biClrUsed == 0 && h.biBitCount <= 8)
        h.biClrUsed = 1u << h.biBitCount;
    return true;
}

// 16- and 32-bit rows through their bit-field masks, into the 24-bit image
// and, when the alpha mask is set, its alpha channel. A short file leaves
// the rows it does not reach black, and the answer is false.
bool ReadBitfieldRows(VxReader& in, VxImage& image, unsigned bits, const std::uint32_t masks[4], bool topDown)
{
    const DibBitfield red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    const std::uint32_t width = image.GetWidth(), height = image.GetHeight();
    const unsigned bytes = bits / 8;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(DibStride(bits, width)));
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::size_t got = in.ReadSome(line.data(), line.size());
        const std::uint32_t row = topDown ? height - 1 - y : y;
        std::uint8_t* dst = image.GetRowBits(row);
        std::uint8_t* a = image.GetAlphaPointer(0, static_cast<std::int32_t>(row));
        const std::uint32_t whole = static_cast<std::uint32_t>(std::min<std::size_t>(got / bytes, width));
        for (std::uint32_t x = 0; x < whole; ++x) {
            const std::uint8_t* p = line.data() + static_cast<std::size_t>(x) * bytes;
            const std::uint32_t word = bytes == 2 ? VxGet16(p) : VxGet32(p);
            dst[3 * x] = blue(word);
            dst[3 * x + 1] = green(word);
            dst[3 * x + 2] = red(word);
            if (a)
                a[x] = alpha(word);
        }
        if (got < line.size())
            return false;
    }
    return true;
}

// Uncompressed rows laid out as the image keeps them (1, 4, 8 and 24 bits);
// false when the data ended first.
bool ReadPlainRows(VxReader& in, VxImage& image, bool topDown)
{
    const std::uint32_t height = image.GetHeight(), stride = image.GetRowStride();
    for (std::uint32_t y = 0; y < height; ++y)
        if (in.ReadSome(image.GetRowBits(topDown ? height - 1 - y : y), stride) < stride)
            return false;
    return true;
}

}  // namespace

bool VxImageBMP::ReadInfoHeader(VxFile* stream, BITMAPINFOHEADER* header)
{
    if (!stream || !header)
        return false;
    VxReader in(stream);
    BmpInfo info;
    if (!ReadInfo(in, info))
        return false;
    *header = info.header;
    return true;
}

bool VxImageBMP::Decode(VxFile* stream)
{
    if (!stream)
        return false;
    try {
        VxReader in(stream);
        const std::int32_t start = stream->Tell();
        std::uint8_t fh[kFileHeaderSize];
        if (!in.Read(fh, sizeof fh))
            VxRaise("Not a BMP");
        std::uint32_t offset = VxGet32(fh + bfOffBits);
        if (VxGet16(fh + bfType) != kSignature) {
            offset = 0;
            stream->Seek(start, 0);
        }
        BmpInfo info;
        if (!ReadInfo(in, info) || info.header.biHeight == std::numeric_limits<LONG>::min())
            VxRaise("Error reading BMP info");
        BITMAPINFOHEADER& bih = info.header;
        // Pixel data that would start past the end of the file is a damaged
        // file header, not a picture.
        if (offset != 0) {
            const std::int32_t size = stream->Size();
            if (size >= 0 && static_cast<std::int64_t>(start) + offset > size)
                VxRaise("Error reading BMP info");
        }
        const bool highColour = bih.biBitCount == 16 || bih.biBitCount == 32;
        std::uint32_t* masks = info.masks;
        if (highColour && bih.biCompression == BI_BITFIELDS) {
            // The 40-byte header keeps its masks right after it.
            if (!info.headerMasks && (!in.U32(masks[0]) || !in.U32(masks[1]) || !in.U32(masks[2])))
                VxRaise("Error reading BMP info");
        } else if (bih.biBitCount == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
            masks[3] = 0;
        } else if (bih.biBitCount == 32) {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
            masks[3] = 0;
        }
        if (bih.biBitCount == 16)
            for (int i = 0; i < 4; ++i)
                masks[i] &= 0xFFFF;
        const bool oldStyle = bih.biSize == kCoreHeaderSize;
        const bool topDown = bih.biHeight < 0;
        if (topDown)
            bih.biHeight = -bih.biHeight;

        if (m_info.stopRequest == -1) {
            m_header.biWidth = bih.biWidth;
            m_header.biHeight = bih.biHeight;
            VxRaise("output dimensions returned");
        }
        // A header may claim any size: the file must hold the rows it
        // claims, stored as they are (at least half of them: a file cut
        // short shows what it has), or run-length coded at best 128 pixels
        // to a byte, before anything is allocated.
        const bool rle = bih.biBitCount <= 8 && (bih.biCompression == BI_RLE8 || bih.biCompression == BI_RLE4);
        const std::uint64_t width = static_cast<std::uint64_t>(std::max<LONG>(bih.biWidth, 0));
        const std::uint64_t height = static_cast<std::uint64_t>(bih.biHeight);
        const std::uint64_t pixelBytes = VxMulSat(DibStride(bih.biBitCount, width), height);
        std::uint64_t dataLeft = static_cast<std::uint64_t>(std::max<std::int64_t>(in.Remaining(), 0));
        if (offset != 0 && in.Remaining() >= 0) {
            const std::int64_t dataStart = static_cast<std::int64_t>(start) + offset;
            dataLeft = static_cast<std::uint64_t>(std::max<std::int64_t>(stream->Size() - dataStart, 0));
        } else if (in.Remaining() >= 0) {
            // Without a pixel offset the colour table comes first.
            const std::uint64_t table = static_cast<std::uint64_t>(bih.biClrUsed) * (bih.biSize == kCoreHeaderSize ? 3 : 4);
            dataLeft = dataLeft > table ? dataLeft - table : 0;
        }
        if (in.Remaining() >= 0 && (rle ? (pixelBytes + 127) / 128
                                         : (pixelBytes + kVxStoredRowsCutShort - 1) / kVxStoredRowsCutShort) > dataLeft)
            VxRaiseDataMissing(width, height);
        if (!Create(static_cast<std::uint32_t>(bih.biWidth), static_cast<std::uint32_t>(bih.biHeight),
                    bih.biBitCount, VXFMT_BMP))
            VxRaise(GetLastError());
        if (highColour && masks[3] != 0 && !CreateAlphaPlane())
            VxRaise(GetLastError());

        m_header.biXPelsPerMeter = bih.biXPelsPerMeter;
        m_header.biYPelsPerMeter = bih.biYPelsPerMeter;
        m_info.xDpi = static_cast<std::int32_t>(std::floor(bih.biXPelsPerMeter * 254.0 / 10000.0 + 0.5));
        m_info.yDpi = static_cast<std::int32_t>(std::floor(bih.biYPelsPerMeter * 254.0 / 10000.0 + 0.5));
        if (m_info.stopRequest != 0)
            VxRaise("Cancelled");

        // The colour table: entries beyond the image's palette (and the
        // optional table of a 16- to 32-bit file) are skipped, never stored.
        const std::uint32_t entrySize = oldStyle ? 3 : 4;
        std::uint32_t stored = 0;
        if (RGBQUAD* pal = GetPalette()) {
            stored = std::min(bih.biClrUsed, GetNumColors());
            for (std::uint32_t i = 0; i < stored; ++i) {
                std::uint8_t e[4] = {0, 0, 0, 0};
                if (!in.Read(e, entrySize))
                    break;
                pal[i] = RGBQUAD{e[0], e[1], e[2], 0};
            }
        }
        if (bih.biClrUsed > stored)
            in.Skip(static_cast<std::uint64_t>(bih.biClrUsed - stored) * entrySize);
        if (m_info.stopRequest != 0)
            VxRaise("Cancelled");

        if (offset != 0)
            stream->Seek(static_cast<std::int32_t>(static_cast<std::int64_t>(start) + offset), 0);
        const std::uint32_t rows = GetHeight();
        bool whole = true;
        switch (bih.biBitCount) {
        case 32:
        case 16:
            if (bih.biCompression != BI_RGB && bih.biCompression != BI_BITFIELDS)
                VxRaise("unknown compression");
            whole = ReadBitfieldRows(in, *this, bih.biBitCount, masks, topDown);
            break;
        case 24:
            if (bih.biCompression != BI_RGB)
                VxRaise("unknown compression");
            whole = ReadPlainRows(in, *this, topDown);
            break;
        default:
            if (bih.biCompression == BI_RGB) {
                whole = ReadPlainRows(in, *this, topDown);
                break;
            }
            if (bih.biCompression == BI_RLE8) {
                DibRle8Rows target{GetRowBits(0), GetRowStride(), rows};
                VxByteSource source(stream);
                whole = DecodeDibRle(source, target);
            } else if (bih.biCompression == BI_RLE4) {
                DibRle4Rows target{GetRowBits(0), GetRowStride(), rows};
                VxByteSource source(stream);
                whole = DecodeDibRle(source, target);
            } else {
                VxRaise("compression type not supported");
            }
            // Run-length data is stored bottom row first; a top-down header
            // on it is turned the way it claims.
            if (topDown)
                Flip();
            break;
        }
        if (!whole)
            MarkDamaged();
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return m_info.stopRequest == -1;
    }
}

bool VxImageBMP::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    // The file is written from the image's header, palette and rows; the
    // pixel block, which may belong to another image, is not touched.
    std::uint8_t fh[kFileHeaderSize] = {};
    VxPut16(fh + bfType, kSignature);
    VxPut32(fh + bfSize, static_cast<std::uint32_t>(kFileHeaderSize + GetDibSize()));
    VxPut32(fh + bfOffBits, static_cast<std::uint32_t>(kFileHeaderSize + 40 + GetPaletteSize()));
    BITMAPINFOHEADER h = m_header;
    h.biSize = 40;
    bool ok = stream->Write(fh, 1, sizeof fh) == sizeof fh && stream->Write(&h, 1, 40) == 40;
    if (ok && GetPaletteSize())
        ok = stream->Write(GetPalette(), 1, GetPaletteSize()) == GetPaletteSize();
    if (ok)
        ok = stream->Write(GetRowBits(0), 1, m_header.biSizeImage) == m_header.biSizeImage;
    if (!ok)
        SetError("Can't write BMP");
    return ok;
}
