#pragma once

#include "delivery/ISendWindow.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>

class CBaseDialog;

// The send thread's window: one long-lived object, made by the application on
// the user-interface thread and handed to the send thread for the whole run.
// Screens bind themselves as they open and unbind as they close.
//
// A data request from the worker is queued, a queued call wakes the
// user-interface thread, which runs it through the bound screen's
// OnDataRequest (inside any event loop, modal message boxes included), and the
// worker waits for the answer. Nothing here blocks the user-interface thread
// on the worker, so neither side can deadlock the other:
// - no screen bound: NoWindow at once;
// - unbind answers every request still waiting with NoWindow before it
//   returns, so the worker never reaches a screen that is gone;
// - a request made on the user-interface thread itself runs directly.
// Progress is delivered asynchronously and dropped while no screen is bound.
class CSendWindowDispatcher : public QObject, public ISendWindow {
    Q_OBJECT
public:
    // Lives on the thread that creates it: the user-interface thread.
    explicit CSendWindowDispatcher(QObject* parent = nullptr);
    ~CSendWindowDispatcher() override;

    // User-interface thread.
    void bind(CBaseDialog* screen);
    void unbind(CBaseDialog* screen);
    CBaseDialog* boundScreen() const;
    // Unbinds and refuses every later request with NoWindow (at exit).
    void shutdown();

    // Any thread.
    DataResult dataRequest(CDataRequest& request) override;
    void progressStart(int position, int maximum) override;
    void progressEnd() override;
    void statusText(const char* text) override;

    // Requests queued and not yet taken up by the user-interface thread.
    std::size_t waitingRequests() const;

private:
    struct Request {
        CDataRequest* request;
        DataResult result;
        bool answered;
    };

    void serve();
    bool onUiThread() const;
    void answerWaiting(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_answered;
    std::deque<Request*> m_waiting;
    CBaseDialog* m_screen = nullptr;
    bool m_closed = false;
};
