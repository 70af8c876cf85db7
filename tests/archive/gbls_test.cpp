// Pure helpers: paths, names, text, dates, attributes, method names, ratios.
#include "archive/zadbase.h"
#include "archive/zadgbls.h"
#include "archive/zadstreams.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

std::string Stamp(TDateTime d)
{
    int y, mo, da, h, mi, s, ms;
    DecodeDate(d, y, mo, da);
    DecodeTime(d, h, mi, s, ms);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
}

// Runs a test body in a fixed time zone.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* tz)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old)
            m_old = old;
        setenv("TZ", tz, 1);
        ReloadTimeZoneInformation();
    }
    ~ZoneGuard()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        ReloadTimeZoneInformation();
    }

private:
    bool m_had = false;
    std::string m_old;
};

}  // namespace

TEST(ArchivePaths, Table)
{
    EXPECT_EQ(SlashSep("", "a"), "");
    EXPECT_EQ(SlashSep("/x/", "a"), "/x/a");
    EXPECT_EQ(SlashSep("/x", "a"), "/x/a");
    EXPECT_EQ(RemoveDirTail("/a//"), "/a/");
    EXPECT_EQ(_AppendDirTail(""), "");
    EXPECT_EQ(_AppendDirTail("/a"), "/a/");
    EXPECT_EQ(AppendDrive("rel/x"), "/rel/x");
    EXPECT_EQ(AppendDrive("/abs"), "/abs");
    const std::pair<const char*, const char*> tmp[] = {
        {"a.zip", "a.~zi"}, {"a.html", "a.~htm"}, {"a.gz", "a.~gz"}, {"a.c", "a.~c"}, {"a", "a.~"}, {"a.", "a..~."}};
    for (const auto& [in, out] : tmp)
        EXPECT_EQ(ChangeFileExtTmp(in), out) << in;
    EXPECT_EQ(ExtractFilenameOnly(std::string("docs/archive.tar.gz")), "archive");
    EXPECT_EQ(ExtractFilenameOnly("name.ext"), 4);
    EXPECT_TRUE(IsUncPath("//server/share"));
    EXPECT_FALSE(IsUncPath("/x"));
    EXPECT_TRUE(IsDrivePath("/usr", 4));
    EXPECT_FALSE(IsDrivePath("//s", 3));
}

TEST(ArchiveNames, OemNamesBecomeUtf8)
{
    EXPECT_EQ(OemToUtf8("caf\x82"), "caf\xC3\xA9");                // é
    EXPECT_EQ(OemToUtf8("\x8E\x99\x9A"), "\xC3\x84\xC3\x96\xC3\x9C");  // ÄÖÜ
    EXPECT_EQ(OemToUtf8("\xE1"), "\xC3\x9F");                      // ß
    EXPECT_EQ(OemToUtf8("\xC9\xCD"), "\xE2\x95\x94\xE2\x95\x90");  // box drawing
    EXPECT_EQ(Utf8ToOem("caf\xC3\xA9"), "caf\x82");
    EXPECT_EQ(Utf8ToOem("\xE2\x82\xAC"), "?");  // the euro sign has no 437 form
    EXPECT_EQ(_OemToCharFilter("dir\\f\x81.txt", true), "dir/f\xC3\xBC.txt");
    EXPECT_EQ(_OemToCharFilter("", true), "");
    EXPECT_EQ(CharToUnixOemFilter("a\\b\xC3\xBC", true), "a/b\x81");
    EXPECT_EQ(DecodeDir(std::string("a\xFF" "b/c")), "a/b/c");
    EXPECT_EQ(DecodeDir(std::string("\x81/x")), std::string("\x81/x"));
}

TEST(ArchiveNames, ReadingNamesFromData)
{
    TMemoryStream32 m;
    const std::string data = std::string(10, '.') + std::string("abc\0def", 7);
    m.WriteBuffer(data.data(), static_cast<std::int32_t>(data.size()));
    std::int64_t pos = 10;
    std::string name;
    EXPECT_EQ(ReadFilename_NullTerminate(&m, pos, name), 4);
    EXPECT_EQ(name, "abc");
    EXPECT_EQ(pos, 14);
    const char buf[] = "name.txt\"more";
    int p = 0;
    GetFilenameFromBuffer(buf, 13, p, name);
    EXPECT_EQ(name, "name.txt");
    EXPECT_EQ(p, 13);
    EXPECT_TRUE(IsGZipSignAttr(0x8B1F));
    EXPECT_FALSE(IsGZipSignAttr(0x1F8B));
    EXPECT_EQ(SwapWords(0x12345678), 0x56781234);
}

TEST(ArchiveText, SmallHelpers)
{
    std::string s = "a;b;c", token;
    GetToken(s, ";", token);
    EXPECT_EQ(token, "a");
    EXPECT_EQ(s, "b;c");
    GetToken(s, "|", token);
    EXPECT_EQ(token, "b;c");
    EXPECT_EQ(s, "");
    TStringList list;
    StrToTStrings(",a,,b;", list);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "b");
    TStringList none;
    StrToTStrings(";;", none);
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(TStringsToStr(list, ';'), "a;b");
    EXPECT_EQ(TStringsToStr(list, 'x'), "");
    EXPECT_EQ(UnformatNumber("1.234,5 KB"), "12345");
    EXPECT_TRUE(CompareMem("a", "b", 0));
    char bytes[5] = {'q', 'w', 'e', 'r', 't'};
    CopyMem(bytes, bytes + 1, 4);
    EXPECT_EQ(std::string(bytes, 5), "qqqqq");
    auto width = [](const std::string& t) { return static_cast<int>(t.size()); };
    EXPECT_EQ(ShortName(width, 100, "/alpha/beta/file.txt"), "/alpha/beta/file.txt");
    EXPECT_EQ(ShortName(width, 19, "/alpha/beta/gamma/file.txt"), "/.../gamma/file.txt");
    EXPECT_EQ(ShortName(width, 18, "/alpha/beta/gamma/file.txt"), "/.../file.txt");
    EXPECT_EQ(ShortName(width, 1, "/alpha/beta/file.txt"), "file.txt");
}

TEST(ArchiveFiles, EmptyFoldersAndErasing)
{
    TempDir dir;
    std::filesystem::create_directories(dir.Path("e/sub/deeper"));
    EXPECT_TRUE(isDirEmpty(dir.Path("e")));
    dir.Write("e/sub/deeper/f", "x");
    EXPECT_FALSE(isDirEmpty(dir.Path("e")));
    EXPECT_FALSE(isDirEmpty(dir.Path("missing")));
    std::filesystem::create_directories(dir.Path("ro/sub"));
    std::filesystem::permissions(dir.Path("ro/sub"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(isDirEmpty(dir.Path("ro")));
    std::filesystem::permissions(dir.Path("ro/sub"), std::filesystem::perms::owner_all);
    EXPECT_TRUE(CreateDirEx(dir.Path("a/b/c")));
    EXPECT_TRUE(_DirectoryExists(dir.Path("a/b/c")));
    dir.Write("ro.txt", "x");
    _SetFileAttributes(dir.Path("ro.txt"), 0x01);
    EXPECT_FALSE(IsWriteable(dir.Path("ro.txt")));
    EXPECT_TRUE(_EraseFile(dir.Path("ro.txt"), doFinal));
    EXPECT_FALSE(dir.Exists("ro.txt"));
    EXPECT_FALSE(_EraseFile(dir.Path("gone"), doAllowUndo));
    const std::string t = GetTempFileNameStr(dir.Path("made/here"));
    EXPECT_EQ(t.rfind(dir.Path("made/here") + "/zad", 0), 0u);
}

TEST(ArchiveDates, LeapYearsAndMonths)
{
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_TRUE(IsLeapYear(2004));
    EXPECT_FALSE(IsLeapYear(2100));
    EXPECT_EQ(Stamp(AddMonths(1, EncodeDate(2004, 1, 31))), "2004-02-29 00:00:00");
    EXPECT_EQ(Stamp(AddMonths(-2, EncodeDate(2004, 1, 15))), "2003-11-15 00:00:00");
    EXPECT_EQ(Stamp(AddMonths(13, EncodeDate(2003, 12, 1))), "2005-01-01 00:00:00");
}

TEST(ArchiveDates, UnixAndDosInAZoneWithoutBias)
{
    ZoneGuard zone("UTC0");
    const std::pair<std::int32_t, const char*> cases[] = {
        {86400, "1970-01-02 00:00:00"},  // midnight stays midnight
        {90000, "1970-01-02 01:00:00"},
        {0, "1980-01-01 00:01:00"},
        {-86400, "1969-12-31 00:00:00"},  // before 1970 stays before 1970
        {951782400, "2000-02-29 00:00:00"},
        {1072915200, "2004-01-01 00:00:00"},
    };
    for (const auto& [secs, text] : cases)
        EXPECT_EQ(Stamp(UnixDateToDos(secs)), text) << secs;
    EXPECT_EQ(DosDateToUnix(EncodeDate(2004, 1, 1)), 1072915200);
    EXPECT_EQ(DosDateToUnix(EncodeDate(2000, 3, 1)), 951868800);
    EXPECT_EQ(DosDateToUnix(EncodeDate(1969, 12, 31)), -86400);
}

TEST(ArchiveDates, DaylightSavingInAFixedZone)
{
    ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_FALSE(IsDaylightTime(EncodeDate(2004, 3, 28) + EncodeTime(1, 59, 0, 0)));
    EXPECT_TRUE(IsDaylightTime(EncodeDate(2004, 3, 28) + EncodeTime(2, 0, 0, 0)));
    EXPECT_TRUE(IsDaylightTime(EncodeDate(2004, 10, 31) + EncodeTime(2, 59, 0, 0)));
    EXPECT_FALSE(IsDaylightTime(EncodeDate(2004, 10, 31) + EncodeTime(3, 0, 0, 0)));
    EXPECT_FALSE(IsDaylightTime(EncodeDate(2004, 1, 10)));
    // Winter: one hour ahead of UTC; summer: two.
    EXPECT_EQ(Stamp(LocalTimeToUniversal(EncodeDate(2004, 1, 10) + EncodeTime(12, 0, 0, 0))), "2004-01-10 11:00:00");
    EXPECT_EQ(Stamp(LocalTimeToUniversal(EncodeDate(2004, 7, 10) + EncodeTime(12, 0, 0, 0))), "2004-07-10 10:00:00");
    EXPECT_EQ(Stamp(UnixDateToDos(1089460800)), "2004-07-10 14:00:00");  // 12:00 UTC
    EXPECT_EQ(DosDateToUnix(EncodeDate(2004, 7, 10) + EncodeTime(14, 0, 0, 0)), 1089460800);
}

TEST(ArchiveDates, DosDateTimes)
{
    TZipCommon c;
    auto dos = [](int y, int mo, int d, int h, int mi, int s) {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s / 2));
    };
    EXPECT_EQ(Stamp(zadConvertDate(0)), "1980-01-01 00:01:00");
    EXPECT_EQ(Stamp(zadConvertDate(dos(2004, 3, 1, 12, 0, 10))), "2004-03-01 12:00:10");
    EXPECT_EQ(Stamp(zadConvertDate(dos(2004, 13, 1, 12, 0, 10))), "1980-01-01 12:01:10");  // fallback date plus its time
    EXPECT_EQ(Stamp(zadConvertDate(dos(2004, 1, 1, 24, 0, 0))), "1980-01-01 00:01:00");
    EXPECT_EQ(Stamp(c.ConvertDate(dos(2050, 6, 1, 8, 30, 0))), "2050-06-01 08:30:00");  // not turned into 1980
    EXPECT_EQ(Stamp(c.ConvertDate(dos(2107, 12, 31, 23, 59, 58))), "2107-12-31 23:59:58");
    EXPECT_EQ(Stamp(c.ConvertDate(5)), "1980-01-01 00:01:00");
    EXPECT_EQ(DateTimeToDosDateTime(EncodeDate(2004, 3, 1) + EncodeTime(12, 0, 10, 0)), dos(2004, 3, 1, 12, 0, 10));
}

TEST(ArchiveOctal, FieldsOfTarHeaders)
{
    EXPECT_EQ(OctStrToInt("0000644 "), 420);
    EXPECT_EQ(OctStrToInt("12 34"), 668);
    EXPECT_EQ(OctStrToInt(""), 0);
    char buf[4];
    IntToOctStr(8, 4, false, buf);
    EXPECT_EQ(std::string(buf, 4), "010 ");
    IntToOctStr(8, 4, true, buf);
    EXPECT_EQ(std::string(buf, 4), std::string("010\0", 4));
    IntToOctStr(0777777, 4, false, buf);
    EXPECT_EQ(std::string(buf, 4), "777 ");
}

TEST(ArchiveAttributes, Texts)
{
    const std::tuple<int, char, const char*> win[] = {{0x21, '_', "ar___"}, {0x4012, '_', "d__e_"}, {0x07, '-', "-rsh-"}, {0, '_', "_____"}};
    for (const auto& [attr, filler, text] : win)
        EXPECT_EQ(WinAttrToString(attr, filler), text) << attr;
    const std::tuple<int, char, const char*> unix_[] = {{0x41ED, '-', "drwxr-xr-x"}, {0x8800, '-', "---S------"}, {0x8840, '-', "---s------"}, {0x81A4, '-', "-rw-r--r--"}};
    for (const auto& [mode, filler, text] : unix_)
        EXPECT_EQ(UnixAttrToStr(mode, filler), text) << mode;
    TZipCommon c;
    EXPECT_EQ(c.FileAttrToString(0x20, '_'), "");  // no valid archive type
    c.ArcType = atRar;
    c.HostOS = osUnix;
    EXPECT_EQ(c.FileAttrToString(0x41ED, '-'), "drwxr-xr-x");
    c.ArcType = atZip;
    EXPECT_EQ(c.FileAttrToString(0x20, '_'), "a____");
}

TEST(ArchiveMethods, NamesByArchiveType)
{
    TZipCommon c;
    struct Case {
        TArcType type;
        int method, flag, extAttr;
        const char* name;
    };
    const Case cases[] = {
        {atZip, 8, 2, 0, "DFLT-X"},     {atZip, 8, 3, 0, "DFLT-N"},      {atZip, 8, 6, 0, "DFLT-S"},
        {atZip, 9, 4, 0, "DFLT-64F"},   {atZip, 0, 0, 0, "Stored"},      {atZip, 12, 0, 0, "Unsupported"},
        {atZip, 12, 0, 0x10, "<Dir>"},  {atJar, 6, 0, 0, "Imploded"},    {atZip, 10, 0, 0, "DCL-implode"},
        {atArj, 4, 0, 0, "Fastest"},    {atCab, 0x1503, 0, 0, "Lzx"},    {atCab, 0x0F05, 0, 0, "Lzx5"},
        {atLha, '5', 0, 0, "Frozen-5"}, {atLha, 'd', 0, 0, "<Dir>"},     {atPak, 9, 0, 0, "Varible"},
        {atZoo, 2, 0, 0, "Greatest"},   {atHA, 15, 0, 0, "Special"},     {atGZip, 8, 0, 0, "Deflate"},
        {atRar, '3', 0, 0, "Normal"},   {atAce, 5, 0, 0, "Lzw"},         {atBh, 8, 2, 0, "DFLT-X"},
        {atTar, 0, 0, 0, "Tarred"},     {atUUE, 0, 0, 0, "Unsupported"}, {atArc, 2, 0, 0, "Stored"},
    };
    for (const Case& k : cases) {
        c.ArcType = k.type;
        c.ExternalAttr = k.extAttr;
        EXPECT_EQ(c.GetCompressMethodStr(static_cast<WORD>(k.method), static_cast<WORD>(k.flag)), k.name)
            << k.type << " " << k.method;
    }
    c.Encrypted = true;
    EXPECT_EQ(c.GetEncryptionMethod(), 2);
    c.AesHeader.Id = 0x9901;
    c.AesHeader.VendorVersion = 2;
    c.AesHeader.Strength = 3;
    EXPECT_EQ(EncryptionMethodStr[c.GetEncryptionMethod()], std::string("Aes2_256"));
    EXPECT_EQ(c._GetFileType("x.abc"), "ABC File");
    EXPECT_EQ(c._GetFileType("noext"), "File");
    EXPECT_EQ(c.IsArchiveExt(".zip"), 23);
    EXPECT_EQ(c.IsArchiveExt(".ZiP"), 23);
    EXPECT_EQ(c.IsArchiveExt("zip"), -1);
}

TEST(ArchiveRatios, HalfEvenRounding)
{
    const std::tuple<std::int64_t, std::int64_t, int> ratios[] = {
        {30, 100, 70}, {100, 100, 0}, {0, 0, 0}, {150, 100, 0}, {1, 8, 88} /* 87.5 -> 88 */, {3, 8, 62} /* 62.5 -> 62 */,
        {5000000000LL, 10000000000LL, 50}};
    for (const auto& [p, u, r] : ratios)
        EXPECT_EQ(CalcRatio(p, u), r) << p << "/" << u;
    const std::tuple<std::int64_t, std::int64_t, int> progress[] = {
        {1, 3, 33}, {5, 0, 0}, {1, 8, 12} /* 12.5 -> 12 */, {3, 8, 38} /* 37.5 -> 38 */, {-5, 10, 0}, {20, 10, 100}, {2, 3, 67}};
    for (const auto& [d, t, r] : progress)
        EXPECT_EQ(CalcProgress64(d, t), r) << d << "/" << t;
    EXPECT_EQ(CalcProgressDbl(1, 8), 12);
    EXPECT_EQ(CalcProgress32(3, 8), 38);
}

TEST(ArchiveRarNames, UnicodeNameDecoding)
{
    // Flags 0xC0 (copy with correction), length 0x81 -> 3 characters, correction 1.
    const std::uint8_t enc[] = {0x04, 0xC0, 0x81, 0x01};
    char16_t out[8];
    DecodeRarFN("abc", enc, 4, out, 7);
    EXPECT_EQ(out[0], 0x0462);
    EXPECT_EQ(out[2], 0x0464);
    EXPECT_EQ(out[3], 0);
    TZipCommon c;
    const std::string field = std::string("name.txt\0", 9) + std::string("\x00\xC0\x06", 3);
    EXPECT_EQ(c.DecodeRarFileName(field, static_cast<WORD>(field.size())), "name.txt");
    // Never writes past the room it is given.
    char16_t tiny[2] = {0x7777, 0x7777};
    const std::uint8_t many[] = {0x00, 0x00, 'a', 'b', 'c', 'd'};
    DecodeRarFN("", many, 6, tiny, 2);
    EXPECT_EQ(tiny[1], 0);
}
