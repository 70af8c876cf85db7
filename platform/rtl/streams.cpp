#include "streams.h"

#include "win/fileops.h"
#include "win/memadvise.h"
#include "win/sharelocks.h"

#include "win/wintypes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>


// ---------------------------------------------------------------- TStream

std::int64_t TStream::Size()
{
    const std::int64_t pos = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(std::int64_t) { throw EStreamError("Stream does not support changing its size"); }

void TStream::ReadBuffer(void* buffer, std::int64_t count)
{
    if (count < 0 || (count != 0 && Read(buffer, count) != count))
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count)
{
    if (count < 0 || (count != 0 && Write(buffer, count) != count))
        throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr std::int64_t kChunk = 1 << 20;
    std::string buffer(static_cast<size_t>(std::min(count, kChunk)), '\0');
    std::int64_t left = count;
    while (left > 0) {
        const std::int64_t n = std::min(left, kChunk);
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

// ---------------------------------------------------------- file handles

namespace {

// The access of the open mode and the sharing of the share mode, kept with
// the program's share locks.
bool LockForShareMode(int fd, unsigned mode)
{
    const unsigned access = mode & 0x3;
    const unsigned share = mode & 0xF0;
    TShareRequest request;
    request.read = access != fmOpenWrite;
    request.write = access != fmOpenRead;
    request.shareRead = share != fmShareExclusive && share != fmShareDenyRead;
    request.shareWrite = share != fmShareExclusive && share != fmShareDenyWrite;
    return AcquireShareLocks(fd, request);
}

// Keeps a freshly opened descriptor only when it names a file (not a
// folder) and the share locks of the mode can be taken; closes it otherwise.
bool HoldAsFile(int fd, unsigned mode)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        ::close(fd);
        return false;
    }
    if (!LockForShareMode(fd, mode)) {
        ::close(fd);
        return false;
    }
    return true;
}

}  // namespace

int FileOpen(const std::string& fileName, unsigned mode)
{
    const unsigned access = mode & 0x3;
    int fd = -1;
    if (access == fmOpenWrite || access == fmOpenReadWrite) {
        // The share locks are read locks, which need a descriptor open for
        // reading: a write-only open reads too where the permissions allow it.
        fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && access == fmOpenWrite)
            fd = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            SetLastErrorFromErrno();
            return -1;
        }
    } else {
        // Reading takes only a regular file, and never waits on a pipe.
        fd = OpenRegularFile(fileName);
        if (fd < 0)
            return -1;
    }
    if (!HoldAsFile(fd, mode))
        return -1;
    return fd;
}

int FileCreate(const std::string& fileName, unsigned shareMode)
{
    // Open without truncating first so that a file locked by another open
    // is refused before any of its bytes are lost.
    const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return -1;
    }
    if (!HoldAsFile(fd, shareMode))
        return -1;
    if (::ftruncate(fd, 0) != 0) {
        SetLastErrorFromErrno();
        ::close(fd);
        return -1;
    }
    return fd;
}

std::int64_t FileRead(int handle, void* buffer, std::int64_t count)
{
    auto* p = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(handle, p + done, static_cast<size_t>(std::min<std::int64_t>(count - done, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrorFromErrno();
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t FileWrite(int handle, const void* buffer, std::int64_t count)
{
    const auto* p = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(handle, p + done, static_cast<size_t>(std::min<std::int64_t>(count - done, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrorFromErrno();
            return done > 0 ? done : -1;
        }
        done += n;
    }
    return done;
}

std::int64_t FileReadAt(int handle, std::int64_t pos, void* buffer, std::int64_t count)
{
    auto* p = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(handle, p + done, static_cast<size_t>(std::min<std::int64_t>(count - done, 1 << 30)),
                                  static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrorFromErrno();
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t FileSeek(int handle, std::int64_t offset, int origin)
{
    const int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
    const off_t r = ::lseek(handle, static_cast<off_t>(offset), whence);
    if (r < 0) {
        SetLastErrorFromErrno();
        return -1;
    }
    return r;
}

bool FileTruncate(int handle, std::int64_t size)
{
    if (::ftruncate(handle, static_cast<off_t>(size)) == 0)
        return true;
    SetLastErrorFromErrno();
    return false;
}

void FileClose(int handle)
{
    if (handle >= 0)
        ::close(handle);
}

// ------------------------------------------------------------ TFileStream

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : m_fileName(fileName)
{
    if ((mode & 0xFF00) == fmCreate) {
        unsigned share = mode & 0xF0;
        m_handle = FileCreate(fileName, share == 0 ? fmShareExclusive : share);
        if (m_handle < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + SysErrorMessage(GetLastError()) + ".");
    } else {
        m_handle = FileOpen(fileName, mode);
        if (m_handle < 0)
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + SysErrorMessage(GetLastError()) + ".");
    }
}

TFileStream::~TFileStream() { FileClose(m_handle); }

std::int64_t TFileStream::Read(void* buffer, std::int64_t count)
{
    const std::int64_t n = FileRead(m_handle, buffer, count);
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count)
{
    const std::int64_t n = FileWrite(m_handle, buffer, count);
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) { return FileSeek(m_handle, offset, origin); }

void TFileStream::SetSize(std::int64_t newSize)
{
    if (!FileTruncate(m_handle, newSize))
        throw EStreamError("Cannot set the size of \"" + m_fileName + "\". " + SysErrorMessage(GetLastError()) + ".");
    if (Position() > newSize)
        Seek(newSize, soBeginning);
}

// ---------------------------------------------------------- TMemoryStream

TMemoryStream::TMemoryStream() = default;

TMemoryStream::~TMemoryStream() { std::free(m_memory); }

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count)
{
    if (count <= 0 || m_position >= m_size)
        return 0;
    const std::int64_t n = std::min(count, m_size - m_position);
    std::memcpy(buffer, m_memory + m_position, static_cast<size_t>(n));
    m_position += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count)
{
    if (count <= 0 || m_position < 0)
        return 0;
    const std::int64_t end = m_position + count;
    if (end > m_capacity)
        GrowForWrite(end);
    if (end > m_size)
        m_size = end;
    std::memcpy(m_memory + m_position, buffer, static_cast<size_t>(count));
    m_position = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t base = origin == soCurrent ? m_position : origin == soEnd ? m_size : 0;
    m_position = base + offset;
    return m_position;
}

void TMemoryStream::SetSize(std::int64_t newSize)
{
    if (newSize < 0)
        throw EStreamError("Invalid stream size");
    SetCapacity(newSize);
    m_size = newSize;
    if (m_position > newSize)
        m_position = newSize;
}

void TMemoryStream::GrowForWrite(std::int64_t end)
{
    // Appends grow large blocks by half again, so writing a stream piece by
    // piece reallocates a logarithmic number of times instead of once per
    // write. When the machine cannot give the extra room, the exact size is
    // still tried.
    const std::int64_t grown = m_capacity + m_capacity / 2;
    if (end >= (std::int64_t(1) << 20) && grown > end) {
        try {
            SetCapacity(grown);
            return;
        } catch (const EOutOfMemory&) {
        }
    }
    SetCapacity(end);
}

void TMemoryStream::Clear()
{
    std::free(m_memory);
    m_memory = nullptr;
    m_size = m_capacity = m_position = 0;
}

void TMemoryStream::SetCapacity(std::int64_t capacity)
{
    // Grow in steps of 8 KB for small blocks, and exactly for large ones, so
    // that a block sized once for a whole file takes no more than the file.
    std::int64_t wanted = capacity;
    if (capacity > 0 && capacity < (std::int64_t(1) << 20))
        wanted = (capacity + 0x1FFF) & ~std::int64_t(0x1FFF);
    if (wanted == m_capacity)
        return;
    if (wanted == 0) {
        std::free(m_memory);
        m_memory = nullptr;
        m_capacity = 0;
        return;
    }
    if (wanted > m_capacity) {
        // Linux grants address space it may later fail to back with memory;
        // refuse a growth the machine cannot give instead of dying on first touch.
        const std::int64_t avail = AvailableMemory();
        if (wanted > PTRDIFF_MAX || (avail >= 0 && wanted - m_capacity > avail))
            throw EOutOfMemory("Out of memory while expanding memory stream");
    }
    void* p = std::realloc(m_memory, static_cast<size_t>(wanted));
    if (!p)
        throw EOutOfMemory("Out of memory while expanding memory stream");
    m_memory = static_cast<std::uint8_t*>(p);
    m_capacity = wanted;
    // Large blocks are filled in one sweep (a whole file).
    AdviseHugePages(p, static_cast<std::size_t>(wanted));
}

// ---------------------------------------------------------------- helpers

namespace {

std::int64_t ReadNumberFile(const char* path)
{
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max")
        return -1;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    return (end && *end == '\0') ? v : -1;
}

}  // namespace

namespace {
std::atomic<std::int64_t> g_availableMemoryOverride {-1};
}  // namespace

void SetAvailableMemoryOverride(std::int64_t bytes) { g_availableMemoryOverride = bytes; }

std::int64_t AvailableMemory()
{
    if (const std::int64_t given = g_availableMemoryOverride; given >= 0)
        return given;
    std::int64_t avail = -1;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long long kb = 0;
    std::string unit;
    while (meminfo >> key >> kb) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") {
            avail = static_cast<std::int64_t>(kb) * 1024;
            break;
        }
    }
    const std::int64_t limit = ReadNumberFile("/sys/fs/cgroup/memory.max");
    const std::int64_t used = ReadNumberFile("/sys/fs/cgroup/memory.current");
    if (limit >= 0 && used >= 0) {
        const std::int64_t left = std::max<std::int64_t>(0, limit - used);
        avail = avail < 0 ? left : std::min(avail, left);
    }
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        const auto cap = static_cast<std::int64_t>(rl.rlim_cur);
        avail = avail < 0 ? cap : std::min(avail, cap);
    }
    return avail;
}


int FileCreateNew(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return -1;
    }
    if (!LockForShareMode(fd, fmShareExclusive)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string CanonicalFileName(const std::string& fileName)
{
    if (char* full = ::realpath(fileName.c_str(), nullptr)) {
        std::string out(full);
        std::free(full);
        return out;
    }
    const std::string dirPart = ExtractFileDir(fileName);
    if (char* full = ::realpath(dirPart.empty() ? "." : dirPart.c_str(), nullptr)) {
        std::string out(full);
        std::free(full);
        if (out.empty() || out.back() != '/')
            out.push_back('/');
        out.append(ExtractFileName(fileName));
        return out;
    }
    return fileName;
}
