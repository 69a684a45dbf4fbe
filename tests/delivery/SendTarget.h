#pragma once

#include "data/CDataRequest.h"
#include "delivery/CSendThread.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <optional>

// The screen side of the send thread inside the test process: it runs each
// data request on the test's data file, as the user-interface thread would,
// and records every call in order as one line: the request's name with its
// delivery and error text ("failDelivery 7 宛先が…"), or a progress call.
class SendTarget : public ISendWindow {
public:
    // Runs before a request, on the worker's thread; a value answers instead.
    using Hook = std::function<std::optional<DataResult>(const std::string& line)>;

    DataResult dataRequest(CDataRequest& request) override {
        std::string line;
        std::visit([&](const auto& r) { describe(line, r); }, request.operation);
        const Hook hook = this->hook();
        const std::optional<DataResult> given = hook ? hook(line) : std::nullopt;
        const DataResult answer = given ? *given : runDataRequest(request);
        // Recorded after it ran, so a waiter that sees it sees its rows.
        record(answer == DataResult::NoWindow ? "refused:" + line : line);
        return answer;
    }
    void progressStart(int position, int maximum) override {
        record("progressStart " + std::to_string(position) + " " + std::to_string(maximum));
    }
    void progressEnd() override { record("progressEnd"); }
    void statusText(const char* text) override { record(std::string("statusText ") + text); }

    void setHook(Hook hook) {
        std::lock_guard guard(m_mutex);
        m_hook = std::move(hook);
    }
    Hook hook() {
        std::lock_guard guard(m_mutex);
        return m_hook;
    }
    std::vector<std::string> calls(bool clear = false) {
        std::lock_guard guard(m_mutex);
        return clear ? std::exchange(m_calls, {}) : m_calls;
    }
    // Waits until a call starting with prefix has come times times.
    bool waitFor(const std::string& prefix, int times = 1) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::count_if(m_calls.begin(), m_calls.end(), [&](const std::string& call) {
                       return call.rfind(prefix, 0) == 0;
                   }) >= times;
        });
    }

private:
    // The name, the delivery and the error text; the dates are the thread's
    // own clock.
    template <class R> static void describe(std::string& line, const R& r) {
        line = r.name;
        if constexpr (requires { r.sendId; })
            line += " " + r.sendId.str();
        if constexpr (requires { r.errorMessage; })
            line += " " + r.errorMessage.str();
    }
    void record(std::string line) {
        std::lock_guard guard(m_mutex);
        m_calls.push_back(std::move(line));
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_calls;
    Hook m_hook;
};

// The send thread with the mail route replaced by a recorder: nothing goes on
// the network; each delivery's result code and last reply come from a script
// (delivered, 250, when none is set).
class RecordingSendThread : public CSendThread {
public:
    using Script = std::function<int(const std::string& recipient, int attempt, int& reply)>;

    explicit RecordingSendThread(Script script = {}) : m_script(std::move(script)) {
        setInterval(2);
    }
    ~RecordingSendThread() override { stop(); }

    std::vector<std::string> recipients() const {
        std::lock_guard guard(m_mutex);
        return m_recipients;
    }
    void execute() override {
        ++periods;
        CSendThread::execute();
    }
    std::atomic<int> periods{0};

protected:
    int deliverMail(const CMapStringToString& settings, const CString&, int& reply) override {
        std::lock_guard guard(m_mutex);
        m_recipients.push_back(settings.Value("recv_mail").str());
        reply = 250;
        const int attempt = static_cast<int>(m_recipients.size()) - 1;
        return m_script ? m_script(m_recipients.back(), attempt, reply) : 0;
    }

private:
    mutable std::mutex m_mutex;
    const Script m_script;
    std::vector<std::string> m_recipients;
};
