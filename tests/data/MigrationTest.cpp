// The files of the data folder: the master copy laid out at start-up and the
// migration that moves the data file's contents into it.
#include "data/CDataFiles.h"
#include "data/CDbAccess.h"
#include "nvktl/CTime.h"
#include "tests/support/TestDataFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/time.h>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

const std::string masterCopy = "マスタ ～ poston.mdb";
const std::string backup = "bk20261205101530123.mdb";

// A master copy whose window_top differs from the data file's.
void placeMasterCopy(const TestDataFile& data) {
    fs::copy_file(masterFile(), data.file(masterCopy), fs::copy_options::overwrite_existing);
    queryFile(data.file(masterCopy), "UPDATE t_def_data SET column_value = '3' WHERE column_name "
                                     "= 'window_top'");
}

class MigrationTest : public ::testing::Test {
protected:
    TestDataFile data;
    NVKTL::CTestClock clock{NVKTL::CTime(2026, 12, 6, 5, 10, 15, 30, 123)};
};

// An old data file, from before deliveries were kept, with ids that a fresh
// file would not hand out, arrives whole; the old file stays as backup.
TEST_F(MigrationTest, EveryTableArrivesWithItsIdsAgainAndAfterAnInterruptedRun) {
    data.script(R"sql(
        ALTER TABLE t_user DROP COLUMN notice_off;
        ALTER TABLE t_login DROP COLUMN login_kind;
        UPDATE t_def_data SET column_value = '管理人' WHERE column_name = 'mail_user';
        DELETE FROM t_def_data WHERE column_name = 'window_top';
        INSERT INTO t_def_data VALUES ('obsolete_key', 'x');
        UPDATE t_group SET group_name = '先生' WHERE group_id = 1;
        INSERT INTO t_group VALUES (5, '5組', 'M', 'x', 3);
        INSERT INTO t_user VALUES ('T1', 'it''s me', 't1@x.jp', 1, 1);
        INSERT INTO t_user VALUES ('U5', 'five', NULL, 5, 2);
        DROP TABLE t_mail;
        CREATE TABLE t_mail (user_id TEXT, mail TEXT);
        CREATE UNIQUE INDEX t_mail_user_mail ON t_mail (user_id, mail);
        INSERT INTO t_mail VALUES ('T1', 't1@x.jp');
        INSERT INTO t_mail VALUES ('T1', 'T1@X.JP');
        INSERT INTO t_mail VALUES ('U5', 'u5@x.jp');
        INSERT INTO t_login (login_id, user_id, login_date, ret_send, ret_send_date, terminal)
            VALUES (3, 'T1', '20261201080000000', '2', '20261201080001000', '入口');
        INSERT INTO t_login (login_id, user_id, login_date, ret_send, ret_send_date)
            VALUES (7, 'U5', '20261202080000000', '1', NULL);
        INSERT INTO t_mail_error VALUES (4, 3, 'T1', 't1@x.jp', '20261201080001000', 'x''y');
        DROP TABLE t_send;
    )sql");
    const std::string oldFile = readBytes(data.path());
    const auto expectContents = [&](const std::string& deliveries) {
        EXPECT_EQ(data.text("SELECT * FROM t_def_data WHERE column_value <> ''"),
                  "mail_user 管理人;window_top 3;");
        EXPECT_EQ(data.text("SELECT * FROM t_group"),
                  "1 先生 M 1 1;2 一般 <null> <null> 2;5 5組 <null> <null> 3;");
        EXPECT_EQ(data.text("SELECT * FROM t_user"),
                  "T1 it's me t1@x.jp 1 1 <null>;U5 five <null> 5 2 <null>;");
        EXPECT_EQ(data.text("SELECT * FROM t_mail ORDER BY 1, 2"), "T1 t1@x.jp;U5 u5@x.jp;");
        EXPECT_EQ(data.text("SELECT * FROM t_login"),
                  "3 T1 20261201080000000 2 20261201080001000 入口 <null> 来所;7 U5 "
                  "20261202080000000 1 <null> <null> <null> 来所;");
        EXPECT_EQ(data.text("SELECT * FROM t_mail_error"), "4 3 T1 t1@x.jp 20261201080001000 x'y;");
        EXPECT_EQ(data.text("SELECT login_id, mail, user_name, group_name, state, claim_until, "
                            "message_id, message_date FROM t_send"),
                  deliveries);
        EXPECT_EQ(listFolder(data.folder()), backup + ";poston.mdb;");
    };
    placeMasterCopy(data);
    CDbAccess db;
    EXPECT_EQ(db.migrateData(nullptr), 0);
    // The due visit goes to the addresses of this moment; a second spelling
    // of an address is the same mailbox and arrives once.
    expectContents("7 u5@x.jp five 5組 1 <null> <null> <null>;");
    EXPECT_EQ(readBytes(data.file(backup)), oldFile);
    EXPECT_EQ(fileMode(data.path()), 0600u);

    // Again, from a file that keeps deliveries (one from before the Date was
    // kept), after a run that stopped half-way and left a partly filled work
    // file and its journal. Of two deliveries of one visit to spellings of
    // one address, the one that went out stays.
    data.script("DROP INDEX t_send_login_mail; CREATE UNIQUE INDEX t_send_login_mail ON t_send "
                "(login_id, mail COLLATE BINARY);"
                "UPDATE t_send SET claim_until = '20991231000000000', message_id = '<a@x.jp>';"
                "INSERT INTO t_send (login_id, mail, user_name, group_name, state, tries) VALUES "
                "(3, 'T1@x.jp', 'T', 'G', '1', 0), (3, 't1@x.jp', 'T', 'G', '2', 1);"
                "ALTER TABLE t_send DROP COLUMN message_date");
    fs::remove(data.file(backup));
    placeMasterCopy(data);
    fs::copy_file(data.path(), data.file("poston.mdb.new"));
    queryFile(data.file("poston.mdb.new"), "INSERT INTO t_user (user_id) VALUES ('GHOST')");
    writeBytes(data.file("poston.mdb.new-journal"), std::string(1024, 'j'));
    EXPECT_EQ(db.migrateData(nullptr), 0);
    // Kept deliveries arrive as they were, without their claims.
    expectContents(
        "7 u5@x.jp five 5組 1 <null> <a@x.jp> <null>;3 t1@x.jp T G 2 <null> <null> <null>;");
    // The same object goes on with the new file, after the kept ids.
    CString loginId;
    EXPECT_EQ(db.addLogin("T1", "20261205101530123", loginId) + db.saveGroup("", "new", 5), 0);
    EXPECT_EQ(loginId.str() + data.value("SELECT max(group_id) FROM t_group"), "86");
}

// Outcome: result, the folder's files, whether the data file is the old one,
// the backup's bytes.
TEST_F(MigrationTest, TheDataFileIsReplacedOnlyWhenTheMoveIsComplete) {
    const struct {
        std::function<void(const TestDataFile&)> before;
        std::string outcome;
    } cases[] = {
        {[](const TestDataFile& d) { fs::remove(d.file(masterCopy)); }, "0 poston.mdb; old "},
        {[](const TestDataFile& d) { fs::remove(d.path()); }, "0 poston.mdb; new "},
        {[](const TestDataFile& d) { writeBytes(d.file(backup), "earlier"); },
         "-1 " + backup + ";poston.mdb; old earlier"},
        {[](const TestDataFile& d) { writeBytes(d.path(), "no database"); },
         "0 " + backup + ";poston.mdb; new no database"},
    };
    for (const auto& c : cases) {
        TestDataFile file;
        placeMasterCopy(file);
        c.before(file);
        const std::string old = readBytes(file.path());
        CDbAccess db;
        const int result = db.migrateData(nullptr);
        EXPECT_EQ(std::to_string(result) + " " + listFolder(file.folder()) +
                      (readBytes(file.path()) == old ? " old " : " new ") +
                      readBytes(file.file(backup)),
                  c.outcome);
    }
}

// Outcome: what prepare says, then the master copy's bytes.
TEST(DataFolderTest, AMasterCopyIsLaidOutForANewFolderOrANewerMasterFile) {
    // clang-format off
    const struct { time_t master, data; bool waiting; std::string outcome; } cases[] = {
        {0, 0, false, "0 "},                          // nothing installed
        {1'000'000, 0, false, "1 master.mdb"},        // first start
        {1'000'000, 999'999, false, "1 master.mdb"},  // a newer master file
        {1'000'000, 1'000'000, false, "0 "},          // as old as the data file
        {1'000'000, 2'000'000, true, "1 left"}};      // a copy from an earlier start
    // clang-format on
    // Private, also under a permissive umask (the installed terminal's shared
    // folder is checked by the package tests).
    const mode_t saved = ::umask(022);
    for (const auto& c : cases) {
        TestDataFile data(false);
        const std::string folder = data.file("data/");
        for (const auto& [name, at] : {std::pair{"master.mdb", c.master}, {"poston.mdb", c.data}}) {
            if (!at)
                continue;
            CDataFiles::ensureFolder(folder);
            writeBytes(folder + name, name);
            const timeval times[2] = {{at, 0}, {at, 0}};
            ::utimes((folder + name).c_str(), times);
        }
        if (c.waiting)
            writeBytes(folder + masterCopy, "left");
        const bool prepared = CDataFiles::prepare(folder);
        EXPECT_EQ(std::to_string(prepared) + " " + readBytes(folder + masterCopy), c.outcome);
        EXPECT_EQ(readBytes(folder + "poston.mdb"), c.data ? "poston.mdb" : "");
        EXPECT_EQ(fileMode(folder), 0700u);
        if (c.outcome == "1 master.mdb") {
            EXPECT_EQ(fileMode(folder + masterCopy), 0600u);
        }
    }
    ::umask(saved);
    // A data file of an older layout than the master file's is migrated,
    // however recently it was read.
    TestDataFile data;
    queryFile(data.path(), "PRAGMA user_version = 2");
    fs::copy_file(masterFile(), data.file("master.mdb"));
    const timeval old[2] = {{1'000'000, 0}, {1'000'000, 0}};
    ::utimes(data.file("master.mdb").c_str(), old);
    EXPECT_TRUE(CDataFiles::prepare(data.folder()));
}

} // namespace
