// The hex editor's drop target and drop source.
#pragma once

#include "ole/ole2.h"

class TZURadUvudodEx;

// Receives the drags over the editor's window while it is registered. It
// holds a reference to itself from creation until Free, so the editor alone
// decides its lifetime. No exception leaves its methods.
class TZAZDropTarget : public TComObject<IDropTarget> {
public:
    explicit TZAZDropTarget(TZURadUvudodEx* editor);
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
    HRESULT DragOver(DWORD keyState, POINTL point, DWORD* effect) override;
    HRESULT DragLeave() override;
    HRESULT Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;

    bool Active() const { return m_active; }
    // Registers or revokes the editor's window; a failing call raises
    // EOleSysError.
    void SetActive(bool value);
    // Ends the registration without raising and drops the self-reference.
    void Free();

private:
    TZURadUvudodEx* m_editor;
    HWND m_window = 0;
    bool m_active = false;
};

// The drag of the editor's selection: Esc cancels, letting go of the left
// button drops.
class TZAZDropSource : public TComObject<IDropSource> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
    HRESULT GiveFeedback(DWORD effect) override;
};
