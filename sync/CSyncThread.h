#pragma once

#include "nvktl/CTimerThread.h"

#include <atomic>
#include <functional>
#include <mutex>

// The background step of a terminal that uses a server. Every period, and at
// once when woken after a visit:
// - the visits recorded on the terminal go up to the server (each exactly
//   once, however often an upload is cut off: the server keeps a visit's id
//   once and the terminal marks it only after the server's commit);
// - the roster copy on the terminal follows the server's roster when its
//   version has changed;
// - each pupil's latest visit on the server (from any terminal) is kept on
//   the terminal, so that its double-tap guard and arrival/departure turn
//   see every entrance;
// - on the first contact of the run, the claims this terminal left on the
//   server (a run that was killed) are given back.
// While the server is away every step simply fails and is tried again; the
// terminal greets and records from its own file meanwhile.
class CSyncThread : public NVKTL::CTimerThread {
public:
    static constexpr unsigned kPeriodMs = 1000;
    // Visits per upload: one upload costs the same few round trips whatever
    // its size.
    static constexpr int kUploadBatch = 200;

    // uploaded runs on this thread after visits reached the server.
    explicit CSyncThread(std::function<void()> uploaded = {});
    ~CSyncThread() override;

    bool onTimer() override;
    // One round of the steps above on the calling thread; true when the
    // server answered.
    bool runOnce();
    // Copies the roster now when it changed on the server (after an
    // administrator's change on this terminal), waiting at most a few
    // seconds for a round in progress; true when the server answered.
    bool followRoster();
    static constexpr int kFollowWaitMs = 3000;

    // What the last round found.
    bool serverAnswers() const { return m_answers.load(); }
    int waitingVisits() const { return m_waiting.load(); }

    // How far back the latest visits are followed: the last day at the
    // first contact, then a margin each round for late uploads and the
    // terminals' clocks.
    static constexpr long long kFirstFollowMs = 24LL * 3600 * 1000;
    static constexpr long long kFollowMarginMs = 10LL * 60 * 1000;

private:
    bool round();
    bool upload();
    bool followVisits();

    std::function<void()> m_uploaded;
    // Rounds of this thread and followRoster from the user-interface thread
    // take turns.
    std::timed_mutex m_roundLock;
    long long m_rosterVersion = -1;
    bool m_claimsFreed = false;
    bool m_visitsFollowed = false;
    bool m_journalled = false;
    bool m_collided = false;
    std::atomic<bool> m_answers{false};
    std::atomic<int> m_waiting{0};
};
