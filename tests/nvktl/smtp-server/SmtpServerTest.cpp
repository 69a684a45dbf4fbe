// The SMTP client against a real, independent SMTP server (the npm package
// smtp-server, started here on 127.0.0.1), once with each AUTH mechanism; the
// received messages are read back with independent decoders: Python's email
// package and the WHATWG ISO-2022-JP decoder of Node.
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

namespace {

const std::string PeerDir = SMTP_PEER_DIR;
constexpr int WaitMs = 20000;

// A child process with pipes to its standard input and output.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (::posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        closeInput();
        if (m_out >= 0)
            ::close(m_out);
        wait();
    }

    bool started() const { return m_pid > 0; }
    void closeInput() {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
    }

    // One line of output without its line end; false at the end or after WaitMs.
    bool readLine(std::string& line) {
        for (;;) {
            const std::size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return true;
            }
            if (!readMore())
                return false;
        }
    }
    // All output until the child closes it (at most WaitMs per read).
    std::string readAll() {
        while (readMore()) {
        }
        return std::exchange(m_buffer, std::string());
    }

    // The exit status; the child is killed when it has not ended in WaitMs.
    int wait() {
        if (m_pid <= 0)
            return m_status;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > limit) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_status;
    }

private:
    bool readMore() {
        pollfd p{m_out, POLLIN, 0};
        if (m_out < 0 || ::poll(&p, 1, WaitMs) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_status = -1;
    std::string m_buffer;
};

struct Output {
    int status;
    std::string text;
};

Output RunTool(const std::vector<std::string>& argv) {
    Child child(argv);
    child.closeInput();
    std::string text = child.readAll();
    return {child.wait(), text};
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The server in a fresh folder of its own, offering the given mechanisms.
class SmtpServer {
public:
    explicit SmtpServer(const std::string& methods) {
        char folder[] = "/tmp/poston-smtp-XXXXXX";
        if (::mkdtemp(folder))
            m_dir = folder;
        m_child = std::make_unique<Child>(
            std::vector<std::string>{"node", PeerDir + "/server.js", m_dir, methods});
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
