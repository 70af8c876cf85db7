// The shell folder combo: an address-bar style chooser of folders. Its
// entries are the Desktop, the folders on it, the folders of Computer, and
// the chain of folders down to the selected one, each indented by its
// depth; captions and icons are found when an entry is first drawn.
// Choosing an entry changes the folder of a linked shell tree or, without
// one, of a linked shell list; a combo links to one of them, never both.
#pragma once

#include "shell/ptcombos.h"
#include "shell/ptshcontrols.h"

#include <cstdint>
#include <vector>

enum TPTShellComboOption : std::uint8_t {
    ptscoAutofill = 1 << 0,
    ptscoNonFilesystemAncestors = 1 << 1,
};
using TPTShellComboOptions = std::uint8_t;

class TPTCustomShellCombo : public TPTCustomImageCombo {
public:
    explicit TPTCustomShellCombo(TComponent* owner);
    ~TPTCustomShellCombo() override;

    // Rebuilds the entries for the selected folder.
    void FillItems();
    // Selects the ancestor that many levels above the selected entry.
    void GoUp(int levels);
    // A linked tree reports its selected node.
    virtual void TreeChanged(TTreeNode* node);
    void Synchronize(bool alsoLinked);
    // The owner's loading is over: fills, then hands the selected folder to
    // the linked tree (which refreshes) or list.
    virtual void Loaded();

    TPTShellLocator& GetSelectedFolder() { return m_selectedFolder; }
    void SetSelectedFolder(const TPTShellLocator* locator) { m_selectedFolder.Assign(locator); }
    TPTShComboData* GetShComboData(int index) const;
    TPTCustomShellTree* ShellTree() const { return m_shellTree; }
    TPTCustomShellList* ShellList() const { return m_shellList; }
    // Links one control; refused (nothing changes) while a control of the
    // other kind is linked.
    void SetShellTree(TPTCustomShellTree* tree);
    void SetShellList(TPTCustomShellList* list);
    TPTShellComboOptions Options() const { return m_options; }
    void SetOptions(TPTShellComboOptions options) { m_options = options; }
    bool AutoDropDownCount = true;

    void WndProc(TMessage& message) override;

    virtual bool CanAdd(IShellFolder* folder, LPCITEMIDLIST parentList, int level, ULONG attributes,
        LPCITEMIDLIST item);

protected:
    virtual void SelectedFolderChanged();
    // Adds the folder's folders at the level; an entry on the selected path
    // (levels not nil) continues the path below it.
    virtual void FillCombo(IShellFolder* folder, LPCITEMIDLIST folderList, TPTIdListArray* levels, int level);
    void GetItemData(TPTImageComboItem* item) override;
    void DeleteItem(void* item) override;
    void SelEndOk() override;
    void DropDown() override;

private:
    // The rest of the selected path as a chain of entries below the entry.
    void AddChain(TPTShComboData* parent, TPTIdListArray& levels, int level);
    TPTImageComboItem* AddEntry(const std::string& caption, int image, int indent, IShellFolder* folder,
        LPCITEMIDLIST parentList, LPCITEMIDLIST item, ULONG attributes);

    TPTShellLocator m_selectedFolder;
    TPTCustomShellTree* m_shellTree = nullptr;
    TPTCustomShellList* m_shellList = nullptr;
    TPTShellComboOptions m_options = ptscoAutofill | ptscoNonFilesystemAncestors;
    int m_updateLock = 0;
};

class TPTShellCombo : public TPTCustomShellCombo {
public:
    using TPTCustomShellCombo::TPTCustomShellCombo;
};

// Sorts the lists in the folder's order (CompareIDs column 0; a failed
// comparison counts as equal). Sorts do not nest: one started while
// another runs raises Exception "Recursive call to SortPidls".
void SortPidls(IShellFolder* folder, std::vector<LPITEMIDLIST>& lists);
