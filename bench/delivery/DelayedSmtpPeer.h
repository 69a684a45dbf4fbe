#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback SMTP server that answers every line (and greets) only after a
// fixed delay, as a server across the internet would, serving each
// connection on a thread of its own. It accepts every mail and notes when it
// accepted it.
class DelayedSmtpPeer {
public:
    using Clock = std::chrono::steady_clock;
    struct Accepted {
        std::string recipient; // the last RCPT TO address, without brackets
        std::string message;
        Clock::time_point at; // when the 250 after the message went out
    };

    explicit DelayedSmtpPeer(std::chrono::milliseconds delay);
    ~DelayedSmtpPeer();
    DelayedSmtpPeer(const DelayedSmtpPeer&) = delete;
    DelayedSmtpPeer& operator=(const DelayedSmtpPeer&) = delete;

    // The port it listens on, 0 when it could not start.
    int port() const { return m_port; }
    std::vector<Accepted> accepted() const;
    std::size_t acceptedCount() const;
    // Waits until count mails have been accepted; false after timeout.
    bool waitFor(std::size_t count, std::chrono::seconds timeout) const;
    std::size_t connections() const;

private:
    void serve();
    void session(int connection);

    const std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    bool m_stopping = false;
    mutable std::mutex m_lock;
    std::vector<Accepted> m_accepted;
    std::size_t m_connections = 0;
    std::vector<std::thread> m_sessions;
    std::thread m_acceptor;
};
