#include "tools/vpcd-felica-card/CPcscdDaemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

bool socketAnswers(const char* path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof(address.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// vpcd's port is listening (checked without connecting, which would place a card).
bool tcpPortListening(unsigned port) {
    char wanted[8];
    std::snprintf(wanted, sizeof(wanted), ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream lines(table);
        std::string line;
        std::getline(lines, line); // header
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() >= 5 && local.ends_with(wanted)) {
                return true;
            }
        }
    }
    return false;
}

// Nothing holds the port, not even a connection that is closing.
bool tcpPortFree(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return free;
}

// Ports from here up are never handed out to connecting sockets by the
// kernel's default ephemeral range (32768-60999).
constexpr unsigned kPortBase = 20000;
constexpr unsigned kPortSpan = 12000;

} // namespace

CPcscdDaemon::CPcscdDaemon() {
    char pattern[] = "/tmp/poston-pcscd-XXXXXX";
    if (mkdtemp(pattern)) {
        m_folder = pattern;
    }
}

CPcscdDaemon::~CPcscdDaemon() {
    stop(milliseconds(3000));
    if (!m_folder.empty()) {
        std::error_code error;
        fs::remove_all(m_folder, error);
    }
}

pid_t CPcscdDaemon::otherPcscd(pid_t ours) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream comm(entry.path() / "comm");
        std::string command;
        std::getline(comm, command);
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
        if (command != "pcscd" || pid == ours) {
            continue;
        }
        // A zombie of ours not yet reaped does not count.
        std::ifstream stat(entry.path() / "stat");
        std::string statLine;
        std::getline(stat, statLine);
        const std::size_t close = statLine.rfind(')');
        if (close != std::string::npos && statLine.size() > close + 2 &&
            statLine[close + 2] == 'Z') {
            continue;
        }
        return pid;
    }
    return 0;
}

bool CPcscdDaemon::start(milliseconds wait) {
    m_error.clear();
    if (m_pid > 0) {
        return true;
    }
    if (::access(kProgram, X_OK) != 0) {
        m_error = std::string(kProgram) + " is missing: install the Debian package pcscd";
        return false;
    }
    if (::access(kVpcdDriver, R_OK) != 0) {
        m_error = std::string(kVpcdDriver) + " is missing: install the Debian package "
                                             "vsmartcard-vpcd";
        return false;
    }
    if (const pid_t other = otherPcscd()) {
        m_error = "another pcscd is running (pid " + std::to_string(other) +
                  "); stop it first, e.g. systemctl stop pcscd.socket pcscd";
        return false;
    }
    if (socketAnswers(kSocket)) {
        m_error = std::string(kSocket) +
                  " already answers (systemd's pcscd.socket?); stop it first, e.g. "
                  "systemctl stop pcscd.socket pcscd";
        return false;
    }

    if (!prepareConfiguration()) {
        return false;
    }
    const std::string configuration = m_folder + "/reader.conf.d";
    const std::string logFile = m_folder + "/pcscd.log";

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        char program[] = "pcscd";
        char foreground[] = "-f";
        char apdu[] = "-a";
        char config[] = "-c";
        char* const argv[] = {
            program, foreground, apdu, config, const_cast<char*>(configuration.c_str()), nullptr};
        ::execv(kProgram, argv);
        ::_exit(127);
    }
    m_pid = child;
    if (!waitReady(wait)) {
        stop(milliseconds(2000));
        return false;
    }
    return true;
}

bool CPcscdDaemon::prepareConfiguration() {
    if (m_folder.empty()) {
        m_error = "cannot create a temporary folder for pcscd";
        return false;
    }
    if (m_port == 0) {
        const unsigned start = static_cast<unsigned>(::getpid()) * 2 % kPortSpan;
        for (unsigned step = 0; step < kPortSpan && m_port == 0; step += 2) {
            const auto port = static_cast<std::uint16_t>(kPortBase + (start + step) % kPortSpan);
            if (tcpPortFree(port) && tcpPortFree(static_cast<std::uint16_t>(port + 1))) {
                m_port = port;
            }
        }
        if (m_port == 0) {
            m_error = "no two free TCP ports for vpcd";
            return false;
        }
    }
    std::error_code error;
    fs::create_directories(m_folder + "/reader.conf.d", error);
    std::ofstream config(m_folder + "/reader.conf.d/vpcd", std::ios::trunc);
    char port[8];
    std::snprintf(port, sizeof(port), "0x%04X", m_port);
    config << "FRIENDLYNAME \"Virtual PCD\"\n"
           << "DEVICENAME   /dev/null:" << port << "\n"
           << "LIBPATH      " << kVpcdDriver << "\n"
           << "CHANNELID    " << port << "\n";
    config.close();
    if (!config) {
        m_error = "cannot write the reader configuration in " + m_folder;
        return false;
    }
    return true;
}

bool CPcscdDaemon::waitReady(milliseconds wait) {
    const auto deadline = steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = 0;
            m_error = "pcscd ended while starting: " + log();
            return false;
        }
        if (socketAnswers(kSocket) && tcpPortListening(firstSlotPort()) &&
            tcpPortListening(secondSlotPort())) {
            return true;
        }
        if (steady_clock::now() >= deadline) {
            m_error = "pcscd was not ready in time: " + log();
            return false;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
}

bool CPcscdDaemon::reap(milliseconds wait) {
    const auto deadline = steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
        if (ended == m_pid || (ended < 0 && errno == ECHILD)) {
            m_pid = 0;
            return true;
        }
        if (steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
}

void CPcscdDaemon::stop(milliseconds wait) {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGCONT);
    ::kill(m_pid, SIGTERM);
    if (!reap(wait)) {
        ::kill(m_pid, SIGKILL);
        reap(milliseconds(5000));
    }
}

void CPcscdDaemon::kill() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGKILL);
    reap(milliseconds(5000));
}

bool CPcscdDaemon::pause() {
    return m_pid > 0 && ::kill(m_pid, SIGSTOP) == 0;
}

bool CPcscdDaemon::resume() {
    return m_pid > 0 && ::kill(m_pid, SIGCONT) == 0;
}

std::string CPcscdDaemon::log() const {
    std::ifstream file(m_folder + "/pcscd.log");
    std::ostringstream text;
    text << file.rdbuf();
    std::string all = text.str();
    constexpr std::size_t kTail = 2000;
    return all.size() > kTail ? all.substr(all.size() - kTail) : all;
}
