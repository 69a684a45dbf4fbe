#pragma once

#include "nvktl/CMapStringToString.h"
#include "screens/CardPoll.h"

class CBaseDialog;
namespace NVKTL {
class CEvent;
}

// What the screens need of the application object. CPostonApp implements it;
// screen tests install a fake. One instance for the whole run, reached through
// theApp().
class IApplication {
public:
    virtual ~IApplication() = default;

    // Folders, each ending in "/": the parent of the program's folder, and
    // its data/ and var/ folders (created when missing).
    virtual CString getBaseDir() = 0;
    virtual CString getDataDir() = 0;
    virtual CString getVarDir() = 0;

    // One poll of the card reader.
    virtual CardPoll pollCard() = 0;
    // True while the open reader has been reporting errors for a while
    // (rather than seeing no card); the resting screen says so.
    virtual bool isReaderFailing() { return false; }

    // The send thread talks to the given screen from now on (every screen
    // calls this as it opens) / to no screen (as it closes). Detaching answers
    // every request still waiting with NoWindow before it returns.
    virtual void attachSendWindow(CBaseDialog* window) = 0;
    virtual void detachSendWindow(CBaseDialog* window) = 0;
    // The send thread sets event once everything pending has been delivered.
    virtual void requestSendEnd(NVKTL::CEvent* event) = 0;
    // Mails the send thread is sending now and outcomes it has not stored yet.
    virtual int sendingCount() { return 0; }
    // The program ends now: the send thread cuts its attempt short (but for
    // a few seconds for the answer to a sent message) and keeps the unsent
    // mails due for the next start.
    virtual void sendLater() {}
    // A visit has just been recorded: its mails need not wait for the send
    // thread's next period.
    virtual void visitRecorded() {}
};

IApplication* theApp();
void setTheApp(IApplication* app);
// One poll through theApp(); a reader error while no application is installed.
CardPoll pollReader();
