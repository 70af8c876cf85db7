#include "gdi/gdiqt.h"

#include "gdi/gdi_p.h"

#include <vector>

QImage QImageFromBitmap(HBITMAP bitmap)
{
    if (!bitmap)
        return QImage();
    const GdiSurface& s = bitmap->surface;
    QImage image(s.width, s.height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    std::vector<std::uint32_t> span(static_cast<std::size_t>(s.width));
    for (int y = 0; y < s.height; ++y) {
        s.ReadSpan(0, y, s.width, span.data());
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < s.width; ++x)
            line[x] = 0xFF000000u | span[static_cast<std::size_t>(x)];
    }
    return image;
}

QImage QImageFromDC(HDC hdc)
{
    return hdc ? QImageFromBitmap(hdc->bitmap) : QImage();
}
