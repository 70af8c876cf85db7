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

// The product's addresses, behind the About box and the Help menu.
inline constexpr const char* kHomepage = "https://vistrel.org/";
inline constexpr const char* kOnlineHelp = "https://vistrel.org/help/";
inline constexpr const char* kSupportAddress = "support@vistrel.org";
