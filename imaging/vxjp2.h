// The JPEG 2000 family: JP2 files, JPEG 2000 code streams, PGX, PNM and Sun
// raster (format ids 11 to 15), through the JPEG 2000 library layer.
#pragma once

#include "imaging/vximage.h"
#include "jpeg2000/jasper.h"

#include <cstdint>

class VxFile;

class VxImageJAS : public VxImage {
public:
    // One class serves five formats: the image's id comes from the decode.
    VxImageJAS() : VxImage(VXFMT_UNKNOWN) {}
    // Decodes whichever of the formats the data holds and gives the image
    // the id it was called with (0 during detection).
    bool Decode(VxFile* stream, std::uint32_t formatId);
    // Writes the format of the id (11 to 15).
    bool Encode(VxFile* stream, std::uint32_t formatId);
};

// The library stream's operations redirected to a VxFile, which they never
// close: the table is filled, and the stream's object and table replaced.
jas_stream_ops_t* JasStreamAttachVxFile(jas_stream_ops_t* ops, VxFile* file, jas_stream_t* stream);
int JasCxStreamRead(jas_stream_obj_t* obj, char* buf, int cnt);
int JasCxStreamWrite(jas_stream_obj_t* obj, char* buf, int cnt);
long JasCxStreamSeek(jas_stream_obj_t* obj, long offset, int origin);
int JasCxStreamClose(jas_stream_obj_t* obj);
