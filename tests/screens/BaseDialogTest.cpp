// The screen base (timers, about box, keys) and the message boxes.
#include "screens/CAboutDlg.h"
#include "screens/CBaseDialog.h"
#include "tests/support/qt/ScreenTest.h"

#include <QDialogButtonBox>
#include <QMessageBox>
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
    screen.setScreenTimer(100, 5); // stopped, like the base timer, when the screen ends

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

TEST_F(BaseDialogTest, MessageBoxesTakeScriptedAnswersInOrderAndRecordEveryBox) {
    answer({CMessageBox::Yes});
    EXPECT_EQ(CMessageBox::Yes, CMessageBox::yesNo(nullptr, CString("a"), CString("ユーザ削除")));
    CMessageBox::ok(nullptr, CString("登録しました。"), CString("ユーザ登録"));
    // None left: the safe answer.
    EXPECT_EQ(CMessageBox::No, CMessageBox::yesNo(nullptr, CString("b"), CString("c")));
    EXPECT_EQ((std::vector<std::string>{"a", "登録しました。", "b"}), shownTexts());

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
    whenShown([&] {
        seen = QStringList{QString::number(topModal<QMessageBox>()->icon())};
        pressKey(topModal<QMessageBox>(), Qt::Key_Return);
    });
    CMessageBox::warn(nullptr, CString("入力されていません"), CString("ユーザ登録"));
    EXPECT_EQ(QStringList{QString::number(QMessageBox::Warning)}, seen); // a refusal warns
}
