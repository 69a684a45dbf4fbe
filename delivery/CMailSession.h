#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CSmtpClient.h"

#include <memory>

// One SMTP session kept open across the mails of one send period, so that a
// batch to the same server pays for the connection, TLS and AUTH once. A mail
// goes through it only when it would open the same session (same server,
// port, security, credentials and sender); the server's RSET starts each
// further mail. Ended with QUIT when the period is over or the object goes.
class CMailSession {
public:
    CMailSession() = default;
    ~CMailSession();
    CMailSession(const CMailSession&) = delete;
    CMailSession& operator=(const CMailSession&) = delete;

    // The open client when it was opened under key and the server agreed to
    // RSET, else null (and the session is closed).
    NVKTL::CSmtpClient* reuse(const CString& key);
    // Keeps client, just used successfully under key, for the next mail.
    void keep(std::unique_ptr<NVKTL::CSmtpClient> client, const CString& key);
    // QUIT and close, when open.
    void end();
    // Close without QUIT: after a failed mail the session is in no known state.
    void drop();

    bool isOpen() const { return m_client != nullptr; }

private:
    std::unique_ptr<NVKTL::CSmtpClient> m_client;
    CString m_key;
};
