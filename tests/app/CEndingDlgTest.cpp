#include "app/CEndingDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QLabel>
#include <QPushButton>

namespace {

using namespace testsupport;

class CEndingDlgTest : public ScreenTest {};

// The screen says how many mails are still being sent and stays until the
// send thread has finished. After a few seconds it
// offers to send later; that, or the cancel key, has the thread end now, and
// the screen closes once it has. The cancel key pressed again closes it at once.
TEST_F(CEndingDlgTest, SaysWhatIsBeingSentAndOffersToSendLater) {
    enum class Way { Finished, Later, CancelledTwice };
    for (const Way way : {Way::Finished, Way::Later, Way::CancelledTwice}) {
        app.sending = 2;
        app.laterRequests = 0;
        CEndingDlg ending;
        auto* sending = control<QLabel>(&ending, "sendingLabel");
        auto* later = control<QPushButton>(&ending, "laterButton");
        whenShown([&] {
            EXPECT_EQ(app.boundScreen(), &ending);
            EXPECT_EQ(sending->text(), qs("送信中のメールが2件あります。"));
            EXPECT_FALSE(later->isVisible());
            app.sending = 1;
            EXPECT_TRUE(waitProcessingEvents(
                [&] { return sending->text() == qs("送信中のメールが1件あります。"); }));
            if (way == Way::Later && waitProcessingEvents([&] { return later->isVisible(); }))
                later->click();
            if (way == Way::CancelledTwice)
                pressKey(&ending, Qt::Key_Escape);
            EXPECT_TRUE(ending.isVisible());
            EXPECT_EQ(app.laterRequests, way == Way::Finished ? 0 : 1);
            if (way == Way::CancelledTwice)
                return pressKey(&ending, Qt::Key_Escape);
            EXPECT_EQ(sending->text(), qs(way == Way::Later ? CEndingDlg::kStopping
                                                            : "送信中のメールが1件あります。"));
            app.endEvent->set();
        });
        EXPECT_EQ(ending.exec(), way == Way::CancelledTwice ? CEndingDlg::kResultCancelled
                                                            : CEndingDlg::kResultFinished);
        EXPECT_EQ(app.boundScreen(), nullptr);
    }
}

} // namespace
