#include "tools/delay-proxy/CDelayProxy.h"

#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <chrono>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace iotest {

namespace {

using Clock = std::chrono::steady_clock;

int connectUnix(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path)
        return -1;
    path.copy(address.sun_path, path.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One direction: what arrives from `from` leaves for `to` delay later.
void pump(int from, int to, int delayMs, const std::atomic<bool>& stop) {
    std::deque<std::pair<Clock::time_point, std::string>> held;
    bool closing = false;
    while (!stop.load()) {
        int wait = 50;
        if (!held.empty())
            wait = static_cast<int>(
                std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           held.front().first - Clock::now())
                                           .count()));
        pollfd p{from, POLLIN, 0};
        if (!closing && ::poll(&p, 1, wait) > 0) {
            char chunk[16384];
            const ssize_t n = ::recv(from, chunk, sizeof chunk, 0);
            if (n <= 0)
                closing = true;
            else
                held.emplace_back(Clock::now() + std::chrono::milliseconds(delayMs),
                                  std::string(chunk, static_cast<std::size_t>(n)));
        } else if (closing && !held.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 50)));
        }
        while (!held.empty() && held.front().first <= Clock::now()) {
            if (!writeAll(to, held.front().second))
                return;
            held.pop_front();
        }
        if (closing && held.empty()) {
            ::shutdown(to, SHUT_WR);
            return;
        }
    }
}

} // namespace

struct CDelayProxy::Link {
    int client, server;
    std::atomic<bool> stop{false};
    std::thread up, down;

    Link(int c, int s, int delayMs) : client(c), server(s) {
        up = std::thread(pump, client, server, delayMs, std::cref(stop));
        down = std::thread(pump, server, client, delayMs, std::cref(stop));
    }
    ~Link() {
        stop.store(true);
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        up.join();
        down.join();
        ::close(client);
        ::close(server);
    }
};

CDelayProxy::CDelayProxy(std::string unixSocket, int delayMs)
    : m_target(std::move(unixSocket)), m_delayMs(delayMs) {
    listen();
}

CDelayProxy::~CDelayProxy() {
    cut();
}

void CDelayProxy::listen() {
    m_listener = boundSocket("127.0.0.1", m_port);
    if (m_listener < 0 || ::listen(m_listener, 16) != 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    m_port = portOf(m_listener);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

void CDelayProxy::acceptLoop() {
    for (;;) {
        pollfd p[2] = {{m_listener, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(p, 2, -1) <= 0 || p[1].revents != 0)
            return;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int server = connectUnix(m_target);
        if (server < 0) {
            ::close(client);
            continue;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        m_links.push_back(std::make_unique<Link>(client, server, m_delayMs));
    }
}

void CDelayProxy::closeLinks() {
    std::list<std::unique_ptr<Link>> links;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        links.swap(m_links);
    }
    links.clear();
}

void CDelayProxy::cut() {
    if (m_acceptor.joinable()) {
        const char stop = 's';
        [[maybe_unused]] const ssize_t written = ::write(m_stopPipe[1], &stop, 1);
        m_acceptor.join();
    }
    for (int& fd : {std::ref(m_listener), std::ref(m_stopPipe[0]), std::ref(m_stopPipe[1])}) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    closeLinks();
}

void CDelayProxy::resume() {
    if (m_listener < 0)
        listen();
}

} // namespace iotest
