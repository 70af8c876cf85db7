// The ZIP extractor over fixtures made by zip, 7z and jar: every archive
// extracts byte for byte as 7z extracts it; overwrite, skip, rename,
// passwords, cancel, failed authentication and short writes behave as the
// framework promises.
//
// Fixtures: scripts/make-extract-fixtures.sh.
#include "extract_support.h"

#include "rtl/sysutils.h"
#include "win/wintypes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(ZipExtract, MatchesSevenZipByteForByte)
{
    const struct {
        const char* fixture;
        const char* password;
        bool jar;
    } cases[] = {
        {"stored.zip", "", false},         {"deflated.zip", "", false},      {"descriptor.zip", "", false},
        {"deflate64.zip", "", false},      {"deflate64-docs.zip", "", false}, {"aes128.zip", "Secret1", false},
        {"aes256.zip", "Secret1", false},  {"aes256-stored.zip", "Secret1", false},
        {"zipcrypto.zip", "Secret1", false}, {"test.jar", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        TempDir ours, ref;
        ASSERT_TRUE(Reference7z(Fixture(c.fixture), ref.Root(), c.password));
        std::unique_ptr<TUnZip> z = c.jar ? std::make_unique<TUnJar>() : std::make_unique<TUnZip>();
        ExtractLog log;
        Attach(*z, log);
        Prepare(*z, Fixture(c.fixture), ours.Root());
        z->Password = c.password;
        const auto theirs = TreeOf(ref.Root());
        EXPECT_EQ(z->Extract(), static_cast<int>(theirs.size()));
        EXPECT_EQ(log.Failed(), 0);
        EXPECT_TRUE(log.errors.empty()) << log.errors.front().first;
        const auto mine = TreeOf(ours.Root());
        EXPECT_EQ(mine.size(), theirs.size());
        for (const auto& [name, data] : theirs) {
            auto it = mine.find(name);
            ASSERT_NE(it, mine.end()) << name;
            EXPECT_TRUE(it->second == data) << name;
        }
    }
}

TEST(ZipExtract, DirectoryEntriesEndWithoutBeginning)
{
    TempDir d;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("deflated.zip"), d.Root());
    z.CreateStoredDirs = true;
    z.Extract();
    EXPECT_TRUE(DirectoryExists(d.Path("empty_dir")));
    bool dirEnded = false;
    for (const auto& e : log.ended)
        dirEnded |= e.first.find("empty_dir") != std::string::npos && e.second;
    EXPECT_TRUE(dirEnded);
    for (const auto& b : log.begun)
        EXPECT_EQ(b.find("empty_dir"), std::string::npos);
}

TEST(ZipExtract, LocalNameThatDiffersIsReportedNotObeyed)
{
    TempDir d;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("localname.zip"), d.Root());
    z.Extract();
    EXPECT_EQ(log.ErrorsWith(25249), 1);
    EXPECT_TRUE(FileExists(d.Path("readme.txt")));
    EXPECT_FALSE(FileExists(d.Path("README.EXE")));
}

TEST(ZipExtract, OverwriteQuestions)
{
    struct Case {
        const char* what;
        TOverwriteMode answer;
        std::string rename;
        bool cancel;
        const char* expectOld;  // content of readme.txt afterwards ("" = replaced)
    };
    const Case cases[] = {
        {"skip", omSkip, "", false, "old"},
        {"overwrite", omOverwrite, "", false, ""},
        {"rename", omOverwrite, "renamed.txt", false, "old"},
        {"cancel", omOverwrite, "", true, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir d;
        d.Write("readme.txt", "old");
        TUnZip z;
        ExtractLog log;
        Attach(z, log);
        Prepare(z, Fixture("deflated.zip"), d.Root());
        z.ConfirmOverwrites = true;
        int asked = 0;
        z.OnFileExists = [&](TObject*, const std::string& name, std::string& newName, TOverwriteMode& mode) {
            ++asked;
            EXPECT_EQ(name, d.Path("readme.txt"));
            if (c.cancel) {
                // The dialog's Cancel: the answer left in mode must not count.
                z.SetCancel(true);
                mode = omOverwrite;
                return;
            }
            mode = c.answer;
            if (!c.rename.empty())
                newName = d.Path(c.rename);
        };
        z.Extract();
        EXPECT_EQ(asked, 1);
        const std::string now = ReadAll(d.Path("readme.txt"));
        if (*c.expectOld) {
            EXPECT_EQ(now, c.expectOld);
        } else {
            EXPECT_GT(now.size(), 1000u);
        }
        if (!c.rename.empty()) {
            EXPECT_GT(ReadAll(d.Path(c.rename)).size(), 1000u);
        }
        if (c.cancel) {
            EXPECT_FALSE(FileExists(d.Path("docs/notes.txt")));
        }
    }
}

TEST(ZipExtract, SkipModeSkipsOnlyExistingFiles)
{
    TempDir d;
    d.Write("readme.txt", "old");
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("deflated.zip"), d.Root());
    z.OverwriteMode = omSkip;
    EXPECT_EQ(z.Extract(), 3);
    EXPECT_EQ(ReadAll(d.Path("readme.txt")), "old");
    EXPECT_TRUE(FileExists(d.Path("docs/notes.txt")));
}

TEST(ZipExtract, ExistingFileWithoutHandlerIsReportedAndKept)
{
    TempDir d;
    d.Write("readme.txt", "old");
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("deflated.zip"), d.Root());
    z.ConfirmOverwrites = true;
    z.Extract();
    EXPECT_EQ(log.ErrorsWith(25270), 1);
    EXPECT_EQ(ReadAll(d.Path("readme.txt")), "old");
}

TEST(ZipExtract, PasswordRetryThroughTheEvent)
{
    TempDir d;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("aes256.zip"), d.Root());
    std::vector<std::string> answers = {"wrong", "Secret1"};
    int asked = 0;
    z.OnGetPassword = [&](TObject*, const std::string&, std::string& pw, TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
        pw = answers[static_cast<size_t>(std::min(asked, 1))];
        ++asked;
        again = true;
    };
    EXPECT_EQ(z.Extract(), 4);
    EXPECT_EQ(asked, 2);  // the second entry uses the password that worked
    EXPECT_EQ(log.ErrorsWith(26517), 1);
    EXPECT_EQ(log.Failed(), 0);
    EXPECT_EQ(z.Passwords[0], "Secret1");
}

TEST(ZipExtract, RefusedPasswordDoesNotSkipLaterEntriesWithAKnownPassword)
{
    for (const char* fixture : {"twopw.zip", "mixed.zip"}) {
        SCOPED_TRACE(fixture);
        TempDir d;
        TUnZip z;
        ExtractLog log;
        Attach(z, log);
        Prepare(z, Fixture(fixture), d.Root());
        z.Password = "second";
        int asked = 0;
        z.OnGetPassword = [&](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
            ++asked;
            again = false;
        };
        EXPECT_EQ(z.Extract(), 1);
        std::string notes;
        for (int i = 0; i < 50; ++i)
            notes += "notes\n";
        EXPECT_EQ(ReadAll(d.Path("docs/notes.txt")), notes);
        EXPECT_FALSE(FileExists(d.Path("readme.txt")));
        EXPECT_EQ(log.Failed(), 1);
    }
}

TEST(ZipExtract, FailedAuthenticationRemovesTheOutput)
{
    TempDir d;
    std::string bytes = ReadAll(Fixture("aes256-stored.zip"));
    // The first entry's data starts after its 30-byte header, its name, its
    // extra field, the 16-byte salt and the 2-byte verifier.
    const size_t nameLen = static_cast<unsigned char>(bytes[26]) | (static_cast<unsigned char>(bytes[27]) << 8);
    const size_t extraLen = static_cast<unsigned char>(bytes[28]) | (static_cast<unsigned char>(bytes[29]) << 8);
    bytes[30 + nameLen + extraLen + 18 + 100] ^= 0x01;
    d.Write("tampered.zip", bytes);
    TempDir out;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, d.Path("tampered.zip"), out.Root());
    z.Password = "Secret1";
    EXPECT_EQ(z.Extract(), 0);
    EXPECT_EQ(log.Failed(), 1);
    EXPECT_FALSE(FileExists(out.Path("readme.txt")));
}

TEST(ZipExtract, AesPasswordOver128BytesIsRefusedClearly)
{
    TempDir d;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("aes256-stored.zip"), d.Root());
    z.Password = std::string(129, 'x');
    EXPECT_EQ(z.Extract(), 0);
    EXPECT_GE(log.ErrorsWith(26517), 1);
    EXPECT_FALSE(FileExists(d.Path("readme.txt")));
}

TEST(ZipExtract, ExtractToPointerNeverPassesTheRoom)
{
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    z.SetArchiveFile(Fixture("deflated.zip"));
    std::vector<char> buf(20290 + 64, '#');
    // Room for all of readme.txt.
    EXPECT_EQ(z.ExtractToPointer("readme.txt", buf.data(), 20290), 1);
    EXPECT_EQ(std::string(buf.data(), 8), "line 0 o");
    // Room for 1000 bytes only: the rest is refused, the bytes after stay.
    std::fill(buf.begin(), buf.end(), '#');
    EXPECT_EQ(z.ExtractToPointer("readme.txt", buf.data(), 1000), 0);
    EXPECT_EQ(std::string(buf.data() + 1000, 64), std::string(64, '#'));
    EXPECT_EQ(log.ErrorsWith(25136), 1);
    EXPECT_EQ(z.FileSpec.Count(), 0);  // the masks of before the call are back
}

namespace {
// A user stream that takes limit bytes and then reports a full disk.
class FullStream : public TMemoryStream32 {
public:
    std::int64_t limit = 5000;
    std::int64_t Write(const void* buf, std::int64_t count) override
    {
        const std::int64_t n = std::min(count, std::max<std::int64_t>(0, limit - Size()));
        if (n < count)
            SetLastError(ERROR_DISK_FULL);
        return n > 0 ? TMemoryStream32::Write(buf, n) : 0;
    }
};
}  // namespace

TEST(ZipExtract, FullDiskStopsTheRunWithOneMessage)
{
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    z.SetArchiveFile(Fixture("deflated.zip"));
    FullStream s;
    z.ExtractToFileStream("*.*", &s);
    EXPECT_EQ(log.ErrorsWith(25160), 1);
    EXPECT_EQ(log.ErrorsWith(25136), 0);
    EXPECT_EQ(log.begun.size(), 1u);  // the run stops at the entry that filled the disk
    EXPECT_EQ(log.Failed(), 1);
}

TEST(ZipExtract, MemoryStreamTargetAndVerify)
{
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("deflate64.zip"), "");
    TDecompMemoryStream m;
    EXPECT_EQ(z.ExtractToMemoryStream(&m), 2);
    ASSERT_EQ(m.Count(), 2);
    EXPECT_EQ(m.GetFileName(0), "far.bin");
    EXPECT_EQ(m.GetFileSize(0), 205000);
    EXPECT_EQ(m.GetFileOffset(1), 205000);
    EXPECT_EQ(m.Size(), 205000 + 20290);
    EXPECT_EQ(z.ExtractToVerify(), 2);
    EXPECT_EQ(log.Failed(), 0);
    EXPECT_EQ(z.ExtractToMemoryStream(nullptr), 0);
    EXPECT_EQ(log.ErrorsWith(25255), 1);
}

TEST(ZipExtract, CancelDuringProgressStopsTheRun)
{
    TempDir d;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("deflated.zip"), d.Root());
    z.OnProgress = [&](TObject*, BYTE, BYTE) { z.SetCancel(true); };
    z.Extract();
    EXPECT_LE(log.begun.size(), 1u);
    EXPECT_FALSE(FileExists(d.Path("docs/deep/data.bin")));
}

TEST(ZipExtract, OtherLayouts)
{
    // ZIP64 records, a self-extractor whose offsets were not adjusted for
    // its stub (the first local header is found by a search), and an
    // archive cut before its central directory (the local headers are walked).
    TempDir work;
    const std::string stored = ReadAll(Fixture("stored.zip"));
    const size_t central = stored.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    work.Write("nocentral.zip", stored.substr(0, central));
    const struct {
        std::string archive;
        std::string reference;
    } cases[] = {
        {std::string(VISTREL_TEST_DATA) + "/../archive/fixtures/zip64.zip", ""},
        {std::string(VISTREL_TEST_DATA) + "/../archive/fixtures/sfx-unadjusted.exe", ""},
        {work.Path("nocentral.zip"), Fixture("stored.zip")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        TempDir ours, ref;
        ASSERT_TRUE(Reference7z(c.reference.empty() ? c.archive : c.reference, ref.Root()));
        TUnZip z;
        ExtractLog log;
        Attach(z, log);
        Prepare(z, c.archive, ours.Root());
        const auto theirs = TreeOf(ref.Root());
        EXPECT_EQ(z.Extract(), static_cast<int>(theirs.size()));
        EXPECT_EQ(log.Failed(), 0);
        EXPECT_EQ(TreeOf(ours.Root()), theirs);
    }
}

TEST(ZipExtract, DamagedDeflate64DataFailsItsEntryOnly)
{
    TempDir work, out;
    std::string bytes = ReadAll(Fixture("deflate64.zip"));
    // Damage the middle of the first entry's data (far.bin, 66 KB packed).
    for (size_t i = 20000; i < 20040; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    work.Write("damaged.zip", bytes);
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, work.Path("damaged.zip"), out.Root());
    z.Extract();
    ASSERT_EQ(log.ended.size(), 2u);
    EXPECT_FALSE(log.ended[0].second);
    EXPECT_TRUE(log.ended[1].second);
    EXPECT_EQ(ReadAll(out.Path("readme.txt")).size(), 20290u);
}

TEST(ZipExtract, BeginVetoReadOnlyTargetsAndDates)
{
    TempDir d;
    d.Write("readme.txt", "old");
    std::filesystem::permissions(d.Path("readme.txt"), std::filesystem::perms::owner_read);
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("deflated.zip"), d.Root());
    // Vetoing notes.txt: no output, not counted, no OnEnd for it.
    z.OnBegin = [&log](TObject*, const std::string& name, int, bool& extract) {
        log.begun.push_back(name);
        extract = name.find("notes.txt") == std::string::npos;
    };
    z.DateAttribute = daMaxFileDate;
    EXPECT_EQ(z.Extract(), 3);
    EXPECT_FALSE(FileExists(d.Path("docs/notes.txt")));
    for (const auto& e : log.ended)
        EXPECT_EQ(e.first.find("notes.txt"), std::string::npos);
    // The read-only file was made writable and replaced.
    EXPECT_EQ(ReadAll(d.Path("readme.txt")).size(), 20290u);
    // Every file has the latest date among the entries.
    const auto t1 = std::filesystem::last_write_time(d.Path("readme.txt"));
    const auto t2 = std::filesystem::last_write_time(d.Path("docs/deep/data.bin"));
    EXPECT_EQ(t1, t2);
}

TEST(ZipExtract, EntryPointsRefuseWhatTheyCannotUse)
{
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    EXPECT_EQ(z.Extract(), 0);
    EXPECT_EQ(log.ErrorsWith(25192), 1);
    z.SetArchiveFile(Fixture("deflated.zip"));
    EXPECT_EQ(z.ExtractToFileStream("readme.txt", nullptr), 0);
    EXPECT_EQ(z.ExtractToPointer("readme.txt", nullptr, 10), 0);
    EXPECT_EQ(log.ErrorsWith(25258), 2);
    TDecompMemoryStream m;
    m.AddItem(TStreamHeader{0, 5, 0, std::string(300, 'n')});
    EXPECT_EQ(m.GetFileDate(0), 0x00210020);
    EXPECT_EQ(m.GetFileName(0).size(), 255u);
}
