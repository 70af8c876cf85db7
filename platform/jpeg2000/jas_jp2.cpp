// JP2 files and JPEG 2000 code streams over OpenJPEG.
//
// Before OpenJPEG sees a stream, its image and size marker are read here
// and checked against the library's limits, so that a few header bytes
// cannot make OpenJPEG allocate gigabytes. Decoded colour arrives as RGB:
// subsampled components are brought to the image's full size and sYCC is
// converted, as OpenJPEG's own tools do.
//
// Code stream main header start:
//
//   0  2  SOC   FF4F
//   2  2  SIZ   FF51
//   4  2  Lsiz
//   6  2  Rsiz
//   8  4  Xsiz, Ysiz         reference grid size
//  16  4  XOsiz, YOsiz       image offset on the grid
//  24  4  XTsiz, YTsiz       tile size
//  32  4  XTOsiz, YTOsiz     tile offset
//  40  2  Csiz               components
//  42  3  per component: Ssiz (precision - 1, bit 7 signed), XRsiz, YRsiz
//
// A JP2 file is a sequence of boxes (32-bit length, 4-byte type; length 1
// means a 64-bit length follows, 0 runs to the end); the code stream is the
// contents of the "jp2c" box.
#include "jpeg2000/jas_p.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t SIZ_Xsiz = 8;
constexpr std::size_t SIZ_Ysiz = 12;
constexpr std::size_t SIZ_XOsiz = 16;
constexpr std::size_t SIZ_YOsiz = 20;
constexpr std::size_t SIZ_XTsiz = 24;
constexpr std::size_t SIZ_YTsiz = 28;
constexpr std::size_t SIZ_XTOsiz = 32;
constexpr std::size_t SIZ_YTOsiz = 36;
constexpr std::size_t SIZ_Csiz = 40;
constexpr std::size_t kSizFixed = 42;

// JPEG 2000 numbers tiles with 16 bits.
constexpr std::uint64_t kMaxTiles = 65535;
// Empty code blocks cost a few bits each, so a blank picture compresses
// almost without bound; pictures with content stay below 512 samples a
// byte even at ratios of 200 and more, so a header promising more than
// that is taken for a damaged one before anything is decoded.
constexpr std::uint64_t kMaxExpansion = 512;
constexpr int kMaxBoxes = 1024;

const unsigned char kJp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// Reads the size marker at the stream's position and checks it.
bool CodeStreamAllowed(jas_stream_t* s)
{
    unsigned char h[kSizFixed];
    if (!JasReadExact(s, h, sizeof h) || JasBe16(h) != 0xFF4F || JasBe16(h + 2) != 0xFF51)
        return false;
    const std::uint64_t xsiz = JasBe32(h + SIZ_Xsiz), ysiz = JasBe32(h + SIZ_Ysiz);
    const std::uint64_t xo = JasBe32(h + SIZ_XOsiz), yo = JasBe32(h + SIZ_YOsiz);
    const std::uint64_t xt = JasBe32(h + SIZ_XTsiz), yt = JasBe32(h + SIZ_YTsiz);
    const std::uint64_t xto = JasBe32(h + SIZ_XTOsiz), yto = JasBe32(h + SIZ_YTOsiz);
    const int csiz = JasBe16(h + SIZ_Csiz);
    if (xsiz <= xo || ysiz <= yo || xt == 0 || yt == 0 || xto > xo || yto > yo || csiz < 1 ||
        csiz > kJasMaxComponents)
        return false;
    if (CeilDiv(xsiz - xto, xt) * CeilDiv(ysiz - yto, yt) > kMaxTiles)
        return false;
    for (int c = 0; c < csiz; ++c) {
        unsigned char p[3];
        if (!JasReadExact(s, p, 3) || (p[0] & 0x7F) + 1 > 31 || p[1] == 0 || p[2] == 0)
            return false;
    }
    // Every component is brought to the image's full size.
    return JasSizeAllowed(s, xsiz - xo, ysiz - yo, static_cast<std::uint64_t>(csiz), 1, kMaxExpansion);
}

// Walks the boxes of a JP2 file to its code stream and checks that.
bool Jp2Allowed(jas_stream_t* s)
{
    for (int i = 0; i < kMaxBoxes; ++i) {
        unsigned char b[8];
        const long start = jas_stream_tell(s);
        if (start < 0 || !JasReadExact(s, b, 8))
            return false;
        std::uint64_t length = JasBe32(b);
        std::uint64_t header = 8;
        if (length == 1) {
            unsigned char x[8];
            if (!JasReadExact(s, x, 8))
                return false;
            length = (std::uint64_t{JasBe32(x)} << 32) | JasBe32(x + 4);
            header = 16;
        }
        if (std::memcmp(b + 4, "jp2c", 4) == 0)
            return CodeStreamAllowed(s);
        if (length == 0 || length < header || length > 0x7FFFFFFF - static_cast<std::uint64_t>(start))
            return false;
        if (std::memcmp(b + 4, "jp2h", 4) == 0)
            continue;  // a super box: its boxes follow
        if (std::memcmp(b + 4, "ihdr", 4) == 0) {
            unsigned char ihdr[14];
            if (length < header + sizeof ihdr || !JasReadExact(s, ihdr, sizeof ihdr))
                return false;
            const int nc = JasBe16(ihdr + 8);
            if (nc < 1 || nc > kJasMaxComponents ||
                !JasSizeAllowed(s, JasBe32(ihdr + 4), JasBe32(ihdr), static_cast<std::uint64_t>(nc), 1, kMaxExpansion))
                return false;
        }
        if (jas_stream_seek(s, start + static_cast<long>(length), SEEK_SET) < 0)
            return false;
    }
    return false;
}

// OpenJPEG's input stream over ours. Offsets OpenJPEG asks for count from
// where the image starts in our stream. Encoding goes to memory first.
struct OpjSource {
    jas_stream_t* stream;
    long start;
};

OPJ_SIZE_T OpjRead(void* buffer, OPJ_SIZE_T n, void* user)
{
    auto* src = static_cast<OpjSource*>(user);
    const int got = jas_stream_read(src->stream, buffer, static_cast<int>(std::min<OPJ_SIZE_T>(n, 0x7FFFFFFF)));
    return got > 0 ? static_cast<OPJ_SIZE_T>(got) : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T OpjSkip(OPJ_OFF_T n, void* user)
{
    auto* src = static_cast<OpjSource*>(user);
    return jas_stream_seek(src->stream, static_cast<long>(n), SEEK_CUR) < 0 ? -1 : n;
}

OPJ_BOOL OpjSeek(OPJ_OFF_T n, void* user)
{
    auto* src = static_cast<OpjSource*>(user);
    const long target = src->start + static_cast<long>(n);
    return jas_stream_seek(src->stream, target, SEEK_SET) == target ? OPJ_TRUE : OPJ_FALSE;
}

void Quiet(const char*, void*) {}

void SilenceCodec(opj_codec_t* codec)
{
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
}

opj_stream_t* MakeInputStream(OpjSource* src)
{
    // Small files get a small read buffer: OpenJPEG allocates it whole.
    const long length = jas_stream_length(src->stream);
    const long left = length > src->start ? length - src->start : 0;
    opj_stream_t* st = opj_stream_create(static_cast<OPJ_SIZE_T>(std::clamp<long>(left, 4096, 1L << 16)), OPJ_TRUE);
    if (!st)
        return nullptr;
    opj_stream_set_user_data(st, src, nullptr);
    if (length > src->start)
        opj_stream_set_user_data_length(st, static_cast<OPJ_UINT64>(length - src->start));
    opj_stream_set_read_function(st, OpjRead);
    opj_stream_set_skip_function(st, OpjSkip);
    opj_stream_set_seek_function(st, OpjSeek);
    return st;
}

void FreeOpjData(void* p) { opj_image_data_free(p); }

// Component c brought to the image's full size: its own samples when it
// has that size already, nearest samples otherwise. Null when memory runs out.
jas_image_cmpt_t* FullSizeComponent(opj_image_t* img, int c)
{
    opj_image_comp_t& comp = img->comps[c];
    const long width = static_cast<long>(img->x1 - img->x0);
    const long height = static_cast<long>(img->y1 - img->y0);
    auto* out = new jas_image_cmpt_t{};
    out->hstep_ = out->vstep_ = 1;
    out->width_ = width;
    out->height_ = height;
    out->prec_ = static_cast<int>(comp.prec);
    out->sgnd_ = static_cast<int>(comp.sgnd);
    out->type_ = JAS_IMAGE_CT_UNKNOWN;
    if (static_cast<long>(comp.w) == width && static_cast<long>(comp.h) == height) {
        out->data_ = comp.data;
        out->free_ = FreeOpjData;
        comp.data = nullptr;
        return out;
    }
    out->data_ = static_cast<std::int32_t*>(std::calloc(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                                                        sizeof(std::int32_t)));
    out->free_ = std::free;
    if (!out->data_ || comp.w == 0 || comp.h == 0) {
        std::free(out->data_);
        delete out;
        return nullptr;
    }
    // Sample (i, j) of the component covers the grid columns from i x dx on,
    // counted from the grid's origin; the component starts at column x0.
    for (long y = 0; y < height; ++y) {
        const std::uint64_t gy = static_cast<std::uint64_t>(img->y0) + static_cast<std::uint64_t>(y);
        const long sy = std::clamp<long>(static_cast<long>(gy / comp.dy) - static_cast<long>(comp.y0), 0,
                                         static_cast<long>(comp.h) - 1);
        const std::int32_t* srow = comp.data + static_cast<std::size_t>(sy) * comp.w;
        std::int32_t* drow = out->data_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (long x = 0; x < width; ++x) {
            const std::uint64_t gx = static_cast<std::uint64_t>(img->x0) + static_cast<std::uint64_t>(x);
            const long sx = std::clamp<long>(static_cast<long>(gx / comp.dx) - static_cast<long>(comp.x0), 0,
                                             static_cast<long>(comp.w) - 1);
            drow[x] = srow[sx];
        }
    }
    return out;
}

// sYCC to RGB, in place, with the constants of the sYCC definition; the
// results are cut to the precision's range.
void SyccToRgb(jas_image_t* image)
{
    const int prec = image->cmpts_[0]->prec_;
    const int offset = 1 << (prec - 1);
    const int upb = static_cast<int>(JasMaxValue(prec));
    std::int32_t* y = image->cmpts_[0]->data_;
    std::int32_t* cb = image->cmpts_[1]->data_;
    std::int32_t* cr = image->cmpts_[2]->data_;
    const std::size_t n = static_cast<std::size_t>(image->cmpts_[0]->width_) *
                          static_cast<std::size_t>(image->cmpts_[0]->height_);
    for (std::size_t i = 0; i < n; ++i) {
        const int yy = y[i];
        const int b = cb[i] - offset;
        const int r = cr[i] - offset;
        y[i] = std::clamp(yy + static_cast<int>(1.402f * static_cast<float>(r)), 0, upb);
        cb[i] = std::clamp(yy - static_cast<int>(0.344f * static_cast<float>(b) + 0.714f * static_cast<float>(r)), 0, upb);
        cr[i] = std::clamp(yy + static_cast<int>(1.772f * static_cast<float>(b)), 0, upb);
    }
}

bool IsSycc(const opj_image_t* img)
{
    if (img->numcomps < 3)
        return false;
    if (img->color_space == OPJ_CLRSPC_SYCC)
        return true;
    // A code stream does not name its colour space; three components whose
    // chroma is subsampled and luma is not are taken as sYCC.
    const opj_image_comp_t* c = img->comps;
    return img->numcomps == 3 && (img->color_space == OPJ_CLRSPC_UNSPECIFIED || img->color_space == OPJ_CLRSPC_UNKNOWN) &&
           c[0].dx == 1 && c[0].dy == 1 && (c[1].dx != 1 || c[1].dy != 1);
}

jas_image_t* ToJasImage(opj_image_t* img)
{
    const bool sycc = IsSycc(img);
    const int n = static_cast<int>(img->numcomps);
    auto* image = new jas_image_t{};
    image->cmpts_ = static_cast<jas_image_cmpt_t**>(std::calloc(static_cast<std::size_t>(n), sizeof(jas_image_cmpt_t*)));
    if (!image->cmpts_) {
        delete image;
        return nullptr;
    }
    for (int c = 0; c < n; ++c) {
        jas_image_cmpt_t* cmpt = FullSizeComponent(img, c);
        if (!cmpt) {
            jas_image_destroy(image);
            return nullptr;
        }
        image->cmpts_[c] = cmpt;
        image->numcmpts_ = c + 1;
    }
    if (sycc && image->cmpts_[0]->prec_ == image->cmpts_[1]->prec_ && image->cmpts_[0]->prec_ == image->cmpts_[2]->prec_)
        SyccToRgb(image);
    const bool grey = img->color_space == OPJ_CLRSPC_GRAY || n < 3;
    const bool rgb = !grey && (sycc || img->color_space == OPJ_CLRSPC_SRGB || img->color_space == OPJ_CLRSPC_UNSPECIFIED ||
                               img->color_space == OPJ_CLRSPC_UNKNOWN);
    image->clrspc_ = grey ? JAS_CLRSPC_SGRAY : rgb ? JAS_CLRSPC_SRGB : JAS_CLRSPC_UNKNOWN;
    for (int c = 0; c < n; ++c) {
        if (img->comps[c].alpha)
            image->cmpts_[c]->type_ = JAS_IMAGE_CT_OPACITY;
        else if (grey && c == 0)
            image->cmpts_[c]->type_ = JAS_IMAGE_CT_GRAY_Y;
        else if (rgb && c < 3)
            image->cmpts_[c]->type_ = JAS_IMAGE_CT_RGB_R + c;
    }
    return image;
}

jas_image_t* Decode(jas_stream_t* stream, bool jp2)
{
    const long start = jas_stream_tell(stream);
    if (start < 0)
        return nullptr;
    const bool allowed = jp2 ? Jp2Allowed(stream) : CodeStreamAllowed(stream);
    if (!allowed || jas_stream_seek(stream, start, SEEK_SET) != start)
        return nullptr;

    OpjSource src{stream, start};
    opj_codec_t* codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_stream_t* st = MakeInputStream(&src);
    opj_image_t* img = nullptr;
    jas_image_t* out = nullptr;
    if (codec && st) {
        SilenceCodec(codec);
        opj_dparameters_t params;
        opj_set_default_decoder_parameters(&params);
        // The sizes the header promised were checked above; OpenJPEG's own
        // reading of them must agree before it decodes.
        if (opj_setup_decoder(codec, &params) && opj_read_header(st, codec, &img) && img &&
            img->numcomps >= 1 && img->numcomps <= static_cast<OPJ_UINT32>(kJasMaxComponents) && img->x1 > img->x0 &&
            img->y1 > img->y0 &&
            static_cast<std::uint64_t>(img->x1 - img->x0) * (img->y1 - img->y0) * img->numcomps <= kJasMaxSamples &&
            opj_decode(codec, st, img) && opj_end_decompress(codec, st)) {
            bool complete = true;
            for (OPJ_UINT32 c = 0; c < img->numcomps; ++c)
                complete = complete && img->comps[c].data && img->comps[c].prec >= 1 && img->comps[c].prec <= 31 &&
                           img->comps[c].dx >= 1 && img->comps[c].dy >= 1;
            if (complete)
                out = ToJasImage(img);
        }
    }
    if (img)
        opj_image_destroy(img);
    if (st)
        opj_stream_destroy(st);
    if (codec)
        opj_destroy_codec(codec);
    return out;
}

// The "rate=r" option, or 0 when there is none.
double RateOption(const char* optstr)
{
    if (!optstr)
        return 0;
    const char* p = std::strstr(optstr, "rate=");
    if (!p)
        return 0;
    const double r = std::strtod(p + 5, nullptr);
    return std::isfinite(r) && r > 0 ? r : 0;
}

// A growable buffer OpenJPEG writes into.
struct OpjSink {
    std::vector<unsigned char> bytes;
    std::size_t pos = 0;
};

OPJ_SIZE_T SinkWrite(void* buffer, OPJ_SIZE_T n, void* user)
{
    auto* sink = static_cast<OpjSink*>(user);
    if (sink->pos + n > sink->bytes.size())
        sink->bytes.resize(sink->pos + n);
    std::memcpy(sink->bytes.data() + sink->pos, buffer, n);
    sink->pos += n;
    return n;
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T n, void* user)
{
    auto* sink = static_cast<OpjSink*>(user);
    if (n < 0 && static_cast<std::size_t>(-n) > sink->pos)
        return -1;
    sink->pos = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(sink->pos) + n);
    return n;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T n, void* user)
{
    if (n < 0)
        return OPJ_FALSE;
    static_cast<OpjSink*>(user)->pos = static_cast<std::size_t>(n);
    return OPJ_TRUE;
}

// The coded image, or false.
bool EncodeToMemory(opj_image_t* img, opj_cparameters_t params, bool jp2, OpjSink& sink)
{
    opj_codec_t* codec = opj_create_compress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    // The stream writes to memory: its own buffer only batches the calls.
    opj_stream_t* st = opj_stream_create(4096, OPJ_FALSE);
    bool ok = false;
    if (codec && st) {
        SilenceCodec(codec);
        opj_stream_set_user_data(st, &sink, nullptr);
        opj_stream_set_write_function(st, SinkWrite);
        opj_stream_set_skip_function(st, SinkSkip);
        opj_stream_set_seek_function(st, SinkSeek);
        ok = opj_setup_encoder(codec, &params, img) && opj_start_compress(codec, img, st) && opj_encode(codec, st) &&
             opj_end_compress(codec, st);
    }
    if (st)
        opj_stream_destroy(st);
    if (codec)
        opj_destroy_codec(codec);
    return ok;
}

int Encode(jas_image_t* image, jas_stream_t* stream, const char* optstr, bool jp2)
{
    const int n = jas_image_numcmpts(image);
    const long width = jas_image_cmptwidth(image, 0);
    const long height = jas_image_cmptheight(image, 0);
    opj_image_cmptparm_t parms[kJasMaxComponents];
    std::uint64_t rawBits = 0;
    if (!JasUniform(image, false))
        return -1;
    for (int c = 0; c < n; ++c) {
        const jas_image_cmpt_t* cmpt = image->cmpts_[c];
        parms[c] = opj_image_cmptparm_t{};
        parms[c].dx = parms[c].dy = 1;
        parms[c].w = static_cast<OPJ_UINT32>(width);
        parms[c].h = static_cast<OPJ_UINT32>(height);
        parms[c].prec = static_cast<OPJ_UINT32>(cmpt->prec_);
        parms[c].sgnd = static_cast<OPJ_UINT32>(cmpt->sgnd_);
        rawBits += static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * static_cast<std::uint64_t>(cmpt->prec_);
    }
    const int fam = JAS_CLRSPC_FAM(jas_image_clrspc(image));
    const OPJ_COLOR_SPACE space = fam == JAS_CLRSPC_FAM_RGB && n >= 3 ? OPJ_CLRSPC_SRGB
                                  : fam == JAS_CLRSPC_FAM_GRAY        ? OPJ_CLRSPC_GRAY
                                                                      : OPJ_CLRSPC_UNSPECIFIED;
    // OpenJPEG codes a one-tile image in the image's own sample buffers,
    // so every encoding gets a fresh copy.
    auto encode = [&](const opj_cparameters_t& params, OpjSink& sink) {
        opj_image_t* img = opj_image_create(static_cast<OPJ_UINT32>(n), parms, space);
        if (!img)
            return false;
        img->x1 = static_cast<OPJ_UINT32>(width);
        img->y1 = static_cast<OPJ_UINT32>(height);
        for (int c = 0; c < n; ++c)
            std::memcpy(img->comps[c].data, image->cmpts_[c]->data_,
                        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(std::int32_t));
        const bool ok = EncodeToMemory(img, params, jp2, sink);
        opj_image_destroy(img);
        return ok;
    };

    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.cp_disto_alloc = 1;
    params.tcp_rates[0] = 0.0f;  // lossless
    // Each resolution level halves the picture; the smallest must keep a pixel.
    const long side = std::min(width, height);
    while (params.numresolution > 1 && (1L << (params.numresolution - 1)) > side)
        --params.numresolution;
    params.tcp_mct = n >= 3 ? 1 : 0;

    // A rate of r keeps r of the raw size: OpenJPEG's compression ratio 1 / r.
    // At 1 or more nothing needs to go, and the stream is lossless. A
    // lossless stream that fits the rate anyway is kept: OpenJPEG's rate
    // search would end at all coding passes too, after up to 128 trials.
    const double rate = RateOption(optstr);
    OpjSink sink;
    bool ok = encode(params, sink);
    if (ok && rate > 0 && rate < 1 && static_cast<double>(sink.bytes.size()) > rate * static_cast<double>(rawBits) / 8) {
        params.tcp_rates[0] = static_cast<float>(1.0 / rate);
        sink = OpjSink{};
        ok = encode(params, sink);
    }
    if (!ok || sink.bytes.size() > 0x7FFFFFFF)
        return -1;
    const int size = static_cast<int>(sink.bytes.size());
    return jas_stream_write(stream, sink.bytes.data(), size) == size && jas_stream_flush(stream) == 0 ? 0 : -1;
}

}  // namespace

bool JasJp2Matches(const unsigned char* magic, std::size_t n)
{
    return n >= sizeof kJp2Signature && std::memcmp(magic, kJp2Signature, sizeof kJp2Signature) == 0;
}

bool JasJpcMatches(const unsigned char* magic, std::size_t n)
{
    return n >= 4 && magic[0] == 0xFF && magic[1] == 0x4F && magic[2] == 0xFF && magic[3] == 0x51;
}

jas_image_t* JasJp2Decode(jas_stream_t* stream) { return Decode(stream, true); }
jas_image_t* JasJpcDecode(jas_stream_t* stream) { return Decode(stream, false); }
int JasJp2Encode(jas_image_t* image, jas_stream_t* stream, const char* optstr) { return Encode(image, stream, optstr, true); }
int JasJpcEncode(jas_image_t* image, jas_stream_t* stream, const char* optstr)
{
    return Encode(image, stream, optstr, false);
}
