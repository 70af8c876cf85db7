#include "rtl/classes.h"
#include "rtl/filesave.h"
#include "rtl/inifiles.h"
#include "rtl/streams.h"
#include "rtl/unicode.h"
#include "win/wintypes.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

TEST(StringList, ReadsEveryLineEndingAndWritesCrLf)
{
    TStringList list;
    list.SetText("a\r\nb\nc\rd\r\n\r\ne");
    ASSERT_EQ(list.Count(), 6);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "b");
    EXPECT_EQ(list[2], "c");
    EXPECT_EQ(list[3], "d");
    EXPECT_EQ(list[4], "");
    EXPECT_EQ(list[5], "e");
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
}

TEST(StringList, IndexErrorsRaise)
{
    TStringList list;
    list.Add("x");
    EXPECT_THROW(list[1], EStringListError);
    EXPECT_THROW(list[-2], EStringListError);
    EXPECT_THROW(list.Delete(3), EStringListError);
    try {
        (void)list[-2];
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-2)");
    }
}

TEST(StringList, MissingFileRaisesOpenError)
{
    TempDir dir;
    TStringList list;
    EXPECT_THROW(list.LoadFromFile(dir.Path("missing.txt")), EFOpenError);
}

TEST(StringList, SaveReplacesWholeFile)
{
    TempDir dir;
    const std::string f = dir.Path("l.txt");
    dir.Write("l.txt", "old content that is long\r\n");
    TStringList list;
    list.Add("one");
    list.SaveToFile(f);
    TStringList back;
    back.LoadFromFile(f);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back[0], "one");
}

TEST(AtomicFileWriter, TargetChangesOnlyOnCommit)
{
    TempDir dir;
    const std::string f = dir.Path("t.txt");
    dir.Write("t.txt", "the user's file");
    std::filesystem::permissions(f, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    {
        TAtomicFileWriter out(f);
        out.Write("one ");
        out.Write("two");
        EXPECT_EQ(dir.Read("t.txt"), "the user's file");
        out.Commit();
    }
    EXPECT_EQ(dir.Read("t.txt"), "one two");
    EXPECT_EQ(std::filesystem::status(f).permissions(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    {
        TAtomicFileWriter dropped(f);
        dropped.Write("never committed");
    }
    EXPECT_EQ(dir.Read("t.txt"), "one two");
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"t.txt"});

    try {
        TAtomicFileWriter out(dir.Path("no/such/folder/t.txt"));
        ADD_FAILURE() << "created a file in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + dir.Path("no/such/folder/t.txt") + "\". ", 0), 0u)
            << e.Message();
    }
}

TEST(IniFile, ReadsDefaultsForMissingAndGarbledValues)
{
    TempDir dir;
    dir.Write("c.ini", "[IniParas]\r\nLayout=abc\r\nViewMode= 3 \r\nFilter=2x\r\n[Other]\r\nLayout=5\r\n");
    TIniFile ini(dir.Path("c.ini"));
    EXPECT_EQ(ini.ReadInteger("IniParas", "Layout", 1), 1);
    EXPECT_EQ(ini.ReadInteger("IniParas", "ViewMode", 0), 3);
    EXPECT_EQ(ini.ReadInteger("IniParas", "Filter", 0), 0);
    EXPECT_EQ(ini.ReadInteger("IniParas", "Showgrid", 1), 1);
    EXPECT_EQ(ini.ReadString("IniParas", "IniDir", "def"), "def");
    TIniFile missing(dir.Path("none.ini"));
    EXPECT_EQ(missing.ReadInteger("IniParas", "Layout", 1), 1);
}

TEST(IniFile, WritingKeepsOtherKeysAndSections)
{
    TempDir dir;
    dir.Write("c.ini", "; comment\r\n[IniParas]\r\nLayout=2\r\nKeep=yes\r\n\r\n[Other]\r\nX=1\r\n");
    TIniFile ini(dir.Path("c.ini"));
    ini.WriteInteger("IniParas", "Layout", 4);
    ini.WriteString("IniParas", "IniDir", "/home/u/");
    ini.WriteString("New", "K", "v");
    EXPECT_EQ(ini.ReadInteger("IniParas", "Layout", 0), 4);
    EXPECT_EQ(ini.ReadString("IniParas", "IniDir", ""), "/home/u/");
    EXPECT_EQ(ini.ReadString("IniParas", "Keep", ""), "yes");
    EXPECT_EQ(ini.ReadString("Other", "X", ""), "1");
    EXPECT_EQ(ini.ReadString("New", "K", ""), "v");
    EXPECT_EQ(dir.Read("c.ini"),
        "; comment\r\n[IniParas]\r\nLayout=4\r\nKeep=yes\r\nIniDir=/home/u/\r\n\r\n[Other]\r\nX=1\r\n[New]\r\nK=v\r\n");
}

TEST(IniFile, CreatesMissingFile)
{
    TempDir dir;
    TIniFile ini(dir.Path("new.ini"));
    ini.WriteInteger("IniParas", "Filter", 3);
    EXPECT_EQ(dir.Read("new.ini"), "[IniParas]\r\nFilter=3\r\n");
}

TEST(SysUtils, FileNameParts)
{
    struct Case {
        const char* name;
        const char* path;
        const char* file;
        const char* ext;
    };
    const Case cases[] = {
        {"/a/b/c.txt", "/a/b/", "c.txt", ".txt"},
        {"/a/b.d/c", "/a/b.d/", "c", ""},
        {"c.tar.gz", "", "c.tar.gz", ".gz"},
        {"/", "/", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.name), c.path) << c.name;
        EXPECT_EQ(ExtractFileName(c.name), c.file) << c.name;
        EXPECT_EQ(ExtractFileExt(c.name), c.ext) << c.name;
    }
    EXPECT_EQ(IncludeTrailingPathDelimiter("/x"), "/x/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
}

TEST(SysUtils, RenameNeverReplaces)
{
    TempDir dir;
    dir.Write("a", "A");
    dir.Write("b", "B");
    EXPECT_FALSE(RenameFile(dir.Path("a"), dir.Path("b")));
    EXPECT_EQ(dir.Read("b"), "B");
    EXPECT_TRUE(RenameFile(dir.Path("a"), dir.Path("c")));
    EXPECT_EQ(dir.Read("c"), "A");
}

TEST(SysUtils, DateTimeRoundTripsAndPicksItsParts)
{
    const TDateTime d = EncodeDate(2024, 2, 29);
    int y, m, dd;
    DecodeDate(d, y, m, dd);
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(dd, 29);
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), 25569.0);
    // Midnight shows the date alone, a value below 1 the time alone.
    EXPECT_EQ(DateTimeToStr(d), DateToStr(d));
    EXPECT_EQ(DateTimeToStr(EncodeTime(13, 5, 0, 0)), TimeToStr(EncodeTime(13, 5, 0, 0)));
    EXPECT_EQ(DateTimeToStr(d + EncodeTime(13, 5, 0, 0)), DateToStr(d) + " " + TimeToStr(EncodeTime(13, 5, 0, 0)));
}

TEST(SysUtils, StrToIntRules)
{
    int v = 0;
    EXPECT_TRUE(TryStrToInt(" -12 ", v));
    EXPECT_EQ(v, -12);
    EXPECT_FALSE(TryStrToInt("1.5", v));
    EXPECT_FALSE(TryStrToInt("99999999999", v));
    EXPECT_THROW(StrToInt("x"), EConvertError);
}

TEST(Unicode, Utf16AndCodePage437BecomeUtf8)
{
    EXPECT_EQ(Utf16ToUtf8(u"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(Utf16ToUtf8(std::u16string {0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string {0xD83D, u'x'}), "\xEF\xBF\xBDx") << "an unpaired surrogate";
    const std::uint8_t le[] = {'h', 0, 0xE9, 0, 0xFF};
    EXPECT_EQ(Utf16LeBytesToUtf8(le, sizeof le), "h\xC3\xA9") << "the odd last byte is dropped";
    EXPECT_EQ(Cp437ToUtf8("\x80\xE1\xFF"), "\xC3\x87\xC3\x9F\xC2\xA0");
    std::string out;
    AppendUtf8(out, 0x110000);
    EXPECT_EQ(out, "\xEF\xBF\xBD");
}

TEST(FileShareModes, LaterOpensHonourEarlierShareModes)
{
    TempDir dir;
    dir.Write("f", "data");
    const std::string f = dir.Path("f");
    const int reader = FileOpen(f, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(reader, 0);
    EXPECT_LT(FileOpen(f, fmOpenWrite | fmShareDenyNone), 0);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    const int second = FileOpen(f, fmOpenRead | fmShareDenyNone);
    EXPECT_GE(second, 0) << "reading is shared";
    EXPECT_LT(FileCreate(f, fmShareExclusive), 0);
    EXPECT_EQ(dir.Read("f"), "data") << "a refused create never truncates";
    FileClose(second);
    FileClose(reader);
    const int writer = FileOpen(f, fmOpenWrite | fmShareDenyNone);
    EXPECT_GE(writer, 0) << "the locks go with the handles";
    FileClose(writer);
}

TEST(MemoryStream, AppendsAcrossTheGrowthStepsKeepEveryByte)
{
    // Small pieces up past the point where the block starts growing ahead of
    // its size, then a rewrite in the middle, a shrink and a regrow.
    TMemoryStream stream;
    std::vector<std::uint8_t> expected;
    std::uint32_t state = 12345;
    std::uint8_t piece[777];
    while (expected.size() < 3u * 1024 * 1024) {
        for (std::uint8_t& b : piece)
            b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
        ASSERT_EQ(stream.Write(piece, sizeof piece), std::int64_t(sizeof piece));
        expected.insert(expected.end(), piece, piece + sizeof piece);
        ASSERT_EQ(stream.Size(), std::int64_t(expected.size()));
    }
    stream.Seek(1000, soBeginning);
    stream.Write("middle", 6);
    std::memcpy(expected.data() + 1000, "middle", 6);
    ASSERT_EQ(stream.Size(), std::int64_t(expected.size()));
    EXPECT_EQ(std::memcmp(stream.Memory(), expected.data(), expected.size()), 0);

    stream.SetSize(2 * 1024 * 1024 + 3);
    expected.resize(2 * 1024 * 1024 + 3);
    stream.Seek(0, soEnd);
    stream.Write("tail", 4);
    expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
    ASSERT_EQ(stream.Size(), std::int64_t(expected.size()));
    EXPECT_EQ(std::memcmp(stream.Memory(), expected.data(), expected.size()), 0);
    std::vector<std::uint8_t> back(expected.size());
    stream.Seek(0, soBeginning);
    EXPECT_EQ(stream.Read(back.data(), std::int64_t(back.size())), std::int64_t(back.size()));
    EXPECT_EQ(back, expected);
}
