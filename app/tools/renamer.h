// The batch renamer "FileName Manager": renames the selected files of one
// folder in one go, by the letter case of their names or by a new
// extension. The main window shows it modally, opened in the folder it
// lists, and frees it afterwards.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/filectrl.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

// Case modes of the renamer.
enum TCaseMode { cmCapital = 1, cmSmallLetter = 2, cmFirstCapital = 3 };

// A file name split at its last dot: the base, and the extension with its
// dot ("" when there is none).
struct TNameParts {
    std::string Base;
    std::string Ext;
};
TNameParts SplitFileName(const std::string& name);

// The case rules: the base when mainName is set (capital, small letters, or
// the first character capital and the rest small), the extension when
// extension is set (capital or small letters; the first-capital mode keeps
// it). Characters are mapped as Unicode characters of UTF-8 text.
TNameParts ApplyCaseRules(const TNameParts& name, bool mainName, bool extension, int mode);

class TfrmRenamer : public TForm {
public:
    explicit TfrmRenamer(TComponent* owner);

    TDriveComboBox* DriveComboBox1;
    TDirectoryListBox* DirectoryListBox1;
    TFileListBox* FileListBox1;
    TFilterComboBox* FilterComboBox1;
    TPageControl* PageControl1;
    TTabSheet *TabSheet1, *TabSheet2;
    // "Upper/Lower Case"
    TCheckBox *CheckBox1, *CheckBox2;
    TRadioButton *RadioButton7, *RadioButton8, *RadioButton9;
    TLabel *Label5, *Label6, *Label12;
    TButton* Button5;
    // "Ext name batch modify"
    TEdit* Edit1;
    TLabel *Label8, *Label10, *Label11;
    TButton* Button6;

    void Button5Click(TObject* sender);
    void Button6Click(TObject* sender);
    void UpdateCaseExample();
    void UpdateExtExample();
    // The mode of the checked radio button.
    int CaseMode() const;

private:
    // Opens folder in the drive box and the folder list, when it is one.
    void OpenFolder(const std::string& folder);
    void CreateCasePage();
    void CreateExtensionPage();
    // Renames the selected files of the file list to the names newName
    // gives, keeping the counts in status; then reads the folder again, with
    // the files of the run selected under their names of now, and says how
    // it went.
    template <typename NewName> void RenameSelected(TLabel* status, NewName newName);
};
