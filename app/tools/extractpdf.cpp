#include "extractpdf.h"

#include "filebox.h"
#include "mainwindow.h"
#include "pdftext.h"

#include "pdf/pdflibrarytext.h"
#include "pdf/pdfviewer.h"
#include "rtl/classes.h"
#include "rtl/filesave.h"
#include "win/fileops.h"

TfrmPDF* frmPDF = nullptr;

TfrmPDF::TfrmPDF(TComponent* owner) : TForm(owner)
{
    SetUpFileToolWindow(this, "frmPDF", "Extract plain text from PDF");
    const TFileBox input = PlaceFileBox(this, 0, "Input file name(PDF):", "Edit1", "Button3");
    const TFileBox output = PlaceFileBox(this, 1, "Output file name(TXT):", "Edit2", "Button4");
    const TToolButtons buttons = PlaceToolButtons(this, "Extract", "Button1", "Button2");
    Edit1 = input.Edit;
    Button3 = input.Button;
    Edit2 = output.Edit;
    Button4 = output.Button;
    Button1 = buttons.Action;
    Button2 = buttons.Close;

    OnShow = [this](TObject* s) { FormShow(s); };
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    Button2->OnClick = [this](TObject* s) { Button2Click(s); };
    Button3->OnClick = [this](TObject* s) { Button3Click(s); };
    Button4->OnClick = [this](TObject* s) { Button4Click(s); };
}

void TfrmPDF::FormShow(TObject*)
{
    const std::string current = MainWindowCurrentFile();
    const bool pdf = AnsiLowerCase(ExtractFileExt(current)) == ".pdf";
    Edit1->SetText(pdf ? current : "");
    Edit2->SetText(pdf ? current + ".txt" : "");
}

void TfrmPDF::Button3Click(TObject*)
{
    std::string file;
    if (ChooseFileToOpen("Open a PDF", "pdf", "pdf(*.pdf)|*.pdf", file))
        Edit1->SetText(file);
}

void TfrmPDF::Button4Click(TObject*)
{
    std::string file = Edit2->Text();
    if (ChooseFileToSave("Save as a TXT", "txt", "TXT(*.txt)|*.txt", file))
        Edit2->SetText(file);
}

void TfrmPDF::SetViewerDocument(const std::string& fileName, const std::string& password)
{
    m_viewerFile = fileName;
    m_viewerPassword = password;
}

void TfrmPDF::Button1Click(TObject*)
{
    const std::string input = Edit1->Text();
    const std::string output = Edit2->Text();
    // The input is read whole, in pieces, before the output exists: an
    // output naming the input would otherwise empty the PDF before a byte of
    // it was read, and a PDF that another program cuts short meanwhile ends
    // the extraction with a message and no output.
    std::string pdf;
    try {
        pdf = ReadWholeFile(input);
    } catch (const EFOpenError&) {
        ShowMessage("Unable to open the input file!");
        return;
    } catch (const Exception& e) {
        ShowMessage("Unable to read the input file!\n" + e.Message());
        return;
    }
    if (IsSameFile(input, output)) {
        ShowMessage("The output file must not be the input file!");
        return;
    }
    std::unique_ptr<TAtomicFileWriter> out;
    try {
        out = std::make_unique<TAtomicFileWriter>(output);
    } catch (const EFCreateError&) {
        ShowMessage("Unable to create the output file!");
        return;
    }
    std::uint64_t written = 0;
    const auto write = [&](std::string_view text) {
        written += text.size();
        out->Write(text);
    };
    bool cut = false;
    try {
        const TScreenCursorGuard busy;
        const TPdfTextResult result
            = ExtractPdfText(reinterpret_cast<const std::uint8_t*>(pdf.data()), pdf.size(), write);
        cut = result.Cut;
        if (result.Encrypted) {
            // Only the PDF library can decrypt it: with the password the
            // viewer opened this document with, else an empty one (a
            // document that only restricts what may be done), else the
            // user's.
            std::string password = !m_viewerFile.empty() && IsSameFile(m_viewerFile, input) ? m_viewerPassword : "";
            int code = PdfLibraryText(input, password, write);
            if (code == TPdfViewerOcx::kLocked && Application->Prompts().PasswordQuery("PASSWORD", "password", password))
                code = PdfLibraryText(input, password, write);
            if (code == TPdfViewerOcx::kLocked) {
                ShowMessage("The PDF file is encrypted and the password does not open it: no text was extracted.");
                return;
            }
            if (code != TPdfViewerOcx::kOpened) {
                ShowMessage("The PDF file is encrypted and cannot be read: no text was extracted.");
                return;
            }
        }
        if (written == 0) {
            ShowMessage("No text was found in the PDF file: no text file was written.");
            return;
        }
        out->Commit();
    } catch (const EFCreateError& e) {
        // Nothing of a half-written text stays behind.
        ShowMessage("Unable to write the output file!\n" + e.Message());
        return;
    }
    ShowMessage(cut ? "Extract OK!\nSome page content was too large: its text was cut." : "Extract OK!");
}

void TfrmPDF::Button2Click(TObject*) { Close(); }
