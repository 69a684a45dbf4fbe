#pragma once

#include "nvktl/CString.h"
#include "nvktl/WaitReady.h"

#include <chrono>
#include <functional>
#include <utility>

struct ssl_st;
struct ssl_ctx_st;

namespace NVKTL {

// TLS on a connected non-blocking socket, as a client: the server's
// certificate chain is checked against the system's trust store (OpenSSL's
// default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and its name
// against the name the caller connected to, an IP address as an address.
// TLS 1.2 at least. Every wait ends at the deadline the caller gives, or
// earlier when the caller's wait says so.
class CTlsChannel {
public:
    using Clock = WaitClock;
    // How the channel waits for its socket: the socket's own wait, so that
    // its abort event ends a handshake, a read or a write too.
    using Wait = std::function<WaitResult(short events, Clock::time_point deadline)>;

    enum class StartResult {
        Started,
        Failed,         // no common protocol, or a peer that does not speak TLS
        Dropped,        // the connection was closed or reset during the handshake
        BadCertificate, // chain or name not valid for this server
        TimedOut,
    };
    enum class Check {
        Certificate, // chain and name must verify
        None,        // encryption only, as mail exchangers use it between them
    };

    explicit CTlsChannel(Wait wait) : wait(std::move(wait)) {}
    CTlsChannel(const CTlsChannel&) = delete;
    CTlsChannel& operator=(const CTlsChannel&) = delete;
    ~CTlsChannel();

    // Runs the handshake on fd for serverName (sent as SNI unless it is an
    // address).
    StartResult start(int fd, const CString& serverName, Clock::time_point deadline,
                      Check check = Check::Certificate);

    // All length bytes, or -1.
    int write(const char* bytes, int length, Clock::time_point deadline);
    // At most length bytes: the count, 0 when the peer has closed, -1 on a
    // failure or at the deadline.
    int read(char* buffer, int length, Clock::time_point deadline);

    // Sends the closing alert without waiting for the peer's.
    void shutdown();

private:
    // Waits as OpenSSL asks after error; false on any other error, at the
    // deadline or when the wait was aborted.
    bool waitAsAsked(int error, Clock::time_point deadline, bool& timedOut);
    // Why a handshake that did not time out failed.
    StartResult failure(int error) const;

    Wait wait;
    ssl_ctx_st* context = nullptr;
    ssl_st* ssl = nullptr;
    int fd = -1;
};

} // namespace NVKTL
