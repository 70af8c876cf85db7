// The drawing state the metafile interpreters share, over QPainter.
//
// Geometry is mapped to device pixels here (world transform, then window
// to viewport, then the playback transform) and drawn unantialiased.
// Shapes with a bounding rectangle leave out their right and bottom edge,
// as GDI draws them: the outline runs on the pixels from left to right - 1.
#include "gdi/mf_p.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t kMaxSavedStates = 4096;
constexpr std::uint32_t kMaxObjects = 65536;
// Device coordinates beyond this are cut to the target before drawing:
// the rasteriser's fixed-point arithmetic does not reach much further.
constexpr double kCoordLimit = 1 << 22;
constexpr double kMaxFontPixels = 4096;

// Raster operations of two operands for pens and brushes, as composition
// modes. R2_BLACK (1) and R2_WHITE (16) draw black and white plainly.
struct Rop2Mode {
    int rop;
    QPainter::CompositionMode mode;
};
const Rop2Mode kRop2Modes[] = {
    {1, QPainter::CompositionMode_SourceOver},
    {2, QPainter::RasterOp_NotSourceAndNotDestination},
    {3, QPainter::RasterOp_NotSourceAndDestination},
    {4, QPainter::RasterOp_NotSource},
    {5, QPainter::RasterOp_SourceAndNotDestination},
    {6, QPainter::RasterOp_NotDestination},
    {7, QPainter::RasterOp_SourceXorDestination},
    {8, QPainter::RasterOp_NotSourceOrNotDestination},
    {9, QPainter::RasterOp_SourceAndDestination},
    {10, QPainter::RasterOp_NotSourceXorDestination},
    {12, QPainter::RasterOp_NotSourceOrDestination},
    {13, QPainter::CompositionMode_SourceOver},
    {14, QPainter::RasterOp_SourceOrNotDestination},
    {15, QPainter::RasterOp_SourceOrDestination},
    {16, QPainter::CompositionMode_SourceOver},
};

// Ternary raster operations of the blits: whether the source bitmap takes
// part, the composition mode, and a constant colour for the operations
// that use none (or the brush, for the pattern ones).
enum class BlitSource { Image, Brush, Black, White };
struct Rop3 {
    std::uint32_t rop;
    BlitSource source;
    QPainter::CompositionMode mode;
};
const Rop3 kRop3[] = {
    {0x00CC0020, BlitSource::Image, QPainter::CompositionMode_SourceOver},        // SRCCOPY
    {0x00EE0086, BlitSource::Image, QPainter::RasterOp_SourceOrDestination},      // SRCPAINT
    {0x008800C6, BlitSource::Image, QPainter::RasterOp_SourceAndDestination},     // SRCAND
    {0x00660046, BlitSource::Image, QPainter::RasterOp_SourceXorDestination},     // SRCINVERT
    {0x00440328, BlitSource::Image, QPainter::RasterOp_SourceAndNotDestination},  // SRCERASE
    {0x00330008, BlitSource::Image, QPainter::RasterOp_NotSource},                // NOTSRCCOPY
    {0x001100A6, BlitSource::Image, QPainter::RasterOp_NotSourceAndNotDestination},  // NOTSRCERASE
    {0x00BB0226, BlitSource::Image, QPainter::RasterOp_NotSourceOrDestination},   // MERGEPAINT
    {0x00F00021, BlitSource::Brush, QPainter::CompositionMode_SourceOver},        // PATCOPY
    {0x005A0049, BlitSource::Brush, QPainter::RasterOp_SourceXorDestination},     // PATINVERT
    {0x00550009, BlitSource::White, QPainter::RasterOp_SourceXorDestination},     // DSTINVERT
    {0x00000042, BlitSource::Black, QPainter::CompositionMode_SourceOver},        // BLACKNESS
    {0x00FF0062, BlitSource::White, QPainter::CompositionMode_SourceOver},        // WHITENESS
};

// Cosmetic dash patterns in pixels, and geometric ones in pen widths.
std::vector<qreal> DashPattern(int style, bool cosmetic)
{
    switch (style) {
    case PS_DASH: return cosmetic ? std::vector<qreal>{18, 6} : std::vector<qreal>{3, 1};
    case PS_DOT: return cosmetic ? std::vector<qreal>{3, 3} : std::vector<qreal>{1, 1};
    case PS_DASHDOT: return cosmetic ? std::vector<qreal>{9, 6, 3, 6} : std::vector<qreal>{3, 1, 1, 1};
    case PS_DASHDOTDOT: return cosmetic ? std::vector<qreal>{9, 3, 3, 3, 3, 3} : std::vector<qreal>{3, 1, 1, 1, 1, 1};
    case PS_ALTERNATE: return {1, 1};
    }
    return {};
}

Qt::BrushStyle HatchStyle(int hatch)
{
    static const Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                              Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    return hatch >= 0 && hatch < 6 ? kHatches[hatch] : Qt::SolidPattern;
}

bool Finite(const QTransform& t)
{
    const double v[] = {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()};
    return std::all_of(std::begin(v), std::end(v), [](double x) { return std::isfinite(x); });
}

// The angle, in Qt's degrees (counterclockwise from three o'clock), of a
// point seen from the centre of an ellipse.
double EllipseAngle(const QRectF& box, QPointF p)
{
    const QPointF c = box.center();
    const double rx = box.width() / 2, ry = box.height() / 2;
    if (rx <= 0 || ry <= 0)
        return 0;
    return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180.0 / M_PI;
}

}  // namespace

MfCanvas::MfCanvas(QPainter& painter, const QTransform& playback, const QRect& bounds, QPointF pixelsPerMm, bool wmf)
    : m_p(painter), m_base(painter.transform()), m_playback(playback), m_bounds(bounds), m_pxPerMm(pixelsPerMm), m_wmf(wmf),
      m_text(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
{
    m_p.setRenderHint(QPainter::Antialiasing, false);
    m_p.setRenderHint(QPainter::TextAntialiasing, false);
    m_p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // A one-pixel line on a whole coordinate covers the pixels below and to
    // the right of it; where the painter's surface is flipped (a bottom-up
    // bitmap), that is the pixel above, so lines are moved by one pixel
    // more. Fills follow pixel centres and need no such care.
    m_lineBase = QTransform::fromTranslate(m_base.m11() < 0 ? 1 : 0, m_base.m22() < 0 ? 1 : 0) * m_base;
    if (wmf)
        m_s.mapMode = MM_ANISOTROPIC;
}

// ---------------------------------------------------------------------------
// Objects

void MfCanvas::PutObject(std::uint32_t index, MfObject object)
{
    if (index >= kMaxObjects)
        return;
    if (index >= m_objects.size())
        m_objects.resize(index + 1);
    m_objects[index] = std::move(object);
}

void MfCanvas::AddObject(MfObject object)
{
    for (std::size_t i = 0; i < m_objects.size(); ++i)
        if (!m_objects[i]) {
            m_objects[i] = std::move(object);
            return;
        }
    PutObject(static_cast<std::uint32_t>(m_objects.size()), std::move(object));
}

const MfObject* MfCanvas::Object(std::uint32_t index) const
{
    return index < m_objects.size() && m_objects[index] ? &*m_objects[index] : nullptr;
}

void MfCanvas::SelectObject(std::uint32_t index)
{
    // Stock objects have the top bit set (EMF only).
    if (!m_wmf && (index & 0x80000000u)) {
        switch (index & 0x7FFFFFFF) {
        case 0: m_s.brush = MfBrush{BS_SOLID, Qt::white, 0, {}}; break;
        case 1: m_s.brush = MfBrush{BS_SOLID, QColor(192, 192, 192), 0, {}}; break;
        case 2: m_s.brush = MfBrush{BS_SOLID, QColor(128, 128, 128), 0, {}}; break;
        case 3: m_s.brush = MfBrush{BS_SOLID, QColor(64, 64, 64), 0, {}}; break;
        case 4: m_s.brush = MfBrush{BS_SOLID, Qt::black, 0, {}}; break;
        case 5: m_s.brush = MfBrush{BS_NULL, Qt::black, 0, {}}; break;
        case 6: m_s.pen = MfPen{PS_SOLID, 0, Qt::white, {}}; break;
        case 7: m_s.pen = MfPen{PS_SOLID, 0, Qt::black, {}}; break;
        case 8: m_s.pen = MfPen{PS_NULL, 0, Qt::black, {}}; break;
        case 10: case 11: case 12: case 13: case 14: case 16: case 17: m_s.font = MfFont{}; break;
        default: break;
        }
        return;
    }
    const MfObject* o = Object(index);
    if (!o)
        return;
    switch (o->kind) {
    case MfObject::Pen: m_s.pen = o->pen; break;
    case MfObject::Brush: m_s.brush = o->brush; break;
    case MfObject::Font: m_s.font = o->font; break;
    case MfObject::Region: SelectClip(LogicalToDevice(o->region), RGN_COPY); break;
    case MfObject::Palette: break;
    }
}

void MfCanvas::DeleteObject(std::uint32_t index)
{
    if (index < m_objects.size())
        m_objects[index].reset();
}

// ---------------------------------------------------------------------------
// Mapping

void MfCanvas::SetMapMode(int mode)
{
    if (mode >= MM_TEXT && mode <= MM_ANISOTROPIC)
        m_s.mapMode = mode;
}

void MfCanvas::SetWindowExt(QPointF e)
{
    if (e.x() != 0 && e.y() != 0)
        m_s.windowExt = e;
}

void MfCanvas::SetViewportExt(QPointF e)
{
    if (e.x() != 0 && e.y() != 0)
        m_s.viewportExt = e;
}

void MfCanvas::ScaleWindowExt(double xNum, double xDen, double yNum, double yDen)
{
    if (xDen != 0 && yDen != 0)
        SetWindowExt(QPointF(m_s.windowExt.x() * xNum / xDen, m_s.windowExt.y() * yNum / yDen));
}

void MfCanvas::ScaleViewportExt(double xNum, double xDen, double yNum, double yDen)
{
    if (xDen != 0 && yDen != 0)
        SetViewportExt(QPointF(m_s.viewportExt.x() * xNum / xDen, m_s.viewportExt.y() * yNum / yDen));
}

void MfCanvas::ModifyWorld(const QTransform& t, int mode)
{
    switch (mode) {
    case 1: m_s.world = QTransform(); break;      // MWT_IDENTITY
    case 2: m_s.world = t * m_s.world; break;     // MWT_LEFTMULTIPLY
    case 3: m_s.world = m_s.world * t; break;     // MWT_RIGHTMULTIPLY
    case 4: m_s.world = t; break;                 // MWT_SET
    default: break;
    }
    if (!Finite(m_s.world) || m_s.world.determinant() == 0)
        m_s.world = QTransform();
}

QTransform MfCanvas::Page() const
{
    double sx = 1, sy = 1;
    switch (m_s.mapMode) {
    case MM_LOMETRIC: sx = 0.1; sy = -0.1; break;
    case MM_HIMETRIC: sx = 0.01; sy = -0.01; break;
    case MM_LOENGLISH: sx = 0.254; sy = -0.254; break;
    case MM_HIENGLISH: sx = 0.0254; sy = -0.0254; break;
    case MM_TWIPS: sx = 25.4 / 1440; sy = -25.4 / 1440; break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
        sx = m_s.viewportExt.x() / m_s.windowExt.x();
        sy = m_s.viewportExt.y() / m_s.windowExt.y();
        if (m_s.mapMode == MM_ISOTROPIC) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default: break;
    }
    if (m_s.mapMode >= MM_LOMETRIC && m_s.mapMode <= MM_TWIPS) {
        sx *= m_pxPerMm.x();
        sy *= m_pxPerMm.y();
    }
    const QPointF wo = m_s.windowOrg, vo = m_s.viewportOrg;
    return QTransform(sx, 0, 0, sy, vo.x() - wo.x() * sx, vo.y() - wo.y() * sy);
}

QTransform MfCanvas::Total() const { return m_s.world * Page() * m_playback; }

bool MfCanvas::AxisAligned() const
{
    const QTransform t = Total();
    return t.m12() == 0 && t.m21() == 0;
}

double MfCanvas::DeviceScale() const { return std::sqrt(std::fabs(Total().determinant())); }

void MfCanvas::Save()
{
    if (m_saved.size() < kMaxSavedStates)
        m_saved.push_back(m_s);
}

void MfCanvas::Restore(int relative)
{
    // Negative: that many levels back; positive: an absolute level from 1.
    const long level = relative < 0 ? static_cast<long>(m_saved.size()) + relative : relative - 1;
    if (level < 0 || level >= static_cast<long>(m_saved.size()))
        return;
    m_s = m_saved[static_cast<std::size_t>(level)];
    m_saved.resize(static_cast<std::size_t>(level));
}

// ---------------------------------------------------------------------------
// Pens, brushes and the painter

QPen MfCanvas::DevicePen() const
{
    const int style = m_s.pen.style & PS_STYLE_MASK;
    if (style == PS_NULL)
        return Qt::NoPen;
    QColor color = m_s.pen.color;
    if (m_s.rop2 == 1)
        color = Qt::black;
    else if (m_s.rop2 == 16)
        color = Qt::white;
    const double width = m_s.pen.width * DeviceScale();
    const bool cosmetic = width < 1.5;
    QPen pen(color);
    pen.setCosmetic(true);
    if (cosmetic) {
        pen.setWidth(0);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
    } else {
        pen.setWidthF(std::min(width, kCoordLimit));
        const int cap = m_s.pen.style & PS_ENDCAP_MASK;
        pen.setCapStyle(cap == PS_ENDCAP_FLAT ? Qt::FlatCap : cap == PS_ENDCAP_SQUARE ? Qt::SquareCap : Qt::RoundCap);
        const int join = m_s.pen.style & PS_JOIN_MASK;
        pen.setJoinStyle(join == PS_JOIN_MITER ? Qt::MiterJoin : join == PS_JOIN_BEVEL ? Qt::BevelJoin : Qt::RoundJoin);
        pen.setMiterLimit(m_s.miterLimit);
    }
    std::vector<qreal> dashes = style == PS_USERSTYLE ? m_s.pen.userDashes : DashPattern(style, cosmetic);
    if (style == PS_USERSTYLE && m_s.pen.width > 0)
        for (qreal& d : dashes)
            d /= m_s.pen.width;
    dashes.erase(std::remove_if(dashes.begin(), dashes.end(), [](qreal d) { return !(d > 0) || !std::isfinite(d); }),
                 dashes.end());
    if (dashes.size() % 2)
        dashes.pop_back();
    if (!dashes.empty())
        pen.setDashPattern(QList<qreal>(dashes.begin(), dashes.end()));
    return pen;
}

QBrush MfCanvas::DeviceBrush(const MfBrush& b) const
{
    QColor color = b.color;
    if (m_s.rop2 == 1)
        color = Qt::black;
    else if (m_s.rop2 == 16)
        color = Qt::white;
    switch (b.style) {
    case BS_NULL: return Qt::NoBrush;
    case BS_HATCHED: return QBrush(color, HatchStyle(b.hatch));
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
        if (!b.pattern.isNull())
            return QBrush(b.pattern);
        return QBrush(color);
    default: return QBrush(color);
    }
}

void MfCanvas::ApplyClip()
{
    const QRegion target = m_s.clip ? m_s.clip->intersected(m_bounds) : QRegion(m_bounds);
    if (m_clipApplied && m_appliedClip && *m_appliedClip == target)
        return;
    m_p.setClipRegion(target);
    m_appliedClip = target;
    m_clipApplied = true;
}

bool MfCanvas::BeginDraw()
{
    if (m_s.rop2 == R2_NOP)
        return false;
    ApplyClip();
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    for (const Rop2Mode& r : kRop2Modes)
        if (r.rop == m_s.rop2)
            mode = r.mode;
    m_p.setCompositionMode(mode);
    m_p.setBackgroundMode(m_s.bkMode == OPAQUE_MODE ? Qt::OpaqueMode : Qt::TransparentMode);
    m_p.setBackground(m_s.bkColor);
    return true;
}

void MfCanvas::EndDraw() { m_p.setCompositionMode(QPainter::CompositionMode_SourceOver); }

void MfCanvas::Shape(const QPainterPath& device, bool fill, bool stroke)
{
    if (m_pathOpen) {
        m_path.addPath(device);
        m_pathValid = true;
        return;
    }
    if (!BeginDraw())
        return;
    QPainterPath path = device;
    path.setFillRule(m_s.polyFillMode == WINDING_FILL ? Qt::WindingFill : Qt::OddEvenFill);
    const QPen pen = stroke ? DevicePen() : QPen(Qt::NoPen);
    const QBrush brush = fill ? DeviceBrush(m_s.brush) : QBrush(Qt::NoBrush);
    const QRectF box = path.controlPointRect();
    const QRectF limit(-kCoordLimit, -kCoordLimit, 2 * kCoordLimit, 2 * kCoordLimit);
    if (limit.contains(box)) {
        if (brush.style() != Qt::NoBrush)
            m_p.fillPath(path, brush);
        if (pen.style() != Qt::NoPen) {
            const bool line = pen.widthF() == 0;
            if (line)
                m_p.setTransform(m_lineBase);
            m_p.strokePath(path, pen);
            if (line)
                m_p.setTransform(m_base);
        }
    } else {
        // Cut to the target (with room for the pen) in floating point first.
        QPainterPath visible;
        visible.addRect(QRectF(m_bounds).adjusted(-64, -64, 64, 64));
        if (brush.style() != Qt::NoBrush)
            m_p.fillPath(path.intersected(visible), brush);
        if (pen.style() != Qt::NoPen) {
            QPainterPathStroker stroker(pen);
            stroker.setWidth(std::max<qreal>(pen.widthF(), 1));
            m_p.fillPath(stroker.createStroke(path).intersected(visible), pen.color());
        }
    }
    EndDraw();
}

// ---------------------------------------------------------------------------
// Drawing

void MfCanvas::MoveTo(QPointF p)
{
    m_s.position = p;
    if (m_pathOpen)
        m_path.moveTo(Total().map(p));
}

void MfCanvas::LineTo(QPointF p)
{
    const QTransform t = Total();
    if (m_pathOpen) {
        const QPointF from = t.map(m_s.position);
        if (m_path.elementCount() == 0 || m_path.currentPosition() != from)
            m_path.moveTo(from);
        m_path.lineTo(t.map(p));
        m_pathValid = true;
    } else {
        QPainterPath line(t.map(m_s.position));
        line.lineTo(t.map(p));
        Shape(line, false, true);
    }
    m_s.position = p;
}

void MfCanvas::Polyline(const QPolygonF& points, bool fromCurrent)
{
    if (points.isEmpty())
        return;
    const QTransform t = Total();
    QPainterPath path(t.map(fromCurrent ? m_s.position : points[0]));
    for (qsizetype i = fromCurrent ? 0 : 1; i < points.size(); ++i)
        path.lineTo(t.map(points[i]));
    if (fromCurrent)
        m_s.position = points.back();
    if (m_pathOpen && fromCurrent && m_path.elementCount() > 0 && m_path.currentPosition() == path.elementAt(0)) {
        for (int i = 1; i < path.elementCount(); ++i)
            m_path.lineTo(path.elementAt(i));
        m_pathValid = true;
        return;
    }
    Shape(path, false, true);
}

void MfCanvas::PolyPolyline(const std::vector<QPolygonF>& lines)
{
    const QTransform t = Total();
    QPainterPath path;
    for (const QPolygonF& line : lines) {
        if (line.isEmpty())
            continue;
        path.moveTo(t.map(line[0]));
        for (qsizetype i = 1; i < line.size(); ++i)
            path.lineTo(t.map(line[i]));
    }
    Shape(path, false, true);
}

void MfCanvas::Polygon(const QPolygonF& points) { PolyPolygon({points}); }

void MfCanvas::PolyPolygon(const std::vector<QPolygonF>& polygons)
{
    const QTransform t = Total();
    QPainterPath path;
    for (const QPolygonF& polygon : polygons) {
        if (polygon.size() < 2)
            continue;
        path.addPolygon(t.map(polygon));
        path.closeSubpath();
    }
    Shape(path, true, true);
}

void MfCanvas::PolyBezier(const QPolygonF& points, bool fromCurrent)
{
    const qsizetype first = fromCurrent ? 0 : 1;
    if (points.size() < first + 3)
        return;
    const QTransform t = Total();
    QPainterPath path(t.map(fromCurrent ? m_s.position : points[0]));
    qsizetype i = first;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(t.map(points[i]), t.map(points[i + 1]), t.map(points[i + 2]));
    if (fromCurrent)
        m_s.position = points[i - 1];
    Shape(path, false, true);
}

QPainterPath MfCanvas::DeviceRectPath(const QRectF& box, const QPainterPath& logicalShape) const
{
    const QTransform t = Total();
    QPainterPath device = t.map(logicalShape);
    if (!AxisAligned())
        return device;
    // Fit the shape to the device pixels from left to right - 1.
    const QRectF full = t.mapRect(box.normalized());
    if (full.width() < 1 || full.height() < 1)
        return device;
    const QRectF inner = full.adjusted(0, 0, -1, -1);
    QTransform fit;
    fit.translate(inner.left(), inner.top());
    fit.scale(inner.width() / full.width(), inner.height() / full.height());
    fit.translate(-full.left(), -full.top());
    return fit.map(device);
}

void MfCanvas::Rectangle(const QRectF& box)
{
    QPainterPath shape;
    shape.addRect(box.normalized());
    Shape(DeviceRectPath(box, shape), true, true);
}

void MfCanvas::RoundRect(const QRectF& box, QSizeF corner)
{
    QPainterPath shape;
    shape.addRoundedRect(box.normalized(), std::fabs(corner.width()) / 2, std::fabs(corner.height()) / 2);
    Shape(DeviceRectPath(box, shape), true, true);
}

void MfCanvas::Ellipse(const QRectF& box)
{
    QPainterPath shape;
    shape.addEllipse(box.normalized());
    Shape(DeviceRectPath(box, shape), true, true);
}

void MfCanvas::ArcFamily(const QRectF& box, QPointF start, QPointF end, MfArc kind)
{
    const QRectF b = box.normalized();
    const double a0 = EllipseAngle(b, start);
    double sweep = EllipseAngle(b, end) - a0;
    // Arcs run counterclockwise by default; equal radials make a whole ellipse.
    if (m_s.clockwise) {
        while (sweep >= 0)
            sweep -= 360;
    } else {
        while (sweep <= 0)
            sweep += 360;
    }
    QPainterPath shape;
    if (kind == MfArc::Pie) {
        shape.moveTo(b.center());
        shape.arcTo(b, a0, sweep);
        shape.closeSubpath();
    } else {
        shape.arcMoveTo(b, a0);
        if (kind == MfArc::ArcTo) {
            const QPointF arcStart = shape.currentPosition();
            shape = QPainterPath(m_s.position);
            shape.lineTo(arcStart);
        }
        shape.arcTo(b, a0, sweep);
        if (kind == MfArc::Chord)
            shape.closeSubpath();
    }
    if (kind == MfArc::ArcTo)
        m_s.position = shape.currentPosition();
    const bool closed = kind == MfArc::Chord || kind == MfArc::Pie;
    Shape(DeviceRectPath(box, shape), closed, true);
}

void MfCanvas::AngleArc(QPointF center, double radius, double startDeg, double sweepDeg)
{
    if (!std::isfinite(startDeg) || !std::isfinite(sweepDeg) || !std::isfinite(radius))
        return;
    sweepDeg = std::clamp(sweepDeg, -3600.0, 3600.0);
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath shape(m_s.position);
    QPainterPath arc;
    arc.arcMoveTo(box, std::fmod(startDeg, 360.0));
    shape.lineTo(arc.currentPosition());
    shape.arcTo(box, std::fmod(startDeg, 360.0), sweepDeg);
    m_s.position = shape.currentPosition();
    Shape(Total().map(shape), false, true);
}

void MfCanvas::SetPixel(QPointF p, const QColor& color)
{
    if (m_pathOpen || !BeginDraw())
        return;
    const QPointF d = Total().map(p);
    if (std::fabs(d.x()) < kCoordLimit && std::fabs(d.y()) < kCoordLimit)
        m_p.fillRect(QRectF(std::floor(d.x()), std::floor(d.y()), 1, 1), color);
    EndDraw();
}

void MfCanvas::Text(QPointF reference, const QString& text, const std::vector<double>& dx, std::uint32_t options,
                    const QRectF* rect)
{
    const bool updateCp = (m_s.textAlign & TA_UPDATECP) != 0;
    const QPointF ref = updateCp ? m_s.position : reference;
    const QTransform t = Total();
    const double sx = std::hypot(t.m11(), t.m12());
    const double sy = std::hypot(t.m21(), t.m22());

    if (m_pathOpen || !m_text || !BeginDraw()) {
        if (updateCp && !dx.empty()) {
            double w = 0;
            for (double d : dx)
                w += d;
            m_s.position.rx() += w;
        }
        return;
    }
    if ((options & ETO_OPAQUE) && rect) {
        const QRectF r = t.mapRect(rect->normalized());
        if (QRectF(m_bounds).adjusted(-1, -1, 1, 1).intersects(r))
            m_p.fillRect(r.intersected(QRectF(m_bounds)), m_s.bkColor);
    }

    QFont font(m_s.font.face);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(m_s.font.weight > 0 ? m_s.font.weight : 400, 1, 1000)));
    font.setItalic(m_s.font.italic);
    font.setUnderline(m_s.font.underline);
    font.setStrikeOut(m_s.font.strikeOut);
    double px = m_s.font.height == 0 ? 16 : std::fabs(m_s.font.height) * sy;
    if (m_s.font.height > 0) {
        // A positive height is the cell height: ascent plus descent.
        font.setPixelSize(100);
        const double cell = QFontMetricsF(font).height();
        if (cell > 0)
            px = px * 100 / cell;
    }
    font.setPixelSize(static_cast<int>(std::clamp(std::round(px), 1.0, kMaxFontPixels)));
    const QFontMetricsF fm(font);

    std::vector<double> advances(static_cast<std::size_t>(text.size()));
    double width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const double a = static_cast<std::size_t>(i) < dx.size() ? dx[static_cast<std::size_t>(i)] * sx
                                                                   : fm.horizontalAdvance(text[i]);
        advances[static_cast<std::size_t>(i)] = a;
        width += a;
    }
    double x0 = 0;
    if ((m_s.textAlign & TA_CENTER) == TA_CENTER)
        x0 = -width / 2;
    else if (m_s.textAlign & TA_RIGHT)
        x0 = -width;
    double y0 = fm.ascent();
    if ((m_s.textAlign & TA_BASELINE) == TA_BASELINE)
        y0 = 0;
    else if (m_s.textAlign & TA_BOTTOM)
        y0 = -fm.descent();

    const QPointF origin = t.map(ref);
    if (std::fabs(origin.x()) < kCoordLimit && std::fabs(origin.y()) < kCoordLimit && std::isfinite(width)) {
        m_p.save();
        if ((options & ETO_CLIPPED) && rect)
            m_p.setClipRect(t.mapRect(rect->normalized()), Qt::IntersectClip);
        m_p.translate(origin);
        m_p.rotate(-m_s.font.escapement / 10.0);
        m_p.setFont(font);
        m_p.setPen(m_s.textColor);
        if (m_s.bkMode == OPAQUE_MODE)
            m_p.fillRect(QRectF(x0, y0 - fm.ascent(), width, fm.ascent() + fm.descent()), m_s.bkColor);
        if (dx.empty()) {
            m_p.drawText(QPointF(x0, y0), text);
        } else {
            double x = x0;
            for (qsizetype i = 0; i < text.size(); ++i) {
                m_p.drawText(QPointF(x, y0), QString(text[i]));
                x += advances[static_cast<std::size_t>(i)];
            }
        }
        m_p.restore();
        m_clipApplied = false;
    }
    EndDraw();
    if (updateCp && sx > 0)
        m_s.position.rx() += width / sx;
}

void MfCanvas::Blit(const QRectF& dest, const QImage& source, const QRectF& sourceRect, std::uint32_t rop)
{
    const Rop3* op = nullptr;
    for (const Rop3& r : kRop3)
        if (r.rop == rop)
            op = &r;
    if (!op || (op->source == BlitSource::Image && source.isNull()) || m_pathOpen)
        return;
    const QTransform t = Total();
    const QRectF device = t.mapRect(dest.normalized());
    if (!device.intersects(QRectF(m_bounds)) || !BeginDraw())
        return;
    m_p.setCompositionMode(op->mode);
    if (op->source == BlitSource::Image) {
        // A negative extent mirrors the picture.
        QImage img = source.copy(sourceRect.toAlignedRect());
        img = img.mirrored(dest.width() < 0, dest.height() < 0);
        if (!img.isNull() && device.width() < 2 * kCoordLimit && device.height() < 2 * kCoordLimit) {
            m_p.save();
            m_p.setTransform(t, true);
            m_p.drawImage(dest.normalized(), img);
            m_p.restore();
        }
    } else {
        QBrush brush = op->source == BlitSource::Brush ? DeviceBrush(m_s.brush)
                                                         : QBrush(op->source == BlitSource::Black ? Qt::black : Qt::white);
        m_p.fillRect(device.intersected(QRectF(m_bounds)), brush);
    }
    EndDraw();
}

void MfCanvas::FillRegion(const QRegion& device, const MfBrush& brush)
{
    if (m_pathOpen || !BeginDraw())
        return;
    const QBrush b = DeviceBrush(brush);
    for (const QRect& r : device.intersected(m_bounds))
        m_p.fillRect(r, b);
    EndDraw();
}

void MfCanvas::InvertRegion(const QRegion& device)
{
    if (m_pathOpen || !BeginDraw())
        return;
    m_p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    for (const QRect& r : device.intersected(m_bounds))
        m_p.fillRect(r, Qt::white);
    EndDraw();
}

// ---------------------------------------------------------------------------
// Regions and clipping

QRegion MfCanvas::LogicalToDevice(const QRegion& logical) const
{
    const QTransform t = Total();
    QRegion out;
    for (const QRect& r : logical) {
        const QRectF d = t.mapRect(QRectF(r));
        if (d.intersects(QRectF(m_bounds)))
            out += d.intersected(QRectF(m_bounds)).toAlignedRect();
    }
    return out;
}

QRegion MfCanvas::RecordingToDevice(const QRegion& recording) const
{
    QRegion out;
    for (const QRect& r : recording) {
        const QRectF d = m_playback.mapRect(QRectF(r));
        if (d.intersects(QRectF(m_bounds)))
            out += d.intersected(QRectF(m_bounds)).toRect();
    }
    return out;
}

void MfCanvas::ClipRect(const QRectF& logical, bool exclude)
{
    // Mapped in floating point: a rectangle of the file's 32-bit
    // coordinates can be wider than an int holds.
    const QRectF device = Total().mapRect(logical.normalized());
    QRegion r = device.intersects(QRectF(m_bounds)) ? QRegion(device.intersected(QRectF(m_bounds)).toAlignedRect()) : QRegion();
    if (!AxisAligned()) {
        QPainterPath p;
        p.addRect(logical.normalized());
        r = QRegion(Total().map(p).toFillPolygon().toPolygon()).intersected(m_bounds);
    }
    SelectClip(r, exclude ? RGN_DIFF : RGN_AND);
}

void MfCanvas::OffsetClip(QPointF logical)
{
    if (!m_s.clip)
        return;
    const QTransform t = Total();
    const QPointF d = t.map(logical) - t.map(QPointF(0, 0));
    if (std::fabs(d.x()) < kCoordLimit && std::fabs(d.y()) < kCoordLimit)
        m_s.clip->translate(qRound(d.x()), qRound(d.y()));
}

void MfCanvas::SelectClip(const std::optional<QRegion>& device, int mode)
{
    const QRegion current = m_s.clip ? *m_s.clip : QRegion(m_bounds);
    if (!device) {
        if (mode == RGN_COPY)
            m_s.clip.reset();
        return;
    }
    switch (mode) {
    case RGN_AND: m_s.clip = current.intersected(*device); break;
    case RGN_OR: m_s.clip = current.united(*device); break;
    case RGN_XOR: m_s.clip = current.xored(*device); break;
    case RGN_DIFF: m_s.clip = current.subtracted(*device); break;
    case RGN_COPY: m_s.clip = *device; break;
    default: break;
    }
}

void MfCanvas::SelectClipPath(int mode)
{
    if (!m_pathValid)
        return;
    QRegion region;
    for (const QPolygonF& polygon : m_path.toFillPolygons())
        region = region.xored(QRegion(polygon.toPolygon(), Qt::OddEvenFill));
    SelectClip(region.intersected(m_bounds), mode);
    AbortPath();
}

// ---------------------------------------------------------------------------
// Paths

void MfCanvas::BeginPath()
{
    m_path = QPainterPath();
    m_pathOpen = true;
    m_pathValid = false;
}

void MfCanvas::AbortPath()
{
    m_path = QPainterPath();
    m_pathOpen = false;
    m_pathValid = false;
}

void MfCanvas::CloseFigure()
{
    if (m_pathOpen)
        m_path.closeSubpath();
}

void MfCanvas::FillPath(bool fill, bool stroke)
{
    if (!m_pathValid || m_pathOpen)
        return;
    QPainterPath path = m_path;
    if (fill)
        path.closeSubpath();
    AbortPath();
    Shape(path, fill, stroke);
}

void MfCanvas::WidenPath()
{
    if (!m_pathValid || m_pathOpen)
        return;
    const QPen pen = DevicePen();
    if (pen.style() == Qt::NoPen)
        return;
    QPainterPathStroker stroker(pen);
    stroker.setWidth(std::max<qreal>(pen.widthF(), 1));
    m_path = stroker.createStroke(m_path);
}
