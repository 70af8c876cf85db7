// Exporting a 64 MB file as hex text with WriteHexTextFile against
// "xxd -c 16" on the same file, both writing a file in the same folder, in
// alternating pairs; and the memory the export takes beyond what the program
// held before. Opening a 1.9 MB text file in the text view is printed above.
//
// The last line is "ratio <ours / xxd> goal <= 1".
#include "bench_support.h"

#include "app/tools/commonfunc.h"
#include "vcl/forms.h"
#include "vcl/memo.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kDataSize = 64u << 20;
constexpr size_t kTextSize = 1900000;

std::string MakeData(const std::string& dir) { return bench::PseudoRandomFile(dir + "/hex_text_export.bin", kDataSize); }

std::string MakeText(const std::string& dir)
{
    const std::string name = dir + "/hex_text_export.txt";
    std::string text;
    for (int line = 0; text.size() < kTextSize; ++line)
        text += "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog, caf\xC3\xA9 \xE4\xB8\xAD\r\n";
    text.resize(kTextSize);
    std::ofstream(name, std::ios::binary) << text;
    return name;
}

// Read, convert and show: the text viewer's work for one file.
double OpenTextView(const std::string& path)
{
    TMemo memo(nullptr);
    memo.SetBounds(0, 0, 800, 600);
    memo.Show();
    QCoreApplication::processEvents();
    std::vector<double> times;
    for (int i = 0; i < 6; ++i) {
        memo.Clear();
        QCoreApplication::processEvents();
        times.push_back(bench::TimeCall([&] {
            const TTextFileContents read = ReadTextFileContents(path);
            memo.SetText(read.Text);
            QCoreApplication::processEvents();
            benchmark::DoNotOptimize(memo.LineCount());
        }));
    }
    times.erase(times.begin());  // the first one warms up
    return bench::Median(times);
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    const std::string dir = bench::DataDir();
    const std::string data = MakeData(dir);
    const std::string ours = dir + "/hex_text_export.ours.txt";
    const std::string xxd = dir + "/hex_text_export.xxd.txt";

    // The export's own memory: the peak while exporting, above what the
    // program held when it started the export.
    const double before = bench::StatusMb("VmRSS");
    bench::ResetPeakMemory();
    WriteHexTextFile(data, ours);
    const double exportMb = bench::StatusMb("VmHWM") - before;

    const bench::PairTimes t = bench::Alternate(bench::Timed([&] { WriteHexTextFile(data, ours); }),
        bench::Command("xxd -c 16 '" + data + "' > '" + xxd + "'"));
    const double textMb = static_cast<double>(std::filesystem::file_size(ours)) / (1 << 20);
    const double fileMb = static_cast<double>(kDataSize) / (1 << 20);
    std::filesystem::remove(ours);
    std::filesystem::remove(xxd);

    const std::string text = MakeText(dir);
    std::printf("open_text_view 1.9 MB: %.3f ms (median of 5)\n", OpenTextView(text) * 1e3);
    std::filesystem::remove(text);
    std::printf("hex_text_export memory: %.1f MB above the program's (file %.0f MB, its text %.0f MB)\n", exportMb,
        fileMb, textMb);
    bench::PrintPair("hex_text_export 64 MB", "xxd -c 16", t);
    bench::PrintRatioLine(t.ratio, 1);
    return 0;
}
