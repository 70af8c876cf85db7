// The two dialogs of the archive panel: TfrmExtract chooses the target
// folder, which entries, whether stored folders are recreated, the date
// given to the files and whether overwrites are confirmed; TfrmOverwrite
// asks before an existing file is replaced.
//
// The folder list of the extract dialog is a folder chooser: its folder
// (DirectoryListBox1's Directory) is picked through the prompt service's
// folder dialog, which a desktop without drive letters needs in place of a
// drive box with a folder list.
#pragma once

#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

class TListView;

// The folder list of the extract dialog.
class TFolderList {
public:
    const std::string& Directory() const { return m_directory; }
    void SetDirectory(const std::string& dir);
    TNotifyEvent OnChange;

private:
    std::string m_directory;
};

class TfrmExtract : public TForm {
public:
    explicit TfrmExtract(TComponent* owner);

    TLabel *Label1, *Label2, *Label3, *FolderLabel;
    TEdit* Edit1;
    TFolderList DirectoryListBox1;
    TButton* SelectFolder;
    TRadioGroup* RadioGroup1;
    TCheckBox* CheckBox1;
    TComboBox* ComboBox1;
    TCheckBox* CheckBox2;
    TButton *BitBtn1, *BitBtn2, *Button3;
    // The list whose selection decides "Selected Files".
    TListView* SourceList = nullptr;

    void FormCreate(TObject* sender);
    void FormActivate(TObject* sender);
    void DirectoryListBox1Change(TObject* sender);
    void RadioGroup1Click(TObject* sender);
    void BitBtn1Click(TObject* sender);
    void BitBtn2Click(TObject* sender);
    void Button3Click(TObject* sender);
    void SelectFolderClick(TObject* sender);

private:
    int SelectedRows() const;
};

class TfrmOverwrite : public TForm {
public:
    explicit TfrmOverwrite(TComponent* owner);
    TLabel* Label1;
    TButton *Yes, *No;
    TCheckBox* CheckBox1;
    void FormActivate(TObject* sender);
};
