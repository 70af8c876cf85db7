// Device-independent bitmaps carried by metafile records.
//
//   BITMAPCOREHEADER (12 bytes): size, width (16), height (16), planes, bit count
//   BITMAPINFOHEADER (40 bytes and up): size, width, height (negative: top
//   down), planes, bit count, compression, image size, resolution, colours
//   used, colours important; then three masks for BI_BITFIELDS
//
// The colour table follows the header: RGBQUADs, or RGBTRIPLEs after a
// core header. Rows are padded to 4 bytes.
#include "gdi/mf_p.h"

#include <algorithm>

namespace {

// The player draws bitmaps of up to this many pixels.
constexpr std::uint64_t kMaxDibPixels = std::uint64_t{1} << 24;

struct DibLayout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // positive
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = 0;
    std::size_t headerSize = 0;
    std::size_t colors = 0;
    bool core = false;
    std::uint32_t masks[3] = {0, 0, 0};
};

bool ReadLayout(const MfRecord& r, DibLayout& d)
{
    d.headerSize = r.U32(0);
    if (d.headerSize == 12 && r.Has(0, 12)) {
        d.core = true;
        d.width = r.U16(4);
        d.height = r.U16(6);
        d.bpp = r.U16(10);
    } else if (d.headerSize >= 40 && r.Has(0, 40)) {
        d.width = r.I32(4);
        const std::int32_t h = r.I32(8);
        d.topDown = h < 0;
        d.height = h < 0 ? -static_cast<std::int64_t>(h) : h;
        d.bpp = r.U16(14);
        d.compression = r.U32(16);
        d.colors = r.U32(32);
    } else {
        return false;
    }
    if (d.width <= 0 || d.height <= 0 ||
        static_cast<std::uint64_t>(d.width) * static_cast<std::uint64_t>(d.height) > kMaxDibPixels)
        return false;
    if (d.bpp != 1 && d.bpp != 4 && d.bpp != 8 && d.bpp != 16 && d.bpp != 24 && d.bpp != 32)
        return false;
    if (d.bpp <= 8) {
        const std::size_t full = std::size_t{1} << d.bpp;
        d.colors = d.colors == 0 || d.colors > full ? full : d.colors;
    } else {
        d.colors = 0;
    }
    if (d.compression == 3) {  // BI_BITFIELDS: masks after a 40-byte header
        if (d.bpp != 16 && d.bpp != 32)
            return false;
        // The masks follow a 40-byte header and sit inside the larger ones.
        constexpr std::size_t at = 40;
        if (!r.Has(at, 12))
            return false;
        for (int i = 0; i < 3; ++i)
            d.masks[i] = r.U32(at + 4 * static_cast<std::size_t>(i));
        if (d.headerSize == 40)
            d.headerSize += 12;
    } else if (d.compression != 0) {
        return false;  // run-length and embedded JPEG or PNG bitmaps are not drawn
    }
    return true;
}

std::uint8_t Channel(std::uint32_t v, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const std::uint32_t top = mask >> shift;
    return static_cast<std::uint8_t>(((v & mask) >> shift) * 255 / top);
}

}  // namespace

std::size_t MfDibInfoSize(const std::uint8_t* info, std::size_t size)
{
    MfRecord r(info, size);
    DibLayout d;
    if (!ReadLayout(r, d))
        return 0;
    const std::size_t total = d.headerSize + d.colors * (d.core ? 3 : 4);
    return total <= size ? total : 0;
}

QImage MfDecodeDib(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits, std::size_t bitsSize)
{
    const MfRecord r(info, infoSize);
    DibLayout d;
    if (!info || !bits || !ReadLayout(r, d))
        return QImage();
    const std::size_t entry = d.core ? 3 : 4;
    if (!r.Has(d.headerSize, d.colors * entry))
        return QImage();
    std::vector<QRgb> table(d.colors);
    for (std::size_t i = 0; i < d.colors; ++i) {
        const std::size_t at = d.headerSize + i * entry;
        table[i] = qRgb(r.U8(at + 2), r.U8(at + 1), r.U8(at));
    }
    const std::size_t stride = (static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.bpp) + 31) / 32 * 4;
    if (stride * static_cast<std::size_t>(d.height) > bitsSize)
        return QImage();
    QImage img(static_cast<int>(d.width), static_cast<int>(d.height), QImage::Format_RGB32);
    if (img.isNull())
        return img;
    const std::uint32_t masks16[3] = {0x7C00, 0x03E0, 0x001F};
    const std::uint32_t masks32[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    const std::uint32_t* masks = d.compression == 3 ? d.masks : d.bpp == 16 ? masks16 : masks32;
    for (std::int64_t y = 0; y < d.height; ++y) {
        const std::uint8_t* row = bits + stride * static_cast<std::size_t>(d.topDown ? y : d.height - 1 - y);
        auto* out = reinterpret_cast<QRgb*>(img.scanLine(static_cast<int>(y)));
        for (std::int64_t x = 0; x < d.width; ++x) {
            QRgb c = 0;
            switch (d.bpp) {
            case 1: case 4: case 8: {
                const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(d.bpp);
                const unsigned v = (row[bit / 8] >> (8 - d.bpp - bit % 8)) & ((1u << d.bpp) - 1);
                c = v < table.size() ? table[v] : qRgb(0, 0, 0);
                break;
            }
            case 16: {
                const std::uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
                c = qRgb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
                break;
            }
            case 24: c = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
            case 32: {
                const std::uint8_t* p = row + 4 * x;
                const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
                c = qRgb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
                break;
            }
            }
            out[x] = c;
        }
    }
    return img;
}
