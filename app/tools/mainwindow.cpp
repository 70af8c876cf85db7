#include "mainwindow.h"

TMainWindowServices* MainWindowServices = nullptr;
