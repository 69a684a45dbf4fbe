// A morning rush through the send thread: visits of users with two addresses
// each arrive evenly over a period, each recorded as the first screen does
// (the visit and its deliveries in the data file, then a wake of the send
// thread), and are mailed through a loopback SMTP server that answers every
// line after a delay, as a server across the internet would. Prints the 50th
// and 95th percentile from card to mail accepted.
//
// Then the same number of visits waiting at once (a backlog): mails per
// second of the send thread, beside Python's smtplib sending the same mails
// one session each to the same server.
//
// Usage: bench_rush [visits=600] [seconds=600] [delay_ms=30]

#include "BenchData.h"
#include "BenchWindow.h"
#include "SmtplibRun.h"
#include "data/CDbAccess.h"
#include "delivery/CSendThread.h"
#include "nvktl/CTime.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A peer that answers every line after the delay, as a server across the
// internet does.
smtptest::PeerOptions answeringAfter(std::chrono::milliseconds delay) {
    smtptest::PeerOptions options;
    options.delay = delay;
    return options;
}

std::string userId(int i) {
    char id[32];
    std::snprintf(id, sizeof id, "%016X", 0x0456000u + static_cast<unsigned>(i));
    return id;
}

std::string address(int user, int which) {
    return "parent" + std::to_string(which) + ".of" + std::to_string(user) + "@example.jp";
}

// Settings for the delayed server and count users with two addresses each.
std::string seedUsers(sqlite3* db, int count, int port) {
    if (!execSql(db, "BEGIN") || !storeMailSettings(db, port))
        return "cannot store the settings";
    for (int i = 0; i < count; ++i) {
        const std::string id = userId(i);
        if (!bindAndRun(
                db,
                "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) "
                "VALUES (?, ?, ?, 2, ?)",
                {id, "山田 太郎" + std::to_string(i), address(i, 1), std::to_string(i + 1)}) ||
            !bindAndRun(db, "INSERT INTO t_mail (user_id, mail) VALUES (?, ?)",
                        {id, address(i, 1)}) ||
            !bindAndRun(db, "INSERT INTO t_mail (user_id, mail) VALUES (?, ?)",
                        {id, address(i, 2)}))
            return std::string("cannot add the users: ") + sqlite3_errmsg(db);
    }
    return execSql(db, "COMMIT") ? std::string() : "cannot commit the users";
}

// Records the visit of user as the first screen does, holding the data lock
// as the screen holds the user-interface thread; false when it is not stored.
bool recordVisit(BenchWindow& window, int user) {
    std::lock_guard<std::mutex> guard(window.dataLock());
    NVKTL::CTime now;
    now.SetNow();
    CString date;
    now.Format(date, "%Y%m%d%H%M%S%s");
    CString loginId;
    CDbAccess db;
    return db.addLogin(CString(userId(user)), date, loginId) == 0;
}

int userOf(const std::string& recipient) {
    const std::size_t of = recipient.find(".of");
    return of == std::string::npos ? -1 : std::atoi(recipient.c_str() + of + 3);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

// Every address mailed exactly once.
bool exactlyOnce(const std::vector<smtptest::Mail>& mails, int users) {
    std::map<std::string, int> seen;
    for (const auto& mail : mails)
        ++seen[mail.recipient];
    if (seen.size() != static_cast<std::size_t>(users) * 2)
        return false;
    return std::all_of(seen.begin(), seen.end(),
                       [](const auto& entry) { return entry.second == 1; });
}

int rush(int visits, double seconds, std::chrono::milliseconds delay,
         std::vector<std::string>& messages) {
    smtptest::ScriptedSmtpPeer peer(smtptest::Replies{}, answeringAfter(delay));
    BenchDataFile data;
    std::string error = data.error.empty() ? seedUsers(data.db, visits, peer.port()) : data.error;
    if (peer.port() == 0)
        error = "the SMTP server could not listen";
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    CDbAccess::setDataFolder(data.folder.string());

    std::printf("Rush: %d visits, 2 addresses each, over %.0f s; the server answers every line "
                "after %lld ms\n",
                visits, seconds, static_cast<long long>(delay.count()));
    std::fflush(stdout);
    BenchWindow window;
    std::vector<Clock::time_point> cardAt(static_cast<std::size_t>(visits));
    int unrecorded = 0;
    {
        CSendThread thread;
        thread.setWindow(&window);
        const auto start = Clock::now();
        for (int i = 0; i < visits; ++i) {
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds * i / visits)));
            cardAt[static_cast<std::size_t>(i)] = Clock::now();
            if (!recordVisit(window, i))
                ++unrecorded;
            thread.wake();
        }
        if (!peer.waitForMails(static_cast<std::size_t>(visits) * 2, std::chrono::seconds(600)))
            std::printf("  not every mail arrived within 600 s after the last visit\n");
        thread.resetWindow();
    }
    const std::vector<smtptest::Mail> mails = peer.mails();
    std::vector<double> latencies;
    for (const auto& mail : mails) {
        const int user = userOf(mail.recipient);
        if (user >= 0 && user < visits)
            latencies.push_back(
                std::chrono::duration<double>(mail.at - cardAt[static_cast<std::size_t>(user)])
                    .count());
        messages.push_back(mail.message);
    }
    std::printf("  card -> mail accepted: p50 %.3f s, p95 %.3f s, max %.3f s (%zu mails, %zu "
                "SMTP sessions, %d visits not recorded, every address once: %s)\n",
                percentile(latencies, 0.50), percentile(latencies, 0.95),
                percentile(latencies, 1.0), mails.size(), peer.connections(), unrecorded,
                exactlyOnce(mails, visits) ? "yes" : "NO");
    return 0;
}

int backlog(int visits, std::chrono::milliseconds delay, const std::vector<std::string>& messages) {
    smtptest::ScriptedSmtpPeer peer(smtptest::Replies{}, answeringAfter(delay));
    BenchDataFile data;
    std::string error = data.error.empty() ? seedUsers(data.db, visits, peer.port()) : data.error;
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    CDbAccess::setDataFolder(data.folder.string());
    BenchWindow window;
    for (int i = 0; i < visits; ++i) {
        if (!recordVisit(window, i)) {
            std::fprintf(stderr, "cannot record the backlog's visits\n");
            return 1;
        }
    }
    const std::size_t mails = static_cast<std::size_t>(visits) * 2;
    double threadSeconds = -1;
    {
        CSendThread thread;
        const auto start = Clock::now();
        thread.setWindow(&window);
        if (peer.waitForMails(mails, std::chrono::seconds(1800)))
            threadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        thread.resetWindow();
    }

    const std::string messagesFile = (data.folder / "messages").string();
    {
        std::ofstream out(messagesFile, std::ios::binary);
        for (const std::string& message : messages)
            out << message << '\0';
    }
    smtptest::ScriptedSmtpPeer smtplibPeer(smtptest::Replies{}, answeringAfter(delay));
    const double smtplib =
        smtplibSeconds(smtplibPeer.port(), messagesFile, "poston@sender.example.jp",
                       "parent1.of0@example.jp", "sender.example.jp");
    std::printf("Backlog: %zu mails waiting at once, same server\n", mails);
    if (threadSeconds > 0)
        std::printf("  send thread (C++)      %8.2f mails/s  (%.1f s, %zu SMTP sessions)\n",
                    static_cast<double>(mails) / threadSeconds, threadSeconds, peer.connections());
    else
        std::printf("  send thread (C++)      did not finish\n");
    if (smtplib > 0)
        std::printf(
            "  Python smtplib         %8.2f mails/s  (%zu mails, one session each, %.1f s)\n",
            static_cast<double>(messages.size()) / smtplib, messages.size(), smtplib);
    else
        std::printf("  Python smtplib         failed (needs /usr/bin/python3)\n");
    return threadSeconds > 0 && smtplib > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const int visits = argc > 1 ? std::atoi(argv[1]) : 600;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 600;
    const auto delay = std::chrono::milliseconds(argc > 3 ? std::atoi(argv[3]) : 30);
    if (visits <= 0 || seconds < 0 || delay.count() < 0) {
        std::fprintf(stderr, "usage: bench_rush [visits] [seconds] [delay_ms]\n");
        return 2;
    }
    std::vector<std::string> messages;
    if (const int failed = rush(visits, seconds, delay, messages); failed != 0)
        return failed;
    std::fflush(stdout);
    return backlog(visits, delay, messages);
}
