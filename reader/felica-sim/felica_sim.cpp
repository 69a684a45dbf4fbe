// The simulated reader library: the cards on the reader and the failures to
// simulate come from the state file that poston-card writes into the work
// folder beside this library's folder (lib/felica.so -> var/felica-sim.state).
// Changes of the state file are watched through inotify, so the terminal
// hears of a card as it is laid.
#include "reader/felica-sim/CSimulatedReaderState.h"
#include "reader/felica.h"

#include <dlfcn.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

bool g_initialized = false;
bool g_open = false;
// The inotify descriptor watching the state file's folder, -1 without one.
int g_changes = -1;

// A fixed PMm: the simulated cards all claim the same chip.
constexpr unsigned char kPmm[8] = {0x01, 0x20, 0x22, 0x04, 0x27, 0x67, 0xFF, 0xFF};

std::string stateFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&initialize_library), &info) == 0 || !info.dli_fname) {
        return {};
    }
    std::error_code error;
    const std::filesystem::path library = std::filesystem::absolute(info.dli_fname, error);
    if (error) {
        return {};
    }
    return CSimulatedReaderState::fileFor(library.parent_path().parent_path().string());
}

bool readState(CSimulatedReaderState& state) {
    const std::string path = stateFile();
    return !path.empty() && state.load(path);
}

// poston-card replaces the file by a rename; a file written in place counts
// too. Other files of the folder wake the caller for nothing, which costs
// one poll.
void watchState() {
    const std::filesystem::path folder = std::filesystem::path(stateFile()).parent_path();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    g_changes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (g_changes >= 0 &&
        inotify_add_watch(g_changes, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        ::close(g_changes);
        g_changes = -1;
    }
}

void stopWatching() {
    if (g_changes >= 0) {
        ::close(g_changes);
    }
    g_changes = -1;
}

} // namespace

extern "C" {

int initialize_library(void) {
    CSimulatedReaderState state;
    if (!readState(state) || state.failure == CSimulatedReaderState::Failure::Initialize) {
        return 0;
    }
    g_initialized = true;
    return 1;
}

int open_reader_writer_auto(void) {
    CSimulatedReaderState state;
    if (!g_initialized || !readState(state) ||
        state.failure == CSimulatedReaderState::Failure::Open) {
        return 0;
    }
    g_open = true;
    if (g_changes < 0) {
        watchState();
    }
    return 1;
}

int polling_and_get_card_information(felica_polling* polling, unsigned char* number_of_cards,
                                     felica_card_information* card_information) {
    CSimulatedReaderState state;
    if (!g_open || !polling || !number_of_cards || !card_information || !readState(state) ||
        state.failure == CSimulatedReaderState::Failure::Poll) {
        return 0;
    }
    *number_of_cards = static_cast<unsigned char>(std::min<std::size_t>(state.cards.size(), 255));
    if (!state.cards.empty()) {
        if (card_information->card_idm) {
            std::memcpy(card_information->card_idm, state.cards.front().data(), 8);
        }
        if (card_information->card_pmm) {
            std::memcpy(card_information->card_pmm, kPmm, 8);
        }
    }
    return 1;
}

int dispose_library(void) {
    g_initialized = false;
    g_open = false;
    stopWatching();
    CSimulatedReaderState state;
    readState(state);
    return state.failure == CSimulatedReaderState::Failure::Dispose ? 0 : 1;
}

int card_change_descriptor(void) {
    return g_open ? g_changes : -1;
}
}
