// The window "Wav to MP3": converts an uncompressed WAV file into an MP3 file
// at 192 kbit/s. The main window shows it modally and frees it afterwards.
#pragma once

#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

class TFormWav2Mp3 : public TForm {
public:
    explicit TFormWav2Mp3(TComponent* owner);

    TEdit *Edit1, *Edit2;
    TButton *Browser, *Button1, *Encode, *Button2;
    // The output path of the conversion under way.
    std::string OutputFileName;

    // Proposes the main window's current file, when it is a WAV file, and
    // the same name with ".mp3".
    void FormShow(TObject* sender);
    void BrowserClick(TObject* sender); // input "..."
    void Button1Click(TObject* sender); // output "..."
    // Converts the input file into the output file. The MP3 takes the output
    // file's place only once the whole conversion has succeeded; a refusal
    // or failure is told in a message captioned "Wav2Mp3 ERROR" and leaves
    // an existing output file as it was.
    void EncodeClick(TObject* sender);
    void Button2Click(TObject* sender); // Close
};
