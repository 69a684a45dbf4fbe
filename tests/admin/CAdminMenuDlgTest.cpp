#include "AdminScreenTest.h"

#include "admin/CAdminMenuDlg.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace {

using CAdminMenuDlgTest = AdminScreenTest;

TEST_F(CAdminMenuDlgTest, EveryButtonEndsTheMenuWithTheCodeOfItsScreen) {
    const std::pair<const char*, int> buttons[] = {
        {"1010", -8},  {"1011", -9},  {"1012", -10}, {"1004", -4}, {"1005", -5}, {"1006", -6},
        {"1008", -21}, {"1007", -20}, {"1013", -30}, {"1022", -1}, {"1023", -1},
    };
    for (const auto& [id, code] : buttons) {
        SCOPED_TRACE(id);
        CAdminMenuDlg menu;
        QTimer::singleShot(0, [&menu, id = id] {
            auto* button = control<QPushButton>(&menu, id);
            ASSERT_NE(button, nullptr);
            EXPECT_TRUE(button->isEnabled());
            button->click();
        });
        EXPECT_EQ(menu.exec(), code);
    }
}

TEST_F(CAdminMenuDlgTest, ClosingTheWindowReturnsToTheUserConfirmation) {
    CAdminMenuDlg menu;
    QTimer::singleShot(0, [&] { pressKey(&menu, Qt::Key_Escape); });
    EXPECT_EQ(menu.exec(), -1);
    CAdminMenuDlg closed;
    QTimer::singleShot(0, [&] { closed.close(); });
    EXPECT_EQ(closed.exec(), -1);
}

TEST_F(CAdminMenuDlgTest, EnterPressesNoButton) {
    CAdminMenuDlg menu;
    QTimer::singleShot(0, [&] {
        // Whichever button has the focus, Enter must not press it.
        for (QPushButton* button : menu.findChildren<QPushButton*>()) {
            button->setFocus();
            pressKey(button, Qt::Key_Return);
            QCoreApplication::processEvents();
            EXPECT_TRUE(menu.isVisible()) << button->objectName().toStdString();
        }
        menu.reject();
    });
    EXPECT_EQ(menu.exec(), -1);
}

} // namespace
