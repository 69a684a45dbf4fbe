#pragma once

// The screen side that the send thread talks to. The worker calls these
// synchronously and waits for the answer; the implementation runs the work on
// the user-interface thread. An implementation that can no longer serve (its
// screen is gone or going) answers dataRequest with -2 and never blocks for
// ever. The object handed to the thread must outlive its binding and every
// call in flight: the application binds one long-lived dispatcher and lets
// screens come and go behind it.
class ISendWindow {
public:
    // The answer of a data command that no screen can serve.
    static constexpr int kNoWindow = -2;

    virtual ~ISendWindow() = default;

    // A named data command; args points at the command's argument objects in
    // array order. Returns the data operation's result, or kNoWindow when no screen
    // can serve it.
    virtual int dataRequest(const char* name, void* const* args) = 0;

    // Progress for the status bar: a batch row position/maximum, its end, and
    // the status text.
    virtual void progressStart(int position, int maximum) = 0;
    virtual void progressEnd() = 0;
    virtual void statusText(const char* text) = 0;
};
