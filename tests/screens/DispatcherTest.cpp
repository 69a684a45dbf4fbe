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

#include <QProgressBar>
#include <QThread>

#include <future>
#include <thread>

namespace {

using testsupport::waitProcessingEvents;

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

// A getDefault request from a worker thread; its map comes back in settings.
std::future<DataResult> fromWorker(CSendWindowDispatcher& dispatcher,
                                   CMapStringToString* settings = nullptr) {
    return std::async(std::launch::async, [&dispatcher, settings] {
        CDataRequest request{DataRequest::GetDefault{}};
        const DataResult result = dispatcher.dataRequest(request);
        if (settings)
            *settings = std::get<DataRequest::GetDefault>(request.operation).settings;
        return result;
    });
}

bool ready(const std::future<DataResult>& result) {
    return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

class DispatcherTest : public testsupport::ScreenTest {
protected:
    // Waits, without serving any request, until count requests are queued.
    bool queued(std::size_t count = 1) {
        return iotest::waitUntil([&] { return app.dispatcher.waitingRequests() >= count; });
    }
};

TEST_F(DispatcherTest, AWorkersRequestRunsOnTheUserInterfaceThreadEvenInsideAModalBox) {
    data.setSetting("mail_user", "受付");
    CMessageBox::setScripted(false);
    RecordingScreen screen, other;
    app.dispatcher.bind(&screen);
    app.dispatcher.unbind(&other); // another screen's unbinding changes nothing
    CMapStringToString settings;
    std::future<DataResult> result;
    bool insideBox = false;
    testsupport::whenShown([&] {
        result = fromWorker(app.dispatcher, &settings);
        insideBox = waitProcessingEvents([&] { return ready(result); }) &&
                    QApplication::activeModalWidget() != nullptr;
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    CMessageBox::ok(&screen, CString("登録しました。"), CString("テスト"));
    EXPECT_TRUE(insideBox);
    EXPECT_EQ(DataResult::Done, result.get());
    EXPECT_EQ(settings.Value("mail_user"), "受付");
    EXPECT_TRUE(screen.onUiThread);
    // Asked on the user-interface thread itself, it runs directly.
    CDataRequest direct{DataRequest::GetWaitingCount{}};
    EXPECT_EQ(DataResult::Done, app.dispatcher.dataRequest(direct));
    EXPECT_EQ(2, screen.requests.load());
}

TEST_F(DispatcherTest, NoScreenUnbindingAndShutdownAnswerNoWindowWithoutServingAnything) {
    // Nothing serves the event loop here: a request that waited would hang.
    ASSERT_EQ(std::future_status::ready,
              fromWorker(app.dispatcher).wait_for(std::chrono::seconds(10)));
    RecordingScreen screen;
    for (const bool shutdown : {false, true}) {
        app.dispatcher.bind(&screen);
        auto first = fromWorker(app.dispatcher), second = fromWorker(app.dispatcher);
        ASSERT_TRUE(queued(2));
        // The user-interface thread leaves the screen without serving, as the
        // screen loop does when a screen ends while the worker waits.
        shutdown ? app.dispatcher.shutdown() : app.dispatcher.unbind(&screen);
        const bool answered =
            second.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!answered)
            app.dispatcher.shutdown(); // lets the worker go before failing
        ASSERT_TRUE(answered);
        EXPECT_EQ(DataResult::NoWindow, first.get());
        EXPECT_EQ(DataResult::NoWindow, second.get());
        QCoreApplication::processEvents(); // the queued calls find nothing to run
    }
    app.dispatcher.bind(&screen); // refused after the shutdown
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
    EXPECT_EQ(DataResult::NoWindow, fromWorker(app.dispatcher).get());
    EXPECT_EQ(0, screen.requests.load());
}

TEST_F(DispatcherTest, ProgressReachesTheBoundScreensStatusBar) {
    RecordingScreen screen;
    screen.show(); // binds itself and builds the status bar
    CProgressStatusBar* bar = screen.statusBar();
    ASSERT_NE(nullptr, bar);
    std::thread([&] {
        app.dispatcher.statusText("メール送信中");
        app.dispatcher.progressStart(3, 10);
    }).join();
    ASSERT_TRUE(waitProcessingEvents([&] {
        return bar->progressPane() == 1 && bar->paneText(0) == testsupport::qs("メール送信中");
    }));
    EXPECT_TRUE(bar->progressBar()->isVisible());
    EXPECT_EQ(10, bar->progressBar()->maximum());
    EXPECT_EQ(3, bar->progressBar()->value());
    std::thread([&] { app.dispatcher.progressEnd(); }).join();
    ASSERT_TRUE(waitProcessingEvents([&] { return bar->progressPane() == -1; }));
    EXPECT_FALSE(bar->progressBar()->isVisible());
    EXPECT_EQ(QString(), bar->paneText(0));
    screen.done(-1);
}

} // namespace
