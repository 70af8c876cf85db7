// Walking through a folder of mixed files with the keyboard, as a person
// does: the "Disk Files" list keeps the focus, and the preview, the caption
// and the status bar always name the file the list has selected. Also the
// text view of binary files and the views of files that vanish.
#include "app_fixture.h"

#include "app/preview.h"
#include "app/tools/commonfunc.h"
#include "pe_builder.h"

#include "hexedit/zuradhexex.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QString>
#include <QTest>

#include <filesystem>
#include <unistd.h>

namespace {

// Control pictures of the bytes 00 and 01, and the replacement character.
const std::string kNul = "\xE2\x90\x80";
const std::string kSoh = "\xE2\x90\x81";
const std::string kBad = "\xEF\xBF\xBD";

std::string ArchiveFixture()
{
    return std::string(VISTREL_TEST_DATA) + "/../archive_extract/fixtures/deflated.zip";
}

class PreviewWalkTest : public AppTest {
protected:

    void SetUp() override
    {
        // The list's refresh after a change in the folder waits on the program
        // clock, which only the test moves: a refresh never lands in the
        // middle of a walk on a slow machine.
        UseManualClock();
        WriteDefaults();
        ShowMainWindow();
        QWidget* window = form->Widget();
        window->activateWindow();
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    std::string Panel(int i) const { return form->StatusBar1->Panel(i).Text; }
    QWidget* ListWidget() const { return form->list->ActiveView(); }
    std::string SelectedPath() const { return form->DiskListSelectedPath(); }

    // Shows the folder in the "Disk Files" list and gives the list the focus.
    void OpenFolder(const std::string& folder)
    {
        form->SelectStartFolder(folder);
        ListWidget()->setFocus();
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), ListWidget());
    }

    // Clicks the list's first file, as a person starts a walk.
    void ClickFirstFile()
    {
        auto* view = qobject_cast<QAbstractItemView*>(ListWidget());
        ASSERT_TRUE(view);
        const QRect row = view->visualRect(view->model()->index(0, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row.center());
        QCoreApplication::processEvents();
    }

    void Key(Qt::Key key)
    {
        QTest::keyClick(ListWidget(), key);
        QCoreApplication::processEvents();
    }

    // What the main window shows must be about one file: the list's.
    void ExpectOneFileEverywhere(const std::string& name)
    {
        const std::string path = dir.Path("walk/" + name);
        EXPECT_EQ(SelectedPath(), path);
        EXPECT_EQ(form->CurrentFile, path);
        EXPECT_EQ(form->Caption(), "Vistrel 1.0 - " + path);
        // Panel 0 holds the path, or a message that names no other file.
        if (!Panel(0).empty() && Panel(0)[0] == '/') {
            EXPECT_EQ(Panel(0), path);
        }
        EXPECT_EQ(QApplication::focusWidget(), ListWidget()) << "the preview of " << name << " took the focus";
    }
};

} // namespace

TEST_F(PreviewWalkTest, UpAndDownWalkThroughMixedFilesKeepingFocusAndNames)
{
    TForm1& f = *form;
    // In the list's order (by name).
    dir.Write("walk/a_notes.txt", "first line\nsecond line\n");
    dir.Write("walk/b_binary.bin", std::string("MZ\x90\0\x01\0text\0", 11));
    std::filesystem::copy_file(ArchiveFixture(), dir.Path("walk/c_pack.zip"));
    dir.Write("walk/d_README", "plain words\n");
    dir.Write("walk/e_picture.png", "no viewer for images yet");
    ASSERT_EQ(::symlink("/proc/self/mem", dir.Path("walk/f_broken.rtf").c_str()), 0);
    dir.Write("walk/g_tool.exe", PEBuilder::Build(false));
    dir.Write("walk/h_gone.txt", "deleted before it is reached");
    OpenFolder(dir.Path("walk"));
    ASSERT_EQ(f.list->Items().Count(), 8);

    struct Step {
        const char* name;
        const char* front;  // the preview panel a person sees
        std::string text;   // the text view's text, when it shows one
    };
    const Step steps[] = {
        {"a_notes.txt", "PanelRichedit", "first line\nsecond line\n"},
        {"b_binary.bin", "PanelRichedit", "MZ" + kBad + kNul + kSoh + kNul + "text" + kNul},
        {"c_pack.zip", "PanelZip", ""},
        {"d_README", "PanelRichedit", "plain words\n"},
        {"e_picture.png", "PanelBlank", ""},
        {"f_broken.rtf", "PanelBlank", ""},
        {"g_tool.exe", "PanelPe", ""},
        {"h_gone.txt", "PanelBlank", ""},
    };
    std::filesystem::remove(dir.Path("walk/h_gone.txt"));

    auto check = [&](const Step& s) {
        SCOPED_TRACE(s.name);
        ExpectOneFileEverywhere(s.name);
        EXPECT_EQ(FrontPreviewPanel(), s.front);
        if (!s.text.empty()) {
            EXPECT_EQ(f.richedit->Text(), s.text);
        }
        EXPECT_EQ(PreviewAreaIsBlank(), std::string(s.front) == "PanelBlank");
        if (std::string(s.front) == "PanelBlank")
            EXPECT_EQ(Panel(1), "") << "no size of another file";
        else
            EXPECT_EQ(Panel(1), IntToStr(FileSizeOf(dir.Path(std::string("walk/") + s.name))) + "Bytes");
    };

    ClickFirstFile();
    check(steps[0]);
    for (size_t i = 1; i < std::size(steps); ++i) {
        Key(Qt::Key_Down);
        check(steps[i]);
    }
    EXPECT_EQ(Panel(0), "The file no longer exists: " + dir.Path("walk/h_gone.txt"));
    for (size_t i = std::size(steps) - 1; i-- > 0;) {
        Key(Qt::Key_Up);
        check(steps[i]);
    }
    // The archive shows its entries (and still left the focus alone).
    f.SetViewMode(0);
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    check(steps[2]);
    EXPECT_GT(f.ArchivePanel->ListView1->Items().Count(), 0);
}

TEST_F(PreviewWalkTest, NextAndPrevStepTheDiskListWithoutLosingItsPlace)
{
    TForm1& f = *form;
    for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt"})
        dir.Write(std::string("walk/") + n, n);
    OpenFolder(dir.Path("walk"));
    f.bnextClick(nullptr);  // nothing selected: the first
    ExpectOneFileEverywhere("a.txt");
    f.bnextClick(nullptr);
    ExpectOneFileEverywhere("b.txt");
    EXPECT_EQ(f.list->SelCount(), 1);
    // The keyboard goes on from the file Next chose.
    Key(Qt::Key_Down);
    ExpectOneFileEverywhere("c.txt");
    f.bprevClick(nullptr);
    ExpectOneFileEverywhere("b.txt");
    Key(Qt::Key_Up);
    ExpectOneFileEverywhere("a.txt");
    f.bprevClick(nullptr);  // from the first: the last
    ExpectOneFileEverywhere("d.txt");
}

TEST_F(PreviewWalkTest, BinaryFileShowsWholeInTheTextViewCountingBytes)
{
    TForm1& f = *form;
    // An executable's start: "MZ", zero bytes, a byte that is no UTF-8, and
    // text after them that a view cut at the first zero never showed.
    const std::string bytes("MZ\0\0\x03\0\x90\0\nThis program cannot be run in DOS mode.\r\n\0\x7F", 52);
    dir.Write("walk/setup.exe", bytes);
    OpenFolder(dir.Path("walk"));
    f.SetViewMode(1);
    ClickFirstFile();
    ExpectOneFileEverywhere("setup.exe");
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    const std::string del = "\xE2\x90\xA1", etx = "\xE2\x90\x83";
    EXPECT_EQ(f.richedit->Lines().Items(),
        (std::vector<std::string> {"MZ" + kNul + kNul + etx + kNul + kBad + kNul,
            "This program cannot be run in DOS mode.", kNul + del}));
    // Every byte is one character: the line and column figures count bytes.
    f.richedit->SetSelStart(7);  // the byte 90
    EXPECT_EQ(Panel(4), "ROW:0");
    EXPECT_EQ(Panel(5), "COL:7");
    f.richedit->SetSelStart(static_cast<int>(bytes.find("cannot")));
    EXPECT_EQ(Panel(4), "ROW:1");
    EXPECT_EQ(Panel(5), "COL:13");
    // The view is not the file's bytes: saving over it refuses and keeps it.
    f.Save1Click(nullptr);
    EXPECT_EQ(dir.Read("walk/setup.exe"), bytes);
    ASSERT_FALSE(prompts->asked.empty());
    EXPECT_NE(prompts->asked.back().text.find("not saved"), std::string::npos);
    EXPECT_EQ(QApplication::focusWidget(), ListWidget());
}

TEST_F(PreviewWalkTest, DeletedOrMovedCurrentFileClearsItsView)
{
    TForm1& f = *form;
    dir.Write("walk/keep.txt", "kept text");
    dir.Write("walk/other.txt", "other text");
    OpenFolder(dir.Path("walk"));
    ClickFirstFile();
    ExpectOneFileEverywhere("keep.txt");

    // Deleted by another program: the list's refresh takes its item out, and
    // the view goes with it.
    std::filesystem::remove(dir.Path("walk/keep.txt"));
    f.list->RefreshItems();
    EXPECT_EQ(f.list->Items().Count(), 1);
    EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
    EXPECT_TRUE(PreviewAreaIsBlank());
    EXPECT_EQ(Panel(0), "The file no longer exists: " + dir.Path("walk/keep.txt"));

    // Moved by "Move current file to new folder": the current file keeps its
    // old path, where there is nothing left to show.
    ClickFirstFile();
    ExpectOneFileEverywhere("other.txt");
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    prompts->PushText(dir.Path("moved.txt"));
    f.ToolButton29Click(nullptr);
    EXPECT_EQ(dir.Read("moved.txt"), "other text");
    EXPECT_EQ(f.CurrentFile, dir.Path("walk/other.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
    EXPECT_TRUE(PreviewAreaIsBlank());

    // Deleted from "Marked Files" while shown from there.
    dir.Write("marked.txt", "marked text");
    f.PageControl1->SetActivePage(f.TabSheet3);
    AddFileToList(*f.selectedlist, dir.Path("marked.txt"));
    f.selectedlist->Items()[0]->SetSelected(true);
    EXPECT_EQ(f.richedit->Text(), "marked text");
    const std::string saved = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    prompts->PushButton(IDYES);
    f.ToolButton8->Click();
    if (saved.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    EXPECT_FALSE(dir.Exists("marked.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
    EXPECT_TRUE(PreviewAreaIsBlank());
}

TEST_F(PreviewWalkTest, ArchiveTimeColumnHasTwoDigitHours)
{
    TForm1& f = *form;
    // Every entry of the fixture is dated 2026-12-10 13:36:50.
    std::filesystem::create_directories(dir.Path("walk"));
    std::filesystem::copy_file(ArchiveFixture(), dir.Path("walk/pack.zip"));
    OpenFolder(dir.Path("walk"));
    ClickFirstFile();
    ExpectOneFileEverywhere("pack.zip");
    ASSERT_GT(f.ArchivePanel->ListView1->Items().Count(), 0);
    for (int i = 0; i < f.ArchivePanel->ListView1->Items().Count(); ++i)
        EXPECT_EQ(f.ArchivePanel->ListView1->Items()[i]->SubItems()[5], "12/10/26 01:36 pm");
}

TEST_F(PreviewWalkTest, HexViewPaintsNoByteSelectedUntilOneIs)
{
    TForm1& f = *form;
    dir.Write("walk/raw.bin", std::string(64, 'A'));
    OpenFolder(dir.Path("walk"));
    f.SetViewMode(2);
    ClickFirstFile();
    ExpectOneFileEverywhere("raw.bin");
    EXPECT_EQ(FrontPreviewPanel(), "PanelHex");
    TCustomZURadUvudod& hex = *f.hexedit;
    auto selectedCells = [&hex] {
        int selected = 0;
        hex.OnDrawCell = [&](TObject*, TCanvas&, std::int32_t, std::int32_t, std::u16string&, TRect, bool&) {
            if (hex.PaintPosition() >= 0 && hex.PaintSelected())
                ++selected;
        };
        TBitmap image;
        hex.PaintTo(image);
        hex.OnDrawCell = nullptr;
        return selected;
    };
    EXPECT_EQ(selectedCells(), 0);
    hex.NewSelection(16, 19);
    // Four bytes: two digits and one character each.
    EXPECT_EQ(selectedCells(), 12);
}

