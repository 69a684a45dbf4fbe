// Lists the card readers that pcscd knows, one name a line. Exit status 0
// when at least one reader is attached, 1 when pcscd answers with none, 2
// when pcscd cannot be reached. A pcscd that does not answer within a few
// seconds counts as unreachable.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

constexpr unsigned kAnswerSeconds = 5;

void giveUp(int) {
    static const char text[] = "pcscd does not answer\n";
    ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
    (void)ignored;
    _exit(2);
}

} // namespace

int main() {
    std::signal(SIGALRM, giveUp);
    ::alarm(kAnswerSeconds);
    SCARDCONTEXT context = 0;
    LONG result = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (result != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "pcscd cannot be reached: %s\n", pcsc_stringify_error(result));
        return 2;
    }
    DWORD length = 0;
    result = SCardListReaders(context, nullptr, nullptr, &length);
    std::string names;
    if (result == SCARD_S_SUCCESS && length > 0) {
        names.resize(length);
        result = SCardListReaders(context, nullptr, names.data(), &length);
    }
    SCardReleaseContext(context);
    if (result == SCARD_E_NO_READERS_AVAILABLE)
        return 1;
    if (result != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "pcscd: %s\n", pcsc_stringify_error(result));
        return 2;
    }
    // A multi-string: names separated by NUL, ended by an empty name.
    int count = 0;
    for (std::size_t at = 0; at < names.size() && names[at] != '\0';) {
        const std::string name(names.c_str() + at);
        std::printf("%s\n", name.c_str());
        at += name.size() + 1;
        ++count;
    }
    return count > 0 ? 0 : 1;
}
