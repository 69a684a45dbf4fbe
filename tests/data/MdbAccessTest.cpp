// The statement layer: placeholders become bound values, never SQL text; a
// statement that cannot run is an empty result; files are never created or
// overwritten by it.
#include "DataFolder.h"

#include "data/CDbAccess.h"
#include "data/CMdbAccess.h"

#include <cstdio>

namespace {

CMapStringToString params(std::initializer_list<std::pair<const char*, std::string>> entries) {
    CMapStringToString map;
    for (const auto& [name, value] : entries)
        map.SetAt(CString(name), CString(value));
    return map;
}

class MdbAccessTest : public DataTest {
protected:
    CMdbAccess mdb{CString(folder.dataFile()), CDbAccess::connectSuffix()};

    // Inserts one t_login row whose ret_send_date comes from a bare
    // placeholder; returns the insert's result.
    int insertBare(const std::string& value) {
        const CMapStringToString values = params({{"value", value}});
        return mdb.insertMdb(CString("INSERT INTO t_login (user_id, ret_send_date) VALUES ('bare', "
                                     "?value)"),
                             &values);
    }
    Table bareRows() {
        return query(folder.dataFile(), "SELECT typeof(ret_send_date), ret_send_date FROM t_login "
                                        "WHERE user_id = 'bare'");
    }
};

TEST_F(MdbAccessTest, BarePlaceholderTakesNullQuotedTextOrNumberAndRejectsAnythingElse) {
    EXPECT_EQ(insertBare("null"), 0);
    EXPECT_EQ(insertBare("'it''s'"), 0); // only the outer quotes go
    EXPECT_EQ(insertBare("''"), 0);
    EXPECT_EQ(insertBare("-42"), 0);
    EXPECT_EQ(bareRows(), (Table{{"null", "<null>"},
                                 {"text", "it''s"},
                                 {"text", ""},
                                 {"text", "-42"}})); // the text column keeps the number as text

    exec(folder.dataFile(), "DELETE FROM t_login");
    for (const char* invalid : {"", "abc", "1; DELETE FROM t_user", "1 OR 1=1", "'unclosed", "1e5",
                                "0x10", "99999999999999999999999"})
        EXPECT_EQ(insertBare(invalid), -1) << invalid;
    EXPECT_TRUE(bareRows().empty());

    // A number column receives the number itself.
    const CMapStringToString order = params({{"order_id", "7"}, {"group_name", "g"}});
    mdb.insertMdb(CString("INSERT INTO t_group (group_name, order_id) VALUES ('?group_name', "
                          "?order_id)"),
                  &order);
    EXPECT_EQ(
        query(folder.dataFile(), "SELECT typeof(order_id) FROM t_group WHERE group_name = 'g'"),
        (Table{{"integer"}}));
}

TEST_F(MdbAccessTest, TemplatesThatCannotBeBoundFailWithoutEffect) {
    const CMapStringToString none;
    const CMapStringToString user = params({{"user_id", "U1"}, {"unused", "x"}});
    const CString insert("INSERT INTO t_user (user_id, user_name) VALUES ('?user_id', 'n')");
    // A placeholder without a value, or a lone "?", never runs.
    EXPECT_EQ(mdb.insertMdb(insert, &none), -1);
    EXPECT_EQ(mdb.insertMdb(insert, nullptr), -1);
    EXPECT_EQ(mdb.insertMdb(CString("INSERT INTO t_user (user_id) VALUES (?)"), &user), -1);
    // A second statement in one call is refused, not run.
    EXPECT_EQ(
        mdb.deleteMdb(CString("DELETE FROM t_group WHERE group_id = 2; DELETE FROM t_def_data"),
                      nullptr),
        -1);
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_group"), (Table{{"2"}}));
    EXPECT_EQ(query(folder.dataFile(), "SELECT count(*) FROM t_def_data"), (Table{{"12"}}));
    // Entries that no placeholder names are ignored.
    EXPECT_EQ(mdb.insertMdb(insert, &user), 0);
    EXPECT_EQ(query(folder.dataFile(), "SELECT user_id, user_name FROM t_user"),
              (Table{{"U1", "n"}}));
}

TEST_F(MdbAccessTest, RowsAreKeyedByAliasOrBareColumnWithNullAsEmptyText) {
    NVKTL::vector<CMapStringToString*> rows;
    EXPECT_EQ(mdb.selectMdb(CString("SELECT g.group_id, g.delete_flg, MAX(g.order_id) as max_id, "
                                    "'q''s' as quoted FROM t_group g WHERE g.group_id = 2"),
                            &rows, nullptr),
              0);
    EXPECT_EQ(takeRows(rows),
              (Rows{{{"group_id", "2"}, {"delete_flg", ""}, {"max_id", "2"}, {"quoted", "q's"}}}));
    EXPECT_EQ(rows.size(), 0u);

    const CMapStringToString wanted = params({{"kengen", "M"}});
    mdb.selectMdb(CString("SELECT * FROM t_group WHERE kengen = '?kengen'"), &rows, &wanted);
    EXPECT_EQ(takeRows(rows), (Rows{{{"group_id", "1"},
                                     {"group_name", "管理者"},
                                     {"kengen", "M"},
                                     {"delete_flg", "1"},
                                     {"order_id", "1"}}}));
}

TEST_F(MdbAccessTest, QuotedNumberComparesWithANumberColumn) {
    // The migration compares group_id with '?group_id'.
    const CMapStringToString group = params({{"group_id", "2"}, {"group_name", "new"}});
    mdb.updateMdb(CString("UPDATE t_group SET group_name = '?group_name' WHERE group_id = "
                          "'?group_id'"),
                  &group);
    EXPECT_EQ(query(folder.dataFile(), "SELECT group_name FROM t_group WHERE group_id = 2"),
              (Table{{"new"}}));
}

TEST_F(MdbAccessTest, NoHandleOutlivesACallSoTheFileCanBeReplacedUnderTheObject) {
    const CMapStringToString user = params({{"user_id", "OLD"}});
    mdb.insertMdb(CString("INSERT INTO t_user (user_id) VALUES ('?user_id')"), &user);
    ASSERT_EQ(std::rename(folder.dataFile().c_str(), folder.file("moved.mdb").c_str()), 0);
    EXPECT_FALSE(fileExists(folder.dataFile() + "-journal"));

    NVKTL::vector<CMapStringToString*> rows;
    EXPECT_EQ(mdb.selectMdb(CString("SELECT user_id FROM t_user"), &rows, nullptr), -1);

    writeBytes(folder.dataFile(), readBytes(masterFile()));
    EXPECT_EQ(mdb.selectMdb(CString("SELECT user_id FROM t_user"), &rows, nullptr), 0);
    EXPECT_EQ(rows.size(), 0u);
    EXPECT_EQ(query(folder.file("moved.mdb"), "SELECT user_id FROM t_user"), (Table{{"OLD"}}));
}

TEST_F(MdbAccessTest, BatchIsWrittenWholeOrNotAtAll) {
    const CMapStringToString one = params({{"user_id", "A"}});
    const CMapStringToString two = params({{"user_id", "B"}});
    const CString insert("INSERT INTO t_user (user_id) VALUES ('?user_id')");

    ASSERT_EQ(mdb.beginBatch(), 0);
    EXPECT_EQ(mdb.beginBatch(), -1);
    mdb.insertMdb(insert, &one);
    EXPECT_EQ(mdb.insertMdb(insert, &one), -1); // the key refuses a twin; the batch goes on
    mdb.insertMdb(insert, &two);
    EXPECT_EQ(mdb.endBatch(false), 0);
    EXPECT_TRUE(query(folder.dataFile(), "SELECT user_id FROM t_user").empty());

    ASSERT_EQ(mdb.beginBatch(), 0);
    mdb.insertMdb(insert, &one);
    mdb.insertMdb(insert, &two);
    EXPECT_EQ(mdb.endBatch(true), 0);
    EXPECT_EQ(query(folder.dataFile(), "SELECT user_id FROM t_user ORDER BY user_id"),
              (Table{{"A"}, {"B"}}));
    EXPECT_EQ(mdb.endBatch(true), -1);
}

TEST_F(MdbAccessTest, MissingOrForeignFilesGiveEmptyResultsAndStayAsTheyAre) {
    const std::string garbage = "this is no database\n" + std::string(5000, 'x');
    writeBytes(folder.file("foreign.mdb"), garbage);
    writeBytes(folder.file("empty.mdb"), "");
    const CMapStringToString user = params({{"user_id", "U"}});
    for (const char* name : {"missing.mdb", "foreign.mdb", "empty.mdb", "no-folder/poston.mdb"}) {
        SCOPED_TRACE(name);
        const std::string path = folder.file(name);
        const std::string before = readBytes(path);
        CMdbAccess other(CString(path), CDbAccess::connectSuffix());
        NVKTL::vector<CMapStringToString*> rows;
        EXPECT_EQ(other.selectMdb(CString("SELECT * FROM t_user"), &rows, nullptr), -1);
        EXPECT_EQ(rows.size(), 0u);
        EXPECT_EQ(
            other.insertMdb(CString("INSERT INTO t_user (user_id) VALUES ('?user_id')"), &user),
            -1);
        EXPECT_EQ(other.deleteMdb(CString("DELETE FROM t_user"), nullptr), -1);
        other.beginBatch();
        other.endBatch(true);
        EXPECT_EQ(readBytes(path), before);
    }
    EXPECT_FALSE(fileExists(folder.file("missing.mdb")));
    EXPECT_FALSE(fileExists(folder.file("no-folder")));

    // Every operation on a data folder without a data file finds nothing.
    DataFolder bare(false);
    CDbAccess db;
    CString name("untouched");
    CString mail("untouched");
    CString group("untouched");
    EXPECT_EQ(db.existUser(CString("U")), -1);
    EXPECT_EQ(db.getUser(CString("U"), name, mail, group), -1);
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(db.getGroupMaxOrder(), 0);
    // A write that found no file says so, and makes none.
    EXPECT_EQ(db.saveUser(CString("U"), CString("n"), CString(), CString("1"), 1), -1);
    EXPECT_FALSE(fileExists(bare.dataFile()));
}

} // namespace
