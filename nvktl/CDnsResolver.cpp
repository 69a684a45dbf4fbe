#include "nvktl/CDnsResolver.h"

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>

namespace NVKTL {

namespace {

// The first wait for an answer and the tries per name server: a dead name
// server costs a few seconds; the lookup's deadline bounds the rest.
constexpr int kFirstWaitMs = 1500;
constexpr int kTries = 2;

std::mutex serverLock;
std::string serverAddress; // numeric, empty for the system's
int serverPort = 0;

std::string configuredServer() {
    std::lock_guard<std::mutex> guard(serverLock);
    if (serverAddress.empty())
        return std::string();
    const bool v6 = serverAddress.find(':') != std::string::npos;
    return (v6 ? "[" + serverAddress + "]" : serverAddress) + ":" + std::to_string(serverPort);
}

// A channel of c-ares for one lookup, destroyed with it (which also ends any
// query still running).
class Channel {
public:
    Channel() {
        static std::once_flag library;
        std::call_once(library, [] { ares_library_init(ARES_LIB_INIT_ALL); });
        ares_options options{};
        options.timeout = kFirstWaitMs;
        options.tries = kTries;
        m_ok = ares_init_options(&m_channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES) ==
               ARES_SUCCESS;
        const std::string server = configuredServer();
        if (m_ok && !server.empty())
            m_ok = ares_set_servers_ports_csv(m_channel, server.c_str()) == ARES_SUCCESS;
    }
    ~Channel() {
        if (m_channel != nullptr)
            ares_destroy(m_channel);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool ok() const { return m_ok; }
    ares_channel get() const { return m_channel; }

    // Serves the channel's sockets until done is set, the deadline passes or
    // the abort event comes; then whatever still runs is cancelled (its
    // callback sees ARES_ECANCELLED).
    void drive(const bool& done, WaitClock::time_point deadline, int abortHandle) {
        while (!done) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - WaitClock::now());
            if (left.count() <= 0 || IsSignalled(abortHandle))
                break;
            ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
            const int bits = ares_getsock(m_channel, sockets, ARES_GETSOCK_MAXNUM);
            std::vector<pollfd> fds;
            for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
                short events = 0;
                if (ARES_GETSOCK_READABLE(bits, i))
                    events |= POLLIN;
                if (ARES_GETSOCK_WRITABLE(bits, i))
                    events |= POLLOUT;
                if (events != 0)
                    fds.push_back({sockets[i], events, 0});
            }
            if (abortHandle >= 0)
                fds.push_back({abortHandle, POLLIN, 0});
            timeval most{static_cast<time_t>(left.count() / 1000),
                         static_cast<suseconds_t>(left.count() % 1000 * 1000)};
            timeval wait{};
            ares_timeout(m_channel, &most, &wait);
            const long long waitMs = wait.tv_sec * 1000LL + (wait.tv_usec + 999) / 1000;
            const int n = ::poll(fds.data(), fds.size(),
                                 static_cast<int>(std::clamp<long long>(waitMs, 0, INT_MAX)));
            if (n <= 0) {
                ares_process_fd(m_channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD); // time-outs
                continue;
            }
            for (const pollfd& p : fds) {
                if (p.fd == abortHandle || p.revents == 0)
                    continue;
                const bool readable = (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
                ares_process_fd(m_channel, readable ? p.fd : ARES_SOCKET_BAD,
                                (p.revents & POLLOUT) ? p.fd : ARES_SOCKET_BAD);
            }
        }
        if (!done)
            ares_cancel(m_channel);
    }

private:
    ares_channel m_channel = nullptr;
    bool m_ok = false;
};

CDnsResolver::Status statusOf(int code) {
    switch (code) {
    case ARES_SUCCESS:
    case ARES_ENODATA:
        return CDnsResolver::Status::Answered;
    case ARES_ENOTFOUND:
        return CDnsResolver::Status::NoSuchDomain;
    default:
        return CDnsResolver::Status::Unanswered;
    }
}

struct MxAnswer {
    bool done = false;
    int code = ARES_ECANCELLED;
    std::vector<CMailExchanger> exchangers;
};

void onMxAnswer(void* arg, int code, int, unsigned char* answer, int length) {
    auto* result = static_cast<MxAnswer*>(arg);
    result->done = true;
    result->code = code;
    ares_mx_reply* records = nullptr;
    if (code != ARES_SUCCESS || ares_parse_mx_reply(answer, length, &records) != ARES_SUCCESS)
        return;
    for (const ares_mx_reply* record = records; record != nullptr; record = record->next) {
        const std::string host = record->host ? record->host : "";
        result->exchangers.push_back({record->priority, host == "." ? CString() : CString(host)});
    }
    ares_free_data(records);
}

struct AddressAnswer {
    bool done = false;
    int code = ARES_ECANCELLED;
    std::vector<CString> addresses;
};

void onAddresses(void* arg, int code, int, ares_addrinfo* found) {
    auto* result = static_cast<AddressAnswer*>(arg);
    result->done = true;
    result->code = code;
    if (found == nullptr)
        return;
    for (const ares_addrinfo_node* node = found->nodes; node != nullptr; node = node->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* address =
            node->ai_family == AF_INET6
                ? static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in6*>(node->ai_addr)->sin6_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in*>(node->ai_addr)->sin_addr);
        if ((node->ai_family == AF_INET || node->ai_family == AF_INET6) &&
            ::inet_ntop(node->ai_family, address, text, sizeof text) != nullptr)
            result->addresses.push_back(CString(text));
    }
    ares_freeaddrinfo(found);
}

} // namespace

CDnsResolver::CDnsResolver(WaitClock::time_point deadline, int abortHandle)
    : m_deadline(deadline), m_abortHandle(abortHandle) {}

bool CDnsResolver::isQueryableName(const CString& name) {
    if (name.IsEmpty() || name.GetLength() > 253)
        return false;
    for (unsigned char c : name.str()) {
        if (c == ' ' || CString::IsControlCharacter(c))
            return false;
    }
    return true;
}

void CDnsResolver::setNameServer(const CString& address, int port) {
    std::lock_guard<std::mutex> guard(serverLock);
    serverAddress = address.str();
    serverPort = port;
}

std::vector<CMailExchanger> CDnsResolver::lookupMx(const CString& domain, Status& status) const {
    MxAnswer answer;
    status = run(domain, answer, [&](ares_channel channel) {
        ares_query(channel, domain.c_str(), ns_c_in, ns_t_mx, onMxAnswer, &answer);
    });
    return answer.exchangers;
}

std::vector<CString> CDnsResolver::lookupAddresses(const CString& host, Status& status) const {
    AddressAnswer answer;
    status = run(host, answer, [&](ares_channel channel) {
        ares_addrinfo_hints hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        ares_getaddrinfo(channel, host.c_str(), nullptr, &hints, onAddresses, &answer);
    });
    return answer.addresses;
}

template <class Answer, class Ask>
CDnsResolver::Status CDnsResolver::run(const CString& name, Answer& answer, Ask ask) const {
    if (!isQueryableName(name))
        return Status::Unanswered;
    {
        // The channel goes before the answer is read: nothing writes to it then.
        Channel channel;
        if (!channel.ok())
            return Status::Unanswered;
        ask(channel.get());
        channel.drive(answer.done, m_deadline, m_abortHandle);
    }
    return statusOf(answer.code);
}

} // namespace NVKTL
