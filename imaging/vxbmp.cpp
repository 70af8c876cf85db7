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
// biClrImportant. The older 12-byte core header holds biSize and 16-bit
// width, height, planes and bit count, and 3-byte palette entries.
#include "imaging/vxbmp.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

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

// RLE8: counts and codes are bytes; x counts bytes of the current row.
// Every store is checked against the row and the image: end-of-line and
// delta codes may point anywhere, and what falls outside is dropped.
void DecodeRle8(VxFile* f, std::uint8_t* first, std::uint32_t stride, std::uint32_t height)
{
    VxByteSource in(f);
    std::uint64_t x = 0, row = 0;
    auto store = [&](int value) {
        if (row < height && x < stride)
            first[row * stride + x] = static_cast<std::uint8_t>(value);
    };
    for (;;) {
        const int count = in.Get();
        if (count < 0)
            return;
        if (count > 0) {
            const int value = in.Get();
            if (value < 0)
                return;
            for (int i = 0; i < count; ++i) {
                if (x >= stride)
                    return;  // a run past the row end ends the bitmap
                store(value);
                ++x;
            }
            continue;
        }
        const int code = in.Get();
        if (code < 0 || code == 1)
            return;
        if (code == 0) {
            x = 0;
            ++row;
        } else if (code == 2) {
            const int dx = in.Get(), dy = in.Get();
            if (dx < 0 || dy < 0)
                return;
            x += static_cast<std::uint64_t>(dx);
            row += static_cast<std::uint64_t>(dy);
        } else {
            for (int i = 0; i < code; ++i) {
                const int value = in.Get();
                if (value < 0)
                    return;
                store(value);
                ++x;
            }
            if (code & 1)
                in.Get();
        }
    }
}

// RLE4: positions count pixels (nibbles, the high one first in a byte).
void DecodeRle4(VxFile* f, std::uint8_t* first, std::uint32_t stride, std::uint32_t height)
{
    VxByteSource in(f);
    const std::uint64_t rowPixels = static_cast<std::uint64_t>(stride) * 2;
    std::uint64_t x = 0, row = 0;
    auto store = [&](int nibble) {
        if (row >= height || x >= rowPixels)
            return;
        std::uint8_t& b = first[row * stride + x / 2];
        if (x % 2 == 0)
            b = static_cast<std::uint8_t>((b & 0x0F) | (nibble << 4));
        else
            b = static_cast<std::uint8_t>((b & 0xF0) | nibble);
    };
    for (;;) {
        const int count = in.Get();
        if (count < 0)
            return;
        if (count > 0) {
            const int value = in.Get();
            if (value < 0)
                return;
            for (int i = 0; i < count; ++i, ++x)
                store(i % 2 == 0 ? value >> 4 : value & 0x0F);
            continue;
        }
        const int code = in.Get();
        if (code < 0 || code == 1)
            return;
        if (code == 0) {
            x = 0;
            ++row;
        } else if (code == 2) {
            const int dx = in.Get(), dy = in.Get();
            if (dx < 0 || dy < 0)
                return;
            x += static_cast<std::uint64_t>(dx);
            row += static_cast<std::uint64_t>(dy);
        } else {
            const int bytes = (code + 1) / 2;
            for (int i = 0; i < bytes; ++i) {
                const int value = in.Get();
                if (value < 0)
                    return;
                store(value >> 4);
                ++x;
                if (2 * i + 1 < code) {
                    store(value & 0x0F);
                    ++x;
                }
            }
            if (bytes & 1)
                in.Get();
        }
    }
}

// Bytes of a padded row; the operands are a 16-bit count and a width below
// 2^31, so the product fits.
std::uint64_t DibStride(std::uint64_t bits, std::uint64_t width) { return (bits * width + 31) / 32 * 4; }

}  // namespace

bool VxImageBMP::ReadInfoHeader(VxFile* stream, BITMAPINFOHEADER* header)
{
    if (!stream || !header)
        return false;
    VxReader in(stream);
    std::uint8_t b[40];
    // The size comes first and says how much follows, so that a small file
    // with a 12-byte core header is not refused for being under 40 bytes.
    if (!in.Read(b, 4))
        return false;
    const std::uint32_t size = VxGet32(b);
    BITMAPINFOHEADER h{};
    h.biSize = size;
    if (size == 12) {
        if (!in.Read(b + 4, 8))
            return false;
        h.biWidth = VxGet16(b + 4);
        h.biHeight = VxGet16(b + 6);
        h.biPlanes = VxGet16(b + 8);
        h.biBitCount = VxGet16(b + 10);
    } else {
        if (!in.Read(b + 4, 36))
            return false;
        h.biWidth = static_cast<LONG>(VxGet32(b + 4));
        h.biHeight = static_cast<LONG>(VxGet32(b + 8));
        h.biPlanes = VxGet16(b + 12);
        h.biBitCount = VxGet16(b + 14);
        h.biCompression = VxGet32(b + 16);
        h.biSizeImage = VxGet32(b + 20);
        h.biXPelsPerMeter = static_cast<LONG>(VxGet32(b + 24));
        h.biYPelsPerMeter = static_cast<LONG>(VxGet32(b + 28));
        h.biClrUsed = VxGet32(b + 32);
        h.biClrImportant = VxGet32(b + 36);
        if (size == 64) {
            if (!in.Skip(24))
                return false;
        } else if (size > 40) {
            // Only a plain bottom-up header whose image size agrees with its
            // dimensions is taken.
            if (h.biWidth <= 0 || h.biHeight <= 0 ||
                VxMulSat(static_cast<std::uint64_t>(h.biHeight), DibStride(h.biBitCount, static_cast<std::uint64_t>(h.biWidth))) !=
                    h.biSizeImage ||
                h.biPlanes != 1 || h.biCompression != 0 || h.biClrUsed != 0 || !in.Skip(size - 40))
                return false;
        } else if (size != 40) {
            return false;
        }
    }
    if (h.biSizeImage == 0 && h.biWidth > 0) {
        // Kept to 32 bits like the field; the decoder sizes its reads from
        // the image it creates, never from this value.
        const std::uint64_t height = static_cast<std::uint64_t>(h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight)
                                                                                 : h.biHeight);
        h.biSizeImage = static_cast<DWORD>(VxMulSat(DibStride(h.biBitCount, static_cast<std::uint64_t>(h.biWidth)), height));
    }
    if (h.biClrUsed == 0 && h.biBitCount <= 8)
        h.biClrUsed = 1u << h.biBitCount;
    *header = h;
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
        BITMAPINFOHEADER bih;
        if (!ReadInfoHeader(stream, &bih) || bih.biHeight == std::numeric_limits<LONG>::min())
            VxRaise("Error reading BMP info");
        const bool oldStyle = bih.biSize == 12;
        const bool topDown = bih.biHeight < 0;
        if (topDown)
            bih.biHeight = -bih.biHeight;

        if (m_info.stopRequest == -1) {
            m_header.biWidth = bih.biWidth;
            m_header.biHeight = bih.biHeight;
            VxRaise("output dimensions returned");
        }
        // A header may claim any size; a large image must be backed by data.
        const bool rle = bih.biBitCount <= 8 && (bih.biCompression == BI_RLE8 || bih.biCompression == BI_RLE4);
        const std::uint64_t pixelBytes =
            VxMulSat(DibStride(std::max<std::uint64_t>(bih.biBitCount, 1),
                               static_cast<std::uint64_t>(std::max<LONG>(bih.biWidth, 0))),
                     static_cast<std::uint64_t>(bih.biHeight));
        if (!VxFileCanHold(in, pixelBytes, rle ? 128 : 2))
            VxRaise("BMP data shorter than its header claims");
        if (!Create(static_cast<std::uint32_t>(bih.biWidth), static_cast<std::uint32_t>(bih.biHeight),
                    bih.biBitCount, VXFMT_BMP))
            VxRaise("Can't allocate memory");

        m_header.biXPelsPerMeter = bih.biXPelsPerMeter;
        m_header.biYPelsPerMeter = bih.biYPelsPerMeter;
        m_info.xDpi = static_cast<std::int32_t>(std::floor(bih.biXPelsPerMeter * 254.0 / 10000.0 + 0.5));
        m_info.yDpi = static_cast<std::int32_t>(std::floor(bih.biYPelsPerMeter * 254.0 / 10000.0 + 0.5));
        if (m_info.stopRequest != 0)
            VxRaise("Cancelled");

        if (RGBQUAD* pal = GetPalette()) {
            // Entries beyond the image's palette are skipped, never stored.
            const std::uint32_t entrySize = oldStyle ? 3 : 4;
            const std::uint32_t stored = std::min(bih.biClrUsed, GetNumColors());
            for (std::uint32_t i = 0; i < stored; ++i) {
                std::uint8_t e[4] = {0, 0, 0, 0};
                if (!in.Read(e, entrySize))
                    break;
                pal[i] = RGBQUAD{e[0], e[1], e[2], 0};
            }
            if (bih.biClrUsed > stored)
                in.Skip(static_cast<std::uint64_t>(bih.biClrUsed - stored) * entrySize);
        }
        if (m_info.stopRequest != 0)
            VxRaise("Cancelled");

        auto seekPixels = [&] {
            if (offset != 0) {
                const std::int64_t target = static_cast<std::int64_t>(start) + offset;
                if (target <= std::numeric_limits<std::int32_t>::max())
                    stream->Seek(static_cast<std::int32_t>(target), 0);
            }
        };
        const std::uint32_t width = GetWidth(), height = GetHeight();
        switch (bih.biBitCount) {
        case 32: {
            if (bih.biCompression != BI_RGB && bih.biCompression != BI_BITFIELDS)
                VxRaise("unknown compression");
            seekPixels();
            // Row by row: no buffer of the whole image, and a short file
            // leaves the missing rows black.
            std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 4);
            for (std::uint32_t y = 0; y < height; ++y) {
                if (!in.Read(line.data(), line.size()))
                    break;
                std::uint8_t* dst = GetRowBits(y);
                for (std::uint32_t x = 0; x < width; ++x)
                    std::memcpy(dst + 3 * x, line.data() + 4 * x, 3);
            }
            break;
        }
        case 24:
            if (bih.biCompression != BI_RGB)
                VxRaise("unknown compression");
            seekPixels();
            in.ReadSome(GetRowBits(0), m_header.biSizeImage);
            break;
        case 16: {
            std::uint32_t red = 0x7C00, green = 0x03E0, blue = 0x001F;
            if (bih.biCompression == BI_BITFIELDS) {
                if (!in.U32(red) || !in.U32(green) || !in.U32(blue))
                    VxRaise("Error reading BMP info");
            }
            seekPixels();
            // The 16-bit rows fit in the 24-bit pixel block and are widened in place.
            const std::size_t bytes = static_cast<std::size_t>(height) * ((width + 1) / 2) * 4;
            in.ReadSome(GetRowBits(0), bytes);
            ExpandBitfields(GetRowBits(0), red, green, blue, 16);
            break;
        }
        case 1:
        case 4:
        case 8:
            seekPixels();
            if (bih.biCompression == BI_RGB)
                in.ReadSome(GetRowBits(0), m_header.biSizeImage);
            else if (bih.biCompression == BI_RLE8)
                DecodeRle8(stream, GetRowBits(0), GetRowStride(), height);
            else if (bih.biCompression == BI_RLE4)
                DecodeRle4(stream, GetRowBits(0), GetRowStride(), height);
            else
                VxRaise("compression type not supported");
            break;
        default:
            break;
        }
        if (topDown)
            Flip();
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
