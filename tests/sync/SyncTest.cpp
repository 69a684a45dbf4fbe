// A terminal of a server: visits recorded while the server is away go up
// once it is back, exactly once however the upload is cut, and the roster
// copy follows; claims hold across terminals.
#include "data/CDbAccess.h"
#include "nvktl/CTime.h"
#include "sync/CSyncThread.h"
#include "tests/support/TestServerStore.h"
#include "tests/support/WaitUntil.h"
#include "tools/delay-proxy/CDelayProxy.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

class SyncTest : public ::testing::Test {
protected:
    SyncTest() {
        server.addUser("CARD1", "一郎", "2", {"a@x.jp", "b@x.jp"});
        CStoreConfig config = CDbAccess::storeConfig();
        config.uri = "postgresql://postgres@127.0.0.1:" + std::to_string(proxy.port()) + "/" +
                     TestServerStore::database();
        CDbAccess::setStoreConfig(config);
    }
    std::string visit(const char* card) {
        CString id;
        EXPECT_EQ(CDbAccess(CDbAccess::Store::Terminal).addLogin(card, "20261205", id), 0);
        return id.str();
    }
    bool backAgain() {
        return iotest::waitUntil([this] { return sync.runOnce(); });
    }
    // Visits and their deliveries' states on the server.
    std::string onServer() {
        return server.text("SELECT b.login_id, b.ret_send, b.terminal, string_agg(s.state, '' "
                           "ORDER BY s.mail) FROM t_login b JOIN t_send s ON s.login_id = "
                           "b.login_id GROUP BY 1, 2, 3 ORDER BY 1");
    }

    TestServerStore server;
    iotest::CDelayProxy proxy{TestServerStore::cluster().folder() + ".s.PGSQL." +
                                  std::to_string(TestServerStore::cluster().port()),
                              0};
    CSyncThread sync;
};

TEST_F(SyncTest, WhileTheServerIsAwayVisitsAreRecordedAndGoUpOnceTheRosterFollowsOnItsReturn) {
    ASSERT_TRUE(sync.runOnce());
    CDbAccess terminal(CDbAccess::Store::Terminal);
    ASSERT_EQ(terminal.storeDefault(textMap({{"window_top", "120"}})), 0);
    proxy.cut();
    server.addUser("CARD2", "二郎", "1", {"c@x.jp"});
    server.setSetting("mail_subject", "来訪");
    // Greeted and recorded from the terminal's own copy of the roster.
    const std::string first = visit("CARD1"), second = visit("CARD1"), third = visit("CARD1");
    EXPECT_EQ(first, "10000000001");
    EXPECT_FALSE(sync.runOnce());
    EXPECT_EQ(sync.waitingVisits(), 3);

    // The server took the visits but its answer was lost: the terminal has
    // not marked them and sends them again.
    proxy.resume();
    {
        NVKTL::vector<CMapStringToString*> visits, deliveries;
        ASSERT_EQ(terminal.getOutbox(&visits, &deliveries, 2), 0);
        ASSERT_TRUE(
            iotest::waitUntil([&] { return CDbAccess().uploadVisits(visits, deliveries) == 0; }));
        terminal.releaseVector(&visits);
        terminal.releaseVector(&deliveries);
        // Withdrawn after it went up ("諸設定"): the server learns of it too.
        ASSERT_EQ(terminal.skipLogin(CString(second), "20261205"), 0);
    }
    ASSERT_TRUE(backAgain());
    // What changed on the server meanwhile is on the terminal; where its
    // window sits stays its own.
    CString addresses;
    CMapStringToString settings;
    EXPECT_EQ(terminal.checkAdminUser("CARD2") + terminal.getAddress("CARD2", addresses), 0);
    terminal.getDefault(settings);
    EXPECT_EQ(addresses + settings.Value("mail_subject") + settings.Value("window_top"),
              "c@x.jp\r\n来訪120");
    const std::string expected =
        first + " 1 受付1 11;" + second + " 3 受付1 33;" + third + " 1 受付1 11;";
    EXPECT_EQ(onServer(), expected);
    EXPECT_EQ(sync.waitingVisits(), 0);
    ASSERT_TRUE(sync.runOnce());
    EXPECT_EQ(onServer(), expected);

    // Another terminal holds the next id (set up with the same number): the
    // visit stays on this terminal instead of being lost on the server.
    server.script("INSERT INTO t_login (login_id, user_id, login_date) VALUES (10000000004, "
                  "'CARD2', '20261201')");
    EXPECT_EQ(visit("CARD1"), "10000000004");
    EXPECT_TRUE(sync.runOnce());
    EXPECT_EQ(onServer(), expected);
    EXPECT_EQ(sync.waitingVisits(), 1);
}

// What another terminal recorded counts for this one's guard and turn; a
// family left without notices is left out on every terminal; the kind goes up.
TEST_F(SyncTest, AnotherTerminalsVisitsAndTheNoticesLeftOutReachThisTerminal) {
    const NVKTL::CTestClock clock(NVKTL::CTime(2026, 12, 6, 5, 10, 0, 0, 0));
    server.script("INSERT INTO t_login (login_id, user_id, login_date, ret_send, terminal, "
                  "login_kind) VALUES (20000000001, 'CARD1', '20261205095900000', '2', '出口', "
                  "'入室')");
    server.addUser("CARD3", "三郎", "2", {"c@x.jp"});
    server.script("UPDATE t_user SET notice_off = '1' WHERE user_id = 'CARD3'");
    ASSERT_TRUE(sync.runOnce());
    CDbAccess terminal(CDbAccess::Store::Terminal);
    const CVisitRule rule(textMap({{"notice_mode", "inout"}}));
    const auto touch = [&](const char* card, const char* at) {
        VisitKind kind = VisitKind::Visit;
        CString id;
        const CDbAccess::Touch result = terminal.addTouch(card, at, rule, kind, id);
        return std::string(result == CDbAccess::Touch::Recorded ? "" : "=") +
               CVisitRule::kindText(kind);
    };
    EXPECT_EQ(touch("CARD1", "20261205100000000"), "=入室");
    EXPECT_EQ(touch("CARD1", "20261205160000000") + touch("CARD3", "20261205160000000"),
              "退室入室");
    ASSERT_TRUE(sync.runOnce());
    EXPECT_EQ(server.text("SELECT user_id, login_kind, ret_send, (SELECT count(*) FROM t_send s "
                          "WHERE s.login_id = b.login_id) FROM t_login b WHERE login_date = "
                          "'20261205160000000' ORDER BY 1"),
              "CARD1 退室 1 2;CARD3 入室 3 0;");
}

TEST_F(SyncTest, AClaimHoldsForOneTerminalUntilItRunsOutAndAStartFreesOnlyItsOwn) {
    // Each terminal proposes its own Message-ID; the delivery keeps the first.
    CString messageId;
    const std::string login = server.addVisit("CARD1", "20261205");
    const CString a = server.sendId(login, "a@x.jp"), b = server.sendId(login, "b@x.jp");
    const auto claim = [&](long long terminal, const CString& send, const char* until) {
        server.becomeTerminal(terminal, "受付" + std::to_string(terminal));
        messageId = CString("<" + std::to_string(terminal) + "@x.jp>");
        CString date("20261205000000000");
        return CDbAccess().claimDelivery(send, "20261205000000000", until, messageId, date);
    };
    const char* longLease = "20261205000100000";
    EXPECT_EQ(claim(1, a, longLease), 0);
    EXPECT_EQ(claim(2, a, longLease), -1);
    EXPECT_EQ(claim(2, b, longLease), 0);
    CDbAccess().releaseClaims(); // terminal 2 starts again
    EXPECT_EQ(server.text("SELECT mail, claimed_by FROM t_send ORDER BY mail"),
              "a@x.jp 1;b@x.jp <null>;");
    // A lease of 50 ms on the server's clock: the other terminal takes the
    // delivery once it has run out.
    EXPECT_EQ(claim(2, b, "20261205000000050"), 0);
    EXPECT_EQ(claim(1, b, longLease), -1);
    EXPECT_TRUE(iotest::waitUntil([&] { return claim(1, b, longLease) == 0; }));
    EXPECT_EQ(messageId, CString("<2@x.jp>"));
}

} // namespace
