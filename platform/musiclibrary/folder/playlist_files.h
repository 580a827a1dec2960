// Playlist files found in a music folder: M3U/M3U8, PLS and XSPF.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "expected.h"

namespace kestrane::musiclibrary {

enum class PlaylistFileError {
    unreadable = 1,  // the file cannot be read
    malformed = 2,   // an XSPF file that is not well-formed XML (message with line and column)
    outOfMemory = 3,
};

bool isPlaylistFileName(const std::string& name);

// The entries of the playlist file at path, in order, as written (paths or URLs).
Expected<std::vector<std::string>> readPlaylistFile(const std::string& path);

// An entry as an absolute path in normal form: a relative path against the playlist's folder,
// an absolute path, or a file URL of this machine (url.h); none for other URLs.
std::optional<std::string> entryPath(const std::string& entry, const std::string& playlistFolder);

}  // namespace kestrane::musiclibrary
