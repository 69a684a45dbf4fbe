#pragma once

#include "tests/support/WaitUntil.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace proctest {

// How long a test waits for a child's output or its end.
constexpr int kChildWaitMs = 20000;

// A child process with pipes to its standard input and output.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (::posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        closeInput();
        if (m_out >= 0)
            ::close(m_out);
        wait();
    }

    bool started() const { return m_pid > 0; }
    void closeInput() {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
    }

    // One line of output without its line end; false at the end or after kChildWaitMs.
    bool readLine(std::string& line) {
        std::size_t end;
        while ((end = m_buffer.find('\n')) == std::string::npos)
            if (!readMore())
                return false;
        line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return true;
    }
    // The port of a peer that announces "PORT n" as its first line, else 0.
    int announcedPort() {
        std::string line;
        const bool announced = started() && readLine(line) && line.rfind("PORT ", 0) == 0;
        return announced ? std::atoi(line.c_str() + 5) : 0;
    }
    // All output until the child closes it (at most kChildWaitMs per read).
    std::string readAll() {
        while (readMore()) {
        }
        return std::exchange(m_buffer, std::string());
    }

    // True until the child has ended.
    bool running() {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) == 0)
            return m_pid > 0;
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    // Sends signal and waits for the end, as wait() does.
    int kill(int signal) {
        if (m_pid > 0)
            ::kill(m_pid, signal);
        return wait();
    }
    // The exit status; the child is killed when it has not ended in kChildWaitMs.
    int wait() {
        const auto ended = [this] { return !running(); };
        if (!iotest::waitUntil(ended, std::chrono::milliseconds(kChildWaitMs))) {
            ::kill(m_pid, SIGKILL);
            iotest::waitUntil(ended);
        }
        return m_status;
    }

private:
    bool readMore() {
        pollfd p{m_out, POLLIN, 0};
        char chunk[4096];
        const ssize_t n =
            m_out >= 0 && ::poll(&p, 1, kChildWaitMs) > 0 ? ::read(m_out, chunk, sizeof chunk) : -1;
        if (n > 0)
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        return n > 0;
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_status = -1;
    std::string m_buffer;
};

struct Output {
    int status;
    std::string text;
};

inline Output RunTool(const std::vector<std::string>& argv) {
    Child child(argv);
    child.closeInput();
    std::string text = child.readAll();
    return {child.wait(), text};
}

} // namespace proctest
