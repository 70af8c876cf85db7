// The main window's folder tree and "Disk Files" list: the shell controls,
// linked so that the list shows the tree's selected folder.
#include "mainform.h"

void TForm1::CreateShellTree()
{
    tree = new TPTShellTree(this);
    tree->SetName("tree");
    tree->SetBounds(0, 0, 225, 200);
    tree->SetAlign(alClient);
    tree->SetParent(PanelLeft);
    tree->SetOptions(ptstoAutoFill | ptstoDefaultKeyHandling | ptstoContextMenus | ptstoDynamicRefresh | ptstoOleDrag
        | ptstoOleDrop | ptstoShowHidden);
    // Qt's tree view always selects whole rows.
    tree->SetHideSelection(false);
    tree->RightClickSelect = true;
}

void TForm1::CreateShellList()
{
    list = new TPTShellList(this);
    list->SetName("list");
    list->SetOptions(ptsloAutoFill | ptsloDefaultKeyHandling | ptsloContextMenus | ptsloDynamicRefresh
        | ptsloHideFoldersWhenLinkedToTree | ptsloOleDrag | ptsloOleDrop | ptsloShowHidden);
    list->SetHeaderSortDisplayMode(ptlvLeftAlign);
    list->SetViewStyle(TViewStyle::vsReport);
    list->SetGridLines(true);
    list->SetRowSelect(true);
    list->SetHideSelection(false);
    list->SetAlign(alClient);
    list->SetParent(TabSheet1);
    // Panel 6 follows the list after every fill (a folder chosen, a filter
    // changed) and every refresh (files made or deleted here or elsewhere).
    list->OnFillComplete = [this](TObject*) { SetStatusPanel(6, IntToStr(FileListCount()) + "Files"); };
    // The tree is made first (the left panel comes before the tabs).
    if (tree)
        tree->SetShellList(list);
}

// Selecting the folder in the tree also fills the linked list. The form is
// built in code, so the tree has not had the fill that loading a form gives
// it: it fills here first, and the file count of the first showing is the
// start folder's.
void TForm1::SelectStartFolder(const std::string& folder)
{
    if (tree->RootCount() == 0 && (tree->Options() & ptstoAutoFill))
        tree->FillItems();
    tree->SetSelectedPathName(folder);
}

// The list refills before this returns, so the count read next is current.
void TForm1::ApplyFileFilter(const std::string& mask) { list->SetFileFilter(mask); }

int TForm1::FileListCount() const { return list->Items().Count(); }
