#include "mainwindow.h"

TMainWindowServices* MainWindowServices = nullptr;

std::string MainWindowCurrentFile() { return MainWindowServices ? MainWindowServices->CurrentFileName() : std::string(); }

std::string MainWindowCurrentFolder()
{
    return MainWindowServices ? MainWindowServices->CurrentFolderName() : std::string();
}
