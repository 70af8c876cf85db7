// The extended control's drag and drop: its drop target's registration,
// and dragging the selection out or to another place in the data.
#include "hexedit/zuradhexex.h"

#include "hexedit/zazdataobj.h"
#include "hexedit/zazdragdrop.h"

#include <cstdlib>

namespace {

// How far the mouse moves on the selection before a drag starts.
constexpr int kDragThreshold = 5;

} // namespace

TZURadUvudodEx::TZURadUvudodEx(TComponent* owner) : TCustomZURadUvudod(owner), m_dropTarget(new TZAZDropTarget(this))
{
    ZAZClipFormats();
}

TZURadUvudodEx::~TZURadUvudodEx()
{
    // Nothing here may raise: a failing flush or revocation is let go.
    try {
        ReleaseClipboard(m_flushClipboardAtShutDown);
    } catch (...) {
    }
    if (m_clipObject)
        m_clipObject->Release();
    m_dropTarget->Free();
}

void TZURadUvudodEx::SetOleDragDrop(bool value)
{
    if (value == m_oleDragDrop)
        return;
    m_oleDragDrop = value;
    m_dropTarget->SetActive(value);
}

void TZURadUvudodEx::CreateWnd()
{
    TCustomZURadUvudod::CreateWnd();
    m_dropTarget->SetActive(m_oleDragDrop);
}

void TZURadUvudodEx::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    TCustomZURadUvudod::MouseDown(button, shift, x, y);
    if (m_oleDragDrop && button == mbLeft && GetMouseOverSelection() && !Selecting()) {
        m_dragArmed = true;
        m_dragging = false;
        m_dragStart = {x, y};
    }
}

void TZURadUvudodEx::MouseMove(TShiftState shift, int x, int y)
{
    TCustomZURadUvudod::MouseMove(shift, x, y);
    if (!m_oleDragDrop || !(shift & ssLeft) || m_dragging || !m_dragArmed || !GetMouseOverSelection() ||
        Selecting())
        return;
    if (std::abs(x - m_dragStart.X) < kDragThreshold && std::abs(y - m_dragStart.Y) < kDragThreshold)
        return;
    RunDrag();
}

void TZURadUvudodEx::RunDrag()
{
    m_dragArmed = false;
    m_dragging = true;
    m_droppedInside = false;
    m_moveSteps = 0;
    TComPtr<TZAZDataObject> data(NewDataObject());
    TComPtr<TZAZDropSource> source(new TZAZDropSource());
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT result = DoDragDrop(data.Get(), source.Get(), DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
    // A shell target that moved the data itself says so through SetData.
    if (data->HasPerformedEffect())
        effect = data->PerformedEffect();
    const bool droppedInside = m_droppedInside;
    const bool wholeMove = m_moveSteps == 2;
    m_dragging = false;
    m_droppedInside = false;
    m_moveSteps = 0;
    HideDragCell();
    if (result != DRAGDROP_S_DROP && result != DRAGDROP_S_CANCEL)
        OleCheck(FAILED(result) ? result : E_UNEXPECTED);
    if (result != DRAGDROP_S_DROP || effect != DROPEFFECT_MOVE)
        return;
    if (droppedInside) {
        // Exactly the deletion and the insertion of this move, and only
        // when both were made: otherwise an older step would be swept in.
        if (wholeMove)
            CombineUndo(2, "Data Moved");
    } else {
        DeleteSelection();
    }
}
