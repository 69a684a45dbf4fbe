#pragma once

#include "data/CDbAccess.h"
#include "screens/CSendWindowDispatcher.h"
#include "screens/IApplication.h"

#include <atomic>
#include <mutex>
#include <string>

// The application as the screens see it, installed as theApp() for its life:
// a card reader whose answer the test sets, folders under the data folder of
// the test's data file, and the real send-thread dispatcher that screens bind
// themselves to (no send thread runs behind it).
class FakeApplication : public IApplication {
public:
    FakeApplication();
    ~FakeApplication() override;
    FakeApplication(const FakeApplication&) = delete;
    FakeApplication& operator=(const FakeApplication&) = delete;

    // The reader's answer from now on (no card at first); any thread.
    void setCard(const CardPoll& poll);
    int polls() const { return m_polls.load(); }
    void setReaderFailing(bool failing) { m_readerFailing.store(failing); }

    // The base folder; the data folder is CDbAccess's, var/ lies beside it.
    std::string baseDir = "/nonexistent/";

    CString getBaseDir() override { return CString(baseDir); }
    CString getDataDir() override { return CDbAccess::getDataFolder(); }
    CString getVarDir() override { return CString(CDbAccess::getDataFolder().str() + "var/"); }
    CardPoll pollCard() override;
    bool isReaderFailing() override { return m_readerFailing.load(); }
    void attachSendWindow(CBaseDialog* window) override;
    void detachSendWindow(CBaseDialog* window) override;
    void requestSendEnd(NVKTL::CEvent* event) override { endEvent = event; }
    int sendingCount() override { return sending; }
    void sendLater() override { ++laterRequests; }
    void visitRecorded() override { ++visitsAnnounced; }

    CBaseDialog* boundScreen() const { return dispatcher.boundScreen(); }

    CSendWindowDispatcher dispatcher;
    int attaches = 0;
    int detaches = 0;
    int visitsAnnounced = 0;
    NVKTL::CEvent* endEvent = nullptr;
    std::atomic<int> sending{0};
    int laterRequests = 0;

private:
    IApplication* m_previous;
    mutable std::mutex m_mutex;
    CardPoll m_card;
    std::atomic<int> m_polls{0};
    std::atomic<bool> m_readerFailing{false};
};
