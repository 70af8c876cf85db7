// The drive box, folder list, file list and filter box, linked as a form
// links them and driven through their widgets.
#include "vcl/filectrl.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include "shell/shlmounts.h"
#include "test_support/temp_dir.h"

#include <QComboBox>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class FileControls : public ::testing::Test {
protected:
    FileControls()
    {
        if (!Application)
            new TApplication();
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 300, 500);
        dirs = Make<TDirectoryListBox>(0, 180);
        files = Make<TFileListBox>(190, 200);
        filter = Make<TFilterComboBox>(400, 24);
        dirs->SetFileList(files);
        filter->SetFileList(files);
        form->Show();
    }
    template <typename T> T* Make(int top, int height)
    {
        auto* c = new T(form.get());
        c->SetBounds(0, top, 300, height);
        c->SetParent(form.get());
        return c;
    }
    std::vector<std::string> FileNames() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < files->Count(); ++i)
            out.push_back(files->Item(i));
        return out;
    }
    QListWidget* Widget(TControl* c) { return static_cast<QListWidget*>(c->Widget()); }

    TempDir dir;
    std::unique_ptr<TForm> form;
    TDirectoryListBox* dirs;
    TFileListBox* files;
    TFilterComboBox* filter;
};

} // namespace

TEST_F(FileControls, TheFolderListShowsTheWayDownAndTheSubfoldersSorted)
{
    dir.Write("top/Beta/x", "");
    dir.Write("top/alpha/x", "");
    dir.Write("top/.dot/x", "");
    dir.Write("top/file.txt", "");
    const std::string top = dir.Path("top");
    int changes = 0;
    dirs->OnChange = [&](TObject*) { ++changes; };
    ASSERT_TRUE(dirs->SetDirectory(top + "/"));
    EXPECT_EQ(dirs->Directory(), top);
    EXPECT_EQ(changes, 1);
    // Root, every folder down to the open one, then its folders by name.
    std::vector<std::string> paths;
    for (int i = 0; i < dirs->Count(); ++i)
        paths.push_back(dirs->GetItemPath(i));
    ASSERT_GE(paths.size(), 4u);
    EXPECT_EQ(paths.front(), "/");
    EXPECT_EQ(dirs->OpenRow(), static_cast<int>(paths.size()) - 4);
    EXPECT_EQ(paths[static_cast<size_t>(dirs->OpenRow())], top);
    EXPECT_EQ(std::vector<std::string>(paths.end() - 3, paths.end()),
        (std::vector<std::string> {top + "/.dot", top + "/alpha", top + "/Beta"}));
    EXPECT_EQ(dirs->ItemName(dirs->OpenRow() + 2), "alpha");
    // Each row is one step further in than the one above it.
    EXPECT_EQ(Widget(dirs)->item(1)->text().toStdString().rfind("  ", 0), 0u);

    // A path that names no folder changes nothing.
    EXPECT_FALSE(dirs->SetDirectory(top + "/file.txt"));
    EXPECT_FALSE(dirs->SetDirectory(dir.Path("none")));
    EXPECT_EQ(dirs->Directory(), top);
    EXPECT_EQ(changes, 1);
}

TEST_F(FileControls, OpeningARowOpensItsFolderAndItsFiles)
{
    dir.Write("top/alpha/one.txt", "");
    dir.Write("top/two.txt", "");
    ASSERT_TRUE(dirs->SetDirectory(dir.Path("top")));
    EXPECT_EQ(FileNames(), std::vector<std::string> {"two.txt"});
    const int alpha = dirs->OpenRow() + 1;
    QListWidget* list = Widget(dirs);
    const QRect rect = list->visualItemRect(list->item(alpha));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    EXPECT_EQ(dirs->Directory(), dir.Path("top/alpha"));
    EXPECT_EQ(files->Directory(), dir.Path("top/alpha"));
    EXPECT_EQ(FileNames(), std::vector<std::string> {"one.txt"});
    // Return on the root row opens the root, and only that: the form's
    // default button is not pressed as well.
    auto* ok = new TButton(form.get());
    ok->SetDefault(true);
    ok->SetBounds(0, 450, 80, 24);
    ok->SetParent(form.get());
    int pressed = 0;
    ok->OnClick = [&pressed](TObject*) { ++pressed; };
    list->setFocus();
    dirs->SetItemIndex(0);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(dirs->Directory(), "/");
    EXPECT_EQ(pressed, 0);
}

TEST_F(FileControls, TheFileListShowsTheKindsAndMasksAsked)
{
    dir.Write("b.HTM", "");
    dir.Write("a.html", "");
    dir.Write("c.txt", "");
    dir.Write(".hidden.htm", "");
    dir.Write("sub/x.htm", "");
    ::mkfifo(dir.Path("pipe.htm").c_str(), 0600);
    dir.Write(std::string("\xFF") + ".htm", "");
    ASSERT_TRUE(dirs->SetDirectory(dir.Root()));
    EXPECT_EQ(FileNames(), (std::vector<std::string> {"a.html", "b.HTM", "c.txt", std::string("\xFF") + ".htm"}));

    // Every file of the filter's masks once; the name that is no UTF-8 keeps its bytes.
    filter->SetFilter("All files (*.*)|*.*|html(*.htm,*.html)|*.htm;*.html;*.HTML|text(*.txt)|*.txt");
    EXPECT_EQ(filter->Count(), 3);
    EXPECT_EQ(filter->ItemText(1), "html(*.htm,*.html)");
    auto* box = static_cast<QComboBox*>(filter->Widget());
    int changes = 0;
    filter->OnChange = [&](TObject*) { ++changes; };
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(filter->ItemIndex(), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(files->Mask(), "*.htm;*.html;*.HTML");
    EXPECT_EQ(FileNames(), (std::vector<std::string> {"a.html", "b.HTM", std::string("\xFF") + ".htm"}));
    EXPECT_EQ(Widget(files)->item(2)->text().endsWith(".htm"), true);

    files->SetFileType(ftNormal | ftHidden | ftSystem);
    EXPECT_EQ(FileNames(),
        (std::vector<std::string> {".hidden.htm", "a.html", "b.HTM", "pipe.htm", std::string("\xFF") + ".htm"}));
}

TEST_F(FileControls, TheFileListSelectsSeveralFilesAsAUserDoes)
{
    for (const char* name : {"a", "b", "c", "d"})
        dir.Write(name, "");
    ASSERT_TRUE(dirs->SetDirectory(dir.Root()));
    files->SetMultiSelect(true);
    QListWidget* list = Widget(files);
    auto click = [&](int row, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, list->visualItemRect(list->item(row)).center());
    };
    click(0, Qt::NoModifier);
    click(2, Qt::ControlModifier);
    EXPECT_EQ(files->SelCount(), 2);
    EXPECT_EQ(files->SelectedRows(), (std::vector<int> {0, 2}));
    EXPECT_TRUE(files->Selected(0));
    EXPECT_FALSE(files->Selected(1));
    EXPECT_TRUE(files->Selected(2));
    EXPECT_EQ(files->FileName(), dir.Path("c"));
    click(3, Qt::ShiftModifier);
    EXPECT_TRUE(files->Selected(2));
    EXPECT_TRUE(files->Selected(3));
    EXPECT_FALSE(files->Selected(1));
    files->SetSelected(1, true);
    EXPECT_TRUE(files->Selected(1));
    // Rows selected by a range and one by one come once each, in list order.
    files->SetSelected(2, true);
    std::vector<int> selected;
    for (int i = 0; i < files->Count(); ++i)
        if (files->Selected(i))
            selected.push_back(i);
    EXPECT_EQ(files->SelectedRows(), selected);
    EXPECT_EQ(files->SelCount(), static_cast<int>(selected.size()));
}

TEST(DriveBox, ListsTheDrivesOfComputerAndOpensTheOneChosen)
{
    if (!Application)
        new TApplication();
    TempDir dir;
    dir.Write("media/usb/docs/a.txt", "");
    dir.Write("mountinfo",
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "23 22 0:5 / /proc rw - proc proc rw\n"
        "24 22 8:17 / " + dir.Path("media/usb") + " rw - vfat /dev/sdb1 rw\n");
    ShellSetMountInfoPathForTest(dir.Path("mountinfo"));
    {
        TForm form(nullptr);
        auto* drives = new TDriveComboBox(&form);
        drives->SetParent(&form);
        auto* dirs = new TDirectoryListBox(&form);
        dirs->SetParent(&form);
        drives->SetDirList(dirs);
        drives->BuildList();
        ASSERT_EQ(drives->Count(), 2);
        EXPECT_EQ(drives->DrivePath(0), "/");
        EXPECT_EQ(drives->DrivePath(1), dir.Path("media/usb"));
        EXPECT_EQ(static_cast<QComboBox*>(drives->Widget())->itemText(1).toStdString(), drives->ItemText(1));

        int changes = 0;
        drives->OnChange = [&](TObject*) { ++changes; };
        auto* box = static_cast<QComboBox*>(drives->Widget());
        box->setCurrentIndex(0);
        QTest::keyClick(box, Qt::Key_Down);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(drives->Drive(), dir.Path("media/usb"));
        EXPECT_EQ(dirs->Directory(), dir.Path("media/usb"));
        // A folder on the drive chosen keeps it; a path of the other drive opens that drive's root.
        drives->SetDrive(dir.Path("media/usb/docs"));
        EXPECT_EQ(dirs->Directory(), dir.Path("media/usb"));
        drives->SetDrive("/usr/share");
        EXPECT_EQ(drives->Drive(), "/");
        EXPECT_EQ(dirs->Directory(), "/");
    }
    ShellSetMountInfoPathForTest("");
}
