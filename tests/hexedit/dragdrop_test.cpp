// Dragging bytes in and out of the hex editor, through a scripted drag loop
// that walks the mouse over the registered drop targets.
#include "hex_fixture.h"

#include "hexedit/zazdataobj.h"
#include "hexedit/zazdragdrop.h"
#include "test_support/scripted_drag.h"
#include "test_support/scripted_prompts.h"

#include "vcl/extctrls.h"

namespace {

class HexDragTest : public HexExTest {
protected:
    void SetUp() override
    {
        HexExTest::SetUp();
        prompts = new ScriptedPrompts();
        previousPrompts = TestApplication().SetPrompts(std::unique_ptr<TPromptService>(prompts));
        W()->show();
        Pump();
        hex->SetOleDragDrop(true);
        LoadBytes("ABCDEFGH");
        hex->NewSelection(0, 1);  // "AB"
    }
    void TearDown() override
    {
        SetDragDriver(nullptr);
        hex.reset();
        TestApplication().SetPrompts(std::move(previousPrompts));
        HexExTest::TearDown();
    }
    POINTL Screen(QPoint client)
    {
        const QPoint p = W()->mapToGlobal(client);
        return {p.x(), p.y()};
    }
    ScriptedDrag& Script(std::vector<DragStep> steps)
    {
        auto driver = std::make_unique<ScriptedDrag>(std::move(steps));
        ScriptedDrag& d = *driver;
        SetDragDriver(std::move(driver));
        return d;
    }
    // Presses on the selection and moves the held mouse by dx pixels.
    void PressAndMove(int dx, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        const QPoint start = ByteCentre(0);
        Press(start, mods);
        MoveHeld(start + QPoint(dx, 0));
        Release(start + QPoint(dx, 0), mods);
    }
    // A drag of the selection to before the byte at pos, dropped with keys.
    // An edit before the drag, which a move must not take into its step.
    void OlderStep()
    {
        hex->NewSelection(7, 7);
        hex->DeleteSelection("older");
        hex->NewSelection(0, 1);
    }
    ScriptedDrag& DragTo(std::int32_t pos, DWORD keys = 0)
    {
        return Script({{Screen(ByteCentre(pos)), MK_LBUTTON | keys}, {Screen(ByteCentre(pos)), keys}});
    }
    ScriptedPrompts* prompts = nullptr;
    std::unique_ptr<TPromptService> previousPrompts;
};

TEST_F(HexDragTest, StartsADragOnlyFromFivePixelsOn)
{
    ScriptedDrag& drag = Script({});
    PressAndMove(4);
    EXPECT_EQ(drag.runs, 0);
    hex->NewSelection(0, 1);
    PressAndMove(5);
    EXPECT_EQ(drag.runs, 1);
    EXPECT_EQ(drag.offered, DROPEFFECT_COPY | DROPEFFECT_MOVE);
    EXPECT_EQ(Data(), "ABCDEFGH");  // the steps ran out: cancelled
}

TEST_F(HexDragTest, MovesInsideAsOneUndoStep)
{
    OlderStep();
    ScriptedDrag& drag = DragTo(6);
    PressAndMove(5);
    ASSERT_EQ(drag.runs, 1);
    EXPECT_EQ(drag.feedback, std::vector<DWORD>{DROPEFFECT_MOVE});
    EXPECT_EQ(Data(), "CDEFABG");
    EXPECT_EQ(hex->GetUndoDescription(), "Data Moved");
    ASSERT_TRUE(hex->Undo());
    EXPECT_EQ(Data(), "ABCDEFG");
    EXPECT_EQ(hex->GetUndoDescription(), "older");
}

TEST_F(HexDragTest, CopiesInsideWithCtrl)
{
    ScriptedDrag& drag = DragTo(6, MK_CONTROL);
    PressAndMove(5, Qt::ControlModifier);
    EXPECT_EQ(drag.feedback, std::vector<DWORD>{DROPEFFECT_COPY});
    EXPECT_EQ(Data(), "ABCDEFABGH");
    EXPECT_EQ(hex->GetUndoDescription(), "Data Dropped");
}

TEST_F(HexDragTest, ADropOnItsOwnSelectionMovesNothing)
{
    OlderStep();
    DragTo(1);
    PressAndMove(5);
    EXPECT_EQ(Data(), "ABCDEFG");
    EXPECT_EQ(hex->GetUndoDescription(), "older");
}

TEST_F(HexDragTest, CombinesNothingWhenTheInsertionFailsAfterTheDeletion)
{
    OlderStep();
    // The first change of the move (its deletion) raises, as a refused edit
    // does: the insertion never happens.
    bool armed = true;
    hex->OnChange = [&armed](TObject*) {
        if (std::exchange(armed, false))
            throw EZURadUvudod("Cannot update undo storage");
    };
    DragTo(6);
    PressAndMove(5);
    hex->OnChange = nullptr;
    EXPECT_EQ(Data(), "CDEFG");
    ASSERT_EQ(prompts->asked.size(), 1u);  // the drop target showed the error
    EXPECT_NE(hex->GetUndoDescription(), "Data Moved");
    ASSERT_TRUE(hex->Undo());
    EXPECT_EQ(Data(), "ABCDEFG");
    EXPECT_EQ(hex->GetUndoDescription(), "older");
}

TEST_F(HexDragTest, AMoveToAnotherProgramDeletesAndEscChangesNothing)
{
    const QPoint away = W()->mapToGlobal(QPoint(1000, 0));
    DropWindow other(away.x(), away.y());
    TPanel* panel = other.panel;
    Pump();
    auto* program = new RecordingDropTarget(DROPEFFECT_MOVE);
    ASSERT_EQ(RegisterDragDrop(panel->Handle(), program), S_OK);
    const QPoint inside = panel->Widget()->mapToGlobal(QPoint(50, 50));

    Script({{{inside.x(), inside.y()}, MK_LBUTTON, true}});
    PressAndMove(5);
    EXPECT_EQ(Data(), "ABCDEFGH");
    EXPECT_TRUE(program->dropped.empty());

    hex->NewSelection(0, 1);
    Script({{{inside.x(), inside.y()}, MK_LBUTTON}, {{inside.x(), inside.y()}, 0}});
    PressAndMove(5);
    EXPECT_EQ(program->dropped, std::string("AB") + '\0');
    EXPECT_EQ(Data(), "CDEFGH");
    EXPECT_EQ(RevokeDragDrop(panel->Handle()), S_OK);
}

TEST_F(HexDragTest, ShowsNoEffectOverAReadOnlyView)
{
    hex->SetReadOnlyView(true);
    auto* data = new FixedDataObject();
    data->AddBlock(CF_TEXT, std::string("zz") + '\0');
    TComPtr<IDataObject> hold(data);
    TComPtr<TZAZDropSource> source(new TZAZDropSource());
    ScriptedDrag& drag = DragTo(3);
    DWORD effect = 0;
    EXPECT_EQ(DoDragDrop(data, source.Get(), DROPEFFECT_COPY, &effect), DRAGDROP_S_DROP);
    EXPECT_EQ(drag.feedback, std::vector<DWORD>{DROPEFFECT_NONE});
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    EXPECT_EQ(Data(), "ABCDEFGH");
}

TEST_F(HexDragTest, TheDropSourceFollowsTheKeys)
{
    TComPtr<TZAZDropSource> source(new TZAZDropSource());
    EXPECT_EQ(source->QueryContinueDrag(TRUE, MK_LBUTTON), DRAGDROP_S_CANCEL);
    EXPECT_EQ(source->QueryContinueDrag(FALSE, MK_LBUTTON), S_OK);
    EXPECT_EQ(source->QueryContinueDrag(FALSE, MK_CONTROL), DRAGDROP_S_DROP);
    EXPECT_EQ(source->GiveFeedback(DROPEFFECT_MOVE), DRAGDROP_S_USEDEFAULTCURSORS);
    EXPECT_EQ(source->GiveFeedback(DROPEFFECT_COPY | DROPEFFECT_MOVE), E_INVALIDARG);
}

TEST_F(HexDragTest, DestructionRaisesNothingWhenTheRegistrationIsAlreadyGone)
{
    ASSERT_EQ(RevokeDragDrop(hex->Handle()), S_OK);  // behind the control's back
    EXPECT_NO_THROW(hex.reset());
}

} // namespace
