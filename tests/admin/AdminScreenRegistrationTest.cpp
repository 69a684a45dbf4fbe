#include "AdminScreenTest.h"

#include "admin/CAdminScreens.h"
#include "app/CScreenTable.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

// Runs step on the modal screen once it is up.
void onModalScreen(std::function<void(QWidget*)> step) {
    QTimer::singleShot(0, [step] {
        QWidget* screen = QApplication::activeModalWidget();
        ASSERT_NE(screen, nullptr);
        step(screen);
    });
}

} // namespace

class AdminScreenRegistrationTest : public AdminScreenTest {
protected:
    void SetUp() override { registerAdminScreens(table); }
    CScreenTable table;
};

TEST_F(AdminScreenRegistrationTest, EveryAdministrationCodeHasItsScreen) {
    for (const int code : {-3, -4, -5, -6, -7, -8, -9, -10, -11, -20, -21, -30})
        EXPECT_TRUE(table.has(code)) << code;
    CString key;
    onModalScreen([](QWidget* screen) {
        EXPECT_EQ(screen->objectName(), QStringLiteral("148"));
        control<QPushButton>(screen, "1023")->click();
    });
    EXPECT_EQ(table.show(-30, key), -3);
}

TEST_F(AdminScreenRegistrationTest, TheChosenGroupReachesTheChangeScreen) {
    const std::string group = addGroup("営業");
    CString key;
    onModalScreen([](QWidget* screen) {
        auto* list = control<QListWidget>(screen, "1008");
        list->item(2)->setSelected(true);
        control<QPushButton>(screen, "1009")->click();
    });
    EXPECT_EQ(table.show(-10, key), -11);
    EXPECT_EQ(key.str(), group);

    QString shownName;
    onModalScreen([&shownName](QWidget* screen) {
        shownName = control<QLineEdit>(screen, "1014")->text();
        control<QPushButton>(screen, "1023")->click();
    });
    EXPECT_EQ(table.show(-11, key), -10);
    EXPECT_EQ(shownName, qs("営業"));
}

TEST_F(AdminScreenRegistrationTest, TheChosenUserReachesTheChangeScreen) {
    addUser("A000000000000001", "青木", "1");
    CString key("stale");
    onModalScreen([](QWidget* screen) {
        control<QListWidget>(screen, "1000")->item(0)->setSelected(true);
        control<QPushButton>(screen, "1030")->click();
    });
    EXPECT_EQ(table.show(-6, key), -7);
    EXPECT_EQ(key.str(), "A000000000000001");

    QString shownCard;
    onModalScreen([&shownCard](QWidget* screen) {
        shownCard = control<QLineEdit>(screen, "1006")->text();
        control<QPushButton>(screen, "1022")->click();
    });
    EXPECT_EQ(table.show(-7, key), -1);
    EXPECT_EQ(shownCard, qs("A000000000000001"));
}
