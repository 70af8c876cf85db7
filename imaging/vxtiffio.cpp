// libtiff over a VxFile: the client procedures handed to TIFFClientOpenExt
// and the per-handle diagnostics handlers.
//
// libtiff keeps 64-bit offsets; our streams hold 32-bit positions, so an
// offset past 2 GB is a failed seek, never a wrapped one. The file is never
// mapped: every read goes through the stream.
#include "imaging/vxtiff.h"

#include "imaging/vxfile.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// The largest single allocation libtiff may make for one handle (strip and
// tile buffers, directory arrays). Far above any strip of a real picture,
// far below what a few hostile header bytes could otherwise ask for.
constexpr tmsize_t kTiffMaxSingleAlloc = tmsize_t{1} << 30;

VxFile* Stream(thandle_t h) { return static_cast<VxFile*>(h); }

tmsize_t VxTiffRead(thandle_t h, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(Stream(h)->Read(buffer, 1, static_cast<std::size_t>(size)));
}

tmsize_t VxTiffWrite(thandle_t h, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(Stream(h)->Write(buffer, 1, static_cast<std::size_t>(size)));
}

toff_t VxTiffSeek(thandle_t h, toff_t offset, int whence)
{
    constexpr toff_t kFailed = static_cast<toff_t>(-1);
    // libtiff passes its offsets unsigned; from the current position or the
    // end they are two's complement deltas.
    const auto delta = static_cast<std::int64_t>(offset);
    if (offset == kFailed || delta > std::numeric_limits<std::int32_t>::max() ||
        delta < std::numeric_limits<std::int32_t>::min())
        return kFailed;
    if (!Stream(h)->Seek(static_cast<std::int32_t>(delta), whence))
        return kFailed;
    if (whence == SEEK_SET)
        return offset;
    const std::int32_t pos = Stream(h)->Tell();
    return pos < 0 ? kFailed : static_cast<toff_t>(pos);
}

// The stream belongs to whoever opened it.
int VxTiffClose(thandle_t) { return 0; }

toff_t VxTiffSize(thandle_t h)
{
    const std::int32_t size = Stream(h)->Size();
    return size < 0 ? 0 : static_cast<toff_t>(size);
}

int VxTiffMap(thandle_t, void**, toff_t*) { return 0; }

void VxTiffUnmap(thandle_t, void*, toff_t) {}

// libtiff's messages are not shown or kept: the codec learns of failures
// from return codes, and of data it could not read from a count. Answering
// 1 tells libtiff the message was handled, so its process-wide handlers
// (which print to stderr) never see it. libtiff passes over a tag whose
// data lies past the end of a cut file with no more than a warning.
int VxTiffWarningHandler(TIFF*, void* troubles, const char*, const char* format, va_list args)
{
    if (troubles) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        if (std::strstr(text, "IO error"))
            ++*static_cast<int*>(troubles);
    }
    return 1;
}

int VxTiffErrorHandler(TIFF*, void* troubles, const char*, const char*, va_list)
{
    if (troubles)
        ++*static_cast<int*>(troubles);
    return 1;
}

}  // namespace

TIFF* VxTiffOpen(VxFile* stream, const char* name, const char* mode, int* troubles)
{
    if (!stream)
        return nullptr;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kTiffMaxSingleAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(options, VxTiffErrorHandler, troubles);
    TIFFOpenOptionsSetWarningHandlerExtR(options, VxTiffWarningHandler, troubles);
    // The handle's client data is the stream itself; libtiff's integer file
    // descriptor cannot hold a pointer and is left alone.
    TIFF* tif = TIFFClientOpenExt(name, mode, stream, VxTiffRead, VxTiffWrite, VxTiffSeek, VxTiffClose, VxTiffSize,
                                  VxTiffMap, VxTiffUnmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

TIFF* VxTiffOpenImage(VxFile* stream, const char* mode, int* troubles)
{
    return VxTiffOpen(stream, "TIFF IMAGE", mode, troubles);
}
