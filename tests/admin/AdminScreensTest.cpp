// What every administration screen has in common: the screen loop's codes it
// ends with, and that an action is stored whole or not at all, its success
// shown only once stored.
#include "AdminSteps.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CAddUserDlg.h"
#include "admin/CAdminMenuDlg.h"
#include "admin/CAdminScreens.h"
#include "admin/CChkAdmin2Dlg.h"
#include "admin/CDefSetDlg.h"
#include "admin/CDelGroupDlg.h"
#include "admin/CDelUserDlg.h"
#include "admin/CKidoSetDlg.h"
#include "admin/CMailErrorDlg.h"
#include "admin/CSelGroupDlg.h"
#include "admin/CSelUserDlg.h"
#include "admin/CUpdGroupDlg.h"
#include "admin/CUpdUserDlg.h"
#include "admin/CUserForm.h"
#include "admin/NameCheck.h"
#include "admin/StoreTogether.h"
#include "screens/CPostonDlg.h"
#include "screens/CScreenTable.h"

#include <QLabel>

#include <functional>

using namespace adminsteps;

namespace {

using Make = std::function<std::unique_ptr<CBaseDialog>()>;

template <class Screen> std::unique_ptr<CBaseDialog> make() {
    return std::make_unique<Screen>();
}
std::unique_ptr<CBaseDialog> changeGroup() {
    auto screen = std::make_unique<CUpdGroupDlg>();
    screen->setGroupId(CString("2"));
    return screen;
}
std::unique_ptr<CBaseDialog> changeUser() {
    auto screen = std::make_unique<CUpdUserDlg>();
    screen->setUserId(CString(kCard));
    return screen;
}

using AdminScreensTest = testsupport::ScreenTest;

TEST_F(AdminScreensTest, EveryScreenIsLeftForTheScreenItsButtonsAndKeysName) {
    // How: a button's role, "escape" or "close" (the close box).
    using S = ScreenCode;
    const int cancelled = CChkAdmin2Dlg::kResultCancelled;
    // clang-format off
    const std::tuple<Make, const char*, int> cases[] = {
        // The change screens' back buttons are taken in the selection flow.
        {make<CAddUserDlg>, "escape", resultOf(S::AdminMenu)}, {make<CAddUserDlg>, "endButton", resultOf(S::UserConfirmation)},
        {changeUser, "escape", resultOf(S::UserSelection)}, {changeGroup, "escape", resultOf(S::GroupSelection)},
        {make<CDelUserDlg>, "backButton", resultOf(S::AdminMenu)}, {make<CSelUserDlg>, "backButton", resultOf(S::AdminMenu)},
        {make<CAddGroupDlg>, "escape", resultOf(S::AdminMenu)}, {make<CDelGroupDlg>, "backButton", resultOf(S::AdminMenu)},
        {make<CSelGroupDlg>, "escape", resultOf(S::AdminMenu)}, {make<CDefSetDlg>, "escape", resultOf(S::AdminMenu)},
        {make<CKidoSetDlg>, "backButton", resultOf(S::AdminMenu)}, {make<CMailErrorDlg>, "close", resultOf(S::AdminMenu)},
        // The menu: each button names its screen; leaving it goes back to the user confirmation.
        {make<CAdminMenuDlg>, "addGroupButton", resultOf(S::GroupRegistration)},
        {make<CAdminMenuDlg>, "deleteGroupButton", resultOf(S::GroupDeletion)},
        {make<CAdminMenuDlg>, "changeGroupButton", resultOf(S::GroupSelection)},
        {make<CAdminMenuDlg>, "addUserButton", resultOf(S::UserRegistration)},
        {make<CAdminMenuDlg>, "deleteUserButton", resultOf(S::UserDeletion)},
        {make<CAdminMenuDlg>, "changeUserButton", resultOf(S::UserSelection)},
        {make<CAdminMenuDlg>, "mailSettingsButton", resultOf(S::MailSettings)},
        {make<CAdminMenuDlg>, "operationSettingsButton", resultOf(S::OperationSettings)},
        {make<CAdminMenuDlg>, "mailErrorsButton", resultOf(S::MailErrors)},
        {make<CAdminMenuDlg>, "endButton", resultOf(S::UserConfirmation)},
        {make<CAdminMenuDlg>, "backButton", resultOf(S::UserConfirmation)},
        {make<CAdminMenuDlg>, "escape", resultOf(S::UserConfirmation)},
        // The administrator card check is only given up.
        {make<CChkAdmin2Dlg>, "endButton", cancelled}, {make<CChkAdmin2Dlg>, "backButton", cancelled},
        {make<CChkAdmin2Dlg>, "escape", cancelled}};
    // clang-format on
    data.addUser(kCard, "山田");
    for (const auto& [makeScreen, how, result] : cases) {
        const std::unique_ptr<CBaseDialog> screen = makeScreen();
        SCOPED_TRACE(screen->objectName().toStdString() + " " + how);
        EXPECT_EQ(screen->objectName().toStdString().substr(0, 1), "C"); // its class name
        screen->show();
        if (std::string(how) == "escape")
            testsupport::pressKey(screen.get(), Qt::Key_Escape);
        else if (std::string(how) == "close")
            screen->close();
        else
            click(screen.get(), how);
        EXPECT_EQ(screen->result(), result);
    }
}

TEST_F(AdminScreensTest, TheCardCheckLetsOnlyAnAdministratorThroughAndHoldsTheSendThreadMeanwhile) {
    data.addUser("00000000000000AD", "管理", "1");
    data.addUser(kOther, "来客");
    CChkAdmin2Dlg check;
    check.show();
    EXPECT_EQ(app.boundScreen(), &check);
    for (const auto& [poll, message] :
         {std::pair{CardPoll::card(CString(kOther)), CChkAdmin2Dlg::kNotAdministrator},
          {CardPoll::card(CString(kCard)), CChkAdmin2Dlg::kNotAdministrator},
          {CardPoll::noCard(), CChkAdmin2Dlg::kPrompt},
          {CardPoll::readerError(), userform::kReaderError}}) {
        present(app, check, poll);
        EXPECT_EQ(control<QLabel>(&check, "messageLabel")->text(), qs(message));
    }
    present(app, check, "00000000000000AD");
    EXPECT_EQ(check.result(), CChkAdmin2Dlg::kResultAdministrator);
    EXPECT_EQ(app.boundScreen(), nullptr);
    // After a cancelled check the first screen has the send thread again.
    CScreenTable table;
    registerAdminScreens(table);
    CPostonDlg first;
    first.show();
    testsupport::whenShown(
        [] { testsupport::pressKey(testsupport::topModal<QDialog>(), Qt::Key_Escape); });
    first.OnSettings();
    EXPECT_EQ(app.boundScreen(), &first);
    CPostonDlg::setAdminCheck(nullptr);
}

// An action that cannot go ahead, or whose writes the data file refuses,
// says why (never that it succeeded) and leaves the data file as it was; the
// screen stays open, reading the card again where the next try needs one.
struct Refusal {
    const char* name;
    Make make;
    CardPoll poll;
    const char* refusedTable; // made unwritable, if any
    Steps steps;
    const char* message;
    friend void PrintTo(const Refusal& one, std::ostream* out) { *out << one.name; }
};

class RefusalTest : public testsupport::ScreenTest, public ::testing::WithParamInterface<Refusal> {
protected:
    void SetUp() override {
        data.addUser(kCard, "山田", "2", {"yamada@example.jp"});
        data.addUser(kOther, "佐藤", "2", {"sato@example.jp"});
        storeMailSettings(data);
    }
};

TEST_P(RefusalTest, AnActionThatCannotGoAheadSaysWhyAndChangesNothing) {
    if (GetParam().refusedTable != nullptr)
        data.refuseWrites(GetParam().refusedTable);
    const testsupport::Rows before = data.snapshot();
    const auto settings = data.query("SELECT * FROM t_def_data ORDER BY column_name");
    const std::unique_ptr<CBaseDialog> dlg = GetParam().make();
    dlg->show();
    present(app, *dlg, GetParam().poll);
    perform(dlg.get(), GetParam().steps);
    EXPECT_EQ(lastShown(), GetParam().message);
    EXPECT_EQ(data.snapshot(), before);
    EXPECT_EQ(data.query("SELECT * FROM t_def_data ORDER BY column_name"), settings);
    EXPECT_TRUE(dlg->isVisible());
    const bool readsCard =
        dynamic_cast<CAddUserDlg*>(dlg.get()) || dynamic_cast<CUpdUserDlg*>(dlg.get());
    EXPECT_TRUE(!readsCard || dlg->isScreenTimerActive(CBaseDialog::kScreenTimerId));
}

const CardPoll kNone = CardPoll::noCard();
const CardPoll kNew = CardPoll::card(CString(kNewCard));
const char* const kNoGroupName = "グループ名が入力されていません。";
const char* const kNothing = "選択されていません。";

// clang-format off
const Refusal kRefusals[] = {
    {"RegistrationWithoutCard", make<CAddUserDlg>, kNone, nullptr, {"nameEdit=新人", "registerButton"}, kPutCard},
    {"RegistrationReaderError", make<CAddUserDlg>, CardPoll::readerError(), nullptr, {"nameEdit=新人", "registerButton"},
     userform::kReaderError},
    {"RegistrationWithoutName", make<CAddUserDlg>, kNew, nullptr, {"registerButton"}, CUserForm::kNoName},
    {"RegistrationLongName", make<CAddUserDlg>, kNew, nullptr, {"nameEdit=" + std::string(51, 'x'), "registerButton"}, kNameTooLong},
    {"RegistrationBadAddress", make<CAddUserDlg>, kNew, nullptr, {"nameEdit=新", "addressEdit=x", "registerButton"}, kBadAddress},
    {"RegistrationDeclined", make<CAddUserDlg>, kNew, nullptr, {"nameEdit=新", "no", "registerButton"}, CAddUserDlg::kConfirm},
    {"OverwriteDeclined", make<CAddUserDlg>, CardPoll::card(CString(kCard)), nullptr, {"nameEdit=新", "yes", "no", "registerButton"},
     CAddUserDlg::kOverwrite},
    {"RegistrationNotStored", make<CAddUserDlg>, kNew, "t_mail", {"nameEdit=新", "addressEdit=n@x.jp", "yes", "registerButton"},
     kNotStored},
    // Another user's card would merge the two users and mail both families.
    {"ChangeToAnotherUsersCard", changeUser, CardPoll::card(CString(kOther)), nullptr, {"registerButton"},
     "このカードはすでに [佐藤]さんのカードとして登録されています。"},
    {"ChangeIntoAdminsWithoutCard", changeUser, kNone, nullptr, {"groupCombo=管理者", "registerButton"}, kPutCard},
    {"ChangeBadAddress", changeUser, kNone, nullptr, {"addressEdit=a b@x.jp", "registerButton"}, kBadAddress},
    {"CardChangeDeclined", changeUser, kNew, nullptr, {"yes", "no", "registerButton"}, CUpdUserDlg::kCardChanged},
    {"ChangeNotStored", changeUser, kNew, "t_mail", {"yes", "yes", "registerButton"}, kNotStored},
    {"UserDeletionUnmarked", make<CDelUserDlg>, kNone, nullptr, {"deleteButton"}, "削除するユーザが選択されていません"},
    {"UserDeletionNotStored", make<CDelUserDlg>, kNone, "t_mail", {"groupCombo=一般", "userList=山田", "yes", "deleteButton"},
     kNotStored},
    {"UserSelectionUnchosen", make<CSelUserDlg>, kNone, nullptr, {"selectButton"}, kNothing},
    {"GroupWithoutName", make<CAddGroupDlg>, kNone, nullptr, {"registerButton"}, kNoGroupName},
    {"GroupLongName", make<CAddGroupDlg>, kNone, nullptr, {"groupNameEdit=" + std::string(51, 'x'), "registerButton"}, kNameTooLong},
    {"GroupThatExists", make<CAddGroupDlg>, kNone, nullptr, {"groupNameEdit=一般", "yes", "registerButton"},
     "このグループはすでに存在しています。"},
    {"GroupNotStored", make<CAddGroupDlg>, kNone, "t_group", {"groupNameEdit=新", "yes", "registerButton"}, kNotStored},
    {"GroupChangeWithoutName", changeGroup, kNone, nullptr, {"groupNameEdit=", "registerButton"}, kNoGroupName},
    {"GroupChangeNotStored", changeGroup, kNone, "t_group", {"groupNameEdit=改名", "yes", "registerButton"}, kNotStored},
    {"GroupDeletionUnmarked", make<CDelGroupDlg>, kNone, nullptr, {"deleteButton"}, "削除するグループが選択されていません"},
    {"GroupDeletionNotStored", make<CDelGroupDlg>, kNone, "t_group", {"groupList=一般", "yes", "yes", "deleteButton"}, kNotStored},
    {"GroupSelectionUnchosen", make<CSelGroupDlg>, kNone, nullptr, {"selectButton"}, kNothing},
    {"SettingsWithoutName", make<CDefSetDlg>, kNone, nullptr, {"senderNameEdit=", "registerButton"}, CDefSetDlg::kNoAdminName},
    {"SettingsWithoutSubject", make<CDefSetDlg>, kNone, nullptr, {"subjectEdit=", "registerButton"}, CDefSetDlg::kNoAdminName},
    {"SettingsWithoutServer", make<CDefSetDlg>, kNone, nullptr, {"serverEdit=", "registerButton"}, CDefSetDlg::kNoServer},
    {"SettingsWithoutPort", make<CDefSetDlg>, kNone, nullptr, {"portEdit=", "accountEdit=", "registerButton"}, CDefSetDlg::kNoPort},
    {"SettingsWithoutAccount", make<CDefSetDlg>, kNone, nullptr, {"accountEdit=", "passwordEdit=", "registerButton"},
     CDefSetDlg::kNoAccount},
    {"SettingsWithoutPassword", make<CDefSetDlg>, kNone, nullptr, {"passwordEdit=", "registerButton"}, CDefSetDlg::kNoPassword},
    // The sender address goes into every notification's envelope.
    {"SettingsBadSender", make<CDefSetDlg>, kNone, nullptr, {"senderNameEdit=", "senderAddressEdit=a @x.jp", "registerButton"},
     kBadAddress},
    {"SettingsWithoutSender", make<CDefSetDlg>, kNone, nullptr, {"senderAddressEdit=", "no", "registerButton"},
     CDefSetDlg::kNoAdminAddress},
    {"TestSendWithoutAddress", make<CDefSetDlg>, kNone, nullptr, {"senderAddressEdit=", "testSendButton"},
     CDefSetDlg::kNoTestAddress},
    {"SettingsNotStored", make<CDefSetDlg>, kNone, "t_def_data", {"registerButton"}, kNotStored},
    {"OperationNotStored", make<CKidoSetDlg>, kNone, "t_def_data", {"minimizeCheck", "registerButton"}, kNotStored},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(EveryScreen, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// What an action stores, read back with SQL: each row seeds the data file
// (SQL, if any), performs the steps and reads the stored values as one text.
struct Stored {
    const char* name;
    Make make;
    const char *seed, *message, *query, *values;
    Steps steps;
    friend void PrintTo(const Stored& one, std::ostream* out) { *out << one.name; }
};

class StoredTest : public testsupport::ScreenTest, public ::testing::WithParamInterface<Stored> {};

TEST_P(StoredTest, AnActionStoresWhatTheScreenShows) {
    storeMailSettings(data);
    if (GetParam().seed != nullptr)
        data.script(GetParam().seed);
    const std::unique_ptr<CBaseDialog> dlg = GetParam().make();
    dlg->show();
    perform(dlg.get(), GetParam().steps);
    EXPECT_EQ(lastShown(), GetParam().message);
    EXPECT_EQ(data.text(GetParam().query), GetParam().values);
}

// The settings by name: mail_acount, mail_address, mail_password,
// mail_security, mail_server_ip, mail_server_port, mail_subject, mail_user.
const char* const kMail = "SELECT column_value FROM t_def_data WHERE column_name LIKE 'mail_%' "
                          "ORDER BY column_name";
const char* const kKido = "SELECT column_value FROM t_def_data WHERE column_name IN ('kido_type', "
                          "'setting_disp') ORDER BY column_name";
const char* const kNoKido =
    "DELETE FROM t_def_data WHERE column_name IN ('kido_type', 'setting_disp')";

// clang-format off
const Stored kStored[] = {
    {"GroupAfterTheLast", make<CAddGroupDlg>, nullptr, "登録しました。",
     "SELECT group_name, order_id FROM t_group WHERE group_id > 2", "営業 3;", {"groupNameEdit=営業", "yes", "registerButton"}},
    {"GroupRenamedInItsPlace", changeGroup, "UPDATE t_group SET order_id = 7 WHERE group_id = 2", "変更しました。",
     "SELECT group_name, order_id FROM t_group WHERE group_id = 2", "営業部 7;", {"groupNameEdit=営業部", "yes", "registerButton"}},
    // What the boxes leave out is stored as NULL.
    {"WithoutSmtp", make<CDefSetDlg>, nullptr, "登録しました", kMail,
     "<null>;desk@example.jp;<null>;<null>;<null>;<null>;来訪;受付;", {"smtpCheck=off", "registerButton"}},
    {"WithoutAuthentication", make<CDefSetDlg>, nullptr, "登録しました", kMail,
     "<null>;desk@example.jp;<null>;tls;smtp.example.jp;587;来訪;受付;",
     {"authCheck=off", "securityCombo=SSL/TLS", "registerButton"}},
    {"WithoutSenderTheBoardsAdministrator", make<CDefSetDlg>, nullptr, "登録しました", kMail,
     "<null>;<null>;<null>;<null>;<null>;<null>;伝言板管理者;伝言板管理者;", {"senderAddressEdit=", "yes", "registerButton"}},
    {"OperationBothTicked", make<CKidoSetDlg>, kNoKido, "登録しました", kKido, "minimam;main;",
     {"minimizeCheck", "settingsOnMainCheck", "registerButton"}},
    // Only the exact stored words tick the boxes.
    {"OperationExactWordsOnly", make<CKidoSetDlg>, "UPDATE t_def_data SET column_value = 'Minimam' WHERE "
     "column_name = 'kido_type'; UPDATE t_def_data SET column_value = 'main' WHERE column_name = 'setting_disp'",
     "登録しました", kKido, "normal;main;", {"registerButton"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(EveryScreen, StoredTest, ::testing::ValuesIn(kStored),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
