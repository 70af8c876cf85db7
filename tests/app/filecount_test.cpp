// Panel 6 of the status bar counts what the "Disk Files" list shows, after
// every fill, filter change and refresh.
#include "app_fixture.h"

#include "rtl/clock.h"

#include <filesystem>

TEST_F(AppTest, FileCountFollowsTheListThroughFillsFiltersAndRefreshes)
{
    ManualClock& clock = UseManualClock();
    WriteDefaults();
    for (const char* name : {"files/one.txt", "files/two.txt", "files/three.md", "files/four.zip", "files/sub/five.txt"})
        dir.Write(name, "x");
    dir.Write("ini/config.ini", "[IniParas]\r\nIniDir=" + dir.Path("files") + "\r\nLayout=1\r\nViewMode=0\r\nFilter=0\r\n");
    TForm1& f = ShowMainWindow();
    auto shown = [&] { return f.StatusBar1->Panel(6).Text; };
    // The folders are the tree's: four files.
    ASSERT_EQ(f.list->Items().Count(), 4);
    EXPECT_EQ(shown(), "4Files");

    f.SelectFilter(1);  // *.txt
    EXPECT_EQ(shown(), "2Files");
    f.SelectFilter(0);
    EXPECT_EQ(shown(), "4Files");

    // Files made and deleted by other programs reach the list by its refresh.
    auto refresh = [&] {
        f.list->Perform(AM_CHANGENOTIFY, 0, 0);
        clock.Advance(2000);
    };
    dir.Write("files/six.txt", "x");
    refresh();
    ASSERT_EQ(f.list->Items().Count(), 5);
    EXPECT_EQ(shown(), "5Files");
    std::filesystem::remove(dir.Path("files/one.txt"));
    std::filesystem::remove(dir.Path("files/two.txt"));
    refresh();
    ASSERT_EQ(f.list->Items().Count(), 3);
    EXPECT_EQ(shown(), "3Files");

    // Another folder chosen in the tree: its own count, not the last one's.
    f.tree->SetSelectedPathName(dir.Path("files/sub"));
    ASSERT_EQ(f.list->Items().Count(), 1);
    EXPECT_EQ(shown(), "1Files");
}
