// JPEG 2000 family codec over the JPEG 2000 library layer.
//
// The library decodes whichever of its formats the data holds. Three
// components of one size and precision become a 24-bit picture; any other
// image offers its components as frames, and the frame to load is decoded
// alone as a grey picture. Precisions other than 1, 4 and 8 bits are first
// converted to three 8-bit sRGB components.
#include "imaging/vxjp2.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxComponents = 64;

struct StreamCloser {
    void operator()(jas_stream_t* s) const { jas_stream_close(s); }
};
struct ImageDestroyer {
    void operator()(jas_image_t* i) const { jas_image_destroy(i); }
};
struct MatrixDestroyer {
    void operator()(jas_matrix_t* m) const { jas_matrix_destroy(m); }
};
struct ProfileDestroyer {
    void operator()(jas_cmprof_t* p) const { jas_cmprof_destroy(p); }
};
using StreamPtr = std::unique_ptr<jas_stream_t, StreamCloser>;
using ImagePtr = std::unique_ptr<jas_image_t, ImageDestroyer>;
using MatrixPtr = std::unique_ptr<jas_matrix_t, MatrixDestroyer>;

// Brackets one call's use of the library.
struct LibrarySession {
    LibrarySession()
    {
        if (jas_init() != 0)
            VxRaise("cannot initialize jasper");
    }
    ~LibrarySession() { jas_cleanup(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
};

// A library stream whose operations go to the VxFile. The table lives as
// long as the stream, which is closed before the file's caller sees it again.
struct AttachedStream {
    AttachedStream(VxFile* file, const char* mode, const char* failure)
    {
        // Descriptor 0 only names the stream: its operations are replaced
        // before any byte moves.
        stream.reset(jas_stream_fdopen(0, mode));
        if (!stream)
            VxRaise(failure);
        JasStreamAttachVxFile(&ops, file, stream.get());
    }
    jas_stream_ops_t ops{};
    StreamPtr stream;
};

const char* FormatName(std::uint32_t formatId)
{
    static const char* const kNames[] = {"jp2", "jpc", "pgx", "pnm", "ras"};
    return formatId >= VXFMT_JP2 && formatId <= VXFMT_RAS ? kNames[formatId - VXFMT_JP2] : "";
}

// One 1-row matrix per component, each as wide as its own component.
std::vector<MatrixPtr> RowMatrices(jas_image_t* image, const char* failure)
{
    std::vector<MatrixPtr> rows;
    for (int c = 0; c < jas_image_numcmpts(image); ++c) {
        rows.emplace_back(jas_matrix_create(1, static_cast<int>(jas_image_cmptwidth(image, c))));
        if (!rows.back())
            VxRaise(failure);
    }
    return rows;
}

void ReadRow(jas_image_t* image, int c, long y, jas_matrix_t* row)
{
    if (jas_image_readcmpt(image, c, 0, y, jas_image_cmptwidth(image, c), 1, row) != 0)
        VxRaise("error: cannot read image data");
}

// A sample scaled from its component's precision to 8 bits, rounded; a
// signed one is moved up by half its range first.
std::uint8_t To8Bits(std::int64_t v, int prec, bool sgnd)
{
    prec = std::clamp(prec, 1, 31);
    if (sgnd)
        v += std::int64_t{1} << (prec - 1);
    const std::int64_t maxv = (std::int64_t{1} << prec) - 1;
    v = std::clamp<std::int64_t>(v, 0, maxv);
    return static_cast<std::uint8_t>(prec == 8 ? v : (v * 255 + maxv / 2) / maxv);
}

// The components of a picture with an alpha channel: grey or red, green,
// blue, and the opacity component, all of one size.
struct AlphaLayout {
    int colour[3] = {-1, -1, -1};  // grey: the same component three times
    int alpha = -1;
};

bool FindAlphaLayout(jas_image_t* img, AlphaLayout& layout)
{
    std::vector<int> colours;
    for (int c = 0; c < jas_image_numcmpts(img); ++c) {
        if (jas_image_cmpttype(img, c) == JAS_IMAGE_CT_OPACITY) {
            if (layout.alpha < 0)
                layout.alpha = c;
        } else {
            colours.push_back(c);
        }
    }
    if (layout.alpha < 0 || (colours.size() != 1 && colours.size() != 3))
        return false;
    for (int i = 0; i < 3; ++i)
        layout.colour[i] = colours[colours.size() == 1 ? 0 : static_cast<std::size_t>(i)];
    const long w = jas_image_cmptwidth(img, layout.alpha), h = jas_image_cmptheight(img, layout.alpha);
    for (int c : layout.colour)
        if (jas_image_cmptwidth(img, c) != w || jas_image_cmptheight(img, c) != h)
            return false;
    return true;
}

}  // namespace

jas_stream_ops_t* JasStreamAttachVxFile(jas_stream_ops_t* ops, VxFile* file, jas_stream_t* stream)
{
    if (stream->obj_)
        jas_free(stream->obj_);
    stream->obj_ = file;
    ops->read_ = JasCxStreamRead;
    ops->write_ = JasCxStreamWrite;
    ops->seek_ = JasCxStreamSeek;
    ops->close_ = JasCxStreamClose;
    stream->ops_ = ops;
    return ops;
}

int JasCxStreamRead(jas_stream_obj_t* obj, char* buf, int cnt)
{
    return cnt <= 0 ? 0 : static_cast<int>(static_cast<VxFile*>(obj)->Read(buf, 1, static_cast<std::size_t>(cnt)));
}

int JasCxStreamWrite(jas_stream_obj_t* obj, char* buf, int cnt)
{
    return cnt <= 0 ? 0 : static_cast<int>(static_cast<VxFile*>(obj)->Write(buf, 1, static_cast<std::size_t>(cnt)));
}

long JasCxStreamSeek(jas_stream_obj_t* obj, long offset, int origin)
{
    auto* file = static_cast<VxFile*>(obj);
    if (offset < -0x7FFFFFFFL || offset > 0x7FFFFFFFL || !file->Seek(static_cast<std::int32_t>(offset), origin))
        return -1;
    return file->Tell();
}

int JasCxStreamClose(jas_stream_obj_t*) { return 1; }

bool VxImageJAS::Decode(VxFile* stream, std::uint32_t formatId)
{
    if (!stream)
        return false;
    try {
        LibrarySession session;
        AttachedStream in(stream, "rb", "error: cannot open standard input");
        ImagePtr image(jas_image_decode(in.stream.get(), -1, nullptr));
        if (!image)
            VxRaise("error: cannot load image data");

        const long width = jas_image_cmptwidth(image.get(), 0);
        const long height = jas_image_cmptheight(image.get(), 0);
        const int depth = jas_image_cmptprec(image.get(), 0);
        if (jas_image_numcmpts(image.get()) > kMaxComponents || jas_image_numcmpts(image.get()) < 0)
            VxRaise("error: too much components");

        // Grey or colour with an opacity component: a 24-bit picture that
        // keeps its alpha, each component scaled to 8 bits.
        AlphaLayout layout;
        if (FindAlphaLayout(image.get(), layout)) {
            jas_image_t* img = image.get();
            if (!Create(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 24, formatId) ||
                !CreateAlphaPlane())
                VxRaise(GetLastError());
            std::vector<MatrixPtr> rows = RowMatrices(img, "error: cannot allocate memory");
            const int order[4] = {layout.colour[2], layout.colour[1], layout.colour[0], layout.alpha};
            for (long y = 0; y < height; ++y) {
                for (int c : order)
                    ReadRow(img, c, y, rows[static_cast<std::size_t>(c)].get());
                const auto line = static_cast<std::uint32_t>(height - 1 - y);
                std::uint8_t* out = GetRowBits(line);
                std::uint8_t* alpha = GetAlphaPointer(0, static_cast<std::int32_t>(line));
                for (int k = 0; k < 4; ++k) {
                    const int c = order[k];
                    const jas_seqent_t* src = rows[static_cast<std::size_t>(c)]->data_;
                    const int prec = jas_image_cmptprec(img, c);
                    const bool sgnd = jas_image_cmptsgnd(img, c) != 0;
                    for (long x = 0; x < width; ++x) {
                        const std::uint8_t v = To8Bits(src[x], prec, sgnd);
                        if (k < 3)
                            out[3 * x + k] = v;
                        else
                            alpha[x] = v;
                    }
                }
            }
            return true;
        }

        if (depth != 1 && depth != 4 && depth != 8) {
            std::unique_ptr<jas_cmprof_t, ProfileDestroyer> profile(jas_cmprof_createfromclrspc(JAS_CLRSPC_SRGB));
            if (!profile)
                VxRaise("cannot create sRGB profile");
            ImagePtr converted(jas_image_chclrspc(image.get(), profile.get(), JAS_CMXFORM_INTENT_PER));
            if (!converted)
                VxRaise("cannot convert to sRGB");
            image = std::move(converted);
        }

        jas_image_t* img = image.get();
        const int count = jas_image_numcmpts(img);
        std::vector<MatrixPtr> rows = RowMatrices(img, "error: cannot allocate memory");

        if (count == 3 && jas_image_cmptwidth(img, 1) == width && jas_image_cmptwidth(img, 2) == width &&
            jas_image_cmptheight(img, 1) == height && jas_image_cmptheight(img, 2) == height &&
            jas_image_cmptprec(img, 1) == jas_image_cmptprec(img, 0) &&
            jas_image_cmptprec(img, 2) == jas_image_cmptprec(img, 0)) {
            if (!Create(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 24, formatId))
                VxRaise(GetLastError());
            for (long y = 0; y < height; ++y) {
                for (int c = 0; c < 3; ++c)
                    ReadRow(img, c, y, rows[static_cast<std::size_t>(c)].get());
                const jas_seqent_t* r = rows[0]->data_;
                const jas_seqent_t* g = rows[1]->data_;
                const jas_seqent_t* b = rows[2]->data_;
                std::uint8_t* out = GetRowBits(static_cast<std::uint32_t>(height - 1 - y));
                for (long x = 0; x < width; ++x) {
                    out[3 * x] = static_cast<std::uint8_t>(b[x]);
                    out[3 * x + 1] = static_cast<std::uint8_t>(g[x]);
                    out[3 * x + 2] = static_cast<std::uint8_t>(r[x]);
                }
            }
        } else {
            m_info.framesFound = count;
            if (m_info.frameToLoad < 0 || m_info.frameToLoad >= count)
                VxRaise("wrong frame!");
            const int c = m_info.frameToLoad;
            const long w = jas_image_cmptwidth(img, c);
            const long h = jas_image_cmptheight(img, c);
            const int prec = jas_image_cmptprec(img, c) > 8 ? 8 : jas_image_cmptprec(img, c);
            if (!Create(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(prec),
                        formatId))
                VxRaise(GetLastError());
            SetGreyRampPalette();
            jas_matrix_t* row = rows[static_cast<std::size_t>(c)].get();
            for (long y = 0; y < h; ++y) {
                ReadRow(img, c, y, row);
                const auto line = static_cast<std::int32_t>(h - 1 - y);
                for (long x = 0; x < w; ++x)
                    SetPixelIndex(static_cast<std::int32_t>(x), line, static_cast<std::uint8_t>(row->data_[x]));
            }
        }
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    }
}

bool VxImageJAS::Encode(VxFile* stream, std::uint32_t formatId)
{
    if (CheckEncodable(stream))
        return false;
    if (IsIndexed() && !HasGreyRampPalette()) {
        SetError("JasPer can save only RGB or GrayScale images");
        return false;
    }
    try {
        LibrarySession session;
        AttachedStream out(stream, "wb", "error: cannot open standard output");

        const int count = IsIndexed() ? 1 : 3;
        const long width = static_cast<long>(GetWidth());
        const long height = static_cast<long>(GetHeight());
        jas_image_cmptparm_t parms[3];
        for (int c = 0; c < count; ++c)
            parms[c] = jas_image_cmptparm_t{0, 0, 1, 1, width, height, 8, 0};
        ImagePtr image(jas_image_create(count, parms, JAS_CLRSPC_UNKNOWN));
        if (!image)
            VxRaise("error : jas_image_create");
        if (count == 3) {
            jas_image_setclrspc(image.get(), JAS_CLRSPC_SRGB);
            for (int c = 0; c < 3; ++c)
                jas_image_setcmpttype(image.get(), c, JAS_IMAGE_CT_RGB_R + c);
        } else {
            jas_image_setclrspc(image.get(), JAS_CLRSPC_SGRAY);
            jas_image_setcmpttype(image.get(), 0, JAS_IMAGE_CT_GRAY_Y);
        }
        std::vector<MatrixPtr> rows = RowMatrices(image.get(), "error : can't allocate memory");

        for (long y = 0; y < height; ++y) {
            for (long x = 0; x < width; ++x) {
                const auto px = static_cast<std::int32_t>(x);
                const auto py = static_cast<std::int32_t>(y);
                if (count == 1) {
                    rows[0]->data_[x] = GetPixelIndex(px, py);
                } else {
                    const RGBQUAD q = GetPixelColor(px, py, true);
                    rows[0]->data_[x] = q.rgbRed;
                    rows[1]->data_[x] = q.rgbGreen;
                    rows[2]->data_[x] = q.rgbBlue;
                }
            }
            for (int c = 0; c < count; ++c)
                if (jas_image_writecmpt(image.get(), c, 0, height - 1 - y, width, 1, rows[static_cast<std::size_t>(c)].get()) != 0)
                    VxRaise("error : jas_image_writecmpt");
        }

        if (formatId == VXFMT_PGX && !IsIndexed())
            VxRaise("PGX can save only GrayScale images");
        const int format = jas_image_strtofmt(FormatName(formatId));
        char options[32];
        std::snprintf(options, sizeof options, "rate=%.3f", m_info.jpegQuality * 0.01);
        if (jas_image_encode(image.get(), out.stream.get(), format, options) != 0)
            VxRaise("error: cannot encode image\n");
        jas_stream_flush(out.stream.get());
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    }
}
