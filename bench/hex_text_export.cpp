// Hex-text export and text view speed.
//
//   bench_hex_text_export --make-files=DIR   writes DIR/data.bin (64 MB of
//                                            pseudo-random bytes) and
//                                            DIR/text.txt (1.9 MB of text
//                                            lines) and exits
//   VXBENCH_DIR=DIR bench_hex_text_export    runs the benchmarks on them
//
// bench/hex_text_export.sh runs both steps, times xxd -c 16 on the same
// 64 MB file and prints the ratio.
#include "app/tools/commonfunc.h"
#include "vcl/forms.h"
#include "vcl/memo.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr size_t kDataSize = 64u << 20;
constexpr size_t kTextSize = 1900000;

std::string Dir()
{
    const char* d = std::getenv("VXBENCH_DIR");
    return d ? d : ".";
}

bool MakeFiles(const std::string& dir)
{
    std::string data(kDataSize, '\0');
    std::uint32_t x = 2463534242u;
    for (size_t i = 0; i < data.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<char>(x);
    }
    std::ofstream(dir + "/data.bin", std::ios::binary) << data;
    std::string text;
    for (int line = 0; text.size() < kTextSize; ++line)
        text += "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog, caf\xC3\xA9 \xE4\xB8\xAD\r\n";
    text.resize(kTextSize);
    std::ofstream(dir + "/text.txt", std::ios::binary) << text;
    return true;
}

void BM_ExportHexText(benchmark::State& state)
{
    const std::string source = Dir() + "/data.bin";
    const std::string target = Dir() + "/data.hex.txt";
    for (auto _ : state)
        WriteHexTextFile(source, target);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kDataSize));
}
BENCHMARK(BM_ExportHexText)->Unit(benchmark::kMillisecond)->UseRealTime();

// Read, convert and show: the text viewer's work for one file.
void BM_OpenTextView(benchmark::State& state)
{
    const std::string path = Dir() + "/text.txt";
    TMemo memo(nullptr);
    memo.SetBounds(0, 0, 800, 600);
    memo.Show();
    for (auto _ : state) {
        memo.Clear();
        const TTextFileContents read = ReadTextFileContents(path);
        memo.SetText(read.Text);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(memo.LineCount());
    }
}
BENCHMARK(BM_OpenTextView)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* prefix = "--make-files=";
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0)
            return MakeFiles(argv[i] + std::strlen(prefix)) ? 0 : 1;
    }
    EnsureQtApplication(&argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
