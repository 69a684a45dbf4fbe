#pragma once

namespace NVKTL {

// Start-up and clean-up of the socket library for the program's lifetime.
// POSIX sockets need no library start-up, so both do nothing here.
class CWinSock {
public:
    explicit CWinSock(unsigned short version = 2);
    CWinSock(const CWinSock&) = delete;
    CWinSock& operator=(const CWinSock&) = delete;
    virtual ~CWinSock();
};

} // namespace NVKTL
