// Visits, their deliveries (one per address), the summary each visit keeps of
// them, and the failed deliveries, on the terminal's file and on a server.
#include "data/CDbAccess.h"
#include "data/VisitDay.h"
#include "nvktl/CTime.h"
#include "tests/support/TestServerStore.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

// Every test runs at this moment.
constexpr const char* now = "20261205101530123";

class VisitsTest : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        data.addUser("THREE", "三人", "2", {"a@x.jp", "b@x.jp", "c@x.jp"});
        data.addUser("NONE", "なし", "2");
        data.addUser("ONE", "一人", "1", {"o@x.jp"});
    }
    std::string visit(const char* user, const char* date = now) {
        CString id("unset");
        EXPECT_EQ(db.addLogin(user, date, id), 0);
        return id.str();
    }
    std::string due(const std::vector<std::string>& columns = {"from_mail"}) {
        NVKTL::vector<CMapStringToString*> rows;
        const int found = db.getSendLogin(&rows);
        EXPECT_EQ(found, rows.empty() ? -1 : 0);
        return joined(takeRows(rows), columns);
    }
    // The visit's summary, then mail, state and tries of each of its deliveries.
    std::string state(const std::string& id) {
        return data.text("SELECT ret_send, ret_send_date FROM t_login WHERE login_id = ?", {id}) +
               data.text("SELECT mail, state, tries FROM t_send WHERE login_id = ? ORDER BY 1",
                         {id});
    }
    std::string errors() {
        return data.text("SELECT user_id, mail, error_date, error_msg FROM t_mail_error");
    }
    CString send(const std::string& id, const char* mail) { return data.sendId(id, mail); }

    std::unique_ptr<TestStore> store = makeTestStore(GetParam());
    TestStore& data = *store;
    NVKTL::CTestClock clock{NVKTL::CTime(2026, 12, 6, 5, 10, 15, 30, 123)};
    CDbAccess db;
};

TEST_P(VisitsTest, AVisitIsRecordedWithOneDueDeliveryPerAddressAllOrNothing) {
    EXPECT_EQ(state(visit("THREE")), "1 <null>;a@x.jp 1 0;b@x.jp 1 0;c@x.jp 1 0;");
    // Nothing to send for a visitor without an address, or unknown.
    EXPECT_EQ(state(visit("NONE")) + state(visit("GONE")), "3 <null>;3 <null>;");
    data.refuseWrites("t_send");
    CString id("unset");
    EXPECT_EQ(db.addLogin("ONE", now, id), -1);
    EXPECT_EQ(id.str() + data.value("SELECT count(*) FROM t_login"), "unset3");
}

TEST_P(VisitsTest, DueDeliveriesComeOnePerAddressOldestFirstWhenTheirTimeHasCome) {
    const std::string later = visit("ONE", "20261205100000000");
    const std::string earlier = visit("THREE", "20261205090000000");
    EXPECT_EQ(due({"send_id", "login_id", "login_date", "user_id", "from_name", "from_mail",
                   "group_name", "tries"}),
              "2 " + earlier + " 20261205090000000 THREE 三人 a@x.jp 一般 0;3 " + earlier +
                  " 20261205090000000 THREE 三人 b@x.jp 一般 0;4 " + earlier +
                  " 20261205090000000 THREE 三人 c@x.jp 一般 0;1 " + later +
                  " 20261205100000000 ONE 一人 o@x.jp 管理者 0;");
    // A delivery waits for its next try and for its claim to run out.
    // A claim that ran out just now, or that holds a little longer: the
    // file's on the terminal's clock, the server's on its own.
    const bool server = GetParam() == StoreKind::Server;
    const std::pair<std::string, bool> cases[] = {
        {"next_try = '20261205101530123'", true},
        {"next_try = '20261205101530124'", false},
        {server ? "claim_until = now() - interval '1 second'" : "claim_until = '20261205101530122'",
         true},
        {server ? "claim_until = now() + interval '1 minute'" : "claim_until = '20261205101530123'",
         false},
        {"state = '2'", false},
        {"state = '3'", false}};
    for (const auto& [change, isDue] : cases) {
        data.script("UPDATE t_send SET next_try = NULL, claim_until = NULL, state = '1'; UPDATE "
                    "t_send SET " +
                    change + " WHERE login_id = " + later);
        EXPECT_EQ(due(), std::string("a@x.jp;b@x.jp;c@x.jp;") + (isDue ? "o@x.jp;" : "")) << change;
    }
    // Whatever happens to the user after the visit, its deliveries keep the
    // addresses, name and group it had.
    data.script(
        "DELETE FROM t_mail WHERE mail = 'b@x.jp'; UPDATE t_user SET group_id = 1, "
        "user_name = '別人'; INSERT INTO t_mail (user_id, mail) VALUES ('THREE', 'new@x.jp')");
    EXPECT_EQ(due({"from_mail", "from_name", "group_name"}),
              "a@x.jp 三人 一般;b@x.jp 三人 一般;c@x.jp 三人 一般;");
}

TEST_P(VisitsTest, OutcomesRenewTheVisitsSummaryAndItsErrorRow) {
    const std::string id = visit("THREE");
    EXPECT_EQ(db.sendDelivery(send(id, "a@x.jp"), "20261205101600000"), 0);
    EXPECT_EQ(db.retryDelivery(send(id, "b@x.jp"), "20261205102000000", "busy"), 0);
    EXPECT_EQ(db.getWaitingCount(), 1);
    EXPECT_EQ(state(id), "1 20261205101600000;a@x.jp 2 0;b@x.jp 1 1;c@x.jp 1 0;");
    EXPECT_EQ(data.text("SELECT next_try, last_error FROM t_send WHERE tries = 1"),
              "20261205102000000 busy;");
    // The waiting one is listed, and hurried it is due at once.
    NVKTL::vector<CMapStringToString*> waiting;
    EXPECT_EQ(db.getWaitingList(&waiting), 0);
    EXPECT_EQ(joined(takeRows(waiting), {"mail", "login_date", "tries", "next_try", "last_error"}),
              std::string("b@x.jp ") + now + " 1 20261205102000000 busy;");
    EXPECT_EQ(db.hurryDelivery(send(id, "b@x.jp")), 0);
    EXPECT_EQ(data.text("SELECT next_try FROM t_send WHERE tries = 1"), "<null>;");
    EXPECT_EQ(db.sendDelivery(send(id, "b@x.jp"), "20261205102000000"), 0);
    EXPECT_EQ(db.failDelivery(send(id, "c@x.jp"), "20261205103000000", "no"), 0);
    EXPECT_EQ(state(id), "3 20261205103000000;a@x.jp 2 0;b@x.jp 2 1;c@x.jp 3 1;");
    EXPECT_EQ(errors(), "THREE c@x.jp 20261205103000000 no;");
    // The list shows the errors whose user and group still exist, newest first.
    data.script("INSERT INTO t_mail_error VALUES (70, 50, 'THREE', 'old@x.jp', '1', 'old');"
                "INSERT INTO t_mail_error VALUES (71, 50, 'GONE', 'g@x.jp', '2', 'lost')");
    NVKTL::vector<CMapStringToString*> rows;
    EXPECT_EQ(db.getMailErrorList(&rows), 0);
    EXPECT_EQ(joined(takeRows(rows), {"login_id", "group_name", "user_name", "mail", "error_msg"}),
              id + " 一般 三人 c@x.jp no;50 一般 三人 old@x.jp old;");
    // An error row from before deliveries were kept gets its delivery now.
    EXPECT_EQ(db.resendMailError("70", now) + db.deleteMailError("71"), 0);
    EXPECT_EQ(data.text("SELECT login_id, mail, state FROM t_send WHERE login_id = 50"),
              "50 old@x.jp 1;");
    // A resent error is due again at once; the send thread's tests follow it
    // until its row goes.
    const CString errorNo = data.value("SELECT error_no FROM t_mail_error WHERE mail = 'c@x.jp'");
    EXPECT_EQ(db.resendMailError(errorNo, now), 0);
    EXPECT_EQ(state(id), std::string("1 ") + now + ";a@x.jp 2 0;b@x.jp 2 1;c@x.jp 1 0;");
    // Rows whose delivery is due again stay out of the list until they fail again.
    db.getMailErrorList(&rows);
    EXPECT_EQ(joined(takeRows(rows), {"mail"}), "");
    // An outcome that cannot be stored whole is not stored at all.
    const std::string other = visit("ONE");
    data.refuseWrites("t_mail_error");
    EXPECT_EQ(db.failDelivery(send(other, "o@x.jp"), now, "x"), -1);
    EXPECT_EQ(state(other), "1 <null>;o@x.jp 1 0;");
}

TEST_P(VisitsTest, AClaimTakesADeliveryOnceUntilReleasedOrRunOutAndKeepsItsFirstMessageId) {
    const CString one = send(visit("ONE"), "o@x.jp");
    const char* until = "20261205101630123";
    // Each try proposes a Message-ID and Date; the delivery keeps its first.
    std::string kept;
    auto claim = [&](const char* claimUntil) {
        CString id("<" + std::string(claimUntil) + "@x.jp>"), date(claimUntil);
        const int result = db.claimDelivery(one, now, claimUntil, id, date);
        kept = id.str() + " " + date.str();
        return result;
    };
    EXPECT_EQ(claim(until), 0);
    EXPECT_EQ(claim(until), -1);
    EXPECT_EQ(due(), "");
    EXPECT_EQ(db.releaseDelivery(one), 0);
    EXPECT_EQ(claim("20261205101530122"), 0);
    EXPECT_EQ(claim(until), 0); // the first claim has run out
    EXPECT_EQ(kept, "<20261205101630123@x.jp> 20261205101630123");
    EXPECT_EQ(db.releaseClaims(), 0);
    EXPECT_EQ(due(), "o@x.jp;");
    db.sendDelivery(one, now);
    EXPECT_EQ(claim(until), -1);

    const std::string three = visit("THREE");
    db.sendDelivery(send(three, "a@x.jp"), now);
    EXPECT_EQ(db.skipLogin(three, "20261205101600000"), 0);
    EXPECT_EQ(state(three), "3 20261205101600000;a@x.jp 2 0;b@x.jp 3 0;c@x.jp 3 0;");
}

// A pupil's touches in each mode: what each records (or "=kind" when the
// double-tap guard holds it back), and the kinds stored in the end.
TEST_P(VisitsTest, TouchesAlternateWithinADayAndTheGuardHoldsBackDoubleTaps) {
    const struct {
        const char* mode;
        const char* guard;
        std::vector<std::pair<const char*, const char*>> touches; // time, outcome
    } cases[] = {
        // Today's behaviour: every touch a visit, no guard unless set.
        {"", "", {{"20261205100000000", "来所"}, {"20261205100000001", "来所"}}},
        {"",
         "3",
         {{"20261205100000000", "来所"},
          {"20261205100259999", "=来所"},
          {"20261205100300000", "来所"}}},
        // In and out, a double tap, out, in again; a forgotten 退室 does not
        // make the next morning's touch a departure (the day starts at 4:00).
        {"inout",
         "",
         {{"20261205100000000", "入室"},
          {"20261205100400000", "=入室"},
          {"20261205160000000", "退室"},
          {"20261205170000000", "入室"},
          {"20261206035000000", "退室"},
          {"20261206040000000", "入室"},
          {"20261207090000000", "入室"}}},
        {"inout", "0", {{"20261205100000000", "入室"}, {"20261205100000500", "退室"}}},
    };
    for (const auto& c : cases) {
        data.script("DELETE FROM t_send; DELETE FROM t_login");
        const CVisitRule rule(textMap({{"notice_mode", c.mode}, {"tap_guard_minutes", c.guard}}));
        std::string outcomes, expected, stored;
        for (const auto& [time, outcome] : c.touches) {
            VisitKind kind = VisitKind::Visit;
            CString id;
            const CDbAccess::Touch touch = db.addTouch("ONE", time, rule, kind, id);
            const bool recorded = touch == CDbAccess::Touch::Recorded && !id.IsEmpty();
            outcomes += std::string(recorded ? "" : "=") + CVisitRule::kindText(kind) + " ";
            expected += outcome + std::string(" ");
            stored += recorded ? CVisitRule::kindText(kind) + std::string(";") : "";
        }
        EXPECT_EQ(outcomes, expected) << c.mode << c.guard;
        EXPECT_EQ(data.text("SELECT login_kind FROM t_login ORDER BY login_date"), stored);
    }
    // The send thread gets each delivery's kind with it.
    EXPECT_EQ(due({"login_date", "login_kind"}), "20261205100000000 入室;20261205100000500 退室;");

    // A pupil whose family is left out is greeted and recorded, but no
    // delivery is made; on the terminal, a visit another terminal recorded
    // counts for the guard and the turn.
    ASSERT_EQ(db.saveUser("ONE", "一人", "o@x.jp", "1", 3, true), 0);
    const std::string off = visit("ONE", "20261208090000000");
    EXPECT_EQ(state(off), "3 <null>;");
    CString date, kind;
    EXPECT_EQ(db.getLastVisit("ONE", date, kind), 0);
    EXPECT_EQ(date + " " + kind, "20261208090000000 来所");
    NVKTL::vector<CMapStringToString*> recent;
    EXPECT_EQ(db.getRecentVisits("20261205100000000", &recent), 0);
    if (GetParam() == StoreKind::File) {
        data.script("INSERT INTO t_seen_visit VALUES ('THREE', '20261208090000000', '入室')");
        EXPECT_EQ(db.keepSeenVisits(recent), 0);
        EXPECT_EQ(data.text("SELECT * FROM t_seen_visit ORDER BY 1"),
                  "ONE 20261208090000000 来所;THREE 20261208090000000 入室;");
        VisitKind seen = VisitKind::Visit;
        CString id;
        EXPECT_EQ(db.addTouch("THREE", "20261208090100000",
                              CVisitRule(textMap({{"notice_mode", "inout"}})), seen, id),
                  CDbAccess::Touch::AlreadyRecorded);
    }
    EXPECT_EQ(joined(takeRows(recent), {"user_id", "login_date", "login_kind"}),
              "ONE 20261208090000000 来所;");
}

TEST(VisitDayTest, ATimeBeforeTheDaysStartBelongsToTheDayBefore) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"20270101035959999", "", "20261231"},
        {"20270101040000000", "", "20270101"},
        {"20260301000000000", "0", "20260301"},
        {"20260301005900000", "1", "20260228"},
        {"20240301005900000", "01", "20240229"},
        {"20260301005900000", "24", "20260228"},
        {"2026030100590000", "", ""}};
    for (const auto& [stamp, hour, day] : cases)
        EXPECT_EQ(VisitDay::dayOf(stamp, VisitDay::startHour(hour)).str(), day) << stamp << hour;
}

INSTANTIATE_TEST_SUITE_P(EveryStore, VisitsTest,
                         ::testing::Values(StoreKind::File, StoreKind::Server),
                         [](const auto& info) { return storeKindName(info.param); });

} // namespace
