// The group screens, and the deletion and selection screens that share
// their list.
#include "AdminSteps.h"

#include "admin/CAdminScreens.h"
#include "admin/CDelGroupDlg.h"
#include "admin/CDelUserDlg.h"
#include "screens/CScreenTable.h"

using namespace adminsteps;
using testsupport::Rows;

namespace {

using ListScreensTest = testsupport::ScreenTest;

TEST_F(ListScreensTest, GroupDeletionAsksForEachAndTwiceForAGroupWithUsers) {
    const std::string sales = data.addGroup("営業");
    data.addGroup("保護者", true);
    data.addUser(kCard, "山田", sales, {"yamada@example.jp"});
    data.addUser(kOther, "佐藤", data.addGroup("教員"), {"sato@example.jp"});
    data.addVisit(kCard, "20261201080000000");
    CDelGroupDlg dlg;
    dlg.show();
    EXPECT_EQ(listed(&dlg, "groupList"), "一般, 営業, 教員");
    perform(&dlg, {"groupList=営業", "groupList=教員", "yes", "yes", "yes", "no", "deleteButton"});
    // Each is asked; a group with users twice, and one message at the end.
    EXPECT_EQ(CMessageBox::shown().size(), 5u);
    EXPECT_EQ(CMessageBox::shown()[1].text.str(),
              "グループ [営業]に登録しているユーザも削除されます。\nよろしいですか？");
    EXPECT_EQ(lastShown(), "削除しました");
    EXPECT_EQ(listed(&dlg, "groupList"), "一般, 教員");
    EXPECT_TRUE(control<QListWidget>(&dlg, "groupList")->selectedItems().isEmpty());
    // The group takes its users and their addresses; the visit stays.
    EXPECT_EQ(data.query("SELECT user_id, mail FROM t_mail"), (Rows{{kOther, "sato@example.jp"}}));
    EXPECT_EQ(data.value("SELECT COUNT(*) FROM t_user WHERE user_id = ?", {kCard}), "0");
    EXPECT_EQ(data.visits().size(), 1u);
}

TEST_F(ListScreensTest, UserDeletionFollowsTheGroupAndDeletesTheConfirmedOnly) {
    data.addUser("A000000000000000", "管理", "1");
    for (const char* name : {"青木", "井上", "上田"})
        data.addUser(std::string("A00000000000000") + name, name, "2",
                     {std::string(name) + "@example.jp"});
    data.addVisit("A00000000000000青木", "20261206090000000");
    CDelUserDlg dlg;
    dlg.show();
    EXPECT_EQ(listed(&dlg, "userList"), "管理");
    perform(&dlg, {"groupCombo=一般"});
    EXPECT_EQ(listed(&dlg, "userList"), "青木, 井上, 上田");
    perform(&dlg, {"userList=青木", "userList=井上", "userList=上田", "yes", "no", "yes",
                   "deleteButton"});
    EXPECT_EQ(shown().substr(shown().rfind("ユーザ [上田]")),
              "ユーザ [上田]さんを削除してよいですか？ | 削除しました");
    EXPECT_EQ(listed(&dlg, "userList"), "井上");
    EXPECT_EQ(data.query("SELECT mail FROM t_mail"), (Rows{{"井上@example.jp"}}));
    EXPECT_EQ(data.visits().size(), 1u);
}

// Through the screen loop's table, as the administrator goes from the menu:
// the selection screens hand their choice to the change screens.
TEST_F(ListScreensTest, TheChosenGroupOrUserReachesItsChangeScreen) {
    data.addUser(kCard, "青木", data.addGroup("教員"));
    // A group with a deletion mark may be changed.
    const std::string parents = data.addGroup("保護者", true);
    CScreenTable table;
    registerAdminScreens(table);
    CString key;
    using S = ScreenCode;
    const struct {
        ScreenCode code;
        Steps steps;
        const char *field, *shows;
        ScreenCode result;
    } screens[] = {
        // clang-format off
        // A double click on an entry chooses it, as the button does.
        {S::GroupSelection, {"selectButton", "groupList=保護者", "groupList"}, nullptr, "", S::GroupChange},
        {S::GroupChange, {"backButton"}, "groupNameEdit", "保護者", S::GroupSelection},
        {S::UserSelection, {"groupCombo=教員", "selectButton", "userList=青木", "userList"}, nullptr, "",
         S::UserChange},
        {S::UserChange, {"backButton"}, "oldCardIdEdit", kCard, S::UserSelection},
        // clang-format on
    };
    for (const auto& s : screens) {
        testsupport::whenShown([&s] {
            QDialog* screen = testsupport::topModal<QDialog>();
            EXPECT_EQ(s.field == nullptr ? "" : text(screen, s.field), s.shows);
            perform(screen, s.steps);
            screen->done(screen->isVisible() ? 0 : screen->result()); // never left waiting
        });
        EXPECT_EQ(table.show(s.code, key), resultOf(s.result));
        EXPECT_TRUE(s.code != ScreenCode::GroupSelection || key.str() == parents);
    }
    EXPECT_EQ(key.str(), kCard);
    EXPECT_EQ(shown() + caption(), "選択されていません。 | 選択されていません。ユーザ選択");
}

} // namespace
