#include "delivery/CSendThread.h"

#include "data/CDbAccess.h"
#include "delivery/CMailRoute.h"
#include "delivery/CNotification.h"
#include "nvktl/CSmtpClient.h"
#include "nvktl/CTime.h"
#include "nvktl/vector.h"

namespace {

constexpr int kNoWindow = -2;
constexpr unsigned kEndingPeriodMs = 1;
constexpr const char* kSendDateFormat = "%Y%m%d%H%M%S%s";
constexpr const char* kSendingText = "メール送信中";

CString column(const CMapStringToString& row, const char* key) {
    CString value;
    row.Lookup(key, value);
    return value;
}

CString sendDateNow() {
    NVKTL::CTime now;
    now.SetNow();
    CString text;
    now.Format(text, kSendDateFormat);
    return text;
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

void CSendThread::addPending(Command command) {
    std::lock_guard<std::mutex> guard(m_pendingLock);
    m_pending.push_back(std::move(command));
}

int CSendThread::sendPending(Command& command) {
    const CString& name = command[0];
    if ((name == "sendLogin" || name == "skipLogin") && command.size() == 3)
        return sendCommand(name.c_str(), &command[1], &command[2]);
    if (name == "setMailError" && command.size() == 6)
        return sendCommand(name.c_str(), &command[1], &command[2], &command[3], &command[4],
                           &command[5]);
    return 0; // not a state change this thread writes: dropped unsent
}

bool CSendThread::flushPending() {
    if (getWindow() == nullptr)
        return false;
    // Only the worker changes the list, so the front stays put while it is
    // being sent; the lock is for readers on other threads.
    for (;;) {
        Command command;
        {
            std::lock_guard<std::mutex> guard(m_pendingLock);
            if (m_pending.empty())
                return true;
            command = m_pending.front();
        }
        if (command.empty() || sendPending(command) != kNoWindow) {
            std::lock_guard<std::mutex> guard(m_pendingLock);
            m_pending.erase(m_pending.begin());
            continue;
        }
        return false;
    }
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
    sendCommand("getDefault", &settings);
    NVKTL::vector<CMapStringToString*> rows;
    const int found = sendCommand("getSendLogin", &rows);
    if (found == kNoWindow || rows.empty()) {
        if (!rows.empty())
            releaseSendLogin(&rows);
        return;
    }

    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (getWindow() == nullptr || m_ending.load())
            break;
        statusText(kSendingText);
        progressStart(static_cast<int>(i + 1), static_cast<int>(count));

        const CMapStringToString* cell = rows.at(i);
        if (cell == nullptr)
            continue;
        const CMapStringToString row = *cell;
        CString mail = column(row, "from_mail");
        CString sendDate = sendDateNow();
        CString loginId = column(row, "login_id");

        if (mail.IsEmpty()) {
            // Nothing is kept for later: the visit is still due and comes back.
            if (sendCommand("skipLogin", &loginId, &sendDate) == kNoWindow)
                break;
            continue;
        }

        for (const auto& [key, value] : row)
            settings.SetAt(key, value);
        const int code = sendNotification(settings);
        if (code == kSettingsUnavailable)
            break; // not attempted: the visit is still due and comes back

        if (code == 0) {
            if (sendCommand("sendLogin", &loginId, &sendDate) == kNoWindow) {
                addPending({"sendLogin", loginId, sendDate});
                break;
            }
            continue;
        }

        CString userId = column(row, "user_id");
        CString error = NVKTL::CSmtpClient::GetErrorMessage(code);
        if (sendCommand("setMailError", &loginId, &userId, &mail, &sendDate, &error) == kNoWindow) {
            addPending({"setMailError", loginId, userId, mail, sendDate, error});
            addPending({"skipLogin", loginId, sendDate});
            break;
        }
        if (sendCommand("skipLogin", &loginId, &sendDate) == kNoWindow) {
            addPending({"skipLogin", loginId, sendDate});
            break;
        }
    }

    releaseSendLogin(&rows);
    progressEnd();
}

int CSendThread::sendNotification(const CMapStringToString& settings) {
    return sendMail(CNotification::mailRequest(settings));
}

int CSendThread::sendMail(const CMapStringToString& mail) {
    CMapStringToString merged;
    if (sendCommand("getDefault", &merged) == kNoWindow)
        return kSettingsUnavailable;
    for (const auto& [key, value] : mail)
        merged.SetAt(key, value);

    NVKTL::CTime now;
    now.SetNow();
    const CString message = CNotification::buildMessage(merged, now);
    return deliverMail(merged, message);
}

int CSendThread::deliverMail(const CMapStringToString& settings, const CString& message) {
    return CMailRoute::deliverMail(settings, message);
}
