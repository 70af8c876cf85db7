#include "graphics.h"

#include "gdi/wingdi.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPolygon>

#include <vector>

std::uint32_t ColorToRGB(TColor color)
{
    if ((static_cast<std::uint32_t>(color) & 0xFF000000u) != 0xFF000000u)
        return static_cast<std::uint32_t>(color) & 0x00FFFFFFu;
    // System colours follow the light desktop palette the program was designed for.
    struct SystemColor {
        TColor id;
        std::uint32_t rgb;
    };
    static constexpr SystemColor table[] = {
        {clScrollBar, 0xC8C8C8}, {clBackground, 0x000000}, {clActiveCaption, 0xD1B499},
        {clWindow, 0xFFFFFF}, {clWindowText, 0x000000}, {clHighlight, 0xD77800},
        {clHighlightText, 0xFFFFFF}, {clBtnFace, 0xF0F0F0}, {clBtnShadow, 0xA0A0A0},
        {clGrayText, 0x6D6D6D}, {clBtnText, 0x000000}, {clBtnHighlight, 0xFFFFFF},
        {cl3DDkShadow, 0x696969}, {cl3DLight, 0xE3E3E3}, {clInfoBk, 0xE1FFFF},
        {clMenu, 0xF0F0F0}, {clMenuText, 0x000000},
    };
    for (const SystemColor& s : table)
        if (s.id == color)
            return s.rgb;
    return 0;
}

QColor ToQColor(TColor color)
{
    const std::uint32_t rgb = ColorToRGB(color);
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

TColor FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

TFont::TFont() = default;

void TFont::SetName(const std::string& name)
{
    if (name == m_name)
        return;
    m_name = name;
    Changed();
}

void TFont::SetSize(int points)
{
    if (points == m_size)
        return;
    m_size = points;
    Changed();
}

int TFont::Height() const { return -(m_size * 96 + 36) / 72; }

void TFont::SetColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    Changed();
}

void TFont::SetStyle(TFontStyles style)
{
    if (style == m_style)
        return;
    m_style = style;
    Changed();
}

void TFont::SetCharset(int charset)
{
    if (charset == m_charset)
        return;
    m_charset = charset;
    Changed();
}

void TFont::Assign(const TFont& other)
{
    if (*this == other)
        return;
    m_name = other.m_name;
    m_size = other.m_size;
    m_color = other.m_color;
    m_style = other.m_style;
    m_charset = other.m_charset;
    Changed();
}

bool TFont::operator==(const TFont& o) const
{
    return m_name == o.m_name && m_size == o.m_size && m_color == o.m_color && m_style == o.m_style
        && m_charset == o.m_charset;
}

QFont TFont::ToQFont() const
{
    // The size in pixels at 96 dpi keeps layouts independent of the screen's dpi.
    QFont f(QString::fromStdString(m_name));
    f.setPixelSize(-Height());
    f.setBold(m_style & fsBold);
    f.setItalic(m_style & fsItalic);
    f.setUnderline(m_style & fsUnderline);
    f.setStrikeOut(m_style & fsStrikeOut);
    return f;
}

void TFont::FromQFont(const QFont& font)
{
    m_name = font.family().toStdString();
    if (font.pointSize() > 0)
        m_size = font.pointSize();
    else if (font.pixelSize() > 0)
        m_size = (font.pixelSize() * 72 + 48) / 96;
    m_style = (font.bold() ? fsBold : 0) | (font.italic() ? fsItalic : 0) | (font.underline() ? fsUnderline : 0)
        | (font.strikeOut() ? fsStrikeOut : 0);
    Changed();
}

void TBrush::SetColor(TColor color)
{
    if (color == m_color && m_style == TBrushStyle::bsSolid)
        return;
    m_color = color;
    m_style = TBrushStyle::bsSolid;
    Changed();
}

void TBrush::SetStyle(TBrushStyle style)
{
    if (style == m_style)
        return;
    m_style = style;
    Changed();
}

void TBrush::Assign(const TBrush& other)
{
    m_color = other.m_color;
    m_style = other.m_style;
    Changed();
}

void TPen::SetColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    Changed();
}

void TPen::SetWidth(int width)
{
    if (width == m_width)
        return;
    m_width = width;
    Changed();
}

void TPen::SetStyle(TPenStyle style)
{
    if (style == m_style)
        return;
    m_style = style;
    Changed();
}

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

void TCanvas::SetPainter(QPainter* painter) { m_painter = painter; }

void TCanvas::ApplyPen()
{
    if (m_pen.Style() == TPenStyle::psClear) {
        m_painter->setPen(Qt::NoPen);
        return;
    }
    QPen pen(ToQColor(m_pen.Color()));
    pen.setWidth(m_pen.Width() <= 1 ? 0 : m_pen.Width());
    pen.setStyle(m_pen.Style() == TPenStyle::psDash ? Qt::DashLine
            : m_pen.Style() == TPenStyle::psDot     ? Qt::DotLine
                                                    : Qt::SolidLine);
    m_painter->setPen(pen);
}

void TCanvas::ApplyBrush()
{
    if (m_brush.Style() == TBrushStyle::bsClear)
        m_painter->setBrush(Qt::NoBrush);
    else
        m_painter->setBrush(ToQColor(m_brush.Color()));
}

void TCanvas::ApplyFont()
{
    m_painter->setFont(m_font.ToQFont());
    m_painter->setPen(ToQColor(m_font.Color()));
}

void TCanvas::FillRect(const TRect& r)
{
    if (!m_painter || r.IsEmpty() || m_brush.Style() == TBrushStyle::bsClear)
        return;
    m_painter->fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(m_brush.Color()));
}

void TCanvas::FrameRect(const TRect& r)
{
    if (!m_painter || r.IsEmpty())
        return;
    const QColor c = ToQColor(m_brush.Color());
    m_painter->fillRect(QRect(r.Left, r.Top, r.Width(), 1), c);
    m_painter->fillRect(QRect(r.Left, r.Bottom - 1, r.Width(), 1), c);
    m_painter->fillRect(QRect(r.Left, r.Top, 1, r.Height()), c);
    m_painter->fillRect(QRect(r.Right - 1, r.Top, 1, r.Height()), c);
}

void TCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (!m_painter)
        return;
    // The class library's rectangle covers right - left by bottom - top pixels,
    // outline included.
    if (m_brush.Style() != TBrushStyle::bsClear)
        m_painter->fillRect(QRect(left, top, right - left, bottom - top), ToQColor(m_brush.Color()));
    if (m_pen.Style() != TPenStyle::psClear && right > left && bottom > top) {
        ApplyPen();
        m_painter->setBrush(Qt::NoBrush);
        m_painter->drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
    }
}

void TCanvas::MoveTo(int x, int y) { m_penPos = {x, y}; }

void TCanvas::LineTo(int x, int y)
{
    if (m_painter && m_pen.Style() != TPenStyle::psClear) {
        ApplyPen();
        // The end point is not drawn, as with the system's line drawing.
        const int dx = x - m_penPos.X, dy = y - m_penPos.Y;
        const int ex = x - (dx > 0) + (dx < 0);
        const int ey = y - (dy > 0) + (dy < 0);
        if (dx != 0 || dy != 0)
            m_painter->drawLine(m_penPos.X, m_penPos.Y, dx == 0 ? x : ex, dy == 0 ? y : ey);
    }
    m_penPos = {x, y};
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    if (!m_painter)
        return;
    const QString s = QString::fromStdString(text);
    const QFont f = m_font.ToQFont();
    const QFontMetrics fm(f);
    if (m_brush.Style() != TBrushStyle::bsClear)
        m_painter->fillRect(QRect(x, y, fm.horizontalAdvance(s), fm.height()), ToQColor(m_brush.Color()));
    ApplyFont();
    m_painter->drawText(x, y + fm.ascent(), s);
    m_penPos = {x + fm.horizontalAdvance(s), y};
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text)
{
    if (!m_painter)
        return;
    m_painter->save();
    m_painter->setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()), Qt::IntersectClip);
    FillRect(r);
    const QFontMetrics fm(m_font.ToQFont());
    ApplyFont();
    m_painter->drawText(x, y + fm.ascent(), QString::fromStdString(text));
    m_painter->restore();
}

int TCanvas::TextWidth(const std::string& text) const
{
    return QFontMetrics(m_font.ToQFont()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) const { return QFontMetrics(m_font.ToQFont()).height(); }

TColor TCanvas::Pixel(int x, int y) const
{
    if (m_dc) {
        const COLORREF c = ::GetPixel(m_dc, x, y);
        return c == CLR_INVALID ? clNone : static_cast<TColor>(c);
    }
    if (!m_painter || !m_painter->device() || m_painter->device()->devType() != QInternal::Image)
        return clNone;
    const auto* img = static_cast<const QImage*>(m_painter->device());
    if (x < 0 || y < 0 || x >= img->width() || y >= img->height())
        return clNone;
    const QRgb p = img->pixel(x, y);
    return RGB(qRed(p), qGreen(p), qBlue(p));
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    if (m_dc) {
        ::SetPixel(m_dc, x, y, ColorToRGB(color));
        Changed();
    } else if (m_painter)
        m_painter->fillRect(QRect(x, y, 1, 1), ToQColor(color));
}

void TCanvas::Polygon(const TPoint* points, int count)
{
    if (!m_painter || count < 2)
        return;
    QPolygon poly;
    for (int i = 0; i < count; ++i)
        poly << QPoint(points[i].X, points[i].Y);
    ApplyPen();
    ApplyBrush();
    m_painter->drawPolygon(poly);
}

void TCanvas::Ellipse(int left, int top, int right, int bottom)
{
    if (!m_painter)
        return;
    ApplyPen();
    ApplyBrush();
    m_painter->drawEllipse(QRect(left, top, right - left - 1, bottom - top - 1));
}

void TCanvas::SetClipRect(const TRect& r)
{
    if (!m_painter)
        return;
    if (r.IsEmpty())
        m_painter->setClipping(false);
    else
        m_painter->setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
}

TRect TCanvas::ClipRect() const
{
    if (!m_painter)
        return {};
    QRect r = m_painter->hasClipping() ? m_painter->clipBoundingRect().toAlignedRect()
                                       : QRect(0, 0, m_painter->device()->width(), m_painter->device()->height());
    return TRect {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

void TCanvas::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TCanvas::Draw(int x, int y, TGraphic* graphic)
{
    if (graphic && !graphic->Empty())
        StretchDraw(Rect(x, y, x + graphic->Width(), y + graphic->Height()), graphic);
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic)
{
    if (!graphic)
        return;
    graphic->Draw(*this, rect);
    Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect)
{
    if (!m_dc || !source.m_dc)
        return;
    // Colours are copied as they are, whatever the mode set for shrinking.
    const int mode = ::SetStretchBltMode(m_dc, COLORONCOLOR);
    ::StretchBlt(m_dc, dest.Left, dest.Top, dest.Width(), dest.Height(), source.m_dc, sourceRect.Left,
        sourceRect.Top, sourceRect.Width(), sourceRect.Height(), CopyMode);
    ::SetStretchBltMode(m_dc, mode);
    Changed();
}
