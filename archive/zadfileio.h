// Handle-level file access that reports a failed open through the owning
// component, drive-type queries, and the disk inspector TDiskManager. A
// "drive" is the mount point that holds a path.
#pragma once

#include "archive/zadconsts.h"
#include "rtl/classes.h"

#include <cstdint>
#include <functional>
#include <string>

class TZipCommon;

enum TzadDriveType { dtUnknown, dtNoDrive, dtRemovable, dtFixed, dtNetwork, dtCDROM, dtRam };
extern const char* const DriveNames[7];

enum TDateMethod { dtCreate, dtLastWrite, dtLastAccess };

using TRaiseError = std::function<void(const char* eClass, const std::string& fileName, const std::string& extendedMsg,
                                       const std::string& volumeID, int eCode)>;
using TRaiseErrorStr = std::function<void(const std::string& fileName, const std::string& msgEx,
                                          const std::string& volumeID, int eCode)>;
using TOnDiskError = std::function<void(TObject* sender, bool& abort)>;

HANDLE zadOpenFile(TZipCommon* owner, const std::string& fileName, DWORD access, DWORD shareMode, DWORD creation, DWORD flags);
HANDLE zadOpenFileRead(TZipCommon* owner, const std::string& fileName);
HANDLE zadOpenFileReadWrite(TZipCommon* owner, const std::string& fileName);
HANDLE zadOpenFileWrite(TZipCommon* owner, const std::string& fileName, bool overwrite);
HANDLE zadOpenFileAppend(TZipCommon* owner, const std::string& fileName, bool flag);
std::int64_t zadGetFilePos(HANDLE handle);
bool zadSetFilePointer(HANDLE handle, std::int64_t distance, WORD method);
std::int64_t zadGetFileSize(HANDLE handle);
// The file's time as a local DOS date-time (date in the high word).
std::int32_t zadGetFileDate(HANDLE handle, TDateMethod method);

TzadDriveType GetDriveType(const std::string& path);
bool DiskInDrive(const std::string& drive);

class TDiskCommon : public TObject {};

class TDiskManager : public TDiskCommon {
public:
    // true: the volume is write-protected (a read-only mount, or a probe
    // file in the given folder refused as write-protected or not erasable).
    bool GetDriveProtectionStatus(const std::string& drive);
    bool GetVolumeInfo(const std::string& path);
    void GetDiscFreeSpace(const std::string& path);
    bool Retry(const std::string& path);
    bool CheckDrive(const std::string& path);
    // Reads the drive's details, asking while it holds no disk and, unless
    // the drive is only to be read (forReading), while it is write-protected.
    bool ExamineDrive(const std::string& drive, TRaiseError raiseError, TRaiseErrorStr raiseErrorStr,
                      TOnDiskError onWriteProtected, TOnDiskError onNoDisk, bool forReading = false);
    bool GetDriveInfo(const std::string& path, TRaiseError raiseError, TRaiseErrorStr raiseErrorStr,
                      TOnDiskError onWriteProtected, TOnDiskError onNoDisk, bool forReading = false);
    // The disk number of a spanned-set label "PKBACK# nnn"; 0 when there is
    // none; EConvertError when the number part is empty.
    static int ZipDiskLabelToNum(const std::string& label);

    TRaiseError RaiseErrorProc;
    TRaiseErrorStr RaiseErrorStrProc;
    TOnDiskError OnWriteProtected;
    TOnDiskError OnNoDisk;
    std::uint32_t FileSystemFlags = 0;
    std::string DriveTypeName;
    std::string SerialNumberHex;
    std::uint32_t SerialNumber = 0;
    std::string FileSystemName;
    WORD ZipDiskNumber = 0;
    std::string VolumeLabel;
    std::string DrivePath;
    TzadDriveType DriveType = dtUnknown;
    std::int64_t FreeSpace = 0;
    std::int64_t TotalSpace = 0;
    std::uint32_t MaxComponentLength = 0;
    // Set by a test to stand in for the system's answers about volumes.
    std::function<bool(const std::string& path, std::string& label, std::uint32_t& serial)> VolumeQueryOverride;
};
