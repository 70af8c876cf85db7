// Controls of the GUI class library over Qt widgets. A control owns one
// widget; a windowed control parents its children's widgets and lays out
// the aligned ones the way the class library does (top, bottom, left,
// right, then the client area). Each control has a window procedure that
// messages posted to its handle reach.
#pragma once

#include "graphics.h"
#include "messages.h"

#include "rtl/classes.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class QEvent;
class QObject;
class TWinControl;
class TPopupMenu;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftFlag { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using TShiftState = int;

// Virtual-key codes of the keys the controls handle.
constexpr WORD VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11,
               VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
               VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
               VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_F1 = 0x70, VK_F2 = 0x71, VK_F3 = 0x72, VK_F5 = 0x74,
               VK_F10 = 0x79, VK_APPS = 0x5D, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_MULTIPLY = 0x6A;

using TMouseEvent = std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;
using TKeyEvent = std::function<void(TObject* sender, WORD& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;
// A right click (or the menu key) asks for a context menu at a client point;
// setting handled keeps the control's own menu from coming up.
using TContextPopupEvent = std::function<void(TObject* sender, TPoint mousePos, bool& handled)>;

enum class TCursor { crDefault, crArrow, crHourGlass, crHandPoint, crSizeWE, crSizeNS, crDrag, crIBeam };

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    QWidget* Widget() const;

    TWinControl* Parent() const { return m_parent; }
    virtual void SetParent(TWinControl* parent);

    TAlign Align() const { return m_align; }
    void SetAlign(TAlign align);

    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible itself and every parent up to a shown window.
    bool Showing() const;

    bool Enabled() const { return m_enabled; }
    virtual void SetEnabled(bool enabled);

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
    void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
    void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
    void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Rect(Left(), Top(), Left() + Width(), Top() + Height()); }
    TRect ClientRect() const { return Rect(0, 0, Width(), Height()); }

    const std::string& Caption() const { return m_caption; }
    void SetCaption(const std::string& caption);
    const std::string& Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }
    const std::string& Hint() const { return m_hint; }
    void SetHint(const std::string& hint);
    bool ShowHint = true;

    TFont& Font() { return m_font; }
    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor cursor);

    TComponentLink<TPopupMenu> PopupMenu{this};

    void BringToFront();
    void SendToBack();
    void Invalidate();
    void Repaint();
    void Update();
    // Whether the control and its children draw changes (the system's
    // WM_SETREDRAW): while off, nothing of them is drawn again; turning it
    // on draws the whole control at the next paint.
    void SetRedraw(bool on);
    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;

    // The control's window handle: messages posted to it reach WndProc.
    HWND Handle();
    bool HandleAllocated() const { return m_handle != 0; }
    virtual void WndProc(TMessage& message);
    LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnResize;
    TContextPopupEvent OnContextPopup;

    // Called by the widget's event filter; true when the event is consumed.
    virtual bool HandleEvent(QEvent* event);

protected:
    // Takes ownership of the widget that shows this control.
    void SetWidget(QWidget* widget);
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void Resize();
    virtual void CaptionChanged();
    virtual void FontChanged();
    // A context menu is asked for: fires OnContextPopup. When nothing
    // handled the request, the control's PopupMenu comes up (when its
    // AutoPopup is on), with the control as its popup component.
    virtual void ContextPopup(TPoint pos, bool& handled);
    // Called by SetAlign with the alignment it had, before the parent lays
    // out its children again.
    virtual void AlignChanged(TAlign) {}
    // Ends whatever the mouse was doing (a drag selection, a captured
    // button) before something else takes the input, such as a menu.
    virtual void CancelMode() {}
    void RequestRealign();
    // Set by controls whose widget reports its own clicks (buttons, check
    // boxes), so a mouse release does not click them a second time.
    bool m_widgetClicks = false;

private:
    friend class TWinControl;
    QWidget* m_widget = nullptr;
    std::unique_ptr<QObject> m_filter;
    TWinControl* m_parent = nullptr;
    TAlign m_align = alNone;
    bool m_visible = true;
    bool m_enabled = true;
    std::string m_caption;
    std::string m_hint;
    TFont m_font;
    TColor m_color = clBtnFace;
    TCursor m_cursor = TCursor::crDefault;
    HWND m_handle = 0;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    int ControlCount() const { return static_cast<int>(m_controls.size()); }
    TControl* Controls(int index) const { return m_controls.at(static_cast<size_t>(index)); }

    // The widget that children are placed on.
    virtual QWidget* ClientWidget() const;
    // Lays out the aligned children in the client area.
    virtual void AlignControls();

    void SetFocus();
    // Takes the system's keyboard focus: the control's window becomes the
    // active window, with the control as its focus.
    void FocusWindow();
    bool Focused() const;
    bool CanFocus() const;
    bool TabStop = true;

    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    bool HandleEvent(QEvent* event) override;

protected:
    // Called when a child control has been placed on this control.
    virtual void ControlInserted(TControl*) {}
    virtual void KeyDown(WORD& key, TShiftState shift);
    virtual void KeyUp(WORD& key, TShiftState shift);
    virtual void KeyPress(char& key);
    virtual void DoEnter();
    virtual void DoExit();

private:
    friend class TControl;
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    std::vector<TControl*> m_controls;
    std::unique_ptr<QObject> m_clientFilter;
    bool m_aligning = false;
};

// A windowed control that paints itself on its canvas.
class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner);
    TCanvas& Canvas() { return m_canvas; }
    // Paints the control into an image of its size (offscreen tests, benchmarks).
    void PaintTo(TBitmap& bitmap);
    TNotifyEvent OnPaint;
    // Called by the widget for each paint, with the canvas bound.
    virtual void Paint();

private:
    TCanvas m_canvas;
};

// The control whose Handle() answered the handle; null when none does (any
// more).
TControl* FindControl(HWND handle);

// Maps a Qt key code to the virtual-key code; 0 when it has none.
WORD VirtualKeyFromQtKey(int qtKey);
TShiftState ShiftStateFromQt(int modifiers, int buttons);
