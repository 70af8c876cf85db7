// The preview dispatch, the text, rich-text, hex and header panels and the
// main window's file commands, on a shown main window with scripted answers.
#include "app_fixture.h"

#include "app/about.h"
#include "app/preview.h"
#include "pe_builder.h"

#include "hexedit/zuradhexex.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string Fixture(const std::string& name)
{
    std::ifstream in(std::string(VISTREL_TEST_DATA) + "/fixtures/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

TEST(PreviewTable, ExtensionsChooseTheirViewers)
{
    struct Case {
        const char* path;
        TViewerKind viewer;
        int kind;
        int id;
        const char* ext;
    };
    const Case cases[] = {
        {"/a/page.HTML", TViewerKind::Html, 0, 0, ".html"},
        {"/a/x.mht", TViewerKind::Html, 0, 0, ".mht"},
        {"/a/sheet.xls", TViewerKind::OleDocument, 0, 0, ".xls"},
        {"/a/x.dot", TViewerKind::OleDocument, 0, 0, ".dot"},
        {"/a/anim.gif", TViewerKind::Image, 1, 0, ".gif"},
        {"/a/photo.JPG", TViewerKind::Image, 2, 0, ".jpg"},
        {"/a/photo.jpeg", TViewerKind::Image, 2, 0, ".jpeg"},
        {"/a/pic.bmp", TViewerKind::Image, 3, 0, ".bmp"},
        {"/a/icon.ico", TViewerKind::Image, 5, 0, ".ico"},
        {"/a/clip.emf", TViewerKind::Image, 6, 0, ".emf"},
        {"/a/scan.tiff", TViewerKind::Image, 8, 6, ".tiff"},
        {"/a/scan.tif", TViewerKind::Image, 8, 6, ".tif"},
        {"/a/p.png", TViewerKind::Image, 9, 4, ".png"},
        {"/a/p.tga", TViewerKind::Image, 9, 7, ".tga"},
        {"/a/p.pcx", TViewerKind::Image, 9, 8, ".pcx"},
        {"/a/p.wbmp", TViewerKind::Image, 9, 9, ".wbmp"},
        {"/a/p.jp2", TViewerKind::Image, 9, 11, ".jp2"},
        {"/a/p.j2k", TViewerKind::Image, 9, 11, ".j2k"},
        {"/a/p.jpc", TViewerKind::Image, 9, 12, ".jpc"},
        {"/a/p.pgx", TViewerKind::Image, 9, 13, ".pgx"},
        {"/a/p.pnm", TViewerKind::Image, 9, 14, ".pnm"},
        {"/a/p.ras", TViewerKind::Image, 9, 15, ".ras"},
        {"/a/doc.rtf", TViewerKind::Rtf, 0, 0, ".rtf"},
        {"/a/photo.ppm", TViewerKind::Image, 9, 14, ".ppm"},
        {"/a/grey.PGM", TViewerKind::Image, 9, 14, ".pgm"},
        {"/a/alpha.pam", TViewerKind::Image, 9, 14, ".pam"},
        {"/a/mask.pbm", TViewerKind::Image, 9, 14, ".pbm"},
        {"/a/doc.pdf", TViewerKind::Pdf, 0, 0, ".pdf"},
        {"/a/movie.swf", TViewerKind::Flash, 0, 0, ".swf"},
        {"/a/song.MP3", TViewerKind::Media, 0, 0, ".mp3"},
        {"/a/x.wm", TViewerKind::Media, 0, 0, ".wm"},
        {"/a/x.dat", TViewerKind::Media, 0, 0, ".dat"},
        {"/a/x.ra", TViewerKind::RealAudio, 0, 0, ".ra"},
        {"/a/setup.EXE", TViewerKind::PeInfo, 0, 0, ".exe"},
        {"/a/lib.ocx", TViewerKind::PeInfo, 0, 0, ".ocx"},
        {"/a/a.tar.gz", TViewerKind::Archive, 0, 0, ".gz"},
        {"/a/old.Z", TViewerKind::Archive, 0, 0, ".z"},
        {"/a/x.zoo", TViewerKind::Archive, 0, 0, ".zoo"},
        {"/a/mail.UUE", TViewerKind::Archive, 0, 0, ".uue"},
        {"/a/mail.xxe", TViewerKind::Archive, 0, 0, ".xxe"},
        {"/a/README", TViewerKind::Unknown, 0, 0, ""},
        {"/a.dir/README", TViewerKind::Unknown, 0, 0, ""},
        {"/a/notes.txt", TViewerKind::Unknown, 0, 0, ".txt"},
        {"/a/x.html5", TViewerKind::Unknown, 0, 0, ".html5"},
        {"/a/trailing.", TViewerKind::Unknown, 0, 0, "."},
    };
    for (const Case& c : cases) {
        const TPreviewTarget t = PreviewTargetOf(c.path);
        EXPECT_EQ(t.Viewer, c.viewer) << c.path;
        EXPECT_EQ(t.ImageKind, c.kind) << c.path;
        EXPECT_EQ(t.FormatId, c.id) << c.path;
        EXPECT_EQ(t.Extension, c.ext) << c.path;
    }
}

class PreviewTest : public AppTest {
protected:
    TForm1& Show()
    {
        WriteDefaults();
        return ShowMainWindow();
    }
    void View(const std::string& path)
    {
        form->CurrentFile = path;
        form->ViewCurrentFile();
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
    // Adds rows naming files to a file list.
    void Rows(TListView* view, const std::vector<std::string>& paths)
    {
        for (const std::string& p : paths)
            view->Items().Add()->SetCaption(p);
    }
};

TEST_F(PreviewTest, TextFileShowsInTheTextViewWithStatusAndCaption)
{
    TForm1& f = Show();
    dir.Write("docs/a.txt", "first\nsecond\n");
    f.OpenFilePath(dir.Path("docs/a.txt"));
    EXPECT_EQ(f.CurrentFile, dir.Path("docs/a.txt"));
    EXPECT_EQ(f.richedit->Lines().Items(), (std::vector<std::string> {"first", "second"}));
    EXPECT_FALSE(f.richedit->Modified());
    EXPECT_EQ(Panel(0), dir.Path("docs/a.txt"));
    EXPECT_EQ(Panel(1), "13Bytes");
    EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + dir.Path("docs/a.txt"));
    // The recent-file menu follows.
    ASSERT_GT(f.File1->Count(), 8);
    EXPECT_EQ(f.File1->Items(7)->Caption(), "&1:" + dir.Path("docs/a.txt"));
}

TEST_F(PreviewTest, UnknownFilesAreOpenedAsTextOnlyBelowTheLimit)
{
    TForm1& f = Show();
    // Lines of 100 bytes, the last one a byte short.
    std::string lines;
    while (lines.size() < static_cast<size_t>(kUnknownFileTextLimit))
        lines += std::string(99, 'x') + "\n";
    dir.Write("small.bin", lines.substr(1));
    dir.Write("big.bin", lines);
    View(dir.Path("small.bin"));
    EXPECT_EQ(f.richedit->Lines().Count(), static_cast<int>(kUnknownFileTextLimit / 100));
    View(dir.Path("big.bin"));
    EXPECT_EQ(Panel(0), "Unknown file type and file size is big! If you really want to view it, click 'A' or 'H' "
                        "button in toolbar.");
    EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + dir.Path("big.bin"));
    // Nothing of the previous file stays on screen under the big file's name.
    EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
    EXPECT_TRUE(PreviewAreaIsBlank());

    // One line far too long to wrap in time is shown unwrapped.
    dir.Write("oneline.bin", std::string(300000, 'z'));
    View(dir.Path("oneline.bin"));
    EXPECT_FALSE(f.richedit->WordWrap());
    EXPECT_TRUE(f.Wrap2->Checked());
    View(dir.Path("small.bin"));
    EXPECT_TRUE(f.richedit->WordWrap());
}

TEST_F(PreviewTest, ViewModesOverrideTheExtension)
{
    TForm1& f = Show();
    // No current file: only the buttons and the menu change.
    f.SetViewMode(1);
    EXPECT_TRUE(f.bascii->Down());
    EXPECT_FALSE(f.bnormal->Down());
    EXPECT_TRUE(f.Ascii1->Checked());
    EXPECT_EQ(f.ViewMode, 1);
    EXPECT_TRUE(f.CurrentFile.empty());

    dir.Write("pic.png", "not really a png");
    View(dir.Path("pic.png"));
    EXPECT_EQ(f.richedit->Text(), "not really a png");

    dir.Write("pack.zip", "PK\x03\x04 zip bytes");
    f.CurrentFile = dir.Path("pack.zip");
    f.bhexClick(nullptr);
    EXPECT_TRUE(f.bhex->Down());
    EXPECT_TRUE(f.Hex1->Checked());
    EXPECT_EQ(f.hexedit->FileName(), dir.Path("pack.zip"));
    EXPECT_EQ(f.hexedit->GetDataSize(), 14);

    f.SetViewMode(7);  // no such mode: nothing of the buttons changes
    EXPECT_TRUE(f.bhex->Down());
    EXPECT_EQ(f.ViewMode, 2);
}

TEST_F(PreviewTest, VanishedFileIsReportedAndShowsNothingOfAnother)
{
    TForm1& f = Show();
    dir.Write("a.txt", "kept");
    View(dir.Path("a.txt"));
    const int menuItems = f.File1->Count();
    View(dir.Path("gone.txt"));
    EXPECT_EQ(Panel(0), "The file no longer exists: " + dir.Path("gone.txt"));
    EXPECT_EQ(Panel(1), "");
    EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + dir.Path("gone.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
    EXPECT_TRUE(PreviewAreaIsBlank());
    // The recent list keeps the missing file out.
    EXPECT_EQ(f.File1->Count(), menuItems);
    EXPECT_EQ(f.File1->Items(7)->Caption(), "&1:" + dir.Path("a.txt"));
}

TEST_F(PreviewTest, FailedViewsShowNothingOfTheEarlierFile)
{
    TForm1& f = Show();
    dir.Write("shown.txt", "earlier file");
    // /proc/self/mem exists but cannot be read from its start (an I/O error,
    // even for root): a link to it is a file whose every read fails.
    ASSERT_EQ(::symlink("/proc/self/mem", dir.Path("broken.rtf").c_str()), 0);
    ASSERT_EQ(::symlink("/proc/self/mem", dir.Path("broken.log").c_str()), 0);
    dir.Write("picture.png", "not yet a viewer's");
    struct Case {
        const char* name;
        int mode;
        const char* front;
        std::string status;
    };
    const Case cases[] = {
        // The rich-text viewer raises: the preview routine drops it.
        {"broken.rtf", 0, "PanelBlank", "Failed to open this file!"},
        // The hex viewer too.
        {"broken.log", 2, "PanelBlank", "Failed to open this file!"},
        // The text viewer reports its own failure over an emptied view.
        {"broken.log", 1, "PanelRichedit", "Failed to open this file!"},
        // A type no viewer shows yet.
        {"picture.png", 0, "PanelBlank", ""},
    };
    for (const Case& c : cases) {
        f.SetViewMode(0);
        View(dir.Path("shown.txt"));
        ASSERT_EQ(f.richedit->Text(), "earlier file");
        f.SetViewMode(c.mode);
        View(dir.Path(c.name));
        EXPECT_EQ(FrontPreviewPanel(), c.front) << c.name;
        EXPECT_EQ(PreviewAreaIsBlank(), std::string(c.front) == "PanelBlank") << c.name;
        if (FrontPreviewPanel() == "PanelRichedit") {
            EXPECT_EQ(f.richedit->Text(), "") << c.name;
        }
        EXPECT_EQ(f.Caption(), "Vistrel 1.0 - " + dir.Path(c.name)) << c.name;
        if (!c.status.empty()) {
            EXPECT_EQ(Panel(0), c.status) << c.name;
        }
        EXPECT_NE(Panel(0), dir.Path("shown.txt")) << c.name;
        EXPECT_EQ(Panel(1), "") << c.name;
    }
}

TEST_F(PreviewTest, ExecutableShowsItsHeaderReport)
{
    TForm1& f = Show();
    dir.Write("tool.exe", PEBuilder::Build(false));
    View(dir.Path("tool.exe"));
    EXPECT_EQ(f.RichEditPe->Lines()[0], "PE FORMAT FILE INFOMATION OF " + dir.Path("tool.exe"));
    EXPECT_EQ(Panel(0), dir.Path("tool.exe"));

    prompts->PushText(dir.Path("report.txt"));
    f.ToolButton58Click(nullptr);
    ASSERT_EQ(prompts->asked.back().kind, "save");
    EXPECT_EQ(prompts->asked.back().proposed, dir.Path("tool.exe") + ".txt");
    EXPECT_EQ(dir.Read("report.txt").rfind("PE FORMAT FILE INFOMATION OF ", 0), 0u);
}

TEST_F(PreviewTest, RtfFileShowsInTheRichTextView)
{
    TForm1& f = Show();
    dir.Write("letter.rtf", Fixture("wordpad.rtf"));
    View(dir.Path("letter.rtf"));
    EXPECT_EQ(f.RichEditRtf->Document(), ReadRtf(Fixture("wordpad.rtf")));
    EXPECT_EQ(Panel(0), dir.Path("letter.rtf"));
}

TEST_F(PreviewTest, FoundFilesPreviewTheFirstSelectedRow)
{
    TForm1& f = Show();
    dir.Write("one.txt", "one");
    dir.Write("two.txt", "two");
    dir.Write("three.txt", "three");
    Rows(f.slist, {dir.Path("one.txt"), dir.Path("two.txt"), dir.Path("three.txt")});
    f.slist->Items()[0]->SetSelected(true);
    f.slist->Items()[2]->SetSelected(true);
    f.slistSelectItem(f.slist, f.slist->Items()[2], true);
    EXPECT_EQ(f.CurrentFile, dir.Path("one.txt"));
    // A row losing its selection is no request.
    f.slistSelectItem(f.slist, f.slist->Items()[0], false);
    EXPECT_EQ(f.CurrentFile, dir.Path("one.txt"));
}

TEST_F(PreviewTest, NextAndPreviousWrapAroundTheActiveList)
{
    TForm1& f = Show();
    f.PageControl1->SetActivePage(f.TabSheet2);
    f.bnextClick(nullptr);  // no rows: nothing
    EXPECT_TRUE(f.CurrentFile.empty());
    for (const char* n : {"a.txt", "b.txt", "c.txt"})
        dir.Write(n, n);
    Rows(f.slist, {dir.Path("a.txt"), dir.Path("b.txt"), dir.Path("c.txt")});
    f.bnextClick(nullptr);  // nothing selected: the first
    EXPECT_EQ(f.CurrentFile, dir.Path("a.txt"));
    f.bprevClick(nullptr);  // from the first: the last
    EXPECT_EQ(f.CurrentFile, dir.Path("c.txt"));
    EXPECT_EQ(f.slist->SelCount(), 1);
    f.bnextClick(nullptr);  // from the last: the first
    EXPECT_EQ(f.CurrentFile, dir.Path("a.txt"));
    f.bnextClick(nullptr);
    EXPECT_EQ(f.CurrentFile, dir.Path("b.txt"));
    EXPECT_EQ(f.richedit->Text(), "b.txt");

    f.PageControl1->SetActivePage(f.TabSheet3);
    Rows(f.selectedlist, {dir.Path("c.txt")});
    f.bprevClick(nullptr);
    EXPECT_EQ(f.CurrentFile, dir.Path("c.txt"));
    f.bprevClick(nullptr);
    EXPECT_EQ(f.CurrentFile, dir.Path("c.txt"));
}

TEST_F(PreviewTest, SaveWritesTheViewWholeKeepingLineBreaks)
{
    TForm1& f = Show();
    dir.Write("unix.txt", "alpha\nbeta\n");
    View(dir.Path("unix.txt"));
    f.richedit->SetText("alpha\nbeta\ngamma");
    f.Save1Click(nullptr);
    EXPECT_EQ(dir.Read("unix.txt"), "alpha\nbeta\ngamma\n");
    EXPECT_TRUE(Messages().empty()) << "an exact file is saved without a question";
}

TEST_F(PreviewTest, SaveRefusesOrAsksWhenTheViewIsNotTheFile)
{
    TForm1& f = Show();
    // Converted from UTF-16: asks; "No" keeps the file.
    const std::string utf16("\xFF\xFEh\0i\0", 6);
    dir.Write("wide.txt", utf16);
    View(dir.Path("wide.txt"));
    EXPECT_EQ(f.richedit->Text(), "hi");
    prompts->PushButton(IDNO);
    f.Save1Click(nullptr);
    EXPECT_EQ(dir.Read("wide.txt"), utf16);
    ASSERT_EQ(prompts->asked.size(), 1u);
    EXPECT_EQ(prompts->asked[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONWARNING));
    // "Yes" writes what the view shows.
    prompts->PushButton(IDYES);
    f.Save1Click(nullptr);
    EXPECT_EQ(dir.Read("wide.txt"), "hi");

    // Zero bytes shown as stand-ins in ASCII mode: Save and Save As over the
    // file refuse, since the stand-ins would replace the bytes.
    const std::string binary("head\0tail", 9);
    dir.Write("data.bin", binary);
    f.SetViewMode(1);
    f.CurrentFile = dir.Path("data.bin");
    f.ViewCurrentFile();
    EXPECT_EQ(f.richedit->Text(), "head\xE2\x90\x80tail");
    prompts->asked.clear();
    f.Save1Click(nullptr);
    EXPECT_EQ(dir.Read("data.bin"), binary);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("stand-in characters, so it was not saved"), std::string::npos);
    EXPECT_EQ(prompts->asked[0].flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    prompts->PushText(dir.Path("data.bin"));
    f.SaveAS1Click(nullptr);
    EXPECT_EQ(dir.Read("data.bin"), binary);
    f.SetViewMode(0);

    // A big unknown file is never loaded: the view holds another file.
    dir.Write("small.txt", "small");
    dir.Write("big.log2", std::string(kUnknownFileTextLimit, 'b'));
    View(dir.Path("small.txt"));
    View(dir.Path("big.log2"));
    prompts->asked.clear();
    f.Save1Click(nullptr);
    EXPECT_EQ(dir.Read("big.log2"), std::string(kUnknownFileTextLimit, 'b'));
    EXPECT_EQ(Messages(), std::vector<std::string> {"The text view does not show the current file, so it was not saved."});
    EXPECT_EQ(dir.Read("small.txt"), "small");
    // Save As proposing the current file's name refuses the same way.
    prompts->asked.clear();
    prompts->PushText(dir.Path("big.log2"));
    f.SaveAS1Click(nullptr);
    EXPECT_EQ(dir.Read("big.log2"), std::string(kUnknownFileTextLimit, 'b'));
    EXPECT_EQ(Messages(), std::vector<std::string> {"The text view does not show the current file, so it was not saved over it."});
    // To a new name the shown text is written, and that file becomes current.
    prompts->PushText(dir.Path("small-copy.txt"));
    f.SaveAS1Click(nullptr);
    EXPECT_EQ(dir.Read("small-copy.txt"), "small");
    EXPECT_EQ(f.CurrentFile, dir.Path("small-copy.txt"));
    EXPECT_EQ(f.richedit->Text(), "small");
}

TEST_F(PreviewTest, RichTextSaveAsksWhenPartsWouldBeLost)
{
    TForm1& f = Show();
    const std::string word = Fixture("word.rtf");
    dir.Write("word.rtf", word);
    View(dir.Path("word.rtf"));
    prompts->PushButton(IDNO);
    f.Save3Click(nullptr);
    EXPECT_EQ(dir.Read("word.rtf"), word);

    dir.Write("pad.rtf", Fixture("wordpad.rtf"));
    View(dir.Path("pad.rtf"));
    const TRtfDocument before = f.RichEditRtf->Document();
    prompts->asked.clear();
    f.Save3Click(nullptr);
    EXPECT_TRUE(prompts->asked.empty());
    EXPECT_EQ(ReadRtf(dir.Read("pad.rtf")), before);

    // Save As to a new name: written, becomes the current file, shown again.
    prompts->PushText(dir.Path("copy.rtf"));
    f.SaveAs3Click(nullptr);
    EXPECT_EQ(f.CurrentFile, dir.Path("copy.rtf"));
    EXPECT_EQ(ReadRtf(dir.Read("copy.rtf")), before);
    EXPECT_EQ(prompts->asked.back().proposed, dir.Path("pad.rtf"));
}

TEST_F(PreviewTest, HexSaveAsWritesTheNewFileAndShowsIt)
{
    TForm1& f = Show();
    dir.Write("raw.bin", "\x01\x02\x03");
    f.SetViewMode(2);
    View(dir.Path("raw.bin"));
    prompts->PushText(dir.Path("raw2.bin"));
    f.SaveAs4Click(nullptr);
    EXPECT_EQ(dir.Read("raw2.bin"), "\x01\x02\x03");
    EXPECT_EQ(f.CurrentFile, dir.Path("raw2.bin"));
    EXPECT_EQ(f.hexedit->FileName(), dir.Path("raw2.bin"));
}

TEST_F(PreviewTest, HexTextExportNeedsAFile)
{
    TForm1& f = Show();
    f.SaveafileasHEXmode1Click(nullptr);
    EXPECT_EQ(Messages(), std::vector<std::string> {"No file is opened."});
    EXPECT_EQ(prompts->asked.size(), 1u) << "no save dialog";

    dir.Write("b.bin", "AB");
    View(dir.Path("b.bin"));
    prompts->PushText(dir.Path("b"));
    f.SaveafileasHEXmode1Click(nullptr);
    EXPECT_EQ(dir.Read("b.txt"), "41 42 \r\n");
}

TEST_F(PreviewTest, FindMatchesCaseAndContinuesBehindTheMatch)
{
    TForm1& f = Show();
    dir.Write("f.txt", "Hello WORLD\nhello world");
    View(dir.Path("f.txt"));
    f.richedit->SetSelStart(3);
    f.richedit->SetSelStart(0);
    EXPECT_EQ(Panel(4), "ROW:0");
    EXPECT_EQ(Panel(5), "COL:0");
    prompts->PushText("world");
    f.Find2Click(nullptr);
    EXPECT_EQ(f.richedit->SelStart(), 18);
    EXPECT_EQ(f.richedit->SelText(), "world");
    EXPECT_EQ(Panel(4), "ROW:1");
    EXPECT_EQ(Panel(5), "COL:6");
    f.FindAgain2Click(nullptr);
    EXPECT_EQ(Messages(), std::vector<std::string> {"No found!"});
}

TEST_F(PreviewTest, CurrentFileCopyNamesTheCause)
{
    TForm1& f = Show();
    dir.Write("src.txt", "data");
    dir.Write("dest/src.txt", "other");
    View(dir.Path("src.txt"));
    prompts->PushText(dir.Path("dest/src.txt"));
    f.ToolButton28Click(nullptr);
    prompts->PushText(dir.Path("nowhere/src.txt"));
    f.ToolButton28Click(nullptr);
    EXPECT_EQ(Messages(), (std::vector<std::string> {"There is a same name file in this directory. \nFailed to copy the file.",
                              "Failed to copy the file.\n" + SysErrorMessage(ERROR_FILE_NOT_FOUND)}));
    EXPECT_EQ(dir.Read("dest/src.txt"), "other");
    prompts->PushText(dir.Path("dest/copy.txt"));
    f.ToolButton28Click(nullptr);
    EXPECT_EQ(dir.Read("dest/copy.txt"), "data");
    EXPECT_EQ(f.CurrentFile, dir.Path("src.txt"));
}

TEST_F(PreviewTest, DeleteCurrentFileAsksAndUsesTheTrash)
{
    const std::string saved = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    TForm1& f = Show();
    dir.Write("victim.txt", "v");
    Rows(f.list, {dir.Path("victim.txt")});
    f.list->Items()[0]->SetSelected(true);
    View(dir.Path("victim.txt"));
    prompts->PushButton(IDNO);
    f.ToolButton7Click(nullptr);
    EXPECT_TRUE(dir.Exists("victim.txt"));
    EXPECT_EQ(FrontPreviewPanel(), "PanelRichedit");
    prompts->PushButton(IDYES);
    f.ToolButton7Click(nullptr);
    EXPECT_FALSE(dir.Exists("victim.txt"));
    EXPECT_EQ(dir.Read("data/Trash/files/victim.txt"), "v");
    // The deleted file's text does not stay on screen.
    EXPECT_EQ(FrontPreviewPanel(), "PanelBlank");
    EXPECT_TRUE(PreviewAreaIsBlank());
    EXPECT_EQ(Panel(0), "The file no longer exists: " + dir.Path("victim.txt"));
    if (saved.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST_F(PreviewTest, FavouriteFoldersMenu)
{
    TForm1& f = Show();
    dir.Write("music/.keep", "");
    if constexpr (requires { f.tree->GetSelectedPathName(); }) {
        f.SelectStartFolder(dir.Path("music"));
    } else {
        TTreeNode* node = f.tree->AddChild(nullptr, dir.Path("music"));
        f.tree->SetSelected(node);
    }
    const std::string folder = f.TreeSelectedPath();
    ASSERT_EQ(ExcludeTrailingPathDelimiter(folder), dir.Path("music"));
    prompts->PushCancel();
    f.Addcurrentfoldertofolderlist1Click(nullptr);
    EXPECT_EQ(dir.Read("ffolders/folders.txt"), folder + "\r\n" + folder + "\r\n");
    ASSERT_EQ(f.Folders1->Count(), 4);
    EXPECT_EQ(f.Folders1->Items(3)->Caption(), folder + "-" + folder);
    EXPECT_TRUE(static_cast<bool>(f.Folders1->Items(3)->OnClick));
}

TEST_F(PreviewTest, MarkedFilesCommands)
{
    TForm1& f = Show();
    dir.Write("m.txt", "m");
    View(dir.Path("m.txt"));
    f.ToolButton24Click(nullptr);
    f.ToolButton24Click(nullptr);
    ASSERT_EQ(f.selectedlist->Items().Count(), 1);
    EXPECT_EQ(f.selectedlist->Items()[0]->Caption(), dir.Path("m.txt"));
    f.ToolButton42->Click();
    EXPECT_EQ(f.selectedlist->SelCount(), 1);
    f.ToolButton31->Click();
    EXPECT_EQ(f.selectedlist->Items().Count(), 0);
    EXPECT_TRUE(dir.Exists("m.txt"));
}

TEST_F(PreviewTest, ColumnsHoldWhatTheyUsuallyShow)
{
    TForm1& f = Show();
    dir.Write("disk/big.bin", "");
    std::filesystem::resize_file(dir.Path("disk/big.bin"), 1073741824);
    f.SelectStartFolder(dir.Path("disk"));
    QCoreApplication::processEvents();
    ASSERT_EQ(f.list->Items().Count(), 1);
    ExpectTextsFitColumns(*f.list, {1, 3}); // "1,048,576 KB" and the date
    f.CurrentFile = dir.Path("disk/big.bin");
    f.ToolButton24Click(nullptr);
    ASSERT_EQ(f.selectedlist->Items().Count(), 1);
    ExpectTextsFitColumns(*f.selectedlist, {1, 2, 3});
}

TEST_F(PreviewTest, DiskFilesSelectionPreviewsTheFile)
{
    TForm1& f = Show();
    dir.Write("disk/a.txt", "text of a");
    dir.Write("disk/b.rtf", "{\\rtf1 rich b\\par}");
    TListItem* row = nullptr;
    if constexpr (requires { f.list->GetSelectedItem(); }) {
        // The shell list's rows get their texts on demand: the row is found
        // by the path its item answers.
        f.SelectStartFolder(dir.Path("disk"));
        for (int i = 0; i < f.list->Items().Count() && !row; ++i) {
            f.list->ClearSelection();
            f.list->Items()[i]->SetSelected(true);
            if (f.DiskListSelectedPath() == dir.Path("disk/a.txt"))
                row = f.list->Items()[i];
        }
    } else {
        row = f.list->Items().Add();
        row->SetCaption(dir.Path("disk/a.txt"));
    }
    ASSERT_TRUE(row);
    row->SetSelected(true);
    f.list->OnSelectItem(f.list, row, true);
    EXPECT_EQ(f.CurrentFile, dir.Path("disk/a.txt"));
    EXPECT_EQ(f.richedit->Text(), "text of a");
    EXPECT_EQ(Panel(0), dir.Path("disk/a.txt"));
}

TEST_F(PreviewTest, ShellOpenFailuresAreSaidInTheStatusBar)
{
    TForm1& f = Show();
    // The program folder of the test has no ASCII table.
    f.Asciitable1->Click();
    EXPECT_EQ(Panel(0), "The file is missing: " + dir.Path("ini/ascii.txt"));
    // A help page that no program can open: no opener on the search path.
    dir.Write("help/help.htm", "<html></html>");
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", dir.Path("no-programs").c_str(), 1);
    f.Userguide1->Click();
    const std::string help = Panel(0);
    f.Gotothehomepage1->Click();
    const std::string homepage = Panel(0);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(help, "No program could open " + dir.Path("help/help.htm"));
    EXPECT_EQ(homepage, std::string("No program could open ") + kHomepage);
}
