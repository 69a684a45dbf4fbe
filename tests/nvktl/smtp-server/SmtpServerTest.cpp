// The SMTP client against a real, independent SMTP server (the npm package smtp-server, on
// 127.0.0.1) with each AUTH mechanism, plain and over TLS; the messages received are read back
// with independent decoders: Python's email package and the WHATWG ISO-2022-JP decoder of Node.
#include "delivery/CNotification.h"
#include "nvktl/Base64.h"
#include "nvktl/CSmtpClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestDataFile.h"

#include <gtest/gtest.h>

#include <iconv.h>
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

// The text without the characters given (the line breaks where a line was
// wrapped).
std::string Without(std::string text, std::string_view characters) {
    std::erase_if(text, [&](char c) { return characters.find(c) != characters.npos; });
    return text;
}

// The body as glibc's iconv reads it (a UTF-8 body comes as Base64).
std::string Iconv(const std::string& charset, std::string body) {
    if (charset == "utf-8")
        body = std::string(NVKTL::Base64Decode(body).View());
    iconv_t cd = ::iconv_open("UTF-8", charset.c_str());
    std::string out(body.size() * 4 + 16, '\0');
    char *in = body.data(), *to = out.data();
    std::size_t inLeft = body.size(), outLeft = out.size();
    const bool read = ::iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return read ? out : "(iconv refused it)";
}

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
    // Names as written: ISO-2022-JP when they fit it (half-width kana as
    // full-width), else the whole mail in UTF-8; a name of 600 characters
    // puts no line over 998 octets. Python's email package, the WHATWG
    // decoders and glibc's iconv all read each back exactly.
    std::string longName;
    while (longName.size() < 600 * 3)
        longName += "長";
    const struct {
        std::string name, shown, charset;
    } names[] = {{"ｶﾞｸ 山田", "ガク 山田", "iso-2022-jp"},
                 {"髙橋 﨑 德 ①😀", "髙橋 﨑 德 ①😀", "utf-8"},
                 {longName, longName, "iso-2022-jp"}};
    int sent = 1;
    for (const auto& n : names) {
        const char* visit = "20261205101530123";
        const std::string body = CNotification::body("開発部", n.name, visit).str();
        ASSERT_EQ(Send(server.port, c.tls, "tanstaaftanstaaf",
                       Notification(n.name, "来訪: " + n.name, body)),
                  SmtpResult::Ok);
        const std::string eml = server.file(++sent, ".eml");
        const std::string raw = testsupport::readBytes(eml);
        for (std::size_t at = 0, end; (end = raw.find("\r\n", at)) != raw.npos; at = end + 2)
            EXPECT_LE(end - at, 998u) << n.charset;
        const std::string expected =
            Without(CNotification::body("開発部", n.shown, visit).str(), "\r\n");
        const std::string python =
            RunTool({"/usr/bin/python3", PeerDir + "/check-message.py", eml}).text;
        EXPECT_NE(python.find("\nSubject: 来訪: " + n.shown + "\nType: text/plain " + n.charset +
                              "\nDefects: 0\n"),
                  std::string::npos)
            << python;
        EXPECT_EQ(Without(python.substr(python.find("Body:\n") + 6), "\r\n"), expected);
        const std::string node = RunTool({"node", PeerDir + "/decode-message.js", eml}).text;
        EXPECT_EQ(node.substr(0, node.find("Body:\n")),
                  "From: 受付 ぽすとん <poston@example.com>\nTo: " + n.shown +
                      " <taro@example.org>\nSubject: 来訪: " + n.shown + "\n");
        EXPECT_EQ(Without(node.substr(node.find("Body:\n") + 6), "\r\n"), expected);
        EXPECT_EQ(Without(Iconv(n.charset, raw.substr(raw.find("\r\n\r\n") + 4)), "\r\n"),
                  expected);
    }
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
