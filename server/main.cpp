// Chooses the data store of this terminal: its own file or a PostgreSQL
// server shared by several terminals. See CServerCommand.
#include "data/CDataFiles.h"
#include "server/CServerCommand.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace {

// From the controlling terminal, without echo; empty when there is none.
std::string askPassword(const std::string& prompt) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return {};
    termios saved{};
    const bool quiet = ::tcgetattr(tty, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &silent);
    }
    [[maybe_unused]] ssize_t written = ::write(tty, prompt.data(), prompt.size());
    std::string password;
    char c;
    while (::read(tty, &c, 1) == 1 && c != '\n')
        password += c;
    if (quiet)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    written = ::write(tty, "\n", 1);
    ::close(tty);
    return password;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CServerCommand command(CDataFiles::defaultFolder().str(), std::cout, std::cerr, askPassword);
    return command.run(arguments);
}
