// vpcd-felica-card: lays a virtual FeliCa card on the vpcd reader of a
// running pcscd until interrupted, for trying the PC/SC reader library by
// hand:  vpcd-felica-card [--port 35963] 0123456789ABCDEF
#include "tools/vpcd-felica-card/CVirtualFelicaCard.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void onSignal(int) {
    g_interrupted = 1;
}

bool parseIdm(const std::string& text, CVirtualFelicaCard::Bytes& idm) {
    if (text.size() != 16 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    for (std::size_t i = 0; i < 16; i += 2) {
        idm.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::uint16_t port = CVirtualFelicaCard::kSystemVpcdPort;
    int next = 1;
    if (argc == 4 && std::string(argv[1]) == "--port") {
        port = static_cast<std::uint16_t>(std::atoi(argv[2]));
        next = 3;
    }
    CVirtualFelicaCard::Behaviour behaviour;
    if (argc != next + 1 || port == 0 || !parseIdm(argv[next], behaviour.idm)) {
        std::fputs("usage: vpcd-felica-card [--port PORT] IDM(16 hex digits)\n", stderr);
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    CVirtualFelicaCard card(behaviour, port);
    if (!card.insert(std::chrono::seconds(5))) {
        std::fprintf(stderr, "vpcd-felica-card: nothing listens on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("card %s on the reader at 127.0.0.1:%u; Ctrl-C takes it away\n", argv[next], port);
    std::fflush(stdout);
    while (!g_interrupted) {
        ::sleep(1);
    }
    return 0;
}
