// One line per bar for scripts/bench, which gathers them from every benchmark into one table:
// BENCH|figure|our value|reference|ratio|bar|holds, SHORT, or "-" for a figure without a bar.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace kestrane::bench {

inline void row(const std::string& figure, const std::string& value, const std::string& reference, const std::string& ratio,
                const std::string& bar, std::optional<bool> holds) {
    const char* status = !holds ? "-" : (*holds ? "holds" : "SHORT");
    std::printf("BENCH|%s|%s|%s|%s|%s|%s\n", figure.c_str(), value.c_str(), reference.c_str(), ratio.c_str(), bar.c_str(), status);
    std::fflush(stdout);
}

// printf into a string, for the row's fields.
template <class... Args>
std::string format(const char* pattern, Args... args) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

}  // namespace kestrane::bench
