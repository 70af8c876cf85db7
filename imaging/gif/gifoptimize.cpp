#include "imaging/gif/gifoptimize.h"

#include "imaging/gif/gifimage.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

// The colour counts of one colour table over the frames drawn with it.
class TColorMapOptimizer::Histogram {
public:
    explicit Histogram(TGIFColorMap& map) : m_entries(static_cast<std::size_t>(map.Count()))
    {
        for (int i = 0; i < map.Count(); ++i) {
            m_entries[static_cast<std::size_t>(i)].OldIndex = i;
            m_entries[static_cast<std::size_t>(i)].Color = map.Entry(i);
        }
    }

    bool Empty() const { return m_frames.empty(); }

    // Counts the frame's pixels; answers whether its transparent index is
    // used. A transparent frame whose index no pixel uses stops being
    // transparent.
    bool CountFrame(TGIFSubImage& frame)
    {
        m_frames.push_back(&frame);
        TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
        const bool transparent = frame.Transparent() && gce;
        const int clear = transparent ? gce->GetTransparentColorIndex() : -1;
        bool used = false;
        bool warned = false;
        const std::size_t n = frame.Pixels().size();
        std::uint8_t* pixels = n ? frame.GetScanline(0) : nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            if (pixels[i] == clear) {
                used = true;
                continue;
            }
            if (pixels[i] >= m_entries.size()) {
                if (!warned)
                    frame.Warning(TGIFSeverity::Warning, gifmsg::ColorNotInTable);
                warned = true;
                pixels[i] = 0;
                if (m_entries.empty())
                    continue;
            }
            Entry& e = m_entries[pixels[i]];
            if (e.Count == std::numeric_limits<std::int32_t>::max())
                break;
            ++e.Count;
        }
        if (transparent && !used) {
            gce->SetTransparentColorIndex(0);
            gce->SetTransparent(false);
        }
        return used;
    }

    // The entries some pixel uses, most used first.
    void DropUnused()
    {
        for (Entry& e : m_entries)
            m_list.push_back(&e);
        std::stable_sort(m_list.begin(), m_list.end(), [](const Entry* a, const Entry* b) { return a->Count > b->Count; });
        const auto unused = std::find_if(m_list.begin(), m_list.end(), [](const Entry* e) { return e->Count == 0; });
        m_list.erase(unused, m_list.end());
    }
    const std::vector<Entry*>& Kept() const { return m_list; }

    void RemapFrames(bool transparency, std::uint8_t newTransparent)
    {
        // Old indices no pixel used map to 0 (only a transparent index
        // that is not kept can meet this).
        std::uint8_t table[256] = {};
        for (const Entry& e : m_entries)
            if (e.NewIndex < 256)
                table[e.OldIndex] = static_cast<std::uint8_t>(e.NewIndex);
        for (TGIFSubImage* frame : m_frames) {
            TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
            const bool transparent = transparency && frame->Transparent() && gce;
            const int clear = transparent ? gce->GetTransparentColorIndex() : -1;
            const std::size_t n = frame->Pixels().size();
            std::uint8_t* pixels = n ? frame->GetScanline(0) : nullptr;
            for (std::size_t i = 0; i < n; ++i)
                pixels[i] = pixels[i] == clear ? newTransparent : table[pixels[i]];
            if (transparent)
                gce->SetTransparentColorIndex(newTransparent);
        }
    }

private:
    std::vector<Entry> m_entries;
    std::vector<Entry*> m_list;
    std::vector<TGIFSubImage*> m_frames;
};

TColorMapOptimizer::TColorMapOptimizer(TGIFImage& image) : m_image(image) {}
TColorMapOptimizer::~TColorMapOptimizer() = default;

void TColorMapOptimizer::BuildHistograms()
{
    m_transparent = false;
    TGIFImageList& frames = m_image.Images();
    if (m_image.GetColorMap().Count() > 0) {
        auto global = std::make_unique<Histogram>(m_image.GetColorMap());
        for (int i = 0; i < frames.Count(); ++i) {
            TGIFSubImage* frame = frames.Image(i);
            if (!frame->Empty() && frame->ColorMap().Count() == 0)
                m_transparent |= global->CountFrame(*frame);
        }
        if (!global->Empty())
            m_histograms.push_back(std::move(global));
    }
    for (int i = 0; i < frames.Count(); ++i) {
        TGIFSubImage* frame = frames.Image(i);
        if (frame->Empty() || frame->ColorMap().Count() == 0)
            continue;
        auto local = std::make_unique<Histogram>(frame->ColorMap());
        m_transparent |= local->CountFrame(*frame);
        m_histograms.push_back(std::move(local));
    }
}

namespace {

std::uint32_t ColorKey(const TGIFColor& c)
{
    return static_cast<std::uint32_t>(c.Red) | (static_cast<std::uint32_t>(c.Green) << 8) |
           (static_cast<std::uint32_t>(c.Blue) << 16);
}

// The sum of the channels' absolute differences: a red and a green are
// far apart, as they look.
int Distance(const TGIFColor& a, const TGIFColor& b)
{
    return std::abs(a.Red - b.Red) + std::abs(a.Green - b.Green) + std::abs(a.Blue - b.Blue);
}

}  // namespace

// Equal colours of different tables become one entry, its count their sum.
void TColorMapOptimizer::MergeEqualColors()
{
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const Entry* a, const Entry* b) { return ColorKey(a->Color) > ColorKey(b->Color); });
    Entry* kept = nullptr;
    for (Entry* e : m_entries) {
        if (kept && kept->Color == e->Color) {
            kept->Count += e->Count;
            e->Count = 0;
            e->Ref = kept;
        } else {
            kept = e;
        }
    }
}

void TColorMapOptimizer::AssignNewIndices()
{
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const Entry* a, const Entry* b) { return a->Count > b->Count; });
    const int room = m_transparent ? 255 : 256;
    m_colorCount = 0;
    while (m_colorCount < static_cast<int>(m_entries.size()) && m_colorCount < room &&
           m_entries[static_cast<std::size_t>(m_colorCount)]->Count > 0)
        ++m_colorCount;
    for (int i = 0; i < m_colorCount; ++i) {
        m_entries[static_cast<std::size_t>(i)]->NewIndex = i;
        m_newMap[i] = m_entries[static_cast<std::size_t>(i)]->Color;
    }
    for (std::size_t i = static_cast<std::size_t>(m_colorCount); i < m_entries.size(); ++i) {
        Entry* e = m_entries[i];
        if (e->Count <= 0)
            continue;
        int best = 765 + 1;
        for (int k = 0; k < m_colorCount; ++k) {
            const int d = Distance(e->Color, m_newMap[k]);
            if (d < best) {
                best = d;
                e->NewIndex = k;
            }
        }
    }
    for (Entry* e : m_entries)
        if (e->Ref)
            e->NewIndex = e->Ref->NewIndex;
    if (m_transparent) {
        m_newTransparentIndex = static_cast<std::uint8_t>(m_colorCount);
        m_newMap[m_colorCount] = TGIFColor{};
        ++m_colorCount;
    }
}

void TColorMapOptimizer::InstallColorMap()
{
    TGIFImageList& frames = m_image.Images();
    for (int i = 0; i < frames.Count(); ++i)
        frames.Image(i)->ColorMap().Clear();
    TGIFColorMap& global = m_image.GetColorMap();
    global.ImportColorMap(m_newMap, m_colorCount);
    global.SetOptimized(true);
}

void TColorMapOptimizer::Run()
{
    // No painter may draw frames whose pixels and tables change under it.
    m_image.PaintStop();
    TThreadList& painters = m_image.Painters();
    painters.LockList();
    try {
        BuildHistograms();
        for (auto& h : m_histograms) {
            h->DropUnused();
            m_entries.insert(m_entries.end(), h->Kept().begin(), h->Kept().end());
        }
        MergeEqualColors();
        AssignNewIndices();
        InstallColorMap();
        for (auto& h : m_histograms)
            h->RemapFrames(m_transparent, m_newTransparentIndex);
        TGIFImageList& frames = m_image.Images();
        for (int i = 0; i < frames.Count(); ++i) {
            frames.Image(i)->FreeBitmap();
            frames.Image(i)->SetPalette(nullptr);
        }
    } catch (...) {
        painters.UnlockList();
        throw;
    }
    painters.UnlockList();
}
