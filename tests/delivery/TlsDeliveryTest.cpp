// Notifications over STARTTLS and implicit TLS to a real SMTP server
// (aiosmtpd, started here on 127.0.0.1) whose certificates come from a
// throw-away CA that only SSL_CERT_FILE makes trusted (the system's store does
// not know it, so a passing verification proves that the variable is
// honoured); every mail received is read back with Python's email package.
// As a recipient's exchanger, the same server gets the mail encrypted without
// any certificate check.
#include "delivery/CMailRoute.h"
#include "delivery/CNotification.h"
#include "nvktl/CTime.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestDataFile.h"
#include "tools/dns-test-server/DnsTestServer.h"

#include <gtest/gtest.h>

#include <cstdio>

using proctest::RunTool;

namespace {

const std::string kName = "山田太郎左衛門之助ABC長い名前の生徒さん";
const std::string kSubject =
    "来訪のお知らせ（ぽすとん受付からの自動送信です。返信はできません）Visit notice";

TEST(TlsDeliveryTest, DeliversInsideTlsWithEveryMechanismOnlyToAValidTrustedCertificate) {
    const std::string certs = testsupport::makeTempFolder("poston-tls-");
    ASSERT_EQ(RunTool({"/usr/bin/python3", TLS_SMTP_PEER, "certs", certs}).status, 0)
        << "python3-cryptography is needed";
    const struct {
        const char *mode, *server, *mechanism, *cert;
        int code;
        bool trusted; // false: the CA is not where SSL_CERT_FILE points
    } cases[] = {
        {"starttls", "localhost", "CRAM-MD5", "good", 0, true},
        {"starttls", "localhost", "LOGIN", "good", 0, true},
        {"starttls", "127.0.0.1", "PLAIN", "good", 0, true},
        {"tls", "localhost", "PLAIN", "good", 0, true},
        {"tls", "127.0.0.1", "LOGIN", "good", 0, true},
        {"starttls", "localhost", "PLAIN", "other", -22, true}, // issued for another name
        {"tls", "127.0.0.1", "PLAIN", "other", -22, true},      // no such address in it
        {"starttls", "localhost", "PLAIN", "expired", -22, true},
        {"starttls", "localhost", "PLAIN", "good", -22, false},
        // No server configured: example.jp's exchanger is the peer.
        {"starttls", "", "NONE", "other", 0, false},
    };
    DnsTestServer dns;
    ASSERT_EQ("", dns.start({"--mx-host=example.jp,mx.example.jp,10",
                             "--host-record=mx.example.jp,127.0.0.1"}));
    CMailRoute::setNameServer("127.0.0.1", dns.port());
    for (const auto& c : cases) {
        const std::string trusted = c.trusted ? certs : "/nonexistent/";
        ::setenv("SSL_CERT_FILE", (trusted + "ca.pem").c_str(), 1);
        ::setenv("SSL_CERT_DIR", trusted.c_str(), 1);
        SCOPED_TRACE(std::string(c.mode) + " " + c.server + " " + c.mechanism + " " + c.cert);
        proctest::Child peer(
            {"/usr/bin/python3", TLS_SMTP_PEER, "serve", certs, c.mode, c.cert, c.mechanism});
        const int port = peer.announcedPort();
        ASSERT_NE(port, 0);
        CMailRoute::setMxPort(port);
        const CMapStringToString map = testsupport::textMap(
            {{"mail_user", "受付"},
             {"mail_address", "desk@example.jp"},
             {"mail_server_ip", c.server},
             {"mail_server_port", *c.server ? std::to_string(port) : ""},
             {"mail_security", c.mode},
             {"mail_acount", "tim"},
             {"mail_password", "tanstaaftanstaaf"},
             {"recv_name", kName},
             {"recv_mail", "yamada@example.jp"},
             {"title", kSubject},
             {"body", CNotification::body("開発部", "山田 太郎", "20261205101530123").str()}});
        NVKTL::CTime now;
        now.SetNow();
        EXPECT_EQ(c.code, CMailRoute::deliverMail(map, CNotification::buildMessage(map, now)));
        const std::string eml = testsupport::readBytes(certs + "message-1.eml");
        const std::string session = testsupport::readBytes(certs + "message-1.txt");
        const std::string shown =
            c.code ? ""
                   : RunTool({"/usr/bin/python3", CHECK_MESSAGE, certs + "message-1.eml"}).text;
        std::remove((certs + "message-1.eml").c_str()); // the next peer starts counting again
        std::remove((certs + "message-1.txt").c_str());
        if (c.code != 0) {
            EXPECT_EQ(eml, "") << "nothing may reach a server whose certificate failed";
            continue;
        }
        EXPECT_EQ(session.rfind(std::string(c.mechanism) + "\nTLSv1.", 0), 0u) << session;
        EXPECT_NE(shown.find("Defects: 0\n"), std::string::npos) << shown;
        EXPECT_NE(shown.find("Subject: " + kSubject + "\n"), std::string::npos) << shown;
        // Python's address parser keeps the blank between two encoded words
        // of a display name, which mail readers drop.
        std::string to = shown.substr(shown.find("To: "));
        to = to.substr(0, to.find('\n'));
        std::erase(to, ' ');
        EXPECT_EQ(to, "To:" + kName + "|yamada@example.jp") << shown;
        // The long name and subject were folded into words and lines that fit.
        for (std::size_t at = 0, end; (end = eml.find('\n', at)) != at + 1 && end != eml.npos;
             at = end + 1)
            EXPECT_LE(end - at, 79u) << eml.substr(at, end - at);
    }
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
    CMailRoute::resetDefaults();
    testsupport::removeTree(certs);
}

} // namespace
