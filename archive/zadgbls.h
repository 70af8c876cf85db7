// The archive library's toolbox: paths, file-name filters, files and folders,
// names read from archive data, small text helpers, dates in the formats the
// archives store, attribute texts, method names, ratios and progress.
//
// Paths use '/' as the separator; a folder given "with its tail" ends in '/'.
// Names stored in DOS-era archives are in code page 437 and are converted to
// UTF-8 (the system's "ANSI" code page).
#pragma once

#include "archive/zadconsts.h"
#include "rtl/classes.h"
#include "rtl/sysutils.h"
#include "rtl/unicode.h"

#include <cstdint>
#include <functional>
#include <string>

class TStream32;

// ---- paths ---------------------------------------------------------------------
std::string SlashSep(const std::string& path, const std::string& name);
std::string _AppendDirTail(const std::string& path);
std::string RemoveDirTail(const std::string& path);
// A relative path is made absolute from the root.
std::string AppendDrive(const std::string& path);
// Characters before the first '.' (or the whole length), at most 255.
BYTE ExtractFilenameOnly(const char* name);
// The file-name part up to its first '.' ("docs/archive.tar.gz" gives "archive").
std::string ExtractFilenameOnly(const std::string& fileName);
// "a.zip" -> "a.~zi", "a.gz" -> "a.~gz", "a" -> "a.~".
std::string ChangeFileExtTmp(const std::string& fileName);
std::string _ExtractFileName(const std::string& fileName);
std::string _ExtractFileDir(const std::string& fileName);
// The mount point that holds the path, without its trailing '/' ("" for the root).
std::string _ExtractFileDrive(const std::string& fileName);
std::string _ExtractFilePath(const std::string& fileName);
std::string _ExtractFileExt(const std::string& fileName);
std::string _ChangeFileExt(const std::string& fileName, const std::string& ext);
// Whether the text starts at a root ("/..." but not "//...").
bool IsDrivePath(const char* p, int len);
bool IsUncPath(const std::string& path);  // "//server/share..."
inline const char* StringAsPChar(const std::string& s) { return s.c_str(); }
inline std::string PCharToStr(const char* p) { return p ? std::string(p) : std::string(); }

// ---- file-name filters --------------------------------------------------------------
std::string DOSToUnixFilename(const std::string& name);  // '\' -> '/'
std::string UnixToDosFilename(const std::string& name);  // '/' -> '\'
// Code page 437 to UTF-8 and back (characters without a 437 form become '?').
std::string OemToUtf8(const std::string& oem);
std::string Utf8ToOem(const std::string& text);
// OEM to UTF-8 when translate; then the stored '\' separators become '/'.
std::string _OemToCharFilter(const std::string& name, bool translate);

// How the program that wrote an archive encoded its names. DOS and Windows
// hosts wrote code page 437; Unix hosts, TAR and gzip wrote the system's
// UTF-8. Where the archive does not say (a ZIP read from its local headers
// alone, an LHA of a generic host), a name that is valid UTF-8 and not
// plain ASCII is taken as UTF-8, any other as code page 437.
enum TNameCoding { ncOem, ncUtf8, ncUnknown };
// The text as valid UTF-8: every byte that does not belong to a well-formed
// sequence (overlong forms, surrogates and values past U+10FFFF included)
// becomes U+FFFD, so the name still shows and can still be made.
std::string ValidUtf8(const std::string& text);
bool IsValidUtf8(const std::string& text);
// A stored name as the lister shows it and the extractor writes it: UTF-8
// by its coding (code page 437 converted only when translate), with the
// stored '\' separators turned into '/'.
std::string ArchiveNameToUtf8(const std::string& raw, TNameCoding coding, bool translate);
std::string CharToUnixOemFilter(const std::string& name, bool translate);
std::string CharToOemFilter(const std::string& name, bool translate);
// An LHA header's folder field as a local path ('/' and 0xFF are separators;
// the second byte of a double-byte character is kept).
std::string DecodeDir(const std::string& dir);

// ---- files and folders ------------------------------------------------------------------
bool _FileExists(const std::string& name);
bool _FileExists(const std::string& name, std::uint32_t& attr);
bool _DirectoryExists(const std::string& path);
bool IsWriteable(const std::string& fileName);
int VerifyAttr(int attr);
bool _SetFileAttributes(const std::string& fileName, std::uint32_t attr);
bool _DeleteFile(const std::string& fileName);
// doAllowUndo moves the file to the desktop's trash; doFinal deletes it.
bool _EraseFile(const std::string& fileName, TDeleteOptions options);
bool CreateDirEx(const std::string& path);
bool isDirEmpty(const std::string& dir);
std::string GetTempPathStr();
std::string _GetCurrentDir();
bool _SetCurrentDir(const std::string& path);
std::string _SelectDirectory(const std::string& dir);
// A new empty temporary file named "zad..." in dir (created when missing)
// or, when dir is no folder, in the system temporary folder; "" on failure.
std::string GetTempFileNameStr(const std::string& dir);

// ---- names from archive data ------------------------------------------------------------
int ReadFilename_NullTerminate(TStream32* stream, std::int64_t& pos, std::string& name);
void ReadFilename_DefinedLen(TStream32* stream, BYTE len, std::string& name);
std::uint32_t ReadFilename_DefinedLen(TStream32* stream, std::int64_t& pos, BYTE len, std::string& name);
void GetFilenameFromBuffer(const char* buf, int count, int& pos, std::string& name);
bool IsGZipSignAttr(int sign);
int SwapWords(int value);

// ---- memory and text --------------------------------------------------------------------
bool CompareMem(const void* p1, const void* p2, int len);
// Copies forward one byte at a time (source first): an overlapping
// destination repeats the start of the range.
void CopyMem(const void* source, void* dest, int len);
void GetToken(std::string& s, const std::string& sep, std::string& token);
void StrToTStrings(std::string text, TStringList& list);
// The items joined with sep between them; "" for a separator other than
// zero, blank, ',' or ';'.
std::string TStringsToStr(const TStringList& list, char sep);
std::string UnformatNumber(const std::string& s);
// Shortens a path with "..." until measure(path) fits room (the width of a
// dialog's control in the original); the last form is returned even when it
// does not fit.
std::string ShortName(const std::function<int(const std::string&)>& measure, int room, const std::string& path);

// ---- dates ------------------------------------------------------------------------------
bool IsLeapYear(WORD year);
TDateTime AddMonths(int months, TDateTime date);
// Reads the time-zone rules again (they are read once at start-up).
void ReloadTimeZoneInformation();
bool IsDaylightTime(TDateTime date);
TDateTime LocalTimeToUniversal(TDateTime date);
TDateTime UniversalTimeToLocal(TDateTime date);
// Local date-time to Unix seconds (64-bit: 2038 and later stay in order).
std::int64_t DosDateToUnix(TDateTime date);
// Unix seconds to a local date-time; 0 gives 1980-01-01 00:01:00.
TDateTime UnixDateToDos(std::int32_t seconds);
TDateTime zadConvertDate(std::int32_t dosDateTime);

// A modification time as formats of Unix origin store it: seconds since
// 1970-01-01 UTC (64-bit, negative before 1970) and nanoseconds. Carried
// from the header to the file system whole, never through a DOS date-time.
struct TUnixTime {
    bool Known = false;
    std::int64_t Seconds = 0;
    std::int32_t Nanoseconds = 0;
};
inline TUnixTime UnixTime(std::int64_t seconds, std::int32_t nanoseconds = 0) { return {true, seconds, nanoseconds}; }
// What a header says of an entry's file beyond its DOS date-time: the
// exact modification time (formats of Unix origin, ZIP's time fields) and
// the Unix permission bits (Unix hosts).
struct TEntryStamp {
    TUnixTime Time;
    std::int32_t Mode = -1;  // -1: the header gives none
};
// The local date-time of a Unix time, exact (1970-01-01 00:00:00 UTC is
// itself, earlier times are earlier).
TDateTime UnixTimeToDateTime(const TUnixTime& time);
// A local date-time as a DOS date-time (date in the high word); the fallback
// date for years outside 1980..2107.
std::int32_t DateTimeToDosDateTime(TDateTime date);
std::int32_t FileTimeToInt(std::uint32_t low, std::uint32_t high);
// A file's modification time (seconds since 1970) as a local DOS date-time.
std::int32_t UnixTimeToLocalDosDateTime(std::int64_t unixSeconds);

// ---- octal text ---------------------------------------------------------------------------
std::int32_t OctStrToInt(const std::string& s);
void IntToOctStr(std::uint32_t value, int len, bool nullTerminate, char* buf);

// ---- names ----------------------------------------------------------------------------------
void DecodeRarFN(const char* name, const std::uint8_t* encName, int encSize, char16_t* nameW, int maxDecSize);

// ---- attributes, methods, ratios ---------------------------------------------------------
std::string WinAttrToString(int attr, char filler);
std::string UnixAttrToStr(int mode, char filler);
extern const char* const EncryptionMethodStr[10];
std::string GetDeflateMethodStr(WORD flag);
std::string GetDeflateMethodStr64(WORD flag);
int CalcRatio(std::int32_t packedSize, std::int32_t unpackedSize);
int CalcRatio(std::int64_t packedSize, std::int64_t unpackedSize);
int CalcRatio(double packedSize, double unpackedSize);
BYTE CalcProgress64(std::int64_t done, std::int64_t total);
BYTE CalcProgress32(std::uint32_t done, std::uint32_t total);
BYTE CalcProgressDbl(double done, double total);
