// Merging the colour tables of all frames of an image into one global
// table that holds only the colours the pixels use.
#pragma once

#include "imaging/gif/gifcolormap.h"

#include <memory>
#include <vector>

class TGIFImage;
class TGIFSubImage;

class TColorMapOptimizer {
public:
    explicit TColorMapOptimizer(TGIFImage& image);
    ~TColorMapOptimizer();
    TColorMapOptimizer(const TColorMapOptimizer&) = delete;
    TColorMapOptimizer& operator=(const TColorMapOptimizer&) = delete;

    // Counts the colours of every frame, keeps the most used (256, or 255
    // and a transparent entry), maps the others to the nearest kept one,
    // installs the result as the global table (every local table goes)
    // and renumbers the pixels. Holds the image's painter list meanwhile.
    void Run();

    struct Entry {
        std::int32_t Count = 0;
        int OldIndex = 0;
        int NewIndex = 256;  // 256 until assigned
        TGIFColor Color;
        Entry* Ref = nullptr;  // the entry of the same colour it was folded into
    };
    class Histogram;

private:
    void BuildHistograms();
    void MergeEqualColors();
    void AssignNewIndices();
    void InstallColorMap();

    TGIFImage& m_image;
    std::vector<std::unique_ptr<Histogram>> m_histograms;
    std::vector<Entry*> m_entries;  // the kept entries of all histograms
    TGIFColor m_newMap[256] = {};
    int m_colorCount = 0;
    bool m_transparent = false;  // some frame's transparent index is really used
    std::uint8_t m_newTransparentIndex = 0;
};
