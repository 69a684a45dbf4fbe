#pragma once

#include "data/IDbConnection.h"

#include <memory>
#include <string>

struct pg_conn;

// One connection to a PostgreSQL server through libpq: the only place that
// knows libpq. Every wait is bounded: the connection is made and every
// statement answered within the time-out, or the connection is given up as
// broken (keepalives and tcp_user_timeout also notice a silent peer early).
// Values travel as bound text parameters; a text placeholder is sent as
// text, a number as bigint or double precision, so the server never guesses
// a type from a value.
class CPgConnection : public IDbConnection {
public:
    // Why a connection could not be made, for a message that says which.
    enum class Opened {
        Ok,
        Unreachable,   // no answer, refused, a name that does not resolve, TLS refused
        NeedsPassword, // the server asks for a password and none was given
        WrongPassword,
        NotAllowed, // no pg_hba.conf line for this role, or no such role
        NoDatabase,
        NoRights, // the role may not connect to the database
        Failed,   // anything else, with the server's text in detail
    };

    struct Settings {
        // A libpq connection URI or key=value string.
        std::string uri;
        // Given when it was asked for; else libpq's own conventions apply
        // (~/.pgpass, PGPASSFILE, the passfile of the settings below).
        std::string password;
        std::string passFile;
        // Connecting, and each statement, end within this.
        int timeoutMs = kDefaultTimeoutMs;
    };
    static constexpr int kDefaultTimeoutMs = 8000;

    // The parts of a connection URI, for messages before a connection exists;
    // false when libpq cannot read it (detail says why).
    struct Target {
        std::string host, port, database, user;
    };
    static bool parse(const std::string& uri, Target& target, std::string& detail);

    // A connection, or null with why (and libpq's text in detail).
    static std::unique_ptr<CPgConnection> open(const Settings& settings, Opened& why,
                                               std::string& detail);

    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;
    ~CPgConnection() override;

    SqlDialect dialect() const override { return SqlDialect::Postgres; }
    int runStatement(const CString& sql, const CMapStringToString* params,
                     const RowVisitor* visit) override;
    int beginBatch() override;
    int endBatch(bool commit) override;
    bool inBatch() const override { return m_inBatch; }
    DbError lastError() const override { return m_lastError; }

    // Several statements without values (a schema step), in the open batch
    // if there is one. 0 when all ran.
    int runScript(const std::string& sql);
    // False once the connection has broken or timed out: it is of no further use.
    bool isUsable() const;
    // The SQLSTATE and the server's text of the last failure.
    const std::string& sqlState() const { return m_sqlState; }
    const std::string& errorText() const { return m_errorText; }

    // Where it is connected, for messages and the password file.
    std::string host() const;
    std::string port() const;
    std::string database() const;
    std::string user() const;

private:
    CPgConnection(pg_conn* conn, int timeoutMs);
    // Sends a query and collects its results within the time-out; the last
    // result's rows go to visit. 0 when every result was a success.
    int exchange(const std::string& sql, int count, const unsigned* types,
                 const char* const* values, const RowVisitor* visit);
    void fail(DbError error, std::string state, std::string text);

    pg_conn* m_conn;
    int m_timeoutMs;
    bool m_broken = false;
    bool m_inBatch = false;
    DbError m_lastError = DbError::None;
    std::string m_sqlState;
    std::string m_errorText;
};
