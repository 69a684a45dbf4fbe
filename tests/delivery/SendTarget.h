#pragma once

#include "delivery/ISendWindow.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The screen side of the send thread inside the test process: it runs each
// data command on the test's data file, one at a time as the user-interface
// thread would, and records every call it receives in order.
class SendTarget : public ISendWindow {
public:
    // One received call: a data command with its text arguments, or a
    // progress call ("progressStart", "progressEnd", "statusText").
    struct Call {
        std::string name;
        std::vector<std::string> args;
    };

    // Runs before a command's data operation, on the worker's thread. A value
    // answers the command instead of running it (-2: the screen is gone).
    using Hook = std::function<std::optional<int>(const Call& call)>;

    int dataRequest(const char* name, void* const* args) override;
    void progressStart(int position, int maximum) override;
    void progressEnd() override;
    void statusText(const char* text) override;

    void setHook(Hook hook);
    // Holds off the data commands while the test inspects the data file.
    std::unique_lock<std::mutex> lockData() { return std::unique_lock(m_dataLock); }
    // While closed, every command is answered with -2 and progress is ignored.
    void setClosed(bool closed);

    std::vector<Call> calls() const;
    std::vector<std::string> names() const;
    int count(const std::string& name) const;
    void clearCalls();

    // Waits until done(calls) holds; false when timeout passed first.
    bool waitFor(const std::function<bool(const std::vector<Call>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    void record(Call call);
    static std::vector<std::string> textArguments(const std::string& name, void* const* args);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Call> m_calls;
    Hook m_hook;
    bool m_closed = false;
    // The data file is used by one command at a time, as on the UI thread.
    std::mutex m_dataLock;
};
