// The office's view on the terminal's file and on a server: the history and
// its filters, who is in now, the daily summary, the retention limit, and the
// roster read and stored as a spreadsheet holds it.
#include "data/CDbAccess.h"
#include "tests/support/TestServerStore.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

class OfficeViewTest : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        classB = data.addGroup("B組");
        data.addUser("HANA", "山田 花子", "2", {"h1@x.jp", "h2@x.jp"});
        data.addUser("TARO", "佐藤 太郎", classB, {"t@x.jp"});
        data.addUser("JIRO", "山田 次郎", classB);
    }
    std::string visit(const std::string& user, const std::string& date,
                      const std::string& kind = "来所") {
        const std::string id = data.addVisit(user, date);
        data.query("UPDATE t_login SET login_kind = ? WHERE login_id = " + id, {kind});
        return id;
    }
    // Every page of the filter, limit visits each: each visit's date and name
    // and its deliveries' mail and state, pages ended by "|".
    std::string history(CDbAccess::HistoryFilter filter, int limit) {
        std::string pages;
        for (int page = 0; page < 10; ++page) {
            NVKTL::vector<CMapStringToString*> rows;
            if (db.getHistory(filter, limit, &rows) != 0)
                return pages;
            for (std::size_t i = 0; i < rows.size(); ++i) {
                pages += rows.at(i)->Value("login_date").str() + " " +
                         rows.at(i)->Value("user_name").str();
                for (const auto& delivery : CDbAccess::historyDeliveries(*rows.at(i)))
                    pages += " " + delivery.mail + " " + delivery.state + " " + delivery.tries +
                             " " + delivery.sentDate;
                pages += ";";
            }
            db.releaseVector(&rows);
            pages += "|";
        }
        return pages + "never ends";
    }

    std::unique_ptr<TestStore> store = makeTestStore(GetParam());
    TestStore& data = *store;
    std::string classB;
    CDbAccess db;
};

TEST_P(OfficeViewTest, TheHistoryIsPagedNewestFirstThroughItsFilters) {
    visit("HANA", "20261204090000000");
    const std::string hana = visit("HANA", "20261205090000000");
    visit("TARO", "20261205090000000");
    visit("JIRO", "20261205100000000");
    visit("TARO", "20261206080000000");
    data.script("UPDATE t_send SET state = '2', sent_date = '20261205090001000' WHERE mail = "
                "'h1@x.jp' AND login_id = " +
                hana);
    const auto filter = [&](const char* from, const char* before, const std::string& group,
                            const char* name) {
        CDbAccess::HistoryFilter f;
        f.from = from;
        f.beforeDate = before;
        f.groupId = std::atoll(group.c_str());
        f.namePart = name;
        return f;
    };
    // One day, a page at a time: two visits at one moment are both read,
    // each with its deliveries by address.
    EXPECT_EQ(history(filter("20261205000000000", "20261206000000000", "0", ""), 2),
              "20261205100000000 山田 次郎;20261205090000000 佐藤 太郎 t@x.jp 1 0 ;|"
              "20261205090000000 山田 花子 h1@x.jp 2 0 20261205090001000 h2@x.jp 1 0 ;|");
    const std::pair<CDbAccess::HistoryFilter, std::string> cases[] = {
        {filter("20261204000000000", "99999999999999999", classB, ""),
         "20261206080000000 佐藤 太郎;20261205100000000 山田 次郎;20261205090000000 佐藤 太郎;"},
        {filter("20261204000000000", "99999999999999999", "0", "山田"),
         "20261205100000000 山田 次郎;20261205090000000 山田 花子;20261204090000000 山田 花子;"},
        {filter("20261205000000000", "99999999999999999", classB, "次郎"),
         "20261205100000000 山田 次郎;"},
        {filter("20261207000000000", "99999999999999999", "0", ""), ""},
        // A part of a name is text, never a pattern.
        {filter("20261204000000000", "99999999999999999", "0", "%"), ""}};
    for (const auto& [f, expected] : cases) {
        NVKTL::vector<CMapStringToString*> rows;
        CDbAccess::HistoryFilter page = f;
        db.getHistory(page, 100, &rows);
        EXPECT_EQ(joined(takeRows(rows), {"login_date", "user_name"}), expected)
            << f.namePart.str();
    }
}

TEST_P(OfficeViewTest, WhoIsInIsEveryPupilWhoseLatestVisitOfTheDayIsAnArrival) {
    visit("HANA", "20261205090000000", "入室");
    visit("TARO", "20261205090000000", "入室");
    visit("TARO", "20261205120000000", "退室");
    visit("JIRO", "20261204200000000", "入室"); // yesterday
    visit("JIRO", "20261205130000000", "入室");
    visit("JIRO", "20261205140000000", "退室");
    visit("JIRO", "20261205150000000", "入室");
    NVKTL::vector<CMapStringToString*> rows;
    EXPECT_EQ(db.getPresent("20261205040000000", &rows), 0);
    EXPECT_EQ(joined(takeRows(rows), {"user_name", "group_name", "login_date"}),
              "山田 花子 一般 20261205090000000;山田 次郎 B組 20261205150000000;");
}

TEST_P(OfficeViewTest, TheDailySummaryCountsTheDayAndIsTakenByOneTerminalOnly) {
    const std::string hana = visit("HANA", "20261205090000000");
    const std::string taro = visit("TARO", "20261205100000000");
    visit("TARO", "20261204100000000");
    visit("JIRO", "20261205110000000");
    data.script(
        "UPDATE t_send SET state = '2', sent_date = '20261205090100000' WHERE login_id = " + hana +
        " AND mail = 'h1@x.jp'; UPDATE t_send SET state = '3', tries = 1, "
        "last_error = 'no such user' WHERE login_id = " +
        hana +
        " AND mail = 'h2@x.jp'; UPDATE t_send SET tries = 2, next_try = "
        "'20261205103000000', last_error = 'busy' WHERE login_id = " +
        taro);
    CDbAccess::DaySummary summary;
    NVKTL::vector<CMapStringToString*> problems;
    EXPECT_EQ(db.getDaySummary("20261205040000000", "20261206040000000", summary, &problems), 0);
    EXPECT_EQ(std::to_string(summary.visits) + " " + std::to_string(summary.sent), "3 1");
    // Given up, then still waiting, oldest first (yesterday's too).
    EXPECT_EQ(joined(takeRows(problems), {"state", "mail", "user_name", "last_error"}),
              "3 h2@x.jp 山田 花子 no such user;1 t@x.jp 佐藤 太郎 ;1 t@x.jp 佐藤 太郎 busy;");
    EXPECT_EQ(db.claimDaySummary("20261205"), 0);
    CDbAccess other;
    EXPECT_EQ(other.claimDaySummary("20261205"), -1);
    EXPECT_EQ(db.claimDaySummary("20261204"), -1);
    EXPECT_EQ(other.claimDaySummary("20261206"), 0);
}

TEST_P(OfficeViewTest, RetentionDeletesTheOlderVisitsWithAllTheyHoldAndKeepsTheRest) {
    const std::string old = visit("HANA", "20251105235959999");
    const std::string kept = visit("HANA", "20251106000000000");
    data.script("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
                "VALUES (" +
                old + ", 'HANA', 'h1@x.jp', '20251106000000000', 'x'), (" + kept +
                ", 'HANA', 'h1@x.jp', '20251106000000000', 'y')");
    CString oldest;
    EXPECT_EQ(db.countVisitsBefore("20251106000000000", oldest), 1);
    EXPECT_EQ(oldest.str(), "20251105235959999");
    EXPECT_EQ(db.deleteVisitsBefore("20251106000000000"), 0);
    EXPECT_EQ(data.text("SELECT login_id FROM t_login") +
                  data.text("SELECT DISTINCT login_id FROM t_send") +
                  data.text("SELECT error_msg FROM t_mail_error"),
              kept + ";" + kept + ";y;");
    if (GetParam() == StoreKind::File) {
        // A terminal of a server keeps the visits its server does not have yet.
        const std::string sent = visit("HANA", "20251201000000000");
        const std::string unsent = visit("HANA", "20251202000000000");
        data.script("UPDATE t_login SET uploaded = '1' WHERE login_id = " + sent);
        EXPECT_EQ(db.deleteVisitsBefore("20260101000000000", true), 0);
        EXPECT_EQ(data.text("SELECT login_id FROM t_login ORDER BY login_id"),
                  kept + ";" + unsent + ";");
    }
    const std::string deliveries = data.value("SELECT count(*) FROM t_send");
    data.refuseWrites("t_login");
    EXPECT_EQ(db.deleteVisitsBefore("20261106000000000"), -1);
    EXPECT_EQ(data.value("SELECT count(*) FROM t_send"), deliveries);
}

TEST(RetentionOnAServerTest, ThinsThisTerminalsCopyTooButKeepsWhatTheServerLacks) {
    const TestServerStore server;
    server.setSetting("retention_months", "1");
    server.setSetting("retention_confirmed", "1");
    const TestDataFile& terminal = server.terminal();
    terminal.addUser("HANA", "山田 花子", "2");
    const std::string sent = terminal.addVisit("HANA", "20261001000000000");
    const std::string unsent = terminal.addVisit("HANA", "20261002000000000");
    const std::string recent = terminal.addVisit("HANA", "20261205000000000");
    terminal.script("UPDATE t_login SET uploaded = '1' WHERE login_id IN (" + sent + ", " + recent +
                    ")");
    EXPECT_EQ(CDbAccess().applyRetention("20261206120000000"), 0);
    EXPECT_EQ(terminal.text("SELECT login_id FROM t_login ORDER BY login_id"),
              unsent + ";" + recent + ";");
}

TEST_P(OfficeViewTest, AnImportedRosterIsStoredAllOrNothingAndAgainChangesNothing) {
    using Pupil = CDbAccess::RosterPupil;
    const std::vector<Pupil> pupils = {{"C組", "NEW", "新入 生", true, {"n1@x.jp", "n2@x.jp"}},
                                       {"一般", "TARO", "佐藤 太郎", false, {"T@x.jp", "t2@x.jp"}}};
    EXPECT_EQ(db.importRoster({CString("D組")}, pupils), 0);
    const std::string after = joined(data.snapshot());
    NVKTL::vector<CMapStringToString*> rows;
    EXPECT_EQ(db.getRosterLines(&rows), 0);
    EXPECT_EQ(
        joined(takeRows(rows), {"group_name", "user_id", "notice_off", "mail"}),
        "一般 HANA  h1@x.jp;一般 HANA  h2@x.jp;一般 TARO  T@x.jp;一般 TARO  t2@x.jp;B組 JIRO  "
        ";C組 NEW 1 n1@x.jp;C組 NEW 1 n2@x.jp;");
    EXPECT_EQ(data.text("SELECT group_name FROM t_group ORDER BY order_id"),
              "管理者;一般;B組;D組;C組;");
    EXPECT_EQ(db.importRoster({CString("D組")}, pupils), 0);
    EXPECT_EQ(joined(data.snapshot()), after);
    // A refused address leaves everything as it was.
    data.refuseWrites("t_mail");
    EXPECT_EQ(db.importRoster({CString("E組")}, {{"E組", "JIRO", "山田 次郎", false, {"j@x.jp"}}}),
              -1);
    EXPECT_EQ(joined(data.snapshot()), after);
}

INSTANTIATE_TEST_SUITE_P(EveryStore, OfficeViewTest,
                         ::testing::Values(StoreKind::File, StoreKind::Server),
                         [](const auto& info) { return storeKindName(info.param); });

} // namespace
