// A stand-in main window for the tool windows that start from the main
// window's current file or folder; installed for the life of a test.
#pragma once

#include "app/tools/mainwindow.h"

#include <stdexcept>
#include <string>

class CurrentFileHost : public TMainWindowServices {
public:
    CurrentFileHost() : m_previous(MainWindowServices) { MainWindowServices = this; }
    ~CurrentFileHost() override { MainWindowServices = m_previous; }
    CurrentFileHost(const CurrentFileHost&) = delete;
    CurrentFileHost& operator=(const CurrentFileHost&) = delete;

    void BuildPlaylistMenus() override {}
    void BuildFolderListMenu() override {}
    TListView& FoundFilesList() override { throw std::logic_error("no Found Files list here"); }
    void BeginFoundFilesSearch() override {}
    void EndFoundFilesSearch() override {}
    std::string CurrentFileName() const override { return current; }
    std::string CurrentFolderName() const override { return folder; }

    std::string current;
    std::string folder;

private:
    TMainWindowServices* m_previous;
};
