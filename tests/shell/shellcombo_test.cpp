// The image combo and the shell folder combo over their real widgets: how
// an entry is drawn, the entries for a selected folder, going up, choosing
// an entry in the open list (with a linked tree or list), the one link a
// combo keeps, and the drop-down count.
#include "shell_env.h"

#include "shell/ptshcombo.h"

#include "vcl/forms.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

namespace {

void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QColor Resolved(TColor color) { return ToQColor(static_cast<TColor>(ColorToRGB(color))); }

// Draws entry 0 of the combo into an image, as the widget does.
QImage DrawEntry(TCustomComboBox& combo, UINT state)
{
    QImage image(300, 20, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    TDrawContext dc;
    dc.Painter = &painter;
    DRAWITEMSTRUCT item;
    item.CtlType = ODT_COMBOBOX;
    item.itemID = 0;
    item.itemState = state;
    item.hDC = &dc;
    item.rcItem = Rect(0, 0, 300, 20);
    item.itemData = reinterpret_cast<ULONG_PTR>(combo.ItemObject(0));
    combo.Perform(CN_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
    painter.end();
    return image;
}

// The first and one past the last column of the top row in the colour.
std::pair<int, int> Span(const QImage& image, const QColor& color)
{
    int first = -1, end = -1;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, 0) == color) {
            if (first < 0)
                first = x;
            end = x + 1;
        }
    return {first, end};
}

// A folder whose items are one byte each, ordered by that byte; with a
// hook each comparison may start a sort of its own.
class ByteFolder final : public IShellFolder {
public:
    std::function<void()> onCompare;
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT ParseDisplayName(HWND, IBindCtx*, LPCWSTR, ULONG*, LPITEMIDLIST*, ULONG*) override { return E_NOTIMPL; }
    HRESULT EnumObjects(HWND, DWORD, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT BindToObject(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT CompareIDs(LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) override
    {
        if (onCompare)
            onCompare();
        const BYTE x = Byte(a), y = Byte(b);
        return MAKE_HRESULT_SUCCESS(x < y ? -1 : x > y ? 1 : 0);
    }
    HRESULT CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT GetAttributesOf(UINT, LPCITEMIDLIST*, ULONG*) override { return E_NOTIMPL; }
    HRESULT GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void**) override { return E_NOTIMPL; }
    HRESULT GetDisplayNameOf(LPCITEMIDLIST, DWORD, STRRET*) override { return E_NOTIMPL; }
    HRESULT SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, DWORD, LPITEMIDLIST*) override { return E_NOTIMPL; }

    static BYTE Byte(LPCITEMIDLIST list) { return reinterpret_cast<const BYTE*>(list)[2]; }
    static LPITEMIDLIST Item(BYTE b)
    {
        auto* p = static_cast<BYTE*>(ShellMemAlloc(5));
        const BYTE bytes[] = {3, 0, b, 0, 0};
        std::memcpy(p, bytes, sizeof bytes);
        return reinterpret_cast<LPITEMIDLIST>(p);
    }
};

std::string BytesOf(const std::vector<LPITEMIDLIST>& lists)
{
    std::string out;
    for (LPITEMIDLIST l : lists)
        out += static_cast<char>('0' + ByteFolder::Byte(l));
    return out;
}

struct ImageComboTest : ::testing::Test {
    ImageComboTest() { EnsureShellApplication(); }
};

struct ShellComboTest : ::testing::Test {
    ShellComboTest()
    {
        EnsureShellApplication();
        for (const char* dir : {"a/b/c", "a/other"})
            std::filesystem::create_directories(env.Home() + "/" + dir);
        form.SetBounds(0, 0, 500, 400);
        combo->SetParent(&form);
        combo->SetBounds(10, 10, 300, 24);
        form.Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.Widget()));
        Settle();
    }

    std::string PathOf(int index) { return ShellGetPathFromIdList(combo->GetShComboData(index)->GetAbsIdList()); }
    int Indent(int index) { return combo->GetImageComboItem(index)->Indent(); }
    int IndexOfPath(const std::string& path)
    {
        for (int i = 0; i < combo->ItemCount(); ++i)
            if (PathOf(i) == path)
                return i;
        return -1;
    }
    int IndexOfComputer()
    {
        for (int i = 0; i < combo->ItemCount(); ++i)
            if (ShellCSIDLEqualsIdList(combo->GetShComboData(i)->GetAbsIdList(), csidlDrives))
                return i;
        return -1;
    }
    void Select(const std::string& path) { combo->GetSelectedFolder().SetPathName(path); }
    std::string SelectedPath() { return combo->GetSelectedFolder().GetPathName(); }
    QAbstractItemView* View() { return static_cast<QComboBox*>(combo->Widget())->view(); }
    // Opens the list, moves to the entry and presses Return in it.
    void Choose(int index)
    {
        combo->SetDroppedDown(true);
        ASSERT_TRUE(combo->DroppedDown());
        View()->setCurrentIndex(View()->model()->index(index, 0));
        QTest::keyClick(View(), Qt::Key_Return);
        Settle();
    }

    ShellEnv env;
    TForm form {nullptr};
    TPTShellCombo* combo = new TPTShellCombo(&form);
};

} // namespace

TEST_F(ImageComboTest, AnEntryIsDrawnIndentedWithOnlyItsCaptionHighlighted)
{
    TForm form(nullptr);
    auto* combo = new TPTImageCombo(&form);
    combo->SetParent(&form);
    TPTImageComboItem* item = combo->AddItem("Documents", -1, 2);
    EXPECT_EQ(item->Index(), 0);
    EXPECT_EQ(combo->GetImageComboItem(0), item);
    TCanvas measure;
    measure.Font().Assign(combo->Font());
    const int textWidth = measure.TextWidth("Documents");
    EXPECT_EQ(combo->ItemHeight(), measure.TextHeight("Wg") + 2);

    struct Case {
        const char* name;
        void* images;
        UINT state;
        int left;
    };
    const int icon = 16;
    const Case cases[] = {
        {"in the list, no images", nullptr, ODS_SELECTED, 2 * 12 + 5},
        {"in the face, no images", nullptr, ODS_SELECTED | ODS_COMBOBOXEDIT, 5},
        {"in the list, with images", ShellGetSystemImageList(ptsizSmall), ODS_SELECTED, 2 * 12 + icon + 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        combo->SetImageList(c.images);
        const QImage image = DrawEntry(*combo, c.state);
        const auto [first, end] = Span(image, Resolved(clHighlight));
        EXPECT_EQ(first, c.left);
        EXPECT_EQ(end, c.left + textWidth + 3);
        EXPECT_EQ(image.pixelColor(c.left - 1, 0), Resolved(clWindow));
        EXPECT_EQ(image.pixelColor(299, 19), Resolved(clWindow));
    }
    // Unselected, the caption is on the control's colour.
    EXPECT_EQ(Span(DrawEntry(*combo, 0), Resolved(clHighlight)).first, -1);
    EXPECT_GE(combo->ItemHeight(), 16) << "as high as the images at least";
}

TEST_F(ImageComboTest, EveryEntryGoesThroughTheDeletionEvent)
{
    std::vector<std::string> deleted;
    {
        TForm form(nullptr);
        auto* combo = new TPTImageCombo(&form);
        combo->OnDeleteItem = [&](TObject*, TPTImageComboItem* item) { deleted.push_back(item->Caption()); };
        combo->AddItem("one", -1, 0);
        combo->AddItem("two", -1, 1);
        combo->AddItem("three", -1, 1);
        combo->RemoveItem(1);
        EXPECT_EQ(deleted, std::vector<std::string>({"two"}));
    }
    EXPECT_EQ(deleted, std::vector<std::string>({"two", "one", "three"}));
}

TEST_F(ShellComboTest, ADeepFolderShowsItsChainBelowTheDesktopAndComputer)
{
    const std::string deep = env.Home() + "/a/b/c";
    Select(deep);
    ASSERT_GT(combo->ItemCount(), 5);
    EXPECT_EQ(Indent(0), 0);
    EXPECT_EQ(IdListLen(combo->GetShComboData(0)->GetAbsIdList()), 2u) << "the Desktop";

    // Computer at 1 with its drives at 2 below it.
    const int computer = IndexOfComputer();
    ASSERT_GT(computer, 0);
    EXPECT_EQ(Indent(computer), 1);
    const int root = IndexOfPath("/");
    ASSERT_GT(root, computer);
    for (int i = computer + 1; i <= root; ++i)
        EXPECT_EQ(Indent(i), 2);

    // Home at 1, then a, b and c, the last selected and named at once.
    const int home = IndexOfPath(env.Home());
    ASSERT_GT(home, 0);
    EXPECT_EQ(Indent(home), 1);
    const std::vector<std::string> chain = {"a", "a/b", "a/b/c"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(PathOf(home + 1 + k), env.Home() + "/" + chain[k]);
        EXPECT_EQ(Indent(home + 1 + k), 2 + k);
    }
    EXPECT_EQ(combo->ItemIndex(), home + 3);
    EXPECT_EQ(combo->GetImageComboItem(home + 3)->Caption(), "c");
    EXPECT_GE(combo->GetImageComboItem(home + 3)->ImageIndex(), 0);
    // The sibling "other" is not listed: only the path is.
    EXPECT_EQ(IndexOfPath(env.Home() + "/a/other"), -1);

    // The others get their captions and icons when the list draws them.
    TPTImageComboItem* a = combo->GetImageComboItem(home + 1);
    EXPECT_EQ(a->Caption(), "");
    EXPECT_EQ(a->ImageIndex(), -1);
    combo->SetDroppedDown(true);
    View()->grab();
    combo->SetDroppedDown(false);
    Settle();
    a = combo->GetImageComboItem(home + 1);
    EXPECT_EQ(a->Caption(), "a");
    EXPECT_GE(a->ImageIndex(), 0);
}

TEST_F(ShellComboTest, AFolderOnTheDesktopIsSelectedAndOnlyComputerOpens)
{
    Select(env.Home());
    const int home = IndexOfPath(env.Home());
    ASSERT_GT(home, 0);
    EXPECT_EQ(combo->ItemIndex(), home);
    EXPECT_EQ(Indent(home), 1);
    const int computer = IndexOfComputer();
    for (int i = 1; i < combo->ItemCount(); ++i) {
        if (Indent(i) == 2) {
            EXPECT_GT(i, computer) << "entry " << i << " below Computer only";
            for (int j = computer + 1; j < i; ++j)
                EXPECT_EQ(Indent(j), 2);
        } else {
            EXPECT_EQ(Indent(i), 1);
        }
    }
}

TEST_F(ShellComboTest, GoUpSelectsTheAncestorThatManyLevelsUp)
{
    const struct {
        int levels;
        std::string path;
    } cases[] = {{1, "/a/b"}, {2, "/a"}, {3, ""}, {9, "<desktop>"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.levels);
        Select(env.Home() + "/a/b/c");
        combo->GoUp(c.levels);
        if (c.path == "<desktop>") {
            EXPECT_EQ(combo->GetSelectedFolder().GetIdList(), nullptr);
            EXPECT_EQ(combo->ItemIndex(), 0);
        } else {
            EXPECT_EQ(SelectedPath(), env.Home() + c.path);
            EXPECT_EQ(PathOf(combo->ItemIndex()), env.Home() + c.path);
        }
    }
    // At the Desktop there is nothing above.
    combo->GoUp(1);
    EXPECT_EQ(combo->GetSelectedFolder().GetIdList(), nullptr);
}

TEST_F(ShellComboTest, ChoosingComputerSetsTheLinkedTreesFolder)
{
    auto* tree = new TPTShellTree(&form);
    tree->SetParent(&form);
    tree->SetBounds(10, 50, 200, 300);
    combo->SetShellTree(tree);
    EXPECT_EQ(tree->ShellCombo(), combo);
    Select(env.Home() + "/a/b");
    EXPECT_EQ(tree->SelectedFolder().GetPathName(), env.Home() + "/a/b");

    Choose(IndexOfComputer());
    EXPECT_TRUE(ShellCSIDLEqualsIdList(tree->SelectedFolder().GetIdList(), csidlDrives));
    EXPECT_TRUE(ShellCSIDLEqualsIdList(combo->GetSelectedFolder().GetIdList(), csidlDrives));
    EXPECT_EQ(combo->ItemIndex(), IndexOfComputer());
    EXPECT_EQ(IndexOfPath(env.Home() + "/a"), -1) << "the old chain is gone";

    // And the tree's own selection reaches the combo.
    tree->SetSelectedPathName(env.Home() + "/a");
    Settle();
    EXPECT_EQ(SelectedPath(), env.Home() + "/a");
    EXPECT_EQ(PathOf(combo->ItemIndex()), env.Home() + "/a");
}

TEST_F(ShellComboTest, AnAncestorChosenInTheListReachesALinkedListAndClosingOtherwiseChangesNothing)
{
    auto* list = new TPTShellList(&form);
    list->SetParent(&form);
    list->SetBounds(10, 50, 300, 300);
    combo->SetShellList(list);
    Select(env.Home() + "/a/b/c");
    EXPECT_EQ(list->Folder().GetPathName(), env.Home() + "/a/b/c");

    const int a = IndexOfPath(env.Home() + "/a");
    Choose(a);
    EXPECT_EQ(list->Folder().GetPathName(), env.Home() + "/a");
    EXPECT_EQ(PathOf(combo->ItemIndex()), env.Home() + "/a");

    // Escape and a click outside leave the folder.
    combo->SetDroppedDown(true);
    View()->setCurrentIndex(View()->model()->index(0, 0));
    QTest::keyClick(View(), Qt::Key_Escape);
    Settle();
    combo->SetDroppedDown(true);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(popup->width() + 40, popup->height() + 40));
    Settle();
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_EQ(list->Folder().GetPathName(), env.Home() + "/a");

    // The list goes up through the combo.
    list->GoUp(1);
    EXPECT_EQ(SelectedPath(), env.Home());
    EXPECT_EQ(list->Folder().GetPathName(), env.Home());
}

TEST_F(ShellComboTest, ASecondLinkOfTheOtherKindIsRefused)
{
    auto* tree = new TPTShellTree(&form);
    auto* list = new TPTShellList(&form);
    combo->SetShellTree(tree);
    combo->SetShellList(list);
    EXPECT_EQ(combo->ShellTree(), tree);
    EXPECT_EQ(combo->ShellList(), nullptr);
    EXPECT_EQ(list->ShellCombo(), nullptr);
    EXPECT_EQ(tree->ShellCombo(), combo);

    combo->SetShellTree(nullptr);
    EXPECT_EQ(tree->ShellCombo(), nullptr);
    combo->SetShellList(list);
    combo->SetShellTree(tree);
    EXPECT_EQ(combo->ShellList(), list);
    EXPECT_EQ(combo->ShellTree(), nullptr);
    EXPECT_EQ(tree->ShellCombo(), nullptr);

    // A linked control that goes forgets the link on both sides.
    delete list;
    EXPECT_EQ(combo->ShellList(), nullptr);
}

TEST_F(ShellComboTest, TheDropDownCountFillsTheScreenBelowEvenWithoutItemHeight)
{
    for (int height : {20, 0}) {
        SCOPED_TRACE(height);
        combo->SetItemHeight(height);
        const int y = combo->ClientToScreen(Point(0, combo->Top() + combo->Height())).Y;
        combo->SetDroppedDown(true);
        EXPECT_EQ(combo->DropDownCount(), (Screen->Height() - y - 1) / std::max(1, height));
        combo->SetDroppedDown(false);
        Settle();
    }
}

TEST(SortPidls, SortsInTheFoldersOrderAndRefusesToNest)
{
    ByteFolder folder;
    std::vector<LPITEMIDLIST> lists;
    for (BYTE b : {3, 1, 2})
        lists.push_back(ByteFolder::Item(b));
    SortPidls(&folder, lists);
    EXPECT_EQ(BytesOf(lists), "123");

    // A sort started from inside a running one raises, and the running one
    // is over afterwards, so the next sort works.
    std::string message;
    folder.onCompare = [&] {
        std::vector<LPITEMIDLIST> inner;
        SortPidls(&folder, inner);
    };
    try {
        SortPidls(&folder, lists);
    } catch (const Exception& e) {
        message = e.Message();
    }
    EXPECT_EQ(message, "Recursive call to SortPidls");
    folder.onCompare = nullptr;
    std::reverse(lists.begin(), lists.end());
    SortPidls(&folder, lists);
    EXPECT_EQ(BytesOf(lists), "123");
    for (LPITEMIDLIST l : lists)
        ShellMemFree(l);
}
