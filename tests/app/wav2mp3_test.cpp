// The WAV to MP3 converter: its MP3 against lame's at the same settings, the
// chunk walk over spliced WAV files, the refusals, and what a failed
// conversion leaves on disk; the encoder library's calls; the reading fed
// to a recording encoder; and the fuzz corpus.
//
// Fixtures: tests/app/fixtures/convert, made by scripts/make-convert-fixtures.sh
// (sox for the WAV files; the MP3 files are lame's, run with
// --cbr -b 192 -m s|m -o -t -q 3).
#include "app/tools/wav2mp3.h"
#include "app/tools/wavencode.h"
#include "fuzz/wav_header_fuzz_one.h"
#include "test_support/file_size_limit.h"
#include "test_support/fuzz_corpus.h"
#include "test_support/named_temp_files.h"
#include "test_support/run_command.h"
#include "tool_form_fixture.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace {

const std::string kFixtures = std::string(VISTREL_TEST_DATA) + "/fixtures/convert/";

std::string Fixture(const std::string& name) { return Slurp(kFixtures + name); }

void PutU32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}
std::string U32(std::uint32_t v)
{
    std::string s(4, '\0');
    PutU32(s, 0, v);
    return s;
}

// The parts of a WAV file as sox writes it: RIFF header, a 16-byte fmt
// chunk, the data chunk.
struct TWaveParts {
    std::string riff;    // 12 bytes
    std::string fmt;     // the fmt chunk's 16 bytes of fields
    std::string samples; // the data chunk's bytes
    explicit TWaveParts(const std::string& wav)
        : riff(wav.substr(0, 12)), fmt(wav.substr(20, 16)), samples(wav.substr(44))
    {
        EXPECT_EQ(wav.substr(12, 8), "fmt " + U32(16));
        EXPECT_EQ(wav.substr(36, 4), "data");
    }
    // A file with extra bytes in the fmt chunk, chunks between fmt and data,
    // and a data chunk that claims claimed bytes.
    std::string Build(const std::string& fmtExtra, const std::string& between, std::uint32_t claimed) const
    {
        return riff + "fmt " + U32(static_cast<std::uint32_t>(16 + fmtExtra.size())) + fmt + fmtExtra + between
            + "data" + U32(claimed) + samples;
    }
    std::string Build() const { return Build("", "", static_cast<std::uint32_t>(samples.size())); }
};

class Wav2Mp3Form : public ToolFormTest<TFormWav2Mp3> {
protected:
    void Convert(const std::string& input, const std::string& output) { Run(form->Encode, input, output); }
    std::vector<std::string> Messages() const { return ToolFormTest::Messages("Wav2Mp3 ERROR"); }
};

} // namespace

TEST_F(Wav2Mp3Form, WritesTheMp3ThatLameWritesAtTheSameSettings)
{
    for (const char* name : {"stereo44100", "mono44100", "stereo48000", "mono32000"}) {
        SCOPED_TRACE(name);
        const std::string mp3 = dir.Path(std::string(name) + ".mp3");
        Convert(kFixtures + name + ".wav", mp3);
        EXPECT_EQ(dir.Read(std::string(name) + ".mp3"), Fixture(std::string(name) + ".mp3"));
        EXPECT_EQ(form->OutputFileName, mp3);
    }
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(Wav2Mp3Form, WalksTheChunksOfSplicedFilesToTheSameSamples)
{
    const TWaveParts base(Fixture("stereo44100.wav"));
    const auto samples = static_cast<std::uint32_t>(base.samples.size());
    const std::string list = "LIST" + U32(4) + "INFO";
    struct Case {
        const char* name;
        std::string wav;
    } cases[] = {
        {"another chunk before data", base.Build("", list, samples)},
        // Its pad byte is skipped too.
        {"an odd-sized chunk before data", base.Build("", "junk" + U32(3) + "abc" + '\0', samples)},
        {"an 18-byte fmt chunk", base.Build(std::string(2, '\0'), "", samples)},
        // A truncated or streamed file: what it holds is converted.
        {"a data chunk longer than the file", base.Build("", "", samples + 100000)},
        {"a data chunk claiming 4 GB", base.Build("", list, 0xFFFFFFFFu)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("in.wav", c.wav);
        Convert(dir.Path("in.wav"), dir.Path("out.mp3"));
        EXPECT_EQ(dir.Read("out.mp3"), Fixture("stereo44100.mp3"));
    }
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(Wav2Mp3Form, RefusalsLeaveAnOlderMp3AndNoTemporaryFile)
{
    const TWaveParts base(Fixture("mono44100.wav"));
    std::string notFmt = base.Build();
    notFmt.replace(12, 4, "fmx ");
    // The extensible tag without the extension that names the sub-format.
    std::string extensibleCut = base.Build();
    extensibleCut.replace(20, 2, "\xfe\xff");
    // Float samples in the extensible format: KSDATAFORMAT_SUBTYPE_IEEE_FLOAT.
    std::string extensibleFloat = Fixture("mono44100_24bit.wav");
    ASSERT_EQ(extensibleFloat.substr(44, 2), std::string("\x01\x00", 2));
    extensibleFloat[44] = 3;
    std::string noBits = base.Build();
    noBits[34] = 0;
    std::string tooWide = base.Build();
    tooWide[34] = 40;
    const auto samples = static_cast<std::uint32_t>(base.samples.size());
    struct Case {
        const char* name;
        std::string wav;
        const char* message;
    } cases[] = {
        {"22050 Hz", Fixture("mono22050.wav"), "Unsuported sample rate"},
        {"float samples", Fixture("mono44100_float.wav"), "Cannot handle compressed Wave file"},
        {"the extensible format without its extension", extensibleCut, "This is not a valid Wave file"},
        {"float samples in the extensible format", extensibleFloat, "Cannot handle compressed Wave file"},
        {"samples of no bits", noBits, "Cannot handle samples of this size"},
        {"samples of 40 bits", tooWide, "Cannot handle samples of this size"},
        {"no fmt chunk first", notFmt, "This is not a valid Wave file"},
        {"no data chunk", base.Build().substr(0, 36), "This is not a valid Wave file"},
        {"a chunk running past the end", base.Build("", "LIST" + U32(0xFFFFFFFFu), samples).substr(0, 60),
            "This is not a valid Wave file"},
        {"shorter than a header", "RIFF", "This is not a valid Wave file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts->asked.clear();
        dir.Write("in.wav", c.wav);
        dir.Write("out.mp3", "an older MP3");
        Convert(dir.Path("in.wav"), dir.Path("out.mp3"));
        EXPECT_EQ(Messages(), std::vector<std::string> {c.message});
        EXPECT_EQ(dir.Read("out.mp3"), "an older MP3");
        EXPECT_EQ(dir.Names(), (std::vector<std::string> {"in.wav", "out.mp3"}));
    }
}

TEST_F(Wav2Mp3Form, EightBitAndExtensibleFilesGiveTheMp3ThatLameWrites)
{
    // 16-bit stereo as recorders write it: the extensible tag, a 40-byte fmt
    // chunk naming PCM as its sub-format, a "fact" chunk before "data".
    const TWaveParts base(Fixture("stereo44100.wav"));
    std::string extensibleFmt = base.fmt + std::string("\x16\x00\x10\x00\x03\x00\x00\x00", 8)
        + std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 16);
    extensibleFmt.replace(0, 2, "\xfe\xff");
    const std::string extensible = base.riff + "fmt " + U32(40) + extensibleFmt + "fact" + U32(4) + U32(11025)
        + "data" + U32(static_cast<std::uint32_t>(base.samples.size())) + base.samples;
    struct Case {
        const char* name;
        std::string wav;
        const char* mp3;
    } cases[] = {
        // Unsigned samples widened to 16 bits, as lame reads them.
        {"8-bit mono", Fixture("mono44100_8bit.wav"), "mono44100_8bit.mp3"},
        {"16-bit stereo, extensible", extensible, "stereo44100.mp3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("in.wav", c.wav);
        Convert(dir.Path("in.wav"), dir.Path("out.mp3"));
        EXPECT_TRUE(dir.Read("out.mp3") == Fixture(c.mp3));
    }
    EXPECT_TRUE(prompts->asked.empty());
}

namespace {

// The mean level of a sound file in dB as ffmpeg decodes it; NaN when
// ffmpeg cannot decode it.
double MeanVolume(const std::string& file)
{
    const std::string output = RunCommand("ffmpeg -hide_banner -nostats -i '" + file + "' -af volumedetect -f null - 2>&1");
    const std::size_t at = output.find("mean_volume: ");
    return at == std::string::npos ? std::nan("") : std::atof(output.c_str() + at + 13);
}

} // namespace

TEST_F(Wav2Mp3Form, EightAndTwentyFourBitFilesSoundAsLoudAsTheirSource)
{
    for (const char* name : {"mono44100_8bit", "mono44100_24bit", "stereo44100"}) {
        SCOPED_TRACE(name);
        const std::string wav = kFixtures + name + ".wav";
        Convert(wav, dir.Path("out.mp3"));
        const double source = MeanVolume(wav);
        const double mp3 = MeanVolume(dir.Path("out.mp3"));
        ASSERT_FALSE(std::isnan(source));
        ASSERT_FALSE(std::isnan(mp3)) << "ffmpeg cannot decode the MP3";
        EXPECT_NEAR(mp3, source, 1.0);
    }
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(Wav2Mp3Form, RefusesToWriteOverItsInput)
{
    const std::string wav = Fixture("mono44100.wav");
    dir.Write("in.wav", wav);
    std::filesystem::create_symlink(dir.Path("in.wav"), dir.Path("link.mp3"));
    for (const std::string& output : {dir.Path("in.wav"), dir.Path("link.mp3"), dir.Root() + "./in.wav"}) {
        SCOPED_TRACE(output);
        prompts->asked.clear();
        Convert(dir.Path("in.wav"), output);
        EXPECT_EQ(Messages(), std::vector<std::string> {"The output file is the input file"});
        EXPECT_EQ(dir.Read("in.wav"), wav);
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"in.wav", "link.mp3"}));
}

TEST_F(Wav2Mp3Form, AnOutputThatCannotBeWrittenIsReported)
{
    dir.Write("sub/dir/keep", "");
    struct Case {
        const char* name;
        std::string output;
    } cases[] = {
        {"a missing folder", dir.Path("missing/out.mp3")},
        {"a folder", dir.Path("sub")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts->asked.clear();
        Convert(kFixtures + "mono44100.wav", c.output);
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("Cannot create file"), std::string::npos) << messages[0];
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"sub"});
}

TEST_F(Wav2Mp3Form, AFullDiskLeavesTheOlderMp3AndNoPartialOne)
{
    dir.Write("out.mp3", "an older MP3");
    WithEachKindOfTemporaryFile([&] {
        prompts->asked.clear();
        {
            const FileSizeLimit full(1000);
            Convert(kFixtures + "stereo44100.wav", dir.Path("out.mp3"));
        }
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("Cannot create file"), std::string::npos) << messages[0];
        EXPECT_EQ(dir.Read("out.mp3"), "an older MP3");
        EXPECT_EQ(dir.Names(), std::vector<std::string> {"out.mp3"});
    });
}

namespace {

// Ten seconds of stereo: the quarter second of the fixture forty times.
std::string LongWave()
{
    const TWaveParts base(Fixture("stereo44100.wav"));
    std::string samples;
    for (int i = 0; i < 40; ++i)
        samples += base.samples;
    return base.riff + "fmt " + U32(16) + base.fmt + "data" + U32(static_cast<std::uint32_t>(samples.size())) + samples;
}

// Runs step from the message loop again and again while a conversion runs,
// until it answers true.
void WhileConverting(TFormWav2Mp3& form, std::function<bool()> step)
{
    auto* timer = new QTimer(form.Widget());
    QObject::connect(timer, &QTimer::timeout, [&form, timer, step = std::move(step)] {
        if (form.Converting() && step())
            timer->stop();
    });
    timer->start(0);
}

} // namespace

TEST_F(Wav2Mp3Form, TheWindowAnswersAndShowsProgressWhileItConverts)
{
    dir.Write("in.wav", LongWave());
    std::vector<int> positions;
    bool cancelShown = true;
    bool boxesLocked = true;
    WhileConverting(*form, [&] {
        positions.push_back(form->ProgressBar1->Position());
        cancelShown = cancelShown && form->Encode->Caption() == "Cancel";
        boxesLocked = boxesLocked && !form->Edit1->Enabled() && !form->Browser->Enabled();
        return false;
    });
    Convert(dir.Path("in.wav"), dir.Path("out.mp3"));
    EXPECT_FALSE(form->Converting());
    // The message loop ran many times, and saw the bar move on.
    ASSERT_GT(positions.size(), 10u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_LT(positions.front(), 100);
    EXPECT_GT(positions.back(), 500);
    EXPECT_TRUE(cancelShown);
    EXPECT_TRUE(boxesLocked);
    EXPECT_EQ(form->Encode->Caption(), "Convert");
    EXPECT_TRUE(form->Edit1->Enabled());
    EXPECT_EQ(form->ProgressBar1->Position(), 1000);
    EXPECT_TRUE(prompts->asked.empty());
    EXPECT_GT(dir.Read("out.mp3").size(), 200000u);
}

TEST_F(Wav2Mp3Form, StoppingAConversionLeavesNoPartialFile)
{
    dir.Write("in.wav", LongWave());
    struct Way {
        const char* name;
        std::function<void(TFormWav2Mp3&)> stop;
    } ways[] = {
        {"Cancel", [](TFormWav2Mp3& f) { ClickWidget(f.Encode->Widget()); }},
        {"Close", [](TFormWav2Mp3& f) { ClickWidget(f.Button2->Widget()); }},
        {"Escape", [](TFormWav2Mp3& f) { PressKey(f.Widget(), Qt::Key_Escape); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        form->Show();
        dir.Write("out.mp3", "an older MP3");
        WhileConverting(*form, [&] {
            if (form->ProgressBar1->Position() == 0)
                return false;
            way.stop(*form);
            return true;
        });
        Convert(dir.Path("in.wav"), dir.Path("out.mp3"));
        EXPECT_FALSE(form->Converting());
        EXPECT_EQ(form->Encode->Caption(), "Convert");
        EXPECT_EQ(dir.Read("out.mp3"), "an older MP3");
        EXPECT_EQ(dir.Names(), (std::vector<std::string> {"in.wav", "out.mp3"}));
    }
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(Wav2Mp3Form, ClosingTheModalWindowStopsTheConversionFirst)
{
    dir.Write("in.wav", LongWave());
    form->Hide();
    struct Way {
        const char* name;
        std::function<void(QWidget*)> close;
    } ways[] = {
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
        {"close box", [](QWidget* w) { PressCloseBox(w); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        WhenModal([&](QWidget* w) {
            WhileConverting(*form, [&] {
                if (form->ProgressBar1->Position() == 0)
                    return false;
                way.close(w);
                return true;
            });
            Convert(dir.Path("in.wav"), dir.Path("out.mp3"));
        });
        EXPECT_EQ(form->ShowModal(), mrCancel);
        EXPECT_FALSE(form->Converting());
        EXPECT_EQ(dir.Names(), std::vector<std::string> {"in.wav"});
    }
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(Wav2Mp3Form, EmptyBoxesOrAMissingInputDoNothing)
{
    Convert("", dir.Path("out.mp3"));
    Convert(kFixtures + "mono44100.wav", "");
    Convert(dir.Path("missing.wav"), dir.Path("out.mp3"));
    EXPECT_TRUE(prompts->asked.empty());
    EXPECT_TRUE(dir.Names().empty());
}

TEST_F(Wav2Mp3Form, ProposesTheCurrentWaveFileAndItsMp3Name)
{
    ExpectProposal("/music/take one.WAV", "/music/take one.WAV", "/music/take one.mp3");
    ExpectProposal("/music/song.mp3", "", "");
    ExpectProposal("", "", "");
}

TEST_F(Wav2Mp3Form, TheDialogsFillTheBoxes)
{
    prompts->PushFiles({"/music/a.wav"});
    ClickWidget(form->Browser->Widget());
    EXPECT_EQ(form->Edit1->Text(), "/music/a.wav");
    EXPECT_EQ(form->Edit2->Text(), "/music/a.mp3");
    prompts->PushText("/elsewhere/b.mp3");
    ClickWidget(form->Button1->Widget());
    EXPECT_EQ(form->Edit2->Text(), "/elsewhere/b.mp3");
    ASSERT_EQ(prompts->asked.size(), 2u);
    EXPECT_EQ(prompts->asked[0].kind, "open");
    EXPECT_EQ(prompts->asked[0].caption, "Open a Wav file");
    EXPECT_EQ(prompts->asked[0].text, "wav(*.wav)|*.wav");
    EXPECT_EQ(prompts->asked[1].kind, "save");
    EXPECT_EQ(prompts->asked[1].caption, "Save as a MP3");
    EXPECT_EQ(prompts->asked[1].text, "MP3(*.mp3)|*.mp3");
    // A name typed without an extension gets the default one.
    prompts->PushText("/elsewhere/c");
    ClickWidget(form->Button1->Widget());
    EXPECT_EQ(form->Edit2->Text(), "/elsewhere/c.mp3");
    // A cancelled dialog changes nothing.
    prompts->PushCancel();
    ClickWidget(form->Browser->Widget());
    EXPECT_EQ(form->Edit1->Text(), "/music/a.wav");
}

namespace {

// Records what the converter hands the encoder; each chunk produces its
// sample count as text, the end "END".
class RecordingEncoder : public TMp3Encoder {
public:
    bool Open(const Mp3EncoderSettings& s) override
    {
        settings = s;
        return true;
    }
    std::uint32_t SamplesPerChunk() const override { return 2304; }
    std::uint32_t OutputBufferSize() const override { return 64; }
    bool EncodeChunk(std::uint32_t n, const short* pcm, std::uint8_t* output, std::uint32_t& produced) override
    {
        chunks.push_back(n);
        samples.insert(samples.end(), pcm, pcm + n);
        if (failAt && chunks.size() == failAt)
            return false;
        return Produce(std::to_string(n) + ",", output, produced);
    }
    bool End(std::uint8_t* output, std::uint32_t& produced) override
    {
        ended = true;
        return Produce("END", output, produced);
    }

    Mp3EncoderSettings settings {};
    std::vector<std::uint32_t> chunks;
    std::vector<short> samples;
    std::size_t failAt = 0;
    bool ended = false;

private:
    static bool Produce(const std::string& text, std::uint8_t* output, std::uint32_t& produced)
    {
        std::copy(text.begin(), text.end(), output);
        produced = static_cast<std::uint32_t>(text.size());
        return true;
    }
};

class StringOutput : public TMp3Output {
public:
    void Write(const std::uint8_t* data, std::size_t size) override { bytes.append(reinterpret_cast<const char*>(data), size); }
    std::string bytes;
};

struct Converted {
    TWaveResult result;
    RecordingEncoder encoder;
    StringOutput out;
};

void ConvertBytes(const std::string& wav, Converted& c)
{
    TMemoryWaveInput in(reinterpret_cast<const std::uint8_t*>(wav.data()), wav.size());
    TWaveFormat format;
    c.result = ReadWaveHeader(in, format);
    if (c.result != TWaveResult::Ok)
        return;
    c.encoder.Open(EncoderSettingsFor(format));
    c.result = EncodeWaveData(in, format, c.encoder, c.out);
}

} // namespace

TEST(WaveReading, HandsTheSamplesOverChunkByChunk)
{
    const std::string wav = Fixture("stereo44100.wav");
    Converted c;
    ConvertBytes(wav, c);
    ASSERT_EQ(c.result, TWaveResult::Ok);
    // 44100 bytes: nine whole chunks of 2304 samples, then the 1314 left.
    std::vector<std::uint32_t> chunks(9, 2304);
    chunks.push_back(1314);
    EXPECT_EQ(c.encoder.chunks, chunks);
    std::string expected;
    for (std::uint32_t n : c.encoder.chunks)
        expected += std::to_string(n) + ",";
    EXPECT_EQ(c.out.bytes, expected + "END");
    ASSERT_EQ(c.encoder.samples.size(), 22050u);
    EXPECT_EQ(std::memcmp(c.encoder.samples.data(), wav.data() + 44, 44100), 0);
    // The record is packed: its fields are copied out before they are compared.
    const Mp3EncoderSettings s = c.encoder.settings;
    EXPECT_EQ(DWORD {s.ConfigKind}, 0u);
    EXPECT_EQ(DWORD {s.SampleRate}, 44100u);
    EXPECT_EQ(WORD {s.BitRate}, 192);
    EXPECT_EQ(s.Private | s.Crc | s.Copyright | s.Original, 0);
}

TEST(WaveReading, ModeFollowsTheChannelCount)
{
    std::string wav = Fixture("mono44100.wav");
    for (const auto& [channels, mode] : {std::pair {1, 3}, {2, 0}, {3, 0}, {0, 0}}) {
        SCOPED_TRACE(channels);
        wav[22] = static_cast<char>(channels);
        Converted c;
        ConvertBytes(wav, c);
        ASSERT_EQ(c.result, TWaveResult::Ok);
        EXPECT_EQ(c.encoder.settings.Mode, mode);
    }
}

TEST(WaveReading, AnOddByteAtTheEndOfTheFileIsDropped)
{
    // A data chunk of 5 bytes in a file that ends after 3 of them.
    const std::string wav = Fixture("mono44100.wav").substr(0, 40) + U32(5) + "\x01\x02\x03";
    Converted c;
    ConvertBytes(wav, c);
    ASSERT_EQ(c.result, TWaveResult::Ok);
    EXPECT_EQ(c.encoder.chunks, std::vector<std::uint32_t> {1});
    EXPECT_EQ(c.encoder.samples, std::vector<short> {0x0201});
    EXPECT_EQ(c.out.bytes, "1,END");
}

TEST(WaveReading, AnEncoderFailureStopsTheConversion)
{
    Converted c;
    c.encoder.failAt = 3;
    ConvertBytes(Fixture("stereo44100.wav"), c);
    EXPECT_EQ(c.result, TWaveResult::EncodeFailed);
    EXPECT_EQ(c.encoder.chunks.size(), 3u);
    EXPECT_FALSE(c.encoder.ended);
    EXPECT_EQ(WaveResultMessage(c.result), "Cannot perform compression");
}

TEST(Mp3EncoderLibrary, RefusesWhatItCannotDo)
{
    Mp3EncoderSettings s {};
    s.SampleRate = 44100;
    s.BitRate = 192;
    DWORD chunk = 0, size = 0;
    HMP3STREAM stream = nullptr;
    s.ConfigKind = 1;
    EXPECT_NE(beInitStream(&s, &chunk, &size, &stream), kMp3Ok);
    s.ConfigKind = kMp3ConfigMp3;
    s.Mode = 4;
    EXPECT_NE(beInitStream(&s, &chunk, &size, &stream), kMp3Ok);
    EXPECT_EQ(stream, nullptr);

    s.Mode = kMp3ModeStereo;
    ASSERT_EQ(beInitStream(&s, &chunk, &size, &stream), kMp3Ok);
    EXPECT_EQ(chunk, 2304u);
    EXPECT_GE(size, 7200u);
    std::vector<short> pcm(chunk + 2);
    std::vector<BYTE> out(size);
    DWORD produced = 0;
    EXPECT_NE(beEncodeChunk(stream, chunk + 2, pcm.data(), out.data(), &produced), kMp3Ok);
    EXPECT_EQ(beEncodeChunk(stream, chunk, pcm.data(), out.data(), &produced), kMp3Ok);
    EXPECT_EQ(beDeinitStream(stream, out.data(), &produced), kMp3Ok);
    EXPECT_GT(produced, 0u);
    // An ended stream takes no more samples.
    EXPECT_NE(beEncodeChunk(stream, chunk, pcm.data(), out.data(), &produced), kMp3Ok);
    EXPECT_NE(beDeinitStream(stream, out.data(), &produced), kMp3Ok);
    EXPECT_EQ(beCloseStream(stream), kMp3Ok);
}

TEST(Mp3EncoderLibrary, DropsAnOddLastStereoSample)
{
    const std::string wav = Fixture("stereo44100.wav");
    const auto* pcm = reinterpret_cast<const short*>(wav.data() + 44);
    auto encode = [&](DWORD samples) {
        Mp3EncoderSettings s {};
        s.SampleRate = 44100;
        s.BitRate = 192;
        DWORD chunk = 0, size = 0;
        HMP3STREAM stream = nullptr;
        EXPECT_EQ(beInitStream(&s, &chunk, &size, &stream), kMp3Ok);
        std::vector<BYTE> out(size);
        std::string mp3;
        DWORD produced = 0;
        EXPECT_EQ(beEncodeChunk(stream, samples, pcm, out.data(), &produced), kMp3Ok);
        mp3.append(reinterpret_cast<char*>(out.data()), produced);
        EXPECT_EQ(beDeinitStream(stream, out.data(), &produced), kMp3Ok);
        mp3.append(reinterpret_cast<char*>(out.data()), produced);
        beCloseStream(stream);
        return mp3;
    };
    EXPECT_EQ(encode(2001), encode(2000));
    EXPECT_NE(encode(2002), encode(2000));
}

TEST(WavHeaderFuzzCorpus, ReplaysEveryInput)
{
    EXPECT_GE(ReplayFuzzCorpus("wav_header", [](const std::string& bytes) {
        WavHeaderFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }), 5);
}

TEST(WavHeaderFuzzCorpus, MutatedInputsNeverCrash)
{
    // Bytes changed in the header and the first chunks.
    RunMutatedInputs("wav-header-fuzz-last.bin", Fixture("mono44100.wav").substr(0, 600), 64, 4, 300, 20261211,
        [](const std::string& bytes) {
            WavHeaderFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        });
}
