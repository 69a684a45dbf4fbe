#include "nvktl/CEvent.h"
#include "nvktl/CThread.h"

#include "tests/support/WaitUntil.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using NVKTL::CEvent;
using NVKTL::CThread;

namespace {

// Looks at the event without the discard rule of wait().
bool rawSignalled(const CEvent& event) {
    return CEvent::WaitAny({&event}, 0) == 0;
}

TEST(CEvent, SetStaysSignalledUntilReset) {
    CEvent event;
    EXPECT_EQ(CEvent::WaitTimeout, event.wait(20)) << "created not signalled";
    event.set();
    EXPECT_EQ(CEvent::WaitSignalled, event.wait(0));
    EXPECT_EQ(CEvent::WaitSignalled, event.wait(0)) << "manual reset: a wait does not clear it";
    event.reset();
    EXPECT_EQ(CEvent::WaitTimeout, event.wait(0));
}

TEST(CEvent, WaitDiscardsASignalThatDidNotComeFromSet) {
    CEvent event;
    CEvent::SignalHandle(event.handle()); // as the periodic timer does
    CEvent::SignalHandle(event.handle());
    ASSERT_TRUE(rawSignalled(event));
    EXPECT_EQ(CEvent::WaitTimeout, event.wait(0));
    EXPECT_FALSE(rawSignalled(event)) << "the discarded signal must be cleared";
}

TEST(CEvent, SetAfterADirectSignalIsKept) {
    CEvent event;
    CEvent::SignalHandle(event.handle());
    event.set();
    EXPECT_EQ(CEvent::WaitSignalled, event.wait(0));
    // After reset the explicit mark is gone, so a direct signal is discarded again.
    event.reset();
    CEvent::SignalHandle(event.handle());
    EXPECT_EQ(CEvent::WaitTimeout, event.wait(0));
}

TEST(CEvent, WaitWakesWhenAnotherThreadSets) {
    CEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.set();
    });
    EXPECT_EQ(CEvent::WaitSignalled, event.wait(CEvent::Infinite));
    setter.join();
}

TEST(CEvent, WaitAnyReportsTheFirstSignalledInListOrder) {
    CEvent first, second;
    EXPECT_EQ(CEvent::WaitTimeout, CEvent::WaitAny({&first, &second}, 0));
    CEvent::SignalHandle(second.handle());
    EXPECT_EQ(1, CEvent::WaitAny({&first, &second}, 0));
    EXPECT_TRUE(rawSignalled(second)) << "WaitAny neither discards nor clears";
    first.set();
    EXPECT_EQ(0, CEvent::WaitAny({&first, &second}, CEvent::Infinite));
}

// A worker that runs until its stop event is set.
class StoppableWorker : public CThread {
public:
    ~StoppableWorker() override { stop(); }
    void run() override {
        sawRunning = isRunning();
        while (CEvent::WaitAny({&stopEvent()}, CEvent::Infinite) != 0) {
        }
        ++finished;
    }
    std::atomic<bool> sawRunning{false};
    std::atomic<int> finished{0};
};

TEST(CThread, StopEndsTheWorkerAndAllowsARestart) {
    StoppableWorker worker;
    EXPECT_FALSE(worker.isRunning());
    ASSERT_TRUE(worker.startThread());
    EXPECT_TRUE(worker.isRunning());
    EXPECT_FALSE(worker.startThread()) << "only one worker at a time";
    worker.stop();
    EXPECT_FALSE(worker.isRunning());
    EXPECT_EQ(1, worker.finished);
    EXPECT_TRUE(worker.sawRunning) << "the body must see itself running";

    ASSERT_TRUE(worker.startThread()) << "the stop event is cleared for the new worker";
    EXPECT_TRUE(iotest::waitUntil([&] { return worker.sawRunning.load(); }));
    worker.stop();
    EXPECT_EQ(2, worker.finished);
}

TEST(CThread, StopRightAfterStartIsNeverLost) {
    for (int i = 0; i < 200; ++i) {
        StoppableWorker worker;
        ASSERT_TRUE(worker.startThread());
        worker.stop(); // would hang if the worker cleared the stop event itself
        ASSERT_EQ(1, worker.finished);
    }
}

TEST(CThread, StopOnANeverStartedThreadReturnsAtOnce) {
    StoppableWorker worker;
    worker.stop();
    worker.join();
    EXPECT_EQ(0, worker.finished);
}

TEST(CThread, JoinFromTheWorkerItselfDoesNotDeadlock) {
    class SelfJoiner : public CThread {
    public:
        ~SelfJoiner() override { stop(); }
        void run() override {
            join();
            stop();
            done = true;
        }
        std::atomic<bool> done{false};
    } worker;
    ASSERT_TRUE(worker.startThread());
    worker.join();
    EXPECT_TRUE(worker.done);
    EXPECT_FALSE(worker.isRunning());
}

} // namespace
