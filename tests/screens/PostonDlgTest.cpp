// The user confirmation screen: cards, messages, settings button, saved centre.
#include "data/CDataRequest.h"
#include "screens/CCardWatch.h"
#include "screens/CPostonDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QLabel>
#include <QPushButton>

using namespace testsupport;

const char* const kCard = "0123456789ABCDEF";
const char* const kPrompt = "ＩＣカードをかざしてください。";
const char* const kReaderError = "エラーが発生しています。再起動してください";

class PostonDlgTest : public ScreenTest {
protected:
    PostonDlgTest() { data.addUser(kCard, "山田 太郎"); }
    ~PostonDlgTest() override { CPostonDlg::setAdminCheck(nullptr); }
    void open(CPostonDlg& screen) {
        screen.show();
        settings = control<QPushButton>(&screen, "settingsButton");
    }
    QPushButton* settings = nullptr;
};

TEST_F(PostonDlgTest, MessagesAndTheBadgeFollowTheReaderAndTheMailsAndACardEndsWithMinusTwo) {
    // The poll, whether the reader keeps failing, and the message shown.
    const std::tuple<CardPoll, bool, const char*> steps[] = {
        {CardPoll::noCard(), false, kPrompt},
        {CardPoll::card(CString("FEDCBA9876543210")), false, "ユーザではありません。"},
        {CardPoll::readerError(), false, kReaderError},
        {CardPoll::noCard(), true, kReaderError},
        {CardPoll::noCard(), false, kPrompt},
    };
    // A card that lies there as the screen opens is seen before any tick.
    app.setCard(CardPoll::card(CString(kCard)));
    CPostonDlg first;
    open(first);
    EXPECT_EQ(-2, first.result());
    app.setCard(CardPoll::noCard());
    data.addUser("1111111111111111", "佐藤", "2", {"a@x.jp", "b@x.jp"});
    data.query("UPDATE t_send SET tries = 1 WHERE login_id = ?",
               {data.addVisit("1111111111111111", "20261201080000000")});
    CPostonDlg screen;
    open(screen);
    auto* message = control<QLabel>(&screen, "messageLabel");
    auto* badge = control<QLabel>(&screen, "waitingLabel");
    const QRect button = settings->geometry();
    // The prompt shows from the first frame, the waiting mails beside it.
    EXPECT_EQ(message->text() + (badge->isVisible() ? badge->text() : QString()),
              qs(kPrompt) + qs("未送信 2件"));
    for (const auto& [poll, failing, shown] : steps) {
        app.setCard(poll);
        app.setReaderFailing(failing);
        screen.OnTimer(100);
        EXPECT_EQ(qs(shown), message->text()) << shown;
    }
    // The send thread counts again once they have gone out; nothing moves.
    data.query("UPDATE t_send SET state = '2'");
    CDataRequest count{DataRequest::GetWaitingCount{}};
    screen.OnDataRequest(count);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_FALSE(badge->isVisible() || settings->geometry() != button);
    // So is a card the reader tells of.
    app.setCard(CardPoll::card(CString("FEDCBA9876543210")));
    CCardWatch::announce();
    EXPECT_EQ(qs("ユーザではありません。"), message->text());
    // The screen's own timer finds the registered card by itself.
    app.setCard(CardPoll::card(CString(kCard)));
    ASSERT_TRUE(waitProcessingEvents([&] { return !screen.isVisible(); }));
    EXPECT_EQ(-2, screen.result());
    EXPECT_EQ(CString(kCard), screen.getMessage());
}

TEST_F(PostonDlgTest, SettingsButtonLeadsThroughTheAdministratorCheckUnlessItSitsElsewhere) {
    data.setSetting("window_top", "");
    int fullHeight = 0;
    // The check's result (0: none installed, nobody passes; -1: setting_disp
    // "main" puts the button on the greeting screen instead).
    for (const int check : {0, 2, 1, -1}) {
        data.setSetting("setting_disp", check < 0 ? "main" : "top");
        CPostonDlg screen;
        open(screen);
        if (check < 0) {
            EXPECT_FALSE(settings->isVisible());
            EXPECT_EQ(fullHeight - settings->height(), screen.height());
            break;
        }
        fullHeight = screen.height();
        bool timersStopped = false;
        if (check != 0)
            CPostonDlg::setAdminCheck([&](QWidget* parent) {
                timersStopped = parent == &screen && !screen.isScreenTimerActive(100) &&
                                screen.baseTimerId() == 0;
                // A card laid meanwhile belongs to the check, not to this screen.
                app.setCard(CardPoll::card(CString(kCard)));
                CCardWatch::announce();
                app.setCard(CardPoll::noCard());
                return check;
            });
        settings->click();
        EXPECT_EQ(check != 0, timersStopped);
        EXPECT_EQ(check != 1 ? 152 : 0, screen.baseTimerId()) << check;
        EXPECT_EQ(check != 1, screen.isScreenTimerActive(100));
        EXPECT_EQ(check == 1 ? -3 : 0, screen.result());
        EXPECT_EQ(check == 1, !data.setting("window_top").empty()); // the centre is saved
    }
}

TEST_F(PostonDlgTest, ReopensCentredOnTheSavedPointAndSavesItsCentreUnlessMinimised) {
    data.setSetting("window_top", "200");
    data.setSetting("window_left", "300px"); // the leading number counts
    CPostonDlg screen;
    screen.resize(481, screen.height()); // an odd width: the extra pixel goes right
    open(screen);
    const QRect frame = screen.geometry();
    EXPECT_EQ(QPoint(300 - 481 / 2, 200 - frame.height() / 2), frame.topLeft());
    screen.setGeometry(frame.translated(40, -10)); // moved by the user
    screen.showMinimized();                        // minimising saves first
    EXPECT_EQ("190 340", data.setting("window_top") + " " + data.setting("window_left"));
    screen.showNormal();
    screen.setGeometry(100, 50, 480, 200);
    pressKey(&screen, Qt::Key_Escape); // Escape and the close box leave the program
    EXPECT_EQ(-100, screen.result());
    EXPECT_EQ("150 340", data.setting("window_top") + " " + data.setting("window_left"));

    // Started minimised, it still polls, and saves nothing on leaving.
    data.setSetting("kido_type", "minimam");
    for (const bool card : {false, true}) {
        CPostonDlg minimised;
        open(minimised);
        EXPECT_TRUE(minimised.windowState() & Qt::WindowMinimized);
        app.setCard(card ? CardPoll::card(CString(kCard)) : CardPoll::noCard());
        minimised.setGeometry(0, 0, 300, 100); // a centre that must not be saved
        minimised.OnTimer(100);
        if (!card)
            minimised.reject();
        EXPECT_EQ(card ? -2 : -100, minimised.result());
        EXPECT_EQ("150 340", data.setting("window_top") + " " + data.setting("window_left"));
    }
}
