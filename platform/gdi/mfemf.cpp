// Enhanced-metafile records, interpreted onto the shared canvas.
//
// A record is a 32-bit type and a 32-bit size (a multiple of 4, at least
// 8, counting these two fields), then its fields. The first record is the
// header, the last EMR_EOF. Offsets inside a record (to strings, bitmaps,
// spacing arrays) count from the record's start and are checked against
// its size; so are point counts and handle indices.
#include "gdi/mf_p.h"

#include <cmath>

namespace {

constexpr std::size_t kRecordHeader = 8;
constexpr std::uint32_t EMR_EOF = 14;
constexpr std::uint32_t kMaxRecordType = 122;

QColor ColorRef(std::uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QPointF Point32(const MfRecord& r, std::size_t o) { return QPointF(r.I32(o), r.I32(o + 4)); }

QRectF Rect32(const MfRecord& r, std::size_t o)
{
    return QRectF(QPointF(r.I32(o), r.I32(o + 4)), QPointF(r.I32(o + 8), r.I32(o + 12)));
}

// count points of 8 (32-bit) or 4 (16-bit) bytes at o; false when they do
// not fit the record.
bool Points(const MfRecord& r, std::size_t o, std::uint64_t count, bool small, QPolygonF& out)
{
    const std::uint64_t size = small ? 4 : 8;
    if (!r.Has(o, count * size))
        return false;
    out.resize(static_cast<qsizetype>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at = o + static_cast<std::size_t>(i * size);
        out[static_cast<qsizetype>(i)] = small ? QPointF(r.I16(at), r.I16(at + 2)) : Point32(r, at);
    }
    return true;
}

// The rectangles of a region's data (RGNDATAHEADER of 32 bytes, then RECTs).
std::optional<QRegion> RegionData(const MfRecord& r, std::size_t o, std::uint32_t cb)
{
    if (cb < 32 || !r.Has(o, cb))
        return std::nullopt;
    const std::uint32_t count = r.U32(o + 8);
    if (static_cast<std::uint64_t>(count) * 16 > cb - 32)
        return std::nullopt;
    QRegion region;
    for (std::uint32_t i = 0; i < count; ++i) {
        const QRectF rc = Rect32(r, o + 32 + 16 * static_cast<std::size_t>(i)).normalized();
        if (rc.width() > 0 && rc.height() > 0)
            region += QRect(QPoint(static_cast<int>(rc.left()), static_cast<int>(rc.top())),
                            QPoint(static_cast<int>(rc.right()) - 1, static_cast<int>(rc.bottom()) - 1));
    }
    return region;
}

// The bitmap a record carries at (offBmi, cbBmi) and (offBits, cbBits).
QImage RecordDib(const MfRecord& r, std::size_t offsets)
{
    const std::uint32_t offBmi = r.U32(offsets), cbBmi = r.U32(offsets + 4);
    const std::uint32_t offBits = r.U32(offsets + 8), cbBits = r.U32(offsets + 12);
    if (cbBmi == 0 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits))
        return QImage();
    return MfDecodeDib(r.At(offBmi), cbBmi, r.At(offBits), cbBits);
}

QTransform Xform(const MfRecord& r, std::size_t o)
{
    return QTransform(r.F32(o), r.F32(o + 4), r.F32(o + 8), r.F32(o + 12), r.F32(o + 16), r.F32(o + 20));
}

bool UsableTransform(const QTransform& t)
{
    const double v[] = {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()};
    for (double x : v)
        if (!std::isfinite(x) || std::fabs(x) > 1e9)
            return false;
    return t.determinant() != 0;
}

// Record handlers. Each gets the whole record (fields from offset 8).
using Handler = void (*)(const MfRecord& r, MfCanvas& c, std::uint32_t type);

void Poly(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    const bool small = type >= 85;
    const std::uint32_t kind = small ? type - 83 : type;  // 2 Bezier, 3 polygon, 4 polyline, 5 Bezier to, 6 polyline to
    QPolygonF pts;
    if (!Points(r, 28, r.U32(24), small, pts))
        return;
    switch (kind) {
    case 2: c.PolyBezier(pts, false); break;
    case 3: c.Polygon(pts); break;
    case 4: c.Polyline(pts, false); break;
    case 5: c.PolyBezier(pts, true); break;
    case 6: c.Polyline(pts, true); break;
    }
}

void PolyPoly(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    const bool small = type >= 85;
    const std::uint32_t polys = r.U32(24);
    const std::uint32_t total = r.U32(28);
    const std::size_t countsAt = 32;
    if (!r.Has(countsAt, static_cast<std::uint64_t>(polys) * 4))
        return;
    QPolygonF all;
    if (!Points(r, countsAt + 4 * static_cast<std::size_t>(polys), total, small, all))
        return;
    std::vector<QPolygonF> list;
    std::uint64_t used = 0;
    for (std::uint32_t i = 0; i < polys; ++i) {
        const std::uint32_t n = r.U32(countsAt + 4 * static_cast<std::size_t>(i));
        if (used + n > total)
            return;
        list.push_back(all.mid(static_cast<qsizetype>(used), static_cast<qsizetype>(n)));
        used += n;
    }
    if ((small ? type - 83 : type) == 7)
        c.PolyPolyline(list);
    else
        c.PolyPolygon(list);
}

void Mapping(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    const QPointF p(r.I32(8), r.I32(12));
    switch (type) {
    case 9: c.SetWindowExt(p); break;
    case 10: c.SetWindowOrg(p); break;
    case 11: c.SetViewportExt(p); break;
    case 12: c.SetViewportOrg(p); break;
    case 17: c.SetMapMode(r.I32(8)); break;
    case 31: c.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case 32: c.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    }
}

void Setting(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    MfState& s = c.State();
    const std::uint32_t v = r.U32(8);
    switch (type) {
    case 18: s.bkMode = static_cast<int>(v); break;
    case 19: s.polyFillMode = static_cast<int>(v); break;
    case 20: s.rop2 = static_cast<int>(v); break;
    case 22: s.textAlign = static_cast<int>(v); break;
    case 24: s.textColor = ColorRef(v); break;
    case 25: s.bkColor = ColorRef(v); break;
    case 57: s.clockwise = v == 2; break;
    case 58: if (v > 0) s.miterLimit = v; break;
    }
}

void State(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    switch (type) {
    case 33: c.Save(); break;
    case 34: c.Restore(r.I32(8)); break;
    case 35: {
        const QTransform t = Xform(r, 8);
        if (UsableTransform(t))
            c.SetWorld(t);
        break;
    }
    case 36: {
        const QTransform t = Xform(r, 8);
        const std::uint32_t mode = r.U32(32);
        if (mode == 1 || UsableTransform(t))
            c.ModifyWorld(t, static_cast<int>(mode));
        break;
    }
    }
}

void Objects(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    const std::uint32_t index = r.U32(8);
    switch (type) {
    case 37: c.SelectObject(index); return;
    case 40: c.DeleteObject(index); return;
    }
    MfObject o;
    switch (type) {
    case 38:  // CREATEPEN: LOGPEN
        o.kind = MfObject::Pen;
        o.pen.style = r.I32(12);
        o.pen.width = r.I32(16);
        o.pen.color = ColorRef(r.U32(24));
        break;
    case 39:  // CREATEBRUSHINDIRECT: LOGBRUSH32
        o.kind = MfObject::Brush;
        o.brush.style = static_cast<int>(r.U32(12));
        o.brush.color = ColorRef(r.U32(16));
        o.brush.hatch = static_cast<int>(r.U32(20));
        break;
    case 49:  // CREATEPALETTE: only its slot matters here
        o.kind = MfObject::Palette;
        break;
    case 93:  // CREATEMONOBRUSH
    case 94:  // CREATEDIBPATTERNBRUSHPT
        o.kind = MfObject::Brush;
        o.brush.style = BS_DIBPATTERNPT;
        o.brush.pattern = RecordDib(r, 16);
        break;
    case 95: {  // EXTCREATEPEN: LOGPEN32 at 28
        o.kind = MfObject::Pen;
        o.pen.style = r.I32(28);
        // A cosmetic pen is one pixel wide whatever its width says.
        o.pen.width = (o.pen.style & PS_GEOMETRIC) ? static_cast<double>(r.U32(32)) : 0;
        o.pen.color = ColorRef(r.U32(40));
        if (r.U32(36) == static_cast<std::uint32_t>(BS_NULL))
            o.pen.style = (o.pen.style & ~PS_STYLE_MASK) | PS_NULL;
        const std::uint32_t entries = r.U32(48);
        if ((o.pen.style & PS_STYLE_MASK) == PS_USERSTYLE && entries <= 16 && r.Has(52, entries * 4))
            for (std::uint32_t i = 0; i < entries; ++i)
                o.pen.userDashes.push_back(r.U32(52 + 4 * static_cast<std::size_t>(i)));
        break;
    }
    case 82: {  // EXTCREATEFONTINDIRECTW: LOGFONTW at 12
        if (!r.Has(12, 92))
            return;
        o.kind = MfObject::Font;
        o.font.height = r.I32(12);
        o.font.width = r.I32(16);
        o.font.escapement = r.I32(20);
        o.font.weight = r.I32(28);
        o.font.italic = r.U8(32) != 0;
        o.font.underline = r.U8(33) != 0;
        o.font.strikeOut = r.U8(34) != 0;
        o.font.charset = r.U8(35);
        std::u16string face;
        for (std::size_t i = 0; i < 32; ++i) {
            const char16_t ch = r.U16(40 + 2 * i);
            if (!ch)
                break;
            face.push_back(ch);
        }
        o.font.face = QString::fromStdU16String(face);
        break;
    }
    default: return;
    }
    c.PutObject(index, std::move(o));
}

void Drawing(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    switch (type) {
    case 15: c.SetPixel(Point32(r, 8), ColorRef(r.U32(16))); break;
    case 27: c.MoveTo(Point32(r, 8)); break;
    case 54: c.LineTo(Point32(r, 8)); break;
    case 41: c.AngleArc(Point32(r, 8), r.U32(16), r.F32(20), r.F32(24)); break;
    case 42: c.Ellipse(Rect32(r, 8)); break;
    case 43: c.Rectangle(Rect32(r, 8)); break;
    case 44: c.RoundRect(Rect32(r, 8), QSizeF(r.I32(24), r.I32(28))); break;
    case 45: c.ArcFamily(Rect32(r, 8), Point32(r, 24), Point32(r, 32), MfArc::Arc); break;
    case 46: c.ArcFamily(Rect32(r, 8), Point32(r, 24), Point32(r, 32), MfArc::Chord); break;
    case 47: c.ArcFamily(Rect32(r, 8), Point32(r, 24), Point32(r, 32), MfArc::Pie); break;
    case 55: c.ArcFamily(Rect32(r, 8), Point32(r, 24), Point32(r, 32), MfArc::ArcTo); break;
    }
}

void Clipping(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    switch (type) {
    case 26: c.OffsetClip(Point32(r, 8)); break;
    case 29: c.ClipRect(Rect32(r, 8), true); break;
    case 30: c.ClipRect(Rect32(r, 8), false); break;
    case 67: c.SelectClipPath(r.I32(8)); break;
    case 75: {  // EXTSELECTCLIPRGN: region in the recording device's pixels
        const std::uint32_t cb = r.U32(8);
        const int mode = r.I32(12);
        if (cb == 0) {
            c.SelectClip(std::nullopt, mode);
            break;
        }
        if (const auto region = RegionData(r, 16, cb))
            c.SelectClip(c.RecordingToDevice(*region), mode);
        break;
    }
    }
}

void Paths(const MfRecord&, MfCanvas& c, std::uint32_t type)
{
    switch (type) {
    case 59: c.BeginPath(); break;
    case 60: c.EndPath(); break;
    case 61: c.CloseFigure(); break;
    case 62: c.FillPath(true, false); break;
    case 63: c.FillPath(true, true); break;
    case 64: c.FillPath(false, true); break;
    case 66: c.WidenPath(); break;
    case 68: c.AbortPath(); break;
    }
}

void Regions(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    const std::uint32_t cb = r.U32(24);
    switch (type) {
    case 71: {  // FILLRGN: a brush object, then the region
        const MfObject* o = c.Object(r.U32(28));
        const auto region = RegionData(r, 32, cb);
        if (o && o->kind == MfObject::Brush && region)
            c.FillRegion(c.RecordingToDevice(*region), o->brush);
        break;
    }
    case 73:  // INVERTRGN
    case 74:  // PAINTRGN: the current brush
        if (const auto region = RegionData(r, 28, cb)) {
            if (type == 73)
                c.InvertRegion(c.RecordingToDevice(*region));
            else
                c.FillRegion(c.RecordingToDevice(*region), c.State().brush);
        }
        break;
    }
}

void Bitmaps(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    switch (type) {
    case 76:    // BITBLT
    case 77: {  // STRETCHBLT
        const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
        const std::uint32_t rop = r.U32(40);
        const QImage img = RecordDib(r, 84);
        const double w = type == 77 ? r.I32(100) : dest.width();
        const double h = type == 77 ? r.I32(104) : dest.height();
        c.Blit(dest, img, QRectF(r.I32(44), r.I32(48), std::fabs(w), std::fabs(h)), rop);
        break;
    }
    case 80:    // SETDIBITSTODEVICE: unscaled, rows counted from the bottom
    case 81: {  // STRETCHDIBITS
        const QImage img = RecordDib(r, 48);
        if (img.isNull())
            break;
        const double xSrc = r.I32(32), ySrc = r.I32(36), cxSrc = r.I32(40), cySrc = r.I32(44);
        // A bottom-up bitmap counts source rows from its lower edge.
        const bool bottomUp = r.Has(r.U32(48), 12) && r.I32(r.U32(48) + 8) > 0;
        const double top = bottomUp ? img.height() - ySrc - cySrc : ySrc;
        const QRectF source(xSrc, top, cxSrc, cySrc);
        const QRectF dest = type == 81 ? QRectF(r.I32(24), r.I32(28), r.I32(72), r.I32(76))
                                       : QRectF(r.I32(24), r.I32(28), cxSrc, cySrc);
        c.Blit(dest, img, source, type == 81 ? r.U32(68) : 0x00CC0020);
        break;
    }
    }
}

void TextOut(const MfRecord& r, MfCanvas& c, std::uint32_t type)
{
    const bool wide = type == 84;
    const QPointF ref = Point32(r, 36);
    const std::uint32_t chars = r.U32(44);
    const std::uint32_t offString = r.U32(48);
    const std::uint32_t options = r.U32(52);
    const QRectF rect = Rect32(r, 56);
    const std::uint32_t offDx = r.U32(72);
    if (!r.Has(offString, static_cast<std::uint64_t>(chars) * (wide ? 2 : 1)))
        return;
    QString text;
    if (wide) {
        std::u16string s(chars, u'\0');
        for (std::uint32_t i = 0; i < chars; ++i)
            s[i] = r.U16(offString + 2 * static_cast<std::size_t>(i));
        text = QString::fromStdU16String(s);
    } else {
        text = QString::fromLatin1(reinterpret_cast<const char*>(r.At(offString)), static_cast<qsizetype>(chars));
    }
    // Spacing: one advance per character, or two (x and y) with ETO_PDY.
    std::vector<double> dx;
    const std::uint64_t step = (options & ETO_PDY) ? 8 : 4;
    if (offDx != 0 && r.Has(offDx, chars * step))
        for (std::uint32_t i = 0; i < chars; ++i)
            dx.push_back(r.I32(offDx + static_cast<std::size_t>(i * step)));
    const bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
    c.Text(ref, text, dx, options, hasRect ? &rect : nullptr);
}

struct HandlerRow {
    std::uint32_t first;
    std::uint32_t last;
    Handler handler;
};

const HandlerRow kHandlers[] = {
    {2, 6, Poly},           {7, 8, PolyPoly},        {9, 12, Mapping},      {15, 15, Drawing},
    {17, 17, Mapping},      {18, 20, Setting},       {22, 22, Setting},     {24, 25, Setting},
    {26, 26, Clipping},     {27, 27, Drawing},       {29, 30, Clipping},    {31, 32, Mapping},
    {33, 36, State},        {37, 40, Objects},       {41, 47, Drawing},     {49, 49, Objects},
    {54, 55, Drawing},      {57, 58, Setting},       {59, 66, Paths},       {67, 67, Clipping},
    {68, 68, Paths},        {71, 71, Regions},       {73, 74, Regions},     {75, 75, Clipping},
    {76, 77, Bitmaps},      {80, 81, Bitmaps},       {82, 82, Objects},     {83, 84, TextOut},
    {85, 89, Poly},         {90, 91, PolyPoly},      {93, 95, Objects},
};

Handler Find(std::uint32_t type)
{
    for (const HandlerRow& row : kHandlers)
        if (type >= row.first && type <= row.last)
            return row.handler;
    return nullptr;
}

}  // namespace

void MfPlayEmf(const GdiEnhMetaFile& mf, MfCanvas& canvas)
{
    const std::vector<std::uint8_t>& b = mf.bytes;
    std::size_t pos = 0;
    while (b.size() - pos >= kRecordHeader) {
        const MfRecord head(b.data() + pos, b.size() - pos);
        const std::uint32_t type = head.U32(0);
        const std::uint32_t size = head.U32(4);
        if (size < kRecordHeader || size % 4 != 0 || size > b.size() - pos)
            return;
        if (type == EMR_EOF)
            return;
        if (type <= kMaxRecordType)
            if (Handler h = Find(type))
                h(MfRecord(b.data() + pos, size), canvas, type);
        pos += size;
    }
}
