// A row cursor over one image's bottom-up rows. It owns nothing and must
// not outlive the image.
#pragma once

#include <cstdint>

class VxImage;

class CImageIterator {
public:
    explicit CImageIterator(VxImage* image = nullptr);

    // Moves to the top row of the picture (row height - 1), re-reading the
    // image so that it is valid after the image was (re)created.
    void MoveToTop();
    void SeekRow(std::int32_t n);
    std::uint8_t* RowAt(std::int32_t n);
    std::uint8_t* CurrentRow() const { return row; }
    void WriteRow(const std::uint8_t* source, std::int32_t n);
    void ReadRow(std::uint8_t* destination, std::int32_t n) const;
    // One row down; false (and the row pointer unchanged) below row 0.
    bool PreviousRow();
    bool IsInside() const;

    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t stepX = 0;
    std::int32_t stepY = 0;
    std::uint8_t* row = nullptr;
    VxImage* image = nullptr;
};
