// Reading packed DIBs: the info header, colour table and pixels of a BMP
// file without its file header, as the clipboard and icon resources hold
// them, into a new DIB section.
#pragma once

#include "gdi/wingdi.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct PackedDibInfo {
    int fileBitCount = 0;       // 1, 4, 8, 16, 24 or 32 as stored
    DWORD compression = BI_RGB;
    DWORD masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha of 16- and 32-bit rows
    int width = 0;
    int height = 0;             // positive
    std::string error;          // why a read failed
    bool cutShort = false;      // the data ended before the picture: rows are missing
};

// A top-down DIB section holding the picture: 1, 4, 8 and 24 bits keep
// their depth and colours, 16- and 32-bit rows (bit fields too) become 32
// bits with their channels widened. RLE8 and RLE4 are expanded. With
// heightOverride > 0 only that many rows of the stored height are read
// (an icon's colour image above its mask). Null, with info.error set, when
// the header is damaged, a size is out of range, the data cannot fill what
// the header claims (less than half of the rows stored as they are, or of
// what run-length codes can reach), or the pixels would need more than
// maxBytes; rows the data does not reach stay black, and info.cutShort
// says so.
HBITMAP ReadPackedDib(const std::uint8_t* data, std::size_t size, std::uint64_t maxBytes, PackedDibInfo& info,
    int heightOverride = 0);

// The offset just past the colour table of a packed DIB (where its pixels
// start), 0 when the header cannot be read.
std::size_t PackedDibPixelOffset(const std::uint8_t* data, std::size_t size);
