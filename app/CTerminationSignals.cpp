#include "app/CTerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe the handler writes to: writing is all a signal handler may do.
int signalPipe[2] = {-1, -1};
struct sigaction previousTerm;
struct sigaction previousInt;

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

CTerminationSignals::CTerminationSignals(std::function<void()> onSignal)
    : m_onSignal(std::move(onSignal)) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CTerminationSignals::readSignals);
    struct sigaction action {};
    action.sa_handler = ::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previousTerm);
    ::sigaction(SIGINT, &action, &previousInt);
}

CTerminationSignals::~CTerminationSignals() {
    if (m_notifier == nullptr)
        return;
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    delete m_notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void CTerminationSignals::readSignals() {
    char bytes[16];
    bool signalled = false;
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0)
        signalled = true;
    if (signalled && m_onSignal)
        m_onSignal();
}
