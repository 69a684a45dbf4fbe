#pragma once

#include "data/CDataRequest.h"
#include "delivery/ISendWindow.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <variant>

// The screen side of the send thread for benchmarks: runs every data request
// on the data file one at a time, as the user-interface thread does, and
// counts the deliveries that reached their end (sent or given up).
class BenchWindow : public ISendWindow {
public:
    using Clock = std::chrono::steady_clock;

    DataResult dataRequest(CDataRequest& request) override {
        std::lock_guard<std::mutex> data(m_dataLock);
        const auto& operation = request.operation;
        const bool done = std::holds_alternative<DataRequest::SendDelivery>(operation) ||
                          std::holds_alternative<DataRequest::FailDelivery>(operation);
        if (std::holds_alternative<DataRequest::GetSendLogin>(operation)) {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (!m_started)
                m_start = Clock::now();
            m_started = true;
        }
        const auto start = Clock::now();
        const DataResult result = runDataRequest(request);
        if (done) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_stateSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            ++m_finished;
            m_end = Clock::now();
            m_changed.notify_all();
        }
        return result;
    }
    void progressStart(int, int) override {}
    void progressEnd() override {}
    void statusText(const char*) override {}

    // What the screens do between the thread's requests (recording a visit)
    // holds this lock, as it would hold the user-interface thread.
    std::mutex& dataLock() { return m_dataLock; }

    double stateSeconds() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_stateSeconds;
    }

    // Seconds from the first due-delivery query until expected deliveries
    // have ended, or a negative value when they did not within timeout.
    double waitSeconds(int expected, std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (!m_changed.wait_for(guard, timeout, [&] { return m_finished >= expected; }))
            return -1;
        return std::chrono::duration<double>(m_end - m_start).count();
    }

private:
    std::mutex m_dataLock;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_started = false;
    int m_finished = 0;
    double m_stateSeconds = 0;
    Clock::time_point m_start, m_end;
};
