#include "sysutils.h"

#include "win/wintypes.h"

#include <algorithm>
#include <atomic>
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
#include <sys/xattr.h>
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

void WriteFileAtomically(const std::string& fileName, std::string_view data)
{
    TAtomicFileWriter out(fileName);
    out.Write(data);
    out.Commit();
}

int CreateUnnamedFile(const std::string& folder)
{
    return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

bool NameUnnamedFile(int handle, const std::string& folder, std::string& name)
{
    // A link from the descriptor's entry in /proc needs no privilege, unlike
    // linkat with AT_EMPTY_PATH.
    const std::string self = "/proc/self/fd/" + std::to_string(handle);
    static std::atomic<unsigned> counter {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = folder
            + Format(".vistrel-%d-%u-%d", static_cast<int>(::getpid()), counter.fetch_add(1), attempt);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool RenameKeepsIdentity(const struct stat& st, int handle, int newHandle)
{
    if (st.st_nlink != 1 || st.st_uid != ::geteuid() || (st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) != 0
        || ::flistxattr(handle, nullptr, 0) > 0)
        return false;
    struct stat n {};
    if (::fstat(newHandle, &n) == 0 && n.st_gid != st.st_gid)
        (void)::fchown(newHandle, static_cast<uid_t>(-1), st.st_gid);
    (void)::fchmod(newHandle, st.st_mode & 07777);
    return ::fstat(newHandle, &n) == 0 && n.st_uid == st.st_uid && n.st_gid == st.st_gid
        && (n.st_mode & 07777) == (st.st_mode & 07777) && ::flistxattr(newHandle, nullptr, 0) <= 0;
}

namespace {

// The file a save writes: a final symbolic link is followed, so that the
// link stays and the file it leads to receives the contents.
std::string FollowFinalLink(const std::string& fileName)
{
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return fileName;
    if (char* full = ::realpath(fileName.c_str(), nullptr)) {
        std::string out(full);
        std::free(full);
        return out;
    }
    return fileName;
}

} // namespace

TAtomicFileWriter::TAtomicFileWriter(const std::string& fileName) : m_fileName(fileName)
{
    // No name, or a folder's: nothing could take its place at the end, so
    // nothing is written first.
    m_target = fileName.empty() ? fileName : FollowFinalLink(fileName);
    struct stat st {};
    if (fileName.empty() || (::stat(m_target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        FailWith(fileName.empty() ? ENOENT : EISDIR);
    m_folder = ExtractFilePath(m_target);
    m_handle = CreateUnnamedFile(m_folder);
    if (m_handle >= 0)
        return;
    // File systems without unnamed files: a hidden name that every failure
    // removes.
    m_tempName = m_folder + ".vistrel-XXXXXX";
    m_handle = ::mkostemp(m_tempName.data(), O_CLOEXEC);
    if (m_handle < 0) {
        m_tempName.clear();
        Fail();
    }
    ::fchmod(m_handle, 0644);
}

TAtomicFileWriter::~TAtomicFileWriter() { Discard(); }

void TAtomicFileWriter::Discard()
{
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
    if (!m_tempName.empty())
        ::unlink(m_tempName.c_str());
    m_tempName.clear();
}

void TAtomicFileWriter::Fail() { FailWith(errno); }

void TAtomicFileWriter::FailWith(int err)
{
    errno = err;
    const DWORD code = SetLastErrorFromErrno();
    Discard();
    throw EFCreateError(Format("Cannot create file \"%s\". %s", m_fileName.c_str(), (SysErrorMessage(code) + ".").c_str()));
}

void TAtomicFileWriter::Write(std::string_view data)
{
    if (m_handle < 0)
        FailWith(EBADF);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(m_handle, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail();
        }
        done += static_cast<size_t>(n);
    }
    m_written += static_cast<std::int64_t>(done);
}

void TAtomicFileWriter::NameTemporaryFile()
{
    if (m_tempName.empty() && !NameUnnamedFile(m_handle, m_folder, m_tempName))
        Fail();
}

void TAtomicFileWriter::PutInPlace()
{
    NameTemporaryFile();
    const int handle = m_handle;
    m_handle = -1;
    if (::close(handle) != 0)
        Fail();
    if (::rename(m_tempName.c_str(), m_target.c_str()) != 0)
        Fail();
    m_tempName.clear();
    // The new name itself is made lasting with the folder.
    const int dir = ::open(m_folder.empty() ? "." : m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void TAtomicFileWriter::CopyIntoTarget(std::int64_t size)
{
    // The target is written over from its start and then cut to the new
    // length, so that it keeps its inode and with it every name, its owner
    // and its permissions.
    const int out = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (out < 0)
        Fail();
    std::vector<char> buffer(std::size_t(1) << 20);
    std::int64_t done = 0;
    int err = 0;
    // Room for a longer content is taken first: a full disk then leaves the
    // old content as it was.
    struct stat now {};
    if (::fstat(out, &now) == 0 && size > now.st_size) {
        const int r = ::posix_fallocate(out, now.st_size, size - now.st_size);
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL) {
            (void)::ftruncate(out, now.st_size);
            ::close(out);
            FailWith(r);
        }
    }
    while (done < size && !err) {
        const ssize_t n = ::pread(m_handle, buffer.data(),
            static_cast<size_t>(std::min<std::int64_t>(size - done, static_cast<std::int64_t>(buffer.size()))), done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            err = n < 0 ? errno : EIO;
            break;
        }
        ssize_t put = 0;
        while (put < n) {
            const ssize_t w = ::pwrite(out, buffer.data() + put, static_cast<size_t>(n - put), done + put);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                err = errno;
                break;
            }
            put += w;
        }
        done += put;
    }
    if (!err && ::ftruncate(out, size) != 0)
        err = errno;
    if (!err && ::fsync(out) != 0)
        err = errno;
    if (::close(out) != 0 && !err)
        err = errno;
    if (err)
        FailWith(err);
    Discard();
}

void TAtomicFileWriter::Commit()
{
    if (m_handle < 0)
        FailWith(EBADF);
    // On the disk before it takes the target's place: a crash never leaves a
    // short file where the user's file was.
    if (::fsync(m_handle) != 0)
        Fail();
    struct stat old {};
    if (::stat(m_target.c_str(), &old) != 0) {
        if (errno != ENOENT)
            Fail();
        PutInPlace();
        return;
    }
    // Only a regular file the user may write is replaced.
    if (!S_ISREG(old.st_mode))
        FailWith(S_ISDIR(old.st_mode) ? EISDIR : EACCES);
    if (::access(m_target.c_str(), W_OK) != 0)
        Fail();
    // A rename keeps nothing of the old file but its name: otherwise the new
    // contents go into the old file.
    const int oldHandle = ::open(m_target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    const bool replace = oldHandle >= 0 && RenameKeepsIdentity(old, oldHandle, m_handle);
    if (oldHandle >= 0)
        ::close(oldHandle);
    if (!replace) {
        CopyIntoTarget(m_written);
        return;
    }
    PutInPlace();
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
