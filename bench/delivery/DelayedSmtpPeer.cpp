#include "DelayedSmtpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>

namespace {

bool sendAll(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Takes from buffer (reading more from fd as needed) the text before mark.
bool takeUntil(int fd, std::string& buffer, const std::string& mark, std::string& taken) {
    for (;;) {
        const std::size_t at = buffer.find(mark);
        if (at != std::string::npos) {
            taken = buffer.substr(0, at);
            buffer.erase(0, at + mark.size());
            return true;
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

DelayedSmtpPeer::DelayedSmtpPeer(std::chrono::milliseconds delay) : m_delay(delay) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { serve(); });
}

DelayedSmtpPeer::~DelayedSmtpPeer() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    if (m_acceptor.joinable())
        m_acceptor.join();
    for (std::thread& session : m_sessions)
        session.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

void DelayedSmtpPeer::serve() {
    for (;;) {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard<std::mutex> guard(m_lock);
        if (connection < 0 || m_stopping) {
            if (connection >= 0)
                ::close(connection);
            return;
        }
        // A client that stops talking cannot keep the peer alive.
        timeval timeout{30, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ++m_connections;
        m_sessions.emplace_back([this, connection] {
            session(connection);
            ::close(connection);
        });
    }
}

void DelayedSmtpPeer::session(int connection) {
    auto answer = [&](const std::string& reply) {
        std::this_thread::sleep_for(m_delay);
        return sendAll(connection, reply);
    };
    if (!answer("220 delayed.test ESMTP\r\n"))
        return;
    std::string buffer, line, recipient;
    while (takeUntil(connection, buffer, "\r\n", line)) {
        const std::string verb = upper(line.substr(0, line.find_first_of(" :")));
        if (verb == "QUIT") {
            answer("221 2.0.0 Bye\r\n");
            return;
        }
        if (verb == "RCPT") {
            const std::size_t open = line.find('<');
            const std::size_t close = line.find('>', open);
            recipient = open == std::string::npos || close == std::string::npos
                            ? std::string()
                            : line.substr(open + 1, close - open - 1);
        }
        if (verb == "EHLO") {
            if (!answer("250-delayed.test\r\n250 8BITMIME\r\n"))
                return;
        } else if (verb == "DATA") {
            if (!answer("354 End data with <CR><LF>.<CR><LF>\r\n"))
                return;
            buffer.insert(0, "\r\n");
            std::string message;
            if (!takeUntil(connection, buffer, "\r\n.\r\n", message) ||
                !answer("250 2.0.0 Queued\r\n"))
                return;
            std::lock_guard<std::mutex> guard(m_lock);
            m_accepted.push_back({recipient, message.substr(2), Clock::now()});
        } else if (verb == "HELO" || verb == "MAIL" || verb == "RCPT" || verb == "RSET" ||
                   verb == "NOOP") {
            if (!answer("250 2.0.0 OK\r\n"))
                return;
        } else if (!answer("502 5.5.2 Command not recognised\r\n")) {
            return;
        }
    }
}

std::vector<DelayedSmtpPeer::Accepted> DelayedSmtpPeer::accepted() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accepted;
}

std::size_t DelayedSmtpPeer::acceptedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accepted.size();
}

std::size_t DelayedSmtpPeer::connections() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connections;
}

bool DelayedSmtpPeer::waitFor(std::size_t count, std::chrono::seconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (acceptedCount() < count) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
