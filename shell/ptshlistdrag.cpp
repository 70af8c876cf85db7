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
    // In a file-system folder each path is the folder's and the item's
    // parsing name, found without asking the file system about each item;
    // other items are asked for their paths.
    std::string folderPath;
    const bool fileSystem = m_currentFolder && m_currentList && ShellPathFromIDList(m_currentList, folderPath);
    if (fileSystem && folderPath != "/")
        folderPath += '/';
    // One walk over the rows copies the list of each selected item into the
    // block of lists and, in a file-system folder, its name into the file
    // list while the list is at hand: a row's data and its list lie next to
    // the row, so each is read once, and the rows a few steps on are fetched
    // meanwhile.
    const int count = Items().Count();
    TIdListArrayBuilder builder(m_currentList, static_cast<std::size_t>(count), static_cast<std::size_t>(count) * 64);
    // Room for the paths of every row with names of a usual length; the
    // file list grows for longer ones.
    TDropNames paths;
    if (fileSystem)
        paths.Reserve(static_cast<std::size_t>(count) * (folderPath.size() + 32));
    std::vector<TPTShListData*> selected;
    std::string name;
    for (int i = 0; i < count; ++i) {
        if (i + 16 < count)
            __builtin_prefetch(Items()[i + 16]);
        TListItem* item = Items()[i];
        if (!item->Selected() || !item->Data)
            continue;
        TPTShListData* data = GetDataFromItem(item);
        const LPCITEMIDLIST list = data->GetRelativeIdList();
        builder.Add(list);
        if (fileSystem) {
            ShellGetItemDisplayName(m_currentFolder, list, SHGDN_INFOLDER | SHGDN_FORPARSING, name);
            paths.Add(folderPath, name);
        } else {
            selected.push_back(data);
        }
    }
    const std::size_t items = builder.Count();
    if (items == 0)
        return {};
    HGLOBAL block = builder.TakeBlock();
    if (!block)
        return {};  // memory ran short: nothing to drag
    // Other items are asked for their paths; an item without one leaves the
    // file list out.
    for (TPTShListData* data : selected) {
        const std::string path = data->IsFileSystem() ? data->GetPathName() : std::string();
        if (path.empty())
            break;
        paths.Add({}, path);
    }
    return TComPtr<IDataObject>(new TShellDataObject(std::move(paths), block));
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
