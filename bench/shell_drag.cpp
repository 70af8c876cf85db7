// Dragging a large selection out of the shell file list: the data object of
// 100,000 selected items built and read as another program reads it
// (text/uri-list), against the same for 10,000 items, in alternating pairs.
// A step that grows faster than the item count shows as a ratio above 10.
// The 10,000 side drags ten lists of 10,000 in turn and counts a tenth of
// the time: both sides then move 100,000 items through memory and take
// about as long, so the machine's other work falls on both alike instead of
// mostly on the longer one.
//
// Prints both times, then "ratio <100,000 / 10,000> goal <= 12" as the last
// line.
#include "bench_support.h"

#include "ole/ole_p.h"
#include "shell/ptshcontrols.h"

#include "vcl/forms.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string MakeFolder(const std::string& dir, int files)
{
    const std::string folder = dir + "/shell_drag_" + std::to_string(files);
    const std::string marker = folder + ".complete";
    if (std::filesystem::exists(marker))
        return folder;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    char name[64];
    for (int i = 0; i < files; ++i) {
        std::snprintf(name, sizeof name, "/dragged file %06d.txt", i);
        std::ofstream(folder + name);
    }
    std::ofstream(marker) << "ok";
    return folder;
}

// A list showing the folder with every item selected.
std::unique_ptr<TPTShellList> SelectedList(const std::string& folder)
{
    auto list = std::make_unique<TPTShellList>(nullptr);
    list->SetOptions(ptsloAutoFill | ptsloShowHidden);
    list->SetViewStyle(TViewStyle::vsReport);
    list->SetMultiSelect(true);
    list->SetBounds(0, 0, 800, 600);
    TPTShellLocator locator;
    locator.SetPathName(folder);
    list->SetFolder(&locator);
    list->SelectAll();
    return list;
}

// The drag's data object built and its file list read as a drop target in
// another program reads it; the bytes read.
qsizetype DragAndRead(TPTShellList& list)
{
    TComPtr<IDataObject> data = list.SelectionDataObject();
    TDataObjectMime mime(data.Get());
    return mime.data("text/uri-list").size();
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    const std::string dir = bench::DataDir();
    auto large = SelectedList(MakeFolder(dir, 100000));
    std::vector<std::unique_ptr<TPTShellList>> smalls;
    for (int k = 0; k < 10; ++k)
        smalls.push_back(SelectedList(MakeFolder(dir, 10000)));
    std::printf("%d and 10 x %d items selected\n", large->ShellSelCount(), smalls[0]->ShellSelCount());

    qsizetype bytes = 0;
    // Twenty-one pairs: each side takes milliseconds, so a pair that the
    // machine's other work lands on weighs less in the median.
    const bench::PairTimes t = bench::Alternate(bench::Timed([&] { bytes = DragAndRead(*large); }),
        [&] {
            return bench::TimeCall([&] {
                for (auto& small : smalls)
                    DragAndRead(*small);
            }) / 10;
        },
        21);
    std::printf("uri list of the large selection: %lld bytes\n", static_cast<long long>(bytes));
    std::printf("100,000 items: %.3f s (goal < 0.3 s)\n", t.ours);
    bench::PrintPair("data object of 100,000 items read as text/uri-list", "the same for 10,000", t);
    bench::PrintRatioLine(t.ratio, 12);
    return 0;
}
