// Optimising a whole image: sorting colour tables, dropping needless
// transparency, disposal, extensions and frames, making transparent what
// the frame before shows already, and cropping transparent borders. Every
// pass keeps the animation as it is shown: the same pictures for the same
// times, looping as often.
#include "imaging/gif/gifimage.h"

#include "imaging/gif/gifoptimize.h"

#include <algorithm>
#include <cmath>

namespace {

TDisposalMethod DisposalOf(const TGIFSubImage& frame)
{
    const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
    return gce ? gce->GetDisposal() : dmNone;
}

bool Clears(TDisposalMethod method) { return method == dmBackground || method == dmPrevious; }

bool Within(const TRect& inner, const TRect& outer)
{
    return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
           inner.Bottom <= outer.Bottom;
}

bool UsesTransparentIndex(const TGIFSubImage& frame)
{
    const int t = frame.GraphicControlExtension()->GetTransparentColorIndex();
    return std::find(frame.Pixels().begin(), frame.Pixels().end(), static_cast<std::uint8_t>(t)) != frame.Pixels().end();
}

bool AllTransparent(const TGIFSubImage& frame)
{
    const auto t = static_cast<std::uint8_t>(frame.GraphicControlExtension()->GetTransparentColorIndex());
    return std::all_of(frame.Pixels().begin(), frame.Pixels().end(), [t](std::uint8_t p) { return p == t; });
}

// Extensions a clean-up drops: texts, comments and data of unknown programs.
bool Disposable(const TGIFExtension* e)
{
    return dynamic_cast<const TGIFCommentExtension*>(e) || dynamic_cast<const TGIFTextExtension*>(e) ||
           dynamic_cast<const TGIFUnknownAppExtension*>(e);
}

// Copies every extension of one frame but its graphic control onto another,
// before that frame's own (the loop extension leads the first frame) or
// after them.
void MoveExtensions(TGIFSubImage& from, TGIFSubImage& to, bool toFront)
{
    TMemoryStream buffer;
    int moved = 0;
    for (int i = 0; i < from.Extensions().Count(); ++i) {
        TGIFExtension* e = from.Extensions().Extension(i);
        if (e != from.GraphicControlExtension()) {
            e->SaveToStream(buffer);
            ++moved;
        }
    }
    if (moved == 0)
        return;
    buffer.SetPosition(0);
    const int before = to.Extensions().Count();
    to.Extensions().LoadFromStream(buffer);
    if (toFront)
        for (int i = 0; i < moved; ++i)
            to.Extensions().Move(before + i, i);
}

// The frame's graphic control extension, appended when it has none.
TGIFGraphicControlExtension& NeedGraphicControlExtension(TGIFSubImage& frame)
{
    if (!frame.GraphicControlExtension()) {
        auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
        frame.Extensions().Add(gce.get());
        frame.NoteGraphicControlExtension(gce.release());
    }
    return *frame.GraphicControlExtension();
}

// One run of Optimize: the passes in order, with the progress count.
class ImageOptimizer {
public:
    ImageOptimizer(TGIFImage& image, TGIFOptimizeOptions options)
        : m_image(image), m_frames(image.Images()), m_options(options), m_total(image.Images().Count() * 6)
    {
    }

    void Run()
    {
        const int n = m_frames.Count();
        if (m_options & ooColorMap)
            OptimizeColorMaps();
        if (m_options & ooCleanup)
            DropNeedlessTransparencyAndDisposal();
        else
            m_step += 2 * n;
        if (m_options & ooMerge)
            MergeFrames();
        else
            m_step += n;
        if (m_options & ooCrop)
            CropFrames();
        else
            m_step += n;
        m_step += n;
        if (m_options & ooCleanup)
            DropNeedlessItems();
    }

private:
    TGIFSubImage& Frame(int i) const { return *m_frames.Image(i); }

    void Report()
    {
        const double percent = m_total > 0 ? std::round(std::min(m_step, m_total) * 100.0 / m_total) : 100;
        m_image.ReportProgress(&m_image, psRunning, static_cast<std::uint8_t>(percent), false, gifmsg::Optimizing);
    }

    void OptimizeColorMaps()
    {
        TGIFColorMap& global = m_image.GetColorMap();
        if (global.Count() > 0) {
            // Sorting renumbers the table: the screen's background (which
            // readers fill the screen with) keeps its colour, and gets its
            // entry back when no pixel used it.
            const int background = m_image.GetBackgroundColorIndex();
            const bool known = background < global.Count();
            const COLORREF color = known ? global.GetColor(background) : 0;
            global.Optimize();
            if (known)
                m_image.SetBackgroundColor(color);
        }
        for (int i = 0; i < m_frames.Count(); ++i) {
            ++m_step;
            if (Frame(i).ColorMap().Count() > 0) {
                Frame(i).ColorMap().Optimize();
                Report();
            }
        }
    }

    void DropNeedlessTransparencyAndDisposal()
    {
        for (int i = 0; i < m_frames.Count(); ++i) {
            ++m_step;
            TGIFSubImage& f = Frame(i);
            if (f.Transparent() && f.GraphicControlExtension() && !UsesTransparentIndex(f)) {
                f.GraphicControlExtension()->SetTransparent(false);
                Report();
            }
        }
        // Clearing a frame is needless when the next one paints over all of
        // it: it must be opaque and cover the frame, and must not restore
        // the picture from before it, which holds the cleared area.
        for (int i = 0; i + 1 < m_frames.Count(); ++i) {
            ++m_step;
            TGIFSubImage& f = Frame(i);
            TGIFSubImage& next = Frame(i + 1);
            if (!Clears(DisposalOf(f)) || next.Transparent() || next.Empty() || DisposalOf(next) == dmPrevious)
                continue;
            if (Within(f.GetBoundsRect(), next.GetBoundsRect())) {
                f.GraphicControlExtension()->SetDisposal(dmNone);
                Report();
            }
        }
    }

    void MergeFrames()
    {
        for (int i = m_frames.Count() - 1; i >= 1; --i) {
            ++m_step;
            // A frame that restores the picture from before it leaves the
            // one before it on the screen.
            int reference = i - 1;
            while (reference > 0 && DisposalOf(Frame(reference)) == dmPrevious)
                --reference;
            Frame(i).Merge(&Frame(reference));
            Report();
        }
    }

    // An emptied frame can go when what it shows and leaves stays on the
    // screen without it: it clears nothing, and the frame before it (which
    // takes its time) leaves its picture as it is. A first frame can go
    // only when it is shown for no time.
    bool CanDrop(int i, int delay) const
    {
        if (Clears(DisposalOf(Frame(i))))
            return false;
        if (i == 0)
            return delay == 0 && m_frames.Count() > 1;
        const TGIFSubImage& previous = Frame(i - 1);
        return !previous.Empty() && !Clears(DisposalOf(previous));
    }

    void DropEmptiedFrame(int i, int delay)
    {
        if (i == 0) {
            MoveExtensions(Frame(0), Frame(1), true);
        } else {
            TGIFSubImage& previous = Frame(i - 1);
            TGIFGraphicControlExtension& gce = NeedGraphicControlExtension(previous);
            gce.SetDelay(std::min(0xFFFF, gce.GetDelay() + delay));
            MoveExtensions(Frame(i), previous, false);
        }
        m_frames.Delete(i);
    }

    void CropFrames()
    {
        for (int i = m_frames.Count() - 1; i >= 0; --i) {
            ++m_step;
            TGIFSubImage& f = Frame(i);
            if (f.Empty() || !f.Transparent() || !f.GraphicControlExtension())
                continue;
            if (!AllTransparent(f)) {
                // A frame that clears its rectangle to the background clears
                // its transparent border too: it keeps it.
                if (DisposalOf(f) != dmBackground)
                    f.Crop();
            } else if (const int delay = f.GraphicControlExtension()->GetDelay(); CanDrop(i, delay)) {
                DropEmptiedFrame(i, delay);
            }
            Report();
        }
    }

    void DropNeedlessItems()
    {
        const bool animation = m_frames.Count() > 1;
        for (int i = m_frames.Count() - 1; i >= 0; --i) {
            TGIFSubImage& f = Frame(i);
            TGIFExtensionList& extensions = f.Extensions();
            for (int k = extensions.Count() - 1; k >= 0; --k) {
                const TGIFExtension* e = extensions.Extension(k);
                const bool loop = dynamic_cast<const TGIFAppExtNSLoop*>(e) != nullptr;
                if (Disposable(e) || (loop && !(i == 0 && animation)))
                    extensions.Delete(k);
            }
            if (TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
                gce && (gce->GetDelay() == 0 || !animation) && !gce->GetTransparent() && !gce->GetUserInput() &&
                (!Clears(gce->GetDisposal()) || !animation))
                extensions.Delete(extensions.IndexOf(gce));
            if (f.Empty() && extensions.Count() == 0)
                m_frames.Delete(i);
        }
        Report();
    }

    TGIFImage& m_image;
    TGIFImageList& m_frames;
    TGIFOptimizeOptions m_options;
    int m_step = 0;
    int m_total;
};

}  // namespace

void TGIFImage::Optimize(TGIFOptimizeOptions options, TColorReduction reduction, TDitherMode, int)
{
    if (Empty())
        return;
    // Colours are never reduced here; a reduction to a given palette has no
    // palette to go by. Refused before anything changes.
    if ((options & ooReduceColors) && !(options & ooCleanup) && reduction == rmPalette)
        GIFError(gifmsg::InvalidReduction);
    // No painter may draw frames while they change under it.
    PaintStop();
    m_painters.LockList();
    struct Unlock {
        TThreadList& list;
        ~Unlock() { list.UnlockList(); }
    } unlock {m_painters};
    ReportProgress(this, psStarting, 0, false, gifmsg::Optimizing);
    try {
        ImageOptimizer(*this, options).Run();
    } catch (...) {
        ReportProgress(this, psEnding, 0, false, gifmsg::Optimizing);
        Changed();
        throw;
    }
    ReportProgress(this, psEnding, 100, false, gifmsg::Optimizing);
    Changed();
}

void TGIFImage::OptimizeColorMap() { TColorMapOptimizer(*this).Run(); }

void TGIFImage::Pack()
{
    FreeBitmap();
    SetPalette(nullptr);
    for (int i = 0; i < m_images.Count(); ++i) {
        m_images.Image(i)->FreeBitmap();
        m_images.Image(i)->SetPalette(nullptr);
    }
    if (GetColorMap().Count() == 0 && m_images.Count() == 1) {
        TGIFColorMap& local = m_images.Image(0)->ColorMap();
        GetColorMap().Assign(&local);
        local.Clear();
    }
}
