// The JPEG 2000 library interface the image codecs are written against:
// streams with a replaceable operation table, multi-component images,
// row matrices, colour-space conversion to sRGB and the five file formats
// (JP2 files and JPEG 2000 code streams over OpenJPEG; PGX, PNM and Sun
// raster read and written here).
//
// Only the functions the image codecs call exist. Unlike the library this
// interface stands for, nothing here keeps global state: jas_init and
// jas_cleanup only bracket a caller's work, the format table is constant,
// and decodes and encodes may run on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Streams

using jas_stream_obj_t = void;

// The operations behind a stream, in the library's order. A caller may
// replace a stream's table and object (the image codecs point them at
// their own byte stream).
struct jas_stream_ops_t {
    int (*read_)(jas_stream_obj_t* obj, char* buf, int cnt);
    int (*write_)(jas_stream_obj_t* obj, char* buf, int cnt);
    long (*seek_)(jas_stream_obj_t* obj, long offset, int origin);
    int (*close_)(jas_stream_obj_t* obj);
};

constexpr int JAS_STREAM_READ = 0x0001;
constexpr int JAS_STREAM_WRITE = 0x0002;

constexpr int JAS_STREAM_EOF = 0x0001;
constexpr int JAS_STREAM_ERR = 0x0002;

constexpr std::size_t JAS_STREAM_BUFSIZE = 8192;

struct jas_stream_t {
    int openmode_;
    int flags_;
    // Read-ahead buffer (reading) or pending bytes (writing).
    unsigned char* bufbase_;
    std::size_t bufsize_;
    std::size_t ptr_;  // next byte in the buffer
    std::size_t cnt_;  // bytes held in the buffer
    bool writing_;     // the buffer holds bytes not yet written
    long pos_;         // position of the stream's next byte
    const jas_stream_ops_t* ops_;
    jas_stream_obj_t* obj_;
};

// A stream over an open file descriptor; the descriptor is read or written
// only when the stream is, and never closed by jas_stream_close. Mode "rb"
// reads, "wb" writes.
jas_stream_t* jas_stream_fdopen(int fd, const char* mode);
// Writes pending bytes, closes the object through the operation table and
// frees the stream. 0 on success.
int jas_stream_close(jas_stream_t* stream);
int jas_stream_flush(jas_stream_t* stream);

// Reads up to cnt bytes; the number read.
int jas_stream_read(jas_stream_t* stream, void* buf, int cnt);
int jas_stream_write(jas_stream_t* stream, const void* buf, int cnt);
// The next byte (0 to 255) or -1 at the end.
int jas_stream_getc(jas_stream_t* stream);
int jas_stream_putc(jas_stream_t* stream, int c);
// Position of the next byte, or -1.
long jas_stream_tell(jas_stream_t* stream);
// origin 0 start, 1 current, 2 end; the new position, or -1.
long jas_stream_seek(jas_stream_t* stream, long offset, int origin);
// Bytes from the stream's start to its end, or -1 when it cannot seek.
long jas_stream_length(jas_stream_t* stream);

void* jas_malloc(std::size_t size);
void jas_free(void* ptr);

// ---------------------------------------------------------------------------
// Colour spaces and component types

constexpr int JAS_CLRSPC_FAM_UNKNOWN = 0;
constexpr int JAS_CLRSPC_FAM_GRAY = 3;
constexpr int JAS_CLRSPC_FAM_RGB = 4;
constexpr int JAS_CLRSPC_FAM_YCBCR = 5;
constexpr int JAS_CLRSPC(int fam, int mbr) { return (fam << 8) | mbr; }
constexpr int JAS_CLRSPC_FAM(int clrspc) { return clrspc & 0x4000 ? JAS_CLRSPC_FAM_UNKNOWN : (clrspc >> 8) & 0x1F; }
constexpr int JAS_CLRSPC_UNKNOWNMASK = 0x4000;
constexpr int JAS_CLRSPC_UNKNOWN = 0x4000;
constexpr int JAS_CLRSPC_SRGB = JAS_CLRSPC(JAS_CLRSPC_FAM_RGB, 1);      // 0x401
constexpr int JAS_CLRSPC_SGRAY = JAS_CLRSPC(JAS_CLRSPC_FAM_GRAY, 1);    // 0x301
constexpr int JAS_CLRSPC_SYCBCR = JAS_CLRSPC(JAS_CLRSPC_FAM_YCBCR, 1);  // 0x501

constexpr int JAS_IMAGE_CT_RGB_R = 0;
constexpr int JAS_IMAGE_CT_RGB_G = 1;
constexpr int JAS_IMAGE_CT_RGB_B = 2;
constexpr int JAS_IMAGE_CT_GRAY_Y = 0;
constexpr int JAS_IMAGE_CT_OPACITY = 0x8000;
constexpr int JAS_IMAGE_CT_UNKNOWN = 0x10000;

constexpr int JAS_CMXFORM_INTENT_PER = 0;

// ---------------------------------------------------------------------------
// Images

// One component: a width x height grid of signed 32-bit samples of the
// given precision, row after row.
struct jas_image_cmpt_t {
    long tlx_;
    long tly_;
    long hstep_;
    long vstep_;
    long width_;
    long height_;
    int prec_;
    int sgnd_;
    int type_;
    std::int32_t* data_;
    void (*free_)(void*);  // releases data_
};

struct jas_image_t {
    int numcmpts_;
    jas_image_cmpt_t** cmpts_;
    int clrspc_;
};

struct jas_image_cmptparm_t {
    long tlx;
    long tly;
    long hstep;
    long vstep;
    long width;
    long height;
    int prec;
    int sgnd;
};

inline int jas_image_numcmpts(const jas_image_t* image) { return image->numcmpts_; }
inline int jas_image_clrspc(const jas_image_t* image) { return image->clrspc_; }
inline void jas_image_setclrspc(jas_image_t* image, int clrspc) { image->clrspc_ = clrspc; }
inline long jas_image_cmptwidth(const jas_image_t* image, int c) { return image->cmpts_[c]->width_; }
inline long jas_image_cmptheight(const jas_image_t* image, int c) { return image->cmpts_[c]->height_; }
inline int jas_image_cmptprec(const jas_image_t* image, int c) { return image->cmpts_[c]->prec_; }
inline int jas_image_cmptsgnd(const jas_image_t* image, int c) { return image->cmpts_[c]->sgnd_; }
inline int jas_image_cmpttype(const jas_image_t* image, int c) { return image->cmpts_[c]->type_; }
inline void jas_image_setcmpttype(jas_image_t* image, int c, int type) { image->cmpts_[c]->type_ = type; }

// An image of numcmpts components, zero samples; null when a size is out
// of range or memory runs out.
jas_image_t* jas_image_create(int numcmpts, const jas_image_cmptparm_t* cmptparms, int clrspc);
void jas_image_destroy(jas_image_t* image);

// ---------------------------------------------------------------------------
// Matrices

using jas_seqent_t = std::int32_t;

struct jas_matrix_t {
    int numrows_;
    int numcols_;
    jas_seqent_t* data_;
};

jas_matrix_t* jas_matrix_create(int numrows, int numcols);
void jas_matrix_destroy(jas_matrix_t* matrix);
inline jas_seqent_t jas_matrix_get(const jas_matrix_t* m, int i, int j) { return m->data_[i * m->numcols_ + j]; }
inline void jas_matrix_set(jas_matrix_t* m, int i, int j, jas_seqent_t v) { m->data_[i * m->numcols_ + j] = v; }
inline int jas_matrix_numrows(const jas_matrix_t* m) { return m->numrows_; }
inline int jas_matrix_numcols(const jas_matrix_t* m) { return m->numcols_; }

// Copies the width x height block at (x, y) of component c into the
// matrix (readcmpt) or from it (writecmpt). 0 on success; -1 when the
// component does not exist, the block leaves it or the matrix is smaller.
int jas_image_readcmpt(jas_image_t* image, int c, long x, long y, long width, long height, jas_matrix_t* data);
int jas_image_writecmpt(jas_image_t* image, int c, long x, long y, long width, long height,
                        const jas_matrix_t* data);

// ---------------------------------------------------------------------------
// Colour profiles

struct jas_cmprof_t {
    int clrspc_;
};

// A profile of a colour space; only sRGB is known.
jas_cmprof_t* jas_cmprof_createfromclrspc(int clrspc);
void jas_cmprof_destroy(jas_cmprof_t* prof);
// A new image in the profile's colour space: three 8-bit unsigned
// components (red, green, blue) of component 0's size, grey copied to all
// three, other precisions scaled with rounding. Null on failure.
jas_image_t* jas_image_chclrspc(jas_image_t* image, const jas_cmprof_t* outprof, int intent);

// ---------------------------------------------------------------------------
// Formats

int jas_init();
void jas_cleanup();

// The number of a format name ("jp2", "jpc", "pgx", "pnm", "ras"), or -1.
int jas_image_strtofmt(const char* name);
// The format the stream's first bytes show, or -1. The stream is left
// where it was.
int jas_image_getfmt(jas_stream_t* stream);
// Decodes an image; fmt -1 detects the format from the data. Null on failure.
jas_image_t* jas_image_decode(jas_stream_t* stream, int fmt, const char* optstr);
// Encodes the image; options "rate=r" (JP2 and code streams: r is the
// compressed size as a fraction of the raw size, 1 or more is lossless).
// 0 on success.
int jas_image_encode(jas_image_t* image, jas_stream_t* stream, int fmt, const char* optstr);
