// Deleting 10,000 selected files to the trash as a person does it in the
// program: the files selected in the shell list and Del pressed (the list
// then refreshes), against `gio trash` on as many files, in alternating
// pairs. Each side has its own fresh folder of files (hard links to files
// written once) and its own empty trash (XDG_DATA_HOME on the same disk),
// made outside the timed part.
//
// Prints both times, then "ratio <Del / gio trash> goal <= 1.5" as the last line.
#include "bench_support.h"

#include "shell/ptshcontrols.h"

#include "vcl/forms.h"

#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;

std::string NameOf(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "/f%05d.txt", i);
    return name;
}

// The files are written once; each run's folder holds hard links to them,
// which are quick to make and to remove (no new inodes, no data), so the
// set-up between runs stays short. Moving a link to the trash is the same
// work as moving a file there.
void MakeTemplate(const std::string& folder)
{
    if (fs::exists(folder + NameOf(kFiles - 1)))
        return;
    fs::create_directories(folder);
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(folder + NameOf(i)) << "file " << i << '\n';
}

std::string FreshFiles(const std::string& templateFolder, const std::string& folder)
{
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int i = 0; i < kFiles; ++i)
        fs::create_hard_link(templateFolder + NameOf(i), folder + NameOf(i));
    return folder;
}

// A new trash for each run: the data folder is the trash's home.
std::string FreshDataHome(const std::string& path)
{
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
}

size_t Count(const std::string& folder)
{
    return fs::exists(folder) ? static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()))
                              : 0;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    new TApplication();
    const std::string dir = bench::DataDir() + "/shell_trash";
    fs::create_directories(dir);
    const std::string oursFolder = dir + "/ours";
    const std::string gioFolder = dir + "/gio";
    const std::string templateFolder = dir + "/template";
    MakeTemplate(templateFolder);

    TPTShellList list(nullptr);
    list.SetOptions(ptsloDefaultKeyHandling | ptsloShowHidden);
    list.SetViewStyle(TViewStyle::vsReport);
    list.SetMultiSelect(true);
    list.SetBounds(0, 0, 800, 600);
    // The list is on screen (offscreen), as the user's is when Del is pressed.
    list.Widget()->show();
    TPTShellLocator folder;

    size_t trashed = 0, left = 0;
    int run = 0;
    const bench::Side ours = [&] {
        // A folder of another name each run: the list fills anew when it
        // is shown another folder, not when it is shown the same one again.
        fs::remove_all(oursFolder + std::to_string(run));
        const std::string files = FreshFiles(templateFolder, oursFolder + std::to_string(++run));
        ::setenv("XDG_DATA_HOME", FreshDataHome(dir + "/ours-data").c_str(), 1);
        folder.SetPathName(files);
        list.SetFolder(&folder);
        list.SelectAll();
        const double seconds = bench::TimeCall([&] { QTest::keyClick(list.ActiveView(), Qt::Key_Delete); });
        trashed = Count(dir + "/ours-data/Trash/files");
        left = static_cast<size_t>(list.Items().Count());
        return seconds;
    };
    const bench::Side gio = [&] {
        FreshFiles(templateFolder, gioFolder);
        FreshDataHome(dir + "/gio-data");
        return bench::TimeCommand("cd '" + gioFolder + "' && XDG_DATA_HOME='" + dir + "/gio-data' gio trash f*.txt");
    };
    const bench::PairTimes t = bench::Alternate(ours, gio);
    std::printf("ours: %zu files in the trash, %zu left in the list; gio: %zu files in the trash\n", trashed, left,
        Count(dir + "/gio-data/Trash/files"));
    fs::remove_all(dir);
    bench::PrintPair("Del of 10,000 selected files to the trash", "gio trash", t);
    bench::PrintRatioLine(t.ratio, 1.5);
    return 0;
}
