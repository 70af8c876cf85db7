// Opening a folder of 100,000 empty files in the main window, the whole way
// a person waits: the folder chosen in the tree, the tree opening it, the
// list filled and sorted, the window painted, and the window answering the
// next input (an event posted right after the choice is handled). Against
// `ls -l` on the same folder, in alternating pairs; each opening starts from
// an empty folder, and going there is not timed.
//
// Prints both times and the peak memory, then "ratio <opening / ls -l> goal
// <= 3" as the last line.
#include "bench_support.h"

#include "app/mainform.h"
#include "app/optionsdialog.h"
#include "app/tools/folderlisteditor.h"
#include "app/tools/programfiles.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kFiles = 100000;

std::string MakeFolder(const std::string& dir)
{
    const std::string folder = dir + "/folder_open";
    const std::string marker = dir + "/folder_open.complete";
    if (std::filesystem::exists(marker))
        return folder;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    char name[64];
    for (int i = 0; i < kFiles; ++i) {
        // Names out of order, so that the sort has work to do.
        const int k = static_cast<int>((static_cast<long long>(i) * 7919) % kFiles);
        std::snprintf(name, sizeof name, "/empty file %06d.txt", k);
        std::ofstream(folder + name);
    }
    std::ofstream(marker) << "ok";
    return folder;
}

// The program's own folder with the settings a first start has, starting on
// the empty folder.
void WriteProgramFolder(const std::string& program, const std::string& startFolder)
{
    for (const char* sub : {"ini", "mlist", "ffolders"})
        std::filesystem::create_directories(program + "/" + sub);
    std::ofstream(program + "/ini/config.ini") << "[IniParas]\r\nIniDir=" << startFolder
                                               << "\r\nLayout=1\r\nViewMode=0\r\nFilter=0\r\nShowgrid=1\r\nSaverecent=1\r\n";
    std::ofstream(program + "/ini/filefilter.txt") << "*.*\r\nAll files\r\n*.txt\r\nText\r\n";
    std::ofstream(program + "/ini/recent.txt");
    std::ofstream(program + "/mlist/lindex.txt");
    std::ofstream(program + "/ffolders/folders.txt");
}

// Handles the events of the queue until one posted now, standing for the
// person's next input, has been handled.
class Answered : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        done = true;
        return true;
    }
    void Wait()
    {
        done = false;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::LowEventPriority);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    bool done = false;
};

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    const std::string dir = bench::DataDir();
    const std::string folder = MakeFolder(dir);
    const std::string empty = dir + "/folder_open_empty";
    const std::string program = dir + "/folder_open_program";
    std::filesystem::create_directories(empty);
    WriteProgramFolder(program, empty);
    SetProgramDir(program + "/");

    TApplication application;
    application.SetTitle("Vistrel");
    Answered answered;
    TForm1* form = nullptr;
    // The main window made and shown as the program starts it; the other
    // windows the program makes at start come first, as there.
    auto startWindow = [&] {
        new TForm3(nullptr);
        new TfrmAddFilter(nullptr);
        new TForm6(nullptr);
        form = new TForm1(nullptr);
        form->SetBounds(0, 0, 1200, 800);
        form->Show();
        answered.Wait();
        form->Widget()->repaint();
    };
    auto closeWindow = [&] {
        delete form;
        delete Form3;
        delete frmAddFilter;
        delete Form6;
        form = nullptr;
        answered.Wait();
    };
    const std::string ls = "LC_ALL=C ls -l '" + folder + "' > /dev/null";

    // The program started on the folder (its start folder in the settings).
    WriteProgramFolder(program, folder);
    int count = 0;
    const bench::Side starting = [&] {
        const double seconds = bench::TimeCall([&] {
            startWindow();
            count = form->list->Items().Count();
        });
        closeWindow();
        return seconds;
    };
    const bench::PairTimes start = bench::Alternate(starting, bench::Command(ls));
    std::printf("%d files listed at start\n", count);

    // The folder chosen in the tree of a running window.
    WriteProgramFolder(program, empty);
    startWindow();
    const bench::Side choosing = [&] {
        form->tree->SetSelectedPathName(empty);
        answered.Wait();
        return bench::TimeCall([&] {
            form->tree->SetSelectedPathName(folder);
            answered.Wait();
            form->Widget()->repaint();
            count = form->list->Items().Count();
        });
    };
    const bench::PairTimes choose = bench::Alternate(choosing, bench::Command(ls));
    closeWindow();

    std::printf("%d files listed when chosen\n", count);
    std::printf("peak memory: %.1f MB\n", bench::StatusMb("VmHWM"));
    bench::PrintPair("folder of 100,000 files chosen in the tree, listed, painted and answering", "ls -l", choose, 3);
    bench::PrintPair("program started on the folder, listed, painted and answering", "ls -l", start);
    bench::PrintRatioLine(std::max(start.ratio, choose.ratio), 3);
    return 0;
}
