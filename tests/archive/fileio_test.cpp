// Handle-level file access, drive queries and the disk inspector.
#include "archive/zadbase.h"
#include "archive/zadfileio.h"
#include "archive/zadgbls.h"
#include "kernel/kernel.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <vector>

TEST(FileAccess, OpenersReportFailuresThroughTheOwner)
{
    TempDir dir;
    dir.Write("exists.bin", "12345");
    TZipCommon owner;
    std::vector<int> codes;
    owner.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int c) { codes.push_back(c); };
    EXPECT_EQ(zadOpenFileWrite(&owner, dir.Path("exists.bin"), false), INVALID_HANDLE_VALUE);
    EXPECT_EQ(codes, (std::vector<int>{25235}));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    HANDLE h = zadOpenFileRead(&owner, dir.Path("exists.bin"));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(zadGetFileSize(h), 5);
    EXPECT_TRUE(zadSetFilePointer(h, 3, FILE_BEGIN));
    EXPECT_EQ(zadGetFilePos(h), 3);
    CloseHandle(h);
    _SetFileAttributes(dir.Path("exists.bin"), FILE_ATTRIBUTE_READONLY);
    h = zadOpenFileAppend(&owner, dir.Path("exists.bin"), false);  // clears read-only first
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(zadGetFilePos(h), 5);
    CloseHandle(h);
    EXPECT_EQ(codes.size(), 1u);
}

TEST(FileAccess, FileDatesAsLocalDosDateTimes)
{
    TempDir dir;
    dir.Write("dated", "x");
    HANDLE h = CreateFileA(dir.Path("dated"), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SYSTEMTIME st;
    st.wYear = 2004;
    st.wMonth = 3;
    st.wDay = 1;
    st.wHour = 12;
    st.wMinute = 0;
    st.wSecond = 10;
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    ASSERT_TRUE(SetFileTime(h, nullptr, &utc, &utc));
    const std::int32_t d = zadGetFileDate(h, dtLastWrite);
    CloseHandle(h);
    EXPECT_EQ(static_cast<std::uint32_t>(d) >> 16, (24u << 9) | (3u << 5) | 1u);
    EXPECT_EQ(static_cast<std::uint32_t>(d) & 0xFFFF, (12u << 11) | 5u);
}

TEST(Drives, TypesAndTheDiskInspector)
{
    TempDir dir;
    EXPECT_EQ(GetDriveType(""), dtNoDrive);
    EXPECT_NE(GetDriveType(dir.Root()), dtNoDrive);
    TDiskManager dm;
    std::vector<int> codes;
    const bool ok = dm.ExamineDrive(dir.Root(), nullptr,
                                    [&](const std::string&, const std::string&, const std::string&, int c) { codes.push_back(c); },
                                    nullptr, nullptr);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(dm.SerialNumberHex.size(), 8u);
    EXPECT_GT(dm.TotalSpace, 0);
    EXPECT_FALSE(dm.FileSystemName.empty());
    EXPECT_EQ(dm.DriveTypeName, DriveNames[dm.DriveType]);
    EXPECT_FALSE(dm.GetDriveProtectionStatus(dir.Root()));
    // The probe leaves no temporary file behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Root()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 0);
    codes.clear();
    EXPECT_FALSE(dm.ExamineDrive(dir.Path("no/such/place"), nullptr,
                                 [&](const std::string&, const std::string&, const std::string&, int c) { codes.push_back(c); },
                                 nullptr, nullptr));
    EXPECT_EQ(codes, (std::vector<int>{25170}));
}

TEST(Drives, SpannedDiskLabels)
{
    EXPECT_EQ(TDiskManager::ZipDiskLabelToNum("PKBACK# 001"), 1);
    EXPECT_EQ(TDiskManager::ZipDiskLabelToNum("PKBACK# 012"), 12);
    EXPECT_EQ(TDiskManager::ZipDiskLabelToNum("DATA"), 0);
    EXPECT_EQ(TDiskManager::ZipDiskLabelToNum("PKBACK# 0A1"), 0);
    EXPECT_THROW(TDiskManager::ZipDiskLabelToNum("PKBACK# "), EConvertError);
    // Inside ExamineDrive the conversion error ends the examination quietly.
    TDiskManager dm;
    dm.VolumeQueryOverride = [](const std::string&, std::string& label, std::uint32_t& serial) {
        label = "PKBACK# ";
        serial = 7;
        return true;
    };
    TempDir dir;
    int reports = 0;
    EXPECT_FALSE(dm.ExamineDrive(dir.Root(), nullptr, [&](auto&&...) { ++reports; }, nullptr, nullptr));
    EXPECT_EQ(reports, 0);
}
