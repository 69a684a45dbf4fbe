#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>

// A pcscd of our own for tests and benchmarks: started in the foreground as
// a child, with Debian's vpcd driver serving two virtual readers on
// 127.0.0.1:35963 and :35964. It refuses to start while another pcscd runs,
// since both would share /run/pcscd. Every wait is bounded; the destructor
// stops the daemon, and the daemon dies with the thread that started it.
class CPcscdDaemon {
public:
    static constexpr const char* kProgram = "/usr/sbin/pcscd";
    static constexpr const char* kSocket = "/run/pcscd/pcscd.comm";
    static constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
    static constexpr const char* kVpcdConfig = "/etc/reader.conf.d/vpcd";

    CPcscdDaemon();
    ~CPcscdDaemon();
    CPcscdDaemon(const CPcscdDaemon&) = delete;
    CPcscdDaemon& operator=(const CPcscdDaemon&) = delete;

    // Starts pcscd and waits until its socket answers and vpcd listens.
    // On failure error() says why.
    bool start(std::chrono::milliseconds wait);
    // SIGTERM, then SIGKILL when it has not ended within the wait.
    void stop(std::chrono::milliseconds wait);
    // SIGKILL, as a crash: the socket and pid files stay behind.
    void kill();
    // SIGSTOP / SIGCONT: a daemon that stops answering.
    bool pause();
    bool resume();

    bool isRunning() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    const std::string& error() const { return m_error; }
    std::string log() const;

    // The pid of a pcscd process that is not ours, or 0.
    static pid_t otherPcscd(pid_t ours = 0);

private:
    bool waitReady(std::chrono::milliseconds wait);
    bool reap(std::chrono::milliseconds wait);

    pid_t m_pid = 0;
    std::string m_error;
    std::string m_logFile;
};
