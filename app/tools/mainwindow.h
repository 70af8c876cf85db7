// What the tool windows ask of the main window, which implements it.
#pragma once

class TMainWindowServices {
public:
    virtual ~TMainWindowServices() = default;
    virtual void BuildPlaylistMenus() = 0;
    virtual void BuildFolderListMenu() = 0;
};

// The main window, once it exists.
extern TMainWindowServices* MainWindowServices;
