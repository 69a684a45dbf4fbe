#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace smtptest {

// Fixed replies by command, the same for every session.
struct Replies {
    std::string greeting = "220 peer.test ESMTP\r\n";
    std::string ehlo = "250 peer.test\r\n";
    std::string auth = "235 2.7.0 Accepted\r\n";
    std::string mail = "250 2.1.0 OK\r\n";
    std::string rcpt = "250 2.1.5 OK\r\n";
    std::string data = "354 End data with <CR><LF>.<CR><LF>\r\n";
    std::string message = "250 2.0.0 Queued\r\n";
    std::string rset = "250 2.0.0 OK\r\n";
    // Ends the session after the first accepted message, as a server that
    // drops idle clients does.
    bool closeAfterMessage = false;
    // The first this many messages are taken (and recorded) but the
    // connection is closed instead of answering them, as a server that fails
    // just then does.
    int messagesDropped = 0;
};

// The names of the peers in the order they were connected to, shared by several.
class ConnectionLog {
public:
    void add(const std::string& name);
    std::vector<std::string> names() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_names;
};

// Where a peer listens and how it behaves beyond its replies.
struct PeerOptions {
    std::string address = "127.0.0.1";  // any loopback address
    int port = 0;                       // 0: the system picks
    std::chrono::milliseconds delay{0}; // before every reply, as across the internet
    std::string name;                   // written to log on every connection
    ConnectionLog* log = nullptr;
};

// One accepted message: the last RCPT TO address, the text between DATA and
// the end-of-data mark, and when it was answered.
struct Mail {
    std::string recipient, message;
    std::chrono::steady_clock::time_point at;
};

// One session as the peer saw it: command lines without CR LF, and its mails.
struct Session {
    std::vector<std::string> commands;
    std::vector<Mail> mails;
};

// An SMTP server on a loopback address, in one of two ways:
// - a script for one connection: the first entry is the greeting; every
//   further entry is played after the peer has read the client's next
//   command (one line, or the whole data after a 354 reply to "DATA"). An
//   entry is the reply text, or one of the actions below. A reply text (also
//   one of Replies) may hold "<pause N>" marks: the peer writes what comes
//   before, waits N milliseconds, then writes on; and the marks of Close and
//   Reset, which end the connection there. After the last entry the peer
//   records what the client still sends until the client closes;
// - fixed replies for as many sessions as come, each on a thread of its own.
// Every wait is bounded; the destructor ends every session still open.
class ScriptedSmtpPeer {
public:
    // Close the connection instead of answering.
    static constexpr const char* Close = "<close>";
    // Answer nothing; record what comes until the client closes.
    static constexpr const char* Silent = "<silent>";
    // Reset the connection (RST) instead of answering (also inside a reply).
    static constexpr const char* Reset = "<reset>";

    explicit ScriptedSmtpPeer(std::vector<std::string> script, PeerOptions options = {});
    explicit ScriptedSmtpPeer(Replies replies, PeerOptions options = {});
    ScriptedSmtpPeer(const ScriptedSmtpPeer&) = delete;
    ScriptedSmtpPeer& operator=(const ScriptedSmtpPeer&) = delete;
    ~ScriptedSmtpPeer();

    // 0 when the address could not be bound.
    int port() const { return m_port; }

    // Script: waits for the session to end (the client closes; at most ten
    // seconds), then returns the commands the client sent, each with its
    // CR LF; the data of "DATA" is one entry, its end-of-data mark included.
    std::vector<std::string> commands();
    // Script: everything the client sent, as one text.
    std::string wire();

    // Replies: the sessions so far; a command is recorded before it is
    // answered.
    std::vector<Session> sessions() const;
    std::size_t connections() const;
    // Every mail accepted so far, in order.
    std::vector<Mail> mails() const;
    // False when fewer than count mails were accepted within limit.
    bool waitForMails(std::size_t count, std::chrono::milliseconds limit) const;

private:
    ScriptedSmtpPeer(PeerOptions options, std::vector<std::string> script, Replies replies,
                     bool scripted);
    void acceptLoop();
    void playScript(int fd);
    void answerReplies(int fd, std::size_t session);
    bool readUntil(int fd, std::string& buffer, const std::string& mark, std::string& taken);
    bool reply(int fd, const std::string& text, bool delayed = true);
    void recordUntilClosed(int fd, std::string& buffer);
    void joinScript();

    const PeerOptions m_options;
    const std::vector<std::string> m_script;
    const Replies m_replies;
    const bool m_scripted;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_closing{false}; // the destructor runs
    std::string m_wire;
    std::vector<std::string> m_commands;
    mutable std::mutex m_lock;
    std::vector<Session> m_sessions;
    std::set<int> m_open;
    int m_dropped = 0; // messages taken without an answer
    std::vector<std::thread> m_workers;
    std::thread m_thread;
};

// A port that is free on every one of the loopback addresses (the exchangers
// of a domain all listen on the route's one SMTP port); 0 when none is found.
int commonFreePort(const std::vector<std::string>& addresses);

} // namespace smtptest
