// Targa files: colour-mapped, true-colour and grey, plain or run-length coded.
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

// The 18-byte file header, fields as stored.
struct TgaHeader {
    std::uint8_t idLength;
    std::uint8_t colorMapType;
    std::uint8_t imageType;
    std::uint16_t colorMapIndex;
    std::uint16_t colorMapLength;
    std::uint8_t colorMapEntrySize;
    std::uint16_t xOrigin;
    std::uint16_t yOrigin;
    std::uint16_t width;
    std::uint16_t height;
    std::uint8_t pixelDepth;
    std::uint8_t descriptor;
};

class VxImageTGA : public VxImage {
public:
    VxImageTGA() : VxImage(VXFMT_TGA) {}
    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);

    // Reads one run-length coded file row into image row y; returns the
    // packet header carried into the next row (255 none). whole becomes
    // false when the data ends before the row does.
    std::uint8_t TgaReadRleLine(std::uint8_t* row, const TgaHeader& header, VxFile* stream, std::int32_t width,
                                std::int32_t fileRow, std::uint8_t carried, bool& whole);
    // Reads count stored pixels; false when the data ends first.
    bool TgaReadRawLine(std::uint8_t* row, const TgaHeader& header, VxFile* stream, std::int32_t count,
                        std::int32_t fileRow, std::int32_t firstColumn);
};
