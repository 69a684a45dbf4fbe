#pragma once

#include "screens/CardPoll.h"

// The last card poll, shared by every screen: a poll taken 1 to 100 ms ago is
// used again instead of asking the reader.
class CCardPollCache {
public:
    // The card, polling through poll() unless the last poll is 1 to 100 ms
    // older than nowMs.
    template <class Poll> static CardPoll get(long long nowMs, Poll&& poll) {
        State& s = state();
        if (!s.used) {
            s.used = true;
            s.tick = nowMs;
        }
        const long long age = nowMs - s.tick;
        if (age >= 1 && age <= 100)
            return s.last;
        s.last = poll();
        s.tick = nowMs;
        return s.last;
    }
    // Milliseconds of a monotonic clock.
    static long long nowMs();
    static void resetForTesting() { state() = State(); }

private:
    struct State {
        CardPoll last;
        long long tick = 0;
        bool used = false;
    };
    static State& state();
};
