// The greeting screen: the greeting of the time of day, the visit it stores,
// the card's removal and the administrators' settings button.
#include "ScreenTestSupport.h"

#include "nvktl/CTime.h"
#include "screens/CMainDlg.h"

#include <QLabel>
#include <QPushButton>

namespace {

const char* const kCard = "0123456789ABCDEF";
const char* const kAdmin = "00000000000000AD";

NVKTL::CTime at(int hour, int minute, int millisecond = 0) {
    return NVKTL::CTime(2026, 4, 0, 15, static_cast<std::uint16_t>(hour),
                        static_cast<std::uint16_t>(minute), 0,
                        static_cast<std::uint16_t>(millisecond));
}

QLabel* greetingField(const CMainDlg& screen) {
    return screen.findChild<QLabel*>(QStringLiteral("1036"));
}

// The greeting as shown, without the line break between name and greeting.
QString shownGreeting(const CMainDlg& screen) {
    return greetingField(screen)->text().remove(QLatin1Char('\n'));
}

QPushButton* button(const CMainDlg& screen, const char* id) {
    return screen.findChild<QPushButton*>(QString::fromLatin1(id));
}

} // namespace

class MainDlgTest : public ScreenTest {
protected:
    MainDlgTest() : clock(at(12, 0)) {
        data.addUser(kCard, "山田 太郎", 2);
        data.addUser(kAdmin, "佐藤 花子", 1);
        app.setCard(kCard);
    }

    NVKTL::CTestClock clock;
};

TEST_F(MainDlgTest, GreetingFollowsTheTimeOfDay) {
    const struct {
        int hour, minute;
        const char* greeting;
    } cases[] = {
        {9, 59, "おはようございます。"}, {10, 0, "こんにちは。"},        {16, 59, "こんにちは。"},
        {17, 0, "こんばんは。"},         {0, 0, "おはようございます。"}, {23, 59, "こんばんは。"},
    };
    for (const auto& c : cases) {
        clock.Set(at(c.hour, c.minute));
        CMainDlg screen;
        screen.setUserId(CString(kCard));
        screen.show();
        const QString expected =
            QStringLiteral("一般 の 山田 太郎 さん、") + QString::fromUtf8(c.greeting);
        EXPECT_EQ(expected, shownGreeting(screen)) << c.hour << ":" << c.minute;
        EXPECT_TRUE(greetingField(screen)->text().endsWith(QLatin1Char('\n') +
                                                           QString::fromUtf8(c.greeting)));
        EXPECT_EQ(expected.toStdString(), screen.getGreeting().str());
        screen.done(-1);
    }
}

TEST_F(MainDlgTest, GreetingIsLargeAndJapanese) {
    CMainDlg screen;
    screen.setUserId(CString(kCard));
    screen.show();
    EXPECT_EQ(QStringLiteral("NVKぽすとん"), screen.windowTitle());
    const QFont font = greetingField(screen)->font();
    EXPECT_GE(font.pointSize(), 32);
    EXPECT_EQ(QStringLiteral("Noto Sans CJK JP"), font.families().value(0));
    EXPECT_GE(screen.width(), 900);
    screen.done(-1);
}

TEST_F(MainDlgTest, EveryOpeningStoresOneDueVisit) {
    clock.Set(at(9, 59, 123));
    {
        CMainDlg screen;
        screen.setUserId(CString(kCard));
        screen.show();
        const auto visits = data.visits();
        ASSERT_EQ(1u, visits.size());
        EXPECT_EQ(kCard, visits[0].userId);
        EXPECT_EQ("20260415095900123", visits[0].loginDate);
        EXPECT_EQ("3", visits[0].retSend); // a user without an address: nothing to send
        EXPECT_EQ(visits[0].loginId, screen.getLoginId().str());
        // Leaving at once keeps the visit.
        app.setCard("no");
        for (int poll = 0; poll < CMainDlg::kMissedPollsForLift; ++poll)
            screen.OnTimer(100);
        EXPECT_EQ(-1, screen.result());
    }
    CMainDlg again;
    again.setUserId(CString(kCard));
    again.show();
    again.done(-1);
    const auto visits = data.visits();
    ASSERT_EQ(2u, visits.size());
    EXPECT_EQ("3", visits[1].retSend);
    EXPECT_EQ(visits[1].loginId, again.getLoginId().str());
}

TEST_F(MainDlgTest, StaysWhileAnyCardLiesAndEndsWhenItIsLifted) {
    CMainDlg screen;
    screen.setUserId(CString(kCard));
    screen.show();
    screen.OnTimer(100);
    app.setCard("FEDCBA9876543210"); // swapped without a gap
    screen.OnTimer(100);
    EXPECT_TRUE(screen.isVisible());

    app.setCard("no");
    ASSERT_TRUE(processEventsUntil([&] { return !screen.isVisible(); }));
    EXPECT_EQ(-1, screen.result());
    EXPECT_EQ(nullptr, app.dispatcher.boundScreen());
}

TEST_F(MainDlgTest, ReaderErrorCountsAsALiftedCard) {
    CMainDlg screen;
    screen.setUserId(CString(kCard));
    screen.show();
    app.setCard("err");
    screen.OnTimer(100);
    EXPECT_EQ(-1, screen.result());
}

TEST_F(MainDlgTest, EndAndBackBothReturnToTheConfirmationScreen) {
    for (const char* id : {"1022", "1023"}) {
        CMainDlg screen;
        screen.setUserId(CString(kCard));
        screen.show();
        button(screen, id)->click();
        EXPECT_EQ(-1, screen.result()) << id;
    }
    CMainDlg closed;
    closed.setUserId(CString(kCard));
    closed.show();
    closed.reject();
    EXPECT_EQ(-1, closed.result());
}

TEST_F(MainDlgTest, SettingsButtonOnlyForAdministratorsWhenItSitsHere) {
    struct {
        const char* settingDisp;
        const char* user;
        bool shown;
    } cases[] = {{"main", kAdmin, true},
                 {"main", kCard, false},
                 {"top", kAdmin, false},
                 {"", kAdmin, false}};
    int fullHeight = 0;
    int buttonHeight = 0;
    for (const auto& c : cases) {
        data.setSetting("setting_disp", c.settingDisp);
        const int announced = app.visitsAnnounced;
        CMainDlg screen;
        screen.setUserId(CString(c.user));
        screen.show();
        EXPECT_EQ(c.shown, button(screen, "1008")->isVisible()) << c.settingDisp << " " << c.user;
        // The send thread is woken at once unless "諸設定" may still withdraw
        // the visit.
        EXPECT_EQ(app.visitsAnnounced, announced + (c.shown ? 0 : 1));
        if (c.shown) {
            fullHeight = screen.height();
            buttonHeight = button(screen, "1008")->height();
        } else {
            EXPECT_EQ(fullHeight - buttonHeight, screen.height());
        }
        screen.done(-1);
    }
}

TEST_F(MainDlgTest, SettingsMarksTheVisitNotToBeNotified) {
    data.setSetting("setting_disp", "main");
    app.setCard(kAdmin);
    CMainDlg screen;
    screen.setUserId(CString(kAdmin));
    screen.show();
    EXPECT_EQ(QStringLiteral("管理者 の 佐藤 花子 さん、こんにちは。"), shownGreeting(screen));
    clock.Set(at(12, 5, 7));
    button(screen, "1008")->click();
    EXPECT_EQ(-3, screen.result());
    const auto visits = data.visits();
    ASSERT_EQ(1u, visits.size());
    EXPECT_EQ("3", visits[0].retSend);
    EXPECT_EQ("20260415120500007", visits[0].retSendDate);
}

TEST_F(MainDlgTest, UserWithoutAGroupIsGreetedWithAnEmptyGroupName) {
    data.addUser("1111111111111111", "鈴木 一郎", 99);
    app.setCard("1111111111111111");
    CMainDlg screen;
    screen.setUserId(CString("1111111111111111"));
    screen.show();
    EXPECT_EQ(QStringLiteral(" の 鈴木 一郎 さん、こんにちは。"), shownGreeting(screen));
    screen.done(-1);
}

TEST_F(MainDlgTest, CentresOnTheSavedPoint) {
    data.setSetting("window_top", "400");
    data.setSetting("window_left", "600");
    CMainDlg screen;
    screen.setUserId(CString(kCard));
    screen.show();
    const QRect frame = screen.geometry();
    EXPECT_EQ(600 - frame.width() / 2, frame.x());
    EXPECT_EQ(400 - frame.height() / 2, frame.y());
    screen.done(-1);
}
