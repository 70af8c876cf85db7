#include "fileops.h"

#include <cerrno>
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

// The error of a path that is no regular file.
DWORD NotRegularError(mode_t mode) { return S_ISDIR(mode) ? ERROR_ACCESS_DENIED : ERROR_OPEN_FAILED; }

} // namespace

int OpenRegularFile(const std::string& fileName)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) {
        SetLastErrorFromErrno();
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(NotRegularError(st.st_mode));
        return -1;
    }
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        SetLastError(Win32ErrorFromErrno(err));
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(NotRegularError(st.st_mode));
        return -1;
    }
    // Reads of a regular file never wait anyway; the flag goes so that the
    // descriptor behaves as any other.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::FILE* OpenRegularFileStream(const std::string& fileName)
{
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        SetLastErrorFromErrno();
        ::close(fd);
    }
    return f;
}

bool CopyFileNoReplace(const std::string& from, const std::string& to)
{
    // Only a regular file is copied: a pipe or a device has no end to copy.
    const int in = OpenRegularFile(from);
    if (in < 0)
        return false;
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int err = errno;
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

bool FileSizeAndTime(const std::string& fileName, std::int64_t& size, std::time_t& modified)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return Fail(errno);
    size = st.st_size;
    modified = st.st_mtime;
    return true;
}

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev
        && sa.st_ino == sb.st_ino;
}
