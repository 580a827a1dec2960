// Loading the library file into a snapshot: one streaming pass of the property-list reader,
// then the steps that tie the tracks together (artists, albums, the persistent-ID index,
// playlists).
#pragma once

#include <string>
#include <string_view>

#include "expected.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// Why a load failed.
constexpr int kUnreadable = 2;   // the file cannot be opened or read, or is a folder
constexpr int kNotALibrary = 3;  // not a property list of a library (message with line and column)

// Loads the library file at path.
Expected<SnapshotRef> loadSnapshot(const std::string& path);

// Parses library-file bytes (for tests and fuzzing); errors as for loadSnapshot, without the
// file's name.
Expected<SnapshotRef> parseSnapshot(std::string_view bytes);

}  // namespace kestrane::musiclibrary
