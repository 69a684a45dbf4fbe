// The statements and tables of both stores: every statement runs where it
// belongs, a server's tables are made and upgraded by steps in one
// transaction, a newer server is refused, and a server has the columns of
// the master file.
#include "data/CDbAccess.h"
#include "data/CPgConnection.h"
#include "data/CServerLink.h"
#include "data/CServerSchema.h"
#include "tests/support/TestServerStore.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

using namespace testsupport;
using State = CServerSchema::State;

std::unique_ptr<CPgConnection> connect(const std::string& uri) {
    CPgConnection::Settings settings;
    settings.uri = uri;
    CPgConnection::Opened why;
    std::string detail;
    return CPgConnection::open(settings, why, detail);
}

std::string schemaOf(const TestStore& store) {
    return store.text("SELECT version, min_writer FROM t_schema");
}

// Planned, not run: each statement with a value for each of its placeholders.
TEST(SqlCatalogueTest, EveryStatementIsWhereItBelongsAndEachStoreAcceptsItsBody) {
    TestServerStore server;
    const auto postgres = connect(server.uri());
    CMdbAccess sqlite(server.terminal().path(), CDbAccess::connectSuffix());
    const std::regex placeholder(R"(\?([a-z0-9_]+))");
    for (std::size_t i = 0; i < SqlCatalogue::size(); ++i) {
        const CStatement& statement = SqlCatalogue::statement(static_cast<Sql>(i));
        for (IDbConnection* store :
             {static_cast<IDbConnection*>(&sqlite), static_cast<IDbConnection*>(postgres.get())}) {
            const char* body = statement.body(store->dialect());
            EXPECT_TRUE(body || statement.oneStoreOnly()) << "statement " << i;
            if (!body)
                continue;
            CMapStringToString params;
            const std::string text = body;
            for (std::sregex_iterator m(text.begin(), text.end(), placeholder), end; m != end; ++m)
                params.SetAt((*m)[1].str(), "1");
            EXPECT_EQ(store->runStatement(CString("EXPLAIN ") + body, &params, nullptr), 0)
                << "statement " << i << ": " << body;
        }
    }
}

TEST(ServerSchemaTest, OlderTablesAreUpgradedWholeOrNotAtAllAndNewerOnesAreRefused) {
    TestServerStore server;
    const std::string uri = TestServerStore::emptyDatabase();
    const auto connection = connect(uri);
    std::string detail;
    ASSERT_EQ(CServerSchema::ensure(*connection, detail, 1), State::Created) << detail;
    ASSERT_EQ(connection->runScript(
                  "INSERT INTO t_user VALUES ('U', 'u', NULL, 2, 1);"
                  "INSERT INTO t_login (user_id, login_date, ret_send) VALUES ('U', '2026', '1');"
                  "INSERT INTO t_send (login_id, mail, state, tries) VALUES (1, 'u@x.jp', '1', 0)"),
              0);
    // A step that fails (its index exists already) leaves the tables as
    // they were, at their version.
    ASSERT_EQ(connection->runScript("CREATE INDEX t_login_user ON t_login (user_id)"), 0);
    EXPECT_EQ(CServerSchema::ensure(*connection, detail), State::Failed);
    CServerSchema::Found found;
    ASSERT_TRUE(CServerSchema::read(*connection, found));
    EXPECT_EQ(found.version, 1);
    ASSERT_EQ(connection->runScript("DROP INDEX t_login_user"), 0);
    EXPECT_EQ(CServerSchema::ensure(*connection, detail), State::Upgraded) << detail;
    EXPECT_EQ(CServerSchema::ensure(*connection, detail), State::Current);
    ASSERT_TRUE(CServerSchema::read(*connection, found));
    EXPECT_EQ(found.version, CServerSchema::kVersion);

    // Rows kept, new columns there; a newer server that this version may
    // still write to is used, one it may not is refused.
    const struct {
        int minWriter;
        State state;
    } cases[] = {{CServerSchema::kVersion, State::Current},
                 {CServerSchema::kVersion + 1, State::TooNew}};
    for (const auto& c : cases) {
        ASSERT_EQ(connection->runScript("UPDATE t_schema SET version = " +
                                        std::to_string(CServerSchema::kVersion + 1) +
                                        ", min_writer = " + std::to_string(c.minWriter)),
                  0);
        EXPECT_EQ(CServerSchema::ensure(*connection, detail), c.state);
    }
    CServerLink::forgetSchema();
    CServerLink::resetThisThread();
    server.becomeTerminal(1, "受付1");
    CStoreConfig config = CDbAccess::storeConfig();
    config.uri = uri;
    CDbAccess::setStoreConfig(config);
    // A terminal refuses to write, and keeps greeting from its own file.
    CDbAccess shared;
    CString login;
    EXPECT_EQ(shared.saveGroup("", "新", 3) + shared.ping(), -2);
    EXPECT_EQ(shared.lastError(), DbError::Unavailable);
    EXPECT_EQ(CDbAccess(CDbAccess::Store::Terminal).addLogin("U", "2026", login), 0);
    CServerLink::forgetSchema();
}

// Beyond these, a store's columns are the other's: a column added to one
// and forgotten on the other fails here.
TEST(ServerSchemaTest, AServerHasTheTablesAndColumnsOfTheMasterFile) {
    TestServerStore server;
    const std::set<std::string> onlyServer = {"t_mail.mail_no",          "t_send.claimed_by",
                                              "t_schema.version",        "t_schema.min_writer",
                                              "t_terminal.terminal_id",  "t_terminal.terminal_name",
                                              "t_roster_version.version"};
    const std::set<std::string> onlyFile = {"t_login.uploaded"};
    std::set<std::string> file, postgres;
    for (const auto& row : server.terminal().query(
             "SELECT m.name || '.' || p.name FROM sqlite_master m, pragma_table_info(m.name) p "
             "WHERE m.type = 'table' AND m.name LIKE 't\\_%' ESCAPE '\\'"))
        if (!onlyFile.count(row[0]))
            file.insert(row[0]);
    for (const auto& row : server.query("SELECT table_name || '.' || column_name FROM "
                                        "information_schema.columns WHERE table_schema = "
                                        "'public'"))
        if (!onlyServer.count(row[0]))
            postgres.insert(row[0]);
    EXPECT_EQ(file, postgres);
    EXPECT_EQ(schemaOf(server), std::to_string(CServerSchema::kVersion) + " 2;");
}

} // namespace
