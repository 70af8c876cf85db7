// Events and change notifications as pollable file descriptors: an event is an
// eventfd that is readable while the event is signalled; a change
// notification is an inotify descriptor whose events are matched against the
// filter when a wait looks at it.
#include "shlnotify.h"

#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

namespace {

class WaitObject {
public:
    virtual ~WaitObject() = default;
    virtual int Fd() const = 0;
    // A second descriptor whose readiness may change the object's state (-1: none).
    virtual int HubFd() const { return -1; }
    // True when signalled; an auto-reset event is reset by the call.
    virtual bool TryAcquire() = 0;
};

class EventObject final : public WaitObject {
public:
    EventObject(bool manual, bool initial) : m_manual(manual)
    {
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (initial)
            Set();
    }
    ~EventObject() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Valid() const { return m_fd >= 0; }
    int Fd() const override { return m_fd; }
    void Set()
    {
        std::lock_guard lock(m_mutex);
        if (m_signalled)
            return;
        m_signalled = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_fd, &one, sizeof one);
    }
    void Reset()
    {
        std::lock_guard lock(m_mutex);
        ResetLocked();
    }
    bool TryAcquire() override
    {
        std::lock_guard lock(m_mutex);
        if (!m_signalled)
            return false;
        if (!m_manual)
            ResetLocked();
        return true;
    }

private:
    void ResetLocked()
    {
        if (!m_signalled)
            return;
        m_signalled = false;
        std::uint64_t value;
        [[maybe_unused]] auto n = ::read(m_fd, &value, sizeof value);
    }
    std::mutex m_mutex;
    int m_fd = -1;
    bool m_manual;
    bool m_signalled = false;
};

bool IsPrefixFolder(const std::string& root, const std::string& path)
{
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0)
        return false;
    if (path.size() == root.size())
        return true;
    return root.back() == '/' || path[root.size()] == '/';
}

std::string NormalisedFolder(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

class ChangeObject;

// One inotify instance for the whole process: the system allows only a few
// instances per user (128 by default), and every control may watch 63
// folders. Each change-notification handle has its own eventfd for its
// signalled state; the hub routes the events of its watches to the handles
// that asked for them. Two handles on one folder share the kernel's watch,
// with the union of their masks and a count of owners.
class InotifyHub {
public:
    static InotifyHub& Instance()
    {
        static InotifyHub* hub = new InotifyHub;
        return *hub;
    }
    // Registers a handle; false when no inotify instance can be had.
    bool Attach()
    {
        std::lock_guard lock(m_mutex);
        if (m_fd < 0) {
            m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (m_fd < 0)
                return false;
        }
        ++m_users;
        return true;
    }
    // The last handle gone closes the instance, so that no descriptor stays open.
    void Detach()
    {
        std::lock_guard lock(m_mutex);
        if (--m_users == 0) {
            ::close(m_fd);
            m_fd = -1;
            m_watches.clear();
        }
    }
    int Fd()
    {
        std::lock_guard lock(m_mutex);
        return m_fd;
    }
    int AddWatch(ChangeObject* owner, const std::string& path, uint32_t mask)
    {
        std::lock_guard lock(m_mutex);
        const int wd = ::inotify_add_watch(m_fd, path.c_str(), mask | IN_MASK_ADD);
        if (wd < 0)
            return -1;
        auto& w = m_watches[wd];
        for (auto* o : w)
            if (o == owner)
                return wd;
        w.push_back(owner);
        return wd;
    }
    void RemoveWatch(ChangeObject* owner, int wd)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(wd);
        if (it == m_watches.end())
            return;
        auto& owners = it->second;
        owners.erase(std::remove(owners.begin(), owners.end(), owner), owners.end());
        if (owners.empty()) {
            ::inotify_rm_watch(m_fd, wd);
            m_watches.erase(it);
        }
    }
    // Reads every pending event and hands it to the handles of its watch.
    void Drain();

private:
    std::mutex m_mutex;
    int m_fd = -1;
    int m_users = 0;
    std::unordered_map<int, std::vector<ChangeObject*>> m_watches;
};

class ChangeObject final : public WaitObject {
public:
    ChangeObject(std::string root, bool subtree, DWORD filter)
        : m_root(std::move(root)), m_subtree(subtree), m_filter(filter)
    {
        m_eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_attached = m_eventFd >= 0 && InotifyHub::Instance().Attach();
    }
    ~ChangeObject() override
    {
        if (m_attached) {
            // The hub may still route an event here until each watch is removed,
            // so the watch list is walked as a copy.
            std::vector<int> wds;
            {
                std::lock_guard lock(m_mutex);
                for (const auto& [wd, path] : m_watches)
                    wds.push_back(wd);
            }
            for (const int wd : wds)
                InotifyHub::Instance().RemoveWatch(this, wd);
            InotifyHub::Instance().Detach();
        }
        if (m_eventFd >= 0)
            ::close(m_eventFd);
    }
    int Fd() const override { return m_eventFd; }
    int HubFd() const override { return InotifyHub::Instance().Fd(); }

    static uint32_t WatchMask(DWORD filter)
    {
        uint32_t mask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
        if (filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME))
            mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        if (filter & FILE_NOTIFY_CHANGE_CREATION)
            mask |= IN_CREATE;
        if (filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY))
            mask |= IN_ATTRIB;
        if (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE))
            mask |= IN_MODIFY | IN_CLOSE_WRITE;
        if (filter & FILE_NOTIFY_CHANGE_LAST_ACCESS)
            mask |= IN_ACCESS;
        return mask;
    }

    bool AddRoot()
    {
        if (!m_attached)
            return false;
        const int wd = InotifyHub::Instance().AddWatch(this, m_root, WatchMask(m_filter));
        if (wd < 0)
            return false;
        std::lock_guard lock(m_mutex);
        m_rootWd = wd;
        m_watches[wd] = m_root;
        return true;
    }

    void AddFolder(const std::string& path)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_broken || !IsPrefixFolder(m_root, path))
                return;
        }
        const int wd = InotifyHub::Instance().AddWatch(this, path, WatchMask(m_filter));
        if (wd < 0)
            return;
        std::lock_guard lock(m_mutex);
        m_watches[wd] = path;
    }

    bool TryAcquire() override
    {
        InotifyHub::Instance().Drain();
        std::lock_guard lock(m_mutex);
        return m_matched || m_broken;
    }

    // Re-arms the handle; false once the watched folder is gone.
    bool Rearm()
    {
        InotifyHub::Instance().Drain();
        std::lock_guard lock(m_mutex);
        m_matched = false;
        if (!m_broken)
            ClearSignal();
        return !m_broken;
    }

    // Called by the hub with its lock held.
    void OnEvent(int wd, uint32_t mask)
    {
        std::lock_guard lock(m_mutex);
        if (mask & IN_Q_OVERFLOW) {
            Signal(m_matched);
            return;
        }
        if (wd == m_rootWd && (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT))) {
            Signal(m_broken);
            return;
        }
        if (mask & IN_IGNORED) {
            m_watches.erase(wd);
            return;
        }
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
            return;
        if (Matches(mask))
            Signal(m_matched);
    }

    bool Subtree() const { return m_subtree; }
    const std::string& Root() const { return m_root; }
    int WatchCount()
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_watches.size());
    }

private:
    void Signal(bool& flag)
    {
        flag = true;
        if (!m_signalled) {
            m_signalled = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(m_eventFd, &one, sizeof one);
        }
    }
    void ClearSignal()
    {
        if (m_signalled) {
            m_signalled = false;
            std::uint64_t value;
            [[maybe_unused]] auto n = ::read(m_eventFd, &value, sizeof value);
        }
    }
    bool Matches(uint32_t mask) const
    {
        const bool isDir = mask & IN_ISDIR;
        if (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) {
            if (m_filter & (isDir ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME))
                return true;
            if ((mask & IN_CREATE) && (m_filter & FILE_NOTIFY_CHANGE_CREATION))
                return true;
            return false;
        }
        if (mask & IN_ATTRIB)
            return m_filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY);
        if (mask & (IN_MODIFY | IN_CLOSE_WRITE))
            return m_filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
        if (mask & IN_ACCESS)
            return m_filter & FILE_NOTIFY_CHANGE_LAST_ACCESS;
        return false;
    }

    std::mutex m_mutex;
    int m_eventFd = -1;
    bool m_attached = false;
    std::string m_root;
    bool m_subtree;
    DWORD m_filter;
    int m_rootWd = -1;
    std::unordered_map<int, std::string> m_watches;
    bool m_matched = false;
    bool m_broken = false;
    bool m_signalled = false;
};

void InotifyHub::Drain()
{
    std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                // Events were lost: every handle may have missed a change.
                for (auto& [wd, owners] : m_watches)
                    for (auto* o : owners)
                        o->OnEvent(wd, IN_Q_OVERFLOW);
                continue;
            }
            auto it = m_watches.find(ev->wd);
            if (it == m_watches.end())
                continue;
            const std::vector<ChangeObject*> owners = it->second;
            if (ev->mask & IN_IGNORED)
                m_watches.erase(it);  // the kernel dropped the watch (folder gone)
            for (auto* o : owners)
                o->OnEvent(ev->wd, ev->mask);
        }
    }
}

// Every open handle, so that a stale or foreign handle is refused instead of
// being used, and a handle closed during a wait stays alive until the wait ends.
struct Registry {
    std::mutex mutex;
    std::map<HANDLE, std::shared_ptr<WaitObject>> handles;
    std::set<std::string> loadedFolders;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

HANDLE Register(std::shared_ptr<WaitObject> object)
{
    HANDLE h = object.get();
    auto& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.handles[h] = std::move(object);
    return h;
}

std::shared_ptr<WaitObject> Lookup(HANDLE h)
{
    auto& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.handles.find(h);
    return it == r.handles.end() ? nullptr : it->second;
}

template <class T>
std::shared_ptr<T> LookupAs(HANDLE h)
{
    return std::dynamic_pointer_cast<T>(Lookup(h));
}

bool Unregister(HANDLE h)
{
    auto& r = TheRegistry();
    std::shared_ptr<WaitObject> keep;
    std::lock_guard lock(r.mutex);
    auto it = r.handles.find(h);
    if (it == r.handles.end())
        return false;
    keep = std::move(it->second);
    r.handles.erase(it);
    return true;
}

} // namespace

HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name)
{
    if (securityAttributes || (name && *name)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
    if (!event->Valid()) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    return Register(std::move(event));
}

BOOL SetEvent(HANDLE event)
{
    auto e = LookupAs<EventObject>(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    auto e = LookupAs<EventObject>(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Reset();
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles || waitAll) {
        SetLastError(waitAll ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<WaitObject>> objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = Lookup(handles[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds == INFINITE ? 0 : milliseconds);
    std::vector<pollfd> fds;
    fds.reserve(count + 1);
    int hubFd = -1;
    for (DWORD i = 0; i < count; ++i) {
        fds.push_back({objects[i]->Fd(), POLLIN, 0});
        if (objects[i]->HubFd() >= 0)
            hubFd = objects[i]->HubFd();
    }
    if (hubFd >= 0)
        fds.push_back({hubFd, POLLIN, 0});
    for (;;) {
        for (DWORD i = 0; i < count; ++i)
            if (objects[i]->TryAcquire())
                return WAIT_OBJECT_0 + i;
        int timeout = -1;
        if (milliseconds != INFINITE) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return WAIT_TIMEOUT;
            timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
        }
        const int n = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeout);
        if (n < 0 && errno != EINTR) {
            SetLastErrorFromErrno();
            return WAIT_FAILED;
        }
    }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

BOOL CloseWaitableHandle(HANDLE handle)
{
    if (!Unregister(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE FindFirstChangeNotificationA(const char* path, BOOL watchSubtree, DWORD notifyFilter)
{
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (::stat(path, &st) != 0) {
        SetLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    auto change = std::make_shared<ChangeObject>(NormalisedFolder(path), watchSubtree != FALSE, notifyFilter);
    if (!change->AddRoot()) {
        SetLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    if (change->Subtree()) {
        std::vector<std::string> folders;
        {
            auto& r = TheRegistry();
            std::lock_guard lock(r.mutex);
            for (auto it = r.loadedFolders.lower_bound(change->Root()); it != r.loadedFolders.end(); ++it) {
                if (!IsPrefixFolder(change->Root(), *it)) {
                    if (it->compare(0, change->Root().size(), change->Root()) != 0)
                        break;
                    continue;
                }
                if (*it != change->Root())
                    folders.push_back(*it);
            }
        }
        for (const auto& folder : folders)
            change->AddFolder(folder);
    }
    return Register(std::move(change));
}

BOOL FindNextChangeNotification(HANDLE handle)
{
    auto change = LookupAs<ChangeObject>(handle);
    if (!change) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!change->Rearm()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL FindCloseChangeNotification(HANDLE handle)
{
    if (!LookupAs<ChangeObject>(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseWaitableHandle(handle);
}

void ShellNoteFolderLoaded(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return;
    const std::string folder = NormalisedFolder(path);
    std::vector<std::shared_ptr<ChangeObject>> watchers;
    {
        auto& r = TheRegistry();
        std::lock_guard lock(r.mutex);
        if (!r.loadedFolders.insert(folder).second)
            return;
        for (auto& [h, object] : r.handles)
            if (auto change = std::dynamic_pointer_cast<ChangeObject>(object); change && change->Subtree())
                watchers.push_back(change);
    }
    for (auto& change : watchers)
        if (folder != change->Root())
            change->AddFolder(folder);
}

int ShellOpenWaitHandleCount()
{
    auto& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return static_cast<int>(r.handles.size());
}

int ShellChangeNotificationWatchCount(HANDLE handle)
{
    auto change = LookupAs<ChangeObject>(handle);
    return change ? change->WatchCount() : 0;
}
