#include "AdminScreenTest.h"

#include "admin/CSelGroupDlg.h"

#include <QListWidget>
#include <QPushButton>

class CSelGroupDlgTest : public AdminScreenTest {};

TEST_F(CSelGroupDlgTest, ListsEveryGroupAndHandsTheChosenIdOver) {
    addGroup("保護者", true);
    const std::string staff = addGroup("教員");
    CSelGroupDlg dlg;
    dlg.show();
    auto* list = control<QListWidget>(&dlg, "1008");
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), qs("管理者"));
    EXPECT_EQ(list->item(2)->text(), qs("保護者"));

    control<QPushButton>(&dlg, "1009")->click();
    EXPECT_EQ(lastShown(), "選択されていません。");
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "グループ選択");
    EXPECT_TRUE(dlg.isVisible());

    list->item(3)->setSelected(true);
    control<QPushButton>(&dlg, "1009")->click();
    EXPECT_EQ(dlg.result(), -11);
    EXPECT_EQ(dlg.selectedGroupId().str(), staff);
}

TEST_F(CSelGroupDlgTest, BackAndEscapeReturnToTheMenu) {
    CSelGroupDlg back;
    back.show();
    control<QPushButton>(&back, "1023")->click();
    EXPECT_EQ(back.result(), -3);
    EXPECT_TRUE(back.selectedGroupId().IsEmpty());

    CSelGroupDlg escape;
    escape.show();
    pressKey(&escape, Qt::Key_Escape);
    EXPECT_EQ(escape.result(), -3);
}
