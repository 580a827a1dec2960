// Programs that tests start and stop: a daemon that names where it can be reached on its
// first line of output (dbus-daemon's address, Xvfb's display number).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrane::test {

struct StartedProgram {
    pid_t pid = -1;         // -1 when it could not be started
    std::string firstLine;  // without the line feed; empty when it ended its output without one
};

// Starts argv[0] (searched on PATH) with argv, its standard output into a pipe, its standard
// error to /dev/null when quiet, and reads the first line of its output. The program keeps
// running; stop it with stopProgram.
StartedProgram startReadingFirstLine(const std::vector<std::string>& argv, bool quiet);

// Ends a program started above (SIGTERM) and waits for it; nothing for pid -1.
void stopProgram(pid_t pid);

}  // namespace kestrane::test
