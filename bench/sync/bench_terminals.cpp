// Two terminals of one server, measured from outside through the real
// programs: each on a base folder of its own with the simulated reader, the
// server (a throw-away cluster) behind a proxy that holds every packet for
// 15 ms each way, the SMTP peer answering every command after 30 ms.
//
//   bench_terminals [visits] [away-visits] [lift-ms]   (defaults 600, 60, 1300)
//
// Each terminal greets visits one after another, a card laid until the visit
// is stored and lifted for lift-ms (the greeting ends after five polls
// without a card, about a second); then the server is cut off for away-visits more each and
// let in again. Figures per terminal: card laid -> greeting shown and visit
// stored (median, 95th percentile), with the server reachable and away;
// card laid -> mail accepted (reachable); duplicates and losses at the end.
#include "bench/support/BenchProcess.h"
#include "reader/felica-sim/CSimulatedReaderState.h"
#include "tools/delay-proxy/CDelayProxy.h"
#include "tools/pg-test-cluster/CPgTestCluster.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Ms = std::vector<double>;

namespace {

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& log,
            const std::string& instance = {}) {
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
    if (!instance.empty())
        env.push_back("POSTON_INSTANCE_NAME=" + instance);
    return bench::spawnProcess(argv, env, log);
}

int finish(pid_t pid, bool kill) {
    if (kill)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto start = Clock::now();
    while (!condition()) {
        if (msBetween(start, Clock::now()) > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

long count(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    long n = -1;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
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

void percentiles(const std::string& what, Ms values, const char* goal) {
    if (values.empty()) {
        std::printf("%s: no samples\n", what.c_str());
        return;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    std::printf("%s over %zu visits: median %.1f ms, 95th percentile %.1f ms, max %.1f ms (goal: "
                "95th %s)\n",
                what.c_str(), values.size(), at(0.5), at(0.95), values.back(), goal);
}

struct Terminal {
    Terminal(const char* name, const char* card) : name(name), card(card) {
        char pattern[] = "/tmp/poston-bench-XXXXXX";
        base = std::string(::mkdtemp(pattern)) + "/";
        for (const char* folder : {"bin", "lib", "data", "var"})
            fs::create_directories(base + folder);
        for (const char* program : {"poston", "poston-server"})
            fs::copy_file(std::string(POSTON_PROGRAMS) + "/" + program, base + "bin/" + program);
        fs::copy_file(POSTON_READER_LIBRARY, base + "lib/felica.so");
        fs::copy_file(POSTON_MASTER_MDB, data());
    }
    ~Terminal() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
    std::string data() const { return base + "data/poston.mdb"; }
    long visits() const { return count(data(), "SELECT count(*) FROM t_login"); }
    void lay(bool on) const {
        CSimulatedReaderState state;
        CSimulatedReaderState::Idm idm{};
        if (on && CSimulatedReaderState::parseCardId(card, idm))
            state.cards.push_back(idm);
        state.save(CSimulatedReaderState::fileFor(base));
    }
    // Visits one after another; the moment each card was laid, and how long
    // until its visit was stored.
    void run(int count, int liftMs, Ms& greeting, std::vector<Clock::time_point>& laid) const {
        for (int i = 0; i < count; ++i) {
            const long before = visits();
            const auto at = Clock::now();
            lay(true);
            if (!waitFor([&] { return visits() > before; }, 10000)) {
                std::printf("%s: a visit was not stored within 10 s\n", name.c_str());
                lay(false);
                return;
            }
            greeting.push_back(msBetween(at, Clock::now()));
            laid.push_back(at);
            lay(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(liftMs));
        }
    }

    std::string name, card, base;
    Ms greetingReachable, greetingAway;
    std::vector<Clock::time_point> laid, laidAway;
};

} // namespace

int main(int argc, char** argv) {
    const int visits = argc > 1 ? std::atoi(argv[1]) : 600;
    const int away = argc > 2 ? std::atoi(argv[2]) : 60;
    const int liftMs = argc > 3 ? std::atoi(argv[3]) : 1300;

    iotest::CPgTestCluster cluster;
    if (!cluster.ready() || !cluster.freshDatabase("poston")) {
        std::fprintf(stderr, "the PostgreSQL cluster did not start (package postgresql)\n");
        return 1;
    }
    iotest::CDelayProxy proxy(cluster.folder() + ".s.PGSQL." + std::to_string(cluster.port()), 15);
    smtptest::PeerOptions options;
    options.delay = std::chrono::milliseconds(30);
    smtptest::ScriptedSmtpPeer peer(smtptest::Replies{}, options);
    const std::string uri =
        "postgresql://postgres@127.0.0.1:" + std::to_string(proxy.port()) + "/poston";

    Terminal a("入口", "00000000000000A1"), b("出口", "00000000000000B2");
    sqlite3* db = nullptr;
    sqlite3_open(a.data().c_str(), &db);
    const std::string seed =
        "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
        "('00000000000000AD', '管理', NULL, 1, 1);"
        "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
        "('00000000000000A1', '一郎', NULL, 2, 2);"
        "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
        "('00000000000000B2', '二郎', NULL, 2, 3);"
        "INSERT INTO t_mail VALUES ('00000000000000A1', 'a@x.jp'), ('00000000000000B2', "
        "'b@x.jp');"
        "UPDATE t_def_data SET column_value = 'desk@x.jp' WHERE column_name = 'mail_address';"
        "UPDATE t_def_data SET column_value = '127.0.0.1' WHERE column_name = 'mail_server_ip';"
        "UPDATE t_def_data SET column_value = '" +
        std::to_string(peer.port()) + "' WHERE column_name = 'mail_server_port';";
    sqlite3_exec(db, seed.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    for (Terminal* t : {&a, &b})
        if (finish(spawn({t->base + "bin/poston-server", "use", uri, "--name", t->name},
                         t->base + "var/server.log"),
                   false) != 0) {
            std::fprintf(stderr, "poston-server use failed: see %svar/server.log\n",
                         t->base.c_str());
            return 1;
        }
    std::vector<pid_t> running;
    for (Terminal* t : {&a, &b})
        running.push_back(spawn({t->base + "bin/poston"}, t->base + "var/terminal.log", t->base));
    // Both are up once a first visit of each is stored (not measured).
    for (Terminal* t : {&a, &b}) {
        Ms ignored;
        std::vector<Clock::time_point> none;
        t->run(1, liftMs + 400, ignored, none);
    }
    peer.waitForMails(2, std::chrono::seconds(30));

    const auto started = Clock::now();
    std::thread second([&] { b.run(visits, liftMs, b.greetingReachable, b.laid); });
    a.run(visits, liftMs, a.greetingReachable, a.laid);
    second.join();
    const double reachableMinutes = msBetween(started, Clock::now()) / 60000;

    proxy.cut();
    std::thread secondAway([&] { b.run(away, liftMs, b.greetingAway, b.laidAway); });
    a.run(away, liftMs, a.greetingAway, a.laidAway);
    secondAway.join();
    proxy.resume();

    const std::size_t expected =
        2 + a.laid.size() + b.laid.size() + a.laidAway.size() + b.laidAway.size();
    peer.waitForMails(expected, std::chrono::seconds(300));
    for (Terminal* t : {&a, &b}) {
        percentiles(t->name + ": card laid -> greeting shown and visit stored, server reachable",
                    t->greetingReachable, "< 150 ms");
        percentiles(t->name + ": card laid -> greeting shown and visit stored, server away",
                    t->greetingAway, "< 150 ms");
        // The n-th mail to a terminal's pupil is the n-th visit it greeted.
        std::vector<Clock::time_point> accepted;
        for (const auto& mail : peer.mails())
            if (mail.recipient.find(t == &a ? "a@x.jp" : "b@x.jp") != std::string::npos)
                accepted.push_back(mail.at);
        Ms toMail;
        for (std::size_t i = 0; i < t->laid.size() && i + 1 < accepted.size(); ++i)
            toMail.push_back(msBetween(t->laid[i], accepted[i + 1]));
        percentiles(t->name + ": card laid -> mail accepted, server reachable", toMail,
                    "< 5000 ms");
    }
    long serverVisits = 0, deliveries = 0, sent = 0;
    const long recordedAll = a.visits() + b.visits();
    // The last outcomes reach the server a few round trips after their mails.
    waitFor(
        [&] {
            std::string onServer;
            cluster.psql("poston",
                         "SELECT count(DISTINCT b.login_id) || ' ' || count(s.send_id) || ' ' || "
                         "count(s.send_id) FILTER (WHERE s.state = '2') FROM t_login b LEFT "
                         "JOIN t_send s USING (login_id)",
                         &onServer);
            std::sscanf(onServer.c_str(), "%ld %ld %ld", &serverVisits, &deliveries, &sent);
            return serverVisits == recordedAll && sent == deliveries;
        },
        60000);
    const long recorded = a.visits() + b.visits();
    const long mails = static_cast<long>(peer.mails().size());
    std::printf("%.1f minutes for %d visits per terminal with the server reachable, then %d "
                "each with it away\n",
                reachableMinutes, visits, away);
    std::printf("visits recorded %ld, on the server %ld; deliveries %ld, sent %ld; mails "
                "accepted %ld: duplicates %ld, losses %ld (goal: 0 and 0)\n",
                recorded, serverVisits, deliveries, sent, mails, std::max(0L, mails - deliveries),
                (recorded - serverVisits) + (deliveries - sent));
    for (pid_t pid : running)
        finish(pid, true);
    return 0;
}
