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

// The tables are built once per cluster into a template that every store
// copies; the processes sharing the cluster take turns, and the template
// gets its name only once it is complete.
void buildTemplate(iotest::CPgTestCluster& cluster) {
    pg_conn* admin = PQconnectdb(cluster.uri("postgres").c_str());
    if (PQstatus(admin) != CONNECTION_OK)
        throw std::runtime_error("the test cluster does not answer: see " + cluster.folder());
    run(admin, "SELECT pg_advisory_lock(4792301)");
    PGresult* found = PQexec(admin, "SELECT 1 FROM pg_database WHERE datname = 'poston_template'");
    const bool present = PQntuples(found) == 1;
    PQclear(found);
    std::string detail = "ok";
    if (!present) {
        const std::string building = std::string(kTemplate) + "_building";
        run(admin, "DROP DATABASE IF EXISTS " + building);
        run(admin, "CREATE DATABASE " + building + " TEMPLATE template0 ENCODING 'UTF8'");
        CPgConnection::Settings settings;
        settings.uri = cluster.uri(building);
        CPgConnection::Opened why;
        auto connection = CPgConnection::open(settings, why, detail);
        if (connection &&
            CServerSchema::ensure(*connection, detail) == CServerSchema::State::Created)
            detail = "ok";
        connection.reset();
        if (detail == "ok")
            run(admin, "ALTER DATABASE " + building + " RENAME TO " + kTemplate);
    }
    run(admin, "SELECT pg_advisory_unlock(4792301)");
    PQfinish(admin);
    if (detail != "ok")
        throw std::runtime_error("the server's tables could not be made: " + detail);
}

} // namespace

iotest::CPgTestCluster& TestServerStore::cluster() {
    static const auto shared = [] {
        std::unique_ptr<iotest::CPgTestCluster> made;
        if (fileExists(std::string(POSTON_TEST_PG) + "/data/postmaster.pid"))
            made = iotest::CPgTestCluster::shared(POSTON_TEST_PG);
        if (!made || !made->ready())
            made = std::make_unique<iotest::CPgTestCluster>();
        buildTemplate(*made);
        return made;
    }();
    return *shared;
}

std::string TestServerStore::database() {
    return "poston_" + std::to_string(::getpid());
}

namespace {

void recreate(const std::string& name, const std::string& from) {
    pg_conn* admin = PQconnectdb(TestServerStore::cluster().uri("postgres").c_str());
    try {
        run(admin, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        run(admin, "CREATE DATABASE " + name + " TEMPLATE " + from);
    } catch (...) {
        PQfinish(admin);
        throw;
    }
    PQfinish(admin);
}

} // namespace

std::string TestServerStore::emptyDatabase() {
    recreate(database() + "_empty", "template0");
    return cluster().uri(database() + "_empty");
}

TestServerStore::TestServerStore(long long terminalId) {
    recreate(database(), kTemplate);
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
