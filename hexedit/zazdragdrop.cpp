#include "hexedit/zazdragdrop.h"

#include "hexedit/zuradhexex.h"

#include "vcl/forms.h"

TZAZDropTarget::TZAZDropTarget(TZURadUvudodEx* editor) : m_editor(editor) { AddRef(); }

HRESULT TZAZDropTarget::QueryInterface(REFIID riid, void** ppv)
{
    return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropTarget});
}

void TZAZDropTarget::SetActive(bool value)
{
    if (value == m_active)
        return;
    m_active = value;
    if (value) {
        m_window = m_editor->Handle();
        OleCheck(RegisterDragDrop(m_window, this));
        OleCheck(CoLockObjectExternal(this, TRUE, FALSE));
    } else {
        // The lock ends even when the registration is gone already.
        const HRESULT revoked = RevokeDragDrop(m_window);
        const HRESULT unlocked = CoLockObjectExternal(this, FALSE, TRUE);
        OleCheck(revoked);
        OleCheck(unlocked);
    }
}

void TZAZDropTarget::Free()
{
    // A destructor cannot raise: a failing revocation is let go.
    try {
        SetActive(false);
    } catch (...) {
    }
    Release();
}

HRESULT TZAZDropTarget::DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect)
{
    if (!effect)
        return E_INVALIDARG;
    try {
        const TPoint p{point.x, point.y};
        const HRESULT supported = m_editor->SupportsOLEData(data, keyState, p, *effect, oleDrop);
        if (supported != S_OK) {
            *effect = DROPEFFECT_NONE;
            return supported;
        }
        m_editor->ModifyOLEDropEffect(keyState, p, *effect);
        const TPoint client = m_editor->ScreenToClient(p);
        m_editor->ShowDragCell(client.X, client.Y);
        return S_OK;
    } catch (...) {
        *effect = DROPEFFECT_NONE;
        return E_FAIL;
    }
}

HRESULT TZAZDropTarget::DragOver(DWORD keyState, POINTL point, DWORD* effect)
{
    if (!effect)
        return E_INVALIDARG;
    try {
        const TPoint p{point.x, point.y};
        if (SUCCEEDED(m_editor->ModifyOLEDropEffect(keyState, p, *effect))) {
            const TPoint client = m_editor->ScreenToClient(p);
            m_editor->ShowDragCell(client.X, client.Y);
        } else {
            *effect = DROPEFFECT_NONE;
            m_editor->HideDragCell();
        }
        return S_OK;
    } catch (...) {
        *effect = DROPEFFECT_NONE;
        return E_FAIL;
    }
}

HRESULT TZAZDropTarget::DragLeave()
{
    try {
        m_editor->HideDragCell();
    } catch (...) {
    }
    return S_OK;
}

HRESULT TZAZDropTarget::Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect)
{
    if (!effect)
        return E_INVALIDARG;
    HRESULT result = E_FAIL;
    try {
        const TPoint p{point.x, point.y};
        result = m_editor->SupportsOLEData(data, keyState, p, *effect, oleDrop);
        if (result == S_OK)
            result = m_editor->ModifyOLEDropEffect(keyState, p, *effect);
        if (result == S_OK)
            result = m_editor->InsertOLEData(data, keyState, p, *effect, oleDrop);
    } catch (const std::exception& e) {
        // Shown here: nothing may unwind through the drag loop.
        try {
            if (Application)
                Application->ShowException(e);
        } catch (...) {
        }
        result = E_FAIL;
    } catch (...) {
        result = E_FAIL;
    }
    if (result != S_OK)
        *effect = DROPEFFECT_NONE;
    try {
        m_editor->HideDragCell();
    } catch (...) {
    }
    return result;
}

HRESULT TZAZDropSource::QueryInterface(REFIID riid, void** ppv)
{
    return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropSource});
}

HRESULT TZAZDropSource::QueryContinueDrag(BOOL escapePressed, DWORD keyState)
{
    if (escapePressed)
        return DRAGDROP_S_CANCEL;
    return (keyState & MK_LBUTTON) ? S_OK : DRAGDROP_S_DROP;
}

HRESULT TZAZDropSource::GiveFeedback(DWORD effect)
{
    return (effect & 7) >= 3 ? E_INVALIDARG : DRAGDROP_S_USEDEFAULTCURSORS;
}
