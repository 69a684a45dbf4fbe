#include "AdminScreenTest.h"

#include "admin/CUpdGroupDlg.h"

#include <QLineEdit>
#include <QPushButton>

using Answer = CMessageBox::Answer;

class CUpdGroupDlgTest : public AdminScreenTest {};

TEST_F(CUpdGroupDlgTest, RenamesTheGroupAndKeepsItsOrder) {
    const std::string group = addGroup("営業");
    query("UPDATE t_group SET order_id = 7 WHERE group_id = ?", {group});
    CUpdGroupDlg dlg;
    dlg.setGroupId(CString(group));
    dlg.show();
    EXPECT_EQ(control<QLineEdit>(&dlg, "1014")->text(), qs("営業"));
    EXPECT_TRUE(control<QLineEdit>(&dlg, "1014")->isReadOnly());
    EXPECT_EQ(control<QLineEdit>(&dlg, "1007")->text(), qs("営業"));

    control<QLineEdit>(&dlg, "1007")->setText(qs("営業部"));
    answer({Answer::Yes});
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{"この情報に変更しますか？", "変更しました。"}));
    EXPECT_EQ(query("SELECT group_name, order_id FROM t_group WHERE group_id = ?", {group}),
              (Rows{{"営業部", "7"}}));
    EXPECT_EQ(dlg.baseTimerId(), 0);
}

TEST_F(CUpdGroupDlgTest, AnEmptyNameOrNoChangesNothing) {
    const std::string group = addGroup("営業");
    CUpdGroupDlg dlg;
    dlg.setGroupId(CString(group));
    dlg.show();
    control<QLineEdit>(&dlg, "1007")->clear();
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(lastShown(), "グループ名が入力されていません。");
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "グループ変更");

    control<QLineEdit>(&dlg, "1007")->setText(qs("総務"));
    answer({Answer::No});
    control<QPushButton>(&dlg, "1003")->click();
    EXPECT_EQ(value("SELECT group_name FROM t_group WHERE group_id = ?", {group}), "営業");
    EXPECT_TRUE(dlg.isScreenTimerActive(100));
}

TEST_F(CUpdGroupDlgTest, BackAndEscapeReturnToTheGroupSelection) {
    CUpdGroupDlg back;
    back.setGroupId(CString("2"));
    back.show();
    control<QPushButton>(&back, "1023")->click();
    EXPECT_EQ(back.result(), -10);

    CUpdGroupDlg escape;
    escape.setGroupId(CString("2"));
    escape.show();
    pressKey(&escape, Qt::Key_Escape);
    EXPECT_EQ(escape.result(), -10);
}
