// Drag and drop of the shell list: the selection dragged out, and drags over
// the list handed to the folder of the item under the pointer or to the
// shown folder.
#include "shell/ptshcontrols.h"

#include "shell/shldragdrop.h"

DWORD TPTCustomShellList::GetDragDropAttributesForAllSelected()
{
    std::vector<LPCITEMIDLIST> items;
    for (int i = 0; i < Items().Count(); ++i)
        if (TPTShListData* data = GetDataFromItem(Items()[i]); data && Items()[i]->Selected())
            items.push_back(data->GetRelativeIdList());
    if (items.empty() || !m_currentFolder)
        return DROPEFFECT_NONE;
    ULONG attributes = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK;
    OleCheck(m_currentFolder->GetAttributesOf(static_cast<UINT>(items.size()), items.data(), &attributes));
    return attributes & (SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK);
}

TComPtr<IDataObject> TPTCustomShellList::SelectionDataObject()
{
    std::vector<LPCITEMIDLIST> items;
    std::vector<std::string> paths;
    // In a file-system folder each path is the folder's and the item's
    // parsing name, found without asking the file system about each item.
    std::string folderPath;
    const bool fileSystem = m_currentFolder && m_currentList && ShellPathFromIDList(m_currentList, folderPath);
    if (fileSystem && folderPath != "/")
        folderPath += '/';
    for (int i = 0; i < Items().Count(); ++i)
        if (TPTShListData* data = GetDataFromItem(Items()[i]); data && Items()[i]->Selected()) {
            items.push_back(data->GetRelativeIdList());
            if (fileSystem)
                paths.push_back(folderPath
                    + ShellGetItemDisplayName(m_currentFolder, items.back(), SHGDN_INFOLDER | SHGDN_FORPARSING));
            else
                paths.push_back(data->IsFileSystem() ? data->GetPathName() : std::string());
        }
    if (items.empty())
        return {};
    return TComPtr<IDataObject>(new TShellDataObject(m_currentList, items, paths));
}

void TPTCustomShellList::OleBeginDrag(int button)
{
    TComPtr<IDataObject> object = SelectionDataObject();
    if (!object)
        return;
    const DWORD allowed = GetDragDropAttributesForAllSelected();
    m_dragStarted = true;
    m_dragButton = button;
    BeginBusy();
    struct End {
        TPTCustomShellList* list;
        ~End()
        {
            list->m_dragButton = -1;
            list->EndBusy();
        }
    } end {this};
    DWORD effect = DROPEFFECT_NONE;
    if (PTShellRunDrag(object.Get(), allowed, button, effect) == DRAGDROP_S_DROP)
        RefreshItems();
}

IDropTarget* TPTCustomShellList::DropTargetAt(POINTL point, TListItem*& item, bool& ownEmpty)
{
    const TPoint client = ScreenToClient(TPoint {point.x, point.y});
    item = GetItemAt(client.X, client.Y);
    ownEmpty = false;
    void* target = nullptr;
    if (item && GetDataFromItem(item)) {
        // A file takes no drops: the shown folder does.
        if (SUCCEEDED(GetUIObjectForItem(item, IID_IDropTarget, &target)) && target)
            return static_cast<IDropTarget*>(target);
        item = nullptr;
    } else {
        item = nullptr;
        if (m_dragButton >= 0) {
            ownEmpty = true;
            if (m_dragButton == 0)
                return nullptr;
        }
    }
    if (m_currentList && SUCCEEDED(ShellGetUIObjectOfIdList(m_currentList, IID_IDropTarget, &target)))
        return static_cast<IDropTarget*>(target);
    return nullptr;
}

HRESULT TPTCustomShellList::HoverOver(DWORD keyState, POINTL point, DWORD& effect)
{
    TListItem* item = nullptr;
    bool ownEmpty = false;
    TComPtr<IDropTarget> target = TComPtr<IDropTarget>::Adopt(DropTargetAt(point, item, ownEmpty));
    TListItem* const was = m_dropItem;
    if (ownEmpty && m_dragButton == 1)
        effect = DROPEFFECT_COPY;
    else
        effect = target ? PTShellHoverEffect(target.Get(), m_dragData.Get(), keyState, point, effect) : DROPEFFECT_NONE;
    m_dropItem = effect != DROPEFFECT_NONE ? item : nullptr;
    if (m_dropItem != was)
        Invalidate();
    return S_OK;
}

HRESULT TPTCustomShellList::OnDropTarget_DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect)
{
    m_dragData = TComPtr<IDataObject>(data);
    m_dragKeys = keyState;
    return HoverOver(keyState, point, effect);
}

HRESULT TPTCustomShellList::OnDropTarget_DragOver(DWORD keyState, POINTL point, DWORD& effect)
{
    return HoverOver(keyState, point, effect);
}

HRESULT TPTCustomShellList::OnDropTarget_DragLeave()
{
    m_dragData.Reset();
    m_dropItem = nullptr;
    Invalidate();
    return S_OK;
}

HRESULT TPTCustomShellList::OnDropTarget_Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect)
{
    // However the drop ends, the drag's state goes as when it leaves.
    struct End {
        TPTCustomShellList* list;
        ~End() { list->OnDropTarget_DragLeave(); }
    } end {this};
    TListItem* item = nullptr;
    bool ownEmpty = false;
    TComPtr<IDropTarget> target = TComPtr<IDropTarget>::Adopt(DropTargetAt(point, item, ownEmpty));
    if (!target) {
        effect = DROPEFFECT_NONE;
        return S_OK;
    }
    // On its own empty space a right-button drag offers no move.
    if (ownEmpty)
        effect &= ~DROPEFFECT_MOVE;
    const HRESULT hr = PTShellDropOn(target.Get(), data, keyState, m_dragKeys, point, effect);
    RefreshItems();
    return hr;
}
