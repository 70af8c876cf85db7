// The file-operation engine. Every item is done with POSIX calls on paths
// that are never followed through a final symbolic link (lstat, O_NOFOLLOW,
// unlinkat), so a link is copied, moved or deleted as the link itself.
#include "shlfileop.h"

#include "kernel/kernel.h"
#include "win/wintypes.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

std::string BaseNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool IsWithin(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return true;
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0
        && path[folder.size()] == '/');
}

int RenameNoReplace(const std::string& from, const std::string& to)
{
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1u));
}

std::string Reason(int err) { return SysErrorMessage(Win32ErrorFromErrno(err)); }

const char* KindOfSpecial(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a device";
}

bool IsSpecial(mode_t mode) { return !S_ISREG(mode) && !S_ISDIR(mode) && !S_ISLNK(mode); }

// A hidden name in the folder that no other item has: the engine's own
// temporary files and folders, renamed to their real names when complete.
std::string TemporaryName(const std::string& folder)
{
    static std::atomic<unsigned> counter {0};
    return Join(folder, ".vistrel-part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
}

// Removes a tree without following links; errno of the first failure.
int RemoveTree(int parentFd, const char* name)
{
    struct stat st;
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parentFd, name, 0) == 0 ? 0 : errno;
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    int first = 0;
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        if (const int err = RemoveTree(::dirfd(dir), e->d_name); err && !first)
            first = err;
    }
    ::closedir(dir);
    if (::unlinkat(parentFd, name, AT_REMOVEDIR) != 0 && !first)
        first = errno;
    return first;
}

int RemovePath(const std::string& path) { return RemoveTree(AT_FDCWD, path.c_str()); }

class Engine {
public:
    Engine(IShellFileOpUI& ui, bool renameOnCollision) : m_ui(ui), m_renameOnCollision(renameOnCollision) {}

    ShellFileOpResult Run(ShellFileOp op, const std::vector<std::string>& sources, const std::string& destination)
    {
        switch (op) {
        case ShellFileOp::Copy:
        case ShellFileOp::Move:
            Transfer(op == ShellFileOp::Move, sources, destination);
            break;
        case ShellFileOp::Trash:
        case ShellFileOp::Delete:
            Delete(op == ShellFileOp::Trash, sources);
            break;
        }
        if (m_cancelled) {
            m_result.aborted = true;
            m_result.error = ERROR_CANCELLED;
        }
        if (!m_result.problems.empty())
            m_ui.ReportProblems(m_result.problems);
        return m_result;
    }

private:
    enum class Outcome { Done, Skipped, Failed, Cancelled };

    void Problem(const std::string& text, DWORD code)
    {
        m_result.problems.push_back(text);
        if (!m_result.error)
            m_result.error = code;
    }
    void Failure(const std::string& verb, const std::string& path, int err)
    {
        Problem("Cannot " + verb + " \"" + path + "\": " + Reason(err) + ".", Win32ErrorFromErrno(err));
    }

    bool Tick(const std::string& current)
    {
        if (m_cancelled)
            return false;
        if (!m_ui.Progress(current, m_done, m_total))
            m_cancelled = true;
        return !m_cancelled;
    }

    // ---- copy and move ----

    std::uint64_t SizeOf(const std::string& path)
    {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            return 0;
        if (!S_ISDIR(st.st_mode))
            return S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        std::uint64_t total = 0;
        if (DIR* dir = ::opendir(path.c_str())) {
            while (dirent* e = ::readdir(dir))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                    total += SizeOf(Join(path, e->d_name));
            ::closedir(dir);
        }
        return total;
    }

    void Transfer(bool move, const std::vector<std::string>& sources, const std::string& destination)
    {
        m_verb = move ? "move" : "copy";
        const std::string dest = Trimmed(destination);
        const std::string realDest = RealPath(dest);
        struct stat dst;
        if (realDest.empty() || ::stat(realDest.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) {
            Problem("Cannot " + m_verb + " to \"" + dest + "\": " + SysErrorMessage(ERROR_PATH_NOT_FOUND) + ".",
                ERROR_PATH_NOT_FOUND);
            return;
        }
        if (m_ui.WantsProgress())
            for (const std::string& s : sources)
                m_total += SizeOf(Trimmed(s));
        for (size_t i = 0; i < sources.size() && !m_cancelled; ++i) {
            m_more = i + 1 < sources.size();
            const std::string source = Trimmed(sources[i]);
            struct stat st;
            if (::lstat(source.c_str(), &st) != 0) {
                Failure(m_verb, source, errno);
                continue;
            }
            const std::string name = BaseNameOf(source);
            const std::string realParent = RealPath(FolderOf(source));
            if (S_ISDIR(st.st_mode)) {
                const std::string realSource = RealPath(source);
                if (IsWithin(realDest, realSource)) {
                    Problem("Cannot " + m_verb + " \"" + source
                            + "\": The destination folder is the folder itself or one of its subfolders.",
                        ERROR_INVALID_PARAMETER);
                    continue;
                }
            }
            if (realParent == realDest) {
                // Its own folder: a move has nothing to do, a copy takes a new name.
                if (move)
                    continue;
                const std::string copy = Join(dest, ShellCopyName(dest, name, S_ISDIR(st.st_mode)));
                if (!Tick(source))
                    break;
                if (CopyNew(source, copy, nullptr) == Outcome::Done)
                    m_result.created.push_back(copy);
                continue;
            }
            const std::string target = Join(dest, name);
            if (Place(move, source, target, st, true) == Outcome::Cancelled)
                break;
        }
    }

    // Puts one item at the target: a plain copy or move when the target is
    // free, a merge of two folders, or the user's answer to a conflict.
    Outcome Place(bool move, const std::string& source, const std::string& target, const struct stat& st, bool top)
    {
        if (!Tick(source))
            return Outcome::Cancelled;
        struct stat tt;
        const bool exists = ::lstat(target.c_str(), &tt) == 0;
        if (!exists) {
            const Outcome o = move ? MoveNew(source, target, st) : CopyNew(source, target, nullptr);
            if (o == Outcome::Done && top)
                m_result.created.push_back(target);
            return o;
        }
        if (S_ISDIR(st.st_mode) && S_ISDIR(tt.st_mode))
            return Merge(move, source, target, top);
        if (m_renameOnCollision && top) {
            const std::string other = Join(FolderOf(target), ShellCopyName(FolderOf(target), BaseNameOf(target),
                S_ISDIR(st.st_mode)));
            const Outcome o = move ? MoveNew(source, other, st) : CopyNew(source, other, nullptr);
            if (o == Outcome::Done)
                m_result.created.push_back(other);
            return o;
        }
        if (S_ISDIR(st.st_mode) != S_ISDIR(tt.st_mode)) {
            Problem("Cannot " + m_verb + " \"" + source + "\": \"" + target + "\" exists and is "
                    + (S_ISDIR(tt.st_mode) ? "a folder." : "no folder."),
                ERROR_ALREADY_EXISTS);
            return Outcome::Failed;
        }
        IShellFileOpUI::Conflict answer;
        if (m_conflictForAll) {
            answer = m_conflictAnswer;
        } else {
            bool forAll = false;
            answer = m_ui.AskConflict(source, target, m_more, forAll);
            if (forAll) {
                m_conflictForAll = true;
                m_conflictAnswer = answer;
            }
        }
        switch (answer) {
        case IShellFileOpUI::Conflict::Cancel:
            m_cancelled = true;
            return Outcome::Cancelled;
        case IShellFileOpUI::Conflict::Skip:
            return Outcome::Skipped;
        case IShellFileOpUI::Conflict::Replace:
            break;
        }
        if (move && ::rename(source.c_str(), target.c_str()) == 0)
            return Outcome::Done;  // the old file goes only as the new one takes its name
        if (move && errno != EXDEV) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        std::vector<std::string> copied;
        const Outcome o = CopyFileLike(source, target, st, true, move ? &copied : nullptr);
        if (o == Outcome::Done && move)
            RemoveSources(copied, {});
        return o;
    }

    // Both are folders: the source's items go into the target one by one.
    Outcome Merge(bool move, const std::string& source, const std::string& target, bool top)
    {
        DIR* dir = ::opendir(source.c_str());
        if (!dir) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        std::vector<std::string> names;
        while (dirent* e = ::readdir(dir))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        ::closedir(dir);
        const bool more = m_more;
        Outcome result = Outcome::Done;
        for (size_t i = 0; i < names.size(); ++i) {
            m_more = more || i + 1 < names.size();
            const std::string from = Join(source, names[i]);
            struct stat st;
            if (::lstat(from.c_str(), &st) != 0) {
                Failure(m_verb, from, errno);
                result = Outcome::Failed;
                continue;
            }
            const Outcome o = Place(move, from, Join(target, names[i]), st, false);
            if (o == Outcome::Cancelled)
                return o;
            if (o != Outcome::Done)
                result = o == Outcome::Failed ? Outcome::Failed : (result == Outcome::Failed ? result : o);
        }
        m_more = more;
        if (move)
            ::rmdir(source.c_str());  // emptied unless something stayed behind
        if (top && result == Outcome::Done)
            m_result.created.push_back(target);
        return result;
    }

    Outcome MoveNew(const std::string& source, const std::string& target, const struct stat& st)
    {
        if (RenameNoReplace(source, target) == 0) {
            m_done += S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
            return Outcome::Done;
        }
        if (errno != EXDEV) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        // Another file system: copy, then remove what was copied once the
        // copy stands under its name.
        std::vector<std::string> copied;
        std::vector<std::string> folders;
        const Outcome o = CopyNew(source, target, &copied, &folders);
        if (o == Outcome::Done || o == Outcome::Failed)
            RemoveSources(copied, folders);
        return o;
    }

    void RemoveSources(const std::vector<std::string>& files, const std::vector<std::string>& folders)
    {
        for (const std::string& f : files)
            if (::unlink(f.c_str()) != 0 && errno != ENOENT)
                Failure("remove", f, errno);
        // Folders are listed deepest first.
        for (const std::string& f : folders)
            ::rmdir(f.c_str());  // a folder that keeps a failed item stays
    }

    // Copies to a target that does not exist. A folder is built under a
    // temporary name and renamed when complete; its items go straight in.
    Outcome CopyNew(const std::string& source, const std::string& target, std::vector<std::string>* copied,
        std::vector<std::string>* folders = nullptr)
    {
        struct stat st;
        if (::lstat(source.c_str(), &st) != 0) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        if (!S_ISDIR(st.st_mode))
            return CopyFileLike(source, target, st, false, copied);
        const std::string temp = TemporaryName(FolderOf(target));
        if (::mkdir(temp.c_str(), 0700) != 0) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        const Outcome o = CopyChildren(source, temp, copied, folders);
        if (o == Outcome::Cancelled) {
            RemovePath(temp);
            if (copied)
                copied->clear();
            return o;
        }
        ::chmod(temp.c_str(), st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, temp.c_str(), times, 0);
        if (RenameNoReplace(temp, target) != 0) {
            const int err = errno;
            RemovePath(temp);
            if (copied)
                copied->clear();
            Failure(m_verb, source, err);
            return Outcome::Failed;
        }
        if (folders)
            folders->push_back(source);
        return o;
    }

    Outcome CopyChildren(const std::string& source, const std::string& into, std::vector<std::string>* copied,
        std::vector<std::string>* folders)
    {
        DIR* dir = ::opendir(source.c_str());
        if (!dir) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        Outcome result = Outcome::Done;
        while (dirent* e = ::readdir(dir)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
                continue;
            const std::string from = Join(source, e->d_name);
            const std::string to = Join(into, e->d_name);
            if (!Tick(from)) {
                ::closedir(dir);
                return Outcome::Cancelled;
            }
            struct stat st;
            if (::lstat(from.c_str(), &st) != 0) {
                Failure(m_verb, from, errno);
                result = Outcome::Failed;
                continue;
            }
            Outcome o;
            if (S_ISDIR(st.st_mode)) {
                if (::mkdir(to.c_str(), 0700) != 0) {
                    Failure(m_verb, from, errno);
                    result = Outcome::Failed;
                    continue;
                }
                o = CopyChildren(from, to, copied, folders);
                ::chmod(to.c_str(), st.st_mode & 07777);
                const struct timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, to.c_str(), times, 0);
                if (folders && o != Outcome::Cancelled)
                    folders->push_back(from);
            } else {
                // Inside a folder being built, a file goes straight to its name.
                o = CopyFileLike(from, to, st, false, copied, true);
            }
            if (o == Outcome::Cancelled) {
                ::closedir(dir);
                return o;
            }
            if (o == Outcome::Failed)
                result = o;
        }
        ::closedir(dir);
        return result;
    }

    // A file, a link or a special file to the target. Written under a
    // temporary name unless `direct` (inside a folder that is itself
    // temporary), then renamed: over the target when `replace`, else only
    // when the name is still free.
    Outcome CopyFileLike(const std::string& source, const std::string& target, const struct stat& st, bool replace,
        std::vector<std::string>* copied, bool direct = false)
    {
        if (IsSpecial(st.st_mode)) {
            Problem("Skipped \"" + source + "\": it is " + KindOfSpecial(st.st_mode) + ", which is never copied.",
                ERROR_NOT_SUPPORTED);
            return Outcome::Skipped;
        }
        const std::string temp = direct ? target : TemporaryName(FolderOf(target));
        Outcome o;
        if (S_ISLNK(st.st_mode))
            o = CopyLink(source, temp, st);
        else
            o = CopyData(source, temp, st);
        if (o != Outcome::Done) {
            ::unlink(temp.c_str());
            return o;
        }
        if (!direct) {
            const int rc = replace ? ::rename(temp.c_str(), target.c_str()) : RenameNoReplace(temp, target);
            if (rc != 0) {
                const int err = errno;
                ::unlink(temp.c_str());
                Failure(m_verb, source, err);
                return Outcome::Failed;
            }
        }
        if (copied)
            copied->push_back(source);
        return Outcome::Done;
    }

    Outcome CopyLink(const std::string& source, const std::string& temp, const struct stat& st)
    {
        std::string text(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
        const ssize_t n = ::readlink(source.c_str(), text.data(), text.size());
        if (n < 0) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        text.resize(static_cast<size_t>(n));
        if (::symlink(text.c_str(), temp.c_str()) != 0) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, temp.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return Outcome::Done;
    }

    Outcome CopyData(const std::string& source, const std::string& temp, const struct stat& st)
    {
        const int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (in < 0) {
            Failure(m_verb, source, errno);
            return Outcome::Failed;
        }
        const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0777);
        if (out < 0) {
            const int err = errno;
            ::close(in);
            Failure(m_verb, source, err);
            return Outcome::Failed;
        }
        Outcome o = Pump(in, out, source, st);
        if (o == Outcome::Done) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(out, times);
        }
        ::close(in);
        if (::close(out) != 0 && o == Outcome::Done) {
            Failure(m_verb, source, errno);
            o = Outcome::Failed;
        }
        return o;
    }

    // The bytes: a clone where the file system shares extents, else the
    // kernel's copy, else reads and writes; a large file in chunks, with the
    // cancel looked at between them.
    Outcome Pump(int in, int out, const std::string& source, const struct stat& st)
    {
        constexpr std::uint64_t kChunk = 16u << 20;
        const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
        if (size > 0 && m_cloneWorks && ::ioctl(out, FICLONE, in) == 0) {
            m_done += size;
            return Outcome::Done;
        }
        m_cloneWorks = false;
        std::uint64_t left = size;
        bool kernelCopy = m_kernelCopyWorks;
        while (left > 0 || !kernelCopy) {
            if (kernelCopy) {
                const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(std::min(left, kChunk)), 0);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    if ((errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) && left == size) {
                        kernelCopy = m_kernelCopyWorks = false;
                        continue;
                    }
                    Failure(m_verb, source, errno);
                    return Outcome::Failed;
                }
                if (n == 0)
                    break;  // the file shrank meanwhile
                left -= static_cast<std::uint64_t>(n);
                m_done += static_cast<std::uint64_t>(n);
            } else {
                if (m_buffer.empty())
                    m_buffer.resize(1u << 20);
                const ssize_t n = ::read(in, m_buffer.data(), m_buffer.size());
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    Failure(m_verb, source, errno);
                    return Outcome::Failed;
                }
                if (n == 0)
                    break;
                for (ssize_t at = 0; at < n;) {
                    const ssize_t w = ::write(out, m_buffer.data() + at, static_cast<size_t>(n - at));
                    if (w < 0) {
                        if (errno == EINTR)
                            continue;
                        Failure(m_verb, source, errno);
                        return Outcome::Failed;
                    }
                    at += w;
                }
                m_done += static_cast<std::uint64_t>(n);
                left = left > static_cast<std::uint64_t>(n) ? left - static_cast<std::uint64_t>(n) : 0;
            }
            if (size > kChunk && !Tick(source))
                return Outcome::Cancelled;
        }
        return Outcome::Done;
    }

    // ---- delete ----

    void Delete(bool toTrash, const std::vector<std::string>& sources)
    {
        m_verb = "delete";
        std::vector<std::string> items;
        for (const std::string& s : sources)
            items.push_back(Trimmed(s));
        if (!toTrash && !m_ui.ConfirmDelete(items)) {
            m_cancelled = true;
            return;
        }
        // The progress counts items.
        m_total = items.size();
        for (const std::string& item : items) {
            if (!Tick(item))
                return;
            ++m_done;
            struct stat st;
            if (::lstat(item.c_str(), &st) != 0) {
                Failure(m_verb, item, errno);
                continue;
            }
            if (toTrash) {
                if (MoveToTrash(item))
                    continue;
                const DWORD code = GetLastError();
                // When the item could be removed but no trash takes it, the
                // user decides about deleting it for good.
                if (::access(FolderOf(item).c_str(), W_OK) != 0) {
                    Problem("Cannot delete \"" + item + "\": " + SysErrorMessage(ERROR_ACCESS_DENIED) + ".",
                        ERROR_ACCESS_DENIED);
                    continue;
                }
                if (!m_ui.ConfirmDeleteWithoutTrash(item, SysErrorMessage(code ? code : ERROR_ACCESS_DENIED)))
                    continue;
            }
            if (const int err = RemovePath(item))
                Failure(m_verb, item, err);
        }
    }

    IShellFileOpUI& m_ui;
    bool m_renameOnCollision;
    ShellFileOpResult m_result;
    std::string m_verb;
    bool m_cancelled = false;
    bool m_more = false;
    bool m_conflictForAll = false;
    IShellFileOpUI::Conflict m_conflictAnswer = IShellFileOpUI::Conflict::Skip;
    bool m_cloneWorks = true;
    bool m_kernelCopyWorks = true;
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    std::vector<char> m_buffer;
};

} // namespace

std::string ShellCopyName(const std::string& folder, const std::string& name, bool isFolder)
{
    std::string stem = name, ext;
    const size_t dot = name.find_last_of('.');
    if (!isFolder && dot != std::string::npos && dot > 0)
        stem = name.substr(0, dot), ext = name.substr(dot);
    for (int n = 1;; ++n) {
        const std::string candidate = stem + (n == 1 ? " (copy)" : " (copy " + std::to_string(n) + ")") + ext;
        struct stat st;
        if (::lstat(Join(folder, candidate).c_str(), &st) != 0)
            return candidate;
    }
}

ShellFileOpResult ShellFileOperation(ShellFileOp op, const std::vector<std::string>& sources,
    const std::string& destination, IShellFileOpUI& ui, bool renameOnCollision)
{
    Engine engine(ui, renameOnCollision);
    return engine.Run(op, sources, destination);
}

int SHFileOperationA(SHFILEOPSTRUCTA* op)
{
    if (!op || !op->pFrom)
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    std::vector<std::string> sources;
    for (const char* p = op->pFrom; *p; p += std::strlen(p) + 1)
        sources.emplace_back(p);
    const std::string to = op->pTo ? op->pTo : "";
    std::unique_ptr<IShellFileOpUI> ui = ShellPromptFileOpUI(op->fFlags);
    ShellFileOpResult result;
    switch (op->wFunc) {
    case FO_COPY:
    case FO_MOVE:
        result = ShellFileOperation(op->wFunc == FO_COPY ? ShellFileOp::Copy : ShellFileOp::Move, sources, to, *ui,
            op->fFlags & FOF_RENAMEONCOLLISION);
        break;
    case FO_DELETE:
        result = ShellFileOperation((op->fFlags & FOF_ALLOWUNDO) ? ShellFileOp::Trash : ShellFileOp::Delete, sources,
            "", *ui);
        break;
    case FO_RENAME:
        if (sources.size() != 1 || to.empty())
            return static_cast<int>(ERROR_INVALID_PARAMETER);
        if (RenameNoReplace(sources[0], to) != 0)
            return static_cast<int>(Win32ErrorFromErrno(errno));
        return 0;
    default:
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    }
    op->fAnyOperationsAborted = result.aborted ? TRUE : FALSE;
    return static_cast<int>(result.error);
}
