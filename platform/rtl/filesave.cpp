#include "filesave.h"

#include "win/sharelocks.h"
#include "win/wintypes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void CannotCreate(const std::string& name, DWORD code)
{
    throw EFCreateError("Cannot create file \"" + name + "\". " + SysErrorMessage(code) + ".");
}

DWORD ErrnoCode(int err)
{
    errno = err;
    return SetLastErrorFromErrno();
}

bool WriteAllAt(int fd, const void* data, std::int64_t size, std::int64_t pos)
{
    const auto* p = static_cast<const char*>(data);
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, p + done, static_cast<size_t>(std::min<std::int64_t>(size - done, 1 << 30)),
                                   static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// A name beside path that no file has: the name hidden with a dot and a
// random tail, cut so that it stays a legal name.
std::string TempNameBeside(const std::string& path, std::mt19937_64& random)
{
    std::string name = ExtractFileName(path).substr(0, 200);
    return ExtractFilePath(path) + "." + name + Format(".~%08X", static_cast<unsigned>(random()));
}

// The new content on its way: the temporary file, or only a count where
// there is none.
class WriteStream : public TStream {
public:
    explicit WriteStream(int fd) : m_fd(fd) {}
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override
    {
        if (count <= 0)
            return 0;
        if (m_fd >= 0 && !WriteAllAt(m_fd, buffer, count, m_position)) {
            SetLastErrorFromErrno();
            return 0;
        }
        m_position += count;
        m_size = std::max(m_size, m_position);
        return count;
    }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override
    {
        const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? m_position : m_size;
        if (base + offset >= 0)
            m_position = base + offset;
        return m_position;
    }
    std::int64_t Size() override { return m_size; }
    void SetSize(std::int64_t newSize) override
    {
        if (newSize < 0 || (m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(newSize)) != 0))
            throw EStreamError("Stream size error");
        m_size = newSize;
        m_position = std::min(m_position, m_size);
    }

private:
    int m_fd;
    std::int64_t m_position = 0;
    std::int64_t m_size = 0;
};

}  // namespace

class TFileSave::Impl {
public:
    ~Impl()
    {
        if (tempFd >= 0)
            ::close(tempFd);
        if (!tempName.empty())
            ::unlink(tempName.c_str());
        if (targetFd >= 0)
            ::close(targetFd);
    }
    std::string name;  // as the caller spelled it, for messages
    int targetFd = -1;
    struct stat target {};
    int tempFd = -1;
    std::string tempName;
    std::unique_ptr<WriteStream> stream;
};

TFileSave::TFileSave(const std::string& fileName) : m_impl(std::make_unique<Impl>()), m_target(CanonicalFileName(fileName))
{
    Impl& s = *m_impl;
    s.name = fileName;
    struct stat st {};
    if (::stat(m_target.c_str(), &st) == 0) {
        // Only a regular file is saved over: a pipe or a device would take
        // the bytes somewhere else, and a folder none at all.
        if (!S_ISREG(st.st_mode))
            CannotCreate(fileName, ERROR_ACCESS_DENIED);
        bool readable = true;
        s.targetFd = ::open(m_target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (s.targetFd < 0 && errno == EACCES) {
            // A file the user may write but not read is still written.
            readable = false;
            s.targetFd = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        }
        if (s.targetFd < 0)
            CannotCreate(fileName, SetLastErrorFromErrno());
        if (::fstat(s.targetFd, &s.target) != 0 || !S_ISREG(s.target.st_mode))
            CannotCreate(fileName, ERROR_ACCESS_DENIED);
        ::fcntl(s.targetFd, F_SETFL, ::fcntl(s.targetFd, F_GETFL) & ~O_NONBLOCK);
        // As a Windows program creating the file with no sharing: refused
        // while another opener of the program holds it.
        // (The locks need a descriptor open for reading.)
        if (readable && !AcquireShareLocks(s.targetFd, TShareRequest{true, true, false, false}))
            CannotCreate(fileName, GetLastError());
        m_exists = true;
    } else if (errno != ENOENT) {
        CannotCreate(fileName, SetLastErrorFromErrno());
    }

    // Unnamed until the commit, so that a save that never ends (the program
    // killed meanwhile) leaves no file behind; a named one where the file
    // system makes no unnamed files.
    s.tempFd = CreateUnnamedFile(ExtractFilePath(m_target));
    std::mt19937_64 random(std::random_device{}());
    for (int tries = 0; tries < 100 && s.tempFd < 0; ++tries) {
        s.tempName = TempNameBeside(m_target, random);
        s.tempFd = ::open(s.tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (s.tempFd < 0 && errno != EEXIST)
            break;
    }
    if (s.tempFd < 0) {
        const DWORD error = SetLastErrorFromErrno();
        s.tempName.clear();
        // A file the user may write in a folder that takes no new file is
        // written in place; a new name has nowhere to go.
        if (!m_exists)
            CannotCreate(fileName, error);
    }

    if (!m_exists) {
        m_rename = true;
    } else if (s.tempFd >= 0) {
        m_rename = RenameKeepsIdentity(s.target, s.targetFd, s.tempFd);
    }
    s.stream = std::make_unique<WriteStream>(s.tempFd);
}

TFileSave::~TFileSave() = default;

TStream& TFileSave::Stream() { return *m_impl->stream; }

void TFileSave::Commit(const void* content, std::int64_t size)
{
    Impl& s = *m_impl;
    if (s.stream->Size() != size || size < 0)
        CannotCreate(s.name, ERROR_INVALID_PARAMETER);
    // The new bytes are on the disk before any old byte goes.
    if (s.tempFd >= 0 && ::fsync(s.tempFd) != 0)
        CannotCreate(s.name, SetLastErrorFromErrno());

    if (m_rename) {
        if (s.tempName.empty() && !NameUnnamedFile(s.tempFd, ExtractFilePath(m_target), s.tempName))
            CannotCreate(s.name, SetLastErrorFromErrno());
        ::close(s.tempFd);
        s.tempFd = -1;
        const int moved = m_exists ? ::rename(s.tempName.c_str(), m_target.c_str())
                                   : ::renameat2(AT_FDCWD, s.tempName.c_str(), AT_FDCWD, m_target.c_str(),
                                                 RENAME_NOREPLACE);
        if (moved != 0)
            CannotCreate(s.name, SetLastErrorFromErrno());
        s.tempName.clear();
        // The new name itself is made lasting with the folder.
        const int dir = ::open(ExtractFilePath(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return;
    }

    // Into the existing file. Room for a longer content is taken first: a
    // full disk then leaves the old content as it was.
    const int fd = s.targetFd;
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        CannotCreate(s.name, SetLastErrorFromErrno());
    const std::int64_t oldSize = now.st_size;
    if (size > oldSize) {
        const int r = ::posix_fallocate(fd, static_cast<off_t>(oldSize), static_cast<off_t>(size - oldSize));
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL) {
            (void)::ftruncate(fd, static_cast<off_t>(oldSize));
            CannotCreate(s.name, ErrnoCode(r));
        }
    }
    if (!WriteAllAt(fd, content, size, 0))
        CannotCreate(s.name, SetLastErrorFromErrno());
    if (size < oldSize && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        CannotCreate(s.name, SetLastErrorFromErrno());
    if (::fsync(fd) != 0)
        CannotCreate(s.name, SetLastErrorFromErrno());
}

namespace {

// A new file dest holding the content of in with its permission bits.
bool CopyHandleToNewFile(int in, const std::string& dest)
{
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    const int out = ::open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    bool ok = true;
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    for (std::int64_t pos = 0;;) {
        const std::int64_t n = FileReadAt(in, pos, buffer.get(), 1 << 20);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!WriteAllAt(out, buffer.get(), n, pos)) {
            SetLastErrorFromErrno();
            ok = false;
            break;
        }
        pos += n;
    }
    if (ok && ::fchmod(out, st.st_mode & 0777) != 0) {
        SetLastErrorFromErrno();
        ok = false;
    }
    ::close(out);
    if (!ok) {
        const DWORD error = GetLastError();
        ::unlink(dest.c_str());
        SetLastError(error);
    }
    return ok;
}

}  // namespace

bool TFileSave::CopyTargetTo(const std::string& dest) const
{
    if (m_impl->targetFd < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return CopyHandleToNewFile(m_impl->targetFd, dest);
}

bool CopyToNewFile(const std::string& source, const std::string& dest)
{
    const int in = FileOpen(source, fmOpenRead | fmShareDenyNone);
    if (in < 0)
        return false;
    const bool ok = CopyHandleToNewFile(in, dest);
    const DWORD error = GetLastError();
    ::close(in);
    SetLastError(error);
    return ok;
}

int FileCreatePrivate(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return -1;
    }
    if (!AcquireShareLocks(fd, TShareRequest{true, true, false, false})) {
        const DWORD error = GetLastError();
        ::close(fd);
        ::unlink(fileName.c_str());
        SetLastError(error);
        return -1;
    }
    return fd;
}

bool RenameReplacing(const std::string& source, const std::string& dest)
{
    if (::rename(source.c_str(), dest.c_str()) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}
