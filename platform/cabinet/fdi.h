// The cabinet decompression interface (FDI) in the shape the system's code
// calls it, over libmspack. Every file the library touches goes through the
// caller's open, read, seek and close callbacks, and every decoded byte
// through its write callback, so the caller decides where a cabinet starts
// (a stub in front of it) and where the output goes.
//
// FDICopy tells the caller about each file of the cabinet that starts in it
// (fdintCOPY_FILE: answer a handle from the open callback to have it
// decoded, 0 to pass over it, -1 to stop), then closes it
// (fdintCLOSE_FILE_INFO). A file that goes on in the next cabinet of a set
// asks for that cabinet first (fdintNEXT_CABINET), which is joined to this
// one; a file that began in an earlier cabinet is left to that cabinet's
// FDICopy.
//
// Our port's one addition: fdintCLOSE_FILE_INFO carries libmspack's verdict
// on the file in fdie, FDIERROR_NONE when its data decoded and its
// checksums held, FDIERROR_CORRUPT_CABINET otherwise.
#pragma once

#include "win/wintypes.h"

#include <cstdint>

using HFDI = void*;
using INT_PTR = std::intptr_t;
using USHORT = std::uint16_t;

enum FDIERROR {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11,
};

struct ERF {
    int erfOper = 0;
    int erfType = 0;
    BOOL fError = 0;
};

struct FDICABINETINFO {
    long cbCabinet = 0;
    USHORT cFolders = 0;
    USHORT cFiles = 0;
    USHORT setID = 0;
    USHORT iCabinet = 0;
    BOOL fReserve = 0;
    BOOL hasprev = 0;
    BOOL hasnext = 0;
};

enum FDINOTIFICATIONTYPE {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5,
};

struct FDINOTIFICATION {
    long cb = 0;
    char* psz1 = nullptr;
    char* psz2 = nullptr;
    char* psz3 = nullptr;
    void* pv = nullptr;
    INT_PTR hf = 0;
    USHORT date = 0;
    USHORT time = 0;
    USHORT attribs = 0;
    USHORT setID = 0;
    USHORT iCabinet = 0;
    USHORT iFolder = 0;
    FDIERROR fdie = FDIERROR_NONE;
};

// The room the library gives the names it hands back in fdintNEXT_CABINET.
constexpr int CB_MAX_CABINET_NAME = 256;
constexpr int CB_MAX_CAB_PATH = 256;

constexpr int _O_RDONLY = 0x0000;
constexpr int _O_WRONLY = 0x0001;
constexpr int _O_RDWR = 0x0002;
constexpr int _O_CREAT = 0x0100;
constexpr int _O_BINARY = 0x8000;

using PFNALLOC = void* (*)(ULONG cb);
using PFNFREE = void (*)(void* pv);
using PFNOPEN = INT_PTR (*)(char* pszFile, int oflag, int pmode);
using PFNREAD = UINT (*)(INT_PTR hf, void* pv, UINT cb);
using PFNWRITE = UINT (*)(INT_PTR hf, void* pv, UINT cb);
using PFNCLOSE = int (*)(INT_PTR hf);
using PFNSEEK = long (*)(INT_PTR hf, long dist, int seektype);
using PFNFDINOTIFY = INT_PTR (*)(FDINOTIFICATIONTYPE type, FDINOTIFICATION* pfdin);

HFDI FDICreate(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write, PFNCLOSE close,
               PFNSEEK seek, int cpuType, ERF* perf);
// Whether the file open as hf holds a cabinet at its current start; fills info.
BOOL FDIIsCabinet(HFDI hfdi, INT_PTR hf, FDICABINETINFO* info);
// Extracts from the cabinet pszCabPath + pszCabinet (see above). False with
// the error record filled when the cabinet cannot be read or the caller
// stopped; a file whose data is damaged fails alone (see fdie).
BOOL FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags, PFNFDINOTIFY notify, void* decrypt,
             void* pvUser);
BOOL FDIDestroy(HFDI hfdi);
