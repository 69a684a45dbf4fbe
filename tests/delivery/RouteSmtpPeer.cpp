#include "RouteSmtpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace {

// How long the peer waits for the client's next bytes before it gives up.
constexpr int kReadTimeoutMs = 10000;
constexpr std::size_t kMaxBuffered = 1 << 20;

bool sendAll(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads more bytes into buffer; false on close, error, time-out or overflow.
bool readMore(int fd, std::string& buffer) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kReadTimeoutMs) <= 0)
        return false;
    char chunk[4096];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0 || buffer.size() + static_cast<std::size_t>(n) > kMaxBuffered)
        return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

// Takes everything before the first occurrence of mark out of buffer, reading
// as needed.
bool takeUntil(int fd, std::string& buffer, const std::string& mark, std::string& taken) {
    std::size_t at;
    while ((at = buffer.find(mark)) == std::string::npos) {
        if (!readMore(fd, buffer))
            return false;
    }
    taken = buffer.substr(0, at);
    buffer.erase(0, at + mark.size());
    return true;
}

sockaddr_in loopbackAddress(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

int boundSocket(const std::string& address, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = loopbackAddress(address, port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int boundPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return 0;
    return ntohs(a.sin_port);
}

std::string verbOf(const std::string& line) {
    std::string verb = line.substr(0, line.find_first_of(" :"));
    for (char& c : verb)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return verb;
}

} // namespace

void RouteConnectionLog::add(const std::string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_names.push_back(name);
}

std::vector<std::string> RouteConnectionLog::names() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_names;
}

RouteSmtpPeer::RouteSmtpPeer(RouteSmtpScript script, std::string name, RouteConnectionLog* log)
    : m_script(std::move(script)), m_name(std::move(name)), m_log(log) {}

RouteSmtpPeer::~RouteSmtpPeer() {
    m_stop = true;
    if (m_wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool RouteSmtpPeer::listen(const std::string& address, int port) {
    if (m_listener >= 0)
        return false;
    int fd = boundSocket(address, port);
    if (fd < 0)
        return false;
    if (::listen(fd, 16) != 0) {
        ::close(fd);
        return false;
    }
    m_listener = fd;
    m_port = boundPort(fd);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { serve(); });
    return true;
}

std::vector<RouteSmtpSession> RouteSmtpPeer::sessions() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions;
}

void RouteSmtpPeer::serve() {
    while (!m_stop) {
        pollfd p[2] = {{m_listener, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            return;
        if (m_stop || (p[1].revents & POLLIN))
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        serveSession(connection);
        ::close(connection);
    }
}

void RouteSmtpPeer::serveSession(int connection) {
    if (m_log)
        m_log->add(m_name);
    std::size_t index;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_sessions.emplace_back();
        index = m_sessions.size() - 1;
    }
    auto record = [&](const std::string& command) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_sessions[index].commands.push_back(command);
    };

    if (!sendAll(connection, m_script.greeting))
        return;
    std::string buffer;
    std::string line;
    while (!m_stop && takeUntil(connection, buffer, "\r\n", line)) {
        record(line);
        const std::string verb = verbOf(line);
        std::string reply;
        if (verb == "EHLO")
            reply = m_script.ehloReply;
        else if (verb == "HELO")
            reply = "250 peer.test\r\n";
        else if (verb == "AUTH")
            reply = m_script.authReply;
        else if (verb == "MAIL")
            reply = m_script.mailReply;
        else if (verb == "RCPT")
            reply = m_script.rcptReply;
        else if (verb == "DATA")
            reply = m_script.dataReply;
        else if (verb == "RSET")
            reply = m_script.rsetReply;
        else if (verb == "QUIT")
            reply = "221 2.0.0 Bye\r\n";
        else
            reply = "502 5.5.2 Command not recognised\r\n";
        if (!sendAll(connection, reply) || verb == "QUIT")
            return;
        if (verb == "DATA" && reply.rfind("354", 0) == 0) {
            // The message is what comes before the client's CR LF "." CR LF;
            // the CR LF put in front also finds the mark of an empty message.
            buffer.insert(0, "\r\n");
            std::string message;
            if (!takeUntil(connection, buffer, "\r\n.\r\n", message))
                return;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_sessions[index].message = message.substr(2);
                m_sessions[index].messages.push_back(message.substr(2));
            }
            if (!sendAll(connection, m_script.messageReply) || m_script.closeAfterMessage)
                return;
        }
    }
}

int listenOnCommonPort(const std::vector<RouteSmtpPeer*>& peers,
                       const std::vector<std::string>& addresses) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        int first = boundSocket(addresses.at(0), 0);
        if (first < 0)
            return 0;
        const int port = boundPort(first);
        std::vector<int> probes{first};
        bool free = true;
        for (std::size_t i = 1; i < addresses.size() && free; ++i) {
            int fd = boundSocket(addresses[i], port);
            free = fd >= 0;
            if (free)
                probes.push_back(fd);
        }
        for (int fd : probes)
            ::close(fd);
        if (!free)
            continue;
        bool listening = true;
        for (std::size_t i = 0; i < peers.size() && listening; ++i)
            listening = peers[i]->listen(addresses.at(i), port);
        if (listening)
            return port;
        return 0;
    }
    return 0;
}
