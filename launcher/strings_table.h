// The classic ".strings" format of localized texts:  "key" = "value";  with /* */ and //
// comments, escapes (\" \\ \n \t \r \Uxxxx), unquoted keys and values of plain characters,
// and "key"; alone meaning the key maps to itself. The bytes are UTF-16 with a byte-order
// mark, or UTF-8 (with or without one).
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kestrane::launcher {

struct StringsTable {
    std::map<std::string, std::string> entries;  // UTF-8
    // Empty when the whole file parsed; otherwise "line L, column C: reason". The entries
    // before the error are kept.
    std::string error;
};

StringsTable parseStringsTable(std::string_view bytes);

}  // namespace kestrane::launcher
