// Notifications over STARTTLS and implicit TLS to a real SMTP server
// (aiosmtpd, started here on 127.0.0.1) whose certificates come from a
// throw-away CA that only SSL_CERT_FILE makes trusted; every mail received is
// read back with Python's email package.
#include "delivery/CMailRoute.h"
#include "delivery/CNotification.h"
#include "nvktl/CTime.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using proctest::Child;
using proctest::ReadFile;
using proctest::RunTool;

namespace {

const std::string LongName = "山田太郎左衛門之助ABC長い名前の生徒さん";
const std::string LongSubject =
    "来訪のお知らせ（ぽすとん受付からの自動送信です。返信はできません）Visit notice";

// The certificates of one test program run, and SSL_CERT_FILE pointing at
// their CA while it runs.
class TlsDeliveryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char folder[] = "/tmp/poston-tls-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        certs = folder;
        ASSERT_EQ(RunTool({"/usr/bin/python3", TLS_SMTP_PEER, "certs", certs}).status, 0)
            << "python3-cryptography is needed";
        for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? value : "");
        }
        // Only the test CA: the system's store does not know it, so a
        // passing verification proves that the variable is honoured.
        ::setenv("SSL_CERT_FILE", (certs + "/ca.pem").c_str(), 1);
        ::setenv("SSL_CERT_DIR", certs.c_str(), 1);
    }
    static void TearDownTestSuite() {
        for (const auto& [name, value] : saved) {
            if (value.empty())
                ::unsetenv(name.c_str());
            else
                ::setenv(name.c_str(), value.c_str(), 1);
        }
        saved.clear();
        std::error_code ignored;
        std::filesystem::remove_all(certs, ignored);
    }

    // A server in a folder of its own; its mails land there.
    struct Server {
        Server(const std::string& mode, const std::string& cert, const std::string& mechanism) {
            char folder[] = "/tmp/poston-tls-peer-XXXXXX";
            if (::mkdtemp(folder))
                dir = folder;
            for (const char* file : {"ca.pem", "good.pem", "good.key", "other.pem", "other.key",
                                     "expired.pem", "expired.key"})
                std::filesystem::copy_file(certs + "/" + file, dir + "/" + file);
            child = std::make_unique<Child>(std::vector<std::string>{
                "/usr/bin/python3", TLS_SMTP_PEER, "serve", dir, mode, cert, mechanism});
            std::string line;
            if (child->started() && child->readLine(line) && line.rfind("PORT ", 0) == 0)
                port = std::atoi(line.c_str() + 5);
        }
        ~Server() {
            child.reset();
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
        bool received(int n) const {
            return std::filesystem::exists(dir + "/message-" + std::to_string(n) + ".eml");
        }
        std::string session(int n) const {
            return ReadFile(dir + "/message-" + std::to_string(n) + ".txt");
        }
        std::string readBack(int n) const {
            const auto output = RunTool({"/usr/bin/python3", CHECK_MESSAGE,
                                         dir + "/message-" + std::to_string(n) + ".eml"});
            return output.status == 0 ? output.text : "check failed";
        }

        std::string dir;
        std::unique_ptr<Child> child;
        int port = 0;
    };

    static CMapStringToString settings(const char* server, int port, const char* security) {
        CMapStringToString map;
        map.SetAt("mail_user", "受付");
        map.SetAt("mail_address", "desk@example.jp");
        map.SetAt("mail_server_ip", server);
        map.SetAt("mail_server_port", std::to_string(port).c_str());
        map.SetAt("mail_security", security);
        map.SetAt("mail_acount", "tim");
        map.SetAt("mail_password", "tanstaaftanstaaf");
        map.SetAt("recv_name", LongName.c_str());
        map.SetAt("recv_mail", "yamada@example.jp");
        map.SetAt("title", LongSubject.c_str());
        map.SetAt("body", CNotification::body("開発部", "山田 太郎", "20261205101530123").c_str());
        return map;
    }

    static int deliver(const CMapStringToString& map) {
        NVKTL::CTime now;
        now.SetNow();
        return CMailRoute::deliverMail(map, CNotification::buildMessage(map, now));
    }

    static inline std::string certs;
    static inline std::vector<std::pair<std::string, std::string>> saved;
};

TEST_F(TlsDeliveryTest, DeliversInsideTlsWithEveryMechanism) {
    const struct {
        const char* mode;
        const char* server;
        const char* mechanism;
    } cases[] = {
        {"starttls", "localhost", "CRAM-MD5"}, {"starttls", "localhost", "LOGIN"},
        {"starttls", "127.0.0.1", "PLAIN"},    {"tls", "localhost", "PLAIN"},
        {"tls", "127.0.0.1", "LOGIN"},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.mode) + " " + c.server + " " + c.mechanism;
        const Server server(c.mode, "good", c.mechanism);
        ASSERT_NE(server.port, 0) << what;
        ASSERT_EQ(deliver(settings(c.server, server.port, c.mode)), 0) << what;
        const std::string session = server.session(1);
        EXPECT_EQ(session.rfind(std::string(c.mechanism) + "\nTLSv1.", 0), 0u) << what << session;
        const std::string shown = server.readBack(1);
        EXPECT_NE(shown.find("Defects: 0\n"), std::string::npos) << what << shown;
        EXPECT_NE(shown.find("Subject: " + LongSubject + "\n"), std::string::npos) << shown;
        // Python's address parser keeps the blank between two encoded words
        // of a display name, which mail readers drop; the words are checked
        // for their text.
        std::string to = shown.substr(shown.find("To: "));
        to = to.substr(0, to.find('\n'));
        std::erase(to, ' ');
        EXPECT_EQ(to, "To:" + LongName + "|yamada@example.jp") << shown;
        EXPECT_NE(shown.find("Message-ID"), std::string::npos) << shown;
        EXPECT_NE(shown.find("MIME-Version"), std::string::npos) << shown;
    }
}

TEST_F(TlsDeliveryTest, ACertificateThatIsNotValidForTheServerGetsNothing) {
    const struct {
        const char* mode;
        const char* cert;
        const char* server;
    } cases[] = {
        {"starttls", "other", "localhost"}, // issued for another name
        {"tls", "other", "127.0.0.1"},      // no such address in it
        {"starttls", "expired", "localhost"},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.mode) + " " + c.cert + " " + c.server;
        const Server server(c.mode, c.cert, "PLAIN");
        ASSERT_NE(server.port, 0) << what;
        CMapStringToString map = settings(c.server, server.port, c.mode);
        EXPECT_EQ(deliver(map), -22) << what;
        EXPECT_FALSE(server.received(1)) << what;
    }
}

TEST_F(TlsDeliveryTest, AServerFromAnUntrustedAuthorityIsRefused) {
    const Server server("starttls", "good", "PLAIN");
    ASSERT_NE(server.port, 0);
    ::setenv("SSL_CERT_FILE", "/nonexistent", 1);
    ::setenv("SSL_CERT_DIR", "/nonexistent", 1);
    const int result = deliver(settings("localhost", server.port, "starttls"));
    ::setenv("SSL_CERT_FILE", (certs + "/ca.pem").c_str(), 1);
    ::setenv("SSL_CERT_DIR", certs.c_str(), 1);
    EXPECT_EQ(result, -22);
    EXPECT_FALSE(server.received(1));
}

} // namespace
