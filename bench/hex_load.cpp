// Loading a 512 MB file into the hex editor against reading it with cat, in
// alternating pairs; painting the first and the last screen, and the peak
// memory of it all.
//
// Prints the figures, then "ratio <load / cat> goal <= 1.5" as the last line.
#include "bench_support.h"

#include "hexedit/zuradhex.h"
#include "vcl/forms.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kFileSize = std::int64_t(512) << 20;

std::string MakeFile(const std::string& dir)
{
    const std::string name = dir + "/hex_load.bin";
    if (std::filesystem::exists(name) && static_cast<std::int64_t>(std::filesystem::file_size(name)) == kFileSize)
        return name;
    std::ofstream out(name, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + (i >> 9));
    for (std::int64_t written = 0; written < kFileSize; written += static_cast<std::int64_t>(block.size())) {
        block[0] = static_cast<char>(written >> 20);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return name;
}

double ScaleToSeconds(benchmark::TimeUnit unit)
{
    switch (unit) {
    case benchmark::kNanosecond: return 1e9;
    case benchmark::kMicrosecond: return 1e6;
    case benchmark::kMillisecond: return 1e3;
    default: return 1.0;
    }
}

// Collects the real time per iteration of each benchmark run.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                seconds[r.run_name.function_name] = r.GetAdjustedRealTime() / ScaleToSeconds(r.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv)
{
    const std::string file = MakeFile(bench::DataDir());

    // Headless unless a display was asked for.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app;
    auto hex = std::make_unique<TCustomZURadUvudod>(nullptr);
    hex->SetBounds(0, 0, 1000, 700);
    hex->Loaded();
    // Each load starts from an empty editor, as opening another file does;
    // emptying it is not timed. The first load also pays for the machine
    // handing the process fresh memory, and cat for the page cache: the
    // warm-up pair takes both.
    bool loadedWhole = true;
    const bench::Side load = [&] {
        hex->CreateEmptyFile("");
        const double s = bench::TimeCall([&] { hex->LoadFromFile(file); });
        loadedWhole = loadedWhole && hex->GetDataSize() == kFileSize;
        return s;
    };
    const bench::PairTimes t = bench::Alternate(load, bench::Command("cat '" + file + "' > /dev/null"));
    if (!loadedWhole) {
        std::fprintf(stderr, "loaded %d bytes\n", hex->GetDataSize());
        return 1;
    }

    TBitmap image;
    benchmark::RegisterBenchmark("paint_first_screen", [&](benchmark::State& state) {
        hex->SetSelStart(0);
        for (auto _ : state)
            hex->PaintTo(image);
    })->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
    benchmark::RegisterBenchmark("paint_last_screen", [&](benchmark::State& state) {
        hex->SetSelStart(hex->GetDataSize() - 1);  // jump to the end
        for (auto _ : state)
            hex->PaintTo(image);
    })->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
    benchmark::RegisterBenchmark("jump_to_end", [&](benchmark::State& state) {
        for (auto _ : state) {
            hex->SetSelStart(0);
            hex->SetSelStart(hex->GetDataSize() - 1);
        }
    })->Unit(benchmark::kMicrosecond)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const double peakMb = bench::StatusMb("VmHWM");
    const double fileMb = static_cast<double>(kFileSize) / (1 << 20);
    const double first = collector.seconds["paint_first_screen"];
    const double last = collector.seconds["paint_last_screen"];

    std::printf("file %.0f MB\n", fileMb);
    std::printf("paint first screen    %.2f ms\n", first * 1e3);
    std::printf("paint last screen     %.2f ms\n", last * 1e3);
    std::printf("ratio paint last/first %.3f goal within 0.8..1.2\n", first > 0 ? last / first : 0.0);
    std::printf("peak memory %.0f MB goal <= %.0f MB\n", peakMb, fileMb + 64);
    bench::PrintPair("LoadFromFile 512 MB", "cat > /dev/null", t);
    bench::PrintRatioLine(t.ratio, 1.5);
    return 0;
}
