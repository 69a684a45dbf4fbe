#include "nvktl/CSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace NVKTL {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(unsigned ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

// Waits until fd is ready for events or has an error or hang-up to report:
// 1 ready, 0 time-out, -1 failure.
int waitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return 0;
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (n > 0)
            return (p.revents & POLLNVAL) ? -1 : 1;
        if (n < 0 && errno != EINTR)
            return -1;
    }
}

// A non-blocking stream socket, never descriptor 0 (which means "none").
int createSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd == 0) {
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = moved;
    }
    return fd < 0 ? 0 : fd;
}

} // namespace

CSocket::CSocket() : handle(createSocket()) {}

CSocket::~CSocket() {
    Close();
}

int CSocket::Connect(const CString& address, int port) {
    peer = sockaddr_in{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<unsigned short>(port));
    if (::inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        return -1;
    if (port <= 0 || port > 65535)
        return -1;
    if (handle == 0)
        handle = createSocket();
    if (handle == 0)
        return -1;

    if (::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return 0;
    if (errno == EISCONN)
        return -1; // keep the connection that is already there
    if (errno == EINPROGRESS || errno == EINTR) {
        if (waitReady(handle, POLLOUT, deadlineAfter(m_timeout)) == 1) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
                return 0;
        }
    }
    // A failed or half-made connect leaves the socket unusable: start afresh.
    dropSocket();
    return -1;
}

int CSocket::ConnectByName(const CString& host, int port) {
    if (host.IsEmpty())
        return -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    // The resolver bounds its own waits (resolv.conf time-out and attempts).
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return -1;
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const auto* b = reinterpret_cast<const unsigned char*>(&address->sin_addr.s_addr);
    CString text;
    text.Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    ::freeaddrinfo(found);
    return Connect(text, port);
}

int CSocket::Send(const char* bytes, int length, int flags) {
    if (handle == 0 || length < 0 || (!bytes && length > 0))
        return -1;
    const auto deadline = deadlineAfter(m_timeout);
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(handle, bytes + sent, static_cast<std::size_t>(length - sent),
                           flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<int>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            if (waitReady(handle, POLLOUT, deadline) != 1)
                return -1;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return sent;
}

int CSocket::Receive(char* buffer, int length, int flags) {
    if (handle == 0 || !buffer || length <= 0)
        return -1;
    const auto deadline = deadlineAfter(m_timeout);
    for (;;) {
        ssize_t n = ::recv(handle, buffer, static_cast<std::size_t>(length), flags | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitReady(handle, POLLIN, deadline) != 1)
                return -1;
        } else if (errno != EINTR) {
            return -1;
        }
    }
}

void CSocket::Close() {
    if (handle == 0)
        return;
    ::shutdown(handle, SHUT_WR);
    // Discard what the peer still sends until it closes; give up at the time-out.
    const auto deadline = deadlineAfter(m_timeout);
    char discard[1000];
    for (;;) {
        ssize_t n = ::recv(handle, discard, sizeof discard, MSG_DONTWAIT);
        if (n == 0)
            break;
        if (n > 0)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitReady(handle, POLLIN, deadline) != 1)
                break;
        } else if (errno != EINTR) {
            break;
        }
    }
    ::shutdown(handle, SHUT_RDWR);
    dropSocket();
}

void CSocket::dropSocket() {
    if (handle != 0)
        ::close(handle);
    handle = 0;
}

} // namespace NVKTL
