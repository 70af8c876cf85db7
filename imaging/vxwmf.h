// Metafiles (format id 10): a placeable Windows metafile or an enhanced
// metafile played into a screen-compatible bitmap and read back as pixels.
// Reading only.
#pragma once

#include "gdi/metafile.h"
#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

// The 22-byte header in front of a placeable Windows metafile.
struct WmfPlaceableHeader {
    std::uint32_t key;
    std::uint16_t handle;
    std::int16_t left;
    std::int16_t top;
    std::int16_t right;
    std::int16_t bottom;
    std::uint16_t inch;
    std::uint32_t reserved;
    std::uint16_t checksum;
};

class VxImageWMF : public VxImage {
public:
    VxImageWMF() : VxImage(VXFMT_WMF) {}
    // Forced width and height of 0 keep the picture's own.
    bool Decode(VxFile* stream, std::int64_t forcedWidth = 0, std::int64_t forcedHeight = 0);
    bool Encode(VxFile* stream);
};

// Key, checksum and units per inch are valid.
bool WmfIsPlaceable(const WmfPlaceableHeader& header);
// The metafile object of a placeable WMF at the stream's position, its
// placeable header filled in; null when it is none or its box is empty.
HENHMETAFILE WmfLoadPlaceable(VxFile* stream, WmfPlaceableHeader& header);
// The metafile object of the EMF from the stream's position to its end,
// its header filled in; null when it is none.
HENHMETAFILE EmfLoad(VxFile* stream, ENHMETAHEADER& header);
// Brings a size within 4000 x 4000, keeping its proportions.
void WmfShrinkSize(std::int64_t& width, std::int64_t& height);
