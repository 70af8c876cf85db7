#include "app_fixture.h"

#include "app/winmain.h"

#include <unistd.h>

TEST_F(AppTest, FreshProgramFolderStartsWithTheDefaults)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    EXPECT_EQ(f.BaseCaption, "Vistrel 1.0");
    EXPECT_EQ(f.LayoutIndex(), 2);
    EXPECT_EQ(f.ListStyle(), 1);
    EXPECT_TRUE(f.ShowGrid);
    EXPECT_TRUE(f.SaveRecent);
    ASSERT_EQ(f.filter->Count(), 3);
    EXPECT_EQ(f.filter->Item(1), "Text(*.txt)");
    EXPECT_EQ(f.filter->ItemIndex(), 0);
    EXPECT_EQ(f.FileFilterMask(), "*.*");
    // Panel 6 counts what the file list shows of the selected folder.
    EXPECT_EQ(f.StatusBar1->Panel(6).Text, IntToStr(f.list->Items().Count()) + "Files");
    EXPECT_TRUE(f.list->GridLines());
    EXPECT_TRUE(f.ShowFileListsGrids1->Checked());
    EXPECT_TRUE(prompts->asked.empty()) << "a fresh start asks nothing";
}

TEST_F(AppTest, MissingSettingsFilesReadAsEmptyAndStartUpFinishes)
{
    // No file at all: every list is empty and the splash window still goes.
    form = new TForm1(nullptr);
    auto* splash = new TForm(nullptr);
    splash->Show();
    form->Splash = splash;
    form->Show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->Splash, nullptr);
    EXPECT_EQ(form->filter->Count(), 0);
    EXPECT_EQ(form->LayoutIndex(), 2);
    EXPECT_EQ(form->PlayAPlaylist1->Count(), 0);
    EXPECT_EQ(form->Folders1->Count(), 3);
    EXPECT_EQ(form->File1->Count(), 8);
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(AppTest, GarbledValuesGiveDefaultsAndOutOfRangeFilterIsClamped)
{
    WriteDefaults();
    dir.Write("ini/config.ini", "[IniParas]\r\nLayout=two\r\nViewMode=3\r\nFilter=9\r\nShowgrid=x\r\nSaverecent=0\r\n");
    dir.Write("ini/filefilter.txt", "*.*\r\nAll files\r\n*.txt\r\nText\r\n*.dangling\r\n");
    TForm1& f = ShowMainWindow();
    EXPECT_EQ(f.LayoutIndex(), 2);
    EXPECT_EQ(f.ListStyle(), 4);
    EXPECT_EQ(f.list->ViewStyle(), TViewStyle::vsSmallIcon);
    EXPECT_TRUE(f.ShowGrid);
    EXPECT_FALSE(f.SaveRecent);
    ASSERT_EQ(f.filter->Count(), 2) << "the unpaired fifth line makes no item";
    EXPECT_EQ(f.filter->ItemIndex(), 1);
    EXPECT_EQ(f.FileFilterMask(), "*.txt");
    EXPECT_FALSE(f.RecentFiles);
    EXPECT_EQ(f.File1->Count(), 8);
}

TEST_F(AppTest, ListStylesAndTheirMenuChecks)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    struct Case {
        int style;
        TViewStyle view;
        TMenuItem* popup;
        TMenuItem* menu;
    };
    const Case cases[] = {
        {1, TViewStyle::vsReport, f.menuPP[0], f.menuVV1},
        {2, TViewStyle::vsList, f.menuPP[1], f.menuVV2},
        {3, TViewStyle::vsIcon, f.menuPP[2], f.menuVV3},
        {4, TViewStyle::vsSmallIcon, f.menuPP[3], f.menuVV4},
    };
    for (const Case& c : cases) {
        f.SetListStyle(c.style);
        for (TListView* v : std::initializer_list<TListView*> {f.list, f.slist, f.selectedlist})
            EXPECT_EQ(v->ViewStyle(), c.view) << c.style;
        EXPECT_TRUE(c.popup->Checked()) << c.style;
        EXPECT_TRUE(c.menu->Checked()) << c.style;
    }
    // The button cycles 4 -> 1.
    f.bviewtype->Click();
    EXPECT_EQ(f.ListStyle(), 1);
    // Other values are only stored; the button continues from them.
    f.SetListStyle(7);
    EXPECT_EQ(f.list->ViewStyle(), TViewStyle::vsReport);
    f.bviewtype->Click();
    EXPECT_EQ(f.ListStyle(), 4);
}

TEST_F(AppTest, LayoutsArrangeThePanels)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    struct Case {
        int layout;
        bool left, tree, rightTop, split1, split2, split3;
        TWinControl* rightTopParent;
        TAlign rightTopAlign;
    };
    const Case cases[] = {
        {1, true, true, true, true, true, false, f.PanelLeft, alClient},
        {2, true, true, true, true, false, true, f.PanelRight, alTop},
        {3, true, false, true, true, false, false, f.PanelLeft, alClient},
        {4, false, false, true, false, false, true, f.PanelRight, alTop},
        {5, false, false, false, false, false, false, f.PanelRight, alTop},
        {6, true, true, true, true, false, true, f.PanelRight, alLeft},
    };
    for (const Case& c : cases) {
        f.SetLayout(c.layout);
        SCOPED_TRACE(c.layout);
        EXPECT_EQ(f.PanelLeft->Visible(), c.left);
        if (c.left) {
            EXPECT_EQ(f.tree->Visible(), c.tree);
        }
        EXPECT_EQ(f.PanelRightTop->Visible(), c.rightTop);
        EXPECT_EQ(f.Splitter1->Visible(), c.split1);
        EXPECT_EQ(f.Splitter2->Visible(), c.split2);
        EXPECT_EQ(f.Splitter3->Visible(), c.split3);
        if (c.rightTop) {
            EXPECT_EQ(f.PanelRightTop->Parent(), c.rightTopParent);
            EXPECT_EQ(f.PanelRightTop->Align(), c.rightTopAlign);
        }
        EXPECT_TRUE(f.menuL[c.layout - 1]->Checked());
        EXPECT_TRUE(f.menuV[c.layout - 1]->Checked());
    }
    // Layout 1: the tree above the file lists on the left, 200 high.
    f.SetLayout(1);
    EXPECT_EQ(f.tree->Height(), 200);
    EXPECT_EQ(f.tree->Top(), 0);
    EXPECT_GE(f.PanelRightTop->Top(), 200);
    // Layout 6: lists in the middle, 228 wide, the splitter at their right.
    f.SetLayout(6);
    EXPECT_EQ(f.PanelRightTop->Width(), 228);
    EXPECT_EQ(f.Splitter3->Left(), f.PanelRightTop->Left() + 228);
    // An out-of-range layout changes nothing visible; the button goes on from it.
    f.SetLayout(9);
    EXPECT_EQ(f.PanelRightTop->Width(), 228);
    f.layout->Click();
    EXPECT_EQ(f.LayoutIndex(), 4);
}

TEST_F(AppTest, EveryLayoutEnteredFromEveryOtherShowsThePreviewAtAUsableSize)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    QWidget* window = f.Widget();
    auto onWindow = [window](TControl* c) {
        return QRect(c->Widget()->mapTo(window, QPoint(0, 0)), c->Widget()->size());
    };
    for (int from = 1; from <= 6; ++from) {
        for (int to = 1; to <= 6; ++to) {
            if (from == to)
                continue;
            f.SetLayout(from);
            f.SetLayout(to);
            QCoreApplication::processEvents();
            SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to));
            ASSERT_TRUE(f.pcontent->Showing());
            const QRect content = onWindow(f.pcontent);
            // At least a third of the window's width and half its height.
            EXPECT_GE(content.width(), window->width() / 3);
            EXPECT_GE(content.height(), window->height() / 2);
            // Splitters are thin bars beside the panels, never over the preview.
            for (TSplitter* s : {f.Splitter1, f.Splitter2, f.Splitter3}) {
                if (!s->Showing())
                    continue;
                EXPECT_LE(std::min(s->Width(), s->Height()), 8) << s->Name();
                EXPECT_FALSE(onWindow(s).intersects(content)) << s->Name();
            }
        }
    }
}

TEST_F(AppTest, RecentListKeepsSixNewestFirstAndBuildsTheFileMenu)
{
    WriteDefaults();
    dir.Write("ini/recent.txt", "/a\r\n/b\r\n/c\r\n/d\r\n/e\r\n/f\r\n/g\r\n/h\r\n");
    TForm1& f = ShowMainWindow();
    ASSERT_EQ(f.RecentFiles->Count(), 6) << "a longer file keeps six entries";
    EXPECT_EQ(f.File1->Count(), 8 + 6 + 1);
    EXPECT_EQ(f.File1->Items(7)->Caption(), "&1:/a");
    EXPECT_EQ(f.File1->Items(12)->Caption(), "&6:/f");
    EXPECT_TRUE(f.File1->Items(13)->IsLine());
    EXPECT_EQ(f.File1->Items(14)->Caption(), "E&xit");

    f.AddRecentFile("/c");
    f.AddRecentFile("/new");
    f.BuildHistoryMenu();
    EXPECT_EQ(f.RecentFiles->Items(), (std::vector<std::string> {"/new", "/c", "/a", "/b", "/d", "/e"}));
    EXPECT_EQ(f.File1->Items(7)->Caption(), "&1:/new");

    // Clicking a history item opens exactly that path and selects filter 0.
    const std::string file = dir.Path("x y.txt");
    dir.Write("x y.txt", "1234");
    f.AddRecentFile(file);
    f.BuildHistoryMenu();
    f.SelectFilter(2);
    f.File1->Items(7)->Click();
    EXPECT_EQ(f.CurrentFile, file);
    EXPECT_EQ(f.filter->ItemIndex(), 0);
    EXPECT_EQ(f.StatusBar1->Panel(1).Text, "4Bytes");
    EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + file);

    TCloseAction action = caHide;
    f.FormClose(&f, action);
    EXPECT_EQ(dir.Read("ini/recent.txt").substr(0, file.size() + 2), file + "\r\n");
}

TEST_F(AppTest, RecentListIsNeitherReadNorWrittenWhenDisabled)
{
    WriteDefaults();
    dir.Write("ini/config.ini", "[IniParas]\r\nSaverecent=0\r\n");
    dir.Write("ini/recent.txt", "/kept\r\n");
    TForm1& f = ShowMainWindow();
    EXPECT_EQ(f.File1->Count(), 8);
    f.OpenFilePath("/somewhere");
    TCloseAction action = caHide;
    f.FormClose(&f, action);
    EXPECT_EQ(dir.Read("ini/recent.txt"), "/kept\r\n");
}

TEST_F(AppTest, StatusPanelHelpers)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    for (int i = 0; i < 8; ++i)
        f.SetStatusPanel(i, "p" + std::to_string(i));
    f.ShowStatusMessage("Failed");
    EXPECT_EQ(f.StatusBar1->Panel(0).Text, "Failed");
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(f.StatusBar1->Panel(i).Text, "");
    EXPECT_EQ(f.StatusBar1->Panel(6).Text, "p6");
    EXPECT_EQ(f.StatusBar1->Panel(7).Text, "p7");
    dir.Write("f.bin", std::string(1234, 'x'));
    f.ShowFileInfo(dir.Path("f.bin"));
    EXPECT_EQ(f.StatusBar1->Panel(1).Text, "1234Bytes");
    EXPECT_EQ(f.Caption(), f.BaseCaption + " - " + dir.Path("f.bin"));
    EXPECT_GT(f.StatusBar1->Panel(0).Width, 20);
    // A vanished file shows size 0 and the zero date-time.
    f.ShowFileInfo(dir.Path("gone"));
    EXPECT_EQ(f.StatusBar1->Panel(1).Text, "0Bytes");
}

TEST(CommandLine, FileAfterTheExecutablesName)
{
    struct Case {
        const char* raw;
        const char* file;
    };
    const Case cases[] = {
        {"vistrel /home/u/a.txt", "/home/u/a.txt"},
        {"\"vistrel\" \"/home/u/my file.txt\"", "/home/u/my file.txt"},
        {"VISTREL /x/Y.TXT", "/x/Y.TXT"},
        {"vistrel", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileFromCommandLine(c.raw, "vistrel"), c.file) << c.raw;
    EXPECT_EQ(RawCommandLine("vistrel", {"/a b/c.txt"}), "vistrel \"/a b/c.txt\"");
    EXPECT_EQ(FileFromCommandLine(RawCommandLine("vistrel", {"/a b/c.txt"}), "vistrel"), "/a b/c.txt");
}

TEST(CommandLine, PathsAreMadeFullAgainstTheCallersFolder)
{
    TempDir here;
    const std::string before = GetCurrentDir();
    ASSERT_EQ(::chdir(here.Root().c_str()), 0);
    const std::string folder = GetCurrentDir();
    struct Case {
        std::vector<std::string> args;
        std::string path;
    };
    const Case cases[] = {
        {{"notes.txt"}, folder + "/notes.txt"},
        {{"./sub/../notes.txt"}, folder + "/notes.txt"},
        {{"my notes.txt"}, folder + "/my notes.txt"},
        {{"sub/"}, folder + "/sub/"},
        {{"."}, folder + "/"},
        {{"/etc/./hosts"}, "/etc/hosts"},
        {{"//tmp//x"}, "/tmp/x"},
        {{"/.."}, "/"},
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CommandLinePath("vistrel", c.args), c.path) << (c.args.empty() ? "" : c.args[0]);
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

TEST_F(AppTest, AFolderOnTheCommandLineOpensWithNoFileChosen)
{
    WriteDefaults();
    dir.Write("docs/a.txt", "first");
    form = new TForm1(nullptr);
    form->HasCommandLineFile = true;
    form->CommandLineFile = dir.Path("docs") + "/";
    form->Show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->TreeSelectedPath(), dir.Path("docs"));
    EXPECT_EQ(form->list->Items().Count(), 1);
    EXPECT_TRUE(form->CurrentFile.empty());
    EXPECT_EQ(form->StatusBar1->Panel(0).Text, "");
    EXPECT_EQ(form->RecentFiles->Count(), 0);
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(AppTest, CommandLineFileOpensAndFilterReturnsToTheFirst)
{
    WriteDefaults();
    dir.Write("ini/config.ini", "[IniParas]\r\nFilter=2\r\n");
    dir.Write("doc one.txt", "hello");
    form = new TForm1(nullptr);
    form->HasCommandLineFile = true;
    form->CommandLineFile = dir.Path("doc one.txt");
    form->Show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->CurrentFile, dir.Path("doc one.txt"));
    EXPECT_EQ(form->filter->ItemIndex(), 0);
    EXPECT_EQ(form->RecentFiles->Count(), 1);
}

TEST_F(AppTest, OpenedFileIsTheSelectedRowAndNextStepsOnFromIt)
{
    WriteDefaults();
    dir.Write("a.txt", "first");
    dir.Write("b.txt", "second");
    dir.Write("c.txt", "third");
    TForm1& f = ShowMainWindow();
    f.OpenFilePath(dir.Path("b.txt"));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.CurrentFile, dir.Path("b.txt"));
    EXPECT_EQ(f.DiskListSelectedPath(), dir.Path("b.txt"));
    f.bnextClick(&f);
    EXPECT_EQ(f.CurrentFile, dir.Path("c.txt"));
    // A path the folder does not list is still shown, with no row selected.
    f.OpenFilePath(dir.Path("b.txt") + "-gone");
    EXPECT_EQ(f.CurrentFile, dir.Path("b.txt") + "-gone");
}
