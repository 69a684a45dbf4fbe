// The reader library for PC/SC readers (pcsc-lite). Built as
// lib/felica-pcsc.so; a terminal with a real reader uses it as lib/felica.so.
#include "reader/felica-pcsc/CPcscWatch.h"
#include "reader/felica-pcsc/CPcscWorker.h"
#include "reader/felica.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using std::chrono::milliseconds;

// The screens poll every 200 ms; one poll never keeps them longer than this.
constexpr milliseconds kPollWait(45);
// A poll that runs late is answered with the previous result up to this age.
constexpr milliseconds kLatePollAnswerAge(1000);
// Opening happens once at start-up; pcscd answers in milliseconds when alive.
constexpr milliseconds kOpenWait(3000);
constexpr milliseconds kStopWait(2000);

CPcscWorker* g_worker = nullptr;
// Tells the caller of arriving and lifted cards between its polls.
CPcscWatch* g_watch = nullptr;

// Stops and deletes the worker or the watch; one that does not stop in time is
// forgotten, not deleted. False then.
template <class Thread> bool stopAndForget(Thread*& thread) {
    const bool stopped = !thread || thread->stop(kStopWait);
    if (stopped) {
        delete thread;
    }
    thread = nullptr;
    return stopped;
}

} // namespace

extern "C" {

int initialize_library(void) {
    try {
        if (!g_worker) {
            g_worker = new CPcscWorker();
        }
        return g_worker->start() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int open_reader_writer_auto(void) {
    try {
        if (!g_worker || !g_worker->open(kOpenWait)) {
            return 0;
        }
        // Without the watch the caller still finds cards by polling.
        if (!g_watch) {
            g_watch = new CPcscWatch();
        }
        g_watch->start();
        return 1;
    } catch (...) {
        return 0;
    }
}

int polling_and_get_card_information(felica_polling* polling, unsigned char* number_of_cards,
                                     felica_card_information* card_information) {
    if (!g_worker || !polling || !number_of_cards || !card_information) {
        return 0;
    }
    try {
        CPcscSession::Poll result;
        if (!g_worker->poll(result, kPollWait, kLatePollAnswerAge)) {
            return 0;
        }
        *number_of_cards = static_cast<unsigned char>(std::min(result.cards, 255u));
        // GET DATA gives no PMm: that buffer is left as the caller filled it.
        if (result.cards == 1 && card_information->card_idm) {
            std::memcpy(card_information->card_idm, result.idm.data(), result.idm.size());
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// A worker or watch stuck in a call to pcscd is left behind (the library is
// linked to stay mapped) and the close is reported as failed.
int dispose_library(void) {
    try {
        const bool watchStopped = stopAndForget(g_watch);
        return stopAndForget(g_worker) && watchStopped ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int card_change_descriptor(void) {
    return g_watch ? g_watch->descriptor() : -1;
}
}
