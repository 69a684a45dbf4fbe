#include "nvktl/CTlsChannel.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <string>

namespace NVKTL {

namespace {

bool isAddress(const CString& name) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, name.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

// The client context, shared by every connection: loading the trust store is
// the dearest step of a handshake. It is made afresh when SSL_CERT_FILE or
// SSL_CERT_DIR change, and after an hour, so that an updated store is used.
class SharedContext {
public:
    // A new reference to the current context (SSL_CTX_free it), or null.
    ssl_ctx_st* acquire() {
        const std::string file = environment("SSL_CERT_FILE");
        const std::string dir = environment("SSL_CERT_DIR");
        const auto now = CTlsChannel::Clock::now();
        std::lock_guard<std::mutex> guard(lock);
        if (!context || file != certFile || dir != certDir || now - made > std::chrono::hours(1)) {
            SSL_CTX* fresh = makeContext();
            if (!fresh)
                return nullptr;
            if (context)
                SSL_CTX_free(context);
            context = fresh;
            certFile = file;
            certDir = dir;
            made = now;
        }
        SSL_CTX_up_ref(context);
        return context;
    }

private:
    static std::string environment(const char* name) {
        const char* value = std::getenv(name);
        return value ? value : "";
    }

    static SSL_CTX* makeContext() {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        if (!made)
            return nullptr;
        SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
        SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
        // A write that the peer cannot take at once is retried with the same
        // bytes; moving the buffer between tries is harmless.
        SSL_CTX_set_mode(made, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Replies carry their own end, so a peer that closes without the
        // closing alert has simply closed.
        SSL_CTX_set_options(made, SSL_OP_IGNORE_UNEXPECTED_EOF);
        if (SSL_CTX_set_default_verify_paths(made) != 1) {
            SSL_CTX_free(made);
            return nullptr;
        }
        return made;
    }

    std::mutex lock;
    SSL_CTX* context = nullptr;
    std::string certFile;
    std::string certDir;
    CTlsChannel::Clock::time_point made;
};

SharedContext sharedContext;

} // namespace

CTlsChannel::~CTlsChannel() {
    if (ssl)
        SSL_free(ssl);
    if (context)
        SSL_CTX_free(context);
}

bool CTlsChannel::waitAsAsked(int error, Clock::time_point deadline, bool& timedOut) {
    short events = 0;
    if (error == SSL_ERROR_WANT_READ)
        events = POLLIN;
    else if (error == SSL_ERROR_WANT_WRITE)
        events = POLLOUT;
    else
        return false;
    // An aborted wait counts as time run out: nothing is wrong with the peer.
    const WaitResult ready = wait(events, deadline);
    timedOut = ready == WaitResult::TimedOut || ready == WaitResult::Aborted;
    return ready == WaitResult::Ready;
}

CTlsChannel::StartResult CTlsChannel::failure(int error) const {
    if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN)
        return StartResult::Dropped;
    if (error == SSL_ERROR_SSL &&
        ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return StartResult::Dropped;
    if (SSL_get_verify_mode(ssl) != SSL_VERIFY_NONE && SSL_get_verify_result(ssl) != X509_V_OK)
        return StartResult::BadCertificate;
    return StartResult::Failed;
}

CTlsChannel::StartResult CTlsChannel::start(int socket, const CString& serverName,
                                            Clock::time_point deadline, Check check) {
    ERR_clear_error();
    fd = socket;
    context = sharedContext.acquire();
    if (!context)
        return StartResult::Failed;

    ssl = SSL_new(context);
    if (!ssl || SSL_set_fd(ssl, fd) != 1)
        return StartResult::Failed;
    if (check == Check::None) {
        SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
        if (!isAddress(serverName) && SSL_set_tlsext_host_name(ssl, serverName.c_str()) != 1)
            return StartResult::Failed;
    } else if (isAddress(serverName)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), serverName.c_str()) != 1)
            return StartResult::Failed;
    } else {
        if (SSL_set_tlsext_host_name(ssl, serverName.c_str()) != 1 ||
            SSL_set1_host(ssl, serverName.c_str()) != 1)
            return StartResult::Failed;
    }

    for (;;) {
        const int result = SSL_connect(ssl);
        if (result == 1)
            return StartResult::Started;
        const int error = SSL_get_error(ssl, result);
        bool timedOut = false;
        if (waitAsAsked(error, deadline, timedOut))
            continue;
        if (timedOut)
            return StartResult::TimedOut;
        return failure(error);
    }
}

int CTlsChannel::write(const char* bytes, int length, Clock::time_point deadline) {
    if (!ssl)
        return -1;
    int sent = 0;
    while (sent < length) {
        std::size_t written = 0;
        const int result =
            SSL_write_ex(ssl, bytes + sent, static_cast<std::size_t>(length - sent), &written);
        if (result == 1) {
            sent += static_cast<int>(written);
            continue;
        }
        bool timedOut = false;
        if (!waitAsAsked(SSL_get_error(ssl, result), deadline, timedOut))
            return -1;
    }
    return sent;
}

int CTlsChannel::read(char* buffer, int length, Clock::time_point deadline) {
    if (!ssl)
        return -1;
    for (;;) {
        std::size_t got = 0;
        const int result = SSL_read_ex(ssl, buffer, static_cast<std::size_t>(length), &got);
        if (result == 1)
            return static_cast<int>(got);
        const int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        bool timedOut = false;
        if (!waitAsAsked(error, deadline, timedOut))
            return -1;
    }
}

void CTlsChannel::shutdown() {
    if (ssl)
        (void)SSL_shutdown(ssl);
    ERR_clear_error();
}

} // namespace NVKTL
