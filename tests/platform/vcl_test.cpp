#include "rtl/clock.h"
#include "test_support/modal_driver.h"
#include "test_support/scripted_prompts.h"
#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/menus.h"
#include "vcl/stdctrls.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
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

namespace {

// A main window whose file list has the focus, and a dialog with an edit, an
// OK button (Default) and a Cancel button (Cancel).
struct ModalTest : VclTest {
    ModalTest() : main(nullptr), dialog(nullptr)
    {
        main.SetBounds(0, 0, 400, 300);
        list = new TListView(&main);
        list->SetAlign(alClient);
        list->SetViewStyle(TViewStyle::vsReport);
        list->AddColumn("Name", 100);
        list->SetParent(&main);
        for (const char* name : {"a", "b", "c", "d", "e"})
            list->Items().Add()->SetCaption(name);
        main.Show();
        main.Widget()->activateWindow();
        ClickRow(list->ActiveView(), 0);

        dialog.SetBounds(50, 50, 240, 120);
        edit = new TEdit(&dialog);
        edit->SetBounds(8, 8, 200, 22);
        edit->SetParent(&dialog);
        ok = new TButton(&dialog);
        ok->SetCaption("OK");
        ok->SetBounds(8, 60, 75, 25);
        ok->ModalResult = mrOk;
        ok->SetDefault(true);
        ok->SetParent(&dialog);
        cancel = new TButton(&dialog);
        cancel->SetCaption("Cancel");
        cancel->SetBounds(90, 60, 75, 25);
        cancel->ModalResult = mrCancel;
        cancel->Cancel = true;
        cancel->SetParent(&dialog);
        dialog.OnShow = [this](TObject*) { edit->SetFocus(); };
    }
    ~ModalTest() override { ExpectNoPendingModalSteps(); }
    int Selected() const { return list->Selected() ? list->Selected()->Index() : -1; }
    // The main window takes keys again: Down moves the list's selection.
    void ExpectInputBack()
    {
        EXPECT_FALSE(dialog.Widget()->isVisible());
        EXPECT_TRUE(HasInput(main.Widget())) << "the main window is not the active window";
        const int before = Selected();
        PressKey(main.Widget(), Qt::Key_Down);
        EXPECT_EQ(Selected(), before + 1) << "the key did not reach the list";
        PressKey(main.Widget(), Qt::Key_Up);
        EXPECT_EQ(Selected(), before);
    }
    ScopedScriptedPrompts scripted {*Application};
    TForm main;
    TListView* list;
    TForm dialog;
    TEdit* edit;
    TButton *ok, *cancel;
};

}  // namespace

TEST_F(ModalTest, EveryWayOfClosingGivesTheInputBack)
{
    struct Way {
        const char* name;
        std::function<void(ModalTest&, QWidget*)> close;
        int result;
    };
    const Way ways[] = {
        {"OK button", [](ModalTest& t, QWidget*) { ClickWidget(t.ok->Widget()); }, mrOk},
        {"Cancel button", [](ModalTest& t, QWidget*) { ClickWidget(t.cancel->Widget()); }, mrCancel},
        {"Escape in the edit", [](ModalTest&, QWidget* w) { PressKey(w, Qt::Key_Escape); }, mrCancel},
        {"Return in the edit", [](ModalTest&, QWidget* w) { PressKey(w, Qt::Key_Return); }, mrOk},
        {"Enter on the keypad", [](ModalTest&, QWidget* w) { PressKey(w, Qt::Key_Enter, Qt::KeypadModifier); }, mrOk},
        {"close box", [](ModalTest&, QWidget* w) { PressCloseBox(w); }, mrCancel},
        {"result set in code", [](ModalTest& t, QWidget*) { t.dialog.SetModalResult(mrRetry); }, mrRetry},
        {"Close in code", [](ModalTest& t, QWidget*) { t.dialog.Close(); }, mrCancel},
        {"hidden in code", [](ModalTest& t, QWidget*) { t.dialog.Hide(); }, mrCancel},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        bool modal = false;
        WhenModal([&](QWidget* w) {
            ASSERT_EQ(w, dialog.Widget());
            modal = true;
            // The dialog holds the keys; the main window gets none.
            Settle();
            EXPECT_EQ(QGuiApplication::focusWindow(), w->windowHandle());
            PressKey(main.Widget(), Qt::Key_Down);
            EXPECT_EQ(Selected(), 0);
            way.close(*this, w);
        });
        EXPECT_EQ(dialog.ShowModal(), way.result);
        EXPECT_TRUE(modal);
        ExpectInputBack();
    }
}

TEST_F(ModalTest, ReturnClicksTheFocusedButtonAndModifiersLeaveTheKeysAlone)
{
    WhenModal([&](QWidget* w) {
        PressKey(w, Qt::Key_Escape, Qt::ControlModifier);
        PressKey(w, Qt::Key_Return, Qt::ShiftModifier);
        EXPECT_TRUE(w->isVisible()) << "keys with Ctrl or Shift are no dialog keys";
        cancel->SetFocus();
        PressKey(w, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.ShowModal(), mrCancel) << "Return clicks the focused button, not the default one";
    ExpectInputBack();

    // A disabled default button is not clicked.
    ok->SetEnabled(false);
    WhenModal([&](QWidget* w) {
        PressKey(w, Qt::Key_Return);
        EXPECT_TRUE(w->isVisible());
        PressKey(w, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    ExpectInputBack();
}

TEST_F(ModalTest, CloseQueryCanKeepTheFormOpenAndOnCloseSeesEveryClosing)
{
    int asked = 0, closed = 0;
    dialog.OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++asked > 1; };
    dialog.OnClose = [&](TObject*, TCloseAction& action) {
        ++closed;
        EXPECT_EQ(action, caHide);
    };
    WhenModal([&](QWidget* w) {
        PressCloseBox(w);
        Later([&, w] {
            EXPECT_TRUE(w->isVisible()) << "OnCloseQuery refused";
            EXPECT_EQ(QApplication::activeModalWidget(), w);
            EXPECT_EQ(dialog.ModalResult(), mrNone);
            PressKey(w, Qt::Key_Return);
        });
    });
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(closed, 1);
    ExpectInputBack();
}

TEST_F(ModalTest, AnExceptionInsideTheLoopIsShownAndTheFormStillCloses)
{
    auto* boom = new TButton(&dialog);
    boom->SetBounds(170, 60, 60, 25);
    boom->SetParent(&dialog);
    boom->OnClick = [](TObject*) { throw Exception("Disk not ready"); };
    dialog.OnCloseQuery = [](TObject*, bool&) { throw Exception("Cannot ask"); };
    WhenModal([&](QWidget* w) {
        ClickWidget(boom->Widget());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        // A failing close question keeps the form open, like a refusal.
        PressKey(w, Qt::Key_Escape);
        Later([&, w] {
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(QApplication::activeModalWidget(), w);
            dialog.OnCloseQuery = nullptr;
            PressKey(w, Qt::Key_Escape);
        });
    });
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    auto& asked = scripted.prompts->asked;
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, "Disk not ready.");
    EXPECT_EQ(asked[0].flags, MB_OK | MB_ICONERROR);
    EXPECT_EQ(asked[1].text, "Cannot ask.");
    ExpectInputBack();
}

TEST_F(ModalTest, AnExceptionThatLeavesTheLoopStillGivesTheInputBack)
{
    // A message handler with no handler of its own around it: the exception
    // ends the loop and reaches the caller of ShowModal.
    const HWND wnd = AllocateHWnd([](TMessage&) { throw Exception("Device lost"); });
    WhenModal([wnd](QWidget*) { PostMessage(wnd, WM_USER, 0, 0); });
    EXPECT_THROW(dialog.ShowModal(), Exception);
    DeallocateHWnd(wnd);
    EXPECT_FALSE(dialog.Modal());
    ExpectInputBack();
    // The form shows modally again as before.
    WhenModal([](QWidget* w) { PressKey(w, Qt::Key_Escape); });
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    ExpectInputBack();
}

TEST_F(ModalTest, AModalFormInsideAModalFormGivesTheInputBackToIt)
{
    TForm inner(nullptr);
    inner.SetBounds(80, 80, 160, 80);
    auto* close = new TButton(&inner);
    close->SetBounds(8, 8, 75, 25);
    close->Cancel = true;
    close->ModalResult = mrAbort;
    close->SetParent(&inner);
    ok->OnClick = [&](TObject*) {
        // The button's result ends the outer form once the inner one is done.
        WhenModal([&](QWidget* w) { PressKey(w, Qt::Key_Escape); }, dialog.Widget());
        EXPECT_EQ(inner.ShowModal(), mrAbort);
        EXPECT_TRUE(HasInput(dialog.Widget()) || QApplication::activeModalWidget() == dialog.Widget());
        EXPECT_EQ(QGuiApplication::focusWindow(), dialog.Widget()->windowHandle());
    };
    WhenModal([&](QWidget* w) { PressKey(w, Qt::Key_Return); });
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    ExpectInputBack();
}

TEST_F(ModalTest, TheRealMessageAndInputBoxesGiveTheInputBack)
{
    std::unique_ptr<TPromptService> scriptedService = Application->SetPrompts(CreateQtPromptService());
    // A box is a dialog: no minimise or maximise, a size of its own, and
    // wide enough for its whole title in the bold face title bars use.
    auto ExpectFixedDialog = [](QWidget* w) {
        const Qt::WindowFlags flags = w->windowFlags();
        EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << w->metaObject()->className() << " " << w->windowTitle().toStdString();
        QFont bold = QApplication::font();
        bold.setBold(true);
        EXPECT_GT(w->width(), QFontMetrics(bold).horizontalAdvance(w->windowTitle()) + 60) << w->windowTitle().toStdString();
    };
    auto clickButton = [](QWidget* w, const QString& text) {
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->text().remove('&') == text) {
                ClickWidget(b);
                return;
            }
        ADD_FAILURE() << "no button " << text.toStdString();
    };
    struct Case {
        const char* name;
        UINT flags;
        std::function<void(QWidget*)> answer;
        int result;
    };
    const Case cases[] = {
        {"Yes", MB_YESNO | MB_ICONQUESTION, [&](QWidget* w) { clickButton(w, "Yes"); }, IDYES},
        {"Escape on Yes/No", MB_YESNO, [](QWidget* w) { PressKey(w, Qt::Key_Escape); }, IDNO},
        {"Retry", MB_RETRYCANCEL, [&](QWidget* w) { clickButton(w, "Retry"); }, IDRETRY},
        {"close box on OK", MB_OK, [](QWidget* w) { PressCloseBox(w); }, IDOK},
        {"Escape on OK/Cancel", MB_OKCANCEL, [](QWidget* w) { PressKey(w, Qt::Key_Escape); }, IDCANCEL},
        {"No on Yes/No/Cancel", MB_YESNOCANCEL, [&](QWidget* w) { clickButton(w, "No"); }, IDNO},
        {"Escape on Yes/No/Cancel", MB_YESNOCANCEL, [](QWidget* w) { PressKey(w, Qt::Key_Escape); }, IDCANCEL},
        {"close box on Yes/No/Cancel", MB_YESNOCANCEL, [](QWidget* w) { PressCloseBox(w); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WhenModal([&](QWidget* w) {
            ASSERT_NE(qobject_cast<QMessageBox*>(w), nullptr);
            EXPECT_EQ(static_cast<QMessageBox*>(w)->text(), "Replace it?");
            ExpectFixedDialog(w);
            c.answer(w);
        });
        EXPECT_EQ(Application->MessageBox("Replace it?", "Vistrel", c.flags), c.result);
        ExpectInputBack();
    }

    // The input box: typed text and Return answer; Escape and the close box cancel.
    std::string value = "NewFolder";
    WhenModal([&](QWidget* w) {
        ExpectFixedDialog(w);
        QLineEdit* line = w->findChild<QLineEdit*>();
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->echoMode(), QLineEdit::Normal);
        EXPECT_EQ(line->text(), "NewFolder");
        line->selectAll();
        QTest::keyClicks(line, "Docs");
        PressKey(w, Qt::Key_Return);
    });
    EXPECT_TRUE(InputQuery("Create New Folder", "New folder name:", value));
    EXPECT_EQ(value, "Docs");
    ExpectInputBack();
    for (auto cancelWith : {+[](QWidget* w) { PressKey(w, Qt::Key_Escape); }, +[](QWidget* w) { PressCloseBox(w); }}) {
        WhenModal([cancelWith](QWidget* w) { cancelWith(w); });
        EXPECT_FALSE(InputQuery("Create New Folder", "New folder name:", value));
        EXPECT_EQ(value, "Docs");
        ExpectInputBack();
    }

    // The password box hides what is typed and answers it.
    std::string password;
    WhenModal([](QWidget* w) {
        QLineEdit* line = w->findChild<QLineEdit*>();
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->echoMode(), QLineEdit::Password);
        QTest::keyClicks(line, "Secret1");
        EXPECT_EQ(line->displayText().toStdString().find("Secret1"), std::string::npos);
        PressKey(w, Qt::Key_Return);
    });
    EXPECT_TRUE(Application->Prompts().PasswordQuery("Encrypted file...", "Enter password", password));
    EXPECT_EQ(password, "Secret1");
    ExpectInputBack();
    Application->SetPrompts(std::move(scriptedService));
}

TEST_F(ModalTest, EndingTheProgramClosesEveryModalWindowAndLaterOnesAnswerCancel)
{
    // An application object of this test's own: its end is for good.
    TApplication* shared = Application;
    {
        TApplication ending;
        ending.SetPrompts(CreateQtPromptService());
        int boxAnswer = 0;
        ok->OnClick = [&](TObject*) {
            WhenModal([&](QWidget*) { ending.Terminate(); }, dialog.Widget());
            boxAnswer = ending.MessageBox("Replace it?", "Vistrel", MB_YESNO);
        };
        WhenModal([&](QWidget* w) { PressKey(w, Qt::Key_Return); });
        // The OK button's result is overruled: the program ends.
        EXPECT_EQ(dialog.ShowModal(), mrCancel);
        EXPECT_EQ(boxAnswer, IDCANCEL);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_FALSE(dialog.Widget()->isVisible());

        bool shown = false;
        dialog.OnShow = [&](TObject*) { shown = true; };
        EXPECT_EQ(dialog.ShowModal(), mrCancel);
        EXPECT_EQ(ending.MessageBox("Again?", "Vistrel", MB_YESNO), IDCANCEL);
        std::string value = "x";
        EXPECT_FALSE(InputQuery("Create New Folder", "New folder name:", value));
        EXPECT_FALSE(shown);
    }
    Application = shared;
}

TEST_F(VclTest, LabelsDrawTheirAcceleratorUnlessTold)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 100);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->SetCaption("Extract &To:");
    form.Show();
    auto draw = [&] {
        QImage image(label->Widget()->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        label->Widget()->render(&image);
        return image;
    };
    // Drawn as "Extract To:" with the T underlined: the same picture as the
    // plain text but for one or two rows of underline, and no "&".
    const QImage accel = draw();
    QLabel plain("Extract To:");
    plain.setFont(label->Widget()->font());
    plain.resize(label->Widget()->size());
    QImage expected(plain.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    plain.render(&expected);
    auto dark = [](const QImage& image, int y) {
        int n = 0;
        for (int x = 0; x < image.width(); ++x)
            n += qGray(image.pixel(x, y)) < 128;
        return n;
    };
    const int tWidth = plain.fontMetrics().horizontalAdvance("T");
    int extra = 0, underline = 0;
    for (int y = 0; y < accel.height(); ++y) {
        const int more = dark(accel, y) - dark(expected, y);
        extra += more;
        underline = std::max(underline, more);
    }
    EXPECT_GE(underline, tWidth - 2) << "a line as wide as the T";
    EXPECT_LE(extra, 2 * tWidth + 2) << "nothing but the underline added: no \"&\" drawn";
    auto lastInk = [](const QImage& image) {
        for (int x = image.width() - 1; x >= 0; --x)
            for (int y = 0; y < image.height(); ++y)
                if (qGray(image.pixel(x, y)) < 128)
                    return x;
        return -1;
    };
    // Shaped in three runs, the text loses a kerning pair or two: an "&"
    // would take far more.
    EXPECT_NEAR(lastInk(accel), lastInk(expected), 3) << "the & takes no room";

    // "&&" is one "&", and with ShowAccelChar off the caption shows as it stands.
    label->SetCaption("Tom && Jerry");
    const QImage doubled = draw();
    label->SetShowAccelChar(false);
    label->SetCaption("Tom & Jerry");
    EXPECT_EQ(draw(), doubled);
    EXPECT_EQ(static_cast<QLabel*>(label->Widget())->text(), "Tom & Jerry");
}

TEST_F(VclTest, MenuLinesAreSeparators)
{
    TForm form(nullptr);
    TPopupMenu popup(&form);
    for (const char* c : {"Open", "-", "Exit"})
        popup.Items()->Add(NewItem(&form, c));
    const QList<QAction*> actions = popup.Menu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_FALSE(actions[0]->isSeparator());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_FALSE(actions[2]->isSeparator());
    EXPECT_EQ(popup.Items()->Items(1)->Caption(), "-");

    // Drawn, the line shows no "-": the menu's picture with a separator of
    // its own making is the same.
    QMenu reference;
    reference.addAction("Open");
    reference.addSeparator();
    reference.addAction("Exit");
    popup.Menu()->ensurePolished();
    reference.setFont(popup.Menu()->font());
    const QSize size = popup.Menu()->sizeHint().expandedTo(reference.sizeHint());
    popup.Menu()->resize(size);
    reference.resize(size);
    EXPECT_EQ(popup.Menu()->grab().toImage(), reference.grab().toImage());
}

TEST_F(VclTest, TheFirstPressOnADropDownArrowOpensItsMenu)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 100);
    auto* bar = new TToolBar(&form);
    bar->SetParent(&form);
    auto* button = new TToolButton(&form);
    button->SetParent(bar);
    button->SetStyle(TToolButtonStyle::tbsDropDown);
    button->SetCaption("Layout");
    TPopupMenu popup(&form);
    popup.Items()->Add(NewItem(&form, "Tree left"));
    button->DropdownMenu = &popup;
    int clicks = 0;
    button->OnClick = [&](TObject*) { ++clicks; };
    form.Show();

    // The arrow sits at the right edge of the button; Qt runs the menu in a
    // loop of its own, so the check happens from inside it.
    QWidget* widget = button->Widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget->window()));
    QWidget* opened = nullptr;
    QTimer::singleShot(0, [&] {
        opened = QApplication::activePopupWidget();
        if (opened)
            opened->close();
    });
    QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(widget->width() - 3, widget->height() / 2));
    EXPECT_EQ(opened, popup.Menu());
    EXPECT_EQ(clicks, 0);
}

namespace {

// A component that records what it hears.
class Listener : public TComponent {
public:
    using TComponent::TComponent;
    std::vector<std::pair<TComponent*, TOperation>> heard;
    TComponentLink<TComponent> Other{this};

protected:
    void Notification(TComponent* component, TOperation operation) override
    {
        heard.emplace_back(component, operation);
        TComponent::Notification(component, operation);
    }
};

}  // namespace

TEST_F(VclTest, ComponentsHearOfTheComponentsTheyReferToGoing)
{
    // The owner hears of its own components coming and going.
    Listener owner(nullptr);
    auto* child = new TComponent(&owner);
    delete child;
    EXPECT_EQ(owner.heard, (std::vector<std::pair<TComponent*, TOperation>>{{child, opInsert}, {child, opRemove}}));

    // Any other component only when it asked; the request binds both ways.
    struct Row {
        const char* what;
        bool ask, withdraw, listenerGoesFirst;
        size_t heard;
    } rows[] = {
        {"asked", true, false, false, 1},
        {"never asked", false, false, false, 0},
        {"asked and withdrew", true, true, false, 0},
        {"the listener goes first", true, false, true, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto* listener = new Listener(nullptr);
        auto* target = new TComponent(nullptr);
        if (r.ask)
            target->FreeNotification(listener);
        if (r.withdraw)
            listener->RemoveFreeNotification(target);
        size_t heard = 0;
        if (r.listenerGoesFirst) {
            delete listener;  // target must have forgotten it
            delete target;
        } else {
            delete target;
            heard = listener->heard.size();
            delete listener;
        }
        EXPECT_EQ(heard, r.heard);
    }

    // A link is cleared when what it refers to goes, whoever owns it.
    Listener holder(nullptr);
    auto* first = new TComponent(&owner);
    auto* second = new TComponent(nullptr);
    holder.Other = first;
    holder.Other = second;  // the earlier request costs only a notification
    delete first;
    EXPECT_EQ(holder.Other.Get(), second);
    delete second;
    EXPECT_EQ(holder.Other.Get(), nullptr);
}

TEST_F(VclTest, PropertiesReferringToAMenuOrFormForgetItWhenItGoes)
{
    TForm form(nullptr);
    auto* panel = new TPanel(&form);
    panel->SetParent(&form);
    auto* button = new TToolButton(&form);
    auto* popup = new TPopupMenu(&form);
    auto* dropdown = new TPopupMenu(&form);
    auto* mainMenu = new TMainMenu(&form);
    panel->PopupMenu = popup;
    button->DropdownMenu = dropdown;
    form.SetMenu(mainMenu);
    popup->PopupComponent = panel;
    delete popup;
    delete dropdown;
    delete mainMenu;
    EXPECT_EQ(panel->PopupMenu.Get(), nullptr);
    EXPECT_EQ(button->DropdownMenu.Get(), nullptr);
    EXPECT_EQ(form.Menu(), nullptr);
    form.SetMenu(nullptr);  // nothing of the freed menu is touched

    auto* menu = new TPopupMenu(&form);
    menu->PopupComponent = panel;
    delete panel;
    EXPECT_EQ(menu->PopupComponent.Get(), nullptr);

    TForm* second = new TForm(nullptr);
    TForm* main = Application->MainForm();
    Application->SetMainForm(second);
    delete second;
    EXPECT_EQ(Application->MainForm(), nullptr);
    Application->SetMainForm(main);
}

TEST_F(VclTest, ARightClickAsksTheEventFirstThenThePopupMenu)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 200, 100);
    auto* panel = new TPanel(&form);
    panel->SetParent(&form);
    panel->SetBounds(0, 0, 200, 100);
    auto* menu = new TPopupMenu(&form);
    int shown = 0;
    menu->OnPopup = [&](TObject*) { ++shown; };
    panel->PopupMenu = menu;
    auto rightClick = [&] {
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(10, 10), panel->Widget()->mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(panel->Widget(), &e);
        menu->Menu()->hide();
    };
    std::vector<std::string> order;
    bool handle = false;
    panel->OnContextPopup = [&](TObject* sender, TPoint pos, bool& handled) {
        EXPECT_EQ(sender, panel);
        EXPECT_EQ(pos.X, 10);
        order.push_back(handle ? "handled" : "passed");
        handled = handle;
    };
    rightClick();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(menu->PopupComponent.Get(), panel);
    handle = true;
    rightClick();
    EXPECT_EQ(shown, 1);
    handle = false;
    menu->AutoPopup = false;
    rightClick();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"passed", "handled", "passed"}));
    // A freed menu is forgotten: the next right click still asks the event
    // and touches no freed menu (the sanitizers would see it).
    menu->AutoPopup = true;
    delete menu;
    EXPECT_EQ(panel->PopupMenu.Get(), nullptr);
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(10, 10), panel->Widget()->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(panel->Widget(), &e);
    EXPECT_EQ(order.size(), 4u);
}
