#pragma once

#include "delivery/CBaseThread.h"
#include "nvktl/CEvent.h"
#include "nvktl/CMapStringToString.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <variant>
#include <vector>

class CMailSession;

// The background worker that mails every due delivery (one visit to one
// address) and reports each outcome back as a data request to the bound
// window before it starts the next one. It never opens the database itself.
//
// A delivery is claimed before it is mailed; an outcome that cannot be stored
// is kept and stored before anything else is mailed, so a mail that has gone
// out is never sent again because its state was lost. At exit the kept
// outcomes are stored by the application itself (storeKeptChanges), once the
// worker has stopped.
class CSendThread : public CBaseThread {
public:
    // sendMail's answer when the bound window could not give the settings: the
    // mail was not attempted and the row stays due.
    static constexpr int kSettingsUnavailable = -100;

    // What became of one attempt.
    enum class Outcome { Sent, Retry, Failed, NotAttempted };
    // A failure that can pass by itself (no connection, a time-out, a 4xx
    // reply) is tried again; one that will not (a 5xx reply, a bad address,
    // a refused certificate) fails at once.
    static Outcome classify(int code, int replyCode);
    // The wait before try number tries + 1 (1, 2, 5, 10, 30, then 60 units)
    // and how long a delivery is tried at all, counted from its visit.
    static long long retryDelayMs(int tries, long long unitMs);
    static constexpr long long kRetryUnitMs = 60 * 1000;
    static constexpr long long kGiveUpMs = 24LL * 60 * 60 * 1000;
    // How long a claim holds before the delivery is due again.
    static constexpr long long kClaimMs = 10 * 60 * 1000;

    CSendThread();
    ~CSendThread() override;

    // One period: store the kept state changes, then mail the due deliveries.
    void execute() override;
    // Stores the kept state changes in order; true when none is left.
    bool flushPending();
    // From the user-interface thread: finish the pending commands at a fast
    // pace, start no new work, and set event once nothing is pending. The
    // thread sets the event once and never touches it afterwards.
    void requestEnd(NVKTL::CEvent* event);
    // From the user-interface thread, when the program must end now: starts
    // no new work and ends the attempt in progress at once, except the wait
    // for the server's answer to a sent message, which gets a few seconds
    // (an answered outcome is kept). An attempt ended so is given back,
    // due again, without counting as a try. For the rest of the object's life.
    void abortAttempts();
    // Number of state changes still waiting for a window; any thread may ask.
    std::size_t pendingCount() const;
    // Mails being sent now and outcomes not yet stored; any thread may ask.
    std::size_t sendingCount() const;
    // Stores the kept state changes through store, in order, on the calling
    // thread; only once the worker has stopped (stop()). Returns how many
    // could not be stored.
    std::size_t storeKeptChanges(const std::function<DataResult(CDataRequest&)>& store);

    // The notification for one due-visit row; settings hold every setting and
    // the row's columns on top. 0 when delivered, else the delivery's code.
    int sendNotification(const CMapStringToString& settings);
    // Composes and delivers one mail from recv_name, recv_mail, body, title.
    int sendMail(const CMapStringToString& mail);

    // Tests shrink the retry unit and the give-up time.
    void setRetryTiming(long long unitMs, long long giveUpMs);

protected:
    // Hands the finished message to the mail route; replyCode receives the
    // last SMTP reply code (0 when none). Every wait of the route ends when
    // abortHandle() is signalled.
    virtual int deliverMail(const CMapStringToString& settings, const CString& message,
                            int& replyCode);
    int abortHandle() const { return m_abort.handle(); }

private:
    // A state change of one delivery, kept until it has been stored.
    using StateChange = std::variant<DataRequest::ReleaseDelivery, DataRequest::SendDelivery,
                                     DataRequest::RetryDelivery, DataRequest::FailDelivery>;

    void addPending(StateChange change);
    DataResult store(const StateChange& change);
    // Mails one due-delivery row and stores its outcome; false stops the loop.
    bool deliverRow(const CMapStringToString& row, CMapStringToString& settings);
    // Tells the window how many deliveries wait for their next try.
    void showWaiting();
    // Mails the office's daily summary when its time has come and no
    // terminal has sent it yet.
    void sendDaySummary(const CMapStringToString& settings);
    // The state change for an attempt's outcome.
    StateChange outcomeChange(const CMapStringToString& row, int code, int replyCode);

    mutable std::mutex m_pendingLock;
    std::vector<StateChange> m_pending;
    // Set by requestEnd; the event itself is dropped once it has been set.
    std::atomic<NVKTL::CEvent*> m_endEvent{nullptr};
    std::atomic<bool> m_ending{false};
    NVKTL::CEvent m_abort;
    std::atomic<bool> m_aborted{false};
    std::atomic<bool> m_attempting{false};
    std::atomic<long long> m_retryUnitMs{kRetryUnitMs};
    std::atomic<long long> m_giveUpMs{kGiveUpMs};
    // The reply code of the attempt in progress (worker only).
    int m_lastReply = 0;
    // The SMTP session of the batch in progress, null between batches (worker
    // only).
    CMailSession* m_session = nullptr;
    // The status bar shows the waiting deliveries (worker only).
    bool m_waitingShown = false;
};
