#include "tests/support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace iotest {

namespace {

int boundLoopbackSocket(sockaddr_in& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return fd;
}

} // namespace

LoopbackPeer::LoopbackPeer(int backlog) {
    sockaddr_in address;
    m_listener = boundLoopbackSocket(address);
    m_port = ntohs(address.sin_port);
    ::listen(m_listener, backlog);
}

LoopbackPeer::~LoopbackPeer() {
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

void LoopbackPeer::serve(int count, Handler handler) {
    m_thread = std::thread([this, count, handler = std::move(handler)] {
        for (int i = 0; i < count; ++i) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return;
            int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            handler(fd);
        }
    });
}

bool LoopbackPeer::hasPendingConnection() const {
    pollfd p{m_listener, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

std::string LoopbackPeer::readUntilClosed(int fd) {
    std::string all;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return all;
        all.append(buffer, static_cast<std::size_t>(n));
    }
}

void LoopbackPeer::writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

int closedLoopbackPort() {
    sockaddr_in address;
    int fd = boundLoopbackSocket(address);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace iotest
