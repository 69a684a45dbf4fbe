#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace NVKTL {

// A repeating timer that, once per interval, signals an event through its
// handle (CEvent::SignalHandle) and runs no other code. It runs from
// construction until destruction; the destructor stops and joins it.
class CPeriodicTimer {
public:
    // intervalMs 0 is taken as 1 ms.
    CPeriodicTimer(unsigned intervalMs, int eventHandle);
    CPeriodicTimer(const CPeriodicTimer&) = delete;
    CPeriodicTimer& operator=(const CPeriodicTimer&) = delete;
    ~CPeriodicTimer();

private:
    void loop();

    const unsigned m_intervalMs;
    const int m_eventHandle;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace NVKTL
