#include "reader/felica-pcsc/CPcscWatch.h"

#include <cstdint>
#include <cstring>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// pcsc-lite's pseudo reader that changes when a reader is plugged in or out.
constexpr const char* kPlugReader = "\\\\?PnP?\\Notification";
// One wait on pcscd; a stop cancels it, so this bounds only a missed cancel.
constexpr DWORD kWaitMs = 1000;
constexpr milliseconds kRetryPause(1000);

} // namespace

CPcscWatch::~CPcscWatch() {
    if (m_thread.joinable()) {
        stop(milliseconds(2000));
    }
}

bool CPcscWatch::start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        return true;
    }
    m_changes = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_changes < 0) {
        return false;
    }
    try {
        m_thread = std::thread(&CPcscWatch::run, this);
    } catch (const std::system_error&) {
        ::close(m_changes);
        m_changes = -1;
        return false;
    }
    return true;
}

bool CPcscWatch::stop(milliseconds wait) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) {
        return true;
    }
    m_stop = true;
    if (m_hasContext) {
        SCardCancel(m_context);
    }
    m_wake.notify_all();
    if (!m_wake.wait_for(lock, wait, [&] { return m_finished; })) {
        m_thread.detach();
        return false;
    }
    lock.unlock();
    m_thread.join();
    ::close(m_changes);
    m_changes = -1;
    return true;
}

void CPcscWatch::signal() {
    const std::uint64_t one = 1;
    // A full counter is still readable: nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(m_changes, &one, sizeof one);
}

void CPcscWatch::run() {
    Readers known;
    bool afterLoss = false;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_hasContext) {
            lock.unlock();
            SCARDCONTEXT context = 0;
            const bool established = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr,
                                                           &context) == SCARD_S_SUCCESS;
            lock.lock();
            if (!established) {
                m_wake.wait_for(lock, kRetryPause, [&] { return m_stop; });
                continue;
            }
            m_context = context;
            m_hasContext = true;
            known = Readers();
        }
        const SCARDCONTEXT context = m_context;
        lock.unlock();
        const bool watched = watch(context, known);
        lock.lock();
        // The cards may have changed while pcscd was away or the watch had
        // no context: the first look after a loss counts as a change.
        if (!watched || afterLoss) {
            signal();
        }
        afterLoss = !watched;
        if (!watched) {
            SCardReleaseContext(m_context);
            m_hasContext = false;
            m_wake.wait_for(lock, kRetryPause, [&] { return m_stop; });
        }
    }
    if (m_hasContext) {
        SCardReleaseContext(m_context);
        m_hasContext = false;
    }
    m_finished = true;
    m_wake.notify_all();
}

bool CPcscWatch::watch(SCARDCONTEXT context, Readers& known) {
    Readers now;
    DWORD size = 0;
    LONG status = SCardListReaders(context, nullptr, nullptr, &size);
    if (status == SCARD_S_SUCCESS) {
        std::vector<char> list(size + 1, '\0');
        status = SCardListReaders(context, nullptr, list.data(), &size);
        for (const char* name = list.data(); status == SCARD_S_SUCCESS && *name;
             name += std::strlen(name) + 1) {
            now.names.emplace_back(name);
        }
    }
    if (status != SCARD_S_SUCCESS && status != SCARD_E_NO_READERS_AVAILABLE) {
        return false;
    }
    now.names.emplace_back(kPlugReader);

    std::vector<SCARD_READERSTATE> states(now.names.size());
    for (std::size_t i = 0; i < states.size(); ++i) {
        states[i].szReader = now.names[i].c_str();
        states[i].dwCurrentState = SCARD_STATE_UNAWARE;
        for (std::size_t k = 0; k < known.names.size(); ++k) {
            if (known.names[k] == now.names[i]) {
                states[i].dwCurrentState = known.states[k];
            }
        }
    }
    status =
        SCardGetStatusChange(context, kWaitMs, states.data(), static_cast<DWORD>(states.size()));
    if (status == SCARD_E_TIMEOUT || status == SCARD_E_CANCELLED) {
        return true;
    }
    if (status != SCARD_S_SUCCESS) {
        return false;
    }
    // A reader first seen answers at once with its present state: a change
    // only when it was plugged in while watched.
    bool changed = now.names != known.names && !known.names.empty();
    for (SCARD_READERSTATE& state : states) {
        changed = changed || ((state.dwEventState & SCARD_STATE_CHANGED) &&
                              state.dwCurrentState != SCARD_STATE_UNAWARE);
        state.dwEventState &= ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    }
    if (changed) {
        signal();
    }
    now.states.reserve(states.size());
    for (const SCARD_READERSTATE& state : states) {
        now.states.push_back(state.dwEventState);
    }
    known = std::move(now);
    return true;
}
