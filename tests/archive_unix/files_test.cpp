// Dates, links, modes and sparse files of archives written by Linux tools
// (recipes in scripts/make-unix-archive-fixtures.sh): what lands on disk is
// what tar, unzip, 7z and lhasa make of the same archive.
#include "unix_support.h"

#include "archive/zadgbls.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

int Umask()
{
    const mode_t m = ::umask(022);
    ::umask(m);
    return static_cast<int>(m);
}

std::string Stamp(TDateTime d)
{
    int y, mo, da, h, mi, s, ms;
    DecodeDate(d, y, mo, da);
    DecodeTime(d, h, mi, s, ms);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
}

// Where an entry's extracted file must stand: its modification time
// (seconds, nanoseconds) and, unless -1, its permission bits before the
// umask; its bytes unless the text is empty.
struct FileCase {
    const char* fixture;
    const char* name;
    std::int64_t seconds;
    long nanoseconds;
    int mode;
    const char* listed;  // the lister's date, local (UTC here)
    std::string bytes;
};

const std::string kScript = "#!/bin/sh\necho run\n";

const FileCase kFileCases[] = {
    // TAR keeps its own time: after 2038, before 1980, before 1970; pax fractions.
    {"unix/times.tar", "future.txt", 2524651200, 0, 0644, "2050-01-01 12:00:00", "future\n"},
    {"unix/times.tar", "seventies.txt", 170812800, 0, 0644, "1975-06-01 00:00:00", "seventies\n"},
    {"unix/times.tar", "sixties.txt", -302486400, 0, 0644, "1960-06-01 00:00:00", "sixties\n"},
    // (The file time keeps 100-nanosecond units.)
    {"unix/fraction.tar", "fraction.txt", 1709634030, 123456700, 0644, "2024-03-05 10:20:30", "fraction\n"},
    // Modes: set-user-id never comes back.
    {"unix/links.tar", "run.sh", 1709634030, 0, 0755, "2024-03-05 10:20:30", kScript},
    {"unix/links.tar", "private.txt", 1709634030, 0, 0600, "2024-03-05 10:20:30", "private\n"},
    {"unix/links.tar", "setuid.sh", 1709634030, 0, 0755, "2024-03-05 10:20:30", "#!/bin/sh\n"},
    // A hard link gets the content of the member it names; a symbolic link
    // is a file holding its target's text.
    {"unix/links.tar", "lt/hard_link", 1709634030, 0, 0644, "2024-03-05 10:20:30", "the file\n"},
    {"unix/links.tar", "lt/sym", 1709634030, 0, -1, "2024-03-05 10:20:30", "file.txt"},
    // ZIP: 64-bit dates, the universal-time field over a Tokyo DOS time, a
    // Unix host's mode, and the first DOS second.
    {"unix/unix.zip", "run.sh", 1709634030, 0, 0755, "2024-03-05 10:20:30", kScript},
    {"unix/unix.zip", "y2039.txt", 2190542400, 0, 0644, "2039-06-01 12:00:00", "late\n"},
    {"unix/unix.zip", "y2090.txt", 3800001600, 0, 0644, "2090-06-01 12:00:00", "later\n"},
    {"unix/tokyo.zip", "tokyo.txt", 1709634030, 0, 0644, "2024-03-05 10:20:30", "made in Tokyo\n"},
    {"unix/dos1980.zip", "dos1980.txt", 315532800, 0, 0644, "1980-01-01 00:00:00", "first moment\n"},
    // ARJ on Unix: Unix time and mode.
    {"unix/unix.arj", "run.sh", 1709634030, 0, 0755, "2024-03-05 10:20:30", kScript},
    // LHA: the mode field, a level-2 time before 1980, the level-1 Unix
    // time field, a link as TAR's.
    {"unix/unix.lzh", "run.sh", 1709634030, 0, 0755, "2024-03-05 10:20:30", kScript},
    {"unix/unix.lzh", "old.txt", 163246830, 0, -1, "1975-03-05 10:20:30", "old\n"},
    {"unix/unix.lzh", "sym", 1709634030, 0, -1, "2024-03-05 10:20:30", "run.sh"},
    {"unix/level1-time.lzh", "stamped.txt", 1709634030, 0, -1, "2024-03-05 10:20:30", "stamped\n"},
    // gzip's own time.
    {"names/grüße.txt.gz", "grüße.txt", 1709634030, 0, -1, "2024-03-05 10:20:30", "grüße\n"},
    // RAR from a Unix host: mode, and a link as TAR's.
    {"unix/unix.rar", "run.sh", 1709634030, 0, 0755, "2024-03-05 10:20:30", kScript},
    {"unix/unix.rar", "sym", 1709634030, 0, -1, "2024-03-05 10:20:30", "run.sh"},
};

TEST(UnixFiles, DatesModesAndLinksComeOutAsThePeersGiveThem)
{
    const int umask = Umask();
    for (const FileCase& c : kFileCases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + c.name);
        const std::string archive = UnixFixture(c.fixture);
        const UnixListing l = ListArchive(archive);
        const auto at = std::find(l.names.begin(), l.names.end(), c.name);
        ASSERT_NE(at, l.names.end());
        EXPECT_EQ(Stamp(l.dates[static_cast<size_t>(at - l.names.begin())]), c.listed);

        TempDir out;
        const UnixExtraction x = ExtractArchive(archive, out.Root(), {c.name});
        EXPECT_EQ(x.count, 1);
        EXPECT_TRUE(x.errors.empty()) << x.errors.front().first << " " << x.errors.front().second;
        ASSERT_EQ(x.files.count(c.name), 1u);
        EXPECT_EQ(x.files.at(c.name), c.bytes);
        const auto [seconds, nanoseconds] = MTimeOf(out.Path(c.name));
        EXPECT_EQ(seconds, c.seconds);
        EXPECT_EQ(nanoseconds, c.nanoseconds);
        if (c.mode >= 0) {
            EXPECT_EQ(ModeOf(out.Path(c.name)), c.mode & ~umask);
        }
    }
}

TEST(UnixFiles, DosDateOptionsStillApplyWhenTheHeaderHasAnExactTime)
{
    // The "archive's newest date" option dates every file alike, exact time or not.
    TempDir out;
    const UnixExtraction x = ExtractArchive(UnixFixture("unix/times.tar"), out.Root(), {},
                                            [](TCustomDClass& c) { c.DateAttribute = daMaxFileDate; });
    EXPECT_EQ(x.count, 3);
    EXPECT_EQ(MTimeOf(out.Path("sixties.txt")).first, MTimeOf(out.Path("future.txt")).first);
    EXPECT_EQ(MTimeOf(out.Path("future.txt")).first, 2524651200);
}

// The file a sparse member stands for: two runs of data and holes.
std::string SparseExpected()
{
    std::string b(300003, '\0');
    std::string middle, end;
    for (int i = 0; i < 300; ++i)
        middle += "middle data ";
    for (int i = 0; i < 43; ++i)
        end += "end of the sparse file\n";
    b.replace(98304, middle.size(), middle);
    b.replace(299008, end.size(), end);
    b.resize(300003);
    return b;
}

// Whether the folder's file system keeps holes (fewer blocks than bytes).
bool KeepsHoles(const std::string& dir)
{
    const std::string probe = dir + "/hole-probe";
    const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY, 0600);
    const bool wrote = fd >= 0 && ::pwrite(fd, "x", 1, 1 << 20) == 1;
    struct stat st {};
    const bool holes = wrote && ::fstat(fd, &st) == 0 && st.st_blocks * 512 < (1 << 20);
    if (fd >= 0)
        ::close(fd);
    ::unlink(probe.c_str());
    return holes;
}

TEST(UnixFiles, SparseMembersAreTheFilesTheyStandFor)
{
    const std::string expected = SparseExpected();
    for (const char* fixture : {"unix/sparse-gnu.tar", "unix/sparse-0.0.tar", "unix/sparse-0.1.tar", "unix/sparse-1.0.tar"}) {
        SCOPED_TRACE(fixture);
        const UnixListing l = ListArchive(UnixFixture(fixture));
        EXPECT_EQ(l.names, std::vector<std::string>{"sparse.bin"});
        TempDir out;
        const UnixExtraction x = ExtractArchive(UnixFixture(fixture), out.Root());
        EXPECT_EQ(x.count, 1);
        EXPECT_TRUE(x.errors.empty());
        ASSERT_EQ(x.files.size(), 1u);
        EXPECT_TRUE(x.files.at("sparse.bin") == expected);
        struct stat st {};
        ASSERT_EQ(::stat(out.Path("sparse.bin").c_str(), &st), 0);
        if (KeepsHoles(out.Root())) {
            EXPECT_LT(st.st_blocks * 512, 300003 / 2);
        }

        // To memory the holes are zeros.
        TDecompMemoryStream mem;
        TVirOV probe;
        probe.SetArchiveFile(UnixFixture(fixture));
        auto t = ExtractorFor(probe.ArcType);
        t->SetArchiveFile(UnixFixture(fixture));
        t->FileSpec.Add("*.*");
        EXPECT_EQ(t->ExtractToMemoryStream(&mem), 1);
        EXPECT_EQ(mem.Size(), 300003);
        EXPECT_TRUE(std::string(static_cast<const char*>(mem.Memory()), static_cast<size_t>(mem.Size())) == expected);
    }
}

TEST(UnixFiles, ALinkWithoutItsMemberAndAMapPastItsFileFailAlone)
{
    TempDir out;
    const UnixExtraction x = ExtractArchive(UnixFixture("unix/hostile-links.tar"), out.Root());
    EXPECT_EQ(x.count, 1);
    EXPECT_EQ(x.files, (std::map<std::string, std::string>{{"good.txt", "good\n"}}));
    EXPECT_EQ(x.errors, (std::vector<std::pair<int, std::string>>{
                            {25192, "orphan_link: hard link to not/in/the/archive.txt, which the archive does not hold before it"},
                            {25114, "bad.bin: its sparse map does not fit its data"}}));
}

TEST(UnixFiles, SolidRarSaysWhatItCannotExtract)
{
    TempDir out;
    const UnixExtraction x = ExtractArchive(UnixFixture("unix/solid.rar"), out.Root());
    EXPECT_EQ(x.count, 1);
    EXPECT_EQ(x.files, (std::map<std::string, std::string>{{"one.txt", "one\n"}}));
    ASSERT_EQ(x.errors.size(), 1u);
    EXPECT_EQ(x.errors[0].first, 25326);
    EXPECT_EQ(x.errors[0].second, "two.txt: solid data, which the RAR library here does not decode");
}

}  // namespace

namespace {

TEST(UnixFiles, FoldersTakeTheirModesAndDatesFolderOfTheUsersStayAsTheyWere)
{
    // dot.tar begins with "./", the target folder itself: nothing to make,
    // nothing to report. The folders the run makes get their stored modes
    // and dates once their files are in; folders already there are left.
    const int umask = Umask();
    for (const char* fixture : {"unix/dot.tar", "unix/folders.zip"}) {
        for (const bool createStoredDirs : {true, false}) {
            SCOPED_TRACE(std::string(fixture) + (createStoredDirs ? " with folder entries" : " without"));
            TempDir out;
            ::chmod(out.Root().c_str(), 0711);
            std::filesystem::create_directories(out.Path("shared"));
            ::chmod(out.Path("shared").c_str(), 0770);
            const UnixExtraction x = ExtractArchive(UnixFixture(fixture), out.Root(), {},
                                                    [&](TCustomDClass& c) { c.CreateStoredDirs = createStoredDirs; });
            EXPECT_TRUE(x.errors.empty()) << x.errors.front().first << " " << x.errors.front().second;
            EXPECT_EQ(x.files, (std::map<std::string, std::string>{{"private/inner/key.txt", "secret\n"}, {"shared/note.txt", "open\n"}}));
            const struct {
                const char* folder;
                int mode;
                std::int64_t seconds;  // -1: whatever the run left
            } folders[] = {
                {"private", 0700, 1643767322},
                {"private/inner", 0750, 1625126400},
                {"shared", 0770, -1},  // the user's
                {"", 0711, -1},        // the target folder
            };
            for (const auto& f : folders) {
                EXPECT_EQ(ModeOf(out.Path(f.folder)), f.mode & (f.seconds < 0 ? 07777 : ~umask)) << f.folder;
                if (f.seconds >= 0) {
                    EXPECT_EQ(MTimeOf(out.Path(f.folder)).first, f.seconds) << f.folder;
                }
            }
        }
    }
}

}  // namespace
