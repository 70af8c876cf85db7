#include "unrar.h"

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr size_t kReadBlock = 1 << 20;

struct Handle {
    archive* a = nullptr;
    std::string volume;  // the volume being read
    int fd = -1;
    bool moreVolumes = false;  // the volume's main header marks a set
    std::vector<char> buffer;
    UNRARCALLBACK callback = nullptr;
    LPARAM userData = 0;
    archive_entry* entry = nullptr;
    bool headerRead = false;
    bool stopped = false;  // the callback answered -1
};

// Whether the volume open as fd belongs to a set (main header flag 0x0001).
bool IsVolumeOfSet(int fd)
{
    unsigned char b[7 + 13];
    if (::pread(fd, b, sizeof b, 0) != static_cast<ssize_t>(sizeof b))
        return false;
    return b[7 + 2] == 0x73 && (b[7 + 3] & 0x01);
}

bool OpenVolume(Handle& h, const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (h.fd >= 0)
        ::close(h.fd);
    h.fd = fd;
    h.volume = name;
    h.moreVolumes = IsVolumeOfSet(fd);
    return true;
}

// The volume after name: arc.part1.rar -> arc.part2.rar at the width of
// its digits, arc.rar -> arc.r00, arc.r00 -> arc.r01 ... arc.r99 -> arc.s00.
std::string NextVolumeName(const std::string& name)
{
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = name.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".rar") {
        const std::string stem = name.substr(0, dot);
        const size_t part = stem.rfind('.');
        if (part != std::string::npos && stem.size() > part + 5 && (stem.compare(part, 5, ".part") == 0 || stem.compare(part, 5, ".PART") == 0)) {
            std::string digits = stem.substr(part + 5);
            bool all = true;
            for (char c : digits)
                all = all && std::isdigit(static_cast<unsigned char>(c));
            if (all) {
                // Count up from the right, carrying.
                size_t i = digits.size();
                while (i > 0 && digits[i - 1] == '9')
                    digits[--i] = '0';
                if (i == 0)
                    digits.insert(0, 1, '1');
                else
                    ++digits[i - 1];
                return stem.substr(0, part + 5) + digits + name.substr(dot);
            }
        }
        return name.substr(0, dot) + ".r00";
    }
    if (ext.size() == 4 && std::isalpha(static_cast<unsigned char>(ext[1])) && std::isdigit(static_cast<unsigned char>(ext[2])) &&
        std::isdigit(static_cast<unsigned char>(ext[3]))) {
        int n = (ext[2] - '0') * 10 + (ext[3] - '0') + 1;
        char letter = name[dot + 1];
        if (n == 100) {
            n = 0;
            ++letter;
        }
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%c%02d", letter, n);
        return name.substr(0, dot) + buf;
    }
    return {};
}

la_ssize_t ReadCallback(archive*, void* client, const void** data)
{
    auto& h = *static_cast<Handle*>(client);
    for (;;) {
        const ssize_t n = ::read(h.fd, h.buffer.data(), h.buffer.size());
        if (n > 0) {
            *data = h.buffer.data();
            return n;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        // The end of a volume of a set: the next one, named by the callback.
        if (!h.moreVolumes || h.stopped)
            return 0;
        char next[kRarNameBufferSize] = {};
        std::snprintf(next, sizeof next, "%s", NextVolumeName(h.volume).c_str());
        if (next[0] == 0)
            return 0;
        if (h.callback && h.callback(UCM_CHANGEVOLUME, h.userData, reinterpret_cast<LPARAM>(next), RAR_VOL_ASK) == -1) {
            h.stopped = true;
            return 0;
        }
        if (!OpenVolume(h, next))
            return -1;
        if (h.callback)
            h.callback(UCM_CHANGEVOLUME, h.userData, reinterpret_cast<LPARAM>(next), RAR_VOL_NOTIFY);
        // The reader goes on at the new volume's marker block.
    }
}

la_int64_t SkipCallback(archive*, void* client, la_int64_t request)
{
    auto& h = *static_cast<Handle*>(client);
    // Within the volume only; the reader reads across volume ends.
    struct stat st {};
    const off_t at = ::lseek(h.fd, 0, SEEK_CUR);
    if (at < 0 || ::fstat(h.fd, &st) != 0)
        return 0;
    const la_int64_t n = std::min<la_int64_t>(request, st.st_size - at);
    if (n <= 0 || ::lseek(h.fd, n, SEEK_CUR) < 0)
        return 0;
    return n;
}

std::uint32_t DosDateTime(std::time_t t)
{
    std::tm tm {};
    if (!::localtime_r(&t, &tm) || tm.tm_year < 80)
        return (1 << 21) | (1 << 16);
    const std::uint32_t date = ((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday;
    const std::uint32_t time = (tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2);
    return (date << 16) | time;
}

// libarchive's verdict on a failed read, as a result code.
int FailureOf(Handle& h)
{
    if (h.stopped)
        return ERAR_UNKNOWN;
    if (h.entry && archive_entry_is_encrypted(h.entry))
        return ERAR_UNKNOWN_FORMAT;
    return archive_errno(h.a) == ENOMEM ? ERAR_NO_MEMORY : ERAR_BAD_DATA;
}

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

HANDLE RAROpenArchiveEx(RAROpenArchiveDataEx* data)
{
    if (!data || !data->ArcName) {
        if (data)
            data->OpenResult = ERAR_EOPEN;
        return nullptr;
    }
    auto* h = new Handle;
    h->buffer.resize(kReadBlock);
    if (!OpenVolume(*h, data->ArcName)) {
        data->OpenResult = ERAR_EOPEN;
        delete h;
        return nullptr;
    }
    h->a = archive_read_new();
    archive_read_support_format_rar(h->a);
    archive_read_set_read_callback(h->a, ReadCallback);
    archive_read_set_skip_callback(h->a, SkipCallback);
    archive_read_set_callback_data(h->a, h);
    if (archive_read_open1(h->a) != ARCHIVE_OK) {
        data->OpenResult = ERAR_BAD_ARCHIVE;
        RARCloseArchive(h);
        return nullptr;
    }
    data->OpenResult = ERAR_SUCCESS;
    data->CmtSize = 0;
    data->CmtState = 0;
    return h;
}

int RARCloseArchive(HANDLE handle)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return ERAR_ECLOSE;
    if (h->a)
        archive_read_free(h->a);
    if (h->fd >= 0)
        ::close(h->fd);
    delete h;
    return ERAR_SUCCESS;
}

void RARSetCallback(HANDLE handle, UNRARCALLBACK callback, LPARAM userData)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return;
    h->callback = callback;
    h->userData = userData;
}

int RARReadHeaderEx(HANDLE handle, RARHeaderDataEx* header)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h || !header)
        return ERAR_BAD_ARCHIVE;
    const int r = archive_read_next_header(h->a, &h->entry);
    if (r == ARCHIVE_EOF)
        return ERAR_END_ARCHIVE;
    if (r < ARCHIVE_WARN) {
        h->entry = nullptr;
        return h->stopped ? ERAR_UNKNOWN : ERAR_BAD_DATA;
    }
    h->headerRead = true;
    *header = RARHeaderDataEx{};
    std::snprintf(header->ArcName, sizeof header->ArcName, "%s", h->volume.c_str());
    const char* name = archive_entry_pathname_utf8(h->entry);
    if (!name)
        name = archive_entry_pathname(h->entry);
    std::snprintf(header->FileName, sizeof header->FileName, "%s", name ? name : "");
    const auto size = static_cast<std::uint64_t>(archive_entry_size(h->entry));
    header->UnpSize = static_cast<UINT>(size);
    header->UnpSizeHigh = static_cast<UINT>(size >> 32);
    header->Flags = archive_entry_is_encrypted(h->entry) ? 0x04 : 0;
    header->FileTime = DosDateTime(archive_entry_mtime(h->entry));
    header->FileAttr = archive_entry_filetype(h->entry) == AE_IFDIR ? 0x10 : 0x20;
    header->HostOS = 3;
    return ERAR_SUCCESS;
}

int RARProcessFile(HANDLE handle, int operation, const char* destPath, const char* destName)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h || !h->headerRead || !h->entry)
        return ERAR_BAD_ARCHIVE;
    h->headerRead = false;
    if (operation == RAR_SKIP)
        return archive_read_data_skip(h->a) == ARCHIVE_OK ? ERAR_SUCCESS : FailureOf(*h);
    if (archive_entry_is_encrypted(h->entry))
        return ERAR_UNKNOWN_FORMAT;
    int fd = -1;
    std::string target;
    if (operation == RAR_EXTRACT) {
        if (destName && *destName) {
            target = destName;
        } else {
            const char* name = archive_entry_pathname_utf8(h->entry);
            target = std::string(destPath ? destPath : "") + (name ? name : "");
        }
        if (archive_entry_filetype(h->entry) == AE_IFDIR) {
            archive_read_data_skip(h->a);
            return (::mkdir(target.c_str(), 0777) == 0 || errno == EEXIST) ? ERAR_SUCCESS : ERAR_ECREATE;
        }
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return ERAR_ECREATE;
    }
    int result = ERAR_SUCCESS;
    if (archive_entry_filetype(h->entry) == AE_IFLNK) {
        // A symbolic link's data are its target's text (what the archive
        // stores and its CRC covers); the reader hands it over as the
        // entry's link instead of as data.
        const char* text = archive_entry_symlink_utf8(h->entry);
        if (!text)
            text = archive_entry_symlink(h->entry);
        const std::string link = text ? text : "";
        archive_read_data_skip(h->a);
        if (!link.empty() && h->callback &&
            h->callback(UCM_PROCESSDATA, h->userData, reinterpret_cast<LPARAM>(link.data()),
                        static_cast<LPARAM>(link.size())) == -1) {
            h->stopped = true;
            result = ERAR_UNKNOWN;
        } else if (fd >= 0 && !WriteAll(fd, link.data(), link.size())) {
            result = ERAR_EWRITE;
        }
        if (fd >= 0 && ::close(fd) != 0 && result == ERAR_SUCCESS)
            result = ERAR_ECLOSE;
        if (fd >= 0 && result != ERAR_SUCCESS)
            ::unlink(target.c_str());
        return result;
    }
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(h->a, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            result = FailureOf(*h);
            break;
        }
        if (size == 0)
            continue;
        if (h->callback && h->callback(UCM_PROCESSDATA, h->userData, reinterpret_cast<LPARAM>(block),
                                       static_cast<LPARAM>(size)) == -1) {
            h->stopped = true;
            result = ERAR_UNKNOWN;
            break;
        }
        if (fd >= 0 && (::lseek(fd, offset, SEEK_SET) != offset || !WriteAll(fd, static_cast<const char*>(block), size))) {
            result = ERAR_EWRITE;
            break;
        }
    }
    if (fd >= 0 && ::close(fd) != 0 && result == ERAR_SUCCESS)
        result = ERAR_ECLOSE;
    if (fd >= 0 && result != ERAR_SUCCESS)
        ::unlink(target.c_str());
    return result;
}

int RARGetDllVersion() { return 8; }
