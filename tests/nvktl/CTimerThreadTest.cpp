#include "nvktl/CTimerThread.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

using iotest::waitUntil;
using NVKTL::CEvent;

namespace {

constexpr unsigned Never = 3600000; // an interval that never fires during a test

// Counts ticks and overlapping calls; holds a call while hold is set.
class TestTimer : public NVKTL::CTimerThread {
public:
    ~TestTimer() override { stop(); }
    bool onTimer() override {
        maxInside = std::max(maxInside.load(), ++inside);
        while (hold)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(workMs));
        --inside, ++calls;
        return keepGoing;
    }
    // Lets the test act after the tick loop has ended but before the thread has.
    void run() override {
        CTimerThread::run();
        leftLoop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
    }
    void tick() { CEvent::SignalHandle(tickEvent().handle()); } // as the periodic timer does
    std::atomic<int> calls{0}, inside{0}, maxInside{0};
    std::atomic<bool> hold{false}, leftLoop{false}, keepGoing{true};
    int workMs = 0, lingerMs = 0;
};

TEST(CTimerThreadTest, TicksOneAtATimeUntilStoppedAndStartsAgain) {
    TestTimer timer;
    timer.workMs = 15; // longer than the period
    timer.setInterval(5);
    for (int round = 1; round <= 2; ++round) {
        timer.start();
        ASSERT_TRUE(waitUntil([&] { return timer.calls >= 3 * round; }));
        timer.stop();
    }
    const int calls = timer.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(timer.calls, calls) << "no tick after stop()";
    EXPECT_EQ(timer.maxInside, 1);
    timer.keepGoing = false; // ends the thread, which starts again
    for (int round = 1; round <= 2; ++round) {
        timer.start();
        ASSERT_TRUE(waitUntil([&] { return timer.calls == calls + round && !timer.isRunning(); }));
    }
}

TEST(CTimerThreadTest, WakeAndTicksRunOnlyWhileTheTimerRunsAndMerge) {
    TestTimer timer;
    timer.setInterval(Never);
    timer.wake(); // never started: nothing to wake
    timer.start();
    timer.wake();
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 1; }));
    timer.stopTimer();
    timer.wake(); // paused: stays paused
    EXPECT_TRUE(timer.isRunning()) << "the worker keeps waiting without a timer";
    timer.tick(); // a tick already pending still runs once, then the worker ends
    ASSERT_TRUE(waitUntil([&] { return !timer.isRunning(); }));
    EXPECT_EQ(timer.calls, 2);
    // Ticks that come during a tick merge into one and are dropped.
    timer.hold = true;
    timer.lingerMs = 50;
    timer.start();
    timer.tick();
    ASSERT_TRUE(waitUntil([&] { return timer.inside == 1; }));
    for (int i = 0; i < 5; ++i)
        timer.tick();
    timer.hold = false;
    ASSERT_TRUE(waitUntil([&] { return timer.calls == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(timer.calls, 3);
    // A screen closes while a tick is handled, the next opens just after the
    // worker has left its loop.
    timer.leftLoop = false;
    timer.hold = true;
    timer.tick();
    ASSERT_TRUE(waitUntil([&] { return timer.inside == 1; }));
    timer.stopTimer();
    timer.hold = false;
    ASSERT_TRUE(waitUntil([&] { return timer.leftLoop.load(); }));
    timer.setInterval(5);
    timer.start();
    EXPECT_TRUE(waitUntil([&] { return timer.calls >= 6; })) << "ticking goes on";
}

} // namespace
