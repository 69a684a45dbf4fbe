#include "app/CKioskMode.h"
#include "screens/CPostonDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

namespace {

using namespace testsupport;

class CKioskModeTest : public ScreenTest {
protected:
    CKioskModeTest() { qApp->installEventFilter(&kiosk); }
    ~CKioskModeTest() override { qApp->removeEventFilter(&kiosk); }

    CKioskMode kiosk{30};
};

// The program ends every screen itself (a card, a button); only the window
// system and Escape must not end the first one.
TEST_F(CKioskModeTest, ScreensFillTheDisplayAndEndByTheProgramButTheFirstNotFromOutside) {
    enum Way { Program, WindowSystem, Escape };
    struct Case {
        bool first;
        Way way;
        bool ends;
    };
    const Case cases[] = {
        {true, Program, true},  {true, WindowSystem, false}, {true, Escape, false},
        {false, Program, true}, {false, WindowSystem, true}, {false, Escape, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first ? "first" : "other") + " screen, way " +
                     std::to_string(c.way));
        std::unique_ptr<QDialog> screen(c.first ? new CPostonDlg : new QDialog);
        bool ended = true;
        // What the window system sends for Alt+F4 or a close button.
        QCloseEvent close;
        whenShown([&] {
            EXPECT_TRUE(screen->windowState() & Qt::WindowFullScreen);
            EXPECT_TRUE(screen->windowFlags() & Qt::FramelessWindowHint);
            EXPECT_EQ(screen->geometry(), screen->screen()->geometry());
            if (c.way == Program)
                screen->done(resultOf(ScreenCode::Greeting));
            else if (c.way == WindowSystem)
                QApplication::sendEvent(screen->windowHandle(), &close);
            else
                pressKey(screen.get(), Qt::Key_Escape);
            // A screen that stays is put away by hand.
            if (screen->isVisible()) {
                ended = false;
                screen->hide();
            }
        });
        screen->exec();
        EXPECT_EQ(ended, c.ends);
        EXPECT_TRUE(c.way != Program || screen->result() == resultOf(ScreenCode::Greeting));
    }
}

TEST_F(CKioskModeTest, PointerHidesWhenIdleAndReturnsWithMovement) {
    const auto hidden = [] {
        return QApplication::overrideCursor() &&
               QApplication::overrideCursor()->shape() == Qt::BlankCursor;
    };
    QDialog screen;
    screen.show();
    EXPECT_TRUE(waitProcessingEvents(hidden));
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&screen, &move);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(waitProcessingEvents(hidden));
}

} // namespace
