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

private:
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
