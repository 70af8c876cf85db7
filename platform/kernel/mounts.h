// The mount table (/proc/self/mountinfo) and what it tells of drives: the
// kernel's drive and volume queries and the shell's "Computer" both read it
// through here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct MountEntry {
    std::string mountPoint; // unescaped
    std::string root;       // the mounted subtree of the source, "/" for a whole file system
    std::string fsType;
    std::string source;
    unsigned major = 0;
    unsigned minor = 0;
};

// Parses mountinfo lines: "id parent major:minor root mount-point options
// [optional fields...] - type source super-options", with \ooo escapes.
// Damaged lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The file the mount table is read from (a test may point it elsewhere).
std::string MountInfoFileName();
void SetMountInfoFileNameForTest(const std::string& fileName);
std::vector<MountEntry> ReadMountTable();

// The entry whose mount point holds the (real) path: the longest mount point
// that is a prefix, a later mount over an earlier one winning; nullptr when none.
const MountEntry* FindMountOf(const std::vector<MountEntry>& mounts, const std::string& realPath);

bool IsNetworkFileSystem(std::string_view fsType);
// The kernel's pseudo file systems: proc, sysfs, devtmpfs, cgroup and their
// kin. Their files are the kernel's, not a person's, and reading some of
// them never ends.
bool IsKernelPseudoFileSystem(std::string_view fsType);

// Tells the folders that lie on a kernel pseudo file system by their device
// number, as the mount table names the mounts' devices; the table is read
// when the test is made.
class TPseudoFileSystemTest {
public:
    TPseudoFileSystemTest();
    explicit TPseudoFileSystemTest(const std::vector<MountEntry>& mounts);
    // One stat of the folder (following a final link); false when it cannot be read.
    bool Holds(const std::string& folder) const;

private:
    std::vector<std::uint64_t> m_devices;
};
// The folders of one mount as a walk of it sees them: on the mount's own
// file system (its device when the walk began) and under no other mount
// point of the table, so that a nested or bind mount is walked once, as
// itself, and a walk never strays into another file system.
class TMountWalkBoundary {
public:
    TMountWalkBoundary(const MountEntry& mount, const std::vector<MountEntry>& table);
    bool Holds(const std::string& folder) const;

private:
    std::uint64_t m_device = 0;
    bool m_known = false;
    std::vector<std::string> m_others;  // other mount points, without a trailing '/'
};

// Whether the block device, or the disk it is a partition of, is removable.
bool IsRemovableBlockDevice(unsigned major, unsigned minor);
// The volume label udev read from the file system on the device ("" when none).
std::string VolumeLabelOf(const std::string& devicePath);
