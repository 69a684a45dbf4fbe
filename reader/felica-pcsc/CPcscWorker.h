#pragma once

#include "reader/felica-pcsc/CPcscSession.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// Runs the PC/SC session on a thread of its own, so that a caller waits at
// most a given time for an answer: a slow reader or a pcscd that stopped
// answering makes a poll fail instead of freezing the screens. A job that
// outlives its caller's wait finishes in the background, and the next caller
// of the same kind takes its result. Until then a poll that runs late is
// answered with the previous poll's result while that is recent, so a card
// lying on the reader does not seem lifted because one poll was slow.
class CPcscWorker {
public:
    CPcscWorker() = default;
    ~CPcscWorker();
    CPcscWorker(const CPcscWorker&) = delete;
    CPcscWorker& operator=(const CPcscWorker&) = delete;

    bool start();
    bool open(std::chrono::milliseconds wait);
    // maxAge: how old a previous result may be to stand in for a late one.
    bool poll(CPcscSession::Poll& result, std::chrono::milliseconds wait,
              std::chrono::milliseconds maxAge);
    // Ends the thread. False when it did not end within the wait: the thread
    // is then left behind with this object, which must not be destroyed.
    bool stop(std::chrono::milliseconds wait);

private:
    enum class Job { None, Open, Poll };

    // Hands the job to the thread (or joins the one running) and waits.
    bool runJob(Job job, std::chrono::milliseconds wait, std::chrono::milliseconds maxAge,
                CPcscSession::Poll* result);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::thread m_thread;
    CPcscSession m_session;

    Job m_job = Job::None; // the job asked for or running
    std::uint64_t m_submitted = 0;
    std::uint64_t m_completed = 0;
    bool m_stop = false;
    bool m_finished = false;

    Job m_resultJob = Job::None;
    bool m_resultOk = false;
    CPcscSession::Poll m_result;
    std::chrono::steady_clock::time_point m_resultTime;
};
