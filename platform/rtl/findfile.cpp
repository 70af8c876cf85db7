#include "findfile.h"

#include "win/wintypes.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

struct TFindState {
    DIR* dir = nullptr;
    std::string mask;
    bool all = false;
    int attr = 0;
    ~TFindState()
    {
        if (dir)
            ::closedir(dir);
    }
};

namespace {

constexpr int kSpecial = faHidden | faSysFile | faDirectory;

// The attribute bits of a file's mode (the link bit and the name's bit are
// the caller's).
int AttrOfMode(mode_t mode)
{
    if (S_ISDIR(mode))
        return faDirectory;
    if (S_ISREG(mode))
        return 0;
    return faSysFile;
}

int HiddenBit(std::string_view name) { return name.size() > 0 && name[0] == '.' && name != "." && name != ".." ? faHidden : 0; }

// The attributes of an entry of the open folder: the directory entry's own
// type where the file system gives one; a stat where it does not, and for
// links, to tell whether they lead to a folder. -1 when the entry is gone.
int EntryAttr(int dirFd, const dirent& e)
{
    int attr = HiddenBit(e.d_name);
    switch (e.d_type) {
    case DT_DIR: return attr | faDirectory;
    case DT_REG: return attr;
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK: return attr | faSysFile;
    default: break;
    }
    struct stat st {};
    if (::fstatat(dirFd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!S_ISLNK(st.st_mode))
        return attr | AttrOfMode(st.st_mode);
    // A link is of the kind of what it leads to; one that leads nowhere is
    // a plain entry.
    attr |= faSymLink;
    if (::fstatat(dirFd, e.d_name, &st, 0) == 0)
        attr |= AttrOfMode(st.st_mode);
    return attr;
}

int NextMatch(TFindState& s, TSearchRec& f)
{
    const int dirFd = ::dirfd(s.dir);
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(s.dir);
        if (!e)
            return errno ? static_cast<int>(Win32ErrorFromErrno(errno)) : static_cast<int>(ERROR_NO_MORE_FILES);
        if (!s.all && !MatchesFileMask(e->d_name, s.mask))
            continue;
        const int attr = EntryAttr(dirFd, *e);
        if (attr < 0 || (attr & kSpecial & ~s.attr))
            continue;
        f.Name = e->d_name;
        f.Attr = attr;
        return 0;
    }
}

char Up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

} // namespace

TSearchRec::TSearchRec() = default;
TSearchRec::~TSearchRec() = default;
TSearchRec::TSearchRec(TSearchRec&&) noexcept = default;
TSearchRec& TSearchRec::operator=(TSearchRec&&) noexcept = default;

void TSearchRec::ReadStatus() const
{
    if (m_statusRead)
        return;
    m_statusRead = true;
    m_size = 0;
    m_time = 0;
    m_readOnly = false;
    if (!m_find || !m_find->dir)
        return;
    const int dirFd = ::dirfd(m_find->dir);
    struct stat st {};
    if (::fstatat(dirFd, Name.c_str(), &st, 0) != 0 && ::fstatat(dirFd, Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    m_size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    m_time = st.st_mtim.tv_sec;
    m_readOnly = !(st.st_mode & S_IWUSR);
}

bool TSearchRec::ReadOnly() const
{
    ReadStatus();
    return m_readOnly;
}

std::int64_t TSearchRec::Size() const
{
    ReadStatus();
    return m_size;
}

std::time_t TSearchRec::Time() const
{
    ReadStatus();
    return m_time;
}

TDateTime TSearchRec::TimeStamp() const
{
    const std::time_t t = Time();
    return t ? UnixToLocalDateTime(t) : 0;
}

int FindFirst(const std::string& path, int attr, TSearchRec& f)
{
    FindClose(f);
    auto s = std::make_unique<TFindState>();
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    s->mask = slash == std::string::npos ? path : path.substr(slash + 1);
    s->all = s->mask == "*" || s->mask == "*.*";
    s->attr = attr;
    s->dir = ::opendir(folder.c_str());
    if (!s->dir) {
        const int err = errno;
        return err == ENOENT ? static_cast<int>(ERROR_PATH_NOT_FOUND) : static_cast<int>(Win32ErrorFromErrno(err));
    }
    f.m_find = std::move(s);
    f.m_statusRead = false;
    const int result = NextMatch(*f.m_find, f);
    if (result != 0) {
        FindClose(f);
        return result == static_cast<int>(ERROR_NO_MORE_FILES) ? static_cast<int>(ERROR_FILE_NOT_FOUND) : result;
    }
    return 0;
}

int FindNext(TSearchRec& f)
{
    if (!f.m_find)
        return static_cast<int>(ERROR_NO_MORE_FILES);
    f.m_statusRead = false;
    return NextMatch(*f.m_find, f);
}

void FindClose(TSearchRec& f) { f.m_find.reset(); }

int FileGetAttr(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return -1;
    const std::string name = ExtractFileName(ExcludeTrailingPathDelimiter(path));
    int attr = HiddenBit(name);
    if (!S_ISLNK(st.st_mode))
        return attr | AttrOfMode(st.st_mode);
    attr |= faSymLink;
    if (::stat(path.c_str(), &st) == 0)
        attr |= AttrOfMode(st.st_mode);
    return attr;
}

// Iterative, so that no mask can exhaust the stack: a '*' remembers where it
// stood, and a mismatch later goes back to it with one more character taken.
bool MatchesFileMask(std::string_view name, std::string_view mask)
{
    if (mask == "*" || mask == "*.*")
        return true;
    size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || Up(mask[m]) == Up(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}
