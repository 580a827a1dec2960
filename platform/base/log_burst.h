// Failures that come in bursts (a server that quits while a thousand calls wait for it, a bus
// that dies during a flood of messages) are logged once per cause when they first happen and
// once more, with how often they repeated, when the burst ends: a log that a user can read,
// not a line per lost message.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace kestrane {

class LogBurst {
public:
    LogBurst() = default;
    // Ends a burst still open.
    ~LogBurst();
    LogBurst(const LogBurst&) = delete;
    LogBurst& operator=(const LogBurst&) = delete;

    // Logs message at once when cause has not been reported since the burst began; otherwise
    // only counts it. cause names the kind of failure (an error domain and code, say), so
    // that equal failures with different texts still count as one.
    void report(std::string_view cause, std::string_view message);

    // Ends the burst: one line per cause that repeated, with the number of repeats; the next
    // report of any cause is logged again.
    void end();

private:
    struct Seen {
        std::string message;
        std::size_t repeats = 0;
    };
    std::mutex mutex_;
    std::map<std::string, Seen, std::less<>> seen_;
};

}  // namespace kestrane
