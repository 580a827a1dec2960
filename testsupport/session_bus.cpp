#include "session_bus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace kestrane::test {

PrivateSessionBus::PrivateSessionBus(const char* variable) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') address_.push_back(c);
    close(fds[0]);
    if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
    setenv(variable, address_.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace kestrane::test
