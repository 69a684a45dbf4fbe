#pragma once

#include "nvktl/CMapStringToString.h"

#include <functional>

// The two stores the data operations run on: the terminal's own file and a
// PostgreSQL server shared by several terminals. Each has its own SQL where
// the dialects differ (SqlCatalogue).
enum class SqlDialect { Sqlite, Postgres };

// Why the last statement of a connection did not run, as far as the caller
// has to tell the cases apart. Classified by the store's own codes, never by
// message text.
enum class DbError {
    None,
    // The store cannot be reached (a missing file, a server that does not
    // answer, a connection that broke): nothing was done.
    Unavailable,
    // A conflict with another writer that passes by itself (a lock held too
    // long, a deadlock, a serialization failure): the whole unit of work may
    // be run again.
    Retry,
    // A key that exists already.
    Duplicate,
    // The role lacks a right it needs.
    NoRights,
    // Anything else: a statement the store refused.
    Refused,
};

// One connection to one store, one statement per call. Statements are
// templates with named placeholders (CSqlTemplate); every value is bound,
// rows come back as text maps keyed by column name or alias, NULL as empty
// text and numbers as decimal text. Nothing throws.
class IDbConnection {
public:
    using RowVisitor = std::function<void(CMapStringToString& row)>;

    virtual ~IDbConnection() = default;

    virtual SqlDialect dialect() const = 0;
    // Runs one statement; visit (may be null) sees each result row in turn.
    // 0 when it ran to the end, -1 otherwise (lastError says why).
    virtual int runStatement(const CString& sql, const CMapStringToString* params,
                             const RowVisitor* visit) = 0;
    // A batch: the statements in between are stored together or not at all.
    // beginBatch is -1 when one is open already or the store cannot be
    // written now; endBatch(true) is 0 only when the commit was stored.
    virtual int beginBatch() = 0;
    virtual int endBatch(bool commit) = 0;
    virtual bool inBatch() const = 0;
    virtual DbError lastError() const = 0;
};
