// Moving a data file's contents into a newly installed master file.
#include "DataFolder.h"

#include "data/CDataFiles.h"
#include "data/CDbAccess.h"
#include "data/IMigrationProgress.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string masterCopyName = "マスタ ～ poston.mdb";
const std::string backupName = "bk20261205101530123.mdb";

class RecordedProgress : public IMigrationProgress {
public:
    void progressStart(int position, int maximum) override {
        events.push_back(std::to_string(position) + "/" + std::to_string(maximum));
    }
    void progressEnd() override { events.emplace_back("end"); }
    void statusText(const CString& text) override { events.push_back(text.str()); }

    std::vector<std::string> events;
};

class MigrationTest : public DataTest {
protected:
    std::string masterCopy() const { return folder.file(masterCopyName); }

    void placeMasterCopy() {
        std::filesystem::copy_file(masterFile(), masterCopy(),
                                   std::filesystem::copy_options::overwrite_existing);
    }

    // An old data file with ids that a fresh file would not hand out.
    void seedOldFile() {
        exec(folder.dataFile(), R"sql(
            UPDATE t_def_data SET column_value = '管理人' WHERE column_name = 'mail_user';
            UPDATE t_def_data SET column_value = 'minimam' WHERE column_name = 'kido_type';
            UPDATE t_def_data SET column_value = 'starttls' WHERE column_name = 'mail_security';
            DELETE FROM t_def_data WHERE column_name = 'window_top';
            INSERT INTO t_def_data VALUES ('obsolete_key', 'x');
            UPDATE t_group SET group_name = '先生' WHERE group_id = 1;
            UPDATE t_group SET group_name = '生徒' WHERE group_id = 2;
            INSERT INTO t_group VALUES (5, '5組', 'M', 'x', 3);
            INSERT INTO t_group VALUES (9, '9組', NULL, NULL, 4);
            INSERT INTO t_user VALUES ('T1', 'it''s me', 't1@x.jp', 1, 1);
            INSERT INTO t_user VALUES ('U5', 'five', NULL, 5, 2);
            INSERT INTO t_user VALUES ('U9', 'nine', 'u9@x.jp', 9, 3);
            INSERT INTO t_mail VALUES ('T1', 't1@x.jp');
            INSERT INTO t_mail VALUES ('U5', 'u5@x.jp');
            INSERT INTO t_mail VALUES ('U9', 'u9b@x.jp');
            INSERT INTO t_login VALUES (3, 'T1', '20261201080000000', '2', '20261201080001000');
            INSERT INTO t_login VALUES (7, 'U5', '20261202080000000', '1', NULL);
            INSERT INTO t_login VALUES (8, 'U9', '20261203080000000', '3', '20261203080001000');
            INSERT INTO t_mail_error VALUES (4, 8, 'U9', 'u9@x.jp', '20261203080001000', 'エラー');
            INSERT INTO t_mail_error VALUES (6, 8, 'U9', 'u9b@x.jp', '20261203080001000', 'x''y');
            DROP TABLE t_send;
        )sql");
    }

    // The seeded contents as they must arrive.
    void expectMigratedContents(const std::string& file) {
        EXPECT_EQ(query(file, "SELECT column_name, column_value FROM t_def_data ORDER BY 1"),
                  (Table{{"kido_type", "minimam"},
                         {"mail_acount", ""},
                         {"mail_address", ""},
                         {"mail_password", ""},
                         {"mail_security", "starttls"},
                         {"mail_server_ip", ""},
                         {"mail_server_port", ""},
                         {"mail_subject", ""},
                         {"mail_user", "管理人"},
                         {"setting_disp", ""},
                         {"window_left", ""},
                         {"window_top", "300"}}));
        EXPECT_EQ(query(file, "SELECT * FROM t_group ORDER BY group_id"),
                  (Table{{"1", "先生", "M", "1", "1"},
                         {"2", "生徒", "<null>", "<null>", "2"},
                         {"5", "5組", "<null>", "<null>", "3"},
                         {"9", "9組", "<null>", "<null>", "4"}}));
        EXPECT_EQ(query(file, "SELECT * FROM t_user ORDER BY order_id"),
                  (Table{{"T1", "it's me", "t1@x.jp", "1", "1"},
                         {"U5", "five", "<null>", "5", "2"},
                         {"U9", "nine", "u9@x.jp", "9", "3"}}));
        EXPECT_EQ(
            query(file, "SELECT * FROM t_mail ORDER BY user_id, mail"),
            (Table{{"T1", "t1@x.jp"}, {"U5", "u5@x.jp"}, {"U9", "u9@x.jp"}, {"U9", "u9b@x.jp"}}));
        EXPECT_EQ(query(file, "SELECT * FROM t_login ORDER BY login_id"),
                  (Table{{"3", "T1", "20261201080000000", "2", "20261201080001000"},
                         {"7", "U5", "20261202080000000", "1", "<null>"},
                         {"8", "U9", "20261203080000000", "3", "20261203080001000"}}));
        EXPECT_EQ(query(file, "SELECT * FROM t_mail_error ORDER BY error_no"),
                  (Table{{"4", "8", "U9", "u9@x.jp", "20261203080001000", "エラー"},
                         {"6", "8", "U9", "u9b@x.jp", "20261203080001000", "x'y"}}));
        // A file from before deliveries were kept: its due visit gets the
        // addresses of this moment.
        EXPECT_EQ(query(file, "SELECT login_id, mail, user_name, group_name, state FROM t_send"),
                  (Table{{"7", "u5@x.jp", "five", "5組", "1"}}));
    }

    void expectOnlyFiles(const std::vector<std::string>& names) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        std::vector<std::string> wanted = names;
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(found, wanted);
    }
};

TEST_F(MigrationTest, CopiesEveryTableKeepingIdsAndKeepsTheOldFileAsBackup) {
    seedOldFile();
    placeMasterCopy();
    exec(masterCopy(), "UPDATE t_def_data SET column_value = '300' WHERE column_name = "
                       "'window_top'");
    const std::string oldBytes = readBytes(folder.dataFile());

    RecordedProgress progress;
    CDbAccess db;
    EXPECT_EQ(db.migrateData(&progress), 0);

    expectMigratedContents(folder.dataFile());
    EXPECT_EQ(readBytes(folder.file(backupName)), oldBytes);
    expectOnlyFiles({"poston.mdb", backupName});
    EXPECT_EQ(fileMode(folder.dataFile()), 0600u);
    std::vector<std::string> expected;
    for (const auto& [caption, rows] :
         std::vector<std::pair<std::string, int>>{{"諸設定", 12},
                                                  {"グループ", 4},
                                                  {"ユーザ", 3},
                                                  {"メール", 3},
                                                  {"ログイン", 3},
                                                  {"メールエラー", 2}}) {
        expected.push_back(caption);
        for (int i = 1; i <= rows; ++i)
            expected.push_back(std::to_string(i) + "/" + std::to_string(rows));
        expected.emplace_back("end");
    }
    EXPECT_EQ(progress.events, expected);

    // The same object goes on working on the new file.
    CString name, mail, group;
    EXPECT_EQ(db.getUser(CString("U5"), name, mail, group), 0);
    EXPECT_EQ(group, "5");
}

TEST_F(MigrationTest, NewGroupsAndVisitsContinueAfterTheKeptIds) {
    seedOldFile();
    placeMasterCopy();
    CDbAccess db;
    ASSERT_EQ(db.migrateData(nullptr), 0);
    db.saveGroup(CString(), CString("new"), 5);
    EXPECT_EQ(query(folder.dataFile(), "SELECT group_id FROM t_group WHERE group_name = 'new'"),
              (Table{{"10"}}));
    CString loginId;
    db.addLogin(CString("T1"), CString(now), loginId);
    EXPECT_EQ(loginId, "9");
}

TEST_F(MigrationTest, RunningAgainOnAMigratedFileGivesTheSameContents) {
    // As after a stop between putting the new file in place and removing the
    // master copy: the next start migrates once more.
    seedOldFile();
    placeMasterCopy();
    exec(masterCopy(), "UPDATE t_def_data SET column_value = '300' WHERE column_name = "
                       "'window_top'");
    CDbAccess db;
    ASSERT_EQ(db.migrateData(nullptr), 0);
    std::filesystem::rename(folder.file(backupName), folder.file("first-backup.mdb"));
    placeMasterCopy();
    EXPECT_EQ(db.migrateData(nullptr), 0);
    expectMigratedContents(folder.dataFile());
}

TEST_F(MigrationTest, InterruptedEarlierRunIsStartedAfreshNotContinued) {
    seedOldFile();
    placeMasterCopy();
    exec(masterCopy(), "UPDATE t_def_data SET column_value = '300' WHERE column_name = "
                       "'window_top'");
    // Left by a run that stopped half-way: a partly filled work file and its journal.
    std::filesystem::copy_file(folder.dataFile(), folder.file("poston.mdb.new"));
    exec(folder.file("poston.mdb.new"), "INSERT INTO t_user VALUES ('GHOST', 'g', NULL, 2, 9)");
    writeBytes(folder.file("poston.mdb.new-journal"), std::string(1024, 'j'));

    CDbAccess db;
    EXPECT_EQ(db.migrateData(nullptr), 0);
    expectMigratedContents(folder.dataFile());
    expectOnlyFiles({"poston.mdb", backupName});
}

TEST_F(MigrationTest, WithoutAMasterCopyNothingHappens) {
    seedOldFile();
    const std::string before = readBytes(folder.dataFile());
    RecordedProgress progress;
    CDbAccess db;
    EXPECT_EQ(db.migrateData(&progress), 0);
    EXPECT_TRUE(progress.events.empty());
    EXPECT_EQ(readBytes(folder.dataFile()), before);
    expectOnlyFiles({"poston.mdb"});
}

TEST_F(MigrationTest, FirstStartTurnsTheMasterCopyIntoTheDataFile) {
    std::filesystem::remove(folder.dataFile());
    placeMasterCopy();
    RecordedProgress progress;
    CDbAccess db;
    EXPECT_EQ(db.migrateData(&progress), 0);
    expectOnlyFiles({"poston.mdb"});
    EXPECT_EQ(query(folder.dataFile(), "SELECT group_id, kengen FROM t_group ORDER BY 1"),
              (Table{{"1", "M"}, {"2", "<null>"}}));
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_def_data"), (Table{{"12"}}));
    // Empty tables show their caption and end, no position.
    EXPECT_EQ(progress.events, (std::vector<std::string>{
                                   "諸設定", "end", "グループ", "end", "ユーザ", "end", "メール",
                                   "end", "ログイン", "end", "メールエラー", "end"}));
}

TEST_F(MigrationTest, WhenNoBackupCanBeMadeTheDataFileStaysAndTheMasterCopyGoes) {
    seedOldFile();
    placeMasterCopy();
    writeBytes(folder.file(backupName), "an earlier backup");
    const std::string before = readBytes(folder.dataFile());

    CDbAccess db;
    EXPECT_EQ(db.migrateData(nullptr), -1);
    EXPECT_EQ(readBytes(folder.dataFile()), before);
    EXPECT_EQ(readBytes(folder.file(backupName)), "an earlier backup");
    expectOnlyFiles({"poston.mdb", backupName});
    EXPECT_EQ(db.existUser(CString("U9")), 0);
}

TEST_F(MigrationTest, ForeignDataFileIsKeptAsBackupUnchanged) {
    const std::string garbage = "not a database at all";
    writeBytes(folder.dataFile(), garbage);
    placeMasterCopy();
    CDbAccess db;
    EXPECT_EQ(db.migrateData(nullptr), 0);
    EXPECT_EQ(readBytes(folder.file(backupName)), garbage);
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_group"), (Table{{"2"}}));
}

TEST_F(MigrationTest, LargeTablesReportProgressSparingly) {
    exec(folder.dataFile(), R"sql(
        WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
        INSERT INTO t_login (user_id, login_date, ret_send) SELECT 'U', printf('%017d', i), '2' FROM n;
    )sql");
    placeMasterCopy();
    RecordedProgress progress;
    CDbAccess db;
    ASSERT_EQ(db.migrateData(&progress), 0);
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*), max(login_id) FROM t_login"),
              (Table{{"5000", "5000"}}));

    const auto begin = std::find(progress.events.begin(), progress.events.end(), "ログイン");
    const auto end = std::find(begin, progress.events.end(), "end");
    ASSERT_NE(end, progress.events.end());
    const std::vector<std::string> positions(begin + 1, end);
    EXPECT_LE(positions.size(), 102u);
    EXPECT_GE(positions.size(), 50u);
    EXPECT_EQ(positions.front(), "1/5000");
    EXPECT_EQ(positions.back(), "5000/5000");
}

} // namespace
