// Thread priority as nice values: the scale, the effect on the calling thread alone, and the
// refusal to raise without privilege.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "priority.h"

using kestrane::threads::niceForPriority;
using kestrane::threads::setCurrentThreadPriority;

namespace {

// The nice value of a thread of this process, from /proc.
int niceOf(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string f;
    for (int i = 3; i <= 19; ++i) fields >> f;  // field 19 is nice
    return std::stoi(f);
}

pid_t gettidNow() { return static_cast<pid_t>(syscall(SYS_gettid)); }

}  // namespace

TEST(Priority, Scale) {
    EXPECT_EQ(niceForPriority(0.5), 0);
    EXPECT_EQ(niceForPriority(0.0), 19);
    EXPECT_EQ(niceForPriority(1.0), -20);
    EXPECT_EQ(niceForPriority(0.25), 10);
    EXPECT_EQ(niceForPriority(-3.0), 19);
    EXPECT_EQ(niceForPriority(7.0), -20);
}

TEST(Priority, OnlyTheCallingThreadChanges) {
    const pid_t mainTid = gettidNow();
    const int before = niceOf(mainTid);
    pid_t workerTid = 0;
    int workerNice = 0;
    std::thread worker([&] {
        workerTid = gettidNow();
        EXPECT_TRUE(setCurrentThreadPriority(0.25));
        workerNice = niceOf(workerTid);
    });
    worker.join();
    EXPECT_EQ(workerNice, 10);
    EXPECT_EQ(niceOf(mainTid), before);
}

TEST(Priority, RaisingWithoutPrivilegeFails) {
    if (getuid() == 0) {
        // Drop to an ordinary user in a child, which cannot raise its priority.
        const pid_t child = fork();
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            _exit(setCurrentThreadPriority(1.0) ? 1 : 0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << "raising as an ordinary user did not fail";
    } else {
        EXPECT_FALSE(setCurrentThreadPriority(1.0));
    }
}
