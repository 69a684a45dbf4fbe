#pragma once

#include "nvktl/CEvent.h"
#include "nvktl/CPeriodicTimer.h"
#include "nvktl/CThread.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace NVKTL {

// A worker that runs onTimer() once per interval while its periodic timer
// runs. Life: idle -> ticking (start) <-> paused (stopTimer / start) ->
// ended (onTimer returned false, or the timer was stopped while a tick was
// being handled; a later start() starts a fresh worker) -> destroyed.
//
// For derived classes (the virtual interface, in order):
//   ~CTimerThread, isRunning, join, run (the tick loop below; do not
//   override), onTimer (override: the work of one tick, true to go on).
// onTimer() runs on the worker only and never twice at once: ticks that come
// while it runs are merged and dropped when it returns. A derived class must
// call stop() in its own destructor, before its members go.
//
// start(), stopTimer(), setInterval() and stop() belong to the controlling
// thread; stop() blocks until onTimer() has returned.
class CTimerThread : public CThread {
public:
    CTimerThread() = default;
    // stop(), then the tick event and the thread go.
    ~CTimerThread() override;

    // The period in milliseconds (1000 at first); used at the next timer start.
    void setInterval(unsigned ms) { m_interval = ms; }

    // Running worker: starts the timer if it was stopped, else drops a pending
    // tick. No worker: starts the timer and a new worker.
    void start();
    // Runs the next period now instead of at its tick, when the timer is
    // running; a period in progress is not interrupted.
    void wake();
    // Stops the timer; the worker stays and waits. A tick already pending is
    // still handled once, and then the worker ends.
    void stopTimer();
    // stopTimer(), then sets the stop event and joins the worker.
    void stop();

    // The work of one tick; true to keep ticking. Here: false.
    virtual bool onTimer() { return false; }

protected:
    // The tick loop.
    void run() override;
    // The event that the timer signals at every period.
    CEvent& tickEvent() { return m_tickEvent; }

private:
    void startTimerLocked();
    void killTimerLocked();

    CEvent m_tickEvent;
    std::atomic<unsigned> m_interval{1000};
    // Guards the timer and the ending flag, and makes the worker's decision to
    // end atomic with respect to start().
    std::mutex m_timerMutex;
    std::unique_ptr<CPeriodicTimer> m_timer;
    unsigned m_timerId = 0;
    unsigned m_lastTimerId = 0;
    // Set by the worker once it has decided to end.
    bool m_ending = false;
};

} // namespace NVKTL
