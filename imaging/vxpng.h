// PNG files through libpng 1.6.
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

class VxImagePNG : public VxImage {
public:
    VxImagePNG() : VxImage(VXFMT_PNG) {}

    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);

private:
    struct DecodeJob;
    struct EncodeJob;
    bool RunDecode(DecodeJob& job, VxFile* stream);
    bool RunEncode(EncodeJob& job, VxFile* stream);
};
