#pragma once

#include "delivery/CSendThread.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The send thread with the mail route replaced by a recorder: every message is
// kept, nothing goes on the network, and the result code of each delivery
// comes from a script (0, delivered, when no script is set).
class RecordingSendThread : public CSendThread {
public:
    struct Delivery {
        CMapStringToString settings;
        std::string message;
        std::string recipient() const {
            CString mail;
            settings.Lookup("recv_mail", mail);
            return mail.str();
        }
    };
    // Given the recipient and the number of deliveries before this one.
    using Script = std::function<int(const std::string& recipient, int attempt)>;
    // The same, also giving the server's last reply code.
    using ReplyScript =
        std::function<int(const std::string& recipient, int attempt, int& replyCode)>;

    ~RecordingSendThread() override { stop(); }

    void setScript(Script script) {
        setReplyScript([script = std::move(script)](const std::string& recipient, int attempt,
                                                    int&) { return script(recipient, attempt); });
    }
    void setReplyScript(ReplyScript script) {
        std::lock_guard guard(m_mutex);
        m_script = std::move(script);
    }
    std::vector<Delivery> deliveries() const {
        std::lock_guard guard(m_mutex);
        return m_deliveries;
    }
    std::vector<std::string> recipients() const {
        std::vector<std::string> out;
        for (const Delivery& delivery : deliveries())
            out.push_back(delivery.recipient());
        return out;
    }

    // Counts the periods that ran with a window bound.
    void execute() override {
        {
            std::lock_guard guard(m_mutex);
            ++m_periods;
        }
        m_periodRan.notify_all();
        CSendThread::execute();
    }
    int periods() const {
        std::lock_guard guard(m_mutex);
        return m_periods;
    }
    bool waitForPeriods(int count) const {
        std::unique_lock lock(m_mutex);
        return m_periodRan.wait_for(lock, std::chrono::seconds(20),
                                    [&] { return m_periods >= count; });
    }

protected:
    int deliverMail(const CMapStringToString& settings, const CString& message,
                    int& replyCode) override {
        std::lock_guard guard(m_mutex);
        Delivery delivery{settings, message.str()};
        const int attempt = static_cast<int>(m_deliveries.size());
        m_deliveries.push_back(delivery);
        replyCode = 0;
        return m_script ? m_script(delivery.recipient(), attempt, replyCode) : 0;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_periodRan;
    int m_periods = 0;
    ReplyScript m_script;
    std::vector<Delivery> m_deliveries;
};
