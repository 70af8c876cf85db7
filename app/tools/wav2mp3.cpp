#include "wav2mp3.h"

#include "filebox.h"
#include "mainwindow.h"
#include "wavencode.h"

#include "win/fileops.h"

namespace {

constexpr const char* kErrorCaption = "Wav2Mp3 ERROR";
// MP3 bytes are gathered into writes of this size: one frame is some
// 600 bytes.
constexpr std::size_t kWriteSize = 64 * 1024;

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

    OnShow = [this](TObject* s) { FormShow(s); };
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

void TFormWav2Mp3::EncodeClick(TObject*)
{
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
    const TScreenCursorGuard busy;
    try {
        TMp3File out(OutputFileName);
        if (const TWaveResult r = EncodeWaveData(in, format.DataSize, encoder, out); r != TWaveResult::Ok) {
            Report(WaveResultMessage(r));
            return;
        }
        out.Commit();
    } catch (const EFCreateError& e) {
        // The output cannot be created, or the disk is full.
        Report(e.Message());
    }
}

void TFormWav2Mp3::Button2Click(TObject*) { Close(); }
