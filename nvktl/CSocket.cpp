#include "nvktl/CSocket.h"

#include "nvktl/CDnsResolver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace NVKTL {

namespace {

using Clock = WaitClock;

Clock::time_point deadlineAfter(unsigned ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

// A non-blocking stream socket, never descriptor 0 (which means "none").
int createSocket(int family) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd == 0) {
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = moved;
    }
    return fd < 0 ? 0 : fd;
}

// A numeric IPv4 or IPv6 address with port; false for any other text.
bool numericAddress(const CString& address, int port, sockaddr_storage& out, socklen_t& size) {
    out = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<unsigned short>(port));
        size = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<unsigned short>(port));
        size = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

} // namespace

CSocket::CSocket() : handle(createSocket(AF_INET)) {}

WaitResult CSocket::waitFor(short events, Clock::time_point deadline) {
    for (;;) {
        const bool graced = m_graceEnd.has_value();
        const WaitResult result =
            WaitReady(handle, events, graced ? std::min(deadline, *m_graceEnd) : deadline,
                      graced ? -1 : m_abortHandle);
        if (result != WaitResult::Aborted || m_abortGraceMs == 0)
            return result;
        m_graceEnd = Clock::now() + std::chrono::milliseconds(m_abortGraceMs);
    }
}

CSocket::~CSocket() {
    Close();
}

int CSocket::Connect(const CString& address, int port) {
    socklen_t size = 0;
    if (!numericAddress(address, port, peer, size))
        return -1;
    if (port <= 0 || port > 65535)
        return -1;
    return connectTo(reinterpret_cast<const sockaddr*>(&peer), size);
}

int CSocket::connectTo(const sockaddr* address, socklen_t size) {
    if (handle != 0 && handleFamily != address->sa_family) {
        sockaddr_storage name{};
        socklen_t nameSize = sizeof name;
        if (::getpeername(handle, reinterpret_cast<sockaddr*>(&name), &nameSize) == 0)
            return -1; // keep the connection that is already there
        dropSocket();
    }
    if (handle == 0) {
        handle = createSocket(address->sa_family);
        handleFamily = address->sa_family;
    }
    if (handle == 0)
        return -1;

    if (::connect(handle, address, size) == 0)
        return 0;
    if (errno == EISCONN)
        return -1; // keep the connection that is already there
    if (errno == EINPROGRESS || errno == EINTR) {
        if (waitFor(POLLOUT, deadlineAfter(m_timeout)) == WaitResult::Ready) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                return 0;
        }
    }
    // A failed or half-made connect leaves the socket unusable: start afresh.
    dropSocket();
    return -1;
}

int CSocket::ConnectByName(const CString& host, int port) {
    if (host.IsEmpty() || port <= 0 || port > 65535)
        return -1;
    CDnsResolver::Status status = CDnsResolver::Status::Unanswered;
    const std::vector<CString> addresses =
        CDnsResolver(deadlineAfter(m_timeout), m_abortHandle).lookupAddresses(host, status);
    // A name may stand for several addresses (localhost is ::1 and 127.0.0.1):
    // try each in the resolver's order until one answers.
    for (const CString& address : addresses) {
        if (Connect(address, port) == 0)
            return 0;
        if (IsSignalled(m_abortHandle))
            break;
    }
    return -1;
}

int CSocket::Send(const char* bytes, int length, int flags) {
    if (handle == 0 || length < 0 || (!bytes && length > 0))
        return -1;
    const auto deadline = deadlineAfter(m_timeout);
    if (tls)
        return tls->write(bytes, length, deadline);
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(handle, bytes + sent, static_cast<std::size_t>(length - sent),
                           flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<int>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            if (waitFor(POLLOUT, deadline) != WaitResult::Ready)
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
    if (tls)
        return tls->read(buffer, length, deadline);
    for (;;) {
        ssize_t n = ::recv(handle, buffer, static_cast<std::size_t>(length), flags | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitFor(POLLIN, deadline) != WaitResult::Ready)
                return -1;
        } else if (errno != EINTR) {
            return -1;
        }
    }
}

CTlsChannel::StartResult CSocket::StartTls(const CString& serverName, CTlsChannel::Check check) {
    if (handle == 0 || tls)
        return CTlsChannel::StartResult::Failed;
    auto channel = std::make_unique<CTlsChannel>(
        [this](short events, Clock::time_point deadline) { return waitFor(events, deadline); });
    const auto result = channel->start(handle, serverName, deadlineAfter(m_timeout), check);
    if (result == CTlsChannel::StartResult::Started)
        tls = std::move(channel);
    return result;
}

void CSocket::Close() {
    if (handle == 0)
        return;
    if (tls)
        tls->shutdown();
    ::shutdown(handle, SHUT_WR);
    // Discard what the peer still sends until it closes; give up at the
    // time-out or the abort, also when the peer never stops sending.
    const auto deadline = deadlineAfter(m_timeout);
    char discard[1000];
    while (Clock::now() < deadline) {
        ssize_t n = ::recv(handle, discard, sizeof discard, MSG_DONTWAIT);
        if (n == 0)
            break;
        if (n > 0)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitFor(POLLIN, deadline) != WaitResult::Ready)
                break;
        } else if (errno != EINTR) {
            break;
        }
    }
    ::shutdown(handle, SHUT_RDWR);
    dropSocket();
}

void CSocket::dropSocket() {
    tls.reset();
    if (handle != 0)
        ::close(handle);
    handle = 0;
}

} // namespace NVKTL
