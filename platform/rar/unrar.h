// The RAR extraction library's interface in the shape the system's code
// calls it, over libarchive's RAR reader (archives of the 1.5 to 4 format;
// libarchive neither decrypts them nor gives their stored CRC).
//
// An archive is opened, its headers are read one by one, and each is then
// extracted, tested or passed over by RARProcessFile. The callback hears of
// every volume change (UCM_CHANGEVOLUME with the next volume's name, which
// it may change; -1 stops) and of every block of decoded data
// (UCM_PROCESSDATA; -1 stops). The library never changes the process's
// current folder: an output name is used as given, or joined to DestPath.
#pragma once

#include "win/wintypes.h"

#include <cstdint>

enum : int {
    ERAR_SUCCESS = 0,
    ERAR_END_ARCHIVE = 10,
    ERAR_NO_MEMORY = 11,
    ERAR_BAD_DATA = 12,
    ERAR_BAD_ARCHIVE = 13,
    ERAR_UNKNOWN_FORMAT = 14,
    ERAR_EOPEN = 15,
    ERAR_ECREATE = 16,
    ERAR_ECLOSE = 17,
    ERAR_EREAD = 18,
    ERAR_EWRITE = 19,
    ERAR_SMALL_BUF = 20,
    ERAR_UNKNOWN = 21,
    ERAR_MISSING_PASSWORD = 22,
};

enum : int { RAR_OM_LIST = 0, RAR_OM_EXTRACT = 1 };
enum : int { RAR_SKIP = 0, RAR_TEST = 1, RAR_EXTRACT = 2 };
enum : UINT { UCM_CHANGEVOLUME = 0, UCM_PROCESSDATA = 1, UCM_NEEDPASSWORD = 2 };
enum : int { RAR_VOL_ASK = 0, RAR_VOL_NOTIFY = 1 };

// The room of the volume name buffer handed to UCM_CHANGEVOLUME.
constexpr int kRarNameBufferSize = 1024;

using UNRARCALLBACK = int (*)(UINT msg, LPARAM userData, LPARAM p1, LPARAM p2);

struct RAROpenArchiveDataEx {
    const char* ArcName = nullptr;  // UTF-8 path
    UINT OpenMode = RAR_OM_EXTRACT;
    UINT OpenResult = 0;
    char* CmtBuf = nullptr;
    UINT CmtBufSize = 0;
    UINT CmtSize = 0;
    UINT CmtState = 0;
    UINT Flags = 0;
};

struct RARHeaderDataEx {
    char ArcName[kRarNameBufferSize] = {};
    char FileName[kRarNameBufferSize] = {};  // UTF-8, '/' separators
    UINT Flags = 0;                           // 0x04: encrypted
    UINT PackSize = 0;
    UINT PackSizeHigh = 0;
    UINT UnpSize = 0;
    UINT UnpSizeHigh = 0;
    UINT HostOS = 0;
    UINT FileCRC = 0;   // libarchive does not give it: 0
    UINT FileTime = 0;  // DOS date-time
    UINT UnpVer = 0;
    UINT Method = 0;
    UINT FileAttr = 0;  // 0x10 for a folder, else 0x20
};

HANDLE RAROpenArchiveEx(RAROpenArchiveDataEx* data);
int RARCloseArchive(HANDLE h);
int RARReadHeaderEx(HANDLE h, RARHeaderDataEx* header);
// Operation RAR_EXTRACT writes the entry to DestName (when given) or to
// DestPath joined with the entry's own name; RAR_TEST and RAR_SKIP decode
// it without writing (its data still reach the callback).
int RARProcessFile(HANDLE h, int operation, const char* destPath, const char* destName);
void RARSetCallback(HANDLE h, UNRARCALLBACK callback, LPARAM userData);
int RARGetDllVersion();
