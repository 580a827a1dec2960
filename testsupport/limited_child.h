// Runs a hostile case in a child process held to a memory limit and a time limit, so that a
// regression (a hang, a runaway allocation) fails the test instead of taking the runner down.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace kestrane::test {

struct ChildEnd {
    bool exited = false;  // ended by itself (not killed by the time limit or a signal)
    int status = -1;      // its exit status when it exited
    int signal = 0;       // the signal that ended it otherwise (SIGALRM: out of time)
};

// Limits this process's address space to what it has now plus extraMegabytes. Not under the
// address sanitizer, whose shadow memory reserves terabytes.
inline void limitAddressSpaceAbove(long extraMegabytes) {
#if !defined(__SANITIZE_ADDRESS__)
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (static_cast<rlim_t>(extraMegabytes) << 20);
    setrlimit(RLIMIT_AS, &limit);
#else
    (void)extraMegabytes;
#endif
}

// body's return value becomes the child's exit status. The memory limit is on the address
// space above what the child already has; under the address sanitizer only the time limit
// holds.
inline ChildEnd runLimited(const std::function<int()>& body, long extraMegabytes, unsigned seconds) {
    const pid_t child = fork();
    if (child == 0) {
        limitAddressSpaceAbove(extraMegabytes);
        signal(SIGALRM, SIG_DFL);
        alarm(seconds);
        _exit(body());
    }
    ChildEnd end;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return end;
    end.exited = WIFEXITED(status);
    end.status = end.exited ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return end;
}

}  // namespace kestrane::test
