#pragma once

#include <functional>
#include <string>
#include <thread>

namespace iotest {

// A TCP listener on 127.0.0.1 at a port the system picks. serve() accepts
// connections on a thread of its own and hands each one to the handler,
// which owns the descriptor. The destructor joins that thread.
class LoopbackPeer {
public:
    using Handler = std::function<void(int fd)>;

    explicit LoopbackPeer(int backlog = 8);
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;
    ~LoopbackPeer();

    int port() const { return m_port; }
    // Accepts up to count connections, one after another, each waited for at
    // most ten seconds.
    void serve(int count, Handler handler);
    // True when a connection waits to be accepted (nothing is accepted).
    bool hasPendingConnection() const;

    static std::string readUntilClosed(int fd);
    // False when the peer is gone before all is written.
    static bool writeAll(int fd, const std::string& bytes);

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

// A port on 127.0.0.1 with nothing listening on it.
int closedLoopbackPort();

// The socket calls the test peers share: a TCP socket bound to a loopback
// address (port 0: the system picks), -1 when it cannot be; the port of any
// bound socket; whether fd becomes readable within ms.
int boundSocket(const std::string& address, int port);
int portOf(int fd);
bool readable(int fd, int ms);

} // namespace iotest
