// The statements and tables of both stores: every statement runs where it
// belongs (so a column that one store lacks fails here), and a server's
// tables are made and upgraded by steps in one transaction, a newer server
// refused.
#include "data/CDbAccess.h"
#include "data/CPgConnection.h"
#include "data/CServerLink.h"
#include "data/CServerSchema.h"
#include "tests/support/TestServerStore.h"

#include <gtest/gtest.h>

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

// Planned, not run: each statement with a value for each of its placeholders.
TEST(SqlCatalogueTest, EveryStatementIsWhereItBelongsAndEachStoreAcceptsItsBody) {
    TestServerStore server;
    const auto postgres = connect(server.uri());
    CMdbAccess sqlite(server.terminal().path(), CDbAccess::connectSuffix());
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
            for (std::size_t at = text.find('?'); at != std::string::npos;
                 at = text.find('?', at + 1)) {
                const std::size_t end =
                    text.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", at + 1);
                params.SetAt(text.substr(at + 1, end - at - 1), "1");
            }
            EXPECT_EQ(store->runStatement(CString("EXPLAIN ") + body, &params, nullptr), 0)
                << "statement " << i << ": " << body;
        }
    }
}

TEST(ServerSchemaTest, OlderTablesAreUpgradedWholeOrNotAtAllAndNewerOnesAreRefused) {
    TestServerStore server;
    const std::string empty = TestServerStore::database() + "_empty";
    ASSERT_TRUE(TestServerStore::cluster().freshDatabase(empty));
    const std::string uri = TestServerStore::cluster().uri(empty);
    const auto connection = connect(uri);
    std::string detail;
    ASSERT_EQ(CServerSchema::ensure(*connection, detail, 1), State::Created) << detail;
    ASSERT_EQ(
        connection->runScript(
            "INSERT INTO t_user VALUES ('U', 'u', NULL, 2, 1);"
            "INSERT INTO t_login (user_id, login_date, ret_send) VALUES ('U', '2026', '1');"
            "INSERT INTO t_send (login_id, mail, state, tries) VALUES (1, 'u@x.jp', '1', 0);"
            "INSERT INTO t_mail (user_id, mail) VALUES ('U', 'Taro@x.jp'), ('U', 'taro@x.jp')"),
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

    // The rows are kept, with the new columns, and of two spellings of one
    // address the first; tables of a newer version are used while they let
    // this version write, and refused once they do not.
    std::string kept;
    const IDbConnection::RowVisitor take = [&kept](CMapStringToString& row) {
        kept += (row.Value("state") + row.Value("claimed_by") + row.Value("message_id") +
                 row.Value("user_id") + " ")
                    .str();
    };
    connection->runStatement("SELECT s.state, s.claimed_by, s.message_id, b.user_id FROM t_send s "
                             "JOIN t_login b USING (login_id) UNION ALL SELECT NULL, NULL, NULL, "
                             "mail FROM t_mail",
                             nullptr, &take);
    EXPECT_EQ(kept, "1U Taro@x.jp ");
    for (const auto& [minWriter, state] : {std::pair{CServerSchema::kVersion, State::Current},
                                           std::pair{CServerSchema::kVersion + 1, State::TooNew}}) {
        connection->runScript("UPDATE t_schema SET version = 99, min_writer = " +
                              std::to_string(minWriter));
        EXPECT_EQ(CServerSchema::ensure(*connection, detail), state);
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

} // namespace
