// The favourite-folder editors: "Edit FoldersList" and its add dialog. The
// list is ffolders/folders.txt, pairs of description and folder lines.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

std::string FolderListFileName();

class TForm5 : public TForm {
public:
    explicit TForm5(TComponent* owner);
    ~TForm5() override;
    static void LoadFolderList(TListView& view, const std::string& path);

    TListView* ListView1;
    TButton *Button1, *bRemove, *bModify, *Button4;

    void FormShow(TObject* sender);
    void ListView1SelectItem(TObject* sender, TListItem* item, bool selected);
    void Button1Click(TObject* sender); // Add
    void bRemoveClick(TObject* sender);
    void bModifyClick(TObject* sender);
    void Button4Click(TObject* sender); // Close
};

class TForm6 : public TForm {
public:
    explicit TForm6(TComponent* owner);
    ~TForm6() override;
    static void LoadFolderList(TListView& view, const std::string& path) { TForm5::LoadFolderList(view, path); }

    TEdit *Edit1, *Edit2;
    TButton *Button1, *Button2, *Button3;
    // The editor whose list shows the added folder at once, while it is open.
    TForm5* Editor = nullptr;

    void Button1Click(TObject* sender); // Select...
    void Button2Click(TObject* sender); // Add
    void Button3Click(TObject* sender); // Close
};

extern TForm6* Form6;
