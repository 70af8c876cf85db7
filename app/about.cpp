#include "about.h"

#include "tools/place.h"

#include "vcl/extctrls.h"
#include "win/shellexec.h"


TfrmAbout::TfrmAbout(TComponent* owner) : TForm(owner)
{
    SetCaption("About Vistrel");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetFormStyle(TFormStyle::fsStayOnTop);
    Position = TPosition::poScreenCenter;
    SetClientSize(320, 170);
    auto* product = Place<TLabel>(this, this, 20, 16, 280, 24, "Vistrel 1.0");
    product->Font().SetSize(14);
    product->Font().SetStyle(fsBold);
    Place<TLabel>(this, this, 20, 48, 280, 16, "File browser and universal file viewer");
    homepage = Place<TLabel>(this, this, 20, 76, 280, 16, kHomepage, "homepage");
    email = Place<TLabel>(this, this, 20, 98, 280, 16, kSupportAddress, "email");
    for (TLabel* link : {homepage, email}) {
        link->Font().SetColor(clBlue);
        link->Font().SetStyle(fsUnderline);
        link->SetCursor(TCursor::crHandPoint);
    }
    homepage->OnClick = [](TObject*) { ShellOpen(kHomepage); };
    email->OnClick = [](TObject*) { ShellOpen(std::string("mailto:") + kSupportAddress); };
    OKButton = Place<TButton>(this, this, 120, 132, 80, 25, "OK", "OKButton");
    OKButton->ModalResult = mrOk;
    // One button answers both Return and Escape.
    OKButton->SetDefault(true);
    OKButton->Cancel = true;
}

TfrmWelcome::TfrmWelcome(TComponent* owner) : TForm(owner)
{
    SetBorderStyle(TFormBorderStyle::bsNone);
    Position = TPosition::poScreenCenter;
    SetClientSize(300, 225);
    SetColor(RGB(32, 64, 112));
    auto* title = Place<TLabel>(this, this, 24, 80, 260, 40, "Vistrel");
    title->Font().SetSize(28);
    title->Font().SetStyle(fsBold);
    title->Font().SetColor(clWhite);
    auto* note = Place<TLabel>(this, this, 24, 190, 260, 16, "Loading...");
    note->Font().SetColor(clRed);
}
