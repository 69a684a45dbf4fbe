#pragma once

#include "app/CInstanceLock.h"
#include "delivery/CSendThread.h"
#include "screens/CScreenTable.h"
#include "screens/CSendWindowDispatcher.h"
#include "screens/IApplication.h"
#include "sync/CServerSendWindow.h"
#include "sync/CSyncThread.h"

#include <functional>
#include <memory>
#include <string>

class CFelicaReader;
class QSocketNotifier;
class CTerminationSignals;
class QTimer;

// The application object: owns the single-instance lock, the reader binding,
// the send thread and the dispatcher that carries its requests to the open
// screen, for the whole run. run() is start-up, the screen loop, the closing
// screen and exit, in that order, on the thread that made the QApplication.
class CPostonApp : public IApplication {
public:
    static constexpr const char* kAlreadyRunning = "すでに起動しています。";
    static constexpr const char* kLockFailed =
        "ほかに起動しているかどうかを確認できないため、起動できません。";
    static constexpr const char* kNoDataFile =
        "データファイル（poston.mdb）もマスタファイル（master.mdb）も見つからないため、起動でき"
        "ません。";
    // The single-instance name every copy on the machine takes.
    static constexpr const char* kInstanceName = "ぽすとん";
    // The caption of messages that belong to no screen.
    static constexpr const char* kProgramCaption = "NVKぽすとん";
    static constexpr const char* kServerAway =
        "サーバーに接続できないため、管理の画面は開けません。受付と来訪の記録は、この端末で続けて"
        "います。";
    static constexpr const char* kServerTooNew =
        "サーバーのデータの形がこの端末のぽすとんより新しいため、サーバーには書き込みません。管理の"
        "画面は開けません。この端末のぽすとんを新しくしてください。";

    struct Options {
        // The base folder; empty: the running program's
        // (NVKTL::programBaseFolder).
        std::string baseDir;
        // The single-instance name; empty: kInstanceName. Tests that run
        // side by side give each run a name of its own.
        std::string instanceName;
    };

    CPostonApp();
    explicit CPostonApp(Options options);
    ~CPostonApp() override;
    CPostonApp(const CPostonApp&) = delete;
    CPostonApp& operator=(const CPostonApp&) = delete;

    // Start-up, the loop, the closing screen and exit. Returns the process's
    // exit status: 0 after a normal run, 1 when start-up was refused.
    int run();

    // Start-up up to and including the closing screen. False when the program
    // could not start (already running, reader not opened, no data file).
    bool InitInstance();
    // Stops the send thread, closes the reader and releases the lock.
    void ExitInstance();

    // The screens by result code; filled with the program's screens at
    // construction. Tests replace entries.
    CScreenTable& screens() { return m_screens; }

    CString getBaseDir() override;
    CString getDataDir() override;
    CString getVarDir() override;
    CardPoll pollCard() override;
    bool isReaderFailing() override;
    void attachSendWindow(CBaseDialog* window) override;
    void visitRecorded() override;
    void detachSendWindow(CBaseDialog* window) override;
    void requestSendEnd(NVKTL::CEvent* event) override;
    int sendingCount() override;
    void sendLater() override;

    // What SIGTERM and SIGINT do: the open screens close, the loop ends, and
    // the closing screen ends as after "あとで送る". Any time after start-up.
    void endNow();

    bool openReader();
    void closeReader();

private:
    void registerScreens();
    // The administrator gate, and on a terminal of a server: administration
    // only while the server answers, and the roster copy renewed after it.
    ScreenCode checkBeforeScreen(ScreenCode code);
    void startServerWork();
    void runMigrationIfWaiting();
    void runClosingScreen();
    void stopSendThread();
    // Closes every open screen and message box (endNow), again on every tick
    // of m_closer until the program ends.
    void closeOpenScreens();

    Options m_options;
    CString m_baseDir;
    CString m_dataDir;
    CString m_varDir;
    CInstanceLock m_lock;
    // A start went to the journal, so its end goes there too.
    bool m_journalled = false;
    std::unique_ptr<CFelicaReader> m_reader;
    // Hears of card changes from the reader library while the reader is open.
    std::unique_ptr<QSocketNotifier> m_cardChanges;
    CScreenTable m_screens;
    std::function<ScreenCode(ScreenCode code)> m_startCheck;
    // Set by endNow: no further screen opens.
    bool m_endingNow = false;
    std::unique_ptr<CTerminationSignals> m_signals;
    QTimer* m_closer = nullptr;
    // The dispatcher outlives every binding of the thread: the thread is
    // declared after it and so stops first.
    CSendWindowDispatcher m_dispatcher;
    CSendThread m_sendThread;
    // A terminal of a server: the send thread's requests go there directly,
    // and the background step uploads and follows the roster. It wakes the
    // send thread, so it is declared after it and stops first.
    std::unique_ptr<CServerSendWindow> m_serverWindow;
    std::unique_ptr<CSyncThread> m_sync;
    bool m_inAdministration = false;
    // The day the retention limit was last applied.
    CString m_retentionDay;
};
