#include "AdminScreenTest.h"

#include "admin/CChkAdminDlg.h"
#include "app/CScreenTable.h"
#include "data/CDbAccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <functional>

namespace {

constexpr const char* kCard = "0123456789ABCDEF";

// Runs the event loop until condition holds (at most timeoutMs).
bool gateWaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

CChkAdminDlg* openRegistration() {
    return qobject_cast<CChkAdminDlg*>(QApplication::activeModalWidget());
}

class CChkAdminDlgTest : public AdminScreenTest {
protected:
    // Once the card field shows what the reader holds, types name and mail
    // into the open registration and runs step; "終了" leaves whatever step
    // left open.
    void fillIn(const char* name, const char* mail, std::function<void(CChkAdminDlg&)> step) {
        QTimer::singleShot(0, [this, name, mail, step] {
            CChkAdminDlg* dialog = openRegistration();
            ASSERT_NE(dialog, nullptr);
            const QString expected = app.card == "no"    ? qs(CChkAdminDlg::kPutCard)
                                     : app.card == "err" ? qs(CChkAdminDlg::kReaderError)
                                                         : qs(app.card.c_str());
            auto* cardField = control<QLineEdit>(dialog, "1007");
            EXPECT_TRUE(gateWaitFor([&] { return cardField->text() == expected; }));
            control<QLineEdit>(dialog, "1005")->setText(qs(name));
            control<QLineEdit>(dialog, "1010")->setText(qs(mail));
            step(*dialog);
            if (openRegistration() == dialog)
                control<QPushButton>(dialog, "1022")->click();
        });
    }

    int runRegistration(const char* name, const char* mail,
                        std::function<void(CChkAdminDlg&)> step) {
        CChkAdminDlg dialog;
        fillIn(name, mail, std::move(step));
        return dialog.exec();
    }

    static void pressRegister(CChkAdminDlg& dialog) {
        control<QPushButton>(&dialog, "1003")->click();
    }

    Rows users() {
        return query("SELECT user_id, user_name, mail, group_id, order_id FROM t_user "
                     "ORDER BY user_id");
    }
    Rows mails() { return query("SELECT user_id, mail FROM t_mail ORDER BY mail"); }
};

TEST_F(CChkAdminDlgTest, RegistersTheCardOnTheReaderAsAnAdministratorOfGroupOne) {
    app.card = kCard;
    answer({CMessageBox::Yes});
    EXPECT_EQ(runRegistration("管理 花子", "hanako@example.jp", pressRegister),
              CChkAdminDlg::kResultRegistered);

    EXPECT_EQ(users(), (Rows{{kCard, "管理 花子", "hanako@example.jp", "1", "1"}}));
    EXPECT_EQ(mails(), (Rows{{kCard, "hanako@example.jp"}}));
    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{CChkAdminDlg::kConfirm, CChkAdminDlg::kRegistered}));
    ASSERT_EQ(CMessageBox::shown().size(), 2u);
    EXPECT_EQ(CMessageBox::shown()[0].kind, CMessageBox::YesNoBox);
    EXPECT_EQ(CMessageBox::shown()[0].caption.str(), CChkAdminDlg::kConfirmCaption);
    CDbAccess db;
    EXPECT_EQ(db.existAdminUser(), 0);
}

TEST_F(CChkAdminDlgTest, EmptyMailStoresTheUserWithoutAnAddressRow) {
    app.card = kCard;
    answer({CMessageBox::Yes});
    EXPECT_EQ(runRegistration("管理 花子", "", pressRegister), CChkAdminDlg::kResultRegistered);
    ASSERT_EQ(users().size(), 1u);
    EXPECT_EQ(users()[0][3], "1");
    EXPECT_TRUE(mails().empty());
}

TEST_F(CChkAdminDlgTest, RefusalsShowTheirMessageAndKeepWaitingForACard) {
    struct Case {
        const char* card;
        const char* name;
        const char* message;
    };
    const Case cases[] = {
        {"no", "管理 花子", CChkAdminDlg::kPutCard},
        {"err", "管理 花子", CChkAdminDlg::kReaderError},
        {kCard, "", CChkAdminDlg::kNoName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        CMessageBox::resetForTesting();
        CMessageBox::setScripted(true);
        app.card = CString(c.card);
        bool waitingAgain = false;
        const int result = runRegistration(c.name, "", [&](CChkAdminDlg& dialog) {
            pressRegister(dialog);
            waitingAgain = dialog.isTimerActive();
        });
        EXPECT_EQ(result, CChkAdminDlg::kResultLeft);
        EXPECT_EQ(shownTexts(), std::vector<std::string>{c.message});
        EXPECT_TRUE(waitingAgain);
        EXPECT_TRUE(users().empty());
    }
}

TEST_F(CChkAdminDlgTest, DecliningTheRegistrationStoresNothing) {
    app.card = kCard;
    answer({CMessageBox::No});
    EXPECT_EQ(runRegistration("管理 花子", "x@example.jp", pressRegister),
              CChkAdminDlg::kResultLeft);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{CChkAdminDlg::kConfirm});
    EXPECT_TRUE(users().empty());
    EXPECT_TRUE(mails().empty());
}

TEST_F(CChkAdminDlgTest, AKnownCardIsOverwrittenOnlyWhenConfirmed) {
    addUser(kCard, "山田", "2");
    addUser("1111111111111111", "佐藤", "2");
    query("UPDATE t_user SET order_id = 7 WHERE user_id = ?", {kCard});
    query("UPDATE t_user SET order_id = 9 WHERE user_id = '1111111111111111'");
    app.card = kCard;

    answer({CMessageBox::Yes, CMessageBox::No});
    EXPECT_EQ(runRegistration("管理 花子", "", pressRegister), CChkAdminDlg::kResultLeft);
    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{CChkAdminDlg::kConfirm, CChkAdminDlg::kOverwrite}));
    EXPECT_EQ(users()[0][1], "山田");
    EXPECT_EQ(users()[0][3], "2");

    CMessageBox::resetForTesting();
    CMessageBox::setScripted(true);
    answer({CMessageBox::Yes, CMessageBox::Yes});
    EXPECT_EQ(runRegistration("管理 花子", "", pressRegister), CChkAdminDlg::kResultRegistered);
    // Name, group and order are overwritten; the order follows the largest.
    const std::vector<std::string> user = users()[0];
    EXPECT_EQ(user[1], "管理 花子");
    EXPECT_EQ(user[3], "1");
    EXPECT_EQ(user[4], "10");
}

TEST_F(CChkAdminDlgTest, EndAndTheCancelKeyLeaveWithTwo) {
    EXPECT_EQ(runRegistration("", "", [](CChkAdminDlg&) {}), CChkAdminDlg::kResultLeft);
    EXPECT_EQ(
        runRegistration("", "", [](CChkAdminDlg& dialog) { pressKey(&dialog, Qt::Key_Escape); }),
        CChkAdminDlg::kResultLeft);
    // Enter presses neither "登録" nor "終了".
    bool stillOpen = false;
    runRegistration("管理 花子", "", [&](CChkAdminDlg& dialog) {
        pressKey(control<QLineEdit>(&dialog, "1005"), Qt::Key_Return);
        QCoreApplication::processEvents();
        stillOpen = openRegistration() == &dialog;
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(shownTexts().empty());
}

TEST_F(CChkAdminDlgTest, StartCheckShowsTheRegistrationOnlyWithoutAnAdministrator) {
    CDbAccess db;
    // No administrator: "終了" on the registration ends the loop.
    fillIn("", "", [](CChkAdminDlg&) {});
    EXPECT_EQ(CChkAdminDlg::startCheck(db, -2), CScreenTable::kLeave);

    // A registration leads to the administrator menu, whatever was next.
    app.card = kCard;
    answer({CMessageBox::Yes});
    fillIn("管理 花子", "", pressRegister);
    EXPECT_EQ(CChkAdminDlg::startCheck(db, -2), CScreenTable::kAdminMenu);

    // With an administrator the code goes through and nothing is shown.
    bool shown = false;
    QTimer::singleShot(0, [&] { shown = openRegistration() != nullptr; });
    EXPECT_EQ(CChkAdminDlg::startCheck(db, -2), -2);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown);
}

TEST_F(CChkAdminDlgTest, AnAdministratorMovedOutOfTheGroupBringsTheRegistrationBack) {
    addUser(kCard, "管理", "1");
    CDbAccess db;
    EXPECT_EQ(CChkAdminDlg::startCheck(db, -5), -5);
    query("UPDATE t_user SET group_id = 2");
    fillIn("", "", [](CChkAdminDlg&) {});
    EXPECT_EQ(CChkAdminDlg::startCheck(db, -5), CScreenTable::kLeave);
}

} // namespace
