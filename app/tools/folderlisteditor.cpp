#include "folderlisteditor.h"

#include "programfiles.h"
#include "mainwindow.h"
#include "place.h"

TForm6* Form6 = nullptr;

namespace {
void RebuildFolderMenu()
{
    if (MainWindowServices)
        MainWindowServices->BuildFolderListMenu();
}

void SaveList(const TStringList& list, const std::string& fileName)
{
    ForceDirectories(ExtractFilePath(fileName));
    SaveListFile(list, fileName);
}
}

std::string FolderListFileName() { return ProgramFile("ffolders/folders.txt"); }

TForm5::TForm5(TComponent* owner) : TForm(owner)
{
    SetCaption("Edit FoldersList");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    Position = TPosition::poMainFormCenter;
    SetClientSize(480, 300);
    ListView1 = Place<TListView>(this, this, 8, 8, 370, 284, "", "ListView1");
    ListView1->AddColumn("Description", 140);
    ListView1->AddColumn("Path", 220);
    ListView1->SetViewStyle(TViewStyle::vsReport);
    ListView1->OnSelectItem = [this](TObject* s, TListItem* i, bool sel) { ListView1SelectItem(s, i, sel); };
    Button1 = Place<TButton>(this, this, 390, 8, 82, 25, "Add", "Button1");
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    bRemove = Place<TButton>(this, this, 390, 40, 82, 25, "Remove", "bRemove");
    bRemove->OnClick = [this](TObject* s) { bRemoveClick(s); };
    bRemove->SetEnabled(false);
    bModify = Place<TButton>(this, this, 390, 72, 82, 25, "Modify", "bModify");
    bModify->OnClick = [this](TObject* s) { bModifyClick(s); };
    bModify->SetEnabled(false);
    Button4 = Place<TButton>(this, this, 390, 267, 82, 25, "Close", "Button4");
    Button4->OnClick = [this](TObject* s) { Button4Click(s); };
    // Escape closes the window, as its Close button does.
    Button4->Cancel = true;
    OnShow = [this](TObject* s) { FormShow(s); };
}

TForm5::~TForm5()
{
    if (Form6 && Form6->Editor == this)
        Form6->Editor = nullptr;
}

void TForm5::LoadFolderList(TListView& view, const std::string& path)
{
    TStringList folders;
    LoadListOrEmpty(folders, path);
    view.Items().BeginUpdate();
    view.Items().Clear();
    for (int i = 0; i < PairCount(folders); ++i) {
        TListItem* row = view.Items().Add();
        row->SetCaption(IntToStr(i + 1) + ":" + folders[2 * i]);
        row->SubItemsForUpdate().Add(folders[2 * i + 1]);
    }
    view.Items().EndUpdate();
}

void TForm5::FormShow(TObject*) { LoadFolderList(*ListView1, FolderListFileName()); }

void TForm5::ListView1SelectItem(TObject*, TListItem*, bool selected)
{
    bRemove->SetEnabled(selected);
    bModify->SetEnabled(selected);
}

void TForm5::Button1Click(TObject*)
{
    if (!Form6)
        return;
    Form6->Editor = this;
    Form6->ShowModal();
    Form6->Editor = nullptr;
}

void TForm5::bRemoveClick(TObject*)
{
    TListItem* row = ListView1->Selected();
    if (!row)
        return;
    const int p = row->Index();
    TStringList folders;
    LoadListOrEmpty(folders, FolderListFileName());
    if (2 * p + 1 < folders.Count()) {
        folders.Delete(2 * p + 1);
        folders.Delete(2 * p);
    }
    SaveList(folders, FolderListFileName());
    LoadFolderList(*ListView1, FolderListFileName());
    RebuildFolderMenu();
}

void TForm5::bModifyClick(TObject*)
{
    TListItem* row = ListView1->Selected();
    if (!row)
        return;
    const int p = row->Index();
    std::string text = "New Description";
    const bool ok = InputQuery("Modify Description", "Please input a new Description:", text);
    if (ok && text.empty())
        return;
    if (ok) {
        TStringList folders;
        LoadListOrEmpty(folders, FolderListFileName());
        if (2 * p < folders.Count()) {
            folders.SetString(2 * p, OnOneLine(text));
            SaveList(folders, FolderListFileName());
        }
        LoadFolderList(*ListView1, FolderListFileName());
    }
    RebuildFolderMenu();
}

void TForm5::Button4Click(TObject*) { Close(); }

TForm6::TForm6(TComponent* owner) : TForm(owner)
{
    Form6 = this;
    SetCaption("Add to folderlist");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    Position = TPosition::poMainFormCenter;
    SetClientSize(420, 110);
    Place<TLabel>(this, this, 8, 12, 80, 16, "Description:");
    Edit1 = Place<TEdit>(this, this, 90, 8, 320, 22, "", "Edit1");
    Place<TLabel>(this, this, 8, 42, 80, 16, "Path:");
    Edit2 = Place<TEdit>(this, this, 90, 38, 240, 22, "", "Edit2");
    Button1 = Place<TButton>(this, this, 336, 37, 74, 25, "Select...", "Button1");
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    Button2 = Place<TButton>(this, this, 250, 76, 74, 25, "Add", "Button2");
    Button2->OnClick = [this](TObject* s) { Button2Click(s); };
    Button3 = Place<TButton>(this, this, 336, 76, 74, 25, "Close", "Button3");
    Button3->OnClick = [this](TObject* s) { Button3Click(s); };
    Button3->Cancel = true;
}

TForm6::~TForm6()
{
    if (Form6 == this)
        Form6 = nullptr;
}

void TForm6::Button1Click(TObject*)
{
    std::string dir;
    if (!SelectDirectory("Select Path to search", "", dir))
        return;
    Edit2->SetText(IncludeTrailingPathDelimiter(dir));
}

void TForm6::Button2Click(TObject*)
{
    const std::string description = Edit1->Text();
    const std::string path = Edit2->Text();
    if (description.empty() || path.empty())
        return;
    if (!DirectoryExists(path)) {
        ShowMessage("Path is invalid.");
        return;
    }
    if (HoldsLineBreak(path)) {
        ShowMessage(kLineBreakInFolderName);
        return;
    }
    TStringList folders;
    LoadListOrEmpty(folders, FolderListFileName());
    if (folders.Count() % 2 != 0)
        folders.Delete(folders.Count() - 1);
    folders.Add(OnOneLine(description));
    folders.Add(path);
    SaveList(folders, FolderListFileName());
    if (Editor)
        LoadFolderList(*Editor->ListView1, FolderListFileName());
    RebuildFolderMenu();
}

void TForm6::Button3Click(TObject*) { Close(); }
