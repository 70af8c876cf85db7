#include "imaging/imageiter.h"

#include "imaging/vximage.h"

#include <cstring>

CImageIterator::CImageIterator(VxImage* img) : image(img)
{
    if (image)
        row = image->GetRowBits(0);
}

void CImageIterator::MoveToTop()
{
    x = 0;
    if (!image)
        return;
    y = static_cast<std::int32_t>(image->GetHeight()) - 1;
    row = y >= 0 ? image->GetRowBits(static_cast<std::uint32_t>(y)) : nullptr;
}

void CImageIterator::SeekRow(std::int32_t n)
{
    if (!image || n < 0 || n >= static_cast<std::int32_t>(image->GetHeight()))
        return;
    y = n;
    row = image->GetRowBits(static_cast<std::uint32_t>(n));
}

std::uint8_t* CImageIterator::RowAt(std::int32_t n)
{
    SeekRow(n);
    return row;
}

void CImageIterator::WriteRow(const std::uint8_t* source, std::int32_t n)
{
    if (!row || !source || n == 0 || !image)
        return;
    const auto stride = static_cast<std::int32_t>(image->GetRowStride());
    if (n < 0 || n >= stride)
        n = stride;
    std::memcpy(row, source, static_cast<std::size_t>(n));
}

void CImageIterator::ReadRow(std::uint8_t* destination, std::int32_t n) const
{
    if (!row || !destination || n <= 0 || !image)
        return;
    // Never past the row, whatever the caller asks for.
    const auto stride = static_cast<std::int32_t>(image->GetRowStride());
    if (n > stride)
        n = stride;
    std::memcpy(destination, row, static_cast<std::size_t>(n));
}

bool CImageIterator::PreviousRow()
{
    --y;
    if (y < 0 || !image)
        return false;
    row -= image->GetRowStride();
    return true;
}

bool CImageIterator::IsInside() const { return image && image->ContainsPoint(x, y); }
