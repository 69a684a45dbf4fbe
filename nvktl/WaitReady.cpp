#include "nvktl/WaitReady.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>

namespace NVKTL {

bool IsSignalled(int abortHandle) {
    if (abortHandle < 0)
        return false;
    pollfd p{abortHandle, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

WaitResult WaitReady(int fd, short events, WaitClock::time_point deadline, int abortHandle) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - WaitClock::now());
        if (left.count() <= 0)
            return WaitResult::TimedOut;
        pollfd p[2] = {{fd, events, 0}, {abortHandle, POLLIN, 0}};
        const int n = ::poll(p, abortHandle >= 0 ? 2 : 1,
                             static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (n < 0 && errno != EINTR)
            return WaitResult::Failed;
        if (n <= 0)
            continue;
        // What is ready is taken even when the abort came at the same time.
        if (p[0].revents != 0)
            return (p[0].revents & POLLNVAL) ? WaitResult::Failed : WaitResult::Ready;
        if (abortHandle >= 0 && p[1].revents != 0)
            return WaitResult::Aborted;
    }
}

} // namespace NVKTL
