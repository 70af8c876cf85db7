// Every way the program opens a file to read its contents takes only a
// regular file: a named pipe, a socket, a device (/dev/zero, and a link to
// it in a folder) and a folder are refused at once, without waiting for a
// pipe's writer and without reading a device that never ends.
#include "kernel/kernel.h"
#include "rtl/classes.h"
#include "rtl/filereader.h"
#include "rtl/streams.h"
#include "test_support/special_files.h"
#include "test_support/temp_dir.h"
#include "win/fileops.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

struct Opener {
    const char* name;
    // Tries to read the file; true when it was opened.
    std::function<bool(const std::string&)> open;
};

const Opener kOpeners[] = {
    {"OpenRegularFile",
        [](const std::string& p) {
            const int fd = OpenRegularFile(p);
            if (fd >= 0)
                ::close(fd);
            return fd >= 0;
        }},
    {"ReadWholeFile",
        [](const std::string& p) {
            try {
                ReadWholeFile(p);
                return true;
            } catch (const EFOpenError&) {
                return false;
            }
        }},
    {"FileOpen",
        [](const std::string& p) {
            const int fd = FileOpen(p, fmOpenRead | fmShareDenyNone);
            FileClose(fd);
            return fd >= 0;
        }},
    {"TFileStream",
        [](const std::string& p) {
            try {
                TFileStream stream(p, fmOpenRead | fmShareDenyWrite);
                return true;
            } catch (const EFOpenError&) {
                return false;
            }
        }},
    {"TFileReader",
        [](const std::string& p) {
            TFileReader reader;
            return reader.Open(p);
        }},
    {"CreateFileA",
        [](const std::string& p) {
            const HANDLE h = CreateFileA(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            return h != INVALID_HANDLE_VALUE;
        }},
};

class RegularFileOnly : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("plain.txt", "text");
        MakeFifo(dir.Path("pipe"));
        std::filesystem::create_symlink("/dev/zero", dir.Path("zero.bin"));
        std::filesystem::create_symlink(dir.Path("pipe"), dir.Path("pipe-link"));
        std::filesystem::create_directory(dir.Path("folder"));
    }
    TempDir dir;
};

} // namespace

TEST_F(RegularFileOnly, EveryReaderRefusesSpecialFilesAtOnce)
{
    BoundSocket socket(dir.Path("sock"));
    struct Case {
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {dir.Path("pipe"), ERROR_OPEN_FAILED},
        {dir.Path("pipe-link"), ERROR_OPEN_FAILED},
        {dir.Path("sock"), ERROR_OPEN_FAILED},
        {"/dev/zero", ERROR_OPEN_FAILED},
        {dir.Path("zero.bin"), ERROR_OPEN_FAILED},
        {dir.Path("folder"), ERROR_ACCESS_DENIED},
        {dir.Path("missing"), ERROR_FILE_NOT_FOUND},
    };
    for (const Opener& opener : kOpeners) {
        for (const Case& c : cases) {
            PipeWaitGuard guard(dir.Path("pipe"));
            SetLastError(0);
            EXPECT_FALSE(opener.open(c.path)) << opener.name << " " << c.path;
            guard.Finish();
            EXPECT_FALSE(guard.Rescued()) << opener.name << " waited on the pipe opening " << c.path;
            EXPECT_EQ(GetLastError(), c.error) << opener.name << " " << c.path;
        }
        EXPECT_TRUE(opener.open(dir.Path("plain.txt"))) << opener.name;
    }
}

// The descriptor of a regular file reads as any other: blocking, from the start.
TEST_F(RegularFileOnly, RegularFileOpensForReading)
{
    const int fd = OpenRegularFile(dir.Path("plain.txt"));
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    char buffer[8] = {};
    EXPECT_EQ(::read(fd, buffer, sizeof buffer), 4);
    EXPECT_STREQ(buffer, "text");
    ::close(fd);
    EXPECT_EQ(ReadWholeFile(dir.Path("plain.txt")), "text");
}

// Copying takes only a regular file too, and leaves no target behind.
TEST_F(RegularFileOnly, CopyRefusesSpecialFiles)
{
    PipeWaitGuard guard(dir.Path("pipe"));
    EXPECT_FALSE(CopyFileNoReplace(dir.Path("pipe"), dir.Path("copy-of-pipe")));
    EXPECT_FALSE(CopyFileNoReplace(dir.Path("zero.bin"), dir.Path("copy-of-zero")));
    guard.Finish();
    EXPECT_FALSE(guard.Rescued());
    EXPECT_FALSE(dir.Exists("copy-of-pipe"));
    EXPECT_FALSE(dir.Exists("copy-of-zero"));
    EXPECT_TRUE(CopyFileNoReplace(dir.Path("plain.txt"), dir.Path("copy.txt")));
    EXPECT_EQ(dir.Read("copy.txt"), "text");
}
