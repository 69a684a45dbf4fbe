#pragma once

// Shared by the application and administrator-gate tests: a fake application
// object, a private data folder on a copy of the built master file, and
// helpers to drive modal screens from inside their event loop.

#include <QApplication>
#include <QWidget>

#include "nvktl/CEvent.h"
#include "screens/IApplication.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Stands in for the application object: the reader answers whatever card is
// set, the send thread is only counted.
class FakeApp : public IApplication {
public:
    FakeApp();
    ~FakeApp() override;

    CString card = "no";
    int attached = 0;
    int detached = 0;
    CBaseDialog* boundScreen = nullptr;
    NVKTL::CEvent* endEvent = nullptr;

    CString getBaseDir() override { return CString("/nonexistent/"); }
    CString getDataDir() override;
    CString getVarDir() override { return CString("/nonexistent/var/"); }
    CString getCardId() override { return card; }
    void attachSendWindow(CBaseDialog* window) override;
    void detachSendWindow(CBaseDialog* window) override;
    void requestSendEnd(NVKTL::CEvent* event) override { endEvent = event; }

private:
    IApplication* m_previous;
};

// A private folder with a fresh copy of the built master file as poston.mdb
// (unless withDataFile is false), made the data folder of every CDbAccess
// while it lives. Removed with everything in it.
class TempDataFolder {
public:
    explicit TempDataFolder(bool withDataFile = true);
    ~TempDataFolder();
    TempDataFolder(const TempDataFolder&) = delete;
    TempDataFolder& operator=(const TempDataFolder&) = delete;

    // Ends with "/".
    const std::string& path() const { return m_path; }
    std::string dataFile() const { return m_path + "poston.mdb"; }

private:
    std::string m_path;
};

std::string builtMasterFile();
// A single-instance name no other test run uses, so that runs side by side
// (and a terminal running on the same machine) never meet.
std::string uniqueInstanceName();
std::string makeTempFolder(const char* prefix);
void removeTree(const std::string& path);
bool fileExists(const std::string& path);
void copyFileTo(const std::string& from, const std::string& to);

// Raw SQL on a database file, independent of the code under test; NULL reads
// as "<null>".
using SqlRows = std::vector<std::vector<std::string>>;
SqlRows sqlQuery(const std::string& file, const std::string& sql);
void sqlExec(const std::string& file, const std::string& sql);

// Runs the event loop until condition holds or timeoutMs pass; true when it
// holds.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// The modal screen on top, if it is of type T.
template <class T> T* topModal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// Runs step once the event loop is running (inside the next exec()).
void whenShown(std::function<void()> step);

// The child control with the numeric id.
template <class T> T* control(QWidget* window, const char* id) {
    return window->findChild<T*>(QString::fromLatin1(id));
}
