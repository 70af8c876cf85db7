// Commands of the main window that are no viewer's own: stepping through the
// active file list, the buttons of the three file-list tabs, the folder tree's
// events, the favourite folders and the shell "open" items.
#include "mainform.h"

#include "tools/commonfunc.h"
#include "tools/programfiles.h"
#include "tools/renamer.h"
#include "tools/searchfiles.h"
#include "tools/wav2mp3.h"

#include "kernel/kernel.h"
#include "win/fileops.h"
#include "win/shellexec.h"

#include "rtl/sysutils.h"

namespace {

constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorAlreadyExists = 183;

TToolButton* TabButton(TForm* form, TToolBar* bar, const std::string& name, const std::string& caption,
    const std::string& hint, TNotifyEvent onClick)
{
    auto* b = new TToolButton(form);
    b->SetName(name);
    b->SetCaption(caption);
    b->SetHint(hint);
    b->OnClick = std::move(onClick);
    b->SetParent(bar);
    return b;
}

void HiddenSeparator(TForm* form, TToolBar* bar)
{
    auto* b = new TToolButton(form);
    b->SetStyle(TToolButtonStyle::tbsSeparator);
    b->SetParent(bar);
    b->Hide();
}


} // namespace

void TForm1::CreateFileListButtons()
{
    HiddenSeparator(this, tbdiskfiles);
    ToolButton44 = TabButton(this, tbdiskfiles, "ToolButton44", "Select All", "Select All",
        [this](TObject*) { list->SelectAll(); });
    ToolButton44->Hide();
    ToolButton7 = TabButton(this, tbdiskfiles, "ToolButton7", "Delete", "Delete  current file",
        [this](TObject* s) { ToolButton7Click(s); });
    ToolButton28 = TabButton(this, tbdiskfiles, "ToolButton28", "Copy", "Copy  current file to new  folder",
        [this](TObject* s) { ToolButton28Click(s); });
    ToolButton29 = TabButton(this, tbdiskfiles, "ToolButton29", "Move", "Move current file to new folder",
        [this](TObject* s) { ToolButton29Click(s); });
    ToolButton33 = TabButton(this, tbdiskfiles, "ToolButton33", "Refresh", "refresh",
        [this](TObject* s) { ToolButton33Click(s); });
    ToolButton24 = TabButton(this, tbdiskfiles, "ToolButton24", "Mark", "Marked as selected file",
        [this](TObject* s) { ToolButton24Click(s); });

    ToolButton40 = TabButton(this, ToolBar4, "ToolButton40", "Select all", "Select all",
        [this](TObject*) { slist->SelectAll(); });
    ToolButton27 = TabButton(this, ToolBar4, "ToolButton27", "Delete", "delete selected files", [this](TObject*) {
        DeleteSelectedFiles(*slist);
        ForgetVanishedCurrentFile();
    });
    ToolButton25 = TabButton(this, ToolBar4, "ToolButton25", "Copy", "Copy selected files to new folder...",
        [this](TObject*) { CopySelectedFiles(*slist); });
    ToolButton26 = TabButton(this, ToolBar4, "ToolButton26", "Move", "move selected files to new folder",
        [this](TObject*) {
            MoveSelectedFiles(*slist);
            ForgetVanishedCurrentFile();
        });

    ToolButton42 = TabButton(this, tbselectedfiles, "ToolButton42", "Select all", "Select all",
        [this](TObject*) { selectedlist->SelectAll(); });
    ToolButton8 = TabButton(this, tbselectedfiles, "ToolButton8", "Delete", "delete selected files",
        [this](TObject*) {
            DeleteSelectedFiles(*selectedlist);
            ForgetVanishedCurrentFile();
        });
    ToolButton9 = TabButton(this, tbselectedfiles, "ToolButton9", "Copy", "copy selected files to new folder...",
        [this](TObject*) { CopySelectedFiles(*selectedlist); });
    ToolButton10 = TabButton(this, tbselectedfiles, "ToolButton10", "Move", "Move selected files to new folder",
        [this](TObject*) {
            MoveSelectedFiles(*selectedlist);
            ForgetVanishedCurrentFile();
        });
    HiddenSeparator(this, tbselectedfiles);
    ToolButton31 = TabButton(this, tbselectedfiles, "ToolButton31", "Remove", "Remove from the list",
        [this](TObject*) { DeleteSelectedItems(*selectedlist); });
}

// ---- the "Disk Files" list and the tree ---------------------------------------------------

std::string TForm1::DiskListSelectedPath() const
{
    TPTShListData* item = list->GetSelectedItem();
    return item ? item->GetPathName() : std::string();
}

std::string TForm1::TreeSelectedPath() const { return tree->GetSelectedPathName(); }

void TForm1::treeChange(TObject*)
{
    if (SearchSwitchedTab) {
        PageControl1->SetActivePage(TabSheet1);
        SearchSwitchedTab = false;
    }
    SetStatusPanel(6, IntToStr(FileListCount()) + "Files");
}

void TForm1::treeClick(TObject*)
{
    if (PageControl1->ActivePage() != TabSheet1)
        PageControl1->SetActivePage(TabSheet1);
}

void TForm1::upClick(TObject*) { tree->GoUp(1); }

// ---- next and previous file ------------------------------------------------------------------

void TForm1::StepFile(int direction)
{
    TListView* view = list;
    if (PageControl1->ActivePage() == TabSheet2)
        view = slist;
    else if (PageControl1->ActivePage() == TabSheet3)
        view = selectedlist;
    const int count = view->Items().Count();
    if (count == 0)
        return;
    const TListItem* selected = view->Selected();
    const int k = selected ? selected->Index() : -1;
    int next;
    if (direction > 0)
        next = k + 1 < count ? k + 1 : 0;
    else
        next = k > 0 ? k - 1 : count - 1;
    // The found and marked lists drop their whole selection first; the shell
    // list keeps its own and selects the next item in it. The selection
    // change previews the file as a user's click would.
    TListItem* item = view->Items()[next];
    if (view != list)
        view->ClearSelection();
    else
        list->SetItemFocused(item);
    item->SetSelected(true);
}

void TForm1::bnextClick(TObject*) { StepFile(1); }

void TForm1::bprevClick(TObject*) { StepFile(-1); }

// ---- the current file -------------------------------------------------------------------------

void TForm1::ToolButton7Click(TObject*)
{
    if (!list->Selected() || !FileExists(CurrentFile))
        return;
    if (Application->MessageBox("Move this file to the trash?\n" + CurrentFile, "Delete file", MB_YESNO | MB_ICONQUESTION)
        != IDYES)
        return;
    if (!MoveToTrash(CurrentFile))
        Application->MessageBox("Failed to delete the file:\n" + CurrentFile + "\n" + SysErrorMessage(GetLastError()),
            "Delete file", MB_OK | MB_ICONERROR);
    ForgetVanishedCurrentFile();
    list->Repaint();
}

void TForm1::ToolButton28Click(TObject*)
{
    PrepareSaveDialog("Copy file to new folder", "*.*|*.*");
    sd.FileName = CurrentFile;
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    if (CopyFileNoReplace(CurrentFile, chosen))
        return;
    const DWORD code = GetLastError();
    if (code == kErrorFileExists || code == kErrorAlreadyExists)
        ShowMessage("There is a same name file in this directory. \nFailed to copy the file.");
    else
        ShowMessage("Failed to copy the file.\n" + SysErrorMessage(code));
}

void TForm1::ToolButton29Click(TObject*)
{
    PrepareSaveDialog("Move file to new folder", "*.*|*.*");
    sd.FileName = CurrentFile;
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    if (MoveFileNoReplace(CurrentFile, chosen)) {
        // The current file keeps its old path, where nothing is left to show.
        ForgetVanishedCurrentFile();
        list->Repaint();
    } else
        ShowMessage("Failed to move this file.\n" + SysErrorMessage(GetLastError()));
}

void TForm1::ToolButton33Click(TObject*) { list->Repaint(); }

void TForm1::ToolButton24Click(TObject*)
{
    if (!CurrentFile.empty())
        AddFileToList(*selectedlist, CurrentFile);
}

// ---- favourite folders ------------------------------------------------------------------------

void TForm1::FolderListMenuClick(TObject* sender)
{
    const int m = static_cast<TMenuItem*>(sender)->MenuIndex();
    TStringList folders;
    LoadListOrEmpty(folders, ProgramFile("ffolders/folders.txt"));
    const int line = 2 * m - 5;
    if (line >= 1 && line < folders.Count())
        SelectStartFolder(folders[line]);
}

void TForm1::Addcurrentfoldertofolderlist1Click(TObject*)
{
    const std::string folder = TreeSelectedPath();
    if (folder.empty()) {
        ShowMessage("No folder is selected in the folder tree.");
        return;
    }
    if (HoldsLineBreak(folder)) {
        ShowMessage(kLineBreakInFolderName);
        return;
    }
    std::string description = folder;
    if (!InputQuery("Description", "Description of the folder:", description))
        description = folder;
    TStringList folders;
    LoadListOrEmpty(folders, ProgramFile("ffolders/folders.txt"));
    folders.Add(OnOneLine(description));
    folders.Add(folder);
    SaveListFile(folders, ProgramFile("ffolders/folders.txt"));
    BuildFolderListMenu();
}

// ---- shell "open" items -----------------------------------------------------------------------

void TForm1::OpenWithShell(const std::string& target)
{
    if (!ShellOpen(target))
        ShowStatusMessage("No program could open " + target);
}

void TForm1::OpenProgramFile(const std::string& relative)
{
    const std::string file = ProgramFile(relative);
    if (!FileExists(file)) {
        ShowStatusMessage("The file is missing: " + file);
        return;
    }
    OpenWithShell(file);
}

void TForm1::Asciitable1Click(TObject*) { OpenProgramFile("ini/ascii.txt"); }

void TForm1::Userguide1Click(TObject*) { OpenProgramFile("help/help.htm"); }

// ---- tool windows -----------------------------------------------------------------------------

void TForm1::Searchfiles1Click(TObject*)
{
    if (frmSearchFiles)
        frmSearchFiles->Show();
}

void TForm1::searchfilesClick(TObject* sender) { Searchfiles1Click(sender); }

void TForm1::FileNamemanager1Click(TObject*)
{
    const std::unique_ptr<TfrmRenamer> renamer = std::make_unique<TfrmRenamer>(this);
    renamer->ShowModal();
}

void TForm1::ConvertWAVtoMP31Click(TObject*)
{
    const std::unique_ptr<TFormWav2Mp3> converter = std::make_unique<TFormWav2Mp3>(this);
    converter->ShowModal();
}

TListView& TForm1::FoundFilesList() { return *slist; }

void TForm1::BeginFoundFilesSearch()
{
    PageControl1->SetActivePage(TabSheet2);
    SearchSwitchedTab = true;
}

void TForm1::EndFoundFilesSearch() { SearchSwitchedTab = false; }
