#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace smtptest {

// An SMTP server on 127.0.0.1 at a port the system picks, playing one script
// for one connection on a thread of its own. The first entry is the greeting;
// every further entry is played after the peer has read the client's next
// command (one line, or the whole data after a 354 reply to "DATA"). An entry
// is the reply text to write, or one of the actions below. A reply text may
// hold "<pause N>" marks: the peer writes what comes before, waits N
// milliseconds, then writes on. After the last entry the peer records what
// the client still sends until the client closes. Every wait is bounded.
class ScriptedSmtpPeer {
public:
    // Close the connection instead of answering.
    static constexpr const char* Close = "<close>";
    // Answer nothing; record what comes until the client closes.
    static constexpr const char* Silent = "<silent>";
    // Stop reading without reading the next command (the client's writes
    // back up) until commands() or wire() is called.
    static constexpr const char* Stall = "<stall>";

    explicit ScriptedSmtpPeer(std::vector<std::string> script);
    ScriptedSmtpPeer(const ScriptedSmtpPeer&) = delete;
    ScriptedSmtpPeer& operator=(const ScriptedSmtpPeer&) = delete;
    ~ScriptedSmtpPeer();

    int port() const { return m_port; }

    // Waits for the session to end (the client closes; at most ten seconds),
    // then returns the commands the client sent, each with its CR LF; the
    // data of "DATA" is one entry, its end-of-data mark included.
    std::vector<std::string> commands();
    // Everything the client sent, as one text.
    std::string wire();

private:
    void play();
    bool readCommand(bool data, std::string& command);
    bool write(const std::string& reply);
    void recordUntilClosed();
    void finish();

    std::vector<std::string> m_script;
    int m_listener = -1;
    int m_connection = -1;
    int m_port = 0;
    std::string m_pending; // read but not yet taken as a command
    std::string m_wire;
    std::vector<std::string> m_commands;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace smtptest
