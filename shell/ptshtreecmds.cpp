// The shell tree's commands: the default keys, the shell's context menu of
// a node, rename in place and new folders.
#include "shell/ptshcombo.h"
#include "shell/ptshcontrols.h"
#include "shell/ptshguards_p.h"

#include "vcl/forms.h"

namespace {

using ptsh::ReleaseOnExit;

} // namespace

HWND TPTCustomShellTree::GetParentHWND() { return m_noUI > 0 ? 0 : GetTopFormHandle(this); }

HRESULT TPTCustomShellTree::DoCommandForNode(TTreeNode* node, const std::string& verb)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data || !node->Parent())
        return S_FALSE;
    HRESULT hr;
    {
        IShellFolder* parent = data->GetParentIShf();
        if (!parent)
            OleCheck(E_FAIL);
        LPCITEMIDLIST item = data->GetRelPidl();
        void* object = nullptr;
        OleCheck(parent->GetUIObjectOf(GetParentHWND(), 1, &item, IID_IContextMenu, nullptr, &object));
        ReleaseOnExit<IContextMenu> menu {static_cast<IContextMenu*>(object)};
        hr = InvokeContextMenuVerb(GetParentHWND(), menu.p, verb);
    }
    RefreshNodes();
    return hr;
}

void TPTCustomShellTree::KeyDown(WORD& key, TShiftState shift)
{
    TPTCustomTreeView::KeyDown(key, shift);
    if (key == 0 || !(m_options & ptstoDefaultKeyHandling) || IsEditing())
        return;
    const WORD code = ShortCutOf(key, shift);
    const TPTShellControlDefKeyRec* keys = PTShellDefaultKeys();
    const WORD given = key;
    key = 0;
    TTreeNode* node = Selected();
    PTRunCommand([&] {
        if (code == keys[ptdkEdit].ShortCut) {
            if (node)
                EditLabel(node);
        } else if (code == keys[ptdkRefresh].ShortCut) {
            RefreshNodes();
        } else if (code == keys[ptdkCut].ShortCut) {
            DoCommandForNode(node, "cut");
        } else if (code == keys[ptdkCopy].ShortCut) {
            DoCommandForNode(node, "copy");
        } else if (code == keys[ptdkPaste].ShortCut) {
            DoCommandForNode(node, "paste");
        } else if (code == keys[ptdkDelete].ShortCut || (code & ~0x2000) == keys[ptdkDelete].ShortCut) {
            // With Shift held the shell deletes for good (it reads the keyboard).
            DoCommandForNode(node, "delete");
        } else {
            key = given;
        }
    });
}

void TPTCustomShellTree::NodeContextMenu(TTreeNode* node, TPoint& pos, TPopupMenu*& menu)
{
    TPTCustomTreeView::NodeContextMenu(node, pos, menu);
    if (!(m_options & ptstoContextMenus) || !node)
        return;
    const TPoint at = pos;
    PTRunCommand([&] { ProcessMenu(node, at); });
    menu = nullptr;
}

void TPTCustomShellTree::ProcessMenu(TTreeNode* node, TPoint pos)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data)
        return;
    IShellFolder* parent = data->GetParentIShf();
    LPCITEMIDLIST absolute = data->GetAbsPidl();
    if (!parent || !absolute || IdListLen(absolute) <= 2)
        return;  // the desktop has no menu of its own
    LPCITEMIDLIST item = data->GetRelPidl();
    HMENU menu = nullptr;
    IContextMenu* contextMenu = nullptr;
    try {
        const UINT flags = CMF_EXPLORE | (ReadOnly ? 0 : CMF_CANRENAME);
        if (FAILED(ShellCreateContextMenu(GetParentHWND(), parent, 1, &item, PTSH_FIRST_COMMAND, flags, menu,
                contextMenu)) || !menu) {
            if (contextMenu)
                contextMenu->Release();
            return;
        }
    } catch (const EOleError&) {
        return;  // a menu that cannot be built shows nothing
    }
    BeginBusy();
    m_shownMenu = contextMenu;
    struct Finish {
        TPTCustomShellTree* tree;
        HMENU menu;
        ~Finish()
        {
            IContextMenu* shown = tree->m_shownMenu;
            tree->m_shownMenu = nullptr;
            shown->Release();
            DestroyMenu(menu);
            tree->EndBusy();
        }
    } finish {this, menu};
    const TPoint screen = ClientToScreen(pos);
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.X, screen.Y, 0, Handle(), nullptr));
    if (command == PTSH_FIRST_COMMAND + PTSH_RENAME_OFFSET) {
        EditLabel(node);
    } else if (command >= PTSH_FIRST_COMMAND) {
        InvokeContextMenuCommand(GetParentHWND(), contextMenu, command - PTSH_FIRST_COMMAND);
        RefreshNodes();
    } else if (command > 0) {
        ProcessSendTo(node, static_cast<int>(command) - 1);
    }
}

void TPTCustomShellTree::ProcessSendTo(TTreeNode* node, int index)
{
    const std::vector<TPTSendToEntry>* entries = PTSendToList();
    TComPtr<IDataObject> object = NodeDataObject(node);
    if (!entries || index < 0 || static_cast<size_t>(index) >= entries->size() || !object)
        return;
    SendToTarget((*entries)[static_cast<size_t>(index)].Name, object.Get());
}

bool TPTCustomShellTree::CanEdit(TTreeNode* node, std::string& text)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data)
        return TPTCustomTreeView::CanEdit(node, text);
    if (!data->GetEditable() || !TPTCustomTreeView::CanEdit(node, text))
        return false;
    text = ShellGetFriendlyNameFromIdList(data->GetParentIShf(), data->GetRelPidl(), ptfnForEditing);
    m_labelEdit.Began(text);
    return true;
}

void TPTCustomShellTree::EditEnded() { m_labelEdit.Ended(); }

void TPTCustomShellTree::FlushDescendants(TTreeNode* node)
{
    for (int i = 0; i < node->Count(); ++i) {
        if (TPTShTreeData* data = GetDataFromNode(node->Item(i)))
            data->Flush();
        FlushDescendants(node->Item(i));
    }
}

void TPTCustomShellTree::Edit(TTreeNode* node, const std::string& text)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data) {
        TPTCustomTreeView::Edit(node, text);
        return;
    }
    std::string name = PTTrimBlanks(text);
    if (OnEdited)
        OnEdited(this, node, name);
    IShellFolder* parent = data->GetParentIShf();
    if (!m_labelEdit.Changed(name) || !parent)
        return;
    TScreenCursorGuard hourGlass;
    ++m_updateLock;
    ptsh::OwnedList renamed;
    struct Unlock {
        int& lock;
        ~Unlock() { --lock; }
    } unlock {m_updateLock};
    if (FAILED(m_labelEdit.Rename(parent, GetParentHWND(), data->GetRelPidl(), name, renamed.p)))
        return;
    if (renamed.p) {
        FlushDescendants(node);
        node->SetText(ShellGetFriendlyNameFromIdList(parent, renamed.p, ptfnInFolder));
        data->SetRelPidl(renamed.p);
    } else {
        node->SetText(ShellGetFriendlyNameFromIdList(parent, data->GetRelPidl(), ptfnInFolder));
    }
    // A name that starts with a dot hides the folder, and one that no longer
    // does shows it: the node is dimmed or not as its new name says.
    ULONG attributes = SFGAO_HIDDEN;
    LPCITEMIDLIST item = data->GetRelPidl();
    if (SUCCEEDED(parent->GetAttributesOf(1, &item, &attributes)))
        node->Cut = attributes & SFGAO_HIDDEN;
    SortNode(node->Parent());
    // The linked list stays on the folder it shows, now under its new name.
    TTreeNode* selected = Selected();
    if (selected && selected->HasAsParent(node)) {
        m_selectedFolder.SetIdList(GetDataFromNode(selected)->GetAbsPidl());
        if (m_shellList)
            m_shellList->SetFolder(&m_selectedFolder);
        if (m_shellCombo)
            m_shellCombo->SetSelectedFolder(&m_selectedFolder);
    }
}

bool TPTCustomShellTree::CreateNewFolder(bool)
{
    const std::string path = GetSelectedPathName();
    std::string name;
    // A virtual folder (Computer) has no place for a new folder.
    if (path.empty() || !m_refresh->OwnChange([&] { return PTShCreateNewFolder(path, name); }))
        return false;
    TPTShTreeData* data = GetSelectedItem();
    const bool desktop = data && ShellFindCSIDLFromIdList(data->GetAbsPidl()) == csidlDesktop;
    BusySleep(desktop ? 2100 : 1000);
    RefreshNodes();
    TTreeNode* node = Selected();
    if (!node)
        return true;
    SetHasChildren(node, true);
    Expand(node, false);
    for (int i = 0; i < node->Count(); ++i)
        if (node->Item(i)->Text() == name) {
            EditLabel(node->Item(i));
            break;
        }
    return true;
}
