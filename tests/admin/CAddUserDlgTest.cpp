#include "AdminScreenTest.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CAddUserDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

using Answer = CMessageBox::Answer;

namespace {

constexpr const char* kCard = "0123456789ABCDEF";

QStringList entries(QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

} // namespace

class CAddUserDlgTest : public AdminScreenTest {
protected:
    void SetUp() override { dlg.show(); }

    QLineEdit* edit(const char* id) { return control<QLineEdit>(&dlg, id); }
    QPushButton* button(const char* id) { return control<QPushButton>(&dlg, id); }
    QListWidget* addresses() { return control<QListWidget>(&dlg, "1016"); }
    void addAddress(const char* text) {
        edit("1010")->setText(qs(text));
        button("1017")->click();
    }
    void presentCard(const char* card) {
        app.card = CString(card);
        dlg.OnTimer(100);
    }

    CAddUserDlg dlg;
};

TEST_F(CAddUserDlgTest, TheTimerWritesTheCardFieldAndKeepsTypedText) {
    edit("1005")->setText(qs("山田 太郎"));
    presentCard("no");
    EXPECT_EQ(edit("1004")->text(), qs("カードをFeRiCaにセットしてください。"));
    presentCard("err");
    EXPECT_EQ(edit("1004")->text(), qs("エラーが発生しています。再起動してください"));
    presentCard(kCard);
    EXPECT_EQ(edit("1004")->text(), qs(kCard));
    EXPECT_EQ(edit("1005")->text(), qs("山田 太郎"));
    EXPECT_TRUE(edit("1004")->isReadOnly());
    // Japanese names come through the desktop's input method.
    EXPECT_TRUE(edit("1005")->testAttribute(Qt::WA_InputMethodEnabled));
}

TEST_F(CAddUserDlgTest, RegisteringWithoutACardShowsTheCardFieldAndWritesNothing) {
    presentCard("no");
    edit("1005")->setText(qs("山田"));
    button("1003")->click();
    EXPECT_EQ(lastShown(), "カードをFeRiCaにセットしてください。");
    presentCard("err");
    button("1003")->click();
    EXPECT_EQ(lastShown(), "エラーが発生しています。再起動してください");
    EXPECT_TRUE(dlg.isScreenTimerActive(100));
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user"), "0");

    presentCard(kCard);
    edit("1005")->clear();
    button("1003")->click();
    EXPECT_EQ(lastShown(), "ユーザ氏名が入力されていません。");
}

TEST_F(CAddUserDlgTest, TheAddressListIsSortedWithoutRegardToCaseAndRefusesCaseDuplicates) {
    addAddress("b@example.jp");
    addAddress("C@example.jp");
    addAddress("a@example.jp");
    EXPECT_EQ(entries(addresses()),
              (QStringList{qs("a@example.jp"), qs("b@example.jp"), qs("C@example.jp")}));
    EXPECT_TRUE(edit("1010")->text().isEmpty());

    addAddress("B@EXAMPLE.JP");
    EXPECT_EQ(lastShown(), "同じメールアドレスが追加されています");
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "ユーザ登録");
    EXPECT_EQ(addresses()->count(), 3);

    // "更新" replaces the selected entry without the duplicate test.
    addresses()->item(1)->setSelected(true);
    EXPECT_EQ(edit("1010")->text(), qs("b@example.jp"));
    edit("1010")->setText(qs("B@example.jp"));
    button("1019")->click();
    EXPECT_EQ(entries(addresses()),
              (QStringList{qs("a@example.jp"), qs("B@example.jp"), qs("C@example.jp")}));
    EXPECT_EQ(edit("1010")->text(), qs("B@example.jp"));

    addresses()->item(0)->setSelected(true);
    button("1018")->click();
    EXPECT_EQ(entries(addresses()), (QStringList{qs("B@example.jp"), qs("C@example.jp")}));
    EXPECT_TRUE(edit("1010")->text().isEmpty());
}

TEST_F(CAddUserDlgTest, AddressButtonsRefuseMissingInput) {
    button("1017")->click();
    EXPECT_EQ(lastShown(), "メールアドレスが入力されていません");
    button("1018")->click();
    EXPECT_EQ(lastShown(), "メールアドレスが選択されていません");
    button("1019")->click();
    EXPECT_EQ(lastShown(), "メールアドレスが入力されていません");
    edit("1010")->setText(qs("x@example.jp"));
    button("1019")->click();
    EXPECT_EQ(lastShown(), "メールアドレスが選択されていません");
}

TEST_F(CAddUserDlgTest, UndeliverableAddressesAreRefusedOnEntry) {
    for (const char* bad : {"no-at-sign.example.jp", "a b@example.jp", "a@example.jp\r\nRCPT",
                            "tab\t@example.jp", "全角　空白@example.jp"}) {
        addAddress(bad);
        EXPECT_EQ(lastShown(), "メールアドレスに空白や改行が含まれているか、@がありません") << bad;
    }
    EXPECT_EQ(addresses()->count(), 0);

    addAddress("good@example.jp");
    addresses()->item(0)->setSelected(true);
    edit("1010")->setText(qs("bad address@example.jp"));
    button("1019")->click();
    EXPECT_EQ(entries(addresses()), QStringList{qs("good@example.jp")});

    // The typed address is stored by "登録" too, so it is checked there.
    presentCard(kCard);
    edit("1005")->setText(qs("山田"));
    edit("1010")->setText(qs("nobody"));
    button("1003")->click();
    EXPECT_EQ(lastShown(), "メールアドレスに空白や改行が含まれているか、@がありません");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user"), "0");
    EXPECT_TRUE(dlg.isScreenTimerActive(100));
}

TEST_F(CAddUserDlgTest, RegistersTheTypedAndListedAddressesAfterTheLastUser) {
    addUser("FFFFFFFFFFFFFFFF", "先客", "2");
    query("UPDATE t_user SET order_id = 41");
    addAddress("b@example.jp");
    addAddress("a@example.jp");
    presentCard(kCard);
    edit("1005")->setText(qs("山田 太郎"));
    edit("1010")->setText(qs("a@example.jp"));
    control<QComboBox>(&dlg, "1000")->setCurrentIndex(1);
    answer({Answer::Yes});
    button("1003")->click();

    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{"この情報をユーザとして登録しますか？", "登録しました。"}));
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "NVKぽすとん");
    EXPECT_EQ(
        query("SELECT user_name, mail, group_id, order_id FROM t_user WHERE user_id = ?", {kCard}),
        (Rows{{"山田 太郎", "a@example.jp", "2", "42"}}));
    EXPECT_EQ(query("SELECT mail FROM t_mail WHERE user_id = ? ORDER BY mail", {kCard}),
              (Rows{{"a@example.jp"}, {"b@example.jp"}}));
    // The screen is ready for the next user at once.
    EXPECT_TRUE(dlg.isScreenTimerActive(100));
}

TEST_F(CAddUserDlgTest, AKnownCardIsOverwrittenOnlyAfterConfirmationWithItsAddresses) {
    addUser(kCard, "旧名", "1", {"old@example.jp"});
    presentCard(kCard);
    edit("1005")->setText(qs("新名"));
    control<QComboBox>(&dlg, "1000")->setCurrentIndex(1);
    addAddress("new@example.jp");
    answer({Answer::Yes, Answer::No});
    button("1003")->click();
    EXPECT_EQ(lastShown(), "このユーザはすでに存在しています。上書きしますか？");
    EXPECT_EQ(value("SELECT user_name FROM t_user WHERE user_id = ?", {kCard}), "旧名");
    EXPECT_TRUE(dlg.isScreenTimerActive(100));

    answer({Answer::Yes, Answer::Yes});
    button("1003")->click();
    EXPECT_EQ(query("SELECT user_name, mail, group_id FROM t_user WHERE user_id = ?", {kCard}),
              (Rows{{"新名", "<null>", "2"}}));
    // The former holder's family is no longer mailed.
    EXPECT_EQ(query("SELECT mail FROM t_mail WHERE user_id = ? ORDER BY mail", {kCard}),
              (Rows{{"new@example.jp"}}));
}

TEST_F(CAddUserDlgTest, AGroupAddedInTheSubScreenIsSelectedAfterwards) {
    auto* groups = control<QComboBox>(&dlg, "1000");
    ASSERT_EQ(groups->count(), 2);
    EXPECT_EQ(groups->currentIndex(), 0);
    bool exitDisabled = false;
    bool subBound = false;
    QTimer::singleShot(0, [&] {
        auto* sub = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(sub, nullptr);
        exitDisabled = !control<QPushButton>(sub, "1022")->isEnabled();
        subBound = app.bound == sub;
        control<QLineEdit>(sub, "1007")->setText(qs("来客"));
        CMessageBox::setNextAnswer(Answer::Yes);
        control<QPushButton>(sub, "1003")->click();
        control<QPushButton>(sub, "1023")->click();
    });
    button("1015")->click();

    EXPECT_TRUE(exitDisabled);
    EXPECT_TRUE(subBound);
    EXPECT_EQ(app.bound, &dlg);
    ASSERT_EQ(groups->count(), 3);
    EXPECT_EQ(groups->currentIndex(), 2);
    EXPECT_EQ(groups->currentText(), qs("来客"));
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(CAddUserDlgTest, BackAndEscapeReturnToTheMenuAndExitToTheFirstScreen) {
    pressKey(&dlg, Qt::Key_Escape);
    EXPECT_EQ(dlg.result(), -3);
    CAddUserDlg other;
    other.show();
    control<QPushButton>(&other, "1022")->click();
    EXPECT_EQ(other.result(), -1);
}
