// Windows-metafile records, played onto the shared canvas.
//
// After the 18-byte metafile header, a record is its size in 16-bit words
// (32 bits, at least 3, counting itself and the function), a 16-bit
// function number and the parameters, 16-bit words in the reverse order of
// the call's arguments. Objects go to the lowest free slot of the object
// table; every creating record takes a slot, whether or not it draws.
//
// The playback owns the viewport: it maps the picture frame onto the
// target, so the metafile's viewport records and fixed mapping modes are
// passed over; window origin and extent place the drawing in the frame.
#include "gdi/mf_p.h"

namespace {

constexpr std::size_t kWmfHeader = 18;

QColor ColorRef(std::uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// Parameter i: the 16-bit word at 6 + 2i.
struct Params {
    const MfRecord& r;
    std::int16_t operator()(std::size_t i) const { return r.I16(6 + 2 * i); }
};

QRectF Box(const Params& p, std::size_t first)
{
    // left, top, right, bottom are stored as bottom, right, top, left.
    return QRectF(QPointF(p(first + 3), p(first + 2)), QPointF(p(first + 1), p(first)));
}

bool Points(const MfRecord& r, std::size_t o, std::uint64_t count, QPolygonF& out)
{
    if (!r.Has(o, count * 4))
        return false;
    out.resize(static_cast<qsizetype>(count));
    for (std::uint64_t i = 0; i < count; ++i)
        out[static_cast<qsizetype>(i)] = QPointF(r.I16(o + 4 * i), r.I16(o + 4 * i + 2));
    return true;
}

// The packed DIB (header, colours, rows) from o to the record's end.
QImage PackedDib(const MfRecord& r, std::size_t o)
{
    if (!r.Has(o, 12))
        return QImage();
    const std::size_t left = r.Size() - o;
    const std::size_t info = MfDibInfoSize(r.At(o), left);
    if (info == 0)
        return QImage();
    return MfDecodeDib(r.At(o), info, r.At(o + info), left - info);
}

// A region object: header of 22 bytes (next, type, count, size, scan
// count, largest scan, bounds), then scans of count, top, bottom, count
// / 2 left-right pairs and the count again.
QRegion RegionObject(const MfRecord& r)
{
    constexpr std::size_t at = 6;
    const std::uint16_t scans = r.U16(at + 10);
    std::size_t pos = at + 22;
    QRegion region;
    for (std::uint16_t s = 0; s < scans; ++s) {
        const std::uint16_t count = r.U16(pos);
        if (!r.Has(pos, 8 + 2 * static_cast<std::uint64_t>(count)))
            break;
        const int top = r.I16(pos + 2), bottom = r.I16(pos + 4);
        for (std::uint16_t k = 0; k + 1 < count; k += 2) {
            const int left = r.I16(pos + 6 + 2 * k), right = r.I16(pos + 8 + 2 * k);
            if (right > left && bottom > top)
                region += QRect(left, top, right - left, bottom - top);
        }
        pos += 8 + 2 * static_cast<std::size_t>(count);
    }
    return region;
}

void Create(const MfRecord& r, MfCanvas& c, std::uint16_t fn)
{
    const Params p{r};
    MfObject o;
    switch (fn) {
    case 0x02FA:  // CREATEPENINDIRECT
        o.kind = MfObject::Pen;
        o.pen.style = r.U16(6);
        o.pen.width = p(1);
        o.pen.color = ColorRef(r.U32(12));
        break;
    case 0x02FC:  // CREATEBRUSHINDIRECT
        o.kind = MfObject::Brush;
        o.brush.style = r.U16(6);
        o.brush.color = ColorRef(r.U32(8));
        o.brush.hatch = r.U16(12);
        break;
    case 0x02FB: {  // CREATEFONTINDIRECT: LOGFONT with 8-bit face name
        o.kind = MfObject::Font;
        o.font.height = p(0);
        o.font.width = p(1);
        o.font.escapement = p(2);
        o.font.weight = p(4);
        o.font.italic = r.U8(16) != 0;
        o.font.underline = r.U8(17) != 0;
        o.font.strikeOut = r.U8(18) != 0;
        o.font.charset = r.U8(19);
        QByteArray face;
        for (std::size_t i = 24; i < 24 + 32 && r.Has(i, 1) && r.U8(i); ++i)
            face.append(static_cast<char>(r.U8(i)));
        o.font.face = QString::fromLatin1(face);
        break;
    }
    case 0x0142:  // DIBCREATEPATTERNBRUSH
        o.kind = MfObject::Brush;
        o.brush.style = BS_DIBPATTERNPT;
        o.brush.pattern = PackedDib(r, 10);
        break;
    case 0x01F9:  // CREATEPATTERNBRUSH: an old device bitmap, drawn as a black brush
        o.kind = MfObject::Brush;
        o.brush.color = Qt::black;
        break;
    case 0x00F7:  // CREATEPALETTE
        o.kind = MfObject::Palette;
        break;
    case 0x06FF:  // CREATEREGION
        o.kind = MfObject::Region;
        o.region = RegionObject(r);
        break;
    }
    c.AddObject(std::move(o));
}

void Text(const MfRecord& r, MfCanvas& c, std::uint16_t fn)
{
    const Params p{r};
    if (fn == 0x0521) {  // TEXTOUT: count, string padded to words, y, x
        const std::uint16_t count = r.U16(6);
        const std::size_t after = 8 + ((static_cast<std::size_t>(count) + 1) & ~std::size_t{1});
        if (!r.Has(8, count) || !r.Has(after, 4))
            return;
        const QString text = QString::fromLatin1(reinterpret_cast<const char*>(r.At(8)), count);
        c.Text(QPointF(r.I16(after + 2), r.I16(after)), text, {}, 0, nullptr);
        return;
    }
    // EXTTEXTOUT: y, x, count, options, [rectangle], string, [spacing]
    const std::uint16_t count = r.U16(10);
    const std::uint16_t options = r.U16(12);
    std::size_t at = 14;
    QRectF rect;
    const bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
    if (hasRect) {
        rect = QRectF(QPointF(r.I16(14), r.I16(16)), QPointF(r.I16(18), r.I16(20)));
        at += 8;
    }
    if (!r.Has(at, count))
        return;
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(r.At(at)), count);
    const std::size_t dxAt = at + ((static_cast<std::size_t>(count) + 1) & ~std::size_t{1});
    std::vector<double> dx;
    if (r.Has(dxAt, 2 * static_cast<std::uint64_t>(count)) && count > 0)
        for (std::uint16_t i = 0; i < count; ++i)
            dx.push_back(r.I16(dxAt + 2 * i));
    c.Text(QPointF(p(1), p(0)), text, dx, options, hasRect ? &rect : nullptr);
}

void Bitmap(const MfRecord& r, MfCanvas& c, std::uint16_t fn)
{
    const Params p{r};
    // A record without a bitmap is as long as its parameters say in the
    // function's high byte, plus the size and function words.
    const bool noBitmap = r.Size() == 2 * (static_cast<std::size_t>(fn >> 8) + 3);
    const std::uint32_t rop = r.U32(6);
    switch (fn) {
    case 0x061D:  // PATBLT: rop, height, width, y, x
        c.Blit(QRectF(p(5), p(4), p(3), p(2)), QImage(), QRectF(), rop);
        break;
    case 0x0B41:  // DIBSTRETCHBLT: rop, srcH, srcW, ySrc, xSrc, [reserved,] dstH, dstW, yDst, xDst, DIB
    case 0x0940: {  // DIBBITBLT: rop, ySrc, xSrc, [reserved,] h, w, yDst, xDst, DIB
        const bool stretch = fn == 0x0B41;
        const std::size_t d = stretch ? 6 : 4;  // first destination parameter
        const std::size_t shift = noBitmap ? 1 : 0;
        const QRectF dest(p(d + 3 + shift), p(d + 2 + shift), p(d + 1 + shift), p(d + shift));
        if (noBitmap) {
            c.Blit(dest, QImage(), QRectF(), rop);
            break;
        }
        const QImage img = PackedDib(r, 6 + 2 * (d + 4));
        const QRectF source = stretch ? QRectF(p(5), p(4), p(3), p(2)) : QRectF(p(3), p(2), dest.width(), dest.height());
        c.Blit(dest, img, QRectF(source.x(), source.y(), std::fabs(source.width()), std::fabs(source.height())), rop);
        break;
    }
    case 0x0F43:    // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, DIB
    case 0x0D33: {  // SETDIBTODEV: usage, scans, start, ySrc, xSrc, h, w, yDst, xDst, DIB
        const bool stretch = fn == 0x0F43;
        const QImage img = PackedDib(r, stretch ? 28 : 24);
        if (img.isNull())
            break;
        const double xSrc = stretch ? p(6) : p(4), ySrc = stretch ? p(5) : p(3);
        const double cxSrc = stretch ? p(4) : p(6), cySrc = stretch ? p(3) : p(5);
        // Rows of a bottom-up bitmap count from its lower edge.
        const std::size_t dibAt = stretch ? 28 : 24;
        const bool bottomUp = r.U32(dibAt) == 12 || r.I32(dibAt + 8) > 0;
        const QRectF source(xSrc, bottomUp ? img.height() - ySrc - cySrc : ySrc, cxSrc, cySrc);
        const QRectF dest = stretch ? QRectF(p(10), p(9), p(8), p(7)) : QRectF(p(8), p(7), cxSrc, cySrc);
        c.Blit(dest, img, source, stretch ? rop : 0x00CC0020);
        break;
    }
    }
}

void Play(const MfRecord& r, MfCanvas& c, std::uint16_t fn)
{
    const Params p{r};
    MfState& s = c.State();
    switch (fn) {
    case 0x0201: s.bkColor = ColorRef(r.U32(6)); break;
    case 0x0209: s.textColor = ColorRef(r.U32(6)); break;
    case 0x0102: s.bkMode = p(0); break;
    case 0x0103:
        if (p(0) == MM_ISOTROPIC || p(0) == MM_ANISOTROPIC)
            c.SetMapMode(p(0));
        break;
    case 0x0104: s.rop2 = p(0); break;
    case 0x0106: s.polyFillMode = p(0); break;
    case 0x012E: s.textAlign = r.U16(6); break;
    case 0x020B: c.SetWindowOrg(QPointF(p(1), p(0))); break;
    case 0x020C: c.SetWindowExt(QPointF(p(1), p(0))); break;
    case 0x020F: c.SetWindowOrg(s.windowOrg + QPointF(p(1), p(0))); break;
    case 0x0410: c.ScaleWindowExt(p(3), p(2), p(1), p(0)); break;
    case 0x001E: c.Save(); break;
    case 0x0127: c.Restore(p(0)); break;
    case 0x012D: c.SelectObject(r.U16(6)); break;
    case 0x01F0: c.DeleteObject(r.U16(6)); break;
    case 0x0214: c.MoveTo(QPointF(p(1), p(0))); break;
    case 0x0213: c.LineTo(QPointF(p(1), p(0))); break;
    case 0x041B: c.Rectangle(Box(p, 0)); break;
    case 0x0418: c.Ellipse(Box(p, 0)); break;
    case 0x061C: c.RoundRect(Box(p, 2), QSizeF(p(1), p(0))); break;
    case 0x0817: c.ArcFamily(Box(p, 4), QPointF(p(3), p(2)), QPointF(p(1), p(0)), MfArc::Arc); break;
    case 0x081A: c.ArcFamily(Box(p, 4), QPointF(p(3), p(2)), QPointF(p(1), p(0)), MfArc::Pie); break;
    case 0x0830: c.ArcFamily(Box(p, 4), QPointF(p(3), p(2)), QPointF(p(1), p(0)), MfArc::Chord); break;
    case 0x041F: c.SetPixel(QPointF(p(3), p(2)), ColorRef(r.U32(6))); break;
    case 0x0324:
    case 0x0325: {
        QPolygonF pts;
        if (Points(r, 8, r.U16(6), pts)) {
            if (fn == 0x0324)
                c.Polygon(pts);
            else
                c.Polyline(pts, false);
        }
        break;
    }
    case 0x0538: {  // POLYPOLYGON: count, point counts, points
        const std::uint16_t polys = r.U16(6);
        if (!r.Has(8, 2 * static_cast<std::uint64_t>(polys)))
            break;
        std::size_t at = 8 + 2 * static_cast<std::size_t>(polys);
        std::vector<QPolygonF> list;
        for (std::uint16_t i = 0; i < polys; ++i) {
            QPolygonF pts;
            const std::uint16_t n = r.U16(8 + 2 * static_cast<std::size_t>(i));
            if (!Points(r, at, n, pts))
                return;
            list.push_back(pts);
            at += 4 * static_cast<std::size_t>(n);
        }
        c.PolyPolygon(list);
        break;
    }
    case 0x0416: c.ClipRect(Box(p, 0), false); break;
    case 0x0415: c.ClipRect(Box(p, 0), true); break;
    case 0x0220: c.OffsetClip(QPointF(p(1), p(0))); break;
    case 0x012C:  // SELECTCLIPREGION
        if (const MfObject* o = c.Object(r.U16(6)); o && o->kind == MfObject::Region)
            c.SelectClip(c.LogicalToDevice(o->region), RGN_COPY);
        break;
    case 0x0228: {  // FILLREGION: region, brush
        const MfObject* region = c.Object(r.U16(6));
        const MfObject* brush = c.Object(r.U16(8));
        if (region && region->kind == MfObject::Region && brush && brush->kind == MfObject::Brush)
            c.FillRegion(c.LogicalToDevice(region->region), brush->brush);
        break;
    }
    case 0x012B:  // PAINTREGION
    case 0x012A:  // INVERTREGION
        if (const MfObject* o = c.Object(r.U16(6)); o && o->kind == MfObject::Region) {
            if (fn == 0x012B)
                c.FillRegion(c.LogicalToDevice(o->region), s.brush);
            else
                c.InvertRegion(c.LogicalToDevice(o->region));
        }
        break;
    }
}

using Handler = void (*)(const MfRecord& r, MfCanvas& c, std::uint16_t fn);

struct HandlerRow {
    std::uint16_t fn;
    Handler handler;
};

const HandlerRow kHandlers[] = {
    {0x0201, Play}, {0x0209, Play}, {0x0102, Play}, {0x0103, Play}, {0x0104, Play},   {0x0106, Play},
    {0x012E, Play}, {0x020B, Play}, {0x020C, Play}, {0x020F, Play}, {0x0410, Play},   {0x001E, Play},
    {0x0127, Play}, {0x012D, Play}, {0x01F0, Play}, {0x0214, Play}, {0x0213, Play},   {0x041B, Play},
    {0x0418, Play}, {0x061C, Play}, {0x0817, Play}, {0x081A, Play}, {0x0830, Play},   {0x041F, Play},
    {0x0324, Play}, {0x0325, Play}, {0x0538, Play}, {0x0416, Play}, {0x0415, Play},   {0x0220, Play},
    {0x012C, Play}, {0x0228, Play}, {0x012B, Play}, {0x012A, Play}, {0x02FA, Create}, {0x02FC, Create},
    {0x02FB, Create}, {0x0142, Create}, {0x01F9, Create}, {0x00F7, Create}, {0x06FF, Create},
    {0x0521, Text}, {0x0A32, Text}, {0x061D, Bitmap}, {0x0B41, Bitmap}, {0x0940, Bitmap}, {0x0F43, Bitmap},
    {0x0D33, Bitmap},
};

}  // namespace

void MfPlayWmf(const GdiEnhMetaFile& mf, MfCanvas& canvas)
{
    const std::vector<std::uint8_t>& b = mf.bytes;
    std::size_t pos = kWmfHeader;
    while (b.size() > pos && b.size() - pos >= 6) {
        const MfRecord head(b.data() + pos, b.size() - pos);
        const std::uint64_t size = static_cast<std::uint64_t>(head.U32(0)) * 2;
        const std::uint16_t fn = head.U16(4);
        if (size < 6 || size > b.size() - pos || fn == 0x0000)
            return;
        const MfRecord record(b.data() + pos, static_cast<std::size_t>(size));
        for (const HandlerRow& row : kHandlers)
            if (row.fn == fn) {
                row.handler(record, canvas, fn);
                break;
            }
        pos += static_cast<std::size_t>(size);
    }
}
