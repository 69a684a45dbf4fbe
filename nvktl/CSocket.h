#pragma once

#include "nvktl/CString.h"
#include "nvktl/CTlsChannel.h"
#include "nvktl/WaitReady.h"

#include <memory>
#include <optional>

#include <netinet/in.h>
#include <sys/socket.h>

namespace NVKTL {

// A blocking-style TCP client socket (IPv4 or IPv6). Every wait on the peer
// (the name lookup, connect, each Send, each Receive, the drain in Close) is
// bounded by the time-out, and ends at once when the abort event is
// signalled; either counts as a failure (-1). A closed peer never raises
// SIGPIPE.
class CSocket {
public:
    static constexpr unsigned DefaultTimeout = 30000; // milliseconds

    // Creates the socket at once (close-on-exec); a failure shows at Connect.
    CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    // Close().
    virtual ~CSocket();

    // Connects to a numeric address ("192.0.2.1", "::1"); any other text is
    // refused at once, without traffic. A socket closed earlier is replaced
    // by a fresh one, as is one whose connect failed. 0 or -1.
    int Connect(const CString& address, int port);
    // Resolves host (within the time-out, over UDP or TCP) and tries its
    // addresses (IPv6 and IPv4) in the resolver's order until one connects,
    // each within the time-out. 0 or -1.
    int ConnectByName(const CString& host, int port);

    // Sends all length bytes, looping over short writes. Returns length, or -1
    // when the connection fails or the peer takes nothing for the time-out.
    int Send(const char* bytes, int length, int flags);
    // Reads at most length bytes: the count read, 0 when the peer has closed,
    // or -1 on failure or when nothing arrives within the time-out.
    int Receive(char* buffer, int length, int flags);

    // Starts TLS on the connected socket for serverName (the name or address
    // connected to); from then on Send and Receive go through it. Bounded by
    // the time-out.
    CTlsChannel::StartResult StartTls(const CString& serverName,
                                      CTlsChannel::Check check = CTlsChannel::Check::Certificate);

    // Half-closes, discards what the peer still sends until it closes (for at
    // most the time-out), then releases the socket. Does nothing without one.
    void Close();

    // Milliseconds that connect, Send, Receive and the drain of Close may wait.
    void SetTimeout(unsigned ms) { m_timeout = ms; }
    unsigned GetTimeout() const { return m_timeout; }

    // The descriptor of an event (-1: none) whose signal ends every wait of
    // this socket at once, or, while a grace is set, graceMs after it was
    // first seen (the grace never stretches a wait past its time-out).
    void SetAbortHandle(int handle) { m_abortHandle = handle; }
    int GetAbortHandle() const { return m_abortHandle; }
    void SetAbortGrace(unsigned ms) { m_abortGraceMs = ms; }

    // The socket descriptor; 0 when there is no socket.
    int GetHandle() const { return handle; }

protected:
    int handle = 0;
    sockaddr_storage peer{}; // address of the last Connect

private:
    int connectTo(const sockaddr* address, socklen_t size);
    void dropSocket();
    // Waits for the socket, minding the abort event and its grace.
    WaitResult waitFor(short events, WaitClock::time_point deadline);

    int handleFamily = AF_INET;
    std::unique_ptr<CTlsChannel> tls;
    unsigned m_timeout = DefaultTimeout;
    int m_abortHandle = -1;
    unsigned m_abortGraceMs = 0;
    // When the grace that began at the abort runs out.
    std::optional<WaitClock::time_point> m_graceEnd;
};

} // namespace NVKTL
