#pragma once

#include "delivery/ISendWindow.h"
#include "nvktl/CTimerThread.h"

#include <atomic>

// A periodic worker bound to one window: it runs its work only while a window
// is bound and sends that window named data commands and progress.
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

    // The named command with its argument objects in array order; -2 at once
    // when no window is bound, else the window's answer.
    int sendCommand(const char* name, void* a1);
    int sendCommand(const char* name, void* a1, void* a2);
    int sendCommand(const char* name, void* a1, void* a2, void* a3);
    int sendCommand(const char* name, void* a1, void* a2, void* a3, void* a4, void* a5);

protected:
    // Progress for the bound window's status bar; nothing when none is bound.
    void progressStart(int position, int maximum);
    void progressEnd();
    void statusText(const char* text);

private:
    int sendCommandArray(const char* name, void* const* args);

    // Written by the user-interface thread, read afresh by the worker before
    // every request.
    std::atomic<ISendWindow*> m_window{nullptr};
    std::atomic<bool> m_busy{false};
};
