// The shell namespace over the Linux file system.
//
// Desktop (the empty list)
//   Computer                  kComputer; holds one kDrive per mounted file system that matters
//   <home folder>             kRootItem with the absolute path, flagged kHome
//   <items of XDG desktop>    kRootItem with the absolute path
// Below a drive or a root item, kFile items name the entries of each folder.
//
// One folder can be reached by several routes (the home folder by itself or
// through its drive). The desktop compares absolute lists by their canonical
// route: a path below the home folder goes through the home item, any other
// through the drive that holds it, so both routes compare equal.
#include "shlapps.h"
#include "shlobj.h"
#include "shldrop_p.h"
#include "shlmenu_p.h"
#include "shlmime_p.h"
#include "shlmounts.h"
#include "shlnotify.h"
#include "shlpidl_p.h"
#include "shlshares.h"
#include "shlui_p.h"

#include "rtl/sysutils.h"

#include <sys/stat.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

using namespace shellns;

namespace {

HRESULT HResultFromErrno(int err) { return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err)); }

std::string NormalisePath(const std::string& path)
{
    // Collapses repeated slashes, "." and ".." (lexically) and drops a trailing slash.
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/')
            ++i;
        const size_t start = i;
        while (i < path.size() && path[i] != '/')
            ++i;
        if (i == start)
            break;
        std::string part = path.substr(start, i - start);
        if (part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string JoinPath(const std::string& folder, std::string_view name)
{
    std::string out = folder;
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsUnder(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        return {};
    return NormalisePath(home);
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// XDG base and user folders.
std::string XdgBase(const char* variable, const char* fallbackBelowHome)
{
    const char* value = std::getenv(variable);
    if (value && value[0] == '/')
        return NormalisePath(value);
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : NormalisePath(home + "/" + fallbackBelowHome);
}

std::string XdgUserDir(const char* key, const char* fallbackBelowHome)
{
    const std::string home = HomeFolder();
    const std::string config = XdgBase("XDG_CONFIG_HOME", ".config");
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string prefix = std::string(key) + "=";
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0)
            continue;
        std::string value = line.substr(start + prefix.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return NormalisePath(value);
    }
    return home.empty() ? std::string() : NormalisePath(home + "/" + fallbackBelowHome);
}

// The desktop's folder in the file system: the XDG desktop folder, or the
// home folder when there is none (as the XDG rules say).
std::string DesktopDirectory()
{
    const std::string dir = XdgUserDir("XDG_DESKTOP_DIR", "Desktop");
    if (!dir.empty() && IsDirectory(dir))
        return dir;
    return HomeFolder();
}

// Names ordered the way a file manager orders them: letters without regard to
// case, runs of digits by their value; names that still tie are ordered by
// their bytes, so two distinct names never compare equal.
int NaturalCompare(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    int zerosTie = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (std::isdigit(ca) && std::isdigit(cb)) {
            size_t si = i, sj = j;
            while (si < a.size() && a[si] == '0')
                ++si;
            while (sj < b.size() && b[sj] == '0')
                ++sj;
            size_t ei = si, ej = sj;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            if (const int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj)); c != 0)
                return c < 0 ? -1 : 1;
            if (!zerosTie && (si - i) != (sj - j))
                zerosTie = (si - i) < (sj - j) ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        // Letters of ASCII alone fold, whatever the locale says.
        const int la = ca >= 'A' && ca <= 'Z' ? ca + ('a' - 'A') : ca;
        const int lb = cb >= 'A' && cb <= 'Z' ? cb + ('a' - 'A') : cb;
        if (la != lb)
            return la < lb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    if (zerosTie)
        return zerosTie;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

HRESULT CompareResult(int c) { return MAKE_HRESULT_SUCCESS(c < 0 ? -1 : (c > 0 ? 1 : 0)); }

std::string SizeText(std::uint64_t bytes)
{
    std::uint64_t kb = bytes / 1024 + (bytes % 1024 ? 1 : 0);
    std::string digits = std::to_string(kb);
    std::string grouped;
    for (size_t k = 0; k < digits.size(); ++k) {
        if (k && (digits.size() - k) % 3 == 0)
            grouped.push_back(',');
        grouped.push_back(digits[k]);
    }
    return grouped + "KB";
}

std::string ModifiedText(std::int64_t mtimeNs)
{
    const TDateTime t = UnixToLocalDateTime(static_cast<std::time_t>(mtimeNs / 1000000000));
    return DateToStr(t) + " " + TimeToStr(t);
}

// A text that fits the record's own buffer goes there (its bytes as they
// are: the ANSI code page is UTF-8), so a name costs no allocation; a longer
// one is allocated wide.
HRESULT SetStrRet(STRRET* name, std::string_view text)
{
    if (text.size() < sizeof name->cStr && text.find('\0') == std::string_view::npos) {
        name->uType = STRRET_CSTR;
        std::memcpy(name->cStr, text.data(), text.size());
        name->cStr[text.size()] = 0;
        return S_OK;
    }
    name->uType = STRRET_WSTR;
    name->pOleStr = ShellAllocWide(text);
    return name->pOleStr ? S_OK : E_OUTOFMEMORY;
}

// Which folders have a folder below them: a scan that stops at the first one
// (and, past a few thousand entries, assumes there is one).
bool HasSubFolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool found = false;
    int scanned = 0;
    while (dirent* e = ::readdir(dir)) {
        if (++scanned > 4096) {
            found = true;
            break;
        }
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        if (e->d_type == DT_DIR) {
            found = true;
            break;
        }
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode)) {
                found = true;
                break;
            }
        }
    }
    ::closedir(dir);
    return found;
}

// ---- route of an absolute path ----

struct Route {
    bool viaHome = false;
    std::string root;                    // the home folder or the drive's mount point
    std::vector<std::string> components; // names below it
};

ShellDrive DriveHolding(const std::string& path, const std::vector<ShellDrive>& drives)
{
    const ShellDrive* best = nullptr;
    for (const auto& d : drives)
        if (IsUnder(path, d.mountPoint) && (!best || d.mountPoint.size() > best->mountPoint.size()))
            best = &d;
    if (best)
        return *best;
    ShellDrive root;  // a mount table without "/" still has the root folder
    root.mountPoint = "/";
    root.type = DRIVE_FIXED;
    return root;
}

Route RouteOf(const std::string& absolutePath)
{
    Route r;
    const std::string path = NormalisePath(absolutePath);
    const std::string home = HomeFolder();
    std::string rest;
    if (!home.empty() && home != "/" && IsUnder(path, home)) {
        r.viaHome = true;
        r.root = home;
    } else {
        r.root = DriveHolding(path, ShellCurrentDrives()).mountPoint;
    }
    rest = path.substr(r.root == "/" ? 0 : r.root.size());
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && rest[i] == '/')
            ++i;
        const size_t start = i;
        while (i < rest.size() && rest[i] != '/')
            ++i;
        if (i > start)
            r.components.push_back(rest.substr(start, i - start));
    }
    return r;
}

// The path that an absolute list names; false for virtual items.
bool PathOfItems(const std::vector<Item>& items, std::string& path)
{
    if (items.empty()) {
        path = DesktopDirectory();
        return !path.empty();
    }
    size_t k = 0;
    if (items[0].kind == kComputer) {
        if (items.size() < 2 || items[1].kind != kDrive)
            return false;
        path = std::string(items[1].name);
        k = 2;
    } else if (items[0].kind == kRootItem) {
        path = std::string(items[0].name);
        k = 1;
    } else {
        return false;
    }
    for (; k < items.size(); ++k) {
        if (items[k].kind != kFile)
            return false;
        path = JoinPath(path, items[k].name);
    }
    return true;
}

// Builds the absolute list of an existing path along its canonical route.
// A symbolic link at the end is the item itself, followed or not: a dangling
// link and a link loop have their lists too.
HRESULT ListFromPath(const std::string& absolutePath, LPITEMIDLIST* ppidl)
{
    const std::string path = NormalisePath(absolutePath);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return HResultFromErrno(errno);
    const Route route = RouteOf(path);
    std::vector<BYTE> buffer;
    std::string current = route.root;
    if (route.viaHome) {
        EncodeItem(buffer, kRootItem, kFolder | kHome, 0, 0, route.root);
    } else {
        EncodeItem(buffer, kComputer, kFolder, 0, 0, {});
        EncodeItem(buffer, kDrive, kFolder, 0, 0, route.root);
    }
    for (const auto& name : route.components) {
        current = JoinPath(current, name);
        BYTE flags = 0;
        std::uint64_t size = 0;
        std::int64_t mtime = 0;
        if (!StatItem(-1, name.c_str(), current, flags, size, mtime))
            return HResultFromErrno(errno);
        if (!EncodeItem(buffer, kFile, flags, size, mtime, name))
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    *ppidl = MakeList(buffer);
    return *ppidl ? S_OK : E_OUTOFMEMORY;
}

// ---- comparison ----

constexpr const char* kComputerParsingName = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

struct Key {
    int rank = 0;
    std::string root;
    std::vector<std::string> names;
    bool lastIsFolder = true;
    const Item* last = nullptr;
};

int CompareNames(std::string_view a, bool aFolder, std::string_view b, bool bFolder)
{
    if (aFolder != bFolder)
        return aFolder ? -1 : 1;
    return NaturalCompare(a, b);
}

int CompareColumn(int column, const Item& a, const Item& b)
{
    const bool af = a.flags & kFolder, bf = b.flags & kFolder;
    if (af != bf)
        return af ? -1 : 1;
    switch (column) {
    case 1:
        if (a.size != b.size)
            return a.size < b.size ? -1 : 1;
        break;
    case 2: {
        const int c = FileTypeName(std::string(a.name), af).compare(FileTypeName(std::string(b.name), bf));
        if (c)
            return c < 0 ? -1 : 1;
        break;
    }
    case 3:
        if (a.mtimeNs != b.mtimeNs)
            return a.mtimeNs < b.mtimeNs ? -1 : 1;
        break;
    default:
        break;
    }
    return NaturalCompare(a.name, b.name);
}

// Relative lists below one folder: level by level.
int CompareRelative(int column, const std::vector<Item>& a, size_t ia, const std::vector<Item>& b, size_t ib)
{
    for (;; ++ia, ++ib) {
        if (ia == a.size() || ib == b.size())
            return ia == a.size() ? (ib == b.size() ? 0 : -1) : 1;
        const int c = (ia + 1 == a.size() && ib + 1 == b.size()) ? CompareColumn(column, a[ia], b[ib])
                                                                 : CompareColumn(0, a[ia], b[ib]);
        if (c)
            return c;
    }
}

// Renames one entry of a folder as SetNameOf asks: never over an existing
// item, a name the file system refuses with its reason, told to the user
// when the call names an owner window.
HRESULT RenameEntry(HWND owner, const std::string& folder, const std::string& oldName, LPCWSTR newName,
    std::string& newPath)
{
    const std::string name = newName ? ShellWideToUtf8(newName) : std::string();
    const std::string from = JoinPath(folder, oldName);
    HRESULT hr = S_OK;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        hr = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    else if (!RenameFile(from, JoinPath(folder, name)))
        hr = HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    if (FAILED(hr)) {
        if (owner)
            shellui::Error("Cannot rename \"" + oldName + "\" to \"" + name + "\": "
                    + SysErrorMessage(static_cast<DWORD>(hr) & 0xFFFF) + ".",
                "Error Renaming File or Folder");
        return hr;
    }
    newPath = JoinPath(folder, name);
    return S_OK;
}

class FolderBase;
HRESULT NewFolderForPath(const std::string& path, REFIID riid, void** ppv);
HRESULT NewComputerFolder(REFIID riid, void** ppv);

// ---- enumerators ----

class ListEnum final : public TComObject<IEnumIDList> {
public:
    explicit ListEnum(std::vector<std::vector<BYTE>> items) : m_items(std::move(items)) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IEnumIDList}); }
    HRESULT Next(ULONG celt, LPITEMIDLIST* rgelt, ULONG* fetched) override
    {
        if (!rgelt || (celt > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < celt && m_pos < m_items.size()) {
            rgelt[n] = MakeList(m_items[m_pos++]);
            if (!rgelt[n])
                break;
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override
    {
        const size_t left = m_items.size() - m_pos;
        m_pos += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        m_pos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumIDList** out) override
    {
        if (!out)
            return E_POINTER;
        auto* clone = new ListEnum(m_items);
        clone->m_pos = m_pos;
        clone->AddRef();
        *out = clone;
        return S_OK;
    }

private:
    std::vector<std::vector<BYTE>> m_items;
    size_t m_pos = 0;
};

// Streams the entries of one folder; each Next reads and stats the next entries.
// The entries of a file-system folder, in the order of their names: the
// whole folder is read at the first request and its names sorted, so that
// the items come in the order a list shows them and their lists lie in
// memory in that order (a walk over many rows then reads memory in turn).
class DirEnum final : public TComObject<IEnumIDList> {
public:
    DirEnum(std::string path, DIR* dir, DWORD flags) : m_path(std::move(path)), m_dir(dir), m_flags(flags) {}
    ~DirEnum() { ::closedir(m_dir); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IEnumIDList}); }
    HRESULT Next(ULONG celt, LPITEMIDLIST* rgelt, ULONG* fetched) override
    {
        if (!rgelt || (celt > 1 && !fetched))
            return E_POINTER;
        if (!m_read)
            ReadNames();
        ULONG n = 0;
        std::vector<BYTE> buffer;
        while (n < celt && m_next < m_order.size()) {
            const Entry& e = m_entries[m_order[m_next++]];
            const char* name = m_names.c_str() + e.offset;
            BYTE flags = 0;
            std::uint64_t size = 0;
            std::int64_t mtime = 0;
            if (!StatItem(::dirfd(m_dir), name, std::string(), flags, size, mtime))
                continue;  // the entry went away since the folder was read
            const bool folder = flags & kFolder;
            if (folder ? !(m_flags & SHCONTF_FOLDERS) : !(m_flags & SHCONTF_NONFOLDERS))
                continue;
            buffer.clear();
            if (!EncodeItem(buffer, kFile, flags, size, mtime, std::string_view(name, e.length)))
                continue;
            rgelt[n] = MakeList(buffer);
            if (!rgelt[n])
                break;
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override
    {
        for (ULONG k = 0; k < celt; ++k) {
            LPITEMIDLIST item = nullptr;
            if (Next(1, &item, nullptr) != S_OK)
                return S_FALSE;
            CoTaskMemFree(item);
        }
        return S_OK;
    }
    HRESULT Reset() override
    {
        ::rewinddir(m_dir);
        m_read = false;
        return S_OK;
    }
    HRESULT Clone(IEnumIDList**) override { return E_NOTIMPL; }

private:
    struct Entry {
        std::size_t offset;  // of the name in m_names
        std::size_t length;
    };
    void ReadNames()
    {
        m_read = true;
        m_names.clear();
        m_entries.clear();
        m_order.clear();
        m_next = 0;
        while (dirent* e = ::readdir(m_dir)) {
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            if (name[0] == '.' && !(m_flags & SHCONTF_INCLUDEHIDDEN))
                continue;
            // An enumeration of folders alone passes over the entries the
            // directory itself calls files without asking about each.
            if (!(m_flags & SHCONTF_NONFOLDERS) && e->d_type != DT_DIR && e->d_type != DT_LNK
                && e->d_type != DT_UNKNOWN)
                continue;
            const std::size_t length = std::strlen(name);
            m_entries.push_back({m_names.size(), length});
            m_names.append(name, length + 1);
        }
        m_order.resize(m_entries.size());
        for (std::size_t k = 0; k < m_order.size(); ++k)
            m_order[k] = k;
        std::sort(m_order.begin(), m_order.end(), [this](std::size_t a, std::size_t b) {
            return NaturalCompare(NameOf(a), NameOf(b)) < 0;
        });
    }
    std::string_view NameOf(std::size_t k) const
    {
        return std::string_view(m_names.data() + m_entries[k].offset, m_entries[k].length);
    }
    std::string m_path;
    DIR* m_dir;
    DWORD m_flags;
    bool m_read = false;
    std::string m_names;
    std::vector<Entry> m_entries;
    std::vector<std::size_t> m_order;
    std::size_t m_next = 0;
};

// ---- folders ----

class FolderBase : public TComObject<IShellFolder2> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IShellFolder, &IID_IShellFolder2}); }

    HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void** ppv) override
    {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CreateViewObject(HWND, REFIID, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Items of the file system have a context menu, and folders among them
    // a drop target; icon extractors are not objects of this namespace.
    HRESULT GetUIObjectOf(HWND owner, UINT cidl, LPCITEMIDLIST* apidl, REFIID riid, UINT*, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IDropTarget)
            return DropTargetOf(owner, cidl, apidl, ppv);
        if (riid != IID_IContextMenu)
            return E_NOINTERFACE;
        if (cidl == 0 || !apidl)
            return E_INVALIDARG;
        std::vector<shellmenu::Item> items;
        for (UINT k = 0; k < cidl; ++k) {
            std::vector<Item> list;
            if (!apidl[k] || !DecodeList(apidl[k], list) || list.empty())
                return E_INVALIDARG;
            shellmenu::Item item;
            if (!PathOf(list, item.path))
                return E_NOINTERFACE;  // a virtual item has no menu of its own
            item.attributes = 0;
            const HRESULT hr = AttributesOf(list, SFGAO_CAPABILITYMASK | SFGAO_FOLDER | SFGAO_FILESYSTEM, item.attributes);
            if (FAILED(hr))
                return hr;
            items.push_back(std::move(item));
        }
        return shellmenu::CreateContextMenu(std::move(items), riid, ppv);
    }

    // A file-system folder (or a link to one) takes drops, and so does a
    // desktop file that links to a folder or starts an application.
    HRESULT DropTargetOf(HWND owner, UINT cidl, LPCITEMIDLIST* apidl, void** ppv)
    {
        std::vector<Item> list;
        if (cidl != 1 || !apidl || !apidl[0] || !DecodeList(apidl[0], list) || list.empty())
            return E_INVALIDARG;
        std::string path;
        if (!PathOf(list, path))
            return E_NOINTERFACE;
        if (IsDirectory(path))
            return shelldrop::CreateFolderDropTarget(owner, path, IID_IDropTarget, ppv);
        if (EndsWithDesktop(path))
            return shelldrop::CreateDesktopEntryDropTarget(owner, path, IID_IDropTarget, ppv);
        return E_NOINTERFACE;
    }

    static bool EndsWithDesktop(const std::string& path)
    {
        static constexpr char kSuffix[] = ".desktop";
        const size_t n = sizeof kSuffix - 1;
        return path.size() > n && path.compare(path.size() - n, n, kSuffix) == 0;
    }

    HRESULT BindToObject(LPCITEMIDLIST pidl, IBindCtx*, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        std::vector<Item> items;
        if (!pidl || !DecodeList(pidl, items) || items.empty())
            return E_INVALIDARG;
        return BindItems(items, 0, riid, ppv);
    }

    HRESULT GetAttributesOf(UINT cidl, LPCITEMIDLIST* apidl, ULONG* rgfInOut) override
    {
        if (!rgfInOut)
            return E_POINTER;
        const ULONG asked = *rgfInOut;
        if (cidl == 0)
            return S_OK;
        if (!apidl) {
            *rgfInOut = 0;
            return E_INVALIDARG;
        }
        ULONG result = ~0u;
        for (UINT k = 0; k < cidl; ++k) {
            std::vector<Item> items;
            if (!apidl[k] || !DecodeList(apidl[k], items) || items.empty()) {
                *rgfInOut = 0;
                return E_INVALIDARG;
            }
            ULONG attrs = 0;
            const HRESULT hr = AttributesOf(items, asked, attrs);
            if (FAILED(hr)) {
                *rgfInOut = 0;
                return hr;
            }
            result &= attrs;
        }
        *rgfInOut = result & (asked | SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_CAPABILITYMASK |
                              SFGAO_LINK | SFGAO_HIDDEN | SFGAO_STREAM) & ~SFGAO_VALIDATE;
        *rgfInOut &= asked;
        return S_OK;
    }

    HRESULT GetDisplayNameOf(LPCITEMIDLIST pidl, DWORD uFlags, STRRET* name) override
    {
        if (!name)
            return E_POINTER;
        // Kept between calls, as the names of many items are asked in turn.
        thread_local std::vector<Item> items;
        thread_local std::string text;
        if (!DecodeList(pidl, items))
            return E_INVALIDARG;
        text.clear();
        const HRESULT hr = DisplayNameOf(items, uFlags, text);
        if (FAILED(hr))
            return hr;
        return SetStrRet(name, text);
    }

    HRESULT CompareIDs(LPARAM lParam, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) override
    {
        // Kept between calls: a sort compares many times, and decoding
        // allocates nothing once these have room.
        thread_local std::vector<Item> a, b;
        if (!DecodeList(pidl1, a) || !DecodeList(pidl2, b))
            return E_INVALIDARG;
        const int column = static_cast<int>(lParam & SHCIDS_COLUMNMASK);
        if (column > 3)
            return E_INVALIDARG;
        return CompareResult(CompareItems(column, a, b));
    }

    // The order of many lists by CompareItems, each list decoded once; false
    // when a list is not one of ours (the caller then asks pair by pair).
    // With typesOnce (a file-system folder, whose single-level items compare
    // by CompareColumn) the type column names each item's type once.
    bool SortLists(int column, bool descending, const std::vector<LPCITEMIDLIST>& lists, std::vector<std::size_t>& order,
        bool typesOnce)
    {
        if (column < 0 || column > 3)
            return false;
        std::vector<std::vector<Item>> decoded(lists.size());
        for (std::size_t k = 0; k < lists.size(); ++k)
            if (!DecodeList(lists[k], decoded[k]))
                return false;
        // The type column names each file's type; it is found once per item.
        std::vector<std::string> types;
        typesOnce = typesOnce && column == 2;
        if (typesOnce) {
            types.resize(lists.size());
            for (std::size_t k = 0; k < lists.size(); ++k)
                if (!decoded[k].empty())
                    types[k] = FileTypeName(std::string(decoded[k].back().name), decoded[k].back().flags & kFolder);
        }
        const auto before = [&](std::size_t x, std::size_t y) {
            int c;
            if (typesOnce && decoded[x].size() == 1 && decoded[y].size() == 1) {
                const bool fx = decoded[x][0].flags & kFolder, fy = decoded[y][0].flags & kFolder;
                c = fx != fy ? (fx ? -1 : 1) : types[x].compare(types[y]);
                if (fx == fy && c == 0)
                    c = NaturalCompare(decoded[x][0].name, decoded[y][0].name);
            } else {
                c = CompareItems(column, decoded[x], decoded[y]);
            }
            return descending ? c > 0 : c < 0;
        };
        // Lists that come in order already (a folder's items, in the order
        // of their names) cost one comparison each.
        if (!std::is_sorted(order.begin(), order.end(), before))
            std::stable_sort(order.begin(), order.end(), before);
        return true;
    }

    HRESULT SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, DWORD, LPITEMIDLIST* ppidlOut) override
    {
        if (ppidlOut)
            *ppidlOut = nullptr;
        return E_NOTIMPL;
    }

    // IShellFolder2: the four columns of a file list.
    HRESULT GetDefaultSearchGUID(GUID*) override { return E_NOTIMPL; }
    HRESULT EnumSearches(IUnknown** ppenum) override
    {
        if (ppenum)
            *ppenum = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDefaultColumn(DWORD, ULONG* pSort, ULONG* pDisplay) override
    {
        if (!pSort || !pDisplay)
            return E_POINTER;
        *pSort = 0;
        *pDisplay = 0;
        return S_OK;
    }
    HRESULT GetDefaultColumnState(UINT iColumn, DWORD* pcsFlags) override
    {
        if (!pcsFlags)
            return E_POINTER;
        static const DWORD states[] = {SHCOLSTATE_TYPE_STR, SHCOLSTATE_TYPE_INT, SHCOLSTATE_TYPE_STR,
                                       SHCOLSTATE_TYPE_DATE};
        if (iColumn >= 4)
            return E_INVALIDARG;
        *pcsFlags = states[iColumn] | SHCOLSTATE_ONBYDEFAULT;
        return S_OK;
    }
    HRESULT GetDetailsEx(LPCITEMIDLIST, const SHCOLUMNID*, void*) override { return E_NOTIMPL; }
    HRESULT MapColumnToSCID(UINT, SHCOLUMNID*) override { return E_NOTIMPL; }
    HRESULT GetDetailsOf(LPCITEMIDLIST pidl, UINT iColumn, SHELLDETAILS* psd) override
    {
        if (!psd)
            return E_POINTER;
        if (iColumn >= 4)
            return E_INVALIDARG;
        static const char* titles[] = {"Name", "Size", "Type", "Modified"};
        // In characters. A size reads like "1,048,576 KB" for a gigabyte.
        static const int widths[] = {25, 14, 20, 20};
        psd->fmt = iColumn == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        psd->cxChar = widths[iColumn];
        if (!pidl)
            return SetStrRet(&psd->str, titles[iColumn]);
        std::vector<Item> items;
        if (!DecodeList(pidl, items) || items.empty())
            return E_INVALIDARG;
        const Item& last = items.back();
        const bool folder = last.flags & kFolder;
        std::string text;
        switch (iColumn) {
        case 0: {
            const HRESULT hr = DisplayNameOf(items, SHGDN_INFOLDER, text);
            if (FAILED(hr))
                return hr;
            break;
        }
        case 1:
            if (last.kind == kFile && !folder)
                text = SizeText(last.size);
            break;
        case 2:
            text = last.kind == kComputer ? "System Folder"
                 : last.kind == kDrive    ? "Local Disk"
                                          : FileTypeName(std::string(last.name), folder);
            break;
        case 3:
            if (last.kind == kFile || (last.kind == kRootItem && last.mtimeNs))
                text = ModifiedText(last.mtimeNs);
            break;
        }
        return SetStrRet(&psd->str, text);
    }

public:
    // The attributes of one relative list below this folder.
    virtual HRESULT AttributesOf(const std::vector<Item>& items, ULONG asked, ULONG& attrs) = 0;
    virtual HRESULT DisplayNameOf(const std::vector<Item>& items, DWORD flags, std::string& text) = 0;
    virtual int CompareItems(int column, const std::vector<Item>& a, const std::vector<Item>& b) = 0;
    // Binds the relative list from index `from` on.
    virtual HRESULT BindItems(const std::vector<Item>& items, size_t from, REFIID riid, void** ppv) = 0;
    // The file-system path of a relative list; false for virtual items.
    virtual bool PathOf(const std::vector<Item>& items, std::string& path) = 0;

protected:
    static HRESULT FileAttributes(const std::string& path, const Item& item, ULONG asked, ULONG& attrs)
    {
        BYTE flags = item.flags;
        if (asked & SFGAO_VALIDATE) {
            std::uint64_t size;
            std::int64_t mtime;
            const std::string name = BaseName(path);
            if (!StatItem(-1, name.c_str(), path, flags, size, mtime))
                return HResultFromErrno(errno);
            flags = static_cast<BYTE>((flags & ~kHidden) | (item.flags & kHidden));
        }
        attrs = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK | SFGAO_CANRENAME | SFGAO_CANDELETE |
                SFGAO_HASPROPSHEET | SFGAO_FILESYSTEM;
        if (flags & kFolder) {
            attrs |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_DROPTARGET | SFGAO_STORAGE;
            if ((asked & SFGAO_HASSUBFOLDER) && HasSubFolder(path))
                attrs |= SFGAO_HASSUBFOLDER;
            if ((asked & SFGAO_SHARE) && ShellIsSharedFolder(path))
                attrs |= SFGAO_SHARE;
        } else {
            attrs |= SFGAO_STREAM;
        }
        if (flags & kLink)
            attrs |= SFGAO_LINK;
        if (flags & kHidden)
            attrs |= SFGAO_HIDDEN;
        if (flags & kReadOnly)
            attrs |= SFGAO_READONLY;
        return S_OK;
    }

};

// A folder of the file system: its relative lists are kFile items.
class FsFolder final : public FolderBase {
public:
    explicit FsFolder(std::string path) : m_path(std::move(path)) {}

    HRESULT ParseDisplayName(HWND, IBindCtx*, LPCWSTR text, ULONG* eaten, LPITEMIDLIST* ppidl,
                             ULONG* attributes) override
    {
        if (!ppidl)
            return E_POINTER;
        *ppidl = nullptr;
        if (!text || !*text)
            return E_INVALIDARG;
        const std::string relative = ShellWideToUtf8(text);
        if (relative[0] == '/')
            return E_INVALIDARG;
        std::vector<BYTE> buffer;
        std::string current = m_path;
        size_t i = 0;
        while (i < relative.size()) {
            const size_t start = i;
            while (i < relative.size() && relative[i] != '/')
                ++i;
            const std::string name = relative.substr(start, i - start);
            ++i;
            if (name.empty() || name == ".")
                continue;
            if (name == "..")
                return E_INVALIDARG;
            current = JoinPath(current, name);
            BYTE flags;
            std::uint64_t size = 0;
            std::int64_t mtime;
            if (!StatItem(-1, name.c_str(), current, flags, size, mtime))
                return HResultFromErrno(errno);
            if (!EncodeItem(buffer, kFile, flags, size, mtime, name))
                return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        if (buffer.empty())
            return E_INVALIDARG;
        *ppidl = MakeList(buffer);
        if (!*ppidl)
            return E_OUTOFMEMORY;
        if (eaten)
            *eaten = static_cast<ULONG>(std::char_traits<char16_t>::length(text));
        if (attributes && *attributes) {
            LPCITEMIDLIST one = *ppidl;
            GetAttributesOf(1, &one, attributes);
        }
        return S_OK;
    }

    HRESULT EnumObjects(HWND, DWORD grfFlags, IEnumIDList** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return HResultFromErrno(errno);
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            const int err = errno;
            ::close(fd);
            return HResultFromErrno(err);
        }
        ShellNoteFolderLoaded(m_path);
        auto* e = new DirEnum(m_path, dir, grfFlags);
        e->AddRef();
        *out = e;
        return S_OK;
    }

    HRESULT SetNameOf(HWND owner, LPCITEMIDLIST pidl, LPCWSTR newName, DWORD, LPITEMIDLIST* ppidlOut) override
    {
        if (ppidlOut)
            *ppidlOut = nullptr;
        std::vector<Item> items;
        if (!DecodeList(pidl, items) || items.size() != 1 || items[0].kind != kFile || !newName)
            return E_INVALIDARG;
        std::string newPath;
        // Renaming never replaces an existing item.
        const HRESULT hr = RenameEntry(owner, m_path, std::string(items[0].name), newName, newPath);
        if (FAILED(hr))
            return hr;
        const std::string name = BaseName(newPath);
        if (ppidlOut) {
            std::vector<BYTE> buffer;
            BYTE flags;
            std::uint64_t size = 0;
            std::int64_t mtime;
            if (StatItem(-1, name.c_str(), JoinPath(m_path, name), flags, size, mtime) &&
                EncodeItem(buffer, kFile, flags, size, mtime, name))
                *ppidlOut = MakeList(buffer);
        }
        return S_OK;
    }

    const std::string& Path() const { return m_path; }

    bool PathOf(const std::vector<Item>& items, std::string& path) override
    {
        path = m_path;
        for (const auto& item : items) {
            if (item.kind != kFile)
                return false;
            path = JoinPath(path, item.name);
        }
        return true;
    }

    HRESULT AttributesOf(const std::vector<Item>& items, ULONG asked, ULONG& attrs) override
    {
        std::string path = m_path;
        for (const auto& item : items) {
            if (item.kind != kFile)
                return E_INVALIDARG;
            path = JoinPath(path, item.name);
        }
        return FileAttributes(path, items.back(), asked, attrs);
    }
    HRESULT DisplayNameOf(const std::vector<Item>& items, DWORD flags, std::string& text) override
    {
        if (items.empty()) {
            text = (flags & SHGDN_FORPARSING) ? m_path : BaseName(m_path);
            return S_OK;
        }
        for (const auto& item : items)
            if (item.kind != kFile)
                return E_INVALIDARG;
        if ((flags & SHGDN_FORPARSING) && !(flags & SHGDN_INFOLDER)) {
            std::string path = m_path;
            for (const auto& item : items)
                path = JoinPath(path, item.name);
            text = path;
        } else
            text.assign(items.back().name);
        return S_OK;
    }
    int CompareItems(int column, const std::vector<Item>& a, const std::vector<Item>& b) override
    {
        return CompareRelative(column, a, 0, b, 0);
    }
    HRESULT BindItems(const std::vector<Item>& items, size_t from, REFIID riid, void** ppv) override
    {
        std::string path = m_path;
        for (size_t k = from; k < items.size(); ++k) {
            if (items[k].kind != kFile || !(items[k].flags & kFolder))
                return E_INVALIDARG;
            path = JoinPath(path, items[k].name);
        }
        return NewFolderForPath(path, riid, ppv);
    }

private:
    std::string m_path;
};

// "Computer": one item per drive.
class ComputerFolder final : public FolderBase {
public:
    HRESULT ParseDisplayName(HWND, IBindCtx*, LPCWSTR, ULONG*, LPITEMIDLIST* ppidl, ULONG*) override
    {
        if (ppidl)
            *ppidl = nullptr;
        return E_INVALIDARG;
    }
    HRESULT EnumObjects(HWND, DWORD grfFlags, IEnumIDList** out) override
    {
        if (!out)
            return E_POINTER;
        std::vector<std::vector<BYTE>> items;
        if (grfFlags & SHCONTF_FOLDERS)
            for (const auto& d : ShellCurrentDrives()) {
                std::vector<BYTE> item;
                if (EncodeItem(item, kDrive, kFolder, 0, 0, d.mountPoint))
                    items.push_back(std::move(item));
            }
        auto* e = new ListEnum(std::move(items));
        e->AddRef();
        *out = e;
        return S_OK;
    }

    HRESULT AttributesOf(const std::vector<Item>& items, ULONG asked, ULONG& attrs) override
    {
        if (items[0].kind != kDrive)
            return E_INVALIDARG;
        const std::string mountPoint(items[0].name);
        if (items.size() > 1) {
            std::string path = mountPoint;
            for (size_t k = 1; k < items.size(); ++k) {
                if (items[k].kind != kFile)
                    return E_INVALIDARG;
                path = JoinPath(path, items[k].name);
            }
            return FileAttributes(path, items.back(), asked, attrs);
        }
        if ((asked & SFGAO_VALIDATE) && !IsDirectory(mountPoint))
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        attrs = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_DROPTARGET | SFGAO_HASPROPSHEET |
                SFGAO_CANLINK | SFGAO_CANCOPY | SFGAO_STORAGE;
        if ((asked & SFGAO_HASSUBFOLDER) && HasSubFolder(mountPoint))
            attrs |= SFGAO_HASSUBFOLDER;
        if ((asked & SFGAO_SHARE) && ShellIsSharedFolder(mountPoint))
            attrs |= SFGAO_SHARE;
        const UINT type = DriveType(mountPoint);
        if (type == DRIVE_REMOVABLE || type == DRIVE_CDROM)
            attrs |= SFGAO_REMOVABLE;
        if (::access(mountPoint.c_str(), W_OK) != 0 && ::geteuid() != 0)
            attrs |= SFGAO_READONLY;
        return S_OK;
    }
    HRESULT DisplayNameOf(const std::vector<Item>& items, DWORD flags, std::string& text) override
    {
        if (items.empty()) {
            text = (flags & SHGDN_FORPARSING) ? kComputerParsingName : "Computer";
            return S_OK;
        }
        if (items[0].kind != kDrive)
            return E_INVALIDARG;
        if (items.size() == 1) {
            const std::string mountPoint(items[0].name);
            if (flags & SHGDN_FORPARSING) {
                text = mountPoint;
            } else {
                text = mountPoint;
                for (const auto& d : ShellCurrentDrives())
                    if (d.mountPoint == mountPoint && !d.label.empty())
                        text = d.label;
            }
            return S_OK;
        }
        FsFolder parent(std::string(items[0].name));
        return parent.DisplayNameOf(std::vector<Item>(items.begin() + 1, items.end()), flags, text);
    }
    int CompareItems(int column, const std::vector<Item>& a, const std::vector<Item>& b) override
    {
        if (a.empty() || b.empty())
            return a.empty() ? (b.empty() ? 0 : -1) : 1;
        if (const int c = NaturalCompare(a[0].name, b[0].name))
            return c;
        return CompareRelative(column, a, 1, b, 1);
    }
    HRESULT BindItems(const std::vector<Item>& items, size_t from, REFIID riid, void** ppv) override
    {
        if (items[from].kind != kDrive)
            return E_INVALIDARG;
        FsFolder drive{std::string(items[from].name)};
        return drive.BindItems(items, from + 1, riid, ppv);
    }

    bool PathOf(const std::vector<Item>& items, std::string& path) override
    {
        if (items[0].kind != kDrive)
            return false;
        path = std::string(items[0].name);
        for (size_t k = 1; k < items.size(); ++k) {
            if (items[k].kind != kFile)
                return false;
            path = JoinPath(path, items[k].name);
        }
        return true;
    }

    static UINT DriveType(const std::string& mountPoint)
    {
        for (const auto& d : ShellCurrentDrives())
            if (d.mountPoint == mountPoint)
                return d.type;
        return DRIVE_UNKNOWN;
    }
};

// The desktop: Computer, the home folder and the items of the XDG desktop folder.
class DesktopFolder final : public FolderBase {
public:
    HRESULT ParseDisplayName(HWND, IBindCtx*, LPCWSTR text, ULONG* eaten, LPITEMIDLIST* ppidl,
                             ULONG* attributes) override
    {
        if (!ppidl)
            return E_POINTER;
        *ppidl = nullptr;
        if (!text || !*text)
            return E_INVALIDARG;
        std::string path = ShellWideToUtf8(text);
        if (path == kComputerParsingName) {
            std::vector<BYTE> buffer;
            EncodeItem(buffer, kComputer, kFolder, 0, 0, {});
            *ppidl = MakeList(buffer);
            return *ppidl ? S_OK : E_OUTOFMEMORY;
        }
        if (path.rfind("file://", 0) == 0)
            path = path.substr(7);
        if (path.empty() || path[0] != '/')
            return E_INVALIDARG;
        const HRESULT hr = ListFromPath(path, ppidl);
        if (FAILED(hr))
            return hr;
        if (eaten)
            *eaten = static_cast<ULONG>(std::char_traits<char16_t>::length(text));
        if (attributes && *attributes) {
            LPCITEMIDLIST one = *ppidl;
            GetAttributesOf(1, &one, attributes);
        }
        return S_OK;
    }

    HRESULT EnumObjects(HWND, DWORD grfFlags, IEnumIDList** out) override
    {
        if (!out)
            return E_POINTER;
        std::vector<std::vector<BYTE>> items;
        const std::string home = HomeFolder();
        if (grfFlags & SHCONTF_FOLDERS) {
            std::vector<BYTE> computer;
            EncodeItem(computer, kComputer, kFolder, 0, 0, {});
            items.push_back(std::move(computer));
            if (!home.empty() && IsDirectory(home)) {
                std::vector<BYTE> item;
                EncodeItem(item, kRootItem, kFolder | kHome, 0, 0, home);
                items.push_back(std::move(item));
            }
        }
        const std::string desktop = DesktopDirectory();
        if (!desktop.empty() && desktop != home) {
            if (DIR* dir = ::opendir(desktop.c_str())) {
                ShellNoteFolderLoaded(desktop);
                while (dirent* e = ::readdir(dir)) {
                    const char* name = e->d_name;
                    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                        continue;
                    if (name[0] == '.' && !(grfFlags & SHCONTF_INCLUDEHIDDEN))
                        continue;
                    BYTE flags;
                    std::uint64_t size = 0;
                    std::int64_t mtime;
                    const std::string path = JoinPath(desktop, name);
                    if (!StatItem(::dirfd(dir), name, path, flags, size, mtime))
                        continue;
                    if ((flags & kFolder) ? !(grfFlags & SHCONTF_FOLDERS) : !(grfFlags & SHCONTF_NONFOLDERS))
                        continue;
                    std::vector<BYTE> item;
                    if (EncodeItem(item, kRootItem, flags, size, mtime, path))
                        items.push_back(std::move(item));
                }
                ::closedir(dir);
            }
        }
        auto* e = new ListEnum(std::move(items));
        e->AddRef();
        *out = e;
        return S_OK;
    }

    HRESULT AttributesOf(const std::vector<Item>& items, ULONG asked, ULONG& attrs) override
    {
        switch (items[0].kind) {
        case kComputer: {
            if (items.size() == 1) {
                attrs = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASPROPSHEET | SFGAO_CANLINK;
                return S_OK;
            }
            ComputerFolder computer;
            return computer.AttributesOf(std::vector<Item>(items.begin() + 1, items.end()), asked, attrs);
        }
        case kRootItem: {
            std::string path(items[0].name);
            for (size_t k = 1; k < items.size(); ++k) {
                if (items[k].kind != kFile)
                    return E_INVALIDARG;
                path = JoinPath(path, items[k].name);
            }
            const HRESULT hr = FileAttributes(path, items.back(), asked, attrs);
            if (SUCCEEDED(hr) && items.size() == 1 && (items[0].flags & kHome))
                attrs &= ~(SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE);
            return hr;
        }
        default:
            return E_INVALIDARG;
        }
    }
    HRESULT DisplayNameOf(const std::vector<Item>& items, DWORD flags, std::string& text) override
    {
        if (items.empty()) {
            text = (flags & SHGDN_FORPARSING) ? DesktopDirectory() : "Desktop";
            return S_OK;
        }
        if (items[0].kind == kComputer) {
            ComputerFolder computer;
            return computer.DisplayNameOf(std::vector<Item>(items.begin() + 1, items.end()), flags, text);
        }
        if (items[0].kind != kRootItem)
            return E_INVALIDARG;
        const std::string root(items[0].name);
        if (items.size() == 1) {
            if ((flags & SHGDN_FORPARSING) && !(flags & SHGDN_INFOLDER))
                text = root;
            else if ((items[0].flags & kHome) && !(flags & (SHGDN_FORPARSING | SHGDN_FOREDITING)))
                text = "Home";
            else
                text = BaseName(root);
            return S_OK;
        }
        FsFolder folder(root);
        return folder.DisplayNameOf(std::vector<Item>(items.begin() + 1, items.end()), flags, text);
    }
    int CompareItems(int column, const std::vector<Item>& a, const std::vector<Item>& b) override
    {
        if (a.empty() || b.empty())
            return a.empty() ? (b.empty() ? 0 : -1) : 1;
        const Key ka = KeyOf(a), kb = KeyOf(b);
        if (ka.rank != kb.rank)
            return ka.rank < kb.rank ? -1 : 1;
        if (ka.root != kb.root)
            return NaturalCompare(ka.root, kb.root);
        for (size_t k = 0;; ++k) {
            if (k == ka.names.size() || k == kb.names.size())
                return k == ka.names.size() ? (k == kb.names.size() ? 0 : -1) : 1;
            const bool lastA = k + 1 == ka.names.size(), lastB = k + 1 == kb.names.size();
            const bool folderA = lastA ? ka.lastIsFolder : true, folderB = lastB ? kb.lastIsFolder : true;
            if (ka.names[k] == kb.names[k] && folderA == folderB)
                continue;
            if (lastA && lastB && column)
                return CompareColumn(column, *ka.last, *kb.last);
            return CompareNames(ka.names[k], folderA, kb.names[k], folderB);
        }
    }
    HRESULT BindItems(const std::vector<Item>& items, size_t from, REFIID riid, void** ppv) override
    {
        const Item& first = items[from];
        if (first.kind == kComputer) {
            if (from + 1 == items.size())
                return NewComputerFolder(riid, ppv);
            ComputerFolder computer;
            return computer.BindItems(items, from + 1, riid, ppv);
        }
        if (first.kind != kRootItem || !(first.flags & kFolder))
            return E_INVALIDARG;
        FsFolder root{std::string(first.name)};
        if (from + 1 == items.size())
            return NewFolderForPath(root.Path(), riid, ppv);
        return root.BindItems(items, from + 1, riid, ppv);
    }

    bool PathOf(const std::vector<Item>& items, std::string& path) override { return PathOfItems(items, path); }

    // The entries of the desktop folder can be renamed; Computer and the
    // home folder cannot.
    HRESULT SetNameOf(HWND owner, LPCITEMIDLIST pidl, LPCWSTR newName, DWORD, LPITEMIDLIST* ppidlOut) override
    {
        if (ppidlOut)
            *ppidlOut = nullptr;
        std::vector<Item> items;
        if (!DecodeList(pidl, items) || items.size() != 1 || !newName)
            return E_INVALIDARG;
        if (items[0].kind != kRootItem || (items[0].flags & kHome))
            return E_ACCESSDENIED;
        const std::string path(items[0].name);
        std::string newPath;
        const HRESULT hr = RenameEntry(owner, DirOf(path), BaseName(path), newName, newPath);
        if (FAILED(hr))
            return hr;
        if (ppidlOut) {
            std::vector<BYTE> buffer;
            BYTE flags;
            std::uint64_t size = 0;
            std::int64_t mtime;
            const std::string name = BaseName(newPath);
            if (StatItem(-1, name.c_str(), newPath, flags, size, mtime)
                && EncodeItem(buffer, kRootItem, flags, size, mtime, newPath))
                *ppidlOut = MakeList(buffer);
        }
        return S_OK;
    }

private:
    static std::string DirOf(const std::string& path)
    {
        const size_t slash = path.find_last_of('/');
        return slash == 0 ? std::string("/") : path.substr(0, slash);
    }

    // The canonical route of an absolute list: rank 0 for Computer and the
    // drives below it, 1 for the home folder and everything below it.
    static Key KeyOf(const std::vector<Item>& items)
    {
        Key key;
        key.last = &items.back();
        key.lastIsFolder = items.back().flags & kFolder;
        if (items[0].kind == kComputer && items.size() == 1)
            return key;
        std::string path;
        if (!PathOfItems(items, path)) {
            key.rank = 3;
            return key;
        }
        Route route = RouteOf(path);
        key.rank = route.viaHome ? 1 : 0;
        if (!route.viaHome)
            key.names.push_back(route.root);  // the drive, first level below Computer
        for (auto& name : route.components)
            key.names.push_back(std::move(name));
        return key;
    }
};

HRESULT NewFolderForPath(const std::string& path, REFIID riid, void** ppv)
{
    auto* folder = new FsFolder(path);
    folder->AddRef();
    const HRESULT hr = folder->QueryInterface(riid, ppv);
    folder->Release();
    return hr;
}

HRESULT NewComputerFolder(REFIID riid, void** ppv)
{
    auto* folder = new ComputerFolder;
    folder->AddRef();
    const HRESULT hr = folder->QueryInterface(riid, ppv);
    folder->Release();
    return hr;
}

} // namespace

std::vector<std::size_t> ShellSortIdLists(IShellFolder* folder, LPARAM lParam, bool descending,
    const std::vector<LPCITEMIDLIST>& lists)
{
    std::vector<std::size_t> order(lists.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    if (!folder || lists.size() < 2)
        return order;
    auto* ours = dynamic_cast<FolderBase*>(folder);
    if (ours && ours->SortLists(static_cast<int>(lParam & SHCIDS_COLUMNMASK), descending, lists, order,
            dynamic_cast<FsFolder*>(folder) != nullptr))
        return order;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const HRESULT hr = folder->CompareIDs(lParam, lists[x], lists[y]);
        if (FAILED(hr))
            return false;
        const int c = HRESULT_CODE_SHORT(hr);
        return descending ? c > 0 : c < 0;
    });
    return order;
}

HRESULT SHGetDesktopFolder(IShellFolder** ppshf)
{
    if (!ppshf)
        return E_POINTER;
    auto* desktop = new DesktopFolder;
    desktop->AddRef();
    *ppshf = desktop;
    return S_OK;
}

namespace {

// The program's own per-user folder of Send To shortcuts and links.
std::string SendToFolder()
{
    const std::string data = XdgBase("XDG_DATA_HOME", ".local/share");
    return data.empty() ? std::string() : data + "/vistrel/SendTo";
}

// A new Send To folder gets links to the desktop and to the home folder, as
// the desktop gives a new user default Send To entries.
void WriteDefaultSendToEntries(const std::string& folder)
{
    struct Link {
        const char* file;
        const char* name;
        const char* icon;
        std::string target;
    };
    const Link links[] = {{"Desktop.desktop", "Desktop", "user-desktop", DesktopDirectory()},
        {"Home.desktop", "Home", "user-home", HomeFolder()}};
    for (const Link& link : links) {
        if (link.target.empty())
            continue;
        std::ofstream out(folder + "/" + link.file);
        out << "[Desktop Entry]\nType=Link\nName=" << link.name << "\nURL=" << ShellFileUrl(link.target)
            << "\nIcon=" << link.icon << "\n";
    }
}

// Where a special folder lives; "" when the namespace has no such folder.
// `create` tells whether the folder is ours to create when it is missing.
std::string SpecialFolderPath(int csidl, bool& create)
{
    create = false;
    switch (csidl) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY:
        return DesktopDirectory();
    case CSIDL_PERSONAL:
        return HomeFolder();
    case CSIDL_MYPICTURES:
        return XdgUserDir("XDG_PICTURES_DIR", "Pictures");
    case CSIDL_TEMPLATES:
        return XdgUserDir("XDG_TEMPLATES_DIR", "Templates");
    case CSIDL_APPDATA:
        create = true;
        return XdgBase("XDG_CONFIG_HOME", ".config");
    case CSIDL_LOCAL_APPDATA:
        create = true;
        return XdgBase("XDG_DATA_HOME", ".local/share");
    case CSIDL_SENDTO:
        create = true;
        return SendToFolder();
    default:
        return {};
    }
}

} // namespace

bool ShellSpecialFolderPath(int csidl, std::string& path)
{
    if (csidl == CSIDL_DRIVES)
        return false;
    bool create;
    path = SpecialFolderPath(csidl, create);
    if (path.empty())
        return false;
    if (create && !IsDirectory(path)) {
        ForceDirectories(path);
        if (csidl == CSIDL_SENDTO && IsDirectory(path))
            WriteDefaultSendToEntries(path);
    }
    if (!IsDirectory(path)) {
        path.clear();
        return false;
    }
    return true;
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl)
{
    if (!ppidl)
        return E_POINTER;
    *ppidl = nullptr;
    std::vector<BYTE> buffer;
    if (csidl == CSIDL_DESKTOP) {
        *ppidl = MakeList(buffer);
        return *ppidl ? S_OK : E_OUTOFMEMORY;
    }
    if (csidl == CSIDL_DRIVES) {
        EncodeItem(buffer, kComputer, kFolder, 0, 0, {});
        *ppidl = MakeList(buffer);
        return *ppidl ? S_OK : E_OUTOFMEMORY;
    }
    if (csidl == CSIDL_PERSONAL) {
        const std::string home = HomeFolder();
        if (home.empty() || !IsDirectory(home))
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        EncodeItem(buffer, kRootItem, kFolder | kHome, 0, 0, home);
        *ppidl = MakeList(buffer);
        return *ppidl ? S_OK : E_OUTOFMEMORY;
    }
    bool create;
    if (SpecialFolderPath(csidl, create).empty())
        return E_INVALIDARG;  // a special folder this namespace does not have
    std::string path;
    if (!ShellSpecialFolderPath(csidl, path))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return ListFromPath(path, ppidl);
}

bool ShellPathFromIDList(LPCITEMIDLIST pidl, std::string& path)
{
    path.clear();
    std::vector<Item> items;
    if (!DecodeList(pidl, items))
        return false;
    if (!PathOfItems(items, path)) {
        path.clear();
        return false;
    }
    return true;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, char* pszPath)
{
    if (!pszPath)
        return FALSE;
    pszPath[0] = 0;
    std::string path;
    if (!ShellPathFromIDList(pidl, path) || path.size() >= static_cast<size_t>(MAX_PATH))
        return FALSE;
    std::memcpy(pszPath, path.c_str(), path.size() + 1);
    return TRUE;
}

bool ShellStatPath(const std::string& path, ShellFileFacts& facts)
{
    struct stat st;
    // A link that leads nowhere (or in a loop) shows its own facts.
    if (path.empty() || (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0))
        return false;
    facts.folder = S_ISDIR(st.st_mode);
    facts.size = facts.folder ? 0 : static_cast<std::uint64_t>(st.st_size);
    facts.lastWriteUnix = st.st_mtim.tv_sec;
    facts.changeUnix = st.st_ctim.tv_sec;
    return true;
}

bool ShellIsDriveRoot(const std::string& path)
{
    const std::string normalised = NormalisePath(path);
    for (const auto& d : ShellCurrentDrives())
        if (d.mountPoint == normalised)
            return true;
    return false;
}
