#include "tools/dns-test-server/DnsTestServer.h"

#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

std::string findDnsmasq() {
    std::vector<std::string> folders = {"/usr/sbin", "/sbin", "/usr/local/sbin"};
    if (const char* path = std::getenv("PATH")) {
        std::stringstream list(path);
        std::string folder;
        while (std::getline(list, folder, ':'))
            folders.push_back(folder);
    }
    for (const std::string& folder : folders) {
        std::string candidate = folder + "/dnsmasq";
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int bindLoopback(int type, int port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A port that is free on 127.0.0.1 for both UDP and TCP (dnsmasq takes both).
int freeDnsPort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        int udp = bindLoopback(SOCK_DGRAM, 0);
        if (udp < 0)
            return 0;
        const int port = iotest::portOf(udp);
        int tcp = bindLoopback(SOCK_STREAM, port);
        ::close(udp);
        if (tcp >= 0) {
            ::close(tcp);
            return port;
        }
    }
    return 0;
}

// True when the name server on 127.0.0.1:port has an address for `name`
// within 100 ms. Each start asks for a name of its own, so that a dnsmasq of
// another test that won the port race is never taken for this one.
bool answers(int port, const std::string& name) {
    // Query id 0x5053, recursion desired, one question: name A IN.
    std::vector<unsigned char> query = {0x50, 0x53, 0x01, 0x00, 0x00, 0x01,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::stringstream labels(name);
    std::string label;
    while (std::getline(labels, label, '.')) {
        query.push_back(static_cast<unsigned char>(label.size()));
        query.insert(query.end(), label.begin(), label.end());
    }
    query.insert(query.end(), {0x00, 0x00, 0x01, 0x00, 0x01});
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in a = loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::send(fd, query.data(), query.size(), 0) == static_cast<ssize_t>(query.size());
    if (ok) {
        pollfd p{fd, POLLIN, 0};
        unsigned char reply[512];
        // Same id, no error, at least one answer record.
        ok = ::poll(&p, 1, 100) == 1 && ::recv(fd, reply, sizeof reply, 0) >= 12 &&
             reply[0] == 0x50 && reply[1] == 0x53 && (reply[3] & 0x0f) == 0 &&
             (reply[6] != 0 || reply[7] != 0);
    }
    ::close(fd);
    return ok;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

DnsTestServer::~DnsTestServer() {
    stop();
}

std::string DnsTestServer::start(const std::vector<std::string>& records) {
    stop();
    const std::string program = findDnsmasq();
    if (program.empty())
        return "dnsmasq is not installed: the MX lookup tests need a real name server "
               "(Debian package dnsmasq-base, listed in tools/deps/test.txt)";
    std::string error;
    // Another process may take the chosen port before dnsmasq does; try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = freeDnsPort();
        if (port == 0)
            return "no free UDP/TCP port on 127.0.0.1 for dnsmasq";
        error = startOnPort(program, records, port);
        if (error.empty())
            return error;
    }
    return error;
}

std::string DnsTestServer::startOnPort(const std::string& program,
                                       const std::vector<std::string>& records, int port) {
    char logTemplate[] = "/tmp/poston-dnsmasq-XXXXXX";
    int logFd = ::mkstemp(logTemplate);
    if (logFd < 0)
        return "cannot create a log file for dnsmasq";
    m_logPath = logTemplate;

    std::vector<std::string> arguments = {
        program, "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
        "--no-poll", "--port=" + std::to_string(port), "--listen-address=127.0.0.1",
        "--bind-interfaces", "--pid-file=", "--log-facility=-",
        // Names under .test are answered here
        // and never forwarded.
        "--local=/test/"};
    static int startCount = 0;
    const std::string probe =
        "probe-" + std::to_string(::getpid()) + "-" + std::to_string(++startCount) + ".test";
    arguments.push_back("--host-record=" + probe + ",127.0.0.1");
    arguments.insert(arguments.end(), records.begin(), records.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(logFd);
        return "cannot fork for dnsmasq";
    }
    if (pid == 0) {
        // Dies with the test, even when the test crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(logFd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(logFd);
    m_pid = pid;
    m_port = port;

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            std::string log = readFile(m_logPath);
            stop();
            return "dnsmasq exited at start: " + log;
        }
        if (answers(port, probe))
            return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string log = readFile(m_logPath);
    stop();
    return "dnsmasq did not answer on port " + std::to_string(port) + " within 5 s: " + log;
}

void DnsTestServer::stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        bool ended = false;
        while (!ended && Clock::now() < deadline) {
            ended = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    if (!m_logPath.empty()) {
        ::unlink(m_logPath.c_str());
        m_logPath.clear();
    }
    m_port = 0;
}

DnsSilentServer::DnsSilentServer() {
    m_fd = bindLoopback(SOCK_DGRAM, 0);
    if (m_fd >= 0)
        m_port = iotest::portOf(m_fd);
}

DnsSilentServer::~DnsSilentServer() {
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

// The name a query asks about, in lower case with dots; empty when broken.
std::string questionName(const std::string& query) {
    std::string name;
    for (std::size_t at = 12; at < query.size();) {
        const auto length = static_cast<unsigned char>(query[at]);
        if (length == 0)
            return name;
        if (length > 63 || at + 1 + length > query.size())
            return {};
        if (!name.empty())
            name += '.';
        for (std::size_t i = at + 1; i <= at + length; ++i)
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(query[i])));
        at += 1 + length;
    }
    return {};
}

} // namespace

DnsTruncatingServer::DnsTruncatingServer(int upstreamPort, std::string truncated)
    : m_upstreamPort(upstreamPort), m_truncated(std::move(truncated)) {
    for (int attempt = 0; attempt < 20 && m_port == 0; ++attempt) {
        m_udp = bindLoopback(SOCK_DGRAM, 0);
        const int port = m_udp < 0 ? 0 : iotest::portOf(m_udp);
        m_tcp = port == 0 ? -1 : bindLoopback(SOCK_STREAM, port);
        if (m_tcp >= 0 && ::listen(m_tcp, 8) == 0) {
            m_port = port;
            break;
        }
        for (int* fd : {&m_udp, &m_tcp})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
    }
    if (m_port != 0)
        m_thread = std::thread([this] { serve(); });
}

DnsTruncatingServer::~DnsTruncatingServer() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : m_held)
        ::close(fd);
    for (int fd : {m_udp, m_tcp})
        if (fd >= 0)
            ::close(fd);
}

void DnsTruncatingServer::serve() {
    while (!m_stop) {
        pollfd fds[2] = {{m_udp, POLLIN, 0}, {m_tcp, POLLIN, 0}};
        if (::poll(fds, 2, 50) <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            const int held = ::accept4(m_tcp, nullptr, nullptr, SOCK_CLOEXEC);
            if (held >= 0)
                m_held.push_back(held); // answered never
        }
        if (fds[0].revents & POLLIN) {
            char buffer[4096];
            sockaddr_in client{};
            socklen_t size = sizeof client;
            const ssize_t n = ::recvfrom(m_udp, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&client), &size);
            if (n >= 12)
                answer(std::string(buffer, static_cast<std::size_t>(n)), client);
        }
    }
}

void DnsTruncatingServer::answer(const std::string& query, const sockaddr_in& client) {
    const std::string name = questionName(query);
    std::string reply;
    if (name.size() >= m_truncated.size() &&
        name.compare(name.size() - m_truncated.size(), m_truncated.size(), m_truncated) == 0) {
        // The header with QR and TC set, the question, no record.
        reply = query;
        reply[2] = static_cast<char>(reply[2] | 0x82);
        reply[3] = static_cast<char>(0x80);
        for (int i = 6; i < 12; ++i)
            reply[static_cast<std::size_t>(i)] = 0;
    } else {
        const int upstream = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in server = loopback(m_upstreamPort);
        char buffer[4096];
        if (upstream >= 0 &&
            ::sendto(upstream, query.data(), query.size(), 0,
                     reinterpret_cast<const sockaddr*>(&server), sizeof server) >= 0 &&
            iotest::readable(upstream, 2000)) {
            const ssize_t n = ::recv(upstream, buffer, sizeof buffer, 0);
            if (n > 0)
                reply.assign(buffer, static_cast<std::size_t>(n));
        }
        if (upstream >= 0)
            ::close(upstream);
    }
    if (!reply.empty())
        ::sendto(m_udp, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&client),
                 sizeof client);
}
