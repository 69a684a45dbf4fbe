#include "data/CDbAccess.h"

#include "data/CDataFiles.h"
#include "data/CPgConnection.h"
#include "data/CServerLink.h"
#include "nvktl/ProgramFolder.h"

#include <mutex>

namespace {

std::mutex folderLock;
CString dataFolder;
bool folderKnown = false;
CStoreConfig config;

constexpr int kBatchTries = 3;

} // namespace

void CDbAccess::setDataFolder(const CString& folder) {
    std::lock_guard<std::mutex> guard(folderLock);
    dataFolder = CString(NVKTL::withSlash(folder.str()));
    folderKnown = true;
    CStoreConfig::load(dataFolder.str(), config);
}

CString CDbAccess::getDataFolder() {
    std::lock_guard<std::mutex> guard(folderLock);
    if (!folderKnown) {
        dataFolder = CDataFiles::defaultFolder();
        CDataFiles::ensureFolder(dataFolder);
        folderKnown = true;
        CStoreConfig::load(dataFolder.str(), config);
    }
    return dataFolder;
}

CStoreConfig CDbAccess::storeConfig() {
    getDataFolder();
    std::lock_guard<std::mutex> guard(folderLock);
    return config;
}

void CDbAccess::setStoreConfig(const CStoreConfig& chosen) {
    getDataFolder();
    std::lock_guard<std::mutex> guard(folderLock);
    config = chosen;
}

CString CDbAccess::connectSuffix() {
    return CString(";PWD=") + password;
}

CDbAccess::CDbAccess(Store store)
    : m_pMdb(nullptr), m_dataPath(getDataFolder()), m_db(nullptr), m_server(false) {
    m_pMdb = new CMdbAccess(m_dataPath + CDataFiles::dataFile, connectSuffix());
    m_db = m_pMdb;
    const CStoreConfig chosen = storeConfig();
    if (store == Store::Shared && chosen.usesServer()) {
        m_server = true;
        CServerLink::Status status;
        std::string detail;
        m_serverConnection = CServerLink::forThisThread(chosen, status, detail);
        m_db = m_serverConnection.get();
    }
}

CDbAccess::~CDbAccess() {
    delete m_pMdb;
}

void CDbAccess::releaseVector(NVKTL::vector<CMapStringToString*>* rows) {
    m_pMdb->releaseVector(rows);
}

bool CDbAccess::onServer() const {
    return m_server;
}

int CDbAccess::ping() {
    return selectAny(Sql::Ping, nullptr);
}

DbError CDbAccess::lastError() const {
    return m_db ? m_db->lastError() : DbError::Unavailable;
}

int CDbAccess::beginBatch() {
    return m_db ? m_db->beginBatch() : -1;
}

int CDbAccess::endBatch(bool commit) {
    return m_db ? m_db->endBatch(commit) : -1;
}

int CDbAccess::runBatch(const std::function<bool()>& statements) {
    // Inside a screen's batch the statements are stored or dropped with it.
    if (m_db && m_db->inBatch())
        return statements() ? 0 : -1;
    // A conflict with another terminal passes by itself: the whole unit is
    // run again, never half of it.
    for (int attempt = 1; m_db && attempt <= kBatchTries; ++attempt) {
        // The file may be held just then by the terminal's other thread.
        if (m_db->beginBatch() != 0) {
            if (m_db->lastError() == DbError::Retry)
                continue;
            return -1;
        }
        if (statements()) {
            if (m_db->endBatch(true) == 0)
                return 0;
        } else {
            const DbError error = m_db->lastError();
            m_db->endBatch(false);
            if (error != DbError::Retry)
                return -1;
            continue;
        }
        if (m_db->lastError() != DbError::Retry)
            return -1;
    }
    return -1;
}

bool CDbAccess::runOn(IDbConnection& connection, Sql sql, const CMapStringToString* params,
                      const IDbConnection::RowVisitor* visit) {
    const char* body = SqlCatalogue::statement(sql).body(connection.dialect());
    return body != nullptr && connection.runStatement(CString(body), params, visit) == 0;
}

bool CDbAccess::run(Sql sql, const CMapStringToString* params) {
    return m_db != nullptr && runOn(*m_db, sql, params);
}

int CDbAccess::store(Sql sql, const CMapStringToString* params) {
    return run(sql, params) ? 0 : -1;
}

int CDbAccess::selectInto(Sql sql, NVKTL::vector<CMapStringToString*>* rows,
                          const CMapStringToString* params) {
    if (!rows || !m_db)
        return -1;
    const std::size_t before = rows->size();
    const IDbConnection::RowVisitor keep = [rows](CMapStringToString& row) {
        rows->push_back(new CMapStringToString(std::move(row)));
    };
    runOn(*m_db, sql, params, &keep);
    return rows->size() > before ? 0 : -1;
}

int CDbAccess::selectAny(Sql sql, const CMapStringToString* params) {
    NVKTL::vector<CMapStringToString*> rows;
    const int found = selectInto(sql, &rows, params);
    m_pMdb->releaseVector(&rows);
    return found;
}

bool CDbAccess::selectFirst(Sql sql, const CMapStringToString* params, const char* column,
                            CString& value) {
    NVKTL::vector<CMapStringToString*> rows;
    selectInto(sql, &rows, params);
    bool found = false;
    if (!rows.empty()) {
        CString read;
        rows.at(0)->Lookup(CString(column), read);
        value = read;
        found = true;
    }
    m_pMdb->releaseVector(&rows);
    return found;
}

CMapStringToString CDbAccess::named(std::initializer_list<std::pair<const char*, CString>> values) {
    CMapStringToString params;
    for (const auto& [name, value] : values)
        params.SetAt(CString(name), value);
    return params;
}

CString CDbAccess::quotedOrNull(const CString& value) {
    if (value.IsEmpty())
        return CString("null");
    CString quoted("'");
    quoted += value;
    quoted += '\'';
    return quoted;
}

void releaseSendLogin(NVKTL::vector<CMapStringToString*>* rows) {
    // Only memory is freed: no need to reach the server for that.
    CDbAccess db(CDbAccess::Store::Terminal);
    db.releaseVector(rows);
}
