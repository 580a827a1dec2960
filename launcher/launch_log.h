// The launcher's log: standard output, one line per message, no prefix, and only when the
// program was started with "--verbose". Messages use the launcher's own small format
// language: "%@" prints a value's text ("(null)" for none), "%d" and "%i" an integer, "%s" a
// C string, "%%" a percent sign.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher_state.h"
#include "paths.h"

namespace kestrane::launcher {

// One argument of a log format.
class LogArg {
public:
    LogArg(const std::string& s) : text_(s) {}
    LogArg(const char* s) : text_(s != nullptr ? std::optional<std::string>(s) : std::nullopt) {}
    LogArg(std::string_view s) : text_(std::string(s)) {}
    LogArg(const std::optional<std::string>& s) : text_(s) {}
    LogArg(int n) : text_(std::to_string(n)) {}
    LogArg(long n) : text_(std::to_string(n)) {}
    LogArg(long long n) : text_(std::to_string(n)) {}
    LogArg(unsigned long n) : text_(std::to_string(n)) {}

    std::string text() const { return text_.value_or("(null)"); }

private:
    std::optional<std::string> text_;
};

// Renders format with args in order.
std::string formatMessage(std::string_view format, const std::vector<LogArg>& args);

// Writes text and a newline to standard output (buffered stdio, as "%s\n").
void NSPrint(const std::string& text);

// Formats and prints when isVerbose is set; otherwise does nothing.
template <class... Args>
void Log(std::string_view format, const Args&... args) {
    if (!isVerbose) return;
    NSPrint(formatMessage(format, std::vector<LogArg>{LogArg(args)...}));
}

// The path in standard form for log lines (normalizePath).
inline std::string convertRelativeFilePath(const std::string& path) { return normalizePath(path); }

}  // namespace kestrane::launcher
