#include "shell/ptshcombo.h"
#include "shell/ptshcontrols.h"
#include "shell/ptshguards_p.h"

#include "shell/ptshconsts.h"

#include "vcl/forms.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>
#include <utility>

namespace {

using ptsh::OwnedList;
using ptsh::ReleaseOnExit;

constexpr ULONG kListAttributes = 0x720B0000;

// The column widths the user gave the last file-system folder, for the next
// one shown in this run.
std::vector<int>& SharedColumnWidths()
{
    static std::vector<int> widths;
    return widths;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool Wild(const char* n, const char* m)
{
    // Iterative '*' matching with one backtrack point.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n) {
        if (*m == '*') {
            star = m++;
            resume = n;
        } else if (*m && (*m == '?' || Upper(*m) == Upper(*n))) {
            ++m;
            ++n;
        } else if (star) {
            m = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*m == '*')
        ++m;
    return *m == 0;
}

} // namespace

bool PTMatchesMask(const std::string& name, const std::string& mask)
{
    if (mask.empty() || mask.find('/') != std::string::npos)
        return false;
    if (mask == "*" || mask == "*.*")
        return true;
    // "name." stands for the name without an extension.
    if (mask.size() > 1 && mask.back() == '.' && mask.find_first_of("*?") != std::string::npos) {
        if (name.find('.') != std::string::npos)
            return false;
        return Wild(name.c_str(), mask.substr(0, mask.size() - 1).c_str());
    }
    // "*.ext" also matches a name without extension when ext is "*".
    if (mask.size() > 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos
        && Wild(name.c_str(), mask.substr(0, mask.size() - 2).c_str()))
        return true;
    return Wild(name.c_str(), mask.c_str());
}

TPTCustomShellList::TPTCustomShellList(TComponent* owner)
    : TPTCustomListView(owner),
      m_refresh(std::make_unique<TPTShellRefresh>([this] { TimerElapsed(); }, [this] { RefreshItems(); }))
{
    m_folder.OnChange = [this](TObject*) { HandleOnFolderChanged(); };
    SmallImages = ShellGetSystemImageList(ptsizSmall);
    LargeImages = ShellGetSystemImageList(ptsizLarge);
    PTDeviceChangeHandler()->Add(PTDeviceChangeMethod<TPTCustomShellList, &TPTCustomShellList::DeviceChangeDetected>(this));
    PostMessage(Handle(), AM_DEFERREDFILL, 0, 0);
    m_drop.SetActive(m_options & ptsloOleDrop, Handle());
}

TPTCustomShellList::~TPTCustomShellList()
{
    PTDeviceChangeHandler()->Remove(PTDeviceChangeMethod<TPTCustomShellList, &TPTCustomShellList::DeviceChangeDetected>(this));
    m_changeThread.reset();
    if (m_shellTree)
        m_shellTree->SetShellList(nullptr);
    if (m_shellCombo)
        m_shellCombo->SetShellList(nullptr);
    ClearAllItems();
    if (m_details)
        m_details->Release();
    if (m_currentFolder)
        m_currentFolder->Release();
    ShellMemFree(m_currentList);
}

DWORD TPTCustomShellList::EnumFlags() const
{
    DWORD flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
    if (m_options & ptsloShowHidden)
        flags |= SHCONTF_INCLUDEHIDDEN;
    return flags;
}

void TPTCustomShellList::SetOptions(TPTShellListOptions options)
{
    const TPTShellListOptions old = m_options;
    m_options = options;
    if ((old ^ options) & ptsloOleDrop)
        m_drop.SetActive(options & ptsloOleDrop, Handle());
    if ((old ^ options) & ptsloDynamicRefresh) {
        if (options & ptsloDynamicRefresh)
            InstallChangeHandler();
        else if (m_changeThread)
            m_changeThread->RemoveAll();
    }
    if ((old ^ options) & (ptsloHideFoldersWhenLinkedToTree | ptsloShowHidden))
        RefreshItems();
}

void TPTCustomShellList::SetShellTree(TPTCustomShellTree* tree) { m_shellTree = tree; }

TPTShListData* TPTCustomShellList::GetDataFromItem(TListItem* item) const
{
    return item ? static_cast<TPTShListData*>(item->Data) : nullptr;
}

TPTShListData* TPTCustomShellList::GetShListData(int index) const { return GetDataFromItem(Items()[index]); }

TPTShListData* TPTCustomShellList::GetSelectedItem() { return GetDataFromItem(Selected()); }

int TPTCustomShellList::ShellSelCount() const
{
    int n = 0;
    for (int i = 0; i < Items().Count(); ++i)
        if (Items()[i]->Selected() && Items()[i]->Data)
            ++n;
    return n;
}

void TPTCustomShellList::SelectAll()
{
    Items().BeginUpdate();
    TPTCustomListView::SelectAll();
    Items().EndUpdate();
}

bool TPTCustomShellList::IsFolderNetworkShare() { return m_folder.GetPathName().rfind("//", 0) == 0; }

IShellDetails* TPTCustomShellList::GetCurrentFolderIShellDetails()
{
    if (!m_detailsFetched) {
        m_detailsFetched = true;
        m_details = GetFolderShellDetails(m_currentFolder);
    }
    return m_details;
}

// ---- texts on demand ----

std::string TPTCustomShellList::ItemText(TListItem* item, int column)
{
    TPTShListData* data = GetDataFromItem(item);
    if (!data)
        return TPTCustomListView::ItemText(item, column);
    if (column == 0)
        return item->Caption().empty() ? data->GetDisplayName() : item->Caption();
    return data->GetColText(column);
}

// An item's own image index when it has one, else the system's small icon
// of the item (one index space for the small and the large list).
int TPTCustomShellList::ItemImageIndex(TListItem* item)
{
    if (item->ImageIndex() >= 1)
        return item->ImageIndex();
    TPTShListData* data = GetDataFromItem(item);
    return data ? ShellGetIconIndex(data->GetAbsoluteIdList(), SHGFI_SMALLICON) : item->ImageIndex();
}

// ---- adding and deleting ----

// A shared folder shows overlay 0, else a link overlay 1; a hidden item is
// drawn cut (dimmed).
void TPTCustomShellList::AddItemWithData(TPTShListData* data, ULONG attributes)
{
    TListItem* item = Items().Add();
    item->Data = data;
    item->SetOverlayIndex((attributes & SFGAO_SHARE) ? 0 : (attributes & SFGAO_LINK) ? 1 : -1);
    item->SetCut(attributes & SFGAO_HIDDEN);
}

void TPTCustomShellList::Delete(TListItem* item)
{
    auto* data = GetDataFromItem(item);
    if (data && OnDeleteItem)
        OnDeleteItem(this, item, data);
    item->Data = nullptr;
    delete data;
    TPTCustomListView::Delete(item);
}

void TPTCustomShellList::ClearAllItems()
{
    ClearSelection();
    Items().BeginUpdate();
    Items().Clear();
    Items().EndUpdate();
}

bool TPTCustomShellList::ShouldInclude(LPCITEMIDLIST folderList, LPCITEMIDLIST item, ULONG& attributes)
{
    attributes = kListAttributes;
    if (!m_currentFolder || FAILED(m_currentFolder->GetAttributesOf(1, &item, &attributes)))
        attributes = 0;  // an item whose attributes cannot be read is a plain item
    if (!(m_options & ptsloNonFilesystemAncestors) && !(attributes & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR)))
        return false;
    if ((m_options & ptsloHideFoldersWhenLinkedToTree) && m_shellTree && (attributes & SFGAO_FOLDER)
        && (attributes & SFGAO_FILESYSTEM))
        return false;
    return CanAdd(m_currentFolder, folderList, attributes, item);
}

bool TPTCustomShellList::CanAdd(IShellFolder* folder, LPCITEMIDLIST folderList, ULONG attributes, LPCITEMIDLIST item)
{
    bool allow = true;
    if (m_filterActive && !(attributes & SFGAO_FOLDER)) {
        std::string name = ShellGetFriendlyNameFromIdList(folder, item, ptfnForParsing);
        const size_t slash = name.find_last_of('/');
        if (slash != std::string::npos)
            name = name.substr(slash + 1);
        allow = FilterApply(name, attributes);
    }
    if (allow && OnAddItem)
        OnAddItem(this, folder, folderList, item, attributes, allow);
    return allow;
}

void TPTCustomShellList::AddNewShellItem(LPCITEMIDLIST folderList, LPITEMIDLIST item)
{
    ULONG attributes = 0;
    bool include = false;
    try {
        include = ShouldInclude(folderList, item, attributes);
    } catch (...) {
        ShellMemFree(item);
        throw;
    }
    if (!include) {
        ShellMemFree(item);
        return;
    }
    auto* data = new TPTShListData(this);
    data->SetData(item);
    AddItemWithData(data, attributes);
}

// ---- filter ----

namespace {
// A filter that lets every file through.
bool ListsEverything(const std::string& filter) { return filter.empty() || filter == "*" || filter == "*.*"; }
} // namespace

void TPTCustomShellList::SetFileFilter(const std::string& filter)
{
    if (filter == m_fileFilter) {
        if (filter.empty())
            m_masks.reset();
        return;
    }
    // From one filter that lists everything to another (no filter, then
    // "*.*" as the program starts) the list would be filled again with the
    // same items: it keeps them.
    const bool sameItems = ListsEverything(filter) && ListsEverything(m_fileFilter);
    m_fileFilter = filter;
    if (!m_masks)
        m_masks = std::make_unique<TStringList>();
    m_masks->Clear();
    size_t start = 0;
    while (start <= filter.size()) {
        const size_t end = filter.find(';', start);
        const std::string mask = filter.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!mask.empty())
            m_masks->Add(mask);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if ((m_options & ptsloAutoFill) && !sameItems)
        FillItems();
}

void TPTCustomShellList::FilterPreApply()
{
    m_filterActive = false;
    if (m_fileFilter.empty() || m_fileFilter == "*" || m_fileFilter == "*.*" || !m_masks)
        return;
    // Virtual folders are never filtered. The folder asked about is the one
    // about to be filled, not the one shown before it: a fill that follows
    // Computer filters like any other.
    if (m_folder.GetPathName().empty())
        return;
    m_filterActive = true;
}

// Names are matched against the masks one by one: a mask that matches
// nothing (or cannot match, such as one naming another folder) never keeps
// the others from matching, and a mask never reaches outside the folder.
bool TPTCustomShellList::FilterApply(const std::string& name, ULONG attributes)
{
    if (attributes & SFGAO_FOLDER)
        return true;
    for (int i = 0; i < m_masks->Count(); ++i)
        if (PTMatchesMask(name, (*m_masks)[i]))
            return true;
    return false;
}

void TPTCustomShellList::FilterPostApply() { m_filterActive = false; }

// ---- columns ----

void TPTCustomShellList::InitColumns(IShellDetails* details)
{
    std::vector<int>& store = SharedColumnWidths();
    if (ColumnCount() > 0 && m_widthsStorable) {
        store.clear();
        for (int i = 0; i < ColumnCount(); ++i)
            store.push_back(ColumnWidth(i));
    }
    ClearColumns();
    const bool hasPath = !ShellGetPathFromIdList(m_currentList).empty();
    if (!details) {
        const int widths[4] = {200, 60, 100, 120};
        const char* captions[4] = {SColumnName, SColumnSize, SColumnType, SColumnModified};
        for (int i = 0; i < 4; ++i)
            AddColumn(PTLoadStr(captions[i]), widths[i], i == 1);
        if (!store.empty())
            for (int i = 0; i < std::min<int>(4, static_cast<int>(store.size())); ++i)
                SetColumnWidth(i, store[static_cast<size_t>(i)]);
        m_columnMode = 2;
        m_widthsStorable = true;
    } else {
        for (UINT n = 0;; ++n) {
            SHELLDETAILS sd {};
            sd.str.uType = STRRET_WSTR;
            if (FAILED(details->GetDetailsOf(nullptr, n, &sd)))
                break;
            const std::string caption = StrretToString(nullptr, sd.str);
            StrretFree(sd.str);
            AddColumn(caption, sd.cxChar * 7, sd.fmt == LVCFMT_RIGHT);
        }
        if (hasPath && !store.empty())
            for (int i = 0; i < std::min<int>(ColumnCount(), static_cast<int>(store.size())); ++i)
                SetColumnWidth(i, store[static_cast<size_t>(i)]);
        m_columnMode = 1;
        m_widthsStorable = hasPath;
    }
    SetHeaderODStyle();
    const int sort = m_sortColumn;
    m_sortColumn = sort + 1;  // forces the header to follow
    SetSortColumn(std::abs(sort) > ColumnCount() ? 1 : sort);
}

// ---- filling ----

void TPTCustomShellList::FillItems()
{
    if (m_refresh->Defer())
        return;
    m_filledInOrder = false;
    TScreenCursorGuard hourGlass;
    ClearAllItems();
    ReleaseOnExit<IShellFolder> folder;
    OleCheck(ShellGetFolderFromIdList(m_folder.GetIdList(), folder.p));
    Items().BeginUpdate();
    try {
        FilterPreApply();
        FillList(folder.p, m_folder.GetIdList());
        FilterPostApply();
    } catch (...) {
        FilterPostApply();
        Items().EndUpdate();
        throw;
    }
    Items().EndUpdate();
    if (!std::exchange(m_filledInOrder, false))
        SortList();
    if (Items().Count() > 0)
        SetItemFocused(Items()[0]);
    if (ViewStyle() == TViewStyle::vsIcon || ViewStyle() == TViewStyle::vsSmallIcon)
        ScrollToTop();
    if (m_options & ptsloDynamicRefresh)
        InstallChangeHandler();
}

void TPTCustomShellList::FillList(IShellFolder* folder, LPCITEMIDLIST absoluteList)
{
    FillStart();
    struct Complete {
        TPTCustomShellList* list;
        ~Complete() { list->FillComplete(); }
    } complete {this};
    // The list's folder becomes the one being filled before any item is made,
    // so every item names a file of the folder the list shows.
    ShellMemFree(m_currentList);
    m_currentList = CopyIdList(nullptr, absoluteList);
    folder->AddRef();
    if (m_currentFolder)
        m_currentFolder->Release();
    m_currentFolder = folder;
    if (m_details)
        m_details->Release();
    m_details = nullptr;
    m_detailsFetched = false;
    InitColumns(GetCurrentFolderIShellDetails());

    ReleaseOnExit<IEnumIDList> items;
    if (FAILED(folder->EnumObjects(0, EnumFlags(), &items.p)) || !items.p)
        return;
    std::vector<LPITEMIDLIST> collected;
    collected.reserve(500);
    struct FreeLeft {
        std::vector<LPITEMIDLIST>& lists;
        size_t from = 0;
        ~FreeLeft()
        {
            for (size_t i = from; i < lists.size(); ++i)
                ShellMemFree(lists[i]);
        }
    } freeLeft {collected};
    HRESULT hr;
    for (;;) {
        LPITEMIDLIST item = nullptr;
        ULONG fetched = 0;
        hr = items.p->Next(1, &item, &fetched);
        if (hr != S_OK)
            break;
        collected.push_back(item);
    }
    if (hr == E_FAIL)
        return;
    if (hr != S_FALSE && hr != static_cast<HRESULT>(0x80070103))
        OleCheck(hr);
    // The items take the list's order before their rows are made, so that
    // the rows lie in memory in the order they are shown and walked (a drag
    // of many items, a select-all, the painting), and the fill's own sort
    // finds nothing to do.
    if (m_sortColumn != 0 && collected.size() > 1) {
        const std::vector<LPCITEMIDLIST> lists(collected.begin(), collected.end());
        const std::vector<std::size_t> order =
            ShellSortIdLists(folder, std::abs(m_sortColumn) - 1, m_sortColumn < 0, lists);
        for (std::size_t k = 0; k < order.size(); ++k)
            collected[k] = const_cast<LPITEMIDLIST>(lists[order[k]]);
        m_filledInOrder = true;
    }
    try {
        for (size_t i = 0; i < collected.size(); ++i) {
            freeLeft.from = i + 1;
            AddNewShellItem(m_currentList, collected[i]);
        }
    } catch (...) {
        // A fill that breaks off leaves no half list behind.
        Items().Clear();
        throw;
    }
}

void TPTCustomShellList::FillStart()
{
    if (OnFillStart)
        OnFillStart(this);
}

void TPTCustomShellList::FillComplete()
{
    if (OnFillComplete)
        OnFillComplete(this);
}

void TPTCustomShellList::FolderChanged()
{
    if (OnFolderChanged)
        OnFolderChanged(this);
}

// ---- folder ----

void TPTCustomShellList::SetFolder(const TPTShellLocator* locator) { m_folder.Assign(locator); }

void TPTCustomShellList::HandleOnFolderChanged()
{
    if (m_folderChangeLock == 0) {
        ++m_folderChangeLock;
        try {
            if (m_shellTree)
                m_shellTree->DoSetSelectedIdList(m_folder.GetIdList());
            else if (m_shellCombo)
                m_shellCombo->GetSelectedFolder().SetIdList(m_folder.GetIdList());
            FillItems();
        } catch (...) {
            --m_folderChangeLock;
            throw;
        }
        --m_folderChangeLock;
    }
    FolderChanged();
}

void TPTCustomShellList::TreeChanged(TTreeNode* node)
{
    if (!node || node->TreeView()->Selected() != node || !node->Data)
        return;
    m_folder.SetIdList(static_cast<TPTShTreeData*>(node->Data)->GetAbsPidl());
}

void TPTCustomShellList::GoUp(int levels)
{
    if (m_options & ptsloDontChangeFolder)
        return;
    if (m_shellTree) {
        m_shellTree->GoUp(levels);
        return;
    }
    if (m_shellCombo) {
        m_shellCombo->GoUp(levels);
        return;
    }
    TPTIdListArray array(m_folder.GetIdList());
    if (array.GetCount() > 0)
        m_folder.SetIdList(array.GoUp(std::min(levels, array.GetCount())));
}

void TPTCustomShellList::Synchronize(bool alsoLinked)
{
    if (alsoLinked && m_shellCombo)
        m_shellCombo->Synchronize(false);
    if (alsoLinked && m_shellTree)
        m_shellTree->Synchronize(false);
    m_refresh->RunScheduled();
}

// ---- sorting ----

void TPTCustomShellList::SetSortColumn(int column)
{
    SetHeaderSortColumn(std::abs(column) - 1);
    SetHeaderSortDirection(column >= 0 ? ptsdDesc : ptsdAsc);
    m_sortColumnSet = true;
    if (column != m_sortColumn) {
        m_sortColumn = column;
        SortList();
    }
}

std::function<int(TListItem*, TListItem*)> TPTCustomShellList::SortComparison()
{
    const int column = std::abs(m_sortColumn) - 1;
    const int sign = m_sortColumn < 0 ? -1 : 1;
    IShellFolder* folder = m_currentFolder;
    return [this, folder, column, sign](TListItem* a, TListItem* b) {
        auto* da = GetDataFromItem(a);
        auto* db = GetDataFromItem(b);
        if (!da || !db)
            return 0;
        const HRESULT hr = folder->CompareIDs(column, da->GetRelativeIdList(), db->GetRelativeIdList());
        return FAILED(hr) ? 0 : sign * HRESULT_CODE_SHORT(hr);
    };
}

void TPTCustomShellList::SortList()
{
    if (m_sortColumn == 0 || !m_currentFolder)
        return;
    // The folder orders the items' lists in one go, which reads each list
    // once; the rows follow. Items without data compare equal to any other,
    // which only a comparison of rows keeps.
    std::vector<LPCITEMIDLIST> lists;
    lists.reserve(static_cast<size_t>(Items().Count()));
    for (int i = 0; i < Items().Count(); ++i) {
        TPTShListData* data = GetDataFromItem(Items()[i]);
        if (!data) {
            Items().CustomSort(SortComparison());
            return;
        }
        lists.push_back(data->GetRelativeIdList());
    }
    Items().Arrange(ShellSortIdLists(m_currentFolder, std::abs(m_sortColumn) - 1, m_sortColumn < 0, lists));
}

void TPTCustomShellList::ColClick(int column)
{
    m_sortColumnSet = false;
    TPTCustomListView::ColClick(column);
    if (m_sortColumnSet)
        return;
    SetSortColumn(column + 1 == m_sortColumn ? -m_sortColumn : column + 1);
}

// ---- opening ----

bool TPTCustomShellList::DblClickOpen()
{
    bool handled = false;
    if (OnDblClickOpen)
        OnDblClickOpen(this, handled);
    return !handled;
}

void TPTCustomShellList::NavigateTo(LPCITEMIDLIST absoluteList)
{
    if (m_options & ptsloDontChangeFolder)
        return;
    LPITEMIDLIST copy = CopyIdList(nullptr, absoluteList);
    struct Free {
        LPITEMIDLIST p;
        ~Free() { ShellMemFree(p); }
    } free {copy};
    ClearAllItems();
    if (m_shellTree) {
        TPTShellLocator target;
        target.SetIdList(copy);
        m_shellTree->SetSelectedFolder(&target);
    } else if (m_shellCombo) {
        m_shellCombo->GetSelectedFolder().SetIdList(copy);
    } else {
        m_folder.SetIdList(copy);
    }
}

void TPTCustomShellList::OpenItem(TListItem* item)
{
    Synchronize(true);
    TPTShListData* data = GetDataFromItem(item);
    if (!data) {
        DblClickOpen();
        return;
    }
    TScreenCursorGuard hourGlass;
    if (data->IsFolder()) {
        NavigateTo(data->GetAbsoluteIdList());
        return;
    }
    if (data->IsLnkShortcut()) {
        TLinkData link;
        link.NoUI = true;
        if (SUCCEEDED(ResolveShortcut(data->GetPathName(), link, false)) && DirectoryExists(link.PathName)) {
            LPITEMIDLIST target = nullptr;
            if (SUCCEEDED(ShellGetIdListFromPath(link.PathName, target))) {
                NavigateTo(target);
                ShellMemFree(target);
                return;
            }
        }
    }
    if (DblClickOpen())
        InvokeDefaultVerb({data->GetRelativeIdList()});
}

void TPTCustomShellList::OpenSelectedItems()
{
    Synchronize(true);
    if (ShellSelCount() > 1) {
        if (DblClickOpen()) {
            std::vector<LPCITEMIDLIST> items;
            for (int i = 0; i < Items().Count(); ++i)
                if (TPTShListData* data = GetDataFromItem(Items()[i]); data && Items()[i]->Selected())
                    items.push_back(data->GetRelativeIdList());
            InvokeDefaultVerb(items);
        }
        return;
    }
    if (TListItem* item = Selected())
        OpenItem(item);
}

void TPTCustomShellList::DblClick()
{
    TPTCustomListView::DblClick();
    OpenSelectedItems();
}

// ---- refresh ----

void TPTCustomShellList::InstallChangeHandler()
{
    m_refresh->Cancel();
    if (!m_changeThread)
        m_changeThread = std::make_unique<TChangeHandlerThread>(Handle(), AM_CHANGENOTIFY);
    else
        m_changeThread->RemoveAll();
    const std::string path = m_folder.GetPathName();
    int slot = 0;
    if (!path.empty())
        m_changeThread->AddChangeNotification(path, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, slot,
            false);
}

void TPTCustomShellList::ChangeNotified() { m_refresh->Notified(Focused()); }

void TPTCustomShellList::TimerElapsed()
{
    ++m_folderChangeLock;
    try {
        if (m_shellTree)
            m_shellTree->Synchronize(false);
    } catch (...) {
        --m_folderChangeLock;
        throw;
    }
    --m_folderChangeLock;
    RefreshItems();
}

void TPTCustomShellList::RefreshItems()
{
    if (m_refresh->Defer())
        return;
    if (Items().Count() == 0 || !m_currentFolder) {
        FillItems();
        return;
    }
    TScreenCursorGuard hourGlass;
    FillStart();
    FilterPreApply();
    struct Finish {
        TPTCustomShellList* list;
        ~Finish()
        {
            list->FilterPostApply();
            list->FillComplete();
        }
    } finish {this};
    const bool hasPath = !ShellGetPathFromIdList(m_currentList).empty();
    TPTPidlList current;
    if (!hasPath)
        current.ShellFolder = m_currentFolder;
    for (int i = 0; i < Items().Count(); ++i)
        if (TPTShListData* d = GetDataFromItem(Items()[i]))
            current.AddObject(const_cast<LPITEMIDLIST>(d->GetRelativeIdList()), Items()[i]);
    current.Sort();
    current.SetSorted(true);
    current.Duplicates = 1;
    TPTPidlList found;
    found.Malloc = ShellIMalloc();
    ReleaseOnExit<IEnumIDList> items;
    if (FAILED(m_currentFolder->EnumObjects(0, EnumFlags(), &items.p)) || !items.p)
        return;  // nothing known about what vanished: the list stays as it is
    HRESULT hr;
    for (;;) {
        LPITEMIDLIST item = nullptr;
        ULONG fetched = 0;
        hr = items.p->Next(1, &item, &fetched);
        if (hr != S_OK)
            break;
        found.Add(item);
    }
    if (hr != S_FALSE && hr != static_cast<HRESULT>(0x80070103))
        return;  // an enumeration that broke off is no list of what is there
    for (int i = found.GetCount() - 1; i >= 0; --i) {
        int at = 0;
        if (current.BinarySearch(found.GetPIDL(i), at)) {
            current.Delete(at);
            found.Delete(i);
        }
    }
    Items().BeginUpdate();
    try {
        std::unordered_set<TListItem*> vanished;
        for (int i = 0; i < current.GetCount(); ++i)
            vanished.insert(static_cast<TListItem*>(current.GetObject(i)));
        if (!vanished.empty())
            Items().DeleteIf([&vanished](TListItem* item) { return vanished.count(item) > 0; });
        // New items take their place in the list's order, as they would
        // after entering the folder again; the others keep theirs.
        const int kept = Items().Count();
        for (int i = 0; i < found.GetCount(); ++i) {
            LPITEMIDLIST item = found.GetPIDL(i);
            found.SetPIDL(i, nullptr);
            AddNewShellItem(m_currentList, item);
        }
        if (Items().Count() > kept && m_sortColumn != 0)
            Items().CustomSortAfter(kept, SortComparison());
    } catch (...) {
        Items().EndUpdate();
        throw;
    }
    Items().EndUpdate();
}

void TPTCustomShellList::DeviceChangeDetected(TPTDeviceChangeHandler*, TMessage& message)
{
    if (message.WParam != 0x8000 && message.WParam != 0x8004)
        return;
    FlushDriveInfoCache();
    LockFlushDriveInfoCache();
    try {
        if (ShellFindCSIDLFromIdList(m_folder.GetIdList()) == csidlDrives)
            FillItems();
    } catch (...) {
        UnlockFlushDriveInfoCache();
        throw;
    }
    UnlockFlushDriveInfoCache();
}

void TPTCustomShellList::WndProc(TMessage& message)
{
    switch (message.Msg) {
    case AM_CHANGENOTIFY:
        ChangeNotified();
        return;
    case AM_DEFERREDFILL:
        if (Items().Count() == 0 && (m_options & ptsloAutoFill) && !m_currentFolder)
            FillItems();
        return;
    case AM_DEFERREDEDIT:
        DeferredEdit();
        return;
    case WM_INITMENUPOPUP:
        TPTCustomListView::WndProc(message);
        HandleMenuInitPopup(message, m_shownMenu);
        return;
    case WM_MENUSELECT:
        TPTCustomListView::WndProc(message);
        HandleMenuSelect(message, m_shownMenu, this, OnPopupHint);
        return;
    case WM_DRAWITEM:
        TPTCustomListView::WndProc(message);
        HandleMenuDrawItem(message, m_shownMenu, ShellGetSystemImageList(ptsizSmall));
        return;
    case WM_MEASUREITEM:
        TPTCustomListView::WndProc(message);
        HandleMenuMeasureItem(message, m_shownMenu);
        return;
    case WM_MENUCHAR:
        TPTCustomListView::WndProc(message);
        HandleMenuChar(message, m_shownMenu);
        return;
    case CN_NOTIFY:
        // A right click selects the item under it first (only it, unless it
        // is selected already), or clears the selection on empty space, as
        // the system's list does before it reports the click.
        if (reinterpret_cast<const NMHDR*>(message.LParam)->code == NM_RCLICK) {
            const TPoint pt = reinterpret_cast<const NMMOUSE_PT*>(message.LParam)->pt;
            if (TListItem* item = GetItemAt(pt.X, pt.Y)) {
                if (!item->Selected()) {
                    ClearSelection();
                    item->SetSelected(true);
                }
                SetItemFocused(item);
            } else {
                ClearSelection();
            }
        }
        // A drag of the selection; without the option it is dropped.
        if (const int code = reinterpret_cast<const NMHDR*>(message.LParam)->code;
            code == LVN_BEGINDRAG || code == LVN_BEGINRDRAG) {
            if (m_options & ptsloOleDrag)
                OleBeginDrag(code == LVN_BEGINDRAG ? 0 : 1);
            return;
        }
        break;
    default:
        break;
    }
    TPTCustomListView::WndProc(message);
}

// ---- custom draw ----

TPTCustomDraw* TPTCustomShellList::PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result)
{
    auto cd = CreateCustomDraw(notification, result);
    TListItem* item = nullptr;
    if (notification->dwDrawStage & CDDS_ITEM) {
        const int row = static_cast<int>(notification->dwItemSpec);
        item = row >= 0 && row < Items().Count() ? Items()[row] : nullptr;
    }
    PTCustomDrawSh(cd.get(), item, GetDataFromItem(item));
    cd->Apply();
    if (notification->dwDrawStage & CDDS_PREPAINT)
        *result |= CDRF_NOTIFYITEMDRAW;
    m_lastCustomDraw = std::move(cd);
    return m_lastCustomDraw.get();
}

void TPTCustomShellList::PTCustomDrawSh(TPTCustomDraw* cd, TListItem* item, TPTShListData* data)
{
    if (OnCustomDrawShEx)
        OnCustomDrawShEx(this, cd, item, data);
    if (OnCustomDrawSh && cd->GetDrawStage() == ptcdsItemPrePaint)
        OnCustomDrawSh(this, cd, item, data);
}
