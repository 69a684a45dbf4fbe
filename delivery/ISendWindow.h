#pragma once

// Named only: the screens' dispatcher implements this interface, and moc
// cannot read the standard headers that data/CDataRequest.h brings.
struct CDataRequest;
enum class DataResult;

// The screen side that the send thread talks to. The worker calls these
// synchronously and waits for the answer; the implementation runs the work on
// the user-interface thread. An implementation that can no longer serve (its
// screen is gone or going) answers dataRequest with DataResult::NoWindow and
// never blocks for ever. The object handed to the thread must outlive its
// binding and every call in flight: the application binds one long-lived
// dispatcher and lets screens come and go behind it.
class ISendWindow {
public:
    virtual ~ISendWindow() = default;

    // Runs one data request; its answer is written into request. NoWindow
    // when no screen can serve it (then nothing was run).
    virtual DataResult dataRequest(CDataRequest& request) = 0;

    // Progress for the status bar: a batch row position/maximum, its end, and
    // the status text.
    virtual void progressStart(int position, int maximum) = 0;
    virtual void progressEnd() = 0;
    virtual void statusText(const char* text) = 0;
};
