#include "shell/ptshutils.h"
#include "shell/ptshconsts.h"

#include "shell/shlmounts.h"
#include "shell/shlversion.h"

#include <algorithm>
#include <climits>
#include <cstring>

TPTModuleVersion COMCTL32_VER = 0;
TPTModuleVersion SHELL32_VER = 0;

int PTSH_CHANGE_NOTIFY_DELAY = 2000;
int PTSH_CHANGE_NOTIFY_FASTDELAY = 400;
int PTSH_TREE_KEY_UPDATE_DELAY = 500;
int PTSH_MAX_FOLDER_ATTEMPTS = 50;
int PTSH_AUTOSCROLL_THRESHOLD_X = 26;
int PTSH_AUTOSCROLL_THRESHOLD_Y = 20;
int PTSH_AUTOSCROLL_MINDELAY_MS = 100;
// The platform has no system-wide mouse-hover setting to read at start, so
// the three hover values keep their defaults.
int PTSH_AUTOOPEN_DELAY_MS = 400;
int PTSH_AUTOOPEN_THRESHOLD_X = 2;
int PTSH_AUTOOPEN_THRESHOLD_Y = 2;

int gFlushDriveInfoSem = 0;

namespace {

ShellPlatformVersion g_platform;

struct VersionReader {
    VersionReader() { PTReadVersions(); }
};
VersionReader g_versionReader;

// Walks the items of a list: the byte offsets of each item's start.
std::vector<UINT> ItemOffsets(LPCITEMIDLIST list)
{
    std::vector<UINT> offsets;
    if (!list)
        return offsets;
    const auto* p = reinterpret_cast<const BYTE*>(list);
    UINT at = 0;
    while (USHORT cb = ItemIdSize(p + at)) {
        offsets.push_back(at);
        at += cb;
    }
    return offsets;
}

LPITEMIDLIST AllocList(IMalloc* allocator, UINT size)
{
    IMalloc* m = allocator ? allocator : ShellIMalloc();
    return static_cast<LPITEMIDLIST>(m->Alloc(size));
}

// A list made of the bytes [from, to) of another list, with a terminator.
LPITEMIDLIST SliceList(LPCITEMIDLIST list, UINT from, UINT to)
{
    auto* out = static_cast<BYTE*>(ShellMemAlloc(to - from + 2));
    if (!out)
        return nullptr;
    std::memset(out, 0, to - from + 2);
    if (to > from)
        std::memcpy(out, reinterpret_cast<const BYTE*>(list) + from, to - from);
    return reinterpret_cast<LPITEMIDLIST>(out);
}

bool IsEmptyList(LPCITEMIDLIST list) { return list && ItemIdSize(list) == 0; }

} // namespace

DWORD FriendlyNameFlagsToSHGDN(TPTFriendlyNameFlags flags)
{
    switch (flags) {
    case ptfnInFolder:
        return SHGDN_INFOLDER;
    case ptfnForParsing:
        return SHGDN_FORPARSING;
    case ptfnForEditing:
        return SHGDN_FOREDITING | SHGDN_INFOLDER;
    default:
        return SHGDN_NORMAL;
    }
}


// ---- versions ----

void PTReadVersions()
{
    g_platform = ShellGetPlatformVersion();
    if (!GetModuleVersion("comctl32.dll", COMCTL32_VER))
        COMCTL32_VER = 0;
    if (!GetModuleVersion("shell32.dll", SHELL32_VER))
        SHELL32_VER = 0;
}

bool IsWinNT() { return g_platform.platformId == VER_PLATFORM_WIN32_NT; }
bool IsWin95() { return g_platform.platformId == VER_PLATFORM_WIN32_WINDOWS; }
bool IsOSR2OrGreater() { return IsWin95() && (g_platform.buildNumber & 0xFFFF) > 1000; }
bool IsWin2000() { return IsWinNT() && g_platform.majorVersion >= 5; }
bool HasWin95Shell() { return IsWin95() || (IsWinNT() && g_platform.majorVersion >= 4); }

bool GetModuleVersion(const std::string& moduleName, TPTModuleVersion& version)
{
    std::uint64_t v = 0;
    if (!ShellGetModuleFileVersion(moduleName.c_str(), v))
        return false;
    version = v;
    return true;
}

// ---- allocator ----

IMalloc* ShellIMalloc()
{
    static IMalloc* malloc = [] {
        IMalloc* m = nullptr;
        SHGetMalloc(&m);
        return m;
    }();
    return malloc;
}

void* ShellMemAlloc(std::size_t size) { return ShellIMalloc()->Alloc(size); }
void* ShellMemRealloc(void* block, std::size_t size) { return block ? ShellIMalloc()->Realloc(block, size) : nullptr; }
void ShellMemFree(void* block)
{
    if (block)
        ShellIMalloc()->Free(block);
}

// ---- lists ----

UINT IdListLen(LPCITEMIDLIST list)
{
    if (!list)
        return 0;
    const auto* p = reinterpret_cast<const BYTE*>(list);
    UINT at = 0;
    while (USHORT cb = ItemIdSize(p + at))
        at += cb;
    return at + 2;
}

LPITEMIDLIST CopyIdList(IMalloc* allocator, LPCITEMIDLIST list)
{
    const UINT len = list ? IdListLen(list) : 2;
    LPITEMIDLIST out = AllocList(allocator, len);
    if (!out)
        return nullptr;
    if (list)
        std::memcpy(out, list, len);
    else
        std::memset(out, 0, 2);
    return out;
}

LPITEMIDLIST ConcatIdLists(IMalloc* allocator, LPCITEMIDLIST first, LPCITEMIDLIST second)
{
    const UINT a = first ? IdListLen(first) - 2 : 0;
    const UINT b = second ? IdListLen(second) - 2 : 0;
    LPITEMIDLIST out = AllocList(allocator, a + b + 2);
    if (!out)
        return nullptr;
    auto* p = reinterpret_cast<BYTE*>(out);
    if (a)
        std::memcpy(p, first, a);
    if (b)
        std::memcpy(p + a, second, b);
    p[a + b] = 0;
    p[a + b + 1] = 0;
    return out;
}

int CompareAbsIdLists(LPCITEMIDLIST first, LPCITEMIDLIST second)
{
    if (!first || !second)
        return (!first && !second) ? 0 : -1;
    const bool e1 = IsEmptyList(first), e2 = IsEmptyList(second);
    if (e1 || e2)
        return (e1 && e2) ? 0 : -1;
    IShellFolder* desktop = nullptr;
    if (FAILED(ShellGetDesktopFolder(desktop)) || !desktop)
        return INT_MAX;
    const HRESULT hr = desktop->CompareIDs(0, first, second);
    desktop->Release();
    return SUCCEEDED(hr) ? HRESULT_CODE_SHORT(hr) : INT_MAX;
}

namespace {
IShellFolder* g_testDesktop = nullptr;
} // namespace

void ShellSetDesktopFolderForTest(IShellFolder* folder) { g_testDesktop = folder; }

HRESULT ShellGetDesktopFolder(IShellFolder*& folder)
{
    folder = nullptr;
    if (g_testDesktop) {
        g_testDesktop->AddRef();
        folder = g_testDesktop;
        return S_OK;
    }
    return SHGetDesktopFolder(&folder);
}

HRESULT ShellGetFolderFromIdList(LPCITEMIDLIST list, IShellFolder*& folder)
{
    folder = nullptr;
    IShellFolder* desktop = nullptr;
    HRESULT hr = ShellGetDesktopFolder(desktop);
    if (FAILED(hr))
        return hr;
    if (!list || IsEmptyList(list)) {
        folder = desktop;
        return hr;
    }
    hr = desktop->BindToObject(list, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder));
    desktop->Release();
    return hr;
}

HRESULT ShellGetIdListFromPath(const std::string& path, LPITEMIDLIST& list)
{
    list = nullptr;
    IShellFolder* desktop = nullptr;
    HRESULT hr = ShellGetDesktopFolder(desktop);
    if (FAILED(hr))
        return hr;
    // The whole path is parsed: Linux paths are not limited to 260 characters.
    const std::u16string wide = ShellUtf8ToWide(path);
    ULONG eaten = 0, attributes = 0;
    try {
        hr = desktop->ParseDisplayName(0, nullptr, wide.c_str(), &eaten, &list, &attributes);
    } catch (...) {
        ShellMemFree(list);
        list = nullptr;
        desktop->Release();
        throw;
    }
    desktop->Release();
    if (FAILED(hr))
        list = nullptr;
    return hr;
}

std::string ShellGetPathFromIdList(LPCITEMIDLIST list)
{
    static const BYTE empty[2] = {0, 0};
    std::string path;
    if (!ShellPathFromIDList(list ? list : reinterpret_cast<LPCITEMIDLIST>(empty), path))
        return {};
    return path;
}

std::string ShellGetDisplayPathName(const std::string& text)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(ShellGetIdListFromPath(text, list)))
        return {};
    std::string path = ShellGetPathFromIdList(list);
    ShellMemFree(list);
    return path;
}

std::string ShellGetSpecialFolderPath(HWND, TCSIDL csidl)
{
    std::string path;
    if (!ShellSpecialFolderPath(csidl, path))
        return {};
    return path;
}

HRESULT ShellGetSpecialFolderIdList(HWND owner, TCSIDL csidl, LPITEMIDLIST& list)
{
    list = nullptr;
    return SHGetSpecialFolderLocation(owner, csidl, &list);
}

TCSIDL ShellFindCSIDLFromIdList(LPCITEMIDLIST list)
{
    for (int n = 0; n < csidlNone; ++n) {
        LPITEMIDLIST special = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(0, n, &special)) && special) {
            const bool same = CompareAbsIdLists(list, special) == 0;
            ShellMemFree(special);
            if (same)
                return static_cast<TCSIDL>(n);
        }
    }
    return csidlNone;
}

bool ShellCSIDLEqualsIdList(LPCITEMIDLIST list, TCSIDL csidl)
{
    LPITEMIDLIST special = nullptr;
    OleCheck(SHGetSpecialFolderLocation(0, csidl, &special));
    const bool same = CompareAbsIdLists(list, special) == 0;
    ShellMemFree(special);
    return same;
}

std::string StrretToString(LPCITEMIDLIST item, const STRRET& str)
{
    switch (str.uType) {
    case STRRET_WSTR:
        return ShellWideToUtf8(str.pOleStr);
    case STRRET_OFFSET: {
        if (!item)
            return {};
        // The text lies inside the list; it never reaches past the list's end.
        const UINT len = IdListLen(item);
        if (str.uOffset >= len)
            return {};
        const char* p = reinterpret_cast<const char*>(item) + str.uOffset;
        return std::string(p, strnlen(p, len - str.uOffset));
    }
    case STRRET_CSTR:
        return std::string(str.cStr, strnlen(str.cStr, sizeof str.cStr));
    default:
        return {};
    }
}

void StrretFree(STRRET& str)
{
    if (str.uType == STRRET_WSTR && str.pOleStr) {
        CoTaskMemFree(str.pOleStr);
        str.pOleStr = nullptr;
    }
}

std::string ShellGetFriendlyNameFromIdList(IShellFolder* folder, LPCITEMIDLIST item, TPTFriendlyNameFlags flags)
{
    if (!folder) {
        IShellFolder* desktop = nullptr;
        if (FAILED(ShellGetDesktopFolder(desktop)) || !desktop)
            return {};
        std::string name = ShellGetFriendlyNameFromIdList(desktop, item, flags);
        desktop->Release();
        return name;
    }
    const DWORD shgdn = FriendlyNameFlagsToSHGDN(flags);
    STRRET str;
    std::memset(&str, 0, sizeof str);
    str.uType = STRRET_WSTR;
    if (FAILED(folder->GetDisplayNameOf(item, shgdn, &str))) {
        std::memset(&str, 0, sizeof str);
        str.uType = STRRET_CSTR;
        if (FAILED(folder->GetDisplayNameOf(item, shgdn, &str)))
            return {};
    }
    std::string name = StrretToString(item, str);
    StrretFree(str);
    return name;
}

std::string ShellGetFriendlyNameForLastIdListElement(LPCITEMIDLIST list)
{
    IShellFolder* desktop = nullptr;
    if (FAILED(ShellGetDesktopFolder(desktop)) || !desktop)
        return {};
    TPTIdListArray levels(list);
    if (levels.GetCount() > 1) {
        IShellFolder* parent = nullptr;
        const HRESULT hr =
            desktop->BindToObject(levels.GoUp(1), nullptr, IID_IShellFolder, reinterpret_cast<void**>(&parent));
        desktop->Release();
        OleCheck(hr);
        std::string name = ShellGetFriendlyNameFromIdList(parent, levels.GetItem(levels.GetCount() - 1), ptfnInFolder);
        parent->Release();
        return name;
    }
    std::string name = ShellGetFriendlyNameFromIdList(desktop, list, ptfnInFolder);
    desktop->Release();
    return name;
}

std::string ShellGetItemDisplayName(IShellFolder* folder, LPCITEMIDLIST item, DWORD shgdnFlags)
{
    std::string name;
    ShellGetItemDisplayName(folder, item, shgdnFlags, name);
    return name;
}

bool ShellGetItemDisplayName(IShellFolder* folder, LPCITEMIDLIST item, DWORD shgdnFlags, std::string& name)
{
    name.clear();
    if (!folder)
        return false;
    STRRET str;
    str.uType = STRRET_WSTR;
    str.pOleStr = nullptr;
    if (folder->GetDisplayNameOf(item, shgdnFlags, &str) != S_OK)
        return false;
    // The record's own buffer needs no string of its own in between.
    if (str.uType == STRRET_CSTR)
        name.assign(str.cStr, strnlen(str.cStr, sizeof str.cStr));
    else
        name = StrretToString(item, str);
    StrretFree(str);
    return true;
}

HRESULT ShellSplitIdList(LPCITEMIDLIST list, IShellFolder*& folder, LPITEMIDLIST& parent, LPITEMIDLIST& last)
{
    folder = nullptr;
    parent = nullptr;
    last = nullptr;
    LPITEMIDLIST parsed = nullptr;
    std::vector<UINT> offsets = ItemOffsets(list);
    if (offsets.empty()) {
        // The desktop itself is handed on as its folder in the file system.
        const HRESULT hr = ShellGetIdListFromPath(ShellGetSpecialFolderPath(0, csidlDesktop), parsed);
        if (FAILED(hr))
            return hr;
        list = parsed;
        offsets = ItemOffsets(list);
    }
    HRESULT hr;
    if (offsets.size() == 1) {
        hr = ShellGetDesktopFolder(folder);
        last = CopyIdList(nullptr, list);
    } else {
        const UINT lastAt = offsets.back();
        parent = SliceList(list, 0, lastAt);
        last = SliceList(list, lastAt, IdListLen(list) - 2);
        hr = ShellGetFolderFromIdList(parent, folder);
    }
    ShellMemFree(parsed);
    return hr;
}

HRESULT ShellGetUIObjectOfIdList(LPCITEMIDLIST list, REFIID riid, void** object)
{
    if (object)
        *object = nullptr;
    IShellFolder* folder = nullptr;
    LPITEMIDLIST parent = nullptr, last = nullptr;
    HRESULT hr = ShellSplitIdList(list, folder, parent, last);
    if (SUCCEEDED(hr) && folder) {
        LPCITEMIDLIST item = last;
        hr = folder->GetUIObjectOf(0, 1, &item, riid, nullptr, object);
    }
    if (folder)
        folder->Release();
    ShellMemFree(parent);
    ShellMemFree(last);
    return hr;
}

HRESULT GetDesktopDirDropTarget(void** dropTarget)
{
    LPITEMIDLIST list = nullptr;
    HRESULT hr = ShellGetIdListFromPath(ShellGetSpecialFolderPath(0, csidlDesktop), list);
    if (FAILED(hr))
        return hr;
    hr = ShellGetUIObjectOfIdList(list, IID_IDropTarget, dropTarget);
    ShellMemFree(list);
    return hr;
}

HRESULT GetDesktopDirParentAndItem(LPITEMIDLIST& parent, LPITEMIDLIST& item)
{
    parent = nullptr;
    item = nullptr;
    LPITEMIDLIST list = nullptr;
    const HRESULT hr = ShellGetIdListFromPath(ShellGetSpecialFolderPath(0, csidlDesktop), list);
    if (FAILED(hr))
        return hr;
    const auto offsets = ItemOffsets(list);
    const UINT lastAt = offsets.empty() ? 0 : offsets.back();
    parent = SliceList(list, 0, lastAt);
    item = SliceList(list, lastAt, IdListLen(list) - 2);
    ShellMemFree(list);
    return S_OK;
}

// ---- icons ----

int ShellGetIconIndex(LPCITEMIDLIST list, UINT flags)
{
    static const BYTE empty[2] = {0, 0};
    try {
        SHFILEINFOA info;
        std::memset(&info, 0, sizeof info);
        const auto* p = reinterpret_cast<const char*>(list ? list : reinterpret_cast<LPCITEMIDLIST>(empty));
        if (!SHGetFileInfoA(p, 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_PIDL | flags))
            return 0;
        return info.iIcon;
    } catch (...) {
        return 0;
    }
}

int ShellGetIconIndexFromPath(const std::string& path, UINT flags)
{
    try {
        SHFILEINFOA info;
        std::memset(&info, 0, sizeof info);
        if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | flags))
            return 0;
        return info.iIcon;
    } catch (...) {
        return 0;
    }
}

int ShellGetIconIndexFromExt(const std::string& extOrName, UINT flags)
{
    try {
        SHFILEINFOA info;
        std::memset(&info, 0, sizeof info);
        if (!SHGetFileInfoA(extOrName.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                            SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | flags))
            return 0;
        return info.iIcon;
    } catch (...) {
        return 0;
    }
}

int ShellGetSpecialFolderIconIndex(TCSIDL csidl, UINT flags)
{
    LPITEMIDLIST list = nullptr;
    OleCheck(SHGetSpecialFolderLocation(0, csidl, &list));
    const int index = ShellGetIconIndex(list, flags);
    ShellMemFree(list);
    return index;
}

// The views draw an overlay's emblem (a link's, a shared folder's) over the
// icon themselves, so the lists hold no overlay images.
HIMAGELIST ShellGetSystemImageList(TPTShellIconSize size)
{
    SHFILEINFOA info;
    std::memset(&info, 0, sizeof info);
    return reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA("/", 0, &info, sizeof info, SHGFI_SYSICONINDEX | (size == ptsizSmall ? SHGFI_SMALLICON : 0)));
}

// ---- texts ----

std::string EnsureTrailingCharDB(const std::string& text, char c)
{
    if (text.empty() || text.back() == c)
        return text;
    return text + c;
}

std::string FormatStrPos(const std::string& format, const std::vector<std::string>& strings, int highestIndex)
{
    if (highestIndex > 49)
        throw Exception("FormatStrPos: Too many substitution strings");
    if (format.empty())
        return {};
    const int count = std::min<int>(highestIndex + 1, static_cast<int>(strings.size()));
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out.push_back(format[i]);
            continue;
        }
        if (++i >= format.size())
            return {};
        const char c = format[i];
        if (c == '0')
            break;  // ends the message
        if (c >= '1' && c <= '9') {
            int n = c - '0';
            if (i + 1 < format.size() && std::isdigit(static_cast<unsigned char>(format[i + 1])))
                n = n * 10 + (format[++i] - '0');
            if (n > count)
                return {};  // an insert with no string: formatting fails
            if (i + 1 < format.size() && format[i + 1] == '!') {
                const size_t close = format.find('!', i + 2);
                if (close == std::string::npos)
                    return {};
                i = close;
            }
            out += strings[static_cast<size_t>(n - 1)];
        } else if (c == 'n') {
            out += "\r\n";
        } else if (c == 'r') {
            out.push_back('\r');
        } else if (c == 't') {
            out.push_back('\t');
        } else {
            out.push_back(c);  // "%%", "%.", "%!" and "% " stand for the character itself
        }
    }
    return out;
}

std::string TrimRightDB(const std::string& text)
{
    size_t n = text.size();
    while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 32)
        --n;
    return text.substr(0, n);
}

void CopyCharDB(int& position, const std::string& text, std::string& destination)
{
    if (position < 1 || position > static_cast<int>(text.size()))
        return;
    destination.push_back(text[static_cast<size_t>(position - 1)]);
    ++position;
}

void ParametizeCmdLineDB(const std::string& line, TStringList& list)
{
    enum { Between, Unquoted, Quoted } state = Between;
    std::string p;
    auto flush = [&] {
        p = TrimRightDB(p);
        if (!p.empty())
            list.Add(p);
        p.clear();
    };
    for (const char c : line) {
        switch (state) {
        case Between:
            if (c == '"') {
                p.clear();
                state = Quoted;
            } else if (c != '\t' && c != ' ') {
                p.assign(1, c);
                state = Unquoted;
            }
            break;
        case Unquoted:
            if (c == '"' || c == '\t' || c == ' ') {
                flush();
                state = c == '"' ? Quoted : Between;
            } else {
                p.push_back(c);
            }
            break;
        case Quoted:
            if (c == '"') {
                flush();
                state = Between;
            } else {
                p.push_back(c);
            }
            break;
        }
    }
    flush();
}

// ---- TPTIdListArray ----

TPTIdListArray::TPTIdListArray(LPCITEMIDLIST list) : m_list(list) {}
TPTIdListArray::~TPTIdListArray() { ShellMemFree(m_returned); }

void TPTIdListArray::Replace(LPITEMIDLIST list)
{
    ShellMemFree(m_returned);
    m_returned = list;
}

int TPTIdListArray::GetCount() const { return static_cast<int>(ItemOffsets(m_list).size()); }

LPCITEMIDLIST TPTIdListArray::GoUp(int n)
{
    const auto offsets = ItemOffsets(m_list);
    const int count = static_cast<int>(offsets.size());
    if (!m_list || n < 0 || n > count) {
        Replace(nullptr);
        return nullptr;
    }
    const UINT end = (n == 0) ? IdListLen(m_list) - 2 : offsets[static_cast<size_t>(count - n)];
    Replace(SliceList(m_list, 0, end));
    return m_returned;
}

LPCITEMIDLIST TPTIdListArray::GetItem(int index)
{
    const auto offsets = ItemOffsets(m_list);
    const int count = static_cast<int>(offsets.size());
    if (!m_list || index < 0 || (count > 0 && index >= count)) {
        Replace(nullptr);
        return nullptr;
    }
    if (count == 0) {
        Replace(SliceList(m_list, 0, 0));
        return m_returned;
    }
    const UINT from = offsets[static_cast<size_t>(index)];
    const UINT to = index + 1 < count ? offsets[static_cast<size_t>(index + 1)] : IdListLen(m_list) - 2;
    Replace(SliceList(m_list, from, to));
    return m_returned;
}

// ---- TPTPidlList ----

TPTPidlList::~TPTPidlList() { Clear(); }

void TPTPidlList::CheckIndex(int index) const
{
    if (index < 0 || index >= GetCount())
        throw EListError(Format("List index out of bounds (%d)", index));
}

void TPTPidlList::SetCapacity(int capacity)
{
    if (capacity < GetCount())
        throw EListError(Format("List capacity out of bounds (%d)", capacity));
    m_items.reserve(static_cast<size_t>(capacity));
}

LPITEMIDLIST TPTPidlList::GetPIDL(int index) const
{
    CheckIndex(index);
    return m_items[static_cast<size_t>(index)].list;
}

void TPTPidlList::SetPIDL(int index, LPITEMIDLIST list)
{
    CheckIndex(index);
    m_items[static_cast<size_t>(index)].list = list;
}

void* TPTPidlList::GetObject(int index) const
{
    CheckIndex(index);
    return m_items[static_cast<size_t>(index)].object;
}

void TPTPidlList::SetObject(int index, void* object)
{
    CheckIndex(index);
    m_items[static_cast<size_t>(index)].object = object;
}

int TPTPidlList::Add(LPITEMIDLIST list) { return AddObject(list, nullptr); }

int TPTPidlList::AddObject(LPITEMIDLIST list, void* object)
{
    if (!m_sorted) {
        m_items.push_back({list, object});
        return GetCount() - 1;
    }
    int index = 0;
    if (BinarySearch(list, index)) {
        if (Duplicates == 0)
            return index;
        if (Duplicates == 2)
            throw Exception("TPTPidlList: Duplicate PIDL");
    }
    m_items.insert(m_items.begin() + index, Entry{list, object});
    return index;
}

void TPTPidlList::Insert(int index, LPITEMIDLIST list) { InsertObject(index, list, nullptr); }

void TPTPidlList::InsertObject(int index, LPITEMIDLIST list, void* object)
{
    if (index < 0 || index > GetCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    m_items.insert(m_items.begin() + index, Entry{list, object});
}

void TPTPidlList::Delete(int index)
{
    CheckIndex(index);
    if (Malloc)
        Malloc->Free(m_items[static_cast<size_t>(index)].list);
    m_items.erase(m_items.begin() + index);
}

void TPTPidlList::Clear()
{
    if (Malloc)
        for (auto& e : m_items)
            Malloc->Free(e.list);
    m_items.clear();
}

void TPTPidlList::SetSorted(bool sorted)
{
    if (sorted == m_sorted)
        return;
    if (sorted)
        Sort();
    m_sorted = sorted;
}

int TPTPidlList::Compare(LPCITEMIDLIST a, LPCITEMIDLIST b) const
{
    if (ShellFolder) {
        const HRESULT hr = ShellFolder->CompareIDs(0, a, b);
        return HRESULT_CODE_SHORT(hr);
    }
    const UINT la = IdListLen(a), lb = IdListLen(b);
    const auto* pa = reinterpret_cast<const BYTE*>(a);
    const auto* pb = reinterpret_cast<const BYTE*>(b);
    for (UINT i = 0; i < std::min(la, lb); ++i)
        if (pa[i] != pb[i])
            return static_cast<int>(pa[i]) - static_cast<int>(pb[i]);
    return static_cast<int>(la) - static_cast<int>(lb);
}

void TPTPidlList::Sort()
{
    std::stable_sort(m_items.begin(), m_items.end(),
                     [this](const Entry& x, const Entry& y) { return Compare(x.list, y.list) < 0; });
}

int TPTPidlList::IndexOf(LPCITEMIDLIST list)
{
    int index = -1;
    const bool found = m_sorted ? BinarySearch(list, index) : LinearSearch(list, index);
    return found ? index : -1;
}

bool TPTPidlList::BinarySearch(LPCITEMIDLIST list, int& index)
{
    int low = 0, high = GetCount() - 1;
    bool found = false;
    while (low <= high) {
        const int middle = (low + high) / 2;
        const int c = Compare(m_items[static_cast<size_t>(middle)].list, list);
        if (c < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
            if (c == 0) {
                found = true;
                if (Duplicates != 1)
                    low = middle;
            }
        }
    }
    index = low;
    return found;
}

bool TPTPidlList::LinearSearch(LPCITEMIDLIST list, int& index)
{
    for (int i = 0; i < GetCount(); ++i)
        if (Compare(m_items[static_cast<size_t>(i)].list, list) == 0) {
            index = i;
            return true;
        }
    index = -1;
    return false;
}

// ---- shortcut files ----

HRESULT CreateShortcut(const std::string&, const TLinkData&)
{
    IUnknown* link = nullptr;
    return CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                            reinterpret_cast<void**>(&link));
}

HRESULT CreateQuickShortcut(const std::string& fileName, const std::string& target)
{
    TLinkData data;
    data.PathName = target;
    data.Options = LinkOption(ldoUseDesc) | LinkOption(ldoUseWorkDir);
    data.Description = target;
    data.WorkingDir = ExtractFilePath(target);
    return CreateShortcut(fileName, data);
}

HRESULT ResolveShortcut(const std::string&, TLinkData& data, bool)
{
    data.IdList = nullptr;
    IUnknown* link = nullptr;
    return CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                            reinterpret_cast<void**>(&link));
}

bool PTClsidFromFileType(const std::string&, CLSID&) { return false; }

// ---- drives ----

void FlushDriveInfoCache()
{
    if (gFlushDriveInfoSem != 0)
        return;
    LPITEMIDLIST list = nullptr;
    OleCheck(SHGetSpecialFolderLocation(0, csidlDrives, &list));
    IShellFolder* folder = nullptr;
    const HRESULT hr = ShellGetFolderFromIdList(list, folder);
    ShellMemFree(list);
    OleCheck(hr);
    ULONG attrs = SFGAO_VALIDATE;
    folder->GetAttributesOf(0, nullptr, &attrs);
    folder->Release();
}

void LockFlushDriveInfoCache() { ++gFlushDriveInfoSem; }
void UnlockFlushDriveInfoCache() { --gFlushDriveInfoSem; }

bool IsNetworkDriveConnected(const std::string& mountPoint)
{
    BYTE* buffer = nullptr;
    const std::u16string name = ShellUtf8ToWide(mountPoint);
    if (NetUseGetInfo(nullptr, name.c_str(), 1, &buffer) != NERR_Success)
        return false;
    const bool ok = reinterpret_cast<USE_INFO_1*>(buffer)->ui1_status == USE_OK;
    NetApiBufferFree(buffer);
    return ok;
}
