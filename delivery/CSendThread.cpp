#include "delivery/CSendThread.h"

#include "data/CDbAccess.h"
#include "delivery/CDaySummary.h"
#include "delivery/CMailRoute.h"
#include "delivery/CMailSession.h"
#include "delivery/CNotification.h"
#include "nvktl/CJournal.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/CTime.h"
#include "nvktl/vector.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

constexpr unsigned kEndingPeriodMs = 1;
constexpr const char* kSendingText = "メール送信中";
// Shown between periods while deliveries wait for their next try.
constexpr const char* kWaitingFormat = "再送を待っているメールが%d件あります";

CString stampPlus(const CString& stamp, long long ms) {
    return NVKTL::CTime::StampPlus(stamp, ms);
}

} // namespace

CSendThread::CSendThread() = default;

// The worker calls execute(), so it must be gone before this object's parts.
CSendThread::~CSendThread() {
    stop();
}

std::size_t CSendThread::pendingCount() const {
    std::lock_guard<std::mutex> guard(m_pendingLock);
    return m_pending.size();
}

void CSendThread::addPending(StateChange change) {
    std::lock_guard<std::mutex> guard(m_pendingLock);
    m_pending.push_back(std::move(change));
}

DataResult CSendThread::store(const StateChange& change) {
    CDataRequest request = std::visit([](const auto& c) { return CDataRequest{c}; }, change);
    return sendRequest(request);
}

bool CSendThread::flushPending() {
    if (getWindow() == nullptr)
        return false;
    // Only the worker changes the list, so the front stays put while it is
    // being sent; the lock is for readers on other threads.
    for (;;) {
        StateChange change;
        {
            std::lock_guard<std::mutex> guard(m_pendingLock);
            if (m_pending.empty())
                return true;
            change = m_pending.front();
        }
        // Only a stored outcome is done; a failed write is tried again.
        if (store(change) == DataResult::Done) {
            std::lock_guard<std::mutex> guard(m_pendingLock);
            m_pending.erase(m_pending.begin());
            continue;
        }
        return false;
    }
}

std::size_t CSendThread::sendingCount() const {
    return pendingCount() + (m_attempting.load() ? 1 : 0);
}

void CSendThread::abortAttempts() {
    m_aborted.store(true);
    m_ending.store(true);
    m_abort.set();
}

std::size_t CSendThread::storeKeptChanges(const std::function<DataResult(CDataRequest&)>& store) {
    std::lock_guard<std::mutex> guard(m_pendingLock);
    std::size_t left = 0;
    for (const StateChange& change : m_pending) {
        CDataRequest request = std::visit([](const auto& c) { return CDataRequest{c}; }, change);
        if (store(request) != DataResult::Done)
            ++left;
    }
    m_pending.clear();
    return left;
}

void CSendThread::requestEnd(NVKTL::CEvent* event) {
    m_endEvent.store(event);
    m_ending.store(true);
    setInterval(kEndingPeriodMs);
    stopTimer();
    start();
}

void CSendThread::execute() {
    if (!flushPending())
        return;
    if (m_ending.load()) {
        // The event is set once and then let go: its owner may destroy it as
        // soon as it sees it set, while periods keep running here.
        if (pendingCount() == 0)
            if (NVKTL::CEvent* end = m_endEvent.exchange(nullptr))
                end->set();
        return;
    }

    CMapStringToString settings;
    getDefault(settings);
    NVKTL::vector<CMapStringToString*> rows;
    if (getSendLogin(rows) == DataResult::NoWindow)
        return;
    if (rows.empty()) {
        showWaiting();
        sendDaySummary(settings);
        return;
    }

    // The batch shares one SMTP session where its mails go to the same server;
    // it ends with QUIT when the batch does.
    CMailSession session;
    m_session = &session;
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (getWindow() == nullptr || m_ending.load())
            break;
        statusText(kSendingText);
        progressStart(static_cast<int>(i + 1), static_cast<int>(count));
        const CMapStringToString* cell = rows.at(i);
        if (cell == nullptr)
            continue;
        if (!deliverRow(*cell, settings))
            break;
    }

    session.end();
    m_session = nullptr;
    releaseSendLogin(&rows);
    progressEnd();
    showWaiting();
    sendDaySummary(settings);
}

void CSendThread::sendDaySummary(const CMapStringToString& settings) {
    const CString now = NVKTL::CTime::StampNow();
    DataRequest::TakeDaySummary take;
    if (getWindow() == nullptr || m_ending.load() ||
        !CDaySummary::isDue(settings, now, take.day, take.from))
        return;
    take.to = now;
    CDataRequest request{std::move(take)};
    if (sendRequest(request) != DataResult::Done)
        return;
    auto& taken = std::get<DataRequest::TakeDaySummary>(request.operation);
    if (!taken.taken)
        return;
    CDaySummary::Figures figures{taken.visits, taken.sent, std::move(taken.problems)};
    if (!CDaySummary::worthSending(settings, figures))
        return;
    m_attempting.store(true);
    const int code = sendMail(CDaySummary::mail(settings, taken.day, figures));
    m_attempting.store(false);
    if (code != 0)
        NVKTL::CJournal::summaryNotSent(taken.day.c_str(), code);
}

void CSendThread::showWaiting() {
    int waiting = 0;
    if (getWaitingCount(waiting) != DataResult::Done)
        return;
    if (waiting > 0) {
        char text[96];
        std::snprintf(text, sizeof text, kWaitingFormat, waiting);
        statusText(text);
    } else if (m_waitingShown) {
        statusText("");
    }
    m_waitingShown = waiting > 0;
}

bool CSendThread::deliverRow(const CMapStringToString& row, CMapStringToString& settings) {
    const CString sendId = row.Value("send_id");
    NVKTL::CTime moment;
    moment.SetNow();
    const CString now = moment.Stamp();
    const CString until = stampPlus(now, kClaimMs);
    // A first try fixes the delivery's Message-ID and Date; a later one gets
    // those of the first back, so that a receiver can tell a repeat.
    CString messageId = CNotification::newMessageId(moment, settings.Value("mail_address"));
    CString messageDate = now;
    // Only a delivery this terminal holds is mailed; one that cannot be taken
    // (gone, taken elsewhere, or the mark not stored) is left alone.
    if (claimDelivery(sendId, now, until, messageId, messageDate) != DataResult::Done)
        return false;

    for (const auto& [key, value] : row)
        settings.SetAt(key, value);
    settings.SetAt("message_id", messageId);
    settings.SetAt("message_date", messageDate);
    m_lastReply = 0;
    m_attempting.store(true);
    const int code = sendNotification(settings);
    const Outcome outcome = classify(code, m_lastReply);
    if (code == kSettingsUnavailable || (m_aborted.load() && outcome == Outcome::Retry)) {
        // Not attempted, or cut short because the program ends: given back,
        // so that it is due again at once.
        addPending(DataRequest::ReleaseDelivery{sendId});
        m_attempting.store(false);
        return false;
    }

    StateChange change = outcomeChange(row, code, m_lastReply);
    if (std::holds_alternative<DataRequest::FailDelivery>(change))
        NVKTL::CJournal::mailGivenUp(std::atoll(row.Value("login_id").c_str()), code,
                                     CVisitRule::kindFrom(row.Value("login_kind")) ==
                                             VisitKind::Visit
                                         ? nullptr
                                         : row.Value("login_kind").c_str());
    const bool stored = store(change) == DataResult::Done;
    // Not stored: kept and stored before any further mail goes out.
    if (!stored)
        addPending(std::move(change));
    m_attempting.store(false);
    return stored;
}

CSendThread::StateChange CSendThread::outcomeChange(const CMapStringToString& row, int code,
                                                    int replyCode) {
    const CString sendId = row.Value("send_id");
    const CString date = NVKTL::CTime::StampNow();
    const Outcome outcome = classify(code, replyCode);
    if (outcome == Outcome::Sent)
        return DataRequest::SendDelivery{sendId, date};
    const CString error = NVKTL::CSmtpClient::GetErrorMessage(code);
    if (outcome == Outcome::Retry) {
        const int tries = std::atoi(row.Value("tries").c_str());
        const CString next = stampPlus(date, retryDelayMs(tries, m_retryUnitMs.load()));
        const CString giveUp = stampPlus(row.Value("login_date"), m_giveUpMs.load());
        if (next < giveUp)
            return DataRequest::RetryDelivery{sendId, next, error};
    }
    return DataRequest::FailDelivery{sendId, date, error};
}

CSendThread::Outcome CSendThread::classify(int code, int replyCode) {
    using NVKTL::SmtpResult;
    const auto result = static_cast<SmtpResult>(code);
    if (result == SmtpResult::Ok)
        return Outcome::Sent;
    if (code == kSettingsUnavailable)
        return Outcome::NotAttempted;
    if (replyCode >= 400 && replyCode < 500)
        return Outcome::Retry;
    if (replyCode >= 500)
        return Outcome::Failed;
    switch (result) {
    case SmtpResult::NoConnection: // also when no exchanger answered
    case SmtpResult::SendFailed:
    case SmtpResult::NoReply:
    case SmtpResult::NoGreeting:
    case SmtpResult::HelloRefused:
    case SmtpResult::TlsTimedOut:
    case SmtpResult::TlsDropped:
        return Outcome::Retry;
    default:
        // Bad addresses or text caught before the wire, a refused
        // certificate and anything unknown will not pass by themselves.
        return Outcome::Failed;
    }
}

long long CSendThread::retryDelayMs(int tries, long long unitMs) {
    static constexpr int steps[] = {1, 2, 5, 10, 30, 60};
    constexpr int last = static_cast<int>(std::size(steps)) - 1;
    const int index = tries < 0 ? 0 : (tries > last ? last : tries);
    return steps[index] * unitMs;
}

void CSendThread::setRetryTiming(long long unitMs, long long giveUpMs) {
    m_retryUnitMs.store(unitMs);
    m_giveUpMs.store(giveUpMs);
}

int CSendThread::sendNotification(const CMapStringToString& settings) {
    return sendMail(CNotification::mailRequest(settings));
}

int CSendThread::sendMail(const CMapStringToString& mail) {
    CMapStringToString merged;
    if (getDefault(merged) == DataResult::NoWindow)
        return kSettingsUnavailable;
    for (const auto& [key, value] : mail)
        merged.SetAt(key, value);

    NVKTL::CTime now;
    now.SetNow();
    const CString message = CNotification::buildMessage(merged, now);
    return deliverMail(merged, message, m_lastReply);
}

int CSendThread::deliverMail(const CMapStringToString& settings, const CString& message,
                             int& replyCode) {
    CMailRoute::Limits limits;
    limits.abortHandle = abortHandle();
    if (m_session != nullptr)
        return CMailRoute::deliverMail(settings, message, *m_session, &replyCode, limits);
    return CMailRoute::deliverMail(settings, message, &replyCode, limits);
}
