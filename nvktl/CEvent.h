#pragma once

#include <initializer_list>
#include <mutex>

namespace NVKTL {

// A manual-reset event over an eventfd: signalled until reset, however many
// times it was signalled. It remembers whether the last signal came from
// set(); a signal written straight to the handle (as the periodic timer does
// for the tick event) does not count as set().
class CEvent {
public:
    static constexpr int WaitSignalled = 0;
    static constexpr int WaitTimeout = 258;
    static constexpr int WaitFailed = -1;
    static constexpr unsigned Infinite = 0xFFFFFFFFu;

    CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    virtual ~CEvent();

    // Signals the event and marks it as set explicitly.
    void set();
    // Clears the signal and the explicit mark.
    void reset();

    // First discards a signal that did not come from set(), then waits up to
    // timeout milliseconds (Infinite: no limit). WaitSignalled, WaitTimeout or
    // WaitFailed.
    int wait(unsigned timeout);

    // The eventfd, for the periodic timer and for WaitAny; -1 if the event
    // could not be created.
    int handle() const { return m_fd; }

    // Signals the event behind handle without marking it as set explicitly:
    // what the periodic timer does at every expiry.
    static void SignalHandle(int handle);

    // Waits until one of events is signalled, without discarding anything.
    // Returns the index of the first signalled event in list order,
    // WaitTimeout or WaitFailed.
    static int WaitAny(std::initializer_list<const CEvent*> events, unsigned timeout);

private:
    bool isSignalled() const;
    void clearSignal();

    int m_fd = -1;
    bool m_setExplicitly = false;
    // Keeps set() from slipping between the test and the discard in wait().
    std::mutex m_mutex;
};

} // namespace NVKTL
