// The last screens of the menu: mail settings, operation settings and the
// mail error list.
#include "AdminSteps.h"

#include "admin/CDefSetDlg.h"
#include "admin/CListCtrlEx.h"
#include "admin/CMailErrorDlg.h"
#include "tools/smtp-test-peer/ScriptedSmtpPeer.h"

#include <QHeaderView>
#include <QTimer>

using namespace adminsteps;

namespace {

class SettingsScreensTest : public testsupport::ScreenTest {
protected:
    void SetUp() override { storeMailSettings(data); }
    static bool checked(QWidget* dlg, const char* role) {
        return control<QCheckBox>(dlg, role)->isChecked();
    }
};

TEST_F(SettingsScreensTest, TheBoxesOpenFromWhatIsStoredAndTheEncryptionFillsInItsPort) {
    data.setSetting("mail_password", "");
    {
        CDefSetDlg dlg;
        dlg.show();
        EXPECT_TRUE(checked(&dlg, "smtpCheck") && !checked(&dlg, "authCheck"));
        EXPECT_EQ(text(&dlg, "accountEdit"), "");
        perform(&dlg, {"portEdit=", "securityCombo=SSL/TLS"});
        emit control<QComboBox>(&dlg, "securityCombo")->activated(2);
        click(&dlg, "portUpButton");
        EXPECT_EQ(text(&dlg, "portEdit"), "466");
    }
    data.setSetting("mail_server_port", "");
    CDefSetDlg dlg;
    dlg.show();
    EXPECT_FALSE(checked(&dlg, "smtpCheck") || checked(&dlg, "authCheck"));
    EXPECT_EQ(text(&dlg, "serverEdit"), "");
    EXPECT_EQ(control<QLineEdit>(&dlg, "passwordEdit")->echoMode(), QLineEdit::Password);
}

TEST_F(SettingsScreensTest, TheTestSendUsesTheValuesOnTheScreenAndSaysHowItWent) {
    data.setSetting("mail_server_ip", "127.0.0.1");
    smtptest::ScriptedSmtpPeer good(std::vector<std::string>{
        "220 mail.example.net ESMTP\r\n", "250 mail.example.net\r\n", "250 OK\r\n", "250 OK\r\n",
        "354 go ahead\r\n", "250 queued\r\n", "221 bye\r\n"});
    CDefSetDlg dlg;
    dlg.show();
    perform(&dlg, {"portEdit=" + std::to_string(good.port()), "authCheck=off", "testSendButton"});
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
}

class MailErrorDlgTest : public testsupport::ScreenTest {
protected:
    // Three visits that were not sent, each with its error row.
    void SetUp() override {
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
    }
    std::string column(int column) {
        std::string texts;
        for (int row = 0; row < list->rowCount(); ++row)
            texts += (row ? ", " : "") + list->GetCellText(row, column).toStdString();
        return texts;
    }
    void sortBy(int column) { emit list->horizontalHeader()->sectionClicked(column); }

    CMailErrorDlg dlg;
    CListCtrlEx* list = nullptr;
};

TEST_F(MailErrorDlgTest, OpensNewestFirstAndAHeaderClickSortsByteWiseTheOtherWay) {
    ASSERT_EQ(list->columnCount(), 7);
    EXPECT_TRUE(list->isColumnHidden(CMailErrorDlg::ErrorNo) &&
                list->isColumnHidden(CMailErrorDlg::LoginId));
    EXPECT_EQ(column(CMailErrorDlg::Date),
              "2026年12月05日 17時45分, 2026年12月01日 08時30分, 2026年11月30日 23時59分");
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

TEST_F(MailErrorDlgTest, ResendMakesTheSelectedAddressDueAgainAndDeleteRemovesTheRows) {
    list->selectRow(0);
    click(&dlg, "resendButton");
    EXPECT_EQ(shown() + caption(), "再送設定しました"
                                   "メールエラー情報");
    const auto resent =
        data.deliveries(data.value("SELECT login_id FROM t_mail_error WHERE mail = 'a@x.jp'"));
    ASSERT_EQ(resent.size(), 1u);
    EXPECT_EQ(resent[0].state, "1");
    EXPECT_EQ(data.value("SELECT COUNT(*) FROM t_login WHERE ret_send = '3'"), "2");
    EXPECT_EQ(list->rowCount(), 3);

    list->selectRow(1);
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    click(&dlg, "deleteHistoryButton");
    EXPECT_EQ(lastShown(), "履歴削除しました");
    EXPECT_EQ(column(CMailErrorDlg::Mail), "a@x.jp");
    EXPECT_EQ(data.query("SELECT mail FROM t_mail_error"), (testsupport::Rows{{"a@x.jp"}}));
}

} // namespace
