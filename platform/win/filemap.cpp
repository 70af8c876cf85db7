#include "filemap.h"
#include "fileops.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr DWORD ERROR_FILE_INVALID = 1006;
}

bool MapFileReadOnly(const std::string& fileName, TFileView& view)
{
    view = {};
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        SetLastError(Win32ErrorFromErrno(err));
        return false;
    }
    if (st.st_size == 0) {
        ::close(fd);
        SetLastError(ERROR_FILE_INVALID);
        return false;
    }
    void* base = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    const int err = errno;
    // The mapping keeps its own reference to the file.
    ::close(fd);
    if (base == MAP_FAILED) {
        SetLastError(Win32ErrorFromErrno(err));
        return false;
    }
    view.Base = static_cast<const std::uint8_t*>(base);
    view.Size = static_cast<size_t>(st.st_size);
    return true;
}

void UnmapFile(TFileView& view)
{
    if (view.Base)
        ::munmap(const_cast<std::uint8_t*>(view.Base), view.Size);
    view = {};
}
