#include "sync/CSyncThread.h"

#include "data/CDbAccess.h"

#include <chrono>
#include <utility>

CSyncThread::CSyncThread(std::function<void()> uploaded) : m_uploaded(std::move(uploaded)) {
    setInterval(kPeriodMs);
}

CSyncThread::~CSyncThread() {
    stop();
}

bool CSyncThread::onTimer() {
    runOnce();
    return true;
}

bool CSyncThread::runOnce() {
    std::lock_guard<std::timed_mutex> guard(m_roundLock);
    return round();
}

bool CSyncThread::followRoster() {
    std::unique_lock<std::timed_mutex> guard(m_roundLock, std::defer_lock);
    if (!guard.try_lock_for(std::chrono::milliseconds(kFollowWaitMs)))
        return false;
    return round();
}

bool CSyncThread::round() {
    CDbAccess server;
    bool answers = server.ping() == 0;
    if (answers && !m_claimsFreed)
        m_claimsFreed = server.releaseClaims() == 0;
    answers = answers && upload();
    if (answers) {
        const long long version = server.getRosterVersion();
        CDbAccess::Roster roster;
        if (version >= 0 && version != m_rosterVersion && server.readRoster(roster) == 0 &&
            CDbAccess(CDbAccess::Store::Terminal).replaceRoster(roster) == 0)
            m_rosterVersion = version;
    }
    m_answers.store(answers);
    m_waiting.store(CDbAccess(CDbAccess::Store::Terminal).getOutboxCount());
    return answers;
}

bool CSyncThread::upload() {
    CDbAccess local(CDbAccess::Store::Terminal);
    CDbAccess server;
    bool any = false;
    for (;;) {
        NVKTL::vector<CMapStringToString*> visits, deliveries;
        if (local.getOutbox(&visits, &deliveries, kUploadBatch) != 0)
            break;
        // Marked only once the server has committed: an upload cut off in
        // between is repeated, and the server keeps each visit once.
        const bool stored =
            server.uploadVisits(visits, deliveries) == 0 && local.markUploaded(visits) == 0;
        const bool whole = static_cast<int>(visits.size()) < kUploadBatch;
        local.releaseVector(&visits);
        local.releaseVector(&deliveries);
        if (!stored)
            return false;
        any = true;
        if (whole)
            break;
    }
    if (any && m_uploaded)
        m_uploaded();
    return true;
}
