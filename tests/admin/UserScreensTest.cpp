// The user registration and change screens share their form: the card field,
// the name, the group and the address list; the first administrator's
// registration reads the card and checks the address as they do.
#include "AdminSteps.h"

#include "admin/CAddUserDlg.h"
#include "admin/CChkAdminDlg.h"
#include "admin/CUpdUserDlg.h"
#include "admin/CUserForm.h"
#include "data/CDbAccess.h"

#include <QPlainTextEdit>

using namespace adminsteps;
using testsupport::Rows;

namespace {

using UserScreensTest = testsupport::ScreenTest;

// The change screen has the same form part.
TEST_F(UserScreensTest, TheAddressListIsSortedWithoutRegardToCase) {
    CAddUserDlg registration;
    QDialog* dlg = &registration;
    dlg->show();
    perform(dlg, {"addAddressButton", "deleteAddressButton", "replaceAddressButton",
                  "addressEdit=x@example.jp", "replaceAddressButton"});
    EXPECT_EQ(shown(), "メールアドレスが入力されていません | メールアドレスが選択されていません | "
                       "メールアドレスが入力されていません | メールアドレスが選択されていません");
    // Anything that could not be delivered, or would end an SMTP command.
    for (const char* bad : {"", "example.jp", "a b@example.jp", "a@example.jp\r\nRCPT",
                            "a\t@example.jp", "a\x7f@example.jp", "全角　空白@example.jp"}) {
        perform(dlg, {std::string("addressEdit=") + bad, "addAddressButton"});
        EXPECT_EQ(lastShown(), *bad ? kBadAddress : "メールアドレスが入力されていません");
    }
    for (const char* good : {"b@example.jp", "C@example.jp", "山田+desk@example.co.jp",
                             "a@example.jp", "B@EXAMPLE.JP"})
        perform(dlg, {std::string("addressEdit=") + good, "addAddressButton"});
    EXPECT_EQ(lastShown(), "同じメールアドレスが追加されています");
    EXPECT_EQ(caption(), "ユーザ登録");
    // Selecting copies into the edit; "更新" replaces without the duplicate
    // test but with the address check; "削除" empties the edit.
    control<QListWidget>(dlg, "addressList")->item(1)->setSelected(true);
    EXPECT_EQ(text(dlg, "addressEdit"), "b@example.jp");
    perform(dlg, {"addressEdit=bad address@example.jp", "replaceAddressButton",
                  "addressEdit=B@example.jp", "replaceAddressButton"});
    EXPECT_EQ(listed(dlg, "addressList"),
              "a@example.jp, B@example.jp, C@example.jp, 山田+desk@example.co.jp");
    control<QListWidget>(dlg, "addressList")->item(0)->setSelected(true);
    click(dlg, "deleteAddressButton");
    EXPECT_EQ(listed(dlg, "addressList").substr(0, 12) + text(dlg, "addressEdit"), "B@example.jp");
    perform(dlg, {"addressEdit=0@example.jp", "enter"}); // Enter there adds it
    EXPECT_EQ(listed(dlg, "addressList").substr(0, 12), "0@example.jp");
}

// A card opens the administrator menu only for a group chosen on purpose.
TEST_F(UserScreensTest, TheAdministratorsGroupIsNeverChosenUnasked) {
    CAddUserDlg dlg;
    dlg.show();
    auto* groups = control<QComboBox>(&dlg, "groupCombo");
    EXPECT_EQ(groups->currentText(), qs("一般")); // the first after the administrators'
    perform(&dlg, {"no", "groupCombo=管理者"});
    EXPECT_EQ(groups->currentText().toStdString() + shown(),
              std::string("一般") + CUserForm::kAdminChosen);
    present(app, dlg, kCard);
    perform(&dlg, {"yes", "groupCombo=管理者", "nameEdit=副管理", "yes", "registerButton"});
    // Stored in that group, which is not kept for the next card.
    EXPECT_EQ(data.value("SELECT group_id FROM t_user") + groups->currentText().toStdString(),
              "1一般");
}

// The class is added in the group sub-screen and chosen afterwards; the
// second pupil's card was handed on: its former holder and addresses go.
TEST_F(UserScreensTest, PupilsAreRegisteredOneAfterAnotherAndAKnownCardOnlyWhenConfirmed) {
    data.addUser(kOther, "旧名", "1", {"old@example.jp"});
    data.query("UPDATE t_user SET order_id = 41");
    CAddUserDlg dlg;
    dlg.show();
    bool endDisabledAndBound = false;
    testsupport::whenShown([&] {
        QDialog* sub = testsupport::topModal<QDialog>();
        endDisabledAndBound =
            !control<QPushButton>(sub, "endButton")->isEnabled() && app.boundScreen() == sub;
        perform(sub, {"groupNameEdit=1年1組", "yes", "registerButton", "backButton"});
    });
    click(&dlg, "addGroupButton");
    EXPECT_TRUE(endDisabledAndBound);
    EXPECT_EQ(app.boundScreen(), &dlg);
    const std::string groupId = data.value("SELECT MAX(group_id) FROM t_group");
    for (const char* card : {kCard, kOther}) {
        present(app, dlg, card);
        EXPECT_EQ(text(&dlg, "cardIdEdit"), card);
        // The typed address is stored too.
        perform(&dlg,
                {std::string("nameEdit=") + (card + 15), "addressEdit=same@example.jp",
                 "addAddressButton", "addressEdit=" + std::string(card) + "@example.jp", "yes"});
        perform(&dlg, {card == kOther ? "yes" : "", "registerButton"}); // overwrite it

        ASSERT_EQ(lastShown(), "登録しました。");
        EXPECT_EQ(caption(), "NVKぽすとん");
        // Ready for the next pupil: same group, nothing of this one left, and
        // the card just registered is not read again until it is lifted.
        EXPECT_EQ(control<QComboBox>(&dlg, "groupCombo")->currentText(), qs("1年1組"));
        EXPECT_EQ(text(&dlg, "nameEdit") + text(&dlg, "addressEdit") + listed(&dlg, "addressList"),
                  "");
        present(app, dlg, card);
        EXPECT_EQ(text(&dlg, "cardIdEdit"), kPutCard);
        present(app, dlg, nullptr);
    }
    EXPECT_EQ(data.query("SELECT user_id, user_name, mail, group_id, order_id FROM t_user ORDER BY "
                         "order_id"),
              (Rows{{kCard, "F", std::string(kCard) + "@example.jp", groupId, "42"},
                    {kOther, "1", std::string(kOther) + "@example.jp", groupId, "43"}}));
    EXPECT_EQ(data.query("SELECT mail FROM t_mail WHERE user_id = ? ORDER BY mail", {kOther}),
              (Rows{{std::string(kOther) + "@example.jp"}, {"same@example.jp"}}));
}

TEST_F(UserScreensTest, AChangeShowsTheOldDataAndKeepsTheUsersPlaceWithANewCardOrNone) {
    data.addUser(kOther, "佐藤", "2", {"sato@example.jp"});
    data.addUser(kCard, "山田", "2", {"b@example.jp", "A@example.jp"});
    CUpdUserDlg dlg;
    dlg.setUserId(CString(kCard));
    dlg.show();
    EXPECT_EQ(text(&dlg, "oldCardIdEdit") + text(&dlg, "oldNameEdit") + text(&dlg, "oldGroupEdit"),
              std::string(kCard) + "山田一般");
    EXPECT_TRUE(control<QPlainTextEdit>(&dlg, "oldAddressesEdit")->toPlainText().contains("b@"));
    EXPECT_EQ(text(&dlg, "nameEdit") + text(&dlg, "cardIdEdit"), "山田");
    EXPECT_EQ(listed(&dlg, "addressList"), "A@example.jp, b@example.jp");
    present(app, dlg, kNewCard);
    perform(&dlg, {"yes", "yes", "registerButton"});
    EXPECT_EQ(shown() + caption(), std::string("この情報に変更しますか？ | ") +
                                       CUpdUserDlg::kCardChanged + " | 変更しました。NVKぽすとん");
    EXPECT_EQ(text(&dlg, "oldCardIdEdit"), kNewCard);
    // A further change starts from what is stored: no card question.
    present(app, dlg, nullptr);
    perform(&dlg, {"nameEdit=山田 花子", "addressList=b@example.jp", "deleteAddressButton", "yes",
                   "registerButton"});
    EXPECT_EQ(CMessageBox::shown().size(), 5u);
    EXPECT_EQ(data.text("SELECT user_name, order_id, t_mail.mail FROM t_user JOIN t_mail "
                        "USING (user_id) ORDER BY order_id"),
              "佐藤 1 sato@example.jp;山田 花子 2 A@example.jp;");
    EXPECT_EQ(data.value("SELECT user_id FROM t_user WHERE order_id = 2"), kNewCard);
}

// The registration runs before every screen while no administrator exists.
class FirstAdministratorTest : public testsupport::ScreenTest {
protected:
    // Once the card field shows the reader's card, performs steps; then
    // leaves the registration by "終了" if it is still open.
    ScreenCode check(const char* card, const Steps& steps) {
        app.setCard(card == nullptr ? CardPoll::noCard() : CardPoll::card(CString(card)));
        CMessageBox::resetForTesting();
        CMessageBox::setScripted(true);
        testsupport::whenShown([=] {
            auto* dlg = testsupport::topModal<CChkAdminDlg>();
            EXPECT_TRUE(testsupport::waitProcessingEvents(
                [&] { return text(dlg, "cardIdEdit") == (card == nullptr ? kPutCard : card); }));
            perform(dlg, steps);
            EXPECT_EQ(dlg->isTimerActive(), dlg->isVisible());
            if (dlg->isVisible())
                click(dlg, "endButton");
        });
        CDbAccess db;
        return CChkAdminDlg::startCheck(db, ScreenCode::UserDeletion);
    }
    std::string users() {
        return data.text("SELECT user_id, user_name, mail, group_id, order_id FROM t_user "
                         "ORDER BY order_id DESC");
    }
};

TEST_F(FirstAdministratorTest, RefusalsLeaveTheProgramAndStoreNothing) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {nullptr, "管理", "yes", kPutCard},
        {kCard, "", "yes", "ユーザ氏名が入力されていません。"},
        {kCard, "管理", "addressEdit=a@example.jp\r\nRCPT TO:<x@example.jp>", kBadAddress},
        {kCard, "管理", "no", CChkAdminDlg::kConfirm},
    };
    for (const auto& [card, name, step, message] : cases) {
        EXPECT_EQ(check(card, {std::string("nameEdit=") + name, step, "enter"}), ScreenCode::Leave);
        EXPECT_EQ(lastShown(), message);
    }
    EXPECT_EQ(check(kCard, {}), ScreenCode::Leave);
    EXPECT_EQ(users(), "");
}

TEST_F(FirstAdministratorTest, RegistersTheCardInTheAdministratorsGroupOverAKnownUserIfConfirmed) {
    data.addUser(kCard, "山田", "2", {"yamada@example.jp"});
    data.addUser(kOther, "佐藤");
    data.query("UPDATE t_user SET order_id = 9 WHERE user_id = ?", {kOther});
    EXPECT_EQ(check(kCard, {"nameEdit=管理 花子", "yes", "no", "registerButton"}),
              ScreenCode::Leave);
    EXPECT_EQ(lastShown(), CChkAdminDlg::kOverwrite);
    EXPECT_EQ(check(kCard, {"nameEdit=管理 花子", "addressEdit=hanako@example.jp", "yes", "yes",
                            "registerButton"}),
              ScreenCode::AdminMenu);
    EXPECT_EQ(users(),
              std::string(kCard) + " 管理 花子 hanako@example.jp 1 10;" + kOther + " 佐藤  2 9;");
    EXPECT_EQ(data.text("SELECT mail FROM t_mail WHERE user_id = ?", {kCard}),
              "hanako@example.jp;");
    EXPECT_EQ(shown() + caption(), std::string(CChkAdminDlg::kConfirm) + " | " +
                                       CChkAdminDlg::kOverwrite + " | " +
                                       CChkAdminDlg::kRegistered + "NVKぽすとん");
    // With an administrator the code goes through; one moved out of the
    // group brings the registration back.
    CDbAccess db;
    EXPECT_EQ(CChkAdminDlg::startCheck(db, ScreenCode::UserDeletion), ScreenCode::UserDeletion);
    data.query("UPDATE t_user SET group_id = 2");
    EXPECT_EQ(check(nullptr, {}), ScreenCode::Leave);
}

} // namespace
