#include "rtl/clock.h"
#include "test_support/scripted_prompts.h"
#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/menus.h"
#include "vcl/stdctrls.h"

#include <QCoreApplication>
#include <QWidget>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {
struct VclTest : ::testing::Test {
    VclTest()
    {
        if (!Application)
            new TApplication();
    }
};
}

TEST_F(VclTest, PostMessageFromAnotherThreadReachesTheWindowProcedure)
{
    std::vector<TMessage> got;
    const HWND wnd = AllocateHWnd([&](TMessage& m) { got.push_back(m); });
    std::thread worker([wnd] {
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(PostMessage(wnd, WM_USER + 101, static_cast<WPARAM>(i), 7));
    });
    worker.join();
    QCoreApplication::processEvents();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].Msg, WM_USER + 101);
    EXPECT_EQ(got[2].WParam, 2u);
    EXPECT_EQ(got[2].LParam, 7);
    DeallocateHWnd(wnd);
    EXPECT_FALSE(PostMessage(wnd, WM_USER, 0, 0));
    EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(VclTest, MessagesQueuedForAFreedWindowAreDropped)
{
    int calls = 0;
    const HWND wnd = AllocateHWnd([&](TMessage&) { ++calls; });
    PostMessage(wnd, WM_USER, 0, 0);
    DeallocateHWnd(wnd);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(VclTest, AlignedChildrenShareTheClientArea)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 400, 300);
    auto* top = new TPanel(&form);
    top->SetBounds(0, 0, 10, 40);
    top->SetAlign(alTop);
    top->SetParent(&form);
    auto* left = new TPanel(&form);
    left->SetBounds(0, 0, 100, 10);
    left->SetAlign(alLeft);
    left->SetParent(&form);
    auto* bottom = new TPanel(&form);
    bottom->SetBounds(0, 0, 10, 20);
    bottom->SetAlign(alBottom);
    bottom->SetParent(&form);
    auto* client = new TPanel(&form);
    client->SetAlign(alClient);
    client->SetParent(&form);
    form.AlignControls();
    const int h = form.ClientWidget()->height();
    EXPECT_EQ(top->BoundsRect(), Rect(0, 0, 400, 40));
    EXPECT_EQ(bottom->BoundsRect(), Rect(0, h - 20, 400, h));
    EXPECT_EQ(left->BoundsRect(), Rect(0, 40, 100, h - 20));
    EXPECT_EQ(client->BoundsRect(), Rect(100, 40, 400, h - 20));
    // A hidden control gives its room to the others.
    left->Hide();
    EXPECT_EQ(client->BoundsRect(), Rect(0, 40, 400, h - 20));
}

TEST_F(VclTest, TopAlignedControlsStackByPosition)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 300);
    auto* a = new TPanel(&form);
    a->SetBounds(0, 0, 10, 50);
    a->SetAlign(alTop);
    a->SetParent(&form);
    auto* b = new TPanel(&form);
    b->SetBounds(0, 0, 10, 5);
    b->SetAlign(alTop);
    b->SetParent(&form);
    // Placing b just below a keeps it below a.
    b->SetTop(a->Top() + a->Height() + 1);
    EXPECT_EQ(a->Top(), 0);
    EXPECT_EQ(b->Top(), 50);
}

TEST_F(VclTest, MenuItemsInsertAndDeleteByIndex)
{
    TForm form(nullptr);
    TMainMenu menu(&form);
    auto* file = NewItem(&form, "&File");
    menu.Items()->Add(file);
    for (const char* c : {"Normal", "Ascii", "-", "E&xit"})
        file->Add(NewItem(&form, c));
    file->Insert(3, NewItem(&form, "&1:/tmp/a"));
    ASSERT_EQ(file->Count(), 5);
    EXPECT_EQ(file->Items(3)->Caption(), "&1:/tmp/a");
    EXPECT_EQ(file->Items(4)->Caption(), "E&xit");
    file->Delete(3);
    EXPECT_EQ(file->Count(), 4);
    EXPECT_THROW(file->Delete(4), EMenuError);
    EXPECT_THROW(file->Insert(6, NewItem(&form, "x")), EMenuError);
}

TEST_F(VclTest, RadioMenuItemsUncheckTheirGroup)
{
    TForm form(nullptr);
    TPopupMenu popup(&form);
    TMenuItem* items[3];
    for (auto*& item : items) {
        item = NewItem(&form, "x");
        item->SetRadioItem(true);
        item->GroupIndex = 1;
        popup.Items()->Add(item);
    }
    items[0]->SetChecked(true);
    items[2]->SetChecked(true);
    EXPECT_FALSE(items[0]->Checked());
    EXPECT_TRUE(items[2]->Checked());
}

TEST_F(VclTest, ListViewReportsSelectionChangesPerRow)
{
    TForm form(nullptr);
    auto* lv = new TListView(&form);
    lv->SetParent(&form);
    lv->AddColumn("Name", 100);
    lv->AddColumn("Size", 50, true);
    lv->SetViewStyle(TViewStyle::vsReport);
    lv->SetMultiSelect(true);
    for (const char* name : {"a", "b", "c"}) {
        TListItem* it = lv->Items().Add();
        it->SetCaption(name);
        it->SubItemsForUpdate().Add("1");
    }
    std::vector<std::pair<std::string, bool>> events;
    lv->OnSelectItem = [&](TObject*, TListItem* item, bool selected) { events.push_back({item->Caption(), selected}); };
    lv->Items()[2]->SetSelected(true);
    lv->Items()[1]->SetSelected(true);
    EXPECT_EQ(lv->Selected()->Caption(), "b");
    EXPECT_EQ(lv->SelCount(), 2);
    lv->Items().Delete(1);
    EXPECT_EQ(lv->Selected()->Caption(), "c");
    lv->ClearSelection();
    lv->SelectAll();
    using Events = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(events, (Events {{"c", true}, {"b", true}, {"c", false}, {"a", true}}))
        << "program changes are reported like the user's; select-all reports once";
    EXPECT_EQ(lv->SelCount(), 2);

    // One selected row at a time: the old row is reported deselected first.
    lv->SetMultiSelect(false);
    lv->ClearSelection();
    events.clear();
    lv->Items()[0]->SetSelected(true);
    lv->Items()[1]->SetSelected(true);
    EXPECT_EQ(events, (Events {{"a", true}, {"a", false}, {"c", true}}));
}

TEST_F(VclTest, OnlyTheActivePageShows)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 200);
    auto* pages = new TPageControl(&form);
    pages->SetAlign(alClient);
    pages->SetParent(&form);
    TTabSheet* sheets[3];
    for (auto*& sheet : sheets) {
        sheet = new TTabSheet(&form);
        sheet->SetPageControl(pages);
    }
    pages->SetActivePage(sheets[1]);
    form.Show();
    EXPECT_FALSE(sheets[0]->Widget()->isVisible());
    EXPECT_TRUE(sheets[1]->Widget()->isVisible());
    EXPECT_FALSE(sheets[2]->Widget()->isVisible());
}

TEST_F(VclTest, TimersRunOnTheManualClock)
{
    ScopedManualClock clock;
    TTimer timer(nullptr);
    timer.SetInterval(400);
    int fired = 0;
    timer.OnTimer = [&](TObject*) { ++fired; };
    clock.clock.Advance(399);
    EXPECT_EQ(fired, 0);
    clock.clock.Advance(1);
    EXPECT_EQ(fired, 1);
    clock.clock.Advance(800);
    EXPECT_EQ(fired, 3);
    timer.SetEnabled(false);
    clock.clock.Advance(2000);
    EXPECT_EQ(fired, 3);
}

TEST_F(VclTest, PromptHelpersGoThroughTheScriptedService)
{
    ScopedScriptedPrompts scripted(*Application);
    scripted.prompts->PushCancel();
    EXPECT_EQ(InputBox("Description", "Description of the folder:", "/home/x/"), "/home/x/");
    scripted.prompts->PushText("Jazz");
    std::string name = "New List";
    EXPECT_TRUE(InputQuery("Create new list", "Please input a new playlist name:", name));
    EXPECT_EQ(name, "Jazz");
    ShowMessage("Path is invalid.");
    ASSERT_EQ(scripted.prompts->asked.size(), 3u);
    EXPECT_EQ(scripted.prompts->asked[1].proposed, "New List");
    EXPECT_EQ(scripted.prompts->asked[2].text, "Path is invalid.");
}

TEST_F(VclTest, ModalFormReturnsTheButtonsResult)
{
    TForm dialog(nullptr);
    auto* ok = new TButton(&dialog);
    ok->SetParent(&dialog);
    ok->ModalResult = mrOk;
    int result = 0;
    // The button is pressed from inside the modal loop.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [ok] { ok->Click(); }, Qt::QueuedConnection);
    result = dialog.ShowModal();
    EXPECT_EQ(result, mrOk);
    EXPECT_FALSE(dialog.Widget()->isVisible());
}

TEST_F(VclTest, CanvasDrawsExactPixelsOnABitmap)
{
    TBitmap bmp(10, 10);
    TCanvas& c = bmp.Canvas();
    c.Brush().SetColor(clRed);
    c.FillRect(Rect(2, 2, 5, 4));
    c.Pen().SetColor(clBlue);
    c.MoveTo(0, 9);
    c.LineTo(4, 9);
    const QImage& img = bmp.Image();
    EXPECT_EQ(img.pixel(2, 2) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(img.pixel(4, 3) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(img.pixel(5, 3) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(img.pixel(3, 9) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(img.pixel(4, 9) & 0xFFFFFF, 0xFFFFFFu) << "the end point of a line is not drawn";
}
