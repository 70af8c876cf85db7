// The commands of the shell tree and list over a temporary home: the menu
// functions with entries picked from inside the menu's loop, the key tables,
// the shell menu of a right click with its hints and its rename entry, F2 and
// rename in place, a renamed tree folder, copy and paste between folders,
// Del and Shift+Del, new-folder series and the shortcut texts.
#include "shell_env.h"

#include "shell/ptshcontrols.h"
#include "shell/shlclip.h"

#include "test_support/scripted_prompts.h"

#include "rtl/clock.h"
#include "vcl/forms.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QAction* ActionNamed(QMenu* menu, const std::string& caption)
{
    for (QAction* a : menu->actions())
        if (a->text().remove('&').toStdString() == caption)
            return a;
    return nullptr;
}

// Picks an entry of the menu that opens next, from inside the menu's loop,
// as a user would with the keyboard: "Open With/Viewer" goes through the
// submenu. An empty path closes the menu with Escape. `seen` gets the
// captions of the top menu's entries.
void PickFromNextMenu(std::vector<std::string> path, std::vector<std::string>* seen = nullptr)
{
    QTimer::singleShot(0, [path, seen] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            ADD_FAILURE() << "no menu is open";
            return;
        }
        if (seen)
            for (QAction* a : menu->actions())
                seen->push_back(a->isSeparator() ? "-" : a->text().remove('&').toStdString());
        if (path.empty()) {
            QTest::keyClick(menu, Qt::Key_Escape);
            return;
        }
        for (size_t i = 0; i < path.size(); ++i) {
            QAction* action = ActionNamed(menu, path[i]);
            if (!action) {
                ADD_FAILURE() << "no entry " << path[i];
                QTest::keyClick(menu, Qt::Key_Escape);
                return;
            }
            menu->setActiveAction(action);
            if (i + 1 < path.size()) {
                QTest::keyClick(menu, Qt::Key_Right);
                menu = action->menu();
            } else {
                QTest::keyClick(menu, Qt::Key_Return);
            }
        }
    });
}

TEST(WinMenus, ItemsStatesAndTrackingWithOwnerMessages)
{
    EnsureShellApplication();
    HMENU menu = CreatePopupMenu();
    HMENU sub = CreatePopupMenu();
    ASSERT_TRUE(AppendMenuA(sub, MF_STRING, 7, "Se&venth"));
    ASSERT_TRUE(AppendMenuA(menu, MF_STRING, 5, "&Fifth"));
    ASSERT_TRUE(AppendMenuA(menu, MF_SEPARATOR, 0, nullptr));
    ASSERT_TRUE(AppendMenuA(menu, MF_STRING | MF_GRAYED, 6, "Grey"));
    ASSERT_TRUE(InsertMenuA(menu, 1, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "&More"));
    ASSERT_TRUE(SetMenuDefaultItem(menu, 5, FALSE));
    EXPECT_EQ(GetMenuItemCount(menu), 4);
    EXPECT_EQ(GetMenuItemID(menu, 0), 5u);
    EXPECT_EQ(GetMenuItemID(menu, 1), static_cast<UINT>(-1));
    EXPECT_EQ(GetSubMenu(menu, 1), sub);
    EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION), MF_POPUP | (1u << 8));
    EXPECT_EQ(GetMenuState(menu, 6, MF_BYCOMMAND), MF_GRAYED);
    EXPECT_EQ(GetMenuState(menu, 7, MF_BYCOMMAND), 0u) << "by command the search goes into submenus";
    EXPECT_EQ(GetMenuState(menu, 99, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuDefaultItem(menu, FALSE, 0), 5u);
    char text[16];
    EXPECT_EQ(GetMenuStringA(menu, 7, text, sizeof text, MF_BYCOMMAND), 8);
    EXPECT_STREQ(text, "Se&venth");

    std::vector<TMessage> received;
    const HWND owner = AllocateHWnd([&](TMessage& m) { received.push_back(m); });
    PickFromNextMenu({"More", "Seventh"});
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, 10, 10, 0, owner, nullptr), 7);
    std::vector<UINT> kinds;
    for (const TMessage& m : received)
        kinds.push_back(m.Msg);
    // The menu opens, the pointer reaches "More", the submenu opens, the
    // pointer reaches "Seventh", the menu closes.
    ASSERT_GE(received.size(), 5u);
    EXPECT_EQ(received.front().Msg, WM_INITMENUPOPUP);
    EXPECT_EQ(reinterpret_cast<HMENU>(received.front().WParam), menu);
    const auto init = std::find_if(received.begin() + 1, received.end(),
        [&](const TMessage& m) { return m.Msg == WM_INITMENUPOPUP; });
    ASSERT_NE(init, received.end());
    EXPECT_EQ(reinterpret_cast<HMENU>(init->WParam), sub);
    EXPECT_EQ(LOWORD(init->LParam), 1u) << "the submenu's position";
    const auto hover = std::find_if(received.begin(), received.end(),
        [](const TMessage& m) { return m.Msg == WM_MENUSELECT && LOWORD(m.WParam) == 7; });
    ASSERT_NE(hover, received.end());
    EXPECT_EQ(reinterpret_cast<HMENU>(hover->LParam), sub);
    EXPECT_EQ(received.back().Msg, WM_MENUSELECT);
    EXPECT_EQ(HIWORD(received.back().WParam), 0xFFFFu) << "the closing code";

    PickFromNextMenu({});
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 10, 10, 0, owner, nullptr), 0) << "a cancelled menu answers 0";
    EXPECT_TRUE(DeleteMenu(menu, 1, MF_BYPOSITION));
    EXPECT_FALSE(IsMenu(sub)) << "DeleteMenu destroys the submenu";
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(DestroyMenu(menu));
    DeallocateHWnd(owner);
}

TEST(ShellKeys, ShortcutTextsAndCodes)
{
    const std::vector<std::pair<std::string, WORD>> toCode = {
        {"ctrl+a", 0x4041}, {"^C", 0x4043}, {"Shift+Ctrl+F5", 0x6074}, {"Alt+", 0}, {"F24", 0x87}, {"Del", 0x2E},
        {"shift+del", 0x202E}, {"BkSp", 8}, {"#106", 106}, {"Nothing", 0}, {"", 0},
    };
    for (const auto& [text, code] : toCode)
        EXPECT_EQ(TextToKeyCode(text), code) << text;
    const std::vector<std::pair<WORD, std::string>> toText = {
        {0x4041, "Ctrl+A"}, {0x2074, "Shift+F5"}, {0x006A, "#106"}, {0xE02E, "Shift+Ctrl+Alt+Del"}, {0x0061, "1"},
    };
    for (const auto& [code, text] : toText)
        EXPECT_EQ(KeyCodeToText(code), text) << code;
    const TPTShellControlDefKeyRec* keys = PTShellDefaultKeys();
    EXPECT_EQ(keys[ptdkSelectAll].ShortCut, 0x4041);
    EXPECT_EQ(keys[ptdkDelete].ShortCut, 0x2E);
    EXPECT_EQ(keys[ptdkRefresh].ShortCut, 0x74);
    EXPECT_EQ(keys[ptdkEdit].ShortCut, 0x71);
}

class ShellCommands : public ::testing::Test {
protected:
    ShellCommands()
    {
        EnsureShellApplication();
        env.dir.Write("home/data/a.txt", "a");
        env.dir.Write("home/data/b.txt", "b");
        env.dir.Write("home/data/sub/inner.txt", "i");
        env.dir.Write("home/other/x.txt", "x");
        form = std::make_unique<TForm>(nullptr);
        tree = new TPTShellTree(form.get());
        tree->SetParent(form.get());
        list = new TPTShellList(form.get());
        list->SetParent(form.get());
        tree->SetOptions(ptstoAutoFill | ptstoShowHidden | ptstoDefaultKeyHandling | ptstoContextMenus);
        list->SetOptions(ptsloAutoFill | ptsloHideFoldersWhenLinkedToTree | ptsloShowHidden | ptsloDefaultKeyHandling
            | ptsloContextMenus);
        list->SetViewStyle(TViewStyle::vsReport);
        list->SetMultiSelect(true);
        tree->SetShellList(list);
        form->SetBounds(0, 0, 600, 400);
        tree->SetBounds(0, 0, 250, 400);
        list->SetBounds(250, 0, 350, 400);
        form->Show();
        QCoreApplication::processEvents();
        tree->SetSelectedPathName(Data());
    }
    ~ShellCommands() override
    {
        form.reset();
        QCoreApplication::processEvents();
        QGuiApplication::clipboard()->clear();
    }
    std::string Data() const { return env.Home() + "/data"; }
    TListItem* ItemNamed(const std::string& name)
    {
        for (int i = 0; i < list->Items().Count(); ++i)
            if (list->GetShListData(i)->GetDisplayName() == name)
                return list->Items()[i];
        return nullptr;
    }
    void SelectOnly(const std::string& name)
    {
        list->ClearSelection();
        TListItem* item = ItemNamed(name);
        ASSERT_NE(item, nullptr) << name;
        item->SetSelected(true);
        list->SetItemFocused(item);
    }
    QWidget* ListView() const { return list->ActiveView(); }
    QWidget* TreeView() const { return tree->Widget(); }

    ScopedManualClock clock;
    ShellEnv env;
    std::unique_ptr<TForm> form;
    TPTShellTree* tree = nullptr;
    TPTShellList* list = nullptr;
};

TEST_F(ShellCommands, RightClickShowsTheShellMenuWithHintsAndRenameEditsInPlace)
{
    ASSERT_EQ(list->Items().Count(), 2);
    std::vector<std::string> hints;
    list->OnPopupHint = [&](TObject*, const std::string& hint) { hints.push_back(hint); };
    std::vector<std::string> seen;
    PickFromNextMenu({"Rename"}, &seen);
    // A right click on b.txt selects it and shows its menu.
    const TRect r = list->ItemIconRect(ItemNamed("b.txt"));
    NMMOUSE_PT nm;
    nm.hdr.hwndFrom = list->Handle();
    nm.hdr.code = NM_RCLICK;
    nm.pt = Point(r.Left + 30, (r.Top + r.Bottom) / 2);
    list->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(list->ShownMenu(), nullptr) << "the menu is forgotten when it closes";
    // No application is installed for text in the test's folders: no Open With.
    EXPECT_EQ(seen, (std::vector<std::string> {"Open", "-", "Send To", "-", "Cut", "Copy", "-", "Delete", "Rename", "-",
                        "Properties"}));
    EXPECT_TRUE(ItemNamed("b.txt")->Selected());
    ASSERT_FALSE(hints.empty());
    EXPECT_NE(hints.front(), "") << "the help text of the entry under the pointer";
    EXPECT_EQ(hints.back(), "") << "the menu's closing clears the hint";
    // Offset 18 started the edit instead of running a command.
    ASSERT_TRUE(list->IsEditing());
    QLineEdit* box = list->LabelEditor().Box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), "b.txt");
    box->setText("  renamed b.txt ");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_FALSE(list->IsEditing());
    EXPECT_EQ(Read(Data() + "/renamed b.txt"), "b");
    EXPECT_FALSE(fs::exists(Data() + "/b.txt"));
    EXPECT_NE(ItemNamed("renamed b.txt"), nullptr);
}

TEST_F(ShellCommands, F2EditsTheFocusedItemAndARefusedNameIsToldWithItsReason)
{
    ScopedScriptedPrompts scripted(*Application);
    SelectOnly("a.txt");
    QTest::keyClick(ListView(), Qt::Key_F2);
    ASSERT_TRUE(list->IsEditing());
    // A name longer than the file system takes is refused, not cut.
    const std::string longName(300, 'n');
    list->LabelEditor().Box()->setText(QString::fromStdString(longName));
    QTest::keyClick(list->LabelEditor().Box(), Qt::Key_Return);
    EXPECT_TRUE(fs::exists(Data() + "/a.txt"));
    ASSERT_EQ(scripted.prompts->asked.size(), 1u);
    EXPECT_NE(scripted.prompts->asked[0].text.find("too long"), std::string::npos) << scripted.prompts->asked[0].text;
    // Escape cancels.
    QTest::keyClick(ListView(), Qt::Key_F2);
    ASSERT_TRUE(list->IsEditing());
    list->LabelEditor().Box()->setText("other.txt");
    QTest::keyClick(list->LabelEditor().Box(), Qt::Key_Escape);
    EXPECT_TRUE(fs::exists(Data() + "/a.txt"));
    EXPECT_FALSE(fs::exists(Data() + "/other.txt"));
}

// The main window holds its list on a tab page: a refused name is told
// there too, with the reason, and the old name stays.
TEST_F(ShellCommands, F2OnATabPageTellsAClashOrARefusedName)
{
    auto* pages = new TPageControl(form.get());
    pages->SetParent(form.get());
    pages->SetBounds(250, 0, 350, 400);
    auto* sheet = new TTabSheet(form.get());
    sheet->SetPageControl(pages);
    list->SetParent(sheet);
    list->SetAlign(alClient);
    QCoreApplication::processEvents();
    struct Case {
        std::string name;
        const char* reason;
    };
    const Case cases[] = {{"b.txt", "exists"}, {std::string(300, 'n'), "too long"}};
    for (const Case& c : cases) {
        ScopedScriptedPrompts scripted(*Application);
        SelectOnly("a.txt");
        QTest::keyClick(ListView(), Qt::Key_F2);
        ASSERT_TRUE(list->IsEditing());
        list->LabelEditor().Box()->setText(QString::fromStdString(c.name));
        QTest::keyClick(list->LabelEditor().Box(), Qt::Key_Return);
        EXPECT_EQ(Read(Data() + "/a.txt"), "a");
        EXPECT_EQ(Read(Data() + "/b.txt"), "b");
        ASSERT_EQ(scripted.prompts->asked.size(), 1u) << c.reason;
        EXPECT_NE(scripted.prompts->asked[0].text.find(c.reason), std::string::npos) << scripted.prompts->asked[0].text;
        EXPECT_NE(ItemNamed("a.txt"), nullptr);
    }
}

// A name with a leading dot hides the item: the renamed item or folder is
// drawn dimmed, and undimmed when the dot goes again.
TEST_F(ShellCommands, ARenameToAHiddenNameDimsTheItem)
{
    for (const auto& [from, to] : {std::pair {"a.txt", ".a.txt"}, std::pair {".a.txt", "a.txt"}}) {
        SelectOnly(from);
        QTest::keyClick(ListView(), Qt::Key_F2);
        ASSERT_TRUE(list->IsEditing());
        list->LabelEditor().Box()->setText(to);
        QTest::keyClick(list->LabelEditor().Box(), Qt::Key_Return);
        ASSERT_NE(ItemNamed(to), nullptr) << to;
        EXPECT_EQ(ItemNamed(to)->Cut(), to[0] == '.') << to;
    }
    for (const char* to : {".data", "data"}) {
        QTest::keyClick(TreeView(), Qt::Key_F2);
        ASSERT_TRUE(tree->IsEditing());
        tree->LabelEditor().Box()->setText(to);
        QTest::keyClick(tree->LabelEditor().Box(), Qt::Key_Return);
        ASSERT_EQ(tree->Selected()->Text(), to);
        EXPECT_EQ(tree->Selected()->Cut, to[0] == '.') << to;
    }
}

TEST_F(ShellCommands, ARenamedSelectedItemIsAnnouncedUnderItsNewName)
{
    SelectOnly("a.txt");
    std::vector<std::string> announced;
    list->OnSelectItem = [&](TObject*, TListItem* item, bool selected) {
        if (selected)
            announced.push_back(list->GetShListData(item->Index())->GetDisplayName());
    };
    QTest::keyClick(ListView(), Qt::Key_F2);
    ASSERT_TRUE(list->IsEditing());
    list->LabelEditor().Box()->setText("renamed.txt");
    QTest::keyClick(list->LabelEditor().Box(), Qt::Key_Return);
    EXPECT_TRUE(fs::exists(Data() + "/renamed.txt"));
    EXPECT_EQ(announced, std::vector<std::string> {"renamed.txt"});
}

TEST_F(ShellCommands, ARenamedTreeFolderKeepsTheListOnItAndSwallowsItsOwnNotification)
{
    TTreeNode* data = tree->Selected();
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->Text(), "data");
    QTest::keyClick(TreeView(), Qt::Key_F2);
    ASSERT_TRUE(tree->IsEditing());
    tree->LabelEditor().Box()->setText("renamed");
    QTest::keyClick(tree->LabelEditor().Box(), Qt::Key_Return);
    EXPECT_TRUE(fs::is_directory(env.Home() + "/renamed"));
    EXPECT_EQ(tree->Selected(), data);
    EXPECT_EQ(data->Text(), "renamed");
    EXPECT_EQ(tree->GetSelectedPathName(), env.Home() + "/renamed");
    EXPECT_EQ(list->Folder().GetPathName(), env.Home() + "/renamed");
    EXPECT_EQ(list->Items().Count(), 2);
    // The tree's own change notification causes no refresh.
    tree->Perform(AM_CHANGENOTIFY, 0, 0);
    EXPECT_FALSE(tree->RefreshScheduled());
    tree->Perform(AM_CHANGENOTIFY, 0, 0);
    EXPECT_TRUE(tree->RefreshScheduled()) << "only the one notification is swallowed";
}

TEST_F(ShellCommands, CopyInTheListPastesIntoATreeFolder)
{
    SelectOnly("a.txt");
    QTest::keyClick(ListView(), Qt::Key_C, Qt::ControlModifier);
    tree->SetSelectedPathName(env.Home() + "/other");
    QTest::keyClick(TreeView(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Read(env.Home() + "/other/a.txt"), "a");
    EXPECT_TRUE(fs::exists(Data() + "/a.txt")) << "a copy keeps the source";
    // Cut and paste through the list's own folder moves.
    tree->SetSelectedPathName(Data());
    SelectOnly("b.txt");
    QTest::keyClick(ListView(), Qt::Key_X, Qt::ControlModifier);
    tree->SetSelectedPathName(env.Home() + "/other");
    QTest::keyClick(ListView(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Read(env.Home() + "/other/b.txt"), "b");
    EXPECT_FALSE(fs::exists(Data() + "/b.txt"));
    EXPECT_NE(ItemNamed("b.txt"), nullptr) << "the list refreshes after a paste";
    EXPECT_FALSE(ShellClipboardHasFiles()) << "a cut is pasted once";
    // Ctrl+V with nothing to paste runs nothing (not the menu's first command).
    const int before = list->Items().Count();
    QTest::keyClick(ListView(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(list->Items().Count(), before);
}

TEST_F(ShellCommands, DelMovesToTheTrashAndShiftDelDeletesForGoodAfterAsking)
{
    ScopedScriptedPrompts scripted(*Application);
    SelectOnly("a.txt");
    QTest::keyClick(ListView(), Qt::Key_Delete);
    EXPECT_FALSE(fs::exists(Data() + "/a.txt"));
    EXPECT_EQ(Read(env.Home() + "/.local/share/Trash/files/a.txt"), "a");
    EXPECT_EQ(ItemNamed("a.txt"), nullptr) << "the list refreshes after the delete";
    EXPECT_TRUE(scripted.prompts->asked.empty());

    SelectOnly("b.txt");
    scripted.prompts->PushButton(IDNO);
    QTest::keyClick(ListView(), Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_TRUE(fs::exists(Data() + "/b.txt"));
    scripted.prompts->PushButton(IDYES);
    QTest::keyClick(ListView(), Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_FALSE(fs::exists(Data() + "/b.txt"));
    EXPECT_FALSE(fs::exists(env.Home() + "/.local/share/Trash/files/b.txt"));
    ASSERT_EQ(scripted.prompts->asked.size(), 2u);
    EXPECT_EQ(scripted.prompts->asked[0].caption, "Confirm File Delete");
    EXPECT_EQ(scripted.prompts->asked[0].text,
        "Are you sure you want to delete \"" + Data() + "/b.txt\" for good?\n\nIt cannot be restored.");
}

class KeyList : public TPTShellList {
public:
    using TPTShellList::TPTShellList;
    void CallKeyDown(WORD& key, TShiftState shift) { KeyDown(key, shift); }
};
class KeyTree : public TPTShellTree {
public:
    using TPTShellTree::TPTShellTree;
    void CallKeyDown(WORD& key, TShiftState shift) { KeyDown(key, shift); }
};

TEST_F(ShellCommands, UnmatchedKeysAreGivenBackAndReachOnKeyDownOnce)
{
    KeyTree ownTree(nullptr);
    KeyList ownList(nullptr);
    ownTree.SetOptions(ptstoDefaultKeyHandling);
    ownList.SetOptions(ptsloDefaultKeyHandling);
    int treeKeys = 0, listKeys = 0;
    ownTree.OnKeyDown = [&](TObject*, WORD&, TShiftState) { ++treeKeys; };
    ownList.OnKeyDown = [&](TObject*, WORD&, TShiftState) { ++listKeys; };
    WORD key = 'A';
    ownTree.CallKeyDown(key, ssCtrl);
    EXPECT_EQ(key, 'A') << "Ctrl+A is no command of the tree";
    key = 'Q';
    ownList.CallKeyDown(key, ssCtrl);
    EXPECT_EQ(key, 'Q');
    key = VK_F5;
    ownList.CallKeyDown(key, 0);
    EXPECT_EQ(key, 0) << "F5 refills the list";
    EXPECT_EQ(treeKeys, 1);
    EXPECT_EQ(listKeys, 2);
    // Through the real widgets as well: an unmatched key, once.
    int keysSeen = 0;
    list->OnKeyDown = [&](TObject*, WORD& k, TShiftState) {
        if (k == 'Q')
            ++keysSeen;
    };
    QTest::keyClick(ListView(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(keysSeen, 1);
}

TEST_F(ShellCommands, TheTreeMenuRenamesAFolderOnItsRenameEntry)
{
    tree->SetSelectedPathName(env.Home() + "/other");
    TTreeNode* other = tree->Selected();
    ASSERT_NE(other, nullptr);
    std::vector<std::string> seen;
    PickFromNextMenu({"Rename"}, &seen);
    const TRect r = tree->NodeRect(other, true);
    NMMOUSE_PT nm;
    nm.hdr.hwndFrom = tree->Handle();
    nm.hdr.code = NM_RCLICK;
    nm.pt = Point(r.Left + 2, (r.Top + r.Bottom) / 2);
    tree->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "Open With"), 0) << "no application opens folders here";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "Rename"), 1);
    ASSERT_TRUE(tree->IsEditing());
    EXPECT_EQ(tree->LabelEditor().Box()->text().toStdString(), "other");
    tree->LabelEditor().Box()->setText("moved");
    QTest::keyClick(tree->LabelEditor().Box(), Qt::Key_Return);
    EXPECT_TRUE(fs::exists(env.Home() + "/moved/x.txt"));
}

TEST_F(ShellCommands, NewFolderSeriesTakeTheFirstFreeName)
{
    ScopedScriptedPrompts scripted(*Application);
    fs::create_directories(Data() + "/New Folder");
    fs::create_directories(Data() + "/New Folder (2)");
    std::string name;
    ASSERT_TRUE(PTShCreateNewFolder(Data(), name));
    EXPECT_EQ(name, "New Folder (3)");
    for (int n = 4; n <= 50; ++n)
        fs::create_directories(Data() + "/New Folder (" + std::to_string(n) + ")");
    fs::create_directories(Data() + "/fldr");
    ASSERT_TRUE(PTShCreateNewFolder(Data(), name));
    EXPECT_EQ(name, "fldr2");
    EXPECT_TRUE(scripted.prompts->asked.empty());

    // A parent that is a file: each series fails with the system's reason,
    // then the final warning names the first name.
    std::ofstream(env.Home() + "/plain") << "p";
    EXPECT_FALSE(PTShCreateNewFolder(env.Home() + "/plain", name));
    ASSERT_EQ(scripted.prompts->asked.size(), 3u);
    EXPECT_EQ(scripted.prompts->asked[0].text,
        "Unable to create the folder 'New Folder'\n\nThe system cannot find the path specified");
    EXPECT_EQ(scripted.prompts->asked[1].text, "Unable to create the folder 'fldr'\n\nThe system cannot find the path specified");
    EXPECT_EQ(scripted.prompts->asked[2].text,
        "Unable to create the folder 'New Folder'\n\nCannot create a file when that file already exists");
}

TEST_F(ShellCommands, TheListCreatesAFolderAndEditsItsName)
{
    KeyList own(form.get());
    own.SetParent(form.get());
    own.SetOptions(ptsloAutoFill | ptsloDefaultKeyHandling);
    TPTShellLocator folder;
    folder.SetPathName(Data());
    own.SetFolder(&folder);
    const int before = own.Items().Count();
    ASSERT_TRUE(own.CreateNewFolder(true));
    EXPECT_TRUE(fs::is_directory(Data() + "/New Folder"));
    EXPECT_EQ(own.Items().Count(), before + 1);
    QCoreApplication::processEvents();  // message 1126
    ASSERT_TRUE(own.IsEditing());
    EXPECT_EQ(own.LabelEditor().Box()->text().toStdString(), "New Folder");
    own.LabelEditor().Box()->setText("Named");
    QTest::keyClick(own.LabelEditor().Box(), Qt::Key_Return);
    EXPECT_TRUE(fs::is_directory(Data() + "/Named"));
    // The tree's new folder lands below the selected node and is edited there.
    ASSERT_TRUE(tree->CreateNewFolder(true));
    ASSERT_TRUE(tree->IsEditing());
    EXPECT_EQ(tree->LabelEditor().Box()->text().toStdString(), "New Folder");
    QTest::keyClick(tree->LabelEditor().Box(), Qt::Key_Escape);
}

TEST_F(ShellCommands, AMissingVerbRunsNothing)
{
    QGuiApplication::clipboard()->clear();
    SelectOnly("a.txt");
    void* object = nullptr;
    ASSERT_EQ(list->GetUIObjectForAllSelected(IID_IContextMenu, &object), S_OK);
    auto* cm = static_cast<IContextMenu*>(object);
    EXPECT_EQ(FindContextMenuVerb(cm, "paste"), -1);
    EXPECT_EQ(FindContextMenuVerb(cm, "COPY"), 25);
    EXPECT_EQ(InvokeContextMenuVerb(0, cm, std::string("paste")), E_INVALIDARG);
    cm->Release();
    // The tree's root has no parent: nothing happens.
    EXPECT_EQ(tree->DoCommandForNode(tree->GetFirstRootLevelShellNode(), "delete"), S_FALSE);
}

} // namespace
