#include "nvktl/CPeriodicTimer.h"

#include "nvktl/CEvent.h"

#include <chrono>

namespace NVKTL {

CPeriodicTimer::CPeriodicTimer(unsigned intervalMs, int eventHandle)
    : m_intervalMs(intervalMs == 0 ? 1 : intervalMs), m_eventHandle(eventHandle),
      m_thread(&CPeriodicTimer::loop, this) {}

CPeriodicTimer::~CPeriodicTimer() {
    {
        std::lock_guard guard(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CPeriodicTimer::loop() {
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(m_intervalMs);
    auto next = Clock::now() + interval;
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_until(lock, next, [this] { return m_stopping; })) {
        CEvent::SignalHandle(m_eventHandle);
        next += interval;
        // After a stall, go on from now rather than firing the missed periods.
        const auto now = Clock::now();
        if (next <= now)
            next = now + interval;
    }
}

} // namespace NVKTL
