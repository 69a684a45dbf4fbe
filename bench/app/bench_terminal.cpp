// The terminal's speed and stamina, measured from outside through the real
// program: a base folder of its own (bin/, lib/, data/, var/), the simulated
// reader driven through its state file, a loopback SMTP peer (aiosmtpd) that
// writes one line per accepted mail.
//
//   bench_terminal [visits] [stamina-visits]     (defaults 50 and 2000)
//
// Figures:
// - start -> first visit recorded, with a card already on the reader (the
//   first screen is up and has polled once; includes that poll, up to 200 ms);
// - card placed -> visit recorded (the greeting screen writes the visit just
//   before it is shown): median and 95th percentile;
// - card placed -> notification accepted by the peer: median and 95th;
// - resident memory after 100 visits and after the stamina run.
#include "reader/felica-sim/CSimulatedReaderState.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& output, int* pipeOut) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry)
        env.emplace_back(*entry);
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int fds[2] = {-1, -1};
    if (pipeOut) {
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeOut) {
        ::close(fds[1]);
        *pipeOut = fds[0];
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs, int stepMs = 1) {
    const auto start = Clock::now();
    while (!condition()) {
        if (msSince(start) > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

class Base {
public:
    Base() {
        char pattern[] = "/tmp/poston-bench-XXXXXX";
        path = ::mkdtemp(pattern);
        for (const char* f : {"bin", "lib", "data", "var"})
            fs::create_directories(fs::path(path) / f);
        fs::copy_file(POSTON_PROGRAM, path + "/bin/poston");
        fs::copy_file(POSTON_READER_LIBRARY, path + "/lib/felica.so");
        fs::copy_file(POSTON_MASTER_MDB, data());
    }
    ~Base() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string data() const { return path + "/data/poston.mdb"; }

    void exec(const std::string& sql) const {
        sqlite3* db = nullptr;
        sqlite3_open(data().c_str(), &db);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    long count(const char* sql) const {
        sqlite3* db = nullptr;
        long n = -1;
        if (sqlite3_open_v2(data().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                n = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return n;
    }
    void card(const char* id) const {
        CSimulatedReaderState state;
        CSimulatedReaderState::Idm idm{};
        if (id && CSimulatedReaderState::parseCardId(id, idm))
            state.cards.push_back(idm);
        state.save(CSimulatedReaderState::fileFor(path));
    }

    std::string path;
};

std::size_t lineCount(const std::string& file) {
    std::ifstream in(file);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    return n;
}

long residentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void printPercentiles(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("%s: no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    std::printf("%s over %zu visits: median %.1f ms, 95th percentile %.1f ms, max %.1f ms\n", what,
                values.size(), at(0.5), at(0.95), values.back());
}

} // namespace

// A card counts as lifted after about a second without it (a single missed
// poll of a card that still lies there is not its removal); then the user
// confirmation screen is back.
constexpr auto kLifted = std::chrono::milliseconds(1400);

int main(int argc, char** argv) {
    const int visits = argc > 1 ? std::atoi(argv[1]) : 50;
    const int stamina = argc > 2 ? std::atoi(argv[2]) : 2000;
    const char* kCard = "0123456789ABCDEF";

    Base base;
    const std::string received = base.path + "/received.jsonl";
    int sinkOut = -1;
    const pid_t sink =
        spawn({"/usr/bin/python3", POSTON_SMTP_SINK, received, "3600"}, {}, &sinkOut);
    std::string portText;
    waitFor(
        [&] {
            char c;
            while (::read(sinkOut, &c, 1) == 1) {
                if (c == '\n')
                    return true;
                portText += c;
            }
            return false;
        },
        15000, 5);
    if (portText.empty()) {
        std::fprintf(stderr, "the SMTP peer did not start (python3-aiosmtpd)\n");
        stop(sink);
        return 1;
    }
    base.exec("INSERT INTO t_user VALUES ('00000000000000AD', '管理', NULL, 1, 1);"
              "INSERT INTO t_user VALUES ('0123456789ABCDEF', '山田 太郎', NULL, 2, 2);"
              "INSERT INTO t_mail VALUES ('0123456789ABCDEF', 'taro@example.jp');"
              "UPDATE t_def_data SET column_value = 'desk@example.jp' WHERE column_name = "
              "'mail_address';"
              "UPDATE t_def_data SET column_value = '127.0.0.1' WHERE column_name = "
              "'mail_server_ip';"
              "UPDATE t_def_data SET column_value = '" +
              portText + "' WHERE column_name = 'mail_server_port';");

    // Start with the card already on the reader.
    base.card(kCard);
    const auto started = Clock::now();
    const pid_t terminal =
        spawn({base.path + "/bin/poston"}, base.path + "/var/terminal.log", nullptr);
    const bool first =
        waitFor([&] { return base.count("SELECT COUNT(*) FROM t_login") >= 1; }, 30000);
    std::printf("start -> first visit recorded (card already on the reader): %.1f ms%s\n",
                msSince(started), first ? "" : " (timed out)");
    base.card(nullptr);
    waitFor([&] { return lineCount(received) >= 1; }, 10000);
    std::this_thread::sleep_for(kLifted);

    std::vector<double> greeting, mailed;
    long rssAt100 = -1;
    const int total = std::max(visits, stamina);
    for (int i = 0; i < total; ++i) {
        const long before = base.count("SELECT COUNT(*) FROM t_login");
        const std::size_t mailsBefore = lineCount(received);
        const auto placed = Clock::now();
        base.card(kCard);
        if (!waitFor([&] { return base.count("SELECT COUNT(*) FROM t_login") > before; }, 10000)) {
            std::printf("visit %d was not recorded within 10 s\n", i + 1);
            break;
        }
        const double toGreeting = msSince(placed);
        if (i < visits) {
            greeting.push_back(toGreeting);
            if (waitFor([&] { return lineCount(received) > mailsBefore; }, 10000))
                mailed.push_back(msSince(placed));
        }
        base.card(nullptr);
        std::this_thread::sleep_for(kLifted);
        if (i + 1 == 100)
            rssAt100 = residentKb(terminal);
    }
    printPercentiles("card placed -> visit recorded (greeting)", greeting);
    printPercentiles("card placed -> notification accepted", mailed);
    const long rssEnd = residentKb(terminal);
    if (rssAt100 > 0)
        std::printf("resident memory: %ld kB after 100 visits, %ld kB after %d visits (growth "
                    "%ld kB)\n",
                    rssAt100, rssEnd, total, rssEnd - rssAt100);
    waitFor([&] { return base.count("SELECT COUNT(*) FROM t_login WHERE ret_send = '1'") == 0; },
            20000, 20);
    std::printf("visits recorded %ld, mails accepted %zu, still due %ld\n",
                base.count("SELECT COUNT(*) FROM t_login"), lineCount(received),
                base.count("SELECT COUNT(*) FROM t_login WHERE ret_send = '1'"));
    stop(terminal);
    stop(sink);
    return 0;
}
