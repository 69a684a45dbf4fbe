#include "nvktl/CTimerThread.h"

#include <system_error>

namespace NVKTL {

CTimerThread::~CTimerThread() {
    stop();
}

void CTimerThread::start() {
    std::lock_guard guard(m_timerMutex);
    if (isRunning() && !m_ending) {
        if (m_timerId == 0)
            startTimerLocked();
        else
            m_tickEvent.reset();
        return;
    }
    // A worker that has decided to end returns without taking the lock; wait
    // for it, so this start() is not lost to its last steps.
    if (m_ending)
        CThread::join();
    m_ending = false;
    startTimerLocked();
    if (!startThread())
        killTimerLocked();
}

void CTimerThread::wake() {
    std::lock_guard guard(m_timerMutex);
    if (m_timerId != 0)
        m_tickEvent.set();
}

void CTimerThread::stopTimer() {
    std::lock_guard guard(m_timerMutex);
    killTimerLocked();
}

void CTimerThread::stop() {
    stopTimer();
    CThread::stop();
}

void CTimerThread::run() {
    for (;;) {
        // Only the stop event (index 0) and the tick event (index 1) matter.
        const int woken = CEvent::WaitAny({&stopEvent(), &m_tickEvent}, CEvent::Infinite);
        const bool goOn = woken == 1 && onTimer();
        // The decision to end and the ending flag are one step for start().
        std::lock_guard guard(m_timerMutex);
        if (!goOn || m_timerId == 0 || !isRunning()) {
            killTimerLocked();
            m_ending = true;
            return;
        }
        m_tickEvent.reset();
    }
}

void CTimerThread::startTimerLocked() {
    try {
        m_timer = std::make_unique<CPeriodicTimer>(m_interval, m_tickEvent.handle());
    } catch (const std::system_error&) {
        killTimerLocked(); // no thread for the timer: stays stopped
        return;
    }
    if (++m_lastTimerId == 0)
        ++m_lastTimerId;
    m_timerId = m_lastTimerId;
}

void CTimerThread::killTimerLocked() {
    m_timer.reset();
    m_timerId = 0;
}

} // namespace NVKTL
