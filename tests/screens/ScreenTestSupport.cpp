#include "ScreenTestSupport.h"

#include "screens/CCardPollCache.h"
#include "screens/CMessageBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <sqlite3.h>

#include <thread>
#include <unistd.h>

#include "data/CDbAccess.h"

namespace {

std::filesystem::path uniqueFolder() {
    static std::atomic<int> serial{0};
    return std::filesystem::temp_directory_path() /
           ("poston-screens-" + std::to_string(::getpid()) + "-" +
            std::to_string(serial.fetch_add(1)));
}

} // namespace

ScreenDataFile::ScreenDataFile() : m_folder(uniqueFolder()) {
    std::filesystem::remove_all(m_folder);
    std::filesystem::create_directories(m_folder);
    std::filesystem::copy_file(POSTON_MASTER_MDB, m_folder / "poston.mdb");
    CDbAccess::setDataFolder(m_folder.string());
    if (sqlite3_open((m_folder / "poston.mdb").string().c_str(), &m_db) != SQLITE_OK)
        ADD_FAILURE() << "cannot open the test data file";
    sqlite3_busy_timeout(m_db, 10000);
}

ScreenDataFile::~ScreenDataFile() {
    sqlite3_close(m_db);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::vector<std::vector<std::string>>
ScreenDataFile::query(const std::string& sql, const std::vector<std::string>& values) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "bad test SQL: " << sql << ": " << sqlite3_errmsg(m_db);
        return rows;
    }
    for (std::size_t i = 0; i < values.size(); ++i)
        sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].c_str(), -1,
                          SQLITE_TRANSIENT);
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const auto* text = sqlite3_column_text(statement, c);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE)
        ADD_FAILURE() << "test SQL failed: " << sql << ": " << sqlite3_errmsg(m_db);
    sqlite3_finalize(statement);
    return rows;
}

void ScreenDataFile::setSetting(const std::string& key, const std::string& value) {
    query("UPDATE t_def_data SET column_value = ? WHERE column_name = ?", {value, key});
}

std::string ScreenDataFile::setting(const std::string& key) {
    const auto rows = query("SELECT column_value FROM t_def_data WHERE column_name = ?", {key});
    return rows.empty() ? std::string("(none)") : rows[0][0];
}

void ScreenDataFile::addUser(const std::string& userId, const std::string& name, int groupId,
                             const std::vector<std::string>& mails) {
    query("INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
          "(?, ?, ?, ?, (SELECT COALESCE(MAX(order_id), 0) + 1 FROM t_user))",
          {userId, name, mails.empty() ? std::string() : mails.front(), std::to_string(groupId)});
    for (const std::string& mail : mails)
        query("INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {userId, mail});
}

std::vector<ScreenDataFile::Visit> ScreenDataFile::visits() {
    std::vector<Visit> visits;
    for (const auto& row : query("SELECT login_id, user_id, login_date, ret_send, "
                                 "COALESCE(ret_send_date, '') FROM t_login ORDER BY login_id"))
        visits.push_back({row[0], row[1], row[2], row[3], row[4]});
    return visits;
}

bool processEventsUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ScreenTest::ScreenTest() {
    CMessageBox::resetForTesting();
    CMessageBox::setScripted(true);
    CCardPollCache::resetForTesting();
}

ScreenTest::~ScreenTest() {
    CMessageBox::resetForTesting();
}
