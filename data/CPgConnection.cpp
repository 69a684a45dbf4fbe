#include "data/CPgConnection.h"

#include "data/CSqlTemplate.h"

#include <libpq-fe.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Type oids of the bound values: text, bigint, double precision; 0 lets the
// server take the type from the statement (a NULL).
constexpr unsigned kTextOid = 25;
constexpr unsigned kBigintOid = 20;
constexpr unsigned kDoubleOid = 701;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until the socket is ready for events; false at the deadline or on
// an error of the socket.
bool waitSocket(PGconn* conn, short events, Clock::time_point deadline) {
    const int fd = PQsocket(conn);
    if (fd < 0)
        return false;
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

DbError classify(const std::string& state) {
    if (state.empty() || state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 ||
        state == "53300")
        return DbError::Unavailable;
    if (state == "40001" || state == "40P01" || state == "55P03")
        return DbError::Retry;
    if (state == "23505")
        return DbError::Duplicate;
    if (state == "42501")
        return DbError::NoRights;
    return DbError::Refused;
}

// The SQLSTATE in a verbose message ("FATAL:  3D000: database ..."), which
// is all libpq tells of a refused connection.
std::string stateInMessage(const std::string& text) {
    for (std::size_t at = text.find(":  "); at != std::string::npos;
         at = text.find(":  ", at + 1)) {
        const std::string code = text.substr(at + 3, 6);
        if (code.size() == 6 && code[5] == ':') {
            bool valid = true;
            for (std::size_t i = 0; i < 5; ++i)
                valid = valid &&
                        ((code[i] >= '0' && code[i] <= '9') || (code[i] >= 'A' && code[i] <= 'Z'));
            if (valid)
                return code.substr(0, 5);
        }
    }
    return {};
}

std::string firstLine(const char* text) {
    std::string line = text ? text : "";
    const std::size_t end = line.find('\n');
    return end == std::string::npos ? line : line.substr(0, end);
}

CPgConnection::Opened whyRefused(PGconn* conn, const std::string& state) {
    using Opened = CPgConnection::Opened;
    if (PQconnectionNeedsPassword(conn))
        return Opened::NeedsPassword;
    if (state == "28P01")
        return Opened::WrongPassword;
    if (state == "28000")
        return Opened::NotAllowed;
    if (state == "3D000")
        return Opened::NoDatabase;
    if (state == "42501")
        return Opened::NoRights;
    if (classify(state) == DbError::Unavailable)
        return Opened::Unreachable;
    return Opened::Failed;
}

} // namespace

bool CPgConnection::parse(const std::string& uri, Target& target, std::string& detail) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
    if (options == nullptr) {
        detail = firstLine(error);
        PQfreemem(error);
        return false;
    }
    const std::pair<const char*, std::string*> wanted[] = {{"host", &target.host},
                                                           {"port", &target.port},
                                                           {"dbname", &target.database},
                                                           {"user", &target.user}};
    for (PQconninfoOption* option = options; option->keyword != nullptr; ++option)
        for (const auto& [key, field] : wanted)
            if (option->val != nullptr && std::string(option->keyword) == key)
                *field = option->val;
    PQconninfoFree(options);
    return true;
}

std::unique_ptr<CPgConnection> CPgConnection::open(const Settings& settings, Opened& why,
                                                   std::string& detail) {
    const std::string seconds = std::to_string((settings.timeoutMs + 999) / 1000);
    const std::string userTimeout = std::to_string(settings.timeoutMs);
    // The defaults come before the URI, which may override them; a password
    // that was asked for comes after it.
    std::vector<const char*> keys = {"connect_timeout",     "keepalives",       "keepalives_idle",
                                     "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                                     "application_name",    "client_encoding"};
    std::vector<const char*> values = {seconds.c_str(),     "1",      "5",   "2", "2",
                                       userTimeout.c_str(), "poston", "UTF8"};
    if (!settings.passFile.empty()) {
        keys.push_back("passfile");
        values.push_back(settings.passFile.c_str());
    }
    keys.push_back("dbname");
    values.push_back(settings.uri.c_str());
    if (!settings.password.empty()) {
        keys.push_back("password");
        values.push_back(settings.password.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);

    PGconn* conn = PQconnectStartParams(keys.data(), values.data(), 1);
    if (conn == nullptr) {
        why = Opened::Failed;
        detail = "out of memory";
        return nullptr;
    }
    // Verbose, so that a refusal carries its SQLSTATE.
    PQsetErrorVerbosity(conn, PQERRORS_VERBOSE);
    const auto deadline = Clock::now() + std::chrono::milliseconds(settings.timeoutMs);
    PostgresPollingStatusType status =
        PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    bool timedOut = false;
    while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
        if (!waitSocket(conn, status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
            timedOut = true;
            break;
        }
        status = PQconnectPoll(conn);
    }
    if (status == PGRES_POLLING_OK && PQstatus(conn) == CONNECTION_OK) {
        PQsetErrorVerbosity(conn, PQERRORS_DEFAULT);
        why = Opened::Ok;
        detail.clear();
        return std::unique_ptr<CPgConnection>(new CPgConnection(conn, settings.timeoutMs));
    }
    const std::string message = PQerrorMessage(conn);
    why = timedOut ? Opened::Unreachable : whyRefused(conn, stateInMessage(message));
    detail = timedOut ? "no answer within " + seconds + " s" : firstLine(message.c_str());
    PQfinish(conn);
    return nullptr;
}

CPgConnection::CPgConnection(pg_conn* conn, int timeoutMs) : m_conn(conn), m_timeoutMs(timeoutMs) {}

CPgConnection::~CPgConnection() {
    if (m_inBatch && isUsable())
        endBatch(false);
    PQfinish(m_conn);
}

bool CPgConnection::isUsable() const {
    return !m_broken && PQstatus(m_conn) == CONNECTION_OK;
}

void CPgConnection::fail(DbError error, std::string state, std::string text) {
    m_lastError = error;
    m_sqlState = std::move(state);
    m_errorText = std::move(text);
    if (error == DbError::Unavailable && PQstatus(m_conn) != CONNECTION_OK)
        m_broken = true;
}

int CPgConnection::exchange(const std::string& sql, int count, const unsigned* types,
                            const char* const* values, const RowVisitor* visit) {
    if (!isUsable()) {
        fail(DbError::Unavailable, {}, "the connection is closed");
        return -1;
    }
    const int sent = count < 0 ? PQsendQuery(m_conn, sql.c_str())
                               : PQsendQueryParams(m_conn, sql.c_str(), count, types, values,
                                                   nullptr, nullptr, 0);
    if (!sent) {
        fail(DbError::Unavailable, {}, firstLine(PQerrorMessage(m_conn)));
        m_broken = true;
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
    int flushed;
    while ((flushed = PQflush(m_conn)) == 1)
        if (!waitSocket(m_conn, POLLIN | POLLOUT, deadline) || !PQconsumeInput(m_conn))
            break;
    int result = flushed == 0 ? 0 : -1;
    bool gone = flushed != 0;
    std::string state, text;
    while (!gone) {
        while (PQisBusy(m_conn)) {
            if (!waitSocket(m_conn, POLLIN, deadline) || !PQconsumeInput(m_conn)) {
                gone = true;
                break;
            }
        }
        if (gone)
            break;
        PGresult* answer = PQgetResult(m_conn);
        if (answer == nullptr)
            break;
        const ExecStatusType status = PQresultStatus(answer);
        if (status == PGRES_TUPLES_OK && visit != nullptr && result == 0) {
            const int rows = PQntuples(answer);
            const int columns = PQnfields(answer);
            CMapStringToString row;
            for (int r = 0; r < rows; ++r) {
                row.RemoveAll();
                for (int c = 0; c < columns; ++c)
                    row.SetAt(CString(PQfname(answer, c)),
                              PQgetisnull(answer, r, c)
                                  ? CString()
                                  : CString(std::string(PQgetvalue(answer, r, c),
                                                        PQgetlength(answer, r, c))));
                (*visit)(row);
            }
        } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK &&
                   status != PGRES_EMPTY_QUERY && result == 0) {
            const char* code = PQresultErrorField(answer, PG_DIAG_SQLSTATE);
            state = code ? code : "";
            text = firstLine(PQresultErrorMessage(answer));
            result = -1;
        }
        PQclear(answer);
    }
    if (gone) {
        // No answer in time, or the link broke: whatever the server did with
        // the statement, this connection cannot be trusted any more.
        m_broken = true;
        fail(DbError::Unavailable, {}, firstLine(PQerrorMessage(m_conn)));
        return -1;
    }
    if (result != 0) {
        fail(classify(state), state, text);
        if (PQstatus(m_conn) != CONNECTION_OK)
            m_broken = true;
        return -1;
    }
    m_lastError = DbError::None;
    m_sqlState.clear();
    m_errorText.clear();
    return 0;
}

int CPgConnection::runStatement(const CString& sql, const CMapStringToString* params,
                                const RowVisitor* visit) {
    const CSqlTemplate statement(sql, params, CSqlTemplate::Markers::Numbered);
    if (!statement.isValid()) {
        fail(DbError::Refused, {}, "a placeholder without a usable value");
        return -1;
    }
    const auto& bound = statement.values();
    std::vector<std::string> texts(bound.size());
    std::vector<const char*> values(bound.size(), nullptr);
    std::vector<unsigned> types(bound.size(), 0);
    for (std::size_t i = 0; i < bound.size(); ++i) {
        using Kind = CSqlTemplate::Value::Kind;
        switch (bound[i].kind) {
        case Kind::Null:
            continue;
        case Kind::Text:
            texts[i] = bound[i].text;
            types[i] = kTextOid;
            break;
        case Kind::Integer:
            texts[i] = std::to_string(bound[i].integer);
            types[i] = kBigintOid;
            break;
        case Kind::Real: {
            char number[64];
            std::snprintf(number, sizeof number, "%.17g", bound[i].real);
            texts[i] = number;
            types[i] = kDoubleOid;
            break;
        }
        }
        values[i] = texts[i].c_str();
    }
    return exchange(statement.sql(), static_cast<int>(bound.size()), types.data(), values.data(),
                    visit);
}

int CPgConnection::runScript(const std::string& sql) {
    return exchange(sql, -1, nullptr, nullptr, nullptr);
}

int CPgConnection::beginBatch() {
    if (m_inBatch || exchange("BEGIN", 0, nullptr, nullptr, nullptr) != 0)
        return -1;
    m_inBatch = true;
    return 0;
}

int CPgConnection::endBatch(bool commit) {
    if (!m_inBatch)
        return -1;
    m_inBatch = false;
    // A failed statement has already aborted the transaction; its COMMIT
    // would only roll back and answer as if it had been stored.
    if (commit && PQtransactionStatus(m_conn) == PQTRANS_INTRANS)
        return exchange("COMMIT", 0, nullptr, nullptr, nullptr);
    if (isUsable())
        exchange("ROLLBACK", 0, nullptr, nullptr, nullptr);
    return commit ? -1 : 0;
}

std::string CPgConnection::host() const {
    const char* text = PQhost(m_conn);
    return text ? text : "";
}

std::string CPgConnection::port() const {
    const char* text = PQport(m_conn);
    return text ? text : "";
}

std::string CPgConnection::database() const {
    const char* text = PQdb(m_conn);
    return text ? text : "";
}

std::string CPgConnection::user() const {
    const char* text = PQuser(m_conn);
    return text ? text : "";
}
