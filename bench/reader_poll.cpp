// How long one getCardId() poll takes through the PC/SC reader library, with
// and without a card, against a pcscd of our own with vpcd's virtual reader
// and a virtual FeliCa card. The screens poll every 200 ms; the goal is a
// median under 10 ms.
//
//   bench_reader_poll [polls]      (default 500 per case; needs root for pcscd)
#include "reader/CFelicaReader.h"
#include "tools/vpcd-felica-card/CPcscdDaemon.h"
#include "tools/vpcd-felica-card/CVirtualFelicaCard.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Figures {
    double median = 0, p95 = 0, max = 0;
    int unexpected = 0;
};

Figures measure(CFelicaReader& reader, int polls, const std::string& expected) {
    std::vector<double> times;
    Figures figures;
    for (int i = 0; i < polls; ++i) {
        const auto start = Clock::now();
        const NVKTL::CString id = reader.getCardId();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (id.str() != expected) {
            ++figures.unexpected;
        }
    }
    std::sort(times.begin(), times.end());
    figures.median = times[times.size() / 2];
    figures.p95 = times[std::min(times.size() - 1, times.size() * 95 / 100)];
    figures.max = times.back();
    return figures;
}

void print(const char* name, int polls, const Figures& figures) {
    std::printf("%-12s %5d polls  median %7.3f ms  p95 %7.3f ms  max %7.3f ms  unexpected %d\n",
                name, polls, figures.median, figures.p95, figures.max, figures.unexpected);
}

bool waitFor(CFelicaReader& reader, const std::string& wanted) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (reader.getCardId().str() == wanted) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const int polls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;

    CPcscdDaemon daemon;
    if (!daemon.start(milliseconds(10000))) {
        std::fprintf(stderr, "bench_reader_poll: %s\n", daemon.error().c_str());
        return 1;
    }
    CReaderServices services;
    services.showMessage = [](const NVKTL::CString& text) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    };
    CFelicaReader reader(services, PCSC_FELICA_LIBRARY);
    if (!reader.openReader()) {
        return 1;
    }

    std::printf("getCardId() through %s\n", PCSC_FELICA_LIBRARY);
    print("no card", polls, measure(reader, polls, "no"));

    CVirtualFelicaCard::Behaviour behaviour;
    behaviour.idm = {0x01, 0x2E, 0x00, 0xFF, 0x10, 0xA0, 0x0B, 0xC3};
    CVirtualFelicaCard card(behaviour, daemon.firstSlotPort());
    if (!card.insert(milliseconds(5000)) || !waitFor(reader, "012E00FF10A00BC3")) {
        std::fprintf(stderr, "bench_reader_poll: the virtual card was not read\n");
        return 1;
    }
    const unsigned asked = card.getDataRequests();
    print("one card", polls, measure(reader, polls, "012E00FF10A00BC3"));
    std::printf("the card answered GET DATA %u times during the %d polls with a card\n",
                card.getDataRequests() - asked, polls);

    reader.closeReader();
    return 0;
}
