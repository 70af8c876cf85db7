// The dialog "Extract plain text from PDF": writes the text of a PDF file
// into a plain-text file. It is created at start-up and shown modally from
// the PDF panel's menu.
#pragma once

#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

class TfrmPDF : public TForm {
public:
    explicit TfrmPDF(TComponent* owner);

    TEdit *Edit1, *Edit2;
    TButton *Button1, *Button2, *Button3, *Button4;

    // Proposes the main window's current file, when it is a PDF file, and
    // the same name with ".txt" appended.
    void FormShow(TObject* sender);
    // Reads the input, then writes the text of its pages to the output,
    // which takes the output file's place only when everything was read and
    // written and some text was found. An encrypted document is read
    // through the PDF library with the password of the viewer that shows it
    // (or one asked for); a run that finds no text says so and writes
    // nothing.
    void Button1Click(TObject* sender); // Extract
    void Button2Click(TObject* sender); // Close
    void Button3Click(TObject* sender); // input "..."
    void Button4Click(TObject* sender); // output "..."

    // The document the PDF viewer shows and the password that opened it,
    // which an encrypted input that is this document is read with.
    void SetViewerDocument(const std::string& fileName, const std::string& password);

private:
    std::string m_viewerFile;
    std::string m_viewerPassword;
};

extern TfrmPDF* frmPDF;
