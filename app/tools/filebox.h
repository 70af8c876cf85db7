// What the tool windows that turn one file into another share: a labelled
// box naming a file with a "..." button beside it, and the open and save
// dialogs that fill such a box.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

// Makes form such a window: a fixed dialog border, centred on the main
// window, room for two file boxes and a row of buttons.
void SetUpFileToolWindow(TForm* form, const std::string& name, const std::string& caption);

struct TFileBox {
    TEdit* Edit;
    TButton* Button;
};

// The first (row 0) or second (row 1) file box: a label, and below it a box
// across the window with the "..." button at its right end; the box and
// button take the names given.
TFileBox PlaceFileBox(TForm* form, int row, const std::string& label, const std::string& editName,
    const std::string& buttonName);

// The two buttons at the bottom right: the action, then "Close".
struct TToolButtons {
    TButton* Action;
    TButton* Close;
};
TToolButtons PlaceToolButtons(TForm* form, const std::string& action, const std::string& actionName,
    const std::string& closeName);

// A progress bar at the bottom left, beside the buttons.
TProgressBar* PlaceProgressBar(TForm* form, const std::string& name);

// The open dialog for one existing file; false when cancelled.
bool ChooseFileToOpen(const std::string& title, const std::string& defaultExt, const std::string& filter,
    std::string& file);
// The save dialog, proposing file; a name chosen without an extension gets
// the default one. False when cancelled.
bool ChooseFileToSave(const std::string& title, const std::string& defaultExt, const std::string& filter,
    std::string& file);
