#include "child_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

void stopProgram(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

}  // namespace kestrane::test
