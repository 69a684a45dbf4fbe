// The greeting screen: greeting, stored visit, lifted card, settings button.
#include "nvktl/CTime.h"
#include "screens/CMainDlg.h"
#include "tests/support/qt/ScreenTest.h"

#include <QLabel>
#include <QPushButton>

using namespace testsupport;

const char* const kCard = "0123456789ABCDEF";
const char* const kAdmin = "00000000000000AD";

static NVKTL::CTime at(std::uint16_t hour, std::uint16_t minute, std::uint16_t ms = 0) {
    return NVKTL::CTime(2026, 4, 0, 15, hour, minute, 0, ms);
}

class MainDlgTest : public ScreenTest {
protected:
    MainDlgTest() : clock(at(12, 0)) {
        data.addUser(kCard, "山田 太郎", "2", {"taro@example.jp"});
        data.addUser(kAdmin, "佐藤 花子", "1", {"hanako@example.jp"});
        data.addUser("1111111111111111", "鈴木 一郎", "99"); // a group that does not exist
        app.setCard(CardPoll::card(CString(kCard)));
    }
    void open(CMainDlg& screen, const char* user = kCard) {
        screen.setUserId(CString(user));
        screen.show();
        greeting = control<QLabel>(&screen, "greetingLabel")->text().remove(QLatin1Char('\n'));
        settings = control<QPushButton>(&screen, "settingsButton");
    }

    NVKTL::CTestClock clock;
    QString greeting; // as shown, without the line break after the name
    QPushButton* settings = nullptr;
};

TEST_F(MainDlgTest, GreetingFollowsTheTimeOfDay) {
    const std::tuple<std::uint16_t, std::uint16_t, const char*, const char*> cases[] = {
        {9, 59, kCard, "一般 の 山田 太郎 さん、おはようございます。"},
        {10, 0, kCard, "一般 の 山田 太郎 さん、こんにちは。"},
        {16, 59, kCard, "一般 の 山田 太郎 さん、こんにちは。"},
        {17, 0, kCard, "一般 の 山田 太郎 さん、こんばんは。"},
        {0, 0, kAdmin, "管理者 の 佐藤 花子 さん、おはようございます。"},
        {23, 59, "1111111111111111", " の 鈴木 一郎 さん、こんばんは。"},
    };
    for (const auto& [hour, minute, user, expected] : cases) {
        clock.Set(at(hour, minute));
        CMainDlg screen;
        open(screen, user);
        EXPECT_EQ(qs(expected), greeting) << hour << ":" << minute;
        EXPECT_EQ(expected, screen.getGreeting().str());
    }
}

TEST_F(MainDlgTest, EveryOpeningStoresOneDueVisitAndAnUnstoredOneIsNotGreeted) {
    clock.Set(at(9, 59, 123));
    for (const std::size_t visits : {1u, 2u}) {
        CMainDlg screen;
        open(screen);
        const TestDataFile::Visit visit = data.visits().back();
        EXPECT_EQ(kCard + std::string(" 20260415095900123 1 ") + screen.getLoginId().str(),
                  visit.userId + " " + visit.loginDate + " " + visit.retSend + " " + visit.loginId);
        EXPECT_EQ(static_cast<int>(visits), app.visitsAnnounced);
        // Lifted at once, found by the screen's own timer: the visit stays.
        app.setCard(CardPoll::noCard());
        ASSERT_TRUE(waitProcessingEvents([&] { return !screen.isVisible(); }));
        EXPECT_EQ(visits, data.visits().size());
        app.setCard(CardPoll::card(CString(kCard)));
    }
    data.setSetting("setting_disp", "main");
    data.refuseWrites("t_login");
    CMainDlg screen;
    open(screen, kAdmin);
    EXPECT_EQ(qs("来訪を記録できませんでした。係の方にお知らせください。"), greeting);
    EXPECT_TRUE(screen.getLoginId().IsEmpty());
    EXPECT_FALSE(settings->isVisible()); // no visit to withdraw
    EXPECT_EQ(2, app.visitsAnnounced);
}

TEST_F(MainDlgTest, StaysWhileAnyCardLiesAndEndsWhenItIsLifted) {
    const CardPoll none = CardPoll::noCard();
    // A poll that misses the card is no lift, nor is a swap without a gap;
    // five polls in a row without a card are, and so is one reader error.
    const std::vector<std::vector<CardPoll>> runs = {
        {none, CardPoll::card(CString("FEDCBA9876543210")), none, none, none, none, none},
        {CardPoll::readerError()}};
    for (const auto& polls : runs) {
        CMainDlg screen;
        open(screen);
        std::size_t openBefore = 0;
        for (const CardPoll& poll : polls) {
            openBefore += screen.isVisible();
            app.setCard(poll);
            screen.OnTimer(100);
        }
        EXPECT_EQ(polls.size(), openBefore);
        EXPECT_FALSE(screen.isVisible());
        EXPECT_EQ(-1, screen.result());
    }
}

TEST_F(MainDlgTest, SettingsButtonForAdministratorsWhenItSitsHereOtherButtonsLeadBack) {
    data.setSetting("window_top", "400");
    data.setSetting("window_left", "600");
    // setting_disp, the user, whether "諸設定" is offered, and the button
    // pressed (none: the close box).
    const std::tuple<const char*, const char*, bool, const char*> cases[] = {
        {"main", kAdmin, true, "settingsButton"},
        {"main", kCard, false, "endButton"},
        {"top", kAdmin, false, "backButton"},
        {"top", kCard, false, ""}};
    for (const auto& [settingDisp, user, shown, role] : cases) {
        data.setSetting("setting_disp", settingDisp);
        const int announced = app.visitsAnnounced;
        CMainDlg screen;
        open(screen, user);
        EXPECT_EQ(shown, settings->isVisible()) << settingDisp << " " << user;
        // The send thread is woken unless "諸設定" may still withdraw the visit.
        EXPECT_EQ(announced + (shown ? 0 : 1), app.visitsAnnounced);
        const QRect frame = screen.geometry();
        EXPECT_EQ(QPoint(600 - frame.width() / 2, 400 - frame.height() / 2), frame.topLeft());
        clock.Set(at(12, 5, 7));
        *role ? control<QPushButton>(&screen, role)->click() : screen.reject();
        EXPECT_EQ(shown ? -3 : -1, screen.result()) << role;
        const TestDataFile::Visit visit = data.visits().back();
        EXPECT_EQ(shown ? "3 20260415120500007" : "1 ", visit.retSend + " " + visit.retSendDate);
    }
}

// 入室 greets by the time of day, 退室 says goodbye, and a second touch within
// the guard records nothing and says it counted already.
TEST_F(MainDlgTest, ArrivalsAndDeparturesAreGreetedAsSuchAndADoubleTapRecordsNothing) {
    data.setSetting("notice_mode", "inout");
    const std::tuple<std::uint16_t, std::uint16_t, const char*, std::size_t> cases[] = {
        {9, 0, "一般 の 山田 太郎 さん、おはようございます。", 1},
        {9, 4, "一般 の 山田 太郎 さん、入室済みです。", 1},
        {15, 0, "一般 の 山田 太郎 さん、さようなら。", 2},
        {15, 1, "一般 の 山田 太郎 さん、退室済みです。", 2}};
    for (const auto& [hour, minute, expected, visits] : cases) {
        clock.Set(at(hour, minute));
        CMainDlg screen;
        open(screen);
        EXPECT_EQ(qs(expected), greeting);
        EXPECT_EQ(visits, data.visits().size());
        EXPECT_EQ(static_cast<int>(visits), app.visitsAnnounced);
        EXPECT_EQ(screen.getLoginId().IsEmpty(),
                  std::string(expected).find("済み") != std::string::npos);
    }
}
