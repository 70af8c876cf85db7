// Send To from the shell list's and tree's context menus over a temporary
// home: the folder made with its Desktop and Home links, the submenu filled
// anew each time it opens (no hidden file, no subfolder), its owner-drawn
// entries measured and painted by the control, letters that one or two
// entries start with, a link entry copying into its folder and an
// application entry started with the files.
#include "shell_env.h"

#include "shell/ptshcontrols.h"
#include "shell/shlapps.h"

#include "test_support/scripted_prompts.h"

#include "vcl/forms.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QMenu* OpenPopup()
{
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
        ADD_FAILURE() << "no menu is open";
    return menu;
}

// Opens the Send To submenu of the menu that opens next, from inside its
// loop as a user does with the keyboard, and hands it to the step; the step
// ends the menu (a choice, a letter or Escape).
void InSendToOfNextMenu(std::function<void(QMenu*)> step)
{
    QTimer::singleShot(0, [step] {
        QMenu* menu = OpenPopup();
        if (!menu)
            return;
        QAction* sendTo = nullptr;
        for (QAction* a : menu->actions())
            if (a->text().remove('&') == "Send To")
                sendTo = a;
        if (!sendTo) {
            ADD_FAILURE() << "no Send To entry";
            QTest::keyClick(menu, Qt::Key_Escape);
            return;
        }
        menu->setActiveAction(sendTo);
        QTest::keyClick(menu, Qt::Key_Right);
        QMenu* sub = sendTo->menu();
        if (!sub || !sub->isVisible()) {
            ADD_FAILURE() << "the Send To submenu did not open";
            QTest::keyClick(menu, Qt::Key_Escape);
            return;
        }
        step(sub);
        // Whatever the step left open closes.
        if (QApplication::activePopupWidget())
            EndMenu();
    });
}

std::vector<std::string> SendToNames()
{
    std::vector<std::string> names;
    if (const std::vector<TPTSendToEntry>* list = PTSendToList())
        for (const TPTSendToEntry& e : *list)
            names.push_back(e.Name);
    return names;
}

int ActivePosition(QMenu* menu)
{
    return menu->activeAction() ? menu->activeAction()->property("winPos").toInt() : -1;
}

void WriteLink(const std::string& path, const std::string& target)
{
    std::ofstream(path) << "[Desktop Entry]\nType=Link\nName=x\nURL=" << ShellFileUrl(target) << "\n";
}

class SendTo : public ::testing::Test {
protected:
    SendTo()
    {
        EnsureShellApplication();
        env.dir.Write("home/data/a.txt", "a");
        env.dir.Write("home/data/b.txt", "b");
        env.dir.Write("home/data/folder/inner.txt", "i");
        // The folder comes with its two default links; the test adds more.
        sendTo = ShellGetSpecialFolderPath(0, csidlSendTo);
        form = std::make_unique<TForm>(nullptr);
        tree = new TPTShellTree(form.get());
        tree->SetParent(form.get());
        list = new TPTShellList(form.get());
        list->SetParent(form.get());
        tree->SetOptions(ptstoAutoFill | ptstoShowHidden | ptstoContextMenus);
        list->SetOptions(ptsloAutoFill | ptsloHideFoldersWhenLinkedToTree | ptsloShowHidden | ptsloContextMenus);
        list->SetViewStyle(TViewStyle::vsReport);
        list->SetMultiSelect(true);
        tree->SetShellList(list);
        form->SetBounds(0, 0, 600, 400);
        tree->SetBounds(0, 0, 250, 400);
        list->SetBounds(250, 0, 350, 400);
        form->Show();
        QCoreApplication::processEvents();
        tree->SetSelectedPathName(env.Home() + "/data");
    }
    ~SendTo() override
    {
        form.reset();
        QCoreApplication::processEvents();
    }
    void SelectOnly(const std::vector<std::string>& names)
    {
        list->ClearSelection();
        for (int i = 0; i < list->Items().Count(); ++i)
            for (const std::string& n : names)
                if (list->GetShListData(i)->GetDisplayName() == n) {
                    list->Items()[i]->SetSelected(true);
                    list->SetItemFocused(list->Items()[i]);
                }
    }
    std::string Desktop() const { return env.Home() + "/Desk top"; }

    bool ready = (EnsureShellApplication(), true);
    ShellEnv env;
    ScopedScriptedPrompts prompts {*Application};
    std::string sendTo;
    std::unique_ptr<TForm> form;
    TPTShellTree* tree = nullptr;
    TPTShellList* list = nullptr;
};

TEST_F(SendTo, NewFolderHoldsDesktopAndHomeLinks)
{
    ASSERT_EQ(sendTo, env.Home() + "/.local/share/vistrel/SendTo");
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(sendTo))
        files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string> {"Desktop.desktop", "Home.desktop"}));
    ShellDesktopEntry entry;
    ASSERT_TRUE(ShellReadDesktopEntry(sendTo + "/Desktop.desktop", entry));
    EXPECT_EQ(entry.kind, ShellDesktopEntry::Link);
    EXPECT_EQ(entry.url, ShellFileUrl(Desktop()));
    ASSERT_TRUE(ShellReadDesktopEntry(sendTo + "/Home.desktop", entry));
    EXPECT_EQ(entry.url, ShellFileUrl(env.Home()));
    // A desktop file shows the theme icon it names.
    const int icon = ShellGetIconIndexFromPath(sendTo + "/Home.desktop", SHGFI_SMALLICON);
    if (QIcon::hasThemeIcon("user-home")) {
        EXPECT_EQ(ShellImageListIconName(ShellSystemImageList(true), icon), "user-home");
    }
    // An existing folder is left as the user made it.
    fs::remove(sendTo + "/Home.desktop");
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlSendTo), sendTo);
    EXPECT_FALSE(fs::exists(sendTo + "/Home.desktop"));
}

TEST_F(SendTo, SubmenuListsFilesOnlyAndIsFilledAnewEachTimeItOpens)
{
    env.dir.Write("home/.local/share/vistrel/SendTo/.hidden.desktop", "[Desktop Entry]\nType=Link\nURL=file:///\n");
    fs::create_directories(sendTo + "/Sub folder");
    WriteLink(sendTo + "/Backup.desktop", env.Home());
    SelectOnly({"a.txt"});

    std::vector<std::string> first;
    int ownerDrawn = 0;
    InSendToOfNextMenu([&](QMenu* sub) {
        first = SendToNames();
        for (QAction* a : sub->actions())
            ownerDrawn += a->isEnabled() && a->data().toUInt() >= 1 && a->data().toUInt() < 1000;
        QTest::keyClick(sub, Qt::Key_Escape);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_EQ(first, (std::vector<std::string> {"Backup.desktop", "Desktop.desktop", "Home.desktop"}));
    EXPECT_EQ(ownerDrawn, 3) << "the placeholder gives way to one item per entry";

    // Removed and added entries show the next time, without a restart.
    fs::remove(sendTo + "/Backup.desktop");
    WriteLink(sendTo + "/Archive.desktop", env.Home());
    std::vector<std::string> second;
    InSendToOfNextMenu([&](QMenu* sub) {
        second = SendToNames();
        QTest::keyClick(sub, Qt::Key_Escape);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_EQ(second, (std::vector<std::string> {"Archive.desktop", "Desktop.desktop", "Home.desktop"}));

    // An emptied folder leaves one greyed entry.
    for (const char* name : {"Archive.desktop", "Desktop.desktop", "Home.desktop"})
        fs::remove(sendTo + "/" + name);
    std::vector<std::string> third {"not opened"};
    int enabled = -1;
    InSendToOfNextMenu([&](QMenu* sub) {
        third = SendToNames();
        enabled = 0;
        for (QAction* a : sub->actions())
            enabled += a->isEnabled();
        EXPECT_EQ(sub->actions().size(), 1);
        QTest::keyClick(sub, Qt::Key_Escape);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_TRUE(third.empty());
    EXPECT_EQ(enabled, 0);
}

TEST_F(SendTo, EntriesAreMeasuredAndPaintedByTheControl)
{
    SelectOnly({"a.txt"});
    int height = 0, width = 0, minWidth = 0;
    QRgb selected = 0, plain = 0;
    InSendToOfNextMenu([&](QMenu* sub) {
        ASSERT_EQ(sub->actions().size(), 2);
        const QRect first = sub->actionGeometry(sub->actions()[0]);
        const QRect second = sub->actionGeometry(sub->actions()[1]);
        height = first.height();
        width = first.width();
        TCanvas measure;
        GetMenuFont(measure.Font());
        minWidth = measure.TextWidth("Desktop") + 32;
        sub->setActiveAction(sub->actions()[1]);
        const QImage image = sub->grab().toImage();
        // Left of the icon (8 pixels in) the item shows its background.
        selected = image.pixel(second.left() + 3, second.center().y());
        plain = image.pixel(first.left() + 3, first.center().y());
        QTest::keyClick(sub, Qt::Key_Escape);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_EQ(height, GetMenuLineHeight() + 2);
    EXPECT_GE(width, minWidth);
    EXPECT_EQ(selected, qRgb(0x00, 0x78, 0xD7)) << "the highlighted entry on the highlight colour";
    EXPECT_EQ(plain, qRgb(0xF0, 0xF0, 0xF0)) << "the others on the menu colour";
}

// Letters that no caption's mnemonic takes go to the control: a letter that
// one entry starts with runs it, one that two start with selects the next of
// them after the highlighted one (without regard to case), any other
// closes the menu.
TEST_F(SendTo, LettersSelectOrRunEntries)
{
    const std::string apples = env.Home() + "/apples", avocados = env.Home() + "/avocados";
    fs::create_directories(apples);
    fs::create_directories(avocados);
    WriteLink(sendTo + "/apple.desktop", apples);
    WriteLink(sendTo + "/Avocado.desktop", avocados);
    SelectOnly({"a.txt"});
    // Sorted: apple, Avocado, Desktop, Home.
    std::vector<int> positions;
    bool stillOpen = false;
    InSendToOfNextMenu([&](QMenu* sub) {
        QTest::keyClick(sub, Qt::Key_A);
        positions.push_back(ActivePosition(sub));
        QTest::keyClick(sub, Qt::Key_A, Qt::ShiftModifier);
        positions.push_back(ActivePosition(sub));
        QTest::keyClick(sub, Qt::Key_A);
        positions.push_back(ActivePosition(sub));
        stillOpen = sub->isVisible();
        QTest::keyClick(sub, Qt::Key_Z);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_EQ(positions, (std::vector<int> {1, 0, 1})) << "from the highlighted entry on, round the end";
    EXPECT_TRUE(stillOpen) << "a letter two entries start with only selects";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "a letter no entry starts with closes the menu";
    EXPECT_TRUE(fs::is_empty(apples));
    EXPECT_TRUE(fs::is_empty(avocados));

    // "d": only Desktop starts with it, so it runs: the file is copied there.
    InSendToOfNextMenu([&](QMenu* sub) { QTest::keyClick(sub, Qt::Key_D); });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_EQ(Read(Desktop() + "/a.txt"), "a");
    EXPECT_EQ(Read(env.Home() + "/data/a.txt"), "a") << "a copy, not a move";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

// In the item menu itself a letter keeps its meaning: one no caption
// underlines does nothing there, even when a Send To entry starts with it;
// the underlined "n" opens Send To, where "d" runs Desktop.
TEST_F(SendTo, TheKeyboardReachesAnEntryThroughTheItemMenu)
{
    SelectOnly({"b.txt"});
    bool rootStillOpen = false, subOpened = false;
    QTimer::singleShot(0, [&] {
        QMenu* menu = OpenPopup();
        if (!menu)
            return;
        QTest::keyClick(menu, Qt::Key_H);
        rootStillOpen = QApplication::activePopupWidget() == menu;
        QTest::keyClick(menu, Qt::Key_N);
        auto* sub = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        subOpened = sub && sub != menu;
        if (!subOpened) {
            EndMenu();
            return;
        }
        QTest::keyClick(sub, Qt::Key_D);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_TRUE(rootStillOpen);
    EXPECT_TRUE(subOpened);
    EXPECT_EQ(Read(Desktop() + "/b.txt"), "b");
    EXPECT_FALSE(fs::exists(env.Home() + "/b.txt")) << "Home was not run";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(SendTo, LinkEntryCopiesTheSelectionAndTheTreeNodeIntoItsFolder)
{
    const std::string target = env.Home() + "/backup";
    fs::create_directories(target);
    WriteLink(sendTo + "/Backup.desktop", target);
    SelectOnly({"a.txt", "b.txt"});
    InSendToOfNextMenu([&](QMenu* sub) {
        for (QAction* a : sub->actions())
            if (a->property("winPos").toInt() == 0)
                sub->setActiveAction(a);
        QTest::keyClick(sub, Qt::Key_Return);
    });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    EXPECT_EQ(Read(target + "/a.txt"), "a");
    EXPECT_EQ(Read(target + "/b.txt"), "b");
    EXPECT_TRUE(fs::exists(env.Home() + "/data/a.txt"));

    // The tree sends its node, a whole folder.
    tree->SetSelectedPathName(env.Home() + "/data/folder");
    ASSERT_NE(tree->Selected(), nullptr);
    tree->ProcessSendTo(tree->Selected(), 0);
    EXPECT_EQ(Read(target + "/folder/inner.txt"), "i");

    // A link whose folder went away is reported, not a crash or a silent no.
    fs::remove_all(target);
    EXPECT_THROW(tree->ProcessSendTo(tree->Selected(), 0), std::exception);
}

TEST_F(SendTo, ApplicationEntryStartsTheProgramWithTheFiles)
{
    const std::string script = env.Home() + "/bin/record.sh";
    const std::string record = env.Home() + "/args.txt";
    env.dir.Write("home/bin/record.sh", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + record
        + ".part\"\nmv \"" + record + ".part\" \"" + record + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    std::ofstream(sendTo + "/Recorder.desktop") << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << script
                                               << " %F\n";
    SelectOnly({"a.txt", "b.txt"});
    InSendToOfNextMenu([&](QMenu* sub) { QTest::keyClick(sub, Qt::Key_R); });
    list->ProcessMenuForAllSelected(TPoint {20, 20});
    for (int i = 0; i < 100 && !fs::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Read(record), env.Home() + "/data/a.txt\n" + env.Home() + "/data/b.txt\n");
    EXPECT_FALSE(fs::exists(Desktop() + "/a.txt"));
}

} // namespace
