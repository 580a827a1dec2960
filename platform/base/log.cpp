#include "log.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

extern "C" char* program_invocation_short_name;  // glibc: the process's name

namespace kestrane {

namespace {

std::string linePrefix() {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char date[32];
    const std::size_t n = std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[160];
    std::snprintf(prefix, sizeof prefix, "%.*s.%03ld %s[%ld:%ld] ", static_cast<int>(n), date,
                  static_cast<long>(now.tv_usec / 1000), program_invocation_short_name,
                  static_cast<long>(getpid()), static_cast<long>(syscall(SYS_gettid)));
    return prefix;
}

void writeAll(const std::string& line) {
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, p, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // nowhere to report a failing log
        p += written;
        left -= static_cast<std::size_t>(written);
    }
}

// Appends message with its control characters escaped (\n, \r, \t, \xHH, and \u0080 to
// \u009f for the C1 controls in UTF-8): messages carry text from outside (names, paths,
// languages), and such text must neither start a line of its own nor reach a terminal as one
// of its control sequences.
void appendEscaped(std::string& line, std::string_view message) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto c = static_cast<unsigned char>(message[i]);
        const bool c1 = c == 0xC2 && i + 1 < message.size() && (static_cast<unsigned char>(message[i + 1]) & 0xE0) == 0x80;
        if (c >= 0x20 && c != 0x7F && !c1) {
            line.push_back(static_cast<char>(c));
        } else if (c == '\n') {
            line.append("\\n");
        } else if (c == '\r') {
            line.append("\\r");
        } else if (c == '\t') {
            line.append("\\t");
        } else {
            const auto code = c1 ? static_cast<unsigned char>(message[++i]) : c;
            line.append(c1 ? "\\u00" : "\\x");
            line.push_back(kHex[code >> 4]);
            line.push_back(kHex[code & 0xF]);
        }
    }
}

}  // namespace

void logLine(std::string_view message) {
    std::string line = linePrefix();
    line.reserve(line.size() + message.size() + 1);
    appendEscaped(line, message);
    line.push_back('\n');
    writeAll(line);
}

void logFormat(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        va_end(copy);
        logLine(std::string_view(small, static_cast<std::size_t>(needed)));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, copy);
    va_end(copy);
    logLine(std::string_view(large.data(), static_cast<std::size_t>(needed)));
}

}  // namespace kestrane
