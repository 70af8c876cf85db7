// TIFF files through libtiff: one page read per decode, pages written one
// at a time (the last stays open between appended pages).
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;
struct tiff;
typedef struct tiff TIFF;

class VxImageTIF : public VxImage {
public:
    VxImageTIF() : VxImage(VXFMT_TIF) {}
    ~VxImageTIF() override;

    // Reads the page of the frame to load; frames found becomes the number
    // of pages, even when the page is missing.
    bool Decode(VxFile* stream);
    // Writes the image as one page. With append the file stays open and the
    // next Encode adds a page to it; without, the file is finished.
    bool Encode(VxFile* stream, bool append = false);

    bool WriteDirectory(TIFF* handle, bool multiPage, std::int32_t page, std::int32_t pageCount);

    // Copies rows of `columns` bytes from in to out; after each row out moves
    // on by outSkew and in by inSkew beyond the bytes copied.
    static void CopyTileToRows(std::uint8_t* out, const std::uint8_t* in, std::uint32_t rows, std::uint32_t columns,
                               std::uint32_t outSkew, std::uint32_t inSkew);

private:
    void CloseHandle(bool flush);

    TIFF* m_handle = nullptr;  // the output file kept open between appended pages
    bool m_multiPage = false;
    std::int32_t m_pagesWritten = 0;
};

// libtiff handles over a VxFile. The stream stays open when the handle is
// closed; its owner closes it.
// troubles, when given, counts libtiff's errors and its warnings about
// data it could not read.
TIFF* VxTiffOpen(VxFile* stream, const char* name, const char* mode, int* troubles = nullptr);
TIFF* VxTiffOpenImage(VxFile* stream, const char* mode, int* troubles = nullptr);
