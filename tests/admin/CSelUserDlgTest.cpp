#include "AdminScreenTest.h"

#include "admin/CSelUserDlg.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

class CSelUserDlgTest : public AdminScreenTest {};

TEST_F(CSelUserDlgTest, TheChosenUserIsHandedToTheChangeScreen) {
    addUser("A000000000000001", "青木", "2");
    addUser("A000000000000002", "井上", "2");
    CSelUserDlg dlg;
    dlg.show();
    auto* users = control<QListWidget>(&dlg, "1000");
    EXPECT_EQ(users->count(), 0);
    control<QComboBox>(&dlg, "1002")->setCurrentIndex(1);
    ASSERT_EQ(users->count(), 2);

    control<QPushButton>(&dlg, "1030")->click();
    EXPECT_EQ(lastShown(), "選択されていません。");
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "ユーザ選択");
    EXPECT_TRUE(dlg.isVisible());

    users->item(1)->setSelected(true);
    control<QPushButton>(&dlg, "1030")->click();
    EXPECT_EQ(dlg.result(), -7);
    EXPECT_EQ(dlg.selectedUserId.str(), "A000000000000002");
}

TEST_F(CSelUserDlgTest, BackReturnsToTheMenuWithoutAChoice) {
    CSelUserDlg dlg;
    dlg.show();
    control<QPushButton>(&dlg, "1023")->click();
    EXPECT_EQ(dlg.result(), -3);
    EXPECT_TRUE(dlg.selectedUserId.IsEmpty());
}
