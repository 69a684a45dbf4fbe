#include "AdminScreenTest.h"

#include "data/CDbAccess.h"

#include <QApplication>
#include <QKeyEvent>
#include <sqlite3.h>

#include <atomic>
#include <unistd.h>

namespace {

std::filesystem::path uniqueFolder() {
    static std::atomic<int> serial{0};
    return std::filesystem::temp_directory_path() / ("poston-admin-" + std::to_string(::getpid()) +
                                                     "-" + std::to_string(serial.fetch_add(1)));
}

} // namespace

AdminScreenTest::AdminScreenTest() : folder(uniqueFolder()), app(folder.string() + "/") {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(POSTON_MASTER_MDB, folder / "poston.mdb");
    CDbAccess::setDataFolder(CString(folder.string()));
    setTheApp(&app);
    CMessageBox::resetForTesting();
    CMessageBox::setScripted(true);
}

AdminScreenTest::~AdminScreenTest() {
    CMessageBox::resetForTesting();
    setTheApp(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

AdminScreenTest::Rows AdminScreenTest::query(const std::string& sql,
                                             const std::vector<std::string>& values) {
    Rows rows;
    sqlite3* db = nullptr;
    if (sqlite3_open((folder / "poston.mdb").string().c_str(), &db) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open the test data file";
        sqlite3_close(db);
        return rows;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "bad test SQL: " << sql << ": " << sqlite3_errmsg(db);
        sqlite3_close(db);
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
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
        }
        rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE)
        ADD_FAILURE() << "test SQL failed: " << sql << ": " << sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

std::string AdminScreenTest::value(const std::string& sql, const std::vector<std::string>& values) {
    const Rows rows = query(sql, values);
    return rows.empty() || rows[0].empty() ? std::string("<none>") : rows[0][0];
}

std::string AdminScreenTest::addGroup(const std::string& name, bool deleteMark) {
    query("INSERT INTO t_group (group_name, delete_flg, order_id) VALUES "
          "(?, ?, (SELECT COALESCE(MAX(order_id), 0) + 1 FROM t_group))",
          {name, deleteMark ? "1" : ""});
    if (!deleteMark)
        query("UPDATE t_group SET delete_flg = NULL WHERE delete_flg = ''");
    return value("SELECT MAX(group_id) FROM t_group");
}

void AdminScreenTest::addUser(const std::string& userId, const std::string& name,
                              const std::string& groupId, const std::vector<std::string>& mails) {
    query("INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
          "(?, ?, ?, ?, (SELECT COALESCE(MAX(order_id), 0) + 1 FROM t_user))",
          {userId, name, mails.empty() ? std::string() : mails.front(), groupId});
    for (const std::string& mail : mails)
        query("INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {userId, mail});
}

void AdminScreenTest::refuseWrites(const std::string& table) {
    for (const char* verb : {"INSERT", "UPDATE", "DELETE"})
        query(std::string("CREATE TRIGGER refuse_") + verb + "_" + table + " BEFORE " + verb +
              " ON " + table + " BEGIN SELECT RAISE(ABORT, 'not stored'); END");
}

AdminScreenTest::Rows AdminScreenTest::snapshot() {
    Rows all = query("SELECT 'g', group_id, group_name, order_id FROM t_group ORDER BY group_id");
    for (auto& row : query("SELECT 'u', user_id, user_name, mail, group_id, order_id FROM t_user "
                           "ORDER BY user_id"))
        all.push_back(row);
    for (auto& row : query("SELECT 'm', user_id, mail FROM t_mail ORDER BY user_id, mail"))
        all.push_back(row);
    return all;
}

std::string AdminScreenTest::setting(const std::string& key) {
    return value("SELECT column_value FROM t_def_data WHERE column_name = ?", {key});
}

void AdminScreenTest::answer(std::initializer_list<CMessageBox::Answer> answers) {
    for (const CMessageBox::Answer a : answers)
        CMessageBox::setNextAnswer(a);
}

std::vector<std::string> AdminScreenTest::shownTexts() {
    std::vector<std::string> texts;
    for (const CMessageBox::Record& record : CMessageBox::shown())
        texts.push_back(record.text.str());
    return texts;
}

std::string AdminScreenTest::lastShown() {
    const auto& shown = CMessageBox::shown();
    return shown.empty() ? std::string() : shown.back().text.str();
}

void pressKey(QWidget* window, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(window, &press);
}
