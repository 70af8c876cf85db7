// Drags between the shell list and tree through the scripted drag loop:
// list items dropped on a tree folder (moved, Ctrl copied, Ctrl+Shift
// linked), a drag of the list over its own empty space (refused with the
// left button, a menu without a move with the right), the tree's root
// answering none, a closed folder opened by hovering, the node and item
// under a drag drawn as its target, scrolling at the edges on the test
// clock, and the wheel reaching the list under the pointer while the tree
// has the focus.
#include "shell_env.h"

#include "shell/ptshcontrols.h"
#include "shell/shlapps.h"
#include "shell/shldragdrop.h"

#include "test_support/scripted_drag.h"

#include "ole/ole_p.h"

#include "rtl/clock.h"
#include "vcl/forms.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>
#include <QMouseEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

class ShellDragControls : public ::testing::Test {
protected:
    ShellDragControls()
    {
        EnsureShellApplication();
        env.dir.Write("home/data/a.txt", "a");
        env.dir.Write("home/data/b.txt", "b");
        env.dir.Write("home/other/deep/x.txt", "x");
        form = std::make_unique<TForm>(nullptr);
        tree = new TPTShellTree(form.get());
        tree->SetParent(form.get());
        list = new TPTShellList(form.get());
        list->SetParent(form.get());
        tree->SetOptions(ptstoAutoFill | ptstoShowHidden | ptstoOleDrag | ptstoOleDrop);
        list->SetOptions(ptsloAutoFill | ptsloHideFoldersWhenLinkedToTree | ptsloShowHidden | ptsloOleDrag
            | ptsloOleDrop);
        list->SetViewStyle(TViewStyle::vsReport);
        list->SetMultiSelect(true);
        tree->SetShellList(list);
        form->SetBounds(0, 0, 600, 400);
        tree->SetBounds(0, 0, 250, 400);
        list->SetBounds(250, 0, 350, 400);
        form->Show();
        QCoreApplication::processEvents();
        tree->SetSelectedPathName(env.Home() + "/other");
        otherNode = tree->Selected();
        tree->SetSelectedPathName(Data());
    }
    ~ShellDragControls() override
    {
        SetDragDriver(nullptr);
        form.reset();
        QCoreApplication::processEvents();
    }
    std::string Data() const { return env.Home() + "/data"; }
    void SelectOnly(const std::string& name)
    {
        list->ClearSelection();
        for (int i = 0; i < list->Items().Count(); ++i)
            if (list->GetShListData(i)->GetDisplayName() == name)
                list->Items()[i]->SetSelected(true);
    }
    POINTL NodePoint(TTreeNode* node) const
    {
        const TRect r = tree->NodeRect(node, true);
        const TPoint p = tree->ClientToScreen(TPoint {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2});
        return POINTL {p.X, p.Y};
    }
    POINTL ListEmptyPoint() const
    {
        const TPoint p = list->ClientToScreen(TPoint {300, 380});
        return POINTL {p.X, p.Y};
    }
    // Drags the list's selection with the button to the point and lets go
    // there with the keys held.
    ScriptedDrag* DragSelection(int button, POINTL to, DWORD keys)
    {
        const DWORD held = button == 0 ? MK_LBUTTON : MK_RBUTTON;
        auto driver = std::make_unique<ScriptedDrag>(std::vector<DragStep> {{to, held | keys}, {to, held | keys}, {to, keys}});
        ScriptedDrag* raw = driver.get();
        SetDragDriver(std::move(driver));
        list->OleBeginDrag(button);
        return raw;
    }

    ScopedManualClock clock;
    ShellEnv env;
    std::unique_ptr<TForm> form;
    TPTShellTree* tree = nullptr;
    TPTShellList* list = nullptr;
    TTreeNode* otherNode = nullptr;
};

// Answers the next popup menu: records its entries and presses Escape.
void RecordAndCloseNextMenu(std::vector<std::string>* seen)
{
    QTimer::singleShot(0, [seen] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            ADD_FAILURE() << "no menu is open";
            return;
        }
        for (QAction* a : menu->actions())
            seen->push_back(a->isSeparator() ? "-" : a->text().remove('&').toStdString());
        QTest::keyClick(menu, Qt::Key_Escape);
    });
}

} // namespace

TEST_F(ShellDragControls, ListItemsDroppedOnATreeFolderMoveCopyOrLinkByKeys)
{
    ASSERT_NE(otherNode, nullptr);
    const std::string other = env.Home() + "/other";
    struct Case {
        const char* file;
        DWORD keys;
        DWORD effect;
    };
    const Case cases[] = {
        {"a.txt", MK_CONTROL, DROPEFFECT_COPY},
        {"a.txt", MK_CONTROL | MK_SHIFT, DROPEFFECT_LINK},
        {"b.txt", 0, DROPEFFECT_MOVE},
    };
    for (const Case& c : cases) {
        fs::remove(other + "/" + c.file);
        SelectOnly(c.file);
        ScriptedDrag* drag = DragSelection(0, NodePoint(otherNode), c.keys);
        EXPECT_EQ(drag->runs, 1);
        EXPECT_EQ(drag->offered, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK);
        ASSERT_FALSE(drag->feedback.empty());
        EXPECT_EQ(drag->feedback.back(), c.effect) << c.file << " " << c.keys;
        EXPECT_TRUE(fs::exists(other + "/" + c.file)) << c.file;
        EXPECT_EQ(fs::is_symlink(other + "/" + c.file), c.effect == DROPEFFECT_LINK);
        EXPECT_EQ(fs::exists(Data() + "/" + c.file), c.effect != DROPEFFECT_MOVE);
    }
    EXPECT_EQ(tree->DropHighlight(), nullptr);
    EXPECT_FALSE(list->RefreshPending());
}

// A selection with gaps: the data object holds the selected rows alone, in
// the list's order, as item lists (each the row's own) and as file names.
TEST_F(ShellDragControls, TheDragOfASelectionHoldsItsRowsInOrderAsListsAndNames)
{
    env.dir.Write("home/data/c.txt", "c");
    env.dir.Write("home/data/d e.txt", "d");
    list->RefreshItems();
    list->ClearSelection();
    const std::vector<std::string> chosen = {"a.txt", "c.txt", "d e.txt"};
    std::vector<LPCITEMIDLIST> rows;
    for (int i = 0; i < list->Items().Count(); ++i) {
        const std::string name = list->GetShListData(i)->GetDisplayName();
        if (std::find(chosen.begin(), chosen.end(), name) != chosen.end()) {
            list->Items()[i]->SetSelected(true);
            rows.push_back(list->GetShListData(i)->GetRelativeIdList());
        }
    }
    ASSERT_EQ(rows.size(), chosen.size());
    TComPtr<IDataObject> data = list->SelectionDataObject();
    ASSERT_TRUE(data);

    std::string expected;
    for (const std::string& name : chosen)
        expected += QUrl::fromLocalFile(QString::fromStdString(Data() + "/" + name)).toEncoded().toStdString() + "\r\n";
    TDataObjectMime mime(data.Get());
    EXPECT_EQ(mime.data("text/uri-list").toStdString(), expected);

    FORMATETC request = ContentFormat(ShellIdListFormat());
    STGMEDIUM medium {};
    ASSERT_EQ(data->GetData(&request, &medium), S_OK);
    const auto* block = static_cast<const BYTE*>(GlobalLock(medium.hGlobal));
    std::uint32_t count = 0;
    std::memcpy(&count, block, sizeof count);
    EXPECT_EQ(count, rows.size());
    // An item list: its items, each led by its 16-bit size, up to a zero one.
    auto bytesOf = [](LPCITEMIDLIST list) {
        const auto* p = reinterpret_cast<const BYTE*>(list);
        std::size_t n = 0;
        for (std::uint16_t cb; std::memcpy(&cb, p + n, 2), cb != 0;)
            n += cb;
        return std::string(reinterpret_cast<const char*>(p), n + 2);
    };
    for (std::size_t k = 0; k < rows.size() && k < count; ++k)
        EXPECT_EQ(bytesOf(TIdListArrayBuilder::ListOf(medium.hGlobal, k + 1)), bytesOf(rows[k])) << chosen[k];
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
}

TEST_F(ShellDragControls, TheListsOwnEmptySpaceRefusesALeftDragAndOffersNoMoveToARightOne)
{
    SelectOnly("a.txt");
    ScriptedDrag* drag = DragSelection(0, ListEmptyPoint(), 0);
    ASSERT_FALSE(drag->feedback.empty());
    EXPECT_EQ(drag->feedback.back(), DROPEFFECT_NONE);
    EXPECT_EQ(std::distance(fs::directory_iterator(Data()), fs::directory_iterator()), 2);

    std::vector<std::string> seen;
    RecordAndCloseNextMenu(&seen);
    drag = DragSelection(1, ListEmptyPoint(), 0);
    EXPECT_EQ(drag->feedback.back(), DROPEFFECT_COPY);
    EXPECT_EQ(seen, (std::vector<std::string> {"Copy Here", "Create Link Here", "-", "Cancel"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(Data()), fs::directory_iterator()), 2);
}

TEST_F(ShellDragControls, TheRootNodeAnswersNoneAndHoveringOpensAClosedFolder)
{
    TTreeNode* root = tree->GetFirstNode();
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->Parent(), nullptr);
    IDropTarget* target = RegisteredDropTargetAt(NodePoint(otherNode));
    ASSERT_NE(target, nullptr);
    // Another program's file.
    QMimeData mime;
    mime.setData("text/uri-list", QUrl::fromLocalFile(QString::fromStdString(Data() + "/a.txt")).toEncoded());
    TComPtr<IDataObject> object = DataObjectOfMime(&mime);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_GT(tree->NodeRect(root, true).Bottom, 0);
    EXPECT_EQ(target->DragEnter(object.Get(), MK_LBUTTON, NodePoint(root), &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    // Moving over the root asks its drop target again: the desktop folder
    // takes files.
    effect = DROPEFFECT_COPY;
    target->DragOver(MK_LBUTTON, NodePoint(root), &effect);
    EXPECT_EQ(tree->DropHighlight(), root);
    target->DragLeave();
    // The "other" folder is closed; a drag resting on it opens it.
    tree->Collapse(otherNode);
    ASSERT_FALSE(tree->Expanded(otherNode));
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragEnter(object.Get(), MK_LBUTTON, NodePoint(otherNode), &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
    EXPECT_EQ(tree->DropHighlight(), otherNode);
    clock.clock.Advance(300);
    effect = DROPEFFECT_COPY;
    target->DragOver(MK_LBUTTON, NodePoint(otherNode), &effect);
    EXPECT_FALSE(tree->Expanded(otherNode));
    clock.clock.Advance(150);
    effect = DROPEFFECT_COPY;
    target->DragOver(MK_LBUTTON, NodePoint(otherNode), &effect);
    EXPECT_TRUE(tree->Expanded(otherNode));
    target->DragLeave();
    EXPECT_EQ(tree->DropHighlight(), nullptr);
}

namespace {
void SendMouse(QWidget* viewport, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent e(type, QPointF(at), viewport->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &e);
}
} // namespace

TEST_F(ShellDragControls, ABoundDragOfTheMouseStartsTheDragOfTheListAndTheTree)
{
    // The list: a press on a row and a move past the drag distance with the
    // button held drag the selection; the scripted loop drops it on "other".
    auto* view = static_cast<QAbstractItemView*>(list->ActiveView());
    QWidget* viewport = view->viewport();
    int row = -1;
    for (int i = 0; i < list->Items().Count(); ++i)
        if (list->GetShListData(i)->GetDisplayName() == "a.txt")
            row = i;
    ASSERT_GE(row, 0);
    const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
    auto driver = std::make_unique<ScriptedDrag>(
        std::vector<DragStep> {{NodePoint(otherNode), MK_LBUTTON | MK_CONTROL}, {NodePoint(otherNode), MK_CONTROL}});
    ScriptedDrag* drag = driver.get();
    SetDragDriver(std::move(driver));
    SendMouse(viewport, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    SendMouse(viewport, QEvent::MouseMove, at + QPoint(1, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(drag->runs, 0) << "within the drag distance nothing starts";
    SendMouse(viewport, QEvent::MouseMove, at + QPoint(QApplication::startDragDistance() + 2, 0), Qt::NoButton,
        Qt::LeftButton);
    EXPECT_EQ(drag->runs, 1);
    EXPECT_TRUE(fs::exists(env.Home() + "/other/a.txt"));
    EXPECT_TRUE(fs::exists(Data() + "/a.txt"));

    // The tree: the right button drags a node, and a right-button drop asks.
    QWidget* treeViewport = static_cast<QAbstractItemView*>(tree->Widget())->viewport();
    const TRect r = tree->NodeRect(otherNode, true);
    const QPoint nodeAt = treeViewport->mapFrom(tree->Widget(), QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2));
    driver = std::make_unique<ScriptedDrag>(
        std::vector<DragStep> {{ListEmptyPoint(), MK_RBUTTON}, {ListEmptyPoint(), 0}});
    drag = driver.get();
    SetDragDriver(std::move(driver));
    std::vector<std::string> seen;
    RecordAndCloseNextMenu(&seen);
    SendMouse(treeViewport, QEvent::MouseButtonPress, nodeAt, Qt::RightButton, Qt::RightButton);
    SendMouse(treeViewport, QEvent::MouseMove, nodeAt + QPoint(0, QApplication::startDragDistance() + 2), Qt::NoButton,
        Qt::RightButton);
    EXPECT_EQ(drag->runs, 1);
    EXPECT_EQ(seen, (std::vector<std::string> {"Copy Here", "Move Here", "Create Link Here", "-", "Cancel"}));
    EXPECT_TRUE(fs::exists(env.Home() + "/other"));
    EXPECT_FALSE(fs::exists(Data() + "/other"));
}

// Records every popup menu that opens while it lives (its entries) and
// closes it with Escape.
class MenuRecorder {
public:
    MenuRecorder()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            std::vector<std::string> entries;
            for (QAction* a : menu->actions())
                entries.push_back(a->isSeparator() ? "-" : a->text().remove('&').toStdString());
            menus.push_back(entries);
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        m_timer.start();
    }
    std::vector<std::vector<std::string>> menus;

private:
    QTimer m_timer;
};

// With the shell menus on, a right click opens the item's menu when the
// button comes up, and a right-button drag past the drag distance drags
// instead, ending in the drop menu: in the list and in the tree.
TEST_F(ShellDragControls, ARightClickOpensTheMenuOnReleaseAndARightDragOffersTheDropMenu)
{
    tree->SetOptions(tree->Options() | ptstoContextMenus);
    list->SetOptions(list->Options() | ptsloContextMenus);
    auto* listView = static_cast<QAbstractItemView*>(list->ActiveView());
    int row = -1;
    for (int i = 0; i < list->Items().Count(); ++i)
        if (list->GetShListData(i)->GetDisplayName() == "a.txt")
            row = i;
    ASSERT_GE(row, 0);
    auto* treeView = static_cast<QAbstractItemView*>(tree->Widget());
    const TRect r = tree->NodeRect(otherNode, true);
    struct Case {
        const char* name;
        QWidget* viewport;
        QPoint at;
        POINTL dropOn;
    };
    const Case cases[] = {
        {"list", listView->viewport(), listView->visualRect(listView->model()->index(row, 0)).center(),
            NodePoint(otherNode)},
        {"tree", treeView->viewport(),
            treeView->viewport()->mapFrom(treeView, QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2)),
            ListEmptyPoint()},
    };
    const std::vector<std::string> dropMenu {"Copy Here", "Move Here", "Create Link Here", "-", "Cancel"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A click: nothing opens on the press; the item's menu on the release.
        {
            MenuRecorder menus;
            SendMouse(c.viewport, QEvent::MouseButtonPress, c.at, Qt::RightButton, Qt::RightButton);
            EXPECT_TRUE(menus.menus.empty()) << "no menu on the press";
            SendMouse(c.viewport, QEvent::MouseButtonRelease, c.at, Qt::RightButton, Qt::NoButton);
            ASSERT_EQ(menus.menus.size(), 1u) << "the menu opens on the release";
            EXPECT_EQ(menus.menus[0].front(), "Open");
            EXPECT_NE(std::find(menus.menus[0].begin(), menus.menus[0].end(), "Properties"), menus.menus[0].end());
        }
        // A drag: the press opens nothing, the move drags, the drop asks;
        // the release that follows is no click.
        auto driver = std::make_unique<ScriptedDrag>(std::vector<DragStep> {{c.dropOn, MK_RBUTTON}, {c.dropOn, 0}});
        ScriptedDrag* drag = driver.get();
        SetDragDriver(std::move(driver));
        MenuRecorder menus;
        SendMouse(c.viewport, QEvent::MouseButtonPress, c.at, Qt::RightButton, Qt::RightButton);
        SendMouse(c.viewport, QEvent::MouseMove, c.at + QPoint(QApplication::startDragDistance() + 2, 0), Qt::NoButton,
            Qt::RightButton);
        SendMouse(c.viewport, QEvent::MouseButtonRelease, c.at, Qt::RightButton, Qt::NoButton);
        EXPECT_EQ(drag->runs, 1);
        EXPECT_EQ(menus.menus, std::vector<std::vector<std::string>> {dropMenu});
    }
    EXPECT_TRUE(fs::exists(Data() + "/a.txt"));
    EXPECT_TRUE(fs::exists(env.Home() + "/other"));
}

namespace {

// The colour most pixels of the rectangle have.
QRgb Dominant(const QImage& image, const QRect& rect)
{
    std::map<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.valid(x, y))
                ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (const auto& [rgb, n] : counts)
        if (n > most) {
            best = rgb;
            most = n;
        }
    return best;
}

// Two colours a person takes for the same.
bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 12 && std::abs(qGreen(a) - qGreen(b)) <= 12
        && std::abs(qBlue(a) - qBlue(b)) <= 12;
}

QImage TreeImage(TPTShellTree* tree)
{
    TBitmap bitmap;
    tree->PaintTo(bitmap);
    return bitmap.Image().convertToFormat(QImage::Format_RGB32);
}

QRect RectOf(const TRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }

TComPtr<IDataObject> UriListOf(const std::string& path, QMimeData& mime)
{
    mime.setData("text/uri-list", QUrl::fromLocalFile(QString::fromStdString(path)).toEncoded());
    return DataObjectOfMime(&mime);
}

std::string Numbered(const char* prefix, int i) { return prefix + std::to_string(100 + i).substr(1); }

} // namespace

TEST_F(ShellDragControls, TheNodeAndTheItemUnderADragAreDrawnAsItsTarget)
{
    // A link to a folder is an item of the list that takes drops.
    env.dir.Write("home/data/to-other.desktop",
        "[Desktop Entry]\nType=Link\nName=x\nURL=" + ShellFileUrl(env.Home() + "/other") + "\n");
    list->FillItems();
    QMimeData mime;
    TComPtr<IDataObject> object = UriListOf(env.Home() + "/other/deep/x.txt", mime);

    TTreeNode* selected = tree->Selected();
    ASSERT_NE(selected, otherNode);
    // The names without their icons: a short name's cell is mostly its icon.
    const QRect selectedRect = RectOf(tree->NodeRect(selected, true)).adjusted(20, 0, 0, 0);
    const QRect otherRect = RectOf(tree->NodeRect(otherNode, true)).adjusted(20, 0, 0, 0);
    QImage image = TreeImage(tree);
    const QRgb selectedLook = Dominant(image, selectedRect), plainLook = Dominant(image, otherRect);
    ASSERT_NE(selectedLook, plainLook);
    IDropTarget* target = RegisteredDropTargetAt(NodePoint(otherNode));
    ASSERT_NE(target, nullptr);
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragEnter(object.Get(), MK_LBUTTON, NodePoint(otherNode), &effect), S_OK);
    EXPECT_EQ(tree->DropHighlight(), otherNode);
    image = TreeImage(tree);
    EXPECT_PRED2(Near, Dominant(image, otherRect), selectedLook) << "the target looks selected";
    // The selected node does not, meanwhile (it keeps the style's faint
    // current-item frame).
    EXPECT_FALSE(Near(Dominant(image, selectedRect), selectedLook));
    target->DragLeave();
    image = TreeImage(tree);
    EXPECT_PRED2(Near, Dominant(image, otherRect), plainLook);
    EXPECT_PRED2(Near, Dominant(image, selectedRect), selectedLook);

    auto* view = static_cast<QAbstractItemView*>(list->ActiveView());
    int row = -1;
    for (int i = 0; i < list->Items().Count(); ++i)
        if (list->GetShListData(i)->GetDisplayName() == "to-other.desktop")
            row = i;
    ASSERT_GE(row, 0);
    const QRect itemRect = view->visualRect(view->model()->index(row, 0));
    const QPoint itemAt = view->viewport()->mapToGlobal(itemRect.center());
    const QRgb before = Dominant(view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), itemRect);
    target = RegisteredDropTargetAt(POINTL {itemAt.x(), itemAt.y()});
    ASSERT_NE(target, nullptr);
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragEnter(object.Get(), MK_LBUTTON, POINTL {itemAt.x(), itemAt.y()}, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
    EXPECT_EQ(list->DropHighlight(), list->Items()[row]);
    const QRgb during = Dominant(view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), itemRect);
    EXPECT_NE(during, before) << "the item under the drag is drawn as its target";
    target->DragLeave();
    EXPECT_EQ(list->DropHighlight(), nullptr);
    EXPECT_EQ(Dominant(view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), itemRect), before);
}

TEST_F(ShellDragControls, ADragNearAnEdgeScrollsOneStepAtATimeOnTheClock)
{
    for (int i = 0; i < 60; ++i)
        env.dir.Write("home/data/" + Numbered("f", i) + ".txt", "f");
    for (int i = 0; i < 40; ++i)
        fs::create_directories(Data() + "/" + Numbered("d", i));
    list->FillItems();
    tree->RefreshNodes();
    tree->Expand(tree->Selected());
    QCoreApplication::processEvents();
    QMimeData mime;
    TComPtr<IDataObject> object = UriListOf(env.Home() + "/other/deep/x.txt", mime);
    struct View {
        const char* name;
        TWinControl* control;
        QAbstractScrollArea* area;
    };
    const View views[] = {
        {"list", list, qobject_cast<QAbstractScrollArea*>(list->ActiveView())},
        {"tree", tree, qobject_cast<QAbstractScrollArea*>(tree->Widget())},
    };
    enum Where { Bottom, Middle, Top };
    struct Step {
        Where where;
        int waitMs;
        int direction;  // of the view's move: -1 up, 0 none, 1 down
    };
    const Step steps[] = {
        {Bottom, 50, 0},   // too soon after entering
        {Bottom, 60, 1},   // 110 ms: one line
        {Bottom, 0, 0},    // at once again: none
        {Bottom, 101, 1},
        {Middle, 200, 0},  // away from the edges
        {Top, 200, -1},
    };
    for (const View& v : views) {
        SCOPED_TRACE(v.name);
        ASSERT_NE(v.area, nullptr);
        QScrollBar* bar = v.area->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 4);
        bar->setValue(bar->maximum() / 2);
        auto at = [&](Where w) {
            const int y = w == Bottom ? v.control->Height() - 5 : w == Top ? 5 : v.control->Height() / 2;
            const TPoint p = v.control->ClientToScreen(TPoint {v.control->Width() / 2, y});
            return POINTL {p.X, p.Y};
        };
        IDropTarget* target = RegisteredDropTargetAt(at(Middle));
        ASSERT_NE(target, nullptr);
        DWORD effect = DROPEFFECT_COPY;
        ASSERT_EQ(target->DragEnter(object.Get(), MK_LBUTTON, at(Bottom), &effect), S_OK);
        for (const Step& step : steps) {
            clock.clock.Advance(step.waitMs);
            const int was = bar->value();
            effect = DROPEFFECT_COPY;
            target->DragOver(MK_LBUTTON, at(step.where), &effect);
            const int moved = bar->value() - was;
            EXPECT_EQ((moved > 0) - (moved < 0), step.direction) << step.where << " after " << step.waitMs;
            EXPECT_TRUE(effect & DROPEFFECT_SCROLL);
        }
        target->DragLeave();
    }
}

TEST_F(ShellDragControls, TheWheelScrollsTheListUnderThePointerWhileTheTreeHasTheFocus)
{
    for (int i = 0; i < 120; ++i)
        env.dir.Write("home/data/" + Numbered("f", i) + ".txt", "f");
    for (int i = 0; i < 40; ++i)
        fs::create_directories(Data() + "/" + Numbered("d", i));
    list->FillItems();
    tree->RefreshNodes();
    tree->Expand(tree->Selected());
    // The list's report view scrolls down, its list view (columns) sideways.
    const std::pair<TViewStyle, bool> styles[] = {{TViewStyle::vsReport, false}, {TViewStyle::vsList, true}};
    for (const auto& [style, sideways] : styles) {
        list->SetViewStyle(style);
        QCoreApplication::processEvents();
        tree->SetFocus();
        QCoreApplication::processEvents();
        auto* area = qobject_cast<QAbstractScrollArea*>(list->ActiveView());
        ASSERT_NE(area, nullptr);
        QScrollBar* bar = sideways ? area->horizontalScrollBar() : area->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        bar->setValue(0);
        QScrollBar* treeBar = qobject_cast<QAbstractScrollArea*>(tree->Widget())->verticalScrollBar();
        ASSERT_GT(treeBar->maximum(), 0);
        treeBar->setValue(0);
        // The window system hands the wheel to the window; the window to
        // the widget under the pointer.
        QWindow* window = form->Widget()->windowHandle();
        ASSERT_NE(window, nullptr);
        const TPoint p = list->ClientToScreen(TPoint {list->Width() / 2, list->Height() / 2});
        const QPoint global(p.X, p.Y);
        QWheelEvent wheel(window->mapFromGlobal(QPointF(global)), QPointF(global), QPoint(), QPoint(0, -120),
            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window, &wheel);
        EXPECT_GT(bar->value(), 0) << (sideways ? "list view" : "report view");
        EXPECT_EQ(treeBar->value(), 0);
        EXPECT_TRUE(tree->Focused());
    }
}
