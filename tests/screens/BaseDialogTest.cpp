// The screen base (timers, about box, keys, status bar, send thread) and the message boxes.
#include "screens/CAboutDlg.h"
#include "screens/CBaseDialog.h"
#include "screens/CProgressStatusBar.h"
#include "tests/support/qt/ScreenTest.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using namespace testsupport;

namespace {

// A screen with the shared buttons, counting the ticks of its own timer.
class PlainScreen : public CBaseDialog {
public:
    PlainScreen() : CBaseDialog(102) {
        for (const char* role : {"endButton", "backButton"})
            (new QPushButton(this))->setObjectName(qs(role));
    }
    void OnTimer(int id) override {
        ownTicks += id == kScreenTimerId;
        CBaseDialog::OnTimer(id);
    }
    int ownTicks = 0;
};

} // namespace

using BaseDialogTest = ScreenTest;

TEST_F(BaseDialogTest, TimersPollTheReaderAndStopAroundSubScreensAndTheAboutBox) {
    PlainScreen screen;
    screen.show();
    ASSERT_TRUE(waitProcessingEvents([&] { return app.polls() >= 2; }));
    screen.setScreenTimer(100, 5);
    screen.killScreenTimer(100);
    EXPECT_EQ(0, screen.baseTimerId());
    EXPECT_FALSE(screen.isScreenTimerActive(100));
    EXPECT_EQ(100, screen.setScreenTimer(100, 5));

    // The about box stops the base timer only.
    bool shown = false;
    whenShown([&] {
        const int ticks = screen.ownTicks;
        EXPECT_TRUE(waitProcessingEvents([&] { return screen.ownTicks > ticks + 2; }));
        auto* about = topModal<CAboutDlg>();
        ASSERT_TRUE(shown = about != nullptr);
        EXPECT_EQ(0, screen.baseTimerId());
        control<QDialogButtonBox>(about, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    control<QAbstractButton>(&screen, "aboutButton")->click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(152, screen.baseTimerId());
    screen.done(-1);
    EXPECT_FALSE(screen.isScreenTimerActive(100));
    EXPECT_EQ(0, screen.baseTimerId());
}

TEST_F(BaseDialogTest, EnterPressesNothingAndBackLeadsToTheMenu) {
    PlainScreen screen;
    screen.show();
    auto* end = control<QPushButton>(&screen, "endButton");
    end->setFocus();
    pressKey(end, Qt::Key_Return);
    pressKey(&screen, Qt::Key_Enter);
    ASSERT_TRUE(screen.isVisible());
    control<QPushButton>(&screen, "backButton")->click();
    EXPECT_EQ(-3, screen.result());
}

TEST_F(BaseDialogTest, AScreenThatEndsWhileItInitialisesStillReturnsFromExec) {
    struct EndsAtOnce : PlainScreen {
        bool OnInitDialog() override {
            CBaseDialog::OnInitDialog();
            done(-6);
            return true;
        }
    } screen;
    QTimer::singleShot(10000, &screen, [&screen] { screen.QDialog::done(99); }); // failsafe
    EXPECT_EQ(-6, screen.exec());
    EXPECT_EQ(nullptr, app.boundScreen());
}

TEST_F(BaseDialogTest, ProgressBarCoversPaneOneWhileABatchIsSent) {
    PlainScreen screen;
    screen.show();
    EXPECT_EQ(&screen, app.boundScreen());
    auto* bar = control<CProgressStatusBar>(&screen, "statusBar");
    auto* progress = control<QProgressBar>(bar, "progressBar");
    auto* pane = control<QLabel>(bar, "progressPaneLabel");
    screen.OnStatusText(CString("メール送信中"));
    screen.OnProgressStart(2, 4);
    screen.resize(500, 320);
    QCoreApplication::processEvents();
    EXPECT_EQ(qs("メール送信中"), control<QLabel>(bar, "statusTextLabel")->text());
    EXPECT_EQ(screen.height(), bar->geometry().bottom() + 1);
    EXPECT_EQ(QRect(pane->mapTo(bar, QPoint(0, 0)), pane->size()), progress->geometry());
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(std::make_pair(2, 4), std::make_pair(progress->value(), progress->maximum()));
    screen.OnProgressEnd();
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(QString(), bar->paneText(0));
    screen.done(-1); // the send thread is bound while the screen is open, once
    EXPECT_EQ(std::make_tuple(1, 1, nullptr),
              std::make_tuple(app.attaches, app.detaches, app.boundScreen()));
}

TEST_F(BaseDialogTest, MessageBoxesTakeScriptedAnswersInOrderAndRecordEveryBox) {
    answer({CMessageBox::Yes, CMessageBox::No});
    EXPECT_EQ(CMessageBox::Yes, CMessageBox::yesNo(nullptr, CString("a"), CString("ユーザ削除")));
    CMessageBox::ok(nullptr, CString("登録しました。"), CString("ユーザ登録"));
    EXPECT_EQ(CMessageBox::No, CMessageBox::yesNo(nullptr, CString("b"), CString("c")));
    // None left: the safe answer.
    EXPECT_EQ(CMessageBox::No, CMessageBox::yesNo(nullptr, CString("d"), CString("e")));
    EXPECT_EQ((std::vector<std::string>{"a", "登録しました。", "b", "d"}), shownTexts());

    CMessageBox::resetForTesting(); // a real box: Japanese buttons, Enter answers Yes
    QStringList seen;
    whenShown([&] {
        auto* box = topModal<QMessageBox>();
        ASSERT_NE(nullptr, box);
        seen << box->windowTitle() << box->text();
        for (QAbstractButton* button : box->buttons())
            seen << button->text();
        pressKey(box, Qt::Key_Return);
    });
    EXPECT_EQ(CMessageBox::Yes,
              CMessageBox::yesNo(nullptr, CString("削除しますか？"), CString("グループ削除")));
    EXPECT_EQ(
        QStringList({qs("グループ削除"), qs("削除しますか？"), qs("はい(&Y)"), qs("いいえ(&N)")}),
        seen);
    EXPECT_TRUE(CMessageBox::shown().empty()); // real boxes are not recorded
}
