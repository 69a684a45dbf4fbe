// The office's view: the history screen, its spreadsheet files, and the
// roster file read back with a preview of every line.
#include "AdminSteps.h"

#include "admin/CHistoryDlg.h"
#include "admin/CListCtrlEx.h"
#include "admin/CRosterImportDlg.h"
#include "admin/RosterCsv.h"
#include "data/CDbAccess.h"
#include "nvktl/CTime.h"

#include <QDateEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <filesystem>

using namespace adminsteps;

namespace {

using HistoryScreenTest = testsupport::ScreenTest;

std::string rowsOf(CListCtrlEx* list, std::initializer_list<int> columns) {
    std::string text;
    for (int row = 0; row < list->rowCount(); ++row) {
        for (const int column : columns)
            text += list->GetCellText(row, column).toStdString() + " ";
        text += "|";
    }
    return text;
}

RosterCsv::Roster roster() {
    CDbAccess db;
    RosterCsv::Roster read;
    EXPECT_TRUE(RosterCsv::load(db, read));
    return read;
}

TEST_F(HistoryScreenTest, TheHistoryOpensOnTodayFollowsItsFiltersAndIsSavedWhole) {
    const NVKTL::CTestClock clock(NVKTL::CTime(2026, 12, 6, 5, 18, 0, 0, 0));
    data.setSetting("notice_mode", "inout");
    data.addUser(kCard, "山田 花子", "2", {"h@example.jp"});
    data.addUser(kOther, "=佐藤, \"太郎\"", data.addGroup("B組"));
    data.addVisit(kCard, "20261204170000000");
    data.addVisit(kCard, "20261205030000000"); // before 4:00: still the 4th
    const std::string arrival = data.addVisit(kCard, "20261205090000000");
    data.addVisit(kOther, "20261205100000000");
    data.query("UPDATE t_login SET login_kind = '入室' WHERE login_id = ?", {arrival});
    data.query("UPDATE t_send SET state = '2', sent_date = '20261205090005000'");
    CHistoryDlg dlg;
    dlg.show();
    EXPECT_EQ(rowsOf(dlg.list(), {CHistoryDlg::Date, CHistoryDlg::Kind, CHistoryDlg::Name,
                                  CHistoryDlg::Notices}),
              "2026/12/05 10:00:00 来所 =佐藤, \"太郎\"  |2026/12/05 09:00:00 入室 山田 花子 "
              "h@example.jp 送信済 2026/12/05 09:00:05 |");
    EXPECT_EQ(rowsOf(dlg.presentList(), {1, 2}), "一般 山田 花子 |");
    EXPECT_EQ(control<QTabWidget>(&dlg, "historyTabs")->tabText(1).toStdString(), "在室中 (1人)");
    type(&dlg, "nameEdit", "山田");
    control<QDateEdit>(&dlg, "fromEdit")->setDate(QDate(2026, 12, 4));
    click(&dlg, "showButton");
    EXPECT_EQ(rowsOf(dlg.list(), {CHistoryDlg::Date}),
              "2026/12/05 09:00:00 |2026/12/05 03:00:00 |2026/12/04 17:00:00 |");

    // Saved: every visit of the filter, as a spreadsheet reads it; a name
    // that would run as a formula shows as text.
    const std::string folder = testsupport::makeTempFolder("history");
    CHistoryDlg::setFileChooser(
        [&](bool, const QString& name) { return QString::fromStdString(folder) + name; });
    type(&dlg, "nameEdit", "");
    click(&dlg, "exportHistoryButton");
    EXPECT_EQ(
        testsupport::readBytes(folder + "来所履歴.csv"),
        "\xEF\xBB\xBF日時,種別,グループ,名前,端末,通知\r\n"
        "2026/12/05 10:00:00,来所,B組,\"'=佐藤, \"\"太郎\"\"\",,\r\n"
        "2026/12/05 09:00:00,入室,一般,山田 花子,,h@example.jp 送信済 2026/12/05 09:00:05\r\n"
        "2026/12/05 03:00:00,来所,一般,山田 花子,,h@example.jp 送信済 2026/12/05 09:00:05\r\n"
        "2026/12/04 17:00:00,来所,一般,山田 花子,,h@example.jp 送信済 2026/12/05 09:00:05\r\n");
    EXPECT_EQ(lastShown(), "保存しました。");
    // The cancel key during a save stops the save, not the screen; meanwhile
    // nothing else acts.
    bool pausedWhileSaving = false;
    QTimer::singleShot(0, &dlg, [&] {
        pausedWhileSaving = !control<QPushButton>(&dlg, "backButton")->isEnabled() &&
                            !control<QPushButton>(&dlg, "importRosterButton")->isEnabled();
        testsupport::pressKey(&dlg, Qt::Key_Escape);
    });
    std::filesystem::remove(folder + "来所履歴.csv");
    click(&dlg, "exportHistoryButton");
    EXPECT_TRUE(pausedWhileSaving);
    EXPECT_EQ(lastShown(), "保存を中止しました。");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(control<QPushButton>(&dlg, "backButton")->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(folder + "来所履歴.csv"));
    // A file that cannot be written is said so, and nothing half-written stays.
    CHistoryDlg::setFileChooser(
        [&](bool, const QString&) { return QString::fromStdString(folder + "missing/x.csv"); });
    click(&dlg, "exportHistoryButton");
    EXPECT_EQ(lastShown(), "ファイルを保存できませんでした。");
    CHistoryDlg::setFileChooser({});
    testsupport::removeTree(folder);
}

TEST_F(HistoryScreenTest, ARosterComesBackFromItsOwnFileAndAgainChangesNothing) {
    const std::string classB = data.addGroup("B組");
    data.addGroup("空の組");
    data.addUser(kCard, "山田, \"花子\"\n二行目", "2", {"h1@example.jp", "h2@example.jp"});
    data.addUser(kOther, "+佐藤", classB, {"t@example.jp"});
    data.query("UPDATE t_user SET notice_off = '1' WHERE user_id = ?", {kOther});
    const testsupport::Rows before = data.snapshot();
    const std::string file = RosterCsv::write(roster());
    // Quoted where a field holds a comma, a quote or a line break; a name
    // that would run as a formula behind an apostrophe; the groups without
    // pupils on lines of their own.
    EXPECT_EQ(file, "\xEF\xBB\xBFグループ,カードID,名前,通知,メール1,メール2,メール3\r\n"
                    "一般,0123456789ABCDEF,\"山田, \"\"花子\"\"\n二行目\",する,h1@example.jp,"
                    "h2@example.jp\r\n"
                    "B組,1111111111111111,'+佐藤,しない,t@example.jp\r\n管理者\r\n空の組\r\n");
    // As it is: nothing to store.
    RosterCsv::Preview same = RosterCsv::read(file, roster());
    EXPECT_TRUE(same.storable());
    EXPECT_TRUE(same.changes().empty());
    EXPECT_TRUE(same.newGroups.empty());
    // Into a store without the pupils: each comes back as it was.
    data.script("DELETE FROM t_user; DELETE FROM t_mail");
    RosterCsv::Preview fresh = RosterCsv::read(file, roster());
    ASSERT_EQ(fresh.changes().size(), 2u);
    CRosterImportDlg dlg(fresh);
    dlg.show();
    click(&dlg, "registerButton");
    EXPECT_EQ(lastShown(), "2人を登録しました。");
    EXPECT_EQ(data.snapshot(), before);
}

TEST_F(HistoryScreenTest, EveryBadLineOfARosterFileIsShownAndNothingIsStored) {
    data.addUser(kCard, "山田 花子", "2", {"h@example.jp"});
    const std::string header = "グループ,名前,カードID,メール1,メール2,通知\n";
    const std::string file = header +
                             "一般,佐藤,12345,s@example.jp,,\n"               // 2: short card
                             "一般,別人,0123456789abcdef,x@example.jp,,\n"    // 3: held by another
                             "新しい組,青木,2222222222222222,a@x,a b@x.jp,\n" // 4: addresses
                             "一般,,3333333333333333,,,たぶん\n"              // 5: no name, notices
                             "一般,井上,2222222222222222,i@example.jp,I@example.jp,しない\n"
                             "管理者,木村,4444444444444444,,,\n"; // 7: an administrator
    const RosterCsv::Preview preview = RosterCsv::read(file, roster());
    std::string problems;
    for (const auto& line : preview.lines)
        for (const std::string& problem : line.problems)
            problems += std::to_string(line.line) + ": " + problem + "\n";
    EXPECT_EQ(problems,
              "2: カードID「12345」は16桁の16進数ではありません。\n"
              "3: このカードは「山田 花子」さんのカードです。\n"
              "4: メールアドレス「a b@x.jp」: " +
                  std::string(kBadAddress) +
                  "\n"
                  "5: 名前がありません。\n5: 通知は「する」か「しない」です。\n"
                  "6: カードID「2222222222222222」がファイルの中に2回あります。\n"
                  "7: 管理者グループへの出入りは、ユーザの登録・変更の画面でしてください。\n");
    ASSERT_EQ(preview.newGroups.size(), 1u);
    EXPECT_EQ(preview.newGroups[0].str(), "新しい組");
    // One mailbox once, whatever its letter case.
    EXPECT_EQ(preview.lines.at(4).pupil.mails.size(), 1u);
    const testsupport::Rows before = data.snapshot();
    CRosterImportDlg dlg(preview);
    dlg.show();
    EXPECT_FALSE(control<QPushButton>(&dlg, "registerButton")->isEnabled());
    dlg.OnRegister();
    EXPECT_EQ(data.snapshot(), before);
    // A file that is no roster at all.
    const std::pair<std::string, std::string> files[] = {{"\x82\xa0,\x82\xa2\n", "UTF-8"},
                                                         {"a,b\n1,2\n", "見出し"},
                                                         {header + "\"一般,x\n", "引用符"}};
    for (const auto& [text, why] : files)
        EXPECT_NE(RosterCsv::read(text, roster()).fileProblem.find(why), std::string::npos) << why;
}

} // namespace

namespace {

TEST_F(HistoryScreenTest, ARetentionLimitIsShownAndConfirmedBeforeAnythingIsDeleted) {
    const NVKTL::CTestClock clock(NVKTL::CTime(2026, 3, 2, 31, 18, 0, 0, 0));
    data.addUser(kCard, "山田 花子", "2", {"h@example.jp"});
    data.addVisit(kCard, "20260227235959999");
    const std::string kept = data.addVisit(kCard, "20260228180000000");
    CHistoryDlg dlg;
    dlg.show();
    type(&dlg, "summaryTimeEdit", "25:00");
    click(&dlg, "saveSettingsButton");
    EXPECT_EQ(lastShown(), "時刻は 18:30 のように入力してください。");
    type(&dlg, "summaryTimeEdit", "18:30");
    control<QSpinBox>(&dlg, "retentionSpin")->setValue(1);
    // A month back from March 31st is the last day of February.
    answer({Answer::No});
    click(&dlg, "saveSettingsButton");
    EXPECT_EQ(CMessageBox::shown().back().text.str(),
              "保存期間を1か月にすると、2026/02/28 18:00:00 より前の記録 1件（来所とその通知）"
              "を削除します。よろしいですか？");
    EXPECT_EQ(data.visits().size(), 2u);
    EXPECT_EQ(data.setting("retention_months"), "<null>");
    answer({Answer::Yes});
    click(&dlg, "saveSettingsButton");
    EXPECT_EQ(lastShown(), "設定を保存し、1件の記録を削除しました。");
    ASSERT_EQ(data.visits().size(), 1u);
    EXPECT_EQ(data.visits()[0].loginId, kept);
    EXPECT_EQ(data.setting("summary_time") + data.setting("retention_confirmed"), "18:301");
    // From then on, once a day, what the limit no longer keeps goes.
    const NVKTL::CTestClock later(NVKTL::CTime(2026, 4, 2, 30, 18, 0, 0, 1));
    EXPECT_EQ(CDbAccess().applyRetention(NVKTL::CTime::StampNow()), 0);
    EXPECT_TRUE(data.visits().empty());
}

} // namespace
