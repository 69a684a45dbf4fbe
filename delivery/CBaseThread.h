#pragma once

#include "data/CDataRequest.h"
#include "delivery/ISendWindow.h"
#include "nvktl/CTimerThread.h"

#include <atomic>

// A periodic worker bound to one window: it runs its work only while a window
// is bound and sends that window data requests and progress.
class CBaseThread : public NVKTL::CTimerThread {
public:
    CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;
    ~CBaseThread() override;

    // The per-period work: runs execute() while a window is bound; a period
    // never overlaps the previous one. Always keeps ticking.
    bool onTimer() override;
    virtual void execute() = 0;

    // User-interface side: bind (and start ticking) or unbind (and pause).
    void setWindow(ISendWindow* window);
    void resetWindow();
    ISendWindow* getWindow() const;

    // The requests the worker asks and waits for (the settings, the due
    // deliveries, a claim, the waiting count): each builds its request, sends
    // it to the bound window and waits for the answer; NoWindow at once when
    // no window is bound. An outcome (released, sent, retried, failed) is a
    // request the send thread builds and keeps until it is stored, sent with
    // sendRequest.
    DataResult getDefault(CMapStringToString& settings);
    DataResult getSendLogin(NVKTL::vector<CMapStringToString*>& rows);
    // The Message-ID and Date of the delivery's first try come back in
    // messageId and messageDate (the proposals when this is the first).
    DataResult claimDelivery(const CString& sendId, const CString& now, const CString& until,
                             CString& messageId, CString& messageDate);
    DataResult getWaitingCount(int& count);

protected:
    // Progress for the bound window's status bar; nothing when none is bound.
    void progressStart(int position, int maximum);
    void progressEnd();
    void statusText(const char* text);

    // Sends a request that is already built (a state change).
    DataResult sendRequest(CDataRequest& request);

private:
    // Written by the user-interface thread, read afresh by the worker before
    // every request.
    std::atomic<ISendWindow*> m_window{nullptr};
    std::atomic<bool> m_busy{false};
};
