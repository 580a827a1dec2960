#include "log_burst.h"

#include <vector>

#include "log.h"

namespace kestrane {

namespace {

// Causes are meant to come from a small set; a caller that made them from free text must not
// grow the table without bound, so beyond this many the rest share one entry.
constexpr std::size_t kMaxCauses = 64;
constexpr std::string_view kOtherCauses = "\x01other";

}  // namespace

LogBurst::~LogBurst() {
    end();
}

void LogBurst::report(std::string_view cause, std::string_view message) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (seen_.size() >= kMaxCauses && seen_.find(cause) == seen_.end()) cause = kOtherCauses;
        const auto found = seen_.find(cause);
        if (found != seen_.end()) {
            ++found->second.repeats;
            return;
        }
        seen_.emplace(std::string(cause), Seen{std::string(message), 0});
    }
    logLine(message);
}

void LogBurst::end() {
    std::vector<std::string> lines;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [cause, seen] : seen_) {
            if (seen.repeats == 0) continue;
            lines.push_back(seen.message + " (and " + std::to_string(seen.repeats) + " more time" +
                            (seen.repeats == 1 ? "" : "s") + ")");
        }
        seen_.clear();
    }
    for (const std::string& line : lines) logLine(line);
}

}  // namespace kestrane
