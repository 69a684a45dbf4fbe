// What every administration screen has in common: the screen loop's codes it
// ends with, and that an action is stored whole or not at all, its success
// shown only once stored.
#include "AdminSteps.h"

#include "admin/CAddGroupDlg.h"
#include "admin/CAddUserDlg.h"
#include "admin/CAdminMenuDlg.h"
#include "admin/CAdminScreens.h"
#include "admin/CChkAdmin2Dlg.h"
#include "admin/CChkAdminDlg.h"
#include "admin/CDefSetDlg.h"
#include "admin/CDelGroupDlg.h"
#include "admin/CDelUserDlg.h"
#include "admin/CHistoryDlg.h"
#include "admin/CKidoSetDlg.h"
#include "admin/CMailErrorDlg.h"
#include "admin/CSelGroupDlg.h"
#include "admin/CSelUserDlg.h"
#include "admin/CUpdGroupDlg.h"
#include "admin/CUpdUserDlg.h"
#include "admin/CUserForm.h"
#include "admin/NameCheck.h"
#include "admin/StoreTogether.h"
#include "screens/CAboutDlg.h"
#include "screens/CMainDlg.h"
#include "screens/CPostonDlg.h"
#include "screens/CScreenTable.h"

#include <QLabel>

#include <functional>
#include <map>

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

// What a screen reader says for a control: its accessible name, else the
// text of the label it is the buddy of, else a button's own text.
QString spokenName(QWidget* control) {
    if (!control->accessibleName().isEmpty())
        return control->accessibleName();
    for (QLabel* label : control->window()->findChildren<QLabel*>())
        if (label->buddy() == control)
            return label->text();
    auto* button = qobject_cast<QAbstractButton*>(control);
    return button != nullptr ? button->text() : QString();
}

// Each control's name, those on other tab pages included.
QStringList controlNames(QWidget* screen) {
    QStringList names;
    for (QWidget* w : screen->findChildren<QWidget*>()) {
        const bool control = w->inherits("QAbstractButton") || w->inherits("QLineEdit") ||
                             w->inherits("QComboBox") || w->inherits("QPlainTextEdit") ||
                             w->inherits("QTableWidget") || w->inherits("QListWidget");
        const bool putAway = w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->isHidden();
        if (control && !putAway && w->window() == screen)
            names << spokenName(w);
    }
    return names;
}

using AdminScreensTest = testsupport::ScreenTest;

// Every screen also names each of its controls once, for a screen reader,
// and opens with the focus where a person starts.
TEST_F(AdminScreensTest, EveryScreenNamesEachControlOnceAndIsLeftWhereItsButtonsAndKeysSay) {
    // How: a button's role, "escape" or "close" (the close box).
    using S = ScreenCode;
    const int cancelled = CChkAdmin2Dlg::kResultCancelled;
    // clang-format off
    const std::map<std::string, std::string> firstFields = {{"CAddUserDlg", "nameEdit"}, {"CUpdUserDlg", "nameEdit"},
        {"CChkAdminDlg", "nameEdit"}, {"CAddGroupDlg", "groupNameEdit"}, {"CUpdGroupDlg", "groupNameEdit"}, {"CDefSetDlg", "senderNameEdit"},
        {"CDelGroupDlg", "groupList"}, {"CSelGroupDlg", "groupList"}, {"CMailErrorDlg", "errorList"}, {"CDelUserDlg", "groupCombo"},
        {"CSelUserDlg", "groupCombo"}, {"CHistoryDlg", "fromEdit"}};
    const std::tuple<std::function<std::unique_ptr<QDialog>()>, const char*, int> cases[] = {
        // The change screens' back buttons are taken in the selection flow.
        {make<CAddUserDlg>, "escape", resultOf(S::AdminMenu)}, {make<CAddUserDlg>, "endButton", resultOf(S::UserConfirmation)},
        {changeUser, "escape", resultOf(S::UserSelection)}, {changeGroup, "escape", resultOf(S::GroupSelection)},
        {make<CDelUserDlg>, "backButton", resultOf(S::AdminMenu)}, {make<CSelUserDlg>, "backButton", resultOf(S::AdminMenu)},
        {make<CAddGroupDlg>, "escape", resultOf(S::AdminMenu)}, {make<CDelGroupDlg>, "backButton", resultOf(S::AdminMenu)},
        {make<CSelGroupDlg>, "escape", resultOf(S::AdminMenu)}, {make<CDefSetDlg>, "escape", resultOf(S::AdminMenu)},
        {make<CKidoSetDlg>, "backButton", resultOf(S::AdminMenu)}, {make<CMailErrorDlg>, "close", resultOf(S::AdminMenu)},
        {make<CHistoryDlg>, "escape", resultOf(S::AdminMenu)}, {make<CHistoryDlg>, "endButton", resultOf(S::UserConfirmation)},
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
        {make<CAdminMenuDlg>, "historyButton", resultOf(S::History)},
        {make<CAdminMenuDlg>, "endButton", resultOf(S::UserConfirmation)},
        {make<CAdminMenuDlg>, "backButton", resultOf(S::UserConfirmation)},
        {make<CAdminMenuDlg>, "escape", resultOf(S::UserConfirmation)},
        // The administrator card check is only given up.
        {make<CChkAdmin2Dlg>, "endButton", cancelled}, {make<CChkAdmin2Dlg>, "backButton", cancelled},
        {make<CChkAdmin2Dlg>, "escape", cancelled},
        // The screens outside the menu.
        {make<CPostonDlg>, "escape", resultOf(S::Leave)}, {make<CMainDlg>, "endButton", resultOf(S::UserConfirmation)},
        {[] { return std::make_unique<CChkAdminDlg>(); }, "endButton", CChkAdminDlg::kResultLeft},
        {[] { return std::make_unique<CAboutDlg>(); }, "escape", QDialog::Rejected}};
    // clang-format on
    data.addUser(kCard, "山田");
    for (const auto& [makeScreen, how, result] : cases) {
        const std::unique_ptr<QDialog> screen = makeScreen();
        const std::string name = screen->objectName().toStdString();
        SCOPED_TRACE(name + " " + how);
        EXPECT_EQ(name.substr(0, 1), "C"); // its class name
        screen->show();
        const QStringList names = controlNames(screen.get());
        EXPECT_FALSE(names.contains(QString())) << names.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(QStringList(names).removeDuplicates(), 0);
        if (auto first = firstFields.find(name); first != firstFields.end()) {
            EXPECT_EQ(screen->focusWidget(),
                      screen->findChild<QWidget*>(qs(first->second.c_str())));
        }
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
    EXPECT_NE(CMessageBox::shown().back().kind, CMessageBox::OkBox); // a warning or a question
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
    // Enter presses the main button.
    {"RegistrationWithoutName", make<CAddUserDlg>, kNew, nullptr, {"enter"}, CUserForm::kNoName},
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
    {"ChangeIntoAdminsWithoutCard", changeUser, kNone, nullptr, {"yes", "groupCombo=管理者", "registerButton"}, kPutCard},
    {"ChangeBadAddress", changeUser, kNone, nullptr, {"addressEdit=a b@x.jp", "registerButton"}, kBadAddress},
    {"CardChangeDeclined", changeUser, kNew, nullptr, {"yes", "no", "enter"}, CUpdUserDlg::kCardChanged},
    {"ChangeNotStored", changeUser, kNew, "t_mail", {"yes", "yes", "registerButton"}, kNotStored},
    {"UserDeletionUnmarked", make<CDelUserDlg>, kNone, nullptr, {"enter"}, "削除するユーザが選択されていません"},
    {"UserDeletionNotStored", make<CDelUserDlg>, kNone, "t_mail", {"groupCombo=一般", "userList=山田", "yes", "deleteButton"},
     kNotStored},
    {"UserSelectionUnchosen", make<CSelUserDlg>, kNone, nullptr, {"enter"}, kNothing},
    {"GroupWithoutName", make<CAddGroupDlg>, kNone, nullptr, {"enter"}, kNoGroupName},
    {"GroupLongName", make<CAddGroupDlg>, kNone, nullptr, {"groupNameEdit=" + std::string(51, 'x'), "registerButton"}, kNameTooLong},
    {"GroupThatExists", make<CAddGroupDlg>, kNone, nullptr, {"groupNameEdit=一般", "yes", "registerButton"},
     "このグループはすでに存在しています。"},
    {"GroupNotStored", make<CAddGroupDlg>, kNone, "t_group", {"groupNameEdit=新", "yes", "registerButton"}, kNotStored},
    {"GroupChangeWithoutName", changeGroup, kNone, nullptr, {"groupNameEdit=", "enter"}, kNoGroupName},
    {"GroupChangeNotStored", changeGroup, kNone, "t_group", {"groupNameEdit=改名", "yes", "registerButton"}, kNotStored},
    {"GroupDeletionUnmarked", make<CDelGroupDlg>, kNone, nullptr, {"enter"}, "削除するグループが選択されていません"},
    {"GroupDeletionNotStored", make<CDelGroupDlg>, kNone, "t_group", {"groupList=一般", "yes", "yes", "deleteButton"}, kNotStored},
    {"GroupSelectionUnchosen", make<CSelGroupDlg>, kNone, nullptr, {"enter"}, kNothing},
    {"SettingsWithoutName", make<CDefSetDlg>, kNone, nullptr, {"senderNameEdit=", "enter"}, CDefSetDlg::kNoAdminName},
    {"SettingsWithoutSubject", make<CDefSetDlg>, kNone, nullptr, {"subjectEdit=", "registerButton"}, CDefSetDlg::kNoAdminName},
    {"SettingsWithoutServer", make<CDefSetDlg>, kNone, nullptr, {"serverEdit=", "registerButton"}, CDefSetDlg::kNoServer},
    {"SettingsWithoutPort", make<CDefSetDlg>, kNone, nullptr, {"portEdit=", "accountEdit=", "registerButton"}, CDefSetDlg::kNoPort},
    {"SettingsWithoutAccount", make<CDefSetDlg>, kNone, nullptr, {"accountEdit=", "passwordEdit=", "registerButton"},
     CDefSetDlg::kNoAccount},
    {"SettingsWithoutPassword", make<CDefSetDlg>, kNone, nullptr, {"passwordEdit=", "registerButton"}, CDefSetDlg::kNoPassword},
    // What a box leaves out is dropped only when the administrator agrees.
    {"SettingsServerKept", make<CDefSetDlg>, kNone, nullptr, {"smtpCheck=off", "no", "registerButton"}, CDefSetDlg::kDropServer},
    {"SettingsAccountKept", make<CDefSetDlg>, kNone, nullptr, {"authCheck=off", "no", "registerButton"}, CDefSetDlg::kDropAccount},
    // The sender address goes into every notification's envelope.
    {"SettingsBadSender", make<CDefSetDlg>, kNone, nullptr, {"senderNameEdit=", "senderAddressEdit=a @x.jp", "registerButton"},
     kBadAddress},
    {"SettingsWithoutSender", make<CDefSetDlg>, kNone, nullptr, {"senderAddressEdit=", "no", "registerButton"},
     CDefSetDlg::kNoAdminAddress},
    {"TestSendWithoutAddress", make<CDefSetDlg>, kNone, nullptr, {"senderAddressEdit=", "testSendButton"},
     CDefSetDlg::kNoTestAddress},
    {"SettingsNotStored", make<CDefSetDlg>, kNone, "t_def_data", {"registerButton"}, kNotStored},
    {"SettingsUnknownPlaceholder", make<CDefSetDlg>, kNone, nullptr, {"departureBodyEdit={名前}さん {氏名", "registerButton"},
     "「{名前}」は差し込みに使えません。使えるのは {氏名} {グループ} {日時} {種別} {端末} です。"},
    {"OperationNotStored", make<CKidoSetDlg>, kNone, "t_def_data", {"minimizeCheck", "enter"}, kNotStored},
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
    EXPECT_EQ(CMessageBox::shown().back().kind, CMessageBox::OkBox);
    EXPECT_EQ(data.text(GetParam().query), GetParam().values);
}

// The settings by name: mail_acount, mail_address, mail_password,
// mail_security, mail_server_ip, mail_server_port, mail_subject, mail_user.
const char* const kMail = "SELECT column_value FROM t_def_data WHERE column_name LIKE 'mail_%' "
                          "AND column_name NOT LIKE 'mail_body%' AND column_name NOT LIKE "
                          "'mail_subject_%' ORDER BY column_name";
const char* const kKido = "SELECT column_value FROM t_def_data WHERE column_name IN ('kido_type', "
                          "'setting_disp') ORDER BY column_name";
const char* const kTexts =
    "SELECT column_value FROM t_def_data WHERE column_name LIKE 'mail_body%' "
    "OR column_name LIKE 'mail_subject_%' ORDER BY column_name";
const char* const kNotice =
    "SELECT column_value FROM t_def_data WHERE column_name IN "
    "('day_start_hour', 'notice_mode', 'tap_guard_minutes') ORDER BY column_name";
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
     "<null>;desk@example.jp;<null>;<null>;<null>;<null>;来訪;受付;", {"smtpCheck=off", "yes", "registerButton"}},
    {"WithoutAuthentication", make<CDefSetDlg>, nullptr, "登録しました", kMail,
     "<null>;desk@example.jp;<null>;tls;smtp.example.jp;587;来訪;受付;",
     {"authCheck=off", "yes", "securityCombo=SSL/TLS", "registerButton"}},
    {"WithoutSenderTheBoardsAdministrator", make<CDefSetDlg>, nullptr, "登録しました", kMail,
     "<null>;<null>;<null>;<null>;<null>;<null>;伝言板管理者;伝言板管理者;", {"senderAddressEdit=", "yes", "registerButton"}},
    {"OperationBothTicked", make<CKidoSetDlg>, kNoKido, "登録しました", kKido, "minimam;main;",
     {"minimizeCheck", "settingsOnMainCheck", "registerButton"}},
    // Empty texts stay empty: the defaults.
    {"MailTextsOfEachKind", make<CDefSetDlg>, nullptr, "登録しました", kTexts, "<null>;<null>;{氏名} {日時};{氏名}さん入室;<null>;",
     {"arrivalSubjectEdit={氏名}さん入室", "departureBodyEdit={氏名} {日時}", "registerButton"}},
    // A guard at the mode's default is kept empty and follows the mode; another stays.
    {"OperationInOut", make<CKidoSetDlg>, nullptr, "登録しました", kNotice, "4;inout;<null>;",
     {"noticeModeCombo=入室・退室", "registerButton"}},
    {"OperationGuardKept", make<CKidoSetDlg>, "UPDATE t_def_data SET column_value = 'inout' WHERE column_name = 'notice_mode';"
     "UPDATE t_def_data SET column_value = '10' WHERE column_name = 'tap_guard_minutes'", "登録しました", kNotice,
     "4;<null>;10;", {"noticeModeCombo=来所", "registerButton"}},
    {"ChangeNoticeOff", changeUser, "INSERT INTO t_user (user_id, user_name, group_id) VALUES ('0123456789ABCDEF', '山田', 2)",
     "変更しました。", "SELECT user_id, notice_off FROM t_user WHERE notice_off IS NOT NULL",
     "0123456789ABCDEF 1;", {"noticeOffCheck", "yes", "registerButton"}},
    // Only the exact stored words tick the boxes.
    {"OperationExactWordsOnly", make<CKidoSetDlg>, "UPDATE t_def_data SET column_value = 'Minimam' WHERE "
     "column_name = 'kido_type'; UPDATE t_def_data SET column_value = 'main' WHERE column_name = 'setting_disp'",
     "登録しました", kKido, "normal;main;", {"registerButton"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(EveryScreen, StoredTest, ::testing::ValuesIn(kStored),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
