// The statement layer: placeholders become bound values, never SQL text; a
// statement that cannot run is an empty result; no file is made or changed
// by a failure.
#include "data/CDbAccess.h"
#include "data/CMdbAccess.h"
#include "tests/support/TestDataFile.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using namespace testsupport;

CMapStringToString params(const std::string& name, const std::string& value) {
    CMapStringToString map;
    map.SetAt(name, value);
    return map;
}

class MdbAccessTest : public ::testing::Test {
protected:
    TestDataFile data;
    CMdbAccess mdb{data.path(), CDbAccess::connectSuffix()};
};

// What a new group's order_id holds, or nullptr when the statement may not run.
TEST_F(MdbAccessTest, APlaceholderBindsItsValueOrTheStatementDoesNotRun) {
    // clang-format off
    const struct { const char* sql; const char* value; const char* stored; } cases[] = {
        {"?v", "null", "null <null>"}, {"?v", "'it''s'", "text it''s"}, {"?v", "''", "text "},
        {"?v", "-42", "integer -42"}, {"?v", "1.5", "real 1.5"}, {"'?v'", "1 OR 1", "text 1 OR 1"},
        {"?v", "", nullptr}, {"?v", "abc", nullptr}, {"?v", "1 OR 1=1", nullptr},
        {"?v", "'unclosed", nullptr}, {"?v", "1e5", nullptr}, {"?v", "0x10", nullptr},
        {"?v", "99999999999999999999999", nullptr}, {"?v", "1); DELETE FROM t_user; --", nullptr},
        {"?other", "1", nullptr}, {"?", "1", nullptr}, {"1); DELETE FROM t_def_data; SELECT (1", "", nullptr}};
    // clang-format on
    for (const auto& c : cases) {
        data.script("DELETE FROM t_group WHERE group_id > 2");
        const CMapStringToString values = params("v", c.value);
        const std::string sql = std::string("INSERT INTO t_group (group_name, order_id) VALUES "
                                            "('n', ") +
                                c.sql + ")";
        EXPECT_EQ(mdb.insertMdb(sql, &values), c.stored ? 0 : -1) << c.sql << " " << c.value;
        EXPECT_EQ(data.value("SELECT typeof(order_id) || ' ' || COALESCE(order_id, '<null>') "
                             "FROM t_group WHERE group_id > 2"),
                  c.stored ? c.stored : "<none>");
    }
    EXPECT_EQ(data.value("SELECT count(*) FROM t_def_data"), "27");
}

TEST_F(MdbAccessTest, MissingOrForeignFilesGiveEmptyResultsAndStayAsTheyAre) {
    std::remove(data.path().c_str());
    writeBytes(data.file("foreign.mdb"), "no database\n" + std::string(5000, 'x'));
    writeBytes(data.file("empty.mdb"), "");
    const CMapStringToString user = params("user_id", "U");
    for (const char* name : {"poston.mdb", "foreign.mdb", "empty.mdb", "none/poston.mdb"}) {
        const std::string path = data.file(name);
        const std::string before = readBytes(path);
        const bool existed = fileExists(path);
        CMdbAccess other(path, CDbAccess::connectSuffix());
        NVKTL::vector<CMapStringToString*> rows;
        EXPECT_EQ(other.selectMdb("SELECT * FROM t_group", &rows, nullptr), -1) << name;
        EXPECT_EQ(other.insertMdb("INSERT INTO t_user (user_id) VALUES ('?user_id')", &user), -1);
        EXPECT_EQ(other.beginBatch(), -1);
        EXPECT_TRUE(rows.empty());
        EXPECT_EQ(readBytes(path), before) << name;
        EXPECT_EQ(fileExists(path), existed) << name;
    }
}

} // namespace
