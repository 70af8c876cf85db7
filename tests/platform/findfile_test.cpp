// The runtime's directory search, its masks, the UTF-8 case mapping, the
// rename that changes letter case alone, and the test for the kernel's
// pseudo file systems.
#include "rtl/findfile.h"
#include "rtl/sysutils.h"
#include "kernel/mounts.h"
#include "win/wintypes.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Name to attributes of every entry FindFirst/FindNext give for the mask.
std::map<std::string, int> Walk(const std::string& pattern, int attr = faAnyFile)
{
    std::map<std::string, int> out;
    TSearchRec sr;
    if (FindFirst(pattern, attr, sr) != 0)
        return out;
    do
        out[sr.Name] = sr.Attr;
    while (FindNext(sr) == 0);
    FindClose(sr);
    return out;
}

int OpenDescriptors()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

class FindFileTest : public ::testing::Test {
protected:
    FindFileTest()
    {
        dir.Write("plain.txt", "12345");
        dir.Write(".hidden", "x");
        dir.Write("sub/inner.txt", "");
        std::filesystem::create_directory_symlink(dir.Path("sub"), dir.Path("tosub"));
        std::filesystem::create_symlink(dir.Path("plain.txt"), dir.Path("toplain"));
        std::filesystem::create_symlink(dir.Path("nowhere"), dir.Path("broken"));
        ::mkfifo(dir.Path("pipe").c_str(), 0600);
        std::filesystem::create_symlink(dir.Path("pipe"), dir.Path("topipe"));
    }
    TempDir dir;
};

} // namespace

TEST_F(FindFileTest, EntriesCarryTheirKindFromTheFolder)
{
    const auto all = Walk(dir.Root() + "*.*");
    const std::map<std::string, int> expected = {
        {".", faDirectory},
        {"..", faDirectory},
        {"plain.txt", 0},
        {".hidden", faHidden},
        {"sub", faDirectory},
        {"tosub", faSymLink | faDirectory},
        {"toplain", faSymLink},
        {"broken", faSymLink},
        {"pipe", faSysFile},
        {"topipe", faSymLink | faSysFile},
    };
    EXPECT_EQ(all, expected);
    // FileGetAttr tells the same of one path.
    for (const auto& [name, attr] : expected) {
        if (name != "." && name != "..") {
            EXPECT_EQ(FileGetAttr(dir.Path(name)), attr) << name;
        }
    }
    EXPECT_EQ(FileGetAttr(dir.Path("none")), -1);
}

TEST_F(FindFileTest, HiddenSystemAndFolderEntriesComeOnlyWhenAskedFor)
{
    const auto normal = Walk(dir.Root() + "*", 0);
    EXPECT_EQ(normal.count("plain.txt"), 1u);
    EXPECT_EQ(normal.count("toplain"), 1u);
    EXPECT_EQ(normal.count("broken"), 1u);
    for (const char* name : {".hidden", "sub", "tosub", "pipe", "topipe", "."})
        EXPECT_EQ(normal.count(name), 0u) << name;
    EXPECT_EQ(Walk(dir.Root() + "*", faHidden).count(".hidden"), 1u);
    EXPECT_EQ(Walk(dir.Root() + "*", faSysFile).count("pipe"), 1u);
    EXPECT_EQ(Walk(dir.Root() + "*", faDirectory).count("sub"), 1u);
}

TEST_F(FindFileTest, SizeAndTimeAreThoseOfTheFileTheEntryLeadsTo)
{
    std::filesystem::last_write_time(dir.Path("plain.txt"),
        std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
    struct stat st {};
    ASSERT_EQ(::stat(dir.Path("plain.txt").c_str(), &st), 0);
    TSearchRec sr;
    ASSERT_EQ(FindFirst(dir.Root() + "toplain", faAnyFile, sr), 0);
    EXPECT_EQ(sr.Name, "toplain");
    EXPECT_EQ(sr.Size(), 5);
    EXPECT_EQ(sr.Time(), st.st_mtim.tv_sec);
    EXPECT_DOUBLE_EQ(sr.TimeStamp(), UnixToLocalDateTime(st.st_mtim.tv_sec));
    FindClose(sr);
    // A folder has size 0; a link that leads nowhere has the link's own time.
    ASSERT_EQ(FindFirst(dir.Root() + "sub", faAnyFile, sr), 0);
    EXPECT_EQ(sr.Size(), 0);
    FindClose(sr);
    ASSERT_EQ(FindFirst(dir.Root() + "broken", faAnyFile, sr), 0);
    EXPECT_GT(sr.Time(), 0);
}

TEST_F(FindFileTest, FailuresAnswerTheSystemsCodes)
{
    TSearchRec sr;
    EXPECT_EQ(FindFirst(dir.Root() + "*.zip", faAnyFile, sr), static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirst(dir.Path("none") + "/*.*", faAnyFile, sr), static_cast<int>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FindNext(sr), static_cast<int>(ERROR_NO_MORE_FILES));
    if (::geteuid() != 0) {
        std::filesystem::permissions(dir.Path("sub"), std::filesystem::perms::none);
        EXPECT_EQ(FindFirst(dir.Path("sub") + "/*", faAnyFile, sr), static_cast<int>(ERROR_ACCESS_DENIED));
        std::filesystem::permissions(dir.Path("sub"), std::filesystem::perms::owner_all);
    }
}

TEST_F(FindFileTest, ASearchHoldsOneDescriptorUntilItIsClosed)
{
    const int before = OpenDescriptors();
    {
        TSearchRec sr;
        ASSERT_EQ(FindFirst(dir.Root() + "*", faAnyFile, sr), 0);
        EXPECT_EQ(OpenDescriptors(), before + 1);
        FindClose(sr);
        EXPECT_EQ(OpenDescriptors(), before);
        ASSERT_EQ(FindFirst(dir.Root() + "*", faAnyFile, sr), 0);
    }
    // Destroying an open search closes it too.
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(FileMask, MatchesAsTheSystemsDirectorySearch)
{
    struct Case {
        const char* name;
        const char* mask;
        bool match;
    };
    const Case cases[] = {
        {"a.txt", "*.txt", true},
        {"A.TXT", "*.txt", true},
        {"a.txt.bak", "*.txt", false},
        {"readme", "*.*", true},
        {"readme", "*", true},
        {"readme", "*.txt", false},
        {"ab.c", "a?.c", true},
        {"a.c", "a?.c", false},
        {"index.html", "*.htm", false},
        {"x", "", false},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*a*a*c", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.match) << c.name << " " << c.mask;
}

TEST(AnsiCase, MapsCharactersOfUtf8AndKeepsOtherBytes)
{
    struct Case {
        std::string text;
        std::string upper;
        std::string lower;
    };
    const Case cases[] = {
        {"readme.TXT", "README.TXT", "readme.txt"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},        // été
        {"\xD0\xBF\xD1\x80\xD0\xB8", "\xD0\x9F\xD0\xA0\xD0\x98", "\xD0\xBF\xD1\x80\xD0\xB8"},  // при
        {"a\xFF" "b", "A\xFF" "B", "a\xFF" "b"},                               // no UTF-8
        {"\xC3", "\xC3", "\xC3"},                                              // cut short
        {"\xC0\xA1x", "\xC0\xA1X", "\xC0\xA1x"},                               // overlong
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiUpperCase(c.text), c.upper) << c.text;
        EXPECT_EQ(AnsiLowerCase(c.upper), c.lower) << c.text;
    }
    EXPECT_EQ(StrCharLength(""), 0u);
    EXPECT_EQ(StrCharLength("ab"), 1u);
    EXPECT_EQ(StrCharLength("\xC3\xA9x"), 2u);
    EXPECT_EQ(StrCharLength("\xE2\x82\xAC"), 3u);
    EXPECT_EQ(StrCharLength("\xFF\xA9"), 1u);
}

TEST(RenameFile, TwoNamesOfOneFileAreNeverMerged)
{
    TempDir dir;
    dir.Write("a.txt", "first");
    dir.Write("b.txt", "second");
    // Another name of the same file, differing in case alone: a file system
    // that heeds case holds two entries, and neither may go.
    ASSERT_TRUE(CreateHardLink(dir.Path("A.txt"), dir.Path("a.txt")));
    EXPECT_FALSE(RenameFile(dir.Path("a.txt"), dir.Path("A.txt")));
    EXPECT_FALSE(RenameFile(dir.Path("b.txt"), dir.Path("a.txt")));
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"A.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(dir.Read("b.txt"), "second");
    EXPECT_TRUE(RenameFile(dir.Path("b.txt"), dir.Path("B.txt")));
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"A.txt", "B.txt", "a.txt"}));
}

TEST(PseudoFileSystems, TheWalkTellsTheKernelsFoldersFromAPersons)
{
    for (const char* type : {"proc", "sysfs", "devtmpfs", "cgroup2", "debugfs"})
        EXPECT_TRUE(IsKernelPseudoFileSystem(type)) << type;
    for (const char* type : {"ext4", "tmpfs", "vfat", "nfs4", "fuse.sshfs"})
        EXPECT_FALSE(IsKernelPseudoFileSystem(type)) << type;
    TempDir dir;
    const TPseudoFileSystemTest test;
    EXPECT_TRUE(test.Holds("/proc"));
    EXPECT_TRUE(test.Holds("/proc/self/"));
    EXPECT_TRUE(test.Holds("/sys"));
    EXPECT_FALSE(test.Holds(dir.Root()));
    EXPECT_FALSE(test.Holds(dir.Path("none")));
}
