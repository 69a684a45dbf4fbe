#include "SendThreadBench.h"

#include "data/CDataRequest.h"
#include "data/CDbAccess.h"
#include "delivery/CSendThread.h"
#include "delivery/ISendWindow.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unistd.h>

#ifndef POSTON_MASTER_MDB
#error "POSTON_MASTER_MDB names the built master file"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Runs every command on the data file, one at a time, as the user-interface
// thread does, and notes when the work started and when the last visit was
// reported.
class BenchWindow : public ISendWindow {
public:
    explicit BenchWindow(int expected) : m_expected(expected) {}

    int dataRequest(const char* name, void* const* args) override {
        std::lock_guard<std::mutex> data(m_dataLock);
        const bool fetch = std::strcmp(name, "getSendLogin") == 0;
        const bool done =
            std::strcmp(name, "sendLogin") == 0 || std::strcmp(name, "skipLogin") == 0;
        if (fetch) {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (!m_started)
                m_start = Clock::now();
            m_started = true;
        }
        const auto start = Clock::now();
        const int result = CDataRequest::run(name, args);
        if (done) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_stateSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            if (++m_reported == m_expected) {
                m_end = Clock::now();
                m_changed.notify_all();
            }
        }
        return result;
    }
    void progressStart(int, int) override {}
    void progressEnd() override {}
    void statusText(const char*) override {}

    double stateSeconds() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_stateSeconds;
    }

    // Seconds of the run, or a negative value when it did not finish in time.
    double waitSeconds(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (!m_changed.wait_for(guard, timeout, [&] { return m_reported >= m_expected; }))
            return -1;
        return std::chrono::duration<double>(m_end - m_start).count();
    }

private:
    const int m_expected;
    std::mutex m_dataLock;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_started = false;
    int m_reported = 0;
    double m_stateSeconds = 0;
    Clock::time_point m_start, m_end;
};

bool execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool bindAndRun(sqlite3* db, const char* sql, const std::vector<std::string>& values) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].c_str(), -1,
                          SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_finalize(statement);
    return ok;
}

int countSent(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    int sent = -1;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM t_login WHERE ret_send = '2'", -1, &statement,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        sent = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return sent;
}

std::string seed(sqlite3* db, int count, int port) {
    const char* setting = "UPDATE t_def_data SET column_value = ? WHERE column_name = ?";
    const char* addSetting = "INSERT INTO t_def_data (column_name, column_value) SELECT ?, ? "
                             "WHERE NOT EXISTS (SELECT 1 FROM t_def_data WHERE column_name = ?)";
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"mail_server_ip", "127.0.0.1"},
        {"mail_server_port", std::to_string(port)},
        {"mail_address", "poston@sender.example.jp"},
        {"mail_user", "ぽすとん"},
        {"mail_subject", "来訪のお知らせ"},
        {"mail_acount", ""},
        {"mail_password", ""}};
    if (!execute(db, "BEGIN"))
        return "cannot write the data file";
    for (const auto& [key, value] : settings) {
        if (!bindAndRun(db, setting, {value, key}) ||
            !bindAndRun(db, addSetting, {key, value, key}))
            return "cannot store the settings";
    }
    for (int i = 0; i < count; ++i) {
        char userId[32], loginDate[32];
        std::snprintf(userId, sizeof userId, "%016X", 0x0123000u + static_cast<unsigned>(i));
        std::snprintf(loginDate, sizeof loginDate, "20261205%02d%02d%02d000", 8 + i / 3600 % 16,
                      i / 60 % 60, i % 60);
        const std::string mail = "visitor" + std::to_string(i) + "@example.jp";
        if (!bindAndRun(db,
                        "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) "
                        "VALUES (?, ?, ?, 2, ?)",
                        {userId, "山田 太郎" + std::to_string(i), mail, std::to_string(i + 1)}) ||
            !bindAndRun(db, "INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {userId, mail}) ||
            !bindAndRun(db,
                        "INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, ?, '1')",
                        {userId, loginDate}))
            return std::string("cannot add the due visits: ") + sqlite3_errmsg(db);
    }
    return execute(db, "COMMIT") ? std::string() : "cannot commit the due visits";
}

} // namespace

SendThreadResult runSendThread(int count, int port) {
    SendThreadResult result;
    char folderTemplate[] = "/tmp/poston-bench-data-XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        result.error = "cannot make a data folder";
        return result;
    }
    const std::filesystem::path folder = folderTemplate;
    std::error_code error;
    std::filesystem::copy_file(POSTON_MASTER_MDB, folder / "poston.mdb", error);
    sqlite3* db = nullptr;
    if (error || sqlite3_open((folder / "poston.mdb").c_str(), &db) != SQLITE_OK)
        result.error = "cannot copy the master file " POSTON_MASTER_MDB;
    else
        result.error = seed(db, count, port);

    if (result.error.empty()) {
        CDbAccess::setDataFolder(folder.string());
        BenchWindow window(count);
        {
            CSendThread thread;
            thread.setWindow(&window);
            result.seconds = window.waitSeconds(std::chrono::seconds(300));
            thread.resetWindow();
            result.stateSeconds = window.stateSeconds();
        }
        if (result.seconds < 0)
            result.error = "the send thread did not finish within 300 s";
        result.sent = countSent(db);
    }
    sqlite3_close(db);
    std::filesystem::remove_all(folder, error);
    return result;
}
