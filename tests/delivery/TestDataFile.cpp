#include "TestDataFile.h"

#include "data/CDbAccess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <unistd.h>

namespace {

std::filesystem::path uniqueFolder() {
    static std::atomic<int> serial{0};
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        "poston-send-" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
    if (test != nullptr)
        name += std::string("-") + test->name();
    return std::filesystem::temp_directory_path() / name;
}

} // namespace

TestDataFile::TestDataFile() : m_folder(uniqueFolder()) {
    std::filesystem::remove_all(m_folder);
    std::filesystem::create_directories(m_folder);
    std::filesystem::copy_file(POSTON_MASTER_MDB, m_folder / "poston.mdb");
    CDbAccess::setDataFolder(m_folder.string());
    if (sqlite3_open((m_folder / "poston.mdb").string().c_str(), &m_db) != SQLITE_OK)
        ADD_FAILURE() << "cannot open the test data file";
    sqlite3_busy_timeout(m_db, 10000);
}

TestDataFile::~TestDataFile() {
    sqlite3_close(m_db);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void TestDataFile::run(const std::string& sql, const std::vector<std::string>& values) {
    query(sql, values);
}

std::vector<std::vector<std::string>> TestDataFile::query(const std::string& sql,
                                                          const std::vector<std::string>& values) {
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

void TestDataFile::setSetting(const std::string& key, const std::string& value) {
    run("UPDATE t_def_data SET column_value = ? WHERE column_name = ?", {value, key});
    run("INSERT INTO t_def_data (column_name, column_value) SELECT ?, ? WHERE NOT EXISTS "
        "(SELECT 1 FROM t_def_data WHERE column_name = ?)",
        {key, value, key});
}

void TestDataFile::renameGroup(const std::string& groupId, const std::string& name) {
    run("UPDATE t_group SET group_name = ? WHERE group_id = ?", {name, groupId});
}

void TestDataFile::addUser(const std::string& userId, const std::string& name,
                           const std::vector<std::string>& mails) {
    run("INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
        "(?, ?, ?, 2, (SELECT COALESCE(MAX(order_id), 0) + 1 FROM t_user))",
        {userId, name, mails.empty() ? std::string() : mails.front()});
    for (const std::string& mail : mails)
        run("INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {userId, mail});
}

std::string TestDataFile::addVisit(const std::string& userId, const std::string& loginDate) {
    run("INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, ?, '1')",
        {userId, loginDate});
    return query("SELECT MAX(login_id) FROM t_login", {}).at(0).at(0);
}

std::string TestDataFile::state(const std::string& loginId) {
    const auto rows = query("SELECT ret_send FROM t_login WHERE login_id = ?", {loginId});
    return rows.empty() ? std::string("(none)") : rows[0][0];
}

std::string TestDataFile::stateDate(const std::string& loginId) {
    const auto rows = query("SELECT ret_send_date FROM t_login WHERE login_id = ?", {loginId});
    return rows.empty() ? std::string() : rows[0][0];
}

std::vector<TestDataFile::MailError> TestDataFile::mailErrors() {
    std::vector<MailError> errors;
    for (const auto& row : query("SELECT login_id, user_id, mail, error_date, error_msg "
                                 "FROM t_mail_error ORDER BY error_no",
                                 {}))
        errors.push_back({row[0], row[1], row[2], row[3], row[4]});
    return errors;
}
