#include "shell/ptshchange.h"

#include "shell/shlmounts.h"

#include "vcl/forms.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

class WindowPoster final : public IPTMessagePoster {
public:
    bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return PostMessage(window, message, wParam, lParam) != FALSE;
    }
};

constexpr int kAdd = 0;
constexpr int kRemoveOne = 1;
constexpr int kRemoveAll = 2;
constexpr int kQuit = 3;

} // namespace

IPTMessagePoster& PTWindowMessagePoster()
{
    // Never destroyed: a watch thread still running while the process exits
    // (one that did not answer its quit in time) may post through it.
    static WindowPoster* const poster = new WindowPoster;
    return *poster;
}

// The state the user-interface thread and the worker share. The worker runs
// each command under the mutex, and a command carries a sequence number, so a
// late answer is never taken for the answer to a newer command and a command
// that timed out is withdrawn cleanly. The worker holds its own reference:
// when the owner gives up waiting for it to end, nothing it uses is freed.
struct TChangeHandlerThread::Shared {
    HANDLE commandEvent = nullptr;
    HANDLE replyEvent = nullptr;
    HWND window;
    UINT message;
    IPTMessagePoster* poster;

    std::mutex mutex;
    std::condition_variable finishedChanged;
    int command = -1;
    HANDLE pending = nullptr;
    int removeSlot = -1;
    std::uint64_t sent = 0;  // sequence of the last command sent
    std::uint64_t done = 0;  // sequence of the last command run or withdrawn
    int replySlot = -1;
    std::array<HANDLE, kSlotCount> slots{};
    bool finished = false;
    bool abandoned = false;

    void CloseEverything()
    {
        for (auto& h : slots)
            if (h) {
                FindCloseChangeNotification(h);
                h = nullptr;
            }
        if (pending) {
            FindCloseChangeNotification(pending);
            pending = nullptr;
        }
        if (commandEvent)
            CloseWaitableHandle(commandEvent);
        if (replyEvent)
            CloseWaitableHandle(replyEvent);
        commandEvent = replyEvent = nullptr;
    }
};

TChangeHandlerThread::TChangeHandlerThread(HWND window, UINT message, IPTMessagePoster* poster)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->commandEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_shared->replyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_shared->window = window;
    m_shared->message = message;
    m_shared->poster = poster ? poster : &PTWindowMessagePoster();
    if (!m_shared->commandEvent || !m_shared->replyEvent) {
        m_shared->CloseEverything();
        throw EOSError("Cannot create the change notification events", GetLastError());
    }
    m_thread = std::thread(Execute, m_shared);
}

TChangeHandlerThread::~TChangeHandlerThread()
{
    auto& s = *m_shared;
    {
        std::lock_guard lock(s.mutex);
        s.command = kQuit;
        ++s.sent;
    }
    SetEvent(s.commandEvent);
    bool finished;
    {
        std::unique_lock lock(s.mutex);
        finished = s.finishedChanged.wait_for(lock, std::chrono::milliseconds(kQuitTimeoutMs), [&] { return s.finished; });
        if (!finished) {
            // The worker is stuck: it cleans up itself when it ends.
            s.abandoned = true;
            s.window = 0;
        }
    }
    if (finished) {
        m_thread.join();
        s.CloseEverything();
    } else {
        m_thread.detach();
    }
}

void TChangeHandlerThread::Execute(std::shared_ptr<Shared> shared)
{
    Shared& s = *shared;
    std::vector<HANDLE> handles;
    std::vector<int> slotOf;
    bool quit = false;
    int failures = 0;
    while (!quit) {
        handles.assign(1, s.commandEvent);
        slotOf.assign(1, -1);
        for (int i = 0; i < kSlotCount; ++i)
            if (s.slots[static_cast<size_t>(i)]) {
                handles.push_back(s.slots[static_cast<size_t>(i)]);
                slotOf.push_back(i);
            }
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) {
            failures = 0;
            bool reply = false;
            {
                std::lock_guard lock(s.mutex);
                if (s.done != s.sent) {
                    s.done = s.sent;
                    reply = true;
                    switch (s.command) {
                    case kAdd: {
                        s.replySlot = -1;
                        for (int i = 0; i < kSlotCount; ++i)
                            if (!s.slots[static_cast<size_t>(i)]) {
                                s.slots[static_cast<size_t>(i)] = s.pending;
                                s.replySlot = i;
                                break;
                            }
                        // A handle that finds no free slot is closed, not left behind.
                        if (s.replySlot < 0 && s.pending)
                            FindCloseChangeNotification(s.pending);
                        s.pending = nullptr;
                        break;
                    }
                    case kRemoveOne:
                        if (s.removeSlot >= 0 && s.removeSlot < kSlotCount && s.slots[static_cast<size_t>(s.removeSlot)]) {
                            FindCloseChangeNotification(s.slots[static_cast<size_t>(s.removeSlot)]);
                            s.slots[static_cast<size_t>(s.removeSlot)] = nullptr;
                        }
                        break;
                    case kRemoveAll:
                        for (auto& h : s.slots)
                            if (h) {
                                FindCloseChangeNotification(h);
                                h = nullptr;
                            }
                        break;
                    case kQuit:
                        quit = true;
                        reply = false;
                        break;
                    default:
                        break;
                    }
                }
            }
            if (reply)
                SetEvent(s.replyEvent);
        } else if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
            failures = 0;
            const int slot = slotOf[result - WAIT_OBJECT_0];
            HWND window;
            {
                std::lock_guard lock(s.mutex);
                window = s.window;
            }
            if (window)
                s.poster->Post(window, s.message, static_cast<WPARAM>(slot), 0);
            HANDLE& h = s.slots[static_cast<size_t>(slot)];
            if (!FindNextChangeNotification(h)) {
                // The folder is gone: it is no longer watched.
                std::lock_guard lock(s.mutex);
                FindCloseChangeNotification(h);
                h = nullptr;
            }
        } else if (result >= WAIT_ABANDONED_0 + 1 && result < WAIT_ABANDONED_0 + handles.size()) {
            std::lock_guard lock(s.mutex);
            HANDLE& h = s.slots[static_cast<size_t>(slotOf[result - WAIT_ABANDONED_0])];
            FindCloseChangeNotification(h);
            h = nullptr;
        } else if (result == WAIT_FAILED) {
            // A wait that keeps failing must not spin: drop slots whose
            // handle no longer waits, and pause a little before trying again.
            std::lock_guard lock(s.mutex);
            for (auto& h : s.slots)
                if (h && WaitForSingleObject(h, 0) == WAIT_FAILED)
                    h = nullptr;
            if (++failures > 3)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    std::lock_guard lock(s.mutex);
    s.finished = true;
    if (s.abandoned)
        s.CloseEverything();
    s.finishedChanged.notify_all();
}

bool TChangeHandlerThread::SendCommand(int command, HANDLE pending, int& replySlot)
{
    auto& s = *m_shared;
    std::uint64_t sequence;
    {
        std::lock_guard lock(s.mutex);
        if (s.done != s.sent)
            return false;  // an earlier command is still waiting for the worker
        s.command = command;
        s.pending = pending;
        sequence = ++s.sent;
    }
    ResetEvent(s.replyEvent);
    SetEvent(s.commandEvent);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    for (;;) {
        {
            std::lock_guard lock(s.mutex);
            if (s.done >= sequence) {
                replySlot = s.replySlot;
                return true;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        WaitForSingleObject(s.replyEvent, static_cast<DWORD>(left));
    }
    // No answer in time: withdraw the command unless the worker took it meanwhile.
    std::lock_guard lock(s.mutex);
    if (s.done >= sequence) {
        replySlot = s.replySlot;
        return true;
    }
    s.done = sequence;
    s.command = -1;
    s.pending = nullptr;
    return false;
}

bool TChangeHandlerThread::AddChangeNotification(const std::string& path, DWORD notifyFilter, int& slot,
                                                 bool watchSubtree)
{
    slot = -1;
    if (path.empty())
        return false;
    HANDLE h = FindFirstChangeNotificationA(path.c_str(), watchSubtree ? TRUE : FALSE, notifyFilter);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    int reply = -1;
    if (!SendCommand(kAdd, h, reply)) {
        FindCloseChangeNotification(h);  // never handed to the worker
        return false;
    }
    slot = reply;
    return reply >= 0;
}

bool TChangeHandlerThread::RemoveAll()
{
    int reply = -1;
    return SendCommand(kRemoveAll, nullptr, reply);
}

// ---- device changes ----

TPTDeviceChangeHandler::TPTDeviceChangeHandler()
{
    m_handle = AllocateHWnd([this](TMessage& m) { WndProc(m); });
    const HWND window = m_handle;
    m_subscription = ShellSubscribeDeviceChanges(
        [window](WPARAM event, const std::string&) { PostMessage(window, WM_DEVICECHANGE, event, 0); });
}

TPTDeviceChangeHandler::~TPTDeviceChangeHandler()
{
    ShellUnsubscribeDeviceChanges(m_subscription);
    DeallocateHWnd(m_handle);
}

void TPTDeviceChangeHandler::Add(const TPTDeviceChangeEvent& event) { m_list.push_back(event); }

void TPTDeviceChangeHandler::Remove(const TPTDeviceChangeEvent& event)
{
    for (auto it = m_list.begin(); it != m_list.end(); ++it)
        if (*it == event) {
            m_list.erase(it);
            return;
        }
}

void TPTDeviceChangeHandler::DeleteItem(int index)
{
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    m_list.erase(m_list.begin() + index);
}

void TPTDeviceChangeHandler::BroadcastToList(TMessage& message)
{
    if (!Enabled)
        return;
    const int count = Count();
    for (int i = 0; i < count && i < Count(); ++i) {
        const TPTDeviceChangeEvent event = m_list[static_cast<size_t>(i)];
        try {
            event.code(event.object, this, message);
        } catch (const std::exception& e) {
            // Shown by the application; the next registration still runs.
            if (Application)
                Application->HandleException(e);
        }
    }
}

void TPTDeviceChangeHandler::WndProc(TMessage& message)
{
    if (message.Msg == WM_DEVICECHANGE) {
        // The data behind lParam is only valid during this message: relay and return.
        PostMessage(m_handle, AM_DEVICECHANGE, message.WParam, message.LParam);
        message.Result = 0;
    } else if (message.Msg == AM_DEVICECHANGE) {
        BroadcastToList(message);
    } else {
        message.Result = 0;
    }
}

namespace {
std::unique_ptr<TPTDeviceChangeHandler>& TheRelay()
{
    // The class library's window table must outlive the relay, which frees
    // its hidden window when the program ends: touch it first.
    IsWindow(0);
    static std::unique_ptr<TPTDeviceChangeHandler> relay;
    return relay;
}
} // namespace

TPTDeviceChangeHandler* PTDeviceChangeHandler()
{
    auto& relay = TheRelay();
    if (!relay)
        relay = std::make_unique<TPTDeviceChangeHandler>();
    return relay.get();
}

void PTFreeDeviceChangeHandler() { TheRelay().reset(); }
