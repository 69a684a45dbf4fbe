#pragma once

#include "nvktl/CString.h"

#include <chrono>

struct ssl_st;
struct ssl_ctx_st;

namespace NVKTL {

// TLS on a connected non-blocking socket, as a client: the server's
// certificate chain is checked against the system's trust store (OpenSSL's
// default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and its name
// against the name the caller connected to, an IP address as an address.
// TLS 1.2 at least. Every wait ends at the deadline the caller gives.
class CTlsChannel {
public:
    using Clock = std::chrono::steady_clock;

    enum class StartResult {
        Started,
        Failed,         // no common protocol, a broken or closed handshake
        BadCertificate, // chain or name not valid for this server
        TimedOut,
    };

    CTlsChannel() = default;
    CTlsChannel(const CTlsChannel&) = delete;
    CTlsChannel& operator=(const CTlsChannel&) = delete;
    ~CTlsChannel();

    // Runs the handshake on fd for serverName (sent as SNI unless it is an
    // address).
    StartResult start(int fd, const CString& serverName, Clock::time_point deadline);

    // All length bytes, or -1.
    int write(const char* bytes, int length, Clock::time_point deadline);
    // At most length bytes: the count, 0 when the peer has closed, -1 on a
    // failure or at the deadline.
    int read(char* buffer, int length, Clock::time_point deadline);

    // Sends the closing alert without waiting for the peer's.
    void shutdown();

private:
    // Waits as OpenSSL asks after error; false on any other error or at the
    // deadline.
    bool waitAsAsked(int error, Clock::time_point deadline, bool& timedOut);

    ssl_ctx_st* context = nullptr;
    ssl_st* ssl = nullptr;
    int fd = -1;
};

} // namespace NVKTL
