// The shell namespace as the system's code sees it: item identifier lists,
// the COM-shaped folder interfaces, the shell allocator and special folders.
// Behind it stands the Linux file system (see shlfolder.cpp for the mapping).
#pragma once

#include "vcl/messages.h"
#include "vcl/winmenus.h"
#include "win/unknwn.h"
#include "win/wintypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <atomic>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using SIZE_T = std::size_t;
using WCHAR = char16_t;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using HICON = void*;
using HIMAGELIST = void*;
using DWORD_PTR = std::uintptr_t;

// Interface and class identifiers with their published values.
inline constexpr GUID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IOleWindow = {0x00000114, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID CLSID_ShellDesktop = {0x00021400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID CLSID_InternetShortcut = {0xFBF23B40, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};
inline constexpr GUID IID_INewShortcutHookA = {0x000214E1, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellBrowser = {0x000214E2, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellView = {0x000214E3, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IContextMenu = {0x000214E4, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellIcon = {0x000214E5, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellExtInit = {0x000214E8, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellPropSheetExt = {0x000214E9, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IExtractIconA = {0x000214EB, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IExtractIcon = IID_IExtractIconA;
inline constexpr GUID IID_IShellDetails = {0x000214EC, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellLink = IID_IShellLinkA;
inline constexpr GUID IID_IShellCopyHook = {0x000214EF, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IFileViewer = {0x000214F0, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_ICommDlgBrowser = {0x000214F1, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IEnumIDList = {0x000214F2, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IFileViewerSite = {0x000214F3, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IContextMenu2 = {0x000214F4, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IShellFolder2 = {0x93F2F68C, 0x1D1B, 0x11D3, {0xA3, 0x0E, 0x00, 0xC0, 0x4F, 0x79, 0xAB, 0xD1}};

// Item identifier lists. Every item starts with its 16-bit little-endian
// byte count (the count includes those two bytes); a count of 0 ends the list.
#pragma pack(push, 1)
struct SHITEMID {
    USHORT cb;
    BYTE abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
#pragma pack(pop)
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

// The byte count of the item at p, read without alignment assumptions.
inline USHORT ItemIdSize(const void* p)
{
    const auto* b = static_cast<const BYTE*>(p);
    return static_cast<USHORT>(b[0] | (b[1] << 8));
}

class IMalloc : public IUnknown {
public:
    virtual void* Alloc(SIZE_T cb) = 0;
    virtual void* Realloc(void* pv, SIZE_T cb) = 0;
    virtual void Free(void* pv) = 0;
    virtual SIZE_T GetSize(void* pv) = 0;
    virtual int DidAlloc(void* pv) = 0;
    virtual void HeapMinimize() = 0;
};

class IBindCtx;

constexpr UINT STRRET_WSTR = 0;
constexpr UINT STRRET_OFFSET = 1;
constexpr UINT STRRET_CSTR = 2;
struct STRRET {
    UINT uType;
    union {
        LPWSTR pOleStr;
        UINT uOffset;
        char cStr[MAX_PATH];
    };
};

struct SHELLDETAILS {
    int fmt;
    int cxChar;
    STRRET str;
};
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;

struct SHCOLUMNID {
    GUID fmtid;
    DWORD pid;
};

class IEnumIDList : public IUnknown {
public:
    virtual HRESULT Next(ULONG celt, LPITEMIDLIST* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumIDList** ppenum) = 0;
};

class IShellFolder : public IUnknown {
public:
    virtual HRESULT ParseDisplayName(HWND hwnd, IBindCtx* pbc, LPCWSTR pszDisplayName, ULONG* pchEaten,
                                     LPITEMIDLIST* ppidl, ULONG* pdwAttributes) = 0;
    virtual HRESULT EnumObjects(HWND hwnd, DWORD grfFlags, IEnumIDList** ppenumIDList) = 0;
    virtual HRESULT BindToObject(LPCITEMIDLIST pidl, IBindCtx* pbc, REFIID riid, void** ppv) = 0;
    virtual HRESULT BindToStorage(LPCITEMIDLIST pidl, IBindCtx* pbc, REFIID riid, void** ppv) = 0;
    virtual HRESULT CompareIDs(LPARAM lParam, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) = 0;
    virtual HRESULT CreateViewObject(HWND hwndOwner, REFIID riid, void** ppv) = 0;
    virtual HRESULT GetAttributesOf(UINT cidl, LPCITEMIDLIST* apidl, ULONG* rgfInOut) = 0;
    virtual HRESULT GetUIObjectOf(HWND hwndOwner, UINT cidl, LPCITEMIDLIST* apidl, REFIID riid, UINT* rgfReserved,
                                  void** ppv) = 0;
    virtual HRESULT GetDisplayNameOf(LPCITEMIDLIST pidl, DWORD uFlags, STRRET* pName) = 0;
    virtual HRESULT SetNameOf(HWND hwnd, LPCITEMIDLIST pidl, LPCWSTR pszName, DWORD uFlags,
                              LPITEMIDLIST* ppidlOut) = 0;
};

class IShellFolder2 : public IShellFolder {
public:
    virtual HRESULT GetDefaultSearchGUID(GUID* pguid) = 0;
    virtual HRESULT EnumSearches(IUnknown** ppenum) = 0;
    virtual HRESULT GetDefaultColumn(DWORD dwRes, ULONG* pSort, ULONG* pDisplay) = 0;
    virtual HRESULT GetDefaultColumnState(UINT iColumn, DWORD* pcsFlags) = 0;
    virtual HRESULT GetDetailsEx(LPCITEMIDLIST pidl, const SHCOLUMNID* pscid, void* pv) = 0;
    virtual HRESULT GetDetailsOf(LPCITEMIDLIST pidl, UINT iColumn, SHELLDETAILS* psd) = 0;
    virtual HRESULT MapColumnToSCID(UINT iColumn, SHCOLUMNID* pscid) = 0;
};

class IShellDetails : public IUnknown {
public:
    virtual HRESULT GetDetailsOf(LPCITEMIDLIST pidl, UINT iColumn, SHELLDETAILS* pDetails) = 0;
    virtual HRESULT ColumnClick(UINT iColumn) = 0;
};

// Context menus of items: the menu's commands are numbered from the
// caller's first identifier on; a command is named by its offset from that
// identifier or by its verb.
constexpr UINT CMF_NORMAL = 0x0;
constexpr UINT CMF_DEFAULTONLY = 0x1;
constexpr UINT CMF_VERBSONLY = 0x2;
constexpr UINT CMF_EXPLORE = 0x4;
constexpr UINT CMF_NOVERBS = 0x8;
constexpr UINT CMF_CANRENAME = 0x10;
constexpr UINT CMF_NODEFAULT = 0x20;
constexpr UINT GCS_VERBA = 0x0;
constexpr UINT GCS_HELPTEXTA = 0x1;
constexpr UINT GCS_VALIDATEA = 0x2;
constexpr DWORD CMIC_MASK_FLAG_NO_UI = 0x00000400;
constexpr DWORD CMIC_MASK_SHIFT_DOWN = 0x10000000;
constexpr DWORD CMIC_MASK_CONTROL_DOWN = 0x40000000;
constexpr int SW_SHOWNORMAL = 1;

struct CMINVOKECOMMANDINFO {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    // A verb's text, or a command offset in the low word with a zero high word.
    const char* lpVerb;
    const char* lpParameters;
    const char* lpDirectory;
    int nShow;
    DWORD dwHotKey;
    HANDLE hIcon;
};
// True when lpVerb carries a command offset rather than a text.
inline bool IS_INTRESOURCE(const char* verb) { return (reinterpret_cast<std::uintptr_t>(verb) >> 16) == 0; }
inline const char* MAKEINTRESOURCEA(UINT offset) { return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(offset & 0xFFFF)); }

class IContextMenu : public IUnknown {
public:
    virtual HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags) = 0;
    virtual HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) = 0;
    virtual HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, char* name, UINT cchMax) = 0;
};

class IContextMenu2 : public IContextMenu {
public:
    virtual HRESULT HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// Enumeration flags.
constexpr DWORD SHCONTF_FOLDERS = 0x20;
constexpr DWORD SHCONTF_NONFOLDERS = 0x40;
constexpr DWORD SHCONTF_INCLUDEHIDDEN = 0x80;

// Display-name flags.
constexpr DWORD SHGDN_NORMAL = 0;
constexpr DWORD SHGDN_INFOLDER = 1;
constexpr DWORD SHGDN_FOREDITING = 0x1000;
constexpr DWORD SHGDN_FORADDRESSBAR = 0x4000;
constexpr DWORD SHGDN_FORPARSING = 0x8000;

// Item attributes.
constexpr ULONG SFGAO_CANCOPY = 0x1;
constexpr ULONG SFGAO_CANMOVE = 0x2;
constexpr ULONG SFGAO_CANLINK = 0x4;
constexpr ULONG SFGAO_STORAGE = 0x8;
constexpr ULONG SFGAO_CANRENAME = 0x10;
constexpr ULONG SFGAO_CANDELETE = 0x20;
constexpr ULONG SFGAO_HASPROPSHEET = 0x40;
constexpr ULONG SFGAO_DROPTARGET = 0x100;
constexpr ULONG SFGAO_CAPABILITYMASK = 0x177;
constexpr ULONG SFGAO_LINK = 0x10000;
constexpr ULONG SFGAO_SHARE = 0x20000;
constexpr ULONG SFGAO_READONLY = 0x40000;
constexpr ULONG SFGAO_HIDDEN = 0x80000;
constexpr ULONG SFGAO_STREAM = 0x400000;
constexpr ULONG SFGAO_VALIDATE = 0x1000000;
constexpr ULONG SFGAO_REMOVABLE = 0x2000000;
constexpr ULONG SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr ULONG SFGAO_FOLDER = 0x20000000;
constexpr ULONG SFGAO_FILESYSTEM = 0x40000000;
constexpr ULONG SFGAO_HASSUBFOLDER = 0x80000000;

// Column states of IShellFolder2.
constexpr DWORD SHCOLSTATE_TYPE_STR = 0x1;
constexpr DWORD SHCOLSTATE_TYPE_INT = 0x2;
constexpr DWORD SHCOLSTATE_TYPE_DATE = 0x3;
constexpr DWORD SHCOLSTATE_ONBYDEFAULT = 0x10;

// The column of a CompareIDs request sits in the low 16 bits of its lParam.
constexpr LPARAM SHCIDS_COLUMNMASK = 0x0000FFFF;

// Special folders (CSIDL numbers) that the namespace can locate.
constexpr int CSIDL_DESKTOP = 0x00;
constexpr int CSIDL_PERSONAL = 0x05;
constexpr int CSIDL_SENDTO = 0x09;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x10;
constexpr int CSIDL_DRIVES = 0x11;
constexpr int CSIDL_TEMPLATES = 0x15;
constexpr int CSIDL_APPDATA = 0x1A;
constexpr int CSIDL_LOCAL_APPDATA = 0x1C;
constexpr int CSIDL_MYPICTURES = 0x27;

constexpr HRESULT MAKE_HRESULT_SUCCESS(int code) { return static_cast<HRESULT>(static_cast<USHORT>(code)); }
// The signed 16-bit value that CompareIDs carries in its result's low half.
constexpr int HRESULT_CODE_SHORT(HRESULT hr) { return static_cast<SHORT>(static_cast<USHORT>(hr & 0xFFFF)); }

// The shell allocator. The task allocator is the same one.
HRESULT SHGetMalloc(IMalloc** ppMalloc);
void* CoTaskMemAlloc(SIZE_T cb);
void CoTaskMemFree(void* pv);
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

HRESULT SHGetDesktopFolder(IShellFolder** ppshf);
HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST* ppidl);
// The order in which the folder's CompareIDs (lParam) puts relative lists of
// its items, as indexes into them: a stable sort, each comparison negated
// when descending, a failed one counting as equal. A folder of the namespace
// reads each list once instead of at every comparison; another is asked
// pair by pair.
std::vector<std::size_t> ShellSortIdLists(IShellFolder* folder, LPARAM lParam, bool descending,
    const std::vector<LPCITEMIDLIST>& lists);
// Writes the item's file-system path into a buffer of MAX_PATH bytes; fails
// for virtual items and for paths that do not fit (use ShellPathFromIDList).
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, char* pszPath);
// The item's full file-system path, any length; false for virtual items
// (the desktop's own entry resolves to the XDG desktop folder).
bool ShellPathFromIDList(LPCITEMIDLIST pidl, std::string& path);
// The file-system path of a special folder; false when it cannot be located.
bool ShellSpecialFolderPath(int csidl, std::string& path);

// UTF-8 and UTF-16 text of names. A byte that is not part of valid UTF-8 is
// carried as the lone surrogate U+DC00 + byte and turned back into that byte,
// so any Linux file name survives the round trip through wide text.
std::u16string ShellUtf8ToWide(std::string_view text);
std::string ShellWideToUtf8(std::u16string_view text);
std::string ShellWideToUtf8(LPCWSTR text);
// A wide copy allocated with the shell allocator (for STRRET_WSTR).
LPWSTR ShellAllocWide(std::string_view text);

// The facts of a file-system entry that the item texts show (symbolic links
// followed; a dangling link or a link loop its own); false when the entry
// cannot be read.
struct ShellFileFacts {
    bool folder = false;
    std::uint64_t size = 0;
    std::int64_t lastWriteUnix = 0;  // seconds since 1970, UTC
    std::int64_t changeUnix = 0;     // status change time, for entries without a write time
};
bool ShellStatPath(const std::string& path, ShellFileFacts& facts);
// True when the path is the mount point of one of Computer's drives.
bool ShellIsDriveRoot(const std::string& path);

// COM classes. No class is registered on this platform (shell links, for
// one, are Windows shortcut files): creation answers REGDB_E_CLASSNOTREG.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
