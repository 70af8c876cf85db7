#include "jpeg.h"

#include "gdi/gdi_p.h"
#include "rtl/streams.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {

// libjpeg reports errors by longjmp; the setjmp sits in the one function
// below whose state is plain data, so no destructor is ever skipped.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    cinfo->err->format_message(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

struct DecodeJob {
    const unsigned char* data;
    unsigned long size;
    GdiBitmap* bitmap;  // out
    const char* error;  // out
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

bool RunDecode(DecodeJob& job)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    err.base.emit_message = OnMessage;
    err.message[0] = 0;
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
    jpeg_mem_src(&cinfo, job.data, job.size);
    jpeg_read_header(&cinfo, TRUE);
    // Straight into the bitmap's rows as blue, green, red and a pad byte.
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(&cinfo);
    const std::uint64_t bytes = static_cast<std::uint64_t>(cinfo.output_width) * cinfo.output_height * 4;
    if (cinfo.output_width == 0 || cinfo.output_height == 0 || bytes > kGraphicMaxMemory
        || cinfo.output_width > 65535 || cinfo.output_height > 65535) {
        job.error = "JPEG image is too large";
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    job.bitmap = NewTopDown32(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    if (!job.bitmap) {
        job.error = "Out of memory";
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        JDIMENSION n = 0;
        for (; n < 16 && cinfo.output_scanline + n < cinfo.output_height; ++n)
            rows[n] = job.bitmap->surface.Row(static_cast<int>(cinfo.output_scanline + n));
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
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
    // Even the best coding takes a byte for many pixels; a file this large
    // could only hold a picture past the memory limit.
    if (size <= 0 || static_cast<std::uint64_t>(size) > kGraphicMaxMemory)
        throw EInvalidGraphic("JPEG error #1");
    std::string data(static_cast<std::size_t>(size), '\0');
    stream.ReadBuffer(data.data(), size);
    DecodeJob job {reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()),
        nullptr, nullptr, {}};
    if (!RunDecode(job))
        throw EInvalidGraphic(std::string("JPEG error: ") + (job.error ? job.error : "unreadable data"));
    auto next = std::make_unique<TBitmap>();
    next->TakeHandle(job.bitmap, pf32bit);
    m_bitmap = std::move(next);
    m_data = std::move(data);
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
