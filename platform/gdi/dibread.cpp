// Packed DIB reader.
//
// Info header (40 bytes, little-endian):
//
//    0  4  biSize         40; 12 for the core header; 52, 56, 64, 108, 124
//    4  4  biWidth
//    8  4  biHeight       negative: top row first
//   12  2  biPlanes
//   14  2  biBitCount     1, 4, 8, 16, 24, 32
//   16  4  biCompression  0 none, 1 RLE8, 2 RLE4, 3 bit fields
//   20  4  biSizeImage
//   24  8  biXPelsPerMeter, biYPelsPerMeter
//   32  4  biClrUsed
//   36  4  biClrImportant
//
// The core header (12 bytes) holds biSize and 16-bit width, height, planes
// and bit count, and its colour table has 3-byte entries. Bit-field masks
// follow a 40-byte header, or sit inside the longer Windows headers at 40.
#include "gdi/dibread.h"

#include "gdi/dibbitfield.h"
#include "gdi/dibrle.h"
#include "gdi/gdi_p.h"
#include "win/memlimit.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t BIH_biWidth = 4;
constexpr std::size_t BIH_biHeight = 8;
constexpr std::size_t BIH_biBitCount = 14;
constexpr std::size_t BIH_biCompression = 16;
constexpr std::size_t BIH_biClrUsed = 32;
constexpr std::size_t BIH_bV4RedMask = 40;
constexpr std::size_t BIH_bV4AlphaMask = 52;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kOs2HeaderSize = 64;
constexpr std::uint32_t kLongestHeader = 124;
constexpr int kMaxSide = 65535;

// Bounded little-endian reads over the DIB's bytes.
class DibBytes {
public:
    DibBytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Has(std::size_t at, std::size_t n) const { return at <= m_size && n <= m_size - at; }
    std::uint16_t U16(std::size_t at) const
    {
        return static_cast<std::uint16_t>(m_data[at] | (m_data[at + 1] << 8));
    }
    std::uint32_t U32(std::size_t at) const
    {
        return static_cast<std::uint32_t>(m_data[at]) | (static_cast<std::uint32_t>(m_data[at + 1]) << 8)
            | (static_cast<std::uint32_t>(m_data[at + 2]) << 16) | (static_cast<std::uint32_t>(m_data[at + 3]) << 24);
    }
    const std::uint8_t* At(std::size_t at) const { return m_data + at; }
    std::size_t Size() const { return m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

struct Header {
    std::uint32_t size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    int bits = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t colors = 0;       // entries stored in the table
    std::uint32_t masks[4] = {0, 0, 0, 0};
    std::size_t pixelOffset = 0;
};

bool ReadHeader(const DibBytes& in, Header& h, const char*& error)
{
    error = "Invalid bitmap header";
    if (!in.Has(0, 4))
        return false;
    h.size = in.U32(0);
    if (h.size == kCoreHeaderSize) {
        if (!in.Has(0, kCoreHeaderSize))
            return false;
        h.width = in.U16(4);
        h.height = in.U16(6);
        h.bits = in.U16(10);
    } else if (h.size >= kInfoHeaderSize && h.size <= 4096 && in.Has(0, h.size)) {
        h.width = static_cast<std::int32_t>(in.U32(BIH_biWidth));
        h.height = static_cast<std::int32_t>(in.U32(BIH_biHeight));
        h.bits = in.U16(BIH_biBitCount);
        h.compression = in.U32(BIH_biCompression);
        h.colors = in.U32(BIH_biClrUsed);
        if (h.size != kOs2HeaderSize && h.size >= BIH_bV4AlphaMask) {
            for (std::size_t i = 0; i < 3; ++i)
                h.masks[i] = in.U32(BIH_bV4RedMask + 4 * i);
            if (h.size >= BIH_bV4AlphaMask + 4 && h.size <= kLongestHeader)
                h.masks[3] = in.U32(BIH_bV4AlphaMask);
        }
    } else {
        return false;
    }
    if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32)
        return false;
    const std::size_t entry = h.size == kCoreHeaderSize ? 3 : 4;
    if (h.bits <= 8) {
        const std::uint32_t max = 1u << h.bits;
        if (h.colors == 0 || h.colors > max)
            h.colors = h.colors == 0 ? max : std::min<std::uint32_t>(h.colors, 256);
    } else {
        h.colors = std::min<std::uint32_t>(h.colors, 256);  // an optional table, skipped
    }
    std::size_t offset = h.size;
    if ((h.bits == 16 || h.bits == 32) && h.compression == BI_BITFIELDS && h.size == kInfoHeaderSize) {
        if (!in.Has(offset, 12))
            return false;
        for (std::size_t i = 0; i < 3; ++i)
            h.masks[i] = in.U32(offset + 4 * i);
        offset += 12;
    }
    h.pixelOffset = offset + static_cast<std::size_t>(h.colors) * entry;
    error = nullptr;
    return true;
}

// The source of the run-length walk: the DIB's bytes from an offset.
struct ByteSource {
    const DibBytes& in;
    std::size_t pos;
    int Get() { return pos < in.Size() ? *in.At(pos++) : -1; }
};

}  // namespace

std::size_t PackedDibPixelOffset(const std::uint8_t* data, std::size_t size)
{
    Header h;
    const char* error = nullptr;
    return data && ReadHeader(DibBytes(data, size), h, error) ? h.pixelOffset : 0;
}

HBITMAP ReadPackedDib(const std::uint8_t* data, std::size_t size, std::uint64_t maxBytes, PackedDibInfo& info,
    int heightOverride)
{
    info = PackedDibInfo {};
    const DibBytes in(data, data ? size : 0);
    Header h;
    const char* headerError = nullptr;
    if (!ReadHeader(in, h, headerError)) {
        info.error = headerError;
        return nullptr;
    }
    const bool topDown = h.height < 0;
    std::int64_t height = topDown ? -h.height : h.height;
    if (heightOverride > 0 && heightOverride <= height)
        height = heightOverride;
    if (h.width <= 0 || height <= 0 || h.width > kMaxSide || height > kMaxSide) {
        info.error = "Invalid bitmap size";
        return nullptr;
    }
    const bool rle = (h.compression == BI_RLE8 && h.bits == 8) || (h.compression == BI_RLE4 && h.bits == 4);
    const bool fields = h.bits == 16 || h.bits == 32;
    if (h.compression != BI_RGB && !rle && !(fields && h.compression == BI_BITFIELDS)) {
        info.error = "Unsupported bitmap compression";
        return nullptr;
    }
    if (rle && topDown) {
        info.error = "Invalid bitmap header";
        return nullptr;
    }
    const int depth = fields ? 32 : h.bits;
    const std::uint64_t stride = (static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(depth) + 31) / 32 * 4;
    // A few header bytes may claim gigabytes: the data must be able to fill
    // what the header claims before anything is allocated. Rows stored as
    // they are take their bytes one for one, yet data cut short (a download
    // that stopped) still shows while it holds half of them; run-length
    // codes give at most 128 pixels a byte.
    const std::uint64_t fileBytes = (static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.bits) + 31) / 32
        * 4 * static_cast<std::uint64_t>(height);
    const std::uint64_t present = in.Size() > h.pixelOffset ? in.Size() - h.pixelOffset : 0;
    if ((rle ? fileBytes / 128 : (fileBytes + 1) / 2) > present) {
        info.error = PictureDataMissingMessage(static_cast<std::uint64_t>(h.width), static_cast<std::uint64_t>(height));
        return nullptr;
    }
    if (stride * static_cast<std::uint64_t>(height) > maxBytes) {
        info.error = PictureTooBigMessage(static_cast<std::uint64_t>(h.width), static_cast<std::uint64_t>(height));
        return nullptr;
    }
    info.fileBitCount = h.bits;
    info.compression = h.compression;
    info.width = static_cast<int>(h.width);
    info.height = static_cast<int>(height);
    if (fields && h.compression != BI_BITFIELDS) {
        const std::uint32_t defaults16[4] = {0x7C00, 0x03E0, 0x001F, 0};
        const std::uint32_t defaults32[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
        std::memcpy(h.masks, h.bits == 16 ? defaults16 : defaults32, sizeof h.masks);
    }
    std::memcpy(info.masks, h.masks, sizeof info.masks);

    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } bmi {};
    bmi.header.biSize = sizeof(BITMAPINFOHEADER);
    bmi.header.biWidth = static_cast<LONG>(h.width);
    bmi.header.biHeight = -static_cast<LONG>(height);
    bmi.header.biPlanes = 1;
    bmi.header.biBitCount = static_cast<WORD>(depth);
    bmi.header.biCompression = BI_RGB;
    if (h.bits <= 8) {
        const std::size_t entry = h.size == kCoreHeaderSize ? 3 : 4;
        const std::size_t table = h.pixelOffset - static_cast<std::size_t>(h.colors) * entry;
        for (std::uint32_t i = 0; i < h.colors && in.Has(table + i * entry, entry); ++i) {
            const std::uint8_t* e = in.At(table + i * entry);
            bmi.colors[i] = RGBQUAD {e[0], e[1], e[2], 0};
        }
    }
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&bmi), DIB_RGB_COLORS, nullptr,
        nullptr, 0);
    if (!bitmap) {
        info.error = PictureTooBigMessage(static_cast<std::uint64_t>(h.width), static_cast<std::uint64_t>(height));
        return nullptr;
    }
    GdiSurface& s = bitmap->surface;
    const std::size_t start = std::min(h.pixelOffset, in.Size());
    const int rows = static_cast<int>(height);
    if (rle) {
        // The walk counts rows from the bottom; the surface keeps the top
        // row first, so it runs over a bottom-up copy that is turned after.
        std::vector<std::uint8_t> bottomUp(s.stride * static_cast<std::size_t>(rows));
        ByteSource source {in, start};
        if (h.compression == BI_RLE8) {
            DibRle8Rows walk {bottomUp.data(), static_cast<std::uint32_t>(s.stride), static_cast<std::uint32_t>(rows)};
            info.cutShort = !DecodeDibRle(source, walk);
        } else {
            DibRle4Rows walk {bottomUp.data(), static_cast<std::uint32_t>(s.stride), static_cast<std::uint32_t>(rows)};
            info.cutShort = !DecodeDibRle(source, walk);
        }
        for (int y = 0; y < rows; ++y)
            std::memcpy(s.Row(rows - 1 - y), bottomUp.data() + s.stride * static_cast<std::size_t>(y), s.stride);
        return bitmap;
    }
    const std::size_t fileStride = static_cast<std::size_t>((static_cast<std::uint64_t>(h.width) * h.bits + 31) / 32 * 4);
    const DibBitfield red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);
    for (int y = 0; y < rows; ++y) {
        const std::size_t at = start + fileStride * static_cast<std::size_t>(y);
        if (!in.Has(at, fileStride)) {
            info.cutShort = true;
            break;
        }
        // Stored rows run bottom-up unless the header says otherwise.
        std::uint8_t* dst = s.Row(topDown ? y : rows - 1 - y);
        const std::uint8_t* src = in.At(at);
        if (!fields) {
            std::memcpy(dst, src, std::min<std::size_t>(fileStride, s.stride));
            continue;
        }
        for (int x = 0; x < s.width; ++x) {
            const std::uint32_t word = h.bits == 16 ? in.U16(at + 2 * static_cast<std::size_t>(x))
                                                    : in.U32(at + 4 * static_cast<std::size_t>(x));
            dst[4 * x] = blue(word);
            dst[4 * x + 1] = green(word);
            dst[4 * x + 2] = red(word);
            dst[4 * x + 3] = 0;
        }
    }
    return bitmap;
}
