// The two dialogs of the archive panel: TfrmExtract chooses the target
// folder, which entries, whether stored folders are recreated, the date
// given to the files and whether overwrites are confirmed; TfrmOverwrite
// asks before an existing file is replaced.
//
// The target folder is typed into Edit1 or chosen in the folder list
// DirectoryListBox1, whose drive (mount point) DriveComboBox1 picks and
// whose files FileListBox1 shows.
#pragma once

#include "vcl/filectrl.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

class TListView;

class TfrmExtract : public TForm {
public:
    explicit TfrmExtract(TComponent* owner);

    TLabel *Label1, *Label2, *Label3;
    TEdit* Edit1;
    TDriveComboBox* DriveComboBox1;
    TDirectoryListBox* DirectoryListBox1;
    TFileListBox* FileListBox1;
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
