#include "delivery/CMailRoute.h"
#include "delivery/CMailSession.h"

#include "DnsTestServer.h"
#include "RouteSmtpPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Commands = std::vector<std::string>;

const CString kMessage =
    "From: =?ISO-2022-JP?B?GyRCJF0kOSRIJHMbKEI=?= <poston@sender.example.jp>\r\n"
    "To: =?ISO-2022-JP?B?dmlzaXRvcg==?= <visitor@retry.test>\r\n"
    "Subject: =?ISO-2022-JP?B?dmlzaXQ=?=\r\n"
    "\r\n"
    "line one\r\n"
    "..\r\n";

const RouteSmtpScript kAccepting;

RouteSmtpScript refusingRecipients() {
    RouteSmtpScript script;
    script.rcptReply = "550 5.1.1 No such user\r\n";
    return script;
}

CMapStringToString settingsFor(const CString& recipient, const CString& server = "",
                               const CString& port = "") {
    CMapStringToString settings;
    settings.SetAt("mail_address", "poston@sender.example.jp");
    settings.SetAt("mail_user", "ぽすとん");
    settings.SetAt("recv_mail", recipient);
    settings.SetAt("mail_server_ip", server);
    settings.SetAt("mail_server_port", port);
    return settings;
}

// The whole session of a delivery that went through.
Commands deliveredSession(const std::string& recipient) {
    return {"EHLO sender.example.jp", "MAIL FROM:<poston@sender.example.jp>",
            "RCPT TO:<" + recipient + ">", "DATA", "QUIT"};
}

class MailRouteTest : public ::testing::Test {
protected:
    void TearDown() override { CMailRoute::resetDefaults(); }
};

// The configured SMTP server.

TEST_F(MailRouteTest, ConfiguredServerGetsOneSessionAuthenticatedWithBothCredentials) {
    RouteSmtpScript script;
    script.ehloReply = "250-peer.test\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n";
    RouteSmtpPeer server(script);
    ASSERT_TRUE(server.listen("127.0.0.1", 0));
    const CString port = CString(std::to_string(server.port()));

    CMapStringToString settings = settingsFor("visitor@retry.test", "127.0.0.1", port);
    settings.SetAt("mail_acount", "poston");
    settings.SetAt("mail_password", "secret");
    EXPECT_EQ(0, CMailRoute::deliverMail(settings, kMessage));

    // Without one of the two credentials the session runs unauthenticated.
    settings.SetAt("mail_password", "");
    EXPECT_EQ(0, CMailRoute::deliverMail(settings, kMessage));
    settings.SetAt("mail_acount", "");
    settings.SetAt("mail_password", "secret");
    EXPECT_EQ(0, CMailRoute::deliverMail(settings, kMessage));

    std::vector<RouteSmtpSession> sessions = server.sessions();
    ASSERT_EQ(3u, sessions.size());
    Commands authenticated = deliveredSession("visitor@retry.test");
    authenticated.insert(authenticated.begin() + 1, "AUTH PLAIN AHBvc3RvbgBzZWNyZXQ=");
    EXPECT_EQ(authenticated, sessions[0].commands);
    EXPECT_EQ(kMessage.str(), sessions[0].message);
    EXPECT_EQ(deliveredSession("visitor@retry.test"), sessions[1].commands);
    EXPECT_EQ(deliveredSession("visitor@retry.test"), sessions[2].commands);
}

TEST_F(MailRouteTest, ASessionCarriesTheNextMailToTheSameServerAfterRset) {
    const Commands first = {"EHLO sender.example.jp", "MAIL FROM:<poston@sender.example.jp>",
                            "RCPT TO:<a@retry.test>", "DATA"};
    const Commands second = {"MAIL FROM:<poston@sender.example.jp>", "RCPT TO:<b@retry.test>",
                             "DATA"};
    auto join = [](Commands a, const Commands& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    RouteSmtpScript refusingRset;
    refusingRset.rsetReply = "502 5.5.2 Not here\r\n";
    RouteSmtpScript dropping;
    dropping.closeAfterMessage = true;
    const struct {
        const char* what;
        RouteSmtpScript script;
        CString secondSender; // empty: the first one's
        std::vector<Commands> sessions;
    } cases[] = {
        {"one session, RSET between the mails",
         kAccepting,
         "",
         {join(join(first, {"RSET"}), join(second, {"QUIT"}))}},
        {"RSET refused: a fresh session",
         refusingRset,
         "",
         {join(first, {"RSET"}), join({"EHLO sender.example.jp"}, join(second, {"QUIT"}))}},
        {"dropped by the server: a fresh session",
         dropping,
         "",
         {first, join({"EHLO sender.example.jp"}, second)}},
        {"another sender: a fresh session, the first one ended",
         kAccepting,
         "desk@sender.example.jp",
         {join(first, {"QUIT"}),
          {"EHLO sender.example.jp", "MAIL FROM:<desk@sender.example.jp>", "RCPT TO:<b@retry.test>",
           "DATA", "QUIT"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RouteSmtpPeer server(c.script);
        ASSERT_TRUE(server.listen("127.0.0.1", 0));
        const CString port = CString(std::to_string(server.port()));
        CMailSession session;
        EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("a@retry.test", "127.0.0.1", port),
                                             kMessage, session, nullptr));
        CMapStringToString next = settingsFor("b@retry.test", "127.0.0.1", port);
        if (!c.secondSender.IsEmpty())
            next.SetAt("mail_address", c.secondSender);
        EXPECT_EQ(0, CMailRoute::deliverMail(next, kMessage, session, nullptr));
        session.end();
        const std::vector<RouteSmtpSession> seen = server.sessions();
        ASSERT_EQ(c.sessions.size(), seen.size());
        std::size_t messages = 0;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(c.sessions[i], seen[i].commands) << "session " << i;
            messages += seen[i].messages.size();
        }
        EXPECT_EQ(2u, messages);
    }
}

TEST_F(MailRouteTest, AMailRefusedInsideASessionEndsItAndTheNextOneStartsAgain) {
    RouteSmtpScript script;
    script.rcptReply = "550 5.1.1 No such user\r\n";
    RouteSmtpPeer refusing(script);
    ASSERT_TRUE(refusing.listen("127.0.0.1", 0));
    RouteSmtpPeer accepting;
    ASSERT_TRUE(accepting.listen("127.0.0.1", 0));
    const CString good = CString(std::to_string(accepting.port()));
    CMailSession session;
    EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("a@retry.test", "127.0.0.1", good), kMessage,
                                         session, nullptr));
    EXPECT_TRUE(session.isOpen());
    int reply = 0;
    const CString bad = CString(std::to_string(refusing.port()));
    EXPECT_EQ(-15, CMailRoute::deliverMail(settingsFor("b@retry.test", "127.0.0.1", bad), kMessage,
                                           session, &reply));
    EXPECT_EQ(550, reply);
    EXPECT_FALSE(session.isOpen());
    EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("c@retry.test", "127.0.0.1", good), kMessage,
                                         session, nullptr));
    session.end();
    EXPECT_EQ(2u, accepting.sessions().size());
}

TEST_F(MailRouteTest, ConfiguredServerPortIsReadLikeAtoiButNeverWrapsAround) {
    RouteSmtpPeer server;
    ASSERT_TRUE(server.listen("127.0.0.1", 0));
    const std::string port = std::to_string(server.port());

    // Leading blanks and trailing text are ignored, as atoi does.
    EXPECT_EQ(0, CMailRoute::deliverMail(
                     settingsFor("visitor@retry.test", "127.0.0.1", CString(" " + port + "x")),
                     kMessage));
    ASSERT_EQ(1u, server.sessions().size());

    // 65536 more would reach the same port once cut to 16 bits; it must fail.
    for (const std::string& text :
         {std::to_string(server.port() + 65536), std::string("0"), std::string("smtp"),
          std::string("-" + port), std::string("99999999999999999999")}) {
        EXPECT_EQ(-1, CMailRoute::deliverMail(
                          settingsFor("visitor@retry.test", "127.0.0.1", CString(text)), kMessage))
            << text;
    }
    EXPECT_EQ(1u, server.sessions().size());
}

TEST_F(MailRouteTest, LineBreaksInTheAddressesNeverReachTheServer) {
    RouteSmtpPeer server;
    ASSERT_TRUE(server.listen("127.0.0.1", 0));
    const CString port = CString(std::to_string(server.port()));

    // The announced name comes from the sender's address: "EHLO" would carry
    // the injected command.
    CMapStringToString settings = settingsFor("visitor@retry.test", "127.0.0.1", port);
    settings.SetAt("mail_address", "poston@sender.example.jp\r\nRCPT TO:<all@example.jp>");
    EXPECT_EQ(-14, CMailRoute::deliverMail(settings, kMessage));

    settings = settingsFor("visitor@retry.test\r\nRCPT TO:<all@example.jp>", "127.0.0.1", port);
    EXPECT_EQ(-15, CMailRoute::deliverMail(settings, kMessage));

    EXPECT_TRUE(server.sessions().empty());
}

TEST_F(MailRouteTest, UnreachableConfiguredServerCannotConnect) {
    // Bind a port, then free it: nothing listens there any more.
    int port;
    {
        RouteSmtpPeer gone;
        ASSERT_TRUE(gone.listen("127.0.0.1", 0));
        port = gone.port();
    }
    EXPECT_EQ(-1, CMailRoute::deliverMail(
                      settingsFor("visitor@retry.test", "127.0.0.1", CString(std::to_string(port))),
                      kMessage));
}

// The mail exchangers of the recipient's domain, found through dnsmasq, with
// the exchangers listening on loopback addresses and one common free port.

class MailRouteExchangerTest : public MailRouteTest {
protected:
    void SetUp() override {
        ASSERT_EQ("", dns.start(dnsTestZone()));
        CMailRoute::setNameServer("127.0.0.1", dns.port());
    }

    // Starts the peers on 127.0.0.2, 127.0.0.3, ... and points the route at
    // their port.
    void listen(const std::vector<RouteSmtpPeer*>& peers) {
        std::vector<std::string> addresses;
        for (std::size_t i = 0; i < peers.size(); ++i)
            addresses.push_back("127.0.0." + std::to_string(i + 2));
        const int port = listenOnCommonPort(peers, addresses);
        ASSERT_NE(0, port) << "no common free port on the loopback addresses";
        CMailRoute::setMxPort(port);
    }

    DnsTestServer dns;
    RouteConnectionLog log;
};

TEST_F(MailRouteExchangerTest, RefusedRecipientMovesOnToTheNextExchanger) {
    RouteSmtpPeer first(refusingRecipients()), second(kAccepting);
    ASSERT_NO_FATAL_FAILURE(listen({&first, &second}));

    EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("visitor@retry.test"), kMessage));

    ASSERT_EQ(1u, first.sessions().size());
    EXPECT_EQ((Commands{"EHLO sender.example.jp", "MAIL FROM:<poston@sender.example.jp>",
                        "RCPT TO:<visitor@retry.test>"}),
              first.sessions()[0].commands);
    ASSERT_EQ(1u, second.sessions().size());
    EXPECT_EQ(deliveredSession("visitor@retry.test"), second.sessions()[0].commands);
    EXPECT_EQ(kMessage.str(), second.sessions()[0].message);
}

TEST_F(MailRouteExchangerTest, ExchangersAreTriedByPreferenceAndTheLastCodeIsReturned) {
    RouteSmtpScript refusingMessage;
    refusingMessage.dataReply = "554 5.3.4 No data\r\n";
    RouteSmtpPeer x10(refusingRecipients(), "x10", &log), x20(refusingRecipients(), "x20", &log),
        x30(refusingMessage, "x30", &log);
    ASSERT_NO_FATAL_FAILURE(listen({&x10, &x20, &x30}));

    // The answer lists 20, 10, 30.
    EXPECT_EQ(-16, CMailRoute::deliverMail(settingsFor("visitor@order.test"), kMessage));
    EXPECT_EQ((std::vector<std::string>{"x10", "x20", "x30"}), log.names());
}

TEST_F(MailRouteExchangerTest, OfEqualPreferencesOnlyTheFirstListedIsTried) {
    RouteSmtpPeer first(refusingRecipients()), second(kAccepting);
    ASSERT_NO_FATAL_FAILURE(listen({&first, &second}));

    EXPECT_EQ(-15, CMailRoute::deliverMail(settingsFor("visitor@equal.test"), kMessage));
    EXPECT_EQ(1u, first.sessions().size());
    EXPECT_TRUE(second.sessions().empty());
}

TEST_F(MailRouteExchangerTest, WithoutAUsableExchangerNothingIsConnected) {
    RouteSmtpPeer a(kAccepting), b(kAccepting);
    ASSERT_NO_FATAL_FAILURE(listen({&a, &b}));

    // Only a name server's answer that may change later leaves -1 (tried
    // again); a domain that does not exist or takes no mail, and an address
    // without a domain to ask for, fail for good.
    const struct {
        const char* recipient;
        int code;
    } cases[] = {
        {"visitor@nomx.test", -1}, // an address but no MX
        {"visitor@missing.test", CMailRoute::kNoMailDomain},
        {"visitor@nullmx.test", CMailRoute::kNoMailDomain}, // its exchanger says it takes no mail
        {"visitor@", -15},
        {"visitor", -15},
        {"visitor@RETRY.TEST x", -15},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.code, CMailRoute::deliverMail(settingsFor(c.recipient), kMessage))
            << c.recipient;
    EXPECT_TRUE(a.sessions().empty());
    EXPECT_TRUE(b.sessions().empty());
}

TEST_F(MailRouteExchangerTest, PreferenceZeroIsTheMostPreferred) {
    RouteSmtpPeer only(kAccepting);
    ASSERT_NO_FATAL_FAILURE(listen({&only}));

    EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("visitor@zero.test"), kMessage));
    EXPECT_EQ(1u, only.sessions().size());
}

TEST_F(MailRouteExchangerTest, ServerAndPortMustBothBeSetToBypassTheExchangers) {
    RouteSmtpPeer first(kAccepting), configured(kAccepting);
    ASSERT_NO_FATAL_FAILURE(listen({&first}));
    ASSERT_TRUE(configured.listen("127.0.0.1", 0));
    const CString port = CString(std::to_string(configured.port()));

    EXPECT_EQ(
        0, CMailRoute::deliverMail(settingsFor("visitor@retry.test", "127.0.0.1", ""), kMessage));
    EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("visitor@retry.test", "", port), kMessage));
    EXPECT_EQ(2u, first.sessions().size());
    EXPECT_TRUE(configured.sessions().empty());
}

TEST_F(MailRouteExchangerTest, ConfiguredServerFailureIsFinal) {
    RouteSmtpPeer first(kAccepting), configured(refusingRecipients());
    ASSERT_NO_FATAL_FAILURE(listen({&first}));
    ASSERT_TRUE(configured.listen("127.0.0.1", 0));

    EXPECT_EQ(-15, CMailRoute::deliverMail(settingsFor("visitor@retry.test", "127.0.0.1",
                                                       CString(std::to_string(configured.port()))),
                                           kMessage));
    EXPECT_EQ(1u, configured.sessions().size());
    EXPECT_TRUE(first.sessions().empty());
}

// The exchangers on the standard SMTP port, as in real use (binding port 25
// needs root, as in CI).

class MailRoutePort25Test : public MailRouteExchangerTest {
protected:
    void listenOn25(RouteSmtpPeer& onTwo, RouteSmtpPeer& onThree) {
        ASSERT_TRUE(onTwo.listen("127.0.0.2", 25) && onThree.listen("127.0.0.3", 25))
            << "cannot listen on 127.0.0.2:25 and 127.0.0.3:25 (needs root)";
    }
};

TEST_F(MailRoutePort25Test, DeliversToTheBestWorkingExchanger) {
    // poston.test lists 20 b(.3), 10 a(.2), 30 c(.2), 10 a2(.2), 0 z(.3).
    RouteSmtpPeer onTwo(kAccepting, ".2", &log), onThree(refusingRecipients(), ".3", &log);
    ASSERT_NO_FATAL_FAILURE(listenOn25(onTwo, onThree));

    EXPECT_EQ(0, CMailRoute::deliverMail(settingsFor("visitor@poston.test"), kMessage));
    // z (0) refused the recipient, a (10) took the message; a2 (the second 10)
    // and the rest were never tried.
    EXPECT_EQ((std::vector<std::string>{".3", ".2"}), log.names());
    ASSERT_EQ(1u, onTwo.sessions().size());
    EXPECT_EQ(deliveredSession("visitor@poston.test"), onTwo.sessions()[0].commands);
    EXPECT_EQ(kMessage.str(), onTwo.sessions()[0].message);
}

TEST_F(MailRoutePort25Test, EveryPreferenceIsTriedOnceWhenAllRefuse) {
    RouteSmtpPeer onTwo(refusingRecipients(), ".2", &log),
        onThree(refusingRecipients(), ".3", &log);
    ASSERT_NO_FATAL_FAILURE(listenOn25(onTwo, onThree));

    EXPECT_EQ(-15, CMailRoute::deliverMail(settingsFor("visitor@poston.test"), kMessage));
    // z (0), a (10), b (20), c (30); a2 (the second 10) is never tried.
    EXPECT_EQ((std::vector<std::string>{".3", ".2", ".3", ".2"}), log.names());
}

} // namespace
