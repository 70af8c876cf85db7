// The PDF viewer: opening a document (with its password), the PDF status
// bar, and the commands of the PDF tool bar and menu.
#include "mainform.h"

#include "pdf/pdfviewer.h"
#include "tools/extractpdf.h"

#include "rtl/unicode.h"

#include <cmath>

void TForm1::ViewPdf()
{
    PanelPdf->BringToFront();
    int r = 0;
    try {
        r = pv->Open(CurrentFile, "", "");
        // The status follows the control, which closed the document shown
        // before: a failed open leaves no page count of that one behind.
        ShowPdfStatus();
        if (r == TPdfViewerOcx::kLocked) {
            // What is typed is not shown; a cancelled box gives no password.
            std::string password;
            if (!Application->Prompts().PasswordQuery("PASSWORD", "password", password))
                password.clear();
            r = pv->Open(CurrentFile, password, password);
            ShowPdfStatus();
            if (r < 0) {
                ShowStatusMessage("Password wrong or the file is corrupt.Error Code=" + IntToStr(r));
                return;
            }
        } else if (r < 0) {
            ShowStatusMessage("Failed to view this file! Error Code=" + IntToStr(r));
            return;
        }
        ShowFileInfo(CurrentFile);
    } catch (...) {
        ShowStatusMessage("Failed to view the file!Error Code=" + IntToStr(r));
    }
}

void TForm1::ShowPdfStatus()
{
    sbpdf->SetPanelText(0, IntToStr(pv->CurrentPageNo()) + "/" + IntToStr(pv->PageCount()) + " pages");
    sbpdf->SetPanelText(1, "zoom:" + IntToStr(static_cast<long long>(std::trunc(pv->Scale() * 100))) + "%");
    // The page box shows the page of the document shown, ready to be typed over.
    Edit2->SetText(pv->PageCount() > 0 ? IntToStr(pv->CurrentPageNo()) : std::string());
}

// ---- tool bar -------------------------------------------------------------------------------

void TForm1::ToolButton14Click(TObject*)
{
    pv->ZoomIn();
    ShowPdfStatus();
}

void TForm1::ToolButton15Click(TObject*)
{
    pv->ZoomOut();
    ShowPdfStatus();
}

void TForm1::ToolButton3Click(TObject*)
{
    pv->GotoFirst();
    ShowPdfStatus();
}

void TForm1::ToolButton11Click(TObject*)
{
    pv->GotoPrev();
    ShowPdfStatus();
}

void TForm1::ToolButton12Click(TObject*)
{
    pv->GotoNext();
    ShowPdfStatus();
}

void TForm1::ToolButton13Click(TObject*)
{
    pv->GotoLast();
    ShowPdfStatus();
}

void TForm1::ToolButton16Click(TObject*) { pv->SetWorkMode(1); }

void TForm1::ToolButton17Click(TObject*) { pv->SetWorkMode(0); }

void TForm1::ToolButton19Click(TObject*)
{
    pv->FitActualSize();
    ShowPdfStatus();
}

void TForm1::ToolButton23Click(TObject*)
{
    pv->FitWidth();
    ShowPdfStatus();
}

void TForm1::ToolButton46Click(TObject*)
{
    pv->FitWindow();
    ShowPdfStatus();
}

void TForm1::ToolButton18Click(TObject*)
{
    std::string text;
    if (InputQuery("Find", "Find String", text) && !text.empty())
        pv->Find(text);
}

void TForm1::ToolButton20Click(TObject*)
{
    int page = 0;
    if (TryStrToInt(Edit2->Text(), page))
        pv->Goto(page);
    ShowPdfStatus();
}

// ---- menu -----------------------------------------------------------------------------------

void TForm1::Rotate2Click(TObject*)
{
    pv->SetRotate(90);
    pv->Refresh();
}

void TForm1::Rotate901Click(TObject*)
{
    pv->SetRotate(-90);
    pv->Refresh();
}

void TForm1::Rotate1801Click(TObject*)
{
    pv->SetRotate(180);
    pv->Refresh();
}

void TForm1::Norotate1Click(TObject*)
{
    pv->SetRotate(0);
    pv->Refresh();
}

void TForm1::SelectAll2Click(TObject*) { pv->SelectAll(); }

void TForm1::Copy2Click(TObject*)
{
    if (pv->CanCopy() == 0) {
        ShowMessage("This document can not be copied.");
        return;
    }
    const std::string text = Utf16ToUtf8(pv->GetSelectedText());
    if (text.empty())
        return;
    // Through a hidden edit of the window: text set, all selected, copied.
    auto* edit = new TMemo(this);
    edit->Hide();
    edit->SetParent(this);
    edit->SetText(text);
    edit->SelectAll();
    edit->CopyToClipboard();
    delete edit;
}

void TForm1::ExtracttextfromPDF2Click(TObject*)
{
    if (pv->CanCopy() == 0) {
        ShowMessage("This document is not permitted to be copied.\nSo we can not get the text.");
        return;
    }
    if (frmPDF) {
        frmPDF->SetViewerDocument(pv->FileName(), pv->Password());
        frmPDF->ShowModal();
    }
}

void TForm1::ExtracttextfromPDF1Click(TObject* sender) { ExtracttextfromPDF2Click(sender); }

void TForm1::Clearselect1Click(TObject*) { pv->ClearSelect(); }

void TForm1::Clearfindresult1Click(TObject*) { pv->ClearResult(); }

void TForm1::Print1Click(TObject*) { pv->PrintSetup(); }
