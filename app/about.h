// The About box and the splash window shown while the program starts.
#pragma once

#include "vcl/forms.h"
#include "vcl/stdctrls.h"

class TfrmAbout : public TForm {
public:
    explicit TfrmAbout(TComponent* owner);
    TLabel *homepage, *email;
    TButton* OKButton;
};

class TfrmWelcome : public TForm {
public:
    explicit TfrmWelcome(TComponent* owner);
};

// Opens a link or file with the desktop's handler; false when none is there.
bool OpenWithShell(const std::string& target);
