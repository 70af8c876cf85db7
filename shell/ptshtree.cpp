#include "shell/ptshcombo.h"
#include "shell/ptshcontrols.h"
#include "shell/ptshguards_p.h"

#include "vcl/forms.h"

namespace {

using ptsh::OwnedList;
using ptsh::ReleaseOnExit;

constexpr ULONG kTreeAttributes = 0xF20B0000;

// The order of CompareIDs: the low 16 bits as a signed value; failures are equal.
int CompareOrder(IShellFolder* folder, int column, LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    if (!folder || !a || !b)
        return 0;
    const HRESULT hr = folder->CompareIDs(column, a, b);
    return FAILED(hr) ? 0 : HRESULT_CODE_SHORT(hr);
}

} // namespace

TPTCustomShellTree::TPTCustomShellTree(TComponent* owner)
    : TPTCustomTreeView(owner), m_keyTimer(std::make_unique<TTimer>(nullptr)),
      m_refresh(std::make_unique<TPTShellRefresh>([this] { RefreshNodes(); }, [this] { RefreshNodes(); }))
{
    m_keyTimer->SetEnabled(false);
    m_keyTimer->OnTimer = [this](TObject*) { KeyTimerElapsed(); };
    m_baseFolder.OnChange = [this](TObject*) { BaseFolderChanged(); };
    m_selectedFolder.OnChange = [this](TObject*) { SelectedFolderChanged(); };
    SetShowRoot(false);
    Images = ShellGetSystemImageList(ptsizSmall);
    PTDeviceChangeHandler()->Add(PTDeviceChangeMethod<TPTCustomShellTree, &TPTCustomShellTree::DeviceChangeDetected>(this));
    // The first fill runs once the window is up.
    PostMessage(Handle(), AM_DEFERREDFILL, 0, 0);
    m_drop.SetActive(m_options & ptstoOleDrop, Handle());
}

TPTCustomShellTree::~TPTCustomShellTree()
{
    PTDeviceChangeHandler()->Remove(PTDeviceChangeMethod<TPTCustomShellTree, &TPTCustomShellTree::DeviceChangeDetected>(this));
    m_changeThread.reset();
    ++m_updateLock;
    m_silentSelect = true;
    m_dragNode = nullptr;
    ClearNodes();
    if (m_shellList)
        m_shellList->SetShellTree(nullptr);
    if (m_shellCombo)
        m_shellCombo->SetShellTree(nullptr);
}

DWORD TPTCustomShellTree::EnumFlags() const
{
    DWORD flags = SHCONTF_FOLDERS;
    if (m_options & ptstoShowHidden)
        flags |= SHCONTF_INCLUDEHIDDEN;
    if (m_options & ptstoIncludeNonFolders)
        flags |= SHCONTF_NONFOLDERS;
    return flags;
}

void TPTCustomShellTree::SetOptions(TPTShellTreeOptions options)
{
    const TPTShellTreeOptions old = m_options;
    m_options = options;
    if ((old ^ options) & ptstoOleDrop)
        m_drop.SetActive(options & ptstoOleDrop, Handle());
    if ((old ^ options) & ptstoDynamicRefresh) {
        if (options & ptstoDynamicRefresh)
            InstallChangeHandlersForAllLocalDrives();
        else if (m_changeThread)
            m_changeThread->RemoveAll();
    }
}

TPTShTreeData* TPTCustomShellTree::GetDataFromNode(TTreeNode* node) const
{
    return node ? static_cast<TPTShTreeData*>(node->Data) : nullptr;
}

TPTShTreeData* TPTCustomShellTree::GetSelectedItem() { return GetDataFromNode(Selected()); }

TTreeNode* TPTCustomShellTree::GetFirstRootLevelShellNode() const
{
    for (int i = 0; i < RootCount(); ++i)
        if (Root(i)->Data)
            return Root(i);
    return nullptr;
}

TTreeNode* TPTCustomShellTree::FindNodeWithIdList(TTreeNode* parent, LPCITEMIDLIST relativeList)
{
    if (!parent)
        return GetFirstRootLevelShellNode();
    for (int i = 0; i < parent->Count(); ++i) {
        TTreeNode* child = parent->Item(i);
        TPTShTreeData* data = GetDataFromNode(child);
        if (!data)
            continue;
        IShellFolder* folder = data->GetParentIShf();
        if (folder && folder->CompareIDs(0, data->GetRelPidl(), relativeList) == 0)
            return child;
    }
    return nullptr;
}

void TPTCustomShellTree::SortNode(TTreeNode* node)
{
    auto compare = [this](TTreeNode* a, TTreeNode* b) {
        TPTShTreeData* da = GetDataFromNode(a);
        TPTShTreeData* db = GetDataFromNode(b);
        if (!da || !db)
            return 0;
        return CompareOrder(da->GetParentIShf(), 0, da->GetRelPidl(), db->GetRelPidl());
    };
    SortChildren(node, compare, node == nullptr);
}

// ---- filling ----

void TPTCustomShellTree::FillItems()
{
    if (m_refresh->Defer())
        return;
    TScreenCursorGuard hourGlass;
    ++m_updateLock;
    try {
        SetSelected(nullptr);
        ClearNodes();
    } catch (...) {
        --m_updateLock;
        throw;
    }
    --m_updateLock;
    ReleaseOnExit<IShellFolder> folder;
    LPCITEMIDLIST base = m_baseFolder.GetIdList();
    OleCheck(base ? ShellGetFolderFromIdList(base, folder.p) : ShellGetDesktopFolder(folder.p));
    try {
        FillTree(folder.p, nullptr);
    } catch (const EAbort&) {
    }
    if (m_selectedFolder.GetIdList())
        DoSetSelectedIdList(m_selectedFolder.GetIdList());
    else if (GetFirstNode()) {
        m_immediateUpdate = true;
        SetSelected(GetFirstNode());
    }
    Synchronize(false);
    if (m_options & ptstoDynamicRefresh)
        InstallChangeHandlersForAllLocalDrives();
}

void TPTCustomShellTree::FillTree(IShellFolder* folder, TTreeNode* node)
{
    FillStart();
    struct Complete {
        TPTCustomShellTree* tree;
        ~Complete() { tree->FillComplete(); }
    } complete {this};
    LPCITEMIDLIST parentAbs = nullptr;
    const bool createRoot = node == nullptr;
    if (node) {
        parentAbs = GetDataFromNode(node)->GetAbsPidl();
    } else {
        LPCITEMIDLIST base = m_baseFolder.GetIdList();
        std::string text = base ? ShellGetFriendlyNameForLastIdListElement(base) : std::string();
        if (text.empty()) {
            IShellFolder* desktop = nullptr;
            if (SUCCEEDED(ShellGetDesktopFolder(desktop)) && desktop) {
                static const BYTE empty[2] = {0, 0};
                text = ShellGetFriendlyNameFromIdList(desktop, reinterpret_cast<LPCITEMIDLIST>(empty), ptfnNormal);
                desktop->Release();
            }
        }
        node = AddChild(nullptr, text);
        auto* data = new TPTShTreeData(this);
        data->SetData(nullptr, base);
        folder->AddRef();
        data->SetThisIShf(folder);
        node->Data = data;
        node->ImageIndex = ShellGetIconIndex(base, SHGFI_SMALLICON);
        node->SelectedIndex = ShellGetIconIndex(base, SHGFI_SMALLICON | SHGFI_OPENICON);
        DoOnInsertItem(node);
        parentAbs = data->GetAbsPidl();
    }
    ReleaseOnExit<IEnumIDList> items;
    if (FAILED(folder->EnumObjects(GetParentHWND(), EnumFlags(), &items.p)) || !items.p) {
        // The node keeps its button: an empty drive can be opened again later.
        SetHasChildren(node, true);
        throw EAbort("");
    }
    HRESULT hr;
    for (;;) {
        OwnedList item;
        ULONG fetched = 0;
        hr = items.p->Next(1, &item.p, &fetched);
        if (hr != S_OK)
            break;
        // One item that cannot be read does not end the whole folder.
        (void)AddNewShellNode(folder, parentAbs, item.p, node);
    }
    SetHasChildren(node, node->Count() > 0);
    if (hr == E_FAIL)
        throw EAbort("");
    if (hr != S_FALSE)
        OleCheck(hr);
    SortNode(node);
    if (createRoot)
        Expand(node, false);
}

HRESULT TPTCustomShellTree::AddNewShellNode(IShellFolder* folder, LPCITEMIDLIST parentAbsList, LPCITEMIDLIST item,
    TTreeNode* parentNode)
{
    if (!item)
        return S_OK;
    ULONG attrs = kTreeAttributes;
    if (VersionHigh(SHELL32_VER) >= 0x00060000)
        attrs |= SFGAO_STREAM;
    const HRESULT hr = folder->GetAttributesOf(1, &item, &attrs);
    if (FAILED(hr))
        return hr;
    if (!(m_options & ptstoVirtualFolders) && !(attrs & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR)))
        return S_OK;
    if (!CanAdd(folder, parentAbsList, item, attrs))
        return S_OK;
    TTreeNode* node = AddChild(parentNode, ShellGetFriendlyNameFromIdList(folder, item, ptfnInFolder));
    const bool children = (m_options & ptstoIncludeNonFolders)
        ? (attrs & (SFGAO_HASSUBFOLDER | SFGAO_FOLDER)) != 0
        : (attrs & SFGAO_HASSUBFOLDER) && (attrs & SFGAO_FOLDER);
    SetHasChildren(node, children);
    node->OverlayIndex = (attrs & SFGAO_SHARE) ? 0 : (attrs & SFGAO_LINK) ? 1 : -1;
    node->Cut = attrs & SFGAO_HIDDEN;
    node->ImageIndex = 0;
    node->SelectedIndex = 0;
    auto* data = new TPTShTreeData(this);
    data->SetData(GetDataFromNode(parentNode), item);
    node->Data = data;
    DoOnInsertItem(node);
    return S_OK;
}

bool TPTCustomShellTree::CanAdd(IShellFolder* folder, LPCITEMIDLIST parentAbsList, LPCITEMIDLIST item, ULONG attributes)
{
    bool allow = true;
    if (OnAddItem)
        OnAddItem(this, folder, parentAbsList, item, attributes, allow);
    return allow;
}

void TPTCustomShellTree::DoOnInsertItem(TTreeNode* node)
{
    m_lastInserted = node;
    if (OnInsertItem)
        OnInsertItem(this, node);
}

void TPTCustomShellTree::FillStart()
{
    if (OnFillStart)
        OnFillStart(this);
}

void TPTCustomShellTree::FillComplete()
{
    if (OnFillComplete)
        OnFillComplete(this);
}

void TPTCustomShellTree::GetImageIndex(TTreeNode* node)
{
    if (node->ImageIndex == 0)
        if (TPTShTreeData* data = GetDataFromNode(node))
            node->ImageIndex = ShellGetIconIndex(data->GetAbsPidl(), SHGFI_SMALLICON);
    TPTCustomTreeView::GetImageIndex(node);
}

void TPTCustomShellTree::GetSelectedIndex(TTreeNode* node)
{
    if (node->SelectedIndex == 0)
        if (TPTShTreeData* data = GetDataFromNode(node))
            node->SelectedIndex = ShellGetIconIndex(data->GetAbsPidl(), SHGFI_SMALLICON | SHGFI_OPENICON);
    TPTCustomTreeView::GetSelectedIndex(node);
}

// ---- expansion ----

bool TPTCustomShellTree::CanExpand(TTreeNode* node)
{
    if (m_expansionRefused)
        return false;
    if (!TPTCustomTreeView::CanExpand(node))
        return false;
    ExpandNode(node);
    return true;
}

void TPTCustomShellTree::ExpandNode(TTreeNode* node)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (node->Count() > 0 || !node->HasChildren() || !data)
        return;
    TScreenCursorGuard hourGlass;
    IShellFolder* folder = data->GetThisIShf();
    if (!folder)
        return;
    try {
        FillTree(folder, node);
    } catch (const EAbort&) {
    }
}

// ---- selection ----

void TPTCustomShellTree::SetSelectedPathName(const std::string& path)
{
    if (m_updateLock > 0)
        return;
    m_selectedFolder.SetPathName(path);
}

std::string TPTCustomShellTree::GetSelectedPathName()
{
    TPTShTreeData* data = GetSelectedItem();
    return data ? data->GetPathName() : std::string();
}

void TPTCustomShellTree::SelectedFolderChanged()
{
    if (m_updateLock > 0)
        return;
    if (GetFirstNode())
        DoSetSelectedIdList(m_selectedFolder.GetIdList());
}

void TPTCustomShellTree::BaseFolderChanged()
{
    ++m_updateLock;
    m_selectedFolder.Clear();
    --m_updateLock;
    if (m_options & ptstoAutoFill) {
        m_immediateUpdate = true;
        FillItems();
    }
}

void TPTCustomShellTree::SetSelectedFolder(const TPTShellLocator* locator)
{
    if (m_updateLock == 0) {
        m_selectedFolder.Assign(locator);
        return;
    }
    if (m_shellList)
        m_shellList->SetFolder(&m_selectedFolder);
}

void TPTCustomShellTree::SetBaseFolder(const TPTShellLocator* locator) { m_baseFolder.Assign(locator); }

void TPTCustomShellTree::SetShellList(TPTCustomShellList* list)
{
    if (list == m_shellList)
        return;
    if (m_shellList)
        m_shellList->SetShellTree(nullptr);
    m_shellList = list;
    if (list) {
        list->SetShellTree(this);
        list->SetFolder(&m_selectedFolder);
    }
}

void TPTCustomShellTree::DoSetSelectedIdList(LPCITEMIDLIST absoluteList)
{
    if (m_updateLock > 0)
        return;
    m_immediateUpdate = true;
    TPTIdListArray baseLevels(m_baseFolder.GetIdList());
    TPTIdListArray target(absoluteList);
    const int depth = target.GetCount();
    const int baseDepth = baseLevels.GetCount();
    BeginUpdate();
    struct End {
        TPTCustomShellTree* tree;
        ~End()
        {
            tree->EndUpdate();
            tree->MakeVisible(tree->Selected());
        }
    } end {this};
    TTreeNode* root = GetFirstRootLevelShellNode();
    if (!root)
        return;
    if (depth == 0) {
        SetSelected(root);
        return;
    }
    if (depth <= baseDepth) {
        SetSelected(root);
        Expand(root, false);
        return;
    }
    Expand(root, false);
    TTreeNode* current = root;
    for (int level = baseDepth; level < depth; ++level) {
        LPITEMIDLIST rel = CopyIdList(nullptr, target.GetItem(level));
        OwnedList owned {rel};
        TTreeNode* child = FindNodeWithIdList(current, rel);
        if (!child) {
            // A folder the tree does not list (a hidden one): add it.
            TPTShTreeData* data = GetDataFromNode(current);
            IShellFolder* folder = data ? data->GetThisIShf() : nullptr;
            TTreeNode* before = m_lastInserted;
            const HRESULT hr =
                folder ? AddNewShellNode(folder, data->GetAbsPidl(), rel, current) : E_FAIL;
            if (FAILED(hr) || m_lastInserted == before)
                break;
            child = m_lastInserted;
        }
        const bool last = level == depth - 1;
        if (!last || (m_shellList && (m_shellList->Options() & ptsloHideFoldersWhenLinkedToTree)))
            Expand(child, false);
        current = child;
    }
    if (Selected() == current) {
        // Already the selected node: the linked list still shows the target.
        UpdateLinked(current);
        return;
    }
    SetSelected(current);
}

void TPTCustomShellTree::UpdateLinked(TTreeNode* node)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data)
        return;
    ++m_updateLock;
    try {
        m_selectedFolder.SetIdList(data->GetAbsPidl());
        if (m_shellList)
            m_shellList->TreeChanged(node);
        if (m_shellCombo)
            m_shellCombo->TreeChanged(node);
    } catch (...) {
        --m_updateLock;
        m_immediateUpdate = false;
        throw;
    }
    --m_updateLock;
    m_immediateUpdate = false;
}

void TPTCustomShellTree::Change(TTreeNode* node)
{
    if (m_updateLock > 0) {
        if (TPTShTreeData* data = GetDataFromNode(node))
            m_selectedFolder.SetIdList(data->GetAbsPidl());
        return;
    }
    TPTCustomTreeView::Change(node);
    if (!GetDataFromNode(node))
        return;
    if (m_immediateUpdate || !m_shellList) {
        m_keyTimer->SetEnabled(false);
        UpdateLinked(node);
        return;
    }
    m_keyTimer->SetEnabled(false);
    m_keyTimer->SetInterval(static_cast<unsigned>(PTSH_TREE_KEY_UPDATE_DELAY));
    m_keyTimer->SetEnabled(true);
}

// A click reaches the list at once only for the selection it makes.
void TPTCustomShellTree::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    m_immediateUpdate = false;
    TPTCustomTreeView::MouseUp(button, shift, x, y);
}

void TPTCustomShellTree::KeyTimerElapsed()
{
    m_keyTimer->SetEnabled(false);
    if (TTreeNode* node = Selected())
        UpdateLinked(node);
}

void TPTCustomShellTree::GoUp(int levels)
{
    TTreeNode* node = Selected();
    if (!node || !node->Parent())
        return;
    for (int i = 0; i < levels && node->Parent(); ++i)
        node = node->Parent();
    m_immediateUpdate = true;
    SetSelected(node);
}

void TPTCustomShellTree::Synchronize(bool alsoLinked)
{
    if (alsoLinked && m_shellList)
        m_shellList->Synchronize(false);
    if (alsoLinked && m_shellCombo)
        m_shellCombo->Synchronize(false);
    if (m_keyTimer->Enabled())
        KeyTimerElapsed();
}

void TPTCustomShellTree::WndProc(TMessage& message)
{
    switch (message.Msg) {
    case AM_CHANGENOTIFY:
        ChangeNotified();
        return;
    case AM_DEFERREDFILL:
        if (!GetFirstNode() && (m_options & ptstoAutoFill))
            FillItems();
        return;
    case CN_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(message.LParam);
        if (hdr->code == NM_CLICK)
            m_immediateUpdate = true;
        if ((hdr->code == TVN_BEGINDRAG || hdr->code == TVN_BEGINRDRAG) && (m_options & ptstoOleDrag)) {
            const TPoint pt = reinterpret_cast<const NMMOUSE_PT*>(message.LParam)->pt;
            OleBeginDrag(GetNodeAt(pt.X, pt.Y), hdr->code == TVN_BEGINDRAG ? 0 : 1);
            return;
        }
        break;
    }
    case WM_INITMENUPOPUP:
        TPTCustomTreeView::WndProc(message);
        HandleMenuInitPopup(message, m_shownMenu);
        return;
    case WM_MENUSELECT:
        TPTCustomTreeView::WndProc(message);
        HandleMenuSelect(message, m_shownMenu, this, OnPopupHint);
        return;
    case WM_DRAWITEM:
        TPTCustomTreeView::WndProc(message);
        HandleMenuDrawItem(message, m_shownMenu, ShellGetSystemImageList(ptsizSmall));
        return;
    case WM_MEASUREITEM:
        TPTCustomTreeView::WndProc(message);
        HandleMenuMeasureItem(message, m_shownMenu);
        return;
    case WM_MENUCHAR:
        TPTCustomTreeView::WndProc(message);
        HandleMenuChar(message, m_shownMenu);
        return;
    default:
        break;
    }
    TPTCustomTreeView::WndProc(message);
}

// ---- change notifications and refresh ----

void TPTCustomShellTree::ChangeNotified() { m_refresh->Notified(Focused()); }

void TPTCustomShellTree::InstallChangeHandlersForAllLocalDrives()
{
    if (!m_changeThread)
        m_changeThread = std::make_unique<TChangeHandlerThread>(Handle(), AM_CHANGENOTIFY);
    m_changeThread->RemoveAll();
    // One subtree watch on the file system's root: it covers every folder the
    // tree has loaded, which are the folders it shows.
    DWORD filter = FILE_NOTIFY_CHANGE_DIR_NAME;
    if (m_options & ptstoIncludeNonFolders)
        filter |= FILE_NOTIFY_CHANGE_FILE_NAME;
    int slot = 0;
    m_changeThread->AddChangeNotification("/", filter, slot, true);
}

void TPTCustomShellTree::RefreshNodes()
{
    if (m_refresh->Defer())
        return;
    if (!GetFirstNode()) {
        FillItems();
        return;
    }
    TScreenCursorGuard hourGlass;
    FillStart();
    ++m_updateLock;
    // The rows stay where the user sees them: a refresh comes from changes
    // made elsewhere, not from anything done in the tree.
    KeepScrollPosition();
    TTreeNode* remembered = Selected();
    m_silentSelect = true;
    SetSelected(nullptr);
    m_silentSelect = false;
    struct Finish {
        TPTCustomShellTree* tree;
        TTreeNode*& remembered;
        ~Finish()
        {
            --tree->m_updateLock;
            if (remembered) {
                tree->m_immediateUpdate = true;
                try {
                    tree->SetSelected(remembered);
                } catch (...) {
                }
            }
            tree->RestoreScrollPosition();
            tree->FillComplete();
        }
    } finish {this, remembered};
    BeginUpdate();
    try {
        RefreshNode(GetFirstRootLevelShellNode(), remembered);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TPTCustomShellTree::RefreshNode(TTreeNode* node, TTreeNode*& remembered)
{
    if (!node)
        return;
    TPTShTreeData* data = GetDataFromNode(node);
    if (!data || (node->HasChildren() && node->Count() == 0))
        return;
    IShellFolder* folder = data->GetThisIShf();
    if (!folder)
        return;
    TPTPidlList current;
    current.ShellFolder = folder;
    for (int i = 0; i < node->Count(); ++i)
        if (TPTShTreeData* d = GetDataFromNode(node->Item(i)))
            current.AddObject(const_cast<LPITEMIDLIST>(d->GetRelPidl()), node->Item(i));
    current.Sort();
    TPTPidlList found;
    found.Malloc = ShellIMalloc();
    ReleaseOnExit<IEnumIDList> items;
    bool complete = false;
    if (SUCCEEDED(folder->EnumObjects(0, EnumFlags(), &items.p)) && items.p) {
        HRESULT hr;
        for (;;) {
            LPITEMIDLIST item = nullptr;
            ULONG fetched = 0;
            hr = items.p->Next(1, &item, &fetched);
            if (hr != S_OK)
                break;
            found.Add(item);
        }
        complete = hr == S_FALSE;
    }
    // An enumeration that cannot start or breaks off says nothing about what
    // vanished: the node keeps its children.
    if (complete) {
        for (int i = found.GetCount() - 1; i >= 0; --i) {
            int at = 0;
            current.SetSorted(true);
            if (current.BinarySearch(found.GetPIDL(i), at)) {
                current.Delete(at);
                found.Delete(i);
            }
        }
        for (int i = current.GetCount() - 1; i >= 0; --i) {
            auto* child = static_cast<TTreeNode*>(current.GetObject(i));
            if (remembered && remembered->HasAsParent(child))
                remembered = child->Parent();
            DeleteNode(child);
        }
        bool added = false;
        for (int i = 0; i < found.GetCount(); ++i) {
            const int before = node->Count();
            (void)AddNewShellNode(folder, data->GetAbsPidl(), found.GetPIDL(i), node);
            added = added || node->Count() > before;
        }
        if (added) {
            SetHasChildren(node, true);
            SortNode(node);
        }
    }
    for (int i = 0; i < node->Count(); ++i)
        RefreshNode(node->Item(i), remembered);
}

void TPTCustomShellTree::DeviceChangeDetected(TPTDeviceChangeHandler*, TMessage& message)
{
    if (message.WParam != 0x8000 && message.WParam != 0x8004)
        return;
    FlushDriveInfoCache();
    LockFlushDriveInfoCache();
    try {
        RefreshNodes();
    } catch (...) {
        UnlockFlushDriveInfoCache();
        throw;
    }
    UnlockFlushDriveInfoCache();
}

void TPTCustomShellTree::Delete(TTreeNode* node)
{
    TPTShTreeData* data = GetDataFromNode(node);
    if (data && OnDeleteItem)
        OnDeleteItem(this, node, data);
    if (m_lastInserted == node)
        m_lastInserted = nullptr;
    if (m_dragNode == node)
        m_dragNode = nullptr;
    node->Data = nullptr;
    delete data;
    TPTCustomTreeView::Delete(node);
}

// ---- custom draw ----

TPTCustomDraw* TPTCustomShellTree::PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result)
{
    auto cd = CreateCustomDraw(notification, result);
    TTreeNode* node =
        (notification->dwDrawStage & CDDS_ITEM) ? reinterpret_cast<TTreeNode*>(notification->dwItemSpec) : nullptr;
    PTCustomDrawSh(cd.get(), node, GetDataFromNode(node));
    cd->Apply();
    if (notification->dwDrawStage & CDDS_PREPAINT)
        *result |= CDRF_NOTIFYITEMDRAW;
    m_lastCustomDraw = std::move(cd);
    return m_lastCustomDraw.get();
}

void TPTCustomShellTree::PTCustomDrawSh(TPTCustomDraw* cd, TTreeNode* node, TPTShTreeData* data)
{
    if (OnCustomDrawShEx)
        OnCustomDrawShEx(this, cd, node, data);
    if (OnCustomDrawSh && cd->GetDrawStage() == ptcdsItemPrePaint)
        OnCustomDrawSh(this, cd, node, data);
}
