// Kernel services in the shape the system's code calls them: files with
// share modes and 64-bit positions, file times, attributes, find-first/next,
// temporary paths, drives and volumes, time-zone information, tick counts and
// the desktop's trash. Everything is implemented over POSIX; failures set the
// last error (GetLastError) through the one errno mapping of win/wintypes.h.
#pragma once

#include "rtl/clock.h"
#include "win/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// ---- files ------------------------------------------------------------------

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_VOLUME = 0x08;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_ENCRYPTED = 0x4000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

// Opens or creates a file. Share modes are honoured between every opener that
// goes through this function (in this process and in others) with advisory
// open-file-description locks: an opener that denies writing fails while the
// file is open for writing, and the other way round (error 32). Flags are
// accepted for their attribute bits only. INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileA(const std::string& fileName, DWORD access, DWORD shareMode, DWORD creation, DWORD flags);
BOOL CloseHandle(HANDLE handle);
BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* done);
BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* done);
// Moves the file pointer; newPosition may be null.
BOOL SetFilePointerEx(HANDLE handle, std::int64_t distance, std::int64_t* newPosition, DWORD method);
BOOL GetFileSizeEx(HANDLE handle, std::int64_t* size);
// Copies up to count bytes from the current position of one file to the
// current position of another inside the kernel where the file systems
// allow it (read and write otherwise); both positions advance.
BOOL CopyFileRange(HANDLE from, HANDLE to, DWORD count, DWORD* done);
// Ends the file at the current position (grows or shrinks it).
BOOL SetEndOfFile(HANDLE handle);

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};
struct SYSTEMTIME {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDayOfWeek = 0;
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
};

BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL SetFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* st);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* time);
// DOS date (bits 9-15 year-1980, 5-8 month, 0-4 day) and time (11-15 hour,
// 5-10 minute, 0-4 seconds/2). Years outside 1980..2107 fail.
BOOL FileTimeToDosDateTime(const FILETIME* time, WORD* dosDate, WORD* dosTime);
FILETIME FileTimeFromUnix(std::int64_t seconds);
std::int64_t UnixFromFileTime(const FILETIME& time);
void GetLocalTime(SYSTEMTIME* st);

// Attributes: directory, read-only (no write permission for the owner),
// hidden (a name that begins with '.'), normal for anything else.
DWORD GetFileAttributesA(const std::string& fileName);
// Only the read-only bit has an effect: it removes or restores write permission.
BOOL SetFileAttributesA(const std::string& fileName, DWORD attributes);
// Fills the buffer from the operating system's random source (getrandom,
// waiting for the pool to be ready once at boot); FALSE only when the
// source fails.
BOOL SystemRandomBytes(void* buffer, std::size_t length);
// Gives an open file the permission bits of a Unix mode as an archive
// stored it: read, write and execute of owner, group and others only (never
// set-user-id, set-group-id or sticky), and none that the process's umask
// takes away.
BOOL SetFilePermissionBits(HANDLE handle, DWORD mode);
// Gives a folder (never a link to one) a modification time, when lastWrite
// is given, and the permission bits of mode as above, when mode is not -1.
BOOL SetFolderStamp(const std::string& path, const FILETIME* lastWrite, std::int32_t mode);
BOOL DeleteFileA(const std::string& fileName);
// Never replaces an existing target.
BOOL MoveFileA(const std::string& from, const std::string& to);
// Renames replacement over replaced in one step (replacing it when it
// exists); both must be on the same file system.
BOOL ReplaceFileA(const std::string& replacement, const std::string& replaced);
BOOL CreateDirectoryA(const std::string& path);
// Removes an empty folder; a folder that holds anything stays.
BOOL RemoveDirectoryA(const std::string& path);

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes = 0;
    std::int64_t nFileSize = 0;
    FILETIME ftLastWriteTime;
    std::string cFileName;
};
// Searches a folder for names matching the last path component of pattern,
// with '*' and '?' as wildcards (without regard to ASCII case). "." and ".."
// are reported for every folder, as the system did.
HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

std::string GetCurrentDirectoryA();  // with its trailing '/'
BOOL SetCurrentDirectoryA(const std::string& path);

// The temporary folder ($TMPDIR or /tmp) with its trailing '/'.
std::string GetTempPathA();
// Creates a new empty file "<prefix>XXXXXX.tmp" in dir; empty on failure.
std::string GetTempFileNameA(const std::string& dir, const std::string& prefix);

// ---- drives and volumes -------------------------------------------------------
// A "drive" is the mount point that holds a path.

constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// The mount point that holds path (with its trailing '/'), or "" when path
// does not exist.
std::string GetMountPointOf(const std::string& path);
UINT GetDriveTypeA(const std::string& path);
// The file system's label (read from /dev/disk/by-label where the device has
// one, else empty), a serial number from the file-system id, the maximum name
// length, flags (bit 0x80000 read-only volume) and the file-system type.
BOOL GetVolumeInformationA(const std::string& path, std::string* label, DWORD* serial, DWORD* maxComponentLength,
                           DWORD* fileSystemFlags, std::string* fileSystemName);
BOOL GetDiskFreeSpaceExA(const std::string& path, std::int64_t* freeBytes, std::int64_t* totalBytes);
constexpr DWORD FILE_READ_ONLY_VOLUME = 0x00080000;

// ---- time zone ------------------------------------------------------------------

struct TIME_ZONE_INFORMATION {
    LONG Bias = 0;  // minutes: UTC = local time + Bias
    std::string StandardName;
    SYSTEMTIME StandardDate;  // wYear 0: yearly rule, wDay 1-5 = n-th (5 = last) wDayOfWeek of wMonth
    LONG StandardBias = 0;
    std::string DaylightName;
    SYSTEMTIME DaylightDate;  // wMonth 0: no daylight saving time
    LONG DaylightBias = 0;
};
constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFFu;

// The rules of the zone named by $TZ (a zone name, a path or a POSIX rule
// string) or of /etc/localtime, from the rule string at the end of the
// zone's tzdata file.
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info);
// Parses a POSIX TZ rule string such as "CET-1CEST,M3.5.0,M10.5.0/3".
bool ParsePosixTimeZone(const std::string& rule, TIME_ZONE_INFORMATION* info);

// ---- memory ------------------------------------------------------------------

// The machine's physical memory in bytes (what one block can at most be).
std::uint64_t PhysicalMemorySize();

// ---- ticks ---------------------------------------------------------------------

// GetTickCount runs on the program's one clock (rtl/clock.h), which tests
// replace with a manual clock.

// ---- trash ---------------------------------------------------------------------

// Moves a file or folder to the freedesktop trash of its file system (the
// home trash when it lives on the same file system as $XDG_DATA_HOME, else
// "<mount point>/.Trash-<uid>"), writing its .trashinfo record. Never copies.
BOOL MoveToTrash(const std::string& fileName);
// The home trash folder ("$XDG_DATA_HOME/Trash/", with its trailing '/').
std::string HomeTrashDir();
