#pragma once

#include "nvktl/CMapStringToString.h"

// The last card poll, shared by every screen: a poll taken 1 to 100 ms ago is
// used again instead of asking the reader.
class CCardPollCache {
public:
    // The card text, polling through poll() unless the last poll is 1 to
    // 100 ms older than nowMs.
    template <class Poll> static CString get(long long nowMs, Poll&& poll) {
        State& s = state();
        if (!s.used) {
            s.used = true;
            s.tick = nowMs;
        }
        const long long age = nowMs - s.tick;
        if (age >= 1 && age <= 100)
            return s.text;
        s.text = poll();
        s.tick = nowMs;
        return s.text;
    }
    // Milliseconds of a monotonic clock.
    static long long nowMs();
    static void resetForTesting() { state() = State(); }

private:
    struct State {
        CString text;
        long long tick = 0;
        bool used = false;
    };
    static State& state();
};
