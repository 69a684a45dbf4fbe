#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

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

// The zone that the delivery tests ask about, as dnsmasq options. Exchangers
// are listed here in the reverse of the answer order that the comments give.
//  poston.test  answer: 20 b, 10 a, 30 c, 10 a2, 0 z; a, a2, c at 127.0.0.2,
//               b, z at 127.0.0.3; alias.poston.test is a CNAME of b
//  retry.test   answer: 10 first (127.0.0.2), 20 second (127.0.0.3)
//  order.test   answer: 20 (127.0.0.3), 10 (127.0.0.2), 30 (127.0.0.4)
//  equal.test   answer: 10 first (127.0.0.2), 10 second (127.0.0.3)
//  zero.test    answer: 0 only (127.0.0.2)
//  nomx.test    an address record, no MX
//  noaddr.test  answer: 10 lost.noaddr.test, which has no address record
//  nullmx.test  answer: 20 b (127.0.0.2), 10 the root ("takes no mail")
std::vector<std::string> dnsTestZone();
