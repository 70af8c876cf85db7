// The list view's item views driven as a user drives them: the keys that
// move through the rows in every view style, and the layout of the icon,
// small-icon and list styles on screen.
#include "vcl/comctrls.h"
#include "vcl/forms.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCoreApplication>
#include <QListView>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

const TViewStyle kAllStyles[] = {TViewStyle::vsReport, TViewStyle::vsIcon, TViewStyle::vsSmallIcon, TViewStyle::vsList};

class ListViewStyles : public ::testing::Test {
protected:
    ListViewStyles()
    {
        if (!Application)
            new TApplication();
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 420, 300);
        lv = new TListView(form.get());
        lv->SetAlign(alClient);
        lv->SetParent(form.get());
        lv->AddColumn("Name", 200);
        lv->SetMultiSelect(true);
    }
    void AddNames(int count)
    {
        // Names of every length, some far longer than a cell.
        static const char* const stems[] = {"a", "notes.txt", "holiday photo 2019-08-14.jpeg", "x.c",
            "the quarterly report of the northern region, final revised edition.pdf", "Makefile", "b.md"};
        for (int i = 0; i < count; ++i)
            lv->Items().Add()->SetCaption(std::to_string(i) + " " + stems[i % 7]);
    }
    QAbstractItemView* View() { return static_cast<QAbstractItemView*>(lv->ActiveView()); }
    // The user is on the item at the row in the style: it alone is selected
    // and focused, and the keys go to the view.
    TListItem* StandOn(TViewStyle style, int row)
    {
        lv->SetViewStyle(style);
        lv->ClearSelection();
        TListItem* item = lv->Items()[row];
        item->SetSelected(true);
        lv->SetItemFocused(item);
        View()->setFocus();
        return item;
    }
    QRect ItemRect(int row) { return View()->visualRect(View()->model()->index(row, 0)); }
    std::unique_ptr<TForm> form;
    TListView* lv = nullptr;
};

TEST_F(ListViewStyles, HomeAndEndGoToTheFirstAndLastItemInEveryStyle)
{
    AddNames(12);
    form->Show();
    for (TViewStyle style : kAllStyles) {
        lv->SetViewStyle(style);
        lv->ClearSelection();
        lv->Items()[5]->SetSelected(true);
        lv->SetItemFocused(lv->Items()[5]);
        View()->setFocus();
        QTest::keyClick(View(), Qt::Key_End);
        EXPECT_EQ(lv->SelCount(), 1) << static_cast<int>(style);
        EXPECT_EQ(lv->Selected(), lv->Items()[11]) << static_cast<int>(style);
        EXPECT_EQ(lv->ItemFocused(), lv->Items()[11]) << static_cast<int>(style);
        QTest::keyClick(View(), Qt::Key_Home);
        EXPECT_EQ(lv->SelCount(), 1) << static_cast<int>(style);
        EXPECT_EQ(lv->Selected(), lv->Items()[0]) << static_cast<int>(style);
        // Shift+End selects everything from the first item to the last.
        QTest::keyClick(View(), Qt::Key_End, Qt::ShiftModifier);
        EXPECT_EQ(lv->SelCount(), 12) << static_cast<int>(style);
    }
}

// Focus given to the control reaches the view of its style, which takes the
// keys (not the container that holds the views).
TEST_F(ListViewStyles, FocusGivenToTheListReachesItsView)
{
    AddNames(5);
    form->Show();
    QApplication::setActiveWindow(form->Widget());
    for (TViewStyle style : kAllStyles) {
        SCOPED_TRACE(static_cast<int>(style));
        lv->SetViewStyle(style);
        form->Widget()->setFocus();
        lv->SetFocus();
        EXPECT_EQ(QApplication::focusWidget(), View());
        EXPECT_TRUE(lv->Focused());
    }
}

// A refresh removes and adds rows while the user walks the list with the
// keyboard: the walk goes on from the item it had reached, in every style.
TEST_F(ListViewStyles, RowsChangingElsewhereKeepTheKeyboardsPlace)
{
    AddNames(8);
    form->Show();
    for (TViewStyle style : kAllStyles) {
        SCOPED_TRACE(static_cast<int>(style));
        TListItem* start = StandOn(style, 4);
        TListItem* next = lv->Items()[5];
        lv->Items().BeginUpdate();
        lv->Items().Delete(1);
        lv->Items().Add()->SetCaption("new file");
        lv->Items().EndUpdate();
        EXPECT_EQ(lv->ItemFocused(), start);
        // The key that steps to the next item: icon styles run in rows.
        const bool rows = style == TViewStyle::vsIcon || style == TViewStyle::vsSmallIcon;
        QTest::keyClick(View(), rows ? Qt::Key_Right : Qt::Key_Down);
        EXPECT_EQ(lv->Selected(), next);
        EXPECT_EQ(lv->SelCount(), 1);
        // The item with the focus leaving takes the focus with it, and
        // nothing else is left holding it.
        lv->Items().DeleteIf([next](TListItem* item) { return item == next; });
        EXPECT_EQ(lv->ItemFocused(), nullptr);
        lv->Items().Add()->SetCaption("another");
    }
}

TEST_F(ListViewStyles, IconStylesGiveEveryNameItsOwnCell)
{
    AddNames(40);
    form->Show();
    // Each style after another, as the user switches them: no style keeps
    // the cells of the one before.
    for (TViewStyle style : {TViewStyle::vsIcon, TViewStyle::vsSmallIcon, TViewStyle::vsList, TViewStyle::vsSmallIcon,
             TViewStyle::vsIcon}) {
        lv->SetViewStyle(style);
        std::vector<QRect> rects;
        for (int row = 0; row < lv->Items().Count(); ++row) {
            rects.push_back(ItemRect(row));
            ASSERT_FALSE(rects.back().isEmpty()) << row;
        }
        for (size_t a = 0; a < rects.size(); ++a)
            for (size_t b = a + 1; b < rects.size(); ++b)
                ASSERT_FALSE(rects[a].intersects(rects[b]))
                    << "style " << static_cast<int>(style) << ": items " << a << " and " << b << " overlap";
        const QFontMetrics fm = View()->fontMetrics();
        if (style == TViewStyle::vsSmallIcon) {
            // Rows of cells as wide as the widest name that is not too long.
            std::set<int> tops;
            for (int row = 0; row < lv->Items().Count(); ++row) {
                tops.insert(rects[static_cast<size_t>(row)].top());
                const int text = fm.horizontalAdvance(QString::fromStdString(lv->Items()[row]->Caption()));
                if (text < 120) {
                    EXPECT_GE(rects[static_cast<size_t>(row)].width(), text) << row;
                }
            }
            EXPECT_GT(tops.size(), 1u);
            EXPECT_LT(tops.size(), 40u);
        }
        if (style == TViewStyle::vsIcon) {
            // Room for two lines of the name under the icon.
            EXPECT_GE(static_cast<QListView*>(View())->gridSize().height(), 32 + 2 * fm.lineSpacing());
        }
    }
}

TEST_F(ListViewStyles, ListStyleFillsColumnsTopToBottomAndScrollsSideways)
{
    AddNames(60);
    lv->SetViewStyle(TViewStyle::vsList);
    form->Show();
    auto check = [&](const char* when) {
        const int height = View()->viewport()->height();
        std::set<int> lefts;
        for (int row = 0; row < lv->Items().Count(); ++row) {
            const QRect r = ItemRect(row);
            lefts.insert(r.left());
            EXPECT_LE(r.bottom(), height) << when << ": item " << row << " below the view";
            if (row > 0 && r.left() == ItemRect(row - 1).left()) {
                EXPECT_GT(r.top(), ItemRect(row - 1).top()) << when << ": columns run top to bottom";
            }
        }
        EXPECT_GT(lefts.size(), 2u) << when;
        EXPECT_GT(View()->horizontalScrollBar()->maximum(), 0) << when;
        EXPECT_EQ(View()->verticalScrollBar()->maximum(), 0) << when;
        return lefts.size();
    };
    const size_t columns = check("shown");
    // A lower view lays the items out again in more columns.
    form->SetBounds(0, 0, 420, 180);
    form->AlignControls();
    QTest::qWait(150);
    EXPECT_GT(check("resized"), columns);
}

// Each kind of change a folder's list goes through (files deleted alone or
// in a refresh, created, the rows sorted by a column) leaves the item the
// user is on focused and selected.
TEST_F(ListViewStyles, TheFocusedItemStaysFocusedAndSelectedThroughEachKindOfChange)
{
    AddNames(8);
    form->Show();
    for (TViewStyle style : kAllStyles) {
        SCOPED_TRACE(static_cast<int>(style));
        TListItem* walked = StandOn(style, 5);
        struct Change {
            const char* what;
            std::function<void()> run;
        };
        const Change changes[] = {
            {"an item before it deleted", [&] { lv->Items().Delete(1); }},
            {"items deleted in an update", [&] {
                 TListItem* last = lv->Items()[lv->Items().Count() - 1];
                 lv->Items().BeginUpdate();
                 lv->Items().DeleteIf([&](TListItem* i) { return i == lv->Items()[0] || i == last; });
                 lv->Items().EndUpdate();
             }},
            {"an item added", [&] { lv->Items().Add()->SetCaption("new file"); }},
            {"the items sorted", [&] { lv->Items().CustomSort([](TListItem* a, TListItem* b) {
                 return a->Caption() < b->Caption() ? 1 : a->Caption() > b->Caption() ? -1 : 0; }); }},
        };
        for (const Change& c : changes) {
            c.run();
            EXPECT_EQ(lv->ItemFocused(), walked) << c.what;
            EXPECT_TRUE(walked->Selected()) << c.what;
            EXPECT_EQ(lv->SelCount(), 1) << c.what;
        }
        while (lv->Items().Count() > 0)
            lv->Items().Delete(0);
        AddNames(8);
    }
}

TEST_F(ListViewStyles, AShownTopLevelListIsDestroyedWithoutReadingItsFreedColumns)
{
    // A list that is a window of its own closes while it is destroyed, and
    // its header asks for the column captions once more: the sanitizers
    // stop this test when that reads the list's freed members.
    auto* alone = new TListView(nullptr);
    alone->AddColumn("A caption longer than any short string buffer", 120);
    alone->AddColumn("Size", 60, true);
    alone->SetViewStyle(TViewStyle::vsReport);
    alone->Items().Add()->SetCaption("row");
    alone->Widget()->show();
    QCoreApplication::processEvents();
    // A change the header has not measured yet.
    alone->Items().Clear();
    delete alone;
}

} // namespace
