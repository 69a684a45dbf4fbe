#pragma once

#include "data/IDbConnection.h"
#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <functional>
#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// One database file, one statement per call. Statements are templates with
// named placeholders (see CSqlTemplate); rows come back as text maps keyed by
// column name or alias, NULL as empty text and numbers as decimal text.
//
// No handle stays open between calls, so the file can be renamed while the
// object exists, and every write is on disk, its journal's removal included
// (synchronous=EXTRA), when the call returns. The file is opened for reading and writing but never
// created: a missing file stays missing. A statement that cannot run, on a file that is missing,
// locked for too long or not a database, is an empty result; the int results are 0 on success and
// -1 on failure, and nothing throws.
class CMdbAccess : public IDbConnection {
public:
    // The connect suffix (";PWD=...") is accepted for the callers' sake: the
    // file itself is not encrypted.
    CMdbAccess(CString path, CString connect);
    CMdbAccess(const CMdbAccess&) = delete;
    CMdbAccess& operator=(const CMdbAccess&) = delete;
    ~CMdbAccess() override;

    SqlDialect dialect() const override { return SqlDialect::Sqlite; }
    int runStatement(const CString& sql, const CMapStringToString* params,
                     const RowVisitor* visit) override;
    DbError lastError() const override { return m_lastError; }

    // Appends one row map per result row to rows; params may be null when the
    // template has no placeholder.
    int selectMdb(const CString& sql, NVKTL::vector<CMapStringToString*>* rows,
                  const CMapStringToString* params) const;
    int insertMdb(const CString& sql, const CMapStringToString* params) const;
    int updateMdb(const CString& sql, const CMapStringToString* params) const;
    int deleteMdb(const CString& sql, const CMapStringToString* params) const;
    // Frees the row maps that selectMdb put into rows and empties rows. Any
    // object may release rows that another one filled.
    void releaseVector(NVKTL::vector<CMapStringToString*>* rows) const;

    // Calls visit for each result row in turn, without keeping the rows; the
    // visitor may change the map it is given. Returns -1 when the statement
    // failed (the rows seen until then have been visited).
    int selectEachMdb(const CString& sql, const CMapStringToString* params,
                      const RowVisitor& visit) const;

    // A batch keeps the file open inside one transaction until endBatch: the
    // statements in between are all written together, or none of them.
    // endBatch(true) commits and returns 0 only when the commit reached the
    // disk; endBatch(false) rolls back. Both close the file.
    int beginBatch() override;
    int endBatch(bool commit) override;
    bool inBatch() const override { return m_batch != nullptr; }

private:
    // How long a statement waits for another connection's lock.
    static constexpr int busyTimeoutMs = 2000;

    sqlite3* open() const;
    void close(sqlite3* db) const;
    int execute(const CString& sql, const CMapStringToString* params,
                const RowVisitor* visit) const;
    sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) const;
    void finish(sqlite3_stmt* stmt) const;

    CString m_path;
    CString m_connect;
    mutable DbError m_lastError = DbError::None;
    sqlite3* m_batch = nullptr;
    // Prepared statements of the open batch, by their SQL text.
    mutable std::map<std::string, sqlite3_stmt*> m_batchStatements;
};
