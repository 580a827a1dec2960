#include "child_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "holders.h"

extern char** environ;

namespace kestrane::test {

StartedProgram startReadingFirstLine(const std::vector<std::string>& argv, bool quiet) {
    StartedProgram started;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return started;
    const UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> copies(argv);
    std::vector<char*> args;
    for (std::string& a : copies) args.push_back(a.data());
    args.push_back(nullptr);
    const int rc = posix_spawnp(&started.pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        started.pid = -1;
        return started;
    }
    writeEnd.reset();  // the program's copy is the only writer left
    char c;
    while (read(readEnd.get(), &c, 1) == 1 && c != '\n') started.firstLine.push_back(c);
    return started;
}

XServer::XServer(const std::string& screen) {
    std::vector<std::string> argv{"Xvfb", "-displayfd", "1", "-nolisten", "tcp"};
    if (!screen.empty()) argv.insert(argv.end(), {"-screen", "0", screen});
    const StartedProgram server = startReadingFirstLine(argv, true);
    pid_ = server.pid;
    if (!server.firstLine.empty()) display_ = ":" + server.firstLine;
}

void stopProgram(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

}  // namespace kestrane::test

namespace kestrane::test {

ChildRun runTestInChild(const std::string& filter, const std::string& variable, const std::string& value, const ChildLimits& limits) {
    ChildRun run;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return run;
    const UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    // Everything the child needs is made before fork: between fork and exec only system calls.
    std::string self = "/proc/self/exe", filterArg = "--gtest_filter=" + filter;
    std::vector<char*> args{self.data(), filterArg.data(), nullptr};
    std::string setting = variable + "=" + value;
    std::vector<char*> env{setting.data()};
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(nullptr);
    const rlimit addressSpace{limits.addressSpaceMiB << 20, limits.addressSpaceMiB << 20};
    const rlimit descriptors{limits.descriptors, limits.descriptors};
    const pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        setpgid(0, 0);
        dup2(writeEnd.get(), STDOUT_FILENO);
        dup2(writeEnd.get(), STDERR_FILENO);
        if (limits.addressSpaceMiB != 0 && !kSanitized) setrlimit(RLIMIT_AS, &addressSpace);
        if (limits.descriptors != 0) setrlimit(RLIMIT_NOFILE, &descriptors);
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    writeEnd.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.timeoutSeconds);
    char buffer[4096];
    int status = 0;
    bool ended = false;
    // Programs the child started (a bus) may hold the output open after it has ended: the
    // child's end, not the end of its output, ends the wait.
    while (!ended) {
        if (std::chrono::steady_clock::now() > deadline) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        pollfd p{readEnd.get(), POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
            if (n > 0) run.output.append(buffer, static_cast<std::size_t>(n));
            if (n != 0 || (p.revents & POLLHUP) == 0) continue;
        }
        ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    // What the child left running goes with it (its process group).
    kill(-pid, SIGKILL);
    for (pollfd p{readEnd.get(), POLLIN, 0}; poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;) {
        const ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        run.output.append(buffer, static_cast<std::size_t>(n));
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    return run;
}

}  // namespace kestrane::test
