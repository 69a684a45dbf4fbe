// The user confirmation screen: cards, messages, the settings button and the
// window's saved centre.
#include "ScreenTestSupport.h"

#include "screens/CPostonDlg.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {

const char* const kCard = "0123456789ABCDEF";

QString messageField(const CPostonDlg& screen) {
    return screen.findChild<QLabel*>(QStringLiteral("1034"))->text();
}

QPushButton* settingsButton(const CPostonDlg& screen) {
    return screen.findChild<QPushButton*>(QStringLiteral("1008"));
}

// Installs an administrator check for one test.
struct AdminCheckScope {
    explicit AdminCheckScope(CPostonDlg::AdminCheck check) {
        CPostonDlg::setAdminCheck(std::move(check));
    }
    ~AdminCheckScope() { CPostonDlg::setAdminCheck(nullptr); }
};

} // namespace

class PostonDlgTest : public ScreenTest {
protected:
    PostonDlgTest() { data.addUser(kCard, "山田 太郎", 2); }
};

TEST_F(PostonDlgTest, OpensWithItsCaptionAnEmptyFieldAndItsTimers) {
    CPostonDlg screen;
    screen.show();
    EXPECT_EQ(QStringLiteral("NVKぽすとん ～ ユーザ確認画面"), screen.windowTitle());
    EXPECT_EQ(QString(), messageField(screen));
    EXPECT_TRUE(screen.isScreenTimerActive(100));
    EXPECT_EQ(152, screen.baseTimerId());
    EXPECT_TRUE(screen.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(&screen, app.dispatcher.boundScreen());
    screen.done(-100);
}

TEST_F(PostonDlgTest, RegisteredCardEndsWithMinusTwoAndHandsOverTheCardId) {
    CPostonDlg screen;
    screen.show();
    app.setCard(kCard);
    screen.OnTimer(100);
    EXPECT_FALSE(screen.isVisible());
    EXPECT_EQ(-2, screen.result());
    EXPECT_EQ(CString(kCard), screen.getMessage());
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
    EXPECT_FALSE(screen.isScreenTimerActive(100));
}

TEST_F(PostonDlgTest, MessagesFollowTheReader) {
    CPostonDlg screen;
    screen.show();

    app.setCard("no");
    screen.OnTimer(100);
    EXPECT_EQ(QStringLiteral("ＩＣカードをかざしてください。"), messageField(screen));

    app.setCard("FEDCBA9876543210");
    screen.OnTimer(100);
    EXPECT_EQ(QStringLiteral("ユーザではありません。"), messageField(screen));
    screen.OnTimer(100); // still held: still refused, the screen stays
    EXPECT_EQ(QStringLiteral("ユーザではありません。"), messageField(screen));
    EXPECT_TRUE(screen.isVisible());

    app.setCard("err");
    screen.OnTimer(100);
    EXPECT_EQ(QStringLiteral("エラーが発生しています。再起動してください"), messageField(screen));
    EXPECT_TRUE(screen.isScreenTimerActive(100));

    app.setCard("no");
    screen.OnTimer(100);
    EXPECT_EQ(QStringLiteral("ＩＣカードをかざしてください。"), messageField(screen));
    EXPECT_TRUE(screen.isVisible());
    screen.done(-100);
}

TEST_F(PostonDlgTest, OwnTimerPollsTheReaderByItself) {
    CPostonDlg screen;
    screen.show();
    app.setCard(kCard);
    ASSERT_TRUE(processEventsUntil([&] { return !screen.isVisible(); }));
    EXPECT_EQ(-2, screen.result());
}

TEST_F(PostonDlgTest, SettingsButtonIsHiddenWhenItSitsOnTheGreeting) {
    CPostonDlg withButton;
    withButton.show();
    ASSERT_TRUE(settingsButton(withButton)->isVisible());
    const int fullHeight = withButton.height();
    const int buttonHeight = settingsButton(withButton)->height();
    withButton.done(-100);

    data.setSetting("setting_disp", "top");
    CPostonDlg top;
    top.show();
    EXPECT_TRUE(settingsButton(top)->isVisible());
    top.done(-100);

    data.setSetting("setting_disp", "main");
    data.setSetting("window_top", ""); // the previous screens saved theirs
    CPostonDlg main;
    main.show();
    EXPECT_FALSE(settingsButton(main)->isVisible());
    EXPECT_EQ(fullHeight - buttonHeight, main.height());
    main.done(-100);
}

TEST_F(PostonDlgTest, AdministratorCheckLeadsToTheMenu) {
    CPostonDlg screen;
    screen.show();
    bool timersStoppedDuringCheck = false;
    AdminCheckScope scope([&](QWidget* parent) {
        timersStoppedDuringCheck =
            parent == &screen && !screen.isScreenTimerActive(100) && screen.baseTimerId() == 0;
        return 1;
    });
    settingsButton(screen)->click();
    EXPECT_TRUE(timersStoppedDuringCheck);
    EXPECT_EQ(-3, screen.result());
    EXPECT_FALSE(screen.isVisible());
    EXPECT_NE("", data.setting("window_top"));
}

TEST_F(PostonDlgTest, CancelledAdministratorCheckResumesPolling) {
    CPostonDlg screen;
    screen.show();
    int checks = 0;
    AdminCheckScope scope([&](QWidget*) {
        ++checks;
        return 2;
    });
    settingsButton(screen)->click();
    EXPECT_EQ(1, checks);
    EXPECT_TRUE(screen.isVisible());
    EXPECT_TRUE(screen.isScreenTimerActive(100));
    EXPECT_EQ(152, screen.baseTimerId());
    screen.done(-100);
}

TEST_F(PostonDlgTest, WithoutAnAdministratorCheckNobodyPasses) {
    CPostonDlg screen;
    screen.show();
    settingsButton(screen)->click();
    EXPECT_TRUE(screen.isVisible());
    EXPECT_TRUE(screen.isScreenTimerActive(100));
    screen.done(-100);
}

TEST_F(PostonDlgTest, ReopensCentredOnTheSavedPointAndSavesItsCentreOnClose) {
    data.setSetting("window_top", "200");
    data.setSetting("window_left", "300");
    CPostonDlg screen;
    screen.resize(481, screen.height()); // an odd width: the extra pixel goes right
    screen.show();
    const QRect frame = screen.geometry();
    EXPECT_EQ(300 - 481 / 2, frame.x());
    EXPECT_EQ(200 - frame.height() / 2, frame.y());

    screen.setGeometry(frame.translated(40, -10)); // moved by the user
    screen.reject();                               // the close box and Escape
    EXPECT_EQ(-100, screen.result());
    EXPECT_EQ("190", data.setting("window_top"));
    EXPECT_EQ("340", data.setting("window_left"));
}

TEST_F(PostonDlgTest, EscapeLeavesTheProgramAndEnterDoesNot) {
    CPostonDlg screen;
    screen.show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&screen, &enter);
    EXPECT_TRUE(screen.isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&screen, &escape);
    EXPECT_EQ(-100, screen.result());
}

TEST_F(PostonDlgTest, MinimisedStartStillPollsAndKeepsTheSavedCentre) {
    data.setSetting("kido_type", "minimam");
    data.setSetting("window_top", "250");
    data.setSetting("window_left", "350");
    {
        CPostonDlg screen;
        screen.show();
        EXPECT_TRUE(screen.windowState() & Qt::WindowMinimized);
        // Closing while minimised saves nothing.
        screen.reject();
        EXPECT_EQ(-100, screen.result());
        EXPECT_EQ("250", data.setting("window_top"));
        EXPECT_EQ("350", data.setting("window_left"));
    }
    CPostonDlg screen;
    screen.show();
    app.setCard(kCard);
    screen.OnTimer(100);
    EXPECT_EQ(-2, screen.result());
    EXPECT_EQ("250", data.setting("window_top"));
}

TEST_F(PostonDlgTest, MinimisingSavesTheCentreFirst) {
    CPostonDlg screen;
    screen.show();
    screen.setGeometry(100, 50, 480, 200);
    screen.showMinimized();
    EXPECT_EQ("150", data.setting("window_top"));
    EXPECT_EQ("340", data.setting("window_left"));
    screen.done(-100);
}

TEST_F(PostonDlgTest, NormalStartForAnyOtherStartSetting) {
    data.setSetting("kido_type", "normal");
    CPostonDlg screen;
    screen.show();
    EXPECT_FALSE(screen.windowState() & Qt::WindowMinimized);
    screen.done(-100);
}
