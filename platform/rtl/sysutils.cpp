#include "sysutils.h"

#include "win/wintypes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

std::string Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    }
    va_end(args);
    return out;
}

std::string IntToStr(long long value) { return std::to_string(value); }

std::string IntToHex(unsigned long long value, int digits)
{
    return Format("%0*llX", digits, value);
}

bool TryStrToInt(const std::string& text, int& value)
{
    const std::string t = Trim(text);
    if (t.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || end == t.c_str() || *end != '\0' || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

int StrToInt(const std::string& text)
{
    int value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

int StrToIntDef(const std::string& text, int defaultValue)
{
    int value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string LowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string UpperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(std::string_view text)
{
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return std::string(text.substr(b, e - b));
}

bool SameText(std::string_view a, std::string_view b) { return LowerCase(a) == LowerCase(b); }

int Pos(std::string_view needle, std::string_view haystack)
{
    const size_t p = haystack.find(needle);
    return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

std::string ExtractFilePath(const std::string& fileName)
{
    const size_t p = fileName.rfind(PathDelim);
    return p == std::string::npos ? std::string() : fileName.substr(0, p + 1);
}

std::string ExtractFileDir(const std::string& fileName)
{
    const size_t p = fileName.rfind(PathDelim);
    if (p == std::string::npos)
        return {};
    return p == 0 ? std::string("/") : fileName.substr(0, p);
}

std::string ExtractFileName(const std::string& fileName)
{
    const size_t p = fileName.rfind(PathDelim);
    return p == std::string::npos ? fileName : fileName.substr(p + 1);
}

std::string ExtractFileExt(const std::string& fileName)
{
    const size_t p = fileName.find_last_of("./");
    if (p == std::string::npos || fileName[p] != '.')
        return {};
    return fileName.substr(p);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& ext)
{
    const size_t p = fileName.find_last_of("./");
    if (p == std::string::npos || fileName[p] != '.')
        return fileName + ext;
    return fileName.substr(0, p) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path)
{
    if (!path.empty() && path.back() == PathDelim)
        return path;
    return path + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& path)
{
    if (path.size() > 1 && path.back() == PathDelim)
        return path.substr(0, path.size() - 1);
    return path;
}

std::string GetCurrentDir()
{
    std::string buffer(PATH_MAX, '\0');
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string ExpandFileName(const std::string& fileName)
{
    if (fileName.empty())
        return fileName;
    const std::string full = fileName[0] == PathDelim ? fileName : IncludeTrailingPathDelimiter(GetCurrentDir()) + fileName;
    std::vector<std::string> steps;
    size_t at = 0;
    while (at <= full.size()) {
        const size_t next = std::min(full.find(PathDelim, at), full.size());
        const std::string step = full.substr(at, next - at);
        if (step == "..") {
            if (!steps.empty())
                steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        at = next + 1;
    }
    std::string out;
    for (const std::string& step : steps)
        out += PathDelim + step;
    if (out.empty())
        return std::string(1, PathDelim);
    const char last = full.back();
    const bool folderForm = last == PathDelim || full.ends_with("/.") || full.ends_with("/..") || full == "." || full == "..";
    if (folderForm)
        out += PathDelim;
    return out;
}

bool FileExists(const std::string& fileName)
{
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& dirName)
{
    struct stat st {};
    return !dirName.empty() && ::stat(dirName.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const std::string& name)
{
    struct stat st {};
    return !name.empty() && ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ForceDirectories(const std::string& dirName)
{
    const std::string dir = ExcludeTrailingPathDelimiter(dirName);
    if (dir.empty())
        return false;
    if (DirectoryExists(dir))
        return true;
    const std::string parent = ExtractFileDir(dir);
    if (!parent.empty() && parent != dir && !ForceDirectories(parent))
        return false;
    if (::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST)
        return DirectoryExists(dir);
    SetLastErrorFromErrno();
    return false;
}

bool DeleteFile(const std::string& fileName)
{
    if (::unlink(fileName.c_str()) == 0)
        return true;
    SetLastErrorFromErrno();
    return false;
}

namespace {

bool RenameNoReplace(const std::string& oldName, const std::string& newName)
{
    return ::syscall(SYS_renameat2, AT_FDCWD, oldName.c_str(), AT_FDCWD, newName.c_str(), RENAME_NOREPLACE) == 0;
}

// On a file system that ignores letter case (vfat, exfat) a new name that
// differs from the old one in case alone finds the file itself, so a rename
// that may not replace refuses it, and a plain rename does nothing. Only
// then, when both names lead to one entry of one folder (one inode with one
// link, or one folder), the file goes through a temporary name beside it.
// A failed second step takes the old name back. Answers false with errno
// set: EEXIST when the names lead to two entries.
bool RenameChangingCase(const std::string& oldName, const std::string& newName)
{
    const std::string folder = ExtractFilePath(oldName);
    struct stat a {}, b {};
    const bool oneEntry = folder == ExtractFilePath(newName) && ::lstat(oldName.c_str(), &a) == 0
        && ::lstat(newName.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino
        && (S_ISDIR(a.st_mode) || a.st_nlink == 1);
    if (!oneEntry) {
        errno = EEXIST;
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = folder + Format(".vistrel-rename-%d-%d", static_cast<int>(::getpid()), attempt);
        if (!RenameNoReplace(oldName, temp)) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (RenameNoReplace(temp, newName))
            return true;
        const int err = errno;
        RenameNoReplace(temp, oldName);
        errno = err;
        return false;
    }
    errno = EEXIST;
    return false;
}

} // namespace

bool RenameFile(const std::string& oldName, const std::string& newName)
{
    if (RenameNoReplace(oldName, newName) || (errno == EEXIST && RenameChangingCase(oldName, newName)))
        return true;
    SetLastErrorFromErrno();
    return false;
}

bool CreateHardLink(const std::string& newName, const std::string& existingName)
{
    if (::link(existingName.c_str(), newName.c_str()) == 0)
        return true;
    SetLastErrorFromErrno();
    return false;
}

std::int64_t FileSizeOf(const std::string& fileName)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return -1;
    return st.st_size;
}


std::string ExeName()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string ExeDir() { return ExtractFilePath(ExeName()); }

namespace {
// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

// Days since 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

std::tm ToTm(TDateTime value)
{
    std::tm tm {};
    int y, mo, d, h, mi, s, ms;
    DecodeDate(value, y, mo, d);
    DecodeTime(value, h, mi, s, ms);
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return tm;
}

std::string Strftime(const char* fmt, const std::tm& tm)
{
    char buf[128];
    const size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
    return std::string(buf, n);
}
}

TDateTime EncodeDate(int year, int month, int day)
{
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) + kUnixEpochDays;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec)
{
    return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day)
{
    const long long days = static_cast<long long>(std::floor(value)) - static_cast<long long>(kUnixEpochDays);
    CivilFromDays(days, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec)
{
    const double frac = value - std::floor(value);
    long long ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000)
        ms = 86399999;
    hour = static_cast<int>(ms / 3600000);
    minute = static_cast<int>(ms / 60000 % 60);
    second = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

TDateTime UnixToLocalDateTime(std::time_t t)
{
    std::tm tm {};
    ::localtime_r(&t, &tm);
    return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) + EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, 0);
}

TDateTime Now() { return UnixToLocalDateTime(std::time(nullptr)); }

std::string DateToStr(TDateTime value) { return Strftime("%x", ToTm(value)); }
std::string TimeToStr(TDateTime value) { return Strftime("%X", ToTm(value)); }

std::string DateTimeToStr(TDateTime value)
{
    if (value < 1 && value >= 0)
        return TimeToStr(value);
    if (value == std::floor(value))
        return DateToStr(value);
    return DateToStr(value) + " " + TimeToStr(value);
}

std::string OleErrorText(std::int32_t hr)
{
    if ((static_cast<std::uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u)
        return SysErrorMessage(static_cast<DWORD>(hr) & 0xFFFFu);
    switch (hr) {
    case E_FAIL:
        return "Unspecified error";
    case E_NOTIMPL:
        return "Not implemented";
    case E_NOINTERFACE:
        return "No such interface supported";
    case E_POINTER:
        return "Invalid pointer";
    case E_UNEXPECTED:
        return "Catastrophic failure";
    case REGDB_E_CLASSNOTREG:
        return "Class not registered";
    default:
        return Format("OLE error %08X", static_cast<unsigned>(hr));
    }
}

void OleCheck(std::int32_t hr)
{
    if (FAILED(hr))
        throw EOleSysError(OleErrorText(hr), hr);
}
