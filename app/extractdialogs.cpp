#include "extractdialogs.h"

#include "vcl/comctrls.h"

#include "rtl/sysutils.h"

namespace {

template <typename T> T* Place(TForm* form, const std::string& name, const std::string& caption, int left, int top,
    int width, int height)
{
    auto* c = new T(form);
    c->SetName(name);
    c->SetCaption(caption);
    c->SetBounds(left, top, width, height);
    c->SetParent(form);
    return c;
}

}  // namespace

TfrmExtract::TfrmExtract(TComponent* owner) : TForm(owner)
{
    SetName("frmExtract");
    SetCaption("Extract");
    Position = TPosition::poScreenCenter;
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetClientSize(520, 412);
    Label1 = Place<TLabel>(this, "Label1", "Extract &To:", 8, 8, 200, 16);
    Edit1 = Place<TEdit>(this, "Edit1", "", 8, 26, 504, 24);
    Label2 = Place<TLabel>(this, "Label2", "Select Folder:", 8, 58, 200, 16);
    DirectoryListBox1 = Place<TDirectoryListBox>(this, "DirectoryListBox1", "", 8, 76, 250, 188);
    DriveComboBox1 = Place<TDriveComboBox>(this, "DriveComboBox1", "", 8, 270, 250, 24);
    FileListBox1 = Place<TFileListBox>(this, "FileListBox1", "", 266, 76, 246, 218);
    FileListBox1->SetFileType(ftReadOnly | ftHidden | ftArchive | ftNormal);
    DriveComboBox1->SetDirList(DirectoryListBox1);
    DirectoryListBox1->SetFileList(FileListBox1);
    RadioGroup1 = Place<TRadioGroup>(this, "RadioGroup1", "Extract", 8, 304, 250, 64);
    RadioGroup1->AddItem("&Selected Files");
    RadioGroup1->AddItem("&All Files");
    CheckBox1 = Place<TCheckBox>(this, "CheckBox1", "&Restore Original Folders", 266, 304, 246, 20);
    CheckBox1->SetChecked(true);
    Label3 = Place<TLabel>(this, "Label3", "DateAttribute:", 266, 332, 100, 16);
    ComboBox1 = Place<TComboBox>(this, "ComboBox1", "", 370, 328, 142, 24);
    ComboBox1->AddItem("FileDate");
    ComboBox1->AddItem("SystemDate");
    ComboBox1->AddItem("MaxFileDate");
    CheckBox2 = Place<TCheckBox>(this, "CheckBox2", "&Confirm file overwrites", 266, 356, 246, 20);
    CheckBox2->SetChecked(true);
    BitBtn1 = Place<TButton>(this, "BitBtn1", "&Extract", 266, 378, 78, 28);
    BitBtn1->SetDefault(true);
    BitBtn2 = Place<TButton>(this, "BitBtn2", "Cancel", 350, 378, 78, 28);
    BitBtn2->Cancel = true;
    Button3 = Place<TButton>(this, "Button3", "&New Folder", 434, 378, 78, 28);
    Button3->SetHint("Create new folder");

    DirectoryListBox1->OnChange = [this](TObject* s) { DirectoryListBox1Change(s); };
    RadioGroup1->OnChange = [this](TObject* s) { RadioGroup1Click(s); };
    BitBtn1->OnClick = [this](TObject* s) { BitBtn1Click(s); };
    BitBtn2->OnClick = [this](TObject* s) { BitBtn2Click(s); };
    Button3->OnClick = [this](TObject* s) { Button3Click(s); };
    OnActivate = [this](TObject* s) { FormActivate(s); };
    FormCreate(this);
}

int TfrmExtract::SelectedRows() const { return SourceList ? SourceList->SelCount() : 0; }

void TfrmExtract::FormCreate(TObject*) { ComboBox1->SetItemIndex(0); }

void TfrmExtract::FormActivate(TObject*)
{
    RadioGroup1->SetItemIndex(SelectedRows() == 0 ? 1 : 0);
    Edit1->SetText(DirectoryListBox1->Directory());
    Edit1->SelectAll();
    Edit1->SetFocus();
}

void TfrmExtract::DirectoryListBox1Change(TObject*)
{
    const std::string dir = DirectoryListBox1->Directory();
    Edit1->SetText(dir);
    // The drive box shows the mount that holds the folder, wherever the
    // folder came from; only showing it must not open the mount's root.
    DriveComboBox1->SetDirList(nullptr);
    DriveComboBox1->SetDrive(dir);
    DriveComboBox1->SetDirList(DirectoryListBox1);
}

void TfrmExtract::RadioGroup1Click(TObject*)
{
    if (RadioGroup1->ItemIndex() == 0 && SelectedRows() == 0)
        RadioGroup1->SetItemIndex(1);
}

void TfrmExtract::BitBtn1Click(TObject*)
{
    const std::string dir = Edit1->Text();
    if (dir.empty())
        return;
    if (DirectoryExists(dir)) {
        DirectoryListBox1->SetDirectory(dir);
        SetModalResult(mrOk);
        return;
    }
    Application->Prompts().MessageBox(dir + "...not found.", Application->Title(), MB_OK);
    Edit1->SetFocus();
}

void TfrmExtract::BitBtn2Click(TObject*) { SetModalResult(mrCancel); }

void TfrmExtract::Button3Click(TObject*)
{
    std::string name = "NewFolder";
    if (!Application->Prompts().InputQuery("Create New Folder", "New folder name:", name) || name.empty())
        return;
    const std::string base = IncludeTrailingPathDelimiter(DirectoryListBox1->Directory()) + name;
    std::string tried = base;
    for (int i = 1; DirectoryExists(tried) || FileExists(tried); ++i)
        tried = base + IntToStr(i);
    ForceDirectories(tried);
    DirectoryListBox1->SetDirectory(tried);
}

TfrmOverwrite::TfrmOverwrite(TComponent* owner) : TForm(owner)
{
    SetName("frmOverwrite");
    SetCaption("Confirm file overwrite...");
    Position = TPosition::poScreenCenter;
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetClientSize(380, 130);
    Label1 = Place<TLabel>(this, "Label1", "", 8, 8, 364, 48);
    Label1->SetShowAccelChar(false);  // a file name, shown as it is
    Label1->SetWordWrap(true);
    Yes = Place<TButton>(this, "Yes", "&Yes", 110, 90, 75, 28);
    Yes->ModalResult = mrYes;
    Yes->SetDefault(true);
    No = Place<TButton>(this, "No", "&No", 195, 90, 75, 28);
    No->ModalResult = mrNo;
    CheckBox1 = Place<TCheckBox>(this, "CheckBox1", "Don't ask again", 8, 62, 200, 20);
    // The box has no Cancel button: Escape closes it as its close box does,
    // which stops the extraction.
    OnKeyDown = [this](TObject*, WORD& key, TShiftState shift) {
        if (key == VK_ESCAPE && !(shift & (ssShift | ssAlt | ssCtrl))) {
            key = 0;
            Close();
        }
    };
    OnActivate = [this](TObject* s) { FormActivate(s); };
}

void TfrmOverwrite::FormActivate(TObject*) { CheckBox1->SetChecked(false); }
