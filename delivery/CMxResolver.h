#pragma once

#include "nvktl/CMapStringToString.h"

#include <vector>

// One mail exchanger of a domain as the name server listed it.
struct CMailExchanger {
    int preference = 0;
    CString host;    // without the final dot; empty for the root (a "null MX")
    CString address; // dotted IPv4 address given with the answer, or empty
};

// Asks a name server for the mail exchangers of a domain through the C
// library's resolver. Every call sets up a resolver state of its own, so lookups
// never share state between threads, and every query gives up after a few
// seconds: a silent or missing name server is an empty answer, never a hang.
class CMxResolver {
public:
    // What a lookup learnt besides its records.
    enum class Status {
        Answered,     // the name server answered (possibly with no record)
        NoSuchDomain, // the name server says the name does not exist
        Unanswered,   // no answer, a failure answer, or a name that cannot be asked
    };

    // The system's name servers (/etc/resolv.conf).
    CMxResolver() = default;
    // One name server: an IPv4 address in dotted form and its port (tests).
    CMxResolver(const CString& nameServer, int port);

    // The exchangers in the order of the answer; empty when the domain has none,
    // does not exist, cannot be queried or the name server does not answer.
    // status (when given) tells a domain that does not exist from a name server
    // that did not answer.
    std::vector<CMailExchanger> lookupMx(const CString& domain, Status* status = nullptr) const;

    // The first IPv4 address of a host in dotted form, or empty.
    CString lookupAddress(const CString& host) const;

    // A name that may be put in a query: not empty, at most 253 characters,
    // no white space or control characters.
    static bool isQueryableName(const CString& name);

private:
    // The raw answer of one query, empty on any failure.
    std::vector<unsigned char> query(const CString& name, int type, Status& status) const;

    CString m_nameServer;
    int m_port = 0;
};
