// Images, matrices, the conversion to sRGB and the format table.
#include "jpeg2000/jas_p.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Detection order: the signatures are distinct, so the order only decides
// which decoder sees a stream first.
const JasFormat kFormats[] = {
    {"pnm", JasPnmMatches, JasPnmDecode, JasPnmEncode},
    {"ras", JasRasMatches, JasRasDecode, JasRasEncode},
    {"jp2", JasJp2Matches, JasJp2Decode, JasJp2Encode},
    {"jpc", JasJpcMatches, JasJpcDecode, JasJpcEncode},
    {"pgx", JasPgxMatches, JasPgxDecode, JasPgxEncode},
};
constexpr int kFormatCount = static_cast<int>(sizeof kFormats / sizeof kFormats[0]);

void FreeComponent(jas_image_cmpt_t* c)
{
    if (!c)
        return;
    if (c->data_ && c->free_)
        c->free_(c->data_);
    delete c;
}

// A sample scaled from its precision to 8 bits, rounded; signed samples are
// moved up by half their range first.
std::int32_t To8Bits(std::int64_t v, int prec, bool sgnd)
{
    if (sgnd)
        v += std::int64_t{1} << (prec - 1);
    const std::int64_t maxv = JasMaxValue(prec);
    v = std::clamp<std::int64_t>(v, 0, maxv);
    if (prec == 8)
        return static_cast<std::int32_t>(v);
    return static_cast<std::int32_t>((v * 255 + maxv / 2) / maxv);
}

}  // namespace

int jas_init() { return 0; }

void jas_cleanup() {}

bool JasSizeAllowed(jas_stream_t* stream, std::uint64_t width, std::uint64_t height, std::uint64_t components,
                    std::uint64_t numerator, std::uint64_t denominator)
{
    if (width == 0 || height == 0 || components == 0 || components > kJasMaxComponents || denominator == 0)
        return false;
    if (width > static_cast<std::uint64_t>(kJasMaxSide) || height > static_cast<std::uint64_t>(kJasMaxSide))
        return false;
    const std::uint64_t samples = width * height * components;
    if (samples > kJasMaxSamples)
        return false;
    const long here = jas_stream_tell(stream);
    const long length = jas_stream_length(stream);
    if (here < 0 || length < 0)
        return true;
    const std::uint64_t left = length > here ? static_cast<std::uint64_t>(length - here) : 0;
    return samples * numerator / denominator <= left;
}

jas_image_t* jas_image_create(int numcmpts, const jas_image_cmptparm_t* cmptparms, int clrspc)
{
    if (numcmpts < 0 || numcmpts > kJasMaxComponents || (numcmpts > 0 && !cmptparms))
        return nullptr;
    std::uint64_t total = 0;
    for (int i = 0; i < numcmpts; ++i) {
        const jas_image_cmptparm_t& p = cmptparms[i];
        if (p.width <= 0 || p.height <= 0 || p.width > kJasMaxSide || p.height > kJasMaxSide || p.prec < 1 ||
            p.prec > 31)
            return nullptr;
        total += static_cast<std::uint64_t>(p.width) * static_cast<std::uint64_t>(p.height);
    }
    if (total > kJasMaxSamples)
        return nullptr;
    auto* image = new (std::nothrow) jas_image_t{};
    if (!image)
        return nullptr;
    image->clrspc_ = clrspc;
    image->cmpts_ = static_cast<jas_image_cmpt_t**>(std::calloc(static_cast<std::size_t>(std::max(numcmpts, 1)),
                                                                sizeof(jas_image_cmpt_t*)));
    if (!image->cmpts_) {
        delete image;
        return nullptr;
    }
    for (int i = 0; i < numcmpts; ++i) {
        const jas_image_cmptparm_t& p = cmptparms[i];
        auto* c = new (std::nothrow) jas_image_cmpt_t{};
        const std::size_t n = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
        if (c)
            c->data_ = static_cast<std::int32_t*>(std::calloc(n, sizeof(std::int32_t)));
        if (!c || !c->data_) {
            delete c;
            jas_image_destroy(image);
            return nullptr;
        }
        c->free_ = std::free;
        c->tlx_ = p.tlx;
        c->tly_ = p.tly;
        c->hstep_ = p.hstep;
        c->vstep_ = p.vstep;
        c->width_ = p.width;
        c->height_ = p.height;
        c->prec_ = p.prec;
        c->sgnd_ = p.sgnd;
        c->type_ = JAS_IMAGE_CT_UNKNOWN;
        image->cmpts_[i] = c;
        image->numcmpts_ = i + 1;
    }
    return image;
}

void jas_image_destroy(jas_image_t* image)
{
    if (!image)
        return;
    for (int i = 0; i < image->numcmpts_; ++i)
        FreeComponent(image->cmpts_[i]);
    std::free(image->cmpts_);
    delete image;
}

bool JasUniform(const jas_image_t* image, bool samePrecision)
{
    const jas_image_cmpt_t* first = image->cmpts_[0];
    for (int c = 1; c < image->numcmpts_; ++c) {
        const jas_image_cmpt_t* cmpt = image->cmpts_[c];
        if (cmpt->width_ != first->width_ || cmpt->height_ != first->height_ ||
            (samePrecision && cmpt->prec_ != first->prec_))
            return false;
    }
    return true;
}

jas_image_t* JasCreateUniform(int count, long width, long height, int prec, bool sgnd, int clrspc)
{
    jas_image_cmptparm_t parms[kJasMaxComponents];
    if (count < 1 || count > kJasMaxComponents)
        return nullptr;
    for (int i = 0; i < count; ++i)
        parms[i] = jas_image_cmptparm_t{0, 0, 1, 1, width, height, prec, sgnd ? 1 : 0};
    return jas_image_create(count, parms, clrspc);
}

jas_matrix_t* jas_matrix_create(int numrows, int numcols)
{
    if (numrows < 0 || numcols < 0 || static_cast<std::uint64_t>(numrows) * static_cast<std::uint64_t>(numcols) >
                                          kJasMaxSamples)
        return nullptr;
    auto* m = new (std::nothrow) jas_matrix_t{};
    if (!m)
        return nullptr;
    m->numrows_ = numrows;
    m->numcols_ = numcols;
    m->data_ = static_cast<jas_seqent_t*>(
        std::calloc(std::max<std::size_t>(1, static_cast<std::size_t>(numrows) * static_cast<std::size_t>(numcols)),
                    sizeof(jas_seqent_t)));
    if (!m->data_) {
        delete m;
        return nullptr;
    }
    return m;
}

void jas_matrix_destroy(jas_matrix_t* matrix)
{
    if (!matrix)
        return;
    std::free(matrix->data_);
    delete matrix;
}

namespace {

// The component when the block lies inside it and the matrix holds it.
jas_image_cmpt_t* BlockComponent(jas_image_t* image, int c, long x, long y, long width, long height,
                                 const jas_matrix_t* data)
{
    if (!image || !data || c < 0 || c >= image->numcmpts_ || x < 0 || y < 0 || width < 0 || height < 0)
        return nullptr;
    jas_image_cmpt_t* cmpt = image->cmpts_[c];
    if (width > cmpt->width_ - x || height > cmpt->height_ - y)
        return nullptr;
    if (height > data->numrows_ || width > data->numcols_)
        return nullptr;
    return cmpt;
}

}  // namespace

int jas_image_readcmpt(jas_image_t* image, int c, long x, long y, long width, long height, jas_matrix_t* data)
{
    jas_image_cmpt_t* cmpt = BlockComponent(image, c, x, y, width, height, data);
    if (!cmpt)
        return -1;
    for (long i = 0; i < height; ++i)
        std::memcpy(data->data_ + i * data->numcols_, cmpt->data_ + (y + i) * cmpt->width_ + x,
                    static_cast<std::size_t>(width) * sizeof(std::int32_t));
    return 0;
}

int jas_image_writecmpt(jas_image_t* image, int c, long x, long y, long width, long height, const jas_matrix_t* data)
{
    jas_image_cmpt_t* cmpt = BlockComponent(image, c, x, y, width, height, data);
    if (!cmpt)
        return -1;
    for (long i = 0; i < height; ++i)
        std::memcpy(cmpt->data_ + (y + i) * cmpt->width_ + x, data->data_ + i * data->numcols_,
                    static_cast<std::size_t>(width) * sizeof(std::int32_t));
    return 0;
}

jas_cmprof_t* jas_cmprof_createfromclrspc(int clrspc)
{
    if (clrspc != JAS_CLRSPC_SRGB)
        return nullptr;
    return new (std::nothrow) jas_cmprof_t{clrspc};
}

void jas_cmprof_destroy(jas_cmprof_t* prof) { delete prof; }

jas_image_t* jas_image_chclrspc(jas_image_t* image, const jas_cmprof_t* outprof, int)
{
    if (!image || !outprof || outprof->clrspc_ != JAS_CLRSPC_SRGB || image->numcmpts_ < 1)
        return nullptr;
    const jas_image_cmpt_t* first = image->cmpts_[0];
    // Grey images (and any with fewer than three components) give their
    // first component to all three; others their first three components.
    const bool grey = image->numcmpts_ < 3 || JAS_CLRSPC_FAM(image->clrspc_) == JAS_CLRSPC_FAM_GRAY;
    jas_image_t* out = JasCreateUniform(3, first->width_, first->height_, 8, false, JAS_CLRSPC_SRGB);
    if (!out)
        return nullptr;
    for (int c = 0; c < 3; ++c) {
        const jas_image_cmpt_t* src = image->cmpts_[grey ? 0 : c];
        jas_image_cmpt_t* dst = out->cmpts_[c];
        dst->type_ = c;
        for (long y = 0; y < dst->height_; ++y) {
            // Components of another size are sampled at the nearest point.
            const long sy = src->height_ == dst->height_ ? y : y * src->height_ / dst->height_;
            const std::int32_t* srow = src->data_ + sy * src->width_;
            std::int32_t* drow = dst->data_ + y * dst->width_;
            for (long x = 0; x < dst->width_; ++x) {
                const long sx = src->width_ == dst->width_ ? x : x * src->width_ / dst->width_;
                drow[x] = To8Bits(srow[sx], src->prec_, src->sgnd_ != 0);
            }
        }
    }
    return out;
}

int jas_image_strtofmt(const char* name)
{
    if (!name)
        return -1;
    for (int i = 0; i < kFormatCount; ++i)
        if (std::strcmp(kFormats[i].name, name) == 0)
            return i;
    return -1;
}

int jas_image_getfmt(jas_stream_t* stream)
{
    unsigned char magic[16];
    const long here = jas_stream_tell(stream);
    if (here < 0)
        return -1;
    const int n = jas_stream_read(stream, magic, sizeof magic);
    if (jas_stream_seek(stream, here, SEEK_SET) != here)
        return -1;
    for (int i = 0; i < kFormatCount; ++i)
        if (kFormats[i].matches(magic, static_cast<std::size_t>(std::max(n, 0))))
            return i;
    return -1;
}

jas_image_t* jas_image_decode(jas_stream_t* stream, int fmt, const char*)
{
    if (!stream)
        return nullptr;
    if (fmt < 0)
        fmt = jas_image_getfmt(stream);
    if (fmt < 0 || fmt >= kFormatCount)
        return nullptr;
    return kFormats[fmt].decode(stream);
}

int jas_image_encode(jas_image_t* image, jas_stream_t* stream, int fmt, const char* optstr)
{
    if (!image || !stream || fmt < 0 || fmt >= kFormatCount || image->numcmpts_ < 1)
        return -1;
    return kFormats[fmt].encode(image, stream, optstr);
}
