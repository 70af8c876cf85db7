// Saving over a file keeps the file what it was: a save goes only into a
// regular file the user may write (or a new name in a folder that takes
// it), keeps the file's inode where a rename would change its links, owner
// or mode, writes in place where the folder takes no new file, and leaves
// nothing behind when it is refused or not committed. The cases run as an
// ordinary user (a child process as "nobody" when the test runs as root).
#include "rtl/filesave.h"
#include "test_support/file_size_limit.h"
#include "test_support/named_temp_files.h"
#include "test_support/temp_dir.h"
#include "test_support/unprivileged.h"
#include "win/sharelocks.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

namespace {

namespace fs = std::filesystem;

const std::string kNew = "the new content";

// Saves content to path, as the hex editor does (TFileSave committed from
// the content it holds) or streamed in pieces (TAtomicFileWriter, committed
// from its temporary file); empty on success, else the error.
std::string Save(const std::string& path, const std::string& content, bool streamed = false)
{
    try {
        if (streamed) {
            TAtomicFileWriter out(path);
            out.Write(std::string_view(content).substr(0, 4));
            out.Write(std::string_view(content).substr(4));
            out.Commit();
            return {};
        }
        TFileSave save(path);
        save.Stream().WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        save.Commit(content.data(), static_cast<std::int64_t>(content.size()));
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
}

std::optional<struct stat> Stat(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return st;
}

class FileSaveTest : public ::testing::Test {
public:
    void SetUp() override
    {
        // Everyone may pass through the test folder; "open" is writable by
        // the ordinary user, "closed" is not.
        ::chmod(dir.Root().c_str(), 0755);
        fs::create_directory(dir.Path("open"));
        fs::create_directory(dir.Path("closed"));
        ::chmod(dir.Path("open").c_str(), 0777);
    }
    void TearDown() override { ::chmod(dir.Path("closed").c_str(), 0755); }
    void Close() { ::chmod(dir.Path("closed").c_str(), 0555); }
    // A file of the ordinary user, or of root when other is true.
    std::string File(const std::string& relative, const std::string& content, mode_t mode, bool other = false)
    {
        dir.Write(relative, content);
        const std::string path = dir.Path(relative);
        if (::geteuid() == 0 && !other) {
            EXPECT_EQ(::chown(path.c_str(), UnprivilegedUid(), UnprivilegedGid()), 0);
        }
        ::chmod(path.c_str(), mode);
        return path;
    }
    std::vector<std::string> Names(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.Path(folder)))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir;
};

struct Case {
    const char* name;
    // Makes the files; answers the name to save to and the folder it is in.
    std::function<std::string(FileSaveTest&)> setup;
    const char* folder;
    bool saved;
    bool keepsInode;  // an existing file that must stay the same inode
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class FileSaveCases : public FileSaveTest, public ::testing::WithParamInterface<std::tuple<Case, bool>> {};

TEST_P(FileSaveCases, KeepsTheFileWhatItWas)
{
    const auto& [c, streamed] = GetParam();
    // A streamed save has its content only in the temporary file, which a
    // folder that takes no new file cannot hold: it is refused there.
    const bool saved = c.saved && !(streamed && std::string(c.folder) == "closed");
    const std::string path = c.setup(*this);
    const auto before = Stat(path);
    const bool regular = before && S_ISREG(before->st_mode);
    const std::string oldContent = regular ? dir.Read(path.substr(dir.Root().size())) : "";
    const auto namesBefore = Names(c.folder);
    if (std::string(c.folder) == "closed")
        Close();

    const std::string error = RunUnprivileged([&] { return Save(path, kNew, streamed); });

    ::chmod(dir.Path("closed").c_str(), 0755);
    const auto after = Stat(path);
    if (saved) {
        EXPECT_EQ(error, "");
        ASSERT_TRUE(after);
        EXPECT_EQ(dir.Read(path.substr(dir.Root().size())), kNew);
    } else {
        EXPECT_EQ(error.rfind("Cannot create file \"" + path + "\". ", 0), 0u) << error;
        EXPECT_EQ(after.has_value(), before.has_value());
        if (regular) {
            EXPECT_EQ(dir.Read(path.substr(dir.Root().size())), oldContent);
        }
    }
    if (before && after) {
        EXPECT_EQ(after->st_mode, before->st_mode);
        EXPECT_EQ(after->st_uid, before->st_uid);
        EXPECT_EQ(after->st_gid, before->st_gid);
        EXPECT_EQ(after->st_nlink, before->st_nlink);
        if (c.keepsInode) {
            EXPECT_EQ(after->st_ino, before->st_ino);
        }
    }
    // Nothing left behind, nothing else changed.
    auto namesAfter = Names(c.folder);
    auto expected = namesBefore;
    if (!before && after) {
        expected.push_back(fs::path(path).filename().string());
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(namesAfter, expected);
}

const Case kCases[] = {
    {"NewName", [](FileSaveTest& t) { return t.dir.Path("open/new.bin"); }, "open", true, false},
    {"OwnFile", [](FileSaveTest& t) { return t.File("open/own.bin", "old", 0640); }, "open", true, false},
    {"WriteProtectedFile", [](FileSaveTest& t) { return t.File("open/ro.bin", "old", 0444); }, "open", false, true},
    {"AnotherUsersWritableFile",
        [](FileSaveTest& t) { return t.File("open/theirs.bin", "an old content longer than the new", 0666, true); },
        "open", true, true},
    {"FileWithTwoLinks",
        [](FileSaveTest& t) {
            const std::string p = t.File("open/linked.bin", "old", 0644);
            fs::create_hard_link(p, t.dir.Path("open/second.bin"));
            return p;
        },
        "open", true, true},
    {"WritableFileInAClosedFolder", [](FileSaveTest& t) { return t.File("closed/in.bin", "old", 0644); }, "closed",
        true, true},
    {"NewNameInAClosedFolder", [](FileSaveTest& t) { return t.dir.Path("closed/new.bin"); }, "closed", false, false},
    {"NamedPipe",
        [](FileSaveTest& t) {
            const std::string p = t.dir.Path("open/pipe");
            ::mkfifo(p.c_str(), 0666);
            ::chmod(p.c_str(), 0666);
            return p;
        },
        "open", false, true},
    {"Folder",
        [](FileSaveTest& t) {
            fs::create_directory(t.dir.Path("open/sub"));
            ::chmod(t.dir.Path("open/sub").c_str(), 0777);
            return t.dir.Path("open/sub");
        },
        "open", false, true},
    {"MissingFolder", [](FileSaveTest& t) { return t.dir.Path("open/no/such.bin"); }, "open", false, false},
};

INSTANTIATE_TEST_SUITE_P(Targets, FileSaveCases, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Case, bool>>& info) {
                             return std::string(std::get<0>(info.param).name)
                                 + (std::get<1>(info.param) ? "_Streamed" : "_FromMemory");
                         });

TEST_F(FileSaveTest, BothNamesOfALinkedFileAndALinksTargetGetTheContent)
{
    const std::string file = File("open/linked.bin", "old", 0644);
    fs::create_hard_link(file, dir.Path("open/second.bin"));
    fs::create_symlink(file, dir.Path("open/link"));
    EXPECT_EQ(RunUnprivileged([&] { return Save(dir.Path("open/link"), kNew); }), "");
    EXPECT_EQ(dir.Read("open/second.bin"), kNew);
    EXPECT_TRUE(fs::is_symlink(dir.Path("open/link")));
    EXPECT_EQ(dir.Read("open/link"), kNew);
}

TEST_F(FileSaveTest, AFileAnotherOpenerHoldsIsRefused)
{
    const std::string path = File("open/held.bin", "old", 0666);
    const int held = FileOpen(path, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(held, 0);
    for (bool streamed : {false, true}) {
        const std::string error = Save(path, kNew, streamed);
        EXPECT_NE(error.find("being used by another process"), std::string::npos) << error;
    }
    FileClose(held);
    EXPECT_EQ(dir.Read("open/held.bin"), "old");
    EXPECT_EQ(Names("open"), std::vector<std::string>{"held.bin"});
}

TEST_F(FileSaveTest, AnUncommittedSaveLeavesTheFileAndNoTemporaryFile)
{
    const struct {
        bool closed;
        bool named;  // a hidden named temporary file, not an unnamed one
    } cases[] = {{false, false}, {false, true}, {true, false}};
    for (const auto [closed, named] : cases) {
        const std::string folder = closed ? "closed" : "open";
        const std::string path = File(folder + "/f.bin", "old", 0666);
        if (closed)
            Close();
        std::optional<NamedTemporaryFiles> hidden;
        if (named)
            hidden.emplace();
        const std::string result = RunUnprivileged([&]() -> std::string {
            TFileSave save(path);
            save.Stream().WriteBuffer(kNew.data(), static_cast<std::int64_t>(kNew.size()));
            return save.ReplacesTarget() ? "rename" : "in place";
        });
        ::chmod(dir.Path("closed").c_str(), 0755);
        EXPECT_EQ(result, closed ? "in place" : "rename");
        EXPECT_EQ(dir.Read(folder + "/f.bin"), "old");
        EXPECT_EQ(Names(folder), std::vector<std::string>{"f.bin"});
    }
}

// A write that fails (a full disk) spoils the save: a later write that
// fits does not make a content with a piece missing committable.
TEST_F(FileSaveTest, AFailedWriteRefusesTheCommit)
{
    const std::string path = File("open/f.bin", "old", 0666);
    const std::string big(4096, 'x');
    for (bool fromMemory : {false, true}) {
        // The temporary file with a hidden name goes too.
        std::optional<NamedTemporaryFiles> hidden;
        if (fromMemory)
            hidden.emplace();
        TFileSave save(path);
        {
            const FileSizeLimit full(1024);
            EXPECT_EQ(save.Stream().Write(big.data(), static_cast<std::int64_t>(big.size())), 0);
        }
        EXPECT_EQ(save.Stream().Write(kNew.data(), static_cast<std::int64_t>(kNew.size())), 0);
        if (fromMemory) {
            EXPECT_THROW(save.Commit(kNew.data(), static_cast<std::int64_t>(kNew.size())), EFCreateError);
        } else {
            EXPECT_THROW(save.Commit(), EFCreateError);
        }
    }
    EXPECT_EQ(dir.Read("open/f.bin"), "old");
    EXPECT_EQ(Names("open"), std::vector<std::string>{"f.bin"});
}

TEST(FileSaveHelpers, CopyKeepsThePermissionBitsAndRenameReplacesOnlyFiles)
{
    TempDir dir;
    dir.Write("a", "content");
    ::chmod(dir.Path("a").c_str(), 0600);
    ASSERT_TRUE(CopyToNewFile(dir.Path("a"), dir.Path("b")));
    EXPECT_EQ(dir.Read("b"), "content");
    EXPECT_EQ(Stat(dir.Path("b"))->st_mode & 0777, 0600u);
    EXPECT_FALSE(CopyToNewFile(dir.Path("a"), dir.Path("b")));  // exists
    EXPECT_FALSE(CopyToNewFile(dir.Path("missing"), dir.Path("c")));
    EXPECT_FALSE(dir.Exists("c"));
    fs::create_directory(dir.Path("d"));
    EXPECT_FALSE(RenameReplacing(dir.Path("b"), dir.Path("d")));
    EXPECT_TRUE(RenameReplacing(dir.Path("b"), dir.Path("a")));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a", "d"}));
}

}  // namespace
