#include "renamer.h"

#include "mainwindow.h"
#include "place.h"

#include "rtl/clock.h"

#include <set>
#include <vector>

namespace {

// The status label is drawn at most this often while a run goes on, and
// always at its end.
constexpr std::uint64_t kStatusIntervalMs = 50;

std::string Counts(int ok, int failed)
{
    return IntToStr(ok) + "files renamed ok.  " + IntToStr(failed) + " failed.";
}

std::string FirstCapital(const std::string& text)
{
    const size_t first = StrCharLength(text);
    return AnsiUpperCase(std::string_view(text).substr(0, first)) + AnsiLowerCase(std::string_view(text).substr(first));
}

std::string ApplyMode(const std::string& text, int mode, bool keepInFirstCapitalMode)
{
    switch (mode) {
    case cmCapital: return AnsiUpperCase(text);
    case cmSmallLetter: return AnsiLowerCase(text);
    case cmFirstCapital: return keepInFirstCapitalMode ? text : FirstCapital(text);
    default: return text;
    }
}

} // namespace

TNameParts SplitFileName(const std::string& name)
{
    const std::string ext = ExtractFileExt(name);
    return {name.substr(0, name.size() - ext.size()), ext};
}

TNameParts ApplyCaseRules(const TNameParts& name, bool mainName, bool extension, int mode)
{
    return {mainName ? ApplyMode(name.Base, mode, false) : name.Base,
        extension ? ApplyMode(name.Ext, mode, true) : name.Ext};
}

TfrmRenamer::TfrmRenamer(TComponent* owner) : TForm(owner)
{
    SetName("frmRenamer");
    SetCaption("FileName Manager");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    Position = TPosition::poMainFormCenter;
    SetClientSize(620, 400);

    DriveComboBox1 = Place<TDriveComboBox>(this, this, 8, 8, 220, 22, "", "DriveComboBox1");
    DirectoryListBox1 = Place<TDirectoryListBox>(this, this, 8, 36, 220, 180, "", "DirectoryListBox1");
    FileListBox1 = Place<TFileListBox>(this, this, 8, 222, 220, 140, "", "FileListBox1");
    FileListBox1->SetMultiSelect(true);
    FileListBox1->SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
    FilterComboBox1 = Place<TFilterComboBox>(this, this, 8, 370, 220, 22, "", "FilterComboBox1");
    FilterComboBox1->SetFilter(
        "All files (*.*)|*.*|html(*.htm,*.html)|*.htm;*.html|text(*.txt)|*.txt|asp(*.asp)|*.asp");
    DriveComboBox1->SetDirList(DirectoryListBox1);
    DirectoryListBox1->SetFileList(FileListBox1);
    FilterComboBox1->SetFileList(FileListBox1);

    PageControl1 = Place<TPageControl>(this, this, 236, 8, 376, 384, "", "PageControl1");
    TabSheet1 = new TTabSheet(this);
    TabSheet1->SetName("TabSheet1");
    TabSheet1->SetCaption("Upper/Lower Case");
    TabSheet1->SetPageControl(PageControl1);
    TabSheet2 = new TTabSheet(this);
    TabSheet2->SetName("TabSheet2");
    TabSheet2->SetCaption("Ext name batch modify");
    TabSheet2->SetPageControl(PageControl1);
    CreateCasePage();
    CreateExtensionPage();
    PageControl1->SetActivePage(TabSheet1);

    // The window has no Close button: Escape closes it, as it closes the
    // other tool windows.
    OnKeyDown = [this](TObject*, WORD& key, TShiftState shift) {
        if (key == VK_ESCAPE && !(shift & (ssShift | ssAlt | ssCtrl))) {
            key = 0;
            Close();
        }
    };
    OpenFolder(MainWindowCurrentFolder());
}

void TfrmRenamer::OpenFolder(const std::string& folder)
{
    if (folder.empty())
        return;
    DriveComboBox1->SetDrive(folder);
    DirectoryListBox1->SetDirectory(folder);
}

void TfrmRenamer::CreateCasePage()
{
    CheckBox1 = Place<TCheckBox>(this, TabSheet1, 12, 12, 160, 20, "Main file name", "CheckBox1");
    CheckBox1->SetChecked(true);
    CheckBox2 = Place<TCheckBox>(this, TabSheet1, 12, 36, 160, 20, "Extention name", "CheckBox2");
    RadioButton7 = Place<TRadioButton>(this, TabSheet1, 190, 12, 160, 20, "Capital", "RadioButton7");
    RadioButton8 = Place<TRadioButton>(this, TabSheet1, 190, 36, 160, 20, "Small letter", "RadioButton8");
    RadioButton9 = Place<TRadioButton>(this, TabSheet1, 190, 60, 160, 20, "1st letter capital", "RadioButton9");
    RadioButton9->SetChecked(true);
    Label5 = Place<TLabel>(this, TabSheet1, 12, 100, 150, 16, "exAmple.ext", "Label5");
    Label6 = Place<TLabel>(this, TabSheet1, 190, 100, 150, 16, "", "Label6");
    Label12 = Place<TLabel>(this, TabSheet1, 12, 140, 350, 40, "", "Label12");
    Label12->SetShowAccelChar(false);
    Button5 = Place<TButton>(this, TabSheet1, 12, 300, 200, 28, "Execute the modification", "Button5");

    const TNotifyEvent update = [this](TObject*) { UpdateCaseExample(); };
    for (TCheckBox* box : {CheckBox1, CheckBox2})
        box->OnClick = update;
    for (TRadioButton* button : {RadioButton7, RadioButton8, RadioButton9})
        button->OnClick = update;
    Button5->OnClick = [this](TObject* s) { Button5Click(s); };
    UpdateCaseExample();
}

void TfrmRenamer::CreateExtensionPage()
{
    Place<TLabel>(this, TabSheet2, 12, 16, 40, 16, "Text");
    Edit1 = Place<TEdit>(this, TabSheet2, 56, 12, 120, 22, "", "Edit1");
    Edit1->SetText("aaa");
    Label8 = Place<TLabel>(this, TabSheet2, 12, 48, 150, 16, "exAmple.ext", "Label8");
    Label10 = Place<TLabel>(this, TabSheet2, 190, 48, 150, 16, "", "Label10");
    Label10->SetShowAccelChar(false);
    // The step and the places of a numbering that the window offers but no
    // operation of it carries out: shown empty, and disabled so that nobody
    // expects them to act.
    Place<TLabel>(this, TabSheet2, 12, 84, 40, 16, "step");
    Place<TEdit>(this, TabSheet2, 56, 80, 60, 22, "", "Edit2")->SetEnabled(false);
    const char* places[6] = {"before ext", "before main", "behind main", "behind ext", "replace main", "replace ext"};
    for (int i = 0; i < 6; ++i)
        Place<TRadioButton>(this, TabSheet2, 12 + 120 * (i % 3), 112 + 24 * (i / 3), 116, 20, places[i])
            ->SetEnabled(false);
    Label11 = Place<TLabel>(this, TabSheet2, 12, 170, 350, 40, "", "Label11");
    Label11->SetShowAccelChar(false);
    Button6 = Place<TButton>(this, TabSheet2, 12, 300, 200, 28, "Execute the modification", "Button6");

    Edit1->OnChange = [this](TObject*) { UpdateExtExample(); };
    Button6->OnClick = [this](TObject* s) { Button6Click(s); };
    UpdateExtExample();
}

int TfrmRenamer::CaseMode() const
{
    if (RadioButton7->Checked())
        return cmCapital;
    if (RadioButton8->Checked())
        return cmSmallLetter;
    return cmFirstCapital;
}

void TfrmRenamer::UpdateCaseExample()
{
    const TNameParts example = ApplyCaseRules({"exAmple", ".ext"}, CheckBox1->Checked(), CheckBox2->Checked(), CaseMode());
    Label6->SetCaption(example.Base + example.Ext);
}

void TfrmRenamer::UpdateExtExample() { Label10->SetCaption("exAmple." + Edit1->Text()); }

template <typename NewName> void TfrmRenamer::RenameSelected(TLabel* status, NewName newName)
{
    const std::string folder = IncludeTrailingPathDelimiter(FileListBox1->Directory());
    std::vector<std::string> names;
    for (const int row : FileListBox1->SelectedRows())
        names.push_back(FileListBox1->Item(row));
    int ok = 0;
    int failed = 0;
    std::uint64_t shownAt = 0;
    // The names the files have after the run, selected again once the list
    // shows the folder as it is now.
    std::set<std::string> selectAfter;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const std::string target = newName(name);
        // A name the rules leave as it is has nothing to change: renaming a
        // file onto itself would only be refused as a replacement.
        if (target == name || RenameFile(folder + name, folder + target)) {
            ++ok;
            selectAfter.insert(target);
        } else {
            ++failed;
            selectAfter.insert(name);
        }
        const std::uint64_t now = CurrentClock().NowMs();
        if (i + 1 == names.size() || now - shownAt >= kStatusIntervalMs) {
            shownAt = now;
            status->SetCaption(name + "->" + target + "\n" + Counts(ok, failed));
            status->Repaint();
        }
    }
    // The list shows the new names, so that a second run starts from the
    // files as they are.
    FileListBox1->Update();
    for (int row = 0; row < FileListBox1->Count(); ++row)
        if (selectAfter.count(FileListBox1->Item(row)))
            FileListBox1->SetSelected(row, true);
    ShowMessage(failed == 0 ? std::string("Rename OK!") : Counts(ok, failed));
}

void TfrmRenamer::Button5Click(TObject*)
{
    const bool mainName = CheckBox1->Checked();
    const bool extension = CheckBox2->Checked();
    const int mode = CaseMode();
    if (FileListBox1->SelCount() == 0)
        return;
    RenameSelected(Label12, [&](const std::string& name) {
        const TNameParts parts = ApplyCaseRules(SplitFileName(name), mainName, extension, mode);
        return parts.Base + parts.Ext;
    });
}

void TfrmRenamer::Button6Click(TObject*)
{
    const std::string text = Edit1->Text();
    if (FileListBox1->SelCount() == 0)
        return;
    // A '/' would make the new name a path: the files would move into
    // another folder instead of changing their extension.
    if (text.find('/') != std::string::npos) {
        ShowMessage("An extension cannot hold \"/\": no file was renamed.");
        return;
    }
    RenameSelected(Label11, [&](const std::string& name) { return SplitFileName(name).Base + "." + text; });
}
