// The component base: message texts, the error and cancel protocol,
// progress, the timer on a test clock and the settings with rules.
#include "archive/zadbase.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Report {
    std::string file, ext, volume;
    int code;
};

struct Recorder {
    std::vector<Report> reports;
    TOnError Handler()
    {
        return [this](TObject*, const std::string& f, const std::string& e, const std::string& v, int c) {
            reports.push_back({f, e, v, c});
        };
    }
};

}  // namespace

TEST(ArchiveMessages, TextsOfTheTable)
{
    const std::pair<int, const char*> cases[] = {
        {25101, "64 bit hearder"},
        {25114, "Bad file header"},
        {25192, "File not found"},
        {25235, "Error opening file"},
        {25443, "User canceled"},
        {25906, "Insert LAST disk of this archive set"},
        {26000, "All_files (*.*)|*.*"},
        {26899, "Directory does not exist... Create?"},
    };
    for (const auto& [id, text] : cases)
        EXPECT_EQ(LoadResString(id), text) << id;
    EXPECT_EQ(LoadResString(25105), "");
    EXPECT_EQ(std::string(ArcTypeNameOf(atMsGZ)), "MsGZ     \t");
    EXPECT_EQ(std::string(ArcTypeNameOf(atZoo)), "ZOO       ");
}

TEST(ArchiveErrors, RaiseErrorReportsThenRaises)
{
    TZipCommon c;
    Recorder r;
    c.OnError = r.Handler();
    try {
        c.RaiseError("a.zip", "more", "vol", 25114);
        FAIL() << "no exception";
    } catch (const E_RAISE& e) {
        EXPECT_EQ(e.Message(), "Bad file header");
    }
    ASSERT_EQ(r.reports.size(), 1u);
    EXPECT_EQ(r.reports[0].code, 25114);
    EXPECT_EQ(r.reports[0].file, "a.zip");
    c.RaiseErrorStr("b", "", "0", 25136);
    ASSERT_EQ(r.reports.size(), 2u);
    EXPECT_EQ(r.reports[1].code, 25136);
}

TEST(ArchiveErrors, CancelTurnsEveryReportIntoUserCanceled)
{
    TZipCommon c;
    Recorder r;
    c.OnError = r.Handler();
    c.Filename = "cur.txt";
    c.VolumeName = "vol1";
    c.SetCancel(true);
    ASSERT_EQ(r.reports.size(), 1u);
    EXPECT_EQ(r.reports[0].code, 25443);
    EXPECT_EQ(r.reports[0].file, "cur.txt");
    EXPECT_EQ(r.reports[0].ext, "");
    EXPECT_EQ(r.reports[0].volume, "vol1");
    EXPECT_NO_THROW(c.RaiseError("x", "", "0", 25114));
    EXPECT_EQ(r.reports.back().code, 25443);
    c.SetCancel(false);
    EXPECT_EQ(r.reports.size(), 2u);  // setting false reports nothing
    EXPECT_THROW(c.RaiseError("x", "", "0", 25114), E_RAISE);
}

TEST(ArchiveErrors, HandlerThatCancelsSuppressesTheException)
{
    TZipCommon c;
    std::vector<int> codes;
    c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
        codes.push_back(code);
        if (code != 25443)
            c.SetCancel(true);
    };
    EXPECT_NO_THROW(c.RaiseError("x", "", "0", 25151));
    EXPECT_EQ(codes, (std::vector<int>{25151, 25443}));
}

TEST(ArchiveProgress, PercentagesAndDroppedHandlerExceptions)
{
    TZipCommon c;
    std::vector<std::pair<int, int>> seen;
    int pumps = 0;
    ProcessMessagesHook = +[] {};
    c.OnProgress = [&](TObject*, BYTE f, BYTE a) {
        seen.push_back({f, a});
        ++pumps;
        if (seen.size() == 2)
            throw std::runtime_error("handler failed");
    };
    c.RemainingUnpackedSize = 150;
    c.doBranchProgress(1, 3, 300);
    EXPECT_EQ(seen.back(), std::make_pair(33, 50));
    EXPECT_NO_THROW(c.doBranchProgress(5, 0, 0));
    EXPECT_EQ(seen.back(), std::make_pair(0, 0));
    c.RemainingUnpackedSize = -10;
    c.doBranchProgress(-1, 3, 100);
    EXPECT_EQ(seen.back(), std::make_pair(0, 100));
    ProcessMessagesHook = nullptr;
}

TEST(ArchiveTimer, ElapsedTimeLeavesOutSuspendedSpans)
{
    ScopedManualClock clock;
    auto advance = [&](int ms) { clock.clock.Advance(static_cast<std::uint64_t>(ms)); };
    TZipTimer t;
    t.ElapsedTime = 7;
    t.Stop();
    EXPECT_EQ(t.ElapsedTime, 7);  // stop without start changes nothing
    t.Start();
    advance(2000);
    t.Suspend();
    advance(10000);  // an error box shown for ten seconds
    t.Resume();
    advance(500);
    t.Stop();
    EXPECT_FLOAT_EQ(t.ElapsedTime, 2.5f);
}

TEST(ArchiveTimer, ErrorReportsAreNotTimed)
{
    ScopedManualClock clock;
    TZipCommon c;
    c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int) { clock.clock.Advance(3000); };
    c.Timer.Start();
    clock.clock.Advance(1000);
    c.RaiseErrorStr("", "", "0", 25114);
    clock.clock.Advance(1000);
    c.Timer.Stop();
    EXPECT_FLOAT_EQ(c.Timer.ElapsedTime, 2.0f);
}

TEST(ArchiveSettings, CommentBufferSizeIsClamped)
{
    TZipCommon c;
    const std::pair<int, int> cases[] = {{1999, 2000}, {2000, 2000}, {32767, 32767}, {40000, 32767}, {0, 2000}, {-5, 2000}};
    for (const auto& [in, out] : cases) {
        c.SetZipCmntBufSize(in);
        EXPECT_EQ(c.ZipCmntBufSize, out) << in;
    }
}

TEST(ArchiveSettings, DefaultsOfTheConstructor)
{
    TZipCommon c;
    EXPECT_TRUE(c.TranslateOemChar);
    EXPECT_TRUE(c.UseStoredDirs);
    EXPECT_EQ(c.PasswordAttempts, 3);
    EXPECT_EQ(c.DeleteOptions, doAllowUndo);
    EXPECT_EQ(c.CompressionMethod, cmTempFile);
    EXPECT_EQ(c.CancelRef, &c.CancelFlag);
    EXPECT_EQ(c.ArcType, atNA);
    EXPECT_EQ(c.maxbits(), -15);
    EXPECT_EQ(c.GetPartSize(), 65536);
    EXPECT_EQ(StartingHeadKeys, DEFAULT_HEAD_KEYS);
}

TEST(ArchiveSettings, TempDirFallsBackToTheSystemFolder)
{
    TempDir dir;
    TZipCommon c;
    c.SetTempDir("");
    EXPECT_EQ(c.TempDir, GetTempPathStr());
    c.SetTempDir(dir.Path("sub"));  // no confirmation hook: "No"
    EXPECT_EQ(c.TempDir, GetTempPathStr());
    ConfirmHook = +[](const std::string&, const std::string& text) {
        return text.find("Directory does not exist... Create?") != std::string::npos;
    };
    c.SetTempDir(dir.Path("sub"));
    EXPECT_EQ(c.TempDir, dir.Path("sub") + "/");
    EXPECT_TRUE(dir.Exists("sub"));
    ConfirmHook = nullptr;
    c.SetExtractDir("some\\folder");
    EXPECT_EQ(c.ExtractDir, "some/folder/");
}

TEST(ArchiveNames, ReadFilenameTakesAtMost255BytesOfTheField)
{
    // A field of 300 bytes, zero bytes inside it: the name keeps them, is
    // cut at 255, and a field running past the stream gives what is there.
    std::string field(300, 'n');
    field[3] = '\0';
    TMemoryStream32 s;
    s.Write(field.data(), static_cast<std::int64_t>(field.size()));
    const struct {
        std::int64_t at;
        int len;
        std::string name;
    } cases[] = {
        {0, 7, field.substr(0, 7)},
        {0, 300, field.substr(0, 255)},
        {290, 40, field.substr(290)},
        {0, 0, ""},
        {0, -5, ""},
    };
    TZipCommon c;
    for (const auto& k : cases) {
        s.SetPosition(k.at);
        std::string name = "stale";
        const std::int32_t got = c.ReadFilename(&s, name, k.len);
        EXPECT_EQ(name, k.name) << k.at << "/" << k.len;
        EXPECT_EQ(got, static_cast<std::int32_t>(k.name.size()));
    }
}

TEST(ArchiveNames, CPasswordShiftsEveryByteModulo256)
{
    const struct {
        bool decode;
        std::string password;
        BYTE shift;
        std::string result;
    } cases[] = {
        {false, "abc", 1, "bcd"},
        {true, "bcd", 1, "abc"},
        {false, "\xFF\x01", 2, std::string("\x01\x03", 2)},
        {true, std::string("\x01\x03", 2), 2, "\xFF\x01"},
        {false, "pw", 0, "pw"},
        {false, "", 9, ""},
    };
    for (const auto& k : cases)
        EXPECT_EQ(CPassword(k.decode, k.password, k.shift), k.result) << k.password;
}
