#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace iotest {

// A TCP proxy on 127.0.0.1, at a port the system picks, to a server on a
// Unix socket: every chunk is held for the delay in each direction, as on a
// slow network. cut() drops every connection and refuses new ones, as a
// server that went away does; resume() takes them again on the same port.
class CDelayProxy {
public:
    CDelayProxy(std::string unixSocket, int delayMs);
    CDelayProxy(const CDelayProxy&) = delete;
    CDelayProxy& operator=(const CDelayProxy&) = delete;
    ~CDelayProxy();

    int port() const { return m_port; }
    void cut();
    void resume();

private:
    struct Link;
    void listen();
    void acceptLoop();
    void closeLinks();

    const std::string m_target;
    const int m_delayMs;
    int m_port = 0;
    int m_listener = -1;
    int m_stopPipe[2] = {-1, -1};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::list<std::unique_ptr<Link>> m_links;
};

} // namespace iotest
