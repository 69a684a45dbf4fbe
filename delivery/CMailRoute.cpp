#include "delivery/CMailRoute.h"

#include "delivery/CMailSession.h"
#include "delivery/CMxResolver.h"
#include "nvktl/CSmtpClient.h"

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct RouteTargets {
    CString nameServer;
    int nameServerPort = 0;
    int mxPort = CMailRoute::DefaultMxPort;
};

std::mutex targetsLock;
RouteTargets targets;

RouteTargets currentTargets() {
    std::lock_guard<std::mutex> guard(targetsLock);
    return targets;
}

// The text after the first "@", empty when there is none.
CString afterAt(const CString& address) {
    std::size_t at = address.str().find('@');
    return at == std::string::npos ? CString() : CString(address.str().substr(at + 1));
}

// The parts joined by a character none of them can hold unnoticed.
CString sessionKey(std::initializer_list<CString> parts) {
    std::string key;
    for (const CString& part : parts) {
        key += std::to_string(part.str().size());
        key += ':';
        key += part.str();
    }
    return CString(key);
}

bool isPort(int port) {
    return port > 0 && port <= 65535;
}

// The exchanger to try next: among those whose preference lies strictly
// between the last preference tried and 10000, the first one of the lowest
// preference (0 is the most preferred). Null when there is none.
const CMailExchanger* nextExchanger(const std::vector<CMailExchanger>& exchangers, int lastTried) {
    const CMailExchanger* chosen = nullptr;
    int best = 10000;
    for (const CMailExchanger& exchanger : exchangers) {
        if (exchanger.preference > lastTried && exchanger.preference < best) {
            chosen = &exchanger;
            best = exchanger.preference;
        }
    }
    return chosen;
}

} // namespace

void CMailRoute::setNameServer(const CString& address, int port) {
    std::lock_guard<std::mutex> guard(targetsLock);
    targets.nameServer = address;
    targets.nameServerPort = port;
}

void CMailRoute::setMxPort(int port) {
    std::lock_guard<std::mutex> guard(targetsLock);
    targets.mxPort = port;
}

void CMailRoute::resetDefaults() {
    std::lock_guard<std::mutex> guard(targetsLock);
    targets = RouteTargets();
}

int CMailRoute::deliverMail(const CMapStringToString& settings, const CString& message,
                            int* replyCode, unsigned timeoutMs) {
    return static_cast<int>(deliver(settings, message, nullptr, replyCode, timeoutMs));
}

int CMailRoute::deliverMail(const CMapStringToString& settings, const CString& message,
                            CMailSession& session, int* replyCode, unsigned timeoutMs) {
    return static_cast<int>(deliver(settings, message, &session, replyCode, timeoutMs));
}

NVKTL::SmtpResult CMailRoute::deliver(const CMapStringToString& settings, const CString& message,
                                      CMailSession* session, int* replyCode, unsigned timeoutMs) {
    using NVKTL::SmtpResult;
    int unused = 0;
    int& reply = replyCode ? *replyCode : unused;
    reply = 0;
    const CString mailAddress = settings.Value("mail_address");
    const CString serverAddress = settings.Value("mail_server_ip");
    const CString serverPort = settings.Value("mail_server_port");
    const CString account = settings.Value("mail_acount");
    const CString password = settings.Value("mail_password");
    const CString recipient = settings.Value("recv_mail");

    // The announced name comes from the sender's address, so a line break there
    // would smuggle a command into "EHLO"; neither address reaches the wire.
    if (mailAddress.HasControlCharacter())
        return SmtpResult::BadSender;
    if (recipient.HasControlCharacter())
        return SmtpResult::BadRecipient;

    const bool viaServer = !serverAddress.IsEmpty() && !serverPort.IsEmpty();
    const CString security = viaServer ? settings.Value("mail_security") : CString();
    // Everything that shapes a session; the exchanger route's sessions are
    // the recipient domain's.
    const CString key =
        sessionKey({viaServer ? serverAddress : "mx " + afterAt(recipient),
                    viaServer ? serverPort : CString(), security, account, password, mailAddress});

    if (session != nullptr) {
        if (NVKTL::CSmtpClient* open = session->reuse(key)) {
            open->SetFrom(mailAddress);
            open->AddTo(recipient);
            const SmtpResult sent = open->Transfer(message);
            reply = open->GetLastReplyCode();
            if (sent != SmtpResult::Ok)
                session->drop();
            return sent;
        }
    }

    // One session with target; kept for the next mail when it carried this one.
    auto attempt = [&](const CString& target, int port) {
        auto client = std::make_unique<NVKTL::CSmtpClient>(afterAt(mailAddress));
        client->SetTimeout(timeoutMs);
        client->SetFrom(mailAddress);
        client->AddTo(recipient);
        if (!account.IsEmpty() && !password.IsEmpty())
            client->SetAuth(account, password);
        client->SetSecurity(NVKTL::CSmtpClient::SecurityFromText(security));
        SmtpResult sent = SmtpResult::Ok;
        if (session == nullptr) {
            sent = client->SendMail(target, port, message);
        } else if ((sent = client->Open(target, port)) == SmtpResult::Ok &&
                   (sent = client->Transfer(message)) == SmtpResult::Ok) {
            reply = client->GetLastReplyCode();
            session->keep(std::move(client), key);
            return SmtpResult::Ok;
        }
        reply = client->GetLastReplyCode();
        return sent;
    };

    if (viaServer) {
        // A port outside 1-65535 would be cut down to some other port.
        const int port = NVKTL::LeadingNumber(serverPort.str());
        if (!isPort(port))
            return SmtpResult::NoConnection;
        return attempt(serverAddress, port);
    }

    const RouteTargets route = currentTargets();
    const CMxResolver resolver = route.nameServer.IsEmpty()
                                     ? CMxResolver()
                                     : CMxResolver(route.nameServer, route.nameServerPort);
    const CString domain = afterAt(recipient);
    // An address whose domain cannot even be asked for is wrong for good.
    if (!CMxResolver::isQueryableName(domain))
        return SmtpResult::BadRecipient;
    CMxResolver::Status status = CMxResolver::Status::Unanswered;
    const std::vector<CMailExchanger> exchangers = resolver.lookupMx(domain, &status);
    if (status == CMxResolver::Status::NoSuchDomain)
        return SmtpResult::NoMailDomain;

    SmtpResult result = SmtpResult::NoConnection;
    int lastTried = -1;
    // Each failed attempt raises lastTried, so the passes come to an end.
    while (const CMailExchanger* exchanger = nextExchanger(exchangers, lastTried)) {
        // A "null MX" (the root as exchanger) says that the domain takes no mail.
        if (exchanger->host.IsEmpty()) {
            if (lastTried < 0)
                result = SmtpResult::NoMailDomain;
            break;
        }
        CString target = exchanger->address;
        if (target.IsEmpty())
            target = resolver.lookupAddress(exchanger->host);
        if (target.IsEmpty())
            target = exchanger->host; // the client resolves it by name
        result = attempt(target, route.mxPort);
        if (result == SmtpResult::Ok)
            break;
        lastTried = exchanger->preference;
    }
    return result;
}
