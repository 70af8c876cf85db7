// The GIF graphic class: a whole GIF file as a tree of objects (a header
// with the global colour table, and the frames with their extensions,
// local tables and pixels) that the picture registry creates for ".gif"
// files, which draws its first frame or its animation onto a canvas.
#pragma once

#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifitems.h"
#include "rtl/classes.h"
#include "rtl/resources.h"
#include "rtl/threads.h"
#include "vcl/graphics.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TGIFPainter;

// The passes of Optimize, one bit each.
enum TGIFOptimizeOption : std::uint8_t {
    ooCrop = 1 << 0,          // transparent borders cut off
    ooMerge = 1 << 1,         // what the frame before shows already made transparent
    ooCleanup = 1 << 2,       // needless transparency, disposal, extensions and frames dropped
    ooColorMap = 1 << 3,      // colour tables sorted by use, unused colours dropped
    ooReduceColors = 1 << 4,  // accepted for the interface; nothing is reduced
};
using TGIFOptimizeOptions = std::uint8_t;

namespace gifmsg {
inline constexpr const char* NotSupported = "Object type not supported for operation";
inline constexpr const char* ClipboardFailed = "Failed to store GIF on clipboard";
inline constexpr const char* UnknownClipboardFormat = "Unsupported clipboard format";
inline constexpr const char* Copying = "Copying...";
inline constexpr const char* Optimizing = "Optimizing...";
}  // namespace gifmsg

using TGIFWarning = std::function<void(TObject* sender, TGIFSeverity severity, const std::string& message)>;

class TGIFImage : public TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;

    int Width() const override { return m_header.Width(); }
    int Height() const override { return m_header.Height(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    bool Empty() const override { return m_images.Count() == 0; }
    void Draw(TCanvas& canvas, const TRect& rect) override;
    // A failed load raises, puts the stream back where it was and keeps
    // the frames read before the failure.
    void LoadFromStream(TStream& stream) override;
    // The header, the frames and the trailer.
    void SaveToStream(TStream& stream) override;
    // As a form stores it: the stream, first optimised in every way that
    // keeps the animation when GIFImageOptimizeOnStream is set.
    void WriteData(TStream& stream) override;
    GdiPalette* Palette() const override;
    // Takes the palette (none drops the cached one and the bitmap drawn with it).
    void SetPalette(GdiPalette* palette) override;

    void Clear();
    void NewImage() { Clear(); }

    // Assignment (gifimageassign.cpp). Assign copies another GIF image
    // whole (header, frames with their extensions, draw settings and paint
    // events), and leaves no progress and no warning handler; of any other
    // graphic or picture it makes one frame; null clears; other objects
    // raise EConvertError. AssignTo fills a bitmap with GetBitmap; other
    // destinations raise EConvertError.
    void Assign(const TObject* source);
    void AssignTo(TObject* destination);
    // Appends a frame made from a graphic, or takes a frame of this image
    // (a frame of another image, or one already in the list, is copied);
    // anything else raises "Object type not supported for operation".
    // Answers the frame's index.
    int Add(TObject* source);

    // Optimisation (gifimageoptimize.cpp), under the painter-list lock and
    // with every painter stopped. The composed animation (frames, delays,
    // loop count) stays as it was.
    void Optimize(TGIFOptimizeOptions options, TColorReduction reduction = rmNetscape,
                  TDitherMode dither = dmNearest, int reductionBits = 8);
    // All colour tables merged into one global table of the colours in use.
    void OptimizeColorMap();
    // Drops the bitmaps and palettes; a single frame's local table becomes
    // the global one when there is none.
    void Pack();

    // The clipboard (gifimageclipboard.cpp). Loads "GIF Image" data, or a
    // CF_BITMAP as one frame; a null handle is taken from the open
    // clipboard. Other formats raise "Unsupported clipboard format".
    void LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE palette);
    // The bitmap's clipboard form (CF_BITMAP, a copy of its bitmap and of
    // its palette, if any) for the caller to set, and the GIF itself put
    // on the open clipboard as "GIF Image". An empty image does nothing.
    void SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette);
    TGIFHeader& Header() { return m_header; }
    TGIFImageList& Images() { return m_images; }
    TGIFColorMap& GetColorMap() { return m_header.ColorMap(); }
    TGIFVersion GetVersion() const;
    int GetColorResolution();
    int GetBitsPerPixel();
    int GetBackgroundColorIndex() const { return m_header.BackgroundColorIndex(); }
    void SetBackgroundColorIndex(int index) { m_header.SetBackgroundColorIndex(index); }
    COLORREF GetBackgroundColor() { return m_header.GetBackgroundColor(); }
    void SetBackgroundColor(COLORREF color) { m_header.SetBackgroundColor(color); }
    // The logical screen descriptor's aspect byte, as stored.
    int GetAspectRatio() const { return m_header.Descriptor().AspectRatio; }
    void SetAspectRatio(int ratio) { m_header.Descriptor().AspectRatio = static_cast<std::uint8_t>(ratio); }
    // A GIF image equals only itself.
    bool Equals(TGraphic* graphic) override { return graphic == this; }
    // Loads the module's raw-data resource (RT_RCDATA) of that name;
    // EResNotFound when it has none.
    void LoadFromResourceName(HINSTANCE instance, const std::string& name);

    TGIFDrawOptions DrawOptions() const { return m_drawOptions; }
    void SetDrawOptions(TGIFDrawOptions options);
    bool GetAnimate() const { return m_drawOptions & goAnimate; }
    void SetAnimate(bool on);
    int AnimationSpeed() const { return m_animationSpeed; }
    void SetAnimationSpeed(int speed);
    int ReductionBits() const { return m_reductionBits; }
    void SetReductionBits(int bits);
    // How frames made from pictures of more than 8 bits per pixel get their
    // colours.
    TColorReduction ColorReduction() const { return m_colorReduction; }
    void SetColorReduction(TColorReduction reduction) { m_colorReduction = reduction; }
    TDitherMode DitherMode() const { return m_ditherMode; }
    void SetDitherMode(TDitherMode mode) { m_ditherMode = mode; }
    TGIFCompression Compression() const { return m_compression; }
    void SetCompression(TGIFCompression compression) { m_compression = compression; }
    bool GetDoDither() const;
    bool GetIsTransparent() const;
    TColor DrawBackgroundColor() const { return m_drawBackgroundColor; }
    void SetDrawBackgroundColor(TColor color) { m_drawBackgroundColor = color; }

    // The image rendered at screen size: the first frame, or the frame an
    // animation showed last.
    TBitmap* GetBitmap();
    TBitmap* NewBitmap();
    void FreeBitmap();
    // The palette the image draws with (none when it has no colours).
    HPALETTE GetPalette();
    bool PaletteModified() const { return m_paletteModified; }
    void SetPaletteModified(bool on) { m_paletteModified = on; }

    void Warning(TObject* sender, TGIFSeverity severity, const std::string& message);
    // The change notification, with the object that changed.
    void NotifyChanged(TObject* sender);
    void ReportProgress(TObject* sender, TProgressStage stage, std::uint8_t percent, bool redrawNow,
                        const std::string& message);

    // Pixels a frame of the stream being read may take, its data holding
    // dataBytes: what they can encode, and together with the frames before
    // no more than a small allowance beyond; "Premature end of data" past it.
    void ReserveFramePixels(std::uint64_t pixels, std::int64_t dataBytes);

    TGIFWarning OnGIFWarning;
    TNotifyEvent OnPaintStart, OnBeforeFrame, OnAfterFrame, OnLoopPass, OnPaintEnd;

    // The painters drawing this image's animation; the one Draw started.
    TThreadList& Painters() { return m_painters; }
    TGIFPainter* DrawPainter() const { return m_drawPainter; }

    // Painter management (gifpaint.cpp). Paint starts an asynchronous
    // painter on the canvas and answers it; InternalPaint makes one (and
    // runs a synchronous one to its end, raising what ended it).
    TGIFPainter* Paint(TCanvas& canvas, const TRect& rect, TGIFDrawOptions options);
    TGIFPainter* InternalPaint(TGIFPainter** painterRef, TCanvas& canvas, const TRect& rect,
                               TGIFDrawOptions options);
    // Stops the draw painter and waits for it; then frees the bitmap.
    void StopDraw();
    // Stops every painter and waits for the asynchronous ones to end.
    void PaintStop();
    void PaintStart();
    void PaintPause();
    void PaintResume();
    void PaintRestart();
    TThreadPriority ThreadPriority() const { return m_threadPriority; }
    void SetThreadPriority(TThreadPriority priority) { m_threadPriority = priority; }

protected:
    void Changed() override;

private:
    // Assign of a graphic or picture: one frame made from it.
    void AssignPicture(const TObject* source);
    // The load itself, over a stream whose single bytes are cheap.
    void LoadFromBufferedStream(TStream& stream);
    void DrawBitmap(TCanvas& canvas, const TRect& rect);
    // Sets the screen's width or height; a frame reaching past it raises.
    void SetScreenSize(int value, bool width);
    // Starts the draw painter and, unless it draws on the canvas itself,
    // draws its first frame from the bitmap it paints into.
    void DrawAnimation(TCanvas& canvas, const TRect& rect);

    bool m_drawing = false;
    bool m_inPalette = false;
    TGIFImageList m_images;
    TGIFHeader m_header;
    HPALETTE m_globalPalette = nullptr;
    TThreadList m_painters;
    TGIFDrawOptions m_drawOptions;
    TColorReduction m_colorReduction;
    int m_reductionBits;
    TDitherMode m_ditherMode;
    TGIFCompression m_compression;
    std::unique_ptr<TBitmap> m_bitmap;
    TGIFPainter* m_drawPainter = nullptr;
    TThreadPriority m_threadPriority = TThreadPriority::tpNormal;
    int m_animationSpeed;
    TColor m_drawBackgroundColor = clNone;
    bool m_paletteModified = false;
    // Pixels allocated for frames by the load in progress, and the stream
    // size it started with.
    std::uint64_t m_loadPixels = 0;
};

// A new 216-colour palette: entry r * 36 + g * 6 + b is (51r, 51g, 51b).
HPALETTE WebPalette();
