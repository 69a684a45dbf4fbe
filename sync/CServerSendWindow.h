#pragma once

#include "delivery/ISendWindow.h"

#include <atomic>

// The send thread's window on a terminal that uses a server: the data
// requests run on the send thread itself, on its own connection to the
// server, so that a slow or absent server never holds up the screens; the
// progress still goes to the screen that is open.
class CServerSendWindow : public ISendWindow {
public:
    explicit CServerSendWindow(ISendWindow& screens) : m_screens(screens) {}

    DataResult dataRequest(CDataRequest& request) override;
    void progressStart(int position, int maximum) override;
    void progressEnd() override;
    void statusText(const char* text) override;

    // At exit: every later request is answered with NoWindow.
    void close() { m_closed.store(true); }

private:
    ISendWindow& m_screens;
    std::atomic<bool> m_closed{false};
};
