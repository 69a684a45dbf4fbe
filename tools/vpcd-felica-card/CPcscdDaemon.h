#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>

// A pcscd of our own for tests and benchmarks: started in the foreground as
// a child, with a reader configuration of its own that gives Debian's vpcd
// driver two virtual readers on two free ports below the kernel's ephemeral
// range (so no passing connection can hold them). It refuses to start while
// another pcscd runs, since both would share /run/pcscd. Every wait is
// bounded; the destructor stops the daemon, and the daemon dies with the
// thread that started it.
class CPcscdDaemon {
public:
    static constexpr const char* kProgram = "/usr/sbin/pcscd";
    static constexpr const char* kSocket = "/run/pcscd/pcscd.comm";
    static constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

    CPcscdDaemon();
    ~CPcscdDaemon();
    CPcscdDaemon(const CPcscdDaemon&) = delete;
    CPcscdDaemon& operator=(const CPcscdDaemon&) = delete;

    // Starts pcscd and waits until its socket answers and vpcd listens on
    // both ports. A restart keeps the ports. On failure error() says why.
    bool start(std::chrono::milliseconds wait);
    // SIGTERM, then SIGKILL when it has not ended within the wait.
    void stop(std::chrono::milliseconds wait);
    // SIGKILL, as a crash: the socket and pid files stay behind.
    void kill();
    // SIGSTOP / SIGCONT: a daemon that stops answering.
    bool pause();
    bool resume();

    // Where virtual cards connect to lie on the first and the second reader.
    std::uint16_t firstSlotPort() const { return m_port; }
    std::uint16_t secondSlotPort() const { return static_cast<std::uint16_t>(m_port + 1); }

    bool isRunning() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    const std::string& error() const { return m_error; }
    std::string log() const;

    // The pid of a pcscd process that is not ours, or 0.
    static pid_t otherPcscd(pid_t ours = 0);

private:
    bool prepareConfiguration();
    bool waitReady(std::chrono::milliseconds wait);
    bool reap(std::chrono::milliseconds wait);

    pid_t m_pid = 0;
    std::uint16_t m_port = 0;
    std::string m_error;
    std::string m_folder; // temporary: reader.conf.d/ and pcscd.log
};
