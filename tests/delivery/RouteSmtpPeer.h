#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a scripted SMTP peer answers; every reply ends with CR LF and may have
// several lines.
struct RouteSmtpScript {
    std::string greeting = "220 peer.test ESMTP\r\n";
    std::string ehloReply = "250 peer.test\r\n";
    std::string authReply = "235 2.7.0 Accepted\r\n";
    std::string mailReply = "250 2.1.0 OK\r\n";
    std::string rcptReply = "250 2.1.5 OK\r\n";
    std::string dataReply = "354 End data with <CR><LF>.<CR><LF>\r\n";
    std::string messageReply = "250 2.0.0 Queued\r\n";
    std::string rsetReply = "250 2.0.0 OK\r\n";
    // Ends the session after the first accepted message, as a server that
    // drops idle clients does.
    bool closeAfterMessage = false;
};

// One session as the peer saw it: the command lines without CR LF, and the
// messages between DATA and the end-of-data mark (message: the last one).
struct RouteSmtpSession {
    std::vector<std::string> commands;
    std::string message;
    std::vector<std::string> messages;
};

// Names of the peers in the order in which they were connected, shared by
// several peers to check the order of attempts.
class RouteConnectionLog {
public:
    void add(const std::string& name);
    std::vector<std::string> names() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_names;
};

// A loopback SMTP server that serves one session at a time with a fixed
// script, on a thread of its own. Every wait is bounded, so a silent client
// cannot keep it (or the test) alive.
class RouteSmtpPeer {
public:
    explicit RouteSmtpPeer(RouteSmtpScript script = {}, std::string name = {},
                           RouteConnectionLog* log = nullptr);
    RouteSmtpPeer(const RouteSmtpPeer&) = delete;
    RouteSmtpPeer& operator=(const RouteSmtpPeer&) = delete;
    ~RouteSmtpPeer();

    // Binds address:port (0: a free port) and starts serving. False when the
    // address cannot be bound.
    bool listen(const std::string& address, int port);
    int port() const { return m_port; }

    // The sessions so far; a command is recorded before it is answered.
    std::vector<RouteSmtpSession> sessions() const;

private:
    void serve();
    void serveSession(int connection);

    RouteSmtpScript m_script;
    std::string m_name;
    RouteConnectionLog* m_log;
    int m_listener = -1;
    int m_wake = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<RouteSmtpSession> m_sessions;
    std::thread m_thread;
};

// Binds every peer to its address on one common free port (the exchangers of
// a domain all listen on the route's one SMTP port). Returns the port, or 0.
int listenOnCommonPort(const std::vector<RouteSmtpPeer*>& peers,
                       const std::vector<std::string>& addresses);
