// BMP files and bare bitmap info headers.
#pragma once

#include "imaging/vximage.h"

class VxFile;

class VxImageBMP : public VxImage {
public:
    VxImageBMP() : VxImage(VXFMT_BMP) {}
    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);
    // Reads and checks an info header (40 bytes, the 12-byte core header, or
    // a longer one); the stream is left at the end of the header.
    static bool ReadInfoHeader(VxFile* stream, BITMAPINFOHEADER* header);
};
