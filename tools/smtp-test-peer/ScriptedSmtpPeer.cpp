#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace smtptest {

using iotest::boundSocket;
using iotest::portOf;
using iotest::readable;

namespace {

constexpr int WaitMs = 10000;
constexpr std::size_t MaxBuffered = 1 << 20;

std::string verbOf(const std::string& line) {
    std::string verb = line.substr(0, line.find_first_of(" :"));
    for (char& c : verb)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return verb;
}

std::string answerTo(const Replies& r, const std::string& verb) {
    return verb == "EHLO"   ? r.ehlo
           : verb == "HELO" ? "250 peer.test\r\n"
           : verb == "AUTH" ? r.auth
           : verb == "MAIL" ? r.mail
           : verb == "RCPT" ? r.rcpt
           : verb == "DATA" ? r.data
           : verb == "RSET" ? r.rset
           : verb == "NOOP" ? "250 2.0.0 OK\r\n"
           : verb == "QUIT" ? "221 2.0.0 Bye\r\n"
                            : "502 5.5.2 Command not recognised\r\n";
}

} // namespace

void ConnectionLog::add(const std::string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_names.push_back(name);
}

std::vector<std::string> ConnectionLog::names() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_names;
}

ScriptedSmtpPeer::ScriptedSmtpPeer(std::vector<std::string> script, PeerOptions options)
    : ScriptedSmtpPeer(std::move(options), std::move(script), {}, true) {}

ScriptedSmtpPeer::ScriptedSmtpPeer(Replies replies, PeerOptions options)
    : ScriptedSmtpPeer(std::move(options), {}, std::move(replies), false) {}

ScriptedSmtpPeer::ScriptedSmtpPeer(PeerOptions options, std::vector<std::string> script,
                                   Replies replies, bool scripted)
    : m_options(std::move(options)), m_script(std::move(script)), m_replies(std::move(replies)),
      m_scripted(scripted) {
    m_listener = boundSocket(m_options.address, m_options.port);
    if (m_listener < 0 || ::listen(m_listener, 64) != 0)
        return;
    m_port = portOf(m_listener);
    m_thread = std::thread([this] { acceptLoop(); });
}

ScriptedSmtpPeer::~ScriptedSmtpPeer() {
    m_closing = true;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (int fd : m_open)
            ::shutdown(fd, SHUT_RDWR);
    }
    joinScript();
    for (std::thread& worker : m_workers)
        worker.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

void ScriptedSmtpPeer::joinScript() {
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::string> ScriptedSmtpPeer::commands() {
    joinScript();
    return m_commands;
}

std::string ScriptedSmtpPeer::wire() {
    joinScript();
    return m_wire;
}

std::vector<Session> ScriptedSmtpPeer::sessions() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions;
}

std::size_t ScriptedSmtpPeer::connections() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions.size();
}

std::vector<Mail> ScriptedSmtpPeer::mails() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Mail> all;
    for (const Session& session : m_sessions)
        all.insert(all.end(), session.mails.begin(), session.mails.end());
    return all;
}

bool ScriptedSmtpPeer::waitForMails(std::size_t count, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (mails().size() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ScriptedSmtpPeer::acceptLoop() {
    while (!m_closing) {
        // A script waits at most ten seconds for its one connection.
        const bool waiting = readable(m_listener, m_scripted ? WaitMs : 100);
        if (!waiting && m_scripted)
            return;
        const int fd = waiting ? ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (fd < 0)
            continue;
        std::size_t session;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open.insert(fd);
            m_sessions.emplace_back();
            session = m_sessions.size() - 1;
        }
        if (m_options.log)
            m_options.log->add(m_options.name);
        auto serve = [this, fd, session] {
            if (m_scripted)
                playScript(fd);
            else
                answerReplies(fd, session);
            std::lock_guard<std::mutex> guard(m_lock);
            m_open.erase(fd);
            ::close(fd);
        };
        if (m_scripted)
            return serve();
        m_workers.emplace_back(serve);
    }
}

bool ScriptedSmtpPeer::reply(int fd, const std::string& text, bool delayed) {
    if (delayed)
        std::this_thread::sleep_for(m_options.delay);
    for (std::size_t start = 0;;) {
        std::size_t mark = std::string::npos;
        for (const char* kind : {"<pause ", Close, Reset})
            mark = std::min(mark, text.find(kind, start));
        const std::size_t length = mark == std::string::npos ? mark : mark - start;
        if (!iotest::LoopbackPeer::writeAll(fd, text.substr(start, length)))
            return false;
        if (mark == std::string::npos)
            return true;
        if (text.compare(mark, 7, Reset) == 0) {
            const linger abrupt{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
            return false;
        }
        if (text.compare(mark, 7, Close) == 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(text.substr(mark + 7))));
        start = text.find('>', mark) + 1;
    }
}

bool ScriptedSmtpPeer::readUntil(int fd, std::string& buffer, const std::string& mark,
                                 std::string& taken) {
    for (std::size_t at; (at = buffer.find(mark)) == std::string::npos;) {
        char chunk[65536];
        const ssize_t n = readable(fd, WaitMs) ? ::recv(fd, chunk, sizeof chunk, 0) : -1;
        if (n <= 0 || buffer.size() + static_cast<std::size_t>(n) > MaxBuffered)
            return false;
        if (m_scripted)
            m_wire.append(chunk, static_cast<std::size_t>(n));
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    const std::size_t at = buffer.find(mark);
    taken = buffer.substr(0, at);
    buffer.erase(0, at + mark.size());
    return true;
}

void ScriptedSmtpPeer::recordUntilClosed(int fd, std::string& buffer) {
    std::string line;
    while (readUntil(fd, buffer, "\r\n", line))
        m_commands.push_back(line + "\r\n");
    if (!buffer.empty())
        m_commands.push_back(buffer);
}

void ScriptedSmtpPeer::playScript(int fd) {
    std::string buffer;
    bool dataNext = false;
    for (std::size_t i = 0; i < m_script.size(); ++i) {
        const std::string& entry = m_script[i];
        if (i > 0) {
            const std::string mark = dataNext ? "\r\n.\r\n" : "\r\n";
            std::string command;
            if (!readUntil(fd, buffer, mark, command))
                return;
            m_commands.push_back(command + mark);
            dataNext = command == "DATA" && entry.compare(0, 3, "354") == 0;
        }
        if (entry == Close || (entry != Silent && !reply(fd, entry)))
            return;
        if (entry == Silent || i + 1 == m_script.size())
            return recordUntilClosed(fd, buffer);
    }
}

void ScriptedSmtpPeer::answerReplies(int fd, std::size_t session) {
    const Replies& r = m_replies;
    if (!reply(fd, r.greeting))
        return;
    std::string buffer, line, recipient;
    while (!m_closing && readUntil(fd, buffer, "\r\n", line)) {
        const std::string verb = verbOf(line), answer = answerTo(r, verb);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_sessions[session].commands.push_back(line);
        }
        const std::size_t open = line.find('<'), close = line.find('>', open);
        if (verb == "RCPT" && close != std::string::npos)
            recipient = line.substr(open + 1, close - open - 1);
        if (!reply(fd, answer) || verb == "QUIT")
            return;
        if (verb != "DATA" || answer.compare(0, 3, "354") != 0)
            continue;
        // The message is what comes before the client's CR LF "." CR LF; the
        // CR LF put in front also finds the mark of an empty message.
        buffer.insert(0, "\r\n");
        std::string message;
        if (!readUntil(fd, buffer, "\r\n.\r\n", message))
            return;
        std::this_thread::sleep_for(m_options.delay);
        // Pauses before the reply do not change what it says.
        std::string said = r.message;
        while (said.compare(0, 7, "<pause ") == 0)
            said.erase(0, said.find('>') + 1);
        bool drop = false;
        if (said.compare(0, 1, "2") == 0) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_sessions[session].mails.push_back(
                {recipient, message.substr(2), std::chrono::steady_clock::now()});
            drop = m_dropped < r.messagesDropped && ++m_dropped > 0;
        }
        if (drop || !reply(fd, r.message, false) || r.closeAfterMessage)
            return;
    }
}

int commonFreePort(const std::vector<std::string>& addresses) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<int> probes{boundSocket(addresses.at(0), 0)};
        const int port = probes[0] < 0 ? 0 : portOf(probes[0]);
        for (std::size_t i = 1; i < addresses.size() && probes.back() >= 0; ++i)
            probes.push_back(boundSocket(addresses[i], port));
        const bool free = probes.back() >= 0 && port != 0;
        for (int fd : probes)
            if (fd >= 0)
                ::close(fd);
        if (free)
            return port;
    }
    return 0;
}

} // namespace smtptest
