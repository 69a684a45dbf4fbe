#pragma once

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include <netinet/in.h>

// A real name server for the tests: Debian's dnsmasq, answering only from the
// records it is given (no upstream, no hosts file), on 127.0.0.1 and a free
// port. dnsmasq lists the MX records of a domain in the reverse of their order
// on its command line.
class DnsTestServer {
public:
    DnsTestServer() = default;
    DnsTestServer(const DnsTestServer&) = delete;
    DnsTestServer& operator=(const DnsTestServer&) = delete;
    ~DnsTestServer();

    // Starts dnsmasq with the given record options ("--mx-host=...",
    // "--host-record=...") and waits until it answers. Returns an empty text,
    // or what went wrong (dnsmasq missing, not starting, not answering).
    std::string start(const std::vector<std::string>& records);
    void stop();

    int port() const { return m_port; }

private:
    std::string startOnPort(const std::string& program, const std::vector<std::string>& records,
                            int port);

    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_logPath;
};

// Binds a UDP socket to 127.0.0.1:port and never answers: a name server that
// is there but silent. Closed on destruction.
class DnsSilentServer {
public:
    DnsSilentServer();
    DnsSilentServer(const DnsSilentServer&) = delete;
    DnsSilentServer& operator=(const DnsSilentServer&) = delete;
    ~DnsSilentServer();
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A name server in front of another (a test's dnsmasq) on 127.0.0.1, UDP and
// TCP on one port: it passes UDP queries on and their answers back, except
// for names ending in truncated, which get an empty answer with the
// truncation bit set; a client then asks again over TCP, where this server
// accepts and never answers. Stopped on destruction.
class DnsTruncatingServer {
public:
    DnsTruncatingServer(int upstreamPort, std::string truncated);
    DnsTruncatingServer(const DnsTruncatingServer&) = delete;
    DnsTruncatingServer& operator=(const DnsTruncatingServer&) = delete;
    ~DnsTruncatingServer();
    // 0 when no port was free for both.
    int port() const { return m_port; }

private:
    void serve();
    void answer(const std::string& query, const sockaddr_in& client);

    int m_upstreamPort;
    std::string m_truncated;
    int m_udp = -1;
    int m_tcp = -1;
    int m_port = 0;
    std::vector<int> m_held;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
