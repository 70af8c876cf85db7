// The runtime library's non-visual basics: exceptions, string conversions,
// file-name and file functions, and date-time values. Strings are UTF-8.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>

using AnsiString = std::string;

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const std::string& Message() const { return m_message; }
    void SetMessage(std::string message) { m_message = std::move(message); }
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

#define VISTREL_DECLARE_EXCEPTION(Name, Base) \
    class Name : public Base {                \
    public:                                   \
        using Base::Base;                     \
    };

VISTREL_DECLARE_EXCEPTION(EAbort, Exception)
VISTREL_DECLARE_EXCEPTION(EConvertError, Exception)
VISTREL_DECLARE_EXCEPTION(EStreamError, Exception)
VISTREL_DECLARE_EXCEPTION(EFileStreamError, EStreamError)
VISTREL_DECLARE_EXCEPTION(EFOpenError, EFileStreamError)
VISTREL_DECLARE_EXCEPTION(EFCreateError, EFileStreamError)
VISTREL_DECLARE_EXCEPTION(EReadError, EStreamError)
VISTREL_DECLARE_EXCEPTION(EWriteError, EStreamError)
VISTREL_DECLARE_EXCEPTION(EStringListError, Exception)
VISTREL_DECLARE_EXCEPTION(EListError, Exception)
VISTREL_DECLARE_EXCEPTION(ERangeError, Exception)
VISTREL_DECLARE_EXCEPTION(EIntOverflow, Exception)
VISTREL_DECLARE_EXCEPTION(EOutOfMemory, Exception)
VISTREL_DECLARE_EXCEPTION(EInvalidOperation, Exception)
VISTREL_DECLARE_EXCEPTION(EOleError, Exception)

// An OLE or COM call that failed, with its result code (an HRESULT).
class EOleSysError : public EOleError {
public:
    EOleSysError(std::string message, std::int32_t code) : EOleError(std::move(message)), ErrorCode(code) {}
    std::int32_t ErrorCode;
};

// The system's text for a COM result code.
std::string OleErrorText(std::int32_t hr);
// Raises EOleSysError for a failing result.
void OleCheck(std::int32_t hr);

// An operating-system failure with its Windows error code.
class EOSError : public Exception {
public:
    EOSError(std::string message, std::uint32_t code) : Exception(std::move(message)), ErrorCode(code) {}
    std::uint32_t ErrorCode;
};

class EInOutError : public Exception {
public:
    EInOutError(std::string message, int code) : Exception(std::move(message)), ErrorCode(code) {}
    int ErrorCode;
};

// printf-style formatting into a string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string IntToStr(long long value);
std::string IntToHex(unsigned long long value, int digits);
// The value of a hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);
// Raises EConvertError "'<text>' is not a valid integer value".
int StrToInt(const std::string& text);
int StrToIntDef(const std::string& text, int defaultValue);
// Parses a whole decimal integer (optional sign, surrounding blanks allowed); false otherwise.
bool TryStrToInt(const std::string& text, int& value);

std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
// Upper and lower case of UTF-8 text character by character, with the
// Unicode simple case mappings (the "ANSI" code page is UTF-8 here): "é"
// becomes "É". Bytes that are no well-formed UTF-8 stay as they are.
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
// The number of bytes of the first character of UTF-8 text: one well-formed
// sequence, else one byte; 0 for empty text.
std::size_t StrCharLength(std::string_view text);
std::string Trim(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
// Position of needle in haystack counted from 1, 0 when absent.
int Pos(std::string_view needle, std::string_view haystack);

// File names use '/' as the path delimiter.
constexpr char PathDelim = '/';
std::string ExtractFilePath(const std::string& fileName);  // keeps the trailing '/'
std::string ExtractFileDir(const std::string& fileName);   // without the trailing '/'
std::string ExtractFileName(const std::string& fileName);
std::string ExtractFileExt(const std::string& fileName);   // with its dot, "" when none
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
// The process's working folder, without a trailing '/' (except the root).
std::string GetCurrentDir();
// A full path: a relative name is taken from the working folder; "." and
// ".." steps and doubled delimiters are taken out by the text alone (a ".."
// after a link goes back along the name, as a shell's cd does). A trailing
// delimiter stays. "" stays "".
std::string ExpandFileName(const std::string& fileName);

bool FileExists(const std::string& fileName);       // an existing non-folder
bool DirectoryExists(const std::string& dirName);
// True when the name itself is a symbolic link (the link is not followed).
bool IsSymbolicLink(const std::string& name);
bool ForceDirectories(const std::string& dirName);
bool DeleteFile(const std::string& fileName);
// Never replaces an existing target, even across file systems.
bool RenameFile(const std::string& oldName, const std::string& newName);
// A second name for an existing file (a hard link); never replaces an
// existing name. False with the last error set where links cannot be made.
bool CreateHardLink(const std::string& newName, const std::string& existingName);
std::int64_t FileSizeOf(const std::string& fileName);  // -1 when it cannot be read

// Writes data to fileName whole or not at all, keeping the file what it was
// (TFileSave). Raises EFCreateError.
void WriteFileAtomically(const std::string& fileName, std::string_view data);

// The full path of the running executable and its folder (with trailing '/').
std::string ExeName();
std::string ExeDir();

// Date-time values: days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
TDateTime Now();
// Local time of a Unix time stamp.
TDateTime UnixToLocalDateTime(std::time_t t);
// The locale's short date and time formats.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
// Date alone at midnight, time alone below 1 (no date), else both.
std::string DateTimeToStr(TDateTime value);
