// The send thread's window: requests from a worker thread run on the
// user-interface thread through the bound screen, and nothing leaves the worker
// waiting on a screen that has gone (so the user-interface thread may block on
// the worker once it has unbound).
#include "tests/support/qt/ScreenTest.h"

#include "data/CDataRequest.h"
#include "screens/CBaseDialog.h"
#include "screens/CMessageBox.h"
#include "screens/CProgressStatusBar.h"
#include "tests/support/WaitUntil.h"

#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include <future>
#include <thread>

namespace {

using namespace testsupport;

// A screen that runs every request on the data file, as every screen does,
// and notes where it ran.
class RecordingScreen : public CBaseDialog {
public:
    RecordingScreen() : CBaseDialog(133) {}
    DataResult OnDataRequest(CDataRequest& request) override {
        ++requests;
        onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        return CBaseDialog::OnDataRequest(request);
    }
    std::atomic<int> requests{0};
    bool onUiThread = false;
};

// A request from a worker thread.
std::future<DataResult> fromWorker(CSendWindowDispatcher& dispatcher) {
    return std::async(std::launch::async, [&dispatcher] {
        CDataRequest request{DataRequest::GetDefault{}};
        return dispatcher.dataRequest(request);
    });
}

using DispatcherTest = ScreenTest;

TEST_F(DispatcherTest, AWorkersRequestRunsOnTheUserInterfaceThreadEvenInsideAModalBox) {
    CMessageBox::setScripted(false);
    RecordingScreen screen, other;
    app.dispatcher.bind(&screen);
    app.dispatcher.unbind(&other); // another screen's unbinding changes nothing
    std::future<DataResult> result;
    bool insideBox = false;
    whenShown([&] {
        result = fromWorker(app.dispatcher);
        insideBox =
            waitProcessingEvents([&] {
                return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
            }) &&
            QApplication::activeModalWidget() != nullptr;
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    CMessageBox::ok(&screen, CString("登録しました。"), CString("テスト"));
    EXPECT_TRUE(insideBox);
    EXPECT_EQ(DataResult::Done, result.get());
    EXPECT_TRUE(screen.onUiThread);
    // Asked on the user-interface thread itself, it runs directly.
    CDataRequest direct{DataRequest::GetWaitingCount{}};
    EXPECT_EQ(DataResult::Done, app.dispatcher.dataRequest(direct));
    EXPECT_EQ(2, screen.requests.load());
}

TEST_F(DispatcherTest, AShutdownAnswersNoWindowWithoutServingAndRefusesLaterScreens) {
    RecordingScreen screen;
    app.dispatcher.bind(&screen);
    auto first = fromWorker(app.dispatcher), second = fromWorker(app.dispatcher);
    ASSERT_TRUE(iotest::waitUntil([&] { return app.dispatcher.waitingRequests() == 2; }));
    app.dispatcher.shutdown(); // as the program does at exit, without serving
    ASSERT_EQ(std::future_status::ready, second.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(DataResult::NoWindow, first.get());
    EXPECT_EQ(DataResult::NoWindow, second.get());
    QCoreApplication::processEvents(); // the queued calls find nothing to run
    app.dispatcher.bind(&screen);      // refused after the shutdown
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
    EXPECT_EQ(DataResult::NoWindow, fromWorker(app.dispatcher).get());
    EXPECT_EQ(0, screen.requests.load());
}

TEST_F(DispatcherTest, ScreensComingAndGoingWhileTheWorkerAsksNeitherHangNorReachAGoneScreen) {
    std::atomic<bool> stop{false};
    std::atomic<int> answered[2] = {0, 0}; // served, refused
    auto worker = std::async(std::launch::async, [&] {
        while (!stop) {
            CDataRequest request{DataRequest::GetWaitingCount{}};
            ++answered[app.dispatcher.dataRequest(request) == DataResult::Done ? 0 : 1];
        }
    });
    // Each screen with the requests it had served when it unbound.
    std::vector<std::pair<std::unique_ptr<RecordingScreen>, int>> gone;
    for (int round = 0; round < 100; ++round) {
        auto screen = std::make_unique<RecordingScreen>();
        app.dispatcher.bind(screen.get());
        // Served, or left with the worker's request still queued.
        EXPECT_TRUE(round % 2
                        ? waitProcessingEvents([&] { return screen->requests > 0; })
                        : iotest::waitUntil([&] { return app.dispatcher.waitingRequests() > 0; }));
        app.dispatcher.unbind(screen.get());
        EXPECT_EQ(0u, app.dispatcher.waitingRequests());
        const int served = screen->requests;
        gone.emplace_back(std::move(screen), served);
    }
    stop = true;
    const bool ended = worker.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!ended)
        app.dispatcher.shutdown(); // lets the worker go before failing
    ASSERT_TRUE(ended);
    QCoreApplication::processEvents(); // the queued calls left find no screen
    for (const auto& [screen, served] : gone)
        EXPECT_EQ(served, screen->requests.load());
    EXPECT_GE(answered[0].load(), 50);
    EXPECT_GT(answered[1].load(), 0);
}

TEST_F(DispatcherTest, ProgressFromTheWorkerCoversPaneOneOfTheBoundScreensStatusBar) {
    RecordingScreen screen;
    screen.show(); // binds itself and builds the status bar
    auto* bar = control<CProgressStatusBar>(&screen, "statusBar");
    auto* progress = control<QProgressBar>(bar, "progressBar");
    auto* pane = control<QLabel>(bar, "progressPaneLabel");
    screen.resize(500, 320);
    std::thread([&] {
        app.dispatcher.statusText("メール送信中");
        app.dispatcher.progressStart(2, 4);
    }).join();
    ASSERT_TRUE(waitProcessingEvents([&] { return progress->isVisible(); }));
    EXPECT_EQ(qs("メール送信中"), control<QLabel>(bar, "statusTextLabel")->text());
    EXPECT_EQ(screen.height(), bar->geometry().bottom() + 1);
    EXPECT_EQ(QRect(pane->mapTo(bar, QPoint(0, 0)), pane->size()), progress->geometry());
    EXPECT_EQ(std::make_pair(2, 4), std::make_pair(progress->value(), progress->maximum()));
    std::thread([&] { app.dispatcher.progressEnd(); }).join();
    ASSERT_TRUE(waitProcessingEvents([&] { return !progress->isVisible(); }));
    EXPECT_EQ(QString(), bar->paneText(0));
    screen.done(-1); // the send thread is bound while the screen is open, once
    EXPECT_EQ(std::make_tuple(1, 1, nullptr),
              std::make_tuple(app.attaches, app.detaches, app.boundScreen()));
}

} // namespace
