#include "tests/support/TestServerStore.h"

#include "data/CDbAccess.h"
#include "data/CPgConnection.h"
#include "data/CServerLink.h"
#include "data/CServerSchema.h"

#include <libpq-fe.h>

#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr const char* kTemplate = "poston_template";

// "?" placeholders as the server numbers them, outside quoted text.
std::string numbered(const std::string& sql) {
    std::string out;
    bool quoted = false;
    int count = 0;
    for (const char c : sql) {
        if (c == '\'')
            quoted = !quoted;
        if (c == '?' && !quoted)
            out += "$" + std::to_string(++count);
        else
            out += c;
    }
    return out;
}

void run(pg_conn* connection, const std::string& sql) {
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    const std::string message = PQresultErrorMessage(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(message + sql);
}

} // namespace

// The tables are built once per cluster into a template that every store
// copies.
iotest::CPgTestCluster& TestServerStore::cluster() {
    static const auto shared = [] {
        auto made = iotest::CPgTestCluster::sharedOrOwn(POSTON_TEST_PG);
        const bool built = made->ready() && made->makeOnce(kTemplate, [](const std::string& uri) {
            CPgConnection::Settings settings;
            settings.uri = uri;
            CPgConnection::Opened why;
            std::string detail;
            const auto connection = CPgConnection::open(settings, why, detail);
            return connection &&
                   CServerSchema::ensure(*connection, detail) == CServerSchema::State::Created;
        });
        if (!built)
            throw std::runtime_error("no test cluster with the server's tables: see " +
                                     made->folder());
        return made;
    }();
    return *shared;
}

std::string TestServerStore::database() {
    return "poston_" + std::to_string(::getpid());
}

TestServerStore::TestServerStore(long long terminalId) {
    if (!cluster().copyDatabase(database(), kTemplate))
        throw std::runtime_error("cannot make the test database");
    // The thread's connection went with the database it was made to.
    CServerLink::resetThisThread();
    becomeTerminal(terminalId, "受付" + std::to_string(terminalId));
}

TestServerStore::~TestServerStore() {
    if (m_connection)
        PQfinish(m_connection);
    CDbAccess::setStoreConfig(CStoreConfig{});
    CServerLink::resetThisThread();
}

std::string TestServerStore::uri() const {
    return cluster().uri(database());
}

void TestServerStore::becomeTerminal(long long id, const std::string& name) const {
    CStoreConfig config;
    config.uri = uri();
    config.terminalId = id;
    config.terminalName = name;
    CDbAccess::setStoreConfig(config);
}

pg_conn* TestServerStore::connection() const {
    if (m_connection && PQstatus(m_connection) != CONNECTION_OK) {
        PQfinish(m_connection);
        m_connection = nullptr;
    }
    if (!m_connection)
        m_connection = PQconnectdb(uri().c_str());
    if (PQstatus(m_connection) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(m_connection));
    return m_connection;
}

Rows TestServerStore::query(const std::string& sql, const std::vector<std::string>& values) const {
    std::vector<const char*> params;
    for (const std::string& value : values)
        params.push_back(value.c_str());
    PGresult* result =
        PQexecParams(connection(), numbered(sql).c_str(), static_cast<int>(params.size()), nullptr,
                     params.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        const std::string message = PQresultErrorMessage(result);
        PQclear(result);
        throw std::runtime_error(message + sql);
    }
    Rows rows;
    for (int r = 0; r < PQntuples(result); ++r) {
        rows.emplace_back();
        for (int c = 0; c < PQnfields(result); ++c)
            rows.back().push_back(PQgetisnull(result, r, c) ? "<null>" : PQgetvalue(result, r, c));
    }
    PQclear(result);
    return rows;
}

void TestServerStore::script(const std::string& sql) const {
    run(connection(), sql);
}

void TestServerStore::refuseWrites(const std::string& table) const {
    script("CREATE OR REPLACE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
           "RAISE EXCEPTION 'not stored'; END $$; CREATE TRIGGER refuse_" +
           table + " BEFORE INSERT OR UPDATE OR DELETE ON " + table +
           " FOR EACH STATEMENT EXECUTE FUNCTION refuse()");
}

void TestServerStore::allowWrites(const std::string& table) const {
    script("DROP TRIGGER refuse_" + table + " ON " + table);
}

std::unique_ptr<TestStore> makeTestStore(StoreKind kind) {
    if (kind == StoreKind::Server)
        return std::make_unique<TestServerStore>();
    return std::make_unique<TestDataFile>();
}

std::string storeKindName(StoreKind kind) {
    return kind == StoreKind::Server ? "Server" : "File";
}

} // namespace testsupport
