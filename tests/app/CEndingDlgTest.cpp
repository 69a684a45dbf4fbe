#include "AppTestSupport.h"

#include "app/CEndingDlg.h"
#include "delivery/CSendThread.h"
#include "screens/CSendWindowDispatcher.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

TEST(CEndingDlgTest, StaysUntilTheSendThreadHasFinishedThenClosesWithOne) {
    FakeApp app;
    CEndingDlg ending;
    bool openWhileUnset = false;
    QTimer::singleShot(0, [&] {
        ASSERT_NE(app.endEvent, nullptr);
        EXPECT_EQ(app.boundScreen, &ending);
        // Many 1 ms ticks pass without the event: the screen stays.
        QElapsedTimer clock;
        clock.start();
        waitUntil([&] { return clock.elapsed() > 60; });
        openWhileUnset = ending.isVisible();
        app.endEvent->set();
    });
    EXPECT_EQ(ending.exec(), CEndingDlg::kResultFinished);
    EXPECT_TRUE(openWhileUnset);
    EXPECT_EQ(app.boundScreen, nullptr);
}

TEST(CEndingDlgTest, TheCancelKeyClosesItAtOnceWithTwo) {
    FakeApp app;
    CEndingDlg ending;
    QTimer::singleShot(0, [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&ending, &escape);
    });
    EXPECT_EQ(ending.exec(), CEndingDlg::kResultCancelled);
    EXPECT_EQ(app.endEvent->wait(0), NVKTL::CEvent::WaitTimeout);
}

// The send thread with a mail route that holds each delivery until the test
// lets it go.
class HeldSendThread : public CSendThread {
public:
    ~HeldSendThread() override { stop(); }

    bool waitUntilHeld() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_held; });
    }
    void letGo() {
        std::lock_guard guard(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

protected:
    int deliverMail(const CMapStringToString&, const CString&, int&) override {
        std::unique_lock lock(m_mutex);
        m_held = true;
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_released; });
        return 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
};

// The application's binding of the send thread, as the program does it.
class ThreadApp : public FakeApp {
public:
    void attachSendWindow(CBaseDialog* window) override {
        dispatcher.bind(window);
        thread.setWindow(&dispatcher);
    }
    void detachSendWindow(CBaseDialog* window) override {
        if (dispatcher.boundScreen() != window)
            return;
        dispatcher.unbind(window);
        thread.resetWindow();
    }
    void requestSendEnd(NVKTL::CEvent* event) override { thread.requestEnd(event); }

    CSendWindowDispatcher dispatcher;
    HeldSendThread thread;
};

TEST(CEndingDlgTest, WaitsUntilAStateChangeThatFoundNoScreenHasReachedTheDatabase) {
    TempDataFolder folder;
    sqlExec(folder.dataFile(),
            "INSERT INTO t_user VALUES ('00000000000000A1', '山田', NULL, 2, 1);"
            "INSERT INTO t_mail VALUES ('00000000000000A1', 'yamada@example.jp');"
            "INSERT INTO t_login (user_id, login_date, ret_send) "
            "VALUES ('00000000000000A1', '20200101090000000', '1');"
            "INSERT INTO t_send (login_id, mail, state, tries) VALUES (1, 'yamada@example.jp', "
            "'1', 0);");
    ThreadApp app;
    app.thread.setInterval(5);

    // A screen is open while the notification goes out, and closes before
    // the outcome can be reported.
    {
        CBaseDialog screen(200);
        screen.show();
        ASSERT_TRUE(waitUntil(
            [&] { return app.thread.pendingCount() == 0 && app.dispatcher.boundScreen(); }));
        std::atomic<bool> held{false};
        std::thread watch([&] { held = app.thread.waitUntilHeld(); });
        // Serve the thread's requests until it sits in the delivery.
        waitUntil([&] { return held.load(); }, 10000);
        watch.join();
        ASSERT_TRUE(held);
        screen.done(-1);
    }
    app.thread.letGo();
    ASSERT_TRUE(waitUntil([&] { return app.thread.pendingCount() == 1; }));
    EXPECT_EQ(sqlQuery(folder.dataFile(), "SELECT ret_send FROM t_login"), (SqlRows{{"1"}}));

    CEndingDlg ending;
    EXPECT_EQ(ending.exec(), CEndingDlg::kResultFinished);
    EXPECT_EQ(app.thread.pendingCount(), 0u);
    EXPECT_EQ(sqlQuery(folder.dataFile(), "SELECT ret_send FROM t_login"), (SqlRows{{"2"}}));
    app.thread.stop();
}

} // namespace
