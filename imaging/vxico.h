// Icon and cursor files; the frame to load picks the directory entry.
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

class VxImageICO : public VxImage {
public:
    VxImageICO() : VxImage(VXFMT_ICO) {}
    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);

private:
    bool DecodePngEntry(VxFile* stream, std::uint32_t bytes);
};
