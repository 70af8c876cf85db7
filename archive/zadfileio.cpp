#include "zadfileio.h"

#include "archive/zadbase.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"

const char* const DriveNames[7] = {"Unknown", "None", "Removable", "Fixed", "Network", "CD-ROM", "RAM"};

HANDLE zadOpenFile(TZipCommon* owner, const std::string& fileName, DWORD access, DWORD shareMode, DWORD creation, DWORD flags)
{
    const HANDLE h = CreateFileA(fileName, access, shareMode, creation, flags);
    if (h == INVALID_HANDLE_VALUE && owner) {
        const DWORD err = GetLastError();
        owner->RaiseErrorStr(fileName, "", "0", E_OPENERR);
        SetLastError(err);
    }
    return h;
}

HANDLE zadOpenFileRead(TZipCommon* owner, const std::string& fileName)
{
    return zadOpenFile(owner, fileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0x3F);
}

HANDLE zadOpenFileReadWrite(TZipCommon* owner, const std::string& fileName)
{
    return zadOpenFile(owner, fileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

HANDLE zadOpenFileWrite(TZipCommon* owner, const std::string& fileName, bool overwrite)
{
    return zadOpenFile(owner, fileName, GENERIC_WRITE, 0, overwrite ? CREATE_ALWAYS : CREATE_NEW, 0);
}

HANDLE zadOpenFileAppend(TZipCommon* owner, const std::string& fileName, bool)
{
    SetFileAttributesA(fileName, FILE_ATTRIBUTE_NORMAL);
    const HANDLE h = zadOpenFile(owner, fileName, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    if (!SetFilePointerEx(h, 0, nullptr, FILE_END)) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

std::int64_t zadGetFilePos(HANDLE handle)
{
    std::int64_t pos = 0;
    if (!SetFilePointerEx(handle, 0, &pos, FILE_CURRENT))
        return 0;
    return pos;
}

bool zadSetFilePointer(HANDLE handle, std::int64_t distance, WORD method)
{
    return SetFilePointerEx(handle, distance, nullptr, method);
}

std::int64_t zadGetFileSize(HANDLE handle)
{
    std::int64_t size = 0;
    if (!GetFileSizeEx(handle, &size))
        return 0;
    return size;
}

std::int32_t zadGetFileDate(HANDLE handle, TDateMethod method)
{
    FILETIME c, a, w;
    if (!GetFileTime(handle, &c, &a, &w))
        return 0;
    const FILETIME& t = method == dtCreate ? c : method == dtLastAccess ? a : w;
    return FileTimeToInt(t.dwLowDateTime, t.dwHighDateTime);
}

TzadDriveType GetDriveType(const std::string& path)
{
    if (path.empty())
        return dtNoDrive;
    return static_cast<TzadDriveType>(GetDriveTypeA(path));
}

bool DiskInDrive(const std::string& drive)
{
    std::int64_t total = 0;
    return GetDiskFreeSpaceExA(drive.empty() ? std::string("/") : drive, nullptr, &total);
}

bool TDiskManager::GetDriveProtectionStatus(const std::string& drive)
{
    // Write protection is a read-only volume. The probe file goes into the
    // folder given (a user may not write to a mount point's root even on a
    // writable volume); only a read-only answer from the system counts.
    std::string label, fs;
    DWORD serial = 0, maxLen = 0, flags = 0;
    if (GetVolumeInformationA(drive, &label, &serial, &maxLen, &flags, &fs) && (flags & FILE_READ_ONLY_VOLUME))
        return true;
    const std::string tmp = GetTempFileNameA(drive, "zad");
    if (tmp.empty())
        return GetLastError() == ERROR_WRITE_PROTECT;
    return !_EraseFile(tmp, doFinal);
}

bool TDiskManager::GetVolumeInfo(const std::string& path)
{
    if (path.empty())
        return false;
    std::string label, fs;
    DWORD serial = 0, maxLen = 0, flags = 0;
    if (VolumeQueryOverride) {
        std::uint32_t s = 0;
        if (!VolumeQueryOverride(path, label, s))
            return false;
        VolumeLabel = label;
        SerialNumber = s;
        return true;
    }
    if (!GetVolumeInformationA(path, &label, &serial, &maxLen, &flags, &fs))
        return false;
    VolumeLabel = label;
    SerialNumber = serial;
    MaxComponentLength = maxLen;
    FileSystemFlags = flags;
    FileSystemName = fs;
    return true;
}

void TDiskManager::GetDiscFreeSpace(const std::string& path)
{
    std::int64_t freeBytes = 0, total = 0;
    if (GetDiskFreeSpaceExA(path, &freeBytes, &total)) {
        FreeSpace = freeBytes;
        TotalSpace = total;
    }
}

bool TDiskManager::Retry(const std::string& path)
{
    const std::string text = _AppendDirTail(path) + LoadResString(E_NOTACCESSIBLE) + "\r\n\r\n" + SysErrorMessage(GetLastError());
    return RetryHook && RetryHook("", text);
}

bool TDiskManager::CheckDrive(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return true;
    while (!GetVolumeInfo(path))
        if (!Retry(path))
            return false;
    return true;
}

bool TDiskManager::ExamineDrive(const std::string& drive, TRaiseError raiseError, TRaiseErrorStr raiseErrorStr,
                                TOnDiskError onWriteProtected, TOnDiskError onNoDisk, bool forReading)
{
    DrivePath = drive;
    RaiseErrorProc = std::move(raiseError);
    RaiseErrorStrProc = std::move(raiseErrorStr);
    OnWriteProtected = std::move(onWriteProtected);
    OnNoDisk = std::move(onNoDisk);
    auto report = [&](int code) {
        if (RaiseErrorStrProc)
            RaiseErrorStrProc(drive, "0", "0", code);
    };
    try {
        if (!IsUncPath(drive)) {
            while (!DiskInDrive(drive)) {
                if (!OnNoDisk) {
                    report(E_NOTACCESSIBLE);
                    return false;
                }
                bool abort = true;
                OnNoDisk(this, abort);
                if (abort) {
                    report(E_USERCANCELED);
                    return false;
                }
            }
            // Reading a write-protected disk is what such disks are for.
            while (!forReading && GetDriveProtectionStatus(drive)) {
                if (!OnWriteProtected) {
                    report(E_WRITEPROTECTED);
                    return false;
                }
                bool abort = true;
                OnWriteProtected(this, abort);
                if (abort) {
                    report(E_USERCANCELED);
                    return false;
                }
            }
        }
        while (!GetVolumeInfo(drive)) {
            if (!Retry(drive)) {
                report(E_NOTACCESSIBLE);
                return false;
            }
        }
        ZipDiskNumber = static_cast<WORD>(ZipDiskLabelToNum(VolumeLabel));
        SerialNumberHex = IntToHex(SerialNumber, 8);
        DriveType = GetDriveType(drive);
        if (DriveType == dtNoDrive) {
            report(E_NOTACCESSIBLE);
            return false;
        }
        GetDiscFreeSpace(DrivePath);
        DriveTypeName = DriveNames[DriveType];
        return true;
    } catch (...) {
        return false;
    }
}

bool TDiskManager::GetDriveInfo(const std::string& path, TRaiseError raiseError, TRaiseErrorStr raiseErrorStr,
                                TOnDiskError onWriteProtected, TOnDiskError onNoDisk, bool forReading)
{
    const std::string drive = path.empty() ? _ExtractFileDrive(_GetCurrentDir()) : _ExtractFileDrive(path);
    return ExamineDrive(drive.empty() ? std::string("/") : drive, std::move(raiseError), std::move(raiseErrorStr),
                        std::move(onWriteProtected), std::move(onNoDisk), forReading);
}

int TDiskManager::ZipDiskLabelToNum(const std::string& label)
{
    static const std::string marker = "PKBACK# ";
    const size_t at = label.rfind(marker);
    if (at == std::string::npos)
        return 0;
    std::string rest = label.substr(at);
    std::string token;
    GetToken(rest, marker, token);
    if (rest.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return StrToInt(rest);
}
