// Shell namespace utilities: version tests, the shell allocator, operations
// on item identifier lists, folders, display names and paths, special
// folders, icons, the two identifier-list containers, and a few text routines.
// Everything here runs on the user-interface thread.
#pragma once

#include "shell/shellapi.h"
#include "shell/shlobj.h"

#include "rtl/classes.h"
#include "rtl/sysutils.h"

#include <cstdint>
#include <string>
#include <vector>

// The shell's COM interfaces under the library's own names.
using IUnknown_NRC = IUnknown;
using IMalloc_NRC = IMalloc;
using IShellDetails_NRC = IShellDetails;
using IEnumIDList_NRC = IEnumIDList;
using IShellFolder_NRC = IShellFolder;
using IShellFolder2_NRC = IShellFolder2;

// Special folders; the ordinal is the shell's CSIDL number.
enum TCSIDL : std::uint8_t {
    csidlDesktop, csidl_None1, csidlPrograms, csidlControls, csidlPrinters, csidlPersonal, csidlFavorites,
    csidlStartup, csidlRecent, csidlSendTo, csidlBitBucket, csidlStartMenu, csidl_None2, csidl_None3, csidl_None4,
    csidl_None5, csidlDesktopDirectory, csidlDrives, csidlNetwork, csidlNethood, csidlFonts, csidlTemplates,
    csidlCommonStartMenu, csidlCommonPrograms, csidlCommonStartup, csidlCommonDesktopDirectory, csidlAppData,
    csidlPrintHood, csidlLocalAppData, csidlAltStartup, csidlCommonAltStartup, csidlCommonFavorites,
    csidlInternetCache, csidlCookies, csidlHistory, csidlCommonAppData, csidlWindows, csidlSystem,
    csidlProgramFiles, csidlMyPictures, csidlProfile, csidlSystemX86, csidlProgramFilesX86,
    csidlProgramFilesCommon, csidlProgramFilesCommonX86, csidlCommonTemplates, csidlCommonDocuments,
    csidlCommonAdminTools, csidlAdminTools, csidlConnections, csidlNone
};

enum TPTFriendlyNameFlags { ptfnNormal, ptfnInFolder, ptfnForParsing, ptfnForEditing };
DWORD FriendlyNameFlagsToSHGDN(TPTFriendlyNameFlags flags);

enum TPTShellIconSize { ptsizSmall, ptsizLarge };

// A module's fixed file version: high half the most significant 32 bits
// (major << 16 | minor), low half the least significant.
using TPTModuleVersion = std::uint64_t;
extern TPTModuleVersion COMCTL32_VER;
extern TPTModuleVersion SHELL32_VER;
constexpr std::uint32_t VersionHigh(TPTModuleVersion v) { return static_cast<std::uint32_t>(v >> 32); }

// Timing and size constants of the controls.
extern int PTSH_CHANGE_NOTIFY_DELAY;
extern int PTSH_CHANGE_NOTIFY_FASTDELAY;
extern int PTSH_TREE_KEY_UPDATE_DELAY;
extern int PTSH_MAX_FOLDER_ATTEMPTS;
extern int PTSH_AUTOSCROLL_THRESHOLD_X;
extern int PTSH_AUTOSCROLL_THRESHOLD_Y;
extern int PTSH_AUTOSCROLL_MINDELAY_MS;
extern int PTSH_AUTOOPEN_DELAY_MS;
extern int PTSH_AUTOOPEN_THRESHOLD_X;
extern int PTSH_AUTOOPEN_THRESHOLD_Y;

// ---- platform and library versions ----
bool IsWinNT();
bool IsWin95();
bool IsOSR2OrGreater();
bool IsWin2000();
bool HasWin95Shell();
bool GetModuleVersion(const std::string& moduleName, TPTModuleVersion& version);
// Reads the platform facts and both library versions again (program start; tests).
void PTReadVersions();

// ---- the shell allocator ----
void* ShellMemAlloc(std::size_t size);
void* ShellMemRealloc(void* block, std::size_t size);
void ShellMemFree(void* block);
IMalloc* ShellIMalloc();

// ---- item identifier lists ----
UINT IdListLen(LPCITEMIDLIST list);
LPITEMIDLIST CopyIdList(IMalloc* allocator, LPCITEMIDLIST list);
LPITEMIDLIST ConcatIdLists(IMalloc* allocator, LPCITEMIDLIST first, LPCITEMIDLIST second);
int CompareAbsIdLists(LPCITEMIDLIST first, LPCITEMIDLIST second);

HRESULT ShellGetDesktopFolder(IShellFolder*& folder);
// Tests put a namespace of their own in place of the desktop's (nil restores
// the file system's); the folder is not owned.
void ShellSetDesktopFolderForTest(IShellFolder* folder);
HRESULT ShellGetFolderFromIdList(LPCITEMIDLIST list, IShellFolder*& folder);
HRESULT ShellGetIdListFromPath(const std::string& path, LPITEMIDLIST& list);
std::string ShellGetPathFromIdList(LPCITEMIDLIST list);
std::string ShellGetDisplayPathName(const std::string& text);
std::string ShellGetSpecialFolderPath(HWND owner, TCSIDL csidl);
HRESULT ShellGetSpecialFolderIdList(HWND owner, TCSIDL csidl, LPITEMIDLIST& list);
TCSIDL ShellFindCSIDLFromIdList(LPCITEMIDLIST list);
bool ShellCSIDLEqualsIdList(LPCITEMIDLIST list, TCSIDL csidl);
std::string ShellGetFriendlyNameFromIdList(IShellFolder* folder, LPCITEMIDLIST item, TPTFriendlyNameFlags flags);
std::string ShellGetFriendlyNameForLastIdListElement(LPCITEMIDLIST list);
std::string ShellGetItemDisplayName(IShellFolder* folder, LPCITEMIDLIST item, DWORD shgdnFlags);
// The same into a string the caller keeps (its room is used again); false,
// with the string emptied, when the folder gives no name.
bool ShellGetItemDisplayName(IShellFolder* folder, LPCITEMIDLIST item, DWORD shgdnFlags, std::string& name);
std::string StrretToString(LPCITEMIDLIST item, const STRRET& str);
void StrretFree(STRRET& str);
HRESULT ShellSplitIdList(LPCITEMIDLIST list, IShellFolder*& folder, LPITEMIDLIST& parent, LPITEMIDLIST& last);
HRESULT ShellGetUIObjectOfIdList(LPCITEMIDLIST list, REFIID riid, void** object);
HRESULT GetDesktopDirDropTarget(void** dropTarget);
HRESULT GetDesktopDirParentAndItem(LPITEMIDLIST& parent, LPITEMIDLIST& item);

// ---- icons and image lists ----
int ShellGetIconIndex(LPCITEMIDLIST list, UINT flags);
int ShellGetIconIndexFromPath(const std::string& path, UINT flags);
int ShellGetIconIndexFromExt(const std::string& extOrName, UINT flags);
int ShellGetSpecialFolderIconIndex(TCSIDL csidl, UINT flags);
HIMAGELIST ShellGetSystemImageList(TPTShellIconSize size);

// ---- texts ----
// UTF-8 has no double-byte lead bytes, so the double-byte rules reduce to
// single bytes here.
std::string EnsureTrailingCharDB(const std::string& text, char c);
std::string FormatStrPos(const std::string& format, const std::vector<std::string>& strings, int highestIndex);
void ParametizeCmdLineDB(const std::string& line, TStringList& list);
std::string TrimRightDB(const std::string& text);
void CopyCharDB(int& position, const std::string& text, std::string& destination);

// ---- views of one absolute list by levels ----
class TPTIdListArray {
public:
    explicit TPTIdListArray(LPCITEMIDLIST list);
    ~TPTIdListArray();
    TPTIdListArray(const TPTIdListArray&) = delete;
    TPTIdListArray& operator=(const TPTIdListArray&) = delete;

    int GetCount() const;
    // The first (count - n) levels; nil past the count. Valid until the next call.
    LPCITEMIDLIST GoUp(int n);
    // The level at the index as a one-item list. Valid until the next call.
    LPCITEMIDLIST GetItem(int index);

private:
    void Replace(LPITEMIDLIST list);
    LPCITEMIDLIST m_list;
    LPITEMIDLIST m_returned = nullptr;
};

// ---- an ordered list of identifier lists with objects ----
class TPTPidlList {
public:
    TPTPidlList() = default;
    virtual ~TPTPidlList();
    TPTPidlList(const TPTPidlList&) = delete;
    TPTPidlList& operator=(const TPTPidlList&) = delete;

    int GetCount() const { return static_cast<int>(m_items.size()); }
    int GetCapacity() const { return static_cast<int>(m_items.capacity()); }
    void SetCapacity(int capacity);
    LPITEMIDLIST GetPIDL(int index) const;
    void SetPIDL(int index, LPITEMIDLIST list);
    void* GetObject(int index) const;
    void SetObject(int index, void* object);

    virtual int Add(LPITEMIDLIST list);
    virtual int AddObject(LPITEMIDLIST list, void* object);
    void Insert(int index, LPITEMIDLIST list);
    void InsertObject(int index, LPITEMIDLIST list, void* object);
    void Delete(int index);
    void Clear();
    void SetSorted(bool sorted);
    bool Sorted() const { return m_sorted; }
    void Sort();
    int IndexOf(LPCITEMIDLIST list);
    bool BinarySearch(LPCITEMIDLIST list, int& index);
    bool LinearSearch(LPCITEMIDLIST list, int& index);

    IShellFolder* ShellFolder = nullptr;  // not reference counted
    IMalloc* Malloc = nullptr;
    int Duplicates = 2;  // 0 ignore, 1 accept, 2 raise

private:
    struct Entry {
        LPITEMIDLIST list;
        void* object;
    };
    void CheckIndex(int index) const;
    int Compare(LPCITEMIDLIST a, LPCITEMIDLIST b) const;
    std::vector<Entry> m_items;
    bool m_sorted = false;
};

// ---- shortcut files ----
enum TLinkDataOption : std::uint8_t { ldoUseDesc, ldoUseArgs, ldoUseIcon, ldoUseWorkDir, ldoUseHotKey, ldoUseShowCmd };
using TLinkDataOptions = std::uint8_t;  // a set: bit (1 << option)
constexpr TLinkDataOptions LinkOption(TLinkDataOption o) { return static_cast<TLinkDataOptions>(1u << o); }

struct TLinkData {
    std::string PathName;
    TLinkDataOptions Options = 0;
    std::string Description;
    std::string Arguments;
    std::string IconPath;
    std::int32_t IconIndex = 0;
    std::string WorkingDir;
    std::int32_t ShowCmd = 0;
    std::uint16_t HotKey = 0;
    bool NoUI = false;
    LPITEMIDLIST IdList = nullptr;  // owned by the caller
    ShellFileFacts FindData;
};
// Shortcut files need the shell link class, which this platform does not
// have: each answers the class-creation failure (REGDB_E_CLASSNOTREG).
HRESULT CreateShortcut(const std::string& fileName, const TLinkData& data);
HRESULT CreateQuickShortcut(const std::string& fileName, const std::string& target);
HRESULT ResolveShortcut(const std::string& fileName, TLinkData& data, bool wantIdList);
// File types carry no COM class ids here: always false.
bool PTClsidFromFileType(const std::string& name, CLSID& clsid);

// ---- drives (My Computer) ----
extern int gFlushDriveInfoSem;
void FlushDriveInfoCache();
void LockFlushDriveInfoCache();
void UnlockFlushDriveInfoCache();
// Whether the network mount at the path (a mount point) is reachable.
bool IsNetworkDriveConnected(const std::string& mountPoint);
