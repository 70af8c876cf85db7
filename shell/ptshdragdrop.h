// Drag and drop of the shell tree and list: the drop target that hands each
// call of a drag over a control's window to the control, and the steps both
// controls take with the drop target of the folder under the pointer.
#pragma once

#include "ole/ole2.h"

#include <cstdint>
#include <functional>

// What a control does for a drag over its window (screen points).
class IPTShellDropOwner {
public:
    virtual ~IPTShellDropOwner() = default;
    virtual HRESULT OnDropTarget_DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect) = 0;
    virtual HRESULT OnDropTarget_DragOver(DWORD keyState, POINTL point, DWORD& effect) = 0;
    virtual HRESULT OnDropTarget_DragLeave() = 0;
    virtual HRESULT OnDropTarget_Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect) = 0;
};

// Registered for the control's window while drops are on. No exception
// leaves it: a failing call answers E_FAIL with no effect.
class TPTShellDropTarget : public TComObject<IDropTarget> {
public:
    explicit TPTShellDropTarget(IPTShellDropOwner& owner) : m_owner(owner) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
    HRESULT DragOver(DWORD keyState, POINTL point, DWORD* effect) override;
    HRESULT DragLeave() override;
    HRESULT Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;

private:
    IPTShellDropOwner& m_owner;
};

// Keeps a control's drop target registered for its window.
class TPTShellDropRegistration {
public:
    explicit TPTShellDropRegistration(IPTShellDropOwner& owner);
    ~TPTShellDropRegistration();
    void SetActive(bool active, HWND window);
    bool Active() const { return m_window != 0; }

private:
    TComPtr<TPTShellDropTarget> m_target;
    HWND m_window = 0;
};

// The effect the folder's target gives for the pointer: enter, over, leave.
DWORD PTShellHoverEffect(IDropTarget* target, IDataObject* data, DWORD keyState, POINTL point, DWORD offered);
// A drop on the folder's target: the buttons held at the drag's start are
// added to the keys (they are up by now, and a right-button drop must ask),
// enter and over, the effect limited to what the dragged items allow, then
// the drop under the hourglass.
HRESULT PTShellDropOn(IDropTarget* target, IDataObject* data, DWORD keyState, DWORD enterKeys, POINTL point,
    DWORD& effect);
// Runs a drag of shell items begun with the button (0 left, 1 right).
HRESULT PTShellRunDrag(IDataObject* data, DWORD okEffects, int button, DWORD& effect);

// Scrolling while a drag is over a control: a point in an edge zone
// (PTSH_AUTOSCROLL_THRESHOLD_X / _Y pixels wide) scrolls one line toward that
// edge, at most one step per PTSH_AUTOSCROLL_MINDELAY_MS on the program's
// clock.
class TPTShellAutoscroll {
public:
    // A drag enters: the pace counts from now.
    void Start();
    // The client point in a client area of the size; `scroll` moves the
    // view one line (horizontal, vertical: -1, 0 or 1) and tells whether it
    // moved. True when this step moved the view.
    bool Step(int x, int y, int width, int height, const std::function<bool(int, int)>& scroll);

private:
    std::uint64_t m_last = 0;
};
