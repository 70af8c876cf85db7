// Drags between the shell list and tree through the scripted drag loop:
// list items dropped on a tree folder (moved, Ctrl copied, Ctrl+Shift
// linked), a drag of the list over its own empty space (refused with the
// left button, a menu without a move with the right), the tree's root
// answering none, and a closed folder opened by hovering.
#include "shell_env.h"

#include "shell/ptshcontrols.h"

#include "test_support/scripted_drag.h"

#include "ole/ole_p.h"

#include "rtl/clock.h"
#include "vcl/forms.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

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
