// Programs that tests start and stop: a daemon that names where it can be reached on its
// first line of output (dbus-daemon's address, Xvfb's display number).
#pragma once

#include <sys/types.h>

#include <cstddef>
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

// Xvfb on a display number of its own choosing (it writes the number to its output), with
// screen ("1280x800x24"; empty: Xvfb's default). display() is empty when it did not start.
class XServer {
public:
    explicit XServer(const std::string& screen = "");
    ~XServer() { stopProgram(pid_); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace kestrane::test

namespace kestrane::test {

// What a child run of this test program left behind.
struct ChildRun {
    bool timedOut = false;
    int exitCode = -1;  // the child's exit status; -1 when it was killed by a signal
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string output; // standard output and error together
};

// Whether this program runs under AddressSanitizer (the sanitizer build turns on both
// AddressSanitizer and UndefinedBehaviorSanitizer).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Limits for a hostile case, so that a regression fails its test instead of taking the
// runner down with it. Zero means no limit.
struct ChildLimits {
    std::size_t addressSpaceMiB = 0;  // RLIMIT_AS; ignored under AddressSanitizer, whose shadow needs far more
    unsigned descriptors = 0;         // RLIMIT_NOFILE
    int timeoutSeconds = 60;
};

// Runs this test program again (/proc/self/exe) with only the test named by filter, and
// variable=value set in its environment so that the test knows it is the child; waits for
// it within the limits' timeout (then kills it).
ChildRun runTestInChild(const std::string& filter, const std::string& variable, const std::string& value, const ChildLimits& limits);

}  // namespace kestrane::test
