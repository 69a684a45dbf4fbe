#pragma once

#include "nvktl/CString.h"
#include "nvktl/WaitReady.h"

#include <vector>

namespace NVKTL {

// One mail exchanger of a domain as the name server listed it.
struct CMailExchanger {
    int preference = 0; // 0-65535, the lower the better
    CString host;       // without the final dot; empty for the root (a "null MX")
};

// Asks name servers through c-ares, over UDP and, for a truncated answer, TCP.
// Every lookup ends by its deadline whatever the name server does (a silent
// server, a TCP side that never answers), or at once when the abort event is
// signalled; a lookup that did not end with an answer is Unanswered. Each
// lookup uses a channel of its own, so lookups never share state between
// threads.
class CDnsResolver {
public:
    // What a lookup learnt besides its records.
    enum class Status {
        Answered,     // the name server answered (possibly with no record)
        NoSuchDomain, // the name server says the name does not exist
        Unanswered,   // no answer in time, a failure answer, or a name that cannot be asked
    };

    CDnsResolver(WaitClock::time_point deadline, int abortHandle = -1);

    // The exchangers in the order of the answer.
    std::vector<CMailExchanger> lookupMx(const CString& domain, Status& status) const;
    // The host's IPv6 and IPv4 addresses in numeric form, in the order to try
    // them (the local hosts file first, as the C library does).
    std::vector<CString> lookupAddresses(const CString& host, Status& status) const;

    // A name that may be put in a query: not empty, at most 253 characters,
    // no white space or control characters.
    static bool isQueryableName(const CString& name);

    // The name server of every lookup from now on, for the whole process: a
    // numeric address and its port (tests). An empty address: the system's
    // (/etc/resolv.conf).
    static void setNameServer(const CString& address, int port);

private:
    // Asks (ask starts the query on a fresh channel) and waits for answer
    // until its deadline or abort.
    template <class Answer, class Ask>
    Status run(const CString& name, Answer& answer, Ask ask) const;

    WaitClock::time_point m_deadline;
    int m_abortHandle;
};

} // namespace NVKTL
