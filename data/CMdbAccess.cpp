#include "data/CMdbAccess.h"

#include "data/CSqlTemplate.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <utility>

namespace {

bool onlyBlanks(const char* text) {
    for (; text && *text; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n' && *text != ';')
            return false;
    }
    return true;
}

bool bindValues(sqlite3_stmt* stmt, const std::vector<CSqlTemplate::Value>& values) {
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(values.size()))
        return false;
    int index = 1;
    for (const CSqlTemplate::Value& value : values) {
        int rc = SQLITE_OK;
        switch (value.kind) {
        case CSqlTemplate::Value::Kind::Null:
            rc = sqlite3_bind_null(stmt, index);
            break;
        case CSqlTemplate::Value::Kind::Text:
            rc = sqlite3_bind_text64(stmt, index, value.text.data(), value.text.size(),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        case CSqlTemplate::Value::Kind::Integer:
            rc = sqlite3_bind_int64(stmt, index, value.integer);
            break;
        case CSqlTemplate::Value::Kind::Real:
            rc = sqlite3_bind_double(stmt, index, value.real);
            break;
        }
        if (rc != SQLITE_OK)
            return false;
        ++index;
    }
    return true;
}

void readRow(sqlite3_stmt* stmt, CMapStringToString& row) {
    const int columns = sqlite3_column_count(stmt);
    for (int i = 0; i < columns; ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        std::string value;
        if (sqlite3_column_type(stmt, i) != SQLITE_NULL) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            const int bytes = sqlite3_column_bytes(stmt, i);
            if (text)
                value.assign(text, static_cast<std::size_t>(bytes));
        }
        row.SetAt(CString(name ? name : ""), CString(std::move(value)));
    }
}

DbError classify(int code) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DbError::Retry;
    case SQLITE_CONSTRAINT:
        return DbError::Duplicate;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_IOERR:
        return DbError::Unavailable;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return DbError::NoRights;
    default:
        return DbError::Refused;
    }
}

} // namespace

CMdbAccess::CMdbAccess(CString path, CString connect)
    : m_path(std::move(path)), m_connect(std::move(connect)) {}

CMdbAccess::~CMdbAccess() {
    if (m_batch)
        endBatch(false);
}

sqlite3* CMdbAccess::open() const {
    // An empty file would pass for an empty database, and the first
    // transaction would write a database into it.
    struct stat status {};
    if (::stat(m_path.c_str(), &status) != 0 || status.st_size == 0)
        return nullptr;
    sqlite3* db = nullptr;
    // Never SQLITE_OPEN_CREATE: a missing data file is a failure, not a new file.
    const int rc =
        sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    // A file from elsewhere cannot run code through its schema or damage itself.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    // EXTRA syncs the folder after the journal is deleted as well: a write
    // that has returned survives a power cut.
    sqlite3_exec(db, "PRAGMA synchronous=EXTRA", nullptr, nullptr, nullptr);
    return db;
}

void CMdbAccess::close(sqlite3* db) const {
    if (db && db != m_batch)
        sqlite3_close(db);
}

sqlite3_stmt* CMdbAccess::prepare(sqlite3* db, const std::string& sql) const {
    if (db == m_batch) {
        auto found = m_batchStatements.find(sql);
        if (found != m_batchStatements.end())
            return found->second;
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail) !=
            SQLITE_OK ||
        !stmt) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    // One statement per call: a template never carries a second one.
    if (!onlyBlanks(tail)) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    if (db == m_batch)
        m_batchStatements.emplace(sql, stmt);
    return stmt;
}

void CMdbAccess::finish(sqlite3_stmt* stmt) const {
    if (!stmt)
        return;
    if (m_batch && sqlite3_db_handle(stmt) == m_batch) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    } else {
        sqlite3_finalize(stmt);
    }
}

int CMdbAccess::execute(const CString& sql, const CMapStringToString* params,
                        const RowVisitor* visit) const {
    m_lastError = DbError::Refused;
    const CSqlTemplate statement(sql, params);
    if (!statement.isValid())
        return -1;
    sqlite3* db = m_batch ? m_batch : open();
    if (!db) {
        m_lastError = DbError::Unavailable;
        return -1;
    }
    int result = -1;
    sqlite3_stmt* stmt = prepare(db, statement.sql());
    if (!stmt)
        m_lastError = classify(sqlite3_extended_errcode(db));
    if (stmt && bindValues(stmt, statement.values())) {
        CMapStringToString row;
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                if (visit) {
                    row.RemoveAll();
                    readRow(stmt, row);
                    (*visit)(row);
                }
                continue;
            }
            if (rc == SQLITE_DONE) {
                result = 0;
                m_lastError = DbError::None;
            } else {
                m_lastError = classify(sqlite3_extended_errcode(db));
            }
            break;
        }
    }
    finish(stmt);
    close(db);
    return result;
}

int CMdbAccess::runStatement(const CString& sql, const CMapStringToString* params,
                             const RowVisitor* visit) {
    return execute(sql, params, visit);
}

int CMdbAccess::selectMdb(const CString& sql, NVKTL::vector<CMapStringToString*>* rows,
                          const CMapStringToString* params) const {
    if (!rows)
        return -1;
    const RowVisitor keep = [rows](CMapStringToString& row) {
        rows->push_back(new CMapStringToString(std::move(row)));
    };
    return execute(sql, params, &keep);
}

int CMdbAccess::selectEachMdb(const CString& sql, const CMapStringToString* params,
                              const RowVisitor& visit) const {
    return execute(sql, params, &visit);
}

int CMdbAccess::insertMdb(const CString& sql, const CMapStringToString* params) const {
    return execute(sql, params, nullptr);
}

int CMdbAccess::updateMdb(const CString& sql, const CMapStringToString* params) const {
    return execute(sql, params, nullptr);
}

int CMdbAccess::deleteMdb(const CString& sql, const CMapStringToString* params) const {
    return execute(sql, params, nullptr);
}

void CMdbAccess::releaseVector(NVKTL::vector<CMapStringToString*>* rows) const {
    if (!rows)
        return;
    const std::size_t count = rows->size();
    for (std::size_t i = 0; i < count; ++i)
        delete rows->at(i);
    rows->clear();
}

int CMdbAccess::beginBatch() {
    if (m_batch)
        return -1;
    sqlite3* db = open();
    if (!db) {
        m_lastError = DbError::Unavailable;
        return -1;
    }
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        m_lastError = classify(sqlite3_extended_errcode(db));
        sqlite3_close(db);
        return -1;
    }
    m_batch = db;
    return 0;
}

int CMdbAccess::endBatch(bool commit) {
    if (!m_batch)
        return -1;
    for (auto& [sql, stmt] : m_batchStatements)
        sqlite3_finalize(stmt);
    m_batchStatements.clear();
    int result = -1;
    // A failure inside the batch may already have rolled it back; then there
    // is nothing left to commit.
    if (commit && !sqlite3_get_autocommit(m_batch) &&
        sqlite3_exec(m_batch, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        result = 0;
    if (!sqlite3_get_autocommit(m_batch))
        sqlite3_exec(m_batch, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3* db = m_batch;
    m_batch = nullptr;
    sqlite3_close(db);
    return commit ? result : 0;
}
