// The file search window against find and grep, in alternating pairs, on the
// same warm trees:
// - a name search (type "txt", keyword "kw") over 100,000 files in 100
//   folders, 1,000 of them hits, timed from the click on Search to the rows
//   in "Found Files", against `find DIR -name '*kw*.txt'`;
// - a body search for one keyword in 1 GB of 2,000 files (20 of them hold it,
//   at their end, so both read nearly every byte), case-sensitive like the
//   peer, against `grep -rlF KEYWORD DIR`.
//
// The body search is printed first; the last line is
// "ratio <name search / find> goal <= 2".
#include "bench_support.h"

#include "app/tools/mainwindow.h"
#include "app/tools/searchfiles.h"

#include "vcl/customlistview.h"
#include "vcl/forms.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>
#include <string>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000;
constexpr int kNameHits = 1000;
constexpr int kBodyFiles = 2000;
constexpr size_t kBodyFileSize = 512u << 10;
constexpr int kBodyHits = 20;
const char* const kKeyword = "Vistrel42";

// The "Found Files" list of the main window, in report view as it shows.
class FoundFilesHost : public TMainWindowServices {
public:
    FoundFilesHost() : form(nullptr)
    {
        form.SetBounds(0, 0, 800, 600);
        list = new TCustomListView(&form);
        list->SetParent(&form);
        list->SetAlign(TAlign::alClient);
        list->SetViewStyle(TViewStyle::vsReport);
        for (const char* c : {"Name", "Size(Bytes)", "Type", "Modify Time"})
            list->AddColumn(c, 150);
        form.Show();
    }
    void BuildPlaylistMenus() override {}
    void BuildFolderListMenu() override {}
    TListView& FoundFilesList() override { return *list; }
    void BeginFoundFilesSearch() override {}
    void EndFoundFilesSearch() override {}
    std::string CurrentFileName() const override { return {}; }

    TForm form;
    TCustomListView* list;
};

// 100 folders of 1,000 empty files of the types ".txt", ".dat" and ".log";
// every hundredth name holds "kw" and ends in ".txt" (1,000 hits), and as
// many other names hold "kw" with another type, which the type test turns
// away.
std::string MakeNameTree(const std::string& dir)
{
    const std::string root = dir + "/file_search_names";
    const std::string marker = dir + "/file_search_names.complete";
    if (std::filesystem::exists(marker))
        return root;
    std::filesystem::remove_all(root);
    const char* const types[] = {"txt", "dat", "log"};
    char name[64];
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = root + "/folder" + std::to_string(d);
        std::filesystem::create_directories(folder);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            const int n = d * kFilesPerFolder + i;
            const bool hit = n % 100 == 0;
            const bool kw = hit || n % 100 == 50;
            const char* type = hit ? "txt" : (kw ? "dat" : types[n % 3]);
            std::snprintf(name, sizeof name, "/%s%06d.%s", kw ? "notekw" : "note", n, type);
            std::ofstream(folder + name);
        }
    }
    std::ofstream(marker) << "ok";
    return root;
}

// 2,000 files of 512 KiB of text lines in 20 folders; the last 20 files end
// with the keyword.
std::string MakeBodyTree(const std::string& dir)
{
    const std::string root = dir + "/file_search_bodies";
    std::filesystem::remove_all(root);
    std::string block(kBodyFileSize, ' ');
    std::uint32_t x = 2463534242u;
    for (int f = 0; f < kBodyFiles; ++f) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            const unsigned r = x % 32;
            c = r < 26 ? static_cast<char>('a' + r) : (r < 31 ? ' ' : '\n');
        }
        if (f >= kBodyFiles - kBodyHits)
            block.replace(block.size() - 16, std::char_traits<char>::length(kKeyword), kKeyword);
        const std::string folder = root + "/part" + std::to_string(f / 100);
        std::filesystem::create_directories(folder);
        // Written through to the disk now, so that no write-back of the
        // gigabyte runs while the searches are timed.
        const std::string file = folder + "/file" + std::to_string(f) + ".txt";
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size()) || ::fdatasync(fd) != 0)
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
        if (fd >= 0)
            ::close(fd);
    }
    return root;
}

// Counts the lines a shell command prints.
int CountLines(const std::string& command)
{
    const std::string out = bench::DataDir() + "/file_search.count";
    bench::Run(command + " > '" + out + "'");
    std::ifstream in(out);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    std::filesystem::remove(out);
    return n;
}

struct Search {
    const char* keyword;
    const char* type;
    bool name;
    bool body;
    bool caseSensitive;
};

// One search as a person starts it: the criteria typed, then Search.
int RunSearch(TfrmSearchFiles& window, FoundFilesHost& host, const std::string& path, const Search& s)
{
    window.SearchPathEdit->SetText(path);
    window.sk[0]->SetText(s.keyword);
    window.ft[0]->SetText(s.type);
    window.cbName->SetChecked(s.name);
    window.cbBody->SetChecked(s.body);
    window.cbCaseSensitive->SetChecked(s.caseSensitive);
    window.Button1Click(window.Button1);
    return host.list->Items().Count();
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    new TApplication();
    const std::string dir = bench::DataDir();
    FoundFilesHost host;
    MainWindowServices = &host;
    TfrmSearchFiles window(nullptr);
    window.Show();

    // The body search first: its 1 GB goes away before the name search.
    const std::string bodies = MakeBodyTree(dir);
    const Search body {kKeyword, "", false, true, true};
    const std::string grep = "LC_ALL=C grep -rlF " + std::string(kKeyword) + " '" + bodies + "'";
    int bodyRows = 0;
    const bench::PairTimes tb = bench::Alternate(
        bench::Timed([&] { bodyRows = RunSearch(window, host, bodies, body); }), bench::Command(grep + " > /dev/null"));
    const int grepRows = CountLines(grep);
    std::filesystem::remove_all(bodies);

    const std::string names = MakeNameTree(dir);
    const Search name {"kw", "txt", true, false, false};
    const std::string find = "LC_ALL=C find '" + names + "' -name '*kw*.txt'";
    int nameRows = 0;
    const bench::PairTimes tn = bench::Alternate(
        bench::Timed([&] { nameRows = RunSearch(window, host, names, name); }), bench::Command(find + " > /dev/null"));
    const int findRows = CountLines(find);

    std::printf("body search: %d files found, grep %d; name search: %d files found, find %d\n", bodyRows, grepRows,
        nameRows, findRows);
    if (bodyRows != kBodyHits || grepRows != kBodyHits || nameRows != kNameHits || findRows != kNameHits)
        std::printf("the searches disagree with the trees\n");
    bench::PrintPair("body search, 1 GB in 2,000 files", "grep -rlF", tb, 1.5);
    bench::PrintPair("name search, 100,000 files, 1,000 hits", "find -name", tn);
    MainWindowServices = nullptr;
    bench::PrintRatioLine(tn.ratio, 2);
    return 0;
}
