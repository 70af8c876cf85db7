// The shared routines: the text reader, the hex-text export and the file
// operations on list rows, against a temporary folder with scripted answers.
#include "app_fixture.h"

#include "app/tools/commonfunc.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

} // namespace

TEST(ReadTextFile, EncodingsZeroAndControlBytes)
{
    TempDir dir;
    // Control pictures of the bytes 00, 01, 02, 1B, 1F and 7F, and the
    // replacement character.
    const std::string nul = "\xE2\x90\x80", soh = "\xE2\x90\x81", stx = "\xE2\x90\x82", esc = "\xE2\x90\x9B",
                      us = "\xE2\x90\x9F", del = "\xE2\x90\xA1", bad = "\xEF\xBF\xBD";
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
        bool exact;
        bool standIns;
    };
    const std::vector<Case> cases = {
        {"ascii", "hello\r\nworld\n", "hello\r\nworld\n", true, false},
        {"utf8", "h\xC3\xA9llo \xE4\xB8\xAD", "h\xC3\xA9llo \xE4\xB8\xAD", true, false},
        // The whole file, each zero byte one visible character.
        {"ascii_zero", std::string("ab\0cd\0", 6), "ab" + nul + "cd" + nul, false, true},
        {"utf8_zero", std::string("\xC3\xA9\0x", 4), "\xC3\xA9" + nul + "x", false, true},
        // Tab and line breaks stay; every other control byte gets its picture.
        {"controls", "a\tb\r\nc\x01\x1F\x7F\x1B\rd", "a\tb\r\nc" + soh + us + del + esc + "\rd", false, true},
        {"elf", std::string("\x7F" "ELF\x02\x01\0\0", 8), del + "ELF" + stx + soh + nul + nul, false, true},
        // A byte that is no UTF-8 is one replacement character, each byte of
        // a broken sequence too.
        {"latin1", "caf\xE9", "caf" + bad, false, true},
        {"overlong", "<\xC0\xAF>", "<" + bad + bad + ">", false, true},
        {"cut_sequence", "x\xE4\xB8", "x" + bad + bad, false, true},
        {"surrogate", "\xED\xA0\x80", bad + bad + bad, false, true},
        {"utf16", Bytes({0xFF, 0xFE, 'h', 0, 'i', 0, 0xE9, 0, 0x2D, 0x4E}), "hi\xC3\xA9\xE4\xB8\xAD", false, false},
        {"utf16_zero", Bytes({0xFF, 0xFE, 'h', 0, 0, 0, 'i', 0}), "h" + nul + "i", false, true},
        {"utf16_pair", Bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80", false, false},
        {"utf16_lone_surrogate", Bytes({0xFF, 0xFE, 0x3D, 0xD8, 'a', 0}), bad + "a", false, false},
        {"utf16_odd_byte", Bytes({0xFF, 0xFE, 'a', 0, 'b'}), "a", false, false},
        {"only_bom", Bytes({0xFF, 0xFE}), "", false, false},
        {"empty", "", "", true, false},
    };
    for (const Case& c : cases) {
        dir.Write(c.name, c.bytes);
        const TTextFileContents read = ReadTextFileContents(dir.Path(c.name));
        EXPECT_TRUE(read.Opened) << c.name;
        EXPECT_EQ(read.Text, c.text) << c.name;
        EXPECT_EQ(read.Exact, c.exact) << c.name;
        EXPECT_EQ(read.StandIns, c.standIns) << c.name;
        EXPECT_EQ(ReadTextFile(dir.Path(c.name)), c.text) << c.name;
    }
    // The UTF-8 switch takes FF FE as bytes that are no UTF-8.
    const TTextFileContents raw = ReadUtf8TextFileContents(dir.Path("utf16_zero"));
    EXPECT_EQ(raw.Text, bad + bad + "h" + nul + nul + nul + "i" + nul);
    EXPECT_TRUE(raw.StandIns);
    EXPECT_TRUE(ReadUtf8TextFileContents(dir.Path("utf8")).Exact);

    const TTextFileContents missing = ReadTextFileContents(dir.Path("missing"));
    EXPECT_FALSE(missing.Opened);
    EXPECT_FALSE(missing.Exact);
    EXPECT_EQ(missing.Text, "");
}

class CommonFuncTest : public AppTest {
protected:
    TListView& View()
    {
        if (!view) {
            view = std::make_unique<TListView>(nullptr);
            view->SetMultiSelect(true);
        }
        return *view;
    }
    void AddRows(const std::vector<std::string>& paths)
    {
        for (const std::string& p : paths)
            AddListRow(View(), {p, "0", "", ""});
    }
    void Select(std::initializer_list<int> rows)
    {
        for (int r : rows)
            View().Items()[r]->SetSelected(true);
    }
    std::vector<std::string> Captions()
    {
        std::vector<std::string> out;
        for (int i = 0; i < View().Items().Count(); ++i)
            out.push_back(View().Items()[i]->Caption());
        return out;
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const auto& a : prompts->asked)
            if (a.kind == "message")
                out.push_back(a.text);
        return out;
    }
    std::unique_ptr<TListView> view;
};

TEST_F(CommonFuncTest, HexTextExactBytes)
{
    std::string sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen += static_cast<char>(i * 17);
    const std::string line16 = "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF \r\n";
    struct Case {
        std::string source;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"\x7F", "7F \r\n"},
        {sixteen, line16},
        {sixteen + "\x0A", line16 + "0A \r\n"},
    };
    for (const Case& c : cases) {
        dir.Write("src.bin", c.source);
        prompts->asked.clear();
        SaveFileAsHexText(dir.Path("src.bin"), dir.Path("out.txt"));
        EXPECT_EQ(dir.Read("out.txt"), c.expected) << c.source.size() << " bytes";
        EXPECT_EQ(Messages(), std::vector<std::string> {"Successful saved."});
    }
    EXPECT_EQ(line16.size(), 48u + 2u);
}

TEST_F(CommonFuncTest, HexTextFailures)
{
    SaveFileAsHexText(dir.Path("missing.bin"), dir.Path("out.txt"));
    EXPECT_EQ(Messages(), std::vector<std::string> {"Failed to open this file!"});
    EXPECT_FALSE(dir.Exists("out.txt"));

    dir.Write("src.bin", "abc");
    prompts->asked.clear();
    EXPECT_THROW(SaveFileAsHexText(dir.Path("src.bin"), dir.Path("no/such/folder/out.txt")), EFCreateError);
    EXPECT_TRUE(Messages().empty());
}

// The hex text as the format states it, byte by byte: "%02X " for each
// byte, CR LF after every 16th byte and after a short last line.
std::string HexTextOf(const std::string& bytes)
{
    std::string text;
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02X ", static_cast<unsigned char>(bytes[i]));
        text += cell;
        if (i % 16 == 15 || i + 1 == bytes.size())
            text += "\r\n";
    }
    return text;
}

std::string PseudoRandomBytes(size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

// The export converts a large file a piece at a time: sizes on both sides of
// 64 KiB and an odd size of several pieces show any line cut or byte lost
// at a piece's end.
TEST(WriteHexTextFile, EveryByteAtEverySize)
{
    TempDir dir;
    for (size_t size : {0u, 1u, 15u, 16u, 17u, 65535u, 65536u, 65537u, 300001u}) {
        const std::string bytes = PseudoRandomBytes(size);
        dir.Write("src.bin", bytes);
        WriteHexTextFile(dir.Path("src.bin"), dir.Path("out.txt"));
        const std::string text = dir.Read("out.txt");
        const std::string expected = HexTextOf(bytes);
        EXPECT_EQ(text.size(), expected.size()) << size << " bytes";
        EXPECT_TRUE(text == expected) << size << " bytes";
    }
}

// A source that cannot be read, a target that cannot be created and a disk
// that fills up halfway: each raises its error and leaves the user's target
// as it was, with no half-written file beside it.
TEST(WriteHexTextFile, FailuresLeaveTheTargetAsItWas)
{
    TempDir dir;
    dir.Write("out.txt", "the user's file");
    dir.Write("folder/inside.bin", "x");
    dir.Write("src.bin", PseudoRandomBytes(200000));
    const std::vector<std::string> before = dir.Names();

    EXPECT_THROW(WriteHexTextFile(dir.Path("missing.bin"), dir.Path("out.txt")), EFOpenError);
    EXPECT_THROW(WriteHexTextFile(dir.Path("folder"), dir.Path("out.txt")), EFOpenError);
    EXPECT_THROW(WriteHexTextFile(dir.Path("src.bin"), dir.Path("no/such/folder/out.txt")), EFCreateError);

    // Writing beyond the file-size limit fails as a full disk does (EFBIG
    // in place of ENOSPC), after the first pieces went out.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(WriteHexTextFile(dir.Path("src.bin"), dir.Path("out.txt")), EFCreateError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    EXPECT_EQ(dir.Read("out.txt"), "the user's file");
    EXPECT_EQ(dir.Names(), before);
}

TEST_F(CommonFuncTest, CopyNeverReplacesAndKeepsAllRows)
{
    dir.Write("a/one.txt", "one");
    dir.Write("a/two.txt", "two");
    dir.Write("b/two.txt", "older");
    AddRows({dir.Path("a/one.txt"), dir.Path("a/two.txt")});
    Select({0, 1});
    prompts->PushText(dir.Path("b"));  // no trailing '/': it is added
    CopySelectedFiles(View());
    EXPECT_EQ(dir.Read("b/one.txt"), "one");
    EXPECT_EQ(dir.Read("b/two.txt"), "older");
    EXPECT_EQ(Messages(), (std::vector<std::string> {"Failed to copy the file:\n" + dir.Path("a/two.txt"), "1 files copied."}));
    EXPECT_EQ(Captions().size(), 2u);
    ASSERT_GE(prompts->asked.size(), 1u);
    EXPECT_EQ(prompts->asked[0].kind, "folder");
    EXPECT_EQ(prompts->asked[0].caption, "Select a directory to copy the files:");
}

TEST_F(CommonFuncTest, MoveRemovesOnlyTheRowsOfMovedFiles)
{
    dir.Write("a/one.txt", "one");
    dir.Write("a/two.txt", "two");
    dir.Write("a/three.txt", "three");
    dir.Write("b/two.txt", "older");
    AddRows({dir.Path("a/one.txt"), dir.Path("a/two.txt"), dir.Path("a/three.txt")});
    Select({0, 1});
    prompts->PushText(dir.Path("b") + "/");
    MoveSelectedFiles(View());
    EXPECT_FALSE(dir.Exists("a/one.txt"));
    EXPECT_EQ(dir.Read("b/one.txt"), "one");
    EXPECT_EQ(dir.Read("a/two.txt"), "two");
    EXPECT_EQ(dir.Read("b/two.txt"), "older");
    EXPECT_EQ(Captions(), (std::vector<std::string> {dir.Path("a/two.txt"), dir.Path("a/three.txt")}));
    EXPECT_EQ(Messages(), (std::vector<std::string> {"Failed to move the file:\n" + dir.Path("a/two.txt"), "1 files moved."}));
}

TEST_F(CommonFuncTest, NothingSelectedOrCancelled)
{
    AddRows({dir.Path("x.txt")});
    MoveSelectedFiles(View());
    CopySelectedFiles(View());
    DeleteSelectedFiles(View());
    EXPECT_EQ(Messages(), (std::vector<std::string> {"you select 0 files to move.", "you select 0 files to copy.",
                              "you select 0 files to delete."}));
    Select({0});
    prompts->PushCancel();
    MoveSelectedFiles(View());
    EXPECT_EQ(Captions().size(), 1u);
    EXPECT_EQ(Messages().size(), 3u);
}

TEST_F(CommonFuncTest, DeleteAsksThenMovesToTheTrash)
{
    const std::string saved = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    dir.Write("data/.keep", "");
    dir.Write("f/one.txt", "one");
    dir.Write("f/two.txt", "two");
    AddRows({dir.Path("f/one.txt"), dir.Path("f/gone.txt"), dir.Path("f/two.txt")});
    Select({0, 1});

    // "No" changes nothing.
    prompts->PushButton(IDNO);
    DeleteSelectedFiles(View());
    EXPECT_TRUE(dir.Exists("f/one.txt"));
    EXPECT_EQ(Captions().size(), 3u);

    prompts->PushButton(IDYES);
    DeleteSelectedFiles(View());
    EXPECT_FALSE(dir.Exists("f/one.txt"));
    EXPECT_TRUE(dir.Exists("data/Trash/files/one.txt"));
    EXPECT_TRUE(dir.Exists("data/Trash/info/one.txt.trashinfo"));
    EXPECT_TRUE(dir.Exists("f/two.txt"));
    // The row of the file that could not be deleted stays.
    EXPECT_EQ(Captions(), (std::vector<std::string> {dir.Path("f/gone.txt"), dir.Path("f/two.txt")}));
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Move these 2 files to the trash?");
    EXPECT_EQ(messages[2].rfind("Failed to delete the file:\n" + dir.Path("f/gone.txt"), 0), 0u);
    if (saved.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST_F(CommonFuncTest, AddFileToListOncePerPath)
{
    dir.Write("m/a.txt", "12345");
    AddFileToList(View(), dir.Path("m/a.txt"));
    AddFileToList(View(), dir.Path("m/a.txt"));
    AddFileToList(View(), dir.Path("m/missing.txt"));
    ASSERT_EQ(View().Items().Count(), 2);
    const TListItem* a = View().Items()[0];
    EXPECT_EQ(a->Caption(), dir.Path("m/a.txt"));
    ASSERT_EQ(a->SubItems().Count(), 3);
    EXPECT_EQ(a->SubItems()[0], "5");
    EXPECT_FALSE(a->SubItems()[2].empty());
    // A file that is not there is listed with size 0 and the zero time.
    const TListItem* missing = View().Items()[1];
    EXPECT_EQ(missing->SubItems()[0], "0");
    EXPECT_EQ(missing->SubItems()[2], DateTimeToStr(0));
    EXPECT_FALSE(missing->SubItems()[2].empty());
}

TEST_F(CommonFuncTest, PanImageStaysInsideTheBox)
{
    TScrollBox box(nullptr);
    box.SetBounds(0, 0, 100, 100);
    TPanel image(nullptr);
    image.SetParent(&box);
    image.SetBounds(0, 0, 300, 80);
    // Dragging left by 50: moves left; the image fits vertically and stays.
    PanImage(10, 40, 60, 10, image, box);
    EXPECT_EQ(image.Left(), -50);
    EXPECT_EQ(image.Top(), 0);
    // Far left: clamped at box width - image width.
    PanImage(0, 0, 500, 0, image, box);
    EXPECT_EQ(image.Left(), -200);
    // Right beyond the edge: clamped at 0.
    PanImage(900, 0, 0, 0, image, box);
    EXPECT_EQ(image.Left(), 0);
}
