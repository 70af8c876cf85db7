#include "zadgbls.h"

#include "archive/zadstreams.h"
#include "kernel/kernel.h"
#include "rtl/unicode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// ---- paths ---------------------------------------------------------------------

std::string SlashSep(const std::string& path, const std::string& name)
{
    if (path.empty())
        return {};
    if (path.back() == '/')
        return path + name;
    return path + '/' + name;
}

std::string _AppendDirTail(const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return path;
    return path + '/';
}

std::string RemoveDirTail(const std::string& path)
{
    if (!path.empty() && path.back() == '/')
        return path.substr(0, path.size() - 1);
    return path;
}

std::string AppendDrive(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    return "/" + path;
}

BYTE ExtractFilenameOnly(const char* name)
{
    size_t n = 0;
    while (name[n] && name[n] != '.' && n < 255)
        ++n;
    return static_cast<BYTE>(n);
}

std::string ExtractFilenameOnly(const std::string& fileName)
{
    const std::string name = ExtractFileName(fileName);
    return name.substr(0, name.find('.'));
}

std::string ChangeFileExtTmp(const std::string& fileName)
{
    const std::string ext = _ExtractFileExt(fileName);
    if (ext.size() >= 4)
        return ChangeFileExt(fileName, ".~" + ext.substr(1, ext.size() - 2));
    if (ext.size() >= 2)
        return ChangeFileExt(fileName, ".~" + ext.substr(1));
    return fileName + ".~" + ext;
}

std::string _ExtractFileName(const std::string& fileName) { return ExtractFileName(fileName); }
std::string _ExtractFileDir(const std::string& fileName) { return ExtractFileDir(fileName); }
std::string _ExtractFilePath(const std::string& fileName) { return ExtractFilePath(fileName); }
std::string _ExtractFileExt(const std::string& fileName) { return ExtractFileExt(fileName); }
std::string _ChangeFileExt(const std::string& fileName, const std::string& ext) { return ChangeFileExt(fileName, ext); }

std::string _ExtractFileDrive(const std::string& fileName)
{
    // The mount point of the nearest existing folder on the path.
    std::string p = fileName.empty() ? std::string(".") : fileName;
    std::string mp;
    while (true) {
        mp = GetMountPointOf(p);
        if (!mp.empty() || p.empty() || p == "/")
            break;
        const size_t slash = RemoveDirTail(p).find_last_of('/');
        p = slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : p.substr(0, slash));
    }
    return RemoveDirTail(mp);
}

bool IsDrivePath(const char* p, int len)
{
    if (!p || len < 1)
        return false;
    return p[0] == '/' && !(len >= 2 && p[1] == '/');
}

bool IsUncPath(const std::string& path) { return path.size() >= 3 && path[0] == '/' && path[1] == '/'; }

// ---- file-name filters --------------------------------------------------------------


std::string DOSToUnixFilename(const std::string& name)
{
    std::string s = name;
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

std::string UnixToDosFilename(const std::string& name)
{
    std::string s = name;
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::string OemToUtf8(const std::string& oem) { return Cp437ToUtf8(oem); }

std::string Utf8ToOem(const std::string& text) { return Utf8ToCp437(text); }

std::string _OemToCharFilter(const std::string& name, bool translate)
{
    if (name.empty())
        return name;
    return DOSToUnixFilename(translate ? OemToUtf8(name) : name);
}

bool IsValidUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceAt(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string ValidUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceAt(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

std::string ArchiveNameToUtf8(const std::string& raw, TNameCoding coding, bool translate)
{
    if (coding == ncUnknown) {
        const bool plain = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        coding = !plain && IsValidUtf8(raw) ? ncUtf8 : ncOem;
    }
    if (coding == ncUtf8)
        return DOSToUnixFilename(ValidUtf8(raw));
    return _OemToCharFilter(raw, translate);
}

std::string CharToUnixOemFilter(const std::string& name, bool translate)
{
    const std::string s = DOSToUnixFilename(name);
    return translate ? Utf8ToOem(s) : s;
}

std::string CharToOemFilter(const std::string& name, bool translate)
{
    return translate && !name.empty() ? Utf8ToOem(name) : name;
}

std::string DecodeDir(const std::string& dir)
{
    std::string s = dir;
    bool trail = false;
    for (char& ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (trail) {
            trail = false;
            continue;
        }
        if ((c >= 0x80 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFD)) {
            trail = true;
            continue;
        }
        if (c == '/' || c == 0xFF || c == '\\')
            ch = '/';
    }
    // Trim blanks and control characters.
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// ---- files and folders ------------------------------------------------------------------

bool _FileExists(const std::string& name)
{
    std::uint32_t attr = 0;
    return _FileExists(name, attr);
}

bool _FileExists(const std::string& name, std::uint32_t& attr)
{
    WIN32_FIND_DATAA fd;
    const HANDLE h = FindFirstFileA(name, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    attr = fd.dwFileAttributes;
    FindClose(h);
    return true;
}

bool _DirectoryExists(const std::string& path)
{
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsWriteable(const std::string& fileName)
{
    const DWORD a = GetFileAttributesA(fileName);
    if (a == INVALID_FILE_ATTRIBUTES)
        return false;
    return !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
}

int VerifyAttr(int attr) { return attr & 0x40BF; }

bool _SetFileAttributes(const std::string& fileName, std::uint32_t attr) { return SetFileAttributesA(fileName, attr); }
bool _DeleteFile(const std::string& fileName) { return DeleteFileA(fileName); }

bool _EraseFile(const std::string& fileName, TDeleteOptions options)
{
    std::uint32_t attr = 0;
    const bool exists = _FileExists(fileName, attr);
    if (options == doAllowUndo) {
        if (!exists)
            return false;
        return MoveToTrash(fileName);
    }
    if (exists && (attr & FILE_ATTRIBUTE_READONLY))
        _SetFileAttributes(fileName, attr & ~FILE_ATTRIBUTE_READONLY);
    return _DeleteFile(fileName);
}

bool CreateDirEx(const std::string& path)
{
    if (path.empty())
        return false;
    if (_DirectoryExists(path))
        return true;
    std::string full = path[0] == '/' ? path : _GetCurrentDir() + path;
    full = _AppendDirTail(full);
    for (size_t i = 1; i < full.size(); ++i)
        if (full[i] == '/')
            CreateDirectoryA(full.substr(0, i));
    return _DirectoryExists(path);
}

bool isDirEmpty(const std::string& dir)
{
    WIN32_FIND_DATAA fd;
    const HANDLE h = FindFirstFileA(SlashSep(dir, "*.*"), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do {
        if (fd.cFileName == "." || fd.cFileName == "..")
            continue;
        // Dot folders are hidden here; they are skipped by name before the
        // attribute test, as the system's dot folders were.
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.cFileName[0] == '.')
            continue;
        if (fd.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY) {
            empty = false;
            break;
        }
        if (!isDirEmpty(_AppendDirTail(SlashSep(dir, fd.cFileName)))) {
            empty = false;
            break;
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return empty;
}

std::string GetTempPathStr()
{
    const std::string p = GetTempPathA();
    if (p.size() > 259)
        return {};
    return p;
}

std::string _GetCurrentDir() { return GetCurrentDirectoryA(); }

bool _SetCurrentDir(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return false;
    return SetCurrentDirectoryA(slash == 0 ? std::string("/") : path.substr(0, slash));
}

std::string _SelectDirectory(const std::string&) { return {}; }

std::string GetTempFileNameStr(const std::string& dir)
{
    std::string d = dir;
    if (!d.empty() && !_DirectoryExists(d))
        CreateDirEx(d);
    if (d.empty() || !_DirectoryExists(d))
        d = GetTempPathStr();
    if (d.size() > 260)
        return {};
    return GetTempFileNameA(d, "zad");
}

// ---- names from archive data ------------------------------------------------------------

int ReadFilename_NullTerminate(TStream32* stream, std::int64_t& pos, std::string& name)
{
    stream->SetPosition(pos);
    char buf[256];
    const std::int32_t n = stream->Read(buf, sizeof buf);
    const std::int32_t got = std::max<std::int32_t>(n, 0);
    const void* zero = std::memchr(buf, 0, static_cast<size_t>(got));
    const size_t len = zero ? static_cast<size_t>(static_cast<const char*>(zero) - buf) : static_cast<size_t>(got);
    name.assign(buf, len);
    pos += static_cast<std::int64_t>(len) + 1;
    return static_cast<int>(len + 1);
}

void ReadFilename_DefinedLen(TStream32* stream, BYTE len, std::string& name)
{
    name.assign(len, '\0');
    if (len)
        stream->ReadBuffer(name.data(), len);
}

std::uint32_t ReadFilename_DefinedLen(TStream32* stream, std::int64_t& pos, BYTE len, std::string& name)
{
    stream->SetPosition(pos);
    ReadFilename_DefinedLen(stream, len, name);
    pos += len;
    return len;
}

void GetFilenameFromBuffer(const char* buf, int count, int& pos, std::string& name)
{
    name.clear();
    while (pos < count && name.size() < 255) {
        name += buf[pos++];
        if (pos >= count || buf[pos] == '\r' || buf[pos] == '\n' || buf[pos] == '\0' || buf[pos] == '"') {
            pos = count;
            return;
        }
    }
}

bool IsGZipSignAttr(int sign)
{
    switch (sign) {
    case 0x1E1F:
    case 0x8B1F:
    case 0x9D1F:
    case 0x9E1F:
    case 0xA01F: return true;
    default: return false;
    }
}

int SwapWords(int value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return static_cast<int>((v >> 16) | (v << 16));
}

// ---- memory and text --------------------------------------------------------------------

bool CompareMem(const void* p1, const void* p2, int len)
{
    if (len <= 0)
        return true;
    return std::memcmp(p1, p2, static_cast<size_t>(len)) == 0;
}

void CopyMem(const void* source, void* dest, int len)
{
    const auto* s = static_cast<const volatile std::uint8_t*>(source);
    auto* d = static_cast<volatile std::uint8_t*>(dest);
    for (int i = 0; i < len; ++i)
        d[i] = s[i];
}

void GetToken(std::string& s, const std::string& sep, std::string& token)
{
    const size_t p = sep.empty() ? std::string::npos : s.find(sep);
    if (p == std::string::npos) {
        token = s;
        s.clear();
        return;
    }
    token = s.substr(0, p);
    s.erase(0, p + sep.size());
}

void StrToTStrings(std::string text, TStringList& list)
{
    const size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    std::string piece;
    for (char c : text) {
        if (c == ',' || c == ';') {
            if (!piece.empty())
                list.Add(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty())
        list.Add(piece);
}

std::string TStringsToStr(const TStringList& list, char sep)
{
    if (sep != '\0' && sep != ' ' && sep != ',' && sep != ';')
        return {};
    std::string out;
    for (int i = 0; i < list.Count(); ++i) {
        if (i > 0 && sep != '\0')
            out += sep;
        out += list[i];
    }
    return out;
}

std::string UnformatNumber(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (c >= '0' && c <= '9')
            out += c;
    return out;
}

std::string ShortName(const std::function<int(const std::string&)>& measure, int room, const std::string& path)
{
    std::string result = path;
    std::string dir = ExtractFilePath(path);
    std::string name = ExtractFileName(path);
    const std::string ext = ExtractFileExt(path);
    name = name.substr(0, name.find('.'));
    if (!ext.empty() && name.size() + ext.size() < ExtractFileName(path).size())
        name = ExtractFileName(path).substr(0, ExtractFileName(path).size() - ext.size());
    // The mount-point root plays the part of the drive: "/" stays in front.
    std::string drive;
    while (!dir.empty() || !drive.empty()) {
        if (!measure || measure(result) <= room)
            break;
        if (dir == "/.../") {
            drive.clear();
            dir = ".../";
        } else if (!dir.empty()) {
            if (dir == "/") {
                dir.clear();
            } else {
                const bool lead = dir[0] == '/';
                if (lead)
                    dir.erase(0, 1);
                if (!dir.empty() && dir[0] == '.')
                    dir.erase(0, std::min<size_t>(4, dir.size()));
                const size_t slash = dir.find('/');
                dir = slash == std::string::npos ? std::string() : ".../" + dir.substr(slash + 1);
                if (lead)
                    dir = "/" + dir;
                if (dir == "/")
                    dir.clear();
            }
        } else {
            drive.clear();
        }
        result = drive + dir + name + ext;
    }
    return result;
}

// ---- dates ------------------------------------------------------------------------------

namespace {

TIME_ZONE_INFORMATION g_tzInfo;
DWORD g_tzMode = TIME_ZONE_ID_INVALID;
bool g_tzRead = false;

void EnsureTimeZone()
{
    if (!g_tzRead) {
        g_tzMode = GetTimeZoneInformation(&g_tzInfo);
        g_tzRead = true;
    }
}

// Day of the week of a date-time, Sunday = 0 (1899-12-30 was a Saturday).
int WeekDay(TDateTime d)
{
    const long long days = static_cast<long long>(std::floor(d));
    return static_cast<int>(((days + 6) % 7 + 7) % 7);
}

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(static_cast<WORD>(year)) ? 29 : days[month - 1];
}

TDateTime RuleDate(int year, const SYSTEMTIME& rule)
{
    TDateTime d = EncodeDate(year, rule.wMonth, 1);
    const TDateTime time = EncodeTime(rule.wHour, rule.wMinute, 0, 0);
    if (rule.wDay >= 1 && rule.wDay <= 4) {
        while (WeekDay(d) != rule.wDayOfWeek)
            d += 1;
        d += 7.0 * (rule.wDay - 1);
        return d + time;
    }
    if (rule.wDay == 5) {
        d = AddMonths(1, d) - 1;
        while (WeekDay(d) != rule.wDayOfWeek)
            d -= 1;
        return d + time;
    }
    return d;
}

TDateTime AbsoluteDate(const SYSTEMTIME& s)
{
    return EncodeDate(s.wYear, s.wMonth, std::max<int>(1, s.wDay)) + EncodeTime(s.wHour, s.wMinute, 0, 0);
}

TDateTime ShiftMinutes(TDateTime d, long minutes) { return d + static_cast<double>(minutes) / 1440.0; }

// Days since 1970-01-01 of a Gregorian date.
long long DaysFromEpoch(int y, int m, int d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool IsLeapYear(WORD year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

TDateTime AddMonths(int months, TDateTime date)
{
    int y, m, d;
    DecodeDate(date, y, m, d);
    y += months / 12;
    m += months % 12;
    if (m < 1) {
        m += 12;
        --y;
    } else if (m > 12) {
        m -= 12;
        ++y;
    }
    d = std::min(d, DaysInMonth(y, m));
    return EncodeDate(y, m, d) + (date - std::floor(date));
}

void ReloadTimeZoneInformation()
{
    g_tzRead = false;
    EnsureTimeZone();
}

bool IsDaylightTime(TDateTime date)
{
    EnsureTimeZone();
    const TIME_ZONE_INFORMATION& tz = g_tzInfo;
    if (tz.DaylightDate.wMonth == 0)
        return false;
    int year, m, d;
    DecodeDate(date, year, m, d);
    TDateTime daylightStart, standardStart;
    if (tz.StandardDate.wYear == 0) {
        daylightStart = RuleDate(year, tz.DaylightDate);
        standardStart = RuleDate(year, tz.StandardDate);
    } else {
        daylightStart = AbsoluteDate(tz.DaylightDate);
        standardStart = AbsoluteDate(tz.StandardDate);
    }
    if (tz.DaylightDate.wMonth < tz.StandardDate.wMonth)
        return daylightStart <= date && date < standardStart;
    return date < standardStart || date >= daylightStart;
}

TDateTime LocalTimeToUniversal(TDateTime date)
{
    EnsureTimeZone();
    const long minutes = g_tzInfo.Bias + (IsDaylightTime(date) ? g_tzInfo.DaylightBias : g_tzInfo.StandardBias);
    return ShiftMinutes(date, minutes);
}

TDateTime UniversalTimeToLocal(TDateTime date)
{
    EnsureTimeZone();
    const long minutes = g_tzInfo.Bias + (IsDaylightTime(date) ? g_tzInfo.DaylightBias : g_tzInfo.StandardBias);
    return ShiftMinutes(date, -minutes);
}

std::int64_t DosDateToUnix(TDateTime date)
{
    const TDateTime u = LocalTimeToUniversal(date);
    int y, mo, d, h, mi, s, ms;
    DecodeDate(u, y, mo, d);
    DecodeTime(u, h, mi, s, ms);
    return DaysFromEpoch(y, mo, d) * 86400LL + h * 3600 + mi * 60 + s;
}

TDateTime UnixTimeToDateTime(const TUnixTime& time)
{
    // Floor division keeps times before 1970 before 1970.
    long long days = time.Seconds / 86400;
    long long rest = time.Seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const double fraction = (static_cast<double>(rest) + time.Nanoseconds / 1e9) / 86400.0;
    return UniversalTimeToLocal(static_cast<double>(days) + 25569.0 + fraction);
}

TDateTime UnixDateToDos(std::int32_t seconds)
{
    if (seconds == 0)
        return kFallbackDate;
    // Floor division keeps times before 1970 before 1970, and midnight at 00:00:00.
    const long long s = seconds;
    long long days = s / 86400;
    long long rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const TDateTime utc = static_cast<double>(days) + 25569.0 +
                          EncodeTime(static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60), 0);
    return UniversalTimeToLocal(utc);
}

TDateTime zadConvertDate(std::int32_t dosDateTime)
{
    auto v = static_cast<std::uint32_t>(dosDateTime);
    if (v == 0)
        v = static_cast<std::uint32_t>(kFallbackDosDate);
    const int year = static_cast<int>((v >> 25) & 0x7F) + 1980;
    const int month = static_cast<int>((v >> 21) & 0x0F);
    const int day = static_cast<int>((v >> 16) & 0x1F);
    const int hour = static_cast<int>((v >> 11) & 0x1F);
    const int minute = static_cast<int>((v >> 5) & 0x3F);
    const int sec2 = static_cast<int>(v & 0x1F);
    if (hour > 23 || minute > 59 || sec2 > 29)
        return kFallbackDate;
    TDateTime date = kFallbackDate;
    if (month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month))
        date = EncodeDate(year, month, day);
    return date + EncodeTime(hour, minute, sec2 * 2, 0);
}

std::int32_t DateTimeToDosDateTime(TDateTime date)
{
    int y, mo, d, h, mi, s, ms;
    DecodeDate(date, y, mo, d);
    DecodeTime(date, h, mi, s, ms);
    if (y < 1980 || y > 2107)
        return kFallbackDosDate;
    const std::uint32_t v = (static_cast<std::uint32_t>(y - 1980) << 25) | (static_cast<std::uint32_t>(mo) << 21) |
                            (static_cast<std::uint32_t>(d) << 16) | (static_cast<std::uint32_t>(h) << 11) |
                            (static_cast<std::uint32_t>(mi) << 5) | static_cast<std::uint32_t>(s / 2);
    return static_cast<std::int32_t>(v);
}

std::int32_t FileTimeToInt(std::uint32_t low, std::uint32_t high)
{
    FILETIME ft{low, high}, local;
    WORD date = 0, time = 0;
    if (FileTimeToLocalFileTime(&ft, &local))
        FileTimeToDosDateTime(&local, &date, &time);
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

std::int32_t UnixTimeToLocalDosDateTime(std::int64_t unixSeconds)
{
    const FILETIME ft = FileTimeFromUnix(unixSeconds);
    return FileTimeToInt(ft.dwLowDateTime, ft.dwHighDateTime);
}

// ---- octal text ---------------------------------------------------------------------------

std::int32_t OctStrToInt(const std::string& s)
{
    std::uint32_t r = 0;
    for (char c : s)
        if (c >= '0' && c <= '7')
            r = r * 8 + static_cast<std::uint32_t>(c - '0');
    return static_cast<std::int32_t>(r);
}

void IntToOctStr(std::uint32_t value, int len, bool nullTerminate, char* buf)
{
    if (len <= 0)
        return;
    std::memset(buf, '0', static_cast<size_t>(len));
    buf[len - 1] = nullTerminate ? '\0' : ' ';
    for (int i = len - 2; i >= 0 && value != 0; --i) {
        buf[i] = static_cast<char>('0' + (value & 7));
        value >>= 3;
    }
}

// ---- RAR names ------------------------------------------------------------------------------

void DecodeRarFN(const char* name, const std::uint8_t* encName, int encSize, char16_t* nameW, int maxDecSize)
{
    if (maxDecSize <= 0)
        return;
    if (encSize <= 0) {
        nameW[0] = 0;
        return;
    }
    int encPos = 0, decPos = 0, flagBits = 0;
    std::uint8_t flags = 0;
    const std::uint8_t highByte = encName[encPos++];
    while (encPos < encSize && decPos < maxDecSize) {
        if (flagBits == 0) {
            flags = encName[encPos++];
            flagBits = 8;
        }
        switch (flags >> 6) {
        case 0:
            if (encPos >= encSize)
                break;
            nameW[decPos++] = encName[encPos++];
            break;
        case 1:
            if (encPos >= encSize)
                break;
            nameW[decPos++] = static_cast<char16_t>(encName[encPos++] + (highByte << 8));
            break;
        case 2:
            if (encPos + 1 >= encSize) {
                encPos = encSize;
                break;
            }
            nameW[decPos++] = static_cast<char16_t>(encName[encPos] | (encName[encPos + 1] << 8));
            encPos += 2;
            break;
        case 3: {
            if (encPos >= encSize)
                break;
            int length = encName[encPos++];
            if (length & 0x80) {
                if (encPos >= encSize)
                    break;
                const std::uint8_t correction = encName[encPos++];
                for (length = (length & 0x7F) + 2; length > 0 && decPos < maxDecSize; --length, ++decPos)
                    nameW[decPos] = static_cast<char16_t>(((static_cast<std::uint8_t>(name[decPos]) + correction) & 0xFF) + (highByte << 8));
            } else {
                for (length += 2; length > 0 && decPos < maxDecSize; --length, ++decPos)
                    nameW[decPos] = static_cast<std::uint8_t>(name[decPos]);
            }
            break;
        }
        }
        flags = static_cast<std::uint8_t>(flags << 2);
        flagBits -= 2;
    }
    nameW[decPos < maxDecSize ? decPos : maxDecSize - 1] = 0;
}


// ---- attributes, methods, ratios ---------------------------------------------------------

std::string WinAttrToString(int attr, char filler)
{
    std::string s(5, filler);
    if (attr & 0x20)
        s[0] = 'a';
    if (attr & 0x10)
        s[0] = 'd';
    if (attr & 0x01)
        s[1] = 'r';
    if (attr & 0x04)
        s[2] = 's';
    if (attr & 0x02)
        s[3] = 'h';
    if (attr & 0x4000)
        s[3] = 'e';
    return s;
}

std::string UnixAttrToStr(int mode, char filler)
{
    std::string s(10, filler);
    auto exec = [](bool x, bool special, char filler) { return x && special ? 's' : x ? 'x' : special ? 'S' : filler; };
    if (mode & 0x4000)
        s[0] = 'd';
    if (mode & 0x100)
        s[1] = 'r';
    if (mode & 0x80)
        s[2] = 'w';
    s[3] = exec(mode & 0x40, mode & 0x800, filler);
    if (mode & 0x20)
        s[4] = 'r';
    if (mode & 0x10)
        s[5] = 'w';
    s[6] = exec(mode & 0x08, mode & 0x400, filler);
    if (mode & 0x04)
        s[7] = 'r';
    if (mode & 0x02)
        s[8] = 'w';
    if (mode & 0x01)
        s[9] = 'x';
    return s;
}

const char* const EncryptionMethodStr[10] = {"none",     "unknown",  "Zip_V2",   "Aes1_128", "Aes1_192",
                                             "Aes1_256", "Aes2_128", "Aes2_192", "Aes2_256", "unsupported"};

std::string GetDeflateMethodStr(WORD flag)
{
    static const char* names[4] = {"DFLT-N", "DFLT-X", "DFLT-F", "DFLT-S"};
    return names[(flag & ~6u) == 0 ? flag >> 1 : 0];
}

std::string GetDeflateMethodStr64(WORD flag)
{
    static const char* names[4] = {"DFLT-64N", "DFLT-64X", "DFLT-64F", "DFLT-64S"};
    return names[(flag & ~6u) == 0 ? flag >> 1 : 0];
}

namespace {

// (unpacked - packed) * 100 / unpacked rounded half to even, exactly.
int RatioExact(__int128 packed, __int128 unpacked)
{
    if (unpacked <= 0 || unpacked <= packed)
        return 0;
    const __int128 num = (unpacked - packed) * 100;
    __int128 q = num / unpacked;
    const __int128 r = num % unpacked;
    if (2 * r > unpacked || (2 * r == unpacked && (q & 1)))
        ++q;
    return static_cast<int>(q);
}

BYTE ProgressExact(__int128 done, __int128 total)
{
    if (total <= 0 || done <= 0)
        return 0;
    const __int128 num = done * 100;
    __int128 q = num / total;
    const __int128 r = num % total;
    if (2 * r > total || (2 * r == total && (q & 1)))
        ++q;
    return static_cast<BYTE>(q > 100 ? 100 : q);
}

}  // namespace

int CalcRatio(std::int32_t packedSize, std::int32_t unpackedSize) { return RatioExact(packedSize, unpackedSize); }
int CalcRatio(std::int64_t packedSize, std::int64_t unpackedSize) { return RatioExact(packedSize, unpackedSize); }

int CalcRatio(double packedSize, double unpackedSize)
{
    if (!(unpackedSize > 0) || unpackedSize <= packedSize)
        return 0;
    return static_cast<int>(std::nearbyint((unpackedSize - packedSize) * 100.0 / unpackedSize));
}

BYTE CalcProgress64(std::int64_t done, std::int64_t total) { return ProgressExact(done, total); }
BYTE CalcProgress32(std::uint32_t done, std::uint32_t total) { return ProgressExact(done, total); }

BYTE CalcProgressDbl(double done, double total)
{
    if (!(total > 0))
        return 0;
    const double v = std::nearbyint(static_cast<long double>(done) * 100.0L / total);
    if (v < 0 || std::isnan(v))
        return 0;
    return static_cast<BYTE>(v > 100 ? 100 : v);
}
