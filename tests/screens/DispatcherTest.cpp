// The send thread's window: requests from a worker thread run on the
// user-interface thread through the bound screen, and nothing leaves the worker
// waiting on a screen that has gone.
#include "ScreenTestSupport.h"

#include "screens/CBaseDialog.h"
#include "screens/CMessageBox.h"
#include "screens/CProgressStatusBar.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include <future>
#include <thread>

namespace {

// A screen that answers every data request itself and notes where it ran.
class RecordingScreen : public CBaseDialog {
public:
    RecordingScreen() : CBaseDialog(133) {}

    int OnDataRequest(const char* name, void* const* args) override {
        ++requests;
        ranOnUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        lastName = name;
        (void)args;
        return answer;
    }

    int answer = 7;
    int requests = 0;
    bool ranOnUiThread = false;
    std::string lastName;
};

std::future<int> requestFromWorker(CSendWindowDispatcher& dispatcher, const char* name,
                                   void* const* args = nullptr) {
    return std::async(std::launch::async,
                      [&dispatcher, name, args] { return dispatcher.dataRequest(name, args); });
}

bool ready(const std::future<int>& result) {
    return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// Waits, without serving any request, until the worker's request is queued.
bool waitUntilQueued(const CSendWindowDispatcher& dispatcher, std::size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dispatcher.waitingRequests() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

class DispatcherTest : public ScreenTest {};

TEST_F(DispatcherTest, RequestRunsOnTheUserInterfaceThroughTheBoundScreen) {
    RecordingScreen screen;
    app.dispatcher.bind(&screen);

    auto result = requestFromWorker(app.dispatcher, "getDefault");
    ASSERT_TRUE(processEventsUntil([&] { return ready(result); }));
    EXPECT_EQ(7, result.get());
    EXPECT_EQ(1, screen.requests);
    EXPECT_TRUE(screen.ranOnUiThread);
    EXPECT_EQ("getDefault", screen.lastName);
    app.dispatcher.unbind(&screen);
}

TEST_F(DispatcherTest, WithoutABoundScreenTheAnswerIsMinusTwoAtOnce) {
    // Nothing serves the event loop here: a request that waited would hang.
    auto result = requestFromWorker(app.dispatcher, "getDefault");
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(-2, result.get());
    EXPECT_EQ(0u, app.dispatcher.waitingRequests());
}

TEST_F(DispatcherTest, UnbindingAnswersWaitingRequestsWithMinusTwo) {
    RecordingScreen screen;
    app.dispatcher.bind(&screen);
    auto first = requestFromWorker(app.dispatcher, "getSendLogin");
    auto second = requestFromWorker(app.dispatcher, "getDefault");
    ASSERT_TRUE(waitUntilQueued(app.dispatcher, 2));

    // The user-interface thread leaves the screen without serving: as the
    // screen loop does when a screen ends while the worker waits.
    app.dispatcher.unbind(&screen);
    ASSERT_EQ(std::future_status::ready, first.wait_for(std::chrono::seconds(10)));
    ASSERT_EQ(std::future_status::ready, second.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(-2, first.get());
    EXPECT_EQ(-2, second.get());

    // The queued calls that are still to come find nothing to run.
    QCoreApplication::processEvents();
    EXPECT_EQ(0, screen.requests);
}

TEST_F(DispatcherTest, AnotherScreenUnbindingLeavesTheBoundOneServing) {
    RecordingScreen bound;
    RecordingScreen other;
    app.dispatcher.bind(&bound);
    app.dispatcher.unbind(&other);
    EXPECT_EQ(&bound, app.dispatcher.boundScreen());

    auto result = requestFromWorker(app.dispatcher, "getDefault");
    ASSERT_TRUE(processEventsUntil([&] { return ready(result); }));
    EXPECT_EQ(7, result.get());
    EXPECT_EQ(1, bound.requests);
    app.dispatcher.unbind(&bound);
}

TEST_F(DispatcherTest, ARequestDuringAModalMessageBoxIsServed) {
    CMessageBox::setScripted(false);
    RecordingScreen screen;
    app.dispatcher.bind(&screen);

    std::future<int> result;
    bool servedInsideBox = false;
    // Once the box runs its own event loop, the worker asks; the box closes
    // when the answer is in (or after a generous limit, failing the test).
    QTimer::singleShot(0, [&] {
        result = requestFromWorker(app.dispatcher, "getSendLogin");
        auto* poll = new QTimer;
        auto started = std::chrono::steady_clock::now();
        QObject::connect(poll, &QTimer::timeout, [&, poll, started] {
            const bool answered = ready(result);
            if (answered || std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
                servedInsideBox = answered && QApplication::activeModalWidget() != nullptr;
                poll->stop();
                poll->deleteLater();
                if (QWidget* box = QApplication::activeModalWidget())
                    box->close();
            }
        });
        poll->start(5);
    });
    CMessageBox::ok(&screen, CString("登録しました。"), CString("テスト"));

    EXPECT_TRUE(servedInsideBox);
    ASSERT_TRUE(result.valid());
    EXPECT_EQ(7, result.get());
    app.dispatcher.unbind(&screen);
}

TEST_F(DispatcherTest, MainThreadWaitingForTheWorkerDoesNotDeadlockOnUnbind) {
    // The worker keeps asking, as the send thread does in a busy period, while
    // screens come and go; at the end the user-interface thread unbinds and
    // then blocks on the worker without serving events (as at exit).
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<int> refused{0};
    std::thread worker([&] {
        while (!stop) {
            const int r = app.dispatcher.dataRequest("getDefault", nullptr);
            (r == -2 ? refused : answered)++;
        }
    });

    for (int round = 0; round < 20; ++round) {
        RecordingScreen screen;
        app.dispatcher.bind(&screen);
        const int before = answered;
        processEventsUntil([&] { return answered > before; });
        app.dispatcher.unbind(&screen);
    }
    RecordingScreen last;
    app.dispatcher.bind(&last);
    ASSERT_TRUE(waitUntilQueued(app.dispatcher));
    app.dispatcher.unbind(&last);
    stop = true;
    worker.join(); // would never return if the waiting request were left behind
    EXPECT_GE(answered.load(), 20);
    EXPECT_GE(refused.load(), 1);
}

TEST_F(DispatcherTest, ShutdownRefusesEveryLaterRequest) {
    RecordingScreen screen;
    app.dispatcher.bind(&screen);
    auto waiting = requestFromWorker(app.dispatcher, "getDefault");
    ASSERT_TRUE(waitUntilQueued(app.dispatcher));
    app.dispatcher.shutdown();
    EXPECT_EQ(-2, waiting.get());

    app.dispatcher.bind(&screen);
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
    EXPECT_EQ(-2, requestFromWorker(app.dispatcher, "getDefault").get());
}

TEST_F(DispatcherTest, RequestOnTheUserInterfaceThreadRunsDirectly) {
    RecordingScreen screen;
    app.dispatcher.bind(&screen);
    EXPECT_EQ(7, app.dispatcher.dataRequest("getDefault", nullptr));
    EXPECT_EQ(1, screen.requests);
    app.dispatcher.unbind(&screen);
    EXPECT_EQ(-2, app.dispatcher.dataRequest("getDefault", nullptr));
}

TEST_F(DispatcherTest, ProgressReachesTheBoundScreensStatusBar) {
    RecordingScreen screen;
    screen.show(); // binds itself and builds the status bar
    ASSERT_EQ(&screen, app.dispatcher.boundScreen());
    CProgressStatusBar* bar = screen.statusBar();
    ASSERT_NE(nullptr, bar);

    std::thread([&] {
        app.dispatcher.statusText("メール送信中");
        app.dispatcher.progressStart(3, 10);
    }).join();
    ASSERT_TRUE(processEventsUntil([&] { return bar->progressPane() == 1; }));
    processEventsUntil([&] { return bar->paneText(0) == QStringLiteral("メール送信中"); });
    EXPECT_EQ(QStringLiteral("メール送信中"), bar->paneText(0));
    EXPECT_TRUE(bar->progressBar()->isVisible());
    EXPECT_EQ(10, bar->progressBar()->maximum());
    EXPECT_EQ(3, bar->progressBar()->value());

    std::thread([&] { app.dispatcher.progressEnd(); }).join();
    ASSERT_TRUE(processEventsUntil([&] { return bar->progressPane() == -1; }));
    EXPECT_FALSE(bar->progressBar()->isVisible());
    EXPECT_EQ(QString(), bar->paneText(0));
    screen.done(-1);
}

TEST_F(DispatcherTest, ProgressForAScreenThatHasGoneIsDropped) {
    {
        RecordingScreen screen;
        screen.show();
        std::thread([&] {
            app.dispatcher.progressStart(1, 5);
            app.dispatcher.statusText("メール送信中");
        }).join();
        screen.done(-1); // unbinds before the queued calls arrive
    }
    QCoreApplication::processEvents(); // must not reach the destroyed screen
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
}
