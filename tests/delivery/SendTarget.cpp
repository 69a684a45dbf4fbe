#include "SendTarget.h"

#include "data/CDataRequest.h"
#include "nvktl/CMapStringToString.h"

#include <algorithm>

std::vector<std::string> SendTarget::textArguments(const std::string& name, void* const* args) {
    int texts = 0;
    if (name == "releaseDelivery")
        texts = 1;
    else if (name == "sendLogin" || name == "skipLogin" || name == "getAddress" ||
             name == "sendDelivery")
        texts = 2;
    else if (name == "claimDelivery" || name == "retryDelivery" || name == "failDelivery")
        texts = 3;
    else if (name == "setMailError")
        texts = 5;
    std::vector<std::string> out;
    for (int i = 0; i < texts; ++i)
        out.push_back(static_cast<const CString*>(args[i])->str());
    return out;
}

int SendTarget::dataRequest(const char* name, void* const* args) {
    Call call{name, textArguments(name, args)};
    Hook hook;
    bool closed = false;
    {
        std::lock_guard guard(m_mutex);
        hook = m_hook;
        closed = m_closed;
    }
    std::optional<int> answer;
    if (closed)
        answer = -2;
    else if (hook)
        answer = hook(call);
    if (!answer) {
        std::lock_guard data(m_dataLock);
        answer = CDataRequest::run(name, args);
    }
    // Recorded after the command ran, so a waiter that sees it sees its rows.
    if (*answer != -2)
        record(std::move(call));
    else
        record(Call{"refused:" + call.name, call.args});
    return *answer;
}

void SendTarget::progressStart(int position, int maximum) {
    if (std::lock_guard guard(m_mutex); m_closed)
        return;
    record(Call{"progressStart", {std::to_string(position), std::to_string(maximum)}});
}

void SendTarget::progressEnd() {
    if (std::lock_guard guard(m_mutex); m_closed)
        return;
    record(Call{"progressEnd", {}});
}

void SendTarget::statusText(const char* text) {
    if (std::lock_guard guard(m_mutex); m_closed)
        return;
    record(Call{"statusText", {text}});
}

void SendTarget::setHook(Hook hook) {
    std::lock_guard guard(m_mutex);
    m_hook = std::move(hook);
}

void SendTarget::setClosed(bool closed) {
    std::lock_guard guard(m_mutex);
    m_closed = closed;
}

void SendTarget::record(Call call) {
    {
        std::lock_guard guard(m_mutex);
        m_calls.push_back(std::move(call));
    }
    m_changed.notify_all();
}

std::vector<SendTarget::Call> SendTarget::calls() const {
    std::lock_guard guard(m_mutex);
    return m_calls;
}

std::vector<std::string> SendTarget::names() const {
    std::lock_guard guard(m_mutex);
    std::vector<std::string> out;
    for (const Call& call : m_calls)
        out.push_back(call.name);
    return out;
}

int SendTarget::count(const std::string& name) const {
    std::lock_guard guard(m_mutex);
    return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(),
                                          [&](const Call& call) { return call.name == name; }));
}

void SendTarget::clearCalls() {
    std::lock_guard guard(m_mutex);
    m_calls.clear();
}

bool SendTarget::waitFor(const std::function<bool(const std::vector<Call>&)>& done,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_calls); });
}
