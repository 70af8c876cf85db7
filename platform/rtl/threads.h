// Worker threads, events and sleeps of the runtime library.
//
// A TThread's Synchronize and its OnTerminate run on the user-interface
// thread: the call is queued and the event loop is woken to run it; a
// caller on that thread that waits for a worker (WaitFor, or a loop of
// its own) drains the queue with CheckSynchronize meanwhile, so neither
// side blocks the other. Every timed wait and sleep here runs on
// CurrentClock(): under a ManualClock a waiting thread wakes when the test
// moves the clock past its deadline, and the test can first wait until
// the thread is asleep (ManualClock::AwaitSleepers).
#pragma once

#include "rtl/classes.h"
#include "win/wintypes.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>


enum class TWaitResult { wrSignaled, wrTimeout };
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// An event that a waiting thread sleeps on until another signals it. An
// auto-reset event lets one waiter through per SetEvent and is then clear
// again; a manual-reset event stays signalled until ResetEvent.
class TEvent {
public:
    explicit TEvent(bool manualReset = false, bool initialState = false);
    void SetEvent();
    void ResetEvent();
    // Waits up to timeoutMs on the clock in force (INFINITE: no limit).
    TWaitResult WaitFor(std::uint32_t timeoutMs);

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_manualReset;
    bool m_signalled;
};

// Sleeps ms milliseconds on the clock in force (0 yields the processor).
void SleepOnClock(std::uint32_t ms);

// Waits, in real time up to realTimeoutMs, until count threads sleep in a
// timed wait on the manual clock in force that it has not yet reached (or
// without limit). A test calls it before it moves the clock, so that the
// sleepers take their deadlines from the time before the step. On the
// user-interface thread it runs queued calls meanwhile.
bool AwaitClockSleepers(int count, std::uint32_t realTimeoutMs = 10000);

// True on the user-interface thread (the one that started the program, or
// the event loop's thread once the loop is known).
bool IsMainThread();

// The user-interface thread's event loop as the runtime sees it: how to
// wake it when a worker queued a call (it then runs CheckSynchronize), and
// how to tell its thread. The GUI class library sets them when it makes
// the toolkit's application; without them the thread that started the
// program is the user-interface thread and queued calls run whenever that
// thread calls CheckSynchronize. The runtime itself links no toolkit, so
// programs that only read files (the image decoders) do not either.
struct TMainLoopHooks {
    void (*wake)() = nullptr;
    bool (*isMainThread)() = nullptr;
};
void SetMainLoopHooks(const TMainLoopHooks& hooks);
// Runs the calls that workers queued for the user-interface thread; false
// when there was none. Only the user-interface thread calls it.
bool CheckSynchronize();

class TThread : public TObject {
public:
    explicit TThread(bool createSuspended);
    // Ends a running thread first: requests termination, resumes it and
    // waits for it.
    ~TThread() override;

    // Runs the thread from its first Resume; a later Resume lets a
    // suspended thread go on.
    void Resume();
    void Start() { Resume(); }
    // Suspension is cooperative: the thread stops at its next Synchronize
    // or CheckSuspended, and stays there until Resume or Terminate.
    void Suspend();
    void Terminate();
    // Waits for the end of Execute and answers ReturnValue. On the
    // user-interface thread it keeps running queued calls meanwhile.
    int WaitFor();

    bool Suspended() const { return m_suspended.load(); }
    bool Finished() const { return m_finished.load(); }
    std::exception_ptr FatalException() const { return m_fatal; }

    // The thread deletes its object itself after OnTerminate; nobody may
    // wait for or delete such a thread once it runs.
    bool FreeOnTerminate = false;
    // Runs on the user-interface thread when Execute has ended.
    TNotifyEvent OnTerminate;
    // Kept for callers that set it; the scheduler of a desktop does not
    // need it.
    TThreadPriority Priority = TThreadPriority::tpNormal;

protected:
    virtual void Execute() = 0;
    bool Terminated() const { return m_terminated.load(); }
    // Runs method on the user-interface thread and waits for it; an
    // exception it raises is raised again here.
    void Synchronize(const std::function<void()>& method);
    // Blocks while the thread is suspended.
    void CheckSuspended();
    // Requests termination, resumes a suspended thread and waits for it; a
    // thread never started stays so. A subclass whose Execute uses its own
    // members calls it in its destructor, before they go.
    void EndAndWait();
    int ReturnValue = 0;

private:
    void Run();

    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_suspended;
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_finished{false};
    std::exception_ptr m_fatal;
};
