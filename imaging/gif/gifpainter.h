// The animation painter: draws the frames of one GIF image onto one canvas
// rectangle, one after another with each frame's delay, applying their
// disposal methods and repeating as the loop extension and the draw options
// say. An asynchronous painter (goAsync) waits on its own thread and draws
// on the user-interface thread through Synchronize; a synchronous one runs
// inside the call that made it and keeps the event loop moving while it
// waits. Every wait runs on the program's clock.
#pragma once

#include "gdi/wingdi.h"
#include "imaging/gif/gifcommon.h"
#include "rtl/threads.h"
#include "vcl/graphics.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

class TGIFImage;
class TGIFSubImage;

class TGIFPainter : public TThread {
public:
    TGIFPainter(TGIFImage* image, TCanvas* canvas, const TRect& rect, TGIFDrawOptions options);
    // Also writes the new painter into *painterRef, and clears it when the
    // painter ends.
    TGIFPainter(TGIFPainter** painterRef, TGIFImage* image, TCanvas* canvas, const TRect& rect,
                TGIFDrawOptions options);
    ~TGIFPainter() override;

    // Runs the thread of an asynchronous painter; nothing for a synchronous
    // one.
    void Start();
    // Requests the end; an asynchronous painter is also woken (and resumed
    // when suspended) so that it can end.
    void Stop();
    // Starts the animation again from frame 0.
    void Restart();
    int AnimationSpeed() const { return m_speed.load(); }
    // 0 to 1000 percent; a change cuts the current wait short.
    void SetAnimationSpeed(int speed);
    int ActiveImage() const { return m_activeImage.load(); }
    // Takes frames of the image only.
    void SetActiveImage(int index);

    bool IsAsync() const { return m_options & goAsync; }
    bool Started() const { return m_started.load(); }
    bool StopRequested() const { return Terminated(); }
    TCanvas* Canvas() const { return m_canvas; }
    const TRect& PaintRect() const { return m_rect; }
    TGIFDrawOptions DrawOptions() const { return m_options; }
    TGIFImage* Image() const { return m_image; }
    // The exception that ended the painter, if any. The graphic class
    // raises a synchronous painter's after the painter has ended.
    std::exception_ptr CapturedException() const { return m_captured; }

    // The frame loop. The graphic class calls it directly for a synchronous
    // painter; the thread runs it for an asynchronous one.
    void Execute() override;
    // Unregisters the painter from its image and frees its buffers: the
    // thread's OnTerminate, or the graphic class's last step with a
    // synchronous painter. Runs once.
    void EndOfLife();

    TNotifyEvent OnPaintStart, OnBeforeFrame, OnAfterFrame, OnLoopPass, OnPaintEnd;

private:
    void Wait(int delay, std::uint32_t& lastTick, std::int64_t& lastWait);
    void DoSynchronize(const std::function<void()>& method);
    void Fire(const TNotifyEvent& event);
    void DoPaint();
    void DoPaintFrame();
    void RestoreDisposalArea();
    TGIFSubImage* Frame(int index) const;
    int FrameCount() const;
    // A bitmap of the painting rectangle's size holding what the target
    // canvas shows there.
    std::unique_ptr<TBitmap> CopyOfTarget() const;

    TGIFImage* m_image;
    TCanvas* m_canvas;
    TRect m_rect;
    TGIFDrawOptions m_options;
    TGIFPainter** m_painterRef = nullptr;
    std::atomic<int> m_speed;
    std::atomic<int> m_activeImage{-1};
    std::atomic<bool> m_restart{false};
    std::atomic<bool> m_started{false};
    int m_disposal = dmNoDisposal;
    int m_previousDisposal = dmNoDisposal;
    COLORREF m_backgroundColor = 0;
    std::unique_ptr<TBitmap> m_backup;
    std::unique_ptr<TBitmap> m_frameBuffer;
    std::unique_ptr<TBitmap> m_background;
    HDC m_validatedDC = nullptr;
    std::unique_ptr<TEvent> m_event;
    std::exception_ptr m_captured;
    bool m_ended = false;
};
