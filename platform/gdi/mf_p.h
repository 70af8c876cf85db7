// Internals of the metafile player: the drawing state both record
// interpreters share, and the bitmaps that records carry (the metafile
// object and the record view are in gdi/mfobject_p.h).
#pragma once

#include "gdi/metafile.h"
#include "gdi/mfobject_p.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

// GDI constants of the records.
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;
constexpr int PS_USERSTYLE = 7;
constexpr int PS_ALTERNATE = 8;
constexpr int PS_STYLE_MASK = 0x0F;
constexpr int PS_ENDCAP_MASK = 0x0F00;
constexpr int PS_ENDCAP_SQUARE = 0x0100;
constexpr int PS_ENDCAP_FLAT = 0x0200;
constexpr int PS_JOIN_MASK = 0xF000;
constexpr int PS_JOIN_BEVEL = 0x1000;
constexpr int PS_JOIN_MITER = 0x2000;
constexpr int PS_GEOMETRIC = 0x10000;

constexpr int BS_SOLID = 0;
constexpr int BS_NULL = 1;
constexpr int BS_HATCHED = 2;
constexpr int BS_PATTERN = 3;
constexpr int BS_DIBPATTERN = 5;
constexpr int BS_DIBPATTERNPT = 6;

constexpr int TRANSPARENT_MODE = 1;
constexpr int OPAQUE_MODE = 2;
constexpr int ALTERNATE_FILL = 1;
constexpr int WINDING_FILL = 2;

constexpr int TA_UPDATECP = 1;
constexpr int TA_RIGHT = 2;
constexpr int TA_CENTER = 6;
constexpr int TA_BOTTOM = 8;
constexpr int TA_BASELINE = 24;

constexpr std::uint32_t ETO_PDY = 0x2000;

constexpr int R2_COPYPEN = 13;
constexpr int R2_NOP = 11;

struct MfPen {
    int style = PS_SOLID;  // style, end cap, join and geometric bits
    double width = 0;      // logical units; 0 is one device pixel
    QColor color = Qt::black;
    std::vector<qreal> userDashes;
};

struct MfBrush {
    int style = BS_SOLID;
    QColor color = Qt::white;
    int hatch = 0;
    QImage pattern;
};

struct MfFont {
    double height = 0;  // logical units; negative: character height, positive: cell height
    double width = 0;
    int escapement = 0;  // tenths of a degree, counterclockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charset = 0;
    QString face;
};

struct MfObject {
    enum Kind { Pen, Brush, Font, Palette, Region } kind = Pen;
    MfPen pen;
    MfBrush brush;
    MfFont font;
    QRegion region;  // WMF regions, logical units
};

// The state SaveDC keeps and RestoreDC brings back.
struct MfState {
    int mapMode = MM_TEXT;
    QPointF windowOrg{0, 0};
    QPointF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QPointF viewportExt{1, 1};
    QTransform world;
    MfPen pen;
    MfBrush brush;
    MfFont font;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    int bkMode = OPAQUE_MODE;
    int textAlign = 0;
    int polyFillMode = ALTERNATE_FILL;
    int rop2 = R2_COPYPEN;
    bool clockwise = false;
    double miterLimit = 10;
    QPointF position;  // logical
    std::optional<QRegion> clip;  // device pixels; none: the whole target
};

// Kinds of the arc family.
enum class MfArc { Arc, ArcTo, Chord, Pie };

// The drawing both interpreters play onto. Coordinates handed in are
// logical; the canvas maps them through the world transform, the page
// (window to viewport) and the playback transform to device pixels, and
// draws with the painter, whose own transform takes device pixels to its
// surface.
class MfCanvas {
public:
    // playback: recording device pixels to target pixels; bounds: the
    // target's pixels; pixelsPerMm: of the recording device.
    MfCanvas(QPainter& painter, const QTransform& playback, const QRect& bounds, QPointF pixelsPerMm, bool wmf);

    MfState& State() { return m_s; }

    // Objects. EMF names its slots; WMF takes the lowest free one.
    void PutObject(std::uint32_t index, MfObject object);
    void AddObject(MfObject object);
    void SelectObject(std::uint32_t index);
    void DeleteObject(std::uint32_t index);
    const MfObject* Object(std::uint32_t index) const;

    // Mapping.
    void SetMapMode(int mode);
    void SetWindowOrg(QPointF p) { m_s.windowOrg = p; }
    void SetWindowExt(QPointF e);
    void SetViewportOrg(QPointF p) { m_s.viewportOrg = p; }
    void SetViewportExt(QPointF e);
    void ScaleWindowExt(double xNum, double xDen, double yNum, double yDen);
    void ScaleViewportExt(double xNum, double xDen, double yNum, double yDen);
    void SetWorld(const QTransform& t) { m_s.world = t; }
    void ModifyWorld(const QTransform& t, int mode);
    void Save();
    void Restore(int relative);

    // Drawing.
    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(const QPolygonF& points, bool fromCurrent);
    void Polygon(const QPolygonF& points);
    void PolyPolygon(const std::vector<QPolygonF>& polygons);
    void PolyPolyline(const std::vector<QPolygonF>& lines);
    void PolyBezier(const QPolygonF& points, bool fromCurrent);
    void Rectangle(const QRectF& box);
    void RoundRect(const QRectF& box, QSizeF corner);
    void Ellipse(const QRectF& box);
    void ArcFamily(const QRectF& box, QPointF start, QPointF end, MfArc kind);
    void AngleArc(QPointF center, double radius, double startDeg, double sweepDeg);
    void SetPixel(QPointF p, const QColor& color);
    void Text(QPointF reference, const QString& text, const std::vector<double>& dx, std::uint32_t options,
              const QRectF* rect);
    // Draws the source rectangle of the image into the logical destination
    // with a ternary raster operation; a null image is a pattern operation.
    void Blit(const QRectF& dest, const QImage& source, const QRectF& sourceRect, std::uint32_t rop);
    void FillRegion(const QRegion& device, const MfBrush& brush);
    void InvertRegion(const QRegion& device);

    // Regions and clipping.
    QRegion LogicalToDevice(const QRegion& logical) const;
    QRegion RecordingToDevice(const QRegion& recording) const;
    void ClipRect(const QRectF& logical, bool exclude);
    void OffsetClip(QPointF logical);
    void SelectClip(const std::optional<QRegion>& device, int mode);
    void SelectClipPath(int mode);

    // Paths.
    void BeginPath();
    void EndPath() { m_pathOpen = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath(bool fill, bool stroke);
    void WidenPath();

private:
    QTransform Total() const;
    QTransform Page() const;
    bool AxisAligned() const;
    double DeviceScale() const;
    // Adds to the open path, or fills and strokes the shape now.
    void Shape(const QPainterPath& device, bool fill, bool stroke);
    QPainterPath DeviceRectPath(const QRectF& box, const QPainterPath& logicalShape) const;
    QPen DevicePen() const;
    QBrush DeviceBrush(const MfBrush& b) const;
    bool BeginDraw();
    void EndDraw();
    void ApplyClip();

    QPainter& m_p;
    QTransform m_base;      // the painter's own: device pixels to its surface
    QTransform m_lineBase;  // the same for one-pixel lines (see the constructor)
    QTransform m_playback;
    QRect m_bounds;
    QPointF m_pxPerMm;
    bool m_wmf;
    bool m_text;  // fonts can be drawn (a GUI application exists)
    MfState m_s;
    std::vector<MfState> m_saved;
    std::vector<std::optional<MfObject>> m_objects;
    bool m_pathOpen = false;
    bool m_pathValid = false;
    QPainterPath m_path;  // device pixels
    std::optional<QRegion> m_appliedClip;
    bool m_clipApplied = false;
};

// A device-independent bitmap (a BITMAPCOREHEADER or BITMAPINFOHEADER with
// its colours, and its rows) as a top-down QImage; null when it is damaged,
// larger than the player draws, or compressed in a way it does not read.
QImage MfDecodeDib(const std::uint8_t* info, std::size_t infoSize, const std::uint8_t* bits, std::size_t bitsSize);
// The size of the header and colour table of a packed DIB, or 0.
std::size_t MfDibInfoSize(const std::uint8_t* info, std::size_t size);

// The interpreters: play the records onto the canvas, or stop at the first
// that breaks the file's framing.
void MfPlayEmf(const GdiEnhMetaFile& mf, MfCanvas& canvas);
void MfPlayWmf(const GdiEnhMetaFile& mf, MfCanvas& canvas);
