#include "shell/ptshdragdrop.h"

#include "shell/ptshutils.h"
#include "shell/shldragdrop.h"

#include "rtl/clock.h"
#include "vcl/forms.h"

HRESULT TPTShellDropTarget::QueryInterface(REFIID riid, void** ppv)
{
    return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropTarget});
}

namespace {
template <class Call> HRESULT Guarded(DWORD* effect, Call call)
{
    if (!effect)
        return E_INVALIDARG;
    try {
        return call(*effect);
    } catch (...) {
        *effect = DROPEFFECT_NONE;
        return E_FAIL;
    }
}
} // namespace

HRESULT TPTShellDropTarget::DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect)
{
    return Guarded(effect, [&](DWORD& e) { return m_owner.OnDropTarget_DragEnter(data, keyState, point, e); });
}

HRESULT TPTShellDropTarget::DragOver(DWORD keyState, POINTL point, DWORD* effect)
{
    return Guarded(effect, [&](DWORD& e) { return m_owner.OnDropTarget_DragOver(keyState, point, e); });
}

HRESULT TPTShellDropTarget::DragLeave()
{
    try {
        return m_owner.OnDropTarget_DragLeave();
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TPTShellDropTarget::Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect)
{
    return Guarded(effect, [&](DWORD& e) { return m_owner.OnDropTarget_Drop(data, keyState, point, e); });
}

TPTShellDropRegistration::TPTShellDropRegistration(IPTShellDropOwner& owner) : m_target(new TPTShellDropTarget(owner)) {}

TPTShellDropRegistration::~TPTShellDropRegistration()
{
    // A destructor cannot raise: a registration already gone is let go.
    if (m_window)
        RevokeDragDrop(m_window);
}

void TPTShellDropRegistration::SetActive(bool active, HWND window)
{
    if (active == Active())
        return;
    if (active) {
        OleCheck(RegisterDragDrop(window, m_target.Get()));
        m_window = window;
    } else {
        const HWND was = m_window;
        m_window = 0;
        OleCheck(RevokeDragDrop(was));
    }
}

DWORD PTShellHoverEffect(IDropTarget* target, IDataObject* data, DWORD keyState, POINTL point, DWORD offered)
{
    DWORD effect = offered;
    if (target->DragEnter(data, keyState, point, &effect) != S_OK) {
        target->DragLeave();
        return DROPEFFECT_NONE;
    }
    effect = offered;
    if (target->DragOver(keyState, point, &effect) != S_OK)
        effect = DROPEFFECT_NONE;
    target->DragLeave();
    return effect;
}

HRESULT PTShellDropOn(IDropTarget* target, IDataObject* data, DWORD keyState, DWORD enterKeys, POINTL point,
    DWORD& effect)
{
    keyState |= enterKeys & (MK_LBUTTON | MK_RBUTTON);
    DWORD scratch = effect;
    target->DragEnter(data, keyState, point, &scratch);
    scratch = effect;
    target->DragOver(keyState, point, &scratch);
    effect &= GetDataObjectEffects(data);
    TScreenCursorGuard hourglass;
    return target->Drop(data, keyState, point, &effect);
}

HRESULT PTShellRunDrag(IDataObject* data, DWORD okEffects, int button, DWORD& effect)
{
    TComPtr<IDropSource> source(new TShellDropSource(button));
    effect = DROPEFFECT_NONE;
    return DoDragDrop(data, source.Get(), okEffects, &effect);
}

void TPTShellAutoscroll::Start() { m_last = CurrentClock().NowMs(); }

bool TPTShellAutoscroll::Step(int x, int y, int width, int height, const std::function<bool(int, int)>& scroll)
{
    const std::uint64_t now = CurrentClock().NowMs();
    if (now - m_last <= static_cast<std::uint64_t>(PTSH_AUTOSCROLL_MINDELAY_MS))
        return false;
    const int horizontal = x < PTSH_AUTOSCROLL_THRESHOLD_X ? -1 : x > width - PTSH_AUTOSCROLL_THRESHOLD_X ? 1 : 0;
    const int vertical = y < PTSH_AUTOSCROLL_THRESHOLD_Y ? -1 : y > height - PTSH_AUTOSCROLL_THRESHOLD_Y ? 1 : 0;
    const bool moved = (horizontal || vertical) && scroll(horizontal, vertical);
    m_last = now;
    return moved;
}
