#include "data/CDataRequest.h"
#include "data/CDbAccess.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A fresh copy of the built master file as the data folder's data file; the
// test seeds and reads it with SQL of its own.
class DataRequestTest : public ::testing::Test {
protected:
    DataRequestTest() {
        m_folder = std::filesystem::temp_directory_path() /
                   ("poston-request-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        std::filesystem::copy_file(POSTON_MASTER_MDB, m_folder / "poston.mdb");
        CDbAccess::setDataFolder(m_folder.string());
        EXPECT_EQ(sqlite3_open((m_folder / "poston.mdb").string().c_str(), &m_db), SQLITE_OK);
    }
    ~DataRequestTest() override {
        sqlite3_close(m_db);
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::vector<std::vector<std::string>> sql(const std::string& text,
                                              const std::vector<std::string>& values = {}) {
        std::vector<std::vector<std::string>> rows;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(m_db);
            return rows;
        }
        for (std::size_t i = 0; i < values.size(); ++i)
            sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].c_str(), -1,
                              SQLITE_TRANSIENT);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const auto* value = sqlite3_column_text(statement, c);
                row.emplace_back(value ? reinterpret_cast<const char*>(value) : "");
            }
            rows.push_back(row);
        }
        sqlite3_finalize(statement);
        return rows;
    }

    void addUser(const std::string& id, const std::vector<std::string>& mails) {
        sql("INSERT INTO t_user (user_id, user_name, group_id, order_id) VALUES (?, 'N', 2, 1)",
            {id});
        for (const std::string& mail : mails)
            sql("INSERT INTO t_mail (user_id, mail) VALUES (?, ?)", {id, mail});
    }
    std::string addVisit(const std::string& id) {
        sql("INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, "
            "'20261205101530123', '1')",
            {id});
        const std::string login = sql("SELECT MAX(login_id) FROM t_login")[0][0];
        sql("INSERT INTO t_send (login_id, mail, state, tries) SELECT ?, mail, '1', 0 FROM "
            "t_mail WHERE user_id = ?",
            {login, id});
        return login;
    }

    std::filesystem::path m_folder;
    sqlite3* m_db = nullptr;
};

TEST_F(DataRequestTest, UnknownOrMiscasedNamesAreRefusedAndTouchNothing) {
    CMapStringToString settings;
    settings.SetAt("kept", "1");
    void* args[] = {&settings};
    sql("UPDATE t_def_data SET column_value = 'desk' WHERE column_name = 'mail_user'");

    EXPECT_EQ(CDataRequest::run("GetDefault", args), -1);
    EXPECT_EQ(CDataRequest::run("getdefault", args), -1);
    EXPECT_EQ(CDataRequest::run("getDefault ", args), -1);
    EXPECT_EQ(CDataRequest::run("deleteUser", args), -1);
    EXPECT_EQ(CDataRequest::run("", args), -1);
    EXPECT_EQ(CDataRequest::run(nullptr, args), -1);
    EXPECT_EQ(settings.GetCount(), 1);

    CString user("00000000000000A1");
    void* removal[] = {&user};
    addUser("00000000000000A1", {"a@example.jp"});
    EXPECT_EQ(CDataRequest::run("deleteMail", removal), -1);
    EXPECT_EQ(sql("SELECT COUNT(*) FROM t_mail")[0][0], "1");

    // A known command without its argument objects is refused as well.
    void* missing[] = {&user, nullptr};
    EXPECT_EQ(CDataRequest::run("getAddress", missing), -1);
    EXPECT_EQ(CDataRequest::run("getSendLogin", nullptr), -1);
}

TEST_F(DataRequestTest, GetDefaultFillsTheGivenMap) {
    sql("UPDATE t_def_data SET column_value = '受付' WHERE column_name = 'mail_user'");
    CMapStringToString settings;
    settings.SetAt("extra", "stays");
    void* args[] = {&settings};

    EXPECT_EQ(CDataRequest::run("getDefault", args), -1); // the operation's own result
    CString value;
    EXPECT_TRUE(settings.Lookup("mail_user", value));
    EXPECT_EQ(value, "受付");
    EXPECT_TRUE(settings.Lookup("mail_server_ip", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(settings.Lookup("extra", value));
}

TEST_F(DataRequestTest, GetAddressAppendsOrLeavesTheTextAsItWas) {
    addUser("00000000000000A1", {"a@example.jp", "b@example.jp"});
    addUser("00000000000000B2", {});
    CString user("00000000000000B2"), text("before");
    void* none[] = {&user, &text};
    EXPECT_EQ(CDataRequest::run("getAddress", none), -1);
    EXPECT_EQ(text, "before");

    user = "00000000000000A1";
    void* two[] = {&user, &text};
    EXPECT_EQ(CDataRequest::run("getAddress", two), 0);
    EXPECT_EQ(text, "beforea@example.jp\r\nb@example.jp\r\n");
}

TEST_F(DataRequestTest, VisitCommandsReadAndWriteDeliveryStates) {
    addUser("00000000000000A1", {"a@example.jp", "b@example.jp"});
    const std::string sent = addVisit("00000000000000A1");
    const std::string skipped = addVisit("00000000000000A1");

    NVKTL::vector<CMapStringToString*> rows;
    void* fetch[] = {&rows};
    EXPECT_EQ(CDataRequest::run("getSendLogin", fetch), 0);
    EXPECT_EQ(rows.size(), 4u);
    CString column;
    ASSERT_NE(rows.at(0), nullptr);
    EXPECT_TRUE(rows.at(0)->Lookup("from_mail", column));
    releaseSendLogin(&rows);
    EXPECT_TRUE(rows.empty());

    CString id(sent.c_str()), date("20261205101600000");
    void* send[] = {&id, &date};
    EXPECT_EQ(CDataRequest::run("sendLogin", send), 0);
    CString other(skipped.c_str());
    void* skip[] = {&other, &date};
    EXPECT_EQ(CDataRequest::run("skipLogin", skip), 0);

    const auto states =
        sql("SELECT login_id, ret_send, ret_send_date FROM t_login ORDER BY login_id");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0], (std::vector<std::string>{sent, "2", "20261205101600000"}));
    EXPECT_EQ(states[1], (std::vector<std::string>{skipped, "3", "20261205101600000"}));
    EXPECT_EQ(CDataRequest::run("getSendLogin", fetch), -1);
}

TEST_F(DataRequestTest, SetMailErrorStoresTheTextsExactly) {
    addUser("00000000000000A1", {"o'brien@example.jp"});
    const std::string visit = addVisit("00000000000000A1");
    CString id(visit.c_str()), user("00000000000000A1"), mail("o'brien@example.jp"),
        date("20261205101600000"), message("宛先が拒否されました。' OR '1'='1");
    void* args[] = {&id, &user, &mail, &date, &message};

    EXPECT_EQ(CDataRequest::run("setMailError", args), 0);
    const auto rows =
        sql("SELECT login_id, user_id, mail, error_date, error_msg FROM t_mail_error");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{visit, "00000000000000A1", "o'brien@example.jp",
                                        "20261205101600000", "宛先が拒否されました。' OR '1'='1"}));
}

} // namespace
