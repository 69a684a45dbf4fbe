#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CSocket.h"
#include "nvktl/SmtpResult.h"

class CMailSession;

// Gets one finished message to one recipient: through the configured SMTP
// server when "mail_server_ip" and "mail_server_port" are both set, otherwise
// straight to the mail exchangers of the recipient's domain, best preference
// first. Runs on the send thread; one call is one delivery attempt.
class CMailRoute {
public:
    static constexpr int DefaultMxPort = 25;

    // The settings ("mail_address", "mail_server_ip", "mail_server_port",
    // "mail_security", "mail_acount", "mail_password"; the security applies to
    // the configured server) and the recipient ("recv_mail"); a
    // missing key is an empty text. Returns the SmtpResult of the last attempt
    // as the code the send thread stores (NoConnection also when no exchanger
    // could be found, NoMailDomain when the domain does not exist or takes no
    // mail, BadRecipient when the address has no domain to ask for).
    // replyCode (when given) receives the last SMTP reply code of the last
    // attempt, 0 when no reply was read. Each wait on a server is bounded by
    // timeoutMs.
    static int deliverMail(const CMapStringToString& settings, const CString& message,
                           int* replyCode = nullptr,
                           unsigned timeoutMs = NVKTL::CSocket::DefaultTimeout);
    // The same through session: a mail that would open the session it holds
    // goes through it after RSET, and a session that carried its mail is kept
    // there for the next one.
    static int deliverMail(const CMapStringToString& settings, const CString& message,
                           CMailSession& session, int* replyCode,
                           unsigned timeoutMs = NVKTL::CSocket::DefaultTimeout);

    // Where the exchanger route looks and connects; process-wide, so that tests
    // can point it at loopback peers. An empty name server means the system's.
    static void setNameServer(const CString& address, int port);
    static void setMxPort(int port);
    // Back to the system's name servers and port 25.
    static void resetDefaults();

private:
    static NVKTL::SmtpResult deliver(const CMapStringToString& settings, const CString& message,
                                     CMailSession* session, int* replyCode, unsigned timeoutMs);
};
