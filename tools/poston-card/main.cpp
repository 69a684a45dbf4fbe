// poston-card: lays simulated cards on the simulated reader and makes its
// library fail, by writing the state file in the work folder (var/) of the
// build it belongs to (bin/poston-card -> var/felica-sim.state).
//
//   poston-card put 0123456789ABCDEF [ID...]   cards on the reader
//   poston-card remove                         no card
//   poston-card status                         what the reader holds
//   poston-card fail load|init|open|dispose    the library's next such call fails
//   poston-card fail poll                      every poll fails, also while running
//   poston-card fail none                      no failure
#include "nvktl/ProgramFolder.h"
#include "reader/felica-sim/CSimulatedReaderState.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 2;

int usage() {
    std::fputs("usage: poston-card put ID [ID...] | remove | status |\n"
               "                   fail load|init|open|dispose|poll|none\n"
               "  ID: a card's IDm as 16 hex digits, e.g. 0123456789ABCDEF\n",
               stderr);
    return kUsageError;
}

// The load failure is simulated by moving the library out of the way, since
// a library cannot make its own loading fail.
fs::path libraryFile(const fs::path& base) {
    return base / "lib" / "felica.so";
}
fs::path hiddenLibraryFile(const fs::path& base) {
    return base / "lib" / "felica.so.hidden";
}

bool hideLibrary(const fs::path& base) {
    std::error_code error;
    if (!fs::exists(libraryFile(base), error)) {
        return fs::exists(hiddenLibraryFile(base), error);
    }
    fs::rename(libraryFile(base), hiddenLibraryFile(base), error);
    return !error;
}

bool restoreLibrary(const fs::path& base) {
    std::error_code error;
    if (!fs::exists(hiddenLibraryFile(base), error)) {
        return true;
    }
    if (fs::exists(libraryFile(base), error)) {
        // Rebuilt meanwhile: the fresh library wins.
        return fs::remove(hiddenLibraryFile(base), error);
    }
    fs::rename(hiddenLibraryFile(base), libraryFile(base), error);
    return !error;
}

void printStatus(const CSimulatedReaderState& state, const fs::path& stateFile) {
    if (state.cards.empty()) {
        std::puts("no card on the reader");
    } else {
        std::printf("%zu card%s on the reader:", state.cards.size(),
                    state.cards.size() == 1 ? "" : "s");
        for (const CSimulatedReaderState::Idm& idm : state.cards) {
            std::printf(" %s", CSimulatedReaderState::formatCardId(idm).c_str());
        }
        std::puts("");
    }
    std::printf("fail %s\n", CSimulatedReaderState::failureName(state.failure));
    std::printf("state file %s\n", stateFile.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usage();
    }
    const fs::path base = NVKTL::programBaseFolder();
    const std::string stateFile = CSimulatedReaderState::fileFor(base.string());
    CSimulatedReaderState state;
    if (!state.load(stateFile)) {
        std::fprintf(stderr, "poston-card: cannot read %s\n", stateFile.c_str());
        return 1;
    }

    const std::string& command = args[0];
    if (command == "status" && args.size() == 1) {
        printStatus(state, stateFile);
        std::error_code error;
        if (state.failure == CSimulatedReaderState::Failure::Load &&
            fs::exists(libraryFile(base), error)) {
            std::puts("(a rebuild brought lib/felica.so back, so it loads again)");
        }
        return 0;
    }
    if (command == "put" && args.size() >= 2) {
        std::vector<CSimulatedReaderState::Idm> cards;
        for (std::size_t i = 1; i < args.size(); ++i) {
            CSimulatedReaderState::Idm idm{};
            if (!CSimulatedReaderState::parseCardId(args[i], idm)) {
                std::fprintf(stderr, "poston-card: not a card ID (16 hex digits): %s\n",
                             args[i].c_str());
                return kUsageError;
            }
            cards.push_back(idm);
        }
        state.cards = std::move(cards);
    } else if (command == "remove" && args.size() == 1) {
        state.cards.clear();
    } else if (command == "fail" && args.size() == 2) {
        CSimulatedReaderState::Failure failure{};
        if (!CSimulatedReaderState::parseFailure(args[1], failure)) {
            return usage();
        }
        const bool moved = failure == CSimulatedReaderState::Failure::Load ? hideLibrary(base)
                                                                           : restoreLibrary(base);
        if (!moved) {
            std::fprintf(stderr, "poston-card: cannot move %s\n", libraryFile(base).c_str());
            return 1;
        }
        state.failure = failure;
    } else {
        return usage();
    }

    if (!state.save(stateFile)) {
        std::fprintf(stderr, "poston-card: cannot write %s\n", stateFile.c_str());
        return 1;
    }
    printStatus(state, stateFile);
    return 0;
}
