#include "delivery/CMxResolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

// Seconds per try and tries per name server: a dead name server costs at most a
// few seconds, which the send thread can afford once per mail.
constexpr int kRetransSeconds = 2;
constexpr int kTries = 2;

// The largest DNS message there is; a shorter buffer would cut long answers.
constexpr std::size_t kAnswerSize = 65536;

CString dottedAddress(const unsigned char* rdata) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, rdata, text, sizeof text))
        return CString();
    return CString(text);
}

bool sameName(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

} // namespace

CMxResolver::CMxResolver(const CString& nameServer, int port)
    : m_nameServer(nameServer), m_port(port) {}

bool CMxResolver::isQueryableName(const CString& name) {
    if (name.IsEmpty() || name.GetLength() > 253)
        return false;
    for (unsigned char c : name.str()) {
        if (c == ' ' || CString::IsControlCharacter(c))
            return false;
    }
    return true;
}

std::vector<unsigned char> CMxResolver::query(const CString& name, int type, Status& status) const {
    status = Status::Unanswered;
    if (!isQueryableName(name))
        return {};

    struct __res_state state;
    std::memset(&state, 0, sizeof state);
    if (res_ninit(&state) != 0) {
        res_nclose(&state);
        return {};
    }
    if (!m_nameServer.IsEmpty()) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<uint16_t>(m_port));
        if (inet_pton(AF_INET, m_nameServer.c_str(), &server.sin_addr) != 1 || m_port <= 0 ||
            m_port > 65535) {
            res_nclose(&state);
            return {};
        }
        // res_ninit gave this state its own copies of the IPv6 servers of
        // resolv.conf; they would outrank ours, and with fewer servers counted
        // res_nclose would no longer free them.
        for (auto& address : state._u._ext.nsaddrs) {
            std::free(address);
            address = nullptr;
        }
        state.nscount = 1;
        state.nsaddr_list[0] = server;
    }
    state.retrans = kRetransSeconds;
    state.retry = kTries;

    std::vector<unsigned char> answer(kAnswerSize);
    int length = res_nquery(&state, name.c_str(), ns_c_in, type, answer.data(),
                            static_cast<int>(answer.size()));
    const int failure = state.res_h_errno;
    res_nclose(&state);
    if (length <= 0) {
        // NXDOMAIN; an empty answer (NO_DATA) is an answer too.
        if (failure == HOST_NOT_FOUND)
            status = Status::NoSuchDomain;
        else if (failure == NO_DATA)
            status = Status::Answered;
        return {};
    }
    status = Status::Answered;
    answer.resize(std::min<std::size_t>(static_cast<std::size_t>(length), answer.size()));
    return answer;
}

std::vector<CMailExchanger> CMxResolver::lookupMx(const CString& domain, Status* status) const {
    std::vector<CMailExchanger> exchangers;
    Status learnt = Status::Unanswered;
    std::vector<unsigned char> answer = query(domain, ns_t_mx, learnt);
    if (status != nullptr)
        *status = learnt;
    ns_msg message;
    if (answer.empty() ||
        ns_initparse(answer.data(), static_cast<int>(answer.size()), &message) < 0)
        return exchangers;

    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, i, &record) < 0)
            break;
        if (ns_rr_type(record) != ns_t_mx || ns_rr_class(record) != ns_c_in ||
            ns_rr_rdlen(record) < 3)
            continue;
        const unsigned char* rdata = ns_rr_rdata(record);
        char host[NS_MAXDNAME];
        if (dn_expand(ns_msg_base(message), ns_msg_end(message), rdata + 2, host, sizeof host) < 0)
            continue;
        CMailExchanger exchanger;
        exchanger.preference = ns_get16(rdata);
        exchanger.host = std::strcmp(host, ".") == 0 ? CString() : CString(host);
        exchangers.push_back(exchanger);
    }

    // Name servers usually add the exchangers' addresses, which saves a query.
    for (int i = 0; i < ns_msg_count(message, ns_s_ar); ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_ar, i, &record) < 0)
            break;
        if (ns_rr_type(record) != ns_t_a || ns_rr_class(record) != ns_c_in ||
            ns_rr_rdlen(record) != 4)
            continue;
        for (CMailExchanger& exchanger : exchangers) {
            if (exchanger.address.IsEmpty() && !exchanger.host.IsEmpty() &&
                sameName(exchanger.host.c_str(), ns_rr_name(record)))
                exchanger.address = dottedAddress(ns_rr_rdata(record));
        }
    }
    return exchangers;
}

CString CMxResolver::lookupAddress(const CString& host) const {
    Status unused = Status::Unanswered;
    std::vector<unsigned char> answer = query(host, ns_t_a, unused);
    ns_msg message;
    if (answer.empty() ||
        ns_initparse(answer.data(), static_cast<int>(answer.size()), &message) < 0)
        return CString();
    // Aliases come first in the answer; the first address record is the host's.
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, i, &record) < 0)
            break;
        if (ns_rr_type(record) == ns_t_a && ns_rr_class(record) == ns_c_in &&
            ns_rr_rdlen(record) == 4)
            return dottedAddress(ns_rr_rdata(record));
    }
    return CString();
}
