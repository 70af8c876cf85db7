// The image's side of its painters: making, starting, pausing and stopping
// them, and the animation Draw starts.
#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifpainter.h"

#include <memory>
#include <thread>

namespace {

// Lets the painters' queued calls run while the user-interface thread
// waits for them, then gives the processor away once.
void LetPaintersRun()
{
    if (IsMainThread())
        while (CheckSynchronize()) {
        }
    std::this_thread::yield();
}

}  // namespace

TGIFPainter* TGIFImage::Paint(TCanvas& canvas, const TRect& rect, TGIFDrawOptions options)
{
    TGIFPainter* painter = InternalPaint(nullptr, canvas, rect, options);
    if (painter)
        painter->Start();
    return painter;
}

TGIFPainter* TGIFImage::InternalPaint(TGIFPainter** painterRef, TCanvas& canvas, const TRect& rect,
                                      TGIFDrawOptions options)
{
    if (Empty() || rect.Left >= rect.Right || rect.Top >= rect.Bottom) {
        if (painterRef)
            *painterRef = nullptr;
        return nullptr;
    }
    if (m_images.Count() == 1)
        options &= static_cast<TGIFDrawOptions>(~(goAsync | goAnimate));
    auto painter = std::make_unique<TGIFPainter>(painterRef, this, &canvas, rect, options);
    m_painters.Add(painter.get());
    painter->OnPaintStart = OnPaintStart;
    painter->OnBeforeFrame = OnBeforeFrame;
    painter->OnAfterFrame = OnAfterFrame;
    painter->OnLoopPass = OnLoopPass;
    painter->OnPaintEnd = OnPaintEnd;
    if (options & goAsync) {
        // The thread deletes the painter when it ends.
        painter->Priority = m_threadPriority;
        return painter.release();
    }
    painter->Execute();
    painter->EndOfLife();
    if (painterRef)
        *painterRef = nullptr;
    // What ended the painter reaches the caller once the painter is gone,
    // never from its destructor.
    const std::exception_ptr error = painter->CapturedException();
    painter.reset();
    if (error)
        std::rethrow_exception(error);
    return nullptr;
}

void TGIFImage::DrawAnimation(TCanvas& canvas, const TRect& rect)
{
    m_painters.LockList();
    const bool running = m_drawPainter && m_drawPainter->Canvas() == &canvas && m_drawPainter->PaintRect() == rect;
    m_painters.UnlockList();
    if (running)
        return;
    StopDraw();
    const bool direct = m_drawOptions & goDirectDraw;
    TCanvas* target = &canvas;
    TRect area = rect;
    if (!direct) {
        TBitmap* bitmap = NewBitmap();
        target = &bitmap->Canvas();
        area = Rect(0, 0, bitmap->Width(), bitmap->Height());
        // The animation starts on what the canvas showed.
        target->CopyRect(area, canvas, rect);
    }
    InternalPaint(&m_drawPainter, *target, area, m_drawOptions);
    if (!m_drawPainter)
        return;
    m_drawPainter->Start();
    if (direct)
        return;
    while (m_drawPainter && !m_drawPainter->StopRequested() && !m_drawPainter->Started())
        LetPaintersRun();
    DrawBitmap(canvas, rect);
}

void TGIFImage::StopDraw()
{
    for (;;) {
        m_painters.LockList();
        TGIFPainter* painter = m_drawPainter;
        if (painter)
            painter->Stop();
        const bool wait = painter && painter->IsAsync();
        m_painters.UnlockList();
        if (!wait)
            break;
        LetPaintersRun();
    }
    FreeBitmap();
}

void TGIFImage::PaintStop()
{
    for (;;) {
        TList* list = m_painters.LockList();
        int async = 0;
        for (int i = list->Count() - 1; i >= 0; --i) {
            auto* painter = static_cast<TGIFPainter*>(list->Get(i));
            painter->Stop();
            async += painter->IsAsync();
        }
        m_painters.UnlockList();
        if (async == 0)
            break;
        LetPaintersRun();
    }
    FreeBitmap();
}

namespace {

template <class Action>
void EachPainter(TThreadList& painters, Action action)
{
    TList* list = painters.LockList();
    for (int i = 0; i < list->Count(); ++i)
        action(static_cast<TGIFPainter*>(list->Get(i)));
    painters.UnlockList();
}

}  // namespace

void TGIFImage::PaintStart() { EachPainter(m_painters, [](TGIFPainter* p) { p->Start(); }); }
void TGIFImage::PaintResume() { EachPainter(m_painters, [](TGIFPainter* p) { p->Start(); }); }
void TGIFImage::PaintPause() { EachPainter(m_painters, [](TGIFPainter* p) { p->Suspend(); }); }
void TGIFImage::PaintRestart() { EachPainter(m_painters, [](TGIFPainter* p) { p->Restart(); }); }
