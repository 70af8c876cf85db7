// Files over POSIX descriptors. A HANDLE is the descriptor itself.
//
// Share modes are kept with the locks of win/sharelocks.h.

#include "kernel.h"

#include "rtl/findfile.h"
#include "win/fileops.h"
#include "win/sharelocks.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

int FdOf(HANDLE h) { return static_cast<int>(reinterpret_cast<std::intptr_t>(h)); }
HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd)); }

constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;

std::int64_t ToInt64(const FILETIME& t)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}
FILETIME FromInt64(std::int64_t v)
{
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(v) & 0xFFFFFFFFu);
    t.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(v) >> 32);
    return t;
}
FILETIME FromTimespec(const struct timespec& ts)
{
    return FromInt64(kUnixEpochAsFileTime + static_cast<std::int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100);
}

bool Fail()
{
    SetLastErrorFromErrno();
    return false;
}

}  // namespace

HANDLE CreateFileA(const std::string& fileName, DWORD access, DWORD shareMode, DWORD creation, DWORD /*flags*/)
{
    int oflags = O_CLOEXEC;
    const bool r = access & GENERIC_READ;
    const bool w = access & GENERIC_WRITE;
    if (r && w)
        oflags |= O_RDWR;
    else if (w)
        oflags |= O_WRONLY;
    else
        oflags |= O_RDONLY;
    bool truncate = false;
    switch (creation) {
    case CREATE_NEW: oflags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: oflags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncate = true; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    if (fileName.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // The share locks are read locks, which need a descriptor open for
    // reading: a write-only open reads too where the permissions allow it.
    int fd = -1;
    if (!w && creation == OPEN_EXISTING) {
        // Reading an existing file takes only a regular file and never waits
        // on a pipe: every archive is read through here.
        fd = OpenRegularFile(fileName);
        if (fd < 0)
            return INVALID_HANDLE_VALUE;
    } else {
        if (w && !r) {
            fd = ::open(fileName.c_str(), (oflags & ~O_WRONLY) | O_RDWR, 0666);
            if (fd < 0 && errno != EACCES)
                fd = -2;
        }
        if (fd == -1)
            fd = ::open(fileName.c_str(), oflags, 0666);
        if (fd < 0) {
            SetLastErrorFromErrno();
            return INVALID_HANDLE_VALUE;
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // The share test comes before truncation so that a refused open never
    // damages the file another opener protects.
    const TShareRequest request {(access & GENERIC_READ) != 0, (access & GENERIC_WRITE) != 0,
        (shareMode & FILE_SHARE_READ) != 0, (shareMode & FILE_SHARE_WRITE) != 0};
    if (!AcquireShareLocks(fd, request)) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    // An empty file is not truncated again: on ext4 a truncation to zero
    // makes the close wait for the new data to reach the disk.
    if (truncate && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
        SetLastErrorFromErrno();
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return HandleOf(fd);
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ::close(FdOf(handle)) == 0 ? TRUE : Fail();
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* done)
{
    if (done)
        *done = 0;
    DWORD total = 0;
    auto* p = static_cast<char*>(buffer);
    while (total < count) {
        const ssize_t n = ::read(FdOf(handle), p + total, count - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done)
                *done = total;
            return Fail();
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (done)
        *done = total;
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* done)
{
    if (done)
        *done = 0;
    DWORD total = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (total < count) {
        const ssize_t n = ::write(FdOf(handle), p + total, count - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done)
                *done = total;
            return Fail();
        }
        total += static_cast<DWORD>(n);
    }
    if (done)
        *done = total;
    return TRUE;
}

BOOL CopyFileRange(HANDLE from, HANDLE to, DWORD count, DWORD* done)
{
    DWORD total = 0;
    bool kernelCopy = true;
    std::vector<char> buf;
    while (total < count) {
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(FdOf(from), nullptr, FdOf(to), nullptr, count - total, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)) {
                kernelCopy = false;
                continue;
            }
        } else {
            if (buf.empty())
                buf.resize(std::min<DWORD>(count, 1u << 17));
            const ssize_t r = ::read(FdOf(from), buf.data(), std::min<size_t>(buf.size(), count - total));
            if (r > 0) {
                DWORD put = 0;
                if (!WriteFile(to, buf.data(), static_cast<DWORD>(r), &put)) {
                    if (done)
                        *done = total + put;
                    return FALSE;
                }
            }
            n = r;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done)
                *done = total;
            return Fail();
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (done)
        *done = total;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE handle, std::int64_t distance, std::int64_t* newPosition, DWORD method)
{
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    if (method > FILE_END) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const off_t pos = ::lseek(FdOf(handle), static_cast<off_t>(distance), whence);
    if (pos < 0)
        return Fail();
    if (newPosition)
        *newPosition = pos;
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, std::int64_t* size)
{
    struct stat st {};
    if (::fstat(FdOf(handle), &st) != 0)
        return Fail();
    *size = st.st_size;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE handle)
{
    const off_t pos = ::lseek(FdOf(handle), 0, SEEK_CUR);
    if (pos < 0 || ::ftruncate(FdOf(handle), pos) != 0)
        return Fail();
    return TRUE;
}

BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
{
    struct stat st {};
    if (::fstat(FdOf(handle), &st) != 0)
        return Fail();
    // Linux keeps no creation time in struct stat; the status-change time is
    // the closest that every file system has.
    if (creation)
        *creation = FromTimespec(st.st_ctim);
    if (lastAccess)
        *lastAccess = FromTimespec(st.st_atim);
    if (lastWrite)
        *lastWrite = FromTimespec(st.st_mtim);
    return TRUE;
}

BOOL SetFileTime(HANDLE handle, const FILETIME* /*creation*/, const FILETIME* lastAccess, const FILETIME* lastWrite)
{
    struct timespec ts[2];
    auto fill = [](struct timespec& t, const FILETIME* f) {
        if (!f) {
            t.tv_sec = 0;
            t.tv_nsec = UTIME_OMIT;
            return;
        }
        const std::int64_t v = ToInt64(*f) - kUnixEpochAsFileTime;
        t.tv_sec = static_cast<time_t>(v / 10000000);
        t.tv_nsec = static_cast<long>((v % 10000000) * 100);
        if (t.tv_nsec < 0) {
            t.tv_nsec += 1000000000;
            --t.tv_sec;
        }
    };
    fill(ts[0], lastAccess);
    fill(ts[1], lastWrite);
    return ::futimens(FdOf(handle), ts) == 0 ? TRUE : Fail();
}

FILETIME FileTimeFromUnix(std::int64_t seconds) { return FromInt64(kUnixEpochAsFileTime + seconds * 10000000); }

std::int64_t UnixFromFileTime(const FILETIME& time)
{
    const std::int64_t v = ToInt64(time) - kUnixEpochAsFileTime;
    return v >= 0 ? v / 10000000 : -((-v + 9999999) / 10000000);
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local)
{
    const time_t t = static_cast<time_t>(UnixFromFileTime(*utc));
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *local = FromInt64(ToInt64(*utc) + static_cast<std::int64_t>(tm.tm_gmtoff) * 10000000);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc)
{
    const time_t guess = static_cast<time_t>(UnixFromFileTime(*local));
    struct tm tm {};
    if (!::gmtime_r(&guess, &tm)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    tm.tm_isdst = -1;
    const time_t t = ::mktime(&tm);
    struct tm lt {};
    ::localtime_r(&t, &lt);
    *utc = FromInt64(ToInt64(*local) - static_cast<std::int64_t>(lt.tm_gmtoff) * 10000000);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* st)
{
    const std::int64_t v = ToInt64(*time);
    if (v < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const time_t secs = static_cast<time_t>(UnixFromFileTime(*time));
    struct tm tm {};
    if (!::gmtime_r(&secs, &tm)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    st->wSecond = static_cast<WORD>(tm.tm_sec);
    st->wMilliseconds = static_cast<WORD>(((v % 10000000) + 10000000) % 10000000 / 10000);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* time)
{
    if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 || st->wMinute > 59 ||
        st->wSecond > 59 || st->wYear < 1601) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct tm tm {};
    tm.tm_year = st->wYear - 1900;
    tm.tm_mon = st->wMonth - 1;
    tm.tm_mday = st->wDay;
    tm.tm_hour = st->wHour;
    tm.tm_min = st->wMinute;
    tm.tm_sec = st->wSecond;
    const time_t t = ::timegm(&tm);
    *time = FromInt64(kUnixEpochAsFileTime + static_cast<std::int64_t>(t) * 10000000 +
                      static_cast<std::int64_t>(st->wMilliseconds) * 10000);
    return TRUE;
}

BOOL FileTimeToDosDateTime(const FILETIME* time, WORD* dosDate, WORD* dosTime)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(time, &st))
        return FALSE;
    if (st.wYear < 1980 || st.wYear > 2107) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *dosDate = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    *dosTime = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return TRUE;
}

void GetLocalTime(SYSTEMTIME* st)
{
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    ::localtime_r(&ts.tv_sec, &tm);
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    st->wSecond = static_cast<WORD>(tm.tm_sec);
    st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

namespace {
DWORD AttributesOf(const std::string& name, const struct stat& st)
{
    DWORD attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(st.st_mode & S_IWUSR))
        attr |= FILE_ATTRIBUTE_READONLY;
    const std::string base = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    if (!base.empty() && base[0] == '.' && base != "." && base != "..")
        attr |= FILE_ATTRIBUTE_HIDDEN;
    if (attr == 0)
        attr = FILE_ATTRIBUTE_NORMAL;
    return attr;
}
}  // namespace

DWORD GetFileAttributesA(const std::string& fileName)
{
    struct stat st {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0) {
        SetLastErrorFromErrno();
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string name = fileName;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return AttributesOf(name, st);
}

BOOL SetFileAttributesA(const std::string& fileName, DWORD attributes)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return Fail();
    mode_t mode = st.st_mode & 07777;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return ::chmod(fileName.c_str(), mode) == 0 ? TRUE : Fail();
}

namespace {

// The process's umask, read once without changing it where the kernel
// tells it (/proc/self/status), else by setting and restoring it.
mode_t ProcessUmask()
{
    static const mode_t mask = [] {
        if (FILE* f = std::fopen("/proc/self/status", "r")) {
            char line[256];
            unsigned value = 0;
            bool found = false;
            while (!found && std::fgets(line, sizeof line, f))
                found = std::sscanf(line, "Umask: %o", &value) == 1;
            std::fclose(f);
            if (found)
                return static_cast<mode_t>(value);
        }
        const mode_t old = ::umask(022);
        ::umask(old);
        return old;
    }();
    return mask;
}

}  // namespace

BOOL SystemRandomBytes(void* buffer, std::size_t length)
{
    auto* p = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::getrandom(p, length, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Fail();
        }
        p += got;
        length -= static_cast<std::size_t>(got);
    }
    return TRUE;
}

BOOL SetFilePermissionBits(HANDLE handle, DWORD mode)
{
    const mode_t bits = static_cast<mode_t>(mode) & 0777 & ~ProcessUmask();
    return ::fchmod(FdOf(handle), bits) == 0 ? TRUE : Fail();
}

BOOL SetFolderStamp(const std::string& path, const FILETIME* lastWrite, std::int32_t mode)
{
    // Never through a link: the folder itself or nothing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Fail();
    bool good = true;
    if (lastWrite) {
        struct timespec ts[2];
        ts[0].tv_sec = 0;
        ts[0].tv_nsec = UTIME_OMIT;
        const std::int64_t v = ToInt64(*lastWrite) - kUnixEpochAsFileTime;
        ts[1].tv_sec = static_cast<time_t>(v / 10000000);
        ts[1].tv_nsec = static_cast<long>((v % 10000000) * 100);
        if (ts[1].tv_nsec < 0) {
            ts[1].tv_nsec += 1000000000;
            --ts[1].tv_sec;
        }
        good = ::futimens(fd, ts) == 0;
    }
    if (good && mode >= 0)
        good = ::fchmod(fd, static_cast<mode_t>(mode) & 0777 & ~ProcessUmask()) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return good ? TRUE : Fail();
}

BOOL DeleteFileA(const std::string& fileName)
{
    return ::unlink(fileName.c_str()) == 0 ? TRUE : Fail();
}

BOOL MoveFileA(const std::string& from, const std::string& to)
{
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1 /*RENAME_NOREPLACE*/) == 0)
        return TRUE;
    if (errno != EXDEV)
        return Fail();
    // Across file systems: copy to the target (which must not exist), then
    // remove the source only once the copy is complete.
    const HANDLE in = CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (in == INVALID_HANDLE_VALUE)
        return FALSE;
    const HANDLE out = CreateFileA(to, GENERIC_WRITE, 0, CREATE_NEW, 0);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return FALSE;
    }
    std::vector<char> buf(1 << 17);
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &got)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        DWORD put = 0;
        if (!WriteFile(out, buf.data(), got, &put) || put != got) {
            ok = false;
            break;
        }
    }
    const DWORD err = GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    if (!ok) {
        ::unlink(to.c_str());
        SetLastError(err);
        return FALSE;
    }
    return ::unlink(from.c_str()) == 0 ? TRUE : Fail();
}

BOOL ReplaceFileA(const std::string& replacement, const std::string& replaced)
{
    return ::rename(replacement.c_str(), replaced.c_str()) == 0 ? TRUE : Fail();
}

BOOL CreateDirectoryA(const std::string& path)
{
    return ::mkdir(path.c_str(), 0777) == 0 ? TRUE : Fail();
}

BOOL RemoveDirectoryA(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0 ? TRUE : Fail();
}

// ---- find-first/next -------------------------------------------------------------

namespace {

struct FindState {
    std::string dir;
    std::string mask;
    std::vector<std::string> names;
    size_t next = 0;
};

bool FillFind(FindState& s, WIN32_FIND_DATAA* data)
{
    while (s.next < s.names.size()) {
        const std::string& name = s.names[s.next++];
        struct stat st {};
        const std::string full = s.dir + name;
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        data->cFileName = name;
        data->dwFileAttributes = AttributesOf(name, st);
        data->nFileSize = S_ISDIR(st.st_mode) ? 0 : st.st_size;
        data->ftLastWriteTime = FromTimespec(st.st_mtim);
        return true;
    }
    return false;
}

}  // namespace

HANDLE FindFirstFileA(const std::string& pattern, WIN32_FIND_DATAA* data)
{
    auto* s = new FindState;
    const size_t slash = pattern.find_last_of('/');
    s->dir = slash == std::string::npos ? std::string("./") : pattern.substr(0, slash + 1);
    s->mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    // "*.*" matches every name, also names without a dot, as the system's did.
    const bool all = s->mask == "*.*" || s->mask == "*";
    const bool wild = s->mask.find_first_of("*?") != std::string::npos;
    if (!wild) {
        struct stat st {};
        if (!s->mask.empty() && ::lstat(pattern.c_str(), &st) == 0)
            s->names.push_back(s->mask);
    } else if (DIR* d = ::opendir(s->dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (all || MatchesFileMask(name, s->mask))
                s->names.push_back(name);
        }
        ::closedir(d);
    } else {
        SetLastErrorFromErrno();
        delete s;
        return INVALID_HANDLE_VALUE;
    }
    if (!FillFind(*s, data)) {
        delete s;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(s);
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data)
{
    if (find == INVALID_HANDLE_VALUE || !find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (FillFind(*reinterpret_cast<FindState*>(find), data))
        return TRUE;
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL FindClose(HANDLE find)
{
    if (find == INVALID_HANDLE_VALUE || !find)
        return FALSE;
    delete reinterpret_cast<FindState*>(find);
    return TRUE;
}

std::string GetCurrentDirectoryA()
{
    std::vector<char> buf(4096);
    if (!::getcwd(buf.data(), buf.size())) {
        SetLastErrorFromErrno();
        return {};
    }
    std::string s = buf.data();
    if (s.empty() || s.back() != '/')
        s += '/';
    return s;
}

BOOL SetCurrentDirectoryA(const std::string& path)
{
    return ::chdir(path.c_str()) == 0 ? TRUE : Fail();
}

std::string GetTempPathA()
{
    std::string dir;
    if (const char* t = std::getenv("TMPDIR"); t && *t)
        dir = t;
    else
        dir = "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string GetTempFileNameA(const std::string& dir, const std::string& prefix)
{
    std::string d = dir;
    if (d.empty())
        d = GetTempPathA();
    if (d.back() != '/')
        d += '/';
    std::string pattern = d + prefix + "XXXXXX.tmp";
    const int fd = ::mkstemps(pattern.data(), 4);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return {};
    }
    ::close(fd);
    return pattern;
}
