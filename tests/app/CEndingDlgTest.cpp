#include "app/CEndingDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

namespace {

using namespace testsupport;

class CEndingDlgTest : public ScreenTest {};

// The screen says how many mails are still being sent and stays until the
// send thread has finished, many 1 ms ticks included. After a few seconds it
// offers to send later; that, or the cancel key, has the thread end now, and
// the screen closes once it has. The cancel key pressed again closes it at once.
TEST_F(CEndingDlgTest, SaysWhatIsBeingSentAndOffersToSendLater) {
    enum class Way { Finished, Later, CancelledTwice };
    for (const Way way : {Way::Finished, Way::Later, Way::CancelledTwice}) {
        SCOPED_TRACE(static_cast<int>(way));
        app.endEvent = nullptr;
        app.sending = 2;
        app.laterRequests = 0;
        CEndingDlg ending;
        auto* sending = control<QLabel>(&ending, "sendingLabel");
        auto* later = control<QPushButton>(&ending, "laterButton");
        whenShown([&] {
            ASSERT_EQ(app.boundScreen(), &ending);
            ASSERT_NE(app.endEvent, nullptr);
            EXPECT_EQ(sending->text(), qs("送信中のメールが2件あります。"));
            EXPECT_FALSE(later->isVisible());
            if (way == Way::Finished) {
                app.sending = 1;
                QElapsedTimer clock;
                clock.start();
                EXPECT_TRUE(waitProcessingEvents([&] {
                    return clock.elapsed() > 60 &&
                           sending->text() == qs("送信中のメールが1件あります。");
                }));
                EXPECT_TRUE(ending.isVisible());
            } else if (way == Way::Later) {
                EXPECT_TRUE(waitProcessingEvents([&] { return later->isVisible(); }));
                later->click();
            } else {
                pressKey(&ending, Qt::Key_Escape);
                EXPECT_TRUE(ending.isVisible());
                return pressKey(&ending, Qt::Key_Escape);
            }
            EXPECT_EQ(app.laterRequests, way == Way::Later ? 1 : 0);
            EXPECT_EQ(sending->text(), qs(way == Way::Later ? CEndingDlg::kStopping
                                                            : "送信中のメールが1件あります。"));
            app.endEvent->set();
        });
        EXPECT_EQ(ending.exec(), way == Way::CancelledTwice ? CEndingDlg::kResultCancelled
                                                            : CEndingDlg::kResultFinished);
        EXPECT_EQ(app.laterRequests, way == Way::Finished ? 0 : 1);
        EXPECT_EQ(app.boundScreen(), nullptr);
    }
}

} // namespace
