// The search window and the renamer with the real main window: the menu
// items and the tool button that open them, "Found Files" filling while the
// main window stays usable, previewing a found file, and closing the main
// window in the middle of a search.
#include "app_fixture.h"

#include "app/tools/renamer.h"
#include "app/tools/searchfiles.h"
#include "test_support/modal_driver.h"

#include <QTimer>

#include <cstdlib>

namespace {

class SearchWindowTest : public AppTest {
protected:
    ~SearchWindowTest() override
    {
        delete search;
        ExpectNoPendingModalSteps();
    }
    TForm1& ShowWithSearch()
    {
        WriteDefaults();
        TForm1& f = ShowMainWindow();
        search = new TfrmSearchFiles(nullptr);
        return f;
    }
    // A tree big enough that a search over it pumps the message queue many times.
    void WriteTree(int folders, int files)
    {
        for (int d = 0; d < folders; ++d)
            for (int i = 0; i < files; ++i)
                dir.Write("tree/d" + std::to_string(d) + "/f" + std::to_string(i) + ".txt", "text");
    }
    // Runs step from the message loop once the search has rows in "Found Files".
    void WhenRowsAreIn(int rows, std::function<void()> step)
    {
        auto* watch = new QTimer(search->Widget());
        QObject::connect(watch, &QTimer::timeout, [this, watch, rows, step = std::move(step)] {
            if (search->Button1->Caption() != "Stop" || form->slist->Items().Count() < rows)
                return;
            watch->stop();
            step();
        });
        watch->start(0);
    }
    void StartSearch(const std::string& folder)
    {
        search->SearchPathEdit->SetText(folder);
        ClickWidget(search->Button1->Widget());
    }
    TfrmSearchFiles* search = nullptr;
};

} // namespace

TEST_F(SearchWindowTest, TheMenuAndTheToolButtonShowTheSearchWindow)
{
    TForm1& f = ShowWithSearch();
    EXPECT_TRUE(f.Searchfiles1->Enabled());
    EXPECT_TRUE(f.searchfiles->Enabled());
    EXPECT_TRUE(f.FileNamemanager1->Enabled());
    f.Searchfiles1->Click();
    EXPECT_TRUE(search->Widget()->isVisible());
    EXPECT_FALSE(search->Modal());
    search->Close();
    EXPECT_FALSE(search->Widget()->isVisible());
    f.searchfiles->Click();
    EXPECT_TRUE(search->Widget()->isVisible());
    // Shown beside the main window, which keeps taking input.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(SearchWindowTest, FoundFilesFillAndAFolderChosenMeanwhileBringsBackDiskFiles)
{
    TForm1& f = ShowWithSearch();
    WriteTree(10, 20);
    f.Searchfiles1->Click();
    bool sawFoundFiles = false;
    WhenRowsAreIn(5, [&] {
        sawFoundFiles = f.PageControl1->ActivePage() == f.TabSheet2 && f.SearchSwitchedTab;
        // The user picks a folder in the tree while the search goes on.
        f.SelectStartFolder(dir.Path("tree/d3"));
        EXPECT_EQ(f.PageControl1->ActivePage(), f.TabSheet1);
        EXPECT_FALSE(f.SearchSwitchedTab);
    });
    StartSearch(dir.Path("tree"));
    EXPECT_TRUE(sawFoundFiles);
    EXPECT_EQ(f.slist->Items().Count(), 200);
    EXPECT_EQ(search->Label3->Caption(), "Total 200 files found.");
    EXPECT_EQ(f.PageControl1->ActivePage(), f.TabSheet1);
    EXPECT_FALSE(f.SearchSwitchedTab);

    // Without a folder change the search leaves "Found Files" in front.
    StartSearch(dir.Path("tree/d1"));
    EXPECT_EQ(f.PageControl1->ActivePage(), f.TabSheet2);
    EXPECT_FALSE(f.SearchSwitchedTab);
    EXPECT_EQ(f.slist->Items().Count(), 20);
}

TEST_F(SearchWindowTest, AFoundFilePreviewsWhenClicked)
{
    TForm1& f = ShowWithSearch();
    dir.Write("tree/one.txt", "first file");
    dir.Write("tree/sub/two.txt", "second file");
    f.Searchfiles1->Click();
    search->sk[0]->SetText("second");
    search->cbBody->SetChecked(true);
    StartSearch(dir.Path("tree"));
    ASSERT_EQ(f.slist->Items().Count(), 1);
    EXPECT_EQ(f.slist->Items()[0]->Caption(), dir.Path("tree/sub/two.txt"));
    ClickRow(f.slist->ActiveView(), 0);
    EXPECT_EQ(f.CurrentFile, dir.Path("tree/sub/two.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    EXPECT_EQ(f.richedit->Text(), "second file");
}

TEST_F(SearchWindowTest, TheFileNameManagerIsModalAndFreedAfterwards)
{
    TForm1& f = ShowWithSearch();
    std::string caption;
    WhenModal([&](QWidget* w) {
        caption = w->windowTitle().toStdString();
        PressCloseBox(w);
    });
    const int components = f.ComponentCount();
    f.FileNamemanager1->Click();
    EXPECT_EQ(caption, "FileName Manager");
    EXPECT_EQ(f.ComponentCount(), components);
}

TEST_F(SearchWindowTest, TheFileNameManagerOpensInTheShownFolderAndEscapeClosesIt)
{
    dir.Write("files/a.txt", "a");
    TForm1& f = ShowWithSearch();
    f.SelectStartFolder(dir.Path("files"));
    bool seen = false;
    WhenModal([&](QWidget* w) {
        TfrmRenamer* renamer = nullptr;
        for (int i = 0; i < f.ComponentCount(); ++i)
            if (auto* r = dynamic_cast<TfrmRenamer*>(f.Component(i)); r && r->Widget() == w)
                renamer = r;
        ASSERT_NE(renamer, nullptr);
        seen = true;
        EXPECT_EQ(IncludeTrailingPathDelimiter(renamer->DirectoryListBox1->Directory()), dir.Path("files/"));
        ASSERT_EQ(renamer->FileListBox1->Count(), 1);
        EXPECT_EQ(renamer->FileListBox1->Item(0), "a.txt");
        // The step box that no operation reads shows nothing.
        auto* step = dynamic_cast<TEdit*>(renamer->FindComponent("Edit2"));
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->Text(), "");
        // Escape from the file list, which has the keys.
        renamer->FileListBox1->SetFocus();
        PressKey(w, Qt::Key_Escape);
    });
    f.FileNamemanager1->Click();
    EXPECT_TRUE(seen);
}

TEST_F(SearchWindowTest, EscapeClosesTheSearchWindowFromWhereverTheKeysAre)
{
    ShowWithSearch();
    for (TWinControl* focus : std::vector<TWinControl*> {search->sk[0], search->SearchPathEdit, search->Button1}) {
        SCOPED_TRACE(focus->Name());
        search->Show();
        search->Widget()->activateWindow();
        focus->SetFocus();
        ASSERT_TRUE(search->Widget()->isVisible());
        PressKey(search->Widget(), Qt::Key_Escape);
        EXPECT_FALSE(search->Widget()->isVisible());
    }
}

TEST_F(SearchWindowTest, ClosingTheMainWindowStopsTheSearchFirst)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TForm1& f = ShowWithSearch();
            Application->SetMainForm(&f);
            WriteTree(40, 50);
            f.Searchfiles1->Click();
            WhenRowsAreIn(10, [&f] { f.Close(); });
            QTimer::singleShot(0, [this] { StartSearch(dir.Path("tree")); });
            // A program that does not end is stopped here.
            QTimer::singleShot(20000, [] { std::_Exit(4); });
            Application->Run();
            // The walk ended at its next entry, and the window is idle again.
            if (!SearchStopped || search->Button1->Caption() != "Search")
                std::_Exit(5);
            const int rows = f.slist->Items().Count();
            if (rows < 10 || rows >= 2000)
                std::_Exit(6);
            if (search->Label3->Caption() != "Total " + std::to_string(rows) + " files found.")
                std::_Exit(7);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
