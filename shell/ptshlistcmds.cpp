// The shell list's commands: the default keys, Backspace and Enter, the
// shell's context menu of the selection, the default verb, rename in place
// and new folders.
#include "shell/ptshcontrols.h"
#include "shell/ptshguards_p.h"

#include "vcl/forms.h"

namespace {

using ptsh::ReleaseOnExit;

} // namespace

HRESULT TPTCustomShellList::GetUIObjectForItem(TListItem* item, REFIID riid, void** object)
{
    *object = nullptr;
    TPTShListData* data = GetDataFromItem(item);
    if (!data || !m_currentFolder)
        return E_INVALIDARG;
    LPCITEMIDLIST relative = data->GetRelativeIdList();
    return m_currentFolder->GetUIObjectOf(GetTopFormHandle(this), 1, &relative, riid, nullptr, object);
}

HRESULT TPTCustomShellList::GetUIObjectForAllSelected(REFIID riid, void** object)
{
    *object = nullptr;
    std::vector<LPCITEMIDLIST> items;
    for (int i = 0; i < Items().Count(); ++i)
        if (TPTShListData* data = GetDataFromItem(Items()[i]); data && Items()[i]->Selected())
            items.push_back(data->GetRelativeIdList());
    if (items.empty() || !m_currentFolder)
        return E_FAIL;
    return m_currentFolder->GetUIObjectOf(GetTopFormHandle(this), static_cast<UINT>(items.size()), items.data(), riid,
        nullptr, object);
}

HRESULT TPTCustomShellList::InvokeVerb(IContextMenu* menu, const std::string& verb)
{
    ReleaseOnExit<IContextMenu> release {menu};
    const HRESULT hr = InvokeContextMenuVerb(GetTopFormHandle(this), menu, verb);
    if (IsFolderNetworkShare())
        RefreshItems();
    return hr;
}

HRESULT TPTCustomShellList::DoCommandForItem(TListItem* item, const std::string& verb)
{
    void* object = nullptr;
    const HRESULT hr = GetUIObjectForItem(item, IID_IContextMenu, &object);
    return FAILED(hr) ? hr : InvokeVerb(static_cast<IContextMenu*>(object), verb);
}

HRESULT TPTCustomShellList::DoCommandForAllSelected(const std::string& verb)
{
    void* object = nullptr;
    const HRESULT hr = GetUIObjectForAllSelected(IID_IContextMenu, &object);
    return FAILED(hr) ? hr : InvokeVerb(static_cast<IContextMenu*>(object), verb);
}

HRESULT TPTCustomShellList::DoCommandForFolder(const std::string& verb)
{
    void* object = nullptr;
    OleCheck(ShellGetUIObjectOfIdList(m_folder.GetIdList(), IID_IContextMenu, &object));
    return InvokeVerb(static_cast<IContextMenu*>(object), verb);
}

void TPTCustomShellList::KeyDown(WORD& key, TShiftState shift)
{
    TPTCustomListView::KeyDown(key, shift);
    if (key == 0 || !(m_options & ptsloDefaultKeyHandling) || IsEditing())
        return;
    const WORD code = ShortCutOf(key, shift);
    const TPTShellControlDefKeyRec* keys = PTShellDefaultKeys();
    const WORD given = key;
    key = 0;
    PTRunCommand([&] {
        if (code == keys[ptdkSelectAll].ShortCut) {
            SelectAll();
        } else if (code == keys[ptdkRefresh].ShortCut) {
            FillItems();
        } else if (code == keys[ptdkCopy].ShortCut) {
            DoCommandForAllSelected("copy");
        } else if (code == keys[ptdkCut].ShortCut) {
            DoCommandForAllSelected("cut");
        } else if (code == keys[ptdkPaste].ShortCut) {
            DoCommandForFolder("paste");
            RefreshItems();
        } else if (code == keys[ptdkEdit].ShortCut) {
            if (TListItem* item = ItemFocused())
                EditCaption(item);
        } else if (code == keys[ptdkDelete].ShortCut || (code & ~0x2000) == keys[ptdkDelete].ShortCut) {
            // With Shift held the shell deletes for good (it reads the keyboard).
            DoCommandForAllSelected("delete");
            RefreshItems();
        } else {
            key = given;
        }
    });
}

void TPTCustomShellList::KeyPress(char& key)
{
    if ((m_options & ptsloDefaultKeyHandling) && !IsEditing()) {
        if (key == 8) {
            key = 0;
            PTRunCommand([&] { GoUp(1); });
        } else if (key == 13) {
            key = 0;
            PTRunCommand([&] { OpenSelectedItems(); });
        }
    }
    TPTCustomListView::KeyPress(key);
}

void TPTCustomShellList::ItemContextMenu(TListItem* item, TPoint& pos, TPopupMenu*& menu)
{
    TPTCustomListView::ItemContextMenu(item, pos, menu);
    if (!(m_options & ptsloContextMenus) || m_refresh->Busy())
        return;
    const TPoint at = pos;
    PTRunCommand([&] { ProcessMenuForAllSelected(at); });
    menu = nullptr;
}

void TPTCustomShellList::TrackMenu(IShellFolder* folder, std::vector<LPITEMIDLIST>& items, UINT flags, TPoint pos)
{
    void* object = nullptr;
    std::vector<LPCITEMIDLIST> lists(items.begin(), items.end());
    if (FAILED(folder->GetUIObjectOf(GetTopFormHandle(this), static_cast<UINT>(lists.size()), lists.data(),
            IID_IContextMenu, nullptr, &object)) || !object)
        return;
    auto* contextMenu = static_cast<IContextMenu*>(object);
    HMENU menu = CreatePopupMenu();
    struct Finish {
        TPTCustomShellList* list;
        HMENU menu;
        IContextMenu* contextMenu;
        ~Finish()
        {
            DestroyMenu(menu);
            contextMenu->Release();
            list->m_shownMenu = nullptr;
        }
    } finish {this, menu, contextMenu};
    OleCheck(contextMenu->QueryContextMenu(menu, 0, PTSH_FIRST_COMMAND, PTSH_LAST_COMMAND, flags));
    m_shownMenu = contextMenu;
    const TPoint screen = ClientToScreen(pos);
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.X, screen.Y, 0, Handle(), nullptr));
    if (command == PTSH_FIRST_COMMAND + PTSH_RENAME_OFFSET) {
        if (TListItem* focused = ItemFocused())
            EditCaption(focused);
    } else if (command >= PTSH_FIRST_COMMAND) {
        InvokeContextMenuCommand(GetTopFormHandle(this), contextMenu, command - PTSH_FIRST_COMMAND);
        if (IsFolderNetworkShare())
            RefreshItems();
    } else if (command > 0) {
        ProcessSendTo(static_cast<int>(command) - 1);
    }
}

void TPTCustomShellList::ProcessSendTo(int index)
{
    const std::vector<TPTSendToEntry>* entries = PTSendToList();
    if (!entries || index < 0 || static_cast<size_t>(index) >= entries->size())
        return;
    const std::string name = (*entries)[static_cast<size_t>(index)].Name;
    if (TComPtr<IDataObject> object = SelectionDataObject())
        SendToTarget(name, object.Get());
}

void TPTCustomShellList::ProcessMenuForAllSelected(TPoint pos)
{
    if (!m_currentFolder)
        return;
    // Copies: the items may be refreshed away while the menu is open.
    std::vector<LPITEMIDLIST> items;
    struct Free {
        std::vector<LPITEMIDLIST>& lists;
        ~Free()
        {
            for (LPITEMIDLIST l : lists)
                ShellMemFree(l);
        }
    } free {items};
    for (int i = 0; i < Items().Count(); ++i)
        if (TPTShListData* data = GetDataFromItem(Items()[i]); data && Items()[i]->Selected())
            items.push_back(CopyIdList(nullptr, data->GetRelativeIdList()));
    if (items.empty())
        return;
    TPTShListData* focused = GetDataFromItem(ItemFocused());
    UINT flags = CMF_EXPLORE;
    if (focused && !focused->GetPathName().empty() && !ReadOnly)
        flags |= CMF_CANRENAME;
    IShellFolder* folder = m_currentFolder;
    folder->AddRef();
    ReleaseOnExit<IShellFolder> keep {folder};
    TrackMenu(folder, items, flags, pos);
}

void TPTCustomShellList::ProcessMenu(TListItem* item, TPoint pos)
{
    TPTShListData* data = GetDataFromItem(item);
    if (!data || !m_currentFolder)
        return;
    std::vector<LPITEMIDLIST> items {CopyIdList(nullptr, data->GetRelativeIdList())};
    struct Free {
        std::vector<LPITEMIDLIST>& lists;
        ~Free() { ShellMemFree(lists.front()); }
    } free {items};
    IShellFolder* folder = m_currentFolder;
    folder->AddRef();
    ReleaseOnExit<IShellFolder> keep {folder};
    BeginBusy();
    struct EndBusy {
        TPTCustomShellList* list;
        ~EndBusy() { list->EndBusy(); }
    } end {this};
    TrackMenu(folder, items, CMF_EXPLORE | (ReadOnly ? 0 : CMF_CANRENAME), pos);
}

void TPTCustomShellList::InvokeDefaultVerb(const std::vector<LPCITEMIDLIST>& items)
{
    if (!m_currentFolder || items.empty())
        return;
    HMENU menu = nullptr;
    IContextMenu* contextMenu = nullptr;
    std::vector<LPCITEMIDLIST> lists = items;
    if (FAILED(ShellCreateContextMenu(GetTopFormHandle(this), m_currentFolder, static_cast<UINT>(lists.size()),
            lists.data(), PTSH_FIRST_COMMAND, CMF_EXPLORE, menu, contextMenu)) || !contextMenu) {
        return;
    }
    ReleaseOnExit<IContextMenu> release {contextMenu};
    struct Destroy {
        HMENU m;
        ~Destroy() { DestroyMenu(m); }
    } destroy {menu};
    const UINT command = GetMenuDefaultItem(menu, FALSE, 0);
    if (command != static_cast<UINT>(-1) && command >= PTSH_FIRST_COMMAND)
        InvokeContextMenuCommand(GetTopFormHandle(this), contextMenu, command - PTSH_FIRST_COMMAND);
}

bool TPTCustomShellList::CanEdit(TListItem* item, std::string& text)
{
    TPTShListData* data = GetDataFromItem(item);
    if (!data)
        return TPTCustomListView::CanEdit(item, text);
    if (!data->GetEditable() || !TPTCustomListView::CanEdit(item, text))
        return false;
    text = ShellGetFriendlyNameFromIdList(m_currentFolder, data->GetRelativeIdList(), ptfnForEditing);
    m_labelEdit.Began(text);
    return true;
}

void TPTCustomShellList::EditEnded() { m_labelEdit.Ended(); }

void TPTCustomShellList::Edit(TListItem* item, const std::string& text)
{
    TPTShListData* data = GetDataFromItem(item);
    if (!data) {
        TPTCustomListView::Edit(item, text);
        return;
    }
    std::string name = PTTrimBlanks(text);
    if (OnEdited)
        OnEdited(this, item, name);
    if (!m_labelEdit.Changed(name) || !m_currentFolder)
        return;
    TScreenCursorGuard hourGlass;
    LPITEMIDLIST renamed = nullptr;
    if (FAILED(m_labelEdit.Rename(m_currentFolder, GetTopFormHandle(this), data->GetRelativeIdList(), name, renamed)))
        return;
    // The item keeps no caption of its own: its name comes from its data.
    if (renamed)
        data->SetData(renamed);
    else
        data->Flush();
    // A new name may hide the file or show it again.
    ULONG attributes = SFGAO_HIDDEN;
    LPCITEMIDLIST relative = data->GetRelativeIdList();
    if (SUCCEEDED(m_currentFolder->GetAttributesOf(1, &relative, &attributes)))
        item->SetCut(attributes & SFGAO_HIDDEN);
    item->SetCaption("");
    Repaint();
    // The selection is announced again, so whoever shows the selected file
    // (the preview, the status bar) follows it to its new name.
    if (item->Selected() && OnSelectItem)
        OnSelectItem(this, item, true);
}

bool TPTCustomShellList::CreateNewFolder(bool edit)
{
    const std::string path = m_folder.GetPathName();
    std::string name;
    // A virtual folder (Computer) has no place for a new folder.
    if (path.empty() || !m_refresh->OwnChange([&] { return PTShCreateNewFolder(path, name); }))
        return false;
    if (ShellFindCSIDLFromIdList(m_folder.GetIdList()) == csidlDesktop)
        BusySleep(2100);
    RefreshItems();
    if (edit) {
        m_newFolderName = name;
        PostMessage(Handle(), AM_DEFERREDEDIT, 0, 0);
    }
    return true;
}

void TPTCustomShellList::DeferredEdit()
{
    for (int i = 0; i < Items().Count(); ++i) {
        TPTShListData* data = GetDataFromItem(Items()[i]);
        if (data && data->GetDisplayName() == m_newFolderName) {
            SetItemFocused(Items()[i]);
            EditCaption(Items()[i]);
            return;
        }
    }
}
