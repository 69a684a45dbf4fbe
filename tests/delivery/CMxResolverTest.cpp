#include "delivery/CMxResolver.h"

#include "DnsTestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Exchanger {
    int preference;
    std::string host;
    std::string address;
    bool operator==(const Exchanger&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Exchanger& e) {
    return out << e.preference << " " << e.host << " (" << e.address << ")";
}

std::vector<Exchanger> plain(const std::vector<CMailExchanger>& exchangers) {
    std::vector<Exchanger> result;
    for (const CMailExchanger& e : exchangers)
        result.push_back({e.preference, e.host.str(), e.address.str()});
    return result;
}

class MxResolverTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ("", dns.start(dnsTestZone())); }

    CMxResolver resolver() const { return CMxResolver("127.0.0.1", dns.port()); }

    DnsTestServer dns;
};

TEST_F(MxResolverTest, ListsExchangersInAnswerOrderWithTheirAddresses) {
    const std::vector<Exchanger> expected = {
        {20, "b.poston.test", "127.0.0.3"}, {10, "a.poston.test", "127.0.0.2"},
        {30, "c.poston.test", "127.0.0.2"}, {10, "a2.poston.test", "127.0.0.2"},
        {0, "z.poston.test", "127.0.0.3"},
    };
    EXPECT_EQ(expected, plain(resolver().lookupMx("poston.test")));

    // The root as exchanger ("null MX") has an empty host name.
    EXPECT_EQ((std::vector<Exchanger>{{20, "b.nullmx.test", "127.0.0.2"}, {10, "", ""}}),
              plain(resolver().lookupMx("nullmx.test")));

    // Domain names are not case-sensitive; the answer is the same.
    std::vector<Exchanger> upper = plain(resolver().lookupMx("POSTON.Test"));
    ASSERT_EQ(expected.size(), upper.size());
    for (std::size_t i = 0; i < upper.size(); ++i)
        EXPECT_EQ(expected[i].preference, upper[i].preference);
}

TEST_F(MxResolverTest, ExchangerWithoutAddressRecordHasNoAddress) {
    EXPECT_EQ((std::vector<Exchanger>{{10, "lost.noaddr.test", ""}}),
              plain(resolver().lookupMx("noaddr.test")));
    EXPECT_EQ("", resolver().lookupAddress("lost.noaddr.test").str());
}

TEST_F(MxResolverTest, DomainsWithoutExchangersGiveAnEmptyListAndSayWhy) {
    using Status = CMxResolver::Status;
    const struct {
        const char* domain;
        Status status;
    } cases[] = {
        {"nomx.test", Status::Answered}, // has an address, no MX
        {"missing.test", Status::NoSuchDomain},
        {"", Status::Unanswered},
        {"poston.test\r\nx", Status::Unanswered},
    };
    for (const auto& c : cases) {
        Status status = Status::Answered;
        EXPECT_TRUE(resolver().lookupMx(c.domain, &status).empty()) << c.domain;
        EXPECT_EQ(c.status, status) << c.domain;
    }
    CMxResolver::Status found = CMxResolver::Status::Unanswered;
    EXPECT_FALSE(resolver().lookupMx("poston.test", &found).empty());
    EXPECT_EQ(CMxResolver::Status::Answered, found);
}

TEST_F(MxResolverTest, AddressLookupFollowsAliases) {
    EXPECT_EQ("127.0.0.2", resolver().lookupAddress("a.poston.test").str());
    EXPECT_EQ("127.0.0.3", resolver().lookupAddress("alias.poston.test").str());
    EXPECT_EQ("", resolver().lookupAddress("missing.poston.test").str());
}

TEST_F(MxResolverTest, ResolversOnSeveralThreadsDoNotDisturbEachOther) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const char* domain = t % 2 ? "retry.test" : "equal.test";
            const char* first = t % 2 ? "first.retry.test" : "first.equal.test";
            for (int i = 0; i < 25; ++i) {
                std::vector<CMailExchanger> found = resolver().lookupMx(domain);
                if (found.size() != 2 || found[0].host != first)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

TEST(MxResolverFailureTest, SilentOrMissingNameServerGivesNoExchangers) {
    // The query gives up after its bounded tries instead of waiting for ever.
    DnsSilentServer silent;
    ASSERT_NE(0, silent.port());
    CMxResolver::Status status = CMxResolver::Status::Answered;
    EXPECT_TRUE(CMxResolver("127.0.0.1", silent.port()).lookupMx("poston.test", &status).empty());
    EXPECT_EQ(CMxResolver::Status::Unanswered, status);

    // A port where nothing listens: refused at once.
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    EXPECT_TRUE(CMxResolver("127.0.0.1", ntohs(a.sin_port)).lookupMx("poston.test").empty());

    // A name server that is no IPv4 address is never asked.
    EXPECT_TRUE(CMxResolver("localhost", 53).lookupMx("poston.test").empty());
}

TEST(MxResolverNameTest, OnlyPlainNamesAreQueried) {
    EXPECT_TRUE(CMxResolver::isQueryableName("example.co.jp"));
    EXPECT_TRUE(CMxResolver::isQueryableName(CString(std::string(253, 'a'))));
    EXPECT_FALSE(CMxResolver::isQueryableName(CString(std::string(254, 'a'))));
    EXPECT_FALSE(CMxResolver::isQueryableName(""));
    EXPECT_FALSE(CMxResolver::isQueryableName("example.jp x"));
    EXPECT_FALSE(CMxResolver::isQueryableName("example.jp\r\n"));
    EXPECT_FALSE(CMxResolver::isQueryableName("exam\tple.jp"));
}

} // namespace
