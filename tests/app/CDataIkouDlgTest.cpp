#include "AppTestSupport.h"

#include "app/CDataIkouDlg.h"
#include "data/CDataFiles.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

// Notes every progress call on its way to the screen's controls.
class WatchedMigration : public CDataIkouDlg {
public:
    void progressStart(int position, int maximum) override {
        starts.emplace_back(position, maximum);
        CDataIkouDlg::progressStart(position, maximum);
    }
    void statusText(const CString& text) override {
        captions.push_back(text.str());
        CDataIkouDlg::statusText(text);
        labelShownWithCaption = labelShownWithCaption &&
                                control<QLabel>(this, "1055")->text().toStdString() == text.str();
    }

    std::vector<std::string> captions;
    std::vector<std::pair<int, int>> starts;
    bool labelShownWithCaption = true;
};

TEST(CDataIkouDlgTest, MovesTheDataIntoTheWaitingMasterCopyBeforeItIsShownAndClosesWithOne) {
    TempDataFolder folder;
    sqlExec(folder.dataFile(),
            "INSERT INTO t_user VALUES ('00000000000000A1', '山田', NULL, 2, 1);"
            "INSERT INTO t_user VALUES ('00000000000000A2', '佐藤', NULL, 2, 2);"
            "INSERT INTO t_mail VALUES ('00000000000000A1', 'yamada@example.jp');");
    copyFileTo(builtMasterFile(), folder.path() + std::string(CDataFiles::masterCopy));

    WatchedMigration screen;
    EXPECT_EQ(screen.exec(), CDataIkouDlg::kResultDone);
    EXPECT_EQ(screen.migrationResult(), 0);

    EXPECT_EQ(screen.captions, (std::vector<std::string>{"諸設定", "グループ", "ユーザ", "メール",
                                                         "ログイン", "メールエラー", "送信"}));
    EXPECT_TRUE(screen.labelShownWithCaption);
    // The two users, one by one, of a table of two.
    EXPECT_NE(std::find(screen.starts.begin(), screen.starts.end(), std::make_pair(2, 2)),
              screen.starts.end());
    // By the time the screen shows, the last table has hidden label and bar.
    EXPECT_FALSE(control<QLabel>(&screen, "1055")->isVisibleTo(&screen));
    EXPECT_FALSE(control<QProgressBar>(&screen, "1053")->isVisibleTo(&screen));

    EXPECT_FALSE(fileExists(folder.path() + std::string(CDataFiles::masterCopy)));
    EXPECT_EQ(sqlQuery(folder.dataFile(), "SELECT user_id FROM t_user ORDER BY 1"),
              (SqlRows{{"00000000000000A1"}, {"00000000000000A2"}}));
    int backups = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        backups += entry.path().filename().string().rfind("bk", 0) == 0;
    EXPECT_EQ(backups, 1);
}

TEST(CDataIkouDlgTest, TheCancelKeyDoesNotInterruptIt) {
    TempDataFolder folder;
    CDataIkouDlg screen;
    QTimer::singleShot(0, [&] { screen.reject(); });
    EXPECT_EQ(screen.exec(), CDataIkouDlg::kResultDone);
    EXPECT_EQ(screen.windowTitle().toStdString(), "NVKぽすとん ～ データ移行中");
}

} // namespace
