// Drives from the mount table, device changes from its changes, and the
// network-use query answered from it.
#include "shlmounts.h"
#include "shlobj.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/statvfs.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

bool Under(const std::string& path, const char* folder)
{
    const size_t n = std::strlen(folder);
    return path.compare(0, n, folder) == 0 && (path.size() == n || path[n] == '/');
}

std::mutex g_mountMutex;

// The parsed mount table and its drives, kept until the table changes: the
// kernel flags every change of /proc/self/mountinfo to poll() as POLLPRI.
struct MountCache {
    int fd = -1;
    bool valid = false;
    std::vector<ShellMountEntry> mounts;
    std::vector<ShellDrive> drives;
};
MountCache g_cache;

std::vector<ShellDrive> ReadDrives();

// Brings the cache up to date; g_mountMutex is held.
void RefreshCacheLocked()
{
    const std::string mountInfo = MountInfoFileName();
    bool stale = !g_cache.valid || mountInfo != "/proc/self/mountinfo";
    if (mountInfo == "/proc/self/mountinfo") {
        if (g_cache.fd < 0) {
            g_cache.fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            stale = true;
        } else {
            pollfd p = {g_cache.fd, POLLPRI, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)))
                stale = true;
        }
    }
    if (!stale)
        return;
    g_cache.mounts = ReadMountTable();
    g_cache.drives = SelectDrives(g_cache.mounts, ShellSystemBlockDeviceProbe());
    g_cache.valid = true;
}

std::vector<ShellDrive> ReadDrives()
{
    return SelectDrives(ReadMountTable(), ShellSystemBlockDeviceProbe());
}

} // namespace

std::vector<ShellDrive> SelectDrives(const std::vector<ShellMountEntry>& mounts, const ShellBlockDeviceProbe& probe)
{
    static const std::set<std::string_view> ram = {"tmpfs", "ramfs"};
    static const std::set<std::string_view> optical = {"iso9660", "udf"};
    static const std::set<std::string_view> never = {"squashfs", "autofs"};
    std::vector<ShellDrive> drives;
    for (const auto& m : mounts) {
        const std::string& mp = m.mountPoint;
        const bool userPlace = Under(mp, "/media") || Under(mp, "/mnt") || Under(mp, "/run/media");
        ShellDrive d;
        d.mountPoint = mp;
        d.fsType = m.fsType;
        d.source = m.source;
        if (never.count(m.fsType) || IsKernelPseudoFileSystem(m.fsType))
            continue;
        if (mp == "/") {
            d.type = ram.count(m.fsType) ? DRIVE_RAMDISK : DRIVE_FIXED;
        } else if (Under(mp, "/proc") || Under(mp, "/sys") || Under(mp, "/dev") || Under(mp, "/boot") ||
                   Under(mp, "/efi") || Under(mp, "/snap") || (Under(mp, "/run") && !Under(mp, "/run/media")) ||
                   Under(mp, "/var/lib")) {
            continue;
        } else if (IsNetworkFileSystem(m.fsType)) {
            d.type = DRIVE_REMOTE;
        } else if (ram.count(m.fsType)) {
            if (!userPlace)
                continue;
            d.type = DRIVE_RAMDISK;
        } else if (m.source.rfind("/dev/", 0) == 0) {
            // A bind mount of a folder of a device already listed is no drive of its own.
            if (m.root != "/")
                continue;
            if (optical.count(m.fsType) || m.source.rfind("/dev/sr", 0) == 0)
                d.type = DRIVE_CDROM;
            else if ((probe.isRemovable && probe.isRemovable(m.source)))
                d.type = DRIVE_REMOVABLE;
            else
                d.type = DRIVE_FIXED;
            if (probe.label)
                d.label = probe.label(m.source);
        } else {
            continue;
        }
        bool replaced = false;
        for (auto& existing : drives)
            if (existing.mountPoint == mp) {
                existing = d;
                replaced = true;
            }
        if (!replaced)
            drives.push_back(std::move(d));
    }
    return drives;
}

ShellBlockDeviceProbe ShellSystemBlockDeviceProbe()
{
    ShellBlockDeviceProbe probe;
    probe.isRemovable = [](const std::string& source) {
        struct stat st {};
        return ::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)
            && IsRemovableBlockDevice(major(st.st_rdev), minor(st.st_rdev));
    };
    probe.label = [](const std::string& source) { return VolumeLabelOf(source); };
    return probe;
}


std::vector<ShellDrive> ShellCurrentDrives()
{
    std::lock_guard lock(g_mountMutex);
    RefreshCacheLocked();
    return g_cache.drives;
}

UINT ShellDriveTypeOfPath(const std::string& path)
{
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return DRIVE_NO_ROOT_DIR;
    std::lock_guard lock(g_mountMutex);
    RefreshCacheLocked();
    const ShellMountEntry* best = FindMountOf(g_cache.mounts, path);
    if (!best)
        return DRIVE_UNKNOWN;
    for (const auto& d : g_cache.drives)
        if (d.mountPoint == best->mountPoint)
            return d.type;
    if (best->fsType == "tmpfs" || best->fsType == "ramfs")
        return DRIVE_RAMDISK;
    return IsNetworkFileSystem(best->fsType) ? DRIVE_REMOTE : DRIVE_FIXED;
}

void ShellSetMountInfoPathForTest(const std::string& path)
{
    std::lock_guard lock(g_mountMutex);
    SetMountInfoFileNameForTest(path);
    g_cache.valid = false;
}

// ---- device changes ----

namespace {

struct Monitor {
    std::mutex mutex;
    std::map<int, ShellDeviceChangeCallback> subscribers;
    int nextId = 1;
    std::vector<ShellDrive> known;
    bool knownValid = false;
    std::thread thread;
    int stopFd = -1;
};

Monitor& TheMonitor()
{
    static Monitor* monitor = new Monitor;
    return *monitor;
}

void MonitorLoop(int stopFd)
{
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, POLLPRI, 0}};
        const int n = ::poll(fds, fd >= 0 ? 2 : 1, fd >= 0 ? -1 : 2000);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (fd < 0 || (fds[1].revents & (POLLPRI | POLLERR))) {
            if (fd >= 0)
                ::lseek(fd, 0, SEEK_SET);
            ShellRescanDrives();
        }
    }
    if (fd >= 0)
        ::close(fd);
}

} // namespace

void ShellRescanDrives()
{
    auto& m = TheMonitor();
    auto drives = ReadDrives();
    std::vector<std::pair<WPARAM, std::string>> events;
    std::vector<ShellDeviceChangeCallback> callbacks;
    {
        std::lock_guard lock(m.mutex);
        if (m.knownValid) {
            std::set<std::string> before, after;
            for (const auto& d : m.known)
                before.insert(d.mountPoint);
            for (const auto& d : drives)
                after.insert(d.mountPoint);
            for (const auto& p : after)
                if (!before.count(p))
                    events.emplace_back(DBT_DEVICEARRIVAL, p);
            for (const auto& p : before)
                if (!after.count(p))
                    events.emplace_back(DBT_DEVICEREMOVECOMPLETE, p);
        }
        m.known = drives;
        m.knownValid = true;
        for (auto& [id, cb] : m.subscribers)
            callbacks.push_back(cb);
    }
    for (const auto& [event, mountPoint] : events)
        for (const auto& cb : callbacks)
            cb(event, mountPoint);
}

int ShellSubscribeDeviceChanges(ShellDeviceChangeCallback callback)
{
    auto& m = TheMonitor();
    int id;
    bool start = false;
    {
        std::lock_guard lock(m.mutex);
        id = m.nextId++;
        m.subscribers[id] = std::move(callback);
        if (!m.thread.joinable()) {
            m.stopFd = ::eventfd(0, EFD_CLOEXEC);
            start = m.stopFd >= 0;
            m.knownValid = false;
        }
    }
    if (start) {
        ShellRescanDrives();
        std::lock_guard lock(m.mutex);
        m.thread = std::thread(MonitorLoop, m.stopFd);
    }
    return id;
}

void ShellUnsubscribeDeviceChanges(int id)
{
    auto& m = TheMonitor();
    std::thread thread;
    int stopFd = -1;
    {
        std::lock_guard lock(m.mutex);
        m.subscribers.erase(id);
        if (!m.subscribers.empty() || !m.thread.joinable())
            return;
        thread = std::move(m.thread);
        stopFd = m.stopFd;
        m.stopFd = -1;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd, &one, sizeof one);
    thread.join();
    ::close(stopFd);
}

// ---- network library ----

DWORD NetUseGetInfo(const char16_t* serverName, const char16_t* useName, DWORD level, BYTE** bufPtr)
{
    if (!bufPtr || !useName)
        return ERROR_INVALID_PARAMETER;
    *bufPtr = nullptr;
    if (level != 1 || (serverName && *serverName))
        return ERROR_NOT_SUPPORTED;
    std::string local = ShellWideToUtf8(useName);
    while (local.size() > 1 && local.back() == '/')
        local.pop_back();
    std::vector<ShellMountEntry> mounts;
    {
        std::lock_guard lock(g_mountMutex);
        RefreshCacheLocked();
        mounts = g_cache.mounts;
    }
    const ShellMountEntry* found = nullptr;
    for (const auto& m : mounts)
        if (m.mountPoint == local && IsNetworkFileSystem(m.fsType))
            found = &m;
    if (!found)
        return NERR_UseNotFound;
    // A dead server can make statvfs hang: ask on a helper thread and give it a second.
    struct Probe {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool ok = false;
    };
    auto probe = std::make_shared<Probe>();
    std::thread([probe, local] {
        struct statvfs sv;
        const bool ok = ::statvfs(local.c_str(), &sv) == 0;
        std::lock_guard lock(probe->mutex);
        probe->ok = ok;
        probe->finished = true;
        probe->done.notify_all();
    }).detach();
    bool reachable;
    {
        std::unique_lock lock(probe->mutex);
        probe->done.wait_for(lock, std::chrono::seconds(1), [&] { return probe->finished; });
        reachable = probe->finished && probe->ok;
    }
    const std::u16string localW = ShellUtf8ToWide(local);
    const std::u16string remoteW = ShellUtf8ToWide(found->source);
    const size_t bytes = sizeof(USE_INFO_1) + (localW.size() + 1 + remoteW.size() + 1) * sizeof(char16_t);
    auto* info = static_cast<USE_INFO_1*>(CoTaskMemAlloc(bytes));
    if (!info)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memset(info, 0, bytes);
    auto* text = reinterpret_cast<char16_t*>(info + 1);
    std::memcpy(text, localW.c_str(), (localW.size() + 1) * sizeof(char16_t));
    info->ui1_local = text;
    text += localW.size() + 1;
    std::memcpy(text, remoteW.c_str(), (remoteW.size() + 1) * sizeof(char16_t));
    info->ui1_remote = text;
    info->ui1_status = reachable ? USE_OK : USE_DISCONN;
    info->ui1_asg_type = 0;  // USE_DISKDEV
    info->ui1_refcount = 1;
    info->ui1_usecount = 1;
    *bufPtr = reinterpret_cast<BYTE*>(info);
    return NERR_Success;
}

DWORD NetApiBufferFree(void* buffer)
{
    CoTaskMemFree(buffer);
    return NERR_Success;
}
