// The shell folder tree and the shell file list. The tree shows the namespace
// as folders loaded on first expansion and hands its selected folder to a
// linked list; the list shows one folder's items with their detail columns, a
// file filter, sorting by the shell's own comparison, opening of items and a
// live refresh that changes only what appeared or vanished. Both follow
// file-system changes reported by their change thread and drive arrivals and
// removals relayed to them. Timers run on the program's clock (tests drive it).
#pragma once

#include "shell/ptshdragdrop.h"
#include "shell/ptshlabeledit.h"
#include "shell/ptshrefresh.h"

#include "shell/ptcontrols.h"
#include "shell/ptshchange.h"
#include "shell/ptshlocator.h"
#include "shell/ptshmenus.h"

#include "vcl/extctrls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TPTCustomShellList;
class TPTCustomShellCombo;

// Message 1127: the first fill, posted so that it runs once the window is up.
constexpr UINT AM_DEFERREDFILL = WM_USER + 103;

using TPTShAddItemEvent = std::function<void(TObject* sender, IShellFolder* parentFolder, LPCITEMIDLIST parentAbsIdList,
    LPCITEMIDLIST itemRelIdList, ULONG attributes, bool& allowAdd)>;
using TPTShTreeInsertItemEvent = std::function<void(TObject* sender, TTreeNode* node)>;
using TPTShTreeDeleteItemEvent = std::function<void(TObject* sender, TTreeNode* node, TPTShTreeData* data)>;
using TPTShTvCustomDrawEvent =
    std::function<void(TObject* sender, TPTCustomDraw* cd, TTreeNode* node, TPTShTreeData* data)>;
using TPTShListDeleteItemEvent = std::function<void(TObject* sender, TListItem* item, TPTShListData* data)>;
using TPTShDblClickOpenEvent = std::function<void(TObject* sender, bool& handled)>;
using TPTShLvCustomDrawEvent =
    std::function<void(TObject* sender, TPTCustomDraw* cd, TListItem* item, TPTShListData* data)>;

enum TPTShellTreeOption : std::uint16_t {
    ptstoAutoFill = 1 << 0,
    ptstoVirtualFolders = 1 << 1,
    ptstoDesignInteractive = 1 << 2,
    ptstoDefaultKeyHandling = 1 << 3,
    ptstoContextMenus = 1 << 4,
    ptstoDynamicRefresh = 1 << 5,
    ptstoIncludeNonFolders = 1 << 6,
    ptstoOleDrag = 1 << 7,
    ptstoOleDrop = 1 << 8,
    ptstoShowHidden = 1 << 9,
};
using TPTShellTreeOptions = std::uint16_t;

enum TPTShellListOption : std::uint16_t {
    ptsloAutoFill = 1 << 0,
    ptsloNonFilesystemAncestors = 1 << 1,
    ptsloDesignInteractive = 1 << 2,
    ptsloDefaultKeyHandling = 1 << 3,
    ptsloContextMenus = 1 << 4,
    ptsloDontChangeFolder = 1 << 5,
    ptsloDontGoBelowBase = 1 << 6,
    ptsloDynamicRefresh = 1 << 7,
    ptsloHideFoldersWhenLinkedToTree = 1 << 8,
    ptsloOleDrag = 1 << 9,
    ptsloOleDrop = 1 << 10,
    ptsloFolderContextMenu = 1 << 11,
    ptsloShowHidden = 1 << 12,
    ptsloFilesCanBeFolders = 1 << 13,
};
using TPTShellListOptions = std::uint16_t;

class TPTCustomShellTree : public TPTCustomTreeView, public IPTShellDropOwner {
public:
    explicit TPTCustomShellTree(TComponent* owner);
    ~TPTCustomShellTree() override;

    // Used by the main window.
    void SetSelectedPathName(const std::string& path);
    std::string GetSelectedPathName();

    void FillItems();
    void RefreshNodes();
    void DoSetSelectedIdList(LPCITEMIDLIST absoluteList);
    void SetSelectedFolder(const TPTShellLocator* locator);
    TPTShellLocator& SelectedFolder() { return m_selectedFolder; }
    TPTShellLocator& BaseFolder() { return m_baseFolder; }
    void SetBaseFolder(const TPTShellLocator* locator);
    TPTCustomShellList* ShellList() const { return m_shellList; }
    void SetShellList(TPTCustomShellList* list);
    // The folder combo linked to the tree; set by the combo.
    TPTCustomShellCombo* ShellCombo() const { return m_shellCombo; }
    void SetShellCombo(TPTCustomShellCombo* combo) { m_shellCombo = combo; }
    TPTShellTreeOptions Options() const { return m_options; }
    void SetOptions(TPTShellTreeOptions options);
    void GoUp(int levels);
    void Synchronize(bool alsoLinked);
    TPTShTreeData* GetSelectedItem();
    TPTShTreeData* GetDataFromNode(TTreeNode* node) const;
    bool NodeHasData(TTreeNode* node) const { return GetDataFromNode(node) != nullptr; }
    TTreeNode* GetFirstRootLevelShellNode() const;
    TTreeNode* FindNodeWithIdList(TTreeNode* parent, LPCITEMIDLIST relativeList);
    void SortNode(TTreeNode* node);
    // The owner window of shell calls that may show questions: the form
    // that holds the tree; none while shell calls must stay silent.
    HWND GetParentHWND();
    void InstallChangeHandlersForAllLocalDrives();

    // Commands: the default keys, the shell's context menu of a node, rename
    // in place and new folders.
    // Invokes a verb of the node's shell menu (nothing for a root node,
    // result 1); the tree is refreshed afterwards.
    HRESULT DoCommandForNode(TTreeNode* node, const std::string& verb);
    virtual void ProcessMenu(TTreeNode* node, TPoint pos);
    // Sends the node to the Send To entry at the index.
    void ProcessSendTo(TTreeNode* node, int index);
    bool CreateNewFolder(bool edit);
    // The shell menu being shown (nil when none).
    IContextMenu* ShownMenu() const { return m_shownMenu; }
    TPTShPopupHintEvent OnPopupHint;

    // A drag or shell menu of this tree begins and ends; a fill or refresh
    // asked for meanwhile (or a change reported meanwhile) runs at the end.
    void BeginBusy() { m_refresh->BeginBusy(); }
    void EndBusy() { m_refresh->EndBusy(); }
    bool RefreshPending() const { return m_refresh->Pending(); }
    TPTShellRefresh& Refresh() { return *m_refresh; }

    // Whether a keyboard selection or a refresh is waiting (tests).
    bool SelectionUpdatePending() const { return m_keyTimer->Enabled(); }
    bool RefreshScheduled() const { return m_refresh->Scheduled(); }

    // Drag and drop: a node dragged out with a mouse button (0 left, 1 right)
    // as a data object of shell items, and drags over the tree handed to the
    // drop target of the folder under the pointer. The node under a drag
    // is shown as drop target; hovering over a closed folder opens it.
    void OleBeginDrag(TTreeNode* node, int button);
    // The data object of a node with shell data and a parent; null otherwise.
    TComPtr<IDataObject> NodeDataObject(TTreeNode* node);
    DWORD GetDragDropAttributesForNode(TTreeNode* node);
    TTreeNode* DropHighlight() const { return DropTarget(); }
    HRESULT OnDropTarget_DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect) override;
    HRESULT OnDropTarget_DragOver(DWORD keyState, POINTL point, DWORD& effect) override;
    HRESULT OnDropTarget_DragLeave() override;
    HRESULT OnDropTarget_Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect) override;

    TPTShAddItemEvent OnAddItem;
    TPTShTreeDeleteItemEvent OnDeleteItem;
    TPTShTreeInsertItemEvent OnInsertItem;
    TPTShTvCustomDrawEvent OnCustomDrawSh;
    TPTShTvCustomDrawEvent OnCustomDrawShEx;
    TNotifyEvent OnFillComplete;
    TNotifyEvent OnFillStart;

    TPTCustomDraw* PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result) override;
    void WndProc(TMessage& message) override;

    virtual HRESULT AddNewShellNode(IShellFolder* folder, LPCITEMIDLIST parentAbsList, LPCITEMIDLIST item,
        TTreeNode* parentNode);
    virtual bool CanAdd(IShellFolder* folder, LPCITEMIDLIST parentAbsList, LPCITEMIDLIST item, ULONG attributes);
    virtual void DeviceChangeDetected(TPTDeviceChangeHandler* sender, TMessage& message);
    virtual void FillTree(IShellFolder* folder, TTreeNode* node);

protected:
    bool CanExpand(TTreeNode* node) override;
    void Change(TTreeNode* node) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void Delete(TTreeNode* node) override;
    void GetImageIndex(TTreeNode* node) override;
    void GetSelectedIndex(TTreeNode* node) override;
    virtual void PTCustomDrawSh(TPTCustomDraw* cd, TTreeNode* node, TPTShTreeData* data);
    virtual void DoOnInsertItem(TTreeNode* node);
    virtual void ExpandNode(TTreeNode* node);
    virtual void FillComplete();
    virtual void FillStart();
    void KeyDown(WORD& key, TShiftState shift) override;
    void NodeContextMenu(TTreeNode* node, TPoint& pos, TPopupMenu*& menu) override;
    bool CanEdit(TTreeNode* node, std::string& text) override;
    void Edit(TTreeNode* node, const std::string& text) override;
    void EditEnded() override;

private:
    void FlushDescendants(TTreeNode* node);
    void SelectedFolderChanged();
    void BaseFolderChanged();
    void UpdateLinked(TTreeNode* node);
    void KeyTimerElapsed();
    void ChangeNotified();
    void RefreshNode(TTreeNode* node, TTreeNode*& remembered);
    DWORD EnumFlags() const;
    TTreeNode* NodeAtScreen(POINTL point);
    IDropTarget* NodeDropTarget(TTreeNode* node);
    void HoverOpen(TTreeNode* node, POINTL point);
    void Autoscroll(POINTL point);

    TPTShellLocator m_baseFolder;
    TPTShellLocator m_selectedFolder;
    // Two timers for the two jobs: a keyboard selection waiting to reach the
    // linked list, and a refresh waiting after change notifications. One never
    // cancels the other.
    std::unique_ptr<TTimer> m_keyTimer;
    std::unique_ptr<TPTShellRefresh> m_refresh;
    TPTCustomShellList* m_shellList = nullptr;
    TPTCustomShellCombo* m_shellCombo = nullptr;
    TPTShellTreeOptions m_options = 0x3BB;
    bool m_immediateUpdate = false;
    int m_updateLock = 0;
    bool m_expansionRefused = false;
    std::unique_ptr<TChangeHandlerThread> m_changeThread;
    TTreeNode* m_lastInserted = nullptr;
    IContextMenu* m_shownMenu = nullptr;
    int m_noUI = 0;
    TPTShellLabelEdit m_labelEdit {*m_refresh};
    // The drag state: the node dragged out, the data dragged in with the
    // buttons held when it entered, the node shown as drop target, and where
    // and since when the pointer hovers.
    TTreeNode* m_dragNode = nullptr;
    TComPtr<IDataObject> m_dragData;
    DWORD m_dragKeys = 0;
    POINTL m_hoverPoint {0, 0};
    std::uint64_t m_hoverSince = 0;
    TPTShellAutoscroll m_autoscroll;
    TPTShellDropRegistration m_drop {*this};
};

class TPTShellTree : public TPTCustomShellTree {
public:
    using TPTCustomShellTree::TPTCustomShellTree;
};

class TPTCustomShellList : public TPTCustomListView, public IPTShellListOwner, public IPTShellDropOwner {
public:
    explicit TPTCustomShellList(TComponent* owner);
    ~TPTCustomShellList() override;

    // Used by the main window.
    const std::string& FileFilter() const { return m_fileFilter; }
    void SetFileFilter(const std::string& filter);
    TPTShListData* GetSelectedItem();

    void FillItems();
    void RefreshItems();
    TPTShellLocator& Folder() { return m_folder; }
    void SetFolder(const TPTShellLocator* locator);
    void TreeChanged(TTreeNode* node);
    void GoUp(int levels);
    void OpenItem(TListItem* item);
    void OpenSelectedItems();
    int SortColumn() const { return m_sortColumn; }
    void SetSortColumn(int column);
    void SortList();
    // A click on a column header: sorts by that column, or reverses the order
    // of the current sort column, unless OnColumnClick set a sort column itself.
    void ColClick(int column) override;
    void Synchronize(bool alsoLinked);
    TPTShListData* GetShListData(int index) const;
    TPTShListData* GetDataFromItem(TListItem* item) const;
    bool ItemHasData(TListItem* item) const { return GetDataFromItem(item) != nullptr; }
    int ShellSelCount() const;
    void SelectAll() override;
    bool IsFolderNetworkShare();
    // Commands: verbs of the shell menus of items and of the shown folder,
    // the context menu of the selection, rename in place and new folders.
    HRESULT GetUIObjectForItem(TListItem* item, REFIID riid, void** object);
    HRESULT GetUIObjectForAllSelected(REFIID riid, void** object);
    HRESULT DoCommandForItem(TListItem* item, const std::string& verb);
    HRESULT DoCommandForAllSelected(const std::string& verb);
    HRESULT DoCommandForFolder(const std::string& verb);
    virtual void ProcessMenu(TListItem* item, TPoint pos);
    virtual void ProcessMenuForAllSelected(TPoint pos);
    // Sends the selection to the Send To entry at the index.
    void ProcessSendTo(int index);
    bool CreateNewFolder(bool edit);
    IContextMenu* ShownMenu() const { return m_shownMenu; }
    TPTShPopupHintEvent OnPopupHint;

    TPTCustomShellTree* ShellTree() const { return m_shellTree; }
    void SetShellTree(TPTCustomShellTree* tree);
    // The folder combo linked to the list; set by the combo.
    TPTCustomShellCombo* ShellCombo() const { return m_shellCombo; }
    void SetShellCombo(TPTCustomShellCombo* combo) { m_shellCombo = combo; }
    TPTShellListOptions Options() const { return m_options; }
    void SetOptions(TPTShellListOptions options);
    int ColumnMode() const { return m_columnMode; }

    void BeginBusy() { m_refresh->BeginBusy(); }
    void EndBusy() { m_refresh->EndBusy(); }
    bool RefreshPending() const { return m_refresh->Pending(); }
    bool RefreshScheduled() const { return m_refresh->Scheduled(); }
    TPTShellRefresh& Refresh() { return *m_refresh; }

    // IPTShellListOwner
    IShellFolder* GetListFolder() override { return m_currentFolder; }
    LPCITEMIDLIST GetListFolderIdList() override { return m_currentList; }
    bool GetFilesCanBeFolders() override { return m_options & ptsloFilesCanBeFolders; }
    IShellDetails* GetCurrentFolderIShellDetails() override;

    // Drag and drop: the selection dragged out with a mouse button (0 left,
    // 1 right), and drags over the list handed to the folder of the item
    // under the pointer or to the shown folder. On its own empty space a
    // drag of the list is refused with the left button and offered without
    // a move with the right.
    void OleBeginDrag(int button);
    // The data object of the selected items; null when none is selected.
    TComPtr<IDataObject> SelectionDataObject();
    DWORD GetDragDropAttributesForAllSelected();
    TListItem* DropHighlight() const { return DropTarget(); }
    HRESULT OnDropTarget_DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect) override;
    HRESULT OnDropTarget_DragOver(DWORD keyState, POINTL point, DWORD& effect) override;
    HRESULT OnDropTarget_DragLeave() override;
    HRESULT OnDropTarget_Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD& effect) override;

    TPTShAddItemEvent OnAddItem;
    TPTShListDeleteItemEvent OnDeleteItem;
    TPTShDblClickOpenEvent OnDblClickOpen;
    TPTShLvCustomDrawEvent OnCustomDrawSh;
    TPTShLvCustomDrawEvent OnCustomDrawShEx;
    TNotifyEvent OnFillComplete;
    TNotifyEvent OnFillStart;
    TNotifyEvent OnFolderChanged;

    TPTCustomDraw* PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result) override;
    void WndProc(TMessage& message) override;

    virtual bool CanAdd(IShellFolder* folder, LPCITEMIDLIST folderList, ULONG attributes, LPCITEMIDLIST item);
    virtual void DeviceChangeDetected(TPTDeviceChangeHandler* sender, TMessage& message);
    virtual void FillList(IShellFolder* folder, LPCITEMIDLIST absoluteList);
    virtual void FilterPreApply();
    virtual bool FilterApply(const std::string& name, ULONG attributes);
    virtual void FilterPostApply();

protected:
    std::string ItemText(TListItem* item, int column) override;
    int ItemImageIndex(TListItem* item) override;
    void Delete(TListItem* item) override;
    void DblClick() override;
    virtual bool DblClickOpen();
    // Runs the default entry of the items' shell menu.
    virtual void InvokeDefaultVerb(const std::vector<LPCITEMIDLIST>& items);
    virtual void FillComplete();
    virtual void FillStart();
    virtual void FolderChanged();
    virtual void PTCustomDrawSh(TPTCustomDraw* cd, TListItem* item, TPTShListData* data);
    void KeyDown(WORD& key, TShiftState shift) override;
    void KeyPress(char& key) override;
    void ItemContextMenu(TListItem* item, TPoint& pos, TPopupMenu*& menu) override;
    bool CanEdit(TListItem* item, std::string& text) override;
    void Edit(TListItem* item, const std::string& text) override;
    void EditEnded() override;

private:
    HRESULT InvokeVerb(IContextMenu* menu, const std::string& verb);
    void TrackMenu(IShellFolder* folder, std::vector<LPITEMIDLIST>& items, UINT flags, TPoint pos);
    void DeferredEdit();
    void HandleOnFolderChanged();
    void InitColumns(IShellDetails* details);
    bool ShouldInclude(LPCITEMIDLIST folderList, LPCITEMIDLIST item, ULONG& attributes);
    void AddNewShellItem(LPCITEMIDLIST folderList, LPITEMIDLIST item);
    void AddItemWithData(TPTShListData* data, ULONG attributes);
    // Set by a fill that made its rows in the list's order already.
    bool m_filledInOrder = false;
    // The order of the sort column through the shown folder's comparison.
    std::function<int(TListItem*, TListItem*)> SortComparison();
    void ClearAllItems();
    void InstallChangeHandler();
    void ChangeNotified();
    void TimerElapsed();
    void NavigateTo(LPCITEMIDLIST absoluteList);
    DWORD EnumFlags() const;
    // The drop target under the pointer, with one reference, and the item
    // it belongs to (null for the shown folder); ownEmpty tells that it is
    // this list's own drag over its empty space.
    IDropTarget* DropTargetAt(POINTL point, TListItem*& item, bool& ownEmpty);
    HRESULT HoverOver(DWORD keyState, POINTL point, DWORD& effect);
    void Autoscroll(POINTL point);

    TPTShellLocator m_folder;
    TPTShellListOptions m_options = 0x3E9B;
    std::string m_fileFilter;
    std::unique_ptr<TStringList> m_masks;
    bool m_filterActive = false;
    std::unique_ptr<TPTShellRefresh> m_refresh;
    TPTCustomShellTree* m_shellTree = nullptr;
    TPTCustomShellCombo* m_shellCombo = nullptr;
    int m_sortColumn = 1;
    bool m_sortColumnSet = false;
    int m_folderChangeLock = 0;
    std::unique_ptr<TChangeHandlerThread> m_changeThread;
    IShellFolder* m_currentFolder = nullptr;
    LPITEMIDLIST m_currentList = nullptr;
    bool m_detailsFetched = false;
    IShellDetails* m_details = nullptr;
    std::uint8_t m_columnMode = 0;
    bool m_widthsStorable = false;
    IContextMenu* m_shownMenu = nullptr;
    std::string m_newFolderName;
    TPTShellLabelEdit m_labelEdit {*m_refresh};
    // The drag state: the button of this list's own drag (-1: none), the
    // data dragged in with the buttons held when it entered, the item shown
    // as drop target.
    int m_dragButton = -1;
    bool m_dragStarted = false;
    TComPtr<IDataObject> m_dragData;
    DWORD m_dragKeys = 0;
    TPTShellAutoscroll m_autoscroll;
    TPTShellDropRegistration m_drop {*this};
};

class TPTShellList : public TPTCustomShellList {
public:
    using TPTCustomShellList::TPTCustomShellList;
};

// Matches a file name against one mask the way the system's file search
// does, without regard to case: "*" any run, "?" one character, "*.*" every
// name, a mask ending in "." names without an extension.
bool PTMatchesMask(const std::string& name, const std::string& mask);
