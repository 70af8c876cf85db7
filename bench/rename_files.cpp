// The renamer's extension replacement of 10,000 selected files in one folder
// (".txt" to ".aaa"), timed from the click on "Execute the modification" to
// its message, against `rename 's/\.txt$/.aaa/' *.txt` in the same folder,
// in alternating pairs. Between runs the files get their old names back
// (not timed).
//
// The last line is "ratio <ours / rename> goal <= 1.5".
#include "bench_prompts.h"
#include "bench_support.h"

#include "app/tools/renamer.h"

#include "vcl/forms.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kFiles = 10000;

std::string MakeFolder(const std::string& dir)
{
    const std::string folder = dir + "/rename_files";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    char name[32];
    for (int i = 0; i < kFiles; ++i) {
        std::snprintf(name, sizeof name, "/file%05d.txt", i);
        std::ofstream(folder + name) << i;
    }
    return folder;
}

// Gives the renamed files their old names back.
void Restore(const std::string& folder)
{
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().extension() == ".aaa")
            std::filesystem::rename(e.path(), std::filesystem::path(e.path()).replace_extension(".txt"));
}

int CountWithExtension(const std::string& folder, const char* ext)
{
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.path().extension() == ext;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    new TApplication();
    // The renamer ends each run with a message.
    bench::CountingPrompts& prompts = bench::InstallCountingPrompts();
    const std::string folder = MakeFolder(bench::DataDir());

    // The window as a person leaves it before the click: the folder open,
    // every file selected, the text "aaa" on the extension page. The list
    // keeps the old names after a run, which the restore brings back.
    TfrmRenamer renamer(nullptr);
    renamer.Show();
    renamer.DirectoryListBox1->SetDirectory(folder);
    for (int i = 0; i < renamer.FileListBox1->Count(); ++i)
        renamer.FileListBox1->SetSelected(i, true);
    renamer.PageControl1->SetActivePage(renamer.TabSheet2);
    renamer.Edit1->SetText("aaa");

    int renamed = 0;
    const bench::Side ours = [&] {
        const double t = bench::TimeCall([&] { renamer.Button6Click(renamer.Button6); });
        renamed = CountWithExtension(folder, ".aaa");
        Restore(folder);
        return t;
    };
    const bench::Side peer = [&] {
        const double t = bench::TimeCommand("cd '" + folder + "' && rename 's/\\.txt$/.aaa/' *.txt");
        Restore(folder);
        return t;
    };
    const bench::PairTimes t = bench::Alternate(ours, peer);
    std::filesystem::remove_all(folder);

    std::printf("%d of %d selected files renamed; the last message: %s (%d messages)\n", renamed,
        renamer.FileListBox1->SelCount(), prompts.last.c_str(), prompts.messages);
    bench::PrintPair("rename 10,000 files to .aaa", "rename", t);
    bench::PrintRatioLine(t.ratio, 1.5);
    return 0;
}
