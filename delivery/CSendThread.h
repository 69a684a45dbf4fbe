#pragma once

#include "delivery/CBaseThread.h"
#include "nvktl/CEvent.h"
#include "nvktl/CMapStringToString.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

// The background worker that mails a notification for every due visit and
// reports each outcome back as a data command to the bound window. It never
// opens the database itself.
class CSendThread : public CBaseThread {
public:
    // sendMail's answer when the bound window could not give the settings: the
    // mail was not attempted and the row stays due.
    static constexpr int kSettingsUnavailable = -100;

    CSendThread();
    ~CSendThread() override;

    // One period: deliver pending commands, then mail the due visits.
    void execute() override;
    // Delivers the pending commands in order; true when none is left.
    bool flushPending();
    // From the user-interface thread: finish the pending commands at a fast
    // pace, start no new work, and set event once nothing is pending. The
    // thread sets the event once and never touches it afterwards.
    void requestEnd(NVKTL::CEvent* event);
    // Number of state changes still waiting for a window; any thread may ask.
    std::size_t pendingCount() const;

    // The notification for one due-visit row; settings hold every setting and
    // the row's columns on top. 0 when delivered, else the delivery's code.
    int sendNotification(const CMapStringToString& settings);
    // Composes and delivers one mail from recv_name, recv_mail, body, title.
    int sendMail(const CMapStringToString& mail);

protected:
    // Hands the finished message to the mail route.
    virtual int deliverMail(const CMapStringToString& settings, const CString& message);

private:
    // One state change: the command name, then its arguments in array order.
    // Kept as separate texts so that no argument can run into another.
    using Command = std::vector<CString>;

    void addPending(Command command);
    int sendPending(Command& command);

    mutable std::mutex m_pendingLock;
    std::vector<Command> m_pending;
    // Set by requestEnd; the event itself is dropped once it has been set.
    std::atomic<NVKTL::CEvent*> m_endEvent{nullptr};
    std::atomic<bool> m_ending{false};
};
