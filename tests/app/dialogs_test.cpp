#include "app_fixture.h"

#include "app/tools/playlistmanager.h"
#include "app/tools/programfiles.h"
#include "players_fixture.h"

#include "rtl/inifiles.h"

#include <QIcon>
#include <QMetaObject>
#include <QRadioButton>
#include <QWidget>

namespace {
// Runs a step inside the modal loop the next dialog opens.
void WhenModal(std::function<void()> step)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(step), Qt::QueuedConnection);
}
}

TEST_F(AppTest, OptionsDialogShowsTheFilesAndSaveAllWritesThem)
{
    WriteDefaults();
    dir.Write("ini/config.ini", "[IniParas]\r\nIniDir=/home/u/\r\nLayout=3\r\nViewMode=2\r\nFilter=1\r\nShowgrid=0\r\nSaverecent=1\r\nOther=kept\r\n");
    TForm3 dialog(nullptr);
    TfrmAddFilter add(nullptr);
    dialog.FormShow(&dialog);
    dialog.FormShow(&dialog);
    EXPECT_EQ(dialog.Edit1->Text(), "/home/u/");
    EXPECT_FALSE(dialog.showgrid_checkbox->Checked());
    EXPECT_TRUE(dialog.saverecent_checkbox->Checked());
    EXPECT_EQ(dialog.layout->ItemIndex(), 3);
    EXPECT_EQ(dialog.viewmode->ItemIndex(), 2);
    ASSERT_EQ(dialog.filter->Count(), 3) << "showing twice lists each filter once";
    ASSERT_EQ(dialog.ListView1->Items().Count(), 3);
    EXPECT_EQ(dialog.filter->ItemIndex(), 1);
    EXPECT_EQ(dialog.ListView1->Items()[2]->Caption(), "Archives");
    EXPECT_EQ(dialog.ListView1->Items()[2]->SubItems()[0], "*.zip;*.jar");

    // Add a filter, move the archives up, delete the first row.
    add.Edit1->SetText("Images");
    add.Edit2->SetText("*.png");
    add.Button1Click(&add);
    dialog.ListView1->Items()[2]->SetSelected(true);
    dialog.Button6Click(&dialog);
    dialog.ListView1->Items()[0]->SetSelected(true);
    dialog.Button5Click(&dialog);
    dialog.showgrid_checkbox->SetChecked(true);
    dialog.saverecent_checkbox->SetChecked(false);
    dialog.layout->SetItemIndex(5);
    dialog.Button2Click(&dialog);

    EXPECT_EQ(dir.Read("ini/filefilter.txt"), "*.zip;*.jar\r\nArchives\r\n*.txt\r\nText\r\n*.png\r\nImages\r\n");
    TIniFile ini(dir.Path("ini/config.ini"));
    EXPECT_EQ(ini.ReadString("IniParas", "IniDir", ""), "/home/u/");
    EXPECT_EQ(ini.ReadInteger("IniParas", "Showgrid", -1), 1);
    EXPECT_EQ(ini.ReadInteger("IniParas", "Saverecent", -1), 0);
    EXPECT_EQ(ini.ReadInteger("IniParas", "Layout", -1), 5);
    EXPECT_EQ(ini.ReadInteger("IniParas", "ViewMode", -1), 2);
    EXPECT_EQ(ini.ReadInteger("IniParas", "Filter", -1), 1);
    EXPECT_EQ(ini.ReadString("IniParas", "Other", ""), "kept");
}

TEST_F(AppTest, OptionsDialogNeverSavesAFilterIndexOfMinusOne)
{
    WriteDefaults();
    dir.Write("ini/config.ini", "[IniParas]\r\nFilter=7\r\n");
    TForm3 dialog(nullptr);
    dialog.FormShow(&dialog);
    EXPECT_EQ(dialog.filter->ItemIndex(), -1);
    dialog.Button2Click(&dialog);
    EXPECT_EQ(TIniFile(dir.Path("ini/config.ini")).ReadInteger("IniParas", "Filter", -1), 0);
}

TEST_F(AppTest, UnsavedFilterRowsAreGoneAtTheNextShowing)
{
    WriteDefaults();
    TForm3 dialog(nullptr);
    TfrmAddFilter add(nullptr);
    dialog.FormShow(&dialog);
    add.Button1Click(&add);
    EXPECT_EQ(dialog.ListView1->Items().Count(), 4);
    dialog.FormShow(&dialog);
    EXPECT_EQ(dialog.ListView1->Items().Count(), 3);
}

TEST_F(AppTest, DefaultPathButtonAddsTheTrailingDelimiter)
{
    TForm3 dialog(nullptr);
    prompts->PushText("/data");
    dialog.Button1Click(&dialog);
    EXPECT_EQ(dialog.Edit1->Text(), "/data/");
    prompts->PushText("/");
    dialog.Button1Click(&dialog);
    EXPECT_EQ(dialog.Edit1->Text(), "/");
    EXPECT_EQ(prompts->asked[0].caption, "Please select directory");
}

TEST_F(AppTest, SavedOptionsTakeEffectAtTheNextStart)
{
    WriteDefaults();
    {
        TForm3 dialog(nullptr);
        dialog.FormShow(&dialog);
        dialog.layout->SetItemIndex(4);
        dialog.viewmode->SetItemIndex(1);
        dialog.Button2Click(&dialog);
    }
    TForm1& f = ShowMainWindow();
    EXPECT_EQ(f.LayoutIndex(), 5);
    EXPECT_EQ(f.list->ViewStyle(), TViewStyle::vsList);
    EXPECT_FALSE(f.PanelLeft->Visible());
}

TEST_F(AppTest, PlaylistsAreCreatedRenamedAndRemoved)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    TForm4 manager(nullptr);
    manager.FormShow(&manager);

    prompts->PushText("Jazz");
    manager.Button1Click(&manager);
    prompts->PushText("Rock");
    manager.Button1Click(&manager);
    prompts->PushText("Pop");
    manager.Button1Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt"), "Jazz\r\n1\r\nRock\r\n2\r\nPop\r\n3\r\n");
    EXPECT_TRUE(dir.Exists("mlist/m3.txt"));
    ASSERT_EQ(manager.ListView1->Items().Count(), 3);
    EXPECT_EQ(manager.ListView1->Items()[0]->Caption(), "1:Jazz");
    EXPECT_EQ(MenuCaptions(f.PlayAPlaylist1), (std::vector<std::string> {"Jazz", "Rock", "Pop"}));
    EXPECT_EQ(f.PopupPlaylist->Items()->Count(), 3);

    // Removing one in the middle leaves a gap in the numbers.
    manager.ListView1->Items()[1]->SetSelected(true);
    manager.ListView1SelectItem(manager.ListView1, manager.ListView1->Items()[1], true);
    EXPECT_EQ(manager.CurrentListFileName, TForm4::GetListFileName(2));
    manager.Button2Click(&manager);
    EXPECT_FALSE(dir.Exists("mlist/m2.txt"));
    prompts->PushText("Blues");
    manager.Button1Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt"), "Jazz\r\n1\r\nPop\r\n3\r\nBlues\r\n4\r\n");

    // Renaming: an empty name changes nothing and rebuilds nothing.
    manager.ListView1->Items()[0]->SetSelected(true);
    prompts->PushText("");
    manager.Button7Click(&manager);
    prompts->PushText("Cool Jazz");
    manager.Button7Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt").substr(0, 11), "Cool Jazz\r\n");
    EXPECT_EQ(f.PlayAPlaylist1->Items(0)->Caption(), "Cool Jazz");
}

TEST_F(AppTest, CreatingAPlaylistWorksOnAnEmptyOrDamagedIndexAndCancelAddsNothing)
{
    WriteDefaults();
    TForm4 manager(nullptr);
    manager.FormShow(&manager);
    prompts->PushCancel();
    manager.Button1Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt"), "");
    prompts->PushText("First");
    manager.Button1Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt"), "First\r\n1\r\n");

    dir.Write("mlist/lindex.txt", "A\r\n4\r\nB\r\nbroken\r\nC");
    prompts->PushText("D");
    manager.Button1Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt"), "A\r\n4\r\nB\r\nbroken\r\nD\r\n5\r\n");
}

TEST_F(AppTest, PlaylistFilesAreAddedRemovedAndImportedFromM3u)
{
    WriteDefaults();
    dir.Write("mlist/lindex.txt", "Jazz\r\n1\r\n");
    dir.Write("mlist/m1.txt", "/music/a.mp3\r\n");
    TForm4 manager(nullptr);
    manager.FormShow(&manager);
    EXPECT_FALSE(manager.addfile->Enabled());
    manager.ListView1->Items()[0]->SetSelected(true);
    manager.ListView1SelectItem(manager.ListView1, manager.ListView1->Items()[0], true);
    EXPECT_TRUE(manager.addfile->Enabled());
    ASSERT_EQ(manager.ListView2->Items().Count(), 1);

    prompts->PushFiles({"/music/b.mp3", "/music/c.wav"});
    manager.addfileClick(&manager);
    EXPECT_EQ(dir.Read("mlist/m1.txt"), "/music/a.mp3\r\n/music/b.mp3\r\n/music/c.wav\r\n");

    manager.ListView2->Items()[1]->SetSelected(true);
    manager.removefileClick(&manager);
    EXPECT_EQ(dir.Read("mlist/m1.txt"), "/music/a.mp3\r\n/music/c.wav\r\n");

    dir.Write("list.m3u", "#EXTM3U\n#EXTINF:1,One\n/m/one.mp3\n#EXTINF:2,Two\n/m/two.mp3\n");
    prompts->PushFiles({dir.Path("list.m3u")});
    manager.importClick(&manager);
    EXPECT_EQ(dir.Read("mlist/m1.txt"), "/music/a.mp3\r\n/music/c.wav\r\n/m/one.mp3\r\n/m/two.mp3\r\n");
    dir.Write("two.m3u", "#EXTM3U\n#EXTINF:1,One\n");
    prompts->PushFiles({dir.Path("two.m3u")});
    manager.importClick(&manager);
    EXPECT_EQ(manager.ListView2->Items().Count(), 4);
}

TEST_F(AppTest, ImportingAnM3uTakesEveryPathLineBesideThePlaylist)
{
    WriteDefaults();
    dir.Write("mlist/lindex.txt", "Jazz\r\n1\r\n");
    dir.Write("mlist/m1.txt", "");
    const std::string lists = dir.Path("lists/");
    struct Case {
        const char* name;
        std::string m3u;
        std::string added;
    } cases[] = {
        {"plain paths, one a line", "/m/one.mp3\n/m/two.mp3\n/m/three.mp3\n/m/four.mp3\n/m/five.mp3\n",
            "/m/one.mp3\r\n/m/two.mp3\r\n/m/three.mp3\r\n/m/four.mp3\r\n/m/five.mp3\r\n"},
        {"extended, with a tag before each path", "#EXTM3U\r\n#EXTINF:1,One\r\n/m/one.mp3\r\n#EXTINF:2,Two\r\n/m/two.mp3\r\n",
            "/m/one.mp3\r\n/m/two.mp3\r\n"},
        {"extended, tags missing or doubled", "#EXTM3U\n/m/one.mp3\n#EXTINF:2,Two\n#EXTALB:Album\n/m/two.mp3\n",
            "/m/one.mp3\r\n/m/two.mp3\r\n"},
        {"blank lines, spaces and comments", "\n  /m/one.mp3  \n\n# a comment\n\t\n/m/two.mp3",
            "/m/one.mp3\r\n/m/two.mp3\r\n"},
        {"relative paths are beside the playlist", "one.mp3\nsub/two.mp3\n../three.mp3\n",
            lists + "one.mp3\r\n" + lists + "sub/two.mp3\r\n" + lists + "../three.mp3\r\n"},
        {"a byte-order mark", "\xEF\xBB\xBFone.mp3\n", lists + "one.mp3\r\n"},
        {"file addresses and streams", "file:///m/a%20b.mp3\nfile://localhost/m/c.mp3\nfile://host/m/d.mp3\nhttp://radio/x\n",
            "/m/a b.mp3\r\n/m/c.mp3\r\nhttp://radio/x\r\n"},
        {"only tags", "#EXTM3U\n#EXTINF:1,One\n", ""},
        {"a single path", "/m/one.mp3", "/m/one.mp3\r\n"},
        {"empty", "", ""},
    };
    TForm4 manager(nullptr);
    manager.FormShow(&manager);
    manager.ListView1->Items()[0]->SetSelected(true);
    manager.ListView1SelectItem(manager.ListView1, manager.ListView1->Items()[0], true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("mlist/m1.txt", "/kept.mp3\r\n");
        dir.Write("lists/list.m3u", c.m3u);
        prompts->PushFiles({dir.Path("lists/list.m3u")});
        manager.importClick(&manager);
        EXPECT_EQ(dir.Read("mlist/m1.txt"), "/kept.mp3\r\n" + c.added);
        EXPECT_EQ(manager.ListView2->Items().Count(), 1 + static_cast<int>(std::count(c.added.begin(), c.added.end(), '\n')));
    }
}

TEST_F(AppTest, MusicFileDialogsOpenInTheFolderTheMainWindowShows)
{
    WriteDefaults();
    dir.Write("mlist/lindex.txt", "Jazz\r\n1\r\n");
    dir.Write("music/a.mp3", "");
    TForm1& f = ShowMainWindow();
    f.SelectStartFolder(dir.Path("music"));
    TForm4 manager(nullptr);
    manager.FormShow(&manager);
    manager.ListView1->Items()[0]->SetSelected(true);
    manager.ListView1SelectItem(manager.ListView1, manager.ListView1->Items()[0], true);
    prompts->PushCancel();
    manager.addfileClick(&manager);
    prompts->PushCancel();
    manager.importClick(&manager);
    ASSERT_EQ(prompts->asked.size(), 2u);
    for (const auto& asked : prompts->asked) {
        SCOPED_TRACE(asked.text);
        EXPECT_EQ(asked.kind, "open");
        EXPECT_EQ(IncludeTrailingPathDelimiter(asked.folder), dir.Path("music/"));
    }
}

TEST_F(AppTest, FavouriteFoldersAreAddedModifiedAndRemoved)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    TForm5 editor(nullptr);
    editor.FormShow(&editor);

    Form6->Edit1->SetText("Temp");
    Form6->Edit2->SetText(dir.Root());
    Form6->Editor = &editor;
    Form6->Button2Click(Form6);
    Form6->Edit1->SetText("Nowhere");
    Form6->Edit2->SetText(dir.Path("missing"));
    Form6->Button2Click(Form6);
    EXPECT_EQ(prompts->asked.back().text, "Path is invalid.");
    Form6->Edit2->SetText("/tmp");
    Form6->Edit1->SetText("Typed");
    Form6->Button2Click(Form6);
    EXPECT_EQ(dir.Read("ffolders/folders.txt"), "Temp\r\n" + dir.Root() + "\r\nTyped\r\n/tmp\r\n");
    ASSERT_EQ(editor.ListView1->Items().Count(), 2);
    EXPECT_EQ(editor.ListView1->Items()[1]->Caption(), "2:Typed");
    EXPECT_EQ(f.Folders1->Count(), 5);
    EXPECT_EQ(f.Folders1->Items(4)->Caption(), "Typed-/tmp");

    editor.ListView1->Items()[0]->SetSelected(true);
    prompts->PushText("Scratch");
    editor.bModifyClick(&editor);
    EXPECT_EQ(f.Folders1->Items(3)->Caption(), "Scratch-" + dir.Root());
    editor.ListView1->Items()[0]->SetSelected(true);
    editor.bRemoveClick(&editor);
    EXPECT_EQ(dir.Read("ffolders/folders.txt"), "Typed\r\n/tmp\r\n");
    EXPECT_EQ(f.Folders1->Count(), 4);
}

TEST_F(AppTest, PathsWithALineBreakNeverEnterTheLineLists)
{
    WriteDefaults();
    dir.Write("mlist/lindex.txt", "Jazz\r\n1\r\n");
    dir.Write("mlist/m1.txt", "");
    dir.Write("two\nlines/a.txt", "a");
    dir.Write("plain.txt", "p");
    const std::string odd = dir.Path("two\nlines");
    TForm1& f = ShowMainWindow();

    // The recent files: the file shows, but is not remembered.
    f.CurrentFile = odd + "/a.txt";
    f.ViewCurrentFile();
    f.CurrentFile = dir.Path("plain.txt");
    f.ViewCurrentFile();
    EXPECT_EQ(f.RecentFiles->Count(), 1);
    f.SaveRecentList();
    EXPECT_EQ(dir.Read("ini/recent.txt"), dir.Path("plain.txt") + "\r\n");

    // The favourite folders, from the tree and from the add dialog.
    f.SelectStartFolder(odd);
    ASSERT_EQ(ExcludeTrailingPathDelimiter(f.TreeSelectedPath()), odd);
    f.Addcurrentfoldertofolderlist1Click(nullptr);
    Form6->Edit1->SetText("Odd");
    Form6->Edit2->SetText(odd);
    Form6->Button2Click(Form6);
    EXPECT_EQ(MessageTexts(*prompts), (std::vector<std::string> {kLineBreakInFolderName, kLineBreakInFolderName}));
    EXPECT_EQ(dir.Read("ffolders/folders.txt"), "");
    // A description typed with a line break stays on one line.
    f.SelectStartFolder(dir.Root());
    prompts->PushText("first\nsecond");
    f.Addcurrentfoldertofolderlist1Click(nullptr);
    EXPECT_EQ(dir.Read("ffolders/folders.txt"), "first second\r\n" + f.TreeSelectedPath() + "\r\n");

    // Playlists: such a file is left out, and the name of a list stays on one line.
    TForm4 manager(nullptr);
    manager.FormShow(&manager);
    manager.ListView1->Items()[0]->SetSelected(true);
    manager.ListView1SelectItem(manager.ListView1, manager.ListView1->Items()[0], true);
    prompts->PushFiles({odd + "/a.mp3", "/music/b.mp3"});
    manager.addfileClick(&manager);
    EXPECT_EQ(dir.Read("mlist/m1.txt"), "/music/b.mp3\r\n");
    EXPECT_EQ(MessageTexts(*prompts).back(), kLineBreakInFileName);
    prompts->PushText("New\nList");
    manager.Button1Click(&manager);
    EXPECT_EQ(dir.Read("mlist/lindex.txt"), "Jazz\r\n1\r\nNew List\r\n2\r\n");
}

TEST_F(AppTest, AddFolderDialogSelectAddsTheTrailingDelimiter)
{
    TForm6 add(nullptr);
    prompts->PushText("/srv/data");
    add.Button1Click(&add);
    EXPECT_EQ(add.Edit2->Text(), "/srv/data/");
    EXPECT_EQ(prompts->asked[0].caption, "Select Path to search");
}

TEST_F(AppTest, ConfigMenuShowsTheOptionsDialogModally)
{
    WriteDefaults();
    TForm1& f = ShowMainWindow();
    bool shown = false;
    WhenModal([&] {
        shown = Form3->Widget()->isVisible();
        Form3->Button3Click(Form3);
    });
    f.config2->Click();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(Form3->Widget()->isVisible());
}

TEST(LayoutSketches, PanesStandWhereTheLayoutNamesThem)
{
    using P = TLayoutPane;
    struct Spot {
        double x, y;
        P pane;
    };
    // Points inside each pane, in fractions of the picture.
    const std::vector<Spot> expected[] = {
        {{0.2, 0.25, P::Tree}, {0.2, 0.75, P::List}, {0.7, 0.2, P::Content}, {0.7, 0.8, P::Content}},
        {{0.2, 0.25, P::Tree}, {0.2, 0.75, P::Tree}, {0.7, 0.2, P::List}, {0.7, 0.8, P::Content}},
        {{0.2, 0.25, P::List}, {0.2, 0.75, P::List}, {0.7, 0.2, P::Content}, {0.7, 0.8, P::Content}},
        {{0.2, 0.2, P::List}, {0.8, 0.2, P::List}, {0.2, 0.8, P::Content}, {0.8, 0.8, P::Content}},
        {{0.2, 0.2, P::Content}, {0.8, 0.2, P::Content}, {0.2, 0.8, P::Content}, {0.8, 0.8, P::Content}},
        {{0.15, 0.5, P::Tree}, {0.45, 0.5, P::List}, {0.8, 0.5, P::Content}},
    };
    const int w = 72, h = 48;
    for (int layout = 1; layout <= 6; ++layout) {
        SCOPED_TRACE(layout);
        TBitmap sketch(w, h);
        DrawLayoutSketch(sketch.Canvas(), Rect(0, 0, w, h), layout);
        for (const Spot& s : expected[layout - 1]) {
            // The pane's colour fills most of a small square around the point
            // (the marks of the tree and list cross some of it).
            const int cx = static_cast<int>(s.x * w), cy = static_cast<int>(s.y * h);
            int match = 0, total = 0;
            for (int y = cy - 3; y <= cy + 3; ++y)
                for (int x = cx - 3; x <= cx + 3; ++x, ++total)
                    match += sketch.Canvas().Pixel(x, y) == LayoutPaneColor(s.pane);
            EXPECT_GT(match * 2, total) << "at " << s.x << "," << s.y;
        }
    }
}

TEST_F(AppTest, ViewTabShowsASketchBesideEachLayout)
{
    TForm3 dialog(nullptr);
    const QList<QRadioButton*> items = dialog.layout->Widget()->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 6);
    QImage first;
    for (QRadioButton* item : items) {
        ASSERT_FALSE(item->icon().isNull()) << item->text().toStdString();
        const QImage picture = item->icon().pixmap(item->iconSize()).toImage();
        EXPECT_NE(picture, first);
        first = picture;
    }
}
