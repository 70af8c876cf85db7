// Colours, fonts, brushes, pens and the canvas of the GUI class library.
// A canvas draws through a painter on a widget while it paints, or on the
// memory image of a TBitmap (pixel-exact, used by tests).
#pragma once

#include "rtl/classes.h"

#include <cstdint>
#include <memory>
#include <string>

class QPainter;
class QImage;
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
constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
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

private:
    void ApplyPen();
    void ApplyBrush();
    void ApplyFont();

    QPainter* m_painter = nullptr;
    TFont m_font;
    TBrush m_brush;
    TPen m_pen;
    TPoint m_penPos;
};

// A memory bitmap with its own canvas; its pixels are exact and readable.
class TBitmap : public TObject {
public:
    TBitmap();
    TBitmap(int width, int height);
    ~TBitmap() override;

    int Width() const;
    int Height() const;
    void SetSize(int width, int height);
    TCanvas& Canvas();
    QImage& Image();
    const QImage& Image() const;
    bool Empty() const { return Width() == 0 || Height() == 0; }

private:
    void EndPaint();

    std::unique_ptr<QImage> m_image;
    std::unique_ptr<QPainter> m_painter;
    TCanvas m_canvas;
};

QColor ToQColor(TColor color);
// The 0x00BBGGRR value of a Qt colour.
TColor FromQColor(const QColor& color);
