#include "jpeg.h"

#include "gdi/gdi_p.h"
#include "rtl/streams.h"
#include "win/memlimit.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// libjpeg reports errors by longjmp; the setjmp sits in the one function
// below whose state is plain data, so no destructor is ever skipped.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool cutShort;
};

void OnError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    cinfo->err->format_message(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are not printed; a premature end of the data is remembered.
void OnMessage(j_common_ptr cinfo, int level)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        err->cutShort = true;
}

// Progressive files have ten scans or so; each scan costs a pass over the
// picture's coefficients, so a few bytes per scan can keep a decoder busy
// for minutes. Files with more scans than any encoder writes are refused, as
// libjpeg-turbo's own tools can bound them.
constexpr int kMaxScans = 100;
// The most pixel bytes one byte of a JPEG file can stand for.
constexpr std::uint64_t kMaxExpansion = 1u << 14;

void LimitScans(j_common_ptr cinfo)
{
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans)
        return;
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "JPEG file has too many scans");
    std::longjmp(err->jump, 1);
}

struct DecodeJob {
    const unsigned char* data;
    unsigned long size;
    GdiBitmap* bitmap;  // out
    bool cutShort;      // out: the data ended before the picture
    const char* error;  // out
    std::string tooBig;
    char message[JMSG_LENGTH_MAX];
};

GdiBitmap* NewTopDown32(int width, int height)
{
    BITMAPINFO bmi {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    return CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, nullptr, nullptr, 0);
}

// CMYK and YCCK files (which libjpeg gives as CMYK) in the inverted form
// Adobe's programs write, which every reader takes: each colour is its
// sample times K. Lines go through `line`, the pixels into the bitmap's
// blue, green, red and pad bytes.
void CmykToBgrx(const std::uint8_t* line, std::uint8_t* row, JDIMENSION width)
{
    for (JDIMENSION x = 0; x < width; ++x, line += 4, row += 4) {
        const unsigned k = line[3];
        row[0] = static_cast<std::uint8_t>(k * line[2] / 255);
        row[1] = static_cast<std::uint8_t>(k * line[1] / 255);
        row[2] = static_cast<std::uint8_t>(k * line[0] / 255);
        row[3] = 0xFF;
    }
}

bool RunDecode(DecodeJob& job, std::uint8_t* line)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    err.base.emit_message = OnMessage;
    err.message[0] = 0;
    err.cutShort = false;
    job.bitmap = nullptr;
    if (setjmp(err.jump)) {
        std::memcpy(job.message, err.message, sizeof job.message);
        job.error = job.message;
        jpeg_destroy_decompress(&cinfo);
        if (job.bitmap)
            DeleteObject(job.bitmap);
        job.bitmap = nullptr;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    // libjpeg's own working memory (the coefficients of a multi-scan file)
    // counts against what a picture may take; past it libjpeg fails.
    cinfo.mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(
        PictureMemoryLimit(), static_cast<std::uint64_t>(std::numeric_limits<long>::max())));
    progress.progress_monitor = LimitScans;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, job.data, job.size);
    jpeg_read_header(&cinfo, TRUE);
    // Straight into the bitmap's rows as blue, green, red and a pad byte;
    // four-colour files through a line of their own.
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(&cinfo);
    const std::uint64_t width = cinfo.output_width, height = cinfo.output_height;
    if (width == 0 || height == 0 || width > 65535 || height > 65535 || !PictureFitsInMemory(width * height * 4)) {
        job.tooBig = PictureTooBigMessage(width, height);
        job.error = job.tooBig.c_str();
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (width * height * 3 / kMaxExpansion > job.size) {
        job.tooBig = PictureDataMissingMessage(width, height);
        job.error = job.tooBig.c_str();
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    job.bitmap = NewTopDown32(static_cast<int>(width), static_cast<int>(height));
    if (!job.bitmap) {
        job.tooBig = PictureTooBigMessage(width, height);
        job.error = job.tooBig.c_str();
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    if (cmyk) {
        JSAMPROW row = line;
        while (cinfo.output_scanline < cinfo.output_height) {
            std::uint8_t* target = job.bitmap->surface.Row(static_cast<int>(cinfo.output_scanline));
            jpeg_read_scanlines(&cinfo, &row, 1);
            CmykToBgrx(line, target, cinfo.output_width);
        }
    } else {
        JSAMPROW rows[16];
        while (cinfo.output_scanline < cinfo.output_height) {
            JDIMENSION n = 0;
            for (; n < 16 && cinfo.output_scanline + n < cinfo.output_height; ++n)
                rows[n] = job.bitmap->surface.Row(static_cast<int>(cinfo.output_scanline + n));
            jpeg_read_scanlines(&cinfo, rows, n);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    job.cutShort = err.cutShort;
    return true;
}

struct EncodeJob {
    const GdiSurface* surface;
    int quality;
    bool gray;
    bool progressive;
    unsigned char* out;  // malloc'ed by libjpeg
    unsigned long outSize;
    const char* error;
    char message[JMSG_LENGTH_MAX];
};

bool RunEncode(EncodeJob& job, std::uint8_t* rowBuffer)
{
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    err.base.emit_message = OnMessage;
    err.message[0] = 0;
    job.out = nullptr;
    job.outSize = 0;
    if (setjmp(err.jump)) {
        std::memcpy(job.message, err.message, sizeof job.message);
        job.error = job.message;
        jpeg_destroy_compress(&cinfo);
        std::free(job.out);
        job.out = nullptr;
        return false;
    }
    const GdiSurface& s = *job.surface;
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &job.out, &job.outSize);
    cinfo.image_width = static_cast<JDIMENSION>(s.width);
    cinfo.image_height = static_cast<JDIMENSION>(s.height);
    // 32- and 24-bit rows go in as they are; palette rows are widened into
    // rowBuffer first.
    cinfo.input_components = s.bpp == 24 ? 3 : 4;
    cinfo.in_color_space = s.bpp == 24 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    if (job.gray)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    if (job.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        JSAMPROW row;
        if (s.bpp == 32 || s.bpp == 24) {
            row = s.Row(y);
        } else {
            s.ReadSpan(0, y, s.width, reinterpret_cast<std::uint32_t*>(rowBuffer));
            row = rowBuffer;
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

TJPEGImage::TJPEGImage() : m_bitmap(std::make_unique<TBitmap>()) {}
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) { m_bitmap->Draw(canvas, rect); }

void TJPEGImage::LoadFromStream(TStream& stream)
{
    const std::int64_t size = stream.Size() - stream.Position();
    if (size <= 0 || !PictureFitsInMemory(static_cast<std::uint64_t>(size)))
        throw EInvalidGraphic("JPEG error #1");
    std::string data(static_cast<std::size_t>(size), '\0');
    stream.ReadBuffer(data.data(), size);
    DecodeJob job {reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()),
        nullptr, false, nullptr, {}, {}};
    // A line of four samples for the colour spaces libjpeg cannot give as
    // blue, green, red; its width is a 16-bit field of the file.
    std::vector<std::uint8_t> line(65535 * 4);
    if (!RunDecode(job, line.data()))
        throw EInvalidGraphic(std::string("JPEG error: ") + (job.error ? job.error : "unreadable data"));
    auto next = std::make_unique<TBitmap>();
    next->TakeHandle(job.bitmap, pf32bit);
    m_bitmap = std::move(next);
    m_data = std::move(data);
    SetDamaged(job.cutShort);
    Changed();
}

void TJPEGImage::Assign(const TBitmap& bitmap)
{
    auto next = std::make_unique<TBitmap>();
    next->Assign(bitmap);
    m_bitmap = std::move(next);
    m_data.clear();
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream)
{
    if (!m_data.empty()) {
        stream.WriteBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
        return;
    }
    if (m_bitmap->Empty())
        throw EInvalidGraphicOperation("Cannot save an empty JPEG image");
    const GdiSurface& s = m_bitmap->Handle()->surface;
    std::vector<std::uint8_t> rowBuffer(static_cast<std::size_t>(s.width) * 4);
    EncodeJob job {&s, CompressionQuality, Grayscale, ProgressiveEncoding, nullptr, 0, nullptr, {}};
    if (!RunEncode(job, rowBuffer.data()))
        throw EInvalidGraphic(std::string("JPEG error: ") + (job.error ? job.error : "cannot encode"));
    std::unique_ptr<unsigned char, decltype(&std::free)> out(job.out, &std::free);
    stream.WriteBuffer(out.get(), static_cast<std::int64_t>(job.outSize));
}
