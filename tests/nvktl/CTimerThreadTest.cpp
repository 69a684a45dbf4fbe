#include "nvktl/CTimerThread.h"

#include "tests/support/WaitUntil.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

using iotest::waitUntil;
using NVKTL::CEvent;
using NVKTL::CTimerThread;

namespace {

constexpr unsigned kNever = 3600000; // an interval that never fires during a test

// Counts ticks, watches for overlapping onTimer() calls and can hold the
// first call until released.
class TestTimer : public CTimerThread {
public:
    ~TestTimer() override { stop(); }

    bool onTimer() override {
        const int inside = ++m_inside;
        int seen = maxInside.load();
        while (inside > seen && !maxInside.compare_exchange_weak(seen, inside)) {
        }
        if (holdFirst && calls == 0) {
            std::unique_lock lock(m_mutex);
            held = true;
            m_released.wait(lock, [this] { return m_release; });
        }
        if (workMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(workMs));
        --m_inside;
        ++calls;
        return keepGoing;
    }

    // Lets the test act between the end of the tick loop and the moment the
    // thread counts as ended.
    void run() override {
        CTimerThread::run();
        leftLoop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
    }

    void release() {
        std::lock_guard lock(m_mutex);
        m_release = true;
        m_released.notify_all();
    }
    // A tick as the periodic timer gives it.
    void signalTick() { CEvent::SignalHandle(tickEvent().handle()); }
    bool tickPending() { return CEvent::WaitAny({&tickEvent()}, 0) == 0; }

    std::atomic<int> calls{0};
    std::atomic<int> maxInside{0};
    std::atomic<bool> held{false};
    bool keepGoing = true;
    bool holdFirst = false;
    int workMs = 0;
    int lingerMs = 0;
    std::atomic<bool> leftLoop{false};

private:
    std::atomic<int> m_inside{0};
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
};

TEST(CTimerThread, TicksUntilStopped) {
    TestTimer timer;
    EXPECT_EQ(1000u, timer.getInterval());
    timer.setInterval(10);
    timer.start();
    EXPECT_TRUE(timer.isRunning());
    ASSERT_TRUE(waitUntil([&] { return timer.calls >= 3; }));
    timer.stop();
    EXPECT_FALSE(timer.isRunning());
    const int calls = timer.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls, timer.calls) << "no tick after stop()";
}

TEST(CTimerThread, OnTimerReturningFalseEndsTheThreadAndStartRestartsIt) {
    TestTimer timer;
    timer.keepGoing = false;
    timer.setInterval(20);
    timer.start();
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 1 && !timer.isRunning(); }));
    timer.start();
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 2 && !timer.isRunning(); }));
}

TEST(CTimerThread, StopTimerPausesAndStartResumes) {
    TestTimer timer;
    timer.setInterval(10);
    timer.start();
    ASSERT_TRUE(waitUntil([&] { return timer.calls >= 2; }));
    timer.stopTimer();
    // A tick pending at stopTimer() may still run once; after that, silence.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int paused = timer.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(paused, timer.calls);
    timer.start();
    EXPECT_TRUE(timer.isRunning());
    EXPECT_TRUE(waitUntil([&] { return timer.calls >= paused + 2; }));
}

TEST(CTimerThread, WakeRunsAPeriodNowOnlyWhileTheTimerRuns) {
    TestTimer timer;
    timer.setInterval(kNever);
    timer.wake(); // never started: nothing to wake
    EXPECT_FALSE(timer.isRunning());
    timer.start();
    timer.wake();
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 1; }));
    timer.stopTimer();
    timer.wake(); // paused: stays paused
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1, timer.calls);
}

TEST(CTimerThread, PendingTickAfterStopTimerRunsOnceThenTheThreadEnds) {
    TestTimer timer;
    timer.setInterval(kNever);
    timer.start();
    timer.stopTimer();
    EXPECT_TRUE(timer.isRunning()) << "the worker keeps waiting without a timer";
    timer.signalTick();
    ASSERT_TRUE(waitUntil([&] { return !timer.isRunning(); }));
    EXPECT_EQ(1, timer.calls);

    timer.setInterval(10);
    timer.start(); // a fresh worker and timer
    EXPECT_TRUE(timer.isRunning());
    EXPECT_TRUE(waitUntil([&] { return timer.calls >= 3; }));
}

TEST(CTimerThread, TicksDuringOnTimerMergeAndAreDropped) {
    TestTimer timer;
    timer.holdFirst = true;
    timer.setInterval(kNever);
    timer.start();
    timer.signalTick();
    ASSERT_TRUE(waitUntil([&] { return timer.held.load(); }));
    for (int i = 0; i < 5; ++i)
        timer.signalTick();
    timer.release();
    // The worker resets the tick event after onTimer() returns.
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 1 && !timer.tickPending(); }));
    EXPECT_EQ(1, timer.calls);

    timer.signalTick();
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 2 && !timer.tickPending(); }));
    EXPECT_EQ(2, timer.calls);
    EXPECT_TRUE(timer.isRunning());
}

TEST(CTimerThread, OnTimerNeverOverlapsItself) {
    TestTimer timer;
    timer.workMs = 15; // longer than the period
    timer.setInterval(5);
    timer.start();
    ASSERT_TRUE(waitUntil([&] { return timer.calls >= 5; }));
    timer.stop();
    EXPECT_EQ(1, timer.maxInside);
}

TEST(CTimerThread, StopOnANeverStartedTimerReturnsAtOnce) {
    TestTimer timer;
    timer.stop();
    timer.stopTimer();
    EXPECT_FALSE(timer.isRunning());
    EXPECT_EQ(0, timer.calls);
}

TEST(CTimerThread, DestructionWhileTickingJoinsCleanly) {
    for (int work : {0, 20}) {
        auto timer = std::make_unique<TestTimer>();
        timer->workMs = work;
        timer->setInterval(5);
        timer->start();
        ASSERT_TRUE(waitUntil([&] { return timer->calls >= 2; }));
        timer.reset(); // must stop, join and free without touching freed memory
    }
}

TEST(CTimerThread, StopFromInsideOnTimerEndsTheWorker) {
    class SelfStopper : public CTimerThread {
    public:
        ~SelfStopper() override { stop(); }
        bool onTimer() override {
            stop();
            ++calls;
            return true;
        }
        std::atomic<int> calls{0};
    } timer;
    timer.setInterval(10);
    timer.start();
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 1 && !timer.isRunning(); }));
}

// A screen closes (stopTimer) while a tick is being handled, and the next
// screen opens (start) just after the worker has left its loop but before the
// thread counts as ended: ticking must go on.
TEST(CTimerThread, StartWhileTheWorkerIsEndingIsNeverLost) {
    TestTimer timer;
    timer.holdFirst = true;
    timer.lingerMs = 50;
    timer.setInterval(5);
    timer.start();
    ASSERT_TRUE(waitUntil([&] { return timer.held.load(); }));
    timer.stopTimer();
    timer.release();
    ASSERT_TRUE(waitUntil([&] { return timer.leftLoop.load(); }));
    ASSERT_TRUE(timer.isRunning()) << "still lingering";
    timer.start();
    EXPECT_TRUE(waitUntil([&] { return timer.calls >= 3; }));
    EXPECT_TRUE(timer.isRunning());
}

} // namespace
