#include "AdminScreenTest.h"

#include "admin/CDelUserDlg.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

using Answer = CMessageBox::Answer;

class CDelUserDlgTest : public AdminScreenTest {};

TEST_F(CDelUserDlgTest, ThreeMarkedUsersAnsweredYesNoYesDeletesTwoAndReportsOnce) {
    addUser("A000000000000001", "青木", "2", {"aoki@example.jp"});
    addUser("A000000000000002", "井上", "2", {"inoue@example.jp"});
    addUser("A000000000000003", "上田", "2", {"ueda@example.jp"});
    query("INSERT INTO t_login (user_id, login_date, ret_send) VALUES ('A000000000000001', "
          "'20261206090000000', '2')");
    CDelUserDlg dlg;
    dlg.show();
    auto* groups = control<QComboBox>(&dlg, "1002");
    groups->setCurrentIndex(1);
    auto* users = control<QListWidget>(&dlg, "1000");
    ASSERT_EQ(users->count(), 3);
    EXPECT_EQ(users->item(0)->text(), qs("青木"));
    for (int row = 0; row < 3; ++row)
        users->item(row)->setSelected(true);
    answer({Answer::Yes, Answer::No, Answer::Yes});
    control<QPushButton>(&dlg, "1005")->click();

    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"ユーザ [青木]さんを削除してよいですか？",
                                                      "ユーザ [井上]さんを削除してよいですか？",
                                                      "ユーザ [上田]さんを削除してよいですか？",
                                                      "削除しました"}));
    EXPECT_EQ(query("SELECT user_id FROM t_user"), (Rows{{"A000000000000002"}}));
    EXPECT_EQ(query("SELECT mail FROM t_mail"), (Rows{{"inoue@example.jp"}}));
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_login"), "1");
    ASSERT_EQ(users->count(), 1);
    EXPECT_TRUE(users->selectedItems().isEmpty());
}

TEST_F(CDelUserDlgTest, TheListFollowsTheGroupAndNothingMarkedIsRefused) {
    addUser("A000000000000001", "管理", "1");
    addUser("A000000000000002", "一般人", "2");
    CDelUserDlg dlg;
    dlg.show();
    auto* users = control<QListWidget>(&dlg, "1000");
    EXPECT_EQ(users->selectionMode(), QAbstractItemView::MultiSelection);
    ASSERT_EQ(users->count(), 1);
    EXPECT_EQ(users->item(0)->text(), qs("管理"));
    control<QComboBox>(&dlg, "1002")->setCurrentIndex(1);
    ASSERT_EQ(users->count(), 1);
    EXPECT_EQ(users->item(0)->text(), qs("一般人"));

    control<QPushButton>(&dlg, "1005")->click();
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"削除するユーザが選択されていません"});
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user"), "2");
}
