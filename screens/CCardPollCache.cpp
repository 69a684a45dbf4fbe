#include "screens/CCardPollCache.h"

#include <chrono>

long long CCardPollCache::nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

CCardPollCache::State& CCardPollCache::state() {
    static State s;
    return s;
}
