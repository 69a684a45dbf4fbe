#pragma once

#include <PCSC/winscard.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Watches the attached readers on a thread and a PC/SC context of its own:
// SCardGetStatusChange returns when a card comes or goes or a reader is
// plugged in or out, and the watch then makes its descriptor (an eventfd)
// readable. Every wait on pcscd is bounded, so the thread sees a stop in
// time; after pcscd has gone away it asks again after a pause.
class CPcscWatch {
public:
    CPcscWatch() = default;
    ~CPcscWatch();
    CPcscWatch(const CPcscWatch&) = delete;
    CPcscWatch& operator=(const CPcscWatch&) = delete;

    bool start();
    // Readable after a change; -1 before start.
    int descriptor() const { return m_changes; }
    // Ends the thread. False when it did not end within the wait: the thread
    // is then left behind with this object, which must not be destroyed.
    bool stop(std::chrono::milliseconds wait);

private:
    struct Readers {
        std::vector<std::string> names;
        std::vector<DWORD> states;
    };

    void run();
    // One bounded wait for a change of the readers known so far; false when
    // pcscd could not be asked.
    bool watch(SCARDCONTEXT context, Readers& known);
    void signal();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    int m_changes = -1;
    bool m_stop = false;
    bool m_finished = false;
    // The context the thread waits on, for SCardCancel.
    SCARDCONTEXT m_context = 0;
    bool m_hasContext = false;
};
