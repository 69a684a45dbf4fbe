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
    const std::string id = query("SELECT MAX(login_id) FROM t_login", {}).at(0).at(0);
    // One due delivery per address the user has now, as a recorded visit has.
    run("INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) SELECT ?, "
        "m.mail, u.user_name, g.group_name, '1', 0 FROM t_mail m JOIN t_user u ON u.user_id = "
        "m.user_id LEFT JOIN t_group g ON g.group_id = u.group_id WHERE m.user_id = ? AND "
        "m.mail <> '' ORDER BY m.rowid",
        {id, userId});
    run("UPDATE t_login SET ret_send = '3' WHERE login_id = ? AND NOT EXISTS (SELECT 1 FROM "
        "t_send WHERE login_id = ?)",
        {id, id});
    return id;
}

std::vector<TestDataFile::Delivery> TestDataFile::deliveries(const std::string& loginId) {
    std::vector<Delivery> out;
    for (const auto& row : query("SELECT mail, state, tries, COALESCE(next_try, ''), "
                                 "COALESCE(last_error, '') FROM t_send WHERE login_id = ? "
                                 "ORDER BY send_id",
                                 {loginId}))
        out.push_back({row[0], row[1], std::stoi(row[2]), row[3], row[4]});
    return out;
}

std::string TestDataFile::sendId(const std::string& loginId, const std::string& mail) {
    const auto rows =
        query("SELECT send_id FROM t_send WHERE login_id = ? AND mail = ?", {loginId, mail});
    return rows.empty() ? std::string() : rows[0][0];
}

void TestDataFile::exec(const std::string& sql) {
    run(sql, {});
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
