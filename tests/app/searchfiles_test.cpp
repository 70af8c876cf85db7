// The file search window over trees the tests build: its type, name and
// content tests, the rows it adds, stopping, and the walk's safety against
// links, pipes, devices and the kernel's pseudo file systems. The window is
// driven through its widgets; the main window is a small stand-in that
// holds the "Found Files" list.
#include "app/tools/mainwindow.h"
#include "app/tools/searchfiles.h"
#include "rtl/clock.h"
#include "rtl/findfile.h"
#include "test_support/modal_driver.h"
#include "test_support/scripted_prompts.h"
#include "test_support/temp_dir.h"
#include "vcl/customlistview.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace {

class FoundFilesHost : public TMainWindowServices {
public:
    FoundFilesHost() : form(nullptr)
    {
        list = new TCustomListView(&form);
        list->SetParent(&form);
        list->SetViewStyle(TViewStyle::vsReport);
        for (const char* c : {"Name", "Size(Bytes)", "Type", "Modify Time"})
            list->AddColumn(c, 100);
    }
    void BuildPlaylistMenus() override {}
    void BuildFolderListMenu() override {}
    TListView& FoundFilesList() override { return *list; }
    void BeginFoundFilesSearch() override
    {
        switched = true;
        ++searches;
    }
    void EndFoundFilesSearch() override { switched = false; }
    std::string CurrentFileName() const override { return {}; }
    std::string CurrentFolderName() const override { return {}; }

    TForm form;
    TCustomListView* list;
    bool switched = false;
    int searches = 0;
};

struct Criteria {
    std::vector<std::string> keywords;
    std::vector<std::string> types;
    bool name = true;
    bool body = false;
    bool caseSensitive = false;
    bool orLogic = false;
    bool subfolders = true;
};

int OpenDescriptors()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

class SearchTest : public ::testing::Test {
protected:
    SearchTest()
    {
        if (!Application)
            new TApplication();
        scripted = std::make_unique<ScopedScriptedPrompts>(*Application);
        prompts = scripted->prompts;
        MainWindowServices = &host;
        search = new TfrmSearchFiles(nullptr);
        search->Show();
    }
    ~SearchTest() override
    {
        delete search;
        MainWindowServices = nullptr;
    }

    void Set(const Criteria& c)
    {
        for (size_t i = 0; i < 5; ++i) {
            search->sk[i]->SetText(i < c.keywords.size() ? c.keywords[i] : "");
            search->ft[i]->SetText(i < c.types.size() ? c.types[i] : "");
        }
        search->cbName->SetChecked(c.name);
        search->cbBody->SetChecked(c.body);
        search->cbCaseSensitive->SetChecked(c.caseSensitive);
        search->andor->SetItemIndex(c.orLogic ? 1 : 0);
        search->cbSub->SetChecked(c.subfolders);
    }
    // Searches the test's folder as a person does: the criteria typed, then Search.
    std::set<std::string> Find(const Criteria& c, const std::string& folder = "")
    {
        Set(c);
        search->SearchPathEdit->SetText(folder.empty() ? dir.Root() : folder);
        ClickWidget(search->Button1->Widget());
        return FoundNames();
    }
    // The rows, as paths below the test's folder.
    std::vector<std::string> Rows() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < host.list->Items().Count(); ++i) {
            const std::string& caption = host.list->Items()[i]->Caption();
            out.push_back(caption.rfind(dir.Root(), 0) == 0 ? caption.substr(dir.Root().size()) : caption);
        }
        return out;
    }
    std::set<std::string> FoundNames() const
    {
        const std::vector<std::string> rows = Rows();
        return {rows.begin(), rows.end()};
    }

    TempDir dir;
    FoundFilesHost host;
    std::unique_ptr<ScopedScriptedPrompts> scripted;
    ScriptedPrompts* prompts = nullptr;
    TfrmSearchFiles* search = nullptr;
};

using Names = std::set<std::string>;

} // namespace

TEST_F(SearchTest, TypesAreComparedWithoutTheirDotAndCase)
{
    for (const char* name : {"a.txt", "b.TXT", "c.txt.bak", "noext", "d.htm", "e."})
        dir.Write(name, "x");
    struct Case {
        std::vector<std::string> types;
        Names found;
    };
    const Case cases[] = {
        {{".txt"}, {}},
        {{"TXT"}, {"a.txt", "b.TXT"}},
        {{" txt ", "", "htm"}, {"a.txt", "b.TXT", "d.htm"}},
        {{"bak"}, {"c.txt.bak"}},
        {{}, {"a.txt", "b.TXT", "c.txt.bak", "noext", "d.htm", "e."}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Find({{}, c.types}), c.found) << (c.types.empty() ? "" : c.types[0]);
}

TEST_F(SearchTest, KeywordsInTheNameFollowTheLogicAndTheCase)
{
    for (const char* name : {"report-2021.txt", "Report-final.txt", "summary.txt", "notes.md"})
        dir.Write(name, "");
    dir.Write("report-folder/inner.txt", "");
    struct Case {
        Criteria criteria;
        Names found;
    };
    const Case cases[] = {
        {{{"report", "2021"}, {}}, {"report-2021.txt"}},
        // Empty slots take no part: keywords 1 and 3 are both needed.
        {{{"report", "", "final"}, {}}, {"Report-final.txt"}},
        {{{"2021", "", "", "", "summary"}, {}, true, false, false, true}, {"report-2021.txt", "summary.txt"}},
        {{{"REPORT"}, {}}, {"report-2021.txt", "Report-final.txt"}},
        {{{"Report"}, {}, true, false, true}, {"Report-final.txt"}},
        // The name alone counts, not its folder; types narrow it.
        {{{"inner"}, {}}, {"report-folder/inner.txt"}},
        {{{"report"}, {"md", "htm"}}, {}},
        {{{"  notes\t"}, {"md"}}, {"notes.md"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Find(c.criteria), c.found) << c.criteria.keywords[0];
}

TEST_F(SearchTest, KeywordsInTheBodyAcrossBlocksButNotAcrossZeroBytes)
{
    constexpr size_t kMiB = 1 << 20;
    // The keyword across the 1 MiB boundary, and at the very end of 2 MiB.
    dir.Write("straddle.bin", std::string(kMiB - 3, 'x') + "NEEDLE" + std::string(100, 'y'));
    dir.Write("end.bin", std::string(2 * kMiB - 6, 'x') + "needle");
    dir.Write("split.bin", std::string("NEE\0DLE", 7));
    dir.Write("short.bin", "NEEDL");
    dir.Write("empty.bin", "");
    dir.Write("mixed.txt", "a Needle here");
    // Case folds ASCII letters only: the UTF-8 bytes of "中" are no "ĸ"
    // folded from Latin-1 capitals.
    dir.Write("cjk.txt", "\xE4\xB8\xAD");
    struct Case {
        Criteria criteria;
        Names found;
    };
    const Case cases[] = {
        {{{"needle"}, {}, false, true}, {"straddle.bin", "end.bin", "mixed.txt"}},
        {{{"NEEDLE"}, {}, false, true, true}, {"straddle.bin"}},
        {{{"Needle"}, {}, false, true, true}, {"mixed.txt"}},
        {{{"\xC4\xB8"}, {}, false, true}, {}},
        {{{"\xE4\xB8\xAD"}, {}, false, true}, {"cjk.txt"}},
        {{{"a needle", "HERE"}, {}, false, true}, {"mixed.txt"}},
        {{{"here", "yyyy"}, {}, false, true, false, true}, {"straddle.bin", "mixed.txt"}},
        // A name that passes needs no body; one that fails still may.
        {{{"mixed"}, {}, true, true}, {"mixed.txt"}},
        {{{"needle"}, {"txt"}, true, true}, {"mixed.txt"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Find(c.criteria), c.found) << c.criteria.keywords[0];
}

TEST_F(SearchTest, KeywordsWithNeitherPlaceCheckedAreRefused)
{
    dir.Write("a.txt", "a");
    host.list->Items().Add()->SetCaption("earlier row");
    Find({{"a"}, {}, false, false});
    ASSERT_EQ(prompts->asked.size(), 1u);
    EXPECT_EQ(prompts->asked[0].text, "\"Find in file name\" and \"Find in file body\" must be at least one checked!");
    EXPECT_EQ(search->Button1->Caption(), "Search");
    EXPECT_EQ(host.searches, 0);
    EXPECT_EQ(Rows(), std::vector<std::string> {"earlier row"});
    // Without keywords the two boxes do not matter: every file is listed.
    EXPECT_EQ(Find({{}, {}, false, false}), Names {"a.txt"});
    EXPECT_EQ(prompts->asked.size(), 1u);
}

TEST_F(SearchTest, RowsComeDepthFirstWithSizeTypeAndTime)
{
    dir.Write("top.txt", "12345");
    dir.Write("one/a.txt", "a");
    dir.Write("one/deeper/b.txt", "bb");
    dir.Write("two/c.txt", "ccc");
    dir.Write("two/d.txt", "dddd");
    std::filesystem::last_write_time(dir.Path("top.txt"),
        std::filesystem::file_time_type::clock::now() - std::chrono::hours(30));
    host.list->Items().Add()->SetCaption("an earlier search's row");
    Find({});
    EXPECT_EQ(host.searches, 1);
    EXPECT_FALSE(host.switched);
    EXPECT_TRUE(SearchStopped);
    EXPECT_EQ(search->Button1->Caption(), "Search");
    EXPECT_EQ(search->Label1->Caption(), "Searching...End.");
    EXPECT_EQ(search->Label3->Caption(), "Total 5 files found.");

    // Depth first, in the order each folder gives its entries: a folder's
    // files come at its place, and once the walk has left a folder (none
    // here has files after a subfolder) it never comes back.
    const std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 5u);
    std::vector<std::string> folders;
    for (const std::string& r : rows) {
        const std::string folder = ExtractFilePath(r);
        if (folders.empty() || folders.back() != folder) {
            EXPECT_EQ(std::count(folders.begin(), folders.end(), folder), 0) << r;
            folders.push_back(folder);
        }
    }
    std::vector<std::string> rootOrder;
    for (const auto& e : std::filesystem::directory_iterator(dir.Root()))
        rootOrder.push_back(e.path().filename().string());
    auto firstRowOf = [&](const std::string& top) {
        return std::find_if(rows.begin(), rows.end(), [&](const std::string& r) { return r.rfind(top, 0) == 0; })
            - rows.begin();
    };
    for (size_t i = 1; i < rootOrder.size(); ++i)
        EXPECT_LT(firstRowOf(rootOrder[i - 1]), firstRowOf(rootOrder[i]));

    const TListItem* top = host.list->Items()[static_cast<int>(firstRowOf("top.txt"))];
    ASSERT_EQ(top->SubItems().Count(), 3);
    EXPECT_EQ(top->SubItems()[0], "5");
    EXPECT_FALSE(top->SubItems()[1].empty());
    struct stat st {};
    ASSERT_EQ(::stat(dir.Path("top.txt").c_str(), &st), 0);
    EXPECT_EQ(top->SubItems()[2], DateTimeToStr(UnixToLocalDateTime(st.st_mtim.tv_sec)));
    EXPECT_GE(top->ImageIndex(), 0);
    EXPECT_NE(host.list->SmallImages, nullptr);

    // Without subfolders only the folder's own files.
    EXPECT_EQ(Find({{}, {}, true, false, false, false, false}), Names {"top.txt"});
}

TEST_F(SearchTest, StopDuringADeepWalkKeepsTheRowsFound)
{
    std::string path;
    for (int depth = 0; depth < 20; ++depth) {
        path += "level" + std::to_string(depth) + "/";
        for (int i = 0; i < 30; ++i)
            dir.Write(path + "f" + std::to_string(i) + ".txt", "");
    }
    const int descriptors = OpenDescriptors();
    // A person clicks Stop once some rows are in.
    auto whenRowsAreIn = [&](QWidget* button) {
        auto* watch = new QTimer(search->Widget());
        QObject::connect(watch, &QTimer::timeout, [this, watch, button] {
            if (search->Button1->Caption() != "Stop" || host.list->Items().Count() < 40)
                return;
            watch->stop();
            EXPECT_TRUE(host.switched);
            ClickWidget(button);
        });
        watch->start(0);
    };
    whenRowsAreIn(search->Button1->Widget());
    Find({});
    const std::vector<std::string> rows = Rows();
    EXPECT_GE(rows.size(), 40u);
    EXPECT_LT(rows.size(), 600u);
    for (const std::string& r : rows)
        EXPECT_TRUE(dir.Exists(r)) << r;
    EXPECT_EQ(search->Label3->Caption(), "Total " + std::to_string(rows.size()) + " files found.");
    EXPECT_EQ(search->Button1->Caption(), "Search");
    EXPECT_TRUE(SearchStopped);
    // Every folder the walk had open is closed again.
    EXPECT_EQ(OpenDescriptors(), descriptors);

    // Closing the window stops a search the same way.
    whenRowsAreIn(search->Button4->Widget());
    Find({});
    EXPECT_LT(Rows().size(), 600u);
    EXPECT_FALSE(search->Widget()->isVisible());
}

TEST_F(SearchTest, ASearchClickedBeforeAStoppedWalkHasEndedStartsNothing)
{
    for (int i = 0; i < 200; ++i)
        dir.Write("f" + std::to_string(i) + ".txt", "a line with hay in it");
    // Stop and Search at once, as a quick double click does: both clicks
    // come to the walk's pump before the walk sees the stop.
    auto* watch = new QTimer(search->Widget());
    QObject::connect(watch, &QTimer::timeout, [this, watch] {
        if (search->Button1->Caption() != "Stop" || host.list->Items().Count() < 5)
            return;
        watch->stop();
        ClickWidget(search->Button1->Widget());
        ClickWidget(search->Button1->Widget());
    });
    watch->start(0);
    const Criteria body {{"hay"}, {}, false, true};
    EXPECT_LT(Find(body).size(), 200u);
    EXPECT_EQ(host.searches, 1);
    EXPECT_EQ(search->Button1->Caption(), "Search");
    EXPECT_TRUE(SearchStopped);
    // Once the walk has ended, Search searches again.
    EXPECT_EQ(Find(body).size(), 200u);
    EXPECT_EQ(host.searches, 2);
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

TEST_F(SearchTest, FoundRowsAreDrawnAtMostEvery50Milliseconds)
{
    ScopedManualClock time;
    for (int i = 0; i < 40; ++i)
        dir.Write("f" + std::to_string(i) + ".txt", "");
    host.form.SetBounds(0, 0, 300, 120);
    host.list->SetAlign(TAlign::alClient);
    host.form.Show();
    auto* view = qobject_cast<QAbstractScrollArea*>(host.list->ActiveView());
    ASSERT_NE(view, nullptr);
    QApplication::processEvents();
    PaintCounter counter(view->viewport());
    // Runs in every pump of the walk: the time moves on by step ms (the walk
    // pumps at most once a millisecond).
    std::uint64_t step = 1;
    int pumps = 0;
    auto* watch = new QTimer(search->Widget());
    QObject::connect(watch, &QTimer::timeout, [&] {
        if (search->Button1->Caption() == "Stop") {
            ++pumps;
            time.clock.Advance(step);
        }
    });
    watch->start(0);

    // A run of hits within 50 ms: the list is drawn when the search starts
    // (emptied, then its first row) and at its end, not once a row.
    Find({});
    ASSERT_GT(pumps, 40);
    EXPECT_LT(counter.paints, 8);
    EXPECT_TRUE(host.list->Widget()->updatesEnabled());

    // With 50 ms between entries every row is drawn as it comes.
    step = 50;
    counter.paints = 0;
    Find({});
    EXPECT_EQ(host.list->Items().Count(), 40);
    EXPECT_GT(counter.paints, 35);
    watch->stop();
}

TEST_F(SearchTest, LinkLoopsPipesAndDevicesEndCleanly)
{
    dir.Write("hay.txt", "a needle in it");
    dir.Write("sub/more.txt", "no");
    std::filesystem::create_directory_symlink(dir.Root(), dir.Path("sub/loop"));
    std::filesystem::create_directory_symlink(dir.Path("sub"), dir.Path("again"));
    ASSERT_EQ(::mkfifo(dir.Path("pipe.txt").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.Path("zero.txt"));
    std::filesystem::create_symlink(dir.Path("pipe.txt"), dir.Path("topipe.txt"));
    // Neither the pipe nor the device is read, and no link to a folder is followed.
    EXPECT_EQ(Find({{"needle"}, {}, false, true}), Names {"hay.txt"});
    EXPECT_EQ(Find({{}, {"txt"}}), (Names {"hay.txt", "sub/more.txt", "pipe.txt", "zero.txt", "topipe.txt"}));
}

TEST_F(SearchTest, TheKernelsPseudoFileSystemsAreNotWalked)
{
    Find({}, "/proc");
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(search->Label3->Caption(), "Total 0 files found.");
    Find({{"x"}, {}, false, true}, "/sys/");
    EXPECT_TRUE(Rows().empty());
}

TEST_F(SearchTest, TheFolderComesFromTheFolderDialog)
{
    prompts->PushText(dir.Path("chosen"));
    ClickWidget(search->Button3->Widget());
    ASSERT_EQ(prompts->asked.size(), 1u);
    EXPECT_EQ(prompts->asked[0].kind, "folder");
    EXPECT_EQ(prompts->asked[0].caption, "Select Path to search");
    EXPECT_EQ(search->SearchPathEdit->Text(), dir.Path("chosen") + "/");
    prompts->PushCancel();
    ClickWidget(search->Button3->Widget());
    EXPECT_EQ(search->SearchPathEdit->Text(), dir.Path("chosen") + "/");
}
