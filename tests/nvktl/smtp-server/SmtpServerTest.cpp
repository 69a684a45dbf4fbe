// The SMTP client against a real, independent SMTP server (the npm package
// smtp-server, started here on 127.0.0.1), once with each AUTH mechanism; the
// received messages are read back with independent decoders: Python's email
// package and the WHATWG ISO-2022-JP decoder of Node.
#include "tests/support/ChildProcess.h"
#include "nvktl/CMailProtocol.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/JisEncoding.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

using NVKTL::CSmtpClient;
using NVKTL::CString;
using proctest::Child;
using proctest::Output;
using proctest::ReadFile;
using proctest::RunTool;

namespace {

const std::string PeerDir = SMTP_PEER_DIR;

// The server in a fresh folder of its own, offering the given mechanisms.
class SmtpServer {
public:
    // With a certificate folder, the server speaks TLS from the first byte
    // with its good.key and good.pem.
    explicit SmtpServer(const std::string& methods, const std::string& certificates = "") {
        char folder[] = "/tmp/poston-smtp-XXXXXX";
        if (::mkdtemp(folder))
            m_dir = folder;
        std::vector<std::string> argv{"node", PeerDir + "/server.js", m_dir, methods};
        if (!certificates.empty()) {
            argv.push_back(certificates + "/good.key");
            argv.push_back(certificates + "/good.pem");
        }
        m_child = std::make_unique<Child>(argv);
        std::string line;
        if (m_child->started() && m_child->readLine(line) && line.rfind("PORT ", 0) == 0)
            m_port = std::atoi(line.c_str() + 5);
    }
    ~SmtpServer() {
        m_child.reset();
        std::error_code ignored;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ignored);
    }

    int port() const { return m_port; }
    std::string messagePath(int n) const {
        return m_dir + "/message-" + std::to_string(n) + ".eml";
    }
    std::string envelope(int n) const {
        return ReadFile(m_dir + "/message-" + std::to_string(n) + ".txt");
    }

private:
    std::string m_dir;
    std::unique_ptr<Child> m_child;
    int m_port = 0;
};

CString Word(const std::string& text) {
    CString word;
    NVKTL::ToEncodedWord(CString(text), word);
    return word;
}

// A notification as the send thread composes it: six fields, a JIS body.
CString Notification(const std::string& sender, const std::string& visitor,
                     const std::string& subject, const std::string& body) {
    NVKTL::CMailProtocol message;
    message.SetHeader("From", Word(sender) + std::string_view(" <poston@example.com>"));
    message.SetHeader("To", Word(visitor) + std::string_view(" <taro@example.org>"));
    message.SetHeader("Date", "Sun, 06 Dec 2026 10:15:30 +0900");
    message.SetHeader("Subject", Word(subject));
    message.SetHeader("Content-Type", "text/plain; charset=\"ISO-2022-JP\"");
    message.SetHeader("Content-Transfer-Encoding", "7bit");
    CString jis;
    NVKTL::ToJis(CString(body), jis);
    message.SetBody(jis.c_str(), jis.GetLength());
    message.Build();
    return message.GetText();
}

int Send(int port, const std::string& password, const CString& message) {
    CSmtpClient client("example.com");
    client.SetTimeout(10000);
    client.SetFrom("Poston <poston@example.com>");
    client.AddTo("taro@example.org");
    client.SetAuth("tim", CString(password));
    const int result = client.SendMail("127.0.0.1", port, message);
    client.Close();
    return result;
}

const std::string Body = "「ぽすとん」にアクセスしました。\r\n"
                         "[ 総務部 ]の\r\n"
                         "[ 山田 太郎 ]さん\r\n"
                         "通知があった時間\r\n"
                         "2026年12月06日 10時15分\r\n"
                         "..NET班より\r\n"; // stuffed: the server takes one "." away

} // namespace

class SmtpServerTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SmtpServerTest, AuthenticatesAndDeliversAMessageThatDecodes) {
    const std::string mechanism = GetParam();
    SmtpServer server(mechanism);
    ASSERT_NE(server.port(), 0) << "the server did not start";

    EXPECT_EQ(Send(server.port(), "tanstaaftanstaaf",
                   Notification("受付 ぽすとん", "山田 太郎", "来訪のお知らせ", Body)),
              0);
    EXPECT_EQ(server.envelope(1), mechanism + "\nposton@example.com\ntaro@example.org\n");

    const Output python =
        RunTool({"/usr/bin/python3", PeerDir + "/check-message.py", server.messagePath(1)});
    EXPECT_EQ(python.status, 0);
    EXPECT_EQ(python.text,
              "Fields: From, To, Date, Subject, Content-Type, Content-Transfer-Encoding\n"
              "From: 受付 ぽすとん | poston@example.com\n"
              "To: 山田 太郎 | taro@example.org\n"
              "Subject: 来訪のお知らせ\n"
              "Type: text/plain iso-2022-jp\n"
              "Defects: 0\n"
              "Body:\n"
              "「ぽすとん」にアクセスしました。\n"
              "[ 総務部 ]の\n"
              "[ 山田 太郎 ]さん\n"
              "通知があった時間\n"
              "2026年12月06日 10時15分\n"
              ".NET班より\n"
              "\n");

    // A wrong password is refused by the server at that mechanism's step.
    const int refused = mechanism == "CRAM-MD5" ? -7 : mechanism == "LOGIN" ? -12 : -13;
    EXPECT_EQ(Send(server.port(), "wrong", Notification("a", "b", "c", "d\r\n")), refused);
}

INSTANTIATE_TEST_SUITE_P(EachMechanism, SmtpServerTest,
                         ::testing::Values("CRAM-MD5", "LOGIN", "PLAIN"), [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST(SmtpServerDecodingTest, NecAndIbmCharactersAndHalfWidthKanaReadBackInAMailReader) {
    SmtpServer server("CRAM-MD5,LOGIN,PLAIN");
    ASSERT_NE(server.port(), 0) << "the server did not start";
    const std::string visitor = "ｶﾞｸ 髙﨑①";
    ASSERT_EQ(Send(server.port(), "tanstaaftanstaaf",
                   Notification("受付", visitor, "来訪: " + visitor + " ﾊﾟｽ",
                                "[ " + visitor + " ]さん\r\n㈱ポストン Ⅲ ⅲ\r\n")),
              0);
    EXPECT_EQ(server.envelope(1).substr(0, 9), "CRAM-MD5\n");

    const Output node = RunTool({"node", PeerDir + "/decode-iso2022jp.js", server.messagePath(1)});
    EXPECT_EQ(node.status, 0);
    EXPECT_EQ(node.text, "From: 受付 <poston@example.com>\n"
                         "To: ガク 髙﨑① <taro@example.org>\n"
                         "Subject: 来訪: ガク 髙﨑① パス\n"
                         "Body:\n"
                         "[ ガク 髙﨑① ]さん\r\n"
                         "㈱ポストン Ⅲ ⅲ\r\n"
                         "\r\n");
}

TEST(SmtpServerTlsTest, ImplicitTlsCarriesALongSubjectThatDecodes) {
    char folder[] = "/tmp/poston-smtp-certs-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string certificates = folder;
    ASSERT_EQ(RunTool({"/usr/bin/python3", TLS_SMTP_PEER, "certs", certificates}).status, 0);
    ::setenv("SSL_CERT_FILE", (certificates + "/ca.pem").c_str(), 1);

    SmtpServer server("PLAIN", certificates);
    ASSERT_NE(server.port(), 0) << "the server did not start";
    std::string subject;
    for (int i = 0; i < 6; ++i)
        subject += "来訪のお知らせ・第" + std::to_string(i) + "便 ";
    CString words;
    NVKTL::ToEncodedWords(CString(subject), 69, words);
    NVKTL::CMailProtocol message;
    message.SetHeader("From", Word("受付") + std::string_view(" <poston@example.com>"));
    message.SetHeader("To", Word("山田 太郎") + std::string_view(" <taro@example.org>"));
    message.SetHeader("Subject", words);
    CString jis;
    NVKTL::ToJis(CString(Body), jis);
    message.SetBody(jis.c_str(), jis.GetLength());
    message.Build();

    CSmtpClient client("example.com");
    client.SetTimeout(10000);
    client.SetSecurity(CSmtpClient::Security::Tls);
    client.SetFrom("poston@example.com");
    client.AddTo("taro@example.org");
    client.SetAuth("tim", "tanstaaftanstaaf");
    EXPECT_EQ(client.SendMail("localhost", server.port(), message.GetText()), 0);
    client.Close();
    ::unsetenv("SSL_CERT_FILE");

    const Output node = RunTool({"node", PeerDir + "/decode-iso2022jp.js", server.messagePath(1)});
    EXPECT_EQ(node.status, 0);
    EXPECT_NE(node.text.find("Subject: " + subject + "\n"), std::string::npos) << node.text;
    std::error_code ignored;
    std::filesystem::remove_all(certificates, ignored);
}
