#include "sync/CSyncThread.h"

#include "data/CDbAccess.h"
#include "nvktl/CJournal.h"
#include "nvktl/CTime.h"

#include <chrono>
#include <string>
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
    answers = answers && upload() && followVisits();
    if (answers) {
        const long long version = server.getRosterVersion();
        CDbAccess::Roster roster;
        if (version >= 0 && version != m_rosterVersion && server.readRoster(roster) == 0 &&
            CDbAccess(CDbAccess::Store::Terminal).replaceRoster(roster) == 0)
            m_rosterVersion = version;
    }
    const int waiting = CDbAccess(CDbAccess::Store::Terminal).getOutboxCount();
    // The operator learns when the terminal lost the server and when it has
    // it back, not every second in between.
    if (answers != m_answers.exchange(answers) || !m_journalled) {
        m_journalled = true;
        const std::string line =
            answers ? "server answers; visits waiting to go up: " + std::to_string(waiting)
                    : std::string("server does not answer; visits are kept on this terminal");
        NVKTL::CJournal::write(line.c_str(), answers ? NVKTL::CJournal::Level::Info
                                                     : NVKTL::CJournal::Level::Warning);
    }
    m_waiting.store(waiting);
    return answers;
}

bool CSyncThread::followVisits() {
    const CString since = NVKTL::CTime::StampPlus(
        NVKTL::CTime::StampNow(), -(m_visitsFollowed ? kFollowMarginMs : kFirstFollowMs));
    CDbAccess server;
    NVKTL::vector<CMapStringToString*> rows;
    // No rows is an answer too; a failed read is told apart by the store.
    if (server.getRecentVisits(since, &rows) != 0 && server.lastError() != DbError::None) {
        server.releaseVector(&rows);
        return false;
    }
    const bool kept =
        rows.size() == 0 || CDbAccess(CDbAccess::Store::Terminal).keepSeenVisits(rows) == 0;
    server.releaseVector(&rows);
    m_visitsFollowed = m_visitsFollowed || kept;
    return true;
}

bool CSyncThread::upload() {
    CDbAccess local(CDbAccess::Store::Terminal);
    CDbAccess server;
    bool any = false;
    bool answered = true;
    for (bool more = true; more;) {
        NVKTL::vector<CMapStringToString*> visits, deliveries;
        if (local.getOutbox(&visits, &deliveries, kUploadBatch) != 0)
            break;
        // Marked only once the server has committed: an upload cut off in
        // between is repeated, and the server keeps each visit once.
        const int uploaded = server.uploadVisits(visits, deliveries);
        if (uploaded == -2 && !m_collided)
            NVKTL::CJournal::write("visit ids of this terminal are taken on the server by another "
                                   "terminal: its visits stay here until poston-server use gives "
                                   "it a name of its own",
                                   NVKTL::CJournal::Level::Error);
        m_collided = uploaded == -2;
        const bool stored = uploaded == 0 && local.markUploaded(visits) == 0;
        more = stored && static_cast<int>(visits.size()) == kUploadBatch;
        answered = stored || m_collided;
        any = any || stored;
        local.releaseVector(&visits);
        local.releaseVector(&deliveries);
    }
    if (any && m_uploaded)
        m_uploaded();
    return answered;
}
