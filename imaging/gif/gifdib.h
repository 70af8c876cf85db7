// Row access to bitmaps in a fixed pixel format. The writer builds an 8- or
// 24-bit device-independent picture row by row (row 0 on top, stored
// top-down as bitmaps keep their rows) and hands it to the bitmap in one
// piece; the reader gives a bitmap's own rows after switching it to the
// format.
#pragma once

#include "gdi/wingdi.h"
#include "imaging/gif/gifcommon.h"
#include "vcl/graphics.h"

#include <cstdint>

class TDIBReader {
public:
    // Converts the caller's bitmap to the format.
    TDIBReader(TBitmap& bitmap, TPixelFormat format);
    std::uint8_t* GetScanline(int row) { return m_bitmap.ScanLine(row); }

private:
    TBitmap& m_bitmap;
};

class TDIBWriter {
public:
    // The format must be pf8bit or pf24bit ("Unsupported PixelFormat"), the
    // sizes above 0 ("Invalid image dimensions"). Nothing is allocated
    // until the first row is asked for.
    TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, HPALETTE palette);
    TDIBWriter(const TDIBWriter&) = delete;
    TDIBWriter& operator=(const TDIBWriter&) = delete;
    // A picture never stored is dropped.
    ~TDIBWriter();

    // Row 0 is the top row; a row outside the picture raises
    // EInvalidGraphicOperation "Scan line index out of range".
    std::uint8_t* GetScanline(int row);
    // Hands the picture to the bitmap, replacing its contents. Kept apart
    // from the destructor, which must not raise.
    void Store();

private:
    void EnsureDIB();

    TBitmap& m_bitmap;
    int m_bitCount;
    int m_width;
    int m_height;
    HPALETTE m_palette;
    std::uint64_t m_rowBytes = 0;
    // The picture is built straight in the DIB section the bitmap takes
    // over: no copy of its pixels is made on the way.
    HBITMAP m_section = nullptr;
    std::uint8_t* m_bits = nullptr;
};

// The pixel format of a bitmap, and switching a bitmap to one.
TPixelFormat GetBitmapPixelFormat(const TBitmap& bitmap);
void SetBitmapPixelFormat(TBitmap& bitmap, TPixelFormat format);

// value when it is not 0; for 0 raises EOutOfResources with the system's
// text for the last error, or "Out of system resources" when the last error
// is 0 or has no text. For the handles and counts GDI calls answer.
[[noreturn]] void RaiseGdiFailure();
template <class T>
T CheckGdiResult(T value)
{
    if (!value)
        RaiseGdiFailure();
    return value;
}

// A device-independent copy of a bitmap handle at 1, 4, 8 or 24 bits
// (pf1bit to pf24bit; another format raises "Unsupported PixelFormat", a
// handle that is no bitmap "Bitmap image is not valid"): the sizes of its
// header (with the colour table) and of its bottom-up rows, and the copy,
// its colour table taken from the palette given (selected into the DC)
// or the default colours. InternalGetDIB answers whether the rows came.
void InternalGetDIBSizes(HBITMAP bitmap, int& headerSize, int& imageSize, TPixelFormat format);
bool InternalGetDIB(HBITMAP bitmap, HPALETTE palette, void* bitmapInfo, void* bits, TPixelFormat format);
