#include "data/CDbAccess.h"

#include "data/CDataFiles.h"
#include "nvktl/ProgramFolder.h"

#include <mutex>

namespace {

std::mutex folderLock;
CString dataFolder;
bool folderKnown = false;

} // namespace

void CDbAccess::setDataFolder(const CString& folder) {
    std::lock_guard<std::mutex> guard(folderLock);
    dataFolder = CString(NVKTL::withSlash(folder.str()));
    folderKnown = true;
}

CString CDbAccess::getDataFolder() {
    std::lock_guard<std::mutex> guard(folderLock);
    if (!folderKnown) {
        dataFolder = CDataFiles::defaultFolder();
        CDataFiles::ensureFolder(dataFolder);
        folderKnown = true;
    }
    return dataFolder;
}

CString CDbAccess::connectSuffix() {
    return CString(";PWD=") + password;
}

CDbAccess::CDbAccess() : m_pMdb(nullptr), m_dataPath(getDataFolder()) {
    m_pMdb = new CMdbAccess(m_dataPath + CDataFiles::dataFile, connectSuffix());
}

CDbAccess::~CDbAccess() {
    delete m_pMdb;
}

void CDbAccess::releaseVector(NVKTL::vector<CMapStringToString*>* rows) {
    m_pMdb->releaseVector(rows);
}

int CDbAccess::beginBatch() {
    return m_pMdb->beginBatch();
}

int CDbAccess::endBatch(bool commit) {
    return m_pMdb->endBatch(commit);
}

int CDbAccess::runBatch(const std::function<bool()>& statements) {
    // Inside a screen's batch the statements are stored or dropped with it.
    if (m_pMdb->inBatch())
        return statements() ? 0 : -1;
    if (m_pMdb->beginBatch() != 0)
        return -1;
    if (!statements()) {
        m_pMdb->endBatch(false);
        return -1;
    }
    return m_pMdb->endBatch(true) == 0 ? 0 : -1;
}

bool CDbAccess::run(const char* sql, const CMapStringToString* params) {
    // The statement layer runs every kind of writing statement the same way.
    return m_pMdb->updateMdb(CString(sql), params) == 0;
}

int CDbAccess::store(const char* sql, const CMapStringToString* params) {
    return run(sql, params) ? 0 : -1;
}

int CDbAccess::selectInto(const CString& sql, NVKTL::vector<CMapStringToString*>* rows,
                          const CMapStringToString* params) {
    if (!rows)
        return -1;
    const std::size_t before = rows->size();
    m_pMdb->selectMdb(sql, rows, params);
    return rows->size() > before ? 0 : -1;
}

int CDbAccess::selectAny(const char* sql, const CMapStringToString* params) {
    NVKTL::vector<CMapStringToString*> rows;
    const int found = selectInto(CString(sql), &rows, params);
    m_pMdb->releaseVector(&rows);
    return found;
}

bool CDbAccess::selectFirst(const char* sql, const CMapStringToString* params, const char* column,
                            CString& value) {
    NVKTL::vector<CMapStringToString*> rows;
    m_pMdb->selectMdb(CString(sql), &rows, params);
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
    CDbAccess db;
    db.releaseVector(rows);
}
