// The archive panel on a shown main window: the rows of a ZIP, sorting by
// column, and extraction through scripted dialogs, overwrite questions and
// password prompts. Archives: tests/archive_extract/fixtures
// (scripts/make-extract-fixtures.sh).
#include "app_fixture.h"
#include "../archive/zip_writer.h"

#include "app/archivepanel.h"
#include "shell/shellapi.h"
#include "app/extractdialogs.h"

#include "archive/zadunzip.h"
#include "archive/zadvirov.h"

#include <filesystem>
#include <fstream>

namespace {

std::string ZipFixture(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/../archive_extract/fixtures/" + name;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ArchivePanelTest : public AppTest {
protected:
    TArchivePanel& Show(const std::string& archive)
    {
        WriteDefaults();
        ShowMainWindow();
        form->CurrentFile = archive;
        form->ViewArchive();
        return *form->ArchivePanel;
    }
    // Answers the extract dialog with a folder and a choice of entries, and
    // the overwrite dialog from a queue.
    void Script(TArchivePanel& p, const std::string& folder, int which, std::vector<int> overwrite = {},
        bool dontAsk = false)
    {
        p.RunModal = [this, &p, folder, which, overwrite, dontAsk, n = size_t(0)](TForm* dialog) mutable {
            if (dialog == p.frmExtract) {
                ++extractShown;
                p.frmExtract->Edit1->SetText(folder);
                p.frmExtract->RadioGroup1->SetItemIndex(which);
                p.frmExtract->BitBtn1Click(nullptr);
                return p.frmExtract->ModalResult();
            }
            ++overwriteAsked;
            p.frmOverwrite->CheckBox1->SetChecked(dontAsk);
            return n < overwrite.size() ? overwrite[n++] : static_cast<int>(mrCancel);
        };
    }
    std::vector<std::string> Column(TArchivePanel& p, int column)
    {
        std::vector<std::string> out;
        for (int i = 0; i < p.ListView1->Items().Count(); ++i) {
            TListItem* r = p.ListView1->Items()[i];
            out.push_back(column == 0 ? r->Caption() : r->SubItems()[column - 1]);
        }
        return out;
    }
    int extractShown = 0;
    int overwriteAsked = 0;
    TempDir target;
};

}  // namespace

TEST_F(ArchivePanelTest, RowsShowTheEntries)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    ASSERT_GE(p.ListView1->Items().Count(), 4);
    const auto names = Column(p, 0);
    const auto it = std::find(names.begin(), names.end(), "notes.txt");
    ASSERT_NE(it, names.end());
    TListItem* row = p.ListView1->Items()[static_cast<int>(it - names.begin())];
    const TStringList& s = row->SubItems();
    SHFILEINFOA info {};
    SHGetFileInfoA("notes.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME);
    EXPECT_EQ(s[0], info.szTypeName) << "the shell's type name of the entry";
    EXPECT_EQ(s[2], "300");             // unpacked
    EXPECT_EQ(s[4], "docs/");           // folder, with its separator
    EXPECT_EQ(s[7], "5A2D3785");        // CRC
    EXPECT_EQ(s[9], "No");              // encrypted
    EXPECT_EQ(s[3].back(), '%');        // ratio
    EXPECT_FALSE(s[11].empty());        // method
    ASSERT_GE(s[5].size(), 16u);  // mm/dd/yy h:mm am
    EXPECT_EQ(s[5][2], '/');
    EXPECT_EQ(s[5][5], '/');
    EXPECT_TRUE(s[5].ends_with("am") || s[5].ends_with("pm"));
    EXPECT_TRUE(p.bextract->Enabled());
}

TEST_F(ArchivePanelTest, SortingByColumns)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    p.ListView1ColumnClick(nullptr, 3);  // unpacked, ascending
    auto sizes = Column(p, 3);
    for (size_t i = 1; i < sizes.size(); ++i)
        EXPECT_LE(std::stoll(sizes[i - 1]), std::stoll(sizes[i]));
    p.ListView1ColumnClick(nullptr, 3);  // again: descending
    sizes = Column(p, 3);
    for (size_t i = 1; i < sizes.size(); ++i)
        EXPECT_GE(std::stoll(sizes[i - 1]), std::stoll(sizes[i]));
    p.ListView1ColumnClick(nullptr, 0);
    const auto names = Column(p, 0);
    auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
        [&](const std::string& a, const std::string& b) { return lower(a) < lower(b); }));
    // Attributes compare equal: the order stays as it was.
    p.ListView1ColumnClick(nullptr, 7);
    EXPECT_EQ(Column(p, 0), names);
}

TEST_F(ArchivePanelTest, ExtractAllIntoTheChosenFolder)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    Script(p, target.Root(), 1);
    p.bextractClick(nullptr);
    EXPECT_EQ(extractShown, 1);
    EXPECT_TRUE(FileExists(target.Path("readme.txt")));
    EXPECT_TRUE(FileExists(target.Path("docs/deep/data.bin")));
    EXPECT_FALSE(p.Panel3->Visible());
}

TEST_F(ArchivePanelTest, ExtractTheSelectedRowOnly)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    const auto names = Column(p, 0);
    const int last = static_cast<int>(std::find(names.begin(), names.end(), "notes.txt") - names.begin());
    p.ListView1->Items()[last]->SetSelected(true);
    EXPECT_EQ(p.SelectedMasks(), std::vector<std::string> {"docs/notes.txt"});
    Script(p, target.Root(), 0);
    p.bextractClick(nullptr);
    EXPECT_TRUE(FileExists(target.Path("docs/notes.txt")));
    EXPECT_FALSE(FileExists(target.Path("readme.txt")));
}

TEST_F(ArchivePanelTest, ColumnsHoldTheirDatesSizesAndAttributes)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    ASSERT_GT(p.ListView1->Items().Count(), 0);
    ExpectTextsFitColumns(*p.ListView1, {2, 3, 4, 6, 7, 8, 9, 10});
}

TEST_F(ArchivePanelTest, TheExtractDialogPicksTheFolderInItsDriveBoxFolderListAndFileList)
{
    std::filesystem::create_directories(target.Path("in/sub"));
    std::filesystem::copy_file(ZipFixture("deflated.zip"), target.Path("in/deflated.zip"));
    TArchivePanel& p = Show(target.Path("in/deflated.zip"));
    TfrmExtract& d = *p.frmExtract;
    p.RunModal = [&](TForm* dialog) {
        if (dialog != p.frmExtract)
            return static_cast<int>(mrCancel);
        // The first extraction starts in the archive's folder, its files
        // listed, its drive chosen.
        EXPECT_EQ(d.DirectoryListBox1->Directory(), target.Path("in"));
        EXPECT_EQ(d.Edit1->Text(), target.Path("in"));
        EXPECT_EQ(d.FileListBox1->Directory(), target.Path("in"));
        EXPECT_GE(d.FileListBox1->Count(), 1);
        EXPECT_EQ(d.FileListBox1->Item(0), "deflated.zip");
        EXPECT_FALSE(d.DriveComboBox1->Drive().empty());
        EXPECT_EQ(target.Path("in").rfind(ExcludeTrailingPathDelimiter(d.DriveComboBox1->Drive()), 0), 0u);
        // A folder opened in the folder list becomes the target.
        int sub = -1;
        for (int i = 0; i < d.DirectoryListBox1->Count(); ++i)
            if (d.DirectoryListBox1->GetItemPath(i) == target.Path("in/sub"))
                sub = i;
        EXPECT_GE(sub, 0);
        d.DirectoryListBox1->SetItemIndex(sub);
        d.DirectoryListBox1->OpenCurrent();
        EXPECT_EQ(d.Edit1->Text(), target.Path("in/sub"));
        EXPECT_EQ(d.FileListBox1->Directory(), target.Path("in/sub"));
        // "New Folder" makes one inside it and opens it.
        prompts->PushText("out");
        d.Button3Click(nullptr);
        EXPECT_EQ(d.DirectoryListBox1->Directory(), target.Path("in/sub/out"));
        EXPECT_EQ(d.Edit1->Text(), target.Path("in/sub/out"));
        d.BitBtn1Click(nullptr);
        return d.ModalResult();
    };
    p.bextractClick(nullptr);
    EXPECT_TRUE(FileExists(target.Path("in/sub/out/readme.txt")));
    // The next extraction starts where the last one went.
    p.RunModal = [&](TForm*) {
        EXPECT_EQ(d.Edit1->Text(), target.Path("in/sub/out"));
        return static_cast<int>(mrCancel);
    };
    p.bextractClick(nullptr);
}

TEST_F(ArchivePanelTest, OverwriteAnswers)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    target.Write("readme.txt", "old");
    target.Write("docs/notes.txt", "old");
    // "No" with "Don't ask again": every later conflict is skipped too.
    Script(p, target.Root(), 1, {mrNo}, true);
    p.bextractClick(nullptr);
    EXPECT_EQ(overwriteAsked, 1);
    EXPECT_EQ(ReadAll(target.Path("readme.txt")), "old");
    EXPECT_EQ(ReadAll(target.Path("docs/notes.txt")), "old");
    EXPECT_TRUE(FileExists(target.Path("docs/deep/data.bin")));

    // Closing the box cancels: the file stays and one message reports it.
    overwriteAsked = 0;
    Script(p, target.Root(), 1, {});
    prompts->asked.clear();
    p.bextractClick(nullptr);
    EXPECT_EQ(overwriteAsked, 1);
    EXPECT_EQ(ReadAll(target.Path("readme.txt")), "old");
    int failures = 0;
    for (const auto& a : prompts->asked)
        failures += a.text.find("Extract failed") != std::string::npos;
    EXPECT_LE(failures, 1);
}

TEST_F(ArchivePanelTest, PasswordIsAskedAndRetried)
{
    TArchivePanel& p = Show(ZipFixture("aes128.zip"));
    Script(p, target.Root(), 1);
    prompts->PushText("wrong");
    prompts->PushText("Secret1");
    p.bextractClick(nullptr);
    EXPECT_EQ(ReadAll(target.Path("docs/notes.txt")).size(), 300u);
    int inputs = 0;
    for (const auto& a : prompts->asked)
        inputs += a.kind == "input" && a.caption == "Encrypted file...";
    EXPECT_EQ(inputs, 2);
}

TEST_F(ArchivePanelTest, AWrongPasswordForEveryEntryEndsInOneMessage)
{
    TArchivePanel& p = Show(ZipFixture("aes128.zip"));
    Script(p, target.Root(), 1);
    for (int i = 0; i < 3; ++i)
        prompts->PushText("wrong");
    p.bextractClick(nullptr);
    std::vector<std::string> failures;
    for (const auto& a : prompts->asked)
        if (a.text.find("Extract failed") != std::string::npos)
            failures.push_back(a.text);
    ASSERT_EQ(failures.size(), 1u);
    // It names the entries and the reason.
    EXPECT_NE(failures[0].find("readme.txt"), std::string::npos);
    EXPECT_NE(failures[0].find("notes.txt"), std::string::npos);
    EXPECT_NE(failures[0].find("\nExtract failed\n\nInvalid password"), std::string::npos);
    EXPECT_FALSE(FileExists(target.Path("readme.txt")));
}

TEST_F(ArchivePanelTest, HostileEntriesAreRefusedTheRestExtracts)
{
    TArchivePanel& p = Show(ZipFixture("traversal.zip"));
    const std::string inner = target.Path("inner") + "/";
    std::filesystem::create_directories(inner);
    Script(p, inner, 1);
    p.bextractClick(nullptr);
    EXPECT_TRUE(FileExists(inner + "good1.txt"));
    EXPECT_TRUE(FileExists(inner + "sub/good2.txt"));
    EXPECT_FALSE(FileExists(target.Path("escape1.txt")));
    EXPECT_FALSE(FileExists(target.Path("escape2.txt")));
}

// An HA archive's header: a type that is listed but not extracted.
std::string HaBytes()
{
    std::string ha(40, '\0');
    ha[0] = 'H';
    ha[1] = 'A';
    return ha;
}

// A BH archive's signature: a type that is detected but not read yet.
std::string BhBytes()
{
    std::string bh(64, '\0');
    bh.replace(0, 4, "BH\x05\x07");
    return bh;
}

TEST_F(ArchivePanelTest, UnsupportedTypeSaysSo)
{
    TempDir work;
    work.Write("a.ha", HaBytes());
    TArchivePanel& p = Show(work.Path("a.ha"));
    Script(p, target.Root(), 1);
    p.bextractClick(nullptr);
    bool said = false;
    for (const auto& a : prompts->asked)
        said |= a.text == "Extract not supported for this filetype";
    EXPECT_TRUE(said);
}

TEST_F(ArchivePanelTest, OpeningAZipThroughThePreviewShowsItsEntries)
{
    WriteDefaults();
    ShowMainWindow();
    form->OpenFilePath(ZipFixture("test.jar"));
    ASSERT_NE(form->ArchivePanel, nullptr);
    const auto names = Column(*form->ArchivePanel, 0);
    EXPECT_NE(std::find(names.begin(), names.end(), "MANIFEST.MF"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "readme.txt"), names.end());
}

TEST_F(ArchivePanelTest, DatesSortAsDates)
{
    TArchivePanel& p = Show(ZipFixture("traversal.zip"));
    // All entries share one date; a row from another archive listed
    // earlier would not be here. Sorting keeps equal dates in their order.
    const auto before = Column(p, 0);
    p.ListView1ColumnClick(nullptr, 6);
    EXPECT_EQ(Column(p, 0), before);
}

TEST_F(ArchivePanelTest, NoListingOrSecondRunWhileExtracting)
{
    TArchivePanel& p = Show(ZipFixture("deflated.zip"));
    const int rows = p.ListView1->Items().Count();
    int nested = 0;
    Script(p, target.Root(), 1);
    // A handler that, mid-run, tries what pumped messages could trigger.
    p.UnZip1->OnProgress = [&](TObject*, BYTE, BYTE) {
        if (nested++ == 0) {
            p.ListArchive(ZipFixture("traversal.zip"));
            p.bextractClick(nullptr);
        }
    };
    p.bextractClick(nullptr);
    EXPECT_EQ(extractShown, 1);
    EXPECT_EQ(p.ListView1->Items().Count(), rows);
    EXPECT_TRUE(FileExists(target.Path("docs/deep/data.bin")));
}

TEST_F(ArchivePanelTest, AnEmptyChainShowsNoRowsAndNoComplaint)
{
    // A BH file whose first header ends its chain: no rows, and since BH
    // archives are read now, no "unsupported" report.
    TempDir work;
    work.Write("a.bh", BhBytes());
    const std::string bh = work.Path("a.bh");
    TArchivePanel& p = Show(bh);
    EXPECT_EQ(p.ListView1->Items().Count(), 0);
    EXPECT_EQ(form->StatusBar1->Panel(3).Text, "");
    EXPECT_EQ(form->StatusBar1->Panel(0).Text, bh);  // the file's own details stay
}

TEST_F(ArchivePanelTest, CompressedTarAndTarArchivesListAndExtract)
{
    // A .tgz holds one entry, its TAR file, which "Extract..." writes as it is.
    TArchivePanel& p = Show(ZipFixture("gztar/tree.tgz"));
    EXPECT_EQ(Column(p, 0), std::vector<std::string>{"tree.tar"});
    Script(p, target.Root(), 1);
    p.bextractClick(nullptr);
    EXPECT_EQ(ReadAll(target.Path("tree.tar")), ReadAll(ZipFixture("gztar/gnu.tar")));
    EXPECT_EQ(form->StatusBar1->Panel(3).Text, "");

    TArchivePanel& t = Show(ZipFixture("gztar/gnu.tar"));
    const auto names = Column(t, 0);
    EXPECT_NE(std::find(names.begin(), names.end(), "words.txt"), names.end());
    EXPECT_EQ(Column(t, 5)[std::find(names.begin(), names.end(), "words.txt") - names.begin()], "tree/dir/sub/");
    TempDir out;
    Script(t, out.Root(), 1);
    t.bextractClick(nullptr);
    EXPECT_EQ(ReadAll(out.Path("tree/dir/a.txt")), "alpha\n");
}

TEST_F(ArchivePanelTest, TruncatedZipShowsItsEntriesAndTheDamageInWords)
{
    // deflated.zip cut before its central directory: the entries come from
    // the local headers, and one message says the archive is damaged.
    TempDir work;
    std::string bytes = ReadAll(ZipFixture("deflated.zip"));
    bytes.resize(bytes.find(std::string("PK\x01\x02", 4)));
    work.Write("cut.zip", bytes);
    TArchivePanel& p = Show(work.Path("cut.zip"));
    const auto names = Column(p, 0);
    for (const char* name : {"readme.txt", "notes.txt", "data.bin"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_EQ(form->StatusBar1->Panel(3).Text, "The archive is damaged (its central directory is missing); " +
                                                   std::to_string(names.size()) + " entries found");
    EXPECT_TRUE(prompts->asked.empty());
}

TEST_F(ArchivePanelTest, OverlappingZipExtractsItsHonestEntriesOnly)
{
    // Ten central entries on one record (a possible zip bomb): the list
    // shows what the directory says, extraction writes the honest entries
    // and the status bar says what was refused.
    const zipwriter::Archive overlapping = hostile::OverlappingEntries(65536);
    TempDir work;
    work.Write("overlap.zip", overlapping.Build());
    TArchivePanel& p = Show(work.Path("overlap.zip"));
    EXPECT_EQ(p.ListView1->Items().Count(), 12);
    Script(p, target.Root(), 1);
    p.bextractClick(nullptr);
    std::vector<std::string> written;
    for (const auto& e : std::filesystem::directory_iterator(target.Root()))
        written.push_back(e.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"a.txt", "bomb.bin", "z.txt"}));
    EXPECT_EQ(form->StatusBar1->Panel(3).Text,
              "3 entries extracted; copy1.bin: Entry data overlaps another entry (possible zip bomb): overlaps bomb.bin; "
              "8 more problems");
}

TEST_F(ArchivePanelTest, UuencodedZipIsOfferedDecodedAndListedBelowItsEntry)
{
    // The ZIP is decoded into the temporary folder, which this test owns.
    TempDir temp;
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("TMPDIR", temp.Root().c_str(), 1);
    prompts->PushButton(IDYES);
    TArchivePanel& p = Show(ZipFixture("text/zip.uue"));
    if (saved)
        ::setenv("TMPDIR", savedValue.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    bool asked = false;
    for (const auto& a : prompts->asked)
        asked |= a.text == "Decode archive to a temp folder and open it?";
    EXPECT_TRUE(asked);
    EXPECT_EQ(Column(p, 0), (std::vector<std::string>{"inner.zip", "inner.txt"}));
    EXPECT_EQ(ReadAll(temp.Path("inner.zip")), ReadAll(ZipFixture("text/originals/inner.zip")));

    // No: only the encoded entry.
    prompts->PushButton(IDNO);
    TArchivePanel& q = Show(ZipFixture("text/zip.uue"));
    EXPECT_EQ(Column(q, 0), std::vector<std::string>{"inner.zip"});
}

// Archives from Linux tools (tests/archive_unix/fixtures): the row of a
// non-ASCII name extracts when it alone is selected.
TEST_F(ArchivePanelTest, SelectedRowWithANonAsciiNameExtracts)
{
    for (const char* fixture : {"names/gnu.tar", "names/grüße.txt.gz", "names/infozip.zip", "names/grüße.arj",
             "names/unix.lzh", "names/unix.rar"}) {
        SCOPED_TRACE(fixture);
        TArchivePanel& p = Show(std::string(VISTREL_TEST_DATA) + "/../archive_unix/fixtures/" + fixture);
        const auto names = Column(p, 0);
        const auto row = std::find(names.begin(), names.end(), "grüße.txt");
        ASSERT_NE(row, names.end());
        p.ListView1->Items()[static_cast<int>(row - names.begin())]->SetSelected(true);
        TempDir out;
        Script(p, out.Root(), 0);
        p.bextractClick(nullptr);
        EXPECT_TRUE(FileExists(out.Path("grüße.txt")));
        EXPECT_EQ(form->StatusBar1->Panel(3).Text, "");
    }
}
