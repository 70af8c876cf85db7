// Kernel services over POSIX: share modes, 64-bit positions, ticks, time
// zones, drives, temporary names and the trash.
#include "kernel/kernel.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(KernelFiles, ShareModesRefuseConflictingOpens)
{
    TempDir dir;
    dir.Write("f.bin", "data");
    const std::string f = dir.Path("f.bin");
    // A reader that denies writing blocks writers, not other readers.
    HANDLE r1 = CreateFileA(f, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(r1, INVALID_HANDLE_VALUE);
    HANDLE r2 = CreateFileA(f, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    EXPECT_NE(r2, INVALID_HANDLE_VALUE);
    HANDLE w = CreateFileA(f, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    EXPECT_EQ(w, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // A refused CREATE_ALWAYS must not have truncated the file.
    EXPECT_EQ(CreateFileA(f, GENERIC_WRITE, 0, CREATE_ALWAYS, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(dir.Read("f.bin"), "data");
    CloseHandle(r1);
    CloseHandle(r2);
    // Once the readers are gone, a writer gets in, and then a reader that
    // denies writing is refused.
    w = CreateFileA(f, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(f, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    HANDLE shared = CreateFileA(f, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    EXPECT_NE(shared, INVALID_HANDLE_VALUE);
    CloseHandle(shared);
    CloseHandle(w);
}

TEST(KernelFiles, OpenErrorsMapToWindowsCodes)
{
    TempDir dir;
    dir.Write("x", "1");
    EXPECT_EQ(CreateFileA(dir.Path("missing"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileA(dir.Path("x"), GENERIC_WRITE, 0, CREATE_NEW, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

TEST(KernelFiles, SparseFileBeyondFourGigabytes)
{
    TempDir dir;
    const std::string f = dir.Path("sparse");
    HANDLE h = CreateFileA(f, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::int64_t five = 5LL << 30;
    std::int64_t pos = 0;
    ASSERT_TRUE(SetFilePointerEx(h, five, &pos, FILE_BEGIN));
    EXPECT_EQ(pos, five);
    ASSERT_TRUE(SetEndOfFile(h));
    std::int64_t size = 0;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size, five);
    ASSERT_TRUE(SetFilePointerEx(h, -3, &pos, FILE_END));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "xyz", 3, &n));
    ASSERT_TRUE(SetFilePointerEx(h, five - 3, nullptr, FILE_BEGIN));
    char buf[4] = {};
    ASSERT_TRUE(ReadFile(h, buf, 4, &n));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    CloseHandle(h);
}

TEST(KernelFiles, FindFirstMatchesWildcardsWithoutCase)
{
    TempDir dir;
    dir.Write("a.TXT", "");
    dir.Write("b.doc", "");
    dir.Write("readme", "");
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(dir.Path("*.txt"), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fd.cFileName, "a.TXT");
    EXPECT_FALSE(FindNextFileA(h, &fd));
    FindClose(h);
    int count = 0;
    h = FindFirstFileA(dir.Path("*.*"), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do
        ++count;
    while (FindNextFileA(h, &fd));
    FindClose(h);
    EXPECT_EQ(count, 5);  // ".", ".." and the three files
    EXPECT_EQ(FindFirstFileA(dir.Path("*.zip"), &fd), INVALID_HANDLE_VALUE);
}

TEST(KernelTicks, ManualClockDrivesTickCount)
{
    {
        ScopedManualClock clock;
        const DWORD start = GetTickCount();
        clock.clock.Advance(3500);
        EXPECT_EQ(GetTickCount(), start + 3500u);
    }
    const DWORD a = GetTickCount();
    EXPECT_GE(GetTickCount(), a);
}

TEST(KernelTimeZone, PosixRulesBecomeYearlyRules)
{
    TIME_ZONE_INFORMATION tz;
    ASSERT_TRUE(ParsePosixTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", &tz));
    EXPECT_EQ(tz.Bias, -60);
    EXPECT_EQ(tz.DaylightBias, -60);
    EXPECT_EQ(tz.DaylightDate.wMonth, 3);
    EXPECT_EQ(tz.DaylightDate.wDay, 5);
    EXPECT_EQ(tz.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(tz.DaylightDate.wHour, 2);
    EXPECT_EQ(tz.StandardDate.wMonth, 10);
    EXPECT_EQ(tz.StandardDate.wHour, 3);
    ASSERT_TRUE(ParsePosixTimeZone("<+0530>-5:30", &tz));
    EXPECT_EQ(tz.Bias, -330);
    EXPECT_EQ(tz.DaylightDate.wMonth, 0);
    EXPECT_FALSE(ParsePosixTimeZone("", &tz));
    EXPECT_FALSE(ParsePosixTimeZone("CET-1CEST,J60,J300", &tz));
}

TEST(KernelTimeZone, ReadsTheZoneFileNamedByTZ)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    TIME_ZONE_INFORMATION tz;
    const DWORD r = GetTimeZoneInformation(&tz);
    EXPECT_NE(r, TIME_ZONE_ID_INVALID);
    EXPECT_EQ(tz.Bias, -60);
    EXPECT_EQ(tz.DaylightDate.wMonth, 3);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
}

TEST(KernelDrives, MountPointsStandForDrives)
{
    TempDir dir;
    EXPECT_EQ(GetDriveTypeA(""), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA(dir.Path("missing/deeper")), DRIVE_NO_ROOT_DIR);
    const UINT t = GetDriveTypeA(dir.Root());
    EXPECT_NE(t, DRIVE_NO_ROOT_DIR);
    const std::string mp = GetMountPointOf(dir.Root());
    ASSERT_FALSE(mp.empty());
    EXPECT_EQ(dir.Root().rfind(mp == "/" ? "/" : mp, 0), 0u);
    std::string label, fs;
    DWORD serial = 0, maxLen = 0, flags = 0;
    EXPECT_TRUE(GetVolumeInformationA(dir.Root(), &label, &serial, &maxLen, &flags, &fs));
    EXPECT_FALSE(fs.empty());
    EXPECT_GT(maxLen, 0u);
    std::int64_t freeBytes = -1, total = -1;
    EXPECT_TRUE(GetDiskFreeSpaceExA(dir.Root(), &freeBytes, &total));
    EXPECT_GT(total, 0);
}

TEST(KernelTemp, TempFileNamesAreNewFiles)
{
    TempDir dir;
    const std::string a = GetTempFileNameA(dir.Root(), "zad");
    const std::string b = GetTempFileNameA(dir.Root(), "zad");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_EQ(a.rfind(dir.Root() + "zad", 0), 0u);
    EXPECT_TRUE(GetTempFileNameA(dir.Path("no/such/dir"), "zad").empty());
    EXPECT_EQ(GetTempPathA().back(), '/');
}

TEST(KernelTrash, MovesIntoTheFreedesktopTrashWithItsRecord)
{
    TempDir dir;
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    dir.Write("doomed.txt", "bye");
    dir.Write("other/doomed.txt", "bye2");
    ASSERT_TRUE(MoveToTrash(dir.Path("doomed.txt")));
    ASSERT_TRUE(MoveToTrash(dir.Path("other/doomed.txt")));
    EXPECT_FALSE(dir.Exists("doomed.txt"));
    EXPECT_EQ(dir.Read("data/Trash/files/doomed.txt"), "bye");
    EXPECT_EQ(dir.Read("data/Trash/files/doomed.txt.1"), "bye2");
    const std::string info = dir.Read("data/Trash/info/doomed.txt.trashinfo");
    EXPECT_NE(info.find("[Trash Info]\nPath=" + dir.Path("doomed.txt")), std::string::npos) << info;
    EXPECT_NE(info.find("DeletionDate="), std::string::npos);
    EXPECT_FALSE(MoveToTrash(dir.Path("missing")));
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}
