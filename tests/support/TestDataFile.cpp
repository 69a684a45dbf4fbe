#include "tests/support/TestDataFile.h"

#include "data/CDbAccess.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <set>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// One connection per call: the file may be made, replaced or locked by the
// code under test between two calls.
using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

Connection open(const std::string& file) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Connection connection(db, sqlite3_close);
    if (opened != SQLITE_OK)
        throw std::runtime_error("cannot open " + file);
    sqlite3_busy_timeout(db, 10000);
    return connection;
}

std::runtime_error failure(const Connection& connection, const std::string& sql) {
    return std::runtime_error(sqlite3_errmsg(connection.get()) + (": " + sql));
}

} // namespace

TestDataFile::TestDataFile(bool withDataFile) : m_folder(makeTempFolder("poston-test-")) {
    if (withDataFile)
        fs::copy_file(masterFile(), path());
    CDbAccess::setDataFolder(CString(m_folder));
}

TestDataFile::~TestDataFile() {
    removeTree(m_folder);
}

Rows TestDataFile::query(const std::string& sql, const std::vector<std::string>& values) const {
    return queryFile(path(), sql, values);
}

std::string TestStore::text(const std::string& sql, const std::vector<std::string>& values) const {
    return joined(query(sql, values));
}

std::string TestStore::value(const std::string& sql, const std::vector<std::string>& values) const {
    const Rows rows = query(sql, values);
    return rows.empty() || rows[0].empty() ? std::string("<none>") : rows[0][0];
}

void TestDataFile::script(const std::string& sql) const {
    const Connection connection = open(path());
    if (sqlite3_exec(connection.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw failure(connection, sql);
}

void TestStore::setSetting(const std::string& key, const std::string& value) const {
    query("INSERT INTO t_def_data (column_name, column_value) SELECT ?, ? WHERE NOT EXISTS "
          "(SELECT 1 FROM t_def_data WHERE column_name = ?)",
          {key, value, key});
    query("UPDATE t_def_data SET column_value = ? WHERE column_name = ?", {value, key});
}

std::string TestStore::setting(const std::string& key) const {
    return value("SELECT column_value FROM t_def_data WHERE column_name = ?", {key});
}

std::string TestStore::addGroup(const std::string& name, bool deleteMark) const {
    return value("INSERT INTO t_group (group_name, delete_flg, order_id) VALUES "
                 "(?, CASE WHEN ? = '1' THEN '1' END, "
                 "(SELECT COALESCE(MAX(order_id), 0) + 1 FROM t_group)) RETURNING group_id",
                 {name, deleteMark ? "1" : "0"});
}

void TestStore::addUser(const std::string& userId, const std::string& name,
                        const std::string& groupId, const std::vector<std::string>& mails) const {
    query("INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES "
          "(?, ?, ?, ?, (SELECT COALESCE(MAX(order_id), 0) + 1 FROM t_user))",
          {userId, name, mails.empty() ? std::string() : mails.front(), groupId});
    for (const std::string& mail : mails)
        query("INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {userId, mail});
}

std::string TestStore::addVisit(const std::string& userId, const std::string& loginDate) const {
    const std::string id = value(
        "INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, ?, '1') RETURNING login_id",
        {userId, loginDate});
    query("INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) SELECT ?, "
          "m.mail, u.user_name, g.group_name, '1', 0 FROM t_mail m JOIN t_user u ON u.user_id = "
          "m.user_id LEFT JOIN t_group g ON g.group_id = u.group_id WHERE m.user_id = ? AND "
          "m.mail <> '' ORDER BY m." +
              addressOrder(),
          {id, userId});
    query("UPDATE t_login SET ret_send = '3' WHERE login_id = ? AND NOT EXISTS (SELECT 1 FROM "
          "t_send WHERE login_id = ?)",
          {id, id});
    return id;
}

std::vector<TestStore::Visit> TestStore::visits() const {
    std::vector<Visit> out;
    for (const auto& r : query("SELECT login_id, user_id, login_date, ret_send, "
                               "COALESCE(ret_send_date, '') FROM t_login ORDER BY login_id"))
        out.push_back({r[0], r[1], r[2], r[3], r[4]});
    return out;
}

std::vector<TestStore::Delivery> TestStore::deliveries(const std::string& loginId) const {
    std::vector<Delivery> out;
    for (const auto& row : query("SELECT mail, state, tries, COALESCE(next_try, ''), "
                                 "COALESCE(last_error, '') FROM t_send WHERE login_id = ? "
                                 "ORDER BY send_id",
                                 {loginId}))
        out.push_back({row[0], row[1], std::stoi(row[2]), row[3], row[4]});
    return out;
}

std::string TestStore::sendId(const std::string& loginId, const std::string& mail) const {
    return value("SELECT send_id FROM t_send WHERE login_id = ? AND mail = ?", {loginId, mail});
}

void TestDataFile::refuseWrites(const std::string& table) const {
    for (const char* verb : {"INSERT", "UPDATE", "DELETE"})
        script(std::string("CREATE TRIGGER refuse_") + verb + "_" + table + " BEFORE " + verb +
               " ON " + table + " BEGIN SELECT RAISE(ABORT, 'not stored'); END");
}

void TestDataFile::allowWrites(const std::string& table) const {
    for (const char* verb : {"INSERT", "UPDATE", "DELETE"})
        script(std::string("DROP TRIGGER refuse_") + verb + "_" + table);
}

Rows TestStore::snapshot() const {
    Rows all;
    for (const char* sql :
         {"SELECT 'g', group_id, group_name, order_id FROM t_group ORDER BY group_id",
          "SELECT 'u', user_id, user_name, mail, group_id, order_id FROM t_user ORDER BY user_id",
          "SELECT 'm', user_id, mail FROM t_mail ORDER BY user_id, mail"})
        for (auto& row : query(sql))
            all.push_back(std::move(row));
    return all;
}

Rows queryFile(const std::string& file, const std::string& sql,
               const std::vector<std::string>& values) {
    const Connection connection = open(file);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        throw failure(connection, sql);
    for (std::size_t i = 0; i < values.size(); ++i)
        sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].data(),
                          static_cast<int>(values[i].size()), SQLITE_TRANSIENT);
    Rows rows;
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row.emplace_back(text ? std::string(text, static_cast<std::size_t>(
                                                          sqlite3_column_bytes(statement, c)))
                                  : std::string("<null>"));
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE)
        throw failure(connection, sql);
    return rows;
}

RowMaps takeRows(NVKTL::vector<CMapStringToString*>& rows) {
    RowMaps copied;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::map<std::string, std::string> row;
        for (const auto& [key, value] : *rows.at(i))
            row[key.str()] = value.str();
        copied.push_back(std::move(row));
    }
    CDbAccess other;
    other.releaseVector(&rows);
    return copied;
}

std::string joined(const Rows& rows) {
    std::string out;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            out += (i ? " " : "") + row[i];
        out += ';';
    }
    return out;
}

std::string joined(const RowMaps& rows, const std::vector<std::string>& columns) {
    Rows picked;
    for (const auto& row : rows) {
        picked.emplace_back();
        for (const std::string& column : columns)
            picked.back().push_back(row.count(column) ? row.at(column) : "<missing>");
    }
    return joined(picked);
}

CMapStringToString textMap(std::initializer_list<std::pair<const char*, std::string>> entries) {
    CMapStringToString map;
    for (const auto& [key, value] : entries)
        map.SetAt(key, CString(value));
    return map;
}

std::string masterFile() {
    return POSTON_MASTER_MDB;
}

std::string makeTempFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern + "/";
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string readBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool fileExists(const std::string& file) {
    std::error_code ignored;
    return fs::exists(file, ignored);
}

std::string listFolder(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string() + ";");
    return std::accumulate(names.begin(), names.end(), std::string());
}

unsigned fileMode(const std::string& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace testsupport
