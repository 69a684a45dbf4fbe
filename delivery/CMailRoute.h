#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/SmtpResult.h"

class CMailSession;

// The bounds of one delivery attempt.
struct CMailRouteLimits {
    // Every wait on a peer (name lookups, connects, replies).
    unsigned replyMs = NVKTL::CSocket::DefaultTimeout;
    // The reply to the end of the message (never less than replyMs).
    unsigned finalReplyMs = NVKTL::CSmtpClient::DefaultFinalReplyTimeout;
    // An event whose signal ends every wait at once (-1: none).
    int abortHandle = -1;
};

// Gets one finished message to one recipient: through the configured SMTP
// server when "mail_server_ip" and "mail_server_port" are both set, otherwise
// straight to the mail exchangers of the recipient's domain. Runs on the send
// thread (and for the mail settings screen's test send); one call is one
// delivery attempt.
//
// The exchanger route follows RFC 5321: the domain's MX records, every
// exchanger of the best remaining preference (in random order among equals)
// before the next, or the domain itself when it has addresses but no MX; each
// session encrypted with STARTTLS when the exchanger offers it (without
// checking its certificate, as mail servers do), never authenticated.
class CMailRoute {
public:
    static constexpr int DefaultMxPort = 25;

    using Limits = CMailRouteLimits;

    // The settings ("mail_address", "mail_server_ip", "mail_server_port",
    // "mail_security", "mail_acount", "mail_password"; the security and the
    // account apply to the configured server only) and the recipient
    // ("recv_mail"); a missing key is an empty text. Returns the SmtpResult
    // of the last attempt as the code the send thread stores (NoConnection
    // also when no exchanger could be found or a name server did not answer,
    // NoMailDomain when the domain does not exist or takes no mail,
    // BadRecipient when the address has no domain to ask for).
    // replyCode (when given) receives the last SMTP reply code of the last
    // attempt, 0 when no reply was read.
    static int deliverMail(const CMapStringToString& settings, const CString& message,
                           int* replyCode = nullptr, const Limits& limits = {});
    // The same through session: a mail that would open the session it holds
    // goes through it after RSET, and a session that carried its mail is kept
    // there for the next one.
    static int deliverMail(const CMapStringToString& settings, const CString& message,
                           CMailSession& session, int* replyCode, const Limits& limits = {});

    // Where the exchanger route looks and connects; process-wide, so that tests
    // can point it at loopback peers. An empty name server means the system's;
    // it serves the configured server's name too.
    static void setNameServer(const CString& address, int port);
    static void setMxPort(int port);
    // Back to the system's name servers and port 25.
    static void resetDefaults();

private:
    static NVKTL::SmtpResult deliver(const CMapStringToString& settings, const CString& message,
                                     CMailSession* session, int* replyCode, const Limits& limits);
};
