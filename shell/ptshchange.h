// The change-notification thread of the shell tree and list, and the relay of
// device changes to them.
#pragma once

#include "shell/ptshutils.h"
#include "shell/shlnotify.h"

#include "vcl/messages.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

// Message 1124: a relayed device change (wParam the event).
constexpr UINT AM_DEVICECHANGE = WM_USER + 100;
// Message 1125: a change notification (wParam the slot that fired).
constexpr UINT AM_CHANGENOTIFY = WM_USER + 101;

// Where the worker's messages go. The default posts to the window through the
// class library's PostMessage; tests give their own.
class IPTMessagePoster {
public:
    virtual ~IPTMessagePoster() = default;
    virtual bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};
IPTMessagePoster& PTWindowMessagePoster();

// A worker that waits on up to 63 change-notification handles and its
// command event, and posts the message to the window when a handle fires.
class TChangeHandlerThread {
public:
    static constexpr int kSlotCount = 63;
    static constexpr DWORD kReplyTimeoutMs = 2000;
    static constexpr DWORD kQuitTimeoutMs = 30000;

    TChangeHandlerThread(HWND window, UINT message, IPTMessagePoster* poster = nullptr);
    ~TChangeHandlerThread();
    TChangeHandlerThread(const TChangeHandlerThread&) = delete;
    TChangeHandlerThread& operator=(const TChangeHandlerThread&) = delete;

    // Watches the folder; false for an empty path, a folder that cannot be
    // watched, no free slot, or a worker that does not answer in time. A
    // handle that is not taken into a slot is closed.
    bool AddChangeNotification(const std::string& path, DWORD notifyFilter, int& slot, bool watchSubtree);
    // Closes every watched handle; false when the worker did not answer in time.
    bool RemoveAll();

private:
    struct Shared;
    static void Execute(std::shared_ptr<Shared> shared);
    bool SendCommand(int command, HANDLE pending, int& replySlot);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

class TPTDeviceChangeHandler;
// A registered method: code and object, compared as a pair.
using TPTDeviceChangeProc = void (*)(void* object, TPTDeviceChangeHandler* sender, TMessage& message);
struct TPTDeviceChangeEvent {
    TPTDeviceChangeProc code = nullptr;
    void* object = nullptr;
    bool operator==(const TPTDeviceChangeEvent&) const = default;
};

// A method of a class as a device-change event.
template <class T, void (T::*Method)(TPTDeviceChangeHandler*, TMessage&)>
TPTDeviceChangeEvent PTDeviceChangeMethod(T* object)
{
    return {[](void* o, TPTDeviceChangeHandler* sender, TMessage& m) { (static_cast<T*>(o)->*Method)(sender, m); },
            object};
}

// The hidden window that receives device changes (drives mounted and
// unmounted) and hands them to the registered controls as message 1124.
class TPTDeviceChangeHandler : public TObject {
public:
    TPTDeviceChangeHandler();
    ~TPTDeviceChangeHandler() override;
    TPTDeviceChangeHandler(const TPTDeviceChangeHandler&) = delete;
    TPTDeviceChangeHandler& operator=(const TPTDeviceChangeHandler&) = delete;

    void Add(const TPTDeviceChangeEvent& event);
    void Remove(const TPTDeviceChangeEvent& event);
    void DeleteItem(int index);
    int Count() const { return static_cast<int>(m_list.size()); }
    void BroadcastToList(TMessage& message);
    void WndProc(TMessage& message);
    HWND Handle() const { return m_handle; }

    bool Enabled = true;

private:
    HWND m_handle = 0;
    int m_subscription = 0;
    std::vector<TPTDeviceChangeEvent> m_list;
};

// The single relay, created on first call.
TPTDeviceChangeHandler* PTDeviceChangeHandler();
// Frees the relay (program end; tests).
void PTFreeDeviceChangeHandler();
