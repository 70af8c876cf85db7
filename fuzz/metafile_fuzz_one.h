// One fuzz input through the metafile player: taken as a placeable WMF, a
// bare WMF or an EMF by its first bytes, then played into a 32-bit and an
// 8-bit bitmap and onto a QImage. Shared by the libFuzzer target and the
// corpus replay test.
#pragma once

#include "gdi/metafile.h"
#include "gdi/mfplayer.h"

#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>
#include <vector>

inline void MfFuzzPlayOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 24))
        return;
    HENHMETAFILE mf = nullptr;
    const bool placeable = size >= 22 && data[0] == 0xD7 && data[1] == 0xCD && data[2] == 0xC6 && data[3] == 0x9A;
    if (placeable || (size >= 18 && (data[0] == 1 || data[0] == 2) && data[1] == 0 && data[2] == 9 && data[3] == 0)) {
        const std::size_t skip = placeable ? 22 : 0;
        // The picture's extents come from the input too, mapping mode included.
        const METAFILEPICT picture{size > 4 && (data[4] & 1) ? 1 : 8, 1 + (size > 5 ? data[5] : 0) * 40,
                                   1 + (size > 6 ? data[6] : 0) * 40, nullptr};
        mf = SetWinMetaFileBits(static_cast<UINT>(size - skip), data + skip, nullptr, &picture);
    } else {
        mf = SetEnhMetaFileBits(static_cast<UINT>(size), data);
    }
    if (!mf)
        return;
    ENHMETAHEADER header{};
    GetEnhMetaFileHeader(mf, sizeof header, &header);
    std::vector<PALETTEENTRY> palette(GetEnhMetaFilePaletteEntries(mf, 0, nullptr));
    GetEnhMetaFilePaletteEntries(mf, static_cast<UINT>(palette.size()), palette.data());
    for (int bpp : {32, 8}) {
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = bpp == 32 ? CreateCompatibleBitmap(screen, 64, 48) : CreateBitmap(64, 48, 1, 8, nullptr);
        HGDIOBJ old = SelectObject(dc, bmp);
        const RECT rect{-3, 2, 61, 50};
        PlayEnhMetaFile(dc, mf, &rect);
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PlayMetafile(&painter, mf, QRectF(0, 0, 40, 30));
    }
    DeleteEnhMetaFile(mf);
}
