#include "app/CInstanceLock.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

CInstanceLock::~CInstanceLock() {
    release();
}

CInstanceLock::Result CInstanceLock::tryLock(const std::string& name) {
    release();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // The leading zero byte puts the name in the abstract space: no file.
    if (name.empty() || name.size() + 1 > sizeof(address.sun_path))
        return Result::Failed;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    // Close-on-exec: a program started from here must not inherit the lock.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Result::Failed;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? Result::HeldElsewhere : Result::Failed;
    }
    m_fd = fd;
    return Result::Taken;
}

void CInstanceLock::release() {
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}
