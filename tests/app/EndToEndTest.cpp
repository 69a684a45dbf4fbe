// The terminal as a person runs it: the real program on a base folder of its
// own (bin/, lib/, data/, var/), the simulated reader driven by poston-card,
// and a loopback SMTP peer that decodes what arrives.
#include "AppTestSupport.h"

#include "app/CInstanceLock.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <regex>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr const char* kAdministrator = "00000000000000AD";
constexpr const char* kVisitor = "0123456789ABCDEF";

// A child process, killed (if still running) and reaped when it goes.
class Child {
public:
    // Starts argv with extra environment entries; its output goes to
    // outputFile, or to a pipe whose read end output() gives.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          const std::string& outputFile = {}) {
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry)
            env.emplace_back(*entry);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> args, envp;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        for (const std::string& entry : env)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipeFds[2] = {-1, -1};
        if (outputFile.empty()) {
            if (::pipe2(pipeFds, O_CLOEXEC) == 0) {
                posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
                m_output = pipeFds[0];
            }
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0600);
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        }
        if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pipeFds[1] >= 0)
            ::close(pipeFds[1]);
    }
    ~Child() {
        kill(SIGKILL);
        if (m_output >= 0)
            ::close(m_output);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }

    // Sends signal and reaps the child; its exit status, or -1.
    int kill(int signal) {
        if (m_pid <= 0)
            return m_status;
        ::kill(m_pid, signal);
        return wait();
    }
    int wait() {
        if (m_pid <= 0)
            return m_status;
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        m_status = status;
        return status;
    }
    bool running() {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = status;
            return false;
        }
        return true;
    }

    // One line of the child's output through the pipe, waiting at most
    // timeoutMs.
    std::string readLine(int timeoutMs) {
        std::string line;
        QElapsedTimer clock;
        clock.start();
        ::fcntl(m_output, F_SETFL, O_NONBLOCK);
        while (clock.elapsed() < timeoutMs) {
            char c = 0;
            const ssize_t got = ::read(m_output, &c, 1);
            if (got == 1) {
                if (c == '\n')
                    return line;
                line += c;
            } else if (got == 0) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return line;
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
    int m_output = -1;
};

// Waits for condition, at most timeoutMs.
bool eventually(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> lines(const std::string& file) {
    std::vector<std::string> out;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out.push_back(line);
    return out;
}

// The value of a string field of a one-line JSON object written by the sink
// (the sink writes the texts as they are, with JSON escapes only for quotes,
// backslashes and control characters).
std::string field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\": \"";
    std::size_t at = json.find(key);
    if (at == std::string::npos)
        return {};
    std::string value;
    for (at += key.size(); at < json.size() && json[at] != '"'; ++at) {
        if (json[at] == '\\' && at + 1 < json.size()) {
            const char escaped = json[++at];
            value += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped;
        } else {
            value += json[at];
        }
    }
    return value;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"bin", "lib", "data", "var"})
            ::mkdir((base + folder).c_str(), 0700);
        copyFileTo(POSTON_PROGRAM, program());
        copyFileTo(POSTON_CARD_PROGRAM, base + "bin/poston-card");
        copyFileTo(POSTON_READER_LIBRARY, base + "lib/felica.so");
        // Only the data file: no master file, so start-up has nothing to
        // migrate.
        copyFileTo(builtMasterFile(), dataFile());
        sqlExec(dataFile(),
                "INSERT INTO t_user VALUES ('00000000000000AD', '管理 花子', NULL, 1, 1);"
                "INSERT INTO t_user VALUES ('0123456789ABCDEF', '山田 太郎', NULL, 2, 2);"
                "INSERT INTO t_mail VALUES ('0123456789ABCDEF', 'taro@example.jp');"
                "INSERT INTO t_mail VALUES ('0123456789ABCDEF', 'taro.m@example.jp');"
                "UPDATE t_def_data SET column_value = '受付' WHERE column_name = 'mail_user';"
                "UPDATE t_def_data SET column_value = 'desk@example.jp' "
                "  WHERE column_name = 'mail_address';"
                "UPDATE t_def_data SET column_value = '来訪のお知らせ' "
                "  WHERE column_name = 'mail_subject';"
                "UPDATE t_def_data SET column_value = '127.0.0.1' "
                "  WHERE column_name = 'mail_server_ip';");
    }
    void TearDown() override { removeTree(base); }

    std::string program() const { return base + "bin/poston"; }
    std::string dataFile() const { return base + "data/poston.mdb"; }
    // The terminal's single-instance name, its own for this test.
    std::string instance = uniqueInstanceName();
    bool lockHeld() const {
        CInstanceLock probe;
        return probe.tryLock(instance) == CInstanceLock::Result::HeldElsewhere;
    }

    void pointMailAt(int port) {
        sqlExec(dataFile(), "UPDATE t_def_data SET column_value = '" + std::to_string(port) +
                                "' WHERE column_name = 'mail_server_port'");
    }

    // The loopback SMTP peer; returns its port, or 0.
    int startSink() {
        sink = std::make_unique<Child>(
            std::vector<std::string>{"/usr/bin/python3", POSTON_SMTP_SINK, received, "120"},
            std::vector<std::string>{});
        if (!sink->started())
            return 0;
        const std::string port = sink->readLine(15000);
        return port.empty() ? 0 : std::stoi(port);
    }

    std::unique_ptr<Child> startTerminal() {
        auto terminal =
            std::make_unique<Child>(std::vector<std::string>{program()},
                                    std::vector<std::string>{"QT_QPA_PLATFORM=offscreen",
                                                             "POSTON_INSTANCE_NAME=" + instance},
                                    base + "var/terminal.log");
        // Running once it holds its lock.
        EXPECT_TRUE(eventually([&] { return lockHeld(); }, 15000));
        return terminal;
    }

    int card(const std::vector<std::string>& words) {
        std::vector<std::string> argv{base + "bin/poston-card"};
        argv.insert(argv.end(), words.begin(), words.end());
        Child tool(argv, {}, base + "var/poston-card.log");
        return tool.wait();
    }

    std::string state(const std::string& loginId) {
        const SqlRows rows =
            sqlQuery(dataFile(), "SELECT ret_send FROM t_login WHERE login_id = " + loginId);
        return rows.empty() ? std::string() : rows[0][0];
    }
    SqlRows visits() {
        return sqlQuery(dataFile(), "SELECT login_id, user_id, login_date, ret_send FROM t_login");
    }

    std::string base = makeTempFolder("poston-e2e-");
    std::string received = base + "received.jsonl";
    std::unique_ptr<Child> sink;
};

TEST_F(EndToEndTest, APresentedCardGreetsRecordsAndMailsEveryAddressOfTheVisitor) {
    const int port = startSink();
    ASSERT_GT(port, 0);
    pointMailAt(port);
    auto terminal = startTerminal();
    ASSERT_TRUE(terminal->running());

    ASSERT_EQ(card({"put", kVisitor}), 0);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(eventually([&] { return lines(received).size() >= 2; }, 20000))
        << "terminal output in " << base << "var/terminal.log";
    std::printf("[ figures  ] card placed -> both notifications accepted: %lld ms\n",
                static_cast<long long>(clock.elapsed()));

    const SqlRows visit = visits();
    ASSERT_EQ(visit.size(), 1u);
    EXPECT_EQ(visit[0][1], kVisitor);
    const std::string loginDate = visit[0][2];
    ASSERT_EQ(loginDate.size(), 17u);
    EXPECT_TRUE(eventually([&] { return state(visit[0][0]) == "2"; }, 10000));

    const std::vector<std::string> mails = lines(received);
    ASSERT_EQ(mails.size(), 2u);
    std::vector<std::string> recipients;
    const std::string visitTime = loginDate.substr(0, 4) + "年" + loginDate.substr(4, 2) + "月" +
                                  loginDate.substr(6, 2) + "日 " + loginDate.substr(8, 2) + "時" +
                                  loginDate.substr(10, 2) + "分";
    for (const std::string& mail : mails) {
        recipients.push_back(mail.substr(mail.find("\"rcpt_tos\": [\"") + 14).substr(0, 40));
        EXPECT_EQ(field(mail, "mail_from"), "desk@example.jp");
        EXPECT_EQ(field(mail, "from"), "受付 <desk@example.jp>");
        EXPECT_EQ(field(mail, "subject"), "来訪のお知らせ");
        // The five lines; the line break that ends the data is the peer's.
        std::string body = field(mail, "body");
        while (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0)
            body.resize(body.size() - 2);
        EXPECT_EQ(body, "「ぽすとん」にアクセスしました。\r\n"
                        "[ 一般 ]の\r\n"
                        "[ 山田 太郎 ]さん\r\n"
                        "通知があった時間\r\n" +
                            visitTime);
        EXPECT_NE(field(mail, "to").find("山田 太郎 <"), std::string::npos);
    }
    std::sort(recipients.begin(), recipients.end());
    EXPECT_EQ(recipients[0].rfind("taro.m@example.jp\"", 0), 0u);
    EXPECT_EQ(recipients[1].rfind("taro@example.jp\"", 0), 0u);

    // The card lifted for longer than a missed poll, the terminal goes back
    // to waiting; the next touch is a new visit.
    ASSERT_EQ(card({"remove"}), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    ASSERT_TRUE(terminal->running());
    ASSERT_EQ(card({"put", kVisitor}), 0);
    EXPECT_TRUE(eventually([&] { return visits().size() == 2; }, 10000));
    EXPECT_TRUE(eventually([&] { return lines(received).size() == 4; }, 10000));

    // Killed outright: the lock goes with the process, and the next start
    // works.
    terminal->kill(SIGKILL);
    EXPECT_FALSE(lockHeld());
    ASSERT_EQ(card({"remove"}), 0);
    auto next = startTerminal();
    EXPECT_TRUE(next->running());
}

TEST_F(EndToEndTest, AVisitShownBeforeTheProgramWasKilledIsMailedAfterTheRestart) {
    // A peer that accepts connections and never greets keeps the first
    // notification in flight until the program is killed.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    pointMailAt(ntohs(address.sin_port));

    auto terminal = startTerminal();
    ASSERT_EQ(card({"put", kVisitor}), 0);
    ASSERT_TRUE(eventually([&] { return visits().size() == 1; }, 10000));
    terminal->kill(SIGKILL);
    ::close(silent);
    ASSERT_EQ(card({"remove"}), 0);

    const SqlRows visit = visits();
    ASSERT_EQ(visit.size(), 1u);
    EXPECT_EQ(visit[0][3], "1");

    const int port = startSink();
    ASSERT_GT(port, 0);
    pointMailAt(port);
    auto restarted = startTerminal();
    EXPECT_TRUE(eventually([&] { return lines(received).size() == 2; }, 20000));
    EXPECT_TRUE(eventually([&] { return state(visit[0][0]) == "2"; }, 10000));
    EXPECT_EQ(visits().size(), 1u);
}

} // namespace
