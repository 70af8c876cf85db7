// The hex panel as a person uses it: typing into a file shown in hex mode,
// the Undo and Redo buttons, Save keeping the old content as name.bak, and
// the question before edits would be lost.
#include "app_fixture.h"

#include "hexedit/zuradhexex.h"
#include "rtl/streams.h"
#include "test_support/pdf_text.h"
#include "vcl/printers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>

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

TEST_F(HexPanelTest, CancelKeepsTheEditsTheirFileAndTheProgram)
{
    // Cancel (as Escape and the close box answer) before another file,
    // another view mode and closing the window: nothing is saved or lost,
    // the edited file stays shown in hex mode, and the window stays open.
    TForm1& f = Show();
    dir.Write("a.bin", "abc");
    dir.Write("b.bin", "xyz");
    View(dir.Path("a.bin"));
    Type("41");
    f.hexedit->NewSelection(1, 2);
    const std::function<void()> leaves[] = {
        [&] { View(dir.Path("b.bin")); },
        [&] { f.SetViewMode(1); },
        [&] {
            TCloseAction action = caFree;
            f.FormClose(&f, action);
            EXPECT_EQ(action, caNone);
        },
    };
    for (const auto& leave : leaves) {
        prompts->PushButton(IDCANCEL);
        leave();
        EXPECT_EQ(prompts->asked.back().flags & 0xF, static_cast<UINT>(MB_YESNOCANCEL));
        EXPECT_EQ(f.CurrentFile, dir.Path("a.bin"));
        EXPECT_EQ(f.hexedit->FileName(), dir.Path("a.bin"));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(f.hexedit->GetFastPointer()), 3), "Abc");
        EXPECT_TRUE(f.hexedit->GetModified());
        EXPECT_EQ(f.hexedit->SelFirst(), 1);
        EXPECT_EQ(f.hexedit->SelLast(), 2);
        EXPECT_EQ(f.ViewMode, 2);
        EXPECT_TRUE(f.bhex->Down());
        EXPECT_EQ(FrontPreviewPanel(), "PanelHex");
        EXPECT_EQ(dir.Read("a.bin"), "abc");
    }
    EXPECT_EQ(Questions().size(), 3u);  // once each, never again for the file kept
    EXPECT_FALSE(dir.Exists("a.bin.bak"));
}

TEST_F(HexPanelTest, TheStatusBarShowsInsertOrOverwrite)
{
    TForm1& f = Show();
    dir.Write("data.bin", "0123");
    View(dir.Path("data.bin"));
    EXPECT_EQ(f.StatusBar1->Panel(3).Text, "Overwrite");
    QTest::keyClick(f.hexedit->Widget(), Qt::Key_Insert);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.StatusBar1->Panel(3).Text, "Insert");
    QTest::keyClick(f.hexedit->Widget(), Qt::Key_Insert);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.StatusBar1->Panel(3).Text, "Overwrite");
    EXPECT_EQ(f.StatusBar1->Panel(0).Text, dir.Path("data.bin"));
}

// A file the editor cannot hold, past its 2 GB or past the memory the
// machine can still give, is refused before anything changes, and the status
// bar says why.
TEST_F(HexPanelTest, AFileTooLargeForTheEditorIsSaidSoAndChangesNothingElse)
{
    TForm1& f = Show();
    dir.Write("small.bin", "small");
    {
        TFileStream huge(dir.Path("huge.bin"), fmCreate);
        huge.SetSize(std::int64_t(6) << 30);  // sparse: no disk taken
    }
    dir.Write("big.bin", std::string(4096, 'b'));
    struct Case {
        const char* file;
        std::int64_t memoryLeft;  // -1: the machine's
        const char* message;
    };
    for (const Case& c : {
             Case {"huge.bin", -1, "File too large (6442450944 bytes): the hex editor holds at most 2147483647 bytes"},
             Case {"big.bin", 1000,
                 "This computer has too little free memory for the hex editor to hold this file (4096 bytes)."},
         }) {
        SCOPED_TRACE(c.file);
        View(dir.Path("small.bin"));
        SetAvailableMemoryOverride(c.memoryLeft);
        View(dir.Path(c.file));
        SetAvailableMemoryOverride(-1);
        EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
        EXPECT_EQ(f.StatusBar1->Panel(0).Text, c.message);
        EXPECT_EQ(f.hexedit->FileName(), dir.Path("small.bin"));
        EXPECT_EQ(f.hexedit->GetDataSize(), 5);
        EXPECT_TRUE(Questions().empty());
    }
}

TEST_F(HexPanelTest, TheLoadedFilePrintsAsThePanelShowsIt)
{
    TForm1& f = Show();
    TZURadUvudodEx& hex = *f.hexedit;
    // The form's print settings.
    const TZAZPrintOptions& options = hex.PrintOptions();
    EXPECT_EQ((std::array{options.MarginLeft(), options.MarginTop(), options.MarginRight(), options.MarginBottom()}),
              (std::array{20, 15, 25, 25}));
    EXPECT_EQ(options.Flags(), PrintFlag(pfSelectionBold) | PrintFlag(pfMonochrome));
    EXPECT_EQ(hex.PrintFont().Name(), "Courier New");
    EXPECT_EQ(hex.PrintFont().Height(), -15);
    EXPECT_TRUE(hex.UseEditorFontForPrinting());

    dir.Write("data.bin", "Hello, printed from the hex panel!" + std::string(200, '\x01'));
    View(dir.Path("data.bin"));
    TPrinter* saved = SetPrinter(new TPrinter());
    Printer()->SetOutputFileName(dir.Path("data.pdf"));
    const std::int32_t pages = hex.PrintNumPages();
    Printer()->BeginDoc();
    for (std::int32_t page = 1; page <= pages; ++page) {
        if (page > 1)
            Printer()->NewPage();
        hex.Print(page);
    }
    Printer()->EndDoc();
    delete SetPrinter(saved);
    EXPECT_EQ(pages, 1);

    const std::string text = PdfText(dir.Path("data.pdf"));
    // pdftotext lays the text out again: blanks between groups come out as
    // one or more, so they compare as one.
    std::vector<std::string> lines;
    TStringList list;
    list.SetText(text);
    for (std::string line : list) {
        line.erase(std::unique(line.begin(), line.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
                   line.end());
        if (line.find_first_not_of(" \f") != std::string::npos)
            lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "00000000: 48 65 6C 6C 6F 2C 20 70 72 69 6E 74 65 64 20 66 Hello, printed f");
    EXPECT_EQ(lines[1], "00000010: 72 6F 6D 20 74 68 65 20 68 65 78 20 70 61 6E 65 rom the hex pane");
    EXPECT_EQ(lines[14], "000000E0: 01 01 01 01 01 01 01 01 01 01 ..........");
}

TEST_F(HexPanelTest, CutCopyAndPasteButtonsGoThroughTheClipboard)
{
    TForm1& f = Show();
    dir.Write("data.bin", "0123456789");
    View(dir.Path("data.bin"));
    f.hexedit->NewSelection(2, 4);
    Button("Copy")->Click();
    // Other programs read the bytes as hex digits, as the form sets it.
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "323334");
    f.hexedit->NewSelection(0, 1);
    Button("Cut")->Click();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f.hexedit->GetFastPointer()), 8), "23456789");
    f.hexedit->Seek(6, 0);  // the caret on the 8
    Button("Paste")->Click();  // the control's own format: no question
    // Overwrite mode: over the 8 and the 9, the size kept.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f.hexedit->GetFastPointer()), 8), "23456701");
    ASSERT_EQ(f.hexedit->GetDataSize(), 8);
    // Insert mode: in before the caret's byte.
    f.hexedit->SetInsertMode(true);
    f.hexedit->Seek(0, 0);
    Button("Paste")->Click();
    ASSERT_EQ(f.hexedit->GetDataSize(), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f.hexedit->GetFastPointer()), 10), "0123456701");
    EXPECT_TRUE(Questions().empty());
    QGuiApplication::clipboard()->clear();
}

}  // namespace
