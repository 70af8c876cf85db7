// The hex panel as a person uses it: typing into a file shown in hex mode,
// the Undo and Redo buttons, Save keeping the old content as name.bak, and
// the question before edits would be lost.
#include "app_fixture.h"

#include "hexedit/zuradhexex.h"

#include <QTest>

#include <filesystem>

namespace {

class HexPanelTest : public AppTest {
protected:
    TForm1& Show()
    {
        WriteDefaults();
        TForm1& f = ShowMainWindow();
        f.SetViewMode(2);
        return f;
    }
    void View(const std::string& path)
    {
        form->CurrentFile = path;
        form->ViewCurrentFile();
    }
    void Type(const std::string& keys) { QTest::keyClicks(form->hexedit->Widget(), QString::fromStdString(keys)); }
    TToolButton* Button(const std::string& caption)
    {
        for (int i = 0; i < form->tbhex->ControlCount(); ++i)
            if (form->tbhex->Controls(i)->Caption() == caption)
                return dynamic_cast<TToolButton*>(form->tbhex->Controls(i));
        return nullptr;
    }
    std::vector<std::string> Questions() const
    {
        std::vector<std::string> out;
        for (const auto& a : prompts->asked)
            if (a.kind == "message")
                out.push_back(a.text);
        return out;
    }
};

TEST_F(HexPanelTest, TypeUndoRedoAndSaveWithABackup)
{
    TForm1& f = Show();
    dir.Write("data.bin", std::string("\x10\x20\x30", 3));
    View(dir.Path("data.bin"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelHex");
    Type("ff");
    EXPECT_EQ(f.hexedit->GetDataAt(0), 0xFF);
    EXPECT_TRUE(f.hexedit->HasChanged(0));  // drawn maroon on pale yellow

    TToolButton* undo = Button("Undo");
    TToolButton* redo = Button("Redo");
    ASSERT_TRUE(undo && redo);
    undo->Click();  // one digit a step
    EXPECT_EQ(f.hexedit->GetDataAt(0), 0xF0);
    undo->Click();
    EXPECT_EQ(f.hexedit->GetDataAt(0), 0x10);
    EXPECT_FALSE(f.hexedit->GetModified());
    redo->Click();
    EXPECT_EQ(f.hexedit->GetDataAt(0), 0xF0);
    EXPECT_TRUE(f.hexedit->GetModified());

    f.Save4->Click();
    EXPECT_EQ(dir.Read("data.bin"), std::string("\xF0\x20\x30", 3));
    EXPECT_EQ(dir.Read("data.bin.bak"), std::string("\x10\x20\x30", 3));
    EXPECT_FALSE(f.hexedit->GetModified());
    EXPECT_TRUE(Questions().empty());
}

TEST_F(HexPanelTest, EditsAreSavedOrDroppedAsTheUserAnswers)
{
    TForm1& f = Show();
    dir.Write("a.bin", "abc");
    dir.Write("b.bin", "xyz");
    const std::string question = "Save changes to " + dir.Path("a.bin") + "?";

    // Another file: Yes saves the edits first.
    View(dir.Path("a.bin"));
    Type("41");
    prompts->PushButton(IDYES);
    View(dir.Path("b.bin"));
    EXPECT_EQ(Questions(), std::vector<std::string> {question});
    EXPECT_EQ(dir.Read("a.bin"), "Abc");
    EXPECT_EQ(dir.Read("a.bin.bak"), "abc");
    EXPECT_EQ(f.hexedit->FileName(), dir.Path("b.bin"));

    // Another view mode: No drops them.
    View(dir.Path("a.bin"));
    Type("42");
    prompts->PushButton(IDNO);
    f.SetViewMode(0);
    EXPECT_EQ(Questions().size(), 2u);
    EXPECT_EQ(dir.Read("a.bin"), "Abc");
    EXPECT_FALSE(f.hexedit->GetModified());

    // Nothing modified, nothing asked.
    View(dir.Path("b.bin"));
    EXPECT_EQ(Questions().size(), 2u);

    // Closing the window: Yes saves.
    f.SetViewMode(2);
    Type("43");
    prompts->PushButton(IDYES);
    TCloseAction action = caFree;
    f.FormClose(&f, action);
    EXPECT_EQ(action, caFree);
    EXPECT_EQ(dir.Read("b.bin"), "Cyz");
    EXPECT_EQ(Questions().back(), "Save changes to " + dir.Path("b.bin") + "?");
}

TEST_F(HexPanelTest, EditsThatCannotBeSavedStay)
{
    TForm1& f = Show();
    dir.Write("a.bin", "abc");
    dir.Write("b.bin", "xyz");
    // The backup name is taken by a folder: the save fails.
    std::filesystem::create_directory(dir.Path("a.bin.bak"));
    View(dir.Path("a.bin"));
    Type("41");
    prompts->PushButton(IDYES);
    View(dir.Path("b.bin"));
    ASSERT_EQ(Questions().size(), 2u);  // the question, then the error
    EXPECT_EQ(Questions()[1].rfind("Cannot delete previous backup", 0), 0u) << Questions()[1];
    EXPECT_EQ(f.CurrentFile, dir.Path("a.bin"));
    EXPECT_EQ(f.hexedit->FileName(), dir.Path("a.bin"));
    EXPECT_EQ(f.hexedit->GetDataAt(0), 'A');
    EXPECT_TRUE(f.hexedit->GetModified());
    EXPECT_EQ(dir.Read("a.bin"), "abc");
    // Closing keeps the window open for them.
    prompts->PushButton(IDYES);
    TCloseAction action = caFree;
    f.FormClose(&f, action);
    EXPECT_EQ(action, caNone);
    EXPECT_EQ(dir.Read("a.bin"), "abc");
}

}  // namespace
