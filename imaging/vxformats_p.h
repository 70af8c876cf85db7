// The table of image formats behind the format dispatch.
//
// One row per format id says how to make the format's class and run its
// decoder and encoder. A format whose codec is not part of the build has
// an empty row: typed loads and saves of it fail as for an unknown id, and
// detection passes over it. A row may also lack only its encoder (a
// format read but not written): saving in it fails as for an unknown id.
// Adding a codec fills its row in vxformats.cpp;
// the dispatch itself does not change.
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

struct VxFormatCodec {
    const char* name;
    // A fresh instance of the format's class; null when the codec is absent.
    VxImage* (*create)();
    bool (*decode)(VxImage& instance, VxFile* stream, std::uint32_t formatId);
    bool (*encode)(VxImage& instance, VxFile* stream, std::uint32_t formatId);
};

// Row of a format id (0 to 15), or null for other ids.
const VxFormatCodec* VxFormatRow(std::uint32_t formatId);

struct VxDetectStep {
    std::uint32_t row;       // the format row to try
    std::uint32_t passedId;  // the format id its decoder is given
};

// Format detection tries these steps in order.
extern const VxDetectStep kVxDetectOrder[];
extern const std::size_t kVxDetectOrderCount;
