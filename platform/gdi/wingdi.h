// The GDI names the system's drawing code is written against: bitmap
// headers, colours, rectangles, palettes, memory device contexts with a
// selected bitmap and a clip region, DIB sections and the blit functions.
//
// Every bitmap here is a memory surface of our own with exact pixel
// semantics; a widget shows one through the Qt bridge in gdi/gdiqt.h.
// Only the functions the system calls exist; a request this layer cannot
// carry out fails the way the Windows function fails (a null handle,
// FALSE or 0, with the last error set).
#pragma once

#include "win/wintypes.h"

#include <cstdint>

using COLORREF = DWORD;
using LPVOID = void*;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b)
{
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

struct POINT {
    LONG x;
    LONG y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

BOOL SetRect(RECT* rc, int left, int top, int right, int bottom);
BOOL IsRectEmpty(const RECT* rc);
// Intersection of two rectangles; FALSE and an empty result when they do not meet.
BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b);
BOOL EqualRect(const RECT* a, const RECT* b);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct RGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes on disk and in memory");

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes");

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

// Compression of a DIB.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

// Colour table usage.
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

// Raster operations of BitBlt and StretchBlt.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// Stretch modes.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr int STRETCH_ANDSCANS = BLACKONWHITE;
constexpr int STRETCH_ORSCANS = WHITEONBLACK;
constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
constexpr int STRETCH_HALFTONE = HALFTONE;

// Region combination modes and region kinds.
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;
constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

// Object kinds answered by GetObjectType.
constexpr BYTE PC_NOCOLLAPSE = 4;  // palette entry flag
constexpr LONG OBJ_DC = 3;
constexpr LONG OBJ_PAL = 5;
constexpr LONG OBJ_BITMAP = 7;
constexpr LONG OBJ_REGION = 8;
constexpr LONG OBJ_MEMDC = 10;

// Handles. A device context is not a GDI object; bitmaps, regions and
// palettes are, and SelectObject and DeleteObject take any of them through
// the untyped HGDIOBJ, as on Windows.
struct GdiBitmap;
struct GdiRegion;
struct GdiPalette;
struct GdiDC;
using HGDIOBJ = void*;
using HBITMAP = GdiBitmap*;
using HRGN = GdiRegion*;
using HPALETTE = GdiPalette*;
using HDC = GdiDC*;

// Device contexts. A memory DC starts with a 1 x 1 monochrome stock bitmap
// selected, no clip region and the stretch mode BLACKONWHITE.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj);
BOOL DeleteObject(HGDIOBJ obj);
int GetObject(HGDIOBJ obj, int size, LPVOID out);
// The kind of a bitmap, region, palette or device context handle (OBJ_*);
// 0 for a null handle.
DWORD GetObjectType(HGDIOBJ obj);
HGDIOBJ GetCurrentBitmap(HDC hdc);

// Bitmaps. CreateCompatibleBitmap gives the format of the bitmap selected in
// the DC (monochrome for a fresh memory DC, as on Windows) and 32 bits per
// pixel for a null DC (the screen). Pixels of a new bitmap are black.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits);
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section, DWORD offset);

COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);

// Blits. Raster operations: SRCCOPY, SRCPAINT, SRCAND, SRCINVERT,
// NOTSRCCOPY, DSTINVERT, BLACKNESS and WHITENESS.
BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop);
BOOL StretchBlt(HDC dst, int xDst, int yDst, int wDst, int hDst, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                DWORD rop);
// A blit with two raster operations chosen per pixel by a monochrome mask:
// the foreground one where the mask bit is 1, the background one where it
// is 0. Both are SRCCOPY, SRCPAINT, SRCAND, SRCINVERT, NOTSRCCOPY,
// DSTINVERT, BLACKNESS, WHITENESS or the destination kept (0xAA0029).
constexpr DWORD MAKEROP4(DWORD fore, DWORD back) { return ((back << 8) & 0xFF000000u) | fore; }
BOOL MaskBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1, HBITMAP mask, int xMask, int yMask,
             DWORD rop4);
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT startScan,
                      UINT cLines, const void* bits, const BITMAPINFO* bmi, UINT colorUse);
UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors);
UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors);

// Regions and clipping (regions are unions of rectangles).
HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT* rc);
int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode);
int GetRgnBox(HRGN rgn, RECT* rc);
BOOL PtInRegion(HRGN rgn, int x, int y);
int SelectClipRgn(HDC hdc, HRGN rgn);
int ExtSelectClipRgn(HDC hdc, HRGN rgn, int mode);
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
int GetClipBox(HDC hdc, RECT* rc);
// Copies the DC's clip region into rgn: 1 when there is one, 0 when the DC
// has none (the whole bitmap shows), -1 on error.
int GetClipRgn(HDC hdc, HRGN rgn);
BOOL PtVisible(HDC hdc, int x, int y);

// Logical palettes. Memory surfaces are true colour or carry their own
// colour table, so realising a palette maps no entries.
HPALETTE CreatePalette(const LOGPALETTE* pal);
UINT GetPaletteEntries(HPALETTE pal, UINT start, UINT count, PALETTEENTRY* entries);
HPALETTE SelectPalette(HDC hdc, HPALETTE pal, BOOL forceBackground);
UINT RealizePalette(HDC hdc);
// The halftone palette: a fixed table of 256 entries (no display here has a
// palette of its own to derive it from), the same for every DC: the first
// ten static colours, the 6 x 6 x 6 colour cube in steps of 51, twenty
// greys between the cube's, and the last ten static colours.
HPALETTE CreateHalftonePalette(HDC hdc);

// Stock objects: DEFAULT_PALETTE is the 20 static colours. Deleting a stock
// object does nothing.
constexpr int DEFAULT_PALETTE = 15;
HGDIOBJ GetStockObject(int index);

// The screen: GetDC(nullptr) answers a DC of the 32-bit, 96-dpi screen
// (bitmaps compatible with it have 32 bits per pixel); ReleaseDC frees it.
// Windows other than the screen have no DC here.
HDC GetDC(HANDLE window);
int ReleaseDC(HANDLE window, HDC hdc);

constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
int GetDeviceCaps(HDC hdc, int index);

// System colours of the light desktop palette.
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
DWORD GetSysColor(int index);

COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
// The colour monochrome bitmaps' 0 bits take when blitted onto colour.
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);

// Fills the rectangle with the background colour when ETO_OPAQUE is given.
// Drawing characters is not offered: a call with text fails with
// ERROR_NOT_SUPPORTED.
constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;
BOOL ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count, const INT* dx);

// Copies scan lines of a bitmap into a DIB of the format the header asks
// for (24 or 32 bits, or 1, 4 or 8 bits: the bitmap's own palette at its
// own depth, else each pixel's nearest colour of the DC's selected palette
// or the default colours, which fill the colour table); the number of
// lines copied. With null bits only the header is completed.
int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* bmi, UINT usage);
