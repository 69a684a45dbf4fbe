#pragma once

#include <chrono>

namespace NVKTL {

using WaitClock = std::chrono::steady_clock;

// What WaitReady saw first.
enum class WaitResult { Ready, TimedOut, Failed, Aborted };

// Waits until fd is ready for events (or has an error or hang-up to report),
// the deadline passes, or abortHandle (an event's descriptor, -1 for none)
// becomes readable. Restarts after signals.
WaitResult WaitReady(int fd, short events, WaitClock::time_point deadline, int abortHandle = -1);

// Whether the event behind abortHandle is signalled (without consuming it).
bool IsSignalled(int abortHandle);

} // namespace NVKTL
