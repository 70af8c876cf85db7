// PGX: one component of the JPEG 2000 conformance suite.
//
//   "PG" <white> "ML" | "LM" <white> ["+" | "-"] <white> depth <white>
//   width <white> height <one white byte> samples
//
// "ML" stores samples big-endian, "LM" little-endian; "-" marks signed
// samples. A sample takes 1 byte up to 8 bits of depth, 2 up to 16 and 4
// beyond, rows of width samples without padding.
#include "jpeg2000/jas_p.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int SampleBytes(int depth) { return depth <= 8 ? 1 : depth <= 16 ? 2 : 4; }

}  // namespace

bool JasPgxMatches(const unsigned char* magic, std::size_t n)
{
    return n >= 3 && magic[0] == 'P' && magic[1] == 'G' && (magic[2] == ' ' || magic[2] == '\t');
}

jas_image_t* JasPgxDecode(jas_stream_t* stream)
{
    unsigned char magic[2];
    if (!JasReadExact(stream, magic, 2) || magic[0] != 'P' || magic[1] != 'G')
        return nullptr;
    JasTextHeader text(stream, false);
    text.SkipSpace();
    const int e0 = text.Next();
    const int e1 = text.Next();
    bool bigEndian;
    if (e0 == 'M' && e1 == 'L')
        bigEndian = true;
    else if (e0 == 'L' && e1 == 'M')
        bigEndian = false;
    else
        return nullptr;
    bool sgnd = false;
    const int sign = text.SkipSpace();
    if (sign == '+' || sign == '-') {
        sgnd = sign == '-';
        text.Next();
    }
    std::uint32_t depth = 0, width = 0, height = 0;
    if (!text.UInt(31, depth) || depth == 0 || !text.UInt(static_cast<std::uint32_t>(kJasMaxSide), width) ||
        !text.UInt(static_cast<std::uint32_t>(kJasMaxSide), height))
        return nullptr;
    const int white = text.Next();
    if (white != ' ' && white != '\t' && white != '\n' && white != '\r')
        return nullptr;
    const int prec = static_cast<int>(depth);
    if (!JasSizeAllowed(stream, width, height, 1, static_cast<std::uint64_t>(SampleBytes(prec)), 1))
        return nullptr;

    jas_image_t* image = JasCreateUniform(1, width, height, prec, sgnd, JAS_CLRSPC_SGRAY);
    if (!image)
        return nullptr;
    jas_image_setcmpttype(image, 0, JAS_IMAGE_CT_GRAY_Y);
    const int bytes = SampleBytes(prec);
    const std::uint32_t mask = static_cast<std::uint32_t>(JasMaxValue(prec));
    std::vector<unsigned char> buf(static_cast<std::size_t>(width) * static_cast<std::size_t>(bytes));
    for (long y = 0; y < static_cast<long>(height); ++y) {
        if (!JasReadExact(stream, buf.data(), static_cast<int>(buf.size()))) {
            jas_image_destroy(image);
            return nullptr;
        }
        std::int32_t* out = image->cmpts_[0]->data_ + y * static_cast<long>(width);
        for (long x = 0; x < static_cast<long>(width); ++x) {
            const unsigned char* p = &buf[static_cast<std::size_t>(x) * static_cast<std::size_t>(bytes)];
            std::uint32_t v = 0;
            for (int i = 0; i < bytes; ++i)
                v |= std::uint32_t{p[bigEndian ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
            v &= mask;
            // Signed samples extend their top bit.
            if (sgnd && prec < 32 && (v >> (prec - 1)) & 1)
                out[x] = static_cast<std::int32_t>(static_cast<std::int64_t>(v) - (std::int64_t{1} << prec));
            else
                out[x] = static_cast<std::int32_t>(v);
        }
    }
    return image;
}

int JasPgxEncode(jas_image_t* image, jas_stream_t* stream, const char*)
{
    if (jas_image_numcmpts(image) != 1)
        return -1;
    const long width = jas_image_cmptwidth(image, 0);
    const long height = jas_image_cmptheight(image, 0);
    const int prec = jas_image_cmptprec(image, 0);
    const bool sgnd = jas_image_cmptsgnd(image, 0) != 0;
    char header[80];
    const int len = std::snprintf(header, sizeof header, "PG ML %c %d %ld %ld\n", sgnd ? '-' : '+', prec, width, height);
    if (jas_stream_write(stream, header, len) != len)
        return -1;
    const int bytes = SampleBytes(prec);
    const std::int64_t lo = sgnd ? -(std::int64_t{1} << (prec - 1)) : 0;
    const std::int64_t hi = sgnd ? (std::int64_t{1} << (prec - 1)) - 1 : JasMaxValue(prec);
    std::vector<unsigned char> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(bytes));
    for (long y = 0; y < height; ++y) {
        std::size_t k = 0;
        for (long x = 0; x < width; ++x) {
            const auto v = static_cast<std::uint32_t>(std::clamp<std::int64_t>(image->cmpts_[0]->data_[y * width + x], lo, hi));
            for (int i = bytes - 1; i >= 0; --i)
                out[k++] = static_cast<unsigned char>(v >> (8 * i));
        }
        if (jas_stream_write(stream, out.data(), static_cast<int>(out.size())) != static_cast<int>(out.size()))
            return -1;
    }
    return jas_stream_flush(stream);
}
