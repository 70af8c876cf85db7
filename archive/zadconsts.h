// Types, enumerations and message texts shared by every unit of the archive
// library. Nothing here depends on a window or on the operating system.
#pragma once

#include "win/wintypes.h"

#include <cstdint>
#include <string>

// The archive types, in their fixed order (values are stored and compared).
enum TArcType : int {
    atNA,
    atUnsupported,
    atFileOpenErr,
    atUnknown,
    atAce,
    atAceExe,
    atArc,
    atArcExe,
    atArj,
    atArjExe,
    atB64,
    atBh,
    atBhExe,
    atCab,
    atCabExe,
    atGZip,
    atHA,
    atJar,
    atJarExe,
    atLha,
    atLhaExe,
    atLzh,
    atLzhExe,
    atMsGZ,
    atPak,
    atPakExe,
    atRar,
    atRarExe,
    atTar,
    atTarGZip,
    atUUE,
    atZip,
    atZipExe,
    atZipDS,
    atZipMV,
    atZoo,
    atArcTypeCount
};

// The ZIP records that the central-directory search found.
enum THeaderType : int { htLocal, htCentral, htEnding, htLocator, htEnding64, htNone };

// A small set of THeaderType values.
class THeaderTypeState {
public:
    THeaderTypeState() = default;
    THeaderTypeState(std::initializer_list<THeaderType> types)
    {
        for (THeaderType t : types)
            Include(t);
    }
    bool Has(THeaderType t) const { return m_bits & Bit(t); }
    void Include(THeaderType t) { m_bits |= Bit(t); }
    void Exclude(THeaderType t) { m_bits &= ~Bit(t); }
    void Clear() { m_bits = 0; }
    bool Empty() const { return m_bits == 0; }
    bool operator==(const THeaderTypeState&) const = default;
    unsigned Bits() const { return m_bits; }

private:
    static unsigned Bit(THeaderType t) { return 1u << static_cast<unsigned>(t); }
    unsigned m_bits = 0;
};

enum TDeleteOptions { doFinal, doAllowUndo };
enum TOverwriteMode { omOverwrite, omSkip };
enum TDateAttribute { daFileDate, daSysDate, daMaxFileDate };
enum TFileAccessMethod { faFile, faMemoryStream, faUserStream, faPointer, faNul, faSearch, faVerify, faAppend };
enum TEncryptionMethod { emNone, emAES2_128, emAES2_192, emAES2_256, emZIP_v2, emUnsupported };
enum TCompressionMethod { cmTempFile, cmTempMem };
enum TStoredDirNames {
    sdNone,
    sdAbsolute,
    sdAbsoluteNoDrv,
    sdAbsoluteNoRoot,
    sdRelative,
    sdRelativeStoreStart,
    sdExplorer_Auto,
    sdExplorer_UserDefineDefaultDir
};
enum TzadFileAttribute {
    fsZeroAttr,
    fsReadOnly,
    fsHidden,
    fsSysFile,
    fsVolumeID,
    fsDirectory,
    fsArchive,
    fsCompressed,
    fsEncrypted
};
using TzadFileAttributes = unsigned;  // bit (1 << TzadFileAttribute)
constexpr TzadFileAttributes AttrBit(TzadFileAttribute a) { return 1u << static_cast<unsigned>(a); }

enum TPartType { ptNoSplit, ptFloppy, ptCustom };
enum TCustomSizeType { stBytes, stKB, stMB };
enum TzadOperation { opRead, opFileOnly, opQueryFile };
enum TDataType { dtHeader, dtData };
enum THostOS { osMsdos, osOS2, osWin32, osUnix, osMAC, osWinNT, osPrimos, osAppleGS, osAtari, osVaxVms, osNone };

// 1980-01-01 00:01:00, the date the library reports when it has none.
constexpr double kFallbackDate = 29221.000694444445;
constexpr std::int32_t kFallbackDosDate = 0x00210020;

constexpr std::uint32_t CRC_MASK = 0xFFFFFFFFu;

// Message ids used by the library code by name.
enum : int {
    E_BADHEADR = 25114,
    E_BADLOCALOFFSET = 25115,
    // Data a decoder cannot make sense of (shrink, reduce).
    E_BADBLOCK = 25116,
    E_WRITE = 25136,
    E_CRCERROR = 25151,
    E_DISKFULL = 25160,
    E_NOTACCESSIBLE = 25170,
    E_WRITEPROTECTED = 25171,
    E_FILENOTFOUND = 25192,
    // An entry's data disagrees with the sizes its header declares.
    E_SIZEDIFFERENT = 25193,
    E_OPENERR = 25235,
    E_READERR = 25236,
    E_UNSUPPORTEDTYPE = 25244,
    E_INVALIDFILENAME = 25245,
    E_MAXVOLUMES = 25251,
    // An entry's data range overlaps another entry's (a possible zip bomb).
    E_OVERLAP = 25252,
    // An entry's output would pass what memory can hold.
    E_MEMSTREAMFULL = 25254,
    E_REQUIREDEVENT = 25270,
    // An entry the run cannot open without its password, or at all.
    E_PASSWORDPROTECTED = 25290,
    E_STACKOVERFLOW = 25305,
    E_UNSUPPORTEDMETHOD = 25326,
    E_UNSUPPORTEDVERSION = 25328,
    E_USERCANCELED = 25443,
    // A password that does not open an entry (the extended message is the password).
    E_INVALIDPASSWORD = 26517,
    E_CREATEDIRQUERY = 26899,
};

// The text of a message id, or "" for an id the library does not use.
std::string LoadResString(int id);

// The display name of each archive type (trailing blanks belong to them).
const char* ArcTypeNameOf(TArcType t);
