#include "app/CPostonApp.h"

#include "admin/CAdminScreens.h"
#include "admin/CChkAdminDlg.h"
#include "app/CDataIkouDlg.h"
#include "app/CEndingDlg.h"
#include "app/CScreenLoop.h"
#include "app/CTerminationSignals.h"
#include "data/CDataFiles.h"
#include "data/CDataRequest.h"
#include "data/CDbAccess.h"
#include "data/CServerLink.h"
#include "nvktl/CJournal.h"
#include "nvktl/CTime.h"
#include "nvktl/ProgramFolder.h"
#include "reader/CFelicaReader.h"
#include "screens/CCardWatch.h"
#include "screens/CMainDlg.h"
#include "screens/CMessageBox.h"
#include "screens/CPostonDlg.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <string>

CPostonApp::CPostonApp() : CPostonApp(Options{}) {}

CPostonApp::CPostonApp(Options options) : m_options(std::move(options)) {
    CReaderServices services;
    services.showMessage = [](const NVKTL::CString& text) {
        CMessageBox::warn(nullptr, text, CString(kProgramCaption));
    };
    services.beep = [] { QApplication::beep(); };
    m_reader =
        std::make_unique<CFelicaReader>(std::move(services), getBaseDir().str() + "lib/felica.so");
    registerScreens();
    m_startCheck = [this](ScreenCode code) { return checkBeforeScreen(code); };
    setTheApp(this);
}

CPostonApp::~CPostonApp() {
    ExitInstance();
    if (theApp() == this)
        setTheApp(nullptr);
}

void CPostonApp::registerScreens() {
    m_screens.add(ScreenCode::UserConfirmation, [](CString& selectedKey) {
        CPostonDlg screen;
        const int result = screen.exec();
        selectedKey = screen.getMessage();
        return result;
    });
    m_screens.add(ScreenCode::Greeting, [](CString& selectedKey) {
        CMainDlg screen;
        screen.setUserId(selectedKey);
        return screen.exec();
    });
    registerAdminScreens(m_screens);
}

CString CPostonApp::getBaseDir() {
    if (m_baseDir.IsEmpty())
        m_baseDir = CString(m_options.baseDir.empty() ? NVKTL::programBaseFolder()
                                                      : NVKTL::withSlash(m_options.baseDir));
    return m_baseDir;
}

CString CPostonApp::getDataDir() {
    if (m_dataDir.IsEmpty()) {
        m_dataDir = getBaseDir() + "data/";
        CDataFiles::ensureFolder(m_dataDir);
    }
    return m_dataDir;
}

CString CPostonApp::getVarDir() {
    if (m_varDir.IsEmpty()) {
        m_varDir = getBaseDir() + "var/";
        CDataFiles::ensureFolder(m_varDir);
    }
    return m_varDir;
}

CardPoll CPostonApp::pollCard() {
    // The reader's texts for no card and a closed reader end here.
    const CString text = m_reader->getCardId();
    if (text == CFelicaReader::kNotOpen)
        return CardPoll::readerError();
    if (text == CFelicaReader::kNoCard)
        return CardPoll::noCard();
    return CardPoll::card(text);
}

bool CPostonApp::isReaderFailing() {
    return m_reader->isFailing();
}

bool CPostonApp::openReader() {
    if (!m_reader->openReader())
        return false;
    const int changes = m_reader->changeDescriptor();
    if (changes >= 0 && !m_cardChanges) {
        m_cardChanges = std::make_unique<QSocketNotifier>(changes, QSocketNotifier::Read);
        QObject::connect(m_cardChanges.get(), &QSocketNotifier::activated, [this] {
            m_reader->drainChanges();
            CCardWatch::announce();
        });
    }
    return true;
}

void CPostonApp::closeReader() {
    // The descriptor goes with the library.
    m_cardChanges.reset();
    m_reader->closeReader();
}

void CPostonApp::visitRecorded() {
    // On a terminal of a server the visit goes up first; the upload wakes
    // the send thread.
    if (m_sync)
        m_sync->wake();
    else
        m_sendThread.wake();
}

void CPostonApp::attachSendWindow(CBaseDialog* window) {
    m_dispatcher.bind(window);
    if (m_serverWindow)
        m_sendThread.setWindow(m_serverWindow.get());
    else
        m_sendThread.setWindow(&m_dispatcher);
}

ScreenCode CPostonApp::checkBeforeScreen(ScreenCode code) {
    // What an administrator changed on the server is in the roster copy
    // before the reception screens read it again.
    if (m_sync && m_inAdministration)
        m_sync->followRoster();
    // Once a day, what the confirmed retention limit no longer keeps goes.
    const CString now = NVKTL::CTime::StampNow();
    const CString today(now.str().substr(0, 8));
    if (today != m_retentionDay && CDbAccess().applyRetention(now) == 0)
        m_retentionDay = today;
    CDbAccess db(CDbAccess::Store::Terminal);
    ScreenCode next = CChkAdminDlg::startCheck(db, code);
    // The first administrator was registered just now.
    if (m_sync && next == ScreenCode::AdminMenu && code != ScreenCode::AdminMenu)
        m_sync->followRoster();
    m_inAdministration = next == ScreenCode::AdminMenu || CScreenTable::isAdministrationCode(next);
    // No edit that would have to be merged later: administration works on
    // the server or not at all.
    if (m_inAdministration && m_sync && CDbAccess().ping() != 0) {
        const bool tooNew = CServerLink::lastStatus() == CServerLink::Status::SchemaTooNew;
        CMessageBox::ok(nullptr, CString(tooNew ? kServerTooNew : kServerAway),
                        CString(kProgramCaption));
        m_inAdministration = false;
        next = ScreenCode::UserConfirmation;
    }
    return next;
}

void CPostonApp::startServerWork() {
    if (!CDbAccess::storeConfig().usesServer()) {
        // Deliveries that a killed run of this terminal had taken are due
        // again now, not only once their claim runs out.
        CDbAccess db;
        db.releaseClaims();
        return;
    }
    m_serverWindow = std::make_unique<CServerSendWindow>(m_dispatcher);
    m_sync = std::make_unique<CSyncThread>([this] { m_sendThread.wake(); });
    m_sync->start();
    m_sync->wake();
}

void CPostonApp::detachSendWindow(CBaseDialog* window) {
    // Only the bound screen unbinds: the screen under a sub-screen that has
    // already closed has nothing to undo. Unbinding answers every request
    // still waiting with NoWindow, so the worker is free before its timer stops and
    // the screen goes.
    if (window == nullptr || m_dispatcher.boundScreen() != window)
        return;
    m_dispatcher.unbind(window);
    m_sendThread.resetWindow();
}

void CPostonApp::requestSendEnd(NVKTL::CEvent* event) {
    m_sendThread.requestEnd(event);
}

int CPostonApp::sendingCount() {
    return static_cast<int>(m_sendThread.sendingCount());
}

void CPostonApp::sendLater() {
    m_sendThread.abortAttempts();
}

void CPostonApp::endNow() {
    if (m_endingNow)
        return;
    m_endingNow = true;
    sendLater();
    // A screen may refuse to close for a moment (a test send in progress):
    // it is asked again until it does.
    m_closer = new QTimer(qApp);
    QObject::connect(m_closer, &QTimer::timeout, [this] { closeOpenScreens(); });
    m_closer->start(100);
    closeOpenScreens();
}

void CPostonApp::closeOpenScreens() {
    // The closing screen closes by itself once the send thread has stored
    // its outcomes.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog == nullptr || !dialog->isVisible() || qobject_cast<CEndingDlg*>(dialog))
            continue;
        if (auto* screen = qobject_cast<CBaseDialog*>(dialog))
            screen->done(resultOf(ScreenCode::Leave));
        else
            dialog->reject();
    }
}

bool CPostonApp::InitInstance() {
    // Nothing else is touched before the lock is held: a second copy leaves
    // the reader and the data folder alone.
    const std::string name =
        m_options.instanceName.empty() ? std::string(kInstanceName) : m_options.instanceName;
    switch (m_lock.tryLock(name)) {
    case CInstanceLock::Result::Taken:
        break;
    case CInstanceLock::Result::HeldElsewhere:
        CMessageBox::warn(nullptr, CString(kAlreadyRunning), CString(kProgramCaption));
        return false;
    case CInstanceLock::Result::Failed:
        CMessageBox::warn(nullptr, CString(kLockFailed), CString(kProgramCaption));
        return false;
    }
    NVKTL::CJournal::started();
    m_journalled = true;
    m_signals = std::make_unique<CTerminationSignals>([this] { endNow(); });
    if (!openReader())
        return false;

    CDbAccess::setDataFolder(getDataDir());
    runMigrationIfWaiting();
    // Without a data file every registration would be lost and every card
    // unknown: the operator is told where the files are missing.
    if (!CDataFiles::exists(getDataDir() + CDataFiles::dataFile)) {
        CMessageBox::warn(nullptr, CString(kNoDataFile) + "\n" + getDataDir(),
                          CString(kProgramCaption));
        return false;
    }
    startServerWork();

    CScreenLoop loop(m_screens, [this](ScreenCode code) {
        return m_endingNow ? ScreenCode::Leave : m_startCheck(code);
    });
    loop.run();
    runClosingScreen();
    return true;
}

void CPostonApp::runMigrationIfWaiting() {
    if (!CDataFiles::prepare(getDataDir()))
        return;
    CDataIkouDlg migration;
    migration.exec();
    NVKTL::CJournal::migrated(migration.migrationResult());
}

void CPostonApp::runClosingScreen() {
    CEndingDlg ending;
    ending.exec();
    // The screen may have been cancelled while the worker still holds its end
    // event: stop the worker before the event goes with the screen.
    stopSendThread();
}

void CPostonApp::stopSendThread() {
    // An attempt still in progress ends now (a sent message's answer is
    // awaited a few seconds more); what the worker could not store any more
    // is stored here, so the next start neither loses nor repeats it.
    m_sendThread.abortAttempts();
    if (m_serverWindow)
        m_serverWindow->close();
    m_dispatcher.shutdown();
    m_sendThread.resetWindow();
    m_sendThread.stop();
    m_sendThread.storeKeptChanges(runDataRequest);
}

void CPostonApp::ExitInstance() {
    if (m_sync) {
        // A visit of the last moments goes up now, so that the other
        // terminals mail it while this one is off.
        m_sync->stop();
        m_sync->runOnce();
        m_sync.reset();
    }
    stopSendThread();
    delete m_closer;
    m_closer = nullptr;
    m_signals.reset();
    closeReader();
    if (m_journalled)
        NVKTL::CJournal::ended();
    m_journalled = false;
    m_lock.release();
}

int CPostonApp::run() {
    const bool started = InitInstance();
    ExitInstance();
    return started ? 0 : 1;
}
