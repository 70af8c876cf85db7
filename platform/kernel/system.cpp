// Drives and volumes over the mount table, time-zone rules from tzdata, the
// tick count and the freedesktop trash.

#include "kernel.h"
#include "mounts.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

std::string RealPathOf(const std::string& path)
{
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return {};
    return buf;
}

// The mount that holds the path.
bool FindMount(const std::string& path, MountEntry& found)
{
    const std::string real = RealPathOf(path.empty() ? std::string(".") : path);
    if (real.empty())
        return false;
    const std::vector<MountEntry> mounts = ReadMountTable();
    const MountEntry* e = FindMountOf(mounts, real);
    if (e)
        found = *e;
    return e != nullptr;
}

bool OneOf(const std::string& s, std::initializer_list<const char*> list)
{
    for (const char* x : list)
        if (s == x)
            return true;
    return false;
}

}  // namespace

std::string GetMountPointOf(const std::string& path)
{
    MountEntry e;
    if (!FindMount(path, e)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return {};
    }
    std::string mp = e.mountPoint;
    if (mp.back() != '/')
        mp += '/';
    return mp;
}

UINT GetDriveTypeA(const std::string& path)
{
    MountEntry e;
    if (path.empty() || !FindMount(path, e))
        return DRIVE_NO_ROOT_DIR;
    const std::string& t = e.fsType;
    if (IsNetworkFileSystem(t))
        return DRIVE_REMOTE;
    if (OneOf(t, {"iso9660", "udf"}))
        return DRIVE_CDROM;
    if (OneOf(t, {"tmpfs", "ramfs"}))
        return DRIVE_RAMDISK;
    if (e.major != 0 && IsRemovableBlockDevice(e.major, e.minor))
        return DRIVE_REMOVABLE;
    if (e.major == 0 && !OneOf(t, {"btrfs", "zfs", "overlay", "fuse.portal"}))
        return e.source.rfind("/dev/", 0) == 0 ? DRIVE_FIXED : DRIVE_UNKNOWN;
    return DRIVE_FIXED;
}

BOOL GetVolumeInformationA(const std::string& path, std::string* label, DWORD* serial, DWORD* maxComponentLength,
                           DWORD* fileSystemFlags, std::string* fileSystemName)
{
    MountEntry e;
    if (path.empty() || !FindMount(path, e)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    struct statvfs vfs {};
    if (::statvfs(e.mountPoint.c_str(), &vfs) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    if (label)
        *label = VolumeLabelOf(e.source);
    if (serial)
        *serial = static_cast<DWORD>(vfs.f_fsid ^ (vfs.f_fsid >> 32));
    if (maxComponentLength)
        *maxComponentLength = static_cast<DWORD>(vfs.f_namemax);
    if (fileSystemFlags)
        *fileSystemFlags = (vfs.f_flag & ST_RDONLY) ? FILE_READ_ONLY_VOLUME : 0;
    if (fileSystemName)
        *fileSystemName = e.fsType;
    return TRUE;
}

BOOL GetDiskFreeSpaceExA(const std::string& path, std::int64_t* freeBytes, std::int64_t* totalBytes)
{
    struct statvfs vfs {};
    if (path.empty() || ::statvfs(path.c_str(), &vfs) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    if (freeBytes)
        *freeBytes = static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
    if (totalBytes)
        *totalBytes = static_cast<std::int64_t>(vfs.f_blocks) * static_cast<std::int64_t>(vfs.f_frsize);
    return TRUE;
}

// ---- time zone ----------------------------------------------------------------------

namespace {

// Reads a zone name (letters, or <...> quoted).
bool ParseName(const std::string& s, size_t& i, std::string& name)
{
    name.clear();
    if (i < s.size() && s[i] == '<') {
        const size_t close = s.find('>', i);
        if (close == std::string::npos)
            return false;
        name = s.substr(i + 1, close - i - 1);
        i = close + 1;
        return !name.empty();
    }
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])))
        name += s[i++];
    return name.size() >= 3;
}

// [+-]hh[:mm[:ss]] in seconds.
bool ParseOffset(const std::string& s, size_t& i, long& seconds)
{
    int sign = 1;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        sign = s[i] == '-' ? -1 : 1;
        ++i;
    }
    if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i])))
        return false;
    long parts[3] = {0, 0, 0};
    for (int p = 0; p < 3; ++p) {
        long v = 0;
        bool digits = false;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            v = v * 10 + (s[i++] - '0');
            digits = true;
        }
        if (!digits)
            return false;
        parts[p] = v;
        if (p < 2 && i < s.size() && s[i] == ':')
            ++i;
        else
            break;
    }
    seconds = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
    return true;
}

// ",Mm.w.d[/time]"; the other rule forms (Jn, n) have no weekday-of-month
// shape and are refused.
bool ParseRule(const std::string& s, size_t& i, SYSTEMTIME& date)
{
    if (i >= s.size() || s[i] != 'M')
        return false;
    ++i;
    int v[3] = {0, 0, 0};
    for (int p = 0; p < 3; ++p) {
        bool digits = false;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            v[p] = v[p] * 10 + (s[i++] - '0');
            digits = true;
        }
        if (!digits)
            return false;
        if (p < 2) {
            if (i >= s.size() || s[i] != '.')
                return false;
            ++i;
        }
    }
    if (v[0] < 1 || v[0] > 12 || v[1] < 1 || v[1] > 5 || v[2] > 6)
        return false;
    long at = 2 * 3600;
    if (i < s.size() && s[i] == '/') {
        ++i;
        if (!ParseOffset(s, i, at))
            return false;
    }
    // The rule record holds a time of day; times outside one day (allowed by
    // POSIX for a few zones) are clamped to it.
    if (at < 0)
        at = 0;
    if (at > 23 * 3600 + 59 * 60 + 59)
        at = 23 * 3600 + 59 * 60 + 59;
    date = SYSTEMTIME{};
    date.wMonth = static_cast<WORD>(v[0]);
    date.wDay = static_cast<WORD>(v[1]);
    date.wDayOfWeek = static_cast<WORD>(v[2]);
    date.wHour = static_cast<WORD>(at / 3600);
    date.wMinute = static_cast<WORD>(at / 60 % 60);
    date.wSecond = static_cast<WORD>(at % 60);
    return true;
}

std::string ReadFooter(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 5 || data.compare(0, 4, "TZif") != 0 || data.back() != '\n')
        return {};
    const size_t start = data.rfind('\n', data.size() - 2);
    if (start == std::string::npos)
        return {};
    return data.substr(start + 1, data.size() - start - 2);
}

}  // namespace

bool ParsePosixTimeZone(const std::string& rule, TIME_ZONE_INFORMATION* info)
{
    TIME_ZONE_INFORMATION tz;
    size_t i = 0;
    long stdOffset = 0;
    if (!ParseName(rule, i, tz.StandardName) || !ParseOffset(rule, i, stdOffset))
        return false;
    tz.Bias = static_cast<LONG>(stdOffset / 60);
    if (i < rule.size()) {
        if (!ParseName(rule, i, tz.DaylightName))
            return false;
        long dstOffset = stdOffset - 3600;
        if (i < rule.size() && rule[i] != ',' && !ParseOffset(rule, i, dstOffset))
            return false;
        tz.DaylightBias = static_cast<LONG>((dstOffset - stdOffset) / 60);
        SYSTEMTIME start, end;
        if (i < rule.size() && rule[i] == ',') {
            ++i;
            if (!ParseRule(rule, i, start) || i >= rule.size() || rule[i] != ',')
                return false;
            ++i;
            if (!ParseRule(rule, i, end))
                return false;
        } else {
            // No rule given: the POSIX default of the US rules.
            start = SYSTEMTIME{0, 3, 0, 2, 2, 0, 0, 0};
            end = SYSTEMTIME{0, 11, 0, 1, 2, 0, 0, 0};
        }
        tz.DaylightDate = start;
        tz.StandardDate = end;
    }
    *info = tz;
    return true;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info)
{
    std::string rule;
    const char* env = std::getenv("TZ");
    if (env && *env) {
        std::string name = env[0] == ':' ? env + 1 : env;
        const std::string dir = "/usr/share/zoneinfo/";
        rule = ReadFooter(name[0] == '/' ? name : dir + name);
        if (rule.empty() && !ParsePosixTimeZone(name, info))
            return TIME_ZONE_ID_INVALID;
        if (rule.empty())
            rule = name;
    } else {
        rule = ReadFooter("/etc/localtime");
        if (rule.empty())
            rule = "UTC0";
    }
    if (!ParsePosixTimeZone(rule, info)) {
        *info = TIME_ZONE_INFORMATION{};
        return TIME_ZONE_ID_INVALID;
    }
    if (info->DaylightDate.wMonth == 0)
        return TIME_ZONE_ID_UNKNOWN;
    const time_t now = std::time(nullptr);
    struct tm tm {};
    ::localtime_r(&now, &tm);
    return tm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

// ---- trash ------------------------------------------------------------------------

namespace {

std::string DataHome()
{
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
        return x;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "/") + "/.local/share";
}

// The folder and any missing parents. The whole path is tried first: the
// trash's folders exist after the first deletion, and a deletion of
// thousands of files then costs one call per folder, not one per level.
bool MakeDirs(const std::string& path, mode_t mode)
{
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty() || ::mkdir(dir.c_str(), mode) == 0 || errno == EEXIST)
        return true;
    if (errno != ENOENT)
        return false;
    const size_t slash = dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0 || !MakeDirs(dir.substr(0, slash), mode))
        return false;
    return ::mkdir(dir.c_str(), mode) == 0 || errno == EEXIST;
}

std::string PercentEncode(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string HomeTrashDir() { return DataHome() + "/Trash/"; }

BOOL MoveToTrash(const std::string& fileName)
{
    // The folder is resolved, the name is not: a symbolic link goes to the
    // trash itself, never the file it points at.
    std::string name = fileName;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    const size_t slash = name.find_last_of('/');
    const std::string folder = RealPathOf(slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash));
    name = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::string real = folder.empty() || name.empty() || name == "." || name == ".."
        ? std::string()
        : (folder == "/" ? "/" : folder + "/") + name;
    struct stat st {};
    if (real.empty() || ::lstat(real.c_str(), &st) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string trash = HomeTrashDir();
    MakeDirs(trash, 0700);
    struct stat tst {};
    if (::stat(trash.c_str(), &tst) != 0 || tst.st_dev != st.st_dev) {
        // The file lives on another file system: its own top-level trash.
        std::string top = GetMountPointOf(real);
        if (top.empty())
            return FALSE;
        trash = top + ".Trash-" + std::to_string(::getuid()) + "/";
    }
    if (!MakeDirs(trash + "files", 0700) || !MakeDirs(trash + "info", 0700)) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    const std::string base = name;
    // Reserve a unique name by creating its .trashinfo file exclusively.
    int fd = -1;
    for (int n = 1; n < 10000; ++n) {
        fd = ::open((trash + "info/" + name + ".trashinfo").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            break;
        if (errno != EEXIST) {
            SetLastErrorFromErrno();
            return FALSE;
        }
        name = base + "." + std::to_string(n);
    }
    if (fd < 0) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    const time_t now = std::time(nullptr);
    struct tm tm {};
    ::localtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    const std::string info = "[Trash Info]\nPath=" + PercentEncode(real) + "\nDeletionDate=" + when + "\n";
    const bool written = ::write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size());
    ::close(fd);
    const std::string infoFile = trash + "info/" + name + ".trashinfo";
    if (!written || !MoveFileA(real, trash + "files/" + name)) {
        const DWORD err = written ? GetLastError() : ERROR_DISK_FULL;
        ::unlink(infoFile.c_str());
        SetLastError(err);
        return FALSE;
    }
    return TRUE;
}

std::uint64_t PhysicalMemorySize()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t{1} << 32;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}
