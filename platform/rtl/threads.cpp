#include "threads.h"

#include "clock.h"

#include <pthread.h>

#include <chrono>
#include <deque>
#include <list>
#include <memory>

namespace {

const std::thread::id g_startThread = std::this_thread::get_id();

std::atomic<void (*)()> g_wakeMainLoop{nullptr};
std::atomic<bool (*)()> g_isMainLoopThread{nullptr};

// Deadlines of the threads asleep on a manual clock, so that a test can
// wait until a thread sleeps before it moves time (0: no deadline).
std::mutex g_sleepLock;
std::list<std::uint64_t> g_sleepDeadlines;

class ManualSleep {
public:
    explicit ManualSleep(std::uint64_t deadline)
    {
        std::lock_guard<std::mutex> lock(g_sleepLock);
        m_entry = g_sleepDeadlines.insert(g_sleepDeadlines.end(), deadline);
    }
    ~ManualSleep()
    {
        std::lock_guard<std::mutex> lock(g_sleepLock);
        g_sleepDeadlines.erase(m_entry);
    }

private:
    std::list<std::uint64_t>::iterator m_entry;
};

// Waits on cv until ready() holds or timeoutMs pass on the clock in force.
// A manual clock does not wake anyone when it moves, so the sleeper looks
// at it every real millisecond.
template <class Ready>
bool WaitOnClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::uint32_t timeoutMs, Ready ready)
{
    if (ready())
        return true;
    if (timeoutMs == 0)
        return false;
    Clock* clock = &CurrentClock();
    if (!clock->IsManual()) {
        if (timeoutMs == INFINITE) {
            cv.wait(lock, ready);
            return true;
        }
        return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }
    const std::uint64_t deadline = timeoutMs == INFINITE ? 0 : clock->NowMs() + timeoutMs;
    ManualSleep sleep(deadline);
    while (!ready()) {
        // A test that put the system clock back has ended its time steps.
        if (&CurrentClock() != clock || (deadline != 0 && clock->NowMs() >= deadline))
            return false;
        cv.wait_for(lock, std::chrono::milliseconds(1));
    }
    return true;
}

// Calls queued for the user-interface thread.
struct SyncCall {
    std::function<void()> method;
    std::exception_ptr error;
    bool done = false;
};

std::mutex g_syncLock;
std::condition_variable g_syncDone;
std::deque<std::shared_ptr<SyncCall>> g_syncQueue;

void Post(std::shared_ptr<SyncCall> call)
{
    {
        std::lock_guard<std::mutex> lock(g_syncLock);
        g_syncQueue.push_back(std::move(call));
    }
    if (void (*wake)() = g_wakeMainLoop.load())
        wake();
}

}  // namespace

TEvent::TEvent(bool manualReset, bool initialState) : m_manualReset(manualReset), m_signalled(initialState) {}

void TEvent::SetEvent()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_signalled = true;
    }
    m_cv.notify_all();
}

void TEvent::ResetEvent()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_signalled = false;
}

TWaitResult TEvent::WaitFor(std::uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (!WaitOnClock(lock, m_cv, timeoutMs, [this] { return m_signalled; }))
        return TWaitResult::wrTimeout;
    if (!m_manualReset)
        m_signalled = false;
    return TWaitResult::wrSignaled;
}

void SleepOnClock(std::uint32_t ms)
{
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(m);
    WaitOnClock(lock, cv, ms, [] { return false; });
}

bool AwaitClockSleepers(int count, std::uint32_t realTimeoutMs)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
    for (;;) {
        {
            const std::uint64_t now = CurrentClock().NowMs();
            std::lock_guard<std::mutex> lock(g_sleepLock);
            int asleep = 0;
            for (const std::uint64_t deadline : g_sleepDeadlines)
                if (deadline == 0 || deadline > now)
                    ++asleep;
            if (asleep >= count)
                return true;
        }
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        if (IsMainThread())
            CheckSynchronize();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void SetMainLoopHooks(const TMainLoopHooks& hooks)
{
    g_wakeMainLoop = hooks.wake;
    g_isMainLoopThread = hooks.isMainThread;
}

bool IsMainThread()
{
    if (bool (*isMain)() = g_isMainLoopThread.load())
        return isMain();
    return std::this_thread::get_id() == g_startThread;
}

bool CheckSynchronize()
{
    bool ran = false;
    for (;;) {
        std::shared_ptr<SyncCall> call;
        {
            std::lock_guard<std::mutex> lock(g_syncLock);
            if (g_syncQueue.empty())
                break;
            call = g_syncQueue.front();
            g_syncQueue.pop_front();
        }
        ran = true;
        try {
            call->method();
        } catch (...) {
            call->error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(g_syncLock);
            call->done = true;
        }
        g_syncDone.notify_all();
    }
    return ran;
}

TThread::TThread(bool createSuspended) : m_suspended(true)
{
    if (!createSuspended)
        Resume();
}

TThread::~TThread()
{
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
            return;
        }
        EndAndWait();
        m_thread.join();
    }
}

void TThread::EndAndWait()
{
    Terminate();
    if (!m_started)
        return;
    Resume();
    WaitFor();
}

void TThread::Resume()
{
    if (!m_started.exchange(true)) {
        m_suspended = false;
        m_thread = std::thread([this] { Run(); });
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_suspended = false;
    }
    m_cv.notify_all();
}

void TThread::Suspend()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_suspended = true;
}

void TThread::Terminate()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_terminated = true;
    }
    m_cv.notify_all();
}

void TThread::CheckSuspended()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_cv.wait(lock, [this] { return !m_suspended || m_terminated; });
}

int TThread::WaitFor()
{
    if (!m_started)
        return ReturnValue;
    std::unique_lock<std::mutex> lock(m_lock);
    if (!IsMainThread()) {
        m_cv.wait(lock, [this] { return m_finished.load(); });
        return ReturnValue;
    }
    while (!m_finished) {
        lock.unlock();
        CheckSynchronize();
        lock.lock();
        m_cv.wait_for(lock, std::chrono::milliseconds(1), [this] { return m_finished.load(); });
    }
    return ReturnValue;
}

void TThread::Synchronize(const std::function<void()>& method)
{
    if (IsMainThread()) {
        method();
        return;
    }
    CheckSuspended();
    auto call = std::make_shared<SyncCall>();
    call->method = method;
    Post(call);
    std::unique_lock<std::mutex> lock(g_syncLock);
    g_syncDone.wait(lock, [&] { return call->done; });
    if (call->error)
        std::rethrow_exception(call->error);
}

void TThread::Run()
{
    // Named so that a look at the process tells the workers apart.
    pthread_setname_np(pthread_self(), "TThread");
    try {
        Execute();
    } catch (...) {
        m_fatal = std::current_exception();
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(this); });
        } catch (...) {
            if (!m_fatal)
                m_fatal = std::current_exception();
        }
    }
    // Once finished, the owner may delete the object (its destructor joins
    // this thread), so nothing of it is read after that.
    const bool freeOnTerminate = FreeOnTerminate;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_finished = true;
        m_cv.notify_all();
    }
    // OnTerminate has run: the thread frees its object itself, as nothing
    // else refers to it, and needs no event loop to do so (the destructor
    // detaches a thread that deletes its own object).
    if (freeOnTerminate)
        delete this;
}
