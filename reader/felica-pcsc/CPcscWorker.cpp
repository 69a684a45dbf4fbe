#include "reader/felica-pcsc/CPcscWorker.h"

#include <system_error>

CPcscWorker::~CPcscWorker() {
    if (m_thread.joinable()) {
        stop(std::chrono::milliseconds(2000));
    }
}

bool CPcscWorker::start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        return true;
    }
    try {
        m_thread = std::thread(&CPcscWorker::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CPcscWorker::open(std::chrono::milliseconds wait) {
    return runJob(Job::Open, wait, std::chrono::milliseconds(0), nullptr);
}

bool CPcscWorker::poll(CPcscSession::Poll& result, std::chrono::milliseconds wait,
                       std::chrono::milliseconds maxAge) {
    result = CPcscSession::Poll();
    return runJob(Job::Poll, wait, maxAge, &result);
}

bool CPcscWorker::runJob(Job job, std::chrono::milliseconds wait, std::chrono::milliseconds maxAge,
                         CPcscSession::Poll* result) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable() || m_stop) {
        return false;
    }
    // While an earlier job is still running, wait for that one rather than
    // queueing behind it.
    if (m_submitted == m_completed) {
        m_job = job;
        ++m_submitted;
        m_wake.notify_one();
    }
    const std::uint64_t ticket = m_submitted;
    m_done.wait_for(lock, wait, [&] { return m_completed >= ticket || m_finished; });
    if (m_completed < ticket) {
        const bool recent =
            std::chrono::steady_clock::now() - m_resultTime <= maxAge && !m_finished;
        if (!recent || m_resultJob != job || !m_resultOk) {
            return false;
        }
    } else if (m_resultJob != job) {
        return false;
    }
    if (result) {
        *result = m_result;
    }
    return m_resultOk;
}

bool CPcscWorker::stop(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) {
        return true;
    }
    m_stop = true;
    m_wake.notify_one();
    if (!m_done.wait_for(lock, wait, [&] { return m_finished; })) {
        m_thread.detach();
        return false;
    }
    lock.unlock();
    m_thread.join();
    return true;
}

void CPcscWorker::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_submitted != m_completed; });
        if (m_submitted == m_completed) {
            break; // stopping, nothing left to do
        }
        const Job job = m_job;
        lock.unlock();

        CPcscSession::Poll result;
        const bool ok = job == Job::Open ? m_session.open() : m_session.poll(result);

        lock.lock();
        m_resultJob = job;
        m_resultOk = ok;
        m_result = result;
        m_resultTime = std::chrono::steady_clock::now();
        m_completed = m_submitted;
        m_done.notify_all();
    }
    lock.unlock();
    m_session.close();
    lock.lock();
    m_finished = true;
    m_done.notify_all();
}
