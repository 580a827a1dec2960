// The libraries' diagnostic log: one line per message on standard error, in the form
//   <date> <process>[<pid>:<tid>] <message>
// Each line is written with a single write(2), so lines from several threads never interleave,
// and control characters in a message are written escaped (a newline as \n, ESC as \x1b), so
// no message can make a line of its own or drive the terminal.
#pragma once

#include <string_view>

namespace kestrane {

// Writes message as one log line (a trailing newline is added; control characters inside are escaped).
void logLine(std::string_view message);

// printf-style formatting into one log line.
[[gnu::format(printf, 1, 2)]] void logFormat(const char* format, ...);

}  // namespace kestrane
