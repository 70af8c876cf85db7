#include "shell/ptshlocator.h"
#include "shell/ptshconsts.h"

#include "shell/shlmounts.h"

#include <climits>
#include <cstring>
#include <vector>

// ---- TPTShellLocator ----

TPTShellLocator::~TPTShellLocator() { ShellMemFree(m_idList); }

HRESULT TPTShellLocator::LocateIdList(LPCITEMIDLIST& list)
{
    list = nullptr;
    if (m_which == usePidl) {
        list = m_idList;
        return S_OK;
    }
    if (!m_idList) {
        LPITEMIDLIST located = nullptr;
        const HRESULT hr = SHGetSpecialFolderLocation(0, m_csidl, &located);
        if (FAILED(hr))
            return hr;
        m_idList = located;
    }
    list = m_idList;
    return S_OK;
}

LPCITEMIDLIST TPTShellLocator::GetIdList()
{
    LPCITEMIDLIST list = nullptr;
    OleCheck(LocateIdList(list));
    return list;
}

std::string TPTShellLocator::GetPathName()
{
    LPCITEMIDLIST list = nullptr;
    if (FAILED(LocateIdList(list)))
        return {};
    return ShellGetPathFromIdList(list);
}

void TPTShellLocator::SetIdList(LPCITEMIDLIST list)
{
    const TPTShellLocator_Which oldWhich = m_which;
    m_which = usePidl;
    bool changed;
    if (m_idList) {
        const int c = CompareAbsIdLists(m_idList, list);
        changed = oldWhich == useCSIDL || (c != 0 && c != INT_MAX);
        ShellMemFree(m_idList);
        m_idList = nullptr;
    } else {
        changed = oldWhich == useCSIDL || (list && IdListLen(list) > 2);
    }
    m_idList = (list && IdListLen(list) > 2) ? CopyIdList(nullptr, list) : nullptr;
    m_csidl = csidlNone;
    if (changed)
        Changed();
}

void TPTShellLocator::SetCSIDL(TCSIDL csidl)
{
    ShellMemFree(m_idList);
    m_idList = nullptr;
    const bool changed = m_which != useCSIDL || m_csidl != csidl;
    m_which = useCSIDL;
    m_csidl = csidl;
    if (changed)
        Changed();
}

void TPTShellLocator::SetPathName(const std::string& path)
{
    LPITEMIDLIST list = nullptr;
    if (SUCCEEDED(ShellGetIdListFromPath(path, list)) && list) {
        // The change callback may raise: the parsed list is freed either way.
        struct Free {
            LPITEMIDLIST p;
            ~Free() { ShellMemFree(p); }
        } free {list};
        SetIdList(list);
    } else {
        SetIdList(nullptr);
    }
}

bool TPTShellLocator::IsEqual(const TPTShellLocator& other) const
{
    if (m_which != other.m_which)
        return false;
    if (this == &other)
        return true;
    if (m_which == usePidl)
        return CompareAbsIdLists(m_idList, other.m_idList) == 0;
    return m_csidl == other.m_csidl;
}

void TPTShellLocator::Assign(const TObject* source)
{
    if (!source) {
        if (m_idList) {
            ShellMemFree(m_idList);
            m_idList = nullptr;
            m_which = usePidl;
            Changed();
        }
        return;
    }
    const auto* other = dynamic_cast<const TPTShellLocator*>(source);
    if (!other)
        throw EConvertError("Cannot assign a TObject to a TPTShellLocator");
    if (IsEqual(*other))
        return;
    ShellMemFree(m_idList);
    m_idList = nullptr;
    m_which = other->m_which;
    if (m_which == useCSIDL) {
        m_csidl = other->m_csidl;
    } else {
        m_idList = CopyIdList(nullptr, other->m_idList);
        m_csidl = csidlNone;
    }
    Changed();
}

void TPTShellLocator::Changed()
{
    if (OnChange)
        OnChange(this);
}

bool TPTShellLocator::HasData() const { return m_idList != nullptr || m_which == useCSIDL; }

void TPTShellLocator::ReadData(TStream& stream)
{
    std::uint8_t which = 0;
    stream.ReadBuffer(&which, 1);
    if (which != 0) {
        std::uint8_t id = 0;
        stream.ReadBuffer(&id, 1);
        if (id > csidlNone)
            throw EReadError("Invalid Pidl property data: special folder id out of range");
        ShellMemFree(m_idList);
        m_idList = nullptr;
        m_which = useCSIDL;
        m_csidl = static_cast<TCSIDL>(id);
        return;
    }
    std::uint8_t lengthBytes[4];
    stream.ReadBuffer(lengthBytes, 4);
    const std::uint32_t length = lengthBytes[0] | (lengthBytes[1] << 8) | (lengthBytes[2] << 16) |
                                 (static_cast<std::uint32_t>(lengthBytes[3]) << 24);
    if (length == 0) {
        ShellMemFree(m_idList);
        m_idList = nullptr;
        m_which = useCSIDL;
        m_csidl = csidlDesktop;
        return;
    }
    // The length must fit into what the stream still holds before anything is allocated.
    const std::int64_t left = stream.Size() - stream.Position();
    if (length < 2 || static_cast<std::int64_t>(length) > left)
        throw EReadError("Invalid Pidl property data: bad list length");
    std::vector<BYTE> bytes(length);
    stream.ReadBuffer(bytes.data(), length);
    // Every item must end inside the list and the items must end exactly on the terminator.
    std::uint32_t at = 0;
    for (;;) {
        if (at + 2 > length)
            throw EReadError("Invalid Pidl property data: missing terminator");
        const USHORT cb = ItemIdSize(bytes.data() + at);
        if (cb == 0)
            break;
        if (cb < 2 || at + cb > length - 2)
            throw EReadError("Invalid Pidl property data: item runs past the list");
        at += cb;
    }
    if (at + 2 != length)
        throw EReadError("Invalid Pidl property data: bytes after the terminator");
    auto* list = static_cast<LPITEMIDLIST>(ShellMemAlloc(length));
    if (!list)
        throw EOutOfMemory("Out of memory");
    std::memcpy(list, bytes.data(), length);
    ShellMemFree(m_idList);
    m_idList = list;
    m_which = usePidl;
}

void TPTShellLocator::WriteData(TStream& stream) const
{
    const std::uint8_t which = m_which;
    stream.WriteBuffer(&which, 1);
    if (m_which == useCSIDL) {
        const std::uint8_t id = m_csidl;
        stream.WriteBuffer(&id, 1);
        return;
    }
    const std::uint32_t length = IdListLen(m_idList);
    const std::uint8_t lengthBytes[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length >> 16),
                                         static_cast<std::uint8_t>(length >> 24)};
    stream.WriteBuffer(lengthBytes, 4);
    if (m_idList)
        stream.WriteBuffer(m_idList, length);
}

// ---- attribute masks ----

ULONG PTShellAttributeMask(ULONG baseMask, const std::string& path)
{
    ULONG mask = baseMask;
    if (VersionHigh(SHELL32_VER) >= 0x00060000)
        mask |= SFGAO_STREAM;
    if (!path.empty() && !ShellIsDriveRoot(path) && ShellDriveTypeOfPath(path) == DRIVE_REMOVABLE)
        mask &= ~SFGAO_READONLY;
    return mask;
}

// ---- TPTShTreeData ----

TPTShTreeData::~TPTShTreeData()
{
    if (m_thisFolder)
        m_thisFolder->Release();
    if (m_rootParentFolder)
        m_rootParentFolder->Release();
    ShellMemFree(m_relPidl);
    ShellMemFree(m_absPidl);
}

void TPTShTreeData::SetData(TPTShTreeData* parentData, LPCITEMIDLIST list)
{
    m_parent = parentData;
    ShellMemFree(m_relPidl);
    ShellMemFree(m_absPidl);
    m_relPidl = m_absPidl = nullptr;
    if (parentData) {
        m_relPidl = CopyIdList(nullptr, list);
        return;
    }
    TPTIdListArray levels(list);
    const int count = levels.GetCount();
    m_relPidl = count > 0 ? CopyIdList(nullptr, levels.GetItem(count - 1)) : CopyIdList(nullptr, list);
    m_absPidl = CopyIdList(nullptr, list);
}

LPCITEMIDLIST TPTShTreeData::GetAbsPidl()
{
    if (!m_absPidl)
        m_absPidl = m_parent ? ConcatIdLists(nullptr, m_parent->GetAbsPidl(), m_relPidl) : CopyIdList(nullptr, m_relPidl);
    return m_absPidl;
}

IShellFolder* TPTShTreeData::GetParentIShf()
{
    if (m_parent)
        return m_parent->GetThisIShf();
    if (m_rootParentFolder) {
        m_rootParentFolder->Release();
        m_rootParentFolder = nullptr;
    }
    IShellFolder* folder = nullptr;
    LPITEMIDLIST parent = nullptr, last = nullptr;
    const HRESULT hr = ShellSplitIdList(GetAbsPidl(), folder, parent, last);
    ShellMemFree(parent);
    ShellMemFree(last);
    if (FAILED(hr)) {
        if (folder)
            folder->Release();
        return nullptr;
    }
    m_rootParentFolder = folder;
    return m_rootParentFolder;
}

IShellFolder* TPTShTreeData::GetThisIShf()
{
    if (m_thisFolder)
        return m_thisFolder;
    LPCITEMIDLIST abs = GetAbsPidl();
    if (!abs || IdListLen(abs) <= 2) {
        IShellFolder* desktop = nullptr;
        OleCheck(ShellGetDesktopFolder(desktop));
        m_thisFolder = desktop;
        return m_thisFolder;
    }
    IShellFolder* parent = GetParentIShf();
    if (!parent)
        return nullptr;
    IShellFolder* folder = nullptr;
    if (SUCCEEDED(parent->BindToObject(m_relPidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder))))
        m_thisFolder = folder;
    return m_thisFolder;
}

void TPTShTreeData::SetThisIShf(IShellFolder* folder)
{
    if (m_thisFolder)
        m_thisFolder->Release();
    m_thisFolder = folder;
}

ULONG TPTShTreeData::GetAttributes()
{
    IShellFolder* parent = GetParentIShf();
    if (!parent)
        return 0;
    ULONG attrs = PTShellAttributeMask(PTSH_TREE_ATTRIBUTE_MASK, GetPathName());
    LPCITEMIDLIST item = m_relPidl;
    // A failed query answers nothing: the node is then a plain item.
    if (FAILED(parent->GetAttributesOf(1, &item, &attrs)))
        return 0;
    return attrs;
}

bool TPTShTreeData::GetEditable()
{
    if (!m_parent)
        return false;
    LPCITEMIDLIST abs = GetAbsPidl();
    if (!abs || IdListLen(abs) <= 2)
        return false;
    IShellFolder* parent = GetParentIShf();
    if (!parent)
        return false;
    ULONG attrs = SFGAO_CAPABILITYMASK | SFGAO_FILESYSTEM;
    LPCITEMIDLIST item = m_relPidl;
    if (FAILED(parent->GetAttributesOf(1, &item, &attrs)))
        return false;
    return attrs & SFGAO_CANRENAME;
}

std::string TPTShTreeData::GetPathName() { return ShellGetPathFromIdList(GetAbsPidl()); }

HRESULT TPTShTreeData::GetIDropTarget(HWND owner, void** target)
{
    if (target)
        *target = nullptr;
    if (m_parent) {
        IShellFolder* folder = m_parent->GetThisIShf();
        if (!folder)
            return E_FAIL;
        LPCITEMIDLIST item = m_relPidl;
        return folder->GetUIObjectOf(owner, 1, &item, IID_IDropTarget, nullptr, target);
    }
    LPCITEMIDLIST abs = GetAbsPidl();
    if (abs && IdListLen(abs) > 2)
        return ShellGetUIObjectOfIdList(abs, IID_IDropTarget, target);
    return GetDesktopDirDropTarget(target);
}

void TPTShTreeData::SetRelPidl(LPCITEMIDLIST list)
{
    ShellMemFree(m_relPidl);
    ShellMemFree(m_absPidl);
    m_relPidl = m_absPidl = nullptr;
    if (m_thisFolder) {
        m_thisFolder->Release();
        m_thisFolder = nullptr;
    }
    m_relPidl = CopyIdList(nullptr, list);
    m_absPidl = m_parent ? ConcatIdLists(nullptr, m_parent->GetAbsPidl(), m_relPidl) : CopyIdList(nullptr, m_relPidl);
}

void TPTShTreeData::Flush()
{
    if (m_parent) {
        ShellMemFree(m_absPidl);
        m_absPidl = nullptr;
    }
    if (m_thisFolder) {
        m_thisFolder->Release();
        m_thisFolder = nullptr;
    }
}

// A drive's root here is the mount point of one of Computer's drives.
bool TPTShTreeData::IsRootDir() { return ShellIsDriveRoot(GetPathName()); }

// ---- TPTShListData ----

TPTShListData::~TPTShListData()
{
    ShellMemFree(m_absPidl);
    ShellMemFree(m_relPidl);
}

void TPTShListData::SetData(LPITEMIDLIST list)
{
    ShellMemFree(m_relPidl);
    m_relPidl = list;
    Flush();
}

void TPTShListData::Flush()
{
    ShellMemFree(m_absPidl);
    m_absPidl = nullptr;
    m_texts.reset();
}

TPTShListData::Texts& TPTShListData::CachedTexts()
{
    if (!m_texts)
        m_texts = std::make_unique<Texts>();
    return *m_texts;
}

LPCITEMIDLIST TPTShListData::GetAbsoluteIdList()
{
    if (!m_absPidl)
        m_absPidl = ConcatIdLists(nullptr, m_owner->GetListFolderIdList(), m_relPidl);
    return m_absPidl;
}

std::string TPTShListData::GetPathName() { return ShellGetPathFromIdList(GetAbsoluteIdList()); }

std::string TPTShListData::GetFilename()
{
    const std::string path = GetPathName();
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TPTShListData::GetDisplayName()
{
    Texts& texts = CachedTexts();
    if (texts.displayName.empty())
        texts.displayName = ShellGetFriendlyNameFromIdList(m_owner->GetListFolder(), m_relPidl, ptfnNormal);
    return texts.displayName;
}

ULONG TPTShListData::GetAttributes()
{
    IShellFolder* folder = m_owner->GetListFolder();
    if (!folder)
        return 0;
    ULONG attrs = PTShellAttributeMask(PTSH_LIST_ATTRIBUTE_MASK, GetPathName());
    LPCITEMIDLIST item = m_relPidl;
    // A failed query answers nothing: the item is then a plain item.
    if (FAILED(folder->GetAttributesOf(1, &item, &attrs)))
        return 0;
    return attrs;
}

bool TPTShListData::GetEditable() { return GetAttributes() & SFGAO_CANRENAME; }
bool TPTShListData::IsFileSystem() { return GetAttributes() & SFGAO_FILESYSTEM; }

bool TPTShListData::IsFolder()
{
    const ULONG attrs = GetAttributes();
    if (!(attrs & SFGAO_FOLDER))
        return false;
    if (m_owner->GetFilesCanBeFolders() || VersionHigh(SHELL32_VER) < 0x00060000)
        return true;
    return !(attrs & SFGAO_STREAM);
}

bool TPTShListData::IsLnkShortcut() { return SameText(ExtractFileExt(GetPathName()), ".lnk"); }

bool TPTShListData::IsValid()
{
    IShellFolder* folder = m_owner->GetListFolder();
    if (!folder)
        return false;
    ULONG attrs = SFGAO_VALIDATE;
    LPCITEMIDLIST item = m_relPidl;
    return SUCCEEDED(folder->GetAttributesOf(1, &item, &attrs));
}

void TPTShListData::GetExtraData()
{
    Texts& texts = CachedTexts();
    if (texts.extraDone)
        return;
    GetItemExtraTexts(GetAbsoluteIdList(), GetAttributes(), texts.size, texts.modified, texts.type);
    texts.extraDone = true;
}

std::string TPTShListData::GetSize()
{
    GetExtraData();
    return m_texts->size;
}

std::string TPTShListData::GetFileType()
{
    GetExtraData();
    return m_texts->type;
}

std::string TPTShListData::GetModified()
{
    GetExtraData();
    return m_texts->modified;
}

std::string TPTShListData::GetColText(int column)
{
    if (column == 0)
        return {};
    if (IShellDetails* details = m_owner->GetCurrentFolderIShellDetails()) {
        SHELLDETAILS sd;
        std::memset(&sd, 0, sizeof sd);
        sd.str.uType = STRRET_WSTR;
        if (FAILED(details->GetDetailsOf(m_relPidl, static_cast<UINT>(column), &sd)))
            return {};
        std::string text = StrretToString(m_relPidl, sd.str);
        StrretFree(sd.str);
        return text;
    }
    GetExtraData();
    switch (column) {
    case 1:
        return m_texts->size;
    case 2:
        return m_texts->type;
    case 3:
        return m_texts->modified;
    default:
        return {};
    }
}

// ---- TPTShComboData ----

TPTShComboData::~TPTShComboData()
{
    if (m_parentFolder)
        m_parentFolder->Release();
    if (m_thisFolder)
        m_thisFolder->Release();
    ShellMemFree(m_parentAbsPidl);
    ShellMemFree(m_relPidl);
    ShellMemFree(m_absPidl);
}

void TPTShComboData::SetData(IShellFolder* parentFolder, LPCITEMIDLIST parentAbsList, LPCITEMIDLIST relList)
{
    if (parentFolder)
        parentFolder->AddRef();
    if (m_parentFolder)
        m_parentFolder->Release();
    m_parentFolder = parentFolder;
    ShellMemFree(m_parentAbsPidl);
    ShellMemFree(m_relPidl);
    ShellMemFree(m_absPidl);
    m_parentAbsPidl = CopyIdList(nullptr, parentAbsList);
    m_relPidl = CopyIdList(nullptr, relList);
    m_absPidl = ConcatIdLists(nullptr, m_parentAbsPidl, m_relPidl);
}

IShellFolder* TPTShComboData::GetThisIShf()
{
    if (m_thisFolder)
        return m_thisFolder;
    IShellFolder* folder = nullptr;
    if (m_absPidl && IdListLen(m_absPidl) > 2 && m_parentFolder)
        OleCheck(m_parentFolder->BindToObject(m_relPidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)));
    else
        OleCheck(ShellGetDesktopFolder(folder));
    m_thisFolder = folder;
    return m_thisFolder;
}

// ---- TShellFolder2ToShellDetailsAdapter ----

TShellFolder2ToShellDetailsAdapter::TShellFolder2ToShellDetailsAdapter(IShellFolder2* folder) : m_folder(folder)
{
    m_folder->AddRef();
}

TShellFolder2ToShellDetailsAdapter::~TShellFolder2ToShellDetailsAdapter() { m_folder->Release(); }

HRESULT TShellFolder2ToShellDetailsAdapter::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellDetails) {
        *ppv = static_cast<IShellDetails*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TShellFolder2ToShellDetailsAdapter::AddRef() { return static_cast<ULONG>(++m_refCount); }

ULONG TShellFolder2ToShellDetailsAdapter::Release()
{
    const LONG n = --m_refCount;
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

HRESULT TShellFolder2ToShellDetailsAdapter::GetDetailsOf(LPCITEMIDLIST pidl, UINT iColumn, SHELLDETAILS* pDetails)
{
    DWORD state = 0;
    const HRESULT hr = m_folder->GetDefaultColumnState(iColumn, &state);
    if (FAILED(hr) || (state & SHCOLSTATE_ONBYDEFAULT))
        return m_folder->GetDetailsOf(pidl, iColumn, pDetails);
    return E_INVALIDARG;
}

HRESULT TShellFolder2ToShellDetailsAdapter::ColumnClick(UINT) { return E_NOTIMPL; }

IShellDetails* GetFolderShellDetails(IShellFolder* folder)
{
    if (!folder)
        return nullptr;
    IShellFolder2* folder2 = nullptr;
    IShellDetails* details = nullptr;
    if (SUCCEEDED(folder->QueryInterface(IID_IShellFolder2, reinterpret_cast<void**>(&folder2))) && folder2) {
        SHELLDETAILS sd;
        std::memset(&sd, 0, sizeof sd);
        if (SUCCEEDED(folder2->GetDetailsOf(nullptr, 0, &sd))) {
            StrretFree(sd.str);
            auto* adapter = new TShellFolder2ToShellDetailsAdapter(folder2);
            adapter->QueryInterface(IID_IShellDetails, reinterpret_cast<void**>(&details));
        } else if (FAILED(folder->QueryInterface(IID_IShellDetails, reinterpret_cast<void**>(&details)))) {
            details = nullptr;
            if (FAILED(folder->CreateViewObject(0, IID_IShellDetails, reinterpret_cast<void**>(&details))))
                details = nullptr;
        }
        folder2->Release();
        return details;
    }
    if (FAILED(folder->CreateViewObject(0, IID_IShellDetails, reinterpret_cast<void**>(&details))))
        details = nullptr;
    return details;
}

// ---- item texts ----

std::string FormatFileSizeKB(std::uint64_t size)
{
    const std::uint64_t kb = size / 1024 + (size % 1024 ? 1 : 0);
    const std::string digits = std::to_string(kb);
    std::string grouped;
    for (size_t k = 0; k < digits.size(); ++k) {
        if (k && (digits.size() - k) % 3 == 0)
            grouped.push_back(',');
        grouped.push_back(digits[k]);
    }
    return Format(PTLoadStr(SFilesizeKB).c_str(), grouped.c_str());
}

void GetItemSizeAndDate(LPCITEMIDLIST list, std::string& size, std::string& modified)
{
    size.clear();
    modified.clear();
    const std::string path = ShellGetPathFromIdList(list);
    // Virtual items and the roots of drives have no size or date.
    if (path.empty() || ShellIsDriveRoot(path))
        return;
    ShellFileFacts facts;
    if (!ShellStatPath(path, facts))
        return;
    if (!facts.folder)
        size = FormatFileSizeKB(facts.size);
    const std::int64_t when = facts.lastWriteUnix ? facts.lastWriteUnix : facts.changeUnix;
    const TDateTime local = UnixToLocalDateTime(static_cast<std::time_t>(when));
    modified = DateToStr(local) + " " + TimeToStr(local);
}

void GetItemTypeName(LPCITEMIDLIST list, ULONG attributes, std::string& type)
{
    if (!(attributes & SFGAO_FILESYSTEM)) {
        type = PTLoadStr(SSystemFolder);
        return;
    }
    static const BYTE empty[2] = {0, 0};
    SHFILEINFOA info;
    std::memset(&info, 0, sizeof info);
    const auto* p = reinterpret_cast<const char*>(list ? list : reinterpret_cast<LPCITEMIDLIST>(empty));
    if (!SHGetFileInfoA(p, 0, &info, sizeof info, SHGFI_TYPENAME | SHGFI_PIDL)) {
        type.clear();
        return;
    }
    type = info.szTypeName;
}

void GetItemExtraTexts(LPCITEMIDLIST list, ULONG attributes, std::string& size, std::string& modified,
                       std::string& type)
{
    GetItemSizeAndDate(list, size, modified);
    GetItemTypeName(list, attributes, type);
}
