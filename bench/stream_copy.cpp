// Copying a 1 GB file through the archive library's file streams (the
// chunked copy with its message pump and cancel polling) against cp of the
// same file on the same disk.
//
// Prints both times, then "ratio <ours / cp> goal <= 1.3" as the last line.
#include "bench_support.h"

#include "archive/zadhooks.h"
#include "archive/zadstreams.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bench::Seconds;
using bench::Median;

constexpr std::int64_t kFileSize = std::int64_t(1) << 30;

std::string MakeFile(const std::string& dir)
{
    const std::string name = dir + "/stream_copy.bin";
    if (std::filesystem::exists(name) && static_cast<std::int64_t>(std::filesystem::file_size(name)) == kFileSize)
        return name;
    std::ofstream out(name, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 167 + (i >> 11));
    for (std::int64_t written = 0; written < kFileSize; written += static_cast<std::int64_t>(block.size())) {
        block[0] = static_cast<char>(written >> 20);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return name;
}

int g_pumps = 0;

double CopyOurs(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    const auto t0 = std::chrono::steady_clock::now();
    {
        TFileStream32 source(from, fmOpenRead | fmShareDenyWrite);
        TFileStream32 target(to, fmCreate);
        bool cancel = false;
        target.CancelRef = &cancel;
        if (target.CopyFrom(&source, 0) != kFileSize)
            std::fprintf(stderr, "short copy\n");
    }
    const double s = Seconds(std::chrono::steady_clock::now() - t0);
    if (static_cast<std::int64_t>(std::filesystem::file_size(to)) != kFileSize)
        std::fprintf(stderr, "wrong size\n");
    return s;
}

double CopyCp(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    return bench::TimeCommand("cp '" + from + "' '" + to + "'");
}

}  // namespace

int main(int argc, char** argv)
{
    // The files live beside the program (in the build tree), on the disk cp
    // is measured on too; VISTREL_BENCH_DIR picks another place.
    const char* env = std::getenv("VISTREL_BENCH_DIR");
    const std::string dir = env && *env ? std::string(env)
                                        : (std::filesystem::absolute(argv[0]).parent_path() / "stream-copy-data").string();
    std::filesystem::create_directories(dir);
    const std::string file = MakeFile(dir);
    const std::string target = dir + "/stream_copy.out";
    // Every chunk passes the application's message pump, as in the program.
    ProcessMessagesHook = +[] { ++g_pumps; };

    CopyCp(file, target);  // warm the page cache
    std::vector<double> ours, cp;
    benchmark::RegisterBenchmark("stream_copy_1GB", [&](benchmark::State& state) {
        for (auto _ : state) {
            const double s = CopyOurs(file, target);
            state.SetIterationTime(s);
            ours.push_back(s);
            cp.push_back(CopyCp(file, target));
        }
    })->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(target);
    std::filesystem::remove(file);

    const double a = Median(ours), b = Median(cp);
    std::printf("file 1024 MB, %d message pumps per copy\n", g_pumps / static_cast<int>(ours.size()));
    std::printf("TFileStream32::CopyFrom  %.3f s (median of %zu)\n", a, ours.size());
    std::printf("cp                       %.3f s (median of %zu)\n", b, cp.size());
    std::printf("ratio %.3f goal <= 1.3\n", a / b);
    return 0;
}
