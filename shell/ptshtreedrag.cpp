// Drag and drop of the shell tree: a node dragged out, drags over the tree
// handed to the folder under the pointer, and a closed folder opened when
// a drag hovers over it.
#include "shell/ptshcontrols.h"

#include "shell/ptshconsts.h"
#include "shell/shldragdrop.h"

#include "rtl/clock.h"

#include <cstdlib>

namespace {
// How long and how still a drag must hover over a closed folder to open it.
constexpr std::uint64_t kHoverOpenMs = 400;
constexpr LONG kHoverSlop = 2;
} // namespace

DWORD TPTCustomShellTree::GetDragDropAttributesForNode(TTreeNode* node)
{
    constexpr ULONG kEffects = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK;
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data || !data->ParentData())
        return kEffects;
    IShellFolder* folder = data->GetParentIShf();
    ULONG attributes = kEffects;
    LPCITEMIDLIST item = data->GetRelPidl();
    if (!folder || FAILED(folder->GetAttributesOf(1, &item, &attributes)))
        return kEffects;
    return attributes & kEffects;
}

TComPtr<IDataObject> TPTCustomShellTree::NodeDataObject(TTreeNode* node)
{
    TPTShTreeData* data = node ? GetDataFromNode(node) : nullptr;
    if (!data || !node->Parent() || !data->ParentData())
        return {};
    LPCITEMIDLIST item = data->GetRelPidl();
    return TComPtr<IDataObject>(new TShellDataObject(data->ParentData()->GetAbsPidl(), {item}, {data->GetPathName()}));
}

void TPTCustomShellTree::OleBeginDrag(TTreeNode* node, int button)
{
    TComPtr<IDataObject> object = NodeDataObject(node);
    if (!object)
        return;
    m_dragNode = node;
    SetDropTarget(node);
    BeginBusy();
    struct End {
        TPTCustomShellTree* tree;
        ~End()
        {
            tree->m_dragNode = nullptr;
            tree->SetDropTarget(nullptr);
            tree->EndBusy();
        }
    } end {this};
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT hr = PTShellRunDrag(object.Get(), GetDragDropAttributesForNode(node), button, effect);
    if (hr == DRAGDROP_S_DROP)
        RefreshNodes();
}

TTreeNode* TPTCustomShellTree::NodeAtScreen(POINTL point)
{
    const TPoint client = ScreenToClient(TPoint {point.x, point.y});
    return GetNodeAt(client.X, client.Y);
}

// The drop target of the node's folder, with one reference; null when it
// has none.
IDropTarget* TPTCustomShellTree::NodeDropTarget(TTreeNode* node)
{
    TPTShTreeData* data = GetDataFromNode(node);
    void* target = nullptr;
    if (!data || FAILED(data->GetIDropTarget(GetParentHWND(), &target)))
        return nullptr;
    return static_cast<IDropTarget*>(target);
}

HRESULT TPTCustomShellTree::OnDropTarget_DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect)
{
    m_dragData = TComPtr<IDataObject>(data);
    m_dragKeys = keyState;
    m_hoverPoint = point;
    m_hoverSince = CurrentClock().NowMs();
    m_autoscroll.Start();
    TTreeNode* node = NodeAtScreen(point);
    // A root node answers none on entering.
    if (!node || !node->Parent() || !GetDataFromNode(node)) {
        effect = DROPEFFECT_NONE;
        SetDropTarget(m_dragNode);
        return S_OK;
    }
    TComPtr<IDropTarget> target = TComPtr<IDropTarget>::Adopt(NodeDropTarget(node));
    SetDropTarget(node);
    effect = target ? PTShellHoverEffect(target.Get(), data, keyState, point, effect) : DROPEFFECT_NONE;
    return S_OK;
}

HRESULT TPTCustomShellTree::OnDropTarget_DragOver(DWORD keyState, POINTL point, DWORD& effect)
{
    TTreeNode* node = NodeAtScreen(point);
    if (node && GetDataFromNode(node)) {
        TComPtr<IDropTarget> target = TComPtr<IDropTarget>::Adopt(NodeDropTarget(node));
        SetDropTarget(node);
        effect = target ? PTShellHoverEffect(target.Get(), m_dragData.Get(), keyState, point, effect) : DROPEFFECT_NONE;
    } else {
        effect = DROPEFFECT_NONE;
        SetDropTarget(m_dragNode);
    }
    Autoscroll(point);
    HoverOpen(node, point);
    effect |= DROPEFFECT_SCROLL;
    return S_OK;
}

// Near an edge the tree scrolls toward it; a step that moved the nodes under
// the pointer starts the hover wait again.
void TPTCustomShellTree::Autoscroll(POINTL point)
{
    const TPoint client = ScreenToClient(TPoint {point.x, point.y});
    if (m_autoscroll.Step(client.X, client.Y, Width(), Height(),
            [this](int horizontal, int vertical) { return ScrollByLine(horizontal, vertical); }))
        m_hoverSince = CurrentClock().NowMs();
}

// A drag resting on a closed folder for the hover time opens it; moving
// further than the slop starts the wait again.
void TPTCustomShellTree::HoverOpen(TTreeNode* node, POINTL point)
{
    const std::uint64_t now = CurrentClock().NowMs();
    if (std::labs(point.x - m_hoverPoint.x) > kHoverSlop || std::labs(point.y - m_hoverPoint.y) > kHoverSlop) {
        m_hoverPoint = point;
        m_hoverSince = now;
        return;
    }
    if (node && now - m_hoverSince >= kHoverOpenMs && !Expanded(node)) {
        Expand(node);
        m_hoverSince = now;
    }
}

HRESULT TPTCustomShellTree::OnDropTarget_DragLeave()
{
    m_dragData.Reset();
    SetDropTarget(nullptr);
    return S_OK;
}

HRESULT TPTCustomShellTree::OnDropTarget_Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect)
{
    // However the drop ends, the drag's state goes as when it leaves.
    struct End {
        TPTCustomShellTree* tree;
        ~End() { tree->OnDropTarget_DragLeave(); }
    } end {this};
    TTreeNode* node = NodeAtScreen(point);
    TComPtr<IDropTarget> target;
    if (node && GetDataFromNode(node))
        target = TComPtr<IDropTarget>::Adopt(NodeDropTarget(node));
    if (!target) {
        effect = DROPEFFECT_NONE;
        return S_OK;
    }
    const HRESULT hr = PTShellDropOn(target.Get(), data, keyState, m_dragKeys, point, effect);
    RefreshNodes();
    return hr;
}
