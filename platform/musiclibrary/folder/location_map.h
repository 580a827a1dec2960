// Libraries moved from another machine. An exported library names its files by where they
// were (file://localhost/C:/Users/.../Music/..., file:///Users/.../Music/...). When the
// library's music folder does not exist here but a folder of the same name lies beside the
// library file, locations under the old music folder are rewritten to the local one.
// KESTRANE_LIBRARY_PATH_MAP ("old-prefix=new-prefix" lines) overrides the guess.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "snapshot.h"

namespace kestrane::musiclibrary {

// The prefix pairs of a KESTRANE_LIBRARY_PATH_MAP text, in order: each side trimmed, a path
// ("/home/...") made its file:// URL, and each ending in one "/". A line whose sides are not
// both absolute paths or file URLs is left out with a log line; blank lines and "#" comments
// are passed over.
std::vector<std::pair<std::string, std::string>> parsePathMap(const std::string& text);

// Rewrites the locations of the snapshot of libraryFile (into localLocations and
// localMusicFolder) and logs once how many were rewritten and how many of them exist.
void remapLocations(Snapshot& snapshot, const std::string& libraryFile);

}  // namespace kestrane::musiclibrary
