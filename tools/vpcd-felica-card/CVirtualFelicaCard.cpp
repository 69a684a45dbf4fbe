#include "tools/vpcd-felica-card/CVirtualFelicaCard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr std::uint8_t kControlAtrRequest = 4;
constexpr int kReconnectPauseMs = 50;

// Waits until fd is readable or the stop event fires; false on stop or error.
bool waitReadable(int fd, int stopEvent, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && !(fds[1].revents & POLLIN) && fds[0].revents;
    }
}

bool readAll(int socket, int stopEvent, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        // vpcd sends the length and the payload in two writes; without quick
        // acknowledgements every exchange waits for the delayed ACK.
        const int on = 1;
        setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof(on));
        if (!waitReadable(socket, stopEvent, -1)) {
            return false;
        }
        const ssize_t got = ::recv(socket, data, size, 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAll(int socket, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return fd;
}

} // namespace

CVirtualFelicaCard::Bytes CVirtualFelicaCard::felicaAtr() {
    return {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
            0x03, 0x06, 0x11, 0x00, 0x3B, 0x00, 0x00, 0x00, 0x00, 0x42};
}

CVirtualFelicaCard::CVirtualFelicaCard(Behaviour behaviour, std::uint16_t port)
    : m_behaviour(std::move(behaviour)), m_port(port) {}

CVirtualFelicaCard::~CVirtualFelicaCard() {
    remove();
}

bool CVirtualFelicaCard::insert(std::chrono::milliseconds wait) {
    if (!m_thread.joinable()) {
        m_stopEvent = eventfd(0, EFD_CLOEXEC);
        if (m_stopEvent < 0) {
            return false;
        }
        m_stop = false;
        m_thread = std::thread(&CVirtualFelicaCard::run, this);
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!m_connected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_connected;
}

void CVirtualFelicaCard::remove() {
    if (!m_thread.joinable()) {
        return;
    }
    m_stop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_stopEvent, &one, sizeof(one));
    m_thread.join();
    ::close(m_stopEvent);
    m_stopEvent = -1;
}

void CVirtualFelicaCard::run() {
    while (!m_stop) {
        const int socket = connectTo(m_port);
        if (socket >= 0) {
            ++m_connections;
            m_connected = true;
            serve(socket);
            m_connected = false;
            ::close(socket);
        }
        // Wait a little before knocking again, unless removed meanwhile.
        pollfd stop{m_stopEvent, POLLIN, 0};
        ::poll(&stop, 1, kReconnectPauseMs);
    }
}

void CVirtualFelicaCard::serve(int socket) {
    while (!m_stop) {
        std::uint8_t header[2];
        if (!readAll(socket, m_stopEvent, header, sizeof(header))) {
            return;
        }
        Bytes request(static_cast<std::size_t>(header[0] << 8 | header[1]));
        if (!readAll(socket, m_stopEvent, request.data(), request.size())) {
            return;
        }
        const Bytes response = answer(request);
        if (response.empty()) {
            continue;
        }
        Bytes message{static_cast<std::uint8_t>(response.size() >> 8),
                      static_cast<std::uint8_t>(response.size() & 0xFF)};
        message.insert(message.end(), response.begin(), response.end());
        if (!writeAll(socket, message.data(), message.size())) {
            return;
        }
    }
}

// A one-byte request is a control: power off (0), on (1), reset (2) or the
// ATR request (4); only the ATR request is answered. Anything longer is an
// APDU.
CVirtualFelicaCard::Bytes CVirtualFelicaCard::answer(const Bytes& request) {
    if (request.size() == 1) {
        if (request[0] == kControlAtrRequest) {
            ++m_atrRequests;
            return m_behaviour.atr;
        }
        return {};
    }
    if (request.size() < 4) {
        return {0x67, 0x00};
    }
    if (request[0] == 0xFF && request[1] == 0xCA) {
        ++m_getDataRequests;
        if (request[2] != 0x00 || request[3] != 0x00) {
            return {0x6A, 0x81};
        }
        if (!m_behaviour.getDataAnswer.empty()) {
            return m_behaviour.getDataAnswer;
        }
        Bytes response = m_behaviour.idm;
        response.push_back(0x90);
        response.push_back(0x00);
        return response;
    }
    return {0x6D, 0x00};
}
