#pragma once

#include "nvktl/CEvent.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace NVKTL {

// A worker thread with a stop event. Derive and override run(); run() should
// watch stopEvent() and return soon after it is set.
//
// A derived class whose run() uses the derived object's members must call
// stop() in its own destructor: by the time ~CThread runs, those members are
// gone. Never destroy the object from its own worker thread.
class CThread {
public:
    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    // stop(), then the stop event goes.
    virtual ~CThread();

    // True from startThread() until run() has returned; never waits.
    virtual bool isRunning() const;
    // Waits without time-out until the worker has ended. Called on the worker
    // itself it returns at once (waiting for oneself would never end).
    virtual void join();
    // The thread body; does nothing here.
    virtual void run() {}

    // Starts a new worker that calls run(), unless one is recorded as running.
    // The thread counts as running before the worker's first instruction.
    // Returns false when a worker is already running or none could be made.
    bool startThread();
    // If a worker is running: sets the stop event and joins.
    void stop();

protected:
    CEvent& stopEvent() { return m_stopEvent; }

private:
    void entry();

    CEvent m_stopEvent;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    std::thread m_thread;
    bool m_running = false;
};

} // namespace NVKTL
