// The large text view driven as a user drives it: keys, mouse, wheel and
// scroll bar on the real widget, while its file is still being read and
// after.
#include "test_support/read_hooks.h"
#include "test_support/temp_dir.h"
#include "vcl/forms.h"
#include "vcl/textview.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>


namespace {

class TextViewTest : public ::testing::Test {
protected:
    TextViewTest()
    {
        if (!Application)
            new TApplication();
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 640, 400);
        view = new TTextFileView(form.get());
        view->SetAlign(alClient);
        view->SetParent(form.get());
        view->Font().SetName("Courier New");
        view->Font().SetSize(10);
        form->Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Area()->window()));
        Area()->setFocus();
        QApplication::processEvents();
    }
    QAbstractScrollArea* Area() const { return static_cast<QAbstractScrollArea*>(view->Widget()); }
    std::string Bytes() const { return view->Document().Bytes(0, view->Document().Size()); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(Area(), key, modifiers); }
    void Type(const char* text) { QTest::keyClicks(Area(), text); }
    int LineHeight() const { return QFontMetrics(Area()->font()).lineSpacing(); }

    TempDir dir;
    std::unique_ptr<TForm> form;
    TTextFileView* view = nullptr;

};

} // namespace

TEST_F(TextViewTest, TypingEditingAndUndoThroughTheKeyboard)
{
    view->SetText("first\r\nsecond\r\n");
    int selectionChanges = 0;
    view->OnSelectionChange = [&](TObject*) { ++selectionChanges; };
    Type("Hi ");
    EXPECT_EQ(Bytes(), "Hi first\r\nsecond\r\n");
    EXPECT_GT(selectionChanges, 0);
    Key(Qt::Key_End);
    EXPECT_EQ(view->CaretColumn(), 8);
    // Enter breaks the line as the text does.
    Key(Qt::Key_Return);
    Type("new");
    EXPECT_EQ(Bytes(), "Hi first\r\nnew\r\nsecond\r\n");
    EXPECT_EQ(view->CaretLine(), 1);
    // Backspace takes a CR LF as one.
    Key(Qt::Key_Home);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Bytes(), "Hi firstnew\r\nsecond\r\n");
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Bytes(), "Hi first\r\nnew\r\nsecond\r\n");
    // Typing at one place undoes as one step, a line break as another.
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Bytes(), "Hi first\r\n\r\nsecond\r\n");
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Bytes(), "Hi first\r\nsecond\r\n");
    // A selection made with Shift goes to the clipboard and comes back.
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(view->SelText(), "Hi ");
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "Hi ");
    Key(Qt::Key_End, Qt::ControlModifier);
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Bytes(), "Hi first\r\nsecond\r\nHi ");
    EXPECT_TRUE(view->Modified());
    // Delete takes the selection.
    Key(Qt::Key_Home);
    Key(Qt::Key_End, Qt::ShiftModifier);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Bytes(), "Hi first\r\nsecond\r\n");
}

// Rows are at most kRowBytes of a line: the caret goes down through the rows
// of a long line and the line and column still count the whole line.
TEST_F(TextViewTest, ALineLongerThanARowShowsInRowsThatTheCaretCrosses)
{
    constexpr std::int64_t R = TTextFileView::kRowBytes;
    view->SetWordWrap(false);
    view->SetText(std::string(2 * R + 500, 'x') + "\nend");
    Key(Qt::Key_Down);
    EXPECT_EQ(view->SelStart(), R);
    EXPECT_EQ(view->CaretLine(), 0);
    EXPECT_EQ(view->CaretColumn(), R);
    Key(Qt::Key_Down);
    EXPECT_EQ(view->SelStart(), 2 * R);
    Key(Qt::Key_Down);
    EXPECT_EQ(view->CaretLine(), 1);
    Key(Qt::Key_End);
    EXPECT_EQ(view->CaretColumn(), 3);
    Key(Qt::Key_Up);
    Key(Qt::Key_Home);
    EXPECT_EQ(view->SelStart(), 2 * R);
    // A line of exactly two rows has no empty third row.
    view->SetText(std::string(2 * R, 'y') + "\nz");
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    EXPECT_EQ(view->CaretLine(), 1);
}

TEST_F(TextViewTest, WheelScrollBarAndMouseOverAFileOfManyLines)
{
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "line " + std::to_string(i) + "\n";
    view->SetText(text);
    QWidget* viewport = Area()->viewport();
    // The wheel scrolls three lines a notch.
    QWheelEvent wheel(QPointF(50, 50), viewport->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    EXPECT_EQ(view->TopPosition(), static_cast<std::int64_t>(std::string("line 0\nline 1\nline 2\n").size()));
    // The scroll bar's end shows the last line at the bottom.
    QScrollBar* bar = Area()->verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QApplication::processEvents();
    const std::int64_t top = view->TopPosition();
    EXPECT_GT(top, static_cast<std::int64_t>(text.size()) - 100 * 12);
    const int rows = (viewport->height() - 4) / LineHeight();
    EXPECT_EQ(view->Document().LineOf(top), view->Document().LineCount() - rows);
    // A click puts the caret where it points.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(4 + 1, 4 + LineHeight() + LineHeight() / 2));
    EXPECT_EQ(view->CaretLine(), view->Document().LineOf(top) + 1);
    EXPECT_EQ(view->CaretColumn(), 0);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(4 + 1, 4 + LineHeight() / 2));
    EXPECT_EQ(view->SelText(), "line");
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view->TopPosition(), 0);
    EXPECT_EQ(bar->value(), 0);
}

// The reader is held after its first piece: the view shows that piece, and
// the window answers keys and scrolling meanwhile; nothing can be typed into
// a text not read whole. Once the reader goes on, the text is complete and
// can be edited.
TEST_F(TextViewTest, ShowsTheFirstPieceAndAnswersWhileTheFileIsRead)
{
    std::string text;
    for (int i = 0; text.size() < 6u * 1024 * 1024; ++i)
        text += "row " + std::to_string(i) + " of a file that is read in the background\n";
    dir.Write("big.txt", text);
    HeldReader held(dir.Path("big.txt"));
    int stateChanges = 0;
    view->OnStateChange = [&](TObject*) { ++stateChanges; };
    ASSERT_TRUE(view->LoadFromFile(dir.Path("big.txt"), true));
    for (int i = 0; i < 6000 && (view->Document().Size() == 0 || !held.Held()); ++i)
        QTest::qWait(5);
    const TTextDocument& doc = view->Document();
    ASSERT_GT(doc.Size(), 0);
    EXPECT_LE(doc.Size(), 256 * 1024);
    EXPECT_EQ(doc.State(), TTextDocState::Loading);
    EXPECT_TRUE(view->ReadOnly());
    Type("typed");
    EXPECT_EQ(doc.Bytes(0, 5), "row 0");
    Key(Qt::Key_PageDown);
    EXPECT_GT(view->TopPosition(), 0);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view->SelStart(), doc.Size());
    EXPECT_EQ(stateChanges, 0);

    held.Release();
    view->WaitLoaded();
    EXPECT_EQ(doc.State(), TTextDocState::Complete);
    EXPECT_EQ(stateChanges, 1);
    EXPECT_EQ(doc.Size(), static_cast<std::int64_t>(text.size()));
    EXPECT_FALSE(view->ReadOnly());
    Key(Qt::Key_Home, Qt::ControlModifier);
    Type("typed ");
    EXPECT_EQ(doc.Bytes(0, 11), "typed row 0");
}
