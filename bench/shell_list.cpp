// Listing a folder of 100,000 files in the shell file list: filled, sorted by
// name and its first screen painted offscreen, against `ls -l` on the same
// folder in alternating pairs; and the memory the filled list holds per item.
//
// Prints both times, the memory per item and the peak memory, then
// "ratio <list / ls -l> goal <= 3" as the last line.
#include "bench_support.h"

#include "shell/ptshcontrols.h"

#include "vcl/forms.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
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

// One listing as the main window shows it: report view, filled, sorted by
// name, first screen painted.
int ListOnce(TPTShellList& list, TPTShellLocator& folder, TBitmap& screen)
{
    list.SetFolder(&folder);
    list.PaintTo(screen);
    return list.Items().Count();
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    const std::string dir = bench::DataDir();
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

    // Each listing starts from the empty folder, as a change of folder does;
    // emptying the list is not timed.
    int count = 0;
    const bench::Side listing = [&] {
        list.SetFolder(&empty);
        return bench::TimeCall([&] { count = ListOnce(list, target, screen); });
    };
    const bench::PairTimes t = bench::Alternate(listing, bench::Command("LC_ALL=C ls -l '" + folder + "' > /dev/null"));

    // Memory of the filled list: the heap in use with the list filled against
    // the same list emptied (freed blocks that the allocator keeps do not count).
    list.SetFolder(&empty);
    const size_t emptyBytes = mallinfo2().uordblks;
    count = ListOnce(list, target, screen);
    const size_t filledBytes = mallinfo2().uordblks;
    const double bytesPerItem = count > 0 ? (static_cast<double>(filledBytes) - static_cast<double>(emptyBytes)) / count : 0;

    std::printf("%d items listed\n", count);
    std::printf("memory of the filled list: %.0f bytes per item (goal < 1024)\n", bytesPerItem);
    std::printf("peak memory: %.1f MB\n", bench::StatusMb("VmHWM"));
    bench::PrintPair("shell list filled, sorted and first screen painted", "ls -l", t);
    bench::PrintRatioLine(t.ratio, 3);
    return 0;
}
