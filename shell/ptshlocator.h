// The folder locator and the per-item shell data of the tree, the list and
// the folder combo, with the adapter that gives the list column texts.
#pragma once

#include "shell/ptshutils.h"

#include "rtl/classes.h"
#include "rtl/streams.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

enum TPTShellLocator_Which : std::uint8_t { usePidl = 0, useCSIDL = 1 };

// Names a folder of the namespace by an absolute list or by a special-folder
// id; stores itself as the binary property "Pidl".
class TPTShellLocator : public TObject {
public:
    TPTShellLocator() = default;
    ~TPTShellLocator() override;
    TPTShellLocator(const TPTShellLocator&) = delete;
    TPTShellLocator& operator=(const TPTShellLocator&) = delete;

    // The held list (nil = the desktop), or the special folder's list located
    // on first use. A special folder that cannot be located raises
    // EOleSysError: it is never taken for the desktop.
    LPCITEMIDLIST GetIdList();
    // The same without raising: the locating result, and the list (nil with a failure).
    HRESULT LocateIdList(LPCITEMIDLIST& list);
    TCSIDL GetCSIDL() const { return m_which == useCSIDL ? m_csidl : csidlNone; }
    TPTShellLocator_Which Which() const { return m_which; }
    std::string GetPathName();
    void SetIdList(LPCITEMIDLIST list);
    void SetCSIDL(TCSIDL csidl);
    void SetPathName(const std::string& path);
    void Clear() { SetIdList(nullptr); }
    // Copies another locator; nil makes this one the desktop. Any other
    // object raises EConvertError.
    virtual void Assign(const TObject* source);
    bool IsEqual(const TPTShellLocator& other) const;
    virtual void Changed();

    // The binary property "Pidl". ReadData refuses damaged data (a bad
    // length, a list whose items do not end on its terminator, an id above
    // 50) with EReadError and keeps the locator as it was.
    bool HasData() const;
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;

    TNotifyEvent OnChange;

private:
    TPTShellLocator_Which m_which = usePidl;
    LPITEMIDLIST m_idList = nullptr;
    TCSIDL m_csidl = csidlDesktop;
};

// Attribute masks of tree nodes and list items.
constexpr ULONG PTSH_TREE_ATTRIBUTE_MASK = 0xF00F0037;
constexpr ULONG PTSH_LIST_ATTRIBUTE_MASK = 0x700F0037;
// The mask for an item: SFGAO_STREAM added on shell 6, SFGAO_READONLY taken
// out for items below the root of a removable drive (asking would touch the medium).
ULONG PTShellAttributeMask(ULONG baseMask, const std::string& path);

// Shell data of a tree node.
class TPTShTreeData {
public:
    explicit TPTShTreeData(TObject* ownerTree) : m_owner(ownerTree) {}
    ~TPTShTreeData();
    TPTShTreeData(const TPTShTreeData&) = delete;
    TPTShTreeData& operator=(const TPTShTreeData&) = delete;

    void SetData(TPTShTreeData* parentData, LPCITEMIDLIST list);
    LPCITEMIDLIST GetAbsPidl();
    LPCITEMIDLIST GetRelPidl() const { return m_relPidl; }
    TPTShTreeData* ParentData() const { return m_parent; }
    TObject* Owner() const { return m_owner; }
    IShellFolder* GetParentIShf();
    IShellFolder* GetThisIShf();
    // The tree presets the root node's folder (the reference passes to the data).
    void SetThisIShf(IShellFolder* folder);
    // The node's attributes; 0 (a plain item) when the folder cannot answer.
    ULONG GetAttributes();
    bool GetEditable();
    std::string GetPathName();
    HRESULT GetIDropTarget(HWND owner, void** target);
    void SetRelPidl(LPCITEMIDLIST list);
    void Flush();
    bool IsRootDir();

private:
    TObject* m_owner;
    TPTShTreeData* m_parent = nullptr;
    LPITEMIDLIST m_relPidl = nullptr;
    LPITEMIDLIST m_absPidl = nullptr;
    IShellFolder* m_thisFolder = nullptr;
    IShellFolder* m_rootParentFolder = nullptr;
};

// What an item of the list needs of its list.
class IPTShellListOwner {
public:
    virtual ~IPTShellListOwner() = default;
    virtual IShellFolder* GetListFolder() = 0;
    virtual LPCITEMIDLIST GetListFolderIdList() = 0;
    virtual bool GetFilesCanBeFolders() = 0;
    virtual IShellDetails* GetCurrentFolderIShellDetails() = 0;
};

// Shell data of a list item.
class TPTShListData {
public:
    explicit TPTShListData(IPTShellListOwner* ownerList) : m_owner(ownerList) {}
    ~TPTShListData();
    TPTShListData(const TPTShListData&) = delete;
    TPTShListData& operator=(const TPTShListData&) = delete;

    // Takes ownership of the relative list.
    void SetData(LPITEMIDLIST list);
    LPCITEMIDLIST GetRelativeIdList() const { return m_relPidl; }
    void Flush();
    LPCITEMIDLIST GetAbsoluteIdList();
    std::string GetPathName();
    std::string GetFilename();
    std::string GetDisplayName();
    // The item's attributes; 0 (a plain item) when the folder cannot answer.
    ULONG GetAttributes();
    bool GetEditable();
    bool IsFileSystem();
    bool IsFolder();
    bool IsLnkShortcut();
    bool IsValid();
    void GetExtraData();
    std::string GetSize();
    std::string GetFileType();
    std::string GetModified();
    std::string GetColText(int column);

private:
    // The texts found for the item, kept once asked for: only the items a
    // view has shown carry them, so that a folder of many files costs
    // little memory per item.
    struct Texts {
        std::string displayName;
        bool extraDone = false;
        std::string size, type, modified;
    };
    Texts& CachedTexts();
    IPTShellListOwner* m_owner;
    LPITEMIDLIST m_absPidl = nullptr;
    LPITEMIDLIST m_relPidl = nullptr;
    std::unique_ptr<Texts> m_texts;
};

// Shell data of a folder combo item.
class TPTShComboData {
public:
    explicit TPTShComboData(TObject* ownerCombo) : m_owner(ownerCombo) {}
    ~TPTShComboData();
    TPTShComboData(const TPTShComboData&) = delete;
    TPTShComboData& operator=(const TPTShComboData&) = delete;

    void SetData(IShellFolder* parentFolder, LPCITEMIDLIST parentAbsList, LPCITEMIDLIST relList);
    // Raises EOleSysError when the folder cannot be bound.
    IShellFolder* GetThisIShf();
    // The folder that holds the entry (nil for the Desktop's own entry).
    IShellFolder* GetParentIShf() const { return m_parentFolder; }
    LPCITEMIDLIST GetAbsIdList() const { return m_absPidl; }
    LPCITEMIDLIST GetRelIdList() const { return m_relPidl; }

private:
    TObject* m_owner;
    IShellFolder* m_parentFolder = nullptr;
    LPITEMIDLIST m_parentAbsPidl = nullptr;
    LPITEMIDLIST m_relPidl = nullptr;
    LPITEMIDLIST m_absPidl = nullptr;
    IShellFolder* m_thisFolder = nullptr;
};

// IShellDetails over a folder's IShellFolder2, ending the column list at the
// first column that is not shown by default.
class TShellFolder2ToShellDetailsAdapter final : public IShellDetails {
public:
    explicit TShellFolder2ToShellDetailsAdapter(IShellFolder2* folder);
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDetailsOf(LPCITEMIDLIST pidl, UINT iColumn, SHELLDETAILS* pDetails) override;
    HRESULT ColumnClick(UINT iColumn) override;

private:
    ~TShellFolder2ToShellDetailsAdapter();
    std::atomic<LONG> m_refCount{0};
    IShellFolder2* m_folder;
};

// "%sKB" with the size in kilobytes rounded up and grouped by thousands.
std::string FormatFileSizeKB(std::uint64_t size);
void GetItemSizeAndDate(LPCITEMIDLIST list, std::string& size, std::string& modified);
void GetItemTypeName(LPCITEMIDLIST list, ULONG attributes, std::string& type);
void GetItemExtraTexts(LPCITEMIDLIST list, ULONG attributes, std::string& size, std::string& modified,
                       std::string& type);
// IShellDetails for the folder (a new reference) or nil.
IShellDetails* GetFolderShellDetails(IShellFolder* folder);
