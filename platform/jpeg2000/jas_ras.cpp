// Sun raster files.
//
// Header, eight 32-bit big-endian words:
//
//    0  ras_magic      0x59A66A95
//    4  ras_width
//    8  ras_height
//   12  ras_depth      1, 8, 24 or 32 bits per pixel
//   16  ras_length     bytes of image data (0 in old files)
//   20  ras_type       0 old, 1 standard, 2 byte-encoded (runs), 3 RGB
//   24  ras_maptype    0 none, 1 equal RGB (red, green, blue planes), 2 raw
//   28  ras_maplength  bytes of colour map after the header
//
// Rows are padded to 16 bits. Pixels of 24 bits are blue, green, red, and
// of 32 bits a pad byte then blue, green, red; type 3 stores red first.
// A 1-bit pixel without a map is black when set. In the byte-encoded type
// 0x80 n v repeats v n + 1 times, 0x80 0 is one 0x80, other bytes stand
// for themselves; runs may cross rows.
#include "jpeg2000/jas_p.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::uint32_t kMagic = 0x59A66A95;
constexpr std::size_t ras_width = 4;
constexpr std::size_t ras_height = 8;
constexpr std::size_t ras_depth = 12;
constexpr std::size_t ras_length = 16;
constexpr std::size_t ras_type = 20;
constexpr std::size_t ras_maptype = 24;
constexpr std::size_t ras_maplength = 28;
constexpr std::size_t kHeaderSize = 32;

constexpr std::uint32_t RT_OLD = 0;
constexpr std::uint32_t RT_STANDARD = 1;
constexpr std::uint32_t RT_BYTE_ENCODED = 2;
constexpr std::uint32_t RT_FORMAT_RGB = 3;
constexpr std::uint32_t RMT_NONE = 0;
constexpr std::uint32_t RMT_EQUAL_RGB = 1;
constexpr std::uint32_t RMT_RAW = 2;
constexpr std::uint32_t kMaxMapLength = 3 * 256;

// The bytes of the image data, plain or run-length coded.
class RasBytes {
public:
    RasBytes(jas_stream_t* s, bool runs) : m_stream(s), m_runs(runs) {}

    bool Read(unsigned char* out, std::size_t n)
    {
        if (!m_runs)
            return JasReadExact(m_stream, out, static_cast<int>(n));
        for (std::size_t i = 0; i < n; ++i) {
            if (m_left == 0) {
                const int c = jas_stream_getc(m_stream);
                if (c < 0)
                    return false;
                m_value = static_cast<unsigned char>(c);
                m_left = 1;
                if (c == 0x80) {
                    const int count = jas_stream_getc(m_stream);
                    if (count < 0)
                        return false;
                    if (count != 0) {
                        const int v = jas_stream_getc(m_stream);
                        if (v < 0)
                            return false;
                        m_value = static_cast<unsigned char>(v);
                        m_left = static_cast<unsigned>(count) + 1;
                    }
                }
            }
            out[i] = m_value;
            --m_left;
        }
        return true;
    }

private:
    jas_stream_t* m_stream;
    bool m_runs;
    unsigned char m_value = 0;
    unsigned m_left = 0;
};

}  // namespace

bool JasRasMatches(const unsigned char* magic, std::size_t n) { return n >= 4 && JasBe32(magic) == kMagic; }

jas_image_t* JasRasDecode(jas_stream_t* stream)
{
    unsigned char h[kHeaderSize];
    if (!JasReadExact(stream, h, sizeof h) || JasBe32(h) != kMagic)
        return nullptr;
    const std::uint32_t width = JasBe32(h + ras_width);
    const std::uint32_t height = JasBe32(h + ras_height);
    const std::uint32_t depth = JasBe32(h + ras_depth);
    const std::uint32_t type = JasBe32(h + ras_type);
    const std::uint32_t maptype = JasBe32(h + ras_maptype);
    const std::uint32_t maplength = JasBe32(h + ras_maplength);
    (void)JasBe32(h + ras_length);
    if (type != RT_OLD && type != RT_STANDARD && type != RT_BYTE_ENCODED && type != RT_FORMAT_RGB)
        return nullptr;
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32)
        return nullptr;
    if (maptype > RMT_RAW || (maptype == RMT_NONE && maplength != 0))
        return nullptr;

    // The colour map: up to 256 entries, red, green and blue planes.
    std::vector<unsigned char> map;
    std::size_t entries = 0;
    if (maptype == RMT_EQUAL_RGB) {
        if (maplength > kMaxMapLength || maplength % 3 != 0)
            return nullptr;
        map.resize(maplength);
        if (!JasReadExact(stream, map.data(), static_cast<int>(maplength)))
            return nullptr;
        entries = maplength / 3;
    } else if (maptype == RMT_RAW) {
        if (maplength > (1u << 20) || jas_stream_seek(stream, maplength, SEEK_CUR) < 0)
            return nullptr;
    }
    const bool mapped = entries > 0 && depth <= 8;
    bool greyMap = true;
    for (std::size_t i = 0; i < entries; ++i)
        greyMap = greyMap && map[i] == map[entries + i] && map[i] == map[2 * entries + i];

    const bool runs = type == RT_BYTE_ENCODED;
    // Plain rows take depth / 8 bytes a pixel; runs give at most 256 bytes
    // for three.
    if (!JasSizeAllowed(stream, width, height, 1, depth, runs ? 8 * 86 : 8))
        return nullptr;
    const int components = (depth > 8 || (mapped && !greyMap)) ? 3 : 1;
    const int prec = (depth == 1 && !mapped) ? 1 : 8;
    jas_image_t* image = JasCreateUniform(components, width, height, prec, false,
                                          components == 3 ? JAS_CLRSPC_SRGB : JAS_CLRSPC_SGRAY);
    if (!image)
        return nullptr;
    for (int c = 0; c < components; ++c)
        jas_image_setcmpttype(image, c, components == 3 ? JAS_IMAGE_CT_RGB_R + c : JAS_IMAGE_CT_GRAY_Y);

    const std::size_t rowBytes = (static_cast<std::size_t>(width) * depth + 15) / 16 * 2;
    std::vector<unsigned char> row(rowBytes);
    RasBytes bytes(stream, runs);
    const bool rgbOrder = type == RT_FORMAT_RGB;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (!bytes.Read(row.data(), rowBytes)) {
            jas_image_destroy(image);
            return nullptr;
        }
        const std::size_t at = static_cast<std::size_t>(y) * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            int rgb[3];
            if (depth <= 8) {
                const unsigned v = depth == 1 ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x];
                if (!mapped) {
                    rgb[0] = rgb[1] = rgb[2] = depth == 1 ? static_cast<int>(!v) : static_cast<int>(v);
                } else if (v < entries) {
                    rgb[0] = map[v];
                    rgb[1] = map[entries + v];
                    rgb[2] = map[2 * entries + v];
                } else {
                    rgb[0] = rgb[1] = rgb[2] = 0;
                }
            } else {
                const unsigned char* p = &row[static_cast<std::size_t>(x) * (depth / 8) + (depth == 32 ? 1 : 0)];
                rgb[0] = rgbOrder ? p[0] : p[2];
                rgb[1] = p[1];
                rgb[2] = rgbOrder ? p[2] : p[0];
            }
            for (int c = 0; c < components; ++c)
                image->cmpts_[c]->data_[at + x] = rgb[c];
        }
    }
    return image;
}

int JasRasEncode(jas_image_t* image, jas_stream_t* stream, const char*)
{
    const int n = jas_image_numcmpts(image);
    if ((n != 1 && n != 3) || !JasUniform(image, false))
        return -1;
    const long width = jas_image_cmptwidth(image, 0);
    const long height = jas_image_cmptheight(image, 0);
    const std::uint32_t depth = n == 3 ? 24 : 8;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * depth + 15) / 16 * 2;
    const std::uint64_t length = static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(height);
    if (length > 0xFFFFFFFFu)
        return -1;
    unsigned char h[kHeaderSize];
    JasPutBe32(h, kMagic);
    JasPutBe32(h + ras_width, static_cast<std::uint32_t>(width));
    JasPutBe32(h + ras_height, static_cast<std::uint32_t>(height));
    JasPutBe32(h + ras_depth, depth);
    JasPutBe32(h + ras_length, static_cast<std::uint32_t>(length));
    JasPutBe32(h + ras_type, RT_STANDARD);
    JasPutBe32(h + ras_maptype, RMT_NONE);
    JasPutBe32(h + ras_maplength, 0);
    if (jas_stream_write(stream, h, sizeof h) != static_cast<int>(sizeof h))
        return -1;
    std::vector<unsigned char> row(rowBytes, 0);
    for (long y = 0; y < height; ++y) {
        for (long x = 0; x < width; ++x)
            for (int c = 0; c < n; ++c) {
                // Blue comes first in a standard file.
                const int src = n == 3 ? 2 - c : 0;
                row[static_cast<std::size_t>(x) * static_cast<std::size_t>(n) + static_cast<std::size_t>(c)] =
                    static_cast<unsigned char>(std::clamp(image->cmpts_[src]->data_[y * width + x], 0, 255));
            }
        if (jas_stream_write(stream, row.data(), static_cast<int>(rowBytes)) != static_cast<int>(rowBytes))
            return -1;
    }
    return jas_stream_flush(stream);
}
