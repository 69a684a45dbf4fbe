#include "nvktl/CEvent.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace NVKTL {

namespace {

using Clock = std::chrono::steady_clock;

// poll() on fds until one is readable; the index of the first readable fd,
// WaitTimeout or WaitFailed. Restarts after signals with the time left.
int pollReadable(std::vector<pollfd>& fds, unsigned timeout) {
    for (const pollfd& p : fds) {
        if (p.fd < 0)
            return CEvent::WaitFailed;
    }
    const bool forever = timeout == CEvent::Infinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        int wait = -1;
        if (!forever) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
        }
        int n = ::poll(fds.data(), fds.size(), wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return CEvent::WaitFailed;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & POLLIN)
                return static_cast<int>(i);
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return CEvent::WaitFailed;
        }
        if (!forever && Clock::now() >= deadline)
            return CEvent::WaitTimeout;
    }
}

} // namespace

CEvent::CEvent() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CEvent::~CEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void CEvent::set() {
    std::lock_guard guard(m_mutex);
    m_setExplicitly = true;
    SignalHandle(m_fd);
}

void CEvent::reset() {
    std::lock_guard guard(m_mutex);
    clearSignal();
    m_setExplicitly = false;
}

int CEvent::wait(unsigned timeout) {
    {
        std::lock_guard guard(m_mutex);
        while (isSignalled() && !m_setExplicitly) {
            clearSignal();
        }
    }
    std::vector<pollfd> fds{{m_fd, POLLIN, 0}};
    int result = pollReadable(fds, timeout);
    if (result == 0) {
        // set() signals before it returns: wait until it has left the mutex,
        // so a waiter may destroy the event as soon as it sees it set.
        std::lock_guard guard(m_mutex);
        return WaitSignalled;
    }
    return result;
}

void CEvent::SignalHandle(int handle) {
    if (handle < 0)
        return;
    const std::uint64_t one = 1;
    // A full counter (never reached in practice) still reads as signalled.
    while (::write(handle, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int CEvent::WaitAny(std::initializer_list<const CEvent*> events, unsigned timeout) {
    std::vector<pollfd> fds;
    for (const CEvent* event : events)
        fds.push_back({event ? event->m_fd : -1, POLLIN, 0});
    if (fds.empty())
        return WaitFailed;
    return pollReadable(fds, timeout);
}

bool CEvent::isSignalled() const {
    std::vector<pollfd> fds{{m_fd, POLLIN, 0}};
    return pollReadable(fds, 0) == 0;
}

void CEvent::clearSignal() {
    if (m_fd < 0)
        return;
    std::uint64_t count = 0;
    // Reading an eventfd returns the whole counter and sets it to zero.
    while (::read(m_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

} // namespace NVKTL
