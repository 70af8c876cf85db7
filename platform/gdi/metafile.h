// Enhanced and Windows metafiles: the GDI functions that turn metafile bits
// into a metafile object, read its header and palette, and play it into a
// device context.
//
// The player is our own: EMF records are interpreted and WMF records play
// onto the same drawing with QPainter, unantialiased, on the DC's bitmap
// (gdi/mfplayer.h offers the same player for any QPainter). Records it does
// not know, and EMF+ comments, are skipped; a record shorter than its
// header or reaching past the data ends the play. The metafile objects
// need no toolkit; the player lives in the toolkit-backed part of the
// layer (platform_gdi_qt), and a program without it cannot play.
#pragma once

#include "gdi/wingdi.h"

struct SIZEL {
    LONG cx;
    LONG cy;
};

// The published header of an enhanced metafile, 108 bytes.
struct ENHMETAHEADER {
    DWORD iType;
    DWORD nSize;
    RECT rclBounds;  // device units of the recording device, inclusive
    RECT rclFrame;   // 0.01 mm
    DWORD dSignature;
    DWORD nVersion;
    DWORD nBytes;
    DWORD nRecords;
    WORD nHandles;
    WORD sReserved;
    DWORD nDescription;
    DWORD offDescription;
    DWORD nPalEntries;
    SIZEL szlDevice;       // pixels of the recording device
    SIZEL szlMillimeters;  // millimetres of the recording device
    DWORD cbPixelFormat;
    DWORD offPixelFormat;
    DWORD bOpenGL;
    SIZEL szlMicrometers;
};
static_assert(sizeof(ENHMETAHEADER) == 108, "ENHMETAHEADER is 108 bytes");

constexpr DWORD ENHMETA_SIGNATURE = 0x464D4520;  // " EMF"

struct METAFILEPICT {
    LONG mm;
    LONG xExt;  // 0.01 mm in MM_ANISOTROPIC and MM_ISOTROPIC
    LONG yExt;
    HANDLE hMF;
};

// Mapping modes.
constexpr int MM_TEXT = 1;
constexpr int MM_LOMETRIC = 2;
constexpr int MM_HIMETRIC = 3;
constexpr int MM_LOENGLISH = 4;
constexpr int MM_HIENGLISH = 5;
constexpr int MM_TWIPS = 6;
constexpr int MM_ISOTROPIC = 7;
constexpr int MM_ANISOTROPIC = 8;

struct GdiEnhMetaFile;
using HENHMETAFILE = GdiEnhMetaFile*;

// An enhanced-metafile object from EMF bytes (copied); null when the bytes
// do not start with an EMF header.
HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data);
// An enhanced-metafile object from Windows-metafile bytes (the 18-byte
// metafile header and its records, copied). The picture gives the frame:
// in MM_ANISOTROPIC and MM_ISOTROPIC its extents in 0.01 mm, in the other
// modes the metafile's own units. Null when the bytes are no metafile or
// the extents are not positive.
HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC ref, const METAFILEPICT* picture);
// Copies up to size bytes of the header; the bytes copied, 0 on failure.
// With a null header, the header's size.
UINT GetEnhMetaFileHeader(HENHMETAFILE mf, UINT size, ENHMETAHEADER* header);
// Copies up to count palette entries; the number copied. With null
// entries, the number the metafile holds.
UINT GetEnhMetaFilePaletteEntries(HENHMETAFILE mf, UINT count, PALETTEENTRY* entries);
BOOL DeleteEnhMetaFile(HENHMETAFILE mf);
// The metafile's EMF bytes: with null data their number, else the number
// copied (0 when size is too small). A metafile made from Windows-metafile
// bytes has no EMF form here and answers 0.
UINT GetEnhMetaFileBits(HENHMETAFILE mf, UINT size, BYTE* data);
// A copy in memory (a file name is not supported and gives null).
HENHMETAFILE CopyEnhMetaFileA(HENHMETAFILE mf, const char* fileName);

// An old-style Windows metafile object: the 18-byte header and its records.
struct GdiMetaFile;
using HMETAFILE = GdiMetaFile*;
// A metafile object from its bytes (copied); null when they hold no header.
HMETAFILE SetMetaFileBitsEx(UINT size, const BYTE* data);
// The metafile's bytes: with null data their number, else the number
// copied (0 when size is too small).
UINT GetMetaFileBitsEx(HMETAFILE mf, UINT size, void* data);
BOOL DeleteMetaFile(HMETAFILE mf);
// Plays the metafile into the DC's bitmap, its frame mapped to the
// rectangle. FALSE with ERROR_NOT_SUPPORTED in a program without the
// player (gdi/mfplayer.h).
BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE mf, const RECT* rect);
