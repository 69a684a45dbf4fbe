#include "AdminScreenTest.h"

#include "admin/CAdminScreens.h"
#include "admin/CChkAdmin2Dlg.h"
#include "app/CScreenTable.h"
#include "screens/CPostonDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <functional>

namespace {

constexpr const char* kAdministrator = "00000000000000AD";
constexpr const char* kVisitor = "000000000000000B";

bool checkWaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
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

class CChkAdmin2DlgTest : public AdminScreenTest {
protected:
    void SetUp() override {
        addUser(kAdministrator, "管理", "1");
        addUser(kVisitor, "来客", "2");
    }

    // Shows the check; once its message field shows text, runs step; the
    // cancel key closes whatever step left open.
    int runCheck(const char* text, std::function<void(CChkAdmin2Dlg&)> step) {
        CChkAdmin2Dlg dialog;
        QTimer::singleShot(0, [&] {
            auto* field = control<QLabel>(&dialog, "1028");
            EXPECT_TRUE(checkWaitFor([&] { return field->text() == qs(text); }));
            if (dialog.isVisible())
                step(dialog);
            if (dialog.isVisible())
                dialog.reject();
        });
        return dialog.exec();
    }
};

TEST_F(CChkAdmin2DlgTest, AnAdministratorsCardPassesAtOnce) {
    app.card = kAdministrator;
    CChkAdmin2Dlg dialog;
    EXPECT_EQ(dialog.exec(), CChkAdmin2Dlg::kResultAdministrator);
}

TEST_F(CChkAdmin2DlgTest, OtherCardsAndReaderStatesKeepTheCheckOpenWithTheirMessage) {
    app.card = kVisitor;
    // A registered visitor stays refused until an administrator's card comes.
    EXPECT_EQ(runCheck(CChkAdmin2Dlg::kNotAdministrator,
                       [&](CChkAdmin2Dlg& dialog) {
                           app.card = kAdministrator;
                           EXPECT_TRUE(checkWaitFor([&] { return !dialog.isVisible(); }));
                       }),
              CChkAdmin2Dlg::kResultAdministrator);

    app.card = CString("FFFFFFFFFFFFFFFF");
    EXPECT_EQ(runCheck(CChkAdmin2Dlg::kNotAdministrator, [](CChkAdmin2Dlg&) {}),
              CChkAdmin2Dlg::kResultCancelled);
    // Two cards on the reader poll as "no".
    app.card = CString("no");
    EXPECT_EQ(runCheck(CChkAdmin2Dlg::kPrompt, [](CChkAdmin2Dlg&) {}),
              CChkAdmin2Dlg::kResultCancelled);
    app.card = CString("err");
    EXPECT_EQ(runCheck(CChkAdmin2Dlg::kReaderError, [](CChkAdmin2Dlg&) {}),
              CChkAdmin2Dlg::kResultCancelled);
}

TEST_F(CChkAdmin2DlgTest, EndBackAndTheCancelKeyAllGiveUpTheCheck) {
    for (const char* id : {"1022", "1023"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(
            runCheck(CChkAdmin2Dlg::kPrompt,
                     [&](CChkAdmin2Dlg& dialog) { control<QPushButton>(&dialog, id)->click(); }),
            CChkAdmin2Dlg::kResultCancelled);
    }
    EXPECT_EQ(runCheck(CChkAdmin2Dlg::kPrompt,
                       [](CChkAdmin2Dlg& dialog) { pressKey(&dialog, Qt::Key_Escape); }),
              CChkAdmin2Dlg::kResultCancelled);
}

TEST_F(CChkAdmin2DlgTest, TheCheckHoldsTheSendThreadOnlyWhileItIsOpen) {
    int boundWhileOpen = 0;
    runCheck(CChkAdmin2Dlg::kPrompt, [&](CChkAdmin2Dlg&) { boundWhileOpen = app.attached; });
    EXPECT_EQ(boundWhileOpen, 1);
    EXPECT_EQ(app.attached, 0);
}

TEST_F(CChkAdmin2DlgTest, AfterACancelledCheckTheFirstScreenHasTheSendThreadAgain) {
    CScreenTable table;
    registerAdminScreens(table);
    CPostonDlg first;
    first.show();
    ASSERT_EQ(app.bound, &first);
    QTimer::singleShot(0, [] {
        auto* check = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(check, nullptr);
        control<QPushButton>(check, "1022")->click();
    });
    first.OnSettings();
    EXPECT_EQ(app.bound, &first);
    CPostonDlg::setAdminCheck(nullptr);
}

} // namespace
