// Panels, splitters, scroll boxes and timers.
#pragma once

#include "controls.h"

class QTimer;
class QScrollArea;
class ManualClock;

enum class TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* owner);
    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TBevelCut bevel);
    void SetBorderStyleSingle(bool single);

protected:
    void CaptionChanged() override;

private:
    TBevelCut m_bevelOuter = TBevelCut::bvRaised;
};

// Drags the edge of the aligned control beside it.
class TSplitter : public TControl {
public:
    explicit TSplitter(TComponent* owner);
    int MinSize = 30;
    TNotifyEvent OnMoved;
    // The control the splitter resizes: the visible sibling aligned the same
    // way whose edge touches the splitter.
    TControl* FindControl() const;

protected:
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    // A splitter turned from a row into a column (or back) keeps its
    // thickness: the height of a top splitter becomes the width of a left one.
    void AlignChanged(TAlign previous) override;

private:
    TControl* m_target = nullptr;
    int m_downPos = 0;
    int m_startSize = 0;
};

class TScrollBox : public TWinControl {
public:
    explicit TScrollBox(TComponent* owner);
    QWidget* ClientWidget() const override;
    // Sizes the scrollable area to hold every child that is not aligned;
    // aligned children fill the visible area.
    void AlignControls() override;
    int HorzPosition() const;
    int VertPosition() const;
    void ScrollTo(int x, int y);
    // Whether the box shows scroll bars for children beyond its area; off,
    // the area stays where it is and such children are cut at its edges.
    bool AutoScroll() const { return m_autoScroll; }
    void SetAutoScroll(bool autoScroll);

private:
    bool m_autoScroll = true;
    QScrollArea* m_area;
    QWidget* m_content;
};

// Fires OnTimer every Interval ms while enabled, on the current clock.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return m_interval; }
    void SetInterval(unsigned ms);
    TNotifyEvent OnTimer;

private:
    void Restart();
    void Stop();
    bool m_enabled = true;
    unsigned m_interval = 1000;
    QTimer* m_qtimer = nullptr;
    int m_manualId = 0;
    ManualClock* m_manual = nullptr;
};

// The image control: shows a picture's graphic in its client area, at its
// own size, centred, stretched or shrunk proportionally. Painting goes
// through a GDI back buffer of the area being painted, into which the
// graphic draws itself with blits; the buffer is then put on the widget.
class TImage : public TControl {
public:
    explicit TImage(TComponent* owner);
    ~TImage() override;

    TPicture& Picture() { return *m_picture; }
    // The canvas of the picture's bitmap (a picture holding another kind of
    // graphic gives it up for an empty bitmap, as the picture's Bitmap does).
    TCanvas& Canvas();

    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool autoSize);
    bool Center() const { return m_center; }
    void SetCenter(bool center);
    bool Proportional() const { return m_proportional; }
    void SetProportional(bool proportional);
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool stretch);
    // Where the graphic is drawn in the client area.
    TRect DestRect() const;

    // Paints the rectangle of the client area into a bitmap of its size, as
    // the widget paints it (tests and benchmarks).
    void PaintArea(TBitmap& target, const TRect& area);

private:
    void PictureChanged();
    TRect DestRectFor(int clientWidth, int clientHeight) const;
    std::unique_ptr<TPicture> m_picture;
    bool m_autoSize = false;
    bool m_center = false;
    bool m_proportional = false;
    bool m_stretch = false;
};
