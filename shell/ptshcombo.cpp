#include "shell/ptshcombo.h"
#include "shell/ptshguards_p.h"

#include "vcl/forms.h"

#include <algorithm>

namespace {

using ptsh::OwnedList;
using ptsh::ReleaseOnExit;

// Attributes asked of the folders an entry is made for, and of the chain
// below an entry on the selected path.
constexpr ULONG kEntryAttributes = SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_FILESYSANCESTOR
    | SFGAO_HIDDEN | SFGAO_SHARE | SFGAO_LINK;
constexpr ULONG kChainAttributes = SFGAO_HASSUBFOLDER | SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HIDDEN
    | SFGAO_SHARE | SFGAO_LINK;

// Holds a combo's update lock for a scope.
struct TUpdateLock {
    explicit TUpdateLock(int& lock) : m_lock(lock) { ++m_lock; }
    ~TUpdateLock() { --m_lock; }
    TUpdateLock(const TUpdateLock&) = delete;
    TUpdateLock& operator=(const TUpdateLock&) = delete;
    int& m_lock;
};

// The folder a running sort compares in.
IShellFolder* g_sortFolder = nullptr;

ULONG AttributesOf(IShellFolder* folder, LPCITEMIDLIST item, ULONG mask)
{
    ULONG attributes = mask;
    return SUCCEEDED(folder->GetAttributesOf(1, &item, &attributes)) ? attributes : 0;
}

int OverlayOf(ULONG attributes)
{
    if (attributes & SFGAO_SHARE)
        return 0;
    return (attributes & SFGAO_LINK) ? 1 : -1;
}

bool SameItem(IShellFolder* folder, LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    const HRESULT hr = folder->CompareIDs(0, a, b);
    return SUCCEEDED(hr) && HRESULT_CODE_SHORT(hr) == 0;
}

} // namespace

void SortPidls(IShellFolder* folder, std::vector<LPITEMIDLIST>& lists)
{
    if (g_sortFolder)
        throw Exception("Recursive call to SortPidls");
    g_sortFolder = folder;
    struct End {
        ~End() { g_sortFolder = nullptr; }
    } end;
    std::stable_sort(lists.begin(), lists.end(), [](LPITEMIDLIST a, LPITEMIDLIST b) {
        const HRESULT hr = g_sortFolder->CompareIDs(0, a, b);
        return SUCCEEDED(hr) && HRESULT_CODE_SHORT(hr) < 0;
    });
}

TPTCustomShellCombo::TPTCustomShellCombo(TComponent* owner) : TPTCustomImageCombo(owner)
{
    SetImageList(ShellGetSystemImageList(ptsizSmall));
    m_selectedFolder.OnChange = [this](TObject*) { SelectedFolderChanged(); };
    // The first fill runs once the window is up.
    PostMessage(Handle(), AM_DEFERREDFILL, 0, 0);
}

TPTCustomShellCombo::~TPTCustomShellCombo()
{
    ++m_updateLock;
    ClearItems();
    if (m_shellTree)
        m_shellTree->SetShellCombo(nullptr);
    if (m_shellList)
        m_shellList->SetShellCombo(nullptr);
}

void TPTCustomShellCombo::WndProc(TMessage& message)
{
    if (message.Msg == AM_DEFERREDFILL) {
        if (!IsLoading() && (m_options & ptscoAutofill) && ItemCount() == 0)
            FillItems();
        return;
    }
    TPTCustomImageCombo::WndProc(message);
}

void TPTCustomShellCombo::Loaded()
{
    if (!(m_options & ptscoAutofill))
        return;
    TUpdateLock lock {m_updateLock};
    FillItems();
    if (m_shellTree) {
        m_shellTree->SetSelectedFolder(&m_selectedFolder);
        m_shellTree->RefreshNodes();
    } else if (m_shellList) {
        m_shellList->SetFolder(&m_selectedFolder);
    }
}

TPTShComboData* TPTCustomShellCombo::GetShComboData(int index) const
{
    TPTImageComboItem* item = GetImageComboItem(index);
    return item ? static_cast<TPTShComboData*>(item->Data) : nullptr;
}

namespace {
// Links the combo to a control of one kind in its slot, unless a control of
// the other kind is linked: the previous one is unlinked on both sides.
template <class Control>
void Link(TPTCustomShellCombo* combo, Control*& slot, Control* control, bool otherLinked)
{
    if (control == slot || (control && otherLinked))
        return;
    if (slot)
        slot->SetShellCombo(nullptr);
    slot = control;
    if (control)
        control->SetShellCombo(combo);
}
} // namespace

void TPTCustomShellCombo::SetShellTree(TPTCustomShellTree* tree) { Link(this, m_shellTree, tree, m_shellList); }

void TPTCustomShellCombo::SetShellList(TPTCustomShellList* list) { Link(this, m_shellList, list, m_shellTree); }

void TPTCustomShellCombo::TreeChanged(TTreeNode* node)
{
    if (!m_shellTree || !node)
        return;
    if (TPTShTreeData* data = m_shellTree->GetDataFromNode(node))
        m_selectedFolder.SetIdList(data->GetAbsPidl());
}

void TPTCustomShellCombo::Synchronize(bool alsoLinked)
{
    if (!alsoLinked)
        return;
    if (m_shellTree)
        m_shellTree->Synchronize(false);
    if (m_shellList)
        m_shellList->Synchronize(false);
}

void TPTCustomShellCombo::SelectedFolderChanged()
{
    if (m_updateLock > 0)
        return;
    TUpdateLock lock {m_updateLock};
    if (m_shellTree)
        m_shellTree->SetSelectedFolder(&m_selectedFolder);
    else if (m_shellList)
        m_shellList->SetFolder(&m_selectedFolder);
    FillItems();
}

void TPTCustomShellCombo::FillItems()
{
    TUpdateLock lock {m_updateLock};
    BeginUpdate();
    struct EndItemsUpdate {
        TPTCustomShellCombo& combo;
        ~EndItemsUpdate() { combo.EndUpdate(); }
    } endUpdate {*this};
    SetItemIndex(-1);
    ClearItems();
    TPTIdListArray levels(m_selectedFolder.GetIdList());
    ReleaseOnExit<IShellFolder> desktop;
    OleCheck(ShellGetDesktopFolder(desktop.p));
    FillCombo(desktop.p, nullptr, &levels, -1);
    if (ItemIndex() < 0 && ItemCount() > 0)
        SetItemIndex(0);
}

bool TPTCustomShellCombo::CanAdd(IShellFolder*, LPCITEMIDLIST, int, ULONG, LPCITEMIDLIST) { return true; }

TPTImageComboItem* TPTCustomShellCombo::AddEntry(const std::string& caption, int image, int indent,
    IShellFolder* folder, LPCITEMIDLIST parentList, LPCITEMIDLIST item, ULONG attributes)
{
    auto data = std::make_unique<TPTShComboData>(this);
    data->SetData(folder, parentList, item);
    TPTImageComboItem* entry = AddItem(caption, image, indent);
    entry->Data = data.release();
    entry->SetOverlayIndex(OverlayOf(attributes));
    return entry;
}

void TPTCustomShellCombo::FillCombo(IShellFolder* folder, LPCITEMIDLIST folderList, TPTIdListArray* levels, int level)
{
    OwnedList computer;
    OleCheck(ShellGetSpecialFolderIdList(GetTopFormHandle(this), csidlDrives, computer.p));
    OwnedList parentList;
    if (level < 0) {
        static const BYTE empty[2] = {0, 0};
        const auto* desktopList = reinterpret_cast<LPCITEMIDLIST>(empty);
        AddEntry(ShellGetFriendlyNameFromIdList(folder, desktopList, ptfnNormal),
            ShellGetIconIndex(desktopList, SHGFI_SMALLICON), 0, folder, nullptr, nullptr, 0);
        level = 1;
    } else {
        parentList.p = CopyIdList(nullptr, folderList);
    }

    ReleaseOnExit<IEnumIDList> enumerator;
    const HRESULT started = folder->EnumObjects(GetTopFormHandle(this), SHCONTF_FOLDERS, &enumerator.p);
    if (FAILED(started) || !enumerator.p)
        OleCheck(FAILED(started) ? started : E_FAIL);
    std::vector<LPITEMIDLIST> items;
    struct FreeAll {
        std::vector<LPITEMIDLIST>& lists;
        ~FreeAll()
        {
            for (LPITEMIDLIST l : lists)
                ShellMemFree(l);
        }
    } freeAll {items};
    for (;;) {
        LPITEMIDLIST item = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = enumerator.p->Next(1, &item, &fetched);
        OleCheck(hr);
        if (hr != S_OK || fetched == 0)
            break;
        items.push_back(item);
    }
    SortPidls(folder, items);

    for (LPITEMIDLIST item : items) {
        const ULONG attributes = AttributesOf(folder, item, kEntryAttributes);
        const bool fileSystem = attributes & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR);
        if (!((m_options & ptscoNonFilesystemAncestors) || fileSystem)
            || !CanAdd(folder, parentList.p, level, attributes, item))
            continue;
        const bool onPath = levels && levels->GetCount() >= level && SameItem(folder, item, levels->GetItem(level - 1));
        const bool selected = onPath && level == levels->GetCount();
        OwnedList absolute {ConcatIdLists(nullptr, parentList.p, item)};
        TPTImageComboItem* entry = selected
            ? AddEntry(ShellGetFriendlyNameFromIdList(folder, item, ptfnInFolder),
                  ShellGetIconIndex(absolute.p, SHGFI_SMALLICON | SHGFI_OPENICON), level, folder, parentList.p, item,
                  attributes)
            : AddEntry(std::string(), -1, level, folder, parentList.p, item, attributes);
        auto* data = static_cast<TPTShComboData*>(entry->Data);
        const bool isComputer = level == 1 && CompareAbsIdLists(absolute.p, computer.p) == 0;
        if (selected)
            SetItemIndex(entry->Index());
        else if (onPath && !isComputer)
            AddChain(data, *levels, level);
        // Computer always opens below its entry, carrying the path on when
        // it lies below Computer.
        if (isComputer)
            FillCombo(data->GetThisIShf(), data->GetAbsIdList(), onPath && !selected ? levels : nullptr, 2);
        if (onPath)
            levels = nullptr;
    }
}

void TPTCustomShellCombo::AddChain(TPTShComboData* parent, TPTIdListArray& levels, int level)
{
    IShellFolder* folder = parent->GetThisIShf();
    OwnedList parentList {CopyIdList(nullptr, parent->GetAbsIdList())};
    TPTImageComboItem* last = nullptr;
    const int count = levels.GetCount();
    for (int position = level; position < count; ++position) {
        OwnedList item {CopyIdList(nullptr, levels.GetItem(position))};
        const ULONG attributes = AttributesOf(folder, item.p, kChainAttributes);
        const bool deepest = position == count - 1;
        OwnedList absolute {ConcatIdLists(nullptr, parentList.p, item.p)};
        last = deepest
            ? AddEntry(ShellGetItemDisplayName(folder, item.p, SHGDN_INFOLDER | SHGDN_FORADDRESSBAR),
                  ShellGetIconIndex(absolute.p, SHGFI_SMALLICON | SHGFI_OPENICON), position + 1, folder,
                  parentList.p, item.p, attributes)
            : AddEntry(std::string(), -1, position + 1, folder, parentList.p, item.p, attributes);
        if (deepest)
            break;
        auto* data = static_cast<TPTShComboData*>(last->Data);
        folder = data->GetThisIShf();
        ShellMemFree(parentList.p);
        parentList.p = CopyIdList(nullptr, data->GetAbsIdList());
    }
    if (last)
        SetItemIndex(last->Index());
}

void TPTCustomShellCombo::GetItemData(TPTImageComboItem* item)
{
    TPTCustomImageCombo::GetItemData(item);
    auto* data = static_cast<TPTShComboData*>(item->Data);
    if (!data)
        return;
    if (item->Caption().empty() && data->GetParentIShf())
        item->SetCaption(ShellGetFriendlyNameFromIdList(data->GetParentIShf(), data->GetRelIdList(), ptfnInFolder));
    if (item->ImageIndex() == -1)
        item->SetImageIndex(ShellGetIconIndex(data->GetAbsIdList(), SHGFI_SMALLICON));
}

void TPTCustomShellCombo::DeleteItem(void* data)
{
    auto* item = static_cast<TPTImageComboItem*>(data);
    if (OnDeleteItem)
        OnDeleteItem(this, item);
    delete static_cast<TPTShComboData*>(item->Data);
    delete item;
}

void TPTCustomShellCombo::SelEndOk()
{
    TPTCustomImageCombo::SelEndOk();
    if (TPTShComboData* data = GetShComboData(ItemIndex()))
        m_selectedFolder.SetIdList(data->GetAbsIdList());
}

void TPTCustomShellCombo::GoUp(int levels)
{
    const int selected = ItemIndex();
    if (selected < 0)
        return;
    const int threshold = GetImageComboItem(selected)->Indent() - levels + 1;
    int position = selected;
    while (position > 0 && GetImageComboItem(position)->Indent() >= threshold)
        --position;
    if (position != selected)
        m_selectedFolder.SetIdList(GetShComboData(position)->GetAbsIdList());
}

void TPTCustomShellCombo::DropDown()
{
    if (AutoDropDownCount && Screen) {
        const int y = ClientToScreen(Point(0, Top() + Height())).Y;
        // An item height of 0 (rows that take no room) counts as 1.
        SetDropDownCount((Screen->Height() - y - 1) / std::max(1, ItemHeight()));
    }
    TPTCustomImageCombo::DropDown();
}
