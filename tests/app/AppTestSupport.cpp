#include "AppTestSupport.h"

#include <atomic>
#include <unistd.h>

#include "data/CDbAccess.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

FakeApp::FakeApp() : m_previous(theApp()) {
    setTheApp(this);
}

FakeApp::~FakeApp() {
    setTheApp(m_previous);
}

CString FakeApp::getDataDir() {
    return CDbAccess::getDataFolder();
}

void FakeApp::attachSendWindow(CBaseDialog* window) {
    ++attached;
    boundScreen = window;
}

void FakeApp::detachSendWindow(CBaseDialog* window) {
    ++detached;
    if (boundScreen == window)
        boundScreen = nullptr;
}

std::string builtMasterFile() {
    return POSTON_MASTER_MDB;
}

std::string uniqueInstanceName() {
    static std::atomic<int> serial{0};
    return "poston-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
}

std::string makeTempFolder(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern + "/";
}

void removeTree(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

void copyFileTo(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

TempDataFolder::TempDataFolder(bool withDataFile) : m_path(makeTempFolder("poston-app-")) {
    if (withDataFile)
        copyFileTo(builtMasterFile(), dataFile());
    CDbAccess::setDataFolder(CString(m_path));
}

TempDataFolder::~TempDataFolder() {
    removeTree(m_path);
}

SqlRows sqlQuery(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    SqlRows rows;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + file);
    }
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(message);
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = sqlite3_column_text(statement, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

void sqlExec(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + file);
    }
    sqlite3_busy_timeout(db, 2000);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error(message);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void whenShown(std::function<void()> step) {
    QTimer::singleShot(0, [step = std::move(step)] { step(); });
}
