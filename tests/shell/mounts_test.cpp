// Drives from the mount table and the network-use query.
#include "shell_env.h"

#include "shell/ptshutils.h"
#include "shell/shlmounts.h"

#include <gtest/gtest.h>

namespace {

TEST(Mounts, SelectsTheDrivesAPersonCaresAbout)
{
    const std::string text =
        "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
        "23 28 0:22 / /sys rw - sysfs sysfs rw\n"
        "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "29 28 254:1 / /home rw shared:1 - ext4 /dev/vdb1 rw\n"
        "30 28 0:26 / /run/user/1000 rw - tmpfs tmpfs rw\n"
        "31 28 0:27 / /media/usb\\040stick rw - vfat /dev/sdc1 rw\n"
        "32 28 0:28 / /mnt/share rw - nfs4 server:/export rw\n"
        "33 28 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
        "34 28 0:29 / /mnt/ram rw - tmpfs tmpfs rw\n"
        "35 28 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
        "36 28 254:2 / /boot/efi rw - vfat /dev/vda1 rw\n"
        "37 28 254:1 /data /srv/bind rw - ext4 /dev/vdb1 rw\n"
        "38 28 0:30 / /dev/shm rw - tmpfs tmpfs rw\n"
        "garbage line\n";
    const auto mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 13u);
    EXPECT_EQ(mounts[5].mountPoint, "/media/usb stick");
    ShellBlockDeviceProbe probe;
    probe.isRemovable = [](const std::string& s) { return s == "/dev/sdc1"; };
    probe.label = [](const std::string& s) { return s == "/dev/sdc1" ? std::string("STICK") : std::string(); };
    const auto drives = SelectDrives(mounts, probe);
    struct Expected {
        const char* mountPoint;
        UINT type;
        const char* label;
    };
    const Expected expected[] = {
        {"/", DRIVE_FIXED, ""},           {"/home", DRIVE_FIXED, ""},          {"/media/usb stick", DRIVE_REMOVABLE, "STICK"},
        {"/mnt/share", DRIVE_REMOTE, ""}, {"/media/cdrom", DRIVE_CDROM, ""},   {"/mnt/ram", DRIVE_RAMDISK, ""},
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].mountPoint, expected[i].mountPoint);
        EXPECT_EQ(drives[i].type, expected[i].type) << expected[i].mountPoint;
        EXPECT_EQ(drives[i].label, expected[i].label);
    }
}

TEST(Mounts, NetworkUseFromTheMountTable)
{
    TempDir dir;
    std::filesystem::create_directories(dir.Path("share"));
    dir.Write("mountinfo", "28 1 254:0 / / rw - ext4 /dev/vda rw\n"
                           "40 28 0:50 / " + dir.Path("share") + " rw - cifs //server/share rw\n"
                           "41 28 0:51 / /mnt/gone-away-for-test rw - nfs server:/x rw\n");
    ShellSetMountInfoPathForTest(dir.Path("mountinfo"));

    BYTE* buffer = nullptr;
    const std::u16string share = ShellUtf8ToWide(dir.Path("share"));
    ASSERT_EQ(NetUseGetInfo(nullptr, share.c_str(), 1, &buffer), NERR_Success);
    auto* info = reinterpret_cast<USE_INFO_1*>(buffer);
    EXPECT_EQ(info->ui1_status, USE_OK);
    EXPECT_EQ(ShellWideToUtf8(info->ui1_remote), "//server/share");
    NetApiBufferFree(buffer);
    EXPECT_TRUE(IsNetworkDriveConnected(dir.Path("share")));

    // A network mount whose folder does not answer is disconnected; a local one is no network use.
    EXPECT_FALSE(IsNetworkDriveConnected("/mnt/gone-away-for-test"));
    EXPECT_EQ(NetUseGetInfo(nullptr, u"/", 1, &buffer), NERR_UseNotFound);
    EXPECT_FALSE(IsNetworkDriveConnected("/"));
    EXPECT_EQ(NetUseGetInfo(nullptr, share.c_str(), 2, &buffer), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    ShellSetMountInfoPathForTest("");
}

TEST(Strings, WideRoundTripKeepsEveryByte)
{
    const std::string cases[] = {"plain", "caf\xc3\xa9", "\xf0\x9f\x98\x80 emoji", "bad \xff\xfe bytes",
                                 "overlong \xc0\xaf", "surrogate \xed\xa0\x80", "cut \xe2\x82"};
    for (const auto& s : cases)
        EXPECT_EQ(ShellWideToUtf8(ShellUtf8ToWide(s)), s);
    EXPECT_EQ(ShellUtf8ToWide("caf\xc3\xa9"), u"caf\u00e9");
}

} // namespace

namespace {

TEST(Mounts, DamagedMountTablesParseWithoutHarm)
{
    const std::string table = "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                              "31 28 0:27 / /media/a\\040b rw - vfat /dev/sdc1 rw\n";
    std::uint32_t seed = 7;
    for (int round = 0; round < 300; ++round) {
        std::string text = table;
        for (int e = 0; e < 3; ++e) {
            seed = seed * 1103515245u + 12345u;
            const size_t at = (seed >> 8) % text.size();
            text[at] = "\\ -\n0/7x"[(seed >> 20) % 8];
        }
        ShellBlockDeviceProbe probe;
        for (const auto& m : ParseMountInfo(text))
            EXPECT_EQ(m.mountPoint[0], '/');
        SelectDrives(ParseMountInfo(text), probe);
    }
}

} // namespace
