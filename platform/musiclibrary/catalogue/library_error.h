// How the catalogue fails: opening, loading and reading a library.
#pragma once

namespace kestrane::musiclibrary {

// Why opening, loading or reading the library failed. The numbers appear in log lines.
enum class LibraryError {
    unsupportedVersion = 1,  // an API version the catalogue does not offer
    unreadable = 2,          // the file cannot be opened or read, or is a folder
    notALibrary = 3,         // not a property list of a library (message with line and column)
    listUnreadable = 4,      // not enough memory to walk or copy a list
};

}  // namespace kestrane::musiclibrary
