#pragma once

#include <string>

// The single-instance lock: a name in the kernel's abstract socket space,
// which every process of the machine sees whatever folder it was started
// from. Binding it is tried without waiting; the kernel drops it when the
// process ends however it ends, so a killed terminal never keeps the next
// start out, and there is no file to leave behind or to lack rights for.
class CInstanceLock {
public:
    enum class Result {
        Taken,         // this object holds the name now
        HeldElsewhere, // another process (or another CInstanceLock) holds it
        Failed,        // the name could not be tried at all
    };

    CInstanceLock() = default;
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;
    ~CInstanceLock();

    Result tryLock(const std::string& name);
    void release();

private:
    int m_fd = -1;
};
