// The two frame optimisations of an animation: cutting a transparent
// frame down to its opaque pixels, and letting the previous frame show
// through wherever this one would draw the same colour over it.
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"

#include <algorithm>

void TGIFSubImage::Crop()
{
    if (Empty() || !m_transparent || !m_gce)
        return;
    const std::uint8_t t = static_cast<std::uint8_t>(m_gce->GetTransparentColorIndex());
    const int width = Width();
    int left = width, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < Height(); ++y) {
        const std::uint8_t* row = m_pixels.data() + static_cast<std::size_t>(y) * width;
        const std::uint8_t* end = row + width;
        const auto first = std::find_if(row, end, [t](std::uint8_t p) { return p != t; });
        if (first == end)
            continue;
        int last = width - 1;
        while (row[last] == t)
            --last;
        left = std::min(left, static_cast<int>(first - row));
        right = std::max(right, last);
        if (top < 0)
            top = y;
        bottom = y;
    }
    if (top < 0) {
        Clear();
        return;
    }
    const int newWidth = right - left + 1;
    const int newHeight = bottom - top + 1;
    if (newWidth == width && newHeight == Height())
        return;
    std::vector<std::uint8_t> cropped(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight));
    for (int y = 0; y < newHeight; ++y)
        std::copy_n(m_pixels.data() + static_cast<std::size_t>(top + y) * width + left, newWidth,
                    cropped.data() + static_cast<std::size_t>(y) * newWidth);
    // Within the old rectangle, and the image keeps its size: a damaged
    // file's frame may reach past the screen already, which bounds set
    // anew would try to grow the screen for and fail.
    m_descriptor.Left = static_cast<std::uint16_t>(Left() + left);
    m_descriptor.Top = static_cast<std::uint16_t>(Top() + top);
    m_descriptor.Width = static_cast<std::uint16_t>(newWidth);
    m_descriptor.Height = static_cast<std::uint16_t>(newHeight);
    m_pixels = std::move(cropped);
    FreeBitmap();
    FreeMask();
}

namespace {

bool DisposalClears(const TGIFGraphicControlExtension* gce)
{
    return gce && (gce->GetDisposal() == dmBackground || gce->GetDisposal() == dmPrevious);
}

}  // namespace

int TGIFSubImage::NewTransparentIndex()
{
    TGIFImage* image = Image();
    if (m_colorMap.Count() == 0 && image) {
        // Frames drawn with the global table may share a transparent
        // index, but only one that no pixel of this frame shows as a colour.
        for (int i = 0; i < image->Images().Count(); ++i) {
            const TGIFSubImage* other = image->Images().Image(i);
            if (other == this || !other->m_transparent || !other->m_gce || other->m_colorMap.Count() > 0)
                continue;
            const int index = other->m_gce->GetTransparentColorIndex();
            if (index < image->GetColorMap().Count() &&
                std::find(m_pixels.begin(), m_pixels.end(), index) == m_pixels.end())
                return index;
        }
        return image->GetColorMap().Add(RGB(0, 0, 0));
    }
    return m_colorMap.Add(RGB(0, 0, 0));
}

void TGIFSubImage::Merge(TGIFSubImage* previous)
{
    if (!previous || previous == this || Empty() || previous->Empty() || DisposalClears(previous->m_gce))
        return;
    const int x0 = std::max(Left(), previous->Left());
    const int y0 = std::max(Top(), previous->Top());
    const int x1 = std::min(Left() + Width(), previous->Left() + previous->Width());
    const int y1 = std::min(Top() + Height(), previous->Top() + previous->Height());
    if (x0 >= x1 || y0 >= y1)
        return;

    const bool wasTransparent = m_transparent && m_gce;
    int t = 0;
    bool needIndex = false;
    if (wasTransparent) {
        t = m_gce->GetTransparentColorIndex();
    } else {
        const TGIFColorMap& target = m_colorMap.Count() > 0 || !Image() ? m_colorMap : Image()->GetColorMap();
        if (target.Count() == 0 || target.Count() >= TGIFColorMap::kMaxColors)
            return;
        needIndex = true;
    }

    TGIFColorMap& mine = GetActiveColorMap();
    TGIFColorMap& theirs = previous->GetActiveColorMap();
    const int hidden = previous->m_transparent && previous->m_gce ? previous->m_gce->GetTransparentColorIndex() : -1;
    // The same index of the same table, or the same colour in both.
    const auto sameColor = [&](int p, int q) {
        if (&mine == &theirs && p == q)
            return true;
        return p < mine.Count() && q < theirs.Count() && mine.Entry(p) == theirs.Entry(q);
    };
    bool chosen = false;
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = GetScanline(y - Top());
        const std::uint8_t* under = previous->GetScanline(y - previous->Top());
        for (int x = x0; x < x1; ++x) {
            std::uint8_t& p = row[x - Left()];
            const int q = under[x - previous->Left()];
            if ((!needIndex && p == t) || q == hidden || !sameColor(p, q))
                continue;
            if (needIndex) {
                t = NewTransparentIndex();
                needIndex = false;
                chosen = true;
            }
            p = static_cast<std::uint8_t>(t);
        }
    }
    if (chosen) {
        TGIFGraphicControlExtension* gce = m_gce;
        if (!gce) {
            auto made = std::make_unique<TGIFGraphicControlExtension>(this);
            m_extensions.Add(made.get());
            gce = made.release();
            NoteGraphicControlExtension(gce);
        }
        gce->SetTransparentColorIndex(t);
        gce->SetTransparent(true);
    }
    FreeBitmap();
    FreeMask();
}
