// The office's view on a data file of 1,000,000 visits (a year of them, two
// addresses each) and 10,000 pupils:
//  - the history screen's first page of one day, a whole day, and one pupil
//    found by name over the year;
//  - the whole history saved as a spreadsheet file, with the memory it took;
//  - a roster file of 10,000 pupils and 20,000 addresses read, previewed and
//    stored into an empty file, then read again unchanged.
#include "admin/CHistoryDlg.h"
#include "admin/HistoryCsv.h"
#include "admin/RosterCsv.h"
#include "bench/support/BenchTiming.h"
#include "data/CDbAccess.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using bench::median;
using bench::millisecondsOf;

namespace {

constexpr int kPupils = 10'000;
constexpr int kVisits = 1'000'000;
constexpr int kGroups = 20;

// A line of /proc/self/status in kB: VmRSS now, VmHWM the peak.
long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::string(key).size() + 1);
    return 0;
}

void run(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
        std::exit(1);
    }
}

std::string cardOf(int pupil) {
    char id[24];
    std::snprintf(id, sizeof id, "%016X", 0x1000 + pupil);
    return id;
}

// The pupils, their addresses and a year of visits (2026), each with two
// deliveries, nearly all sent.
void seed(const std::string& file) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    run(db, "PRAGMA synchronous=OFF");
    run(db, "BEGIN");
    for (int g = 3; g < 3 + kGroups; ++g) {
        const std::string sql = "INSERT INTO t_group (group_id, group_name, order_id) VALUES (" +
                                std::to_string(g) + ", '" + std::to_string(g) + "組', " +
                                std::to_string(g) + ")";
        run(db, sql.c_str());
    }
    sqlite3_stmt* user = nullptr;
    sqlite3_stmt* mail = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t_user VALUES (?1, ?2, ?3, ?4, ?5, NULL)", -1, &user,
                       nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO t_mail VALUES (?1, ?2)", -1, &mail, nullptr);
    for (int p = 0; p < kPupils; ++p) {
        const std::string id = cardOf(p), name = "生徒 " + std::to_string(100000 + p);
        const std::string first = "p" + std::to_string(p) + "@example.jp";
        sqlite3_bind_text(user, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(user, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(user, 3, first.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(user, 4, 3 + p % kGroups);
        sqlite3_bind_int(user, 5, p + 1);
        sqlite3_step(user);
        sqlite3_reset(user);
        for (const std::string& address : {first, "q" + std::to_string(p) + "@example.jp"}) {
            sqlite3_bind_text(mail, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(mail, 2, address.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(mail);
            sqlite3_reset(mail);
        }
    }
    sqlite3_finalize(user);
    sqlite3_finalize(mail);
    sqlite3_stmt* visit = nullptr;
    sqlite3_stmt* send = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO t_login (login_id, user_id, login_date, ret_send, "
                       "ret_send_date) VALUES (?1, ?2, ?3, '2', ?3)",
                       -1, &visit, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries, "
                       "sent_date) VALUES (?1, ?2, 'x', 'y', '2', 0, ?3)",
                       -1, &send, nullptr);
    const long long yearMs = 365LL * 24 * 3600 * 1000;
    for (int v = 0; v < kVisits; ++v) {
        const int pupil = int((v * 7919LL) % kPupils);
        const long long ms = yearMs * v / kVisits;
        const long long days = ms / 86'400'000, rest = ms % 86'400'000;
        // Day of the year to a date, months of 30 days and some: close enough
        // for a spread of stamps that sort as times.
        const int month = int(days / 31) + 1, day = int(days % 31) + 1;
        char stamp[24];
        std::snprintf(stamp, sizeof stamp, "2026%02d%02d%02lld%02lld%02lld%03lld", month, day,
                      rest / 3'600'000, rest / 60'000 % 60, rest / 1000 % 60, rest % 1000);
        const std::string id = cardOf(pupil);
        sqlite3_bind_int(visit, 1, v + 1);
        sqlite3_bind_text(visit, 2, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(visit, 3, stamp, -1, SQLITE_TRANSIENT);
        sqlite3_step(visit);
        sqlite3_reset(visit);
        for (const char* prefix : {"p", "q"}) {
            const std::string address = prefix + std::to_string(pupil) + "@example.jp";
            sqlite3_bind_int(send, 1, v + 1);
            sqlite3_bind_text(send, 2, address.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(send, 3, stamp, -1, SQLITE_TRANSIENT);
            sqlite3_step(send);
            sqlite3_reset(send);
        }
    }
    sqlite3_finalize(visit);
    sqlite3_finalize(send);
    run(db, "COMMIT");
    run(db, "ANALYZE");
    sqlite3_close(db);
}

// Every page of the filter, as the screen reads them: the visits read.
long long readAll(CDbAccess::HistoryFilter filter, int limit, bool firstOnly) {
    CDbAccess db;
    long long visits = 0;
    for (;;) {
        NVKTL::vector<CMapStringToString*> rows;
        if (db.getHistory(filter, limit, &rows) != 0)
            return visits;
        std::vector<std::vector<std::string>> lines;
        HistoryCsv::collect(rows, lines);
        db.releaseVector(&rows);
        visits += (long long)lines.size();
        if (firstOnly)
            return visits;
    }
}

void report(const char* what, double value, const char* unit, const char* goal) {
    std::printf("%-58s %10.1f %-3s (goal: %s)\n", what, value, unit, goal);
}

} // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "poston-bench-office-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const std::string folder = pattern + "/";
    fs::create_directories(folder + "history");
    fs::create_directories(folder + "import");
    fs::copy_file(POSTON_MASTER_MDB, folder + "history/poston.mdb");
    fs::copy_file(POSTON_MASTER_MDB, folder + "import/poston.mdb");
    std::printf("Seeding %d visits of %d pupils...\n", kVisits, kPupils);
    seed(folder + "history/poston.mdb");
    // The seed's half a gigabyte goes to disk now, not while the export is timed.
    ::sync();
    CDbAccess::setDataFolder(CString(folder + "history/"));

    CDbAccess::HistoryFilter day;
    day.from = "20260615040000000";
    day.beforeDate = "20260616040000000";
    CDbAccess::HistoryFilter pupil;
    pupil.from = "20260101040000000";
    pupil.beforeDate = "20270101040000000";
    pupil.namePart = "生徒 104242";
    std::vector<double> firstPage, wholeDay, onePupil;
    long long dayVisits = 0, pupilVisits = 0;
    for (int i = 0; i < 7; ++i) {
        firstPage.push_back(millisecondsOf([&] { readAll(day, CHistoryDlg::kPageVisits, true); }));
        wholeDay.push_back(
            millisecondsOf([&] { dayVisits = readAll(day, CHistoryDlg::kPageVisits, false); }));
        onePupil.push_back(
            millisecondsOf([&] { pupilVisits = readAll(pupil, CHistoryDlg::kPageVisits, false); }));
    }
    std::printf("A day holds %lld visits; the pupil has %lld in the year.\n", dayVisits,
                pupilVisits);
    report("history: one day, the screen's first page (median)", median(firstPage), "ms",
           "< 100 ms");
    report("history: one day, every page (median)", median(wholeDay), "ms", "< 100 ms");
    report("history: one pupil by name over a year (median)", median(onePupil), "ms", "< 100 ms");

    CDbAccess::HistoryFilter everything;
    everything.from = "0";
    everything.beforeDate = "99999999999999999";
    const long before = statusKb("VmRSS");
    long long written = 0;
    HistoryCsv::Result result = HistoryCsv::Result::Failed;
    const double exportMs = millisecondsOf([&] {
        CDbAccess db;
        std::ofstream out(folder + "history.csv", std::ios::binary);
        result = HistoryCsv::write(db, everything, out, [&](long long visits, const CString&) {
            written = visits;
            return true;
        });
    });
    const long peak = statusKb("VmHWM");
    std::printf("Saved %lld visits (%s), %.1f MB.\n", written,
                result == HistoryCsv::Result::Written ? "whole" : "FAILED",
                double(fs::file_size(folder + "history.csv")) / 1e6);
    report("whole history saved as a spreadsheet file", exportMs / 1000, "s", "< 10 s");
    report("memory growth while saving (peak RSS over the start)", double(peak - before) / 1024,
           "MB", "< 50 MB");

    RosterCsv::Roster roster;
    {
        CDbAccess db;
        RosterCsv::load(db, roster);
    }
    const std::string file = RosterCsv::write(roster);
    CDbAccess::setDataFolder(CString(folder + "import/"));
    int stored = -1;
    std::size_t pupils = 0;
    const double importMs = millisecondsOf([&] {
        CDbAccess db;
        RosterCsv::Roster empty;
        RosterCsv::load(db, empty);
        const RosterCsv::Preview preview = RosterCsv::read(file, empty);
        pupils = preview.changes().size();
        if (preview.storable())
            stored = db.importRoster(preview.newGroups, preview.changes());
    });
    std::size_t changed = 0;
    const double againMs = millisecondsOf([&] {
        CDbAccess db;
        RosterCsv::Roster now;
        RosterCsv::load(db, now);
        changed = RosterCsv::read(file, now).changes().size();
    });
    std::printf("Roster file: %zu pupils, %.1f MB, stored: %s; read again: %zu changes.\n", pupils,
                double(file.size()) / 1e6, stored == 0 ? "yes" : "NO", changed);
    report("roster of 10,000 pupils / 20,000 addresses imported", importMs / 1000, "s", "< 5 s");
    report("the same roster read again, nothing to store", againMs / 1000, "s", "-");
    fs::remove_all(folder);
    return stored == 0 && changed == 0 && result == HistoryCsv::Result::Written ? 0 : 1;
}
