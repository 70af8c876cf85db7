#include "imaging/gif/gifpainter.h"

#include "imaging/gif/gifextensions.h"
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"
#include "rtl/clock.h"
#include "vcl/forms.h"
#include "win/wintypes.h"

#include <algorithm>
#include <limits>

TGIFPainter::TGIFPainter(TGIFImage* image, TCanvas* canvas, const TRect& rect, TGIFDrawOptions options)
    : TGIFPainter(nullptr, image, canvas, rect, options)
{
}

TGIFPainter::TGIFPainter(TGIFPainter** painterRef, TGIFImage* image, TCanvas* canvas, const TRect& rect,
                         TGIFDrawOptions options)
    : TThread(true), m_image(image), m_canvas(canvas), m_rect(rect), m_options(options), m_painterRef(painterRef),
      m_speed(image->AnimationSpeed())
{
    if (m_painterRef)
        *m_painterRef = this;
    FreeOnTerminate = true;
    OnTerminate = [this](TObject*) { EndOfLife(); };

    if ((options & goAsync) && (options & goAnimate) && FrameCount() > 1 && m_speed >= 0)
        m_event = std::make_unique<TEvent>(false, false);

    if (image->DrawBackgroundColor() != clNone)
        m_backgroundColor = ColorToRGB(image->DrawBackgroundColor());
    else if (image->GetColorMap().Count() > 0)
        m_backgroundColor = image->GetBackgroundColor();
    else
        m_backgroundColor = ColorToRGB(clWindow);

    // Buffers are made only for the disposal methods the frames use.
    unsigned disposals = 0;
    for (int i = 0; i < FrameCount(); ++i)
        if (const TGIFGraphicControlExtension* gce = Frame(i)->GraphicControlExtension())
            disposals |= 1u << static_cast<unsigned>(gce->GetDisposal());
    if (options & goClearOnLoop)
        disposals |= 1u << dmBackground;
    const bool background = disposals & (1u << dmBackground);
    if (background && (options & goTransparent))
        m_background = CopyOfTarget();
    if (background || (disposals & (1u << dmPrevious))) {
        m_backup = CopyOfTarget();
        m_backup->Canvas().Brush().SetColor(static_cast<TColor>(m_backgroundColor));
        m_frameBuffer = std::make_unique<TBitmap>();
        m_frameBuffer->SetSize(m_rect.Width(), m_rect.Height());
        m_frameBuffer->Canvas().Brush().SetColor(static_cast<TColor>(m_backgroundColor));
    }
}

TGIFPainter::~TGIFPainter()
{
    // The thread may still be inside Execute when its owner goes: it ends
    // before the members it uses do.
    EndAndWait();
}

std::unique_ptr<TBitmap> TGIFPainter::CopyOfTarget() const
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(m_rect.Width(), m_rect.Height());
    bitmap->Canvas().CopyMode = 0x00CC0020;  // SRCCOPY
    bitmap->Canvas().CopyRect(Rect(0, 0, m_rect.Width(), m_rect.Height()), *m_canvas, m_rect);
    return bitmap;
}

TGIFSubImage* TGIFPainter::Frame(int index) const { return m_image->Images().Image(index); }

int TGIFPainter::FrameCount() const { return m_image ? m_image->Images().Count() : 0; }

void TGIFPainter::Start()
{
    if (IsAsync())
        Resume();
}

void TGIFPainter::Stop()
{
    Terminate();
    if (!IsAsync())
        return;
    if (m_event)
        m_event->SetEvent();
    Priority = TThreadPriority::tpNormal;
    if (Suspended())
        Resume();
}

void TGIFPainter::Restart()
{
    m_restart = true;
    if (IsAsync() && Suspended())
        Resume();
}

void TGIFPainter::SetAnimationSpeed(int speed)
{
    speed = std::clamp(speed, 0, 1000);
    if (m_speed.exchange(speed) == speed)
        return;
    if (m_event)
        m_event->SetEvent();
    else
        m_restart = true;
}

void TGIFPainter::SetActiveImage(int index)
{
    if (index >= 0 && index < FrameCount())
        m_activeImage = index;
}

void TGIFPainter::DoSynchronize(const std::function<void()>& method)
{
    if (Terminated())
        return;
    if (!IsAsync()) {
        method();
        return;
    }
    // A call queued before Stop may run after the image freed the canvas
    // it draws on: it looks again on the user-interface thread.
    Synchronize([this, &method] {
        if (!Terminated())
            method();
    });
}

void TGIFPainter::Fire(const TNotifyEvent& event)
{
    if (!event || Terminated())
        return;
    DoSynchronize([this, &event] { event(this); });
}

void TGIFPainter::Execute()
{
    try {
        if (m_options & goValidateCanvas)
            m_validatedDC = m_canvas->Handle();
        m_restart = true;
        while (m_restart && !Terminated()) {
            m_activeImage = 0;
            Fire(OnPaintStart);
            m_started = false;
            m_restart = false;

            int loopsLeft = 1;
            int loopStart = 0;
            bool loopSeen = false;
            int delay = IsAsync() ? 0 : 1;
            m_previousDisposal = dmNoDisposal;
            std::uint32_t lastTick = GetTickCount();
            std::int64_t lastWait = 0;
            while ((loopsLeft != 0 || (m_options & goLoopContinously)) && !Terminated() && !m_restart) {
                m_activeImage = loopStart;
                if (m_started)
                    Fire(OnLoopPass);
                while (m_activeImage < FrameCount() && !Terminated() && !m_restart && !Frame(m_activeImage)->Empty()) {
                    Wait(delay, lastTick, lastWait);
                    if (Terminated())
                        break;
                    Fire(OnBeforeFrame);
                    if (Terminated())
                        break;
                    TGIFSubImage* frame = Frame(m_activeImage);
                    m_disposal = dmNoDisposal;
                    for (int i = 0; i < frame->Extensions().Count(); ++i) {
                        TGIFExtension* ext = frame->Extensions().Extension(i);
                        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(ext); loop && !loopSeen) {
                            loopSeen = true;
                            loopsLeft = loop->Loops();
                            loopStart = m_activeImage;
                            if ((loopsLeft == 0 || (m_options & goLoopContinously)) && IsAsync())
                                loopsLeft = -1;
                        } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext)) {
                            m_disposal = gce->GetDisposal();
                        }
                    }
                    DoSynchronize([this] {
                        if (m_backup)
                            DoPaintFrame();
                        else
                            DoPaint();
                    });
                    m_previousDisposal = m_disposal;
                    if (Terminated())
                        break;
                    delay = GIFDefaultDelay;
                    if (const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
                        gce && gce->GetDelay() != 0) {
                        delay = std::max(gce->GetDelay(), GIFMinimumDelay);
                        // An asynchronous painter waits long delays in full.
                        if (!IsAsync())
                            delay = std::min(delay, GIFMaximumDelay);
                    }
                    const int noted = m_activeImage;
                    Fire(OnAfterFrame);
                    if (Terminated())
                        break;
                    if (m_activeImage == noted)
                        ++m_activeImage;
                    if (!(m_options & goAnimate))
                        break;
                }
                if (loopsLeft > 0)
                    --loopsLeft;
                if (!((m_options & goAnimate) && (m_options & goLoop)))
                    break;
            }
        }
        m_activeImage = -1;
        Fire(OnPaintEnd);
    } catch (const Exception&) {
        Terminate();
        m_captured = std::current_exception();
    }
}

void TGIFPainter::Wait(int delay, std::uint32_t& lastTick, std::int64_t& lastWait)
{
    if (delay <= 0) {
        SleepOnClock(0);
        return;
    }
    // The next frame's bitmap is made before the wait, which absorbs its
    // cost. Frames build their bitmaps lazily on the user-interface thread
    // too, so it is built there.
    DoSynchronize([this] {
        if (TGIFSubImage* frame = m_activeImage < FrameCount() ? Frame(m_activeImage) : nullptr)
            frame->GetBitmap();
    });
    const std::uint32_t now = GetTickCount();
    const int speed = m_speed;
    const std::int64_t maximum = static_cast<std::int64_t>(GIFMaximumDelay) * GIFDelayExp;
    std::int64_t wait;
    if (speed > 0) {
        // Half of how much longer the previous frame took than its wait is
        // taken off this one. A tick count that wrapped between two frames
        // gives one longest wait.
        const std::int64_t elapsed = static_cast<std::int64_t>(now) - lastTick;
        const std::int64_t wanted = static_cast<std::int64_t>(delay) * GIFDelayExp - (elapsed - lastWait) / 2;
        if (elapsed < 0 || wanted > std::numeric_limits<int>::max() || wanted < std::numeric_limits<int>::min() / 100) {
            wait = maximum;
            lastWait = 0;
        } else {
            wait = MulDiv(static_cast<int>(wanted), 100, speed);
            lastWait = wait;
        }
    } else {
        wait = IsAsync() ? -1 : maximum;
    }
    lastTick = now;

    if (IsAsync()) {
        if ((wait > 0 || speed == 0) && m_event &&
            m_event->WaitFor(wait < 0 ? INFINITE : static_cast<std::uint32_t>(wait)) == TWaitResult::wrSignaled) {
            lastWait = 0;
            lastTick = GetTickCount();
        }
        return;
    }
    // A synchronous painter waits in slices of at most 100 ms and runs the
    // program's events between them, so that it stays responsive.
    wait = std::max<std::int64_t>(wait, 1);
    while (wait > 0 && !Terminated() && !m_restart) {
        const std::uint32_t before = GetTickCount();
        SleepOnClock(static_cast<std::uint32_t>(std::min<std::int64_t>(wait, 100)));
        wait -= static_cast<std::uint32_t>(GetTickCount() - before);
        if (IsMainThread()) {
            CheckSynchronize();
            if (Application)
                Application->ProcessMessages();
        }
    }
}

void TGIFPainter::DoPaint()
{
    Frame(m_activeImage)->Draw(*m_canvas, m_rect, m_options & goTransparent, m_options & goTile);
    m_started = true;
}

void TGIFPainter::DoPaintFrame()
{
    if ((m_options & goValidateCanvas) && GetObjectType(m_validatedDC) != OBJ_DC) {
        Terminate();
        return;
    }
    TGIFSubImage* frame = Frame(m_activeImage);
    if ((m_options & goClearOnLoop) && m_activeImage == 0)
        RestoreDisposalArea();

    const TRect whole = Rect(0, 0, m_rect.Width(), m_rect.Height());
    TCanvas* surface = nullptr;
    TRect area = whole;
    TBitmap* copyFrom = nullptr;
    bool restoreAfter = false;
    const bool previousKept = m_previousDisposal == dmNone || m_previousDisposal == dmNoDisposal;
    switch (m_disposal) {
    case dmNone:
    case dmNoDisposal:
        surface = &m_backup->Canvas();
        copyFrom = m_backup.get();
        break;
    case dmBackground:
        surface = &m_backup->Canvas();
        copyFrom = m_backup.get();
        restoreAfter = true;
        break;
    case dmPrevious:
        if (previousKept) {
            // Drawn on the target only: the backup keeps the picture the
            // next frame returns to.
            surface = m_canvas;
            area = m_rect;
        } else {
            m_frameBuffer->Canvas().CopyMode = 0x00CC0020;
            m_frameBuffer->Canvas().CopyRect(whole, m_backup->Canvas(), whole);
            surface = &m_frameBuffer->Canvas();
            copyFrom = m_frameBuffer.get();
        }
        break;
    }
    if (surface) {
        frame->Draw(*surface, area, m_options & goTransparent, m_options & goTile);
        if (copyFrom) {
            m_canvas->CopyMode = 0x00CC0020;
            m_canvas->CopyRect(m_rect, copyFrom->Canvas(), whole);
        }
        if (restoreAfter)
            RestoreDisposalArea();
    }
    m_started = true;
}

void TGIFPainter::RestoreDisposalArea()
{
    TGIFSubImage* frame = Frame(m_activeImage);
    TCanvas& backup = m_backup->Canvas();
    const TRect whole = Rect(0, 0, m_rect.Width(), m_rect.Height());
    const int iw = m_image->Width(), ih = m_image->Height();
    // Tiles step by the screen's size: a screen without area has none.
    auto eachTile = [&](const std::function<void(const TRect&)>& cell) {
        if (iw <= 0 || ih <= 0)
            return;
        for (long long x = static_cast<long long>(m_rect.Left) + frame->Left(); x < m_rect.Right; x += iw)
            for (long long y = static_cast<long long>(m_rect.Top) + frame->Top(); y < m_rect.Bottom; y += ih) {
                const int l = static_cast<int>(x - m_rect.Left), t = static_cast<int>(y - m_rect.Top);
                cell(Rect(l, t, l + frame->Width(), t + frame->Height()));
            }
    };
    const bool transparent = m_options & goTransparent, tile = m_options & goTile;
    if (transparent && m_background) {
        backup.CopyMode = 0x00CC0020;
        if (!tile) {
            const TRect r = frame->ScaleRect(whole);
            backup.CopyRect(r, m_background->Canvas(), r);
        } else {
            eachTile([&](const TRect& r) { backup.CopyRect(r, m_background->Canvas(), r); });
        }
        return;
    }
    if (!transparent && tile && frame->Width() != iw && frame->Height() != ih) {
        backup.Brush().SetColor(m_image->DrawBackgroundColor());
        eachTile([&](const TRect& r) { backup.FillRect(r); });
        return;
    }
    backup.Brush().SetColor(static_cast<TColor>(m_backgroundColor));
    backup.FillRect(frame->ScaleRect(whole));
}

void TGIFPainter::EndOfLife()
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_image) {
        TThreadList& painters = m_image->Painters();
        painters.LockList();
        if (m_painterRef && *m_painterRef == this)
            *m_painterRef = nullptr;
        painters.Remove(this);
        painters.UnlockList();
    }
    m_image = nullptr;
    m_backup.reset();
    m_frameBuffer.reset();
    m_background.reset();
    m_event.reset();
}
