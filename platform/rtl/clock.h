// The millisecond clock that timers, delays and tick counts run on. The
// program uses the steady system clock; a test installs a ManualClock and
// moves time forward itself, firing the timers that fall due.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t NowMs() const = 0;
    // True when time only moves when a test says so.
    virtual bool IsManual() const { return false; }
};

// The clock in force; the steady system clock unless a test set another.
Clock& CurrentClock();
// Installs a clock (nullptr restores the system clock). Not owned.
void SetCurrentClock(Clock* clock);

// Milliseconds since an arbitrary start, wrapping like the system tick count.
std::uint32_t GetTickCount();
// The multimedia timer's milliseconds: the same count as GetTickCount.
std::uint32_t timeGetTime();

class ManualClock : public Clock {
public:
    using Callback = std::function<void()>;

    // Read by sleeping threads while the test thread moves it.
    std::uint64_t NowMs() const override { return m_now.load(); }
    bool IsManual() const override { return true; }

    // A repeating timer: fires every interval ms from now until removed.
    int AddTimer(std::uint32_t intervalMs, Callback callback);
    void RemoveTimer(int id);
    // Moves time forward, firing due timers in time order.
    void Advance(std::uint64_t ms);

private:
    struct Timer {
        std::uint64_t due;
        std::uint32_t interval;
        Callback callback;
    };
    std::atomic<std::uint64_t> m_now{1000};
    int m_nextId = 1;
    std::map<int, Timer> m_timers;
};

// Installs a ManualClock for the life of a test scope.
class ScopedManualClock {
public:
    ScopedManualClock() { SetCurrentClock(&clock); }
    ~ScopedManualClock() { SetCurrentClock(nullptr); }
    ManualClock clock;
};
