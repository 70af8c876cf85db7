// PCX files: 1 to 4 planes of 1 or 8 bits, run-length coded.
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

class VxImagePCX : public VxImage {
public:
    VxImagePCX() : VxImage(VXFMT_PCX) {}
    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);
};

// Line helpers of the PCX codec. The decoding ones throw their message as a
// VxCodecError (see vxcodec_p.h).
void PcxMergePlanes(std::uint8_t* indices, const std::uint8_t* line, std::int32_t bytesPerLine,
                    std::int32_t planes, std::int32_t bitsPerPixel);
void PcxSplitPackedPixels(std::uint8_t* indices, const std::uint8_t* line, std::int32_t bytesPerLine,
                          std::int32_t planes, std::int32_t bitsPerPixel);
void PcxSplitPlanes(const std::uint8_t* indices, std::int32_t count, std::uint8_t* planeLine, std::int32_t plane);
void PcxJoinPackedPixels(std::int32_t value, std::int32_t* last, std::int32_t* runCount, VxFile* out);
void PcxEncodeLine(const std::uint8_t* line, std::int32_t length, VxFile* out);
