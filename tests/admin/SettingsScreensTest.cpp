// The last screens of the menu: mail settings, operation settings and the
// mail error list.
#include "AdminSteps.h"

#include "admin/CDefSetDlg.h"
#include "admin/CListCtrlEx.h"
#include "admin/CMailErrorDlg.h"
#include "admin/StoreTogether.h"
#include "data/CDataRequest.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <QHeaderView>
#include <QScreen>
#include <QTimer>

using namespace adminsteps;

namespace {

class SettingsScreensTest : public testsupport::ScreenTest {
protected:
    void SetUp() override { storeMailSettings(data); }
    static bool checked(QWidget* dlg, const char* role) {
        return control<QCheckBox>(dlg, role)->isChecked();
    }
    // Which of server, port, authentication box, account and password are enabled.
    static std::string editable(QWidget* dlg) {
        std::string flags;
        for (const char* role :
             {"serverEdit", "portEdit", "authCheck", "accountEdit", "passwordEdit"})
            flags += control<QWidget>(dlg, role)->isEnabled() ? '1' : '0';
        return flags;
    }
};

TEST_F(SettingsScreensTest, TheBoxesOpenFromWhatIsStoredAndTheEncryptionFillsInItsPort) {
    data.setSetting("mail_password", "");
    {
        CDefSetDlg dlg;
        dlg.show();
        EXPECT_TRUE(checked(&dlg, "smtpCheck") && !checked(&dlg, "authCheck"));
        EXPECT_EQ(text(&dlg, "accountEdit") + editable(&dlg), "11100");
        perform(&dlg, {"authCheck"});
        EXPECT_EQ(editable(&dlg), "11111");
        perform(&dlg, {"portEdit=", "securityCombo=SSL/TLS"});
        click(&dlg, "portUpButton");
        EXPECT_EQ(text(&dlg, "portEdit"), "466");
    }
    data.setSetting("mail_server_port", "");
    CDefSetDlg dlg;
    dlg.show();
    EXPECT_FALSE(checked(&dlg, "smtpCheck") || checked(&dlg, "authCheck"));
    EXPECT_EQ(text(&dlg, "serverEdit") + editable(&dlg), "00000");
    EXPECT_EQ(control<QLineEdit>(&dlg, "passwordEdit")->echoMode(), QLineEdit::Password);
}

TEST_F(SettingsScreensTest, TheTestSendUsesTheValuesOnTheScreenAndSaysHowItWent) {
    data.setSetting("mail_server_ip", "127.0.0.1");
    smtptest::ScriptedSmtpPeer good(std::vector<std::string>{
        "220 mail.example.net ESMTP\r\n", "250 mail.example.net\r\n", "250 OK\r\n", "250 OK\r\n",
        "354 go ahead\r\n", "250 queued\r\n", "221 bye\r\n"});
    CDefSetDlg dlg;
    dlg.show();
    perform(&dlg,
            {"portEdit=" + std::to_string(good.port()), "authCheck=off", "yes", "testSendButton"});
    EXPECT_EQ(lastShown(), CDefSetDlg::kTestSent);
    const auto commands = good.commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[2], "RCPT TO:<desk@example.jp>\r\n");
    EXPECT_NE(commands[4].find("\r\nMessage-ID: <"), std::string::npos);
    EXPECT_EQ(data.setting("mail_server_port") + data.setting("mail_acount"), "587desk"); // unsaved

    // A server that greets only after a while, then refuses the recipient:
    // the screen is busy and cannot be left meanwhile.
    smtptest::ScriptedSmtpPeer refusing(
        std::vector<std::string>{"<pause 400>220 mail.example.net ESMTP\r\n",
                                 "250 mail.example.net\r\n", "250 OK\r\n", "550 no such user\r\n"});
    type(&dlg, "portEdit", std::to_string(refusing.port()));
    bool busyAndStayed = false;
    QTimer::singleShot(100, &dlg, [&] {
        dlg.reject();
        testsupport::pressKey(&dlg, Qt::Key_Escape);
        busyAndStayed =
            !control<QPushButton>(&dlg, "registerButton")->isEnabled() && dlg.isVisible();
    });
    click(&dlg, "testSendButton");
    EXPECT_TRUE(busyAndStayed);
    EXPECT_EQ(lastShown(),
              std::string(CDefSetDlg::kTestFailed) + "受信者のメールアドレスに誤りがあります。");
    EXPECT_TRUE(control<QPushButton>(&dlg, "testSendButton")->isEnabled());
    EXPECT_EQ(editable(&dlg), "11100"); // the boxes still decide
}

class MailErrorDlgTest : public testsupport::ScreenTest {
protected:
    // Three visits that were not sent, each with its error row, and one whose
    // two mails wait for their third try.
    void SetUp() override {
        data.addUser("A4", "江藤", "2", {"d@x.jp", "e@x.jp"});
        data.query("UPDATE t_send SET tries = 2, next_try = '20261206081500000', last_error = "
                   "'応答がありません' WHERE login_id = ?",
                   {data.addVisit("A4", "20261206080000000")});
        data.addUser("A1", "青木", data.addGroup("営業"));
        data.addUser("A2", "井上");
        data.addUser("A3", "上田");
        for (const auto& [user, date, mail] : {std::tuple{"A2", "20261201083000000", "b@x.jp"},
                                               {"A1", "20261205174512345", "a@x.jp"},
                                               {"A3", "20261130235900999", "c@x.jp"}}) {
            data.query("INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, ?, '3')",
                       {user, date});
            data.query("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
                       "SELECT MAX(login_id), ?, ?, ?, 'サーバに接続できません' FROM t_login",
                       {user, mail, date});
        }
        dlg.show();
        list = control<CListCtrlEx>(&dlg, "errorList");
        waiting = control<CListCtrlEx>(&dlg, "waitingList");
    }
    std::string column(int column, const CListCtrlEx* of = nullptr) {
        of = of ? of : list;
        std::string texts;
        for (int row = 0; row < of->rowCount(); ++row)
            texts += (row ? ", " : "") + of->GetCellText(row, column).toStdString();
        return texts;
    }
    void sortBy(int column) { emit list->horizontalHeader()->sectionClicked(column); }
    // Which of 再送, 履歴を削除 and 今すぐ再送 can be pressed.
    std::string pressable() {
        std::string flags;
        for (const char* role : {"resendButton", "deleteHistoryButton", "resendNowButton"})
            flags += control<QPushButton>(&dlg, role)->isEnabled() ? '1' : '0';
        return flags;
    }

    CMailErrorDlg dlg;
    CListCtrlEx* list = nullptr;
    CListCtrlEx* waiting = nullptr;
};

TEST_F(MailErrorDlgTest, OpensNewestFirstAndAHeaderClickSortsByteWiseTheOtherWay) {
    ASSERT_EQ(list->columnCount(), 8);
    EXPECT_TRUE(list->isColumnHidden(CMailErrorDlg::ErrorNo) &&
                list->isColumnHidden(CMailErrorDlg::LoginId));
    EXPECT_EQ(column(CMailErrorDlg::Date),
              "2026年12月05日 17時45分12秒, 2026年12月01日 08時30分00秒, "
              "2026年11月30日 23時59分00秒");
    EXPECT_EQ(column(CMailErrorDlg::Group), "営業, 一般, 一般");
    EXPECT_EQ(column(CMailErrorDlg::ErrorText).substr(0, 9), "サーバ");
    // Byte order of the UTF-8 names: 上 (E4 B8 8A) < 井 (E4 BA 95) < 青 (E9 9D 92).
    sortBy(CMailErrorDlg::Name);
    EXPECT_EQ(column(CMailErrorDlg::Name), "青木, 井上, 上田");
    sortBy(CMailErrorDlg::Name);
    EXPECT_EQ(column(CMailErrorDlg::Mail), "c@x.jp, b@x.jp, a@x.jp"); // rows move whole
    // The date column, descending on opening, goes ascending on its first click.
    sortBy(CMailErrorDlg::Name);
    sortBy(CMailErrorDlg::Date);
    EXPECT_EQ(column(CMailErrorDlg::Mail), "c@x.jp, b@x.jp, a@x.jp");
}

// The window, too, opens wide enough for its columns, or at the size left.
TEST_F(MailErrorDlgTest, ActionsNeedARowActOnAllTogetherAndTheirRowsLeaveTheList) {
    EXPECT_TRUE(list->viewport()->width() >= list->horizontalHeader()->length() ||
                dlg.width() >= dlg.screen()->availableGeometry().width());
    EXPECT_EQ(pressable(), "000");
    list->selectRow(0);
    EXPECT_EQ(pressable(), "110");
    click(&dlg, "resendButton");
    EXPECT_EQ(lastShown() + column(CMailErrorDlg::Mail) + pressable(),
              "1件を再送設定しましたb@x.jp, c@x.jp000");
    // A resend the file cannot store leaves nothing behind; deleting takes all.
    list->selectAll();
    data.refuseWrites("t_login");
    click(&dlg, "resendButton");
    EXPECT_EQ(lastShown() + column(CMailErrorDlg::Mail),
              std::string(kNotStored) + "b@x.jp, c@x.jp");
    EXPECT_EQ(data.value("SELECT COUNT(*) FROM t_send WHERE mail IN ('b@x.jp', 'c@x.jp')"), "0");
    click(&dlg, "deleteHistoryButton");
    EXPECT_EQ(lastShown() + caption(), "2件の履歴を削除しましたメールエラー情報");
    // The resent row, due again, stays out of the list until it fails again.
    const QSize left = dlg.size() + QSize(0, 30);
    dlg.resize(left);
    dlg.done(CBaseDialog::kResultAdminMenu);
    CMailErrorDlg again;
    again.show();
    EXPECT_EQ(data.text("SELECT mail FROM t_mail_error") +
                  std::to_string(control<CListCtrlEx>(&again, "errorList")->rowCount()),
              "a@x.jp;0");
    EXPECT_EQ(again.size(), left);
}

TEST_F(MailErrorDlgTest, TheWaitingMailsFollowTheSendThreadAndCanBeMadeDueAtOnce) {
    using W = CMailErrorDlg::WaitingColumn;
    EXPECT_EQ(column(W::Address, waiting) + " " + column(W::Tries, waiting), "d@x.jp, e@x.jp 2, 2");
    EXPECT_EQ(waiting->GetCellText(0, W::VisitTime) + waiting->GetCellText(0, W::NextTry) +
                  waiting->GetCellText(0, W::LastError),
              qs("2026年12月06日 08時00分00秒2026年12月06日 08時15分00秒応答がありません"));
    waiting->selectRow(1);
    EXPECT_EQ(pressable(), "001");
    click(&dlg, "resendNowButton");
    EXPECT_EQ(lastShown(), "1件を今すぐ再送します");
    EXPECT_EQ(data.text("SELECT mail, tries FROM t_send WHERE next_try IS NULL"), "e@x.jp 2;");
    // Each count of the send thread brings its changes in; the chosen mail stays chosen.
    data.query("UPDATE t_send SET state = '2' WHERE mail = 'd@x.jp'");
    CDataRequest count{DataRequest::GetWaitingCount{}};
    dlg.OnDataRequest(count);
    EXPECT_EQ(column(W::Address, waiting) + column(W::NextTry, waiting), "e@x.jp今すぐ");
    EXPECT_EQ(waiting->selectedRowIndexes(), QList<int>{0});
}

} // namespace
