#pragma once

#include "nvktl/CSocket.h"
#include "nvktl/CString.h"
#include "nvktl/CStringList.h"
#include "nvktl/SmtpResult.h"

namespace NVKTL {

// Delivers one finished message to one SMTP server in one session: greeting,
// EHLO (HELO as fallback), STARTTLS and EHLO again when asked for, AUTH when
// offered and credentials are set, MAIL FROM, RCPT TO, DATA, QUIT. Every step
// has its own SmtpResult (texts from GetErrorMessage). Every wait is bounded by
// the socket's time-out (SetTimeout): a connect that runs out gives
// NoConnection, a reply that does not complete in time NoReply, a TLS
// handshake that does not end in time TlsTimedOut. The reply to the end of
// the message alone is awaited as long as a server may take to accept a
// message (SetFinalReplyTimeout; ten minutes by default): a server that
// answers late has the mail, and a sender that gave up would send it twice.
// The abort event (SetAbortHandle) ends every wait at once, except that one
// reply, which it cuts to kAbortGraceMs.
//
// Once the server has answered the end of the message with 250 the mail is
// delivered: QUIT is still sent, but its answer no longer matters.
class CSmtpClient : public CSocket {
public:
    enum class Security {
        None,     // plain TCP
        StartTls, // EHLO, STARTTLS, EHLO again inside TLS before anything else
        Tls,      // TLS from the first byte (port 465)
        // STARTTLS when the server offers it, without checking its
        // certificate, as mail exchangers talk to each other; plain when
        // STARTTLS is not offered or refused, and over a fresh connection
        // when the handshake fails.
        Opportunistic,
    };

    // A reply that grows past this many bytes without its last line ends the
    // session with NoReply.
    static constexpr int MaxReplyLength = 64 * 1024;
    // How long the reply to the end of the message is awaited by default.
    static constexpr unsigned DefaultFinalReplyTimeout = 10 * 60 * 1000;
    // How much longer that reply is awaited once the abort event comes.
    static constexpr unsigned kAbortGraceMs = 5000;

    // heloName is the name announced in "EHLO " and "HELO ".
    explicit CSmtpClient(const CString& heloName);
    ~CSmtpClient() override = default;

    // Envelope addresses are stored in angle brackets: the part from the first
    // "<" to the ">" after it, or the whole address wrapped in them.
    void SetFrom(const CString& address);
    void AddTo(const CString& address);
    void ClearRecipients();
    // Authentication is tried only when both are non-empty.
    void SetAuth(const CString& account, const CString& password);
    void SetSecurity(Security mode) { security = mode; }
    void SetFinalReplyTimeout(unsigned ms) { finalReplyTimeout = ms; }
    // The settings text ("", "starttls", "tls"): anything else is None.
    static Security SecurityFromText(const CString& text);

    // Runs one session with server (a numeric address or a host name, also
    // the name its certificate must carry) on
    // port and sends message (lines ended by CR LF, a line that begins with
    // "." already doubled) followed by the end-of-data mark. The connection
    // stays open; Close() ends it.
    SmtpResult SendMail(const CString& server, int port, const CString& message);

    // The steps of SendMail, for a session that carries several messages:
    // Open (connect, greeting, EHLO, TLS, AUTH), then for each message
    // Transfer (MAIL FROM, RCPT TO, DATA) with Reset (RSET) between two, and
    // Quit at the end. Each returns the result SendMail would.
    SmtpResult Open(const CString& server, int port);
    SmtpResult Transfer(const CString& message);
    SmtpResult Reset();
    void Quit();

    // The text for a result; for a stored code, empty when it is no result.
    static CString GetErrorMessage(SmtpResult result);
    static CString GetErrorMessage(int storedCode);

    // The three-digit code of the last complete reply of the last session (0
    // when none was read), so that a caller can tell a passing refusal (4xx)
    // from a lasting one (5xx).
    int GetLastReplyCode() const { return lastReplyCode; }

protected:
    // Sends command in one write: SendFailed when that fails, else ReadReply's
    // result.
    SmtpResult SendCommand(const CString& command, CString& reply);
    // Reads one complete reply, with all its lines: Ok, or NoReply when the
    // peer closes, the read fails, the time-out (timeoutMs, else the
    // socket's) passes or the reply grows too long.
    SmtpResult ReadReply(CString& reply, unsigned timeoutMs = 0);

private:
    SmtpResult connect(const CString& server, int port);
    SmtpResult greet(CString& reply);
    SmtpResult startTls(const CString& server, CTlsChannel::Check check);
    // STARTTLS as security asks; reply holds the EHLO reply before and the
    // one inside TLS after.
    SmtpResult encrypt(const CString& server, int port, CString& reply);
    SmtpResult authenticate(const CString& mechanisms);
    SmtpResult authenticateCramMd5();
    SmtpResult authenticateLogin();
    SmtpResult authenticatePlain();

    CString heloName;
    CString sender;
    CStringList recipients;
    CString account;
    CString password;
    Security security = Security::None;
    unsigned finalReplyTimeout = DefaultFinalReplyTimeout;
    int lastReplyCode = 0;
};

} // namespace NVKTL
