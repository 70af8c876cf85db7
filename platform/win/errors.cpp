#include "wintypes.h"

#include <cerrno>
#include <cstring>

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

DWORD Win32ErrorFromErrno(int err)
{
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EWOULDBLOCK: return ERROR_LOCK_VIOLATION;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENODEV:
    case ENXIO: return ERROR_NOT_READY;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case EHOSTUNREACH:
    case ENETUNREACH: return ERROR_BAD_NETPATH;
    default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD SetLastErrorFromErrno()
{
    const DWORD code = Win32ErrorFromErrno(errno);
    SetLastError(code);
    return code;
}

std::string SysErrorMessage(DWORD code)
{
    struct Text {
        DWORD code;
        const char* text;
    };
    static constexpr Text texts[] = {
        {ERROR_SUCCESS, "The operation completed successfully"},
        {ERROR_INVALID_FUNCTION, "Incorrect function"},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified"},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified"},
        {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file"},
        {ERROR_ACCESS_DENIED, "Access is denied"},
        {ERROR_INVALID_HANDLE, "The handle is invalid"},
        {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command"},
        {ERROR_WRITE_PROTECT, "The media is write protected"},
        {ERROR_NOT_READY, "The device is not ready"},
        {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process"},
        {ERROR_LOCK_VIOLATION, "The process cannot access the file because another process has locked a portion of the file"},
        {ERROR_NOT_SUPPORTED, "The request is not supported"},
        {ERROR_FILE_EXISTS, "The file exists"},
        {ERROR_OPEN_FAILED, "The system cannot open the device or file specified"},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect"},
        {ERROR_DISK_FULL, "There is not enough space on the disk"},
        {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect"},
        {ERROR_DIR_NOT_EMPTY, "The directory is not empty"},
        {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists"},
        {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long"},
    };
    for (const Text& t : texts)
        if (t.code == code)
            return t.text;
    return "System error " + std::to_string(code);
}
