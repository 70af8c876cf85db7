#include "clock.h"

#include <atomic>
#include <chrono>

namespace {
class SystemClock : public Clock {
public:
    std::uint64_t NowMs() const override
    {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
};

SystemClock g_systemClock;
std::atomic<Clock*> g_clock {&g_systemClock};
}

Clock& CurrentClock() { return *g_clock.load(); }

void SetCurrentClock(Clock* clock) { g_clock.store(clock ? clock : &g_systemClock); }

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(CurrentClock().NowMs()); }

std::uint32_t timeGetTime() { return GetTickCount(); }

int ManualClock::AddTimer(std::uint32_t intervalMs, Callback callback)
{
    const int id = m_nextId++;
    m_timers.emplace(id, Timer {m_now.load() + (intervalMs ? intervalMs : 1), intervalMs ? intervalMs : 1, std::move(callback)});
    return id;
}

void ManualClock::RemoveTimer(int id) { m_timers.erase(id); }

void ManualClock::Advance(std::uint64_t ms)
{
    const std::uint64_t target = m_now.load() + ms;
    for (;;) {
        // The earliest due timer; callbacks may add or remove timers.
        int nextId = 0;
        std::uint64_t nextDue = target + 1;
        for (const auto& [id, t] : m_timers)
            if (t.due < nextDue) {
                nextDue = t.due;
                nextId = id;
            }
        if (nextId == 0)
            break;
        m_now = nextDue;
        auto it = m_timers.find(nextId);
        it->second.due += it->second.interval;
        Callback cb = it->second.callback;
        cb();
    }
    m_now = target;
}
