// The in-memory raster image of the image codecs.
//
// An image is one packed device-independent bitmap (the pixel block: a
// 40-byte info header, the palette, then the rows bottom row first, each
// padded to 4 bytes), plus an optional alpha plane and selection mask of
// width x height bytes. Coordinates are bottom-up: y = 0 is the first row
// stored. Colours are RGBQUAD values; operations that carry alpha carry it
// in the reserved byte.
#pragma once

#include "gdi/wingdi.h"

#include <cstdint>
#include <cstdio>
#include <string>

enum : std::uint32_t {
    VXFMT_UNKNOWN = 0,
    VXFMT_BMP = 1,
    VXFMT_GIF = 2,
    VXFMT_JPG = 3,
    VXFMT_PNG = 4,
    VXFMT_ICO = 5,
    VXFMT_TIF = 6,
    VXFMT_TGA = 7,
    VXFMT_PCX = 8,
    VXFMT_WBMP = 9,
    VXFMT_WMF = 10,
    VXFMT_JP2 = 11,
    VXFMT_JPC = 12,
    VXFMT_PGX = 13,
    VXFMT_PNM = 14,
    VXFMT_RAS = 15,
    VXFMT_COUNT = 16
};

class VxFile;
class VxImage;

// The last error of a decode that gave a picture from a damaged file.
inline constexpr const char* VXIMAGE_DAMAGED_TEXT = "The file is damaged: only part of the picture could be read";

// The attributes that travel with an image's pixels: moved, copied and
// zeroed as one unit.
struct VxImageAttributes {
    std::uint32_t rowWidth;
    std::uint8_t* firstRow;
    VxImage* borrowerSource;
    std::uint32_t formatId;
    char lastError[256];
    std::int32_t stopRequest;  // 0 decode, -1 dimensions only, other values cancel
    std::int32_t transparentIndex;
    RGBQUAD transparentColor;
    std::uint8_t jpegQuality;
    std::uint8_t jpegScale;
    std::int32_t frameToLoad;
    std::int32_t framesFound;
    std::uint32_t frameDelay;
    std::int32_t xDpi;
    std::int32_t yDpi;
    RECT selectionBox;
    std::uint8_t alphaMax;
    bool paletteAlphaEnabled;
    bool enabled;
    std::int32_t xOffset;
    std::int32_t yOffset;
    std::uint32_t codecOptions[VXFMT_COUNT];
    bool damaged;  // the file ended early: the picture holds what was read
    RGBQUAD nearestColor;
    std::uint8_t nearestIndex;
    bool nearestValid;
};

class VxImage {
public:
    explicit VxImage(std::uint32_t formatId = VXFMT_UNKNOWN);
    VxImage(std::uint32_t width, std::uint32_t height, std::uint32_t bpp, std::uint32_t formatId);
    VxImage(const VxImage& source, bool copyPixels, bool copySelection, bool copyAlpha);
    VxImage(const VxImage&) = delete;
    VxImage& operator=(const VxImage&) = delete;
    virtual ~VxImage();

    // Life cycle.
    void InitDefaults(std::uint32_t formatId);
    bool Destroy();
    // Null when the block would pass 4 GB or what the machine can give a
    // picture (win/memlimit.h), with the one "too big" text as last error.
    void* Create(std::uint32_t width, std::uint32_t height, std::uint32_t bpp, std::uint32_t formatId);
    void Copy(const VxImage& source, bool copyPixels = true, bool copySelection = true, bool copyAlpha = true);
    void CopyAttributes(const VxImage& source);
    bool AdoptPixels(VxImage& source);
    void BorrowPixels(const VxImage* source);

    // Geometry and raw access.
    std::uint8_t* GetRowBits(std::uint32_t row = 0) const;
    std::uint32_t GetDibSize() const;
    std::uint32_t GetPaletteSize() const;
    bool ContainsPoint(std::int32_t x, std::int32_t y) const;
    void FillPixels(std::uint8_t value);
    std::uint8_t* GetPixelPointer(std::int32_t x, std::int32_t y) const;
    void SwapRedBlue(std::uint8_t* buffer, std::uint32_t length) const;
    void ExpandBitfields(const std::uint8_t* source, std::uint32_t redMask, std::uint32_t greenMask,
                         std::uint32_t blueMask, std::uint32_t bpp);
    static int CompareByGray(const RGBQUAD& a, const RGBQUAD& b);
    static RGBQUAD ColorRefToRgbQuad(COLORREF color);
    const void* GetPixelBlock() const { return m_block; }

    // Palette.
    RGBQUAD* GetPalette() const;
    RGBQUAD GetPaletteColor(std::uint8_t index) const;
    bool GetPaletteRgb(std::uint32_t index, std::uint8_t* red, std::uint8_t* green, std::uint8_t* blue) const;
    void SetPaletteColor(std::uint8_t index, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                         std::uint8_t alpha = 0);
    void SetPaletteEntry(std::uint8_t index, RGBQUAD color);
    void SetPaletteChannels(std::uint32_t count, const std::uint8_t* red, const std::uint8_t* green,
                            const std::uint8_t* blue);
    void SetPaletteTriples(const std::uint8_t* triples, std::uint32_t count);
    void SetPalette(const RGBQUAD* entries, std::uint32_t count = 256);
    void SetGreyRampPalette();
    bool HasGreyRampPalette() const;
    void ExchangePaletteEntries(std::uint8_t index1, std::uint8_t index2);
    std::uint8_t FindNearestPaletteIndex(RGBQUAD color);
    bool PaletteHasAlpha() const;

    // Pixels.
    std::uint8_t GetPixelIndex(std::int32_t x, std::int32_t y) const;
    std::uint8_t GetPixelIndexUnchecked(std::int32_t x, std::int32_t y) const;
    void SetPixelIndex(std::int32_t x, std::int32_t y, std::uint8_t index);
    RGBQUAD GetPixelColor(std::int32_t x, std::int32_t y, bool withAlpha = true) const;
    RGBQUAD GetPixelColorUnchecked(std::int32_t x, std::int32_t y) const;
    void SetPixelColor(std::int32_t x, std::int32_t y, RGBQUAD color, bool withAlpha = false);
    void SetPixelColorRef(std::int32_t x, std::int32_t y, COLORREF color);

    // Alpha channel and selection.
    bool HasAlpha() const { return m_alpha != nullptr; }
    // A plane of 255 (opaque). False, with the "too big" text as last error,
    // when block and plane together pass what a picture may take or the
    // memory runs out; a decoder then fails rather than lose the alpha.
    bool CreateAlphaPlane();
    void DeleteAlphaPlane();
    void SetAlphaAt(std::int32_t x, std::int32_t y, std::uint8_t value);
    std::uint8_t GetAlphaAt(std::int32_t x, std::int32_t y) const;
    std::uint8_t* GetAlphaPointer(std::int32_t x, std::int32_t y) const;
    std::uint8_t GetAlphaAtUnchecked(std::int32_t x, std::int32_t y) const;
    bool FlipAlphaPlane();
    bool MirrorAlphaPlane();
    bool DeleteSelection();
    bool SelectionHasPoint(std::int32_t x, std::int32_t y) const;

    // Accessors.
    std::uint32_t GetWidth() const { return static_cast<std::uint32_t>(m_header.biWidth); }
    std::uint32_t GetHeight() const { return static_cast<std::uint32_t>(m_header.biHeight); }
    std::uint32_t GetRowStride() const { return m_info.rowWidth; }
    std::uint32_t GetNumColors() const { return m_header.biClrUsed; }
    std::uint32_t GetBpp() const { return m_header.biBitCount; }
    std::uint32_t GetType() const { return m_info.formatId; }
    bool IsValid() const { return m_block != nullptr; }
    std::int32_t GetFrameCount() const { return m_info.framesFound; }
    void SetFrame(std::int32_t frame) { m_info.frameToLoad = frame; }
    const char* GetLastError() const { return m_info.lastError; }
    // A decode that succeeded on a file cut short or broken part way: the
    // image holds what could be read (the rest black), and the last error
    // says so (VXIMAGE_DAMAGED_TEXT).
    bool IsDamaged() const { return m_info.damaged; }
    // For decoders that ran out of data (or met broken data) after the
    // picture was made: the picture stays, with what was read.
    void MarkDamaged();
    std::int32_t GetTransparentIndex() const { return m_info.transparentIndex; }
    void SetTransparentIndex(std::int32_t index) { m_info.transparentIndex = index; }
    RGBQUAD GetTransparentColor() const;
    void SetTransparentColor(RGBQUAD color);
    bool IsTransparent() const { return m_info.transparentIndex >= 0; }
    bool IsIndexed() const { return m_header.biClrUsed != 0; }
    std::uint8_t GetColorType() const;
    std::int32_t GetXDPI() const { return m_info.xDpi; }
    std::int32_t GetYDPI() const { return m_info.yDpi; }
    void SetXDPI(std::int32_t dpi);
    void SetYDPI(std::int32_t dpi);
    std::uint32_t GetFormatOption(std::uint32_t formatId = 0) const;
    bool SetFormatOption(std::uint32_t option, std::uint32_t formatId = 0);
    std::uint8_t GetJpegQuality() const { return m_info.jpegQuality; }
    std::uint8_t GetJpegScale() const { return m_info.jpegScale; }
    void SetOffset(std::int32_t x, std::int32_t y)
    {
        m_info.xOffset = x;
        m_info.yOffset = y;
    }
    const BITMAPINFOHEADER& GetHeader() const { return m_header; }
    std::uint8_t GetAlphaMax() const { return m_info.alphaMax; }
    bool IsEnabled() const { return m_info.enabled; }

    // Loading, saving and format dispatch (vxdispatch.cpp).
    bool Load(const char* path, std::uint32_t formatId = VXFMT_UNKNOWN);
    bool Save(const char* path, std::uint32_t formatId);
    bool Decode(VxFile* stream, std::uint32_t formatId);
    bool Decode(std::FILE* stream, std::uint32_t formatId);
    bool Encode(VxFile* stream, std::uint32_t formatId);
    bool Encode(std::FILE* stream, std::uint32_t formatId);
    bool CheckEncodable(VxFile* stream);

    // Rendering, geometry and interpolation (vxrender.cpp, vxinterp.cpp).
    std::int32_t Draw(HDC dc, std::int32_t x = 0, std::int32_t y = 0, std::int32_t cx = -1, std::int32_t cy = -1,
                      const RECT* clip = nullptr, bool smooth = false);
    bool Flip();
    bool Mirror();
    bool RotateLeft(VxImage* destination = nullptr);
    bool RotateRight(VxImage* destination = nullptr);
    bool Negative();
    RGBQUAD SampleInterpolated(float x, float y, std::uint8_t method, std::uint8_t overflowMode,
                               const RGBQUAD* fill = nullptr);
    RGBQUAD GetColorBeyondEdge(std::int32_t x, std::int32_t y, std::uint8_t overflowMode,
                               const RGBQUAD* fill = nullptr) const;
    void FoldCoordinates(std::int32_t& x, std::int32_t& y, std::uint8_t overflowMode) const;
    void FoldCoordinates(float& x, float& y, std::uint8_t overflowMode) const;

protected:
    // Copies at most 255 characters of the text into the last error.
    void SetError(const char* text);
    void SetError(const std::string& text) { SetError(text.c_str()); }
    // Whether a copy made for a transform got all of this image (pixels and
    // alpha); if not, the last error says why.
    bool KeptWhole(const VxImage& copy);

    std::uint8_t* m_block = nullptr;
    BITMAPINFOHEADER m_header{};
    VxImageAttributes m_info{};
    std::uint8_t* m_selection = nullptr;
    std::uint8_t* m_alpha = nullptr;

private:
    bool IsBorrower() const { return m_info.borrowerSource != nullptr; }
    std::size_t PlaneSize() const
    {
        return static_cast<std::size_t>(GetWidth()) * static_cast<std::size_t>(GetHeight());
    }
};
