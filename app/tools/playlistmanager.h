// The playlist manager "Music List Manage": named playlists in
// mlist/lindex.txt (pairs of name and number lines) and one file per
// playlist, mlist/m<number>.txt, one path per line.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

class TForm4 : public TForm {
public:
    explicit TForm4(TComponent* owner);

    // The playlist file of a number; needs no window.
    static std::string GetListFileName(int number);
    static void LoadListIndex(TListView& view, const std::string& indexPath);
    static void LoadListFiles(TListView& view, const std::string& listPath);

    TListView *ListView1, *ListView2;
    TButton *Button1, *Button2, *Button7, *addfile, *removefile, *import, *Button6;
    std::string IndexFileName;
    std::string CurrentListFileName;

    void FormShow(TObject* sender);
    void ListView1SelectItem(TObject* sender, TListItem* item, bool selected);
    void ListView2SelectItem(TObject* sender, TListItem* item, bool selected);
    void Button1Click(TObject* sender);    // Create New List
    void Button2Click(TObject* sender);    // Remove List
    void Button7Click(TObject* sender);    // Modify List Name
    void addfileClick(TObject* sender);    // Add File to List
    void removefileClick(TObject* sender); // Remove File From List
    void importClick(TObject* sender);     // Import from *.m3u
    void Button6Click(TObject* sender);    // Close
};
