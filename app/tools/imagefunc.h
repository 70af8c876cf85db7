// The image routines of the image pane: the desktop wallpaper, the
// splitting of a multi-page TIFF file into single-page files, and the
// stand-alone PNG loader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TImage;
class TBitmap;

// The file the wallpaper is written to, in the program's data folder.
constexpr const char* kWallpaperFileName = "wallpaperfromvistrel2.bmp";

// Writes the image control's picture as a bitmap (a picture holding another
// kind of graphic gives it up for an empty bitmap) to the wallpaper file,
// whole or not at all, stores its path and the style (1 centred, 2
// stretched, 3 tiled) under "Control Panel\Desktop" and asks the desktop to
// show it. Raises when the bitmap cannot be written.
void SetWallpaper(int style, TImage& image);

// Asks for a folder, then writes each page of the TIFF file, from the first
// until one cannot be loaded, as "<name>_page_<n>.tif" there; each page is
// written whole beside its target and renamed over it only once complete.
// Shows the number of pages written followed by " files saved!".
void SaveTiffPages(const std::string& path, int pageCount);

// The record the stand-alone PNG loader fills.
struct TPngDibRecord {
    std::uint32_t RecordSize = sizeof(TPngDibRecord);
    std::uint32_t HeaderSize = 40;  // must be 40
    std::string Path;
    // Out: one zero-filled block (free it with FreePngDib) holding a 40-byte
    // bitmap info header, the palette and the rows, bottom row first, each
    // padded to 4 bytes.
    std::uint8_t* Block = nullptr;
    std::uint64_t BlockSize = 0;
    std::uint32_t PaletteOffset = 0;
    std::uint64_t BitsOffset = 0;
    std::uint8_t* Palette = nullptr;
    std::uint8_t* Bits = nullptr;
    std::uint32_t PaletteEntries = 0;
};

// Reads a PNG file into a packed DIB: grey images become 1 to 8 bits with
// a grey palette, RGB and RGBA 24 bits without one, palette images keep
// their depth and palette; 16-bit samples are cut to 8 bits and alpha is
// dropped. Answers 0 on success, 2 for a record of the wrong size, 3 when
// memory or the library's structures cannot be had (a picture over the
// image classes' memory limit among them), 5 for data the library refuses,
// 7 for an unknown colour type and 8 when the file cannot be opened (only
// regular files are).
int LoadPngDib(TPngDibRecord& record);
void FreePngDib(TPngDibRecord& record);

// The bitmap an operation makes of the source: 1 a quarter turn left, 2
// right, 3 upside down, 4 left to right. It has the source's format (8, 24
// or 32 bits; a palette keeps its colours). The pixels move in memory, in
// square tiles for the turns, so both sides stay in the cache.
std::unique_ptr<TBitmap> TurnedOrMirrored(TBitmap& source, int operation);
