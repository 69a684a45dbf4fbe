#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/CTime.h"
#include "nvktl/vector.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

// A private temporary folder holding a fresh copy of the built master file
// as "poston.mdb", made the data folder of every CDbAccess while it lives.
class DataFolder {
public:
    explicit DataFolder(bool withDataFile = true);
    ~DataFolder();
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

    // Ends with "/".
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + name; }
    std::string dataFile() const { return file("poston.mdb"); }

private:
    std::string m_path;
};

// The built master file.
std::string masterFile();

// Raw access to a database file, independent of the code under test. NULL
// reads as "<null>".
using Table = std::vector<std::vector<std::string>>;
Table query(const std::string& file, const std::string& sql);
void exec(const std::string& file, const std::string& sql);
// Runs sql with the values bound as texts, in order.
void execWith(const std::string& file, const std::string& sql,
              const std::vector<std::string>& values);

std::string readBytes(const std::string& file);
void writeBytes(const std::string& file, const std::string& bytes);
bool fileExists(const std::string& file);
unsigned fileMode(const std::string& file);

// Copies the rows out of a row vector (key -> value) and releases it through a
// CDbAccess of its own, as the screens do.
using Rows = std::vector<std::map<std::string, std::string>>;
Rows takeRows(NVKTL::vector<CMapStringToString*>& rows);

// Every test of the data store runs on its own data folder, with "now" fixed
// at 2026-12-05 10:15:30.123.
class DataTest : public ::testing::Test {
protected:
    static constexpr const char* now = "20261205101530123";

    DataFolder folder;
    NVKTL::CTestClock clock{NVKTL::CTime(2026, 12, 6, 5, 10, 15, 30, 123)};
};
