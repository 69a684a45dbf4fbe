#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

// Starts argv (looked up on PATH unless a path) with the extra environment
// entries before the inherited ones. Its output and errors are appended to
// the file output, or its output goes into a pipe whose reading end is put
// in *pipeOut. -1 when it could not be started.
inline pid_t spawnProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extra, const std::string& output,
                          int* pipeOut = nullptr) {
    std::vector<std::string> env(extra);
    for (char** entry = environ; *entry; ++entry)
        env.emplace_back(*entry);
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (pipeOut && ::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeOut) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeOut) {
        ::close(fds[1]);
        *pipeOut = fds[0];
    }
    return pid;
}

} // namespace bench
