#include "session_bus.h"

#include <cstdlib>
#include <stdexcept>

#include "child_program.h"

namespace kestrane::test {

PrivateSessionBus::PrivateSessionBus(const char* variable) {
    const StartedProgram daemon =
        startReadingFirstLine({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, false);
    pid_ = daemon.pid;
    address_ = daemon.firstLine;
    if (address_.empty()) {
        stopProgram(pid_);
        throw std::runtime_error("dbus-daemon did not start");
    }
    setenv(variable, address_.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus() {
    stopProgram(pid_);
}

}  // namespace kestrane::test
