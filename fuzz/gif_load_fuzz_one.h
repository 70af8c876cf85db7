// One fuzz input through the GIF graphic class: loaded from a memory
// stream, every frame's bitmap built (plain, then dithered as on a palette
// screen), the image drawn once, stretched and tiled. Shared by the
// libFuzzer target and the corpus replay test.
#pragma once

#include "imaging/gif/gifimage.h"
#include "rtl/streams.h"

#include <cstddef>
#include <cstdint>

inline void GifLoadFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 22))
        return;
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(0);
    for (bool paletteScreen : {false, true}) {
        PaletteDevice = DoAutoDither = paletteScreen;
        TGIFImage image;
        stream.SetPosition(0);
        try {
            image.LoadFromStream(stream);
        } catch (const Exception&) {
            // What was read before the failure stays, and is drawn too.
        }
        // Frames the data honestly holds may still be millions of pixels,
        // and a valid screen a hundred million: drawing goes through a
        // bitmap of the screen's size, so either would only slow the search
        // down.
        const std::uint64_t screen = static_cast<std::uint64_t>(image.Width()) * image.Height();
        std::uint64_t pixels = 0;
        for (int i = 0; i < image.Images().Count(); ++i)
            pixels += static_cast<std::uint64_t>(image.Images().Image(i)->Width()) * image.Images().Image(i)->Height();
        if (pixels > (1u << 20) || screen > (1u << 22))
            continue;
        try {
            for (int i = 0; i < image.Images().Count(); ++i)
                image.Images().Image(i)->GetBitmap();
            TBitmap target;
            target.SetPixelFormat(pf32bit);
            target.SetSize(37, 23);
            image.Draw(target.Canvas(), Rect(-5, 3, 70, 19));
            image.SetDrawOptions(static_cast<TGIFDrawOptions>(image.DrawOptions() | goTile));
            image.Draw(target.Canvas(), Rect(0, 0, 37, 23));
        } catch (const Exception&) {
            // A frame too large for a bitmap is refused with an error.
        }
    }
    PaletteDevice = DoAutoDither = false;
}
