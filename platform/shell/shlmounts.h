// The mount table seen as drives: which mounted file systems a person cares
// about, their drive types and labels, and the network-use query over them.
#pragma once

#include "kernel/kernel.h"
#include "kernel/mounts.h"
#include "vcl/messages.h"
#include "win/wintypes.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>


// One line of the mount table.
using ShellMountEntry = MountEntry;

// One drive of "Computer".
struct ShellDrive {
    std::string mountPoint;
    std::string label;  // volume label, "" when none
    std::string fsType;
    std::string source;
    UINT type = DRIVE_UNKNOWN;
};


// Facts about block devices that the drive selection asks of the system;
// tests give their own.
struct ShellBlockDeviceProbe {
    std::function<bool(const std::string& source)> isRemovable;
    std::function<std::string(const std::string& source)> label;
};
ShellBlockDeviceProbe ShellSystemBlockDeviceProbe();

// The drives among the mounts, in mount-table order (a later mount on the
// same mount point replaces the earlier one): the root file system, real
// devices, network and removable mounts; never proc, sysfs, cgroups, runtime
// tmpfs, squashfs images or boot partitions.
std::vector<ShellDrive> SelectDrives(const std::vector<ShellMountEntry>& mounts, const ShellBlockDeviceProbe& probe);

// The drives of the running system, read from the mount table (kept until
// the table changes).
std::vector<ShellDrive> ShellCurrentDrives();
// The drive type of the mount that holds the path (the longest mount point
// that is a prefix of it); DRIVE_NO_ROOT_DIR for a path that does not exist.
UINT ShellDriveTypeOfPath(const std::string& path);

// Reads the mount table from another file (tests); "" restores /proc/self/mountinfo.
void ShellSetMountInfoPathForTest(const std::string& path);

// Device arrival and removal. Subscribers are called on the monitor's own
// thread with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and the mount
// point of the drive; the monitor runs while there is a subscriber.
constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
using ShellDeviceChangeCallback = std::function<void(WPARAM event, const std::string& mountPoint)>;
int ShellSubscribeDeviceChanges(ShellDeviceChangeCallback callback);
void ShellUnsubscribeDeviceChanges(int id);
// Reads the mount table now and reports the differences to the subscribers
// (the monitor thread calls this when the table changes).
void ShellRescanDrives();

// The network library: whether a network mount is reachable.
constexpr DWORD NERR_Success = 0;
constexpr DWORD NERR_UseNotFound = 2250;
constexpr DWORD USE_OK = 0;
constexpr DWORD USE_DISCONN = 2;
struct USE_INFO_1 {
    char16_t* ui1_local;
    char16_t* ui1_remote;
    char16_t* ui1_password;
    DWORD ui1_status;
    DWORD ui1_asg_type;
    DWORD ui1_refcount;
    DWORD ui1_usecount;
};
// Level 1 only. The local name is the mount point of a network file system;
// the status is USE_OK when the mount answers within a second.
DWORD NetUseGetInfo(const char16_t* serverName, const char16_t* useName, DWORD level, BYTE** bufPtr);
DWORD NetApiBufferFree(void* buffer);
