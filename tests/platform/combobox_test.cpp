// The class library's combo box over its real widget: the notifications of
// opening, choosing and closing the list in every way, the deletion of
// items with objects, the extended interface and the owner-drawn face.
#include "vcl/combobox.h"
#include "vcl/forms.h"
#include "vcl/winmenus.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A combo that writes down what reaches its window procedure.
class RecordingCombo : public TCustomComboBox {
public:
    using TCustomComboBox::TCustomComboBox;
    std::vector<UINT> codes;
    std::vector<std::pair<UINT, ULONG_PTR>> deleted;
    std::vector<DRAWITEMSTRUCT> drawn;
    int indexAtSelEndOk = -2;

    void WndProc(TMessage& message) override
    {
        if (message.Msg == CN_COMMAND) {
            codes.push_back(HIWORD(message.WParam));
            if (HIWORD(message.WParam) == CBN_SELENDOK)
                indexAtSelEndOk = ItemIndex();
        } else if (message.Msg == WM_DELETEITEM) {
            const auto* item = reinterpret_cast<const DELETEITEMSTRUCT*>(message.LParam);
            deleted.emplace_back(item->itemID, item->itemData);
        } else if (message.Msg == CN_DRAWITEM) {
            drawn.push_back(*reinterpret_cast<const DRAWITEMSTRUCT*>(message.LParam));
        }
        TCustomComboBox::WndProc(message);
    }
};

struct ComboBoxTest : ::testing::Test {
    ComboBoxTest()
    {
        if (!Application)
            new TApplication();
        form.SetBounds(0, 0, 300, 200);
        combo->SetParent(&form);
        combo->SetBounds(10, 10, 200, 24);
        for (const char* name : {"alpha", "beta", "gamma"})
            combo->AddItem(name);
        combo->SetItemIndex(0);
        form.Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.Widget()));
    }
    QComboBox* Box() { return static_cast<QComboBox*>(combo->Widget()); }
    QAbstractItemView* View() { return Box()->view(); }
    // The list is open; the notifications seen so far are forgotten.
    void Open()
    {
        combo->SetDroppedDown(true);
        ASSERT_TRUE(combo->DroppedDown());
        combo->codes.clear();
    }
    // Runs the notifications the event loop delivers.
    void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    TForm form {nullptr};
    RecordingCombo* combo = new RecordingCombo(&form);
};

} // namespace

TEST_F(ComboBoxTest, OpeningTellsTheDropDownFirstAndTakesTheDropDownCount)
{
    int dropDowns = 0;
    combo->OnDropDown = [&](TObject*) {
        ++dropDowns;
        combo->SetDropDownCount(2);
    };
    combo->SetDroppedDown(true);
    EXPECT_TRUE(combo->DroppedDown());
    EXPECT_EQ(combo->codes, std::vector<UINT>({CBN_DROPDOWN}));
    EXPECT_EQ(dropDowns, 1);
    EXPECT_EQ(Box()->maxVisibleItems(), 2);
    combo->SetDroppedDown(false);
    Settle();
}

// Every way of closing the list, and what it reports: a choice reports the
// change, the end with OK (the chosen item current by then) and the
// close-up; everything else the end with cancel and the close-up.
TEST_F(ComboBoxTest, EveryWayOfClosingTheListReportsItsEnd)
{
    struct Case {
        const char* name;
        std::function<void(ComboBoxTest&)> close;
        std::vector<UINT> codes;
        int index;
    };
    const std::vector<Case> cases = {
        {"Return on an item", [](ComboBoxTest& t) {
             t.View()->setCurrentIndex(t.View()->model()->index(2, 0));
             QTest::keyClick(t.View(), Qt::Key_Return);
         }, {CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP}, 2},
        {"click on an item", [](ComboBoxTest& t) {
             const QRect row = t.View()->visualRect(t.View()->model()->index(1, 0));
             QTest::mouseMove(t.View()->viewport(), row.center());
             QTest::mouseClick(t.View()->viewport(), Qt::LeftButton, {}, row.center());
         }, {CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP}, 1},
        {"Escape", [](ComboBoxTest& t) {
             t.View()->setCurrentIndex(t.View()->model()->index(2, 0));
             QTest::keyClick(t.View(), Qt::Key_Escape);
         }, {CBN_SELENDCANCEL, CBN_CLOSEUP}, 0},
        {"click outside", [](ComboBoxTest&) {
             QWidget* popup = QApplication::activePopupWidget();
             ASSERT_NE(popup, nullptr);
             QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(popup->width() + 50, popup->height() + 50));
         }, {CBN_SELENDCANCEL, CBN_CLOSEUP}, 0},
        {"closed by the program", [](ComboBoxTest& t) { t.combo->SetDroppedDown(false); },
         {CBN_SELENDCANCEL, CBN_CLOSEUP}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        combo->SetItemIndex(0);
        Open();
        combo->indexAtSelEndOk = -2;
        c.close(*this);
        Settle();
        EXPECT_FALSE(combo->DroppedDown());
        EXPECT_EQ(combo->codes, c.codes);
        EXPECT_EQ(combo->ItemIndex(), c.index);
        if (c.index != 0) {
            EXPECT_EQ(combo->indexAtSelEndOk, c.index);
        }
    }
}

TEST_F(ComboBoxTest, ItemsWithObjectsAreAnnouncedBeforeTheyGo)
{
    int a = 0, b = 0;
    combo->ClearItems();
    combo->AddItem("plain");
    combo->AddItem("first", &a);
    combo->AddItem("second", &b);
    EXPECT_EQ(combo->ItemObject(1), &a);
    combo->RemoveItem(1);
    EXPECT_EQ(combo->deleted, (std::vector<std::pair<UINT, ULONG_PTR>> {{1, reinterpret_cast<ULONG_PTR>(&a)}}));
    EXPECT_EQ(combo->ItemText(1), "second");
    combo->deleted.clear();
    combo->ClearItems();
    EXPECT_EQ(combo->deleted, (std::vector<std::pair<UINT, ULONG_PTR>> {{1, reinterpret_cast<ULONG_PTR>(&b)}}));
    EXPECT_EQ(combo->ItemCount(), 0);
}

TEST_F(ComboBoxTest, TheExtendedInterfaceOpensWithDownAndIgnoresF4)
{
    combo->SetFocus();
    QTest::keyClick(combo->Widget(), Qt::Key_Down);
    EXPECT_EQ(combo->ItemIndex(), 1) << "the ordinary interface moves on";
    EXPECT_FALSE(combo->DroppedDown());

    combo->Perform(CB_SETEXTENDEDUI, 1, 0);
    EXPECT_EQ(combo->Perform(CB_GETEXTENDEDUI, 0, 0), 1);
    QTest::keyClick(combo->Widget(), Qt::Key_F4);
    EXPECT_FALSE(combo->DroppedDown());
    QTest::keyClick(combo->Widget(), Qt::Key_Down);
    EXPECT_TRUE(combo->DroppedDown());
    EXPECT_EQ(combo->ItemIndex(), 1) << "Down only opened the list";
    combo->SetDroppedDown(false);
    Settle();
}

TEST_F(ComboBoxTest, AnOwnerDrawnFaceAndListAreDrawnByTheControl)
{
    int object = 0;
    combo->AddItem("with object", &object);
    combo->SetStyle(TComboBoxStyle::csOwnerDrawFixed);
    combo->SetItemHeight(20);
    EXPECT_EQ(combo->Height(), 26);
    combo->SetItemIndex(3);
    combo->drawn.clear();
    combo->Widget()->grab();
    ASSERT_EQ(combo->drawn.size(), 1u);
    EXPECT_EQ(combo->drawn[0].CtlType, ODT_COMBOBOX);
    EXPECT_EQ(combo->drawn[0].itemID, 3u);
    EXPECT_TRUE(combo->drawn[0].itemState & ODS_COMBOBOXEDIT);
    EXPECT_EQ(combo->drawn[0].itemData, reinterpret_cast<ULONG_PTR>(&object));

    combo->SetItemIndex(-1);
    combo->drawn.clear();
    combo->Widget()->grab();
    ASSERT_EQ(combo->drawn.size(), 1u);
    EXPECT_EQ(static_cast<int>(combo->drawn[0].itemID), -1);

    Open();
    combo->drawn.clear();
    View()->grab();
    ASSERT_GE(combo->drawn.size(), 4u);
    EXPECT_FALSE(combo->drawn[0].itemState & ODS_COMBOBOXEDIT);
    EXPECT_EQ(combo->drawn[0].rcItem.Height(), 20);
    combo->SetDroppedDown(false);
    Settle();
}
