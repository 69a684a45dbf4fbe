// The SMTP client against a real, independent SMTP server (the npm package smtp-server, on
// 127.0.0.1) with each AUTH mechanism, plain and over TLS; the messages received are read back
// with independent decoders: Python's email package and the WHATWG ISO-2022-JP decoder of Node.
#include "delivery/CNotification.h"
#include "nvktl/CSmtpClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestDataFile.h"

#include <gtest/gtest.h>

#include <memory>

using NVKTL::CSmtpClient;
using NVKTL::CString;
using NVKTL::SmtpResult;
using proctest::RunTool;

namespace {

const std::string PeerDir = SMTP_PEER_DIR;

// The server in a fresh folder of its own, offering the given mechanisms;
// with TLS it speaks TLS from the first byte, with a certificate of its own.
struct SmtpServer {
    SmtpServer(const std::string& methods, bool tls)
        : dir(testsupport::makeTempFolder("poston-smtp")) {
        std::vector<std::string> argv{"node", PeerDir + "/server.js", dir, methods};
        if (tls && RunTool({"/usr/bin/python3", TLS_SMTP_PEER, "certs", dir}).status == 0) {
            argv.insert(argv.end(), {dir + "good.key", dir + "good.pem"});
            ::setenv("SSL_CERT_FILE", (dir + "ca.pem").c_str(), 1);
        }
        child = std::make_unique<proctest::Child>(argv);
        port = child->announcedPort();
    }
    ~SmtpServer() {
        child.reset();
        ::unsetenv("SSL_CERT_FILE");
        testsupport::removeTree(dir);
    }
    std::string file(int n, const char* suffix) const {
        return dir + "message-" + std::to_string(n) + suffix;
    }
    std::string dir;
    std::unique_ptr<proctest::Child> child;
    int port = 0;
};

// A notification as the send thread composes it.
CString Notification(const std::string& visitor, const std::string& subject,
                     const std::string& body) {
    const CMapStringToString merged = testsupport::textMap({{"mail_user", "受付 ぽすとん"},
                                                            {"mail_address", "poston@example.com"},
                                                            {"recv_name", visitor},
                                                            {"recv_mail", "taro@example.org"},
                                                            {"title", subject},
                                                            {"body", body}});
    return CNotification::buildMessage(merged, NVKTL::CTime(2026, 12, 0, 6, 10, 15, 30, 0));
}

SmtpResult Send(int port, bool tls, const std::string& password, const CString& message) {
    CSmtpClient client("example.com");
    client.SetTimeout(10000);
    client.SetSecurity(tls ? CSmtpClient::Security::Tls : CSmtpClient::Security::None);
    client.SetFrom("Poston <poston@example.com>");
    client.AddTo("taro@example.org");
    client.SetAuth("tim", CString(password));
    // By name: the certificate is made out to localhost.
    const SmtpResult result = client.SendMail("localhost", port, message);
    client.Close();
    return result;
}

struct Case {
    friend std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }
    const char* name;
    const char* mechanism;
    bool tls;
    SmtpResult wrongPassword;
};

class SmtpServerTest : public ::testing::TestWithParam<Case> {};

TEST_P(SmtpServerTest, AuthenticatesAndDeliversAMessageThatDecodes) {
    const Case& c = GetParam();
    SmtpServer server(c.mechanism, c.tls);
    ASSERT_NE(server.port, 0) << "the server did not start";
    std::string subject = "来訪のお知らせ";
    for (int i = 0; c.tls && i < 6; ++i) // longer than one encoded word
        subject += "・第" + std::to_string(i) + "便 来訪のお知らせ";
    const std::string body = "「ぽすとん」にアクセスしました。\r\n[ 山田 太郎 ]さん\r\n"
                             "2026年12月06日 10時15分\r\n..NET班より\r\n";
    EXPECT_EQ(
        Send(server.port, c.tls, "tanstaaftanstaaf", Notification("山田 太郎", subject, body)),
        SmtpResult::Ok);
    EXPECT_EQ(testsupport::readBytes(server.file(1, ".txt")),
              std::string(c.mechanism) + "\nposton@example.com\ntaro@example.org\n");
    const proctest::Output python =
        RunTool({"/usr/bin/python3", PeerDir + "/check-message.py", server.file(1, ".eml")});
    EXPECT_EQ(python.text,
              "Fields: From, To, Date, Subject, Content-Type, Content-Transfer-Encoding, "
              "Message-ID, MIME-Version\nFrom: 受付 ぽすとん | poston@example.com\nTo: 山田 太郎 | "
              "taro@example.org\nSubject: " +
                  subject +
                  "\nType: text/plain "
                  "iso-2022-jp\nDefects: 0\nBody:\n「ぽすとん」にアクセスしました。\n[ 山田 "
                  "太郎 ]さん\n2026年12月06日 10時15分\n..NET班より\n\n");
    // NEC and IBM characters and half-width kana read back in a mail reader.
    const std::string visitor = "ｶﾞｸ 髙﨑①";
    EXPECT_EQ(Send(server.port, c.tls, "tanstaaftanstaaf",
                   Notification(visitor, "来訪: " + visitor, "㈱ポストン Ⅲ ⅲ\r\n")),
              SmtpResult::Ok);
    const proctest::Output node =
        RunTool({"node", PeerDir + "/decode-iso2022jp.js", server.file(2, ".eml")});
    EXPECT_EQ(node.text, "From: 受付 ぽすとん <poston@example.com>\nTo: ガク 髙﨑① "
                         "<taro@example.org>\nSubject: 来訪: ガク 髙﨑①\nBody:\n㈱ポストン Ⅲ "
                         "ⅲ\r\n\r\n");
    // A wrong password is refused by the server at that mechanism's step.
    EXPECT_EQ(Send(server.port, c.tls, "wrong", Notification("a", "b", "c\r\n")), c.wrongPassword);
}

const Case Cases[] = {{"CramMd5", "CRAM-MD5", false, SmtpResult::CramMd5Rejected},
                      {"Login", "LOGIN", false, SmtpResult::LoginPasswordRejected},
                      {"Plain", "PLAIN", false, SmtpResult::PlainRejected},
                      {"PlainOverTls", "PLAIN", true, SmtpResult::PlainRejected}};
INSTANTIATE_TEST_SUITE_P(EachMechanism, SmtpServerTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
