#pragma once

#include "nvktl/CMapStringToString.h"
#include "screens/CSendWindowDispatcher.h"
#include "screens/IApplication.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

// The application as the screens see it: a card reader whose answer the test
// sets, and the real send-thread dispatcher that screens bind themselves to.
class FakeApplication : public IApplication {
public:
    FakeApplication() { setTheApp(this); }
    ~FakeApplication() override { setTheApp(nullptr); }

    CString getBaseDir() override { return CString("/tmp/"); }
    CString getDataDir() override { return CString("/tmp/"); }
    CString getVarDir() override { return CString("/tmp/"); }

    CString getCardId() override {
        ++m_polls;
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_card;
    }
    void setCard(const char* card) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_card = card;
    }
    int polls() const { return m_polls; }

    void attachSendWindow(CBaseDialog* window) override {
        ++attaches;
        dispatcher.bind(window);
    }
    void detachSendWindow(CBaseDialog* window) override {
        ++detaches;
        dispatcher.unbind(window);
    }
    void requestSendEnd(NVKTL::CEvent*) override {}
    void visitRecorded() override { ++visitsAnnounced; }

    CSendWindowDispatcher dispatcher;
    int visitsAnnounced = 0;
    int attaches = 0;
    int detaches = 0;

private:
    std::mutex m_mutex;
    CString m_card{"no"};
    std::atomic<int> m_polls{0};
};

// A fresh copy of the built master file, made the data folder for the
// object's life; the tests seed and read it with SQL of their own.
class ScreenDataFile {
public:
    struct Visit {
        std::string loginId, userId, loginDate, retSend, retSendDate;
    };

    ScreenDataFile();
    ~ScreenDataFile();
    ScreenDataFile(const ScreenDataFile&) = delete;
    ScreenDataFile& operator=(const ScreenDataFile&) = delete;

    void setSetting(const std::string& key, const std::string& value);
    std::string setting(const std::string& key);
    // groupId 1 is the administrators' group, 2 the ordinary users'.
    void addUser(const std::string& userId, const std::string& name, int groupId,
                 const std::vector<std::string>& mails = {});
    std::vector<Visit> visits();

    std::vector<std::vector<std::string>> query(const std::string& sql,
                                                const std::vector<std::string>& values = {});

private:
    std::filesystem::path m_folder;
    sqlite3* m_db = nullptr;
};

// Runs the Qt event loop until pred holds or the limit has passed.
bool processEventsUntil(const std::function<bool()>& pred,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));

// Every screen test: a fake application, a data file, scripted message boxes
// and a fresh card-poll cache.
class ScreenTest : public ::testing::Test {
protected:
    ScreenTest();
    ~ScreenTest() override;

    FakeApplication app;
    ScreenDataFile data;
};
