// Running a program and reading what it prints.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrane::launcher {

struct ProgramOutput {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when it did not exit normally
};

// Runs path with args (argv[0] is path) and an empty standard input, waits for it to end and
// returns both outputs. Throws std::runtime_error when the program cannot be started.
ProgramOutput runProgram(const std::string& path, const std::vector<std::string>& args);

// The first executable regular file called name in the folders of PATH, or none.
std::optional<std::string> findOnPath(const std::string& name);

}  // namespace kestrane::launcher
