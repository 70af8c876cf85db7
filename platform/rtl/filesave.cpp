#include "filesave.h"

#include "win/sharelocks.h"
#include "win/wintypes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_namedTemporaryFiles {false};

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

// A new file without a name in a folder ("" for the working folder), open
// for reading and writing (O_TMPFILE): a program killed while it writes the
// file leaves nothing behind. -1 with errno set where the folder takes no new
// file or its file system makes no unnamed files.
int CreateUnnamedFile(const std::string& folder)
{
    return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

// Hidden names ".vistrel-..." in folder, one after another, that make (the
// answer of make is true) a new entry; false with errno set when make fails
// otherwise than by finding the name taken.
template <typename Make>
bool MakeHiddenName(const std::string& folder, std::string& name, Make make)
{
    static std::atomic<unsigned> counter {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate
            = folder + Format(".vistrel-%d-%u-%d", static_cast<int>(::getpid()), counter.fetch_add(1), attempt);
        if (make(candidate)) {
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Gives a file made by CreateUnnamedFile a hidden name in its folder, just
// before it is renamed into place; false with errno set.
bool NameUnnamedFile(int handle, const std::string& folder, std::string& name)
{
    // A link from the descriptor's entry in /proc needs no privilege, unlike
    // linkat with AT_EMPTY_PATH.
    const std::string self = "/proc/self/fd/" + std::to_string(handle);
    return MakeHiddenName(folder, name, [&](const std::string& candidate) {
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
}

// Whether renaming a new file over an existing one (st, open as handle)
// keeps all that the old file was: one name, the user's own, no set-id or
// sticky bits, no extended attributes (access lists, labels). newHandle, the
// new file, takes the old one's group and permission bits; false when it
// cannot.
bool RenameKeepsIdentity(const struct stat& st, int handle, int newHandle)
{
    if (st.st_nlink != 1 || st.st_uid != ::geteuid() || (st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) != 0
        || ::flistxattr(handle, nullptr, 0) > 0)
        return false;
    struct stat n {};
    if (::fstat(newHandle, &n) == 0 && n.st_gid != st.st_gid)
        (void)::fchown(newHandle, static_cast<uid_t>(-1), st.st_gid);
    (void)::fchmod(newHandle, st.st_mode & 07777);
    return ::fstat(newHandle, &n) == 0 && n.st_uid == st.st_uid && n.st_gid == st.st_gid
        && (n.st_mode & 07777) == (st.st_mode & 07777) && ::flistxattr(newHandle, nullptr, 0) <= 0;
}

// Copies in's content from its start into out from its start: size bytes,
// or up to in's end when size is negative; false with errno set.
bool CopyContent(int in, int out, std::int64_t size)
{
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    for (std::int64_t pos = 0; size < 0 || pos < size;) {
        const std::int64_t want = size < 0 ? 1 << 20 : std::min<std::int64_t>(size - pos, 1 << 20);
        const ssize_t n = ::pread(in, buffer.get(), static_cast<size_t>(want), static_cast<off_t>(pos));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            if (size < 0)
                return true;
            errno = EIO;  // the temporary file is shorter than what was written
            return false;
        }
        if (!WriteAllAt(out, buffer.get(), n, pos))
            return false;
        pos += n;
    }
    return true;
}

// The new content on its way: the temporary file, or only a count where
// there is none.
class WriteStream : public TStream {
public:
    explicit WriteStream(int fd) : m_fd(fd) {}
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override
    {
        // After a failed write nothing more is taken: the content would
        // miss a piece.
        if (m_error != 0) {
            SetLastError(m_error);
            return 0;
        }
        if (count <= 0)
            return 0;
        if (m_fd >= 0 && !WriteAllAt(m_fd, buffer, count, m_position)) {
            m_error = SetLastErrorFromErrno();
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
    // The error of a failed write, 0 while none failed.
    DWORD Error() const { return m_error; }
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
    DWORD m_error = 0;
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
    DWORD tempError = 0;  // why there is no temporary file
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
    const std::string folder = ExtractFilePath(m_target);
    s.tempFd = g_namedTemporaryFiles ? -1 : CreateUnnamedFile(folder);
    if (s.tempFd < 0) {
        MakeHiddenName(folder, s.tempName, [&](const std::string& candidate) {
            s.tempFd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return s.tempFd >= 0;
        });
    }
    if (s.tempFd < 0) {
        const DWORD error = SetLastErrorFromErrno();
        s.tempError = error;
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

void TFileSave::Commit()
{
    if (m_impl->tempFd < 0)
        CannotCreate(m_impl->name, m_impl->tempError ? m_impl->tempError : ERROR_INVALID_HANDLE);
    Commit(nullptr, m_impl->stream->Size());
}

// content null: the bytes are taken from the temporary file.
void TFileSave::Commit(const void* content, std::int64_t size)
{
    Impl& s = *m_impl;
    if (s.stream->Error() != 0)
        CannotCreate(s.name, s.stream->Error());
    if (s.stream->Size() != size || size < 0 || (!content && size > 0 && s.tempFd < 0))
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
    if (content ? !WriteAllAt(fd, content, size, 0) : !CopyContent(s.tempFd, fd, size))
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
    bool ok = CopyContent(in, out, -1);
    if (!ok)
        SetLastErrorFromErrno();
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

void TAtomicFileWriter::Write(std::string_view data)
{
    const auto size = static_cast<std::int64_t>(data.size());
    if (Stream().Write(data.data(), size) != size)
        CannotCreate(m_impl->name, GetLastError());
}

void SetNamedTemporaryFiles(bool named) { g_namedTemporaryFiles = named; }

void WriteFileAtomically(const std::string& fileName, std::string_view data)
{
    TAtomicFileWriter out(fileName);
    out.Write(data);
    // Committed from the data themselves, so that a file the user may write
    // in a folder that takes no new file is written in place.
    out.Commit(data.data(), static_cast<std::int64_t>(data.size()));
}
