// The libraries' diagnostic log: one line per message on standard error, in the form
//   <date> <process>[<pid>:<tid>] <message>
// Each line is written with a single write(2), so lines from several threads never interleave.
#pragma once

#include <string_view>

namespace kestrane {

// Writes message as one log line (a trailing newline is added; newlines inside stay).
void logLine(std::string_view message);

// printf-style formatting into one log line.
[[gnu::format(printf, 1, 2)]] void logFormat(const char* format, ...);

}  // namespace kestrane
