#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace iotest {

LoopbackPeer::LoopbackPeer(int backlog)
    : m_listener(boundSocket("127.0.0.1", 0)), m_port(portOf(m_listener)) {
    ::listen(m_listener, backlog);
}

LoopbackPeer::~LoopbackPeer() {
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

void LoopbackPeer::serve(int count, Handler handler) {
    m_thread = std::thread([this, count, handler = std::move(handler)] {
        for (int i = 0; i < count && readable(m_listener, 10000); ++i) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            handler(fd);
        }
    });
}

bool LoopbackPeer::hasPendingConnection() const {
    return readable(m_listener, 0);
}

std::string LoopbackPeer::readUntilClosed(int fd) {
    std::string all;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, static_cast<std::size_t>(n));
    return all;
}

bool LoopbackPeer::writeAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

int closedLoopbackPort() {
    const int fd = boundSocket("127.0.0.1", 0);
    const int port = portOf(fd);
    ::close(fd);
    return port;
}

int boundSocket(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || ::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

int portOf(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 ? ntohs(a.sin_port) : 0;
}

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

} // namespace iotest
