#include "BenchData.h"

#include <cstdlib>
#include <utility>

#ifndef POSTON_MASTER_MDB
#error "POSTON_MASTER_MDB names the built master file"
#endif

bool execSql(sqlite3* db, const char* sql) {
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

bool storeMailSettings(sqlite3* db, int port) {
    const char* update = "UPDATE t_def_data SET column_value = ? WHERE column_name = ?";
    const char* insert = "INSERT INTO t_def_data (column_name, column_value) SELECT ?, ? "
                         "WHERE NOT EXISTS (SELECT 1 FROM t_def_data WHERE column_name = ?)";
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"mail_server_ip", "127.0.0.1"},
        {"mail_server_port", std::to_string(port)},
        {"mail_address", "poston@sender.example.jp"},
        {"mail_user", "ぽすとん"},
        {"mail_subject", "来訪のお知らせ"},
        {"mail_acount", ""},
        {"mail_password", ""}};
    for (const auto& [key, value] : settings) {
        if (!bindAndRun(db, update, {value, key}) || !bindAndRun(db, insert, {key, value, key}))
            return false;
    }
    return true;
}

BenchDataFile::BenchDataFile() {
    char folderTemplate[] = "/tmp/poston-bench-data-XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        error = "cannot make a data folder";
        return;
    }
    folder = folderTemplate;
    std::error_code copyError;
    std::filesystem::copy_file(POSTON_MASTER_MDB, folder / "poston.mdb", copyError);
    if (copyError || sqlite3_open((folder / "poston.mdb").c_str(), &db) != SQLITE_OK)
        error = "cannot copy the master file " POSTON_MASTER_MDB;
}

BenchDataFile::~BenchDataFile() {
    sqlite3_close(db);
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}
