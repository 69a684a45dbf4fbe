#include "AdminScreenTest.h"

#include "admin/CAddGroupDlg.h"

#include <QLineEdit>
#include <QPushButton>

using Answer = CMessageBox::Answer;

class CAddGroupDlgTest : public AdminScreenTest {};

TEST_F(CAddGroupDlgTest, RegistersAfterTheOrderOfTheLastGroupAndStaysOpenWithPollingPaused) {
    CAddGroupDlg dlg;
    dlg.show();
    control<QLineEdit>(&dlg, "1007")->setText(qs("営業部"));
    answer({Answer::Yes});
    control<QPushButton>(&dlg, "1003")->click();

    EXPECT_EQ(value("SELECT order_id FROM t_group WHERE group_name = '営業部'"), "3");
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"この情報をグループとして登録しますか？",
                                                      "登録しました。"}));
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "グループ登録");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(control<QLineEdit>(&dlg, "1007")->text(), qs("営業部"));
    EXPECT_EQ(dlg.baseTimerId(), 0);
}

TEST_F(CAddGroupDlgTest, RefusalsWriteNothingAndRestartTheTimers) {
    CAddGroupDlg dlg;
    dlg.show();
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(lastShown(), "グループ名が入力されていません。");
    EXPECT_NE(dlg.baseTimerId(), 0);
    EXPECT_TRUE(dlg.isScreenTimerActive(100));

    control<QLineEdit>(&dlg, "1007")->setText(qs("一般"));
    answer({Answer::Yes});
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(lastShown(), "このグループはすでに存在しています。");

    control<QLineEdit>(&dlg, "1007")->setText(qs("新しい班"));
    answer({Answer::No});
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_group"), "2");
    EXPECT_TRUE(dlg.isScreenTimerActive(100));
}

TEST_F(CAddGroupDlgTest, AsASubScreenExitIsDisabledAndBackOrEscapeReturnToTheMenu) {
    CAddGroupDlg sub(true);
    sub.show();
    EXPECT_FALSE(control<QPushButton>(&sub, "1022")->isEnabled());
    control<QPushButton>(&sub, "1023")->click();
    EXPECT_EQ(sub.result(), -3);

    CAddGroupDlg menu;
    menu.show();
    EXPECT_TRUE(control<QPushButton>(&menu, "1022")->isEnabled());
    pressKey(&menu, Qt::Key_Escape);
    EXPECT_EQ(menu.result(), -3);

    CAddGroupDlg ending;
    ending.show();
    control<QPushButton>(&ending, "1022")->click();
    EXPECT_EQ(ending.result(), -1);
}
