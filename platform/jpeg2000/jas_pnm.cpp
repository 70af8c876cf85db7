// PNM: PBM, PGM and PPM, plain (P1 to P3) and raw (P4 to P6), and PAM (P7).
//
//   P<n> <white> width <white> height [<white> maxval] <one white byte> raster
//
// PAM gives its header as lines of a keyword and a value, then raw samples:
//
//   P7
//   WIDTH w  HEIGHT h  DEPTH d  MAXVAL m   (one to a line, in any order)
//   TUPLTYPE BLACKANDWHITE | GRAYSCALE | RGB, each optionally _ALPHA
//   ENDHDR
//
// Its d samples a pixel are one colour sample (grey) or three (red, green,
// blue), then alpha for the _ALPHA types; a BLACKANDWHITE sample of 1 is
// white, as in every other PAM.
//
// Comments run from '#' to the end of the line anywhere in the header.
// Raw samples are one byte, or two bytes big-endian when maxval exceeds 255;
// PBM rows are packed 8 pixels a byte, most significant bit first, padded to
// a byte. A PBM bit of 1 is black, so its sample is inverted: in every image
// here a larger sample is brighter. A maxval that is not 2^n - 1 is scaled
// to the full range of the precision n that holds it.
#include "jpeg2000/jas_p.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kMaxMaxval = 65535;

int PrecisionOf(std::uint32_t maxval)
{
    int prec = 1;
    while (JasMaxValue(prec) < maxval)
        ++prec;
    return prec;
}

struct PnmKind {
    int number;      // 1 to 6
    bool plain;      // ASCII samples
    bool bitmap;     // PBM
    int components;  // 1 or 3
};

// Reads one row of raw samples; false at a short read.
bool ReadRawRow(jas_stream_t* s, const PnmKind& kind, long width, std::uint32_t maxval, std::vector<unsigned char>& buf,
                std::vector<std::uint32_t>& row)
{
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(kind.components);
    if (kind.bitmap) {
        buf.resize((static_cast<std::size_t>(width) + 7) / 8);
        if (!JasReadExact(s, buf.data(), static_cast<int>(buf.size())))
            return false;
        for (std::size_t x = 0; x < samples; ++x)
            row[x] = ((buf[x / 8] >> (7 - x % 8)) & 1) ? 0 : 1;
        return true;
    }
    const std::size_t bytes = maxval > 255 ? 2 : 1;
    buf.resize(samples * bytes);
    if (!JasReadExact(s, buf.data(), static_cast<int>(buf.size())))
        return false;
    for (std::size_t i = 0; i < samples; ++i)
        row[i] = bytes == 2 ? JasBe16(&buf[2 * i]) : buf[i];
    return true;
}

bool ReadPlainRow(JasTextHeader& text, const PnmKind& kind, long width, std::uint32_t maxval,
                  std::vector<std::uint32_t>& row)
{
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(kind.components);
    for (std::size_t i = 0; i < samples; ++i) {
        if (kind.bitmap) {
            // Plain PBM digits need no separator between them.
            const int c = text.SkipSpace();
            if (c != '0' && c != '1')
                return false;
            text.Next();
            row[i] = c == '1' ? 0 : 1;
        } else if (!text.UInt(kMaxMaxval, row[i])) {
            return false;
        } else {
            row[i] = std::min(row[i], maxval);
        }
    }
    return true;
}

}  // namespace

bool JasPnmMatches(const unsigned char* magic, std::size_t n)
{
    return n >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7';
}

namespace {

// A word of a PAM header line: the letters, digits and underscores after
// white space.
std::string PamWord(JasTextHeader& text)
{
    std::string word;
    for (int c = text.SkipSpace(); c >= 0 && (std::isalnum(c) || c == '_') && word.size() < 32; c = text.Peek()) {
        word += static_cast<char>(c);
        text.Next();
    }
    return word;
}

jas_image_t* PamDecode(jas_stream_t* stream)
{
    JasTextHeader text(stream, true);
    std::uint32_t width = 0, height = 0, depth = 0, maxval = 0;
    std::string type;
    for (;;) {
        const std::string key = PamWord(text);
        if (key == "ENDHDR")
            break;
        bool ok = true;
        if (key == "WIDTH")
            ok = text.UInt(static_cast<std::uint32_t>(kJasMaxSide), width);
        else if (key == "HEIGHT")
            ok = text.UInt(static_cast<std::uint32_t>(kJasMaxSide), height);
        else if (key == "DEPTH")
            ok = text.UInt(4, depth);
        else if (key == "MAXVAL")
            ok = text.UInt(kMaxMaxval, maxval);
        else if (key == "TUPLTYPE")
            type = PamWord(text);
        else
            ok = false;
        if (!ok)
            return nullptr;
    }
    // The line of ENDHDR ends with one newline; the raster follows it.
    if (text.Next() != '\n')
        return nullptr;
    const bool alpha = type.size() > 6 && type.compare(type.size() - 6, 6, "_ALPHA") == 0;
    const std::string base = alpha ? type.substr(0, type.size() - 6) : type;
    const std::uint32_t colours = base == "RGB" ? 3 : 1;
    if (width == 0 || height == 0 || maxval == 0 || depth != colours + (alpha ? 1 : 0) ||
        (base != "RGB" && base != "GRAYSCALE" && base != "BLACKANDWHITE") || (base == "BLACKANDWHITE" && maxval != 1))
        return nullptr;
    const std::uint64_t bytesPerSample = maxval > 255 ? 2 : 1;
    if (!JasSizeAllowed(stream, width, height, depth, bytesPerSample, 1))
        return nullptr;

    const int prec = PrecisionOf(maxval);
    const std::int64_t full = JasMaxValue(prec);
    jas_image_t* image = JasCreateUniform(static_cast<int>(depth), width, height, prec, false,
                                          colours == 3 ? JAS_CLRSPC_SRGB : JAS_CLRSPC_SGRAY);
    if (!image)
        return nullptr;
    for (std::uint32_t c = 0; c < depth; ++c)
        jas_image_setcmpttype(image, static_cast<int>(c),
                              c == colours ? JAS_IMAGE_CT_OPACITY
                                           : colours == 3 ? JAS_IMAGE_CT_RGB_R + static_cast<int>(c) : JAS_IMAGE_CT_GRAY_Y);
    std::vector<unsigned char> buf(static_cast<std::size_t>(width) * depth * bytesPerSample);
    for (long y = 0; y < static_cast<long>(height); ++y) {
        if (!JasReadExact(stream, buf.data(), static_cast<int>(buf.size()))) {
            jas_image_destroy(image);
            return nullptr;
        }
        for (std::uint32_t c = 0; c < depth; ++c) {
            std::int32_t* out = image->cmpts_[c]->data_ + y * static_cast<long>(width);
            for (long x = 0; x < static_cast<long>(width); ++x) {
                const std::size_t i = static_cast<std::size_t>(x) * depth + c;
                const std::uint32_t v =
                    std::min<std::uint32_t>(bytesPerSample == 2 ? JasBe16(&buf[2 * i]) : buf[i], maxval);
                out[x] = full == maxval ? static_cast<std::int32_t>(v)
                                        : static_cast<std::int32_t>((v * full + maxval / 2) / maxval);
            }
        }
    }
    return image;
}

}  // namespace

jas_image_t* JasPnmDecode(jas_stream_t* stream)
{
    unsigned char magic[2];
    if (!JasReadExact(stream, magic, 2) || !JasPnmMatches(magic, 2))
        return nullptr;
    if (magic[1] == '7')
        return PamDecode(stream);
    PnmKind kind;
    kind.number = magic[1] - '0';
    kind.plain = kind.number <= 3;
    kind.bitmap = kind.number == 1 || kind.number == 4;
    kind.components = (kind.number == 3 || kind.number == 6) ? 3 : 1;

    JasTextHeader text(stream, true);
    std::uint32_t width = 0, height = 0, maxval = 1;
    if (!text.UInt(static_cast<std::uint32_t>(kJasMaxSide), width) ||
        !text.UInt(static_cast<std::uint32_t>(kJasMaxSide), height))
        return nullptr;
    if (!kind.bitmap && (!text.UInt(kMaxMaxval, maxval) || maxval == 0))
        return nullptr;
    // Exactly one white byte separates a raw header from its raster.
    if (!kind.plain) {
        const int c = text.Next();
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return nullptr;
    }
    // The least bytes a sample takes: an eighth in a raw PBM, two at a
    // maxval above 255, else one (a plain sample is at least a digit).
    const std::uint64_t bytesPerSample = !kind.plain && maxval > 255 ? 2 : 1;
    const std::uint64_t samplesPerByte = !kind.plain && kind.bitmap ? 8 : 1;
    if (!JasSizeAllowed(stream, width, height, static_cast<std::uint64_t>(kind.components), bytesPerSample,
                        samplesPerByte))
        return nullptr;

    const int prec = PrecisionOf(maxval);
    const std::int64_t full = JasMaxValue(prec);
    jas_image_t* image = JasCreateUniform(kind.components, width, height, prec, false,
                                          kind.components == 3 ? JAS_CLRSPC_SRGB : JAS_CLRSPC_SGRAY);
    if (!image)
        return nullptr;
    for (int c = 0; c < kind.components; ++c)
        jas_image_setcmpttype(image, c, kind.components == 3 ? JAS_IMAGE_CT_RGB_R + c : JAS_IMAGE_CT_GRAY_Y);

    std::vector<unsigned char> buf;
    std::vector<std::uint32_t> row(static_cast<std::size_t>(width) * static_cast<std::size_t>(kind.components));
    for (long y = 0; y < static_cast<long>(height); ++y) {
        const bool ok = kind.plain ? ReadPlainRow(text, kind, width, maxval, row)
                                   : ReadRawRow(stream, kind, width, maxval, buf, row);
        if (!ok) {
            jas_image_destroy(image);
            return nullptr;
        }
        for (int c = 0; c < kind.components; ++c) {
            std::int32_t* out = image->cmpts_[c]->data_ + y * static_cast<long>(width);
            for (long x = 0; x < static_cast<long>(width); ++x) {
                const std::uint32_t v = std::min(row[static_cast<std::size_t>(x) * kind.components + c], maxval);
                out[x] = full == maxval ? static_cast<std::int32_t>(v)
                                        : static_cast<std::int32_t>((v * full + maxval / 2) / maxval);
            }
        }
    }
    return image;
}

int JasPnmEncode(jas_image_t* image, jas_stream_t* stream, const char*)
{
    const int n = jas_image_numcmpts(image);
    if (n != 1 && n != 3)
        return -1;
    const long width = jas_image_cmptwidth(image, 0);
    const long height = jas_image_cmptheight(image, 0);
    const int prec = jas_image_cmptprec(image, 0);
    if (prec > 16 || !JasUniform(image, true))
        return -1;
    const std::int64_t maxval = JasMaxValue(prec);
    char header[64];
    const int len = std::snprintf(header, sizeof header, "P%c\n%ld %ld\n%lld\n", n == 3 ? '6' : '5', width, height,
                                  static_cast<long long>(maxval));
    if (jas_stream_write(stream, header, len) != len)
        return -1;
    const std::size_t bytes = maxval > 255 ? 2 : 1;
    std::vector<unsigned char> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(n) * bytes);
    for (long y = 0; y < height; ++y) {
        std::size_t k = 0;
        for (long x = 0; x < width; ++x)
            for (int c = 0; c < n; ++c) {
                const std::int64_t v = std::clamp<std::int64_t>(image->cmpts_[c]->data_[y * width + x], 0, maxval);
                if (bytes == 2)
                    out[k++] = static_cast<unsigned char>(v >> 8);
                out[k++] = static_cast<unsigned char>(v);
            }
        if (jas_stream_write(stream, out.data(), static_cast<int>(out.size())) != static_cast<int>(out.size()))
            return -1;
    }
    return jas_stream_flush(stream);
}
