// Reading files that another program changes meanwhile, and writing files
// whole or not at all without ever leaving a temporary file behind.
#include "rtl/classes.h"
#include "rtl/filereader.h"
#include "rtl/filesave.h"
#include "rtl/sysutils.h"
#include "test_support/file_size_limit.h"
#include "test_support/read_hooks.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Installs a read hook for the life of a test and removes it afterwards.
class ReadHook {
public:
    explicit ReadHook(TFileReader::TReadHook hook) { TFileReader::SetReadHook(std::move(hook)); }
    ~ReadHook() { TFileReader::SetReadHook(nullptr); }
    ReadHook(const ReadHook&) = delete;
    ReadHook& operator=(const ReadHook&) = delete;
};

std::string Pattern(std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

} // namespace

TEST(FileReader, ReadsPiecesWithinTheSizeTakenAtOpening)
{
    TempDir dir;
    const std::string data = Pattern(3 * 1024 * 1024 + 17);
    dir.Write("f.bin", data);
    TFileReader reader;
    ASSERT_TRUE(reader.Open(dir.Path("f.bin")));
    EXPECT_EQ(reader.Size(), static_cast<std::int64_t>(data.size()));
    // Reads that span several of its pieces, at the start, inside and up to the end.
    struct Case {
        std::int64_t offset;
        std::size_t count;
    } cases[] = {{0, 10}, {1024 * 1024 - 3, 2 * 1024 * 1024 + 6}, {static_cast<std::int64_t>(data.size()) - 5, 5}};
    for (const Case& c : cases) {
        std::string got(c.count, '\0');
        reader.ReadAt(c.offset, got.data(), c.count);
        EXPECT_EQ(got, data.substr(static_cast<std::size_t>(c.offset), c.count)) << c.offset;
    }
    char byte;
    EXPECT_THROW(reader.ReadAt(static_cast<std::int64_t>(data.size()), &byte, 1), EReadError);
    EXPECT_THROW(reader.ReadAt(-1, &byte, 1), EReadError);
    EXPECT_EQ(reader.ReadAll(), data);

    // A file that grows meanwhile is read as it was when it was opened.
    dir.Write("g.bin", "0123456789");
    TFileReader growing;
    ASSERT_TRUE(growing.Open(dir.Path("g.bin")));
    dir.Write("g.bin", "0123456789 and more written afterwards");
    EXPECT_EQ(growing.ReadAll(), "0123456789");

    // A kernel file that says it has no size is read to its end.
    TFileReader status;
    ASSERT_TRUE(status.Open("/proc/self/status"));
    EXPECT_EQ(status.Size(), 0);
    EXPECT_NE(status.ReadAll().find("VmRSS:"), std::string::npos);
}

// The file is cut short after it was opened and before (or while) it is
// read: every way of reading reports it as a read error, and nothing raises
// a signal.
TEST(FileReader, AFileCutShortBetweenOpeningAndReadingIsAReadError)
{
    TempDir dir;
    const std::string data = Pattern(2 * 1024 * 1024 + 100);
    const std::string path = dir.Path("shrinks.bin");
    struct Case {
        const char* name;
        std::int64_t cutAfter;  // the first piece read past this finds the file cut to 1000 bytes
        std::function<void(const TFileReader&)> read;
    } cases[] = {
        {"ReadAll, cut before the first piece", -1, [](const TFileReader& r) { r.ReadAll(); }},
        {"ReadAll, cut before the second piece", 0, [](const TFileReader& r) { r.ReadAll(); }},
        {"ReadAt", -1,
            [](const TFileReader& r) {
                std::string buffer(5000, '\0');
                r.ReadAt(500, buffer.data(), buffer.size());
            }},
        {"ReadWholeFile", -1, [&](const TFileReader&) { ReadWholeFile(path); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("shrinks.bin", data);
        const CutShortOnRead cut(path, c.cutAfter, 1000);
        TFileReader reader;
        ASSERT_TRUE(reader.Open(path));
        try {
            c.read(reader);
            ADD_FAILURE() << "read a file that was cut short";
        } catch (const EReadError& e) {
            EXPECT_NE(e.Message().find("changed while it was read"), std::string::npos) << e.Message();
        }
        EXPECT_TRUE(cut.Cut());
    }
}

TEST(FileReader, AFileLargerThanMemoryIsRefusedBeforeReading)
{
    TempDir dir;
    // A sparse file far beyond any memory: refused at once, nothing read.
    const std::string path = dir.Path("huge.bin");
    dir.Write("huge.bin", "");
    std::filesystem::resize_file(path, std::uintmax_t(1) << 42);
    TFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    int reads = 0;
    const ReadHook hook([&](const TFileReader&, std::int64_t) { ++reads; });
    EXPECT_THROW(reader.ReadAll(), EOutOfMemory);
    EXPECT_THROW(ReadWholeFile(path), EOutOfMemory);
    EXPECT_EQ(reads, 0);
}

namespace {

struct stat StatOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

} // namespace

// A save keeps what makes the file the user's: its other names, a link
// that leads to it, its permissions; and it never replaces a file the user
// may not write.
TEST(AtomicFileWriter, ASaveKeepsTheFilesIdentity)
{
    TempDir dir;
    // Two names of one file: both see the new contents, still one file.
    dir.Write("a.txt", "old");
    ASSERT_TRUE(CreateHardLink(dir.Path("b.txt"), dir.Path("a.txt")));
    const ino_t inode = StatOf(dir.Path("a.txt")).st_ino;
    WriteFileAtomically(dir.Path("a.txt"), "new contents");
    EXPECT_EQ(dir.Read("b.txt"), "new contents");
    EXPECT_EQ(StatOf(dir.Path("a.txt")).st_ino, inode);
    EXPECT_EQ(StatOf(dir.Path("a.txt")).st_nlink, 2u);

    // A longer file written shorter in place is cut to the new length.
    WriteFileAtomically(dir.Path("b.txt"), "short");
    EXPECT_EQ(dir.Read("a.txt"), "short");

    // A symbolic link stays a link, and the file it leads to changes.
    dir.Write("sub/target.txt", "old");
    std::filesystem::create_symlink("sub/target.txt", dir.Path("link.txt"));
    WriteFileAtomically(dir.Path("link.txt"), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.txt")));
    EXPECT_EQ(dir.Read("sub/target.txt"), "through the link");

    // Permissions stay.
    dir.Write("private.txt", "old");
    ::chmod(dir.Path("private.txt").c_str(), 0600);
    WriteFileAtomically(dir.Path("private.txt"), "new");
    EXPECT_EQ(StatOf(dir.Path("private.txt")).st_mode & 07777, 0600u);
    EXPECT_EQ(dir.Read("private.txt"), "new");

    // A file the user may not write stays as it was (the super-user may
    // write any file, so this holds for other users).
    if (::geteuid() != 0) {
        dir.Write("readonly.txt", "keep");
        ::chmod(dir.Path("readonly.txt").c_str(), 0444);
        EXPECT_THROW(WriteFileAtomically(dir.Path("readonly.txt"), "replaced"), EFCreateError);
        EXPECT_EQ(dir.Read("readonly.txt"), "keep");
    }
    // Only the files written, no temporary file beside them.
    for (const std::string& name : dir.Names()) {
        EXPECT_NE(name[0], '.') << name;
    }
}

// However a write ends before Commit, the folder holds what it held before:
// a write that fails (a full disk), a writer dropped, and a program killed
// in the middle of writing.
TEST(AtomicFileWriter, NoTemporaryFileStaysBehind)
{
    TempDir dir;
    dir.Write("out.txt", "the older text");
    const std::vector<std::string> before = dir.Names();

    try {
        TAtomicFileWriter out(dir.Path("out.txt"));
        const FileSizeLimit full(10);
        out.Write(std::string(100, 'x'));
        out.Commit();
        ADD_FAILURE() << "a write past the size limit succeeded";
    } catch (const EFCreateError&) {
    }
    EXPECT_EQ(dir.Names(), before);

    {
        TAtomicFileWriter dropped(dir.Path("new.txt"));
        dropped.Write("never committed");
    }
    EXPECT_EQ(dir.Names(), before);

    // A program killed while it writes, through either way of saving a
    // whole file.
    const std::string data(1 << 20, 'y');
    const std::function<void(const std::string&)> writers[] = {
        [&](const std::string& path) {
            TAtomicFileWriter out(path);
            out.Write(data);
            ::kill(::getpid(), SIGKILL);
        },
        [&](const std::string& path) {
            TFileSave save(path);
            save.Stream().WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
            ::kill(::getpid(), SIGKILL);
        },
    };
    for (const auto& write : writers) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            write(dir.Path("out.txt"));
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(dir.Names(), before);
        EXPECT_EQ(dir.Read("out.txt"), "the older text");
    }
}
