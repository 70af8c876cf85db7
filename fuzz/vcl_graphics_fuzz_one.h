// One fuzz input through the class library's picture loaders: the first
// byte picks the class (bitmap, icon, JPEG, metafile), the rest is the
// file. A graphic that loads is drawn stretched and shrunk onto a bitmap
// with a device context and onto one at 8 bits. Shared by the libFuzzer
// target and the corpus replay test.
#pragma once

#include "rtl/streams.h"
#include "vcl/graphics.h"
#include "vcl/jpeg.h"
#include "vcl/metafile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

inline void VclGraphicsFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > (1u << 22))
        return;
    std::unique_ptr<TGraphic> graphic;
    switch (data[0] % 4) {
    case 0: graphic = std::make_unique<TBitmap>(); break;
    case 1: graphic = std::make_unique<TIcon>(); break;
    case 2: graphic = std::make_unique<TJPEGImage>(); break;
    default: graphic = std::make_unique<TMetafile>(); break;
    }
    TMemoryStream stream;
    stream.WriteBuffer(data + 1, static_cast<std::int64_t>(size - 1));
    stream.SetPosition(0);
    try {
        graphic->LoadFromStream(stream);
    } catch (const Exception&) {
        return;
    }
    for (TPixelFormat format : {pf32bit, pf8bit}) {
        TBitmap target;
        target.SetPixelFormat(format);
        target.SetSize(37, 23);
        target.Canvas().StretchDraw(Rect(-5, 3, 70, 19), graphic.get());
        target.Canvas().Draw(2, -1, graphic.get());
    }
}
