// The window "Wav to MP3": converts an uncompressed WAV file into an MP3 file
// at 192 kbit/s. The main window shows it modally and frees it afterwards.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <string>

class TWaveConversion;

class TFormWav2Mp3 : public TForm {
public:
    explicit TFormWav2Mp3(TComponent* owner);

    TEdit *Edit1, *Edit2;
    TButton *Browser, *Button1, *Encode, *Button2;
    // How much of the samples a conversion has encoded, in thousandths.
    TProgressBar* ProgressBar1;
    // The output path of the conversion under way.
    std::string OutputFileName;

    // Proposes the main window's current file, when it is a WAV file, and
    // the same name with ".mp3".
    void FormShow(TObject* sender);
    void BrowserClick(TObject* sender); // input "..."
    void Button1Click(TObject* sender); // output "..."
    // Converts the input file into the output file, or, while a conversion
    // runs (the button then reads "Cancel"), stops it. The samples are
    // encoded on a worker thread while the window goes on painting and
    // answering; the call returns when the conversion has ended. The MP3
    // takes the output file's place only once the whole conversion has
    // succeeded; a refusal or failure is told in a message captioned
    // "Wav2Mp3 ERROR", and a failure, a stop or the window's closing leave
    // an existing output file as it was and no partial one.
    void EncodeClick(TObject* sender);
    void Button2Click(TObject* sender); // Close
    bool Converting() const { return m_conversion != nullptr; }

private:
    // The window during a conversion: "Cancel" on the action button, the
    // boxes locked, the progress from 0.
    void ShowConverting(bool on);
    TWaveConversion* m_conversion = nullptr;
};
