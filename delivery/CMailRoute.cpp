#include "delivery/CMailRoute.h"

#include "delivery/CMailSession.h"
#include "nvktl/CDnsResolver.h"
#include "nvktl/CSmtpClient.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

using NVKTL::CDnsResolver;
using NVKTL::CMailExchanger;

// A name server that has not answered within this long is given up, whatever
// the reply bound is.
constexpr unsigned kLookupMs = 10000;

struct RouteTargets {
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

// The exchangers in the order to try them: by preference, the best (lowest)
// first, in random order among equal preferences, so that their load is
// shared (RFC 5321 5.1). A "null MX" (the root as exchanger) is left out.
std::vector<CMailExchanger> triedInOrder(std::vector<CMailExchanger> exchangers) {
    static thread_local std::mt19937 shuffle{std::random_device{}()};
    std::erase_if(exchangers, [](const CMailExchanger& e) { return e.host.IsEmpty(); });
    std::shuffle(exchangers.begin(), exchangers.end(), shuffle);
    std::stable_sort(exchangers.begin(), exchangers.end(),
                     [](const CMailExchanger& a, const CMailExchanger& b) {
                         return a.preference < b.preference;
                     });
    return exchangers;
}

} // namespace

void CMailRoute::setNameServer(const CString& address, int port) {
    CDnsResolver::setNameServer(address, port);
}

void CMailRoute::setMxPort(int port) {
    std::lock_guard<std::mutex> guard(targetsLock);
    targets.mxPort = port;
}

void CMailRoute::resetDefaults() {
    CDnsResolver::setNameServer(CString(), 0);
    std::lock_guard<std::mutex> guard(targetsLock);
    targets = RouteTargets();
}

int CMailRoute::deliverMail(const CMapStringToString& settings, const CString& message,
                            int* replyCode, const Limits& limits) {
    return static_cast<int>(deliver(settings, message, nullptr, replyCode, limits));
}

int CMailRoute::deliverMail(const CMapStringToString& settings, const CString& message,
                            CMailSession& session, int* replyCode, const Limits& limits) {
    return static_cast<int>(deliver(settings, message, &session, replyCode, limits));
}

NVKTL::SmtpResult CMailRoute::deliver(const CMapStringToString& settings, const CString& message,
                                      CMailSession* session, int* replyCode, const Limits& limits) {
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
    // The account is the configured server's: a recipient's exchanger never
    // sees it.
    const bool authenticated = viaServer && !account.IsEmpty() && !password.IsEmpty();
    // Everything that shapes a session; the exchanger route's sessions are
    // the recipient domain's.
    const CString key = sessionKey({viaServer ? serverAddress : "mx " + afterAt(recipient),
                                    viaServer ? serverPort : CString(), security,
                                    authenticated ? account : CString(),
                                    authenticated ? password : CString(), mailAddress});

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
        client->SetTimeout(limits.replyMs);
        client->SetFinalReplyTimeout(limits.finalReplyMs);
        client->SetAbortHandle(limits.abortHandle);
        client->SetFrom(mailAddress);
        client->AddTo(recipient);
        if (authenticated)
            client->SetAuth(account, password);
        client->SetSecurity(viaServer ? NVKTL::CSmtpClient::SecurityFromText(security)
                                      : NVKTL::CSmtpClient::Security::Opportunistic);
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
    const CString domain = afterAt(recipient);
    // An address whose domain cannot even be asked for is wrong for good.
    if (!CDnsResolver::isQueryableName(domain))
        return SmtpResult::BadRecipient;
    const CDnsResolver resolver(NVKTL::WaitClock::now() +
                                    std::chrono::milliseconds(std::min(limits.replyMs, kLookupMs)),
                                limits.abortHandle);
    CDnsResolver::Status status = CDnsResolver::Status::Unanswered;
    const std::vector<CMailExchanger> listed = resolver.lookupMx(domain, status);
    if (status == CDnsResolver::Status::NoSuchDomain)
        return SmtpResult::NoMailDomain;
    if (status == CDnsResolver::Status::Unanswered)
        return SmtpResult::NoConnection; // the name server may answer later
    // A "null MX" says that the domain takes no mail (RFC 7505).
    if (!listed.empty() && std::all_of(listed.begin(), listed.end(),
                                       [](const CMailExchanger& e) { return e.host.IsEmpty(); }))
        return SmtpResult::NoMailDomain;

    std::vector<CMailExchanger> exchangers = triedInOrder(listed);
    if (listed.empty()) {
        // No MX: the domain itself is its exchanger, when it has an address.
        const std::vector<CString> addresses = resolver.lookupAddresses(domain, status);
        if (addresses.empty())
            return status == CDnsResolver::Status::Unanswered ? SmtpResult::NoConnection
                                                              : SmtpResult::NoMailDomain;
        exchangers.push_back({0, domain});
    }

    SmtpResult result = SmtpResult::NoConnection;
    for (const CMailExchanger& exchanger : exchangers) {
        // The client looks the exchanger's addresses up (IPv6 and IPv4) and
        // tries them in turn.
        result = attempt(exchanger.host, route.mxPort);
        if (result == SmtpResult::Ok || NVKTL::IsSignalled(limits.abortHandle))
            break;
    }
    return result;
}
