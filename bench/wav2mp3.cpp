// The WAV to MP3 converter against lame at the same settings.
//
// Has the fixture script make a 10-minute 44.1 kHz stereo WAV with sox, then
// times, in alternating pairs on the same warm file, a click on "Convert" in
// the converter window (offscreen) against
// `lame --quiet --cbr -b 192 -m s -o -t -q 3`. Both use the same encoder,
// so only our reading and writing may cost. The two MP3 files must be equal.
// Last line: the ratio (goal: at most 1.05).
#include "bench_prompts.h"
#include "bench_support.h"

#include "app/tools/wav2mp3.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {
using bench::Quoted;
constexpr double kGoal = 1.05;
} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    new TApplication();
    bench::CountingPrompts& prompts = bench::InstallCountingPrompts();

    const std::string dir = bench::DataDir() + "/wav2mp3_";
    const std::string wav = dir + "10min.wav";
    if (!bench::EnsureConvertFixture("wav10", wav))
        return 1;
    const std::string ourMp3 = dir + "ours.mp3";
    const std::string peerMp3 = dir + "peer.mp3";

    TFormWav2Mp3 form(nullptr);
    form.Show();
    form.Edit1->SetText(wav);
    form.Edit2->SetText(ourMp3);
    const bench::Side ours = bench::Timed([&] { form.EncodeClick(form.Encode); });
    const bench::Side peer = bench::Command(
        "lame --quiet --cbr -b 192 -m s -o -t -q 3 " + Quoted(wav) + " " + Quoted(peerMp3));
    const bench::PairTimes t = bench::Alternate(ours, peer, 5);
    if (prompts.messages != 0) {
        std::fprintf(stderr, "the converter said: %s\n", prompts.last.c_str());
        return 1;
    }
    if (!bench::Run("cmp -s " + Quoted(ourMp3) + " " + Quoted(peerMp3))) {
        std::fprintf(stderr, "our MP3 differs from lame's\n");
        return 1;
    }
    std::filesystem::remove(ourMp3);
    std::filesystem::remove(peerMp3);
    bench::PrintPair("wav2mp3 10 minutes of 44.1 kHz stereo", "lame", t);
    bench::PrintRatioLine(t.ratio, kGoal);
    return 0;
}
