// The batch renamer in a temporary folder with scripted messages: its case
// rules and extension replacement, the status label, collisions and the
// refusals.
#include "app/tools/renamer.h"
#include "test_support/modal_driver.h"
#include "test_support/scripted_prompts.h"
#include "test_support/temp_dir.h"

#include <QListWidget>

#include <filesystem>

#include <gtest/gtest.h>

namespace {

class RenamerTest : public ::testing::Test {
protected:
    RenamerTest()
    {
        if (!Application)
            new TApplication();
        scripted = std::make_unique<ScopedScriptedPrompts>(*Application);
        prompts = scripted->prompts;
        renamer = std::make_unique<TfrmRenamer>(nullptr);
        renamer->Show();
    }

    // Opens the test's folder and selects the named files, as a user does.
    void Select(const std::vector<std::string>& names)
    {
        ASSERT_TRUE(renamer->DirectoryListBox1->SetDirectory(dir.Root()));
        TFileListBox* files = renamer->FileListBox1;
        for (const std::string& name : names) {
            int row = -1;
            for (int i = 0; i < files->Count(); ++i)
                if (files->Item(i) == name)
                    row = i;
            ASSERT_GE(row, 0) << name;
            auto* list = static_cast<QListWidget*>(files->Widget());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                list->visualItemRect(list->item(row)).center());
        }
        ASSERT_EQ(files->SelCount(), static_cast<int>(names.size()));
    }
    void Run(TTabSheet* page, TButton* button)
    {
        renamer->PageControl1->SetActivePage(page);
        ClickWidget(button->Widget());
    }
    void CaseChange(int mode, bool mainName, bool extension)
    {
        TRadioButton* buttons[] = {renamer->RadioButton7, renamer->RadioButton8, renamer->RadioButton9};
        buttons[mode - 1]->SetChecked(true);
        renamer->CheckBox1->SetChecked(mainName);
        renamer->CheckBox2->SetChecked(extension);
        Run(renamer->TabSheet1, renamer->Button5);
    }
    void ReplaceExtension(const std::string& text)
    {
        renamer->Edit1->SetText(text);
        Run(renamer->TabSheet2, renamer->Button6);
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const auto& a : prompts->asked)
            out.push_back(a.text);
        return out;
    }

    TempDir dir;
    std::unique_ptr<ScopedScriptedPrompts> scripted;
    ScriptedPrompts* prompts = nullptr;
    std::unique_ptr<TfrmRenamer> renamer;
};

} // namespace

TEST(RenamerRules, CaseRulesAndSplitNames)
{
    struct Case {
        const char* name;
        int mode;
        bool mainName;
        bool extension;
        const char* result;
    };
    const Case cases[] = {
        {"readme.TXT", cmFirstCapital, true, false, "Readme.TXT"},
        {"readme.TXT", cmFirstCapital, true, true, "Readme.TXT"},
        {"exAmple.ext", cmCapital, true, true, "EXAMPLE.EXT"},
        {"exAmple.EXT", cmSmallLetter, true, true, "example.ext"},
        {"exAmple.ext", cmCapital, false, true, "exAmple.EXT"},
        {"exAmple.ext", cmCapital, false, false, "exAmple.ext"},
        {"makefile", cmCapital, true, true, "MAKEFILE"},
        {"a.txt", cmFirstCapital, true, false, "A.txt"},
        {"archive.tar.GZ", cmSmallLetter, true, true, "archive.tar.gz"},
        // The first character, not the first byte.
        {"\xC3\xA9" "CLAIR.txt", cmFirstCapital, true, false, "\xC3\x89" "clair.txt"},
        {"\xC3\xA9t\xC3\xA9.txt", cmCapital, true, false, "\xC3\x89T\xC3\x89.txt"},
        // Bytes that are no UTF-8 stay.
        {"\xFF" "ABC.txt", cmFirstCapital, true, false, "\xFF" "abc.txt"},
    };
    for (const Case& c : cases) {
        const TNameParts parts = ApplyCaseRules(SplitFileName(c.name), c.mainName, c.extension, c.mode);
        EXPECT_EQ(parts.Base + parts.Ext, c.result) << c.name << " " << c.mode;
    }
    EXPECT_EQ(SplitFileName("notes").Ext, "");
    EXPECT_EQ(SplitFileName("a.b.c").Base, "a.b");
}

TEST_F(RenamerTest, TheExamplesFollowTheChoices)
{
    EXPECT_EQ(renamer->Label6->Caption(), "Example.ext");
    EXPECT_EQ(renamer->Label10->Caption(), "exAmple.aaa");
    // A click on the box or circle, at the left of the control.
    auto click = [](TControl* c) { ClickAt(c->Widget(), QPoint(8, c->Height() / 2)); };
    click(renamer->RadioButton7);
    EXPECT_EQ(renamer->Label6->Caption(), "EXAMPLE.ext");
    click(renamer->CheckBox2);
    EXPECT_EQ(renamer->Label6->Caption(), "EXAMPLE.EXT");
    click(renamer->CheckBox1);
    EXPECT_EQ(renamer->Label6->Caption(), "exAmple.EXT");
    renamer->RadioButton8->SetChecked(true);
    EXPECT_EQ(renamer->Label6->Caption(), "exAmple.ext");
    renamer->PageControl1->SetActivePage(renamer->TabSheet2);
    renamer->Edit1->SetFocus();
    renamer->Edit1->SelectAll();
    QTest::keyClicks(renamer->Edit1->Widget(), "bak");
    EXPECT_EQ(renamer->Label10->Caption(), "exAmple.bak");
}

TEST_F(RenamerTest, CaseChangeRenamesTheSelectedFiles)
{
    for (const char* name : {"readme.TXT", "a.txt", "makefile", "Done.txt", "other.txt"})
        dir.Write(name, name);
    Select({"readme.TXT", "a.txt", "makefile", "Done.txt"});
    CaseChange(cmFirstCapital, true, false);
    // A name the rules leave as it is counts as renamed.
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"A.txt", "Done.txt", "Makefile", "Readme.TXT", "other.txt"}));
    EXPECT_EQ(dir.Read("Readme.TXT"), "readme.TXT");
    EXPECT_EQ(Messages(), std::vector<std::string> {"Rename OK!"});
    const std::string last = renamer->Label12->Caption();
    EXPECT_EQ(last.substr(last.find('\n')), "\n4files renamed ok.  0 failed.");
    // The list shows the names of now, the renamed files selected.
    std::vector<std::string> shown, selected;
    for (int i = 0; i < renamer->FileListBox1->Count(); ++i) {
        shown.push_back(renamer->FileListBox1->Item(i));
        if (renamer->FileListBox1->Selected(i))
            selected.push_back(renamer->FileListBox1->Item(i));
    }
    // The list sorts without regard to case.
    EXPECT_EQ(shown, (std::vector<std::string> {"A.txt", "Done.txt", "Makefile", "other.txt", "Readme.TXT"}));
    EXPECT_EQ(selected, (std::vector<std::string> {"A.txt", "Done.txt", "Makefile", "Readme.TXT"}));
}

TEST_F(RenamerTest, ASecondRunStartsFromTheNewNames)
{
    for (const char* name : {"one.txt", "two.txt", "three.doc"})
        dir.Write(name, name);
    Select({"one.txt", "two.txt"});
    CaseChange(cmCapital, true, true);
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"ONE.TXT", "TWO.TXT", "three.doc"}));
    // The same files, still selected, once more and then a new extension.
    CaseChange(cmSmallLetter, true, false);
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"one.TXT", "three.doc", "two.TXT"}));
    ReplaceExtension("md");
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"one.md", "three.doc", "two.md"}));
    EXPECT_EQ(Messages(), (std::vector<std::string> {"Rename OK!", "Rename OK!", "Rename OK!"}));
    EXPECT_EQ(renamer->Label11->Caption(), "two.TXT->two.md\n2files renamed ok.  0 failed.");
}

TEST_F(RenamerTest, ARunThatRenamedNothingSaysSo)
{
    for (const char* name : {"a.txt", "b.txt"})
        dir.Write(name, name);
    Select({"a.txt", "b.txt"});
    // Another program takes the files away while the window shows them.
    std::filesystem::remove(dir.Path("a.txt"));
    std::filesystem::remove(dir.Path("b.txt"));
    CaseChange(cmCapital, true, false);
    EXPECT_EQ(Messages(), std::vector<std::string> {"0files renamed ok.  2 failed."});
    EXPECT_EQ(renamer->Label12->Caption(), "b.txt->B.txt\n0files renamed ok.  2 failed.");
    EXPECT_EQ(renamer->FileListBox1->Count(), 0);
    EXPECT_TRUE(dir.Names().empty());
}

TEST_F(RenamerTest, ExtensionReplacementWithTheStatusOfEachFile)
{
    dir.Write("a.txt", "a");
    dir.Write("notes", "n");
    Select({"a.txt"});
    ReplaceExtension("aaa");
    EXPECT_EQ(renamer->Label11->Caption(), "a.txt->a.aaa\n1files renamed ok.  0 failed.");
    EXPECT_EQ(Messages(), std::vector<std::string> {"Rename OK!"});
    // A name without an extension gains one.
    Select({"notes"});
    ReplaceExtension("md");
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"a.aaa", "notes.md"}));
}

TEST_F(RenamerTest, NamesThatCollideFailAndNothingIsReplaced)
{
    dir.Write("x.doc", "doc");
    dir.Write("x.txt", "txt");
    dir.Write("y.txt", "y");
    dir.Write("y.aaa", "kept");
    Select({"x.doc", "x.txt", "y.txt"});
    ReplaceExtension("aaa");
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"x.aaa", "x.txt", "y.aaa", "y.txt"}));
    EXPECT_EQ(dir.Read("x.aaa"), "doc");
    EXPECT_EQ(dir.Read("y.aaa"), "kept");
    EXPECT_EQ(renamer->Label11->Caption(), "y.txt->y.aaa\n1files renamed ok.  2 failed.");
    EXPECT_EQ(Messages(), std::vector<std::string> {"1files renamed ok.  2 failed."});
}

TEST_F(RenamerTest, AnExtensionWithASlashIsRefused)
{
    dir.Write("a.txt", "a");
    dir.Write("sub/keep", "");
    Select({"a.txt"});
    ReplaceExtension("x/../../escaped");
    ReplaceExtension("/sub");
    EXPECT_EQ(Messages(), (std::vector<std::string> {"An extension cannot hold \"/\": no file was renamed.",
                              "An extension cannot hold \"/\": no file was renamed."}));
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"a.txt", "sub"}));
    EXPECT_EQ(renamer->Label11->Caption(), "");
}

TEST_F(RenamerTest, WithNoFileSelectedNeitherButtonDoesAnything)
{
    dir.Write("a.txt", "a");
    ASSERT_TRUE(renamer->DirectoryListBox1->SetDirectory(dir.Root()));
    CaseChange(cmCapital, true, true);
    ReplaceExtension("x/y");
    EXPECT_TRUE(prompts->asked.empty());
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"a.txt"});
    EXPECT_EQ(renamer->Label12->Caption(), "");
}
