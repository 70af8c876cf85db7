// What the tool windows ask of the main window, which implements it.
#pragma once

#include <string>

class TListView;

class TMainWindowServices {
public:
    virtual ~TMainWindowServices() = default;
    virtual void BuildPlaylistMenus() = 0;
    virtual void BuildFolderListMenu() = 0;
    // The "Found Files" list, which the file search fills.
    virtual TListView& FoundFilesList() = 0;
    // A search brings "Found Files" to the front and notes that it did, so
    // that a folder chosen in the tree meanwhile brings back "Disk Files";
    // the end of the search clears the note.
    virtual void BeginFoundFilesSearch() = 0;
    virtual void EndFoundFilesSearch() = 0;
    // The file the main window shows, "" when none.
    virtual std::string CurrentFileName() const = 0;
    // The folder whose files the main window lists, "" when it lists a
    // place that is no folder (Computer) or none.
    virtual std::string CurrentFolderName() const = 0;
};

// The main window, once it exists.
extern TMainWindowServices* MainWindowServices;

// The main window's current file; "" when there is no main window.
std::string MainWindowCurrentFile();
// The folder the main window lists; "" when there is no main window.
std::string MainWindowCurrentFolder();
