#include "app/CEndingDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QElapsedTimer>

namespace {

using namespace testsupport;

class CEndingDlgTest : public ScreenTest {};

TEST_F(CEndingDlgTest, StaysUntilTheSendThreadHasFinishedOrTheCancelKeyIsPressed) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "the cancel key" : "the end event");
        app.endEvent = nullptr;
        CEndingDlg ending;
        bool stayed = false;
        whenShown([&] {
            EXPECT_EQ(app.boundScreen(), &ending);
            if (cancel || app.endEvent == nullptr)
                return pressKey(&ending, Qt::Key_Escape);
            // Many 1 ms ticks pass without the event: the screen stays.
            QElapsedTimer clock;
            clock.start();
            waitProcessingEvents([&] { return clock.elapsed() > 60; });
            stayed = ending.isVisible();
            app.endEvent->set();
        });
        EXPECT_EQ(ending.exec(),
                  cancel ? CEndingDlg::kResultCancelled : CEndingDlg::kResultFinished);
        EXPECT_EQ(stayed, !cancel);
        ASSERT_NE(app.endEvent, nullptr);
        EXPECT_EQ(app.endEvent->wait(0) == NVKTL::CEvent::WaitSignalled, !cancel);
        EXPECT_EQ(app.boundScreen(), nullptr);
    }
}

} // namespace
