// What the archive library shows and does through the shell: the icons of
// entry names in the system image list, list views bound to that list, and
// the shell's file operations. A target of its own (archive_shell), so the
// library itself stays free of the GUI layers.
#pragma once

#include <string>

class TComponent;
class TCustomListView;
struct SHFILEOPSTRUCTA;

// The index in the system image list of the small icon for the name part of
// fileName (an entry name needs no file on disk): closed, or open (which
// differs for a folder, named with a trailing '/').
int zadClosedImageIndex(const std::string& fileName);
int zadOpenImageIndex(const std::string& fileName);
// The icon of the name part of fileName found from the name alone, as a
// file; GetImageIndex is the same lookup.
int zadSystemImageIndex(const std::string& fileName);
int GetImageIndex(const std::string& fileName);

// Binds the list view's large and small icons to the system image lists.
// Those lists are the shell's and shared: nothing is made for owner to
// free, and _DestroyImageList only lets go of them, leaving them whole.
void _InitializeImageList(TComponent* owner, TCustomListView* listView);
void _DestroyImageList(TCustomListView* listView);

// The shell's file operation (copy, move, delete, to the trash or for
// good); its result unchanged, 0 on success.
int _ShFileOperation(SHFILEOPSTRUCTA& op);
