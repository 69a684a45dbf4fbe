#include "AdminScreenTest.h"

#include "admin/CDefSetDlg.h"

#include "tests/support/ScriptedSmtpPeer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QValidator>

using Answer = CMessageBox::Answer;

namespace {

const std::vector<std::string> kSmtpKeys = {"mail_server_ip", "mail_server_port", "mail_security",
                                            "mail_acount", "mail_password"};

} // namespace

class CDefSetDlgTest : public AdminScreenTest {
protected:
    void store(const std::string& key, const std::string& value) {
        query("UPDATE t_def_data SET column_value = ? WHERE column_name = ?", {value, key});
    }
    void storeComplete() {
        store("mail_user", "受付");
        store("mail_address", "desk@example.jp");
        store("mail_subject", "来訪");
        store("mail_server_ip", "smtp.example.jp");
        store("mail_server_port", "587");
        store("mail_acount", "desk");
        store("mail_password", "secret");
    }
    QLineEdit* edit(CDefSetDlg& dlg, const char* id) { return control<QLineEdit>(&dlg, id); }
    QCheckBox* check(CDefSetDlg& dlg, const char* id) { return control<QCheckBox>(&dlg, id); }
    void save(CDefSetDlg& dlg) { control<QPushButton>(&dlg, "1003")->click(); }
};

TEST_F(CDefSetDlgTest, ACompleteSettingOpensWithBothBoxesOnAndAHiddenPassword) {
    storeComplete();
    CDefSetDlg dlg;
    dlg.show();
    EXPECT_TRUE(check(dlg, "1011")->isChecked());
    EXPECT_TRUE(check(dlg, "1014")->isChecked());
    EXPECT_EQ(edit(dlg, "1009")->text(), qs("受付"));
    EXPECT_EQ(edit(dlg, "1013")->text(), qs("587"));
    EXPECT_EQ(edit(dlg, "1016")->text(), qs("secret"));
    EXPECT_EQ(edit(dlg, "1016")->echoMode(), QLineEdit::Password);
}

TEST_F(CDefSetDlgTest, AServerWithoutPortOrAnAccountWithoutPasswordOpensCleared) {
    store("mail_server_ip", "smtp.example.jp");
    {
        CDefSetDlg dlg;
        dlg.show();
        EXPECT_FALSE(check(dlg, "1011")->isChecked());
        EXPECT_FALSE(check(dlg, "1014")->isChecked());
        EXPECT_TRUE(edit(dlg, "1012")->text().isEmpty());
    }
    store("mail_server_port", "25");
    store("mail_acount", "desk");
    CDefSetDlg dlg;
    dlg.show();
    EXPECT_TRUE(check(dlg, "1011")->isChecked());
    EXPECT_FALSE(check(dlg, "1014")->isChecked());
    EXPECT_EQ(edit(dlg, "1012")->text(), qs("smtp.example.jp"));
    EXPECT_TRUE(edit(dlg, "1015")->text().isEmpty());
}

TEST_F(CDefSetDlgTest, SavingWithSmtpOffStoresNullForServerPortAccountAndPassword) {
    storeComplete();
    CDefSetDlg dlg;
    dlg.show();
    check(dlg, "1011")->setChecked(false);
    save(dlg);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"登録しました"});
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "諸設定");
    for (const std::string& key : kSmtpKeys)
        EXPECT_EQ(setting(key), "<null>") << key;
    EXPECT_EQ(setting("mail_user"), "受付");
    EXPECT_TRUE(edit(dlg, "1012")->text().isEmpty());
}

TEST_F(CDefSetDlgTest, SavingWithAuthenticationOffKeepsTheServerButDropsTheAccount) {
    storeComplete();
    CDefSetDlg dlg;
    dlg.show();
    check(dlg, "1014")->setChecked(false);
    save(dlg);
    EXPECT_EQ(setting("mail_server_ip"), "smtp.example.jp");
    EXPECT_EQ(setting("mail_server_port"), "587");
    EXPECT_EQ(setting("mail_acount"), "<null>");
    EXPECT_EQ(setting("mail_password"), "<null>");
}

TEST_F(CDefSetDlgTest, AnEmptyAdministratorAddressAnsweredYesStoresTheBoardAdministrator) {
    storeComplete();
    store("mail_address", "");
    CDefSetDlg dlg;
    dlg.show();
    edit(dlg, "1010")->clear();
    answer({Answer::No});
    save(dlg);
    EXPECT_EQ(setting("mail_user"), "受付");

    answer({Answer::Yes});
    save(dlg);
    EXPECT_EQ(CMessageBox::shown().back().text.str(), "登録しました");
    EXPECT_EQ(setting("mail_user"), "伝言板管理者");
    EXPECT_EQ(setting("mail_subject"), "伝言板管理者");
    EXPECT_EQ(setting("mail_address"), "<null>");
    for (const std::string& key : kSmtpKeys)
        EXPECT_EQ(setting(key), "<null>") << key;
    EXPECT_FALSE(check(dlg, "1011")->isChecked());
    EXPECT_EQ(edit(dlg, "1009")->text(), qs("伝言板管理者"));
}

TEST_F(CDefSetDlgTest, ValidationRunsInOrderAndWritesNothing) {
    storeComplete();
    CDefSetDlg dlg;
    dlg.show();
    edit(dlg, "1009")->clear();
    edit(dlg, "1017")->clear();
    edit(dlg, "1012")->clear();
    save(dlg);
    EXPECT_EQ(lastShown(), "管理者名が入力されていません");
    edit(dlg, "1009")->setText(qs("受付"));
    save(dlg);
    EXPECT_EQ(lastShown(), "管理者名が入力されていません");
    edit(dlg, "1017")->setText(qs("件名"));
    save(dlg);
    EXPECT_EQ(lastShown(), "SMTPサーバが入力されていません");
    edit(dlg, "1012")->setText(qs("smtp.example.jp"));
    edit(dlg, "1013")->clear();
    save(dlg);
    EXPECT_EQ(lastShown(), "ポート番号が入力されていません");
    edit(dlg, "1013")->setText(qs("25"));
    edit(dlg, "1015")->clear();
    save(dlg);
    EXPECT_EQ(lastShown(), "アカウントが入力されていません");
    edit(dlg, "1015")->setText(qs("desk"));
    edit(dlg, "1016")->clear();
    save(dlg);
    EXPECT_EQ(lastShown(), "パスワードが入力されていません");
    edit(dlg, "1010")->setText(qs("desk @example.jp"));
    save(dlg);
    EXPECT_EQ(lastShown(), "メールアドレスに空白や改行が含まれているか、@がありません");
    EXPECT_EQ(setting("mail_subject"), "来訪");
    EXPECT_EQ(setting("mail_server_port"), "587");
}

TEST_F(CDefSetDlgTest, ThePortTakesDigitsOnlyAndTheArrowsStayWithinTheRange) {
    CDefSetDlg dlg;
    dlg.show();
    QLineEdit* port = edit(dlg, "1013");
    QString typed = qs("2a5");
    int position = 0;
    EXPECT_EQ(port->validator()->validate(typed, position), QValidator::Invalid);
    QString digits = qs("12345");
    EXPECT_EQ(port->validator()->validate(digits, position), QValidator::Acceptable);
    EXPECT_EQ(port->alignment() & Qt::AlignRight, Qt::AlignRight);

    auto* up = dlg.findChild<QToolButton*>(QStringLiteral("up"));
    auto* down = dlg.findChild<QToolButton*>(QStringLiteral("down"));
    ASSERT_NE(up, nullptr);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(up->parentWidget()->objectName(), QStringLiteral("1018"));
    port->setText(qs("9999"));
    up->click();
    EXPECT_EQ(port->text(), qs("10000"));
    up->click();
    EXPECT_EQ(port->text(), qs("10000"));
    port->setText(qs("1"));
    down->click();
    down->click();
    EXPECT_EQ(port->text(), qs("0"));
    pressKey(port, Qt::Key_Up);
    EXPECT_EQ(port->text(), qs("1"));
    // A typed value above the range is stored as typed.
    port->setText(qs("20000"));
    edit(dlg, "1009")->setText(qs("受付"));
    edit(dlg, "1010")->setText(qs("desk@example.jp"));
    edit(dlg, "1017")->setText(qs("来訪"));
    edit(dlg, "1012")->setText(qs("smtp.example.jp"));
    check(dlg, "1011")->setChecked(true);
    save(dlg);
    EXPECT_EQ(setting("mail_server_port"), "20000");
}

TEST_F(CDefSetDlgTest, TheEncryptionChoiceFillsAnEmptyPortAndIsStoredWithTheServer) {
    const struct {
        int choice;
        const char* portBefore;
        const char* portAfter;
    } cases[] = {{1, "", "587"}, {2, "", "465"}, {1, "2525", "2525"}, {0, "", ""}};
    for (const auto& c : cases) {
        storeComplete();
        CDefSetDlg dlg;
        dlg.show();
        auto* security = dlg.findChild<QComboBox*>("securityCombo");
        ASSERT_NE(security, nullptr);
        edit(dlg, "1013")->setText(qs(c.portBefore));
        security->setCurrentIndex(c.choice);
        emit security->activated(c.choice);
        EXPECT_EQ(edit(dlg, "1013")->text(), qs(c.portAfter)) << c.choice;
    }

    storeComplete();
    {
        CDefSetDlg dlg;
        dlg.show();
        dlg.findChild<QComboBox*>("securityCombo")->setCurrentIndex(2);
        save(dlg);
        EXPECT_EQ(setting("mail_security"), "tls");
    }
    CDefSetDlg reopened;
    reopened.show();
    EXPECT_EQ(reopened.findChild<QComboBox*>("securityCombo")->currentIndex(), 2);
    check(reopened, "1011")->setChecked(false);
    save(reopened);
    EXPECT_EQ(setting("mail_security"), "<null>");
}

TEST_F(CDefSetDlgTest, TestSendUsesTheValuesOnTheScreenAndShowsTheOutcome) {
    storeComplete();
    store("mail_server_ip", "127.0.0.1");
    const std::string greeting = "220 mail.example.net ESMTP\r\n";
    smtptest::ScriptedSmtpPeer peer({greeting, "250 mail.example.net\r\n", "250 OK\r\n",
                                     "250 OK\r\n", "354 go ahead\r\n", "250 queued\r\n",
                                     "221 bye\r\n"});
    CDefSetDlg dlg;
    dlg.show();
    edit(dlg, "1013")->setText(QString::number(peer.port())); // not saved
    check(dlg, "1014")->setChecked(false);
    control<QPushButton>(&dlg, "testSendButton")->click();
    EXPECT_EQ(lastShown(), CDefSetDlg::kTestSent);
    const auto commands = peer.commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[2], "RCPT TO:<desk@example.jp>\r\n");
    EXPECT_NE(commands[4].find("\r\nMessage-ID: <"), std::string::npos);
    // Nothing was saved by the test.
    EXPECT_EQ(setting("mail_server_port"), "587");
    EXPECT_EQ(setting("mail_acount"), "desk");
    EXPECT_TRUE(control<QPushButton>(&dlg, "testSendButton")->isEnabled());
}

TEST_F(CDefSetDlgTest, ATestSendThatFailsSaysWhyAndTheScreenCannotBeLeftMeanwhile) {
    storeComplete();
    store("mail_server_ip", "127.0.0.1");
    // A server that greets only after a while, then refuses the recipient.
    smtptest::ScriptedSmtpPeer peer({"<pause 400>220 mail.example.net ESMTP\r\n",
                                     "250 mail.example.net\r\n", "250 OK\r\n",
                                     "550 no such user\r\n"});
    store("mail_server_port", std::to_string(peer.port()));
    store("mail_acount", "");
    CDefSetDlg dlg;
    dlg.show();
    bool busySeen = false;
    bool stayed = false;
    QTimer::singleShot(100, &dlg, [&] {
        busySeen = !control<QPushButton>(&dlg, "1003")->isEnabled();
        dlg.reject();
        pressKey(&dlg, Qt::Key_Escape);
        stayed = dlg.isVisible();
    });
    control<QPushButton>(&dlg, "testSendButton")->click();
    EXPECT_TRUE(busySeen);
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(lastShown(),
              std::string(CDefSetDlg::kTestFailed) + "受信者のメールアドレスに謝りがあります。");

    edit(dlg, "1010")->clear();
    control<QPushButton>(&dlg, "testSendButton")->click();
    EXPECT_EQ(lastShown(), CDefSetDlg::kNoTestAddress);
}
