// The shell tree and list over a temporary folder tree and the real backend,
// with the test clock driving their timers: filling, the file filter,
// sorting by column clicks, selection by path and its order of events, the
// keyboard and notification delays, live refresh, custom-draw answers and
// header formats.
#include "shell_env.h"

#include "shell/ptshcontrols.h"
#include "shell/shlshares.h"

#include "rtl/clock.h"
#include "vcl/forms.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

std::vector<std::string> Names(TPTCustomShellList& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.Items().Count(); ++i)
        out.push_back(list.GetShListData(i)->GetDisplayName());
    return out;
}

class ShellControls : public ::testing::Test {
protected:
    ShellControls()
    {
        EnsureQtApplication();
        env.dir.Write("home/data/b.txt", "bb");
        env.dir.Write("home/data/a.TXT", "a");
        env.dir.Write("home/data/c.md", "ccc");
        env.dir.Write("home/data/notes", "n");
        std::filesystem::create_directories(env.Home() + "/data/sub/deeper");
        env.dir.Write("home/other/x.txt", "x");
        tree = std::make_unique<TPTShellTree>(nullptr);
        list = std::make_unique<TPTShellList>(nullptr);
        tree->SetOptions(ptstoAutoFill | ptstoShowHidden);
        list->SetOptions(ptsloAutoFill | ptsloHideFoldersWhenLinkedToTree | ptsloShowHidden);
        list->SetViewStyle(TViewStyle::vsReport);
        tree->SetShellList(list.get());
        // The deferred first fills of both controls run here.
        QCoreApplication::processEvents();
    }
    ~ShellControls() override
    {
        list.reset();
        tree.reset();
        QCoreApplication::processEvents();
    }
    std::string Data() const { return env.Home() + "/data"; }

    ScopedManualClock clock;
    ShellEnv env;
    std::unique_ptr<TPTShellTree> tree;
    std::unique_ptr<TPTShellList> list;
};

TEST_F(ShellControls, SelectingAPathFillsTheListWithColumnsSortedByName)
{
    tree->SetSelectedPathName(Data());
    EXPECT_EQ(tree->GetSelectedPathName(), Data());
    ASSERT_EQ(list->ColumnCount(), 4);
    EXPECT_EQ(list->Column(0).Caption, "Name");
    EXPECT_EQ(list->Column(1).Caption, "Size");
    EXPECT_TRUE(list->Column(1).RightAligned);
    EXPECT_EQ(list->Column(2).Caption, "Type");
    EXPECT_EQ(list->Column(3).Caption, "Modified");
    // Folders are the tree's: the list holds the files only.
    EXPECT_EQ(Names(*list), (std::vector<std::string> {"a.TXT", "b.txt", "c.md", "notes"}));
    // The texts come on demand from the items.
    EXPECT_EQ(list->Items()[1]->Caption(), "");
    EXPECT_EQ(list->GetShListData(1)->GetColText(1), "1KB");
    EXPECT_FALSE(list->GetShListData(1)->GetColText(3).empty());
    // The selected node's folder has been loaded below the home node.
    ASSERT_NE(tree->Selected(), nullptr);
    EXPECT_EQ(tree->Selected()->Text(), "data");
}

TEST_F(ShellControls, OnChangeFiresBeforeTheListRefillsAndNotAgainForTheSameFolder)
{
    tree->SetSelectedPathName(env.Home() + "/other");
    ASSERT_EQ(list->Items().Count(), 1);
    std::vector<int> countsSeen;
    tree->OnChange = [&](TObject*, TTreeNode*) { countsSeen.push_back(list->Items().Count()); };
    tree->SetSelectedPathName(Data());
    // The handler saw the previous folder's items; the list is current on return.
    EXPECT_EQ(countsSeen, std::vector<int> {1});
    EXPECT_EQ(list->Items().Count(), 4);
    tree->SetSelectedPathName(Data());
    EXPECT_EQ(countsSeen.size(), 1u) << "the same folder again changes nothing";
}

TEST_F(ShellControls, UnparsablePathSelectsTheDesktopRoot)
{
    tree->SetSelectedPathName(Data());
    tree->SetSelectedPathName("/no/such/folder/anywhere");
    EXPECT_EQ(tree->Selected(), tree->GetFirstRootLevelShellNode());
}

TEST_F(ShellControls, KeyboardMovesReachTheListOnceAfterQuietAndNotificationsDoNotCancelThem)
{
    tree->SetSelectedPathName(Data());
    TTreeNode* data = tree->Selected();
    TTreeNode* home = data->Parent();
    ASSERT_NE(home, nullptr);
    int changes = 0, fills = 0;
    tree->OnChange = [&](TObject*, TTreeNode*) { ++changes; };
    list->OnFillStart = [&](TObject*) { ++fills; };
    // Three quick selection changes without a click (keyboard moves).
    tree->SetSelected(home);
    clock.clock.Advance(200);
    tree->SetSelected(data->GetFirstChild() ? data->GetFirstChild() : data);
    clock.clock.Advance(200);
    // A change notification in between keeps the pending selection.
    tree->Perform(AM_CHANGENOTIFY, 0, 0);
    tree->SetSelected(home);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(fills, 0);
    EXPECT_TRUE(tree->SelectionUpdatePending());
    EXPECT_TRUE(tree->RefreshScheduled());
    clock.clock.Advance(499);
    EXPECT_EQ(fills, 0);
    clock.clock.Advance(1);
    EXPECT_EQ(fills, 1);
    EXPECT_EQ(list->Folder().GetPathName(), env.Home());
    // The refresh still runs when its own delay (2000 ms, not focused) is up.
    EXPECT_TRUE(tree->RefreshScheduled());
    clock.clock.Advance(2000);
    EXPECT_FALSE(tree->RefreshScheduled());
}

TEST_F(ShellControls, ANotificationWhileBusyIsKeptForTheEnd)
{
    tree->SetSelectedPathName(Data());
    list->BeginBusy();
    list->Perform(AM_CHANGENOTIFY, 0, 0);
    EXPECT_FALSE(list->RefreshScheduled());
    EXPECT_TRUE(list->RefreshPending());
    env.dir.Write("home/data/late.txt", "l");
    list->EndBusy();
    EXPECT_FALSE(list->RefreshPending());
    EXPECT_EQ(Names(*list), (std::vector<std::string> {"a.TXT", "b.txt", "c.md", "late.txt", "notes"}));
}

TEST_F(ShellControls, FilterTable)
{
    tree->SetSelectedPathName(Data());
    struct Case {
        const char* filter;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"*.txt", {"a.TXT", "b.txt"}},
        {"*.TXT;*.MD", {"a.TXT", "b.txt", "c.md"}},
        {"*.txt;*.md", {"a.TXT", "b.txt", "c.md"}},
        {"*.txt; *.md", {"a.TXT", "b.txt"}},           // the second mask starts with a space
        {"../other/*.txt;*.md", {"c.md"}},             // a mask never reaches another folder
        {"sub/*;;*.md", {"c.md"}},                     // nor one below; empty masks drop out
        {"*.", {"notes"}},                              // names without an extension
        {"?.md", {"c.md"}},
        {"*.*", {"a.TXT", "b.txt", "c.md", "notes"}},
        {"", {"a.TXT", "b.txt", "c.md", "notes"}},
    };
    for (const Case& c : cases) {
        list->SetFileFilter(c.filter);
        EXPECT_EQ(Names(*list), c.names) << c.filter;
    }
    int fills = 0;
    list->OnFillStart = [&](TObject*) { ++fills; };
    list->SetFileFilter("");
    EXPECT_EQ(fills, 0) << "the same filter text again does not refill";
    // Between filters that list everything the items stay; any other change
    // refills.
    struct Change {
        const char* filter;
        int fills;
        size_t count;
    };
    const Change changes[] = {{"*.*", 0, 4}, {"*", 0, 4}, {"*.txt", 1, 2}, {"*.*", 1, 4}, {"", 0, 4}};
    for (const Change& c : changes) {
        fills = 0;
        list->SetFileFilter(c.filter);
        EXPECT_EQ(fills, c.fills) << c.filter;
        EXPECT_EQ(Names(*list).size(), c.count) << c.filter;
    }
}

TEST_F(ShellControls, ColumnClicksSortAndReverse)
{
    tree->SetSelectedPathName(Data());
    EXPECT_EQ(list->SortColumn(), 1);
    EXPECT_EQ(list->HeaderSortColumn(), 0);
    EXPECT_EQ(list->HeaderSortDirection(), ptsdDesc);  // an ascending sort shows the up triangle
    const std::vector<std::string> ascending = Names(*list);
    auto click = [&](int column) { list->ColClick(column); };
    click(0);
    std::vector<std::string> reversed(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(Names(*list), reversed);
    EXPECT_EQ(list->SortColumn(), -1);
    EXPECT_EQ(list->HeaderSortDirection(), ptsdAsc);
    click(0);
    EXPECT_EQ(Names(*list), ascending);
    // By size: 1, 2, 3 and 1 bytes round up alike; names break no ties, order is stable.
    click(1);
    EXPECT_EQ(list->SortColumn(), 2);
    EXPECT_EQ(list->HeaderSortColumn(), 1);
}

TEST_F(ShellControls, LiveRefreshPutsNewFilesInTheirSortedPlaceAndDropsVanishedOnes)
{
    tree->SetSelectedPathName(Data());
    list->SetOptions(list->Options() | ptsloDynamicRefresh);
    // Made here or pasted: each new file takes its place in the order of the
    // sort column, ascending or descending; the selection stays on its file.
    struct Case {
        int sortColumn;
        std::vector<const char*> made, gone;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {1, {"0new.txt"}, {"b.txt"}, {"0new.txt", "a.TXT", "c.md", "notes"}},
        {1, {"zz.txt", "b2.txt", "m.txt"}, {}, {"0new.txt", "a.TXT", "b2.txt", "c.md", "m.txt", "notes", "zz.txt"}},
        {-1, {"d.txt"}, {"zz.txt"}, {"notes", "m.txt", "d.txt", "c.md", "b2.txt", "a.TXT", "0new.txt"}},
    };
    for (const Case& c : cases) {
        list->SetSortColumn(c.sortColumn);
        list->ClearSelection();
        for (int i = 0; i < list->Items().Count(); ++i)
            if (list->GetShListData(i)->GetDisplayName() == "c.md")
                list->Items()[i]->SetSelected(true);
        for (const char* name : c.made)
            env.dir.Write(std::string("home/data/") + name, "n");
        for (const char* name : c.gone)
            std::filesystem::remove(Data() + "/" + name);
        const int before = list->Items().Count();
        list->Perform(AM_CHANGENOTIFY, 0, 0);
        clock.clock.Advance(1999);
        EXPECT_EQ(list->Items().Count(), before);
        clock.clock.Advance(1);
        EXPECT_EQ(Names(*list), c.names);
        ASSERT_NE(list->Selected(), nullptr);
        EXPECT_EQ(list->GetSelectedItem()->GetDisplayName(), "c.md");
        EXPECT_EQ(list->SelCount(), 1);
    }
}

TEST_F(ShellControls, RealChangeNotificationsReachTheList)
{
    tree->SetSelectedPathName(Data());
    list->SetOptions(list->Options() | ptsloDynamicRefresh);
    env.dir.Write("home/data/from-shell.txt", "s");
    std::filesystem::rename(Data() + "/c.md", Data() + "/renamed.md");
    // The change thread posts its message; the event loop delivers it.
    for (int i = 0; i < 200 && !list->RefreshScheduled(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(list->RefreshScheduled());
    clock.clock.Advance(2000);
    const auto names = Names(*list);
    EXPECT_NE(std::find(names.begin(), names.end(), "from-shell.txt"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "renamed.md"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "c.md"), names.end());
}

TEST_F(ShellControls, AVanishedSelectedFolderSelectsItsParent)
{
    tree->SetSelectedPathName(Data() + "/sub/deeper");
    ASSERT_EQ(tree->GetSelectedPathName(), Data() + "/sub/deeper");
    std::filesystem::remove_all(Data() + "/sub");
    tree->Perform(AM_CHANGENOTIFY, 0, 0);
    clock.clock.Advance(2000);
    EXPECT_EQ(tree->GetSelectedPathName(), Data());
    EXPECT_EQ(list->Folder().GetPathName(), Data());
}

TEST_F(ShellControls, RealFolderChangesKeepTheTreesOpenFolders)
{
    std::filesystem::create_directories(Data() + "/sub/deeper/deepest");
    tree->SetOptions(tree->Options() | ptstoDynamicRefresh);
    tree->SetSelectedPathName(Data() + "/sub/deeper");
    TTreeNode* deeper = tree->Selected();
    ASSERT_EQ(deeper->Text(), "deeper");
    tree->Expand(deeper);
    TTreeNode* sub = deeper->Parent();
    TTreeNode* data = sub->Parent();
    TTreeNode* home = data->Parent();
    ASSERT_TRUE(tree->Expanded(sub) && tree->Expanded(data) && tree->Expanded(home));
    // A new folder beside the open one sorts in before it; files come and go.
    std::filesystem::create_directories(Data() + "/aaa-new");
    env.dir.Write("home/data/sub/new.txt", "n");
    std::filesystem::remove(Data() + "/b.txt");
    for (int i = 0; i < 200 && !tree->RefreshScheduled(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(tree->RefreshScheduled());
    clock.clock.Advance(2000);
    ASSERT_EQ(data->Count(), 2);
    EXPECT_EQ(data->Item(0)->Text(), "aaa-new");
    EXPECT_EQ(data->Item(1), sub);
    for (TTreeNode* open : {home, data, sub, deeper})
        EXPECT_TRUE(tree->Expanded(open)) << open->Text();
    EXPECT_EQ(tree->Selected(), deeper);
    EXPECT_EQ(list->Folder().GetPathName(), Data() + "/sub/deeper");
}

TEST_F(ShellControls, FailingAddItemHandlerLeavesNoHalfList)
{
    tree->SetSelectedPathName(env.Home() + "/other");
    int seen = 0;
    list->OnAddItem = [&](TObject*, IShellFolder*, LPCITEMIDLIST, LPCITEMIDLIST, ULONG, bool&) {
        if (++seen == 2)
            throw Exception("refused");
    };
    EXPECT_THROW(tree->SetSelectedPathName(Data()), Exception);
    // Nothing of either folder is listed under the other's name.
    for (int i = 0; i < list->Items().Count(); ++i)
        EXPECT_EQ(ExtractFilePath(list->GetShListData(i)->GetPathName()), Data() + "/");
    EXPECT_EQ(list->Items().Count(), 0);
}

TEST_F(ShellControls, OpenItemBranches)
{
    tree->SetSelectedPathName(env.Home());
    list->SetOptions(list->Options() & ~ptsloHideFoldersWhenLinkedToTree);
    list->RefreshItems();
    const auto names = Names(*list);
    const auto at = std::find(names.begin(), names.end(), "data");
    ASSERT_NE(at, names.end());
    // A folder item becomes the shown folder, through the tree.
    list->OpenItem(list->Items()[static_cast<int>(at - names.begin())]);
    EXPECT_EQ(tree->GetSelectedPathName(), Data());
    EXPECT_EQ(list->Folder().GetPathName(), Data());
    // A file goes to the double-click handler first; handled means nothing else.
    int asked = 0;
    list->OnDblClickOpen = [&](TObject*, bool& handled) {
        ++asked;
        handled = true;
    };
    const auto files = Names(*list);
    const auto b = std::find(files.begin(), files.end(), "b.txt");
    ASSERT_NE(b, files.end());
    list->OpenItem(list->Items()[static_cast<int>(b - files.begin())]);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(list->Folder().GetPathName(), Data());
}

// ---- custom draw and header ----

TEST_F(ShellControls, CustomDrawAnswers)
{
    TPTCustomTreeView plainTree(nullptr);
    TPTCustomListView plainList(nullptr);
    TDrawContext dc;
    dc.Font.Assign(plainTree.Font());
    NMTVCUSTOMDRAW tv;
    tv.nmcd.hdr.code = NM_CUSTOMDRAW;
    tv.nmcd.hdc = &dc;
    NMLVCUSTOMDRAW lv;
    lv.nmcd.hdr.code = NM_CUSTOMDRAW;
    lv.nmcd.hdc = &dc;
    lv.nmcd.dwItemSpec = static_cast<ULONG_PTR>(-1);
    for (DWORD stage : {CDDS_PREPAINT, CDDS_ITEMPREPAINT, CDDS_ITEMPOSTPAINT}) {
        tv.nmcd.dwDrawStage = lv.nmcd.dwDrawStage = stage;
        EXPECT_EQ(plainTree.Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&tv)), 0) << stage;
        EXPECT_EQ(plainList.Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&lv)), (stage & 1) ? 0x20 : 0) << stage;
    }
    // A handler's font: a new face is selected (CDRF_NEWFONT), a new colour
    // only changes the text colour.
    struct Case {
        bool newFace;
        LRESULT expected;
    };
    for (const Case c : {Case {false, 0}, Case {true, CDRF_NEWFONT}}) {
        dc.Font.Assign(plainTree.Font());
        plainTree.OnPTCustomDraw = [&](TObject*, TPTCustomDraw* cd, TTreeNode*) {
            TFont f;
            f.Assign(plainTree.Font());
            f.SetColor(clRed);
            if (c.newFace)
                f.SetStyle(fsBold);
            cd->SetFont(f);
            TBrush b;
            b.SetColor(clYellow);
            cd->SetBrush(b);
        };
        tv.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        tv.clrText = 0;
        tv.clrTextBk = 0;
        EXPECT_EQ(plainTree.Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&tv)), c.expected | CDRF_NOTIFYITEMDRAW);
        EXPECT_EQ(tv.clrText, ColorToRGB(clRed));
        EXPECT_EQ(tv.clrTextBk, ColorToRGB(clYellow));
        EXPECT_EQ(dc.Font.Style(), c.newFace ? fsBold : 0);
    }
    // SkipDefault asks the control to draw nothing of the item.
    plainTree.OnPTCustomDraw = [](TObject*, TPTCustomDraw* cd, TTreeNode*) { cd->SkipDefault = true; };
    EXPECT_EQ(plainTree.Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&tv)) & CDRF_SKIPDEFAULT, CDRF_SKIPDEFAULT);
}

TEST_F(ShellControls, HeaderFormatsFollowTheDisplayMode)
{
    tree->SetSelectedPathName(Data());
    list->SetHeaderSortDisplayMode(ptlvLeftAlign);
    for (int i = 0; i < list->HeaderItemCount(); ++i)
        EXPECT_EQ(list->GetHeaderItemFormat(i), HDF_OWNERDRAW | (i == 1 ? HDF_RIGHT : HDF_LEFT)) << i;
    // Common controls 6 draw their own arrows in this mode.
    list->SetHeaderSortDisplayMode(ptlvRightOfText);
    EXPECT_EQ(list->GetHeaderItemFormat(0), HDF_STRING | HDF_SORTDOWN);  // column 1 ascending
    EXPECT_EQ(list->GetHeaderItemFormat(1), HDF_STRING | HDF_RIGHT);
    list->SetHeaderSortColumn(-1);
    for (int i = 0; i < list->HeaderItemCount(); ++i)
        EXPECT_EQ(list->GetHeaderItemFormat(i) & (HDF_SORTUP | HDF_SORTDOWN), 0);
}

TEST(HeaderGlyphs, GeometryAndTriangles)
{
    EnsureQtApplication();
    // a = (2 + 18) / 2 - 1 = 9; top = (2 + 18 - 9) / 2 - 1 = 4.
    EXPECT_EQ(PTHeaderGlyphRect(Rect(4, 2, 100, 18)), Rect(4, 4, 14, 13));
    TBitmap bmp(20, 20);
    bmp.Canvas().Brush().SetColor(clWhite);
    bmp.Canvas().FillRect(Rect(0, 0, 20, 20));
    DrawUpArrow(bmp.Canvas(), Rect(2, 2, 12, 12), clNone, clBlack, clRed);
    // h = 9, w = 10: apex at (6, 2), base along row 10 in the second colour.
    EXPECT_EQ(bmp.Canvas().Pixel(6, 2), clBlack);
    EXPECT_EQ(bmp.Canvas().Pixel(5, 10), clRed);
    EXPECT_EQ(bmp.Canvas().Pixel(15, 15), clWhite) << "a fill of clNone leaves the background";
    DrawDownArrow(bmp.Canvas(), Rect(2, 2, 12, 12), clSilver, clBlack, clRed);
    EXPECT_EQ(bmp.Canvas().Pixel(5, 2), clBlack);  // the top edge in the first colour
    EXPECT_EQ(bmp.Canvas().Pixel(6, 6), clSilver);
}

} // namespace

namespace {

TEST_F(ShellControls, DesktopRootHoldsComputerAndHomeLoadedOnDemand)
{
    TTreeNode* root = tree->GetFirstRootLevelShellNode();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Text(), "Desktop");
    EXPECT_TRUE(tree->Expanded(root));
    TTreeNode* computer = nullptr;
    TTreeNode* home = nullptr;
    for (int i = 0; i < root->Count(); ++i) {
        if (root->Item(i)->Text() == "Computer")
            computer = root->Item(i);
        if (tree->GetDataFromNode(root->Item(i))->GetPathName() == env.Home())
            home = root->Item(i);
    }
    ASSERT_NE(computer, nullptr);
    ASSERT_NE(home, nullptr);
    // Children are enumerated when a node first opens.
    EXPECT_TRUE(home->HasChildren());
    EXPECT_EQ(home->Count(), 0);
    tree->Expand(home);
    std::vector<std::string> names;
    for (int i = 0; i < home->Count(); ++i)
        names.push_back(home->Item(i)->Text());
    // Hidden folders too (the tree shows them); in the shell's name order.
    EXPECT_EQ(names, (std::vector<std::string> {".config", "data", "Desk top", "other"}));
    // "other" has no subfolders: no button.
    EXPECT_FALSE(home->Item(3)->HasChildren());
    EXPECT_TRUE(home->Item(1)->HasChildren());
}

} // namespace

#include <QAbstractScrollArea>
#include <QMouseEvent>
#include <QWidget>

namespace {

void ClickAt(QWidget* viewport, QPoint p)
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(p), viewport->mapToGlobal(QPointF(p)), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(p), viewport->mapToGlobal(QPointF(p)), Qt::LeftButton,
        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &release);
}

TEST_F(ShellControls, AClickReachesTheListAtOnceAndOnlyThatClick)
{
    tree->SetBounds(0, 0, 300, 400);
    tree->Widget()->show();
    tree->SetSelectedPathName(Data());
    TTreeNode* data = tree->Selected();
    TTreeNode* sub = data->GetFirstChild();
    ASSERT_NE(sub, nullptr);
    ASSERT_EQ(sub->Text(), "sub");
    int clicks = 0;
    tree->OnClick = [&](TObject*) { ++clicks; };
    auto* area = static_cast<QAbstractScrollArea*>(tree->Widget());
    const TRect r = tree->NodeRect(sub, true);
    const QPoint inViewport = area->viewport()->mapFrom(area, QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2));
    ClickAt(area->viewport(), inViewport);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(tree->Selected(), sub);
    EXPECT_FALSE(tree->SelectionUpdatePending());
    EXPECT_EQ(list->Folder().GetPathName(), Data() + "/sub");
    // The next selection change without a click waits for quiet again.
    tree->SetSelected(data);
    EXPECT_TRUE(tree->SelectionUpdatePending());
    clock.clock.Advance(500);
    EXPECT_EQ(list->Folder().GetPathName(), Data());
}

// The selected folder stays wholly in view when the tree gets smaller after
// it was scrolled there (as when the window takes its final size).
TEST_F(ShellControls, TheSelectedFolderStaysInViewWhenTheTreeShrinks)
{
    for (int i = 10; i < 70; ++i)
        std::filesystem::create_directories(Data() + "/sub/deeper/d" + std::to_string(i));
    tree->SetBounds(0, 0, 300, 600);
    tree->Widget()->show();
    QCoreApplication::processEvents();
    auto* area = static_cast<QAbstractScrollArea*>(tree->Widget());
    for (const int height : {500, 360, 200, 90}) {
        tree->SetBounds(0, 0, 300, 600);
        QCoreApplication::processEvents();
        tree->SetSelectedPathName(Data() + "/sub/deeper/d" + std::to_string(height / 10 + 10));
        const TRect before = tree->NodeRect(tree->Selected(), false);
        ASSERT_LE(before.Bottom, area->viewport()->mapTo(area, QPoint(0, area->viewport()->height())).y());
        tree->SetBounds(0, 0, 300, height);
        QCoreApplication::processEvents();
        const TRect r = tree->NodeRect(tree->Selected(), false);
        const QRect shown(area->viewport()->mapTo(area, QPoint(0, 0)), area->viewport()->size());
        EXPECT_GE(r.Top, shown.top()) << height;
        EXPECT_LE(r.Bottom, shown.bottom() + 1) << height;
    }
}

// The filter holds in a folder clicked after any other, a virtual one too.
TEST_F(ShellControls, TheFilterHoldsInAFolderClickedAfterAnyOther)
{
    tree->SetBounds(0, 0, 300, 400);
    tree->Widget()->show();
    tree->SetSelectedPathName(Data());
    TTreeNode* data = tree->Selected();
    TTreeNode* root = tree->GetFirstRootLevelShellNode();
    TTreeNode* computer = nullptr;
    for (int i = 0; i < root->Count(); ++i)
        if (root->Item(i)->Text() == "Computer")
            computer = root->Item(i);
    ASSERT_NE(computer, nullptr);
    list->SetFileFilter("*.txt");
    ASSERT_EQ(Names(*list), (std::vector<std::string> {"a.TXT", "b.txt"}));
    auto* area = static_cast<QAbstractScrollArea*>(tree->Widget());
    auto click = [&](TTreeNode* node) {
        const TRect r = tree->NodeRect(node, true);
        ClickAt(area->viewport(), area->viewport()->mapFrom(area, QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2)));
        EXPECT_EQ(tree->Selected(), node);
    };
    struct Case {
        const char* name;
        TTreeNode* before;
    };
    const Case cases[] = {{"Computer", computer}, {"the desktop", root}, {"a filtered folder", data->Parent()}};
    for (const Case& c : cases) {
        click(c.before);
        click(data);
        EXPECT_EQ(Names(*list), (std::vector<std::string> {"a.TXT", "b.txt"})) << "after " << c.name;
    }
}

} // namespace

#include <QAbstractItemView>
#include <QImage>

namespace {

int RedPixels(const TBitmap& bmp)
{
    int n = 0;
    const QImage& img = bmp.Image();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.red() > 150 && c.green() < 90 && c.blue() < 90;
        }
    return n;
}

TEST_F(ShellControls, CustomDrawAnswersSteerThePainting)
{
    list->SetBounds(0, 0, 500, 200);
    tree->SetSelectedPathName(Data());
    TBitmap plain;
    list->PaintTo(plain);
    EXPECT_EQ(RedPixels(plain), 0);
    int itemCalls = 0;
    list->OnCustomDrawSh = [&](TObject*, TPTCustomDraw* cd, TListItem* item, TPTShListData* data) {
        ++itemCalls;
        ASSERT_NE(data, nullptr);
        if (item->Index() == 1)
            cd->GetFont().SetColor(clRed);
    };
    TBitmap red;
    list->PaintTo(red);
    EXPECT_EQ(itemCalls, list->Items().Count()) << "one item pre-paint per row shown";
    EXPECT_GT(RedPixels(red), 10) << "the handler's font colour reaches the row's text";
    // Skipping the default drawing leaves the rows empty.
    list->OnCustomDrawSh = [&](TObject*, TPTCustomDraw* cd, TListItem* item, TPTShListData*) {
        cd->SkipDefault = true;
        if (item->Index() == 1)
            cd->GetFont().SetColor(clRed);
    };
    TBitmap skipped;
    list->PaintTo(skipped);
    EXPECT_EQ(RedPixels(skipped), 0);
}

// The darkest grey of a rectangle (0 black, 255 white).
int Darkest(const QImage& image, const QRect& rect)
{
    int darkest = 255;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.valid(x, y))
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

// A link carries the link emblem over its icon and a hidden item is drawn
// dimmed, in the list and in the tree alike.
TEST_F(ShellControls, LinksShowTheirEmblemAndHiddenItemsAreDimmed)
{
    env.dir.Write("home/data/plain.txt", "p");
    env.dir.Write("home/data/other.txt", "o");
    env.dir.Write("home/data/.hidden.txt", "h");
    std::filesystem::create_symlink("plain.txt", Data() + "/link.txt");
    std::filesystem::create_directories(Data() + "/plain");
    std::filesystem::create_directories(Data() + "/.hidden");
    std::filesystem::create_symlink("plain", Data() + "/linked");
    std::filesystem::create_directories(Data() + "/shared");
    env.dir.Write("exports", Data() + "/shared *(ro)\n");
    ShellSetShareSourcesForTest("/nonexistent", "/nonexistent", env.dir.Path("exports"));
    struct Restore {
        ~Restore() { ShellSetShareSourcesForTest("", "", ""); }
    } restore;
    list->SetBounds(0, 0, 500, 300);
    tree->SetBounds(0, 0, 300, 500);
    tree->SetSelectedPathName(Data());
    tree->Expand(tree->Selected());

    auto* view = static_cast<QAbstractItemView*>(list->ActiveView());
    view->viewport()->resize(480, 260);
    const QImage listImage = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    auto row = [&](const std::string& name) {
        for (int i = 0; i < list->Items().Count(); ++i)
            if (list->GetShListData(i)->GetDisplayName() == name)
                return view->visualRect(view->model()->index(i, 0));
        ADD_FAILURE() << "no row " << name;
        return QRect();
    };
    TBitmap treeBitmap;
    tree->PaintTo(treeBitmap);
    const QImage treeImage = treeBitmap.Image().convertToFormat(QImage::Format_RGB32);
    auto node = [&](const std::string& name) {
        TTreeNode* data = tree->Selected();
        for (int i = 0; i < data->Count(); ++i)
            if (data->Item(i)->Text() == name) {
                const TRect r = tree->NodeRect(data->Item(i), true);
                return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
            }
        ADD_FAILURE() << "no node " << name;
        return QRect();
    };
    struct View {
        const char* name;
        const QImage& image;
        QRect plain, other, link, hidden, shared;
    };
    // The list leaves folders to the tree: its shared folders are the tree's.
    const View views[] = {
        {"list", listImage, row("plain.txt"), row("other.txt"), row("link.txt"), row(".hidden.txt"), QRect()},
        {"tree", treeImage, node("plain"), node("sub"), node("linked"), node(".hidden"), node("shared")},
    };
    for (const View& v : views) {
        SCOPED_TRACE(v.name);
        // The icon sits at the left of the row's first cell; the text follows.
        auto icon = [&](const QRect& r) {
            const QImage cell = v.image.copy(r);
            for (int x = 0; x < cell.width(); ++x)
                for (int y = 0; y < cell.height(); ++y)
                    if (cell.pixel(x, y) != cell.pixel(0, 0))
                        return v.image.copy(QRect(r.left() + x, r.top(), 16, r.height()));
            return QImage();
        };
        auto text = [&](const QRect& r) { return QRect(r.left() + 26, r.top(), r.width() - 26, r.height()); };
        ASSERT_FALSE(icon(v.plain).isNull());
        EXPECT_EQ(icon(v.plain), icon(v.other)) << "two plain items of a type look alike";
        EXPECT_NE(icon(v.link), icon(v.plain)) << "the link carries an emblem";
        EXPECT_NE(icon(v.hidden), icon(v.plain)) << "the hidden item's icon is dimmed";
        EXPECT_GT(Darkest(v.image, text(v.hidden)), Darkest(v.image, text(v.plain)) + 40)
            << "the hidden item's name is dimmed";
        EXPECT_EQ(Darkest(v.image, text(v.link)), Darkest(v.image, text(v.plain))) << "a link's name is not";
        if (!v.shared.isNull()) {
            EXPECT_NE(icon(v.shared), icon(v.plain)) << "a shared folder carries an emblem";
            EXPECT_NE(icon(v.shared), icon(v.link)) << "another than a link's";
        }
    }
}

TEST_F(ShellControls, ColumnWidthsCarryOverToTheNextFolder)
{
    tree->SetSelectedPathName(Data());
    list->SetColumnWidth(0, 321);
    tree->SetSelectedPathName(env.Home() + "/other");
    EXPECT_EQ(list->ColumnWidth(0), 321);
}

TEST_F(ShellControls, ADeviceArrivalRefillsComputer)
{
    TPTShellList alone(nullptr);
    TPTShellLocator computer;
    computer.SetCSIDL(csidlDrives);
    alone.SetFolder(&computer);
    ASSERT_GT(alone.Items().Count(), 0);
    int fills = 0;
    alone.OnFillStart = [&](TObject*) { ++fills; };
    TMessage arrival {AM_DEVICECHANGE, 0x8000, 0, 0};
    PTDeviceChangeHandler()->BroadcastToList(arrival);
    EXPECT_EQ(fills, 1);
    TMessage other {AM_DEVICECHANGE, 0x0007, 0, 0};
    PTDeviceChangeHandler()->BroadcastToList(other);
    EXPECT_EQ(fills, 1) << "other device events are ignored";
}

class RecordingList : public TPTShellList {
public:
    using TPTShellList::TPTShellList;
    std::vector<std::string> opened;

protected:
    void InvokeDefaultVerb(const std::vector<LPCITEMIDLIST>& items) override
    {
        for (LPCITEMIDLIST item : items)
            opened.push_back(ShellGetFriendlyNameFromIdList(GetListFolder(), item, ptfnForParsing));
    }
};

TEST_F(ShellControls, AFileNobodyTakesOverRunsItsDefaultVerb)
{
    RecordingList own(nullptr);
    TPTShellLocator folder;
    folder.SetPathName(Data());
    own.SetFolder(&folder);
    ASSERT_EQ(own.GetShListData(1)->GetDisplayName(), "a.TXT");
    own.OpenItem(own.Items()[1]);
    EXPECT_EQ(own.opened, std::vector<std::string> {Data() + "/a.TXT"});
}

} // namespace
