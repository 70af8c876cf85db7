// One fuzz input through the image format dispatch: detection, every typed
// decoder, and for what decodes, drawing and the encoders. Shared by the
// libFuzzer target and the corpus replay test.
#pragma once

#include "imaging/vxfile.h"
#include "imaging/vximage.h"

#include <cstddef>
#include <cstdint>

inline void VxFuzzDecodeOne(const std::uint8_t* data, std::size_t size)
{
    if (size > 0x7FFFFFFF)
        return;
    for (std::uint32_t id = 0; id < VXFMT_COUNT; ++id) {
        // The stream reads the caller's bytes in place and never writes them.
        VxMemFile file(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
        if (size == 0)
            file.Open();
        VxImage image;
        image.SetFrame(size > 0 ? data[0] % 4 : 0);
        if (!image.Decode(&file, id) || !image.IsValid())
            continue;
        // Large pictures (a few header bytes can ask for millions of pixels)
        // are only decoded: the pixel-by-pixel work below would make each
        // run slow without reaching new code.
        if (static_cast<std::uint64_t>(image.GetWidth()) * image.GetHeight() > (1u << 16))
            continue;
        // Something decoded: draw it small and write it back in each format.
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bmp = CreateCompatibleBitmap(nullptr, 16, 16);
        HGDIOBJ old = SelectObject(dc, bmp);
        image.Draw(dc, 0, 0, -1, -1, nullptr, false);
        image.Draw(dc, -3, 2, 16, 9, nullptr, true);
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        if (id != 0)
            continue;
        for (std::uint32_t out = 1; out < VXFMT_COUNT; ++out) {
            VxMemFile sink;
            sink.Open();
            image.Encode(&sink, out);
        }
        image.RotateLeft();
        image.Mirror();
    }
}
