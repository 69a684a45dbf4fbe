// Visits, their notification state and the failed deliveries.
#include "DataFolder.h"

#include "data/CDbAccess.h"

#include <map>
#include <set>
#include <string>
#include <thread>

namespace {

class VisitsTest : public DataTest {
protected:
    CDbAccess db;

    void SetUp() override {
        db.saveUser(CString("THREE"), CString("三人"), CString("a@x.jp"), CString("2"), 1);
        for (const char* mail : {"a@x.jp", "b@x.jp", "c@x.jp"})
            db.addMail(CString("THREE"), CString(mail));
        db.saveUser(CString("NONE"), CString("なし"), CString(), CString("2"), 2);
        db.saveUser(CString("ONE"), CString("一人"), CString("o@x.jp"), CString("1"), 3);
        db.addMail(CString("ONE"), CString("o@x.jp"));
    }

    std::string visit(const char* user, const char* date) {
        CString id("unset");
        EXPECT_EQ(db.addLogin(CString(user), CString(date), id), 0);
        return id.str();
    }
    Rows due() {
        NVKTL::vector<CMapStringToString*> rows;
        const int found = db.getSendLogin(&rows);
        Rows taken = takeRows(rows);
        EXPECT_EQ(found, taken.empty() ? -1 : 0);
        return taken;
    }
    Table state(const std::string& id) {
        return query(folder.dataFile(),
                     "SELECT ret_send, ret_send_date FROM t_login WHERE login_id = " + id);
    }
};

TEST_F(VisitsTest, NewVisitIsDueWithTheLargestId) {
    const std::string first = visit("THREE", "20261205090000000");
    const std::string second = visit("ONE", "20261205090000001");
    EXPECT_EQ(std::stoi(second), std::stoi(first) + 1);
    EXPECT_EQ(state(second), (Table{{"1", "<null>"}}));
}

TEST_F(VisitsTest, DueVisitsComeOnePerAddressOldestFirst) {
    const std::string later = visit("ONE", "20261205100000000");
    const std::string earlier = visit("THREE", "20261205090000000");
    const std::string none = visit("NONE", "20261205080000000");
    EXPECT_EQ(state(none), (Table{{"3", "<null>"}})); // no address: nothing to send

    const Rows rows = due();
    ASSERT_EQ(rows.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].at("login_id"), earlier);
        EXPECT_EQ(rows[i].at("user_id"), "THREE");
        EXPECT_EQ(rows[i].at("from_name"), "三人");
        EXPECT_EQ(rows[i].at("group_name"), "一般");
        EXPECT_EQ(rows[i].at("login_date"), "20261205090000000");
    }
    EXPECT_EQ((std::set<std::string>{rows[0].at("from_mail"), rows[1].at("from_mail"),
                                     rows[2].at("from_mail")}),
              (std::set<std::string>{"a@x.jp", "b@x.jp", "c@x.jp"}));
    EXPECT_EQ(rows[3], (std::map<std::string, std::string>{{"group_name", "管理者"},
                                                           {"user_id", "ONE"},
                                                           {"from_name", "一人"},
                                                           {"from_mail", "o@x.jp"},
                                                           {"login_id", later},
                                                           {"send_id", rows[3].at("send_id")},
                                                           {"tries", "0"},
                                                           {"login_date", "20261205100000000"}}));
}

TEST_F(VisitsTest, StateChangesDecideWhatIsDue) {
    const std::string sent = visit("ONE", "20261205090000000");
    const std::string skipped = visit("ONE", "20261205090000001");
    const std::string resentNow = visit("ONE", "20261205090000002");
    const std::string resentBefore = visit("ONE", "20261205090000003");

    db.sendLogin(CString(sent), CString("20261205090100000"));
    db.skipLogin(CString(skipped), CString("20261205090200000"));
    db.skipLogin(CString(resentNow), CString("20261205090300000"));
    db.skipLogin(CString(resentBefore), CString("20261205090300000"));
    EXPECT_EQ(state(sent), (Table{{"2", "20261205090100000"}}));
    EXPECT_EQ(state(skipped), (Table{{"3", "20261205090200000"}}));
    EXPECT_TRUE(due().empty());

    // Due again once its time has come.
    db.resendLogin(CString(resentNow), CString("20261205101530124"));
    db.resendLogin(CString(resentBefore), CString("20261205101530122"));
    EXPECT_EQ(state(resentNow), (Table{{"1", "20261205101530124"}}));
    const Rows rows = due();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("login_id"), resentBefore);

    // An id that is not a number changes nothing.
    db.sendLogin(CString(""), CString(now));
    db.sendLogin(CString("abc"), CString(now));
    EXPECT_EQ(state(resentBefore), (Table{{"1", "20261205101530122"}}));
}

TEST_F(VisitsTest, DeliveriesKeepTheAddressesNameAndGroupOfTheVisit) {
    // Whatever happens to the user after the visit, its notifications go to
    // the addresses it had then, under the name it had then.
    const struct {
        const char* change;
        const char* sql;
    } cases[] = {
        {"new address", "INSERT INTO t_mail VALUES ('THREE', 'new@x.jp')"},
        {"address removed", "DELETE FROM t_mail WHERE user_id = 'THREE' AND mail = 'b@x.jp'"},
        {"group changed", "UPDATE t_user SET group_id = 77 WHERE user_id = 'THREE'"},
        {"deleted and card re-registered",
         "DELETE FROM t_user WHERE user_id = 'THREE'; DELETE FROM t_mail WHERE user_id = "
         "'THREE'; INSERT INTO t_user VALUES ('THREE', '別人', 'z@x.jp', 2, 9); INSERT INTO "
         "t_mail VALUES ('THREE', 'z@x.jp')"},
    };
    for (const auto& c : cases) {
        exec(folder.dataFile(), "DELETE FROM t_send; DELETE FROM t_login; DELETE FROM t_mail "
                                "WHERE user_id = 'THREE'; DELETE FROM t_user WHERE user_id = "
                                "'THREE'");
        SetUp();
        const std::string id = visit("THREE", "20261205090000000");
        exec(folder.dataFile(), c.sql);
        std::set<std::string> mails;
        for (const auto& row : due()) {
            EXPECT_EQ(row.at("login_id"), id) << c.change;
            EXPECT_EQ(row.at("from_name"), "三人") << c.change;
            EXPECT_EQ(row.at("group_name"), "一般") << c.change;
            mails.insert(row.at("from_mail"));
        }
        EXPECT_EQ(mails, (std::set<std::string>{"a@x.jp", "b@x.jp", "c@x.jp"})) << c.change;
    }
    // A visitor unknown at the visit has nothing to be sent.
    const std::string gone = visit("GONE", "20261205090000001");
    EXPECT_EQ(state(gone), (Table{{"3", "<null>"}}));
}

TEST_F(VisitsTest, MailErrorsAreListedNewestFirstWhileTheirUserAndGroupExist) {
    const std::string a = visit("ONE", "20261205090000000");
    const std::string b = visit("THREE", "20261205090000001");
    db.setMailError(CString(a), CString("ONE"), CString("o@x.jp"), CString("20261205090500000"),
                    CString("-5: 宛先が見つかりません"));
    db.setMailError(CString(b), CString("THREE"), CString("b@x.jp"), CString("20261205091000000"),
                    CString("timeout"));
    db.setMailError(CString(b), CString("GONE"), CString("g@x.jp"), CString("20261205092000000"),
                    CString("lost"));

    NVKTL::vector<CMapStringToString*> rows;
    EXPECT_EQ(db.getMailErrorList(&rows), 0);
    const Rows errors = takeRows(rows);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].at("login_id"), b);
    EXPECT_EQ(errors[0].at("user_name"), "三人");
    EXPECT_EQ(errors[0].at("group_name"), "一般");
    EXPECT_EQ(errors[0].at("error_msg"), "timeout");
    EXPECT_EQ(errors[1],
              (std::map<std::string, std::string>{{"error_no", errors[1].at("error_no")},
                                                  {"login_id", a},
                                                  {"error_date", "20261205090500000"},
                                                  {"group_name", "管理者"},
                                                  {"user_name", "一人"},
                                                  {"mail", "o@x.jp"},
                                                  {"error_msg", "-5: 宛先が見つかりません"}}));

    db.deleteMailError(CString(errors[0].at("error_no")));
    db.deleteMailError(CString(errors[1].at("error_no")));
    EXPECT_EQ(db.getMailErrorList(&rows), -1);
    EXPECT_EQ(query(folder.dataFile(), "SELECT mail FROM t_mail_error"), (Table{{"g@x.jp"}}));
}

TEST_F(VisitsTest, SendThreadReleasesRowsOnItsOwnThread) {
    visit("THREE", "20261205090000000");
    NVKTL::vector<CMapStringToString*> rows;
    ASSERT_EQ(db.getSendLogin(&rows), 0);
    ASSERT_EQ(rows.size(), 3u);
    std::thread sendThread([&rows] { releaseSendLogin(&rows); });
    sendThread.join();
    EXPECT_EQ(rows.size(), 0u);
}

} // namespace
