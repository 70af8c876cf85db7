// Icon and cursor files; the frame to load picks the directory entry.
#pragma once

#include "imaging/vximage.h"

class VxFile;

class VxImageICO : public VxImage {
public:
    VxImageICO() : VxImage(VXFMT_ICO) {}
    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);
};
