// Playing metafile objects into a DC's bitmap or onto any QPainter: the
// player behind PlayEnhMetaFile, installed when this file is linked.
#include "gdi/mf_p.h"
#include "gdi/mfplayer.h"

#include "gdi/gdi_p.h"

#include <vector>

namespace {

QPointF PixelsPerMm(const ENHMETAHEADER& h)
{
    const MfPixelsPerMm ppm = MfDevicePixelsPerMm(h);
    return QPointF(ppm.x, ppm.y);
}

// The picture frame in recording pixels.
QRectF FramePixels(const GdiEnhMetaFile& mf)
{
    const ENHMETAHEADER& h = mf.header;
    const QPointF ppm = PixelsPerMm(h);
    const QRectF frame(QPointF(h.rclFrame.left * ppm.x() / 100.0, h.rclFrame.top * ppm.y() / 100.0),
                       QPointF(h.rclFrame.right * ppm.x() / 100.0, h.rclFrame.bottom * ppm.y() / 100.0));
    if (frame.width() > 0 && frame.height() > 0)
        return frame;
    // No frame: the bounds, whose right and bottom pixels belong to the picture.
    return QRectF(QPointF(h.rclBounds.left, h.rclBounds.top), QPointF(h.rclBounds.right + 1.0, h.rclBounds.bottom + 1.0));
}

void Play(QPainter& painter, const GdiEnhMetaFile& mf, const QRectF& target, const QRect& bounds)
{
    const QRectF frame = FramePixels(mf);
    QTransform playback;
    playback.translate(target.left(), target.top());
    playback.scale(target.width() / frame.width(), target.height() / frame.height());
    playback.translate(-frame.left(), -frame.top());
    const bool wmf = mf.kind == MfKind::Wmf;
    MfCanvas canvas(painter, playback, bounds, PixelsPerMm(mf.header), wmf);
    if (wmf) {
        // The playback owns the viewport: the window spans the frame until
        // the metafile says otherwise.
        canvas.SetWindowExt(QPointF(frame.width(), frame.height()));
        canvas.SetViewportExt(QPointF(frame.width(), frame.height()));
        MfPlayWmf(mf, canvas);
    } else {
        MfPlayEmf(mf, canvas);
    }
}

BOOL PlayOnDc(HDC hdc, HENHMETAFILE mf, const RECT* rect)
{
    if (!hdc || !mf || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    GdiSurface& s = hdc->bitmap->surface;
    const std::vector<RECT> visible = hdc->VisibleRects();
    if (visible.empty() || rect->right == rect->left || rect->bottom == rect->top)
        return TRUE;
    const RECT box = RectsBox(visible);
    const QRect bounds(QPoint(box.left, box.top), QPoint(box.right - 1, box.bottom - 1));
    const QRectF target(QPointF(rect->left, rect->top), QPointF(rect->right, rect->bottom));

    // 32- and 24-bit surfaces are drawn in place, so that no second copy of
    // the bitmap is needed; a bottom-up one through a flip.
    const QImage::Format format = s.bpp == 32 ? QImage::Format_RGB32 : s.bpp == 24 ? QImage::Format_BGR888
                                                                                   : QImage::Format_Invalid;
    if (format != QImage::Format_Invalid) {
        QImage view(s.bits, s.width, s.height, static_cast<qsizetype>(s.stride), format);
        QPainter painter(&view);
        if (!s.topDown)
            painter.setTransform(QTransform(1, 0, 0, -1, 0, s.height));
        Play(painter, *mf, target, bounds);
        return TRUE;
    }
    // Palette surfaces: draw on a true-colour copy, then map its pixels back.
    QImage copy(s.width, s.height, QImage::Format_RGB32);
    if (copy.isNull()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    for (int y = 0; y < s.height; ++y)
        s.ReadSpan(0, y, s.width, reinterpret_cast<std::uint32_t*>(copy.scanLine(y)));
    {
        QPainter painter(&copy);
        Play(painter, *mf, target, bounds);
    }
    for (int y = 0; y < s.height; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(copy.scanLine(y));
        for (int x = 0; x < s.width; ++x)
            line[x] &= 0x00FFFFFF;
        s.WriteSpan(0, y, s.width, line);
    }
    return TRUE;
}

// A program that links the player plays metafiles from its start.
[[maybe_unused]] const bool g_installed = (MfSetDcPlayer(&PlayOnDc), true);

}  // namespace

void InstallMetafilePlayer() { MfSetDcPlayer(&PlayOnDc); }

bool PlayMetafile(QPainter* painter, HENHMETAFILE mf, const QRectF& target)
{
    if (!painter || !mf || !(target.width() > 0) || !(target.height() > 0))
        return false;
    painter->save();
    Play(*painter, *mf, target, target.toAlignedRect());
    painter->restore();
    return true;
}

