#include "tests/support/ScriptedSmtpPeer.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace smtptest {

namespace {

constexpr int WaitMs = 10000;

// Waits for fd to become readable: true when it did within WaitMs.
bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, WaitMs) > 0;
}

} // namespace

ScriptedSmtpPeer::ScriptedSmtpPeer(std::vector<std::string> script) : m_script(std::move(script)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 4) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { play(); });
}

ScriptedSmtpPeer::~ScriptedSmtpPeer() {
    finish();
    if (m_listener >= 0)
        ::close(m_listener);
}

void ScriptedSmtpPeer::finish() {
    m_stop = true; // ends a stall
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::string> ScriptedSmtpPeer::commands() {
    finish();
    return m_commands;
}

std::string ScriptedSmtpPeer::wire() {
    finish();
    return m_wire;
}

bool ScriptedSmtpPeer::write(const std::string& reply) {
    std::size_t start = 0;
    while (start <= reply.size()) {
        const std::size_t mark = reply.find("<pause ", start);
        const std::string piece =
            reply.substr(start, mark == std::string::npos ? mark : mark - start);
        for (std::size_t sent = 0; sent < piece.size();) {
            const ssize_t n =
                ::send(m_connection, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        if (mark == std::string::npos)
            break;
        const std::size_t end = reply.find('>', mark);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(reply.substr(mark + 7))));
        start = end + 1;
    }
    return true;
}

bool ScriptedSmtpPeer::readCommand(bool data, std::string& command) {
    const std::string end = data ? "\r\n.\r\n" : "\r\n";
    for (;;) {
        const std::size_t at = m_pending.find(end);
        if (at != std::string::npos) {
            command = m_pending.substr(0, at + end.size());
            m_pending.erase(0, at + end.size());
            return true;
        }
        if (!readable(m_connection))
            return false;
        char buffer[65536];
        const ssize_t n = ::recv(m_connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        m_wire.append(buffer, static_cast<std::size_t>(n));
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

void ScriptedSmtpPeer::recordUntilClosed() {
    std::string line;
    while (readCommand(false, line))
        m_commands.push_back(line);
    if (!m_pending.empty())
        m_commands.push_back(m_pending);
}

void ScriptedSmtpPeer::play() {
    if (!readable(m_listener))
        return;
    m_connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (m_connection < 0)
        return;

    bool dataNext = false;
    for (std::size_t i = 0; i < m_script.size(); ++i) {
        const std::string& entry = m_script[i];
        if (entry == Stall) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
            while (!m_stop && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        }
        if (i > 0) {
            std::string command;
            if (!readCommand(dataNext, command))
                break;
            m_commands.push_back(command);
            dataNext = command == "DATA\r\n" && entry.compare(0, 3, "354") == 0;
        }
        if (entry == Close)
            break;
        if (entry == Silent) {
            recordUntilClosed();
            break;
        }
        if (!write(entry))
            break;
        if (i + 1 == m_script.size())
            recordUntilClosed();
    }
    ::close(m_connection);
    m_connection = -1;
}

} // namespace smtptest
