#include "AdminScreenTest.h"

#include "admin/CDelGroupDlg.h"

#include <QListWidget>
#include <QPushButton>

using Answer = CMessageBox::Answer;

namespace {

QStringList entries(QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

void mark(QListWidget* list, const QString& text) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->text() == text)
            list->item(row)->setSelected(true);
}

} // namespace

class CDelGroupDlgTest : public AdminScreenTest {};

TEST_F(CDelGroupDlgTest, OffersOnlyGroupsWithoutADeletionMarkInTheirOrder) {
    addGroup("営業");
    addGroup("保護者", true);
    addGroup("教員");
    CDelGroupDlg dlg;
    dlg.show();
    EXPECT_EQ(entries(control<QListWidget>(&dlg, "1008")),
              (QStringList{qs("一般"), qs("営業"), qs("教員")}));
}

TEST_F(CDelGroupDlgTest, AGroupWithUsersAsksTwiceAndNoTheSecondTimeKeepsBoth) {
    const std::string group = addGroup("営業");
    addUser("0123456789ABCDEF", "山田", group, {"yamada@example.jp"});
    CDelGroupDlg dlg;
    dlg.show();
    auto* list = control<QListWidget>(&dlg, "1008");
    mark(list, qs("営業"));
    answer({Answer::Yes, Answer::No});
    control<QPushButton>(&dlg, "1011")->click();

    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{
                  "グループ [営業]を削除してよいですか？",
                  "グループ [営業]に登録しているユーザも削除されます。\nよろしいですか？"}));
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_group WHERE group_id = ?", {group}), "1");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user"), "1");
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST_F(CDelGroupDlgTest, YesTwiceDeletesGroupUsersAndTheirAddresses) {
    const std::string group = addGroup("営業");
    addUser("0123456789ABCDEF", "山田", group, {"yamada@example.jp"});
    CDelGroupDlg dlg;
    dlg.show();
    mark(control<QListWidget>(&dlg, "1008"), qs("営業"));
    answer({Answer::Yes, Answer::Yes});
    control<QPushButton>(&dlg, "1011")->click();

    EXPECT_EQ(lastShown(), "削除しました");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_group WHERE group_id = ?", {group}), "0");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user"), "0");
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_mail"), "0");
    EXPECT_EQ(entries(control<QListWidget>(&dlg, "1008")), QStringList{qs("一般")});
}

TEST_F(CDelGroupDlgTest, ThreeEmptyGroupsConfirmedAskOnceEachAndReportOnce) {
    addGroup("A");
    addGroup("B");
    addGroup("C");
    CDelGroupDlg dlg;
    dlg.show();
    auto* list = control<QListWidget>(&dlg, "1008");
    for (const char* name : {"A", "B", "C"})
        mark(list, qs(name));
    answer({Answer::Yes, Answer::Yes, Answer::Yes});
    control<QPushButton>(&dlg, "1011")->click();

    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{"グループ [A]を削除してよいですか？",
                                        "グループ [B]を削除してよいですか？",
                                        "グループ [C]を削除してよいですか？", "削除しました"}));
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_group"), "2");
}

TEST_F(CDelGroupDlgTest, NothingMarkedOrEverythingRefusedReportsNoDeletion) {
    addGroup("A");
    CDelGroupDlg dlg;
    dlg.show();
    control<QPushButton>(&dlg, "1011")->click();
    EXPECT_EQ(lastShown(), "削除するグループが選択されていません");

    CMessageBox::resetForTesting();
    CMessageBox::setScripted(true);
    mark(control<QListWidget>(&dlg, "1008"), qs("A"));
    answer({Answer::No});
    control<QPushButton>(&dlg, "1011")->click();
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"グループ [A]を削除してよいですか？"});
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_group"), "3");
}
