// Listing a folder of 100,000 files in the shell file list: filled, sorted by
// name and its first screen painted offscreen, against `ls -l` on the same
// folder; and the memory the filled list holds per item.
//
// Prints both times, the memory per item and the peak memory, then
// "ratio <list / ls -l> goal <= 3" as the last line.
#include "bench_support.h"

#include "shell/ptshcontrols.h"

#include "vcl/forms.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {


constexpr int kFiles = 100000;

std::string MakeFolder(const std::string& dir)
{
    const std::string folder = dir + "/shell_list";
    const std::string marker = dir + "/shell_list.complete";
    if (std::filesystem::exists(marker))
        return folder;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    char name[64];
    for (int i = 0; i < kFiles; ++i) {
        // Names out of order, so that the sort has work to do.
        const int k = static_cast<int>((static_cast<long long>(i) * 7919) % kFiles);
        std::snprintf(name, sizeof name, "/file%06d.%s", k, k % 3 == 0 ? "txt" : (k % 3 == 1 ? "png" : "dat"));
        std::ofstream(folder + name) << std::string(static_cast<size_t>(k % 4096), 'x');
    }
    std::ofstream(marker) << "ok";
    return folder;
}

double TimeLs(const std::string& folder) { return bench::TimeCommand("LC_ALL=C ls -l '" + folder + "' > /dev/null"); }

// Kilobytes of a line of /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key) + 1);
    return 0;
}

// One listing as the main window shows it: report view, filled, sorted by
// name, first screen painted.
int ListOnce(TPTShellList& list, TPTShellLocator& folder, TBitmap& screen)
{
    list.SetFolder(&folder);
    list.PaintTo(screen);
    return list.Items().Count();
}

class FastestReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                best = std::min(best, r.GetAdjustedRealTime() / 1e3);
        ConsoleReporter::ReportRuns(runs);
    }
    double best = 1e9;  // seconds
};

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "vistrel-bench";
    std::filesystem::create_directories(dir);
    const std::string folder = MakeFolder(dir);

    TPTShellLocator target, empty;
    target.SetPathName(folder);
    empty.SetPathName(dir + "/shell_list_empty");
    std::filesystem::create_directories(dir + "/shell_list_empty");

    TPTShellList list(nullptr);
    list.SetOptions(ptsloAutoFill | ptsloShowHidden);
    list.SetHeaderSortDisplayMode(ptlvLeftAlign);
    list.SetViewStyle(TViewStyle::vsReport);
    list.SetGridLines(true);
    list.SetBounds(0, 0, 800, 600);
    TBitmap screen;

    TimeLs(folder);  // warm the caches for both
    ListOnce(list, target, screen);
    list.SetFolder(&empty);

    double ls = 1e9;
    for (int i = 0; i < 3; ++i)
        ls = std::min(ls, TimeLs(folder));

    benchmark::RegisterBenchmark("shell_list/fill_sort_paint", [&](benchmark::State& state) {
        int count = 0;
        for (auto _ : state) {
            count = ListOnce(list, target, screen);
            state.PauseTiming();
            list.SetFolder(&empty);
            state.ResumeTiming();
        }
        state.counters["items"] = count;
    })->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(false)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    FastestReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // Memory of the filled list: the heap in use with the list filled against
    // the same list emptied (freed blocks that the allocator keeps do not count).
    list.SetFolder(&empty);
    const size_t emptyBytes = mallinfo2().uordblks;
    const int count = ListOnce(list, target, screen);
    const size_t filledBytes = mallinfo2().uordblks;
    const double bytesPerItem = count > 0 ? (static_cast<double>(filledBytes) - static_cast<double>(emptyBytes)) / count : 0;

    std::printf("ls -l: %.1f ms\n", ls * 1e3);
    std::printf("shell list filled, sorted and first screen painted: %.1f ms (%d items)\n", reporter.best * 1e3, count);
    std::printf("memory of the filled list: %.0f bytes per item (goal < 1024)\n", bytesPerItem);
    std::printf("peak memory: %.1f MB\n", StatusKb("VmHWM") / 1024.0);
    std::printf("ratio %.2f goal <= 3\n", reporter.best / ls);
    return 0;
}
