#pragma once

#include <string>

// The single-instance lock: an exclusive lock on a file, tried without
// waiting. The kernel drops it when the process ends however it ends, so a
// killed terminal never keeps the next start out.
class CInstanceLock {
public:
    CInstanceLock() = default;
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;
    ~CInstanceLock();

    // Creates the file when missing (mode 0600) and takes the lock. False when
    // another process (or another CInstanceLock) holds it, or the file cannot
    // be opened.
    bool tryLock(const std::string& path);
    bool isHeld() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};
