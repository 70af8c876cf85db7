#include "wav2mp3.h"

#include "filebox.h"
#include "mainwindow.h"
#include "wavencode.h"

#include "rtl/filesave.h"
#include "rtl/threads.h"
#include "win/fileops.h"

#include <atomic>

namespace {

constexpr const char* kErrorCaption = "Wav2Mp3 ERROR";
// MP3 bytes are gathered into writes of this size: one frame is some
// 600 bytes.
constexpr std::size_t kWriteSize = 64 * 1024;
// The progress bar counts thousandths of the samples.
constexpr int kProgressSteps = 1000;

void Report(const std::string& text) { Application->Prompts().MessageBox(text, kErrorCaption, MB_OK); }

// The MP3 file under way: a temporary file beside the target, which takes
// the target's name on Commit. Dropped before, it goes and the target stays
// as it was.
class TMp3File : public TMp3Output {
public:
    explicit TMp3File(const std::string& fileName) : m_writer(fileName) { m_buffer.reserve(kWriteSize); }
    void Write(const std::uint8_t* data, std::size_t size) override
    {
        m_buffer.append(reinterpret_cast<const char*>(data), size);
        if (m_buffer.size() >= kWriteSize)
            Flush();
    }
    void Commit()
    {
        Flush();
        m_writer.Commit();
    }

private:
    void Flush()
    {
        m_writer.Write(m_buffer);
        m_buffer.clear();
    }

    TAtomicFileWriter m_writer;
    std::string m_buffer;
};

} // namespace

// Encodes the samples of one conversion on a thread of its own. The window
// hears of the progress through Synchronize, each time another thousandth
// is done, and of the end through OnTerminate.
class TWaveConversion : public TThread {
public:
    TWaveConversion(TWaveInput& in, const TWaveFormat& format, TMp3Encoder& encoder, TMp3Output& out)
        : TThread(true), m_in(in), m_format(format), m_encoder(encoder), m_out(out)
    {
    }
    ~TWaveConversion() override { EndAndWait(); }

    // Asks the thread to stop after the chunk it encodes.
    void Cancel() { m_cancel = true; }
    TWaveResult Result() const { return m_result; }
    // What failed to be written, when writing failed.
    const std::string& WriteError() const { return m_writeError; }

    std::function<void(int permille)> OnProgress;

protected:
    void Execute() override
    {
        int shown = 0;
        const TWaveProgress progress = [&](std::uint64_t encoded) {
            const std::uint64_t size = std::max<std::uint64_t>(m_format.DataSize, 1);
            const int permille = static_cast<int>(std::min<std::uint64_t>(encoded, size) * kProgressSteps / size);
            if (permille != shown && OnProgress) {
                shown = permille;
                Synchronize([this, permille] { OnProgress(permille); });
            }
            return !m_cancel && !Terminated();
        };
        try {
            m_result = EncodeWaveData(m_in, m_format, m_encoder, m_out, progress);
        } catch (const EFCreateError& e) {
            // The disk is full, or the file cannot be written.
            m_result = TWaveResult::EncodeFailed;
            m_writeError = e.Message();
        }
    }

private:
    TWaveInput& m_in;
    const TWaveFormat m_format;
    TMp3Encoder& m_encoder;
    TMp3Output& m_out;
    std::atomic<bool> m_cancel {false};
    // A conversion that ends in an exception failed: nothing is kept.
    TWaveResult m_result = TWaveResult::EncodeFailed;
    std::string m_writeError;
};

TFormWav2Mp3::TFormWav2Mp3(TComponent* owner) : TForm(owner)
{
    SetUpFileToolWindow(this, "FormWav2Mp3", "Wav to MP3");
    const TFileBox input = PlaceFileBox(this, 0, "Input file (*.wav)", "Edit1", "Browser");
    const TFileBox output = PlaceFileBox(this, 1, "Output file (*.mp3)", "Edit2", "Button1");
    const TToolButtons buttons = PlaceToolButtons(this, "Convert", "Encode", "Button2");
    Edit1 = input.Edit;
    Browser = input.Button;
    Edit2 = output.Edit;
    Button1 = output.Button;
    Encode = buttons.Action;
    Button2 = buttons.Close;
    ProgressBar1 = PlaceProgressBar(this, "ProgressBar1");
    ProgressBar1->SetRange(0, kProgressSteps);

    OnShow = [this](TObject* s) { FormShow(s); };
    // Closing the window in any way stops a conversion under way.
    OnCloseQuery = [this](TObject*, bool&) {
        if (m_conversion)
            m_conversion->Cancel();
    };
    Browser->OnClick = [this](TObject* s) { BrowserClick(s); };
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    Encode->OnClick = [this](TObject* s) { EncodeClick(s); };
    Button2->OnClick = [this](TObject* s) { Button2Click(s); };
}

void TFormWav2Mp3::FormShow(TObject*)
{
    const std::string current = MainWindowCurrentFile();
    const bool wave = AnsiLowerCase(ExtractFileExt(current)) == ".wav";
    Edit1->SetText(wave ? current : "");
    Edit2->SetText(wave ? ChangeFileExt(current, ".mp3") : "");
}

void TFormWav2Mp3::BrowserClick(TObject*)
{
    std::string file;
    if (!ChooseFileToOpen("Open a Wav file", "wav", "wav(*.wav)|*.wav", file))
        return;
    Edit1->SetText(file);
    Edit2->SetText(ChangeFileExt(file, ".mp3"));
}

void TFormWav2Mp3::Button1Click(TObject*)
{
    std::string file = Edit2->Text();
    if (ChooseFileToSave("Save as a MP3", "mp3", "MP3(*.mp3)|*.mp3", file))
        Edit2->SetText(file);
}

void TFormWav2Mp3::ShowConverting(bool on)
{
    Encode->SetCaption(on ? "Cancel" : "Convert");
    for (TWinControl* c : {static_cast<TWinControl*>(Edit1), static_cast<TWinControl*>(Edit2),
             static_cast<TWinControl*>(Browser), static_cast<TWinControl*>(Button1)})
        c->SetEnabled(!on);
    if (on)
        ProgressBar1->SetPosition(0);
}

void TFormWav2Mp3::EncodeClick(TObject*)
{
    if (m_conversion) {
        m_conversion->Cancel();
        return;
    }
    const std::string input = Edit1->Text();
    if (input.empty() || Edit2->Text().empty())
        return;
    OutputFileName = Edit2->Text();
    TFileWaveInput in;
    if (!in.Open(input))
        return;
    // Writing the MP3 over the WAV it is made from would destroy the samples
    // still to be read.
    if (IsSameFile(input, OutputFileName)) {
        Report("The output file is the input file");
        return;
    }
    TWaveFormat format;
    if (const TWaveResult r = ReadWaveHeader(in, format); r != TWaveResult::Ok) {
        Report(WaveResultMessage(r));
        return;
    }
    TMp3StreamEncoder encoder;
    if (!encoder.Open(EncoderSettingsFor(format))) {
        Report(WaveResultMessage(TWaveResult::EncodeFailed));
        return;
    }
    try {
        TMp3File out(OutputFileName);
        TWaveResult result;
        std::string writeError;
        {
            TWaveConversion conversion(in, format, encoder, out);
            bool ended = false;
            conversion.OnProgress = [this](int permille) { ProgressBar1->SetPosition(permille); };
            conversion.OnTerminate = [&ended](TObject*) { ended = true; };
            struct TRunning {
                TFormWav2Mp3* form;
                TRunning(TFormWav2Mp3* f, TWaveConversion* c) : form(f)
                {
                    form->m_conversion = c;
                    form->ShowConverting(true);
                }
                ~TRunning()
                {
                    form->m_conversion = nullptr;
                    form->ShowConverting(false);
                }
            } running(this, &conversion);
            conversion.Start();
            // The window goes on answering meanwhile. A modal window asked to
            // close (its close box, Escape, Close) and the program's end stop
            // the conversion; the window closes once it has stopped.
            while (!ended) {
                Application->HandleMessage();
                if (ModalResult() != mrNone || Application->Terminated())
                    conversion.Cancel();
            }
            conversion.WaitFor();
            result = conversion.Result();
            writeError = conversion.WriteError();
        }
        if (result == TWaveResult::Cancelled)
            return;
        if (!writeError.empty()) {
            Report(writeError);
            return;
        }
        if (result != TWaveResult::Ok) {
            Report(WaveResultMessage(result));
            return;
        }
        out.Commit();
        ProgressBar1->SetPosition(kProgressSteps);
    } catch (const EFCreateError& e) {
        // The output cannot be created, or the disk is full.
        Report(e.Message());
    }
}

void TFormWav2Mp3::Button2Click(TObject*) { Close(); }
