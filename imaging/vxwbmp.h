// Type-0 wireless bitmaps (one bit per pixel).
#pragma once

#include "imaging/vximage.h"

class VxFile;

class VxImageWBMP : public VxImage {
public:
    VxImageWBMP() : VxImage(VXFMT_WBMP) {}
    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);
};
