#include "DataFolder.h"

#include "data/CDbAccess.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

DataFolder::DataFolder(bool withDataFile) {
    std::string pattern = (fs::temp_directory_path() / "poston-data-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern + "/";
    if (withDataFile)
        fs::copy_file(masterFile(), dataFile());
    CDbAccess::setDataFolder(CString(m_path));
}

DataFolder::~DataFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::string masterFile() {
    return POSTON_MASTER_MDB;
}

namespace {

struct Database {
    explicit Database(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + file);
    }
    ~Database() { sqlite3_close(db); }
    sqlite3* db = nullptr;
};

Table run(const std::string& file, const std::string& sql, const std::vector<std::string>& values) {
    Database database(file);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(database.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(database.db) + (": " + sql));
    for (std::size_t i = 0; i < values.size(); ++i)
        sqlite3_bind_text(stmt, static_cast<int>(i + 1), values[i].data(),
                          static_cast<int>(values[i].size()), SQLITE_TRANSIENT);
    Table table;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            if (sqlite3_column_type(stmt, c) == SQLITE_NULL) {
                row.emplace_back("<null>");
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
            row.emplace_back(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
        }
        table.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(database.db) + (": " + sql));
    return table;
}

} // namespace

Table query(const std::string& file, const std::string& sql) {
    return run(file, sql, {});
}

void exec(const std::string& file, const std::string& sql) {
    Database database(file);
    char* error = nullptr;
    if (sqlite3_exec(database.db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(message + ": " + sql);
    }
}

void execWith(const std::string& file, const std::string& sql,
              const std::vector<std::string>& values) {
    run(file, sql, values);
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
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0;
}

unsigned fileMode(const std::string& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

Rows takeRows(NVKTL::vector<CMapStringToString*>& rows) {
    Rows copied;
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
