#include "app/CKioskMode.h"
#include "tests/support/WaitUntil.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CKioskModeTest : public ::testing::Test {
protected:
    void SetUp() override { qApp->installEventFilter(&kiosk); }
    void TearDown() override { qApp->removeEventFilter(&kiosk); }

    // A screen with one text, named like one of the program's screens.
    std::unique_ptr<QDialog> screen(const char* name) {
        auto dialog = std::make_unique<QDialog>();
        dialog->setObjectName(QLatin1String(name));
        auto* layout = new QVBoxLayout(dialog.get());
        label = new QLabel(QStringLiteral("こんにちは"), dialog.get());
        layout->addWidget(label);
        return dialog;
    }

    static constexpr int kIdleMs = 30;
    CKioskMode kiosk{kIdleMs};
    QLabel* label = nullptr;
};

TEST_F(CKioskModeTest, ScreensFillTheDisplayAndOnlyTheFirstResistsClosing) {
    struct Case {
        const char* name;
        bool closable;
    };
    const Case cases[] = {{"CPostonDlg", false}, {"CAdminMenuDlg", true}, {"CChkAdminDlg", true}};
    for (const Case& c : cases) {
        for (const char* how : {"close", "escape"}) {
            auto dialog = screen(c.name);
            const qreal textSize = label->font().pointSizeF();
            dialog->show();
            EXPECT_TRUE(dialog->windowState() & Qt::WindowFullScreen) << c.name;
            EXPECT_TRUE(dialog->windowFlags() & Qt::FramelessWindowHint) << c.name;
            EXPECT_EQ(dialog->geometry(), dialog->screen()->geometry()) << c.name;
            EXPECT_GT(label->font().pointSizeF(), textSize) << c.name;

            if (std::string(how) == "close") {
                dialog->close();
            } else {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(dialog.get(), &escape);
            }
            EXPECT_EQ(dialog->isVisible(), !c.closable) << c.name << " " << how;
        }
    }
}

TEST_F(CKioskModeTest, PointerHidesWhenIdleAndReturnsWithMovement) {
    auto dialog = screen("CPostonDlg");
    dialog->show();
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(iotest::waitUntil([&] {
            QApplication::processEvents();
            return kiosk.pointerHidden();
        }));
        EXPECT_EQ(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                 : Qt::ArrowCursor,
                  Qt::BlankCursor);
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(dialog.get(), &move);
        EXPECT_FALSE(kiosk.pointerHidden());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(CKioskModeTest, OnlyTheOptionAsksForKioskMode) {
    EXPECT_TRUE(CKioskMode::requested({"poston", "--kiosk"}));
    EXPECT_FALSE(CKioskMode::requested({"poston"}));
    EXPECT_FALSE(CKioskMode::requested({"poston", "--kiosks"}));
}

} // namespace
