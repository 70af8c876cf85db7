// Colours, fonts, brushes, pens, the canvas and the graphic classes of the
// GUI class library. A canvas draws through a painter on a widget while it
// paints, or on the memory image of a TBitmap (pixel-exact, used by tests).
// A canvas with a device context (a bitmap's own, or the back buffer of an
// image control being painted) draws graphics with GDI blits.
#pragma once

#include "rtl/classes.h"

#include "rtl/sysutils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QPainter;
class QImage;
class TStream;
class TGraphic;
struct GdiDC;
struct GdiBitmap;
struct GdiPalette;
class QFont;
class QColor;

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
    bool operator==(const TRect&) const = default;
};

inline TRect Rect(int l, int t, int r, int b) { return TRect {l, t, r, b}; }
inline TPoint Point(int x, int y) { return TPoint {x, y}; }

// 0x00BBGGRR, or a system colour (0xFF0000nn) resolved through the palette.
using TColor = std::int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clScrollBar = static_cast<TColor>(0xFF000000);
constexpr TColor clBackground = static_cast<TColor>(0xFF000001);
constexpr TColor clActiveCaption = static_cast<TColor>(0xFF000002);
constexpr TColor clMenu = static_cast<TColor>(0xFF000004);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
constexpr TColor clMenuText = static_cast<TColor>(0xFF000007);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008);
constexpr TColor clHighlight = static_cast<TColor>(0xFF00000D);
constexpr TColor clHighlightText = static_cast<TColor>(0xFF00000E);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
constexpr TColor clBtnShadow = static_cast<TColor>(0xFF000010);
constexpr TColor clGrayText = static_cast<TColor>(0xFF000011);
constexpr TColor clBtnText = static_cast<TColor>(0xFF000012);
constexpr TColor clBtnHighlight = static_cast<TColor>(0xFF000014);
constexpr TColor cl3DDkShadow = static_cast<TColor>(0xFF000015);
constexpr TColor cl3DLight = static_cast<TColor>(0xFF000016);
constexpr TColor clInfoBk = static_cast<TColor>(0xFF000018);

// The 0x00BBGGRR value of a colour, system colours resolved.
std::uint32_t ColorToRGB(TColor color);
constexpr TColor RGB(int r, int g, int b) { return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16); }

enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = int;

constexpr int DEFAULT_CHARSET = 1;
constexpr int ANSI_CHARSET = 0;
constexpr int GB2312_CHARSET = 134;

class TGraphicsObject : public TObject {
public:
    TNotifyEvent OnChange;

protected:
    void Changed()
    {
        if (OnChange)
            OnChange(this);
    }
};

class TFont : public TGraphicsObject {
public:
    TFont();
    const std::string& Name() const { return m_name; }
    void SetName(const std::string& name);
    int Size() const { return m_size; }  // points
    void SetSize(int points);
    int Height() const;                   // pixels, negative as the class library reports it
    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    TFontStyles Style() const { return m_style; }
    void SetStyle(TFontStyles style);
    int Charset() const { return m_charset; }
    void SetCharset(int charset);
    void Assign(const TFont& other);
    bool operator==(const TFont& other) const;

    QFont ToQFont() const;
    void FromQFont(const QFont& font);

private:
    std::string m_name = "Tahoma";
    int m_size = 8;
    TColor m_color = clWindowText;
    TFontStyles m_style = 0;
    int m_charset = DEFAULT_CHARSET;
};

enum class TBrushStyle { bsSolid, bsClear };

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    TBrushStyle Style() const { return m_style; }
    void SetStyle(TBrushStyle style);
    void Assign(const TBrush& other);

private:
    TColor m_color = clWhite;
    TBrushStyle m_style = TBrushStyle::bsSolid;
};

enum class TPenStyle { psSolid, psDash, psDot, psClear };

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    int Width() const { return m_width; }
    void SetWidth(int width);
    TPenStyle Style() const { return m_style; }
    void SetStyle(TPenStyle style);

private:
    TColor m_color = clBlack;
    int m_width = 1;
    TPenStyle m_style = TPenStyle::psSolid;
};

class TCanvas : public TObject {
public:
    TCanvas();
    ~TCanvas() override;

    TFont& Font() { return m_font; }
    TBrush& Brush() { return m_brush; }
    TPen& Pen() { return m_pen; }

    // Binds the canvas to a painter for the time of one paint; nullptr unbinds.
    void SetPainter(QPainter* painter);
    QPainter* Painter() const { return m_painter; }
    bool HandleAllocated() const { return m_painter != nullptr; }

    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);
    void Rectangle(int left, int top, int right, int bottom);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    TPoint PenPos() const { return m_penPos; }
    void TextOut(int x, int y, const std::string& text);
    // Text clipped to the rectangle, the brush filling it first unless clear.
    void TextRect(const TRect& r, int x, int y, const std::string& text);
    int TextWidth(const std::string& text) const;
    int TextHeight(const std::string& text) const;
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);
    void Polygon(const TPoint* points, int count);
    void Ellipse(int left, int top, int right, int bottom);
    // Restricts drawing to the rectangle (empty rectangle: no clip).
    void SetClipRect(const TRect& r);
    TRect ClipRect() const;

    // The device context the canvas draws graphics into; null for a canvas
    // that only has a painter.
    GdiDC* Handle() const { return m_dc; }
    void SetHandle(GdiDC* dc) { m_dc = dc; }
    // Graphics drawn at their own size, stretched over a rectangle, and a
    // rectangle of another canvas copied (stretched) with CopyMode: GDI blits
    // between the device contexts.
    void Draw(int x, int y, TGraphic* graphic);
    void StretchDraw(const TRect& rect, TGraphic* graphic);
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    std::uint32_t CopyMode = 0x00CC0020;  // SRCCOPY
    // Fired after the canvas drew into its device context.
    TNotifyEvent OnChange;
    void Changed();

private:
    void ApplyPen();
    void ApplyBrush();
    void ApplyFont();

    GdiDC* m_dc = nullptr;
    QPainter* m_painter = nullptr;
    TFont m_font;
    TBrush m_brush;
    TPen m_pen;
    TPoint m_penPos;
};

using TProgressStage = int;
constexpr TProgressStage psStarting = 0, psRunning = 1, psEnding = 2;
using TProgressEvent = std::function<void(TObject* sender, TProgressStage stage, std::uint8_t percentDone,
    bool redrawNow, const TRect& r, const std::string& message)>;

VISTREL_DECLARE_EXCEPTION(EInvalidGraphic, Exception)
VISTREL_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception)
VISTREL_DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory)


// The base of every graphic: a picture with a size that draws itself on a
// canvas, loads and saves itself by file and stream, and tells its
// listeners when it changed and how far a long operation has come.
class TGraphic : public TObject {
public:
    TGraphic();
    ~TGraphic() override;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width);
    virtual void SetHeight(int height);
    virtual bool Empty() const = 0;
    // Draws the picture stretched over the rectangle of the canvas.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;

    // Opens only regular files; a failed load raises and leaves the graphic
    // as it was where the format allows, a failed save leaves the file as it
    // was (the whole file is written beside it, then renamed over it).
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    // The graphic as a form description stores it: its own stream.
    virtual void WriteData(TStream& stream) { SaveToStream(stream); }

    // Another graphic of the same class that holds the same picture: both
    // empty, or both writing the same bytes.
    virtual bool Equals(TGraphic* graphic);

    virtual GdiPalette* Palette() const { return nullptr; }
    virtual void SetPalette(GdiPalette*) {}
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool transparent);
    bool Modified() const { return m_modified; }
    void SetModified(bool modified);
    // The last load read a file cut short or broken part way: the picture
    // holds what could be read.
    bool Damaged() const { return m_damaged; }

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

protected:
    virtual void Changed();
    void Progress(TProgressStage stage, std::uint8_t percent, const std::string& message);
    void SetDamaged(bool damaged) { m_damaged = damaged; }

private:
    bool m_transparent = false;
    bool m_modified = false;
    bool m_damaged = false;
};

// The class library's pixel formats; the number is the format's code.
enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// A bitmap held as a GDI DIB section with its own memory device context.
// Rows are stored top row first, so the pixels of a 32-bit bitmap are also
// the QImage that Image() answers. Device-dependent, 15-, 16-bit and custom
// bitmaps keep their format code and hold their pixels in 32 bits; 1-, 4-,
// 8-, 24- and 32-bit ones are DIBs of that depth. A new or resized bitmap
// is white.
class TBitmap : public TGraphic {
public:
    TBitmap();
    TBitmap(int width, int height);
    ~TBitmap() override;

    int Width() const override;
    int Height() const override;
    void SetWidth(int width) override { SetSize(width, Height()); }
    void SetHeight(int height) override { SetSize(Width(), height); }
    void SetSize(int width, int height);
    // New pixels of the size for a caller that fills every one of them: they
    // start black, and the old ones are gone.
    void Allocate(int width, int height);
    bool Empty() const override { return Width() == 0 || Height() == 0; }
    void Draw(TCanvas& canvas, const TRect& rect) override;

    TPixelFormat PixelFormat() const { return m_format; }
    // Converts the pixels to the format (a palette format through the
    // nearest colours of its palette: the bitmap's own, or for a bitmap
    // without one the 6 x 6 x 6 colour cube and greys).
    void SetPixelFormat(TPixelFormat format);
    // Bits per pixel of the rows ScanLine answers.
    int BitsPerPixel() const;
    // The row's bytes, top row 0; raises EInvalidGraphicOperation outside.
    std::uint8_t* ScanLine(int row);
    // The colour table of a palette bitmap.
    int ColorCount() const;
    void GetColors(int start, int count, std::uint32_t* rgbQuads) const;
    void SetColors(int start, int count, const std::uint32_t* rgbQuads);

    TCanvas& Canvas();
    GdiBitmap* Handle() const { return m_bitmap; }
    // Takes the size, format, colours and pixels of the other bitmap.
    void Assign(const TBitmap& other);
    // A 32-bit bitmap's pixels as an image over the same memory; for the
    // other formats a copy in 32 bits that does not follow later drawing.
    QImage& Image();
    const QImage& Image() const;

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // A packed DIB (info header, colours, pixels) as the bitmap; raises
    // EInvalidGraphic and leaves the bitmap as it was when it cannot be read.
    void LoadFromDib(const std::uint8_t* data, std::size_t size);
    // Takes the DIB section with its format code.
    void TakeHandle(GdiBitmap* bitmap, TPixelFormat format);
    // Gives up the DIB section to the caller; the bitmap is left empty.
    GdiBitmap* ReleaseHandle();

private:
    void Release();
    void Reallocate(int width, int height, TPixelFormat format, bool fillWhite);
    void BindCanvas();
    // Ends the painter and the device context; UnbindCanvas drops the image
    // view too.
    void EndPainting();
    void UnbindCanvas();
    void RefreshView() const;

    GdiBitmap* m_bitmap = nullptr;
    TPixelFormat m_format = pfDevice;
    GdiDC* m_dc = nullptr;
    std::unique_ptr<QPainter> m_painter;
    mutable std::unique_ptr<QImage> m_view;
    TCanvas m_canvas;
};

QColor ToQColor(TColor color);
// The 0x00BBGGRR value of a Qt colour.
TColor FromQColor(const QColor& color);

// An icon: of the entries of an icon file, the one nearest 32 x 32 with
// the most colours, drawn through its mask (the mask ANDed onto the
// target, the colours XORed over it). Loading and saving go by icon file.
class TIcon : public TGraphic {
public:
    TIcon();
    ~TIcon() override;
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    bool Empty() const override { return !m_colors; }
    void Draw(TCanvas& canvas, const TRect& rect) override;
    void LoadFromStream(TStream& stream) override;
    // Writes the icon file it was loaded from.
    void SaveToStream(TStream& stream) override;
    // Bits per pixel of the chosen entry.
    int BitCount() const { return m_bitCount; }
    // The AND mask: 1 (white) where the icon lets the background through.
    // Null for an empty icon.
    const TBitmap* MaskBitmap() const { return m_mask.get(); }

private:
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    std::unique_ptr<TBitmap> m_colors;
    std::unique_ptr<TBitmap> m_mask;
    std::string m_file;
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

// A picture holds one graphic of any class. The classes are found through
// one registry by file extension and by clipboard format; the bitmap,
// icon, metafile and JPEG classes are registered from the start, and other
// classes register themselves (the GIF class among them).
class TPicture : public TObject {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return m_graphic.get(); }
    // Takes the graphic (null empties the picture).
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The graphic as a bitmap: a picture that holds another kind of graphic,
    // or none, first drops it for an empty bitmap.
    TBitmap* Bitmap();
    int Width() const { return m_graphic ? m_graphic->Width() : 0; }
    int Height() const { return m_graphic ? m_graphic->Height() : 0; }

    // Creates the class registered for the file's extension and loads the
    // file with it; an extension no class is registered for raises
    // EInvalidGraphic. A failed load leaves the picture as it was.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

    // Registers a class for an extension (without its dot, any case) with
    // its description; a later registration of an extension replaces the
    // earlier one.
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
        TGraphicFactory factory);
    static void UnregisterFileFormat(const std::string& extension);
    static void RegisterClipboardFormat(std::uint32_t format, TGraphicFactory factory);
    static bool SupportsClipboardFormat(std::uint32_t format);
    // A new graphic of the class registered for the clipboard format; null
    // when none is.
    static std::unique_ptr<TGraphic> CreateForClipboardFormat(std::uint32_t format);
    // "Description (*.ext)|*.ext" for every registered extension.
    static std::string GraphicFilter();

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

private:
    void Hook();
    void Changed();
    std::unique_ptr<TGraphic> m_graphic;
};
