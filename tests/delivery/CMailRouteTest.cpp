// The mail route against scripted SMTP peers on loopback addresses: the
// configured server, or the exchangers of the recipient's domain as a real
// name server (dnsmasq) gives them.
#include "delivery/CMailRoute.h"
#include "delivery/CMailSession.h"
#include "nvktl/CEvent.h"

#include "tests/support/TestDataFile.h"
#include "tools/dns-test-server/DnsTestServer.h"
#include "tools/smtp-test-peer/LoopbackPeer.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>

namespace {

using Commands = std::vector<std::string>;
using smtptest::Replies;
using smtptest::ScriptedSmtpPeer;

const CString kMessage = "From: a <poston@sender.example.jp>\r\nSubject: visit\r\n\r\n..\r\n";

Replies refusing() {
    Replies replies;
    replies.rcpt = "550 5.1.1 No such user\r\n";
    return replies;
}

CMapStringToString settingsFor(const std::string& recipient, const std::string& server = "",
                               const std::string& port = "") {
    return testsupport::textMap({{"mail_address", "poston@sender.example.jp"},
                                 {"recv_mail", recipient},
                                 {"mail_server_ip", server},
                                 {"mail_server_port", port}});
}

CMapStringToString configured(const std::string& recipient, const ScriptedSmtpPeer& peer) {
    return settingsFor(recipient, "127.0.0.1", std::to_string(peer.port()));
}

int deliver(const CMapStringToString& settings, CMailSession* open = nullptr,
            int* reply = nullptr) {
    return open ? CMailRoute::deliverMail(settings, kMessage, *open, reply)
                : CMailRoute::deliverMail(settings, kMessage, reply);
}

std::vector<Commands> commandsOf(const ScriptedSmtpPeer& peer) {
    std::vector<Commands> all;
    for (const auto& session : peer.sessions())
        all.push_back(session.commands);
    return all;
}

// The commands of a whole session: EHLO, each mail's, then ending.
Commands session(const std::vector<std::string>& recipients, const Commands& ending = {"QUIT"},
                 const std::string& from = "poston@sender.example.jp") {
    Commands commands{"EHLO sender.example.jp"};
    for (const std::string& to : recipients) {
        if (commands.size() > 1)
            commands.push_back("RSET");
        commands.insert(commands.end(),
                        {"MAIL FROM:<" + from + ">", "RCPT TO:<" + to + ">", "DATA"});
    }
    commands.insert(commands.end(), ending.begin(), ending.end());
    return commands;
}

class MailRouteTest : public ::testing::Test {
protected:
    void TearDown() override { CMailRoute::resetDefaults(); }
};

TEST_F(MailRouteTest, TheConfiguredServerGetsOneSessionAuthenticatedOnlyWithBothCredentials) {
    Replies replies;
    replies.ehlo = "250-peer.test\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n";
    ScriptedSmtpPeer server(replies);
    CMapStringToString settings = configured("v@retry.test", server);
    for (const auto& [account, password] :
         {std::pair{"poston", "secret"}, {"poston", ""}, {"", "secret"}}) {
        settings.SetAt("mail_acount", account);
        settings.SetAt("mail_password", password);
        EXPECT_EQ(0, deliver(settings));
    }
    Commands authenticated = session({"v@retry.test"});
    authenticated.insert(authenticated.begin() + 1, "AUTH PLAIN AHBvc3RvbgBzZWNyZXQ=");
    EXPECT_EQ(commandsOf(server),
              (std::vector{authenticated, session({"v@retry.test"}), session({"v@retry.test"})}));
    EXPECT_EQ(kMessage.str(), server.mails().at(0).message);
}

TEST_F(MailRouteTest, ASessionCarriesTheNextMailToTheSameServerAfterRset) {
    Replies refusingRset, dropping;
    refusingRset.rset = "502 5.5.2 Not here\r\n";
    dropping.closeAfterMessage = true;
    const std::string desk = "desk@sender.example.jp", poston = "poston@sender.example.jp";
    const struct {
        const char* what;
        Replies replies;
        std::string secondSender;
        std::vector<Commands> sessions;
    } cases[] = {
        {"RSET between", {}, poston, {session({"a@x.test", "b@x.test"})}},
        {"RSET refused",
         refusingRset,
         poston,
         {session({"a@x.test"}, {"RSET"}), session({"b@x.test"})}},
        {"dropped", dropping, poston, {session({"a@x.test"}, {}), session({"b@x.test"}, {})}},
        {"another sender",
         {},
         desk,
         {session({"a@x.test"}), session({"b@x.test"}, {"QUIT"}, desk)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSmtpPeer server(c.replies);
        CMailSession open;
        EXPECT_EQ(0, deliver(configured("a@x.test", server), &open));
        CMapStringToString next = configured("b@x.test", server);
        next.SetAt("mail_address", CString(c.secondSender));
        EXPECT_EQ(0, deliver(next, &open));
        open.end();
        EXPECT_EQ(c.sessions, commandsOf(server));
        EXPECT_EQ(2u, server.mails().size());
    }
    // A mail refused inside a session ends it; the next one starts again.
    ScriptedSmtpPeer refused(refusing()), accepting(Replies{});
    CMailSession open;
    int reply = 0;
    EXPECT_EQ(0, deliver(configured("a@x.test", accepting), &open));
    EXPECT_EQ(-15, deliver(configured("b@x.test", refused), &open, &reply));
    EXPECT_EQ(550, reply);
    EXPECT_FALSE(open.isOpen());
    EXPECT_EQ(0, deliver(configured("c@x.test", accepting), &open));
    open.end();
    EXPECT_EQ(2u, accepting.connections());
}

TEST_F(MailRouteTest, BadPortsAddressesWithLineBreaksAndAClosedServerNeverReachTheWire) {
    ScriptedSmtpPeer server(Replies{});
    const std::string port = std::to_string(server.port());
    // Leading blanks and trailing text are ignored, as atoi does.
    EXPECT_EQ(0, deliver(settingsFor("v@x.test", "127.0.0.1", " " + port + "x")));
    const struct {
        std::string recipient, port, sender;
        int code;
    } cases[] = {
        // 65536 more would reach the same port once cut to 16 bits.
        {"v@x.test", std::to_string(server.port() + 65536), "", -1},
        {"v@x.test", "0", "", -1},
        {"v@x.test", "smtp", "", -1},
        {"v@x.test", std::to_string(iotest::closedLoopbackPort()), "", -1},
        // EHLO announces the sender's domain: it would carry the command.
        {"v@x.test", port, "poston@sender.example.jp\r\nRCPT TO:<all@example.jp>", -14},
        {"v@x.test\r\nRCPT TO:<all@example.jp>", port, "", -15},
    };
    for (const auto& c : cases) {
        CMapStringToString settings = settingsFor(c.recipient, "127.0.0.1", c.port);
        if (!c.sender.empty())
            settings.SetAt("mail_address", CString(c.sender));
        EXPECT_EQ(c.code, deliver(settings)) << c.port << c.sender;
    }
    EXPECT_EQ(1u, server.connections());
}

// The zone as dnsmasq options ("domain host preference address"); dnsmasq
// answers with a domain's exchangers in the reverse of their order here.
// retry.test's second is a CNAME of b.poston.test; nullmx.test's root
// exchanger says it takes no mail; nomx.test has an address but no MX,
// empty.test neither.
std::vector<std::string> zone() {
    std::vector<std::string> options = {
        "--host-record=nomx.test,127.0.0.2",         "--txt-record=empty.test,nothing",
        "--mx-host=noaddr.test,lost.noaddr.test,10", "--mx-host=nullmx.test,.,10",
        "--mx-host=retry.test,second.retry.test,20", "--cname=second.retry.test,b.poston.test"};
    for (const char* e :
         {"poston b 20 3", "retry first 10 2", "order x65535 65535 4", "order x10 10 2",
          "order x10000 10000 3", "equal one 10 2", "equal two 10 3", "truncated t 10 2"}) {
        char domain[16], host[16], address[4];
        int preference = 0;
        std::sscanf(e, "%15s %15s %d %3s", domain, host, &preference, address);
        const std::string name = std::string(host) + "." + domain + ".test";
        options.push_back("--mx-host=" + std::string(domain) + ".test," + name + "," +
                          std::to_string(preference));
        options.push_back("--host-record=" + name + ",127.0.0." + address);
    }
    return options;
}

// The exchangers listen on 127.0.0.2, 127.0.0.3, ... on one common port.
class MailRouteExchangerTest : public MailRouteTest {
protected:
    void SetUp() override {
        ASSERT_EQ("", dns.start(zone()));
        CMailRoute::setNameServer("127.0.0.1", dns.port());
    }
    // One peer per replies, named by its address.
    void listen(const std::vector<Replies>& replies) {
        peers.clear();
        std::vector<std::string> addresses;
        for (std::size_t i = 0; i < replies.size(); ++i)
            addresses.push_back("127.0.0." + std::to_string(i + 2));
        const int port = smtptest::commonFreePort(addresses);
        for (std::size_t i = 0; i < replies.size(); ++i) {
            peers.push_back(std::make_unique<ScriptedSmtpPeer>(
                replies[i],
                smtptest::PeerOptions{addresses[i], port, {}, addresses[i].substr(7), &log}));
            ASSERT_NE(0, peers.back()->port())
                << "cannot listen on " << addresses[i] << ":" << port;
        }
        CMailRoute::setMxPort(port);
    }
    // The peers connected since the last call.
    Commands tried() {
        const auto names = log.names();
        Commands since(names.begin() + static_cast<long>(seen), names.end());
        seen = names.size();
        return since;
    }

    DnsTestServer dns;
    smtptest::ConnectionLog log;
    std::size_t seen = 0;
    std::vector<std::unique_ptr<ScriptedSmtpPeer>> peers;
};

TEST_F(MailRouteExchangerTest, ExchangersAreTriedByPreferenceUntilOneTakesTheMail) {
    Replies refusingData, offering;
    refusingData.data = "554 5.3.4 No data\r\n";
    offering.ehlo = "250-peer.test\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n";
    const struct {
        const char* recipient;
        std::vector<Replies> peers; // on .2, .3, .4
        int code;
        Commands tried;
    } cases[] = {
        {"v@retry.test", {refusing(), {}}, 0, {".2", ".3"}},
        {"v@RETRY.Test", {refusing(), {}}, 0, {".2", ".3"}}, // names are not case-sensitive
        // The answer lists 65535, 10, 10000; the last code is returned.
        {"v@order.test", {refusing(), refusing(), refusingData}, -16, {".2", ".3", ".4"}},
        {"v@nomx.test", {offering}, 0, {".2"}}, // the domain is its own exchanger
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recipient);
        ASSERT_NO_FATAL_FAILURE(listen(c.peers));
        // The configured server's account is never an exchanger's.
        CMapStringToString settings = settingsFor(c.recipient);
        settings.SetAt("mail_acount", "poston");
        settings.SetAt("mail_password", "secret");
        EXPECT_EQ(c.code, deliver(settings));
        EXPECT_EQ(c.tried, tried());
        std::size_t mails = 0;
        for (const auto& peer : peers)
            mails += peer->mails().size();
        EXPECT_EQ(c.code ? 0u : 1u, mails);
    }
    // STARTTLS is asked for when offered (refused here: the mail goes on in
    // the clear); no AUTH.
    Commands plain = session({"v@nomx.test"});
    plain.insert(plain.begin() + 1, "STARTTLS");
    EXPECT_EQ(commandsOf(*peers[0]), std::vector<Commands>{plain});
    // Of two equal exchangers, either may come first; one that is down only
    // passes the mail to the other.
    Replies down;
    down.greeting = "421 4.3.2 Not now\r\n";
    ASSERT_NO_FATAL_FAILURE(listen({{}, down}));
    std::set<Commands> orders;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(0, deliver(settingsFor("v@equal.test")));
        orders.insert(tried());
    }
    EXPECT_EQ(orders, (std::set<Commands>{{".2"}, {".3", ".2"}}));
}

TEST_F(MailRouteExchangerTest, WithoutAUsableExchangerOrNameServerNothingIsConnected) {
    ASSERT_NO_FATAL_FAILURE(listen({{}, {}}));
    // Only an answer that may change later leaves -1 (tried again); a domain
    // that does not exist or takes no mail, and an address without a domain
    // to ask for, fail for good.
    const int noMail = static_cast<int>(NVKTL::SmtpResult::NoMailDomain);
    const std::pair<const char*, int> cases[] = {
        {"v@noaddr.test", -1},     {"v@missing.test", noMail},
        {"v@empty.test", noMail},  {"v@", -15},
        {"v@nullmx.test", noMail}, {"v", -15},
        {"v@RETRY.TEST x", -15},
    };
    for (const auto& [recipient, code] : cases)
        EXPECT_EQ(code, deliver(settingsFor(recipient))) << recipient;
    EXPECT_TRUE(log.names().empty());
    // A name server that is silent, or truncates its answer and never
    // answers over TCP, is given up by the bound: -1, and other domains'
    // mails still go out through it; an abort gives up at once.
    DnsSilentServer silent;
    DnsTruncatingServer truncating(dns.port(), "truncated.test");
    NVKTL::CEvent abort;
    CMailRoute::Limits bounded, aborted;
    bounded.replyMs = 2000;
    aborted.abortHandle = abort.handle();
    abort.set();
    for (const int port : {silent.port(), truncating.port()}) {
        CMailRoute::setNameServer("127.0.0.1", port);
        // The configured server's name is looked up the same way.
        for (const auto& limits : {bounded, aborted})
            for (const auto& settings : {settingsFor("v@truncated.test"),
                                         settingsFor("v@x.test", "t.truncated.test", "25")})
                EXPECT_EQ(-1, CMailRoute::deliverMail(settings, kMessage, nullptr, limits));
    }
    EXPECT_TRUE(log.names().empty());
    EXPECT_EQ(0, deliver(settingsFor("v@retry.test")));
    EXPECT_EQ(Commands{".2"}, tried());
}

TEST_F(MailRouteExchangerTest, OnlyAServerWithAPortBypassesTheExchangersAndItsFailureIsFinal) {
    ASSERT_NO_FATAL_FAILURE(listen({{}}));
    ScriptedSmtpPeer server(refusing());
    const std::string port = std::to_string(server.port());
    EXPECT_EQ(0, deliver(settingsFor("v@retry.test", "127.0.0.1", "")));
    EXPECT_EQ(0, deliver(settingsFor("v@retry.test", "", port)));
    EXPECT_EQ(-15, deliver(settingsFor("v@retry.test", "127.0.0.1", port)));
    EXPECT_EQ(2u, peers[0]->connections());
    EXPECT_EQ(1u, server.connections());
}

} // namespace
