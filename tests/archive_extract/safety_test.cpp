// Every output path is composed by SetFilename, which keeps extraction
// inside the target folder: traversal names, absolute names and names that
// pass through a symbolic link already on disk are refused with OnError
// 25245 and skipped, and the rest of the archive still extracts.
//
// Fixtures: traversal.zip and symlink.zip from scripts/make-extract-fixtures.sh.
#include "extract_support.h"

#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(ExtractSafety, SafeRelativeNames)
{
    const struct {
        const char* stored;
        const char* safe;
    } cases[] = {
        {"a.txt", "a.txt"},          {"dir\\a.txt", "dir/a.txt"},  {"./a/./b//c", "a/b/c"},
        {"D:a.txt", "a.txt"},        {"../x", ""},                 {"/abs", ""},
        {"\\abs", ""},               {"a/../../x", ""},            {"a/..", ""},
        {"C:\\x\\a.txt", ""},        {"C:/x", ""},                 {"./", ""},
        {"", ""},                    {"...", "..."},               {"a..b/c", "a..b/c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeRelativeName(c.stored), c.safe) << c.stored;
}

TEST(ExtractSafety, TraversalEntriesAreRefusedAndTheRestExtracts)
{
    TempDir box;
    const std::string target = box.Path("target") + "/";
    std::filesystem::create_directories(target);
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("traversal.zip"), target);
    EXPECT_EQ(z.Extract(), 2);
    EXPECT_EQ(TreeOf(target).size(), 2u);
    EXPECT_TRUE(FileExists(target + "good1.txt"));
    EXPECT_TRUE(FileExists(target + "sub/good2.txt"));
    // Nothing landed beside or above the target.
    EXPECT_EQ(TreeOf(box.Root()).size(), 2u);
    EXPECT_FALSE(FileExists("/abs_escape.txt"));
    EXPECT_EQ(log.ErrorsWith(25245), 4);  // ../, /abs, a/../../ and ..\ (./ is the target folder itself)
    EXPECT_EQ(log.Failed(), 4);
}

TEST(ExtractSafety, NamesWithoutStoredFoldersKeepOnlyTheirFileName)
{
    TempDir box;
    const std::string target = box.Path("target") + "/";
    std::filesystem::create_directories(target);
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("traversal.zip"), target);
    z.UseStoredDirs = false;
    z.Extract();
    EXPECT_EQ(log.ErrorsWith(25245), 0);  // every name keeps a usable file name
    EXPECT_EQ(log.Failed(), 0);
    EXPECT_TRUE(FileExists(target + "escape1.txt"));
    EXPECT_TRUE(FileExists(target + "good2.txt"));
    EXPECT_EQ(TreeOf(box.Root()).size(), TreeOf(target).size());
}

TEST(ExtractSafety, LinksOnDiskAreNotFollowed)
{
    TempDir box;
    const std::string target = box.Path("target") + "/";
    const std::string outside = box.Path("outside") + "/";
    std::filesystem::create_directories(target);
    std::filesystem::create_directories(outside);
    std::filesystem::create_directory_symlink(outside, target + "link");
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("symlink.zip"), target);
    EXPECT_EQ(z.Extract(), 1);
    EXPECT_TRUE(FileExists(target + "good.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    EXPECT_EQ(log.ErrorsWith(25245), 2);  // "link" itself and "link/evil.txt"
}

TEST(ExtractSafety, ALinkEntryIsWrittenAsAPlainFile)
{
    TempDir box;
    const std::string target = box.Path("target") + "/";
    std::filesystem::create_directories(target);
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, Fixture("symlink.zip"), target);
    z.Extract();
    EXPECT_FALSE(IsSymbolicLink(target + "link"));
    EXPECT_TRUE(FileExists(target + "good.txt"));
    EXPECT_FALSE(FileExists(box.Path("outside/evil.txt")));
    EXPECT_EQ(TreeOf(box.Root()).size(), TreeOf(target).size());
}

TEST(ExtractSafety, EmptyTargetFolderMeansTheArchivesFolder)
{
    TempDir box;
    box.Write("a.zip", "");
    std::filesystem::copy_file(Fixture("stored.zip"), box.Path("a.zip"), std::filesystem::copy_options::overwrite_existing);
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    z.SetArchiveFile(box.Path("a.zip"));
    z.FileSpec.Add("readme.txt");
    EXPECT_EQ(z.Extract(), 1);
    EXPECT_TRUE(FileExists(box.Path("readme.txt")));
}
