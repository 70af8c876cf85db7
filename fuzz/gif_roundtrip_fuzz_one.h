// One fuzz input through the GIF graphic class's reader and writer: bytes
// that load are saved and loaded again, and the second load must give the
// same frames (bounds, interlacing, pixels, table sizes) as the first. A
// copy made by Assign has the same frames; optimised with every pass, the
// copy still writes a file that reads back. Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "imaging/gif/gifimage.h"
#include "rtl/streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

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

inline std::vector<TGIFSubImage*> FramesWithPixels(TGIFImage& image)
{
    std::vector<TGIFSubImage*> frames;
    for (int i = 0; i < image.Images().Count(); ++i)
        if (!image.Images().Image(i)->Empty())
            frames.push_back(image.Images().Image(i));
    return frames;
}

// The image's copy has the image's screen and frames (places, interlacing,
// pixels, tables, extensions); the copy optimised writes a file that reads
// back.
inline void GifCopyAndOptimizeFuzzOne(TGIFImage& image)
{
    // The passes are linear in the pixels: large pictures add time, not
    // new paths.
    std::size_t pixels = 0;
    for (int i = 0; i < image.Images().Count(); ++i)
        pixels += image.Images().Image(i)->Pixels().size();
    if (pixels > (1u << 18))
        return;
    TGIFImage copy;
    copy.Assign(&image);
    if (copy.Width() != image.Width() || copy.Height() != image.Height() ||
        copy.Images().Count() != image.Images().Count() || copy.GetColorMap().Count() != image.GetColorMap().Count())
        std::abort();
    for (int i = 0; i < image.Images().Count(); ++i) {
        TGIFSubImage* a = image.Images().Image(i);
        TGIFSubImage* b = copy.Images().Image(i);
        // A frame without pixels is written as its extensions only: its
        // descriptor says nothing.
        if ((!a->Empty() && (a->GetBoundsRect() != b->GetBoundsRect() || a->GetInterlaced() != b->GetInterlaced())) ||
            a->Pixels() != b->Pixels() || a->ColorMap().Count() != b->ColorMap().Count() ||
            a->Extensions().Count() != b->Extensions().Count() || a->Transparent() != b->Transparent())
            std::abort();
    }
    copy.Optimize(ooCrop | ooMerge | ooCleanup | ooColorMap);
    if (copy.Empty())
        return;  // only frames without pixels, which the clean-up dropped
    TMemoryStream optimized;
    copy.SaveToStream(optimized);
    TGIFImage reread;
    if (!GifLoadForRoundTrip(optimized, reread))
        std::abort();
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
    if (first.Width() != second.Width() || first.Height() != second.Height())
        std::abort();
    // Extensions with no image after them (a stray 0 byte ends such a frame)
    // are written before the next image, where every reader takes them as
    // that image's: the frames with pixels must come back the same, and all
    // frames with their extensions when there were no such empty ones.
    const std::vector<TGIFSubImage*> a = FramesWithPixels(first);
    const std::vector<TGIFSubImage*> b = FramesWithPixels(second);
    const bool sameFrames = static_cast<int>(a.size()) == first.Images().Count();
    if (a.size() != b.size() || (sameFrames && first.Images().Count() != second.Images().Count()))
        std::abort();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i]->GetBoundsRect() != b[i]->GetBoundsRect() || a[i]->GetInterlaced() != b[i]->GetInterlaced() ||
            a[i]->Pixels() != b[i]->Pixels() || a[i]->ColorMap().Count() != b[i]->ColorMap().Count() ||
            (sameFrames && a[i]->Extensions().Count() != b[i]->Extensions().Count()))
            std::abort();
    }
    GifCopyAndOptimizeFuzzOne(first);
    return true;
}
