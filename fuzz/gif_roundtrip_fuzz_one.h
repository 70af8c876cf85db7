// One fuzz input through the GIF graphic class's reader and writer: bytes
// that load are saved and loaded again, and the second load must give the
// same frames (bounds, interlacing, pixels, table sizes) as the first.
// Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "imaging/gif/gifimage.h"
#include "rtl/streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline bool GifLoadForRoundTrip(TMemoryStream& stream, TGIFImage& image)
{
    stream.SetPosition(0);
    try {
        image.LoadFromStream(stream);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// True when the image was read, written and read back the same; false when
// it could not be read or written. A copy that reads back differently
// aborts, which is the finding.
inline bool GifRoundTripFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return false;
    TMemoryStream input;
    input.WriteBuffer(data, static_cast<std::int64_t>(size));
    TGIFImage first;
    if (!GifLoadForRoundTrip(input, first) || first.Images().Count() == 0)
        return false;
    TMemoryStream copy;
    try {
        first.SaveToStream(copy);
    } catch (const Exception&) {
        return false;  // pixels outside their table, say: refused, never written wrong
    }
    TGIFImage second;
    if (!GifLoadForRoundTrip(copy, second))
        std::abort();
    if (first.Images().Count() != second.Images().Count() || first.Width() != second.Width() ||
        first.Height() != second.Height())
        std::abort();
    for (int i = 0; i < first.Images().Count(); ++i) {
        TGIFSubImage* a = first.Images().Image(i);
        TGIFSubImage* b = second.Images().Image(i);
        if (a->GetBoundsRect() != b->GetBoundsRect() || a->GetInterlaced() != b->GetInterlaced() ||
            a->Pixels() != b->Pixels() || a->ColorMap().Count() != b->ColorMap().Count() ||
            a->Extensions().Count() != b->Extensions().Count())
            std::abort();
    }
    return true;
}
