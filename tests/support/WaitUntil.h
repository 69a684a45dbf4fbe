#pragma once

#include <chrono>
#include <thread>

namespace iotest {

// Polls pred until it holds or limit has passed; generous by default, so a
// slow machine never fails a test that is merely waiting for progress.
template <class Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace iotest
