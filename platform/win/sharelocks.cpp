#include "sharelocks.h"

#include "wintypes.h"

#include <fcntl.h>

namespace {

constexpr off_t kLockBase = 0x7FFFFFFFFFFF0000LL;
constexpr off_t kReadAccess = kLockBase + 0;
constexpr off_t kWriteAccess = kLockBase + 1;
constexpr off_t kDenyRead = kLockBase + 2;
constexpr off_t kDenyWrite = kLockBase + 3;

// True when another open file description holds a lock on the byte.
bool ByteIsLocked(int fd, off_t at)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0)
        return false; // file systems without locks: nothing to honour
    return fl.l_type != F_UNLCK;
}

void TakeShared(int fd, off_t at)
{
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &fl);
}

}

bool AcquireShareLocks(int fd, const TShareRequest& r)
{
    const bool conflict = (r.read && ByteIsLocked(fd, kDenyRead)) || (r.write && ByteIsLocked(fd, kDenyWrite))
        || (!r.shareRead && ByteIsLocked(fd, kReadAccess)) || (!r.shareWrite && ByteIsLocked(fd, kWriteAccess));
    if (conflict) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    if (r.read)
        TakeShared(fd, kReadAccess);
    if (r.write)
        TakeShared(fd, kWriteAccess);
    if (!r.shareRead)
        TakeShared(fd, kDenyRead);
    if (!r.shareWrite)
        TakeShared(fd, kDenyWrite);
    return true;
}
