#include "AdminScreenTest.h"

#include "admin/CUpdUserDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

using Answer = CMessageBox::Answer;

namespace {
constexpr const char* kOldCard = "0123456789ABCDEF";
constexpr const char* kNewCard = "FEDCBA9876543210";
} // namespace

class CUpdUserDlgTest : public AdminScreenTest {
protected:
    void SetUp() override {
        addUser("1111111111111111", "先頭", "2");
        addUser(kOldCard, "山田", "2", {"b@example.jp", "A@example.jp"});
        dlg.setUserId(CString(kOldCard));
        dlg.show();
    }

    QLineEdit* edit(const char* id) { return control<QLineEdit>(&dlg, id); }
    QPushButton* button(const char* id) { return control<QPushButton>(&dlg, id); }
    QComboBox* groups() { return control<QComboBox>(&dlg, "1000"); }
    void presentCard(const char* card) {
        app.card = CString(card);
        dlg.OnTimer(100);
    }

    CUpdUserDlg dlg;
};

TEST_F(CUpdUserDlgTest, OpensWithTheOldDataAndTheAddressesSorted) {
    EXPECT_EQ(edit("1006")->text(), qs(kOldCard));
    EXPECT_EQ(edit("1007")->text(), qs("山田"));
    EXPECT_EQ(edit("1012")->text(), qs("一般"));
    const QStringList oldAddresses =
        control<QPlainTextEdit>(&dlg, "1011")->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(oldAddresses.size(), 3);
    EXPECT_TRUE(oldAddresses.contains(qs("b@example.jp")));
    EXPECT_TRUE(oldAddresses.contains(qs("A@example.jp")));
    EXPECT_EQ(edit("1005")->text(), qs("山田"));
    EXPECT_EQ(groups()->currentText(), qs("一般"));
    auto* list = control<QListWidget>(&dlg, "1016");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), qs("A@example.jp"));
    EXPECT_TRUE(edit("1004")->text().isEmpty());
}

TEST_F(CUpdUserDlgTest, MovingIntoTheAdministratorsGroupWithoutACardIsRefused) {
    presentCard("no");
    groups()->setCurrentIndex(0);
    button("1003")->click();
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"カードをFeRiCaにセットしてください。"});
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "ユーザ変更");
    EXPECT_EQ(value("SELECT group_id FROM t_user WHERE user_id = ?", {kOldCard}), "2");
    EXPECT_TRUE(dlg.isScreenTimerActive(100));
}

TEST_F(CUpdUserDlgTest, ANameChangeNeedsNoCardAndKeepsOrderAndAddresses) {
    presentCard("no");
    edit("1005")->setText(qs("山田 花子"));
    answer({Answer::Yes});
    button("1003")->click();
    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{"この情報に変更しますか？", "変更しました。"}));
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "NVKぽすとん");
    EXPECT_EQ(
        query("SELECT user_name, group_id, order_id FROM t_user WHERE user_id = ?", {kOldCard}),
        (Rows{{"山田 花子", "2", "2"}}));
    EXPECT_EQ(query("SELECT mail FROM t_mail WHERE user_id = ? ORDER BY mail", {kOldCard}),
              (Rows{{"A@example.jp"}, {"b@example.jp"}}));
}

TEST_F(CUpdUserDlgTest, ANewCardIsConfirmedAndMakesTheOldCardUnknown) {
    presentCard(kNewCard);
    groups()->setCurrentIndex(0);
    answer({Answer::Yes, Answer::No});
    button("1003")->click();
    EXPECT_EQ(lastShown(), "ICカードが変更されています。旧のカードでアクセスできなくなりますが、よ"
                           "ろしいでしょうか？");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user WHERE user_id = ?", {kOldCard}), "1");

    answer({Answer::Yes, Answer::Yes});
    button("1003")->click();
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user WHERE user_id = ?", {kOldCard}), "0");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_mail WHERE user_id = ?", {kOldCard}), "0");
    EXPECT_EQ(
        query("SELECT user_name, group_id, order_id FROM t_user WHERE user_id = ?", {kNewCard}),
        (Rows{{"山田", "1", "2"}}));
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_mail WHERE user_id = ?", {kNewCard}), "2");
    EXPECT_EQ(dlg.baseTimerId(), 0);
}

TEST_F(CUpdUserDlgTest, RefusalsAndBackKeepTheUser) {
    edit("1005")->clear();
    button("1003")->click();
    EXPECT_EQ(lastShown(), "ユーザ氏名が入力されていません。");
    edit("1005")->setText(qs("山田"));
    edit("1010")->setText(qs("yamada at example.jp"));
    button("1003")->click();
    EXPECT_EQ(lastShown(), "メールアドレスに空白や改行が含まれているか、@がありません");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_mail WHERE user_id = ?", {kOldCard}), "2");

    button("1023")->click();
    EXPECT_EQ(dlg.result(), -6);
}
