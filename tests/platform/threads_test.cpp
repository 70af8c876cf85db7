// Worker threads: suspension, termination, calls handed to the
// user-interface thread, and waits that a manual clock steps.
#include "rtl/clock.h"
#include "rtl/threads.h"
#include "vcl/forms.h"
#include "win/splitwork.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>
#include <stdexcept>

namespace {

using namespace std::chrono_literals;

// Runs the Qt event loop until done() holds or five real seconds pass.
template <class Done>
bool PumpUntil(Done done)
{
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class LambdaThread : public TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body, std::atomic<bool>* destroyed = nullptr)
        : TThread(true), m_body(std::move(body)), m_destroyed(destroyed)
    {
    }
    ~LambdaThread() override
    {
        // Ends the thread before the body it runs goes away.
        EndAndWait();
        if (m_destroyed)
            *m_destroyed = true;
    }
    using TThread::CheckSuspended;
    using TThread::Synchronize;
    using TThread::Terminated;

protected:
    void Execute() override { m_body(*this); }

private:
    std::function<void(LambdaThread&)> m_body;
    std::atomic<bool>* m_destroyed;
};

class Threads : public ::testing::Test {
protected:
    void SetUp() override { EnsureQtApplication(); }
};

TEST_F(Threads, ACreatedSuspendedThreadRunsFromItsFirstResume)
{
    std::atomic<int> runs{0};
    LambdaThread t([&](LambdaThread&) { ++runs; });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(t.Suspended());
    t.Resume();
    t.WaitFor();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(t.Finished());
}

TEST_F(Threads, SynchronizeAndOnTerminateRunOnTheUserInterfaceThroughTheEventLoop)
{
    std::atomic<bool> syncOnMain{false}, terminateOnMain{false}, synced{false};
    LambdaThread t([&](LambdaThread& self) {
        self.Synchronize([&] {
            syncOnMain = IsMainThread();
            synced = true;
        });
    });
    t.OnTerminate = [&](TObject* sender) { terminateOnMain = IsMainThread() && sender == &t; };
    t.Resume();
    // Nothing but the Qt event loop runs the queued calls here.
    ASSERT_TRUE(PumpUntil([&] { return t.Finished(); }));
    EXPECT_TRUE(synced);
    EXPECT_TRUE(syncOnMain);
    EXPECT_TRUE(terminateOnMain);
}

TEST_F(Threads, AWaitingCallerRunsTheQueuedCallsItself)
{
    int calls = 0;
    LambdaThread t([&](LambdaThread& self) {
        for (int i = 0; i < 3; ++i)
            self.Synchronize([&] { ++calls; });
    });
    t.Resume();
    t.WaitFor();  // would never return if the calls waited for the event loop
    EXPECT_EQ(calls, 3);
}

TEST_F(Threads, AnExceptionOfASynchronizedCallReachesTheWorker)
{
    std::atomic<bool> caught{false};
    LambdaThread t([&](LambdaThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("drawing failed"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        throw std::logic_error("end");
    });
    t.Resume();
    t.WaitFor();
    EXPECT_TRUE(caught);
    EXPECT_TRUE(t.FatalException() != nullptr);
}

TEST_F(Threads, FreeOnTerminateDeletesTheThreadAfterOnTerminate)
{
    std::atomic<bool> destroyed{false};
    std::atomic<bool> terminatedFirst{false};
    auto* t = new LambdaThread([](LambdaThread&) {}, &destroyed);
    t->FreeOnTerminate = true;
    t->OnTerminate = [&](TObject*) { terminatedFirst = !destroyed; };
    t->Resume();
    ASSERT_TRUE(PumpUntil([&] { return destroyed.load(); }));
    EXPECT_TRUE(terminatedFirst);
}

TEST_F(Threads, SuspendStopsTheThreadUntilResumeAndTerminateEndsIt)
{
    std::atomic<int> passes{0};
    LambdaThread t([&](LambdaThread& self) {
        while (!self.Terminated()) {
            self.CheckSuspended();
            ++passes;
            std::this_thread::sleep_for(1ms);
        }
    });
    t.Resume();
    ASSERT_TRUE(PumpUntil([&] { return passes > 2; }));
    t.Suspend();
    std::this_thread::sleep_for(20ms);
    const int held = passes;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(passes, held);
    t.Resume();
    ASSERT_TRUE(PumpUntil([&] { return passes > held + 2; }));
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}

TEST_F(Threads, DeletingARunningThreadEndsIt)
{
    std::atomic<bool> destroyed{false};
    {
        LambdaThread t(
            [](LambdaThread& self) {
                while (!self.Terminated())
                    std::this_thread::sleep_for(1ms);
            },
            &destroyed);
        t.Resume();
    }
    EXPECT_TRUE(destroyed);
}

TEST(ClockWaits, TimedWaitsEndWhenTheManualClockPassesTheirDeadline)
{
    ScopedManualClock scoped;
    TEvent event;
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = static_cast<int>(event.WaitFor(100)); });
    ASSERT_TRUE(AwaitClockSleepers(1));
    scoped.clock.Advance(99);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(result, -1);
    scoped.clock.Advance(1);
    waiter.join();
    EXPECT_EQ(result, static_cast<int>(TWaitResult::wrTimeout));
}

TEST(ClockWaits, AnAutoResetEventLetsOneWaiterThroughPerSignal)
{
    ScopedManualClock scoped;
    TEvent event;
    std::atomic<int> through{0};
    std::thread a([&] { through += event.WaitFor(INFINITE) == TWaitResult::wrSignaled; });
    std::thread b([&] { through += event.WaitFor(INFINITE) == TWaitResult::wrSignaled; });
    ASSERT_TRUE(AwaitClockSleepers(2));
    event.SetEvent();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(through, 1);
    event.SetEvent();
    a.join();
    b.join();
    EXPECT_EQ(through, 2);
    EXPECT_EQ(event.WaitFor(0), TWaitResult::wrTimeout);

    TEvent manual(true, true);
    EXPECT_EQ(manual.WaitFor(0), TWaitResult::wrSignaled);
    EXPECT_EQ(manual.WaitFor(0), TWaitResult::wrSignaled);
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(ClockWaits, SleepsAndTickCountsFollowTheManualClock)
{
    ScopedManualClock scoped;
    const std::uint32_t start = timeGetTime();
    EXPECT_EQ(start, GetTickCount());
    std::atomic<bool> woke{false};
    std::thread sleeper([&] {
        SleepOnClock(500);
        woke = true;
    });
    ASSERT_TRUE(AwaitClockSleepers(1));
    scoped.clock.Advance(499);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(woke);
    scoped.clock.Advance(1);
    sleeper.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(timeGetTime() - start, 500u);
}

}  // namespace

// Large memory work split among threads: every index in exactly one slice,
// slices on the alignment, small work on the calling thread alone.
TEST(SplitLargeWork, EveryIndexOnceInAlignedSlices)
{
    const struct {
        std::int64_t count, minSlice, align;
        bool split;
    } cases[] = {
        {0, 4, 1, false}, {3, 4, 1, false}, {1000, 4096, 16, false}, {1000, 100, 16, true},
        {1001, 100, 4096, false}, {40000, 4096, 4096, true}, {12345, 1000, 7, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        std::vector<std::atomic<int>> seen(static_cast<size_t>(c.count));
        std::mutex lock;
        std::vector<std::pair<std::int64_t, std::int64_t>> slices;
        std::set<std::thread::id> threads;
        SplitLargeWork(c.count, c.minSlice, c.align, [&](std::int64_t begin, std::int64_t end) {
            for (std::int64_t i = begin; i < end; ++i)
                ++seen[static_cast<size_t>(i)];
            std::lock_guard<std::mutex> hold(lock);
            slices.emplace_back(begin, end);
            threads.insert(std::this_thread::get_id());
        });
        for (const auto& s : seen)
            ASSERT_EQ(s.load(), 1);
        for (const auto& [begin, end] : slices)
            if (end != c.count) {
                EXPECT_EQ(end % c.align, 0);
            }
        EXPECT_EQ(slices.size() > 1, c.split && std::thread::hardware_concurrency() > 1);
        if (!c.split && c.count > 0) {
            EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
        }
    }
    std::vector<char> from(9 << 20), to(9 << 20);
    for (size_t i = 0; i < from.size(); ++i)
        from[i] = static_cast<char>(i * 31 / 7);
    CopyLargeBlock(to.data(), from.data(), from.size());
    EXPECT_EQ(to, from);
}
