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
    // The selection is gathered first in a tight walk over the rows, so the
    // reads of many rows overlap; the names come in a second walk.
    std::vector<TPTShListData*> selected;
    for (int i = 0; i < Items().Count(); ++i)
        if (TListItem* item = Items()[i]; item->Selected() && item->Data)
            selected.push_back(GetDataFromItem(item));
    if (selected.empty())
        return {};
    std::vector<LPCITEMIDLIST> items;
    items.reserve(selected.size());
    for (TPTShListData* data : selected)
        items.push_back(data->GetRelativeIdList());
    // In a file-system folder each path is the folder's and the item's
    // parsing name, found without asking the file system about each item.
    // The paths are packed as the file list holds them, without a string
    // kept for each.
    std::string folderPath;
    const bool fileSystem = m_currentFolder && m_currentList && ShellPathFromIDList(m_currentList, folderPath);
    if (fileSystem && folderPath != "/")
        folderPath += '/';
    TDropNames paths;
    // Room for names of up to 64 bytes; longer ones grow the list.
    paths.Reserve(items.size() * (folderPath.size() + 65));
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (fileSystem) {
            paths.Add(folderPath, ShellGetItemDisplayName(m_currentFolder, items[k], SHGDN_INFOLDER | SHGDN_FORPARSING));
            continue;
        }
        const std::string path = selected[k]->IsFileSystem() ? selected[k]->GetPathName() : std::string();
        if (path.empty())
            break;  // an item without a path: no file list at all
        paths.Add({}, path);
    }
    return TComPtr<IDataObject>(new TShellDataObject(std::move(paths), m_currentList, items));
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
    if (ownEmpty && m_dragButton == 1)
        effect = DROPEFFECT_COPY;
    else
        effect = target ? PTShellHoverEffect(target.Get(), m_dragData.Get(), keyState, point, effect) : DROPEFFECT_NONE;
    SetDropTarget(effect != DROPEFFECT_NONE ? item : nullptr);
    return S_OK;
}

HRESULT TPTCustomShellList::OnDropTarget_DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect)
{
    m_dragData = TComPtr<IDataObject>(data);
    m_dragKeys = keyState;
    m_autoscroll.Start();
    return HoverOver(keyState, point, effect);
}

void TPTCustomShellList::Autoscroll(POINTL point)
{
    const TPoint client = ScreenToClient(TPoint {point.x, point.y});
    m_autoscroll.Step(client.X, client.Y, Width(), Height(),
        [this](int horizontal, int vertical) { return ScrollByLine(horizontal, vertical); });
}

HRESULT TPTCustomShellList::OnDropTarget_DragOver(DWORD keyState, POINTL point, DWORD& effect)
{
    const HRESULT hr = HoverOver(keyState, point, effect);
    Autoscroll(point);
    effect |= DROPEFFECT_SCROLL;
    return hr;
}

HRESULT TPTCustomShellList::OnDropTarget_DragLeave()
{
    m_dragData.Reset();
    SetDropTarget(nullptr);
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
