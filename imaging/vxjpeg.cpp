// JPEG decoding and encoding through libjpeg.
//
// libjpeg reports fatal errors through an error handler that must not
// return: ours records the message and jumps back to the setjmp in
// RunDecode or RunEncode. Nothing with a destructor lives in those two
// functions, in the source and destination callbacks, or anywhere between
// a jump and its target; what must be freed after a jump is held by the
// job as plain pointers.
#include "imaging/vxjpeg.h"

#include "imaging/imageiter.h"
#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr std::size_t kBufferSize = 4096;
// The most pixel bytes one byte of a JPEG file can stand for (a flat
// picture coded arithmetically comes near it).
constexpr std::uint64_t kMaxExpansion = 1u << 14;
// Progressive files have ten scans or so; each scan costs a pass over the
// picture's coefficients, so a few bytes per scan can keep a decoder busy
// for minutes. Files with more scans than any encoder writes are refused, as
// libjpeg-turbo's own tools can bound them.
constexpr int kMaxScans = 100;

constexpr const char* kTooManyScans = "JPEG file has too many scans";
constexpr const char* kNotRgbOrGrey = "JPEG can save only RGB or GreyScale images";

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char* text;  // the image's last-error text
};

// libjpeg's fatal errors: the message goes into the image's last error and
// control returns to the jump point.
void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    std::strncpy(err->text, message, 255);
    err->text[255] = '\0';
    std::longjmp(err->jump, 1);
}

// Warnings (a premature end of the data, say) are not printed: the picture
// is completed and nobody reads a desktop program's standard error.
void JpegQuiet(j_common_ptr) {}

void InstallErrorHandler(j_common_ptr cinfo, JpegError& err, char* text)
{
    cinfo->err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.output_message = JpegQuiet;
    err.text = text;
}

// libjpeg calls it between the steps of a decode: one scan too many ends
// the decode as a fatal error does.
void LimitScans(j_common_ptr cinfo)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number <= kMaxScans)
        return;
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    std::strncpy(err->text, kTooManyScans, 255);
    err->text[255] = '\0';
    std::longjmp(err->jump, 1);
}

}  // namespace

// The libjpeg source and destination over a VxFile, with one 4096-byte
// buffer. An object serves either decoding or encoding.
class VxImageJPG::VxFileJpg : public jpeg_destination_mgr, public jpeg_source_mgr {
public:
    explicit VxFileJpg(VxFile* file) : m_file(file)
    {
        jpeg_destination_mgr& d = *this;
        d.next_output_byte = nullptr;
        d.free_in_buffer = 0;
        d.init_destination = InitDestination;
        d.empty_output_buffer = EmptyOutputBuffer;
        d.term_destination = TermDestination;
        jpeg_source_mgr& s = *this;
        s.next_input_byte = nullptr;
        s.bytes_in_buffer = 0;
        s.init_source = InitSource;
        s.fill_input_buffer = FillInputBuffer;
        s.skip_input_data = SkipInputData;
        s.resync_to_restart = jpeg_resync_to_restart;
        s.term_source = TermSource;
    }

    static void InitSource(j_decompress_ptr cinfo) { Of(cinfo)->m_startOfFile = true; }

    static boolean FillInputBuffer(j_decompress_ptr cinfo)
    {
        VxFileJpg* self = Of(cinfo);
        std::size_t n = self->m_file->Read(self->m_buffer, 1, kBufferSize);
        if (n == 0) {
            if (self->m_startOfFile)
                ERREXIT(cinfo, JERR_INPUT_EMPTY);
            // The picture ends early: libjpeg completes it after an end of
            // image marker put in the data's place.
            WARNMS(cinfo, JWRN_JPEG_EOF);
            self->m_buffer[0] = 0xFF;
            self->m_buffer[1] = JPEG_EOI;
            n = 2;
            self->m_atEnd = true;
        }
        self->next_input_byte = self->m_buffer;
        self->bytes_in_buffer = n;
        self->m_startOfFile = false;
        return TRUE;
    }

    static void SkipInputData(j_decompress_ptr cinfo, long count)
    {
        if (count <= 0)
            return;
        VxFileJpg* self = Of(cinfo);
        auto n = static_cast<std::size_t>(count);
        while (n > self->bytes_in_buffer) {
            n -= self->bytes_in_buffer;
            FillInputBuffer(cinfo);
            // Past the end only the inserted end marker is left to read.
            if (self->m_atEnd)
                return;
        }
        self->next_input_byte += n;
        self->bytes_in_buffer -= n;
    }

    static void TermSource(j_decompress_ptr) {}

    VxFile* File() const { return m_file; }
    // The data ended before the picture did.
    bool CutShort() const { return m_atEnd; }
    std::size_t BytesBuffered() const { return static_cast<const jpeg_source_mgr&>(*this).bytes_in_buffer; }

    static void InitDestination(j_compress_ptr cinfo)
    {
        VxFileJpg* self = Of(cinfo);
        self->next_output_byte = self->m_buffer;
        self->free_in_buffer = kBufferSize;
    }

    static boolean EmptyOutputBuffer(j_compress_ptr cinfo)
    {
        VxFileJpg* self = Of(cinfo);
        if (self->m_file->Write(self->m_buffer, 1, kBufferSize) != kBufferSize)
            ERREXIT(cinfo, JERR_FILE_WRITE);
        self->next_output_byte = self->m_buffer;
        self->free_in_buffer = kBufferSize;
        return TRUE;
    }

    static void TermDestination(j_compress_ptr cinfo)
    {
        VxFileJpg* self = Of(cinfo);
        const std::size_t count = kBufferSize - self->free_in_buffer;
        if (count > 0 && self->m_file->Write(self->m_buffer, 1, count) != count)
            ERREXIT(cinfo, JERR_FILE_WRITE);
        self->m_file->Flush();
        if (self->m_file->Error())
            ERREXIT(cinfo, JERR_FILE_WRITE);
    }

private:
    static VxFileJpg* Of(j_decompress_ptr cinfo) { return static_cast<VxFileJpg*>(cinfo->src); }
    static VxFileJpg* Of(j_compress_ptr cinfo) { return static_cast<VxFileJpg*>(cinfo->dest); }

    VxFile* m_file;
    JOCTET m_buffer[kBufferSize];
    bool m_startOfFile = false;
    bool m_atEnd = false;
};

struct VxImageJPG::DecodeJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::uint8_t* line;  // for lines wider than an image row takes
};

struct VxImageJPG::EncodeJob {
    jpeg_compress_struct cinfo;
    JpegError err;
    std::uint8_t* line;
};

VxImageJPG::VxImageJPG() : VxImage(VXFMT_JPG), m_ditherMode(JDITHER_FS) {}

VxImageJPG::~VxImageJPG() = default;

bool VxImageJPG::ReadExif(VxFile* stream)
{
    // The old reader holds the sections the old record points into.
    m_exif.reset();
    m_exifRecord = ExifInfoRecord{};
    m_exif = std::make_unique<VxExifInfo>(&m_exifRecord);
    const std::int32_t position = stream->Tell();
    m_exif->ReadSections(stream, VxExifInfo::kReadExif);
    stream->Seek(position, 0);
    return m_exifRecord.isExif;
}

bool VxImageJPG::Decode(VxFile* stream)
{
    if (!stream) {
        SetError("null file handler");
        return false;
    }
    const bool exifFound = ReadExif(stream);
    VxFileJpg source(stream);
    DecodeJob job{};
    return RunDecode(job, source, exifFound);
}

bool VxImageJPG::RunDecode(DecodeJob& job, VxFileJpg& source, bool exifFound)
{
    jpeg_decompress_struct& cinfo = job.cinfo;
    InstallErrorHandler(reinterpret_cast<j_common_ptr>(&cinfo), job.err, m_info.lastError);
    if (setjmp(job.err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(job.line);
        job.line = nullptr;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    // libjpeg's own working memory (the coefficients of a multi-scan file)
    // is a picture's too; beyond it libjpeg fails instead of allocating.
    cinfo.mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(
        PictureMemoryLimit(), static_cast<std::uint64_t>(std::numeric_limits<long>::max())));
    cinfo.src = &source;
    job.progress.progress_monitor = LimitScans;
    cinfo.progress = &job.progress;
    jpeg_read_header(&cinfo, TRUE);

    const std::uint32_t options = GetFormatOption(VXFMT_JPG);
    if (options & VXJPG_DECODE_GREY)
        cinfo.out_color_space = JCS_GRAYSCALE;
    if (options & VXJPG_QUANTIZE) {
        cinfo.quantize_colors = TRUE;
        cinfo.desired_number_of_colors = m_info.jpegQuality;
    }
    if (options & VXJPG_DITHER)
        cinfo.dither_mode = static_cast<J_DITHER_MODE>(m_ditherMode);
    if (options & VXJPG_ONE_PASS)
        cinfo.two_pass_quantize = FALSE;
    if (options & VXJPG_NO_FANCY)
        cinfo.do_fancy_upsampling = FALSE;
    cinfo.scale_num = 1;
    cinfo.scale_denom = m_info.jpegScale ? m_info.jpegScale : 1;
    const bool quantized = cinfo.quantize_colors;
    // Colour lines come out in the image's own blue, green, red order.
    if (!quantized && cinfo.out_color_space == JCS_RGB)
        cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_calc_output_dimensions(&cinfo);

    if (m_info.stopRequest == -1) {
        m_header.biWidth = static_cast<LONG>(cinfo.output_width);
        m_header.biHeight = static_cast<LONG>(cinfo.output_height);
        SetError("output dimensions returned");
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    // A few header bytes can ask for gigabytes: the file must be able to
    // fill what its header asks for before libjpeg or we allocate it.
    {
        // What the source has read ahead counts with what the file still
        // holds.
        VxReader in(source.File());
        const std::int64_t left = in.Remaining();
        const std::uint64_t bytes = VxMulSat(VxMulSat(cinfo.output_width, cinfo.output_height),
                                             std::max(3, cinfo.num_components));
        if (left >= 0 && bytes / kMaxExpansion > static_cast<std::uint64_t>(left) + source.BytesBuffered()) {
            SetError(PictureDataMissingMessage(cinfo.output_width, cinfo.output_height));
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
        // The coefficients libjpeg keeps for a multi-scan file count too.
        if (!PictureFitsInMemory(VxMulSat(VxMulSat(cinfo.output_width, cinfo.output_height), 3))) {
            SetError(PictureTooBigMessage(cinfo.output_width, cinfo.output_height));
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
    }

    jpeg_start_decompress(&cinfo);
    const int components = cinfo.output_components;
    if (!Create(cinfo.output_width, cinfo.output_height, 8 * static_cast<std::uint32_t>(components), VXFMT_JPG)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    if (exifFound) {
        if (m_exifRecord.xResolution != 0 && m_exifRecord.resolutionUnit != 0)
            SetXDPI(VxClampToInt32(m_exifRecord.xResolution / m_exifRecord.resolutionUnit));
        if (m_exifRecord.yResolution != 0 && m_exifRecord.resolutionUnit != 0)
            SetYDPI(VxClampToInt32(m_exifRecord.yResolution / m_exifRecord.resolutionUnit));
    } else if (cinfo.density_unit == 2) {
        SetXDPI(static_cast<std::int32_t>(std::floor(cinfo.X_density * 2.54 + 0.5)));
        SetYDPI(static_cast<std::int32_t>(std::floor(cinfo.Y_density * 2.54 + 0.5)));
    } else {
        SetXDPI(cinfo.X_density);
        SetYDPI(cinfo.Y_density);
    }

    if (quantized) {
        const bool colour = cinfo.out_color_components >= 3;
        SetPaletteChannels(static_cast<std::uint32_t>(cinfo.actual_number_of_colors), cinfo.colormap[0],
                           colour ? cinfo.colormap[1] : nullptr, colour ? cinfo.colormap[2] : nullptr);
    } else if (components == 1) {
        SetGreyRampPalette();
    }

    // Lines of up to three samples a pixel fit an image row and are decoded
    // straight into it; wider ones go through a line of their own.
    const std::size_t lineBytes = static_cast<std::size_t>(cinfo.output_width) * components;
    if (components > 3) {
        job.line = static_cast<std::uint8_t*>(std::malloc(lineBytes));
        if (!job.line)
            ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
    }
    const std::uint32_t width = cinfo.output_width;
    CImageIterator it(this);
    it.MoveToTop();
    while (cinfo.output_scanline < cinfo.output_height) {
        if (m_info.stopRequest != 0) {
            jpeg_destroy_decompress(&cinfo);
            std::free(job.line);
            job.line = nullptr;
            return false;
        }
        std::uint8_t* row = it.CurrentRow();
        JSAMPROW target = job.line ? job.line : row;
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1)
            break;
        if (!job.line) {
            // Three samples not decoded in image order (an unknown colour
            // space) are taken as red, green, blue.
            if (components == 3 && cinfo.out_color_space != JCS_EXT_BGR)
                SwapRedBlue(row, width * 3);
        } else if (components == 4 && !quantized) {
            // Adobe's inverted CMYK: each colour is the ink value times K.
            const std::uint8_t* s = job.line;
            for (std::uint32_t x = 0; x < width; ++x, s += 4) {
                const unsigned k = s[3];
                row[3 * x] = static_cast<std::uint8_t>(k * s[2] / 255);
                row[3 * x + 1] = static_cast<std::uint8_t>(k * s[1] / 255);
                row[3 * x + 2] = static_cast<std::uint8_t>(k * s[0] / 255);
            }
        } else {
            std::memcpy(row, job.line, std::min<std::size_t>(lineBytes, GetRowStride()));
        }
        it.PreviousRow();
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::free(job.line);
    job.line = nullptr;
    if (source.CutShort())
        MarkDamaged();
    return true;
}

bool VxImageJPG::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    if (IsIndexed() && !HasGreyRampPalette()) {
        SetError(kNotRgbOrGrey);
        return false;
    }
    // A file that carries EXIF data from its decode is written with it: the
    // new JPEG is made in memory, then written out with the kept EXIF and
    // comment segments after its start marker. The target only ever gets a
    // whole file.
    const bool keepExif = m_exif && m_exifRecord.isExif;
    VxMemFile staging;
    if (keepExif && !staging.Open()) {
        SetError("Could not allocate memory");
        return false;
    }
    VxFileJpg destination(keepExif ? static_cast<VxFile*>(&staging) : stream);
    EncodeJob job{};
    if (!RunEncode(job, destination))
        return false;
    if (!keepExif)
        return true;
    m_exif->KeepExifOnly();
    staging.Seek(0, 0);
    if (!m_exif->ReadSections(&staging, VxExifInfo::kReadImage) || !m_exif->WriteSections(stream)) {
        SetError(*m_exif->GetLastError() ? m_exif->GetLastError() : "Can't write exif : didn't read all");
        return false;
    }
    return true;
}

bool VxImageJPG::RunEncode(EncodeJob& job, VxFileJpg& destination)
{
    jpeg_compress_struct& cinfo = job.cinfo;
    InstallErrorHandler(reinterpret_cast<j_common_ptr>(&cinfo), job.err, m_info.lastError);
    if (setjmp(job.err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(job.line);
        job.line = nullptr;
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &destination;
    const std::uint32_t width = GetWidth(), height = GetHeight();
    const bool grey = IsIndexed();
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);

    const std::uint32_t options = GetFormatOption(VXFMT_JPG);
    if (options & VXJPG_ARITHMETIC)
        cinfo.arith_code = TRUE;
    if (options & VXJPG_GREY)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (options & VXJPG_OPTIMIZE)
        cinfo.optimize_coding = TRUE;
    if (options & VXJPG_PROGRESSIVE)
        jpeg_simple_progression(&cinfo);
    if (options & VXJPG_SMOOTHING)
        cinfo.smoothing_factor = std::clamp(m_smoothing, 0, 100);
    jpeg_set_quality(&cinfo, m_info.jpegQuality, (options & VXJPG_BASELINE) ? TRUE : FALSE);
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(std::clamp(GetXDPI(), 1, 65535));
    cinfo.Y_density = static_cast<UINT16>(std::clamp(GetYDPI(), 1, 65535));
    jpeg_start_compress(&cinfo, TRUE);

    // Grey images below 8 bits a pixel are written one byte a pixel: the
    // identity grey ramp makes each index its own grey level.
    const std::uint32_t bpp = GetBpp();
    job.line = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(GetRowStride() + 8, width)));
    if (!job.line)
        ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint32_t imageRow = height - 1 - r;
        if (bpp < 8) {
            for (std::uint32_t x = 0; x < width; ++x)
                job.line[x] = GetPixelIndexUnchecked(static_cast<std::int32_t>(x), static_cast<std::int32_t>(imageRow));
        } else {
            std::memcpy(job.line, GetRowBits(imageRow), GetRowStride());
        }
        JSAMPROW line = job.line;
        jpeg_write_scanlines(&cinfo, &line, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(job.line);
    job.line = nullptr;
    return true;
}
