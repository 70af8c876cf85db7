#include "fileops.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

bool Fail(int err)
{
    SetLastError(Win32ErrorFromErrno(err));
    return false;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string DataHome()
{
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
        return x;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.local/share";
}

bool MakeDirs(const std::string& path)
{
    std::string cur;
    for (size_t i = 0; i <= path.size(); ++i) {
        if ((i == path.size() || path[i] == '/') && !cur.empty())
            if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        if (i < path.size())
            cur += path[i];
    }
    return true;
}

// The highest folder above path on the same file system.
std::string TopOfFileSystem(const std::string& path, dev_t device)
{
    std::string top = path;
    for (;;) {
        const size_t slash = top.find_last_of('/');
        if (slash == std::string::npos || top == "/")
            return top;
        const std::string parent = slash == 0 ? std::string("/") : top.substr(0, slash);
        struct stat st {};
        if (::stat(parent.c_str(), &st) != 0 || st.st_dev != device)
            return top;
        top = parent;
    }
}

std::string PercentEncode(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-'
            || c == '_' || c == '.' || c == '~')
            out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

bool CopyFileNoReplace(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return Fail(errno);
    struct stat st {};
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(in);
        return Fail(err);
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return Fail(err);
    }
    std::vector<char> buffer(1 << 17);
    int err = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        if (got == 0)
            break;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(got))) {
            err = errno;
            break;
        }
    }
    if (err == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    ::close(in);
    if (::close(out) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        // A partial copy is never left behind under the target's name.
        ::unlink(to.c_str());
        return Fail(err);
    }
    return true;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to)
{
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1 /* RENAME_NOREPLACE */) == 0)
        return true;
    if (errno != EXDEV)
        return Fail(errno);
    if (!CopyFileNoReplace(from, to))
        return false;
    if (::unlink(from.c_str()) != 0) {
        const int err = errno;
        ::unlink(to.c_str());
        return Fail(err);
    }
    return true;
}

bool MoveFileToTrash(const std::string& fileName)
{
    char resolved[PATH_MAX];
    // The file's own name stays (a final link is trashed, not its target).
    const size_t slash = fileName.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : fileName.substr(0, slash));
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    if (base.empty() || !::realpath(dir.c_str(), resolved))
        return Fail(errno ? errno : ENOENT);
    const std::string real = std::string(resolved) + (std::string(resolved) == "/" ? "" : "/") + base;
    struct stat st {};
    if (::lstat(real.c_str(), &st) != 0)
        return Fail(errno);

    std::string trash = DataHome() + "/Trash/";
    MakeDirs(trash);
    struct stat tst {};
    if (::stat(trash.c_str(), &tst) != 0 || tst.st_dev != st.st_dev) {
        std::string top = TopOfFileSystem(std::string(resolved), st.st_dev);
        if (top.empty() || top.back() != '/')
            top += '/';
        trash = top + ".Trash-" + std::to_string(::getuid()) + "/";
    }
    if (!MakeDirs(trash + "files") || !MakeDirs(trash + "info"))
        return Fail(errno);

    // Reserve a unique name by creating its record exclusively.
    std::string name = base;
    int fd = -1;
    for (int n = 1; n < 10000 && fd < 0; ++n) {
        fd = ::open((trash + "info/" + name + ".trashinfo").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno != EEXIST)
                return Fail(errno);
            name = base + "." + std::to_string(n);
        }
    }
    if (fd < 0)
        return Fail(EEXIST);
    const std::time_t now = std::time(nullptr);
    struct tm tm {};
    ::localtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    const std::string info = "[Trash Info]\nPath=" + PercentEncode(real) + "\nDeletionDate=" + when + "\n";
    const bool written = WriteAll(fd, info.data(), info.size());
    ::close(fd);
    const std::string record = trash + "info/" + name + ".trashinfo";
    if (!written) {
        const int err = errno;
        ::unlink(record.c_str());
        return Fail(err);
    }
    if (::syscall(SYS_renameat2, AT_FDCWD, real.c_str(), AT_FDCWD, (trash + "files/" + name).c_str(), 1) != 0) {
        const int err = errno;
        ::unlink(record.c_str());
        return Fail(err);
    }
    return true;
}

bool FileSizeAndTime(const std::string& fileName, std::int64_t& size, std::time_t& modified)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return Fail(errno);
    size = st.st_size;
    modified = st.st_mtime;
    return true;
}
