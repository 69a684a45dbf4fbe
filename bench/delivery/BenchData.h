#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

// Data files for the delivery benchmarks: a copy of the master file in a
// fresh folder, filled through plain SQL.
bool execSql(sqlite3* db, const char* sql);
bool bindAndRun(sqlite3* db, const char* sql, const std::vector<std::string>& values);
// The mail settings for the configured server 127.0.0.1:port, no AUTH.
bool storeMailSettings(sqlite3* db, int port);

struct BenchDataFile {
    std::filesystem::path folder;
    sqlite3* db = nullptr;
    std::string error; // why it could not be made

    BenchDataFile();
    ~BenchDataFile();
    BenchDataFile(const BenchDataFile&) = delete;
    BenchDataFile& operator=(const BenchDataFile&) = delete;
};
