#include "messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

const QEvent::Type kMessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent : public QEvent {
public:
    explicit MessageEvent(const TMessage& m) : QEvent(kMessageEventType), message(m) {}
    TMessage message;
};

// Lives on the user-interface thread and calls the window procedure for each
// message that reaches it.
class Receiver : public QObject {
public:
    explicit Receiver(TWndMethod m) : method(std::move(m)) {}
    bool event(QEvent* e) override
    {
        if (e->type() != kMessageEventType)
            return QObject::event(e);
        TMessage msg = static_cast<MessageEvent*>(e)->message;
        if (method)
            method(msg);
        return true;
    }
    TWndMethod method;
};

struct Registry {
    std::mutex lock;
    std::unordered_map<HWND, Receiver*> receivers;
    HWND next = 0x1000;
};

Registry& registry()
{
    // Never destroyed: threads may post until the process is gone, also
    // while static objects are being destroyed at exit.
    static Registry* const r = new Registry;
    return *r;
}

}

HWND AllocateHWnd(TWndMethod method)
{
    auto* receiver = new Receiver(std::move(method));
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    const HWND wnd = r.next;
    r.next += 4;
    r.receivers.emplace(wnd, receiver);
    return wnd;
}

void DeallocateHWnd(HWND wnd)
{
    Receiver* receiver = nullptr;
    {
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        const auto it = r.receivers.find(wnd);
        if (it == r.receivers.end())
            return;
        receiver = it->second;
        r.receivers.erase(it);
    }
    // Deleting the receiver also drops the events still queued for it.
    delete receiver;
}

bool IsWindow(HWND wnd)
{
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.receivers.count(wnd) != 0;
}

BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Registry& r = registry();
    // The lock is held while posting so the receiver cannot be freed between
    // the look-up and the post.
    std::lock_guard guard(r.lock);
    const auto it = r.receivers.find(wnd);
    if (it == r.receivers.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    TMessage m;
    m.Msg = msg;
    m.WParam = wParam;
    m.LParam = lParam;
    QCoreApplication::postEvent(it->second, new MessageEvent(m));
    return TRUE;
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Receiver* receiver = nullptr;
    {
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        const auto it = r.receivers.find(wnd);
        if (it == r.receivers.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        receiver = it->second;
    }
    TMessage m;
    m.Msg = msg;
    m.WParam = wParam;
    m.LParam = lParam;
    if (receiver->method)
        receiver->method(m);
    return m.Result;
}
