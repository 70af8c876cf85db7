// Showing a memory bitmap on a widget: the bitmap's pixels as a QImage.
#pragma once

#include "gdi/wingdi.h"

#include <QImage>

// A copy of the bitmap's pixels (QImage::Format_RGB32, top row first), or a
// null QImage for a null handle. The copy does not follow later drawing.
QImage QImageFromBitmap(HBITMAP bitmap);

// The bitmap currently selected into a memory DC, as above.
QImage QImageFromDC(HDC hdc);
