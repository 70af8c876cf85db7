// One frame of a GIF image: a rectangle of the logical screen holding one
// colour index per pixel, with its descriptor, local colour table and
// extensions, and the bitmap and transparency mask built from the pixels
// on first use.
//
//  Image descriptor, 10 bytes:
//  +0 separator ","  +1 left (16)  +3 top (16)  +5 width (16)  +7 height (16)
//  +9 packed: bit 7 local table, bit 6 interlaced, bit 5 sorted,
//     bits 2-0 table size (2 << n entries)
#pragma once

#include "imaging/gif/gifextensions.h"
#include "imaging/gif/gifitems.h"
#include "vcl/graphics.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct TImageDescriptor {
    std::uint8_t Separator = ',';
    std::uint16_t Left = 0;
    std::uint16_t Top = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t PackedFields = 0;
};

class TGIFSubImage : public TGIFItem {
public:
    static constexpr std::uint8_t kLocalTable = 0x80;
    static constexpr std::uint8_t kInterlaced = 0x40;
    static constexpr std::uint8_t kTableSize = 0x07;
    enum BoundsIndex { bLeft = 1, bTop = 2, bWidth = 3, bHeight = 4 };

    explicit TGIFSubImage(TGIFImage* image);
    // Leaves its image's frame list.
    ~TGIFSubImage() override;

    void Clear();
    bool Empty() const;

    const TImageDescriptor& Descriptor() const { return m_descriptor; }
    int Left() const { return m_descriptor.Left; }
    int Top() const { return m_descriptor.Top; }
    int Width() const { return m_descriptor.Width; }
    int Height() const { return m_descriptor.Height; }
    int GetBounds(int index) const;
    void SetBounds(int index, int value);
    void DoSetBounds(int left, int top, int width, int height);
    TRect GetBoundsRect() const;
    void SetBoundsRect(const TRect& rect);
    TRect GetClientRect() const { return Rect(0, 0, Width(), Height()); }
    bool GetInterlaced() const { return m_descriptor.PackedFields & kInterlaced; }
    void SetInterlaced(bool on);

    // Pixel buffer: width x height indices, rows top first.
    void NewImage();
    void FreeImage();
    void NeedImage();
    std::uint8_t* GetScanline(int row);
    std::uint8_t GetPixel(int x, int y);
    const std::vector<std::uint8_t>& Pixels() const { return m_pixels; }

    TGIFColorMap& ColorMap() { return m_colorMap; }
    TGIFColorMap& GetActiveColorMap();
    int GetColorResolution() const { return m_colorMap.BitsPerPixel() - 1; }
    int GetBitsPerPixel() const { return m_colorMap.BitsPerPixel(); }
    TGIFExtensionList& Extensions() { return m_extensions; }
    bool Transparent() const { return m_transparent; }
    void SetTransparentFlag(bool on) { m_transparent = on; }
    TGIFGraphicControlExtension* GraphicControlExtension() const { return m_gce; }
    // The first graphic control extension read for the frame is the one
    // that counts; later ones stay in the list only.
    void NoteGraphicControlExtension(TGIFGraphicControlExtension* gce);
    void ForgetGraphicControlExtension(TGIFGraphicControlExtension* gce);

    HPALETTE GetPalette();
    void SetPalette(HPALETTE palette);

    // The rendered frame: built on first use, dithered to the web palette
    // when the image dithers; null for an empty frame.
    TBitmap* GetBitmap();
    bool GetHasBitmap() const { return m_bitmap != nullptr; }
    void SetHasBitmap(bool on);
    void NewBitmap();
    void FreeBitmap();
    // 1 bit per pixel, 1 where the pixel is the transparent index.
    HBITMAP Mask() const { return m_mask; }
    bool HasMask();
    void FreeMask();

    // The frame's place in rect when the whole logical screen is scaled
    // into it.
    TRect ScaleRect(const TRect& rect) const;
    void Draw(TCanvas& canvas, const TRect& rect, bool transparent, bool tile);
    void StretchDraw(TCanvas& canvas, const TRect& rect, bool transparent, bool tile);

    // Import (gifframeimport.cpp). Another frame is copied with its
    // extensions; null clears; any other object raises EConvertError.
    void Assign(const TPersistent* source) override;
    // A frame made from a graphic: a bitmap of up to 8 bits per pixel takes
    // its own colours, a deeper one is reduced by the image's colour
    // reduction, dither mode and reduction bits; icons, metafiles and
    // transparent bitmaps give transparent pixels. Null clears. The source
    // is left as it was; a failure leaves the frame empty.
    void Assign(TGraphic* source);
    void Assign(const TPicture* source);
    // The rendered frame into the bitmap (an empty one for an empty frame).
    void AssignTo(TBitmap& dest);
    // Drops the rendered frame; a bitmap given becomes the frame.
    void SetBitmap(TBitmap* value);
    std::string ClassName() const override { return "TGIFSubImage"; }

    // Frame optimisations (gifframecrop.cpp). Crop cuts a transparent
    // frame down to the rectangle of its opaque pixels (an all-transparent
    // frame becomes empty); Merge makes transparent every pixel that shows
    // the colour the previous frame already shows beneath it.
    void Crop();
    void Merge(TGIFSubImage* previous);

    TGIFVersion GetVersion() const override;
    void LoadFromStream(TStream& stream) override;
    // The extensions, then for a frame with pixels the descriptor, the
    // local table and the compressed pixels.
    void SaveToStream(TStream& stream) override;
    // Sets the descriptor's table bits from the local table; the interlace
    // bit stays.
    void Prepare();
    // The pixels as image data, by the image's compression setting.
    void Compress(TStream& stream);

private:
    void Decompress(TStream& stream);
    void CopyFrame(const TGIFSubImage& source);
    void ImportBitmap(const TBitmap& source);
    void ImportGraphic(TGraphic& source);
    // Reads the picture's rows into the pixels and the local table.
    void ReadPixels(TBitmap& picture);
    // Pixels whose flag is set become transparent through a new entry.
    void ApplyMask(const std::vector<std::uint8_t>& transparent);
    void ReportConvertRow(int row);
    // The index Merge turns pixels into when the frame had none.
    int NewTransparentIndex();
    TBitmap* DoGetBitmap();
    TBitmap* DoGetDitherBitmap();
    // Whether this build makes the mask too; the request is used up.
    bool TakeMaskRequest();
    void ReportRenderRow(int row);
    void StoreMask(HBITMAP mask);
    void DrawTiles(const TRect& rect, const std::function<void(int x, int y)>& cell) const;

    std::unique_ptr<TBitmap> m_bitmap;
    HBITMAP m_mask = nullptr;
    bool m_needMask = true;
    HPALETTE m_palette = nullptr;
    std::vector<std::uint8_t> m_pixels;
    TGIFLocalColorMap m_colorMap;
    TImageDescriptor m_descriptor;
    TGIFExtensionList m_extensions;
    bool m_transparent = false;
    TGIFGraphicControlExtension* m_gce = nullptr;
};

class TGIFImageList : public TGIFList {
public:
    using TGIFList::TGIFList;
    TGIFSubImage* Image(int index) const { return static_cast<TGIFSubImage* >(Item(index)); }
    // Reads frames up to the trailer, which is left unread.
    void LoadFromStream(TStream& stream, TGIFImage* parent);
};

// Bytes of a row of width pixels of the given depth padded to alignment
// bits; a size past what memory can address raises "Invalid image dimensions".
std::uint64_t RowBytes(std::uint64_t width, int bitsPerPixel, int alignment);
