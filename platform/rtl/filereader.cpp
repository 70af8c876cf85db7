#include "filereader.h"

#include "streams.h"
#include "sysutils.h"

#include "win/fileops.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPiece = std::size_t(1) << 20;
// A file that says it has no size (the kernel's pseudo files) is read to its
// end, but no further than this.
constexpr std::size_t kMaxSizelessFile = std::size_t(64) << 20;

std::mutex g_hookLock;
std::shared_ptr<const TFileReader::TReadHook> g_hook;

void CallHook(const TFileReader& reader, std::int64_t offset)
{
    std::shared_ptr<const TFileReader::TReadHook> hook;
    {
        const std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_hook;
    }
    if (hook && *hook)
        (*hook)(reader, offset);
}

} // namespace

void TFileReader::SetReadHook(TReadHook hook)
{
    const std::lock_guard<std::mutex> lock(g_hookLock);
    g_hook = hook ? std::make_shared<const TReadHook>(std::move(hook)) : nullptr;
}

TFileReader::~TFileReader() { Close(); }

bool TFileReader::Open(const std::string& fileName)
{
    Close();
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        SetLastErrorFromErrno();
        return false;
    }
    m_handle = fd;
    m_size = st.st_size;
    m_fileName = fileName;
    return true;
}

void TFileReader::OpenOrRaise(const std::string& fileName)
{
    if (!Open(fileName))
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), (SysErrorMessage(GetLastError()) + ".").c_str()));
}

void TFileReader::Close()
{
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
    m_size = 0;
}

void TFileReader::RaiseReadError(int err) const
{
    if (err == 0)
        throw EReadError(Format("The file \"%s\" changed while it was read: it is shorter than it was when it was opened.",
            m_fileName.c_str()));
    errno = err;
    const DWORD code = SetLastErrorFromErrno();
    throw EReadError(Format("Cannot read file \"%s\". %s", m_fileName.c_str(), (SysErrorMessage(code) + ".").c_str()));
}

std::size_t TFileReader::ReadSome(std::int64_t offset, void* buffer, std::size_t count) const
{
    if (m_handle < 0)
        RaiseReadError(EBADF);
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t piece = std::min(count - done, kPiece);
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        CallHook(*this, at);
        const ssize_t n = ::pread(m_handle, out + done, piece, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseReadError(errno);
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void TFileReader::ReadAt(std::int64_t offset, void* buffer, std::size_t count) const
{
    if (offset < 0 || offset > m_size || count > static_cast<std::uint64_t>(m_size - offset))
        throw EReadError(Format("Cannot read %zu bytes at %lld of file \"%s\": it holds %lld.", count,
            static_cast<long long>(offset), m_fileName.c_str(), static_cast<long long>(m_size)));
    if (ReadSome(offset, buffer, count) != count)
        RaiseReadError(0);
}

bool TFileReader::Shrunk() const
{
    struct stat st {};
    return m_handle >= 0 && ::fstat(m_handle, &st) == 0 && st.st_size < m_size;
}

std::string TFileReader::ReadAll() const
{
    if (m_handle < 0)
        RaiseReadError(EBADF);
    const bool sizeless = m_size == 0;
    const std::size_t wanted = sizeless ? kMaxSizelessFile : static_cast<std::size_t>(m_size);
    if (!sizeless) {
        const std::int64_t avail = AvailableMemory();
        if (static_cast<std::uint64_t>(m_size) > PTRDIFF_MAX || (avail >= 0 && m_size > avail))
            throw EOutOfMemory(Format("The file \"%s\" (%lld bytes) is larger than the memory this computer can still give.",
                m_fileName.c_str(), static_cast<long long>(m_size)));
    }
    std::string data;
    if (sizeless) {
        // Grown a piece at a time: such files are usually small.
        char piece[65536];
        for (;;) {
            const std::size_t n = ReadSome(static_cast<std::int64_t>(data.size()), piece, sizeof piece);
            if (n == 0)
                break;
            if (data.size() + n > wanted)
                throw EOutOfMemory(Format("The file \"%s\" does not end within %zu bytes.", m_fileName.c_str(), wanted));
            data.append(piece, n);
        }
        return data;
    }
    data.resize(wanted);
    const std::size_t got = ReadSome(0, data.data(), wanted);
    if (got < wanted) {
        // Some kernel files say a size they do not hold; a file on a disk
        // that ends early was cut short while it was read.
        if (Shrunk())
            RaiseReadError(0);
        data.resize(got);
    }
    return data;
}
