// The data folder at start-up: where it is, what it may hold, and when a new
// master copy is put in place for the migration.
#include "DataFolder.h"

#include "data/CDataFiles.h"
#include "data/CDbAccess.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

const std::string masterCopyName = "マスタ ～ poston.mdb";

void setAccessTime(const std::string& file, time_t seconds) {
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    const timeval times[2] = {{seconds, 0}, {status.st_mtim.tv_sec, 0}};
    ASSERT_EQ(::utimes(file.c_str(), times), 0);
}

class DataFilesTest : public ::testing::Test {
protected:
    DataFolder folder{false};

    void installMaster(time_t accessed) {
        std::filesystem::copy_file(masterFile(), folder.file("master.mdb"));
        setAccessTime(folder.file("master.mdb"), accessed);
    }
    void installData(time_t accessed) {
        writeBytes(folder.dataFile(), "current data");
        setAccessTime(folder.dataFile(), accessed);
    }
};

TEST_F(DataFilesTest, MasterFileHasTheSevenTablesAndTheKeysThatKeepItFast) {
    const Table tables =
        query(masterFile(), "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE "
                            "'t\\_%' ESCAPE '\\' ORDER BY name");
    EXPECT_EQ(tables, (Table{{"t_def_data"},
                             {"t_group"},
                             {"t_login"},
                             {"t_mail"},
                             {"t_mail_error"},
                             {"t_send"},
                             {"t_user"}}));
    EXPECT_EQ(query(masterFile(), "SELECT count(*), count(column_value) FROM t_def_data"),
              (Table{{"12", "0"}}));
    EXPECT_EQ(query(masterFile(), "SELECT count(*) FROM t_user UNION ALL SELECT count(*) FROM "
                                  "t_login UNION ALL SELECT count(*) FROM t_mail"),
              (Table{{"0"}, {"0"}, {"0"}}));
    // The due-visit query walks an index, not the whole visit table.
    const Table plan = query(
        masterFile(),
        "EXPLAIN QUERY PLAN SELECT g.group_name, f.user_id, f.user_name as from_name, m.mail as "
        "from_mail, b.login_id, b.login_date FROM t_user f, t_login b, t_group g, t_mail m WHERE "
        "f.user_id = b.user_id AND b.ret_send='1' AND f.group_id = g.group_id AND f.user_id = "
        "m.user_id AND (b.ret_send_date is null OR (b.ret_send_date is not null AND "
        "b.ret_send_date < '1')) ORDER BY b.login_date ASC");
    for (const auto& step : plan) {
        EXPECT_EQ(step.back().find("SCAN"), std::string::npos) << step.back();
        EXPECT_EQ(step.back().find("TEMP B-TREE"), std::string::npos) << step.back();
    }
}

TEST_F(DataFilesTest, FirstStartMakesAPrivateFolderAndPlacesAPrivateMasterCopy) {
    const std::string nested = folder.file("install/data/");
    std::filesystem::create_directory(folder.file("install"));
    EXPECT_FALSE(CDataFiles::prepare(CString(nested)));
    EXPECT_EQ(fileMode(nested), 0700u);
    EXPECT_TRUE(std::filesystem::is_empty(nested));

    std::filesystem::copy_file(masterFile(), nested + "master.mdb");
    EXPECT_TRUE(CDataFiles::prepare(CString(nested)));
    EXPECT_EQ(readBytes(nested + masterCopyName), readBytes(masterFile()));
    EXPECT_EQ(fileMode(nested + masterCopyName), 0600u);
    EXPECT_FALSE(fileExists(nested + "poston.mdb"));
}

// A folder shared by a group (setgid, as the installed terminal's) gives the
// group the same rights as the owner; any other folder stays private, also
// under a permissive umask.
TEST_F(DataFilesTest, ModesFollowWhetherTheParentIsSharedByAGroup) {
    struct Case {
        const char* name;
        mode_t parentMode;
        unsigned folderMode;
        unsigned fileMode;
    };
    const Case cases[] = {
        {"private", 0755, 0700, 0600},
        {"shared", 02770, 02770, 0660},
    };
    const mode_t saved = ::umask(022);
    for (const Case& c : cases) {
        const std::string parent = folder.file(c.name);
        std::filesystem::create_directory(parent);
        ::chmod(parent.c_str(), c.parentMode);
        const std::string data = parent + "/data/";
        std::filesystem::copy_file(masterFile(), parent + "/master.mdb");
        EXPECT_TRUE(CDataFiles::ensureFolder(CString(data))) << c.name;
        EXPECT_EQ(fileMode(data) & 07777u, c.folderMode) << c.name;
        EXPECT_TRUE(
            CDataFiles::copyFile(CString(parent + "/master.mdb"), CString(data + masterCopyName)))
            << c.name;
        EXPECT_EQ(fileMode(data + masterCopyName), c.fileMode) << c.name;
    }
    ::umask(saved);
}

TEST_F(DataFilesTest, NewerMasterFileIsCopiedAndAnOlderOneIsNot) {
    installMaster(1'000'000);
    installData(1'000'000);
    EXPECT_FALSE(CDataFiles::prepare(CString(folder.path())));
    EXPECT_FALSE(fileExists(folder.file(masterCopyName)));

    setAccessTime(folder.dataFile(), 999'999);
    EXPECT_TRUE(CDataFiles::prepare(CString(folder.path())));
    EXPECT_EQ(readBytes(folder.file(masterCopyName)), readBytes(masterFile()));
    EXPECT_EQ(readBytes(folder.dataFile()), "current data");
}

TEST_F(DataFilesTest, WaitingMasterCopyIsReportedEvenWithoutANewOne) {
    installMaster(1'000'000);
    installData(2'000'000);
    writeBytes(folder.file(masterCopyName), "left from an earlier start");
    EXPECT_TRUE(CDataFiles::prepare(CString(folder.path())));
    EXPECT_EQ(readBytes(folder.file(masterCopyName)), "left from an earlier start");
}

TEST_F(DataFilesTest, MissingMasterFileLeavesNothingBehind) {
    EXPECT_FALSE(CDataFiles::prepare(CString(folder.path())));
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(DataFilesTest, CopyReplacesTheTargetWholeAndDropsItsStaleJournal) {
    writeBytes(folder.file("from"), std::string(200'000, 'a'));
    ::chmod(folder.file("from").c_str(), 0644);
    writeBytes(folder.file("to"), "old");
    writeBytes(folder.file("to-journal"), "stale");
    EXPECT_TRUE(CDataFiles::copyFile(CString(folder.file("from")), CString(folder.file("to"))));
    EXPECT_EQ(readBytes(folder.file("to")), std::string(200'000, 'a'));
    EXPECT_EQ(fileMode(folder.file("to")), 0600u);
    EXPECT_FALSE(fileExists(folder.file("to-journal")));

    EXPECT_FALSE(CDataFiles::copyFile(CString(folder.file("none")), CString(folder.file("to"))));
    EXPECT_EQ(readBytes(folder.file("to")).size(), 200'000u);
}

TEST_F(DataFilesTest, DefaultDataFolderIsBesideTheProgramsFolder) {
    char program[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", program, sizeof program - 1), 0);
    const std::filesystem::path base = std::filesystem::path(program).parent_path().parent_path();
    EXPECT_EQ(CDataFiles::defaultFolder().str(), (base / "data").string() + "/");
    EXPECT_EQ(CDbAccess::connectSuffix().str().rfind(";PWD=", 0), 0u);
    EXPECT_EQ(CDbAccess::connectSuffix().GetLength(), 5 + 19);
}

} // namespace
