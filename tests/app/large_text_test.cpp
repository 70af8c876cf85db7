// "A" on a large file: the main window's text panel shows it in the large
// text view as it is read, edits and saves it once it is whole, never saves
// a part of it, and says so when the file is too large to hold or changes
// while it is read.
#include "app_fixture.h"

#include "app/preview.h"
#include "app/tools/commonfunc.h"
#include "test_support/read_hooks.h"

#include <QTest>

#include <filesystem>

namespace {

class LargeTextTest : public AppTest {
protected:
    TForm1& Show()
    {
        WriteDefaults();
        return ShowMainWindow();
    }
    // Views the file as text, as the "A" button does.
    void ViewAsText(const std::string& path)
    {
        // Choosing the mode views the current file: set first, it is viewed
        // once (a second view would race with the first one's reader).
        form->CurrentFile = path;
        form->SetViewMode(1);
    }
    std::string Panel(int i) const { return form->StatusBar1->Panel(i).Text; }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const auto& a : prompts->asked)
            if (a.kind == "message")
                out.push_back(a.text);
        return out;
    }
    // Lines with every kind of line break, past the size of the large view.
    static std::string MixedText()
    {
        std::string t;
        for (int i = 0; t.size() < static_cast<std::size_t>(kLargeTextBytes) + 1000; ++i)
            t += "line " + std::to_string(i) + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
        return t;
    }
};

} // namespace

TEST_F(LargeTextTest, ALargeFileShowsAsItIsReadAndSavesItsBytesOnceWhole)
{
    TForm1& f = Show();
    const std::string text = MixedText();
    dir.Write("big.log", text);
    ViewAsText(dir.Path("big.log"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    EXPECT_TRUE(f.textview->Visible());
    EXPECT_FALSE(f.richedit->Visible());
    EXPECT_EQ(Panel(0), dir.Path("big.log"));
    f.textview->WaitLoaded();
    EXPECT_EQ(Panel(3), "");
    EXPECT_EQ(f.textview->Document().State(), TTextDocState::Complete);
    EXPECT_EQ(f.textview->Text(), text);

    // The caret's line and column in the status bar.
    f.textview->SetSelStart(static_cast<std::int64_t>(text.find("line 2\r")) + 3);
    EXPECT_EQ(Panel(4), "ROW:2");
    EXPECT_EQ(Panel(5), "COL:3");

    // Find selects the match, case exactly.
    prompts->PushText("line 12345");
    f.Find2Click(nullptr);
    EXPECT_EQ(f.textview->SelText(), "line 12345");
    prompts->PushText("LINE 1");
    f.Find2Click(nullptr);
    EXPECT_EQ(Messages(), std::vector<std::string> {"No found!"});

    // An edit saved writes the file's bytes with every line break as it was.
    f.textview->SetSelStart(0);
    f.textview->InsertText("edited ");
    prompts->asked.clear();
    f.Save1Click(nullptr);
    EXPECT_TRUE(prompts->asked.empty());
    EXPECT_EQ(dir.Read("big.log"), "edited " + text);
    EXPECT_FALSE(f.textview->Modified());

    // Save As writes the text to a new file, which becomes current.
    prompts->PushText(dir.Path("copy.log"));
    f.SaveAS1Click(nullptr);
    EXPECT_EQ(dir.Read("copy.log"), "edited " + text);
    EXPECT_EQ(f.CurrentFile, dir.Path("copy.log"));

    // Another file lets the large text go.
    dir.Write("small.txt", "small");
    ViewAsText(dir.Path("small.txt"));
    EXPECT_TRUE(f.richedit->Visible());
    EXPECT_FALSE(f.textview->Visible());
    EXPECT_EQ(f.textview->Document().State(), TTextDocState::Empty);
    EXPECT_EQ(f.richedit->Text(), "small");
}

// While the reader is held after its first piece, and after the file was cut
// short while it was read, the view holds only a part: neither Save nor Save
// As writes it, and the user is told why.
TEST_F(LargeTextTest, APartOfTheFileIsNeverSaved)
{
    TForm1& f = Show();
    std::string text = MixedText();
    text += std::string(4 * 1024 * 1024, 'z');
    dir.Write("big.log", text);
    {
        HeldReader held(dir.Path("big.log"));
        ViewAsText(dir.Path("big.log"));
        for (int i = 0; i < 6000 && !held.Held(); ++i)
            QTest::qWait(5);
        QCoreApplication::processEvents();
        EXPECT_EQ(Panel(3), "Reading the file...");
        f.Save1Click(nullptr);
        f.SaveAS1Click(nullptr);
        EXPECT_EQ(Messages(), std::vector<std::string>(2, "The text view has not read the whole file yet, so it was not saved."));
        EXPECT_FALSE(dir.Exists("part.log"));
    }
    f.textview->WaitLoaded();

    prompts->asked.clear();
    {
        const CutShortOnRead cut(dir.Path("big.log"), 0, 1000);
        ViewAsText(dir.Path("big.log"));
        f.textview->WaitLoaded();
        EXPECT_TRUE(cut.Cut());
    }
    EXPECT_EQ(f.textview->Document().State(), TTextDocState::Failed);
    EXPECT_EQ(Panel(0), f.textview->Document().Reason());
    EXPECT_NE(Panel(0).find("The file changed while it was read"), std::string::npos) << Panel(0);
    f.Save1Click(nullptr);
    f.SaveAS1Click(nullptr);
    EXPECT_EQ(Messages(), std::vector<std::string>(2, "The text view holds only a part of the file, so it was not saved."));
    EXPECT_EQ(dir.Read("big.log"), text.substr(0, 1000));
    EXPECT_FALSE(dir.Exists("part.log"));
}

// A sparse file past 2 GB is shown read from the disk, read-only, at once,
// and the status bar says why; Save refuses.
TEST_F(LargeTextTest, AFileTooLargeToHoldIsShownReadOnlyFromTheDisk)
{
    TForm1& f = Show();
    dir.Write("huge.bin", "starts with text\n");
    std::filesystem::resize_file(dir.Path("huge.bin"), (std::uintmax_t(1) << 31) + 10);
    ViewAsText(dir.Path("huge.bin"));
    EXPECT_EQ(f.textview->Document().State(), TTextDocState::OnDemand);
    EXPECT_EQ(Panel(0), "This file is larger than 2 GB: the text view shows it read-only, read from the disk as it is shown.");
    EXPECT_TRUE(f.textview->ReadOnly());
    for (int i = 0; i < 6000 && f.textview->Document().Size() == 0; ++i)
        QTest::qWait(5);
    EXPECT_EQ(f.textview->Document().Bytes(0, 17), "starts with text\n");
    f.textview->InsertText("typed");
    EXPECT_EQ(f.textview->Document().Bytes(0, 5), "start");
    f.Save1Click(nullptr);
    EXPECT_EQ(Messages(),
        std::vector<std::string> {"The file is too large for the text view to hold, so it is shown read-only and was not saved."});
    // Another file stops the reading and lets the view go.
    dir.Write("small.txt", "small");
    ViewAsText(dir.Path("small.txt"));
    EXPECT_FALSE(f.textview->Document().Reading());
    EXPECT_EQ(f.richedit->Text(), "small");
}

// A UTF-16 file is shown converted and asks before it is saved as UTF-8; the
// UTF-8 switch shows its bytes.
TEST_F(LargeTextTest, AUtf16FileIsShownConvertedAndAsksBeforeSaving)
{
    TForm1& f = Show();
    std::u16string wide;
    while (wide.size() < static_cast<std::size_t>(kLargeTextBytes))
        wide += u"\u00E9t\u00E9 \U0001F600\r\n";
    std::string bytes("\xFF\xFE", 2);
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    dir.Write("wide.txt", bytes);
    ViewAsText(dir.Path("wide.txt"));
    f.textview->WaitLoaded();
    EXPECT_EQ(f.textview->Document().Bytes(0, 11), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80\r");
    prompts->PushButton(IDNO);
    f.Save1Click(nullptr);
    ASSERT_EQ(prompts->asked.size(), 1u);
    EXPECT_EQ(prompts->asked[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONWARNING));
    EXPECT_EQ(dir.Read("wide.txt"), bytes);

    f.utf8->SetDown(true);
    f.utf8Click(nullptr);
    f.textview->WaitLoaded();
    EXPECT_TRUE(f.textview->Document().HasStandIns());
    // FF FE and the lone lead byte E9 of the first character, then its zero byte.
    EXPECT_EQ(f.textview->Text().substr(0, 12), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xE2\x90\x80");
}

// The large view shows every byte as the plain text view does.
TEST(LargeTextView, ShowsBytesAsThePlainTextViewDoes)
{
    const std::string cases[] = {
        "plain text\r\n",
        std::string("\0\x01\x1F\x7F\t", 5),
        "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
        "\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80\xFF\xFE",
        "\xE2\x82 cut \xF0\x9F\x98",
    };
    for (const std::string& bytes : cases) {
        TTextDocument doc;
        doc.SetText(bytes);
        std::string shown;
        doc.WriteTo([&](std::string_view s) { shown += s; }, true);
        bool standIns = false;
        EXPECT_EQ(shown, TextForView(bytes, standIns)) << bytes;
        EXPECT_EQ(doc.HasStandIns(), standIns) << bytes;
    }
}
