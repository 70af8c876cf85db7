#include "mainwindow.h"

TMainWindowServices* MainWindowServices = nullptr;

std::string MainWindowCurrentFile() { return MainWindowServices ? MainWindowServices->CurrentFileName() : std::string(); }
