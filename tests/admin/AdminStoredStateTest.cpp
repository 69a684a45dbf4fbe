// What the administration screens leave in the data file: only the user's
// own addresses, everything of an action or nothing, and a success message
// only for what was stored.
#include "AdminScreenTest.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CAddUserDlg.h"
#include "admin/CChkAdminDlg.h"
#include "admin/CDefSetDlg.h"
#include "admin/CDelGroupDlg.h"
#include "admin/CDelUserDlg.h"
#include "admin/CKidoSetDlg.h"
#include "admin/CUpdGroupDlg.h"
#include "admin/CUpdUserDlg.h"
#include "admin/StoreTogether.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>

#include <functional>

using Answer = CMessageBox::Answer;

namespace {

constexpr const char* kCard = "0123456789ABCDEF";
constexpr const char* kOther = "1111111111111111";
constexpr const char* kNewCard = "FEDCBA9876543210";

void click(QWidget* screen, const char* id) {
    control<QPushButton>(screen, id)->click();
}
void type(QWidget* screen, const char* id, const char* text) {
    control<QLineEdit>(screen, id)->setText(qs(text));
}
void addAddress(QWidget* screen, const char* addButton, const char* text) {
    type(screen, "1010", text);
    click(screen, addButton);
}
void present(FakeApplication& app, CBaseDialog& screen, const char* card) {
    app.card = CString(card);
    screen.OnTimer(100);
}

} // namespace

class AdminStoredStateTest : public AdminScreenTest {};

TEST_F(AdminStoredStateTest, ACardHandedOnAfterItsGroupWasDeletedMailsOnlyTheNewFamily) {
    const std::string group = addGroup("卒業生");
    addUser(kCard, "前の生徒", group, {"former@example.jp"});
    query("INSERT INTO t_login (user_id, login_date, ret_send) VALUES (?, '20261201080000000', "
          "'1')",
          {kCard});
    {
        CDelGroupDlg deletion;
        deletion.show();
        auto* list = control<QListWidget>(&deletion, "1008");
        list->findItems(qs("卒業生"), Qt::MatchExactly).front()->setSelected(true);
        answer({Answer::Yes, Answer::Yes});
        click(&deletion, "1011");
        EXPECT_EQ(lastShown(), "削除しました");
    }
    // The visit stays, and so does what it was already due to send.
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_login WHERE user_id = ?", {kCard}), "1");

    CAddUserDlg registration;
    registration.show();
    present(app, registration, kCard);
    type(&registration, "1005", "新しい生徒");
    addAddress(&registration, "1017", "new@example.jp");
    answer({Answer::Yes});
    click(&registration, "1003");
    EXPECT_EQ(lastShown(), "登録しました。");
    EXPECT_EQ(query("SELECT mail FROM t_mail WHERE user_id = ?", {kCard}),
              (Rows{{"new@example.jp"}}));
}

class UserChangeTest : public AdminStoredStateTest {
protected:
    void SetUp() override {
        addUser(kOther, "佐藤", "2", {"sato@example.jp"});
        addUser(kCard, "山田", "2", {"b@example.jp", "a@example.jp"});
        change.setUserId(CString(kCard));
        change.show();
    }
    CUpdUserDlg change;
};

TEST_F(UserChangeTest, AnotherUsersCardIsRefusedByNameAndChangesNothing) {
    const Rows before = snapshot();
    present(app, change, kOther);
    click(&change, "1003");
    EXPECT_EQ(shownTexts(), std::vector<std::string>{
                                "このカードはすでに [佐藤]さんのカードとして登録されています。"});
    EXPECT_EQ(CMessageBox::shown().back().caption.str(), "ユーザ変更");
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(change.isScreenTimerActive(100));
}

TEST_F(UserChangeTest, ASecondRegisterStartsFromTheStoredState) {
    present(app, change, kNewCard);
    answer({Answer::Yes, Answer::Yes});
    click(&change, "1003");
    ASSERT_EQ(lastShown(), "変更しました。");
    EXPECT_EQ(control<QLineEdit>(&change, "1006")->text(), qs(kNewCard));

    // Remove one address and store again: no card question, the same place
    // in the order, and the removed address is gone.
    auto* list = control<QListWidget>(&change, "1016");
    list->findItems(qs("b@example.jp"), Qt::MatchExactly).front()->setSelected(true);
    click(&change, "1019");
    answer({Answer::Yes});
    click(&change, "1003");
    EXPECT_EQ(shownTexts().back(), "変更しました。");
    EXPECT_EQ(shownTexts().size(), 5u);
    EXPECT_EQ(query("SELECT user_id, order_id FROM t_user ORDER BY order_id"),
              (Rows{{kOther, "1"}, {kNewCard, "2"}}));
    EXPECT_EQ(query("SELECT user_id, mail FROM t_mail ORDER BY user_id, mail"),
              (Rows{{kOther, "sato@example.jp"}, {kNewCard, "a@example.jp"}}));
}

TEST_F(AdminStoredStateTest, ThreeUsersAreRegisteredInARowWithoutLeavingTheScreen) {
    const std::string group = addGroup("1年1組");
    CAddUserDlg registration;
    registration.show();
    auto* groups = control<QComboBox>(&registration, "1000");
    groups->setCurrentIndex(groups->count() - 1);
    struct Pupil {
        const char* card;
        const char* name;
        const char* mail;
    };
    const Pupil pupils[] = {{"A000000000000001", "青木", "aoki@example.jp"},
                            {"A000000000000002", "石井", "ishii@example.jp"},
                            {"A000000000000003", "上田", "ueda@example.jp"}};
    for (const Pupil& pupil : pupils) {
        present(app, registration, pupil.card);
        ASSERT_EQ(control<QLineEdit>(&registration, "1004")->text(), qs(pupil.card));
        type(&registration, "1005", pupil.name);
        addAddress(&registration, "1017", pupil.mail);
        answer({Answer::Yes});
        click(&registration, "1003");
        ASSERT_EQ(lastShown(), "登録しました。") << pupil.name;
        // Ready for the next pupil: same group, nothing of this one left.
        EXPECT_EQ(groups->currentText(), qs("1年1組"));
        EXPECT_TRUE(control<QLineEdit>(&registration, "1005")->text().isEmpty());
        EXPECT_TRUE(control<QLineEdit>(&registration, "1010")->text().isEmpty());
        EXPECT_EQ(control<QListWidget>(&registration, "1016")->count(), 0);
        EXPECT_TRUE(registration.isScreenTimerActive(100));
        // The card just registered is not read again until it is lifted.
        present(app, registration, pupil.card);
        EXPECT_EQ(control<QLineEdit>(&registration, "1004")->text(),
                  qs("カードをFeRiCaにセットしてください。"));
        present(app, registration, "no");
    }
    EXPECT_EQ(query("SELECT u.user_name, m.mail FROM t_user u, t_mail m WHERE u.user_id = "
                    "m.user_id AND u.group_id = ? ORDER BY u.order_id",
                    {group}),
              (Rows{{"青木", "aoki@example.jp"},
                    {"石井", "ishii@example.jp"},
                    {"上田", "ueda@example.jp"}}));
}

TEST_F(AdminStoredStateTest, TheFirstAdministratorsAddressIsCheckedLikeAnyUsers) {
    CChkAdminDlg registration;
    registration.show();
    app.card = CString(kCard);
    auto* cardField = control<QLineEdit>(&registration, "1007");
    QElapsedTimer clock;
    clock.start();
    while (cardField->text() != qs(kCard) && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    type(&registration, "1005", "管理者");
    type(&registration, "1010", "admin@example.jp\r\nRCPT TO:<x@example.jp>");
    click(&registration, "1003");
    EXPECT_EQ(shownTexts(), std::vector<std::string>{
                                "メールアドレスに空白や改行が含まれているか、@がありません"});
    EXPECT_EQ(value("SELECT COUNT(*) FROM t_user"), "0");
}

// Each screen's save on a data file that takes none of it: the failure is
// shown instead of the success message, and nothing of the action remains.
TEST_F(AdminStoredStateTest, ASaveThatCannotBeWrittenIsReportedAndLeavesNothingHalfDone) {
    struct Case {
        const char* screen;
        const char* refusedTable;
        std::function<void(FakeApplication&)> act;
    };
    const std::vector<Case> cases = {
        {"user registration", "t_mail",
         [](FakeApplication& app) {
             CAddUserDlg dlg;
             dlg.show();
             present(app, dlg, kNewCard);
             type(&dlg, "1005", "新人");
             addAddress(&dlg, "1017", "new@example.jp");
             answer({Answer::Yes});
             click(&dlg, "1003");
             EXPECT_TRUE(dlg.isScreenTimerActive(100));
         }},
        {"user change", "t_mail",
         [](FakeApplication& app) {
             CUpdUserDlg dlg;
             dlg.setUserId(CString(kCard));
             dlg.show();
             present(app, dlg, kNewCard);
             answer({Answer::Yes, Answer::Yes});
             click(&dlg, "1003");
         }},
        {"user deletion", "t_mail",
         [](FakeApplication&) {
             CDelUserDlg dlg;
             dlg.show();
             control<QComboBox>(&dlg, "1002")->setCurrentIndex(1);
             ASSERT_EQ(control<QListWidget>(&dlg, "1000")->count(), 1);
             control<QListWidget>(&dlg, "1000")->item(0)->setSelected(true);
             answer({Answer::Yes});
             click(&dlg, "1005");
         }},
        {"group registration", "t_group",
         [](FakeApplication&) {
             CAddGroupDlg dlg;
             dlg.show();
             type(&dlg, "1007", "新しい組");
             answer({Answer::Yes});
             click(&dlg, "1003");
         }},
        {"group change", "t_group",
         [](FakeApplication&) {
             CUpdGroupDlg dlg;
             dlg.setGroupId(CString("2"));
             dlg.show();
             type(&dlg, "1007", "改名");
             answer({Answer::Yes});
             click(&dlg, "1003");
         }},
        {"group deletion", "t_group",
         [](FakeApplication&) {
             CDelGroupDlg dlg;
             dlg.show();
             ASSERT_EQ(control<QListWidget>(&dlg, "1008")->count(), 1);
             control<QListWidget>(&dlg, "1008")->item(0)->setSelected(true);
             answer({Answer::Yes, Answer::Yes});
             click(&dlg, "1011");
         }},
        {"mail settings", "t_def_data",
         [](FakeApplication&) {
             CDefSetDlg dlg;
             dlg.show();
             answer({Answer::Yes}); // no sender address: the defaults
             click(&dlg, "1003");
         }},
        {"operation settings", "t_def_data",
         [](FakeApplication&) {
             CKidoSetDlg dlg;
             dlg.show();
             control<QCheckBox>(&dlg, "1046")->setChecked(true);
             click(&dlg, "1003");
         }},
    };
    addUser(kCard, "山田", "2", {"yamada@example.jp"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen);
        refuseWrites(c.refusedTable);
        CMessageBox::resetForTesting();
        CMessageBox::setScripted(true);
        const Rows before = snapshot();
        c.act(app);
        EXPECT_EQ(lastShown(), kNotStored);
        EXPECT_EQ(snapshot(), before);
        query(std::string("DROP TRIGGER refuse_INSERT_") + c.refusedTable);
        query(std::string("DROP TRIGGER refuse_UPDATE_") + c.refusedTable);
        query(std::string("DROP TRIGGER refuse_DELETE_") + c.refusedTable);
    }
}
