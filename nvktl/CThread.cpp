#include "nvktl/CThread.h"

#include <system_error>

namespace NVKTL {

CThread::~CThread() {
    stop();
    std::lock_guard guard(m_mutex);
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

bool CThread::isRunning() const {
    std::lock_guard guard(m_mutex);
    return m_running;
}

void CThread::join() {
    std::unique_lock lock(m_mutex);
    if (m_thread.get_id() == std::this_thread::get_id())
        return;
    m_ended.wait(lock, [this] { return !m_running; });
    // The worker touches nothing after clearing m_running, so this is quick.
    if (m_thread.joinable())
        m_thread.join();
}

bool CThread::startThread() {
    std::lock_guard guard(m_mutex);
    if (m_running)
        return false;
    if (m_thread.joinable())
        m_thread.join(); // an earlier worker that has already returned
    // Reset here rather than on the worker, so that a stop() that comes right
    // after startThread() cannot be wiped out by the worker's start-up.
    m_stopEvent.reset();
    m_running = true;
    try {
        m_thread = std::thread(&CThread::entry, this);
    } catch (const std::system_error&) {
        m_running = false;
        return false;
    }
    return true;
}

void CThread::stop() {
    if (!isRunning())
        return;
    m_stopEvent.set();
    join();
}

void CThread::entry() {
    // Waits until startThread() has stored the handle, so that join() on the
    // worker recognises itself.
    { std::lock_guard guard(m_mutex); }
    run();
    std::lock_guard guard(m_mutex);
    m_running = false;
    m_ended.notify_all();
}

} // namespace NVKTL
