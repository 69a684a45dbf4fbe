#include "app/CKioskMode.h"
#include "screens/CPostonDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace {

using namespace testsupport;

class CKioskModeTest : public ScreenTest {
protected:
    CKioskModeTest() { qApp->installEventFilter(&kiosk); }
    ~CKioskModeTest() override { qApp->removeEventFilter(&kiosk); }

    CKioskMode kiosk{30};
};

TEST_F(CKioskModeTest, ScreensFillTheDisplayAndOnlyTheFirstResistsClosing) {
    for (const bool first : {true, false}) {
        for (const bool byKey : {false, true}) {
            SCOPED_TRACE(std::string(first ? "first" : "other") + (byKey ? ", Escape" : ", close"));
            std::unique_ptr<QDialog> screen(first ? new CPostonDlg : new QDialog);
            if (!first)
                (new QVBoxLayout(screen.get()))->addWidget(new QLabel(qs("こんにちは")));
            QLabel* label = screen->findChild<QLabel*>();
            const qreal textSize = label->font().pointSizeF();
            screen->show();
            EXPECT_TRUE(screen->windowState() & Qt::WindowFullScreen);
            EXPECT_TRUE(screen->windowFlags() & Qt::FramelessWindowHint);
            EXPECT_EQ(screen->geometry(), screen->screen()->geometry());
            EXPECT_GT(label->font().pointSizeF(), textSize);
            if (byKey)
                pressKey(screen.get(), Qt::Key_Escape);
            else
                screen->close();
            EXPECT_EQ(screen->isVisible(), first);
        }
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
