#include "imagefunc.h"

#include "commonfunc.h"

#include "imaging/vxfile.h"
#include "imaging/vximage.h"
#include "kernel/registry.h"
#include "vcl/graphics.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "win/fileops.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <algorithm>
#include <vector>

#include <png.h>

namespace {

struct WallpaperStyle {
    int style;
    const char* tile;
    const char* wallpaperStyle;
};
constexpr WallpaperStyle kWallpaperStyles[] = {
    {1, "0", "0"},  // centred
    {2, "0", "2"},  // stretched
    {3, "1", "0"},  // tiled
};

constexpr std::uint32_t kTiffFormat = 6;

}  // namespace

void SetWallpaper(int style, TImage& image)
{
    // The whole folder path, however long: a cut path would leave the
    // setting pointing elsewhere than the bitmap.
    std::vector<char> folder(256);
    UINT n = GetWindowsDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
    if (n >= folder.size()) {
        folder.resize(n);
        n = GetWindowsDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (n == 0 || n >= folder.size())
        throw EFCreateError("Cannot create the wallpaper's folder");
    const std::string path = std::string(folder.data(), n) + PathDelim + kWallpaperFileName;
    image.Picture().Bitmap()->SaveToFile(path);

    TRegistry reg;
    reg.RootKey = HKEY_CURRENT_USER;
    if (reg.OpenKey("Control Panel\\Desktop\\", true)) {
        for (const WallpaperStyle& s : kWallpaperStyles)
            if (s.style == style) {
                reg.WriteString("WallPaper", path);
                reg.WriteString("TileWallPaper", s.tile);
                reg.WriteString("WallPaperStyle", s.wallpaperStyle);
            }
        reg.CloseKey();
    }
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, nullptr, SPIF_SENDCHANGE);
}

void SaveTiffPages(const std::string& path, int pageCount)
{
    std::string folder;
    if (!ChooseFolder("Select a directory to save the files:", folder))
        return;
    const std::string base = ChangeFileExt(ExtractFileName(path), "");
    VxImage image(0);
    int saved = 0;
    for (int i = 0; i < pageCount; ++i) {
        image.SetFrame(i);
        if (!image.Load(path.c_str(), kTiffFormat))
            break;
        const std::string target = Format("%s%d%s", (folder + base + "_page_").c_str(), i + 1, ".tif");
        // The page is encoded whole first; only a complete file goes to the
        // disk, beside the target and renamed over it, and only it counts.
        VxMemFile encoded;
        if (!encoded.Open() || !image.Encode(&encoded, kTiffFormat))
            continue;
        try {
            WriteFileAtomically(target, std::string_view(reinterpret_cast<const char*>(encoded.GetBuffer(false)),
                static_cast<std::size_t>(encoded.Size())));
            ++saved;
        } catch (const Exception&) {
        }
    }
    ShowMessage(IntToStr(saved) + " files saved!");
}

namespace {

constexpr int kPngOk = 0;
constexpr int kPngBadRecord = 2;
constexpr int kPngNoMemory = 3;
constexpr int kPngLibraryError = 5;
constexpr int kPngUnknownColour = 7;
constexpr int kPngCannotOpen = 8;
constexpr std::uint64_t kPngMaxBlock = 256000000;

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The libpng part: every longjmp lands in this function, whose state is
// plain data (the block is released by the caller through the record).
int RunPngRead(std::FILE* file, TPngDibRecord& r)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (!png)
        return kPngNoMemory;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return kPngNoMemory;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return kPngLibraryError;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, nullptr, nullptr, nullptr);
    int bits = 0;
    std::uint32_t entries = 0;
    switch (colour) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        bits = depth > 8 ? 8 : depth;
        entries = 1u << bits;
        if (depth == 16)
            png_set_strip_16(png);
        if (colour == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_strip_alpha(png);
        break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
        bits = 24;
        if (depth == 16)
            png_set_strip_16(png);
        if (colour == PNG_COLOR_TYPE_RGB_ALPHA)
            png_set_strip_alpha(png);
        png_set_bgr(png);
        break;
    case PNG_COLOR_TYPE_PALETTE:
        bits = depth;
        entries = 1u << depth;
        break;
    default:
        png_destroy_read_struct(&png, &info, nullptr);
        return kPngUnknownColour;
    }
    if (bits == 2) {
        // DIBs have no 2-bit rows: each sample is widened to a byte.
        png_set_packing(png);
        bits = 8;
        if (colour != PNG_COLOR_TYPE_PALETTE)
            entries = 4;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    // Sizes in 64 bits: a width near 2^31 times 3 bytes overflows 32.
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
    const std::uint64_t paletteBytes = static_cast<std::uint64_t>(entries) * 4;
    const std::uint64_t bitsOffset = 40 + paletteBytes;
    const std::uint64_t total = bitsOffset + stride * height;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || total > kPngMaxBlock
        || png_get_rowbytes(png, info) > stride) {
        png_destroy_read_struct(&png, &info, nullptr);
        return kPngNoMemory;
    }
    r.Block = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(total), 1));
    if (!r.Block) {
        png_destroy_read_struct(&png, &info, nullptr);
        return kPngNoMemory;
    }
    r.BlockSize = total;
    r.PaletteOffset = 40;
    r.BitsOffset = bitsOffset;
    r.Palette = r.Block + 40;
    r.Bits = r.Block + bitsOffset;
    r.PaletteEntries = entries;
    std::uint8_t* h = r.Block;
    Put32(h, 40);
    Put32(h + 4, width);
    Put32(h + 8, height);
    h[12] = 1;
    h[14] = static_cast<std::uint8_t>(bits);
    Put32(h + 20, static_cast<std::uint32_t>(stride * height));
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        Put32(h + 24, resX);
        Put32(h + 28, resY);
    }
    Put32(h + 32, entries);
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &palette, &count))
            for (int i = 0; i < count && static_cast<std::uint32_t>(i) < entries; ++i) {
                r.Palette[4 * i] = palette[i].blue;
                r.Palette[4 * i + 1] = palette[i].green;
                r.Palette[4 * i + 2] = palette[i].red;
            }
    } else if (entries) {
        for (std::uint32_t i = 0; i < entries; ++i) {
            const auto v = static_cast<std::uint8_t>(i * 255 / (entries - 1));
            r.Palette[4 * i] = r.Palette[4 * i + 1] = r.Palette[4 * i + 2] = v;
        }
    }
    // Row by row into the block's rows, bottom row first; an interlaced
    // file fills them over several passes.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, r.Bits + stride * (height - 1 - y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return kPngOk;
}

}  // namespace

int LoadPngDib(TPngDibRecord& r)
{
    if (r.RecordSize != sizeof(TPngDibRecord) || r.HeaderSize != 40)
        return kPngBadRecord;
    r.Block = nullptr;
    r.BlockSize = 0;
    std::FILE* file = OpenRegularFileStream(r.Path);
    if (!file)
        return kPngCannotOpen;
    const int result = RunPngRead(file, r);
    std::fclose(file);
    if (result != kPngOk)
        FreePngDib(r);
    return result;
}

void FreePngDib(TPngDibRecord& r)
{
    std::free(r.Block);
    r.Block = nullptr;
    r.BlockSize = 0;
    r.Palette = nullptr;
    r.Bits = nullptr;
}

namespace {

// Turns or mirrors the pixels of one bitmap into another, b bytes a pixel,
// in square tiles so that both sides stay in the cache. Operations: 1 a
// quarter turn left, 2 right, 3 upside down, 4 left to right.
template <int b>
void MovePixels(TBitmap& from, TBitmap& to, int operation)
{
    const int w = from.Width(), h = from.Height();
    std::vector<std::uint8_t*> src(static_cast<std::size_t>(h)), dst(static_cast<std::size_t>(to.Height()));
    for (int y = 0; y < h; ++y)
        src[static_cast<std::size_t>(y)] = from.ScanLine(y);
    for (int y = 0; y < to.Height(); ++y)
        dst[static_cast<std::size_t>(y)] = to.ScanLine(y);
    if (operation == 3 || operation == 4) {
        for (int y = 0; y < h; ++y) {
            std::uint8_t* d = dst[static_cast<std::size_t>(operation == 3 ? h - 1 - y : y)];
            const std::uint8_t* s = src[static_cast<std::size_t>(y)];
            if (operation == 3) {
                std::memcpy(d, s, static_cast<std::size_t>(w) * b);
                continue;
            }
            for (int x = 0; x < w; ++x)
                std::memcpy(d + static_cast<std::size_t>(w - 1 - x) * b, s + static_cast<std::size_t>(x) * b, b);
        }
        return;
    }
    constexpr int tile = 64;
    for (int y0 = 0; y0 < h; y0 += tile)
        for (int x0 = 0; x0 < w; x0 += tile) {
            const int y1 = std::min(h, y0 + tile), x1 = std::min(w, x0 + tile);
            for (int x = x0; x < x1; ++x) {
                // Right: (x, y) goes to row x, column h - 1 - y. Left: to
                // row w - 1 - x, column y.
                std::uint8_t* d = dst[static_cast<std::size_t>(operation == 2 ? x : w - 1 - x)];
                for (int y = y0; y < y1; ++y) {
                    const int column = operation == 2 ? h - 1 - y : y;
                    std::memcpy(d + static_cast<std::size_t>(column) * b,
                        src[static_cast<std::size_t>(y)] + static_cast<std::size_t>(x) * b, b);
                }
            }
        }
}

}  // namespace

std::unique_ptr<TBitmap> TurnedOrMirrored(TBitmap& source, int operation)
{
    const bool turn = operation == 1 || operation == 2;
    auto result = std::make_unique<TBitmap>();
    result->SetPixelFormat(source.PixelFormat());
    result->Allocate(turn ? source.Height() : source.Width(), turn ? source.Width() : source.Height());
    if (source.ColorCount() > 0) {
        std::vector<std::uint32_t> colours(static_cast<std::size_t>(source.ColorCount()));
        source.GetColors(0, source.ColorCount(), colours.data());
        result->SetColors(0, source.ColorCount(), colours.data());
    }
    switch (source.BitsPerPixel()) {
    case 8: MovePixels<1>(source, *result, operation); break;
    case 24: MovePixels<3>(source, *result, operation); break;
    default: MovePixels<4>(source, *result, operation); break;
    }
    return result;
}

